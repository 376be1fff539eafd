#include "common/parsers.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "common/hooks.h"
#include "common/parsers_internal.h"
#include "platform/platform.h"

namespace {

constexpr const char* kBlankTab = " \t";

// Longest answer or listed line looked at, without its line end.
constexpr std::size_t kLineMax = 511;

constexpr const char* kNotANumber = "Not a number.\n";
constexpr const char* kExtraCharacters = "Extra characters after number.\n";
constexpr const char* kOutOfRange = "Number out of range.\n";

// Character classes by ASCII rules: the C classifiers are undefined for
// negative char values and depend on the locale.
bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ---- number conversion with the C library's syntax, but in the C locale
// whatever locale the host program has set, and without its LP64 long.

struct IntRead {
  bool found = false;  // digits at the start
  bool fits = false;   // within the int range
  int value = 0;
  const char* end = nullptr;
};

// Reads like strtol base 10: blanks, a sign, digits.
IntRead read_int(const char* text) {
  IntRead r;
  r.end = text;
  const char* p = text;
  while (is_c_space(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!is_digit(*p)) return r;
  const char* digits_end = p;
  while (is_digit(*digits_end)) ++digits_end;
  r.found = true;
  r.end = digits_end;
  std::uint64_t magnitude = 0;
  const auto got = std::from_chars(p, digits_end, magnitude);
  // The magnitude of INT_MIN, which only a negative number may reach.
  constexpr std::uint64_t kIntMinMagnitude = std::uint64_t{1} << 31;
  if (got.ec == std::errc{} &&
      (magnitude < kIntMinMagnitude || (negative && magnitude == kIntMinMagnitude))) {
    const auto signed_value = static_cast<std::int64_t>(magnitude);
    r.value = static_cast<int>(negative ? -signed_value : signed_value);
    r.fits = true;
  }
  return r;
}

// For a literal that does not fit the type: true when it is too large, false
// when too small. Out-of-range literals are hundreds of orders of magnitude
// away from 1, so the sign of a rough order (digits before the point, zeros
// after it, plus the exponent) decides.
bool too_large(std::string_view literal, bool hex) {
  const long long digit_weight = hex ? 4 : 1;  // hex exponents count bits
  const char exponent_mark = hex ? 'p' : 'e';
  long long order = 0;
  bool nonzero_seen = false, after_point = false;
  std::size_t i = 0;
  for (; i < literal.size() && ascii_lower(literal[i]) != exponent_mark; ++i) {
    const char c = literal[i];
    if (c == '.') {
      after_point = true;
    } else if (nonzero_seen || c != '0') {
      nonzero_seen = true;
      if (!after_point) order += digit_weight;  // integer digits
    } else if (after_point) {
      order -= digit_weight;  // zeros between the point and the first digit
    }
  }
  if (i < literal.size()) {
    ++i;
    bool negative = false;
    if (i < literal.size() && (literal[i] == '+' || literal[i] == '-'))
      negative = literal[i++] == '-';
    long long exponent = 0;
    for (; i < literal.size() && is_digit(literal[i]); ++i)
      exponent = std::min(exponent * 10 + (literal[i] - '0'), 100'000'000LL);
    order += negative ? -exponent : exponent;
  }
  return order > 0;
}

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  return ascii_lower(c) - 'a' + 10;
}

// Reads the part of a hexadecimal floating literal after "0x" as strtod
// does: digits, a point and digits, a binary exponent. Our own, because the
// hexadecimal from_chars of the Windows build's C++ library misreads the
// digits a to f. Up to 15 digits are kept exactly and the rest only as a
// sticky bit, which still rounds to nearest; the scaling by the exponent
// is exact except for results below the normal range.
template <class T>
std::from_chars_result read_hex_real(const char* p, const char* last, T& value) {
  uint64_t mantissa = 0;
  bool sticky = false;
  long long exponent = 0;
  bool any = false, point = false;
  for (; p < last; ++p) {
    if (*p == '.' && !point) {
      point = true;
      continue;
    }
    if (!is_hex_digit(*p)) break;
    any = true;
    if (mantissa >> 56 == 0) {
      mantissa = mantissa << 4 | static_cast<uint64_t>(hex_value(*p));
      if (point) exponent -= 4;
    } else {
      sticky = sticky || *p != '0';
      if (!point) exponent += 4;
    }
  }
  if (!any) return {p, std::errc::invalid_argument};
  if (p < last && (*p == 'p' || *p == 'P')) {
    const char* q = p + 1;
    bool negative = false;
    if (q < last && (*q == '+' || *q == '-')) negative = *q++ == '-';
    if (q < last && is_digit(*q)) {
      long long e = 0;
      for (; q < last && is_digit(*q); ++q) e = std::min(e * 10 + (*q - '0'), 100'000'000LL);
      exponent += negative ? -e : e;
      p = q;
    }
  }
  if (sticky) mantissa |= 1;
  exponent = std::clamp(exponent, -100'000LL, 100'000LL);
  value = std::ldexp(static_cast<T>(mantissa), static_cast<int>(exponent));
  return {p, std::errc{}};
}

template <class T>
struct RealRead {
  bool found = false;
  T value{};
  const char* end = nullptr;
};

// Reads like strtod: blanks, a sign, then a decimal or 0x-hex number,
// infinity or NaN. Overflow gives an infinity and underflow a zero.
template <class T>
RealRead<T> read_real(const char* text) {
  RealRead<T> r;
  r.end = text;
  const char* p = text;
  while (is_c_space(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // from_chars takes a '-' of its own, which strtod would not after a sign.
  if (*p == '+' || *p == '-') return r;
  const char* const last = p + std::strlen(p);
  T v{};
  std::from_chars_result got{};
  const char* literal = p;
  const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
                   (is_hex_digit(p[2]) || (p[2] == '.' && is_hex_digit(p[3])));
  if (hex) {
    literal = p + 2;
    got = read_hex_real(literal, last, v);
  } else {
    got = std::from_chars(p, last, v, std::chars_format::general);
  }
  if (got.ec == std::errc::result_out_of_range) {
    v = too_large(std::string_view(literal, static_cast<std::size_t>(got.ptr - literal)), hex)
            ? std::numeric_limits<T>::infinity()
            : T{0};
  } else if (got.ec != std::errc{}) {
    return r;
  }
  r.found = true;
  r.value = negative ? -v : v;
  r.end = got.ptr;
  return r;
}

// ---- messages

template <class... Args>
std::string format_text(const char* format, Args... args) {
  char buf[U_PARSE_MESSAGE_SIZE];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

// The caller's buffer holds U_PARSE_MESSAGE_SIZE bytes; longer text is cut.
void put_message(char* message, const std::string& text) {
  if (message == nullptr) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(U_PARSE_MESSAGE_SIZE - 1));
  std::memcpy(message, text.data(), n);
  message[n] = '\0';
}

bool has_text(const char* s) { return s != nullptr && *s != '\0'; }

// "Expected 'description' an integer value" and the like, for the numbers.
std::string expected_number(const char* description, const char* kind) {
  std::string text = "Expected";
  if (has_text(description)) text += format_text(" '%.40s'", description);
  text += kind;
  return text;
}

// ---- console input

using FilePtr = std::unique_ptr<std::FILE, decltype([](std::FILE* f) { std::fclose(f); })>;

// Reads one answer line, keeping at most kLineMax characters and no line end.
// The rest of a longer line is consumed so it cannot answer the next prompt.
// False when the answer is empty or the input has ended.
bool read_answer(std::FILE* in, char (&line)[kLineMax + 1]) {
  std::size_t n = 0;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in))
    if (n < kLineMax) line[n++] = static_cast<char>(c);
  if (n > 0 && line[n - 1] == '\r') --n;
  line[n] = '\0';
  return n > 0;
}

template <class T>
void show_prompt(std::FILE* out, const char* format, T current) {
  if (format == nullptr) return;
  std::fprintf(out, format, current);
  std::fflush(out);
}

template <class T>
bool prompt_real(std::FILE* in, std::FILE* out, const char* format, T* value) {
  if (value == nullptr) return false;
  show_prompt(out, format, static_cast<double>(*value));
  char line[kLineMax + 1];
  if (!read_answer(in, line)) return false;
  const RealRead<T> r = read_real<T>(line);
  if (!r.found) return false;
  *value = r.value;
  return true;
}

}  // namespace

char* u_strtok(char* text, const char* delimiters) {
  thread_local char* next = nullptr;
  if (delimiters == nullptr) delimiters = kBlankTab;
  char* p = text != nullptr ? text : next;
  if (p == nullptr) return nullptr;
  p += std::strspn(p, delimiters);
  if (*p == '\0') {
    next = nullptr;
    return nullptr;
  }
  char* end = p + std::strcspn(p, delimiters);
  if (*end != '\0') *end++ = '\0';
  next = end;
  return p;
}

bool u_parse_int_token(char* text, const char* delimiters, const char* description, int minimum,
                       int maximum, char* message, int* value) {
  if (message != nullptr) *message = '\0';
  if (value == nullptr) return false;
  *value = INT_MAX;
  const bool has_lower = minimum != INT_MIN;
  const bool has_upper = maximum != INT_MAX;
  const char* failure = nullptr;
  if (const char* token = u_strtok(text, delimiters); token == nullptr) {
    failure = "Missing number.\n";
  } else {
    const IntRead r = read_int(token);
    if (!r.found) {
      failure = kNotANumber;
    } else if (*r.end != '\0') {
      failure = kExtraCharacters;
    } else if (!r.fits || (has_lower && r.value < minimum) || (has_upper && r.value > maximum)) {
      failure = kOutOfRange;
    } else {
      *value = r.value;
      return true;
    }
  }
  if (message != nullptr) {
    std::string text_out = failure + expected_number(description, " an integer value");
    if (has_lower && has_upper)
      text_out += format_text(" in the range [%d,%d]", minimum, maximum);
    else if (!has_lower)
      text_out += format_text(" less than or equal to %d", maximum);
    else
      text_out += format_text(" greater than or equal to %d", minimum);
    put_message(message, text_out + "\n");
  }
  return false;
}

bool u_parse_double_token(char* text, const char* delimiters, const char* description,
                          double minimum, double maximum, char* message, double* value) {
  if (message != nullptr) *message = '\0';
  if (value == nullptr) return false;
  *value = HUGE_VAL;
  const bool has_lower = minimum != -HUGE_VAL;
  const bool has_upper = maximum != HUGE_VAL;
  const char* failure = nullptr;
  if (const char* token = u_strtok(text, delimiters); token == nullptr) {
    failure = "Missing number.\n";
  } else {
    const RealRead<double> r = read_real<double>(token);
    // A NaN would pass every bound test, as all its comparisons are false.
    if (!r.found || std::isnan(r.value)) {
      failure = kNotANumber;
    } else if (*r.end != '\0') {
      failure = kExtraCharacters;
    } else if ((has_lower && r.value < minimum) || (has_upper && r.value > maximum)) {
      failure = kOutOfRange;
    } else {
      *value = r.value;
      return true;
    }
  }
  if (message != nullptr) {
    std::string text_out = failure + expected_number(description, " a floating point value");
    if (has_lower && has_upper)
      text_out += format_text(" in the range [%g,%g]", minimum, maximum);
    else if (has_lower)
      text_out += format_text(" greater than or equal to %g", minimum);
    else
      text_out += format_text(" less than or equal to %g", maximum);
    put_message(message, text_out + "\n");
  }
  return false;
}

bool u_parse_string_token(char* text, const char* delimiters, const char* description,
                          int max_length, char* message, char* destination) {
  if (message != nullptr) *message = '\0';
  if (destination == nullptr || max_length < 2) return false;
  *destination = '\0';
  std::string text_out;
  if (const char* token = u_strtok(text, delimiters); token == nullptr) {
    text_out = "Missing string.\n";
  } else if (const std::size_t n = std::strlen(token); n <= static_cast<std::size_t>(max_length)) {
    std::memcpy(destination, token, n + 1);
    return true;
  } else {
    text_out = format_text("String longer than maximum of %d characters.\n", max_length);
  }
  if (message != nullptr) {
    // The description is not quoted here, unlike the number parsers.
    text_out += has_text(description) ? "Expected " + std::string(description) + "," : "Expected";
    text_out += format_text(" a string of up to %d characters\n", max_length);
    put_message(message, text_out);
  }
  return false;
}

namespace felbrin {

bool prompt_double(std::FILE* in, std::FILE* out, const char* format, double* value) {
  return prompt_real(in, out, format, value);
}

bool prompt_float(std::FILE* in, std::FILE* out, const char* format, float* value) {
  return prompt_real(in, out, format, value);
}

bool prompt_int(std::FILE* in, std::FILE* out, const char* format, int* value) {
  if (value == nullptr) return false;
  show_prompt(out, format, *value);
  char line[kLineMax + 1];
  if (!read_answer(in, line)) return false;
  const IntRead r = read_int(line);
  if (!r.found || !r.fits) return false;
  *value = r.value;
  return true;
}

bool prompt_short(std::FILE* in, std::FILE* out, const char* format, short* value) {
  if (value == nullptr) return false;
  int wide = *value;
  if (!prompt_int(in, out, format, &wide)) return false;
  *value = static_cast<short>(wide);  // the low 16 bits, as the tools always did
  return true;
}

bool prompt_yes_no(std::FILE* in, std::FILE* out, const char* format, bool* flag) {
  if (flag == nullptr) return false;
  show_prompt(out, format, *flag ? 'y' : 'n');
  char line[kLineMax + 1];
  if (!read_answer(in, line)) return false;
  switch (ascii_lower(line[0])) {
    case 'y':
    case '1': *flag = true; return true;
    case 'n':
    case '0': *flag = false; return true;
    default: return false;
  }
}

bool prompt_string(std::FILE* in, std::FILE* out, const char* format, char* text, int length) {
  if (text == nullptr || length < 1) return false;
  show_prompt(out, format, static_cast<const char*>(text));
  char line[kLineMax + 1];
  if (!read_answer(in, line)) return false;
  const std::size_t n = std::min(std::strlen(line), static_cast<std::size_t>(length - 1));
  std::memcpy(text, line, n);
  text[n] = '\0';
  return true;
}

}  // namespace felbrin

bool u_prompt_double(const char* format, double* value) {
  return felbrin::prompt_double(stdin, stdout, format, value);
}
bool u_prompt_float(const char* format, float* value) {
  return felbrin::prompt_float(stdin, stdout, format, value);
}
bool u_prompt_int(const char* format, int* value) {
  return felbrin::prompt_int(stdin, stdout, format, value);
}
bool u_prompt_short(const char* format, short* value) {
  return felbrin::prompt_short(stdin, stdout, format, value);
}
bool u_prompt_yes_no(const char* format, bool* flag) {
  return felbrin::prompt_yes_no(stdin, stdout, format, flag);
}
bool u_prompt_string(const char* format, char* text, int length) {
  return felbrin::prompt_string(stdin, stdout, format, text, length);
}

void u_print_text_file(const char* path, const char* prefix) {
  if (prefix == nullptr) prefix = "";
  const FilePtr file(plat::open_file(path, "rb"));
  if (!file) {
    u_log_fn("Cannot read file %s\n", plat::display_path(path).c_str());
    return;
  }
  // Room for kLineMax characters, the line end and the terminator: a line
  // that does not fit has no line end in the buffer, and ends the listing
  // just as an unterminated last line does.
  char line[kLineMax + 2];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    std::size_t n = std::strlen(line);
    if (n == 0 || line[n - 1] != '\n') break;
    line[--n] = '\0';
    if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
    u_log_fn("%s%s\n", prefix, line);
  }
}

namespace felbrin {

ParsedInt parse_c_int(const char* text) {
  const IntRead r = read_int(text);
  return {r.found, r.fits, r.value, r.end};
}

ParsedReal parse_c_double(const char* text) {
  const RealRead<double> r = read_real<double>(text);
  return {r.found, r.value, r.end};
}

}  // namespace felbrin
