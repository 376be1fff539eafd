// The amplifier operations of axes in external closed loop, against
// simulated amplifiers (nodes 16-24) and the position-measurement node (48)
// on the simulated CAN network, on the virtual clock.
#include "instrument/motion/mc_ccl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/record/sys_info.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_api_internal.h"
#include "sim/can/can_sim.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_can.h"
#include "tests/support/virtual_clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes le(uint32_t v, int width) {
  Bytes b(static_cast<std::size_t>(width));
  for (int i = 0; i < width; ++i) b[static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  return b;
}

class McCcl : public ::testing::Test {
 protected:
  void SetUp() override {
    cansim::reset();
    cansim::set_clock([] { return u_ticks_ms(); });
    cansim::add_bridge({});
    for (uint8_t node : {uint8_t{16}, uint8_t{20}}) ASSERT_TRUE(cansim::add_node(node, "amplifier", 0x5A));
    ASSERT_TRUE(cansim::add_node(48, "position", 0x48));
    ASSERT_TRUE(felbrin::test::connect_simulated_bridge());
    const char letters[] = "XYZ";
    for (int i = 0; i < 3; ++i) {
      c.axes[i].active = 1;
      c.axes[i].letter = letters[i];
    }
    c.axes[0].extClosedLoop = c.axes[2].extClosedLoop = 1;
    c.zAxis = 2;
  }
  void TearDown() override {
    felbrin::can::forget_binding();
    cansim::reset();
  }
  felbrin::test::VirtualClock clock;
  felbrin::test::LogCapture log;
  mc_ctrl_t c;
};

struct GuardCase {
  const char* name;
  int axis;
  std::function<void(mc_ctrl_t&)> setup;
  int result;
  std::string log;
};

TEST_F(McCcl, AxisNumberThenFlagThenNode) {
  const GuardCase cases[] = {
      {"axis 8", 8, [](mc_ctrl_t&) {}, ERR_MC_INVALID_AXIS, ""},
      {"missing letter", MC_NO_AXIS, [](mc_ctrl_t&) {}, ERR_MC_INVALID_AXIS, ""},
      {"axis 6 has no amplifier, whatever its letter", 6, [](mc_ctrl_t& k) {
         k.axes[6].extClosedLoop = 1;
         k.axes[6].letter = 'X';
       }, ERR_MC_INVALID_AXIS, ""},
      {"no closed loop", 1, [](mc_ctrl_t&) {}, ERR_INTERNAL_FB,
       "mc_ccl_get_amplifier_status: mci->axis[axis].can_closed_loop == FALSE\n"},
      {"no amplifier for the letter", 1, [](mc_ctrl_t& k) {
         k.axes[1].extClosedLoop = 1;
         k.axes[1].letter = 'T';
       }, ERR_MC_INVALID_AXIS, ""},
  };
  for (const GuardCase& g : cases) {
    SCOPED_TRACE(g.name);
    log.clear();
    mc_ctrl_t k;
    k.axes[1].letter = 'Y';
    g.setup(k);
    uint32_t s = 0, m = 0;
    EXPECT_EQ(mc_ccl_get_amplifier_status(k, g.axis, &s, &m), g.result);
    EXPECT_EQ(log.str(), g.log);
  }
}

TEST_F(McCcl, FaultedAmplifierIsResetOnlyWhenAsked) {
  cansim::set_value(16, 0x6041, 0, le(0x0008, 2));
  c.axes[0].homeOk = 1;
  EXPECT_EQ(mc_ccl_amplifier_ready(c, 0, 0), ERR_MC_CAN_AMPLIFIER_FAULT);
  EXPECT_EQ(c.axes[0].homeOk, 0);
  EXPECT_EQ(c.axes[0].ampStatus, 0x0008u);
  cansim::set_value(16, 0x6063, 0, le(1234, 4));
  EXPECT_EQ(mc_ccl_amplifier_ready(c, 0, 1), 0);
  EXPECT_EQ(clock.elapsed_ms(), 2000);
  EXPECT_EQ(cansim::value(16, 0x6040, 0), le(0x0080, 2));  // the reset's rising edge
  EXPECT_EQ(cansim::value(16, 0x6063, 0), le(0, 4));
  // A fault the maker reports counts as well.
  cansim::set_value(16, 0x1002, 0, le(0x80000, 4));
  EXPECT_EQ(mc_ccl_amplifier_ready(c, 0, 0), ERR_MC_CAN_AMPLIFIER_FAULT);
}

TEST_F(McCcl, TheSwitchIsAlwaysTheZAmplifiers) {
  EXPECT_EQ(mc_ccl_set_closed_loop(c, 0, 1), 0);
  EXPECT_EQ(cansim::value(20, 0x21D6, 0), le(2, 2));
  EXPECT_EQ(cansim::value(16, 0x21D6, 0), le(0, 2));
  int on = 0;
  EXPECT_EQ(mc_ccl_get_closed_loop(c, 0, &on), 0);
  EXPECT_EQ(on, 1);
}

struct SettleCase {
  uint32_t window;
  int32_t following;
  int result;
};

TEST_F(McCcl, InPositionAfterFiveSecondsWithinTwiceTheWindow) {
  const SettleCase cases[] = {
      {3, 7, ERR_MC_CAN_CLOSED_LOOP_TIMEOUT},
      {3, -7, ERR_MC_CAN_CLOSED_LOOP_TIMEOUT},
      {3, 6, 0},
      {3, -6, 0},
      {0x80000000u, INT32_MIN, 0},  // no overflow on either side
  };
  for (const SettleCase& s : cases) {
    SCOPED_TRACE(s.following);
    cansim::set_value(16, 0x6067, 0, le(s.window, 4));
    cansim::set_value(16, 0x60F4, 0, le(static_cast<uint32_t>(s.following), 4));
    ASSERT_EQ(mc_ccl_set_closed_loop(c, 0, 1), 0);
    int in = -1;
    EXPECT_EQ(mc_ccl_in_position(c, 0, &in), 0);
    EXPECT_EQ(in, 0);
    u_sleep_ms(5000);
    EXPECT_EQ(mc_ccl_in_position(c, 0, &in), 0);  // 5 s exactly: not yet
    u_sleep_ms(1);
    EXPECT_EQ(mc_ccl_in_position(c, 0, &in), s.result);
    EXPECT_EQ(in, s.result == 0 ? 1 : 0);
    EXPECT_EQ(cansim::value(20, 0x21D6, 0), le(2, 2));  // closed again
    EXPECT_EQ(c.axes[0].inPosStartMs, -1);  // the next wait starts afresh
  }
}

TEST_F(McCcl, HomeOkFollowsThePositionNode) {
  cansim::set_value(48, 0x1002, 0, le(1u << 22, 4));
  int ok = 1;
  EXPECT_EQ(mc_ccl_get_home_ok(c, 2, &ok), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(mc_ccl_set_home_ok(c, 2, 1), 0);
  EXPECT_EQ(cansim::value(48, 0x1002, 0), le(0, 4));  // home-required cleared
  EXPECT_EQ(mc_ccl_get_home_ok(c, 2, &ok), 0);
  EXPECT_EQ(ok, 1);
  cansim::set_value(48, 0x1002, 0, le(1u << 22, 4));
  EXPECT_EQ(mc_ccl_get_home_ok(c, 2, &ok), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(c.axes[2].homeOk, 0);
}

struct InitCase {
  const char* name;
  std::function<void()> setup;
  int result;
  std::string log;  // a line of it
};

TEST_F(McCcl, InitResetsWhatNeedsItThenClosesTheLoop) {
  const InitCase cases[] = {
      {"all well", [] {}, 0, ""},
      {"position node reset", [] {
         cansim::set_value(48, 0x1002, 0, le(1, 4));
         cansim::set_option(48, "busy_reads", 3);
       }, 0, ""},
      {"position node stays busy", [] {
         cansim::set_value(48, 0x1002, 0, le(1, 4));
         cansim::set_option(48, "busy_reads", 20);
       }, ERR_HW_FAIL, "mc_ccl_init: not ready after 10 iterations\n"},
      {"position node keeps needing a reset", [] {
         cansim::set_value(48, 0x1002, 0, le(1, 4));
         cansim::set_option(48, "stuck", 1);
       }, ERR_MC_CAN_CLOSED_LOOP_DMI_INIT, "mc_ccl_init failed: ERR_MC_CAN_CLOSED_LOOP_DMI_INIT\n"},
      {"amplifier stays faulted", [] {
         cansim::set_value(20, 0x1002, 0, le(0x80000, 4));
         cansim::set_abort(20, 0x6040, 0, 0x06010002);  // the reset cannot be written
       }, ERR_CAN_SDO_CLM_ERROR, "mc_ccl_init failed: ERR_CAN_SDO_CLM_ERROR\n"},
  };
  for (const InitCase& ic : cases) {
    SCOPED_TRACE(ic.name);
    SetUp();
    log.clear();
    ic.setup();
    EXPECT_EQ(mc_ccl_init(c, 2), ic.result);
    EXPECT_NE(log.str().find(ic.log), std::string::npos) << log.str();
    if (ic.result == 0) {
      EXPECT_EQ(cansim::value(20, 0x21D6, 0), le(2, 2));
    }
    TearDown();
  }
}

TEST_F(McCcl, ZClosedLoopExplainsWhatIsMissing) {
  sysInfo_t info;
  EXPECT_EQ(mc_ccl_set_z_closed_loop(&info, 1), ERR_INTERNAL_FB);
  info.zExternalClosedLoop = 1;
  EXPECT_EQ(mc_ccl_set_z_closed_loop(&info, 1), ERR_INTERNAL_FB);
  info.motionCtrlInfo.reset(std::make_unique<mc_ctrl_t>().release());
  EXPECT_EQ(mc_ccl_set_z_closed_loop(&info, 1), ERR_INTERNAL_FB);
  info.motionCtrlInfo->zAxis = 2;
  EXPECT_EQ(mc_ccl_set_z_closed_loop(&info, 1), ERR_INTERNAL_FB);
  EXPECT_EQ(log.str(),
            "sip->zExternalClosedLoop == FALSE\nmc_ccl_set_z_closed_loop: ERR_INTERNAL_FB\n"
            "sip->motionCtrlInfo == NULL\nmc_ccl_set_z_closed_loop: ERR_INTERNAL_FB\n"
            "mci->z_axis == MC_AXIS_NOT_FOUND\nmc_ccl_set_z_closed_loop: ERR_INTERNAL_FB\n"
            "mci->axis[mci->z_axis].can_closed_loop == FALSE\n"
            "mc_ccl_set_z_closed_loop: ERR_INTERNAL_FB\n");
  info.motionCtrlInfo->axes[2] = c.axes[2];
  EXPECT_EQ(mc_ccl_set_z_closed_loop(&info, 0), 0);
  EXPECT_EQ(cansim::value(20, 0x21D6, 0), le(0, 2));
}

}  // namespace
