// The call trace of the stand-in libraries: when the environment variable
// FXSIM_TRACE names a file, every call of the library's table appends one
// line to it, "Name(arguments) = result", flushed and closed at once, so a
// crashed or killed host still leaves every call before the crash, and a
// test can read the file while the library stays loaded.
#pragma once

#include <string>
#include <string_view>

namespace sim::acq {

inline constexpr const char* kTraceVariable = "FXSIM_TRACE";

class CallTrace {
 public:
  // Reads the variable again (the library reads it at its first call, at
  // each InitDeviceMgr and at each reset).
  void refresh();
  bool on() const { return !path_.empty(); }
  // Appends the text and a line end.
  void line(std::string_view text) const;

 private:
  std::string path_;
};

// "\"text\"", or "null" for no text.
std::string quoted(const char* text);
// The shortest text that reads back as the same number, alike on every
// platform.
std::string number(double value);

}  // namespace sim::acq
