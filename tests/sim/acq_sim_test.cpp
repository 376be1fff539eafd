// The stand-in acquisition library, loaded as a host loads it (by name,
// beside the test program) and driven by small scenario files in the
// initialisation file folder. The table's names are written out here rather
// than taken from the library's lists, so a name left out of an export list
// shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "instrument/acquisition/fx_acq_abi.h"
#include "platform/host_platform.h"
#include "platform/platform.h"
#include "sim/acquisition/fxsim.h"
#include "support/ini_folder.h"
#include "support/loaded_library.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::beside_program;
using felbrin::test::EnvSetting;
using felbrin::test::IniFolder;
using felbrin::test::LoadedLibrary;

constexpr const char* kTableNames[FX_ACQ_ENTRY_COUNT] = {
    "InitDeviceMgr",           "FreeDeviceResources",     "GetNumAcqDevices",        "GetFirstAcqDeviceName",
    "GetNextAcqDeviceName",    "GetAcqDeviceId",          "SetCurrentAcqDevice",     "OpenDevice",
    "CloseDevice",             "ReadDevice",              "AcquireStart",            "AcquireStop",
    "AcqDeviceQuery",          "AcqDeviceSet",            "GetLastAcqError",         "GetNumInputDevices",
    "GetFirstInputDeviceName", "GetNextInputDeviceName",  "GetInputDeviceId",        "SetCurrentInputDevice",
    "GetCurrentInputDevice",   "AcqInputDeviceQuery",     "AcqInputDeviceSet",       "GetNumInputModes",
    "GetFirstInputModeName",   "GetNextInputModeName",    "GetInputModeId",          "SetCurrentInputMode",
    "GetCurrentInputMode",     "AcqInputModeQuery",       "AcqInputModeSet"};
constexpr const char* kLdNames[FX_LD_ENTRY_COUNT] = {"SetLDMinArea", "SetLDTrelScale", "SetLDPhaseRes",
                                                     "SetLDNFringes", "RunLDCommand"};

// Two devices: 100 with inputs 110 (modes 111, 112) and 120 (mode 121), and
// 200 with input 210; IDs not given are made up from the positions.
constexpr std::string_view kTwoDevices =
    "[FXSIM]\nDEVICES = PCI0, PCI1\n[ACQDEVICE1]\nINPUTS = CAM0, CAM1\nVALUE.GRAB DATA BUFFERS = 4\n"
    "[ACQDEVICE1.INPUT1]\nMODES = Full, Half\n[ACQDEVICE1.INPUT1.MODE1]\nVALUE.DATA RATE = 30\n"
    "[ACQDEVICE1.INPUT2]\nMODES = Live\n[ACQDEVICE2]\nINPUTS = CAM9\n";

// A scenario of one mode (IDs 100, 110, 111) with the given values and frames.
std::string one_mode(std::string_view mode_values, std::string_view frames) {
  return "[FXSIM]\nDEVICES=D\n[ACQDEVICE1]\nINPUTS=C\n[ACQDEVICE1.INPUT1]\nMODES=M\n[ACQDEVICE1.INPUT1.MODE1]\n" +
         std::string(mode_values) + "[FRAMES]\n" + std::string(frames);
}

std::string show(const char* name) { return name != nullptr ? name : "(null)"; }

// A library of the build, bound as a host binds it, with a fresh state.
struct AcqLibrary {
  explicit AcqLibrary(const char* base = "FxAcq") : lib(beside_program(base)) {
    if (lib.handle() == nullptr) return;
    auto* slots = reinterpret_cast<void**>(&t);
    for (int i = 0; i < FX_ACQ_ENTRY_COUNT; ++i) {
      slots[i] = plat::host::find_symbol(lib.handle(), kTableNames[i]);
      if (slots[i] != nullptr) ++found;
    }
    if (auto reset = control<void (*)()>("fxsim_reset")) reset();
  }
  template <typename F>
  F control(const char* name) const {
    return reinterpret_cast<F>(plat::host::find_symbol(lib.handle(), name));
  }
  void clear_error() const { control<void (*)(int32_t)>("fxsim_set_last_error")(0); }
  int32_t init(IniFolder& folder, std::string_view text) const {
    return t.InitDeviceMgr(folder.write("fxsim.ini", text).c_str());
  }
  int32_t select_mode() const {
    return t.SetCurrentAcqDevice(100) + t.SetCurrentInputDevice(110) + t.SetCurrentInputMode(111);
  }
  LoadedLibrary lib;
  fx_acq_table_t t{};
  int found = 0;
};

TEST(AcqSim, LibrariesExportExactlyTheirTables) {
  const AcqLibrary full, nonext("FxAcq_nonextmode");
  ASSERT_NE(full.lib.handle(), nullptr) << full.lib.path();
  EXPECT_EQ(full.found, FX_ACQ_ENTRY_COUNT);
  ASSERT_NE(nonext.lib.handle(), nullptr);
  EXPECT_EQ(nonext.found, FX_ACQ_ENTRY_COUNT - 1);
  EXPECT_EQ(nonext.t.GetNextInputModeName, nullptr);
  // The simulation's own functions stay inside.
  EXPECT_EQ(plat::host::find_symbol(full.lib.handle(), "_ZN3sim3acq12CameraSystem4initEPKc"), nullptr);
  for (const auto& [base, missing] : {std::pair<const char*, int>{"fxsim_ld", -1}, {"fxsim_ld_norun", 4}}) {
    SCOPED_TRACE(base);
    const LoadedLibrary ld(beside_program(base));
    ASSERT_NE(ld.handle(), nullptr);
    for (int i = 0; i < FX_LD_ENTRY_COUNT; ++i)
      EXPECT_EQ(plat::host::find_symbol(ld.handle(), kLdNames[i]) == nullptr, i == missing) << kLdNames[i];
  }
}

TEST(AcqSim, NamesRunOutAndMissingOnesAreNull) {
  const struct {
    const char* name;
    std::string_view text;
    int level;  // 0 devices, 1 inputs of device 100, 2 modes of its input 110
    int count;
    std::vector<std::string> names;  // first, then next until one past the count
  } cases[] = {
      {"a missing name", "[FXSIM]\nDEVICES = A, , C\n", 0, 3, {"A", "(null)", "C", "(null)"}},
      {"count above the names", "[FXSIM]\nDEVICES = A, B\nDEVICE_COUNT = 4\n", 0, 4,
       {"A", "B", "(null)", "(null)", "(null)"}},
      {"no devices", "[FXSIM]\nDEVICES =\n", 0, 0, {"(null)"}},
      {"input count below the names",
       "[FXSIM]\nDEVICES=D\n[ACQDEVICE1]\nID=100\nINPUTS=X, ,Z\nINPUT_COUNT=1\n[ACQDEVICE1.INPUT1]\nID=110\n", 1,
       1, {"X", "(null)"}},
      {"modes with a missing name",
       "[FXSIM]\nDEVICES=D\n[ACQDEVICE1]\nID=100\nINPUTS=X\n[ACQDEVICE1.INPUT1]\nID=110\nMODES=, M2\n", 2, 2,
       {"(null)", "M2", "(null)"}},
  };
  IniFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AcqLibrary a;
    ASSERT_EQ(a.init(folder, c.text), 1);
    ASSERT_EQ(c.level < 1 || a.t.SetCurrentAcqDevice(100) == 1, true);
    ASSERT_EQ(c.level < 2 || a.t.SetCurrentInputDevice(110) == 1, true);
    const fx_GetNumAcqDevices counts[] = {a.t.GetNumAcqDevices, a.t.GetNumInputDevices, a.t.GetNumInputModes};
    const fx_GetFirstAcqDeviceName firsts[] = {a.t.GetFirstAcqDeviceName, a.t.GetFirstInputDeviceName,
                                               a.t.GetFirstInputModeName};
    const fx_GetNextAcqDeviceName nexts[] = {a.t.GetNextAcqDeviceName, a.t.GetNextInputDeviceName,
                                             a.t.GetNextInputModeName};
    EXPECT_EQ(counts[c.level](), c.count);
    std::vector<std::string> names{show(firsts[c.level]())};
    while (names.size() < c.names.size()) names.push_back(show(nexts[c.level]()));
    EXPECT_EQ(names, c.names);
  }
}

TEST(AcqSim, SelectingSucceedsOnlyUnderTheCurrentParentAndQueriesWithoutAValueFail) {
  // Selections (no key) and queries (a key) at level 0 device, 1 input, 2
  // mode. Errors: 10 no such mode, 11 no such ID or device, 13 no such value.
  const struct {
    const char* what;
    int level, id;
    const char* key;
    int ok, error, current_input;
    double value;  // a query without a value gives -7777
  } steps[] = {
      {"an input before any device", 1, 110, nullptr, 0, 11, 0, 0},
      {"the first device", 0, 100, nullptr, 1, 0, 0, 0},
      {"its input", 1, 110, nullptr, 1, 0, 110, 0},
      {"the other device's input", 1, 210, nullptr, 0, 11, 110, 0},
      {"the other input's mode", 2, 121, nullptr, 0, 10, 110, 0},
      {"a mode of this input", 2, 111, nullptr, 1, 0, 110, 0},
      {"an ID of 0", 0, 0, nullptr, 0, 11, 110, 0},
      {"a device value", 0, 0, "GRAB DATA BUFFERS", 1, 0, 110, 4},
      {"a mode value of the device", 0, 0, "DATA RATE", 0, 13, 110, -7777},
      {"a mode value", 2, 0, "DATA RATE", 1, 0, 110, 30},
      {"a key in another case", 2, 0, "data rate", 0, 13, 110, -7777},
      {"an input without the value", 1, 0, "DATA RESOLUTION", 0, 13, 110, -7777},
      {"the second device: its input goes", 0, 200, nullptr, 1, 0, 0, 0},
      {"the first device's input now", 1, 110, nullptr, 0, 11, 0, 0},
  };
  IniFolder folder;
  AcqLibrary a;
  ASSERT_EQ(a.init(folder, kTwoDevices), 1);
  const fx_SetCurrentAcqDevice selects[] = {a.t.SetCurrentAcqDevice, a.t.SetCurrentInputDevice,
                                            a.t.SetCurrentInputMode};
  const fx_AcqDeviceQuery queries[] = {a.t.AcqDeviceQuery, a.t.AcqInputDeviceQuery, a.t.AcqInputModeQuery};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    a.clear_error();
    double value = 0;
    EXPECT_EQ(s.key != nullptr ? queries[s.level](s.key, &value) : selects[s.level](s.id), s.ok);
    EXPECT_EQ(value, s.value);
    EXPECT_EQ(a.t.GetLastAcqError(), s.error);
    EXPECT_EQ(a.t.GetCurrentInputDevice(), s.current_input);
  }
}

TEST(AcqSim, FramesHaveTheModesSizeTheScriptsContentAndItsErrors) {
  const std::string_view two_by_two = "VALUE.MAX USER WIDTH=2\nVALUE.MAX USER HEIGHT=2\n";
  const struct {
    const char* name;
    std::string_view mode, frames;
    int count, bytes;              // AcquireStart's frames, the frame's size
    std::vector<uint16_t> pixels;  // of the first frame, as they come
    std::vector<int> errors = {};  // of each read after it in turn, 0 for a frame
  } cases[] = {
      {"8 bits", "VALUE.MAX USER WIDTH=4\nVALUE.MAX USER HEIGHT=2\n", "FRAME=FILL 7\n", 0, 8, {7, 7, 7, 7, 7, 7, 7, 7}},
      {"12 bits, scaled",
       "VALUE.MAX USER WIDTH=8\nVALUE.MAX USER HEIGHT=6\nVALUE.X DATA SCALE=2\nVALUE.Y DATA SCALE=3\n"
       "VALUE.DATA RESOLUTION=12\n",
       "FRAME=FILL 300\n", 0, 16, std::vector<uint16_t>(8, 300)},
      {"a level above the resolution", "VALUE.MAX USER WIDTH=2\nVALUE.MAX USER HEIGHT=1\nVALUE.DATA RESOLUTION=10\n",
       "FRAME=FILL 5000\n", 0, 4, {1023, 1023}},
      {"pixels spread on a background", "VALUE.MAX USER WIDTH=4\nVALUE.MAX USER HEIGHT=2\n",
       "FRAME=PIXELS 2 200 9\n", 0, 8, {200, 9, 9, 9, 200, 9, 9, 9}},
      {"a fractional scale is cut", "VALUE.MAX USER WIDTH=5\nVALUE.MAX USER HEIGHT=1\nVALUE.X DATA SCALE=2\n",
       "FRAME=FILL 1\n", 0, 2, {1, 1}},
      {"lost frames, then again from the start", two_by_two, "FRAME=FILL 1\nFRAME=ERROR 17\nFRAME=ERROR 21\n", 0,
       4, {1, 1, 1, 1}, {17, 21, 0, 17}},
      {"no loop", two_by_two, "FRAME=FILL 1\nFRAME=ERROR 18\nLOOP=0\n", 0, 4, {1, 1, 1, 1}, {18, 16, 16}},
      {"a limited acquisition", two_by_two, "FRAME=FILL 1\n", 2, 4, {1, 1, 1, 1}, {0, 16}},
  };
  IniFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AcqLibrary a;
    ASSERT_EQ(a.init(folder, one_mode(c.mode, c.frames)), 1);
    ASSERT_EQ(a.select_mode(), 3);
    const int bytes = c.bytes;
    std::vector<unsigned char> frame(static_cast<std::size_t>(bytes) + 1, 0xEE);
    for (const int open : {0, 1}) {  // reads before the open and before the start fail
      EXPECT_EQ(a.t.ReadDevice(frame.data(), bytes), 0);
      EXPECT_EQ(a.t.GetLastAcqError(), open ? 7 : 6);
      ASSERT_EQ(open || a.t.OpenDevice() == 1, true);
    }
    ASSERT_EQ(a.t.AcquireStart(c.count), 1);
    EXPECT_EQ(a.t.ReadDevice(frame.data(), bytes + 1), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), 12) << "a buffer of another size";
    ASSERT_EQ(a.t.ReadDevice(frame.data(), bytes), 1);
    const std::size_t step = static_cast<std::size_t>(bytes) / c.pixels.size();
    std::vector<uint16_t> pixels;
    for (std::size_t i = 0; i < c.pixels.size(); ++i)
      pixels.push_back(static_cast<uint16_t>(frame[i * step] | (step == 2 ? frame[i * step + 1] << 8 : 0)));
    EXPECT_EQ(pixels, c.pixels);
    EXPECT_EQ(frame[static_cast<std::size_t>(bytes)], 0xEE) << "written past the frame";
    std::vector<int> errors;
    for (std::size_t i = 0; i < c.errors.size(); ++i) {
      a.clear_error();
      errors.push_back(a.t.ReadDevice(frame.data(), bytes) == 1 ? 0 : a.t.GetLastAcqError());
    }
    EXPECT_EQ(errors, c.errors);
  }
}

TEST(AcqSim, CallsAreTracedWithTheEnvironmentAndFailuresWithTheirReason) {
  IniFolder folder;
  const std::string trace = folder.temp().file("trace.txt");
  const EnvSetting tracing("FXSIM_TRACE", trace);
  const EnvSetting res("PULSARRES", "/cfg");
  const EnvSetting vcf("PULSARVCF", "");
  const auto dcf = plat::host::get_env("PULSARDCF");
  const std::string env = "InitDeviceMgr sees PULSARRES=\"/cfg\" PULSARVCF=null PULSARDCF=" +
                          (dcf ? "\"" + *dcf + "\"" : std::string("null")) + "\n";
  {
    AcqLibrary a;
    ASSERT_EQ(a.init(folder, kTwoDevices), 1);
    EXPECT_EQ(a.t.GetFirstAcqDeviceName(), std::string("PCI0"));
    EXPECT_EQ(a.t.SetCurrentAcqDevice(210), 0);
    EXPECT_EQ(a.t.SetCurrentAcqDevice(100), 1);
    double v = 0;
    EXPECT_EQ(a.t.AcqDeviceQuery("GRAB DATA BUFFERS", &v), 1);
    a.t.FreeDeviceResources(nullptr);
    EXPECT_EQ(felbrin::test::read_file(trace), env +
                                                   "InitDeviceMgr(\"fxsim.ini\") = 1\n"
                                                   "GetFirstAcqDeviceName() = \"PCI0\"\n"
                                                   "SetCurrentAcqDevice(210) = 0 error 11\n"
                                                   "SetCurrentAcqDevice(100) = 1\n"
                                                   "AcqDeviceQuery(\"GRAB DATA BUFFERS\") = 1 value 4\n"
                                                   "FreeDeviceResources(null) = 1\n");
  }
  const struct {
    const char* name;
    std::optional<std::string_view> text;  // none: no such file
    int error;
    std::string reason;
  } failures[] = {
      {"no file", std::nullopt, 24, "(cannot read "},
      {"the scenario says so", "[FXSIM]\nINIT=0\nINIT_ERROR=23\n", 23, "(the scenario fails the initialisation)"},
      {"an unknown key", "[FXSIM]\nDEVICES=A\n[ACQDEVICE1]\nINPUT_CUONT=2\n", 23,
       "(line 4: unknown key \"INPUT_CUONT\")"},
      {"a bad frame", "[FRAMES]\nFRAME=FILL\n", 23,
       "(line 2: a frame is FILL level, PIXELS count level background or ERROR number)"},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(trace);
    AcqLibrary a;
    const std::string name = c.text ? folder.write("fxsim.ini", *c.text) : "fxsim_no_such.ini";
    EXPECT_EQ(a.t.InitDeviceMgr(name.c_str()), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), c.error);
    EXPECT_EQ(a.t.GetNumAcqDevices(), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), 22) << "nothing works before a good initialisation";
    const std::string line = "InitDeviceMgr(\"" + name + "\") = 0 error " + std::to_string(c.error) + " " + c.reason;
    EXPECT_EQ(felbrin::test::read_file(trace).find(env + line), 0u) << felbrin::test::read_file(trace);
  }
  std::filesystem::remove(trace);
  const LoadedLibrary ld(beside_program("fxsim_ld"));
  const auto run = reinterpret_cast<fx_RunLDCommand>(plat::host::find_symbol(ld.handle(), "RunLDCommand"));
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run("fringes on"), 1);
  EXPECT_EQ(felbrin::test::read_file(trace), "RunLDCommand(\"fringes on\") = 1\n");
}

TEST(AcqSim, UnloadingForgetsEverything) {
  IniFolder folder;
  {
    AcqLibrary a;
    ASSERT_EQ(a.init(folder, kTwoDevices), 1);
    EXPECT_EQ(a.t.SetCurrentAcqDevice(100), 1);
    a.control<void (*)(int32_t)>("fxsim_set_last_error")(9);
    EXPECT_EQ(a.control<int32_t (*)()>("fxsim_call_count")(), 2);
  }
  // Without the reset AcqLibrary makes: a library that stayed loaded would
  // still count the calls above, remember the error and the scenario.
  const LoadedLibrary again(beside_program("FxAcq"));
  for (const char* name : {"fxsim_call_count", "GetLastAcqError", "GetNumAcqDevices"}) {
    const auto call = reinterpret_cast<int32_t (*)()>(plat::host::find_symbol(again.handle(), name));
    ASSERT_NE(call, nullptr) << name;
    EXPECT_EQ(call(), 0) << name;
  }
}

}  // namespace
