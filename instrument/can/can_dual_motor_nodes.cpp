// The dual-motor-drive nodes: the generic operations, ring/spot (68), zoom diffuser disk (70),
// focus and ND wheel (64).
#include "instrument/can/can_nodes.h"

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_objects_internal.h"
#include "instrument/can/can_state.h"
#include "instrument/ramps/ramp_file.h"

using namespace felbrin::can;
using namespace felbrin::can::objects;

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
