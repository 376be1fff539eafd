// The wave monitor protocol against the simulated monitor on the in-memory
// link and the virtual clock (the monitor answers inside the write that
// asked), the reply reader against bytes put on the line by hand, and the
// tuning limits without a line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/util.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/wave_monitor.h"
#include "sim/memory_serial.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"
#include "sim/wave_monitor.h"
#ifndef _WIN32
#include "sim/pty_transport.h"
#endif
#include "tests/support/alloc_hooks.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

// Log text with each leading timestamp replaced by "<t>".
std::string untimed(const std::string& log) {
  static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )");
  return std::regex_replace(log, stamp, "<t> ");
}

Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
  std::size_t n = 0;
  for (const Bytes& p : parts) n += p.size();
  Bytes out(n);
  auto at = out.begin();
  for (const Bytes& p : parts) at = std::copy(p.begin(), p.end(), at);
  return out;
}

// A wave monitor system on a line of the in-memory back end, opened by
// wm_comm_open.
class Monitor {
 public:
  Monitor() : runner(line, model.framer(), script, model), saved_backend(sio_set_backend(&backend)) {
    peer.on_write([this] {
      ++writes;
      runner.step(0);
    });
    sysInfo[0] = sysInfo_t{};
    info.systemType = SYS_HERON;
    info.instrBdType = BD_KITE;
    info.wmComm = "COM7";
    EXPECT_EQ(wm_comm_open(&info), 0);
  }
  ~Monitor() {
    wm_comm_close(&info.waveMonitor.port);
    sio_set_backend(saved_backend);
    sysInfo[0] = sysInfo_t{};
  }
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  sio_port_t* port() { return &info.waveMonitor.port; }

  VirtualClock clock;
  LogCapture log;
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM7");
  sim::MemoryTransport line{peer, "COM7"};
  sim::Script script;
  sim::WaveMonitor model;
  sim::Runner runner;
  plat::SerialBackend* saved_backend;
  sysInfo_t& info = sysInfo[0];
  int writes = 0;
};

// ---- the reader, fed by hand

TEST(WaveMonRead, EachReplyKindAndItsFailures) {
  struct Case {
    const char* name;
    Bytes line;
    int type, resp_len, item_size;
    int rc;
    Bytes reply;       // on success, the bytes the record holds
    std::string log;   // timestamps as <t>
    uint32_t left = 0;  // bytes the reader must not have taken
  };
  const Bytes abc = {'a', 'b', 'c'};
  const Case cases[] = {
      {"ACK", {kAck}, WM_RESP_ACK, 0, -1, 0, {kAck}, ""},
      {"NAK", {kNak}, WM_RESP_ACK, 0, -1, ERR_WM_NAK, {}, "<t> wm_comm_read: ERR_WM_NAK: WM_RESP_ACK: received NAK\n"},
      {"neither", {'A'}, WM_RESP_ACK, 0, -1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_ACK: invalid response 0x41, expected ACK or NAK\n"},
      {"data", abc, WM_RESP_READ, 3, -1, 0, abc, ""},
      {"data, respLen 0, one byte taken", abc, WM_RESP_READ, 0, -1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_READ: invalid respLen = 0\n", 2},
      {"data, short", {'a', 'b'}, WM_RESP_READ, 3, -1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_READ: sio_read_data failed reading response byte 3 of 3\n"},
      {"data and ACK", cat({abc, {kAck}}), WM_RESP_READ_ACK, 3, -1, 0, cat({abc, {kAck}}), ""},
      {"data and NAK", cat({abc, {kNak}}), WM_RESP_READ_ACK, 3, -1, ERR_WM_NAK, {},
       "<t> wm_comm_read: ERR_WM_NAK: WM_RESP_READ_ACK: received NAK\n"},
      {"data and a stray trailer", cat({abc, {0xAB}}), WM_RESP_READ_ACK, 3, -1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_READ_ACK: invalid response 0xAB, expected ACK or NAK\n"},
      {"data without trailer", abc, WM_RESP_READ_ACK, 3, -1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_READ_ACK: sio_read_data failed reading response char 4 of 4\n"},
      // 4 + 2 + 1 bytes.
      {"count 0, respLen 2", cat({le32(0), {'x', 'y', kAck}}), WM_RESP_SIZE_READ_ACK, 2, 4, 0,
       cat({le32(0), {'x', 'y', kAck}}), ""},
      // 4 + 1 + 2 * 3 + 1 bytes.
      {"count 2 of 3 bytes", cat({le32(2), {'h', 1, 2, 3, 4, 5, 6, kAck}}), WM_RESP_SIZE_READ_ACK, 1, 3, 0,
       cat({le32(2), {'h', 1, 2, 3, 4, 5, 6, kAck}}), ""},
      {"count, NAK", cat({le32(0), {'x', kNak}}), WM_RESP_SIZE_READ_ACK, 1, 4, ERR_WM_NAK, {},
       "<t> wm_comm_read: ERR_WM_NAK: WM_RESP_SIZE_READ_ACK: received NAK\n"},
      {"count, stray trailer", cat({le32(0), {'x', 0x07}}), WM_RESP_SIZE_READ_ACK, 1, 4, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: invalid response 0x07, expected ACK or NAK\n"},
      {"count cut short", {2, 0}, WM_RESP_SIZE_READ_ACK, 1, 4, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte 3 of 4\n"},
      {"items cut short", cat({le32(1), {'x', 9}}), WM_RESP_SIZE_READ_ACK, 1, 4, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte 7 of 10\n"},
      // Counts that would overflow or exhaust memory are refused before
      // anything is sized.
      {"count 0xFFFFFFFF", cat({le32(0xFFFFFFFF), {kAck}}), WM_RESP_SIZE_READ_ACK, 0, 1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: invalid item count 4294967295\n", 1},
      {"default item size", cat({le32(1), {kAck}}), WM_RESP_SIZE_READ_ACK, 0, -1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: invalid item count 1\n", 1},
      {"just above 16 MiB", cat({le32(16 * 1024 * 1024 - 4), {kAck}}), WM_RESP_SIZE_READ_ACK, 0, 1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: invalid item count 16777212\n", 1},
      {"exactly 16 MiB, cut short", cat({le32(16 * 1024 * 1024 - 5), {kAck}}), WM_RESP_SIZE_READ_ACK, 0, 1,
       ERR_WM_READ, {}, "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte 6 of 16777216\n"},
      {"negative respLen below 5 in all", cat({le32(0), {kAck}}), WM_RESP_SIZE_READ_ACK, -1, 1, ERR_WM_READ, {},
       "<t> wm_comm_read: ERR_WM_READ: WM_RESP_SIZE_READ_ACK: invalid item count 0\n", 1},
      {"unknown kind: its one byte", abc, 9, 3, -1, 0, {'a'}, "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Monitor m;
    m.peer.push(c.line);
    wm_reply_t reply{};
    EXPECT_EQ(wm_comm_read(m.port(), &reply, c.resp_len, c.item_size, c.type, 0), c.rc);
    EXPECT_EQ(untimed(m.log.str()), c.log);
    if (c.rc == 0) {
      ASSERT_NE(reply.data, nullptr);
      EXPECT_EQ(Bytes(reply.data, reply.data + c.reply.size()), c.reply);
    } else {
      EXPECT_EQ(reply.data, nullptr);  // released
      EXPECT_EQ(reply.size, 0);
    }
    uint32_t left = 0;
    EXPECT_EQ(sio_bytes_waiting(m.port()->handle, &left), 0);
    EXPECT_EQ(left, c.left);
    mx_list_release(&reply);
  }
}

TEST(WaveMonRead, FirstByteWaitsTenSecondsAndTheTimeoutComesBack) {
  struct Case {
    int timeout_s;
    int64_t waited_ms;
  };
  for (const Case c : {Case{0, 10000}, Case{-4, 10000}, Case{1, 1000}, Case{3, 3000}}) {
    SCOPED_TRACE(c.timeout_s);
    Monitor m;
    ASSERT_EQ(sio_set_read_timeout_ms(m.port()->handle, 2500), 0);
    wm_reply_t reply{};
    EXPECT_EQ(wm_comm_read(m.port(), &reply, 4, -1, WM_RESP_READ_ACK, c.timeout_s), ERR_WM_TIMEOUT);
    EXPECT_EQ(m.clock.elapsed_ms(), c.waited_ms);
    uint32_t after = 0;
    EXPECT_EQ(sio_get_read_timeout_ms(m.port()->handle, &after), 0);
    EXPECT_EQ(after, 2500u);
    EXPECT_EQ(untimed(m.log.str()), "<t> wm_comm_read: ERR_WM_TIMEOUT\n");
  }
  // A silent monitor: the command names itself in the second line.
  Monitor m;
  m.script.add(sim::Turn{}.expect("LO?\r").silence());
  int32_t state = 0;
  EXPECT_EQ(wm_get_laser(m.port(), &state), ERR_WM_TIMEOUT);
  EXPECT_EQ(m.clock.elapsed_ms(), 10000);
  EXPECT_EQ(untimed(m.log.str()),
            "<t> wm_comm_read: ERR_WM_TIMEOUT\n"
            "<t> wm_comm_write_rd: error reading response to command \"LO?\": ERR_WM_TIMEOUT\n");
}

// Each allocation of a read failing in turn: the read fails with no block
// left behind, until all of them succeed.
TEST(WaveMonRead, OutOfMemoryLeavesNothingAllocated) {
  const Bytes reply_bytes = cat({le32(2), {'h', 1, 2, 3, 4, kAck}});
  felbrin::test::fail_each_allocation([&](felbrin::test::FailingAllocator&) {
    Monitor m;
    m.peer.push(reply_bytes);
    wm_reply_t reply{};
    const int rc = wm_comm_read(m.port(), &reply, 1, 2, WM_RESP_SIZE_READ_ACK, 0);
    mx_list_release(&reply);
    if (rc == 0) return true;
    EXPECT_EQ(rc, ERR_NO_MEM);
    EXPECT_EQ(untimed(m.log.str()), "<t> wm_comm_read: ERR_NO_MEM\n");
    return false;
  });
}

// ---- commands against the simulated monitor

TEST(WaveMonCommand, EachCommandOnTheWire) {
  struct Case {
    const char* name;
    std::function<int(sio_port_t*)> op;
    const char* sent;
    std::function<void(const Monitor&)> check;
  };
  int32_t word = 0, second = 0;
  float gain = 0;
  wm_status_t status{};
  const Case cases[] = {
      {"laser on", [](sio_port_t* p) { return wm_set_laser(p, 1); }, "LO=1\r",
       [](const Monitor& m) { EXPECT_TRUE(m.model.laser_on()); }},
      {"laser off", [](sio_port_t* p) { return wm_set_laser(p, 0); }, "LO=0\r", nullptr},
      // Only an on flag of exactly 1 switches the laser on.
      {"on flag 2", [](sio_port_t* p) { return wm_set_laser(p, 2); }, "LO=0\r",
       [](const Monitor& m) { EXPECT_FALSE(m.model.laser_on()); }},
      {"laser state", [&](sio_port_t* p) { return wm_get_laser(p, &word); }, "LO?\r",
       [&](const Monitor&) { EXPECT_EQ(word, 0); }},
      {"CL", [](sio_port_t* p) { return wm_set_cl(p, 2.25); }, "CL=22500000\r",
       [](const Monitor& m) { EXPECT_EQ(m.model.cl(), 22500000); }},
      {"CL negative, truncated", [](sio_port_t* p) { return wm_set_cl(p, -12.50000001); }, "CL=-125000000\r", nullptr},
      {"SS as %f", [](sio_port_t* p) { return wm_set_ss(p, 0.5f); }, "SS=0.500000\r",
       [](const Monitor& m) { EXPECT_EQ(m.model.ss(), "0.500000"); }},
      {"RR", [&](sio_port_t* p) { return wm_set_ramp_range(p, 1500, -2, &word, &second); }, "RR=1500,-2\r",
       [&](const Monitor& m) {
         EXPECT_EQ(m.model.ramp_range(), 1500);
         EXPECT_EQ(word, 1500);
         EXPECT_EQ(second, -2);
       }},
      {"gain", [&](sio_port_t* p) { return wm_read_gain(p, &gain); }, "CC?\r",
       [&](const Monitor&) { EXPECT_EQ(gain, 2.5f); }},
      {"status", [&](sio_port_t* p) { return wm_read_status(p, &status); }, "MS?\r",
       [&](const Monitor&) {
         EXPECT_EQ(status.value1, -0.75f);
         EXPECT_EQ(status.maxTuneRate, 40.0f);
         EXPECT_EQ(status.secondsSinceCal, 0x01020304u);
         EXPECT_EQ(status.value7, -9);
         EXPECT_EQ(status.flags, 0x80000001u);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Monitor m;
    sim::WaveMonitor::Calibration cal;
    cal.system_gain = 2.5f;
    m.model.set_calibration(cal);
    m.model.set_status_float(1, -0.75f);
    m.model.set_status_float(5, 40.0f);
    m.model.set_status_word(6, 0x01020304);
    m.model.set_status_word(7, static_cast<uint32_t>(-9));
    m.model.set_flags(0x80000001);
    m.script.add(sim::Turn{}.expect(c.sent));
    EXPECT_EQ(c.op(m.port()), 0) << m.log.str();
    EXPECT_TRUE(m.script.mismatches().empty()) << m.script.mismatches().front();
    EXPECT_EQ(m.writes, 2);  // the text, then its CR
    EXPECT_EQ(m.log.str(), "");
    if (c.check) c.check(m);
  }
}

// Values beyond what the command can carry go nowhere.
TEST(WaveMonCommand, ClOutOfRangeIsRefusedBeforeSending) {
  Monitor m;
  for (double v : {214.7, -214.7, 1e300, std::numeric_limits<double>::quiet_NaN(), HUGE_VAL, -HUGE_VAL}) {
    SCOPED_TRACE(v);
    EXPECT_EQ(wm_set_cl(m.port(), v), ERR_PARAM_OUT_OF_RANGE);
  }
  EXPECT_EQ(m.writes, 0);
  EXPECT_EQ(wm_set_cl(m.port(), 214.69), 0);
  EXPECT_EQ(m.model.cl(), 2146900000);
}

TEST(WaveMonCommand, UnknownCommandIsRefusedWithANak) {
  Monitor m;
  wm_reply_t reply{};
  EXPECT_EQ(wm_comm_write_rd(m.port(), "XY?", &reply, 0, -1, WM_RESP_ACK, 0), ERR_WM_NAK);
  EXPECT_EQ(reply.data, nullptr);
  EXPECT_EQ(untimed(m.log.str()),
            "<t> wm_comm_read: ERR_WM_NAK: WM_RESP_ACK: received NAK\n"
            "<t> wm_comm_write_rd: error reading response to command \"XY?\": ERR_WM_NAK\n");
  // "LO?" answered by four bytes and a NAK.
  LogCapture again;
  m.script.add(sim::Turn{}.nak(Bytes{0, 0x80, 0, 0, kNak}));
  int32_t state = 0;
  EXPECT_EQ(wm_get_laser(m.port(), &state), ERR_WM_NAK);
  EXPECT_EQ(untimed(again.str()),
            "<t> wm_comm_read: ERR_WM_NAK: WM_RESP_READ_ACK: received NAK\n"
            "<t> wm_comm_write_rd: error reading response to command \"LO?\": ERR_WM_NAK\n");
}

TEST(WaveMonLine, OpenSetsTheLineAndWriteFailuresAreCommunicationErrors) {
  Monitor m;
  const sio_dcb_t s = m.peer.state();
  EXPECT_EQ(s.BaudRate, 115200u);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.fOutX, 0u);
  EXPECT_EQ(s.fInX, 0u);

  m.peer.fail(sim::SerialOp::write, 1);
  EXPECT_EQ(wm_set_laser(m.port(), 1), ERR_WM_COMM);
  EXPECT_EQ(m.log.str(), "wm_comm_write: sio_send_data failed, sendPacket = \"LO=1\", nbytes = 4\n");

  // The text goes, its CR does not.
  LogCapture second;
  m.peer.on_write([&] { m.peer.fail(sim::SerialOp::write, 1); });
  EXPECT_EQ(wm_comm_write(m.port(), "MS?"), ERR_WM_COMM);
  EXPECT_EQ(second.str(), "wm_comm_write: sio_send_data failed, nbytes = 1\n");

  EXPECT_EQ(wm_comm_write(nullptr, "LO?"), 0);
  EXPECT_EQ(wm_comm_close(nullptr), 0);
  EXPECT_EQ(wm_comm_close(m.port()), 0);
  EXPECT_FALSE(m.peer.is_open());

  LogCapture open_log;
  sio_port_t port;
  EXPECT_EQ(wm_comm_open_fd(&port, "COM99"), ERR_WM_COMM);
  EXPECT_EQ(open_log.str(), "wm_comm_open_fd: error initializing device COM99: ERR_CANT_OPEN_SERIAL\n");
}

// ---- the laser wait

int g_idle_calls = 0;
void count_idle() { ++g_idle_calls; }
int abort_now(void*) { return 1; }

TEST(WaveMonLaser, WaitEndsAtTheFirstPollShowingTheState) {
  struct Case {
    int64_t delay_ms;
    int on;
    int rc;
    int64_t elapsed_ms;
    const char* log;
  };
  const Case cases[] = {
      {0, 1, 0, 1000, ""},
      {2500, 1, 0, 3000, ""},
      {10000, 1, 0, 10000, ""},
      {10001, 1, ERR_WM_LASER_CONTROL_TIMEOUT, 10000, "wm_set_laser_with_wait: timeout waiting for laser to switch ON\n"},
      // "LO=0" went out: the laser is off and stays so.
      {0, 2, 0, 1000, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    Monitor m;
    m.model.set_switch_delay_ms(c.delay_ms);
    g_idle_calls = 0;
    const u_idle_hook saved = u_set_idle_fn(&count_idle);
    EXPECT_EQ(wm_set_laser_with_wait(m.port(), c.on), c.rc);
    u_set_idle_fn(saved);
    EXPECT_EQ(m.clock.elapsed_ms(), c.elapsed_ms);
    EXPECT_EQ(g_idle_calls, c.elapsed_ms / 1000);
    EXPECT_EQ(m.log.str(), c.log);
  }
  // Switching off waits for the laser to go dark.
  Monitor m;
  ASSERT_EQ(wm_set_laser(m.port(), 1), 0);
  m.model.set_switch_delay_ms(1500);
  EXPECT_EQ(wm_set_laser_with_wait(m.port(), 0), 0);
  EXPECT_EQ(m.clock.elapsed_ms(), 2000);
}

TEST(WaveMonLaser, AbortIsAskedAfterEachPoll) {
  Monitor m;
  m.model.set_switch_delay_ms(60000);
  const u_abort_hook saved = u_set_abort_fn(&abort_now);
  EXPECT_EQ(wm_set_laser_with_wait(m.port(), 1), ERR_FELBRIN_ABORTED);
  // A poll that already shows the state wins over the abort.
  m.model.set_switch_delay_ms(0);
  EXPECT_EQ(wm_set_laser_with_wait(m.port(), 1), 0);
  u_set_abort_fn(saved);
  EXPECT_EQ(m.clock.elapsed_ms(), 2000);
  EXPECT_EQ(m.runner.requests(), 4);  // LO=1, LO?, LO=1, LO?
}

// ---- calibration

sim::WaveMonitor::Calibration four_channel() {
  sim::WaveMonitor::Calibration c;
  c.adc_gain = {1.5f, -2.0f, 0.125f, 3.0f};
  c.system_gain = 2.25f;
  c.adc_offset = {1, 65535, 300, 0};
  c.phase_offset = {0.5f, -1.25f, 100.0f};
  return c;
}

void set_status(sim::WaveMonitor& model, uint32_t flags) {
  model.set_status_float(1, 1.5f);
  model.set_status_float(2, -3.0f);
  model.set_status_float(3, 150.0f);
  model.set_status_float(4, 0.5f);
  model.set_status_float(5, 40.0f);
  model.set_status_word(6, 3600);
  model.set_status_word(7, 77);
  model.set_flags(flags);
  model.set_calibration(four_channel());
}

std::string calibrated_line(const sysInfo_t& info) {
  char when[U_TIME_TEXT_SIZE] = {};
  u_time_text(info.waveMonitor.calTime, when);
  return std::string("Wave monitor calibrated ") + when + "\n";
}

TEST(WaveMonCal, FourChannelForm) {
  Monitor m;
  set_status(m.model, 0x40000001u | 0x20000000u);
  int64_t before = 0, after = 0;
  u_get_time(&before, nullptr);
  ASSERT_EQ(wm_read_cal(&m.info), 0) << m.log.str();
  u_get_time(&after, nullptr);
  const sb_wave_monitor_t& wm = m.info.waveMonitor;
  EXPECT_EQ(m.runner.requests(), 2);  // MS?, CC?
  EXPECT_EQ(wm.calibrated, 1);
  EXPECT_EQ(wm.flags, 0x60000001u);
  EXPECT_EQ(wm.flagsTop, 0x60000000u);
  EXPECT_EQ(wm.status1, 1.5f);
  EXPECT_EQ(wm.status2, -3.0f);
  EXPECT_EQ(wm.status7, 77);
  EXPECT_GE(wm.calTime, before - 3600);
  EXPECT_LE(wm.calTime, after - 3600);
  EXPECT_EQ(wm.adcGain[1], -2.0f);
  EXPECT_EQ(wm.adcOffset[1], 65535);
  EXPECT_EQ(wm.phaseOffset[2], 100.0);
  EXPECT_EQ(wm.sysGain, 2.25f);
  EXPECT_EQ(wm.minTuneRange, 0);
  EXPECT_EQ(wm.maxTuneRange, 1.5e8);
  EXPECT_EQ(wm.minTuneRate, 5e5);
  EXPECT_EQ(wm.maxTuneRate, 4e7);

  LogCapture printed;
  EXPECT_EQ(wm_print_cal(&m.info), 0);
  EXPECT_EQ(printed.str(), calibrated_line(m.info) +
                               "ADC Gain A : 1.500000\n"
                               "ADC Gain B : -2.000000\n"
                               "ADC Gain C : 0.125000\n"
                               "ADC Gain D : 3.000000\n"
                               "ADC Offs A : 1\n"
                               "ADC Offs B : 65535\n"
                               "ADC Offs C : 300\n"
                               "ADC Offs D : 0\n"
                               "Phs Offs 01: 0.500000\n"
                               "Phs Offs 12: -1.250000\n"
                               "Phs Offs 23: 100.000000\n"
                               "System Gain: 2.250000\n");
}

TEST(WaveMonCal, GainOnlyForms) {
  struct Case {
    const char* name;
    uint32_t flags;
    int requests;
  };
  const Case cases[] = {
      {"bit 31: the gain at once", 0x80000001u, 2},
      {"neither bit: status asked again", 0x00000001u, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Monitor m;
    set_status(m.model, c.flags);
    ASSERT_EQ(wm_read_cal(&m.info), 0) << m.log.str();
    EXPECT_EQ(m.runner.requests(), c.requests);
    const sb_wave_monitor_t& wm = m.info.waveMonitor;
    EXPECT_EQ(wm.sysGain, 2.25f);
    EXPECT_EQ(wm.adcGain[0], 0);
    EXPECT_EQ(wm.adcOffset[1], 0);
    EXPECT_EQ(wm.phaseOffset[2], 0);
    LogCapture printed;
    EXPECT_EQ(wm_print_cal(&m.info), 0);
    EXPECT_EQ(printed.str(), calibrated_line(m.info) + "System Gain: 2.250000\n");
  }
}

// A monitor that had not said which form it has, and says so when asked
// again, gets the long form read.
TEST(WaveMonCal, SecondStatusDecidesTheForm) {
  Monitor m;
  set_status(m.model, 0x40000001u);
  Bytes first(37);
  first[32] = 1;  // calibrated, no form bits
  first[36] = kAck;
  m.script.add(sim::Turn{}.expect("MS?\r").nak(first));
  ASSERT_EQ(wm_read_cal(&m.info), 0) << m.log.str();
  EXPECT_EQ(m.runner.requests(), 3);
  EXPECT_EQ(m.info.waveMonitor.flags, 0x40000001u);
  EXPECT_EQ(m.info.waveMonitor.adcGain[0], 1.5f);
  EXPECT_EQ(m.info.waveMonitor.maxTuneRange, 0);  // from the first status
}

TEST(WaveMonCal, NotCalibrated) {
  Monitor m;
  set_status(m.model, 0x40000000u);
  m.info.waveMonitor.calTime = 12345;
  ASSERT_EQ(wm_read_cal(&m.info), 0);
  EXPECT_EQ(m.runner.requests(), 1);
  EXPECT_EQ(m.info.waveMonitor.calTime, 0);
  EXPECT_EQ(m.info.waveMonitor.secondsSinceCal, 3600u);
  LogCapture printed;
  EXPECT_EQ(wm_print_cal(&m.info), 0);
  EXPECT_EQ(printed.str(), "Wave monitor not calibrated\n");
}

// ---- limits, without a line

sysInfo_t wm_system(int32_t type) {
  sysInfo_t s;
  s.systemType = type;
  s.instrBdType = BD_CAN;
  s.wmTuneRateMin = 10;
  s.wmTuneRateMax = 1e6;
  s.wmTuneRangeMin = 5;
  s.wmTuneRangeMax = 1e5;
  s.waveMonitor.frameRate = 100;
  return s;
}

TEST(WaveMonLimits, TuneLimitsBySystem) {
  struct Case {
    const char* name;
    std::function<void(sysInfo_t&)> set;
    bool null;
    double min_rate, max_rate, min_range, max_range;
  };
  const auto calibrated = [](sysInfo_t& s) {
    s.waveMonitor.calibrated = 1;
    s.waveMonitor.minTuneRate = 50;
    s.waveMonitor.maxTuneRate = 2e6;
    s.waveMonitor.maxTuneRange = 4e4;
  };
  const Case cases[] = {
      {"no record", nullptr, true, 0, HUGE_VAL, 0, 1.5e11},
      {"no monitor", [](sysInfo_t& s) { s.systemType = SYS_KITE; }, false, 0, HUGE_VAL, 0, 1.5e11},
      {"no board", [](sysInfo_t& s) { s.instrBdType = BD_NONE; }, false, 0, HUGE_VAL, 0, 1.5e11},
      {"monitor, configured limits", [](sysInfo_t& s) { s.systemType = SYS_KITE2CAN; }, false, 10, 1e6, 5, 1e5},
      {"tuned, not calibrated", [](sysInfo_t&) {}, false, 0, 0, 0, 0},
      {"tuned, calibrated", calibrated, false, 50, 1e6, 5, 4e4},
      {"tuned CAN, calibrated", [&](sysInfo_t& s) {
         calibrated(s);
         s.systemType = SYS_HERON_CAN;
         s.wmTuneRangeMin = -3;
       }, false, 50, 1e6, 0, 4e4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sysInfo_t s = wm_system(SYS_HERON);
    if (c.set) c.set(s);
    double v[4] = {-1, -1, -1, -1};
    EXPECT_EQ(wm_get_tune_limits(c.null ? nullptr : &s, &v[0], &v[1], &v[2], &v[3]), 0);
    EXPECT_EQ(v[0], c.min_rate);
    EXPECT_EQ(v[1], c.max_rate);
    EXPECT_EQ(v[2], c.min_range);
    EXPECT_EQ(v[3], c.max_range);
  }
}

TEST(WaveMonLimits, RampRequestsInTheCheckOrder) {
  struct Case {
    const char* name;
    double range;
    int32_t buckets;
    double frame_rate;
    int rc;
    const char* log;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Rate = range * frame rate / buckets; limits 10..1e6, range up to 1e5.
  const Case cases[] = {
      {"3800 buckets", 3800, 3800, 100, 0, ""},
      {"3801 buckets", 3801, 3801, 100, ERR_WM_NUM_BUCKETS_TOO_LARGE,
       "wm_verify_ramp_in_limits: req_buckets = 3801 is too big\n"},
      {"range too large", 200000, 3801, 100, ERR_WM_TUNE_RANGE_TOO_LARGE,
       "wm_verify_ramp_in_limits: req_range = 200000 too large\n"},
      {"range just within", 100000.0009, 20000, 100, ERR_WM_NUM_BUCKETS_TOO_LARGE,
       "wm_verify_ramp_in_limits: req_buckets = 20000 is too big\n"},
      {"too fast before too many", 1e5, 5000, 100000, ERR_WM_TUNE_RANGE_TOO_LARGE,
       "wm_verify_ramp_in_limits: req_rate = 2e+06 too fast\n"},
      {"rate at the minimum is too slow", 380, 3800, 100, ERR_WM_TUNE_RATE_TOO_SLOW,
       "wm_verify_ramp_in_limits: req_rate = 10 is too slow\n"},
      {"too many before too slow", 1, 4000, 100, ERR_WM_NUM_BUCKETS_TOO_LARGE,
       "wm_verify_ramp_in_limits: req_buckets = 4000 is too big\n"},
      // Requests whose rate cannot be worked out.
      {"no range, no buckets", 0, 0, 100, ERR_INVALID_PARAM, ""},
      {"negative buckets", 100, -5, 100, ERR_INVALID_PARAM, ""},
      {"no frame rate", 100, 100, 0, ERR_INVALID_PARAM, ""},
      {"NaN frame rate", 100, 100, nan, ERR_INVALID_PARAM, ""},
      {"infinite frame rate", 100, 100, HUGE_VAL, ERR_INVALID_PARAM, ""},
      {"NaN range", nan, 100, 100, ERR_INVALID_PARAM, ""},
      {"infinite range is still too large", HUGE_VAL, 100, 100, ERR_WM_TUNE_RANGE_TOO_LARGE,
       "wm_verify_ramp_in_limits: req_range = inf too large\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sysInfo_t s = wm_system(SYS_KITE2);
    s.waveMonitor.frameRate = c.frame_rate;
    LogCapture log;
    const wm_ramp_request_t request{c.range, c.buckets};
    EXPECT_EQ(wm_verify_ramp_in_limits(&s, &request), c.rc);
    EXPECT_EQ(log.str(), c.log);
  }
  // A tuned system whose monitor is not calibrated refuses everything.
  sysInfo_t s = wm_system(SYS_HERON);
  LogCapture log;
  const wm_ramp_request_t small{0.5, 10};
  EXPECT_EQ(wm_verify_ramp_in_limits(&s, &small), ERR_WM_TUNE_RANGE_TOO_LARGE);
  EXPECT_EQ(log.str(), "wm_verify_ramp_in_limits: req_range = 0.5 too large\n");
  EXPECT_EQ(wm_verify_ramp_in_limits(nullptr, &small), ERR_INVALID_PARAM);
  EXPECT_EQ(wm_verify_ramp_in_limits(&s, nullptr), ERR_INVALID_PARAM);
}

}  // namespace

#ifndef _WIN32
// ---- the operating system's serial back end on a pseudo-terminal, with the
// monitor on a thread of its own and real time.
TEST(WaveMonPty, OpensAt115200AndExchanges) {
  LogCapture log;
  sim::PtyTransport line;
  sim::Script script;
  sim::WaveMonitor model;
  sim::Runner runner(line, model.framer(), script, model);
  sim::BackgroundRunner running(runner);
  sysInfo[0] = sysInfo_t{};
  sysInfo_t& info = sysInfo[0];
  info.wmComm = line.device();
  ASSERT_EQ(wm_comm_open(&info), 0) << log.str();
  sio_dcb_t state{};
  ASSERT_EQ(sio_get_state(info.waveMonitor.port.handle, &state), 0);
  EXPECT_EQ(state.BaudRate, 115200u);
  EXPECT_EQ(state.Parity, 0);
  script.add(sim::Turn{}.expect("LO=1\r"));
  EXPECT_EQ(wm_set_laser(&info.waveMonitor.port, 1), 0) << log.str();
  int32_t laser = 0;
  EXPECT_EQ(wm_get_laser(&info.waveMonitor.port, &laser), 0) << log.str();
  EXPECT_EQ(laser, 0x8000);
  EXPECT_TRUE(script.mismatches().empty());
  EXPECT_EQ(wm_comm_close(&info.waveMonitor.port), 0);
  sysInfo[0] = sysInfo_t{};
}
#endif
