// Simulated axes behind the stand-in motion wrapper library: a controller
// with up to eight axes (letter, pitch, travel, home type, CAN node),
// positions in counts, limits at the ends of travel, homing, a following
// error, moves that take time on a clock of the caller's choice, joysticks,
// an event queue, the emergency stop, the text of the last failure; and the
// test controls: injected result codes, a call log, the number of inits,
// the last open's arguments, CAN events passed to the registered callbacks
// from a thread of its own.
//
// Every member takes `mutex_`, so the device table's worker and the caller
// may call at once. The event thread takes `deliver_mutex_` and then
// `mutex_`, and calls the callbacks holding only `deliver_mutex_`; the
// unregister takes it after clearing the callbacks, so that no callback
// runs once it has returned. Never call in from a callback.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "instrument/motion/mc_mwi.h"

namespace sim {

class WrapperAxes {
 public:
  static constexpr int kAxes = 8;
  // Result codes the simulation answers.
  static constexpr int kBusy = 12, kNoHome = 17, kAtLimit = 18, kKillSwitch = 21, kJoystickOn = 22,
                       kComm = 256, kAxisAbsent = 267, kConfirmInit = 277;
  // Axis statuses.
  static constexpr int32_t kMoving = 1, kStopped = 2, kStoppedError = 3, kUnavailable = 4,
                           kJoystick = 6, kKilled = 7;

  WrapperAxes();
  ~WrapperAxes();
  WrapperAxes(const WrapperAxes&) = delete;
  WrapperAxes& operator=(const WrapperAxes&) = delete;

  // ---- controls
  void reset();
  void set_clock(int64_t (*now_ms)());
  void setup_axis(int axis, char letter, double pitch, double travel_min, double travel_max,
                  double travel_zero, int32_t home_type, int32_t node);
  void fail_next(const std::string& function, int code, int times);
  void set_joystick_stuck(int axis, bool stuck);
  void set_error_text(const std::string& text);
  void set_estop(bool on);
  void set_following_error(int axis, int32_t counts);
  void queue_event(int32_t kind, int32_t value);
  void fire_pdo(uint32_t cob_id, uint32_t value, const uint8_t data[8]);
  void fire_emcy(uint32_t value1, uint32_t value2, uint32_t value3, uint8_t value4,
                 const uint8_t five[5], uint8_t value6);
  int wait_fired(int timeout_ms);
  std::vector<std::string> call_log() const;
  void clear_call_log();
  int init_count() const;
  struct OpenArgs {
    int count = 0;
    std::string path;
    bool has_mac = false;
    uint8_t mac[6] = {};
    uint8_t option8 = 0;
    int32_t option32 = 0;
  };
  OpenArgs last_open() const;

  // ---- the wrapper's table
  int init();
  int close_interface();
  int open(const char* path, const uint8_t* mac, mwi_handle_t* handle, uint8_t option8,
           int32_t option32);
  int close(mwi_handle_t h);
  int error_string(mwi_handle_t h, char* text, int32_t size);
  int status(mwi_handle_t h, int32_t* value);
  int error(mwi_handle_t h, int32_t* value);
  int check_estop(mwi_handle_t h, int32_t* estop);
  int has_event(mwi_handle_t h, int32_t* has);
  int get_event(mwi_handle_t h, int32_t* kind, int32_t* value);
  int all_joysticks(const char* name, mwi_handle_t h, bool on);
  int axis_joystick(const char* name, mwi_handle_t h, int axis, bool on);
  int joystick_enabled(mwi_handle_t h, int axis, int32_t* on);
  int position_reports(const char* name, mwi_handle_t h, bool on);
  int position_report(mwi_handle_t h, int axis, int32_t on);
  int move(mwi_handle_t h, int axis, int32_t counts);
  int find_home(mwi_handle_t h, int axis);
  int stop(mwi_handle_t h);
  int stop_axis(mwi_handle_t h, int axis);
  int axis_status(mwi_handle_t h, int axis, int32_t* value);
  int axis_error(mwi_handle_t h, int axis, int32_t* value);
  // Setters and getters of one axis value, by the function's name.
  int set_value(const char* name, mwi_handle_t h, int axis, int32_t value);
  int get_value(const char* name, mwi_handle_t h, int axis, int32_t* value);
  int get_real(const char* name, mwi_handle_t h, int axis, double* value);
  int label(mwi_handle_t h, int axis, char* letter);
  int register_events(mwi_handle_t h, mwi_pdo_callback_t on_pdo, mwi_emcy_callback_t on_emcy);
  int unregister_events(mwi_handle_t h);
  int configuration_file(mwi_handle_t h, char* path, int32_t size);
  int plain(const char* name, mwi_handle_t h, int axis);

 private:
  struct Axis {
    char letter = 0;
    double pitch = 0, travel_min = 0, travel_max = 0, travel_zero = 0;
    int32_t home_type = 0, node = 0;
    int32_t position = 0;  // commanded, in counts
    int32_t from = 0, to = 0;
    int64_t start_ms = 0, end_ms = 0;
    bool moving = false, homing = false, homed = false, at_limit = false;
    bool joystick = false, joystick_stuck = false, report = false;
    int32_t following_error = 0;
    int32_t velocity = 10000, accel = 100000, mode = 0;
    int32_t ecl = 0, dmi_trigger = 0;
    double dmi_preset = 0;
  };
  struct Fault {
    int code = 0;
    int times = 0;
  };
  struct Fired {
    bool pdo = true;
    uint32_t v1 = 0, v2 = 0, v3 = 0;
    uint8_t v4 = 0, v6 = 0;
    uint8_t data[8] = {};
  };

  int64_t now_locked() const;
  void update_locked();
  // Logs the call, answers an injected code, checks the handle and (for
  // axis >= 0) the axis; 0 when the call may go on.
  int enter_locked(const char* name, mwi_handle_t h, int axis, bool check_handle = true);
  int failed_locked(const char* name, int code, const char* why);
  void start_move_locked(Axis& a, int32_t to);
  void fire(const Fired& event);
  void run_events();
  void stop_thread();

  mutable std::mutex mutex_;
  std::mutex deliver_mutex_;
  std::condition_variable changed_;
  int64_t (*clock_)() = nullptr;
  Axis axes_[kAxes];
  std::map<std::string, Fault> faults_;
  std::string forced_text_, error_text_;
  bool estop_ = false, open_ = false, initialised_ = false, reports_ = false;
  mwi_handle_t handle_ = -1, next_handle_ = 0x100;
  std::deque<std::pair<int32_t, int32_t>> events_;
  std::vector<std::string> log_;
  int inits_ = 0;
  OpenArgs last_open_;
  mwi_pdo_callback_t on_pdo_ = nullptr;
  mwi_emcy_callback_t on_emcy_ = nullptr;
  std::deque<Fired> fired_;
  int fired_count_ = 0, delivered_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace sim
