// The board line: opening and closing it, packets out and in with their
// retries, command names, fault texts, ramp download and reports.
#include "instrument/serial/board.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/record/ramp_types.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/board_tables.h"
#include "instrument/serial/device_table.h"

using felbrin::board::Board;
using felbrin::board::board_of;
using felbrin::board::CmdRow;

namespace felbrin::board {

sysInfo_t* record_of(sio_handle_t handle) {
  if (handle == SIO_INVALID_HANDLE) return nullptr;
  for (sysInfo_t& s : sysInfo) {
    if (s.boardLink.port.handle == handle) return &s;
  }
  return nullptr;
}

}  // namespace felbrin::board

namespace {

constexpr uint8_t kAck = 0xFF;
constexpr uint8_t kNak = 0xFE;
constexpr uint32_t kFirstByteMs = 10000;
constexpr int kAttempts = 3;
constexpr int kPacketsPerRead = 3;

using felbrin::is_one_of;

// Reports the board may send ahead of an answer of type 1 or 2. The Iris
// board's own reports (129, 139) count too: its command codes stay below 43,
// and without them a function key pressed during a command failed it.
bool unsolicited(const Board& board, uint8_t b) {
  if (board.type == BD_SABLE) return is_one_of(b, {155, 156});
  if (board.type == BD_IRIS && is_one_of(b, {129, 139})) return true;
  return is_one_of(b, {135, 155, 157});
}

bool wanted_report(const Board& board, uint8_t b) {
  if (board.type == BD_SABLE) return is_one_of(b, {155, 156});
  return is_one_of(b, {135, 155, 157, 129, 139});
}

enum class Verdict { accept, nak, fail, skip };

Verdict judge(const Board& board, int resp_type, uint8_t b) {
  switch (resp_type) {
    case UR_RESP_ACK:
      if (b == kAck) return Verdict::accept;
      if (b == kNak) return Verdict::nak;
      return unsolicited(board, b) ? Verdict::skip : Verdict::fail;
    case UR_RESP_DATA:
      if (b == kNak) return Verdict::nak;
      return unsolicited(board, b) ? Verdict::skip : Verdict::accept;
    default: return wanted_report(board, b) ? Verdict::accept : Verdict::skip;
  }
}

// The first byte of a reply may take a while (a motor move, an EEPROM
// write), so it gets 10 s; the port's own timeout comes back whatever
// happened.
bool read_first_byte(sio_handle_t handle, uint8_t& byte) {
  uint32_t saved = 0;
  if (sio_get_read_timeout_ms(handle, &saved) != 0) return false;
  bool ok = sio_set_read_timeout_ms(handle, kFirstByteMs) == 0;
  uint32_t got = 0;
  ok = ok && sio_read_data(handle, &byte, 1, &got) == 0;
  (void)sio_set_read_timeout_ms(handle, saved);
  return ok;
}

}  // namespace

bool ur_is_serial_board(const sysInfo_t* info) {
  return info != nullptr && board_of(info->instrBdType) != nullptr;
}

int ur_initUZ(sysInfo_t* info) {
  if (info == nullptr) return ERR_INVALID_PARAM;
  sio_port_t& port = info->boardLink.port;
  constexpr sio_line_settings_t kLine{.baud = 38400};
  int err = ur_is_serial_board(info) ? 0 : ERR_WRONG_INSTR_BOARD;
  if (err == 0) err = sio_open_configured(info->instrComm.c_str(), kLine, &port);
  if (err == 0) {
    err = dev_add_device(DEV_TYPE_UZ, port.handle, info);
    if (err != 0) (void)sio_close(&port);
  }
  if (err == 0) return 0;
  u_log_fn("ur_initUZ: error initializing %s: %s\n", info->instrComm.c_str(), err_name(err));
  return ERR_UZ_COMM;
}

// The port is closed even when the device table no longer knows it (after a
// forced dev_init_cntrl), or the handle would leak and the exclusive port
// could never be opened again.
int ur_closeUZ(sio_port_t* port) {
  if (port == nullptr || port->handle == SIO_INVALID_HANDLE) return ERR_INVALID_PARAM;
  const int removed = dev_remove_device(port->handle);
  const int closed = sio_close(port);
  return removed != 0 ? removed : closed;
}

int ur_flushUZ(sio_port_t* port) {
  if (port == nullptr) return ERR_INVALID_PARAM;
  if (sio_clear_buffer(port->handle) != 0) {
    u_log_fn("sio_clear_buffer failed.");
    return ERR_UZ_COMM;
  }
  return 0;
}

uint8_t ur_checksum(const uint8_t* bytes, int count) {
  uint8_t sum = 0;
  for (int i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

int ur_readUZ(sio_port_t* port, uint8_t* buffer, int resp_type, int* length) {
  if (length != nullptr) *length = 0;
  if (port == nullptr || buffer == nullptr || length == nullptr || resp_type < UR_RESP_ACK ||
      resp_type > UR_RESP_REPORT) {
    return ERR_INVALID_PARAM;
  }
  const sysInfo_t* info = felbrin::board::record_of(port->handle);
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  const Board* board = board_of(info->instrBdType);
  if (board == nullptr) return ERR_WRONG_INSTR_BOARD;

  for (int n = 1;; ++n) {
    uint8_t len_byte = 0;
    if (!read_first_byte(port->handle, len_byte)) {
      u_log_fn("ur_readUZ: timed out on first byte, respType=%d\n", resp_type);
      return ERR_UZ_RECV_TIMEOUT;
    }
    const int len = static_cast<int8_t>(len_byte);
    if (len <= 0) return 0;
    uint32_t got = 0;
    if (sio_read_data(port->handle, buffer, static_cast<uint32_t>(len), &got) != 0) {
      u_log_fn("ur_readUZ: sio_read_data failed\n");
      return ERR_UZ_RECV_TIMEOUT;
    }
    const uint8_t calc = ur_checksum(buffer, len - 1);
    if (buffer[len - 1] != calc) {
      u_log_fn("ur_readUZ: checksum err recv %d calc %d\n", buffer[len - 1], calc);
      return UR_CHECKSUM_RETRY;
    }
    switch (judge(*board, resp_type, buffer[0])) {
      case Verdict::accept: *length = len; return 0;
      case Verdict::nak: return UR_NAK_RETRY;
      case Verdict::fail: return ERR_UZ_RECV_FAILED;
      case Verdict::skip:
        if (n < kPacketsPerRead) continue;
        if (resp_type != UR_RESP_REPORT) u_log_fn("ur_readUZ: received unsolicited info\n");
        return ERR_UZ_RECV_FAILED;
    }
  }
}

int ur_writeUZ(sio_port_t* port, int len, uint8_t* buffer, int want_data, int checksum_present) {
  if (port == nullptr || buffer == nullptr || len < 2 ||
      (checksum_present == 0 && len > UR_MAX_REPLY)) {
    return ERR_INVALID_PARAM;
  }
  const uint8_t code = buffer[1];
  uint32_t count = static_cast<uint32_t>(len);
  if (checksum_present == 0) {
    buffer[len] = ur_checksum(buffer + 1, len - 1);
    ++count;
  }
  int err = ERR_UZ_RECV_FAILED;  // what three NAKs or checksum errors leave
  for (int i = 0; i < kAttempts; ++i) {
    uint32_t written = 0;
    if (sio_send_data(port->handle, buffer, count, &written) != 0) {
      u_log_fn("ur_writeUZ: sio_send_data failed  i=%d  len=%u\n", i, count);
      err = ERR_UZ_SEND_FAILED;
      break;
    }
    // Zeroed, so no byte of an earlier exchange can pass for an answer.
    std::array<uint8_t, UR_MAX_REPLY + 1> reply{};
    int n = 0;
    const int rc = ur_readUZ(port, reply.data(), want_data != 0 ? UR_RESP_DATA : UR_RESP_ACK, &n);
    if (rc == UR_NAK_RETRY || rc == UR_CHECKSUM_RETRY) {
      err = ERR_UZ_RECV_FAILED;
      continue;
    }
    if (rc != 0) {
      err = rc;
      break;
    }
    // A LEN byte of 0 or above 127 brought no answer at all; the command may
    // still have run, so it is not sent again.
    if (n == 0) {
      err = ERR_UZ_RECV_FAILED;
      break;
    }
    if (want_data == 0) {
      err = 0;
      break;
    }
    if (reply[0] != code) {
      u_log_fn("ur_writeUZ: recvd invalid resp  wanted %d  got %d\n", code, reply[0]);
      err = ERR_UZ_RECV_FAILED;
      break;
    }
    // A reply shorter than the table's would leave the caller reading stale
    // bytes as data; a longer one is taken and its extra bytes ignored.
    const sysInfo_t* info = felbrin::board::record_of(port->handle);
    const Board* board = info != nullptr ? board_of(info->instrBdType) : nullptr;
    const CmdRow* row = board != nullptr ? felbrin::board::row_of(*board, code) : nullptr;
    const int wanted = row != nullptr ? row->reply_len : 0;
    if (n < wanted) {
      u_log_fn("ur_writeUZ: recvd short resp  wanted %d  got %d\n", wanted, n);
      err = ERR_UZ_RECV_FAILED;
      break;
    }
    std::copy_n(reply.begin(), n, buffer);
    err = 0;
    break;
  }
  if (err != 0) {
    const char* name = ur_cmd_str(port->handle, code);
    u_log_fn("ur_writeUZ failed: cmd=%s\n", name != nullptr ? name : "UNKNOWN_CMD");
  }
  return err;
}

const char* ur_cmd_str(sio_handle_t handle, int code) {
  const sysInfo_t* info = felbrin::board::record_of(handle);
  if (info == nullptr) return "INVALID_PARAM";
  const Board* board = board_of(info->instrBdType);
  if (board == nullptr) {
    u_log_fn("ur_cmd_str: unknown instrBdType\n");
    return nullptr;
  }
  const CmdRow* row = felbrin::board::row_of(*board, code);
  return (row != nullptr ? *row : board->commands[0]).name;
}

int ur_board_error(int status, int board_type, int verbose) {
  if (status == 0) return 0;
  if (const Board* board = board_of(board_type)) {
    for (const auto& fault : board->faults) {
      if (fault.byte != status) continue;
      if (verbose != 0) u_log_fn("Error: %s\n", fault.message);
      return fault.code;
    }
  }
  if (verbose != 0) u_log_fn("Error: Unrecognized instrument board error %d\n", status);
  return ERR_UNKNOWN;
}

// The board takes these as 16-bit values: a ramp that does not fit would
// arrive truncated, as a corrupt ramp, so it is refused before anything goes
// out.
int ur_ramp_download(sysInfo_t* info, int slot, const rr_ramp_hdr_t* header,
                     const uint16_t* points) {
  if (info == nullptr || header == nullptr) return ERR_INVALID_PARAM;
  if (!ur_is_serial_board(info)) return ERR_WRONG_INSTR_BOARD;
  for (int32_t v : {header->nPoints, header->offset, header->trigStartAddr, header->trigEndAddr,
                    header->updateRate}) {
    if (!(0 <= v && v <= 65535)) return ERR_PARAM_OUT_OF_RANGE;
  }
  if (!(0 <= slot && slot <= 255)) return ERR_PARAM_OUT_OF_RANGE;
  if (header->nPoints > 0 && points == nullptr) return ERR_INVALID_PARAM;

  int first = uz_ramp_load(info, slot, header);
  uint8_t previous = 0;  // the answer byte of the last chunk that went through
  for (int start = 0; first == 0 && start < header->nPoints; start += UR_MAX_CHUNK_POINTS) {
    const int count = std::min(UR_MAX_CHUNK_POINTS, header->nPoints - start);
    uint8_t reply = 0;
    int rc = uz_ramp_data(info, points + start, count, &reply);
    if (rc != 0 && previous == 0) rc = uz_ramp_data(info, points + start, count, &reply);
    if (rc != 0) {
      first = rc;
    } else {
      previous = reply;
    }
  }
  const int complete = uz_ramp_complete(info);
  if (first == 0) first = complete;
  if (first != 0) (void)uz_ramp_delete(info, static_cast<uint32_t>(slot));
  return first;
}

int ur_ramp_start(sysInfo_t* info, int slot) {
  uint32_t idle = 0;
  if (const int rc = uz_ramp_idle(info, &idle); rc != 0) return rc;
  if (idle == 0) return ERR_RAMP_BUSY;
  if (!(0 <= slot && slot <= 255)) return ERR_PARAM_OUT_OF_RANGE;
  return uz_ramp_start(info, static_cast<uint32_t>(slot));
}

int ur_read_report(sysInfo_t* info, int raw, int* kind, int* value) {
  if (info == nullptr || value == nullptr || (raw == 0 && kind == nullptr))
    return ERR_INVALID_PARAM;
  if (!ur_is_serial_board(info)) return ERR_WRONG_INSTR_BOARD;
  std::array<uint8_t, UR_MAX_REPLY + 1> packet{};
  int n = 0;
  if (const int rc = ur_readUZ(&info->boardLink.port, packet.data(), UR_RESP_REPORT, &n); rc != 0)
    return rc;
  if (n < 3) return ERR_UZ_RECV_FAILED;  // no data byte came
  const uint8_t report = packet[0];
  const int data = packet[1];
  if (raw != 0) {
    *value = data;
    return 0;
  }
  const auto give = [&](int k, int v, bool ok) {
    if (!ok) return ERR_UZ_RECV_FAILED;
    *kind = k;
    *value = v;
    return 0;
  };
  const bool flag = data == 0 || data == 1;
  switch (info->instrBdType) {
    case BD_SABLE:
      if (report == 155) return give(UR_REPORT_ZOOM, data - 1, true);
      if (report == 156) return give(UR_REPORT_TURRET, data - 1, true);
      break;
    case BD_IRIS:
      if (report == 129)
        return give(UR_REPORT_IRIS_FKEY, data, is_one_of(packet[1], {102, 108, 109, 112}));
      if (report == 139) return give(UR_REPORT_IRIS_ALIGN, data, flag);
      break;
    default:
      if (report == 135) return give(UR_REPORT_FKEY, data, is_one_of(packet[1], {2, 8, 9, 12}));
      if (report == 155) return give(UR_REPORT_ALIGN_VIEW, data, flag);
      if (report == 157) return give(UR_REPORT_RING_SPOT, data, flag);
      break;
  }
  return ERR_UZ_RECV_FAILED;
}
