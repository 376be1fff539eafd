// Frames through the stand-in acquisition library: grabbed frames equal the
// scripted ones, the library's failures and timeouts give their codes, an
// abort ends a grab, the live frame stays whole under concurrent readers,
// the frame rate follows the selected mode, and bad pixels are corrected.
#include "instrument/acquisition/acq_grab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "data/records.h"
#include "instrument/acquisition/acq_mgr.h"
#include "instrument/record/sys_info.h"
#include "support/alloc_hooks.h"
#include "support/ini_folder.h"
#include "support/log_capture.h"
#include "support/virtual_clock.h"

namespace {

using felbrin::test::IniFolder;
using felbrin::test::LogCapture;

// One device, one camera, a 16 x 8 mode of 12 bits at 30 frames/s and an
// 8 x 4 mode of 8 bits at 60, then the frames.
std::string scenario(const std::string& frames, int loop = 1) {
  return "[FXSIM]\nDEVICES = PCI0\n[ACQDEVICE1]\nID = 100\nINPUTS = CAM0\n"
         "[ACQDEVICE1.INPUT1]\nID = 110\nMODES = Full, Small\n"
         "[ACQDEVICE1.INPUT1.MODE1]\nID = 111\nVALUE.DATA RATE = 30\nVALUE.MAX USER WIDTH = 16\n"
         "VALUE.MAX USER HEIGHT = 8\nVALUE.DATA RESOLUTION = 12\n"
         "[ACQDEVICE1.INPUT1.MODE2]\nID = 112\nVALUE.DATA RATE = 60\nVALUE.MAX USER WIDTH = 8\n"
         "VALUE.MAX USER HEIGHT = 4\nVALUE.DATA RESOLUTION = 8\n"
         "[FRAMES]\n" + frames + "LOOP = " + std::to_string(loop) + "\n";
}

class AcqGrab : public ::testing::Test {
 protected:
  void open(const std::string& text) {
    ini.write("FxAcq.ini", text);
    LogCapture quiet;
    ASSERT_EQ(acq_mgropen("FxAcq.ini"), 0) << quiet.str();
    for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes})
      ASSERT_EQ(step(s.get()), 0) << quiet.str();
  }
  void TearDown() override {
    mx_bkt16_release(&frames);
    acq_mgrclose(nullptr);
  }
  std::vector<uint16_t> frame(int k) const {
    const std::size_t n = static_cast<std::size_t>(frames.window.width) * frames.window.height;
    return {frames.matrix + k * n, frames.matrix + (k + 1) * n};
  }
  IniFolder ini;
  std::unique_ptr<sysInfo_t> s = std::make_unique<sysInfo_t>();
  mx_bkt16_t frames{};
};

TEST_F(AcqGrab, FramesEqualTheScriptedOnes) {
  open(scenario("FRAME = FILL 100\nFRAME = PIXELS 5 4000 10\nFRAME = FILL 4095\n"));
  ASSERT_EQ(acq_grab(s.get(), 3, &frames), 0);
  EXPECT_EQ(frames.n_buckets, 3);
  EXPECT_EQ(frames.window.width, 16);
  EXPECT_EQ(frames.window.height, 8);
  EXPECT_EQ(frame(0), std::vector<uint16_t>(128, 100));
  const std::vector<uint16_t> second = frame(1);
  EXPECT_EQ(std::count(second.begin(), second.end(), 4000), 5);
  EXPECT_EQ(std::count(second.begin(), second.end(), 10), 123);
  EXPECT_EQ(frame(2), std::vector<uint16_t>(128, 4095));
  EXPECT_EQ(s->acq.currentMode, 0) << "the first mode, selected by the grab";

  // 8-bit pixels are widened.
  ASSERT_EQ(acq_select_mode(s.get(), 1), 0);
  ASSERT_EQ(acq_grab(s.get(), 1, &frames), 0);
  EXPECT_EQ(frames.window.width, 8);
  EXPECT_EQ(frame(0), std::vector<uint16_t>(32, 100));
}

TEST_F(AcqGrab, FailuresGiveTheirCodesAndLeaveNoFrames) {
  const struct {
    const char* name;
    std::string frames;
    int loop;
    int code;
  } cases[] = {
      {"frame buffer overflow", "FRAME = FILL 1\nFRAME = ERROR 17\n", 1, ERR_LOST_FRAME},
      {"corrupt data", "FRAME = ERROR 18\n", 1, ERR_FRAME_DATA_CORRUPT},
      {"no more frames", "FRAME = FILL 1\n", 0, ERR_ACQ_TIMEOUT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    open(scenario(c.frames, c.loop));
    felbrin::test::VirtualClock clock;
    LogCapture log;
    EXPECT_EQ(acq_grab(s.get(), 2, &frames, 500), c.code);
    EXPECT_EQ(frames.matrix, nullptr);
    EXPECT_NE(log.str().find(std::string("acq_grab failed: ") + err_name(c.code) + "\n"),
              std::string::npos)
        << log.str();
    if (c.code == ERR_ACQ_TIMEOUT) {
      EXPECT_GE(clock.elapsed_ms(), 500);
    }
    acq_mgrclose(nullptr);
  }
  // No library, no such mode, a bad count.
  EXPECT_EQ(acq_grab(s.get(), 1, &frames), ERR_ACQ_INIT_DEV);
  EXPECT_EQ(acq_grab(s.get(), 0, &frames), ERR_INVALID_PARAM);
  open(scenario("FRAME = FILL 1\n"));
  EXPECT_EQ(acq_select_mode(s.get(), 2), ERR_ACQ_INVALID_MODE);
}

int abort_always(void*) { return 1; }

TEST_F(AcqGrab, EveryRefusedAllocationGivesNoMemoryAndLeavesNothing) {
  open(scenario("FRAME = FILL 7\n"));
  ASSERT_EQ(acq_select_mode(s.get(), 0), 0);
  LogCapture quiet;
  const int errors[] = {ERR_NO_MEM};
  felbrin::test::sweep_allocations([&] { return acq_grab(s.get(), 2, &frames); },
                                   [&] { mx_bkt16_release(&frames); }, errors);
}

TEST_F(AcqGrab, AnAbortEndsTheWaitForAFrame) {
  open(scenario("FRAME = FILL 1\n", 0));
  felbrin::test::VirtualClock clock;
  const u_abort_hook saved = u_set_abort_fn(&abort_always);
  LogCapture log;
  EXPECT_EQ(acq_grab(s.get(), 2, &frames, 60000), ERR_FELBRIN_ABORTED);
  u_set_abort_fn(saved);
  EXPECT_LT(clock.elapsed_ms(), 100);
  // The device was stopped and closed: the next grab opens it again.
  EXPECT_EQ(acq_grab(s.get(), 1, &frames), 0);
}

TEST_F(AcqGrab, TheModeSetsTheFrameRateUnlessTheHostDid) {
  open(scenario("FRAME = FILL 1\n"));
  ASSERT_EQ(acq_select_mode(s.get(), 0), 0);
  EXPECT_EQ(s->waveMonitor.frameRate, 30);
  EXPECT_EQ(s->acq.grabRate, 30);
  ASSERT_EQ(acq_select_mode(s.get(), 1), 0);
  EXPECT_EQ(s->waveMonitor.frameRate, 60) << "the library's own, replaced";
  const auto host = std::make_unique<sysInfo_t>();
  for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes})
    ASSERT_EQ(step(host.get()), 0);
  host->waveMonitor.frameRate = 25;
  ASSERT_EQ(acq_select_mode(host.get(), 0), 0);
  EXPECT_EQ(host->waveMonitor.frameRate, 25) << "the host's, kept";
}

// Readers on other threads copy the live frame while it changes: each copy
// is one whole scripted frame, never a mix, and the numbers go up.
TEST_F(AcqGrab, TheLiveFrameStaysWholeUnderConcurrentReaders) {
  open(scenario("FRAME = FILL 100\nFRAME = FILL 200\nFRAME = FILL 300\n"));
  std::vector<uint16_t> buffer(128);
  EXPECT_EQ(acq_live_copy(buffer.data(), 128, nullptr), ERR_ACQ_DEVICE_CLOSE);
  ASSERT_EQ(acq_live_start(s.get()), 0);
  EXPECT_EQ(acq_live_start(s.get()), ERR_ACQ_DEVICE_BUSY);
  EXPECT_EQ(acq_grab(s.get(), 1, &frames), ERR_ACQ_DEVICE_BUSY);
  std::atomic<int> torn{0}, copies{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      std::vector<uint16_t> mine(128);
      uint64_t last = 0;
      while (copies.load() < 300) {
        uint64_t serial = 0;
        const int rc = acq_live_copy(mine.data(), 128, &serial);
        if (rc == ERR_ACQ_TIMEOUT) continue;
        if (rc != 0 || serial < last || std::count(mine.begin(), mine.end(), mine[0]) != 128 ||
            (mine[0] != 100 && mine[0] != 200 && mine[0] != 300))
          ++torn;
        last = serial;
        ++copies;
      }
    });
  }
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(acq_live_copy(buffer.data(), 64, nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(acq_live_stop(), 0);
  EXPECT_EQ(acq_live_copy(buffer.data(), 128, nullptr), ERR_ACQ_DEVICE_CLOSE);
}

TEST(CamBadCorrect, EachListedPixelTakesTheMeanOfItsGoodNeighbours) {
  // 4 x 3, values 10 * index; (1,1) and (2,1) listed, next to each other,
  // (0,0) in a corner, (9,9) outside.
  std::vector<uint16_t> f(12);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint16_t>(10 * i);
  mx_xyv_t points[] = {{1, 1, 0}, {2, 1, 0}, {0, 0, 0}, {9, 9, 0}};
  const mx_xyv_list_t bad{4, 4, points};
  EXPECT_EQ(cam_bad_correct_frame(f.data(), 4, 3, &bad), 3);
  // (1,1): 0 (listed) 10 20 / 40 - 60 (listed) / 80 90 100 -> mean of 10 20 40 80 90 100
  EXPECT_EQ(f[5], (10 + 20 + 40 + 80 + 90 + 100) / 6);
  // (2,1): 10 20 30 / 50 (listed, now corrected) - 70 / 90 100 110: the listed one left out
  EXPECT_EQ(f[6], (10 + 20 + 30 + 70 + 90 + 100 + 110) / 7);
  // (0,0): 10, 40 (both good), 50 listed.
  EXPECT_EQ(f[0], (10 + 40) / 2);
  EXPECT_EQ(cam_bad_correct_frame(nullptr, 4, 3, &bad), -1);
}

}  // namespace
