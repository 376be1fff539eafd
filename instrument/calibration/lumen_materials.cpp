// Lumen materials file: one row per value column drives the reader's checks,
// its messages and the format description the reader answers a useless
// file with.
#include "instrument/calibration/lumen_materials.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/number_format.h"
#include "common/parsers_internal.h"
#include "instrument/calibration/lumen_materials_internal.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

constexpr std::size_t kLineMax = 200;  // characters, the line end not counted
constexpr int kMaxErrors = 10;
constexpr int32_t kGrowBy = 5;
constexpr double kTwoPi = 6.283185307179586;
// Nominal magnifications are typed by hand; this is as close as a lens has
// to match.
constexpr double kLensTolerance = 0.001;

constexpr std::string_view kHeadingText = "Fathomix Lumen Materials File";
constexpr std::string_view kFormatWord = "Format";
constexpr int kFormat = 1;

// The value columns, fields 2 to 8.
struct Column {
  std::string_view name;
  double lo, hi;  // both accepted
};
constexpr Column kColumns[] = {
    {"N", 0, 100},
    {"K", 0, 100},
    {"PCOR", -kTwoPi, kTwoPi},
    {"Disper[0]", -kTwoPi, kTwoPi},
    {"Disper[1]", -kTwoPi, kTwoPi},
    {"Disper[2]", -kTwoPi, kTwoPi},
    {"Disper[3]", -kTwoPi, kTwoPi},
};
constexpr std::size_t kValueCount = std::size(kColumns);
static_assert(kValueCount == 3 + LUMEN_LENSES, "N, K, PCOR and one dispersion per lens");
constexpr int kFirstValueField = 2;
constexpr int kCommentField = kFirstValueField + static_cast<int>(kValueCount);

constexpr std::string_view kNameColumn = "Name";
constexpr std::string_view kInvalidValue = "Invalid %s value \"%s\" (field %d)";
constexpr std::string_view kNameHint = "The %s must be quoted text up to %d characters long\n";
constexpr std::string_view kValueHint =
    "\tThe %s value must be a number\n\tgreater than or equal to %g and\n\tless than or equal to "
    "%g\n";

// Filled with the name length, the bounds of each column in order and the
// comment length.
constexpr std::string_view kDescriptionTemplate =
    "##\n"
    "## Name      = Material name in quotes (up to %d chars)\n"
    "## N         = N [%g,%g]\n"
    "## K         = K [%g,%g]\n"
    "## PCOR      = Phase Change On Reflection [%g,%g] rad \n"
    "## Disper[0] = Dispersion for 0.8X mag (75mm FOV) [%g,%g] rad \n"
    "## Disper[1] = Dispersion for 1.0X mag (65mm FOV) [%g,%g] rad \n"
    "## Disper[2] = Dispersion for 1.7X mag (35mm FOV) [%g,%g] rad \n"
    "## Disper[3] = Dispersion for 4.0X mag (15mm FOV) [%g,%g] rad \n"
    "## Comment   = Optional comment beginning with '#' (up to %d chars)\n"
    "##";
constexpr std::string_view kSampleLine =
    "\"Aluminum\"              023.000000  085.000000  00.035766  00.000000  00.000000  00.000000  "
    "00.000000  # 606\n";
constexpr std::string_view kColumnHeading =
    "## Name                   N           K          PCOR       Disper[0]  Disper[1]  Disper[2]  "
    "Disper[3] # Comment";

std::string fill_in(std::string_view tmpl, std::initializer_list<std::string_view> texts,
                    std::initializer_list<double> numbers) {
  return fmt_template(tmpl, std::span(texts.begin(), texts.size()),
                      std::span(numbers.begin(), numbers.size()));
}

const std::string& description() {
  static const std::string text = [] {
    std::array<double, 2 + 2 * kValueCount> numbers{};
    std::size_t n = 0;
    numbers[n++] = LUMEN_NAME_MAX;
    for (const Column& c : kColumns) {
      numbers[n++] = c.lo;
      numbers[n++] = c.hi;
    }
    numbers[n++] = LUMEN_COMMENT_MAX;
    return fmt_template(kDescriptionTemplate, {}, numbers);
  }();
  return text;
}

// "%3.1f" as ISO C prints it (the Windows C runtime's float output differs).
std::string fixed_3_1(double v) {
  char text[FMT_MAX_CHARS + 320];  // a fixed-point double may run to 309 digits
  const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1);
  std::string out(text, r.ptr);
  if (out.size() < 3) out.insert(0, 3 - out.size(), ' ');
  return out;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view skip_blanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  return s.substr(i);
}

// The next blank-separated field of `rest` (empty at the end), which moves
// past it; `start` gets what is left from the field's first character on.
std::string_view next_field(std::string_view& rest, std::string_view* start = nullptr) {
  rest = skip_blanks(rest);
  if (start != nullptr) *start = rest;
  std::size_t end = 0;
  while (end < rest.size() && !is_blank(rest[end])) ++end;
  const std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end);
  return field;
}

// ---- lines

// One line as read: its text without the line end, cut at a NUL byte as the
// C string functions would see it, and whether it was over the limit, in
// which case only its first kLineMax characters are kept.
struct Line {
  std::array<char, kLineMax + 1> buffer{};
  std::string_view text;
  bool too_long = false;
};

// False at the end of the stream. Trailing CRs belong to the line end, so
// CR LF files read as LF files do on every platform.
bool read_line(std::FILE* f, Line& line) {
  std::size_t total = 0, trailing_cr = 0, kept = 0;
  bool any = false;
  for (int c = std::getc(f); c != EOF; c = std::getc(f)) {
    any = true;
    if (c == '\n') break;
    ++total;
    trailing_cr = c == '\r' ? trailing_cr + 1 : 0;
    if (kept < kLineMax) line.buffer[kept++] = static_cast<char>(c);
  }
  if (!any) return false;
  const std::size_t length = total - trailing_cr;
  line.too_long = length > kLineMax;
  kept = std::min(kept, length);
  line.buffer[kept] = '\0';
  line.text = std::string_view(line.buffer.data(), std::strlen(line.buffer.data()));
  return true;
}

template <std::size_t N>
void copy_text(char (&to)[N], std::string_view from) {
  const std::size_t n = std::min(from.size(), N - 1);
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

// A line refused for one of its fields: the message and the hint after it.
struct Fault {
  std::string message;
  std::string hint;
};

// Field 1: the name in quotes (either kind, closed by the same), blanks
// allowed inside. Moves `rest` past it.
std::optional<Fault> take_name(std::string_view& rest, lumen_material_t& entry) {
  rest = skip_blanks(rest);
  const char quote = rest[0];
  std::size_t end = 0;  // of the field as shown in a message
  bool good = false;
  if (quote == '"' || quote == '\'') {
    const std::size_t close = rest.find(quote, 1);
    end = close == std::string_view::npos ? rest.size() : close + 1;
    const bool separated = end == rest.size() || is_blank(rest[end]);
    good = close != std::string_view::npos && separated &&
           close - 1 <= static_cast<std::size_t>(LUMEN_NAME_MAX);
    if (good) copy_text(entry.name, rest.substr(1, close - 1));
  }
  while (end < rest.size() && !is_blank(rest[end])) ++end;
  const std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end);
  if (good) return std::nullopt;
  return Fault{fill_in(kInvalidValue, {kNameColumn, field}, {1}),
               fill_in(kNameHint, {kNameColumn}, {LUMEN_NAME_MAX})};
}

// A value field: '*' or '?' leaves it out, anything else must be a number
// in full and within the column's bounds.
std::optional<Fault> take_value(const Column& c, int field_number, std::string_view field,
                                double& value) {
  if (field.empty() || field[0] == '#') {
    return Fault{
        fill_in("Missing %s value (field %d)", {c.name}, {static_cast<double>(field_number)}), {}};
  }
  if (field[0] == '*' || field[0] == '?') {
    value = LUMEN_NOT_GIVEN;
    return std::nullopt;
  }
  char text[kLineMax + 1];
  copy_text(text, field);
  const ParsedReal r = parse_c_double(text);
  // Written so that NaN is out of range.
  if (r.found && r.end == text + field.size() && c.lo <= r.value && r.value <= c.hi) {
    value = r.value;
    return std::nullopt;
  }
  return Fault{fill_in(kInvalidValue, {c.name, field}, {static_cast<double>(field_number)}),
               fill_in(kValueHint, {c.name}, {c.lo, c.hi})};
}

std::optional<Fault> take_material(std::string_view rest, lumen_material_t& entry) {
  if (auto fault = take_name(rest, entry)) return fault;
  double values[kValueCount] = {};
  for (std::size_t i = 0; i < kValueCount; ++i) {
    const int field_number = kFirstValueField + static_cast<int>(i);
    if (auto fault = take_value(kColumns[i], field_number, next_field(rest), values[i]))
      return fault;
  }
  entry.n = values[0];
  entry.k = values[1];
  entry.pcor = values[2];
  std::copy(values + 3, values + kValueCount, entry.disper);
  std::string_view comment;
  const std::string_view field = next_field(rest, &comment);
  if (field.empty()) return std::nullopt;
  if (field[0] != '#') {
    return Fault{fill_in("Unexpected token \"%s\" (field %d)", {field}, {kCommentField}), {}};
  }
  copy_text(entry.comment, comment);  // a longer comment keeps its beginning
  return std::nullopt;
}

// The format number of a heading: the field after a "Format" field.
std::optional<int> heading_format(std::string_view rest) {
  bool after_word = false;
  for (std::string_view field = next_field(rest); !field.empty(); field = next_field(rest)) {
    if (after_word) {
      char text[kLineMax + 1];
      copy_text(text, field);
      const ParsedInt r = parse_c_int(text);
      if (r.found && r.fits && r.end == text + field.size()) return r.value;
    }
    after_word = field == kFormatWord;
  }
  return std::nullopt;
}

class MaterialsReader {
 public:
  explicit MaterialsReader(std::FILE* f) : f_(f) {}
  int run(lumen_materials_t& list);

 private:
  // Each returns 0 to go on, or the code that ends the read.
  int take_line();
  int take_heading();
  int error(const std::string& message, const std::string& hint, bool show_line, bool fatal);
  bool append(const lumen_material_t& entry);

  std::FILE* f_;
  Line line_;
  int line_number_ = 0;
  int errors_ = 0;
  bool heading_ = false;
  int tried_ = 0;
  int accepted_ = 0;
  lumen_materials_t list_;
};

int MaterialsReader::error(const std::string& message, const std::string& hint, bool show_line,
                           bool fatal) {
  if (errors_++ == 0) u_log_fn("Error(s) reading Lumen materials file:\n");
  u_log_fn("\t%s\n", message.c_str());
  if (show_line && line_.text.empty()) {
    u_log_fn("\tError in line %d\n", line_number_);
  } else if (show_line) {
    u_log_fn("\tError in line %d:\n  %s\n", line_number_, line_.buffer.data());
  }
  if (!hint.empty()) u_log_fn("\t%s", hint.c_str());
  if (errors_ > kMaxErrors) {
    u_log_fn("Too many errors reading Lumen materials file\n");
    return ERR_LUMEN_CORRUPT_MATLS_FILE;
  }
  return fatal ? ERR_LUMEN_CORRUPT_MATLS_FILE : 0;
}

bool MaterialsReader::append(const lumen_material_t& entry) {
  // Room for the entry and the zero entry after it.
  if (list_.count + 1 >= list_.capacity) {
    const int32_t grown = list_.capacity + kGrowBy;
    void* p =
        u_realloc_fn(list_.entries, static_cast<std::size_t>(grown) * sizeof(lumen_material_t));
    if (p == nullptr) return false;
    list_.entries = static_cast<lumen_material_t*>(p);
    std::fill(list_.entries + list_.capacity, list_.entries + grown, lumen_material_t{});
    list_.capacity = grown;
  }
  list_.entries[list_.count++] = entry;
  return true;
}

int MaterialsReader::take_heading() {
  const std::optional<int> format = heading_format(line_.text);
  if (!format) return error("Heading is missing a file format number", {}, true, true);
  if (*format != kFormat) {
    return error(fill_in("File format %d is not supported", {}, {static_cast<double>(*format)}), {},
                 true, true);
  }
  heading_ = true;
  return 0;
}

int MaterialsReader::take_line() {
  if (line_.too_long)
    return error(fill_in("Line longer than %d characters", {}, {kLineMax}), {}, true, true);
  const std::string_view first = skip_blanks(line_.text);
  if (first.empty()) return 0;
  if (first[0] == '#') {
    // Only the first heading is one; later copies are what their '#'s make them.
    if (!heading_ && line_.text.find(kHeadingText) != std::string_view::npos) return take_heading();
    if (first.size() > 1 && first[1] == '#') return 0;
    lumen_material_t entry{};
    entry.number = LUMEN_COMMENT_ENTRY;
    copy_text(entry.comment, line_.text);
    return append(entry) ? 0 : ERR_NO_MEM;
  }
  if (!heading_) return error("Missing heading", {}, false, true);
  ++tried_;
  lumen_material_t entry{};
  if (auto fault = take_material(line_.text, entry))
    return error(fault->message, fault->hint, true, false);
  // Material numbers are 16-bit: a list that long is as full as memory.
  if (accepted_ > INT16_MAX) return ERR_NO_MEM;
  entry.number = static_cast<int16_t>(accepted_);
  if (!append(entry)) return ERR_NO_MEM;
  ++accepted_;
  return 0;
}

int MaterialsReader::run(lumen_materials_t& list) {
  int fatal = 0;
  while (fatal == 0 && read_line(f_, line_)) {
    ++line_number_;
    fatal = take_line();
  }
  if (fatal == 0 && std::ferror(f_) != 0) fatal = ERR_CANT_READ_FILE;
  if (fatal != 0) return fatal;  // whatever was accepted goes with the reader
  if (accepted_ == 0) {
    u_log_fn("No acceptable material specs found\n");
    const std::string heading(kHeadingText), word(kFormatWord);
    u_log_fn("File heading (required):\n\n## %s - %s %d\n", heading.c_str(), word.c_str(), kFormat);
    u_log_fn("Line format description:\n\n%s\n", description().c_str());
    const std::string sample(kSampleLine);
    u_log_fn("Sample line:\n\n%s\n", sample.c_str());
    return ERR_LUMEN_CORRUPT_MATLS_FILE;
  }
  if (accepted_ < tried_) u_log_fn("Accepted %d of %d material specs\n", accepted_, tried_);
  list = std::move(list_);
  return 0;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool is_absolute(std::string_view name) {
  return name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':');
}

}  // namespace

std::string_view lumen_materials_heading() {
  static const std::string heading =
      fill_in("## %s - %s %d", {kHeadingText, kFormatWord}, {kFormat});
  return heading;
}
std::string_view lumen_materials_description() { return description(); }
std::string_view lumen_materials_sample_line() { return kSampleLine; }
std::string_view lumen_materials_column_heading() { return kColumnHeading; }

int read_lumen_materials_stream(std::FILE* f, lumen_materials_t* list) {
  if (f == nullptr || list == nullptr) return ERR_INVALID_PARAM;
  MaterialsReader reader(f);
  return reader.run(*list);
}

}  // namespace felbrin

int lumen_readMaterials(const char* path, lumen_materials_t* list) {
  if (path == nullptr || list == nullptr) return ERR_INVALID_PARAM;
  const std::string shown = plat::display_path(path);
  // Binary: line ends are the reader's business, the same on every platform.
  const std::unique_ptr<std::FILE, felbrin::FileCloser> f(plat::open_file(path, "rb"));
  if (f == nullptr) {
    u_log_fn("Cannot open Lumen materials file \"%s\"\n", shown.c_str());
    return ERR_CANT_OPEN_FILE;
  }
  u_log_fn("Reading Lumen materials file \"%s\"\n", shown.c_str());
  return felbrin::read_lumen_materials_stream(f.get(), list);
}

int lumen_checkMagnifications(const sysInfo_t* info, sb_lumen_info_t* lumen) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (lumen == nullptr) return ERR_LUMEN_NO_LUMEN_INFO;
  std::fill(std::begin(lumen->lensColumn), std::end(lumen->lensColumn), -1);
  const int count = std::clamp(info->magCount, 0, SB_MAX_MAGS);
  for (int i = 0; i < count; ++i) {
    const double mag = info->nomMag[i];
    const double* lens =
        std::find_if(std::begin(lumen->lensMags), std::end(lumen->lensMags),
                     [mag](double m) { return std::fabs(m - mag) < felbrin::kLensTolerance; });
    if (lens == std::end(lumen->lensMags)) {
      u_log_fn("Magnification %s is not allowed on an Lumen system\n",
               felbrin::fixed_3_1(mag).c_str());
      return ERR_LUMEN_INVALID_MAGNIFICATION;
    }
    lumen->lensColumn[i] = static_cast<int32_t>(lens - std::begin(lumen->lensMags));
  }
  return 0;
}

int lumen_loadMaterials(sysInfo_t* info) {
  if (info == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  sb_lumen_info_t* lumen = info->lumenInfo.get();
  if (lumen == nullptr) return ERR_LUMEN_NO_LUMEN_INFO;
  lumen->materials = lumen_materials_t();
  std::string& name = lumen->materialsFile;
  if (name.empty()) {
    u_log_fn("Lumen materials file name is NULL\n");
    return ERR_INVALID_PARAM;
  }
  if (!felbrin::is_absolute(name)) {
    const char* found = nullptr;
    const int rc = u_find_file(name.c_str(), &found);
    if (rc != 0) {
      u_log_fn("Cannot access Lumen materials file \"%s\"\n",
               plat::display_path(name.c_str()).c_str());
      u_log_fn("%s\n", err_name(rc));
      return ERR_LUMEN_CANT_READ_MATLS_FILE;
    }
    try {
      name = found;
    } catch (const std::bad_alloc&) {
      return ERR_NO_MEM;
    }
  }
  const int rc = lumen_readMaterials(name.c_str(), &lumen->materials);
  if (rc != 0) {
    u_log_fn("Error reading Lumen materials file \"%s\"\n",
             plat::display_path(name.c_str()).c_str());
    u_log_fn("%s\n", err_name(rc));
    return ERR_LUMEN_CANT_READ_MATLS_FILE;
  }
  return lumen_checkMagnifications(info, lumen);
}
