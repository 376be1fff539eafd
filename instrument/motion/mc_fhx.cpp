#include "instrument/motion/mc_fhx.h"

#include <array>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/host_utils.h"
#include "instrument/can/can_events.h"
#include "instrument/motion/mc_axis.h"
#include "instrument/motion/mc_fhx_internal.h"
#include "instrument/motion/mc_mwi.h"
#include "instrument/record/sys_info.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view kLibraryBase = "MotionWrapperInterface";
// The wrapper's code for an axis that is not there.
constexpr int kWrapperAxisInactive = 267;

// The two older forms of the open, bound under the same name: a library
// from before the options were added reads only the leading arguments.
using OpenOldestFn = int (*)(const char*, const uint8_t*, mwi_handle_t*);
using OpenMiddleFn = int (*)(const char*, const uint8_t*, mwi_handle_t*, uint8_t);

struct MwiTable {
  decltype(&CheckForEStopEvent_MWI) check_estop = nullptr;
  decltype(&CloseComm_MWI) close_comm = nullptr;
  decltype(&CloseMotionWrapperInterface_MWI) close_interface = nullptr;
  decltype(&DisableAxisJoystick_MWI) disable_axis_joystick = nullptr;
  decltype(&DisableJoystick_MWI) disable_joystick = nullptr;
  decltype(&DisablePositionReports_MWI) disable_pos_reports = nullptr;
  decltype(&EnableAxisJoystick_MWI) enable_axis_joystick = nullptr;
  decltype(&EnableJoystick_MWI) enable_joystick = nullptr;
  decltype(&EnablePositionReports_MWI) enable_pos_reports = nullptr;
  decltype(&FindHome_MWI) find_home = nullptr;
  decltype(&GetAcceleration_MWI) get_acceleration = nullptr;
  decltype(&GetAxisError_MWI) get_axis_error = nullptr;
  decltype(&GetAxisStatus_MWI) get_axis_status = nullptr;
  decltype(&GetError_MWI) get_error = nullptr;
  decltype(&GetErrorString_MWI) get_error_string = nullptr;
  decltype(&GetEvent_MWI) get_event = nullptr;
  decltype(&GetHomeState_MWI) get_home_state = nullptr;
  decltype(&GetHomeType_MWI) get_home_type = nullptr;
  decltype(&GetIsJoystickEnabled_MWI) get_joystick_enabled = nullptr;
  decltype(&GetLabel_MWI) get_label = nullptr;
  decltype(&GetNodeId_MWI) get_node_id = nullptr;
  decltype(&GetPitch_MWI) get_pitch = nullptr;
  decltype(&GetStatus_MWI) get_status = nullptr;
  decltype(&GetTravelMax_MWI) get_travel_max = nullptr;
  decltype(&GetTravelMin_MWI) get_travel_min = nullptr;
  decltype(&GetTravelZero_MWI) get_travel_zero = nullptr;
  decltype(&GetVelocity_MWI) get_velocity = nullptr;
  decltype(&HasEvent_MWI) has_event = nullptr;
  decltype(&InitMotionWrapperInterface_MWI) init_interface = nullptr;
  decltype(&Move_MWI) move = nullptr;
  OpenOldestFn open_oldest = nullptr;
  decltype(&SetAcceleration_MWI) set_acceleration = nullptr;
  decltype(&SetMoveMode_MWI) set_move_mode = nullptr;
  decltype(&SetPositionReport_MWI) set_position_report = nullptr;
  decltype(&SetVelocity_MWI) set_velocity = nullptr;
  decltype(&Stop_MWI) stop = nullptr;
  decltype(&StopAxis_MWI) stop_axis = nullptr;

  decltype(&GetPosition_MWI) get_position = nullptr;
  decltype(&GetActualPosition_MWI) get_actual_position = nullptr;
  decltype(&GetCommandedPosition_MWI) get_commanded_position = nullptr;

  decltype(&RegisterCanEvents_MWI) register_can_events = nullptr;
  decltype(&UnregisterCanEvents_MWI) unregister_can_events = nullptr;

  decltype(&DmiReset_MWI) dmi_reset = nullptr;
  decltype(&GetDmiCaptureBufferSize_MWI) get_dmi_capture_buffer_size = nullptr;
  decltype(&GetDmiCaptureBuffer_MWI) get_dmi_capture_buffer = nullptr;
  decltype(&GetDmiPosition_MWI) get_dmi_position = nullptr;
  decltype(&GetDmiPreset_MWI) get_dmi_preset = nullptr;
  decltype(&GetDmiStatus_MWI) get_dmi_status = nullptr;
  decltype(&GetExternalClosedLoopAmplifierFault_MWI) get_ecl_amplifier_fault = nullptr;
  decltype(&GetExternalClosedLoopEnabled_MWI) get_ecl_enabled = nullptr;
  decltype(&GetIsDmiBufferReady_MWI) get_dmi_buffer_ready = nullptr;
  decltype(&GetSupportsExternalClosedLoop_MWI) get_supports_ecl = nullptr;
  decltype(&SetDmiCaptureTrigger_MWI) set_dmi_capture_trigger = nullptr;
  decltype(&SetDmiPreset_MWI) set_dmi_preset = nullptr;
  decltype(&SetExternalClosedLoopEnabled_MWI) set_ecl_enabled = nullptr;

  OpenMiddleFn open_middle = nullptr;
  decltype(&OpenComm_MWI) open_newest = nullptr;

  decltype(&SetAlignViewIndicator_MWI) set_align_view_indicator = nullptr;
  decltype(&GetConfigurationFile_MWI) get_configuration_file = nullptr;
};

enum class Group {
  Required,
  Position,
  CanEvents,
  ClosedLoop,
  OpenMiddle,
  OpenNewest,
  AlignView,
  ConfigFile
};

template <auto Member>
void assign(MwiTable& table, void* symbol) {
  using Fn = std::remove_reference_t<decltype(table.*Member)>;
  table.*Member = reinterpret_cast<Fn>(symbol);
}

// One row per look-up, in the order of the binding's log lines.
struct Row {
  const char* name;
  Group group;
  void (*assign)(MwiTable&, void*);
};
constexpr Row kRows[] = {
    {"CheckForEStopEvent_MWI", Group::Required, assign<&MwiTable::check_estop>},
    {"CloseComm_MWI", Group::Required, assign<&MwiTable::close_comm>},
    {"CloseMotionWrapperInterface_MWI", Group::Required, assign<&MwiTable::close_interface>},
    {"DisableAxisJoystick_MWI", Group::Required, assign<&MwiTable::disable_axis_joystick>},
    {"DisableJoystick_MWI", Group::Required, assign<&MwiTable::disable_joystick>},
    {"DisablePositionReports_MWI", Group::Required, assign<&MwiTable::disable_pos_reports>},
    {"EnableAxisJoystick_MWI", Group::Required, assign<&MwiTable::enable_axis_joystick>},
    {"EnableJoystick_MWI", Group::Required, assign<&MwiTable::enable_joystick>},
    {"EnablePositionReports_MWI", Group::Required, assign<&MwiTable::enable_pos_reports>},
    {"FindHome_MWI", Group::Required, assign<&MwiTable::find_home>},
    {"GetAcceleration_MWI", Group::Required, assign<&MwiTable::get_acceleration>},
    {"GetAxisError_MWI", Group::Required, assign<&MwiTable::get_axis_error>},
    {"GetAxisStatus_MWI", Group::Required, assign<&MwiTable::get_axis_status>},
    {"GetError_MWI", Group::Required, assign<&MwiTable::get_error>},
    {"GetErrorString_MWI", Group::Required, assign<&MwiTable::get_error_string>},
    {"GetEvent_MWI", Group::Required, assign<&MwiTable::get_event>},
    {"GetHomeState_MWI", Group::Required, assign<&MwiTable::get_home_state>},
    {"GetHomeType_MWI", Group::Required, assign<&MwiTable::get_home_type>},
    {"GetIsJoystickEnabled_MWI", Group::Required, assign<&MwiTable::get_joystick_enabled>},
    {"GetLabel_MWI", Group::Required, assign<&MwiTable::get_label>},
    {"GetNodeId_MWI", Group::Required, assign<&MwiTable::get_node_id>},
    {"GetPitch_MWI", Group::Required, assign<&MwiTable::get_pitch>},
    {"GetStatus_MWI", Group::Required, assign<&MwiTable::get_status>},
    {"GetTravelMax_MWI", Group::Required, assign<&MwiTable::get_travel_max>},
    {"GetTravelMin_MWI", Group::Required, assign<&MwiTable::get_travel_min>},
    {"GetTravelZero_MWI", Group::Required, assign<&MwiTable::get_travel_zero>},
    {"GetVelocity_MWI", Group::Required, assign<&MwiTable::get_velocity>},
    {"HasEvent_MWI", Group::Required, assign<&MwiTable::has_event>},
    {"InitMotionWrapperInterface_MWI", Group::Required, assign<&MwiTable::init_interface>},
    {"Move_MWI", Group::Required, assign<&MwiTable::move>},
    {"OpenComm_MWI", Group::Required, assign<&MwiTable::open_oldest>},
    {"SetAcceleration_MWI", Group::Required, assign<&MwiTable::set_acceleration>},
    {"SetMoveMode_MWI", Group::Required, assign<&MwiTable::set_move_mode>},
    {"SetPositionReport_MWI", Group::Required, assign<&MwiTable::set_position_report>},
    {"SetVelocity_MWI", Group::Required, assign<&MwiTable::set_velocity>},
    {"Stop_MWI", Group::Required, assign<&MwiTable::stop>},
    {"StopAxis_MWI", Group::Required, assign<&MwiTable::stop_axis>},
    {"GetPosition_MWI", Group::Position, assign<&MwiTable::get_position>},
    {"GetActualPosition_MWI", Group::Position, assign<&MwiTable::get_actual_position>},
    {"GetCommandedPosition_MWI", Group::Position, assign<&MwiTable::get_commanded_position>},
    {"RegisterCanEvents_MWI", Group::CanEvents, assign<&MwiTable::register_can_events>},
    {"UnregisterCanEvents_MWI", Group::CanEvents, assign<&MwiTable::unregister_can_events>},
    {"DmiReset_MWI", Group::ClosedLoop, assign<&MwiTable::dmi_reset>},
    {"GetDmiCaptureBufferSize_MWI", Group::ClosedLoop,
     assign<&MwiTable::get_dmi_capture_buffer_size>},
    {"GetDmiCaptureBuffer_MWI", Group::ClosedLoop, assign<&MwiTable::get_dmi_capture_buffer>},
    {"GetDmiPosition_MWI", Group::ClosedLoop, assign<&MwiTable::get_dmi_position>},
    {"GetDmiPreset_MWI", Group::ClosedLoop, assign<&MwiTable::get_dmi_preset>},
    {"GetDmiStatus_MWI", Group::ClosedLoop, assign<&MwiTable::get_dmi_status>},
    {"GetExternalClosedLoopAmplifierFault_MWI", Group::ClosedLoop,
     assign<&MwiTable::get_ecl_amplifier_fault>},
    {"GetExternalClosedLoopEnabled_MWI", Group::ClosedLoop, assign<&MwiTable::get_ecl_enabled>},
    {"GetIsDmiBufferReady_MWI", Group::ClosedLoop, assign<&MwiTable::get_dmi_buffer_ready>},
    {"GetSupportsExternalClosedLoop_MWI", Group::ClosedLoop, assign<&MwiTable::get_supports_ecl>},
    {"SetDmiCaptureTrigger_MWI", Group::ClosedLoop, assign<&MwiTable::set_dmi_capture_trigger>},
    {"SetDmiPreset_MWI", Group::ClosedLoop, assign<&MwiTable::set_dmi_preset>},
    {"SetExternalClosedLoopEnabled_MWI", Group::ClosedLoop, assign<&MwiTable::set_ecl_enabled>},
    {"OpenComm_MWI", Group::OpenMiddle, assign<&MwiTable::open_middle>},
    {"OpenComm_MWI", Group::OpenNewest, assign<&MwiTable::open_newest>},
    {"SetAlignViewIndicator_MWI", Group::AlignView, assign<&MwiTable::set_align_view_indicator>},
    {"GetConfigurationFile_MWI", Group::ConfigFile, assign<&MwiTable::get_configuration_file>},
};
// A row for every pointer of the table.
static_assert(std::size(kRows) * sizeof(void*) == sizeof(MwiTable));

// Wrapper result codes with a meaning here; every other one is ERR_MC_MISC.
struct Translation {
  int wrapper;
  int error;
};
constexpr Translation kTranslations[] = {
    {0, 0},
    {12, ERR_MC_AXIS_BUSY},
    {17, ERR_MC_NO_HOME},
    {18, ERR_MC_AXIS_AT_LIMIT},
    {19, ERR_MC_AXIS_AT_LIMIT},
    {21, ERR_MC_KILL_SWITCH},
    {22, ERR_MC_JOYSTICK_ENABLE},
    {256, ERR_MC_COMM},
    {267, ERR_MC_AXIS_INACTIVE},
    {268, ERR_MC_CONFIG},
    {269, ERR_MC_CONFIG},
    {270, ERR_MC_CONFIG},
    {271, ERR_MC_NEEDS_RESET},
    {274, ERR_MC_NEEDS_RESET},
    {275, ERR_MC_COMM},
    {276, ERR_CAN_NODE_NOT_AVAIL},
    {277, ERR_MC_CONFIRM_INIT},
    {278, ERR_MC_CONFIG_MISSING},
    {279, ERR_MC_CONFIG_CORRUPT},
};

// ---- the binding. g_mutex guards the binding and the initialised flag;
// the table pointer is read without it, by the worker too.
std::mutex g_mutex;
std::atomic<const MwiTable*> g_table{nullptr};
void* g_module = nullptr;
bool g_initialised = false;
std::string g_library;  // empty: the real name
// Tables of bound libraries, kept for the life of the process: the worker
// may still be reading one when a test forgets the binding.
std::vector<std::unique_ptr<const MwiTable>> g_tables;

std::string default_library_name() {
  return std::string(plat::kSharedLibraryPrefix) + std::string(kLibraryBase) +
         std::string(plat::kSharedLibrarySuffix);
}

void clear_group(MwiTable& t, Group group) {
  for (const Row& row : kRows)
    if (row.group == group) row.assign(t, nullptr);
}

// Looks up every row of the group; true when all were found.
bool look_up(void* module, MwiTable& t, Group group, const std::string& library, bool log_missing) {
  bool all = true;
  for (const Row& row : kRows) {
    if (row.group != group) continue;
    void* symbol = plat::host::find_symbol(module, row.name);
    if (symbol == nullptr) {
      all = false;
      if (log_missing)
        u_log_fn("Error: %d in loading %s from %s.\n", plat::host::library_error(), row.name,
                 library.c_str());
    }
    row.assign(t, symbol);
  }
  return all;
}

void init_locked(const MwiTable& t) { g_initialised = t.init_interface() == 0; }

int bind_locked() {
  const std::string setting = g_library.empty() ? default_library_name() : g_library;
  std::string library;
  void* module = u_load_library(setting, &library);
  if (module == nullptr) {
    u_log_fn("Error: %d in loading Fathomix 10 Motion library %s.\n", plat::host::library_error(),
             library.c_str());
    return ERR_FHX_NO_DLL;
  }
  const auto give_up = [module] {
    plat::host::free_library(module);
    return ERR_FHX_FUNCTION_MAP;
  };
  auto t = std::make_unique<MwiTable>();
  // Every missing name is logged before giving up.
  if (!look_up(module, *t, Group::Required, library, true)) return give_up();
  look_up(module, *t, Group::Position, library, false);
  if (t->get_position == nullptr &&
      (t->get_actual_position == nullptr || t->get_commanded_position == nullptr)) {
    u_log_fn(
        "Error: missing GetPosition_MWI or (GetActualPosition_MWI and "
        "GetCommandedPosition_MWI) functions from %s.\n",
        library.c_str());
    return give_up();
  }
  if (!look_up(module, *t, Group::CanEvents, library, false)) {
    u_log_fn("Warning: Motion DLL does not support CAN event notification pass-through.\n");
    u_log_fn("         Fathomix may not behave as expected if CAN events are used.\n");
    clear_group(*t, Group::CanEvents);
  }
  if (!look_up(module, *t, Group::ClosedLoop, library, false)) {
    u_log_fn(
        "Info: Motion DLL does not support axis with external closed loop or DMI position "
        "instrument\n");
    clear_group(*t, Group::ClosedLoop);
  }
  if (!look_up(module, *t, Group::OpenMiddle, library, true) ||
      !look_up(module, *t, Group::OpenNewest, library, true))
    return give_up();
  // The longest form is the one called.
  t->open_oldest = nullptr;
  t->open_middle = nullptr;
  if (!look_up(module, *t, Group::AlignView, library, false))
    u_log_fn("Info: Motion DLL does not support setting the align/view indicator on the pendent\n");
  if (!look_up(module, *t, Group::ConfigFile, library, false))
    u_log_fn("Info: Motion DLL does not support getting the effective motion configuration file\n");
  g_module = module;
  g_tables.push_back(std::move(t));
  g_table = g_tables.back().get();
  init_locked(*g_tables.back());
  return 0;
}

// Binds on first use; after a close of the interface, initialises it again.
int ensure_ready() {
  std::lock_guard lock(g_mutex);
  const MwiTable* t = g_table.load();
  if (t == nullptr) return bind_locked();
  if (!g_initialised) init_locked(*t);
  return 0;
}

// The wrapper's text of its last failure; "" while nothing is bound.
std::string error_text(mwi_handle_t h) {
  const MwiTable* t = g_table.load();
  if (t == nullptr) return {};
  std::array<char, 256> text{};
  if (t->get_error_string(h, text.data(), static_cast<int32_t>(text.size())) != 0) return {};
  text.back() = '\0';
  return text.data();
}

mwi_handle_t handle_of(const mc_ctrl_t& c) { return c.port.handle; }

int fail(const char* op, const mc_ctrl_t& c, int err) {
  u_log_fn("%s failed: %s; %s\n", op, err_name(err), error_text(handle_of(c)).c_str());
  return err;
}

// Axis numbers: 0..5 one axis, 6 and MC_ALL_AXES every active axis.
constexpr int kNoAxis = -1;
constexpr int kLastSingleAxis = 5;
bool is_all(int axis) { return axis == kLastSingleAxis + 1 || axis == MC_ALL_AXES; }

int check_axis(const mc_ctrl_t& c, int axis) {
  if (is_all(axis)) return 0;
  if (axis < 0 || axis > kLastSingleAxis) return ERR_MC_INVALID_AXIS;
  return c.axes[axis].active != 0 ? 0 : ERR_MC_AXIS_INACTIVE;
}

// The common start of every operation: the controller check, a bound
// library, the axis (kNoAxis: none to check). Logs what fails.
int begin(const char* op, const mc_ctrl_t& c, int axis, const MwiTable** t) {
  int err = mc_check_controller(&c);
  if (err == 0 && (*t = g_table.load()) == nullptr) err = ERR_MC_NOT_AVAIL;
  if (err == 0 && axis != kNoAxis) err = check_axis(c, axis);
  return err != 0 ? fail(op, c, err) : 0;
}

// Calls `call(axis)` for the axis, or for each active axis in turn when it
// stands for all, stopping at the first failure: a wrapper code.
template <class Call>
int each_axis(const mc_ctrl_t& c, int axis, Call call) {
  if (!is_all(axis)) return call(axis);
  for (int a = 0; a < MC_AXES; ++a) {
    if (c.axes[a].active == 0) continue;
    if (const int rc = call(a); rc != 0) return rc;
  }
  return 0;
}

// Calls the wrapper and translates: 0 or the logged error.
template <class Call>
int run(const char* op, mc_ctrl_t& c, int axis, Call call) {
  const MwiTable* t = nullptr;
  if (const int err = begin(op, c, axis, &t)) return err;
  const int err = mc_fhx_error(call(*t, handle_of(c)));
  return err != 0 ? fail(op, c, err) : 0;
}

void for_axes(mc_ctrl_t& c, int axis, auto&& update) {
  for (int a = 0; a < MC_AXES; ++a)
    if (is_all(axis) ? c.axes[a].active != 0 : a == axis) update(c.axes[a]);
}

// Switches the joystick, then reads back each axis concerned.
int switch_joystick(mc_ctrl_t& c, int axis, bool on) {
  const char* const op = on ? "mc_enable_joystick_fhx" : "mc_disable_joystick_fhx";
  const int err = run(op, c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    if (is_all(axis)) return on ? t.enable_joystick(h) : t.disable_joystick(h);
    return on ? t.enable_axis_joystick(h, axis) : t.disable_axis_joystick(h, axis);
  });
  if (err != 0) return err;
  const MwiTable& t = *g_table.load();
  int result = 0;
  for (int a = 0; a < MC_AXES; ++a) {
    mc_axis_t& ax = c.axes[a];
    if (is_all(axis) ? ax.active == 0 : a != axis) continue;
    int32_t state = 0;
    if (const int read = mc_fhx_error(t.get_joystick_enabled(handle_of(c), a, &state))) {
      u_log_fn(on ? "mc_enable_joy() failed getting joystick state for %c - %s\n"
                  : "mc_disable_joy() failed getting joystick state for %c - %s\n",
               ax.letter, err_name(read));
      u_log_fn(on ? "mc_enable_joy() error string: %s\n" : "mc_disable_joy() error string: %s\n",
               error_text(handle_of(c)).c_str());
      return read;
    }
    ax.joyOn = state != 0 ? 1 : 0;
    const auto bit = static_cast<uint8_t>(1u << a);
    c.joyMask = static_cast<uint8_t>(ax.joyOn != 0 ? c.joyMask | bit : c.joyMask & ~bit);
    if ((state != 0) != on) {
      u_log_fn(on ? "Axis %c failed to enable joystick\n" : "Axis %c failed to disable joystick\n",
               ax.letter);
      result = ERR_MC_JOYSTICK_ENABLE;
    }
  }
  return result;
}

// The external-closed-loop entries need their group only for an axis that
// has external closed loop; other axes answer "no" without asking.
template <class Call>
int closed_loop(const char* op, mc_ctrl_t& c, int axis, int* out, Call call) {
  const MwiTable* t = nullptr;
  if (const int err = begin(op, c, axis, &t)) return err;
  if (is_all(axis)) return fail(op, c, ERR_MC_INVALID_AXIS);
  if (t->get_supports_ecl == nullptr) {
    if (c.axes[axis].extClosedLoop == 0) {
      if (out != nullptr) *out = 0;
      return 0;
    }
    u_log_fn(
        "Support for motion axes with external closed loop requires v1.5.1.17780 or later "
        "of the motion DLL\n");
    return ERR_MC_NOT_SUPPORTED_IN_DLL_VERSION;
  }
  int32_t value = 0;
  const int err = mc_fhx_error(call(*t, handle_of(c), &value));
  if (err != 0) return fail(op, c, err);
  if (out != nullptr) *out = value;
  return 0;
}

// The system's own CAN callbacks, for an instrument on the CAN board, while
// the wrapper does not pass the events on.
void register_own_can_events(sysInfo_t* info) {
  if (info == nullptr || info->instrBdType != BD_CAN) return;
  u_log_fn("%s", can_register_events(info, true) != 0
                     ? "Error registering for FX processing of CAN events\n"
                     : "FX registered for processing of CAN events\n");
}

}  // namespace

int mc_fhx_error(int wrapper_code) {
  for (const Translation& row : kTranslations)
    if (row.wrapper == wrapper_code) return row.error;
  return ERR_MC_MISC;
}

bool mc_fhx_bound() { return g_table.load() != nullptr; }

// ---- communication

int mc_open_comm_fhx(mc_ctrl_t& c, const char* config_path, uint8_t option8, int32_t option32,
                     int* result, int* done) {
  const auto finish = [&](int err) {
    if (result != nullptr) *result = err;
    if (done != nullptr) *done = 1;
    return err;
  };
  if (c.kind != MC_KIND_WRAPPER) return finish(ERR_MC_WRONG_MC);
  // Closing first: the close ends the interface, which the open then
  // initialises again.
  if (c.port.handle != SIO_INVALID_HANDLE) mc_close_comm_fhx(c);
  if (const int err = ensure_ready()) return finish(err);
  const MwiTable& t = *g_table.load();
  // Without a bridge record (no MAC address configured, or the CAN
  // instrument powered off) the wrapper gets no address rather than a
  // dangling one.
  const uint8_t* mac = c.info != nullptr && c.info->canInfo ? c.info->canInfo->mac : nullptr;
  const char* path = config_path != nullptr ? config_path : "";
  mwi_handle_t handle = SIO_INVALID_HANDLE;
  int err = mc_fhx_error(t.open_newest(path, mac, &handle, option8, option32));
  if (err != 0) {
    u_log_fn("mc_open_comm_fhx() error opening %s err=%d\n", path, err);
    u_log_fn("mc_open_comm_fhx() error message\n%s\n", error_text(handle).c_str());
    if (err == ERR_MC_KILL_SWITCH)
      err = ERR_MC_KILL_SWITCH_DURING_INIT;
    else if (err != ERR_MC_CONFIG_CORRUPT && err != ERR_MC_CONFIG_MISSING &&
             err != ERR_MC_CONFIRM_INIT)
      err = ERR_MC_COMM;
    register_own_can_events(c.info);
    return finish(err);
  }
  c.port.handle = handle;
  std::array<char, 512> file{};
  if (t.get_configuration_file == nullptr ||
      t.get_configuration_file(handle, file.data(), static_cast<int32_t>(file.size())) != 0)
    u_log_fn("  Effective motion config file: %s\n", "Unknown - Look in SystemInfo.config");
  else
    u_log_fn("  Effective motion config file: %s\n", (file.back() = '\0', file.data()));
  if (t.register_can_events != nullptr &&
      t.register_can_events(handle, &can_mwi_receive_pdo, &can_mwi_receive_emcy) == 0)
    u_log_fn("mc_open_comm_fhx() failed to register for PDO and EMCY events\n%s\n",
             error_text(handle).c_str());
  return finish(0);
}

int mc_close_comm_fhx(mc_ctrl_t& c) {
  if (c.kind != MC_KIND_WRAPPER) return ERR_MC_WRONG_MC;
  if (c.port.handle == SIO_INVALID_HANDLE) return 0;
  // The worker must stop asking about the handle before it goes.
  if (c.devHandle != DEV_INVALID_HANDLE) {
    dev_remove_device(c.devHandle);
    c.devHandle = DEV_INVALID_HANDLE;
  }
  const MwiTable* t = g_table.load();
  if (t == nullptr) {
    c.port.handle = SIO_INVALID_HANDLE;
    return 0;
  }
  const mwi_handle_t h = c.port.handle;
  if (t->unregister_can_events != nullptr) {
    t->unregister_can_events(h);
    if (const std::string text = error_text(h); !text.empty())
      u_log_fn("mc_close_comm_fhx() error unregistering PDO and EMCY events\n%s\n", text.c_str());
  }
  if (const int err = mc_fhx_error(t->close_comm(h))) return fail("mc_close_comm_fhx", c, err);
  c.port.handle = SIO_INVALID_HANDLE;
  {
    std::lock_guard lock(g_mutex);
    t->close_interface();
    g_initialised = false;
  }
  register_own_can_events(c.info);
  return 0;
}

int mc_read_config_fhx(mc_ctrl_t& c) {
  static constexpr const char* kOp = "mc_read_config_fhx";
  const MwiTable* t = nullptr;
  if (const int err = begin(kOp, c, kNoAxis, &t)) return err;
  const mwi_handle_t h = handle_of(c);
  for (int a = 0; a < MC_AXES; ++a) {
    mc_axis_t& ax = c.axes[a];
    char letter = 0;
    const int rc = t->get_label(h, a, &letter);
    if (rc == kWrapperAxisInactive) {
      ax.active = 0;
      continue;
    }
    int32_t home_type = 0, ecl = 0;
    int err = mc_fhx_error(rc);
    if (err == 0) err = mc_fhx_error(t->get_pitch(h, a, &ax.pitch));
    if (err == 0) err = mc_fhx_error(t->get_travel_min(h, a, &ax.travelMin));
    if (err == 0) err = mc_fhx_error(t->get_travel_max(h, a, &ax.travelMax));
    if (err == 0) err = mc_fhx_error(t->get_travel_zero(h, a, &ax.homePosOffset));
    if (err == 0) err = mc_fhx_error(t->get_home_type(h, a, &home_type));
    if (err == 0 && t->get_supports_ecl != nullptr)
      err = mc_fhx_error(t->get_supports_ecl(h, a, &ecl));
    if (err != 0) return fail(kOp, c, err);
    ax.letter = letter;
    ax.active = 1;
    // The pitch is the whole factor: counts per user unit.
    ax.stepsPerRev = 1;
    ax.encSteps = 1;
    ax.homeType = home_type;
    ax.extClosedLoop = ecl != 0 ? 1 : 0;
  }
  return 0;
}

// ---- the operations

int mc_get_axis_config_fhx(mc_ctrl_t& c, int axis, int32_t* value) {
  const MwiTable* t = nullptr;
  if (const int err = begin("mc_get_axis_config_fhx", c, axis, &t)) return err;
  if (value != nullptr) *value = 1;
  return 0;
}

int mc_set_accel_fhx(mc_ctrl_t& c, int axis, int32_t accel) {
  const int err = run("mc_set_accel_fhx", c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    return each_axis(c, axis, [&](int a) { return t.set_acceleration(h, a, accel); });
  });
  if (err == 0) for_axes(c, axis, [&](mc_axis_t& ax) { ax.accel = accel; });
  return err;
}

int mc_set_velocity_fhx(mc_ctrl_t& c, int axis, int32_t velocity) {
  const int err = run("mc_set_velocity_fhx", c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    return each_axis(c, axis, [&](int a) { return t.set_velocity(h, a, velocity); });
  });
  if (err == 0) for_axes(c, axis, [&](mc_axis_t& ax) { ax.velocity = velocity; });
  return err;
}

int mc_set_mode_fhx(mc_ctrl_t& c, int axis, int32_t mode) {
  const int err = run("mc_set_mode_fhx", c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    return each_axis(c, axis, [&](int a) { return t.set_move_mode(h, a, mode); });
  });
  if (err == 0) for_axes(c, axis, [&](mc_axis_t& ax) { ax.moveMode = mode; });
  return err;
}

int mc_enable_joystick_fhx(mc_ctrl_t& c, int axis) { return switch_joystick(c, axis, true); }
int mc_disable_joystick_fhx(mc_ctrl_t& c, int axis) { return switch_joystick(c, axis, false); }

int mc_enable_pos_report_fhx(mc_ctrl_t& c) {
  const int err = run("mc_enable_pos_report_fhx", c, kNoAxis,
                      [](const MwiTable& t, mwi_handle_t h) { return t.enable_pos_reports(h); });
  if (err == 0) {
    c.posReport = 1;
    c.posReportOnMs = u_ticks_ms();
  }
  return err;
}

int mc_disable_pos_report_fhx(mc_ctrl_t& c) {
  const int err = run("mc_disable_pos_report_fhx", c, kNoAxis,
                      [](const MwiTable& t, mwi_handle_t h) { return t.disable_pos_reports(h); });
  if (err == 0) c.posReport = 0;
  return err;
}

int mc_move_fhx(mc_ctrl_t& c, int axis, double value) {
  static constexpr const char* kOp = "mc_move_fhx";
  const MwiTable* t = nullptr;
  if (const int err = begin(kOp, c, axis, &t)) return err;
  if (is_all(axis)) return fail(kOp, c, ERR_MC_INVALID_AXIS);
  mc_axis_t& ax = c.axes[axis];
  if (ax.joyOn != 0) {
    u_log_fn("mc_move_fhx failed: joy_on\n");
    return ERR_MC_JOYSTICK_ENABLE;
  }
  int32_t counts = 0;
  if (const int err = mc_to_counts(c, axis, value, &counts)) return fail(kOp, c, err);
  if (const int err = mc_fhx_error(t->move(handle_of(c), axis, counts))) return fail(kOp, c, err);
  ax.moving = 1;
  ax.target = ax.moveMode == MC_MODE_ABSOLUTE ? counts : MC_POS_UNKNOWN;
  return 0;
}

int mc_stop_fhx(mc_ctrl_t& c, int axis) {
  return run("mc_stop_fhx", c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    return is_all(axis) ? t.stop(h) : t.stop_axis(h, axis);
  });
}

namespace {

// Entries 15 and 16: the controller's own value, one axis's in values[0],
// or every axis's, `absent` for the axes that are not there.
template <class Whole, class PerAxis>
int read_values(const char* op, mc_ctrl_t& c, int axis, int32_t values[MC_AXES], int32_t absent,
                Whole whole, PerAxis per_axis) {
  return run(op, c, axis == MC_CONTROLLER ? kNoAxis : axis, [&](const MwiTable& t, mwi_handle_t h) {
    if (axis == MC_CONTROLLER) return whole(t, h, &values[0]);
    if (!is_all(axis)) return per_axis(t, h, axis, &values[0]);
    for (int a = 0; a < MC_AXES; ++a) {
      values[a] = absent;
      if (c.axes[a].active == 0) continue;
      if (const int rc = per_axis(t, h, a, &values[a])) return rc;
    }
    return 0;
  });
}

constexpr int32_t kStatusUnavailable = 4;

}  // namespace

int mc_get_status_fhx(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  return read_values(
      "mc_get_status_fhx", c, axis, values, kStatusUnavailable,
      [](const MwiTable& t, mwi_handle_t h, int32_t* v) { return t.get_status(h, v); },
      [](const MwiTable& t, mwi_handle_t h, int a, int32_t* v) {
        return t.get_axis_status(h, a, v);
      });
}

int mc_get_error_fhx(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  return read_values(
      "mc_get_error_fhx", c, axis, values, 0,
      [](const MwiTable& t, mwi_handle_t h, int32_t* v) { return t.get_error(h, v); },
      [](const MwiTable& t, mwi_handle_t h, int a, int32_t* v) {
        return t.get_axis_error(h, a, v);
      });
}

int mc_get_ipos_fhx(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]) {
  return read_values(
      "mc_get_ipos_fhx", c, axis, counts, MC_POS_UNKNOWN,
      [](const MwiTable&, mwi_handle_t, int32_t*) { return 0; },
      [](const MwiTable& t, mwi_handle_t h, int a, int32_t* v) {
        return t.get_position != nullptr ? t.get_position(h, a, v) : t.get_actual_position(h, a, v);
      });
}

int mc_get_revision_fhx(mc_ctrl_t& c) {
  const MwiTable* t = nullptr;
  if (const int err = begin("mc_get_revision_fhx", c, kNoAxis, &t)) return err;
  // The wrapper has no version of its own to tell: the stored one is shown.
  u_log_fn("Motion Controller Firmware version: major = %hu\tminor = %hu\n", c.fwMajor, c.fwMinor);
  return 0;
}

int mc_z_home_fhx(mc_ctrl_t& c, int32_t /*stage*/) {
  static constexpr const char* kOp = "mc_z_home_fhx";
  const MwiTable* t = nullptr;
  if (const int err = begin(kOp, c, kNoAxis, &t)) return err;
  if (c.zAxis >= MC_AXES) return fail(kOp, c, ERR_MC_INVALID_AXIS);
  return mc_find_home_fhx(c, c.zAxis);
}

int mc_find_home_fhx(mc_ctrl_t& c, int axis) {
  const int err = run("mc_find_home_fhx", c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    return each_axis(c, axis, [&](int a) { return t.find_home(h, a); });
  });
  if (err == 0)
    for_axes(c, axis, [](mc_axis_t& ax) {
      ax.homed = 0;
      ax.moving = 1;
    });
  return err;
}

int mc_get_config_fhx(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]) {
  static constexpr const char* kOp = "mc_get_config_fhx";
  const MwiTable* t = nullptr;
  if (const int err = begin(kOp, c, kNoAxis, &t)) return err;
  std::array<char, 512> file{};
  if (t->get_configuration_file != nullptr) {
    const int err = mc_fhx_error(
        t->get_configuration_file(handle_of(c), file.data(), static_cast<int32_t>(file.size())));
    if (err != 0) return fail(kOp, c, err);
    file.back() = '\0';
  }
  if (name != nullptr) *name = file.data();
  if (numbers != nullptr) numbers[0] = numbers[1] = 0;
  return 0;
}

int mc_home_state_fhx(mc_ctrl_t& c, int axis) {
  return run("mc_home_state_fhx", c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    return each_axis(c, axis, [&](int a) {
      int32_t homed = 0;
      const int rc = t.get_home_state(h, a, &homed);
      if (rc == 0) c.axes[a].homed = homed != 0 ? 1 : 0;
      return rc;
    });
  });
}

int mc_axis_pos_report_fhx(mc_ctrl_t& c, int axis, uint8_t on) {
  const int err = run("mc_axis_pos_report_fhx", c, axis, [&](const MwiTable& t, mwi_handle_t h) {
    return each_axis(c, axis, [&](int a) { return t.set_position_report(h, a, on); });
  });
  if (err == 0) for_axes(c, axis, [&](mc_axis_t& ax) { ax.posReport = on; });
  return err;
}

int mc_home_multiple_axes_fhx(mc_ctrl_t& c, const int* axes, int count) {
  for (int i = 0; i < count; ++i)
    if (const int err = mc_find_home_fhx(c, axes[i])) return err;
  return 0;
}

int mc_supports_ext_closed_loop_fhx(mc_ctrl_t& c, int axis, int* yes) {
  return closed_loop("mc_supports_ext_closed_loop_fhx", c, axis, yes,
                     [&](const MwiTable& t, mwi_handle_t h, int32_t* v) {
                       return t.get_supports_ecl(h, axis, v);
                     });
}

int mc_get_ext_closed_loop_fhx(mc_ctrl_t& c, int axis, int* on) {
  return closed_loop(
      "mc_get_ext_closed_loop_fhx", c, axis, on,
      [&](const MwiTable& t, mwi_handle_t h, int32_t* v) { return t.get_ecl_enabled(h, axis, v); });
}

int mc_set_ext_closed_loop_fhx(mc_ctrl_t& c, int axis, int on) {
  return closed_loop(
      "mc_set_ext_closed_loop_fhx", c, axis, nullptr,
      [&](const MwiTable& t, mwi_handle_t h, int32_t*) { return t.set_ecl_enabled(h, axis, on); });
}

int mc_amplifier_fault_fhx(mc_ctrl_t& c, int axis, int* fault) {
  return closed_loop("mc_amplifier_fault_fhx", c, axis, fault,
                     [&](const MwiTable& t, mwi_handle_t h, int32_t* v) {
                       return t.get_ecl_amplifier_fault(h, axis, v);
                     });
}

int mc_set_align_view_indicator_fhx(mc_ctrl_t& c, int on) {
  static constexpr const char* kOp = "mc_set_align_view_indicator_fhx";
  const MwiTable* t = nullptr;
  if (const int err = begin(kOp, c, kNoAxis, &t)) return err;
  if (t->set_align_view_indicator == nullptr) {
    u_log_fn(
        "Support for setting the align/view indicator requires v1.5.1.17787 or later of the "
        "motion DLL\n");
    return ERR_MC_NOT_SUPPORTED_IN_DLL_VERSION;
  }
  const int err = mc_fhx_error(t->set_align_view_indicator(handle_of(c), on));
  return err != 0 ? fail(kOp, c, err) : 0;
}

// ---- the device table

int mc_fhx_has_event(dev_handle_t handle, void* /*owner*/) {
  const MwiTable* t = g_table.load();
  if (t == nullptr) return 0;
  int32_t has = 0;
  return t->has_event(handle, &has) == 0 && has != 0 ? 1 : 0;
}

void mc_fhx_register_hooks() {
  dev_mc_hooks_t hooks;
  hooks.connection_kind = [](const void* owner) -> int {
    return owner != nullptr ? static_cast<const mc_ctrl_t*>(owner)->kind : 0;
  };
  hooks.has_event_mwi = &mc_fhx_has_event;
  // The table has no getter: the kind-2 poll comes back with the exchange.
  const dev_mc_hooks_t old = dev_set_mc_hooks(hooks);
  if (old.event_signalled != nullptr) {
    hooks.event_signalled = old.event_signalled;
    dev_set_mc_hooks(hooks);
  }
}

// ---- the driver. Entries the wrapper has nothing for answer success and
// set their outputs to 0.

int WrapperDriver::get_axis_config(mc_ctrl_t& c, int axis, int32_t* value) {
  return mc_get_axis_config_fhx(c, axis, value);
}
int WrapperDriver::set_accel(mc_ctrl_t& c, int axis, int32_t accel) {
  return mc_set_accel_fhx(c, axis, accel);
}
int WrapperDriver::set_velocity(mc_ctrl_t& c, int axis, int32_t velocity) {
  return mc_set_velocity_fhx(c, axis, velocity);
}
int WrapperDriver::set_ss_velocity(mc_ctrl_t&, int, int32_t) { return 0; }
int WrapperDriver::set_mode(mc_ctrl_t& c, int axis, int32_t mode) {
  return mc_set_mode_fhx(c, axis, mode);
}
int WrapperDriver::enable_fkeys(mc_ctrl_t&) { return 0; }
int WrapperDriver::disable_fkeys(mc_ctrl_t&) { return 0; }
int WrapperDriver::enable_joystick(mc_ctrl_t& c, int axis) {
  return mc_enable_joystick_fhx(c, axis);
}
int WrapperDriver::disable_joystick(mc_ctrl_t& c, int axis) {
  return mc_disable_joystick_fhx(c, axis);
}
int WrapperDriver::enable_pos_report(mc_ctrl_t& c) { return mc_enable_pos_report_fhx(c); }
int WrapperDriver::disable_pos_report(mc_ctrl_t& c) { return mc_disable_pos_report_fhx(c); }
int WrapperDriver::move(mc_ctrl_t& c, int axis, double value) {
  return mc_move_fhx(c, axis, value);
}
int WrapperDriver::stop(mc_ctrl_t& c, int axis) { return mc_stop_fhx(c, axis); }
int WrapperDriver::get_status(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  return mc_get_status_fhx(c, axis, values);
}
int WrapperDriver::get_error(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  return mc_get_error_fhx(c, axis, values);
}
int WrapperDriver::get_positions(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]) {
  return mc_get_ipos_fhx(c, axis, counts);
}
int WrapperDriver::get_revision(mc_ctrl_t& c) { return mc_get_revision_fhx(c); }
int WrapperDriver::fkey_label(mc_ctrl_t&, int, const char*) { return 0; }
int WrapperDriver::z_home(mc_ctrl_t& c, int32_t stage) { return mc_z_home_fhx(c, stage); }
int WrapperDriver::find_home(mc_ctrl_t& c, int axis) { return mc_find_home_fhx(c, axis); }
int WrapperDriver::get_event(mc_ctrl_t&, int32_t* kind, int32_t* key) {
  if (kind != nullptr) *kind = MC_EVENT_NONE;
  if (key != nullptr) *key = 0;
  return 0;
}
int WrapperDriver::get_config(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]) {
  return mc_get_config_fhx(c, name, numbers);
}
int WrapperDriver::home_state(mc_ctrl_t& c, int axis) { return mc_home_state_fhx(c, axis); }
int WrapperDriver::axis_pos_report(mc_ctrl_t& c, int axis, uint8_t on) {
  return mc_axis_pos_report_fhx(c, axis, on);
}
int WrapperDriver::kind(const mc_ctrl_t&) const { return MC_KIND_WRAPPER; }
int WrapperDriver::vector_motion(mc_ctrl_t&, int) { return 0; }
int WrapperDriver::get_vector_motion(mc_ctrl_t&, int* on) {
  if (on != nullptr) *on = 0;
  return 0;
}
int WrapperDriver::queue_joystick(mc_ctrl_t&, int, int) { return 0; }
int WrapperDriver::delay_motion(mc_ctrl_t&, int) { return 0; }
int WrapperDriver::get_delay_motion(mc_ctrl_t&, int* collecting) {
  if (collecting != nullptr) *collecting = 0;
  return 0;
}
int WrapperDriver::home_axes(mc_ctrl_t& c, const int* axes, int count) {
  return mc_home_multiple_axes_fhx(c, axes, count);
}
int WrapperDriver::cancel_delayed_motion(mc_ctrl_t&) { return 0; }
int WrapperDriver::enable_auto_clamp(mc_ctrl_t&) { return 0; }
int WrapperDriver::disable_auto_clamp(mc_ctrl_t&) { return 0; }
int WrapperDriver::enable_auto_focus(mc_ctrl_t&) { return 0; }
int WrapperDriver::disable_auto_focus(mc_ctrl_t&) { return 0; }
int WrapperDriver::auto_focus_zero_set(mc_ctrl_t&) { return 0; }
int WrapperDriver::auto_focus_zero_clear(mc_ctrl_t&) { return 0; }
int WrapperDriver::is_auto_focus_enabled(mc_ctrl_t&, int* yes) {
  if (yes != nullptr) *yes = 0;
  return 0;
}
int WrapperDriver::is_auto_focus_zero_set(mc_ctrl_t&, int* yes) {
  if (yes != nullptr) *yes = 0;
  return 0;
}
int WrapperDriver::is_stage_clamped(mc_ctrl_t&, int* yes) {
  if (yes != nullptr) *yes = 0;
  return 0;
}
int WrapperDriver::supports_ext_closed_loop(mc_ctrl_t& c, int axis, int* yes) {
  return mc_supports_ext_closed_loop_fhx(c, axis, yes);
}
int WrapperDriver::get_ext_closed_loop(mc_ctrl_t& c, int axis, int* on) {
  return mc_get_ext_closed_loop_fhx(c, axis, on);
}
int WrapperDriver::set_ext_closed_loop(mc_ctrl_t& c, int axis, int on) {
  return mc_set_ext_closed_loop_fhx(c, axis, on);
}
int WrapperDriver::amplifier_fault(mc_ctrl_t& c, int axis, int* fault) {
  return mc_amplifier_fault_fhx(c, axis, fault);
}
int WrapperDriver::align_view_indicator(mc_ctrl_t& c, int on) {
  return mc_set_align_view_indicator_fhx(c, on);
}
int WrapperDriver::close(mc_ctrl_t& c) { return mc_close_comm_fhx(c); }
int WrapperDriver::open(mc_ctrl_t& c, const char* name, int option1, int option2, int* result,
                        int* done) {
  return mc_open_comm_fhx(c, name, static_cast<uint8_t>(option1), option2, result, done);
}
// The wrapper recovers by itself; there is no line to clear.
int WrapperDriver::recover(mc_ctrl_t&) { return 0; }

namespace felbrin::motion {

void set_wrapper_library(std::string_view name_or_path) {
  std::lock_guard lock(g_mutex);
  g_library = name_or_path;
}

const char* wrapper_library() {
  static thread_local std::string name;
  std::lock_guard lock(g_mutex);
  name = g_library.empty() ? default_library_name() : g_library;
  return name.c_str();
}

void unbind_wrapper() {
  std::lock_guard lock(g_mutex);
  g_table = nullptr;
  plat::host::free_library(g_module);
  g_module = nullptr;
  g_initialised = false;
}

}  // namespace felbrin::motion
