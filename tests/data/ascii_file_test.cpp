// The ASCII data file: exact text written, every reading rule, and the round
// trip binary -> ASCII -> records on generated data.
#include "data/ascii_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/errors.h"
#include "data/ascii_file_internal.h"
#include "data/data_set.h"
#include "common/number_format.h"
#include "support/alloc_hooks.h"
#include "support/log_capture.h"
#include "support/string_sink.h"
#include "support/temp_dir.h"
#include "tools/datafile_builder.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::TempDir;

using felbrin::test::StringSink;

void set_text(char* field, std::size_t size, const char* text) {
  std::memset(field, 0, size);
  std::memcpy(field, text, std::min(std::strlen(text), size));
}

using felbrin::DataSet;

// Phase 3 x 4 (values 0..11), no intensity, a header with a few fields.
void fill_small(DataSet& d) {
  d.source.info_word0 = 1;
  d.source.info_word3 = -4;
  set_text(d.source.info_text, sizeof d.source.info_text, "source");
  d.phase.window = {2, 3, 3, 4};
  ASSERT_EQ(mx_i32_alloc(&d.phase), 0);
  for (int i = 0; i < 12; ++i) d.phase.matrix[i] = i;
  d.phase.matrix[11] = 2147483640;
  d.header.h164 = 0.5f;
  d.header.h076 = -9;
  set_text(d.header.h246, sizeof d.header.h246, "ABCDEFGHIJKL");  // the whole field
}

const std::string kSmallText =
    "Trel ASCII Data File - Format 2\n"
    "1 0 0 -4 \"source                       \"\n"
    "0 0 0 0 0 0\n"
    "2 3 3 4\n"
    "\"" + std::string(81, ' ') + "\"\n"
    "\"" + std::string(39, ' ') + "\"\n"
    "\"" + std::string(39, ' ') + "\"\n"
    "0 0.5 0 0 0 0 0 -9\n"
    "0 0 0 0 0 0 \"ABCDEFGHIJKL\"\n"
    "0 0 0 0 0 0 0 0 0 0\n"
    "0 0 0 0 0 0 0 0 0\n"
    "0 \"" + std::string(27, ' ') + "\"\n"
    "0 0\n"
    "\"       \"\n"
    "#\n"
    "#\n"
    "0 1 2 3 4 5 6 7 8 9 \n"
    "10 2147483640 \n"
    "#\n";

TEST(AsciiWriter, ExactText) {
  DataSet d;
  fill_small(d);
  StringSink sink;
  ASSERT_EQ(felbrin::write_ascii(sink, &d.source, &d.header, nullptr, &d.phase, "\n"), 0);
  EXPECT_EQ(sink.text, kSmallText);
}

TEST(AsciiWriter, LineNineSectionsAndSixteenBitFields) {
  DataSet d;
  d.header.h242 = 1234;
  d.header.h798 = 70000;
  d.intensity.window = {0, 0, 5, 2};
  d.intensity.n_buckets = 1;
  d.intensity.aux = -1;  // 65535 as a 16-bit word
  ASSERT_EQ(mx_bkt16_alloc(&d.intensity), 0);
  for (int i = 0; i < 10; ++i) d.intensity.matrix[i] = static_cast<uint16_t>(65530 + i % 6);
  StringSink sink;
  ASSERT_EQ(felbrin::write_ascii(sink, &d.source, &d.header, &d.intensity, nullptr, "\r\n"), 0);
  EXPECT_NE(sink.text.find("\r\n0 0 5 2 1 -1\r\n"), std::string::npos);
  EXPECT_NE(sink.text.find("\r\n0 0 0 0 70000 0 \""), std::string::npos);
  // Exactly ten values: one line, then the separator; no phase: "#" "#".
  EXPECT_NE(sink.text.find("#\r\n65530 65531 65532 65533 65534 65535 65530 65531 65532 65533 \r\n"
                           "#\r\n#\r\n"),
            std::string::npos);
  EXPECT_EQ(sink.text.find('\n', sink.text.find("#\r\n#\r\n") + 6), std::string::npos);

  d.header.h798 = 0;
  StringSink plain;
  ASSERT_EQ(felbrin::write_ascii(plain, &d.source, &d.header, &d.intensity, nullptr, "\n"), 0);
  EXPECT_NE(plain.text.find("\n0 0 0 0 1234 0 \""), std::string::npos);

  EXPECT_EQ(felbrin::write_ascii(plain, &d.source, &d.header, nullptr, nullptr, "\n"),
            ERR_INVALID_PARAM);
}

TEST(AsciiWriter, WriteFailuresAreReported) {
  DataSet d;
  fill_small(d);
  for (std::size_t limit : {std::size_t{0}, std::size_t{10}, kSmallText.size() - 1}) {
    StringSink sink(limit);
    EXPECT_EQ(felbrin::write_ascii(sink, &d.source, &d.header, nullptr, &d.phase, "\n"),
              ERR_CANT_WRITE_FILE)
        << limit;
    EXPECT_EQ(sink.text, kSmallText.substr(0, limit));
  }
#if defined(__linux__)
  EXPECT_EQ(df_write_ascii_file("/dev/full", &d.source, &d.header, nullptr, &d.phase),
            ERR_CANT_WRITE_FILE);
#endif
  TempDir dir;
  EXPECT_EQ(df_write_ascii_file(dir.file("no/dir/x.asc").c_str(), &d.source, &d.header, nullptr,
                                &d.phase),
            ERR_CANT_CREATE_FILE);
}

class AsciiReader : public ::testing::Test {
 protected:
  int read(const std::string& text, DataSet& d, bool with_intensity = true, bool with_phase = true) {
    const auto path = dir_.path() / "in.asc";
    felbrin::test::write_file(path, text);
    return df_read_ascii_file(path.string().c_str(), &d.source, &d.header,
                              with_intensity ? &d.intensity : nullptr,
                              with_phase ? &d.phase : nullptr);
  }
  // The first n lines of kSmallText.
  static std::string first_lines(int n) {
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) at = kSmallText.find('\n', at) + 1;
    return kSmallText.substr(0, at);
  }
  // kSmallText with one line replaced (lines counted from 1).
  static std::string with_line(int n, const std::string& line, std::string text = kSmallText) {
    std::size_t at = 0;
    for (int i = 1; i < n; ++i) at = text.find('\n', at) + 1;
    const std::size_t end = text.find('\n', at);
    return text.replace(at, end - at, line);
  }
  TempDir dir_;
};

TEST_F(AsciiReader, ReadsWhatTheWriterWrote) {
  DataSet d;
  LogCapture log;
  ASSERT_EQ(read(kSmallText, d, false, true), 0);
  EXPECT_EQ(log.str(), "");
  EXPECT_EQ(d.source.info_word3, -4);
  EXPECT_STREQ(d.source.info_text, "source");
  EXPECT_EQ(d.phase.window.x, 2);
  EXPECT_EQ(d.phase.window.height, 4);
  ASSERT_EQ(d.phase.size, 12);
  EXPECT_EQ(d.phase.matrix[10], 10);
  EXPECT_EQ(d.phase.matrix[11], 2147483640);
  EXPECT_EQ(d.header.h164, 0.5f);
  EXPECT_EQ(d.header.h076, -9);
  EXPECT_EQ(std::string(d.header.h246, 12), "ABCDEFGHIJKL");  // the whole field
  EXPECT_EQ(d.header.h080[0], '\0');                          // blanks trimmed
}

TEST_F(AsciiReader, CrLfAndFormatOne) {
  std::string crlf;
  for (char c : kSmallText) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  DataSet d;
  ASSERT_EQ(read(crlf, d), 0);
  EXPECT_EQ(d.phase.matrix[11], 2147483640);
  EXPECT_EQ(std::string(d.header.h246, 12), "ABCDEFGHIJKL");

  // Format 1: no line 14.
  std::string f1 = with_line(1, "Trel ASCII Data File - Format 1");
  f1.erase(f1.find("\"       \"\n"), 10);
  DataSet e;
  ASSERT_EQ(read(f1, e), 0);
  EXPECT_EQ(e.phase.matrix[3], 3);
}

TEST_F(AsciiReader, HeaderErrorsNameTheirLine) {
  struct Case {
    std::string text;
    int rc;
    int line;
  };
  const std::vector<Case> cases = {
      {with_line(1, "Trel ASCII Data File - Format 3"), ERR_UNKNOWN_ASCII_FORMAT_TYPE, 1},
      {"", ERR_UNKNOWN_ASCII_FORMAT_TYPE, 1},
      {"Trel ASCII Data File - Format 2", ERR_UNKNOWN_ASCII_FORMAT_TYPE, 1},  // no line end
      {with_line(8, "0 0.5 0 0 0 0 0"), ERR_CORRUPT_DATA_FILE, 8},
      {with_line(4, "2 3 40000 4"), ERR_CORRUPT_DATA_FILE, 4},  // not a 16-bit number
      {with_line(8, "0 0.5 0 0 0 0 0 99999999999"), ERR_CORRUPT_DATA_FILE, 8},
      {with_line(8, "0 1e39 0 0 0 0 0 1"), ERR_CORRUPT_DATA_FILE, 8},  // not a float
      {with_line(2, "1 0 0 -4 source"), ERR_CORRUPT_DATA_FILE, 2},     // no quote
      {first_lines(10), ERR_PREMATURE_EOF, 11},
  };
  for (const Case& c : cases) {
    DataSet d;
    LogCapture log;
    EXPECT_EQ(read(c.text, d), c.rc) << c.text.substr(0, 40);
    EXPECT_EQ(log.str(), "-***- Error in Line " + std::to_string(c.line) + " -***-\n");
    EXPECT_EQ(d.phase.matrix, nullptr);
  }
  DataSet d;
  LogCapture log;
  EXPECT_EQ(df_read_ascii_file(dir_.file("missing.asc").c_str(), &d.source, &d.header, nullptr,
                               &d.phase),
            ERR_CANT_OPEN_FILE);
  EXPECT_EQ(log.str(), "-***- Error in Line 0 -***-\n");
  EXPECT_EQ(df_read_ascii_file(dir_.file("x").c_str(), nullptr, &d.header, nullptr, nullptr),
            ERR_INVALID_PARAM);
}

TEST_F(AsciiReader, LineNineThirtyTwoBitValue) {
  for (const auto& [v, h798, h242] : std::vector<std::tuple<int, int, int>>{
           {70000, 70000, 4464}, {1234, 0, 1234}, {-3, 0, -3}, {65536, 65536, 0}}) {
    DataSet d;
    ASSERT_EQ(read(with_line(9, "0 0 0 0 " + std::to_string(v) + " 0 \"x\""), d), 0);
    EXPECT_EQ(d.header.h798, h798) << v;
    EXPECT_EQ(d.header.h242, h242) << v;
    EXPECT_STREQ(d.header.h246, "x\"");  // an unpadded text keeps its quote
  }
}

TEST_F(AsciiReader, ValueSections) {
  {
    // The phase section ends after 5 of 12 values.
    const std::string cut = kSmallText.substr(0, kSmallText.find("0 1 2 3 4 ")) + "0 1 2 3 4\n";
    DataSet d;
    LogCapture log;
    EXPECT_EQ(read(cut, d), ERR_CANT_READ_FILE);
    EXPECT_EQ(log.str(), "-***- Error in Line 14 -***-\n");
    EXPECT_EQ(d.phase.matrix, nullptr);
    EXPECT_EQ(d.phase.size, 0);
  }
  {
    // A value outside the type's range.
    std::string bad = kSmallText;
    bad.replace(bad.find("2147483640"), 10, "2147483648");
    DataSet d;
    LogCapture log;
    EXPECT_EQ(read(bad, d), ERR_CANT_READ_FILE);
  }
  // Intensity values in the file but no intensity matrix asked for: the
  // phase values are still the phase values.
  DataSet src;
  fill_small(src);
  src.intensity.window = {0, 0, 3, 4};
  src.intensity.n_buckets = 1;
  ASSERT_EQ(mx_bkt16_alloc(&src.intensity), 0);
  for (int i = 0; i < 12; ++i) src.intensity.matrix[i] = static_cast<uint16_t>(500 + i);
  StringSink sink;
  ASSERT_EQ(felbrin::write_ascii(sink, &src.source, &src.header, &src.intensity, &src.phase, "\n"),
            0);
  DataSet d;
  ASSERT_EQ(read(sink.text, d, false, true), 0);
  EXPECT_EQ(d.phase.matrix[0], 0);
  EXPECT_EQ(d.phase.matrix[11], 2147483640);
  DataSet both;
  ASSERT_EQ(read(sink.text, both), 0);
  EXPECT_EQ(both.intensity.matrix[11], 511);
  // Without a phase matrix, line 4 may hold anything.
  DataSet no_phase;
  ASSERT_EQ(read(with_line(4, "junk", sink.text), no_phase, true, false), 0);
  EXPECT_EQ(no_phase.intensity.matrix[0], 500);
}

TEST_F(AsciiReader, GivenBuffersReleasedAndAllocationFailures) {
  felbrin::test::FailingAllocator counting;
  {
    DataSet d;
    d.phase.window = {0, 0, 9, 9};
    ASSERT_EQ(mx_i32_alloc(&d.phase), 0);
    ASSERT_EQ(read(kSmallText, d), 0);
    EXPECT_EQ(counting.live_blocks(), 1);
  }
  EXPECT_EQ(counting.live_blocks(), 0);
  for (int fail_at = 0; fail_at < 3; ++fail_at) {
    felbrin::test::FailingAllocator alloc(fail_at);
    DataSet d;
    LogCapture log;
    const int rc = read(kSmallText, d);
    if (alloc.requests() <= fail_at) {
      EXPECT_EQ(rc, 0);
      break;
    }
    EXPECT_EQ(rc, ERR_NO_MEM);
    EXPECT_EQ(d.phase.matrix, nullptr);
    EXPECT_EQ(alloc.live_blocks(), 0);
  }
}

// Floats compare as the text "%g" gives them; texts without trailing blanks.
void expect_same_header(const df_header_t& a, const df_header_t& b) {
  const auto g = [](float v) {
    char buf[FMT_MAX_CHARS];
    return std::string(buf, fmt_g(buf, v));
  };
#define SAME_INT(f) EXPECT_EQ(a.f, b.f) << #f
#define SAME_REAL(f) EXPECT_EQ(g(a.f), g(b.f)) << #f
#define SAME_TEXT(f) EXPECT_EQ(std::string(a.f, strnlen(a.f, sizeof a.f)), std::string(b.f, strnlen(b.f, sizeof b.f))) << #f
  SAME_INT(h076); SAME_TEXT(h080); SAME_INT(h162); SAME_REAL(h164); SAME_REAL(h168);
  SAME_REAL(h172); SAME_REAL(h176); SAME_REAL(h180); SAME_REAL(h184); SAME_INT(h188);
  SAME_INT(h190); SAME_INT(h192); SAME_INT(h194); SAME_INT(h196); SAME_REAL(h198);
  SAME_INT(h202); SAME_REAL(h204); SAME_INT(h210); SAME_INT(h214); SAME_INT(h218);
  SAME_INT(h220); SAME_INT(h224); SAME_REAL(h226); SAME_INT(h230); SAME_INT(h232);
  SAME_INT(h234); SAME_INT(h236); SAME_INT(h238); SAME_INT(h240); SAME_INT(h242);
  SAME_INT(h244); SAME_TEXT(h246); SAME_TEXT(h258); SAME_INT(h298); SAME_INT(h300);
  SAME_INT(h302); SAME_TEXT(h320); SAME_REAL(h360); SAME_INT(h364); SAME_REAL(h498);
  SAME_TEXT(h534); SAME_TEXT(h562); SAME_INT(h798);
#undef SAME_INT
#undef SAME_REAL
#undef SAME_TEXT
}

// Binary file -> records -> ASCII file -> records: equal, on generated files
// of both header lengths, with and without each matrix.
TEST_F(AsciiReader, RoundTripFromBinaryFiles) {
  uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (uint32_t magic : {DF_MAGIC_834_A, DF_MAGIC_4096}) {
    for (int kinds = 1; kinds <= 3; ++kinds) {
      felbrin::tools::DataFileLayout layout;
      layout.magic = magic;
      if (kinds & 1) {
        layout.phase_x = 3, layout.phase_y = 1, layout.phase_width = 13, layout.phase_height = 7;
        layout.phase = felbrin::tools::make_surface(13, 7, 20, next());
      }
      if (kinds & 2) {
        layout.intens_width = 13, layout.intens_height = 7, layout.intens_buckets = 3;
        layout.intens_aux = -2;
        for (int i = 0; i < 13 * 7 * 3; ++i) layout.intensity.push_back(static_cast<uint16_t>(next()));
      }
      std::vector<unsigned char> bytes = felbrin::tools::build_data_file(layout);
      // Random header contents from offset 76 on, keeping texts printable.
      for (std::size_t i = 76; i < 834; ++i) bytes[i] = static_cast<unsigned char>(next());
      for (auto [at, len] : {std::pair{12, 30}, {80, 82}, {246, 12}, {258, 40}, {320, 40},
                             {534, 28}, {562, 8}}) {
        for (int k = 0; k < len; ++k)
          bytes[static_cast<std::size_t>(at + k)] = static_cast<unsigned char>('A' + next() % 26);
        if (next() % 2) bytes[static_cast<std::size_t>(at + len / 2)] = 0;
      }
      // Floats as finite values.
      for (int at : {164, 168, 172, 176, 180, 184, 198, 204, 226, 360, 498})
        felbrin::tools::put_be32(bytes, static_cast<std::size_t>(at),
                                 0x40000000u | (next() & 0x007FFFFF));
      // h798 only with values from 65536 up, as the format carries it.
      felbrin::tools::put_be32(bytes, 798, 0);
      if (next() % 2) {
        const uint32_t v = 65536 + next() % 100000;
        bytes[798] = static_cast<unsigned char>(v), bytes[799] = static_cast<unsigned char>(v >> 8);
        bytes[800] = static_cast<unsigned char>(v >> 16), bytes[801] = 0;  // stored as it stands
        felbrin::tools::put_be16(bytes, 242, static_cast<uint16_t>(v));
      }
      felbrin::test::write_file(dir_.path() / "in.dat", bytes);

      DataSet a;
      ASSERT_EQ(df_read_file((dir_.path() / "in.dat").string().c_str(), &a.source, &a.header,
                             &a.intensity, &a.phase),
                0);
      if (a.header.h798 != 0 && a.header.h798 < 65536) a.header.h798 = 0;
      const std::string asc = dir_.file("out.asc");
      ASSERT_EQ(df_write_ascii_file(asc.c_str(), &a.source, &a.header,
                                    (kinds & 2) ? &a.intensity : nullptr,
                                    (kinds & 1) ? &a.phase : nullptr),
                0);
      DataSet b;
      ASSERT_EQ(df_read_ascii_file(asc.c_str(), &b.source, &b.header, &b.intensity, &b.phase), 0);
      SCOPED_TRACE(::testing::Message() << "magic " << magic << " kinds " << kinds);
      EXPECT_EQ(a.source.info_word0, b.source.info_word0);
      EXPECT_EQ(a.source.info_word3, b.source.info_word3);
      EXPECT_EQ(std::string(a.source.info_text, strnlen(a.source.info_text, 30)),
                std::string(b.source.info_text, strnlen(b.source.info_text, 30)));
      expect_same_header(a.header, b.header);
      if (kinds & 1) {
        ASSERT_EQ(a.phase.size, b.phase.size);
        EXPECT_EQ(std::memcmp(a.phase.matrix, b.phase.matrix, 4 * static_cast<std::size_t>(a.phase.size)), 0);
        EXPECT_EQ(b.phase.window.x, 3);
      }
      if (kinds & 2) {
        ASSERT_EQ(a.intensity.size, b.intensity.size);
        EXPECT_EQ(std::memcmp(a.intensity.matrix, b.intensity.matrix,
                              2 * static_cast<std::size_t>(a.intensity.size)),
                  0);
        EXPECT_EQ(b.intensity.aux, -2);
        EXPECT_EQ(b.intensity.n_buckets, 3);
      }
    }
  }
}

}  // namespace
