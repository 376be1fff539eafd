#include "common/event.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "common/hooks.h"

namespace felbrin {
namespace {

// How often a waiter on a virtual clock looks at it. Short, because a test
// that advances the clock waits for the waiter to notice.
constexpr auto kClockSlice = std::chrono::milliseconds(1);

// The end of a timed wait, on the host clock or on the library's.
class Deadline {
 public:
  Deadline(int ms, WaitClock clock)
      : unbounded_(ms < 0),
        watch_(clock == WaitClock::library && !u_ticks_is_host_clock()),
        ticks_end_(watch_ ? u_ticks_ms() + ms : 0),
        host_end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms)) {}

  bool passed() const {
    if (unbounded_) return false;
    return watch_ ? u_ticks_ms() >= ticks_end_ : std::chrono::steady_clock::now() >= host_end_;
  }

  // Waits on `cv` until `ready` holds (true) or the deadline passes (false).
  template <class Ready>
  bool wait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Ready ready) const {
    if (unbounded_) {
      cv.wait(lock, ready);
      return true;
    }
    if (!watch_) return cv.wait_until(lock, host_end_, ready);
    while (!ready()) {
      if (passed()) return false;
      cv.wait_for(lock, kClockSlice);
    }
    return true;
  }

 private:
  bool unbounded_;
  bool watch_;
  std::int64_t ticks_end_;
  std::chrono::steady_clock::time_point host_end_;
};

}  // namespace

void Event::set() {
  std::lock_guard lock(mutex_);
  set_ = true;
  cv_.notify_all();
  // A waiter stays registered, and so alive, while this mutex is held.
  for (Waiter* w : waiters_) {
    {
      std::lock_guard wake(w->mutex);
      w->woken = true;
    }
    w->cv.notify_one();
  }
}

void Event::reset() {
  std::lock_guard lock(mutex_);
  if (!closed_) set_ = false;
}

bool Event::is_set() const {
  std::lock_guard lock(mutex_);
  return set_;
}

void Event::wait() { wait_for(-1); }

bool Event::wait_for(int ms, WaitClock clock) {
  const Deadline deadline(ms, clock);
  std::unique_lock lock(mutex_);
  ++sleepers_;
  const bool woken = deadline.wait(cv_, lock, [this] { return set_; });
  --sleepers_;
  return woken;
}

int Event::waiting() const {
  std::lock_guard lock(mutex_);
  return sleepers_ + static_cast<int>(waiters_.size());
}

void Event::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  set();
}

void Event::reopen() {
  std::lock_guard lock(mutex_);
  closed_ = false;
  set_ = false;
}

int wait_any(std::span<Event* const> events, int ms, WaitClock clock) {
  const Deadline deadline(ms, clock);
  Event::Waiter w;
  const auto leave = [&](std::size_t registered) {
    for (std::size_t i = 0; i < registered; ++i) {
      std::lock_guard lock(events[i]->mutex_);
      std::erase(events[i]->waiters_, &w);
    }
  };
  for (;;) {
    // Register with every event, unless one is set already.
    for (std::size_t i = 0; i < events.size(); ++i) {
      Event& e = *events[i];
      std::unique_lock lock(e.mutex_);
      if (e.set_) {
        lock.unlock();
        leave(i);
        return static_cast<int>(i);
      }
      e.waiters_.push_back(&w);
    }
    {
      std::unique_lock lock(w.mutex);
      deadline.wait(w.cv, lock, [&w] { return w.woken; });
      w.woken = false;
    }
    leave(events.size());
    // The event that woke us may have been reset since: look again, and go
    // back to waiting while there is time.
    for (std::size_t i = 0; i < events.size(); ++i)
      if (events[i]->is_set()) return static_cast<int>(i);
    if (deadline.passed()) return kWaitTimedOut;
  }
}

}  // namespace felbrin
