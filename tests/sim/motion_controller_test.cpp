// The simulated serial motion controller on the in-memory link, driven
// through the serial layer on virtual time. Every line here carries its
// checksum worked out by hand: the byte sum, its low six bits, 0x40 set.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/util.h"
#include "instrument/serial/serial_port.h"
#include "sim/memory_serial.h"
#include "sim/motion_controller.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::VirtualClock;
using sim::MotionController;
using sim::to_bytes;

const std::string kAck = "\x06" "F\n";
const std::string kNak = "\x15" "U\n";

TEST(SimMotionChecksum, HandWorkedValues) {
  // "RS ": 0x52 + 0x53 + 0x20 = 0xC5, low six bits 0x05, with 0x40 'E'.
  EXPECT_EQ(sim::motion_checksum(to_bytes("RS ")), 'E');
  EXPECT_EQ(sim::motion_checksum(to_bytes("\x06")), 'F');
  EXPECT_EQ(sim::motion_checksum(to_bytes("\x15")), 'U');
  EXPECT_EQ(sim::motion_checksum(to_bytes("FH 1 ")), 0x7F);
  EXPECT_EQ(sim::motion_checksum({}), 0x40);
}

class SimMotion : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sio_open_with(backend, "COM5", &port), 0);
    // 9600 8N1 without XON/XOFF, as the controller's host opens it: a read
    // ends 2 s after it began.
    ASSERT_EQ(sio_init(port.handle, nullptr, 0), 0);
    peer.on_write([this] { runner.step(0); });
    peer.on_look([this] {
      runner.step(0);
      return runner.next_due();
    });
  }
  void TearDown() override { sio_close(&port); }

  void send(const std::string& line) {
    uint32_t written = 0;
    ASSERT_EQ(sio_send_data(port.handle, reinterpret_cast<const uint8_t*>(line.data()),
                            static_cast<uint32_t>(line.size()), &written), 0);
  }
  // One line as the host reads it, byte by byte up to LF; "" on a timeout.
  std::string line() {
    std::string out;
    for (;;) {
      uint8_t b = 0;
      uint32_t got = 0;
      if (sio_read_data(port.handle, &b, 1, &got) != 0 || got != 1) return "";
      out += static_cast<char>(b);
      if (b == '\n') return out;
    }
  }
  std::string lines(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += line();
    return out;
  }
  std::string ask(const std::string& request, int answer_lines = 1) {
    send(request);
    return lines(answer_lines);
  }

  VirtualClock clock;
  felbrin::test::LogCapture log;
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM5");
  sim::MemoryTransport transport{peer, "COM5"};
  sim::Script script;
  MotionController model;
  sim::Runner runner{transport, model.framer(), script, model};
  sio_port_t port;
};

TEST_F(SimMotion, HostLinesGetTheirAnswers) {
  const struct {
    const char* request;
    std::string answer;
    int lines;
  } cases[] = {
      {"RS E\n", kAck + "RS 2 2 2 2 2 2 2c\n", 2},
      {"RR D\n", kAck + "RR 2 3 i\n", 2},
      {"RC u\n", kAck + "RC NOVA 1 0 j\n", 2},
      {"HS 0 K\n", kAck + "HS 0 0 [\n", 2},
      {"RP B\n", kAck + "RP 0 0 0 0 0 0B\n", 2},
      {"AA 1 500 h\n", kAck, 1},
      {"FK   AB T\n", kAck, 1},
      {"RS F\n", kNak, 1},          // spoiled checksum
      {"XX P\n", kNak, 1},          // unknown code
      {"AA 1 32768 ]\n", kNak, 1},  // acceleration out of range
      {"MV 6 100 J\n", kNak, 1},    // a move names one axis
      {"\n", kNak, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::printable(to_bytes(c.request)));
    EXPECT_EQ(ask(c.request, c.lines), c.answer);
  }
  EXPECT_EQ(model.commands(), (std::vector<std::string>{"RS ", "RR ", "RC ", "HS 0 ", "RP ", "AA 1 500 ", "FK   AB "}));
  EXPECT_EQ(model.fkey_labels(), std::vector<std::string>{"AB"});
  EXPECT_EQ(model.axis(1).accel, 500);
  EXPECT_EQ(model.naks(), 5);
}

TEST_F(SimMotion, MovesTakeExactlyTheirTime) {
  // Counts per millisecond are the velocity / 4.096, and a move's last
  // partial millisecond counts whole.
  const struct {
    const char* velocity;
    const char* move;
    int64_t counts;
    int64_t ms;
  } cases[] = {
      {"AR 0 4096 v\n", "MV 0 2000000e\n", 2000000, 2000},
      {"AR 0 1024 j\n", "MV 0 1000T\n", 1000, 4},
      {"AR 0 1 T\n", "MV 0 1D\n", 1, 5},
      {"AR 0 16383 h\n", "MV 0 16777215w\n", 16777215, 4195},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.move);
    model.set_axis(0, {});
    ASSERT_EQ(ask(c.velocity), kAck);
    ASSERT_EQ(ask(c.move), kAck);
    u_sleep_ms(static_cast<int>(c.ms - 1));
    EXPECT_EQ(model.axis(0).status, MotionController::kMoving);
    EXPECT_LT(model.axis(0).position, c.counts);
    u_sleep_ms(1);
    EXPECT_EQ(model.axis(0).status, MotionController::kStopped);
    EXPECT_EQ(model.axis(0).position, c.counts);
  }
  model.set_axis(0, {});
  ASSERT_EQ(ask("AR 0 4096 v\n"), kAck);
  ASSERT_EQ(ask("MV 0 1000T\n"), kAck);
  EXPECT_EQ(ask("RS E\n", 2), kAck + "RS 1 2 2 2 2 2 2b\n");
  u_sleep_ms(1);
  EXPECT_EQ(ask("RP B\n", 2), kAck + "RP 1000 0 0 0 0 0S\n");
}

TEST_F(SimMotion, RefusedMovesShowStatusFiveAndTheirError) {
  const struct {
    const char* name;
    std::function<void()> before;
    const char* move;
    int error;
  } cases[] = {
      {"absolute without home", [&] { ask("MM 0 1 [\n"); }, "MV 0 1000T\n", MotionController::kNoHome},
      {"beyond 24 bits", [] {}, "MV 0 16777216x\n", MotionController::kTooLarge},
      {"joystick on", [&] { ask("JE 0 \x7f\n"); }, "MV 0 1000T\n", MotionController::kJoystickOn},
      {"still moving", [&] { ask("MV 0 1000T\n"); }, "MV 0 1000T\n", MotionController::kBusy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    model.set_axis(0, {});
    ask("MM 0 0 Z\n");
    c.before();
    ASSERT_EQ(ask(c.move), kAck);
    EXPECT_EQ(model.axis(0).status, MotionController::kInvalidMove);
    EXPECT_EQ(model.axis(0).error, c.error);
  }
  EXPECT_EQ(ask("RE w\n", 2), kAck + "RE 12 0 0 0 0 0 0z\n");
}

TEST_F(SimMotion, HomeReplyComesUnaskedWhenTheSearchEnds) {
  model.set_home_delay_ms(1500);
  ASSERT_EQ(ask("FH 1 \x7f\n"), kAck);
  const int64_t sent = clock.elapsed_ms();
  EXPECT_EQ(line(), "FH 1 1 P\n");
  EXPECT_EQ(clock.elapsed_ms() - sent, 1500);
  EXPECT_TRUE(model.axis(1).homed);

  // A search that is stopped never answers.
  ASSERT_EQ(ask("FH 1 \x7f\n"), kAck);
  ASSERT_EQ(ask("ST 1 X\n"), kAck);
  EXPECT_EQ(line(), "");
  EXPECT_FALSE(model.axis(1).homed);
}

TEST_F(SimMotion, ZHomeDrivesToTheLimitThenTakesTheReference) {
  MotionController::AxisSetup z;
  z.high_limit = 8000;
  model.set_axis(2, z);
  ASSERT_EQ(ask("MM 2 0 \\\n"), kAck);
  EXPECT_EQ(ask("ZH 8388607z\n", 2), kAck + "ZH 1s\n");  // not at the limit yet
  ASSERT_EQ(ask("MV 2 16777215y\n"), kAck);
  u_sleep_ms(8);
  EXPECT_EQ(ask("RS E\n", 2), kAck + "RS 2 2 3 2 2 2 2d\n");
  EXPECT_EQ(ask("RE w\n", 2), kAck + "RE 0 0 18 0 0 0 0@\n");
  EXPECT_EQ(ask("ZH 8388607z\n", 2), kAck + "ZH 0r\n");
  EXPECT_EQ(ask("RP B\n", 2), kAck + "RP 0 0 8388607 0 0 0J\n");
  EXPECT_TRUE(model.axis(2).homed);
  // The switch stayed where it was.
  ASSERT_EQ(ask("MV 2 16777215y\n"), kAck);
  u_sleep_ms(1);
  EXPECT_EQ(model.axis(2).error, MotionController::kLimit);
}

TEST_F(SimMotion, UnsolicitedLinesArriveOnTime) {
  ASSERT_EQ(ask("PE u\n"), kAck);
  const int64_t on = clock.elapsed_ms();
  EXPECT_EQ(line(), "RP 0 0 0 0 0 0B\n");
  EXPECT_EQ(clock.elapsed_ms() - on, 200);
  ASSERT_EQ(ask("PD t\n"), kAck);

  EXPECT_FALSE(model.press_function_key(2));
  ASSERT_EQ(ask("FE k\n"), kAck);
  EXPECT_TRUE(model.press_function_key(2));
  EXPECT_EQ(line(), "RF 2j\n");

  model.emergency_stop();
  EXPECT_EQ(line(), "EPU\n");
  EXPECT_EQ(ask("RS E\n", 2), kAck + "RS 7 7 7 7 7 7 7F\n");
  EXPECT_EQ(ask("RE w\n", 2), kAck + "RE 21 21 21 21 21 21 21l\n");
  model.release_emergency_stop();
  EXPECT_EQ(line(), "ELQ\n");

  // Firmware older than 0.4 has no reports.
  model.set_firmware(0, 3);
  EXPECT_EQ(ask("PE u\n"), kNak);
}

TEST_F(SimMotion, ScriptFaultsComeBeforeTheModel) {
  const std::vector<uint8_t> nak = to_bytes(kNak);
  script.nak(2, nak);
  EXPECT_EQ(ask("RS E\n"), kNak);
  EXPECT_EQ(ask("RS E\n"), kNak);
  EXPECT_EQ(ask("RS E\n", 2), kAck + "RS 2 2 2 2 2 2 2c\n");

  script.add(sim::Turn{}.corrupt_checksum());
  EXPECT_EQ(ask("RS E\n", 2), "\x06G\nRS 2 2 2 2 2 2 2c\n");

  const std::vector<uint8_t> junk = to_bytes("~~\n");
  script.add(sim::Turn{}.noise(junk));
  EXPECT_EQ(ask("RR D\n", 3), "~~\n" + kAck + "RR 2 3 i\n");

  script.add(sim::Turn{}.silence());
  send("RR D\n");
  const int64_t sent = clock.elapsed_ms();
  EXPECT_EQ(line(), "");
  EXPECT_EQ(clock.elapsed_ms() - sent, 2000);
  // The controller still took the command.
  EXPECT_EQ(model.commands().size(), 4u);
}

}  // namespace
