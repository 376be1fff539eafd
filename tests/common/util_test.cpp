// Text utilities, file copy and the clocks.
#include "common/util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <utility>

#include "common/errors.h"
#include "common/log_file.h"
#include "common/pairs.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::read_file;
using felbrin::test::TempDir;
using felbrin::test::write_file;

TEST(Conversion, RealsSaturateAndNanIsZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, int32_t> cases[] = {
      {1.9, 1},          {-1.9, -1},         {2147483647.9, INT32_MAX}, {2147483648.0, INT32_MAX},
      {-2147483648.9, INT32_MIN}, {-2147483649.0, INT32_MIN}, {inf, INT32_MAX}, {-inf, INT32_MIN},
      {std::nan(""), 0}, {1e300, INT32_MAX},
  };
  for (auto [v, expected] : cases) EXPECT_EQ(u_saturated_int(v), expected) << v;
}

TEST(Text, TrimAndSqueeze) {
  char t[] = "  ab c \t\n";
  EXPECT_EQ(u_trim(t), 5);
  EXPECT_STREQ(t, "ab c");
  char blank[] = " \t\r\n ";
  EXPECT_EQ(u_trim(blank), 5);
  EXPECT_STREQ(blank, "");
  char vt[] = "\va\v";  // only blanks, tabs and line ends are trimmed
  EXPECT_EQ(u_trim(vt), 0);
  EXPECT_EQ(u_trim(nullptr), 0);

  char s[] = "a b \"c d\"  e";
  EXPECT_EQ(u_squeeze(s), 4);
  EXPECT_STREQ(s, "ab\"c d\"e");
  char high[] = "\xA0x\xE9 y";  // bytes above 0x7F are never white space
  EXPECT_EQ(u_squeeze(high), 1);
  EXPECT_STREQ(high, "\xA0x\xE9y");
  EXPECT_EQ(u_squeeze(nullptr), 0);
}

TEST(Text, LooseKeywordComparison) {
  EXPECT_EQ(strxcmp("Pixel Size: 1", "PIXELSIZE1"), 0);
  EXPECT_EQ(strxcmp("Key: Value", "KEYVALUE"), 0);
  EXPECT_EQ(strxcmp("Pixel\tSize\r\n\v\f1", "PIXELSIZE1"), 0);  // all ASCII white space
  EXPECT_EQ(strxcmp("abc", "abd"), -1);
  EXPECT_EQ(strxcmp("abd", "abc"), 1);
  EXPECT_EQ(strxcmp("ab", "abc"), -1);
  // A colon in the keyword stays and must match a colon in the text, which
  // counts as a blank.
  EXPECT_EQ(strxcmp("a:b", "A:B"), 1);
  EXPECT_EQ(strxcmp("\"a b\"", "\"A B\""), 0);  // quoted blanks stay
  EXPECT_EQ(strxcmp("\"a:b\"", "\"A B\""), 0);  // a quoted colon becomes a blank
  EXPECT_EQ(strxcmp(nullptr, ""), 0);
  EXPECT_EQ(strxcmp(nullptr, "A"), -1);
  EXPECT_EQ(strxcmp("\xE9", "\xC9"), 1);  // no case beyond ASCII
  EXPECT_EQ(strxcmp("\xE9t\xE9", "\xE9T\xE9"), 0);
}

TEST(CopyFile, ReplacesOnlyWithACompleteCopy) {
  TempDir dir;
  const std::string src = dir.file("src.cal"), dst = dir.file("dst.cal");
  write_file(src, "new contents\n");
  write_file(dst, "old");
  ASSERT_EQ(u_copy_file(src.c_str(), dst.c_str()), 0);
  EXPECT_EQ(read_file(dst), "new contents\n");
  {
    // Onto itself: the copy goes through a temporary file, so the file is
    // kept.
    felbrin::test::LogCapture log;
    EXPECT_EQ(u_copy_file(src.c_str(), src.c_str()), 0);
    EXPECT_EQ(read_file(src), "new contents\n");
  }

  const auto wide_dst = dir.path() / u8"copie_\u00e9.cal";
  ASSERT_EQ(u_copy_file(src.c_str(), felbrin::test::marked(wide_dst).c_str()), 0);
  EXPECT_EQ(read_file(wide_dst), "new contents\n");

  felbrin::test::LogCapture log;
  EXPECT_EQ(u_copy_file(dir.file("missing").c_str(), dst.c_str()), ERR_CANT_WRITE_FILE);
  EXPECT_TRUE(std::regex_match(log.str(), std::regex("u_copy_file failed: win_err = [1-9][0-9]*\n")))
      << log.str();
  EXPECT_EQ(read_file(dst), "new contents\n");
  EXPECT_EQ(u_copy_file(src.c_str(), dir.file("no/such/dir/x").c_str()), ERR_CANT_WRITE_FILE);

  // A read-only destination is refused and kept.
  write_file(dst, "keep");
  std::filesystem::permissions(dst, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_EQ(u_copy_file(src.c_str(), dst.c_str()), ERR_CANT_WRITE_FILE);
  EXPECT_EQ(read_file(dst), "keep");
  std::filesystem::permissions(dst, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  // A read-only source copies like any other, to a new file and over an
  // old one; the copy is made and flushed before anything is replaced.
  const std::string locked = dir.file("locked.cal"), fresh = dir.file("fresh.cal");
  write_file(locked, "from a read-only file\n");
  std::filesystem::permissions(locked, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_EQ(u_copy_file(locked.c_str(), fresh.c_str()), 0) << log.str();
  EXPECT_EQ(u_copy_file(locked.c_str(), dst.c_str()), 0) << log.str();
  EXPECT_EQ(read_file(dst), "from a read-only file\n");
  for (const std::string& p : {locked, fresh}) {
    std::filesystem::permissions(p, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }
  std::filesystem::remove(locked);
  std::filesystem::remove(fresh);
  // No temporary files are left behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 3);
}

// Every file the library rewrites goes through one replace step: the new
// file takes the old one's place whole, keeps its permission bits, a link
// stays a link with its target rewritten, and a read-only file is refused
// and left as it was.
TEST(CopyFile, EveryRewriteKeepsWhatItReplaces) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string src = dir.file("src.txt"), cal = dir.file("source.cal");
  write_file(src, "new contents\n");
  write_file(cal, "Birch4  5  23  12345\nVersion  None  0  None\n");
  {
    felbrin::test::LogCapture quiet;
    ASSERT_EQ(sb_readCal(2, cal.c_str()), 0);
  }
  u_pair_table_t pairs;
  const u_pair_t pair{1.5, 2.5};
  ASSERT_EQ(u_pair_table_assign(&pairs, {&pair, 1}), 0);
  const struct {
    const char* name;
    std::function<int(const std::string&)> rewrite;
    bool replaces_new_files;  // else a new file is the source's copy or opened directly
  } writers[] = {
      {"copy", [&](const std::string& p) { return u_copy_file(src.c_str(), p.c_str()); }, false},
      {"calibration file", [](const std::string& p) { return sb_writeCal(2, p.c_str()); }, true},
      {"pair file", [&](const std::string& p) { return u_write_pairs(p.c_str(), &pairs); }, true},
      {"trimmed log", [](const std::string& p) { return u_log_to_file(p.c_str(), "appended\n", 8, 4); }, false},
  };
  const std::string old_text = "old line\nold line\n";
  const bool posix = plat::kSep == '/';
  // What the process gives a file it creates (its umask), read off one.
  const std::string probe = dir.file("probe");
  std::ofstream(probe).put('x');
  const fs::perms new_file_perms = fs::status(probe).permissions();

  for (const auto& w : writers) {
    SCOPED_TRACE(w.name);
    felbrin::test::LogCapture log;
    if (posix) {
      const std::string path = dir.file(std::string(w.name) + ".640");
      write_file(path, old_text);
      fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
      ASSERT_EQ(w.rewrite(path), 0) << log.str();
      EXPECT_NE(read_file(path), old_text);
      EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    if (posix && w.replaces_new_files) {
      const std::string path = dir.file(std::string(w.name) + ".new");
      ASSERT_EQ(w.rewrite(path), 0) << log.str();
      EXPECT_EQ(fs::status(path).permissions(), new_file_perms) << "like any new file, not the private temporary one";
    }
    // A link is followed; under Wine or without the privilege there may be
    // no links to make.
    const std::string target = dir.file(std::string(w.name) + ".target"), link = dir.file(std::string(w.name) + ".link");
    write_file(target, old_text);
    std::error_code no_links;
    fs::create_symlink(fs::path(target).filename(), link, no_links);
    if (!no_links) {
      ASSERT_EQ(w.rewrite(link), 0) << log.str();
      EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
      EXPECT_NE(read_file(target), old_text);
    }
    // A read-only log cannot even be opened for appending (unless by root):
    // the log starts afresh then, so the rule is for the replacing writers.
    if (std::string_view(w.name) != "trimmed log") {
      const std::string path = dir.file(std::string(w.name) + ".read-only");
      write_file(path, old_text);
      fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
      log.clear();
      EXPECT_NE(w.rewrite(path), 0);
      EXPECT_EQ(read_file(path), old_text);
      EXPECT_NE(log.str().find("is read-only and was left as it is\n"), std::string::npos) << log.str();
      fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    }
  }
  // Nothing but what the cases made: no temporary file is left beside them.
  for (const auto& e : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  }
  sysInfo[2] = sysInfo_t{};
}

TEST(Clocks, WallTimeAndTexts) {
  int64_t s = 0;
  int32_t us = -1;
  u_get_time(&s, &us);
  EXPECT_GT(s, 1600000000);
  EXPECT_GE(us, 0);
  EXPECT_LT(us, 1000000);
  EXPECT_EQ(us % 1000, 0);
  EXPECT_NEAR(u_time_now(), static_cast<double>(s), 5.0);

  u_stopwatch_start();
  EXPECT_GE(u_stopwatch_elapsed(), 0.0);
  EXPECT_LT(u_stopwatch_elapsed(), 60.0);

  char text[U_TIME_TEXT_SIZE];
  u_now_text(text);
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << text;
  u_time_text(86400 * 365, text);
  EXPECT_EQ(std::strncmp(text, "1970-12-3", 9) == 0 || std::strncmp(text, "1971-01-01", 10) == 0,
            true)
      << text;
  u_time_text(INT64_MAX, text);  // no local time for that
  EXPECT_STREQ(text, "");
}

TEST(Clocks, IntervalTimer) {
  u_perf_calibrate();
  EXPECT_GE(u_perf_lap_us(), 0);
  const int64_t f = plat::perf_frequency();
  ASSERT_GT(f, 0);
  const int64_t a = u_perf_counter();
  if (f % 2000000 == 0) {  // half a microsecond is a whole number of ticks
    EXPECT_EQ(u_perf_diff_us(a, a + f / 2000000), 1);
    EXPECT_EQ(u_perf_diff_us(a, a - f / 2000000), -1);
  }
  EXPECT_EQ(u_perf_diff_us(a, a + f), 1000000);
  EXPECT_EQ(u_perf_diff_us(a, a + 4000 * f), INT32_MAX);  // beyond 35 minutes
  EXPECT_EQ(u_perf_diff_us(a, a - 4000 * f), INT32_MIN);
  const int32_t t1 = u_perf_now_us();
  const int32_t t2 = u_perf_now_us();
  EXPECT_GE(static_cast<int32_t>(static_cast<uint32_t>(t2) - static_cast<uint32_t>(t1)), 0);
}

}  // namespace
