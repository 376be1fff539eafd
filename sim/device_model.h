/// @file
/// A simulated instrument: it owns the instrument's state and answers each
/// request the framer cut from the line. Faults and expectations are the
/// script's business, never the model's, so a model stays a faithful copy of
/// the instrument.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "sim/framer.h"

namespace sim {

/// A simulated instrument (see the file comment).
class DeviceModel {
 public:
  virtual ~DeviceModel() = default;
  /// The answers to one request, each a complete frame, in the order they go
  /// out; none for a request the instrument ignores.
  virtual std::vector<std::vector<uint8_t>> handle(const Frame& request) = 0;

  // Instruments that speak unasked (reports, a key pressed, a reply that
  // comes when a search ends): the frames due by now on the library's
  // clock, taken away; and when the next one falls due (kNever: none
  // planned), so that a line can wake the runner on time.

  /// next_unasked_ms's answer when nothing is planned.
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
  /// The frames the instrument sends unasked that are due by now on the
  /// library's clock, taken away. None by default.
  virtual std::vector<std::vector<uint8_t>> unasked() { return {}; }
  /// When the next unasked frame falls due on the library's clock (kNever:
  /// none planned), so that a line can wake the runner on time.
  virtual int64_t next_unasked_ms() const { return kNever; }
};

/// The smallest useful instrument: answers every intact request with "ACK"
/// and its text, a damaged one with a NAK byte, and "COUNT?" with how many
/// intact requests it has seen.
class EchoDevice final : public DeviceModel {
 public:
  static constexpr uint8_t kNak = 0x15;  ///< the answer to a damaged request

  /// Answers in `framing`'s frames; the framer is borrowed and must outlive
  /// the device.
  explicit EchoDevice(const Framer& framing) : framing_(framing) {}
  std::vector<std::vector<uint8_t>> handle(const Frame& request) override;
  /// The intact requests seen so far.
  int requests() const { return requests_; }

 private:
  const Framer& framing_;
  int requests_ = 0;
};

/// A loopback plug: every byte goes straight back as it came, whatever its
/// value and however the line cut it up (use it with a RawFramer). For byte
/// transparency tests of a line and the layers above it.
class LoopbackDevice final : public DeviceModel {
 public:
  std::vector<std::vector<uint8_t>> handle(const Frame& request) override;
};

}  // namespace sim
