// The acquisition library's binding against the stand-in library and
// display module: loading, the function table, the environment, the
// listing of the initialisation file, the display module, and a whole
// discovery through the library.
#include "instrument/acquisition/acq_mgr.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/dirs.h"
#include "common/errors.h"
#include "instrument/record/sys_info.h"
#include "platform/host_platform.h"
#include "support/ini_folder.h"
#include "support/loaded_library.h"
#include "support/log_capture.h"

namespace {

using felbrin::test::beside_program;
using felbrin::test::EnvSetting;
using felbrin::test::IniFolder;
using felbrin::test::LogCapture;

bool is_loaded(std::string_view base) {
  std::vector<plat::host::Module> modules;
  plat::host::loaded_modules(modules, 1000);
  for (const auto& m : modules) {
    if (m.path.find(base) != std::string::npos) return true;
  }
  return false;
}

std::string scenario(const std::string& module, std::string_view rest = "") {
  return "[FXSIM]\nDEVICES = PCI0, PCI1\n[ACQDEVICE1]\nMODULE = " + module +
         "\nID = 100\nINPUTS = CAM0\nVALUE.GRAB DATA BUFFERS = 3\n"
         "[ACQDEVICE1.INPUT1]\nID = 110\nMODES = Full, Half\n"
         "[ACQDEVICE1.INPUT1.MODE1]\nID = 111\nVALUE.DATA RATE = 30\nVALUE.MAX USER WIDTH = 1280\n"
         "VALUE.MAX USER HEIGHT = 1024\nVALUE.DATA RESOLUTION = 12\n"
         "[ACQDEVICE1.INPUT1.MODE2]\nID = 112\nVALUE.MAX USER WIDTH = 640\n"
         "[ACQDEVICE2]\nID = 200\nINPUTS = CAM2\n[ACQDEVICE2.INPUT1]\nID = 210\nMODES = Live\n"
         "[ACQDEVICE2.INPUT1.MODE1]\nID = 211\n" +
         std::string(rest);
}

class AcqBinding : public ::testing::Test {
 protected:
  void TearDown() override {
    acq_mgrclose(nullptr);
    felbrin::acq::set_library("");
  }
  IniFolder ini;
};

TEST_F(AcqBinding, MissingOrIncompleteLibrariesAreRefusedAndUnloaded) {
  const struct {
    const char* library;
    int rc;
    const char* log;
  } cases[] = {
      {"no-such-acquisition-library", ERR_ACQ_MISSING_DLL, "acq_mgropen: FxAcq.dll missing\n"},
      {"FxAcq_nonextmode", ERR_ACQ_INVALID_DLL, "acq_mgropen: FxAcq.dll invalid or corrupted\n"},
  };
  for (const auto& c : cases) {
    felbrin::acq::set_library(beside_program(c.library));
    LogCapture log;
    EXPECT_EQ(acq_mgropen("FxAcq.ini"), c.rc) << c.library;
    EXPECT_EQ(log.str(), std::string("Loading library FxAcq.dll\n") + c.log);
    EXPECT_EQ(felbrin::acq::table(), nullptr);
    EXPECT_FALSE(is_loaded(c.library)) << c.library;
  }
}

TEST_F(AcqBinding, AFailedStartOfTheDeviceManagerReleasesTheLibrary) {
  ini.write("FxAcq.ini", "[FXSIM]\nINIT = 0\n");
  LogCapture log;
  EXPECT_EQ(acq_mgropen("FxAcq.ini"), ERR_ACQ_INIT_DEV);
  EXPECT_NE(log.str().find("acq_mgropen: FxAcq.dll initialization failed - verify that FxAcq.ini is correct\n"),
            std::string::npos);
  EXPECT_EQ(felbrin::acq::table(), nullptr);
  EXPECT_FALSE(is_loaded("FxAcq"));
}

TEST_F(AcqBinding, EnvironmentListingAndDisplayModule) {
  const std::string path = ini.write("FxAcq.ini", scenario(beside_program("fxsim_ld")));
  const EnvSetting config("FB_CONFIG_DIR", ini.temp().path().string());
  u_dirs_reset();
  {
    const EnvSetting res("PULSARRES", "");
    const EnvSetting vcf("PULSARVCF", "elsewhere");
    LogCapture log;
    ASSERT_EQ(acq_mgropen("FxAcq.ini"), 0) << log.str();
    EXPECT_EQ(plat::host::get_env("PULSARVCF"), std::string(u_config_dir())) << "PULSARRES unset: all three set";
    EXPECT_NE(log.str().find("Initializing FxAcq.dll\nINI file = FxAcq.ini\nContents of INI file "), std::string::npos);
    EXPECT_NE(log.str().find("\n  [ACQDEVICE1]\n"), std::string::npos) << log.str();
    EXPECT_NE(felbrin::acq::display_table(), nullptr);
  }
  {
    const EnvSetting res("PULSARRES", "mine");
    const EnvSetting vcf("PULSARVCF", "elsewhere");
    ini.write("FxAcq.ini", scenario(beside_program("fxsim_ld_norun")));
    LogCapture log;
    ASSERT_EQ(acq_mgropen("FxAcq.ini"), 0);
    EXPECT_EQ(plat::host::get_env("PULSARVCF"), std::string("elsewhere")) << "PULSARRES set: left alone";
    EXPECT_NE(log.str().find("Fathomix control of live display settings is not enabled.\n"), std::string::npos);
    EXPECT_EQ(felbrin::acq::display_table(), nullptr);
  }
  ini.write("FxAcq.ini", scenario("no-such-display-module"));
  LogCapture log;
  ASSERT_EQ(acq_mgropen("FxAcq.ini"), 0);
  EXPECT_NE(log.str().find("fx_ld_init: unable to access frame grabber DLLFathomix control"), std::string::npos);
  u_dirs_reset();
}

TEST_F(AcqBinding, DiscoveryThroughTheLibrary) {
  ini.write("FxAcq.ini", scenario("none"));
  LogCapture log;
  ASSERT_EQ(acq_mgropen("FxAcq.ini"), 0);
  const auto s = std::make_unique<sysInfo_t>();
  for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes}) {
    ASSERT_EQ(step(s.get()), 0) << log.str();
  }
  const sb_acq_state_t& a = s->acq;
  EXPECT_EQ(a.deviceCount, 2);
  EXPECT_EQ(a.cameraCount, 2);
  EXPECT_EQ(a.primaryInput, 110);
  EXPECT_EQ(a.secondaryInput, 210);
  EXPECT_EQ(a.secondaryModeId, 211);
  ASSERT_EQ(a.modeCount, 2);
  EXPECT_EQ(a.modes[0].bytesPerPixel, 2);
  EXPECT_EQ(a.modes[0].integrationPeriod, 33) << "1000 / 30, truncated";
  EXPECT_EQ(a.modes[1].userWidth, 640);
  EXPECT_EQ(a.modes[1].resolution, 8) << "no resolution: 8 bits";
  EXPECT_EQ(a.modes[1].dataRate, 0) << "no data rate: 0, not the library's poison";
  EXPECT_EQ(a.modes[1].integrationPeriod, 0);
  EXPECT_EQ(a.grabDataBuffers, 0) << "asked of the second device, which has none";
}

}  // namespace
