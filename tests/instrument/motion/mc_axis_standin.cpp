// Stand-ins for the two axis-layer functions the wrapper driver calls, for
// as long as the axis layer is not built into this tree: the controller
// check and the conversion to counts, as the axis layer's header describes
// them, enough for the driver's tests.
#include <cmath>
#include <cstdint>

#include "instrument/motion/mc_axis.h"

int mc_check_controller(const mc_ctrl_t* c) {
  if (c == nullptr) return ERR_MC_NOT_AVAIL;
  const bool checks_state = c->fwMajor > 2 || (c->fwMajor == 2 && c->fwMinor >= 3);
  if (!checks_state || c->state == MC_STATE_NORMAL) return 0;
  return c->state == MC_STATE_RESET ? ERR_MC_NEEDS_RESET
         : c->state == MC_STATE_ESTOP ? ERR_MC_KILL_SWITCH
                                      : ERR_MC_MISC;
}

int mc_to_counts(const mc_ctrl_t& c, int axis, double value, int32_t* counts) {
  *counts = 0;
  if (axis < 0 || axis >= MC_AXES || c.axes[axis].active == 0) return 0;
  const mc_axis_t& a = c.axes[axis];
  const bool rotary = a.letter == 'R' || a.letter == 'P' || a.letter == 'T';
  const double n = std::round(value * a.stepsPerRev * a.encSteps * a.pitch / (rotary ? 360 : 1));
  if (!std::isfinite(n) || n < INT32_MIN || n > INT32_MAX) return ERR_MC_RANGE;
  *counts = static_cast<int32_t>(n);
  return 0;
}
