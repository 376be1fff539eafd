// The call trace of the stand-in libraries: see call_trace.h.
#include "sim/acquisition/call_trace.h"

#include <charconv>
#include <cstdio>

#include "platform/host_platform.h"
#include "platform/platform.h"

namespace sim::acq {

void CallTrace::refresh() { path_ = plat::host::get_env(kTraceVariable).value_or(""); }

void CallTrace::line(std::string_view text) const {
  if (path_.empty()) return;
  std::FILE* out = plat::open_file(path_.c_str(), "ab");
  if (out == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
  std::fclose(out);
}

std::string quoted(const char* text) {
  if (text == nullptr) return "null";
  return '"' + std::string(text) + '"';
}

std::string number(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

}  // namespace sim::acq
