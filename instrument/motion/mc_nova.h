/// @file
/// The serial motion controller driver: up to six stage axes with a
/// joystick, function keys and an emergency stop, over one serial line.
///
/// The host sends a two-letter code with decimal arguments, a checksum
/// character (byte sum mod 256, AND 0x3F, OR 0x40) and LF; the controller
/// answers ACK or NAK, a query also with a reply line that starts with the
/// query's code. Unasked lines carry position reports (RP), function keys
/// (RF), the emergency stop (EP) and "reset needed" (EL): the reader skips
/// the first two while it waits for an answer and notes the others in the
/// controller state.
///
/// Axis numbers: 0..5 are the axes; 6 or MC_ALL_AXES mean all of them; for
/// status and error queries 7 or MC_CONTROLLER mean the controller itself.
/// Every operation runs the controller check first and logs its own failure.
/// The axis layer reaches these through NovaDriver; the free functions are
/// the same operations by name. All of them talk on the caller's thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "instrument/motion/mc_ctrl.h"

/// The longest line the controller may send, without its terminator; a
/// longer one is noise and is thrown away with the rest of the input.
inline constexpr std::size_t MC_NOVA_MAX_LINE = 255;
/// Position reports in the first 3 s after they were switched on are stale.
inline constexpr int64_t MC_NOVA_REPORT_SETTLE_MS = 3000;

/// The checksum character of a line's text.
char mc_nova_checksum(std::string_view text);
/// The name a command code is logged under ("MC_INVALID_CMD" if unknown).
const char* mc_nova_cmd_name(std::string_view code);
/// True for the stage numbers whose Z axis is homed by a limit search.
bool mc_stage_homes_z_at_limit(int32_t stage);

// ---- operations, each an entry of the driver table
/// The serial controller's McDriver::get_axis_config (entry 1).
int mc_get_axis_config_nova(mc_ctrl_t& c, int axis, int32_t* value);
/// The serial controller's McDriver::set_accel (entry 2).
int mc_set_accel_nova(mc_ctrl_t& c, int axis, int32_t accel);
/// The serial controller's McDriver::set_velocity (entry 3).
int mc_set_velocity_nova(mc_ctrl_t& c, int axis, int32_t velocity);
/// The serial controller's McDriver::set_ss_velocity (entry 4).
int mc_set_ss_vel_nova(mc_ctrl_t& c, int axis, int32_t velocity);
/// The serial controller's McDriver::set_mode (entry 5).
int mc_set_mode_nova(mc_ctrl_t& c, int axis, int32_t mode);
/// The serial controller's McDriver::enable_fkeys (entry 6).
int mc_enable_fkey_nova(mc_ctrl_t& c);
/// The serial controller's McDriver::disable_fkeys (entry 7).
int mc_disable_fkey_nova(mc_ctrl_t& c);
/// The serial controller's McDriver::enable_joystick (entry 8): an axis 0..7 (7 names none) or
/// 6/MC_ALL_AXES.
int mc_enable_joy(mc_ctrl_t& c, int axis);
/// The serial controller's McDriver::disable_joystick (entry 9): an axis 0..7 (7 names none) or
/// 6/MC_ALL_AXES.
int mc_disable_joy(mc_ctrl_t& c, int axis);
/// The serial controller's McDriver::enable_pos_report (entry 10).
int mc_enable_pos_report_nova(mc_ctrl_t& c);
/// The serial controller's McDriver::disable_pos_report (entry 11).
int mc_disable_pos_report_nova(mc_ctrl_t& c);
/// The serial controller's McDriver::move (entry 12).
int mc_move_nova(mc_ctrl_t& c, int axis, double value);
/// The serial controller's McDriver::stop (entry 14).
int mc_stop_nova(mc_ctrl_t& c, int axis);
/// The serial controller's McDriver::get_status (entry 15); values as McDriver::get_status says.
int mc_get_status_nova(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
/// The serial controller's McDriver::get_error (entry 16); values as McDriver::get_status says.
int mc_get_error_nova(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
/// The serial controller's McDriver::get_positions (entry 17): all axes in counts[0..7] (6 and 7
/// unknown), one axis in counts[0]; ERR_MC_NO_HOME for one axis not homed.
int mc_get_ipos_nova(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]);
/// The serial controller's McDriver::get_revision (entry 18).
int mc_get_revision_nova(mc_ctrl_t& c);
/// The serial controller's McDriver::fkey_label (entry 19): a label of at most 4 characters
/// (ERR_PARAM_OUT_OF_RANGE for a longer one).
int mc_fkey_label_nova(mc_ctrl_t& c, const char* label);
/// The serial controller's McDriver::z_home (entry 20).
int mc_z_home_nova(mc_ctrl_t& c, int32_t stage);
/// The serial controller's McDriver::find_home (entry 21).
int mc_find_home_nova(mc_ctrl_t& c, int axis);
/// The serial controller's McDriver::get_event (entry 22).
int mc_get_event_nova(mc_ctrl_t& c, int32_t* kind, int32_t* key);
/// The serial controller's McDriver::event_pump (entry 23).
void mc_event_pump_nova(mc_ctrl_t& c);
/// The serial controller's McDriver::get_config (entry 24).
int mc_get_config_nova(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]);
/// The serial controller's McDriver::home_state (entry 25).
int mc_home_state_nova(mc_ctrl_t& c, int axis);
/// The serial controller's McDriver::axis_pos_report (entry 26).
int mc_axis_pos_report_nova(mc_ctrl_t& c, int axis, uint8_t on);
/// The serial controller's McDriver::home_axes (entry 33).
int mc_home_axes_nova(mc_ctrl_t& c, const int* axes, int count);
/// The serial controller's McDriver::supports_ext_closed_loop (entry 47).
int mc_supports_ext_closed_loop_nova(mc_ctrl_t& c, int axis, int* yes);
/// The serial controller's McDriver::get_ext_closed_loop (entry 48).
int mc_get_ext_closed_loop_nova(mc_ctrl_t& c, int axis, int* on);
/// The serial controller's McDriver::set_ext_closed_loop (entry 49).
int mc_set_ext_closed_loop_nova(mc_ctrl_t& c, int axis, int on);
/// The serial controller's McDriver::amplifier_fault (entry 50).
int mc_amplifier_fault_nova(mc_ctrl_t& c, int axis, int* fault);
/// The serial controller's McDriver::close (entry 52): out of the device table, then the line is
/// closed. ERR_MC_WRONG_MC for a record of another kind.
int mc_close_comm_nova(mc_ctrl_t& c);
/// The serial controller's McDriver::open (entry 53): opens the serial line `device`.
/// ERR_MC_WRONG_MC for a record of another kind, ERR_INVALID_PARAM for a null name.
int mc_open_comm_nova(mc_ctrl_t& c, const char* device);
/// The serial controller's McDriver::recover (entry 54): empties the line's buffers (ERR_MC_COMM
/// when that fails).
int mc_recover_comm_nova(mc_ctrl_t& c);

/// The driver table of the serial controller: each entry is the operation above of its number.
/// The entries the controller lacks (vector and delayed motion, clamp, autofocus, the align-view
/// indicator) do nothing and answer 0, their queries "no"; num_axes is 6.
class NovaDriver final : public McDriver {
 public:
  int get_axis_config(mc_ctrl_t& c, int axis, int32_t* value) override;
  int set_accel(mc_ctrl_t& c, int axis, int32_t accel) override;
  int set_velocity(mc_ctrl_t& c, int axis, int32_t velocity) override;
  int set_ss_velocity(mc_ctrl_t& c, int axis, int32_t velocity) override;
  int set_mode(mc_ctrl_t& c, int axis, int32_t mode) override;
  int enable_fkeys(mc_ctrl_t& c) override;
  int disable_fkeys(mc_ctrl_t& c) override;
  int enable_joystick(mc_ctrl_t& c, int axis) override;
  int disable_joystick(mc_ctrl_t& c, int axis) override;
  int enable_pos_report(mc_ctrl_t& c) override;
  int disable_pos_report(mc_ctrl_t& c) override;
  int move(mc_ctrl_t& c, int axis, double value) override;
  int stop(mc_ctrl_t& c, int axis) override;
  int get_status(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) override;
  int get_error(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) override;
  int get_positions(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]) override;
  int get_revision(mc_ctrl_t& c) override;
  int fkey_label(mc_ctrl_t& c, int key, const char* label) override;
  int z_home(mc_ctrl_t& c, int32_t stage) override;
  int find_home(mc_ctrl_t& c, int axis) override;
  int get_event(mc_ctrl_t& c, int32_t* kind, int32_t* key) override;
  void event_pump(mc_ctrl_t& c) override;
  int get_config(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]) override;
  int home_state(mc_ctrl_t& c, int axis) override;
  int axis_pos_report(mc_ctrl_t& c, int axis, uint8_t on) override;
  int kind(const mc_ctrl_t& c) const override;
  int vector_motion(mc_ctrl_t& c, int on) override;
  int get_vector_motion(mc_ctrl_t& c, int* on) override;
  int queue_joystick(mc_ctrl_t& c, int axis, int operation) override;
  int delay_motion(mc_ctrl_t& c, int start) override;
  int get_delay_motion(mc_ctrl_t& c, int* collecting) override;
  int home_axes(mc_ctrl_t& c, const int* axes, int count) override;
  int cancel_delayed_motion(mc_ctrl_t& c) override;
  int enable_auto_clamp(mc_ctrl_t& c) override;
  int disable_auto_clamp(mc_ctrl_t& c) override;
  int enable_auto_focus(mc_ctrl_t& c) override;
  int disable_auto_focus(mc_ctrl_t& c) override;
  int auto_focus_zero_set(mc_ctrl_t& c) override;
  int auto_focus_zero_clear(mc_ctrl_t& c) override;
  int is_auto_focus_enabled(mc_ctrl_t& c, int* yes) override;
  int is_auto_focus_zero_set(mc_ctrl_t& c, int* yes) override;
  int is_stage_clamped(mc_ctrl_t& c, int* yes) override;
  int num_axes(const mc_ctrl_t& c) const override;
  int supports_ext_closed_loop(mc_ctrl_t& c, int axis, int* yes) override;
  int get_ext_closed_loop(mc_ctrl_t& c, int axis, int* on) override;
  int set_ext_closed_loop(mc_ctrl_t& c, int axis, int on) override;
  int amplifier_fault(mc_ctrl_t& c, int axis, int* fault) override;
  int align_view_indicator(mc_ctrl_t& c, int on) override;
  int close(mc_ctrl_t& c) override;
  int open(mc_ctrl_t& c, const char* name, int option1, int option2, int* result,
           int* done) override;
  int recover(mc_ctrl_t& c) override;
};
