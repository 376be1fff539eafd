// LCDMI configuration file: each keyword and the parser messages it passes
// on, the line-length limit and line numbers, CR LF files, the formatted
// text (whole and cut short), and the path function's own results.
#include "instrument/calibration/lcdmi.h"

#include <gtest/gtest.h>

#include <string>

#include "common/errors.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::TempDir;
using namespace std::string_literals;

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

// The message of a refused file: the heading, `why`, then the line named
// `number` as the file has it.
std::string refused(const std::string& text, int number, const std::string& why) {
  std::size_t begin = 0;
  for (int i = 1; i < number; ++i) begin = text.find('\n', begin) + 1;
  const std::string line = text.substr(begin, text.find_first_of("\r\n", begin) - begin);
  return kHeading + why + "Error in line " + std::to_string(number) + ":\r\n  " + line;
}

TEST(Lcdmi, ReadsEachKeyword) {
  const Read r = read_text(kGood);
  ASSERT_EQ(r.rc, 0) << r.message;
  EXPECT_EQ(r.message, "");
  const lcdmi_config_t& c = r.config;
  EXPECT_EQ(c.primChan, 2);  // the first enabled channel read, not the lowest id
  EXPECT_EQ(c.diagOpts, 0x9);
  EXPECT_EQ(c.avgInputs, 1);
  EXPECT_EQ(c.chan[0].avgInput + c.chan[1].avgInput * 2 + c.chan[2].avgInput * 4, 5);
  EXPECT_EQ(c.chan[1].filterCutoff, 7);
  EXPECT_EQ(c.chan[1].scaleFactor, -1.5);
  EXPECT_STREQ(c.chan[1].label, "axisY");
  EXPECT_EQ(c.chan[2].id, 0);

  const std::string long_comment = "#" + std::string(98, 'c');  // 99 + LF = 100
  for (const std::string& text : {std::string(), "# a\n\n  \t\n#b"s, long_comment + "\r\nVersion 2\n" + std::string(100, ' ')}) {
    EXPECT_EQ(read_text(text).rc, 0);  // a file of comments only is an empty configuration
  }
  // An enabled channel is primary even when the first is disabled; averaging
  // set before a channel's line stays; option lists end at a bad value and
  // bits wrap at 32.
  const Read more = read_text("Version 2\nAvgChannels 2\nChannel 1 1 0 0 0 0 0 1 a\nChannel 2 0 0 0 0 0 0 1 b\n"
                              "DiagOpts 33 256 0 x 2\n");
  EXPECT_EQ(more.rc, 0) << more.message;
  EXPECT_EQ(more.config.primChan, 2);
  EXPECT_EQ(more.config.chan[1].avgInput, 1);
  EXPECT_EQ(static_cast<uint32_t>(more.config.diagOpts), 0x80000001u);
}

TEST(Lcdmi, ReportsTheFirstError) {
  const std::string long_comment = "#" + std::string(99, 'c');  // 100 + LF
  const std::string too_long = "Line longer than 100 characters\r\nError in line 2\r\n";
  const std::string channel_id = "Number out of range.\nExpected 'channel ID' an integer value in the range [1,3]\n";
  struct Case {
    std::string text;
    int line;  // 0: the line is not shown
    std::string why;
  } const cases[] = {
      {"\n# x\nChannel 1 0 0 0 0 0 0 1 x\n", 3, "The first non-comment line must be a Version statement.\r\n"},
      {"Version 4\n", 1, "This program requires a version 2 or 3 configuration file.\r\n"},
      {"Version\t100", 1, "Number out of range.\nExpected 'version number' an integer value in the range [0,99]\n"},
      {"Version 2\nVersion 3\n", 2, "Unrecognized token \"Version\"\r\n"},
      {"Version 2\n" + std::string(45, 'K') + " 1\n", 2, "Unrecognized token \"" + std::string(40, 'K') + "\"\r\n"},
      {"Version 2\nChannel 4 0 0 0 0 0 0 1 x\n", 2, channel_id},
      {"Version 2\nChannel 1 0\n", 2, "Missing number.\nExpected 'output type' an integer value in the range [0,1]\n"},
      {"Version 2\nChannel 1 0 0 0 0 0 0 99.5 x\n", 2,
       "Number out of range.\nExpected 'scale factor' a floating point value in the range [-99,99]\n"},
      {"Version 2\nChannel 1 0 0 0 0 0 0 1 abcdefghijk\n", 2,
       "String longer than maximum of 10 characters.\nExpected label, a string of up to 10 characters\n"},
      {"Version 2\nAvgChannels 2 0\n", 2, "Invalid channel number 0.\r\n"},
      {"Version 2\nAvgChannels 2 4\n", 2, "Invalid channel number 4.\r\n"},
      {"Version 2\n" + long_comment + "\r\nBogus\n", 0, too_long},
      {"Version 2\n#" + std::string(300, 'x') + "Bogus\nBogus\n", 0, too_long},  // one line, however long
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Read r = read_text(c.text);
    EXPECT_EQ(r.rc, ERR_LCDMI_CONFIG);
    EXPECT_EQ(r.message, c.line > 0 ? refused(c.text, c.line, c.why) : kHeading + c.why);
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
