/// @file
/// The instrument board: the UZ1, UZ2, Iris and Lumen boards that drive the
/// scan ramps, the light level, motors, camera settings and their own EEPROM,
/// over one serial line with length-prefixed, checksummed packets.
///
/// The board of a system information record lives in its board link block
/// (`sysInfo_t::boardLink`), opened by ur_initUZ and closed by ur_closeUZ.
/// Commands are strictly sequential on one thread; the device table's worker
/// only asks whether the line has input.
///
/// Command operations are named uz_<command>: each looks its code and
/// lengths up in its board's table. Operations for a command the board lacks
/// return ERR_WRONG_INSTR_BOARD when the UZ1 board has the command, and do
/// nothing (0) when only the UZ2 or Iris boards have it.
///
/// Shapes: a set sends one value as wide as the board's table says (1, 2 or
/// 4 bytes; a value that does not fit gives ERR_PARAM_OUT_OF_RANGE); a read
/// returns the reply data as one big-endian value of that width. Commands
/// whose parameters only their callers know take the parameter bytes in wire
/// order (exactly as many as the table gives, else ERR_INVALID_PARAM) and
/// give the reply data into `data` (room for `capacity` bytes).
#pragma once

#include <cstdint>

#include "instrument/serial/serial_port.h"

struct sysInfo_t;
struct rr_ramp_hdr_t;

// ---- answers of ur_readUZ that ur_writeUZ retries (plain numbers, which
// the error table happens to name ERR_MC_AXIS_INACTIVE and
// ERR_MC_AXIS_NOT_HOMED)
inline constexpr int UR_CHECKSUM_RETRY = 254;  ///< the packet's checksum was wrong
inline constexpr int UR_NAK_RETRY = 255;       ///< the board answered NAK

// Response types of ur_readUZ.
inline constexpr int UR_RESP_ACK = 1;     ///< an ACK or NAK
inline constexpr int UR_RESP_DATA = 2;    ///< a data reply
inline constexpr int UR_RESP_REPORT = 3;  ///< an unsolicited report

/// Room a reply needs: LEN is a signed byte, so at most 127 bytes follow it.
inline constexpr int UR_MAX_REPLY = 127;
/// Points of one RAMP_DATA packet.
inline constexpr int UR_MAX_CHUNK_POINTS = 512;

/// True for the UZ1 (1), UZ2 (3), Iris (6) and Lumen (7) boards; false for a
/// null record.
bool ur_is_serial_board(const sysInfo_t* info);

/// Opens the record's board line (instrComm) at 38400 baud without XON/XOFF
/// and registers it in the device table as type 2. Every failure is logged
/// with its cause and returned as ERR_UZ_COMM.
int ur_initUZ(sysInfo_t* info);
/// Unregisters and closes the line; the port is closed even when the device
/// table no longer knew it. Returns the first failure.
int ur_closeUZ(sio_port_t* port);
/// Throws away pending input (ERR_UZ_COMM when that fails).
int ur_flushUZ(sio_port_t* port);

/// The 8-bit sum of `count` bytes.
uint8_t ur_checksum(const uint8_t* bytes, int count);

/// Sends the packet in `buffer` (LEN at 0, code at 1) and waits for its
/// answer, retrying up to three times on NAK or checksum errors. Unless
/// `checksum_present`, the checksum is added at buffer[len] and len + 1 bytes
/// go out; with it, `len` is the whole byte count. `buffer` must hold the
/// packet and, when `want_data`, a reply of up to UR_MAX_REPLY bytes, which
/// overwrites it from offset 0 (code, data, checksum).
int ur_writeUZ(sio_port_t* port, int len, uint8_t* buffer, int want_data, int checksum_present);
/// Reads one packet into `buffer` (UR_MAX_REPLY bytes of room): the bytes
/// after LEN. `length` gets LEN on success, else 0. Up to two unsolicited
/// reports ahead of the expected packet are dropped.
int ur_readUZ(sio_port_t* port, uint8_t* buffer, int resp_type, int* length);

/// The command's name for log lines: "INVALID_PARAM" for a port no record
/// holds; null (with a log line) for a board type that is not a serial
/// board; the name of code 0 for a code beyond the board's table.
const char* ur_cmd_str(sio_handle_t handle, int code);

/// The error code of a board status byte: 0 for 0, the fault table's code,
/// or ERR_UNKNOWN; when `verbose`, the fault's text goes to the log.
int ur_board_error(int status, int board_type, int verbose);

/// Loads a ramp into a slot of the board: RAMP_LOAD, the points in packets of
/// up to 512, RAMP_COMPLETE; a failed download deletes the slot again.
int ur_ramp_download(sysInfo_t* info, int slot, const rr_ramp_hdr_t* header,
                     const uint16_t* points);
/// Starts the ramp in `slot` when the ramp engine is idle (else ERR_RAMP_BUSY).
int ur_ramp_start(sysInfo_t* info, int slot);

// Kinds of ur_read_report.
inline constexpr int UR_REPORT_ZOOM = 0;         ///< UZ1: value = position
inline constexpr int UR_REPORT_TURRET = 1;       ///< UZ1: value = position
inline constexpr int UR_REPORT_FKEY = 0;         ///< UZ2: key 2, 8, 9 or 12
inline constexpr int UR_REPORT_ALIGN_VIEW = 1;   ///< UZ2: 0 or 1
inline constexpr int UR_REPORT_RING_SPOT = 2;    ///< UZ2: 0 or 1
inline constexpr int UR_REPORT_IRIS_FKEY = 10;   ///< Iris: key 102, 108, 109 or 112
inline constexpr int UR_REPORT_IRIS_ALIGN = 11;  ///< Iris: 0 or 1
/// Reads one unsolicited report. With `raw`, `value` is the data byte and
/// `kind` is left alone; otherwise both are decoded, and a data byte the
/// report cannot carry gives ERR_UZ_RECV_FAILED.
int ur_read_report(sysInfo_t* info, int raw, int* kind, int* value);

// ---- command operations (their shapes are in the file comment)

// no parameter
/// Sends RESET_UART.
int uz_reset_uart(sysInfo_t* info);
/// Sends RAMP_COMPLETE.
int uz_ramp_complete(sysInfo_t* info);
/// Sends RAMP_ABORT.
int uz_ramp_abort(sysInfo_t* info);
/// Sends PC_RAMP_DONE.
int uz_pc_ramp_done(sysInfo_t* info);
/// Sends VIDEO_PR.
int uz_video_pr(sysInfo_t* info);
/// Sends PZT3_RESET.
int uz_pzt3_reset(sysInfo_t* info);
/// Sends RESET_TMI.
int uz_reset_tmi(sysInfo_t* info);

// one value
/// Sends PZT_POWER with `value`.
int uz_pzt_power(sysInfo_t* info, uint32_t value);
/// Sends EE_SERIAL_SET with `value`.
int uz_ee_serial_set(sysInfo_t* info, uint32_t value);
/// Sends EE_CAMERA_SET with `value`. ERR_INVALID_PARAM for a custom camera (type 12).
int uz_ee_camera_set(sysInfo_t* info, uint32_t value);
/// Sends EE_LIGHT_SET with `value`.
int uz_ee_light_set(sysInfo_t* info, uint32_t value);
/// Sends EE_SYSTEM_SET with `value`.
int uz_ee_system_set(sysInfo_t* info, uint32_t value);
/// Sends EE_SYSDATE_SET with `value`.
int uz_ee_sysdate_set(sysInfo_t* info, uint32_t value);
/// Sends EE_INSTRBD_SET with `value`.
int uz_ee_instrbd_set(sysInfo_t* info, uint32_t value);
/// Sends RAMP_DAC with `value`.
int uz_ramp_dac(sysInfo_t* info, uint32_t value);
/// Sends RAMP_DELETE with `slot`.
int uz_ramp_delete(sysInfo_t* info, uint32_t slot);
/// Sends RAMP_START with `slot`.
int uz_ramp_start(sysInfo_t* info, uint32_t slot);
/// Sends PZT3_DISCONNECT with `value`.
int uz_pzt3_disconnect(sysInfo_t* info, uint32_t value);
/// Sends PIFOC_LEVEL with `value`.
int uz_pifoc_level(sysInfo_t* info, uint32_t value);
/// Sends CAMERA_RES with `value`. ERR_INVALID_PARAM for a custom camera (type 12).
int uz_camera_res(sysInfo_t* info, uint32_t value);
/// Sends PZT_TYPE with `value`.
int uz_pzt_type(sysInfo_t* info, uint32_t value);
/// Sends LCZDRIVE with `value`.
int uz_lczdrive(sysInfo_t* info, uint32_t value);
/// Sends ZOOMPOS_REPORT with `value`.
int uz_zoompos_report(sysInfo_t* info, uint32_t value);
/// Sends TURRETPOS_REPORT with `value`.
int uz_turretpos_report(sysInfo_t* info, uint32_t value);
/// Sends WAND with `value`.
int uz_wand(sysInfo_t* info, uint32_t value);
/// Sends LOCK_POS with `value`.
int uz_lock_pos(sysInfo_t* info, uint32_t value);
/// Sends SHUTTER_STATE with `value`.
int uz_shutter_state(sysInfo_t* info, uint32_t value);
/// Sends SHUTTER_OUTPUT with `value`.
int uz_shutter_output(sysInfo_t* info, uint32_t value);

// one value read
/// Sends LLC_MODE_READ; *value gets the reply value.
int uz_llc_mode_read(sysInfo_t* info, uint32_t* value);
/// Sends EE_SERIAL_READ; *value gets the reply value.
int uz_ee_serial_read(sysInfo_t* info, uint32_t* value);
/// Sends EE_CAMERA_READ; *value gets the reply value.
int uz_ee_camera_read(sysInfo_t* info, uint32_t* value);
/// Sends EE_LIGHT_READ; *value gets the reply value.
int uz_ee_light_read(sysInfo_t* info, uint32_t* value);
/// Sends EE_SYSTEM_READ; *value gets the reply value.
int uz_ee_system_read(sysInfo_t* info, uint32_t* value);
/// Sends EE_SYSDATE_READ; *value gets the reply value.
int uz_ee_sysdate_read(sysInfo_t* info, uint32_t* value);
/// Sends EE_INSTRBD_READ; *value gets the reply value.
int uz_ee_instrbd_read(sysInfo_t* info, uint32_t* value);
/// Sends ADC_P12_READ; *value gets the reply value.
int uz_adc_p12_read(sysInfo_t* info, uint32_t* value);
/// Sends ADC_N15_READ; *value gets the reply value.
int uz_adc_n15_read(sysInfo_t* info, uint32_t* value);
/// Sends ADC_P15_READ; *value gets the reply value.
int uz_adc_p15_read(sysInfo_t* info, uint32_t* value);
/// Sends ADC_P200_READ; *value gets the reply value.
int uz_adc_p200_read(sysInfo_t* info, uint32_t* value);
/// Sends SYSERR; *value gets the reply value.
int uz_syserr(sysInfo_t* info, uint32_t* value);
/// Sends PZT_CHK; *value gets the reply value.
int uz_pzt_chk(sysInfo_t* info, uint32_t* value);
/// Sends SW_VERSION; *value gets the reply value.
int uz_sw_version(sysInfo_t* info, uint32_t* value);
/// Sends RAMP_IDLE; *idle gets the reply value.
int uz_ramp_idle(sysInfo_t* info, uint32_t* idle);
/// Sends EXPANSION_BD; *value gets the reply value.
int uz_expansion_bd(sysInfo_t* info, uint32_t* value);
/// Sends LLC_STABLE; *value gets the reply value.
int uz_llc_stable(sysInfo_t* info, uint32_t* value);
/// Sends WAND_MOTION; *value gets the reply value.
int uz_wand_motion(sysInfo_t* info, uint32_t* value);
/// Sends WAND_MODE; *value gets the reply value.
int uz_wand_mode(sysInfo_t* info, uint32_t* value);
/// Sends WAND_MODE2; *value gets the reply value.
int uz_wand_mode2(sysInfo_t* info, uint32_t* value);
/// Sends PZT3; *value gets the reply value.
int uz_pzt3(sysInfo_t* info, uint32_t* value);
/// Sends PZT3_STATUS; *value gets the reply value.
int uz_pzt3_status(sysInfo_t* info, uint32_t* value);
/// Sends PZT3_PWRCHK; *value gets the reply value.
int uz_pzt3_pwrchk(sysInfo_t* info, uint32_t* value);
/// Sends QUARTZ; *value gets the reply value.
int uz_quartz(sysInfo_t* info, uint32_t* value);
/// Sends DD_VOLTCHK; *value gets the reply value.
int uz_dd_voltchk(sysInfo_t* info, uint32_t* value);
/// Sends AV_MOVING; *value gets the reply value.
int uz_av_moving(sysInfo_t* info, uint32_t* value);
/// Sends RS_MOVING; *value gets the reply value.
int uz_rs_moving(sysInfo_t* info, uint32_t* value);
/// Sends READ_TMI_LOCKEDP; *value gets the reply value.
int uz_read_tmi_lockedp(sysInfo_t* info, uint32_t* value);
/// Sends READ_TMI_MEASERR; *value gets the reply value.
int uz_read_tmi_measerr(sysInfo_t* info, uint32_t* value);

// parameter bytes in wire order
/// Sends MOTOR_MOVE with the parameter bytes.
int uz_motor_move(sysInfo_t* info, const uint8_t* params, int count);
/// Sends MOTOR_READ with the parameter bytes; the reply data goes to `data`.
int uz_motor_read(sysInfo_t* info, const uint8_t* params, int count, uint8_t* data, int capacity);
/// Sends LLC_MODE_SET with the parameter bytes.
int uz_llc_mode_set(sysInfo_t* info, const uint8_t* params, int count);
/// Sends PIFOC_RESET with the parameter bytes.
int uz_pifoc_reset(sysInfo_t* info, const uint8_t* params, int count);
/// Sends PC_READ; the reply data goes to `data`.
int uz_pc_read(sysInfo_t* info, uint8_t* data, int capacity);
/// Sends PC_ADC_SET with the parameter bytes.
int uz_pc_adc_set(sysInfo_t* info, const uint8_t* params, int count);
/// Sends PC_ADC_READ with the parameter bytes; the reply data goes to `data`.
int uz_pc_adc_read(sysInfo_t* info, const uint8_t* params, int count, uint8_t* data, int capacity);
/// Sends RAMP_COMP_LOAD with the parameter bytes.
int uz_ramp_comp_load(sysInfo_t* info, const uint8_t* params, int count);
/// Sends QUARTZ_POS; the reply data goes to `data`.
int uz_quartz_pos(sysInfo_t* info, uint8_t* data, int capacity);
/// Sends PZT3_RAMP with the parameter bytes.
int uz_pzt3_ramp(sysInfo_t* info, const uint8_t* params, int count);

// with rules of their own

/// Light level: UZ2 below 160, Iris below 256 (one byte); Lumen below 3686
/// and UZ1 below 4096, sent as their maximum minus the level.
/// ERR_PARAM_OUT_OF_RANGE outside the board's range.
int uz_llc_set(sysInfo_t* info, int level);
/// The light level, decoded as uz_llc_set encodes it.
int uz_llc_read(sysInfo_t* info, int* level);
/// Three 16-bit values on UZ1 and UZ2; the Iris board takes the third only.
int uz_pzt_set(sysInfo_t* info, uint16_t first, uint16_t second, uint16_t third);
/// The reply data into `out` (12 bytes, first filled with 0xFF).
int uz_ramp_request(sysInfo_t* info, uint8_t out[12]);
/// The board's fault status, judged by ur_board_error (verbose); `status`
/// gets the byte.
int uz_power_chk(sysInfo_t* info, uint8_t* status);
/// Reads the byte at `address` of the I/O space 4096..6143
/// (ERR_PARAM_OUT_OF_RANGE outside it).
int uz_read_io(sysInfo_t* info, int address, uint8_t* value);
/// Writes the byte at `address` of the I/O space 4096..6143
/// (ERR_PARAM_OUT_OF_RANGE outside it).
int uz_write_io(sysInfo_t* info, int address, uint8_t value);
/// Sets the update rate (0..65535) of the ramp in `slot` (0..255);
/// ERR_INVALID_RAMP_INDEX when the board has no ramp in `slot`.
int uz_ramp_updaterate(sysInfo_t* info, int slot, int rate);
/// Sends QUARTZ_INIT; ERR_QUARTZ_INIT when the reply is not 0.
int uz_quartz_init(sysInfo_t* info);
/// UZ2 only: 0 or 1, board version 13 or later; with `wait`, polls the
/// moving flag every 250 ms (through u_poll_pause) for up to 501 polls.
/// Other boards: nothing (0). ERR_INVALID_PARAM for another value,
/// ERR_NOT_IMPLEMENTED on an older board, ERR_AV_TIMEOUT when still moving.
int uz_change_alignview(sysInfo_t* info, int value, int wait);
/// As uz_change_alignview for the ring/spot selector (ERR_RS_TIMEOUT); does
/// nothing without a RingSpot line in the calibration.
int uz_change_ringspot(sysInfo_t* info, int value, int wait);
/// Camera type 12 only; the record's custom camera bytes.
int uz_custom_camera(sysInfo_t* info);
/// Sends RAMP_LOAD: `slot`, the header's rampID and polar (0..255 each),
/// nPoints, offset, trigger start and end and update rate (0..65535 each,
/// else ERR_PARAM_OUT_OF_RANGE).
int uz_ramp_load(sysInfo_t* info, int slot, const rr_ramp_hdr_t* header);
/// One packet of up to 512 points; `reply` gets the board's answer byte.
int uz_ramp_data(sysInfo_t* info, const uint16_t* points, int count, uint8_t* reply);
