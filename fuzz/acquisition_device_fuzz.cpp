// Fuzzes the acquisition binding's discovery with a library whose every
// answer comes from the input: device, camera and mode lists (counts,
// names or their absence, IDs), the values of the mode queries and the
// library's error numbers. Whatever the library says, the record must stay
// within its arrays, and a discovery that succeeds must have chosen IDs
// the library handed out.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "fuzz/device_fuzz.h"
#include "fuzz/fuzz_support.h"
#include "instrument/acquisition/acq_mgr.h"
#include "instrument/record/sys_info.h"

namespace {

using felbrin::fuzz::ByteStream;
using felbrin::fuzz::expect;

// The input of the run, and what the library has handed out from it.
ByteStream* g_input = nullptr;
std::set<int> g_ids;
std::array<std::string, 4> g_names;
std::size_t g_next_name = 0;

int count() { return static_cast<int8_t>(g_input->byte()) % 10; }
int flag() { return g_input->byte() & 1; }

// A name, or null (one time in eight), kept alive for a few calls.
const char* name() {
  const uint8_t b = g_input->byte();
  if ((b & 7) == 0) return nullptr;
  std::string& n = g_names[g_next_name++ % g_names.size()];
  const auto bytes = g_input->take(b >> 4);
  n.assign(bytes.begin(), bytes.end());
  std::erase(n, '\0');
  return n.c_str();
}

int id() {
  const int v = static_cast<int8_t>(g_input->byte());
  g_ids.insert(v);
  return v;
}

int query(const char*, double* value) {
  *value = -7777;  // an output the binding must not use without an answer
  if (flag() == 0) return 0;
  const uint32_t bits = g_input->u32();
  *value = static_cast<int32_t>(bits) / 16.0;
  return 1;
}

fx_acq_table_t make_table() {
  fx_acq_table_t t{};
  t.InitDeviceMgr = [](const char*) { return 1; };
  t.FreeDeviceResources = [](void*) {};
  t.GetNumAcqDevices = count;
  t.GetFirstAcqDeviceName = name;
  t.GetNextAcqDeviceName = name;
  t.GetAcqDeviceId = [](const char*) { return id(); };
  t.SetCurrentAcqDevice = [](int) { return flag(); };
  t.OpenDevice = flag;
  t.CloseDevice = flag;
  t.ReadDevice = [](void*, int) { return flag(); };
  t.AcquireStart = [](int) { return flag(); };
  t.AcquireStop = flag;
  t.AcqDeviceQuery = query;
  t.AcqDeviceSet = [](const char*, const void*) { return flag(); };
  t.GetLastAcqError = [] { return static_cast<int>(g_input->u32()); };
  t.GetNumInputDevices = count;
  t.GetFirstInputDeviceName = name;
  t.GetNextInputDeviceName = name;
  t.GetInputDeviceId = [](const char*) { return id(); };
  t.SetCurrentInputDevice = [](int) { return flag(); };
  t.GetCurrentInputDevice = [] { return id(); };
  t.AcqInputDeviceQuery = query;
  t.AcqInputDeviceSet = [](const char*, const void*) { return flag(); };
  t.GetNumInputModes = count;
  t.GetFirstInputModeName = name;
  t.GetNextInputModeName = name;
  t.GetInputModeId = [](const char*) { return id(); };
  t.SetCurrentInputMode = [](int) { return flag(); };
  t.GetCurrentInputMode = [] { return id(); };
  t.AcqInputModeQuery = query;
  t.AcqInputModeSet = [](const char*, const void*) { return flag(); };
  return t;
}

void check_bounds(const sb_acq_state_t& a) {
  expect(0 <= a.deviceCount && a.deviceCount <= ACQ_MAX_DEVICES);
  expect(0 <= a.modeCount && a.modeCount <= ACQ_MAX_MODES);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (!felbrin::fuzz::usable_input(size)) return 0;
  ByteStream input({data, size});
  g_input = &input;
  g_ids.clear();
  static const fx_acq_table_t table = make_table();
  felbrin::acq::install_table(&table);
  if (acq_mgropen(nullptr) != 0) std::abort();
  auto s = std::make_unique<sysInfo_t>();
  if (acq_getdevices(s.get()) == 0) {
    expect(s->acq.deviceCount > 0 && g_ids.count(s->acq.currentDevice) == 1);
    if (acq_getinputdev(s.get()) == 0) {
      // Cameras without names are skipped, so none at all is no failure here.
      expect(s->acq.cameraCount == 0 || g_ids.count(s->acq.primaryInput) == 1);
      if (acq_getinputmodes(s.get()) == 0) expect(s->acq.highestMode == s->acq.modeCount - 1);
    }
  }
  check_bounds(s->acq);
  (void)acq_last_error();
  acq_mgrclose(nullptr);
  felbrin::acq::install_table(nullptr);
  g_input = nullptr;
  return 0;
}
