// The pifoc models as pure functions of explicit times, the info-file parser
// on an open stream, and the log's fixed-width pieces: for tests and the
// fuzz target.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "instrument/calibration/pifoc.h"

namespace felbrin {

struct PifocTimes {
  int64_t te = 0;
  int64_t t1 = 0;
};

// te after `d` > 0 seconds off with Beta > 0: 1/te' = 1/te + d/10^8, in
// integer steps (at least 1).
int64_t pifoc_relaxed_te(int64_t te, int64_t d);
// te and t1 brought up to `now`.
PifocTimes pifoc_time_step(PifocTimes times, int64_t now, int32_t state, double beta);
// scale + beta * log10(te), at least the scale.
double pifoc_time_gain(double scale, double beta, int64_t te);

// The accepted compensation gains for a ramp mode, `since_init` seconds after
// the latest initialisation.
struct PifocGainRange {
  double low = 0;
  double high = 0;
};
PifocGainRange pifoc_gain_range(int32_t mode, double since_init);

// The three parts of a log line.
std::string pifoc_log_start(int32_t seconds, double leakage_ua, bool measured);
std::string pifoc_log_currents(const xr_scan_currents_t& currents, double gain);
std::string pifoc_log_date(const std::tm& tm);

struct PifocInfo {
  int64_t te = 0;
  int64_t t1 = 0;
  int32_t leakage = 0;
};
// The info file's data line from the stream's position (binary mode); `name`
// is the file name the messages show. 0 or ERR_CANT_READ_FILE, logged.
int read_pifoc_info_stream(std::FILE* f, const char* name, PifocInfo* out);
// Where xr_load_pifoc_info looks for the record's info file (s.pifoc set).
std::string pifoc_info_path(const sysInfo_t& s);
// The one line the info file holds.
std::string pifoc_info_line(const PifocInfo& info, std::string_view line_end);

// Test seam: the process's first and latest initialisation times (seconds,
// u_time_now); 0 means none yet.
void pifoc_set_init_times(double first, double latest);

}  // namespace felbrin
