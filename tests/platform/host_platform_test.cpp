// Symbol look-up, module paths and product versions of the host layer, on
// the test bridge libraries built next to the test program (Windows under
// Wine, Linux natively).
#include "platform/host_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/host_utils.h"
#include "instrument/can/can_abi.h"
#include "platform/platform.h"
#include "tests/support/loaded_library.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using felbrin::test::LoadedLibrary;
using felbrin::test::TempDir;

constexpr bool kWindows = plat::kSep == '\\';

std::string beside_program(std::string_view file) {
  std::string program;
  EXPECT_TRUE(plat::host::loaded_module_path(nullptr, program));
  return program.substr(0, program.find_last_of(plat::kSep) + 1) + std::string(file);
}

std::string library_file(std::string_view base) {
  return std::string(plat::kSharedLibraryPrefix) + std::string(base) +
         std::string(plat::kSharedLibrarySuffix);
}

TEST(HostModules, FindsExportedFunctionsOnly) {
  const LoadedLibrary full(beside_program(library_file("felbrin_testcan_full")));
  const LoadedLibrary partial(beside_program(library_file("felbrin_testcan_partial")));
  ASSERT_NE(full.handle(), nullptr) << full.path();
  ASSERT_NE(partial.handle(), nullptr) << partial.path();

  auto* connect =
      reinterpret_cast<can_connect_fn*>(plat::host::find_symbol(full.handle(), "CAN_Connect"));
  ASSERT_NE(connect, nullptr);
  EXPECT_EQ(connect(0x0100000A), CAN_OK);
  EXPECT_EQ(connect(0x0200000A), CAN_ERR_TIMEOUT);
  EXPECT_NE(plat::host::find_symbol(full.handle(), "CAN_GetPDO"), nullptr);
  EXPECT_EQ(plat::host::find_symbol(partial.handle(), "CAN_GetPDO"), nullptr);
  EXPECT_EQ(plat::host::find_symbol(full.handle(), "CAN_Connect2"), nullptr);
  EXPECT_EQ(plat::host::find_symbol(full.handle(), nullptr), nullptr);
  EXPECT_EQ(plat::host::find_symbol(nullptr, "CAN_Connect"), nullptr);
}

// A library planted in the current folder is never taken for a bare name,
// while the same file named with its folder loads; the name of the file
// loaded is the one reported.
TEST(HostModules, ABareNameIsNeverLoadedFromTheCurrentFolder) {
  TempDir dir;
  const std::string planted = library_file("felbrin_planted");
  fs::copy_file(beside_program(library_file("felbrin_testcan_full")), dir.path() / planted);
  const fs::path saved = fs::current_path();
  fs::current_path(dir.path());
  std::string used;
  void* bare = u_load_library(planted, &used);
  EXPECT_EQ(bare, nullptr);
  EXPECT_EQ(used, planted);
  plat::host::free_library(bare);
  const std::string here = std::string(".") + plat::kSep + planted;
  void* named = u_load_library(here, &used);
  EXPECT_NE(named, nullptr) << here;
  if (named != nullptr) {
    EXPECT_TRUE(fs::equivalent(fs::path(used), dir.path() / planted)) << used;
  }
  plat::host::free_library(named);
  fs::current_path(saved);

  // Beside the program, a bare name is found and named by its full path.
  void* beside = u_load_library(library_file("felbrin_testcan_full"), &used);
  EXPECT_NE(beside, nullptr);
  EXPECT_TRUE(fs::equivalent(fs::path(used), fs::path(beside_program(library_file("felbrin_testcan_full"))))) << used;
  plat::host::free_library(beside);
}

TEST(HostModules, PathOfALoadedModuleIsItsFile) {
  const LoadedLibrary full(beside_program(library_file("felbrin_testcan_full")));
  ASSERT_NE(full.handle(), nullptr) << full.path();
  std::string path;
  ASSERT_TRUE(plat::host::loaded_module_path(full.handle(), path));
  EXPECT_TRUE(fs::equivalent(fs::path(path), fs::path(full.path()))) << path;

  std::string program;
  ASSERT_TRUE(plat::host::loaded_module_path(nullptr, program));
  std::string expected;
  ASSERT_TRUE(plat::module_path(expected));
  EXPECT_EQ(program, expected);
}

struct VersionCase {
  const char* name;
  std::string path;
  bool found;
  std::vector<std::int32_t> version;
};

void check_versions(const std::vector<VersionCase>& cases) {
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::int32_t v[4] = {-7, -7, -7, -7};
    ASSERT_EQ(plat::host::file_product_version(c.path.c_str(), v), c.found);
    if (c.found) {
      EXPECT_EQ(std::vector<std::int32_t>(v, v + 4), c.version);
    }
  }
}

TEST(HostModules, ProductVersionFromTheResource) {
  if (!kWindows) GTEST_SKIP() << "version resources exist on Windows only";
  const std::string versioned = beside_program("felbrin_testver.dll");
  check_versions({
      {"product version, not file version", versioned, true, {1, 2, 5, 6}},
      {"no resource", beside_program(library_file("felbrin_testcan_full")), false, {}},
      {"no such file", beside_program("felbrin_no_such.dll"), false, {}},
  });
  std::int32_t file[4] = {};
  ASSERT_TRUE(plat::host::file_fixed_version(versioned.c_str(), file));
  EXPECT_EQ(std::vector<std::int32_t>(file, file + 4), (std::vector<std::int32_t>{1, 2, 3, 4}));
}

TEST(HostModules, ProductVersionFromTheRealFileName) {
  if (kWindows) GTEST_SKIP() << "the POSIX rule";
  const TempDir dir;
  felbrin::test::write_file(dir.path() / "libbridge.so.3.14.15.9", "");
  felbrin::test::write_file(dir.path() / "libplain.so", "");
  felbrin::test::write_file(dir.path() / "libodd.so.1.x", "");
  fs::create_symlink("libbridge.so.3.14.15.9", dir.path() / "libbridge.so");
  fs::create_symlink("libbridge.so", dir.path() / "libbridge.so.3");
  check_versions({
      {"the file itself", dir.file("libbridge.so.3.14.15.9"), true, {3, 14, 15, 9}},
      {"through its link", dir.file("libbridge.so"), true, {3, 14, 15, 9}},
      {"through two links", dir.file("libbridge.so.3"), true, {3, 14, 15, 9}},
      {"no suffix", dir.file("libplain.so"), false, {}},
      {"suffix not numeric", dir.file("libodd.so.1.x"), false, {}},
      {"no such file", dir.file("libnone.so.1.2"), false, {}},
  });
  std::int32_t v[4] = {};
  EXPECT_FALSE(plat::host::file_product_version(nullptr, v));
}

}  // namespace
