// The keyword lines of the calibration file, each described once: the words
// that begin it, its values (kind, bounds, scale, written format), the field
// they fill, the validation flag it sets and when the writer writes it. The
// lines whose form does not fit that pattern have a read and a write function
// of their own in the same row, in cal_lines_*.cpp by keyword family; this
// file holds the helpers every row uses and the table.
#include "instrument/calibration/cal_grammar.h"

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

namespace felbrin::cal {
namespace grammar {

// ------------------------------------------------------------ reading

bool fail(Reader& r, int code, const char* message) {
  if (message != nullptr) sb_calError("%s", message);
  r.status = code;
  return false;
}

int32_t rd_int(Reader& r, double lo, double hi) {
  return sb_readInt(r.src, &r.status, static_cast<int32_t>(lo), static_cast<int32_t>(hi));
}
double rd_real(Reader& r, double lo, double hi) { return sb_readReal(r.src, &r.status, lo, hi); }
std::string rd_word(Reader& r) {
  std::optional<std::string> w = sb_readWord(r.src, &r.status);
  return w ? std::move(*w) : std::string();
}
int peek(Reader& r) { return sb_peekClass(r.src, &r.status); }

// True when an optional number follows; another item is an error.
bool optional_number(Reader& r, bool silent) {
  if (r.status != 0) return false;
  const int c = peek(r);
  if (c == CAL_CLASS_END) return false;
  if (c == CAL_CLASS_NUMBER) return true;
  return fail(r, kSyntax, silent ? nullptr : "Expected number.");
}

// True when a number follows on this line.
bool expect_number(Reader& r) {
  if (r.status != 0) return false;
  if (peek(r) == CAL_CLASS_NUMBER) return true;
  return fail(r, kSyntax, "Expected number.");
}

// True when an optional word (starting with a letter) follows.
bool optional_word(Reader& r) {
  if (r.status != 0) return false;
  const int c = peek(r);
  if (c == CAL_CLASS_END) return false;
  if (c == CAL_CLASS_LETTER) return true;
  return fail(r, kSyntax, "Expected non-numeric string.");
}

// The next word as a keyword that must be one of `e`'s words; -1 with the
// status set otherwise. `quiet` lines fail without a message of their own.
int32_t rd_name(Reader& r, const EnumDesc& e, bool quiet) {
  if (r.status != 0) return -1;
  const int32_t token = sb_readKeyword(r.src, &r.status);
  if (r.status != 0) return -1;  // a word not in the table, reported
  const char* message = "Unexpected token.";
  if (token == TOK_EOL) message = "Unexpected end-of-line.";
  if (token == TOK_EOF) message = "Unexpected end-of-file.";
  if (token != TOK_EOL && token != TOK_EOF) {
    if (std::optional<int32_t> v = value_of(e, token)) return *v;
  }
  fail(r, kSyntax, quiet ? nullptr : message);
  return -1;
}

bool make_owner(Reader& r, Owner owner) {
  switch (owner) {
    case Owner::record: return true;
    case Owner::pifoc: return make(r, r.info.pifoc);
    case Owner::enc_zoom: return make(r, r.info.encZoom);
    case Owner::lumen: return make(r, r.info.lumenInfo);
  }
  return true;
}

bool has_owner(const sysInfo_t& s, Owner owner) {
  switch (owner) {
    case Owner::record: return true;
    case Owner::pifoc: return s.pifoc != nullptr;
    case Owner::enc_zoom: return s.encZoom != nullptr;
    case Owner::lumen: return s.lumenInfo != nullptr;
  }
  return true;
}

// Reads one listed value into its field.
void read_value(Reader& r, const Num& n, Ref field) {
  switch (n.kind) {
    case Kind::integer: {
      const int32_t v = rd_int(r, n.lo, n.hi);
      if (r.status == 0) field.set(v * n.scale);
      break;
    }
    case Kind::real: {
      const double v = sb_readRealEx(r.src, &r.status, n.lo, n.hi, !n.lo_open, !n.hi_open);
      if (r.status == 0) field.set(v * n.scale);
      break;
    }
    case Kind::word: {
      std::string w = rd_word(r);
      if (r.status == 0) field.text() = std::move(w);
      break;
    }
    case Kind::none: break;
  }
}

// The values of a row as listed: optional values only while the line goes
// on with a number, and a value that follows an optional one is required.
void read_listed(Reader& r, const Line& row) {
  if (!make_owner(r, row.owner)) return;
  const int count = row.count();
  for (int i = 0; i < count; ++i) {
    const Num& n = row.nums[static_cast<std::size_t>(i)];
    if (n.optional && !optional_number(r)) return;
    if (n.expect && !expect_number(r)) return;
    read_value(r, n, row.field(r.info, i));
    if (r.status != 0) return;
  }
  if (row.flag >= 0) row.field(r.info, 0).set(row.flag);
  r.seen |= row.seen;
}

// Reads '[' a ',' b ']' into a and b. A range error reports itself; any
// other failure is "Syntax error.".
bool rd_item(Reader& r, const Num& first, const Num& second, double& a, double& b) {
  auto punctuation = [&r](int32_t expected) {
    const int32_t token = sb_readKeyword(r.src, &r.status);
    if (r.status == 0 && token == expected) return true;
    r.status = 0;
    return fail(r, kSyntax, "Syntax error.");
  };
  auto number = [&r](const Num& n, double& out) {
    out = n.kind == Kind::integer ? rd_int(r, n.lo, n.hi) : rd_real(r, n.lo, n.hi);
    if (r.status == 0) return true;
    if (r.status != kRange) {
      r.status = 0;
      fail(r, kSyntax, "Syntax error.");
    }
    return false;
  };
  return punctuation(TOK_LBRACKET) && number(first, a) && punctuation(TOK_COMMA) &&
         number(second, b) && punctuation(TOK_RBRACKET);
}

// ------------------------------------------------------------ writing

void put_int(std::string& out, int64_t v) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// A number as printf would write it with the row's conversion; never through
// the C runtime, whose float output differs between platforms.
void put_num(std::string& out, double v, Fmt f) {
  char buf[400];
  char* end = buf;
  if (f.conv == 'd') {
    end = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v)).ptr;
  } else if (f.conv == 'f') {
    end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, f.prec < 0 ? 6 : f.prec)
              .ptr;
  } else {
    end =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, f.prec < 0 ? 6 : f.prec)
            .ptr;
  }
  const auto length = static_cast<std::size_t>(end - buf);
  if (f.width > 0 && length < static_cast<std::size_t>(f.width)) {
    out.append(static_cast<std::size_t>(f.width) - length, ' ');
  }
  out.append(buf, length);
}

// Whether a text reads back as itself when written without quotes.
bool bare_safe(std::string_view t) {
  if (t.empty() || t.size() > 81) return false;
  if (std::string_view("#,:[]\"").find(t.front()) != std::string_view::npos) return false;
  return t.find_first_of(" \t\"\r\n") == std::string_view::npos;
}

// A text value: bare when that reads back the same, else in double quotes.
void put_text(std::string& out, std::string_view t) {
  if (bare_safe(t)) {
    out += t;
    return;
  }
  out += '"';
  out += t;
  out += '"';
}

void end_line(Writer& w) { w.out += plat::kLineEnd; }

// The keyword left-justified in its field.
void put_keyword(Writer& w, std::string_view keyword) {
  w.out += keyword;
  if (keyword.size() < kKeywordField) w.out.append(kKeywordField - keyword.size(), ' ');
}

// Appends "  " and a value.
void put_value(Writer& w, double v, Fmt f) {
  w.out += "  ";
  put_num(w.out, v, f);
}
void write_fault(Writer& w, int code, const char* message) {
  sb_calWriteError("%s", message);
  w.result = code;
}

void put_value_text(Writer& w, std::string_view t) {
  // The reader drops a carriage return inside a text, ends it at a quote
  // and a line at a line feed: such a text would not read back as written.
  if (t.find_first_of("\r\n\"") != std::string_view::npos)
    write_fault(w, ERR_SB_CALFILE_INCONSISTENT, "A text value holds a quote or a line end.");
  w.out += "  ";
  put_text(w.out, t);
}

sysInfo_t& mutable_info(Writer& w) { return const_cast<sysInfo_t&>(w.info); }

// The row's values as listed.
void write_listed(Writer& w, const Line& row) {
  const int count = row.count();
  if (count == 0) {
    w.out += row.name;  // a keyword alone has no field width
    end_line(w);
    return;
  }
  put_keyword(w, row.name);
  for (int i = 0; i < count; ++i) {
    const Num& n = row.nums[static_cast<std::size_t>(i)];
    const Ref field = row.field(mutable_info(w), i);
    if (n.kind == Kind::word) {
      put_value_text(w, field.text());
    } else {
      double v = field.get() / n.scale;
      // A bound that single precision cannot hold (2147483647 becomes
      // 2147483648) is written as the bound, which reads back to the same
      // stored value.
      if (n.kind == Kind::real && std::isfinite(v)) v = std::clamp(v, n.lo, n.hi);
      put_value(w, v, n.fmt);
    }
  }
  end_line(w);
}

// ------------------------------------------------------------ shared predicates

bool always_writes_mags(int32_t sys) {
  return is_one_of(sys, {SYS_DUNE, SYS_COBALT, SYS_EMBER, SYS_LUMEN});
}

bool pifoc_writes_scale(int32_t sys) {
  return is_one_of(sys, {SYS_BIRCH3, SYS_BIRCH5, SYS_BIRCH7, SYS_BIRCH10, SYS_BIRCH9, SYS_LUMEN});
}

bool writes_llc_target(const sysInfo_t& s) {
  return s.llcTarget != 150 || needs_llc_target(s.instrBdType, s.systemType) ||
         is_one_of(s.systemType,
                   {SYS_KITE, SYS_ALDER2, SYS_GLENCAN, SYS_GLEN, SYS_HERON, SYS_HERON_CAN,
                    SYS_KITECAN, SYS_ALDER4, SYS_IRIS_CAN, SYS_KITE2, SYS_KITE2CAN});
}

bool lumen_block(const sysInfo_t& s) { return s.systemType == SYS_LUMEN && s.lumenInfo != nullptr; }

}  // namespace grammar

using namespace grammar;

namespace {

// ------------------------------------------------------------ the table

void read_remote(Reader& r, const Line&);

// Accessors of the fields of listed lines.
Ref f_unit(sysInfo_t& s, int) { return &s.unit; }
Ref f_instr_name(sysInfo_t& s, int) { return &s.instrName; }
Ref f_instr_comm(sysInfo_t& s, int) { return &s.instrComm; }
Ref f_camera_dark(sysInfo_t& s, int) { return &s.cameraDark; }
Ref f_camera_options(sysInfo_t& s, int) { return &s.cameraOptions; }
Ref f_camera_pll(sysInfo_t& s, int) { return &s.pllFlag; }
Ref f_ramp_config(sysInfo_t& s, int) { return &s.rampConfigFile; }
Ref f_llc_target(sysInfo_t& s, int) { return &s.llcTarget; }
Ref f_llc_freq(sysInfo_t& s, int) { return &s.lightSource[0].freq; }
Ref f_llc_options(sysInfo_t& s, int) { return &s.llcOptions; }
Ref f_pzt_power(sysInfo_t& s, int) { return &s.pztPower; }
Ref f_adc_clock(sysInfo_t& s, int) { return &s.adcClock; }
Ref f_pifoc_polarity(sysInfo_t& s, int) { return &s.pifocPolarity; }
Ref f_pifoc_type(sysInfo_t& s, int) { return &s.pifoc->type; }
Ref f_scan_cal(sysInfo_t& s, int i) { return &s.scanCal[i]; }
Ref f_zoom(sysInfo_t& s, int) { return &s.zoom; }
Ref f_use_dual_brush(sysInfo_t& s, int) { return &s.useDualBrushMotor; }
Ref f_use_laps(sysInfo_t& s, int) { return &s.useLaps; }
Ref f_use_wand(sysInfo_t& s, int) { return &s.useWand; }
Ref f_use_focus_ndw(sysInfo_t& s, int) { return &s.useFocusNdw; }
Ref f_use_zoom(sysInfo_t& s, int) { return &s.useZoom; }
Ref f_use_pzt(sysInfo_t& s, int) { return &s.usePzt; }
Ref f_ring_spot(sysInfo_t& s, int) { return &s.ringSpot; }
Ref f_diff_disk_rate(sysInfo_t& s, int) { return &s.diffDiskRate; }
Ref f_diff_disk_fraction(sysInfo_t& s, int) { return &s.diffDiskFraction; }
Ref f_x_backlash(sysInfo_t& s, int) { return Ref::single(&s.xAxisBacklash); }
Ref f_y_backlash(sysInfo_t& s, int) { return Ref::single(&s.yAxisBacklash); }
Ref f_z_cal(sysInfo_t& s, int) { return &s.zAxisCal; }
Ref f_z_backlash(sysInfo_t& s, int) { return Ref::single(&s.zAxisBacklash); }
Ref f_z_encoder(sysInfo_t& s, int) { return &s.zEncoder; }
Ref f_z_can_closed_loop(sysInfo_t& s, int) { return &s.zCanClosedLoop; }
Ref f_rad_foc(sysInfo_t& s, int) { return &s.radCrvFocCal; }
Ref f_rad_pwr(sysInfo_t& s, int) { return &s.radCrvPwrCal; }
Ref f_invert_data(sysInfo_t& s, int) { return &s.invertData; }
Ref f_no_intens_avg(sysInfo_t& s, int) { return &s.noIntensAvg; }
Ref f_touch_screen(sysInfo_t& s, int) { return &s.touchScreen; }
Ref f_motion_ctrl(sysInfo_t& s, int i) { return &s.motionCtrl[i]; }
Ref f_pendent_menu(sysInfo_t& s, int) { return &s.pendentMenu; }
Ref f_wm_comm(sysInfo_t& s, int) { return &s.wmComm; }
Ref f_wm_sys_gain(sysInfo_t& s, int) { return &s.wmSysGain; }
Ref f_wm_mon_opd(sysInfo_t& s, int) { return &s.wmMonOpd; }
Ref f_wm_tune_range(sysInfo_t& s, int i) { return i == 0 ? &s.wmTuneRangeMax : &s.wmTuneRangeMin; }
Ref f_wm_tune_rate(sysInfo_t& s, int i) { return i == 0 ? &s.wmTuneRateMax : &s.wmTuneRateMin; }
Ref f_lumensi_invert(sysInfo_t& s, int) { return &s.lumensiInvertData; }
Ref f_abs_wave_meter(sysInfo_t& s, int i) {
  return i == 0 ? Ref(&s.absWaveMeter) : Ref(&s.absWaveMeterText);
}
Ref f_zoom_config(sysInfo_t& s, int) { return &s.encZoom->config; }
Ref f_zoom_backlash(sysInfo_t& s, int) { return &s.encZoom->backlash; }
Ref f_zoom_prog_lim(sysInfo_t& s, int i) { return &s.encZoom->progLim[i]; }
Ref f_zoom_wand_lim(sysInfo_t& s, int i) { return &s.encZoom->wandLim[i]; }
Ref f_zoom_cal_file(sysInfo_t& s, int) { return &s.encZoom->calFile; }
Ref f_lumen_materials(sysInfo_t& s, int) { return &s.lumenInfo->materialsFile; }
Ref f_lumen_sys(sysInfo_t& s, int i) { return &s.lumenInfo->sysConst[i]; }
Ref f_lumen_dmi_scale(sysInfo_t& s, int) { return &s.lumenInfo->dmiScale; }
Ref f_lumen_image_rot(sysInfo_t& s, int) { return &s.lumenInfo->imageRot; }
template <int Axis>
Ref f_axis_comp(sysInfo_t& s, int) {
  return &s.axisCompFile[Axis];
}

// Write conditions.
bool always(const sysInfo_t&) { return true; }
bool w_instr_name(const sysInfo_t& s) { return !s.instrName.empty(); }
bool w_unit(const sysInfo_t& s) { return s.unit != 0; }
bool w_mac(const sysInfo_t& s) { return s.instrBdType == BD_CAN; }
// Boards that must name their link get the line even with an empty text
// (written as ""), which the validation counts as given.
bool w_instr_comm(const sysInfo_t& s) {
  return s.instrBdType != BD_CAN &&
         (!s.instrComm.empty() || !is_one_of(s.instrBdType, {BD_NONE, BD_DUNE, BD_NOTNEEDED}));
}
// Lines of several values are written when any of them is set: a first
// value left empty ("") must not take the others with it.
bool w_camera_file(const sysInfo_t& s) {
  return std::any_of(std::begin(s.cameraFile), std::end(s.cameraFile),
                     [](const std::string& f) { return !f.empty(); });
}
bool w_camera_config(const sysInfo_t& s) {
  return s.cameraType == CAM_CUSTOM &&
         is_one_of(s.instrBdType, {BD_SABLE, BD_LUMEN, BD_KITE, BD_IRIS});
}
bool w_camera_dark(const sysInfo_t& s) { return s.cameraDark > 0; }
bool w_camera_align(const sysInfo_t& s) { return s.cameraAlign != 0; }
bool w_camera_bpix(const sysInfo_t& s) {
  return bad_pixel_count(s) == 0 && (s.badPixelMode != 0 || !s.badPixelFile.empty());
}
bool w_bad_pixels(const sysInfo_t& s) { return bad_pixel_count(s) > 0; }
bool w_camera_options(const sysInfo_t& s) { return s.cameraOptions != 0; }
bool w_ramp_config(const sysInfo_t& s) {
  return !s.rampConfigFile.empty() && s.rampConfigFile != SB_DEFAULT_RAMP_CONFIG;
}
bool w_llc_instr(const sysInfo_t& s) { return s.llcInstr != 0; }
bool w_llc_freq(const sysInfo_t& s) {
  return s.lightType == LIGHT_LED || s.lightSource[0].freq != 35000;
}
bool w_llc_options(const sysInfo_t& s) { return s.llcOptions != 0; }
bool w_pzt_power(const sysInfo_t& s) { return s.pztPower >= 0; }
bool w_adc_clock(const sysInfo_t& s) { return s.adcClock != 0; }
bool w_pifoc(const sysInfo_t& s) { return s.pifoc != nullptr; }
bool w_pifoc_polarity(const sysInfo_t& s) { return s.pifocPolarity != 0; }
bool w_pifoc_type(const sysInfo_t& s) { return s.pifoc->type != 0; }
bool w_split(const sysInfo_t& s) { return s.splitAxis == SPLIT_X || s.splitAxis == SPLIT_Y; }
bool w_lumen_materials(const sysInfo_t& s) {
  return lumen_block(s) && !s.lumenInfo->materialsFile.empty();
}
bool w_lumen_log(const sysInfo_t& s) {
  return lumen_block(s) && (!s.lumenInfo->logFile.empty() || lumen_log_limits_set(*s.lumenInfo));
}
bool w_turret(const sysInfo_t& s) { return s.turret != 0 || s.turret2 != 5; }
bool w_zoom(const sysInfo_t& s) { return s.zoom != 0; }
bool w_no_dual_brush(const sysInfo_t& s) { return s.useDualBrushMotor == 0; }
bool w_no_laps(const sysInfo_t& s) { return s.useLaps == 0; }
bool w_no_wand(const sysInfo_t& s) { return s.useWand == 0; }
bool w_no_focus_ndw(const sysInfo_t& s) { return s.useFocusNdw == 0; }
bool w_no_zoom(const sysInfo_t& s) { return s.useZoom == 0; }
bool w_no_pzt(const sysInfo_t& s) { return s.usePzt == 0; }
bool w_ring_spot(const sysInfo_t& s) { return s.ringSpot == 1; }
bool w_diff_disk_rate(const sysInfo_t& s) { return s.diffDiskRate != -1; }
bool w_diff_disk_fraction(const sysInfo_t& s) { return s.diffDiskFraction != 0.85f; }
bool w_x_backlash(const sysInfo_t& s) { return s.xAxisBacklash != 0; }
bool w_y_backlash(const sysInfo_t& s) { return s.yAxisBacklash != 0; }
bool w_z_cal(const sysInfo_t& s) { return s.zAxisCal != 0 && s.zAxisCal != 1; }
bool w_z_backlash(const sysInfo_t& s) { return s.zAxisBacklash != 5; }
bool w_z_encoder(const sysInfo_t& s) { return s.zEncoder != 0; }
bool w_z_can_closed_loop(const sysInfo_t& s) { return s.zCanClosedLoop != 0; }
bool w_rad_foc(const sysInfo_t& s) { return s.systemType == SYS_EMBER || s.radCrvFocCal != 1.0f; }
bool w_rad_pwr(const sysInfo_t& s) { return s.systemType == SYS_EMBER || s.radCrvPwrCal != 1.0f; }
bool w_invert_data(const sysInfo_t& s) {
  return s.invertData != 0 || is_one_of(s.systemType, {SYS_DUNE, SYS_LUMEN, SYS_EMBER});
}
bool w_no_intens_avg(const sysInfo_t& s) { return s.noIntensAvg != 0; }
bool w_touch_screen(const sysInfo_t& s) { return s.touchScreen != 0; }
bool w_motion_ctrl(const sysInfo_t& s) {
  return !s.motionCtrl[0].empty() || !s.motionCtrl[1].empty();
}
bool w_pos_instr(const sysInfo_t& s) { return s.posInstr != 0; }
bool w_temp_sensor(const sysInfo_t& s) { return s.tempSensor != 0; }
bool w_pendent_menu(const sysInfo_t& s) { return !s.pendentMenu.empty(); }
template <int Axis>
bool w_axis_comp(const sysInfo_t& s) {
  return !s.axisCompFile[Axis].empty();
}
template <int Axis>
bool w_pid(const sysInfo_t& s) {
  return s.pid[Axis] != nullptr;
}
bool w_wm_comm(const sysInfo_t& s) {
  return !s.wmComm.empty() || s.systemType == SYS_HERON || s.systemType == SYS_HERON_CAN;
}
bool w_wm_sys_gain(const sysInfo_t& s) { return s.wmSysGain > 0; }
bool w_wm_mon_opd(const sysInfo_t& s) {
  return s.wmMonOpd > 0 || s.systemType == SYS_HERON || s.systemType == SYS_HERON_CAN;
}
// A maximum of 0 given with a minimum is kept too.
bool w_wm_tune_range(const sysInfo_t& s) {
  return std::isfinite(s.wmTuneRangeMax) && (s.wmTuneRangeMax > 0 || s.wmTuneRangeMin != 0);
}
bool w_wm_tune_rate(const sysInfo_t& s) {
  return std::isfinite(s.wmTuneRateMax) && (s.wmTuneRateMax > 0 || s.wmTuneRateMin != 0);
}
bool w_lumensi_invert(const sysInfo_t& s) { return s.lumensiInvertData != 0; }
bool w_abs_wave_meter(const sysInfo_t& s) {
  return s.absWaveMeter != 0 || !s.absWaveMeterText.empty();
}
bool w_dyn_wave_gen(const sysInfo_t& s) { return s.dynWaveGen != nullptr; }
bool w_zoom_backlash(const sysInfo_t& s) { return s.encZoom->backlash != 0; }
bool w_zoom_prog_lim(const sysInfo_t& s) {
  return s.encZoom->progLim[0] > 0 || s.encZoom->progLim[1] > 0;
}
bool w_zoom_wand_lim(const sysInfo_t& s) {
  return s.encZoom->wandLim[0] > 0 || s.encZoom->wandLim[1] > 0;
}
bool w_zoom_std_mags(const sysInfo_t& s) { return s.encZoom->stdMagCount > 0; }
bool w_zoom_cal_file(const sysInfo_t& s) { return !s.encZoom->calFile.empty(); }
bool w_sleep_timeout(const sysInfo_t& s) { return s.sleepTimeout != 14400; }

constexpr Num kWmValue = R(0, 2147483647, kF);
constexpr Num kTune = R(0, 2147483647, kF3).scaled(1e9);

// Every line, in the order the writer writes them. Lines the writer never
// writes stand where they belong by topic.
// One row a line, as the file reads; kept as written.
// clang-format off
const Line kLines[] = {
    {.name = "# Trel System Calibration File", .when = always},
    {.name = "InstrName", .first = TOK_INSTRNAME, .nums = {W()}, .field = f_instr_name, .when = w_instr_name,
     .write = write_instr_name},
    {.name = "Unit", .first = TOK_UNIT, .nums = {I(0, 7)}, .field = f_unit, .when = w_unit},
    // The system line begins with its system type word (see apply_rule).
    {.name = "", .when = always, .write = write_system},
    {.name = "Version", .first = TOK_VERSION, .seen = SEEN_VERSION, .when = always, .read = read_version,
     .write = write_version},
    {.name = "MacAddress", .first = TOK_MACADDRESS, .seen = SEEN_INSTRCOMM, .when = w_mac,
     .read = read_mac_address, .write = write_mac_address},
    {.name = "InstrComm", .first = TOK_INSTRCOMM, .nums = {W()}, .field = f_instr_comm, .seen = SEEN_INSTRCOMM,
     .when = w_instr_comm},
    {.name = "Camera Type", .first = TOK_CAMERA, .second = TOK_TYPE, .when = always, .read = read_camera_type,
     .write = write_camera_type},
    {.name = "Camera File", .first = TOK_CAMERA, .second = TOK_FILE, .when = w_camera_file,
     .read = read_camera_file, .write = write_camera_file},
    {.name = "Camera Config", .first = TOK_CAMERA, .second = TOK_CONFIG, .when = w_camera_config,
     .read = read_camera_config, .write = write_camera_config},
    {.name = "Camera Dark", .first = TOK_CAMERA, .second = TOK_DARK, .nums = {I(0, 32767)},
     .field = f_camera_dark, .when = w_camera_dark},
    {.name = "Camera Align", .first = TOK_CAMERA, .second = TOK_ALIGN, .when = w_camera_align,
     .read = read_camera_align, .write = write_camera_align},
    {.name = "Camera Bpix", .first = TOK_CAMERA, .second = TOK_BPIX, .when = w_camera_bpix,
     .read = read_camera_bpix, .write = write_camera_bpix},
    {.name = "Camera BPixels", .first = TOK_CAMERA, .second = TOK_BAD, .second_alt = TOK_BPIXELS,
     .when = w_bad_pixels, .read = read_bad_pixels, .write = write_bad_pixels},
    {.name = "Camera Options", .first = TOK_CAMERA, .second = TOK_OPTIONS, .nums = {I(0, 268435455)},
     .field = f_camera_options, .when = w_camera_options},
    {.name = "Camera PLL", .first = TOK_CAMERA, .second = TOK_PLL, .nums = {I(0, 1)}, .field = f_camera_pll},
    {.name = "Camera Period", .first = TOK_CAMERA, .second = TOK_PERIOD},
    {.name = "Ramp Config", .first = TOK_RAMP, .second = TOK_CONFIG, .nums = {W()}, .field = f_ramp_config,
     .when = w_ramp_config},
    {.name = "Light", .first = TOK_LIGHT, .when = always, .read = read_light, .write = write_light},
    {.name = "LLC Instr", .first = TOK_LLC, .second = TOK_INSTR, .when = w_llc_instr, .read = read_llc_instr,
     .write = write_llc_instr},
    {.name = "LLC Range", .first = TOK_LLC, .second = TOK_RANGE, .when = always, .read = read_llc_range,
     .write = write_llc_range},
    {.name = "LLC Config", .first = TOK_LLC, .second = TOK_CONFIG, .when = always, .read = read_llc_config,
     .write = write_llc_config},
    {.name = "LLC Freq", .first = TOK_LLC, .second = TOK_FREQ, .nums = {I(0, 1000000)}, .field = f_llc_freq,
     .when = w_llc_freq, .read = read_llc_freq},
    {.name = "LLC Target", .first = TOK_LLC, .second = TOK_TARGET, .nums = {I(64, 255)}, .field = f_llc_target,
     .seen = SEEN_LLCTARGET, .when = writes_llc_target},
    {.name = "LLC Options", .first = TOK_LLC, .second = TOK_OPTIONS, .nums = {I(0, 268435455)},
     .field = f_llc_options, .when = w_llc_options},
    {.name = "LLC AvgCurLimit", .first = TOK_LLC, .second = TOK_AVGCURLIMIT, .when = always,
     .read = read_llc_pairs, .write = write_llc_pairs},
    {.name = "LLC FwdVoltage", .first = TOK_LLC, .second = TOK_FWDVOLTAGE, .when = always,
     .read = read_llc_pairs, .write = write_llc_pairs},
    {.name = "LLC AlignModePct", .first = TOK_LLC, .second = TOK_ALIGNMODEPCT, .read = read_llc_align},
    {.name = "PztPwr", .first = TOK_PZTPWR, .nums = {I(-1, 1000)}, .field = f_pzt_power, .when = w_pzt_power},
    {.name = "ADC Clock", .first = TOK_ADC, .second = TOK_CLOCK, .nums = {I(0, 511)}, .field = f_adc_clock,
     .when = w_adc_clock},
    {.name = "Pifoc", .first = TOK_PIFOC, .seen = SEEN_PIFOC, .when = w_pifoc, .read = read_pifoc,
     .write = write_pifoc},
    {.name = "PztId", .first = TOK_PZTID, .seen = SEEN_PIFOC, .read = read_pztid},
    {.name = "PifocPolarity", .first = TOK_PIFOCPOLARITY, .nums = {I(-1, 1)}, .field = f_pifoc_polarity,
     .when = w_pifoc_polarity},
    {.name = "PifocType", .first = TOK_PIFOCTYPE, .nums = {I(0, 2)}, .field = f_pifoc_type,
     .owner = Owner::pifoc, .when = w_pifoc_type},
    {.name = "SysMag", .first = TOK_SYSMAG, .when = always, .read = read_mags, .write = write_mags},
    {.name = "NomMag", .first = TOK_NOMMAG, .when = always, .read = read_mags, .write = write_mags},
    {.name = "Camera SplitX", .first = TOK_CAMERA, .second = TOK_SPLITX, .when = w_split, .read = read_split,
     .write = write_split},
    {.name = "Camera SplitY", .first = TOK_CAMERA, .second = TOK_SPLITY, .when = w_split, .read = read_split,
     .write = write_split},
    {.name = "Camera Trans", .first = TOK_CAMERA, .second = TOK_TRANS, .when = w_split,
     .read = read_camera_trans, .write = write_camera_trans},
    // The Lumen block.
    {.name = "LumenMaterials", .first = TOK_LUMENMATERIALS, .nums = {W()}, .field = f_lumen_materials,
     .owner = Owner::lumen, .when = w_lumen_materials},
    {.name = "LumenSys", .first = TOK_LUMENSYS,
     .nums = {R(0, 1, kG8), R(0, 1, kG8), R(-1, 1, kG8), R(0, 10, kG8)}, .field = f_lumen_sys,
     .owner = Owner::lumen, .when = lumen_sys_finite},
    {.name = "LumenDmiScale", .first = TOK_LUMENDMISCALE, .nums = {R(1.5, 2.5, kG8)},
     .field = f_lumen_dmi_scale, .owner = Owner::lumen, .when = lumen_block},
    {.name = "LumenImageRot", .first = TOK_LUMENIMAGEROT, .nums = {R(0, 1, kG8)},
     .field = f_lumen_image_rot, .owner = Owner::lumen, .when = lumen_block},
    {.name = "LumenZeroPtPos", .first = TOK_LUMENZEROPTPOS, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_zero_pt, .write = write_lumen_zero_pt},
    {.name = "LumenDisper", .first = TOK_LUMENDISPER, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_values, .write = write_lumen_values},
    {.name = "LumenAvg_K0", .first = TOK_LUMENAVG_K0, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_values, .write = write_lumen_values},
    {.name = "LumenDmiCenter", .first = TOK_LUMENDMICENTER, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_centre, .write = write_lumen_centre},
    {.name = "LumenTiltCenter", .first = TOK_LUMENTILTCENTER, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_centre, .write = write_lumen_centre},
    {.name = "LumenZeroGagePer", .first = TOK_LUMENZEROGAGEPER, .first_alt = TOK_LUMENSYSINITPER,
     .owner = Owner::lumen, .when = lumen_block, .read = read_lumen_zero_gage, .write = write_lumen_zero_gage},
    {.name = "LumenTemperature", .first = TOK_LUMENTEMPERATURE, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_temperature, .write = write_lumen_temperature},
    {.name = "LumenLog", .first = TOK_LUMENLOG, .owner = Owner::lumen, .when = w_lumen_log,
     .read = read_lumen_log, .write = write_lumen_log},
    {.name = "ScanCal", .first = TOK_SCANCAL, .nums = {R(0.85, 1.15), R(0.85, 1.15).opt()}, .field = f_scan_cal,
     .when = always, .write = write_scan_cal},
    {.name = "Turret", .first = TOK_TURRET, .when = w_turret, .read = read_turret, .write = write_turret},
    {.name = "Zoom", .first = TOK_ZOOM, .nums = {I(0, 255)}, .field = f_zoom, .when = w_zoom},
    {.name = "IgnoreDualBrushMotor", .first = TOK_IGNOREDUALBRUSHMOTOR, .field = f_use_dual_brush,
     .when = w_no_dual_brush, .flag = 0},
    {.name = "IgnoreLAPS", .first = TOK_IGNORELAPS, .field = f_use_laps, .when = w_no_laps, .flag = 0},
    {.name = "IgnoreWand", .first = TOK_IGNOREWAND, .field = f_use_wand, .when = w_no_wand, .flag = 0},
    {.name = "IgnoreFocusNDW", .first = TOK_IGNOREFOCUSNDW, .field = f_use_focus_ndw, .when = w_no_focus_ndw,
     .flag = 0},
    {.name = "IgnoreZoom", .first = TOK_IGNOREZOOM, .field = f_use_zoom, .when = w_no_zoom, .flag = 0},
    {.name = "IgnorePZT", .first = TOK_IGNOREPZT, .field = f_use_pzt, .when = w_no_pzt, .flag = 0},
    {.name = "RingSpot", .first = TOK_RINGSPOT, .field = f_ring_spot, .when = w_ring_spot,
     .read = read_ring_spot},
    {.name = "DiffDiskRate", .first = TOK_DIFFDISKRATE, .nums = {R(10, 80)}, .field = f_diff_disk_rate,
     .when = w_diff_disk_rate},
    {.name = "DiffDiskFraction", .first = TOK_DIFFDISKFRACTION, .nums = {R(0, 2).open_below()},
     .field = f_diff_disk_fraction, .when = w_diff_disk_fraction},
    {.name = "XAxisBacklash", .first = TOK_XAXISBACKLASH, .nums = {R(0, 1000)}, .field = f_x_backlash,
     .when = w_x_backlash},
    {.name = "YAxisBacklash", .first = TOK_YAXISBACKLASH, .nums = {R(0, 1000)}, .field = f_y_backlash,
     .when = w_y_backlash},
    {.name = "ZAxisCal", .first = TOK_ZAXISCAL, .nums = {R(0.85, 1.15)}, .field = f_z_cal, .when = w_z_cal},
    {.name = "ZAxisBacklash", .first = TOK_ZAXISBACKLASH, .nums = {R(0, 100)}, .field = f_z_backlash,
     .when = w_z_backlash},
    {.name = "ZEncoder", .first = TOK_ZENCODER, .nums = {I(0, 1)}, .field = f_z_encoder, .when = w_z_encoder},
    {.name = "ZCanClosedLoop", .first = TOK_ZCANCLOSEDLOOP, .nums = {I(0, 1)}, .field = f_z_can_closed_loop,
     .when = w_z_can_closed_loop},
    {.name = "SdcCal", .first = TOK_SDCCAL, .when = always, .read = read_sdc_cal, .write = write_sdc_cal},
    {.name = "RadCrvFocCal", .first = TOK_RADCRVFOCCAL, .nums = {R(-100, 100)}, .field = f_rad_foc,
     .when = w_rad_foc},
    {.name = "RadCrvPwrCal", .first = TOK_RADCRVPWRCAL, .nums = {R(-100, 100)}, .field = f_rad_pwr,
     .when = w_rad_pwr},
    {.name = "InvertData", .first = TOK_INVERTDATA, .nums = {I(0, 255)}, .field = f_invert_data,
     .seen = SEEN_INVERTDATA, .when = w_invert_data},
    {.name = "NoIntensAvg", .first = TOK_NOINTENSAVG, .field = f_no_intens_avg, .when = w_no_intens_avg,
     .flag = 1},
    {.name = "TouchScreen", .first = TOK_TOUCHSCREEN, .field = f_touch_screen, .when = w_touch_screen,
     .flag = 1},
    {.name = "MotionCtrl", .first = TOK_MOTIONCTRL, .nums = {W(), W()}, .field = f_motion_ctrl,
     .when = w_motion_ctrl},
    {.name = "PosInstr", .first = TOK_POSINSTR, .when = w_pos_instr, .read = read_pos_instr,
     .write = write_pos_instr},
    {.name = "TempSensor", .first = TOK_TEMPSENSOR, .when = w_temp_sensor, .read = read_temp_sensor,
     .write = write_temp_sensor},
    {.name = "PendentMenu", .first = TOK_PENDENTMENU, .nums = {W()}, .field = f_pendent_menu,
     .when = w_pendent_menu},
    {.name = "AxisComp_A", .first = TOK_AXISCOMP_A, .nums = {W()}, .field = f_axis_comp<0>, .when = w_axis_comp<0>},
    {.name = "AxisComp_B", .first = TOK_AXISCOMP_B, .nums = {W()}, .field = f_axis_comp<1>, .when = w_axis_comp<1>},
    {.name = "AxisComp_P", .first = TOK_AXISCOMP_P, .nums = {W()}, .field = f_axis_comp<2>, .when = w_axis_comp<2>},
    {.name = "AxisComp_R", .first = TOK_AXISCOMP_R, .nums = {W()}, .field = f_axis_comp<3>, .when = w_axis_comp<3>},
    {.name = "AxisComp_T", .first = TOK_AXISCOMP_T, .nums = {W()}, .field = f_axis_comp<4>, .when = w_axis_comp<4>},
    {.name = "AxisComp_X", .first = TOK_AXISCOMP_X, .nums = {W()}, .field = f_axis_comp<5>, .when = w_axis_comp<5>},
    {.name = "AxisComp_Y", .first = TOK_AXISCOMP_Y, .nums = {W()}, .field = f_axis_comp<6>, .when = w_axis_comp<6>},
    {.name = "AxisComp_Z", .first = TOK_AXISCOMP_Z, .nums = {W()}, .field = f_axis_comp<7>, .when = w_axis_comp<7>},
    {.name = "PidVals_A", .first = TOK_PIDVALS_A, .when = w_pid<0>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_B", .first = TOK_PIDVALS_B, .when = w_pid<1>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_P", .first = TOK_PIDVALS_P, .when = w_pid<2>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_R", .first = TOK_PIDVALS_R, .when = w_pid<3>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_T", .first = TOK_PIDVALS_T, .when = w_pid<4>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_X", .first = TOK_PIDVALS_X, .when = w_pid<5>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_Y", .first = TOK_PIDVALS_Y, .when = w_pid<6>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_Z", .first = TOK_PIDVALS_Z, .when = w_pid<7>, .read = read_pid, .write = write_pid},
    {.name = "wmComm", .first = TOK_WMCOMM, .nums = {W()}, .field = f_wm_comm, .seen = SEEN_WMCOMM,
     .when = w_wm_comm},
    {.name = "wmSysGain", .first = TOK_WMSYSGAIN, .nums = {kWmValue}, .field = f_wm_sys_gain,
     .seen = SEEN_WMSYSGAIN, .when = w_wm_sys_gain},
    {.name = "wmMonOPD", .first = TOK_WMMONOPD, .nums = {kWmValue}, .field = f_wm_mon_opd,
     .seen = SEEN_WMMONOPD, .when = w_wm_mon_opd},
    {.name = "wmTuneRange", .first = TOK_WMTUNERANGE, .nums = {kTune, kTune.must_follow()},
     .field = f_wm_tune_range, .when = w_wm_tune_range},
    {.name = "wmTuneRate", .first = TOK_WMTUNERATE, .nums = {kTune, kTune.must_follow()},
     .field = f_wm_tune_rate, .when = w_wm_tune_rate},
    {.name = "wmMaxBuckets", .first = TOK_WMMAXBUCKETS, .read = read_max_buckets},
    {.name = "LumensiInvertData", .first = TOK_LUMENSIINVERTDATA, .nums = {I(0, 255)},
     .field = f_lumensi_invert, .when = w_lumensi_invert},
    {.name = "AbsWaveMeter", .first = TOK_ABSWAVEMETER, .nums = {I(0, 1), W()}, .field = f_abs_wave_meter,
     .when = w_abs_wave_meter},
    {.name = "DynWaveGen", .first = TOK_DYNWAVEGEN, .when = w_dyn_wave_gen, .read = read_dyn_wave_gen,
     .write = write_dyn_wave_gen},
    {.name = "KiteEncZoomConfig", .first = TOK_KITEENCZOOMCONFIG, .nums = {I(0, 255)}, .field = f_zoom_config,
     .owner = Owner::enc_zoom, .when = always},
    {.name = "KiteEncZoomBacklash", .first = TOK_KITEENCZOOMBACKLASH, .nums = {I(-1000, 1000)},
     .field = f_zoom_backlash, .owner = Owner::enc_zoom, .when = w_zoom_backlash},
    {.name = "KiteEncZoomProgLim", .first = TOK_KITEENCZOOMPROGLIM, .nums = {I(0, 60000), I(0, 60000)},
     .field = f_zoom_prog_lim, .owner = Owner::enc_zoom, .when = w_zoom_prog_lim},
    {.name = "KiteEncZoomWandLim", .first = TOK_KITEENCZOOMWANDLIM, .nums = {I(0, 60000), I(0, 60000)},
     .field = f_zoom_wand_lim, .owner = Owner::enc_zoom, .when = w_zoom_wand_lim},
    {.name = "KiteEncZoomStdMags", .first = TOK_KITEENCZOOMSTDMAGS, .owner = Owner::enc_zoom,
     .when = w_zoom_std_mags, .read = read_std_mags, .write = write_std_mags},
    {.name = "KiteEncZoomCalFile", .first = TOK_KITEENCZOOMCALFILE, .nums = {W()}, .field = f_zoom_cal_file,
     .owner = Owner::enc_zoom, .when = w_zoom_cal_file},
    {.name = "EncodedRadiusScale", .first = TOK_ENCODEDRADIUSSCALE, .when = always, .read = read_radius_scale,
     .write = write_radius_scale},
    {.name = "IntfRadiusScale", .first = TOK_INTFRADIUSSCALE, .when = always, .read = read_radius_scale,
     .write = write_radius_scale},
    {.name = "Remote", .first = TOK_REMOTE, .read = read_remote},
    {.name = "SleepTimeout", .first = TOK_SLEEPTIMEOUT, .when = w_sleep_timeout, .read = read_sleep_timeout,
     .write = write_sleep_timeout},
};
// clang-format on

std::string& remote_text() {
  static std::string text;
  return text;
}

void read_remote(Reader& r, const Line&) {
  std::string text = rd_word(r);
  if (r.status == 0) remote_text() = std::move(text);
}

bool matches(int32_t token, int32_t a, int32_t b) {
  return token >= 0 && (token == a || token == b);
}

void apply(Reader& r, const Line& row) {
  if (row.read != nullptr) {
    row.read(r, row);
  } else {
    read_listed(r, row);
  }
  if (r.status == 0) r.seen |= row.seen;
}

}  // namespace

void apply_rule(Reader& r, int32_t first) {
  if (value_of(kSystemTypes, first)) {
    read_system(r, first);
    return;
  }
  const Line* found = nullptr;
  bool two_words = false;
  for (const Line& row : kLines) {
    if (!matches(first, row.first, row.first_alt)) continue;
    if (row.second < 0) {
      found = &row;
      break;
    }
    two_words = true;
  }
  if (two_words) {
    const int32_t second = sb_readKeyword(r.src, &r.status);
    if (r.status != 0) return;  // a word not in the table, reported
    if (second == TOK_EOL || second == TOK_EOF) {
      fail(r, kSyntax, second == TOK_EOL ? "Unexpected end-of-line." : "Unexpected end-of-file.");
      return;
    }
    for (const Line& row : kLines) {
      if (matches(first, row.first, row.first_alt) && matches(second, row.second, row.second_alt)) {
        found = &row;
        break;
      }
    }
  }
  if (found == nullptr) {
    fail(r, kSyntax, "Unexpected token.");
    return;
  }
  apply(r, *found);
}

namespace {

bool writes(const sysInfo_t& s, const Line& row) {
  return row.when != nullptr && has_owner(s, row.owner) && row.when(s);
}

void write_row(Writer& w, const Line& row) {
  if (row.write != nullptr) {
    row.write(w, row);
  } else {
    write_listed(w, row);
  }
}

// The values of a line without the padding of the keyword field: blanks at
// either end go, longer runs of blanks become the usual two (not inside a
// quoted text).
std::string values_text(std::string_view line) {
  std::string out;
  bool quoted = false;
  std::size_t blanks = 0;
  for (char c : line) {
    if (c == ' ' && !quoted) {
      ++blanks;
      continue;
    }
    if (!out.empty()) out.append(std::min<std::size_t>(blanks, 2), ' ');
    blanks = 0;
    if (c == '"') quoted = !quoted;
    out.push_back(c);
  }
  return out;
}

}  // namespace

void write_lines(Writer& w) {
  for (const Line& row : kLines) {
    if (writes(w.info, row)) write_row(w, row);
  }
}

std::vector<ShownLine> shown_lines(const sysInfo_t& s) {
  std::vector<ShownLine> shown;
  for (const Line& row : kLines) {
    // The heading comment holds no value.
    if (row.name.starts_with('#') || !writes(s, row)) continue;
    Writer w{s, {}, 0};
    write_row(w, row);
    std::string_view text = w.out;
    while (!text.empty()) {
      const std::size_t end = std::min(text.find('\n'), text.size());
      std::string_view line = text.substr(0, end);
      text.remove_prefix(std::min(end + 1, text.size()));
      // The writer ends lines as the platform does.
      if (line.ends_with('\r')) line.remove_suffix(1);
      // The system line begins with its system type word, a value.
      const std::string_view keyword = row.name.empty() ? "System" : row.name;
      if (!row.name.empty() && line.starts_with(row.name)) line.remove_prefix(row.name.size());
      shown.push_back({std::string(keyword), values_text(line)});
    }
  }
  return shown;
}

std::vector<LineView> listed_lines() {
  std::vector<LineView> views;
  for (const Line& row : kLines) {
    if (row.read != nullptr || row.count() == 0 || row.first < 0) continue;
    LineView v{row.name, {}, row.when != nullptr};
    for (int i = 0; i < row.count(); ++i) {
      const Num& n = row.nums[static_cast<std::size_t>(i)];
      v.values.push_back({n.kind == Kind::integer, n.kind == Kind::word, n.lo, n.hi, n.lo_open,
                          n.hi_open, n.optional});
    }
    views.push_back(std::move(v));
  }
  return views;
}

std::string_view camera_type_name(int32_t type) { return name_of(kCameras, type); }

}  // namespace felbrin::cal

const std::string& sb_remoteText() { return felbrin::cal::remote_text(); }
