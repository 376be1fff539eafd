#include "instrument/motion/mc_ccl.h"

#include <cstdlib>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/can/can_nodes.h"
#include "instrument/record/sys_info.h"

namespace {

constexpr int kSdoError = ERR_CAN_SDO_CLM_ERROR;
constexpr uint8_t kPositionNode = 48;

// Amplifier objects.
constexpr uint16_t kStatusWord = 0x6041;
constexpr uint16_t kManufacturerStatus = 0x1002;
constexpr uint16_t kControlWord = 0x6040;
constexpr uint16_t kPosition = 0x6063;
constexpr uint16_t kPositionWindow = 0x6067;
constexpr uint16_t kFollowingError = 0x60F4;
constexpr uint16_t kClosedLoopSwitch = 0x21D6;
constexpr uint32_t kFaultReset = 0x0080;
constexpr uint32_t kSwitchOn = 2;
constexpr uint32_t kSwitchReadsOn = 0x2;

// Position-measurement node objects.
constexpr uint16_t kPosStatus = 0x1002;
constexpr uint16_t kPosControl = 0x2100;
constexpr uint16_t kPosState = 0x2000;
constexpr uint32_t kNeedsReset = 0x1;
constexpr uint32_t kHomeRequired = 1u << 22;
constexpr uint32_t kPosReset = 0x8000;
constexpr uint32_t kClearHomeRequired = 0x40;

constexpr int64_t kSettleMs = 5000;

int read_le(uint8_t node, uint16_t index, uint32_t width, uint32_t* value, const char* caller) {
  uint8_t bytes[4] = {};
  const int err = can_sdo_read2(node, index, 0, bytes, width, 1, kSdoError, caller);
  if (err != 0) return err;
  uint32_t v = 0;
  for (uint32_t i = width; i-- > 0;) v = (v << 8) | bytes[i];
  *value = v;
  return 0;
}

int write_le(uint8_t node, uint16_t index, uint32_t width, uint32_t value, const char* caller) {
  uint8_t bytes[4] = {};
  for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return can_sdo_write2(node, index, 0, bytes, width, 1, kSdoError, caller);
}

int node_of_letter(const mc_ctrl_t& c, int axis, uint8_t* node) {
  if (axis < 0 || axis > 5) return ERR_MC_INVALID_AXIS;
  switch (c.axes[axis].letter) {
    case 'X': *node = 16; return 0;
    case 'Y': *node = 18; return 0;
    case 'Z': *node = 20; return 0;
    case 'P': *node = 22; return 0;
    case 'R': *node = 24; return 0;
    default: return ERR_MC_INVALID_AXIS;
  }
}

// The axis number first, so that no axis entry is read out of bounds; then
// the flag; then the amplifier's node.
int closed_loop_axis(const mc_ctrl_t& c, int axis, const char* name, uint8_t* node) {
  if (axis < 0 || axis >= MC_AXES) return ERR_MC_INVALID_AXIS;
  if (c.axes[axis].extClosedLoop == 0) {
    u_log_fn("%s: mci->axis[axis].can_closed_loop == FALSE\n", name);
    return ERR_INTERNAL_FB;
  }
  return node_of_letter(c, axis, node);
}

// The closed-loop switch sits on the Z axis's amplifier, whatever the axis.
int switch_node(const mc_ctrl_t& c, int axis, const char* name, uint8_t* node) {
  uint8_t own = 0;
  if (const int err = closed_loop_axis(c, axis, name, &own)) return err;
  if (c.zAxis == MC_NO_AXIS) return ERR_MC_INVALID_AXIS;
  return node_of_letter(c, c.zAxis, node);
}

bool faulted(uint32_t status, uint32_t manufacturer) {
  return mc_ccl_faulted(status, manufacturer);
}

int logged(const char* name, int err) {
  if (err != 0) u_log_fn("%s: %s\n", name, err_name(err));
  return err;
}

int reset_position_node(const char* name) {
  if (const int err = write_le(kPositionNode, kPosControl, 2, kPosReset, name)) return err;
  constexpr int kPolls = 10;
  for (int poll = 0; poll < kPolls; ++poll) {
    uint32_t state = 0;
    if (const int err = read_le(kPositionNode, kPosState, 1, &state, name)) return err;
    if ((state & 0x1) == 0) return 0;
    if (poll + 1 < kPolls) u_sleep_ms(50);
  }
  u_log_timed("%s: not ready after %d iterations\n", name, kPolls);
  return ERR_HW_FAIL;
}

int init_steps(mc_ctrl_t& c, int axis) {
  const char* const name = "mc_ccl_init";
  uint8_t node = 0;
  if (const int err = closed_loop_axis(c, axis, name, &node)) return err;
  uint32_t status = 0;
  if (const int err = read_le(kPositionNode, kPosStatus, 4, &status, name)) return err;
  if ((status & kNeedsReset) != 0) {
    if (const int err = reset_position_node(name)) return err;
    if (const int err = u_poll_pause(1000)) return err;
    if (const int err = read_le(kPositionNode, kPosStatus, 4, &status, name)) return err;
    if ((status & kNeedsReset) != 0) return ERR_MC_CAN_CLOSED_LOOP_DMI_INIT;
  }
  const int ready = mc_ccl_amplifier_ready(c, axis, 1);
  if (ready == ERR_MC_CAN_AMPLIFIER_FAULT) return ERR_MC_CAN_CLOSED_LOOP_AMP_INIT;
  if (ready != 0) return ready;
  return mc_ccl_set_closed_loop(c, axis, 1);
}

}  // namespace

int mc_ccl_get_amplifier_status(mc_ctrl_t& c, int axis, uint32_t* status, uint32_t* manufacturer) {
  const char* const name = "mc_ccl_get_amplifier_status";
  uint8_t node = 0;
  if (const int err = closed_loop_axis(c, axis, name, &node)) return err;
  uint32_t word = 0, maker = 0;
  if (const int err = read_le(node, kStatusWord, 2, &word, name)) return err;
  if (const int err = read_le(node, kManufacturerStatus, 4, &maker, name)) return err;
  mc_axis_t& a = c.axes[axis];
  a.ampStatus = word;
  a.ampManufacturer = maker;
  a.ampStatusMs = u_ticks_ms();
  if (status != nullptr) *status = word;
  if (manufacturer != nullptr) *manufacturer = maker;
  return 0;
}

int mc_ccl_reset_amplifier(mc_ctrl_t& c, int axis) {
  const char* const name = "mc_ccl_reset_amplifier";
  uint8_t node = 0;
  if (const int err = closed_loop_axis(c, axis, name, &node)) return err;
  uint32_t control = 0;
  if (const int err = read_le(node, kControlWord, 2, &control, name)) return err;
  // The fault resets on the rising edge of its bit.
  if (const int err = write_le(node, kControlWord, 2, control & ~kFaultReset, name)) return err;
  if (const int err = write_le(node, kControlWord, 2, control | kFaultReset, name)) return err;
  return write_le(node, kPosition, 4, 0, name);
}

int mc_ccl_amplifier_ready(mc_ctrl_t& c, int axis, int reset) {
  uint32_t status = 0, manufacturer = 0;
  if (const int err = mc_ccl_get_amplifier_status(c, axis, &status, &manufacturer)) return err;
  if (!faulted(status, manufacturer)) return 0;
  c.axes[axis].homeOk = 0;
  if (reset == 0) return ERR_MC_CAN_AMPLIFIER_FAULT;
  if (const int err = mc_ccl_reset_amplifier(c, axis)) return err;
  if (const int err = u_poll_pause(2000)) return err;
  if (const int err = mc_ccl_get_amplifier_status(c, axis, &status, &manufacturer)) return err;
  return faulted(status, manufacturer) ? ERR_MC_CAN_AMPLIFIER_FAULT : 0;
}

int mc_ccl_get_closed_loop(mc_ctrl_t& c, int axis, int* on) {
  const char* const name = "mc_ccl_get_closed_loop";
  uint8_t node = 0;
  if (const int err = switch_node(c, axis, name, &node)) return err;
  uint32_t value = 0;
  if (const int err = read_le(node, kClosedLoopSwitch, 2, &value, name)) return err;
  if (on != nullptr) *on = (value & kSwitchReadsOn) != 0 ? 1 : 0;
  return 0;
}

int mc_ccl_set_closed_loop(mc_ctrl_t& c, int axis, int on) {
  const char* const name = "mc_ccl_set_closed_loop";
  uint8_t node = 0;
  if (const int err = switch_node(c, axis, name, &node)) return err;
  return write_le(node, kClosedLoopSwitch, 2, on != 0 ? kSwitchOn : 0, name);
}

int mc_ccl_set_z_closed_loop(sysInfo_t* info, int on) {
  const char* const name = "mc_ccl_set_z_closed_loop";
  auto refuse = [name](const char* why) {
    u_log_fn("%s", why);
    return logged(name, ERR_INTERNAL_FB);
  };
  if (info == nullptr || info->zExternalClosedLoop == 0)
    return refuse("sip->zExternalClosedLoop == FALSE\n");
  if (!info->motionCtrlInfo) return refuse("sip->motionCtrlInfo == NULL\n");
  mc_ctrl_t& c = *info->motionCtrlInfo;
  if (c.zAxis == MC_NO_AXIS) return refuse("mci->z_axis == MC_AXIS_NOT_FOUND\n");
  if (c.axes[c.zAxis].extClosedLoop == 0)
    return refuse("mci->axis[mci->z_axis].can_closed_loop == FALSE\n");
  return logged(name, mc_ccl_set_closed_loop(c, c.zAxis, on));
}

int mc_ccl_init(mc_ctrl_t& c, int axis) {
  const int err = init_steps(c, axis);
  if (err != 0) u_log_fn("%s failed: %s\n", "mc_ccl_init", err_name(err));
  return err;
}

int mc_ccl_in_position(mc_ctrl_t& c, int axis, int* in_position) {
  const char* const name = "mc_ccl_in_position";
  uint8_t node = 0;
  if (const int err = closed_loop_axis(c, axis, name, &node)) return err;
  *in_position = 0;
  mc_axis_t& a = c.axes[axis];
  const int64_t now = u_ticks_ms();
  if (a.inPosStartMs < 0) {
    a.inPosStartMs = now;
    return 0;
  }
  if (now - a.inPosStartMs <= kSettleMs) return 0;
  // The loop is opened for the reading, so that it does not chase the error
  // it is asked about, and closed again whatever the answer.
  int err = mc_ccl_set_closed_loop(c, axis, 0);
  uint32_t window = 0, error_bits = 0;
  if (err == 0) err = read_le(node, kPositionWindow, 4, &window, name);
  if (err == 0) err = read_le(node, kFollowingError, 4, &error_bits, name);
  const int restore = mc_ccl_set_closed_loop(c, axis, 1);
  if (err == 0) err = restore;
  a.inPosStartMs = -1;
  if (err != 0) return err;
  const int64_t following = static_cast<int32_t>(error_bits);
  // 2W + 0.5 truncated, W being whole.
  const int64_t limit = 2 * static_cast<int64_t>(window);
  if (std::llabs(following) > limit) return ERR_MC_CAN_CLOSED_LOOP_TIMEOUT;
  *in_position = 1;
  return 0;
}

int mc_ccl_set_home_ok(mc_ctrl_t& c, int axis, int ok) {
  const char* const name = "mc_ccl_set_home_ok";
  uint8_t node = 0;
  if (const int err = closed_loop_axis(c, axis, name, &node)) return logged(name, err);
  if (ok == 0) {
    c.axes[axis].homeOk = 0;
    return 0;
  }
  if (const int err = write_le(kPositionNode, kPosControl, 2, kClearHomeRequired, name))
    return logged(name, err);
  c.axes[axis].homeOk = 1;
  return 0;
}

int mc_ccl_get_home_ok(mc_ctrl_t& c, int axis, int* ok) {
  const char* const name = "mc_ccl_get_home_ok";
  uint8_t node = 0;
  if (const int err = closed_loop_axis(c, axis, name, &node)) return logged(name, err);
  *ok = 0;
  if (c.axes[axis].homeOk == 0) return 0;
  uint32_t status = 0;
  if (const int err = read_le(kPositionNode, kPosStatus, 4, &status, name))
    return logged(name, err);
  if ((status & kHomeRequired) != 0) {
    c.axes[axis].homeOk = 0;
    return 0;
  }
  *ok = 1;
  return 0;
}
