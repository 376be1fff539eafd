/// @file
/// The operations the serial port layer needs from a line, behind one small
/// interface. The POSIX and Win32 back ends talk to real devices; an in-memory
/// back end (sim/memory_serial.h) stands in for them in tests and simulators.
///
/// The records mirror the Windows serial interface exactly (sizes, field
/// order, units), because host programs fill and read them as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

/// Line state: the layout of the Windows device-control block (28 bytes).
struct sio_dcb_t {
  uint32_t DCBlength;              ///< size of the record in bytes (28)
  uint32_t BaudRate;               ///< line speed in bits per second
  uint32_t fBinary : 1;            ///< binary mode (always set on Windows)
  uint32_t fParity : 1;            ///< parity checking on
  uint32_t fOutxCtsFlow : 1;       ///< output waits for CTS
  uint32_t fOutxDsrFlow : 1;       ///< output waits for DSR
  uint32_t fDtrControl : 2;        ///< DTR line control (SIO_DTR_CONTROL_*)
  uint32_t fDsrSensitivity : 1;    ///< input ignored while DSR is low
  uint32_t fTXContinueOnXoff : 1;  ///< sending goes on after XOFF was sent
  uint32_t fOutX : 1;              ///< XON/XOFF flow control of output
  uint32_t fInX : 1;               ///< XON/XOFF flow control of input
  uint32_t fErrorChar : 1;         ///< bytes with a parity error are replaced by ErrorChar
  uint32_t fNull : 1;              ///< null bytes are dropped
  uint32_t fRtsControl : 2;        ///< RTS line control (for example SIO_RTS_CONTROL_HANDSHAKE)
  uint32_t fAbortOnError : 1;      ///< transfers stop on an error until it is cleared
  uint32_t fDummy2 : 17;           ///< reserved
  uint16_t wReserved;              ///< reserved, 0
  uint16_t XonLim;                 ///< input bytes left queued before XON is sent
  uint16_t XoffLim;                ///< free input room left before XOFF is sent
  uint8_t ByteSize;                ///< data bits per byte
  uint8_t Parity;                  ///< parity scheme (0 none, 1 odd, 2 even, 3 mark, 4 space)
  uint8_t StopBits;                ///< stop bits (SIO_ONESTOPBIT and the like)
  char XonChar;                    ///< the XON character
  char XoffChar;                   ///< the XOFF character
  char ErrorChar;                  ///< replacement for bytes with a parity error
  char EofChar;                    ///< the end-of-input character
  char EvtChar;                    ///< the character that signals an event
  uint16_t wReserved1;             ///< reserved
};
static_assert(sizeof(sio_dcb_t) == 28);

/// Timeouts in milliseconds, in the order of the Windows record.
struct sio_timeouts_t {
  uint32_t ReadIntervalTimeout;          ///< longest gap between two received bytes
  uint32_t ReadTotalTimeoutMultiplier;   ///< per-byte part of a read's total timeout
  uint32_t ReadTotalTimeoutConstant;     ///< constant part of a read's total timeout
  uint32_t WriteTotalTimeoutMultiplier;  ///< per-byte part of a write's total timeout
  uint32_t WriteTotalTimeoutConstant;    ///< constant part of a write's total timeout
};

/// What a line reports when its error state is cleared.
struct sio_status_t {
  uint32_t errors;     ///< line error bits; 0 when none is flagged
  uint32_t in_queue;   ///< bytes received and not yet read
  uint32_t out_queue;  ///< bytes written and not yet sent
};

// The Windows values the layer passes through.
inline constexpr uint32_t SIO_EV_RXCHAR = 0x0001;         ///< Event mask: a byte was received.
inline constexpr uint32_t SIO_SETDTR = 5;                 ///< Escape function: raise DTR.
inline constexpr uint32_t SIO_CLRDTR = 6;                 ///< Escape function: lower DTR.
inline constexpr uint32_t SIO_PURGE_TXABORT = 0x0001;     ///< Purge: stop pending writes.
inline constexpr uint32_t SIO_PURGE_RXABORT = 0x0002;     ///< Purge: stop pending reads.
inline constexpr uint32_t SIO_PURGE_TXCLEAR = 0x0004;     ///< Purge: drop the output queue.
inline constexpr uint32_t SIO_PURGE_RXCLEAR = 0x0008;     ///< Purge: drop the input queue.
inline constexpr uint32_t SIO_PURGE_ALL = 0x000F;         ///< Purge: all four of the above.
inline constexpr uint32_t SIO_MAXDWORD = 0xFFFFFFFFu;     ///< The largest 32-bit value (timeouts).
inline constexpr uint8_t SIO_ONESTOPBIT = 0;              ///< StopBits: one stop bit.
inline constexpr uint8_t SIO_ONE5STOPBITS = 1;            ///< StopBits: one and a half stop bits.
inline constexpr uint8_t SIO_TWOSTOPBITS = 2;             ///< StopBits: two stop bits.
inline constexpr uint32_t SIO_DTR_CONTROL_DISABLE = 0;    ///< fDtrControl: DTR held low.
inline constexpr uint32_t SIO_DTR_CONTROL_ENABLE = 1;     ///< fDtrControl: DTR held high.
inline constexpr uint32_t SIO_RTS_CONTROL_HANDSHAKE = 2;  ///< fRtsControl: RTS handshaking.

namespace plat {

/// One open line. Every operation reports only success or failure, as the
/// system calls behind it do; the layer above turns that into its results.
class SerialLine {
 public:
  virtual ~SerialLine() = default;
  SerialLine() = default;
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  /// Releases the device. On success the line is destroyed by its owner; on
  /// failure it stays usable (and open).
  virtual bool close() = 0;
  /// Chooses the line events to watch (SIO_EV_RXCHAR).
  virtual bool set_event_mask(uint32_t mask) = 0;
  /// Asks for input and output queues of these sizes in bytes.
  virtual bool setup_queues(uint32_t in_size, uint32_t out_size) = 0;
  /// Reads the line state into `state`.
  virtual bool get_state(sio_dcb_t& state) = 0;
  /// Sets the line state.
  virtual bool set_state(const sio_dcb_t& state) = 0;
  /// Reads the line's timeouts into `timeouts`.
  virtual bool get_timeouts(sio_timeouts_t& timeouts) = 0;
  /// Sets the line's timeouts.
  virtual bool set_timeouts(const sio_timeouts_t& timeouts) = 0;
  /// Carries out an escape function (SIO_SETDTR, SIO_CLRDTR).
  virtual bool escape(uint32_t function) = 0;
  /// Drops queued data or stops pending transfers (SIO_PURGE_* flags).
  virtual bool purge(uint32_t flags) = 0;
  /// Clears the line's error state and reports it, with the queue counts, in
  /// `status`.
  virtual bool clear_error(sio_status_t& status) = 0;
  /// Synchronous transfers under the line's timeouts: running out of time is
  /// success with a short count, as on Windows. `count` receives the bytes read.
  virtual bool read(std::span<uint8_t> buffer, std::size_t& count) = 0;
  /// Writes `buffer` under the line's timeouts; `count` receives the bytes written.
  virtual bool write(std::span<const uint8_t> buffer, std::size_t& count) = 0;
};

/// Opens lines by device name: exclusive, existing devices only.
class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  SerialBackend() = default;
  SerialBackend(const SerialBackend&) = delete;
  SerialBackend& operator=(const SerialBackend&) = delete;

  /// Null when the device cannot be opened.
  virtual std::unique_ptr<SerialLine> open(const char* name) = 0;
};

/// The back end of the operating system the library was built for.
SerialBackend& native_serial_backend();

}  // namespace plat
