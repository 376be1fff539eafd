// mkdatafile: writes a binary data file with a generated surface.
//
//   mkdatafile [-w width] [-h height] [-x x] [-y y] [-b buckets]
//              [-i invalid_percent] [-s seed] [-l] [-m magic]
//              [-o] [-t bytes] output
//
// -l writes a 4096-byte header (default 834); -m sets the magic number
// itself (0x881B036F, 0x881B0370 or 0x881B0371, or any other to make a
// foreign file). With -b, an intensity block of that many buckets is written
// too; -o announces and writes one byte more in it (an odd byte count).
// -t cuts the file after that many bytes. -A writes the same data set as an
// ASCII data file instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data/ascii_file.h"
#include "tools/datafile_builder.h"

int main(int argc, char** argv) {
  using namespace felbrin::tools;
  int width = 64, height = 48, x = 0, y = 0, buckets = 0, invalid = 10;
  uint32_t seed = 1;
  bool long_header = false, odd = false, ascii = false;
  long magic = -1, truncate = -1;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
    if (a == "-w") width = value();
    else if (a == "-h") height = value();
    else if (a == "-x") x = value();
    else if (a == "-y") y = value();
    else if (a == "-b") buckets = value();
    else if (a == "-i") invalid = value();
    else if (a == "-s") seed = static_cast<uint32_t>(value());
    else if (a == "-l") long_header = true;
    else if (a == "-o") odd = true;
    else if (a == "-A") ascii = true;
    else if (a == "-m" && i + 1 < argc) magic = std::strtol(argv[++i], nullptr, 0);
    else if (a == "-t" && i + 1 < argc) truncate = std::strtol(argv[++i], nullptr, 0);
    else out = argv[i];
  }
  if (out == nullptr || width <= 0 || height <= 0 || width > 32767 || height > 32767) {
    std::fprintf(stderr,
                 "usage: mkdatafile [-w W] [-h H] [-x X] [-y Y] [-b B] [-i PCT] [-s SEED] [-l]"
                 " [-m MAGIC] [-o] [-t BYTES] [-A] output\n");
    return 1;
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
