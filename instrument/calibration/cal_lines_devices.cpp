// The calibration lines whose form does not fit the listed pattern: the
// position instrument, temperature sensor, PID values, buckets, dynamic wave
// generator, sleep timeout, standard magnifications, radius scales and the
// Lumen lines.
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
#include "instrument/calibration/cal_grammar_internal.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/calibration/cal_tokens.h"
#include "platform/platform.h"

namespace felbrin::cal::grammar {

void read_pos_instr(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kPosInstrs);
  if (r.status != 0) return;
  r.info.posInstr = type;
  std::string text = rd_word(r);
  if (r.status != 0) return;
  r.info.posInstrText[0] = std::move(text);
  r.info.posInstrText[1].clear();
  if (!optional_word(r)) return;
  std::string second = rd_word(r);
  if (r.status == 0) r.info.posInstrText[1] = std::move(second);
}

void write_pos_instr(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kPosInstrs, w.info.posInstr));
  put_value_text(w, w.info.posInstrText[0]);
  if (!w.info.posInstrText[1].empty()) put_value_text(w, w.info.posInstrText[1]);
  end_line(w);
}

void read_temp_sensor(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kTempSensors, /*quiet=*/true);
  if (r.status != 0) return;
  r.info.tempSensor = type;
  std::string text = rd_word(r);
  if (r.status == 0) r.info.tempSensorText = std::move(text);
}

void write_temp_sensor(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kTempSensors, w.info.tempSensor));
  put_value_text(w, w.info.tempSensorText);
  end_line(w);
}

// PidVals_A .. PidVals_Z in axis order.
int axis_of(const Line& row) {
  return static_cast<int>(std::string_view("ABPRTXYZ").find(row.name.back()));
}

void read_pid(Reader& r, const Line& row) {
  Hooked<sb_pid_t>& record = r.info.pid[axis_of(row)];
  if (!record) {
    record = make_hooked<sb_pid_t>();
    // Only this line fails; the read goes on.
    if (!record) {
      r.status = ERR_NO_MEM;
      return;
    }
  }
  int first = 0;
  int last = 1;
  if (peek(r) == CAL_CLASS_LETTER) {
    const int32_t token = sb_readKeyword(r.src, &r.status);
    if (r.status != 0) return;
    const std::optional<int32_t> set = value_of(kPidSets, token);
    if (!set) {
      fail(r, kSyntax, "Unrecognized string.");
      return;
    }
    first = last = *set;
  }
  constexpr Num kValues[] = {I(-8388608, 8388607),
                             I(-8388608, 8388607),
                             I(0, 8388607),
                             I(0, 8388607),
                             I(0, 1),
                             I(0, 8388607),
                             R(-2, 2),
                             R(-2, 2),
                             R(-2, 2),
                             R(-2, 2)};
  for (int k = 0; k < 10; ++k) {
    const Num& n = kValues[k];
    const double v = n.kind == Kind::integer ? rd_int(r, n.lo, n.hi) : rd_real(r, n.lo, n.hi);
    if (r.status != 0) return;
    for (int s = first; s <= last; ++s) {
      sb_pid_set_t& p = record->sets[s];
      switch (k) {
        case 0: p.p1 = static_cast<int32_t>(v); break;
        case 1: p.p2 = static_cast<int32_t>(v); break;
        case 2: p.p3 = static_cast<int32_t>(v); break;
        case 3: p.p4 = static_cast<int32_t>(v); break;
        case 4: p.p5 = static_cast<uint8_t>(v); break;
        case 5: p.p6 = static_cast<int32_t>(v); break;
        case 6: p.p7 = static_cast<float>(v); break;
        case 7: p.p8 = static_cast<float>(v); break;
        case 8: p.p9 = static_cast<float>(v); break;
        default: p.p10 = static_cast<float>(v); break;
      }
    }
  }
}

void put_pid_values(Writer& w, const sb_pid_set_t& p) {
  for (int32_t v : {p.p1, p.p2, p.p3, p.p4, int32_t{p.p5}, p.p6}) put_value(w, v);
  for (float v : {p.p7, p.p8, p.p9, p.p10}) put_value(w, v, kG);
  end_line(w);
}

void write_pid(Writer& w, const Line& row) {
  const sb_pid_t& pid = *w.info.pid[axis_of(row)];
  const sb_pid_set_t unset{};
  const bool fast = pid.sets[0] != unset;
  const bool slow = pid.sets[1] != unset;
  if (fast && slow && pid.sets[0] == pid.sets[1]) {
    w.out += row.name;  // no field width
    put_pid_values(w, pid.sets[0]);
    return;
  }
  if (fast) {
    put_keyword(w, std::string(row.name) + " Fast");
    put_pid_values(w, pid.sets[0]);
  }
  if (slow) {
    put_keyword(w, std::string(row.name) + " Slow");
    put_pid_values(w, pid.sets[1]);
  }
}

void read_max_buckets(Reader& r, const Line&) {
  const int32_t limit = rd_int(r, 0, 2147483647);
  if (r.status != 0) return;
  r.info.wmMaxBuckets = limit;
  if (!expect_number(r)) return;
  const int32_t megabytes = rd_int(r, 0, 2147483647);
  if (r.status != 0) return;
  // 2048 MiB and more do not fit: they mean no limit, the reset value.
  const int64_t bytes = int64_t{megabytes} * 1048576;
  r.info.wmMaxBucketBytes = static_cast<int32_t>(std::min<int64_t>(bytes, 2147483647));
}

// A whole number in a word, as a decimal integer read would take it: 0 when
// the word does not start with one; saturated to 32 bits.
int32_t word_number(const std::string& word) {
  int64_t v = 0;
  std::size_t i = 0;
  const bool negative = !word.empty() && word[0] == '-';
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) i = 1;
  for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
    v = std::min<int64_t>(v * 10 + (word[i] - '0'), int64_t{1} << 31);
  }
  if (negative) v = -v;
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

void read_dyn_wave_gen(Reader& r, const Line&) {
  if (!make(r, r.info.dynWaveGen)) return;
  sb_dyn_wave_gen_t& d = *r.info.dynWaveGen;
  const std::string first = rd_word(r);
  if (r.status == 0) d.d[0] = word_number(first);
  const int32_t second = rd_int(r, 0, 30);
  if (r.status == 0) d.d[1] = second;
  const std::string third = rd_word(r);
  if (r.status == 0) {
    const int32_t v = word_number(third);
    if (v == 0 || (96 <= v && v <= 126)) {
      d.d[2] = v;
    } else {
      sb_calError("%d out of range [%d,%d] and 0", v, 96, 126);
      r.status = kRange;
    }
  }
  // A bad line leaves no half-made generator behind.
  if (r.status != 0) r.info.dynWaveGen.reset();
}

void write_dyn_wave_gen(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  for (int k = 0; k < 3; ++k) put_value(w, w.info.dynWaveGen->d[k]);
  end_line(w);
}

void read_sleep_timeout(Reader& r, const Line&) {
  rd_time(r, kHms, 20864,
          [&r](int32_t seconds) { r.info.sleepTimeout = static_cast<uint16_t>(seconds); });
}

void write_sleep_timeout(Writer& w, const Line& row) {
  const int t = w.info.sleepTimeout;
  put_keyword(w, row.name);
  w.out += "  ";
  put_int(w.out, t / 3600);
  for (int part : {t / 60 % 60, t % 60}) {
    w.out += part < 10 ? ":0" : ":";
    put_int(w.out, part);
  }
  // The last line of the file has no line end.
}

void read_std_mags(Reader& r, const Line&) {
  if (!make(r, r.info.encZoom)) return;
  sb_enc_zoom_t& z = *r.info.encZoom;
  z.stdMagCount = 0;
  if (!expect_number(r)) return;
  int n = 0;
  do {
    if (n == SB_MAX_MAGS) {
      fail(r, kSyntax, "Too many KiteEncZoomStdMag values.");
      break;
    }
    const double v = rd_real(r, 0, 100);
    if (r.status != 0) break;
    z.stdMags[n++] = v;
  } while (peek(r) == CAL_CLASS_NUMBER);
  z.stdMagCount = n;
}

void write_std_mags(Writer& w, const Line& row) {
  const sb_enc_zoom_t& z = *w.info.encZoom;
  put_keyword(w, row.name);
  for (int i = 0; i < z.stdMagCount && i < SB_MAX_MAGS; ++i) put_value(w, z.stdMags[i], kG);
  end_line(w);
}

sb_radius_scale_t& radius_block(sysInfo_t& s, const Line& row) {
  return row.first == TOK_ENCODEDRADIUSSCALE ? s.encodedRadiusScale : s.intfRadiusScale;
}

void read_radius_scale(Reader& r, const Line& row) {
  sb_radius_scale_t& b = radius_block(r.info, row);
  const bool encoded = row.first == TOK_ENCODEDRADIUSSCALE;
  b.present = 1;
  const int32_t mode = rd_int(r, 0, 1);
  if (r.status != 0) return;
  b.mode = static_cast<uint8_t>(mode);
  const double a = rd_real(r, 0, 1);
  if (r.status != 0) return;
  b.a = a;
  const double bb = rd_real(r, 0, 1);
  if (r.status != 0) return;
  b.b = bb;
  const int32_t n = rd_int(r, 0, 20);
  if (r.status != 0) return;
  b.n = n;
  if (encoded) {
    b.c = 0;
    if (!optional_number(r)) return;
  }
  const double c = rd_real(r, 0, 1);
  if (r.status == 0) b.c = c;
}

void write_radius_scale(Writer& w, const Line& row) {
  const sb_radius_scale_t& b = radius_block(mutable_info(w), row);
  if (!(b.present == 1 || b.mode == 1 || b.a > 0 || b.b > 0 || b.c > 0 || b.n != 0)) return;
  put_keyword(w, row.name);
  put_value(w, b.mode);
  put_value(w, b.a, kG);
  put_value(w, b.b, kG);
  put_value(w, b.n);
  put_value(w, b.c, kG);
  end_line(w);
}

// ---- Lumen lines

void read_lumen_zero_pt(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  const double first = rd_real(r, -10, 10);
  if (r.status != 0) return;
  r.info.lumenInfo->zeroPtPos[0] = first;
  if (!optional_number(r)) return;
  const double second = rd_real(r, -10, 10);
  if (r.status == 0) r.info.lumenInfo->zeroPtPos[1] = second;
}

void write_lumen_zero_pt(Writer& w, const Line& row) {
  const double* pos = w.info.lumenInfo->zeroPtPos;
  if (!std::isfinite(pos[0])) return;
  put_keyword(w, row.name);
  put_value(w, pos[0], kG);
  if (std::isfinite(pos[1])) put_value(w, pos[1], Fmt{'g', 6});
  end_line(w);
}

bool lumen_sys_finite(const sysInfo_t& s) {
  if (!lumen_block(s)) return false;
  for (double v : s.lumenInfo->sysConst) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

double (*lumen_table(sb_lumen_info_t& l, const Line& row))[SB_LUMEN_VALUES] {
  return row.first == TOK_LUMENDISPER ? l.disper : l.avgK0;
}

void read_lumen_values(Reader& r, const Line& row) {
  if (!make(r, r.info.lumenInfo)) return;
  if (!need_mags(r, "an LumenDisper or LumenAvg_K0")) return;
  const int32_t index = rd_int(r, 0, 14);
  if (!expect_number(r)) return;
  const double bound = row.first == TOK_LUMENDISPER ? kTwoPi : 100;
  const double lo = row.first == TOK_LUMENDISPER ? -kTwoPi : 0;
  double* values = lumen_table(*r.info.lumenInfo, row)[index];
  int n = 0;
  do {
    if (n == SB_LUMEN_VALUES) {
      fail(r, kSyntax, "Too many LumenDisper or LumenAvg_K0 values.");
      return;
    }
    const double v = rd_real(r, lo, bound);
    if (r.status != 0) return;
    values[n++] = v;
  } while (peek(r) == CAL_CLASS_NUMBER);
  if (n < 2) fail(r, kSyntax, "Not enough LumenDisper or LumenAvg_K0 values.");
}

void write_lumen_values(Writer& w, const Line& row) {
  sb_lumen_info_t& l = *mutable_info(w).lumenInfo;
  double(*table)[SB_LUMEN_VALUES] = lumen_table(l, row);
  for (int i = 0; i < w.info.magCount && i < SB_MAX_MAGS; ++i) {
    if (!(table[i][0] < kFloatMax)) continue;
    put_keyword(w, row.name);
    put_value(w, i);
    for (int k = 0; k < SB_LUMEN_VALUES && table[i][k] < kFloatMax; ++k)
      put_value(w, table[i][k], Fmt{'g', 6});
    end_line(w);
  }
}

float (*lumen_centres(sb_lumen_info_t& l, const Line& row))[2] {
  return row.first == TOK_LUMENDMICENTER ? l.dmiCenter : l.tiltCenter;
}

void read_lumen_centre(Reader& r, const Line& row) {
  if (!make(r, r.info.lumenInfo)) return;
  if (!need_mags(r, row.first == TOK_LUMENDMICENTER ? "an LumenDmiCenter" : "an LumenTiltCenter"))
    return;
  const int32_t index = rd_int(r, 0, 14);
  if (r.status != 0) return;
  float* centre = lumen_centres(*r.info.lumenInfo, row)[index];
  for (int k = 0; k < 2; ++k) {
    const double v = rd_real(r, -100, 100);
    if (r.status != 0) return;
    centre[k] = static_cast<float>(v);
  }
}

void write_lumen_centre(Writer& w, const Line& row) {
  float(*table)[2] = lumen_centres(*mutable_info(w).lumenInfo, row);
  for (int i = 0; i < w.info.magCount && i < SB_MAX_MAGS; ++i) {
    put_keyword(w, row.name);
    put_value(w, i);
    put_value(w, table[i][0], Fmt{'g', 3});
    put_value(w, table[i][1], Fmt{'g', 3});
    end_line(w);
  }
}

void put_days(Writer& w, int32_t t) {
  w.out += "  ";
  put_int(w.out, t / 86400);
  for (int part : {t / 3600 % 24, t / 60 % 60, t % 60}) {
    w.out += part < 10 ? ":0" : ":";
    put_int(w.out, part);
  }
}

void read_lumen_zero_gage(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  rd_time(r, kDhms, 8640000, [&r](int32_t seconds) { r.info.lumenInfo->zeroGagePeriod = seconds; });
}

void write_lumen_zero_gage(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_days(w, w.info.lumenInfo->zeroGagePeriod);
  end_line(w);
}

void read_lumen_temperature(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  const int parts =
      rd_time(r, kDhms, 8640000, [&r](int32_t seconds) { r.info.lumenInfo->tempPeriod = seconds; });
  if (parts != 4 || !optional_number(r)) return;
  const double v = rd_real(r, 0, 5);
  if (r.status == 0) r.info.lumenInfo->tempValue = v;
}

void write_lumen_temperature(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_days(w, w.info.lumenInfo->tempPeriod);
  w.out += "   ";
  put_num(w.out, w.info.lumenInfo->tempValue, Fmt{'f', 2});
  end_line(w);
}

bool lumen_log_limits_set(const sb_lumen_info_t& l) {
  return l.logLimit1 != 1000000 || l.logLimit2 != 500000;
}

void read_lumen_log(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  sb_lumen_info_t& l = *r.info.lumenInfo;
  std::string name = rd_word(r);
  if (r.status != 0) return;
  l.logFile = std::move(name);
  for (int32_t* limit : {&l.logLimit1, &l.logLimit2}) {
    if (!optional_number(r)) return;
    const double v = rd_real(r, 0, 2147483647);
    if (r.status != 0) return;
    *limit = static_cast<int32_t>(v);
  }
}

void write_lumen_log(Writer& w, const Line& row) {
  const sb_lumen_info_t& l = *w.info.lumenInfo;
  put_keyword(w, row.name);
  put_value_text(w, l.logFile);
  if (lumen_log_limits_set(l)) {
    put_value(w, l.logLimit1);
    put_value(w, l.logLimit2);
  }
  end_line(w);
}

}  // namespace felbrin::cal::grammar
