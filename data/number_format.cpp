#include "data/number_format.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of v; returns the end.
char* write_unsigned(char* out, uint32_t v) {
  char tmp[10];
  char* p = tmp + sizeof tmp;
  while (v >= 100) {
    const uint32_t pair = (v % 100) * 2;
    v /= 100;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  }
  if (v >= 10) {
    *--p = kDigitPairs[v * 2 + 1];
    *--p = kDigitPairs[v * 2];
  } else {
    *--p = static_cast<char>('0' + v);
  }
  const auto n = static_cast<std::size_t>(tmp + sizeof tmp - p);
  std::memcpy(out, p, n);
  return out + n;
}

// Exact powers of ten: every one up to 1e22 is representable in a double.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The exact library conversion: the standard defines it as printf's "%.6g".
char* exact_g(char* out, double v) {
  return std::to_chars(out, out + FMT_MAX_CHARS, v, std::chars_format::general, 6).ptr;
}

// a * 10^k with a single rounding, for -22 <= k <= 22.
double scale10(double a, int k) { return k >= 0 ? a * kPow10[k] : a / kPow10[-k]; }

}  // namespace

char* fmt_int(char* out, int32_t v) {
  if (v < 0) {
    *out++ = '-';
    return write_unsigned(out, 0u - static_cast<uint32_t>(v));
  }
  return write_unsigned(out, static_cast<uint32_t>(v));
}

// Fast path: scale the value so six digits lie before the point, round, and
// fall back to the exact conversion whenever the scaled value lies so close
// to a rounding boundary that the one rounding error of the scaling could
// matter. The scaled value is below 1e6 + 1, so its error is below 1.2e-10.
char* fmt_g(char* out, double v) {
  const double a = std::fabs(v);
  if (!(a >= 1e-15 && a < 1e15)) return exact_g(out, v);  // zero, tiny, huge, NaN, inf

  // Decimal exponent estimate from the binary one, then corrected.
  int e2 = 0;
  std::frexp(a, &e2);
  int e = static_cast<int>(std::floor((e2 - 1) * 0.30102999566398120));
  uint32_t digits = 0;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 3) return exact_g(out, v);
    const double y = scale10(a, 5 - e);
    const double whole = std::floor(y);
    const double frac = y - whole;
    if (std::fabs(frac - 0.5) < 1e-8) return exact_g(out, v);
    const double r = frac > 0.5 ? whole + 1 : whole;
    if (r >= 1e6) {
      ++e;
      continue;
    }
    if (r < 1e5) {
      --e;
      continue;
    }
    digits = static_cast<uint32_t>(r);
    break;
  }

  char d[6];
  write_unsigned(d, digits);
  int nd = 6;
  while (nd > 1 && d[nd - 1] == '0') --nd;

  if (v < 0) *out++ = '-';
  if (e < -4 || e >= 6) {
    *out++ = d[0];
    if (nd > 1) {
      *out++ = '.';
      std::memcpy(out, d + 1, static_cast<std::size_t>(nd - 1));
      out += nd - 1;
    }
    *out++ = 'e';
    *out++ = e < 0 ? '-' : '+';
    const int ae = e < 0 ? -e : e;
    if (ae < 10) *out++ = '0';
    return write_unsigned(out, static_cast<uint32_t>(ae));
  }
  if (e >= 0) {
    const int int_digits = e + 1;
    std::memcpy(out, d, static_cast<std::size_t>(int_digits));
    out += int_digits;
    if (nd > int_digits) {
      *out++ = '.';
      std::memcpy(out, d + int_digits, static_cast<std::size_t>(nd - int_digits));
      out += nd - int_digits;
    }
    return out;
  }
  *out++ = '0';
  *out++ = '.';
  for (int z = -e - 1; z > 0; --z) *out++ = '0';
  std::memcpy(out, d, static_cast<std::size_t>(nd));
  return out + nd;
}
