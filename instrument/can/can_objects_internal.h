/// @file
/// The CAN node objects every operation moves: one row per object (node,
/// index, sub-index, width, direction, the error a refused transfer gives,
/// the operation's name), and the typed reads and writes over them. Shared
/// by the node families' source files; not installed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/can/can_nodes.h"
#include "instrument/record/sys_info.h"

namespace felbrin::can::objects {

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

inline const Entry& row(Obj id) { return kEntries[static_cast<std::size_t>(id)]; }

// The library carries multi-byte values little-endian whatever the host.
inline uint32_t from_le(const uint8_t* bytes, uint32_t width) {
  uint32_t v = 0;
  for (uint32_t i = width; i-- > 0;) v = (v << 8) | bytes[i];
  return v;
}
inline void to_le(uint32_t v, uint8_t* bytes, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Where {
  uint8_t node = kCallerNode;
  uint16_t index_offset = 0;
  int activity = 1;
  uint32_t width = 0;  // 0: the row's width
};

inline int read_bytes(Obj id, uint8_t* bytes, Where at = {}) {
  const Entry& e = row(id);
  const uint8_t node = e.node == kCallerNode ? at.node : e.node;
  const uint32_t width = at.width != 0 ? at.width : e.width;
  return can_sdo_read2(node, static_cast<uint16_t>(e.index + at.index_offset), e.sub, bytes, width,
                       at.activity, e.sdo_error, e.name);
}

inline int read_value(Obj id, uint32_t* value, Where at = {}) {
  uint8_t bytes[4] = {};
  const int err = read_bytes(id, bytes, at);
  if (err == 0) *value = from_le(bytes, row(id).width);
  return err;
}

inline int write_value(Obj id, uint32_t value, Where at = {}) {
  const Entry& e = row(id);
  const uint8_t node = e.node == kCallerNode ? at.node : e.node;
  const uint32_t width = at.width != 0 ? at.width : e.width;
  uint8_t bytes[4] = {};
  to_le(value, bytes, width);
  return can_sdo_write2(node, static_cast<uint16_t>(e.index + at.index_offset), e.sub, bytes, width,
                        at.activity, e.sdo_error, e.name);
}

inline int write_float(Obj id, double value, Where at = {}) {
  return write_value(id, std::bit_cast<uint32_t>(static_cast<float>(value)), at);
}

template <class T>
inline int read_narrow(Obj id, T* out, Where at = {}) {
  uint32_t v = 0;
  const int err = read_value(id, &v, at);
  if (err == 0) *out = static_cast<T>(v);
  return err;
}

inline int board(const sysInfo_t* s, int wrong = ERR_WRONG_INSTR_BOARD) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  return s->instrBdType == BD_CAN ? 0 : wrong;
}

inline uint16_t inverted(uint16_t v, int invert) {
  return invert != 0 ? static_cast<uint16_t>(0xFFFF - v) : v;
}

inline bool pi_digital_scanner(const sysInfo_t* s) {
  return s->pifoc && (s->pifoc->type == 1 || s->pifoc->type == 2);
}

constexpr int32_t kRamps = 4;
inline bool ramp_in_range(int32_t r) { return r >= 0 && r < kRamps; }

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

inline int node_absent(const sysInfo_t* s, const DmdNode& n, const char* caller) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (s->can.*n.present != 0) return 0;
  u_log_fn(n.absent, caller);
  return ERR_CAN_NODE_NOT_AVAIL;
}

template <class Op>
inline int on_node(sysInfo_t* s, const DmdNode& n, const char* caller, Op op) {
  if (const int err = node_absent(s, n, caller)) return err;
  const int err = op(n.node);
  return err == ERR_CAN_SDO_DMD_ERROR ? n.sdo_error : err;
}

}  // namespace felbrin::can::objects
