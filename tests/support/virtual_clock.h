// A virtual clock for tests of waits: pauses advance it instead of sleeping.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/hooks.h"

namespace felbrin::test {

class VirtualClock {
 public:
  VirtualClock()
      : saved_sleep_(u_set_sleep_fn(&sleep)), saved_ticks_(u_set_ticks_fn(&ticks)) {
    now() = 0;
    pauses() = 0;
    reads() = 0;
  }
  ~VirtualClock() {
    u_set_sleep_fn(saved_sleep_);
    u_set_ticks_fn(saved_ticks_);
  }
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  int64_t elapsed_ms() const { return now(); }
  int pause_count() const { return pauses(); }
  // Reads of the clock by any thread: a thread that waits on it polls it,
  // so a test can tell that a waiter has looked at a new time.
  int64_t read_count() const { return reads(); }

 private:
  static std::atomic<int64_t>& now() {
    static std::atomic<int64_t> t{0};
    return t;
  }
  static std::atomic<int>& pauses() {
    static std::atomic<int> n{0};
    return n;
  }
  static std::atomic<int64_t>& reads() {
    static std::atomic<int64_t> n{0};
    return n;
  }
  static void sleep(uint32_t ms) {
    now() += ms;
    ++pauses();
  }
  static int64_t ticks() {
    ++reads();
    return now();
  }

  u_sleep_hook saved_sleep_;
  u_ticks_hook saved_ticks_;
};

}  // namespace felbrin::test
