// Device discovery and the library's error numbers, against an in-process
// table whose devices, cameras and modes each case describes.
#include "instrument/acquisition/acq_mgr.h"

#include <gtest/gtest.h>

#include <cmath>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/record/sys_info.h"
#include "platform/host_platform.h"
#include "platform/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

using felbrin::test::LogCapture;

struct FakeMode {
  std::string name;  // "" : a missing name
  int id = 0;
  std::map<std::string, double> values;
};
struct FakeCamera {
  std::string name;
  int id = 0;
  std::vector<FakeMode> modes;
};
struct FakeDevice {
  std::string name;
  int id = 0;
  std::vector<FakeCamera> cameras;
};

// The library the table answers for, and where its lists stand.
struct Fake {
  std::vector<FakeDevice> devices;
  int last_error = 0;
  bool init_ok = true;
  int device = -1, camera = -1;
  std::size_t next = 0;
  std::vector<int> selected;  // every ID a Set… call was given
} g;

const char* name_at(const std::string& n) { return n.empty() ? nullptr : n.c_str(); }
template <class List>
const char* walk(const List& list, bool first) {
  g.next = first ? 0 : g.next + 1;
  return g.next < list.size() ? name_at(list[g.next].name) : nullptr;
}
template <class List>
int id_of(const List& list, const char* name) {
  for (const auto& e : list) {
    if (e.name == name) return e.id;
  }
  return 0;
}
template <class List>
int index_of(const List& list, int id) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].id == id) return static_cast<int>(i);
  }
  return -1;
}
const FakeCamera& camera() { return g.devices[static_cast<std::size_t>(g.device)].cameras[static_cast<std::size_t>(g.camera)]; }

fx_acq_table_t make_table() {
  fx_acq_table_t t{};
  t.InitDeviceMgr = [](const char*) { return g.init_ok ? 1 : 0; };
  t.FreeDeviceResources = [](void*) {};
  t.GetNumAcqDevices = [] { return static_cast<int>(g.devices.size()); };
  t.GetFirstAcqDeviceName = [] { return walk(g.devices, true); };
  t.GetNextAcqDeviceName = [] { return walk(g.devices, false); };
  t.GetAcqDeviceId = [](const char* n) { return id_of(g.devices, n); };
  t.SetCurrentAcqDevice = [](int id) {
    g.selected.push_back(id);
    g.device = index_of(g.devices, id);
    return g.device >= 0 ? 1 : 0;
  };
  t.GetLastAcqError = [] { return g.last_error; };
  t.GetNumInputDevices = [] { return static_cast<int>(g.devices[static_cast<std::size_t>(g.device)].cameras.size()); };
  t.GetFirstInputDeviceName = [] { return walk(g.devices[static_cast<std::size_t>(g.device)].cameras, true); };
  t.GetNextInputDeviceName = [] { return walk(g.devices[static_cast<std::size_t>(g.device)].cameras, false); };
  t.GetInputDeviceId = [](const char* n) { return id_of(g.devices[static_cast<std::size_t>(g.device)].cameras, n); };
  t.SetCurrentInputDevice = [](int id) {
    g.selected.push_back(id);
    g.camera = index_of(g.devices[static_cast<std::size_t>(g.device)].cameras, id);
    return g.camera >= 0 ? 1 : 0;
  };
  t.GetNumInputModes = [] { return static_cast<int>(camera().modes.size()); };
  t.GetFirstInputModeName = [] { return walk(camera().modes, true); };
  t.GetNextInputModeName = [] { return walk(camera().modes, false); };
  t.GetInputModeId = [](const char* n) { return id_of(camera().modes, n); };
  t.SetCurrentInputMode = [](int id) { return index_of(camera().modes, id) >= 0 ? 1 : 0; };
  t.AcqInputModeQuery = [](const char* key, double* v) {
    *v = -7777;  // an output that must not be used without an answer
    for (const FakeMode& m : camera().modes) {
      if (const auto it = m.values.find(key); it != m.values.end() && m.id == g.selected.back()) return *v = it->second, 1;
    }
    return 0;
  };
  t.AcqDeviceQuery = [](const char*, double* v) { return *v = 4, 1; };
  t.AcqDeviceSet = [](const char*, const void*) { return 1; };
  return t;
}

// The last mode selected answers the queries.
fx_acq_table_t g_table;

class AcqDiscovery : public ::testing::Test {
 protected:
  void SetUp() override {
    g = Fake{};
    g_table = make_table();
    // The mode queries answer for the mode selected last.
    g_table.SetCurrentInputMode = [](int id) {
      g.selected.push_back(id);
      return index_of(camera().modes, id) >= 0 ? 1 : 0;
    };
    felbrin::acq::install_table(&g_table);
    LogCapture quiet;
    ASSERT_EQ(acq_mgropen(nullptr), 0);
  }
  void TearDown() override {
    acq_mgrclose(nullptr);
    felbrin::acq::install_table(nullptr);
  }
  int discover() {
    for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes}) {
      if (const int rc = step(s.get())) return rc;
    }
    return 0;
  }
  std::unique_ptr<sysInfo_t> s = std::make_unique<sysInfo_t>();
};

FakeCamera cam(const char* name, int id, std::vector<FakeMode> modes = {{"m", 90, {}}}) { return {name, id, modes}; }

TEST_F(AcqDiscovery, DevicesCamerasAndModes) {
  g.devices = {{"d1", 11, {cam("a", 101), cam("b", 102)}}, {"d2", 12, {cam("c", 201, {{"s1", 7, {}}})}},
               {"d3", 13, {cam("e", 301)}}, {"d4", 14, {}}, {"d5", 15, {}}};
  ASSERT_EQ(discover(), 0);
  const sb_acq_state_t& a = s->acq;
  EXPECT_EQ(a.deviceCount, 3) << "only three devices are used";
  EXPECT_EQ(a.currentDevice, 11);
  EXPECT_EQ(a.cameraCount, 4);
  EXPECT_EQ(a.primaryInput, 101);
  EXPECT_EQ(a.secondaryInput, 201) << "the first camera of the second device";
  EXPECT_EQ(a.secondaryModeId, 7);
  EXPECT_EQ(a.highestMode, 0);
  EXPECT_EQ(a.grabDataBuffers, 4);
}

TEST_F(AcqDiscovery, ModeValuesAndTheirDefaults) {
  g.devices = {{"d1", 11,
                {cam("a", 101,
                     {{"twelve", 1, {{"DATA RESOLUTION", 12}, {"DATA RATE", 25}, {"MAX USER WIDTH", 1280},
                                     {"X DATA SCALE", 2}, {"MAX USER HEIGHT", 1e9}}},
                      {"", 0, {}},
                      {"plain", 2, {{"X DATA SCALE", 0}, {"MAX USER WIDTH", 640}, {"MEAS INTEGRATION PERIOD", 9}}},
                      {"no resolution", 3, {{"DATA RESOLUTION", 0}}}})}}};
  ASSERT_EQ(discover(), 0);
  const sb_acq_state_t& a = s->acq;
  ASSERT_EQ(a.modeCount, 3) << "a mode without a name leaves no gap";
  EXPECT_EQ(a.modes[0].resolution, 12);
  EXPECT_EQ(a.modes[0].bytesPerPixel, 2);
  EXPECT_EQ(a.modes[0].userWidth, 640);
  EXPECT_EQ(a.modes[0].userHeight, 32767) << "held to the field";
  EXPECT_EQ(a.modes[0].integrationPeriod, 40);
  EXPECT_EQ(a.modes[1].resolution, 8);
  EXPECT_EQ(a.modes[1].bytesPerPixel, 1);
  EXPECT_EQ(a.modes[1].userWidth, 640) << "a zero scale counts as 1";
  EXPECT_EQ(a.modes[1].integrationPeriod, 9);
  EXPECT_EQ(a.modes[1].dataRate, 0);
  EXPECT_EQ(a.modes[2].resolution, 8) << "a resolution that cannot be one";
  EXPECT_EQ(a.highestMode, 2);
}

// A mode value is truncated toward zero and held to the 16 bits of its field.
TEST_F(AcqDiscovery, ModeValuesAreHeldToSixteenBits) {
  const struct {
    double height;
    int16_t stored;
  } cases[] = {
      {32767, 32767},   {32768, 32767},   {-32768, -32768}, {-32769, -32768},
      {-1e12, -32768},  {-7.9, -7},       {std::nan(""), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.height);
    g.devices = {{"d1", 11, {cam("a", 101, {{"m", 1, {{"MAX USER HEIGHT", c.height}}}})}}};
    ASSERT_EQ(discover(), 0);
    EXPECT_EQ(s->acq.modes[0].userHeight, c.stored);
  }
}

TEST_F(AcqDiscovery, FailuresNameTheirStep) {
  const struct {
    const char* name;
    std::vector<FakeDevice> devices;
    int rc;
    std::string log;
  } cases[] = {
      {"no devices", {}, ERR_ACQ_INIT_DEV, ""},
      {"no device ID", {{"d1", 0, {}}}, ERR_ACQ_INIT_DEV, "acq_getdevices: cannot retrieve specified device ID\n"},
      {"no cameras", {{"d1", 11, {}}}, ERR_ACQ_INVALID_DEVICE, "acq_getinputdev: no valid input devices\n"},
      {"camera without an ID", {{"d1", 11, {cam("a", 0)}}}, ERR_ACQ_INVALID_DEVICE,
       "acq_getinputdev: cannot set selected input device\n"},
      {"eight modes", {{"d1", 11, {cam("a", 101, std::vector<FakeMode>(8, FakeMode{"m", 5, {}}))}}},
       ERR_ACQ_INVALID_DEVICE, "acq_getinputmodes: Number of input modes exceeds maximum\n"},
      {"seven modes fill the table", {{"d1", 11, {cam("a", 101, std::vector<FakeMode>(7, FakeMode{"m", 5, {}}))}}},
       0, ""},
      {"mode without an ID", {{"d1", 11, {cam("a", 101, {{"m", 0, {}}})}}}, ERR_ACQ_INVALID_DEVICE,
       "acq_getinputmodes: Cannot obtain mode ID\n"},
  };
  for (const auto& c : cases) {
    g.devices = c.devices;
    LogCapture log;
    EXPECT_EQ(discover(), c.rc) << c.name;
    EXPECT_NE(log.str().find(c.log), std::string::npos) << c.name << ": " << log.str();
  }
}

TEST_F(AcqDiscovery, AFourthCameraAndAMissingNameStayInTheirRow) {
  g.devices = {{"d1", 11, {cam("", 0), cam("b", 102), cam("c", 103), cam("d", 104)}}};
  ASSERT_EQ(discover(), 0);
  EXPECT_EQ(s->acq.inputIds[0][0], 0);
  EXPECT_EQ(s->acq.inputIds[0][2], 103);
  EXPECT_EQ(s->acq.inputIds[1][0], 0) << "the fourth camera is not written into the next row";
  EXPECT_EQ(s->acq.primaryInput, 102);
  EXPECT_EQ(s->acq.secondaryInput, 103);
  // The secondary camera sits on the first device: no other device is selected.
  EXPECT_EQ(std::count(g.selected.begin(), g.selected.end(), 11), 2);
}

TEST_F(AcqDiscovery, TheSecondaryCameraIsSelectedOnTheDeviceThatHoldsIt) {
  // The second device's only camera has no name, so the secondary camera is
  // the third device's.
  g.devices = {{"d1", 11, {cam("a", 101)}}, {"d2", 12, {cam("", 0)}}, {"d3", 13, {cam("c", 301, {{"s", 9, {}}})}}};
  ASSERT_EQ(discover(), 0);
  EXPECT_EQ(s->acq.secondaryInput, 301);
  EXPECT_EQ(s->acq.secondaryModeId, 9);
  EXPECT_EQ(s->acq.cameraCount, 2);
}

TEST_F(AcqDiscovery, LibraryErrorNumbers) {
  const struct {
    int number, code;
    const char* text;
  } cases[] = {{0, 0, ""},
               {1, ERR_ACQ_DEVICE_OPEN, "Device Open\n"},
               {10, ERR_ACQ_INVALID_MODE, "Invalid Device Mode Specified\n"},
               {17, ERR_LOST_FRAME, "Frame Buffer Overflow\n"},
               {21, ERR_LOST_FRAME, "Missed Frame\n"},
               {25, ERR_LOST_FRAME, "Field Drop\n"},
               {24, ERR_CANT_OPEN_FILE, "Cannot Find File\n"},
               {26, ERR_ACQ_CMD, "Attempt to use unsupported functionality\n"},
               {30, ERR_UNKNOWN, "Unknown\n"},
               {-1, ERR_UNKNOWN, "Unknown\n"}};
  for (const auto& c : cases) {
    g.last_error = c.number;
    LogCapture log;
    EXPECT_EQ(acq_last_error(), c.code) << c.number;
    EXPECT_TRUE(log.str().ends_with(c.text)) << c.number << ": " << log.str();
    EXPECT_EQ(log.str().find("Acq Error: ") != std::string::npos, c.number != 0);
  }
  acq_mgrclose(nullptr);
  g.last_error = 1;
  EXPECT_EQ(acq_last_error(), 0) << "no library bound";
}

}  // namespace

namespace {

std::string holder_program() {
  std::string program;
  EXPECT_TRUE(plat::host::loaded_module_path(nullptr, program));
  return program.substr(0, program.find_last_of(plat::kSep) + 1) + "hold_named_lock" +
         std::string(plat::kProgramSuffix);
}

TEST_F(AcqDiscovery, StartUpWaitsForAnotherProcessAndKeepsItsOwnLock) {
  // A copy in a folder of the host's own: under Wine the source tree's path
  // is a POSIX one.
  const felbrin::test::TempDir dir;
  const std::string kCalFile = dir.file("kite.cal");
  felbrin::test::write_file(kCalFile, felbrin::test::read_file(std::string(FELBRIN_SOURCE_DIR) +
                                                               "/examples/calibration/kite.cal"));
  g.devices = {{"d1", 11, {cam("a", 101)}}};
  {
    LogCapture log;
    ASSERT_EQ(acq_mgrinit(0, kCalFile.c_str()), 0) << log.str();
    EXPECT_NE(log.str().find("Num acquisition devices    = 1\nNum cameras                = 1\n"
                             "Num primary camera modes   = 1\nNum secondary camera modes = 0\n"
                             "Primary camera type        = "),
              std::string::npos)
        << log.str();
    // A second start-up in this process keeps the lock and does not wait.
    const int64_t start = plat::monotonic_ms();
    EXPECT_EQ(acq_mgrinit(0, kCalFile.c_str()), 0) << log.str();
    EXPECT_LT(plat::monotonic_ms() - start, 400);
  }
  acq_mgrclose(&sysInfo[0]);

  plat::host::PipedProcess holder;
  ASSERT_TRUE(holder.start(holder_program(), {"TRELFXCAL"})) << holder_program();
  std::string line;
  ASSERT_TRUE(holder.read_line(line));
  ASSERT_EQ(line, "held");
  {
    LogCapture log;
    const int64_t start = plat::monotonic_ms();
    EXPECT_EQ(acq_mgrinit(0, kCalFile.c_str()), ERR_ACQ_INIT_DEV);
    EXPECT_GE(plat::monotonic_ms() - start, 400);
    EXPECT_NE(log.str().find("acq_mgrinit: Acquisition system in use by another process\n"), std::string::npos)
        << log.str();
  }
  ASSERT_TRUE(holder.write("exit\n"));
  EXPECT_EQ(holder.wait(), 0);
  LogCapture quiet;
  // A failed start-up leaves the lock for the next one.
  g.init_ok = false;
  EXPECT_EQ(acq_mgrinit(0, kCalFile.c_str()), ERR_ACQ_INIT_DEV);
  plat::host::NamedLock other;
  EXPECT_TRUE(other.acquire("TRELFXCAL", 0));
  other.release();
  g.init_ok = true;
  EXPECT_EQ(acq_mgrinit(0, kCalFile.c_str()), 0) << "the lock falls with its holder";
  acq_mgrclose(&sysInfo[0]);
}

}  // namespace
