// The encoded zoom calibration file and the zoom node's set-up: every
// message of the reader as a whole text, the pair forms, reading again only
// after a change, and the set-up against the simulated CAN network.
#include "instrument/calibration/enc_zoom.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/util.h"
#include "instrument/calibration/enc_zoom_internal.h"
#include "instrument/record/sys_info.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_api_internal.h"
#include "platform/platform.h"
#include "sim/can/can_sim.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_can.h"
#include "tests/support/temp_dir.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::TempDir;
using Pairs = std::vector<std::pair<float, float>>;

Pairs pairs_of(const u_pair_table_t& t) {
  Pairs out;
  for (const u_pair_t& p : t.view()) out.emplace_back(p.x, p.y);
  return out;
}

int read_text(const std::string& text, u_pair_table_t& table, std::string& message) {
  std::FILE* f = plat::open_memory(text.data(), text.size());
  const int rc = felbrin::read_enc_zoom_cal_stream(f, "z.txt", &table, &message);
  std::fclose(f);
  return rc;
}

const std::string kHead = " Error reading Kite encoded zoom magnification calibration file \"z.txt\" \n";

struct ReadCase {
  const char* name;
  std::string text;
  int rc;
  std::string message;  // after the heading
  Pairs pairs;
};

TEST(EncZoomRead, EachFormAndEachMessage) {
  const ReadCase cases[] = {
      {"three forms, CR LF, text after the pair", "t\r\n0 1\r\n10,1.5\r\n20, 2 x\r\n30,\t2.5\r\n", 0, "",
       {{0, 1}, {10, 1.5f}, {20, 2}, {30, 2.5f}}},
      {"blanks before each number and none at all", "t\n \t1e1\t\t2\n2e1,  3", 0, "", {{10, 2}, {20, 3}}},
      {"blank before the comma", "t\n0 ,1\n5000 , 2\n", 198,
       " Expected two numbers (position and magnification) separated by a comma and/or space. \n"
       " Error in line 2: \n  0 ,1 \n",
       {}},
      {"empty pair line", "t\n0 1\n\n", 198,
       " Expected two numbers (position and magnification) separated by a comma and/or space. \n"
       " Error in line 3 \n",
       {}},
      {"nan", "t\n0 1\nnan 2\n", 198, " Magnitude of number is unreasonable. \n Error in line 3: \n  nan 2 \n", {}},
      {"infinite magnification", "t\n0 inf\n", 198,
       " Magnitude of number is unreasonable. \n Error in line 2: \n  0 inf \n", {}},
      {"beyond a float", "t\n3.5e38 1\n", 198,
       " Magnitude of number is unreasonable. \n Error in line 2: \n  3.5e38 1 \n", {}},
      {"negative position", "t\n-1 1\n", 198,
       " Position value is out of range [0,3.40282e+38] \n Error in line 2: \n  -1 1 \n", {}},
      {"magnification", "t\n0 6.5\n", 198,
       " Magnification value is out of range [0.5,6] \n Error in line 2: \n  0 6.5 \n", {}},
      {"position order", "t\n100 1.0\n100 1.5\n", 198,
       " Position values are not in strictly increasing order. \n Error in line 3: \n  100 1.5 \n", {}},
      {"magnification order", "t\n1 2\n2 2\n", 198,
       " Magnification values are not in strictly increasing order. \n Error in line 3: \n  2 2 \n", {}},
      {"one pair", "t\n0 1\n", 198, " Too few position and magnification value pairs (minimum is 2) \n", {}},
      {"empty file", "", 198, " Too few position and magnification value pairs (minimum is 2) \n", {}},
      {"longest line", "t\n0 1" + std::string(509, ' ') + "\n1 2\n", 0, "", {{0, 1}, {1, 2}}},
      {"long line", "t\n0 1" + std::string(510, ' ') + "\n", 198,
       " Line longer than 512 characters \n Error in line 2: \n  0 1" + std::string(509, ' ') + " \n", {}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    u_pair_table_t table;
    std::string message = "old";
    EXPECT_EQ(read_text(c.text, table, message), c.rc);
    EXPECT_EQ(message, c.rc == 0 ? "" : kHead + c.message);
    EXPECT_EQ(pairs_of(table), c.pairs);
  }
}

TEST(EncZoomRead, TheHundredAndFirstPairIsRefused) {
  std::string text = "t\n";
  for (int i = 0; i <= 100; ++i) text += std::to_string(i) + " " + std::to_string(1 + i * 0.04) + "\n";
  u_pair_table_t table;
  std::string message;
  EXPECT_EQ(read_text(text, table, message), ERR_KITE_ENC_ZOOM_INVALID_CAL_FILE);
  EXPECT_EQ(message, kHead + " Too many position and magnification value pairs (maximum is 100). \n");
}

TEST(EncZoomRead, AMissingFileAndNoMessageBuffer) {
  TempDir dir;
  const std::string path = dir.file("none.txt");
  u_pair_table_t table;
  std::string message;
  EXPECT_EQ(kite_enc_zoom_read_cal(path.c_str(), &table, &message), ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE);
  EXPECT_EQ(message, " Cannot open Kite encoded zoom magnification calibration file \"" + path + "\" \n");
  EXPECT_EQ(kite_enc_zoom_read_cal(path.c_str(), &table, nullptr), ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE);
}

// Same size, new values, a modification time within the same second: read
// again. Untouched: not read. Gone: forgotten and reported.
TEST(EncZoomLoad, ReadsAgainOnlyWhenTheFileChanged) {
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path file = dir.path() / "ZoomCal.txt";
  felbrin::test::write_file(file, "t\n0 1\n9 2\n");
  const auto t0 = fs::file_time_type::clock::now() - std::chrono::hours(1);
  const auto second = std::chrono::floor<std::chrono::seconds>(t0);
  fs::last_write_time(file, second);
  sb_enc_zoom_t zoom;
  zoom.calFile = file.string();
  LogCapture log;
  const std::string loaded = "Kite encoded zoom calibration data loaded from file " + file.string() + "\n";

  ASSERT_EQ(kite_enc_zoom_load_cal(&zoom, nullptr), 0);
  EXPECT_EQ(kite_enc_zoom_load_cal(&zoom, nullptr), 0);
  EXPECT_EQ(log.str(), loaded);
  EXPECT_EQ(zoom.calLoadedPath, file.string());

  felbrin::test::write_file(file, "t\n0 1\n8 3\n");
  // The C++ runtime of the Windows build sets file times in whole seconds;
  // elsewhere a microsecond later must be enough.
#ifdef _WIN32
  fs::last_write_time(file, second + std::chrono::seconds(1));
#else
  fs::last_write_time(file, second + std::chrono::microseconds(1));
#endif
  EXPECT_EQ(kite_enc_zoom_load_cal(&zoom, nullptr), 0);
  EXPECT_EQ(log.str(), loaded + loaded);
  EXPECT_EQ(pairs_of(zoom.calTable), (Pairs{{0, 1}, {8, 3}}));

  fs::remove(file);
  std::string message;
  EXPECT_EQ(kite_enc_zoom_load_cal(&zoom, &message), ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE);
  EXPECT_EQ(message, " Cannot access Kite encoded zoom magnification calibration file \"" + file.string() + "\" \n");
  EXPECT_EQ(zoom.calTable.count, 0);
  EXPECT_TRUE(zoom.calLoadedPath.empty());
}

// ---- the set-up on the simulated network: node 64 alone on a bridge.
std::vector<uint8_t> le(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

class EncZoomSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    cansim::reset();
    cansim::set_clock([] { return u_ticks_ms(); });
    cansim::add_bridge({});
    ASSERT_TRUE(cansim::add_node(64, "dmd", 0x64));
    ASSERT_TRUE(felbrin::test::connect_simulated_bridge());
    s_.instrBdType = BD_CAN;
    s_.encZoom = felbrin::make_hooked<sb_enc_zoom_t>();
    s_.encZoom->config = 1;
    s_.encZoom->wandLim[0] = -5;
    s_.encZoom->wandLim[1] = 70000;
    s_.encZoom->backlash = 12;
    s_.encZoom->calFile = dir_.file("ZoomCal.txt");
    version(4, 3);
    cansim::clear_call_log();
  }
  void TearDown() override {
    felbrin::can::forget_binding();
    cansim::reset();
  }
  static void version(uint32_t major, uint32_t minor) { cansim::set_value(64, 0x1018, 3, le((major << 16) | minor)); }
  static std::vector<std::string> zoom_calls() {
    std::vector<std::string> out;
    for (const std::string& line : cansim::call_log())
      if (line.starts_with("CAN_SDO")) out.push_back(line);
    return out;
  }
  felbrin::test::VirtualClock clock_;
  LogCapture log_;
  TempDir dir_;
  sysInfo_t s_;
};

TEST_F(EncZoomSetup, WritesModeLimitsAndBacklashThenLoads) {
  felbrin::test::write_file(s_.encZoom->calFile, "t\n0,1\n5000, 2\n");
  EXPECT_EQ(kite_enc_zoom_set_backlash(&s_), 0) << log_.str();
  EXPECT_EQ(zoom_calls(), (std::vector<std::string>{
                              "CAN_SDORead 64 1018/03 4 -> 1",
                              "CAN_SDOWrite 64 2002/00 03 -> 1",
                              "CAN_SDOWrite 64 607D/01 FB FF FF FF -> 1",
                              "CAN_SDOWrite 64 607D/02 70 11 01 00 -> 1",
                              "CAN_SDOWrite 64 2019/00 0C 00 00 00 -> 1",
                          }));
  EXPECT_EQ(pairs_of(s_.encZoom->calTable), (Pairs{{0, 1}, {5000, 2}}));
}

TEST_F(EncZoomSetup, AMissingCalibrationFileIsNoFailure) {
  EXPECT_EQ(kite_enc_zoom_set_backlash(&s_), 0);
  EXPECT_EQ(s_.encZoom->calTable.count, 0);
  EXPECT_EQ(zoom_calls().size(), 5u);
}

TEST_F(EncZoomSetup, OldFirmwareStopsBeforeAnyWrite) {
  version(4, 2);
  EXPECT_EQ(kite_enc_zoom_set_backlash(&s_), ERR_KITE_ENC_ZOOM_FIRMWARE_VERSION_OLD);
  EXPECT_EQ(log_.str(), "Kite encoded zoom firmware version 4.2 is old; version 4.3 or later is required\n");
  EXPECT_EQ(zoom_calls().size(), 1u);
  version(3, 9);
  EXPECT_EQ(kite_enc_zoom_check_firmware(&s_), ERR_KITE_ENC_ZOOM_FIRMWARE_VERSION_OLD);
  version(5, 0);
  EXPECT_EQ(kite_enc_zoom_check_firmware(&s_), 0);
}

TEST_F(EncZoomSetup, ARefusedWriteNamesItsOperation) {
  cansim::set_abort(64, 0x607D, 2, 0x06090030);
  EXPECT_EQ(kite_enc_zoom_set_backlash(&s_), ERR_CAN_SDO_ENC_ZOOM_ERROR);
  EXPECT_NE(log_.str().find("kite_enc_zoom_set_soft_limits"), std::string::npos) << log_.str();
  EXPECT_EQ(zoom_calls().size(), 4u);  // no backlash after the refusal
}

TEST_F(EncZoomSetup, NothingToDoWithoutAnEncodedZoom) {
  s_.encZoom->config = 0;
  EXPECT_EQ(kite_enc_zoom_set_backlash(&s_), 0);
  EXPECT_TRUE(zoom_calls().empty());
}

}  // namespace
