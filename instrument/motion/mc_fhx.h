/// @file
/// The wrapper driver: a motion controller reached through the motion wrapper
/// library ("MotionWrapperInterface.dll"; on POSIX hosts the platform's name
/// for it), loaded by name on the first open and bound by name. Each `_fhx`
/// operation calls one wrapper function with the controller's handle and
/// translates the wrapper's result code; a failure logs the wrapper's own
/// error text. The wrapper may share the instrument's CAN bridge (it gets its
/// MAC address) and then passes the CAN PDOs and emergencies on to the CAN
/// event queues, on threads of its own.
///
/// A failed binding leaves nothing loaded; the next open tries again. The
/// binding is process-wide; a controller record is used by one thread at a
/// time, and the device table's worker may ask the library for events
/// (mc_fhx_has_event) while that thread calls it, which the library allows.
#pragma once

#include <cstdint>
#include <string>

#include "instrument/motion/mc_ctrl.h"
#include "instrument/serial/device_table.h"

/// The driver of kind 3; its entries are the operations below. Entries the wrapper has
/// nothing for answer success and set their outputs to 0.
class WrapperDriver : public McDriver {
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

// ---- the operations. Axes are 0..5, or 6 or MC_ALL_AXES for all; an
// inactive axis gives ERR_MC_AXIS_INACTIVE.
/// The wrapper's McDriver::get_axis_config (entry 1): always 1.
int mc_get_axis_config_fhx(mc_ctrl_t& c, int axis, int32_t* value);
/// The wrapper's McDriver::set_accel (entry 2): SetAcceleration_MWI on each axis asked.
int mc_set_accel_fhx(mc_ctrl_t& c, int axis, int32_t accel);
/// The wrapper's McDriver::set_velocity (entry 3): SetVelocity_MWI on each axis asked.
int mc_set_velocity_fhx(mc_ctrl_t& c, int axis, int32_t velocity);
/// The wrapper's McDriver::set_mode (entry 5): SetMoveMode_MWI on each axis asked.
int mc_set_mode_fhx(mc_ctrl_t& c, int axis, int32_t mode);
/// The wrapper's McDriver::enable_joystick (entry 8), then reads back each axis's joystick state
/// into the record.
int mc_enable_joystick_fhx(mc_ctrl_t& c, int axis);
/// The wrapper's McDriver::disable_joystick (entry 9), then reads back each axis's joystick state
/// into the record.
int mc_disable_joystick_fhx(mc_ctrl_t& c, int axis);
/// The wrapper's McDriver::enable_pos_report (entry 10); notes when reports were switched on.
int mc_enable_pos_report_fhx(mc_ctrl_t& c);
/// The wrapper's McDriver::disable_pos_report (entry 11).
int mc_disable_pos_report_fhx(mc_ctrl_t& c);
/// The wrapper's McDriver::move (entry 12) of one axis, in user units: ERR_MC_INVALID_AXIS for all
/// axes, ERR_MC_JOYSTICK_ENABLE while its joystick is on.
int mc_move_fhx(mc_ctrl_t& c, int axis, double value);
/// The wrapper's McDriver::stop (entry 14) of one axis or all.
int mc_stop_fhx(mc_ctrl_t& c, int axis);
/// The wrapper's McDriver::get_status (entry 15); MC_CONTROLLER reads the controller's own status
/// or error, and an axis that is not there reads 4 (unavailable).
int mc_get_status_fhx(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
/// The wrapper's McDriver::get_error (entry 16); MC_CONTROLLER reads the controller's own error,
/// and an axis that is not there reads 0.
int mc_get_error_fhx(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
/// The wrapper's McDriver::get_positions (entry 17) in counts; MC_POS_UNKNOWN for an axis that is
/// not there.
int mc_get_ipos_fhx(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]);
/// The wrapper's McDriver::get_revision (entry 18): the wrapper has no version of its own, so the
/// stored one is logged.
int mc_get_revision_fhx(mc_ctrl_t& c);
/// The wrapper's McDriver::z_home (entry 20): homes the Z axis, whatever the stage
/// (ERR_MC_INVALID_AXIS without one).
int mc_z_home_fhx(mc_ctrl_t& c, int32_t stage);
/// The wrapper's McDriver::find_home (entry 21) of one axis or all: the axes count as not homed
/// and moving.
int mc_find_home_fhx(mc_ctrl_t& c, int axis);
/// The wrapper's McDriver::get_config (entry 24): the wrapper's configuration file as the name
/// (empty when the wrapper cannot tell) and two zeros.
int mc_get_config_fhx(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]);
/// The wrapper's McDriver::home_state (entry 25) of one axis or all.
int mc_home_state_fhx(mc_ctrl_t& c, int axis);
/// The wrapper's McDriver::axis_pos_report (entry 26) of one axis or all.
int mc_axis_pos_report_fhx(mc_ctrl_t& c, int axis, uint8_t on);
/// The wrapper's McDriver::home_axes (entry 33): mc_find_home_fhx on each listed axis in order, up
/// to the first failure.
int mc_home_multiple_axes_fhx(mc_ctrl_t& c, const int* axes, int count);
/// The wrapper's McDriver::supports_ext_closed_loop (entry 47). A wrapper too old for external
/// closed loop answers "no" for an axis without it, and ERR_MC_NOT_SUPPORTED_IN_DLL_VERSION for
/// one with it; the same holds for entries 48 to 50.
int mc_supports_ext_closed_loop_fhx(mc_ctrl_t& c, int axis, int* yes);
/// The wrapper's McDriver::get_ext_closed_loop (entry 48).
int mc_get_ext_closed_loop_fhx(mc_ctrl_t& c, int axis, int* on);
/// The wrapper's McDriver::set_ext_closed_loop (entry 49).
int mc_set_ext_closed_loop_fhx(mc_ctrl_t& c, int axis, int on);
/// The wrapper's McDriver::amplifier_fault (entry 50).
int mc_amplifier_fault_fhx(mc_ctrl_t& c, int axis, int* fault);
/// The wrapper's McDriver::align_view_indicator (entry 51); ERR_MC_NOT_SUPPORTED_IN_DLL_VERSION
/// from a wrapper too old for it.
int mc_set_align_view_indicator_fhx(mc_ctrl_t& c, int on);
/// Binds the library on first use, closes an open controller, opens with
/// the configuration path and the CAN bridge's MAC address (none without a
/// bridge record). Options 0 and 0 are the usual ones. The result and a
/// done flag are written back as well as returned.
int mc_open_comm_fhx(mc_ctrl_t& c, const char* config_path, uint8_t option8, int32_t option32,
                     int* result, int* done);
/// Takes the controller out of the device table, then closes. A closed
/// controller gives 0.
int mc_close_comm_fhx(mc_ctrl_t& c);
/// Fills the axis entries from the wrapper: letter and active flag, pitch
/// as counts per user unit, travel, home type, external closed loop.
int mc_read_config_fhx(mc_ctrl_t& c);

// ---- the device table
/// HasEvent_MWI on the handle; 0 while nothing is bound. For the worker.
int mc_fhx_has_event(dev_handle_t handle, void* owner);
/// Registers the connection kind of a controller record and the kind-3
/// poll with the device table, keeping the kind-2 poll registered.
void mc_fhx_register_hooks();

/// The translation of a wrapper result code into an error code.
int mc_fhx_error(int wrapper_code);
/// True when the library is bound.
bool mc_fhx_bound();
