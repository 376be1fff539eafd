/// @file
/// The axis layer: the one interface through which the rest of the system
/// moves stages. It sets the controller up from the calibration's motion
/// settings, dispatches every operation through the controller's driver,
/// converts between user units (inches, degrees for R, P and T) and
/// controller counts, and keeps the joystick and position-report states on
/// stacks so that a long operation can switch them off and restore them.
///
/// Every operation returns an error code; a failed one logs its name and the
/// error name. A controller record is used by one thread at a time.
#pragma once

#include <cstdint>

#include "instrument/motion/mc_ctrl.h"

struct sysInfo_t;

// ---- set-up
/// Closes an open controller, creates the record if needed and runs mc_init
/// with the calibration's configuration file and device; homes the axes that
/// must be homed. On failure the record is closed and freed. The record is
/// owned by `info` (sysInfo_t::motionCtrlInfo). ERR_SYS_INFO_NOT_AVAIL for a
/// null record, ERR_INVALID_PARAM without a configuration file or device name,
/// ERR_CANT_READ_FILE when the configuration file cannot be found.
int mc_setup(sysInfo_t* info);
/// Selects the driver by the device name, opens the controller, reads and
/// checks its configuration, and sends the function-key labels. A failure
/// before the labels closes the controller again; the failed step's error is
/// returned.
int mc_init(mc_ctrl_t& c, const char* config_path, const char* device);
/// Closes the controller (entry 52), out of the device table first.
int mc_close(mc_ctrl_t& c);
/// The driver kind a device name selects: MC_KIND_WRAPPER for "FATHOMIXX",
/// MC_KIND_PMAC for a name starting with "PMAC", else MC_KIND_SERIAL (case
/// ignored).
int32_t mc_driver_kind_for(const char* device);
/// Finds the axis of each letter (mc_ctrl_t::xAxis and the others); of two
/// axes with one letter the lower index wins.
void mc_find_letter_axes(mc_ctrl_t& c);
/// No controller: ERR_MC_NOT_AVAIL; from firmware 2.3 on, a controller that
/// needs a reset, has its kill switch on, or is in another bad state.
int mc_check_controller(const mc_ctrl_t* c);
/// Features that depend on the serial controller's firmware; the other
/// drivers have them all.
enum class McFeature {
  pos_report,       ///< PE and PD (0.4)
  home_state,       ///< HS and ZH, read at start-up (2.0)
  axis_pos_report,  ///< AP (2.1)
  state_check,      ///< reset and emergency-stop states kept (2.3)
  count             ///< the number of features
};
/// True when the controller has the feature: always for drivers other than
/// the serial one, else from its firmware version.
bool mc_firmware_has(const mc_ctrl_t& c, McFeature feature);

// ---- conversions
/// Counts per user unit of the axis (steps per revolution x encoder steps x
/// pitch, per degree for R, P and T); 0 for an axis that is not there.
double mc_axis_factor(const mc_ctrl_t& c, int axis);
/// User units to counts, rounded half away from zero. ERR_MC_RANGE when the
/// count is not finite or does not fit 32 bits; an inactive axis or one of 8
/// or more gives 0 counts.
int mc_to_counts(const mc_ctrl_t& c, int axis, double value, int32_t* counts);
/// Counts to user units, with compensation and offsets; MC_INVALID when the
/// factor is 0 or the compensation fails.
double mc_to_user(const mc_ctrl_t& c, int axis, int32_t counts);
/// Sends the velocity in user units per second (entry 3); the velocity the
/// controller will really run at comes back in *actual (may be null).
/// ERR_MC_INVALID_AXIS, ERR_MC_INVALID_CONFIG when the axis's factor is 0.
int mc_set_lin_velocity(mc_ctrl_t& c, int axis, double velocity, double* actual);

// ---- joystick and position-report stacks
/// Saves the joystick mask on its stack and applies `mask` (a bit per axis,
/// or MC_JOY_ALL). ERR_NO_MEM when the stack cannot grow.
int mc_push_joystick(mc_ctrl_t& c, uint8_t mask);
/// Restores the joystick mask saved last; 0 and nothing done on an empty
/// stack (logged).
int mc_pop_joystick(mc_ctrl_t& c);
/// Saves the position-report flag on its stack and switches reports on or
/// off. ERR_NO_MEM when the stack cannot grow.
int mc_push_pos_report(mc_ctrl_t& c, int on);
/// Restores the position-report flag saved last; 0 and nothing done on an
/// empty stack (logged).
int mc_pop_pos_report(mc_ctrl_t& c);
/// Enables the joysticks of the axes whose flag is set.
int mc_restore_joystick(mc_ctrl_t& c, const uint8_t flags[MC_AXES]);

// ---- moves, waits, positions
/// Moves the axes whose value is not MC_INVALID, together, taking up each
/// axis's backlash. ERR_MC_AXIS_INACTIVE, ERR_MC_MISC for an axis under
/// joystick control; in absolute mode ERR_MC_NO_HOME for an axis not homed
/// and ERR_MC_RANGE for a position outside its travel.
int mc_points(mc_ctrl_t& c, const double values[MC_AXES]);
/// Moves one axis, as mc_points; ERR_MC_INVALID_AXIS for no such axis.
int mc_point(mc_ctrl_t& c, int axis, double value);
/// Moves two axes together, as mc_points; ERR_MC_INVALID_AXIS for no such
/// axis.
int mc_coordinate(mc_ctrl_t& c, int axis1, double value1, int axis2, double value2);
/// Waits for an axis, or MC_ALL_AXES, to stop; the abort hook may end it
/// (ERR_FELBRIN_ABORTED, after the axes are stopped). ERR_MC_KILL_SWITCH
/// when the controller reports it.
int mc_wait_for_stop(mc_ctrl_t& c, int axis);
/// Positions in user units, MC_INVALID where not known: of all axes for
/// MC_ALL_AXES, else of the one axis, in its own place. For one axis
/// ERR_MC_INVALID_AXIS, ERR_MC_AXIS_INACTIVE, ERR_MC_NO_HOME, and
/// ERR_MC_GET_POS when its position is not known.
int mc_get_pos(mc_ctrl_t& c, int axis, double values[MC_AXES]);
/// The X axis's position in user units; MC_INVALID on failure.
/// ERR_MC_INVALID_AXIS without the axis, ERR_MC_AXIS_INACTIVE, ERR_MC_NO_HOME.
int mc_get_x_pos(mc_ctrl_t& c, double* value);
/// The Y axis's position, as mc_get_x_pos.
int mc_get_y_pos(mc_ctrl_t& c, double* value);
/// The Z axis's position, as mc_get_x_pos.
int mc_get_z_pos(mc_ctrl_t& c, double* value);
/// The pitch (P) axis's position, as mc_get_x_pos.
int mc_get_pitch_pos(mc_ctrl_t& c, double* value);
/// The roll (R) axis's position, as mc_get_x_pos.
int mc_get_roll_pos(mc_ctrl_t& c, double* value);

// ---- homing
/// Sets the offset, in user units, taken off the axis's positions.
/// ERR_MC_INVALID_AXIS, ERR_MC_AXIS_INACTIVE, ERR_MC_NO_HOME for an axis
/// without a home, ERR_MC_AXIS_NOT_HOMED.
int mc_set_home_offset(mc_ctrl_t& c, int axis, double offset);
/// Makes the current Z position read 0.
int mc_set_focus_zero(mc_ctrl_t& c);
/// Homes Z as the system type wants: the controller's Z homing for the stage
/// number, a home search, or, when Z is homed already, mc_set_focus_zero.
/// ERR_INVALID_PARAM for a null record.
int mc_smart_z_home(sysInfo_t* info, mc_ctrl_t& c);

// ---- texts and codes
/// The text of an axis status value (with its error value for an invalid
/// move); static.
const char* mc_status_text(int32_t status, int32_t error);
/// The error code of an axis error value with a meaning of its own (limit,
/// Z stop, kill switch); 0 for the others.
int mc_axis_error_code(int32_t error);
