// Shared helpers of the calibration reader, grammar and writer tests: fresh
// slots, reads of file or inline text with the log captured, writes through
// a temporary-file maker the test controls, and a comparison of every field
// the writer writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/temp_file.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/record/sys_info.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace felbrin::test {

// Every slot back to a newly made record (also the fields a reset keeps).
inline void clear_slots() {
  for (sysInfo_t& s : sysInfo) s = sysInfo_t{};
  cal_read_context().clear();
}

class CalSlots : public ::testing::Test {
 protected:
  void SetUp() override { clear_slots(); }
  void TearDown() override { clear_slots(); }
};

struct CalResult {
  int rc = 0;
  std::string log;
};

// The lines a file read prints before its messages.
inline std::string reading_line(const std::string& path) {
  return "Reading system calibration file: \"" + path + "\"\n";
}
inline std::string file_heading(const std::string& path) {
  return "Error(s) reading system calibration file \"" + path + "\":\n";
}
inline std::string inline_heading(std::string_view text) {
  std::string heading = "Error(s) reading system calibration info\n\"";
  heading += text;
  return heading + "\":\n";
}

inline CalResult read_path(int slot, const std::string& path) {
  LogCapture log;
  const int rc = sb_readCal(slot, path.c_str());
  return {rc, log.str()};
}

// Writes `text` as the file "<name>" in `dir` and reads it into `slot`.
inline CalResult read_text(const TempDir& dir, std::string_view text, int slot = 0,
                           std::string_view name = "cal.0") {
  const std::string path = dir.file(name);
  write_file(path, text);
  return read_path(slot, path);
}

// One keyword line applied to a slot as inline text ("+" is added).
inline CalResult apply_line(int slot, std::string_view line) {
  std::string text = "+";
  text += line;
  LogCapture log;
  const int rc = sb_readCal(slot, text.c_str());
  return {rc, log.str()};
}

// Applies lines that must all read cleanly.
inline void apply_lines(int slot, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const CalResult r = apply_line(slot, line);
    ASSERT_EQ(r.rc, 0) << line << "\n" << r.log;
    ASSERT_EQ(r.log, "") << line;
  }
}

// The log without the copy helper's own line, whose error number is the
// host's.
inline std::string without_copy_note(const std::string& log) {
  std::string out;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    end = end == std::string::npos ? log.size() : end + 1;
    const std::string_view line(log.data() + start, end - start);
    if (line.rfind("u_copy_file failed: win_err = ", 0) != 0) out += line;
    start = end;
  }
  return out;
}

inline std::string write_heading(const std::string& path) {
  return "Error writing system calibration file \"" + path + "\":\n";
}

struct WriteResult {
  int rc = 0;
  std::string log;
  std::string text;  // the destination afterwards ("" when absent)
};

inline WriteResult write_slot(int slot, const std::string& path) {
  LogCapture log;
  const int rc = sb_writeCal(slot, path.c_str());
  WriteResult r{rc, log.str(), {}};
  if (std::filesystem::exists(path)) r.text = read_file(path);
  return r;
}

// Makes the writer's temporary files in a directory of the test and keeps
// the name of the last one; `read_only` hands the writer a stream it cannot
// write to.
class TempFileMaker {
 public:
  explicit TempFileMaker(const TempDir& dir, bool read_only = false) {
    state() = State{dir.path(), read_only, {}, 0};
    previous_ = set_temp_file_fn(&make);
  }
  ~TempFileMaker() { set_temp_file_fn(previous_); }
  TempFileMaker(const TempFileMaker&) = delete;
  TempFileMaker& operator=(const TempFileMaker&) = delete;

  const std::string& last() const { return state().last; }
  int made() const { return state().count; }

 private:
  struct State {
    std::filesystem::path dir;
    bool read_only = false;
    std::string last;
    int count = 0;
  };
  static State& state() {
    static State s;
    return s;
  }
  static std::FILE* make(std::string_view prefix, std::string& path, int* os_error) {
    State& s = state();
    path = (s.dir / (std::string(prefix) + std::to_string(s.count++))).string();
    s.last = path;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
      *os_error = 1;
      return nullptr;
    }
    if (!s.read_only) return f;
    std::fclose(f);
    return std::fopen(path.c_str(), "rb");
  }
  TempFileFn previous_;
};

// Every field the writer writes, compared between two records.
void expect_same_written_fields(const sysInfo_t& a, const sysInfo_t& b);

}  // namespace felbrin::test
