#include "app/datinfo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <type_traits>
#include <variant>
#include <vector>

#include "app/data_input.h"
#include "app/messages.h"
#include "common/errors.h"
#include "common/number_format.h"
#include "data/ascii_file.h"
#include "data/binary_file.h"
#include "data/data_set.h"
#include "data/point_list.h"
#include "platform/platform.h"

namespace datinfo {
namespace {

constexpr char kUsageText[] =
    "Usage: datinfo [--json] FILE...\n"
    "Prints what each measurement data file (binary or ASCII) holds: source\n"
    "information, header fields, matrix geometry and the statistics of the\n"
    "phase values (valid points, minimum, maximum, mean).\n"
    "\n"
    "Options:\n"
    "  --json   one JSON object per file, one per line\n"
    "  --help   print this text\n"
    "\n"
    "Exit codes: 0 every file was read, 1 some file could not be read,\n"
    "2 usage error.\n";

// None (printed as null), an integer, a real or a text.
using Value = std::variant<std::monostate, long long, double, std::string>;

struct Field {
  std::string key;
  Value value;
};

template <class T>
requires std::is_arithmetic_v<T> Value of(T v) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<double>(v);
  } else {
    return static_cast<long long>(v);
  }
}

// A text field holds its text up to its first zero byte, never beyond.
template <std::size_t N>
Value of(const char (&v)[N]) {
  return std::string(v, std::find(v, v + N, '\0'));
}

template <auto Member>
Value header(const df_header_t& h) {
  return of(h.*Member);
}

struct HeaderField {
  const char* name;
  Value (*get)(const df_header_t&);
};

// The header fields the ASCII form carries, in file offset order.
const HeaderField kHeaderFields[] = {
    {"h076", header<&df_header_t::h076>}, {"h080", header<&df_header_t::h080>},
    {"h162", header<&df_header_t::h162>}, {"h164", header<&df_header_t::h164>},
    {"h168", header<&df_header_t::h168>}, {"h172", header<&df_header_t::h172>},
    {"h176", header<&df_header_t::h176>}, {"h180", header<&df_header_t::h180>},
    {"h184", header<&df_header_t::h184>}, {"h188", header<&df_header_t::h188>},
    {"h190", header<&df_header_t::h190>}, {"h192", header<&df_header_t::h192>},
    {"h194", header<&df_header_t::h194>}, {"h196", header<&df_header_t::h196>},
    {"h198", header<&df_header_t::h198>}, {"h202", header<&df_header_t::h202>},
    {"h204", header<&df_header_t::h204>}, {"h210", header<&df_header_t::h210>},
    {"h214", header<&df_header_t::h214>}, {"h218", header<&df_header_t::h218>},
    {"h220", header<&df_header_t::h220>}, {"h224", header<&df_header_t::h224>},
    {"h226", header<&df_header_t::h226>}, {"h230", header<&df_header_t::h230>},
    {"h232", header<&df_header_t::h232>}, {"h234", header<&df_header_t::h234>},
    {"h236", header<&df_header_t::h236>}, {"h238", header<&df_header_t::h238>},
    {"h240", header<&df_header_t::h240>}, {"h242", header<&df_header_t::h242>},
    {"h244", header<&df_header_t::h244>}, {"h246", header<&df_header_t::h246>},
    {"h258", header<&df_header_t::h258>}, {"h298", header<&df_header_t::h298>},
    {"h300", header<&df_header_t::h300>}, {"h302", header<&df_header_t::h302>},
    {"h320", header<&df_header_t::h320>}, {"h360", header<&df_header_t::h360>},
    {"h364", header<&df_header_t::h364>}, {"h498", header<&df_header_t::h498>},
    {"h534", header<&df_header_t::h534>}, {"h562", header<&df_header_t::h562>},
    {"h798", header<&df_header_t::h798>},
};

std::vector<Field> describe(const std::string& file, const char* format,
                            const felbrin::DataSet& d) {
  std::vector<Field> f{{"file", file}, {"format", std::string(format)}};
  const df_source_info_t& s = d.source;
  f.insert(f.end(), {{"info_word0", of(s.info_word0)},
                     {"info_text", of(s.info_text)},
                     {"info_word1", of(s.info_word1)},
                     {"info_word2", of(s.info_word2)},
                     {"info_word3", of(s.info_word3)}});
  for (const HeaderField& h : kHeaderFields) f.push_back({h.name, h.get(d.header)});
  const wn_window_t& iw = d.intensity.window;
  const wn_window_t& pw = d.phase.window;
  f.insert(f.end(), {{"intensity_x", of(iw.x)},
                     {"intensity_y", of(iw.y)},
                     {"intensity_width", of(iw.width)},
                     {"intensity_height", of(iw.height)},
                     {"intensity_buckets", of(d.intensity.n_buckets)},
                     {"intensity_aux", of(d.intensity.aux)},
                     {"phase_x", of(pw.x)},
                     {"phase_y", of(pw.y)},
                     {"phase_width", of(pw.width)},
                     {"phase_height", of(pw.height)}});
  // Statistics of the valid phase values; none when there are none, or
  // when their range does not fit the statistics record.
  mx_stats_t st{};
  const int rc =
      d.phase.matrix != nullptr ? mx_i32_stats(&d.phase, nullptr, &st) : ERR_ALL_BAD_DATA;
  Value points, minimum, maximum, mean;
  if (rc == 0) {
    points = of(st.npoints), minimum = of(st.valley), maximum = of(st.peak), mean = st.mean;
  } else if (rc == ERR_ALL_BAD_DATA) {
    points = 0LL;
  }
  f.insert(f.end(),
           {{"valid_points", points}, {"minimum", minimum}, {"maximum", maximum}, {"mean", mean}});
  return f;
}

// Reals as the ASCII data file writes them (ISO C "%g" on every platform).
std::string real_text(double v) {
  char buf[FMT_MAX_CHARS];
  return std::string(buf, fmt_g(buf, v));
}

std::string json_value(const Value& v) {
  if (const long long* i = std::get_if<long long>(&v)) return std::to_string(*i);
  if (const double* r = std::get_if<double>(&v)) return std::isfinite(*r) ? real_text(*r) : "null";
  if (const std::string* s = std::get_if<std::string>(&v)) return json_string(*s);
  return "null";
}

std::string text_value(const Value& v) {
  if (const double* r = std::get_if<double>(&v)) return real_text(*r);
  if (std::holds_alternative<std::monostate>(v)) return "none";
  return json_value(v);
}

std::string as_json(const std::vector<Field>& fields) {
  std::string out = "{";
  for (const Field& f : fields) {
    if (out.size() > 1) out += ", ";
    out += json_string(f.key) + ": " + json_value(f.value);
  }
  return out + "}\n";
}

std::string as_text(const std::vector<Field>& fields) {
  std::string out;
  for (const Field& f : fields) out += f.key + " = " + text_value(f.value) + "\n";
  return out;
}

// Reads the file as binary, or as ASCII when it is not a binary data file;
// prints its report or its problem. True when it was read.
bool inspect(const char* path, bool json, std::FILE* out, std::FILE* err) {
  const std::string file = plat::display_path(path);
  felbrin::DataSet d;
  const app::DataFileRead r = app::read_data_file(path, d);
  if (r.rc != 0) {
    app::print_read_problem(err, file, r);
    if (json) {
      std::fputs(
          as_json({{"file", file}, {"error", std::string(err_name(r.rc))}, {"code", of(r.rc)}})
              .c_str(),
          out);
    }
    return false;
  }
  const char* const format = r.format;
  const std::vector<Field> fields = describe(file, format, d);
  std::fputs((json ? as_json(fields) : as_text(fields)).c_str(), out);
  return true;
}

}  // namespace

std::string report_text(const std::string& file, const char* format, const felbrin::DataSet& d) {
  return as_text(describe(file, format, d));
}

std::string json_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text[0]);
    std::size_t used = 1;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x80 && c >= 0x20) {
      out += static_cast<char>(c);
    } else if (const std::size_t n = c >= 0x80 ? app::utf8_length(text) : 0; n > 0) {
      out.append(text.substr(0, n));
      used = n;
    } else {  // a control character, or a Latin-1 byte
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    text.remove_prefix(used);
  }
  return out + "\"";
}

int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  app::CommandLine line;
  const int code = app::parse_command_line(argc, argv, {"--json"}, "datinfo", kUsageText, kUsage,
                                           out, err, line);
  if (code >= 0) return code;
  const bool json = !line.options.empty();
  bool all_read = true;
  for (std::size_t i = 0; i < line.files.size(); ++i) {
    // Text reports of several files are set apart by an empty line.
    if (!json && i > 0) std::fputs("\n", out);
    all_read = inspect(line.files[i], json, out, err) && all_read;
  }
  return all_read ? kDone : kUnreadable;
}

}  // namespace datinfo
