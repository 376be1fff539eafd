/// @file
/// A manual-reset event for the library's threads: the device table's worker,
/// the CAN layer and the control threads wait on these, alone or several at a
/// time.
///
/// The events are private to the process. Events named in the session would
/// let two programs using the library wake each other's threads.
///
/// Timed waits run on the library clock (u_ticks_ms), so that a test on a
/// virtual clock decides when a timeout has passed. While a clock other than
/// the host's is installed, a waiter cannot sleep to the deadline, since the
/// clock moves only when someone pauses: it re-checks the deadline in short
/// real slices instead. Waits that pace work against real devices ask for
/// the host clock.
///
/// `close` latches an event signalled, so that no thread blocks on it while
/// its owner shuts down; `reopen` arms it again.
#pragma once

#include <condition_variable>
#include <mutex>
#include <span>
#include <vector>

namespace felbrin {

/// The clock a timed wait runs on.
enum class WaitClock {
  library,  ///< The library clock (u_ticks_ms), which a test may replace by a virtual one.
  host      ///< The host's own clock, for waits that pace work against real devices.
};

/// A manual-reset event: once set it wakes every waiter and stays set until reset.
/// Not copyable.
class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  /// Sets the event and wakes every thread waiting on it, alone or in wait_any.
  void set();
  /// Clears the event. A closed event stays set.
  void reset();
  /// True while the event is set.
  bool is_set() const;
  /// Waits without bound until the event is set.
  void wait();
  /// True when the event was, or became, set within `ms` milliseconds of the
  /// chosen clock. A negative `ms` waits without bound.
  bool wait_for(int ms, WaitClock clock = WaitClock::library);
  /// Latches the event set, so that no thread blocks on it while its owner shuts down.
  void close();
  /// Arms a closed event again: it is no longer latched and is left clear.
  void reopen();
  /// Threads waiting on the event now, alone or in wait_any; their
  /// deadlines are fixed by the time they count (tests wait for this before
  /// they move a virtual clock).
  int waiting() const;

  /// A thread in wait_any, woken by whichever of its events is set first.
  struct Waiter {
    std::mutex mutex;            ///< Guards `woken`.
    std::condition_variable cv;  ///< Signalled when one of the events is set.
    bool woken = false;          ///< Set by the first of the events to be set.
  };

 private:
  friend int wait_any(std::span<Event* const> events, int ms, WaitClock clock);
  /// Lock order: an event's mutex, then a waiter's.
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
  bool closed_ = false;
  int sleepers_ = 0;  ///< threads in wait_for
  std::vector<Waiter*> waiters_;
};

/// wait_any's answer when no event was set in time.
inline constexpr int kWaitTimedOut = -1;

/// Waits until one of `events` is set, for at most `ms` milliseconds of the
/// chosen clock (negative: without bound). Returns the index of the set
/// event, the lowest when several are set, or kWaitTimedOut. Null entries
/// are not allowed.
int wait_any(std::span<Event* const> events, int ms, WaitClock clock = WaitClock::library);

}  // namespace felbrin
