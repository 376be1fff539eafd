/// @file
/// A simulated wave monitor: the source laser with its switching time, the
/// status words of "MS?", the calibration constants of "CC?" in the short
/// form (system gain) or the four-channel form (flag bit 30), and the
/// settings "RR=", "CL=" and "SS=". Commands are text lines ending in CR;
/// answers are little-endian words followed by ACK, or ACK or NAK alone.
///
/// Its command table is its own, written from the monitor's documentation
/// apart from the library's; an unknown command or a malformed argument is
/// refused with a NAK, as the monitor does. Faults of the line come from a
/// script, not from here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/framer.h"

namespace sim {

/// A simulated wave monitor (see the file comment).
class WaveMonitor final : public DeviceModel {
 public:
  static constexpr uint8_t kAck = 0x06;  ///< accepts a command
  static constexpr uint8_t kNak = 0x15;  ///< refuses a command

  /// The calibration constants of the four-channel form.
  struct Calibration {
    std::array<float, 4> adc_gain{};       ///< A to D
    float system_gain = 0;                 ///< system gain
    std::array<uint16_t, 4> adc_offset{};  ///< A to D
    std::array<float, 3> phase_offset{};   ///< 01, 12, 23
  };

  /// A monitor with the laser off and every status word 0.
  WaveMonitor();

  /// The monitor's line framing (CR-ended text).
  Framer& framer() { return framer_; }
  std::vector<std::vector<uint8_t>> handle(const Frame& request) override;

  // ---- state for tests and hosts

  /// The laser shows a new state this long (on the library's clock) after
  /// the command.
  void set_switch_delay_ms(int64_t ms) { switch_delay_ms_ = ms; }
  /// The laser state "LO?" shows now.
  bool laser_on() const;
  /// Status word i (0..8) of "MS?", as bits; floats through set_status_float.
  void set_status_word(int i, uint32_t bits) { status_.at(static_cast<std::size_t>(i)) = bits; }
  /// Status word i (0..8) of "MS?" as a float.
  void set_status_float(int i, float value);
  /// Status word i (0..8) of "MS?", as bits.
  uint32_t status_word(int i) const { return status_.at(static_cast<std::size_t>(i)); }
  /// Word 8: bit 0 calibrated, bit 30 four-channel calibration.
  void set_flags(uint32_t flags) { status_[8] = flags; }
  /// The constants "CC?" answers.
  void set_calibration(const Calibration& c) { cal_ = c; }
  // The values of the last RR=, CL= and SS= commands.
  /// The range of the last "RR=".
  int32_t ramp_range() const { return ramp_range_; }
  /// The buckets of the last "RR=".
  int32_t ramp_buckets() const { return ramp_buckets_; }
  /// The value of the last "CL=".
  int64_t cl() const { return cl_; }
  /// The text of the last "SS=".
  const std::string& ss() const { return ss_; }
  /// Requests that named a known command, whatever the answer.
  int commands() const { return commands_; }

  enum class Op : uint8_t;
  struct Entry;

 private:
  std::vector<uint8_t> answer(const Entry& e, const std::string& argument);

  LineFramer framer_;
  int64_t switch_delay_ms_ = 0;
  bool laser_ = false;         ///< the state asked for last
  bool laser_before_ = false;  ///< shown until the switch is done
  int64_t switch_done_ = 0;
  std::array<uint32_t, 9> status_{};
  Calibration cal_;
  int32_t ramp_range_ = 0, ramp_buckets_ = 0;
  int64_t cl_ = 0;
  std::string ss_;
  int commands_ = 0;
};

}  // namespace sim
