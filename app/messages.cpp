#include "app/messages.h"

#include <algorithm>
#include <cstdarg>

#include "common/errors.h"

namespace app {
namespace {

MessageCollector*& active() {
  static MessageCollector* collector = nullptr;
  return collector;
}

}  // namespace

MessageCollector::MessageCollector(Annotate annotate)
    : annotate_(annotate), saved_(u_set_log_fn(&collect)) {
  active() = this;
}

MessageCollector::~MessageCollector() {
  u_set_log_fn(saved_);
  active() = nullptr;
}

std::vector<LibraryMessage> MessageCollector::take() { return std::move(messages_); }

int MessageCollector::collect(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  MessageCollector* self = active();
  if (self == nullptr) return n;
  if (text.ends_with('\n')) text.pop_back();
  LibraryMessage m{std::move(text)};
  if (self->annotate_ != nullptr) self->annotate_(m);
  self->messages_.push_back(std::move(m));
  return n;
}

std::size_t utf8_length(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  std::size_t n = 0;
  uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    n = 2, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF)
    n = 3, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4)
    n = 4, min = 0x10000;
  if (n == 0 || s.size() < n) return 0;
  uint32_t cp = lead & (0x7Fu >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i) & 0x3Fu);
  }
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  return cp < min || cp > 0x10FFFF || surrogate ? 0 : n;
}

namespace {

// U+0080 to U+009F: valid UTF-8, but control codes some terminals act on.
bool c1_control(std::string_view s) {
  return s.size() >= 2 && static_cast<unsigned char>(s[0]) == 0xC2 &&
         static_cast<unsigned char>(s[1]) < 0xA0;
}

}  // namespace

std::string printable(std::string_view text, std::string_view kept) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text[0]);
    std::size_t used = 1;
    if (c < 0x20 && kept.find(static_cast<char>(c)) != std::string_view::npos) {
      out += static_cast<char>(c);
    } else if (c == '\n' || c == '\r') {
      out += ' ';
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (const std::size_t n = c >= 0x80 ? utf8_length(text) : 0;
               n > 0 && !c1_control(text)) {
      out.append(text.substr(0, n));
      used = n;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    text.remove_prefix(used);
  }
  return out;
}

void print_message(std::FILE* err, std::string_view file, int line, std::string_view text) {
  std::string out(file);
  if (line > 0) {
    out += ':';
    out += std::to_string(line);
  }
  out += ": " + printable(text, {}) + '\n';
  std::fputs(out.c_str(), err);
}

void print_code(std::FILE* err, std::string_view file, std::string_view what, int code) {
  const std::string text =
      std::string(what) + ": " + err_name(code) + " (" + std::to_string(code) + ")";
  print_message(err, file, 0, text);
}

int parse_command_line(int argc, const char* const* argv,
                       std::initializer_list<std::string_view> known, std::string_view program,
                       const char* usage, int usage_code, std::FILE* out, std::FILE* err,
                       CommandLine& line, std::initializer_list<std::string_view> valued) {
  const auto usage_error = [&](const std::string& problem) {
    const std::string name(program);
    std::fprintf(err, "%s: %s (see %s --help)\n", name.c_str(), problem.c_str(), name.c_str());
    return usage_code;
  };
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_end || !arg.starts_with('-')) {
      line.files.push_back(argv[i]);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--help") {
      std::fputs(usage, out);
      return 0;
    } else if (std::find(known.begin(), known.end(), arg) != known.end()) {
      line.options.push_back(arg);
    } else if (const std::string_view name = arg.substr(0, arg.find('='));
               std::find(valued.begin(), valued.end(), name) != valued.end()) {
      if (name.size() < arg.size()) {
        line.values.emplace_back(name, arg.substr(name.size() + 1));
      } else if (i + 1 < argc) {
        line.values.emplace_back(name, argv[++i]);
      } else {
        return usage_error("option \"" + std::string(name) + "\" needs a value");
      }
    } else {
      return usage_error("unknown option \"" + std::string(arg) + "\"");
    }
  }
  if (line.files.empty()) return usage_error("no file given");
  return -1;
}

}  // namespace app
