#include "instrument/can/can_nodes.h"

#include <bit>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_state.h"
#include "instrument/ramps/ramp_file.h"

namespace felbrin::can {
namespace {

enum class Dir : uint8_t { read, write };

// One row per operation that moves one object. The generic dual-motor-drive
// rows take their node from the caller (kCallerNode); the ramp rows add the
// ramp number to their index.
enum class Obj : uint8_t {
  RampStart,
  RampStatus,
  RampSelect,
  RampValid,
  RampTrigger,
  RampRate,
  RampData,
  PifocOffset,
  BridgeStatus,
  BridgeConfigRead,
  BridgeConfigWrite,
  FgTrigger,
  SyncGen,
  PiStatusNew,
  PiStatusOld,
  PiSelect,
  PiAmplitude,
  PiVelocity,
  PiStart,
  PiLoadTables,
  PiSerialInteger,
  DigitalOutWrite,
  DigitalOutRead,
  AlignEnable,
  AlignDiode,
  LedSetup,
  LlcWrite,
  LlcRead,
  LlcAvgCurLmt,
  LlcFwdVlt,
  LlcPwmFreq,
  TurretStatus,
  Turret,
  Zoom,
  AllZoom,
  BrmtrConfig,
  ProductId,
  Version,
  M1ControlRead,
  M1ControlWrite,
  M1Mode,
  M1TargetVel,
  M2Control,
  M2Status,
  M2LlcRead,
  M2LlcWrite,
  M2Current,
  M2MaxCurrent,
  KeypressRead,
  KeypressWrite,
  M2Position,
  PztStatus,
  LapsStatus,
  EncZoomMode,
  EncZoomLowLimit,
  EncZoomHighLimit,
  EncZoomBacklash,
  Count
};

constexpr uint8_t kCallerNode = 0;

struct Entry {
  Obj id;
  uint8_t node;
  uint16_t index;
  uint8_t sub;
  uint32_t width;
  Dir dir;
  int sdo_error;
  const char* name;
};

constexpr Dir R = Dir::read;
constexpr Dir W = Dir::write;
constexpr uint8_t kRamp = CAN_NODE_ID_RAMP;
constexpr uint8_t kLed = CAN_NODE_ID_LED;
constexpr uint8_t kBrush = CAN_NODE_ID_BRUSHMOTOR;
constexpr int kRampErr = ERR_CAN_SDO_RAMP_ERROR;
constexpr int kBridgeErr = ERR_CAN_SDO_BRIDGE_ERROR;
constexpr int kDmdErr = ERR_CAN_SDO_DMD_ERROR;
constexpr uint8_t kNdw = CAN_NODE_ID_FOCUS_NDW;
constexpr int kEncZoomErr = ERR_CAN_SDO_ENC_ZOOM_ERROR;

constexpr Entry kEntries[] = {
    {Obj::RampStart, kRamp, 0x2000, 0, 1, W, kRampErr, "can_ramp_start"},
    {Obj::RampStatus, kRamp, 0x2000, 0, 1, R, kRampErr, "can_read_ramp_status"},
    {Obj::RampSelect, kRamp, 0x2001, 0, 1, W, kRampErr, "can_write_ramp_select"},
    {Obj::RampValid, kRamp, 0x2003, 1, 1, R, kRampErr, "can_read_ramp_valid"},
    {Obj::RampTrigger, kRamp, 0x2003, 2, 2, W, kRampErr, "can_write_ramp_trigger"},
    {Obj::RampRate, kRamp, 0x2003, 4, 4, W, kRampErr, "can_write_ramp_rate"},
    {Obj::RampData, kRamp, 0x2003, 5, 32768, W, kRampErr, "can_write_ramp_data"},
    {Obj::PifocOffset, kRamp, 0x2009, 1, 2, W, kRampErr, "can_write_pifoc_offset"},
    {Obj::BridgeStatus, kRamp, 0x2010, 1, 1, R, kBridgeErr, "can_read_bridge_status"},
    {Obj::BridgeConfigRead, kRamp, 0x2010, 2, 2, R, kRampErr, "can_bridge_read_config"},
    {Obj::BridgeConfigWrite, kRamp, 0x2010, 2, 2, W, kRampErr, "can_bridge_write_config"},
    {Obj::FgTrigger, kRamp, 0x2010, 5, 2, W, kRampErr, "can_write_fg_trigger"},
    {Obj::SyncGen, kRamp, 0x2030, 0, 4, W, kRampErr, "can_write_syncgen"},
    {Obj::PiStatusNew, kRamp, 0x2040, 0, 2, R, kRampErr, "can_read_pi_ramp_status"},
    {Obj::PiStatusOld, kRamp, 0x2041, 11, 2, R, kRampErr, "can_read_pi_ramp_status"},
    {Obj::PiSelect, kRamp, 0x2041, 1, 1, W, kRampErr, "can_write_pi_ramp_select"},
    {Obj::PiAmplitude, kRamp, 0x2041, 2, 4, R, kRampErr, "can_read_pi_ramp_amplitude"},
    {Obj::PiVelocity, kRamp, 0x2041, 3, 4, R, kRampErr, "can_read_pi_ramp_velocity"},
    {Obj::PiStart, kRamp, 0x2041, 6, 1, W, kRampErr, "can_pi_ramp_start"},
    {Obj::PiLoadTables, kRamp, 0x2041, 19, 1, W, kRampErr, "can_pi_load_ddl_tables"},
    {Obj::PiSerialInteger, kRamp, 0x2041, 20, 2, R, kRampErr, "can_read_pi_serial_integer"},
    {Obj::DigitalOutWrite, kRamp, 0x6200, 1, 1, W, kBridgeErr, "can_bridge_write_digitalout"},
    {Obj::DigitalOutRead, kRamp, 0x6200, 1, 1, R, kBridgeErr, "can_bridge_read_digitalout"},
    {Obj::AlignEnable, kRamp, 0x6240, 1, 1, W, kBridgeErr, "can_set_align_illumination_diode"},
    {Obj::AlignDiode, kRamp, 0x6220, 1, 1, W, kBridgeErr, "can_set_align_illumination_diode"},
    {Obj::LedSetup, kLed, 0x2000, 0, 1, W, ERR_CAN_SDO_LED_ERROR, "can_write_led_setup"},
    {Obj::LlcWrite, kLed, 0x2001, 0, 2, W, ERR_CAN_SDO_LED_ERROR, "can_write_llc"},
    {Obj::LlcRead, kLed, 0x2001, 0, 2, R, ERR_CAN_SDO_LED_ERROR, "can_read_llc"},
    {Obj::LlcAvgCurLmt, kLed, 0x2002, 0, 2, W, ERR_CAN_SDO_LED_ERROR, "can_write_llc_avgcurlmt"},
    {Obj::LlcFwdVlt, kLed, 0x2004, 0, 2, W, ERR_CAN_SDO_LED_ERROR, "can_write_llc_fwdvlt"},
    {Obj::LlcPwmFreq, kLed, 0x2006, 0, 4, W, ERR_CAN_SDO_LED_ERROR, "can_write_llc_pwmfreq"},
    {Obj::TurretStatus, kBrush, 0x2001, 0, 1, R, ERR_CAN_SDO_BRMOTOR_ERROR,
     "can_read_turret_status"},
    {Obj::Turret, kBrush, 0x2002, 0, 1, R, ERR_CAN_SDO_BRMOTOR_ERROR, "can_read_turret"},
    {Obj::Zoom, kBrush, 0x2012, 0, 1, R, ERR_CAN_SDO_BRMOTOR_ERROR, "can_read_zoom"},
    {Obj::AllZoom, kBrush, 0x2015, 0, 6, R, ERR_CAN_SDO_BRMOTOR_ERROR, "can_read_all_zoom"},
    {Obj::BrmtrConfig, kBrush, 0x2020, 1, 2, R, ERR_CAN_SDO_BRMOTOR_ERROR, "can_get_brmtr_config"},
    {Obj::ProductId, kCallerNode, 0x1018, 2, 4, R, ERR_CAN_ERROR, "can_read_productID"},
    {Obj::Version, kCallerNode, 0x1018, 3, 4, R, ERR_CAN_ERROR, "can_read_version"},
    {Obj::M1ControlRead, kCallerNode, 0x2000, 0, 1, R, kDmdErr, "can_read_dmd_motor1_control"},
    {Obj::M1ControlWrite, kCallerNode, 0x2000, 0, 1, W, kDmdErr, "can_write_dmd_motor1_control"},
    {Obj::M1Mode, kCallerNode, 0x2002, 0, 1, W, kDmdErr, "can_write_dmd_motor1_mode"},
    {Obj::M1TargetVel, kCallerNode, 0x2004, 0, 4, W, kDmdErr, "can_write_dmd_motor1_targetVel"},
    {Obj::M2Control, kCallerNode, 0x2020, 0, 1, W, kDmdErr, "can_write_dmd_motor2_control"},
    {Obj::M2Status, kCallerNode, 0x2021, 0, 1, R, kDmdErr, "can_read_dmd_motor2_status"},
    {Obj::M2LlcRead, kCallerNode, 0x2028, 0, 2, R, kDmdErr, "can_read_dmd_motor2_llcLevel"},
    {Obj::M2LlcWrite, kCallerNode, 0x2028, 0, 2, W, kDmdErr, "can_write_dmd_motor2_llcLevel"},
    {Obj::M2Current, kCallerNode, 0x2034, 0, 2, W, kDmdErr, "can_write_dmd_motor2_current"},
    {Obj::M2MaxCurrent, kCallerNode, 0x2036, 0, 2, R, kDmdErr, "can_read_dmd_motor2_maxCurrent"},
    {Obj::KeypressRead, kCallerNode, 0x2044, 8, 1, R, kDmdErr, "can_read_dmd_keypress_mode"},
    {Obj::KeypressWrite, kCallerNode, 0x2044, 8, 1, W, kDmdErr, "can_write_dmd_keypress_mode"},
    {Obj::M2Position, kCallerNode, 0x2047, 0, 1, R, kDmdErr, "can_read_dmd_motor2_position"},
    // Where the PZT nodes keep their status byte is not documented with
    // the others; this is the one place to change it.
    {Obj::PztStatus, CAN_NODE_ID_TRIPLEPZT, 0x2001, 0, 1, R, ERR_CAN_SDO_PZT_ERROR,
     "can_read_pzt_status"},
    {Obj::LapsStatus, CAN_NODE_ID_LARGEAP, 0x2001, 0, 1, R, ERR_CAN_SDO_LAP_ERROR,
     "can_read_pzt_status"},
    {Obj::EncZoomMode, kNdw, 0x2002, 0, 1, W, kEncZoomErr, "can_write_enc_zoom_motion_mode"},
    {Obj::EncZoomLowLimit, kNdw, 0x607D, 1, 4, W, kEncZoomErr, "can_write_enc_zoom_soft_limits"},
    {Obj::EncZoomHighLimit, kNdw, 0x607D, 2, 4, W, kEncZoomErr, "can_write_enc_zoom_soft_limits"},
    {Obj::EncZoomBacklash, kNdw, 0x2019, 0, 4, W, kEncZoomErr, "can_write_enc_zoom_backlash"},
};

consteval bool rows_follow_ids() {
  if (std::size(kEntries) != static_cast<std::size_t>(Obj::Count)) return false;
  for (std::size_t i = 0; i < std::size(kEntries); ++i) {
    const Entry& e = kEntries[i];
    if (static_cast<std::size_t>(e.id) != i) return false;
    // Only the ramp block goes beyond the six bytes of the zoom positions.
    if (e.width == 0 || (e.width > 6 && e.id != Obj::RampData)) return false;
  }
  return true;
}
static_assert(rows_follow_ids(), "one row per object, in the order of Obj");

const Entry& row(Obj id) { return kEntries[static_cast<std::size_t>(id)]; }

// The library carries multi-byte values little-endian whatever the host.
uint32_t from_le(const uint8_t* bytes, uint32_t width) {
  uint32_t v = 0;
  for (uint32_t i = width; i-- > 0;) v = (v << 8) | bytes[i];
  return v;
}
void to_le(uint32_t v, uint8_t* bytes, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Where {
  uint8_t node = kCallerNode;
  uint16_t index_offset = 0;
  int activity = 1;
  uint32_t width = 0;  // 0: the row's width
};

int read_bytes(Obj id, uint8_t* bytes, Where at = {}) {
  const Entry& e = row(id);
  const uint8_t node = e.node == kCallerNode ? at.node : e.node;
  const uint32_t width = at.width != 0 ? at.width : e.width;
  return can_sdo_read2(node, static_cast<uint16_t>(e.index + at.index_offset), e.sub, bytes, width,
                       at.activity, e.sdo_error, e.name);
}

int read_value(Obj id, uint32_t* value, Where at = {}) {
  uint8_t bytes[4] = {};
  const int err = read_bytes(id, bytes, at);
  if (err == 0) *value = from_le(bytes, row(id).width);
  return err;
}

int write_value(Obj id, uint32_t value, Where at = {}) {
  const Entry& e = row(id);
  const uint8_t node = e.node == kCallerNode ? at.node : e.node;
  const uint32_t width = at.width != 0 ? at.width : e.width;
  uint8_t bytes[4] = {};
  to_le(value, bytes, width);
  return can_sdo_write2(node, static_cast<uint16_t>(e.index + at.index_offset), e.sub, bytes, width,
                        at.activity, e.sdo_error, e.name);
}

int write_float(Obj id, double value, Where at = {}) {
  return write_value(id, std::bit_cast<uint32_t>(static_cast<float>(value)), at);
}

template <class T>
int read_narrow(Obj id, T* out, Where at = {}) {
  uint32_t v = 0;
  const int err = read_value(id, &v, at);
  if (err == 0) *out = static_cast<T>(v);
  return err;
}

int board(const sysInfo_t* s, int wrong = ERR_WRONG_INSTR_BOARD) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  return s->instrBdType == BD_CAN ? 0 : wrong;
}

uint16_t inverted(uint16_t v, int invert) {
  return invert != 0 ? static_cast<uint16_t>(0xFFFF - v) : v;
}

bool pi_digital_scanner(const sysInfo_t* s) {
  return s->pifoc && (s->pifoc->type == 1 || s->pifoc->type == 2);
}

constexpr int32_t kRamps = 4;
bool ramp_in_range(int32_t r) { return r >= 0 && r < kRamps; }

// One transfer: `in` is filled by a read, `out` is sent by a write.
int sdo(uint8_t node, uint16_t index, uint8_t sub, uint8_t* in, const uint8_t* out, uint32_t count,
        int activity, int sdo_error, const char* caller) {
  can_transfer_result_t result{};
  int32_t status = 0;
  const Dir dir = in != nullptr ? Dir::read : Dir::write;
  int err =
      dir == Dir::read
          ? can_api_call(&can_api_t::sdo_read, &status, node, index, sub, in, count, &result)
          : can_api_call(&can_api_t::sdo_write, &status, node, index, sub, out, count, &result);
  if (activity != 0) signal_activity();
  const char* wrapper = dir == Dir::read ? "can_sdo_read2" : "can_sdo_write2";
  if (err == 0 && status == CAN_OK) {
    if (result.status == CAN_OK) return 0;
    u_log_fn("%s called by %s: err=%s, result=%d, abortcode=%8.8" PRIX32 "\n", wrapper, caller,
             err_name(sdo_error), static_cast<int>(result.status), result.abort_code);
    return sdo_error;
  }
  if (err == 0) err = can_status_to_error(status);
  u_log_fn("%s called by %s: err=%s\n", wrapper, caller, err_name(err));
  return err;
}

// ---- node wrappers over the generic dual-motor-drive operations
struct DmdNode {
  uint8_t node;
  int sdo_error;  // replaces the generic ERR_CAN_SDO_DMD_ERROR
  uint8_t sb_can_state_t::*present;
  const char* absent;  // message when the node is not there
};
constexpr DmdNode kRsNode{CAN_NODE_ID_DD_RS, ERR_CAN_SDO_ROF_ERROR, &sb_can_state_t::rsDdPresent,
                          "%s: CAN Ring-of-Fire and Diffuser Disk node is not available\n"};
constexpr DmdNode kZoomNode{CAN_NODE_ID_DD_ZOOM, ERR_CAN_SDO_ZOOM_ERROR,
                            &sb_can_state_t::zoomDdPresent,
                            "%s: CAN Zoom and Diffuser Disk node is not available\n"};
constexpr DmdNode kNdwNode{CAN_NODE_ID_FOCUS_NDW, ERR_CAN_SDO_NDW_ERROR,
                           &sb_can_state_t::focusNdwPresent,
                           "%s: CAN Focus and ND Wheel node is not available\n"};
constexpr DmdNode kFocusNode{CAN_NODE_ID_FOCUS_NDW, ERR_CAN_SDO_FZM_ERROR,
                             &sb_can_state_t::focusNdwPresent,
                             "%s: CAN Focus and ND Wheel node is not available\n"};

int node_absent(const sysInfo_t* s, const DmdNode& n, const char* caller) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (s->can.*n.present != 0) return 0;
  u_log_fn(n.absent, caller);
  return ERR_CAN_NODE_NOT_AVAIL;
}

template <class Op>
int on_node(sysInfo_t* s, const DmdNode& n, const char* caller, Op op) {
  if (const int err = node_absent(s, n, caller)) return err;
  const int err = op(n.node);
  return err == ERR_CAN_SDO_DMD_ERROR ? n.sdo_error : err;
}

}  // namespace
}  // namespace felbrin::can

using namespace felbrin::can;

int can_status_to_error(int32_t status) {
  switch (status) {
    case CAN_OK: return 0;
    case CAN_ERR_GENERAL: return ERR_CAN_ERROR;
    case CAN_ERR_NOT_CONNECTED: return ERR_CAN_NOT_CONNECTED;
    case CAN_ERR_TIMEOUT: return ERR_CAN_TIMEOUT;
    case CAN_ERR_LINK_LOST: return ERR_CAN_TCP_TRANSMISSION_ERROR;
    case CAN_ERR_BUFFER_TOO_SMALL: return ERR_CAN_BUFFER_TOO_SMALL;
    case CAN_ERR_NO_PDO: return ERR_CAN_NO_PDO;
    default: return ERR_UNKNOWN;
  }
}

int can_sdo_read2(uint8_t node, uint16_t index, uint8_t sub, void* data, uint32_t count,
                  int activity, int sdo_error, const char* caller) {
  if (data == nullptr) return ERR_INVALID_PARAM;
  return sdo(node, index, sub, static_cast<uint8_t*>(data), nullptr, count, activity, sdo_error,
             caller != nullptr ? caller : "?");
}

int can_sdo_write2(uint8_t node, uint16_t index, uint8_t sub, const void* data, uint32_t count,
                   int activity, int sdo_error, const char* caller) {
  if (data == nullptr) return ERR_INVALID_PARAM;
  return sdo(node, index, sub, nullptr, static_cast<const uint8_t*>(data), count, activity,
             sdo_error, caller != nullptr ? caller : "?");
}

// ---- firmware gates: each byte tested on its own, as the bridge firmware
// numbers them, not as a version order.
bool can_bridge_has_config_word(const sysInfo_t* s) {
  return s != nullptr && s->canInfo && (s->canInfo->fwMajor > 1 || s->canInfo->fwMinor > 11);
}
bool can_bridge_has_pi_status(const sysInfo_t* s) {
  return s != nullptr && s->canInfo && s->canInfo->fwMajor >= 6 && s->canInfo->fwMinor >= 6;
}
bool can_bridge_has_ramp_table(const sysInfo_t* s) {
  return s != nullptr && s->canInfo && s->canInfo->fwMajor >= 7 && s->canInfo->fwMinor >= 3;
}

// ---- node 127
int can_ramp_start(sysInfo_t* s) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return can_pi_ramp_start(s);
  return write_value(Obj::RampStart, 1);
}

int can_read_ramp_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return can_read_pi_ramp_status(s, status);
  return read_narrow(Obj::RampStatus, status);
}

int can_write_ramp_select(sysInfo_t* s, int32_t ramp) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return can_write_pi_ramp_select(s, ramp);
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::RampSelect, static_cast<uint32_t>(ramp));
}

int can_read_ramp_valid(sysInfo_t* s, int32_t ramp, uint8_t* valid) {
  if (const int err = board(s)) return err;
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  if (pi_digital_scanner(s)) {
    *valid = 1;
    return 0;
  }
  return read_narrow(Obj::RampValid, valid, {.index_offset = static_cast<uint16_t>(ramp)});
}

int can_write_ramp_trigger(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr) {
  if (const int err = board(s)) return err;
  if (hdr == nullptr) return ERR_INVALID_PARAM;
  // Any other ramp number would land on the bridge's own entries above 0x2006.
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  const double numerator = static_cast<double>(hdr->trigStartAddr) * hdr->cameraRate;
  const double denominator = static_cast<double>(hdr->sampleClkFreq) * 1000.0;
  // A zero clock gives the quotient's limit, spelled out so that no build
  // traps on the division.
  double quotient = NAN;
  if (denominator != 0.0)
    quotient = numerator / denominator;
  else if (numerator != 0.0)
    quotient = std::copysign(INFINITY, numerator);
  const double frame = std::floor(quotient + 0.5);
  constexpr double kFrames = 256;
  if (!std::isfinite(frame) || frame < 0 || frame >= kFrames) {
    int shown = 0;
    if (frame >= static_cast<double>(INT_MAX))
      shown = INT_MAX;
    else if (frame <= static_cast<double>(INT_MIN))
      shown = INT_MIN;
    else if (std::isfinite(frame))
      shown = static_cast<int>(frame);
    u_log_fn("%s: calculated frameNumber=%d outside of valid range\n", "can_write_ramp_trigger",
             shown);
    return ERR_PARAM_OUT_OF_RANGE;
  }
  return write_value(Obj::RampTrigger, static_cast<uint32_t>(frame),
                     {.index_offset = static_cast<uint16_t>(ramp)});
}

int can_write_ramp_rate(sysInfo_t* s, int32_t ramp, double rate) {
  if (const int err = board(s)) return err;
  if (!ramp_in_range(ramp) || !(rate >= 0 && rate <= 200)) return ERR_PARAM_OUT_OF_RANGE;
  return write_float(Obj::RampRate, rate * 1000, {.index_offset = static_cast<uint16_t>(ramp)});
}

int can_write_ramp_data(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr,
                        const uint16_t* points) {
  if (const int err = board(s)) return err;
  if (hdr == nullptr || hdr->nPoints < 0 || (hdr->nPoints > 0 && points == nullptr))
    return ERR_INVALID_PARAM;
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  const Entry& e = row(Obj::RampData);
  constexpr int32_t kNodePoints = 16384;
  if (hdr->nPoints > kNodePoints) {
    u_log_fn("%s: ramp of %d points, the node holds %d\n", e.name, static_cast<int>(hdr->nPoints),
             static_cast<int>(kNodePoints));
  }
  // The node always takes a whole block; a shorter ramp is padded with zeros.
  std::vector<uint8_t> block(e.width, 0);
  const int32_t n = std::min(hdr->nPoints, kNodePoints);
  for (int32_t i = 0; i < n; ++i)
    to_le(points[i], block.data() + 2 * static_cast<std::size_t>(i), 2);
  return can_sdo_write2(e.node, static_cast<uint16_t>(e.index + ramp), e.sub, block.data(), e.width,
                        1, e.sdo_error, e.name);
}

int can_write_pifoc_offset(sysInfo_t* s, uint32_t offset, int wait) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return 0;
  if (offset > 0xFFFF) return ERR_PARAM_OUT_OF_RANGE;
  if (const int err = write_value(Obj::PifocOffset, offset)) return err;
  if (s->pifoc) s->pifoc->offsetTime = u_time_now();
  if (wait == 0) return 0;
  if (!s->pifoc) return ERR_WRONG_SYSTEM_TYPE;
  constexpr int kPolls = 20;
  constexpr int kPollMs = 100;
  for (int poll = 0; poll < kPolls; ++poll) {
    if (poll > 0) {
      if (const int err = u_poll_pause(kPollMs)) return err;
    }
    uint8_t status = 0;
    if (const int err = can_read_ramp_status(s, &status)) return err;
    if (status == 0) return 0;
  }
  return ERR_RAMP_WAIT_TIMEOUT;
}

int can_read_bridge_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = board(s)) return err;
  return read_narrow(Obj::BridgeStatus, status);
}

int can_bridge_read_config(sysInfo_t* s, uint16_t* word) {
  if (const int err = board(s)) return err;
  return read_narrow(Obj::BridgeConfigRead, word);
}

int can_bridge_write_config(sysInfo_t* s, uint16_t word) {
  if (const int err = board(s)) return err;
  return write_value(Obj::BridgeConfigWrite, word);
}

int can_write_fg_trigger(sysInfo_t* s, uint16_t value) {
  if (const int err = board(s)) return err;
  if (can_bridge_has_config_word(s)) return write_value(Obj::FgTrigger, value);
  return write_value(Obj::FgTrigger, value & 0xFFu, {.width = 1});
}

int can_write_syncgen(sysInfo_t* s, double value) {
  if (const int err = board(s)) return err;
  if (!(value >= 0 && value <= 100000)) return ERR_PARAM_OUT_OF_RANGE;
  return write_float(Obj::SyncGen, value);
}

int can_read_pi_ramp_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  uint32_t word = 0;
  const Obj id = can_bridge_has_pi_status(s) ? Obj::PiStatusNew : Obj::PiStatusOld;
  if (const int err = read_value(id, &word)) return err;
  constexpr uint8_t kRunning = 3;
  *status = word != 0 ? kRunning : 0;
  return 0;
}

int can_write_pi_ramp_select(sysInfo_t* s, int32_t ramp) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  const int32_t tables = s->pifoc->type == 1 ? 15 : 100;
  if (ramp < 1 || ramp > tables) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::PiSelect, static_cast<uint32_t>(ramp));
}

namespace {
int read_pi_float(sysInfo_t* s, Obj id, float* value) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  uint32_t bits = 0;
  if (const int err = read_value(id, &bits)) return err;
  *value = std::bit_cast<float>(bits);
  return 0;
}
}  // namespace

int can_read_pi_ramp_amplitude(sysInfo_t* s, float* value) {
  return read_pi_float(s, Obj::PiAmplitude, value);
}
int can_read_pi_ramp_velocity(sysInfo_t* s, float* value) {
  return read_pi_float(s, Obj::PiVelocity, value);
}

int can_pi_ramp_start(sysInfo_t* s) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  return write_value(Obj::PiStart, 1);
}

int can_pi_load_ddl_tables(sysInfo_t* s, uint16_t* tables) {
  if (const int err = board(s)) return err;
  constexpr int32_t kPi751 = 2;
  if (!s->pifoc || s->pifoc->type != kPi751) return ERR_INVALID_PARAM;
  if (const int err = write_value(Obj::PiLoadTables, 0)) return err;
  // The scanner needs this long to take the tables in before it counts them.
  constexpr int kLoadMs = 2000;
  if (const int err = u_poll_pause(kLoadMs)) return err;
  return can_read_pi_serial_integer(s, tables);
}

int can_read_pi_serial_integer(sysInfo_t* s, uint16_t* tables) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  return read_narrow(Obj::PiSerialInteger, tables);
}

int can_bridge_write_digitalout(sysInfo_t* s, uint8_t value) {
  if (const int err = board(s)) return err;
  return write_value(Obj::DigitalOutWrite, value);
}

int can_bridge_read_digitalout(sysInfo_t* s, uint8_t* value) {
  if (const int err = board(s)) return err;
  return read_narrow(Obj::DigitalOutRead, value);
}

int can_set_align_illumination_diode(sysInfo_t* s, int on) {
  if (const int err = board(s)) return err;
  if (!s->canInfo) return ERR_SYS_INFO_NOT_AVAIL;
  const uint8_t major = s->canInfo->fwMajor;
  const uint8_t minor = s->canInfo->fwMinor;
  if (major == 0) return 0;  // firmware not known: leave the diode alone
  if (major < 10 || (major == 10 && minor < 9)) {
    // Older bridges drive the diode from digital output 0, active low.
    uint8_t outputs = 0;
    if (const int err = can_bridge_read_digitalout(s, &outputs)) return err;
    outputs = on != 0 ? static_cast<uint8_t>(outputs & ~1u) : static_cast<uint8_t>(outputs | 1u);
    return can_bridge_write_digitalout(s, outputs);
  }
  if (const int err = write_value(Obj::AlignEnable, 1)) return err;
  return write_value(Obj::AlignDiode, on != 0 ? 1u : 0u);
}

// ---- node 61
int can_write_led_setup(sysInfo_t* s, uint8_t value) {
  if (const int err = board(s)) return err;
  return write_value(Obj::LedSetup, value);
}

int can_write_llc(sysInfo_t* s, uint16_t level, int invert) {
  if (const int err = board(s)) return err;
  return write_value(Obj::LlcWrite, inverted(level, invert));
}

int can_read_llc(sysInfo_t* s, uint16_t* level, int invert) {
  if (const int err = board(s)) return err;
  uint16_t raw = 0;
  if (const int err = read_narrow(Obj::LlcRead, &raw)) return err;
  *level = inverted(raw, invert);
  return 0;
}

int can_write_llc_avgcurlmt(sysInfo_t* s, uint32_t limit) {
  if (const int err = board(s)) return err;
  if (limit > 1000) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::LlcAvgCurLmt, limit);
}

int can_write_llc_fwdvlt(sysInfo_t* s, uint32_t millivolts) {
  if (const int err = board(s)) return err;
  if (millivolts > 10000) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::LlcFwdVlt, millivolts);
}

int can_write_llc_pwmfreq(sysInfo_t* s, uint32_t hertz) {
  if (const int err = board(s)) return err;
  if (hertz > 1000000) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::LlcPwmFreq, hertz);
}

int can_set_llc_range(sysInfo_t* s, int32_t range) {
  int err = board(s);
  if (err == 0) {
    uint32_t limit = 1000;
    uint32_t voltage = 4500;
    if (range == 0 || range == 1) {
      const uint8_t source = s->currentLightSource < 2 ? s->currentLightSource : 0;
      limit = s->lightSource[source].pairs[range].avgCurLimit;
      voltage = s->lightSource[source].pairs[range].fwdVoltage;
    }
    // A zero in the record means "keep what the LED node has".
    if (limit != 0) err = can_write_llc_avgcurlmt(s, limit);
    if (err == 0 && voltage != 0) err = can_write_llc_fwdvlt(s, voltage);
  }
  if (err != 0) u_log_fn("%s failed: %s\n", "can_set_llc_range", err_name(err));
  return err;
}

// ---- node 63
namespace {
int turret_guard(const sysInfo_t* s) {
  if (const int err = board(s)) return err;
  return s->turret == 1 || s->turret == 2 ? 0 : ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE;
}

bool encoded_zoom(const sysInfo_t* s) {
  return s->zoom == 1 &&
         static_cast<uint32_t>(s->canInfo->brushProductId) == CAN_BRUSH_PRODUCT_ENCODED_ZOOM;
}

int zoom_guard(const sysInfo_t* s) {
  if (const int err = board(s)) return err;
  if (s->zoom == 0) return ERR_ZOOM_NOT_AVAILABLE;
  return s->canInfo ? 0 : ERR_SYS_INFO_NOT_AVAIL;
}

constexpr uint8_t kZoomRawUnknown = 15;
int32_t motor_zoom_position(uint8_t raw) { return raw == kZoomRawUnknown ? CAN_ZOOM_UNKNOWN : raw; }
}  // namespace

int can_read_turret_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = turret_guard(s)) return err;
  return read_narrow(Obj::TurretStatus, status);
}

int can_read_turret(sysInfo_t* s, uint8_t* position) {
  if (const int err = turret_guard(s)) return err;
  return read_narrow(Obj::Turret, position);
}

int can_read_zoom(sysInfo_t* s, int32_t* position) {
  if (const int err = zoom_guard(s)) return err;
  uint8_t raw = 0;
  if (const int err = read_narrow(Obj::Zoom, &raw)) return err;
  if (!encoded_zoom(s)) {
    *position = motor_zoom_position(raw);
    return 0;
  }
  // The encoded changer counts its positions the other way round.
  constexpr int32_t kEncoded[8] = {0, 6, 5, 4, 3, 2, 1, 7};
  if (raw >= std::size(kEncoded)) {
    *position = 0;
    return ERR_PARAM_OUT_OF_RANGE;
  }
  *position = kEncoded[raw];
  int32_t unknown = kLastZoomUnknown;
  last_zoom().compare_exchange_strong(unknown, *position);
  return 0;
}

int can_read_all_zoom(sysInfo_t* s) {
  if (const int err = zoom_guard(s)) return err;
  if (encoded_zoom(s)) return ERR_INVALID_PARAM;
  int32_t* positions = s->canInfo->zoomPos;
  std::fill(positions, positions + CAN_ZOOM_POSITIONS, CAN_ZOOM_UNKNOWN);
  constexpr int32_t kBytes = 6;
  uint8_t raw[kBytes] = {};
  if (const int err = read_bytes(Obj::AllZoom, raw)) return err;
  // One byte per position: a seventh position has no byte and stays unknown.
  const int32_t n = std::min(s->can.zoomPositions, kBytes);
  for (int32_t i = 0; i < n; ++i) positions[i] = motor_zoom_position(raw[i]);
  return 0;
}

int can_get_brmtr_config(sysInfo_t* s) {
  if (const int err = board(s)) return err;
  uint8_t raw[2] = {};
  if (const int err = read_bytes(Obj::BrmtrConfig, raw)) return err;
  s->can.zoomPositions = raw[0] & 7;
  s->can.turretPositions = raw[1] & 7;
  return 0;
}

// ---- identity
int can_read_productID(sysInfo_t* s, uint8_t node, uint32_t* product) {
  if (const int err = board(s)) return err;
  return read_value(Obj::ProductId, product, {.node = node});
}

int can_read_version(sysInfo_t* s, uint8_t node, uint16_t* major, uint16_t* minor) {
  if (const int err = board(s)) return err;
  uint32_t revision = 0;
  if (const int err = read_value(Obj::Version, &revision, {.node = node})) return err;
  *major = static_cast<uint16_t>(revision >> 16);
  *minor = static_cast<uint16_t>(revision & 0xFFFF);
  return 0;
}

int can_read_pzt_status(sysInfo_t* s, uint8_t node, uint8_t* status) {
  if (const int err = board(s)) return err;
  if (node == CAN_NODE_ID_TRIPLEPZT) return read_narrow(Obj::PztStatus, status);
  if (node == CAN_NODE_ID_LARGEAP) return read_narrow(Obj::LapsStatus, status);
  return ERR_INVALID_PARAM;
}

// ---- generic dual motor drive
namespace {
int dmd(const sysInfo_t* s) { return board(s, ERR_INVALID_PARAM); }
}  // namespace

int can_read_dmd_motor1_control(sysInfo_t* s, uint8_t node, uint8_t* value) {
  if (const int err = dmd(s)) return err;
  return read_narrow(Obj::M1ControlRead, value, {.node = node});
}

int can_write_dmd_motor1_control(sysInfo_t* s, uint8_t node, uint8_t value) {
  if (const int err = dmd(s)) return err;
  return write_value(Obj::M1ControlWrite, value, {.node = node});
}

int can_write_dmd_motor1_mode(sysInfo_t* s, uint8_t node, int32_t mode) {
  if (const int err = dmd(s)) return err;
  if (mode < 0 || mode > 4) {
    u_log_fn("%s: invalid mode=%d\n", "can_write_dmd_motor1_mode", static_cast<int>(mode));
    return ERR_INVALID_PARAM;
  }
  return write_value(Obj::M1Mode, static_cast<uint32_t>(mode), {.node = node});
}

int can_write_dmd_motor1_targetVel(sysInfo_t* s, uint8_t node, double velocity) {
  if (const int err = dmd(s)) return err;
  if (!(velocity >= 10 && velocity <= 10000)) return ERR_INVALID_PARAM;
  return write_float(Obj::M1TargetVel, velocity, {.node = node});
}

int can_write_dmd_motor2_control(sysInfo_t* s, uint8_t node, uint8_t value) {
  if (const int err = dmd(s)) return err;
  return write_value(Obj::M2Control, value, {.node = node});
}

int can_read_dmd_motor2_status(sysInfo_t* s, uint8_t node, uint8_t* value) {
  if (const int err = dmd(s)) return err;
  return read_narrow(Obj::M2Status, value, {.node = node});
}

int can_read_dmd_motor2_llcLevel(sysInfo_t* s, uint8_t node, uint16_t* level, int invert) {
  if (const int err = dmd(s)) return err;
  uint16_t raw = 0;
  if (const int err = read_narrow(Obj::M2LlcRead, &raw, {.node = node})) return err;
  *level = inverted(raw, invert);
  return 0;
}

int can_write_dmd_motor2_llcLevel(sysInfo_t* s, uint8_t node, uint16_t level, int invert) {
  if (const int err = dmd(s)) return err;
  // Levels the light-control thread sets are not the user's doing.
  const int activity = agc_running() ? 0 : 1;
  return write_value(Obj::M2LlcWrite, inverted(level, invert),
                     {.node = node, .activity = activity});
}

int can_write_dmd_motor2_current(sysInfo_t* s, uint8_t node, int16_t current) {
  if (const int err = dmd(s)) return err;
  // The node must answer its limit before it takes a current.
  int16_t limit = 0;
  if (const int err = can_read_dmd_motor2_maxCurrent(s, node, &limit)) return err;
  return write_value(Obj::M2Current, static_cast<uint16_t>(current), {.node = node});
}

int can_read_dmd_motor2_maxCurrent(sysInfo_t* s, uint8_t node, int16_t* current) {
  if (const int err = dmd(s)) return err;
  return read_narrow(Obj::M2MaxCurrent, current, {.node = node});
}

int can_read_dmd_keypress_mode(sysInfo_t* s, uint8_t node, uint8_t* mode) {
  if (const int err = dmd(s)) return err;
  return read_narrow(Obj::KeypressRead, mode, {.node = node});
}

int can_write_dmd_keypress_mode(sysInfo_t* s, uint8_t node, uint8_t mode) {
  if (const int err = dmd(s)) return err;
  return write_value(Obj::KeypressWrite, mode, {.node = node});
}

int can_read_dmd_motor2_position(sysInfo_t* s, uint8_t node, uint8_t* position) {
  if (const int err = dmd(s)) return err;
  return read_narrow(Obj::M2Position, position, {.node = node});
}

// ---- node 68
int can_read_rs_dd_control(sysInfo_t* s, uint8_t* value) {
  return on_node(s, kRsNode, "can_read_rs_dd_control",
                 [&](uint8_t n) { return can_read_dmd_motor1_control(s, n, value); });
}
int can_write_rs_dd_control(sysInfo_t* s, uint8_t value) {
  return on_node(s, kRsNode, "can_write_rs_dd_control",
                 [&](uint8_t n) { return can_write_dmd_motor1_control(s, n, value); });
}
int can_write_rs_dd_mode(sysInfo_t* s, int32_t mode) {
  return on_node(s, kRsNode, "can_write_rs_dd_mode",
                 [&](uint8_t n) { return can_write_dmd_motor1_mode(s, n, mode); });
}
int can_read_rs_status(sysInfo_t* s, uint8_t* value) {
  return on_node(s, kRsNode, "can_read_rs_status",
                 [&](uint8_t n) { return can_read_dmd_motor2_status(s, n, value); });
}
int can_write_rs_current(sysInfo_t* s, int16_t current) {
  return on_node(s, kRsNode, "can_write_rs_current",
                 [&](uint8_t n) { return can_write_dmd_motor2_current(s, n, current); });
}
int can_read_rs_maxCurrent(sysInfo_t* s, int16_t* current) {
  return on_node(s, kRsNode, "can_read_rs_maxCurrent",
                 [&](uint8_t n) { return can_read_dmd_motor2_maxCurrent(s, n, current); });
}
int can_read_rs_position(sysInfo_t* s, uint8_t* position) {
  return on_node(s, kRsNode, "can_read_rs_position",
                 [&](uint8_t n) { return can_read_dmd_motor2_position(s, n, position); });
}
int can_read_rs_keypress_mode(sysInfo_t* s, uint8_t* mode) {
  return on_node(s, kRsNode, "can_read_rs_keypress_mode",
                 [&](uint8_t n) { return can_read_dmd_keypress_mode(s, n, mode); });
}
int can_write_rs_keypress_mode(sysInfo_t* s, uint8_t mode) {
  return on_node(s, kRsNode, "can_write_rs_keypress_mode",
                 [&](uint8_t n) { return can_write_dmd_keypress_mode(s, n, mode); });
}

// ---- node 70
int can_read_zoom_dd_control(sysInfo_t* s, uint8_t* value) {
  return on_node(s, kZoomNode, "can_read_zoom_dd_control",
                 [&](uint8_t n) { return can_read_dmd_motor1_control(s, n, value); });
}
int can_write_zoom_dd_control(sysInfo_t* s, uint8_t value) {
  return on_node(s, kZoomNode, "can_write_zoom_dd_control",
                 [&](uint8_t n) { return can_write_dmd_motor1_control(s, n, value); });
}
int can_write_zoom_dd_mode(sysInfo_t* s, int32_t mode) {
  return on_node(s, kZoomNode, "can_write_zoom_dd_mode",
                 [&](uint8_t n) { return can_write_dmd_motor1_mode(s, n, mode); });
}
int can_write_zoom_dd_targetVel(sysInfo_t* s, double velocity) {
  return on_node(s, kZoomNode, "can_write_zoom_dd_targetVel", [&](uint8_t n) {
    const int err = can_write_dmd_motor1_targetVel(s, n, velocity);
    if (err == 0) s->can.zoomDdTargetVel = static_cast<float>(velocity);
    return err;
  });
}
int can_read_zoom_keypress_mode(sysInfo_t* s, uint8_t* mode) {
  return on_node(s, kZoomNode, "can_read_zoom_keypress_mode",
                 [&](uint8_t n) { return can_read_dmd_keypress_mode(s, n, mode); });
}
int can_write_zoom_keypress_mode(sysInfo_t* s, uint8_t mode) {
  return on_node(s, kZoomNode, "can_write_zoom_keypress_mode",
                 [&](uint8_t n) { return can_write_dmd_keypress_mode(s, n, mode); });
}

// ---- node 64
int can_read_ndw_llcLevel(sysInfo_t* s, uint16_t* level, int invert) {
  return on_node(s, kNdwNode, "can_read_ndw_llcLevel",
                 [&](uint8_t n) { return can_read_dmd_motor2_llcLevel(s, n, level, invert); });
}

int can_write_ndw_llcLevel(sysInfo_t* s, uint16_t level, int invert) {
  return on_node(s, kNdwNode, "can_write_ndw_llcLevel", [&](uint8_t n) {
    // The stopped event must only be set by a stop that follows this write.
    process_events();
    ndw_stopped(false);
    const int err = can_write_dmd_motor2_llcLevel(s, n, level, invert);
    if (err != 0) ndw_stopped(true);
    return err;
  });
}

int can_write_ndw_control(sysInfo_t* s, uint8_t value) {
  return on_node(s, kNdwNode, "can_write_ndw_control",
                 [&](uint8_t n) { return can_write_dmd_motor2_control(s, n, value); });
}

int can_read_ndw_status(sysInfo_t* s, uint8_t* value) {
  return on_node(s, kNdwNode, "can_read_ndw_status",
                 [&](uint8_t n) { return can_read_dmd_motor2_status(s, n, value); });
}

int can_read_focus_keypress_mode(sysInfo_t* s, uint8_t* mode) {
  return on_node(s, kFocusNode, "can_read_focus_keypress_mode",
                 [&](uint8_t n) { return can_read_dmd_keypress_mode(s, n, mode); });
}
int can_write_focus_keypress_mode(sysInfo_t* s, uint8_t mode) {
  return on_node(s, kFocusNode, "can_write_focus_keypress_mode",
                 [&](uint8_t n) { return can_write_dmd_keypress_mode(s, n, mode); });
}

namespace {
constexpr int32_t kHomeMask = 0x18;
constexpr int32_t kHomeSearching = 0x08;
constexpr int32_t kHomeFailed = 0x10;
constexpr int32_t kMoving = 0x02;
constexpr int kHomeStepMs = 100;

// Brings the wheel's states up to date, from the node itself or from the
// events its PDOs left.
int update_ndw_state(sysInfo_t* s, int poll) {
  if (poll == 0) {
    process_events();
    return 0;
  }
  uint8_t status = 0;
  if (const int err = can_read_ndw_status(s, &status)) return err;
  ndw_home_state() = status & kHomeMask;
  ndw_moving_state() = status & kMoving;
  return 0;
}
}  // namespace

int can_home_ndw(sysInfo_t* s, int poll, int32_t limit_ms) {
  const char* const name = "can_home_ndw";
  if (const int err = node_absent(s, kNdwNode, name)) return err;
  ndw_home_state() = kHomeSearching;
  constexpr uint8_t kStartHomeSearch = 3;
  if (const int err = can_write_ndw_control(s, kStartHomeSearch)) return err;
  const int64_t start = u_ticks_ms();
  auto elapsed = [&] { return static_cast<int>(u_ticks_ms() - start); };
  while ((ndw_home_state() & kHomeMask) == kHomeSearching) {
    if (elapsed() >= limit_ms) {
      u_log_fn("%s: timeout waiting for home search, time=%d ms\n", name, elapsed());
      return ERR_CAN_NDW_HOME_ERROR;
    }
    if (const int err = u_poll_pause(kHomeStepMs)) return err;
    if (const int err = update_ndw_state(s, poll)) return err;
  }
  if ((ndw_home_state() & kHomeMask) == kHomeFailed) {
    u_log_fn("%s: llcHomeStatus=%d\n", name, static_cast<int>(ndw_home_state() & kHomeMask));
    return ERR_CAN_NDW_HOME_ERROR;
  }
  ndw_moving_state() = kMoving;
  while (elapsed() < limit_ms) {
    if (const int err = u_poll_pause(kHomeStepMs)) return err;
    if (const int err = update_ndw_state(s, poll)) return err;
    if ((ndw_moving_state() & kMoving) == 0) return 0;
  }
  u_log_fn("%s: timeout waiting for move to initial position, time=%d ms\n", name, elapsed());
  return ERR_CAN_NDW_HOME_ERROR;
}

// ---- node 64: the encoded zoom's motion entries
int can_write_enc_zoom_motion_mode(sysInfo_t* s, uint8_t mode) {
  if (const int err = board(s)) return err;
  return write_value(Obj::EncZoomMode, mode);
}

int can_write_enc_zoom_soft_limits(sysInfo_t* s, int32_t low, int32_t high) {
  if (const int err = board(s)) return err;
  if (const int err = write_value(Obj::EncZoomLowLimit, static_cast<uint32_t>(low))) return err;
  return write_value(Obj::EncZoomHighLimit, static_cast<uint32_t>(high));
}

int can_write_enc_zoom_backlash(sysInfo_t* s, int32_t backlash) {
  if (const int err = board(s)) return err;
  return write_value(Obj::EncZoomBacklash, static_cast<uint32_t>(backlash));
}
