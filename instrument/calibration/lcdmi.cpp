// The LCDMI configuration file. One row per channel setting serves both
// the reader (label and bounds for the value parsers) and the formatter
// (the name shown), so the two always agree on the order.
#include "instrument/calibration/lcdmi.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/parsers.h"
#include "common/text_line.h"
#include "common/util.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

// Longest line, its line end counted as one character (a CR before the LF
// does not count).
constexpr std::size_t kLineMax = 100;
constexpr const char* kDelimiters = " \t\r\n";
constexpr int kOptionMax = 256;
// Width of the names in the formatted text.
constexpr std::size_t kNameWidth = 13;
constexpr std::size_t kPrintSize = 999;

std::string format_text(const char* format, ...) FELBRIN_PRINTF(1, 2);
std::string format_text(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return n > 0 ? std::string(buffer, std::min(static_cast<std::size_t>(n), sizeof buffer - 1))
               : std::string();
}

enum class Kind { kInt, kReal, kText };

struct ChannelField {
  const char* label;  // in the parsers' messages
  const char* name;   // in the formatted text
  Kind kind;
  int lo, hi;                        // bounds; the length limit of a text
  int32_t lcdmi_channel_t::*member;  // integers only
};

// In file order; the channel id comes first.
constexpr ChannelField kChannelFields[] = {
    {"channel ID", "Chan ID", Kind::kInt, 1, LCDMI_CHANNELS, &lcdmi_channel_t::id},
    {"disabled", "Disabled", Kind::kInt, 0, 1, &lcdmi_channel_t::disabled},
    {"output type", "Output Type", Kind::kInt, 0, 1, &lcdmi_channel_t::outputType},
    {"polarity", "Polarity", Kind::kInt, 0, 1, &lcdmi_channel_t::polarity},
    {"resolution", "Resolution", Kind::kInt, 0, 3, &lcdmi_channel_t::resolution},
    {"filter cutoff frequency", "Filt Cut Freq", Kind::kInt, 0, 7, &lcdmi_channel_t::filterCutoff},
    {"nominal data rate", "Nom Data Rate", Kind::kInt, 0, 3, &lcdmi_channel_t::nomDataRate},
    {"scale factor", "Scale Factor", Kind::kReal, -99, 99, nullptr},
    {"label", "Label", Kind::kText, LCDMI_LABEL_MAX, 0, nullptr},
};

consteval bool names_fit() {
  for (const ChannelField& f : kChannelFields)
    if (std::string_view(f.name).size() > kNameWidth) return false;
  return true;
}
static_assert(names_fit(), "a channel setting's name is wider than its column");

// Each keyword reader takes the rest of the tokenized line and returns the
// error message, or an empty text.
using KeywordFn = std::string (*)(lcdmi_config_t& config);

std::string read_channel(lcdmi_config_t& config) {
  char message[U_PARSE_MESSAGE_SIZE];
  lcdmi_channel_t entry{};
  for (const ChannelField& f : kChannelFields) {
    bool ok = false;
    if (f.kind == Kind::kInt) {
      int v = 0;
      ok = u_parse_int_token(nullptr, kDelimiters, f.label, f.lo, f.hi, message, &v);
      entry.*f.member = v;
    } else if (f.kind == Kind::kReal) {
      ok = u_parse_double_token(nullptr, kDelimiters, f.label, f.lo, f.hi, message,
                                &entry.scaleFactor);
    } else {
      ok = u_parse_string_token(nullptr, kDelimiters, f.label, f.lo, message, entry.label);
    }
    if (!ok) return message;
  }
  lcdmi_channel_t& slot = config.chan[entry.id - 1];
  entry.avgInput = slot.avgInput;  // set by AvgChannels, before or after
  slot = entry;
  if (entry.disabled == 0 && config.primChan == 0) config.primChan = entry.id;
  return {};
}

std::string read_diag_opts(lcdmi_config_t& config) {
  uint32_t bits = static_cast<uint32_t>(config.diagOpts);
  int v = 0;
  while (u_parse_int_token(nullptr, kDelimiters, "diagnostic option", 0, kOptionMax, nullptr, &v)) {
    if (v > 0) bits |= uint32_t{1} << ((v - 1) % 32);
  }
  config.diagOpts = static_cast<int32_t>(bits);
  return {};
}

std::string read_avg_channels(lcdmi_config_t& config) {
  config.avgInputs = 1;
  int v = 0;
  while (
      u_parse_int_token(nullptr, kDelimiters, "average input option", 0, kOptionMax, nullptr, &v)) {
    if (v < 1 || v > LCDMI_CHANNELS) return format_text("Invalid channel number %d.\r\n", v);
    config.chan[v - 1].avgInput = 1;
  }
  return {};
}

struct Keyword {
  const char* name;
  KeywordFn read;
};

// After the Version line; a second Version line is unrecognized.
constexpr Keyword kKeywords[] = {
    {"CHANNEL", read_channel},
    {"DIAGOPTS", read_diag_opts},
    {"AVGCHANNELS", read_avg_channels},
};

std::string read_version(const char* keyword) {
  if (strxcmp(keyword, "VERSION") != 0)
    return "The first non-comment line must be a Version statement.\r\n";
  char message[U_PARSE_MESSAGE_SIZE];
  int v = 0;
  if (!u_parse_int_token(nullptr, kDelimiters, "version number", 0, 99, message, &v))
    return message;
  if (v != 2 && v != 3)
    return format_text("This program requires a version %d or %d configuration file.\r\n", 2, 3);
  return {};
}

std::string read_keyword(const char* keyword, lcdmi_config_t& config) {
  for (const Keyword& k : kKeywords)
    if (strxcmp(keyword, k.name) == 0) return k.read(config);
  return format_text("Unrecognized token \"%.40s\"\r\n", keyword);
}

// ---- formatting

class Pieces {
 public:
  Pieces(char* text, std::size_t capacity) : text_(text), capacity_(capacity) { *text_ = '\0'; }

  // Adds the piece whole, or stops for good when it would not fit.
  void add(std::string_view piece) {
    if (stopped_ || used_ + piece.size() >= capacity_) {
      stopped_ = true;
      return;
    }
    std::memcpy(text_ + used_, piece.data(), piece.size());
    used_ += piece.size();
    text_[used_] = '\0';
  }

 private:
  char* text_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  bool stopped_ = false;
};

std::string_view int_text(char (&buffer)[FMT_MAX_CHARS], int32_t v) {
  return {buffer, static_cast<std::size_t>(fmt_int(buffer, v) - buffer)};
}

// "  %-13s =" followed by the pieces of `rest`.
std::string named(std::string_view name, std::initializer_list<std::string_view> rest) {
  std::string line = "  ";
  line += name;
  line.resize(2 + kNameWidth, ' ');
  line += " =";
  for (const std::string_view piece : rest) line += piece;
  return line;
}

std::string named_int(std::string_view name, int32_t v) {
  char digits[FMT_MAX_CHARS];
  return named(name, {" ", int_text(digits, v), "\r\n"});
}

void format_channel(Pieces& out, int number, const lcdmi_channel_t& c) {
  char digits[FMT_MAX_CHARS];
  std::string heading = "Channel ";
  heading += int_text(digits, number);
  heading += ":\r\n";
  out.add(heading);
  for (const ChannelField& f : kChannelFields) {
    if (f.kind == Kind::kInt) {
      out.add(named_int(f.name, c.*f.member));
    } else if (f.kind == Kind::kReal) {
      const std::string_view g(digits,
                               static_cast<std::size_t>(fmt_g(digits, c.scaleFactor) - digits));
      out.add(named(f.name, {" ", g, "\r\n"}));
    } else {
      // The label of a record not made by the reader may lack its terminator.
      const char* end = std::find(c.label, c.label + sizeof c.label, '\0');
      out.add(named(
          f.name,
          {" \"", std::string_view(c.label, static_cast<std::size_t>(end - c.label)), "\"\r\n"}));
    }
  }
}

}  // namespace

int lcdmi_read_config_stream(std::FILE* f, const char* name, lcdmi_config_t* config,
                             std::string* message) {
  if (message != nullptr) message->clear();
  if (f == nullptr || config == nullptr) return ERR_INVALID_PARAM;
  *config = lcdmi_config_t{};
  TextLine line;
  std::string work;
  bool versioned = false;
  int number = 0;
  while (read_text_line(f, kLineMax + 1, line)) {
    ++number;
    std::string why;
    bool show_line = true;
    if (line.length + (line.line_feed ? 1 : 0) > kLineMax) {
      why = format_text("Line longer than %d characters\r\n", static_cast<int>(kLineMax));
      show_line = false;
    } else {
      work = line.text;
      const char* keyword = u_strtok(work.data(), kDelimiters);
      if (keyword == nullptr || keyword[0] == '#') continue;
      why = versioned ? read_keyword(keyword, *config) : read_version(keyword);
      versioned = true;
    }
    if (why.empty()) continue;
    if (message != nullptr) {
      *message = "Error reading LCDMI configuration file \"";
      *message += name != nullptr ? name : "";
      *message += "\"\r\n" + why;
      *message += show_line ? format_text("Error in line %d:\r\n  ", number) + line.text.c_str()
                            : format_text("Error in line %d\r\n", number);
    }
    return ERR_LCDMI_CONFIG;
  }
  return 0;
}

}  // namespace felbrin

int lcdmi_read_config(const char* path, lcdmi_config_t* config, std::string* message) {
  if (message != nullptr) message->clear();
  if (path == nullptr || config == nullptr) return ERR_INVALID_PARAM;
  const std::string shown = plat::display_path(path);
  // Binary: the reader removes the line ends itself, the same on every platform.
  std::FILE* f = plat::open_file(path, "rb");
  if (f == nullptr) {
    if (message != nullptr) *message = "Cannot open LCDMI configuration file \"" + shown + "\"\r\n";
    return ERR_CANT_OPEN_FILE;
  }
  const int rc = felbrin::lcdmi_read_config_stream(f, shown.c_str(), config, message);
  std::fclose(f);
  return rc;
}

char* lcdmi_format_config(const lcdmi_config_t* config, char* text, std::size_t capacity) {
  using namespace felbrin;
  if (config == nullptr || text == nullptr || capacity < 1) return nullptr;
  Pieces out(text, capacity);
  out.add("LCDMI configuration:\r\n");
  out.add(named("Diag Opts", {}));
  const uint32_t bits = static_cast<uint32_t>(config->diagOpts);
  char digits[FMT_MAX_CHARS];
  // Only options 1 to 9 are listed, though the set holds 32.
  for (int option = 1; option <= 9; ++option)
    if ((bits & (uint32_t{1} << (option - 1))) != 0) {
      std::string piece = " ";
      piece += int_text(digits, option);
      out.add(piece);
    }
  out.add(bits == 0 ? " 0\r\n" : "\r\n");
  out.add(named_int("Prim Chan ID", config->primChan));
  for (int i = 0; i < LCDMI_CHANNELS; ++i) format_channel(out, i + 1, config->chan[i]);
  return text;
}

void lcdmi_print_config(std::FILE* stream, const lcdmi_config_t* config) {
  if (stream == nullptr) return;
  char text[felbrin::kPrintSize];
  if (lcdmi_format_config(config, text, sizeof text) != nullptr) std::fputs(text, stream);
}
