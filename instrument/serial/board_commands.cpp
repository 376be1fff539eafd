// One operation per board command. Each takes its code and lengths from its
// board's row, so the shapes below are all there is to most of them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/record/ramp_types.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/board.h"
#include "instrument/serial/board_tables.h"

namespace {

using felbrin::board::Board;
using felbrin::board::Cmd;
using felbrin::board::CmdRow;

// The board lacks the command and the operation does nothing.
constexpr int kSkipped = -1;
// Packets of commands (not RAMP_DATA) and their replies fit here.
constexpr std::size_t kPacket = 128;

struct Target {
  const Board* board = nullptr;
  const CmdRow* row = nullptr;
  uint8_t code = 0;
};

int target(const sysInfo_t* info, Cmd cmd, Target& t) {
  if (info == nullptr) return ERR_INVALID_PARAM;
  t.board = felbrin::board::board_of(info->instrBdType);
  if (t.board == nullptr) return ERR_WRONG_INSTR_BOARD;
  const int code = felbrin::board::code_of(*t.board, cmd);
  if (code < 0) return felbrin::board::uz1_has(cmd) ? ERR_WRONG_INSTR_BOARD : kSkipped;
  t.code = static_cast<uint8_t>(code);
  t.row = &t.board->commands[static_cast<std::size_t>(code)];
  return 0;
}

std::size_t data_size(const CmdRow& row) { return row.reply_len > 2 ? row.reply_len - 2u : 0u; }

// Sends the command with its parameters and gives the reply data (as many
// bytes as the table's reply carries, at most data.size()).
int exchange(sysInfo_t* info, const Target& t, std::span<const uint8_t> params,
             std::span<uint8_t> data) {
  if (params.size() + 2 != t.row->cmd_len) return ERR_INVALID_PARAM;
  std::array<uint8_t, kPacket> packet{};
  packet[0] = t.row->cmd_len;
  packet[1] = t.code;
  std::copy(params.begin(), params.end(), packet.begin() + 2);
  const bool want = t.row->reply_len > 0;
  const int rc = ur_writeUZ(&info->boardLink.port, t.row->cmd_len, packet.data(), want ? 1 : 0, 0);
  if (rc != 0 || !want) return rc;
  const std::size_t n = std::min(data.size(), data_size(*t.row));
  std::copy_n(packet.begin() + 1, n, data.begin());
  return 0;
}

void put_be(std::span<uint8_t> out, uint32_t v) {
  const std::size_t n = std::min<std::size_t>(out.size(), 4);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>((v >> (8 * (n - 1 - i))) & 0xFF);
}

uint32_t get_be(std::span<const uint8_t> in) {
  uint32_t v = 0;
  for (uint8_t b : in) v = (v << 8) | b;
  return v;
}

bool fits(uint32_t value, std::size_t width) { return width >= 4 || (value >> (8 * width)) == 0; }

int set_value(sysInfo_t* info, Cmd cmd, uint32_t value) {
  Target t;
  if (const int rc = target(info, cmd, t); rc != 0) return rc == kSkipped ? 0 : rc;
  const std::size_t width = t.row->cmd_len - 2u;
  if (width > 4) return ERR_INVALID_PARAM;
  if (!fits(value, width)) return ERR_PARAM_OUT_OF_RANGE;
  std::array<uint8_t, 4> bytes{};
  put_be(std::span(bytes).first(width), value);
  return exchange(info, t, std::span(bytes).first(width), {});
}

int read_value(sysInfo_t* info, Cmd cmd, uint32_t* value) {
  if (value == nullptr) return ERR_INVALID_PARAM;
  Target t;
  if (const int rc = target(info, cmd, t); rc != 0) return rc == kSkipped ? 0 : rc;
  const std::size_t width = std::min<std::size_t>(data_size(*t.row), 4);
  std::array<uint8_t, 4> bytes{};
  const int rc = exchange(info, t, {}, std::span(bytes).first(width));
  if (rc == 0) *value = get_be(std::span(bytes).first(width));
  return rc;
}

int send_bytes(sysInfo_t* info, Cmd cmd, const uint8_t* params, int count, uint8_t* data,
               int capacity) {
  Target t;
  if (const int rc = target(info, cmd, t); rc != 0) return rc == kSkipped ? 0 : rc;
  if (count < 0 || (count > 0 && params == nullptr)) return ERR_INVALID_PARAM;
  const std::size_t wanted = data_size(*t.row);
  if (wanted > 0 && (data == nullptr || capacity < static_cast<int>(wanted)))
    return ERR_INVALID_PARAM;
  return exchange(info, t, {params, static_cast<std::size_t>(count)}, {data, wanted});
}

int no_parameter(sysInfo_t* info, Cmd cmd) { return send_bytes(info, cmd, nullptr, 0, nullptr, 0); }

// Light level encodings: the 12-bit boards take the level counted down from
// their top value.
struct LightLevel {
  int board;
  int limit;      // levels below this
  bool inverted;  // sent as limit - 1 - level
};
constexpr LightLevel kLightLevels[] = {
    {BD_KITE, 160, false}, {BD_IRIS, 256, false}, {BD_LUMEN, 3686, true}, {BD_SABLE, 4096, true}};

const LightLevel* light_level(const sysInfo_t* info) {
  for (const LightLevel& l : kLightLevels) {
    if (l.board == info->instrBdType) return &l;
  }
  return nullptr;
}

// Moves that report through a moving flag: set the target, then poll.
int change_and_wait(sysInfo_t* info, Cmd change, Cmd moving, int value, int wait,
                    int timeout_error) {
  if (info == nullptr) return ERR_INVALID_PARAM;
  if (info->instrBdType != BD_KITE) return 0;
  if (value != 0 && value != 1) return ERR_INVALID_PARAM;
  if (info->boardVersion < 13) return ERR_NOT_IMPLEMENTED;
  int rc = set_value(info, change, static_cast<uint32_t>(value));
  if (rc != 0 || wait == 0) return rc;
  constexpr int kPolls = 501;
  constexpr int kPauseMs = 250;
  for (int i = 0; i < kPolls; ++i) {
    if ((rc = u_poll_pause(kPauseMs)) != 0) return rc;
    uint32_t still = 0;
    if ((rc = read_value(info, moving, &still)) != 0) return rc;
    if (still == 0) return 0;
  }
  return timeout_error;
}

bool custom_camera(const sysInfo_t* info) {
  return info != nullptr && info->cameraType == CAM_CUSTOM;
}

}  // namespace

// ---- no parameter
int uz_reset_uart(sysInfo_t* info) { return no_parameter(info, Cmd::RESET_UART); }
int uz_ramp_complete(sysInfo_t* info) { return no_parameter(info, Cmd::RAMP_COMPLETE); }
int uz_ramp_abort(sysInfo_t* info) { return no_parameter(info, Cmd::RAMP_ABORT); }
int uz_pc_ramp_done(sysInfo_t* info) { return no_parameter(info, Cmd::PC_RAMP_DONE); }
int uz_video_pr(sysInfo_t* info) { return no_parameter(info, Cmd::VIDEO_PR); }
int uz_pzt3_reset(sysInfo_t* info) { return no_parameter(info, Cmd::PZT3_RESET); }
int uz_reset_tmi(sysInfo_t* info) { return no_parameter(info, Cmd::RESET_TMI); }

// ---- one value
int uz_pzt_power(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::PZT_POWER, v); }
int uz_ee_serial_set(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::EE_SERIAL_SET, v); }
int uz_ee_camera_set(sysInfo_t* info, uint32_t v) {
  return custom_camera(info) ? ERR_INVALID_PARAM : set_value(info, Cmd::EE_CAMERA_SET, v);
}
int uz_ee_light_set(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::EE_LIGHT_SET, v); }
int uz_ee_system_set(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::EE_SYSTEM_SET, v); }
int uz_ee_sysdate_set(sysInfo_t* info, uint32_t v) {
  return set_value(info, Cmd::EE_SYSDATE_SET, v);
}
int uz_ee_instrbd_set(sysInfo_t* info, uint32_t v) {
  return set_value(info, Cmd::EE_INSTRBD_SET, v);
}
int uz_ramp_dac(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::RAMP_DAC, v); }
int uz_ramp_delete(sysInfo_t* info, uint32_t slot) {
  return set_value(info, Cmd::RAMP_DELETE, slot);
}
int uz_ramp_start(sysInfo_t* info, uint32_t slot) { return set_value(info, Cmd::RAMP_START, slot); }
int uz_pzt3_disconnect(sysInfo_t* info, uint32_t v) {
  return set_value(info, Cmd::PZT3_DISCONNECT, v);
}
int uz_pifoc_level(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::PIFOC_LEVEL, v); }
int uz_camera_res(sysInfo_t* info, uint32_t v) {
  return custom_camera(info) ? ERR_INVALID_PARAM : set_value(info, Cmd::CAMERA_RES, v);
}
int uz_pzt_type(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::PZT_TYPE, v); }
int uz_lczdrive(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::LCZDRIVE, v); }
int uz_zoompos_report(sysInfo_t* info, uint32_t v) {
  return set_value(info, Cmd::ZOOMPOS_REPORT, v);
}
int uz_turretpos_report(sysInfo_t* info, uint32_t v) {
  return set_value(info, Cmd::TURRETPOS_REPORT, v);
}
int uz_wand(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::WAND, v); }
int uz_lock_pos(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::LOCK_POS, v); }
int uz_shutter_state(sysInfo_t* info, uint32_t v) { return set_value(info, Cmd::SHUTTER_STATE, v); }
int uz_shutter_output(sysInfo_t* info, uint32_t v) {
  return set_value(info, Cmd::SHUTTER_OUTPUT, v);
}

// ---- one value read
int uz_llc_mode_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::LLC_MODE_READ, v);
}
int uz_ee_serial_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::EE_SERIAL_READ, v);
}
int uz_ee_camera_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::EE_CAMERA_READ, v);
}
int uz_ee_light_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::EE_LIGHT_READ, v);
}
int uz_ee_system_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::EE_SYSTEM_READ, v);
}
int uz_ee_sysdate_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::EE_SYSDATE_READ, v);
}
int uz_ee_instrbd_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::EE_INSTRBD_READ, v);
}
int uz_adc_p12_read(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::ADC_P12_READ, v); }
int uz_adc_n15_read(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::ADC_N15_READ, v); }
int uz_adc_p15_read(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::ADC_P15_READ, v); }
int uz_adc_p200_read(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::ADC_P200_READ, v);
}
int uz_syserr(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::SYSERR, v); }
int uz_pzt_chk(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::PZT_CHK, v); }
int uz_sw_version(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::SW_VERSION, v); }
int uz_ramp_idle(sysInfo_t* info, uint32_t* idle) { return read_value(info, Cmd::RAMP_IDLE, idle); }
int uz_expansion_bd(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::EXPANSION_BD, v); }
int uz_llc_stable(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::LLC_STABLE, v); }
int uz_wand_motion(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::WAND_MOTION, v); }
int uz_wand_mode(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::WAND_MODE, v); }
int uz_wand_mode2(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::WAND_MODE2, v); }
int uz_pzt3(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::PZT3, v); }
int uz_pzt3_status(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::PZT3_STATUS, v); }
int uz_pzt3_pwrchk(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::PZT3_PWRCHK, v); }
int uz_quartz(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::QUARTZ, v); }
int uz_dd_voltchk(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::DD_VOLTCHK, v); }
int uz_av_moving(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::AV_MOVING, v); }
int uz_rs_moving(sysInfo_t* info, uint32_t* v) { return read_value(info, Cmd::RS_MOVING, v); }
int uz_read_tmi_lockedp(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::READ_TMI_LOCKEDP, v);
}
int uz_read_tmi_measerr(sysInfo_t* info, uint32_t* v) {
  return read_value(info, Cmd::READ_TMI_MEASERR, v);
}

// ---- parameter bytes in wire order
int uz_motor_move(sysInfo_t* info, const uint8_t* p, int n) {
  return send_bytes(info, Cmd::MOTOR_MOVE, p, n, nullptr, 0);
}
int uz_motor_read(sysInfo_t* info, const uint8_t* p, int n, uint8_t* data, int capacity) {
  return send_bytes(info, Cmd::MOTOR_READ, p, n, data, capacity);
}
int uz_llc_mode_set(sysInfo_t* info, const uint8_t* p, int n) {
  return send_bytes(info, Cmd::LLC_MODE_SET, p, n, nullptr, 0);
}
int uz_pifoc_reset(sysInfo_t* info, const uint8_t* p, int n) {
  return send_bytes(info, Cmd::PIFOC_RESET, p, n, nullptr, 0);
}
int uz_pc_read(sysInfo_t* info, uint8_t* data, int capacity) {
  return send_bytes(info, Cmd::PC_READ, nullptr, 0, data, capacity);
}
int uz_pc_adc_set(sysInfo_t* info, const uint8_t* p, int n) {
  return send_bytes(info, Cmd::PC_ADC_SET, p, n, nullptr, 0);
}
int uz_pc_adc_read(sysInfo_t* info, const uint8_t* p, int n, uint8_t* data, int capacity) {
  return send_bytes(info, Cmd::PC_ADC_READ, p, n, data, capacity);
}
int uz_ramp_comp_load(sysInfo_t* info, const uint8_t* p, int n) {
  return send_bytes(info, Cmd::RAMP_COMP_LOAD, p, n, nullptr, 0);
}
int uz_quartz_pos(sysInfo_t* info, uint8_t* data, int capacity) {
  return send_bytes(info, Cmd::QUARTZ_POS, nullptr, 0, data, capacity);
}
int uz_pzt3_ramp(sysInfo_t* info, const uint8_t* p, int n) {
  return send_bytes(info, Cmd::PZT3_RAMP, p, n, nullptr, 0);
}

// ---- rules of their own
int uz_llc_set(sysInfo_t* info, int level) {
  Target t;
  if (const int rc = target(info, Cmd::LLC_SET, t); rc != 0) return rc == kSkipped ? 0 : rc;
  const LightLevel* l = light_level(info);
  if (l == nullptr || !(0 <= level && level < l->limit)) return ERR_PARAM_OUT_OF_RANGE;
  const uint32_t sent = static_cast<uint32_t>(l->inverted ? l->limit - 1 - level : level);
  return set_value(info, Cmd::LLC_SET, sent);
}

int uz_llc_read(sysInfo_t* info, int* level) {
  if (level == nullptr) return ERR_INVALID_PARAM;
  uint32_t raw = 0;
  const int rc = read_value(info, Cmd::LLC_READ, &raw);
  if (rc != 0) return rc;
  const LightLevel* l = light_level(info);
  if (l == nullptr) return ERR_WRONG_INSTR_BOARD;
  *level = l->inverted ? l->limit - 1 - static_cast<int>(raw) : static_cast<int>(raw);
  return 0;
}

int uz_pzt_set(sysInfo_t* info, uint16_t first, uint16_t second, uint16_t third) {
  Target t;
  if (const int rc = target(info, Cmd::PZT_SET, t); rc != 0) return rc == kSkipped ? 0 : rc;
  std::array<uint8_t, 6> p{};
  put_be(std::span(p).subspan(0, 2), first);
  put_be(std::span(p).subspan(2, 2), second);
  put_be(std::span(p).subspan(4, 2), third);
  // The Iris board's single value is the third.
  const auto params =
      t.row->cmd_len == 4 ? std::span<const uint8_t>(p).subspan(4, 2) : std::span<const uint8_t>(p);
  return exchange(info, t, params, {});
}

int uz_ramp_request(sysInfo_t* info, uint8_t out[12]) {
  if (out == nullptr) return ERR_INVALID_PARAM;
  std::fill_n(out, 12, uint8_t{0xFF});
  Target t;
  if (const int rc = target(info, Cmd::RAMP_REQUEST, t); rc != 0) return rc == kSkipped ? 0 : rc;
  return exchange(info, t, {}, {out, 12});
}

int uz_power_chk(sysInfo_t* info, uint8_t* status) {
  uint32_t byte = 0;
  const int rc = read_value(info, Cmd::POWER_CHK, &byte);
  if (rc != 0) return rc;
  if (status != nullptr) *status = static_cast<uint8_t>(byte);
  return ur_board_error(static_cast<int>(byte), info->instrBdType, 1);
}

namespace {
constexpr int kIoFirst = 4096;
constexpr int kIoLast = 6143;
}  // namespace

int uz_read_io(sysInfo_t* info, int address, uint8_t* value) {
  if (value == nullptr) return ERR_INVALID_PARAM;
  if (!(kIoFirst <= address && address <= kIoLast)) return ERR_PARAM_OUT_OF_RANGE;
  std::array<uint8_t, 2> p{};
  put_be(p, static_cast<uint32_t>(address));
  std::array<uint8_t, 3> data{};
  const int rc = send_bytes(info, Cmd::READ_IO, p.data(), 2, data.data(), 3);
  if (rc == 0) *value = data[2];
  return rc;
}

int uz_write_io(sysInfo_t* info, int address, uint8_t value) {
  if (!(kIoFirst <= address && address <= kIoLast)) return ERR_PARAM_OUT_OF_RANGE;
  std::array<uint8_t, 3> p{};
  put_be(std::span(p).first(2), static_cast<uint32_t>(address));
  p[2] = value;
  return send_bytes(info, Cmd::WRITE_IO, p.data(), 3, nullptr, 0);
}

int uz_ramp_updaterate(sysInfo_t* info, int slot, int rate) {
  Target t;
  if (const int rc = target(info, Cmd::RAMP_UPDATERATE, t); rc != 0) return rc == kSkipped ? 0 : rc;
  if (!(0 <= slot && slot <= 255 && 0 <= rate && rate <= 65535)) return ERR_PARAM_OUT_OF_RANGE;
  std::array<uint8_t, 3> p{static_cast<uint8_t>(slot)};
  put_be(std::span(p).subspan(1, 2), static_cast<uint32_t>(rate));
  uint8_t reply = 0;
  const int rc = exchange(info, t, p, {&reply, 1});
  if (rc != 0) return rc;
  return t.board->invalid_ramp_index != 0 && reply == t.board->invalid_ramp_index
             ? ERR_INVALID_RAMP_INDEX
             : 0;
}

int uz_quartz_init(sysInfo_t* info) {
  uint32_t byte = 0;
  const int rc = read_value(info, Cmd::QUARTZ_INIT, &byte);
  if (rc != 0) return rc;
  return byte != 0 ? ERR_QUARTZ_INIT : 0;
}

int uz_change_alignview(sysInfo_t* info, int value, int wait) {
  return change_and_wait(info, Cmd::CHANGE_ALIGNVIEW, Cmd::AV_MOVING, value, wait, ERR_AV_TIMEOUT);
}

int uz_change_ringspot(sysInfo_t* info, int value, int wait) {
  if (info != nullptr && info->ringSpot == 0) return 0;
  return change_and_wait(info, Cmd::CHANGE_RINGSPOT, Cmd::RS_MOVING, value, wait, ERR_RS_TIMEOUT);
}

// UZ2: configuration bytes 0 and 1. UZ1 and Lumen: bytes 2 to 9 in the
// order of the Camera Config line, which swaps the sixth and seventh.
int uz_custom_camera(sysInfo_t* info) {
  Target t;
  if (const int rc = target(info, Cmd::CUSTOM_CAMERA, t); rc != 0) return rc == kSkipped ? 0 : rc;
  if (!custom_camera(info)) return ERR_INVALID_PARAM;
  const uint8_t* c = info->cameraConfig;
  if (t.row->cmd_len == 4) return exchange(info, t, std::array<uint8_t, 2>{c[0], c[1]}, {});
  return exchange(info, t, std::array<uint8_t, 8>{c[2], c[3], c[4], c[5], c[6], c[8], c[7], c[9]},
                  {});
}

int uz_ramp_load(sysInfo_t* info, int slot, const rr_ramp_hdr_t* h) {
  Target t;
  if (const int rc = target(info, Cmd::RAMP_LOAD, t); rc != 0) return rc == kSkipped ? 0 : rc;
  if (h == nullptr) return ERR_INVALID_PARAM;
  const int32_t bytes[] = {slot, h->rampID, h->polar};
  const int32_t words[] = {h->nPoints, h->offset, h->trigStartAddr, h->trigEndAddr, h->updateRate};
  std::array<uint8_t, 13> p{};
  std::size_t at = 0;
  for (int32_t v : bytes) {
    if (!(0 <= v && v <= 255)) return ERR_PARAM_OUT_OF_RANGE;
    p[at++] = static_cast<uint8_t>(v);
  }
  for (int32_t v : words) {
    if (!(0 <= v && v <= 65535)) return ERR_PARAM_OUT_OF_RANGE;
    put_be(std::span(p).subspan(at, 2), static_cast<uint32_t>(v));
    at += 2;
  }
  return exchange(info, t, p, {});
}

int uz_ramp_data(sysInfo_t* info, const uint16_t* points, int count, uint8_t* reply) {
  Target t;
  if (const int rc = target(info, Cmd::RAMP_DATA, t); rc != 0) return rc == kSkipped ? 0 : rc;
  if (!(0 <= count && count <= UR_MAX_CHUNK_POINTS) || (count > 0 && points == nullptr))
    return ERR_INVALID_PARAM;
  // LEN, code, count, header checksum, the points, data checksum; the reply
  // comes back into the same buffer.
  std::array<uint8_t, 6 + 2 * UR_MAX_CHUNK_POINTS> packet{};
  packet[0] = t.row->cmd_len;
  packet[1] = t.code;
  put_be(std::span(packet).subspan(2, 2), static_cast<uint32_t>(count));
  packet[4] = ur_checksum(packet.data() + 1, 3);
  for (int i = 0; i < count; ++i)
    put_be(std::span(packet).subspan(5 + 2 * static_cast<std::size_t>(i), 2), points[i]);
  const int n = 2 * count;
  packet[5 + static_cast<std::size_t>(n)] = ur_checksum(packet.data() + 5, n);
  const int rc = ur_writeUZ(&info->boardLink.port, 6 + n, packet.data(), 1, 1);
  if (rc == 0 && reply != nullptr) *reply = packet[1];
  return rc;
}
