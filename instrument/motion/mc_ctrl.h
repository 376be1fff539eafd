/// @file
/// The motion controller record and the driver interface the axis layer
/// dispatches through.
///
/// One controller record per instrument, owned by its system information
/// record (sysInfo_t::motionCtrlInfo). It keeps eight axis entries with the
/// state the axis layer and the drivers share, the controller-wide state,
/// the configuration read from the configuration file, and the driver of
/// its kind.
///
/// A driver is a class derived from McDriver overriding the entries its
/// controller fills. The base class is the reset table: every entry answers
/// ERR_MC_NOT_AVAIL, except the event pump (nothing), the kind (0) and the
/// number of axes (8). Entry numbers stay in the comments, since logs and
/// the drivers' documentation refer to them.
///
/// A record is used by one thread at a time, except that the device table's
/// worker may poll its communication handle.
#pragma once

#include <cfloat>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/motion/mc_config.h"
#include "instrument/serial/serial_port.h"

struct sysInfo_t;
struct mc_ctrl_t;

/// @name Axis numbers with a meaning of their own
///@{
inline constexpr int MC_ALL_AXES = 8;    ///< all axes
inline constexpr int MC_CONTROLLER = 9;  ///< status and error of the controller itself
///@}
/// Position in counts not known.
inline constexpr int32_t MC_POS_UNKNOWN = 0xFFFFFFF;
/// User-unit value not known, and "leave this axis" in mc_points.
inline constexpr double MC_INVALID = FLT_MAX;
/// Letter index of a letter the controller has no axis for.
inline constexpr uint16_t MC_NO_AXIS = 0xFFFF;
/// Joystick mask of all six axes.
inline constexpr uint8_t MC_JOY_ALL = '?';

/// Driver kinds.
/// @var MC_KIND_NONE
/// No driver: the reset table.
/// @var MC_KIND_SERIAL
/// The serial controller (NovaDriver).
/// @var MC_KIND_PMAC
/// The PMAC controller (PmacDriver).
/// @var MC_KIND_WRAPPER
/// A controller behind the motion wrapper library (WrapperDriver).
enum : int32_t { MC_KIND_NONE = 0, MC_KIND_SERIAL = 1, MC_KIND_PMAC = 2, MC_KIND_WRAPPER = 3 };
/// Controller states.
/// @var MC_STATE_NORMAL
/// Ready.
/// @var MC_STATE_RESET
/// The controller needs a reset.
/// @var MC_STATE_ESTOP
/// The emergency stop is on.
enum : int32_t { MC_STATE_NORMAL = 0, MC_STATE_RESET = 1, MC_STATE_ESTOP = 2 };
/// Move modes.
/// @var MC_MODE_UNKNOWN
/// Not known yet.
/// @var MC_MODE_RELATIVE
/// Moves are distances.
/// @var MC_MODE_ABSOLUTE
/// Moves are positions.
enum : int32_t { MC_MODE_UNKNOWN = -1, MC_MODE_RELATIVE = 0, MC_MODE_ABSOLUTE = 1 };
/// Event kinds of entry 22.
/// @var MC_EVENT_NONE
/// No event waiting.
/// @var MC_EVENT_POSITION
/// A position report.
/// @var MC_EVENT_FKEY
/// A function key, whose number comes with it.
/// @var MC_EVENT_RESET
/// The controller needs a reset.
/// @var MC_EVENT_ESTOP
/// The emergency stop.
enum : int32_t {
  MC_EVENT_NONE = 0,
  MC_EVENT_POSITION = 1,
  MC_EVENT_FKEY = 2,
  MC_EVENT_RESET = 3,
  MC_EVENT_ESTOP = 5
};

/// One axis of the controller: its settings taken from the configuration and the state the
/// axis layer and the drivers share.
struct mc_axis_t {
  char letter = 0;     ///< the axis's name (mc_axis_config_t::name); 0 when unnamed
  uint8_t active = 0;  ///< 1 when the axis is defined
  /// @var stepsPerRev
  /// Motor steps per revolution.
  /// @var encSteps
  /// Encoder steps, as the configuration gives them.
  /// @var pitch
  /// Revolutions per inch (pitch or gear ratio); the wrapper driver keeps counts per user
  /// unit here.
  double stepsPerRev = 0, encSteps = 0, pitch = 0;
  int32_t homeType = 0;  ///< the configuration's home type; 0: the axis has no home
  /// @var travelMin
  /// The configuration's travel minimum.
  /// @var travelMax
  /// The configuration's travel maximum.
  double travelMin = 0, travelMax = 0;
  double homePosOffset = 0;            ///< the configuration's home position offset
  int32_t moveMode = MC_MODE_UNKNOWN;  ///< MC_MODE_*, as last set
  uint8_t joyOn = 0;                   ///< 1 while the axis's joystick is enabled
  uint8_t homed = 0;                   ///< 1 once the axis has been homed
  uint8_t moving = 0;                  ///< 1 from a move until the axis is seen stopped
  int32_t target = MC_POS_UNKNOWN;     ///< target of the last absolute move, in counts
  double lastReported = MC_INVALID;    ///< last position report in user units
  double backlash = 0;                 ///< microns
  double homeOffset = 0;               ///< the offset mc_set_home_offset set, in user units
  uint8_t homeOffsetSet = 0;           ///< 1 once mc_set_home_offset has set it
  uint8_t extClosedLoop = 0;           ///< 1 when an amplifier on the CAN network closes the loop
  uint8_t posReport = 0;               ///< 1 while the axis's position reports are on
  /// @var accel
  /// Acceleration in counts, as last set.
  /// @var velocity
  /// Velocity in counts, as last set.
  int32_t accel = 0, velocity = 0;
  /// @var ampStatus
  /// External closed loop: the amplifier's last status word.
  /// @var ampManufacturer
  /// External closed loop: the amplifier's last maker's status.
  uint32_t ampStatus = 0, ampManufacturer = 0;
  int64_t ampStatusMs = 0;    ///< u_ticks_ms when the amplifier's status was read
  uint8_t homeOk = 0;         ///< whether the amplifier holds a found home
  int64_t inPosStartMs = -1;  ///< when the current in-position wait began (-1: none)
  /// Maps a position in user units through the axis's compensation table;
  /// null when the axis has none. False when the value is outside the table.
  bool (*compensate)(const mc_ctrl_t& ctrl, int axis, double in, double* out) = nullptr;
};

/// A stack of saved joystick masks or position-report flags.
struct mc_stack_t {
  std::vector<int32_t> items;  ///< its size is the stack's size
  int32_t top = -1;            ///< -1: empty
};

/// The entries of a controller driver. `axis` is 0..7, or MC_ALL_AXES, or
/// MC_CONTROLLER where an entry says so.
///
/// Every entry of this base class answers ERR_MC_NOT_AVAIL, except event_pump
/// (nothing), kind (MC_KIND_NONE) and num_axes (8).
class McDriver {
 public:
  virtual ~McDriver() = default;

  /// One value of the axis's configuration (entry 1).
  virtual int get_axis_config(mc_ctrl_t& c, int axis, int32_t* value);
  /// Sets the axis's acceleration, in counts (entry 2).
  virtual int set_accel(mc_ctrl_t& c, int axis, int32_t accel);
  /// Sets the axis's velocity, in counts (entry 3).
  virtual int set_velocity(mc_ctrl_t& c, int axis, int32_t velocity);
  /// Sets the axis's start-stop velocity, in counts (entry 4).
  virtual int set_ss_velocity(mc_ctrl_t& c, int axis, int32_t velocity);
  /// Sets the move mode: MC_MODE_RELATIVE or MC_MODE_ABSOLUTE (entry 5).
  virtual int set_mode(mc_ctrl_t& c, int axis, int32_t mode);
  /// Enables the function keys (entry 6).
  virtual int enable_fkeys(mc_ctrl_t& c);
  /// Disables the function keys (entry 7).
  virtual int disable_fkeys(mc_ctrl_t& c);
  /// Enables the joystick of an axis or MC_ALL_AXES (entry 8).
  virtual int enable_joystick(mc_ctrl_t& c, int axis);
  /// Disables the joystick of an axis or MC_ALL_AXES (entry 9).
  virtual int disable_joystick(mc_ctrl_t& c, int axis);
  /// Switches position reports on (entry 10).
  virtual int enable_pos_report(mc_ctrl_t& c);
  /// Switches position reports off (entry 11).
  virtual int disable_pos_report(mc_ctrl_t& c);
  /// Moves by a distance or to a position in user units, as the axis's mode says (entry 12).
  virtual int move(mc_ctrl_t& c, int axis, double value);
  /// Stops an axis (entry 14).
  virtual int stop(mc_ctrl_t& c, int axis);
  /// Statuses: for MC_ALL_AXES the eight values of all axes, else one value in
  /// values[0] (entry 15).
  virtual int get_status(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
  /// Error values, laid out as the statuses (entry 16).
  virtual int get_error(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
  /// Positions in counts (MC_POS_UNKNOWN where not known), laid out as
  /// the statuses (entry 17).
  virtual int get_positions(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]);
  /// Stores the firmware version in the record (entry 18).
  virtual int get_revision(mc_ctrl_t& c);
  /// Sets the label of one function key (entry 19).
  virtual int fkey_label(mc_ctrl_t& c, int key, const char* label);
  /// Z homing for a stage number (entry 20).
  virtual int z_home(mc_ctrl_t& c, int32_t stage);
  /// Homes an axis (entry 21).
  virtual int find_home(mc_ctrl_t& c, int axis);
  /// One event: its kind (MC_EVENT_*) and, for a function key, the key (entry 22).
  virtual int get_event(mc_ctrl_t& c, int32_t* kind, int32_t* key);
  /// Reads the events waiting; run by the client after the device table
  /// reported the controller (entry 23).
  virtual void event_pump(mc_ctrl_t& c);
  /// The configuration the controller holds: its name and two numbers (entry 24).
  virtual int get_config(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]);
  /// Refreshes the axis's homed flag (entry 25).
  virtual int home_state(mc_ctrl_t& c, int axis);
  /// Position reports of one axis (or all) on or off (entry 26).
  virtual int axis_pos_report(mc_ctrl_t& c, int axis, uint8_t on);
  /// The driver's kind, MC_KIND_* (entry 27).
  virtual int kind(const mc_ctrl_t& c) const;
  /// Switches vector motion on or off (entry 28).
  virtual int vector_motion(mc_ctrl_t& c, int on);
  /// Whether vector motion is on (entry 29).
  virtual int get_vector_motion(mc_ctrl_t& c, int* on);
  /// Joystick queue: (axis, 0) queue an enable, (axis, 1) a disable; (0, 2) executes the
  /// queue, (0, 3) clears it (entry 30).
  virtual int queue_joystick(mc_ctrl_t& c, int axis, int operation);
  /// Delayed motion: 1 starts collecting moves, 0 executes them (entry 31).
  virtual int delay_motion(mc_ctrl_t& c, int start);
  /// Whether moves are being collected (entry 32).
  virtual int get_delay_motion(mc_ctrl_t& c, int* collecting);
  /// Homes the listed axes in order (entry 33).
  virtual int home_axes(mc_ctrl_t& c, const int* axes, int count);
  /// Throws the collected moves away (entry 34).
  virtual int cancel_delayed_motion(mc_ctrl_t& c);
  /// Enables the stage's automatic clamp (entry 37).
  virtual int enable_auto_clamp(mc_ctrl_t& c);
  /// Disables the stage's automatic clamp (entry 38).
  virtual int disable_auto_clamp(mc_ctrl_t& c);
  /// Enables autofocus (entry 39).
  virtual int enable_auto_focus(mc_ctrl_t& c);
  /// Disables autofocus (entry 40).
  virtual int disable_auto_focus(mc_ctrl_t& c);
  /// Sets the autofocus zero (entry 41).
  virtual int auto_focus_zero_set(mc_ctrl_t& c);
  /// Clears the autofocus zero (entry 42).
  virtual int auto_focus_zero_clear(mc_ctrl_t& c);
  /// Whether autofocus is enabled (entry 43).
  virtual int is_auto_focus_enabled(mc_ctrl_t& c, int* yes);
  /// Whether the autofocus zero is set (entry 44).
  virtual int is_auto_focus_zero_set(mc_ctrl_t& c, int* yes);
  /// Whether the stage is clamped (entry 45).
  virtual int is_stage_clamped(mc_ctrl_t& c, int* yes);
  /// The number of axes (entry 46).
  virtual int num_axes(const mc_ctrl_t& c) const;
  /// Whether the axis supports an external closed loop (entry 47).
  virtual int supports_ext_closed_loop(mc_ctrl_t& c, int axis, int* yes);
  /// Whether the axis's external closed loop is on (entry 48).
  virtual int get_ext_closed_loop(mc_ctrl_t& c, int axis, int* on);
  /// Switches the axis's external closed loop on or off (entry 49).
  virtual int set_ext_closed_loop(mc_ctrl_t& c, int axis, int on);
  /// Whether the amplifier of the axis's external closed loop is faulted (entry 50).
  virtual int amplifier_fault(mc_ctrl_t& c, int axis, int* fault);
  /// Switches the align-view indicator on or off (entry 51).
  virtual int align_view_indicator(mc_ctrl_t& c, int on);
  /// Closes the controller (entry 52).
  virtual int close(mc_ctrl_t& c);
  /// Opens the controller: a path or device name and two options; the
  /// result and a done flag written back (entry 53).
  virtual int open(mc_ctrl_t& c, const char* name, int option1, int option2, int* result,
                   int* done);
  /// Recovers the communication with the controller (entry 54).
  virtual int recover(mc_ctrl_t& c);
};

/// The motion controller record: one per instrument, owned by its system information record.
struct mc_ctrl_t {
  /// The communication port. First, where the device table and the wrapper library look
  /// for it.
  sio_port_t port;
  int32_t kind = MC_KIND_NONE;  ///< the driver's kind, MC_KIND_*
  mc_axis_t axes[MC_AXES];      ///< the axes, by axis number
  /// @var fwMajor
  /// The controller's firmware version, major part (see McDriver::get_revision).
  /// @var fwMinor
  /// The controller's firmware version, minor part.
  uint16_t fwMajor = 0, fwMinor = 0;
  /// @var xAxis
  /// Axis index of X (or r without an X); MC_NO_AXIS when there is none, as for the others.
  /// @var yAxis
  /// Axis index of Y.
  /// @var zAxis
  /// Axis index of Z.
  /// @var rAxis
  /// Axis index of R.
  /// @var pAxis
  /// Axis index of P.
  /// @var tAxis
  /// Axis index of T.
  /// @var aAxis
  /// Axis index of A.
  /// @var aLowAxis
  /// Axis index of a.
  /// @var bAxis
  /// Axis index of B.
  /// @var bLowAxis
  /// Axis index of b.
  uint16_t xAxis = MC_NO_AXIS, yAxis = MC_NO_AXIS, zAxis = MC_NO_AXIS, rAxis = MC_NO_AXIS,
           pAxis = MC_NO_AXIS, tAxis = MC_NO_AXIS, aAxis = MC_NO_AXIS, aLowAxis = MC_NO_AXIS,
           bAxis = MC_NO_AXIS, bLowAxis = MC_NO_AXIS;
  uint8_t joyMask = 0;        ///< the axes whose joystick is enabled, a bit each; MC_JOY_ALL: all
  uint8_t posReport = 0;      ///< 1 while position reports are on
  int64_t posReportOnMs = 0;  ///< u_ticks_ms when reports were switched on
  /// @var joyStack
  /// Saved joystick masks (mc_push_joystick, mc_pop_joystick).
  /// @var posReportStack
  /// Saved position-report flags (mc_push_pos_report, mc_pop_pos_report).
  mc_stack_t joyStack, posReportStack;
  int32_t state = MC_STATE_NORMAL;  ///< MC_STATE_*
  int32_t pollPauseMs = 5;          ///< pause between status polls while waiting, ms
  int32_t retryPauseMs = 100;       ///< pause before a query is retried, ms
  mc_config_t config;               ///< the configuration read from the configuration file
  /// The driver of the controller's kind; the reset driver (McDriver) until one is chosen.
  std::unique_ptr<McDriver> driver = std::make_unique<McDriver>();
  sysInfo_t* info = nullptr;  ///< the system information record that owns this one; not owned
  /// Device table entry: the handle the controller registered under.
  std::intptr_t devHandle = -1;
};

/// Puts the record back as new, with the reset driver; `info` is kept.
void mc_ctrl_reset(mc_ctrl_t& c);
