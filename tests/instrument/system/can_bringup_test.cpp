// Power-on and power-off of CAN instruments against the simulated network,
// on the virtual clock: the steps each family takes, the error and log line
// of each stage that fails, and what a power-off leaves behind.
#include "instrument/system/can_bringup.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/record/sys_info.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_api_internal.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_events_internal.h"
#include "instrument/can/can_nodes.h"
#include "instrument/can/can_state.h"
#include "instrument/control/sleep_mode.h"
#include "instrument/serial/device_table.h"
#include "platform/host_platform.h"
#include "sim/can/can_sim.h"
#include "sim/can/can_sim_c.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using Strings = std::vector<std::string>;

constexpr const char* kMac = "+MacAddress 00 1A 2B 3C 4D 5E";

// The steps of other subsystems, recorded in order; each answers what the
// test set for it (0 by default).
struct Recorder {
  Strings calls;
  std::map<std::string, int> results;
  int step(const char* name) {
    calls.push_back(name);
    auto it = results.find(name);
    return it != results.end() ? it->second : 0;
  }
};
Recorder rec;

CanInstServices recording_services() {
  CanInstServices s{};
  s.agc_init = [](sysInfo_t*) { return rec.step("agc_init"); };
  s.agc_hold = [](sysInfo_t*) { return rec.step("agc_hold"); };
  s.agc_release = [](sysInfo_t*) { return rec.step("agc_release"); };
  s.agc_stop = [](sysInfo_t*) { return rec.step("agc_stop"); };
  s.load_ramps = [](sysInfo_t*) { return rec.step("load_ramps"); };
  s.pifoc_offset = [](sysInfo_t*, uint32_t* offset) {
    *offset = 0x1234;
    return rec.step("pifoc_offset");
  };
  s.wave_monitor_setup = [](sysInfo_t*) { return rec.step("wave_monitor_setup"); };
  s.wave_monitor_calibrate = [](sysInfo_t*) { return rec.step("wave_monitor_calibrate"); };
  s.bad_pixel_table = [](sysInfo_t*) { return rec.step("bad_pixel_table"); };
  s.other_scanner = [](sysInfo_t*) { return rec.step("other_scanner"); };
  s.light_source_update = [](sysInfo_t*) { return rec.step("light_source_update"); };
  s.light_control_mode = [](sysInfo_t*, int) { return rec.step("light_control_mode"); };
  s.zoom_dd_velocity = [](sysInfo_t*, double* v) {
    *v = 250;
    return rec.step("zoom_dd_velocity");
  };
  s.diffuser_disks_stop = [](sysInfo_t*) { return rec.step("diffuser_disks_stop"); };
  s.aux_motor_off = [](sysInfo_t*) { return rec.step("aux_motor_off"); };
  s.failure_cleanup = [](sysInfo_t*) { return rec.step("failure_cleanup"); };
  s.enc_zoom_backlash = [](sysInfo_t*) { return rec.step("enc_zoom_backlash"); };
  s.sleep_mode_start = [](sysInfo_t*) { return rec.step("sleep_mode_start"); };
  s.sleep_mode_stop = [](sysInfo_t*) { return rec.step("sleep_mode_stop"); };
  return s;
}

int abort_always(void*) { return 1; }

class CanBringup : public ::testing::Test {
 public:
  void SetUp() override {
    cansim::reset();
    cansim::set_clock([] { return u_ticks_ms(); });
    can_api_install(cansim::api());
    felbrin::can::reset_decoder_state();
    ASSERT_EQ(dev_init_cntrl(1), 0);
    saved_ = can_set_inst_services(recording_services());
    rec = Recorder{};
  }
  void TearDown() override {
    // Power-off lets go of what a power-on holds, the stopped event among it.
    if (sysInfo[0].instrBdType == BD_CAN) can_inst_off(&sysInfo[0]);
    dev_set_can_poll_fn(nullptr);
    can_set_inst_services(saved_);
    u_set_abort_fn(nullptr);
    cansim::reset();
    felbrin::can::forget_registration();
    felbrin::can::forget_binding();
    sysInfo[0] = sysInfo_t{};
  }

  // Slot 0 from keyword lines, as the calibration reader builds it.
  sysInfo_t& record(std::initializer_list<const char*> lines) {
    EXPECT_EQ(sb_readCal(0, "+DEFAULTS"), 0);
    for (const char* line : lines) EXPECT_EQ(sb_readCal(0, line), 0) << line;
    return sysInfo[0];
  }
  sysInfo_t& fjord() {
    EXPECT_TRUE(cansim::preset("fjord:00-1A-2B-3C-4D-5E"));
    return record({"+Fjord1 5 23 12345", "+Version None 0 CAN", kMac});
  }
  sysInfo_t& fjordp() {
    EXPECT_TRUE(cansim::preset("fjordp:00-1A-2B-3C-4D-5E"));
    return record({"+Fjord3 5 23 12345", "+Version None 0 CAN", kMac});
  }
  sysInfo_t& fjord6() {  // the other system of the Fjord-P family
    EXPECT_TRUE(cansim::preset("fjordp:00-1A-2B-3C-4D-5E"));
    return record({"+Fjord6 5 23 12345", "+Version None 0 CAN", kMac});
  }
  sysInfo_t& kite() {
    EXPECT_TRUE(cansim::preset("kite:00-1A-2B-3C-4D-5E"));
    return record({"+KiteCan 5 23 12345", "+Version None 0 CAN", kMac});
  }
  static void healthy_power() {
    cansim::set_value(127, 0x2010, 1, {0x08});  // external 12 V present, no trips
  }

  VirtualClock clock_;
  LogCapture log_;
  CanInstServices saved_{};
};

std::string block(std::initializer_list<const char*> lines) {
  std::string out;
  for (const char* l : lines) out += l;
  return out;
}

// ---- the families

struct FamilyCase {
  const char* name;
  sysInfo_t& (CanBringup::*make)();
  std::string node_table;
  Strings steps;
  std::vector<uint32_t> cob_ids;
};

TEST_F(CanBringup, EachFamilyComesUpOnItsPreset) {
  const std::string fjordp_nodes =
      block({"Instrument CAN node status:\n", "  Ramper           : Yes  \n",
             "  LED              : Yes  \n", "  Dual Brush Motor : Yes\n",
             "  Triple PZT       : Yes\n"});
  const FamilyCase cases[] = {
      {"fjord", &CanBringup::fjord,
       block({"Instrument CAN node status:\n", "  Ramper           : Yes  \n",
              "  LED              : Yes  \n", "  Dual Brush Motor : Yes\n",
              "  Triple PZT       : No\n"}),
       {"load_ramps", "bad_pixel_table", "other_scanner", "sleep_mode_start"},
       {}},
      {"fjordp", &CanBringup::fjordp, fjordp_nodes,
       {"load_ramps", "bad_pixel_table", "other_scanner", "sleep_mode_start"}, {}},
      {"fjord6", &CanBringup::fjord6, fjordp_nodes,
       {"load_ramps", "bad_pixel_table", "other_scanner", "sleep_mode_start"}, {}},
      {"kite", &CanBringup::kite,
       block({"Instrument CAN node status:\n", "  Triple PZT          : Yes\n",
              "  Large Aperture      : Yes\n", "  Primary Wand        : Yes\n",
              "  Secondary Wand      : No\n", "  Zoom & Diffuser Disk: Yes\n",
              "  RoF & Diffuser Disk : Yes\n", "  Focus & ND Wheel    : Yes\n",
              "  Auxiliary Motor     : Yes\n"}),
       {"agc_init", "agc_hold", "light_control_mode", "zoom_dd_velocity", "load_ramps",
        "bad_pixel_table", "other_scanner", "sleep_mode_start", "agc_release"},
       {0x1C0, 0x1C8, 0x1C9, 0x2C0, 0x2C4}},
  };
  for (const FamilyCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    log_.clear();
    sysInfo_t& s = (this->*c.make)();
    healthy_power();
    ASSERT_EQ(can_inst_on(&s), 0) << log_.str();
    const std::string& log = log_.str();
    EXPECT_TRUE(log.starts_with(block({"Found CAN bridge\n", "MAC address: 00 1A 2B 3C 4D 5E\n",
                                       "IP  address: 192.168.100.10\n",
                                       "Bridge firmware version: major = 10, minor = 9\n",
                                       "DLL version: major = 0, minor = 0\n"})))
        << log;
    EXPECT_NE(log.find(c.node_table), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("Instrument ON\n")) << log;
    EXPECT_EQ(rec.calls, c.steps);
    EXPECT_EQ(cansim::registered_cob_ids(), c.cob_ids);
    EXPECT_TRUE(dev_is_registered(CAN_DEVICE_HANDLE));
    // A bridge already configured is neither reconfigured nor connected twice.
    EXPECT_EQ(cansim::call_count("CAN_SetBridgeConfiguration"), 0);
    EXPECT_EQ(cansim::call_count("CAN_Connect"), 1);
    // The configuration word is written back with its fixed bits.
    const auto word = cansim::value(127, 0x2010, 2);
    ASSERT_EQ(word.size(), 2u);
    EXPECT_EQ(word[1] & 0x21, 0x21);
    EXPECT_EQ(can_inst_off(&s), 0);
    TearDown();
  }
}

// Step ten by system type: the wave monitor instruments set their monitor
// up, and only type 30 of them has a camera bad-pixel table to build.
TEST_F(CanBringup, WaveMonitorAndBadPixelTableByType) {
  const struct {
    const char* system;
    Strings wanted, not_wanted;
  } cases[] = {
      {"+KiteCan 5 23 12345", {"bad_pixel_table"}, {"wave_monitor_setup", "wave_monitor_calibrate"}},
      {"+Heron_CAN 5 23 12345", {"wave_monitor_setup", "wave_monitor_calibrate", "bad_pixel_table"}, {}},
      {"+Kite2Can 5 23 12345", {"wave_monitor_setup"}, {"wave_monitor_calibrate", "bad_pixel_table"}},
      {"+Iris_CAN 5 23 12345", {"wave_monitor_setup"}, {"wave_monitor_calibrate", "bad_pixel_table"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.system);
    SetUp();
    ASSERT_TRUE(cansim::preset("kite:00-1A-2B-3C-4D-5E"));
    sysInfo_t& s = record({c.system, "+Version None 0 CAN", kMac});
    healthy_power();
    // A table that cannot be built must not stop an instrument that has none.
    rec.results["bad_pixel_table"] = ERR_CANT_READ_FILE;
    const int rc = can_inst_on(&s);
    const auto called = [&](const std::string& step) {
      return std::find(rec.calls.begin(), rec.calls.end(), step) != rec.calls.end();
    };
    for (const std::string& step : c.wanted) EXPECT_TRUE(called(step)) << step;
    for (const std::string& step : c.not_wanted) EXPECT_FALSE(called(step)) << step;
    EXPECT_EQ(rc, called("bad_pixel_table") ? ERR_CANT_READ_FILE : 0) << log_.str();
    TearDown();
  }
}

TEST_F(CanBringup, FjordSetsTheLightSourceUp) {
  sysInfo_t& s = fjord();
  healthy_power();
  s.lightSource[0].freq = 40000;
  s.lightSource[0].config = 5;
  cansim::set_value(61, 0x2001, 0, {0x34, 0x12});
  ASSERT_EQ(can_inst_on(&s), 0) << log_.str();
  EXPECT_EQ(cansim::value(61, 0x2001, 0), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(cansim::value(61, 0x2006, 0), (std::vector<uint8_t>{0x40, 0x9C, 0, 0}));
  EXPECT_EQ(cansim::value(61, 0x2000, 0), (std::vector<uint8_t>{5}));
  EXPECT_EQ(s.canInfo->ledProductId, 0x2672137D);
  EXPECT_EQ(s.canInfo->brushProductId, 0x267215D5);
  EXPECT_EQ(s.can.brushMotorPresent, 1);
}

TEST_F(CanBringup, KiteNodesAreSetUpForTheKeypads) {
  sysInfo_t& s = kite();
  healthy_power();
  cansim::set_value(70, 0x2044, 8, {0x01});
  cansim::set_value(70, 0x2000, 0, {0x00});
  // A slow wheel, homed and in place well within the ten seconds it is given.
  ASSERT_TRUE(cansim::set_option(64, "home_ms", 6000));
  ASSERT_TRUE(cansim::set_option(64, "move_ms", 3000));
  ASSERT_EQ(can_inst_on(&s), 0) << log_.str();
  EXPECT_EQ(cansim::value(70, 0x2044, 8), (std::vector<uint8_t>{0x03}));
  EXPECT_EQ(cansim::value(70, 0x2000, 0), (std::vector<uint8_t>{0x01}));
  EXPECT_EQ(s.canInfo->keypadZoom, 0x03);
  EXPECT_EQ(s.ringSpot, 1);  // the node is there, so it is expected from now on
  EXPECT_EQ(s.can.pztChannel, -1);
  EXPECT_EQ(s.largeApSelected, 1);
  EXPECT_EQ(s.can.wand2Present, 0);
  // The wheel homed on the virtual clock, polled, before the events were
  // registered.
  EXPECT_GT(clock_.elapsed_ms(), 0);
  EXPECT_EQ(log_.str().find("Error homing"), std::string::npos) << log_.str();
}

// ---- one stage at a time

struct FaultCase {
  const char* name;
  sysInfo_t& (CanBringup::*make)();
  std::function<void(sysInfo_t&)> fault;
  int error;
  std::string line;  // a line of the log
};

TEST_F(CanBringup, EachStageFailsWithItsErrorAndLine) {
  const FaultCase cases[] = {
      {"bridges failed", &CanBringup::fjord, [](sysInfo_t&) { cansim::override_enumerate_count(-1); },
       ERR_CAN_FINDING_BRIDGE, "find_bridge: CAN_EnumerateBridges failed\n"},
      {"other negative count", &CanBringup::fjord,
       [](sysInfo_t&) { cansim::override_enumerate_count(-7); }, ERR_CAN_FINDING_BRIDGE,
       "find_bridge: CAN_EnumerateBridges failed\n"},
      {"no bridge", &CanBringup::fjord, [](sysInfo_t&) { cansim::override_enumerate_count(0); },
       ERR_CAN_FINDING_BRIDGE, "find_bridge: CAN_EnumerateBridges found no CAN bridges\n"},
      {"other MAC", &CanBringup::fjord, [](sysInfo_t& s) { s.canInfo->mac[5] = 0x5F; },
       ERR_CAN_MACADDRESS_ERROR,
       "CAN bridge with MAC address 00 1A 2B 3C 4D 5F not found on network\n"},
      {"connect", &CanBringup::fjord, [](sysInfo_t&) { cansim::fail_next("CAN_Connect", -3); },
       ERR_CAN_FINDING_BRIDGE, "can_inst_on: CAN_Connect canErr = -3\n"},
      {"firmware", &CanBringup::fjord,
       [](sysInfo_t&) { cansim::fail_next("CAN_GetFirmwareVersion", -4); }, ERR_CAN_BRIDGE_ERROR,
       "can_inst_on: ERR_CAN_BRIDGE_ERROR\n"},
      {"reset refused", &CanBringup::fjord,
       [](sysInfo_t&) {
         cansim::script_bridge_errors({7});
         cansim::fail_next("CAN_ResetBridge", -1);
       },
       ERR_HW_FAIL, "CAN_ResetBridge canErr -1\n"},
      {"error stays", &CanBringup::fjord, [](sysInfo_t&) { cansim::script_bridge_errors({7}); },
       ERR_CAN_BRIDGE_ERROR,
       "can_inst_on: Unable to reset bridge with no errors after 10 tries: "
       "CAN_GetLastBridgeError = 7\n"},
      {"brush missing", &CanBringup::fjord, [](sysInfo_t&) { cansim::remove_node(63); },
       ERR_CAN_NODE_MISSING, "Missing the CAN Dual Brush Motor node\n"},
      {"pzt missing", &CanBringup::fjordp, [](sysInfo_t&) { cansim::remove_node(62); },
       ERR_CAN_NODE_MISSING, "Missing the CAN Triple PZT node\n"},
      {"ramper never up", &CanBringup::fjord,
       [](sysInfo_t&) { cansim::set_operational_after(127, 0); }, ERR_CAN_RAMP_ERROR,
       "wait_for_node_operational: Timeout waiting for node CAN_NODE_ID_RAMP operational: "
       "CAN_GetNodeState status = "},
      {"led product", &CanBringup::fjord,
       [](sysInfo_t&) { cansim::set_value(61, 0x1018, 2, {1, 0, 0, 0}); },
       ERR_CAN_INVALID_PRODUCTID, "can_fjord_on: Invalid productID = 1 for CAN_NODE_ID_LED\n"},
      {"brush product", &CanBringup::fjordp,
       [](sysInfo_t&) { cansim::set_value(63, 0x1018, 2, {2, 0, 0, 0}); },
       ERR_CAN_INVALID_PRODUCTID,
       "can_fjordp_on: Invalid productID = 2 for CAN_NODE_ID_BRUSHMOTOR\n"},
      {"scanner", &CanBringup::fjord,
       [](sysInfo_t& s) {
         EXPECT_EQ(sb_readCal(0, "+Pifoc 100"), 0);
         EXPECT_EQ(sb_readCal(0, "+PifocType 1"), 0);
         cansim::set_value(127, 0x2041, 2, {0, 0, 0, 0});
         (void)s;
       },
       ERR_CAN_DIGITAL_SCANNER_MISSING,
       "Scanner verification failed. Verify connections and configuration.\n"},
      {"12 V", &CanBringup::fjordp, [](sysInfo_t&) { cansim::set_value(127, 0x2010, 1, {0x00}); },
       ERR_INST_POWER, "Bridge Status: External 12V power fault\n"},
      {"+12 V trip", &CanBringup::fjordp,
       [](sysInfo_t&) { cansim::set_value(127, 0x2010, 1, {0x0A}); }, ERR_INST_POWER,
       "Bridge Status: +12V power trip\n"},
      {"vsync", &CanBringup::fjordp, [](sysInfo_t&) { cansim::set_value(62, 0x2001, 0, {0x40}); },
       ERR_INST_POWER, "Triple PZT node: VSync lost\n"},
      {"kite focus missing", &CanBringup::kite, [](sysInfo_t&) { cansim::remove_node(64); },
       ERR_CAN_NODE_MISSING, "Missing the CAN Focus & ND Wheel node\n"},
      {"glen without aux", &CanBringup::kite,
       [](sysInfo_t&) {
         cansim::remove_node(66);
         EXPECT_EQ(sb_readCal(0, "+GlenCan 5 23 12345"), 0);
       },
       ERR_CAN_NODE_MISSING, "Missing the CAN Auxiliary Motor node\n"},
      {"pzt never up", &CanBringup::kite, [](sysInfo_t&) { cansim::set_operational_after(62, 0); },
       ERR_CAN_TRIPLEPZT_ERROR, "Timeout waiting for node CAN_NODE_ID_TRIPLEPZT operational"},
      {"zoom dd refused", &CanBringup::kite,
       [](sysInfo_t&) { cansim::set_abort(70, 0x2044, 8, 0x06010001); }, ERR_CAN_SDO_ZOOM_ERROR,
       "abortcode=06010001\n"},
      {"system type", &CanBringup::fjord,
       [](sysInfo_t&) { EXPECT_EQ(sb_readCal(0, "+Fjord1 5 23 12345"), 0); sysInfo[0].systemType = 24; },
       ERR_WRONG_SYSTEM_TYPE, "can_inst_on: ERR_WRONG_SYSTEM_TYPE\n"},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    log_.clear();
    sysInfo_t& s = (this->*c.make)();
    healthy_power();
    c.fault(s);
    EXPECT_EQ(can_inst_on(&s), c.error) << log_.str();
    EXPECT_NE(log_.str().find(c.line), std::string::npos) << log_.str();
    ASSERT_FALSE(rec.calls.empty());
    EXPECT_EQ(rec.calls.back(), "failure_cleanup");
    EXPECT_FALSE(dev_is_registered(CAN_DEVICE_HANDLE));
    TearDown();
  }
}

TEST_F(CanBringup, NodeAbsentAfterAFailedBringUpIsRefusedLater) {
  sysInfo_t& s = kite();
  healthy_power();
  cansim::set_operational_after(70, 0);
  ASSERT_EQ(can_inst_on(&s), ERR_CAN_DD_ZOOM_ERROR);
  EXPECT_EQ(s.can.zoomDdPresent, 0);
  uint8_t mode = 0;
  EXPECT_EQ(can_read_zoom_keypress_mode(&s, &mode), ERR_CAN_NODE_NOT_AVAIL);
  // The diffuser disks still present are stopped after the failure.
  EXPECT_NE(std::find(rec.calls.begin(), rec.calls.end(), "diffuser_disks_stop"),
            rec.calls.end());
}

TEST_F(CanBringup, NoMacAddressFailsWithoutCallingTheLibrary) {
  sysInfo_t& s = fjord();
  s.canInfo->mac[0] = 0xFF;
  cansim::clear_call_log();
  EXPECT_EQ(can_inst_on(&s), ERR_CAN_MACADDRESS_ERROR);
  EXPECT_TRUE(cansim::call_log().empty());
  s.canInfo.reset();
  EXPECT_EQ(can_inst_on(&s), ERR_HW_FAIL);
  s.instrBdType = BD_KITE;
  EXPECT_EQ(can_inst_on(&s), ERR_WRONG_INSTR_BOARD);
  EXPECT_EQ(can_inst_on(nullptr), ERR_SYS_INFO_NOT_AVAIL);
}

TEST_F(CanBringup, AMissingBridgeIsLookedForThreeTimes) {
  sysInfo_t& s = fjord();
  s.canInfo->mac[0] = 0x02;
  EXPECT_EQ(can_inst_on(&s), ERR_CAN_MACADDRESS_ERROR);
  EXPECT_EQ(cansim::call_count("CAN_EnumerateBridges"), 3);
  EXPECT_EQ(clock_.elapsed_ms(), 4000);
  // The abort hook ends the wait between attempts.
  u_set_abort_fn(&abort_always);
  EXPECT_EQ(can_inst_on(&s), ERR_FELBRIN_ABORTED);
}

TEST_F(CanBringup, ACountAboveTheRoomIsNotReadBeyondIt) {
  sysInfo_t& s = fjord();
  healthy_power();
  cansim::override_enumerate_count(100000);
  EXPECT_EQ(can_inst_on(&s), 0) << log_.str();
}

TEST_F(CanBringup, BridgeIsReconfiguredAndErrorsAreResetAway) {
  sysInfo_t& s = fjord();
  healthy_power();
  cansim::BridgeSetup other;
  cansim::reset();
  other.config_a = 1;
  other.config_b = 500;
  cansim::add_bridge(other);
  ASSERT_TRUE(cansim::add_node(127, "ramp", 0x10));
  ASSERT_TRUE(cansim::add_node(61, "led", 0x2672150D));
  ASSERT_TRUE(cansim::add_node(63, "brush", 0x267215D7));
  healthy_power();
  cansim::script_bridge_errors({3, 3, 0});
  ASSERT_EQ(can_inst_on(&s), 0) << log_.str();
  EXPECT_EQ(cansim::call_count("CAN_SetBridgeConfiguration"), 1);
  EXPECT_EQ(cansim::call_count("CAN_ResetBridge"), 2);
  EXPECT_EQ(cansim::call_count("CAN_Connect"), 4);
  EXPECT_EQ(clock_.elapsed_ms() >= 6000, true);
}

TEST_F(CanBringup, AnErrorThatStaysGetsTenChecksAndTenResets) {
  sysInfo_t& s = fjord();
  cansim::script_bridge_errors({7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 0});  // clears after the tenth reset
  EXPECT_EQ(can_inst_on(&s), ERR_CAN_BRIDGE_ERROR);
  EXPECT_EQ(cansim::call_count("CAN_GetLastBridgeError"), 10);
  EXPECT_EQ(cansim::call_count("CAN_ResetBridge"), 10);
  EXPECT_EQ(clock_.elapsed_ms(), 10 * 2000);
}

TEST_F(CanBringup, ANodeUpOnTheTenthPollIsOperational) {
  sysInfo_t& s = fjord();
  healthy_power();
  cansim::set_operational_after(127, 10);
  EXPECT_EQ(can_inst_on(&s), 0) << log_.str();
  cansim::set_operational_after(61, 11);
  EXPECT_EQ(can_inst_on(&s), ERR_CAN_LED_ERROR);
}

TEST_F(CanBringup, AWandThatStaysDownCostsOnlyItsFlag) {
  sysInfo_t& s = kite();
  healthy_power();
  cansim::set_operational_after(72, 0);
  EXPECT_EQ(can_inst_on(&s), 0) << log_.str();
  EXPECT_EQ(s.can.wandPresent, 0);
}

TEST_F(CanBringup, PztWithoutAStatusByteSkipsItsChecks) {
  sysInfo_t& s = fjordp();
  healthy_power();
  cansim::set_abort(62, 0x2001, 0, 0x06020000);
  EXPECT_EQ(can_inst_on(&s), 0) << log_.str();
  EXPECT_NE(log_.str().find("can_power_check: node 62 has no status byte, its checks are skipped\n"),
            std::string::npos);
}

// ---- through the stand-in library, loaded as a host program loads it

template <class Fn>
Fn* exported(void* module, const char* name) {
  return reinterpret_cast<Fn*>(plat::host::find_symbol(module, name));
}

TEST_F(CanBringup, TheLoadedLibraryBringsAnInstrumentUpAndTellsItsVersion) {
  felbrin::can::forget_binding();
  ASSERT_EQ(can_api_load(), 0);  // found beside the test program
  const std::string path = can_api_library_path();
  ASSERT_NE(path.find("TrelCANopen"), std::string::npos) << path;
  void* module = plat::host::load_library(path.c_str());
  ASSERT_NE(module, nullptr);
  auto* reset = exported<decltype(cansim_reset)>(module, "cansim_reset");
  auto* preset = exported<decltype(cansim_preset)>(module, "cansim_preset");
  ASSERT_TRUE(reset != nullptr && preset != nullptr);
  reset();
  ASSERT_EQ(preset("fjord:00-1A-2B-3C-4D-5E"), 1);
  sysInfo_t& s = record({"+Fjord1 5 23 12345", "+Version None 0 CAN", kMac});
  EXPECT_EQ(can_inst_on(&s), 0) << log_.str();
  // The product version of the resource, or of the .so suffix.
  EXPECT_NE(log_.str().find("DLL version: major = 3, minor = 1\n"), std::string::npos)
      << log_.str();
  EXPECT_EQ(can_inst_off(&s), 0);
  reset();
  plat::host::free_library(module);
}

// ---- power-off

TEST_F(CanBringup, PowerOffTwiceAndNodeAccessAfterItAreHarmless) {
  sysInfo_t& s = kite();
  healthy_power();
  ASSERT_EQ(can_inst_on(&s), 0) << log_.str();
  rec.calls.clear();
  EXPECT_EQ(can_inst_off(&s), 0);
  EXPECT_FALSE(s.canInfo);
  EXPECT_FALSE(dev_is_registered(CAN_DEVICE_HANDLE));
  EXPECT_TRUE(cansim::registered_cob_ids().empty());
  EXPECT_EQ(rec.calls, (Strings{"sleep_mode_stop", "agc_stop", "diffuser_disks_stop"}));
  EXPECT_TRUE(log_.str().ends_with("Instrument OFF\n"));
  EXPECT_EQ(can_inst_off(&s), 0);
  // The bridge is disconnected: node access reaches the library and fails.
  EXPECT_EQ(can_write_pifoc_offset(&s, 0, 0), ERR_CAN_NOT_CONNECTED);
  // A new power-on needs a new bridge record.
  EXPECT_EQ(can_inst_on(&s), ERR_HW_FAIL);
  EXPECT_EQ(can_create_bridge_record(&s), 0);
  EXPECT_EQ(s.canInfo->mac[0], 0xFF);
}

TEST_F(CanBringup, PowerOffReportsOnlyTheConfigurationWordRead) {
  sysInfo_t& s = fjord();
  healthy_power();
  ASSERT_EQ(can_inst_on(&s), 0) << log_.str();
  cansim::set_abort(61, 0x2001, 0, 0x06010002);
  cansim::set_abort(127, 0x2010, 2, 0x06020000);
  EXPECT_EQ(can_inst_off(&s), ERR_CAN_SDO_RAMP_ERROR);
  EXPECT_EQ(cansim::call_count("CAN_Disconnect"), 1);
  EXPECT_TRUE(log_.str().ends_with("Instrument OFF\n"));
}

// ---- ring/spot selector

TEST_F(CanBringup, RingSpotMoveWaitsWithTheKeypadOff) {
  sysInfo_t& s = kite();
  healthy_power();
  ASSERT_EQ(can_inst_on(&s), 0) << log_.str();
  cansim::set_value(68, 0x2044, 8, {0x02});
  cansim::set_value(68, 0x2036, 0, {0x10, 0x00});
  ASSERT_TRUE(cansim::set_option(68, "rs_move_ms", 1000));
  const int64_t start = clock_.elapsed_ms();
  EXPECT_EQ(can_set_rs_position(&s, 1, 1), 0);
  EXPECT_GE(clock_.elapsed_ms() - start, 1000);
  EXPECT_EQ(cansim::value(68, 0x2034, 0), (std::vector<uint8_t>{0xF0, 0xFF}));  // -16
  EXPECT_EQ(cansim::value(68, 0x2044, 8), (std::vector<uint8_t>{0x02}));        // restored
  // A move that never ends times out after 500 polls, and still restores.
  ASSERT_TRUE(cansim::set_option(68, "rs_move_ms", 10'000'000));
  EXPECT_EQ(can_set_rs_position(&s, 0, 1), ERR_RS_TIMEOUT);
  EXPECT_EQ(cansim::value(68, 0x2044, 8), (std::vector<uint8_t>{0x02}));
  EXPECT_EQ(can_set_rs_position(&s, 2, 1), ERR_INVALID_PARAM);
}

}  // namespace
