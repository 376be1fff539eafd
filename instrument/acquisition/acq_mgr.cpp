// The camera acquisition library's binding and device discovery.
#include "instrument/acquisition/acq_mgr.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/host_utils.h"
#include "common/parsers.h"
#include "common/util.h"
#include "instrument/acquisition/acq_grab.h"
#include "instrument/acquisition/acq_internal.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_grammar.h"
#include "instrument/record/sys_info.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

namespace {

// The entries in the table's order.
constexpr std::array<const char*, FX_ACQ_ENTRY_COUNT> kEntryNames = {"InitDeviceMgr",
                                                                     "FreeDeviceResources",
                                                                     "GetNumAcqDevices",
                                                                     "GetFirstAcqDeviceName",
                                                                     "GetNextAcqDeviceName",
                                                                     "GetAcqDeviceId",
                                                                     "SetCurrentAcqDevice",
                                                                     "OpenDevice",
                                                                     "CloseDevice",
                                                                     "ReadDevice",
                                                                     "AcquireStart",
                                                                     "AcquireStop",
                                                                     "AcqDeviceQuery",
                                                                     "AcqDeviceSet",
                                                                     "GetLastAcqError",
                                                                     "GetNumInputDevices",
                                                                     "GetFirstInputDeviceName",
                                                                     "GetNextInputDeviceName",
                                                                     "GetInputDeviceId",
                                                                     "SetCurrentInputDevice",
                                                                     "GetCurrentInputDevice",
                                                                     "AcqInputDeviceQuery",
                                                                     "AcqInputDeviceSet",
                                                                     "GetNumInputModes",
                                                                     "GetFirstInputModeName",
                                                                     "GetNextInputModeName",
                                                                     "GetInputModeId",
                                                                     "SetCurrentInputMode",
                                                                     "GetCurrentInputMode",
                                                                     "AcqInputModeQuery",
                                                                     "AcqInputModeSet"};
static_assert(sizeof(fx_acq_table_t) == FX_ACQ_ENTRY_COUNT * sizeof(void*));

constexpr std::array<const char*, FX_LD_ENTRY_COUNT> kDisplayNames = {
    "SetLDMinArea", "SetLDTrelScale", "SetLDPhaseRes", "SetLDNFringes", "RunLDCommand"};
static_assert(sizeof(fx_ld_table_t) == FX_LD_ENTRY_COUNT * sizeof(void*));

constexpr const char* kLockName = "TRELFXCAL";
constexpr int kLockWaitMs = 500;
constexpr const char* kEnvVars[] = {"PULSARRES", "PULSARVCF", "PULSARDCF"};

std::string default_library() {
  return std::string(plat::kSharedLibraryPrefix) + "FxAcq" +
         std::string(plat::kSharedLibrarySuffix);
}

struct Module {
  std::mutex mutex;  // guards the settings below that tests change
  std::string library_setting;
  const fx_acq_table_t* installed = nullptr;

  void* library = nullptr;
  fx_acq_table_t table{};
  bool bound = false;
  void* display = nullptr;
  fx_ld_table_t display_table{};
  bool display_bound = false;
  int current_mode = -1;
  // Never destroyed: a thread may still hold its address when the library
  // closes. Handed out only while the library is open.
  std::mutex copy_guard;
  std::atomic<bool> copy_guard_open{false};
  plat::host::NamedLock lock;
};

Module& module() {
  static Module m;
  return m;
}

// Resolves names into a table of function pointers laid out in their order.
template <class Table, std::size_t N>
bool resolve(void* library, const std::array<const char*, N>& names, Table& out) {
  static_assert(sizeof(Table) == N * sizeof(void*));
  std::array<void*, N> found{};
  for (std::size_t i = 0; i < N; ++i) {
    found[i] = plat::host::find_symbol(library, names[i]);
    if (found[i] == nullptr) return false;
  }
  std::memcpy(static_cast<void*>(&out), found.data(), sizeof out);
  return true;
}

const fx_acq_table_t* bound_table() {
  Module& m = module();
  return m.bound ? &m.table : nullptr;
}

void set_pulsar_environment() {
  if (plat::host::get_env("PULSARRES")) return;
  const char* config = u_config_dir();
  if (config == nullptr) return;
  for (const char* name : kEnvVars) plat::host::set_env(name, config);
}

void list_ini_file(const char* ini_file) {
  u_log_fn("INI file = %s\n", ini_file);
  const std::optional<std::string> root = plat::host::get_env("SystemRoot");
  if (!root) {
    u_log_fn("Cannot access SystemRoot environment variable\n");
    return;
  }
  const std::string path = u_path_join(*root, ini_file);
  if (u_file_exists(path.c_str())) {
    u_log_fn("Contents of INI file %s:\n", path.c_str());
    u_print_text_file(path.c_str(), "  ");
  } else {
    u_log_fn("Cannot access INI file %s\n", path.c_str());
  }
}

// Truncated toward zero, then held to the field's range; NaN gives 0.
int16_t to_int16(double v) {
  return static_cast<int16_t>(std::clamp(u_saturated_int(v), -32768, 32767));
}

// A query's value, or `fallback` when the key has none.
double query(fx_AcqInputModeQuery ask, const char* key, double fallback) {
  double v = 0;
  return ask(key, &v) != 0 ? v : fallback;
}

int fail_timed(const char* format, const char* who, int code) {
  u_log_timed(format, who);
  return code;
}

int fail(const char* format, const char* who, int code) {
  u_log_fn(format, who);
  return code;
}

void reset_discovery(sb_acq_state_t& a) {
  std::fill(std::begin(a.deviceIds), std::end(a.deviceIds), 0);
  a.deviceCount = a.currentDevice = 0;
  for (auto& row : a.inputIds) std::fill(std::begin(row), std::end(row), 0);
  a.cameraCount = a.primaryInput = a.secondaryInput = 0;
  std::fill(std::begin(a.modes), std::end(a.modes), acq_mode_t{});
  a.modeCount = a.secondaryModeId = a.secondaryModeCount = 0;
  a.highestMode = a.currentMode = -1;
  a.grabDataBuffers = 0;
}

// Takes the acquisition-system lock; 0 or ERR_ACQ_INIT_DEV, logged.
int take_lock() {
  Module& m = module();
  // A second start-up in this process keeps the lock it holds.
  if (m.lock.held()) return 0;
  const int64_t start = plat::monotonic_ms();
  if (m.lock.acquire(kLockName, kLockWaitMs)) return 0;
  // A refusal before the wait is over means the lock could not be made.
  if (plat::monotonic_ms() - start < kLockWaitMs / 2)
    return fail_timed("%s: Cannot create system resource\n", "acq_mgrinit", ERR_ACQ_INIT_DEV);
  return fail_timed("%s: Acquisition system in use by another process\n", "acq_mgrinit",
                    ERR_ACQ_INIT_DEV);
}

int start_up(sysInfo_t* s, int selector, const char* cal_file) {
  s->acqFlag = 0;
  s->fileSelector = static_cast<uint8_t>(selector);
  if (s->fd > 0) {
    plat::close_descriptor(s->fd);
    s->fd = 0;
  }
  if (const int rc = sb_readCal(0, cal_file)) return rc;
  if (const int rc = take_lock()) return rc;
  if (acq_mgropen("FxAcq.ini") != 0) return ERR_ACQ_INIT_DEV;

  reset_discovery(s->acq);
  module().current_mode = -1;
  for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes}) {
    if (const int rc = step(s)) return rc;
  }
  const sb_acq_state_t& a = s->acq;
  u_log_fn("Num acquisition devices    = %d\n", a.deviceCount);
  u_log_fn("Num cameras                = %d\n", a.cameraCount);
  u_log_fn("Num primary camera modes   = %d\n", a.modeCount);
  u_log_fn("Num secondary camera modes = %d\n", a.secondaryModeCount);
  u_log_fn("Primary camera type        = %s\n",
           std::string(felbrin::cal::camera_type_name(s->cameraType)).c_str());

  const fx_acq_table_t& t = *bound_table();
  if (t.SetCurrentAcqDevice(a.currentDevice) == 0)
    return fail_timed("%s: Cannot select the current acquisition device\n", "acq_mgrinit",
                      ERR_ACQ_INVALID_DEVICE);
  if (const char* config = u_config_dir()) t.AcqDeviceSet("CFG FILE PATH", config);
  if (t.SetCurrentInputDevice(a.primaryInput) == 0)
    return fail_timed("%s: Cannot set selected input device\n", "acq_mgrinit",
                      ERR_ACQ_INVALID_DEVICE);
  return 0;
}

// Selects a mode by name: its ID, or 0 with the failure's code in *rc.
int select_mode(const fx_acq_table_t& t, const char* name, int* rc) {
  const int id = t.GetInputModeId(name);
  if (id == 0) {
    *rc = fail("%s: Cannot obtain mode ID\n", "acq_getinputmodes", ERR_ACQ_INVALID_DEVICE);
    return 0;
  }
  if (t.SetCurrentInputMode(id) == 0) {
    *rc = fail("%s: Cannot set selected input mode\n", "acq_getinputmodes", ERR_ACQ_INVALID_DEVICE);
    return 0;
  }
  return id;
}

acq_mode_t mode_values(const fx_acq_table_t& t, int id) {
  acq_mode_t m;
  m.id = id;
  m.dataRate = query(t.AcqInputModeQuery, "DATA RATE", 0);
  const double width = query(t.AcqInputModeQuery, "MAX USER WIDTH", 0);
  const double height = query(t.AcqInputModeQuery, "MAX USER HEIGHT", 0);
  double x_scale = query(t.AcqInputModeQuery, "X DATA SCALE", 1);
  double y_scale = query(t.AcqInputModeQuery, "Y DATA SCALE", 1);
  // A scale that cannot divide counts as none; so does a resolution that
  // cannot be one.
  if (!(x_scale > 0)) x_scale = 1;
  if (!(y_scale > 0)) y_scale = 1;
  int32_t resolution = u_saturated_int(query(t.AcqInputModeQuery, "DATA RESOLUTION", 8));
  if (resolution <= 0) resolution = 8;
  m.userWidth = to_int16(width / x_scale);
  m.userHeight = to_int16(height / y_scale);
  m.resolution = resolution;
  m.bytesPerPixel = static_cast<int32_t>((static_cast<int64_t>(resolution) + 7) / 8);
  double period = 0;
  if (t.AcqInputModeQuery("MEAS INTEGRATION PERIOD", &period) == 0)
    period = m.dataRate > 0 ? 1000 / m.dataRate : 0;
  m.integrationPeriod = u_saturated_int(period);
  return m;
}

}  // namespace

int acq_mgropen(const char* ini_file) {
  Module& m = module();
  if (m.library != nullptr || m.bound) acq_mgrclose(nullptr);

  u_log_fn("Loading library FxAcq.dll\n");
  std::string name;
  const fx_acq_table_t* installed = nullptr;
  {
    std::lock_guard lock(m.mutex);
    name = m.library_setting.empty() ? default_library() : m.library_setting;
    installed = m.installed;
  }
  if (installed != nullptr) {
    m.table = *installed;
  } else {
    m.library = u_load_library(name, nullptr);
    if (m.library == nullptr)
      return fail("%s: FxAcq.dll missing\n", "acq_mgropen", ERR_ACQ_MISSING_DLL);
    if (!resolve(m.library, kEntryNames, m.table)) {
      u_log_fn("%s: FxAcq.dll invalid or corrupted\n", "acq_mgropen");
      acq_mgrclose(nullptr);
      return ERR_ACQ_INVALID_DLL;
    }
  }
  m.bound = true;

  set_pulsar_environment();
  u_log_fn("Initializing FxAcq.dll\n");
  if (ini_file != nullptr) list_ini_file(ini_file);
  if (m.table.InitDeviceMgr(ini_file) == 0) {
    u_log_timed("%s: FxAcq.dll initialization failed - verify that FxAcq.ini is correct\n",
                "acq_mgropen");
    acq_mgrclose(nullptr);
    return ERR_ACQ_INIT_DEV;
  }
  fx_ld_init();
  m.current_mode = -1;
  m.copy_guard_open = true;
  return 0;
}

void acq_mgrclose(sysInfo_t* s) {
  // A live mode reads through the library: it ends before the library goes,
  // and no grab may be under way while it goes.
  acq_live_stop();
  const std::lock_guard in_use(felbrin::acq::use_guard());
  Module& m = module();
  // Only a bound table may be called: a failed binding has none.
  if (m.bound && m.table.FreeDeviceResources != nullptr) m.table.FreeDeviceResources(s);
  if (m.library != nullptr) plat::host::free_library(m.library);
  m.library = nullptr;
  // Pointers into an unloaded library must never be called again.
  m.table = fx_acq_table_t{};
  m.bound = false;
  if (s != nullptr) {
    m.lock.release();
    s->acqFlag = 0;
  }
  m.copy_guard_open = false;
}

void fx_ld_init() {
  Module& m = module();
  if (m.display != nullptr) plat::host::free_library(m.display);
  m.display = nullptr;
  m.display_table = fx_ld_table_t{};
  m.display_bound = false;
  // The module named in FxAcq.ini, whatever initialisation file the library got.
  const std::string name =
      plat::host::ini_value("FxAcq.ini", "ACQDEVICE1", "MODULE", "pulsaracq.dll");
  m.display = plat::host::load_library(name.c_str());
  if (m.display == nullptr) u_log_fn("%s: unable to access frame grabber DLL", "fx_ld_init");
  if (m.display != nullptr && resolve(m.display, kDisplayNames, m.display_table)) {
    m.display_bound = true;
    return;
  }
  m.display_table = fx_ld_table_t{};
  if (m.display != nullptr) plat::host::free_library(m.display);
  m.display = nullptr;
  u_log_fn("Fathomix control of live display settings is not enabled.\n");
}

int acq_mgrinit(int selector, const char* cal_file) {
  sysInfo_t* s = &sysInfo[0];
  const int rc = start_up(s, selector, cal_file);
  if (rc != 0) acq_mgrclose(s);
  return rc;
}

int acq_last_error() {
  static constexpr struct {
    const char* text;
    int code;
  } kErrors[] = {
      {"Device Open\n", ERR_ACQ_DEVICE_OPEN},
      {"Control File\n", ERR_ACQ_CMD},
      {"Host Resource\n", ERR_ACQ_CMD},
      {"Input Device Open\n", ERR_ACQ_DEVICE_OPEN},
      {"Device Busy\n", ERR_ACQ_DEVICE_BUSY},
      {"Device Closed\n", ERR_ACQ_DEVICE_CLOSE},
      {"Device Not Ready\n", ERR_ACQ_CMD},
      {"Device Buffer\n", ERR_ACQ_CMD},
      {"Out Of Memory\n", ERR_ACQ_CMD},
      {"Invalid Device Mode Specified\n", ERR_ACQ_INVALID_MODE},
      {"Invalid Device Specified\n", ERR_ACQ_CMD},
      {"Invalid Parameter\n", ERR_ACQ_CMD},
      {"Missing Parameter\n", ERR_ACQ_CMD},
      {"System\n", ERR_ACQ_CMD},
      {"System Resource\n", ERR_ACQ_CMD},
      {"Timed Out Waiting for Frames\n", ERR_ACQ_TIMEOUT},
      {"Frame Buffer Overflow\n", ERR_LOST_FRAME},
      {"Data Corrupt\n", ERR_FRAME_DATA_CORRUPT},
      {"Unknown\n", ERR_ACQ_CMD},
      {"Device\n", ERR_ACQ_CMD},
      {"Missed Frame\n", ERR_LOST_FRAME},
      {"Device Initialize\n", ERR_ACQ_CMD},
      {"Configuration File Invalid\n", ERR_ACQ_CFGFILE_INVALID},
      {"Cannot Find File\n", ERR_CANT_OPEN_FILE},
      {"Field Drop\n", ERR_LOST_FRAME},
      {"Attempt to use unsupported functionality\n", ERR_ACQ_CMD},
  };
  const fx_acq_table_t* t = bound_table();
  if (t == nullptr) return 0;
  const int number = t->GetLastAcqError();
  if (number == 0) return 0;
  u_log_timed("Acq Error: ");
  const bool known = 1 <= number && number <= static_cast<int>(std::size(kErrors));
  u_log_fn("%s", known ? kErrors[number - 1].text : "Unknown\n");
  return known ? kErrors[number - 1].code : ERR_UNKNOWN;
}

int acq_getdevices(sysInfo_t* s) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  sb_acq_state_t& a = s->acq;
  std::fill(std::begin(a.deviceIds), std::end(a.deviceIds), 0);
  a.deviceCount = a.currentDevice = 0;
  const fx_acq_table_t* t = bound_table();
  if (t == nullptr) return ERR_ACQ_INIT_DEV;
  const int n = std::min(t->GetNumAcqDevices(), ACQ_MAX_DEVICES);
  if (n < 1) return ERR_ACQ_INIT_DEV;
  int32_t ids[ACQ_MAX_DEVICES] = {};
  for (int i = 0; i < n; ++i) {
    const char* name = i == 0 ? t->GetFirstAcqDeviceName() : t->GetNextAcqDeviceName();
    if (name == nullptr)
      return fail_timed("%s: specified device does not exist\n", "acq_getdevices",
                        ERR_ACQ_INIT_DEV);
    ids[i] = t->GetAcqDeviceId(name);
    if (ids[i] == 0)
      return fail_timed("%s: cannot retrieve specified device ID\n", "acq_getdevices",
                        ERR_ACQ_INIT_DEV);
  }
  std::copy(std::begin(ids), std::end(ids), std::begin(a.deviceIds));
  a.currentDevice = ids[0];
  a.deviceCount = n;
  return 0;
}

int acq_getinputdev(sysInfo_t* s) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  sb_acq_state_t& a = s->acq;
  for (auto& row : a.inputIds) std::fill(std::begin(row), std::end(row), 0);
  a.primaryInput = a.secondaryInput = a.cameraCount = 0;
  const fx_acq_table_t* t = bound_table();
  if (t == nullptr || a.deviceCount < 1) return ERR_ACQ_INIT_DEV;
  for (int d = 0; d < std::min(a.deviceCount, ACQ_MAX_DEVICES); ++d) {
    if (t->SetCurrentAcqDevice(a.deviceIds[d]) == 0)
      return fail("%s: cannot set selected acquisition device\n", "acq_getinputdev",
                  ERR_ACQ_INVALID_DEVICE);
    const int n = t->GetNumInputDevices();
    if (n < 1)
      return fail("%s: no valid input devices\n", "acq_getinputdev", ERR_ACQ_INVALID_DEVICE);
    // A row has room for three cameras, whatever the device reports.
    for (int i = 0; i < std::min(n, ACQ_MAX_INPUTS); ++i) {
      const char* name = i == 0 ? t->GetFirstInputDeviceName() : t->GetNextInputDeviceName();
      if (name == nullptr) continue;
      a.inputIds[d][i] = t->GetInputDeviceId(name);
      if (a.inputIds[d][i] == 0)
        return fail("%s: cannot set selected input device\n", "acq_getinputdev",
                    ERR_ACQ_INVALID_DEVICE);
    }
  }
  // Column by column: the first camera of every device comes before any
  // second one.
  for (int i = 0; i < ACQ_MAX_INPUTS; ++i) {
    for (int d = 0; d < ACQ_MAX_DEVICES; ++d) {
      const int32_t id = a.inputIds[d][i];
      if (id == 0) continue;
      if (a.cameraCount == 0) a.primaryInput = id;
      if (a.cameraCount == 1) a.secondaryInput = id;
      ++a.cameraCount;
    }
  }
  return 0;
}

int acq_getinputmodes(sysInfo_t* s) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  sb_acq_state_t& a = s->acq;
  std::fill(std::begin(a.modes), std::end(a.modes), acq_mode_t{});
  a.modeCount = a.secondaryModeId = a.secondaryModeCount = 0;
  const fx_acq_table_t* t = bound_table();
  if (t == nullptr || a.cameraCount <= 0) return ERR_ACQ_INIT_DEV;
  constexpr const char* kWho = "acq_getinputmodes";
  if (t->SetCurrentAcqDevice(a.currentDevice) == 0)
    return fail("%s: Cannot select the current acquisition device\n", kWho, ERR_ACQ_INVALID_DEVICE);
  if (t->SetCurrentInputDevice(a.primaryInput) == 0)
    return fail("%s: Cannot set selected input device\n", kWho, ERR_ACQ_INVALID_DEVICE);
  const int n = t->GetNumInputModes();
  if (n <= 0) return fail("%s: No valid input modes\n", kWho, ERR_ACQ_INVALID_DEVICE);
  if (n > ACQ_MAX_MODES)
    return fail("%s: Number of input modes exceeds maximum\n", kWho, ERR_ACQ_INVALID_DEVICE);
  for (int i = 0; i < n; ++i) {
    const char* name = i == 0 ? t->GetFirstInputModeName() : t->GetNextInputModeName();
    if (name == nullptr) continue;
    int rc = 0;
    const int id = select_mode(*t, name, &rc);
    if (id == 0) return rc;
    // Modes are kept without gaps, so the highest index is count - 1.
    a.modes[a.modeCount++] = mode_values(*t, id);
  }

  if (a.cameraCount >= 2) {
    // The device whose row holds the secondary camera; the first device is
    // selected already.
    for (int d = 1; d < std::min(a.deviceCount, ACQ_MAX_DEVICES); ++d) {
      if (std::find(std::begin(a.inputIds[d]), std::end(a.inputIds[d]), a.secondaryInput) ==
          std::end(a.inputIds[d]))
        continue;
      if (t->SetCurrentAcqDevice(a.deviceIds[d]) == 0)
        return fail("%s: Cannot select the current acquisition device\n", kWho,
                    ERR_ACQ_INVALID_DEVICE);
      break;
    }
    if (t->SetCurrentInputDevice(a.secondaryInput) == 0)
      return fail("%s: Cannot set selected input device\n", kWho, ERR_ACQ_INVALID_DEVICE);
    if (const char* name = t->GetFirstInputModeName()) {
      int rc = 0;
      const int id = select_mode(*t, name, &rc);
      if (id == 0) return rc;
      a.secondaryModeId = id;
      a.secondaryModeCount = 1;
    }
  }
  a.highestMode = a.modeCount - 1;
  double buffers = 0;
  a.grabDataBuffers =
      t->AcqDeviceQuery("GRAB DATA BUFFERS", &buffers) != 0 ? u_saturated_int(buffers) : 0;
  return 0;
}

namespace felbrin::acq {

const fx_acq_table_t* table() { return bound_table(); }

const fx_ld_table_t* display_table() {
  Module& m = module();
  return m.display_bound ? &m.display_table : nullptr;
}

std::mutex* frame_copy_guard() {
  Module& m = module();
  return m.copy_guard_open ? &m.copy_guard : nullptr;
}

void set_library(std::string_view name_or_path) {
  std::lock_guard lock(module().mutex);
  module().library_setting = name_or_path;
}

void install_table(const fx_acq_table_t* table) {
  std::lock_guard lock(module().mutex);
  module().installed = table;
}

}  // namespace felbrin::acq
