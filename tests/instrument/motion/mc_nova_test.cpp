// The serial controller driver against the simulated controller on the
// in-memory link, on the virtual clock; and the axis layer's conversions
// and stacks against a recording driver. Lines pushed by hand carry the
// simulator's own checksum, not the driver's.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/hooks.h"
#include "common/util.h"
#include "instrument/motion/mc_axis.h"
#include "instrument/motion/mc_nova.h"
#include "instrument/serial/device_table.h"
#include "instrument/serial/serial_port.h"
#include "sim/memory_serial.h"
#include "sim/motion_controller.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"
#include "tests/instrument/motion/mc_entries.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace {

using sim::MotionController;

// A controller line as it goes out: text, checksum, LF.
std::string wire(const std::string& text) {
  return text + static_cast<char>(sim::motion_checksum(sim::to_bytes(text))) + "\n";
}
const std::string kAckLine = wire("\x06");

// Six linear axes, 2000 counts per inch; the Z axis is 2.
void six_axes(mc_ctrl_t& c) {
  const char letters[] = "XYZRPT";
  for (int i = 0; i < 6; ++i) {
    mc_axis_t& a = c.axes[i];
    a.active = 1;
    a.letter = letters[i];
    a.stepsPerRev = 200;
    a.encSteps = 10;
    a.pitch = 1;
    a.moveMode = MC_MODE_RELATIVE;
  }
  c.axes[3].letter = c.axes[4].letter = c.axes[5].letter = 'x';
  c.xAxis = 0;
  c.yAxis = 1;
  c.zAxis = 2;
}

class McNova : public ::testing::Test {
 protected:
  McNova() : saved_(sio_set_backend(&backend)) {
    peer.on_write([this] { runner.step(0); });
    peer.on_look([this] {
      runner.step(0);
      return runner.next_due();
    });
    c.kind = MC_KIND_SERIAL;
    c.driver = std::make_unique<NovaDriver>();
    six_axes(c);
    c.fwMajor = 2;
    c.fwMinor = 3;
    EXPECT_EQ(c.driver->open(c, "COM7", 0, 0, nullptr, nullptr), 0);
  }
  ~McNova() override {
    c.driver->close(c);
    sio_set_backend(saved_);
  }

  // The controller answers only what the test pushes.
  void by_hand(const std::string& input) {
    peer.on_write(nullptr);
    peer.on_look(nullptr);
    peer.push(input);
  }
  std::string written() {
    const std::vector<uint8_t> w = peer.take_written();
    return {w.begin(), w.end()};
  }
  // Commands the controller accepted since the last call.
  std::vector<std::string> accepted() {
    const std::vector<std::string> all = model.commands();
    std::vector<std::string> out(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
    seen_ = all.size();
    return out;
  }

  felbrin::test::VirtualClock clock;
  felbrin::test::LogCapture log;
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM7");
  sim::MemoryTransport transport{peer, "COM7"};
  sim::Script script;
  MotionController model;
  sim::Runner runner{transport, model.framer(), script, model};
  mc_ctrl_t c;

 private:
  plat::SerialBackend* saved_;
  std::size_t seen_ = 0;
};

using Strings = std::vector<std::string>;

TEST(McNovaChecksum, HandWorkedValues) {
  EXPECT_EQ(mc_nova_checksum("RS "), 'E');  // 0xC5 & 0x3F | 0x40
  EXPECT_EQ(mc_nova_checksum("\x06"), 'F');
  EXPECT_EQ(mc_nova_checksum(""), '@');
  EXPECT_EQ(mc_nova_checksum("\xff\xff"), '~');  // 510 wraps to 254
  EXPECT_STREQ(mc_nova_cmd_name("ZH"), "MC_Z_AXIS_HOME_CMD");
  EXPECT_STREQ(mc_nova_cmd_name("EP"), "MC_INVALID_CMD");
}

TEST_F(McNova, OperationsSendTheirLines) {
  c.axes[5].active = 0;
  const struct {
    const char* name;
    std::function<int(mc_ctrl_t&)> op;
    Strings lines;
    int code;
  } cases[] = {
      {"accel", [](mc_ctrl_t& m) { return m.driver->set_accel(m, 1, 500); }, {"AA 1 500 "}, 0},
      {"accel all", [](mc_ctrl_t& m) { return m.driver->set_accel(m, 8, 100); }, {"AA 6 100 "}, 0},
      {"accel too big", [](mc_ctrl_t& m) { return m.driver->set_accel(m, 1, 0x8000); }, {}, ERR_PARAM_OUT_OF_RANGE},
      {"accel axis 7", [](mc_ctrl_t& m) { return m.driver->set_accel(m, 7, 10); }, {}, ERR_MC_INVALID_AXIS},
      {"inactive", [](mc_ctrl_t& m) { return m.driver->set_velocity(m, 5, 10); }, {}, ERR_MC_AXIS_INACTIVE},
      {"velocity", [](mc_ctrl_t& m) { return m.driver->set_velocity(m, 0, 0x3FFF); }, {"AR 0 16383 "}, 0},
      {"start-stop velocity", [](mc_ctrl_t& m) { return m.driver->set_ss_velocity(m, 2, 5000); }, {"AS 2 5000 "}, 0},
      {"start-stop too fast", [](mc_ctrl_t& m) { return m.driver->set_ss_velocity(m, 2, 5001); }, {}, ERR_PARAM_OUT_OF_RANGE},
      {"keys", [](mc_ctrl_t& m) { return m.driver->enable_fkeys(m); }, {"FE "}, 0},
      {"mode", [](mc_ctrl_t& m) { return m.driver->set_mode(m, 0, 1); }, {"MM 0 1 "}, 0},
      {"same mode", [](mc_ctrl_t& m) { return m.driver->set_mode(m, 0, 1); }, {}, 0},
      {"stop all", [](mc_ctrl_t& m) { return m.driver->stop(m, 8); }, {"ST 6 "}, 0},
      {"move", [](mc_ctrl_t& m) { return m.driver->move(m, 1, 0.5); }, {"MV 1 1000"}, 0},
      {"label", [](mc_ctrl_t& m) { return m.driver->fkey_label(m, 1, "AB"); }, {"FK   AB "}, 0},
      {"long label", [](mc_ctrl_t& m) { return m.driver->fkey_label(m, 1, "ABCDE"); }, {}, ERR_PARAM_OUT_OF_RANGE},
      {"joystick", [](mc_ctrl_t& m) { return m.driver->enable_joystick(m, 0); }, {"JE 0 ", "RS "}, 0},
      {"joystick move", [](mc_ctrl_t& m) { return m.driver->move(m, 0, 1); }, {}, ERR_MC_MISC},
      {"joystick off", [](mc_ctrl_t& m) { return m.driver->queue_joystick(m, 0, 1); }, {"JD 0 ", "RS "}, 0},
      {"reports", [](mc_ctrl_t& m) { return m.driver->enable_pos_report(m); }, {"PE "}, 0},
      {"reports again", [](mc_ctrl_t& m) { return m.driver->enable_pos_report(m); }, {}, 0},
      {"axis reports", [](mc_ctrl_t& m) { return m.driver->axis_pos_report(m, 8, 0); }, {"AP 6 0 "}, 0},
      {"home state", [](mc_ctrl_t& m) { return m.driver->home_state(m, 1); }, {"HS 1 "}, 0},
      {"dash", [](mc_ctrl_t& m) { return m.driver->delay_motion(m, 1); }, {}, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(k.op(c), k.code);
    EXPECT_EQ(accepted(), k.lines);
  }
  EXPECT_EQ(model.axis(1).position, 1000);
  EXPECT_EQ(c.axes[5].accel, 100);
  EXPECT_EQ(c.joyMask, 0);
  EXPECT_EQ(c.posReport, 1);
  EXPECT_EQ(c.driver->kind(c), MC_KIND_SERIAL);
  EXPECT_EQ(c.driver->num_axes(c), 6);
  EXPECT_NE(log.str().find("mc_move_nova failed: joy_on\n"), std::string::npos);
  EXPECT_NE(log.str().find("mc_set_accel_nova() failed - ERR_PARAM_OUT_OF_RANGE\n"), std::string::npos);
}

TEST_F(McNova, QueriesReadTheirReplies) {
  model.set_firmware(2, 4);
  model.set_config("STAGE9", 3, 7);
  ASSERT_EQ(c.driver->get_revision(c), 0);
  EXPECT_EQ(c.fwMinor, 4);
  std::string name;
  uint16_t nums[2] = {};
  ASSERT_EQ(c.driver->get_config(c, &name, nums), 0);
  EXPECT_EQ(name, "STAGE9");
  EXPECT_EQ(nums[1], 7);
  int32_t v[MC_AXES];
  ASSERT_EQ(c.driver->get_status(c, MC_ALL_AXES, v), 0);
  EXPECT_EQ(std::vector<int32_t>(v, v + 8), (std::vector<int32_t>{2, 2, 2, 2, 2, 2, 4, 4}));
  ASSERT_EQ(c.driver->get_status(c, MC_CONTROLLER, v), 0);
  EXPECT_EQ(v[0], 2);
  MotionController::AxisSetup configured;
  configured.config = 42;
  model.set_axis(1, configured);
  ASSERT_EQ(c.driver->get_axis_config(c, 1, v), 0);
  EXPECT_EQ(v[0], 42);
  EXPECT_EQ(model.last("GC"), "GC 1 ");
  EXPECT_EQ(c.driver->get_positions(c, 0, v), ERR_MC_NO_HOME);
  EXPECT_EQ(log.str(), "Motion Controller Firmware version: major = 2\tminor = 4\n"
                       "mc_get_ipos_nova() failed - ERR_MC_NO_HOME\n");
}

TEST_F(McNova, OnlyANakIsSentAgain) {
  const std::vector<uint8_t> nak = sim::to_bytes(wire("\x15"));
  script.nak(4, nak);
  EXPECT_EQ(c.driver->stop(c, 0), 0);
  EXPECT_EQ(model.commands().size(), 1u);
  script.nak(5, nak);
  EXPECT_EQ(c.driver->stop(c, 0), ERR_MC_RECV_FAILED);
  EXPECT_EQ(model.commands().size(), 1u);
  script.add(sim::Turn{}.silence());
  EXPECT_EQ(c.driver->stop(c, 0), ERR_MC_RECV_TIMEOUT);
}

TEST_F(McNova, StatusIsAskedFiveTimesWithThePauseBetween) {
  c.retryPauseMs = 100;
  for (int i = 0; i < 5; ++i) script.add(sim::Turn{}.silence());
  int32_t v[MC_AXES];
  EXPECT_EQ(c.driver->get_status(c, 0, v), ERR_MC_CANT_GET_STATUS);
  EXPECT_EQ(v[0], 255);
  EXPECT_EQ(clock.elapsed_ms(), 5 * 2000 + 4 * 100);
  std::string expected = "mc_get_status_nova: send error 291\n";
  for (int i = 0; i < 4; ++i) expected += "mc_get_status_nova retry\nmc_get_status_nova: send error 291\n";
  EXPECT_EQ(log.str(), expected + "mc_get_status_nova failed: ERR_MC_CANT_GET_STATUS\n");
}

TEST_F(McNova, LinesByHand) {
  const std::string long_line(300, 'A');
  const struct {
    const char* name;
    std::string input;
    int code;
    std::string log;
  } cases[] = {
      {"report skipped", kAckLine + wire("RP 1 2 3 4 5 6") + wire("RS 1 2 3 4 5 6 7"), 0, ""},
      {"bad checksum", kAckLine + "RS 1 2 3 4 5 6 7Q\n" + wire("RS 2"), ERR_MC_RECV_FAILED, ""},
      {"too long", kAckLine + long_line + "\n" + wire("RS 2"), ERR_MC_RECV_FAILED, ""},
      {"short reply", kAckLine + wire("RS 1 2 3"), ERR_MC_RECV_FAILED, ""},
      {"value past 16 bits", kAckLine + wire("RS 1 2 3 4 5 6 65536"), ERR_MC_RECV_FAILED, ""},
      {"empty line", kAckLine + "\n", ERR_MC_RECV_FAILED, ""},
      {"stranger", kAckLine + wire("ZH 0") + wire("RS 2"), ERR_MC_RECV_FAILED,
       "mc_nova: unexpected MC_Z_AXIS_HOME_CMD line while waiting for MC_GET_STATUS_CMD\n"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    log.clear();
    by_hand(k.input);
    c.retryPauseMs = 0;
    int32_t v[MC_AXES];
    const int got = mc_get_status_nova(c, 2, v);
    // A failed read throws the rest away and is asked again until none is left.
    EXPECT_EQ(got, k.code == 0 ? 0 : ERR_MC_CANT_GET_STATUS);
    if (k.code == 0) {
      EXPECT_EQ(v[0], 3);
    }
    EXPECT_EQ(peer.pending_input(), 0u);
    EXPECT_EQ(written().substr(0, 5), "RS E\n");
    if (!k.log.empty()) {
      EXPECT_EQ(log.str().substr(0, k.log.size()), k.log);
    }
    if (k.code != 0) {
      EXPECT_NE(log.str().find("recv error " + std::to_string(k.code)), std::string::npos);
    }
  }
}

TEST_F(McNova, EmergencyStopWhileAwaitingAckFailsTheNextOperation) {
  by_hand(wire("EP") + kAckLine);
  EXPECT_EQ(mc_stop_nova(c, 0), 0);
  EXPECT_EQ(c.state, MC_STATE_ESTOP);
  written();
  EXPECT_EQ(mc_stop_nova(c, 0), ERR_MC_KILL_SWITCH);
  EXPECT_EQ(written(), "");
  c.fwMinor = 2;  // older firmware keeps no state
  peer.push(kAckLine);
  EXPECT_EQ(mc_stop_nova(c, 0), 0);
}

TEST_F(McNova, FindHomePollsUntilTheReply) {
  model.set_home_delay_ms(1500);
  ASSERT_EQ(c.driver->find_home(c, 1), 0);
  EXPECT_EQ(clock.elapsed_ms(), 1500);
  EXPECT_EQ(c.axes[1].homed, 1);

  // Not found: a hundred polls, then the axis is stopped.
  MotionController::AxisSetup lost;
  lost.home_found = false;
  model.set_axis(0, lost);
  const int64_t start = clock.elapsed_ms();
  EXPECT_EQ(c.driver->find_home(c, 0), ERR_MC_CANT_FIND_HOME);
  EXPECT_EQ(clock.elapsed_ms() - start, 99 * 500 + 250);
  EXPECT_EQ(model.last("ST"), "ST 0 ");

  static int polls = 0;
  polls = 0;
  const u_abort_hook saved = u_set_abort_fn([](void*) { return ++polls == 3 ? 1 : 0; });
  model.set_home_delay_ms(10000);
  EXPECT_EQ(c.driver->find_home(c, 1), ERR_FELBRIN_ABORTED);
  u_set_abort_fn(saved);
  EXPECT_EQ(model.last("ST"), "ST 1 ");
  EXPECT_EQ(c.axes[1].homed, 0);
}

TEST_F(McNova, HomeListHomesItsAxesInOrderWithTheirJoysticksOff) {
  for (int i : {0, 1, 2}) c.config.axes[i].flags1 = MC_GOT_AXIS;
  c.joyMask = 0x3F;
  model.set_home_delay_ms(500);
  const int axes[] = {1, 0, 4};  // 4 has no GOT_AXIS: left out
  ASSERT_EQ(c.driver->home_axes(c, axes, 3), 0) << log.str();
  EXPECT_EQ(c.axes[1].homed, 1);
  EXPECT_EQ(c.axes[0].homed, 1);
  EXPECT_EQ(c.axes[4].homed, 0);
  EXPECT_EQ(clock.elapsed_ms(), 1000);
  // Both stacks are back where they were.
  EXPECT_EQ(c.joyMask, 0x3F);
  EXPECT_EQ(c.joyStack.top, -1);
  EXPECT_EQ(c.posReportStack.top, -1);
  const int bad[] = {6};
  EXPECT_EQ(c.driver->home_axes(c, bad, 1), ERR_MC_INVALID_AXIS);
}

TEST_F(McNova, CloseTakesTheControllerOutOfTheDeviceTableFirst) {
  ASSERT_EQ(dev_init_cntrl(1), 0);
  dev_mc_hooks_t hooks;
  hooks.connection_kind = [](const void*) { return 1; };
  const dev_mc_hooks_t saved = dev_set_mc_hooks(hooks);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, c.port.handle, &c), 0);
  const sio_handle_t handle = c.port.handle;
  EXPECT_EQ(c.driver->close(c), 0);
  EXPECT_FALSE(dev_is_registered(handle));
  EXPECT_EQ(c.port.handle, SIO_INVALID_HANDLE);
  dev_set_mc_hooks(saved);
  dev_close_cntrl();
}

TEST_F(McNova, ZHomeByStageClass) {
  MotionController::AxisSetup z;
  z.high_limit = 8000;
  model.set_axis(2, z);
  c.config.axes[2].homeLimitPos = FLT_MAX;
  c.joyMask = MC_JOY_ALL;
  for (int i = 0; i < 6; ++i) c.axes[i].joyOn = 1;
  ASSERT_EQ(c.driver->z_home(c, 680000), 0);
  // 0x7FFFFF less 150 x 2000 x 0.03937007874015748.
  EXPECT_EQ(model.last("ZH"), "ZH 8376796");
  EXPECT_EQ(c.axes[2].homed, 1);
  EXPECT_EQ(model.axis(2).position, 8376796);
  EXPECT_EQ(c.joyMask, MC_JOY_ALL);  // popped back on
  EXPECT_EQ(c.axes[2].moving, 0);

  c.axes[2].homeType = 1;
  accepted();
  EXPECT_EQ(c.driver->z_home(c, 50500), ERR_MC_INVALID_CONFIG);
  EXPECT_EQ(accepted(), Strings{});

  // No switch in the way: the axis stops on its own, short of a limit.
  model.set_axis(2, {});
  log.clear();
  EXPECT_EQ(c.driver->z_home(c, 680000), ERR_MC_CANT_FIND_Z_HOME);
  EXPECT_NE(log.str().find("mc_z_home_nova: mcErr != MC_ERR_LIMIT_SIGNAL\n"), std::string::npos);
  EXPECT_EQ(model.last("ST"), "ST 2 ");
}

TEST_F(McNova, EventsByKind) {
  c.posReportOnMs = 0;
  const struct {
    const char* name;
    int64_t at_ms;
    std::string line;
    int code;
    int32_t kind, key;
  } cases[] = {
      {"early report", 2999, wire("RP 2000 0 0 0 0 268435455"), 0, MC_EVENT_NONE, 0},
      {"report", 3000, wire("RP 2000 0 0 0 0 268435455"), 0, MC_EVENT_POSITION, 0},
      {"key", 0, wire("RF 2"), 0, MC_EVENT_FKEY, 2},
      {"bad key", 0, wire("RF 7"), ERR_MC_RECV_FAILED, MC_EVENT_NONE, 0},
      {"stop", 0, wire("EP"), 0, MC_EVENT_ESTOP, 0},
      {"reset", 0, wire("EL"), 0, MC_EVENT_RESET, 0},
      {"stranger", 0, wire("RS 2"), ERR_MC_RECV_FAILED, MC_EVENT_NONE, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    if (k.at_ms > clock.elapsed_ms()) u_sleep_ms(static_cast<int>(k.at_ms - clock.elapsed_ms()));
    by_hand(k.line);
    int32_t kind = -1, key = -1;
    EXPECT_EQ(c.driver->get_event(c, &kind, &key), k.code);
    EXPECT_EQ(kind, k.kind);
    if (k.kind == MC_EVENT_FKEY) {
      EXPECT_EQ(key, k.key);
    }
  }
  EXPECT_DOUBLE_EQ(c.axes[0].lastReported, 1.0);
  EXPECT_EQ(c.axes[5].lastReported, MC_INVALID);
  EXPECT_EQ(c.state, MC_STATE_RESET);
  EXPECT_NE(log.str().find("mc_get_event_nova *mcState = MC_STATE_ESTOP\n"), std::string::npos);
}

// What the controller cannot do is answered at once, without a byte on
// the line, with neutral values; an axis without external closed loop has
// nothing to ask either.
TEST_F(McNova, EntriesWithoutACommandStayOffTheLine) {
  const std::set<std::string> silent = {
      "vector_motion", "get_vector_motion", "queue_joystick", "delay_motion",
      "get_delay_motion", "cancel_delayed_motion", "enable_auto_clamp", "disable_auto_clamp",
      "enable_auto_focus", "disable_auto_focus", "auto_focus_zero_set", "auto_focus_zero_clear",
      "is_auto_focus_enabled", "is_auto_focus_zero_set", "is_stage_clamped",
      "supports_ext_closed_loop", "get_ext_closed_loop", "set_ext_closed_loop",
      "amplifier_fault", "align_view_indicator"};
  std::vector<int32_t> out;
  for (const mc_entries::Entry& e : mc_entries::all()) {
    if (silent.count(e.name) == 0) continue;
    SCOPED_TRACE(e.name);
    EXPECT_EQ(mc_entries::run(e, c, out), 0);
    EXPECT_EQ(out, mc_entries::neutral(e));
    EXPECT_EQ(written(), "");
  }
  int yes = -1;
  EXPECT_EQ(c.driver->supports_ext_closed_loop(c, MC_AXES, &yes), ERR_MC_INVALID_AXIS);
  EXPECT_EQ(yes, 0);
  EXPECT_EQ(c.driver->set_ext_closed_loop(c, -1, 1), ERR_MC_INVALID_AXIS);
  EXPECT_EQ(c.driver->get_ext_closed_loop(c, MC_AXES, &yes), ERR_MC_INVALID_AXIS);
  EXPECT_EQ(c.driver->amplifier_fault(c, MC_AXES, &yes), ERR_MC_INVALID_AXIS);
}

// The pump reads every line waiting, and only those; recovery throws away
// what is left on the line.
TEST_F(McNova, EventPumpReadsWhatWaitsAndRecoveryClearsTheRest) {
  by_hand(wire("RF 2") + wire("EP"));
  c.driver->event_pump(c);
  EXPECT_EQ(peer.pending_input(), 0u);
  EXPECT_EQ(c.state, MC_STATE_ESTOP);
  c.driver->event_pump(c);  // nothing waiting: returns without waiting
  EXPECT_EQ(clock.elapsed_ms(), 0);
  peer.push("RS 1 2 garbage");
  EXPECT_EQ(c.driver->recover(c), 0);
  EXPECT_EQ(peer.pending_input(), 0u);
  EXPECT_EQ(written(), "");
}

TEST(McNovaStages, ZHomingClassesByStageNumber) {
  const std::pair<int32_t, bool> cases[] = {
      {0, false},     {49999, false}, {50000, true},  {52999, true},  {53000, false},
      {71000, true},  {71999, true},  {72000, false}, {651000, true}, {680000, true},
      {689999, true}, {690000, false}};
  for (const auto& [stage, yes] : cases) EXPECT_EQ(mc_stage_homes_z_at_limit(stage), yes) << stage;
}

TEST_F(McNova, OpenFailureIsReported) {
  mc_ctrl_t other;
  other.kind = MC_KIND_SERIAL;
  EXPECT_EQ(mc_open_comm_nova(other, "COM99"), ERR_MC_COMM);
  EXPECT_EQ(other.port.handle, SIO_INVALID_HANDLE);
  EXPECT_NE(log.str().find("mc_open_comm_nova() error opening COM99 err="), std::string::npos);
  other.kind = MC_KIND_PMAC;
  EXPECT_EQ(mc_open_comm_nova(other, "COM7"), ERR_MC_WRONG_MC);
}

// ---- the axis layer's conversions and stacks

// Records the entries the layer calls; fails queuing of one axis on request.
class Recorder final : public McDriver {
 public:
  std::string calls;
  int fail_axis = -1;
  int enable_joystick(mc_ctrl_t&, int axis) override { return note("enable", axis, 0); }
  int disable_joystick(mc_ctrl_t&, int axis) override { return note("disable", axis, 0); }
  int enable_pos_report(mc_ctrl_t&) override { return note("reports", 1, 0); }
  int disable_pos_report(mc_ctrl_t&) override { return note("reports", 0, 0); }
  int set_velocity(mc_ctrl_t&, int axis, int32_t v) override { return note("velocity", axis, v); }
  int queue_joystick(mc_ctrl_t&, int axis, int op) override {
    note("queue", axis, op);
    return axis == fail_axis && op < 2 ? ERR_MC_MISC : 0;
  }
  int num_axes(const mc_ctrl_t&) const override { return 6; }

 private:
  int note(const char* what, int a, int b) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s %d %d;", what, a, b);
    calls += buf;
    return 0;
  }
};

class McUnits : public ::testing::Test {
 protected:
  McUnits() {
    auto r = std::make_unique<Recorder>();
    rec = r.get();
    c.driver = std::move(r);
    six_axes(c);
  }
  felbrin::test::LogCapture log;
  mc_ctrl_t c;
  Recorder* rec;
};

TEST_F(McUnits, UserUnitsToCounts) {
  c.axes[3].letter = 'R';
  c.axes[3].stepsPerRev = 3600;
  c.axes[3].encSteps = 1;
  c.axes[4].active = 0;
  const struct {
    int axis;
    double value;
    int code;
    int32_t counts;
  } cases[] = {
      {3, 1.0, 0, 10},      {0, -0.00025, 0, -1},  {0, 0.00025, 0, 1},  {0, 0.0002, 0, 0},
      {4, 1.0, 0, 0},       {9, 1.0, 0, 0},        {0, 1e300, ERR_MC_RANGE, 0},
      {0, 1073741.824, ERR_MC_RANGE, 0},          {0, std::nan(""), ERR_MC_RANGE, 0},
      {0, -1073741.824, 0, INT32_MIN},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.value);
    int32_t counts = 7;
    EXPECT_EQ(mc_to_counts(c, k.axis, k.value, &counts), k.code);
    EXPECT_EQ(counts, k.counts);
  }
}

TEST_F(McUnits, CountsToUserUnits) {
  c.tAxis = 5;
  c.axes[5].letter = 'T';
  c.axes[5].stepsPerRev = 360;
  c.axes[5].encSteps = 1;  // a count per degree
  EXPECT_DOUBLE_EQ(mc_to_user(c, 5, 190), -170);
  EXPECT_DOUBLE_EQ(mc_to_user(c, 5, 180), 180);
  EXPECT_DOUBLE_EQ(mc_to_user(c, 5, -180), 180);  // the half turn is +180 from either side
  c.axes[1].active = 0;
  EXPECT_DOUBLE_EQ(mc_to_user(c, 5, -10), 350);
  c.axes[0].homePosOffset = 0.25;
  EXPECT_DOUBLE_EQ(mc_to_user(c, 0, 1000), 0.25);
  c.axes[0].pitch = 0;
  EXPECT_EQ(mc_to_user(c, 0, 1000), MC_INVALID);
}

TEST_F(McUnits, LinearVelocityNeedsAFactor) {
  double actual = 0;
  EXPECT_EQ(mc_set_lin_velocity(c, 0, 1.0, &actual), ERR_MC_INVALID_CONFIG);
  EXPECT_EQ(rec->calls, "");
  c.config.axes[0].mult = 1000;  // 2000 x 1000 x 32768 / 8000000 = 8192 per inch/s
  ASSERT_EQ(mc_set_lin_velocity(c, 0, 0.5, &actual), 0);
  EXPECT_EQ(rec->calls, "velocity 0 4096;");
  EXPECT_DOUBLE_EQ(actual, 0.5);
  EXPECT_EQ(mc_set_lin_velocity(c, 0, 1e6, &actual), ERR_MC_RANGE);
}

TEST_F(McUnits, JoystickStackAppliesOnlyChanges) {
  c.joyMask = MC_JOY_ALL;
  const struct {
    std::function<int(mc_ctrl_t&)> op;
    std::string calls;
    uint8_t mask;
  } steps[] = {
      {[](mc_ctrl_t& m) { return mc_push_joystick(m, MC_JOY_ALL); }, "", MC_JOY_ALL},
      {[](mc_ctrl_t& m) { return mc_push_joystick(m, 0x05); }, "queue 1 1;queue 3 1;queue 4 1;queue 5 1;queue 0 2;", 0x05},
      {[](mc_ctrl_t& m) { return mc_push_joystick(m, 0); }, "disable 8 0;", 0},
      {[](mc_ctrl_t& m) { return mc_pop_joystick(m); }, "queue 0 0;queue 2 0;queue 0 2;", 0x05},
      {[](mc_ctrl_t& m) { return mc_pop_joystick(m); }, "enable 8 0;", MC_JOY_ALL},
      {[](mc_ctrl_t& m) { return mc_pop_joystick(m); }, "", MC_JOY_ALL},
      {[](mc_ctrl_t& m) { return mc_push_pos_report(m, 0); }, "", MC_JOY_ALL},
      {[](mc_ctrl_t& m) { return mc_push_pos_report(m, 1); }, "reports 1 0;", MC_JOY_ALL},
      {[](mc_ctrl_t& m) { return mc_pop_pos_report(m); }, "reports 0 0;", MC_JOY_ALL},
  };
  for (const auto& s : steps) {
    rec->calls.clear();
    EXPECT_EQ(s.op(c), 0);
    EXPECT_EQ(rec->calls, s.calls);
    EXPECT_EQ(c.joyMask, s.mask);
  }
  EXPECT_EQ(log.str(), "");
}

// After "all on" and homing of the three axes a stage has, the mask holds
// only absent axes; switching all off and back must not touch them.
TEST_F(McUnits, JoystickRestoreLeavesAbsentAxesAlone) {
  for (int axis = 3; axis < MC_AXES; ++axis) c.axes[axis].active = 0;
  c.joyMask = 0x38;
  ASSERT_EQ(mc_push_joystick(c, 0), 0);
  rec->calls.clear();
  EXPECT_EQ(mc_pop_joystick(c), 0);
  EXPECT_EQ(rec->calls, "");
  EXPECT_EQ(c.joyMask, 0x38);
  EXPECT_EQ(mc_push_joystick(c, 0x3A), 0);  // only axis 1 changes
  EXPECT_EQ(rec->calls, "queue 1 0;queue 0 2;");
}

TEST_F(McUnits, StackMisuseAndGrowth) {
  for (int i = 0; i < 11; ++i) ASSERT_EQ(mc_push_joystick(c, 0), 0);
  EXPECT_EQ(log.str(), "mc_push_joystick: stack size has increased to 20\n");
  c.joyStack.top = -1;
  log.clear();
  EXPECT_EQ(mc_pop_joystick(c), 0);
  EXPECT_EQ(log.str(), "mc_pop_joystick: invalid stack index -1\n");
  c.posReportStack.top = 3;
  log.clear();
  EXPECT_EQ(mc_pop_pos_report(c), ERR_INTERNAL_FB);
  EXPECT_EQ(log.str(), "mc_pop_pos_report: stack is NULL\n");

  c.joyMask = 0;
  rec->fail_axis = 2;
  rec->calls.clear();
  log.clear();
  EXPECT_EQ(mc_push_joystick(c, 0x07), ERR_MC_MISC);
  EXPECT_EQ(rec->calls, "queue 0 0;queue 1 0;queue 2 0;queue 0 3;");
  EXPECT_EQ(log.str(), "mc_push_joystick: error queuing joysticks, axis 2\n");
  EXPECT_EQ(c.joyMask, 0);
}

// Saved per-axis flags come back as enables only, within the driver's
// axes; a queuing failure clears the queue and leaves the mask.
TEST_F(McUnits, RestoreJoystickEnablesTheSavedAxes) {
  const struct {
    std::vector<uint8_t> flags;
    int fail_axis;
    int code;
    std::string calls;
    uint8_t mask;
  } cases[] = {
      {{1, 1, 1, 1, 1, 1, 1, 1}, -1, 0, "enable 8 0;", MC_JOY_ALL},
      {{1, 0, 1, 0, 0, 0, 1, 1}, -1, 0, "queue 0 0;queue 2 0;queue 0 2;", 0x05},
      {{0, 1, 1, 0, 0, 0, 0, 0}, 2, ERR_MC_MISC, "queue 1 0;queue 2 0;queue 0 3;", 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.calls);
    c.joyMask = 0;
    rec->fail_axis = k.fail_axis;
    rec->calls.clear();
    EXPECT_EQ(mc_restore_joystick(c, k.flags.data()), k.code);
    EXPECT_EQ(rec->calls, k.calls);
    EXPECT_EQ(c.joyMask, k.mask);
  }
  EXPECT_EQ(log.str(), "mc_restore_joystick: error queuing joysticks, axis 2\n");
}

TEST(McUnitsText, StatusTexts) {
  EXPECT_STREQ(mc_status_text(5, 23), "Invalid axis move: move too large");
  EXPECT_STREQ(mc_status_text(5, 1), "Invalid axis move: no error ?");
  EXPECT_STREQ(mc_status_text(9, 0), "bad status value");
  EXPECT_EQ(mc_axis_error_code(19), ERR_MC_Z_AXIS_HIT_Z_STOP);
  EXPECT_EQ(mc_axis_error_code(12), 0);
}

}  // namespace
