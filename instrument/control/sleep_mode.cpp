#include "instrument/control/sleep_mode.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/errors.h"
#include "common/event.h"
#include "common/hooks.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_state.h"
#include "instrument/control/sleep_mode_internal.h"
#include "instrument/record/sys_info.h"

namespace {

using felbrin::Event;

constexpr int32_t kSleepingSystems[] = {SYS_KITECAN, SYS_ALDER4, SYS_HERON_CAN, SYS_KITE2CAN};
constexpr int kStopBoundMs = 5000;
constexpr int kIdleRepeatMs = 1000;

// Everything one run of the thread uses. Shared by the slot, the thread and
// any caller that signals it, so none of them can pull it from the others.
struct Run {
  int64_t timeout_ms = 0;
  Event exit;
  Event reset;
  Event wakeup;
  Event sleep;
  Event done;
  std::atomic<int> countdowns{0};
};

std::mutex g_slot_mutex;
std::shared_ptr<Run> g_run;  // with g_slot_mutex
std::thread g_thread;        // with g_slot_mutex

std::shared_ptr<Run> current() {
  std::lock_guard lock(g_slot_mutex);
  return g_run;
}

void queue_idle_event() {
  can_node_event_t event;
  event.code = CAN_NODE_EVENT_SLEEP;
  can_node_event_append(event);
}

// The idle notification: one event a second until the client rests the
// instrument or the run is stopped; then, at rest, until it wakes.
void notify_idle(Run& run) {
  run.sleep.reset();
  std::array<Event*, 2> exit_or_sleep{&run.exit, &run.sleep};
  do {
    queue_idle_event();
  } while (felbrin::wait_any(exit_or_sleep, kIdleRepeatMs) == felbrin::kWaitTimedOut);
  if (run.exit.is_set()) return;
  std::array<Event*, 2> exit_or_wake{&run.exit, &run.wakeup};
  if (felbrin::wait_any(exit_or_wake, -1) == 1) run.wakeup.reset();
  run.sleep.reset();
}

void body(Run& run) {
  std::array<Event*, 2> exit_or_reset{&run.exit, &run.reset};
  while (!run.exit.is_set()) {
    ++run.countdowns;
    const int64_t deadline = u_ticks_ms() + run.timeout_ms;
    bool expired = false;
    for (;;) {
      const int64_t left = deadline - u_ticks_ms();
      if (left <= 0) {
        expired = true;
        break;
      }
      const int which = felbrin::wait_any(exit_or_reset, static_cast<int>(left));
      if (which == 0) break;
      if (which == 1) {
        run.reset.reset();
        break;
      }
    }
    if (expired) notify_idle(run);
  }
}

void thread_main(std::shared_ptr<Run> run) {
  body(*run);
  {
    std::lock_guard lock(g_slot_mutex);
    // A stop may have given up on this run and a new one taken the slot.
    if (g_run == run) {
      g_run.reset();
      if (g_thread.joinable()) g_thread.detach();
    }
  }
  run->done.set();
}

}  // namespace

namespace felbrin::control {

int sleep_mode_waiting() {
  auto run = current();
  return run ? run->exit.waiting() : 0;
}

int sleep_mode_countdowns() {
  auto run = current();
  return run ? run->countdowns.load() : 0;
}

bool sleep_mode_running() { return current() != nullptr; }

}  // namespace felbrin::control

bool sleep_mode_applies(const sysInfo_t* record) {
  if (record == nullptr || record->instrBdType != BD_CAN || record->sleepTimeout == 0) return false;
  for (int32_t type : kSleepingSystems)
    if (record->systemType == type) return true;
  return false;
}

void sleep_mode_start(const sysInfo_t* record) {
  if (record == nullptr) return;
  // Every node access counts as activity; with no run it is a no-op.
  felbrin::can::set_activity_fn(&sleep_mode_activity);
  std::lock_guard lock(g_slot_mutex);
  if (g_run) return;
  try {
    auto run = std::make_shared<Run>();
    run->timeout_ms = int64_t{record->sleepTimeout} * 1000;
    run->wakeup.set();
    // The slot is held while the thread is made, so the thread finds its
    // run in place when it ends, however quickly.
    g_run = run;
    g_thread = std::thread(thread_main, run);
  } catch (...) {
    g_run.reset();
    u_log_fn("Failed to start Sleep Mode thread\n");
  }
}

bool sleep_mode_stop() {
  std::shared_ptr<Run> run;
  std::thread thread;
  {
    std::lock_guard lock(g_slot_mutex);
    if (!g_run) return false;
    run = std::move(g_run);
    thread = std::move(g_thread);
  }
  run->exit.set();
  if (run->done.wait_for(kStopBoundMs)) {
    if (thread.joinable()) thread.join();
  } else if (thread.joinable()) {
    // It keeps its run to itself and finds the slot no longer its own.
    thread.detach();
  }
  return true;
}

void sleep_mode_activity() {
  if (auto run = current()) run->reset.set();
}

void sleep_mode_enter_rest() {
  if (auto run = current()) {
    // Cleared here rather than by the thread as it comes to rest, so that a
    // wake right after this call is never lost.
    run->wakeup.reset();
    run->sleep.set();
  }
}

void sleep_mode_wake() {
  if (auto run = current()) run->wakeup.set();
}
