// Captures what the library sends through the log hook during a test.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/hooks.h"

namespace felbrin::test {

class LogCapture {
 public:
  LogCapture() : saved_(u_set_log_fn(&capture)) { text().clear(); }
  ~LogCapture() { u_set_log_fn(saved_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::string& str() const { return text(); }

 private:
  static std::string& text() {
    static std::string t;
    return t;
  }
  static int capture(const char* format, ...) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    text() += buf;
    return 0;
  }
  u_log_hook saved_;
};

}  // namespace felbrin::test
