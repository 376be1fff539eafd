// Typed access to the object dictionary of each CAN node: one operation per
// entry, all going through the two SDO wrappers, which also serve the ramp,
// PZT, motion and position code.
//
// Every operation takes the system information record and returns an error
// code. It refuses without a transfer: a null record (ERR_SYS_INFO_NOT_AVAIL),
// a board other than the CAN board (ERR_WRONG_INSTR_BOARD; the generic
// dual-motor-drive operations ERR_INVALID_PARAM), an absent diffuser-disk or
// ND-wheel node (ERR_CAN_NODE_NOT_AVAIL, logged), a value outside its range
// (ERR_PARAM_OUT_OF_RANGE), and an operation that needs the bridge record
// when there is none (ERR_SYS_INFO_NOT_AVAIL). A transfer the node refuses
// gives the operation's SDO error; a library failure its mapped status.
//
// Callable from any thread, one operation per node at a time.
#pragma once

#include <cstdint>

#include "instrument/calibration/sys_info.h"

struct rr_ramp_hdr_t;

// Node IDs.
inline constexpr uint8_t CAN_NODE_ID_LARGEAP = 52;
inline constexpr uint8_t CAN_NODE_ID_LED = 61;
inline constexpr uint8_t CAN_NODE_ID_TRIPLEPZT = 62;
inline constexpr uint8_t CAN_NODE_ID_BRUSHMOTOR = 63;
inline constexpr uint8_t CAN_NODE_ID_FOCUS_NDW = 64;
inline constexpr uint8_t CAN_NODE_ID_AUX_MOTOR = 66;
inline constexpr uint8_t CAN_NODE_ID_DD_RS = 68;
inline constexpr uint8_t CAN_NODE_ID_DD_ZOOM = 70;
inline constexpr uint8_t CAN_NODE_ID_WAND = 72;
inline constexpr uint8_t CAN_NODE_ID_WAND2 = 73;
inline constexpr uint8_t CAN_NODE_ID_RAMP = 127;

// The brush-motor products whose zoom values differ.
inline constexpr uint32_t CAN_BRUSH_PRODUCT_ENCODED_ZOOM = 0x267215D7;
inline constexpr uint32_t CAN_BRUSH_PRODUCT_MOTOR_ZOOM = 0x267215D5;

// Library status to error code: 1 gives 0.
int can_status_to_error(int32_t status);

// ---- SDO wrappers. `activity` restarts the sleep-mode countdown; `sdo_error`
// is returned when the node refuses the transfer; `caller` names the
// operation in the log.
int can_sdo_read2(uint8_t node, uint16_t index, uint8_t sub, void* data, uint32_t count,
                  int activity, int sdo_error, const char* caller);
int can_sdo_write2(uint8_t node, uint16_t index, uint8_t sub, const void* data, uint32_t count,
                   int activity, int sdo_error, const char* caller);

// ---- firmware gates, on each version byte separately; false without a
// bridge record.
bool can_bridge_has_config_word(const sysInfo_t* s);
bool can_bridge_has_pi_status(const sysInfo_t* s);
bool can_bridge_has_ramp_table(const sysInfo_t* s);

// ---- node 127: bridge and ramp generator
int can_ramp_start(sysInfo_t* s);
int can_read_ramp_status(sysInfo_t* s, uint8_t* status);
int can_write_ramp_select(sysInfo_t* s, int32_t ramp);
int can_read_ramp_valid(sysInfo_t* s, int32_t ramp, uint8_t* valid);
// Sends the frame number of the ramp's trigger, computed from its header.
int can_write_ramp_trigger(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr);
int can_write_ramp_rate(sysInfo_t* s, int32_t ramp, double rate);
// Sends the ramp's points as the node's 32768-byte block: the first 16384
// points (a longer ramp is logged), padded with zeros.
int can_write_ramp_data(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr,
                        const uint16_t* points);
// Writes the PIFOC offset, then with `wait` waits for the ramp to be idle.
int can_write_pifoc_offset(sysInfo_t* s, uint32_t offset, int wait);
int can_read_bridge_status(sysInfo_t* s, uint8_t* status);
int can_bridge_read_config(sysInfo_t* s, uint16_t* word);
int can_bridge_write_config(sysInfo_t* s, uint16_t word);
int can_write_fg_trigger(sysInfo_t* s, uint16_t value);
int can_write_syncgen(sysInfo_t* s, double value);
int can_read_pi_ramp_status(sysInfo_t* s, uint8_t* status);
int can_write_pi_ramp_select(sysInfo_t* s, int32_t ramp);
int can_read_pi_ramp_amplitude(sysInfo_t* s, float* value);
int can_read_pi_ramp_velocity(sysInfo_t* s, float* value);
int can_pi_ramp_start(sysInfo_t* s);
// Has a PI 751 scanner load its tables, then hands back how many it holds.
int can_pi_load_ddl_tables(sysInfo_t* s, uint16_t* tables);
int can_read_pi_serial_integer(sysInfo_t* s, uint16_t* tables);
int can_bridge_write_digitalout(sysInfo_t* s, uint8_t value);
int can_bridge_read_digitalout(sysInfo_t* s, uint8_t* value);
int can_set_align_illumination_diode(sysInfo_t* s, int on);

// ---- node 61: LED
int can_write_led_setup(sysInfo_t* s, uint8_t value);
int can_write_llc(sysInfo_t* s, uint16_t level, int invert);
int can_read_llc(sysInfo_t* s, uint16_t* level, int invert);
int can_write_llc_avgcurlmt(sysInfo_t* s, uint32_t limit);
int can_write_llc_fwdvlt(sysInfo_t* s, uint32_t millivolts);
int can_write_llc_pwmfreq(sysInfo_t* s, uint32_t hertz);
// Range 0 or 1: the current light source's pair; any other: the defaults.
int can_set_llc_range(sysInfo_t* s, int32_t range);

// ---- node 63: brush motor, turret and zoom changer
int can_read_turret_status(sysInfo_t* s, uint8_t* status);
int can_read_turret(sysInfo_t* s, uint8_t* position);
int can_read_zoom(sysInfo_t* s, int32_t* position);
int can_read_all_zoom(sysInfo_t* s);
int can_get_brmtr_config(sysInfo_t* s);

// ---- any node: identity
int can_read_productID(sysInfo_t* s, uint8_t node, uint32_t* product);
int can_read_version(sysInfo_t* s, uint8_t node, uint16_t* major, uint16_t* minor);

// ---- nodes 62 and 52: the triple PZT's and the large aperture's status byte
int can_read_pzt_status(sysInfo_t* s, uint8_t node, uint8_t* status);

// ---- generic dual motor drive (nodes 64, 66, 68, 70)
int can_read_dmd_motor1_control(sysInfo_t* s, uint8_t node, uint8_t* value);
int can_write_dmd_motor1_control(sysInfo_t* s, uint8_t node, uint8_t value);
int can_write_dmd_motor1_mode(sysInfo_t* s, uint8_t node, int32_t mode);
int can_write_dmd_motor1_targetVel(sysInfo_t* s, uint8_t node, double velocity);
int can_write_dmd_motor2_control(sysInfo_t* s, uint8_t node, uint8_t value);
int can_read_dmd_motor2_status(sysInfo_t* s, uint8_t node, uint8_t* value);
int can_read_dmd_motor2_llcLevel(sysInfo_t* s, uint8_t node, uint16_t* level, int invert);
int can_write_dmd_motor2_llcLevel(sysInfo_t* s, uint8_t node, uint16_t level, int invert);
int can_write_dmd_motor2_current(sysInfo_t* s, uint8_t node, int16_t current);
int can_read_dmd_motor2_maxCurrent(sysInfo_t* s, uint8_t node, int16_t* current);
int can_read_dmd_keypress_mode(sysInfo_t* s, uint8_t node, uint8_t* mode);
int can_write_dmd_keypress_mode(sysInfo_t* s, uint8_t node, uint8_t mode);
int can_read_dmd_motor2_position(sysInfo_t* s, uint8_t node, uint8_t* position);

// ---- node 68: ring/spot light and diffuser disk
int can_read_rs_dd_control(sysInfo_t* s, uint8_t* value);
int can_write_rs_dd_control(sysInfo_t* s, uint8_t value);
int can_write_rs_dd_mode(sysInfo_t* s, int32_t mode);
int can_read_rs_status(sysInfo_t* s, uint8_t* value);
int can_write_rs_current(sysInfo_t* s, int16_t current);
int can_read_rs_maxCurrent(sysInfo_t* s, int16_t* current);
int can_read_rs_position(sysInfo_t* s, uint8_t* position);
int can_read_rs_keypress_mode(sysInfo_t* s, uint8_t* mode);
int can_write_rs_keypress_mode(sysInfo_t* s, uint8_t mode);

// ---- node 70: zoom and diffuser disk
int can_read_zoom_dd_control(sysInfo_t* s, uint8_t* value);
int can_write_zoom_dd_control(sysInfo_t* s, uint8_t value);
int can_write_zoom_dd_mode(sysInfo_t* s, int32_t mode);
int can_write_zoom_dd_targetVel(sysInfo_t* s, double velocity);
int can_read_zoom_keypress_mode(sysInfo_t* s, uint8_t* mode);
int can_write_zoom_keypress_mode(sysInfo_t* s, uint8_t mode);

// ---- node 64: focus and ND wheel
int can_read_ndw_llcLevel(sysInfo_t* s, uint16_t* level, int invert);
int can_write_ndw_llcLevel(sysInfo_t* s, uint16_t level, int invert);
int can_write_ndw_control(sysInfo_t* s, uint8_t value);
int can_read_ndw_status(sysInfo_t* s, uint8_t* value);
// Starts the home search and waits for it and the move after it, within
// `limit_ms`; `poll` reads the status instead of draining events.
int can_home_ndw(sysInfo_t* s, int poll, int32_t limit_ms);
int can_read_focus_keypress_mode(sysInfo_t* s, uint8_t* mode);
int can_write_focus_keypress_mode(sysInfo_t* s, uint8_t mode);

// ---- node 64: the encoded zoom's motion entries (soft limits and backlash
// in encoder counts)
int can_write_enc_zoom_motion_mode(sysInfo_t* s, uint8_t mode);
// Low limit first; a refused low limit leaves the high one unsent.
int can_write_enc_zoom_soft_limits(sysInfo_t* s, int32_t low, int32_t high);
int can_write_enc_zoom_backlash(sysInfo_t* s, int32_t backlash);
