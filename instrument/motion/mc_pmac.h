/// @file
/// The PMAC controller's driver (kind 2, chosen by a device name starting
/// with "PMAC"): selected and configured like the others, it fails to open
/// with ERR_PMAC_NO_DLL, since the controller maker's communication library
/// is not part of this library.
#pragma once

#include <string>

#include "instrument/motion/mc_ctrl.h"

/// The driver of kind 2. Since it is never opened, its entries answer
/// ERR_PMAC_DEVICE_NOT_OPENED, except that open answers ERR_PMAC_NO_DLL,
/// get_event reports no event, and set_ss_velocity, enable_joystick,
/// z_home, find_home, align_view_indicator and close answer 0.
class PmacDriver final : public McDriver {
 public:
  int get_axis_config(mc_ctrl_t&, int, int32_t*) override;
  int set_accel(mc_ctrl_t&, int, int32_t) override;
  int set_velocity(mc_ctrl_t&, int, int32_t) override;
  int set_ss_velocity(mc_ctrl_t&, int, int32_t) override;
  int set_mode(mc_ctrl_t&, int, int32_t) override;
  int enable_fkeys(mc_ctrl_t&) override;
  int disable_fkeys(mc_ctrl_t&) override;
  int enable_joystick(mc_ctrl_t&, int) override;
  int disable_joystick(mc_ctrl_t&, int) override;
  int enable_pos_report(mc_ctrl_t&) override;
  int disable_pos_report(mc_ctrl_t&) override;
  int move(mc_ctrl_t&, int, double) override;
  int stop(mc_ctrl_t&, int) override;
  /// Entry 15: ERR_PMAC_DEVICE_NOT_OPENED.
  int get_status(mc_ctrl_t&, int, int32_t*) override;
  /// Entry 16: ERR_PMAC_DEVICE_NOT_OPENED.
  int get_error(mc_ctrl_t&, int, int32_t*) override;
  /// Entry 17: ERR_PMAC_DEVICE_NOT_OPENED.
  int get_positions(mc_ctrl_t&, int, int32_t*) override;
  int get_revision(mc_ctrl_t&) override;
  int fkey_label(mc_ctrl_t&, int, const char*) override;
  int z_home(mc_ctrl_t&, int32_t) override;
  int find_home(mc_ctrl_t&, int) override;
  int get_event(mc_ctrl_t&, int32_t* kind, int32_t* key) override;
  /// Entry 24: ERR_PMAC_DEVICE_NOT_OPENED.
  int get_config(mc_ctrl_t&, std::string*, uint16_t*) override;
  int home_state(mc_ctrl_t&, int) override;
  int axis_pos_report(mc_ctrl_t&, int, uint8_t) override;
  int kind(const mc_ctrl_t&) const override;
  int vector_motion(mc_ctrl_t&, int) override;
  int get_vector_motion(mc_ctrl_t&, int*) override;
  int queue_joystick(mc_ctrl_t&, int, int) override;
  int delay_motion(mc_ctrl_t&, int) override;
  int get_delay_motion(mc_ctrl_t&, int*) override;
  int home_axes(mc_ctrl_t&, const int*, int) override;
  int cancel_delayed_motion(mc_ctrl_t&) override;
  int enable_auto_clamp(mc_ctrl_t&) override;
  int disable_auto_clamp(mc_ctrl_t&) override;
  int enable_auto_focus(mc_ctrl_t&) override;
  int disable_auto_focus(mc_ctrl_t&) override;
  int auto_focus_zero_set(mc_ctrl_t&) override;
  int auto_focus_zero_clear(mc_ctrl_t&) override;
  int is_auto_focus_enabled(mc_ctrl_t&, int*) override;
  int is_auto_focus_zero_set(mc_ctrl_t&, int*) override;
  int is_stage_clamped(mc_ctrl_t&, int*) override;
  int supports_ext_closed_loop(mc_ctrl_t&, int, int*) override;
  int get_ext_closed_loop(mc_ctrl_t&, int, int*) override;
  int set_ext_closed_loop(mc_ctrl_t&, int, int) override;
  int amplifier_fault(mc_ctrl_t&, int, int*) override;
  int align_view_indicator(mc_ctrl_t&, int) override;
  int close(mc_ctrl_t&) override;
  int open(mc_ctrl_t&, const char* name, int, int, int* result, int* done) override;
  int recover(mc_ctrl_t&) override;
};
