// Number formatting for the text files, byte-identical to ISO C printf on
// every platform (the Windows C runtime formats floating point differently,
// so it is never used for file contents).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Room that each of the functions below may need.
constexpr std::size_t FMT_MAX_CHARS = 32;

// Writes v as printf's "%d" would; returns the end of the text (not terminated).
char* fmt_int(char* out, int32_t v);

// Writes v as printf's "%g" would (six significant digits, round half to
// even on exact ties, at least two exponent digits); returns the end.
char* fmt_g(char* out, double v);
// The same as a string, for messages.
std::string fmt_g_string(double v);

// v as printf's "%*.*f" would write it (right-aligned in `width`), for the
// few fixed-point fields of the text logs; precision is capped at 20.
constexpr int FMT_MAX_PRECISION = 20;
std::string fmt_fixed_string(double v, int precision, int width = 0);

// A message from a template, the readers' way of describing a refused line:
// each %s takes the next of `texts`, each %d and %g the next of `numbers`
// (%d saturated to the int32 range), formatted as above. A conversion with
// nothing left to take stays as written.
std::string fmt_template(std::string_view tmpl, std::span<const std::string_view> texts,
                         std::span<const double> numbers);
