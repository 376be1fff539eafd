// Fuzzes the ramp configuration reader. What it accepts is written back and
// must read again to the same lines. The writer rounds reals to its
// columns' precision, so a value at the very edge of its range may round onto
// the edge and be refused on the second read: that is allowed for the real
// columns only, never for the type, the file name or the integers.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "instrument/ramps/ramp_config_internal.h"
#include "platform/platform.h"

namespace {

using felbrin::fuzz::StringSink;

std::string& log_text() {
  static std::string text;
  return text;
}

// Keeps the details of refused lines: the first argument of the messages
// that name a line.
int keep_details(const char* format, ...) {
  if (std::strncmp(format, "%s in line", 10) != 0) return 0;
  va_list args;
  va_start(args, format);
  log_text() += va_arg(args, const char*);
  log_text() += '\n';
  va_end(args);
  return 0;
}

struct Specs {
  rr_ramp_line_t* cfgs = nullptr;
  int count = 0;
  ~Specs() { rr_release_ramp_lines(&cfgs); }
};

int read(const std::string& text, Specs& s) {
  std::FILE* f = plat::open_memory(text.data(), text.size());
  if (f == nullptr) return -1;
  const int rc = felbrin::read_ramp_config_stream(f, "fuzz", &s.cfgs, &s.count);
  std::fclose(f);
  return rc;
}

std::string written(const rr_ramp_line_t* cfgs, int count) {
  StringSink sink;
  if (felbrin::write_ramp_config(sink, cfgs, count) != 0) std::abort();
  return sink.text;
}

bool refused_a_real(const std::string& log) {
  for (const char* column : {"ScanLen", "CameraRate", "FringesPerFrame", "RampSlope", "ObjMag", "ScanCal"}) {
    if (log.find(std::string("Invalid ") + column + " value ") != std::string::npos) return true;
  }
  return false;
}

bool same_words(const rr_ramp_line_t& a, const rr_ramp_line_t& b) {
  return a.type == b.type && a.wavelenIndex == b.wavelenIndex &&
         std::strcmp(a.fileName, b.fileName) == 0 && a.cameraInterlace == b.cameraInterlace &&
         a.grabSkip == b.grabSkip && a.hide == b.hide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    felbrin::fuzz::install_bounded_allocator();
    u_set_log_fn(keep_details);
    return true;
  }();
  (void)ready;

  Specs first;
  log_text().clear();
  if (read(std::string(reinterpret_cast<const char*>(data), size), first) != 0) {
    if (first.cfgs != nullptr || first.count != 0) std::abort();  // a failed read hands nothing over
    return 0;
  }
  if (first.count <= 0 || first.cfgs == nullptr) std::abort();
  for (int i = 0; i < first.count; ++i) {
    const rr_ramp_line_t& cfg = first.cfgs[i];
    if (std::memchr(cfg.fileName, '\0', sizeof cfg.fileName) == nullptr) std::abort();
  }
  // Mostly the whole file writes in one piece, reads back to the same words
  // and writes again to the same text; only when it does not is each line
  // tried alone, where a line refused for rounding is told from a fault.
  const std::string all = written(first.cfgs, first.count);
  Specs whole;
  log_text().clear();
  const int rc = read(all, whole);
  if (rc != 0 && !refused_a_real(log_text())) std::abort();
  if (rc == 0 && whole.count == first.count && written(whole.cfgs, whole.count) == all &&
      std::equal(first.cfgs, first.cfgs + first.count, whole.cfgs, same_words)) {
    return 0;
  }
  for (int i = 0; i < first.count; ++i) {
    const rr_ramp_line_t& cfg = first.cfgs[i];
    const std::string line = written(&cfg, 1);
    Specs again;
    log_text().clear();
    if (read(line, again) != 0) {
      if (!refused_a_real(log_text())) std::abort();  // the reader refuses what the writer wrote
      continue;
    }
    if (again.count != 1 || !same_words(cfg, again.cfgs[0])) std::abort();
    if (written(again.cfgs, 1) != line) std::abort();  // a value changed on the way
  }
  return 0;
}
