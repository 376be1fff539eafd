/// @file
/// Typed access to the object dictionary of each CAN node: one operation per
/// entry, all going through the two SDO wrappers, which also serve the ramp,
/// PZT, motion and position code.
///
/// Every operation takes the system information record and returns an error
/// code. It refuses without a transfer: a null record (ERR_SYS_INFO_NOT_AVAIL),
/// a board other than the CAN board (ERR_WRONG_INSTR_BOARD; the generic
/// dual-motor-drive operations ERR_INVALID_PARAM), an absent diffuser-disk or
/// ND-wheel node (ERR_CAN_NODE_NOT_AVAIL, logged), a value outside its range
/// (ERR_PARAM_OUT_OF_RANGE), and an operation that needs the bridge record
/// when there is none (ERR_SYS_INFO_NOT_AVAIL). A transfer the node refuses
/// gives the operation's SDO error; a library failure its mapped status.
///
/// Callable from any thread, one operation per node at a time.
#pragma once

#include <cstdint>

#include "instrument/record/sys_info.h"

struct rr_ramp_hdr_t;

/// @name Node IDs
///@{
inline constexpr uint8_t CAN_NODE_ID_LARGEAP = 52;     ///< large aperture
inline constexpr uint8_t CAN_NODE_ID_LED = 61;         ///< LED light control
inline constexpr uint8_t CAN_NODE_ID_TRIPLEPZT = 62;   ///< triple PZT
inline constexpr uint8_t CAN_NODE_ID_BRUSHMOTOR = 63;  ///< brush motor: turret and zoom changer
inline constexpr uint8_t CAN_NODE_ID_FOCUS_NDW = 64;   ///< focus and ND wheel
inline constexpr uint8_t CAN_NODE_ID_AUX_MOTOR = 66;   ///< auxiliary motor
inline constexpr uint8_t CAN_NODE_ID_DD_RS = 68;       ///< ring/spot light and diffuser disk
inline constexpr uint8_t CAN_NODE_ID_DD_ZOOM = 70;     ///< zoom and diffuser disk
inline constexpr uint8_t CAN_NODE_ID_WAND = 72;        ///< wand
inline constexpr uint8_t CAN_NODE_ID_WAND2 = 73;       ///< second wand
inline constexpr uint8_t CAN_NODE_ID_RAMP = 127;       ///< bridge and ramp generator
///@}

/// @name The brush-motor products whose zoom values differ
///@{
inline constexpr uint32_t CAN_BRUSH_PRODUCT_ENCODED_ZOOM = 0x267215D7;  ///< encoded zoom changer
inline constexpr uint32_t CAN_BRUSH_PRODUCT_MOTOR_ZOOM = 0x267215D5;    ///< motorized zoom changer
///@}

/// Library status to error code: 1 gives 0.
int can_status_to_error(int32_t status);

// ---- SDO wrappers. `activity` restarts the sleep-mode countdown; `sdo_error`
// is returned when the node refuses the transfer; `caller` names the
// operation in the log.
/// Reads `count` bytes of object `index`.`sub` of a node into `data`: 0, the library's mapped
/// status, `sdo_error` when the node refuses (logged with its abort code), ERR_INVALID_PARAM for
/// null data.
int can_sdo_read2(uint8_t node, uint16_t index, uint8_t sub, void* data, uint32_t count,
                  int activity, int sdo_error, const char* caller);
/// Writes `count` bytes from `data` to object `index`.`sub` of a node: 0, the library's mapped
/// status, `sdo_error` when the node refuses (logged with its abort code), ERR_INVALID_PARAM for
/// null data.
int can_sdo_write2(uint8_t node, uint16_t index, uint8_t sub, const void* data, uint32_t count,
                   int activity, int sdo_error, const char* caller);

// ---- firmware gates, on each version byte separately; false without a
// bridge record.
/// True when the bridge firmware has the configuration word (major above 1 or minor above 11).
bool can_bridge_has_config_word(const sysInfo_t* s);
/// True when the bridge firmware has the PI scanner status entry (major and minor at least 6).
bool can_bridge_has_pi_status(const sysInfo_t* s);
/// True when the bridge firmware has the ramp table (major at least 7, minor at least 3).
bool can_bridge_has_ramp_table(const sysInfo_t* s);

// ---- node 127: bridge and ramp generator
/// Starts the selected ramp (on a PI digital scanner: can_pi_ramp_start).
int can_ramp_start(sysInfo_t* s);
/// The ramp generator's status, 0 when idle (on a PI digital scanner: can_read_pi_ramp_status).
int can_read_ramp_status(sysInfo_t* s, uint8_t* status);
/// Selects ramp 0..3 (on a PI digital scanner: can_write_pi_ramp_select).
int can_write_ramp_select(sysInfo_t* s, int32_t ramp);
/// Whether ramp 0..3 holds a valid ramp; always 1 on a PI digital scanner.
int can_read_ramp_valid(sysInfo_t* s, int32_t ramp, uint8_t* valid);
/// Sends the frame number of the ramp's trigger, computed from its header: ERR_PARAM_OUT_OF_RANGE
/// for a ramp outside 0..3 or a frame outside 0..255, ERR_INVALID_PARAM for a null header.
int can_write_ramp_trigger(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr);
/// Sends ramp 0..3's rate, 0..200 (ERR_PARAM_OUT_OF_RANGE outside).
int can_write_ramp_rate(sysInfo_t* s, int32_t ramp, double rate);
/// Sends the ramp's points as the node's 32768-byte block: the first 16384 points (a longer ramp
/// is logged), padded with zeros. ERR_INVALID_PARAM for a null header or missing points.
int can_write_ramp_data(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr,
                        const uint16_t* points);
/// Writes the PIFOC offset (at most 0xFFFF), then with `wait` waits for the ramp to be idle
/// (ERR_RAMP_WAIT_TIMEOUT after 2 s). Nothing to do on a PI digital scanner.
int can_write_pifoc_offset(sysInfo_t* s, uint32_t offset, int wait);
/// The bridge's status byte (power supply bits).
int can_read_bridge_status(sysInfo_t* s, uint8_t* status);
/// Reads the bridge's configuration word.
int can_bridge_read_config(sysInfo_t* s, uint16_t* word);
/// Writes the bridge's configuration word.
int can_bridge_write_config(sysInfo_t* s, uint16_t word);
/// Writes the frame grabber trigger; only its low byte without the configuration word.
int can_write_fg_trigger(sysInfo_t* s, uint16_t value);
/// Writes the sync generator's rate, 0..100000.
int can_write_syncgen(sysInfo_t* s, double value);
/// The PI digital scanner's ramp status: 3 running, 0 idle; ERR_INVALID_PARAM without that
/// scanner.
int can_read_pi_ramp_status(sysInfo_t* s, uint8_t* status);
/// Selects a PI digital scanner table, 1..15 or 1..100 by scanner type; ERR_INVALID_PARAM without
/// that scanner.
int can_write_pi_ramp_select(sysInfo_t* s, int32_t ramp);
/// The PI digital scanner's ramp amplitude; ERR_INVALID_PARAM without that scanner.
int can_read_pi_ramp_amplitude(sysInfo_t* s, float* value);
/// The PI digital scanner's ramp velocity; ERR_INVALID_PARAM without that scanner.
int can_read_pi_ramp_velocity(sysInfo_t* s, float* value);
/// Starts the PI digital scanner's ramp; ERR_INVALID_PARAM without that scanner.
int can_pi_ramp_start(sysInfo_t* s);
/// Has a PI 751 scanner load its tables, then hands back how many it holds.
int can_pi_load_ddl_tables(sysInfo_t* s, uint16_t* tables);
/// The number of tables the PI digital scanner holds; ERR_INVALID_PARAM without that scanner.
int can_read_pi_serial_integer(sysInfo_t* s, uint16_t* tables);
/// Writes the bridge's digital outputs.
int can_bridge_write_digitalout(sysInfo_t* s, uint8_t value);
/// Reads the bridge's digital outputs.
int can_bridge_read_digitalout(sysInfo_t* s, uint8_t* value);
/// Switches the align-view illumination diode on or off, as the bridge firmware does it; nothing
/// while the firmware is not known.
int can_set_align_illumination_diode(sysInfo_t* s, int on);

// ---- node 61: LED
/// Writes the LED node's set-up byte.
int can_write_led_setup(sysInfo_t* s, uint8_t value);
/// Writes the LED level, inverted (0xFFFF minus it) with `invert`.
int can_write_llc(sysInfo_t* s, uint16_t level, int invert);
/// Reads the LED level, inverted (0xFFFF minus it) with `invert`.
int can_read_llc(sysInfo_t* s, uint16_t* level, int invert);
/// Writes the LED's average current limit, at most 1000.
int can_write_llc_avgcurlmt(sysInfo_t* s, uint32_t limit);
/// Writes the LED's forward voltage, at most 10000 mV.
int can_write_llc_fwdvlt(sysInfo_t* s, uint32_t millivolts);
/// Writes the LED's PWM frequency, at most 1 MHz.
int can_write_llc_pwmfreq(sysInfo_t* s, uint32_t hertz);
/// Sets the LED's average current limit and forward voltage. Range 0 or 1: the current light
/// source's pair; any other: the defaults. A zero leaves the node's value.
int can_set_llc_range(sysInfo_t* s, int32_t range);

// ---- node 63: brush motor, turret and zoom changer
/// The turret's status; ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE without such a turret.
int can_read_turret_status(sysInfo_t* s, uint8_t* status);
/// The turret's position; ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE without such a turret.
int can_read_turret(sysInfo_t* s, uint8_t* position);
/// The zoom changer's position; ERR_ZOOM_NOT_AVAILABLE without a zoom changer.
int can_read_zoom(sysInfo_t* s, int32_t* position);
/// Reads the motorized zoom changer's positions into the bridge record; ERR_ZOOM_NOT_AVAILABLE
/// without a zoom changer, ERR_INVALID_PARAM for the encoded one.
int can_read_all_zoom(sysInfo_t* s);
/// Reads the numbers of zoom and turret positions into the record.
int can_get_brmtr_config(sysInfo_t* s);

// ---- any node: identity
/// A node's product ID.
int can_read_productID(sysInfo_t* s, uint8_t node, uint32_t* product);
/// A node's firmware version.
int can_read_version(sysInfo_t* s, uint8_t node, uint16_t* major, uint16_t* minor);

// ---- nodes 62 and 52: the triple PZT's and the large aperture's status byte
/// The status byte of node 62 or 52; ERR_INVALID_PARAM for another node.
int can_read_pzt_status(sysInfo_t* s, uint8_t node, uint8_t* status);

// ---- generic dual motor drive (nodes 64, 66, 68, 70)
/// Reads motor 1's control byte.
int can_read_dmd_motor1_control(sysInfo_t* s, uint8_t node, uint8_t* value);
/// Writes motor 1's control byte.
int can_write_dmd_motor1_control(sysInfo_t* s, uint8_t node, uint8_t value);
/// Writes motor 1's mode, 0..4 (ERR_INVALID_PARAM outside, logged).
int can_write_dmd_motor1_mode(sysInfo_t* s, uint8_t node, int32_t mode);
/// Writes motor 1's target velocity, 10..10000 (ERR_INVALID_PARAM outside).
int can_write_dmd_motor1_targetVel(sysInfo_t* s, uint8_t node, double velocity);
/// Writes motor 2's control byte.
int can_write_dmd_motor2_control(sysInfo_t* s, uint8_t node, uint8_t value);
/// Reads motor 2's status byte.
int can_read_dmd_motor2_status(sysInfo_t* s, uint8_t node, uint8_t* value);
/// Reads motor 2's light level, inverted (0xFFFF minus it) with `invert`.
int can_read_dmd_motor2_llcLevel(sysInfo_t* s, uint8_t node, uint16_t* level, int invert);
/// Writes motor 2's light level, inverted (0xFFFF minus it) with `invert`; not user activity while
/// the light-control thread runs.
int can_write_dmd_motor2_llcLevel(sysInfo_t* s, uint8_t node, uint16_t level, int invert);
/// Writes motor 2's current, once the node has answered its current limit.
int can_write_dmd_motor2_current(sysInfo_t* s, uint8_t node, int16_t current);
/// Reads motor 2's current limit.
int can_read_dmd_motor2_maxCurrent(sysInfo_t* s, uint8_t node, int16_t* current);
/// Reads the node's key-press mode.
int can_read_dmd_keypress_mode(sysInfo_t* s, uint8_t node, uint8_t* mode);
/// Writes the node's key-press mode.
int can_write_dmd_keypress_mode(sysInfo_t* s, uint8_t node, uint8_t mode);
/// Reads motor 2's position.
int can_read_dmd_motor2_position(sysInfo_t* s, uint8_t node, uint8_t* position);

// ---- node 68: ring/spot light and diffuser disk
/// Reads the diffuser disk's control byte (motor 1).
int can_read_rs_dd_control(sysInfo_t* s, uint8_t* value);
/// Writes the diffuser disk's control byte (motor 1).
int can_write_rs_dd_control(sysInfo_t* s, uint8_t value);
/// Writes the diffuser disk's mode (motor 1).
int can_write_rs_dd_mode(sysInfo_t* s, int32_t mode);
/// Reads the ring/spot selector's status (motor 2).
int can_read_rs_status(sysInfo_t* s, uint8_t* value);
/// Writes the ring/spot selector's current (motor 2).
int can_write_rs_current(sysInfo_t* s, int16_t current);
/// Reads the ring/spot selector's current limit (motor 2).
int can_read_rs_maxCurrent(sysInfo_t* s, int16_t* current);
/// Reads the ring/spot selector's position (motor 2).
int can_read_rs_position(sysInfo_t* s, uint8_t* position);
/// Reads the node's key-press mode.
int can_read_rs_keypress_mode(sysInfo_t* s, uint8_t* mode);
/// Writes the node's key-press mode.
int can_write_rs_keypress_mode(sysInfo_t* s, uint8_t mode);

// ---- node 70: zoom and diffuser disk
/// Reads the diffuser disk's control byte (motor 1).
int can_read_zoom_dd_control(sysInfo_t* s, uint8_t* value);
/// Writes the diffuser disk's control byte (motor 1).
int can_write_zoom_dd_control(sysInfo_t* s, uint8_t value);
/// Writes the diffuser disk's mode (motor 1).
int can_write_zoom_dd_mode(sysInfo_t* s, int32_t mode);
/// Writes the diffuser disk's target velocity (motor 1) and keeps it in the record.
int can_write_zoom_dd_targetVel(sysInfo_t* s, double velocity);
/// Reads the node's key-press mode.
int can_read_zoom_keypress_mode(sysInfo_t* s, uint8_t* mode);
/// Writes the node's key-press mode.
int can_write_zoom_keypress_mode(sysInfo_t* s, uint8_t mode);

// ---- node 64: focus and ND wheel
/// Reads the ND wheel's light level (motor 2), inverted with `invert`.
int can_read_ndw_llcLevel(sysInfo_t* s, uint16_t* level, int invert);
/// Writes the ND wheel's light level (motor 2), inverted with `invert`; resets the wheel's stopped
/// event first, and sets it again when the write fails.
int can_write_ndw_llcLevel(sysInfo_t* s, uint16_t level, int invert);
/// Writes the ND wheel's control byte (motor 2).
int can_write_ndw_control(sysInfo_t* s, uint8_t value);
/// Reads the ND wheel's status byte (motor 2).
int can_read_ndw_status(sysInfo_t* s, uint8_t* value);
/// Starts the home search and waits for it and the move after it, within
/// `limit_ms`; `poll` reads the status instead of draining events.
int can_home_ndw(sysInfo_t* s, int poll, int32_t limit_ms);
/// Reads the node's key-press mode.
int can_read_focus_keypress_mode(sysInfo_t* s, uint8_t* mode);
/// Writes the node's key-press mode.
int can_write_focus_keypress_mode(sysInfo_t* s, uint8_t mode);

// ---- node 64: the encoded zoom's motion entries (soft limits and backlash
// in encoder counts)
/// Writes the encoded zoom's motion mode.
int can_write_enc_zoom_motion_mode(sysInfo_t* s, uint8_t mode);
/// Writes the encoded zoom's soft limits, low limit first; a refused low limit leaves the high
/// one unsent.
int can_write_enc_zoom_soft_limits(sysInfo_t* s, int32_t low, int32_t high);
/// Writes the encoded zoom's backlash.
int can_write_enc_zoom_backlash(sysInfo_t* s, int32_t backlash);
