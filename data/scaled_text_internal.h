// The scaled values of a point list, n / span for integers 0 <= n <= span
// < 2^31, written exactly as printf's "%g" writes the double quotient, but
// from integer arithmetic: a point list is mostly these values, and this is
// about twice as fast as formatting the double.
//
// Why the integers give printf's digits: the double quotient q differs from
// n / span by at most half a unit in the last place, so q * 10^k differs
// from the exact n * 10^k / span = Q + R / span (below 10^6) by less than
// 1.2e-10, while a remainder other than an exact half lies at least
// 1 / (2 * span) > 2.3e-10 from the rounding boundary. Both therefore round
// to the same six digits; an exact half, where the double decides, and
// values below 1e-4, which printf writes with an exponent, go to fmt_g.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/number_format.h"

namespace felbrin {

class ScaledText {
 public:
  explicit ScaledText(uint32_t span) : span_(span), inverse_(1.0 / span) {}

  // Writes the text of n / span; needs 16 bytes of room (fixed-size copies).
  char* put(char* p, uint32_t n) const {
    if (n == 0) {
      *p = '0';
      return p + 1;
    }
    // Six digits from n * 10^(6 + zeros) / span: zeros is how many zeros
    // follow the point before them ("0.000123456" has three).
    uint64_t t = uint64_t{n} * 1000000;
    uint64_t digits = 0;
    int zeros = 0;
    for (;; ++zeros, t *= 10) {
      // The quotient through the double is off by one at most (t < 2^53).
      uint64_t q = static_cast<uint64_t>(static_cast<double>(t) * inverse_);
      auto r = static_cast<int64_t>(t - q * span_);
      if (r < 0) {
        --q;
        r += static_cast<int64_t>(span_);
      } else if (r >= static_cast<int64_t>(span_)) {
        ++q;
        r -= static_cast<int64_t>(span_);
      }
      if (q >= 100000) {
        const uint64_t twice = 2 * static_cast<uint64_t>(r);
        if (twice == span_) return fmt_g(p, static_cast<double>(n) / static_cast<double>(span_));
        digits = q + (twice > span_);
        break;
      }
      if (zeros == 3) return fmt_g(p, static_cast<double>(n) / static_cast<double>(span_));
    }
    if (digits == 1000000) {  // rounded up to the next power of ten
      if (zeros == 0) {
        *p = '1';
        return p + 1;
      }
      digits = 100000;
      --zeros;
    }
    std::memcpy(p, "0.000", 5);  // fixed-size copy; only 2 + zeros of it count
    p += 2 + zeros;
    put_six(p, static_cast<uint32_t>(digits));
    p += 6;
    while (p[-1] == '0') --p;  // the first digit is never '0'
    return p;
  }

 private:
  static void put_six(char* out, uint32_t v) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::memcpy(out, kPairs + 2 * (v / 10000), 2);
    std::memcpy(out + 2, kPairs + 2 * (v / 100 % 100), 2);
    std::memcpy(out + 4, kPairs + 2 * (v % 100), 2);
  }

  uint64_t span_;
  double inverse_;
};

}  // namespace felbrin
