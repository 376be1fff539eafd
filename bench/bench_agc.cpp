// The AGC thread's hot path: the histogram of one megapixel frame and the
// level of its brightest 100 pixels, for 8-bit and 16-bit (12-bit data)
// pixels, against a plain reading pass (the sum of the frame's bytes) over
// the same buffer in the same run. The ratio is what the histogram costs
// over merely touching the frame once.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

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

void BM_ReadPass(benchmark::State& state) {
  const auto& bytes = frame(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    uint64_t sum = std::accumulate(bytes.begin(), bytes.end(), uint64_t{0});
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadPass)->Arg(1)->Arg(2);

void BM_HistogramAndLevel(benchmark::State& state) {
  const int bpp = static_cast<int>(state.range(0));
  const auto& bytes = frame(bpp);
  std::vector<uint32_t> hist(felbrin::control::agc_bins(bpp == 1 ? 8 : 12));
  for (auto _ : state) {
    uint32_t level = felbrin::control::agc_top_level(bytes, bpp, hist);
    benchmark::DoNotOptimize(level);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_HistogramAndLevel)->Arg(1)->Arg(2);

}  // namespace
