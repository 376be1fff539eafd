#include "instrument/motion/mc_axis.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/util.h"
#include "instrument/motion/mc_ccl.h"
#include "instrument/motion/mc_fhx.h"
#include "instrument/motion/mc_nova.h"
#include "instrument/motion/mc_pmac.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/device_table.h"

namespace {

constexpr double kMicronsToInches = 3.937007874015748e-5;
constexpr double kRangeSlack = 1e-6;

bool in_range(int axis) { return axis >= 0 && axis < MC_AXES; }
bool is_active(const mc_ctrl_t& c, int axis) { return in_range(axis) && c.axes[axis].active != 0; }
char letter_of(const mc_ctrl_t& c, int axis) {
  return c.axes[axis].letter != 0 ? c.axes[axis].letter : '?';
}

int logged(const char* name, int err) {
  if (err != 0) u_log_fn("%s failed: %s\n", name, err_name(err));
  return err;
}

std::unique_ptr<McDriver> make_driver(int32_t kind) {
  switch (kind) {
    case MC_KIND_SERIAL: return std::make_unique<NovaDriver>();
    case MC_KIND_PMAC: return std::make_unique<PmacDriver>();
    case MC_KIND_WRAPPER: return std::make_unique<WrapperDriver>();
    default: return std::make_unique<McDriver>();
  }
}

// The calibration's backlash of the X, Y and Z stages (microns).
double calibration_backlash(const sysInfo_t* info, char letter) {
  if (info == nullptr) return 0;
  switch (letter) {
    case 'X': return info->xAxisBacklash;
    case 'Y': return info->yAxisBacklash;
    case 'Z': return info->zAxisBacklash;
    default: return 0;
  }
}

void take_configuration(mc_ctrl_t& c) {
  for (int i = 0; i < MC_AXES; ++i) {
    const mc_axis_config_t& a = c.config.axes[i];
    mc_axis_t& ax = c.axes[i];
    ax.letter = a.name;
    ax.active = a.defined != 0 ? 1 : 0;
    ax.stepsPerRev = a.stepsPerRev;
    ax.encSteps = a.encSteps;
    ax.pitch = a.pitchGearRatio;
    ax.homeType = a.homeType;
    ax.homePosOffset = a.travel[0];
    ax.travelMin = a.travel[1];
    ax.travelMax = a.travel[2];
    ax.extClosedLoop = a.canClosedLoop;
    ax.backlash = calibration_backlash(c.info, a.name);
  }
}

int init_steps(mc_ctrl_t& c, const char* config_path, const char* device) {
  McDriver& d = *c.driver;
  int result = 0, done = 0;
  if (c.kind == MC_KIND_WRAPPER) {
    if (const int err = d.open(c, config_path, 0, 0, &result, &done)) return err;
    if (const int err = dev_add_device(DEV_TYPE_MC, c.port.handle, &c)) return err;
    c.devHandle = c.port.handle;
    if (const int err = mc_read_config_fhx(c)) return err;
  } else {
    mc_config_defaults(&c.config);
    if (mc_read_config(config_path, &c.config) != 0) return ERR_MC_CONFIG;
    take_configuration(c);
    if (const int err = d.open(c, device, 0, 0, &result, &done)) return err;
    if (const int err = dev_add_device(DEV_TYPE_MC, c.port.handle, &c)) return err;
    c.devHandle = c.port.handle;
  }

  int32_t values[MC_AXES] = {};
  if (const int err = d.get_error(c, MC_CONTROLLER, values)) return err;
  if (values[0] == 21) {
    c.state = MC_STATE_ESTOP;
    return ERR_MC_KILL_SWITCH;
  }
  if (const int err = d.enable_joystick(c, MC_ALL_AXES)) return err;
  if (c.kind == MC_KIND_SERIAL || c.kind == MC_KIND_PMAC) {
    std::string name;
    uint16_t numbers[2] = {};
    if (const int err = d.get_config(c, &name, numbers)) return err;
    if (name != c.config.configName) {
      u_log_fn("file name\n");
      return ERR_MC_CONFIG;
    }
    if (numbers[0] != c.config.configNums[0] || numbers[1] != c.config.configNums[1]) {
      u_log_fn("vers number\n");
      return ERR_MC_CONFIG;
    }
    if (const int err = d.get_revision(c)) return err;
  }
  if (const int err = d.enable_joystick(c, MC_ALL_AXES)) return err;
  if (const int err = d.disable_fkeys(c)) return err;
  if (const int err = d.disable_pos_report(c)) return err;
  if (mc_firmware_has(c, McFeature::home_state)) {
    for (int i = 0; i < MC_AXES; ++i) {
      if (!is_active(c, i)) continue;
      if (const int err = d.home_state(c, i)) return err;
    }
  }
  mc_find_letter_axes(c);
  for (int i = 0; i < MC_AXES; ++i) {
    if (!is_active(c, i)) continue;
    c.axes[i].moveMode = MC_MODE_UNKNOWN;
    if (const int err = d.set_mode(c, i, MC_MODE_RELATIVE)) return err;
    if (c.axes[i].extClosedLoop != 0) {
      const int err = mc_ccl_init(c, i);
      if (err != 0 && err != ERR_MC_CAN_CLOSED_LOOP_DMI_INIT) return err;
    }
  }
  if (c.zAxis != MC_NO_AXIS && c.info != nullptr) {
    int yes = 0;
    if (const int err = d.supports_ext_closed_loop(c, c.zAxis, &yes)) return err;
    c.info->zExternalClosedLoop = yes != 0 ? 1 : 0;
  }
  c.pollPauseMs = c.kind == MC_KIND_PMAC ? 60 : 5;
  return 0;
}

// The axes the statuses say are still moving; clears the flag of those
// that have stopped. A stop that is not ordinary is returned as an error.
int settle(mc_ctrl_t& c, int axis, const int32_t status[MC_AXES], bool* moving) {
  McDriver& d = *c.driver;
  mc_axis_t& ax = c.axes[axis];
  const int32_t s = status[axis];
  if (s == 1) {
    *moving = true;
    return 0;
  }
  if (s == 2) {
    if (ax.extClosedLoop == 0) {
      ax.moving = 0;
      return 0;
    }
    int supported = 0;
    d.supports_ext_closed_loop(c, axis, &supported);
    if (supported == 0 || c.kind != MC_KIND_SERIAL) {
      ax.moving = 0;
      return 0;
    }
    uint32_t word = 0, manufacturer = 0;
    if (const int err = mc_ccl_get_amplifier_status(c, axis, &word, &manufacturer)) return err;
    if (mc_ccl_faulted(word, manufacturer)) {
      mc_ccl_set_home_ok(c, axis, 0);
      return ERR_MC_CAN_AMPLIFIER_FAULT;
    }
    int in_position = 0;
    if ((word & 0x0400) != 0 || (mc_ccl_in_position(c, axis, &in_position) == 0 && in_position))
      ax.moving = 0;
    else
      *moving = true;
    return 0;
  }
  int32_t error[MC_AXES] = {};
  if (const int err = d.get_error(c, axis, error)) return err;
  if (const int code = mc_axis_error_code(error[0])) return code;
  u_log_fn("mc_wait_for_stop: axis %d  err = %d\n", axis, static_cast<int>(error[0]));
  u_log_fn("status = %s\n", mc_status_text(s, error[0]));
  if (ax.extClosedLoop != 0) {
    uint32_t word = 0, manufacturer = 0;
    if (mc_ccl_get_amplifier_status(c, axis, &word, &manufacturer) == 0 &&
        mc_ccl_faulted(word, manufacturer))
      return ERR_MC_CAN_AMPLIFIER_FAULT;
  }
  return ERR_MC_MISC;
}

struct Letter {
  char name;
  const char* word;  // in messages
  uint16_t mc_ctrl_t::*axis;
};

int letter_pos(mc_ctrl_t& c, const Letter& l, const char* fn, double* value) {
  *value = MC_INVALID;
  const uint16_t axis = c.*l.axis;
  if (axis == MC_NO_AXIS) {
    u_log_fn("%s: %s axis does not exist\n", fn, l.word);
    return ERR_MC_INVALID_AXIS;
  }
  if (!is_active(c, axis)) {
    u_log_fn("%s: %s axis is inactive\n", fn, l.word);
    return ERR_MC_AXIS_INACTIVE;
  }
  if (c.axes[axis].homed == 0) {
    u_log_fn("%s: %s axis does not have a home position\n", fn, l.word);
    return ERR_MC_NO_HOME;
  }
  double values[MC_AXES];
  const int err = mc_get_pos(c, axis, values);
  if (err == 0) *value = values[axis];
  return err;
}

}  // namespace

int32_t mc_driver_kind_for(const char* device) {
  std::string upper = device != nullptr ? device : "";
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (upper == "FATHOMIXX") return MC_KIND_WRAPPER;
  if (upper.rfind("PMAC", 0) == 0) return MC_KIND_PMAC;
  return MC_KIND_SERIAL;
}

void mc_find_letter_axes(mc_ctrl_t& c) {
  struct Slot {
    char letter;
    uint16_t mc_ctrl_t::*axis;
  };
  static constexpr Slot kSlots[] = {
      {'X', &mc_ctrl_t::xAxis},    {'Y', &mc_ctrl_t::yAxis},    {'Z', &mc_ctrl_t::zAxis},
      {'R', &mc_ctrl_t::rAxis},    {'P', &mc_ctrl_t::pAxis},    {'T', &mc_ctrl_t::tAxis},
      {'A', &mc_ctrl_t::aAxis},    {'a', &mc_ctrl_t::aLowAxis}, {'B', &mc_ctrl_t::bAxis},
      {'b', &mc_ctrl_t::bLowAxis},
  };
  for (const Slot& s : kSlots) {
    c.*s.axis = MC_NO_AXIS;
    // Two axes with one letter: the lowest index wins.
    for (int i = 0; i < MC_AXES; ++i) {
      if (c.axes[i].letter == s.letter) {
        c.*s.axis = static_cast<uint16_t>(i);
        break;
      }
    }
  }
  if (c.xAxis == MC_NO_AXIS) {
    for (int i = 0; i < MC_AXES; ++i) {
      if (c.axes[i].letter == 'r') {
        c.xAxis = static_cast<uint16_t>(i);
        break;
      }
    }
  }
}

int mc_init(mc_ctrl_t& c, const char* config_path, const char* device) {
  mc_ctrl_reset(c);
  c.kind = mc_driver_kind_for(device);
  c.driver = make_driver(c.kind);
  // The device table learns a controller's connection kind, and the wrapper's
  // events, from the record.
  mc_fhx_register_hooks();
  const int err = init_steps(c, config_path, device);
  if (err != 0) {
    u_log_fn("mc_init failed: %s\n", err_name(err));
    mc_close(c);
    return err;
  }
  if (c.info != nullptr) {
    for (std::size_t k = 0; k < c.info->fkeyLabels.size(); ++k) {
      if (const int e =
              c.driver->fkey_label(c, static_cast<int>(k) + 1, c.info->fkeyLabels[k].c_str()))
        return logged("mc_init", e);
    }
  }
  return 0;
}

int mc_close(mc_ctrl_t& c) {
  // Out of the device table before the line closes, so that the worker never
  // polls a closed handle.
  if (c.devHandle != -1 && dev_is_registered(c.devHandle)) dev_remove_device(c.devHandle);
  c.devHandle = -1;
  return c.driver->close(c);
}

void McCtrlDelete::close(mc_ctrl_t& c) {
  if (c.driver) (void)mc_close(c);
}

int mc_setup(sysInfo_t* info) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (info->motionCtrlInfo) mc_close(*info->motionCtrlInfo);
  const std::string& config = info->motionCtrl[0];
  const std::string& device = info->motionCtrl[1];
  if (config.empty() || device.empty()) {
    u_log_fn("Missing motion controller config file or device file name\n");
    return ERR_INVALID_PARAM;
  }
  std::string path = config;
  if (config.front() != '/') {
    const char* found = nullptr;
    if (u_find_file(config.c_str(), &found) != 0) {
      u_log_fn("Cannot access motion controller config file %s\n", config.c_str());
      return ERR_CANT_READ_FILE;
    }
    path = found;
  }
  if (!info->motionCtrlInfo) {
    try {
      info->motionCtrlInfo.reset(std::make_unique<mc_ctrl_t>().release());
    } catch (const std::bad_alloc&) {
      return ERR_NO_MEM;
    }
  }
  mc_ctrl_t& c = *info->motionCtrlInfo;
  c.info = info;
  u_log_fn("Initializing motion controller\n");
  u_log_fn("\tConfig file: %s\n", path.c_str());
  u_log_fn("\tDevice file: %s\n", device.c_str());

  int err = mc_init(c, path.c_str(), device.c_str());
  const bool skip_z = sb_system_type_in(info, SB_Z_HOMED_AT_LIMIT_TYPES) &&
                      mc_stage_homes_z_at_limit(info->stageNumber);
  for (int i = 0; err == 0 && i < MC_AXES; ++i) {
    mc_axis_t& ax = c.axes[i];
    if (ax.active == 0) continue;
    const bool is_z = i == c.zAxis;
    if (is_z && info->zAxisCal != 0) ax.encSteps /= info->zAxisCal;
    if (ax.homeType != 5 || (is_z && skip_z)) continue;
    if (ax.homed == 0)
      err = c.driver->find_home(c, i);
    else if (is_z)
      err = mc_set_focus_zero(c);
  }
  for (uint16_t axis : {c.aLowAxis, c.bLowAxis}) {
    if (err == 0 && axis != MC_NO_AXIS) err = c.driver->axis_pos_report(c, axis, 0);
  }
  if (err != 0) {
    mc_close(c);
    info->motionCtrlInfo.reset();
    u_log_fn("mc_setup failed: %s\n", err_name(err));
  }
  return err;
}

int mc_points(mc_ctrl_t& c, const double values[MC_AXES]) {
  McDriver& d = *c.driver;
  double target[MC_AXES];
  for (int i = 0; i < MC_AXES; ++i) {
    target[i] = values[i];
    if (values[i] == MC_INVALID) continue;
    const mc_axis_t& ax = c.axes[i];
    if (ax.active == 0) {
      u_log_fn("mc_points: axis %d (%c) is inactive\n", i, letter_of(c, i));
      return ERR_MC_AXIS_INACTIVE;
    }
    if (ax.joyOn != 0) {
      u_log_fn("mc_points: joystick is ON on axis %d (%c)\n", i, letter_of(c, i));
      return ERR_MC_MISC;
    }
    if (ax.moveMode == MC_MODE_ABSOLUTE) {
      if (ax.homed == 0) {
        u_log_fn("mc_points: no home on axis %d (%c)\n", i, letter_of(c, i));
        return ERR_MC_NO_HOME;
      }
      if (ax.homeType != 5 && ax.travelMin != ax.travelMax &&
          (values[i] < ax.travelMin - kRangeSlack || values[i] > ax.travelMax + kRangeSlack)) {
        u_log_fn("mc_points: axis %d (%c) coord=%s out of range [%s,%s]\n", i, letter_of(c, i),
                 fmt_g_string(values[i]).c_str(), fmt_g_string(ax.travelMin).c_str(),
                 fmt_g_string(ax.travelMax).c_str());
        return ERR_MC_RANGE;
      }
      // A distance is not a place: only positions carry the offsets.
      target[i] += ax.homePosOffset + ax.homeOffset;
    }
  }

  bool overshot[MC_AXES] = {};
  int err = d.delay_motion(c, 1);
  for (int i = 0; err == 0 && i < MC_AXES; ++i) {
    if (values[i] == MC_INVALID) continue;
    const double past = c.axes[i].backlash * kMicronsToInches;
    overshot[i] = past != 0;
    err = d.move(c, i, target[i] + past);
  }
  if (err != 0) {
    d.cancel_delayed_motion(c);
    u_log_fn("mc_points: %s\n", err_name(err));
    return err;
  }
  if ((err = d.delay_motion(c, 0)) == 0) u_sleep_ms(c.pollPauseMs);
  bool any = false;
  for (int i = 0; err == 0 && i < MC_AXES; ++i) {
    if (!overshot[i]) continue;
    any = true;
    if ((err = mc_wait_for_stop(c, i)) != 0) break;
    const double back =
        c.axes[i].moveMode == MC_MODE_ABSOLUTE ? target[i] : -c.axes[i].backlash * kMicronsToInches;
    err = d.move(c, i, back);
  }
  if (err == 0 && any) u_sleep_ms(c.pollPauseMs);
  if (err != 0) u_log_fn("mc_points: %s\n", err_name(err));
  return err;
}

int mc_point(mc_ctrl_t& c, int axis, double value) {
  if (!in_range(axis)) return ERR_MC_INVALID_AXIS;
  double values[MC_AXES];
  std::fill(std::begin(values), std::end(values), MC_INVALID);
  values[axis] = value;
  return mc_points(c, values);
}

int mc_coordinate(mc_ctrl_t& c, int axis1, double value1, int axis2, double value2) {
  if (!in_range(axis1)) {
    u_log_fn("mc_coordinate: axis1=%d does not exist\n", axis1);
    return ERR_MC_INVALID_AXIS;
  }
  if (!in_range(axis2)) {
    u_log_fn("mc_coordinate: axis2=%d does not exist\n", axis2);
    return ERR_MC_INVALID_AXIS;
  }
  double values[MC_AXES];
  std::fill(std::begin(values), std::end(values), MC_INVALID);
  values[axis1] = value1;
  values[axis2] = value2;
  return mc_points(c, values);
}

int mc_wait_for_stop(mc_ctrl_t& c, int axis) {
  if (axis != MC_ALL_AXES) {
    if (!in_range(axis)) return ERR_MC_INVALID_AXIS;
    if (c.axes[axis].active == 0) {
      u_log_fn("mc_wait_for_stop: axis inactive\n");
      return ERR_MC_AXIS_INACTIVE;
    }
    if (c.axes[axis].joyOn != 0) {
      u_log_fn("mc_wait_for_stop: joy on\n");
      return ERR_MC_MISC;
    }
  }
  McDriver& d = *c.driver;
  for (;;) {
    if (const int err = mc_check_controller(&c)) return err;
    int32_t controller[MC_AXES] = {};
    if (const int err = d.get_status(c, MC_CONTROLLER, controller)) return err;
    // A controller that reports the kill switch, by error value or status.
    if (controller[0] == 21 || controller[0] == 7) return ERR_MC_KILL_SWITCH;
    int32_t status[MC_AXES] = {};
    if (const int err = d.get_status(c, MC_ALL_AXES, status)) return err;
    bool moving = false;
    for (int i = 0; i < MC_AXES; ++i) {
      if (axis != MC_ALL_AXES && i != axis) continue;
      const mc_axis_t& ax = c.axes[i];
      if (ax.active == 0 || ax.joyOn != 0 || ax.moving == 0) continue;
      if (const int err = settle(c, i, status, &moving)) return err;
    }
    if (!moving) return 0;
    if (u_abort_fn(nullptr) != 0) {
      d.stop(c, MC_ALL_AXES);
      u_sleep_ms(250);
      return ERR_FELBRIN_ABORTED;
    }
    u_sleep_ms(c.pollPauseMs);
  }
}

int mc_get_pos(mc_ctrl_t& c, int axis, double values[MC_AXES]) {
  std::fill(values, values + MC_AXES, MC_INVALID);
  if (axis != MC_ALL_AXES) {
    if (!in_range(axis)) return ERR_MC_INVALID_AXIS;
    if (c.axes[axis].active == 0) return ERR_MC_AXIS_INACTIVE;
    if (c.axes[axis].homed == 0) return ERR_MC_NO_HOME;
  }
  const int first = axis == MC_ALL_AXES ? 0 : axis;
  const int last = axis == MC_ALL_AXES ? MC_AXES - 1 : axis;
  bool unknown = false;
  for (int i = first; i <= last; ++i) unknown = unknown || c.axes[i].target == MC_POS_UNKNOWN;
  if (unknown) {
    int32_t counts[MC_AXES];
    std::fill(std::begin(counts), std::end(counts), MC_POS_UNKNOWN);
    if (const int err = c.driver->get_positions(c, axis, counts)) return err;
    for (int i = first; i <= last; ++i) {
      const int32_t v = axis == MC_ALL_AXES ? counts[i] : counts[0];
      if (c.axes[i].joyOn == 0) c.axes[i].target = v;
      values[i] = v == MC_POS_UNKNOWN ? MC_INVALID : mc_to_user(c, i, v);
    }
  } else {
    for (int i = first; i <= last; ++i) values[i] = mc_to_user(c, i, c.axes[i].target);
  }
  if (axis != MC_ALL_AXES && values[axis] == MC_INVALID) return ERR_MC_GET_POS;
  return 0;
}

int mc_get_x_pos(mc_ctrl_t& c, double* value) {
  return letter_pos(c, {'X', "X", &mc_ctrl_t::xAxis}, "mc_get_x_pos", value);
}
int mc_get_y_pos(mc_ctrl_t& c, double* value) {
  return letter_pos(c, {'Y', "Y", &mc_ctrl_t::yAxis}, "mc_get_y_pos", value);
}
int mc_get_z_pos(mc_ctrl_t& c, double* value) {
  return letter_pos(c, {'Z', "Z", &mc_ctrl_t::zAxis}, "mc_get_z_pos", value);
}
int mc_get_pitch_pos(mc_ctrl_t& c, double* value) {
  return letter_pos(c, {'P', "Pitch", &mc_ctrl_t::pAxis}, "mc_get_pitch_pos", value);
}
int mc_get_roll_pos(mc_ctrl_t& c, double* value) {
  return letter_pos(c, {'R', "Roll", &mc_ctrl_t::rAxis}, "mc_get_roll_pos", value);
}

int mc_set_home_offset(mc_ctrl_t& c, int axis, double offset) {
  if (!in_range(axis)) return ERR_MC_INVALID_AXIS;
  mc_axis_t& ax = c.axes[axis];
  if (ax.active == 0) return ERR_MC_AXIS_INACTIVE;
  if (ax.homeType == 0) return ERR_MC_NO_HOME;
  if (ax.homed == 0) return ERR_MC_AXIS_NOT_HOMED;
  ax.homeOffset = offset;
  ax.homeOffsetSet = 1;
  return 0;
}

int mc_set_focus_zero(mc_ctrl_t& c) {
  const int z = c.zAxis == MC_NO_AXIS ? MC_AXES : c.zAxis;
  if (!in_range(z)) return ERR_MC_INVALID_AXIS;
  double values[MC_AXES];
  // The position without any offset, so that the new offset makes it 0.
  const double old_offset = c.axes[z].homeOffset;
  c.axes[z].homeOffset = 0;
  int err = mc_get_pos(c, z, values);
  c.axes[z].homeOffset = old_offset;
  if (err == 0) err = mc_set_home_offset(c, z, values[z]);
  return err;
}

int mc_smart_z_home(sysInfo_t* info, mc_ctrl_t& c) {
  if (info == nullptr) {
    u_log_fn("mc_smart_z_home: System info parameter is NULL\n");
    return ERR_INVALID_PARAM;
  }
  const int z = c.zAxis == MC_NO_AXIS ? MC_AXES : c.zAxis;
  int err = 0;
  const int32_t type = info->systemType;
  if ((type >= 4 && type <= 7) || (type >= 11 && type <= 13) || (type >= 19 && type <= 23) ||
      (type >= 27 && type <= 35)) {
    err = c.driver->z_home(c, info->stageNumber);
  } else if (!in_range(z)) {
    // MC_AXES would ask the home search for every axis.
    err = ERR_MC_INVALID_AXIS;
  } else if (type == 17) {
    err = c.driver->find_home(c, z);
  } else if (c.axes[z].homed != 0) {
    err = mc_set_focus_zero(c);
  } else {
    err = c.driver->find_home(c, z);
  }
  // No measured autofocus offset is available yet, so the home offset stays
  // as homing left it.
  if (err != 0) u_log_fn("mc_smart_z_home failed: %s\n", err_name(err));
  return err;
}
