// Builds binary data files in memory from a geometry and values, for tests,
// benchmarks, fuzz seeds and the bundled sample.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/binary_file.h"

namespace felbrin::tools {

struct DataFileLayout {
  uint32_t magic = DF_MAGIC_834_A;
  int16_t intens_x = 0, intens_y = 0, intens_width = 0, intens_height = 0;
  int16_t intens_buckets = 0, intens_aux = 0;
  std::optional<int32_t> intens_bytes;  // default: 2 x the values given
  int16_t phase_x = 0, phase_y = 0, phase_width = 0, phase_height = 0;
  std::optional<int32_t> phase_bytes;  // default: 4 x the values given
  std::vector<uint16_t> intensity;     // written as given
  std::vector<int32_t> phase;          // written as given
};

// The whole file: header, intensity block, phase block.
std::vector<unsigned char> build_data_file(const DataFileLayout& layout);

// Big-endian stores into a header under construction.
void put_be16(std::vector<unsigned char>& bytes, std::size_t offset, uint16_t v);
void put_be32(std::vector<unsigned char>& bytes, std::size_t offset, uint32_t v);

// A smooth surface with `invalid_percent` invalid pixels, deterministic for a seed.
std::vector<int32_t> make_surface(int width, int height, int invalid_percent, uint32_t seed);

bool write_bytes(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace felbrin::tools
