// The instrument board protocol against the simulated boards on the
// in-memory link and the virtual clock: the board answers inside the write
// that asked, so each exchange is one library call, deterministic and
// single-threaded. Faults of the line come from the script.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "instrument/record/sys_info.h"
#include "instrument/ramps/ramp_file.h"
#include "instrument/serial/board.h"
#include "instrument/serial/device_table.h"
#include "sim/instrument_board.h"
#include "sim/memory_serial.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"
#ifndef _WIN32
#include "sim/pty_transport.h"
#endif
#include "tests/support/log_capture.h"
#include "tests/support/sim_board.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using sim::BoardKind;
using felbrin::test::Board;
using felbrin::test::Bytes;
using felbrin::test::packet;
using felbrin::test::reply;
const Bytes kAck = felbrin::test::kAck;
const Bytes kNak = felbrin::test::kNak;

// ---- one exchange per command shape and board

struct Exchange {
  const char* name;
  BoardKind kind;
  std::function<int(sysInfo_t*)> op;
  Bytes sent;  // the request the board must see
  int rc;
  std::function<void(const Board&)> check;
};

TEST(BoardExchange, EachShapeOnEachBoard) {
  uint32_t value = 0;
  int level = 0;
  uint8_t byte = 0;
  const Exchange cases[] = {
      // UZ1 light level 100 goes out as 4095 - 100 = 0x0F9B.
      {"UZ1 light level", BoardKind::uz1, [](sysInfo_t* s) { return uz_llc_set(s, 100); }, packet(5, {0x0F, 0x9B}), 0,
       [](const Board& b) { EXPECT_EQ(b.model.light_level(), 100); }},
      {"Lumen light level", BoardKind::lumen, [](sysInfo_t* s) { return uz_llc_set(s, 3685); }, packet(3, {0, 0}), 0,
       [](const Board& b) { EXPECT_EQ(b.model.light_level(), 3685); }},
      {"UZ2 light level", BoardKind::uz2, [](sysInfo_t* s) { return uz_llc_set(s, 159); }, packet(3, {159}), 0,
       [](const Board& b) { EXPECT_EQ(b.model.light_level(), 159); }},
      {"Iris light level", BoardKind::iris, [](sysInfo_t* s) { return uz_llc_set(s, 255); }, packet(3, {255}), 0,
       [](const Board& b) { EXPECT_EQ(b.model.light_level(), 255); }},
      {"long set", BoardKind::uz2, [](sysInfo_t* s) { return uz_ee_serial_set(s, 0x01020304); },
       packet(7, {1, 2, 3, 4}), 0,
       [](const Board& b) { EXPECT_EQ(b.model.eeprom(sim::InstrumentBoard::ee_serial), 0x01020304u); }},
      {"word set", BoardKind::iris, [](sysInfo_t* s) { return uz_ee_sysdate_set(s, 0xBEEF); }, packet(13, {0xBE, 0xEF}),
       0, [](const Board& b) { EXPECT_EQ(b.model.eeprom(sim::InstrumentBoard::ee_date), 0xBEEFu); }},
      {"byte set", BoardKind::lumen, [](sysInfo_t* s) { return uz_ee_light_set(s, 7); }, packet(12, {7}), 0,
       [](const Board& b) { EXPECT_EQ(b.model.eeprom(sim::InstrumentBoard::ee_light), 7u); }},
      {"no parameter", BoardKind::uz1, [](sysInfo_t* s) { return uz_reset_uart(s); }, packet(28), 0, nullptr},
      {"byte read", BoardKind::uz1, [&](sysInfo_t* s) { return uz_sw_version(s, &value); }, packet(31), 0,
       [&](const Board&) { EXPECT_EQ(value, 13u); }},
      {"write I/O", BoardKind::lumen, [](sysInfo_t* s) { return uz_write_io(s, 6143, 0x5A); },
       packet(26, {0x17, 0xFF, 0x5A}), 0, [](const Board& b) { EXPECT_EQ(b.model.io(6143), 0x5A); }},
      {"read I/O gives the third data byte", BoardKind::uz2,
       [&](sysInfo_t* s) {
         byte = 0x11;
         return uz_read_io(s, 4097, &byte);
       },
       packet(52, {0x10, 0x01}), 0, [&](const Board&) { EXPECT_EQ(byte, 0xA5); }},
      {"PZT set, three values", BoardKind::uz1, [](sysInfo_t* s) { return uz_pzt_set(s, 1, 0x0203, 0xFFFF); },
       packet(3, {0, 1, 2, 3, 0xFF, 0xFF}), 0, nullptr},
      {"PZT set on Iris sends the third", BoardKind::iris, [](sysInfo_t* s) { return uz_pzt_set(s, 1, 2, 0x0A0B); },
       packet(1, {0x0A, 0x0B}), 0, nullptr},
      {"custom camera bytes 2..9 with 6 and 7 swapped", BoardKind::uz1,
       [](sysInfo_t* s) {
         s->cameraType = CAM_CUSTOM;
         for (uint8_t i = 0; i < 10; ++i) s->cameraConfig[i] = i;
         return uz_custom_camera(s);
       },
       packet(54, {2, 3, 4, 5, 6, 8, 7, 9}), 0, nullptr},
      {"UZ2 custom camera bytes 0 and 1", BoardKind::uz2,
       [](sysInfo_t* s) {
         s->cameraType = CAM_CUSTOM;
         s->cameraConfig[0] = 0x11;
         s->cameraConfig[1] = 0x22;
         return uz_custom_camera(s);
       },
       packet(56, {0x11, 0x22}), 0, nullptr},
  };
  for (const Exchange& c : cases) {
    SCOPED_TRACE(c.name);
    Board b(c.kind);
    b.model.set_io(4097, 0xA5);
    b.script.add(sim::Turn{}.expect(c.sent));
    EXPECT_EQ(c.op(&b.info), c.rc) << b.log.str();
    EXPECT_TRUE(b.script.mismatches().empty()) << b.script.mismatches().front();
    if (c.check) c.check(b);
  }
  // Reading back what was set decodes each board's encoding.
  for (BoardKind k : {BoardKind::uz1, BoardKind::uz2, BoardKind::iris, BoardKind::lumen}) {
    Board b(k);
    ASSERT_EQ(uz_llc_set(&b.info, 123), 0);
    EXPECT_EQ(uz_llc_read(&b.info, &level), 0);
    EXPECT_EQ(level, 123);
    ASSERT_EQ(uz_ee_serial_set(&b.info, 0xCAFE1234), 0);
    EXPECT_EQ(uz_ee_serial_read(&b.info, &value), 0);
    EXPECT_EQ(value, 0xCAFE1234u);
  }
}

// Values and boards an operation refuses before anything goes out.
TEST(BoardExchange, RefusalsSendNothing) {
  struct Case {
    const char* name;
    BoardKind kind;
    std::function<int(sysInfo_t*)> op;
    int rc;
  };
  uint8_t byte = 0;
  const Case cases[] = {
      {"UZ2 level 160", BoardKind::uz2, [](sysInfo_t* s) { return uz_llc_set(s, 160); }, ERR_PARAM_OUT_OF_RANGE},
      {"UZ1 level 4096", BoardKind::uz1, [](sysInfo_t* s) { return uz_llc_set(s, 4096); }, ERR_PARAM_OUT_OF_RANGE},
      {"negative level", BoardKind::lumen, [](sysInfo_t* s) { return uz_llc_set(s, -1); }, ERR_PARAM_OUT_OF_RANGE},
      {"I/O below 4096", BoardKind::uz1, [&](sysInfo_t* s) { return uz_read_io(s, 4095, &byte); },
       ERR_PARAM_OUT_OF_RANGE},
      {"I/O above 6143", BoardKind::iris, [](sysInfo_t* s) { return uz_write_io(s, 6144, 0); }, ERR_PARAM_OUT_OF_RANGE},
      {"byte set of 256", BoardKind::uz1, [](sysInfo_t* s) { return uz_ee_light_set(s, 256); },
       ERR_PARAM_OUT_OF_RANGE},
      {"PZT set on Lumen", BoardKind::lumen, [](sysInfo_t* s) { return uz_pzt_set(s, 1, 2, 3); },
       ERR_WRONG_INSTR_BOARD},
      {"PZT power on Iris", BoardKind::iris, [](sysInfo_t* s) { return uz_pzt_power(s, 1); }, ERR_WRONG_INSTR_BOARD},
      {"UZ1-only command on UZ2", BoardKind::uz2, [](sysInfo_t* s) { return uz_pc_ramp_done(s); },
       ERR_WRONG_INSTR_BOARD},
      {"UZ2-only command on Lumen does nothing", BoardKind::lumen, [](sysInfo_t* s) { return uz_quartz_init(s); }, 0},
      {"align view on UZ1 does nothing", BoardKind::uz1, [](sysInfo_t* s) { return uz_change_alignview(s, 1, 1); }, 0},
      {"ring spot without the flag does nothing", BoardKind::uz2,
       [](sysInfo_t* s) { return uz_change_ringspot(s, 1, 1); }, 0},
      {"align view 2", BoardKind::uz2, [](sysInfo_t* s) { return uz_change_alignview(s, 2, 0); }, ERR_INVALID_PARAM},
      {"align view on version 12", BoardKind::uz2,
       [](sysInfo_t* s) {
         s->boardVersion = 12;
         return uz_change_alignview(s, 1, 0);
       },
       ERR_NOT_IMPLEMENTED},
      {"custom camera without camera type 12", BoardKind::uz1, [](sysInfo_t* s) { return uz_custom_camera(s); },
       ERR_INVALID_PARAM},
      {"camera resolution with camera type 12", BoardKind::uz1,
       [](sysInfo_t* s) {
         s->cameraType = CAM_CUSTOM;
         return uz_camera_res(s, 1);
       },
       ERR_INVALID_PARAM},
      {"raw parameters of the wrong count", BoardKind::uz1,
       [](sysInfo_t* s) {
         const uint8_t p[2] = {1, 2};
         return uz_motor_move(s, p, 2);
       },
       ERR_INVALID_PARAM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Board b(c.kind);
    EXPECT_EQ(c.op(&b.info), c.rc);
    EXPECT_EQ(b.runner.requests(), 0);
  }
  sysInfo_t dune;
  dune.instrBdType = BD_DUNE;
  EXPECT_EQ(uz_llc_set(&dune, 1), ERR_WRONG_INSTR_BOARD);
  EXPECT_FALSE(ur_is_serial_board(&dune));
  EXPECT_FALSE(ur_is_serial_board(nullptr));
}

// ---- the exchange and its retries

TEST(BoardExchange, NakThenAckSucceedsOnTheSecondAttempt) {
  Board b(BoardKind::uz1);
  b.script.nak(1, kNak);
  EXPECT_EQ(uz_reset_uart(&b.info), 0);
  EXPECT_EQ(b.runner.requests(), 2);
  EXPECT_EQ(b.log.str(), "");
}

TEST(BoardExchange, ThreeNaksFailNamingTheCommand) {
  Board b(BoardKind::uz1);
  b.script.nak(3, kNak);
  EXPECT_EQ(uz_ee_serial_set(&b.info, 5), ERR_UZ_RECV_FAILED);
  EXPECT_EQ(b.runner.requests(), 3);
  EXPECT_EQ(b.log.str(), "ur_writeUZ failed: cmd=UZ1_EE_SERIAL_SET_CMD\n");
}

TEST(BoardExchange, ChecksumErrorIsRetriedLikeANak) {
  Board b(BoardKind::lumen);
  b.script.add(sim::Turn{}.corrupt_checksum());
  uint32_t v = 0;
  EXPECT_EQ(uz_sw_version(&b.info, &v), 0);
  EXPECT_EQ(v, 13u);
  EXPECT_EQ(b.runner.requests(), 2);
  EXPECT_EQ(b.log.str(), "ur_readUZ: checksum err recv 41 calc 40\n");
}

TEST(BoardExchange, ReportsAheadOfTheAnswer) {
  struct Case {
    const char* name;
    BoardKind kind;
    std::vector<Bytes> reports;
    int rc;
    std::string log;
  };
  const Bytes zoom = reply({155, 4});
  const Bytes fkey = reply({135, 8});
  const Bytes iris_key = reply({129, 102});
  const Case cases[] = {
      {"one zoom report", BoardKind::uz1, {zoom}, 0, ""},
      {"two reports", BoardKind::uz2, {fkey, reply({157, 1})}, 0, ""},
      {"three reports", BoardKind::uz1, {zoom, zoom, zoom}, ERR_UZ_RECV_FAILED,
       "ur_readUZ: received unsolicited info\nur_writeUZ failed: cmd=UZ1_RESET_UART_CMD\n"},
      // The Iris board's function key no longer fails the command it
      // interrupts.
      {"Iris function key", BoardKind::iris, {iris_key}, 0, ""},
      {"Iris align view", BoardKind::iris, {reply({139, 1})}, 0, ""},
      {"a UZ2 report code on UZ1", BoardKind::uz1, {fkey}, ERR_UZ_RECV_FAILED,
       "ur_writeUZ failed: cmd=UZ1_RESET_UART_CMD\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Board b(c.kind);
    for (const Bytes& r : c.reports) b.script.unsolicited(r);
    EXPECT_EQ(uz_reset_uart(&b.info), c.rc);
    EXPECT_EQ(b.log.str(), c.log);
  }
}

// What a failing line does to one exchange.
TEST(BoardExchange, LineFaults) {
  struct Case {
    const char* name;
    sim::Turn turn;
    int rc;
    std::string log;
  };
  const Case cases[] = {
      {"answer cut short", sim::Turn{}.partial(2), ERR_UZ_RECV_TIMEOUT,
       "ur_readUZ: sio_read_data failed\nur_writeUZ failed: cmd=UZ1_SW_VERSION_CMD\n"},
      // A zero ahead of the answer reads as a packet without content.
      {"a zero ahead of the answer", sim::Turn{}.noise(Bytes{0x00}), ERR_UZ_RECV_FAILED,
       "ur_writeUZ failed: cmd=UZ1_SW_VERSION_CMD\n"},
      {"the line dies", sim::Turn{}.disconnect(), ERR_UZ_RECV_TIMEOUT,
       "ur_readUZ: timed out on first byte, respType=2\nur_writeUZ failed: cmd=UZ1_SW_VERSION_CMD\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Board b(BoardKind::uz1);
    b.script.add(c.turn);
    uint32_t v = 0;
    EXPECT_EQ(uz_sw_version(&b.info, &v), c.rc);
    EXPECT_EQ(b.log.str(), c.log);
  }
  // Once the line is dead nothing goes out any more.
  Board b(BoardKind::uz1);
  b.line.disconnect();
  EXPECT_EQ(uz_reset_uart(&b.info), ERR_UZ_SEND_FAILED);
  EXPECT_EQ(b.log.str(), "ur_writeUZ: sio_send_data failed  i=0  len=3\nur_writeUZ failed: cmd=UZ1_RESET_UART_CMD\n");
}

TEST(BoardExchange, SilenceTimesOutAfterTenSecondsAndRestoresTheTimeout) {
  Board b(BoardKind::uz2);
  const uint32_t before = b.peer.timeouts().ReadTotalTimeoutConstant;
  b.script.add(sim::Turn{}.silence());
  uint32_t v = 0;
  EXPECT_EQ(uz_sw_version(&b.info, &v), ERR_UZ_RECV_TIMEOUT);
  EXPECT_EQ(b.clock.elapsed_ms(), 10000);
  EXPECT_EQ(b.peer.timeouts().ReadTotalTimeoutConstant, before);
  EXPECT_EQ(b.log.str(), "ur_readUZ: timed out on first byte, respType=2\nur_writeUZ failed: cmd=UZ2_SW_VERSION_CMD\n");
}

TEST(BoardExchange, MalformedAnswersAreNotTakenForData) {
  struct Case {
    const char* name;
    Bytes answer;
    int requests;
    std::string log;
  };
  const Case cases[] = {
      // A serial number read wants 4 data bytes (reply LEN 6).
      {"short reply", reply({11, 1}), 1,
       "ur_writeUZ: recvd short resp  wanted 6  got 3\nur_writeUZ failed: cmd=UZ1_EE_SERIAL_READ_CMD\n"},
      {"one byte short", reply({11, 1, 2, 3}), 1,
       "ur_writeUZ: recvd short resp  wanted 6  got 5\nur_writeUZ failed: cmd=UZ1_EE_SERIAL_READ_CMD\n"},
      {"other code", reply({12, 0, 0, 0, 1}), 1,
       "ur_writeUZ: recvd invalid resp  wanted 11  got 12\nur_writeUZ failed: cmd=UZ1_EE_SERIAL_READ_CMD\n"},
      // LEN 0 or 0x80 and above carries nothing; the read is not resent, as
      // the board may have acted on it.
      {"LEN 0", Bytes{0x00}, 1, "ur_writeUZ failed: cmd=UZ1_EE_SERIAL_READ_CMD\n"},
      {"LEN 0x80", Bytes{0x80}, 1, "ur_writeUZ failed: cmd=UZ1_EE_SERIAL_READ_CMD\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Board b(BoardKind::uz1);
    b.model.set_eeprom(sim::InstrumentBoard::ee_serial, 77);
    b.script.add(sim::Turn{}.nak(c.answer));
    uint32_t v = 12345;
    EXPECT_EQ(uz_ee_serial_read(&b.info, &v), ERR_UZ_RECV_FAILED);
    EXPECT_EQ(v, 12345u);
    EXPECT_EQ(b.runner.requests(), c.requests);
    EXPECT_EQ(b.log.str(), c.log);
  }
  // A longer reply is taken, its extra bytes ignored.
  Board b(BoardKind::uz1);
  b.script.add(sim::Turn{}.nak(reply({11, 0, 0, 1, 2, 9, 9})));
  uint32_t v = 0;
  EXPECT_EQ(uz_ee_serial_read(&b.info, &v), 0);
  EXPECT_EQ(v, 0x0102u);
}

// ---- waits

TEST(BoardExchange, AlignViewWaitsForTheMovingFlag) {
  Board b(BoardKind::uz2);
  b.model.set_moving_polls(3);
  EXPECT_EQ(uz_change_alignview(&b.info, 1, 1), 0);
  EXPECT_EQ(b.model.align_view(), 1);
  EXPECT_EQ(b.clock.elapsed_ms(), 4 * 250);

  b.model.set_moving_polls(100000);
  b.info.ringSpot = 1;
  EXPECT_EQ(uz_change_ringspot(&b.info, 1, 1), ERR_RS_TIMEOUT);
  EXPECT_EQ(b.clock.elapsed_ms(), 4 * 250 + 501 * 250);
}

// ---- ramps

struct Ramp {
  rr_ramp_hdr_t header{};
  std::vector<uint16_t> points;
  explicit Ramp(int n) : points(static_cast<std::size_t>(n)) {
    for (int i = 0; i < n; ++i) points[static_cast<std::size_t>(i)] = static_cast<uint16_t>(i * 37 + 5);
    header.nPoints = n;
    header.rampID = 9;
    header.polar = 'b';
    header.offset = 100;
    header.trigStartAddr = 10;
    header.trigEndAddr = n - 10;
    header.updateRate = 2000;
  }
};

TEST(BoardRamp, DownloadsInPacketsOf512) {
  Board b(BoardKind::uz1);
  Ramp r(1030);
  EXPECT_EQ(ur_ramp_download(&b.info, 11, &r.header, r.points.data()), 0) << b.log.str();
  const auto& slot = b.model.slot(11);
  EXPECT_TRUE(slot.loaded);
  EXPECT_EQ(slot.points, r.points);
  EXPECT_EQ(slot.ramp_id, 9);
  EXPECT_EQ(slot.polar, 'b');
  EXPECT_EQ(slot.trig_end, 1020);
  EXPECT_EQ(b.model.ramp_data_packets(), 3);
  EXPECT_EQ(b.runner.requests(), 5);  // load, 3 packets, complete

  // The board's ramp engine: busy for a while after a start.
  b.model.set_ramp_time_ms(500);
  EXPECT_EQ(ur_ramp_start(&b.info, 11), 0);
  EXPECT_EQ(ur_ramp_start(&b.info, 11), ERR_RAMP_BUSY);
  EXPECT_EQ(b.model.ramps_started(), 1);
  EXPECT_EQ(uz_ramp_updaterate(&b.info, 11, 400), 0);
  EXPECT_EQ(uz_ramp_updaterate(&b.info, 3, 400), ERR_INVALID_RAMP_INDEX);
}

TEST(BoardRamp, AFailedPacketIsResentOnce) {
  Board b(BoardKind::lumen);
  Ramp r(600);
  b.script.add(sim::Turn{});  // RAMP_LOAD
  b.script.nak(3, kNak);      // the first packet fails ...
  EXPECT_EQ(ur_ramp_download(&b.info, 0, &r.header, r.points.data()), 0);  // ... and goes again
  EXPECT_EQ(b.runner.requests(), 1 + 3 + 1 + 1 + 1);  // load, 3 tries, again, second packet, complete
  EXPECT_TRUE(b.model.slot(0).loaded);
  EXPECT_EQ(b.model.slot(0).points, r.points);
}

TEST(BoardRamp, NoResendAfterANonZeroAnswerAndTheSlotIsDeleted) {
  Board b(BoardKind::uz2);
  Ramp r(1024);
  b.script.add(sim::Turn{});                          // RAMP_LOAD
  b.script.add(sim::Turn{}.nak(reply({45, 1})));      // first packet, answer byte 1
  b.script.nak(3, kNak);                              // second packet fails, not resent
  EXPECT_EQ(ur_ramp_download(&b.info, 2, &r.header, r.points.data()), ERR_UZ_RECV_FAILED);
  EXPECT_FALSE(b.model.slot(2).loaded);
  EXPECT_FALSE(b.model.slot(2).loading);
  EXPECT_EQ(b.runner.requests(), 1 + 1 + 3 + 2);  // load, packet, 3 tries, complete, delete
}

TEST(BoardRamp, RampsThatDoNotFitAreRefusedBeforeSending) {
  Board b(BoardKind::uz1);
  struct Case {
    const char* name;
    std::function<void(rr_ramp_hdr_t&)> spoil;
    int rc;
  };
  const Case cases[] = {
      {"65536 points", [](rr_ramp_hdr_t& h) { h.nPoints = 65536; }, ERR_PARAM_OUT_OF_RANGE},
      {"negative offset", [](rr_ramp_hdr_t& h) { h.offset = -1; }, ERR_PARAM_OUT_OF_RANGE},
      {"trigger end beyond 16 bits", [](rr_ramp_hdr_t& h) { h.trigEndAddr = 70000; }, ERR_PARAM_OUT_OF_RANGE},
      {"negative update rate", [](rr_ramp_hdr_t& h) { h.updateRate = -5; }, ERR_PARAM_OUT_OF_RANGE},
  };
  Ramp r(10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rr_ramp_hdr_t h = r.header;
    c.spoil(h);
    EXPECT_EQ(ur_ramp_download(&b.info, 0, &h, r.points.data()), c.rc);
  }
  EXPECT_EQ(ur_ramp_download(&b.info, 0, &r.header, nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(b.runner.requests(), 0);
}

// ---- reports, faults, names

TEST(BoardReport, DecodesEachBoardsReports) {
  struct Case {
    BoardKind kind;
    Bytes report;
    int rc, kind_out, value;
  };
  const Case cases[] = {
      {BoardKind::uz1, reply({155, 3}), 0, UR_REPORT_ZOOM, 2},
      {BoardKind::uz1, reply({156, 1}), 0, UR_REPORT_TURRET, 0},
      {BoardKind::uz2, reply({135, 12}), 0, UR_REPORT_FKEY, 12},
      {BoardKind::uz2, reply({135, 3}), ERR_UZ_RECV_FAILED, -1, -1},
      {BoardKind::uz2, reply({157, 1}), 0, UR_REPORT_RING_SPOT, 1},
      {BoardKind::uz2, reply({155, 2}), ERR_UZ_RECV_FAILED, -1, -1},
      {BoardKind::iris, reply({129, 109}), 0, UR_REPORT_IRIS_FKEY, 109},
      {BoardKind::iris, reply({139, 0}), 0, UR_REPORT_IRIS_ALIGN, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::printable(c.report));
    Board b(c.kind);
    b.peer.push(c.report);
    int kind = -1, value = -1;
    EXPECT_EQ(ur_read_report(&b.info, 0, &kind, &value), c.rc);
    EXPECT_EQ(kind, c.kind_out);
    EXPECT_EQ(value, c.value);
  }
}

TEST(BoardFaults, TextsAndCodesByBoard) {
  struct Case {
    int byte, board, code;
    const char* log;
  };
  const Case cases[] = {
      {0, BD_SABLE, 0, ""},
      {23, BD_SABLE, ERR_INVALID_PARAM, "Error: Invalid ramp index\n"},
      {24, BD_SABLE, ERR_UNKNOWN, "Error: Unrecognized instrument board error 24\n"},
      {13, BD_SABLE, ERR_HW_FAIL, "Error: LCA INIT* stuck hi\n"},
      {12, BD_KITE, ERR_HW_FAIL, "Error: LCA INIT* stuck high\n"},
      {1, BD_KITE, ERR_PZT_STACK_FAULT, "Error: PZT stack fault\n"},
      {6, BD_IRIS, ERR_INST_POWER, "Error: Under voltage -15 volt power supply\n"},
      {20, BD_LUMEN, ERR_INVALID_PARAM, "Error:  Invalid motor position\n"},
      {1, BD_DUNE, ERR_UNKNOWN, "Error: Unrecognized instrument board error 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    LogCapture log;
    EXPECT_EQ(ur_board_error(c.byte, c.board, 1), c.code);
    EXPECT_EQ(log.str(), c.log);
  }
  // The power check reads the fault byte from the board.
  Board b(BoardKind::lumen);
  b.model.set_fault(1);
  uint8_t status = 0;
  EXPECT_EQ(uz_power_chk(&b.info, &status), ERR_TURRET_TIMEOUT);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(b.log.str(), "Error: Motor movement has timed out\n");
}

TEST(BoardNames, CommandNamesByPortAndCode) {
  Board b(BoardKind::uz1);
  const sio_handle_t h = b.info.boardLink.port.handle;
  EXPECT_STREQ(ur_cmd_str(h, 53), "UZ1_RAMP_UPDATERATE_CMD");
  EXPECT_STREQ(ur_cmd_str(h, 200), "UZ1_INVALID_CMD");
  EXPECT_STREQ(ur_cmd_str(h + 1000, 1), "INVALID_PARAM");
  b.info.instrBdType = BD_IRIS;
  EXPECT_STREQ(ur_cmd_str(h, 0), "IRIS_INVALID_CMD");
  EXPECT_STREQ(ur_cmd_str(h, 43), "IRIS_INVALID_CMD");
  EXPECT_STREQ(ur_cmd_str(h, 42), "IRIS_SHUTTER_OUTPUT_CMD");
  b.info.instrBdType = BD_LUMEN;
  EXPECT_STREQ(ur_cmd_str(h, 41), "LUMEN_CUSTOM_CAMERA_CMD");
  b.info.instrBdType = BD_KITE;
  EXPECT_STREQ(ur_cmd_str(h, 62), "UZ2_RS_MOVING_CMD");
  b.info.instrBdType = BD_DUNE;
  EXPECT_EQ(ur_cmd_str(h, 1), nullptr);
  EXPECT_EQ(b.log.str(), "ur_cmd_str: unknown instrBdType\n");
  b.info.instrBdType = BD_SABLE;
}

// ---- opening and closing

TEST(BoardLine, InitSetsTheLineAndRegistersIt) {
  Board b(BoardKind::uz2);
  const sio_dcb_t s = b.peer.state();
  EXPECT_EQ(s.BaudRate, 38400u);
  EXPECT_EQ(s.fOutX, 0u);
  EXPECT_EQ(s.fInX, 0u);
  EXPECT_TRUE(dev_is_registered(b.info.boardLink.port.handle));
  EXPECT_EQ(ur_checksum(packet(0x0B).data() + 1, 1), 0x0B);
}

TEST(BoardLine, FailuresAreReportedAsCommunicationErrors) {
  LogCapture log;
  sysInfo_t dune;
  dune.instrBdType = BD_DUNE;
  dune.instrComm = "COM1";
  EXPECT_EQ(ur_initUZ(&dune), ERR_UZ_COMM);
  EXPECT_EQ(log.str(), "ur_initUZ: error initializing COM1: ERR_WRONG_INSTR_BOARD\n");
}

// After a forced reset of the device table the board is no longer
// registered; closing still releases the port, so it opens again.
TEST(BoardLine, CloseReleasesThePortAfterAForcedTableReset) {
  Board b(BoardKind::uz1);
  ASSERT_EQ(dev_init_cntrl(1), 0);
  EXPECT_NE(ur_closeUZ(&b.info.boardLink.port), 0);
  EXPECT_FALSE(b.peer.is_open());
  EXPECT_EQ(ur_initUZ(&b.info), 0);
}

}  // namespace

// ---- threads: the device table's worker asks about the board's line while
// the board is driven, opened and closed on this thread.

TEST(BoardThreads, WorkerPollsWhileTheBoardIsDriven) {
  Board b(BoardKind::uz1);
  std::atomic<bool> stop{false};
  std::atomic<int> seen{0};
  std::thread requester([&] {
    while (!stop) {
      dev_info_t r;
      if (dev_data_read(DEV_TYPE_UZ, &r, 0) == DEV_TYPE_UZ) ++seen;
    }
  });
  for (uint32_t i = 0; i < 20; ++i) {
    ASSERT_EQ(uz_ee_light_set(&b.info, i), 0);
    uint32_t v = 99;
    ASSERT_EQ(uz_ee_light_read(&b.info, &v), 0);
    EXPECT_EQ(v, i);
  }
  // A report waiting in the line is input the worker finds.
  seen = 0;
  b.peer.push(reply({156, 3}));
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (seen == 0 && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
  EXPECT_GT(seen, 0);
  int kind = -1, value = -1;
  EXPECT_EQ(ur_read_report(&b.info, 0, &kind, &value), 0);
  EXPECT_EQ(kind, UR_REPORT_TURRET);
  EXPECT_EQ(value, 2);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(ur_closeUZ(&b.info.boardLink.port), 0);
    ASSERT_EQ(ur_initUZ(&b.info), 0);
  }
  stop = true;
  requester.join();
}

#ifndef _WIN32
// ---- the operating system's serial back end, on a pseudo-terminal, with
// the board on a thread of its own and real time.
namespace {

class BoardPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev_init_cntrl(1), 0);
    sysInfo[0] = sysInfo_t{};
    info.instrBdType = BD_SABLE;
    info.instrComm = line.device();
  }
  void TearDown() override {
    dev_close_cntrl();
    sysInfo[0] = sysInfo_t{};
  }

  LogCapture log;
  sim::PtyTransport line;
  sim::Script script;
  sim::InstrumentBoard model{BoardKind::uz1};
  sim::Runner runner{line, model.framer(), script, model};
  sysInfo_t& info = sysInfo[0];
};

TEST_F(BoardPty, ReadAndDownloadEndToEnd) {
  Ramp r(700);
  {
    sim::BackgroundRunner running(runner);
    ASSERT_EQ(ur_initUZ(&info), 0) << log.str();
    EXPECT_TRUE(dev_is_registered(info.boardLink.port.handle));
    uint32_t version = 0;
    EXPECT_EQ(uz_sw_version(&info, &version), 0);
    EXPECT_EQ(version, 13u);
    EXPECT_EQ(ur_ramp_download(&info, 4, &r.header, r.points.data()), 0) << log.str();
    EXPECT_EQ(ur_closeUZ(&info.boardLink.port), 0);
  }
  // The board's state is its thread's until that thread has stopped.
  EXPECT_EQ(model.slot(4).points, r.points);
}

TEST_F(BoardPty, BadDeviceNameIsACommunicationError) {
  info.instrComm = "/dev/no-such-board";
  EXPECT_EQ(ur_initUZ(&info), ERR_UZ_COMM);
  EXPECT_EQ(log.str(), "ur_initUZ: error initializing /dev/no-such-board: ERR_CANT_OPEN_SERIAL\n");
}

// A forced table reset forgets the board; closing still frees the port, so
// the exclusive line opens again.
TEST_F(BoardPty, ClosedAfterAForcedResetOpensAgain) {
  ASSERT_EQ(ur_initUZ(&info), 0);
  ASSERT_EQ(dev_init_cntrl(1), 0);
  EXPECT_NE(ur_closeUZ(&info.boardLink.port), 0);
  EXPECT_EQ(ur_initUZ(&info), 0) << log.str();
  EXPECT_EQ(ur_closeUZ(&info.boardLink.port), 0);
}

}  // namespace
#endif
