// Building a system's ramp table: from the ramp configuration file when
// there is one, otherwise from every ramp file in the ramp directory made
// for this instrument's scanners; then reconciling the board's slots.
#include "instrument/ramps/ramp_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/host_utils.h"
#include "common/number_format.h"
#include "common/util.h"
#include "instrument/ramps/ramp_config.h"
#include "instrument/ramps/ramp_file_internal.h"
#include "instrument/ramps/ramp_table_internal.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/board.h"

// ---- back ends

namespace {

rr_board_backend_t& dune_backend() {
  static rr_board_backend_t b;
  return b;
}
rr_board_backend_t& can_backend() {
  static rr_board_backend_t b;
  return b;
}

bool is_pmi(int32_t type) { return RR_TYPE_PMI <= type && type <= RR_TYPE_PMI_LAST; }
using felbrin::is_one_of;
bool is_scan(int32_t type) { return type == RR_TYPE_SWLI || type == RR_TYPE_BTW; }

}  // namespace

namespace felbrin::ramps {

const rr_board_backend_t* backend_of(const sysInfo_t* info) {
  if (info == nullptr) return nullptr;
  if (info->instrBdType == BD_DUNE) return &dune_backend();
  if (info->instrBdType == BD_CAN) return &can_backend();
  return nullptr;
}

bool external_profiles(const sysInfo_t* info) {
  const rr_board_backend_t* b = backend_of(info);
  return b != nullptr && b->external_profiles != nullptr && b->external_profiles(info);
}

bool is_active(const sysInfo_t* info) { return info != nullptr && info->acqFlag != 0; }

std::string fixed_text(double v, int digits) {
  char buf[400];
  const auto end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, digits).ptr;
  return {buf, end};
}

}  // namespace felbrin::ramps

using felbrin::ramps::backend_of;

bool rr_set_board_backend(int board_type, const rr_board_backend_t* backend) {
  rr_board_backend_t* slot = board_type == BD_DUNE  ? &dune_backend()
                             : board_type == BD_CAN ? &can_backend()
                                                    : nullptr;
  if (slot == nullptr) return false;
  *slot = backend != nullptr ? *backend : rr_board_backend_t{};
  return true;
}

int sb_set_acquisition_active(int slot, bool on) {
  if (!(0 <= slot && slot < SB_SLOTS)) return ERR_INVALID_PARAM;
  sysInfo[slot].acqFlag = on ? 1 : 0;
  return 0;
}

int rr_get_max_num_instr_ramps(const sysInfo_t* info) {
  if (info == nullptr) return 0;
  switch (info->instrBdType) {
    case BD_SABLE:
    case BD_LUMEN: return 12;
    case BD_KITE:
    case BD_DUNE:
    case BD_IRIS: return 4;
    case BD_CAN: {
      const rr_board_backend_t* b = backend_of(info);
      const bool pifoc_kind =
          info->pifoc != nullptr && (info->pifoc->type == 1 || info->pifoc->type == 2);
      if (pifoc_kind && b->slot_count != nullptr) return b->slot_count(info);
      return 4;
    }
    default:
      u_log_fn("%s: unknown instrBdType %d\n", "rr_get_max_num_instr_ramps", info->instrBdType);
      return 0;
  }
}

int rr_set_current_ramp(sysInfo_t* info, int index) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (!(-1 <= index && index < info->ramps.table.size())) return ERR_INVALID_RAMP_INDEX;
  info->ramps.current = index;
  return 0;
}

const rr_ramp_info_t* rr_first_ramp_of_kind(const sysInfo_t* info, char kind) {
  if (info == nullptr) return nullptr;
  for (const rr_ramp_info_t& ramp : info->ramps.table) {
    if (ramp.header.polar == kind) return &ramp;
  }
  return nullptr;
}

// ---- compatibility of a ramp file with the instrument

namespace {

// The fringes per frame a ramp should have; none when its value is invalid.
std::optional<double> checked_fringes(const rr_ramp_hdr_t& h) {
  const double f = h.fringesPerFrame;
  if (is_pmi(h.rampType)) {
    if (h.nBuckets > 13) return f;
    const double expected = (h.nBuckets == 5 || h.nBuckets == 7)     ? 0.25
                            : (h.nBuckets == 11 || h.nBuckets == 13) ? 0.125
                                                                     : 0;
    if (expected == 0 || (f != 0 && f != expected)) return std::nullopt;
    return expected;
  }
  if (f != 0) {
    const double quarters = f / 0.25;
    const bool odd =
        quarters >= 1 && quarters == std::floor(quarters) && std::fmod(quarters, 2) == 1;
    if (!odd) return std::nullopt;
    return f;
  }
  constexpr std::pair<float, double> kBySlope[] = {
      {81, 0.25}, {243, 0.75}, {405, 1.25}, {567, 1.75}};
  for (const auto& [slope, fringes] : kBySlope) {
    if (h.rampSlope == slope) return fringes;
  }
  return std::nullopt;
}

}  // namespace

int rr_check_ramp_compat(rr_ramp_hdr_t* h, const char* name, int board_type, int pifoc_serial,
                         int pzt_serial) {
  if (h == nullptr) return ERR_INVALID_PARAM;
  if (name == nullptr) name = "";
  const int32_t made_for = h->instrBdType;
  const bool fits = board_type == BD_CAN ? (made_for == 0 || made_for == 1 || made_for == BD_CAN)
                                         : (made_for == 0 || made_for == board_type);
  if (!fits) {
    u_log_fn("Error: ramp data file %s is not compatible with this instrument\n", name);
    return ERR_WRONG_INSTR_BOARD;
  }
  int serial = 0;
  if (is_pmi(h->rampType)) {
    if (pzt_serial == -1) {
      u_log_fn("Error: ramp data file \"%s\" can only be used with a PZT\n", name);
      return ERR_INVALID_PARAM;
    }
    serial = pzt_serial;
  } else if (is_scan(h->rampType)) {
    if (pifoc_serial == -1) {
      u_log_fn("Error: ramp data file \"%s\" can only be used with a PIFOC\n", name);
      return ERR_INVALID_PARAM;
    }
    serial = pifoc_serial;
  } else {
    u_log_fn("Error: ramp data file \"%s\" is of unknown type %d\n", name, h->rampType);
    return ERR_CORRUPT_RAMP_FILE;
  }
  if (h->pztID != serial) {
    u_log_fn(is_pmi(h->rampType)
                 ? "Warning: ramp data file \"%s\" was generated for a different PZT\n"
                 : "Warning: ramp data file \"%s\" was generated for a different PIFOC\n",
             name);
    u_log_fn("Changing ramp S/N from %d to %d\n", h->pztID, serial);
    h->pztID = serial;
  }
  const std::optional<double> fringes = checked_fringes(*h);
  if (!fringes) {
    u_log_fn("Error: invalid fringesPerFrame %s in ramp data file \"%s\"\n",
             fmt_g_string(h->fringesPerFrame).c_str(), name);
    return ERR_INVALID_PARAM;
  }
  h->fringesPerFrame = static_cast<float>(*fringes);
  return 0;
}

// ---- building the table

namespace {

// Serials of the scanners: -1 for one the instrument lacks.
struct Scanners {
  int pifoc = -1;
  int pzt = -1;
};

// A ramp file whose timing values would divide by zero or do not fit the
// board's 16-bit rate cannot be used.
bool timing_usable(const rr_ramp_hdr_t& h) {
  const bool clock = std::isfinite(h.sampleClkFreq) && h.sampleClkFreq > 0;
  const bool rate = h.updateRate < 65536;
  const bool camera = !is_scan(h.rampType) || (std::isfinite(h.cameraRate) && h.cameraRate > 0);
  return clock && rate && camera;
}

// Reads a ramp file into an entry; the message prefix says which mode.
int read_entry(const std::string& path, rr_ramp_info_t& e) {
  rr_release_points(&e.points);
  int rc = rr_read_ramp_file(path.c_str(), &e.header, &e.points);
  if (rc == 0 && !timing_usable(e.header)) {
    rr_release_points(&e.points);
    rc = ERR_CORRUPT_RAMP_FILE;
  }
  return rc;
}

// The name with a trailing "*" replaced by the scanner's serial.
std::string with_serial(std::string name, int32_t type, const Scanners& s) {
  if (!name.empty() && name.back() == '*') {
    name.pop_back();
    name += std::to_string(is_pmi(type) ? s.pzt : s.pifoc);
  }
  return name;
}

// extprofile<N>.<p><d>: the board's profile N, polarity p, direction d
// (n: reversed).
int external_profile(const sysInfo_t& info, const rr_ramp_line_t& cfg, rr_ramp_info_t& e,
                     std::string& why) {
  const std::string_view name = cfg.fileName;
  const std::size_t at = name.find("extprofile");
  const std::size_t dot = name.find('.', at);
  const std::string_view digits =
      name.substr(at + 10, dot == std::string_view::npos ? 0 : dot - at - 10);
  const bool shape =
      dot != std::string_view::npos && !digits.empty() && digits.size() <= 3 &&
      std::all_of(digits.begin(), digits.end(), [](char c) { return '0' <= c && c <= '9'; }) &&
      name.size() == dot + 3;
  if (!shape) {
    why = "Invalid external profile ramp name " + std::string(name);
    return ERR_INVALID_PARAM;
  }
  const int index = std::atoi(std::string(digits).c_str());
  const int most = rr_get_max_num_instr_ramps(&info);
  if (index > most) {
    why = "External profile ramp index " + std::to_string(index) + " is greater than maximum " +
          std::to_string(most);
    return ERR_INVALID_PARAM;
  }
  rr_ramp_hdr_t& h = e.header;
  h = rr_ramp_hdr_t{};
  h.magicNumber = RR_MAGIC;
  h.rampType = cfg.type;
  h.cameraRate = cfg.cameraRate;
  h.cameraInterlace = cfg.cameraInterlace;
  h.grabSkip = cfg.grabSkip;
  h.fringesPerFrame = cfg.fringesPerFrame;
  h.rampSlope = cfg.rampSlope;
  h.scanLen = cfg.scanLen;
  h.objMag = cfg.objMag;
  h.scanCal = cfg.scanCal;
  h.wavelenSelect = cfg.wavelenIndex;
  h.sampleClkFreq = 5;
  h.offset = 0x8000;
  h.polar = static_cast<unsigned char>(name[dot + 1]);
  h.dirFlag = name[dot + 2] == 'n' ? 0 : 1;
  const double buckets = cfg.rampSlope > 0 ? std::ceil(cfg.scanLen * 1000.0 / cfg.rampSlope) : 0;
  h.nBuckets = u_saturated_int(buckets);
  h.nPoints = cfg.cameraRate > 0 ? u_saturated_int(buckets / cfg.cameraRate * 5000) : 0;
  e.slot = static_cast<uint8_t>(index);
  return 0;
}

struct Counts {
  int loaded = 0;
  int derived = 0;
};

// One entry per accepted configuration line, in file order.
int from_config(sysInfo_t& info, const std::string& dir, const rr_ramp_line_t* cfgs, int count,
                const Scanners& s, std::vector<rr_ramp_info_t>& out, Counts& counts) {
  int base = -1;  // the last entry read from a file
  for (int k = 0; k < count; ++k) {
    const int line = k + 1;
    if (static_cast<int>(out.size()) >= RR_MAX_RAMPS) {
      u_log_fn("Ramp config warning: too many ramp config entries, ignoring entries %d to %d\n",
               line, count);
      break;
    }
    const rr_ramp_line_t& cfg = cfgs[k];
    if (cfg.type == RR_TYPE_PMI) {
      if (s.pzt == -1) {
        u_log_fn("Ramp config error: ramp %d can only be used with a PZT\n", line);
        continue;
      }
    } else if (is_scan(cfg.type)) {
      if (s.pifoc == -1) {
        u_log_fn("Ramp config error: ramp %d can only be used with a PIFOC\n", line);
        continue;
      }
    } else {
      u_log_fn("Ramp config error: ramp %d is of unknown type %d\n", line, cfg.type);
      continue;
    }
    rr_ramp_info_t e;
    const std::string name = cfg.fileName;
    if (name.find("extprofile") != std::string::npos) {
      if (!felbrin::ramps::external_profiles(&info)) {
        u_log_fn("Ramp config error: ramp %d \"%s\" is invalid for this instrument\n", line,
                 name.c_str());
        continue;
      }
      std::string why;
      if (external_profile(info, cfg, e, why) != 0) {
        u_log_fn("Ramp config error: ramp %d: %s\n", line, why.c_str());
        continue;
      }
      e.name = name;
    } else if (name == "+") {
      if (base < 0) {
        u_log_fn("Ramp config error: no loaded ramp data from which to derive config ramp %d\n",
                 line);
        continue;
      }
      const rr_ramp_info_t& from = out[static_cast<std::size_t>(base)];
      if (rr_derive_ramp(&from, &e, &cfg) != 0) {
        u_log_fn("Ramp config error: cannot derive config ramp %d from ramp data file \"%s\"\n",
                 line, from.name.c_str());
        continue;
      }
      e.name = "+" + from.name;
      ++counts.derived;
    } else {
      const std::string file = with_serial(name, cfg.type, s);
      const std::string path = u_path_join(dir, file);
      if (const int rc = read_entry(path, e); rc != 0) {
        u_log_fn("Ramp config error reading ramp data file \"%s\": %s\n", path.c_str(),
                 err_name(rc));
        continue;
      }
      if (rr_check_ramp_compat(&e.header, file.c_str(), info.instrBdType, s.pifoc, s.pzt) != 0)
        continue;
      if (rr_check_ramp_spec(&cfg, &e.header) != 0) {
        u_log_fn("Ramp config error: values not consistent with ramp data file \"%s\"\n",
                 path.c_str());
        continue;
      }
      e.name = file;
      u_log_fn("Loaded ramp file \"%s\"\n", path.c_str());
      ++counts.loaded;
      base = static_cast<int>(out.size());
    }
    e.hide = cfg.hide;
    out.push_back(std::move(e));
  }
  info.ramps.configMode = 1;
  return 0;
}

// ASCII case-insensitive order, ties by bytes, so every platform loads the
// same files in the same order whatever order its directories list in.
bool listing_order(const std::string& a, const std::string& b) {
  const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  const auto cmp =
      std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
        return fold(static_cast<unsigned char>(x)) < fold(static_cast<unsigned char>(y));
      });
  const auto rcmp =
      std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), [&](char x, char y) {
        return fold(static_cast<unsigned char>(x)) < fold(static_cast<unsigned char>(y));
      });
  if (cmp || rcmp) return cmp;
  return a < b;
}

// The serial in a name's extension: a letter, then one or more digits and
// nothing else ("d10s81c25.b12345" gives 12345); -2 when there is none.
int64_t extension_serial(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return -2;
  const std::string_view ext = std::string_view(name).substr(dot + 1);
  if (ext.size() < 2 || ext.size() > 11) return -2;
  int64_t v = 0;
  for (char c : ext.substr(1)) {
    if (c < '0' || c > '9') return -2;
    v = v * 10 + (c - '0');
  }
  return v;
}

int from_directory(sysInfo_t& info, const std::string& dir, const Scanners& s,
                   std::vector<rr_ramp_info_t>& out, Counts& counts) {
  u_log_fn("Checking all files in ramp directory\n");
  std::vector<std::string> names;
  if (u_dir_t* list = u_dir_open(dir.c_str())) {
    while (const u_dir_entry_t* entry = u_dir_read(list)) names.emplace_back(entry->name);
    u_dir_close(list);
  }
  std::sort(names.begin(), names.end(), listing_order);
  std::vector<std::string> accepted;
  for (const std::string& name : names) {
    if (name.empty() || name[0] == '.') continue;
    const int64_t serial = extension_serial(name);
    if (serial < 0 || (serial != s.pifoc && serial != s.pzt)) continue;
    if (static_cast<int>(accepted.size()) == RR_MAX_RAMPS) {
      u_log_fn("Warning: too many ramp files (limit is %d), some files ignored\n", RR_MAX_RAMPS);
      break;
    }
    accepted.push_back(name);
  }
  for (const std::string& name : accepted) {
    rr_ramp_info_t e;
    const std::string path = u_path_join(dir, name);
    if (const int rc = read_entry(path, e); rc != 0) {
      u_log_fn("Error reading ramp data file \"%s\": %s\n", path.c_str(), err_name(rc));
      continue;
    }
    if (rr_check_ramp_compat(&e.header, name.c_str(), info.instrBdType, s.pifoc, s.pzt) != 0)
      continue;
    e.name = name;
    u_log_fn("Loaded ramp file \"%s\"\n", path.c_str());
    ++counts.loaded;
    e.header.rampID = counts.loaded;
    out.push_back(std::move(e));
  }
  return 0;
}

// Duration, sort key, gain, direction, velocity and the offset crossing of
// an entry.
int settle(const sysInfo_t& info, rr_ramp_info_t& e) {
  const rr_ramp_hdr_t& h = e.header;
  double ms = h.nPoints / static_cast<double>(h.sampleClkFreq);
  if (h.instrBdType == BD_KITE || h.instrBdType == BD_IRIS) ms *= h.updateRate + 1.0;
  e.duration = std::max(1, u_saturated_int(std::round(ms)));
  const double twice = info.instrBdType == BD_LUMEN ? 2 : 1;
  if (h.rampType == RR_TYPE_SWLI) {
    e.sortKey = twice * h.scanLen - 64 * twice * h.rampSlope / 1000;
  } else if (h.rampType == RR_TYPE_BTW) {
    e.sortKey = twice * h.scanLen;
  } else {
    e.sortKey = h.nBuckets / 100.0;
  }
  if (is_pmi(h.rampType))
    e.gain = 1 <= h.rampGainDflt && h.rampGainDflt <= 4095 ? h.rampGainDflt : 2048;
  int d = sb_system_type_in(&info, SB_FORWARD_RAMP_TYPES) ? 1 : -1;
  if (info.pifocPolarity == -1) d = -d;
  if (h.dirFlag == 0) d = -d;
  e.direction = d > 0 ? 1 : 2;
  e.velocity = h.rampSlope * static_cast<double>(h.cameraRate) / 1000 * (d > 0 ? 1 : -1);
  if (!felbrin::ramps::external_profiles(&info)) e.slot = RR_NO_SLOT;
  if (!is_scan(h.rampType)) return 0;
  const rr_board_backend_t* b = backend_of(&info);
  double t = 0;
  if (b != nullptr && b->crossing_time != nullptr && b->crossing_time(&info, &e, &t)) {
    e.timeTilOffset = t;
    return 0;
  }
  const double clock =
      ur_is_serial_board(&info) ? 4000.0 / (65536.0 - h.updateRate) : h.sampleClkFreq;
  return rr_calc_time_til_offset_crossing(&e, clock);
}

void log_counts(const sb_ramp_state_t& r, const Counts& c) {
  int swli = 0, btw = 0;
  for (const rr_ramp_info_t& e : r.table) {
    swli += e.header.rampType == RR_TYPE_SWLI ? 1 : 0;
    btw += e.header.rampType == RR_TYPE_BTW ? 1 : 0;
  }
  u_log_fn("Ramp data sets:\n");
  u_log_fn("  %3d Total\n", r.table.size());
  u_log_fn("  %3d Loaded\n", c.loaded);
  u_log_fn("  %3d Derived\n", c.derived);
  u_log_fn("  %3d SWLI\n", swli);
  u_log_fn("  %3d BTW\n", btw);
  u_log_fn("  %3d PMI\n", r.pmiCount);
}

// Without the keep variable the board starts empty; with it the table learns
// which of its ramps the board still holds and the board forgets the rest.
int reconcile_slots(sysInfo_t& info, bool keep) {
  const int slots = rr_get_max_num_instr_ramps(&info);
  sb_ramp_state_t& r = info.ramps;
  if (!keep) {
    for (int s = 0; s < slots; ++s) {
      if (const int rc = rr_ramp_delete(&info, s); rc != 0) {
        u_log_fn("rr_ramp_delete failed: %s\n", err_name(rc));
        return rc;
      }
    }
    return 0;
  }
  uint8_t held[12];
  if (const int rc = uz_ramp_request(&info, held); rc != 0) {
    u_log_fn("uz_ramp_request failed: %s\n", err_name(rc));
    return rc;
  }
  for (int s = 0; s < slots && s < 12; ++s) {
    const uint8_t id = held[s];
    const bool known = std::any_of(r.table.begin(), r.table.end(), [id](const rr_ramp_info_t& e) {
      return !e.name.empty() && static_cast<uint8_t>(e.header.rampID & 0xFF) == id;
    });
    if (id != RR_NO_SLOT && !known) {
      if (const int rc = rr_ramp_delete(&info, s); rc != 0) {
        u_log_fn("rr_ramp_delete failed: %s\n", err_name(rc));
        return rc;
      }
      r.slotTable[s] = RR_NO_SLOT;
    } else {
      r.slotTable[s] = id;
    }
  }
  for (rr_ramp_info_t& e : r.table) {
    e.slot = RR_NO_SLOT;
    for (int s = 0; s < slots && s < 12; ++s) {
      if (r.slotTable[s] != RR_NO_SLOT &&
          r.slotTable[s] == static_cast<uint8_t>(e.header.rampID & 0xFF)) {
        e.slot = static_cast<uint8_t>(s);
        u_log_fn("Ramp ID %d already loaded in instr\n", e.header.rampID);
        break;
      }
    }
  }
  return 0;
}

int build_table(sysInfo_t* info) {
  if (!felbrin::ramps::is_active(info)) return ERR_SYS_INFO_NOT_AVAIL;
  if (info->pifoc == nullptr && sb_system_type_in(info, SB_PIFOC_SCANNER_TYPES)) {
    return ERR_WRONG_SYSTEM_TYPE;
  }
  Scanners s;
  if (info->pifoc != nullptr) s.pifoc = info->pifoc->value;
  if (!sb_system_type_in(info, SB_RAMPS_BY_PIFOC_TYPES)) s.pzt = info->serialNumber;

  sb_ramp_state_t& r = info->ramps;
  r.table.clear();
  r.pmiCount = 0;
  r.configMode = 0;
  r.current = -1;
  std::fill(std::begin(r.slotTable), std::end(r.slotTable), RR_NO_SLOT);

  constexpr const char* kKeep = "KEEP_RAMPS_LOADED_IN_INSTR";
  const bool keep = std::getenv(kKeep) != nullptr;
  if (keep) u_log_fn("Found env var %s\n", kKeep);

  const char* dir = u_ramps_dir();
  if (dir == nullptr) return ERR_NO_RAMP_INFO;
  u_log_fn("Ramp directory: %s\n", dir);

  std::vector<rr_ramp_info_t> entries;
  Counts counts;
  bool from_dir = true;
  if (!info->rampConfigFile.empty()) {
    const std::string path = u_path_join(dir, info->rampConfigFile);
    if (!u_file_exists(path.c_str())) {
      u_log_fn("Cannot access ramp config file \"%s\"\n", path.c_str());
    } else {
      u_log_fn("Reading ramp config file \"%s\"\n", path.c_str());
      rr_ramp_line_t* cfgs = nullptr;
      int count = 0;
      if (const int rc = rr_read_ramp_config(path.c_str(), &cfgs, &count); rc != 0) return rc;
      if (count == 0) {
        rr_release_ramp_lines(&cfgs);
        return ERR_NO_RAMP_INFO;
      }
      from_config(*info, dir, cfgs, count, s, entries, counts);
      rr_release_ramp_lines(&cfgs);
      from_dir = false;
    }
  }
  if (from_dir) from_directory(*info, dir, s, entries, counts);
  if (entries.empty()) {
    u_log_fn("No usable ramp data\n");
    return ERR_NO_RAMP_INFO;
  }
  for (rr_ramp_info_t& e : entries) {
    if (const int rc = settle(*info, e); rc != 0) {
      u_log_fn("rr_calc_time_til_offset_crossing failed: %s\n", err_name(rc));
      return rc;
    }
  }
  if (from_dir) {
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const rr_ramp_info_t& a, const rr_ramp_info_t& b) { return a.sortKey < b.sortKey; });
  }
  if (!r.table.allocate(static_cast<int>(entries.size()))) return ERR_NO_MEM;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    r.pmiCount += is_pmi(entries[i].header.rampType) ? 1 : 0;
    r.table[static_cast<int>(i)] = std::move(entries[i]);
  }
  // A derived ramp is a ramp of its own on the board: sharing its base's ID
  // would make the board's slots hold one for the other.
  for (int i = 0; i < r.table.size(); ++i) {
    if (r.table[i].name.empty() || r.table[i].name[0] != '+') continue;
    r.table[i].header.rampID = -1;
    if (const int rc = rr_assign_ramp_id(info, i); rc != 0) return rc;
  }
  log_counts(r, counts);
  if (ur_is_serial_board(info)) return reconcile_slots(*info, keep);
  return 0;
}

}  // namespace

int rr_get_ramp_info(sysInfo_t* info) {
  const int rc = build_table(info);
  if (rc != 0) u_log_fn("rr_get_ramp_info: %s\n", err_name(rc));
  return rc;
}

int rr_save_ramp_config(sysInfo_t* info, const char* path) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  const rr_ramp_table_t& table = info->ramps.table;
  if (table.empty()) return ERR_NO_RAMP_INFO;
  if (!(1 <= table.size() && table.size() <= RR_MAX_RAMPS)) return ERR_INVALID_RAMP_INDEX;
  if (path == nullptr) return ERR_INVALID_PARAM;
  std::vector<rr_ramp_line_t> cfgs(static_cast<std::size_t>(table.size()));
  for (int i = 0; i < table.size(); ++i) {
    const rr_ramp_info_t& e = table[i];
    const rr_ramp_hdr_t& h = e.header;
    rr_ramp_line_t& s = cfgs[static_cast<std::size_t>(i)];
    s.type = is_pmi(h.rampType) ? RR_TYPE_PMI : h.rampType;
    s.wavelenIndex = h.rampType == RR_TYPE_BTW ? h.wavelenSelect : 0;
    const std::string name = !e.name.empty() && e.name[0] == '+' ? std::string("+") : e.name;
    // A longer name would be cut to another file's name.
    if (name.size() >= sizeof s.fileName) return ERR_INVALID_PARAM;
    std::snprintf(s.fileName, sizeof s.fileName, "%s", name.c_str());
    s.scanLen = h.scanLen;
    s.cameraRate = h.cameraRate;
    s.cameraInterlace = h.cameraInterlace;
    s.grabSkip = h.grabSkip;
    s.fringesPerFrame = h.fringesPerFrame;
    s.rampSlope = h.rampSlope;
    s.objMag = h.objMag;
    s.scanCal = h.scanCal;
    s.hide = e.hide;
    // A PMI line must hold 0 for both, whatever the ramp file carries, or
    // the saved file would lose the line when read again.
    if (s.type == RR_TYPE_PMI) s.scanLen = s.scanCal = 0;
  }
  return rr_write_ramp_config(path, cfgs.data(), static_cast<int>(cfgs.size()));
}
