// The stand-in acquisition library and display module, loaded as a host
// loads them (by name, beside the test program) and driven by small
// scenario files in the initialisation file folder. The table's names are
// written out here rather than taken from the library's lists, so a name
// left out of an export list shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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
using felbrin::test::IniFolder;
using felbrin::test::LoadedLibrary;
using felbrin::test::EnvSetting;
using felbrin::test::TempDir;

constexpr const char* kTableNames[FX_ACQ_ENTRY_COUNT] = {
    "InitDeviceMgr",         "FreeDeviceResources",     "GetNumAcqDevices",
    "GetFirstAcqDeviceName", "GetNextAcqDeviceName",    "GetAcqDeviceId",
    "SetCurrentAcqDevice",   "OpenDevice",              "CloseDevice",
    "ReadDevice",            "AcquireStart",            "AcquireStop",
    "AcqDeviceQuery",        "AcqDeviceSet",            "GetLastAcqError",
    "GetNumInputDevices",    "GetFirstInputDeviceName", "GetNextInputDeviceName",
    "GetInputDeviceId",      "SetCurrentInputDevice",   "GetCurrentInputDevice",
    "AcqInputDeviceQuery",   "AcqInputDeviceSet",       "GetNumInputModes",
    "GetFirstInputModeName", "GetNextInputModeName",    "GetInputModeId",
    "SetCurrentInputMode",   "GetCurrentInputMode",     "AcqInputModeQuery",
    "AcqInputModeSet"};
constexpr const char* kLdNames[FX_LD_ENTRY_COUNT] = {"SetLDMinArea", "SetLDTrelScale", "SetLDPhaseRes",
                                                     "SetLDNFringes", "RunLDCommand"};

// A library of the build, bound as a host binds it.
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
  LoadedLibrary lib;
  fx_acq_table_t t{};
  int found = 0;
};

std::string show(const char* name) { return name != nullptr ? name : "(null)"; }

constexpr std::string_view kTwoDevices = R"([FXSIM]
DEVICES = PCI0, PCI1
[ACQDEVICE1]
ID = 100
INPUTS = CAM0, CAM1
VALUE.GRAB DATA BUFFERS = 4
[ACQDEVICE1.INPUT1]
ID = 110
MODES = Full, Half
[ACQDEVICE1.INPUT1.MODE1]
ID = 111
VALUE.DATA RATE = 30
VALUE.MAX USER WIDTH = 8
VALUE.MAX USER HEIGHT = 4
VALUE.DATA RESOLUTION = 12
[ACQDEVICE1.INPUT1.MODE2]
ID = 112
[ACQDEVICE1.INPUT2]
ID = 120
MODES = Live
[ACQDEVICE2]
ID = 200
INPUTS = CAM9
[ACQDEVICE2.INPUT1]
ID = 210
MODES = Only
)";

TEST(AcqSim, LibrariesExportExactlyTheirTables) {
  const AcqLibrary full;
  ASSERT_NE(full.lib.handle(), nullptr) << full.lib.path();
  EXPECT_EQ(full.found, FX_ACQ_ENTRY_COUNT);
  const AcqLibrary nonext("FxAcq_nonextmode");
  ASSERT_NE(nonext.lib.handle(), nullptr);
  EXPECT_EQ(nonext.found, FX_ACQ_ENTRY_COUNT - 1);
  EXPECT_EQ(nonext.t.GetNextInputModeName, nullptr);
  EXPECT_NE(nonext.t.GetFirstInputModeName, nullptr);
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

struct WalkCase {
  const char* name;
  std::string_view text;
  int level;  // 0 devices, 1 inputs of device 100, 2 modes of its input 110
  int count;
  std::vector<std::string> names;  // first, then next until one past the count
};

TEST(AcqSim, NamesRunOutAndMissingOnesAreNull) {
  const WalkCase cases[] = {
      {"names in order", kTwoDevices, 0, 2, {"PCI0", "PCI1", "(null)"}},
      {"a missing name", "[FXSIM]\nDEVICES = A, , C\n", 0, 3, {"A", "(null)", "C", "(null)"}},
      {"count above the names", "[FXSIM]\nDEVICES = A, B\nDEVICE_COUNT = 4\n", 0, 4,
       {"A", "B", "(null)", "(null)", "(null)"}},
      {"more than three", "[FXSIM]\nDEVICES = A,B,C,D,E\n", 0, 5, {"A", "B", "C", "D", "E", "(null)"}},
      {"no devices", "[FXSIM]\nDEVICES =\n", 0, 0, {"(null)"}},
      {"inputs", kTwoDevices, 1, 2, {"CAM0", "CAM1", "(null)"}},
      {"input count below the names",
       "[FXSIM]\nDEVICES=D\n[ACQDEVICE1]\nID=100\nINPUTS=X, ,Z\nINPUT_COUNT=1\n[ACQDEVICE1.INPUT1]\nID=110\n", 1,
       1, {"X", "(null)"}},
      {"modes", kTwoDevices, 2, 2, {"Full", "Half", "(null)"}},
      {"a missing mode name",
       "[FXSIM]\nDEVICES=D\n[ACQDEVICE1]\nID=100\nINPUTS=X\n[ACQDEVICE1.INPUT1]\nID=110\nMODES=, M2\n", 2, 2,
       {"(null)", "M2", "(null)"}},
  };
  IniFolder folder;
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    AcqLibrary a;
    ASSERT_EQ(a.found, FX_ACQ_ENTRY_COUNT);
    ASSERT_EQ(a.t.InitDeviceMgr(folder.write("walk.ini", c.text).c_str()), 1);
    if (c.level >= 1) {
      ASSERT_EQ(a.t.SetCurrentAcqDevice(100), 1);
    }
    if (c.level >= 2) {
      ASSERT_EQ(a.t.SetCurrentInputDevice(110), 1);
    }
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

TEST(AcqSim, SelectingSucceedsOnlyUnderTheCurrentParent) {
  struct Step {
    const char* what;
    int level;
    int id;
    int ok;
    int error;
    int current_input;
  };
  const Step steps[] = {
      {"an input before any device", 1, 110, 0, 11, 0},
      {"the first device", 0, 100, 1, 0, 0},
      {"its input", 1, 110, 1, 0, 110},
      {"the other device's input", 1, 210, 0, 11, 110},
      {"the other input's mode", 2, 121, 0, 10, 110},
      {"a mode of this input", 2, 112, 1, 0, 110},
      {"an ID of 0", 0, 0, 0, 11, 110},
      {"the second device: its input goes", 0, 200, 1, 0, 0},
      {"the first device's input now", 1, 110, 0, 11, 0},
      {"the second device's input", 1, 210, 1, 0, 210},
  };
  IniFolder folder;
  AcqLibrary a;
  ASSERT_EQ(a.t.InitDeviceMgr(folder.write("select.ini", kTwoDevices).c_str()), 1);
  const fx_SetCurrentAcqDevice selects[] = {a.t.SetCurrentAcqDevice, a.t.SetCurrentInputDevice,
                                            a.t.SetCurrentInputMode};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    a.control<void (*)(int32_t)>("fxsim_set_last_error")(0);
    EXPECT_EQ(selects[s.level](s.id), s.ok);
    EXPECT_EQ(a.t.GetLastAcqError(), s.error);
    EXPECT_EQ(a.t.GetCurrentInputDevice(), s.current_input);
  }
}

TEST(AcqSim, IdsOfZeroAndUnselectableDevicesFail) {
  IniFolder folder;
  AcqLibrary a;
  ASSERT_EQ(a.t.InitDeviceMgr(folder.write("ids.ini",
                                           "[FXSIM]\nDEVICES=A,B,C\n[ACQDEVICE1]\nID=0\n"
                                           "[ACQDEVICE2]\nSELECT=0\n")
                                  .c_str()),
            1);
  EXPECT_EQ(a.t.GetAcqDeviceId("A"), 0);
  EXPECT_EQ(a.t.GetLastAcqError(), 11);
  EXPECT_EQ(a.t.GetAcqDeviceId("B"), 200);  // made up from the position
  EXPECT_EQ(a.t.SetCurrentAcqDevice(200), 0);
  EXPECT_EQ(a.t.GetAcqDeviceId("C"), 300);
  EXPECT_EQ(a.t.SetCurrentAcqDevice(300), 1);
  EXPECT_EQ(a.t.GetAcqDeviceId("c"), 0);
}

TEST(AcqSim, QueriesWithoutAValueFailAndPoisonTheOutput) {
  struct Case {
    int level;
    const char* key;
    int ok;
    double value;
    int error;
  };
  const Case cases[] = {
      {0, "GRAB DATA BUFFERS", 1, 4, 0},
      {0, "DATA RATE", 0, -7777, 13},
      {2, "DATA RATE", 1, 30, 0},
      {2, "data rate", 0, -7777, 13},
      {2, "MEAS INTEGRATION PERIOD", 0, -7777, 13},
      {1, "DATA RESOLUTION", 0, -7777, 13},
  };
  IniFolder folder;
  AcqLibrary a;
  ASSERT_EQ(a.t.InitDeviceMgr(folder.write("query.ini", kTwoDevices).c_str()), 1);
  double before = 0;
  EXPECT_EQ(a.t.AcqInputModeQuery("DATA RATE", &before), 0) << "no mode selected yet";
  EXPECT_EQ(before, -7777);
  ASSERT_EQ(a.t.SetCurrentAcqDevice(100) + a.t.SetCurrentInputDevice(110) + a.t.SetCurrentInputMode(111), 3);
  const fx_AcqDeviceQuery queries[] = {a.t.AcqDeviceQuery, a.t.AcqInputDeviceQuery, a.t.AcqInputModeQuery};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    a.control<void (*)(int32_t)>("fxsim_set_last_error")(0);
    double value = 0;
    EXPECT_EQ(queries[c.level](c.key, &value), c.ok);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(a.t.GetLastAcqError(), c.error);
  }
  // A set value is what the next query gives; the path is kept as text.
  const double rate = 60;
  EXPECT_EQ(a.t.AcqInputModeSet("DATA RATE", &rate), 1);
  EXPECT_EQ(a.t.AcqInputModeQuery("DATA RATE", &before), 1);
  EXPECT_EQ(before, 60);
  EXPECT_EQ(a.t.AcqDeviceSet("CFG FILE PATH", "/cfg/dir"), 1);
  char path[4] = {};
  EXPECT_EQ(a.control<int32_t (*)(char*, int32_t)>("fxsim_cfg_file_path")(path, sizeof path), 8);
  EXPECT_STREQ(path, "/cf");
}

// A scenario of one mode with the given values and frames.
std::string one_mode(std::string_view mode_values, std::string_view frames) {
  return "[FXSIM]\nDEVICES=D\n[ACQDEVICE1]\nINPUTS=C\n[ACQDEVICE1.INPUT1]\nMODES=M\n"
         "[ACQDEVICE1.INPUT1.MODE1]\n" +
         std::string(mode_values) + "[FRAMES]\n" + std::string(frames);
}

TEST(AcqSim, FramesHaveTheModesSizeAndTheScriptsContent) {
  struct Case {
    const char* name;
    std::string_view mode;
    std::string_view frames;
    int bytes;
    std::vector<uint16_t> pixels;  // of the first frame, as they come
  };
  const Case cases[] = {
      {"8 bits", "VALUE.MAX USER WIDTH=4\nVALUE.MAX USER HEIGHT=2\n", "FRAME=FILL 7\n", 8,
       {7, 7, 7, 7, 7, 7, 7, 7}},
      {"12 bits, scaled", "VALUE.MAX USER WIDTH=8\nVALUE.MAX USER HEIGHT=6\nVALUE.X DATA SCALE=2\n"
       "VALUE.Y DATA SCALE=3\nVALUE.DATA RESOLUTION=12\n", "FRAME=FILL 300\n", 16, {300, 300, 300, 300, 300, 300, 300, 300}},
      {"a level above the resolution", "VALUE.MAX USER WIDTH=2\nVALUE.MAX USER HEIGHT=1\nVALUE.DATA RESOLUTION=10\n",
       "FRAME=FILL 5000\n", 4, {1023, 1023}},
      {"pixels spread on a background", "VALUE.MAX USER WIDTH=4\nVALUE.MAX USER HEIGHT=2\n",
       "FRAME=PIXELS 2 200 9\n", 8, {200, 9, 9, 9, 200, 9, 9, 9}},
      {"a fractional scale is cut", "VALUE.MAX USER WIDTH=5\nVALUE.MAX USER HEIGHT=1\nVALUE.X DATA SCALE=2\n",
       "FRAME=FILL 1\n", 2, {1, 1}},
  };
  IniFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AcqLibrary a;
    ASSERT_EQ(a.t.InitDeviceMgr(folder.write("frames.ini", one_mode(c.mode, c.frames)).c_str()), 1);
    ASSERT_EQ(a.t.SetCurrentAcqDevice(100) + a.t.SetCurrentInputDevice(110) + a.t.SetCurrentInputMode(111), 3);
    ASSERT_EQ(a.t.OpenDevice(), 1);
    ASSERT_EQ(a.t.AcquireStart(0), 1);
    std::vector<unsigned char> frame(static_cast<std::size_t>(c.bytes) + 2, 0xEE);
    EXPECT_EQ(a.t.ReadDevice(frame.data(), c.bytes + 1), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), 12);
    ASSERT_EQ(a.t.ReadDevice(frame.data(), c.bytes), 1);
    const std::size_t step = static_cast<std::size_t>(c.bytes) / c.pixels.size();
    std::vector<uint16_t> pixels;
    for (std::size_t i = 0; i < c.pixels.size(); ++i)
      pixels.push_back(static_cast<uint16_t>(frame[i * step] | (step == 2 ? frame[i * step + 1] << 8 : 0)));
    EXPECT_EQ(pixels, c.pixels);
    EXPECT_EQ(frame[static_cast<std::size_t>(c.bytes)], 0xEE) << "written past the frame";
  }
}

TEST(AcqSim, ScriptedErrorsAndTheEndOfTheFrames) {
  struct Case {
    const char* name;
    std::string_view frames;
    int count;  // AcquireStart's frames
    std::vector<int> errors;  // of each read in turn, 0 for a frame
  };
  const Case cases[] = {
      {"lost frames, then again from the start", "FRAME=FILL 1\nFRAME=ERROR 17\nFRAME=ERROR 21\nFRAME=ERROR 25\n", 0,
       {0, 17, 21, 25, 0, 17}},
      {"no loop", "FRAME=FILL 1\nFRAME=ERROR 18\nLOOP=0\n", 0, {0, 18, 16, 16}},
      {"a limited acquisition", "FRAME=FILL 1\n", 2, {0, 0, 16}},
  };
  IniFolder folder;
  const std::string_view mode = "VALUE.MAX USER WIDTH=2\nVALUE.MAX USER HEIGHT=2\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AcqLibrary a;
    ASSERT_EQ(a.t.InitDeviceMgr(folder.write("errors.ini", one_mode(mode, c.frames)).c_str()), 1);
    ASSERT_EQ(a.t.SetCurrentAcqDevice(100) + a.t.SetCurrentInputDevice(110) + a.t.SetCurrentInputMode(111), 3);
    unsigned char frame[4];
    EXPECT_EQ(a.t.ReadDevice(frame, 4), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), 6) << "read before the open";
    ASSERT_EQ(a.t.OpenDevice(), 1);
    EXPECT_EQ(a.t.ReadDevice(frame, 4), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), 7) << "read before the start";
    ASSERT_EQ(a.t.AcquireStart(c.count), 1);
    std::vector<int> errors;
    for (std::size_t i = 0; i < c.errors.size(); ++i) {
      a.control<void (*)(int32_t)>("fxsim_set_last_error")(0);
      errors.push_back(a.t.ReadDevice(frame, 4) == 1 ? 0 : a.t.GetLastAcqError());
    }
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(a.t.AcquireStop(), 1);
    EXPECT_EQ(a.t.CloseDevice(), 1);
    EXPECT_EQ(a.t.CloseDevice(), 0);
  }
}

TEST(AcqSim, AnOpenDeviceKeepsItsDeviceAndCamera) {
  IniFolder folder;
  AcqLibrary a;
  ASSERT_EQ(a.t.InitDeviceMgr(folder.write("open.ini", kTwoDevices).c_str()), 1);
  ASSERT_EQ(a.t.SetCurrentAcqDevice(100) + a.t.SetCurrentInputDevice(110) + a.t.SetCurrentInputMode(111), 3);
  ASSERT_EQ(a.t.OpenDevice(), 1);
  EXPECT_EQ(a.t.OpenDevice(), 0);
  EXPECT_EQ(a.t.GetLastAcqError(), 5);
  EXPECT_EQ(a.t.SetCurrentAcqDevice(100), 1) << "the same device again";
  EXPECT_EQ(a.t.SetCurrentInputDevice(120), 0);
  EXPECT_EQ(a.t.SetCurrentAcqDevice(200), 0);
  EXPECT_EQ(a.t.GetLastAcqError(), 5);
  EXPECT_EQ(a.t.SetCurrentInputMode(112), 1);
  EXPECT_EQ(a.t.AcquireStart(0), 0) << "mode 112 has no size";
  EXPECT_EQ(a.t.GetLastAcqError(), 13);
  ASSERT_EQ(a.t.CloseDevice(), 1);
  EXPECT_EQ(a.t.SetCurrentAcqDevice(200), 1);
}

TEST(AcqSim, InitialisationFailuresGiveTheirErrorAndReason) {
  struct Case {
    const char* name;
    std::optional<std::string_view> text;  // none: no such file
    int error;
    std::string reason;  // the end of the traced line
  };
  const Case cases[] = {
      {"no file", std::nullopt, 24, "(cannot read "},
      {"the scenario says so", "[FXSIM]\nINIT=0\nINIT_ERROR=23\n", 23, "(the scenario fails the initialisation)"},
      {"an unknown key", "[FXSIM]\nDEVICES=A\n[ACQDEVICE1]\nINPUT_CUONT=2\n", 23,
       "(line 4: unknown key \"INPUT_CUONT\")"},
      {"a section past the list", "[FXSIM]\nDEVICES=A\n\n[ACQDEVICE2]\n", 23,
       "(line 4: [ACQDEVICE2] is not in its parent's list)"},
      {"a bad frame", "[FRAMES]\nFRAME=FILL\n", 23,
       "(line 2: a frame is FILL level, PIXELS count level background or ERROR number)"},
      {"a value without a number", "[FXSIM]\nDEVICES=A\n[ACQDEVICE1]\nVALUE.X=abc\n", 23,
       "(line 4: a value needs a key and a number)"},
  };
  IniFolder folder;
  const std::string trace = folder.temp().file("trace.txt");
  const EnvSetting tracing("FXSIM_TRACE", trace);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(trace);
    AcqLibrary a;
    const std::string name = c.text ? folder.write("init.ini", *c.text) : "fxsim_no_such.ini";
    EXPECT_EQ(a.t.InitDeviceMgr(name.c_str()), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), c.error);
    EXPECT_EQ(a.t.GetNumAcqDevices(), 0);
    EXPECT_EQ(a.t.GetLastAcqError(), 22) << "nothing works before a good initialisation";
    const std::string text = felbrin::test::read_file(trace);
    const std::string head = "InitDeviceMgr(\"" + name + "\") = 0 error " + std::to_string(c.error) + " ";
    EXPECT_NE(text.find(head + c.reason), std::string::npos) << text;
  }
}

TEST(AcqSim, EveryCallIsTracedWithTheEnvironmentItSaw) {
  IniFolder folder;
  const std::string trace = folder.temp().file("trace.txt");
  const EnvSetting tracing("FXSIM_TRACE", trace);
  const EnvSetting res("PULSARRES", "/cfg");
  const EnvSetting vcf("PULSARVCF", "");
  AcqLibrary a;
  ASSERT_EQ(a.t.InitDeviceMgr(folder.write("trace.ini", kTwoDevices).c_str()), 1);
  EXPECT_EQ(a.t.GetFirstAcqDeviceName(), std::string("PCI0"));
  EXPECT_EQ(a.t.SetCurrentAcqDevice(210), 0);
  EXPECT_EQ(a.t.SetCurrentAcqDevice(100), 1);
  double v = 0;
  EXPECT_EQ(a.t.AcqDeviceQuery("GRAB DATA BUFFERS", &v), 1);
  a.t.FreeDeviceResources(nullptr);
  const auto dcf = plat::host::get_env("PULSARDCF");
  EXPECT_EQ(felbrin::test::read_file(trace),
            "InitDeviceMgr sees PULSARRES=\"/cfg\" PULSARVCF=null PULSARDCF=" +
                (dcf ? "\"" + *dcf + "\"" : std::string("null")) +
                "\n"
                "InitDeviceMgr(\"trace.ini\") = 1\n"
                "GetFirstAcqDeviceName() = \"PCI0\"\n"
                "SetCurrentAcqDevice(210) = 0 error 11\n"
                "SetCurrentAcqDevice(100) = 1\n"
                "AcqDeviceQuery(\"GRAB DATA BUFFERS\") = 1 value 4\n"
                "FreeDeviceResources(null) = 1\n");

  std::filesystem::remove(trace);
  const LoadedLibrary ld(beside_program("fxsim_ld"));
  const auto scale = reinterpret_cast<fx_SetLDTrelScale>(plat::host::find_symbol(ld.handle(), "SetLDTrelScale"));
  const auto run = reinterpret_cast<fx_RunLDCommand>(plat::host::find_symbol(ld.handle(), "RunLDCommand"));
  ASSERT_TRUE(scale && run);
  EXPECT_EQ(scale(0.25), 1);
  EXPECT_EQ(run("fringes on"), 1);
  EXPECT_EQ(felbrin::test::read_file(trace), "SetLDTrelScale(0.25) = 1\nRunLDCommand(\"fringes on\") = 1\n");
}

TEST(AcqSim, UnloadingForgetsEverything) {
  IniFolder folder;
  const std::string name = folder.write("unload.ini", kTwoDevices);
  {
    AcqLibrary a;
    ASSERT_EQ(a.t.InitDeviceMgr(name.c_str()), 1);
    EXPECT_EQ(a.t.SetCurrentAcqDevice(100), 1);
    a.control<void (*)(int32_t)>("fxsim_set_last_error")(9);
    EXPECT_EQ(a.t.GetLastAcqError(), 9);
    EXPECT_EQ(a.control<int32_t (*)()>("fxsim_call_count")(), 3);
  }
  // Without the reset AcqLibrary makes: a library that stayed loaded would
  // still count the calls above and remember the error.
  const LoadedLibrary again(beside_program("FxAcq"));
  const auto count = reinterpret_cast<int32_t (*)()>(plat::host::find_symbol(again.handle(), "fxsim_call_count"));
  const auto last = reinterpret_cast<fx_GetLastAcqError>(plat::host::find_symbol(again.handle(), "GetLastAcqError"));
  ASSERT_TRUE(count && last);
  EXPECT_EQ(count(), 0);
  EXPECT_EQ(last(), 0);
}

TEST(AcqSim, ResetForgetsTheScenario) {
  IniFolder folder;
  AcqLibrary a;
  ASSERT_EQ(a.t.InitDeviceMgr(folder.write("reset.ini", kTwoDevices).c_str()), 1);
  EXPECT_EQ(a.t.GetNumAcqDevices(), 2);
  a.control<void (*)()>("fxsim_reset")();
  EXPECT_EQ(a.t.GetLastAcqError(), 0);
  EXPECT_EQ(a.t.GetNumAcqDevices(), 0);
  EXPECT_EQ(a.t.GetLastAcqError(), 22);
}

}  // namespace
