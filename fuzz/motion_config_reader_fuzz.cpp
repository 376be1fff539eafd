// Fuzzes the motion controller configuration reader. Every read ends with a
// code the format knows; a failed one reports its line, and a good one
// leaves a record the controller can use: letters it knows, groups numbered
// by their first axis, rates whose short form is the value or 0, and an
// encoder table of known entries in 24-bit words that ends in time.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/motion/mc_config_internal.h"
#include "platform/platform.h"

namespace {

bool reported_line = false;

int note_line_report(const char* format, ...) {
  if (std::strncmp(format, "-***- %s in Line %d", 19) == 0) reported_line = true;
  return 0;
}

// Gains and a compensation name for X, so the letter defaults run too.
sysInfo_t make_calibration() {
  sysInfo_t info;
  info.pid[5] = felbrin::make_hooked<sb_pid_t>();
  info.axisCompFile[5] = "xcomp.txt";
  return info;
}

const sysInfo_t& calibration() {
  static const sysInfo_t cal = make_calibration();
  return cal;
}

bool short_form_sound(const mc_rate_t& r) { return r.shortForm == 0 || r.shortForm == r.full; }

void check_record(const mc_config_t& c) {
  bool any_defined = false;
  for (int i = 0; i < MC_AXES; ++i) {
    const mc_axis_config_t& a = c.axes[i];
    any_defined = any_defined || a.defined != 0;
    if (a.name != 0 && std::string_view("abrABPRTXYZ").find(a.name) == std::string_view::npos) std::abort();
    const int g = a.axisGroup;
    if (g < 1 || g > i + 1 || c.axes[g - 1].axisGroup != g) std::abort();
    for (const mc_rate_t* r : {&a.manAccel, &a.progAccel, &a.stopAccel, &a.homeAccel, &a.manRate,
                               &a.progRate, &a.homeRate}) {
      if (!short_form_sound(*r)) std::abort();
    }
    if (!std::isfinite(a.pitchGearRatio) || !std::isfinite(a.encSteps)) std::abort();
  }
  if (!any_defined) std::abort();
  int n = 0;
  for (; n <= MC_ENC_ENTRIES && c.encTable[n].type != MC_ENC_NONE; ++n) {
    const mc_enc_entry_t& e = c.encTable[n];
    if (e.entry != n + 1 || e.type > MC_ENC_EXPONENTIAL || e.words < 1 || e.words > 3) std::abort();
    for (int32_t w : e.word) {
      if (w < 0 || w > 0xFFFFFF) std::abort();
    }
  }
  if (n > MC_ENC_ENTRIES) std::abort();  // no end to the table
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    u_set_log_fn(note_line_report);
    return true;
  }();
  (void)ready;

  std::FILE* f = plat::open_memory(data, size);
  if (f == nullptr) return 0;
  mc_config_t cfg;
  mc_config_defaults(&cfg);
  reported_line = false;
  const int rc = felbrin::mc_read_config_stream(f, calibration(), cfg);
  std::fclose(f);
  switch (rc) {
    case 0: check_record(cfg); break;
    case ERR_CORRUPT_DATA_FILE:
    case ERR_INVALID_PARAM:
    case ERR_PARAM_OUT_OF_RANGE:
    case ERR_PREMATURE_EOF:
    case ERR_CANT_READ_FILE:
      if (!reported_line) std::abort();
      break;
    default: std::abort();
  }
  return 0;
}
