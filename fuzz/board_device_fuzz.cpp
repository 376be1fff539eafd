// Fuzzes the instrument board protocol with everything a board might send:
// the first byte chooses the board (UZ1, UZ2, Iris, Lumen), then each
// command of the sequence is chosen by one byte and answered by the replies
// that follow (see FuzzedLine). A value the library reads back must be the
// data of a checksummed packet the board really sent with the command's
// code; an acknowledged command must have seen a checksummed ACK packet.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/errors.h"
#include "fuzz/device_fuzz.h"
#include "fuzz/fuzz_support.h"
#include "instrument/record/sys_info.h"
#include "instrument/ramps/ramp_file.h"
#include "instrument/serial/board.h"
#include "instrument/serial/board_tables.h"

namespace {

using felbrin::board::Cmd;
using felbrin::fuzz::ByteStream;
using felbrin::fuzz::expect;
using felbrin::fuzz::FuzzedLine;
using felbrin::fuzz::HangGuard;

// One exchange: three attempts, each reading up to three packets whose
// first byte may take 10 s and whose rest the port's 2 s.
constexpr int64_t kExchangeMs = 3 * 3 * (10000 + 2000);

// The packets in what the board sent: LEN, LEN bytes whose last is the sum
// of the others. Any byte may start one, as the library may have dropped
// bytes ahead of it.
std::vector<std::vector<uint8_t>> packets_in(const std::vector<uint8_t>& sent) {
  std::vector<std::vector<uint8_t>> out;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const int len = static_cast<int8_t>(sent[i]);
    if (len <= 0 || i + static_cast<std::size_t>(len) >= sent.size()) continue;
    const auto body = sent.begin() + static_cast<std::ptrdiff_t>(i) + 1;
    if (ur_checksum(&*body, len - 1) != body[len - 1]) continue;
    out.emplace_back(body, body + len);
  }
  return out;
}

const felbrin::board::CmdRow* row_for(const sysInfo_t& info, Cmd cmd) {
  const felbrin::board::Board* board = felbrin::board::board_of(info.instrBdType);
  const int code = felbrin::board::code_of(*board, cmd);
  return code < 0 ? nullptr : felbrin::board::row_of(*board, code);
}

// A value read as success must be the big-endian data of a packet with the
// command's code, as long as its table row says.
void check_value(const sysInfo_t& info, const FuzzedLine& line, Cmd cmd, uint32_t value) {
  const felbrin::board::CmdRow* row = row_for(info, cmd);
  if (row == nullptr) return;  // the board lacks it: nothing was asked
  const int code = static_cast<int>(row - felbrin::board::board_of(info.instrBdType)->commands.data());
  const std::size_t width = std::min<std::size_t>(row->reply_len > 2 ? row->reply_len - 2u : 0u, 4);
  for (const auto& p : packets_in(line.sent())) {
    if (p[0] != code || p.size() < row->reply_len) continue;
    uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v = v << 8 | p[1 + i];
    if (v == value) return;
  }
  std::abort();
}

void check_acked(const sysInfo_t& info, const FuzzedLine& line, Cmd cmd) {
  if (row_for(info, cmd) == nullptr) return;
  for (const auto& p : packets_in(line.sent())) {
    if (p[0] == 0xFF) return;
  }
  std::abort();
}

constexpr uint32_t kUntouched = 0xDEADBEEF;

void read_and_check(sysInfo_t& info, FuzzedLine& line, Cmd cmd, int (*op)(sysInfo_t*, uint32_t*)) {
  uint32_t value = kUntouched;
  if (op(&info, &value) == 0) check_value(info, line, cmd, value);
}

void run_command(uint8_t choice, sysInfo_t& info, FuzzedLine& line) {
  line.mark(info.boardLink.port.handle);
  switch (choice % 11) {
    case 0: {
      HangGuard guard(kExchangeMs);
      read_and_check(info, line, Cmd::SW_VERSION, uz_sw_version);
      break;
    }
    case 1: {
      HangGuard guard(kExchangeMs);
      read_and_check(info, line, Cmd::EE_SERIAL_READ, uz_ee_serial_read);
      break;
    }
    case 2: {
      HangGuard guard(kExchangeMs);
      read_and_check(info, line, Cmd::RAMP_IDLE, uz_ramp_idle);
      break;
    }
    case 3: {
      HangGuard guard(kExchangeMs);
      uint8_t status = 0;
      const int rc = uz_power_chk(&info, &status);
      if (rc == 0) check_value(info, line, Cmd::POWER_CHK, status);
      break;
    }
    case 4: {
      HangGuard guard(kExchangeMs);
      if (uz_llc_set(&info, 100) == 0) check_acked(info, line, Cmd::LLC_SET);
      break;
    }
    case 5: {
      HangGuard guard(kExchangeMs);
      if (uz_ee_serial_set(&info, 0x01020304) == 0) check_acked(info, line, Cmd::EE_SERIAL_SET);
      break;
    }
    case 6: {
      HangGuard guard(kExchangeMs);
      int level = -1;
      (void)uz_llc_read(&info, &level);
      break;
    }
    case 7: {
      // Up to three packets of 10 s and 2 s each.
      HangGuard guard(3 * 12000);
      int kind = 0;
      int value = -1;
      if (ur_read_report(&info, 1, &kind, &value) == 0) {
        bool seen = false;
        for (const auto& p : packets_in(line.sent())) seen = seen || (p.size() >= 3 && p[1] == value);
        if (!seen) std::abort();
      }
      break;
    }
    case 8: {
      // RAMP_LOAD, two chunks sent at most twice each, RAMP_COMPLETE and
      // perhaps RAMP_DELETE.
      HangGuard guard(7 * kExchangeMs);
      std::vector<uint16_t> points(600, 0x1234);
      rr_ramp_hdr_t header{};
      header.nPoints = static_cast<int32_t>(points.size());
      header.updateRate = 10;
      (void)ur_ramp_download(&info, 3, &header, points.data());
      break;
    }
    case 9: {
      // The change, then up to 501 polls 250 ms apart.
      HangGuard guard(kExchangeMs + 501 * (250 + kExchangeMs));
      (void)uz_change_alignview(&info, 1, 1);
      break;
    }
    default: {
      HangGuard guard(kExchangeMs);
      uint8_t value = 0;
      (void)uz_read_io(&info, 4097, &value);
      break;
    }
  }
}

constexpr std::array<int, 4> kBoards = {BD_SABLE, BD_KITE, BD_IRIS, BD_LUMEN};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (!felbrin::fuzz::usable_input(size)) return 0;
  felbrin::fuzz::DeviceRun run({data, size}, "COM9");

  // The line as ur_initUZ sets it, without the device table and its worker.
  sysInfo_t& info = sysInfo[0];
  info = sysInfo_t{};
  info.instrBdType = kBoards[run.input.byte() % kBoards.size()];
  info.boardVersion = 13;
  if (sio_open("COM9", &info.boardLink.port) != 0 || sio_init_xonxoff(info.boardLink.port.handle, nullptr) != 0 ||
      sio_set_baud_rate(info.boardLink.port.handle, 38400) != 0 || sio_disable_xonxoff(info.boardLink.port.handle) != 0) {
    std::abort();
  }
  run.commands([&](uint8_t choice) { run_command(choice, info, run.line); });
  (void)sio_close(&info.boardLink.port);
  info = sysInfo_t{};
  return 0;
}
