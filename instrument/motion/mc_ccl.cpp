// The amplifier operations are not built yet: every one answers
// ERR_NOT_IMPLEMENTED, so an axis configured with external closed loop
// fails cleanly instead of moving without its amplifier.
#include "instrument/motion/mc_ccl.h"

int mc_ccl_init(mc_ctrl_t&, int) { return ERR_NOT_IMPLEMENTED; }
int mc_ccl_amplifier_ready(mc_ctrl_t&, int, int) { return ERR_NOT_IMPLEMENTED; }
int mc_ccl_get_closed_loop(mc_ctrl_t&, int, int*) { return ERR_NOT_IMPLEMENTED; }
int mc_ccl_set_closed_loop(mc_ctrl_t&, int, int) { return ERR_NOT_IMPLEMENTED; }
int mc_ccl_get_amplifier_status(mc_ctrl_t&, int, uint32_t*, uint32_t*) { return ERR_NOT_IMPLEMENTED; }
int mc_ccl_get_home_ok(mc_ctrl_t&, int, int*) { return ERR_NOT_IMPLEMENTED; }
int mc_ccl_set_home_ok(mc_ctrl_t&, int, int) { return ERR_NOT_IMPLEMENTED; }
int mc_ccl_in_position(mc_ctrl_t&, int, int*) { return ERR_NOT_IMPLEMENTED; }
