// Installation directories, the per-computer file name and file lookup.
#include "common/dirs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/errors.h"
#include "common/host.h"
#include "platform/platform.h"
#include "support/environment.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::ScopedEnv;
using felbrin::test::TempDir;

std::string lower_on_windows(std::string s) {
#ifdef _WIN32
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
  return s;
}

// A fake program location and no directory variables set.
class Dirs : public ::testing::Test {
 protected:
  void use_program(const std::string& module) {
    module_ = module;
    const u_host_overrides_t o{module_.c_str(), "LAB7", nullptr};
    u_host_reset_caches(&o);
  }
  void TearDown() override { u_host_reset_caches(nullptr); }

  ScopedEnv install_{"FB_INSTALL_DIR", nullptr};
  ScopedEnv config_{"FB_CONFIG_DIR", nullptr};
  ScopedEnv ramps_{"FB_RAMPS_DIR", nullptr};
  TempDir dir_;
  std::string module_;
};

TEST_F(Dirs, FollowTheProgramLocation) {
  const std::string tool = u_path_join(dir_.path().string(), "Tool");
  std::filesystem::create_directories(std::filesystem::path(tool) / "bin");
  use_program(u_path_join(u_path_join(tool, "bin"), "MapConv.exe"));
  felbrin::test::LogCapture log;
  ASSERT_NE(u_install_dir(), nullptr);
  EXPECT_EQ(u_install_dir(), lower_on_windows(tool));
  EXPECT_EQ(log.str(), "Install directory: " + lower_on_windows(tool) + "\n");
  EXPECT_EQ(u_config_dir(), lower_on_windows(tool));  // no cfg folder

  std::filesystem::create_directories(std::filesystem::path(tool) / "cfg");
  use_program(module_);  // a new process, in effect
  const std::string cfg = lower_on_windows(u_path_join(tool, "cfg"));
  EXPECT_EQ(u_config_dir(), cfg);
  const std::string ramps = u_path_join(cfg, "ramps");
  EXPECT_FALSE(std::filesystem::exists(ramps));
  EXPECT_EQ(u_ramps_dir(), ramps);
  EXPECT_TRUE(std::filesystem::is_directory(ramps));  // created on first use
}

TEST_F(Dirs, ProgramAtARootOrWithoutFolder) {
  felbrin::test::LogCapture log;
#ifdef _WIN32
  use_program("C:\\mapconv.exe");
  EXPECT_STREQ(u_install_dir(), "c:");
#else
  use_program("/mapconv");
  EXPECT_STREQ(u_install_dir(), "/");
  use_program("/usr/mapconv");
  EXPECT_STREQ(u_install_dir(), "/");
#endif
#ifndef _WIN32
  use_program("/a/b/prog");
  EXPECT_STREQ(u_install_dir(), "/a");
#endif
  use_program("mapconv.exe");  // no separator: no directory
  EXPECT_EQ(u_install_dir(), nullptr);
  EXPECT_EQ(u_config_dir(), nullptr);
  EXPECT_EQ(u_ramps_dir(), nullptr);
}

TEST_F(Dirs, EnvironmentValuesAsTheyStand) {
  use_program("");
  const std::string nowhere = dir_.file("does-not-exist");
  ScopedEnv config("FB_CONFIG_DIR", nowhere.c_str());
  EXPECT_EQ(u_config_dir(), nowhere);
  EXPECT_EQ(u_install_dir(), nullptr);  // the program path is unknown

  ScopedEnv empty("FB_INSTALL_DIR", "");  // empty counts as unset
  use_program(u_path_join(u_path_join(dir_.path().string(), "bin"), "x.exe"));
  {
    felbrin::test::LogCapture quiet;
    EXPECT_EQ(u_install_dir(), lower_on_windows(dir_.path().string()));
  }

  const std::string too_long(300, 'd');
  ScopedEnv ramps("FB_RAMPS_DIR", too_long.c_str());
  use_program(module_);
  felbrin::test::LogCapture log;
  EXPECT_EQ(u_ramps_dir(), nullptr);
  EXPECT_EQ(log.str(), "u_ramps_dir: path longer than 260 characters\n");
}

TEST_F(Dirs, EmptyVariablesFallBackAndLongValuesAreRefused) {
  const std::string tool = u_path_join(dir_.path().string(), "tool");
  std::filesystem::create_directories(std::filesystem::path(tool) / "bin");
  std::filesystem::create_directories(std::filesystem::path(tool) / "cfg");
  ScopedEnv config("FB_CONFIG_DIR", "");
  ScopedEnv ramps("FB_RAMPS_DIR", "");
  use_program(u_path_join(u_path_join(tool, "bin"), "prog"));
  {
    felbrin::test::LogCapture quiet;
    const std::string cfg = lower_on_windows(u_path_join(tool, "cfg"));
    EXPECT_EQ(u_config_dir(), cfg);
    EXPECT_EQ(u_ramps_dir(), u_path_join(cfg, "ramps"));
  }

  const std::string too_long(261, 'i');
  ScopedEnv install("FB_INSTALL_DIR", too_long.c_str());
  ScopedEnv long_config("FB_CONFIG_DIR", too_long.c_str());
  use_program(module_);
  felbrin::test::LogCapture log;
  EXPECT_EQ(u_install_dir(), nullptr);
  EXPECT_EQ(u_config_dir(), nullptr);
  EXPECT_EQ(log.str(),
            "u_install_dir: path longer than 260 characters\n"
            "u_config_dir: path longer than 260 characters\n");

  // Exactly 260 characters still fits.
  const std::string longest(260, 'i');
  ScopedEnv fits("FB_INSTALL_DIR", longest.c_str());
  use_program(module_);
  EXPECT_EQ(u_install_dir(), longest);
  // ...but its "cfg" candidate does not: the installation directory serves.
  ScopedEnv no_config("FB_CONFIG_DIR", nullptr);
  EXPECT_EQ(u_config_dir(), longest);
}

TEST_F(Dirs, OverlongProgramPathGivesNoDirectoryAndSaysSo) {
  const std::string module = "/" + std::string(300, 'p') + "/bin/prog";
  felbrin::test::LogCapture log;
  use_program(module);
  EXPECT_EQ(u_install_dir(), nullptr);
  EXPECT_EQ(log.str(), "u_module_path: path longer than 260 characters\n");
}

TEST_F(Dirs, HostFileNameTakesTheDigitOfEachCall) {
  use_program("");
  EXPECT_STREQ(u_host_file_name(1), "LAB7.1");
  EXPECT_STREQ(u_host_file_name(2), "LAB7.2");
  EXPECT_STREQ(u_host_file_name(9), "LAB7.9");
  EXPECT_STREQ(u_host_file_name(10), "");
  EXPECT_STREQ(u_host_file_name(-1), "");
}

TEST_F(Dirs, FindFileInTheWorkingThenTheConfigurationDirectory) {
  const auto cfg = dir_.path() / "cfg";
  const auto work = dir_.path() / "work";
  std::filesystem::create_directories(cfg);
  std::filesystem::create_directories(work);
  felbrin::test::write_file(cfg / "sys.cal", "c");
  felbrin::test::write_file(cfg / "only.cal", "c");
  felbrin::test::write_file(work / "sys.cal", "w");
  ScopedEnv config("FB_CONFIG_DIR", cfg.string().c_str());
  use_program("");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(work);

  const char* found = nullptr;
  EXPECT_EQ(u_find_file("sys.cal", &found), 0);
  EXPECT_EQ(std::string(found), u_path_join(".", "sys.cal"));
  EXPECT_EQ(u_find_file("only.cal", &found), 0);
  EXPECT_EQ(std::string(found), u_path_join(cfg.string(), "only.cal"));
  EXPECT_EQ(u_find_file("none.cal", &found), ERR_CANT_READ_FILE);
  EXPECT_EQ(found, nullptr);
  // Absolute names are taken as they stand; the configuration is not tried.
  EXPECT_EQ(u_find_file("D:\\only.cal", &found), ERR_CANT_READ_FILE);
  const std::string absolute = (cfg / "only.cal").string();
  EXPECT_EQ(u_find_file(absolute.c_str(), &found), 0);
  EXPECT_EQ(std::string(found), absolute);
  // Names starting ".\" or "\" are absolute everywhere; "./" and "/" on POSIX.
  EXPECT_EQ(u_find_file(".\\only.cal", &found), ERR_CANT_READ_FILE);
  EXPECT_EQ(u_find_file("\\only.cal", &found), ERR_CANT_READ_FILE);
  EXPECT_EQ(u_find_file(".\\sys.cal", &found), 0);
#ifndef _WIN32
  EXPECT_EQ(u_find_file("./only.cal", &found), ERR_CANT_READ_FILE);
#endif
  // "..\x" is not absolute: it is looked up from the working directory.
  EXPECT_EQ(u_find_file("..\\cfg\\only.cal", &found), 0);
  EXPECT_EQ(std::string(found), u_path_join(".", "..\\cfg\\only.cal"));
  EXPECT_EQ(u_find_file("", &found), ERR_INVALID_PARAM);
  EXPECT_EQ(u_find_file(nullptr, &found), ERR_INVALID_PARAM);
  EXPECT_EQ(u_find_file("sys.cal", nullptr), ERR_INVALID_PARAM);

  std::filesystem::current_path(previous);
}

TEST_F(Dirs, FindFileWithoutAConfigurationDirectory) {
  use_program("noseparator");
  const char* found = nullptr;
  EXPECT_EQ(u_find_file("nothing-here.cal", &found), ERR_CANT_OPEN_FILE);
}

}  // namespace
