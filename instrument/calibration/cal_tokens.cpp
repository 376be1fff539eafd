// The calibration file tokenizer and its keyword table.
#include "instrument/calibration/cal_tokens.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <limits>
#include <string>
#include <system_error>

#include "common/errors.h"
#include "common/number_format.h"
#include "instrument/calibration/cal_report.h"

namespace felbrin {
namespace {

// ---------------------------------------------------------------- the table

// Every word once, grouped by where the grammar uses it; a word that serves
// in several groups stands in the first and is named in the others.
constexpr std::array<CalKeyword, 236> kWords{{
    // Punctuation
    {",", TOK_COMMA},
    {":", TOK_COLON},
    {"[", TOK_LBRACKET},
    {"]", TOK_RBRACKET},
    // Keywords that begin a line
    {"abswavemeter", TOK_ABSWAVEMETER},
    {"adc", TOK_ADC},
    {"axiscomp_a", TOK_AXISCOMP_A},
    {"axiscomp_b", TOK_AXISCOMP_B},
    {"axiscomp_p", TOK_AXISCOMP_P},
    {"axiscomp_r", TOK_AXISCOMP_R},
    {"axiscomp_t", TOK_AXISCOMP_T},
    {"axiscomp_x", TOK_AXISCOMP_X},
    {"axiscomp_y", TOK_AXISCOMP_Y},
    {"axiscomp_z", TOK_AXISCOMP_Z},
    {"camera", TOK_CAMERA},
    {"diffdiskfraction", TOK_DIFFDISKFRACTION},
    {"diffdiskrate", TOK_DIFFDISKRATE},
    {"dynwavegen", TOK_DYNWAVEGEN},
    {"encodedradiusscale", TOK_ENCODEDRADIUSSCALE},
    {"lumenavgk0", TOK_LUMENAVG_K0},
    {"lumenavg_k0", TOK_LUMENAVG_K0},
    {"lumendisper", TOK_LUMENDISPER},
    {"lumendmicenter", TOK_LUMENDMICENTER},
    {"lumendmiscale", TOK_LUMENDMISCALE},
    {"lumenimagerot", TOK_LUMENIMAGEROT},
    {"lumenlog", TOK_LUMENLOG},
    {"lumenmaterials", TOK_LUMENMATERIALS},
    {"lumensiinvertdata", TOK_LUMENSIINVERTDATA},
    {"lumensys", TOK_LUMENSYS},
    {"lumensysinitper", TOK_LUMENSYSINITPER},
    {"lumentemperature", TOK_LUMENTEMPERATURE},
    {"lumentiltcenter", TOK_LUMENTILTCENTER},
    {"lumenzerogageper", TOK_LUMENZEROGAGEPER},
    {"lumenzeroptpos", TOK_LUMENZEROPTPOS},
    {"kiteenczoombacklash", TOK_KITEENCZOOMBACKLASH},
    {"kiteenczoomcalfile", TOK_KITEENCZOOMCALFILE},
    {"kiteenczoomconfig", TOK_KITEENCZOOMCONFIG},
    {"kiteenczoomproglim", TOK_KITEENCZOOMPROGLIM},
    {"kiteenczoomstdmags", TOK_KITEENCZOOMSTDMAGS},
    {"kiteenczoomwandlim", TOK_KITEENCZOOMWANDLIM},
    {"ignoredualbrushmotor", TOK_IGNOREDUALBRUSHMOTOR},
    {"ignorefocusndw", TOK_IGNOREFOCUSNDW},
    {"ignorelaps", TOK_IGNORELAPS},
    {"ignorepzt", TOK_IGNOREPZT},
    {"ignorewand", TOK_IGNOREWAND},
    {"ignorezoom", TOK_IGNOREZOOM},
    {"instrcomm", TOK_INSTRCOMM},
    {"instrname", TOK_INSTRNAME},
    {"intfradiusscale", TOK_INTFRADIUSSCALE},
    {"invertdata", TOK_INVERTDATA},
    {"light", TOK_LIGHT},
    {"llc", TOK_LLC},
    {"macaddress", TOK_MACADDRESS},
    {"motionctrl", TOK_MOTIONCTRL},
    {"nointensavg", TOK_NOINTENSAVG},
    {"nommag", TOK_NOMMAG},
    {"pendentmenu", TOK_PENDENTMENU},
    {"pidvals_a", TOK_PIDVALS_A},
    {"pidvals_b", TOK_PIDVALS_B},
    {"pidvals_p", TOK_PIDVALS_P},
    {"pidvals_r", TOK_PIDVALS_R},
    {"pidvals_t", TOK_PIDVALS_T},
    {"pidvals_x", TOK_PIDVALS_X},
    {"pidvals_y", TOK_PIDVALS_Y},
    {"pidvals_z", TOK_PIDVALS_Z},
    {"pifoc", TOK_PIFOC},
    {"pifocpolarity", TOK_PIFOCPOLARITY},
    {"pifoctype", TOK_PIFOCTYPE},
    {"posinstr", TOK_POSINSTR},
    {"pztid", TOK_PZTID},
    {"pztpwr", TOK_PZTPWR},
    {"radcrvfoccal", TOK_RADCRVFOCCAL},
    {"radcrvpwrcal", TOK_RADCRVPWRCAL},
    {"ramp", TOK_RAMP},
    {"remote", TOK_REMOTE},
    {"ringspot", TOK_RINGSPOT},
    {"scancal", TOK_SCANCAL},
    {"sdccal", TOK_SDCCAL},
    {"sleeptimeout", TOK_SLEEPTIMEOUT},
    {"sysmag", TOK_SYSMAG},
    {"tempsensor", TOK_TEMPSENSOR},
    {"touchscreen", TOK_TOUCHSCREEN},
    {"turret", TOK_TURRET},
    {"unit", TOK_UNIT},
    {"version", TOK_VERSION},
    {"wmcomm", TOK_WMCOMM},
    {"wmmaxbuckets", TOK_WMMAXBUCKETS},
    {"wmmonopd", TOK_WMMONOPD},
    {"wmsysgain", TOK_WMSYSGAIN},
    {"wmtunerange", TOK_WMTUNERANGE},
    {"wmtunerate", TOK_WMTUNERATE},
    {"xaxisbacklash", TOK_XAXISBACKLASH},
    {"yaxisbacklash", TOK_YAXISBACKLASH},
    {"zaxisbacklash", TOK_ZAXISBACKLASH},
    {"zaxiscal", TOK_ZAXISCAL},
    {"zcanclosedloop", TOK_ZCANCLOSEDLOOP},
    {"zencoder", TOK_ZENCODER},
    {"zoom", TOK_ZOOM},
    // System type words (also begin a line)
    {"alder2", TOK_ALDER2},
    {"alder3", TOK_ALDER3},
    {"alder4", TOK_ALDER4},
    {"birch3", TOK_BIRCH3},
    {"birch4", TOK_BIRCH4},
    {"birch5", TOK_BIRCH5},
    {"birch6", TOK_BIRCH6},
    {"birch7", TOK_BIRCH7},
    {"birch8", TOK_BIRCH8},
    {"birch9", TOK_BIRCH9},
    {"birch10", TOK_BIRCH10},
    {"cobalt", TOK_COBALT},
    {"cobalt2", TOK_COBALT2},
    {"dune", TOK_DUNE},
    {"dune2", TOK_DUNE2},
    {"ember", TOK_EMBER},
    {"fjord1", TOK_FJORD1},
    {"fjord2", TOK_FJORD2},
    {"fjord3", TOK_FJORD3},
    {"fjord4", TOK_FJORD4},
    {"fjord5", TOK_FJORD5},
    {"fjord6", TOK_FJORD6},
    {"glen", TOK_GLEN},
    {"glencan", TOK_GLENCAN},
    {"heron", TOK_HERON},
    {"heron_can", TOK_HERON_CAN},
    {"iris", TOK_IRIS},
    {"iris_can", TOK_IRIS_CAN},
    {"kite", TOK_KITE},
    {"kitecan", TOK_KITECAN},
    {"kite2", TOK_KITE2},
    {"kite2can", TOK_KITE2CAN},
    {"lumen", TOK_LUMEN},
    {"lumensi", TOK_LUMENSI},
    {"special", TOK_SPECIAL},
    // After "camera"
    {"align", TOK_ALIGN},
    {"bad", TOK_BAD},
    {"bpix", TOK_BPIX},
    {"bpixels", TOK_BPIXELS},
    {"config", TOK_CONFIG},
    {"configuration", TOK_CONFIG},
    {"dark", TOK_DARK},
    {"file", TOK_FILE},
    {"options", TOK_OPTIONS},
    {"period", TOK_PERIOD},
    {"pll", TOK_PLL},
    {"splitx", TOK_SPLITX},
    {"splity", TOK_SPLITY},
    {"trans", TOK_TRANS},
    {"type", TOK_TYPE},
    // Camera alignment values
    {"center", TOK_CENTER},
    {"default", TOK_DEFAULT},
    {"topleft", TOK_TOPLEFT},
    // Camera types
    {"a311f", TOK_A311F},
    {"a312f", TOK_A312F},
    {"a504k", TOK_A504K},
    {"adimec1000", TOK_ADIMEC1000},
    {"adimec4050", TOK_ADIMEC4050},
    {"adimec4150", TOK_ADIMEC4150},
    {"basler", TOK_BASLER},
    {"cid2220", TOK_CID2220},
    {"cid2250", TOK_CID2250},
    {"custom", TOK_CUSTOM},
    {"dgfly1024", TOK_DGFLY1024},
    {"dgfly6200", TOK_DGFLY6200},
    {"dgfly640", TOK_DGFLY640},
    {"e2v7899", TOK_E2V7899},
    {"eev1715a", TOK_EEV1715A},
    {"imperxvga", TOK_IMPERXVGA},
    {"p62505", TOK_P62505},
    {"pia1000", TOK_PIA1000},
    {"pia640", TOK_PIA640},
    {"sca640", TOK_SCA640},
    {"sca640g", TOK_SCA640G},
    {"sim200", TOK_SIM200},
    {"smd4m15", TOK_SMD4M15},
    {"su320", TOK_SU320},
    {"tm6705", TOK_TM6705},
    {"tm6710", TOK_TM6710},
    {"tm6740", TOK_TM6740},
    {"vidicon", TOK_VIDICON},
    {"xc7500", TOK_XC7500},
    {"xc7500s", TOK_XC7500S},
    {"xc77", TOK_XC77},
    {"xc77ce", TOK_XC77CE},
    // After "llc" (also config, configuration, options)
    {"alignmodepct", TOK_ALIGNMODEPCT},
    {"avgcurlimit", TOK_AVGCURLIMIT},
    {"freq", TOK_FREQ},
    {"fwdvoltage", TOK_FWDVOLTAGE},
    {"instr", TOK_INSTR},
    {"range", TOK_RANGE},
    {"target", TOK_TARGET},
    // Light level controller types (also dune)
    {"wren", TOK_WREN},
    {"wren_b", TOK_WREN_B},
    // Light types (also special)
    {"hene", TOK_HENE},
    {"diode", TOK_DIODE},
    {"white", TOK_WHITE},
    {"led", TOK_LED},
    // After "adc"
    {"clock", TOK_CLOCK},
    // After "ramp": only config and configuration, listed above
    // Frame grabbers, first word after "version"
    {"none", TOK_NONE},
    {"rpc", TOK_RPC},
    {"matrox", TOK_MATROX},
    {"pulsar", TOK_PULSAR},
    {"genesis", TOK_GENESIS},
    {"corona", TOK_CORONA},
    {"bandit", TOK_BANDIT},
    {"firewire", TOK_FIREWIRE},
    {"cameralink", TOK_CAMERALINK},
    {"flashbus", TOK_FLASHBUS},
    {"gige", TOK_GIGE},
    {"x64lvds", TOK_X64LVDS},
    {"pc2vision", TOK_PC2VISION},
    // Instrument boards, last word after "version" (also none, kite, dune, dune2, iris, lumen)
    {"sable", TOK_SABLE},
    {"can", TOK_CAN},
    {"notneeded", TOK_NOTNEEDED},
    // Position instrument types (also zencoder)
    {"quartz", TOK_QUARTZ},
    {"tmi", TOK_TMI},
    {"heid", TOK_HEID},
    {"lcdmi", TOK_LCDMI},
    {"microlynx", TOK_MICROLYNX},
    {"usded2", TOK_USDED2},
    {"tmi501", TOK_TMI501},
    {"metronics", TOK_METRONICS},
    {"fhxtmi501", TOK_FHXTMI501},
    {"renishaw_stepnet", TOK_RENISHAW_STEPNET},
    {"stepnet", TOK_STEPNET},
    // Temperature sensor types
    {"euro2216e", TOK_EURO2216E},
    // PID set selectors
    {"fast", TOK_FAST},
    {"slow", TOK_SLOW},
    // Recognized but not accepted anywhere
    {"af_gain", TOK_AF_GAIN},
    {"af_ref_adc", TOK_AF_REF_ADC},
    {"af_ref_gain", TOK_AF_REF_GAIN},
    {"af_thresh", TOK_AF_THRESH},
    {"pr_gain", TOK_PR_GAIN},
    {"pr_offset", TOK_PR_OFFSET},
    {"pr_ref_adc", TOK_PR_REF_ADC},
    {"pr_ref_gain", TOK_PR_REF_GAIN},
    {"pr_thresh", TOK_PR_THRESH},
}};

using Table = std::array<CalKeyword, kWords.size()>;

consteval Table sorted_by_word(Table rows) {
  std::ranges::sort(rows, {}, &CalKeyword::word);
  return rows;
}

// Searched by halving, so it must be in plain byte order (string_view
// compares as unsigned bytes).
constexpr auto kTable = sorted_by_word(kWords);

consteval bool strictly_sorted() {
  for (std::size_t i = 1; i < kTable.size(); ++i) {
    if (!(kTable[i - 1].word < kTable[i].word)) return false;
  }
  return true;
}
static_assert(strictly_sorted(), "keyword table not sorted, or a word listed twice");

consteval bool lower_case_words() {
  for (const CalKeyword& row : kTable) {
    for (char c : row.word) {
      if (c >= 'A' && c <= 'Z') return false;
    }
  }
  return true;
}
static_assert(lower_case_words(), "table words are matched after folding to lower case");

constexpr bool is_reserved(int32_t code) {
  return code == TOK_EOF || code == TOK_EOL || code == TOK_ERROR || code == TOK_UNKNOWN;
}

// Codes stay in 0..239, avoid the reserved results, and are distinct except
// for the two pairs of words that mean the same.
consteval bool codes_sound() {
  std::array<int, 240> uses{};
  for (const CalKeyword& row : kTable) {
    if (row.code < 0 || row.code >= static_cast<int32_t>(uses.size()) || is_reserved(row.code)) {
      return false;
    }
    ++uses[static_cast<std::size_t>(row.code)];
  }
  int used_codes = 0;
  for (std::size_t code = 0; code < uses.size(); ++code) {
    const bool shared = code == TOK_CONFIG || code == TOK_LUMENAVG_K0;
    if (uses[code] > (shared ? 2 : 1)) return false;
    if (shared && uses[code] != 2) return false;
    if (uses[code] != 0) ++used_codes;
  }
  return used_codes == static_cast<int>(kTable.size()) - 2;
}
static_assert(codes_sound(), "keyword codes must be distinct, in 0..239 and not reserved");
static_assert(TOK_EOF == 63 && TOK_EOL == 64 && TOK_ERROR == 65 && TOK_UNKNOWN == 144);

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ---------------------------------------------------------------- characters

constexpr bool is_blank(int c) { return c == ' ' || c == '\t'; }
// White space of a formatted numeric read: line ends included.
constexpr bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

constexpr int kEof = CalCharSource::kEof;

// Reads past white space and returns the first other character (or kEof).
int skip_space(CalCharSource& src) {
  int c = src.get();
  while (is_space(c)) c = src.get();
  return c;
}

// ---------------------------------------------------------------- numbers

// Why a number could not be read.
enum class Scan { ok, eof, syntax };

// [+-]digits, saturated to the 32-bit range. The character after the digits
// is left unread.
Scan scan_int(CalCharSource& src, int32_t& value, bool& overflow) {
  int c = skip_space(src);
  if (c == kEof) return Scan::eof;
  const bool negative = c == '-';
  if (c == '-' || c == '+') c = src.get();
  if (!is_digit(c)) {
    src.unget(c);
    return Scan::syntax;
  }
  // Accumulates the magnitude; past the 32-bit range it stops growing but
  // the remaining digits are still read, as they belong to this number.
  const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  int64_t magnitude = 0;
  overflow = false;
  for (; is_digit(c); c = src.get()) {
    if (!overflow) {
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > limit) overflow = true;
    }
  }
  src.unget(c);
  if (overflow) magnitude = limit;
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return Scan::ok;
}

// [+-]digits[.digits][(e|E)[+-]digits], also ".5" and "5.": decimal only, so
// "inf", "nan" and hexadecimal forms are not numbers here whatever the C
// library would accept. A magnitude beyond the double range saturates to the
// largest finite double, which the caller reports as out of range.
Scan scan_real(CalCharSource& src, double& value, bool& overflow) {
  int c = skip_space(src);
  if (c == kEof) return Scan::eof;
  std::string text;
  if (c == '-' || c == '+') {
    if (c == '-') text += '-';
    c = src.get();
  }
  std::size_t digits = 0;
  // The decimal exponent of the leading significant digit, to tell overflow
  // from underflow when the conversion reports a value out of range.
  int64_t lead_exponent = 0;
  bool seen_significant = false;
  for (; is_digit(c); c = src.get()) {
    text += static_cast<char>(c);
    ++digits;
    if (seen_significant) {
      ++lead_exponent;
    } else if (c != '0') {
      seen_significant = true;
    }
  }
  if (c == '.') {
    text += '.';
    for (c = src.get(); is_digit(c); c = src.get()) {
      text += static_cast<char>(c);
      ++digits;
      if (!seen_significant) {
        --lead_exponent;
        if (c != '0') seen_significant = true;
      }
    }
  }
  if (digits == 0) {
    src.unget(c);
    return Scan::syntax;
  }
  if (c == 'e' || c == 'E') {
    text += 'e';
    c = src.get();
    bool negative_exponent = false;
    if (c == '-' || c == '+') {
      negative_exponent = c == '-';
      text += static_cast<char>(c);
      c = src.get();
    }
    // An exponent mark must be followed by digits: "100ergs" is no number,
    // as for a formatted read.
    if (!is_digit(c)) {
      src.unget(c);
      return Scan::syntax;
    }
    int64_t exponent = 0;
    for (; is_digit(c); c = src.get()) {
      text += static_cast<char>(c);
      if (exponent < 100000) exponent = exponent * 10 + (c - '0');
    }
    lead_exponent += negative_exponent ? -exponent : exponent;
  }
  src.unget(c);

  overflow = false;
  double v = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error == std::errc::result_out_of_range) {
    const bool negative = text.front() == '-';
    if (seen_significant && lead_exponent > 0) {
      overflow = true;
      v = std::numeric_limits<double>::max();
    } else {
      v = 0.0;
    }
    if (negative) v = -v;
  } else if (error != std::errc{} || end != text.data() + text.size()) {
    return Scan::syntax;
  }
  value = v;
  return Scan::ok;
}

void set_status(int* status, Scan scan) {
  *status = scan == Scan::eof ? ERR_EOF : ERR_SB_CALFILE_SYNTAX;
}

}  // namespace

std::span<const CalKeyword> cal_keyword_table() { return kTable; }

int32_t cal_lookup_keyword(std::string_view word) {
  std::string folded(word);
  for (char& c : folded) c = lower(c);
  const auto* row =
      std::ranges::lower_bound(kTable, std::string_view(folded), {}, &CalKeyword::word);
  if (row == kTable.end() || row->word != folded) return TOK_UNKNOWN;
  return row->code;
}

std::string_view cal_token_word(int32_t code) {
  // The shared codes are spelled as the writer spells them.
  if (code == TOK_CONFIG) return "config";
  if (code == TOK_LUMENAVG_K0) return "lumenavg_k0";
  for (const CalKeyword& row : kTable) {
    if (row.code == code) return row.word;
  }
  return {};
}

}  // namespace felbrin

using felbrin::CalCharSource;

std::optional<std::string> sb_readWord(CalCharSource& src, int* status) {
  if (*status != 0) return std::nullopt;
  int c = src.get();
  while (felbrin::is_blank(c)) c = src.get();

  bool quoted = false;
  std::string text;
  switch (c) {
    case '\n':
      src.unget(c);
      *status = ERR_EOL;
      return std::nullopt;
    case '#': *status = ERR_EOL; return std::nullopt;
    case '"': quoted = true; break;
    case ',':
    case ':':
    case '[':
    case ']': return std::string(1, static_cast<char>(c));
    case CalCharSource::kEof: *status = ERR_EOF; return std::nullopt;
    default: text += static_cast<char>(c); break;
  }

  // 80 further characters at most: 81 in a bare word, 80 between quotes.
  // A carriage return is dropped but still counts.
  constexpr int kFurther = 80;
  bool full = true;
  for (int i = 0; i < kFurther && full; ++i) {
    c = src.get();
    full = false;
    if (c == CalCharSource::kEof) {
      if (quoted) *status = ERR_EOF;
    } else if (c == '\n') {
      src.unget(c);
      if (quoted) *status = ERR_EOL;
    } else if (c != '"' && (quoted || !felbrin::is_blank(c))) {
      full = true;
      if (c != '\r') text += static_cast<char>(c);
    }
  }
  if (*status != 0) return std::nullopt;
  // A quoted text of the full 80 characters still has its closing quote
  // ahead; left there, it would open a new word running to the line end.
  if (quoted && full) {
    c = src.get();
    if (c != '"') src.unget(c);
  }
  return text;
}

int32_t sb_readKeyword(CalCharSource& src, int* status) {
  if (*status != 0) return TOK_ERROR;
  const std::optional<std::string> word = sb_readWord(src, status);
  if (!word) {
    if (*status == ERR_EOF) {
      *status = 0;
      return TOK_EOF;
    }
    if (*status == ERR_EOL) {
      *status = 0;
      return TOK_EOL;
    }
    return TOK_ERROR;
  }
  const int32_t code = felbrin::cal_lookup_keyword(*word);
  if (code == TOK_UNKNOWN) {
    // As read, case unchanged, so the user finds it in the file.
    sb_calError("Unrecognized token \"%s\"", word->c_str());
    *status = ERR_SB_CALFILE_SYNTAX;
  }
  return code;
}

int sb_peekClass(CalCharSource& src, const int* status) {
  if (*status != 0) return CAL_CLASS_OTHER;
  int c = src.get();
  while (felbrin::is_blank(c)) c = src.get();
  src.unget(c);
  if (c == CalCharSource::kEof || c == '\n' || c == '\r' || c == '#') return CAL_CLASS_END;
  if (c == '-' || c == '.' || felbrin::is_digit(c)) return CAL_CLASS_NUMBER;
  if (felbrin::is_letter(c)) return CAL_CLASS_LETTER;
  if (c == '[') return CAL_CLASS_BRACKET;
  if (c == ':') return CAL_CLASS_COLON;
  return CAL_CLASS_OTHER;
}

int32_t sb_readInt(CalCharSource& src, int* status, int32_t lower, int32_t upper) {
  if (*status != 0) return 0;
  int32_t value = 0;
  bool overflow = false;
  const felbrin::Scan scan = felbrin::scan_int(src, value, overflow);
  if (scan != felbrin::Scan::ok) {
    felbrin::set_status(status, scan);
    return 0;
  }
  if (overflow || !(lower <= value && value <= upper)) {
    sb_calError("%d out of range [%d,%d]", value, lower, upper);
    *status = ERR_SB_CALFILE_VALUE_RANGE;
    return 0;
  }
  return value;
}

double sb_readReal(CalCharSource& src, int* status, double lower, double upper) {
  return sb_readRealEx(src, status, lower, upper, true, true);
}

double sb_readRealEx(CalCharSource& src, int* status, double lower, double upper,
                     bool lower_inclusive, bool upper_inclusive) {
  if (*status != 0) return 0.0;
  double value = 0.0;
  bool overflow = false;
  const felbrin::Scan scan = felbrin::scan_real(src, value, overflow);
  if (scan != felbrin::Scan::ok) {
    felbrin::set_status(status, scan);
    return 0.0;
  }
  // Written as acceptance, so a value that compares false with everything
  // can never pass.
  const bool above_lower = lower_inclusive ? lower <= value : lower < value;
  const bool below_upper = upper_inclusive ? value <= upper : value < upper;
  if (overflow || !(above_lower && below_upper)) {
    // Numbers formatted by the library, not the C runtime, so the message
    // reads the same on every platform.
    char v[FMT_MAX_CHARS + 1];
    char lo[FMT_MAX_CHARS + 1];
    char hi[FMT_MAX_CHARS + 1];
    *fmt_g(v, value) = '\0';
    *fmt_g(lo, lower) = '\0';
    *fmt_g(hi, upper) = '\0';
    sb_calError("%s out of range %c%s,%s%c", v, lower_inclusive ? '[' : '(', lo, hi,
                upper_inclusive ? ']' : ')');
    *status = ERR_SB_CALFILE_VALUE_RANGE;
    return 0.0;
  }
  return value;
}
