// PNG files decoded by an independent decoder (stb_image), for checking
// what the picture command wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace felbrin::test {

struct DecodedPng {
  int width = 0, height = 0, channels = 0;
  std::vector<uint16_t> samples;  // 16-bit files keep their values; 8-bit as 0..255
  // The samples of the pixel at column x, row y.
  std::vector<uint16_t> at(int x, int y) const {
    const auto first = samples.begin() + (static_cast<std::ptrdiff_t>(y) * width + x) * channels;
    return {first, first + channels};
  }
};

// False when the file cannot be read or decoded.
bool decode_png(const std::string& path, DecodedPng& out);

}  // namespace felbrin::test
