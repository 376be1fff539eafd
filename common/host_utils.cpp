#include "common/host_utils.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/hooks.h"
#include "common/host.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

namespace {

// Character classes by ASCII rules: the C classification functions are
// undefined for negative char values, which non-ASCII bytes are.
bool is_blank_char(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

constexpr bool kWindowsPaths = plat::kSep == '\\';

bool is_separator(char c) { return c == '/' || (kWindowsPaths && c == '\\'); }

// Copies text with its terminator when it fits in `size` bytes; otherwise
// leaves "" and answers false.
bool copy_out(std::string_view text, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return false;
  if (text.size() + 1 > size) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return true;
}

// The marked wide form of UTF-16 units: 0xFFFE, the units, a zero unit.
std::string marked_bytes(std::u16string_view units) {
  std::u16string all(1, char16_t{0xFFFE});
  all += units;
  all.push_back(u'\0');
  std::string bytes(all.size() * sizeof(char16_t), '\0');
  std::memcpy(bytes.data(), all.data(), bytes.size());
  return bytes;
}

// ---------------------------------------------------------------- formats

enum class Length { none, hh, h, l, ll, L, z, j, t };
enum class Kind { string, narrow_char, wide_char, signed_int, unsigned_int, floating };

// One conversion, as parsed and, after its arguments are
// read, with "*" replaced by the values given.
struct Conversion {
  std::string flags;
  int width = -1;
  bool width_star = false;
  int precision = -1;
  bool precision_star = false;
  Length length = Length::none;
  char conversion = 0;
  Kind kind = Kind::string;
};

// Wider fields are refused: no use of the library needs them, and a result
// that large would not fit any buffer anyway.
constexpr int kMaxField = 99999;
constexpr std::size_t kMaxStringArg = 512;

template <class Ch>
bool read_number(std::basic_string_view<Ch> f, std::size_t& i, int& value) {
  long n = 0;
  while (i < f.size() && f[i] >= Ch('0') && f[i] <= Ch('9')) {
    n = n * 10 + static_cast<long>(f[i] - Ch('0'));
    if (n > kMaxField) return false;
    ++i;
  }
  value = static_cast<int>(n);
  return true;
}

// Parses the conversion that starts after a '%' at f[i]. Returns the
// index after it, or npos when it is incomplete or not supported.
template <class Ch>
std::size_t parse_conversion(std::basic_string_view<Ch> f, std::size_t i, Conversion& s) {
  constexpr std::size_t kBad = std::string_view::npos;
  while (i < f.size() && f[i] < 0x80 &&
         std::string_view("-+ #0").find(static_cast<char>(f[i])) != kBad)
    s.flags += static_cast<char>(f[i++]);
  if (i < f.size() && f[i] == Ch('*')) {
    s.width_star = true;
    ++i;
  } else {
    const std::size_t start = i;
    int width = 0;
    if (!read_number(f, i, width)) return kBad;
    s.width = i > start ? width : -1;
  }
  if (i < f.size() && f[i] == Ch('.')) {
    ++i;
    if (i < f.size() && f[i] == Ch('*')) {
      s.precision_star = true;
      ++i;
    } else if (!read_number(f, i, s.precision)) {
      return kBad;
    }
  }
  auto next_is = [&](std::string_view text) {
    if (f.size() - i < text.size()) return false;
    for (std::size_t k = 0; k < text.size(); ++k)
      if (f[i + k] != static_cast<Ch>(text[k])) return false;
    i += text.size();
    return true;
  };
  if (next_is("hh"))
    s.length = Length::hh;
  else if (next_is("h"))
    s.length = Length::h;
  else if (next_is("ll"))
    s.length = Length::ll;
  else if (next_is("l"))
    s.length = Length::l;
  else if (next_is("L"))
    s.length = Length::L;
  else if (next_is("I64"))
    s.length = Length::ll;
  else if (next_is("I32"))
    s.length = Length::none;
  else if (next_is("z"))
    s.length = Length::z;
  else if (next_is("j"))
    s.length = Length::j;
  else if (next_is("t"))
    s.length = Length::t;
  if (i >= f.size() || f[i] >= 0x80) return kBad;
  s.conversion = static_cast<char>(f[i++]);
  const Length len = s.length;
  switch (s.conversion) {
    case 's':
    case 'S': s.kind = Kind::string; return len == Length::none ? i : kBad;
    case 'c':
      s.kind = len == Length::l ? Kind::wide_char : Kind::narrow_char;
      return len == Length::none || len == Length::l ? i : kBad;
    case 'C': s.kind = Kind::wide_char; return len == Length::none ? i : kBad;
    case 'd':
    case 'i': s.kind = Kind::signed_int; return len != Length::L ? i : kBad;
    case 'o':
    case 'u':
    case 'x':
    case 'X': s.kind = Kind::unsigned_int; return len != Length::L ? i : kBad;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
      s.kind = Kind::floating;
      return len == Length::none || len == Length::l || len == Length::L ? i : kBad;
    default: return kBad;
  }
}

// Walks a format: literal text goes to `on_text`, each conversion to
// `on_conversion`. "%%" is one literal '%'; a '%' before a blank is literal too
// and is not counted as a conversion. False when a conversion is not
// supported or a handler answers false.
template <class Ch, class OnText, class OnConversion>
bool walk_format(std::basic_string_view<Ch> f, OnText on_text, OnConversion on_conversion) {
  std::size_t i = 0;
  while (i < f.size()) {
    std::size_t p = i;
    while (p < f.size() && f[p] != Ch('%')) ++p;
    if (p > i) on_text(f.substr(i, p - i));
    if (p == f.size()) break;
    if (p + 1 < f.size() && (f[p + 1] == Ch('%') || f[p + 1] == Ch(' '))) {
      on_text(f.substr(p, 1));
      i = f[p + 1] == Ch('%') ? p + 2 : p + 1;
      continue;
    }
    Conversion conversion;
    const std::size_t end = parse_conversion(f, p + 1, conversion);
    if (end == std::string_view::npos || !on_conversion(conversion)) return false;
    i = end;
  }
  return true;
}

// A va_list copy owned for the length of one pass over the arguments.
class ArgList {
 public:
  explicit ArgList(va_list args) { va_copy(ap_, args); }
  ~ArgList() { va_end(ap_); }
  ArgList(const ArgList&) = delete;
  ArgList& operator=(const ArgList&) = delete;
  template <class T>
  T next() {
    return va_arg(ap_, T);
  }

 private:
  va_list ap_;
};

struct Value {
  long long i = 0;
  unsigned long long u = 0;
  double d = 0;
  long double ld = 0;
  const char* s = nullptr;
};

// Reads the arguments of one conversion, in order: "*" width, "*"
// precision, then the value, each with the type its length modifier names.
Value read_value(ArgList& args, Conversion& s) {
  if (s.width_star) {
    const int w = args.next<int>();
    if (w < 0) s.flags += '-';
    s.width = w == INT_MIN ? kMaxField : std::min(w < 0 ? -w : w, kMaxField);
  }
  if (s.precision_star) {
    const int p = args.next<int>();
    s.precision = p < 0 ? -1 : std::min(p, kMaxField);
  }
  Value v;
  switch (s.kind) {
    case Kind::string: v.s = args.next<const char*>(); break;
    case Kind::narrow_char:
    case Kind::wide_char: v.i = args.next<int>(); break;
    case Kind::signed_int:
      switch (s.length) {
        case Length::hh: v.i = static_cast<signed char>(args.next<int>()); break;
        case Length::h: v.i = static_cast<short>(args.next<int>()); break;
        case Length::l: v.i = args.next<long>(); break;
        case Length::ll: v.i = args.next<long long>(); break;
        case Length::z: v.i = static_cast<long long>(args.next<std::size_t>()); break;
        case Length::j: v.i = static_cast<long long>(args.next<std::intmax_t>()); break;
        case Length::t: v.i = static_cast<long long>(args.next<std::ptrdiff_t>()); break;
        default: v.i = args.next<int>(); break;
      }
      break;
    case Kind::unsigned_int:
      switch (s.length) {
        case Length::hh: v.u = static_cast<unsigned char>(args.next<unsigned>()); break;
        case Length::h: v.u = static_cast<unsigned short>(args.next<unsigned>()); break;
        case Length::l: v.u = args.next<unsigned long>(); break;
        case Length::ll: v.u = args.next<unsigned long long>(); break;
        case Length::z: v.u = args.next<std::size_t>(); break;
        case Length::j: v.u = static_cast<unsigned long long>(args.next<std::uintmax_t>()); break;
        case Length::t: v.u = static_cast<unsigned long long>(args.next<std::ptrdiff_t>()); break;
        default: v.u = args.next<unsigned>(); break;
      }
      break;
    case Kind::floating:
      if (s.length == Length::L)
        v.ld = args.next<long double>();
      else
        v.d = args.next<double>();
      break;
  }
  return v;
}

// A number through the standard formatter with the parsed flags, width and
// precision; integers go through the widest types.
std::string format_number(const Conversion& s, const Value& v) {
  std::string f = "%" + s.flags;
  if (s.width >= 0) f += std::to_string(s.width);
  if (s.precision >= 0) f += "." + std::to_string(s.precision);
  if (s.kind == Kind::floating && s.length == Length::L) f += 'L';
  if (s.kind != Kind::floating) f += "ll";
  f += s.conversion;
  auto print = [&](char* out, std::size_t n) {
    switch (s.kind) {
      case Kind::signed_int: return std::snprintf(out, n, f.c_str(), v.i);
      case Kind::unsigned_int: return std::snprintf(out, n, f.c_str(), v.u);
      default:
        return s.length == Length::L ? std::snprintf(out, n, f.c_str(), v.ld)
                                     : std::snprintf(out, n, f.c_str(), v.d);
    }
  };
  const int n = print(nullptr, 0);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  print(out.data(), out.size());
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Width and precision applied to text, as the standard formatter does.
std::u16string fit_field(std::u16string text, const Conversion& s) {
  if (s.kind == Kind::string && s.precision >= 0 &&
      text.size() > static_cast<std::size_t>(s.precision))
    text.resize(static_cast<std::size_t>(s.precision));
  if (s.width > 0 && text.size() < static_cast<std::size_t>(s.width)) {
    const std::u16string pad(static_cast<std::size_t>(s.width) - text.size(), u' ');
    text = s.flags.find('-') != std::string::npos ? text + pad : pad + text;
  }
  return text;
}

std::u16string widen(std::string_view text) {
  std::u16string out;
  if (!plat::host::narrow_to_wide(text, out)) out = plat::to_utf16(text);
  return out;
}

std::u16string string_argument(const char* p) {
  if (p == nullptr) return {};
  std::u16string units = plat::is_wide_marked(p) ? plat::wide_units(p) : widen(p);
  if (units.size() > kMaxStringArg) units.resize(kMaxStringArg);
  return units;
}

// ---------------------------------------------------------------- paths

// A path as a root and its components, with "." and ".." resolved.
struct SplitPath {
  std::string root;
  std::vector<std::string> parts;
};

bool same_name(std::string_view a, std::string_view b) {
  if (!kWindowsPaths) return a == b;
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lower_ascii(x) == lower_ascii(y);
         });
}

void add_components(std::string_view rest, std::vector<std::string>& parts) {
  std::size_t i = 0;
  while (i <= rest.size()) {
    std::size_t j = i;
    while (j < rest.size() && !is_separator(rest[j])) ++j;
    const std::string_view part = rest.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    i = j + 1;
  }
}

// Splits an absolute path; false when it is not one.
bool split_absolute(std::string_view p, SplitPath& out) {
  std::size_t rest = 0;
  if (kWindowsPaths && p.size() >= 3 && is_letter(p[0]) && p[1] == ':' && is_separator(p[2])) {
    out.root = p.substr(0, 2);
    rest = 3;
  } else if (kWindowsPaths && p.size() >= 2 && is_separator(p[0]) && is_separator(p[1])) {
    // \\server\share is the root of a network path.
    std::size_t i = 2;
    while (i < p.size() && !is_separator(p[i])) ++i;
    i = std::min(i + 1, p.size());
    while (i < p.size() && !is_separator(p[i])) ++i;
    out.root = p.substr(0, i);
    rest = std::min(i + 1, p.size());
  } else if (!p.empty() && is_separator(p[0])) {
    out.root = kWindowsPaths ? "" : "/";  // Windows: the root of the current drive
    rest = 1;
  } else {
    return false;
  }
  out.parts.clear();
  add_components(p.substr(rest), out.parts);
  return true;
}

std::string join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += plat::kSep;
    out += part;
  }
  return out;
}

// The working-directory-relative form of `path` ("" when it cannot be formed).
std::string relative_to_cwd(std::string_view path) {
  std::string cwd_text;
  SplitPath cwd, target;
  if (!plat::host::current_dir(cwd_text) || !split_absolute(cwd_text, cwd)) return {};
  if (split_absolute(path, target)) {
    if (kWindowsPaths && target.root.empty()) target.root = cwd.root;
  } else {
    // A drive-relative name ("C:x") names another drive's directory.
    if (kWindowsPaths && path.size() >= 2 && path[1] == ':') return {};
    target.root = cwd.root;
    target.parts = cwd.parts;
    add_components(path, target.parts);
  }
  if (!same_name(cwd.root, target.root) || target.parts.empty()) return {};
  std::size_t common = 0;
  while (common < cwd.parts.size() && common + 1 < target.parts.size() &&
         same_name(cwd.parts[common], target.parts[common]))
    ++common;
  std::vector<std::string> rel(cwd.parts.size() - common, "..");
  rel.insert(rel.end(), target.parts.begin() + static_cast<std::ptrdiff_t>(common),
             target.parts.end());
  return join(rel);
}

// Step 1 of opening a directory list: drop one trailing separator, and name
// a bare drive as a directory ("C:\" -> "C:\.", "C:" -> "C:.").
template <class S>
void name_as_directory(S& p) {
  using Ch = typename S::value_type;
  bool removed = false;
  if (p.size() >= 2 && (p.back() == Ch('\\') || p.back() == Ch('/'))) {
    p.pop_back();
    removed = true;
  }
  if (kWindowsPaths && !p.empty() && p.back() == Ch(':')) {
    if (removed) p += Ch('\\');
    p += Ch('.');
  }
}

// ---------------------------------------------------------------- modules

constexpr const char* kModulesName = "ntGetLoadedModules";
constexpr int kMaxModules = 255;

std::string version_text(const std::int32_t v[4]) {
  char text[64];
  if (v[0] < 0) return {};
  if (v[3] < 0)
    std::snprintf(text, sizeof text, "%d.%d.%d", v[0], v[1], v[2]);
  else
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
  return text;
}

bool less_ignoring_case(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(lower_ascii(x)) < static_cast<unsigned char>(lower_ascii(y));
  });
}

}  // namespace

// ================================================================= text

int u_to_narrow(const char16_t* wide, char* buffer, int size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (wide == nullptr || size < 0 || (buffer == nullptr && size != 0)) return 0;
  std::string out;
  if (!plat::host::wide_to_narrow(std::u16string_view(wide), out)) return 0;
  const auto needed = static_cast<long long>(out.size()) + 1;
  if (needed > INT_MAX) return 0;
  if (buffer == nullptr) return static_cast<int>(needed);
  if (!copy_out(out, buffer, static_cast<std::size_t>(size))) return 0;
  return static_cast<int>(needed);
}

int u_to_wide(const char* narrow, char16_t* buffer, int size) {
  if (buffer != nullptr && size > 0) buffer[0] = u'\0';
  if (narrow == nullptr || size < 0 || (buffer == nullptr && size != 0)) return 0;
  std::u16string out;
  if (!plat::host::narrow_to_wide(narrow, out)) return 0;
  const auto needed = static_cast<long long>(out.size()) + 1;
  if (needed > INT_MAX) return 0;
  if (buffer == nullptr) return static_cast<int>(needed);
  if (needed > size) return 0;
  std::copy(out.begin(), out.end(), buffer);
  buffer[out.size()] = u'\0';
  return static_cast<int>(needed);
}

int u_wformat_check(va_list args, const char* format, int* count, int* wide) {
  int n = 0;
  int marked = 0;
  const auto no_text = [](std::string_view) {};
  bool ok = format != nullptr;
  // Look at the whole format before reading any argument.
  if (ok) {
    ok = walk_format(std::string_view(format), no_text, [&](Conversion&) {
      ++n;
      return true;
    });
  }
  if (ok) {
    ArgList list(args);
    walk_format(std::string_view(format), no_text, [&](Conversion& s) {
      const Value v = read_value(list, s);
      if (s.kind == Kind::string && plat::is_wide_marked(v.s)) marked = 1;
      return true;
    });
  } else {
    n = -1;
  }
  if (count != nullptr) *count = n;
  if (wide != nullptr) *wide = marked;
  return n;
}

int u_wformat(va_list args, int count, const char* format, char16_t* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 1;
  buffer[0] = u'\0';
  if (format == nullptr) return 1;
  const std::u16string wide_format = widen(format);
  const std::u16string_view f = wide_format;

  int conversions = 0;
  const auto no_text = [](std::u16string_view) {};
  const bool valid = walk_format(f, no_text, [&](Conversion&) {
    ++conversions;
    return true;
  });
  if (!valid || conversions != count) return 1;

  std::u16string out;
  ArgList list(args);
  const bool ok = walk_format(
      f, [&](std::u16string_view text) { out += text; },
      [&](Conversion& s) {
        const Value v = read_value(list, s);
        switch (s.kind) {
          case Kind::string: out += fit_field(string_argument(v.s), s); break;
          case Kind::narrow_char:
            out += fit_field(widen(std::string(1, static_cast<char>(v.i))), s);
            break;
          case Kind::wide_char:
            out += fit_field(std::u16string(1, static_cast<char16_t>(v.i)), s);
            break;
          default: out += widen(format_number(s, v)); break;
        }
        // Stop early rather than build a result that cannot fit.
        return out.size() < capacity;
      });
  if (!ok) return 1;
  if (out.empty() || (out[0] != 0xFFFE && out[0] != 0xFEFF))
    out.insert(out.begin(), char16_t{0xFFFE});
  if (out.size() + 1 > capacity) return 1;
  std::copy(out.begin(), out.end(), buffer);
  buffer[out.size()] = u'\0';
  return 0;
}

// ================================================================= registry, versions

int u_read_registry_string(u_reg_root_t root, const char* sub_key, const char* value_name,
                           char* buffer, std::size_t size) {
  plat::host::RegRoot r = plat::host::RegRoot::LocalMachine;
  switch (root) {
    case u_reg_root_t::classes_root: r = plat::host::RegRoot::ClassesRoot; break;
    case u_reg_root_t::current_user: r = plat::host::RegRoot::CurrentUser; break;
    case u_reg_root_t::local_machine: r = plat::host::RegRoot::LocalMachine; break;
    case u_reg_root_t::users: r = plat::host::RegRoot::Users; break;
  }
  return plat::host::read_registry_string(r, sub_key, value_name, buffer, size) ? 0 : 1;
}

int u_file_internal_name(const char* path, char* buffer, std::size_t size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  std::string name;
  if (!plat::host::file_internal_name(path, name)) return 1;
  return copy_out(name, buffer, size) ? 0 : 1;
}

void u_module_version(void* module, u_module_info_t* info) {
  if (info == nullptr) return;
  std::fill(std::begin(info->version), std::end(info->version), -1);
  if (plat::host::file_fixed_version(info->path, info->version)) return;
  plat::host::dll_get_version(module, info->version);
}

int u_log_loaded_modules() {
  using plat::host::ModuleScan;
  std::vector<plat::host::Module> modules;
  switch (plat::host::loaded_modules(modules, kMaxModules)) {
    case ModuleScan::Ok: break;
    case ModuleScan::NoLibrary:
      u_log_fn("%s: LoadLibrary(\"PSAPI.DLL\") failed\n", kModulesName);
      return 0;
    case ModuleScan::NoEnumFunction:
      u_log_fn("%s: GetProcAddress(\"EnumProcessModules\") failed\n", kModulesName);
      return 0;
    case ModuleScan::NoNameFunction:
      u_log_fn("%s: GetProcAddress(\"GetModuleFileNameExA\") failed\n", kModulesName);
      return 0;
    case ModuleScan::EnumFailed:
      u_log_fn("%s: EnumProcessModules failed\n", kModulesName);
      return 0;
    case ModuleScan::TooMany: u_log_fn("%s: Too many loaded modules\n", kModulesName); return 0;
    case ModuleScan::NameFailed:
      u_log_fn("%s: GetModuleFileNameExA failed\n", kModulesName);
      return 0;
  }
  if (modules.empty()) {
    u_log_fn("%s: No loaded DLLs\n", kModulesName);
    return 0;
  }

  struct Row {
    std::string name, dir, version, time;
    std::int64_t size;
  };
  std::vector<Row> rows;
  for (const plat::host::Module& m : modules) {
    std::int64_t size = 0, mtime = 0;
    if (!plat::host::file_size_mtime(m.path.c_str(), size, mtime)) {
      u_log_fn("%s: _stat(\"%s\") failed\n", kModulesName, m.path.c_str());
      return 0;
    }
    u_module_info_t info{m.path.c_str(), {}};
    u_module_version(m.handle, &info);
    Row row{{}, {}, version_text(info.version), {}, size};
    const std::size_t cut = m.path.find_last_of(plat::kSep);
    row.name = cut == std::string::npos ? m.path : m.path.substr(cut + 1);
    row.dir = cut == std::string::npos ? std::string() : m.path.substr(0, cut);
    std::tm tm{};
    char when[64] = "";
    if (plat::host::local_time(mtime, tm))
      std::strftime(when, sizeof when, "%m/%d/%Y %I:%M %p", &tm);
    row.time = when;
    rows.push_back(std::move(row));
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return less_ignoring_case(a.name, b.name); });
  std::size_t width = 0;
  for (const Row& r : rows) width = std::max(width, r.name.size());

  u_log_fn("\n%d loaded DLLs (file name, version, size in bytes, last modified, location):\n",
           static_cast<int>(rows.size()));
  for (const Row& r : rows)
    u_log_fn("%-*s  %25s  %8d  %s  %s\n", static_cast<int>(width), r.name.c_str(),
             r.version.c_str(), static_cast<int>(std::min<std::int64_t>(r.size, INT_MAX)),
             r.time.c_str(), r.dir.c_str());
  u_log_fn("\n");
  return 0;
}

// ================================================================= drives, volumes, paths

int u_logical_drives(int size, char* buffer) { return plat::host::logical_drives(buffer, size); }

int u_path_root(const char* path, char* buffer, std::size_t size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (path == nullptr || buffer == nullptr) return 0;
  std::string_view p = path;
  while (!p.empty() && is_blank_char(p.front())) p.remove_prefix(1);
  std::string root;
  if (p.size() >= 3 && is_letter(p[0]) && p[1] == ':' && p[2] == '\\') {
    root = p.substr(0, 3);
  } else if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    const std::size_t server_end = p.find('\\', 2);
    if (server_end == std::string_view::npos || server_end == 2) return 0;
    const std::size_t share_end = std::min(p.find('\\', server_end + 1), p.size());
    if (share_end == server_end + 1) return 0;
    root = std::string(p.substr(0, share_end)) + '\\';
  } else if (!kWindowsPaths && !p.empty() && p[0] == '/') {
    root = "/";
  } else {
    return 0;
  }
  return copy_out(root, buffer, size) ? 1 : 0;
}

int u_check_volume(const char* path) {
  char root[U_MAX_PATH + 1];
  if (u_path_root(path, root, sizeof root) == 0) return 2;
  return plat::host::check_volume_root(root);
}

int u_relative_path(const char* path, char* buffer, std::size_t size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (path == nullptr || buffer == nullptr || size == 0) return 0;
  std::string text;
  if (plat::is_wide_marked(path)) {
    if (!plat::host::wide_to_narrow(plat::wide_units(path), text)) return 0;
  } else {
    text = path;
  }
  if (text.empty() || is_separator(text.back()) || (kWindowsPaths && text.back() == ':')) return 0;

  const std::size_t cut = text.find_last_of(kWindowsPaths ? "\\/" : "/");
  if (cut == std::string::npos && text.find(':') == std::string::npos)
    return copy_out(text, buffer, size) ? 1 : 0;
  const std::string rel = relative_to_cwd(text);
  const std::string& result = !rel.empty() && rel.size() < text.size() ? rel : text;
  return copy_out(result, buffer, size) ? 1 : 0;
}

// ================================================================= programs

int u_run_command(const char* command_line, int show_mode) {
  std::string_view line = command_line != nullptr ? command_line : "";
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  plat::host::SpawnOptions options;
  options.show_mode = show_mode;
  options.new_console = true;
  options.inherit = true;
  options.wait = true;
  int exit_code = 0;
  int err = plat::host::spawn(std::string(line), options, exit_code);
  if (err != 0) {
    // Not a program (a shell built-in, say): let the shell run it.
    options.new_console = false;
    err = plat::host::spawn_shell(std::string(line), options, exit_code);
  }
  return err != 0 ? err : exit_code;
}

int u_start_process(const char* command_line, int show_mode, bool wait) {
  plat::host::SpawnOptions options;
  options.show_mode = show_mode;
  options.inherit = false;
  options.wait = wait;
  int exit_code = 0;
  const int err =
      plat::host::spawn(command_line != nullptr ? command_line : "", options, exit_code);
  if (err != 0) return err;
  return wait ? exit_code : 0;
}

// ================================================================= directory list

struct u_dir_name_t {
  u_dir_name_t* next;
  char* name;
};

struct u_dir_t {
  u_dir_name_t* first;
  u_dir_name_t* current;
  long position;
};

namespace {

u_dir_entry_t g_dir_entry{};

struct DirCloser {
  void operator()(u_dir_t* dir) const { u_dir_close(dir); }
};

}  // namespace

u_dir_t* u_dir_open(const char* path) {
  if (path == nullptr) return nullptr;
  std::string dir;
  if (plat::is_wide_marked(path)) {
    std::u16string units = plat::wide_units(path);
    name_as_directory(units);
    dir = marked_bytes(units);
  } else {
    dir = path;
    name_as_directory(dir);
  }
  if (!plat::is_directory(dir.c_str())) return nullptr;

  auto* raw = static_cast<u_dir_t*>(u_malloc_fn(sizeof(u_dir_t)));
  if (raw == nullptr) return nullptr;
  *raw = u_dir_t{nullptr, nullptr, 0};
  std::unique_ptr<u_dir_t, DirCloser> list(raw);
  u_dir_name_t** tail = &list->first;
  const bool listed = plat::host::list_dir(dir.c_str(), [&](const char* name) {
    auto* node = static_cast<u_dir_name_t*>(u_malloc_fn(sizeof(u_dir_name_t)));
    if (node == nullptr) return false;
    const std::size_t n = std::strlen(name) + 1;
    *node = u_dir_name_t{nullptr, static_cast<char*>(u_malloc_fn(n))};
    *tail = node;  // linked first, so a failure below still releases it
    tail = &node->next;
    if (node->name == nullptr) return false;
    std::memcpy(node->name, name, n);
    return true;
  });
  if (!listed) return nullptr;
  list->current = list->first;
  return list.release();
}

const u_dir_entry_t* u_dir_read(u_dir_t* dir) {
  if (dir == nullptr || dir->current == nullptr) return nullptr;
  const auto length = static_cast<std::int32_t>(std::strlen(dir->current->name));
  g_dir_entry = u_dir_entry_t{static_cast<std::int32_t>(dir->position + 1), length, length,
                              dir->current->name};
  dir->current = dir->current->next;
  ++dir->position;
  return &g_dir_entry;
}

void u_dir_seek(u_dir_t* dir, long position) {
  if (dir == nullptr || position < 0) return;
  dir->current = dir->first;
  dir->position = 0;
  while (dir->position < position && dir->current != nullptr) {
    dir->current = dir->current->next;
    ++dir->position;
  }
}

long u_dir_tell(const u_dir_t* dir) { return dir != nullptr ? dir->position : 0; }

void u_dir_close(u_dir_t* dir) {
  if (dir == nullptr) return;
  for (u_dir_name_t* node = dir->first; node != nullptr;) {
    u_dir_name_t* next = node->next;
    if (node->name != nullptr) u_free_fn(node->name);
    u_free_fn(node);
    node = next;
  }
  u_free_fn(dir);
}

void* u_load_library(const std::string& name, std::string* used) {
  std::string program;
  if (name.find_first_of("/\\") == std::string::npos &&
      plat::host::loaded_module_path(nullptr, program)) {
    std::string beside = program.substr(0, program.find_last_of(plat::kSep) + 1) + name;
    if (void* module = plat::host::load_library(beside.c_str())) {
      if (used != nullptr) *used = std::move(beside);
      return module;
    }
  }
  // The platform's own search for a bare name never takes the current
  // folder, where anyone who can write a file could plant a library.
  void* module = plat::host::load_library(name.c_str());
  if (used != nullptr && (module == nullptr || !plat::host::loaded_module_path(module, *used)))
    *used = name;
  return module;
}
