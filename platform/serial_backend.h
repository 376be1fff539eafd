// The operations the serial port layer needs from a line, behind one small
// interface. The POSIX and Win32 back ends talk to real devices; an in-memory
// back end (sim/memory_serial.h) stands in for them in tests and simulators.
//
// The records mirror the Windows serial interface exactly (sizes, field
// order, units), because host programs fill and read them as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// Line state: the layout of the Windows device-control block (28 bytes).
struct sio_dcb_t {
  uint32_t DCBlength;
  uint32_t BaudRate;
  uint32_t fBinary : 1;
  uint32_t fParity : 1;
  uint32_t fOutxCtsFlow : 1;
  uint32_t fOutxDsrFlow : 1;
  uint32_t fDtrControl : 2;
  uint32_t fDsrSensitivity : 1;
  uint32_t fTXContinueOnXoff : 1;
  uint32_t fOutX : 1;
  uint32_t fInX : 1;
  uint32_t fErrorChar : 1;
  uint32_t fNull : 1;
  uint32_t fRtsControl : 2;
  uint32_t fAbortOnError : 1;
  uint32_t fDummy2 : 17;
  uint16_t wReserved;
  uint16_t XonLim;
  uint16_t XoffLim;
  uint8_t ByteSize;
  uint8_t Parity;
  uint8_t StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  uint16_t wReserved1;
};
static_assert(sizeof(sio_dcb_t) == 28);

// Timeouts in milliseconds, in the order of the Windows record.
struct sio_timeouts_t {
  uint32_t ReadIntervalTimeout;
  uint32_t ReadTotalTimeoutMultiplier;
  uint32_t ReadTotalTimeoutConstant;
  uint32_t WriteTotalTimeoutMultiplier;
  uint32_t WriteTotalTimeoutConstant;
};

// What a line reports when its error state is cleared.
struct sio_status_t {
  uint32_t errors;     // line error bits; 0 when none is flagged
  uint32_t in_queue;   // bytes received and not yet read
  uint32_t out_queue;  // bytes written and not yet sent
};

// The Windows values the layer passes through.
inline constexpr uint32_t SIO_EV_RXCHAR = 0x0001;
inline constexpr uint32_t SIO_SETDTR = 5;
inline constexpr uint32_t SIO_CLRDTR = 6;
inline constexpr uint32_t SIO_PURGE_TXABORT = 0x0001;
inline constexpr uint32_t SIO_PURGE_RXABORT = 0x0002;
inline constexpr uint32_t SIO_PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t SIO_PURGE_RXCLEAR = 0x0008;
inline constexpr uint32_t SIO_PURGE_ALL = 0x000F;
inline constexpr uint32_t SIO_MAXDWORD = 0xFFFFFFFFu;
inline constexpr uint8_t SIO_ONESTOPBIT = 0;
inline constexpr uint8_t SIO_ONE5STOPBITS = 1;
inline constexpr uint8_t SIO_TWOSTOPBITS = 2;
inline constexpr uint32_t SIO_DTR_CONTROL_DISABLE = 0;
inline constexpr uint32_t SIO_DTR_CONTROL_ENABLE = 1;
inline constexpr uint32_t SIO_RTS_CONTROL_HANDSHAKE = 2;

namespace plat {

// One open line. Every operation reports only success or failure, as the
// system calls behind it do; the layer above turns that into its results.
class SerialLine {
 public:
  virtual ~SerialLine() = default;
  SerialLine() = default;
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Releases the device. On success the line is destroyed by its owner; on
  // failure it stays usable (and open).
  virtual bool close() = 0;
  virtual bool set_event_mask(uint32_t mask) = 0;
  virtual bool setup_queues(uint32_t in_size, uint32_t out_size) = 0;
  virtual bool get_state(sio_dcb_t& state) = 0;
  virtual bool set_state(const sio_dcb_t& state) = 0;
  virtual bool get_timeouts(sio_timeouts_t& timeouts) = 0;
  virtual bool set_timeouts(const sio_timeouts_t& timeouts) = 0;
  virtual bool escape(uint32_t function) = 0;
  virtual bool purge(uint32_t flags) = 0;
  virtual bool clear_error(sio_status_t& status) = 0;
  // Synchronous transfers under the line's timeouts: running out of time is
  // success with a short count, as on Windows.
  virtual bool read(std::span<uint8_t> buffer, std::size_t& count) = 0;
  virtual bool write(std::span<const uint8_t> buffer, std::size_t& count) = 0;
};

// Opens lines by device name: exclusive, existing devices only.
class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  SerialBackend() = default;
  SerialBackend(const SerialBackend&) = delete;
  SerialBackend& operator=(const SerialBackend&) = delete;

  // Null when the device cannot be opened.
  virtual std::unique_ptr<SerialLine> open(const char* name) = 0;
};

// The back end of the operating system the library was built for.
SerialBackend& native_serial_backend();

}  // namespace plat
