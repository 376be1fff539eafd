// LCDMI configuration file: each keyword and the parser messages it passes
// on, the line-length limit and line numbers, CR LF files, the formatted
// text (whole and cut short), and the path function's own results.
#include "instrument/calibration/lcdmi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "common/errors.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::TempDir;

struct Read {
  int rc = -1;
  lcdmi_config_t config{};
  std::string message;
};

Read read_text(const std::string& text) {
  Read r;
  std::FILE* f = plat::open_memory(text.data(), text.size());
  EXPECT_NE(f, nullptr);
  r.message = "stale";
  r.rc = felbrin::lcdmi_read_config_stream(f, "lcdmi.cfg", &r.config, &r.message);
  std::fclose(f);
  return r;
}

const std::string kHeading = "Error reading LCDMI configuration file \"lcdmi.cfg\"\r\n";
const std::string kGood =
    "# LCDMI set-up\r\n"
    "Version 3\r\n"
    "Channel 2 0 1 1 3 7 3 -1.5 axisY\r\n"
    "channel 1 0 0 0 0 0 0 1 x\r\n"
    "DIAGOPTS 1 4\r\n"
    "AvgChannels 1 3\r\n";

struct Case {
  const char* name;
  std::string text;
  int rc;
  std::string message;  // after the heading; empty for none
  std::function<void(const lcdmi_config_t&)> check;
};

TEST(Lcdmi, ReadsEachKeywordAndReportsTheFirstError) {
  const std::string long_comment = "#" + std::string(98, 'c');  // 99 + LF = 100
  const Case cases[] = {
      {"empty file", "", 0, "", [](const lcdmi_config_t& c) { EXPECT_EQ(c.primChan, 0); }},
      {"comments only", "# a\n\n  \t\n#b", 0, "", nullptr},
      {"whole file, CR LF", kGood, 0, "",
       [](const lcdmi_config_t& c) {
         EXPECT_EQ(c.primChan, 2);  // the first enabled channel read, not the lowest id
         EXPECT_EQ(c.diagOpts, 0x9);
         EXPECT_EQ(c.avgInputs, 1);
         EXPECT_EQ(c.chan[0].avgInput + c.chan[1].avgInput * 2 + c.chan[2].avgInput * 4, 5);
         EXPECT_EQ(c.chan[1].id, 2);
         EXPECT_EQ(c.chan[1].outputType, 1);
         EXPECT_EQ(c.chan[1].filterCutoff, 7);
         EXPECT_EQ(c.chan[1].nomDataRate, 3);
         EXPECT_EQ(c.chan[1].scaleFactor, -1.5);
         EXPECT_STREQ(c.chan[1].label, "axisY");
         EXPECT_EQ(c.chan[2].id, 0);
       }},
      {"disabled channel is never primary", "Version 2\nChannel 1 1 0 0 0 0 0 1 a\nChannel 3 0 0 0 0 0 0 1 b\n", 0,
       "", [](const lcdmi_config_t& c) { EXPECT_EQ(c.primChan, 3); }},
      {"averaging set before the channel line stays",
       "Version 2\nAvgChannels 2\nChannel 2 0 0 0 0 0 0 1 a\n", 0, "",
       [](const lcdmi_config_t& c) { EXPECT_EQ(c.chan[1].avgInput, 1); }},
      {"option lists end at a bad value; bits wrap at 32", "Version 2\nDiagOpts 33 256 0 x 2\nAvgChannels\n", 0,
       "",
       [](const lcdmi_config_t& c) {
         EXPECT_EQ(static_cast<uint32_t>(c.diagOpts), 0x80000001u);
         EXPECT_EQ(c.avgInputs, 1);
       }},
      {"line of 100 with its line end", long_comment + "\r\nVersion 2\n" + std::string(100, ' '), 0, "", nullptr},
      {"first line not Version", "\n# x\nChannel 1 0 0 0 0 0 0 1 x\n", ERR_LCDMI_CONFIG,
       "The first non-comment line must be a Version statement.\r\nError in line 3:\r\n  Channel 1 0 0 0 0 0 0 1 x",
       nullptr},
      {"version 4", "Version 4\n", ERR_LCDMI_CONFIG,
       "This program requires a version 2 or 3 configuration file.\r\nError in line 1:\r\n  Version 4", nullptr},
      {"version out of range", "Version\t100", ERR_LCDMI_CONFIG,
       "Number out of range.\nExpected 'version number' an integer value in the range [0,99]\n"
       "Error in line 1:\r\n  Version\t100",
       nullptr},
      {"second Version", "Version 2\nVersion 3\n", ERR_LCDMI_CONFIG,
       "Unrecognized token \"Version\"\r\nError in line 2:\r\n  Version 3", nullptr},
      {"unknown keyword cut at 40", "Version 2\n" + std::string(45, 'K') + " 1\n", ERR_LCDMI_CONFIG,
       "Unrecognized token \"" + std::string(40, 'K') + "\"\r\nError in line 2:\r\n  " + std::string(45, 'K') +
           " 1",
       nullptr},
      {"channel id", "Version 2\nChannel 4 0 0 0 0 0 0 1 x\n", ERR_LCDMI_CONFIG,
       "Number out of range.\nExpected 'channel ID' an integer value in the range [1,3]\n"
       "Error in line 2:\r\n  Channel 4 0 0 0 0 0 0 1 x",
       nullptr},
      {"missing field", "Version 2\nChannel 1 0\n", ERR_LCDMI_CONFIG,
       "Missing number.\nExpected 'output type' an integer value in the range [0,1]\n"
       "Error in line 2:\r\n  Channel 1 0",
       nullptr},
      {"filter cutoff", "Version 2\nChannel 1 0 0 0 0 8 0 1 x\n", ERR_LCDMI_CONFIG,
       "Number out of range.\nExpected 'filter cutoff frequency' an integer value in the range [0,7]\n"
       "Error in line 2:\r\n  Channel 1 0 0 0 0 8 0 1 x",
       nullptr},
      {"scale factor", "Version 2\nChannel 1 0 0 0 0 0 0 99.5 x\n", ERR_LCDMI_CONFIG,
       "Number out of range.\nExpected 'scale factor' a floating point value in the range [-99,99]\n"
       "Error in line 2:\r\n  Channel 1 0 0 0 0 0 0 99.5 x",
       nullptr},
      {"label of 11", "Version 2\nChannel 1 0 0 0 0 0 0 1 abcdefghijk\n", ERR_LCDMI_CONFIG,
       "String longer than maximum of 10 characters.\nExpected label, a string of up to 10 characters\n"
       "Error in line 2:\r\n  Channel 1 0 0 0 0 0 0 1 abcdefghijk",
       nullptr},
      {"average channel 0", "Version 2\nAvgChannels 2 0\n", ERR_LCDMI_CONFIG,
       "Invalid channel number 0.\r\nError in line 2:\r\n  AvgChannels 2 0", nullptr},
      {"line of 101 with its line end", "Version 2\n" + long_comment + "c\r\nBogus\n", ERR_LCDMI_CONFIG,
       "Line longer than 100 characters\r\nError in line 2\r\n", nullptr},
      {"over-long line is one line", "Version 2\n#" + std::string(300, 'x') + "Bogus\nBogus\n", ERR_LCDMI_CONFIG,
       "Line longer than 100 characters\r\nError in line 2\r\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read r = read_text(c.text);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.message, c.message.empty() ? "" : kHeading + c.message);
    if (c.check) c.check(r.config);
  }
}

TEST(Lcdmi, PathFunctionOpensOrSaysWhy) {
  TempDir dir;
  lcdmi_config_t config{};
  std::string message = "stale";
  const std::string missing = dir.file("none.cfg");
  EXPECT_EQ(lcdmi_read_config(missing.c_str(), &config, &message), ERR_CANT_OPEN_FILE);
  EXPECT_EQ(message, "Cannot open LCDMI configuration file \"" + missing + "\"\r\n");
  EXPECT_EQ(lcdmi_read_config(nullptr, &config, &message), ERR_INVALID_PARAM);
  EXPECT_EQ(message, "");

  const Read example = read_text(felbrin::test::read_file(std::string(FELBRIN_SOURCE_DIR) + "/examples/lcdmi.cfg"));
  EXPECT_EQ(example.rc, 0) << example.message;
  EXPECT_EQ(example.config.chan[2].disabled, 1);

  felbrin::test::write_file(dir.path() / "l.cfg", kGood);
  const std::string marked = felbrin::test::marked(dir.path() / "l.cfg");
  EXPECT_EQ(lcdmi_read_config(marked.c_str(), &config, nullptr), 0);
  EXPECT_EQ(config.primChan, 2);
}

const std::string kFormatted =
    "LCDMI configuration:\r\n"
    "  Diag Opts     = 1 4\r\n"
    "  Prim Chan ID  = 2\r\n"
    "Channel 1:\r\n"
    "  Chan ID       = 1\r\n"
    "  Disabled      = 0\r\n"
    "  Output Type   = 0\r\n"
    "  Polarity      = 0\r\n"
    "  Resolution    = 0\r\n"
    "  Filt Cut Freq = 0\r\n"
    "  Nom Data Rate = 0\r\n"
    "  Scale Factor  = 1\r\n"
    "  Label         = \"x\"\r\n"
    "Channel 2:\r\n"
    "  Chan ID       = 2\r\n"
    "  Disabled      = 0\r\n"
    "  Output Type   = 1\r\n"
    "  Polarity      = 1\r\n"
    "  Resolution    = 3\r\n"
    "  Filt Cut Freq = 7\r\n"
    "  Nom Data Rate = 3\r\n"
    "  Scale Factor  = -1.5\r\n"
    "  Label         = \"axisY\"\r\n"
    "Channel 3:\r\n"
    "  Chan ID       = 0\r\n"
    "  Disabled      = 0\r\n"
    "  Output Type   = 0\r\n"
    "  Polarity      = 0\r\n"
    "  Resolution    = 0\r\n"
    "  Filt Cut Freq = 0\r\n"
    "  Nom Data Rate = 0\r\n"
    "  Scale Factor  = 0\r\n"
    "  Label         = \"\"\r\n";

TEST(Lcdmi, FormatsTheRecordAndStopsAtAPieceThatDoesNotFit) {
  Read r = read_text(kGood);
  ASSERT_EQ(r.rc, 0);
  char text[1000];
  EXPECT_EQ(lcdmi_format_config(&r.config, text, sizeof text), text);
  EXPECT_EQ(std::string(text), kFormatted);

  // "LCDMI configuration:\r\n" is 22 characters: with 23 it fits alone.
  EXPECT_EQ(std::string(lcdmi_format_config(&r.config, text, 23)), "LCDMI configuration:\r\n");
  EXPECT_EQ(std::string(lcdmi_format_config(&r.config, text, 22)), "");
  // The options stop at the first that does not fit, and nothing follows.
  EXPECT_EQ(std::string(lcdmi_format_config(&r.config, text, 22 + 17 + 2 + 1)),
            "LCDMI configuration:\r\n  Diag Opts     = 1");
  EXPECT_EQ(lcdmi_format_config(&r.config, text, 0), nullptr);
  EXPECT_EQ(lcdmi_format_config(nullptr, text, sizeof text), nullptr);

  // Options above 9 are in the set but not in the list.
  r.config.diagOpts = 1 << 9;
  lcdmi_format_config(&r.config, text, sizeof text);
  EXPECT_NE(std::string(text).find("  Diag Opts     =\r\n  Prim"), std::string::npos);

  TempDir dir;
  std::FILE* f = std::fopen(dir.file("printed").c_str(), "w+b");
  ASSERT_NE(f, nullptr);
  r.config.diagOpts = 0;
  lcdmi_print_config(f, &r.config);
  std::rewind(f);
  char printed[1000] = {};
  const std::size_t n = std::fread(printed, 1, sizeof printed - 1, f);
  std::fclose(f);
  std::string expected = kFormatted;
  expected.replace(expected.find("= 1 4"), 5, "= 0");
  EXPECT_EQ(std::string(printed, n), expected);
}

}  // namespace
