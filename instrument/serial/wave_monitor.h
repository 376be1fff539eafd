/// @file
/// The wave monitor: a serial peripheral of the tunable-laser instruments
/// that switches the source laser, reports its status and calibration and
/// takes tuning settings. Commands are ASCII text ended by a carriage return;
/// replies are binary (little-endian words and floats) framed by ACK or NAK.
///
/// The monitor of a system information record lives in its wave monitor
/// block (`sysInfo_t::waveMonitor`), opened by wm_comm_open on the record's
/// `wmComm` device and closed by wm_comm_close. Every command is one write
/// and one read on the caller's thread; the reader keeps no bytes between
/// calls, so a caller that has lost step drains the line with wm_flush_inp.
#pragma once

#include <cstdint>

#include "data/containers.h"
#include "instrument/serial/serial_port.h"

struct sysInfo_t;

// Reply kinds of wm_comm_read.
inline constexpr int WM_RESP_ACK = 1;       ///< one byte: ACK or NAK
inline constexpr int WM_RESP_READ = 2;      ///< respLen data bytes, no trailer
inline constexpr int WM_RESP_READ_ACK = 3;  ///< respLen data bytes, then ACK or NAK
inline constexpr int WM_RESP_SIZE_READ_ACK =
    4;  ///< count N, respLen + N * item size bytes, ACK or NAK

inline constexpr uint8_t WM_ACK = 0x06;  ///< accepts a command
inline constexpr uint8_t WM_NAK = 0x15;  ///< refuses a command
inline constexpr uint8_t WM_CR = 0x0D;   ///< ends a command

/// The largest reply a WM_RESP_SIZE_READ_ACK count may announce.
inline constexpr int64_t WM_MAX_REPLY_BYTES = 16 * 1024 * 1024;

/// The reply record: `size` bytes allocated through the allocation hooks,
/// `count` of them in use. The reader sizes it to the reply and releases it
/// when it fails; the caller releases it with mx_list_release.
using wm_reply_t = mx_list_t<uint8_t>;

/// The status reply to "MS?": nine 32-bit words.
struct wm_status_t {
  int32_t reserved;  ///< unused
  float value1,      ///< kept in the record as it comes
      value2;        ///< kept in the record as it comes
  // Tuning limits in units of 10^6.
  float maxTuneRange,        ///< largest tune range, in units of 10^6
      minTuneRate,           ///< smallest tune rate, in units of 10^6
      maxTuneRate;           ///< largest tune rate, in units of 10^6
  uint32_t secondsSinceCal;  ///< seconds since the monitor was calibrated
  int32_t value7;            ///< kept in the record as it comes
  uint32_t flags;            ///< WM_FLAG_ bits
};

// Bits of the status flag word.
inline constexpr uint32_t WM_FLAG_CALIBRATED = 1u << 0;  ///< the monitor is calibrated
inline constexpr uint32_t WM_FLAG_FOUR_CHANNEL_CAL = 1u
                                                     << 30;  ///< four-channel calibration constants
inline constexpr uint32_t WM_FLAG_GAIN_ONLY = 1u << 31;      ///< the calibration is the gain only
inline constexpr uint32_t WM_FLAG_TOP_BITS = 0xF0000000u;    ///< the bits kept as flagsTop

/// A ramp the caller wants the monitor to tune through.
struct wm_ramp_request_t {
  double range;     ///< tuning range
  int32_t buckets;  ///< frames of the ramp
};

// Unit codes of wm_convert_units.
inline constexpr int WM_UNIT_1 = 1101;     ///< scale 1
inline constexpr int WM_UNIT_1E3 = 1102;   ///< scale 10^3
inline constexpr int WM_UNIT_1E6 = 1103;   ///< scale 10^6
inline constexpr int WM_UNIT_1E9 = 1104;   ///< scale 10^9
inline constexpr int WM_UNIT_1E12 = 1105;  ///< scale 10^12

// ---- which systems carry a monitor

/// System types 19, 27, 30, 32 and 33 with an instrument board.
bool wm_is_wm_system(const sysInfo_t* info);
/// System types 19 and 30: their limits also come from the monitor.
bool wm_is_tuned_system(const sysInfo_t* info);

/// value * scale(from) / scale(to); a code outside 1101..1105 gives the huge
/// value (positive infinity).
double wm_convert_units(double value, int from, int to);

// ---- the line

/// Opens `device` into `port` at 115200 baud, 8 data bits, no parity, one
/// stop bit, no XON/XOFF, the timeouts of sio_init. Failures are logged and
/// give ERR_WM_COMM.
int wm_comm_open_fd(sio_port_t* port, const char* device);
/// wm_comm_open_fd on the record's wmComm device into its monitor block.
int wm_comm_open(sysInfo_t* info);
/// A null record: 0.
int wm_comm_close(sio_port_t* port);
/// Throws away pending input. ERR_INVALID_PARAM without a port, ERR_WM_COMM (logged).
int wm_flush_inp(sio_port_t* port);
/// Sends the command text, then its CR in a second write. A null record: 0.
int wm_comm_write(sio_port_t* port, const char* command);
/// Reads one reply of `type` into `reply`. The first byte may take
/// `timeout_s` seconds (10 when below 1); the port's own read timeout comes
/// back afterwards. `item_size` matters to WM_RESP_SIZE_READ_ACK only. Every
/// failure is logged with a timestamp and releases the reply record.
int wm_comm_read(sio_port_t* port, wm_reply_t* reply, int resp_len, int item_size, int type,
                 int timeout_s);
/// wm_comm_write, then wm_comm_read.
int wm_comm_write_rd(sio_port_t* port, const char* command, wm_reply_t* reply, int resp_len,
                     int item_size, int type, int timeout_s);

// ---- commands

/// The laser word of "LO?"; bit 15 tells whether the laser is on.
int wm_get_laser(sio_port_t* port, int32_t* state);
/// "LO=1" for an on flag of exactly 1, "LO=0" for anything else.
int wm_set_laser(sio_port_t* port, int on);
/// Switches and polls once a second, up to 10 times, until the laser shows
/// the state; the abort hook may end the wait (ERR_FELBRIN_ABORTED).
int wm_set_laser_with_wait(sio_port_t* port, int on);
/// The status reply to "MS?".
int wm_read_status(sio_port_t* port, wm_status_t* status);
/// The monitor's system gain ("CC?").
int wm_read_gain(sio_port_t* port, float* gain);
/// value * 10^7 as a decimal integer; NaN or |value| >= 214.7 gives
/// ERR_PARAM_OUT_OF_RANGE before anything is sent.
int wm_set_cl(sio_port_t* port, double value);
/// Sends "SS=" with `value`.
int wm_set_ss(sio_port_t* port, float value);
/// Sends "RR=first,second"; the two words of the answer go to `out1` and
/// `out2`. ERR_INVALID_PARAM without them.
int wm_set_ramp_range(sio_port_t* port, int32_t first, int32_t second, int32_t* out1,
                      int32_t* out2);

// ---- calibration and limits

/// Reads status and calibration constants into the record's monitor block.
int wm_read_cal(sysInfo_t* info);
/// Logs the calibration the record holds.
int wm_print_cal(const sysInfo_t* info);
/// Rates and ranges a ramp must keep to; any argument may be null.
int wm_get_tune_limits(const sysInfo_t* info, double* min_rate, double* max_rate, double* min_range,
                       double* max_range);
/// 0 when the ramp is within the limits; else ERR_WM_TUNE_RANGE_TOO_LARGE,
/// ERR_WM_NUM_BUCKETS_TOO_LARGE or ERR_WM_TUNE_RATE_TOO_SLOW with a log line,
/// or ERR_INVALID_PARAM for a request the rate cannot be worked out for.
int wm_verify_ramp_in_limits(const sysInfo_t* info, const wm_ramp_request_t* request);
