// Ramp configuration file: one row per column drives the reader's checks and
// messages and the writer's layout.
#include "instrument/ramps/ramp_config.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/parsers_internal.h"
#include "common/util.h"
#include "instrument/ramps/ramp_config_internal.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

// A line of this many characters or more (its line end counted as one)
// ends the read: no configuration line comes near it, so it is not one.
constexpr int kLineLimit = 201;
constexpr int kMaxBadLines = 20;
constexpr int kGrowBy = 5;
constexpr std::size_t kFileNameMax = sizeof(rr_ramp_line_t::fileName) - 1;
constexpr int kFirstWavelength = 1;
constexpr int kLastWavelength = 4;

constexpr std::string_view kTitle = "# Fathomix Ramp Configuration File";
constexpr std::string_view kDescription =
    "#\n"
    "# RT  = RampType: PMI, SWLI, BTW, or BTWX where X is a filter number\n"
    "# FN  = FileName: name of ramp data file or \"+\" if derived from previous\n"
    "# SL  = ScanLen: scan length in microns for SWLI or BTW ramps\n"
    "# CR  = CameraRate: frame rate in Hz\n"
    "# CI  = CameraInterlace: 1 if interlaced fields, otherwise 0\n"
    "# GS  = GrabSkip: (GrabSkip+1 specifies camera frame sampling)\n"
    "# FPF = FringesPerFrame: normal 0.125 or 0.25, subnyquist 0.75 or 1.25\n"
    "# RS  = RampSlope: nm/frm for SWLI or BTW ramps\n"
    "# OM  = ObjMag: nominal objective magnification, required for BTW ramps\n"
    "# SC  = ScanCal: factor near 1.0 to calibrate SWLI or BTW ramps\n"
    "# H   = Optional hide flag: 0 is normal, 1 to hide ramp from user\n"
    "#\n"
    "# RT    FN                     SL    CR   CI GS  FPF    RS       OM   SC      H";
// Kept in its historical layout, which is not the writer's.
constexpr std::string_view kSampleLine =
    " SWLI d10s81c25.b12345      010.20 025.00 00 00 0.250 081.0000 000.00 1.00000 0";

// ---- the columns

enum class Kind : uint8_t { kType, kFileName, kReal, kInteger, kHide };

// What a column's value must also satisfy for the line's ramp type.
enum class TypeRule : uint8_t {
  kNone,
  kZeroForPmi,          // PMI: exactly 0; SWLI and BTW: not 0
  kNotZeroForScanning,  // SWLI and BTW: not 0
  kNotZeroForBtw,
  kZeroForPmiElseBounds,  // the bounds hold for SWLI and BTW only
};

struct Bounds {
  double lo = 0, hi = 0;
  bool lo_open = false, hi_open = false;
  // Written positively, so that NaN is never inside.
  bool contain(double v) const {
    return (lo_open ? lo < v : lo <= v) && (hi_open ? v < hi : v <= hi);
  }
};

// Details take the column's name and then the numbers listed at each use.
constexpr const char* kInvalidReal = "Invalid %s value %g (field %d)";
constexpr const char* kInvalidInteger = "Invalid %s value %d (field %d)";
constexpr const char* kInvalid = "Invalid %s value (field %d)";
constexpr const char* kTooLong = "%s is too long (field %d)";
constexpr const char* kMissing = "Missing %s value (field %d)";
constexpr const char* kBadWavelength = "Invalid BTW wavelength index (field %d)";
constexpr const char* kBadWavelengthHelp =
    "Wavelength index must be an integer in the range [%d,%d]\n";

struct Column {
  std::string_view name;  // as named in messages
  Kind kind;
  Bounds bounds;
  TypeRule rule;
  float rr_ramp_line_t::*real;
  int32_t rr_ramp_line_t::*integer;
  const char* detail;  // for a value that breaks the rules
  const char* help;    // the name, then help_numbers
  std::array<double, 2> help_numbers;
  int help_count;
  // The writer's printf width (text left-justified) and precision.
  int width;
  int precision;
};

// In file order; a column's field number in messages is its position from 1.
constexpr Column kColumns[] = {
    {"RampType",
     Kind::kType,
     {},
     TypeRule::kNone,
     nullptr,
     nullptr,
     kInvalid,
     "Allowed %s values are SWLI, PMI, BTW, and BTWX\n"
     "where X is a wavelength index in the range [%d,%d]\n",
     {kFirstWavelength, kLastWavelength},
     2,
     4,
     0},
    {"FileName",
     Kind::kFileName,
     {},
     TypeRule::kNone,
     nullptr,
     nullptr,
     kTooLong,
     "The %s may be up to %d characters\n",
     {kFileNameMax},
     1,
     22,
     0},
    {"ScanLen",
     Kind::kReal,
     {0, 1000, false, true},
     TypeRule::kZeroForPmi,
     &rr_ramp_line_t::scanLen,
     nullptr,
     kInvalidReal,
     "For PMI ramps, the %s value must be 0\n"
     "For SWLI or BTW ramps, it must be greater than %g and less than %g (um)\n",
     {0, 1000},
     2,
     6,
     2},
    {"CameraRate",
     Kind::kReal,
     {0, 50000, true, false},
     TypeRule::kNone,
     &rr_ramp_line_t::cameraRate,
     nullptr,
     kInvalidReal,
     "The %s value must be greater than 0 and less than %g (Hz)\n",
     {50000},
     1,
     6,
     2},
    {"CameraInterlace",
     Kind::kInteger,
     {0, 1},
     TypeRule::kNone,
     nullptr,
     &rr_ramp_line_t::cameraInterlace,
     kInvalidInteger,
     "The %s value must be 0 or 1\n",
     {},
     0,
     2,
     0},
    {"GrabSkip",
     Kind::kInteger,
     {0, 100, false, true},
     TypeRule::kNone,
     nullptr,
     &rr_ramp_line_t::grabSkip,
     kInvalidInteger,
     "The %s value must be greater than or equal to %d and less than %d\n",
     {0, 100},
     2,
     2,
     0},
    {"FringesPerFrame",
     Kind::kReal,
     {0, 10, true, true},
     TypeRule::kNone,
     &rr_ramp_line_t::fringesPerFrame,
     nullptr,
     kInvalidReal,
     "The %s value must be greater than %g and less than %g\n",
     {0, 10},
     2,
     5,
     3},
    {"RampSlope",
     Kind::kReal,
     {0, 4000, false, true},
     TypeRule::kNotZeroForScanning,
     &rr_ramp_line_t::rampSlope,
     nullptr,
     kInvalidReal,
     "For PMI ramps, the %s value may be 0\n"
     "For SWLI or BTW ramps, it must be greater than %g and less than %g (nm/frm)\n",
     {0, 4000},
     2,
     8,
     4},
    {"ObjMag",
     Kind::kReal,
     {0, 1000, false, true},
     TypeRule::kNotZeroForBtw,
     &rr_ramp_line_t::objMag,
     nullptr,
     kInvalidReal,
     "For PMI or SWLI ramps, the %s value may be 0\n"
     "For BTW ramps, it must be greater than %g and less than %g\n",
     {0, 1000},
     2,
     6,
     2},
    {"ScanCal",
     Kind::kReal,
     {0.5, 1.5, true, true},
     TypeRule::kZeroForPmiElseBounds,
     &rr_ramp_line_t::scanCal,
     nullptr,
     kInvalidReal,
     "For PMI ramps, the %s value must be 0\n"
     "For SWLI or BTW ramps, it must be greater than %g and less than %g\n",
     {0.5, 1.5},
     2,
     7,
     5},
    {"Hide",
     Kind::kHide,
     {0, 1},
     TypeRule::kNone,
     nullptr,
     &rr_ramp_line_t::hide,
     kInvalidInteger,
     "The %s value must be blank, 0 or 1\n",
     {},
     0,
     1,
     0},
};
constexpr std::size_t kColumnCount = std::size(kColumns);

// Conversions of a message template: 's' for the name, 'n' for a number.
consteval int count_of(std::string_view text, char which) {
  int n = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '%') continue;
    const char c = text[++i];
    if (c == 's' && which == 's') ++n;
    if ((c == 'd' || c == 'g') && which == 'n') ++n;
  }
  return n;
}

consteval bool columns_fit_their_texts() {
  for (const Column& c : kColumns) {
    const bool real = c.kind == Kind::kReal;
    const bool integer = c.kind == Kind::kInteger || c.kind == Kind::kHide;
    if (real != (c.real != nullptr) || integer != (c.integer != nullptr)) return false;
    if (count_of(c.help, 's') != 1 || count_of(c.help, 'n') != c.help_count) return false;
    // A value detail takes the value and the field number, the others the field only.
    const int numbers = real || integer ? 2 : 1;
    if (count_of(c.detail, 's') != 1 || count_of(c.detail, 'n') != numbers) return false;
  }
  return count_of(kInvalid, 'n') == 1 && count_of(kMissing, 'n') == 1 &&
         count_of(kBadWavelength, 'n') == 1 && count_of(kBadWavelengthHelp, 'n') == 2 &&
         kColumns[kColumnCount - 1].kind == Kind::kHide;
}
static_assert(columns_fit_their_texts());

// A message from a template: %s is `name`, %d and %g take the numbers in
// order.
std::string fill(const char* tmpl, std::string_view name, std::span<const double> numbers) {
  const std::string_view texts[] = {name};
  return fmt_template(tmpl, texts, numbers);
}

std::string column_help(const Column& c) {
  return fill(c.help, c.name,
              std::span(c.help_numbers).first(static_cast<std::size_t>(c.help_count)));
}

// A rejected column: the detail and the help text that follows it.
struct Fault {
  std::string detail;
  std::string help;
};

bool is_pmi(int32_t type) { return RR_TYPE_PMI <= type && type <= RR_TYPE_PMI_LAST; }

bool suits(const Column& c, double v, int32_t type) {
  const bool pmi = type == RR_TYPE_PMI;
  const bool inside = c.bounds.contain(v);
  switch (c.rule) {
    case TypeRule::kNone: return inside;
    case TypeRule::kZeroForPmi: return inside && (pmi ? v == 0 : v != 0);
    case TypeRule::kNotZeroForScanning: return inside && (pmi || v != 0);
    case TypeRule::kNotZeroForBtw: return inside && (type != RR_TYPE_BTW || v != 0);
    case TypeRule::kZeroForPmiElseBounds: return pmi ? v == 0 : inside;
  }
  return false;
}

// Judged on the first four characters, as files have always been read.
std::optional<Fault> take_type(const Column& c, int field, const char* token, rr_ramp_line_t& cfg) {
  const std::string_view t = std::string_view(token).substr(0, 4);
  if (t == "SWLI") {
    cfg.type = RR_TYPE_SWLI;
  } else if (t == "PMI") {
    cfg.type = RR_TYPE_PMI;
  } else if (t.starts_with("BTW")) {
    cfg.type = RR_TYPE_BTW;
    if (t.size() == 4) {
      const int index = t[3] - '0';
      if (!(kFirstWavelength <= index && index <= kLastWavelength)) {
        const double field_number[] = {static_cast<double>(field)};
        const double range[] = {kFirstWavelength, kLastWavelength};
        return Fault{fill(kBadWavelength, {}, field_number), fill(kBadWavelengthHelp, {}, range)};
      }
      cfg.wavelenIndex = index;
    }
  } else {
    const double field_number[] = {static_cast<double>(field)};
    return Fault{fill(c.detail, c.name, field_number), column_help(c)};
  }
  return std::nullopt;
}

float to_float(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

// Reads one column's token into the configuration line.
std::optional<Fault> take(const Column& c, int field, const char* token, rr_ramp_line_t& cfg) {
  const double field_number[] = {static_cast<double>(field)};
  const auto fault = [&](const char* detail) {
    return Fault{fill(detail, c.name, field_number), column_help(c)};
  };
  const auto bad_value = [&](double value) {
    const double numbers[] = {value, static_cast<double>(field)};
    return Fault{fill(c.detail, c.name, numbers), column_help(c)};
  };
  if (token == nullptr || (c.kind == Kind::kHide && token[0] == '#')) {
    if (c.kind == Kind::kHide) return std::nullopt;  // optional: 0
    return fault(kMissing);
  }
  switch (c.kind) {
    case Kind::kType: return take_type(c, field, token, cfg);
    case Kind::kFileName: {
      const std::size_t length = std::strlen(token);
      if (length > kFileNameMax) return fault(c.detail);
      std::memcpy(cfg.fileName, token, length);
      return std::nullopt;
    }
    case Kind::kReal: {
      const ParsedReal r = parse_c_double(token);
      if (!r.found) return fault(kInvalid);
      const float v = to_float(r.value);
      if (!suits(c, v, cfg.type)) return bad_value(v);
      cfg.*c.real = v;
      return std::nullopt;
    }
    case Kind::kInteger:
    case Kind::kHide: {
      const ParsedInt r = parse_c_int(token);
      if (!r.found) return fault(kInvalid);
      const bool negative = token[0] == '-';
      const int32_t v = r.fits ? r.value : (negative ? INT32_MIN : INT32_MAX);
      if (!suits(c, v, cfg.type)) return bad_value(v);
      cfg.*c.integer = v;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// ---- reading

// One line as read: its text without the line end (NUL-terminated; the
// text ends at a NUL byte, as the C line functions see it) and whether it
// reached the length limit.
struct Line {
  std::array<char, kLineLimit + 1> text{};
  bool too_long = false;
};

// False at the end of the stream. A CR right before the LF is dropped, on
// every platform, so files from either kind of host read the same.
bool read_line(std::FILE* f, Line& line) {
  std::size_t n = 0;
  bool any = false, line_feed = false;
  line.too_long = false;
  for (int c = std::getc(f); c != EOF; c = std::getc(f)) {
    any = true;
    if (c == '\n') {
      line_feed = true;
      break;
    }
    // The 202nd character is no dropped CR: the line is too long whatever follows.
    if (n == kLineLimit) {
      line.too_long = true;
      break;
    }
    line.text[n++] = static_cast<char>(c);
  }
  if (!any) return false;
  if (line_feed && n > 0 && line.text[n - 1] == '\r') --n;
  const std::size_t length = n + (line_feed ? 1 : 0);
  line.too_long = line.too_long || length >= static_cast<std::size_t>(kLineLimit);
  line.text[std::min(n, static_cast<std::size_t>(kLineLimit))] = '\0';
  return true;
}

bool is_separator(char c) { return c == ' ' || c == '\t'; }

// Splits the text in place into at most kColumnCount words; the rest of
// the words of a line are ignored. Returns the number found.
std::size_t split(char* text, std::array<const char*, kColumnCount>& words) {
  std::size_t n = 0;
  char* p = text;
  while (n < kColumnCount) {
    while (is_separator(*p)) ++p;
    if (*p == '\0') break;
    words[n++] = p;
    while (*p != '\0' && !is_separator(*p)) ++p;
    if (*p != '\0') *p++ = '\0';
  }
  return n;
}

class ConfigReader {
 public:
  ConfigReader(std::FILE* f, const char* name) : f_(f), name_(name != nullptr ? name : "") {}
  ConfigReader(const ConfigReader&) = delete;
  ConfigReader& operator=(const ConfigReader&) = delete;
  ~ConfigReader() { u_free_fn(specs_); }

  int run(rr_ramp_line_t** cfgs, int* count);

 private:
  // Parses a configuration line line; false when it is rejected (reported).
  bool parse(rr_ramp_line_t& cfg);
  bool append(const rr_ramp_line_t& cfg);
  void report(const std::string& detail, const std::string& help, bool with_text);

  std::FILE* f_;
  const char* name_;
  Line line_;
  // The line's text as read, kept for messages (parse splits line_).
  std::array<char, kLineLimit + 1> shown_{};
  int line_number_ = 0;
  int errors_ = 0;
  rr_ramp_line_t* specs_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
};

void ConfigReader::report(const std::string& detail, const std::string& help, bool with_text) {
  if (errors_++ == 0) u_log_fn("Error reading ramp config file \"%s\"\n", name_);
  if (with_text) {
    u_log_fn("%s in line %d:\n  %s\n", detail.c_str(), line_number_, shown_.data());
  } else {
    u_log_fn("%s in line %d\n", detail.c_str(), line_number_);
  }
  if (!help.empty()) u_log_fn("%s", help.c_str());
}

bool ConfigReader::parse(rr_ramp_line_t& cfg) {
  std::array<const char*, kColumnCount> words{};
  split(line_.text.data(), words);
  for (std::size_t i = 0; i < kColumnCount; ++i) {
    if (auto fault = take(kColumns[i], static_cast<int>(i) + 1, words[i], cfg)) {
      report(fault->detail, fault->help, true);
      return false;
    }
  }
  return true;
}

bool ConfigReader::append(const rr_ramp_line_t& cfg) {
  if (count_ == capacity_) {
    const int grown = capacity_ + kGrowBy;
    void* p = u_realloc_fn(specs_, static_cast<std::size_t>(grown) * sizeof(rr_ramp_line_t));
    if (p == nullptr) return false;
    specs_ = static_cast<rr_ramp_line_t*>(p);
    std::fill(specs_ + capacity_, specs_ + grown, rr_ramp_line_t{});
    capacity_ = grown;
  }
  specs_[count_++] = cfg;
  return true;
}

int ConfigReader::run(rr_ramp_line_t** cfgs, int* count) {
  int rc = 0;
  int spec_lines = 0;
  while (rc == 0 && read_line(f_, line_)) {
    ++line_number_;
    shown_ = line_.text;
    if (line_.too_long) {
      // The text is not kept whole, so it is not shown.
      const double longest[] = {kLineLimit - 1};
      report(fill("Line longer than %d characters", {}, longest), {}, false);
      rc = ERR_CORRUPT_RAMP_CFG_FILE;
      break;
    }
    const char* first = line_.text.data();
    while (is_separator(*first)) ++first;
    if (*first == '\0' || *first == '#') continue;
    ++spec_lines;
    rr_ramp_line_t cfg{};
    if (parse(cfg)) {
      if (!append(cfg)) {
        report("Out of memory", {}, true);
        rc = ERR_NO_MEM;
      }
    } else if (errors_ > kMaxBadLines) {
      u_log_fn("Too many errors reading ramp config file \"%s\"\n", name_);
      rc = ERR_CORRUPT_RAMP_CFG_FILE;
    }
  }
  if (rc == 0 && std::ferror(f_) != 0) rc = ERR_CANT_READ_FILE;
  if (count_ == 0) {
    u_log_fn("No acceptable ramp specs in ramp config file \"%s\"\n", name_);
    u_log_fn("Format description and sample:\n%.*s\n%.*s\n", static_cast<int>(kDescription.size()),
             kDescription.data(), static_cast<int>(kSampleLine.size()), kSampleLine.data());
    if (rc == 0) rc = ERR_CORRUPT_RAMP_CFG_FILE;
  } else if (count_ < spec_lines) {
    u_log_fn("Accepted %d of %d ramp specs in ramp config file \"%s\"\n", count_, spec_lines,
             name_);
  }
  if (rc != 0) return rc;
  *cfgs = specs_;
  *count = count_;
  specs_ = nullptr;
  return 0;
}

// ---- writing

// Longest line the writer makes: seven reals of up to 47 characters, four
// integers of up to 12, the file name and the type word, and line ends.
constexpr std::size_t kMaxWrittenLine = 640;

char* put(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// Right-justified in `width`, as printf pads numbers.
char* put_padded(char* p, const char* text, const char* end, int width) {
  const auto length = static_cast<int>(end - text);
  if (length < width) p = std::fill_n(p, width - length, ' ');
  return put(p, std::string_view(text, static_cast<std::size_t>(length)));
}

// "%-<width>s"
char* put_left(char* p, std::string_view text, int width) {
  p = put(p, text);
  const auto length = static_cast<int>(text.size());
  return length < width ? std::fill_n(p, width - length, ' ') : p;
}

// The type word: SWLI, PMI, BTW with its wavelength index, or XXX.
std::string_view type_word(const rr_ramp_line_t& s, std::array<char, 5>& buffer) {
  if (s.type == RR_TYPE_SWLI) return "SWLI";
  if (is_pmi(s.type)) return "PMI";
  if (s.type != RR_TYPE_BTW) return "XXX";
  if (!(kFirstWavelength <= s.wavelenIndex && s.wavelenIndex <= kLastWavelength)) return "BTW";
  buffer = {'B', 'T', 'W', static_cast<char>('0' + s.wavelenIndex), '\0'};
  return {buffer.data(), 4};
}

std::string_view file_name(const rr_ramp_line_t& s) {
  const char* end = std::find(std::begin(s.fileName), std::end(s.fileName), '\0');
  return {s.fileName, static_cast<std::size_t>(end - s.fileName)};
}

char* put_column(char* p, const Column& c, const rr_ramp_line_t& s) {
  char text[64];
  switch (c.kind) {
    case Kind::kType: {
      std::array<char, 5> buffer{};
      return put_left(p, type_word(s, buffer), c.width);
    }
    case Kind::kFileName: return put_left(p, file_name(s), c.width);
    case Kind::kReal: {
      // Never the C runtime's printf, whose float output differs by platform.
      const auto r = std::to_chars(text, text + sizeof text, static_cast<double>(s.*c.real),
                                   std::chars_format::fixed, c.precision);
      return put_padded(p, text, r.ptr, c.width);
    }
    case Kind::kInteger:
    case Kind::kHide: return put_padded(p, text, fmt_int(text, s.*c.integer), c.width);
  }
  return p;
}

// An empty line goes before a change of type, file or camera rate.
bool starts_group(const rr_ramp_line_t& before, const rr_ramp_line_t& s) {
  return before.type != s.type || file_name(before) != file_name(s) ||
         std::fabs(static_cast<double>(before.cameraRate) - s.cameraRate) > 1.0;
}

}  // namespace

std::string_view ramp_config_description() { return kDescription; }
std::string_view ramp_config_sample_line() { return kSampleLine; }

int read_ramp_config_stream(std::FILE* f, const char* name, rr_ramp_line_t** cfgs, int* count) {
  if (f == nullptr || cfgs == nullptr || count == nullptr || *cfgs != nullptr)
    return ERR_INVALID_PARAM;
  *count = 0;
  ConfigReader reader(f, name);
  return reader.run(cfgs, count);
}

int write_ramp_config(ByteSink& sink, const rr_ramp_line_t* cfgs, int count) {
  SinkBuffer out(sink);
  const char* const limit = out.limit(kMaxWrittenLine);
  char* p = put(out.begin(), kTitle);
  p = put(p, plat::kLineEnd);
  for (const char c : kDescription) {
    if (c == '\n') {
      p = put(p, plat::kLineEnd);
    } else {
      *p++ = c;
    }
  }
  p = put(p, plat::kLineEnd);
  for (int i = 0; i < count; ++i) {
    if (p > limit) p = out.flush(p);
    const rr_ramp_line_t& s = cfgs[i];
    if (i == 0 || starts_group(cfgs[i - 1], s)) p = put(p, plat::kLineEnd);
    for (const Column& c : kColumns) {
      *p++ = ' ';
      p = put_column(p, c, s);
    }
    p = put(p, plat::kLineEnd);
  }
  out.flush(p);
  return out.ok() ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace felbrin

int rr_read_ramp_config(const char* path, rr_ramp_line_t** cfgs, int* count) {
  if (path == nullptr || cfgs == nullptr || count == nullptr || *cfgs != nullptr)
    return ERR_INVALID_PARAM;
  *count = 0;
  // Binary: line ends are the reader's business, the same on every platform.
  std::FILE* f = plat::open_file(path, "rb");
  if (f == nullptr) {
    u_log_fn("Cannot open ramp config file \"%s\"\n", path);
    return ERR_CANT_OPEN_FILE;
  }
  const int rc = felbrin::read_ramp_config_stream(f, path, cfgs, count);
  std::fclose(f);
  return rc;
}

int rr_write_ramp_config(const char* path, const rr_ramp_line_t* cfgs, int count) {
  if (path == nullptr || cfgs == nullptr || count < 0) return ERR_INVALID_PARAM;
  std::FILE* f = plat::open_file(path, "wb");
  if (f == nullptr) return ERR_CANT_OPEN_FILE;
  felbrin::StreamSink sink(f);
  return felbrin::close_written(f, felbrin::write_ramp_config(sink, cfgs, count),
                                ERR_CANT_WRITE_FILE);
}

void rr_release_ramp_lines(rr_ramp_line_t** cfgs) {
  if (cfgs == nullptr || *cfgs == nullptr) return;
  u_free_fn(*cfgs);
  *cfgs = nullptr;
}
