// Whatever the writer writes must read back as the same record: checked for
// every line read as listed, at the bounds of its values and between them,
// and for whole example files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "instrument/calibration/cal_grammar.h"
#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/record/sys_info.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::CalCharSource;

const char* const kExamples[] = {"heron.cal", "ember.cal", "lumen.cal", "kite.cal", "can-fjord4.cal",
                                 "sable-birch3.cal"};

std::string example(const std::string& name) {
  return felbrin::test::read_file(std::string(FELBRIN_SOURCE_DIR) + "/examples/calibration/" + name);
}

// Reads a text into a fresh record; the result code.
int read_text(sysInfo_t& info, const std::string& text) {
  info = sysInfo_t{};
  CalCharSource src = CalCharSource::from_text(text);
  return felbrin::cal_read_stream(info, src);
}

std::string write_text(const sysInfo_t& info) {
  int fault = -1;
  std::string text = felbrin::cal_write_text(info, &fault);
  EXPECT_EQ(fault, 0);
  return text;
}

// The written line that begins with the keyword (and a blank), or "".
std::string line_of(const std::string& text, std::string_view keyword) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, keyword.size(), keyword) == 0 && line.size() > keyword.size() &&
        line[keyword.size()] == ' ') {
      return line;
    }
  }
  return {};
}

std::vector<std::string> values_of(const std::string& line, std::string_view keyword) {
  std::istringstream in(line.substr(keyword.size()));
  std::vector<std::string> values;
  for (std::string v; in >> v;) values.push_back(v);
  return values;
}

// Test values of one line: every value at its lower bound, its upper bound
// or between them (an open bound moved inside).
std::vector<std::string> given_values(const felbrin::cal::LineView& view, int which) {
  std::vector<std::string> out;
  for (const felbrin::cal::ValueView& v : view.values) {
    if (v.word) {
      out.push_back("text_" + std::to_string(which));
      continue;
    }
    double x = which == 0 ? v.lo : which == 1 ? v.hi : v.lo + (v.hi - v.lo) * 0.375;
    if (which == 0 && v.lo_open) x = v.lo + (v.hi - v.lo) / 8;
    if (which == 1 && v.hi_open) x = v.hi - (v.hi - v.lo) / 8;
    if (v.integer) {
      out.push_back(std::to_string(static_cast<long long>(std::floor(x))));
    } else {
      std::ostringstream s;
      s.precision(17);
      s << x;
      out.push_back(s.str());
    }
  }
  return out;
}

TEST(CalRoundTrip, EveryListedLineAtItsBoundsAndBetween) {
  felbrin::test::LogCapture quiet;
  sysInfo_t first;
  sysInfo_t again;
  for (const felbrin::cal::LineView& view : felbrin::cal::listed_lines()) {
    if (!view.written) continue;
    for (int which = 0; which < 3; ++which) {
      const std::vector<std::string> given = given_values(view, which);
      std::string line(view.keyword);
      for (const std::string& v : given) line += " " + v;
      SCOPED_TRACE(line);
      // The first example on which the line is written. Where it is not,
      // the value is the field's reset value, and the file without the line
      // must read back as written.
      std::string written;
      std::string out;
      for (const char* name : kExamples) {
        ASSERT_EQ(read_text(first, example(name) + "\n" + line + "\n"), 0) << name;
        written = write_text(first);
        out = line_of(written, view.keyword);
        if (!out.empty()) break;
        ASSERT_EQ(read_text(again, written), 0);
        EXPECT_EQ(write_text(again), written) << name;
      }
      if (out.empty()) continue;
      const std::vector<std::string> values = values_of(out, view.keyword);
      ASSERT_EQ(values.size(), given.size()) << out;
      for (std::size_t i = 0; i < given.size(); ++i) {
        if (view.values[i].word) {
          EXPECT_TRUE(values[i] == given[i] || values[i] == "\"" + given[i] + "\"") << out;
          continue;
        }
        const double a = std::strtod(given[i].c_str(), nullptr);
        const double b = std::strtod(values[i].c_str(), nullptr);
        EXPECT_LE(std::fabs(a - b), 5e-4 + std::fabs(a) * 1e-5) << out;
      }
      ASSERT_EQ(read_text(again, written), 0);
      EXPECT_EQ(write_text(again), written);
    }
  }
}

TEST(CalRoundTrip, ExampleFilesReadAndWriteBackUnchanged) {
  felbrin::test::LogCapture quiet;
  sysInfo_t info;
  for (const char* name : kExamples) {
    SCOPED_TRACE(name);
    const std::string text = example(name);
    ASSERT_EQ(read_text(info, text), 0);
    EXPECT_EQ(write_text(info), felbrin::test::native_lines(text));
  }
}

TEST(CalRoundTrip, WrittenFileReadsBackThroughTheFileFunctions) {
  felbrin::test::LogCapture quiet;
  felbrin::test::TempDir dir;
  const std::string source = dir.file("in.cal");
  const std::string copy = dir.file("out.cal");
  felbrin::test::write_file(source, example("sable-birch3.cal"));
  ASSERT_EQ(sb_readCal(2, source.c_str()), 0);
  ASSERT_EQ(sb_writeCal(2, copy.c_str()), 0);
  ASSERT_EQ(sb_readCal(3, copy.c_str()), 0);
  EXPECT_EQ(write_text(sysInfo[3]), write_text(sysInfo[2]));
  EXPECT_EQ(felbrin::test::read_file(copy), felbrin::test::native_lines(example("sable-birch3.cal")));
}

}  // namespace

#ifndef _WIN32
#include "platform/pty.h"

namespace {

// No path leads the reader to a terminal (the file lookup wants a regular
// file), so the refusal is checked on the open below it.
TEST(CalOpen, TerminalIsRefused) {
  plat::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  felbrin::test::LogCapture log;
  std::optional<CalCharSource> src;
  EXPECT_EQ(felbrin::cal_open_stream(pty.device().c_str(), &src), ERR_CANT_READ_FILE);
  EXPECT_FALSE(src.has_value());
  EXPECT_EQ(log.str(), "sb_readCal attempt from terminal device\n");
}

}  // namespace
#endif
