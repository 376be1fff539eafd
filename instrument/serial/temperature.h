/// @file
/// The temperature controller (sensor type 1, the Euro2216e): a serial line
/// at 9600 baud, 7 data bits, even parity, carrying the controller's ASCII
/// block protocol. Every message starts with EOT and the address "0011"; a
/// write carries mnemonic and value between STX and ETX with a block check (the
/// XOR of everything after STX up to and including ETX) and is answered by ACK
/// or NAK; a read sends the mnemonic and ENQ and is answered by STX, mnemonic,
/// value, ETX, block check, or by EOT when the controller does not know it.
///
/// The line of a system information record is `sysInfo_t::tempPort`, opened
/// with the device named by `tempSensorText`. Exchanges are strictly
/// sequential on one thread.
#pragma once

#include <cstddef>
#include <string>

#include "instrument/serial/serial_port.h"

// Message types.
inline constexpr int TEMP_MSG_WRITE = 1;  ///< answered by ACK or NAK
inline constexpr int TEMP_MSG_READ = 2;   ///< answered by a data block

/// Bytes of a reply block after STX, ETX included: at most one less than
/// this, so the reply text (without ETX) holds at most 254 characters.
inline constexpr int TEMP_STR_MAX_LEN = 256;

/// Opens the line and sets 9600 baud, even parity, 7 data bits, no XON/XOFF.
/// Any failure is logged with its cause and returned as
/// ERR_TEMP_SENSOR_COMM, the port closed again.
int temp_comm_open(sio_port_t* port, const char* device);
/// Null record: 0. A failing close is logged and gives ERR_TEMP_SENSOR_COMM.
int temp_comm_close(sio_port_t* port);

/// Sends the first `length` characters of `text` as a write (TEMP_MSG_WRITE:
/// "IM0002." sets IM to 0002.) or a read (TEMP_MSG_READ: "PV" asks for PV)
/// and reads the answer. A read gives the value back in `text`, NUL-ended,
/// which therefore has `capacity` bytes of room; a reply that does not fit,
/// that names another mnemonic, or whose value holds a NUL byte gives
/// ERR_TEMP_SENSOR_READ. Any answer byte but NAK accepts a write. A handle of
/// no line (0 or SIO_INVALID_HANDLE) does nothing and returns 0.
int temp_comm_write(sio_handle_t handle, char* text, std::size_t capacity, int length, int type);
/// Reads one answer of the given type. On success `reply` holds the block's
/// text without STX and ETX (a write's answer has none); otherwise it is
/// empty. A handle of no line returns 0 with an empty reply. After a NAK the
/// controller's error report is read into the log and the line emptied, so
/// no byte of it can pass for the next write's acceptance.
int temp_comm_read(sio_handle_t handle, std::string* reply, int type);

/// The Lumen instrument's start-up: "IM0002.", "QD0002.", "Q10000.",
/// "IM0000." written in turn, stopping at the first failure, then 5 s for
/// the controller to settle.
int temp_lumen_startup(sio_handle_t handle);
