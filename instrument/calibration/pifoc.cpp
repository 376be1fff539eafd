// The pifoc time-on model, its info file and its diagnostic log.
#include "instrument/calibration/pifoc.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/log_file.h"
#include "common/number_format.h"
#include "common/temp_file.h"
#include "common/text_line.h"
#include "common/util.h"
#include "instrument/calibration/pifoc_internal.h"
#include "instrument/ramps/ramp_table.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

constexpr std::size_t kLineKeep = 511;
constexpr int64_t kRelaxScale = 100000000;  // 10^8 s: the relaxation's time constant
constexpr double kLeakageLow = -14;         // uA
constexpr double kLeakageHigh = 0;
constexpr double kTimeGainLow = 0.8;
constexpr double kTimeGainHigh = 1.15;
constexpr double kLeakageInterval = 60;  // s between leakage measurements
constexpr double kSettlingTime = 600;    // s after initialisation with a wider gain range
constexpr double kNoDivisorGain = 9.9999;

constexpr const char* kHeading =
    "#--------------------------------------------------------------------------\n"
    "# Since  Leakage Meas Scan  First    Mid    Last    Gain    Date     Time  \n"
    "# Start  Current      Len  Current Current Current                         \n"
    "# (secs)   (uA)       (um)   (uA)    (uA)    (uA)                          \n"
    "#------- ------- ---- ---- ------- ------- ------- ------ -------- --------\n";

struct ModuleState {
  std::mutex mutex;
  xr_pifoc_sources_t sources;
  int64_t log_limit = 1000000;
  double first_init = 0;
  double latest_init = 0;
};

ModuleState& module() {
  static ModuleState state;
  return state;
}

xr_pifoc_sources_t sources() {
  std::lock_guard lock(module().mutex);
  return module().sources;
}

int64_t now_seconds() {
  int64_t s = 0;
  u_get_time(&s, nullptr);
  return s;
}

bool on_can(const sysInfo_t* s) { return s->instrBdType == BD_CAN; }

std::string pifoc_path(const sysInfo_t& s, std::string_view stem) {
  const std::string name = std::string(stem) + '.' + std::to_string(s.pifoc->value);
  const char* config = u_config_dir();
  return config != nullptr ? u_path_join(u_path_join(config, "ramps"), name)
                           : u_path_join(".", name);
}

std::string range_text(double lo, double hi) {
  return '[' + fmt_g_string(lo) + ',' + fmt_g_string(hi) + ']';
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

// A whole base-10 integer (an optional sign, then digits) in T's range.
template <class T>
bool parse_integer(std::string_view field, T& out) {
  if (!field.empty() && field[0] == '+') field.remove_prefix(1);
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
  return !field.empty() && ec == std::errc() && end == field.data() + field.size();
}

// The next field separated by blanks and tabs; empty at the end.
std::string_view next_field(std::string_view& rest) {
  const std::size_t begin = rest.find_first_not_of(" \t");
  if (begin == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(begin);
  const std::size_t end = std::min(rest.find_first_of(" \t"), rest.size());
  const std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end);
  return field;
}

bool parse_info_line(std::string_view line, PifocInfo& out) {
  PifocInfo info;
  if (!parse_integer(next_field(line), info.te) || !parse_integer(next_field(line), info.t1))
    return false;
  const std::string_view leakage = next_field(line);
  if (!leakage.empty() && !parse_integer(leakage, info.leakage)) return false;
  out = info;
  return true;
}

double since_first_init(double now) {
  std::lock_guard lock(module().mutex);
  return module().first_init > 0 ? now - module().first_init : 0;
}

std::string date_now(int64_t now) {
  std::tm tm{};
  if (!plat::local_time(now, &tm)) tm = std::tm{};
  return pifoc_log_date(tm);
}

// Writes a log line of its three parts, then the note.
void write_log_line(sysInfo_t* s, const std::string& start, const std::string& currents,
                    const std::string& date, std::string_view note) {
  std::string line = start;
  line += ' ';
  line += currents;
  line += ' ';
  line += date;
  line += '\n';
  line += note;
  xr_log_pifoc_diagnostic(s, line.c_str());
}

std::string zero_currents() { return pifoc_log_currents(xr_scan_currents_t{}, 0); }

// A line without a measurement: the stored leakage and zero currents.
void write_plain_line(sysInfo_t* s, double now, std::string_view note) {
  const std::string start = pifoc_log_start(u_saturated_int(since_first_init(now)),
                                            s->pifoc->leakage * SB_PIFOC_LEAKAGE_UA, false);
  write_log_line(s, start, zero_currents(), date_now(static_cast<int64_t>(now)), note);
}

}  // namespace

// ---- the models

int64_t pifoc_relaxed_te(int64_t te, int64_t d) {
  const int64_t k = te > 0 ? kRelaxScale / te : kRelaxScale;
  const int64_t sum =
      d > std::numeric_limits<int64_t>::max() - k ? std::numeric_limits<int64_t>::max() : d + k;
  const int64_t relaxed = sum > 0 ? kRelaxScale / sum : kRelaxScale;
  return relaxed < 1 ? 1 : relaxed;
}

PifocTimes pifoc_time_step(PifocTimes times, int64_t now, int32_t state, double beta) {
  // Saturating: the times come from files and callers.
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const int64_t d = times.t1 < 0 && now > kMax + times.t1   ? kMax
                    : times.t1 > 0 && now < kMin + times.t1 ? kMin
                                                            : now - times.t1;
  if (d == 0) return times;
  // A clock that went back leaves te alone: the time in between is unknown.
  if (d > 0) {
    int64_t te = times.te;
    if (state == SB_PIFOC_ON) {
      te = te > std::numeric_limits<int64_t>::max() - d ? std::numeric_limits<int64_t>::max()
                                                        : te + d;
    } else if (beta > 0) {
      te = pifoc_relaxed_te(te, d);
    } else {
      te = te < std::numeric_limits<int64_t>::min() + d ? 1 : te - d;
    }
    times.te = te < 1 ? 1 : te;
  }
  times.t1 = now;
  return times;
}

double pifoc_time_gain(double scale, double beta, int64_t te) {
  const double gain = te > 0 ? scale + beta * std::log10(static_cast<double>(te)) : scale;
  return gain < scale ? scale : gain;
}

PifocGainRange pifoc_gain_range(int32_t mode, double since_init) {
  const bool settling = since_init < kSettlingTime;
  if (mode < 3) return {0.8, settling ? 1.5 : 1.3};
  return {0.2, settling ? 3.0 : 2.2};
}

std::string pifoc_log_start(int32_t seconds, double leakage_ua, bool measured) {
  return padded(std::to_string(seconds), 8) + ' ' + fmt_fixed_string(leakage_ua, 4, 7) + "   " +
         (measured ? "1 " : "0 ");
}

std::string pifoc_log_currents(const xr_scan_currents_t& c, double gain) {
  return fmt_fixed_string(c.scanLength, 0, 4) + ' ' + fmt_fixed_string(c.first, 4, 7) + ' ' +
         fmt_fixed_string(c.middle, 4, 7) + ' ' + fmt_fixed_string(c.last, 4, 7) + ' ' +
         fmt_fixed_string(gain, 4, 6);
}

std::string pifoc_log_date(const std::tm& tm) {
  // Each field in two digits, as the log's readers expect ("%.2m/%.2d/%.2y").
  const auto two = [](int v) {
    v = v < 0 ? -v : v;
    return std::string{static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)};
  };
  return two(tm.tm_mon + 1) + '/' + two(tm.tm_mday) + '/' + two(tm.tm_year % 100) + ' ' +
         two(tm.tm_hour) + ':' + two(tm.tm_min) + ':' + two(tm.tm_sec);
}

int read_pifoc_info_stream(std::FILE* f, const char* name, PifocInfo* out) {
  const std::string shown = name != nullptr ? name : "";
  TextLine line;
  int number = 0;
  while (read_text_line(f, kLineKeep, line)) {
    ++number;
    if (line.text.empty() || line.text[0] == '#') continue;
    std::string_view rest = line.text;
    if (next_field(rest).empty()) continue;
    if (parse_info_line(line.text, *out)) return 0;
    u_log_fn("xr_load_pifoc_info: error in file %s\n", shown.c_str());
    u_log_fn("Line %d:\n%s\n", number, line.text.c_str());
    return ERR_CANT_READ_FILE;
  }
  u_log_fn("xr_load_pifoc_info: empty file %s\n", shown.c_str());
  return ERR_CANT_READ_FILE;
}

std::string pifoc_info_line(const PifocInfo& info, std::string_view line_end) {
  std::string text =
      std::to_string(info.te) + ' ' + std::to_string(info.t1) + ' ' + std::to_string(info.leakage);
  text += line_end;
  return text;
}

void pifoc_set_init_times(double first, double latest) {
  std::lock_guard lock(module().mutex);
  module().first_init = first;
  module().latest_init = latest;
}

}  // namespace felbrin

using namespace felbrin;

void xr_set_pifoc_sources(const xr_pifoc_sources_t* sources) {
  std::lock_guard lock(module().mutex);
  module().sources = sources != nullptr ? *sources : xr_pifoc_sources_t{};
}

void xr_set_pifoc_log_limit(int64_t bytes) {
  std::lock_guard lock(module().mutex);
  module().log_limit = bytes;
}

int64_t xr_pifoc_log_limit() {
  std::lock_guard lock(module().mutex);
  return module().log_limit;
}

int xr_load_pifoc_info(sysInfo_t* s) {
  if (s == nullptr || !s->pifoc || on_can(s)) return ERR_INVALID_PARAM;
  const std::string path = pifoc_path(*s, "pifoc");
  const std::string shown = plat::display_path(path.c_str());
  std::FILE* f = plat::open_file(path.c_str(), "rb");
  if (f == nullptr) {
    u_log_fn("Cannot open pifoc info file %s\n", shown.c_str());
    return ERR_CANT_OPEN_FILE;
  }
  PifocInfo info;
  const int rc = read_pifoc_info_stream(f, shown.c_str(), &info);
  std::fclose(f);
  if (rc != 0) return rc;

  const double leakage_ua = info.leakage * SB_PIFOC_LEAKAGE_UA;
  u_log_fn("Pifoc info file is %s\n", shown.c_str());
  u_log_fn("te = %s  t1 = %s  leakage = %d (%s uA)\n", std::to_string(info.te).c_str(),
           std::to_string(info.t1).c_str(), info.leakage, fmt_g_string(leakage_ua).c_str());
  const int64_t now = now_seconds();
  if (info.te < 1 || info.t1 < 0 || info.t1 < info.te || info.t1 > now) {
    u_log_fn("xr_load_pifoc_info: unreasonable te or t1 value\n");
    u_log_fn("te  = %s\n", std::to_string(info.te).c_str());
    u_log_fn("t1  = %s\n", std::to_string(info.t1).c_str());
    u_log_fn("now = %s\n", std::to_string(now).c_str());
    return ERR_PARAM_OUT_OF_RANGE;
  }
  if (!(kLeakageLow <= leakage_ua && leakage_ua <= kLeakageHigh)) {
    u_log_fn("xr_load_pifoc_info: leakage = %s uA is out of range %s\n",
             fmt_g_string(leakage_ua).c_str(), range_text(kLeakageLow, kLeakageHigh).c_str());
    return ERR_PARAM_OUT_OF_RANGE;
  }
  s->pifoc->te = info.te;
  s->pifoc->t1 = info.t1;
  s->pifoc->leakage = info.leakage;
  return 0;
}

int xr_save_pifoc_info(sysInfo_t* s) {
  if (s == nullptr || !s->pifoc || on_can(s)) return ERR_INVALID_PARAM;
  const sb_pifoc_t& p = *s->pifoc;
  const std::string path = pifoc_path(*s, "pifoc");
  const std::string text = pifoc_info_line({p.te, p.t1, p.leakage}, plat::kLineEnd);
  // The scanner's time on must survive a full disk: the old file stays until
  // the new one is whole.
  const ReplaceStep step = replace_file(
      path.c_str(), "_pifoc", [&](ByteSink& sink) { return sink.write(text); }, true);
  if (step == ReplaceStep::done) return 0;
  u_log_fn("xr_save_pifoc_info: cannot create %s\n", plat::display_path(path.c_str()).c_str());
  return ERR_CANT_CREATE_FILE;
}

int xr_update_pifoc_time(sysInfo_t* s, int64_t now) {
  if (s == nullptr || !s->pifoc || on_can(s)) return 0;
  sb_pifoc_t& p = *s->pifoc;
  const PifocTimes times =
      pifoc_time_step({p.te, p.t1}, now != 0 ? now : now_seconds(), p.state, p.beta);
  p.te = times.te;
  p.t1 = times.t1;
  return 0;
}

int xr_calc_pifoc_time_gain(sysInfo_t* s, double* gain) {
  if (s == nullptr || gain == nullptr || on_can(s)) return ERR_INVALID_PARAM;
  *gain = 0;
  if (!s->pifoc) return 0;
  const sb_pifoc_t& p = *s->pifoc;
  const double g = pifoc_time_gain(p.scale, p.beta, p.te);
  if (!(kTimeGainLow <= g && g <= kTimeGainHigh)) {
    u_log_fn("xr_calc_pifoc_time_gain: gain = %s is out of range %s\n", fmt_g_string(g).c_str(),
             range_text(kTimeGainLow, kTimeGainHigh).c_str());
    return ERR_PIFOC_GAIN;
  }
  *gain = g;
  return 0;
}

int xr_update_pifoc_leakage(sysInfo_t* s, int log_request) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  if (on_can(s)) return ERR_WRONG_INSTR_BOARD;
  if (!s->pifoc || !s->ramps.pifocDiagnostics) return 0;
  sb_pifoc_t& p = *s->pifoc;
  const double now = u_time_now();

  bool measured = false;
  int rc = 0;
  std::string note;
  if (s->ramps.leakageMeasurement && p.rampId == p.firstRampB &&
      now - p.leakageTime > kLeakageInterval) {
    measured = true;
    p.leakageTime = now;
    const auto measure = sources().measure_leakage;
    int32_t counts = 0;
    rc = measure != nullptr ? measure(s, &counts) : ERR_NOT_IMPLEMENTED;
    const double ua = counts * SB_PIFOC_LEAKAGE_UA;
    if (rc != 0) {
      note = "### INVALID LEAKAGE MEASUREMENT\n";
    } else if (kLeakageLow <= ua && ua <= kLeakageHigh) {
      p.leakage = counts;
    } else {
      note = "### LEAKAGE IS OUT OF RANGE " + range_text(kLeakageLow, kLeakageHigh) + " uA\n";
      u_log_fn("xr_update_pifoc_leakage: leakage = %d uA is out of range %s\n", u_saturated_int(ua),
               range_text(kLeakageLow, kLeakageHigh).c_str());
      rc = ERR_PIFOC_LEAKAGE;
    }
  }
  if (log_request == 0 && !measured) return 0;

  const double leakage_ua = log_request == 0 && rc != 0 ? 0 : p.leakage * SB_PIFOC_LEAKAGE_UA;
  std::string start = pifoc_log_start(u_saturated_int(since_first_init(now)), leakage_ua, measured);
  std::string date = date_now(static_cast<int64_t>(now));
  if (log_request != 0 && rc == 0) {
    p.pendingStart = std::move(start);
    p.pendingDate = std::move(date);
    return 0;
  }
  write_log_line(s, start, zero_currents(), date, note);
  return rc;
}

int xr_log_pifoc_diagnostic(sysInfo_t* s, const char* text) {
  if (s == nullptr || !s->pifoc || on_can(s)) return ERR_INVALID_PARAM;
  const int64_t limit = xr_pifoc_log_limit();
  if (limit == 0) {
    if (text == nullptr) u_log_fn("Pifoc diagnostic log disabled\n");
    return 0;
  }
  const std::string path = pifoc_path(*s, "pifoclog");
  const int rc = u_log_to_file(path.c_str(), text != nullptr ? text : kHeading, limit, limit / 2);
  if (rc != 0) {
    u_log_fn("xr_log_pifoc_diagnostic: u_log_to_file failed: %s\n", err_name(rc));
    return rc;
  }
  if (text == nullptr) {
    u_log_fn("Pifoc diagnostic log file is %s\n", plat::display_path(path.c_str()).c_str());
    if (limit > 0) {
      u_log_fn("(size limited to %s bytes)\n", std::to_string(limit).c_str());
    } else {
      u_log_fn("(size unlimited)\n");
    }
  }
  return 0;
}

int xr_get_pifoc_comp_gain(sysInfo_t* s, double* gain) {
  if (s == nullptr || gain == nullptr) return ERR_INVALID_PARAM;
  if (on_can(s)) return ERR_WRONG_INSTR_BOARD;
  *gain = 0;
  if (!s->pifoc || !s->ramps.pifocDiagnostics) return ERR_INVALID_PARAM;
  const int current = s->ramps.current;
  if (s->ramps.table.empty() || current < 0 || current >= s->ramps.table.size())
    return ERR_NO_RAMP_INFO;
  const xr_pifoc_sources_t from = sources();
  xr_scan_currents_t currents;
  if (from.scan_currents == nullptr || !from.scan_currents(s, &currents)) return ERR_INVALID_PARAM;
  xr_ramp_gain_terms_t terms;
  if (from.gain_terms == nullptr || !from.gain_terms(s, &s->ramps.table[current], &terms))
    return ERR_NO_RAMP_INFO;

  sb_pifoc_t& p = *s->pifoc;
  // The currents are in uA; the stored leakage is in counts.
  const double divisor = currents.middle - p.leakage * SB_PIFOC_LEAKAGE_UA;
  double g = divisor == 0 ? kNoDivisorGain : (terms.b - terms.a) / divisor;
  const double now = u_time_now();
  double latest = 0;
  {
    std::lock_guard lock(module().mutex);
    latest = module().latest_init;
  }
  const PifocGainRange range = pifoc_gain_range(terms.mode, now - latest);
  const bool in_range = range.low <= g && g <= range.high;

  std::string start = std::move(p.pendingStart);
  std::string date = std::move(p.pendingDate);
  p.pendingStart.clear();
  p.pendingDate.clear();
  if (start.empty()) {
    start = pifoc_log_start(u_saturated_int(since_first_init(now)), p.leakage * SB_PIFOC_LEAKAGE_UA,
                            false);
    date = date_now(static_cast<int64_t>(now));
  }
  const std::string note =
      in_range ? "" : "### GAIN IS OUT OF RANGE " + range_text(range.low, range.high) + "\n";
  write_log_line(s, start, pifoc_log_currents(currents, g), date, note);
  if (!in_range) {
    u_log_fn("xr_get_pifoc_comp_gain: gain = %s is out of range %s\n", fmt_g_string(g).c_str(),
             range_text(range.low, range.high).c_str());
    return ERR_PIFOC_GAIN;
  }
  if (terms.nominalGain > 0) g /= terms.nominalGain;
  *gain = g;
  return 0;
}

int xr_init_pifoc(sysInfo_t* s) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  if (on_can(s)) return ERR_WRONG_INSTR_BOARD;
  if (!s->pifoc) return ERR_INVALID_PARAM;
  if (s->ramps.table.empty()) return ERR_NO_RAMP_INFO;
  sb_pifoc_t& p = *s->pifoc;
  const rr_ramp_info_t* b = rr_first_ramp_of_kind(s, 'b');
  const rr_ramp_info_t* u = rr_first_ramp_of_kind(s, 'u');
  p.firstRampB = b != nullptr ? b->header.rampID : -1;
  p.firstRampU = u != nullptr ? u->header.rampID : -1;

  const double now = u_time_now();
  {
    std::lock_guard lock(module().mutex);
    if (module().first_init == 0) module().first_init = now;
    module().latest_init = now;
  }
  const bool diagnostics = s->ramps.pifocDiagnostics;
  p.uncompensated = !diagnostics && p.scale == 1 && p.beta == 0;
  if (p.uncompensated) return 0;

  if (p.te == 0) {
    if (xr_load_pifoc_info(s) != 0) {
      p.te = 1;
      p.t1 = static_cast<int64_t>(now);
      p.leakage = 0;
    } else {
      p.state = SB_PIFOC_OFF;
      xr_update_pifoc_time(s, 0);
    }
    if (diagnostics) {
      xr_log_pifoc_diagnostic(s, nullptr);
      write_plain_line(s, now, "");
    }
  } else if (diagnostics) {
    write_plain_line(s, now, "### RESET\n");
  }
  return 0;
}

std::string felbrin::pifoc_info_path(const sysInfo_t& s) { return pifoc_path(s, "pifoc"); }
