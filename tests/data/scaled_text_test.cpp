// The point list's scaled values against the exact conversion of the double
// quotient (what ISO C printf's "%g" writes), over every value of small
// spans and, for large ones, samples, the neighbourhoods of the powers of
// ten and of 1, and exact halves where the double decides the rounding.
#include "data/scaled_text_internal.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string scaled(const felbrin::ScaledText& s, uint32_t n) {
  char buf[FMT_MAX_CHARS];
  return std::string(buf, s.put(buf, n));
}

std::string printf_g(uint32_t n, uint32_t span) {
  char buf[64];
  const double q = static_cast<double>(n) / static_cast<double>(span);
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, q, std::chars_format::general, 6).ptr);
}

// The values to try for one span: all of them when there are few.
std::vector<uint32_t> values_for(uint32_t span) {
  std::vector<uint32_t> ns;
  if (span <= 300000) {
    for (uint32_t n = 0; n <= span; ++n) ns.push_back(n);
    return ns;
  }
  const auto near = [&](uint64_t centre) {
    for (int64_t d = -4; d <= 4; ++d) {
      const int64_t n = static_cast<int64_t>(centre) + d;
      if (n >= 0 && n <= span) ns.push_back(static_cast<uint32_t>(n));
    }
  };
  for (uint64_t p = 1; p <= 100000000000ull; p *= 10) near(span / p);  // 1, 0.1, 0.01...
  near(span / 2);
  uint32_t state = span;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1664525u + 1013904223u;
    ns.push_back(static_cast<uint32_t>(uint64_t{state} * (uint64_t{span} + 1) >> 32));
  }
  return ns;
}

TEST(ScaledText, WritesWhatPrintfWritesForTheQuotient) {
  // 2000000 and 20000000: every odd n above a tenth of the span is an exact
  // half at six digits; 2^31 - 1 is the largest span a point list allows.
  const uint32_t spans[] = {1,       2,        3,        7,        10,         640,
                            999,     1000,     65535,    99991,    300000,     2000000,
                            9999999, 20000000, 99999989, 1 << 30,  2147483647};
  for (const uint32_t span : spans) {
    SCOPED_TRACE(span);
    const felbrin::ScaledText s(span);
    int failures = 0;
    for (const uint32_t n : values_for(span)) {
      const std::string want = printf_g(n, span);
      if (scaled(s, n) != want && ++failures <= 5) ADD_FAILURE() << n << ": " << scaled(s, n) << " != " << want;
    }
  }
}

}  // namespace
