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
  LogCapture log;
  const std::string text = std::string("+") + std::string(5000, 'z');
  cal_read_context().inline_text.emplace(text);
  sb_calError("m");
  EXPECT_EQ(log.str(), std::string("Error(s) reading system calibration info\n\"") + text + "\":\nm\n");
}

TEST_F(CalReport, MessageIsCutAt1023Characters) {
  LogCapture log;
  cal_read_context().error_count = 1;  // past the heading
  const std::string word(3000, 'w');
  const int n = sb_calError("Unrecognized token \"%s\"", word.c_str());
  const std::string expected = (std::string("Unrecognized token \"") + word).substr(0, 1023) + "\n";
  EXPECT_EQ(log.str(), expected);
  EXPECT_EQ(n, 1024);
}

}  // namespace
