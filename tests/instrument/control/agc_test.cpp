#include "instrument/control/agc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/event.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/record/sys_info.h"
#include "instrument/system/can_bringup.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_state.h"
#include "instrument/control/agc_internal.h"
#include "instrument/acquisition/acq_grab.h"
#include "instrument/acquisition/acq_mgr.h"
#include "support/ini_folder.h"
#include "tests/support/eventually.h"
#include "tests/support/log_capture.h"
#include "tests/support/soak.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::Event;
using namespace felbrin::control;
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
  s->acq.liveWidth = s->acq.cameraWidth = kWidth;
  s->acq.liveHeight = s->acq.cameraHeight = kHeight;
  s->acq.modes[0].bytesPerPixel = 1;
  s->acq.modes[0].resolution = 8;
  s->acq.modeCount = 1;
  s->acq.currentMode = 0;
  return s;
}

// One scripted round of the frame source: an error, or a frame whose first
// 100 pixels are `bright` and the rest 0, `width` wide when not 0.
struct Shot {
  int err = 0;
  uint16_t bright = 0;
  int32_t width = 0;
};
Shot frame(uint16_t bright) { return {0, bright, 0}; }
Shot failing(int err) { return {err, 0, 0}; }
const Shot kLost = failing(ERR_LOST_FRAME);

// Scripted frames and ND wheel for the body, run in the test's thread on the
// virtual clock. When the frames run out it stops the body.
struct Script {
  std::vector<Shot> shots;
  std::vector<int> write_errors;  // per write, 0 when missing
  uint16_t start_level = 10000;
  int read_error = 0, grab_error = 0, wait_error = 0;
  Event stop;
  std::size_t next = 0;
  std::vector<int64_t> copy_times;
  std::vector<bool> copy_live;
  std::vector<int> written;
  int grabs = 0, waits = 0;
  AgcFrame seen;

  AgcDeps deps() {
    AgcDeps d;
    d.grab = [this](sysInfo_t*) { return ++grabs, grab_error; };
    d.copy = [this](sysInfo_t*, bool live, const AgcFrame& into) {
      seen = into;
      if (next == shots.size()) return stop.set(), 0;
      copy_times.push_back(u_ticks_ms());
      copy_live.push_back(live);
      const Shot& shot = shots[next++];
      if (shot.err != 0) return shot.err;
      const int32_t width = shot.width != 0 ? shot.width : into.width;
      const int32_t bpp = into.bytes_per_pixel;
      std::vector<uint8_t> bytes(static_cast<std::size_t>(width) * into.height * bpp);
      for (std::size_t i = 0; i < std::min<std::size_t>(100, bytes.size() / bpp); ++i)
        std::memcpy(&bytes[i * bpp], &shot.bright, bpp);  // little-endian, as the frames come
      return agc_fill_frame(into, bytes.data(), width, into.height, bpp);
    };
    d.read_level = [this](sysInfo_t*, uint16_t* level) { return *level = start_level, read_error; };
    d.write_level = [this](sysInfo_t*, uint16_t level) {
      written.push_back(level);
      return written.size() <= write_errors.size() ? write_errors[written.size() - 1] : 0;
    };
    d.llc_wait = [this](sysInfo_t*) { return ++waits, wait_error; };
    d.aux_position = [](sysInfo_t*, uint8_t* position) { return *position = 2, 0; };
    return d;
  }
  int run(sysInfo_t* s) { return agc_thread_body(s, &stop, deps()); }
};

class AgcBody : public ::testing::Test {
 protected:
  felbrin::test::VirtualClock clock_;
  felbrin::test::LogCapture log_;
  std::unique_ptr<sysInfo_t> s_ = record();
};

// Rounds of a correction at e = 255/256 (target 0) and its two skipped frames.
std::vector<Shot> full_rounds(int n) {
  std::vector<Shot> shots;
  for (int i = 0; i < n; ++i) shots.insert(shots.end(), {frame(255), frame(0), frame(0)});
  return shots;
}
std::string lines(const std::string& line, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += "can_agc_thread_func: " + line + "\n";
  return text;
}

// A run of the body on scripted frames and what it gives. The frames run
// out, which stops it, unless it ends first.
struct BodyCase {
  const char* name;
  std::vector<Shot> shots;
  std::vector<int> written = {};
  std::optional<int64_t> elapsed = {};  // ms until the frames ran out
  std::vector<int64_t> times = {};      // of each frame, when given
  int result = 0;
  std::string log = "";
  std::optional<std::size_t> frames = {};  // taken before the end; all when not given
  uint16_t target = 150, start = 10000;
  int32_t bpp = 1, resolution = 8, mode = 0;
  uint8_t live = 1;
  double grab_rate = 0;
  int grabs = 0;
  std::vector<int> write_errors = {};
  int read_error = 0, grab_error = 0, wait_error = 0;
};

TEST_F(AgcBody, ScriptedRuns) {
  const std::vector<int> ramp = {5976, 8964, 11953, 14941, 17929, 20917, 23906, 26894, 29882};
  auto ramp_then = [&ramp](int last) {
    std::vector<int> levels = ramp;
    levels.push_back(last);
    return levels;
  };
  std::vector<Shot> settled = full_rounds(9), broken(19, failing(ERR_ACQ_READ));
  settled.insert(settled.end(), {frame(0), frame(255)});
  broken[9] = frame(150);
  const std::string copy_error = "Error copying frame: ERR_ACQ_READ";
  const std::string bad_mode = lines("invalid acquisition mode", 1);
  const BodyCase cases[] = {
      // e = 201/256 - 151/256 = 0.1953125: p = q = 585.9375, c = 11171.875.
      // The second correction (q = 0) adds 585.9375 to the kept fraction:
      // 11757.8125, where a truncated c would give 11756. Two frames are
      // skipped after each write, without a pause at grab rate 0.
      {.name = "first correction truncated, fraction kept", .shots = std::vector<Shot>(4, frame(200)),
       .written = {11171, 11757}, .elapsed = 0},
      // Within 8/256 of the target: 100 ms to the next frame, no write.
      {.name = "e = 0", .shots = std::vector<Shot>(3, frame(150)), .elapsed = 300},
      {.name = "e = 8/256", .shots = std::vector<Shot>(3, frame(158)), .elapsed = 300},
      {.name = "e = -8/256", .shots = std::vector<Shot>(3, frame(142)), .elapsed = 300},
      {.name = "e = 9/256", .shots = std::vector<Shot>(3, frame(159)), .written = {10210}, .elapsed = 0},
      {.name = "e = -9/256", .shots = std::vector<Shot>(3, frame(141)), .written = {9789}, .elapsed = 0},
      // The target is on an 8-bit scale: (2415 + 1) / 4096 = 151/256.
      {.name = "12-bit on target", .shots = {frame(2415), frame(2431)}, .elapsed = 200, .bpp = 2, .resolution = 12},
      {.name = "12-bit 9/256 above", .shots = std::vector<Shot>(3, frame(2559)), .written = {10210}, .bpp = 2,
       .resolution = 12},
      // e = 1/256 - 1: -5976.6 from 100 is held at 0; at 0 again: no write.
      {.name = "held at 0", .shots = std::vector<Shot>(5, frame(0)), .written = {0}, .target = 255, .start = 100},
      {.name = "held at 65535", .shots = {frame(255), frame(0), frame(0), frame(255), frame(0)},
       .written = {65535}, .target = 0, .start = 65000},
      // Held at 65535 after a failed write: the level differs from the one
      // last written (65000), so it is written again.
      {.name = "wind-up on a failed write", .shots = {frame(255), frame(255), frame(0), frame(0), frame(255)},
       .written = {65535, 65535}, .log = lines("Error setting NDW: ERR_CAN_SDO_NDW_ERROR", 1), .target = 0,
       .start = 65000, .write_errors = {ERR_CAN_SDO_NDW_ERROR}},
      // p = 2988.28125, q = p on the first round only: the tenth correction
      // in a row adds 1988.28125, but after a settled round it is a first one.
      {.name = "tenth correction damped", .shots = full_rounds(10), .written = ramp_then(31871), .target = 0,
       .start = 0},
      {.name = "settled round restarts the count", .shots = settled, .written = ramp_then(32871), .target = 0,
       .start = 0},
      // Lost frames are skipped unlogged, 50 ms apart live. A write's two
      // skipped frames are not made three by a lost one.
      {.name = "lost frames live", .shots = {kLost, frame(150), frame(200), kLost, frame(0), frame(200)},
       .written = {11171, 11757}, .times = {0, 50, 150, 150, 200, 250}, .grab_rate = 20},
      {.name = "lost frames grabbed", .shots = {kLost, frame(150)}, .elapsed = 100, .times = {0, 0}, .live = 0,
       .grab_rate = 20, .grabs = 3},
      {.name = "a frame of another size", .shots = {{0, 200, kWidth + 1}, frame(150)}, .elapsed = 100,
       .log = lines("Error copying frame: ERR_FRAME_DATA_CORRUPT", 1)},
      // Ten failed rounds in a row end it, straight on without a pause.
      {.name = "copy fails", .shots = std::vector<Shot>(12, failing(ERR_ACQ_READ)), .elapsed = 0,
       .result = ERR_ACQ_READ, .log = lines(copy_error, 10), .frames = 10},
      {.name = "grab fails", .shots = std::vector<Shot>(12, frame(150)), .elapsed = 0, .result = ERR_ACQ_TIMEOUT,
       .log = lines("Error grabbing frame: ERR_ACQ_TIMEOUT", 10), .frames = 0, .live = 0, .grabs = 10,
       .grab_error = ERR_ACQ_TIMEOUT},
      {.name = "write fails", .shots = std::vector<Shot>(12, frame(255)), .written = std::vector<int>(10, 65535),
       .elapsed = 0, .result = ERR_CAN_SDO_NDW_ERROR, .log = lines("Error setting NDW: ERR_CAN_SDO_NDW_ERROR", 10),
       .frames = 10, .target = 0, .start = 65000, .write_errors = std::vector<int>(10, ERR_CAN_SDO_NDW_ERROR)},
      // Each round corrects again: + 585.9375, too little to be damped.
      {.name = "wait fails", .shots = std::vector<Shot>(12, frame(200)),
       .written = {11171, 11757, 12343, 12929, 13515, 14101, 14687, 15273, 15859, 16445}, .elapsed = 0,
       .result = ERR_CAN_TIMEOUT,
       .log = lines("Error waiting for LLC: ERR_CAN_TIMEOUT", 10), .frames = 10, .wait_error = ERR_CAN_TIMEOUT},
      {.name = "nine failed rounds, a good one, nine more", .shots = broken, .elapsed = 100,
       .log = lines(copy_error, 18)},
      // Bad set-up ends it before any frame.
      {.name = "mode -1", .shots = {frame(200)}, .result = ERR_ACQ_INVALID_MODE, .log = bad_mode, .frames = 0,
       .mode = -1},
      {.name = "mode 1 of 1", .shots = {frame(200)}, .result = ERR_ACQ_INVALID_MODE, .log = bad_mode, .frames = 0,
       .mode = 1},
      {.name = "mode 100", .shots = {frame(200)}, .result = ERR_ACQ_INVALID_MODE, .log = bad_mode, .frames = 0,
       .mode = 100},
      {.name = "level unreadable", .shots = {frame(200)}, .result = ERR_CAN_SDO_NDW_ERROR,
       .log = lines("Error reading ND wheel light level: ERR_CAN_SDO_NDW_ERROR", 1), .frames = 0,
       .read_error = ERR_CAN_SDO_NDW_ERROR},
  };
  // The pauses are the thread's own: an abort meant for the caller leaves them.
  const u_abort_hook saved = u_set_abort_fn([](void*) { return 1; });
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    s_->llcTarget = c.target;
    s_->acq.modes[0].bytesPerPixel = c.bpp;
    s_->acq.modes[0].resolution = c.resolution;
    s_->acq.currentMode = c.mode;
    s_->acq.liveDisplay = c.live;
    s_->acq.grabRate = c.grab_rate;
    Script script;
    script.shots = c.shots;
    script.start_level = c.start;
    script.write_errors = c.write_errors;
    script.read_error = c.read_error;
    script.grab_error = c.grab_error;
    script.wait_error = c.wait_error;
    const int64_t t0 = clock_.elapsed_ms();
    EXPECT_EQ(script.run(s_.get()), c.result);
    EXPECT_EQ(script.written, c.written);
    // Each write that went through waits for the wheel.
    EXPECT_EQ(script.waits, static_cast<int>(std::ranges::count(script.write_errors, 0) +
                                             c.written.size() - script.write_errors.size()));
    EXPECT_EQ(clock_.elapsed_ms() - t0, c.elapsed.value_or(clock_.elapsed_ms() - t0));
    for (int64_t& t : script.copy_times) t -= t0;
    if (!c.times.empty()) {
      EXPECT_EQ(script.copy_times, c.times);
    }
    EXPECT_EQ(script.copy_times.size(), c.frames.value_or(c.shots.size()));
    EXPECT_EQ(std::ranges::count(script.copy_live, c.live == 0), 0);
    EXPECT_EQ(script.grabs, c.grabs);
    EXPECT_EQ(log_.str(), c.log);
  }
  u_set_abort_fn(saved);
}

TEST_F(AgcBody, ALongSkipPauseEndsAtAStop) {
  s_->acq.grabRate = 0.1;  // 10 s between frames, unless stopped meanwhile
  Script script;
  script.shots = {kLost};
  // The idle hook runs after each step of the pause: stop 3 s into it.
  static Event* stop = nullptr;
  stop = &script.stop;
  const u_idle_hook saved = u_set_idle_fn([] {
    if (u_ticks_ms() >= 3000) stop->set();
  });
  EXPECT_EQ(script.run(s_.get()), 0);
  u_set_idle_fn(saved);
  EXPECT_EQ(clock_.elapsed_ms(), 3000);
  EXPECT_EQ(script.copy_times.size(), 1u);
}

TEST(AgcFill, CopiesOnlyAFrameOfTheBuffersGeometry) {
  std::vector<uint8_t> buffer(6, 0xEE);
  const AgcFrame into{std::span<uint8_t>(buffer.data(), 4), 2, 2, 1};
  const uint8_t pixels[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(agc_fill_frame(into, pixels, 2, 2, 2), ERR_FRAME_DATA_CORRUPT);
  EXPECT_EQ(buffer, std::vector<uint8_t>(6, 0xEE));
  const AgcFrame one_short{std::span<uint8_t>(buffer.data(), 3), 2, 2, 1};
  EXPECT_EQ(agc_fill_frame(one_short, pixels, 2, 2, 1), ERR_FRAME_DATA_CORRUPT);
  EXPECT_EQ(buffer, std::vector<uint8_t>(6, 0xEE));
  EXPECT_EQ(agc_fill_frame(into, pixels, 2, 2, 1), 0);
  EXPECT_EQ(buffer, (std::vector<uint8_t>{1, 2, 3, 4, 0xEE, 0xEE}));
}

TEST_F(AgcBody, TheBufferTakesTheGeometryOfTheLiveOrGrabbedFrame) {
  struct Case {
    uint8_t live;
    int32_t live_sub, grab_under, bpp, width, height, bytes;
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
        bytes.push_back(static_cast<uint8_t>(c.pixels[i]));
        if (c.bpp == 2) bytes.push_back(static_cast<uint8_t>(c.pixels[i] >> 8));
      }
    std::vector<uint32_t> hist(agc_bins(c.resolution), 7);
    EXPECT_EQ(agc_top_level(bytes, c.bpp, hist), c.level);
  }
  EXPECT_EQ(agc_bins(17), 65536u);
}

// ---- the light-level wait
TEST(LlcWait, EndsAsTheWheelStopsAtATimeoutOrAnAbort) {
  felbrin::test::VirtualClock clock;
  sysInfo_t s;
  if (!can_ndwheel_stopped_open()) {  // nothing to wait for
    EXPECT_EQ(ac_llc_wait(&s), 0);
    EXPECT_EQ(clock.elapsed_ms(), 0);
  }
  static std::shared_ptr<Event> stopped;
  stopped = can_ndwheel_stopped_create();
  stopped->reset();
  EXPECT_EQ(ac_llc_wait(&s), ERR_CAN_TIMEOUT);
  EXPECT_EQ(clock.elapsed_ms(), 3000);
  EXPECT_EQ(clock.pause_count(), 300);
  const u_abort_hook saved_abort = u_set_abort_fn([](void*) { return 1; });
  EXPECT_EQ(ac_llc_wait(&s), ERR_FELBRIN_ABORTED);
  u_set_abort_fn(saved_abort);
  EXPECT_EQ(clock.elapsed_ms(), 3010);
  const u_idle_hook saved_idle = u_set_idle_fn([] {
    if (u_ticks_ms() == 3130) stopped->set();
  });
  EXPECT_EQ(ac_llc_wait(&s), 0);
  u_set_idle_fn(saved_idle);
  EXPECT_EQ(clock.elapsed_ms(), 3130);
  EXPECT_EQ(ac_llc_wait(&s), 0);  // already stopped: no wait
  EXPECT_EQ(clock.elapsed_ms(), 3130);
  stopped.reset();
}

// ---- the thread's lifecycle, with a real thread on stand-ins
struct Rig {
  std::atomic<int> starts{0};  // level reads: one per thread start, one per stop of a thread
  std::atomic<int> copies{0}, copy_error{0}, aux_error{0}, aux_position{2};
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
  d.read_level = [](sysInfo_t*, uint16_t* level) { return ++g_rig->starts, *level = 4321, 0; };
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
    saved_ = set_deps(rig_deps());
    ASSERT_EQ(can_agc_init(), 0);
  }
  void TearDown() override {
    can_agc_set_lock(0);
    EXPECT_EQ(can_agc_release(), 0);
    set_deps(std::move(saved_));
    g_rig = nullptr;
  }
  static AgcDeps set_deps(AgcDeps d) { return agc_set_deps(std::move(d)); }
  static bool running() { return agc_state().running; }

  Rig rig_;
  AgcDeps saved_;
  felbrin::test::LogCapture log_;
  std::unique_ptr<sysInfo_t> s_ = record();
};

TEST_F(AgcLifecycle, StartChecksWhereItAppliesTheSettingAndTheSelector) {
  struct Case {
    const char* name;
    int32_t board, system;
    uint8_t option, aux, selector;
    int position, aux_error, setting, result;
    bool applies, runs;
  } const cases[] = {
      {"another board", BD_LUMEN, SYS_KITECAN, 1, 0, 1, 2, 0, 5, 0, false, false},
      {"another system", BD_CAN, SYS_FJORD1, 1, 0, 1, 2, 0, 5, 0, false, false},
      {"option 0", BD_CAN, SYS_KITECAN, 0, 0, 1, 2, 0, 5, 0, false, false},
      {"option 2", BD_CAN, SYS_IRIS_CAN, 2, 0, 1, 2, 0, 5, 0, false, false},
      {"setting 0", BD_CAN, SYS_KITECAN, 1, 0, 1, 2, 0, 0, ERR_INVALID_PARAM, true, false},
      {"selector clear", BD_CAN, SYS_KITECAN, 1, 0, 0, 2, 0, 5, 0, true, false},
      {"selector set", BD_CAN, SYS_KITECAN, 1, 0, 1, 2, 0, 5, 0, true, true},
      {"alder", BD_CAN, SYS_ALDER4, 1, 0, 1, 2, 0, 5, 0, true, true},
      {"heron", BD_CAN, SYS_HERON_CAN, 1, 0, 1, 2, 0, 5, 0, true, true},
      {"kite 2", BD_CAN, SYS_KITE2CAN, 1, 0, 1, 2, 0, 5, 0, true, true},
      {"iris", BD_CAN, SYS_IRIS_CAN, 1, 0, 1, 2, 0, 5, 0, true, true},
      {"glen without aux motor", BD_CAN, SYS_GLENCAN, 1, 0, 1, 1, 0, 5, 0, true, true},
      {"aux at 2", BD_CAN, SYS_GLENCAN, 1, 1, 0, 2, 0, 5, 0, true, true},
      {"aux at 1", BD_CAN, SYS_GLENCAN, 1, 1, 1, 1, 0, 5, 0, true, false},
      {"aux at 3", BD_CAN, SYS_GLENCAN, 1, 1, 1, 3, 0, 5, 0, true, false},
      {"aux node error", BD_CAN, SYS_GLENCAN, 1, 1, 1, 2, ERR_CAN_SDO_DMD_ERROR, 5, ERR_CAN_SDO_AUX_MOTOR_ERROR, true,
       false},
      {"aux other error", BD_CAN, SYS_GLENCAN, 1, 1, 1, 2, ERR_CAN_TIMEOUT, 5, ERR_CAN_TIMEOUT, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    s_->instrBdType = c.board;
    s_->systemType = c.system;
    s_->acq.agcOption = c.option;
    s_->acq.auxMotor = c.aux;
    s_->acq.selector = c.selector;
    rig_.aux_position = c.position;
    rig_.aux_error = c.aux_error;
    EXPECT_EQ(can_agc_applies(s_.get()), c.applies);
    EXPECT_EQ(can_agc_start(s_.get(), c.setting), c.result);
    EXPECT_EQ(log_.str(), c.applies ? "" : "can_agc_start: CAN AGC is not applicable\n");
    EXPECT_EQ(can_agc_suspend(s_.get(), 0), 0);
    EXPECT_EQ(running(), c.runs);
    EXPECT_EQ(agc_state().requested, c.runs ? c.setting : 0);
    EXPECT_EQ(can_agc_stop(s_.get()), 0);
    EXPECT_FALSE(running());
  }
}

// Steps of the start, stop, suspension and lock calls, each with the state
// it leaves.
enum Op { kStart, kSuspend, kResume, kStop, kLock, kUnlock, kNotLive, kSaturate, kInit, kHold, kRelease, kClose };
struct Step {
  Op op;
  int setting;
  bool running;
  int active, requested, suspended;
  bool stop_event = true;
};

TEST_F(AgcLifecycle, StartStopSuspendAndLock) {
  constexpr int kMax = INT32_MAX;
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"suspensions nest, the last resume restarts with the latest setting",
       {{kStart, 5, true, 5, 5, 0}, {kSuspend, 0, false, 0, 5, 1}, {kSuspend, 0, false, 0, 5, 2},
        {kStart, 6, false, 0, 6, 2}, {kResume, 0, false, 0, 6, 1}, {kResume, 0, true, 6, 6, 0},
        {kResume, 0, true, 6, 6, 0}}},
      {"a stop during a suspension keeps it stopped",
       {{kStart, 5, true, 5, 5, 0}, {kSuspend, 0, false, 0, 5, 1}, {kStop, 0, false, 0, 0, 1},
        {kResume, 0, false, 0, 0, 0}}},
      {"a second start only takes the setting", {{kStart, 5, true, 5, 5, 0}, {kStart, 7, true, 7, 7, 0}}},
      {"without live display only the request is kept",
       {{kNotLive, 0, false, 0, 0, 0}, {kStart, 5, false, 0, 5, 0}, {kSuspend, 0, false, 0, 5, 1},
        {kResume, 0, false, 0, 5, 0}}},
      {"the suspend count saturates",
       {{kStart, 5, true, 5, 5, 0}, {kSaturate, 0, true, 5, 5, kMax}, {kSuspend, 0, true, 5, 5, kMax}}},
      {"the lock holds start, suspend and resume",
       {{kStart, 5, true, 5, 5, 0}, {kLock, 0, true, 5, 5, 0}, {kSuspend, 0, true, 5, 5, 0},
        {kStart, 0, true, 5, 5, 0}, {kUnlock, 0, true, 5, 5, 0}, {kSuspend, 0, false, 0, 5, 1},
        {kLock, 0, false, 0, 5, 1}, {kResume, 0, false, 0, 5, 1}, {kStart, 6, false, 0, 5, 1}}},
      {"the bring-up clears, holds, releases and closes it",
       {{kStart, 5, true, 5, 5, 0}, {kInit, 0, true, 0, 0, 0}, {kStart, 5, true, 5, 5, 0},
        {kHold, 0, false, 0, 5, 1}, {kRelease, 0, true, 5, 5, 0}, {kClose, 0, false, 5, 5, 0, false}}},
  };
  const CanInstServices bringup = can_default_inst_services();
  sysInfo_t* s = s_.get();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Step& step : c.steps) {
      SCOPED_TRACE(&step - c.steps.data());
      int result = 0;
      switch (step.op) {
        case kStart: result = can_agc_start(s, step.setting); break;
        case kSuspend: result = can_agc_suspend(s, 1); break;
        case kResume: result = can_agc_suspend(s, 0); break;
        case kStop: result = can_agc_stop(s); break;
        case kLock: can_agc_set_lock(1); break;
        case kUnlock: can_agc_set_lock(0); break;
        case kNotLive: s->acq.liveDisplay = 0; break;
        case kSaturate: agc_set_suspend_count(INT32_MAX); break;
        case kInit: result = bringup.agc_init(s); break;
        case kHold: result = bringup.agc_hold(s); break;
        case kRelease: result = bringup.agc_release(s); break;
        case kClose: result = bringup.agc_stop(s); break;
      }
      EXPECT_EQ(result, 0);
      const AgcState st = agc_state();
      EXPECT_EQ(st.running, step.running);
      EXPECT_EQ(st.active, step.active);
      EXPECT_EQ(st.requested, step.requested);
      EXPECT_EQ(st.suspend_count, step.suspended);
      EXPECT_EQ(st.has_stop_event, step.stop_event);
    }
    can_agc_set_lock(0);
    EXPECT_EQ(can_agc_release(), 0);
    EXPECT_EQ(can_agc_init(), 0);
    s->acq.liveDisplay = 1;
  }
}

TEST_F(AgcLifecycle, OneThreadWhoseLevelIsStoredAtTheStopAndIsNotUserActivity) {
  s_->currentLightSource = 1;
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  EXPECT_EQ(can_agc_start(s_.get(), 7), 0);
  EXPECT_EQ(can_agc_start_thread(s_.get()), 0);
  EXPECT_TRUE(eventually([this] { return rig_.starts >= 1; }));
  EXPECT_TRUE(felbrin::can::agc_running());
  EXPECT_EQ(can_agc_stop(s_.get()), 0);
  EXPECT_FALSE(felbrin::can::agc_running());
  EXPECT_EQ(rig_.starts, 2);  // the thread's start and the stop
  EXPECT_EQ(s_->acq.lightLevel[1], 4321);
  EXPECT_EQ(s_->acq.lightLevel[0], 0);
  s_->acq.lightLevel[1] = 0;  // without a thread the level is left alone
  EXPECT_EQ(can_agc_stop(s_.get()), 0);
  EXPECT_EQ(s_->acq.lightLevel[1], 0);
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
  // An invalid mode ends it the same way.
  EXPECT_EQ(can_agc_stop(s_.get()), 0);
  log_.clear();
  s_->acq.currentMode = 3;
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  ASSERT_TRUE(eventually([] { return !agc_state().running; }));
  EXPECT_EQ(agc_state().active, 0);
  EXPECT_EQ(log_.str(), "can_agc_thread_func: invalid acquisition mode\n");
}

TEST_F(AgcLifecycle, AThreadThatDoesNotEndInFiveSecondsIsKept) {
  // The frame source hangs until released; the stop's bound runs on the
  // virtual clock.
  felbrin::test::VirtualClock clock;
  static Event release;
  release.reset();
  AgcDeps deps = rig_deps();
  deps.copy = [](sysInfo_t*, bool, const AgcFrame&) { return ++g_rig->copies, release.wait(), 0; };
  set_deps(deps);
  ASSERT_EQ(can_agc_start(s_.get(), 5), 0);
  ASSERT_TRUE(eventually([this] { return rig_.copies == 1; }));
  std::atomic<int> result{-1};
  std::thread stopper([&result] { result = can_agc_stop_thread(); });
  // Moves the clock until the stop gives up, however late the stopper
  // begins to wait.
  ASSERT_TRUE(eventually([&result] { return u_sleep_ms(100), result != -1; }));
  stopper.join();
  EXPECT_EQ(result, ERR_INTERNAL_FB);
  EXPECT_GE(clock.elapsed_ms(), 5000);
  EXPECT_EQ(log_.str(), "can_agc_stop_thread: failed to stop thread within 5 sec\n");
  EXPECT_TRUE(running());
  release.set();
  EXPECT_EQ(can_agc_stop_thread(), 0);
  EXPECT_FALSE(running());
}

TEST_F(AgcLifecycle, AfterTheReleaseAThreadEndsAtOnce) {
  ASSERT_EQ(can_agc_release(), 0);
  EXPECT_EQ(can_agc_start_thread(s_.get()), 0);
  ASSERT_TRUE(eventually([] { return !agc_state().running; }));
  EXPECT_EQ(log_.str(), "can_agc_thread_func: can_agc_stop_event = NULL\n");
}

TEST_F(AgcLifecycle, StartSuspendAndStopFromSeveralThreads) {
  sysInfo_t* s = s_.get();
  const felbrin::test::SoakAction actions[] = {
      {"start", [s] { can_agc_start(s, 1); }},
      {"start with another setting", [s] { can_agc_start(s, 3); }},
      {"suspend", [s] { can_agc_suspend(s, 1); }},
      {"resume", [s] { can_agc_suspend(s, 0); }},
      {"stop", [s] { can_agc_stop(s); }},
      {"state", [] { (void)agc_state(); }},
  };
  EXPECT_GT(felbrin::test::soak(actions, 4), 0);
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
  Rig rig;
  g_rig = &rig;
  AgcDeps d = rig_deps();
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

namespace frames {

// A host's source: frames whose brightest 100 pixels are 255.
int host_frame(sysInfo_t*, void* pixels, int32_t width, int32_t height, int32_t bpp) {
  std::memset(pixels, 0, static_cast<std::size_t>(width) * height * bpp);
  std::memset(pixels, 255, static_cast<std::size_t>(100) * bpp);
  return 0;
}

}  // namespace frames

// The instrument's frame sources: the camera's live frame, a grabbed frame
// and a host's source each drive the controller exactly as scripted frames
// of the same brightness do.
TEST_F(AgcBody, CameraAndHostFramesDriveItAsScriptedFramesDo) {
  Script scripted;
  scripted.shots = {frame(255), frame(255), frame(255)};
  scripted.run(s_.get());
  ASSERT_FALSE(scripted.written.empty());

  felbrin::test::IniFolder ini;
  ini.write("FxAcq.ini",
            "[FXSIM]\nDEVICES = PCI0\n[ACQDEVICE1]\nID = 100\nINPUTS = CAM0\n"
            "[ACQDEVICE1.INPUT1]\nID = 110\nMODES = Full\n[ACQDEVICE1.INPUT1.MODE1]\nID = 111\n"
            "VALUE.DATA RATE = 30\nVALUE.MAX USER WIDTH = 20\nVALUE.MAX USER HEIGHT = 10\n"
            "VALUE.DATA RESOLUTION = 8\n[FRAMES]\nFRAME = PIXELS 100 255 0\n");
  ASSERT_EQ(acq_mgropen("FxAcq.ini"), 0);
  for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes})
    ASSERT_EQ(step(s_.get()), 0);
  ASSERT_EQ(acq_select_mode(s_.get(), 0), 0);
  const agc_frame_source_t host{&frames::host_frame};
  // Grabbed frames are whole; with grabUnder 2 the controller looks at every
  // other pixel of every other row: the scripted frame's 100 pixels on every
  // other column fill that view, as they fill a scripted frame of its size.
  s_->acq.grabUnder = 2;
  const auto live_display = s_->acq.liveDisplay;
  s_->acq.liveDisplay = 0;
  Script scripted_under_2;
  scripted_under_2.shots = scripted.shots;
  scripted_under_2.run(s_.get());
  ASSERT_NE(scripted_under_2.written, scripted.written);
  s_->acq.liveDisplay = live_display;
  for (const char* source : {"live", "grabbed", "grabbed under 2", "host"}) {
    SCOPED_TRACE(source);
    const std::string_view which = source;
    s_->acq.grabUnder = which == "grabbed under 2" ? 2 : 1;
    const Script& expected = which == "grabbed under 2" ? scripted_under_2 : scripted;
    if (which == "live") {
      ASSERT_EQ(acq_live_start(s_.get()), 0);
      // The live thread's first frame, before the controller's first round.
      std::vector<uint16_t> first(200);
      ASSERT_TRUE(eventually([&] { return acq_live_copy(first.data(), 200, nullptr) == 0; }));
    } else {
      s_->acq.liveDisplay = 0;
    }
    if (which == "host") agc_set_frame_source(&host);
    Script camera;
    const AgcDeps production = agc_production_deps();
    AgcDeps d = camera.deps();
    int copies = 0;
    d.grab = production.grab;
    d.copy = [&](sysInfo_t* s, bool live, const AgcFrame& into) {
      if (copies++ == 3) return camera.stop.set(), 0;
      return production.copy(s, live, into);
    };
    agc_thread_body(s_.get(), &camera.stop, d);
    EXPECT_EQ(camera.written, expected.written);
    agc_set_frame_source(nullptr);
    EXPECT_EQ(acq_live_stop(), 0);
  }
  // A view 7 times smaller than the grabbed 20 x 10 frame takes every 7th
  // pixel, however wide the frame: (0, 0), bright, and (7, 0), dark.
  s_->acq.grabUnder = 7;
  const AgcDeps production = agc_production_deps();
  ASSERT_EQ(production.grab(s_.get()), 0);
  std::array<uint8_t, 2> view{};
  ASSERT_EQ(production.copy(s_.get(), false, AgcFrame{view, 2, 1, 1, 7}), 0);
  EXPECT_EQ(view, (std::array<uint8_t, 2>{255, 0}));
  acq_mgrclose(nullptr);
}
