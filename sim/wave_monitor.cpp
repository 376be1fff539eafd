#include "sim/wave_monitor.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/hooks.h"

namespace sim {

enum class WaveMonitor::Op : uint8_t {
  laser_read,
  laser_set,
  status,
  calibration,
  ramp_range,
  cl,
  ss
};

struct WaveMonitor::Entry {
  const char* text;  // the command up to its argument
  Op op;
  bool argument;  // "=" commands carry one
};

namespace {

using Op = WaveMonitor::Op;

const WaveMonitor::Entry kCommands[] = {
    {"LO?", Op::laser_read, false},  {"LO=", Op::laser_set, true},  {"MS?", Op::status, false},
    {"CC?", Op::calibration, false}, {"RR=", Op::ramp_range, true}, {"CL=", Op::cl, true},
    {"SS=", Op::ss, true},
};

// An answer built in place: the longest is 40 bytes and the ACK.
class Answer {
 public:
  void put8(uint8_t b) { bytes_.at(n_++) = b; }
  void put16(uint16_t v) {
    put8(static_cast<uint8_t>(v & 0xFFu));
    put8(static_cast<uint8_t>(v >> 8));
  }
  void put32(uint32_t v) {
    for (int i = 0; i < 4; ++i) put8(static_cast<uint8_t>(v >> (8 * i) & 0xFFu));
  }
  void put_float(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    put32(bits);
  }
  std::vector<uint8_t> bytes() {
    bytes_.resize(n_);
    return bytes_;
  }

 private:
  std::vector<uint8_t> bytes_ = std::vector<uint8_t>(48);
  std::size_t n_ = 0;
};

// A whole decimal integer, nothing around it.
std::optional<int64_t> integer(std::string_view text) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

}  // namespace

WaveMonitor::WaveMonitor() : framer_("\r") {}

bool WaveMonitor::laser_on() const { return u_ticks_ms() >= switch_done_ ? laser_ : laser_before_; }

void WaveMonitor::set_status_float(int i, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  set_status_word(i, bits);
}

std::vector<std::vector<uint8_t>> WaveMonitor::handle(const Frame& request) {
  const std::string text = request.text();
  for (const Entry& e : kCommands) {
    const std::size_t n = std::strlen(e.text);
    if (text.compare(0, n, e.text) != 0) continue;
    if (!e.argument && text.size() != n) break;
    ++commands_;
    return {answer(e, text.substr(n))};
  }
  return {{kNak}};
}

std::vector<uint8_t> WaveMonitor::answer(const Entry& e, const std::string& argument) {
  Answer out;
  switch (e.op) {
    case Op::laser_read: out.put32(laser_on() ? 0x8000u : 0u); break;
    case Op::laser_set: {
      if (argument != "0" && argument != "1") return {kNak};
      laser_before_ = laser_on();
      laser_ = argument == "1";
      switch_done_ = u_ticks_ms() + switch_delay_ms_;
      break;
    }
    case Op::status:
      for (uint32_t w : status_) out.put32(w);
      break;
    case Op::calibration:
      if ((status_[8] & (1u << 30)) == 0) {
        out.put_float(cal_.system_gain);
        break;
      }
      for (float g : cal_.adc_gain) out.put_float(g);
      out.put_float(cal_.system_gain);
      for (uint16_t o : cal_.adc_offset) out.put16(o);
      for (float p : cal_.phase_offset) out.put_float(p);
      break;
    case Op::ramp_range: {
      const std::size_t comma = argument.find(',');
      if (comma == std::string::npos) return {kNak};
      const auto range = integer(std::string_view(argument).substr(0, comma));
      const auto buckets = integer(std::string_view(argument).substr(comma + 1));
      if (!range || !buckets) return {kNak};
      ramp_range_ = static_cast<int32_t>(*range);
      ramp_buckets_ = static_cast<int32_t>(*buckets);
      out.put32(static_cast<uint32_t>(ramp_range_));
      out.put32(static_cast<uint32_t>(ramp_buckets_));
      break;
    }
    case Op::cl: {
      const auto v = integer(argument);
      if (!v) return {kNak};
      cl_ = *v;
      break;
    }
    case Op::ss:
      if (argument.empty()) return {kNak};
      ss_ = argument;
      break;
  }
  out.put8(kAck);
  return out.bytes();
}

}  // namespace sim
