/// @file
/// Reading values from text: the token parsers used by the configuration
/// readers, the console prompts of the interactive tools, and a plain listing
/// of a text file through the log hook.
#pragma once

#include <cstdio>

/// Size of the message buffer the token parsers fill on failure (terminator
/// included). Longer explanations are cut.
constexpr int U_PARSE_MESSAGE_SIZE = 200;

/// strtok with a position kept per thread, so two threads (or a caller and a
/// parser it calls) never move each other's place. `text` starts a new line,
/// null continues the current one; null delimiters mean " \t". Returns the
/// next token, terminated in place, or null when the line is used up.
char* u_strtok(char* text, const char* delimiters);

// ---- token parsers
//
// Each takes the next token through u_strtok(text, delimiters) and converts
// it. On failure `message` (when given, U_PARSE_MESSAGE_SIZE bytes) receives
// two lines: what went wrong, and what was expected, naming `description`
// (null or "" for none). The parsers never log.
//
// Number bounds: INT32_MIN / -HUGE_VAL as minimum and INT32_MAX / HUGE_VAL as
// maximum mean "no bound on that side". Numbers are read as the C locale
// writes them, whatever locale the program has set.

/// Parses the next token as a base-10 integer within [minimum, maximum]; true on
/// success. `value` is 2147483647 after any failure.
bool u_parse_int_token(char* text, const char* delimiters, const char* description, int minimum,
                       int maximum, char* message, int* value);
/// Parses the next token as a floating-point number within [minimum, maximum], with
/// the syntax of strtod (including hex and infinity); true on success. A NaN is
/// refused. `value` is HUGE_VAL after any failure.
bool u_parse_double_token(char* text, const char* delimiters, const char* description,
                          double minimum, double maximum, char* message, double* value);
/// Copies the next token, of at most `max_length` characters (max_length >= 2), into
/// `destination`, which holds max_length + 1 bytes; true on success.
bool u_parse_string_token(char* text, const char* delimiters, const char* description,
                          int max_length, char* message, char* destination);

// ---- console prompts
//
// Each prints `format` (when not null) to standard output with the current
// value as its argument, then reads one answer line from standard input (at
// most 511 characters are looked at; the rest of a longer line is dropped so
// it cannot answer the next prompt). An empty answer, the end of input, or
// an answer the prompt cannot use returns false and leaves the value as it
// was.

/// Prompts for a double: a number at the start of the answer; text after it is
/// ignored. True when `value` was set.
bool u_prompt_double(const char* format, double* value);
/// Prompts for a float, as u_prompt_double. True when `value` was set.
bool u_prompt_float(const char* format, float* value);
/// Prompts for a base-10 int; numbers outside the int range are refused. True when
/// `value` was set.
bool u_prompt_int(const char* format, int* value);
/// Prompts for a short, read as an int; the low 16 bits are kept (70000 gives
/// 4464). True when `value` was set.
bool u_prompt_short(const char* format, short* value);
/// Prompts for yes or no; the prompt's argument is 'y' or 'n'. Only the first
/// character of the answer counts: y/Y/1 sets the flag, n/N/0 clears it. True when
/// `flag` was set or cleared.
bool u_prompt_yes_no(const char* format, bool* flag);
/// Prompts for a text: the answer without its line end, cut to length - 1
/// characters, goes to `text` (of `length` bytes). True when `text` was set.
bool u_prompt_string(const char* format, char* text, int length);

/// Sends each line of a text file through the log hook as "%s%s\n" (prefix,
/// line). Stops at the end of the file or at a line with no line end (an
/// unterminated last line, or one longer than 511 characters).
void u_print_text_file(const char* path, const char* prefix);

// The prompts on given streams (the functions above use stdin and stdout).
namespace felbrin {
/// u_prompt_double, reading from `in` and printing to `out`.
bool prompt_double(std::FILE* in, std::FILE* out, const char* format, double* value);
/// u_prompt_float, reading from `in` and printing to `out`.
bool prompt_float(std::FILE* in, std::FILE* out, const char* format, float* value);
/// u_prompt_int, reading from `in` and printing to `out`.
bool prompt_int(std::FILE* in, std::FILE* out, const char* format, int* value);
/// u_prompt_short, reading from `in` and printing to `out`.
bool prompt_short(std::FILE* in, std::FILE* out, const char* format, short* value);
/// u_prompt_yes_no, reading from `in` and printing to `out`.
bool prompt_yes_no(std::FILE* in, std::FILE* out, const char* format, bool* flag);
/// u_prompt_string, reading from `in` and printing to `out`.
bool prompt_string(std::FILE* in, std::FILE* out, const char* format, char* text, int length);
}  // namespace felbrin
