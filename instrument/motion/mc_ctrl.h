// The motion controller record and the driver interface the axis layer
// dispatches through.
//
// One controller record per instrument, owned by its system information
// record (sysInfo_t::motionCtrlInfo). It keeps eight axis entries with the
// state the axis layer and the drivers share, the controller-wide state,
// the configuration read from the configuration file, and the driver of
// its kind.
//
// A driver is a class derived from McDriver overriding the entries its
// controller fills. The base class is the reset table: every entry answers
// ERR_MC_NOT_AVAIL, except the event pump (nothing), the kind (0) and the
// number of axes (8). Entry numbers stay in the comments, since logs and
// the drivers' documentation refer to them.
//
// A record is used by one thread at a time, except that the device table's
// worker may poll its communication handle.
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

// Axis numbers with a meaning of their own.
inline constexpr int MC_ALL_AXES = 8;
inline constexpr int MC_CONTROLLER = 9;  // status and error of the controller itself
// Position in counts not known.
inline constexpr int32_t MC_POS_UNKNOWN = 0xFFFFFFF;
// User-unit value not known, and "leave this axis" in mc_points.
inline constexpr double MC_INVALID = FLT_MAX;
// Letter index of a letter the controller has no axis for.
inline constexpr uint16_t MC_NO_AXIS = 0xFFFF;
// Joystick mask of all six axes.
inline constexpr uint8_t MC_JOY_ALL = '?';

// Driver kinds.
enum : int32_t { MC_KIND_NONE = 0, MC_KIND_SERIAL = 1, MC_KIND_PMAC = 2, MC_KIND_WRAPPER = 3 };
// Controller states.
enum : int32_t { MC_STATE_NORMAL = 0, MC_STATE_RESET = 1, MC_STATE_ESTOP = 2 };
// Move modes.
enum : int32_t { MC_MODE_UNKNOWN = -1, MC_MODE_RELATIVE = 0, MC_MODE_ABSOLUTE = 1 };
// Event kinds of entry 22.
enum : int32_t {
  MC_EVENT_NONE = 0, MC_EVENT_POSITION = 1, MC_EVENT_FKEY = 2, MC_EVENT_RESET = 3,
  MC_EVENT_ESTOP = 5
};

struct mc_axis_t {
  char letter = 0;
  uint8_t active = 0;
  double stepsPerRev = 0, encSteps = 0, pitch = 0;
  int32_t homeType = 0;
  double travelMin = 0, travelMax = 0;
  double homePosOffset = 0;
  int32_t moveMode = MC_MODE_UNKNOWN;
  uint8_t joyOn = 0;
  uint8_t homed = 0;
  uint8_t moving = 0;
  int32_t target = MC_POS_UNKNOWN;  // counts
  double lastReported = MC_INVALID;
  double backlash = 0;  // microns
  double homeOffset = 0;
  uint8_t homeOffsetSet = 0;
  uint8_t extClosedLoop = 0;
  uint8_t posReport = 0;
  int32_t accel = 0, velocity = 0;  // as last set
  // External closed loop: the amplifier's last status word and maker's
  // status with when they were read, whether it holds a found home, and
  // when the current in-position wait began (-1: none).
  uint32_t ampStatus = 0, ampManufacturer = 0;
  int64_t ampStatusMs = 0;
  uint8_t homeOk = 0;
  int64_t inPosStartMs = -1;
  // Maps a position in user units through the axis's compensation table;
  // null when the axis has none. False when the value is outside the table.
  bool (*compensate)(const mc_ctrl_t& ctrl, int axis, double in, double* out) = nullptr;
};

// A stack of saved joystick masks or position-report flags.
struct mc_stack_t {
  std::vector<int32_t> items;  // its size is the stack's size
  int32_t top = -1;            // -1: empty
};

// The entries of a controller driver. `axis` is 0..7, or MC_ALL_AXES, or
// MC_CONTROLLER where an entry says so.
class McDriver {
 public:
  virtual ~McDriver() = default;

  // 1: one value of the axis's configuration.
  virtual int get_axis_config(mc_ctrl_t& c, int axis, int32_t* value);
  // 2, 3, 4
  virtual int set_accel(mc_ctrl_t& c, int axis, int32_t accel);
  virtual int set_velocity(mc_ctrl_t& c, int axis, int32_t velocity);
  virtual int set_ss_velocity(mc_ctrl_t& c, int axis, int32_t velocity);
  // 5: MC_MODE_RELATIVE or MC_MODE_ABSOLUTE.
  virtual int set_mode(mc_ctrl_t& c, int axis, int32_t mode);
  // 6, 7
  virtual int enable_fkeys(mc_ctrl_t& c);
  virtual int disable_fkeys(mc_ctrl_t& c);
  // 8, 9: an axis or MC_ALL_AXES.
  virtual int enable_joystick(mc_ctrl_t& c, int axis);
  virtual int disable_joystick(mc_ctrl_t& c, int axis);
  // 10, 11
  virtual int enable_pos_report(mc_ctrl_t& c);
  virtual int disable_pos_report(mc_ctrl_t& c);
  // 12: a distance or position in user units, as the axis's mode says.
  virtual int move(mc_ctrl_t& c, int axis, double value);
  // 14
  virtual int stop(mc_ctrl_t& c, int axis);
  // 15, 16: for MC_ALL_AXES the eight values of all axes, else one value in
  // values[0].
  virtual int get_status(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
  virtual int get_error(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]);
  // 17: positions in counts (MC_POS_UNKNOWN where not known), laid out as
  // the statuses.
  virtual int get_positions(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]);
  // 18: stores the firmware version in the record.
  virtual int get_revision(mc_ctrl_t& c);
  // 19: the label of one function key.
  virtual int fkey_label(mc_ctrl_t& c, int key, const char* label);
  // 20: Z homing for a stage number.
  virtual int z_home(mc_ctrl_t& c, int32_t stage);
  // 21
  virtual int find_home(mc_ctrl_t& c, int axis);
  // 22: one event: its kind and, for a function key, the key.
  virtual int get_event(mc_ctrl_t& c, int32_t* kind, int32_t* key);
  // 23: reads the events waiting; run by the client after the device table
  // reported the controller.
  virtual void event_pump(mc_ctrl_t& c);
  // 24: the configuration the controller holds: its name and two numbers.
  virtual int get_config(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]);
  // 25: refreshes the axis's homed flag.
  virtual int home_state(mc_ctrl_t& c, int axis);
  // 26: position reports of one axis (or all) on or off.
  virtual int axis_pos_report(mc_ctrl_t& c, int axis, uint8_t on);
  // 27: MC_KIND_*.
  virtual int kind(const mc_ctrl_t& c) const;
  // 28, 29
  virtual int vector_motion(mc_ctrl_t& c, int on);
  virtual int get_vector_motion(mc_ctrl_t& c, int* on);
  // 30: (axis, 0) queue an enable, (axis, 1) a disable; (0, 2) executes the
  // queue, (0, 3) clears it.
  virtual int queue_joystick(mc_ctrl_t& c, int axis, int operation);
  // 31, 32: 1 starts collecting moves, 0 executes them.
  virtual int delay_motion(mc_ctrl_t& c, int start);
  virtual int get_delay_motion(mc_ctrl_t& c, int* collecting);
  // 33: homes the listed axes in order.
  virtual int home_axes(mc_ctrl_t& c, const int* axes, int count);
  // 34
  virtual int cancel_delayed_motion(mc_ctrl_t& c);
  // 37-40
  virtual int enable_auto_clamp(mc_ctrl_t& c);
  virtual int disable_auto_clamp(mc_ctrl_t& c);
  virtual int enable_auto_focus(mc_ctrl_t& c);
  virtual int disable_auto_focus(mc_ctrl_t& c);
  // 41-45
  virtual int auto_focus_zero_set(mc_ctrl_t& c);
  virtual int auto_focus_zero_clear(mc_ctrl_t& c);
  virtual int is_auto_focus_enabled(mc_ctrl_t& c, int* yes);
  virtual int is_auto_focus_zero_set(mc_ctrl_t& c, int* yes);
  virtual int is_stage_clamped(mc_ctrl_t& c, int* yes);
  // 46
  virtual int num_axes(const mc_ctrl_t& c) const;
  // 47-50: the axis's external closed loop.
  virtual int supports_ext_closed_loop(mc_ctrl_t& c, int axis, int* yes);
  virtual int get_ext_closed_loop(mc_ctrl_t& c, int axis, int* on);
  virtual int set_ext_closed_loop(mc_ctrl_t& c, int axis, int on);
  virtual int amplifier_fault(mc_ctrl_t& c, int axis, int* fault);
  // 51
  virtual int align_view_indicator(mc_ctrl_t& c, int on);
  // 52, 53, 54: close, open (a path or device name and two options; the
  // result and a done flag written back), recover.
  virtual int close(mc_ctrl_t& c);
  virtual int open(mc_ctrl_t& c, const char* name, int option1, int option2, int* result,
                   int* done);
  virtual int recover(mc_ctrl_t& c);
};

struct mc_ctrl_t {
  // First, where the device table and the wrapper library look for it.
  sio_port_t port;
  int32_t kind = MC_KIND_NONE;
  mc_axis_t axes[MC_AXES];
  uint16_t fwMajor = 0, fwMinor = 0;
  // Axis index of X (or r without an X), Y, Z, R, P, T, A, a, B, b.
  uint16_t xAxis = MC_NO_AXIS, yAxis = MC_NO_AXIS, zAxis = MC_NO_AXIS, rAxis = MC_NO_AXIS,
           pAxis = MC_NO_AXIS, tAxis = MC_NO_AXIS, aAxis = MC_NO_AXIS, aLowAxis = MC_NO_AXIS,
           bAxis = MC_NO_AXIS, bLowAxis = MC_NO_AXIS;
  uint8_t joyMask = 0;
  uint8_t posReport = 0;
  int64_t posReportOnMs = 0;  // u_ticks_ms when reports were switched on
  mc_stack_t joyStack, posReportStack;
  int32_t state = MC_STATE_NORMAL;
  int32_t pollPauseMs = 5;
  int32_t retryPauseMs = 100;
  mc_config_t config;
  std::unique_ptr<McDriver> driver = std::make_unique<McDriver>();
  sysInfo_t* info = nullptr;
  // Device table entry: the handle the controller registered under.
  std::intptr_t devHandle = -1;
};

// Puts the record back as new, with the reset driver; `info` is kept.
void mc_ctrl_reset(mc_ctrl_t& c);
