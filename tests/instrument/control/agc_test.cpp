#include "instrument/control/agc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/event.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/calibration/sys_info.h"
#include "instrument/can/can_bringup.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_state.h"
#include "instrument/control/agc_internal.h"
#include "tests/support/eventually.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::Event;
using felbrin::control::agc_bins;
using felbrin::control::agc_fill_frame;
using felbrin::control::agc_state;
using felbrin::control::agc_thread_body;
using felbrin::control::agc_top_level;
using felbrin::control::AgcDeps;
using felbrin::control::AgcFrame;
using felbrin::test::eventually;

constexpr int32_t kWidth = 20;
constexpr int32_t kHeight = 10;  // 200 pixels: the brightest 100 are one half

// An applicable instrument running live, 8-bit pixels, target 150.
std::unique_ptr<sysInfo_t> record() {
  auto s = std::make_unique<sysInfo_t>();
  s->instrBdType = BD_CAN;
  s->systemType = SYS_KITECAN;
  s->llcTarget = 150;
  s->acq.agcOption = 1;
  s->acq.selector = 1;
  s->acq.liveDisplay = 1;
  s->acq.liveWidth = kWidth;
  s->acq.liveHeight = kHeight;
  s->acq.cameraWidth = kWidth;
  s->acq.cameraHeight = kHeight;
  s->acq.modes[0].bytesPerPixel = 1;
  s->acq.modes[0].resolution = 8;
  s->acq.modeCount = 1;
  s->acq.currentMode = 0;
  return s;
}

// One scripted round of the frame source: an error, or a frame whose first
// 100 pixels are `bright` and the rest `dim`, of the buffer's size unless
// given.
struct Shot {
  int err = 0;
  uint16_t bright = 0;
  uint16_t dim = 0;
  int32_t width = 0;
};
Shot frame(uint16_t bright) { return {0, bright, 0, 0}; }
Shot failing(int err) { return {err, 0, 0, 0}; }

// Scripted frames and ND wheel for the body run in the test's thread on the
// virtual clock. When the frames run out it stops the body.
struct Script {
  std::vector<Shot> shots;
  std::vector<int> write_errors;  // per write, 0 when missing
  uint16_t start_level = 10000;
  int read_error = 0;
  int grab_error = 0;
  int wait_error = 0;

  Event stop;
  std::size_t next = 0;
  std::vector<int64_t> copy_times;
  std::vector<int> written;
  std::vector<int64_t> write_times;
  std::vector<bool> copy_live;
  int grabs = 0;
  int waits = 0;
  AgcFrame seen;

  AgcDeps deps() {
    AgcDeps d;
    d.grab = [this](sysInfo_t*) {
      ++grabs;
      return grab_error;
    };
    d.copy = [this](sysInfo_t*, bool live, const AgcFrame& into) {
      seen = into;
      if (next == shots.size()) {
        stop.set();
        return 0;
      }
      copy_times.push_back(u_ticks_ms());
      copy_live.push_back(live);
      const Shot& shot = shots[next++];
      if (shot.err != 0) return shot.err;
      const int32_t width = shot.width != 0 ? shot.width : into.width;
      const std::size_t n = static_cast<std::size_t>(width) * into.height;
      std::vector<uint8_t> bytes(n * into.bytes_per_pixel);
      for (std::size_t i = 0; i < n; ++i) {
        const uint16_t v = i < 100 ? shot.bright : shot.dim;
        if (into.bytes_per_pixel == 1)
          bytes[i] = static_cast<uint8_t>(v);
        else
          std::memcpy(&bytes[2 * i], &v, 2);
      }
      return agc_fill_frame(into, bytes.data(), width, into.height, into.bytes_per_pixel);
    };
    d.read_level = [this](sysInfo_t*, uint16_t* level) {
      *level = start_level;
      return read_error;
    };
    d.write_level = [this](sysInfo_t*, uint16_t level) {
      const std::size_t i = written.size();
      written.push_back(level);
      write_times.push_back(u_ticks_ms());
      return i < write_errors.size() ? write_errors[i] : 0;
    };
    d.llc_wait = [this](sysInfo_t*) {
      ++waits;
      return wait_error;
    };
    d.aux_position = [](sysInfo_t*, uint8_t* position) {
      *position = 2;
      return 0;
    };
    return d;
  }

  int run(sysInfo_t* s) { return agc_thread_body(s, &stop, deps()); }
};

class AgcBody : public ::testing::Test {
 protected:
  felbrin::test::VirtualClock clock_;
  felbrin::test::LogCapture log_;
  std::unique_ptr<sysInfo_t> s_ = record();
  Script script_;
};

TEST_F(AgcBody, FirstCorrectionMovesTheLevelByTheTruncatedSumAndKeepsTheFraction) {
  // e = 201/256 - 151/256 = 0.1953125: p = q = 585.9375, c = 11171.875.
  // The second correction (q = 0) adds 585.9375 to the kept fraction:
  // 11757.8125, where a truncated c would give 11756.
  script_.shots = {frame(200), frame(200), frame(200), frame(200)};
  EXPECT_EQ(script_.run(s_.get()), 0);
  EXPECT_EQ(script_.written, (std::vector<int>{11171, 11757}));
  EXPECT_EQ(script_.waits, 2);
  // Two frames skipped after each write, without a pause at grab rate 0.
  EXPECT_EQ(script_.copy_times, (std::vector<int64_t>{0, 0, 0, 0}));
  EXPECT_EQ(log_.str(), "");
}

TEST_F(AgcBody, ErrorsWithinTheBandPauseWithoutWriting) {
  struct Case {
    uint16_t bright;
    int writes;
  } const cases[] = {
      {150, 0},  // e = 0
      {158, 0},  // e = 8/256, on the band's edge
      {142, 0},  // e = -8/256
      {159, 1},  // e = 9/256, just outside
      {141, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bright);
    Script script;
    script.shots = {frame(c.bright), frame(c.bright)};
    const int64_t t0 = clock_.elapsed_ms();
    EXPECT_EQ(script.run(s_.get()), 0);
    EXPECT_EQ(static_cast<int>(script.written.size()), c.writes);
    // In the band: 100 ms before the next frame; after a write, none.
    EXPECT_EQ(script.copy_times[1] - t0, c.writes == 0 ? 100 : 0);
  }
}

TEST_F(AgcBody, TheTargetIsOnAnEightBitScaleWhateverTheResolution) {
  // 12-bit pixels: a level of 2415 is (2415 + 1) / 4096 = 151 / 256.
  s_->acq.modes[0].bytesPerPixel = 2;
  s_->acq.modes[0].resolution = 12;
  script_.shots = {frame(2415), frame(2431), frame(2431)};
  EXPECT_EQ(script_.run(s_.get()), 0);
  // 2431: 16/4096 = 1/256 above the target, inside the band.
  EXPECT_TRUE(script_.written.empty());
  EXPECT_EQ(script_.copy_times, (std::vector<int64_t>{0, 100, 200}));
}

TEST_F(AgcBody, TheControllerValueIsHeldAtItsBounds) {
  struct Case {
    uint16_t start, bright, target;
    std::vector<int> written;
  } const cases[] = {
      // e = 1/256 - 1: -5976.6 from 100 is held at 0; then level 0 again:
      // no write.
      {100, 0, 255, {0}},
      // e = 255/256: +5976.6 from 65000 is held at 65535.
      {65000, 255, 0, {65535}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    Script script;
    script.start_level = c.start;
    s_->llcTarget = c.target;
    script.shots = {frame(static_cast<uint16_t>(c.bright)), frame(0), frame(0),
                    frame(static_cast<uint16_t>(c.bright)), frame(0)};
    EXPECT_EQ(script.run(s_.get()), 0);
    EXPECT_EQ(script.written, c.written);
  }
}

TEST_F(AgcBody, EveryTenthCorrectionInARowIsDamped) {
  // e = 255/256 each round: p = 2988.28125, q = p on the first round only.
  s_->llcTarget = 0;
  script_.start_level = 0;
  for (int i = 0; i < 10; ++i) {
    script_.shots.push_back(frame(255));
    script_.shots.push_back(frame(0));  // skipped
    script_.shots.push_back(frame(0));  // skipped
  }
  EXPECT_EQ(script_.run(s_.get()), 0);
  ASSERT_EQ(script_.written.size(), 10u);
  EXPECT_EQ(script_.written[0], 5976);
  EXPECT_EQ(script_.written[8], 29882);  // 5976.5625 + 8 x 2988.28125
  EXPECT_EQ(script_.written[9], 31871);  // + 1988.28125, not + 2988.28125
}

TEST_F(AgcBody, ASettledRoundStartsTheCorrectionCountAgain) {
  s_->llcTarget = 0;
  script_.start_level = 0;
  for (int i = 0; i < 9; ++i) script_.shots.insert(script_.shots.end(), {frame(255), frame(0), frame(0)});
  script_.shots.push_back(frame(0));  // e = 0: settles, k = 0
  script_.shots.push_back(frame(255));
  EXPECT_EQ(script_.run(s_.get()), 0);
  ASSERT_EQ(script_.written.size(), 10u);
  // The settled round left d alone (255/256), so q = 0, and the count
  // starts again: the tenth correction in all is a first one, undamped.
  EXPECT_EQ(script_.written[9], 32871);  // 29882.8125 + 2988.28125
}

TEST_F(AgcBody, LostFramesAreSkippedWithTheGrabPeriodAndNotLogged) {
  s_->acq.grabRate = 20;  // 50 ms
  script_.shots = {failing(ERR_LOST_FRAME), frame(150), frame(200), failing(ERR_LOST_FRAME),
                   frame(0), frame(200)};
  EXPECT_EQ(script_.run(s_.get()), 0);
  // Lost: skipped with 50 ms. In band: 100 ms. Write: skip count 2, the
  // lost frame keeps it (no third skip), then one skipped frame.
  EXPECT_EQ(script_.copy_times, (std::vector<int64_t>{0, 50, 150, 150, 200, 250}));
  EXPECT_EQ(script_.written.size(), 2u);
  EXPECT_EQ(log_.str(), "");
}

TEST_F(AgcBody, GrabbedFramesAreSkippedWithoutAPause) {
  s_->acq.liveDisplay = 0;
  s_->acq.grabRate = 20;
  script_.shots = {failing(ERR_LOST_FRAME), frame(150)};
  EXPECT_EQ(script_.run(s_.get()), 0);
  EXPECT_EQ(script_.grabs, 3);
  EXPECT_EQ(script_.copy_live, (std::vector<bool>{false, false}));
  EXPECT_EQ(script_.copy_times, (std::vector<int64_t>{0, 0}));
}

TEST_F(AgcBody, ALongSkipPauseEndsAtAStop) {
  // 0.1 frames a second: 10 s between frames, unless stopped meanwhile.
  s_->acq.grabRate = 0.1;
  script_.shots = {failing(ERR_LOST_FRAME)};
  // The idle hook runs after each step of the pause: stop 3 s into it.
  static Event* stop_event = nullptr;
  stop_event = &script_.stop;
  const u_idle_hook saved = u_set_idle_fn([] {
    if (u_ticks_ms() >= 3000) stop_event->set();
  });
  EXPECT_EQ(script_.run(s_.get()), 0);
  u_set_idle_fn(saved);
  EXPECT_EQ(clock_.elapsed_ms(), 3000);
  EXPECT_EQ(script_.copy_times.size(), 1u);
}

TEST_F(AgcBody, PausesIgnoreTheAbortHook) {
  const u_abort_hook saved = u_set_abort_fn([](void*) { return 1; });
  script_.shots = {frame(150), frame(150)};
  EXPECT_EQ(script_.run(s_.get()), 0);
  u_set_abort_fn(saved);
  EXPECT_EQ(script_.copy_times, (std::vector<int64_t>{0, 100}));
}

TEST_F(AgcBody, TenFailedRoundsInARowEndTheThreadWithTheLastError) {
  struct Case {
    const char* name;
    std::vector<Shot> shots;
    int grab_error, wait_error;
    std::vector<int> write_errors;
    int result;
    std::string log_line;
    int lines;
  };
  const std::string copy_line = "can_agc_thread_func: Error copying frame: ERR_ACQ_READ\n";
  std::vector<Case> cases = {
      {"copy", std::vector<Shot>(12, failing(ERR_ACQ_READ)), 0, 0, {}, ERR_ACQ_READ, copy_line, 10},
      {"grab", std::vector<Shot>(12, frame(150)), ERR_ACQ_TIMEOUT, 0, {}, ERR_ACQ_TIMEOUT,
       "can_agc_thread_func: Error grabbing frame: ERR_ACQ_TIMEOUT\n", 10},
      {"write", std::vector<Shot>(12, frame(200)), 0, 0, std::vector<int>(12, ERR_CAN_SDO_NDW_ERROR),
       ERR_CAN_SDO_NDW_ERROR, "can_agc_thread_func: Error setting NDW: ERR_CAN_SDO_NDW_ERROR\n", 10},
      {"wait", std::vector<Shot>(12, frame(200)), 0, ERR_CAN_TIMEOUT, {}, ERR_CAN_TIMEOUT,
       "can_agc_thread_func: Error waiting for LLC: ERR_CAN_TIMEOUT\n", 10},
  };
  // Nine failures, a good round, nine more: the stop ends it with 0.
  std::vector<Shot> broken(9, failing(ERR_ACQ_READ));
  broken.push_back(frame(150));
  broken.insert(broken.end(), 9, failing(ERR_ACQ_READ));
  cases.push_back({"interrupted", broken, 0, 0, {}, 0, copy_line, 18});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    Script script;
    script.shots = c.shots;
    script.grab_error = c.grab_error;
    script.wait_error = c.wait_error;
    script.write_errors = c.write_errors;
    if (c.grab_error != 0) s_->acq.liveDisplay = 0;
    const int64_t t0 = clock_.elapsed_ms();
    EXPECT_EQ(script.run(s_.get()), c.result);
    s_->acq.liveDisplay = 1;
    std::string expected;
    for (int i = 0; i < c.lines; ++i) expected += c.log_line;
    EXPECT_EQ(log_.str(), expected);
    // Failed rounds go straight on, without a pause.
    EXPECT_EQ(clock_.elapsed_ms() - t0, c.result == 0 ? 100 : 0);
  }
}

TEST_F(AgcBody, AFailedWriteWindsTheControllerUpButNotTheLastLevel) {
  // Held at 65535 after a failed write: the level differs from the one last
  // written (65000), so it is written again.
  s_->llcTarget = 0;
  script_.start_level = 65000;
  script_.write_errors = {ERR_CAN_SDO_NDW_ERROR, 0};
  script_.shots = {frame(255), frame(255), frame(0), frame(0), frame(255)};
  EXPECT_EQ(script_.run(s_.get()), 0);
  EXPECT_EQ(script_.written, (std::vector<int>{65535, 65535}));
  EXPECT_EQ(script_.waits, 1);
}

TEST_F(AgcBody, AnInvalidModeEndsTheThreadAtOnce) {
  for (int32_t mode : {-1, 1, 7, 100}) {
    SCOPED_TRACE(mode);
    log_.clear();
    s_->acq.currentMode = mode;
    Script script;
    script.shots = {frame(200)};
    EXPECT_EQ(script.run(s_.get()), ERR_ACQ_INVALID_MODE);
    EXPECT_EQ(log_.str(), "can_agc_thread_func: invalid acquisition mode\n");
    EXPECT_TRUE(script.copy_times.empty());
  }
}

TEST_F(AgcBody, SetUpErrorsEndItAtOnce) {
  script_.read_error = ERR_CAN_SDO_NDW_ERROR;
  script_.shots = {frame(200)};
  EXPECT_EQ(script_.run(s_.get()), ERR_CAN_SDO_NDW_ERROR);
  EXPECT_EQ(log_.str(),
            "can_agc_thread_func: Error reading ND wheel light level: ERR_CAN_SDO_NDW_ERROR\n");
  EXPECT_TRUE(script_.copy_times.empty());
  log_.clear();
  EXPECT_EQ(agc_thread_body(s_.get(), nullptr, script_.deps()), ERR_INTERNAL_FB);
  EXPECT_EQ(log_.str(), "can_agc_thread_func: can_agc_stop_event = NULL\n");
}

TEST_F(AgcBody, AFrameOfAnotherSizeIsAFailedRound) {
  script_.shots = {{0, 200, 0, kWidth + 1}, frame(150)};
  EXPECT_EQ(script_.run(s_.get()), 0);
  EXPECT_EQ(log_.str(), "can_agc_thread_func: Error copying frame: ERR_FRAME_DATA_CORRUPT\n");
  EXPECT_TRUE(script_.written.empty());
  EXPECT_EQ(script_.copy_times, (std::vector<int64_t>{0, 0}));
}

TEST_F(AgcBody, TheBufferTakesTheGeometryOfTheLiveOrGrabbedFrame) {
  struct Case {
    uint8_t live;
    int32_t live_sub, grab_under, bpp;
    int32_t width, height, bytes;
  } const cases[] = {
      {1, 1, 3, 1, 20, 10, 1}, {1, 2, 1, 1, 10, 5, 1},  {1, 0, 1, 2, 20, 10, 2},
      {1, -4, 1, 4, 20, 10, 2}, {0, 2, 4, 1, 16, 8, 1}, {0, 2, 0, 2, 64, 32, 2},
  };
  s_->acq.cameraWidth = 64;
  s_->acq.cameraHeight = 32;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.live} << " " << c.live_sub << " " << c.grab_under);
    s_->acq.liveDisplay = c.live;
    s_->acq.liveSubSample = c.live_sub;
    s_->acq.grabUnder = c.grab_under;
    s_->acq.modes[0].bytesPerPixel = c.bpp;
    Script script;
    script.shots = {frame(0)};
    EXPECT_EQ(script.run(s_.get()), 0);
    EXPECT_EQ(script.seen.width, c.width);
    EXPECT_EQ(script.seen.height, c.height);
    EXPECT_EQ(script.seen.bytes_per_pixel, c.bytes);
    EXPECT_EQ(script.seen.bytes.size(), static_cast<std::size_t>(c.width * c.height * c.bytes));
  }
}

TEST(AgcHistogram, TopLevelOfHandWorkedFrames) {
  struct Case {
    const char* name;
    int32_t bpp, resolution;
    std::vector<uint16_t> pixels;  // value, count pairs
    uint32_t level;
  } const cases[] = {
      {"100 at the top", 1, 8, {255, 100, 3, 900}, 255},
      {"99 at the top, 1 below", 1, 8, {255, 99, 254, 1, 3, 900}, 254},
      {"spread", 1, 8, {200, 60, 199, 39, 180, 1, 0, 100}, 180},
      {"8-bit above 4 bits", 1, 4, {200, 100, 3, 100}, 15},
      {"fewer than 100 pixels", 1, 8, {255, 99}, 0},
      {"12-bit", 2, 12, {4000, 100, 17, 100}, 4000},
      {"12-bit values above the top bin", 2, 12, {65535, 50, 5000, 50, 1, 100}, 4095},
      {"16-bit", 2, 16, {65535, 100}, 65535},
      {"resolution 0 counts as 1", 2, 0, {1, 100}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < c.pixels.size(); i += 2)
      for (int n = 0; n < c.pixels[i + 1]; ++n) {
        const uint16_t v = c.pixels[i];
        if (c.bpp == 1) {
          bytes.push_back(static_cast<uint8_t>(v));
        } else {
          bytes.resize(bytes.size() + 2);
          std::memcpy(&bytes[bytes.size() - 2], &v, 2);
        }
      }
    std::vector<uint32_t> hist(agc_bins(c.resolution), 7);
    EXPECT_EQ(agc_top_level(bytes, c.bpp, hist), c.level);
  }
  EXPECT_EQ(agc_bins(-3), 2u);
  EXPECT_EQ(agc_bins(8), 256u);
  EXPECT_EQ(agc_bins(17), 65536u);
}

TEST(AgcFill, CopiesOnlyAFrameOfTheBuffersGeometry) {
  std::vector<uint8_t> buffer(6, 0xEE);
  const AgcFrame into{std::span<uint8_t>(buffer.data(), 4), 2, 2, 1};
  const uint8_t pixels[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(agc_fill_frame(into, pixels, 3, 2, 1), ERR_FRAME_DATA_CORRUPT);
  EXPECT_EQ(agc_fill_frame(into, pixels, 2, 2, 2), ERR_FRAME_DATA_CORRUPT);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(agc_fill_frame(into, pixels, 2, 2, 1), 0);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{1, 2, 3, 4, 0xEE, 0xEE}));
}

// ---- the light-level wait
class LlcWait : public ::testing::Test {
 protected:
  felbrin::test::VirtualClock clock_;
  sysInfo_t s_;
};

TEST_F(LlcWait, NothingToWaitForWithoutTheStoppedEvent) {
  if (can_ndwheel_stopped_open()) GTEST_SKIP() << "a powered-on instrument holds the event";
  EXPECT_EQ(ac_llc_wait(&s_), 0);
  EXPECT_EQ(clock_.elapsed_ms(), 0);
}

TEST_F(LlcWait, EndsAsTheWheelStops) {
  const auto stopped = can_ndwheel_stopped_create();
  stopped->set();
  EXPECT_EQ(ac_llc_wait(&s_), 0);
  EXPECT_EQ(clock_.elapsed_ms(), 0);
  stopped->reset();
  static std::shared_ptr<Event> later;
  later = stopped;
  const u_idle_hook saved = u_set_idle_fn([] {
    if (u_ticks_ms() == 120) later->set();
  });
  EXPECT_EQ(ac_llc_wait(&s_), 0);
  u_set_idle_fn(saved);
  later.reset();
  EXPECT_EQ(clock_.elapsed_ms(), 120);
}

TEST_F(LlcWait, TimesOutAfterThreeHundredPolls) {
  const auto stopped = can_ndwheel_stopped_create();
  stopped->reset();
  EXPECT_EQ(ac_llc_wait(&s_), ERR_CAN_TIMEOUT);
  EXPECT_EQ(clock_.elapsed_ms(), 3000);
  EXPECT_EQ(clock_.pause_count(), 300);
}

TEST_F(LlcWait, TheAbortHookEndsIt) {
  const auto stopped = can_ndwheel_stopped_create();
  stopped->reset();
  const u_abort_hook saved = u_set_abort_fn([](void*) { return 1; });
  EXPECT_EQ(ac_llc_wait(&s_), ERR_FELBRIN_ABORTED);
  u_set_abort_fn(saved);
  EXPECT_EQ(clock_.elapsed_ms(), 10);
}

// ---- the thread's lifecycle, with a real thread on stand-ins
struct Rig {
  std::atomic<int> starts{0};  // level reads: one per thread start, one per stop of a thread
  std::atomic<int> copies{0};
  std::atomic<int> copy_error{0};
  std::atomic<int> aux_error{0};
  std::atomic<int> aux_position{2};
};
Rig* g_rig = nullptr;

AgcDeps rig_deps() {
  AgcDeps d;
  d.grab = [](sysInfo_t*) { return 0; };
  d.copy = [](sysInfo_t* s, bool, const AgcFrame& into) {
    ++g_rig->copies;
    if (const int err = g_rig->copy_error.load()) return err;
    // A settled frame: the target level throughout.
    std::fill(into.bytes.begin(), into.bytes.end(),
              static_cast<uint8_t>(std::atomic_ref<uint16_t>(s->llcTarget).load()));
    return 0;
  };
  d.read_level = [](sysInfo_t*, uint16_t* level) {
    ++g_rig->starts;
    *level = 4321;
    return 0;
  };
  d.write_level = [](sysInfo_t*, uint16_t) { return 0; };
  d.llc_wait = [](sysInfo_t*) { return 0; };
  d.aux_position = [](sysInfo_t*, uint8_t* position) {
    *position = static_cast<uint8_t>(g_rig->aux_position.load());
    return g_rig->aux_error.load();
  };
  return d;
}

class AgcLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    g_rig = &rig_;
    saved_ = felbrin::control::agc_set_deps(rig_deps());
    ASSERT_EQ(can_agc_init(), 0);
  }
  void TearDown() override {
    can_agc_set_lock(0);
    EXPECT_EQ(can_agc_release(), 0);
    felbrin::control::agc_set_deps(std::move(saved_));
    g_rig = nullptr;
  }
  static bool running() { return agc_state().running; }

  Rig rig_;
  AgcDeps saved_;
  felbrin::test::LogCapture log_;
  std::unique_ptr<sysInfo_t> s_ = record();
};

TEST_F(AgcLifecycle, NotApplicableStartsAreLoggedAndDoNothing) {
  struct Case {
    int32_t board, system, option;
  } const cases[] = {
      {BD_LUMEN, SYS_KITECAN, 1}, {BD_CAN, SYS_FJORD1, 1}, {BD_CAN, SYS_KITECAN, 0},
      {BD_CAN, SYS_IRIS_CAN, 2},
  };
  for (const Case& c : cases) {
    log_.clear();
    s_->instrBdType = c.board;
    s_->systemType = c.system;
    s_->acq.agcOption = c.option;
    EXPECT_EQ(can_agc_start(s_.get(), 5), 0);
    EXPECT_EQ(log_.str(), "can_agc_start: CAN AGC is not applicable\n");
    EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
    EXPECT_EQ(can_agc_stop(s_.get()), 0);
    EXPECT_FALSE(running());
  }
  EXPECT_EQ(rig_.starts, 0);
  for (int32_t system : {SYS_KITECAN, SYS_ALDER4, SYS_GLENCAN, SYS_HERON_CAN, SYS_KITE2CAN, SYS_IRIS_CAN}) {
    s_->instrBdType = BD_CAN;
    s_->systemType = system;
    s_->acq.agcOption = 1;
    EXPECT_TRUE(can_agc_applies(s_.get())) << system;
  }
}

TEST_F(AgcLifecycle, StartChecksTheSettingTheLockAndTheSelector) {
  struct Case {
    const char* name;
    int32_t system;
    uint8_t aux, selector;
    int position, aux_error, setting;
    int result;
    bool runs;
  } const cases[] = {
      {"setting 0", SYS_KITECAN, 0, 1, 2, 0, 0, ERR_INVALID_PARAM, false},
      {"selector clear", SYS_KITECAN, 0, 0, 2, 0, 5, 0, false},
      {"selector set", SYS_KITECAN, 0, 1, 2, 0, 5, 0, true},
      {"26 without aux motor", SYS_GLENCAN, 0, 1, 1, 0, 5, 0, true},
      {"aux at 2", SYS_GLENCAN, 1, 0, 2, 0, 5, 0, true},
      {"aux at 1", SYS_GLENCAN, 1, 1, 1, 0, 5, 0, false},
      {"aux at 3", SYS_GLENCAN, 1, 1, 3, 0, 5, 0, false},
      {"aux node error", SYS_GLENCAN, 1, 1, 2, ERR_CAN_SDO_DMD_ERROR, 5,
       ERR_CAN_SDO_AUX_MOTOR_ERROR, false},
      {"aux other error", SYS_GLENCAN, 1, 1, 2, ERR_CAN_TIMEOUT, 5, ERR_CAN_TIMEOUT, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    s_->systemType = c.system;
    s_->acq.auxMotor = c.aux;
    s_->acq.selector = c.selector;
    rig_.aux_position = c.position;
    rig_.aux_error = c.aux_error;
    EXPECT_EQ(can_agc_start(s_.get(), c.setting), c.result);
    EXPECT_EQ(running(), c.runs);
    EXPECT_EQ(agc_state().requested, c.runs ? c.setting : 0);
    EXPECT_EQ(can_agc_stop(s_.get()), 0);
  }
  can_agc_set_lock(1);
  EXPECT_EQ(can_agc_start(s_.get(), 0), 0);
  EXPECT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(log_.str(), "");
}

TEST_F(AgcLifecycle, WithoutLiveDisplayOnlyTheRequestIsKept) {
  s_->acq.liveDisplay = 0;
  EXPECT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(agc_state().requested, 5);
  EXPECT_EQ(agc_state().active, 0);
}

TEST_F(AgcLifecycle, SuspensionsNestAndTheLastResumeRestartsWithTheSetting) {
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  ASSERT_TRUE(running());
  EXPECT_EQ(can_agc_suspend(s_.get(), 1), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(agc_state().requested, 5);
  EXPECT_EQ(agc_state().active, 0);
  EXPECT_EQ(can_agc_suspend(s_.get(), 1), 0);
  EXPECT_EQ(can_agc_start(s_.get(), 6), 0);  // taken, not started
  EXPECT_FALSE(running());
  EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(agc_state().suspend_count, 1);
  EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
  EXPECT_TRUE(running());
  EXPECT_EQ(agc_state().active, 6);
  ASSERT_TRUE(eventually([this] { return rig_.starts == 2; }));
  // More resumes than suspensions do not count below 0.
  EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
  EXPECT_EQ(agc_state().suspend_count, 0);
  EXPECT_EQ(rig_.starts, 2);
}

TEST_F(AgcLifecycle, AStopDuringASuspensionKeepsItStopped) {
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_EQ(can_agc_suspend(s_.get(), 1), 0);
  EXPECT_EQ(can_agc_stop(s_.get()), 0);
  EXPECT_EQ(agc_state().requested, 0);
  EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(rig_.starts, 1);
}

TEST_F(AgcLifecycle, AStopStoresTheLevelForTheCurrentLightSource) {
  s_->currentLightSource = 1;
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_EQ(can_agc_suspend(s_.get(), 1), 0);
  EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
  ASSERT_TRUE(running());
  EXPECT_EQ(can_agc_stop(s_.get()), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(s_->acq.lightLevel[1], 4321);
  EXPECT_EQ(s_->acq.lightLevel[0], 0);
  const auto st = agc_state();
  EXPECT_EQ(st.active, 0);
  EXPECT_EQ(st.requested, 0);
  EXPECT_EQ(st.suspend_count, 0);
  // Without a thread the level is left alone.
  s_->acq.lightLevel[1] = 0;
  EXPECT_EQ(can_agc_stop(s_.get()), 0);
  EXPECT_EQ(s_->acq.lightLevel[1], 0);
}

TEST_F(AgcLifecycle, ASecondStartOnlyTakesTheSetting) {
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_EQ(can_agc_start(s_.get(), 7), 0);
  EXPECT_TRUE(running());
  EXPECT_EQ(agc_state().active, 7);
  EXPECT_EQ(agc_state().requested, 7);
  EXPECT_EQ(can_agc_start_thread(s_.get()), 0);
  EXPECT_TRUE(eventually([this] { return rig_.starts >= 1; }));
  // The thread's light levels do not count as user activity while it runs.
  EXPECT_TRUE(felbrin::can::agc_running());
  EXPECT_EQ(can_agc_stop_thread(), 0);
  EXPECT_FALSE(felbrin::can::agc_running());
  EXPECT_EQ(rig_.starts, 1);
}

TEST_F(AgcLifecycle, AThreadThatEndedByItselfIsJoinedAndCanStartAgain) {
  rig_.copy_error = ERR_ACQ_READ;
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  ASSERT_TRUE(eventually([] { return !agc_state().running; }));
  EXPECT_EQ(agc_state().active, 0);  // an error end
  EXPECT_EQ(agc_state().requested, 5);
  EXPECT_EQ(rig_.copies, 10);
  rig_.copy_error = 0;
  EXPECT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_TRUE(running());
  EXPECT_EQ(agc_state().active, 5);
  EXPECT_TRUE(eventually([this] { return rig_.starts == 2; }));
}

TEST_F(AgcLifecycle, AnInvalidModeClearsTheActiveSetting) {
  s_->acq.currentMode = 3;
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  ASSERT_TRUE(eventually([] { return !agc_state().running; }));
  EXPECT_EQ(agc_state().active, 0);
  EXPECT_EQ(log_.str(), "can_agc_thread_func: invalid acquisition mode\n");
}

TEST_F(AgcLifecycle, AStopEndsALongSkipPausePromptly) {
  s_->acq.grabRate = 0.1;  // 10 s between frames
  rig_.copy_error = ERR_LOST_FRAME;
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  ASSERT_TRUE(eventually([this] { return rig_.copies == 1; }));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(can_agc_stop_thread(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(rig_.copies, 1);
  EXPECT_FALSE(running());
}

TEST_F(AgcLifecycle, AThreadThatDoesNotEndInFiveSecondsIsKept) {
  // The frame source hangs until released; the stop's bound runs on the
  // virtual clock.
  felbrin::test::VirtualClock clock;
  static Event release;
  release.reset();
  AgcDeps deps = rig_deps();
  deps.copy = [](sysInfo_t*, bool, const AgcFrame&) {
    ++g_rig->copies;
    release.wait();
    return 0;
  };
  felbrin::control::agc_set_deps(deps);
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  ASSERT_TRUE(eventually([this] { return rig_.copies == 1; }));
  std::atomic<int> result{-1};
  std::thread stopper([&result] { result = can_agc_stop_thread(); });
  // Moves the clock until the stop gives up, however late the stopper
  // begins to wait.
  ASSERT_TRUE(eventually([&result] {
    u_sleep_ms(100);
    return result != -1;
  }));
  stopper.join();
  EXPECT_EQ(result, ERR_INTERNAL_FB);
  EXPECT_GE(clock.elapsed_ms(), 5000);
  EXPECT_EQ(log_.str(), "can_agc_stop_thread: failed to stop thread within 5 sec\n");
  EXPECT_TRUE(running());
  release.set();
  EXPECT_EQ(can_agc_stop_thread(), 0);
  EXPECT_FALSE(running());
}

TEST_F(AgcLifecycle, TheSuspendCountSaturates) {
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  felbrin::control::agc_set_suspend_count(INT32_MAX);
  EXPECT_EQ(can_agc_suspend(s_.get(), 1), 0);
  EXPECT_EQ(agc_state().suspend_count, INT32_MAX);
  EXPECT_TRUE(running());  // the increment did not happen: nothing stopped
}

TEST_F(AgcLifecycle, TheLockFlagHoldsSuspendAndResume) {
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  can_agc_set_lock(1);
  EXPECT_EQ(can_agc_suspend(s_.get(), 1), 0);
  EXPECT_TRUE(running());
  EXPECT_EQ(agc_state().suspend_count, 0);
  can_agc_set_lock(0);
  EXPECT_EQ(can_agc_suspend(s_.get(), 1), 0);
  can_agc_set_lock(1);
  EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
  EXPECT_FALSE(running());
}

TEST_F(AgcLifecycle, ReleaseStopsAndClosesTheEvent) {
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_EQ(can_agc_release(), 0);
  EXPECT_FALSE(running());
  EXPECT_FALSE(agc_state().has_stop_event);
  // Without its event a thread ends at once.
  log_.clear();
  EXPECT_EQ(can_agc_start_thread(s_.get()), 0);
  ASSERT_TRUE(eventually([] { return !agc_state().running; }));
  EXPECT_EQ(log_.str(), "can_agc_thread_func: can_agc_stop_event = NULL\n");
}

TEST_F(AgcLifecycle, TheBringUpHoldsAndReleasesIt) {
  const CanInstServices d = can_default_inst_services();
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_EQ(d.agc_init(s_.get()), 0);
  EXPECT_EQ(agc_state().requested, 0);
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_EQ(d.agc_hold(s_.get()), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(d.agc_release(s_.get()), 0);
  EXPECT_TRUE(running());
  EXPECT_EQ(d.agc_stop(s_.get()), 0);
  EXPECT_FALSE(running());
  EXPECT_FALSE(agc_state().has_stop_event);
}

TEST_F(AgcLifecycle, StartSuspendAndStopFromSeveralThreads) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  sysInfo_t* s = s_.get();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([s, &go, t] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 60; ++i) {
        switch ((i + t) % 5) {
          case 0: can_agc_start(s, 1 + t); break;
          case 1: can_agc_suspend(s, 1); break;
          case 2: can_agc_suspend(s, 0); break;
          case 3: can_agc_stop(s); break;
          default: (void)agc_state(); break;
        }
      }
    });
  }
  go = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(can_agc_stop(s), 0);
  EXPECT_FALSE(running());
  EXPECT_EQ(log_.str(), "");
}

TEST(AgcRace, TheBodyReadsTargetAndLiveFlagWhileTheyChange) {
  felbrin::test::VirtualClock clock;
  felbrin::test::LogCapture log;
  auto s = record();
  s->acq.grabRate = 50;
  Event stop;
  std::atomic<int> copies{0};
  AgcDeps d = rig_deps();
  Rig rig;
  g_rig = &rig;
  d.copy = [&](sysInfo_t*, bool, const AgcFrame& into) {
    if (++copies == 2000) stop.set();
    std::fill(into.bytes.begin(), into.bytes.end(), static_cast<uint8_t>(copies * 7));
    return copies % 5 == 0 ? ERR_LOST_FRAME : 0;
  };
  std::atomic<int> result{-1};
  std::thread body([&] { result = agc_thread_body(s.get(), &stop, d); });
  for (int i = 0; !stop.is_set(); ++i) {
    std::atomic_ref<uint16_t>(s->llcTarget).store(static_cast<uint16_t>(i % 256));
    std::atomic_ref<uint8_t>(s->acq.liveDisplay).store(static_cast<uint8_t>(i % 2));
    std::atomic_ref<double>(s->acq.grabRate).store(i % 3 == 0 ? 0.0 : 50.0);
    std::this_thread::yield();
  }
  body.join();
  g_rig = nullptr;
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log.str(), "");
}

}  // namespace
