#include "tools/datafile_builder.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace felbrin::tools {

void put_be16(std::vector<unsigned char>& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<unsigned char>(v >> 8);
  b[at + 1] = static_cast<unsigned char>(v);
}

void put_be32(std::vector<unsigned char>& b, std::size_t at, uint32_t v) {
  put_be16(b, at, static_cast<uint16_t>(v >> 16));
  put_be16(b, at + 2, static_cast<uint16_t>(v));
}

std::vector<unsigned char> build_data_file(const DataFileLayout& s) {
  const int length = df_header_length(s.magic) != 0 ? df_header_length(s.magic) : DF_HEADER_SHORT;
  std::vector<unsigned char> b(static_cast<std::size_t>(length), 0);
  put_be32(b, 0, s.magic);
  const auto u16 = [](int16_t v) { return static_cast<uint16_t>(v); };
  put_be16(b, 48, u16(s.intens_x));
  put_be16(b, 50, u16(s.intens_y));
  put_be16(b, 52, u16(s.intens_width));
  put_be16(b, 54, u16(s.intens_height));
  put_be16(b, 56, u16(s.intens_buckets));
  put_be16(b, 58, u16(s.intens_aux));
  put_be32(b, 60, static_cast<uint32_t>(s.intens_bytes.value_or(
                      static_cast<int32_t>(2 * s.intensity.size()))));
  put_be16(b, 64, u16(s.phase_x));
  put_be16(b, 66, u16(s.phase_y));
  put_be16(b, 68, u16(s.phase_width));
  put_be16(b, 70, u16(s.phase_height));
  put_be32(b, 72, static_cast<uint32_t>(s.phase_bytes.value_or(
                      static_cast<int32_t>(4 * s.phase.size()))));
  b.reserve(b.size() + 2 * s.intensity.size() + 4 * s.phase.size());
  for (uint16_t v : s.intensity) {
    b.push_back(static_cast<unsigned char>(v >> 8));
    b.push_back(static_cast<unsigned char>(v));
  }
  for (int32_t v : s.phase) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<unsigned char>(u >> shift));
  }
  return b;
}

std::vector<int32_t> make_surface(int width, int height, int invalid_percent, uint32_t seed) {
  std::vector<int32_t> v(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  uint32_t state = seed * 2654435761u + 1;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double fx = static_cast<double>(x) / (width > 1 ? width - 1 : 1);
      const double fy = static_cast<double>(y) / (height > 1 ? height - 1 : 1);
      const double z = 40000.0 * std::sin(6.0 * fx) * std::cos(4.0 * fy) + 9000.0 * fx * fy;
      int32_t value = static_cast<int32_t>(std::lround(z)) + static_cast<int32_t>(next() % 64);
      if (static_cast<int>(next() % 100) < invalid_percent)
        value = MX_INVALID_I32 + static_cast<int32_t>(next() % 8);
      v[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
          value;
    }
  }
  return v;
}

bool write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return (std::fclose(f) == 0) && ok;
}

}  // namespace felbrin::tools
