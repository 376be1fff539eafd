/// @file
/// The serial port layer: every serial peripheral of the library opens,
/// configures, reads, writes, drains and closes its line through these free
/// functions and nothing else. The layer knows no protocol.
///
/// Results: the open, configuration and close operations return a library
/// error code (0 = success); sio_send_data, sio_read_data, sio_bytes_waiting
/// and sio_clear_buffer return 0 for success and 1 for failure (except that
/// sio_clear_buffer gives ERR_SERIAL_NOT_OPEN for a closed handle).
#pragma once

#include <cstdint>

#include "instrument/record/serial_types.h"
#include "platform/serial_backend.h"

/// Queue sizes asked of the driver at open.
inline constexpr uint32_t SIO_QUEUE_SIZE = 4096;

// ---- back-end choice

/// Replaces the back end sio_open opens through (the operating system's,
/// unless replaced); each open line keeps the back end it was opened with, so
/// lines of different back ends can be used side by side. Returns the back end
/// replaced; null restores the operating system's. The back end is kept, not
/// copied: it must outlive its use.
plat::SerialBackend* sio_set_backend(plat::SerialBackend* backend);
/// sio_open through a given back end.
int sio_open_with(plat::SerialBackend& backend, const char* device, sio_port_t* port);

// ---- open, configure, close (library error codes)

/// Opens `device` through the current back end into `port` (its handle stays
/// SIO_INVALID_HANDLE when the open fails) and sets the driver's queues to
/// SIO_QUEUE_SIZE. ERR_INVALID_PARAM without a port, ERR_CANT_OPEN_SERIAL,
/// ERR_CANT_SET_SERIAL (the line is then open).
int sio_open(const char* device, sio_port_t* port);
/// How a device's line is set up once it is open, one row per device kind:
/// the defaults of sio_init_xonxoff (9600 baud, 8 data bits, no parity, one
/// stop bit), then the rate, parity and data bits the row gives, then XON/XOFF
/// off, so that flow-control bytes pass as plain bytes.
struct sio_line_settings_t {
  int baud = 0;           ///< 0: the default
  int parity = -1;        ///< -1: the default (none); else as sio_set_parity
  uint8_t data_bits = 0;  ///< 0: the default
  /// Set up without XON/XOFF from the start: CTS output flow and
  /// abort-on-error on (sio_init's handshake without software flow), as the
  /// serial motion controller wants.
  bool hardware_handshake = false;
};
/// Opens `device` into `port` and sets the line up as `row` says; a line that
/// opened but could not be set up is closed again. The error code of the
/// first step that failed (ERR_CANT_OPEN_SERIAL when the open did).
int sio_open_configured(const char* device, const sio_line_settings_t& row, sio_port_t* port);
/// Line settings "baud,data-bits,parity,stop-bits" (null or a file-mode word
/// for 9600,8,0,1), flow control and timeouts.
int sio_init(sio_handle_t handle, const char* settings, uint8_t xonxoff);
/// sio_init with XON/XOFF flow control.
int sio_init_xonxoff(sio_handle_t handle, const char* settings);
/// Sets the baud rate. ERR_SERIAL_NOT_OPEN, ERR_CANT_GET_SERIAL, ERR_CANT_SET_SERIAL.
int sio_set_baud_rate(sio_handle_t handle, int baud);
/// Sets the parity (0 none; parity checking on otherwise). Errors as sio_set_baud_rate.
int sio_set_parity(sio_handle_t handle, int parity);
/// Sets the data bits. Errors as sio_set_baud_rate.
int sio_set_data_bits(sio_handle_t handle, uint8_t data_bits);
/// Turns XON/XOFF flow control on both ways. Errors as sio_set_baud_rate.
int sio_enable_xonxoff(sio_handle_t handle);
/// Turns XON/XOFF flow control off. Errors as sio_set_baud_rate.
int sio_disable_xonxoff(sio_handle_t handle);
/// The total read-timeout constant in whole seconds (truncated).
int sio_get_read_timeout(sio_handle_t handle, int* seconds);
/// Sets the total read-timeout constant to whole seconds.
/// ERR_SERIAL_NOT_OPEN, ERR_CANT_SET_SERIAL.
int sio_set_read_timeout(sio_handle_t handle, int seconds);
/// The same constant in milliseconds. Save and restore a timeout around a
/// single read with these: the whole-second pair would turn 500 ms into 0,
/// which means "wait for ever".
int sio_get_read_timeout_ms(sio_handle_t handle, uint32_t* milliseconds);
/// Sets the total read-timeout constant in milliseconds (see
/// sio_get_read_timeout_ms). ERR_SERIAL_NOT_OPEN, ERR_CANT_SET_SERIAL.
int sio_set_read_timeout_ms(sio_handle_t handle, uint32_t milliseconds);
/// Copies the line's timeouts. ERR_SERIAL_NOT_OPEN, ERR_INVALID_PARAM,
/// ERR_CANT_GET_SERIAL.
int sio_get_timeouts(sio_handle_t handle, sio_timeouts_t* timeouts);
/// Sets the line's timeouts. ERR_SERIAL_NOT_OPEN, ERR_INVALID_PARAM,
/// ERR_CANT_SET_SERIAL.
int sio_set_timeouts(sio_handle_t handle, const sio_timeouts_t* timeouts);
/// Copies the line's state. ERR_SERIAL_NOT_OPEN, ERR_INVALID_PARAM,
/// ERR_CANT_GET_SERIAL.
int sio_get_state(sio_handle_t handle, sio_dcb_t* state);
/// Sets the line's state. ERR_SERIAL_NOT_OPEN, ERR_INVALID_PARAM,
/// ERR_CANT_SET_SERIAL.
int sio_set_state(sio_handle_t handle, const sio_dcb_t* state);
/// Drops DTR, throws away what is queued and closes the line; the port's
/// handle becomes SIO_INVALID_HANDLE. ERR_INVALID_PARAM without a port,
/// ERR_SERIAL_NOT_OPEN, ERR_CANT_CLOSE_SERIAL (the line then stays open).
int sio_close(sio_port_t* port);

// ---- data (0 = success, 1 = failure)

/// Writes `count` bytes; `written` (null: none) tells how many the driver
/// took. Returns once the bytes have left the driver, or with 1 when the
/// output stays stalled (flow control) past the write timeout plus the time
/// the bytes need on the line.
int sio_send_data(sio_handle_t handle, const void* buffer, uint32_t count, uint32_t* written);
/// Fails when fewer than `count` bytes came within the timeouts; `read` tells
/// how many did.
int sio_read_data(sio_handle_t handle, void* buffer, uint32_t count, uint32_t* read);
/// The number of bytes waiting in the input queue (0 on failure).
int sio_bytes_waiting(sio_handle_t handle, uint32_t* count);
/// The same query with the line error bits it clears (0 when none was
/// flagged): 0 on success, 1 on failure with both outputs 0.
int sio_line_status(sio_handle_t handle, uint32_t* errors, uint32_t* in_queue);
/// Throws away everything that arrives until the line has been silent for
/// 100 ms. Gives up with 1 after about 10 s or 64 KiB of a line that never
/// goes quiet.
int sio_clear_buffer(sio_handle_t handle);
