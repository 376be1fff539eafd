#include "instrument/control/sleep_mode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/util.h"
#include "instrument/record/sys_info.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_events_internal.h"
#include "instrument/control/sleep_mode_internal.h"
#include "tests/support/eventually.h"
#include "tests/support/log_capture.h"
#include "tests/support/soak.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::control::sleep_mode_countdowns;
using felbrin::control::sleep_mode_running;
using felbrin::control::sleep_mode_waiting;

using felbrin::test::eventually;

sysInfo_t sleeper(uint16_t timeout_s) {
  sysInfo_t r;
  r.instrBdType = BD_CAN;
  r.systemType = SYS_KITECAN;
  r.sleepTimeout = timeout_s;
  return r;
}

int idle_events_taken() {
  int n = 0;
  can_node_event_t e;
  while (can_take_node_event(&e)) {
    EXPECT_EQ(e.code, CAN_NODE_EVENT_SLEEP);
    EXPECT_EQ(e.pdo.cob_id, 0u);
    ++n;
  }
  return n;
}

class SleepMode : public ::testing::Test {
 protected:
  void SetUp() override { felbrin::can::clear_event_queues(); }
  void TearDown() override {
    sleep_mode_stop();
    felbrin::can::clear_event_queues();
  }
  // Waits until the thread waits with its deadline fixed, then moves the
  // clock.
  static void advance(int ms) {
    ASSERT_TRUE(eventually([] { return sleep_mode_waiting() > 0; }));
    u_sleep_ms(ms);
  }
  // Waits until the thread has polled the moved clock many times: it takes
  // only a few reads from noticing a deadline to queueing its event, so an
  // event the new time calls for is queued by then.
  static void settle(const felbrin::test::VirtualClock& clock) {
    const int64_t seen = clock.read_count();
    ASSERT_TRUE(eventually([&] { return clock.read_count() >= seen + 20; }));
  }
  felbrin::test::LogCapture log_;
};

TEST_F(SleepMode, AppliesToSleepingCanSystemsWithATimeout) {
  struct Case {
    int32_t board, system;
    uint16_t timeout;
    bool applies;
  } const cases[] = {
      {BD_CAN, SYS_KITECAN, 60, true},     {BD_CAN, SYS_ALDER4, 1, true},
      {BD_CAN, SYS_HERON_CAN, 14400, true}, {BD_CAN, SYS_KITE2CAN, 65535, true},
      {BD_CAN, SYS_KITECAN, 0, false},     {BD_CAN, SYS_GLENCAN, 60, false},
      {BD_CAN, SYS_IRIS_CAN, 60, false},   {BD_CAN, SYS_FJORD1, 60, false},
      {BD_LUMEN, SYS_KITECAN, 60, false},
  };
  for (const Case& c : cases) {
    sysInfo_t r = sleeper(c.timeout);
    r.instrBdType = c.board;
    r.systemType = c.system;
    EXPECT_EQ(sleep_mode_applies(&r), c.applies) << c.board << " " << c.system << " " << c.timeout;
  }
  EXPECT_FALSE(sleep_mode_applies(nullptr));
}

TEST_F(SleepMode, IdleEventAfterTheTimeoutThenOneEverySecond) {
  felbrin::test::VirtualClock clock;
  const sysInfo_t r = sleeper(60);
  sleep_mode_start(&r);
  advance(59999);
  settle(clock);
  ASSERT_EQ(idle_events_taken(), 0);
  advance(1);
  ASSERT_TRUE(eventually([] {
    can_node_event_t e;
    return can_take_node_event(&e);
  }));
  for (int second = 0; second < 3; ++second) {
    advance(1000);
    ASSERT_TRUE(eventually([] {
      can_node_event_t e;
      return can_take_node_event(&e);
    }));
  }
  EXPECT_TRUE(sleep_mode_stop());
  EXPECT_FALSE(sleep_mode_running());
  EXPECT_EQ(idle_events_taken(), 0);
  EXPECT_EQ(log_.str(), "");
}

TEST_F(SleepMode, ActivityRestartsTheCountdown) {
  felbrin::test::VirtualClock clock;
  const sysInfo_t r = sleeper(60);
  sleep_mode_start(&r);
  for (int round = 1; round <= 10; ++round) {
    ASSERT_TRUE(eventually([round] { return sleep_mode_countdowns() == round; }));
    advance(50000);
    sleep_mode_activity();
  }
  ASSERT_TRUE(eventually([] { return sleep_mode_countdowns() == 11; }));
  advance(59999);
  settle(clock);
  EXPECT_EQ(idle_events_taken(), 0);
  EXPECT_EQ(clock.elapsed_ms(), 10 * 50000 + 59999);
}

TEST_F(SleepMode, RestHoldsTheEventsUntilWake) {
  felbrin::test::VirtualClock clock;
  const sysInfo_t r = sleeper(1);
  sleep_mode_start(&r);
  advance(1000);
  ASSERT_TRUE(eventually([] { return idle_events_taken() == 1; }));
  sleep_mode_enter_rest();
  // At rest the thread waits for wake or exit only, without a deadline.
  ASSERT_TRUE(eventually([] { return sleep_mode_waiting() > 0; }));
  u_sleep_ms(10000);
  EXPECT_EQ(idle_events_taken(), 0);
  EXPECT_EQ(sleep_mode_countdowns(), 1);
  sleep_mode_wake();
  ASSERT_TRUE(eventually([] { return sleep_mode_countdowns() == 2; }));
  advance(1000);
  ASSERT_TRUE(eventually([] { return idle_events_taken() == 1; }));
}

TEST_F(SleepMode, StopWithoutThreadAndSecondStart) {
  EXPECT_FALSE(sleep_mode_stop());
  sleep_mode_activity();
  sleep_mode_enter_rest();
  sleep_mode_wake();
  const sysInfo_t r = sleeper(14400);
  sleep_mode_start(&r);
  sleep_mode_start(&r);
  ASSERT_TRUE(eventually([] { return sleep_mode_waiting() > 0; }));
  EXPECT_EQ(sleep_mode_waiting(), 1);
  EXPECT_EQ(sleep_mode_countdowns(), 1);
  EXPECT_TRUE(sleep_mode_stop());
  EXPECT_FALSE(sleep_mode_stop());
}

TEST_F(SleepMode, StopRightAfterStartEndsTheRun) {
  const sysInfo_t r = sleeper(1);
  for (int i = 0; i < 200; ++i) {
    sleep_mode_start(&r);
    EXPECT_TRUE(sleep_mode_stop());
    EXPECT_FALSE(sleep_mode_running());
  }
  EXPECT_EQ(idle_events_taken(), 0);
}

TEST_F(SleepMode, StartStopAndActivityFromSeveralThreads) {
  const sysInfo_t r = sleeper(14400);
  const felbrin::test::SoakAction actions[] = {
      {"start", [&r] { sleep_mode_start(&r); }},
      {"activity", [] { sleep_mode_activity(); }},
      {"stop", [] { sleep_mode_stop(); }},
      {"rest", [] { sleep_mode_enter_rest(); }},
      {"wake", [] { sleep_mode_wake(); }},
  };
  EXPECT_GT(felbrin::test::soak(actions, 4), 0);
  sleep_mode_stop();
  EXPECT_FALSE(sleep_mode_running());
  EXPECT_EQ(idle_events_taken(), 0);
  EXPECT_EQ(log_.str(), "");
}

}  // namespace
