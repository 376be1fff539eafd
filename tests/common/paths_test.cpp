// The wide-path convention and the file-existence test.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/util.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::marked;
using felbrin::test::TempDir;

TEST(WidePaths, MarkerIsRecognisedInBothByteOrders) {
  const char ff_fe[] = "\xFF\xFE" "a\0\0";
  const char fe_ff[] = "\xFE\xFF" "a\0\0";
  EXPECT_TRUE(u_is_wide_path(ff_fe));
  EXPECT_TRUE(u_is_wide_path(fe_ff));
  EXPECT_FALSE(u_is_wide_path("plain"));
  EXPECT_FALSE(u_is_wide_path("\xFF" "x"));
  EXPECT_FALSE(u_is_wide_path(nullptr));
}

TEST(WidePaths, EmptyNarrowTextIsNotReadPastItsEnd) {
  // A one-byte buffer: the marker test must stop at the terminator.
  const auto one = std::make_unique<char[]>(1);
  one[0] = '\0';
  EXPECT_FALSE(u_is_wide_path(one.get()));
}

TEST(WidePaths, Utf8AndUtf16RoundTrip) {
  const std::string text = "caf\xC3\xA9 \xE6\xA0\xB7 \xF0\x9F\x98\x80";  // é, 样, an emoji
  const std::u16string units = plat::to_utf16(text);
  EXPECT_EQ(units.size(), 9u);  // the emoji takes two units
  EXPECT_EQ(plat::to_utf8(units), text);
  EXPECT_EQ(plat::to_utf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
  EXPECT_EQ(plat::to_utf16("\xC3"), std::u16string(1, char16_t{0xFFFD}));
  // An encoded surrogate is no character: each of its bytes is replaced.
  EXPECT_EQ(plat::to_utf16("\xED\xA0\x80"), std::u16string(3, char16_t{0xFFFD}));
}

TEST(FileExists, RegularFilesOnly) {
  TempDir dir;
  const auto file = dir.path() / "data.bin";
  felbrin::test::write_file(file, "x");
  EXPECT_TRUE(u_file_exists(file.string().c_str()));
  EXPECT_FALSE(u_file_exists(dir.path().string().c_str()));  // a directory
  EXPECT_FALSE(u_file_exists(dir.file("missing").c_str()));
  EXPECT_FALSE(u_file_exists(nullptr));
  EXPECT_FALSE(u_file_exists(""));
}

TEST(FileExists, MarkedWidePathsWithAnyCharacters) {
  TempDir dir;
  const std::filesystem::path name = std::filesystem::path(u8"\u00e9t\u00e9_\u6837\u672c.dat");
  felbrin::test::write_file(dir.path() / name, "x");
  EXPECT_TRUE(u_file_exists(marked(dir.path() / name).c_str()));
  EXPECT_FALSE(u_file_exists(marked(dir.path() / u8"\u00e9t\u00e9").c_str()));
  EXPECT_FALSE(u_file_exists(marked(dir.path()).c_str()));
  const std::u8string utf8 = (dir.path() / name).u8string();
  EXPECT_EQ(plat::display_path(marked(dir.path() / name).c_str()),
            std::string(utf8.begin(), utf8.end()));
}

#ifndef _WIN32
// Names written for Windows (in configuration files) resolve on POSIX.
TEST(FileExists, BackslashesAreSeparatorsOnPosix) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "sub");
  felbrin::test::write_file(dir.path() / "sub" / "f.cal", "x");
  const std::string windows_style = dir.path().string() + "\\sub\\f.cal";
  EXPECT_TRUE(u_file_exists(windows_style.c_str()));
}
#endif

}  // namespace
