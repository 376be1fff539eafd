// mkdatafile: writes a binary data file with a generated surface, for tests,
// benchmarks and fuzzing corpora: any geometry, header length and magic
// number, an intensity block, an odd byte count or a file cut short.
//
//   mkdatafile [options] output   (mkdatafile --help lists them)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "data/ascii_file.h"
#include "tools/datafile_builder.h"

namespace {

constexpr char kUsage[] =
    "Usage: mkdatafile [options] output\n"
    "Writes a binary data file with a generated surface (or, with -A, the same\n"
    "data set as an ASCII data file).\n"
    "\n"
    "Options:\n"
    "  -w W       map width (default 64; 1 to 32767)\n"
    "  -h H       map height (default 48; 1 to 32767)\n"
    "  -x X, -y Y the window's first column and row (default 0)\n"
    "  -b B       also an intensity block of B buckets\n"
    "  -i PCT     percentage of invalid pixels (default 10)\n"
    "  -s SEED    seed of the surface (default 1)\n"
    "  -l         a 4096-byte header (default 834)\n"
    "  -m MAGIC   the magic number itself (0x881B036F, 0x881B0370, 0x881B0371, or\n"
    "             any other to make a foreign file)\n"
    "  -o         announce and write one byte more in the intensity block\n"
    "  -t BYTES   cut the file after that many bytes\n"
    "  -A         write an ASCII data file\n"
    "  --help     print this text\n"
    "\n"
    "Exit codes: 0 written, 1 cannot write, 2 usage error.\n";

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "mkdatafile: %s\n\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace felbrin::tools;
  int width = 64, height = 48, x = 0, y = 0, buckets = 0, invalid = 10;
  uint32_t seed = 1;
  bool long_header = false, odd = false, ascii = false;
  long long magic = -1, truncate = -1;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    // The magic number and the cut may be given in hexadecimal.
    // 64 bits wide on every platform (a long is 32 on Windows, and the
    // magic numbers are above its range).
    const auto number = [&] { return std::strtoll(argv[++i], nullptr, a == "-m" || a == "-t" ? 0 : 10); };
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "-l") long_header = true;
    else if (a == "-o") odd = true;
    else if (a == "-A") ascii = true;
    else if (a.size() == 2 && a[0] == '-' && std::string_view("whxybismt").find(a[1]) != std::string_view::npos) {
      if (!has_value) return usage_error("option " + a + " needs a value");
      const long long v = number();
      switch (a[1]) {
        case 'w': width = static_cast<int>(v); break;
        case 'h': height = static_cast<int>(v); break;
        case 'x': x = static_cast<int>(v); break;
        case 'y': y = static_cast<int>(v); break;
        case 'b': buckets = static_cast<int>(v); break;
        case 'i': invalid = static_cast<int>(v); break;
        case 's': seed = static_cast<uint32_t>(v); break;
        case 'm': magic = v; break;
        default: truncate = v; break;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error("unknown option \"" + a + "\"");
    } else if (out != nullptr) {
      return usage_error("more than one output file");
    } else {
      out = argv[i];
    }
  }
  if (out == nullptr) return usage_error("no output file given");
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
    return usage_error("width and height must be from 1 to 32767");
  }
  DataFileLayout s;
  s.magic = magic >= 0 ? static_cast<uint32_t>(magic) : long_header ? DF_MAGIC_4096 : DF_MAGIC_834_A;
  s.phase_x = static_cast<int16_t>(x);
  s.phase_y = static_cast<int16_t>(y);
  s.phase_width = static_cast<int16_t>(width);
  s.phase_height = static_cast<int16_t>(height);
  s.phase = make_surface(width, height, invalid, seed);
  if (buckets > 0) {
    s.intens_x = s.phase_x;
    s.intens_y = s.phase_y;
    s.intens_width = s.phase_width;
    s.intens_height = s.phase_height;
    s.intens_buckets = static_cast<int16_t>(buckets);
    s.intensity.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                       static_cast<std::size_t>(buckets));
    for (std::size_t k = 0; k < s.intensity.size(); ++k) s.intensity[k] = static_cast<uint16_t>(k * 37);
  }
  if (odd && !s.intensity.empty()) {
    s.intens_bytes = static_cast<int32_t>(2 * s.intensity.size() + 1);
  }
  std::vector<unsigned char> bytes = build_data_file(s);
  if (odd && !s.intensity.empty()) {
    const std::size_t header = bytes.size() - 2 * s.intensity.size() - 4 * s.phase.size();
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(header + 2 * s.intensity.size()), 0xEE);
  }
  if (truncate >= 0 && static_cast<std::size_t>(truncate) < bytes.size()) {
    bytes.resize(static_cast<std::size_t>(truncate));
  }
  if (ascii) {
    // Through the library: the binary form read back, then written as text.
    const std::string tmp = std::string(out) + ".bin";
    df_source_info_t source{};
    df_header_t header{};
    mx_bkt16_t intensity{};
    mx_i32_t phase{};
    int rc = write_bytes(tmp, bytes) ? df_read_file(tmp.c_str(), &source, &header, &intensity, &phase) : 1;
    if (rc == 0)
      rc = df_write_ascii_file(out, &source, &header, intensity.matrix ? &intensity : nullptr,
                               phase.matrix ? &phase : nullptr);
    std::remove(tmp.c_str());
    mx_bkt16_release(&intensity);
    mx_i32_release(&phase);
    if (rc != 0) {
      std::fprintf(stderr, "mkdatafile: cannot write %s (%d)\n", out, rc);
      return 1;
    }
    return 0;
  }
  if (!write_bytes(out, bytes)) {
    std::fprintf(stderr, "mkdatafile: cannot write %s\n", out);
    return 1;
  }
  return 0;
}
