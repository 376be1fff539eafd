/// @file
/// A simulated instrument on a pseudo-terminal (POSIX hosts): the library or
/// any host program opens device() as if it were a serial port.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/pty.h"
#include "sim/transport.h"

namespace sim {

/// A transport on a pseudo-terminal (see the file comment).
class PtyTransport final : public Transport {
 public:
  /// Opens a pseudo-terminal pair; ok() tells whether that worked.
  PtyTransport();

  /// False when no pseudo-terminal could be had.
  bool ok() const { return pty_->ok(); }
  std::string device() const override { return pty_->device(); }
  /// The line settings the library left on the terminal, seen from this end.
  bool settings(plat::PtyPair::Settings& out) const { return pty_->settings(out); }
  std::vector<uint8_t> receive(int wait_ms) override;
  bool send(std::span<const uint8_t> bytes, int64_t delay_ms = 0) override;
  /// The terminal stays open (a program holding the device sees no hang-up);
  /// it only stops answering and drops what it is sent.
  void disconnect() override;
  bool connected() const override { return connected_; }

 private:
  struct Pending {
    int64_t due;
    std::vector<uint8_t> bytes;
  };
  void send_due();

  /// The pair keeps its own slave descriptor, so the master end stays usable
  /// across the library's opens and closes.
  std::unique_ptr<plat::PtyPair> pty_;
  std::vector<Pending> pending_;
  std::atomic<bool> connected_ = true;
};

}  // namespace sim
