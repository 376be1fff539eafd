// Motion controller configuration file: bad lines with their codes and
// whole messages, a full file into the record, the defaults, the kept
// oddities of the format, and files read by path with the calibration
// record read first.
#include "instrument/motion/mc_config.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <filesystem>
#include <string>

#include "common/dirs.h"
#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/motion/mc_config_internal.h"
#include "platform/platform.h"
#include "support/environment.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::ScopedEnv;
using felbrin::test::TempDir;

struct Read {
  int rc = -1;
  mc_config_t cfg;
  std::string log;
};

Read read_text(const std::string& text, const sysInfo_t& cal = sysInfo_t{}) {
  LogCapture log;
  Read r;
  mc_config_defaults(&r.cfg);
  std::FILE* f = plat::open_memory(text.data(), text.size());
  EXPECT_NE(f, nullptr);
  r.rc = felbrin::mc_read_config_stream(f, cal, r.cfg);
  std::fclose(f);
  r.log = log.str();
  return r;
}

std::string at_line(const char* name, int line) {
  return std::string("-***- ") + name + " in Line " + std::to_string(line) + " of configuration file -***-\n";
}

struct BadCase {
  const char* what;
  const char* lines;  // after "AXIS 0"
  int rc;
  int line;
  const char* message;  // before the line report
};

TEST(McConfig, BadLinesGiveTheirCodeAndMessages) {
  const BadCase cases[] = {
      {"axis above 7", "AXIS 8", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"axis twice", "AXIS 0", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"unknown keyword", "SPEED 5", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"steps too fine", "ENC_STEPS 0.04 MICRONS", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"unknown unit", "ENC_STEPS 1 FEET", ERR_INVALID_PARAM, 2, ""},
      {"rate 0", "PROG_RATE 0", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"gain set", "PID_PROP_GAIN MEDIUM 5", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"hexadecimal outside the table", "HOME_LOC 0x3FFF", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"value missing", "HOME_LOC", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"u8 overflow", "CAN_CLOSED_LOOP 256", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"negative unsigned", "FOLLOW_WARN -1", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"s32 overflow", "HOME_ZERO 2147483648", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"beyond 64 bits", "MICROSTEP 99999999999999999999", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"backlash limit", "BACKLASH 1677722", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"stick dead band", "STICK_DEAD 32", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"name of two letters", "NAME XY", ERR_INVALID_PARAM, 2, ""},
      {"no such letter", "NAME q", ERR_INVALID_PARAM, 2, ""},
      {"travel backwards", "TRAVEL 0 5 1", ERR_INVALID_PARAM, 2, ""},
      {"joystick word", "JOYSTICK UP", ERR_INVALID_PARAM, 2, ""},
      {"copy of an undefined axis", "COPY 1", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"lcdmi letter", "LCDMI Z 1", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"scalar 0", "AF_SCALAR 0", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"three of four divisors", "DIVISORS 1 2 3", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"missing address", "ENC_TABLE PARALLEL_POS X SIZE 12", ERR_CORRUPT_DATA_FILE, 2,
       "Missing required information for PARALLEL_POS: ADDR\n"},
      {"all missing", "ENC_TABLE filtered_parallel_pos y # no names", ERR_CORRUPT_DATA_FILE, 2,
       "Missing required information for FILTERED_PARALLEL_POS: ADDR, SIZE, FILTER\n"},
      {"no X or Y", "ENC_TABLE PARALLEL_POS SIZE 12", ERR_CORRUPT_DATA_FILE, 2,
       "Expected an X or Y after PARALLEL_POS.\n"},
      {"encoder type", "ENC_TABLE Wheel", ERR_INVALID_PARAM, 2, "Invalid encoder type: Wheel\n"},
      {"even parallel bit", "ENC_TABLE 1/T\nENC_TABLE PARALLEL_BIT", ERR_CORRUPT_DATA_FILE, 3,
       "PARALLEL_BIT must be on an ODD encoder.\n"},
      {"address wider than 16 bits", "ENC_TABLE TIME_BASED ADDR 0x10000 SCALE 1", ERR_CORRUPT_DATA_FILE, 2,
       "Expected an Unsigned 16-Bit integer value for ADDR\n"},
      {"value missing in the table", "ENC_TABLE TIME_BASED SCALE 1 ADDR", ERR_CORRUPT_DATA_FILE, 2,
       "Expected a value for ADDR.\n"},
      {"decimal point in the table", "ENC_TABLE TIME_BASED ADDR 1.5", ERR_CORRUPT_DATA_FILE, 2,
       "Expected a value for ADDR.\n"},
      {"unknown name in the table", "ENC_TABLE TIME_BASED ADDR 1 SCALE 1 COLOUR 2", ERR_INVALID_PARAM, 2, ""},
      {"size 25", "ENC_TABLE PARALLEL_POS X ADDR 1 SIZE 25", ERR_PARAM_OUT_OF_RANGE, 2, "Invalid size value.\n"},
      {"bias times 256 beyond 24 bits", "ENC_TABLE INTEGRATED_ANALOG BIAS 0x10000", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"filter beyond 24 bits", "ENC_TABLE EXPONENTIAL ADDR 1 MAX_CHANGE 1 FILTER 0x1000000",
       ERR_PARAM_OUT_OF_RANGE, 2, ""},
      {"scale below -0x800000", "ENC_TABLE TIME_BASED ADDR 1 SCALE -0x800001", ERR_PARAM_OUT_OF_RANGE, 2, ""},
      // Checks at the end: the line is the last one read.
      {"encoder on a P axis", "NAME P\nGOT_AXIS 1\nGOT_ENCODER 1", ERR_CORRUPT_DATA_FILE, 4, ""},
      {"home on limits without limits", "HOME_TYPE 2", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"home type 3 with a driver and no limits", "HOME_TYPE 3\n", ERR_CORRUPT_DATA_FILE, 3, ""},
      {"home type 4 with limits", "HOME_TYPE 4\nGOT_LIMITS 1", ERR_CORRUPT_DATA_FILE, 3, ""},
      {"encoder of an undefined axis", "ENC_AXIS_NUM 1", ERR_CORRUPT_DATA_FILE, 2, ""},
      {"encoder of an axis that does not home", "ENC_AXIS_NUM 1\nAXIS 1", ERR_CORRUPT_DATA_FILE, 3, ""},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Read r = read_text(std::string("AXIS 0\n") + c.lines + "\n");
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.log, c.message + at_line(err_name(c.rc), c.line));
  }
}

TEST(McConfig, SeventeenthEncoderLineIsRefused) {
  std::string text = "AXIS 0\n";
  for (int i = 0; i < 17; ++i) text += "ENC_TABLE 1/T\n";
  const Read r = read_text(text);
  EXPECT_EQ(r.rc, ERR_CORRUPT_DATA_FILE);
  EXPECT_EQ(r.log, "Too many encoder table entries.\n" + at_line("ERR_CORRUPT_DATA_FILE", 18));
  EXPECT_EQ(r.cfg.encTable[15].word[0], 0xBFF8 + 8 * 16);
  EXPECT_EQ(r.cfg.encTable[16].type, MC_ENC_NONE);
}

TEST(McConfig, NoAxisIsAPrematureEnd) {
  const Read r = read_text("# motion\nCONFIG lab 1 2\n\nHOME_LOC 5\n");
  EXPECT_EQ(r.rc, ERR_PREMATURE_EOF);
  EXPECT_EQ(r.log, at_line("ERR_PREMATURE_EOF", 4));
}

TEST(McConfig, DefaultsAreTheControllersOwn) {
  mc_config_t c;
  c.axes[0].axisComp = "old";
  mc_config_defaults(&c);
  EXPECT_EQ(c.configName, "default");
  EXPECT_EQ(c.divisors[0], 167);
  EXPECT_EQ(c.divisors[3], 0);
  EXPECT_EQ(c.lJoystick[0], -1);
  EXPECT_EQ(c.lJoystick[1], 2);
  EXPECT_EQ(c.clockFreq, 0x30);
  EXPECT_EQ(c.dacStrobeWord5to8, 0x7FFFC0u);
  EXPECT_EQ(c.afScalar, 1);
  const char names[] = {'X', 'Y', 'Z', 'P', 'R', 'T', 0, 0};
  for (int i = 0; i < MC_AXES; ++i) {
    const mc_axis_config_t& a = c.axes[i];
    EXPECT_EQ(a.name, names[i]);
    EXPECT_EQ(a.flags1, MC_HOME_DIR | MC_LIMIT_POL | (4 << MC_LIMIT_DELAY_SHIFT));
    EXPECT_EQ(a.commutation, (2 << MC_OUTPUT_MODE_SELECT_SHIFT) | (2 << MC_OUTPUT_INVERT_CTRL_SHIFT));
    EXPECT_EQ(a.progRate.full, 8000u);
    EXPECT_EQ(a.progRate.shortForm, 8000);
    EXPECT_EQ(a.homeLimitPos, FLT_MAX);
    EXPECT_EQ(a.encStepsUnit, MC_MICROINCHES);
    EXPECT_EQ(a.pitchUnit, MC_REVS_PER_IN);
    EXPECT_EQ(a.deadbandSize, 32);
    EXPECT_EQ(a.pdPercent, 100);
    EXPECT_EQ(a.axisGroup, -1);
    EXPECT_EQ(a.joystick, MC_NO_JOYSTICK);
    EXPECT_EQ(a.commandOutputAddress, MC_ADDRESS_UNSET);
    EXPECT_EQ(a.gains[MC_SLOW], (mc_gains_t{700, 0, 15050, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(a.axisComp.empty());
    EXPECT_EQ(a.defined, 0);
  }
  EXPECT_EQ(c.encTable[7].type, MC_ENC_INCREMENTAL);
  EXPECT_EQ(c.encTable[7].word[0], 0xC0C038);
  EXPECT_EQ(c.encTable[8].type, MC_ENC_NONE);
}

// A calibration with gains and a compensation name for X only.
sysInfo_t calibration_with_x() {
  sysInfo_t cal;
  cal.pid[5] = felbrin::make_hooked<sb_pid_t>();
  cal.pid[5]->sets[0] = {1, 2, 3, 4, 1, 6, 0.5f, 0, 0, 0};
  cal.pid[5]->sets[1] = {7, 8, 9, 10, 0, 12, 0, 0, 0, -0.5f};
  cal.axisCompFile[5] = "xcomp.txt";
  cal.axisCompFile[7] = "zcomp.txt";
  return cal;
}

constexpr const char* kFile =
    "Lines before the first axis are skipped, controller keywords too:\r\n"
    "CONFIG ignored 9 9\r\n"
    "\r\n"
    "axis 0\r\n"
    "  # X, all from the calibration\r\n"
    "Config Lab7 3 4\r\n"
    "PROG_RATE 20000\r\n"
    "man_accel 100\r\n"
    "HOME_RATE 16383\r\n"
    "DEADBAND_SIZE 1.03\r\n"
    "PITCH_GEARRATIO 2 revs_per_mm\r\n"
    "MOTOR_NUM 2\r\n"
    "AXIS_GROUP 5\r\n"
    "LEFT_H\r\n"
    "ENC_TABLE PARALLEL_BIT\r\n"
    "ENC_TABLE PARALLEL_POS X SIZE 12 ADDR 0x1234 # from the manual\r\n"
    "AXIS 2\r\n"
    "NAME z\r\n"
    "PID_PROP_GAIN FAST -5\r\n"
    "PID_N1 SLOW 1.5\r\n"
    "AXIS_COMP zspecial.txt\r\n"
    "COMMAND_OUTPUT_ADDRESS 100\r\n"
    "MOTOR_NUM 3\r\n"
    "AXIS_GROUP 5\r\n"
    "AXIS 1\r\n"
    "COPY 0\r\n"
    "NAME r\r\n"
    "AXIS_GROUP 3\r\n"
    "DEADBAND_SIZE 1.04\r\n"
    "TRAVEL 10 -50 50\r\n"
    "JOYSTICK right_r\r\n"
    " \r\n"
    "AXIS 3\r\n"
    "HOME_LOC oops\r\n";

TEST(McConfig, FullFileFillsTheRecord) {
  const Read r = read_text(kFile, calibration_with_x());
  ASSERT_EQ(r.rc, 0) << r.log;
  EXPECT_EQ(r.log, "");
  const mc_config_t& c = r.cfg;
  EXPECT_EQ(c.configName, "Lab7");
  EXPECT_EQ(c.configNums[0], 3);
  EXPECT_EQ(c.configNums[1], 4);

  const mc_axis_config_t& x = c.axes[0];
  EXPECT_EQ(x.defined, 1);
  EXPECT_EQ(x.progRate.full, 20000u);
  EXPECT_EQ(x.progRate.shortForm, 0);
  EXPECT_EQ(x.manAccel.shortForm, 100);
  EXPECT_EQ(x.homeRate.shortForm, 16383);  // the largest short form
  EXPECT_EQ(x.deadbandSize, 16);  // 16.48 rounds down
  EXPECT_FLOAT_EQ(x.pitchGearRatio, 50.8f);
  EXPECT_EQ(x.pitchUnit, MC_REVS_PER_MM);
  EXPECT_EQ(x.commandOutputAddress, 0xC00C);
  EXPECT_EQ(x.commutationPosAddr, 0xC009);
  EXPECT_EQ(x.gains[MC_FAST], (mc_gains_t{1, 2, 3, 4, 1, 6, 0.5f, 0, 0, 0}));
  EXPECT_EQ(x.gains[MC_SLOW].d2, -0.5f);
  EXPECT_EQ(x.axisComp, "xcomp.txt");

  // One gain given: the rest keep the defaults, not the calibration's.
  const mc_axis_config_t& z = c.axes[2];
  EXPECT_EQ(z.name, 'Z');
  EXPECT_EQ(z.gains[MC_FAST], (mc_gains_t{-5, 0, 15050, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(z.gains[MC_SLOW], (mc_gains_t{700, 0, 15050, 0, 0, 0, 1.5f, 0, 0, 0}));
  EXPECT_EQ(z.axisComp, "zspecial.txt");
  EXPECT_EQ(z.commandOutputAddress, 100);
  EXPECT_EQ(z.commutationPosAddr, 8 * 3 + 0xBFF9);

  // A copy keeps its own addresses (unset here, the motor number copied)
  // and takes the compensation of its own letter: r serves as X.
  const mc_axis_config_t& copy = c.axes[1];
  EXPECT_EQ(copy.name, 'r');
  EXPECT_EQ(copy.progRate.full, 20000u);
  EXPECT_EQ(copy.motorNum, 2);
  EXPECT_EQ(copy.commandOutputAddress, MC_ADDRESS_UNSET);
  EXPECT_EQ(copy.commutationPosAddr, MC_COMMUTATION_ADDR_UNSET);
  EXPECT_EQ(copy.axisComp, "xcomp.txt");
  EXPECT_EQ(copy.gains[MC_FAST], x.gains[MC_FAST]);
  EXPECT_EQ(copy.deadbandSize, 17);  // 16.64 rounds up
  EXPECT_EQ(copy.travel[0], 10);
  EXPECT_EQ(copy.travel[1], -50);
  EXPECT_EQ(copy.joystick, 4);

  // Groups are numbered by their first axis; undefined axes share one.
  EXPECT_EQ(c.axes[0].axisGroup, 1);
  EXPECT_EQ(c.axes[2].axisGroup, 1);
  EXPECT_EQ(c.axes[1].axisGroup, 2);
  EXPECT_EQ(c.axes[3].axisGroup, 4);
  EXPECT_EQ(c.axes[7].axisGroup, 4);

  EXPECT_EQ(c.encTable[0].word[0], 0x80C000);
  EXPECT_EQ(c.encTable[1].type, MC_ENC_PARALLEL_POS);
  EXPECT_EQ(c.encTable[1].words, 2);
  EXPECT_EQ(c.encTable[1].word[0], 0x601234);
  EXPECT_EQ(c.encTable[1].word[1], 0xFFF);
  EXPECT_EQ(c.encTable[2].type, MC_ENC_NONE);

  // The blank line ended the file.
  EXPECT_EQ(c.axes[3].defined, 0);
}

TEST(McConfig, EncoderWordsKeepTheirLow24Bits) {
  const Read r = read_text(
      "AXIS 0\n"
      "ENC_TABLE INTEGRATED_ANALOG BIAS -1 SIGNED 1 SIZE 99\n"
      "ENC_TABLE ADC_REGISTER SUM 1 ADDR 0\n"
      "ENC_TABLE FILTERED_PARALLEL_POS Y ADDR 017 SIZE 24 FILTER 0xFFFFFF SHIFT 1\n");
  ASSERT_EQ(r.rc, 0) << r.log;
  const mc_enc_entry_t* e = r.cfg.encTable;
  EXPECT_EQ(e[0].word[0], 0x50C006 | 0x80000);
  EXPECT_EQ(e[0].word[1], 0xFFFF00);
  EXPECT_EQ(e[1].word[0], 0x110000);  // summed, the address in the low 16 bits replaced
  EXPECT_EQ(e[2].word[0], 0x38000F);
  EXPECT_EQ(e[2].word[1], 0xFFFFFF);  // shifted: all 24 bits stay
  EXPECT_EQ(e[2].word[2], 0xFFFFFF);
}

TEST(McConfig, LongLinesCountOnceAndKeepTheirStart) {
  const std::string tail(600, 'x');
  const Read r = read_text("AXIS 0\nHOME_LOC 12 " + tail + "\nSPEED 1\n");
  EXPECT_EQ(r.rc, ERR_CORRUPT_DATA_FILE);
  EXPECT_EQ(r.cfg.axes[0].homeLoc, 12u);
  EXPECT_EQ(r.log, at_line("ERR_CORRUPT_DATA_FILE", 3));
}

// Reads by path from the current calibration slot, restored afterwards.
class McConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_slot_ = sb_current_slot();
    ASSERT_EQ(sb_set_current_slot(3), 0);
    sb_resetCal(&sysInfo[3]);
    u_dirs_reset();
  }
  void TearDown() override {
    sb_resetCal(&sysInfo[3]);
    sysInfo[3].calFilePath.clear();
    sb_set_current_slot(saved_slot_);
    u_dirs_reset();
  }
  TempDir dir;
  ScopedEnv config_dir{"FB_CONFIG_DIR", dir.path().string().c_str()};
  int saved_slot_ = 0;
};

TEST_F(McConfigFile, CalibrationIsReadFirstWhenTheSlotIsEmpty) {
  const std::string cal = felbrin::test::read_file(std::filesystem::path(FELBRIN_SOURCE_DIR) /
                                                   "examples/calibration/sable-birch3.cal");
  felbrin::test::write_file(dir.path() / u_host_file_name(sysInfo[3].fileSelector), cal);
  felbrin::test::write_file(dir.path() / "motion.cfg", "AXIS 0\nAXIS 1\n");
  sysInfo[3].calFilePath.clear();
  mc_config_t c;
  mc_config_defaults(&c);
  LogCapture log;
  ASSERT_EQ(mc_read_config(felbrin::test::marked(dir.path() / "motion.cfg").c_str(), &c), 0) << log.str();
  EXPECT_FALSE(sysInfo[3].calFilePath.empty());
  EXPECT_EQ(c.axes[0].gains[MC_SLOW], (mc_gains_t{100, -20, 15050, 4, 1, 6, 0.5f, -0.25f, 1, 2}));
  EXPECT_EQ(c.axes[0].axisComp, "xcomp.txt");
  EXPECT_EQ(c.axes[1].gains[MC_SLOW], (mc_gains_t{5, 6, 7, 8, 1, 9, -0.1f, -0.2f, -0.3f, -0.4f}));
}

TEST_F(McConfigFile, CalibrationFailureIsReturned) {
  felbrin::test::write_file(dir.path() / "motion.cfg", "AXIS 0\n");
  sysInfo[3].calFilePath.clear();
  mc_config_t c;
  mc_config_defaults(&c);
  LogCapture log;
  EXPECT_EQ(mc_read_config(dir.file("motion.cfg").c_str(), &c), ERR_CANT_READ_FILE);
  EXPECT_EQ(c.axes[0].defined, 0);
}

TEST_F(McConfigFile, MissingFileIsLogged) {
  sysInfo[3].calFilePath = "read before";
  mc_config_t c;
  LogCapture log;
  const std::string path = dir.file("none.cfg");
  EXPECT_EQ(mc_read_config(path.c_str(), &c), ERR_CANT_OPEN_FILE);
  EXPECT_EQ(log.str(), "-***- ERROR: Can't open file " + path + " -***-\n");
}

}  // namespace
