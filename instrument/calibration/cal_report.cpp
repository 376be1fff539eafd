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

int cal_print_report(const std::string& heading, const char* format, va_list args) {
  char message[kCalMessageMax + 1];
  const int n = std::vsnprintf(message, sizeof message, format, args);
  // Terminated whatever the C runtime does with a message that is cut.
  message[n < 0 ? 0 : sizeof message - 1] = '\0';
  u_log_fn("%s%s\n", heading.c_str(), message);
  return static_cast<int>(heading.size() + std::char_traits<char>::length(message) + 1);
}

}  // namespace felbrin

int sb_calError(const char* format, ...) {
  felbrin::CalReadContext& context = felbrin::cal_read_context();
  ++context.error_count;
  // The heading names the file or inline text once per read, built as a
  // string: an inline text may be of any length.
  std::string heading;
  if (context.error_count == 1) {
    heading = "Error(s) reading system calibration ";
    if (context.path) {
      heading += "file \"" + *context.path + "\":\n";
    } else if (context.inline_text) {
      heading += "info\n\"" + *context.inline_text + "\":\n";
    } else {
      heading += "info:\n";
    }
  }
  va_list args;
  va_start(args, format);
  const int n = felbrin::cal_print_report(heading, format, args);
  va_end(args);
  return n;
}
