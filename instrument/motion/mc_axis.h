// The axis layer: the one interface through which the rest of the system
// moves stages. It sets the controller up from the calibration's motion
// settings, dispatches every operation through the controller's driver,
// converts between user units (inches, degrees for R, P and T) and
// controller counts, and keeps the joystick and position-report states on
// stacks so that a long operation can switch them off and restore them.
//
// Every operation returns an error code; a failed one logs its name and the
// error name. A controller record is used by one thread at a time.
#pragma once

#include <cstdint>

#include "instrument/motion/mc_ctrl.h"

struct sysInfo_t;

// ---- set-up
// Closes an open controller, creates the record if needed and runs mc_init
// with the calibration's configuration file and device; homes the axes that
// must be homed. On failure the record is closed and freed.
int mc_setup(sysInfo_t* info);
// Selects the driver by the device name, opens the controller, reads and
// checks its configuration.
int mc_init(mc_ctrl_t& c, const char* config_path, const char* device);
// Closes the controller (entry 52), out of the device table first.
int mc_close(mc_ctrl_t& c);
// The driver kind a device name selects.
int32_t mc_driver_kind_for(const char* device);
// Finds the axis of each letter.
void mc_find_letter_axes(mc_ctrl_t& c);
// No controller: ERR_MC_NOT_AVAIL; from firmware 2.3 on, a controller that
// needs a reset, has its kill switch on, or is in another bad state.
int mc_check_controller(const mc_ctrl_t* c);
// Features that depend on the serial controller's firmware; the other
// drivers have them all.
enum class McFeature {
  pos_report,       // PE and PD (0.4)
  home_state,       // HS and ZH, read at start-up (2.0)
  axis_pos_report,  // AP (2.1)
  state_check,      // reset and emergency-stop states kept (2.3)
  count
};
bool mc_firmware_has(const mc_ctrl_t& c, McFeature feature);

// ---- conversions
// Counts per user unit of the axis (steps per revolution x encoder steps x
// pitch, per degree for R, P and T); 0 for an axis that is not there.
double mc_axis_factor(const mc_ctrl_t& c, int axis);
// User units to counts, rounded half away from zero. ERR_MC_RANGE when the
// count is not finite or does not fit 32 bits; an inactive axis or one of 8
// or more gives 0 counts.
int mc_to_counts(const mc_ctrl_t& c, int axis, double value, int32_t* counts);
// Counts to user units, with compensation and offsets; MC_INVALID when the
// factor is 0 or the compensation fails.
double mc_to_user(const mc_ctrl_t& c, int axis, int32_t counts);
// Sends the velocity in user units per second (entry 3); the velocity the
// controller will really run at comes back in *actual.
int mc_set_lin_velocity(mc_ctrl_t& c, int axis, double velocity, double* actual);

// ---- joystick and position-report stacks
int mc_push_joystick(mc_ctrl_t& c, uint8_t mask);
int mc_pop_joystick(mc_ctrl_t& c);
int mc_push_pos_report(mc_ctrl_t& c, int on);
int mc_pop_pos_report(mc_ctrl_t& c);
// Enables the joysticks of the axes whose flag is set.
int mc_restore_joystick(mc_ctrl_t& c, const uint8_t flags[MC_AXES]);

// ---- moves, waits, positions
// Moves the axes whose value is not MC_INVALID.
int mc_points(mc_ctrl_t& c, const double values[MC_AXES]);
int mc_point(mc_ctrl_t& c, int axis, double value);
int mc_coordinate(mc_ctrl_t& c, int axis1, double value1, int axis2, double value2);
// Waits for an axis, or MC_ALL_AXES, to stop; the abort hook may end it.
int mc_wait_for_stop(mc_ctrl_t& c, int axis);
// Positions in user units, MC_INVALID where not known.
int mc_get_pos(mc_ctrl_t& c, int axis, double values[MC_AXES]);
int mc_get_x_pos(mc_ctrl_t& c, double* value);
int mc_get_y_pos(mc_ctrl_t& c, double* value);
int mc_get_z_pos(mc_ctrl_t& c, double* value);
int mc_get_pitch_pos(mc_ctrl_t& c, double* value);
int mc_get_roll_pos(mc_ctrl_t& c, double* value);

// ---- homing
int mc_set_home_offset(mc_ctrl_t& c, int axis, double offset);
// Makes the current Z position read 0.
int mc_set_focus_zero(mc_ctrl_t& c);
int mc_smart_z_home(sysInfo_t* info, mc_ctrl_t& c);

// ---- texts and codes
const char* mc_status_text(int32_t status, int32_t error);
// The error code of an axis error value with a meaning of its own (limit,
// Z stop, kill switch); 0 for the others.
int mc_axis_error_code(int32_t error);
