#include "sim/temperature_controller.h"

#include <cstdio>

namespace sim {

namespace {

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kEot = 0x04;

}  // namespace

TemperatureController::TemperatureController(std::string address)
    : address_(std::move(address)),
      // Process value, setpoint, output power, instrument mode and the two
      // configuration words the Lumen start-up sets.
      params_{{"PV", "20.0"},  {"SL", "20.0"},  {"OP", "0.0"},
              {"IM", "0000."}, {"QD", "0000."}, {"Q1", "0000."}} {}

std::vector<std::vector<uint8_t>> TemperatureController::handle(const Frame& request) {
  if (TemperatureFramer::address(request) != address_) return {};
  std::lock_guard lock(mutex_);
  switch (TemperatureFramer::kind(request)) {
    case TemperatureFramer::Kind::write: return {write(request)};
    case TemperatureFramer::Kind::read: return {read(request)};
    case TemperatureFramer::Kind::error_query: return {error_report()};
  }
  return {};
}

std::vector<uint8_t> TemperatureController::write(const Frame& request) {
  if (!request.intact) {
    error_ = kBadBlockCheck;
    return {kNak};
  }
  const std::string text = request.text();
  const auto it = text.size() >= 2 ? params_.find(text.substr(0, 2)) : params_.end();
  if (it == params_.end()) {
    error_ = kUnknownMnemonic;
    return {kNak};
  }
  it->second = text.substr(2);
  writes_.push_back(text);
  return {kAck};
}

std::vector<uint8_t> TemperatureController::read(const Frame& request) {
  const std::string mnemonic = request.text();
  const auto it = params_.find(mnemonic);
  if (it == params_.end()) return {kEot};
  return framer_.wrap(to_bytes(mnemonic + it->second));
}

// "EE>" and the error number in four hex digits.
std::vector<uint8_t> TemperatureController::error_report() {
  char text[8] = {};
  std::snprintf(text, sizeof text, "EE>%04X", static_cast<unsigned>(error_ & 0xFFFF));
  error_ = kNoError;
  return framer_.wrap(to_bytes(text));
}

std::optional<std::string> TemperatureController::value(const std::string& mnemonic) const {
  std::lock_guard lock(mutex_);
  const auto it = params_.find(mnemonic);
  if (it == params_.end()) return std::nullopt;
  return it->second;
}

void TemperatureController::set_value(const std::string& mnemonic, const std::string& value) {
  std::lock_guard lock(mutex_);
  params_[mnemonic] = value;
}

std::vector<std::string> TemperatureController::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

int TemperatureController::last_error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace sim
