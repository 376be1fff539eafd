// Reading a ramp file of 65 535 points from disk, against a baseline of one
// plain fread of the same bytes: the reader's cost over the least any reader
// has to do (open, read, close).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "instrument/ramps/ramp_file.h"

namespace {

constexpr int32_t kPoints = 65535;

// Written once per run, in the temporary directory.
const std::string& ramp_path() {
  static const std::string path = [] {
    const std::string p = (std::filesystem::temp_directory_path() / "felbrin_bench.ramp").string();
    rr_ramp_hdr_t h{};
    h.nPoints = kPoints;
    h.cameraRate = 25;
    h.fringesPerFrame = 0.125f;
    std::vector<uint16_t> points(kPoints);
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = static_cast<uint16_t>(i * 7);
    if (rr_write_ramp_file(p.c_str(), &h, points.data()) != 0) std::abort();
    return p;
  }();
  return path;
}

constexpr std::size_t kFileBytes = sizeof(rr_ramp_hdr_t) + 2 * std::size_t{kPoints};

void BM_ReadRamp(benchmark::State& state) {
  const std::string& path = ramp_path();
  for (auto _ : state) {
    rr_ramp_hdr_t h;
    uint16_t* points = nullptr;
    if (rr_read_ramp_file(path.c_str(), &h, &points) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(points);
    rr_release_points(&points);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_ReadRamp);

void BM_FreadBaseline(benchmark::State& state) {
  const std::string& path = ramp_path();
  std::vector<char> buffer(kFileBytes);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr || std::fread(buffer.data(), 1, buffer.size(), f) != buffer.size())
      state.SkipWithError("fread failed");
    if (f != nullptr) std::fclose(f);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_FreadBaseline);

}  // namespace
