// Error reports of a calibration read.
#include "instrument/calibration/cal_report.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace felbrin {

CalReadContext& cal_read_context() {
  static CalReadContext context;
  return context;
}

}  // namespace felbrin

int sb_calError(const char* format, ...) {
  felbrin::CalReadContext& context = felbrin::cal_read_context();
  ++context.error_count;

  char message[felbrin::kCalMessageMax + 1];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  // Terminated whatever the C runtime does with a message that is cut.
  message[n < 0 ? 0 : sizeof message - 1] = '\0';

  // The heading names the file or inline text once per read. Its parts are
  // built as strings: an inline text may be of any length.
  std::string heading;
  std::string source;
  if (context.error_count == 1) {
    heading = "Error(s) reading system calibration ";
    if (context.path) {
      source = "file \"" + *context.path + "\":\n";
    } else if (context.inline_text) {
      source = "info\n\"" + *context.inline_text + "\":\n";
    } else {
      source = "info:\n";
    }
  }
  u_log_fn("%s%s%s\n", heading.c_str(), source.c_str(), message);
  return static_cast<int>(heading.size() + source.size() + std::char_traits<char>::length(message) +
                          1);
}
