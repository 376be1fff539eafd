#include "sim/motion_wrapper/wrapper_axes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// The controller a host gets without any set-up: X, Y and Z.
struct Preset {
  char letter;
  double pitch, travel_min, travel_max;
};
constexpr Preset kPresets[] = {
    {'X', 25400, -4, 4},
    {'Y', 25400, -4, 4},
    {'Z', 50800, -1, 1},
};

void copy_text(const std::string& text, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

int32_t to_counts(double value, double pitch) {
  return static_cast<int32_t>(std::lround(value * pitch));
}

}  // namespace

WrapperAxes::WrapperAxes() { reset(); }

WrapperAxes::~WrapperAxes() { stop_thread(); }

void WrapperAxes::stop_thread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  stop_ = false;
}

void WrapperAxes::reset() {
  stop_thread();
  std::lock_guard lock(mutex_);
  clock_ = nullptr;
  for (Axis& a : axes_) a = Axis{};
  for (std::size_t i = 0; i < std::size(kPresets); ++i) {
    Axis& a = axes_[i];
    a.letter = kPresets[i].letter;
    a.pitch = kPresets[i].pitch;
    a.travel_min = kPresets[i].travel_min;
    a.travel_max = kPresets[i].travel_max;
    a.node = static_cast<int32_t>(i + 1);
  }
  faults_.clear();
  forced_text_.clear();
  error_text_.clear();
  estop_ = open_ = initialised_ = reports_ = false;
  handle_ = -1;
  events_.clear();
  log_.clear();
  inits_ = 0;
  last_open_ = OpenArgs{};
  on_pdo_ = nullptr;
  on_emcy_ = nullptr;
  fired_.clear();
  fired_count_ = delivered_ = 0;
}

// ---- controls

void WrapperAxes::set_clock(int64_t (*now_ms)()) {
  std::lock_guard lock(mutex_);
  clock_ = now_ms;
}

void WrapperAxes::setup_axis(int axis, char letter, double pitch, double travel_min,
                             double travel_max, double travel_zero, int32_t home_type,
                             int32_t node) {
  if (axis < 0 || axis >= kAxes) return;
  std::lock_guard lock(mutex_);
  Axis& a = axes_[axis];
  a = Axis{};
  a.letter = letter;
  a.pitch = pitch;
  a.travel_min = travel_min;
  a.travel_max = travel_max;
  a.travel_zero = travel_zero;
  a.home_type = home_type;
  a.node = node;
}

void WrapperAxes::fail_next(const std::string& function, int code, int times) {
  std::lock_guard lock(mutex_);
  faults_[function] = Fault{code, times};
}

void WrapperAxes::set_joystick_stuck(int axis, bool stuck) {
  if (axis < 0 || axis >= kAxes) return;
  std::lock_guard lock(mutex_);
  axes_[axis].joystick_stuck = stuck;
}

void WrapperAxes::set_error_text(const std::string& text) {
  std::lock_guard lock(mutex_);
  forced_text_ = text;
}

void WrapperAxes::set_estop(bool on) {
  std::lock_guard lock(mutex_);
  if (on && !estop_) {
    events_.emplace_back(5, 0);
    for (Axis& a : axes_) a.moving = a.homing = false;
  }
  estop_ = on;
}

void WrapperAxes::set_following_error(int axis, int32_t counts) {
  if (axis < 0 || axis >= kAxes) return;
  std::lock_guard lock(mutex_);
  axes_[axis].following_error = counts;
}

void WrapperAxes::queue_event(int32_t kind, int32_t value) {
  std::lock_guard lock(mutex_);
  events_.emplace_back(kind, value);
}

void WrapperAxes::fire_pdo(uint32_t cob_id, uint32_t value, const uint8_t data[8]) {
  Fired e;
  e.v1 = cob_id;
  e.v2 = value;
  if (data != nullptr) std::memcpy(e.data, data, 8);
  fire(e);
}

void WrapperAxes::fire_emcy(uint32_t value1, uint32_t value2, uint32_t value3, uint8_t value4,
                            const uint8_t five[5], uint8_t value6) {
  Fired e;
  e.pdo = false;
  e.v1 = value1;
  e.v2 = value2;
  e.v3 = value3;
  e.v4 = value4;
  e.v6 = value6;
  if (five != nullptr) std::memcpy(e.data, five, 5);
  fire(e);
}

void WrapperAxes::fire(const Fired& event) {
  std::lock_guard lock(mutex_);
  fired_.push_back(event);
  ++fired_count_;
  if (!thread_.joinable()) thread_ = std::thread([this] { run_events(); });
  changed_.notify_all();
}

// The library's own event thread: hands each fired event to the callbacks
// registered at the time it is handed on.
void WrapperAxes::run_events() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || !fired_.empty(); });
      if (stop_) return;
    }
    std::lock_guard deliver(deliver_mutex_);
    Fired e;
    mwi_pdo_callback_t on_pdo = nullptr;
    mwi_emcy_callback_t on_emcy = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (fired_.empty()) continue;
      e = fired_.front();
      fired_.pop_front();
      on_pdo = on_pdo_;
      on_emcy = on_emcy_;
    }
    if (e.pdo && on_pdo != nullptr) on_pdo(e.v1, e.v2, e.data);
    if (!e.pdo && on_emcy != nullptr) on_emcy(e.v1, e.v2, e.v3, e.v4, e.data, e.v6);
    {
      std::lock_guard lock(mutex_);
      ++delivered_;
    }
    changed_.notify_all();
  }
}

int WrapperAxes::wait_fired(int timeout_ms) {
  std::unique_lock lock(mutex_);
  const bool all = changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                     [this] { return delivered_ == fired_count_; });
  return all ? delivered_ : -1;
}

std::vector<std::string> WrapperAxes::call_log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void WrapperAxes::clear_call_log() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

int WrapperAxes::init_count() const {
  std::lock_guard lock(mutex_);
  return inits_;
}

WrapperAxes::OpenArgs WrapperAxes::last_open() const {
  std::lock_guard lock(mutex_);
  return last_open_;
}

// ---- time and motion

int64_t WrapperAxes::now_locked() const {
  if (clock_ != nullptr) return clock_();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void WrapperAxes::start_move_locked(Axis& a, int32_t to) {
  a.from = a.position;
  a.to = to;
  a.start_ms = now_locked();
  const double distance = std::fabs(static_cast<double>(to) - a.from);
  a.end_ms =
      a.start_ms + static_cast<int64_t>(std::ceil(distance * 1000.0 / std::max(a.velocity, 1)));
  a.moving = true;
  a.at_limit = false;
}

void WrapperAxes::update_locked() {
  const int64_t now = now_locked();
  for (Axis& a : axes_) {
    if (!a.moving) continue;
    if (now >= a.end_ms) {
      a.position = a.to;
      a.moving = false;
      if (a.homing) {
        a.homing = false;
        a.homed = true;
      }
      continue;
    }
    const double done =
        static_cast<double>(now - a.start_ms) / static_cast<double>(a.end_ms - a.start_ms);
    a.position = static_cast<int32_t>(std::lround(a.from + (a.to - a.from) * done));
  }
}

// ---- the calls

int WrapperAxes::failed_locked(const char* name, int code, const char* why) {
  error_text_ = forced_text_.empty() ? std::string(name) + ": " + why : forced_text_;
  return code;
}

int WrapperAxes::enter_locked(const char* name, mwi_handle_t h, int axis, bool check_handle) {
  char line[96];
  if (axis >= 0)
    std::snprintf(line, sizeof line, "%s %d", name, axis);
  else
    std::snprintf(line, sizeof line, "%s", name);
  log_.emplace_back(line);
  error_text_.clear();
  update_locked();
  if (auto f = faults_.find(name); f != faults_.end() && f->second.times > 0) {
    --f->second.times;
    return failed_locked(name, f->second.code, "injected failure");
  }
  if (check_handle && (!open_ || h != handle_)) return failed_locked(name, kComm, "not open");
  if (axis >= kAxes || (axis >= 0 && axes_[axis].letter == 0))
    return failed_locked(name, kAxisAbsent, "no such axis");
  return 0;
}

int WrapperAxes::init() {
  std::lock_guard lock(mutex_);
  ++inits_;
  if (const int rc = enter_locked("InitMotionWrapperInterface_MWI", -1, -1, false)) return rc;
  initialised_ = true;
  return 0;
}

int WrapperAxes::close_interface() {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("CloseMotionWrapperInterface_MWI", -1, -1, false)) return rc;
  initialised_ = false;
  return 0;
}

int WrapperAxes::open(const char* path, const uint8_t* mac, mwi_handle_t* handle, uint8_t option8,
                      int32_t option32) {
  std::lock_guard lock(mutex_);
  ++last_open_.count;
  last_open_.path = path != nullptr ? path : "";
  last_open_.has_mac = mac != nullptr;
  if (mac != nullptr) std::memcpy(last_open_.mac, mac, 6);
  last_open_.option8 = option8;
  last_open_.option32 = option32;
  if (const int rc = enter_locked("OpenComm_MWI", -1, -1, false)) return rc;
  if (!initialised_)
    return failed_locked("OpenComm_MWI", kConfirmInit, "interface not initialised");
  if (estop_) return failed_locked("OpenComm_MWI", kKillSwitch, "kill switch");
  open_ = true;
  handle_ = next_handle_++;
  if (handle != nullptr) *handle = handle_;
  return 0;
}

int WrapperAxes::close(mwi_handle_t h) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("CloseComm_MWI", h, -1)) return rc;
  open_ = false;
  handle_ = -1;
  return 0;
}

int WrapperAxes::error_string(mwi_handle_t, char* text, int32_t size) {
  std::lock_guard lock(mutex_);
  log_.emplace_back("GetErrorString_MWI");
  copy_text(error_text_, text, size);
  return 0;
}

int WrapperAxes::status(mwi_handle_t h, int32_t* value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetStatus_MWI", h, -1)) return rc;
  *value = estop_ ? kKilled : 0;
  return 0;
}

int WrapperAxes::error(mwi_handle_t h, int32_t* value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetError_MWI", h, -1)) return rc;
  *value = estop_ ? kKillSwitch : 0;
  return 0;
}

int WrapperAxes::check_estop(mwi_handle_t h, int32_t* estop) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("CheckForEStopEvent_MWI", h, -1)) return rc;
  *estop = estop_ ? 1 : 0;
  return 0;
}

int WrapperAxes::has_event(mwi_handle_t h, int32_t* has) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("HasEvent_MWI", h, -1)) return rc;
  *has = events_.empty() ? 0 : 1;
  return 0;
}

int WrapperAxes::get_event(mwi_handle_t h, int32_t* kind, int32_t* value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetEvent_MWI", h, -1)) return rc;
  *kind = *value = 0;
  if (!events_.empty()) {
    *kind = events_.front().first;
    *value = events_.front().second;
    events_.pop_front();
  }
  return 0;
}

int WrapperAxes::all_joysticks(const char* name, mwi_handle_t h, bool on) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked(name, h, -1)) return rc;
  for (Axis& a : axes_)
    if (a.letter != 0 && !a.joystick_stuck) a.joystick = on;
  return 0;
}

int WrapperAxes::axis_joystick(const char* name, mwi_handle_t h, int axis, bool on) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked(name, h, axis)) return rc;
  if (!axes_[axis].joystick_stuck) axes_[axis].joystick = on;
  return 0;
}

int WrapperAxes::joystick_enabled(mwi_handle_t h, int axis, int32_t* on) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetIsJoystickEnabled_MWI", h, axis)) return rc;
  *on = axes_[axis].joystick ? 1 : 0;
  return 0;
}

int WrapperAxes::position_reports(const char* name, mwi_handle_t h, bool on) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked(name, h, -1)) return rc;
  reports_ = on;
  return 0;
}

int WrapperAxes::position_report(mwi_handle_t h, int axis, int32_t on) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("SetPositionReport_MWI", h, axis)) return rc;
  axes_[axis].report = on != 0;
  return 0;
}

int WrapperAxes::move(mwi_handle_t h, int axis, int32_t counts) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("Move_MWI", h, axis)) return rc;
  Axis& a = axes_[axis];
  if (estop_) return failed_locked("Move_MWI", kKillSwitch, "kill switch");
  if (a.joystick) return failed_locked("Move_MWI", kJoystickOn, "joystick enabled");
  if (a.moving) return failed_locked("Move_MWI", kBusy, "axis busy");
  if (a.home_type != 0 && !a.homed) return failed_locked("Move_MWI", kNoHome, "axis not homed");
  const int64_t wanted = a.mode == 1 ? int64_t{counts} : int64_t{a.position} + counts;
  const int64_t low = to_counts(a.travel_min, a.pitch), high = to_counts(a.travel_max, a.pitch);
  // A move past the end of travel stops at the limit switch.
  start_move_locked(a, static_cast<int32_t>(std::clamp(wanted, low, high)));
  a.at_limit = wanted < low || wanted > high;
  return 0;
}

int WrapperAxes::find_home(mwi_handle_t h, int axis) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("FindHome_MWI", h, axis)) return rc;
  Axis& a = axes_[axis];
  if (estop_) return failed_locked("FindHome_MWI", kKillSwitch, "kill switch");
  if (a.moving) return failed_locked("FindHome_MWI", kBusy, "axis busy");
  a.homed = false;
  start_move_locked(a, 0);
  a.homing = true;
  return 0;
}

int WrapperAxes::stop(mwi_handle_t h) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("Stop_MWI", h, -1)) return rc;
  for (Axis& a : axes_) a.moving = a.homing = false;
  return 0;
}

int WrapperAxes::stop_axis(mwi_handle_t h, int axis) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("StopAxis_MWI", h, axis)) return rc;
  axes_[axis].moving = axes_[axis].homing = false;
  return 0;
}

int WrapperAxes::axis_status(mwi_handle_t h, int axis, int32_t* value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetAxisStatus_MWI", h, axis)) return rc;
  const Axis& a = axes_[axis];
  *value = estop_       ? kKilled
           : a.moving   ? kMoving
           : a.at_limit ? kStoppedError
           : a.joystick ? kJoystick
                        : kStopped;
  return 0;
}

int WrapperAxes::axis_error(mwi_handle_t h, int axis, int32_t* value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetAxisError_MWI", h, axis)) return rc;
  const Axis& a = axes_[axis];
  *value = estop_ ? kKillSwitch : !a.moving && a.at_limit ? kAtLimit : 0;
  return 0;
}

int WrapperAxes::set_value(const char* name, mwi_handle_t h, int axis, int32_t value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked(name, h, axis)) return rc;
  Axis& a = axes_[axis];
  const std::string n = name;
  if (n == "SetAcceleration_MWI")
    a.accel = value;
  else if (n == "SetVelocity_MWI")
    a.velocity = value;
  else if (n == "SetMoveMode_MWI")
    a.mode = value;
  else if (n == "SetExternalClosedLoopEnabled_MWI")
    a.ecl = value;
  else if (n == "SetDmiCaptureTrigger_MWI")
    a.dmi_trigger = value;
  return 0;
}

int WrapperAxes::get_value(const char* name, mwi_handle_t h, int axis, int32_t* value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked(name, h, axis)) return rc;
  const Axis& a = axes_[axis];
  const std::string n = name;
  *value = 0;
  if (n == "GetAcceleration_MWI")
    *value = a.accel;
  else if (n == "GetVelocity_MWI")
    *value = a.velocity;
  else if (n == "GetHomeState_MWI")
    *value = a.homed ? 1 : 0;
  else if (n == "GetHomeType_MWI")
    *value = a.home_type;
  else if (n == "GetNodeId_MWI")
    *value = a.node;
  else if (n == "GetCommandedPosition_MWI")
    *value = a.position;
  else if (n == "GetPosition_MWI" || n == "GetActualPosition_MWI")
    *value = a.position - (a.moving ? a.following_error : 0);
  else if (n == "GetExternalClosedLoopEnabled_MWI")
    *value = a.ecl;
  return 0;
}

int WrapperAxes::get_real(const char* name, mwi_handle_t h, int axis, double* value) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked(name, h, axis)) return rc;
  const Axis& a = axes_[axis];
  const std::string n = name;
  *value = 0;
  if (n == "GetPitch_MWI")
    *value = a.pitch;
  else if (n == "GetTravelMin_MWI")
    *value = a.travel_min;
  else if (n == "GetTravelMax_MWI")
    *value = a.travel_max;
  else if (n == "GetTravelZero_MWI")
    *value = a.travel_zero;
  else if (n == "GetDmiPreset_MWI")
    *value = a.dmi_preset;
  return 0;
}

int WrapperAxes::label(mwi_handle_t h, int axis, char* letter) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetLabel_MWI", h, axis)) return rc;
  *letter = axes_[axis].letter;
  return 0;
}

int WrapperAxes::register_events(mwi_handle_t h, mwi_pdo_callback_t on_pdo,
                                 mwi_emcy_callback_t on_emcy) {
  std::lock_guard lock(mutex_);
  // An injected code is the answer itself; any other refusal is false.
  const auto f = faults_.find("RegisterCanEvents_MWI");
  const int injected = f != faults_.end() && f->second.times > 0 ? f->second.code : 0;
  if (enter_locked("RegisterCanEvents_MWI", h, -1) != 0) return injected;
  on_pdo_ = on_pdo;
  on_emcy_ = on_emcy;
  return 1;
}

int WrapperAxes::unregister_events(mwi_handle_t h) {
  int rc = 0;
  {
    std::lock_guard lock(mutex_);
    rc = enter_locked("UnregisterCanEvents_MWI", h, -1);
    on_pdo_ = nullptr;
    on_emcy_ = nullptr;
  }
  // Waits out a callback under way.
  std::lock_guard deliver(deliver_mutex_);
  return rc;
}

int WrapperAxes::configuration_file(mwi_handle_t h, char* path, int32_t size) {
  std::lock_guard lock(mutex_);
  if (const int rc = enter_locked("GetConfigurationFile_MWI", h, -1)) return rc;
  copy_text(last_open_.path, path, size);
  return 0;
}

int WrapperAxes::plain(const char* name, mwi_handle_t h, int axis) {
  std::lock_guard lock(mutex_);
  return enter_locked(name, h, axis);
}

}  // namespace sim
