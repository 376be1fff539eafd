/// @file
/// Error reports of a calibration read: the state the reader keeps for one
/// read and the reporter that prints every rule message.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>

#include "common/hooks.h"

namespace felbrin {

/// What the reader knows about the read in progress. Process-wide: one read
/// of calibration data runs at a time, and the library takes no lock for it.
struct CalReadContext {
  /// Messages printed so far in this read.
  int error_count = 0;
  /// The resolved path of the file being read, named in the heading.
  std::optional<std::string> path;
  /// The inline calibration text, named in the heading when there is no path.
  std::optional<std::string> inline_text;
  /// The line whose rule is being applied, counted as the reader counts for
  /// "Error in line %d."; 0 before the first line and once the lines are done.
  int line = 0;

  /// Back to the state at the start of a read.
  void clear() { *this = CalReadContext{}; }
};

/// The process-wide context of the read in progress.
CalReadContext& cal_read_context();

/// The largest message sb_calError prints; longer ones are cut.
inline constexpr int kCalMessageMax = 1023;

/// Prints "<heading><message>\n" through the log hook, the message formatted
/// from `format` and cut at kCalMessageMax characters; returns the length
/// printed. Shared by the reader's and the writer's reporters.
int cal_print_report(const std::string& heading, const char* format, va_list args);

}  // namespace felbrin

/// Counts the message and prints it through the log hook as one line. The
/// first message of a read is preceded by the heading "Error(s) reading system
/// calibration " and "file \"<path>\":\n", "info\n\"<inline text>\":\n" or
/// "info:\n". Returns the number of characters printed. Texts from the file
/// must be passed as arguments, never as the format.
int sb_calError(const char* format, ...) FELBRIN_PRINTF(1, 2);
