/// @file
/// A simulated temperature controller (the Euro2216e on its serial line):
/// a map of parameters by two-letter mnemonic, read with ENQ and written
/// between STX and ETX, and the error report of the "EE" query.
///
/// It answers a write with ACK, or with NAK for an unknown mnemonic or a bad
/// block check; a read with the data block, or with EOT for an unknown
/// mnemonic; messages for another address not at all. Faults of the line
/// come from a script, not from here.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/framer.h"

namespace sim {

/// A simulated temperature controller (see the file comment).
class TemperatureController final : public DeviceModel {
 public:
  /// The error numbers of the "EE" report, this simulator's own: the last
  /// refusal, cleared once reported.
  static constexpr int kNoError = 0;
  static constexpr int kBadBlockCheck = 1;    ///< a write's block check was wrong
  static constexpr int kUnknownMnemonic = 2;  ///< a write named an unknown mnemonic

  /// A controller answering at `address` (four characters).
  explicit TemperatureController(std::string address = "0011");

  /// The controller's message framing.
  Framer& framer() { return framer_; }
  std::vector<std::vector<uint8_t>> handle(const Frame& request) override;

  // ---- state for tests and hosts (safe from any thread)

  /// The parameter's value; nothing for an unknown mnemonic.
  std::optional<std::string> value(const std::string& mnemonic) const;
  /// Adds the parameter when it is new.
  void set_value(const std::string& mnemonic, const std::string& value);
  /// The texts of the writes accepted, in order.
  std::vector<std::string> writes() const;
  /// The error the next "EE" report gives.
  int last_error() const;

 private:
  std::vector<uint8_t> write(const Frame& request);
  std::vector<uint8_t> read(const Frame& request);
  std::vector<uint8_t> error_report();

  std::string address_;
  TemperatureFramer framer_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> params_;
  std::vector<std::string> writes_;
  int error_ = kNoError;
};

}  // namespace sim
