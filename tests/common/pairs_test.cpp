// Coordinate pair files: what a line must hold, the messages and line
// numbers of a refused file, values a float cannot hold, growth failing at
// each step, and writing: the exact text, round trips, and failed writes
// that leave the old file whole.
#include "common/pairs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "common/pairs_internal.h"
#include "common/temp_file.h"
#include "platform/platform.h"
#include "support/alloc_hooks.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::FailingAllocator;
using felbrin::test::LogCapture;
using felbrin::test::TempDir;

struct Read {
  int rc = -1;
  std::vector<u_pair_t> pairs;
  std::string log;
};

// Reads over a table of one pair unless `fresh`.
Read read_text(const std::string& text, bool fresh = false) {
  LogCapture log;
  Read r;
  std::FILE* f = plat::open_memory(text.data(), text.size());
  EXPECT_NE(f, nullptr);
  u_pair_table_t table;
  const u_pair_t old{9, 9};
  if (!fresh) {
    EXPECT_EQ(u_pair_table_assign(&table, {&old, 1}), 0);
  }
  r.rc = felbrin::read_pairs_stream(f, "p.txt", &table);
  std::fclose(f);
  r.pairs.assign(table.view().begin(), table.view().end());
  EXPECT_EQ(table.count, static_cast<int32_t>(r.pairs.size()));
  r.log = log.str();
  return r;
}

std::string refused(int line, const std::string& text) {
  return "Error in data file p.txt\nLine " + std::to_string(line) + ":\n" + text + "\n";
}

struct Case {
  const char* name;
  std::string text;
  std::vector<u_pair_t> pairs;
  std::string log;  // the read fails when not empty
};

TEST(Pairs, ReadsLinesOfTwoNumbers) {
  const std::string long_line = "1 2" + std::string(600, 'x');
  const Case cases[] = {
      {"commas and blanks", "1,2\n3 4\n", {{1, 2}, {3, 4}}, ""},
      {"comments, empty lines, CR LF, tabs", "# x\r\n\r\n,,\r\n1.5\t-2e3\r\n", {{1.5f, -2e3f}}, ""},
      {"a field only begins with a number", ",1abc , 2.5e+1e\t7", {{1, 25}}, ""},
      {"the rest of a long line is dropped, not a new line", long_line + "\n5 6\n", {{1, 2}, {5, 6}}, ""},
      {"one number", "1,2\n3\n", {}, refused(2, "3")},
      {"not a number", "x 1\n", {}, refused(1, "x 1")},
      {"a blank before the comment sign", " # 1 2\n", {}, refused(1, " # 1 2")},
      {"NaN", "1 2\nnan 1\n", {}, refused(2, "nan 1")},
      {"infinity", "1 -inf", {}, refused(1, "1 -inf")},
      {"beyond the float range", "1e39 0", {}, refused(1, "1e39 0")},
      {"the second number past 511 characters", "1" + std::string(515, ' ') + "2\n", {},
       refused(1, "1" + std::string(510, ' '))},
      {"no pairs", "# only\n\n", {}, "No coordinate pair data found.\nError in data file p.txt\n"},
      {"empty", "", {}, "No coordinate pair data found.\nError in data file p.txt\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read r = read_text(c.text);
    EXPECT_EQ(r.rc, c.log.empty() ? 0 : ERR_CANT_READ_FILE);
    EXPECT_EQ(r.log, c.log);
    ASSERT_EQ(r.pairs.size(), c.pairs.size());  // a refused file leaves the table empty
    for (std::size_t i = 0; i < c.pairs.size(); ++i) {
      EXPECT_EQ(r.pairs[i].x, c.pairs[i].x);
      EXPECT_EQ(r.pairs[i].y, c.pairs[i].y);
    }
  }
}

TEST(Pairs, EveryFailedGrowthEmptiesTheTable) {
  std::string text;
  for (int i = 0; i < 250; ++i) text += std::to_string(i) + " 1\n";
  const int allocations = felbrin::test::fail_each_allocation([&](FailingAllocator&) {
    const Read r = read_text(text, true);
    if (r.rc == 0) return r.pairs.size() == 250 && r.pairs[249].x == 249;
    EXPECT_EQ(r.rc, ERR_CANT_READ_FILE);
    EXPECT_EQ(r.log.rfind("Out of memory\nError in data file p.txt\nLine ", 0), 0u) << r.log;
    EXPECT_TRUE(r.pairs.empty());
    return false;
  });
  EXPECT_EQ(allocations, 3);  // 100 pairs at a time
}

// A temporary file that cannot be made (no directory) or written (read only).
std::string temp_dir;
std::FILE* read_only_temp(std::string_view, std::string& path, int*) {
  path = temp_dir + "/_pairs_tmp";
  if (temp_dir.empty()) return nullptr;
  felbrin::test::write_file(path, "");
  return std::fopen(path.c_str(), "rb");
}

TEST(Pairs, WritesWhatReadsBackTheSame) {
  TempDir dir;
  const std::vector<u_pair_t> pairs = {{1.5f, -2}, {1e-5f, 123456789.0f}, {-0.001f, 3.40282e38f}};
  u_pair_table_t table;
  ASSERT_EQ(u_pair_table_assign(&table, pairs), 0);
  const std::string path = dir.file("pairs.txt");
  ASSERT_EQ(u_write_pairs(path.c_str(), &table), 0);
  const std::string written = felbrin::test::read_file(path);
  EXPECT_EQ(written, felbrin::test::native_lines("          1.5            -2\n"
                                                 "        1e-05   1.23457e+08\n"
                                                 "       -0.001   3.40282e+38\n"));

  u_pair_table_t again;
  ASSERT_EQ(u_read_pairs(felbrin::test::marked(dir.path() / "pairs.txt").c_str(), &again), 0);
  ASSERT_EQ(again.count, 3);
  EXPECT_EQ(again.pairs[2].y, 3.40282e38f);
  ASSERT_EQ(u_write_pairs(path.c_str(), &again), 0);
  EXPECT_EQ(felbrin::test::read_file(path), written);

  const Read example = read_text(felbrin::test::read_file(std::string(FELBRIN_SOURCE_DIR) + "/examples/pairs.txt"));
  EXPECT_EQ(example.rc, 0) << example.log;
  ASSERT_EQ(example.pairs.size(), 4u);
  EXPECT_EQ(example.pairs[1].y, -2.5e3f);

  // Windows line ends read the same on every platform.
  felbrin::test::write_file(dir.path() / "crlf.txt", "1 2\r\n3 4\r\n");
  ASSERT_EQ(u_read_pairs(dir.file("crlf.txt").c_str(), &again), 0);
  EXPECT_EQ(again.count, 2);
  EXPECT_EQ(again.pairs[1].y, 4);
}

TEST(Pairs, AFailedWriteLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir.file("pairs.txt");
  felbrin::test::write_file(path, "old\n");
  const std::vector<u_pair_t> pairs(5000, u_pair_t{1.25f, 2});
  u_pair_table_t table;
  ASSERT_EQ(u_pair_table_assign(&table, pairs), 0);

  for (const std::string& where : {std::string(), dir.path().string()}) {
    temp_dir = where;
    const felbrin::TempFileFn previous = felbrin::set_temp_file_fn(read_only_temp);
    EXPECT_EQ(u_write_pairs(path.c_str(), &table), ERR_CANT_OPEN_FILE);
    felbrin::set_temp_file_fn(previous);
    EXPECT_EQ(felbrin::test::read_file(path), "old\n");
  }
  EXPECT_EQ(u_write_pairs(path.c_str(), nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(u_read_pairs(dir.file("none.txt").c_str(), &table), ERR_CANT_OPEN_FILE);
  EXPECT_EQ(table.count, 5000);  // a file that cannot be opened changes nothing
}

}  // namespace
