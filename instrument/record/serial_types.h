/// @file
/// The serial port record, embedded in the records that own a line (the
/// system information record's board, wave monitor and temperature lines, a
/// motion controller). The serial layer (instrument/serial/serial_port.h)
/// opens and drives it.
#pragma once

#include <cstdint>

/// A handle names one open line of some back end. It is pointer-sized; the
/// invalid value has all bits set.
using sio_handle_t = std::intptr_t;
inline constexpr sio_handle_t SIO_INVALID_HANDLE = -1;  ///< the handle of no line

/// The port record, embedded in its owner's record; the layer never allocates it.
struct sio_port_t {
  sio_handle_t handle = SIO_INVALID_HANDLE;  ///< the open line; SIO_INVALID_HANDLE when closed
};
