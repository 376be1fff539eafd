// The temperature controller's protocol against the simulated controller on
// the in-memory link and the virtual clock: the controller answers inside
// the write that asked, so each exchange is one library call. Faults of the
// line come from the script; answers a healthy controller never gives are
// pushed whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/temperature.h"
#include "sim/framer.h"
#include "sim/memory_serial.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/temperature_controller.h"
#include "sim/transport.h"
#ifndef _WIN32
#include "sim/pty_transport.h"
#endif
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, NAK = 0x15;

Bytes cat(std::initializer_list<Bytes> parts) {
  std::size_t n = 0;
  for (const Bytes& p : parts) n += p.size();
  Bytes out(n);
  auto at = out.begin();
  for (const Bytes& p : parts) at = std::copy(p.begin(), p.end(), at);
  return out;
}

Bytes bytes(const std::string& s) { return {s.begin(), s.end()}; }

// STX, text, ETX and the XOR of text and ETX, worked out here.
Bytes block(const std::string& text) {
  uint8_t x = ETX;
  for (char c : text) x = static_cast<uint8_t>(x ^ static_cast<uint8_t>(c));
  return cat({{STX}, bytes(text), {ETX, x}});
}

Bytes write_request(const std::string& text) { return cat({{EOT}, bytes("0011"), block(text)}); }
Bytes read_request(const std::string& mnemonic) { return cat({{EOT}, bytes("0011"), bytes(mnemonic), {ENQ}}); }

// "char: 0x..\n" for each byte.
std::string char_lines(const Bytes& b) {
  std::string s;
  for (uint8_t c : b) {
    char line[16];
    std::snprintf(line, sizeof line, "char: 0x%x\n", c);
    s += line;
  }
  return s;
}

// The controller on a line of the in-memory back end, opened through the
// record's temperature port and device text.
class Controller {
 public:
  Controller() : runner(line, model.framer(), script, model), saved_backend(sio_set_backend(&backend)) {
    peer.on_write([this] { runner.step(0); });
    sysInfo[0] = sysInfo_t{};
    info.tempSensor = TEMP_EURO2216E;
    info.tempSensorText = "COM7";
    EXPECT_EQ(temp_comm_open(&info.tempPort, info.tempSensorText.c_str()), 0);
  }
  ~Controller() {
    temp_comm_close(&info.tempPort);
    sio_set_backend(saved_backend);
    sysInfo[0] = sysInfo_t{};
  }
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  sio_handle_t handle() const { return info.tempPort.handle; }
  // temp_comm_write with `text` in a buffer of `capacity` bytes.
  int write(std::string& text, int type, std::size_t capacity = 32) {
    std::vector<char> buffer(std::max(capacity, text.size() + 1));
    std::copy(text.begin(), text.end(), buffer.begin());
    const int rc = temp_comm_write(handle(), buffer.data(), capacity, static_cast<int>(text.size()), type);
    text = buffer.data();
    return rc;
  }

  VirtualClock clock;
  LogCapture log;
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM7");
  sim::MemoryTransport line{peer, "COM7"};
  sim::Script script;
  sim::TemperatureController model;
  sim::Runner runner;
  plat::SerialBackend* saved_backend;
  sysInfo_t& info = sysInfo[0];
};

// One exchange per row: what goes out, what the line or the controller does
// with it, and what the caller gets back.
TEST(TempExchange, WritesReadsAndTheirFaults) {
  struct Case {
    const char* name;
    std::string text;
    int type;
    std::size_t capacity;
    sim::Turn turn;
    int rc;
    std::string text_after;
    std::string log;
    int64_t elapsed_ms = 0;
  };
  const std::string a252(252, 'A');
  const std::string report = char_lines(cat({{STX}, bytes("EE>0002"), {ETX}}));
  const Case cases[] = {
      // "IM0002." and ETX XOR to 0x2B.
      {"write", "IM0002.", 1, 8,
       sim::Turn{}.expect(Bytes{EOT, '0', '0', '1', '1', STX, 'I', 'M', '0', '0', '0', '2', '.', ETX, 0x2B}), 0,
       "IM0002.", ""},
      {"read", "PV", 2, 5, sim::Turn{}.expect(Bytes{EOT, '0', '0', '1', '1', 'P', 'V', ENQ}), 0, "20.0", ""},
      {"any byte but NAK accepts a write", "IM0002.", 1, 8, sim::Turn{}.nak(Bytes{'?'}), 0, "IM0002.", ""},
      {"unknown write: the error report", "XX1.", 1, 8, sim::Turn{}, ERR_TEMP_SENSOR_COMM, "XX1.",
       "temp_comm_read: received NAK\n" + report, 100},
      {"unknown read", "ZZ", 2, 8, sim::Turn{}, ERR_TEMP_SENSOR_COMM, "ZZ",
       "temp_comm_read: received EOT, respType=2\n"},
      {"reply naming another mnemonic", "PV", 2, 8, sim::Turn{}.nak(block("SL20.0")), ERR_TEMP_SENSOR_READ, "PV", ""},
      // "PV20.0" and ETX XOR to 25.
      {"spoilt block check", "PV", 2, 8, sim::Turn{}.corrupt_checksum(), ERR_TEMP_SENSOR_CHECKSUM, "PV",
       "temp_comm_read: checksums mismatched: sent=24 calc=25\n"},
      {"NUL inside the value", "PV", 2, 8, sim::Turn{}.nak(block(std::string("PV\0002", 4))), ERR_TEMP_SENSOR_READ,
       "PV", "temp_comm_write: NUL byte in the value of PV\n"},
      {"value one byte too long for the buffer", "PV", 2, 4, sim::Turn{}, ERR_TEMP_SENSOR_READ, "PV", ""},
      {"255 bytes through ETX, value fits", "PV", 2, 253, sim::Turn{}.nak(block("PV" + a252)), 0, a252, ""},
      {"255 bytes through ETX, one byte short", "PV", 2, 252, sim::Turn{}.nak(block("PV" + a252)),
       ERR_TEMP_SENSOR_READ, "PV", ""},
      {"ETX as the 256th byte", "PV", 2, 300, sim::Turn{}.nak(block("PV" + a252 + "A")), ERR_TEMP_SENSOR_READ, "PV",
       "temp_comm_read: i=TEMP_STR_MAX_LEN\n"},
      {"256 bytes without ETX", "PV", 2, 300, sim::Turn{}.nak(cat({{STX}, Bytes(256, 'A')})), ERR_TEMP_SENSOR_READ,
       "PV", "temp_comm_read: i=TEMP_STR_MAX_LEN\n"},
      {"cut off inside the block", "PV", 2, 8, sim::Turn{}.partial(3), ERR_TEMP_SENSOR_READ, "PV",
       "temp_comm_read: sio_read_data failed: ERR_TEMP_SENSOR_READ\n", 2000},  // the port's own timeout
      {"silent on a write", "IM0002.", 1, 8, sim::Turn{}.silence(), ERR_TEMP_SENSOR_TIMEOUT, "IM0002.",
       "temp_comm_read: timeout on first byte, respType=1\n", 10000},
      {"silent on a read", "PV", 2, 8, sim::Turn{}.silence(), ERR_TEMP_SENSOR_TIMEOUT, "PV",
       "temp_comm_read: timeout on first byte, respType=2\n", 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Controller t;
    const uint32_t timeout = t.peer.timeouts().ReadTotalTimeoutConstant;
    t.script.add(c.turn);
    std::string text = c.text;
    EXPECT_EQ(t.write(text, c.type, c.capacity), c.rc);
    EXPECT_TRUE(t.script.mismatches().empty()) << t.script.mismatches().front();
    EXPECT_EQ(text, c.text_after);
    EXPECT_EQ(t.log.str(), c.log);
    EXPECT_EQ(t.clock.elapsed_ms(), c.elapsed_ms);
    EXPECT_EQ(t.peer.timeouts().ReadTotalTimeoutConstant, timeout);
  }
}

TEST(TempExchange, RefusedBeforeSendingAndNoLine) {
  Controller t;
  char text[4] = "PV";
  EXPECT_EQ(temp_comm_write(t.handle(), text, sizeof text, 5, TEMP_MSG_READ), ERR_INVALID_PARAM);
  EXPECT_EQ(temp_comm_write(t.handle(), text, sizeof text, 2, 3), ERR_TEMP_SENSOR_COMM);
  std::string reply = "stale";
  t.peer.push(Bytes{ACK});
  EXPECT_EQ(temp_comm_read(t.handle(), &reply, 3), ERR_TEMP_SENSOR_COMM);
  EXPECT_EQ(t.runner.requests(), 0);
  // A handle of no line does nothing at all.
  for (sio_handle_t h : {SIO_INVALID_HANDLE, sio_handle_t{0}}) {
    EXPECT_EQ(temp_comm_write(h, text, sizeof text, 2, TEMP_MSG_READ), 0);
    EXPECT_STREQ(text, "PV");
    reply = "stale";
    EXPECT_EQ(temp_comm_read(h, &reply, TEMP_MSG_READ), 0);
    EXPECT_EQ(reply, "");
  }
  EXPECT_EQ(temp_comm_close(nullptr), 0);
  EXPECT_EQ(t.log.str(), "temp_comm_read: unknown response type 3\n");
}

// ---- the error query after a NAK

// The report is logged up to ETX, and the line is left empty: the block
// check after ETX, left behind, was taken for the acceptance of the next
// write.
TEST(TempErrorQuery, LogsTheReportAndLeavesTheLineEmpty) {
  const Bytes query = {EOT, '0', '0', '1', '1', 'E', 'E'};
  const std::pair<sim::Turn, std::string> cases[] = {
      {sim::Turn{}.expect(query), char_lines(cat({{STX}, bytes("EE>0002"), {ETX}}))},
      {sim::Turn{}.expect(query).silence(), "temp_comm_read: EE err3 error\n"},
      // A line that keeps chattering is read for 256 bytes.
      {sim::Turn{}.expect(query).nak(Bytes(300, 'A')), char_lines(Bytes(256, 'A'))},
  };
  for (const auto& [turn, log] : cases) {
    SCOPED_TRACE(log.substr(0, 40));
    Controller t;
    t.script.add(sim::Turn{}.expect(write_request("XX1.")));
    t.script.add(turn);
    std::string text = "XX1.";
    EXPECT_EQ(t.write(text, TEMP_MSG_WRITE), ERR_TEMP_SENSOR_COMM);
    EXPECT_TRUE(t.script.mismatches().empty()) << t.script.mismatches().front();
    EXPECT_EQ(t.log.str(), "temp_comm_read: received NAK\n" + log);
    EXPECT_EQ(t.peer.pending_input(), 0u);
    // Refused again, and not accepted by a byte of the last report.
    std::string again = "XX1.";
    EXPECT_EQ(t.write(again, TEMP_MSG_WRITE), ERR_TEMP_SENSOR_COMM);
    EXPECT_EQ(t.model.writes(), std::vector<std::string>{});
  }
}

// ---- the Lumen start-up

TEST(TempStartup, FourWritesThenFiveSecondsOrTheFirstRefusal) {
  {
    Controller t;
    EXPECT_EQ(temp_lumen_startup(t.handle()), 0);
    EXPECT_EQ(t.model.writes(), (std::vector<std::string>{"IM0002.", "QD0002.", "Q10000.", "IM0000."}));
    EXPECT_EQ(t.clock.elapsed_ms(), 5000);
  }

  Controller refused;
  refused.script.add(sim::Turn{});
  refused.script.nak(1, Bytes{NAK});
  EXPECT_EQ(temp_lumen_startup(refused.handle()), ERR_TEMP_SENSOR_COMM);
  EXPECT_EQ(refused.model.writes(), std::vector<std::string>{"IM0002."});
  EXPECT_EQ(refused.runner.requests(), 3);  // two writes and the error query
  EXPECT_EQ(refused.clock.elapsed_ms(), 100);  // the line emptied, no settling
}

// ---- the line

TEST(TempLine, OpensSevenEvenOneAndReportsFailures) {
  Controller t;
  const sio_dcb_t s = t.peer.state();
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 7);
  EXPECT_EQ(s.Parity, 2);
  EXPECT_EQ(s.StopBits, SIO_ONESTOPBIT);
  EXPECT_EQ(s.fOutX + s.fInX, 0u);
  // The open line survives the record being read again.
  const sio_handle_t h = t.handle();
  sb_resetCal(&t.info);
  EXPECT_EQ(t.handle(), h);

  ASSERT_EQ(temp_comm_close(&t.info.tempPort), 0);
  EXPECT_EQ(temp_comm_close(&t.info.tempPort), ERR_TEMP_SENSOR_COMM);
  EXPECT_EQ(temp_comm_open(&t.info.tempPort, "COM99"), ERR_TEMP_SENSOR_COMM);
  t.peer.fail(sim::SerialOp::set_state, 1);
  EXPECT_EQ(temp_comm_open(&t.info.tempPort, "COM7"), ERR_TEMP_SENSOR_COMM);
  EXPECT_FALSE(t.peer.is_open());
  EXPECT_EQ(t.log.str(),
            "temp_comm_close: sio_close failed: ERR_SERIAL_NOT_OPEN\n"
            "temp_comm_open: error initializing device COM99: ERR_CANT_OPEN_SERIAL\n"
            "Com Settings Parameter: (null) is Invalid.\n"
            "temp_comm_open: error initializing device COM7: ERR_CANT_SET_SERIAL\n");
}

// ---- the simulator's framing, fed byte by byte as a slow line delivers it

TEST(TempSim, FramesAndAnswers) {
  ASSERT_EQ(write_request("SL6.").back(), EOT);
  Bytes bad = write_request("SL30.0");
  bad.back() ^= 0x01;
  const std::pair<Bytes, std::vector<Bytes>> cases[] = {
      {write_request("SL6."), {{ACK}}},  // a check equal to EOT starts nothing
      {bad, {{NAK}}},
      {cat({{EOT}, bytes("0011EE")}), {block("EE>0000")}},  // seven bytes, no ENQ
      {cat({bytes("xy"), {EOT}, bytes("00"), read_request("OP")}), {block("OP0.0")}},  // noise, a cut message
      {cat({{EOT}, bytes("0012PV"), {ENQ}}), {{}}},  // another address
  };
  for (const auto& [in, expected] : cases) {
    SCOPED_TRACE(sim::printable(in));
    sim::TemperatureController model;
    std::vector<Bytes> answers;
    for (uint8_t b : in) {
      model.framer().feed(Bytes{b});
      while (const auto f = model.framer().next()) {
        const auto a = model.handle(*f);
        answers.push_back(a.empty() ? Bytes{} : a.front());
      }
    }
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(model.framer().buffered(), 0u);
  }
}

}  // namespace

#ifndef _WIN32
// ---- the operating system's serial back end on a pseudo-terminal, the
// controller on a thread of its own and real time.
TEST(TempPty, WriteAndReadEndToEnd) {
  LogCapture log;
  sim::PtyTransport line;
  ASSERT_TRUE(line.ok());
  sim::Script script;
  sim::TemperatureController model;
  sim::Runner runner(line, model.framer(), script, model);
  sim::BackgroundRunner running(runner);

  sio_port_t port;
  ASSERT_EQ(temp_comm_open(&port, line.device().c_str()), 0) << log.str();
  // A pseudo-terminal keeps 8 data bits and no parity; the port's own state
  // shows what was asked for, the far end the speed.
  sio_dcb_t state{};
  ASSERT_EQ(sio_get_state(port.handle, &state), 0);
  EXPECT_EQ(state.ByteSize, 7);
  EXPECT_EQ(state.Parity, 2);
  EXPECT_EQ(state.StopBits, SIO_ONESTOPBIT);
  plat::PtyPair::Settings far;
  ASSERT_TRUE(line.settings(far));
  EXPECT_EQ(far.baud, 9600u);

  char text[32] = "SL42.0";
  EXPECT_EQ(temp_comm_write(port.handle, text, sizeof text, 6, TEMP_MSG_WRITE), 0) << log.str();
  char read[32] = "SL";
  EXPECT_EQ(temp_comm_write(port.handle, read, sizeof read, 2, TEMP_MSG_READ), 0) << log.str();
  EXPECT_STREQ(read, "42.0");
  EXPECT_EQ(temp_comm_close(&port), 0);
  EXPECT_EQ(log.str(), "");
}
#endif
