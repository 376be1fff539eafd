// The axis layer's conversions between user units and counts, its joystick
// and position-report stacks, the controller check every driver runs first,
// and the texts of status values.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/motion/mc_axis.h"

namespace {

// The firmware each feature of the serial controller needs, in one place.
struct FirmwareNeed {
  McFeature feature;
  uint16_t major, minor;
};
constexpr FirmwareNeed kFirmwareNeeds[] = {
    {McFeature::pos_report, 0, 4},
    {McFeature::home_state, 2, 0},
    {McFeature::axis_pos_report, 2, 1},
    {McFeature::state_check, 2, 3},
};

constexpr bool needs_cover_every_feature() {
  for (int f = 0; f < static_cast<int>(McFeature::count); ++f) {
    bool found = false;
    for (const FirmwareNeed& n : kFirmwareNeeds) found = found || static_cast<int>(n.feature) == f;
    if (!found) return false;
  }
  return true;
}
static_assert(needs_cover_every_feature());

bool is_angle_axis(const mc_axis_t& a) {
  return a.letter == 'R' || a.letter == 'P' || a.letter == 'T';
}

bool valid_axis(int axis) { return axis >= 0 && axis < MC_AXES; }

// Counts of a user value, checked to fit the controller's 32-bit counts.
int round_to_counts(double scaled, int32_t* counts) {
  if (!std::isfinite(scaled)) return ERR_MC_RANGE;
  const double r = std::round(scaled);  // half away from zero
  if (r < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<int32_t>::max()))
    return ERR_MC_RANGE;
  *counts = static_cast<int32_t>(r);
  return 0;
}

// ---- the stacks

// Saves a value on top of the stack, growing it by ten entries when full.
// A failed growth leaves the stack as it was.
int stack_push(mc_stack_t& s, const char* op, int32_t value) {
  if (s.top < -1) {
    u_log_fn("%s: invalid stack index %d\n", op, static_cast<int>(s.top));
    s.top = -1;
  }
  const std::size_t size = s.items.size();
  if (static_cast<std::size_t>(s.top + 1) >= size) {
    try {
      s.items.resize(size + 10);
    } catch (const std::bad_alloc&) {
      return ERR_NO_MEM;
    }
    if (size != 0)
      u_log_fn("%s: stack size has increased to %d\n", op, static_cast<int>(size + 10));
  }
  s.items[static_cast<std::size_t>(++s.top)] = value;
  return 0;
}

// Takes the top value off the stack. 1 when the stack was empty (nothing to
// restore), 0 with the value, or an error.
int stack_pop(mc_stack_t& s, const char* op, const char* null_text, int32_t* value) {
  if (s.top < 0) {
    u_log_fn("%s: invalid stack index %d\n", op, static_cast<int>(s.top));
    return 1;
  }
  if (s.items.empty()) {
    u_log_fn("%s: %s is NULL\n", op, null_text);
    return ERR_INTERNAL_FB;
  }
  if (static_cast<std::size_t>(s.top) >= s.items.size()) {
    u_log_fn("%s: stack index %d >= stack size %d\n", op, static_cast<int>(s.top),
             static_cast<int>(s.items.size()));
    return ERR_INTERNAL_FB;
  }
  *value = s.items[static_cast<std::size_t>(s.top--)];
  return 0;
}

// Clears the driver's joystick queue after a failed queue or execution.
void clear_joystick_queue(mc_ctrl_t& c, const char* op) {
  const int err = c.driver->queue_joystick(c, 0, 3);
  if (err != 0) u_log_fn("%s() failed clearing joystick queue - %s\n", op, err_name(err));
}

// Runs the queued changes, clearing the queue when that fails.
int execute_joystick_queue(mc_ctrl_t& c, const char* op) {
  const int err = c.driver->queue_joystick(c, 0, 2);
  if (err != 0) {
    u_log_fn("%s: error executing queue_joystick\n", op);
    clear_joystick_queue(c, op);
  }
  return err;
}

int queue_one(mc_ctrl_t& c, const char* op, int axis, int operation) {
  const int err = c.driver->queue_joystick(c, axis, operation);
  if (err != 0) {
    u_log_fn("%s: error queuing joysticks, axis %d\n", op, axis);
    clear_joystick_queue(c, op);
  }
  return err;
}

// Puts a joystick mask in force; the mask is the layer's to keep.
int apply_joystick_mask(mc_ctrl_t& c, const char* op, uint8_t mask) {
  if (mask == c.joyMask) return 0;
  int err = 0;
  if (mask == 0) {
    err = c.driver->disable_joystick(c, MC_ALL_AXES);
  } else if (mask == MC_JOY_ALL) {
    err = c.driver->enable_joystick(c, MC_ALL_AXES);
  } else {
    // Only active axes have a joystick. "All on" (0x3F) sets the bits of
    // absent axes too, and homing clears the homed ones: a restore would
    // then switch on joysticks the controller refuses as inactive.
    bool queued = false;
    for (int axis = 0; axis < MC_AXES && err == 0; ++axis) {
      const unsigned bit = 1u << axis;
      if ((mask & bit) == (c.joyMask & bit) || c.axes[axis].active == 0) continue;
      err = queue_one(c, op, axis, (mask & bit) != 0 ? 0 : 1);
      queued = true;
    }
    if (err == 0 && queued) err = execute_joystick_queue(c, op);
  }
  if (err == 0) c.joyMask = mask;
  return err;
}

int apply_pos_report(mc_ctrl_t& c, int on) {
  if ((on != 0) == (c.posReport != 0)) return 0;
  const int err = on != 0 ? c.driver->enable_pos_report(c) : c.driver->disable_pos_report(c);
  if (err == 0) c.posReport = on != 0 ? 1 : 0;
  return err;
}

}  // namespace

bool mc_firmware_has(const mc_ctrl_t& c, McFeature feature) {
  if (c.kind != MC_KIND_SERIAL) return true;
  for (const FirmwareNeed& n : kFirmwareNeeds)
    if (n.feature == feature)
      return c.fwMajor > n.major || (c.fwMajor == n.major && c.fwMinor >= n.minor);
  return false;
}

int mc_check_controller(const mc_ctrl_t* c) {
  if (c == nullptr) return ERR_MC_NOT_AVAIL;
  if (!mc_firmware_has(*c, McFeature::state_check)) return 0;
  switch (c->state) {
    case MC_STATE_NORMAL: return 0;
    case MC_STATE_RESET: return ERR_MC_NEEDS_RESET;
    case MC_STATE_ESTOP: return ERR_MC_KILL_SWITCH;
    default: return ERR_MC_MISC;
  }
}

double mc_axis_factor(const mc_ctrl_t& c, int axis) {
  if (!valid_axis(axis)) return 0;
  const mc_axis_t& a = c.axes[axis];
  const double factor = a.stepsPerRev * a.encSteps * a.pitch;
  return is_angle_axis(a) ? factor / 360.0 : factor;
}

int mc_to_counts(const mc_ctrl_t& c, int axis, double value, int32_t* counts) {
  *counts = 0;
  if (!valid_axis(axis) || c.axes[axis].active == 0) return 0;
  return round_to_counts(value * mc_axis_factor(c, axis), counts);
}

double mc_to_user(const mc_ctrl_t& c, int axis, int32_t counts) {
  const double factor = mc_axis_factor(c, axis);
  if (factor == 0) return MC_INVALID;
  const mc_axis_t& a = c.axes[axis];
  double v = counts / factor;
  if (a.compensate != nullptr && !a.compensate(c, axis, v, &v)) return MC_INVALID;
  v -= a.homePosOffset + a.homeOffset;
  if (axis == c.tAxis) {
    v = std::fmod(v, 360.0);
    if (valid_axis(c.yAxis)) {
      if (c.axes[c.yAxis].active != 0) {
        if (v <= -180.0) v += 360.0;
        if (v > 180.0) v -= 360.0;
      } else if (v < 0) {
        v += 360.0;
      }
    }
  }
  return v;
}

int mc_set_lin_velocity(mc_ctrl_t& c, int axis, double velocity, double* actual) {
  const auto fail = [](int err) {
    u_log_fn("%s failed: %s\n", "mc_set_lin_velocity", err_name(err));
    return err;
  };
  if (!valid_axis(axis)) return fail(ERR_MC_INVALID_AXIS);
  const mc_axis_t& a = c.axes[axis];
  // The controller's velocity unit: 32768 of them are 8 000 000 counts per
  // second. The axis multiplier scales what the firmware runs.
  const double factor =
      a.encSteps * a.stepsPerRev * a.pitch * c.config.axes[axis].mult * 32768.0 / 8000000.0;
  if (factor == 0 || !std::isfinite(factor)) return fail(ERR_MC_INVALID_CONFIG);
  int32_t rate = 0;
  int err = round_to_counts(factor * velocity, &rate);
  if (err == 0) err = c.driver->set_velocity(c, axis, rate);
  if (err != 0) return fail(err);
  if (actual != nullptr) *actual = rate / factor;
  return 0;
}

int mc_push_joystick(mc_ctrl_t& c, uint8_t mask) {
  int err = stack_push(c.joyStack, "mc_push_joystick", c.joyMask);
  if (err == 0) err = apply_joystick_mask(c, "mc_push_joystick", mask);
  return err;
}

int mc_pop_joystick(mc_ctrl_t& c) {
  int32_t mask = 0;
  const int got = stack_pop(c.joyStack, "mc_pop_joystick", "joystick_stack", &mask);
  if (got == 1) return 0;
  if (got != 0) return got;
  return apply_joystick_mask(c, "mc_pop_joystick", static_cast<uint8_t>(mask));
}

int mc_push_pos_report(mc_ctrl_t& c, int on) {
  int err = stack_push(c.posReportStack, "mc_push_pos_report", c.posReport);
  if (err == 0) err = apply_pos_report(c, on);
  return err;
}

int mc_pop_pos_report(mc_ctrl_t& c) {
  int32_t on = 0;
  const int got = stack_pop(c.posReportStack, "mc_pop_pos_report", "stack", &on);
  if (got == 1) return 0;
  if (got != 0) return got;
  return apply_pos_report(c, on);
}

int mc_restore_joystick(mc_ctrl_t& c, const uint8_t flags[MC_AXES]) {
  bool all = true;
  for (int axis = 0; axis < MC_AXES; ++axis) all = all && flags[axis] != 0;
  if (all) {
    const int err = c.driver->enable_joystick(c, MC_ALL_AXES);
    if (err == 0) c.joyMask = MC_JOY_ALL;
    return err;
  }
  const char* const op = "mc_restore_joystick";
  const int axes = std::min(c.driver->num_axes(c), MC_AXES);
  uint8_t mask = c.joyMask;
  for (int axis = 0; axis < axes; ++axis) {
    if (flags[axis] == 0) continue;
    if (const int err = queue_one(c, op, axis, 0); err != 0) return err;
    mask = static_cast<uint8_t>(mask | (1u << axis));
  }
  if (const int err = execute_joystick_queue(c, op); err != 0) return err;
  c.joyMask = mask;
  return 0;
}

const char* mc_status_text(int32_t status, int32_t error) {
  switch (status) {
    case 1: return "Axis is moving";
    case 2: return "Axis is not moving";
    case 3: return "Axis not moving error";
    case 4: return "Axis unavailable";
    case 5:
      switch (error) {
        case 12: return "Invalid axis move: axis busy";
        case 17: return "Invalid axis move: no home";
        case 22: return "Invalid axis move: joystick enabled";
        case 23: return "Invalid axis move: move too large";
        default: return "Invalid axis move: no error ?";
      }
    case 6: return "Axis under joystick control";
    case 7: return "Kill switch";
    case 255: return "unknown status value";
    default: return "bad status value";
  }
}

int mc_axis_error_code(int32_t error) {
  switch (error) {
    case 18: return ERR_MC_AXIS_AT_LIMIT;
    case 19: return ERR_MC_Z_AXIS_HIT_Z_STOP;
    case 21: return ERR_MC_KILL_SWITCH;
    default: return 0;
  }
}
