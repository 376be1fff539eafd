// The stand-in motion wrapper library: the wrapper's table under its own
// names (instrument/motion/mc_mwi.h) and the control functions of
// mwisim.h, over one set of simulated axes. The export lists built beside
// the tests choose which of these a variant shows; every other name stays
// inside.
#include <cstdint>

#include "instrument/motion/mc_mwi.h"
#include "sim/motion_wrapper/mwisim.h"
#include "sim/motion_wrapper/wrapper_axes.h"

namespace {

sim::WrapperAxes& axes() {
  static sim::WrapperAxes a;
  return a;
}

}  // namespace

extern "C" {

int CheckForEStopEvent_MWI(mwi_handle_t h, int32_t* estop) { return axes().check_estop(h, estop); }
int CloseComm_MWI(mwi_handle_t h) { return axes().close(h); }
int CloseMotionWrapperInterface_MWI(void) { return axes().close_interface(); }
int DisableAxisJoystick_MWI(mwi_handle_t h, int32_t axis) {
  return axes().axis_joystick("DisableAxisJoystick_MWI", h, axis, false);
}
int DisableJoystick_MWI(mwi_handle_t h) {
  return axes().all_joysticks("DisableJoystick_MWI", h, false);
}
int DisablePositionReports_MWI(mwi_handle_t h) {
  return axes().position_reports("DisablePositionReports_MWI", h, false);
}
int EnableAxisJoystick_MWI(mwi_handle_t h, int32_t axis) {
  return axes().axis_joystick("EnableAxisJoystick_MWI", h, axis, true);
}
int EnableJoystick_MWI(mwi_handle_t h) {
  return axes().all_joysticks("EnableJoystick_MWI", h, true);
}
int EnablePositionReports_MWI(mwi_handle_t h) {
  return axes().position_reports("EnablePositionReports_MWI", h, true);
}
int FindHome_MWI(mwi_handle_t h, int32_t axis) { return axes().find_home(h, axis); }
int GetAcceleration_MWI(mwi_handle_t h, int32_t axis, int32_t* accel) {
  return axes().get_value("GetAcceleration_MWI", h, axis, accel);
}
int GetAxisError_MWI(mwi_handle_t h, int32_t axis, int32_t* error) {
  return axes().axis_error(h, axis, error);
}
int GetAxisStatus_MWI(mwi_handle_t h, int32_t axis, int32_t* status) {
  return axes().axis_status(h, axis, status);
}
int GetError_MWI(mwi_handle_t h, int32_t* error) { return axes().error(h, error); }
int GetErrorString_MWI(mwi_handle_t h, char* text, int32_t size) {
  return axes().error_string(h, text, size);
}
int GetEvent_MWI(mwi_handle_t h, int32_t* kind, int32_t* value) {
  return axes().get_event(h, kind, value);
}
int GetHomeState_MWI(mwi_handle_t h, int32_t axis, int32_t* homed) {
  return axes().get_value("GetHomeState_MWI", h, axis, homed);
}
int GetHomeType_MWI(mwi_handle_t h, int32_t axis, int32_t* type) {
  return axes().get_value("GetHomeType_MWI", h, axis, type);
}
int GetIsJoystickEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t* enabled) {
  return axes().joystick_enabled(h, axis, enabled);
}
int GetLabel_MWI(mwi_handle_t h, int32_t axis, char* label) { return axes().label(h, axis, label); }
int GetNodeId_MWI(mwi_handle_t h, int32_t axis, int32_t* node) {
  return axes().get_value("GetNodeId_MWI", h, axis, node);
}
int GetPitch_MWI(mwi_handle_t h, int32_t axis, double* pitch) {
  return axes().get_real("GetPitch_MWI", h, axis, pitch);
}
int GetStatus_MWI(mwi_handle_t h, int32_t* status) { return axes().status(h, status); }
int GetTravelMax_MWI(mwi_handle_t h, int32_t axis, double* value) {
  return axes().get_real("GetTravelMax_MWI", h, axis, value);
}
int GetTravelMin_MWI(mwi_handle_t h, int32_t axis, double* value) {
  return axes().get_real("GetTravelMin_MWI", h, axis, value);
}
int GetTravelZero_MWI(mwi_handle_t h, int32_t axis, double* value) {
  return axes().get_real("GetTravelZero_MWI", h, axis, value);
}
int GetVelocity_MWI(mwi_handle_t h, int32_t axis, int32_t* velocity) {
  return axes().get_value("GetVelocity_MWI", h, axis, velocity);
}
int HasEvent_MWI(mwi_handle_t h, int32_t* has_event) { return axes().has_event(h, has_event); }
int InitMotionWrapperInterface_MWI(void) { return axes().init(); }
int Move_MWI(mwi_handle_t h, int32_t axis, int32_t counts) { return axes().move(h, axis, counts); }
// One definition serves all three forms: callers of the older ones pass
// fewer arguments, and the options read as 0 there.
int OpenComm_MWI(const char* config_path, const uint8_t* mac, mwi_handle_t* handle, uint8_t option8,
                 int32_t option32) {
  return axes().open(config_path, mac, handle, option8, option32);
}
int SetAcceleration_MWI(mwi_handle_t h, int32_t axis, int32_t accel) {
  return axes().set_value("SetAcceleration_MWI", h, axis, accel);
}
int SetMoveMode_MWI(mwi_handle_t h, int32_t axis, int32_t mode) {
  return axes().set_value("SetMoveMode_MWI", h, axis, mode);
}
int SetPositionReport_MWI(mwi_handle_t h, int32_t axis, int32_t on) {
  return axes().position_report(h, axis, on);
}
int SetVelocity_MWI(mwi_handle_t h, int32_t axis, int32_t velocity) {
  return axes().set_value("SetVelocity_MWI", h, axis, velocity);
}
int Stop_MWI(mwi_handle_t h) { return axes().stop(h); }
int StopAxis_MWI(mwi_handle_t h, int32_t axis) { return axes().stop_axis(h, axis); }

int GetPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts) {
  return axes().get_value("GetPosition_MWI", h, axis, counts);
}
int GetActualPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts) {
  return axes().get_value("GetActualPosition_MWI", h, axis, counts);
}
int GetCommandedPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts) {
  return axes().get_value("GetCommandedPosition_MWI", h, axis, counts);
}

int RegisterCanEvents_MWI(mwi_handle_t h, mwi_pdo_callback_t on_pdo, mwi_emcy_callback_t on_emcy) {
  return axes().register_events(h, on_pdo, on_emcy);
}
int UnregisterCanEvents_MWI(mwi_handle_t h) { return axes().unregister_events(h); }

int DmiReset_MWI(mwi_handle_t h, int32_t axis) { return axes().plain("DmiReset_MWI", h, axis); }
int GetDmiCaptureBufferSize_MWI(mwi_handle_t h, int32_t axis, int32_t* count) {
  return axes().get_value("GetDmiCaptureBufferSize_MWI", h, axis, count);
}
int GetDmiCaptureBuffer_MWI(mwi_handle_t h, int32_t axis, double* values, int32_t count) {
  for (int32_t i = 0; values != nullptr && i < count; ++i) values[i] = 0;
  return axes().plain("GetDmiCaptureBuffer_MWI", h, axis);
}
int GetDmiPosition_MWI(mwi_handle_t h, int32_t axis, double* position) {
  return axes().get_real("GetDmiPosition_MWI", h, axis, position);
}
int GetDmiPreset_MWI(mwi_handle_t h, int32_t axis, double* preset) {
  return axes().get_real("GetDmiPreset_MWI", h, axis, preset);
}
int GetDmiStatus_MWI(mwi_handle_t h, int32_t axis, int32_t* status) {
  return axes().get_value("GetDmiStatus_MWI", h, axis, status);
}
int GetExternalClosedLoopAmplifierFault_MWI(mwi_handle_t h, int32_t axis, int32_t* fault) {
  return axes().get_value("GetExternalClosedLoopAmplifierFault_MWI", h, axis, fault);
}
int GetExternalClosedLoopEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t* on) {
  return axes().get_value("GetExternalClosedLoopEnabled_MWI", h, axis, on);
}
int GetIsDmiBufferReady_MWI(mwi_handle_t h, int32_t axis, int32_t* ready) {
  return axes().get_value("GetIsDmiBufferReady_MWI", h, axis, ready);
}
int GetSupportsExternalClosedLoop_MWI(mwi_handle_t h, int32_t axis, int32_t* yes) {
  return axes().get_value("GetSupportsExternalClosedLoop_MWI", h, axis, yes);
}
int SetDmiCaptureTrigger_MWI(mwi_handle_t h, int32_t axis, int32_t trigger) {
  return axes().set_value("SetDmiCaptureTrigger_MWI", h, axis, trigger);
}
int SetDmiPreset_MWI(mwi_handle_t h, int32_t axis, double) {
  return axes().plain("SetDmiPreset_MWI", h, axis);
}
int SetExternalClosedLoopEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t on) {
  return axes().set_value("SetExternalClosedLoopEnabled_MWI", h, axis, on);
}

int SetAlignViewIndicator_MWI(mwi_handle_t h, int32_t) {
  return axes().plain("SetAlignViewIndicator_MWI", h, -1);
}
int GetConfigurationFile_MWI(mwi_handle_t h, char* path, int32_t size) {
  return axes().configuration_file(h, path, size);
}

// ---- control

void mwisim_reset(void) { axes().reset(); }
void mwisim_set_clock(int64_t (*now_ms)(void)) { axes().set_clock(now_ms); }
void mwisim_setup_axis(int32_t axis, char letter, double pitch, double travel_min,
                       double travel_max, double travel_zero, int32_t home_type, int32_t node) {
  axes().setup_axis(axis, letter, pitch, travel_min, travel_max, travel_zero, home_type, node);
}
void mwisim_fail_next(const char* function, int32_t code, int32_t times) {
  axes().fail_next(function != nullptr ? function : "", code, times);
}
void mwisim_set_joystick_stuck(int32_t axis, int32_t stuck) {
  axes().set_joystick_stuck(axis, stuck != 0);
}
void mwisim_set_error_text(const char* text) { axes().set_error_text(text != nullptr ? text : ""); }
void mwisim_set_estop(int32_t on) { axes().set_estop(on != 0); }
void mwisim_set_following_error(int32_t axis, int32_t counts) {
  axes().set_following_error(axis, counts);
}
void mwisim_queue_event(int32_t kind, int32_t value) { axes().queue_event(kind, value); }
void mwisim_fire_pdo(uint32_t cob_id, uint32_t value, const uint8_t data[8]) {
  axes().fire_pdo(cob_id, value, data);
}
void mwisim_fire_emcy(uint32_t value1, uint32_t value2, uint32_t value3, uint8_t value4,
                      const uint8_t five[5], uint8_t value6) {
  axes().fire_emcy(value1, value2, value3, value4, five, value6);
}
int32_t mwisim_wait_fired(int32_t timeout_ms) { return axes().wait_fired(timeout_ms); }
int32_t mwisim_call_log_count(void) { return static_cast<int32_t>(axes().call_log().size()); }
int32_t mwisim_call_log_line(int32_t i, char* out, int32_t size) {
  const auto log = axes().call_log();
  if (i < 0 || static_cast<std::size_t>(i) >= log.size()) return -1;
  const std::string& line = log[static_cast<std::size_t>(i)];
  if (out != nullptr && size > 0) {
    const std::size_t n = line.size() < static_cast<std::size_t>(size - 1)
                              ? line.size()
                              : static_cast<std::size_t>(size - 1);
    line.copy(out, n);
    out[n] = '\0';
  }
  return static_cast<int32_t>(line.size());
}
void mwisim_clear_call_log(void) { axes().clear_call_log(); }
int32_t mwisim_init_count(void) { return axes().init_count(); }
int32_t mwisim_last_open(char* path, int32_t size, uint8_t mac[6], int32_t* has_mac,
                         uint8_t* option8, int32_t* option32) {
  const sim::WrapperAxes::OpenArgs open = axes().last_open();
  if (path != nullptr && size > 0) {
    const std::size_t n = open.path.size() < static_cast<std::size_t>(size - 1)
                              ? open.path.size()
                              : static_cast<std::size_t>(size - 1);
    open.path.copy(path, n);
    path[n] = '\0';
  }
  if (mac != nullptr)
    for (int i = 0; i < 6; ++i) mac[i] = open.mac[i];
  if (has_mac != nullptr) *has_mac = open.has_mac ? 1 : 0;
  if (option8 != nullptr) *option8 = open.option8;
  if (option32 != nullptr) *option32 = open.option32;
  return open.count;
}

}  // extern "C"
