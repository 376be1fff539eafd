// The ramp table against a simulated UZ1 or UZ2 board on the in-memory link
// and the virtual clock: building it from a ramp directory, reconciling the
// board's slots, loading with eviction, starting, waiting, gain and slope;
// and without a line, the checks, matching, IDs, derived ramps and the
// offset crossing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/record/sys_info.h"
#include "instrument/ramps/ramp_config.h"
#include "instrument/ramps/ramp_file.h"
#include "instrument/ramps/ramp_table.h"
#include "tests/support/environment.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_board.h"
#include "tests/support/temp_dir.h"

namespace {

using felbrin::test::Board;
using felbrin::test::LogCapture;
using felbrin::test::ScopedEnv;
using felbrin::test::TempDir;
using sim::BoardKind;

constexpr int kPifoc = 12345;
constexpr int kPzt = 777;

// A rising SWLI ramp: 200 points from 0x7000 to 0x9000 through the offset
// 0x8000, the trigger from 20 to 180, a 40 kHz sample clock.
rr_ramp_hdr_t swli_header(float scan_len = 10, float slope = 81) {
  rr_ramp_hdr_t h{};
  h.magicNumber = RR_MAGIC;
  h.rampType = RR_TYPE_SWLI;
  h.pztID = kPifoc;
  h.nPoints = 200;
  h.updateRate = 65436;
  h.sampleClkFreq = 40;
  h.cameraRate = 25;
  h.rampSlope = slope;
  h.scanLen = scan_len;
  h.fringesPerFrame = 0.25f;
  h.trigStartAddr = 20;
  h.trigEndAddr = 180;
  h.offset = 0x8000;
  h.polar = 'b';
  h.scanCal = 1;
  h.dirFlag = 1;
  return h;
}

rr_ramp_hdr_t pmi_header(int buckets = 5) {
  rr_ramp_hdr_t h = swli_header(0, 0);
  h.rampType = 5;
  h.pztID = kPzt;
  h.nBuckets = buckets;
  h.fringesPerFrame = 0;
  h.rampTriple[0] = 1;
  h.rampTriple[1] = 0.5f;
  h.rampTriple[2] = 0.25f;
  h.rampGainDflt = 1000;
  return h;
}

std::vector<uint16_t> rising(int n) {
  std::vector<uint16_t> p(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) p[static_cast<std::size_t>(i)] = static_cast<uint16_t>(0x7000 + i * 0x2000 / (n - 1));
  return p;
}

// A board, a ramp directory and a record ready to build its table.
class RampTable : public ::testing::Test {
 public:
  void SetUp() override { prepare(BoardKind::uz1); }
  void prepare(BoardKind kind) {
    board.reset();
    board = std::make_unique<Board>(kind);
    u_dirs_reset();
    info().acqFlag = 1;
    info().pifoc = felbrin::make_hooked<sb_pifoc_t>();
    info().pifoc->value = kPifoc;
    info().serialNumber = kPzt;
    info().systemType = SYS_BIRCH4;
    info().rampConfigFile.clear();
  }
  void TearDown() override {
    board.reset();
    u_dirs_reset();
  }
  sysInfo_t& info() { return board->info; }
  void write(const std::string& name, const rr_ramp_hdr_t& h) {
    const std::vector<uint16_t> p = rising(h.nPoints);
    ASSERT_EQ(rr_write_ramp_file(dir.file(name).c_str(), &h, p.data()), 0);
  }
  std::string log() { return board->log.str(); }

  TempDir dir;
  ScopedEnv ramps{"FB_RAMPS_DIR", dir.path().string().c_str()};
  ScopedEnv keep{"KEEP_RAMPS_LOADED_IN_INSTR", nullptr};
  std::unique_ptr<Board> board;
};

TEST_F(RampTable, DirectoryModeTakesTheFilesOfThisInstrumentsScanners) {
  write("d10s81c25.b12345", swli_header());
  write("p5c25.p777", pmi_header());
  write("d10s81c25.b999", swli_header());   // another scanner
  write(".d10s81c25.b12345", swli_header());  // hidden
  write("x.b", swli_header());              // no serial
  write("x.b-1", swli_header());            // not digits
  ASSERT_EQ(rr_get_ramp_info(&info()), 0) << log();
  const rr_ramp_table_t& t = info().ramps.table;
  ASSERT_EQ(t.size(), 2);
  // Sorted by key: PMI 5/100 ahead of SWLI 10 - 64 * 81 / 1000.
  EXPECT_EQ(t[0].name, "p5c25.p777");
  EXPECT_EQ(t[1].name, "d10s81c25.b12345");
  EXPECT_DOUBLE_EQ(t[1].sortKey, 10 - 64 * 81 / 1000.0);
  // IDs by load position, in name order.
  EXPECT_EQ(t[1].header.rampID, 1);
  EXPECT_EQ(t[0].header.rampID, 2);
  EXPECT_EQ(t[0].gain, 1000);
  EXPECT_EQ(t[1].duration, 5);  // 200 points at 40 kHz
  EXPECT_EQ(t[1].direction, 2);
  EXPECT_EQ(info().ramps.pmiCount, 1);
  EXPECT_EQ(info().ramps.configMode, 0);
  // The rising ramp crosses 0x8000 between points 99 and 100, at a 40 kHz
  // sample clock (update rate 65436); less the trigger start rounded up to
  // whole frames (20 / 40000 s is 1 frame).
  const double p99 = t[1].points[99], p100 = t[1].points[100];
  EXPECT_DOUBLE_EQ(t[1].timeTilOffset, (99 + (p99 - 0x8000) / (p99 - p100)) / 40000 - 1 / 25.0);
  const std::string d = dir.path().string();
  EXPECT_EQ(log(), "Ramp directory: " + d + "\nChecking all files in ramp directory\nLoaded ramp file \"" +
                       dir.file("d10s81c25.b12345") + "\"\nLoaded ramp file \"" + dir.file("p5c25.p777") +
                       "\"\nRamp data sets:\n    2 Total\n    2 Loaded\n    0 Derived\n    1 SWLI\n    0 BTW\n"
                       "    1 PMI\n");
  EXPECT_EQ(board->runner.requests(), 12);  // every slot emptied
}

TEST_F(RampTable, ConfigurationModeKeepsTheFileOrderAndDerivesRamps) {
  write("d10s81c25.b12345", swli_header());
  write("p5c25.p777", pmi_header());
  felbrin::test::write_file(dir.path() / "rampcfg.txt",
                            "# RT    FN                     SL    CR   CI GS  FPF    RS       OM   SC      H\n"
                            " SWLI d10s81c25.b*            010.00 025.00 00 00 0.250 081.0000 000.00 1.00000 0\n"
                            " SWLI +                       005.00 025.00 00 00 0.250 081.0000 000.00 1.00000 1\n"
                            " PMI  p5c25.p777              000.00 025.00 00 00 0.250 000.0000 000.00 0.00000 0\n"
                            " SWLI gone.b12345             010.00 025.00 00 00 0.250 081.0000 000.00 1.00000 0\n"
                            " SWLI extprofile1.bp          010.00 025.00 00 00 0.250 081.0000 000.00 1.00000 0\n"
                            " SWLI d10s81c25.b12345        010.00 030.00 00 00 0.250 081.0000 000.00 1.00000 0\n");
  info().rampConfigFile = "rampcfg.txt";
  ASSERT_EQ(rr_get_ramp_info(&info()), 0) << log();
  const rr_ramp_table_t& t = info().ramps.table;
  ASSERT_EQ(t.size(), 3);
  EXPECT_EQ(t[0].name, "d10s81c25.b12345");
  EXPECT_EQ(t[1].name, "+d10s81c25.b12345");
  EXPECT_EQ(t[1].header.scanLen, 5);
  EXPECT_EQ(t[1].hide, 1);
  EXPECT_NE(t[1].header.rampID, t[0].header.rampID);  // a ramp of its own on the board
  EXPECT_EQ(t[1].slot, RR_NO_SLOT);
  EXPECT_EQ(t[2].name, "p5c25.p777");
  EXPECT_EQ(info().ramps.configMode, 1);
  const std::string gone = dir.file("gone.b12345");
  for (const std::string& line :
       {"Ramp config error reading ramp data file \"" + gone + "\": ERR_CANT_OPEN_FILE\n",
        std::string("Ramp config error: ramp 5 \"extprofile1.bp\" is invalid for this instrument\n"),
        "Ramp config error: values not consistent with ramp data file \"" + dir.file("d10s81c25.b12345") + "\"\n",
        std::string("    3 Total\n    2 Loaded\n    1 Derived\n")}) {
    EXPECT_NE(log().find(line), std::string::npos) << line << "\nin\n" << log();
  }

  // Written back, the table reads as the same configuration lines, "+" for the
  // derived one.
  const std::string saved = dir.file("saved.txt");
  ASSERT_EQ(rr_save_ramp_config(&info(), saved.c_str()), 0);
  rr_ramp_line_t* cfgs = nullptr;
  int count = 0;
  ASSERT_EQ(rr_read_ramp_config(saved.c_str(), &cfgs, &count), 0);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(cfgs[0].fileName, "d10s81c25.b12345");
  EXPECT_STREQ(cfgs[1].fileName, "+");
  EXPECT_EQ(cfgs[1].hide, 1);
  EXPECT_EQ(cfgs[2].type, RR_TYPE_PMI);
  rr_release_ramp_lines(&cfgs);
  EXPECT_EQ(rr_save_ramp_config(&info(), nullptr), ERR_INVALID_PARAM);
}

// A UZ2 board has 4 slots: only those are emptied.
TEST_F(RampTable, OnlyTheBoardsOwnSlotsAreEmptied) {
  prepare(BoardKind::uz2);
  write("d10s81c25.b12345", swli_header());
  ASSERT_EQ(rr_get_ramp_info(&info()), 0) << log();
  EXPECT_EQ(board->runner.requests(), 4);
}

TEST_F(RampTable, BoardKeepsItsRampsWithTheEnvironmentVariable) {
  rr_ramp_hdr_t h = swli_header();
  const std::vector<uint16_t> p = rising(h.nPoints);
  for (auto [slot, id] : {std::pair{3, 1}, std::pair{5, 9}}) {
    h.rampID = id;
    ASSERT_EQ(ur_ramp_download(&info(), slot, &h, p.data()), 0);
  }
  write("d10s81c25.b12345", swli_header());
  ScopedEnv set{"KEEP_RAMPS_LOADED_IN_INSTR", "0"};
  ASSERT_EQ(rr_get_ramp_info(&info()), 0) << log();
  EXPECT_EQ(info().ramps.table[0].slot, 3);
  EXPECT_EQ(info().ramps.slotTable[3], 1);
  EXPECT_EQ(info().ramps.slotTable[5], RR_NO_SLOT);
  EXPECT_TRUE(board->model.slot(3).loaded);
  EXPECT_FALSE(board->model.slot(5).loaded);  // held a ramp no entry knows
  EXPECT_NE(log().find("Found env var KEEP_RAMPS_LOADED_IN_INSTR\n"), std::string::npos);
  EXPECT_NE(log().find("Ramp ID 1 already loaded in instr\n"), std::string::npos);
}

TEST_F(RampTable, RecordsAndFilesThatGiveNoTable) {
  struct Case {
    const char* name;
    std::function<void(RampTable&)> setup;
    int rc;
    std::string in_log;
  };
  const Case cases[] = {
      {"inactive record", [](RampTable& t) { t.info().acqFlag = 0; }, ERR_SYS_INFO_NOT_AVAIL,
       "rr_get_ramp_info: ERR_SYS_INFO_NOT_AVAIL\n"},
      {"Dune without a pifoc",
       [](RampTable& t) {
         t.info().pifoc.reset();
         t.info().systemType = 5;
       },
       ERR_WRONG_SYSTEM_TYPE, "rr_get_ramp_info: ERR_WRONG_SYSTEM_TYPE\n"},
      {"empty directory", [](RampTable&) {}, ERR_NO_RAMP_INFO, "No usable ramp data\n"},
      // A sample clock of 0 would divide by zero in the duration.
      {"ramp without a sample clock",
       [](RampTable& t) {
         rr_ramp_hdr_t h = swli_header();
         h.sampleClkFreq = 0;
         t.write("d10s81c25.b12345", h);
       },
       ERR_NO_RAMP_INFO, "\": ERR_CORRUPT_RAMP_FILE\n"},
      {"ramp whose update rate does not fit 16 bits",
       [](RampTable& t) {
         rr_ramp_hdr_t h = swli_header();
         h.updateRate = 65536;
         t.write("d10s81c25.b12345", h);
       },
       ERR_NO_RAMP_INFO, "\": ERR_CORRUPT_RAMP_FILE\n"},
      {"SWLI ramp without a camera rate",
       [](RampTable& t) {
         rr_ramp_hdr_t h = swli_header();
         h.cameraRate = 0;
         t.write("d10s81c25.b12345", h);
       },
       ERR_NO_RAMP_INFO, "\": ERR_CORRUPT_RAMP_FILE\n"},
      {"ramp never crossing its offset",
       [](RampTable& t) {
         rr_ramp_hdr_t h = swli_header();
         h.offset = 0xA000;
         t.write("d10s81c25.b12345", h);
       },
       ERR_CORRUPT_RAMP_FILE, "rr_calc_time_til_offset_crossing failed: ERR_CORRUPT_RAMP_FILE\n"},
      {"ramp for another board",
       [](RampTable& t) {
         rr_ramp_hdr_t h = swli_header();
         h.instrBdType = BD_KITE;
         t.write("d10s81c25.b12345", h);
       },
       ERR_NO_RAMP_INFO, "Error: ramp data file d10s81c25.b12345 is not compatible with this instrument\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prepare(BoardKind::uz1);
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    c.setup(*this);
    EXPECT_EQ(rr_get_ramp_info(&info()), c.rc);
    EXPECT_NE(log().find(c.in_log), std::string::npos) << log();
    EXPECT_TRUE(info().ramps.table.empty());
  }
}

TEST(RampCompat, BoardScannerAndFringes) {
  struct Case {
    const char* name;
    std::function<void(rr_ramp_hdr_t&)> change;
    int board, pifoc, pzt;
    int rc;
    float fringes;  // afterwards
    std::string log;
  };
  const Case cases[] = {
      {"as made", nullptr, BD_SABLE, kPifoc, kPzt, 0, 0.25f, ""},
      {"SWLI fringes from slope 243", [](rr_ramp_hdr_t& h) { h.fringesPerFrame = 0, h.rampSlope = 243; }, BD_SABLE,
       kPifoc, kPzt, 0, 0.75f, ""},
      {"SWLI 1.25 kept", [](rr_ramp_hdr_t& h) { h.fringesPerFrame = 1.25f; }, BD_SABLE, kPifoc, kPzt, 0, 1.25f, ""},
      {"SWLI 0.5 invalid", [](rr_ramp_hdr_t& h) { h.fringesPerFrame = 0.5f; }, BD_SABLE, kPifoc, kPzt,
       ERR_INVALID_PARAM, 0.5f, "Error: invalid fringesPerFrame 0.5 in ramp data file \"r\"\n"},
      {"PMI 5 buckets gets 0.25", [](rr_ramp_hdr_t& h) { h = pmi_header(5); }, BD_SABLE, kPifoc, kPzt, 0, 0.25f, ""},
      {"PMI 11 buckets gets 0.125", [](rr_ramp_hdr_t& h) { h = pmi_header(11); }, BD_SABLE, kPifoc, kPzt, 0, 0.125f,
       ""},
      {"PMI 13 buckets gets 0.125", [](rr_ramp_hdr_t& h) { h = pmi_header(13); }, BD_SABLE, kPifoc, kPzt, 0, 0.125f,
       ""},
      {"PMI of 15 buckets as it is", [](rr_ramp_hdr_t& h) { h = pmi_header(15); }, BD_SABLE, kPifoc, kPzt, 0, 0,
       ""},
      {"PMI 9 buckets invalid", [](rr_ramp_hdr_t& h) { h = pmi_header(9); }, BD_SABLE, kPifoc, kPzt,
       ERR_INVALID_PARAM, 0, "Error: invalid fringesPerFrame 0 in ramp data file \"r\"\n"},
      {"CAN takes a UZ1 ramp", [](rr_ramp_hdr_t& h) { h.instrBdType = BD_SABLE; }, BD_CAN, kPifoc, kPzt, 0, 0.25f, ""},
      {"UZ2 refuses a UZ1 ramp", [](rr_ramp_hdr_t& h) { h.instrBdType = BD_SABLE; }, BD_KITE, kPifoc, kPzt,
       ERR_WRONG_INSTR_BOARD, 0.25f, "Error: ramp data file r is not compatible with this instrument\n"},
      {"PMI without a PZT", [](rr_ramp_hdr_t& h) { h = pmi_header(); }, BD_SABLE, kPifoc, -1, ERR_INVALID_PARAM, 0,
       "Error: ramp data file \"r\" can only be used with a PZT\n"},
      {"SWLI without a pifoc", nullptr, BD_SABLE, -1, kPzt, ERR_INVALID_PARAM, 0.25f,
       "Error: ramp data file \"r\" can only be used with a PIFOC\n"},
      {"unknown type", [](rr_ramp_hdr_t& h) { h.rampType = 19; }, BD_SABLE, kPifoc, kPzt, ERR_CORRUPT_RAMP_FILE,
       0.25f, "Error: ramp data file \"r\" is of unknown type 19\n"},
      {"another pifoc", nullptr, BD_SABLE, 4, kPzt, 0, 0.25f,
       "Warning: ramp data file \"r\" was generated for a different PIFOC\nChanging ramp S/N from 12345 to 4\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rr_ramp_hdr_t h = swli_header();
    if (c.change) c.change(h);
    LogCapture log;
    EXPECT_EQ(rr_check_ramp_compat(&h, "r", c.board, c.pifoc, c.pzt), c.rc);
    EXPECT_EQ(log.str(), c.log);
    if (c.rc == 0) {
      EXPECT_EQ(h.fringesPerFrame, c.fringes);
    }
  }
}

// ---- a table made in memory

class RampUse : public ::testing::Test {
 protected:
  void SetUp() override { make(BoardKind::uz1, 13); }
  void make(BoardKind kind, int n, const rr_ramp_hdr_t& h = swli_header()) {
    board.reset();
    board = std::make_unique<Board>(kind);
    info().acqFlag = 1;
    ASSERT_TRUE(info().ramps.table.allocate(n));
    const std::vector<uint16_t> p = rising(h.nPoints);
    for (int i = 0; i < n; ++i) {
      rr_ramp_info_t& e = info().ramps.table[i];
      char name[16];
      std::snprintf(name, sizeof name, "r%d", i);
      e.name = name;
      e.header = h;
      e.header.rampID = i + 1;
      e.points = static_cast<uint16_t*>(u_malloc_fn(p.size() * 2));
      std::copy(p.begin(), p.end(), e.points);
    }
    ASSERT_EQ(rr_set_current_ramp(&info(), 0), 0);
  }
  sysInfo_t& info() { return board->info; }
  rr_ramp_info_t& entry(int i) { return info().ramps.table[i]; }
  std::unique_ptr<Board> board;
};

TEST_F(RampUse, TheThirteenthRampEvictsTheOneUsedLongestAgo) {
  for (int i = 0; i < 12; ++i) ASSERT_EQ(rr_load_ramp(&info(), i), 0) << board->log.str();
  for (int i = 0; i < 12; ++i) entry(i).lastUse = 200;
  entry(5).lastUse = 50;
  entry(7).lastUse = 50;  // as old, but later in the table
  ASSERT_EQ(rr_load_ramp(&info(), 12), 0);
  EXPECT_EQ(entry(12).slot, 5);
  EXPECT_EQ(entry(5).slot, RR_NO_SLOT);
  EXPECT_EQ(info().ramps.slotTable[5], 13);
  EXPECT_EQ(board->model.slot(5).ramp_id, 13);
  // Loading a ramp in a slot sends nothing.
  const int before = board->runner.requests();
  EXPECT_EQ(rr_load_ramp(&info(), 12), 0);
  EXPECT_EQ(board->runner.requests(), before);

  // Nothing used before now: slot 0, taken from the entry that holds it.
  for (rr_ramp_info_t& e : info().ramps.table) e.lastUse = INT64_MAX;
  ASSERT_EQ(rr_load_ramp(&info(), 5), 0);
  EXPECT_EQ(entry(5).slot, 0);
  EXPECT_EQ(entry(0).slot, RR_NO_SLOT);
  EXPECT_EQ(std::count_if(info().ramps.table.begin(), info().ramps.table.end(),
                          [](const rr_ramp_info_t& e) { return e.slot == 0; }),
            1);
}

TEST_F(RampUse, RampsNotInTheBoardAreNotStartedAndId255IsReplaced) {
  EXPECT_EQ(rr_ramp_start_index(&info(), 0), ERR_INVALID_PARAM);
  EXPECT_EQ(board->runner.requests(), 0);
  entry(0).header.rampID = 255;  // the empty-slot mark
  ASSERT_EQ(rr_load_ramp(&info(), 0), 0);
  EXPECT_NE(info().ramps.slotTable[entry(0).slot], RR_NO_SLOT);
  EXPECT_EQ(entry(0).header.rampID, 0);
}

TEST_F(RampUse, StartWaitAndTimeOut) {
  ASSERT_EQ(rr_load_ramp(&info(), 2), 0);
  board->model.set_ramp_time_ms(500);
  EXPECT_EQ(rr_ramp_start_index(&info(), 2), 0);
  EXPECT_EQ(rr_ramp_start_slot(&info(), entry(2).slot), ERR_RAMP_BUSY);
  const int64_t t0 = board->clock.elapsed_ms();
  EXPECT_EQ(rr_wait_ramp_idle(&info(), 4), 0);
  EXPECT_EQ(board->clock.elapsed_ms() - t0, 500);

  // Too long: 80 polls in 4 s, then the engine is reset through I/O 4240.
  board->model.set_ramp_time_ms(60000);
  ASSERT_EQ(rr_ramp_start_index(&info(), 2), 0);
  const int before = board->runner.requests();
  const int64_t t1 = board->clock.elapsed_ms();
  EXPECT_EQ(rr_wait_ramp_idle(&info(), 4), ERR_RAMP_WAIT_TIMEOUT);
  EXPECT_EQ(board->runner.requests() - before, 81);
  EXPECT_EQ(board->clock.elapsed_ms() - t1, 79 * 50);
  EXPECT_EQ(board->model.io(4240), 255);

  // An abort ends the wait at once, with the engine left alone.
  board->model.set_io(4240, 0);
  const auto saved = u_set_abort_fn([](void*) { return 1; });
  EXPECT_EQ(rr_wait_ramp_idle(&info(), 4), ERR_FELBRIN_ABORTED);
  u_set_abort_fn(saved);
  EXPECT_EQ(board->model.io(4240), 0);
}

TEST_F(RampUse, GainPacketsAndTheirBounds) {
  struct Case {
    const char* name;
    BoardKind kind;
    rr_ramp_hdr_t header;
    int gain;
    uint8_t large_ap;  // selected, fitted bits
    std::vector<felbrin::test::Bytes> sent;
    int rc;
    std::string log;
  };
  using felbrin::test::packet;
  const Case cases[] = {
      {"PMI on UZ1", BoardKind::uz1, pmi_header(), 1000, 0, {packet(3, {0x03, 0xE8, 0x01, 0xF4, 0x00, 0xFA})}, 0, ""},
      {"SWLI on UZ2", BoardKind::uz2, swli_header(), 3000, 0, {packet(1, {0x0B, 0xB8, 0, 0, 0, 0})}, 0, ""},
      {"large aperture selected on UZ2", BoardKind::uz2, swli_header(), 3000, 3,
       {packet(44, {0x0B, 0xB8, 0, 0, 0, 0}), packet(1, {0, 0, 0, 0, 0, 0})}, 0, ""},
      {"large aperture fitted on UZ2", BoardKind::uz2, swli_header(), 7, 2,
       {packet(1, {0, 7, 0, 0, 0, 0}), packet(44, {0, 0, 0, 0, 0, 0})}, 0, ""},
      {"large aperture selected, not fitted", BoardKind::uz2, swli_header(), 7, 1, {}, ERR_INVALID_PARAM,
       "rr_setRampGain: large aperture not available\n"},
      {"PMI above 4095", BoardKind::uz1, pmi_header(), 5000, 0, {}, ERR_PARAM_OUT_OF_RANGE,
       "rr_setRampGain: g[0]=5000 is out of range [0,4095]  gain=5000  t[0]=1.000\n"},
      {"negative PMI gain", BoardKind::uz1, pmi_header(), -2, 0, {}, ERR_PARAM_OUT_OF_RANGE,
       "rr_setRampGain: g[0]=-2 is out of range [0,4095]  gain=-2  t[0]=1.000\n"},
      {"SWLI above 65535", BoardKind::uz1, swli_header(), 70000, 0, {}, ERR_PARAM_OUT_OF_RANGE,
       "rr_setRampGain: g[0]=70000 is out of range [0,65535]  gain=70000  t[0]=1.000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make(c.kind, 1, c.header);
    info().largeApSelected = c.large_ap & 1;
    info().largeApFitted = (c.large_ap >> 1) & 1;
    entry(0).gain = 42;
    for (const auto& bytes : c.sent) board->script.add(sim::Turn{}.expect(bytes));
    EXPECT_EQ(rr_setRampGain(&info(), c.gain), c.rc);
    EXPECT_EQ(board->runner.requests(), static_cast<int>(c.sent.size()));
    EXPECT_TRUE(board->script.mismatches().empty()) << board->script.mismatches().front();
    EXPECT_EQ(board->log.str(), c.log);
    EXPECT_EQ(entry(0).gain, c.rc == 0 ? c.gain : 42);
  }
}

// On a wave-monitor system the gain goes to the monitor, never to the
// board: an uncalibrated monitor allows no range at all.
TEST_F(RampUse, WaveMonitorSystemsCheckTheMonitorsLimits) {
  make(BoardKind::uz1, 1, pmi_header());
  info().systemType = 19;
  info().wmSysGain = 1;
  EXPECT_EQ(rr_setRampGain(&info(), 100), ERR_WM_TUNE_RANGE_TOO_LARGE);
  EXPECT_EQ(board->runner.requests(), 0);
  EXPECT_EQ(entry(0).gain, 0);
}

TEST_F(RampUse, SlopeChangesByBoardVersion) {
  struct Case {
    const char* name;
    BoardKind kind;
    uint8_t version;
    bool keeps_slot;
    int requests;  // after the load
  };
  const Case cases[] = {
      {"UZ1 version 12 sends the rate", BoardKind::uz1, 12, true, 1},
      {"UZ1 version 11 deletes the ramp", BoardKind::uz1, 11, false, 1},
      {"UZ2 keeps its copy", BoardKind::uz2, 13, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make(c.kind, 1);
    info().boardVersion = c.version;
    entry(0).header.cameraRate = 10000;
    ASSERT_EQ(rr_load_ramp(&info(), 0), 0);
    const int before = board->runner.requests();
    ASSERT_EQ(rr_adjust_ramp_slope(&info(), 0, 2), 0);
    const rr_ramp_hdr_t& h = entry(0).header;
    EXPECT_EQ(h.rampSlope, 162);
    EXPECT_EQ(h.sampleClkFreq, 80);
    EXPECT_EQ(h.updateRate, 65486);  // 65536 - 4000 / 80
    EXPECT_EQ(h.nBuckets, 20);       // 10000 frames/s over 160 points at 80 kHz
    EXPECT_EQ(entry(0).slot != RR_NO_SLOT, c.keeps_slot);
    EXPECT_EQ(board->runner.requests() - before, c.requests);
    if (c.keeps_slot && c.kind == BoardKind::uz1) {
      EXPECT_EQ(board->model.slot(0).update_rate, 65486);
    }
  }
  // The board lost the ramp: the entry gives up its slot, to load again.
  make(BoardKind::uz1, 1);
  info().boardVersion = 12;
  ASSERT_EQ(rr_load_ramp(&info(), 0), 0);
  ASSERT_EQ(uz_ramp_delete(&info(), entry(0).slot), 0);
  EXPECT_EQ(rr_adjust_ramp_slope(&info(), 0, 2), ERR_INVALID_RAMP_INDEX);
  EXPECT_EQ(entry(0).slot, RR_NO_SLOT);
  EXPECT_EQ(info().ramps.slotTable[0], RR_NO_SLOT);

  LogCapture log;
  EXPECT_EQ(rr_adjust_ramp_slope(&info(), 0, 0), ERR_INVALID_PARAM);
  EXPECT_EQ(rr_adjust_ramp_slope(&info(), 0, 1000), ERR_INVALID_PARAM);
  EXPECT_EQ(log.str(), "Error: sampleClkFreq = 80000 KHz is too high\n");
  EXPECT_EQ(entry(0).header.rampSlope, 162);  // untouched by the refusals
}

TEST_F(RampUse, RampIdsAreTheLowestFree) {
  make(BoardKind::uz1, 1);
  entry(0).header.rampID = 40;
  EXPECT_EQ(rr_assign_ramp_id(&info(), 0), 0);
  EXPECT_EQ(entry(0).header.rampID, 0);
  make(BoardKind::uz1, 3);
  entry(0).header.rampID = 0;
  entry(1).header.rampID = 1;
  EXPECT_EQ(rr_assign_ramp_id(&info(), 2), 0);
  EXPECT_EQ(entry(2).header.rampID, 2);
  EXPECT_EQ(rr_assign_ramp_id(&info(), 3), ERR_INVALID_RAMP_INDEX);
}

TEST_F(RampUse, MatchingExplainsItself) {
  make(BoardKind::uz1, 2, pmi_header(5));
  entry(1).header = swli_header();
  char why[128];
  struct Case {
    int type, buckets;
    double scan_len;
    int mux;
    double rate;
    int skip;
    int index;
    const char* reason;
  };
  const Case cases[] = {
      {1, 5, 0, -1, 25, -1, 0, ""},
      {1, 7, 0, -1, 0, -1, 0, "ramp nBuckets = 5  expected nBuckets = 7"},
      {0, 0, 0, -1, 0, -1, 0, "ramp rampType = 5 (PMI)  expected 0 (SWLI)"},
      {0, 0, 11.5, -1, 0, -1, 1, "ramp scanLen = 10  expected scanLen = 11.5"},
      {0, 0, 11, -1, 25.05, 0, 1, ""},
      {0, 0, 0, -1, 25.2, -1, 1, "ramp cameraRate = 25  expected cameraRate = 25.2"},
      {0, 0, 0, 1, 0, -1, 1, "ramp rampMux = 0  expected rampMux = 1"},
      {0, 0, 0, -1, 0, 2, 1, "ramp grabSkip = 0  expected grabSkip = 2"},
      {21, 0, 0, -1, 0, -1, 1, "expected rampType = 21 is invalid"},
      {0, 0, 0, -1, 0, -1, 2, "invalid rampIndex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    const bool fits = rr_ramp_matches(&info(), c.index, c.type, c.buckets, c.scan_len, c.mux, c.rate, c.skip, why,
                                      sizeof why);
    EXPECT_EQ(fits, c.reason[0] == '\0');
    EXPECT_STREQ(why, c.reason);
  }
  EXPECT_EQ(rr_find_ramp(&info(), 1, 5, 0, -1, 0, -1), 0);
  EXPECT_EQ(rr_find_ramp(&info(), 0, 0, 10, -1, 25, 0), 1);
  EXPECT_EQ(rr_find_ramp(&info(), 17, 0, 0, -1, 0, -1), -1);
  info().acqFlag = 0;
  EXPECT_FALSE(rr_ramp_matches(&info(), 0, 1, 0, 0, -1, 0, -1, why, sizeof why));
  EXPECT_STREQ(why, "invalid sysInfo");
}

// ---- boards with a back end of their own

// A stand-in back end that records what it was asked.
struct FakeBackend {
  static FakeBackend& get() {
    static FakeBackend f;
    return f;
  }
  int downloads = 0, starts = 0, idles = 0, gains = 0;
  int last_slot = -1, last_index = -2, last_gain = 0;
  bool profiles = true;
  rr_board_backend_t table() const {
    rr_board_backend_t b;
    b.download = [](sysInfo_t*, int slot, rr_ramp_info_t*) {
      ++get().downloads;
      get().last_slot = slot;
      return 0;
    };
    b.start = [](sysInfo_t*, int slot, int index) {
      ++get().starts;
      get().last_slot = slot;
      get().last_index = index;
      return 0;
    };
    b.idle = [](sysInfo_t*, int* idle) {
      ++get().idles;
      *idle = 1;
      return 0;
    };
    b.set_gain = [](sysInfo_t*, rr_ramp_info_t*, int gain) {
      ++get().gains;
      get().last_gain = gain;
      return 0;
    };
    b.slot_count = [](const sysInfo_t*) { return 6; };
    b.external_profiles = [](const sysInfo_t*) { return get().profiles; };
    // The scanner's own crossing: half the scan at the ramp's speed.
    b.crossing_time = [](const sysInfo_t*, const rr_ramp_info_t* e, double* t) {
      const rr_ramp_hdr_t& h = e->header;
      *t = h.scanLen / 2 / (h.rampSlope / 1000) / h.cameraRate;
      return true;
    };
    return b;
  }
};

TEST(RampBackends, DuneAndCanGoThroughTheirBackEnds) {
  LogCapture log;
  sysInfo_t& info = sysInfo[1];
  info = sysInfo_t{};
  info.acqFlag = 1;
  info.instrBdType = BD_DUNE;
  ASSERT_TRUE(info.ramps.table.allocate(2));
  info.ramps.table[0].header = swli_header();
  info.ramps.table[1].header = pmi_header();
  ASSERT_EQ(rr_set_current_ramp(&info, 1), 0);
  EXPECT_EQ(rr_set_current_ramp(&info, 2), ERR_INVALID_RAMP_INDEX);

  // Nothing registered: the operations cannot be carried out.
  EXPECT_EQ(rr_load_ramp(&info, 0), ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(rr_wait_ramp_idle(&info, 1), ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(rr_ramp_start_slot(&info, 0), ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(log.str(), "rr_load_ramp failed: ERR_NOT_IMPLEMENTED\n");

  FakeBackend& f = FakeBackend::get();
  f = FakeBackend{};
  const rr_board_backend_t b = f.table();
  ASSERT_TRUE(rr_set_board_backend(BD_DUNE, &b));
  ASSERT_TRUE(rr_set_board_backend(BD_CAN, &b));
  EXPECT_FALSE(rr_set_board_backend(BD_SABLE, &b));
  EXPECT_EQ(rr_get_max_num_instr_ramps(&info), 4);

  // The Dune board changes the gain only of a loaded ramp, and only when it
  // differs, once the engine is idle.
  EXPECT_EQ(rr_setRampGain(&info, 10), ERR_INVALID_PARAM);
  ASSERT_EQ(rr_load_ramp(&info, 1), 0);
  EXPECT_EQ(f.downloads, 1);
  EXPECT_EQ(info.ramps.table[1].slot, 0);
  info.ramps.table[1].gain = 10;
  EXPECT_EQ(rr_setRampGain(&info, 10), 0);
  EXPECT_EQ(f.gains, 0);
  EXPECT_EQ(rr_setRampGain(&info, 11), 0);
  EXPECT_EQ(f.gains, 1);
  EXPECT_EQ(f.idles, 1);
  EXPECT_EQ(f.last_gain, 11);
  EXPECT_EQ(rr_ramp_start_slot(&info, 0), 0);
  EXPECT_EQ(f.last_index, -1);

  // CAN instruments start by entry, and a pifoc-kind scanner has the node's
  // slot count.
  info.instrBdType = BD_CAN;
  EXPECT_EQ(rr_get_max_num_instr_ramps(&info), 4);
  info.pifoc = felbrin::make_hooked<sb_pifoc_t>();
  info.pifoc->type = 2;
  EXPECT_EQ(rr_get_max_num_instr_ramps(&info), 6);
  EXPECT_EQ(rr_ramp_start_index(&info, 1), 0);
  EXPECT_EQ(f.last_index, 1);
  EXPECT_EQ(f.last_slot, 0);
  // CAN gains of the first PMI variant are four times the factors, each at
  // most 16383.
  info.ramps.table[1].header.rampType = RR_TYPE_PMI;
  EXPECT_EQ(rr_setRampGain(&info, 4096), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(rr_setRampGain(&info, 4095), 0);
  EXPECT_EQ(f.last_gain, 4095);

  info.instrBdType = 2;
  EXPECT_EQ(rr_ramp_start_slot(&info, 0), ERR_WRONG_INSTR_BOARD);
  rr_set_board_backend(BD_DUNE, nullptr);
  rr_set_board_backend(BD_CAN, nullptr);
  info = sysInfo_t{};
}

TEST_F(RampTable, ExternalProfileLinesNeedABackEndThatHasThem) {
  FakeBackend& f = FakeBackend::get();
  f = FakeBackend{};
  const rr_board_backend_t b = f.table();
  ASSERT_TRUE(rr_set_board_backend(BD_CAN, &b));
  info().instrBdType = BD_CAN;
  info().pifoc->type = 1;
  felbrin::test::write_file(dir.path() / "rampcfg.txt",
                            " SWLI extprofile2.bn          010.00 025.00 00 00 0.250 081.0000 000.00 1.00000 0\n"
                            " SWLI extprofile9.bp          010.00 025.00 00 00 0.250 081.0000 000.00 1.00000 0\n"
                            " SWLI extprofile.bp           010.00 025.00 00 00 0.250 081.0000 000.00 1.00000 0\n"
                            " SWLI extprofile0002.bp       010.00 025.00 00 00 0.250 081.0000 000.00 1.00000 0\n");
  info().rampConfigFile = "rampcfg.txt";
  ASSERT_EQ(rr_get_ramp_info(&info()), 0) << log();
  ASSERT_EQ(info().ramps.table.size(), 1);
  const rr_ramp_info_t& e = info().ramps.table[0];
  EXPECT_EQ(e.slot, 2);
  EXPECT_EQ(e.header.dirFlag, 0);
  EXPECT_EQ(e.header.nBuckets, 124);  // 10 um at 81 nm a frame, rounded up
  EXPECT_EQ(e.header.nPoints, 24800);  // 124 frames at 25 Hz, 5 kHz
  EXPECT_EQ(e.header.offset, 0x8000);
  EXPECT_NEAR(e.timeTilOffset, 5 / 0.081 / 25, 1e-6);  // the slope is single precision
  EXPECT_NE(log().find("Ramp config error: ramp 2: External profile ramp index 9 is greater than maximum 6\n"),
            std::string::npos)
      << log();
  EXPECT_NE(log().find("Ramp config error: ramp 3: Invalid external profile ramp name extprofile.bp\n"),
            std::string::npos);
  EXPECT_NE(log().find("Ramp config error: ramp 4: Invalid external profile ramp name extprofile0002.bp\n"),
            std::string::npos);
  rr_set_board_backend(BD_CAN, nullptr);
}

// ---- derived ramps and the offset crossing, without a line

rr_ramp_info_t base_entry(int n = 1000) {
  rr_ramp_info_t e;
  e.name = "base";
  e.header = swli_header(20, 81);
  e.header.nPoints = n;
  e.header.trigStartAddr = 100;
  e.header.trigEndAddr = n - 100;
  const std::vector<uint16_t> p = rising(n);
  e.points = static_cast<uint16_t*>(u_malloc_fn(p.size() * 2));
  std::copy(p.begin(), p.end(), e.points);
  return e;
}

rr_ramp_line_t line_for(float scan_len, float slope = 81) {
  rr_ramp_line_t s{};
  s.type = RR_TYPE_SWLI;
  s.scanLen = scan_len;
  s.cameraRate = 25;
  s.fringesPerFrame = 0.25f;
  s.rampSlope = slope;
  s.scanCal = 1;
  return s;
}

TEST(RampDerive, ShorterScanKeepsThePointCountAndStaysMonotonic) {
  for (float len : {20.0f, 15.0f, 10.0f, 5.0f, 1.0f}) {
    SCOPED_TRACE(len);
    const rr_ramp_info_t base = base_entry();
    rr_ramp_info_t out;
    const rr_ramp_line_t cfg = line_for(len);
    ASSERT_EQ(rr_derive_ramp(&base, &out, &cfg), 0);
    ASSERT_NE(out.points, nullptr);
    EXPECT_EQ(out.header.nPoints, 1000);
    EXPECT_EQ(out.header.scanLen, len);
    EXPECT_TRUE(std::is_sorted(out.points, out.points + 1000));
    // The same start, a shorter sweep over the scan.
    const int sweep = out.points[999] - out.points[100];
    const int base_sweep = base.points[999] - base.points[100];
    if (len < 20) {
      EXPECT_LT(sweep, base_sweep);
    } else {
      EXPECT_TRUE(std::equal(out.points, out.points + 1000, base.points));
    }
  }
}

TEST(RampDerive, RefusalsLeaveNoPoints) {
  struct Case {
    const char* name;
    std::function<void(rr_ramp_info_t&, rr_ramp_line_t&)> spoil;
    int rc;
    std::string log;
  };
  const Case cases[] = {
      {"longer scan", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.scanLen = 21; }, ERR_PARAM_OUT_OF_RANGE,
       "Error: derived ramp must have smaller scan length\n"},
      {"negative scan", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.scanLen = -1; }, ERR_INVALID_PARAM, ""},
      {"scan of minus infinity",
       [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.scanLen = -std::numeric_limits<float>::infinity(); },
       ERR_INVALID_PARAM, ""},
      {"fringes 0.3", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.fringesPerFrame = 0.3f; }, ERR_INVALID_PARAM,
       "Error: fringesPerFrame = 0.3 is invalid for derived ramp\n"},
      {"BTW without magnification", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.type = RR_TYPE_BTW; },
       ERR_INVALID_PARAM, "Error: BTW ramp must specify an objective mag\n"},
      {"PMI", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.type = RR_TYPE_PMI; }, ERR_INVALID_PARAM,
       "Error: derived ramp must be type SWLI or BTW\n"},
      {"trigger end beyond the points", [](rr_ramp_info_t& b, rr_ramp_line_t&) { b.header.trigEndAddr = 1001; },
       ERR_INVALID_PARAM, ""},
      {"trigger start after its end", [](rr_ramp_info_t& b, rr_ramp_line_t&) { b.header.trigStartAddr = 950; },
       ERR_INVALID_PARAM, ""},
      {"slope 0", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.rampSlope = 0; }, ERR_INVALID_PARAM, ""},
      // 40 kHz, stretched by 1.8 for the shorter scan, times the speeds' ratio.
      {"too slow a clock", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.rampSlope = 0.001f; }, ERR_INVALID_PARAM,
       "Error: sampleClkFreq = 0.000888889 KHz is too low\n"},
      {"too fast a clock", [](rr_ramp_info_t&, rr_ramp_line_t& s) { s.cameraRate = 1e6f; }, ERR_INVALID_PARAM,
       "Error: sampleClkFreq = 2.88e+06 KHz is too high\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rr_ramp_info_t base = base_entry();
    rr_ramp_line_t cfg = line_for(10);
    c.spoil(base, cfg);
    rr_ramp_info_t out;
    LogCapture log;
    EXPECT_EQ(rr_derive_ramp(&base, &out, &cfg), c.rc);
    EXPECT_EQ(out.points, nullptr);
    EXPECT_EQ(log.str(), c.log);
  }
}

TEST(RampCrossing, HandWorkedAndMalformedRamps) {
  rr_ramp_info_t e = base_entry(200);
  e.header.trigStartAddr = 20;
  // Points 0x7000 + i * 0x2000 / 199: 0x8000 lies between points 99 and 100.
  ASSERT_EQ(rr_calc_time_til_offset_crossing(&e, 40), 0);
  const double p99 = e.points[99], p100 = e.points[100];
  const double crossing = 99 + (p99 - 0x8000) / (p99 - p100);
  EXPECT_DOUBLE_EQ(e.timeTilOffset, crossing / 40000 - 1 / 25.0);

  e.header.trigStartAddr = 200;
  EXPECT_EQ(rr_calc_time_til_offset_crossing(&e, 40), ERR_CORRUPT_RAMP_FILE);
  e.header.trigStartAddr = -1;
  EXPECT_EQ(rr_calc_time_til_offset_crossing(&e, 40), ERR_CORRUPT_RAMP_FILE);
  // Already at the offset from the first point, flat: no division by zero.
  e.header.trigStartAddr = 0;
  std::fill(e.points, e.points + 200, uint16_t{0x8000});
  EXPECT_EQ(rr_calc_time_til_offset_crossing(&e, 40), 0);
  EXPECT_DOUBLE_EQ(e.timeTilOffset, 0);
  e.header.rampType = 5;
  EXPECT_EQ(rr_calc_time_til_offset_crossing(&e, 40), ERR_INVALID_PARAM);
}

TEST(RampNames, TypesAndFringeCodes) {
  const std::pair<int, const char*> names[] = {{0, "SWLI"}, {1, "PMI"},  {6, "?"},   {11, "PMI"},
                                               {16, "?"},   {17, "BTW"}, {19, "FR"}, {20, "?"}};
  for (auto [type, name] : names) EXPECT_STREQ(rr_type_name(type), name);
  int code = 0;
  EXPECT_EQ(rr_fringes_code(1.2505, &code), 0);
  EXPECT_EQ(code, 5);
  LogCapture log;
  EXPECT_EQ(rr_fringes_code(0.5, &code), ERR_INTERNAL_FB);
  double f = 0;
  EXPECT_EQ(rr_scan_type_fringes(65, &f), 0);
  EXPECT_EQ(f, 2.75);
  EXPECT_EQ(rr_scan_type_fringes(2, &f), ERR_INTERNAL_FB);
  EXPECT_EQ(log.str(), "Invalid fringesPerFrame 0.5\nInternal error: invalid scanType 2\n");
}

}  // namespace
