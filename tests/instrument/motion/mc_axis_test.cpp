// The axis layer against a recording driver: which entries an operation
// calls with which arguments, what it refuses before calling any, and how
// it reads the statuses a driver answers. Also the set-up path of the PMAC
// controller, which ends at its missing communication library.
#include "instrument/motion/mc_axis.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/record/sys_info.h"
#include "instrument/motion/mc_pmac.h"
#include "instrument/serial/device_table.h"
#include "instrument/serial/serial_port.h"
#include "sim/memory_serial.h"
#include "sim/motion_controller.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"
#include "tests/instrument/motion/mc_entries.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using Strings = std::vector<std::string>;

// Records every call as text; statuses come from a script, one answer of
// all eight axes per call, the last repeated.
class RecordingDriver final : public McDriver {
 public:
  Strings calls;
  std::deque<std::vector<int32_t>> statuses;
  int32_t error_value = 0;
  int32_t controller_status = 2;
  std::map<std::string, int> fail;  // entry name -> error to answer

  int answer(const std::string& call, const char* entry) {
    calls.push_back(call);
    auto it = fail.find(entry);
    return it != fail.end() ? it->second : 0;
  }
  int move(mc_ctrl_t&, int axis, double value) override {
    char text[64];
    std::snprintf(text, sizeof text, "move %d %.6f", axis, value);
    return answer(text, "move");
  }
  int stop(mc_ctrl_t&, int axis) override { return answer("stop " + std::to_string(axis), "stop"); }
  int delay_motion(mc_ctrl_t&, int start) override {
    return answer("delay " + std::to_string(start), "delay");
  }
  int cancel_delayed_motion(mc_ctrl_t&) override { return answer("cancel", "cancel"); }
  int get_status(mc_ctrl_t&, int axis, int32_t values[MC_AXES]) override {
    if (axis == MC_CONTROLLER) {
      values[0] = controller_status;
      return 0;
    }
    const std::vector<int32_t>& now = statuses.front();
    std::copy(now.begin(), now.end(), values);
    if (statuses.size() > 1) statuses.pop_front();
    return 0;
  }
  int get_error(mc_ctrl_t&, int, int32_t values[MC_AXES]) override {
    values[0] = error_value;
    return 0;
  }
  int get_positions(mc_ctrl_t&, int axis, int32_t counts[MC_AXES]) override {
    calls.push_back("positions " + std::to_string(axis));
    for (int i = 0; i < MC_AXES; ++i) counts[i] = 1000 * (i + 1);
    if (axis != MC_ALL_AXES) counts[0] = 1000 * (axis + 1);
    return 0;
  }
  int z_home(mc_ctrl_t&, int32_t stage) override {
    return answer("z_home " + std::to_string(stage), "z_home");
  }
  int find_home(mc_ctrl_t&, int axis) override {
    return answer("find_home " + std::to_string(axis), "find_home");
  }
  int kind(const mc_ctrl_t&) const override { return MC_KIND_SERIAL; }
  int close(mc_ctrl_t&) override { return answer("close", "close"); }
};

class McAxis : public ::testing::Test {
 protected:
  void SetUp() override {
    c = mc_ctrl_t{};
    auto d = std::make_unique<RecordingDriver>();
    driver = d.get();
    c.driver = std::move(d);
    c.kind = MC_KIND_SERIAL;
    c.fwMajor = 2;
    c.fwMinor = 3;
    c.pollPauseMs = 5;
    driver->statuses.push_back(std::vector<int32_t>(MC_AXES, 2));
    for (int i = 0; i < 3; ++i) {
      mc_axis_t& a = c.axes[i];
      a.active = 1;
      a.letter = "XYZ"[i];
      a.stepsPerRev = 200;
      a.encSteps = 10;
      a.pitch = 1;  // 2000 counts per inch
      a.homeType = 1;
      a.homed = 1;
      a.moveMode = MC_MODE_ABSOLUTE;
      a.travelMin = -1;
      a.travelMax = 1;
    }
    mc_find_letter_axes(c);
  }
  mc_ctrl_t c;
  RecordingDriver* driver = nullptr;
  LogCapture log;
  VirtualClock clock;
};

TEST(McDriverKind, DeviceNameSelectsTheDriver) {
  const std::pair<const char*, int32_t> cases[] = {
      {"FATHOMIXX", MC_KIND_WRAPPER}, {"fathomixx", MC_KIND_WRAPPER},
      {"FATHOMIXX2", MC_KIND_SERIAL}, {"PMAC0", MC_KIND_PMAC},
      {"pmac", MC_KIND_PMAC},         {"COM3", MC_KIND_SERIAL},
      {"", MC_KIND_SERIAL},
  };
  for (const auto& [device, kind] : cases) EXPECT_EQ(mc_driver_kind_for(device), kind) << device;
}

struct PointsCase {
  const char* name;
  std::function<void(mc_ctrl_t&)> setup;
  double value;  // for axis 0
  int result;
  Strings calls;
  std::string log;
};

TEST_F(McAxis, PointsChecksThenCollectsTheMoves) {
  const PointsCase cases[] = {
      {"absolute with offsets", [](mc_ctrl_t& k) { k.axes[0].homePosOffset = 0.5; k.axes[0].homeOffset = 0.25; },
       0.5, 0, {"delay 1", "move 0 1.250000", "delay 0"}, ""},
      {"relative: a distance carries no offsets",
       [](mc_ctrl_t& k) {
         k.axes[0].moveMode = MC_MODE_RELATIVE;
         k.axes[0].homePosOffset = 0.5;
         k.axes[0].homed = 0;
       },
       3.0, 0, {"delay 1", "move 0 3.000000", "delay 0"}, ""},
      {"inactive", [](mc_ctrl_t& k) { k.axes[0].active = 0; }, 0.5, ERR_MC_AXIS_INACTIVE, {},
       "mc_points: axis 0 (X) is inactive\n"},
      {"joystick", [](mc_ctrl_t& k) { k.axes[0].joyOn = 1; }, 0.5, ERR_MC_MISC, {},
       "mc_points: joystick is ON on axis 0 (X)\n"},
      {"no home", [](mc_ctrl_t& k) { k.axes[0].homed = 0; }, 0.5, ERR_MC_NO_HOME, {},
       "mc_points: no home on axis 0 (X)\n"},
      {"out of range", [](mc_ctrl_t&) {}, 1.5, ERR_MC_RANGE, {},
       "mc_points: axis 0 (X) coord=1.5 out of range [-1,1]\n"},
      {"just inside the slack", [](mc_ctrl_t&) {}, 1.0000004, 0,
       {"delay 1", "move 0 1.000000", "delay 0"}, ""},
      {"home type 5 has no range", [](mc_ctrl_t& k) { k.axes[0].homeType = 5; }, 7.0, 0,
       {"delay 1", "move 0 7.000000", "delay 0"}, ""},
      {"failed move cancels", [this](mc_ctrl_t&) { driver->fail["move"] = ERR_MC_NAK; }, 0.5,
       ERR_MC_NAK, {"delay 1", "move 0 0.500000", "cancel"}, "mc_points: ERR_MC_NAK\n"},
  };
  for (const PointsCase& pc : cases) {
    SCOPED_TRACE(pc.name);
    SetUp();
    log.clear();
    driver->fail.clear();
    pc.setup(c);
    double values[MC_AXES];
    std::fill(std::begin(values), std::end(values), MC_INVALID);
    values[0] = pc.value;
    EXPECT_EQ(mc_points(c, values), pc.result);
    EXPECT_EQ(driver->calls, pc.calls);
    EXPECT_EQ(log.str(), pc.log);
  }
}

TEST_F(McAxis, NothingToMoveSendsOnlyTheCollectBrackets) {
  double values[MC_AXES];
  std::fill(std::begin(values), std::end(values), MC_INVALID);
  EXPECT_EQ(mc_points(c, values), 0);
  EXPECT_EQ(driver->calls, (Strings{"delay 1", "delay 0"}));
}

TEST_F(McAxis, BacklashOvershootsThenComesBack) {
  c.axes[1].backlash = 254;  // microns: 0.01 inch
  c.axes[1].moving = 1;
  driver->statuses = {std::vector<int32_t>(MC_AXES, 1), std::vector<int32_t>(MC_AXES, 2)};
  EXPECT_EQ(mc_point(c, 1, 0.5), 0);
  EXPECT_EQ(driver->calls, (Strings{"delay 1", "move 1 0.510000", "delay 0", "move 1 0.500000"}));
  c.axes[1].moveMode = MC_MODE_RELATIVE;
  driver->calls.clear();
  EXPECT_EQ(mc_point(c, 1, 0.5), 0);
  EXPECT_EQ(driver->calls, (Strings{"delay 1", "move 1 0.510000", "delay 0", "move 1 -0.010000"}));
}

TEST_F(McAxis, CoordinateNamesTheAxisThatDoesNotExist) {
  EXPECT_EQ(mc_coordinate(c, 0, 0, 8, 0), ERR_MC_INVALID_AXIS);
  EXPECT_EQ(log.str(), "mc_coordinate: axis2=8 does not exist\n");
  EXPECT_TRUE(driver->calls.empty());
}

struct WaitCase {
  const char* name;
  std::vector<std::vector<int32_t>> statuses;  // axis 0's status per poll
  int32_t error;
  int result;
  int64_t waited_ms;
};

TEST_F(McAxis, WaitForStopReadsTheStatuses) {
  const WaitCase cases[] = {
      {"moves then stops", {{1}, {1}, {2}}, 0, 0, 10},
      {"stopped at once", {{2}}, 0, 0, 0},
      {"limit", {{1}, {3}}, 18, ERR_MC_AXIS_AT_LIMIT, 5},
      {"z stop", {{3}}, 19, ERR_MC_Z_AXIS_HIT_Z_STOP, 0},
      {"other error", {{5}}, 12, ERR_MC_MISC, 0},
  };
  for (const WaitCase& w : cases) {
    SCOPED_TRACE(w.name);
    SetUp();
    driver->statuses.clear();
    for (const auto& s : w.statuses) {
      std::vector<int32_t> all(MC_AXES, 2);
      all[0] = s[0];
      driver->statuses.push_back(all);
    }
    driver->error_value = w.error;
    c.axes[0].moving = 1;
    const int64_t start = clock.elapsed_ms();
    EXPECT_EQ(mc_wait_for_stop(c, 0), w.result);
    EXPECT_EQ(clock.elapsed_ms() - start, w.waited_ms);
  }
  EXPECT_EQ(c.axes[0].moving, 1);  // an error leaves the flag for the caller
}

int abort_now(void*) { return 1; }

TEST_F(McAxis, WaitForStopStopsEverythingOnAbort) {
  driver->statuses = {std::vector<int32_t>(MC_AXES, 1)};
  c.axes[2].moving = 1;
  const u_abort_hook saved = u_set_abort_fn(&abort_now);
  EXPECT_EQ(mc_wait_for_stop(c, MC_ALL_AXES), ERR_FELBRIN_ABORTED);
  u_set_abort_fn(saved);
  EXPECT_EQ(driver->calls, (Strings{"stop 8"}));
  EXPECT_EQ(clock.elapsed_ms(), 250);
  // The kill switch, whichever way the controller reports it.
  driver->controller_status = 7;
  EXPECT_EQ(mc_wait_for_stop(c, 2), ERR_MC_KILL_SWITCH);
  driver->controller_status = 21;
  EXPECT_EQ(mc_wait_for_stop(c, 2), ERR_MC_KILL_SWITCH);
}

TEST_F(McAxis, WaitRefusesAxesItCannotWatch) {
  c.axes[0].joyOn = 1;
  EXPECT_EQ(mc_wait_for_stop(c, 0), ERR_MC_MISC);
  EXPECT_EQ(mc_wait_for_stop(c, 5), ERR_MC_AXIS_INACTIVE);
  EXPECT_EQ(log.str(), "mc_wait_for_stop: joy on\nmc_wait_for_stop: axis inactive\n");
}

TEST_F(McAxis, PositionsAreReadOnlyWhenNotKnown) {
  double values[MC_AXES];
  EXPECT_EQ(mc_get_pos(c, 1, values), 0);
  EXPECT_EQ(values[1], 1.0);  // 2000 counts
  EXPECT_EQ(c.axes[1].target, 2000);
  EXPECT_EQ(mc_get_pos(c, 1, values), 0);
  EXPECT_EQ(driver->calls, (Strings{"positions 1"}));  // cached the second time
  c.axes[1].homed = 0;
  EXPECT_EQ(mc_get_pos(c, 1, values), ERR_MC_NO_HOME);
  EXPECT_EQ(values[1], MC_INVALID);
}

struct LetterCase {
  const char* name;
  int (*get)(mc_ctrl_t&, double*);
  std::function<void(mc_ctrl_t&)> setup;
  int result;
  std::string log;
};

TEST_F(McAxis, LetterGettersExplainWhatIsMissing) {
  const LetterCase cases[] = {
      {"x", mc_get_x_pos, [](mc_ctrl_t&) {}, 0, ""},
      {"no z", mc_get_z_pos, [](mc_ctrl_t& k) { k.zAxis = MC_NO_AXIS; }, ERR_MC_INVALID_AXIS,
       "mc_get_z_pos: Z axis does not exist\n"},
      {"y inactive", mc_get_y_pos, [](mc_ctrl_t& k) { k.axes[1].active = 0; },
       ERR_MC_AXIS_INACTIVE, "mc_get_y_pos: Y axis is inactive\n"},
      {"x no home", mc_get_x_pos, [](mc_ctrl_t& k) { k.axes[0].homed = 0; }, ERR_MC_NO_HOME,
       "mc_get_x_pos: X axis does not have a home position\n"},
      {"pitch inactive", mc_get_pitch_pos, [](mc_ctrl_t& k) { k.pAxis = 5; },
       ERR_MC_AXIS_INACTIVE, "mc_get_pitch_pos: Pitch axis is inactive\n"},
      {"roll", mc_get_roll_pos, [](mc_ctrl_t& k) { k.rAxis = 1; }, 0, ""},
      {"no roll", mc_get_roll_pos, [](mc_ctrl_t&) {}, ERR_MC_INVALID_AXIS,
       "mc_get_roll_pos: Roll axis does not exist\n"},
      {"roll no home", mc_get_roll_pos, [](mc_ctrl_t& k) { k.rAxis = 0; k.axes[0].homed = 0; },
       ERR_MC_NO_HOME, "mc_get_roll_pos: Roll axis does not have a home position\n"},
  };
  for (const LetterCase& l : cases) {
    SCOPED_TRACE(l.name);
    SetUp();
    log.clear();
    l.setup(c);
    double v = 0;
    EXPECT_EQ(l.get(c, &v), l.result);
    EXPECT_EQ(log.str(), l.log);
    if (l.result != 0) {
      EXPECT_EQ(v, MC_INVALID);
    }
  }
}

TEST_F(McAxis, HomeOffsetNeedsAFoundHome) {
  c.axes[2].homeType = 0;
  c.axes[1].homed = 0;
  EXPECT_EQ(mc_set_home_offset(c, 8, 1), ERR_MC_INVALID_AXIS);
  EXPECT_EQ(mc_set_home_offset(c, 4, 1), ERR_MC_AXIS_INACTIVE);
  EXPECT_EQ(mc_set_home_offset(c, 2, 1), ERR_MC_NO_HOME);
  EXPECT_EQ(mc_set_home_offset(c, 1, 1), ERR_MC_AXIS_NOT_HOMED);
  EXPECT_EQ(mc_set_home_offset(c, 0, 0.125), 0);
  EXPECT_EQ(c.axes[0].homeOffsetSet, 1);
  // Focus zero: the current Z position reads 0 afterwards.
  c.axes[2].homeType = 1;
  c.axes[2].target = 3000;
  EXPECT_EQ(mc_set_focus_zero(c), 0);
  double z = 1;
  EXPECT_EQ(mc_get_z_pos(c, &z), 0);
  EXPECT_EQ(z, 0);
}

// The system type decides how Z is homed: by the stage number, by the home
// search, or, when Z already has its home, by taking the focus zero here.
TEST_F(McAxis, SmartZHomeByTheSystemType) {
  struct Case {
    int32_t type;
    bool z_homed;
    Strings calls;
  } cases[] = {
      {3, false, {"find_home 2"}},  {4, false, {"z_home 77"}},   {7, true, {"z_home 77"}},
      {8, false, {"find_home 2"}},  {11, false, {"z_home 77"}},  {13, false, {"z_home 77"}},
      {14, true, {"positions 2"}},  {17, true, {"find_home 2"}}, {18, false, {"find_home 2"}},
      {19, false, {"z_home 77"}},   {23, false, {"z_home 77"}},  {24, false, {"find_home 2"}},
      {26, true, {"positions 2"}},  {27, false, {"z_home 77"}},  {35, false, {"z_home 77"}},
      {36, false, {"find_home 2"}},
  };
  sysInfo_t info;
  info.stageNumber = 77;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.type);
    SetUp();
    info.systemType = k.type;
    c.axes[2].homed = k.z_homed ? 1 : 0;
    EXPECT_EQ(mc_smart_z_home(&info, c), 0);
    EXPECT_EQ(driver->calls, k.calls);
    // Only the focus zero stores an offset.
    EXPECT_EQ(c.axes[2].homeOffsetSet, k.calls[0] == "positions 2" ? 1 : 0);
  }
  log.clear();
  EXPECT_EQ(mc_smart_z_home(nullptr, c), ERR_INVALID_PARAM);
  EXPECT_EQ(log.str(), "mc_smart_z_home: System info parameter is NULL\n");
  driver->fail["z_home"] = ERR_MC_CANT_FIND_Z_HOME;
  info.systemType = 5;
  log.clear();
  EXPECT_EQ(mc_smart_z_home(&info, c), ERR_MC_CANT_FIND_Z_HOME);
  EXPECT_EQ(log.str(), "mc_smart_z_home failed: ERR_MC_CANT_FIND_Z_HOME\n");
}

// Without a Z axis the home search must not be asked for "all axes", the
// number that stands in for a missing one.
TEST_F(McAxis, SmartZHomeWithoutAZAxisHomesNothing) {
  c.zAxis = MC_NO_AXIS;
  sysInfo_t info;
  for (int32_t type : {1, 17}) {
    SCOPED_TRACE(type);
    info.systemType = type;
    log.clear();
    EXPECT_EQ(mc_smart_z_home(&info, c), ERR_MC_INVALID_AXIS);
    EXPECT_EQ(driver->calls, Strings{});
    EXPECT_EQ(log.str(), "mc_smart_z_home failed: ERR_MC_INVALID_AXIS\n");
  }
}

TEST_F(McAxis, LettersLowestIndexWinsAndRStandsInForX) {
  for (mc_axis_t& a : c.axes) a.letter = 0;
  c.axes[3].letter = 'r';
  c.axes[4].letter = 'Z';
  c.axes[6].letter = 'Z';
  mc_find_letter_axes(c);
  EXPECT_EQ(c.xAxis, 3);
  EXPECT_EQ(c.zAxis, 4);
  c.axes[7].letter = 'X';
  mc_find_letter_axes(c);
  EXPECT_EQ(c.xAxis, 7);
}

// ---- drivers without a controller behind them

// Until a driver is chosen, every entry refuses and writes nothing.
TEST(McDriverTable, TheResetDriverRefusesEveryEntry) {
  mc_ctrl_t c;
  std::vector<int32_t> out;
  for (const mc_entries::Entry& e : mc_entries::all()) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(mc_entries::run(e, c, out), ERR_MC_NOT_AVAIL);
    EXPECT_EQ(out, std::vector<int32_t>(MC_AXES, mc_entries::kUntouched));
  }
  c.driver->event_pump(c);
  EXPECT_EQ(c.driver->kind(c), MC_KIND_NONE);
  EXPECT_EQ(c.driver->num_axes(c), MC_AXES);
}

// The PMAC driver never opens: what it would do on the controller fails as
// not opened without writing anything, and only the entries it leaves
// alone anyway answer success, with neutral values.
TEST(McDriverTable, ThePmacDriverClaimsNothingItCannotDo) {
  LogCapture log;
  mc_ctrl_t c;
  c.kind = MC_KIND_PMAC;
  c.driver = std::make_unique<PmacDriver>();
  const std::set<std::string> nothing_to_do = {"set_ss_velocity", "enable_joystick", "z_home",
                                               "find_home", "get_event", "align_view_indicator",
                                               "close"};
  std::vector<int32_t> out;
  for (const mc_entries::Entry& e : mc_entries::all()) {
    SCOPED_TRACE(e.name);
    const int got = mc_entries::run(e, c, out);
    if (std::string(e.name) == "open") {
      EXPECT_EQ(got, ERR_PMAC_NO_DLL);
      EXPECT_EQ(out[0], ERR_PMAC_NO_DLL);
      EXPECT_EQ(out[1], 1);
    } else if (nothing_to_do.count(e.name) != 0) {
      EXPECT_EQ(got, 0);
      EXPECT_EQ(out, mc_entries::neutral(e));
    } else {
      EXPECT_EQ(got, ERR_PMAC_DEVICE_NOT_OPENED);
      EXPECT_EQ(out, std::vector<int32_t>(MC_AXES, mc_entries::kUntouched));
    }
  }
  EXPECT_EQ(c.driver->kind(c), MC_KIND_PMAC);
  EXPECT_EQ(log.str(), "mc_open_comm_pmac() error opening PMAC0 err=342\n");
}

// ---- set-up

TEST(McSetup, MissingNamesAndThePmacControllersMissingLibrary) {
  LogCapture log;
  sysInfo_t info;
  EXPECT_EQ(mc_setup(&info), ERR_INVALID_PARAM);
  EXPECT_EQ(log.str(), "Missing motion controller config file or device file name\n");

  felbrin::test::TempDir dir;
  felbrin::test::write_file(dir.path() / "pmac.cfg", "AXIS 0\nNAME X\nGOT_AXIS 1\n");
  info.motionCtrl[0] = (dir.path() / "pmac.cfg").generic_string();
  info.motionCtrl[1] = "PMAC0";
  // The calibration counts as read, so the configuration read does not
  // look for one.
  const int slot = sb_current_slot();
  const std::string saved = sysInfo[slot].calFilePath;
  sysInfo[slot].calFilePath = "read";
  log.clear();
  EXPECT_EQ(mc_setup(&info), ERR_PMAC_NO_DLL);
  sysInfo[slot].calFilePath = saved;
  EXPECT_NE(log.str().find("mc_open_comm_pmac() error opening PMAC0 err=342\n"),
            std::string::npos)
      << log.str();
  EXPECT_NE(log.str().find("mc_init failed: ERR_PMAC_NO_DLL\n"), std::string::npos);
  EXPECT_TRUE(log.str().ends_with("mc_setup failed: ERR_PMAC_NO_DLL\n")) << log.str();
  EXPECT_FALSE(info.motionCtrlInfo);

  // A configuration file the reader refuses is the controller's
  // configuration error, before anything is opened.
  felbrin::test::write_file(dir.path() / "pmac.cfg", "AXIS 0\nNO_SUCH_WORD 1\n");
  sysInfo[slot].calFilePath = "read";
  EXPECT_EQ(mc_setup(&info), ERR_MC_CONFIG);
  sysInfo[slot].calFilePath = saved;
}

// The whole set-up over the serial driver and the simulated controller on
// the in-memory link, then a move waited for on the virtual clock.
TEST(McSetup, SerialControllerComesUpAndMoves) {
  felbrin::test::VirtualClock clock;
  LogCapture log;
  sim::MemorySerial backend;
  plat::SerialBackend* const saved_backend = sio_set_backend(&backend);
  sim::MemorySerialPort& peer = backend.add_port("COM9");
  sim::MemoryTransport transport{peer, "COM9"};
  sim::Script script;
  sim::MotionController model;
  sim::Runner runner{transport, model.framer(), script, model};
  peer.on_write([&runner] { runner.step(0); });
  peer.on_look([&runner] {
    runner.step(0);
    return runner.next_due();
  });
  ASSERT_EQ(dev_init_cntrl(1), 0);

  felbrin::test::TempDir dir;
  felbrin::test::write_file(dir.path() / "nova.cfg",
                            "AXIS 0\nCONFIG NOVA 1 0\nNAME X\nAXIS 2\nNAME Z\n");
  sysInfo_t info;
  info.motionCtrl[0] = (dir.path() / "nova.cfg").generic_string();
  info.motionCtrl[1] = "COM9";
  const int slot = sb_current_slot();
  const std::string saved = sysInfo[slot].calFilePath;
  sysInfo[slot].calFilePath = "read";
  const int setup = mc_setup(&info);
  sysInfo[slot].calFilePath = saved;
  ASSERT_EQ(setup, 0) << log.str();
  ASSERT_TRUE(info.motionCtrlInfo);
  mc_ctrl_t& c = *info.motionCtrlInfo;
  EXPECT_EQ(c.kind, MC_KIND_SERIAL);
  EXPECT_EQ(c.xAxis, 0);
  EXPECT_EQ(c.zAxis, 2);
  EXPECT_EQ(c.axes[0].moveMode, MC_MODE_RELATIVE);
  EXPECT_TRUE(dev_is_registered(c.port.handle));
  EXPECT_NE(log.str().find("Motion Controller Firmware version: major = 2\tminor = 3\n"),
            std::string::npos)
      << log.str();
  // A calibration re-read keeps the live controller and its open line.
  EXPECT_EQ(sb_resetCal(&info), &info);
  ASSERT_EQ(info.motionCtrlInfo.get(), &c);
  EXPECT_TRUE(dev_is_registered(c.port.handle));

  // A relative move needs no home but the joysticks off; the wait ends
  // when the simulated axis arrives, in virtual time.
  c.axes[0].stepsPerRev = 200;
  c.axes[0].encSteps = 10;
  c.axes[0].pitch = 1;
  ASSERT_EQ(mc_push_joystick(c, 0), 0) << log.str();  // joysticks off for the move
  EXPECT_EQ(mc_point(c, 0, 0.5), 0) << log.str();
  EXPECT_EQ(model.last("MV"), "MV 0 1000");
  EXPECT_EQ(mc_wait_for_stop(c, 0), 0) << log.str();
  EXPECT_EQ(model.axis(0).position, 1000);

  mc_close(c);
  EXPECT_FALSE(dev_is_registered(c.port.handle));
  info.motionCtrlInfo.reset();
  dev_close_cntrl();
  sio_set_backend(saved_backend);
}

}  // namespace
