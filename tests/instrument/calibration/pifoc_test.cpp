// The pifoc time-on model, info file and diagnostic log: the models as pure
// functions, the info file's reader and atomic rewrite, and the leakage and
// gain measurements against stand-in sources.
#include "instrument/calibration/pifoc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/temp_file.h"
#include "common/util.h"
#include "instrument/calibration/pifoc_internal.h"
#include "instrument/record/sys_info.h"
#include "instrument/ramps/ramp_table.h"
#include "platform/platform.h"
#include "tests/support/environment.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

using felbrin::PifocTimes;
using felbrin::test::LogCapture;
using felbrin::test::ScopedEnv;
using felbrin::test::TempDir;

struct StepCase {
  const char* name;
  PifocTimes before;
  int64_t now;
  int32_t state;
  double beta;
  PifocTimes after;
};

TEST(PifocModel, TimeOnOffAndRelaxation) {
  const StepCase cases[] = {
      {"on: te grows by the time on", {3600, 7200}, 7300, SB_PIFOC_ON, 0.0144, {3700, 7300}},
      {"off without Beta: te shrinks", {3600, 7200}, 7300, SB_PIFOC_OFF, 0, {3500, 7300}},
      {"off without Beta: never below 1", {50, 7200}, 7300, SB_PIFOC_OFF, 0, {1, 7300}},
      {"off with Beta: 1/te' = 1/te + d/1e8", {1000000, 0}, 100, SB_PIFOC_OFF, 0.01, {500000, 100}},
      {"off with Beta: te = 1 stays 1", {1, 0}, 100, SB_PIFOC_OFF, 0.01, {1, 100}},
      {"off with Beta: te beyond 1e8", {300000000, 0}, 50000000, SB_PIFOC_OFF, 0.01, {2, 50000000}},
      {"no time passed", {3600, 7200}, 7200, SB_PIFOC_ON, 0, {3600, 7200}},
      {"clock went back, on", {3600, 7200}, 7000, SB_PIFOC_ON, 0, {3600, 7000}},
      {"clock went back, off with Beta", {3600, 7200}, 7000, SB_PIFOC_OFF, 0.01, {3600, 7000}},
      {"clock went back, off without Beta", {3600, 7200}, 7000, SB_PIFOC_OFF, 0, {3600, 7000}},
  };
  for (const StepCase& c : cases) {
    const PifocTimes t = felbrin::pifoc_time_step(c.before, c.now, c.state, c.beta);
    EXPECT_EQ(t.te, c.after.te) << c.name;
    EXPECT_EQ(t.t1, c.after.t1) << c.name;
  }
}

TEST(PifocModel, GainsAndTheirRanges) {
  EXPECT_DOUBLE_EQ(felbrin::pifoc_time_gain(1, 0.01, 1000000), 1.06);
  EXPECT_DOUBLE_EQ(felbrin::pifoc_time_gain(0.93, 0.01, 0), 0.93);
  EXPECT_DOUBLE_EQ(felbrin::pifoc_time_gain(0.93, -0.01, 100), 0.93);  // raised to the scale

  const struct {
    int32_t mode;
    double since;
    double low, high;
  } ranges[] = {{2, 599, 0.8, 1.5}, {2, 600, 0.8, 1.3}, {3, 10, 0.2, 3.0}, {7, 1e6, 0.2, 2.2}};
  for (const auto& r : ranges) {
    const felbrin::PifocGainRange g = felbrin::pifoc_gain_range(r.mode, r.since);
    EXPECT_EQ(g.low, r.low) << r.mode << " " << r.since;
    EXPECT_EQ(g.high, r.high) << r.mode << " " << r.since;
  }
}

TEST(PifocModel, LogLinePieces) {
  EXPECT_EQ(felbrin::pifoc_log_start(42, -0.000448, true), "      42 -0.0004   1 ");
  EXPECT_EQ(felbrin::pifoc_log_currents({12.5, 1.5, -2.25, 3}, 1.00005), "  12  1.5000 -2.2500  3.0000 1.0001");
  std::tm tm{};
  tm.tm_year = 126, tm.tm_mon = 0, tm.tm_mday = 5, tm.tm_hour = 7, tm.tm_min = 8, tm.tm_sec = 9;
  EXPECT_EQ(felbrin::pifoc_log_date(tm), "01/05/26 07:08:09");
}

struct InfoCase {
  const char* name;
  std::string text;
  int rc;
  felbrin::PifocInfo info;
  std::string log;
};

TEST(PifocInfoFile, ReadsTheFirstDataLine) {
  const std::string too_long = "1 2 3" + std::string(600, ' ') + "x";
  const InfoCase cases[] = {
      {"three fields", "3600 7200 -1000\n", 0, {3600, 7200, -1000}, ""},
      {"comments, blanks, CR LF, no leakage", "# te t1\r\n\r\n \t\r\n+5\t6\r\n7 8 x\r\n", 0, {5, 6, 0}, ""},
      {"64-bit times", "5000000000 6000000000 0\n", 0, {5000000000, 6000000000, 0}, ""},
      {"a long line is looked at up to 511 characters", too_long, 0, {1, 2, 3}, ""},
      {"only comments", "# a\n#b\n", 123, {}, "xr_load_pifoc_info: empty file p.1\n"},
      {"t1 missing", "# c\n3600\n", 123, {}, "xr_load_pifoc_info: error in file p.1\nLine 2:\n3600\n"},
      {"not a whole number", "3600 72x0\n", 123, {}, "xr_load_pifoc_info: error in file p.1\nLine 1:\n3600 72x0\n"},
      {"leakage beyond 32 bits", "1 2 3000000000\n", 123, {},
       "xr_load_pifoc_info: error in file p.1\nLine 1:\n1 2 3000000000\n"},
      {"te beyond 64 bits", "99999999999999999999 2\n", 123, {},
       "xr_load_pifoc_info: error in file p.1\nLine 1:\n99999999999999999999 2\n"},
  };
  for (const InfoCase& c : cases) {
    LogCapture log;
    std::FILE* f = plat::open_memory(c.text.data(), c.text.size());
    felbrin::PifocInfo info;
    EXPECT_EQ(felbrin::read_pifoc_info_stream(f, "p.1", &info), c.rc) << c.name;
    std::fclose(f);
    EXPECT_EQ(log.str(), c.log) << c.name;
    if (c.rc != 0) continue;
    EXPECT_EQ(info.te, c.info.te) << c.name;
    EXPECT_EQ(info.t1, c.info.t1) << c.name;
    EXPECT_EQ(info.leakage, c.info.leakage) << c.name;
  }
}

// A record with a pifoc scanner 12, the configuration directory in a
// temporary directory, and stand-in measurement sources.
class Pifoc : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.path() / "ramps");
    u_dirs_reset();
    s->pifoc = felbrin::make_hooked<sb_pifoc_t>();
    s->pifoc->value = 12;
    s->pifoc->scale = 1;
    s->pifoc->beta = 0.01;
    s->instrBdType = BD_SABLE;
    xr_set_pifoc_sources(&kSources);
    felbrin::pifoc_set_init_times(0, 0);
    g_counts = -1000;
    g_measure_rc = 0;
  }
  void TearDown() override {
    xr_set_pifoc_sources(nullptr);
    xr_set_pifoc_log_limit(1000000);
    u_dirs_reset();
  }
  std::string info_path() const { return u_path_join(u_path_join(dir.path().string(), "ramps"), "pifoc.12"); }
  std::string log_path() const { return u_path_join(u_path_join(dir.path().string(), "ramps"), "pifoclog.12"); }
  std::string log_text() const { return felbrin::test::read_file(log_path()); }
  // Diagnostics on, one 'b' ramp in use and current.
  void with_ramp() {
    ASSERT_TRUE(s->ramps.table.allocate(1));
    s->ramps.table[0].header.polar = 'b';
    s->ramps.table[0].header.rampID = 4;
    s->ramps.current = 0;
    s->ramps.pifocDiagnostics = true;
    s->ramps.leakageMeasurement = true;
    s->pifoc->rampId = s->pifoc->firstRampB = 4;
  }

  static inline int32_t g_counts = 0;
  static inline int g_measure_rc = 0;
  static constexpr xr_pifoc_sources_t kSources{
      [](sysInfo_t*, int32_t* counts) { return *counts = g_counts, g_measure_rc; },
      [](sysInfo_t*, xr_scan_currents_t* c) { return *c = {10, 1, 2, 3}, true; },
      [](const sysInfo_t*, const rr_ramp_info_t*, xr_ramp_gain_terms_t* t) {
        return *t = {0, 2.2, 1, 2}, true;
      }};

  TempDir dir;
  ScopedEnv config{"FB_CONFIG_DIR", dir.path().string().c_str()};
  std::unique_ptr<sysInfo_t> s = std::make_unique<sysInfo_t>();
};

TEST_F(Pifoc, InfoFileRoundTripAndChecks) {
  s->pifoc->te = 3600;
  s->pifoc->t1 = 7200;
  s->pifoc->leakage = -1000;
  ASSERT_EQ(xr_save_pifoc_info(s.get()), 0);
  EXPECT_EQ(felbrin::test::read_file(info_path()), "3600 7200 -1000" + std::string(plat::kLineEnd));
  s->pifoc->te = s->pifoc->t1 = s->pifoc->leakage = 0;
  {
    LogCapture log;
    ASSERT_EQ(xr_load_pifoc_info(s.get()), 0);
    EXPECT_EQ(log.str(), "Pifoc info file is " + info_path() + "\nte = 3600  t1 = 7200  leakage = -1000 (-0.000447931 uA)\n");
  }
  EXPECT_EQ(s->pifoc->te, 3600);
  EXPECT_EQ(s->pifoc->leakage, -1000);

  const struct {
    std::string text;
    std::string log_tail;
  } bad[] = {
      {"0 7200 0", "xr_load_pifoc_info: unreasonable te or t1 value\nte  = 0\nt1  = 7200\nnow = "},
      {"7200 3600 0", "xr_load_pifoc_info: unreasonable te or t1 value\nte  = 7200\nt1  = 3600\nnow = "},
      {"1 99999999999 0", "xr_load_pifoc_info: unreasonable te or t1 value\nte  = 1\nt1  = 99999999999\nnow = "},
      {"1 2 -40000000", "xr_load_pifoc_info: leakage = -17.9172 uA is out of range [-14,0]\n"},
      {"1 2 1", "xr_load_pifoc_info: leakage = 4.47931e-07 uA is out of range [-14,0]\n"},
  };
  for (const auto& b : bad) {
    felbrin::test::write_file(info_path(), b.text);
    LogCapture log;
    EXPECT_EQ(xr_load_pifoc_info(s.get()), ERR_PARAM_OUT_OF_RANGE) << b.text;
    EXPECT_NE(log.str().find(b.log_tail), std::string::npos) << log.str();
    EXPECT_EQ(s->pifoc->te, 3600) << "kept";
  }
  s->instrBdType = BD_CAN;
  EXPECT_EQ(xr_load_pifoc_info(s.get()), ERR_INVALID_PARAM);
  EXPECT_EQ(xr_save_pifoc_info(s.get()), ERR_INVALID_PARAM);
}

std::FILE* read_only_temp(std::string_view, std::string& path, int*) {
  path = (std::filesystem::temp_directory_path() / "_pifoc_read_only").string();
  felbrin::test::write_file(path, "");
  return std::fopen(path.c_str(), "rb");
}

TEST_F(Pifoc, AFailedSaveKeepsTheOldFile) {
  felbrin::test::write_file(info_path(), "5 6 0\n");
  s->pifoc->te = 3600;
  const felbrin::TempFileFn previous = felbrin::set_temp_file_fn(read_only_temp);
  LogCapture log;
  EXPECT_EQ(xr_save_pifoc_info(s.get()), ERR_CANT_CREATE_FILE);
  felbrin::set_temp_file_fn(previous);
  EXPECT_EQ(log.str(), "xr_save_pifoc_info: cannot create " + info_path() + "\n");
  EXPECT_EQ(felbrin::test::read_file(info_path()), "5 6 0\n");
}

// The save tries the copy twice; the old file must survive both failing.
TEST_F(Pifoc, ARefusedReplacementKeepsTheOldFile) {
  namespace fs = std::filesystem;
  felbrin::test::write_file(info_path(), "5 6 0\n");
  fs::permissions(info_path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  s->pifoc->te = 3600;
  LogCapture log;
  EXPECT_EQ(xr_save_pifoc_info(s.get()), ERR_CANT_CREATE_FILE);
  fs::permissions(info_path(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(felbrin::test::read_file(info_path()), "5 6 0\n");
  EXPECT_TRUE(log.str().ends_with("xr_save_pifoc_info: cannot create " + info_path() + "\n")) << log.str();
}

TEST_F(Pifoc, TimeGainLimits) {
  double gain = -1;
  s->pifoc->te = 1000000;
  EXPECT_EQ(xr_calc_pifoc_time_gain(s.get(), &gain), 0);
  EXPECT_DOUBLE_EQ(gain, 1.06);
  s->pifoc->beta = 0.1;
  LogCapture log;
  EXPECT_EQ(xr_calc_pifoc_time_gain(s.get(), &gain), ERR_PIFOC_GAIN);
  EXPECT_EQ(gain, 0);
  EXPECT_EQ(log.str(), "xr_calc_pifoc_time_gain: gain = 1.6 is out of range [0.8,1.15]\n");
  s->pifoc.reset();
  EXPECT_EQ(xr_calc_pifoc_time_gain(s.get(), &gain), 0);
}

TEST_F(Pifoc, InitStartsAfreshThenLogsAReset) {
  EXPECT_EQ(xr_init_pifoc(s.get()), ERR_NO_RAMP_INFO);
  with_ramp();
  {
    LogCapture log;
    EXPECT_EQ(xr_init_pifoc(s.get()), 0);
    EXPECT_NE(log.str().find("Cannot open pifoc info file"), std::string::npos);
    EXPECT_NE(log.str().find("(size limited to 1000000 bytes)\n"), std::string::npos);
  }
  EXPECT_EQ(s->pifoc->te, 1);
  EXPECT_EQ(s->pifoc->firstRampB, 4);
  EXPECT_EQ(s->pifoc->firstRampU, -1);
  EXPECT_EQ(xr_init_pifoc(s.get()), 0);
  const std::string text = log_text();
  EXPECT_EQ(text.rfind("#--------", 0), 0u);
  EXPECT_NE(text.find("       0  0.0000   0     0  0.0000  0.0000  0.0000 0.0000 "), std::string::npos);
  EXPECT_TRUE(text.ends_with("### RESET" + std::string(plat::kLineEnd)));
  s->instrBdType = BD_CAN;
  EXPECT_EQ(xr_init_pifoc(s.get()), ERR_WRONG_INSTR_BOARD);
}

TEST_F(Pifoc, LeakageAndCompensationGain) {
  with_ramp();
  // A requested log line waits for the gain, then carries both.
  EXPECT_EQ(xr_update_pifoc_leakage(s.get(), 1), 0);
  EXPECT_EQ(s->pifoc->leakage, -1000);
  double gain = 0;
  EXPECT_EQ(xr_get_pifoc_comp_gain(s.get(), &gain), 0);
  // (2.2 - 0) / (2 uA - leakage), divided by the nominal gain 2
  EXPECT_NEAR(gain, 2.2 / (2 + 1000 * SB_PIFOC_LEAKAGE_UA) / 2, 1e-12);
  EXPECT_NE(log_text().find("       0 -0.0004   1    10  1.0000  2.0000  3.0000 1.0998 "), std::string::npos);

  struct {
    int32_t counts;
    int measure_rc;
    int rc;
    const char* note;
  } const cases[] = {
      {-40000000, 0, ERR_PIFOC_LEAKAGE, "### LEAKAGE IS OUT OF RANGE [-14,0] uA"},
      {0, ERR_UZ_RECV_TIMEOUT, ERR_UZ_RECV_TIMEOUT, "### INVALID LEAKAGE MEASUREMENT"},
  };
  for (const auto& c : cases) {
    g_counts = c.counts;
    g_measure_rc = c.measure_rc;
    s->pifoc->leakageTime = 0;
    LogCapture log;
    EXPECT_EQ(xr_update_pifoc_leakage(s.get(), 0), c.rc) << c.note;
    EXPECT_EQ(s->pifoc->leakage, -1000) << c.note;
    const std::string text = log_text();
    EXPECT_NE(text.find("       0  0.0000   1     0  0.0000  0.0000  0.0000 0.0000 "), std::string::npos) << c.note;
    EXPECT_TRUE(text.ends_with(c.note + std::string(plat::kLineEnd))) << c.note;
  }
  // Within 60 s of the last measurement nothing is measured or logged.
  const std::string before = log_text();
  EXPECT_EQ(xr_update_pifoc_leakage(s.get(), 0), 0);
  EXPECT_EQ(log_text(), before);

  s->pifoc->leakage = 0;
  static constexpr xr_pifoc_sources_t kHighGain{nullptr, kSources.scan_currents,
                                                [](const sysInfo_t*, const rr_ramp_info_t*, xr_ramp_gain_terms_t* t) {
                                                  return *t = {0, 4, 1, 0}, true;
                                                }};
  xr_set_pifoc_sources(&kHighGain);
  LogCapture log;
  EXPECT_EQ(xr_get_pifoc_comp_gain(s.get(), &gain), ERR_PIFOC_GAIN);
  EXPECT_EQ(log.str(), "xr_get_pifoc_comp_gain: gain = 2 is out of range [0.8,1.3]\n");
  EXPECT_NE(log_text().find("### GAIN IS OUT OF RANGE [0.8,1.3]"), std::string::npos);
  s->ramps.pifocDiagnostics = false;
  EXPECT_EQ(xr_get_pifoc_comp_gain(s.get(), &gain), ERR_INVALID_PARAM);
}

TEST_F(Pifoc, LogCanBeTurnedOff) {
  xr_set_pifoc_log_limit(0);
  LogCapture log;
  EXPECT_EQ(xr_log_pifoc_diagnostic(s.get(), nullptr), 0);
  EXPECT_EQ(xr_log_pifoc_diagnostic(s.get(), "x\n"), 0);
  EXPECT_EQ(log.str(), "Pifoc diagnostic log disabled\n");
  EXPECT_FALSE(u_file_exists(log_path().c_str()));
}

}  // namespace
