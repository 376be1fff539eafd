// Captures what the library sends through the log hook during a test. The
// library logs from its own threads too, so the capture takes a lock.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "common/hooks.h"

namespace felbrin::test {

class LogCapture {
 public:
  LogCapture() : saved_(u_set_log_fn(&capture)) { clear(); }
  ~LogCapture() { u_set_log_fn(saved_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string str() const {
    std::lock_guard lock(mutex());
    return text();
  }
  void clear() {
    std::lock_guard lock(mutex());
    text().clear();
  }

 private:
  static std::string& text() {
    static std::string t;
    return t;
  }
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  // Keeps whole messages, however long.
  static int capture(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, again);
    va_end(again);
    out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    std::lock_guard lock(mutex());
    text() += out;
    return 0;
  }
  u_log_hook saved_;
};

}  // namespace felbrin::test
