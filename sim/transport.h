/// @file
/// The simulated instrument's end of a line. The runner only ever talks to a
/// transport, so one device model serves an in-memory link in unit tests and
/// a real terminal device that a person points a host program at.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

class MemorySerialPort;

/// The simulated instrument's end of a line (see the file comment).
class Transport {
 public:
  virtual ~Transport() = default;

  /// The name under which the library opens the other end.
  virtual std::string device() const = 0;
  /// What the library wrote since the last call. Waits up to `wait_ms` real
  /// milliseconds for a first byte (0: only looks).
  virtual std::vector<uint8_t> receive(int wait_ms) = 0;
  /// Bytes for the library, readable `delay_ms` after now on the library's
  /// clock. False once the line is dead.
  virtual bool send(std::span<const uint8_t> bytes, int64_t delay_ms = 0) = 0;
  /// The line goes dead for good: nothing more reaches the library.
  virtual void disconnect() = 0;
  /// False once the line is dead.
  virtual bool connected() const = 0;
};

/// Over a port of the in-memory back end. Delayed bytes are scheduled on the
/// port itself, so on a virtual clock they arrive exactly when due while the
/// library waits in a read. A dead line fails every read and write, as a
/// vanished USB adapter does.
class MemoryTransport final : public Transport {
 public:
  /// Over `port` (borrowed; it must outlive the transport), which the
  /// library opens as `name`.
  MemoryTransport(MemorySerialPort& port, std::string name);

  std::string device() const override { return name_; }
  std::vector<uint8_t> receive(int wait_ms) override;
  bool send(std::span<const uint8_t> bytes, int64_t delay_ms = 0) override;
  void disconnect() override;
  bool connected() const override { return connected_; }

 private:
  MemorySerialPort& port_;
  std::string name_;
  std::atomic<bool> connected_ = true;
};

}  // namespace sim
