// Every entry of the driver interface that answers a code, called through
// the record's driver with fixed arguments (axis 0 where there is one), so
// that a driver's tests can hold one row per entry. The outputs go to
// `out`: eight values the caller fills with kUntouched first; an entry's
// `outputs` are the first values it may write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "instrument/motion/mc_ctrl.h"

namespace mc_entries {

inline constexpr int32_t kUntouched = 0x5A5A;  // fits the 16-bit configuration numbers too

struct Entry {
  const char* name;
  int (*call)(mc_ctrl_t& c, int32_t out[MC_AXES]);
  int outputs;
};

inline const std::vector<Entry>& all() {
  static const std::vector<Entry> entries = {
      {"get_axis_config", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_axis_config(c, 0, o); }, 1},
      {"set_accel", [](mc_ctrl_t& c, int32_t*) { return c.driver->set_accel(c, 0, 5); }, 0},
      {"set_velocity", [](mc_ctrl_t& c, int32_t*) { return c.driver->set_velocity(c, 0, 5); }, 0},
      {"set_ss_velocity", [](mc_ctrl_t& c, int32_t*) { return c.driver->set_ss_velocity(c, 0, 5); }, 0},
      {"set_mode", [](mc_ctrl_t& c, int32_t*) { return c.driver->set_mode(c, 0, MC_MODE_ABSOLUTE); }, 0},
      {"enable_fkeys", [](mc_ctrl_t& c, int32_t*) { return c.driver->enable_fkeys(c); }, 0},
      {"disable_fkeys", [](mc_ctrl_t& c, int32_t*) { return c.driver->disable_fkeys(c); }, 0},
      {"enable_joystick", [](mc_ctrl_t& c, int32_t*) { return c.driver->enable_joystick(c, 0); }, 0},
      {"disable_joystick", [](mc_ctrl_t& c, int32_t*) { return c.driver->disable_joystick(c, 0); }, 0},
      {"enable_pos_report", [](mc_ctrl_t& c, int32_t*) { return c.driver->enable_pos_report(c); }, 0},
      {"disable_pos_report", [](mc_ctrl_t& c, int32_t*) { return c.driver->disable_pos_report(c); }, 0},
      {"move", [](mc_ctrl_t& c, int32_t*) { return c.driver->move(c, 0, 0.5); }, 0},
      {"stop", [](mc_ctrl_t& c, int32_t*) { return c.driver->stop(c, 0); }, 0},
      {"get_status", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_status(c, 0, o); }, 1},
      {"get_error", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_error(c, 0, o); }, 1},
      {"get_positions", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_positions(c, 0, o); }, 1},
      {"get_revision", [](mc_ctrl_t& c, int32_t*) { return c.driver->get_revision(c); }, 0},
      {"fkey_label", [](mc_ctrl_t& c, int32_t*) { return c.driver->fkey_label(c, 1, "AB"); }, 0},
      {"z_home", [](mc_ctrl_t& c, int32_t*) { return c.driver->z_home(c, 0); }, 0},
      {"find_home", [](mc_ctrl_t& c, int32_t*) { return c.driver->find_home(c, 0); }, 0},
      {"get_event", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_event(c, &o[0], &o[1]); }, 2},
      {"get_config",
       [](mc_ctrl_t& c, int32_t* o) {
         uint16_t numbers[2] = {kUntouched, kUntouched};
         std::string name = "untouched";
         const int err = c.driver->get_config(c, &name, numbers);
         o[0] = numbers[0];
         o[1] = numbers[1];
         if (name != "untouched") o[2] = name.empty() ? 0 : 1;
         return err;
       },
       3},
      {"home_state", [](mc_ctrl_t& c, int32_t*) { return c.driver->home_state(c, 0); }, 0},
      {"axis_pos_report", [](mc_ctrl_t& c, int32_t*) { return c.driver->axis_pos_report(c, 0, 1); }, 0},
      {"vector_motion", [](mc_ctrl_t& c, int32_t*) { return c.driver->vector_motion(c, 1); }, 0},
      {"get_vector_motion", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_vector_motion(c, o); }, 1},
      {"queue_joystick", [](mc_ctrl_t& c, int32_t*) { return c.driver->queue_joystick(c, 0, 3); }, 0},
      {"delay_motion", [](mc_ctrl_t& c, int32_t*) { return c.driver->delay_motion(c, 1); }, 0},
      {"get_delay_motion", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_delay_motion(c, o); }, 1},
      {"home_axes",
       [](mc_ctrl_t& c, int32_t*) {
         const int axes[] = {0};
         return c.driver->home_axes(c, axes, 1);
       },
       0},
      {"cancel_delayed_motion", [](mc_ctrl_t& c, int32_t*) { return c.driver->cancel_delayed_motion(c); }, 0},
      {"enable_auto_clamp", [](mc_ctrl_t& c, int32_t*) { return c.driver->enable_auto_clamp(c); }, 0},
      {"disable_auto_clamp", [](mc_ctrl_t& c, int32_t*) { return c.driver->disable_auto_clamp(c); }, 0},
      {"enable_auto_focus", [](mc_ctrl_t& c, int32_t*) { return c.driver->enable_auto_focus(c); }, 0},
      {"disable_auto_focus", [](mc_ctrl_t& c, int32_t*) { return c.driver->disable_auto_focus(c); }, 0},
      {"auto_focus_zero_set", [](mc_ctrl_t& c, int32_t*) { return c.driver->auto_focus_zero_set(c); }, 0},
      {"auto_focus_zero_clear", [](mc_ctrl_t& c, int32_t*) { return c.driver->auto_focus_zero_clear(c); }, 0},
      {"is_auto_focus_enabled", [](mc_ctrl_t& c, int32_t* o) { return c.driver->is_auto_focus_enabled(c, o); }, 1},
      {"is_auto_focus_zero_set", [](mc_ctrl_t& c, int32_t* o) { return c.driver->is_auto_focus_zero_set(c, o); }, 1},
      {"is_stage_clamped", [](mc_ctrl_t& c, int32_t* o) { return c.driver->is_stage_clamped(c, o); }, 1},
      {"supports_ext_closed_loop", [](mc_ctrl_t& c, int32_t* o) { return c.driver->supports_ext_closed_loop(c, 0, o); }, 1},
      {"get_ext_closed_loop", [](mc_ctrl_t& c, int32_t* o) { return c.driver->get_ext_closed_loop(c, 0, o); }, 1},
      {"set_ext_closed_loop", [](mc_ctrl_t& c, int32_t*) { return c.driver->set_ext_closed_loop(c, 0, 1); }, 0},
      {"amplifier_fault", [](mc_ctrl_t& c, int32_t* o) { return c.driver->amplifier_fault(c, 0, o); }, 1},
      {"align_view_indicator", [](mc_ctrl_t& c, int32_t*) { return c.driver->align_view_indicator(c, 1); }, 0},
      {"close", [](mc_ctrl_t& c, int32_t*) { return c.driver->close(c); }, 0},
      {"open",
       [](mc_ctrl_t& c, int32_t* o) { return c.driver->open(c, "PMAC0", 0, 0, &o[0], &o[1]); }, 2},
      {"recover", [](mc_ctrl_t& c, int32_t*) { return c.driver->recover(c); }, 0},
  };
  return entries;
}

// Runs the entry with untouched outputs; they come back in `out`.
inline int run(const Entry& e, mc_ctrl_t& c, std::vector<int32_t>& out) {
  out.assign(MC_AXES, kUntouched);
  return e.call(c, out.data());
}

// What an entry that has nothing to do leaves: its outputs 0, the rest
// untouched.
inline std::vector<int32_t> neutral(const Entry& e) {
  std::vector<int32_t> out(MC_AXES, kUntouched);
  for (int i = 0; i < e.outputs; ++i) out[static_cast<std::size_t>(i)] = 0;
  return out;
}

}  // namespace mc_entries
