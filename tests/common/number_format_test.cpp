// The file number formatter against the exact library conversion (and, on
// glibc, against printf itself), on many values including exact ties.
#include "common/number_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string g(double v) {
  char buf[FMT_MAX_CHARS];
  return std::string(buf, fmt_g(buf, v));
}

std::string reference(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

std::string d(int32_t v) {
  char buf[FMT_MAX_CHARS];
  return std::string(buf, fmt_int(buf, v));
}

#if defined(__GLIBC__)
std::string printf_g(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}
#endif

TEST(FormatInt, AsPercentD) {
  EXPECT_EQ(d(0), "0");
  EXPECT_EQ(d(7), "7");
  EXPECT_EQ(d(10), "10");
  EXPECT_EQ(d(32767), "32767");
  EXPECT_EQ(d(-45), "-45");
  EXPECT_EQ(d(INT32_MAX), "2147483647");
  EXPECT_EQ(d(INT32_MIN), "-2147483648");
}

TEST(FormatG, KnownTexts) {
  EXPECT_EQ(g(0.0), "0");
  EXPECT_EQ(g(-0.0), "-0");
  EXPECT_EQ(g(1.0), "1");
  EXPECT_EQ(g(0.5), "0.5");
  EXPECT_EQ(g(71.0 / 640.0), "0.110937");  // division; the reciprocal would give ...938
  EXPECT_EQ(g(1e-5), "1e-05");
  EXPECT_EQ(g(0.0001), "0.0001");
  EXPECT_EQ(g(123456.0), "123456");
  EXPECT_EQ(g(1234567.0), "1.23457e+06");
  EXPECT_EQ(g(-2147483648.0), "-2.14748e+09");
  EXPECT_EQ(g(4294967295.0), "4.29497e+09");
  EXPECT_EQ(g(1e100), "1e+100");
  EXPECT_EQ(g(0.0009765625), "0.000976562");  // exact tie: half to even
  EXPECT_EQ(g(0.00048828125), "0.000488281");
  EXPECT_EQ(g(2.5e-7), "2.5e-07");
  EXPECT_EQ(g(999999.5), "1e+06");
  EXPECT_EQ(g(0.99999949999999), "0.999999");
  EXPECT_EQ(g(std::numeric_limits<double>::denorm_min()), "4.94066e-324");
  EXPECT_EQ(g(std::numeric_limits<double>::infinity()), "inf");
}

// Every scaled value the converter can produce for small spans, and many
// random doubles, agree with the exact conversion.
TEST(FormatG, AgreesWithTheExactConversion) {
  long checked = 0;
  for (int span = 1; span <= 1200; ++span) {
    for (int k = 0; k <= span; ++k) {
      const double v = static_cast<double>(k) / static_cast<double>(span);
      ASSERT_EQ(g(v), reference(v)) << k << "/" << span;
      ++checked;
    }
  }
  // Large spans, where the seventh digit varies most.
  uint64_t state = 0x9E3779B97F4A7C15ull;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 2'000'000; ++i) {
    const auto span = static_cast<int64_t>(next() % 4294967295ull) + 1;
    const auto k = static_cast<int64_t>(next() % static_cast<uint64_t>(span + 1));
    const double v = static_cast<double>(k) / static_cast<double>(span);
    ASSERT_EQ(g(v), reference(v)) << k << "/" << span;
    ++checked;
  }
  // Arbitrary bit patterns over the whole range.
  for (int i = 0; i < 1'000'000; ++i) {
    double v;
    const uint64_t bits = next();
    std::memcpy(&v, &bits, sizeof v);
    if (std::isnan(v)) continue;
    ASSERT_EQ(g(v), reference(v)) << v;
    ++checked;
  }
  EXPECT_GT(checked, 3'000'000);
}

// Exact binary ties at the seventh significant digit: x = m / 2^k.
TEST(FormatG, ExactTiesRoundHalfToEven) {
  int ties = 0;
  for (int k = 1; k <= 30; ++k) {
    const double scale = std::ldexp(1.0, -k);
    for (int m = 1; m < 5000; m += 2) {
      const double v = m * scale;
      ASSERT_EQ(g(v), reference(v)) << m << "/2^" << k;
      ASSERT_EQ(g(-v), reference(-v));
      ++ties;
    }
  }
  EXPECT_GT(ties, 50000);
}

// The readers' message templates: texts and numbers in turn; a conversion
// with nothing left to take, or one the filler does not know, stays as written.
TEST(FormatTemplate, FillsTextsAndNumbersInOrder) {
  struct Case {
    const char* tmpl;
    std::vector<std::string_view> texts;
    std::vector<double> numbers;
    const char* want;
  };
  const Case cases[] = {
      {"Invalid %s value %g (field %d)", {"PCOR"}, {7.5, 4}, "Invalid PCOR value 7.5 (field 4)"},
      {"[%g,%g] and %d%%", {}, {-6.283185307179586, 1e300, 3e10}, "[-6.28319,1e+300] and 2147483647%%"},
      {"%s %s %d %g", {"one"}, {}, "one %s %d %g"},
      {"%x %", {"unused"}, {1}, "%x %"},
      {"", {"a"}, {1}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tmpl);
    EXPECT_EQ(fmt_template(c.tmpl, c.texts, c.numbers), c.want);
  }
}

#if defined(__GLIBC__)
TEST(FormatG, MatchesGlibcPrintf) {
  for (int span = 1; span <= 700; ++span)
    for (int k = 0; k <= span; ++k) {
      const double v = static_cast<double>(k) / span;
      ASSERT_EQ(g(v), printf_g(v));
    }
  for (double v : {1e-5, 123456.5, 2.5e-7, 0.0009765625, 1e300, -3.25e-300, 65535.0})
    EXPECT_EQ(g(v), printf_g(v));
}
#endif

}  // namespace
