// The stand-in acquisition library: the 31 entries of the acquisition
// table (instrument/acquisition/fx_acq_abi.h) and the control functions of
// fxsim.h over one simulated acquisition system. The export lists built
// beside the tests choose which names a variant shows; everything else
// stays inside. One lock around every call: a host may grab frames on one
// thread while another asks for settings.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "instrument/acquisition/fx_acq_abi.h"
#include "platform/host_platform.h"
#include "sim/acquisition/call_trace.h"
#include "sim/acquisition/camera_system.h"
#include "sim/acquisition/fxsim.h"

namespace {

using sim::acq::Level;
using sim::acq::number;
using sim::acq::quoted;

struct State {
  std::mutex lock;
  sim::acq::CameraSystem system;
  sim::acq::CallTrace trace;
  bool trace_read = false;
  int32_t calls = 0;
};

State& state() {
  static State s;
  return s;
}

// One call of the table: holds the lock, counts the call, and traces
// "Name(arguments) = result", with the error number when the call failed.
class Call {
 public:
  explicit Call(const char* name) : guard_(state().lock), name_(name) {
    State& s = state();
    ++s.calls;
    if (!s.trace_read) {
      s.trace.refresh();
      s.trace_read = true;
    }
    failures_ = s.system.failures();
  }
  sim::acq::CameraSystem& sys() { return state().system; }
  bool tracing() const { return state().trace.on(); }
  void line(std::string_view text) const { state().trace.line(text); }

  // The result, traced; `args` and `extra` are only built when tracing.
  template <typename Args>
  int done(int result, Args&& args, std::string_view extra = {}) {
    if (tracing()) finish(std::to_string(result), args(), extra);
    return result;
  }
  int done(int result) {
    return done(result, [] { return std::string(); });
  }
  template <typename Args>
  const char* done_name(const char* result, Args&& args) {
    if (tracing()) finish(quoted(result), args(), {});
    return result;
  }

 private:
  void finish(const std::string& result, const std::string& args, std::string_view extra) {
    std::string text = std::string(name_) + '(' + args + ") = " + result;
    if (sys().failures() != failures_) text += " error " + std::to_string(sys().last_error());
    if (!extra.empty()) (text += ' ') += extra;
    line(text);
  }

  std::lock_guard<std::mutex> guard_;
  const char* name_;
  int64_t failures_ = 0;
};

auto no_args() {
  return [] { return std::string(); };
}
auto int_arg(int value) {
  return [value] { return std::to_string(value); };
}
auto text_arg(const char* text) {
  return [text] { return quoted(text); };
}

int query(const char* name, Level level, const char* key, double* value) {
  Call c(name);
  const int r = c.sys().query(level, key, value) ? 1 : 0;
  return c.done(r, text_arg(key), r != 0 ? "value " + number(*value) : std::string());
}

int set(const char* name, Level level, const char* key, const void* value) {
  Call c(name);
  const bool text = key != nullptr && value != nullptr && std::string_view(key) == "CFG FILE PATH";
  const int r = c.sys().set(level, key, value) ? 1 : 0;
  return c.done(r, [&] {
    if (value == nullptr) return quoted(key) + ", null";
    return quoted(key) + ", " +
           (text ? quoted(static_cast<const char*>(value))
                 : number(*static_cast<const double*>(value)));
  });
}

std::string env_text(const char* variable) {
  const auto value = plat::host::get_env(variable);
  return std::string(variable) + '=' + (value ? quoted(value->c_str()) : "null");
}

}  // namespace

extern "C" {

int InitDeviceMgr(const char* ini_name) {
  Call c("InitDeviceMgr");
  state().trace.refresh();
  if (c.tracing()) {
    c.line("InitDeviceMgr sees " + env_text("PULSARRES") + ' ' + env_text("PULSARVCF") + ' ' +
           env_text("PULSARDCF"));
  }
  const int r = c.sys().init(ini_name) ? 1 : 0;
  return c.done(r, text_arg(ini_name), r != 0 ? std::string() : '(' + c.sys().why() + ')');
}

void FreeDeviceResources(void* record) {
  Call c("FreeDeviceResources");
  c.sys().release();
  c.done(1, [record] { return std::string(record != nullptr ? "record" : "null"); });
}

int GetNumAcqDevices(void) {
  Call c("GetNumAcqDevices");
  return c.done(c.sys().count(Level::Device));
}
const char* GetFirstAcqDeviceName(void) {
  Call c("GetFirstAcqDeviceName");
  return c.done_name(c.sys().first_name(Level::Device), no_args());
}
const char* GetNextAcqDeviceName(void) {
  Call c("GetNextAcqDeviceName");
  return c.done_name(c.sys().next_name(Level::Device), no_args());
}
int GetAcqDeviceId(const char* name) {
  Call c("GetAcqDeviceId");
  return c.done(c.sys().id_of(Level::Device, name), text_arg(name));
}
int SetCurrentAcqDevice(int id) {
  Call c("SetCurrentAcqDevice");
  return c.done(c.sys().select(Level::Device, id) ? 1 : 0, int_arg(id));
}

int OpenDevice(void) {
  Call c("OpenDevice");
  return c.done(c.sys().open() ? 1 : 0);
}
int CloseDevice(void) {
  Call c("CloseDevice");
  return c.done(c.sys().close() ? 1 : 0);
}
int ReadDevice(void* buffer, int bytes) {
  Call c("ReadDevice");
  const int r = c.sys().read(buffer, bytes) ? 1 : 0;
  if (!c.tracing()) return r;
  return c.done(r, int_arg(bytes), "frame " + std::to_string(c.sys().frames_served()));
}
int AcquireStart(int frames) {
  Call c("AcquireStart");
  return c.done(c.sys().acquire_start(frames) ? 1 : 0, int_arg(frames));
}
int AcquireStop(void) {
  Call c("AcquireStop");
  return c.done(c.sys().acquire_stop() ? 1 : 0);
}

int AcqDeviceQuery(const char* key, double* value) {
  return query("AcqDeviceQuery", Level::Device, key, value);
}
int AcqDeviceSet(const char* key, const void* value) {
  return set("AcqDeviceSet", Level::Device, key, value);
}
int GetLastAcqError(void) {
  Call c("GetLastAcqError");
  return c.done(c.sys().last_error());
}

int GetNumInputDevices(void) {
  Call c("GetNumInputDevices");
  return c.done(c.sys().count(Level::Input));
}
const char* GetFirstInputDeviceName(void) {
  Call c("GetFirstInputDeviceName");
  return c.done_name(c.sys().first_name(Level::Input), no_args());
}
const char* GetNextInputDeviceName(void) {
  Call c("GetNextInputDeviceName");
  return c.done_name(c.sys().next_name(Level::Input), no_args());
}
int GetInputDeviceId(const char* name) {
  Call c("GetInputDeviceId");
  return c.done(c.sys().id_of(Level::Input, name), text_arg(name));
}
int SetCurrentInputDevice(int id) {
  Call c("SetCurrentInputDevice");
  return c.done(c.sys().select(Level::Input, id) ? 1 : 0, int_arg(id));
}
int GetCurrentInputDevice(void) {
  Call c("GetCurrentInputDevice");
  return c.done(c.sys().current(Level::Input));
}
int AcqInputDeviceQuery(const char* key, double* value) {
  return query("AcqInputDeviceQuery", Level::Input, key, value);
}
int AcqInputDeviceSet(const char* key, const void* value) {
  return set("AcqInputDeviceSet", Level::Input, key, value);
}

int GetNumInputModes(void) {
  Call c("GetNumInputModes");
  return c.done(c.sys().count(Level::Mode));
}
const char* GetFirstInputModeName(void) {
  Call c("GetFirstInputModeName");
  return c.done_name(c.sys().first_name(Level::Mode), no_args());
}
const char* GetNextInputModeName(void) {
  Call c("GetNextInputModeName");
  return c.done_name(c.sys().next_name(Level::Mode), no_args());
}
int GetInputModeId(const char* name) {
  Call c("GetInputModeId");
  return c.done(c.sys().id_of(Level::Mode, name), text_arg(name));
}
int SetCurrentInputMode(int id) {
  Call c("SetCurrentInputMode");
  return c.done(c.sys().select(Level::Mode, id) ? 1 : 0, int_arg(id));
}
int GetCurrentInputMode(void) {
  Call c("GetCurrentInputMode");
  return c.done(c.sys().current(Level::Mode));
}
int AcqInputModeQuery(const char* key, double* value) {
  return query("AcqInputModeQuery", Level::Mode, key, value);
}
int AcqInputModeSet(const char* key, const void* value) {
  return set("AcqInputModeSet", Level::Mode, key, value);
}

// ---- control functions (fxsim.h)

void fxsim_reset(void) {
  State& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  // Made afresh in place: GCC's sanitizer builds misjudge the move
  // assignment of its optional names as reading uninitialised memory.
  std::destroy_at(&s.system);
  std::construct_at(&s.system);
  s.trace.refresh();
  s.trace_read = true;
  s.calls = 0;
}

void fxsim_set_last_error(int32_t number) {
  const std::lock_guard<std::mutex> guard(state().lock);
  state().system.set_last_error(number);
}

int32_t fxsim_call_count(void) {
  const std::lock_guard<std::mutex> guard(state().lock);
  return state().calls;
}

int32_t fxsim_frames_served(void) {
  const std::lock_guard<std::mutex> guard(state().lock);
  return state().system.frames_served();
}

int32_t fxsim_cfg_file_path(char* out, int32_t size) {
  const std::lock_guard<std::mutex> guard(state().lock);
  const std::string& path = state().system.cfg_file_path();
  if (out != nullptr && size > 0) {
    const std::size_t n = std::min(path.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(out, path.data(), n);
    out[n] = '\0';
  }
  return static_cast<int32_t>(path.size());
}

}  // extern "C"

// The table filled in its order: a signature or an order slip here fails
// the build rather than a host at run time.
[[maybe_unused]] constexpr fx_acq_table_t kTable = {InitDeviceMgr,
                                                    FreeDeviceResources,
                                                    GetNumAcqDevices,
                                                    GetFirstAcqDeviceName,
                                                    GetNextAcqDeviceName,
                                                    GetAcqDeviceId,
                                                    SetCurrentAcqDevice,
                                                    OpenDevice,
                                                    CloseDevice,
                                                    ReadDevice,
                                                    AcquireStart,
                                                    AcquireStop,
                                                    AcqDeviceQuery,
                                                    AcqDeviceSet,
                                                    GetLastAcqError,
                                                    GetNumInputDevices,
                                                    GetFirstInputDeviceName,
                                                    GetNextInputDeviceName,
                                                    GetInputDeviceId,
                                                    SetCurrentInputDevice,
                                                    GetCurrentInputDevice,
                                                    AcqInputDeviceQuery,
                                                    AcqInputDeviceSet,
                                                    GetNumInputModes,
                                                    GetFirstInputModeName,
                                                    GetNextInputModeName,
                                                    GetInputModeId,
                                                    SetCurrentInputMode,
                                                    GetCurrentInputMode,
                                                    AcqInputModeQuery,
                                                    AcqInputModeSet};
static_assert(sizeof kTable / sizeof(void*) == FX_ACQ_ENTRY_COUNT);
