// The size-limited log: appends, trimming to whole lines on LF and CR LF
// logs, and what a failure leaves.
#include "common/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/errors.h"
#include "common/temp_file.h"
#include "platform/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::TempDir;

// `lines` numbered lines of 20 bytes each, ending in `end`.
std::string numbered_log(int lines, std::string_view end) {
  std::string out;
  for (int i = 0; i < lines; ++i) {
    std::string line = "line " + std::to_string(i);
    line.resize(20 - end.size(), '.');
    out += line;
    out += end;
  }
  return out;
}

TEST(LogToFile, AppendsWithThePlatformsLineEnd) {
  TempDir dir;
  const std::string path = dir.file("a.log");
  EXPECT_EQ(u_log_to_file(path.c_str(), "one\ntwo\r\n", 100, 50), 0);
  EXPECT_EQ(u_log_to_file(path.c_str(), nullptr, 100, 50), 0);
  EXPECT_EQ(u_log_to_file(path.c_str(), "three", -1, 0), 0);
  const std::string end(plat::kLineEnd);
  EXPECT_EQ(felbrin::test::read_file(path), "one" + end + "two\r\nthree");
  EXPECT_EQ(u_log_to_file(nullptr, "x", 0, 0), ERR_INVALID_PARAM);
}

TEST(LogToFile, TrimsToTheNewestWholeLines) {
  const struct {
    const char* name;
    std::string_view end;
    int lines;
    int64_t limit, keep;
    int kept_from;  // the first line kept; -1 for no trimming
  } cases[] = {
      {"LF, over the limit", "\n", 50001, 1000000, 500000, 25001},
      {"CR LF, over the limit", "\r\n", 50001, 1000000, 500000, 25001},
      {"exactly the limit", "\n", 50, 1000, 500, 25},
      {"below the limit", "\n", 49, 1000, 500, -1},
      {"nothing to keep", "\n", 60, 1000, 0, -1},
      {"keep the whole file", "\n", 60, 1000, 1200, -1},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.file("big.log");
    const std::string before = numbered_log(c.lines, c.end);
    felbrin::test::write_file(path, before);
    ASSERT_EQ(u_log_to_file(path.c_str(), "new\n", c.limit, c.keep), 0) << c.name;
    const std::string after = felbrin::test::read_file(path);
    const std::string added = "new" + std::string(plat::kLineEnd);
    const std::string kept = c.kept_from < 0 ? before : before.substr(static_cast<std::size_t>(c.kept_from) * 20);
    EXPECT_EQ(after, kept + added) << c.name;
    if (c.kept_from >= 0) {
      EXPECT_LE(static_cast<int64_t>(kept.size()), c.keep) << c.name;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "temp file left";
  }
}

std::FILE* no_temp(std::string_view, std::string&, int* os_error) {
  *os_error = 28;
  return nullptr;
}

TEST(LogToFile, AFailedTrimLeavesTheLogAsItWas) {
  TempDir dir;
  const std::string path = dir.file("big.log");
  const std::string before = numbered_log(60, "\n");
  felbrin::test::write_file(path, before);
  const felbrin::TempFileFn previous = felbrin::set_temp_file_fn(no_temp);
  LogCapture log;
  EXPECT_EQ(u_log_to_file(path.c_str(), "new\n", 1000, 500), ERR_CANT_CREATE_FILE);
  felbrin::set_temp_file_fn(previous);
  EXPECT_EQ(log.str(), "u_log_to_file: cannot obtain temp file name\n");
  EXPECT_EQ(felbrin::test::read_file(path), before);
}

TEST(LogToFile, ALogThatCannotBeOpenedIsReported) {
  TempDir dir;
  LogCapture log;
  const std::string path = dir.file("no/such/folder.log");
  EXPECT_EQ(u_log_to_file(path.c_str(), "x", 0, 0), ERR_FILE_IO);
  EXPECT_EQ(log.str(), "u_log_to_file: error accessing file '" + path + "'\n");
}

}  // namespace

// A log path that names no file is never removed to make room for one.
TEST(LogToFile, OnlyAFileIsEverRemoved) {
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path folder = dir.path() / "folder.log", link = dir.path() / "link.log";
  fs::create_directory(folder);
  std::error_code no_links;
  fs::create_directory_symlink("folder.log", link, no_links);
  for (const fs::path& path : {folder, link}) {
    if (path == link && no_links) continue;
    SCOPED_TRACE(path.string());
    LogCapture log;
    EXPECT_EQ(u_log_to_file(path.string().c_str(), "x", 0, 0), ERR_FILE_IO);
    EXPECT_EQ(log.str(), "u_log_to_file: error accessing file '" + path.string() + "'\n");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(fs::is_symlink(fs::symlink_status(path)), path == link);
  }
}
