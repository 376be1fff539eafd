// Host utilities on the real host: Windows behaviour under Wine, the POSIX
// stand-ins on Linux.
#include "common/host_utils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/host.h"
#include "common/util.h"
#include "platform/host_platform.h"
#include "platform/platform.h"
#include "support/alloc_hooks.h"
#include "support/loaded_library.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using felbrin::test::FailingAllocator;
using felbrin::test::LoadedLibrary;
using felbrin::test::LogCapture;
using felbrin::test::TempDir;
using ::testing::HasSubstr;

constexpr bool kWindows = plat::kSep == '\\';

std::string with_sep(std::string_view a, std::string_view b) {
  std::string out(a);
  out += plat::kSep;
  out += b;
  return out;
}

// Variadic fronts for the va_list interfaces.
int check_format(int* count, int* wide, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = u_wformat_check(args, format, count, wide);
  va_end(args);
  return n;
}

int wformat(char16_t* buffer, std::size_t capacity, int count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = u_wformat(args, count, format, buffer, capacity);
  va_end(args);
  return r;
}

// The text of a u_wformat result after its marker, for comparisons.
std::string unmarked_utf8(const char16_t* result) {
  EXPECT_EQ(result[0], char16_t{0xFFFE});
  return plat::to_utf8(result + 1);
}

// ================================================================= text conversion

TEST(TextConversion, CountsIncludeTheTerminator) {
  char narrow[16];
  EXPECT_EQ(u_to_narrow(u"abc", narrow, sizeof narrow), 4);
  EXPECT_STREQ(narrow, "abc");
  EXPECT_EQ(u_to_narrow(u"", narrow, sizeof narrow), 1);  // apart from failure
  EXPECT_STREQ(narrow, "");
  EXPECT_EQ(u_to_narrow(u"abc", nullptr, 0), 4);          // size needed

  char16_t wide[16];
  EXPECT_EQ(u_to_wide("abc", wide, 16), 4);
  EXPECT_EQ(std::u16string(wide), u"abc");
  EXPECT_EQ(u_to_wide("", wide, 16), 1);
  EXPECT_EQ(u_to_wide("abcdef", nullptr, 0), 7);
}

TEST(TextConversion, FailuresGiveZeroAndAnEmptyBuffer) {
  char narrow[4] = "xx";
  EXPECT_EQ(u_to_narrow(u"abcd", narrow, sizeof narrow), 0);  // needs 5
  EXPECT_STREQ(narrow, "");
  EXPECT_EQ(u_to_narrow(u"abc", narrow, sizeof narrow), 4);  // exactly fits
  EXPECT_EQ(u_to_narrow(nullptr, narrow, sizeof narrow), 0);
  EXPECT_EQ(u_to_narrow(u"a", nullptr, 5), 0);

  char16_t wide[3] = {u'x', 0, 0};
  EXPECT_EQ(u_to_wide("abc", wide, 3), 0);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(u_to_wide(nullptr, wide, 3), 0);
  EXPECT_EQ(u_to_wide("a", wide, -1), 0);
}

TEST(TextConversion, NonAsciiInTheHostEncoding) {
  const char16_t umlauts[] = {0x00FC, 0x00DF, 0};  // "üß"
  char narrow[16];
  const int n = u_to_narrow(umlauts, narrow, sizeof narrow);
  ASSERT_GT(n, 1);
  if (!kWindows) {
    EXPECT_STREQ(narrow, "\xC3\xBC\xC3\x9F");  // UTF-8
  }
  char16_t back[16];
  EXPECT_GT(u_to_wide(narrow, back, 16), 1);
  EXPECT_EQ(std::u16string(back), std::u16string(umlauts));
}

// ================================================================= wide formats

TEST(WideFormatCheck, CountsConversions) {
  int count = -5, wide = -5;
  EXPECT_EQ(check_format(&count, &wide, "%d and %s", 1, "x"), 2);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(wide, 0);
  EXPECT_EQ(check_format(nullptr, nullptr, "no conversions"), 0);
  EXPECT_EQ(check_format(nullptr, nullptr, "%lld %zu %*.*f %hhx %I64d %c %C %ls", 1LL,
                         std::size_t{2}, 5, 2, 1.0, 3, 4LL, 'a', 'b', 0),
            -1);  // "%ls" is not supported
  EXPECT_EQ(check_format(nullptr, nullptr, "%lld %zu %*.*f %hhx %I64d %c %C %lc", 1LL,
                         std::size_t{2}, 5, 2, 1.0, 3, 4LL, 'a', 'b', 'c'),
            8);
}

TEST(WideFormatCheck, PercentPairsBlanksAndBadConversions) {
  int count = 0;
  EXPECT_EQ(check_format(&count, nullptr, "100%%d"), 0);  // "%%" is text, not "%d"
  EXPECT_EQ(check_format(&count, nullptr, "50% done"), 0);  // "% " is not counted
  EXPECT_EQ(check_format(&count, nullptr, "trailing %"), -1);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(check_format(nullptr, nullptr, "%p", nullptr), -1);
  EXPECT_EQ(check_format(nullptr, nullptr, "%n", nullptr), -1);
  EXPECT_EQ(check_format(nullptr, nullptr, "%Ld", 1), -1);
  EXPECT_EQ(check_format(nullptr, nullptr, nullptr), -1);
}

TEST(WideFormatCheck, FlagsWideStringArguments) {
  const std::string marked = felbrin::test::marked("name");
  int count = 0, wide = 0;
  EXPECT_EQ(check_format(&count, &wide, "%d %s %S", 7, "narrow", marked.c_str()), 3);
  EXPECT_EQ(wide, 1);
  EXPECT_EQ(check_format(&count, &wide, "%d %s %s", 7, "narrow", nullptr), 3);
  EXPECT_EQ(wide, 0);
  // The arguments are read with their real types: a 64-bit integer before
  // the string does not shift it.
  EXPECT_EQ(check_format(&count, &wide, "%lld %s", 1LL << 40, marked.c_str()), 2);
  EXPECT_EQ(wide, 1);
}

TEST(WideFormat, FormatsNumbersAndMarksTheResult) {
  char16_t out[128];
  ASSERT_EQ(wformat(out, 128, 6, "[%-5d|%05.1f|%x|%lld|%*d|%+i]", 42, 3.14159, 255u,
                    -(1LL << 40), 4, 7, 9),
            0);
  EXPECT_EQ(unmarked_utf8(out), "[42   |003.1|ff|-1099511627776|   7|+9]");
  ASSERT_EQ(wformat(out, 128, 4, "%hhd %hu %zu %e", 300, 70000, std::size_t{12}, 1.5), 0);
  EXPECT_EQ(unmarked_utf8(out), "44 4464 12 1.500000e+00");
  ASSERT_EQ(wformat(out, 128, 0, "100%% sure, 50% done"), 0);
  EXPECT_EQ(unmarked_utf8(out), "100% sure, 50% done");
  ASSERT_EQ(wformat(out, 128, 0, ""), 0);
  EXPECT_EQ(out[0], char16_t{0xFFFE});
  EXPECT_EQ(out[1], u'\0');
}

TEST(WideFormat, StringsNarrowWideAndNull) {
  char16_t out[128];
  const std::string marked = felbrin::test::marked("wide");
  ASSERT_EQ(wformat(out, 128, 4, "%s/%S/%s/%c", "narrow", marked.c_str(), nullptr, 'z'), 0);
  EXPECT_EQ(unmarked_utf8(out), "narrow/wide//z");
  ASSERT_EQ(wformat(out, 128, 3, "[%6s|%-6s|%.3s]", "ab", "cd", "truncated"), 0);
  EXPECT_EQ(unmarked_utf8(out), "[    ab|cd    |tru]");
  ASSERT_EQ(wformat(out, 128, 2, "%C%lc", 0x263A, 0x00E9), 0);
  EXPECT_EQ(std::u16string(out + 1), u"\u263A\u00E9");
  // A result that starts with a marker already is not marked again.
  ASSERT_EQ(wformat(out, 128, 2, "%C%s", 0xFEFF, "x"), 0);
  EXPECT_EQ(std::u16string(out), u"\uFEFFx");
}

TEST(WideFormat, StringArgumentsStopAt512Characters) {
  for (const std::size_t length : {513u, 600u}) {
    const std::string long_text(length, 'a');
    std::vector<char16_t> out(1024);
    ASSERT_EQ(wformat(out.data(), out.size(), 1, "%s|", long_text.c_str()), 0);
    EXPECT_EQ(std::u16string(out.data()).size(), 1u + 512u + 1u);
  }
}

TEST(WideFormat, FieldsUpTo99999Wide) {
  std::vector<char16_t> out(100002);
  ASSERT_EQ(wformat(out.data(), out.size(), 1, "%99999d", 7), 0);
  EXPECT_EQ(std::u16string(out.data()).size(), 1u + 99999u);
  EXPECT_EQ(wformat(out.data(), out.size(), 1, "%100000d", 7), 1);
}

TEST(WideFormat, RefusalsLeaveAnEmptyBuffer) {
  char16_t out[8] = {u'x'};
  EXPECT_EQ(wformat(out, 8, 1, "%s", "too long for eight"), 1);  // capacity
  EXPECT_EQ(out[0], u'\0');
  EXPECT_EQ(wformat(out, 8, 1, "abcdef%d", 1), 1);  // 1 + 7 + terminator
  EXPECT_EQ(wformat(out, 8, 1, "abcde%d", 1), 0);   // exactly fits
  EXPECT_EQ(wformat(out, 8, 2, "%d", 1), 1);        // count does not match
  EXPECT_EQ(wformat(out, 8, 0, "%d", 1), 1);
  // Unsupported: refused before any argument is read (none is passed).
  EXPECT_EQ(wformat(out, 8, 1, "%p"), 1);
  EXPECT_EQ(wformat(out, 8, 0, "%"), 1);
  EXPECT_EQ(out[0], u'\0');
  EXPECT_EQ(wformat(out, 0, 0, "x"), 1);
  EXPECT_EQ(wformat(nullptr, 8, 0, "x"), 1);
  EXPECT_EQ(wformat(out, 8, 0, nullptr), 1);
}

TEST(WideFormat, ResultOpensAsAWidePath) {
  // A directory in plain text and a file name only wide text can carry: the
  // formatted path reaches the file through the wide-path convention.
  TempDir dir;
  const std::u16string name = u"gr\u00FC\u00DFe-\u263A.txt";
  felbrin::test::write_file(dir.path() / fs::path(name), "data");
  const std::string name_arg = felbrin::test::marked(fs::path(name));
  const std::string format = with_sep("%s", "%s");
  const std::string dir_text = dir.path().string();
  int count = 0, wide = 0;
  ASSERT_EQ(check_format(&count, &wide, format.c_str(), dir_text.c_str(), name_arg.c_str()), 2);
  EXPECT_EQ(wide, 1);
  std::vector<char16_t> out(1024);
  ASSERT_EQ(wformat(out.data(), out.size(), count, format.c_str(), dir_text.c_str(),
                    name_arg.c_str()),
            0);
  const auto* path = reinterpret_cast<const char*>(out.data());
  EXPECT_TRUE(u_is_wide_path(path));
  EXPECT_TRUE(u_file_exists(path));
}

// ================================================================= registry and versions

TEST(Registry, ReadsOnlyTextValuesThatFit) {
  char buf[64] = "junk";
  const char* key = "Software\\Microsoft\\Windows NT\\CurrentVersion";
  if (kWindows) {
    ASSERT_EQ(u_read_registry_string(u_reg_root_t::local_machine, key, "SystemRoot", buf,
                                     sizeof buf),
              0);
    EXPECT_STRCASEEQ(buf, "C:\\windows");
    // "C:\windows" needs 11 bytes with its terminator.
    EXPECT_EQ(u_read_registry_string(u_reg_root_t::local_machine, key, "SystemRoot", buf, 11), 0);
    EXPECT_EQ(u_read_registry_string(u_reg_root_t::local_machine, key, "SystemRoot", buf, 10), 1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(u_read_registry_string(u_reg_root_t::local_machine, key, "InstallDate", buf,
                                     sizeof buf),
              1);  // a number
    EXPECT_EQ(u_read_registry_string(
                  u_reg_root_t::local_machine,
                  "System\\CurrentControlSet\\Control\\Session Manager\\Environment", "PATH",
                  buf, sizeof buf),
              1);  // REG_EXPAND_SZ
  }
  EXPECT_EQ(u_read_registry_string(u_reg_root_t::local_machine, key, "NoSuchValue", buf,
                                   sizeof buf),
            1);
  EXPECT_EQ(u_read_registry_string(u_reg_root_t::current_user, "Software\\NoSuchKey\\Felbrin",
                                   "x", buf, sizeof buf),
            1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(u_read_registry_string(u_reg_root_t::local_machine, key, "SystemRoot", nullptr, 0),
            1);
}

// The test libraries are built next to the test program.
std::string beside_program(const char* name) {
  const std::string program = u_module_path();
  return program.substr(0, program.find_last_of(plat::kSep) + 1) + name;
}

std::vector<int> version_of(void* module, const std::string& path) {
  u_module_info_t info{path.c_str(), {0, 0, 0, 0}};
  u_module_version(module, &info);
  return {info.version, info.version + 4};
}

class VersionResources : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kWindows) GTEST_SKIP() << "version resources exist on Windows only";
  }
};

TEST_F(VersionResources, InternalName) {
  const std::string dll = beside_program("felbrin_testver.dll");
  char name[32] = "junk";
  ASSERT_EQ(u_file_internal_name(dll.c_str(), name, sizeof name), 0) << dll;
  EXPECT_STREQ(name, "felbrin_testver");
  EXPECT_EQ(u_file_internal_name(dll.c_str(), name, 15), 1);  // needs 16
  EXPECT_STREQ(name, "");
  EXPECT_EQ(u_file_internal_name(dll.c_str(), name, 16), 0);
  const std::string plain = beside_program("felbrin_testdgv_plain.dll");
  EXPECT_EQ(u_file_internal_name(plain.c_str(), name, sizeof name), 1);  // no resource
  EXPECT_EQ(u_file_internal_name(nullptr, name, sizeof name), 1);
}

TEST_F(VersionResources, FileVersionFirstThenDllGetVersion) {
  const LoadedLibrary versioned(beside_program("felbrin_testver.dll"));
  const LoadedLibrary packed(beside_program("felbrin_testdgv_packed.dll"));
  const LoadedLibrary plain(beside_program("felbrin_testdgv_plain.dll"));
  const LoadedLibrary failing(beside_program("felbrin_testdgv_fail.dll"));
  ASSERT_NE(versioned.handle(), nullptr);
  ASSERT_NE(packed.handle(), nullptr);
  ASSERT_NE(plain.handle(), nullptr);
  ASSERT_NE(failing.handle(), nullptr);
  // The resource wins over the library's own answer (5.6.7.8).
  EXPECT_EQ(version_of(versioned.handle(), versioned.path()), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(version_of(packed.handle(), packed.path()), (std::vector<int>{5, 6, 7, 8}));
  EXPECT_EQ(version_of(plain.handle(), plain.path()), (std::vector<int>{5, 6, 7, -1}));
  EXPECT_EQ(version_of(failing.handle(), failing.path()), (std::vector<int>{-1, -1, -1, -1}));
  // No resource and no DllGetVersion: the test program itself.
  EXPECT_EQ(version_of(nullptr, u_module_path()), (std::vector<int>{-1, -1, -1, -1}));
}

TEST(ModuleVersion, SharedObjectSuffixOnPosix) {
  if (kWindows) GTEST_SKIP() << "the POSIX stand-in";
  using V = std::vector<int>;
  EXPECT_EQ(version_of(nullptr, "/lib/x86_64-linux-gnu/libc.so.6"), (V{6, 0, 0, -1}));
  EXPECT_EQ(version_of(nullptr, "/usr/lib/libz.so.1.2.13"), (V{1, 2, 13, -1}));
  EXPECT_EQ(version_of(nullptr, "libx.so.1.2.3.4"), (V{1, 2, 3, 4}));
  EXPECT_EQ(version_of(nullptr, "libx.so"), (V{-1, -1, -1, -1}));
  EXPECT_EQ(version_of(nullptr, "libx.so.1a"), (V{-1, -1, -1, -1}));
  EXPECT_EQ(version_of(nullptr, "libx.so.1.2.3.4.5"), (V{-1, -1, -1, -1}));
  u_module_info_t none{nullptr, {0, 0, 0, 0}};
  u_module_version(nullptr, &none);
  EXPECT_EQ(none.version[0], -1);
  u_module_version(nullptr, nullptr);  // no record: nothing happens
  char name[8];
  EXPECT_EQ(u_file_internal_name("/lib/x86_64-linux-gnu/libc.so.6", name, sizeof name), 1);
}

// ================================================================= loaded modules

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LoadedModules, ReportsEveryLibraryWithItsVersion) {
  std::vector<std::unique_ptr<LoadedLibrary>> libraries;
  if (kWindows) {
    for (const char* name : {"felbrin_testver.dll", "felbrin_testdgv_plain.dll"})
      libraries.push_back(std::make_unique<LoadedLibrary>(beside_program(name)));
  }
  LogCapture log;
  EXPECT_EQ(u_log_loaded_modules(), 0);
  const std::vector<std::string> lines = lines_of(log.str());
  ASSERT_GE(lines.size(), 4u) << log.str();
  EXPECT_EQ(lines[0], "");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      lines[1], m,
      std::regex(R"((\d+) loaded DLLs \(file name, version, size in bytes, last modified, location\):)")))
      << lines[1];
  const std::size_t count = std::stoul(m[1]);
  ASSERT_EQ(lines.size(), count + 3) << log.str();
  EXPECT_EQ(lines.back(), "");

  // "%-*s  %25s  %8d  %s  %s": the name padded to the longest one, then
  // fixed columns for version, size and time, then the directory.
  std::vector<std::string> names;
  for (std::size_t i = 2; i < lines.size() - 1; ++i)
    names.push_back(lines[i].substr(0, lines[i].find(' ')));
  std::size_t width = 0;
  for (const std::string& n : names) width = std::max(width, n.size());
  const std::regex columns(
      R"(  ( {0,25}[0-9.]*)  ( {0,7}\d+)  (\d\d/\d\d/\d{4} \d\d:\d\d [AP]M)  (.+))");
  std::map<std::string, std::string> versions;
  for (std::size_t i = 2; i < lines.size() - 1; ++i) {
    const std::string& line = lines[i];
    const std::string& name = names[i - 2];
    ASSERT_GT(line.size(), width) << line;
    EXPECT_EQ(line.substr(name.size(), width - name.size()), std::string(width - name.size(), ' '))
        << line;
    const std::string rest = line.substr(width);
    ASSERT_TRUE(std::regex_match(rest, m, columns)) << line;
    EXPECT_EQ(m[1].length(), 25) << line;
    const std::string version = m[1];
    const std::size_t start = version.find_first_not_of(' ');
    versions[name] = start == std::string::npos ? "" : version.substr(start);
    EXPECT_TRUE(plat::is_regular_file(with_sep(std::string(m[4]), name).c_str())) << line;
  }
  // Sorted by name without regard to case.
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                             [&](const std::string& a, const std::string& b) {
                               return lower(a) < lower(b);
                             }));
  const std::string text = log.str();
  if (kWindows) {
    EXPECT_EQ(versions["felbrin_testver.dll"], "1.2.3.4");
    EXPECT_EQ(versions["felbrin_testdgv_plain.dll"], "5.6.7");
    EXPECT_EQ(versions.count("kernel32.dll"), 1u);
  } else {
    EXPECT_EQ(versions["libc.so.6"], "6.0.0");
    EXPECT_THAT(text, ::testing::Not(HasSubstr("linux-vdso")));  // no file behind it
  }
  EXPECT_THAT(text, ::testing::Not(HasSubstr("felbrin_tests")));  // the program itself
}

// ================================================================= drives, volumes, paths

TEST(Drives, ListOfRootsOrZeroWhenTooSmall) {
  char buf[512];
  const int n = u_logical_drives(sizeof buf, buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(buf[n], '\0');
  EXPECT_EQ(buf[n - 1], '\0');  // each root is terminated
  if (kWindows) {
    bool has_c = false;
    for (const char* p = buf; *p; p += std::strlen(p) + 1) has_c = has_c || std::strcmp(p, "C:\\") == 0;
    EXPECT_TRUE(has_c);
  } else {
    EXPECT_EQ(n, 2);
    EXPECT_EQ(std::string(buf, 3), std::string("/\0\0", 3));
  }
  char small[3];
  EXPECT_EQ(u_logical_drives(n, small), 0);  // one byte short
  EXPECT_EQ(u_logical_drives(0, nullptr), 0);
}

TEST(PathRoot, DriveNetworkAndOtherForms) {
  char buf[64] = "junk";
  EXPECT_EQ(u_path_root("  \tC:\\data\\x.dat", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "C:\\");
  EXPECT_EQ(u_path_root("\\\\server\\share\\dir\\sub\\f.txt", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "\\\\server\\share\\");
  EXPECT_EQ(u_path_root("\\\\server\\share", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "\\\\server\\share\\");
  EXPECT_EQ(u_path_root("\\\\server", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(u_path_root("\\\\server\\", buf, sizeof buf), 0);
  EXPECT_EQ(u_path_root("\\\\\\share", buf, sizeof buf), 0);
  EXPECT_EQ(u_path_root("relative\\path", buf, sizeof buf), 0);
  EXPECT_EQ(u_path_root("C:relative", buf, sizeof buf), 0);
  EXPECT_EQ(u_path_root("1:\\x", buf, sizeof buf), 0);
  EXPECT_EQ(u_path_root("", buf, sizeof buf), 0);
  EXPECT_EQ(u_path_root(nullptr, buf, sizeof buf), 0);
  // The result and its terminator must fit.
  EXPECT_EQ(u_path_root("C:\\x", buf, 3), 0);
  EXPECT_EQ(u_path_root("C:\\x", buf, 4), 1);
  EXPECT_EQ(u_path_root("\\\\srv\\sh\\x", buf, 9), 0);  // "\\\\srv\\sh\\" needs 10
  EXPECT_EQ(u_path_root("\\\\srv\\sh\\x", buf, 10), 1);
  // Absolute POSIX paths have "/".
  EXPECT_EQ(u_path_root(" /tmp/x", buf, sizeof buf), kWindows ? 0 : 1);
  EXPECT_STREQ(buf, kWindows ? "" : "/");
}

TEST(CheckVolume, ReadyOrMappedError) {
  TempDir dir;
  EXPECT_EQ(u_check_volume(dir.file("x").c_str()), 0);
  EXPECT_EQ(u_check_volume("relative"), 2);  // no root
  EXPECT_EQ(u_check_volume(nullptr), 2);
  if (kWindows) {
    EXPECT_EQ(u_check_volume("C:\\windows"), 0);
    EXPECT_EQ(u_check_volume("Q:\\nothing"), 2);  // no such drive: path not found
  } else {
    EXPECT_EQ(u_check_volume("C:\\windows"), 2);  // no such directory here
  }
}

// Runs a test in a working directory of its own and restores the old one.
class InWorkingDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = fs::current_path();
    cwd_ = temp_.path() / "rp";
    fs::create_directories(cwd_);
    fs::current_path(cwd_);
    cwd_text_ = fs::current_path().string();
  }
  void TearDown() override { fs::current_path(saved_); }

  std::string relative(const std::string& path, std::size_t size = 512) {
    std::vector<char> buf(std::max<std::size_t>(size, 1), 'x');
    result_ = u_relative_path(path.c_str(), buf.data(), size);
    return size > 0 ? buf.data() : "";
  }

  TempDir temp_;
  fs::path saved_, cwd_;
  std::string cwd_text_;
  int result_ = -1;
};

TEST_F(InWorkingDirectory, RelativePathExamples) {
  const std::string parent = cwd_text_.substr(0, cwd_text_.find_last_of(plat::kSep));
  EXPECT_EQ(relative(with_sep(with_sep(cwd_text_, "sub"), "f.txt")), with_sep("sub", "f.txt"));
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(relative(with_sep(with_sep(parent, "other"), "f.txt")),
            with_sep(with_sep("..", "other"), "f.txt"));
  EXPECT_EQ(result_, 1);
  // Relative form longer than the path: unchanged.
  const std::string top = kWindows ? cwd_text_.substr(0, 3) + "f.txt" : "/f.txt";
  EXPECT_EQ(relative(top), top);
  EXPECT_EQ(result_, 1);
  // No file name.
  EXPECT_EQ(relative(cwd_text_ + plat::kSep), "");
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(relative(""), "");
  EXPECT_EQ(result_, 0);
}

TEST_F(InWorkingDirectory, FilesHereBecomeTheirNames) {
  EXPECT_EQ(relative(with_sep(cwd_text_, "f.txt")), "f.txt");
  EXPECT_EQ(relative("f.txt"), "f.txt");
  EXPECT_EQ(relative(with_sep(".", "f.txt")), "f.txt");
  EXPECT_EQ(relative(with_sep(with_sep("sub", ".."), "f.txt")), "f.txt");
  EXPECT_EQ(relative(with_sep("sub", "f.txt")), with_sep("sub", "f.txt"));
  if (kWindows) {
    // Names compare without regard to case on Windows.
    std::string upper = cwd_text_;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    EXPECT_EQ(relative(upper + "\\F.TXT"), "F.TXT");
    EXPECT_EQ(relative("Q:\\other\\f.txt"), "Q:\\other\\f.txt");  // another root
    EXPECT_EQ(relative("Q:f.txt"), "Q:f.txt");
  } else {
    std::string upper = cwd_text_;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    EXPECT_EQ(relative(upper + "/f.txt"), upper + "/f.txt");  // case counts
  }
}

TEST_F(InWorkingDirectory, ResultMustFit) {
  EXPECT_EQ(relative("f.txt", 6), "f.txt");
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(relative("f.txt", 5), "");
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(relative(with_sep(cwd_text_, "f.txt"), 5), "");
  EXPECT_EQ(result_, 0);
  char buf[8];
  EXPECT_EQ(u_relative_path(nullptr, buf, sizeof buf), 0);
  EXPECT_EQ(u_relative_path("f.txt", nullptr, 0), 0);
}

// ================================================================= programs

TEST(RunCommand, ProgramOrShellAndItsExitCode) {
  // Started as a program.
  EXPECT_EQ(u_run_command(kWindows ? "cmd /c exit 5" : "sh -c \"exit 5\"", 2), 5);
  // A shell built-in is no program: the shell runs it.
  EXPECT_EQ(u_run_command("   exit 7", 2), 7);
  // Killed by a signal: 128 and its number, as a shell reports it.
  if (!kWindows) {
    EXPECT_EQ(u_run_command("sh -c \"kill -9 $$\"", 2), 137);
  }
  // Not a program and unknown to the shell: the shell's failure.
  EXPECT_NE(u_run_command(kWindows ? "felbrin-no-such-program 2>nul"
                                    : "felbrin-no-such-program 2>/dev/null",
                           2),
            0);
}

TEST(StartProcess, WaitNoWaitAndStartFailure) {
  const char* exits_3 = kWindows ? "cmd /c exit 3" : "sh -c \"exit 3\"";
  EXPECT_EQ(u_start_process(exits_3, 2, true), 3);
  EXPECT_EQ(u_start_process(exits_3, 2, false), 0);
  // No shell fallback here: the host's "file not found".
  EXPECT_EQ(u_start_process("felbrin-no-such-program", 2, true), 2);
  EXPECT_EQ(u_start_process("exit 3", 2, false), 2);
}

// ================================================================= directory list

std::vector<std::string> read_all(u_dir_t* dir) {
  std::vector<std::string> names;
  while (const u_dir_entry_t* e = u_dir_read(dir)) names.emplace_back(e->name);
  return names;
}

class DirectoryList : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.txt", "b.dat", "c"}) felbrin::test::write_file(dir_.path() / name, "x");
  }
  TempDir dir_;
  const std::vector<std::string> expected_{".", "..", "a.txt", "b.dat", "c"};
};

TEST_F(DirectoryList, EveryEntryWithItsIndex) {
  u_dir_t* dir = u_dir_open(dir_.path().string().c_str());
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(u_dir_tell(dir), 0);
  std::vector<std::string> names;
  for (int i = 1; i <= 5; ++i) {
    const u_dir_entry_t* e = u_dir_read(dir);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->index, i);
    EXPECT_EQ(e->record_length, static_cast<std::int32_t>(std::strlen(e->name)));
    EXPECT_EQ(e->name_length, e->record_length);
    EXPECT_EQ(u_dir_tell(dir), i);
    names.emplace_back(e->name);
  }
  EXPECT_EQ(u_dir_read(dir), nullptr);
  EXPECT_EQ(u_dir_tell(dir), 5);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, expected_);
  u_dir_close(dir);
}

TEST_F(DirectoryList, SeekAndTell) {
  u_dir_t* dir = u_dir_open(dir_.path().string().c_str());
  ASSERT_NE(dir, nullptr);
  const std::vector<std::string> order = read_all(dir);
  ASSERT_EQ(order.size(), 5u);
  u_dir_seek(dir, 2);
  EXPECT_EQ(u_dir_tell(dir), 2);
  const u_dir_entry_t* e = u_dir_read(dir);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->index, 3);
  EXPECT_EQ(e->name, order[2]);
  u_dir_seek(dir, -1);  // nothing happens
  EXPECT_EQ(u_dir_tell(dir), 3);
  u_dir_seek(dir, 1000);  // past the end of 5 names
  EXPECT_EQ(u_dir_tell(dir), 5);
  EXPECT_EQ(u_dir_read(dir), nullptr);
  u_dir_seek(dir, 0);
  EXPECT_EQ(read_all(dir), order);
  u_dir_close(dir);
}

TEST_F(DirectoryList, OneEntryRecordForAllLists) {
  u_dir_t* one = u_dir_open(dir_.path().string().c_str());
  u_dir_t* two = u_dir_open(dir_.path().string().c_str());
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  const u_dir_entry_t* first = u_dir_read(one);
  const u_dir_entry_t* second = u_dir_read(two);
  EXPECT_EQ(first, second);
  u_dir_close(one);
  u_dir_close(two);
}

TEST_F(DirectoryList, PathFormsAndMissingDirectories) {
  const std::string path = dir_.path().string();
  u_dir_t* dir = u_dir_open((path + plat::kSep).c_str());  // trailing separator
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(read_all(dir).size(), 5u);
  u_dir_close(dir);

  EXPECT_EQ(u_dir_open(dir_.file("a.txt").c_str()), nullptr);  // a file
  EXPECT_EQ(u_dir_open(dir_.file("missing").c_str()), nullptr);
  EXPECT_EQ(u_dir_open(nullptr), nullptr);
  EXPECT_EQ(u_dir_read(nullptr), nullptr);
  EXPECT_EQ(u_dir_tell(nullptr), 0);
  u_dir_seek(nullptr, 1);
  u_dir_close(nullptr);

  if (kWindows) {
    // A drive root and a drive's current directory are directories.
    for (const char* drive : {"C:\\", "C:", "C:."}) {
      u_dir_t* d = u_dir_open(drive);
      EXPECT_NE(d, nullptr) << drive;
      EXPECT_NE(u_dir_read(d), nullptr) << drive;
      u_dir_close(d);
    }
  } else {
    u_dir_t* root = u_dir_open("/");
    ASSERT_NE(root, nullptr);
    EXPECT_GT(read_all(root).size(), 2u);
    u_dir_close(root);
  }
}

TEST_F(DirectoryList, WidePathWithNonAsciiName) {
  const fs::path sub = dir_.path() / fs::path(u"d\u00FCr-\u263A");
  fs::create_directories(sub);
  felbrin::test::write_file(sub / "inside.txt", "x");
  const std::string marked = felbrin::test::marked(sub);
  u_dir_t* dir = u_dir_open(marked.c_str());
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> names = read_all(dir);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "inside.txt"}));
  u_dir_close(dir);
  // With a trailing separator as well.
  const std::string marked_sep = felbrin::test::marked(sub.u16string() + char16_t(plat::kSep));
  dir = u_dir_open(marked_sep.c_str());
  EXPECT_NE(dir, nullptr);
  u_dir_close(dir);
}

TEST_F(DirectoryList, AllocationFailuresReleaseEverything) {
  const std::string path = dir_.path().string();
  int requests = 0;
  {
    FailingAllocator counting;
    u_dir_t* dir = u_dir_open(path.c_str());
    ASSERT_NE(dir, nullptr);
    requests = counting.requests();
    EXPECT_EQ(requests, 1 + 2 * 5);  // the list, then a record and a name per entry
    u_dir_close(dir);
    EXPECT_EQ(counting.live_blocks(), 0);
  }
  EXPECT_EQ(felbrin::test::fail_each_allocation([&](FailingAllocator&) {
    u_dir_t* dir = u_dir_open(path.c_str());
    u_dir_close(dir);
    return dir != nullptr;
  }),
            requests);
}

// ================================================================= directories

TEST(MakeDirWide, CreatedThenAlreadyExists) {
  TempDir dir;
  const std::string marked = felbrin::test::marked(dir.path() / fs::path(u"n\u00E9w-\u263A"));
  EXPECT_EQ(u_make_dir(marked.c_str()), 0);
  EXPECT_EQ(u_make_dir(marked.c_str()), 17);
  EXPECT_TRUE(fs::is_directory(dir.path() / fs::path(u"n\u00E9w-\u263A")));
}

}  // namespace
