// Ramp data files: the byte layout of written files, malformed files, every
// allocation failing, failed writes, the text dump, standard names and the
// check against a configuration line.
#include "instrument/ramps/ramp_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "instrument/ramps/ramp_file_internal.h"
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

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

rr_ramp_hdr_t swli_header(int32_t n_points) {
  rr_ramp_hdr_t h{};
  h.rampType = RR_TYPE_SWLI;
  h.pztID = 12345;
  h.rampID = 3;
  h.nPoints = n_points;
  h.rampEnd = n_points - 1;
  h.sampleClkFreq = 12.5f;
  h.cameraRate = 25;
  h.rampSlope = 81;
  h.rampTriple[0] = 1;
  h.rampTriple[1] = -0.5f;
  h.rampTriple[2] = 1e-7f;
  h.scanLen = 10;
  h.polar = 'b';
  h.scanCal = 1.0001f;
  h.reserved1 = 0x11223344;
  h.fringesPerFrame = 0.125f;
  h.objMag = 50;
  h.wavelenSelect = 2;
  h.dirFlag = 1;
  h.spare[0] = 'x';
  h.spare[131] = 'y';
  return h;
}

std::vector<uint16_t> ramp_points(int32_t n) {
  std::vector<uint16_t> p(static_cast<std::size_t>(n));
  for (int32_t i = 0; i < n; ++i) p[static_cast<std::size_t>(i)] = static_cast<uint16_t>(i * 4099 + 7);
  return p;
}

// The file bytes of a ramp, as the writer makes them.
std::string file_bytes(const rr_ramp_hdr_t& h, const uint16_t* points) {
  StringSink sink;
  EXPECT_EQ(felbrin::write_ramp(sink, h, points), 0);
  return sink.text;
}

// Reads a ramp from bytes in memory.
int read_bytes(const std::string& bytes, rr_ramp_hdr_t* hdr, uint16_t** points) {
  std::FILE* f = plat::open_memory(bytes.data(), bytes.size());
  EXPECT_NE(f, nullptr);
  const int rc = felbrin::read_ramp_stream(f, hdr, points);
  std::fclose(f);
  return rc;
}

bool is_cleared(const rr_ramp_hdr_t& h) {
  const rr_ramp_hdr_t zero{};
  return std::memcmp(&h, &zero, sizeof h) == 0;
}

TEST(RampFile, WriteThenReadGivesTheSameRamp) {
  TempDir dir;
  const rr_ramp_hdr_t h = swli_header(5);
  const std::vector<uint16_t> points = ramp_points(5);
  const auto path = dir.path() / u8"rampe_\u00e9.ramp";
  felbrin::test::write_file(path, std::string(1000, 'z'));  // truncated by the writer
  ASSERT_EQ(rr_write_ramp_file(felbrin::test::marked(path).c_str(), &h, points.data()), 0);
  EXPECT_EQ(h.magicNumber, 0);  // the caller's header is not changed

  const std::string bytes = felbrin::test::read_file(path);
  ASSERT_EQ(bytes.size(), 328u + 2 * 5);
  EXPECT_EQ(bytes.substr(0, 4), "RAMQ");
  EXPECT_EQ(bytes.substr(16, 4), std::string("\0\0\0\5", 4));         // nPoints, big-endian
  EXPECT_EQ(bytes.substr(168, 4), std::string("\0\0\0\x3E", 4));      // 0.125f, little-endian
  EXPECT_EQ(bytes.substr(164, 4), "\x11\x22\x33\x44");                // the last big-endian word
  EXPECT_EQ(bytes.substr(184, 4), std::string("\1\0\0\0", 4));        // direction flag
  EXPECT_EQ(bytes.substr(328, 4), std::string("\0\x07\x10\x0A", 4));  // 7, 4106

  rr_ramp_hdr_t back{};
  uint16_t* got = nullptr;
  ASSERT_EQ(rr_read_ramp_file(felbrin::test::marked(path).c_str(), &back, &got), 0);
  rr_ramp_hdr_t expected = h;
  expected.magicNumber = RR_MAGIC;
  EXPECT_EQ(std::memcmp(&back, &expected, sizeof back), 0);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::vector<uint16_t>(got, got + 5), points);
  rr_release_points(&got);
  EXPECT_EQ(got, nullptr);
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  int rc;
  int32_t n_points;  // of the header read back when it reads
};

TEST(RampFile, MalformedFiles) {
  const rr_ramp_hdr_t h100 = swli_header(100);
  const std::vector<uint16_t> p100 = ramp_points(100);
  const std::string full = file_bytes(h100, p100.data());
  const rr_ramp_hdr_t none = swli_header(0);
  const rr_ramp_hdr_t negative = swli_header(-4);
  const std::string huge_bytes = file_bytes(swli_header(0), nullptr).replace(16, 4, "\x7F\xFF\xFF\xFF");
  const MalformedCase cases[] = {
      {"not RAMQ", "RAMP" + full.substr(4), ERR_NOT_A_RAMP_FILE, 0},
      {"3 bytes", "RAM", ERR_PREMATURE_EOF, 0},
      {"empty", "", ERR_PREMATURE_EOF, 0},
      {"short header", full.substr(0, 327), ERR_PREMATURE_EOF, 0},
      {"99 of 100 points", full.substr(0, full.size() - 2), ERR_CORRUPT_RAMP_FILE, 0},
      {"odd byte short", full.substr(0, full.size() - 1), ERR_CORRUPT_RAMP_FILE, 0},
      {"2^31-1 points announced", huge_bytes + "\1\2", ERR_CORRUPT_RAMP_FILE, 0},
      {"header only", file_bytes(none, nullptr), 0, 0},
      {"negative count", file_bytes(negative, nullptr), 0, -4},
      {"trailing bytes", full + "zz", 0, 100},
  };
  TempDir dir;
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool from_file : {false, true}) {
      FailingAllocator alloc;
      rr_ramp_hdr_t hdr;
      std::memset(&hdr, 0x5A, sizeof hdr);
      uint16_t* points = nullptr;
      const std::string path = dir.file("bad.ramp");
      felbrin::test::write_file(path, c.bytes);
      EXPECT_EQ(from_file ? rr_read_ramp_file(path.c_str(), &hdr, &points)
                          : read_bytes(c.bytes, &hdr, &points),
                c.rc);
      EXPECT_EQ(hdr.nPoints, c.n_points);
      if (c.rc != 0) {
        EXPECT_TRUE(is_cleared(hdr));
      }
      // Only a read that succeeds with points allocates, and only once.
      EXPECT_EQ(alloc.requests(), c.n_points > 0 ? 1 : 0);
      EXPECT_EQ(points != nullptr, c.n_points > 0);
      rr_release_points(&points);
      EXPECT_EQ(alloc.live_blocks(), 0);
    }
  }
}

TEST(RampFile, ReadingReleasesTheArrayItWasGiven) {
  FailingAllocator alloc;
  auto* old = static_cast<uint16_t*>(u_malloc_fn(8));
  uint16_t* points = old;
  rr_ramp_hdr_t hdr;
  EXPECT_EQ(read_bytes("RAMP", &hdr, &points), ERR_NOT_A_RAMP_FILE);
  EXPECT_EQ(points, nullptr);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

// Each allocation failing in turn (the reader makes one) leaves no block live.
TEST(RampFile, EveryAllocationOfTheReaderMayFail) {
  const std::string bytes = file_bytes(swli_header(30), ramp_points(30).data());
  for (const int fail_at : {0, 1}) {
    FailingAllocator alloc(fail_at);
    rr_ramp_hdr_t hdr;
    uint16_t* points = nullptr;
    EXPECT_EQ(read_bytes(bytes, &hdr, &points), fail_at == 0 ? ERR_NO_MEM : 0);
    EXPECT_EQ(hdr.nPoints, fail_at == 0 ? 0 : 30);
    rr_release_points(&points);
    EXPECT_EQ(alloc.live_blocks(), 0);
  }
}

TEST(RampFile, RefusedWritesCreateNoFile) {
  TempDir dir;
  const std::string path = dir.file("refused.ramp");
  const uint16_t one = 1;
  const rr_ramp_hdr_t negative = swli_header(-1);
  const rr_ramp_hdr_t empty = swli_header(0);
  EXPECT_EQ(rr_write_ramp_file(path.c_str(), &negative, &one), ERR_INVALID_PARAM);
  EXPECT_EQ(rr_write_ramp_file(path.c_str(), &empty, nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(rr_write_ramp_file(path.c_str(), nullptr, &one), ERR_INVALID_PARAM);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(rr_write_ramp_file((dir.file("no-dir") + "/x.ramp").c_str(), &empty, &one),
            ERR_CANT_CREATE_FILE);
}

TEST(RampFile, AFailedWriteKeepsWhatWasWritten) {
  const rr_ramp_hdr_t h = swli_header(40000);  // more than one buffer of points
  const std::vector<uint16_t> points = ramp_points(40000);
  const std::string full = file_bytes(h, points.data());
  for (const std::size_t limit : {std::size_t{0}, std::size_t{4}, std::size_t{328}, full.size() - 1}) {
    SCOPED_TRACE(limit);
    StringSink sink(limit);
    EXPECT_EQ(felbrin::write_ramp(sink, h, points.data()), ERR_CANT_WRITE_FILE);
    EXPECT_EQ(sink.text, full.substr(0, sink.text.size()));
  }
}

constexpr const char* kDumpHeader =
    "#   1-  4  magicNumber        = 1380011345\n"
    "#   5-  8  rampType           = 0\n"
    "#   9- 12  pztID              = 12345\n"
    "#  13- 16  rampID             = 3\n"
    "#  17- 20  nPoints            = 12\n"
    "#  21- 24  rampUp             = 0\n"
    "#  25- 28  rampStart          = 0\n"
    "#  29- 32  rampLinear         = 0\n"
    "#  33- 36  rampEnd            = 11\n"
    "#  37- 40  sampleClkFreq      = 12.5\n"
    "#  41- 44  cameraRate         = 25\n"
    "#  45- 48  updateRate         = 0\n"
    "#  49- 52  grabSkip           = 0\n"
    "#  53- 56  rampSlope          = 81\n"
    "#  57- 60  trigStartAddr      = 0\n"
    "#  61- 64  trigEndAddr        = 0\n"
    "#  65- 68  rampGainDflt       = 0\n"
    "#  69- 72  rampTriple[0]      = 1\n"
    "#  73- 76  rampTriple[1]      = -0.5\n"
    "#  77- 80  rampTriple[2]      = 1e-07\n"
    "#  81- 84  scanLen            = 10\n"
    "#  85- 88  polar              = b\n"
    "#  89- 92  offset             = 0\n"
    "#  93- 96  nBuckets           = 0\n"
    "#  97-100  rampLin            = 0\n"
    "# 101-104  rampTrim           = 0\n"
    "# 105-108  cameraPClock       = 0\n"
    "# 109-112  cameraHPeriod      = 0\n"
    "# 113-116  cameraVPeriod      = 0\n"
    "# 117-120  cameraInterlace    = 0\n"
    "# 121-124  rampMux            = 0\n"
    "# 125-128  instrBdType        = 0\n"
    "# 129-132  compGain           = 0\n"
    "# 133-136  compFilter         = 0\n"
    "# 137-140  leakage            = 0\n"
    "# 141-144  adcMin             = 0\n"
    "# 145-148  adcMax             = 0\n"
    "# 149-152  adcFirst           = 0\n"
    "# 153-156  adcMid             = 0\n"
    "# 157-160  adcLast            = 0\n"
    "# 161-164  scanCal            = 1.0001\n"
    "# 169-172  fringesPerFrame    = 0.125\n"
    "# 173-176  objMag             = 50\n"
    "# 177-180  wavelenSelect      = 2\n"
    "# 197-328  spare             \n"
    "# sizeof rr_ramp_hdr_t = 328\n";

TEST(RampFile, DumpText) {
  rr_ramp_hdr_t h = swli_header(12);
  h.magicNumber = RR_MAGIC;
  const std::vector<uint16_t> points = ramp_points(12);
  StringSink rows;
  ASSERT_EQ(felbrin::dump_ramp(rows, h, points.data(), false), 0);
  EXPECT_EQ(rows.text, std::string(kDumpHeader) +
                           "7  \n4106  8205  12304  16403  20502  24601  28700  32799  36898  40997  \n"
                           "45096  \n");

  h.nPoints = 3;
  StringSink lines;
  ASSERT_EQ(felbrin::dump_ramp(lines, h, points.data(), true), 0);
  std::string expected = std::string(kDumpHeader) + "7\n4106\n8205\n";
  expected.replace(expected.find("= 12\n#  21"), 4, "= 3");
  EXPECT_EQ(lines.text, expected);

  StringSink failing(100);
  EXPECT_EQ(felbrin::dump_ramp(failing, h, points.data(), false), ERR_CANT_WRITE_FILE);
}

struct NameCase {
  const char* name;
  int32_t type;
  float scan_len, slope, rate;
  int32_t grab_skip;
  float obj_mag;
  int32_t mux, pzt;
  const char* expected;
};

TEST(RampFile, StandardNames) {
  const NameCase cases[] = {
      {"SWLI example", 0, 10, 81, 25, 0, 0, 0, 12345, "d10s81c25.b12345"},
      {"SWLI truncates scan and slope", 0, 10.9f, 81.7f, 25, 0, 0, 0, 12345, "d10s81c25.b12345"},
      {"negative values truncate toward zero", 0, -2.7f, -0.5f, 25, 0, 0, 0, 12345, "d-2s0c25.b12345"},
      {"rate rounds half up", 0, 10, 81, 24.5f, 0, 0, 0, 12345, "d10s81c25.b12345"},
      {"rate rounds down", 0, 10, 81, 29, 3, 0, 0, 12345, "d10s81c7.b12345"},
      {"BTW", 17, 20, 40, 60, 1, 50.8f, 0, 12345, "d20s40c30m50.b12345"},
      {"PMI example", 5, 0, 0, 30, 1, 0, 0, 7, "p5c15.p7"},
      {"PMI mux 1", 1, 0, 0, 30, 0, 0, 1, 12345, "p5c30.q12345"},
      {"PMI mux 2", 15, 0, 0, 30, 0, 0, 2, 12345, "p5c30.p12345"},
      {"NaN values", 17, kNaN, kNaN, kNaN, 0, kNaN, 0, 12345, "d0s0c0m0.b12345"},
      {"infinite values", 17, kInf, -kInf, kInf, 0, 1e30f, 0, 12345,
       "d2147483647s-2147483648c2147483647m2147483647.b12345"},
      {"grab skip -1 is no rate", 0, 10, 81, 25, -1, 0, 0, 12345, "d10s81c0.b12345"},
      {"grab skip -2 halves negatively", 0, 10, 81, 25, -2, 0, 0, 12345, "d10s81c-24.b12345"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    rr_ramp_hdr_t h = swli_header(0);
    h.rampType = c.type;
    h.scanLen = c.scan_len;
    h.rampSlope = c.slope;
    h.cameraRate = c.rate;
    h.grabSkip = c.grab_skip;
    h.objMag = c.obj_mag;
    h.rampMux = c.mux;
    h.nBuckets = 5;
    h.pztID = c.pzt;
    const char* name = nullptr;
    ASSERT_EQ(rr_get_std_ramp_filename(&h, &name), 0);
    EXPECT_STREQ(name, c.expected);
  }
}

TEST(RampFile, UnsupportedTypesHaveNoName) {
  for (const int32_t type : {16, -1, 18}) {
    LogCapture log;
    rr_ramp_hdr_t h = swli_header(0);
    h.rampType = type;
    const char* name = "old";
    EXPECT_EQ(rr_get_std_ramp_filename(&h, &name), ERR_INVALID_PARAM);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(log.str(), "rr_get_std_ramp_filename: unsupported ramp type " + std::to_string(type));
  }
}

TEST(RampFile, TheNextNameOnAThreadOverwritesTheLast) {
  rr_ramp_hdr_t h = swli_header(0);
  const char *first = nullptr, *second = nullptr, *elsewhere = nullptr;
  ASSERT_EQ(rr_get_std_ramp_filename(&h, &first), 0);
  h.pztID = 9;
  ASSERT_EQ(rr_get_std_ramp_filename(&h, &second), 0);
  std::thread([&] { rr_get_std_ramp_filename(&h, &elsewhere); }).join();
  EXPECT_EQ(first, second);
  EXPECT_NE(first, elsewhere);
  EXPECT_STREQ(first, "d10s81c25.b9");
}

struct SpecCase {
  const char* name;
  int32_t spec_type, hdr_type;
  float spec_rate;
  int32_t interlace, grab_skip;
  float fringes, scan_len, slope;
  const char* log;  // empty: the ramp matches
};

TEST(RampFile, CheckAgainstAConfigurationLine) {
  // The header: rate 25, interlace 0, grab skip 0, 0.125 fringes, scan 10, slope 81.
  const SpecCase cases[] = {
      {"SWLI matches", 0, 0, 25, 0, 0, 0.125f, 10, 81, ""},
      {"rate within 0.1", 0, 0, 25.09f, 0, 0, 0.125f, 10, 81, ""},
      {"PMI line takes every variant", 1, 5, 25, 0, 0, 0.125f, 99, 1, ""},
      {"PMI variant line takes its own", 5, 5, 25, 0, 0, 0.125f, 10, 81, ""},
      {"BTW matches", 17, 17, 25, 0, 0, 0.125f, 10, 81, ""},
      {"other PMI variant", 4, 5, 25, 0, 0, 0.125f, 10, 81, "Error: mismatched rampType\n"},
      {"PMI line, SWLI ramp", 1, 0, 25, 0, 0, 0.125f, 10, 81, "Error: mismatched rampType\n"},
      {"SWLI line, BTW ramp", 0, 17, 25, 0, 0, 0.125f, 10, 81, "Error: mismatched rampType\n"},
      {"rate off by 0.2", 0, 0, 25.2f, 0, 0, 0.125f, 10, 81, "Error: mismatched cameraRate\n"},
      {"rate NaN", 0, 0, kNaN, 0, 0, 0.125f, 10, 81, "Error: mismatched cameraRate\n"},
      {"interlace", 0, 0, 25, 1, 0, 0.125f, 10, 81, "Error: mismatched cameraInterlace\n"},
      {"grab skip", 0, 0, 25, 0, 1, 0.125f, 10, 81, "Error: mismatched grabSkip\n"},
      {"fringes", 1, 3, 25, 0, 0, 0.25f, 10, 81, "Error: mismatched fringesPerFrame\n"},
      {"scan length", 0, 0, 25, 0, 0, 0.125f, 10.001f, 81, "Error: mismatched scanLen\n"},
      {"scan length NaN", 17, 17, 25, 0, 0, 0.125f, kNaN, 81, "Error: mismatched scanLen\n"},
      {"slope", 0, 0, 25, 0, 0, 0.125f, 10, 80, "Error: mismatched rampSlope\n"},
      {"first mismatch only", 0, 0, 26, 1, 1, 0.25f, 1, 1, "Error: mismatched cameraRate\n"},
  };
  for (const SpecCase& c : cases) {
    SCOPED_TRACE(c.name);
    rr_ramp_hdr_t h = swli_header(0);
    h.rampType = c.hdr_type;
    rr_ramp_line_t cfg{};
    cfg.type = c.spec_type;
    cfg.cameraRate = c.spec_rate;
    cfg.cameraInterlace = c.interlace;
    cfg.grabSkip = c.grab_skip;
    cfg.fringesPerFrame = c.fringes;
    cfg.scanLen = c.scan_len;
    cfg.rampSlope = c.slope;
    LogCapture log;
    EXPECT_EQ(rr_check_ramp_spec(&cfg, &h), *c.log == '\0' ? 0 : ERR_INVALID_PARAM);
    EXPECT_EQ(log.str(), c.log);
  }
}

TEST(RampFile, SwapTurnsTheFirst42WordsBigEndian) {
  rr_ramp_hdr_t h = swli_header(0);
  h.rampID = 0x01020304;
  h.reserved1 = 0x0A0B0C0D;
  rr_swap_ramp_hdr(&h);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&h);
  EXPECT_EQ(std::string(bytes + 12, bytes + 16), "\1\2\3\4");
  EXPECT_EQ(std::string(bytes + 164, bytes + 168), "\x0A\x0B\x0C\x0D");
  EXPECT_EQ(h.fringesPerFrame, 0.125f);  // the little-endian part stays
}

}  // namespace
