#include "instrument/motion/mc_ctrl.h"

#include "instrument/record/sys_info.h"

// The reset table: nothing is available until a driver fills the entry.
int McDriver::get_axis_config(mc_ctrl_t&, int, int32_t*) { return ERR_MC_NOT_AVAIL; }
int McDriver::set_accel(mc_ctrl_t&, int, int32_t) { return ERR_MC_NOT_AVAIL; }
int McDriver::set_velocity(mc_ctrl_t&, int, int32_t) { return ERR_MC_NOT_AVAIL; }
int McDriver::set_ss_velocity(mc_ctrl_t&, int, int32_t) { return ERR_MC_NOT_AVAIL; }
int McDriver::set_mode(mc_ctrl_t&, int, int32_t) { return ERR_MC_NOT_AVAIL; }
int McDriver::enable_fkeys(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::disable_fkeys(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::enable_joystick(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::disable_joystick(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::enable_pos_report(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::disable_pos_report(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::move(mc_ctrl_t&, int, double) { return ERR_MC_NOT_AVAIL; }
int McDriver::stop(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_status(mc_ctrl_t&, int, int32_t*) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_error(mc_ctrl_t&, int, int32_t*) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_positions(mc_ctrl_t&, int, int32_t*) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_revision(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::fkey_label(mc_ctrl_t&, int, const char*) { return ERR_MC_NOT_AVAIL; }
int McDriver::z_home(mc_ctrl_t&, int32_t) { return ERR_MC_NOT_AVAIL; }
int McDriver::find_home(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_event(mc_ctrl_t&, int32_t*, int32_t*) { return ERR_MC_NOT_AVAIL; }
void McDriver::event_pump(mc_ctrl_t&) {}
int McDriver::get_config(mc_ctrl_t&, std::string*, uint16_t*) { return ERR_MC_NOT_AVAIL; }
int McDriver::home_state(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::axis_pos_report(mc_ctrl_t&, int, uint8_t) { return ERR_MC_NOT_AVAIL; }
int McDriver::kind(const mc_ctrl_t&) const { return MC_KIND_NONE; }
int McDriver::vector_motion(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_vector_motion(mc_ctrl_t&, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::queue_joystick(mc_ctrl_t&, int, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::delay_motion(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_delay_motion(mc_ctrl_t&, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::home_axes(mc_ctrl_t&, const int*, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::cancel_delayed_motion(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::enable_auto_clamp(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::disable_auto_clamp(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::enable_auto_focus(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::disable_auto_focus(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::auto_focus_zero_set(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::auto_focus_zero_clear(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::is_auto_focus_enabled(mc_ctrl_t&, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::is_auto_focus_zero_set(mc_ctrl_t&, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::is_stage_clamped(mc_ctrl_t&, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::num_axes(const mc_ctrl_t&) const { return MC_AXES; }
int McDriver::supports_ext_closed_loop(mc_ctrl_t&, int, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::get_ext_closed_loop(mc_ctrl_t&, int, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::set_ext_closed_loop(mc_ctrl_t&, int, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::amplifier_fault(mc_ctrl_t&, int, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::align_view_indicator(mc_ctrl_t&, int) { return ERR_MC_NOT_AVAIL; }
int McDriver::close(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }
int McDriver::open(mc_ctrl_t&, const char*, int, int, int*, int*) { return ERR_MC_NOT_AVAIL; }
int McDriver::recover(mc_ctrl_t&) { return ERR_MC_NOT_AVAIL; }

void mc_ctrl_reset(mc_ctrl_t& c) {
  sysInfo_t* const info = c.info;
  c = mc_ctrl_t{};
  c.info = info;
}

void McCtrlDelete::operator()(mc_ctrl_t* c) const { std::default_delete<mc_ctrl_t>()(c); }
