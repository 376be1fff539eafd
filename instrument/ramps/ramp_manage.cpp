// Using the ramp table: matching a request, placing a ramp in a board slot
// (evicting the one used longest ago), starting it, waiting for the ramp
// engine, gain and slope changes, ramp IDs, derived ramps and the time until
// a scan ramp crosses its offset.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/util.h"
#include "instrument/ramps/ramp_file_internal.h"
#include "instrument/ramps/ramp_table.h"
#include "instrument/ramps/ramp_table_internal.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/board.h"
#include "instrument/serial/wave_monitor.h"

namespace {

using felbrin::ramps::backend_of;

bool is_pmi(int32_t type) { return RR_TYPE_PMI <= type && type <= RR_TYPE_PMI_LAST; }
bool is_scan(int32_t type) { return type == RR_TYPE_SWLI || type == RR_TYPE_BTW; }
using felbrin::is_one_of;

bool has_table(const sysInfo_t* info) {
  return felbrin::ramps::is_active(info) && !info->ramps.table.empty();
}
bool in_table(const sysInfo_t* info, int index) {
  return 0 <= index && index < info->ramps.table.size();
}

// The board a ramp was made for fits the instrument.
bool board_fits(int32_t made_for, int32_t board) {
  if (board == BD_CAN) return made_for == 0 || made_for == 1 || made_for == BD_CAN;
  return made_for == 0 || made_for == board;
}

int not_implemented(const rr_board_backend_t* b, bool has) {
  return b == nullptr || !has ? ERR_NOT_IMPLEMENTED : 0;
}

// Bounded formatting into the caller's reason buffer.
void explain(char* reason, std::size_t capacity, const char* format, ...) FELBRIN_PRINTF(3, 4);
void explain(char* reason, std::size_t capacity, const char* format, ...) {
  if (reason == nullptr || capacity == 0) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason, capacity, format, args);
  va_end(args);
}

}  // namespace

// ---- names and tables

const char* rr_type_name(int t) {
  if (t == RR_TYPE_SWLI) return "SWLI";
  if ((1 <= t && t <= 5) || (11 <= t && t <= 15)) return "PMI";
  if (t == RR_TYPE_BTW) return "BTW";
  if (t == 19) return "FR";
  return "?";
}

namespace {

struct FringeRow {
  double fringes;
  int code;
  int scan_type;  // 0: none
};
constexpr FringeRow kFringes[] = {{0.25, 1, 1},  {0.75, 3, 5},   {1.25, 5, 9}, {1.75, 7, 17},
                                  {2.25, 9, 33}, {2.75, 11, 65}, {5.25, 21, 0}};

}  // namespace

int rr_fringes_code(double fringes_per_frame, int* code) {
  for (const FringeRow& r : kFringes) {
    if (std::fabs(r.fringes - fringes_per_frame) < 0.001) {
      if (code != nullptr) *code = r.code;
      return 0;
    }
  }
  u_log_fn("Invalid fringesPerFrame %s\n", fmt_g_string(fringes_per_frame).c_str());
  return ERR_INTERNAL_FB;
}

int rr_scan_type_fringes(int scan_type, double* fringes_per_frame) {
  for (const FringeRow& r : kFringes) {
    if (r.scan_type != 0 && r.scan_type == scan_type) {
      if (fringes_per_frame != nullptr) *fringes_per_frame = r.fringes;
      return 0;
    }
  }
  u_log_fn("Internal error: invalid scanType %d\n", scan_type);
  return ERR_INTERNAL_FB;
}

// ---- matching

bool rr_ramp_matches(const sysInfo_t* info, int index, int type, int n_buckets, double scan_len,
                     int ramp_mux, double camera_rate, int grab_skip, char* reason,
                     std::size_t capacity) {
  if (reason != nullptr && capacity > 0) reason[0] = '\0';
  if (!has_table(info)) {
    explain(reason, capacity, "invalid sysInfo");
    return false;
  }
  if (!in_table(info, index)) {
    explain(reason, capacity, "invalid rampIndex");
    return false;
  }
  const rr_ramp_hdr_t& h = info->ramps.table[index].header;
  if (!(0 <= type && type <= 20)) {
    explain(reason, capacity, "expected rampType = %d is invalid", type);
    return false;
  }
  if (!(0 <= h.rampType && h.rampType <= 20)) {
    explain(reason, capacity, "ramp rampType = %d is invalid", h.rampType);
    return false;
  }
  const bool type_fits = (type == RR_TYPE_PMI && is_pmi(h.rampType)) || type == h.rampType;
  if (!type_fits) {
    explain(reason, capacity, "ramp rampType = %d (%s)  expected %d (%s)", h.rampType,
            rr_type_name(h.rampType), type, rr_type_name(type));
    return false;
  }
  if (n_buckets > 0 && h.nBuckets != n_buckets) {
    explain(reason, capacity, "ramp nBuckets = %d  expected nBuckets = %d", h.nBuckets, n_buckets);
    return false;
  }
  if (scan_len > 0 && !(std::fabs(h.scanLen - scan_len) <= 1)) {
    explain(reason, capacity, "ramp scanLen = %s  expected scanLen = %s",
            fmt_g_string(h.scanLen).c_str(), fmt_g_string(scan_len).c_str());
    return false;
  }
  if (ramp_mux >= 0 && h.rampMux != ramp_mux) {
    explain(reason, capacity, "ramp rampMux = %d  expected rampMux = %d", h.rampMux, ramp_mux);
    return false;
  }
  if (camera_rate > 0 && !(std::fabs(h.cameraRate - camera_rate) <= 0.1)) {
    explain(reason, capacity, "ramp cameraRate = %s  expected cameraRate = %s",
            fmt_g_string(h.cameraRate).c_str(), fmt_g_string(camera_rate).c_str());
    return false;
  }
  if (grab_skip >= 0 && h.grabSkip != grab_skip) {
    explain(reason, capacity, "ramp grabSkip = %d  expected grabSkip = %d", h.grabSkip, grab_skip);
    return false;
  }
  if (!board_fits(h.instrBdType, info->instrBdType)) {
    explain(reason, capacity, "ramp instrBdType = %d  expected instrBdType = %d", h.instrBdType,
            info->instrBdType);
    return false;
  }
  return true;
}

int rr_find_ramp(const sysInfo_t* info, int type, int n_buckets, double scan_len, int ramp_mux,
                 double camera_rate, int grab_skip) {
  if (!has_table(info)) return -1;
  for (int i = 0; i < info->ramps.table.size(); ++i) {
    if (rr_ramp_matches(info, i, type, n_buckets, scan_len, ramp_mux, camera_rate, grab_skip,
                        nullptr, 0))
      return i;
  }
  return -1;
}

// ---- the board's slots

namespace {

// A free slot, or the one whose ramp was used longest ago (before now);
// with none such, slot 0. Whoever held the slot gives it up.
int take_slot(sb_ramp_state_t& r, int slots) {
  for (int s = 0; s < slots; ++s) {
    if (r.slotTable[s] == RR_NO_SLOT) return s;
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  rr_ramp_info_t* victim = nullptr;
  for (rr_ramp_info_t& e : r.table) {
    if (e.slot == RR_NO_SLOT || e.lastUse >= now) continue;
    if (victim == nullptr || e.lastUse < victim->lastUse) victim = &e;
  }
  // Nothing used before now: slot 0, taken from whichever entry holds it.
  if (victim == nullptr) {
    for (rr_ramp_info_t& e : r.table) {
      if (e.slot == 0) victim = &e;
    }
  }
  const int slot = victim != nullptr ? victim->slot : 0;
  if (victim != nullptr) victim->slot = RR_NO_SLOT;
  r.slotTable[slot] = RR_NO_SLOT;
  return slot;
}

int download(sysInfo_t* info, int slot, rr_ramp_info_t& e) {
  if (ur_is_serial_board(info)) return ur_ramp_download(info, slot, &e.header, e.points);
  const rr_board_backend_t* b = backend_of(info);
  if (const int rc = not_implemented(b, b != nullptr && b->download != nullptr); rc != 0) return rc;
  return b->download(info, slot, &e);
}

int load(sysInfo_t* info, int index) {
  if (!has_table(info)) return ERR_NO_RAMP_INFO;
  if (!in_table(info, index)) return ERR_INVALID_RAMP_INDEX;
  const int slots = rr_get_max_num_instr_ramps(info);
  if (slots <= 0) return ERR_INVALID_PARAM;
  sb_ramp_state_t& r = info->ramps;
  rr_ramp_info_t& e = r.table[index];
  if (e.slot != RR_NO_SLOT) return 0;
  // The slot table holds the ID's low byte, and 255 marks an empty slot: a
  // ramp with such an ID would seem not to be there.
  if (!(0 <= e.header.rampID && e.header.rampID < RR_NO_SLOT)) {
    if (const int rc = rr_assign_ramp_id(info, index); rc != 0) return rc;
  }
  const int slot = take_slot(r, std::min(slots, RR_SLOT_TABLE_SIZE));
  if (const int rc = download(info, slot, e); rc != 0) return rc;
  e.slot = static_cast<uint8_t>(slot);
  r.slotTable[slot] = static_cast<uint8_t>(e.header.rampID & 0xFF);
  return 0;
}

}  // namespace

int rr_load_ramp(sysInfo_t* info, int index) {
  const int rc = load(info, index);
  if (rc != 0) u_log_fn("rr_load_ramp failed: %s\n", err_name(rc));
  return rc;
}

namespace {

int start(sysInfo_t* info, int slot, int index, const char* who) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (ur_is_serial_board(info)) return ur_ramp_start(info, slot);
  if (info->instrBdType != BD_DUNE && info->instrBdType != BD_CAN) {
    u_log_fn("%s: invalid instrBdType %d\n", who, info->instrBdType);
    return ERR_WRONG_INSTR_BOARD;
  }
  const rr_board_backend_t* b = backend_of(info);
  if (const int rc = not_implemented(b, b->start != nullptr); rc != 0) return rc;
  return b->start(info, slot, index);
}

}  // namespace

int rr_ramp_start_slot(sysInfo_t* info, int slot) {
  int index = -1;
  if (info != nullptr && info->instrBdType == BD_CAN) {
    for (int i = 0; i < info->ramps.table.size(); ++i) {
      if (info->ramps.table[i].slot == slot) index = i;
    }
  }
  return start(info, slot, index, "rr_ramp_start_slot");
}

int rr_ramp_start_index(sysInfo_t* info, int index) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (!in_table(info, index)) return ERR_INVALID_RAMP_INDEX;
  const uint8_t slot = info->ramps.table[index].slot;
  // A ramp not in the board has nothing to start there (CAN instruments
  // start by entry).
  if (slot == RR_NO_SLOT && info->instrBdType != BD_CAN) return ERR_INVALID_PARAM;
  return start(info, slot, index, "rr_ramp_start_index");
}

int rr_ramp_delete(sysInfo_t* info, int slot) {
  if (!ur_is_serial_board(info)) return 0;
  if (!(0 <= slot && slot <= 255)) return ERR_PARAM_OUT_OF_RANGE;
  return uz_ramp_delete(info, static_cast<uint32_t>(slot));
}

namespace {

int poll_idle(sysInfo_t* info, bool& idle) {
  if (ur_is_serial_board(info)) {
    uint32_t v = 0;
    const int rc = uz_ramp_idle(info, &v);
    idle = v != 0;
    return rc;
  }
  const rr_board_backend_t* b = backend_of(info);
  if (const int rc = not_implemented(b, b != nullptr && b->idle != nullptr); rc != 0) return rc;
  int v = 0;
  const int rc = b->idle(info, &v);
  idle = v != 0;
  return rc;
}

}  // namespace

// An abort ends the wait at once; only a real timeout resets the ramp
// engine through its I/O register.
int rr_wait_ramp_idle(sysInfo_t* info, int seconds) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  constexpr int kPollsPerSecond = 20;
  constexpr int kPauseMs = 50;
  const int64_t polls = seconds > 0 ? int64_t{seconds} * kPollsPerSecond : 0;
  for (int64_t i = 0; i < polls; ++i) {
    bool idle = false;
    if (const int rc = poll_idle(info, idle); rc != 0) return rc;
    if (idle) return 0;
    if (i + 1 < polls) {
      if (const int rc = u_poll_pause(kPauseMs); rc != 0) return rc;
    }
  }
  if (ur_is_serial_board(info)) (void)uz_write_io(info, 4240, 255);
  return ERR_RAMP_WAIT_TIMEOUT;
}

// ---- gain

namespace {

// The three values of a gain, each checked against its bounds.
int gain_values(const rr_ramp_hdr_t& h, int gain, int top, int scale, std::array<int32_t, 3>& g) {
  const bool pmi = is_pmi(h.rampType);
  for (int k = 0; k < 3; ++k) {
    const double factor = pmi ? static_cast<double>(h.rampTriple[k]) : (k == 0 ? 1.0 : 0.0);
    const double value = pmi ? std::round(gain * factor * scale) : gain * factor;
    const int bound = pmi ? top : 65535;
    if (!(0 <= value && value <= bound)) {
      u_log_fn("rr_setRampGain: g[%d]=%d is out of range [%d,%d]  gain=%d  t[%d]=%s\n", k,
               u_saturated_int(value), 0, bound, gain, k,
               felbrin::ramps::fixed_text(pmi ? factor : 1.0, 3).c_str());
      return ERR_PARAM_OUT_OF_RANGE;
    }
    g[static_cast<std::size_t>(k)] = static_cast<int32_t>(value);
  }
  return 0;
}

std::array<uint8_t, 6> wire(const std::array<int32_t, 3>& g) {
  std::array<uint8_t, 6> out{};
  for (std::size_t k = 0; k < 3; ++k) {
    out[2 * k] = static_cast<uint8_t>(g[k] >> 8 & 0xFF);
    out[2 * k + 1] = static_cast<uint8_t>(g[k] & 0xFF);
  }
  return out;
}

// On wave-monitor systems the gain is the monitor's tuning range: checked
// against its limits, then sent as the RR= request, and that is all.
int monitor_gain(sysInfo_t* info, const rr_ramp_info_t& e, int gain) {
  const wm_ramp_request_t request{gain * static_cast<double>(info->wmSysGain) * 1e6,
                                  e.header.nBuckets};
  if (const int rc = wm_verify_ramp_in_limits(info, &request); rc != 0) return rc;
  int32_t range = 0, buckets = 0;
  return wm_set_ramp_range(&info->waveMonitor.port,
                           u_saturated_int(std::round(request.range / 1e6)), request.buckets,
                           &range, &buckets);
}

int serial_gain(sysInfo_t* info, const rr_ramp_info_t& e, int gain) {
  if (sb_system_type_in(info, SB_SERIAL_WAVE_MONITOR_TYPES)) return monitor_gain(info, e, gain);
  std::array<int32_t, 3> g{};
  if (const int rc = gain_values(e.header, gain, 4095, 1, g); rc != 0) return rc;
  if (info->largeApSelected != 0 && info->largeApFitted == 0) {
    u_log_fn("rr_setRampGain: large aperture not available\n");
    return ERR_INVALID_PARAM;
  }
  const auto values = wire(g);
  const std::array<uint8_t, 6> zeros{};
  const auto pzt = [&](const std::array<uint8_t, 6>& v) {
    return uz_pzt_set(info, static_cast<uint16_t>(v[0] << 8 | v[1]),
                      static_cast<uint16_t>(v[2] << 8 | v[3]),
                      static_cast<uint16_t>(v[4] << 8 | v[5]));
  };
  if (info->largeApSelected == 0) {
    if (const int rc = pzt(values); rc != 0) return rc;
    return info->largeApFitted != 0 ? uz_pzt3_ramp(info, zeros.data(), 6) : 0;
  }
  if (const int rc = uz_pzt3_ramp(info, values.data(), 6); rc != 0) return rc;
  return pzt(zeros);
}

int set_gain(sysInfo_t* info, int gain) {
  if (info == nullptr || info->ramps.table.empty() || !in_table(info, info->ramps.current))
    return ERR_NO_RAMP_INFO;
  const int board = info->instrBdType;
  if (!is_one_of(board, {BD_SABLE, BD_KITE, BD_DUNE, BD_IRIS, BD_LUMEN, BD_CAN})) {
    u_log_fn("rr_setRampGain: invalid instrBdType %d\n", board);
    return ERR_WRONG_INSTR_BOARD;
  }
  rr_ramp_info_t& e = info->ramps.table[info->ramps.current];
  if (ur_is_serial_board(info)) return serial_gain(info, e, gain);
  const rr_board_backend_t* b = backend_of(info);
  if (board == BD_DUNE) {
    if (e.slot == RR_NO_SLOT) {
      u_log_fn("rr_setRampGain: ramp not loaded\n");
      return ERR_INVALID_PARAM;
    }
    if (gain == e.gain) return 0;
    if (const int rc = not_implemented(b, b->set_gain != nullptr); rc != 0) return rc;
    if (const int rc = rr_wait_ramp_idle(info, 4); rc != 0) return rc;
    return b->set_gain(info, &e, gain);
  }
  if (sb_system_type_in(info, SB_CAN_WAVE_MONITOR_TYPES)) return monitor_gain(info, e, gain);
  if (e.header.rampType == RR_TYPE_PMI) {
    std::array<int32_t, 3> g{};
    if (const int rc = gain_values(e.header, gain, 16383, 4, g); rc != 0) return rc;
  }
  if (const int rc = not_implemented(b, b->set_gain != nullptr); rc != 0) return rc;
  return b->set_gain(info, &e, gain);
}

}  // namespace

int rr_setRampGain(sysInfo_t* info, int gain) {
  const int rc = set_gain(info, gain);
  if (rc == 0) info->ramps.table[info->ramps.current].gain = gain;
  return rc;
}

// ---- slope

namespace {

// The board's update rate for a sample clock of f kHz, rounded half away
// from zero; false (with the log line) when it does not fit 0..65535.
bool update_rate_for(double f, int32_t& rate) {
  const double v = 65536.0 - 4000.0 / f;
  if (!(v >= 0)) {
    u_log_fn("Error: sampleClkFreq = %s KHz is too low\n", fmt_g_string(f).c_str());
    return false;
  }
  const double r = std::round(v);
  if (!(r <= 65535)) {
    u_log_fn("Error: sampleClkFreq = %s KHz is too high\n", fmt_g_string(f).c_str());
    return false;
  }
  rate = static_cast<int32_t>(r);
  return true;
}

int32_t buckets_for(const rr_ramp_hdr_t& h, double khz) {
  const double frames = h.cameraRate / (h.grabSkip + 1.0);
  return u_saturated_int(frames * (h.trigEndAddr - h.trigStartAddr) / (khz * 1000));
}

void release_slot(sb_ramp_state_t& r, rr_ramp_info_t& e) {
  if (e.slot == RR_NO_SLOT) return;
  r.slotTable[e.slot] = RR_NO_SLOT;
  e.slot = RR_NO_SLOT;
}

}  // namespace

int rr_adjust_ramp_slope(sysInfo_t* info, int index, double factor) {
  if (info == nullptr || info->ramps.table.empty() || info->ramps.current < 0)
    return ERR_NO_RAMP_INFO;
  if (!in_table(info, index)) return ERR_INVALID_RAMP_INDEX;
  rr_ramp_info_t& e = info->ramps.table[index];
  rr_ramp_hdr_t& h = e.header;
  if (!is_scan(h.rampType)) {
    u_log_fn("rr_adjust_ramp_slope: ramp must be type SWLI or BTW\n");
    return ERR_INVALID_PARAM;
  }
  if (!(std::isfinite(factor) && factor > 0)) return ERR_INVALID_PARAM;
  const double f = h.sampleClkFreq * factor;
  int32_t rate = 0;
  if (!update_rate_for(f, rate)) return ERR_INVALID_PARAM;
  h.rampSlope = static_cast<float>(h.rampSlope * factor);
  h.sampleClkFreq = static_cast<float>(f);
  h.updateRate = rate;
  h.nBuckets = buckets_for(h, 4000.0 / (65536.0 - rate));
  if (e.slot == RR_NO_SLOT) return 0;
  const int board = info->instrBdType;
  if (board == BD_CAN) {
    release_slot(info->ramps, e);
  } else if (board == BD_SABLE || board == BD_LUMEN) {
    const int slot = e.slot;
    if (info->boardVersion >= 12) {
      const int rc = uz_ramp_updaterate(info, slot, rate);
      if (rc == 0) return 0;
      // The board's copy still runs at the old rate: it goes, so the next
      // use loads the ramp again.
      release_slot(info->ramps, e);
      (void)rr_ramp_delete(info, slot);
      return rc;
    }
    release_slot(info->ramps, e);
    return rr_ramp_delete(info, slot);
  }
  return 0;
}

// ---- ramp IDs

int rr_assign_ramp_id(sysInfo_t* info, int index) {
  if (info == nullptr || info->ramps.table.empty()) return ERR_NO_RAMP_INFO;
  if (!in_table(info, index)) return ERR_INVALID_RAMP_INDEX;
  std::array<bool, 255> used{};
  for (int i = 0; i < info->ramps.table.size(); ++i) {
    const int32_t id = info->ramps.table[i].header.rampID;
    if (i != index && 0 <= id && id <= 254) used[static_cast<std::size_t>(id)] = true;
  }
  const auto free_id = std::find(used.begin(), used.end(), false);
  if (free_id == used.end()) {
    u_log_fn("rr_assign_ramp_id: no available ramp ID values\n");
    return ERR_PARAM_OUT_OF_RANGE;
  }
  info->ramps.table[index].header.rampID = static_cast<int32_t>(free_id - used.begin());
  return 0;
}

// ---- derived ramps

namespace {

uint16_t clamp16(double v) {
  return static_cast<uint16_t>(std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 65535.0));
}

// Squeezes the base's scan into a shorter one: the run-up is scaled toward
// the offset, the middle part of the scan is stretched over the points from
// the trigger start on. Exactly n points come out.
int resample(const rr_ramp_info_t& base, rr_ramp_info_t& out, double new_len) {
  const rr_ramp_hdr_t& b = base.header;
  const int n = b.nPoints;
  const int t0 = b.trigStartAddr;
  const int t1 = b.trigEndAddr;
  if (!(0 <= t0 && t0 < t1 && t1 <= n) || !(b.scanLen > 0)) return ERR_INVALID_PARAM;
  const double s = new_len / b.scanLen;
  const int m = t0 + static_cast<int>(std::floor((1 - s) * (t1 - t0) / 2));
  const int m2 = t0 + static_cast<int>(std::floor((1 + s) * (t1 - t0) / 2)) + (n - t1);
  if (!(m < m2)) return ERR_INVALID_PARAM;
  const uint16_t* p = base.points;
  const auto at = [&](int i) { return static_cast<double>(p[std::clamp(i, 0, n - 1)]); };
  const double o = b.offset;
  const double scale = at(t0) == o ? 1.0 : (at(m) - o) / (at(t0) - o);
  uint16_t* q = out.points;
  for (int j = 0; j < t0; ++j) q[j] = clamp16(std::trunc(o + (at(j) - o) * scale));

  const double k = static_cast<double>(n - t0) / (m2 - m);
  const int whole = static_cast<int>(std::floor(k));
  int w = t0;
  double acc = 0;
  double last = t0 > 0 ? q[t0 - 1] : at(m);
  for (int step = m; step < m2 && w < n; ++step) {
    const double from = at(step);
    const double to = at(step + 1);
    for (int i = 0; i < whole && w < n; ++i) {
      last = from + (to - from) * i / k;
      q[w++] = clamp16(last);
    }
    acc += k - whole;
    if (acc > 1 && w < n) {
      q[w++] = clamp16((last + to) / 2);
      acc -= 1;
    }
  }
  if (acc > 0.5 && w < n) q[w++] = clamp16(at(m2));
  for (; w < n; ++w) q[w] = w > 0 ? q[w - 1] : clamp16(o);

  // The rate here is provisional: the speed ratio changes the clock again,
  // and that final clock is the one checked.
  rr_ramp_hdr_t& h = out.header;
  h.sampleClkFreq = static_cast<float>(h.sampleClkFreq * k);
  h.updateRate = u_saturated_int(65536.0 - 4000.0 / h.sampleClkFreq);
  h.scanLen = static_cast<float>(new_len);
  h.nBuckets = buckets_for(h, h.sampleClkFreq);
  return 0;
}

int derive(const rr_ramp_info_t* base, rr_ramp_info_t* derived, const rr_ramp_line_t* cfg) {
  if (base == nullptr || derived == nullptr || cfg == nullptr || base->points == nullptr ||
      derived->points != nullptr || base->header.rampType != RR_TYPE_SWLI ||
      base->header.nPoints <= 0) {
    return ERR_INVALID_PARAM;
  }
  if (!is_scan(cfg->type)) {
    u_log_fn("Error: derived ramp must be type SWLI or BTW\n");
    return ERR_INVALID_PARAM;
  }
  if (!(std::isfinite(cfg->scanLen) && cfg->scanLen > 0)) return ERR_INVALID_PARAM;
  if (!(cfg->scanLen <= base->header.scanLen)) {
    u_log_fn("Error: derived ramp must have smaller scan length\n");
    return ERR_PARAM_OUT_OF_RANGE;
  }
  const double f = cfg->fringesPerFrame;
  const double up = f / 0.25, down = 0.25 / f;
  if (!(f > 0 && (up == std::floor(up) || down == std::floor(down)))) {
    u_log_fn("Error: fringesPerFrame = %s is invalid for derived ramp\n", fmt_g_string(f).c_str());
    return ERR_INVALID_PARAM;
  }
  if (cfg->type == RR_TYPE_BTW && !(cfg->objMag > 0)) {
    u_log_fn("Error: BTW ramp must specify an objective mag\n");
    return ERR_INVALID_PARAM;
  }
  const rr_ramp_hdr_t& b = base->header;
  const double base_speed = b.rampSlope * static_cast<double>(b.cameraRate) / (b.grabSkip + 1.0);
  const double speed =
      cfg->rampSlope * static_cast<double>(cfg->cameraRate) / (cfg->grabSkip + 1.0);
  const double r = speed / base_speed;
  if (!(std::isfinite(r) && r > 0)) return ERR_INVALID_PARAM;

  const std::size_t n = static_cast<std::size_t>(b.nPoints);
  auto* points = static_cast<uint16_t*>(u_malloc_fn(n * sizeof(uint16_t)));
  if (points == nullptr) return ERR_NO_MEM;
  rr_ramp_info_t out;
  out.name = base->name;
  out.header = b;
  out.points = points;
  out.slot = RR_NO_SLOT;  // the board holds the base, not this one
  out.duration = base->duration;
  out.direction = base->direction;
  out.sortKey = base->sortKey;
  out.velocity = base->velocity;
  out.timeTilOffset = base->timeTilOffset;
  out.gain = base->gain;
  out.hide = base->hide;
  rr_ramp_hdr_t& h = out.header;
  h.rampType = cfg->type;
  h.cameraRate = cfg->cameraRate;
  h.cameraInterlace = cfg->cameraInterlace;
  h.grabSkip = cfg->grabSkip;
  h.fringesPerFrame = cfg->fringesPerFrame;
  h.rampSlope = cfg->rampSlope;
  h.objMag = cfg->objMag;
  h.scanCal = cfg->scanCal;
  h.wavelenSelect = cfg->wavelenIndex;
  if (cfg->scanLen != b.scanLen) {
    if (const int rc = resample(*base, out, cfg->scanLen); rc != 0) return rc;
  } else {
    std::copy_n(base->points, n, points);
    h.scanLen = cfg->scanLen;
  }
  const double clock = h.sampleClkFreq * r;
  int32_t rate = 0;
  if (!update_rate_for(clock, rate)) return ERR_INVALID_PARAM;
  h.sampleClkFreq = static_cast<float>(clock);
  h.updateRate = rate;
  h.nBuckets = buckets_for(h, clock);
  if (h.compFilter > 0) {
    if (r < 0.5 && h.compGain < 2) ++h.compGain;
    if (r > 2 && h.compGain > 0) --h.compGain;
    for (int32_t* adc : {&h.adcMin, &h.adcMax, &h.adcFirst, &h.adcMid, &h.adcLast})
      *adc = u_saturated_int(*adc * r);
  }
  *derived = std::move(out);
  return 0;
}

}  // namespace

int rr_derive_ramp(const rr_ramp_info_t* base, rr_ramp_info_t* derived, const rr_ramp_line_t* cfg) {
  return derive(base, derived, cfg);
}

// ---- offset crossing

int rr_calc_time_til_offset_crossing(rr_ramp_info_t* e, double khz) {
  if (e == nullptr || e->points == nullptr) return ERR_NO_RAMP_INFO;
  const rr_ramp_hdr_t& h = e->header;
  if (!is_scan(h.rampType)) return ERR_INVALID_PARAM;
  const double rate = h.cameraRate;
  if (!(std::isfinite(khz) && khz > 0 && std::isfinite(rate) && rate > 0)) return ERR_INVALID_PARAM;
  const int n = h.nPoints;
  const int t0 = h.trigStartAddr;
  if (!(0 <= t0 && t0 < n)) return ERR_CORRUPT_RAMP_FILE;
  const double o = h.offset;
  const uint16_t* p = e->points;
  for (int i = std::max(t0, 1); i < n; ++i) {
    const bool reached = h.dirFlag != 0 ? p[i] >= o : p[i] <= o;
    if (!reached) continue;
    const double denominator = static_cast<double>(p[i - 1]) - p[i];
    const double fraction = denominator == 0 ? 0 : (p[i - 1] - o) / denominator;
    const double crossing = i - 1 + fraction;
    const double per_ms = 1000 * khz;
    e->timeTilOffset = crossing / per_ms - std::ceil(t0 / per_ms * rate) / rate;
    return 0;
  }
  return ERR_CORRUPT_RAMP_FILE;
}
