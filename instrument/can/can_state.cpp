#include "instrument/can/can_state.h"

namespace felbrin::can {

namespace {
std::atomic<ActivityFn> g_activity{nullptr};
std::atomic<ProcessEventsFn> g_process{nullptr};
std::atomic<NdwStoppedFn> g_ndw_stopped{nullptr};
}  // namespace

std::atomic<int32_t>& ndw_home_state() {
  static std::atomic<int32_t> v{0};
  return v;
}
std::atomic<int32_t>& ndw_moving_state() {
  static std::atomic<int32_t> v{0};
  return v;
}
std::atomic<bool>& ndw_was_moving() {
  static std::atomic<bool> v{false};
  return v;
}
std::atomic<int32_t>& brush_wait_state() {
  static std::atomic<int32_t> v{0};
  return v;
}
std::atomic<int32_t>& last_zoom() {
  static std::atomic<int32_t> v{kLastZoomUnknown};
  return v;
}

void reset_decoder_state() {
  ndw_home_state() = 0;
  ndw_moving_state() = 0;
  ndw_was_moving() = false;
  brush_wait_state() = 0;
  last_zoom() = kLastZoomUnknown;
}

void set_activity_fn(ActivityFn fn) { g_activity = fn; }
void signal_activity() {
  if (ActivityFn fn = g_activity.load()) fn();
}
std::atomic<bool>& agc_running() {
  static std::atomic<bool> v{false};
  return v;
}
void set_process_events_fn(ProcessEventsFn fn) { g_process = fn; }
void process_events() {
  if (ProcessEventsFn fn = g_process.load()) fn();
}
void set_ndw_stopped_fn(NdwStoppedFn fn) { g_ndw_stopped = fn; }
void ndw_stopped(bool set) {
  if (NdwStoppedFn fn = g_ndw_stopped.load()) fn(set);
}

}  // namespace felbrin::can
