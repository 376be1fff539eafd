// The calibration lines whose form does not fit the listed pattern: light
// sources and light level control, the pifoc scanner, magnifications, scan
// calibration, turret, ring/spot and SDC calibration.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>

#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_grammar_internal.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/calibration/cal_tokens.h"
#include "platform/platform.h"

namespace felbrin::cal::grammar {

void read_light(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kLights);
  if (r.status != 0) return;
  sysInfo_t& s = r.info;
  s.lightType = type;
  sb_wavelength_t* wl = s.wavelengths;
  auto preset_first = [wl](double metres) {
    wl[0].wavelength = metres;
    for (int i = 1; i < 4; ++i) wl[i].wavelength = 0;
  };
  if (s.systemType == SYS_COBALT) {
    preset_first(0.655e-6);
  } else if (s.instrBdType == BD_DUNE) {
    preset_first(12.75e-6);
  } else if (s.instrBdType == BD_LUMEN) {
    preset_first(9e-6);
  } else if (s.instrBdType != BD_CAN) {
    for (int i = 0; i < 4; ++i) wl[i] = {0.6328e-6, 0};
  }
  int items = 0;
  while (items < 4) {
    const int c = peek(r);
    if (c == CAL_CLASS_END) break;
    double wavelength = 0;
    double bandwidth = 0;
    if (c == CAL_CLASS_NUMBER) {
      wavelength = rd_real(r, 0.1, 15);
      if (r.status != 0) return;
    } else if (c == CAL_CLASS_BRACKET) {
      if (!rd_item(r, R(0.1, 15), R(0, 1), wavelength, bandwidth)) return;
    } else {
      fail(r, kSyntax, "Syntax error.");
      return;
    }
    wl[items].wavelength = wavelength * 1e-6;
    wl[items].bandwidth = bandwidth * 1e-6;
    ++items;
    r.seen |= SEEN_LIGHT;
  }
  if (items == 0 && type != LIGHT_HENE) fail(r, kSyntax, "At least one wavelength value required.");
}

void write_light(Writer& w, const Line&) {
  const sysInfo_t& s = w.info;
  if ((s.lightType < 1 || s.lightType > 5) && s.instrBdType != BD_NONE) {
    write_fault(w, ERR_SB_CAL_INFO_INCOMPLETE, "Light Type undefined.");
  }
  // The reader has no word for an unknown light, so the line is left out.
  if (s.lightType == LIGHT_UNKNOWN) return;
  // Light fields still at their reset values came from a file without a
  // Light line. Where the reader presets all four entries to 0.6328 um, a
  // line would not read them back, so it is left out; Sable boards need the
  // line and keep it.
  const bool at_reset = s.lightType == LIGHT_HENE && s.wavelengths[0].wavelength == 6.328e-7 &&
                        s.wavelengths[0].bandwidth == 0 && s.wavelengths[1].wavelength == 0 &&
                        s.wavelengths[2].wavelength == 0 && s.wavelengths[3].wavelength == 0;
  const bool four_preset = s.systemType != SYS_COBALT &&
                           !is_one_of(s.instrBdType, {BD_DUNE, BD_LUMEN, BD_CAN, BD_SABLE});
  if (at_reset && four_preset) return;
  std::string keyword = "Light ";
  keyword += name_of(kLights, s.lightType);
  put_keyword(w, keyword);
  w.out += "  ";
  for (int i = 0; i < 4; ++i) {
    const sb_wavelength_t& e = s.wavelengths[i];
    if (i > 0 && e.wavelength == 0) break;
    if (i > 0) w.out += ' ';
    if (e.bandwidth != 0) {
      w.out += '[';
      put_num(w.out, e.wavelength * 1e6, kF);
      w.out += ',';
      put_num(w.out, e.bandwidth * 1e6, kF);
      w.out += ']';
    } else {
      put_num(w.out, e.wavelength * 1e6, kF);
    }
  }
  end_line(w);
}

void read_llc_instr(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kLlcInstrs, /*quiet=*/true);
  if (r.status != 0) return;
  r.info.llcInstr = type;
  if (type == LLC_DUNE) return;
  std::string text = rd_word(r);
  if (r.status == 0) r.info.llcInstrText = std::move(text);
}

void write_llc_instr(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kLlcInstrs, w.info.llcInstr));
  // Dune takes no text; the others need one, if only "".
  if (w.info.llcInstr != LLC_DUNE) put_value_text(w, w.info.llcInstrText);
  end_line(w);
}

void read_llc_range(Reader& r, const Line&) {
  sb_range_t* ranges = r.info.llcRange;
  const int32_t low = rd_int(r, 0, 65535);
  const int32_t high = rd_int(r, 0, 65535);
  if (r.status != 0) return;
  ranges[0] = {static_cast<uint16_t>(low), static_cast<uint16_t>(high)};
  r.llc_range_values = 2;
  if (!optional_number(r)) return;
  const int32_t low2 = rd_int(r, 0, 4096);
  const int32_t high2 = rd_int(r, 0, 4096);
  if (r.status != 0) return;
  ranges[1] = {static_cast<uint16_t>(low2), static_cast<uint16_t>(high2)};
  r.llc_range_values = 4;
}

bool same(sb_range_t a, sb_range_t b) { return a.low == b.low && a.high == b.high; }

// Written when it differs from what the reader would derive without it.
void write_llc_range(Writer& w, const Line& row) {
  const sysInfo_t& s = w.info;
  const LlcDefaults d = llc_default_ranges(s.instrBdType, s.systemType, s.cameraType);
  const bool second = !same(s.llcRange[1], d.has_second ? d.second : sb_range_t{});
  // A forced first range is the reader's whatever the file says; it is
  // written only to carry a second range.
  const bool first =
      second || (!d.forced && !same(s.llcRange[0], d.has_range ? d.range : sb_range_t{}));
  if (!first) return;
  put_keyword(w, row.name);
  put_value(w, s.llcRange[0].low);
  put_value(w, s.llcRange[0].high);
  if (second) {
    put_value(w, s.llcRange[1].low);
    put_value(w, s.llcRange[1].high);
  }
  end_line(w);
}

void read_llc_config(Reader& r, const Line&) {
  const int32_t first = rd_int(r, 0, 255);
  if (r.status != 0) return;
  r.info.lightSource[0].config = static_cast<uint8_t>(first | 1);
  if (!optional_number(r)) return;
  const int32_t second = rd_int(r, 0, 255);
  if (r.status == 0) r.info.lightSource[1].config = static_cast<uint8_t>(second | 1);
}

void write_llc_config(Writer& w, const Line& row) {
  const sb_light_source_t* src = w.info.lightSource;
  if (src[1].config == 0 && src[0].config == 1) return;
  put_keyword(w, row.name);
  put_value(w, src[0].config);
  if (src[1].config != 0) put_value(w, src[1].config);
  end_line(w);
}

void read_llc_freq(Reader& r, const Line&) {
  const int32_t f = rd_int(r, 0, 1000000);
  if (r.status != 0) return;
  r.info.lightSource[0].freq = f;
  r.info.lightSource[1].freq = f;
}

void read_llc_align(Reader& r, const Line&) {
  const double pct = rd_real(r, 0, 100);
  if (r.status != 0) return;
  r.info.lightSource[0].alignModePct = static_cast<float>(pct);
  r.info.lightSource[1].alignModePct = static_cast<float>(pct);
}

// LLC AvgCurLimit (pair member 0) and LLC FwdVoltage (member 1).
uint16_t& pair_value(sysInfo_t& s, int source, int range, bool voltage) {
  auto& p = s.lightSource[source].pairs[range];
  return voltage ? p.fwdVoltage : p.avgCurLimit;
}

void read_llc_pairs(Reader& r, const Line& row) {
  const bool voltage = row.second == TOK_FWDVOLTAGE;
  const double hi = voltage ? 10000 : 1000;
  for (int k = 0; k < 4; ++k) {
    if (k == 2 && !optional_number(r)) return;
    const int32_t v = rd_int(r, 0, hi);
    if (r.status != 0) return;
    pair_value(r.info, k / 2, k % 2, voltage) = static_cast<uint16_t>(v);
  }
}

void write_llc_pairs(Writer& w, const Line& row) {
  const bool voltage = row.second == TOK_FWDVOLTAGE;
  sysInfo_t& s = mutable_info(w);
  const bool second = pair_value(s, 1, 0, voltage) != 0 || pair_value(s, 1, 1, voltage) != 0;
  if (!second && pair_value(s, 0, 0, voltage) == 0 && pair_value(s, 0, 1, voltage) == 0) return;
  put_keyword(w, row.name);
  for (int k = 0; k < (second ? 4 : 2); ++k) put_value(w, pair_value(s, k / 2, k % 2, voltage));
  end_line(w);
}

// Pifoc and PztId: the value, with scale and Beta back at their defaults.
bool read_pifoc_value(Reader& r, double hi) {
  if (!make(r, r.info.pifoc)) return false;
  const int32_t v = rd_int(r, 0, hi);
  if (r.status != 0) return false;
  sb_pifoc_t& p = *r.info.pifoc;
  p.value = v;
  p.scale = SB_PIFOC_SCALE;
  p.beta = SB_PIFOC_BETA;
  r.seen |= SEEN_PIFOC;
  return true;
}

void read_pifoc(Reader& r, const Line&) {
  if (!read_pifoc_value(r, 999999) || !optional_number(r)) return;
  const double scale = rd_real(r, 0.5, 2);
  if (r.status != 0) return;
  r.info.pifoc->scale = scale;
  const double beta = rd_real(r, 0, 0.1);
  if (r.status != 0) return;
  if (beta != 0 && beta < 0.005) {
    sb_calError("Beta = %g is non-zero and is not in range [%g,%g]", beta, 0.005, 0.1);
    r.status = kRange;
    return;
  }
  r.info.pifoc->beta = beta;
}

void read_pztid(Reader& r, const Line&) { read_pifoc_value(r, 99999); }

void write_pifoc(Writer& w, const Line& row) {
  const sb_pifoc_t& p = *w.info.pifoc;
  put_keyword(w, row.name);
  put_value(w, p.value);
  // A record made by PifocType alone holds no scale yet (0, which no file
  // can give); its value line reads back with the defaults.
  const bool has_scale = 0.5 <= p.scale && p.scale <= 2;
  if (has_scale && (pifoc_writes_scale(w.info.systemType) || p.scale != SB_PIFOC_SCALE ||
                    p.beta != SB_PIFOC_BETA)) {
    put_value(w, p.scale, kF);
    put_value(w, p.beta, kF);
  }
  end_line(w);
}

void read_mags(Reader& r, const Line& row) {
  double* mags = row.first == TOK_NOMMAG ? r.info.nomMag : r.info.sysMag;
  for (int i = 0; i < SB_MAX_MAGS; ++i) mags[i] = 0;
  if (!expect_number(r)) return;
  int n = 0;
  do {
    if (n == SB_MAX_MAGS) {
      fail(r, kSyntax, "Too many NomMag or SysMag values.");
      return;
    }
    const double v = rd_real(r, 0, 100);
    if (r.status != 0) return;
    mags[n++] = v;
  } while (peek(r) == CAL_CLASS_NUMBER);
  if (r.info.magCount != 0 && r.info.magCount != n) {
    fail(r, ERR_SB_CALFILE_INCONSISTENT,
         "The number of NomMag values and\nthe number of SysMag values are mismatched.");
    return;
  }
  r.info.magCount = n;
}

bool any_set(const double* mags, int count) {
  return std::any_of(mags, mags + count, [](double m) { return m != 0; });
}

// The count is what later lines (Camera Trans, the Lumen block) depend on,
// so it must survive even when entry 0, or every entry, is 0: an array
// holding a value is written, and NomMag carries the count when neither
// does. A record that has values but no count yet gets its entry 0.
void write_mags(Writer& w, const Line& row) {
  const sysInfo_t& s = w.info;
  const bool nominal = row.first == TOK_NOMMAG;
  const double* mags = nominal ? s.nomMag : s.sysMag;
  int count = std::clamp(s.magCount, 0, SB_MAX_MAGS);
  if (always_writes_mags(s.systemType)) {
    count = std::max(count, 2);
  } else if (count == 0) {
    if (mags[0] == 0) return;
    count = 1;
  } else if (!any_set(mags, count) && !(nominal && !any_set(s.sysMag, count))) {
    return;
  }
  put_keyword(w, row.name);
  for (int i = 0; i < count; ++i) put_value(w, mags[i], Fmt{'f', 4, 6});
  end_line(w);
}

void write_scan_cal(Writer& w, const Line& row) {
  const double* cal = w.info.scanCal;
  const bool both = cal[1] != 0 && cal[1] != 1;
  if (!both && (cal[0] == 0 || cal[0] == 1)) return;
  put_keyword(w, row.name);
  put_value(w, cal[0], kG);
  if (both) put_value(w, cal[1], kG);
  end_line(w);
}

void read_turret(Reader& r, const Line&) {
  const int32_t turret = rd_int(r, 0, 255);
  if (r.status != 0) return;
  r.info.turret = turret;
  if (!optional_number(r, /*silent=*/true)) return;
  const int32_t second = rd_int(r, 0, 255);
  if (r.status == 0) r.info.turret2 = second;
}

void write_turret(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value(w, w.info.turret);
  if (w.info.turret2 != 5) put_value(w, w.info.turret2);
  end_line(w);
}

void read_ring_spot(Reader& r, const Line&) {
  const sysInfo_t& s = r.info;
  if (s.instrBdType == BD_KITE ||
      (s.instrBdType == BD_CAN &&
       is_one_of(s.systemType, {SYS_KITECAN, SYS_HERON_CAN, SYS_IRIS_CAN}))) {
    r.info.ringSpot = 1;
  }
}

// C1..C6 of an SdcCal entry in file order.
float& sdc_c(sb_sdc_cal_t& e, int k) {
  float* order[] = {&e.c1, &e.c2, &e.c3, &e.c4, &e.c5, &e.c6};
  return *order[k];
}

void read_sdc_cal(Reader& r, const Line&) {
  const int32_t index = rd_int(r, 0, 14);
  if (r.status != 0) return;
  sb_sdc_cal_t& e = r.info.sdcCal[index];
  for (int k = 0; k < 8; ++k) {
    if (!optional_number(r, /*silent=*/true)) return;
    const double v = k < 6 ? rd_real(r, -kFloatMax, kFloatMax) : rd_real(r, 0, kFloatMax);
    if (r.status != 0) return;
    if (k < 6) {
      sdc_c(e, k) = static_cast<float>(v);
    } else {
      (k == 6 ? e.d1 : e.d2) = v;
    }
  }
}

void write_sdc_cal(Writer& w, const Line& row) {
  for (int i = 0; i < SB_MAX_MAGS; ++i) {
    // The reader fills the values in order and takes any prefix of them,
    // with D1 or D2 possibly 0: the line runs to the last value set.
    // An unset C has no written form; only a record made in memory can
    // have one before a set value, and the line then stops there.
    sb_sdc_cal_t e = w.info.sdcCal[i];
    int count = e.d2 != 0 ? 8 : e.d1 != 0 ? 7 : 0;
    for (int k = 0; k < 6 && count == 0; ++k) {
      if (sdc_c(e, 5 - k) != SB_FLOAT_UNSET) count = 6 - k;
    }
    for (int k = 0; k < std::min(count, 6); ++k) {
      if (sdc_c(e, k) == SB_FLOAT_UNSET) count = k;
    }
    if (count == 0) continue;
    put_keyword(w, row.name);
    put_value(w, i);
    for (int k = 0; k < std::min(count, 6); ++k) put_value(w, sdc_c(e, k), kG);
    if (count > 6) put_value(w, e.d1, kG);
    if (count > 7) put_value(w, e.d2, kG);
    end_line(w);
  }
}

}  // namespace felbrin::cal::grammar
