// A simulated instrument board on a line of the in-memory back end, opened
// by ur_initUZ in sysInfo[0], answering inside the library's writes on the
// virtual clock; and the board's packets worked out by hand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "instrument/record/sys_info.h"
#include "instrument/serial/board.h"
#include "instrument/serial/device_table.h"
#include "sim/instrument_board.h"
#include "sim/memory_serial.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace felbrin::test {

using Bytes = std::vector<uint8_t>;

// A packet as it goes over the line, worked out here: LEN (the bytes that
// follow), code and data, then the sum of code and data.
inline Bytes reply(const Bytes& body) {
  Bytes p(body.size() + 2);
  p[0] = static_cast<uint8_t>(body.size() + 1);
  unsigned sum = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    p[i + 1] = body[i];
    sum += body[i];
  }
  p.back() = static_cast<uint8_t>(sum & 0xFF);
  return p;
}

// The host's command: the same framing.
inline Bytes packet(uint8_t code, const Bytes& params = {}) {
  Bytes body(params.size() + 1);
  body[0] = code;
  std::copy(params.begin(), params.end(), body.begin() + 1);
  return reply(body);
}

inline const Bytes kAck = {0x02, 0xFF, 0xFF};
inline const Bytes kNak = {0x02, 0xFE, 0xFE};

inline int board_type(sim::BoardKind k) {
  switch (k) {
    case sim::BoardKind::uz1: return BD_SABLE;
    case sim::BoardKind::uz2: return BD_KITE;
    case sim::BoardKind::iris: return BD_IRIS;
    case sim::BoardKind::lumen: return BD_LUMEN;
  }
  return BD_NONE;
}

// One board on a line of the in-memory back end, opened by ur_initUZ.
class Board {
 public:
  explicit Board(sim::BoardKind kind)
      : model(kind), runner(line, model.framer(), script, model), saved_backend(sio_set_backend(&backend)) {
    EXPECT_EQ(dev_init_cntrl(1), 0);
    peer.on_write([this] { runner.step(0); });
    sysInfo[0] = sysInfo_t{};
    info.instrBdType = board_type(kind);
    info.instrComm = "COM9";
    info.boardVersion = 13;
    EXPECT_EQ(ur_initUZ(&info), 0);
  }
  ~Board() {
    ur_closeUZ(&info.boardLink.port);
    dev_close_cntrl();
    sio_set_backend(saved_backend);
    sysInfo[0] = sysInfo_t{};
  }
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  VirtualClock clock;
  LogCapture log;
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM9");
  sim::MemoryTransport line{peer, "COM9"};
  sim::Script script;
  sim::InstrumentBoard model;
  sim::Runner runner;
  plat::SerialBackend* saved_backend;
  sysInfo_t& info = sysInfo[0];
};

}  // namespace felbrin::test
