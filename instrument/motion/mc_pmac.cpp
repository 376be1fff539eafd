// The PMAC controller's driver. The controller is reached through its
// maker's communication library, which this library does not ship: the
// driver is selected and the configuration file read like any other, then
// the open fails cleanly with ERR_PMAC_NO_DLL, and every entry the PMAC
// driver fills answers ERR_PMAC_DEVICE_NOT_OPENED.
#include "instrument/motion/mc_pmac.h"

#include "common/errors.h"
#include "common/hooks.h"

namespace {

int not_opened() { return ERR_PMAC_DEVICE_NOT_OPENED; }

int no(int* out) {
  if (out != nullptr) *out = 0;
  return 0;
}

}  // namespace

int PmacDriver::get_axis_config(mc_ctrl_t&, int, int32_t*) { return not_opened(); }
int PmacDriver::set_accel(mc_ctrl_t&, int, int32_t) { return not_opened(); }
int PmacDriver::set_velocity(mc_ctrl_t&, int, int32_t) { return not_opened(); }
int PmacDriver::set_ss_velocity(mc_ctrl_t&, int, int32_t) { return 0; }
int PmacDriver::set_mode(mc_ctrl_t&, int, int32_t) { return not_opened(); }
int PmacDriver::enable_fkeys(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::disable_fkeys(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::enable_joystick(mc_ctrl_t&, int) { return 0; }
int PmacDriver::disable_joystick(mc_ctrl_t&, int) { return not_opened(); }
int PmacDriver::enable_pos_report(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::disable_pos_report(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::move(mc_ctrl_t&, int, double) { return not_opened(); }
int PmacDriver::stop(mc_ctrl_t&, int) { return not_opened(); }
int PmacDriver::get_status(mc_ctrl_t&, int, int32_t*) { return not_opened(); }
int PmacDriver::get_error(mc_ctrl_t&, int, int32_t*) { return not_opened(); }
int PmacDriver::get_positions(mc_ctrl_t&, int, int32_t*) { return not_opened(); }
int PmacDriver::get_revision(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::fkey_label(mc_ctrl_t&, int, const char*) { return not_opened(); }
int PmacDriver::z_home(mc_ctrl_t&, int32_t) { return 0; }
int PmacDriver::find_home(mc_ctrl_t&, int) { return 0; }
int PmacDriver::get_event(mc_ctrl_t&, int32_t* kind, int32_t* key) {
  if (kind != nullptr) *kind = MC_EVENT_NONE;
  return no(key);
}
int PmacDriver::get_config(mc_ctrl_t&, std::string*, uint16_t*) { return not_opened(); }
int PmacDriver::home_state(mc_ctrl_t&, int) { return not_opened(); }
int PmacDriver::axis_pos_report(mc_ctrl_t&, int, uint8_t) { return not_opened(); }
int PmacDriver::kind(const mc_ctrl_t&) const { return MC_KIND_PMAC; }
int PmacDriver::vector_motion(mc_ctrl_t&, int) { return not_opened(); }
int PmacDriver::get_vector_motion(mc_ctrl_t&, int*) { return not_opened(); }
int PmacDriver::queue_joystick(mc_ctrl_t&, int, int) { return not_opened(); }
int PmacDriver::delay_motion(mc_ctrl_t&, int) { return not_opened(); }
int PmacDriver::get_delay_motion(mc_ctrl_t&, int*) { return not_opened(); }
int PmacDriver::home_axes(mc_ctrl_t&, const int*, int) { return not_opened(); }
int PmacDriver::cancel_delayed_motion(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::enable_auto_clamp(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::disable_auto_clamp(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::enable_auto_focus(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::disable_auto_focus(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::auto_focus_zero_set(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::auto_focus_zero_clear(mc_ctrl_t&) { return not_opened(); }
int PmacDriver::is_auto_focus_enabled(mc_ctrl_t&, int*) { return not_opened(); }
int PmacDriver::is_auto_focus_zero_set(mc_ctrl_t&, int*) { return not_opened(); }
int PmacDriver::is_stage_clamped(mc_ctrl_t&, int*) { return not_opened(); }
int PmacDriver::supports_ext_closed_loop(mc_ctrl_t&, int, int*) { return not_opened(); }
int PmacDriver::get_ext_closed_loop(mc_ctrl_t&, int, int*) { return not_opened(); }
int PmacDriver::set_ext_closed_loop(mc_ctrl_t&, int, int) { return not_opened(); }
int PmacDriver::amplifier_fault(mc_ctrl_t&, int, int*) { return not_opened(); }
int PmacDriver::align_view_indicator(mc_ctrl_t&, int) { return 0; }
// Never opened, so there is nothing to close.
int PmacDriver::close(mc_ctrl_t&) { return 0; }
int PmacDriver::open(mc_ctrl_t&, const char* name, int, int, int* result, int* done) {
  u_log_fn("mc_open_comm_pmac() error opening %s err=%d\n", name != nullptr ? name : "",
           ERR_PMAC_NO_DLL);
  if (result != nullptr) *result = ERR_PMAC_NO_DLL;
  if (done != nullptr) *done = 1;
  return ERR_PMAC_NO_DLL;
}
int PmacDriver::recover(mc_ctrl_t&) { return not_opened(); }
