#include "sim/motion_controller.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

#include "common/hooks.h"

namespace sim {

uint8_t motion_checksum(std::span<const uint8_t> bytes) {
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>((sum & 0x3Fu) | 0x40u);
}

enum class MotionController::Op : uint8_t {
  setting,  // kept in non-volatile memory: only recorded
  accel,
  rate,
  ss_rate,
  mode,
  fkeys_on,
  fkeys_off,
  fkey_label,
  joy_on,
  joy_off,
  reports_on,
  reports_off,
  axis_reports,
  move,
  find_home,
  go_home,
  stop,
  status,
  errors,
  positions,
  revision,
  home_state,
  config,
  set_config,
  axis_config,
  set_axis_config,
  z_home,
};

// How a command's arguments look.
enum class Args : uint8_t {
  none,
  any,          // settings: whatever the host sends
  axis_or_all,  // axis 0..5, or 6 for all
  axis,         // axis 0..5
  joy_axis,     // axis 0..5, 6 for all, 7 for none
  one,          // one number
  word,         // a word of up to four characters, or none
  word_two,     // a word and two numbers
};

struct MotionController::Entry {
  char code[3];
  Op op;
  Args args;
  int values;                        // numbers after the axis
  int min_major = 0, min_minor = 0;  // the firmware that has it
};

namespace {

using Op = MotionController::Op;
using Entry = MotionController::Entry;

const Entry kCodes[] = {
    {"AA", Op::accel, Args::axis_or_all, 1},
    {"AR", Op::rate, Args::axis_or_all, 1},
    {"AS", Op::ss_rate, Args::axis_or_all, 1},
    {"MM", Op::mode, Args::axis_or_all, 1},
    {"FE", Op::fkeys_on, Args::none, 0},
    {"FD", Op::fkeys_off, Args::none, 0},
    {"FK", Op::fkey_label, Args::word, 0},
    {"JE", Op::joy_on, Args::joy_axis, 0},
    {"JD", Op::joy_off, Args::axis_or_all, 0},
    {"PE", Op::reports_on, Args::none, 0, 0, 4},
    {"PD", Op::reports_off, Args::none, 0},
    {"AP", Op::axis_reports, Args::axis_or_all, 1, 2, 1},
    {"MV", Op::move, Args::axis, 1},
    {"FH", Op::find_home, Args::axis, 0},
    {"GH", Op::go_home, Args::axis, 0},
    {"ST", Op::stop, Args::axis_or_all, 0},
    {"RS", Op::status, Args::none, 0},
    {"RE", Op::errors, Args::none, 0},
    {"RP", Op::positions, Args::none, 0},
    {"RR", Op::revision, Args::none, 0},
    {"HS", Op::home_state, Args::axis, 0, 2, 0},
    {"RC", Op::config, Args::none, 0},
    {"CF", Op::set_config, Args::word_two, 0},
    {"GC", Op::axis_config, Args::axis, 0},
    {"SF", Op::set_axis_config, Args::axis, 1},
    {"ZH", Op::z_home, Args::one, 0, 2, 0},
    // The settings of the configuration file, and the joystick and motion
    // chip set-up.
    {"JN", Op::setting, Args::any, 0},
    {"ZD", Op::setting, Args::any, 0},
    {"GA", Op::setting, Args::any, 0},
    {"GE", Op::setting, Args::any, 0},
    {"HT", Op::setting, Args::any, 0},
    {"GL", Op::setting, Args::any, 0},
    {"LD", Op::setting, Args::any, 0},
    {"LP", Op::setting, Args::any, 0},
    {"HD", Op::setting, Args::any, 0},
    {"DV", Op::setting, Args::any, 0},
    {"DR", Op::setting, Args::any, 0},
    {"PR", Op::setting, Args::any, 0},
    {"MR", Op::setting, Args::any, 0},
    {"DO", Op::setting, Args::any, 0},
    {"DF", Op::setting, Args::any, 0},
    {"DL", Op::setting, Args::any, 0},
    {"SC", Op::setting, Args::any, 0},
    {"SK", Op::setting, Args::any, 0},
    {"MS", Op::setting, Args::any, 0},
    {"MA", Op::setting, Args::any, 0},
    {"PS", Op::setting, Args::any, 0},
    {"PA", Op::setting, Args::any, 0},
    {"AL", Op::setting, Args::any, 0},
    {"AH", Op::setting, Args::any, 0},
    {"MU", Op::setting, Args::any, 0},
    {"PT", Op::setting, Args::any, 0},
    {"NM", Op::setting, Args::any, 0},
    {"EK", Op::setting, Args::any, 0},
    {"SD", Op::setting, Args::any, 0},
    {"ER", Op::setting, Args::any, 0},
    {"SA", Op::setting, Args::any, 0},
    {"IA", Op::setting, Args::any, 0},
    {"HL", Op::setting, Args::any, 0},
    {"JZ", Op::setting, Args::any, 0},
    {"PV", Op::setting, Args::any, 0},
    {"ZR", Op::setting, Args::any, 0},
    {"MC", Op::setting, Args::any, 0},
    {"FR", Op::setting, Args::any, 0},
    {"BL", Op::setting, Args::any, 0},
    {"AJ", Op::setting, Args::any, 0},
    {"JL", Op::setting, Args::any, 0},
};

// Counts per millisecond are velocity × 8000 / 32768, that is v / 4.096.
constexpr int64_t kRateDivisor = 4096;
constexpr int64_t kRateUnit = 1000;

const Entry* find(std::string_view code) {
  for (const Entry& e : kCodes)
    if (code == e.code) return &e;
  return nullptr;
}

std::optional<int64_t> integer(std::string_view text) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

// Blank-separated words; at most `limit` of them are kept (more: none).
std::vector<std::string_view> words(std::string_view text, std::size_t limit, bool& too_many) {
  std::vector<std::string_view> out(limit);
  std::size_t n = 0;
  too_many = false;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    const std::size_t end = std::min(text.find(' ', i), text.size());
    if (n == limit) {
      too_many = true;
      break;
    }
    out[n++] = text.substr(i, end - i);
    i = end;
  }
  out.resize(n);
  return out;
}

// A reply text built from words and numbers, the same on every platform.
class Text {
 public:
  explicit Text(std::string_view code) : s_(code) {}
  Text& num(int64_t v) {
    std::array<char, 24> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    s_ += ' ';
    s_.append(buf.data(), r.ptr);
    return *this;
  }
  Text& word(std::string_view w) {
    s_ += ' ';
    s_ += w;
    return *this;
  }
  // The replies with a closing blank.
  Text& blank() {
    s_ += ' ';
    return *this;
  }
  const std::string& str() const { return s_; }

 private:
  std::string s_;
};

}  // namespace

MotionController::MotionController() : framer_("\n", &motion_checksum) {}

bool MotionController::firmware_at_least(int major, int minor) const {
  return major_ > major || (major_ == major && minor_ >= minor);
}

int64_t MotionController::position_locked(const Axis& a, int64_t now) const {
  if (!a.moving) return a.position;
  const int64_t span = a.goal - a.position;
  const int64_t dist = span < 0 ? -span : span;
  const int64_t travelled =
      (std::min(now, a.end_ms) - a.start_ms) * a.velocity * kRateUnit / kRateDivisor;
  if (travelled >= dist) return a.goal;
  return span < 0 ? a.position - travelled : a.position + travelled;
}

int MotionController::status_locked(const Axis& a) const {
  if (!a.setup.present) return kUnavailable;
  if (killed_) return kKillSwitch;
  if (a.invalid) return kInvalidMove;
  if (a.moving || a.homing) return kMoving;
  if (a.joystick) return kJoystick;
  if (a.error != kNoError) return kStoppedError;
  return kStopped;
}

int MotionController::error_locked(const Axis& a) const {
  if (!a.setup.present) return kNoError;
  return killed_ ? kKilled : a.error;
}

void MotionController::emit_locked(std::string_view text) {
  outbox_.push_back(framer_.wrap(to_bytes(text)));
}

void MotionController::settle_locked(int64_t now) {
  for (std::size_t i = 0; i < axes_.size(); ++i) {
    Axis& a = axes_[i];
    if (a.moving && now >= a.end_ms) {
      a.position = a.goal;
      a.moving = false;
      a.error = a.end_error;
    }
    if (a.homing && now >= a.home_due) {
      a.homing = false;
      if (a.setup.home_found) {
        a.homed = true;
        a.position = a.setup.home_position;
      }
      emit_locked(
          Text("FH").num(static_cast<int64_t>(i)).num(a.setup.home_found ? 1 : 0).blank().str());
    }
  }
}

void MotionController::halt_locked(Axis& a, int64_t now) {
  a.position = position_locked(a, now);
  a.moving = false;
  a.homing = false;
}

void MotionController::move_locked(Axis& a, int64_t value, int64_t now) {
  if (!a.setup.present || killed_) return;
  const int64_t target = a.mode == 1 ? value : a.position + value;
  const int64_t distance = target - a.position;
  int refusal = kNoError;
  if (a.moving || a.homing) {
    refusal = kBusy;
  } else if (a.joystick) {
    refusal = kJoystickOn;
  } else if (a.mode == 1 && !a.homed) {
    refusal = kNoHome;
  } else if (distance > kLongestMove || distance < -kLongestMove) {
    refusal = kTooLarge;
  }
  if (refusal != kNoError) {
    a.invalid = true;
    a.error = refusal;
    return;
  }
  a.invalid = false;
  a.error = kNoError;
  a.end_error = kNoError;
  a.target = target;
  a.goal = target;
  if (target >= a.setup.high_limit && distance > 0) {
    a.goal = std::max(a.setup.high_limit, a.position);
    a.end_error = kLimit;
  } else if (target <= a.setup.low_limit && distance < 0) {
    a.goal = std::min(a.setup.low_limit, a.position);
    a.end_error = kLimit;
  }
  const int64_t span = a.goal > a.position ? a.goal - a.position : a.position - a.goal;
  const int64_t per_ms_scaled = a.velocity * kRateUnit;
  a.start_ms = now;
  a.end_ms = now + (span * kRateDivisor + per_ms_scaled - 1) / per_ms_scaled;
  a.moving = true;
}

std::vector<std::vector<uint8_t>> MotionController::handle(const Frame& request) {
  std::lock_guard lock(mutex_);
  const int64_t now = u_ticks_ms();
  settle_locked(now);
  const std::vector<uint8_t> nak = framer_.wrap(std::vector<uint8_t>{kNak});
  const std::string text = request.text();
  const Entry* e =
      request.intact && text.size() >= 2 ? find(std::string_view(text).substr(0, 2)) : nullptr;
  if (e == nullptr || !firmware_at_least(e->min_major, e->min_minor)) {
    ++naks_;
    return {nak};
  }
  // At most an axis (or word) and two numbers; settings take up to eight.
  const std::size_t limit = e->args == Args::any ? 8 : 3;
  bool too_many = false;
  const auto w = words(std::string_view(text).substr(2), limit, too_many);
  std::vector<int64_t> numbers(w.size());
  std::string_view word;
  bool ok = !too_many && (text.size() == 2 || text[2] == ' ');
  std::size_t first_number = 0;
  if (e->args == Args::word || e->args == Args::word_two) {
    if (!w.empty()) word = w[0];
    first_number = 1;
    ok = ok && word.size() <= (e->args == Args::word ? 4u : 32u);
  }
  std::size_t n = 0;
  for (std::size_t i = first_number; ok && i < w.size(); ++i) {
    const auto v = integer(w[i]);
    if (v) {
      numbers[n++] = *v;
    } else {
      ok = e->args == Args::any;
    }
  }
  numbers.resize(n);
  std::size_t wanted = 0;
  switch (e->args) {
    case Args::none: wanted = 0; break;
    case Args::any: wanted = n; break;
    case Args::word: wanted = 0; break;
    case Args::word_two: wanted = 2; break;
    case Args::one: wanted = 1; break;
    default: wanted = 1 + static_cast<std::size_t>(e->values); break;
  }
  if (e->args == Args::word && w.size() > 1) ok = false;
  std::string reply;
  if (!ok || n != wanted || !execute(*e, numbers, word, reply)) {
    ++naks_;
    return {nak};
  }
  commands_.push_back(text);
  std::vector<std::vector<uint8_t>> out(reply.empty() ? 1 : 2);
  out[0] = framer_.wrap(std::vector<uint8_t>{kAck});
  if (!reply.empty()) out[1] = framer_.wrap(to_bytes(reply));
  return out;
}

bool MotionController::execute(const Entry& e, std::span<const int64_t> args, std::string_view word,
                               std::string& reply) {
  const int64_t now = u_ticks_ms();
  // The axes a command names: one, or all six.
  std::size_t first = 0, last = 0;
  if (e.args == Args::axis_or_all || e.args == Args::axis || e.args == Args::joy_axis) {
    const int64_t top = e.args == Args::axis       ? kAxes - 1
                        : e.args == Args::joy_axis ? kAxes + 1
                                                   : kAllAxes;
    if (args[0] < 0 || args[0] > top) return false;
    if (args[0] == kAxes + 1) return true;  // JE 7: no axis of its own
    first = args[0] == kAllAxes ? 0 : static_cast<std::size_t>(args[0]);
    last = args[0] == kAllAxes ? kAxes - 1 : first;
  }
  auto each = [&](auto action) {
    for (std::size_t i = first; i <= last; ++i) action(axes_[i]);
  };
  auto in_range = [&](int64_t lo, int64_t hi) { return args[1] >= lo && args[1] <= hi; };
  switch (e.op) {
    case Op::setting: return true;
    case Op::accel:
      if (!in_range(1, 0x7FFF)) return false;
      each([&](Axis& a) { a.accel = static_cast<int>(args[1]); });
      return true;
    case Op::rate:
      if (!in_range(1, 0x3FFF)) return false;
      each([&](Axis& a) { a.velocity = static_cast<int>(args[1]); });
      return true;
    case Op::ss_rate:
      if (!in_range(1, 5000)) return false;
      each([&](Axis& a) { a.ss_velocity = static_cast<int>(args[1]); });
      return true;
    case Op::mode:
      if (!in_range(0, 1)) return false;
      each([&](Axis& a) { a.mode = static_cast<int>(args[1]); });
      return true;
    case Op::fkeys_on: fkeys_ = true; return true;
    case Op::fkeys_off: fkeys_ = false; return true;
    case Op::fkey_label: labels_.emplace_back(word); return true;
    case Op::joy_on:
      each([&](Axis& a) {
        if (!a.setup.present || killed_) return;
        halt_locked(a, now);
        a.invalid = false;
        a.error = kNoError;
        a.joystick = true;
      });
      return true;
    case Op::joy_off: each([&](Axis& a) { a.joystick = false; }); return true;
    case Op::reports_on:
      if (!reports_) next_report_ = now + report_period_;
      reports_ = true;
      return true;
    case Op::reports_off: reports_ = false; return true;
    case Op::axis_reports: each([&](Axis& a) { a.reports = args[1] != 0; }); return true;
    case Op::move: move_locked(axes_[first], args[1], now); return true;
    case Op::go_home: {
      Axis& a = axes_[first];
      if (!a.homed && a.setup.present && !killed_) {
        a.invalid = true;
        a.error = kNoHome;
        return true;
      }
      const int mode = a.mode;
      a.mode = 1;
      move_locked(a, a.setup.home_position, now);
      a.mode = mode;
      return true;
    }
    case Op::find_home: {
      Axis& a = axes_[first];
      if (!a.setup.present || killed_) return true;
      halt_locked(a, now);
      a.invalid = false;
      a.error = kNoError;
      a.joystick = false;
      a.homed = false;
      a.homing = true;
      a.home_due = now + a.setup.home_delay_ms;
      return true;
    }
    case Op::stop:
      each([&](Axis& a) {
        halt_locked(a, now);
        a.invalid = false;
        a.error = kNoError;
      });
      return true;
    case Op::status:
    case Op::errors: {
      Text t(e.code);
      for (const Axis& a : axes_) t.num(e.op == Op::status ? status_locked(a) : error_locked(a));
      t.num(e.op == Op::status ? (killed_ ? kKillSwitch : kStopped)
                               : (killed_ ? kKilled : kNoError));
      reply = t.str();
      return true;
    }
    case Op::positions: {
      Text t("RP");
      for (const Axis& a : axes_) t.num(a.setup.present ? position_locked(a, now) : kUnknown);
      reply = t.str();
      return true;
    }
    case Op::revision: reply = Text("RR").num(major_).num(minor_).blank().str(); return true;
    case Op::home_state:
      reply = Text("HS").num(args[0]).num(axes_[first].homed ? 1 : 0).blank().str();
      return true;
    case Op::config:
      reply = Text("RC").word(config_name_).num(config_first_).num(config_second_).blank().str();
      return true;
    case Op::set_config:
      if (word.empty()) return false;
      config_name_ = word;
      config_first_ = static_cast<int>(args[0]);
      config_second_ = static_cast<int>(args[1]);
      return true;
    case Op::axis_config:
      reply = Text("GC").num(args[0]).num(axes_[first].setup.config).blank().str();
      return true;
    case Op::set_axis_config: axes_[first].setup.config = static_cast<int>(args[1]); return true;
    case Op::z_home: {
      Axis& a = axes_[static_cast<std::size_t>(z_axis_)];
      if (status_locked(a) != kStoppedError || a.error != kLimit) {
        reply = Text("ZH").num(1).str();
        return true;
      }
      // The switch stays where it is; only the counting moves.
      const int64_t shift = args[0] - a.position;
      if (a.setup.low_limit != -kNoLimit) a.setup.low_limit += shift;
      if (a.setup.high_limit != kNoLimit) a.setup.high_limit += shift;
      a.position = args[0];
      a.target = a.goal = args[0];
      a.error = kNoError;
      a.homed = true;
      reply = Text("ZH").num(0).str();
      return true;
    }
  }
  return false;
}

std::vector<std::vector<uint8_t>> MotionController::unasked() {
  std::lock_guard lock(mutex_);
  const int64_t now = u_ticks_ms();
  settle_locked(now);
  if (reports_ && now >= next_report_) {
    Text t("RP");
    for (const Axis& a : axes_)
      t.num(a.setup.present && a.reports ? position_locked(a, now) : kUnknown);
    emit_locked(t.str());
    next_report_ = now + report_period_;
  }
  std::vector<std::vector<uint8_t>> out;
  out.swap(outbox_);
  return out;
}

int64_t MotionController::next_unasked_ms() const {
  std::lock_guard lock(mutex_);
  if (!outbox_.empty()) return 0;
  int64_t next = reports_ ? next_report_ : kNever;
  for (const Axis& a : axes_)
    if (a.homing) next = std::min(next, a.home_due);
  return next;
}

// ---- test-facing state

void MotionController::set_firmware(int major, int minor) {
  std::lock_guard lock(mutex_);
  major_ = major;
  minor_ = minor;
}

void MotionController::set_axis(int axis, const AxisSetup& setup) {
  std::lock_guard lock(mutex_);
  Axis& a = axes_.at(static_cast<std::size_t>(axis));
  a.setup = setup;
  a.homed = setup.homed;
  a.position = a.target = a.goal = setup.position;
  a.moving = a.homing = a.invalid = a.joystick = false;
  a.error = kNoError;
}

void MotionController::set_home_delay_ms(int64_t ms) {
  std::lock_guard lock(mutex_);
  for (Axis& a : axes_) a.setup.home_delay_ms = ms;
}

void MotionController::set_z_axis(int axis) {
  std::lock_guard lock(mutex_);
  z_axis_ = std::clamp(axis, 0, kAxes - 1);
}

void MotionController::set_report_period_ms(int64_t ms) {
  std::lock_guard lock(mutex_);
  report_period_ = std::max<int64_t>(ms, 1);
}

void MotionController::set_config(std::string name, int first, int second) {
  std::lock_guard lock(mutex_);
  config_name_ = std::move(name);
  config_first_ = first;
  config_second_ = second;
}

bool MotionController::hit_limit(int axis, int error) {
  std::lock_guard lock(mutex_);
  const int64_t now = u_ticks_ms();
  settle_locked(now);
  Axis& a = axes_.at(static_cast<std::size_t>(axis));
  if (!a.moving) return false;
  halt_locked(a, now);
  a.error = error;
  return true;
}

bool MotionController::press_function_key(int key) {
  std::lock_guard lock(mutex_);
  if (!fkeys_) return false;
  emit_locked(Text("RF").num(key).str());
  return true;
}

bool MotionController::move_joystick(int axis, int64_t counts) {
  std::lock_guard lock(mutex_);
  settle_locked(u_ticks_ms());
  Axis& a = axes_.at(static_cast<std::size_t>(axis));
  if (!a.joystick || killed_ || !a.setup.present) return false;
  a.position = std::clamp(a.position + counts, a.setup.low_limit, a.setup.high_limit);
  a.target = a.goal = a.position;
  return true;
}

void MotionController::emergency_stop() {
  std::lock_guard lock(mutex_);
  const int64_t now = u_ticks_ms();
  settle_locked(now);
  for (Axis& a : axes_) {
    halt_locked(a, now);
    a.homed = false;
  }
  killed_ = true;
  emit_locked("EP");
}

void MotionController::release_emergency_stop() {
  std::lock_guard lock(mutex_);
  killed_ = false;
  for (Axis& a : axes_) {
    a.error = kNoError;
    a.invalid = false;
  }
  emit_locked("EL");
}

void MotionController::reset_needed() {
  std::lock_guard lock(mutex_);
  emit_locked("EL");
}

MotionController::AxisView MotionController::axis(int axis) const {
  std::lock_guard lock(mutex_);
  const int64_t now = u_ticks_ms();
  const Axis& a = axes_.at(static_cast<std::size_t>(axis));
  AxisView v;
  // Seen as at the time of asking, without settling: a move that has ended
  // by now shows as ended.
  const bool ended = a.moving && now >= a.end_ms;
  Axis seen = a;
  if (ended) {
    seen.moving = false;
    seen.position = a.goal;
    seen.error = a.end_error;
  }
  const bool searched = a.homing && now >= a.home_due;
  if (searched) {
    seen.homing = false;
    seen.homed = a.setup.home_found;
    if (a.setup.home_found) seen.position = a.setup.home_position;
  }
  v.status = status_locked(seen);
  v.error = error_locked(seen);
  v.position = position_locked(seen, now);
  v.target = seen.target;
  v.homed = seen.homed;
  v.homing = seen.homing;
  v.joystick = seen.joystick;
  v.reports = seen.reports;
  v.mode = seen.mode;
  v.accel = seen.accel;
  v.velocity = seen.velocity;
  v.ss_velocity = seen.ss_velocity;
  return v;
}

std::vector<std::string> MotionController::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::string MotionController::last(std::string_view code) const {
  std::lock_guard lock(mutex_);
  for (auto it = commands_.rbegin(); it != commands_.rend(); ++it)
    if (std::string_view(*it).substr(0, 2) == code) return *it;
  return {};
}

int MotionController::naks() const {
  std::lock_guard lock(mutex_);
  return naks_;
}

bool MotionController::reports_on() const {
  std::lock_guard lock(mutex_);
  return reports_;
}

bool MotionController::fkeys_enabled() const {
  std::lock_guard lock(mutex_);
  return fkeys_;
}

std::vector<std::string> MotionController::fkey_labels() const {
  std::lock_guard lock(mutex_);
  return labels_;
}

bool MotionController::stopped_by_button() const {
  std::lock_guard lock(mutex_);
  return killed_;
}

}  // namespace sim
