// Number conversion with the C library's syntax (strtol and strtod: blanks,
// a sign, then the number, trailing characters left alone) but in the C
// locale whatever the host program has set, for the library's text readers.
#pragma once

namespace felbrin {

struct ParsedInt {
  bool found = false;  // digits at the start
  bool fits = false;   // within the int range
  int value = 0;
  const char* end = nullptr;  // after the digits
};

struct ParsedReal {
  bool found = false;  // a number at the start (overflow gives an infinity)
  double value = 0;
  const char* end = nullptr;
};

// Both read a NUL-terminated text.
ParsedInt parse_c_int(const char* text);
ParsedReal parse_c_double(const char* text);

}  // namespace felbrin
