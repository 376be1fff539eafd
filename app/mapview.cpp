#include "app/mapview.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/data_input.h"
#include "app/datinfo.h"
#include "app/messages.h"
#include "app/png.h"
#include "app/viridis.h"
#include "common/temp_file.h"
#include "platform/platform.h"

namespace mapview {
namespace {

constexpr char kUsageText[] =
    "Usage: mapview [options] INPUT OUTPUT\n"
    "Writes a PNG picture of a measurement data file (binary or ASCII): the\n"
    "phase map in false colour (viridis, its valid values spread over the whole\n"
    "colour map, invalid pixels grey), or with --bucket an intensity frame in\n"
    "grey. Prints the value range and the file written.\n"
    "\n"
    "Options:\n"
    "  --bucket B      the intensity frame B (0 is the first) instead of the phase\n"
    "  --bits 16       with --bucket: 16-bit grey with the values kept whole\n"
    "                  (default 8: scaled to the frame's own range)\n"
    "  --alpha         invalid pixels transparent instead of grey\n"
    "  --scale N       each pixel as N x N pixels (1 to 16)\n"
    "  --crop X,Y,W,H  only W x H pixels from column X, row Y of the map\n"
    "                  (0,0 is its first pixel, as in the point list)\n"
    "  --bar           a colour bar on the right, the lowest value at the bottom\n"
    "  --json          the report as one JSON line\n"
    "  --help          print this text\n"
    "\n"
    "Exit codes: 0 written, 1 the input could not be read or the picture not\n"
    "written, 2 usage error.\n";

constexpr int kMaxScale = 16;
constexpr app::Rgb kInvalid = {128, 128, 128};
constexpr int kBarGap = 2;  // pixels between the map and its colour bar

struct Options {
  std::optional<int> bucket;
  int bits = 8;
  bool alpha = false;
  int scale = 1;
  std::optional<std::array<int, 4>> crop;
  bool bar = false;
  bool json = false;
};

std::optional<int> whole_number(std::string_view text) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || end != text.data() + text.size() || v < 0) return std::nullopt;
  return v;
}

// The options' values, or the usage problem in `problem`.
bool read_options(const app::CommandLine& line, Options& o, std::string& problem) {
  for (const std::string_view opt : line.options) {
    if (opt == "--alpha") o.alpha = true;
    if (opt == "--bar") o.bar = true;
    if (opt == "--json") o.json = true;
  }
  for (const auto& [name, value] : line.values) {
    std::string quoted(1, '"');
    quoted.append(value).push_back('"');
    if (name == "--bucket") {
      o.bucket = whole_number(value);
      if (!o.bucket) return problem = "--bucket takes a frame number, not " + quoted, false;
    } else if (name == "--bits") {
      if (value != "8" && value != "16")
        return problem = "--bits takes 8 or 16, not " + quoted, false;
      o.bits = value == "16" ? 16 : 8;
    } else if (name == "--scale") {
      const std::optional<int> n = whole_number(value);
      if (!n || *n < 1 || *n > kMaxScale)
        return problem = "--scale takes 1 to 16, not " + quoted, false;
      o.scale = *n;
    } else if (name == "--crop") {
      std::array<int, 4> c{};
      std::string_view rest = value;
      for (std::size_t i = 0; i < c.size(); ++i) {
        const std::size_t comma = i + 1 < c.size() ? rest.find(',') : rest.size();
        const std::optional<int> n =
            comma == std::string_view::npos ? std::nullopt : whole_number(rest.substr(0, comma));
        if (!n) return problem = "--crop takes X,Y,W,H, not " + quoted, false;
        c[i] = *n;
        rest.remove_prefix(std::min(rest.size(), comma + 1));
      }
      if (c[2] == 0 || c[3] == 0) return problem = "--crop needs a width and a height", false;
      o.crop = c;
    }
  }
  if (line.files.size() != 2) return problem = "give one input and one output file", false;
  if (o.bits == 16 && !o.bucket) return problem = "--bits 16 is for intensity frames", false;
  return true;
}

// The part of the matrix the picture shows, in its own pixel positions.
struct Area {
  int x, y, width, height;
};

// What the picture shows: the value of a pixel, or none when invalid.
struct Source {
  const int32_t* phase = nullptr;   // the phase map, or
  const uint16_t* frame = nullptr;  // an intensity frame
  int stride = 0;                   // values per row of the matrix
  bool valid(int x, int y) const { return frame != nullptr || at(x, y) < MX_INVALID_I32; }
  int64_t at(int x, int y) const {
    const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) +
                          static_cast<std::size_t>(x);
    return frame != nullptr ? int64_t{frame[i]} : int64_t{phase[i]};
  }
};

struct Range {
  int64_t low = INT64_MAX, high = INT64_MIN, count = 0;
};

Range range_of(const Source& s, const Area& a) {
  Range r;
  for (int y = a.y; y < a.y + a.height; ++y) {
    for (int x = a.x; x < a.x + a.width; ++x) {
      if (!s.valid(x, y)) continue;
      const int64_t v = s.at(x, y);
      r.low = std::min(r.low, v), r.high = std::max(r.high, v), ++r.count;
    }
  }
  return r;
}

// Writes the picture's rows: each map row once per scale step, its pixels
// widened, then the bar.
class Picture {
 public:
  Picture(const Source& s, const Area& a, const Range& r, const Options& o)
      : s_(s), a_(a), r_(r), o_(o) {
    format_.width = static_cast<uint32_t>(a.width * o.scale);
    if (o.bar) {
      bar_width_ = std::max(8, a.width * o.scale / 20);
      format_.width += static_cast<uint32_t>(kBarGap + bar_width_);
    }
    format_.height = static_cast<uint32_t>(a.height * o.scale);
    format_.bit_depth = o.bits;
    format_.colour = s.frame != nullptr ? app::PngFormat::kGrey
                     : o.alpha          ? app::PngFormat::kRgba
                                        : app::PngFormat::kRgb;
    channels_ = format_.colour == app::PngFormat::kGrey  ? 1
                : format_.colour == app::PngFormat::kRgb ? 3
                                                         : 4;
    bytes_ = o.bits / 8;
    const int64_t span = r.count > 0 ? r.high - r.low : 0;
    factor_ = span > 0 ? 255.0 / static_cast<double>(span) : 0.0;
  }
  const app::PngFormat& format() const { return format_; }

  void row(uint32_t out_y, std::span<uint8_t> out) const {
    const int y = a_.y + static_cast<int>(out_y) / o_.scale;
    uint8_t* p = out.data();
    for (int x = a_.x; x < a_.x + a_.width; ++x) {
      uint8_t pixel[4];
      const int n = s_.valid(x, y) ? colour(s_.at(x, y), pixel) : invalid(pixel);
      p = repeat(p, pixel, n, o_.scale);
    }
    if (!o_.bar) return;
    uint8_t gap[4];
    const int n = invalid(gap);
    p = repeat(p, gap, n, kBarGap);
    // Top row: the highest value; bottom row: the lowest.
    const double t = format_.height > 1 ? static_cast<double>(format_.height - 1 - out_y) /
                                              static_cast<double>(format_.height - 1)
                                        : 1.0;
    uint8_t pixel[4];
    const int64_t value =
        r_.count > 0
            ? r_.low + static_cast<int64_t>(t * static_cast<double>(r_.high - r_.low) + 0.5)
            : 0;
    colour(value, pixel);
    repeat(p, pixel, n, bar_width_);
  }

 private:
  // `count` copies of an n-byte pixel; a copy of known size per case, not a
  // call per pixel.
  static uint8_t* repeat(uint8_t* p, const uint8_t* pixel, int n, int count) {
    for (int k = 0; k < count; ++k) {
      switch (n) {
        case 1: *p++ = pixel[0]; break;
        case 2: std::memcpy(p, pixel, 2), p += 2; break;
        case 3: std::memcpy(p, pixel, 3), p += 3; break;
        default: std::memcpy(p, pixel, 4), p += 4; break;
      }
    }
    return p;
  }
  int invalid(uint8_t* px) const {
    const int n = channels_ * bytes_;
    if (o_.alpha) {
      std::fill(px, px + n, 0);
    } else if (channels_ == 1) {
      std::fill(px, px + n, 0);  // a frame has no invalid pixels; the bar's gap is black
    } else {
      px[0] = kInvalid.r, px[1] = kInvalid.g, px[2] = kInvalid.b;
    }
    return n;
  }
  int colour(int64_t v, uint8_t* px) const {
    if (bytes_ == 2) {  // 16-bit frame: the value itself
      px[0] = static_cast<uint8_t>(v >> 8);
      px[1] = static_cast<uint8_t>(v);
      return 2;
    }
    const auto level = static_cast<int>(static_cast<double>(v - r_.low) * factor_ + 0.5);
    if (channels_ == 1) {
      px[0] = static_cast<uint8_t>(level);
      return 1;
    }
    const app::Rgb c = app::kViridis[static_cast<std::size_t>(std::clamp(level, 0, 255))];
    px[0] = c.r, px[1] = c.g, px[2] = c.b, px[3] = 255;
    return channels_;
  }

  Source s_;
  Area a_;
  Range r_;
  Options o_;
  app::PngFormat format_;
  int bar_width_ = 0;
  int channels_ = 3;
  int bytes_ = 1;
  double factor_ = 0;
};

std::string number_or_null(const Range& r, int64_t v) {
  return r.count > 0 ? std::to_string(v) : "null";
}

}  // namespace

int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  app::CommandLine line;
  const int code =
      app::parse_command_line(argc, argv, {"--alpha", "--bar", "--json"}, "mapview", kUsageText,
                              kUsage, out, err, line, {"--bucket", "--bits", "--scale", "--crop"});
  if (code >= 0) return code;
  Options o;
  std::string problem;
  const auto usage_error = [&](const std::string& text) {
    std::fprintf(err, "mapview: %s (see mapview --help)\n", text.c_str());
    return kUsage;
  };
  if (!read_options(line, o, problem)) return usage_error(problem);

  const std::string input = plat::display_path(line.files[0]);
  const std::string output = plat::display_path(line.files[1]);
  felbrin::DataSet d;
  if (const app::DataFileRead r = app::read_data_file(line.files[0], d); r.rc != 0) {
    app::print_read_problem(err, input, r);
    return kFailed;
  }

  Source s;
  wn_window_t w{};
  if (o.bucket) {
    w = d.intensity.window;
    if (d.intensity.matrix == nullptr || *o.bucket >= d.intensity.n_buckets) {
      app::print_message(
          err, input, 0,
          "has no intensity frame " + std::to_string(*o.bucket) + " (it has " +
              std::to_string(d.intensity.matrix != nullptr ? d.intensity.n_buckets : 0) + ")");
      return kFailed;
    }
    s.frame = d.intensity.matrix + static_cast<std::size_t>(*o.bucket) *
                                       static_cast<std::size_t>(w.width) *
                                       static_cast<std::size_t>(w.height);
  } else {
    w = d.phase.window;
    if (d.phase.matrix == nullptr || w.width <= 0 || w.height <= 0) {
      app::print_message(err, input, 0, "has no phase map");
      return kFailed;
    }
    s.phase = d.phase.matrix;
  }
  s.stride = w.width;
  Area a{0, 0, w.width, w.height};
  if (o.crop) {
    const auto& c = *o.crop;
    if (int64_t{c[0]} + c[2] > w.width || int64_t{c[1]} + c[3] > w.height) {
      return usage_error("--crop " + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," +
                         std::to_string(c[2]) + "," + std::to_string(c[3]) +
                         " does not lie inside the " + std::to_string(w.width) + " x " +
                         std::to_string(w.height) + " map");
    }
    a = {c[0], c[1], c[2], c[3]};
  }

  const Range r = range_of(s, a);
  const Picture picture(s, a, r, o);
  const auto written =
      felbrin::replace_file(line.files[1], "mapview", [&](felbrin::ByteSink& sink) {
        return app::write_png(sink, picture.format(),
                              [&](uint32_t y, std::span<uint8_t> row) { picture.row(y, row); });
      });
  if (written != felbrin::ReplaceStep::done) {
    app::print_message(err, output, 0, "the picture could not be written");
    return kFailed;
  }

  const std::string image = o.bucket ? "intensity" : "phase";
  const std::string out_size =
      std::to_string(picture.format().width) + " x " + std::to_string(picture.format().height);
  std::string report;
  if (o.json) {
    const auto n = [](int64_t v) { return std::to_string(v); };
    report = "{\"file\": " + datinfo::json_string(input) + ", \"image\": \"" + image +
             "\", \"bucket\": " + (o.bucket ? n(*o.bucket) : "null") + ", \"x\": " + n(a.x) +
             ", \"y\": " + n(a.y) + ", \"width\": " + n(a.width) + ", \"height\": " + n(a.height) +
             ", \"minimum\": " + number_or_null(r, r.low) +
             ", \"maximum\": " + number_or_null(r, r.high) + ", \"valid_points\": " + n(r.count) +
             ", \"output\": " + datinfo::json_string(output) +
             ", \"output_width\": " + n(picture.format().width) +
             ", \"output_height\": " + n(picture.format().height) + "}\n";
  } else {
    report = input + ": " + image + (o.bucket ? " frame " + std::to_string(*o.bucket) : "") + " " +
             std::to_string(a.width) + " x " + std::to_string(a.height) + ", " +
             (r.count > 0 ? "values " + std::to_string(r.low) + " to " + std::to_string(r.high) +
                                " (" + std::to_string(r.count) + " valid points)"
                          : std::string("no valid points")) +
             "\nwrote " + output + " (" + out_size + ")\n";
  }
  std::fputs(report.c_str(), out);
  return kDone;
}

}  // namespace mapview
