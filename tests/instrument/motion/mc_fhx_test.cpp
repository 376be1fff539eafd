// The wrapper driver against the stand-in wrapper library: binding by export
// list, result codes, open and close, operations, and the stand-in's own
// threads meeting the CAN event queues and the device table's worker.
#include "instrument/motion/mc_fhx.h"

#include <gtest/gtest.h>

#include "instrument/serial/device_table.h"

#include "instrument/motion/mc_axis.h"

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/record/sys_info.h"
#include "instrument/can/can_events.h"
#include "instrument/motion/mc_fhx_internal.h"
#include "instrument/motion/mc_mwi.h"
#include "platform/host_platform.h"
#include "platform/platform.h"
#include "sim/motion_wrapper/mwisim.h"
#include "tests/instrument/motion/mc_entries.h"
#include "tests/support/eventually.h"
#include "tests/support/loaded_library.h"
#include "tests/support/log_capture.h"
#include "tests/support/soak.h"

namespace {

using felbrin::test::LoadedLibrary;
using felbrin::test::LogCapture;

using felbrin::test::beside_program;

// The stand-in's control functions, from the same loaded module the
// binding uses.
struct Sim {
  explicit Sim(const std::string& path) : lib(path) {}
  template <class Fn>
  Fn* fn(const char* name) const {
    return reinterpret_cast<Fn*>(plat::host::find_symbol(lib.handle(), name));
  }
  void reset() const { fn<decltype(mwisim_reset)>("mwisim_reset")(); }
  void fail_next(const char* f, int code, int n) const {
    fn<decltype(mwisim_fail_next)>("mwisim_fail_next")(f, code, n);
  }
  std::vector<std::string> calls() const {
    std::vector<std::string> out(static_cast<std::size_t>(
        fn<decltype(mwisim_call_log_count)>("mwisim_call_log_count")()));
    char line[96];
    for (std::size_t i = 0; i < out.size(); ++i) {
      fn<decltype(mwisim_call_log_line)>("mwisim_call_log_line")(static_cast<int32_t>(i), line,
                                                                 sizeof line);
      out[i] = line;
    }
    fn<decltype(mwisim_clear_call_log)>("mwisim_clear_call_log")();
    return out;
  }
  LoadedLibrary lib;
};

class McFhx : public ::testing::Test {
 protected:
  void SetUp() override {
    felbrin::motion::unbind_wrapper();
    felbrin::motion::set_wrapper_library(full_);
    sim_.reset();
    c_.kind = MC_KIND_WRAPPER;
    c_.driver = std::make_unique<WrapperDriver>();
  }
  void TearDown() override {
    mc_close_comm_fhx(c_);
    sim_.reset();  // stops its thread before the library may go
    felbrin::motion::unbind_wrapper();
    felbrin::motion::set_wrapper_library("");
  }
  int open() { return c_.driver->open(c_, "stage.cfg", 0, 0, nullptr, nullptr); }
  void open_configured() {
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(mc_read_config_fhx(c_), 0);
    c_.zAxis = 2;
    sim_.calls();
    log_.clear();
  }

  const std::string full_ = beside_program("felbrin_testmwi_full");
  Sim sim_{full_};
  mc_ctrl_t c_;
  LogCapture log_;
};

TEST_F(McFhx, ExportListsDecideTheBinding) {
  const auto path = [](const char* base) { return beside_program(base); };
  struct Case {
    std::string library;
    int result;
    std::string log;
  } cases[] = {
      {path("felbrin_testmwi_full"), 0, "  Effective motion config file: stage.cfg\n"},
      {path("felbrin_testmwi_optional"), 0,
       "Warning: Motion DLL does not support CAN event notification pass-through.\n"
       "         Fathomix may not behave as expected if CAN events are used.\n"
       "Info: Motion DLL does not support axis with external closed loop or DMI position "
       "instrument\n"
       "Info: Motion DLL does not support setting the align/view indicator on the pendent\n"
       "Info: Motion DLL does not support getting the effective motion configuration file\n"
       "  Effective motion config file: Unknown - Look in SystemInfo.config\n"},
      {path("felbrin_testmwi_nopos"), ERR_FHX_FUNCTION_MAP,
       "Error: missing GetPosition_MWI or (GetActualPosition_MWI and GetCommandedPosition_MWI) "
       "functions from " + path("felbrin_testmwi_nopos") + ".\n"},
      {path("felbrin_testmwi_norequired"), ERR_FHX_FUNCTION_MAP,
       "Error: 127 in loading GetLabel_MWI from " + path("felbrin_testmwi_norequired") + ".\n" +
           "Error: 127 in loading StopAxis_MWI from " + path("felbrin_testmwi_norequired") + ".\n"},
      {"felbrin_no_such_wrapper", ERR_FHX_NO_DLL,
       "Error: 126 in loading Fathomix 10 Motion library felbrin_no_such_wrapper.\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.library);
    felbrin::motion::unbind_wrapper();
    felbrin::motion::set_wrapper_library(k.library);
    log_.clear();
    int result = -1, done = 0;
    EXPECT_EQ(mc_open_comm_fhx(c_, "stage.cfg", 0, 0, &result, &done), k.result);
    EXPECT_EQ(result, k.result);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(log_.str(), k.log);
    EXPECT_EQ(mc_fhx_bound(), k.result == 0);
    mc_close_comm_fhx(c_);
  }
}

TEST_F(McFhx, TheRealNameIsFoundBesideTheProgram) {
  felbrin::motion::set_wrapper_library("");
  EXPECT_TRUE(std::string(felbrin::motion::wrapper_library()).find("MotionWrapperInterface") !=
              std::string::npos);
  EXPECT_EQ(open(), 0);
  EXPECT_NE(c_.port.handle, SIO_INVALID_HANDLE);
}

TEST_F(McFhx, WrapperCodesBecomeErrorCodes) {
  const int cases[][2] = {{0, 0},       {12, 253},  {17, 279},  {18, 252},  {19, 252},
                          {21, 273},    {22, 272},  {256, 264}, {267, 254}, {268, 265},
                          {270, 265},   {271, 277}, {274, 277}, {275, 264}, {276, 76},
                          {277, 268},   {278, 267}, {279, 266}, {1, 275},   {272, 275},
                          {-1, 275}};
  for (const auto& k : cases) EXPECT_EQ(mc_fhx_error(k[0]), k[1]) << k[0];
}

TEST_F(McFhx, FailedOpensKeepTheirCauseOrBecomeCommunicationErrors) {
  const int cases[][3] = {// wrapper code, result, logged code
                          {21, ERR_MC_KILL_SWITCH_DURING_INIT, ERR_MC_KILL_SWITCH},
                          {279, ERR_MC_CONFIG_CORRUPT, ERR_MC_CONFIG_CORRUPT},
                          {278, ERR_MC_CONFIG_MISSING, ERR_MC_CONFIG_MISSING},
                          {277, ERR_MC_CONFIRM_INIT, ERR_MC_CONFIRM_INIT},
                          {12, ERR_MC_COMM, ERR_MC_AXIS_BUSY}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k[0]);
    sim_.fail_next("OpenComm_MWI", k[0], 1);
    log_.clear();
    EXPECT_EQ(open(), k[1]);
    EXPECT_EQ(log_.str(), "mc_open_comm_fhx() error opening stage.cfg err=" + std::to_string(k[2]) +
                              "\nmc_open_comm_fhx() error message\nOpenComm_MWI: injected failure\n");
    EXPECT_EQ(c_.port.handle, SIO_INVALID_HANDLE);
  }
}

TEST_F(McFhx, TheInterfaceIsInitialisedAgainAfterEachClose) {
  const auto inits = sim_.fn<decltype(mwisim_init_count)>("mwisim_init_count");
  ASSERT_EQ(open(), 0);
  EXPECT_EQ(inits(), 1);
  ASSERT_EQ(open(), 0);  // closes first
  EXPECT_EQ(inits(), 2);
  ASSERT_EQ(mc_close_comm_fhx(c_), 0);
  EXPECT_EQ(mc_close_comm_fhx(c_), 0);
  EXPECT_EQ(open(), 0);
  EXPECT_EQ(inits(), 3);
  c_.kind = MC_KIND_SERIAL;
  EXPECT_EQ(mc_close_comm_fhx(c_), ERR_MC_WRONG_MC);
  c_.kind = MC_KIND_WRAPPER;
}

TEST_F(McFhx, TheBridgeAddressIsPassedOnlyWhenThereIsABridgeRecord) {
  const auto last_open = sim_.fn<decltype(mwisim_last_open)>("mwisim_last_open");
  uint8_t mac[6] = {};
  int32_t has_mac = -1;
  sysInfo_t info;
  c_.info = &info;
  ASSERT_EQ(open(), 0);
  last_open(nullptr, 0, mac, &has_mac, nullptr, nullptr);
  EXPECT_EQ(has_mac, 0);
  info.canInfo = felbrin::make_hooked<can_info_t>();
  ASSERT_TRUE(info.canInfo);
  const uint8_t wanted[6] = {0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  std::copy(std::begin(wanted), std::end(wanted), info.canInfo->mac);
  ASSERT_EQ(open(), 0);
  last_open(nullptr, 0, mac, &has_mac, nullptr, nullptr);
  EXPECT_EQ(has_mac, 1);
  EXPECT_TRUE(std::equal(std::begin(mac), std::end(mac), std::begin(wanted)));
  mc_close_comm_fhx(c_);
  c_.info = nullptr;
}

TEST_F(McFhx, OperationsWithNothingBoundLogAnEmptyErrorText) {
  int32_t status[MC_AXES] = {};
  EXPECT_EQ(mc_stop_fhx(c_, MC_ALL_AXES), ERR_MC_NOT_AVAIL);
  EXPECT_EQ(mc_get_status_fhx(c_, MC_CONTROLLER, status), ERR_MC_NOT_AVAIL);
  EXPECT_EQ(log_.str(),
            "mc_stop_fhx failed: ERR_MC_NOT_AVAIL; \nmc_get_status_fhx failed: ERR_MC_NOT_AVAIL; \n");
}

TEST_F(McFhx, ReadsTheAxesFromTheWrapper) {
  open_configured();
  EXPECT_EQ(c_.axes[0].letter, 'X');
  EXPECT_EQ(c_.axes[2].letter, 'Z');
  EXPECT_EQ(c_.axes[2].pitch, 50800);
  EXPECT_EQ(c_.axes[1].travelMin, -4);
  EXPECT_EQ(c_.axes[3].active, 0);
}

TEST_F(McFhx, OperationsCallTheirWrapperFunctions) {
  open_configured();
  int32_t values[MC_AXES] = {};
  int yes = -1;
  struct Case {
    const char* name;
    std::function<int()> op;
    int result;
    std::vector<std::string> calls;
  } cases[] = {
      {"stop all", [&] { return mc_stop_fhx(c_, MC_ALL_AXES); }, 0, {"Stop_MWI"}},
      {"stop one", [&] { return mc_stop_fhx(c_, 2); }, 0, {"StopAxis_MWI 2"}},
      {"axis 7", [&] { return mc_stop_fhx(c_, 7); }, ERR_MC_INVALID_AXIS, {"GetErrorString_MWI"}},
      {"inactive, the last axis", [&] { return mc_stop_fhx(c_, 5); }, ERR_MC_AXIS_INACTIVE, {"GetErrorString_MWI"}},
      {"accel, each axis",
       [&] { return mc_set_accel_fhx(c_, 6, 500); },
       0,
       {"SetAcceleration_MWI 0", "SetAcceleration_MWI 1", "SetAcceleration_MWI 2"}},
      {"config without a call", [&] { return mc_get_axis_config_fhx(c_, 1, values); }, 0, {}},
      {"z home", [&] { return mc_z_home_fhx(c_, 0); }, 0, {"FindHome_MWI 2"}},
      {"closed loop without the flag",
       [&] { return mc_get_ext_closed_loop_fhx(c_, 0, &yes); },
       0,
       {"GetExternalClosedLoopEnabled_MWI 0"}},
      {"all statuses",
       [&] { return mc_get_status_fhx(c_, MC_ALL_AXES, values); },
       0,
       {"GetAxisStatus_MWI 0", "GetAxisStatus_MWI 1", "GetAxisStatus_MWI 2"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(k.op(), k.result);
    EXPECT_EQ(sim_.calls(), k.calls);
  }
}

TEST_F(McFhx, FailuresLogTheWrappersText) {
  open_configured();
  sim_.fail_next("Move_MWI", 12, 1);
  EXPECT_EQ(mc_move_fhx(c_, 0, 1.0), ERR_MC_AXIS_BUSY);
  EXPECT_EQ(mc_move_fhx(c_, 0, 1.0), 0);
  c_.axes[1].joyOn = 1;
  EXPECT_EQ(mc_move_fhx(c_, 1, 1.0), ERR_MC_JOYSTICK_ENABLE);
  sim_.fn<decltype(mwisim_set_joystick_stuck)>("mwisim_set_joystick_stuck")(1, 1);
  EXPECT_EQ(mc_enable_joystick_fhx(c_, MC_ALL_AXES), ERR_MC_JOYSTICK_ENABLE);
  EXPECT_EQ(log_.str(),
            "mc_move_fhx failed: ERR_MC_AXIS_BUSY; Move_MWI: injected failure\n"
            "mc_move_fhx failed: joy_on\n"
            "Axis Y failed to enable joystick\n");
}

// The stand-in's clock for the tests that move axes: still until a test
// moves it on.
std::atomic<int64_t> g_wrapper_now{0};
int64_t wrapper_now() { return g_wrapper_now.load(); }

// Each entry the wrapper fills hands on the wrapper's failure with its text,
// and on success what the wrapper answered, for the axis it was given.
TEST_F(McFhx, EntriesForwardToTheWrapperAndBack) {
  open_configured();
  sim_.fn<decltype(mwisim_set_clock)>("mwisim_set_clock")(&wrapper_now);
  const auto position = [&](int axis) {
    int32_t v = 0;
    sim_.fn<decltype(GetPosition_MWI)>("GetPosition_MWI")(c_.port.handle, axis, &v);
    return v;
  };
  // Axes 0 and 1 somewhere of their own, so that a swapped axis shows.
  ASSERT_EQ(mc_move_fhx(c_, 0, 0.25), 0);
  ASSERT_EQ(mc_move_fhx(c_, 1, -0.5), 0);
  g_wrapper_now += 1000000000;
  const int32_t at0 = position(0), at1 = position(1);
  ASSERT_NE(at0, at1);
  sim_.calls();
  log_.clear();

  using Op = std::function<int(mc_ctrl_t&, int32_t*)>;
  const int axes_2_0[] = {2, 0};
  struct Case {
    const char* op;      // the name its failure is logged under
    const char* failed;  // the wrapper function made to fail
    Op call;
    std::vector<std::string> calls;
    std::vector<int32_t> out;  // the first outputs on success
  } cases[] = {
      {"mc_set_accel_fhx", "SetAcceleration_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->set_accel(m, 1, 500); }, {"SetAcceleration_MWI 1"}, {}},
      {"mc_set_velocity_fhx", "SetVelocity_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->set_velocity(m, MC_ALL_AXES, 300); }, {"SetVelocity_MWI 0", "SetVelocity_MWI 1", "SetVelocity_MWI 2"}, {}},
      {"mc_set_mode_fhx", "SetMoveMode_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->set_mode(m, 2, MC_MODE_ABSOLUTE); }, {"SetMoveMode_MWI 2"}, {}},
      {"mc_stop_fhx", "StopAxis_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->stop(m, 1); }, {"StopAxis_MWI 1"}, {}},
      {"mc_get_status_fhx", "GetAxisStatus_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->get_status(m, 1, o); }, {"GetAxisStatus_MWI 1"}, {2}},
      {"mc_get_error_fhx", "GetError_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->get_error(m, MC_CONTROLLER, o); }, {"GetError_MWI"}, {0}},
      {"mc_get_error_fhx", "GetAxisError_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->get_error(m, 0, o); }, {"GetAxisError_MWI 0"}, {0}},
      {"mc_get_ipos_fhx", "GetPosition_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->get_positions(m, 1, o); }, {"GetPosition_MWI 1"}, {at1}},
      {"mc_get_ipos_fhx", "GetPosition_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->get_positions(m, MC_ALL_AXES, o); }, {"GetPosition_MWI 0", "GetPosition_MWI 1", "GetPosition_MWI 2"}, {at0, at1, 0, MC_POS_UNKNOWN}},
      {"mc_home_state_fhx", "GetHomeState_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->home_state(m, 0); }, {"GetHomeState_MWI 0"}, {}},
      {"mc_axis_pos_report_fhx", "SetPositionReport_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->axis_pos_report(m, MC_ALL_AXES, 1); }, {"SetPositionReport_MWI 0", "SetPositionReport_MWI 1", "SetPositionReport_MWI 2"}, {}},
      {"mc_enable_pos_report_fhx", "EnablePositionReports_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->enable_pos_report(m); }, {"EnablePositionReports_MWI"}, {}},
      {"mc_disable_pos_report_fhx", "DisablePositionReports_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->disable_pos_report(m); }, {"DisablePositionReports_MWI"}, {}},
      {"mc_set_ext_closed_loop_fhx", "SetExternalClosedLoopEnabled_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->set_ext_closed_loop(m, 1, 1); }, {"SetExternalClosedLoopEnabled_MWI 1"}, {}},
      {"mc_get_ext_closed_loop_fhx", "GetExternalClosedLoopEnabled_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->get_ext_closed_loop(m, 1, o); }, {"GetExternalClosedLoopEnabled_MWI 1"}, {1}},
      {"mc_supports_ext_closed_loop_fhx", "GetSupportsExternalClosedLoop_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->supports_ext_closed_loop(m, 2, o); }, {"GetSupportsExternalClosedLoop_MWI 2"}, {0}},
      {"mc_amplifier_fault_fhx", "GetExternalClosedLoopAmplifierFault_MWI", [](mc_ctrl_t& m, int32_t* o) { return m.driver->amplifier_fault(m, 0, o); }, {"GetExternalClosedLoopAmplifierFault_MWI 0"}, {0}},
      {"mc_set_align_view_indicator_fhx", "SetAlignViewIndicator_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->align_view_indicator(m, 1); }, {"SetAlignViewIndicator_MWI"}, {}},
      {"mc_get_config_fhx", "GetConfigurationFile_MWI", [](mc_ctrl_t& m, int32_t* o) {
         std::string name;
         uint16_t numbers[2] = {9, 9};
         const int err = m.driver->get_config(m, &name, numbers);
         if (err == 0) o[0] = name == "stage.cfg" && numbers[0] == 0 && numbers[1] == 0 ? 1 : 0;
         return err;
       }, {"GetConfigurationFile_MWI"}, {1}},
      {"mc_disable_joystick_fhx", "DisableJoystick_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->disable_joystick(m, MC_ALL_AXES); }, {"DisableJoystick_MWI", "GetIsJoystickEnabled_MWI 0", "GetIsJoystickEnabled_MWI 1", "GetIsJoystickEnabled_MWI 2"}, {}},
      {"mc_enable_joystick_fhx", "EnableAxisJoystick_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->enable_joystick(m, 1); }, {"EnableAxisJoystick_MWI 1", "GetIsJoystickEnabled_MWI 1"}, {}},
      {"mc_find_home_fhx", "FindHome_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->z_home(m, 680000); }, {"FindHome_MWI 2"}, {}},
      {"mc_find_home_fhx", "FindHome_MWI", [&](mc_ctrl_t& m, int32_t*) {
         g_wrapper_now += 1000000000;  // the last search is over
         return m.driver->home_axes(m, axes_2_0, 2);
       }, {"FindHome_MWI 2", "FindHome_MWI 0"}, {}},
      {"mc_find_home_fhx", "FindHome_MWI", [](mc_ctrl_t& m, int32_t*) {
         g_wrapper_now += 1000000000;
         return m.driver->find_home(m, 1);
       }, {"FindHome_MWI 1"}, {}},
      {"mc_move_fhx", "Move_MWI", [](mc_ctrl_t& m, int32_t*) { return m.driver->move(m, 2, 0.5); }, {"Move_MWI 2"}, {}},
  };
  std::vector<int32_t> out(MC_AXES);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.calls.front());
    sim_.fail_next(k.failed, 12, 1);
    std::fill(out.begin(), out.end(), mc_entries::kUntouched);
    EXPECT_EQ(k.call(c_, out.data()), ERR_MC_AXIS_BUSY);
    EXPECT_EQ(log_.str(), std::string(k.op) + " failed: ERR_MC_AXIS_BUSY; " + k.failed +
                              ": injected failure\n");
    // Nothing the wrapper did not answer: at most the marker of a value not known.
    for (int32_t v : out) EXPECT_TRUE(v == mc_entries::kUntouched || v == MC_POS_UNKNOWN) << v;
    sim_.calls();
    log_.clear();
    EXPECT_EQ(k.call(c_, out.data()), 0);
    EXPECT_EQ(sim_.calls(), k.calls);
    EXPECT_EQ(std::vector<int32_t>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(k.out.size())), k.out);
    EXPECT_EQ(log_.str(), "");
  }
  // What the record keeps of the successes.
  EXPECT_EQ(c_.axes[1].accel, 500);
  EXPECT_EQ(c_.axes[0].accel, 0);
  EXPECT_EQ(c_.axes[2].velocity, 300);
  EXPECT_EQ(c_.axes[2].moveMode, MC_MODE_ABSOLUTE);
  EXPECT_EQ(c_.axes[0].posReport, 1);
  EXPECT_EQ(c_.posReport, 0);
  EXPECT_EQ(c_.joyMask, 0x02);
  EXPECT_EQ(c_.axes[0].moving, 1);
  EXPECT_EQ(c_.axes[2].target, 25400);  // absolute: 0.5 at 50800 counts
  int32_t config = 0;
  EXPECT_EQ(c_.driver->get_axis_config(c_, 1, &config), 0);
  EXPECT_EQ(config, 1);
  EXPECT_EQ(c_.driver->kind(c_), MC_KIND_WRAPPER);
  c_.fwMajor = 3;
  EXPECT_EQ(c_.driver->get_revision(c_), 0);
  EXPECT_EQ(log_.str(), "Motion Controller Firmware version: major = 3\tminor = 0\n");
  EXPECT_EQ(sim_.calls(), std::vector<std::string>{});
  sim_.fn<decltype(mwisim_set_clock)>("mwisim_set_clock")(nullptr);
}

// Entries the wrapper has nothing for answer success with neutral values
// and never reach it.
TEST_F(McFhx, EntriesWithoutAWrapperFunctionCallNothing) {
  open_configured();
  const std::set<std::string> filled = {
      "get_axis_config", "set_accel", "set_velocity", "set_mode", "enable_joystick",
      "disable_joystick", "enable_pos_report", "disable_pos_report", "move", "stop",
      "get_status", "get_error", "get_positions", "get_revision", "z_home", "find_home",
      "get_config", "home_state", "axis_pos_report", "home_axes", "supports_ext_closed_loop",
      "get_ext_closed_loop", "set_ext_closed_loop", "amplifier_fault", "align_view_indicator",
      "close", "open"};
  std::vector<int32_t> out;
  for (const mc_entries::Entry& e : mc_entries::all()) {
    if (filled.count(e.name) != 0) continue;
    SCOPED_TRACE(e.name);
    EXPECT_EQ(mc_entries::run(e, c_, out), 0);
    EXPECT_EQ(out, mc_entries::neutral(e));
    EXPECT_EQ(sim_.calls(), std::vector<std::string>{});
  }
  EXPECT_EQ(log_.str(), "");
  EXPECT_NE(c_.port.handle, SIO_INVALID_HANDLE);  // recovery leaves the line open
}

TEST_F(McFhx, OptionalFunctionsMissingAreReportedByTheirEntries) {
  felbrin::motion::set_wrapper_library(beside_program("felbrin_testmwi_optional"));
  Sim optional(beside_program("felbrin_testmwi_optional"));
  open_configured();
  int on = -1;
  EXPECT_EQ(mc_get_ext_closed_loop_fhx(c_, 0, &on), 0);
  EXPECT_EQ(on, 0);
  c_.axes[0].extClosedLoop = 1;
  EXPECT_EQ(mc_get_ext_closed_loop_fhx(c_, 0, &on), ERR_MC_NOT_SUPPORTED_IN_DLL_VERSION);
  EXPECT_EQ(mc_set_align_view_indicator_fhx(c_, 1), ERR_MC_NOT_SUPPORTED_IN_DLL_VERSION);
  EXPECT_EQ(log_.str(),
            "Support for motion axes with external closed loop requires v1.5.1.17780 or later of "
            "the motion DLL\n"
            "Support for setting the align/view indicator requires v1.5.1.17787 or later of the "
            "motion DLL\n");
  mc_close_comm_fhx(c_);
  optional.reset();
}

// The stand-in's own thread feeds the CAN queues through the callbacks the
// open registered; the caller drains them.
TEST_F(McFhx, CanEventsArriveFromTheWrappersThread) {
  sysInfo_t family;
  family.systemType = SYS_KITECAN;
  can_process_events(&family);
  for (can_event_t e; can_take_can_event(&e);) {}
  for (can_node_event_t e; can_take_node_event(&e);) {}
  ASSERT_EQ(open(), 0);
  const uint8_t wand[8] = {1};
  const uint8_t five[5] = {1, 2, 3, 4, 5};
  constexpr int kRounds = 50;
  for (int i = 0; i < kRounds; ++i) {
    sim_.fn<decltype(mwisim_fire_pdo)>("mwisim_fire_pdo")(0x1C8, 7, wand);
    sim_.fn<decltype(mwisim_fire_emcy)>("mwisim_fire_emcy")(0x81, 2, 0x11223344, 9, five, 6);
    can_process_events(&family);
  }
  ASSERT_EQ(sim_.fn<decltype(mwisim_wait_fired)>("mwisim_wait_fired")(30000), 2 * kRounds);
  can_process_events(&family);
  int emcys = 0, wand_keys = 0;
  for (can_event_t e; can_take_can_event(&e); ++emcys) {
    EXPECT_EQ(e.emcy.value1, 0x81u);
    EXPECT_EQ(e.emcy.data[4], 9);
    EXPECT_EQ(e.emcy.data[12], 6);
  }
  for (can_node_event_t e; can_take_node_event(&e); ++wand_keys) {
    EXPECT_EQ(e.code, CAN_NODE_EVENT_WAND_KEY1);
  }
  EXPECT_EQ(emcys, kRounds);
  EXPECT_EQ(wand_keys, kRounds);
}

// The worker asks the wrapper for events while the caller closes.
TEST_F(McFhx, TheDeviceTablePollsWhileTheControllerCloses) {
  const dev_mc_hooks_t saved = dev_set_mc_hooks(dev_mc_hooks_t{});
  mc_fhx_register_hooks();
  ASSERT_EQ(dev_init_cntrl(1), 0);
  ASSERT_EQ(open(), 0);
  sim_.fn<decltype(mwisim_queue_event)>("mwisim_queue_event")(2, 1);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, c_.port.handle, &c_), 0);
  ASSERT_EQ(dev_set_event_state(c_.port.handle, 1), 0);
  c_.devHandle = c_.port.handle;
  std::atomic<int> found{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    dev_info_t info;
    while (!stop) {
      if (dev_data_read(DEV_TYPE_MC, &info, 0) == DEV_TYPE_MC) ++found;
    }
  });
  EXPECT_TRUE(felbrin::test::eventually([&] { return found > 0; }));
  EXPECT_EQ(mc_close_comm_fhx(c_), 0);
  EXPECT_EQ(c_.devHandle, DEV_INVALID_HANDLE);
  stop = true;
  reader.join();
  dev_info_t info;
  EXPECT_EQ(dev_data_read(DEV_TYPE_MC, &info, 0), DEV_NO_INPUT);
  dev_close_cntrl();
  dev_set_mc_hooks(saved);
}

// The wrapper's thread fires events and the worker polls it while callers
// drain from several threads.
TEST_F(McFhx, Soak) {
  const dev_mc_hooks_t saved = dev_set_mc_hooks(dev_mc_hooks_t{});
  mc_fhx_register_hooks();
  ASSERT_EQ(dev_init_cntrl(1), 0);
  ASSERT_EQ(open(), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, c_.port.handle, &c_), 0);
  ASSERT_EQ(dev_set_event_state(c_.port.handle, 1), 0);
  sysInfo_t family;
  family.systemType = SYS_KITECAN;
  std::mutex drain_lock;  // draining decodes against the caller's record, one caller at a time
  const uint8_t wand[8] = {1};
  const uint8_t five[5] = {1, 2, 3, 4, 5};
  const felbrin::test::SoakAction actions[] = {
      {"pdo", [&] { sim_.fn<decltype(mwisim_fire_pdo)>("mwisim_fire_pdo")(0x1C8, 7, wand); }},
      {"emergency", [&] { sim_.fn<decltype(mwisim_fire_emcy)>("mwisim_fire_emcy")(0x81, 2, 0x11223344, 9, five, 6); }},
      {"axis event", [&] { sim_.fn<decltype(mwisim_queue_event)>("mwisim_queue_event")(2, 1); }},
      {"poll", [] {
         dev_info_t info;
         dev_data_read(DEV_TYPE_MC, &info, 0);
       }},
      {"drain", [&] {
         std::lock_guard lock(drain_lock);
         can_process_events(&family);
         for (can_node_event_t e; can_take_node_event(&e);) {}
         for (can_event_t e; can_take_can_event(&e);) {}
       }},
  };
  EXPECT_GT(felbrin::test::soak(actions, 4), 0);
  EXPECT_EQ(mc_close_comm_fhx(c_), 0);
  dev_close_cntrl();
  dev_set_mc_hooks(saved);
}

// The whole set-up through the axis layer: "FATHOMIXX" selects the wrapper,
// whose axes come from the library, not from a configuration file.
TEST_F(McFhx, SetUpThroughTheAxisLayer) {
  sysInfo_t info;
  info.motionCtrl[0] = "/stage.cfg";  // handed to the library as it stands
  info.motionCtrl[1] = "fathomixx";
  ASSERT_EQ(dev_init_cntrl(1), 0);
  ASSERT_EQ(mc_setup(&info), 0) << log_.str();
  ASSERT_TRUE(info.motionCtrlInfo);
  mc_ctrl_t& c = *info.motionCtrlInfo;
  EXPECT_EQ(c.kind, MC_KIND_WRAPPER);
  EXPECT_NE(c.xAxis, MC_NO_AXIS);
  EXPECT_NE(c.zAxis, MC_NO_AXIS);
  EXPECT_TRUE(dev_is_registered(c.port.handle));
  EXPECT_EQ(mc_close(c), 0);
  EXPECT_FALSE(dev_is_registered(c.devHandle));
  info.motionCtrlInfo.reset();
  dev_close_cntrl();
}

}  // namespace
