// Ramp configuration file: the sample line, bad lines with their whole
// messages, the limits that end a read, CR LF files, every allocation
// failing, the writer's text and its failed writes, and round trips.
#include "instrument/ramps/ramp_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/ramps/ramp_config_internal.h"
#include "platform/platform.h"
#include "support/alloc_hooks.h"
#include "support/log_capture.h"
#include "support/string_sink.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::FailingAllocator;
using felbrin::test::LogCapture;
using felbrin::test::StringSink;
using felbrin::test::TempDir;

constexpr const char* kSample =
    " SWLI d10s81c25.b12345      010.20 025.00 00 00 0.250 081.0000 000.00 1.00000 0";

constexpr const char* kDescription =
    "#\n"
    "# RT  = RampType: PMI, SWLI, BTW, or BTWX where X is a filter number\n"
    "# FN  = FileName: name of ramp data file or \"+\" if derived from previous\n"
    "# SL  = ScanLen: scan length in microns for SWLI or BTW ramps\n"
    "# CR  = CameraRate: frame rate in Hz\n"
    "# CI  = CameraInterlace: 1 if interlaced fields, otherwise 0\n"
    "# GS  = GrabSkip: (GrabSkip+1 specifies camera frame sampling)\n"
    "# FPF = FringesPerFrame: normal 0.125 or 0.25, subnyquist 0.75 or 1.25\n"
    "# RS  = RampSlope: nm/frm for SWLI or BTW ramps\n"
    "# OM  = ObjMag: nominal objective magnification, required for BTW ramps\n"
    "# SC  = ScanCal: factor near 1.0 to calibrate SWLI or BTW ramps\n"
    "# H   = Optional hide flag: 0 is normal, 1 to hide ramp from user\n"
    "#\n"
    "# RT    FN                     SL    CR   CI GS  FPF    RS       OM   SC      H";

// The result of one read from text.
struct Read {
  int rc = -1;
  std::vector<rr_ramp_line_t> cfgs;
  std::string log;
};

Read read_text(const std::string& text) {
  LogCapture log;
  Read r;
  std::FILE* f = plat::open_memory(text.data(), text.size());
  EXPECT_NE(f, nullptr);
  rr_ramp_line_t* cfgs = nullptr;
  int count = -1;
  r.rc = felbrin::read_ramp_config_stream(f, "cfg", &cfgs, &count);
  std::fclose(f);
  if (r.rc == 0) {
    r.cfgs.assign(cfgs, cfgs + count);
  } else {
    EXPECT_EQ(cfgs, nullptr);
    EXPECT_EQ(count, 0);
  }
  rr_release_ramp_lines(&cfgs);
  r.log = log.str();
  return r;
}

rr_ramp_line_t cfg(int32_t type, int32_t index, const char* name, float scan, float rate,
                    int32_t interlace, int32_t skip, float fpf, float slope, float mag, float cal,
                    int32_t hide) {
  rr_ramp_line_t s{};
  s.type = type;
  s.wavelenIndex = index;
  std::strncpy(s.fileName, name, sizeof s.fileName - 1);
  s.scanLen = scan;
  s.cameraRate = rate;
  s.cameraInterlace = interlace;
  s.grabSkip = skip;
  s.fringesPerFrame = fpf;
  s.rampSlope = slope;
  s.objMag = mag;
  s.scanCal = cal;
  s.hide = hide;
  return s;
}

// A configuration line as the writer shows it, every column at its precision.
std::string line_of(const rr_ramp_line_t& s) {
  StringSink sink;
  EXPECT_EQ(felbrin::write_ramp_config(sink, &s, 1), 0);
  return sink.text.substr(sink.text.rfind(plat::kLineEnd, sink.text.size() - plat::kLineEnd.size() - 1));
}

// Lines of the writer's test, in the order written.
std::vector<rr_ramp_line_t> written_specs() {
  return {
      cfg(RR_TYPE_SWLI, 0, "d10s81c25.b12345", 10.2f, 25, 0, 0, 0.25f, 81, 0, 1, 0),
      cfg(RR_TYPE_SWLI, 0, "d10s81c25.b12345", 20, 25.5f, 0, 1, 0.75f, 243, 0, 0.99f, 1),
      cfg(RR_TYPE_SWLI, 0, "d10s81c25.b12345", 20, 30, 0, 1, 0.75f, 243, 0, 0.99f, 1),
      cfg(RR_TYPE_PMI, 0, "p5c25.p7", 0, 25, 1, 0, 0.25f, 0, 0, 0, 0),
      cfg(RR_TYPE_BTW, 3, "d5s81c25m50.b9", 5, 25, 0, 0, 0.25f, 81, 50, 1.00001f, 0),
      cfg(RR_TYPE_BTW, 7, "+", 5, 25, 0, 0, 0.25f, 81, 50, 1.00001f, 0),
      cfg(99, 0, "+", 5, 25, 0, 0, 0.25f, 81, 50, 1.00001f, 0),
      cfg(5, 0, "+", 0, 25, 0, 0, 0.125f, 0, 0, 0, 0),
  };
}

std::string written_text() {
  return std::string("# Fathomix Ramp Configuration File\n") + kDescription +
         "\n"
         "\n"
         " SWLI d10s81c25.b12345        10.20  25.00  0  0 0.250  81.0000   0.00 1.00000 0\n"
         " SWLI d10s81c25.b12345        20.00  25.50  0  1 0.750 243.0000   0.00 0.99000 1\n"
         "\n"
         " SWLI d10s81c25.b12345        20.00  30.00  0  1 0.750 243.0000   0.00 0.99000 1\n"
         "\n"
         " PMI  p5c25.p7                 0.00  25.00  1  0 0.250   0.0000   0.00 0.00000 0\n"
         "\n"
         " BTW3 d5s81c25m50.b9           5.00  25.00  0  0 0.250  81.0000  50.00 1.00001 0\n"
         "\n"
         " BTW  +                        5.00  25.00  0  0 0.250  81.0000  50.00 1.00001 0\n"
         "\n"
         " XXX  +                        5.00  25.00  0  0 0.250  81.0000  50.00 1.00001 0\n"
         "\n"
         " PMI  +                        0.00  25.00  0  0 0.125   0.0000   0.00 0.00000 0\n";
}

struct BadLine {
  const char* line;
  const char* message;  // detail, then help
};

TEST(RampConfig, BadLinesAreReportedWholeAndSkipped) {
  const std::string long_name = "SWLI " + std::string(81, 'n') + " 10 25 0 0 0.25 81 0 1";
  const BadLine cases[] = {
      {"PMI p5c25.p7 10 25 0 0 0.25 0 0 0",
       "Invalid ScanLen value 10 (field 3)\nFor PMI ramps, the ScanLen value must be 0\n"
       "For SWLI or BTW ramps, it must be greater than 0 and less than 1000 (um)\n"},
      {"PMIX x 0 25 0 0 0.25 0 0 0",  // judged on its first four characters
       "Invalid RampType value (field 1)\nAllowed RampType values are SWLI, PMI, BTW, and BTWX\n"
       "where X is a wavelength index in the range [1,4]\n"},
      {"BTW5 x 10 25 0 0 0.25 81 50 1",
       "Invalid BTW wavelength index (field 1)\nWavelength index must be an integer in the range [1,4]\n"},
      {long_name.c_str(), "FileName is too long (field 2)\nThe FileName may be up to 80 characters\n"},
      {"SWLI x nan 25 0 0 0.25 81 0 1", "Invalid ScanLen value nan (field 3)\nFor PMI ramps, the ScanLen"},
      {"SWLI x 1e39 25 0 0 0.25 81 0 1", "Invalid ScanLen value inf (field 3)\n"},
      {"SWLI x 1000 25 0 0 0.25 81 0 1", "Invalid ScanLen value 1000 (field 3)\n"},
      {"SWLI x 10", "Missing CameraRate value (field 4)\n"
                    "The CameraRate value must be greater than 0 and less than 50000 (Hz)\n"},
      {"SWLI x 10 25 2 0 0.25 81 0 1",
       "Invalid CameraInterlace value 2 (field 5)\nThe CameraInterlace value must be 0 or 1\n"},
      {"SWLI x 10 25 0 99999999999 0.25 81 0 1",
       "Invalid GrabSkip value 2147483647 (field 6)\n"
       "The GrabSkip value must be greater than or equal to 0 and less than 100\n"},
      {"SWLI x 10 25 0 x 0.25 81 0 1", "Invalid GrabSkip value (field 6)\n"},
      {"SWLI x 10 25 0 0 0 81 0 1", "Invalid FringesPerFrame value 0 (field 7)\n"
                                    "The FringesPerFrame value must be greater than 0 and less than 10\n"},
      {"SWLI x 10 25 0 0 0.25 0 0 1",
       "Invalid RampSlope value 0 (field 8)\nFor PMI ramps, the RampSlope value may be 0\n"
       "For SWLI or BTW ramps, it must be greater than 0 and less than 4000 (nm/frm)\n"},
      {"BTW2 x 10 25 0 0 0.25 81 0 1",
       "Invalid ObjMag value 0 (field 9)\nFor PMI or SWLI ramps, the ObjMag value may be 0\n"
       "For BTW ramps, it must be greater than 0 and less than 1000\n"},
      {"PMI x 0 25 0 0 0.25 0 0 1",
       "Invalid ScanCal value 1 (field 10)\nFor PMI ramps, the ScanCal value must be 0\n"
       "For SWLI or BTW ramps, it must be greater than 0.5 and less than 1.5\n"},
      {"SWLI x 10 25 0 0 0.25 81 0 1 2", "Invalid Hide value 2 (field 11)\nThe Hide value must be blank, 0 or 1\n"},
  };
  for (const BadLine& c : cases) {
    SCOPED_TRACE(c.line);
    const Read r = read_text(std::string("# comment\n\n") + kSample + "\n" + c.line + "\n");
    ASSERT_EQ(r.rc, 0);
    ASSERT_EQ(r.cfgs.size(), 1u);
    // Messages cut short above are compared up to where they stop.
    const std::string message = c.message;
    const std::size_t detail_end = message.find('\n');
    const std::string expected = "Error reading ramp config file \"cfg\"\n" + message.substr(0, detail_end) +
                                 " in line 4:\n  " + c.line + message.substr(detail_end);
    EXPECT_EQ(r.log.substr(0, expected.size()), expected);
    const std::string accepted = "Accepted 1 of 2 ramp specs in ramp config file \"cfg\"\n";
    EXPECT_EQ(r.log.substr(r.log.size() - accepted.size()), accepted);
  }
}

TEST(RampConfig, AcceptedLinesFollowTheColumnRules) {
  struct Good {
    const char* line;
    rr_ramp_line_t expected;
  };
  const std::string longest_name(80, 'n');
  std::string longest = "SWLI ";
  longest.append(longest_name).append(" 10 25 0 0 0.25 81 0 1");
  const Good cases[] = {
      {longest.c_str(), cfg(RR_TYPE_SWLI, 0, longest_name.c_str(), 10, 25, 0, 0, 0.25f, 81, 0, 1, 0)},
      {"BTW4 + 5 25 0 0 0.25 81 50 1", cfg(RR_TYPE_BTW, 4, "+", 5, 25, 0, 0, 0.25f, 81, 50, 1, 0)},
      {kSample, cfg(RR_TYPE_SWLI, 0, "d10s81c25.b12345", 10.2f, 25, 0, 0, 0.25f, 81, 0, 1, 0)},
      {"BTW12 + 5 25 0 0 0.25 81 50 1", cfg(RR_TYPE_BTW, 1, "+", 5, 25, 0, 0, 0.25f, 81, 50, 1, 0)},
      {"SWLIxyz a 10um 25Hz 0 0 0.25 81 0 1 # hidden",
       cfg(RR_TYPE_SWLI, 0, "a", 10, 25, 0, 0, 0.25f, 81, 0, 1, 0)},
      {"\tPMI\tp 0 50000 1 99 0.125 0 999.5 0 1",
       cfg(RR_TYPE_PMI, 0, "p", 0, 50000, 1, 99, 0.125f, 0, 999.5f, 0, 1)},
      {"SWLI a +10 25 0.9 1.7 0.25 81 0 1 1 extra words",
       cfg(RR_TYPE_SWLI, 0, "a", 10, 25, 0, 1, 0.25f, 81, 0, 1, 1)},
  };
  for (const Good& c : cases) {
    SCOPED_TRACE(c.line);
    const Read r = read_text(std::string(c.line) + "\n");
    ASSERT_EQ(r.rc, 0) << r.log;
    EXPECT_EQ(r.log, "");
    ASSERT_EQ(r.cfgs.size(), 1u);
    EXPECT_EQ(r.cfgs[0].wavelenIndex, c.expected.wavelenIndex);
    EXPECT_EQ(line_of(r.cfgs[0]), line_of(c.expected));
  }
}

TEST(RampConfig, TwentyBadLinesAreToleratedAndTheTwentyFirstEndsTheRead) {
  std::string text = std::string(kSample) + "\n";
  for (int i = 0; i < 20; ++i) text += "SWLI x 0 25 0 0 0.25 81 0 1\n";
  const Read tolerated = read_text(text + kSample + "\n");
  EXPECT_EQ(tolerated.rc, 0);
  EXPECT_EQ(tolerated.cfgs.size(), 2u);

  const Read ended = read_text(text + "FOO\n" + kSample + "\n");
  EXPECT_EQ(ended.rc, ERR_CORRUPT_RAMP_CFG_FILE);
  const std::string tail =
      "Invalid RampType value (field 1) in line 22:\n  FOO\n"
      "Allowed RampType values are SWLI, PMI, BTW, and BTWX\n"
      "where X is a wavelength index in the range [1,4]\n"
      "Too many errors reading ramp config file \"cfg\"\n"
      "Accepted 1 of 22 ramp specs in ramp config file \"cfg\"\n";
  ASSERT_GE(ended.log.size(), tail.size());
  EXPECT_EQ(ended.log.substr(ended.log.size() - tail.size()), tail);
  EXPECT_EQ(ended.log.find("Error reading ramp config file"),
            ended.log.rfind("Error reading ramp config file"));  // the heading comes once
}

TEST(RampConfig, ALineOf201CharactersEndsTheReadCountingTheLineEndAsOne) {
  const std::string longest = std::string("#").append(198, 'x');  // 200 with its line end
  const std::string too_long = std::string("#").append(199, 'x');
  struct Case {
    std::string text;
    bool ends;
  };
  const Case cases[] = {
      {longest + "\n", false},  {longest + "\r\n", false},
      {too_long, false},         // the last line, without a line end
      {too_long + "\n", true},   {too_long + "\r\n", true},
      {too_long + "x", true},    {longest + "\r\r\n", true},  // only one CR is dropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    const Read r = read_text(std::string(kSample) + "\n" + c.text);
    if (!c.ends) {
      EXPECT_EQ(r.rc, 0) << r.log;
      EXPECT_EQ(r.cfgs.size(), 1u);
      continue;
    }
    EXPECT_EQ(r.rc, ERR_CORRUPT_RAMP_CFG_FILE);
    EXPECT_EQ(r.log,
              "Error reading ramp config file \"cfg\"\n"
              "Line longer than 200 characters in line 2\n");
  }
}

TEST(RampConfig, CrLfLinesReadAsLfLines) {
  const Read r = read_text(std::string("# heading\r\n\r\n") + kSample + "\r\n" +
                           "PMI p 0 25 0 0 0.25 0 0 0 1\r\nBAD\r\n");
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.cfgs.size(), 2u);
  EXPECT_EQ(r.cfgs[1].hide, 1);
  // The CR is not part of the text shown.
  EXPECT_NE(r.log.find("in line 5:\n  BAD\nAllowed"), std::string::npos) << r.log;
}

TEST(RampConfig, AFileWithoutAnAcceptedLineIsRefusedWithTheFormat) {
  const std::string format_help = std::string("Format description and sample:\n") + kDescription +
                                  "\n" + kSample + "\n";
  const Read empty = read_text("# nothing here\n\n   \n");
  EXPECT_EQ(empty.rc, ERR_CORRUPT_RAMP_CFG_FILE);
  EXPECT_EQ(empty.log, "No acceptable ramp specs in ramp config file \"cfg\"\n" + format_help);

  const Read bad = read_text("BAD 1\n");
  EXPECT_EQ(bad.rc, ERR_CORRUPT_RAMP_CFG_FILE);
  EXPECT_EQ(bad.log.find("Accepted"), std::string::npos);
  EXPECT_NE(bad.log.find("No acceptable ramp specs"), std::string::npos);
}

TEST(RampConfig, EveryAllocationMayFail) {
  std::string text;
  for (int i = 0; i < 7; ++i) text += std::string(kSample) + "\n";
  const int allocations = felbrin::test::fail_each_allocation([&](FailingAllocator&) {
    const Read r = read_text(text);
    if (r.rc == 0) {
      EXPECT_EQ(r.cfgs.size(), 7u);
      return true;
    }
    EXPECT_EQ(r.rc, ERR_NO_MEM);
    EXPECT_NE(r.log.find("Out of memory in line "), std::string::npos) << r.log;
    return false;
  });
  EXPECT_EQ(allocations, 2);  // grown by five lines at a time
}

TEST(RampConfig, WriterTextIsTheFormatThenGroupedLines) {
  const std::vector<rr_ramp_line_t> cfgs = written_specs();
  StringSink sink;
  ASSERT_EQ(felbrin::write_ramp_config(sink, cfgs.data(), static_cast<int>(cfgs.size())), 0);
  EXPECT_EQ(sink.text, felbrin::test::native_lines(written_text()));
}

TEST(RampConfig, FailedWritesGiveCantWriteFile) {
  const std::vector<rr_ramp_line_t> cfgs = written_specs();
  const std::size_t size = felbrin::test::native_lines(written_text()).size();
  for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, size / 2, size - 1}) {
    SCOPED_TRACE(limit);
    StringSink sink(limit);
    EXPECT_EQ(felbrin::write_ramp_config(sink, cfgs.data(), static_cast<int>(cfgs.size())),
              ERR_CANT_WRITE_FILE);
  }
  StringSink exact(size);
  EXPECT_EQ(felbrin::write_ramp_config(exact, cfgs.data(), static_cast<int>(cfgs.size())), 0);
}

TEST(RampConfig, FilesRoundTripThroughTheWriterAndReader) {
  std::vector<rr_ramp_line_t> cfgs = written_specs();
  cfgs.resize(5);  // those the reader takes back as they are
  TempDir dir;
  const std::string path = dir.file("rampcfg.txt");
  ASSERT_EQ(rr_write_ramp_config(path.c_str(), cfgs.data(), static_cast<int>(cfgs.size())), 0);
  rr_ramp_line_t* read = nullptr;
  int count = 0;
  LogCapture log;
  ASSERT_EQ(rr_read_ramp_config(path.c_str(), &read, &count), 0) << log.str();
  EXPECT_EQ(log.str(), "");
  ASSERT_EQ(count, 5);
  for (int i = 0; i < count; ++i) EXPECT_EQ(line_of(read[i]), line_of(cfgs[static_cast<std::size_t>(i)]));

  // Written again, the file is the same.
  const std::string first = felbrin::test::read_file(path);
  ASSERT_EQ(rr_write_ramp_config(path.c_str(), read, count), 0);
  EXPECT_EQ(felbrin::test::read_file(path), first);
  rr_release_ramp_lines(&read);
  EXPECT_EQ(read, nullptr);
}

TEST(RampConfig, PathFunctionsCheckTheirArguments) {
  TempDir dir;
  const std::string missing = dir.file("none.txt");
  rr_ramp_line_t one{};
  rr_ramp_line_t* cfgs = &one;  // must be empty
  int count = 0;
  EXPECT_EQ(rr_read_ramp_config(missing.c_str(), &cfgs, &count), ERR_INVALID_PARAM);
  cfgs = nullptr;
  {
    LogCapture log;
    EXPECT_EQ(rr_read_ramp_config(missing.c_str(), &cfgs, &count), ERR_CANT_OPEN_FILE);
    EXPECT_EQ(log.str(), "Cannot open ramp config file \"" + missing + "\"\n");
  }
  EXPECT_EQ(rr_write_ramp_config(missing.c_str(), nullptr, 1), ERR_INVALID_PARAM);
  EXPECT_FALSE(plat::is_regular_file(missing.c_str()));
  EXPECT_EQ(rr_write_ramp_config(dir.file("no/such/dir.txt").c_str(), &one, 1), ERR_CANT_OPEN_FILE);
}

}  // namespace
