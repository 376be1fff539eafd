// The AGC thread's hot path: the histogram of one megapixel frame and the
// level of its brightest 100 pixels, for 8-bit and 16-bit (12-bit data)
// pixels, against a plain reading pass (the sum of the frame's bytes) over
// the same buffer in the same run. The ratio is what the histogram costs
// over merely touching the frame once.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

#include "bench/timing.h"
#include "instrument/control/agc_internal.h"

namespace {

constexpr std::size_t kPixels = 1024 * 1024;

// A camera-like frame: a dim, noisy background with a bright patch.
const std::vector<uint8_t>& frame(int bytes_per_pixel) {
  static const auto make = [](int bpp) {
    std::mt19937 rng(12345);
    std::normal_distribution<double> background(bpp == 1 ? 60 : 1000, bpp == 1 ? 12 : 150);
    std::vector<uint8_t> bytes(kPixels * bpp);
    for (std::size_t i = 0; i < kPixels; ++i) {
      double v = background(rng);
      if (i % 1024 > 600 && i % 1024 < 700 && i / 1024 > 400 && i / 1024 < 500)
        v += bpp == 1 ? 150 : 2800;
      const auto top = bpp == 1 ? 255.0 : 4095.0;
      const auto value = static_cast<uint16_t>(v < 0 ? 0 : v > top ? top : v);
      if (bpp == 1) {
        bytes[i] = static_cast<uint8_t>(value);
      } else {
        bytes[2 * i] = static_cast<uint8_t>(value & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(value >> 8);
      }
    }
    return bytes;
  };
  static const std::vector<uint8_t> eight = make(1);
  static const std::vector<uint8_t> sixteen = make(2);
  return bytes_per_pixel == 1 ? eight : sixteen;
}

}  // namespace

int main() {
  using felbrin::bench::best_seconds;
  constexpr int kRounds = 30;
  uint64_t check = 0;
  for (const int bpp : {1, 2}) {
    const auto& bytes = frame(bpp);
    std::vector<uint32_t> hist(felbrin::control::agc_bins(bpp == 1 ? 8 : 12));
    const double read_s = best_seconds(kRounds, [&] { check += std::accumulate(bytes.begin(), bytes.end(), uint64_t{0}); });
    const double level_s = best_seconds(kRounds, [&] { check += felbrin::control::agc_top_level(bytes, bpp, hist); });
    std::printf("%2d-bit pixels: histogram and level %7.1f us, reading pass %7.1f us, ratio %.2f\n", 8 * bpp,
                level_s * 1e6, read_s * 1e6, level_s / read_s);
  }
  std::printf("(check %u)\n", static_cast<unsigned>(check & 1u));
  return 0;
}
