// The calibration error reporter: headings for a path, an inline text and
// neither; one heading per read; the counter; bounded messages.
#include "instrument/calibration/cal_report.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/hooks.h"
#include "support/log_capture.h"

namespace {

using felbrin::cal_read_context;
using felbrin::test::LogCapture;

// Captures without a length limit, for headings longer than a log line.
class WideCapture {
 public:
  WideCapture() : saved_(u_set_log_fn(&capture)) { text().clear(); }
  ~WideCapture() { u_set_log_fn(saved_); }
  WideCapture(const WideCapture&) = delete;
  WideCapture& operator=(const WideCapture&) = delete;
  const std::string& str() const { return text(); }

 private:
  static std::string& text() {
    static std::string t;
    return t;
  }
  static int capture(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, again);
    va_end(again);
    out.resize(static_cast<std::size_t>(n));
    text() += out;
    return 0;
  }
  u_log_hook saved_;
};

class CalReport : public ::testing::Test {
 protected:
  void SetUp() override { cal_read_context().clear(); }
  void TearDown() override { cal_read_context().clear(); }
};

TEST_F(CalReport, HeadingNamesTheFile) {
  LogCapture log;
  cal_read_context().path.emplace("/cal/HOST.0");
  const int n = sb_calError("Unexpected token.");
  const std::string expected =
      "Error(s) reading system calibration file \"/cal/HOST.0\":\nUnexpected token.\n";
  EXPECT_EQ(log.str(), expected);
  EXPECT_EQ(n, static_cast<int>(expected.size()));
  EXPECT_EQ(cal_read_context().error_count, 1);
}

TEST_F(CalReport, HeadingNamesTheInlineText) {
  LogCapture log;
  cal_read_context().inline_text.emplace("+Zoom 9");
  sb_calError("%d out of range [%d,%d]", 9, 0, 7);
  EXPECT_EQ(log.str(), "Error(s) reading system calibration info\n\"+Zoom 9\":\n9 out of range [0,7]\n");
}

TEST_F(CalReport, PathWinsOverInlineText) {
  LogCapture log;
  cal_read_context().path.emplace("p");
  cal_read_context().inline_text.emplace("+x");
  sb_calError("m");
  EXPECT_EQ(log.str(), "Error(s) reading system calibration file \"p\":\nm\n");
}

TEST_F(CalReport, HeadingWithoutSource) {
  LogCapture log;
  sb_calError("Cannot access file.");
  EXPECT_EQ(log.str(), "Error(s) reading system calibration info:\nCannot access file.\n");
}

TEST_F(CalReport, HeadingOncePerReadAndCounted) {
  LogCapture log;
  cal_read_context().path.emplace("f");
  sb_calError("one");
  const int n = sb_calError("two %s", "x");
  EXPECT_EQ(n, 6);
  EXPECT_EQ(log.str(), "Error(s) reading system calibration file \"f\":\none\ntwo x\n");
  EXPECT_EQ(cal_read_context().error_count, 2);

  // A new read starts a new heading.
  cal_read_context().clear();
  sb_calError("three");
  EXPECT_EQ(log.str(), "Error(s) reading system calibration file \"f\":\none\ntwo x\n"
                       "Error(s) reading system calibration info:\nthree\n");
  EXPECT_EQ(cal_read_context().error_count, 1);
}

TEST_F(CalReport, SourceTextIsNeverAFormat) {
  LogCapture log;
  cal_read_context().inline_text.emplace("+Unit %s%n%d");
  sb_calError("Unrecognized token \"%s\"", "%x%n");
  EXPECT_EQ(log.str(),
            "Error(s) reading system calibration info\n\"+Unit %s%n%d\":\nUnrecognized token \"%x%n\"\n");
}

TEST_F(CalReport, LongInlineTextIsNamedWhole) {
  WideCapture log;
  const std::string text = std::string("+") + std::string(5000, 'z');
  cal_read_context().inline_text.emplace(text);
  sb_calError("m");
  EXPECT_EQ(log.str(), std::string("Error(s) reading system calibration info\n\"") + text + "\":\nm\n");
}

TEST_F(CalReport, MessageIsCutAt1023Characters) {
  WideCapture log;
  cal_read_context().error_count = 1;  // past the heading
  const std::string word(3000, 'w');
  const int n = sb_calError("Unrecognized token \"%s\"", word.c_str());
  const std::string expected = (std::string("Unrecognized token \"") + word).substr(0, 1023) + "\n";
  EXPECT_EQ(log.str(), expected);
  EXPECT_EQ(n, 1024);
}

}  // namespace
