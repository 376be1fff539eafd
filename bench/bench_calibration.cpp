// Reading and writing a calibration file of about 200 lines, in memory, so
// the figures are the parser's and writer's own. The baseline walks the same
// text character by character, the least any reader has to do.
#include <benchmark/benchmark.h>

#include <string>

#include "instrument/record/sys_info.h"
#include "instrument/calibration/cal_file.h"

namespace {

int quiet(const char*, ...) { return 0; }

// A Sable system with every kind of line, padded to about 200 lines with
// per-index and per-axis lines.
std::string calibration_text() {
  std::string t =
      "# bench\nInstrName \"Bench rig\"\nBirch3 7 14 10234 R\nVersion Matrox 3 Sable\nInstrComm COM1\n"
      "Camera Type custom 1\nCamera Config 1 0 2 1 0 1 1 0\nLight Diode [0.65,0.01] 0.7\n"
      "LLC Range 5 4000 1 99\nPifoc 100 1.01 0.02\n"
      "NomMag 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\nSysMag 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n"
      "Camera SplitX 512 2\n";
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 15; ++i) {
      t += "Camera Trans " + std::to_string(i) + " " + std::to_string(i - 7) + " " + std::to_string(7 - i) + "\n";
      t += "SdcCal " + std::to_string(i) + " 1.5 2.5 3.5 4.5 5.5 6.5 0.25 0.125\n";
    }
    for (char axis : std::string("ABPRTXYZ")) {
      t += std::string("PidVals_") + axis + " fast 100 -20 15050 4 1 6 0.5 -0.25 1 2\n";
    }
  }
  t += "SleepTimeout 2:15:30\n";
  return t;
}

void BM_ReadCalibration(benchmark::State& state) {
  u_set_log_fn(quiet);
  const std::string text = calibration_text();
  for (auto _ : state) {
    auto src = felbrin::CalCharSource::from_text(text);
    benchmark::DoNotOptimize(felbrin::cal_read_stream(sysInfo[0], src));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadCalibration);

void BM_CharacterWalkBaseline(benchmark::State& state) {
  const std::string text = calibration_text();
  for (auto _ : state) {
    auto src = felbrin::CalCharSource::from_text(text);
    int lines = 0;
    for (int c = src.get(); c != felbrin::CalCharSource::kEof; c = src.get()) lines += c == '\n';
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CharacterWalkBaseline);

void BM_WriteCalibration(benchmark::State& state) {
  u_set_log_fn(quiet);
  const std::string text = calibration_text();
  auto src = felbrin::CalCharSource::from_text(text);
  if (felbrin::cal_read_stream(sysInfo[0], src) != 0) state.SkipWithError("the bench file does not read");
  for (auto _ : state) {
    int fault = 0;
    benchmark::DoNotOptimize(felbrin::cal_write_text(sysInfo[0], &fault));
  }
}
BENCHMARK(BM_WriteCalibration);

}  // namespace
