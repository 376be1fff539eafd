// The shared event: single and several-at-once waits, on the host clock
// and on a virtual one, and across real threads (the ThreadSanitizer leg).
#include "common/event.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "common/util.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::Event;
using felbrin::kWaitTimedOut;
using felbrin::wait_any;
using felbrin::WaitClock;
using felbrin::test::VirtualClock;

// Only a bound for a failing test: nothing waits this long when the code
// works.
constexpr int kFailAfterMs = 30000;

bool eventually(const std::function<bool()>& ready) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFailAfterMs);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::yield();
  }
  return true;
}

struct AnyCase {
  const char* name;
  std::array<bool, 3> set;
  std::array<bool, 3> closed;
  int expected;
};

TEST(Event, WaitAnyAnswersTheLowestSetEvent) {
  const AnyCase cases[] = {
      {"none set", {false, false, false}, {false, false, false}, kWaitTimedOut},
      {"the last", {false, false, true}, {false, false, false}, 2},
      {"the first of two", {false, true, true}, {false, false, false}, 1},
      {"all", {true, true, true}, {false, false, false}, 0},
      {"closed counts as set", {false, false, false}, {false, true, false}, 1},
      {"closed and set", {false, true, false}, {false, false, true}, 1},
  };
  for (const AnyCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<Event, 3> events;
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (c.set[i]) events[i].set();
      if (c.closed[i]) events[i].close();
    }
    const std::array<Event*, 3> list{&events[0], &events[1], &events[2]};
    EXPECT_EQ(wait_any(list, 0), c.expected);
    EXPECT_EQ(wait_any(list, 0, WaitClock::host), c.expected);
    // A reset leaves closed events set.
    for (Event& e : events) e.reset();
    EXPECT_EQ(wait_any(list, 0), c.closed[1] ? 1 : c.closed[2] ? 2 : kWaitTimedOut);
  }
}

// On a virtual clock a timed wait ends when the clock passes its deadline,
// however long that takes in real time, and not before.
TEST(Event, TimedWaitsFollowTheVirtualClock) {
  const VirtualClock clock;
  Event single;
  std::array<Event, 2> pair;
  std::atomic<int> single_result{-2};
  std::atomic<int> any_result{-2};
  std::thread waiter([&] { single_result = single.wait_for(5000) ? 1 : 0; });
  std::thread any_waiter([&] {
    const std::array<Event*, 2> list{&pair[0], &pair[1]};
    any_result = wait_any(list, 3000);
  });
  ASSERT_TRUE(eventually([&] { return single.waiting() == 1 && pair[1].waiting() == 1; }));
  u_sleep_ms(2999);
  EXPECT_EQ(any_result.load(), -2);
  u_sleep_ms(1);
  EXPECT_TRUE(eventually([&] { return any_result.load() != -2; }));
  EXPECT_EQ(any_result.load(), kWaitTimedOut);
  EXPECT_EQ(single_result.load(), -2);
  u_sleep_ms(2000);
  EXPECT_TRUE(eventually([&] { return single_result.load() != -2; }));
  EXPECT_EQ(single_result.load(), 0);
  waiter.join();
  any_waiter.join();
  EXPECT_EQ(clock.elapsed_ms(), 5000);
}

TEST(Event, SetWakesAWaiterOnAVirtualClockThatStandsStill) {
  const VirtualClock clock;
  std::array<Event, 3> events;
  std::atomic<int> result{-2};
  std::thread waiter([&] {
    const std::array<Event*, 3> list{&events[0], &events[1], &events[2]};
    result = wait_any(list, 1000);
  });
  events[2].set();
  EXPECT_TRUE(eventually([&] { return result.load() != -2; }));
  waiter.join();
  EXPECT_EQ(result.load(), 2);
  EXPECT_EQ(clock.elapsed_ms(), 0);
}

// Two threads hand a request and a reply back and forth many times, the
// worker waiting on its request and a quit event at once: every hand-over
// is seen, and a set while a waiter registers is never lost.
TEST(EventThreads, RequestAndReplyHandOverThroughWaitAny) {
  constexpr int kRounds = 2000;
  Event request;
  Event reply;
  Event quit;
  std::atomic<int> served{0};
  std::thread worker([&] {
    const std::array<Event*, 2> list{&quit, &request};
    for (;;) {
      const int which = wait_any(list, kFailAfterMs, WaitClock::host);
      if (which != 1) return;
      request.reset();
      ++served;
      reply.set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    reply.reset();
    request.set();
    ASSERT_TRUE(reply.wait_for(kFailAfterMs, WaitClock::host)) << "round " << i;
  }
  quit.set();
  worker.join();
  EXPECT_EQ(served.load(), kRounds);
}

// Several threads wait on the same events while others set and close them.
TEST(EventThreads, CloseReleasesEveryWaiter) {
  std::array<Event, 2> events;
  std::atomic<int> released{0};
  std::array<std::thread, 4> waiters;
  for (std::thread& t : waiters)
    t = std::thread([&] {
      const std::array<Event*, 2> list{&events[0], &events[1]};
      if (wait_any(list, kFailAfterMs, WaitClock::host) != kWaitTimedOut) ++released;
      if (events[1].wait_for(kFailAfterMs)) ++released;
    });
  events[0].close();
  events[1].close();
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(released.load(), 8);
}

}  // namespace
