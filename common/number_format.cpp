#include "common/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/util.h"

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void put_pair(char* out, uint32_t v) { std::memcpy(out, kDigitPairs + 2 * v, 2); }

// Writes the decimal digits of v; returns the end. Short numbers (the
// coordinates of a point list) take a straight path without loops.
char* write_unsigned(char* out, uint32_t v) {
  if (v < 10) {
    *out = static_cast<char>('0' + v);
    return out + 1;
  }
  if (v < 100) {
    put_pair(out, v);
    return out + 2;
  }
  if (v < 1000) {
    *out = static_cast<char>('0' + v / 100);
    put_pair(out + 1, v % 100);
    return out + 3;
  }
  if (v < 10000) {
    put_pair(out, v / 100);
    put_pair(out + 2, v % 100);
    return out + 4;
  }
  if (v < 100000) {
    *out = static_cast<char>('0' + v / 10000);
    put_pair(out + 1, v / 100 % 100);
    put_pair(out + 3, v % 100);
    return out + 5;
  }
  char* end = write_unsigned(out, v / 100000);
  const uint32_t low = v % 100000;
  *end = static_cast<char>('0' + low / 10000);
  put_pair(end + 1, low / 100 % 100);
  put_pair(end + 3, low % 100);
  return end + 5;
}

// Powers of ten from 1e-16 to 1e22, the nearest doubles (exact from 1e0 up).
constexpr int kMinPow = -16;
constexpr double kPow10[] = {1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7,
                             1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,  1e2,  1e3,
                             1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11, 1e12, 1e13,
                             1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21, 1e22};
double pow10(int k) { return kPow10[k - kMinPow]; }

// The exact library conversion: the standard defines it as printf's "%.6g".
char* exact_g(char* out, double v) {
  return std::to_chars(out, out + FMT_MAX_CHARS, v, std::chars_format::general, 6).ptr;
}

}  // namespace

char* fmt_int(char* out, int32_t v) {
  if (v < 0) {
    *out++ = '-';
    return write_unsigned(out, 0u - static_cast<uint32_t>(v));
  }
  return write_unsigned(out, static_cast<uint32_t>(v));
}

// Fast path for 1e-15 <= |v| < 1e15: scale the value so that six digits lie
// before the point (one multiplication or division by an exact power of ten,
// so one rounding), round, and fall back to the exact conversion whenever the
// scaled value lies so close to a rounding boundary that the error of that
// one rounding (below 1.2e-10, as the scaled value is below 1e6 + 1) could
// matter. Exact ties always take the fallback, which rounds half to even.
char* fmt_g(char* out, double v) {
  const double a = std::fabs(v);
  if (!(a >= 1e-15 && a < 1e15)) return exact_g(out, v);  // zero, tiny, huge, NaN, inf

  // Decimal exponent: an estimate from the binary exponent, then one compare.
  uint64_t bits;
  std::memcpy(&bits, &a, sizeof bits);
  const int e2 = static_cast<int>(bits >> 52) - 1023;
  int e = (e2 * 1233) >> 12;  // floor(e2 * log10(2)), never above the true exponent
  e += a >= pow10(e + 1);     // without a branch: the outcome is unpredictable

  uint32_t digits = 0;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 2) return exact_g(out, v);
    const int k = 5 - e;
    const double y = k >= 0 ? a * pow10(k) : a / pow10(-k);
    const auto whole = static_cast<uint32_t>(y);
    const double frac = y - whole;
    if (std::fabs(frac - 0.5) <= 1e-8) return exact_g(out, v);
    const uint32_t r = whole + (frac > 0.5);
    // The compare above can be off by one next to a power of ten.
    if (r >= 1000000) {
      ++e;
      continue;
    }
    if (r < 100000) {
      --e;
      continue;
    }
    digits = r;
    break;
  }

  char d[16];  // six digits; room for the fixed-size copies below
  put_pair(d, digits / 10000);
  put_pair(d + 2, digits / 100 % 100);
  put_pair(d + 4, digits % 100);
  int nd = 6;
  while (d[nd - 1] == '0') --nd;  // d[0] is never '0'

  if (v < 0) *out++ = '-';
  if (e >= -4 && e < 0) {
    std::memcpy(out, "0.0000", 6);
    out += 1 - e;
    std::memcpy(out, d, 6);
    return out + nd;
  }
  if (e >= 0 && e < 6) {
    const int int_digits = e + 1;
    std::memcpy(out, d, 6);  // fixed-size copy; only int_digits of it count
    out += int_digits;
    if (nd > int_digits) {
      *out++ = '.';
      std::memcpy(out, d + int_digits, 6);
      out += nd - int_digits;
    }
    return out;
  }
  *out++ = d[0];
  if (nd > 1) {
    *out++ = '.';
    std::memcpy(out, d + 1, 5);
    out += nd - 1;
  }
  *out++ = 'e';
  *out++ = e < 0 ? '-' : '+';
  const int ae = e < 0 ? -e : e;
  if (ae < 10) *out++ = '0';
  return write_unsigned(out, static_cast<uint32_t>(ae));
}

std::string fmt_g_string(double v) {
  char text[FMT_MAX_CHARS];
  return {text, fmt_g(text, v)};
}

std::string fmt_template(std::string_view tmpl, std::span<const std::string_view> texts,
                         std::span<const double> numbers) {
  std::string out;
  out.reserve(tmpl.size() + 16);
  std::size_t text = 0, number = 0;
  while (!tmpl.empty()) {
    const std::size_t percent = std::min(tmpl.find('%'), tmpl.size());
    out.append(tmpl.substr(0, percent));
    tmpl.remove_prefix(percent);
    if (tmpl.empty()) break;
    const char conversion = tmpl.size() > 1 ? tmpl[1] : '\0';
    if (conversion == 's' && text < texts.size()) {
      out.append(texts[text++]);
    } else if ((conversion == 'd' || conversion == 'g') && number < numbers.size()) {
      char digits[FMT_MAX_CHARS];
      const double v = numbers[number++];
      const char* end = conversion == 'd' ? fmt_int(digits, u_saturated_int(v)) : fmt_g(digits, v);
      out.append(digits, static_cast<std::size_t>(end - digits));
    } else {
      out += '%';
      tmpl.remove_prefix(1);
      continue;
    }
    tmpl.remove_prefix(2);
  }
  return out;
}

std::string fmt_fixed_string(double v, int precision, int width) {
  // The largest double has 309 integer digits.
  char text[320 + FMT_MAX_PRECISION];
  const int digits =
      precision < 0 ? 0 : (precision > FMT_MAX_PRECISION ? FMT_MAX_PRECISION : precision);
  const char* end =
      std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, digits).ptr;
  std::string out;
  const auto length = static_cast<int>(end - text);
  if (width > length) out.assign(static_cast<std::size_t>(width - length), ' ');
  out.append(text, static_cast<std::size_t>(length));
  return out;
}
