// The environment, initialisation files and named locks of the host layer,
// natively on Linux and through the Win32 calls under Wine; the lock also
// between this process and a holder program beside the test program.
#include "platform/host_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include "platform/platform.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using felbrin::test::ScopedEnv;
using felbrin::test::TempDir;
using felbrin::test::write_file;
using plat::host::NamedLock;

constexpr bool kWindows = plat::kSep == '\\';

// A name no other test run on the machine uses at the same time.
std::string unique_name(std::string_view what) {
  static std::atomic<int> counter{0};
  return "felbrin-test-" + std::string(what) + "-" + std::to_string(std::random_device{}()) +
         "-" + std::to_string(counter++);
}

// Removes a file at the end of a test, whatever its outcome.
struct RemoveAtEnd {
  fs::path path;
  ~RemoveAtEnd() {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
};

// ---- environment

TEST(HostEnvironment, ValuesAreCopiedIntoBothViews) {
  constexpr const char* kName = "FELBRIN_TEST_SET_ENV";
  const ScopedEnv restore(kName, nullptr);
  ASSERT_TRUE(plat::host::set_env(kName, "first"));
  ASSERT_TRUE(plat::host::set_env(kName, "second"));
  EXPECT_EQ(plat::host::get_env(kName), "second");
  {
    auto buffer = std::make_unique<std::string>("from a buffer");
    ASSERT_TRUE(plat::host::set_env(kName, buffer->c_str()));
    buffer->assign(buffer->size(), 'x');
  }
  EXPECT_EQ(plat::host::get_env(kName), "from a buffer");
  // getenv reads the C runtime's copy, a separate one on Win32.
  ASSERT_NE(std::getenv(kName), nullptr);
  EXPECT_STREQ(std::getenv(kName), "from a buffer");

  ASSERT_TRUE(plat::host::set_env(kName, ""));
  EXPECT_EQ(plat::host::get_env(kName), std::nullopt);
  const char* crt = std::getenv(kName);
  EXPECT_TRUE(crt == nullptr || *crt == '\0');
}

TEST(HostEnvironment, BadNamesAndMissingValuesAreRefused) {
  constexpr const char* kName = "FELBRIN_TEST_REFUSED";
  const ScopedEnv restore(kName, nullptr);
  const struct {
    const char* name;
    const char* value;
  } cases[] = {{nullptr, "v"}, {"", "v"}, {"FELBRIN_TEST=REFUSED", "v"}, {kName, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
    EXPECT_FALSE(plat::host::set_env(c.name, c.value));
  }
  EXPECT_EQ(plat::host::get_env(kName), std::nullopt);
  EXPECT_EQ(plat::host::get_env("FELBRIN_TEST"), std::nullopt);
}

// ---- initialisation files

std::string sample_ini(std::string_view start, std::string_view line_end) {
  const std::string lines[] = {
      "[Camera]",
      "Model = TX-4  ",
      "  Gain\t=\t3",
      "exposure=12.5",
      "Model=second",
      "Empty=",
      "Quoted=\"  spaced  \"",
      "Half=\"open",
      ";Hidden=yes",
      "Long=" + std::string(255, 'a') + std::string(45, 'b'),
      "[Other]",
      "Trigger=on",
      "[camera]",
      "Late=yes",
  };
  std::string text(start);
  for (const std::string& l : lines) text += l + std::string(line_end);
  return text;
}

TEST(HostIni, ReadsAsTheWin32CallDoes) {
  struct IniCase {
    const char* name;
    const char* section;
    const char* key;
    const char* fallback;
    std::string expected;
  };
  const IniCase cases[] = {
      {"blanks around the value, first of two", "Camera", "Model", "-", "TX-4"},
      {"names regardless of case", "CAMERA", "model", "-", "TX-4"},
      {"blanks around the key", "Camera", "gain", "-", "3"},
      {"plain", "Camera", "exposure", "-", "12.5"},
      {"empty is not missing", "Camera", "Empty", "-", ""},
      {"quotes around the value go", "Camera", "Quoted", "-", "  spaced  "},
      {"a lone quote stays", "Camera", "Half", "-", "\"open"},
      {"comment line", "Camera", "Hidden", "-", "-"},
      {"cut to 255 characters", "Camera", "Long", "-", std::string(255, 'a')},
      {"another section", "Other", "Trigger", "-", "on"},
      {"only the first of repeated sections", "Camera", "Late", "-", "-"},
      {"missing section", "Lens", "Model", "fallback", "fallback"},
      {"missing key", "Camera", "Zoom", "fallback", "fallback"},
      {"trailing blanks of the default go", "Camera", "Zoom", "fallback  ", "fallback"},
      {"no default", "Camera", "Zoom", nullptr, ""},
  };
  const struct {
    const char* name;
    std::string_view start;
    std::string_view line_end;
  } files[] = {{"lf.ini", "", "\n"}, {"crlf.ini", "", "\r\n"}, {"utf8-mark.ini", "\xEF\xBB\xBF", "\n"}};
  const TempDir dir;
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const std::string file = dir.file(f.name);
    write_file(file, sample_ini(f.start, f.line_end));
    for (const IniCase& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(plat::host::ini_value(file.c_str(), c.section, c.key, c.fallback), c.expected);
    }
  }
  EXPECT_EQ(plat::host::ini_value(dir.file("absent.ini").c_str(), "Camera", "Model", "none"), "none");
}

// What a bare name means is shared with the Win32 call: the Windows
// directory, which tests under Wine write into and clean up; on POSIX its
// stand-in, SystemRoot, points at a scratch folder.
TEST(HostIni, BareNamesMeanTheWindowsDirectory) {
  const TempDir scratch;
  std::optional<ScopedEnv> root;
  if (!kWindows) root.emplace("SystemRoot", scratch.path().string().c_str());
  const std::string folder = plat::host::ini_dir();
  ASSERT_FALSE(folder.empty());
  if (!kWindows) {
    EXPECT_EQ(folder, scratch.path().string());
  }

  const std::string name = unique_name("ini") + ".ini";
  const RemoveAtEnd remove{fs::path(folder) / name};
  write_file(remove.path, "[Lens]\r\nZoom = 4x\r\n");
  EXPECT_EQ(plat::host::ini_value(name.c_str(), "lens", "zoom", "-"), "4x");
  EXPECT_EQ(plat::host::ini_value(("absent-" + name).c_str(), "Lens", "Zoom", "-"), "-");
}

TEST(HostIni, WithoutSystemRootBareNamesAreMissing) {
  if (kWindows) GTEST_SKIP() << "Windows always has its directory";
  const TempDir scratch;
  write_file(scratch.path() / "here.ini", "[Lens]\nZoom=4x\n");
  const ScopedEnv root("SystemRoot", nullptr);
  EXPECT_EQ(plat::host::ini_dir(), "");
  EXPECT_EQ(plat::host::ini_value("here.ini", "Lens", "Zoom", "-"), "-");
}

// ---- named locks

// A lock name of the test's own; on POSIX its lock file goes at the end.
struct TestLock {
  std::string name = unique_name("lock");
  RemoveAtEnd file{kWindows ? fs::path() : fs::path("/tmp") / (name + ".lock")};
};

// Whether an object on another thread gets the lock within `timeout_ms`
// (and lets it go again).
bool other_thread_gets(const std::string& name, int timeout_ms) {
  bool got = false;
  std::thread([&] {
    NamedLock other;
    got = other.acquire(name, timeout_ms);
  }).join();
  return got;
}

TEST(HostNamedLock, OneHolderAtATimeAndReentryDoesNotCount) {
  const TestLock lock;
  NamedLock mine;
  EXPECT_FALSE(mine.held());
  ASSERT_TRUE(mine.acquire(lock.name, 0));
  EXPECT_TRUE(mine.held());
  // A second descriptor of the same file would wait for this very object.
  EXPECT_TRUE(mine.acquire(lock.name, 0));
  EXPECT_FALSE(other_thread_gets(lock.name, 50));
  // One release after two acquisitions frees it.
  mine.release();
  EXPECT_FALSE(mine.held());
  EXPECT_TRUE(other_thread_gets(lock.name, 0));
}

TEST(HostNamedLock, LetGoByAnotherNameAndByTheDestructor) {
  const TestLock first, second;
  NamedLock mine;
  {
    NamedLock scoped;
    ASSERT_TRUE(scoped.acquire(first.name, 0));
  }
  ASSERT_TRUE(mine.acquire(first.name, 0));
  ASSERT_TRUE(mine.acquire(second.name, 0));
  EXPECT_TRUE(other_thread_gets(first.name, 0));
  EXPECT_FALSE(other_thread_gets(second.name, 0));
  EXPECT_FALSE(mine.acquire("", 0));
  EXPECT_FALSE(mine.held());
}

std::string holder_program() {
  std::string program;
  EXPECT_TRUE(plat::host::loaded_module_path(nullptr, program));
  return program.substr(0, program.find_last_of(plat::kSep) + 1) + "hold_named_lock" +
         std::string(plat::kProgramSuffix);
}

TEST(HostNamedLock, AnotherProcessHoldsItUntilItReleasesOrDies) {
  for (const std::string command : {"release", "exit"}) {
    SCOPED_TRACE(command);
    const TestLock lock;
    plat::host::PipedProcess holder;
    ASSERT_TRUE(holder.start(holder_program(), {lock.name})) << holder_program();
    std::string line;
    ASSERT_TRUE(holder.read_line(line));
    ASSERT_EQ(line, "held");

    NamedLock mine;
    const std::int64_t start = plat::monotonic_ms();
    EXPECT_FALSE(mine.acquire(lock.name, 500));
    const std::int64_t waited = plat::monotonic_ms() - start;
    EXPECT_GE(waited, 400);
    EXPECT_LT(waited, 5000);

    ASSERT_TRUE(holder.write(command + "\n"));
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_TRUE(mine.acquire(lock.name, 2000));
  }
}

}  // namespace
