// Reading a ramp file of 65 535 points from disk, against a baseline of one
// plain fread of the same bytes: the reader's cost over the least any reader
// has to do (open, read, close).
//
// Downloading the same ramp to a simulated board over the in-memory link
// (packets built, checksummed, sent, framed, checked and answered), as a
// ratio to the time its bytes take on the board's 38400-baud line: the
// library must stay far below 1, so the line is all a real download waits
// for.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "instrument/calibration/sys_info.h"
#include "instrument/ramps/ramp_file.h"
#include "instrument/serial/board.h"
#include "instrument/serial/device_table.h"
#include "sim/instrument_board.h"
#include "sim/memory_serial.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"

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

void BM_DownloadToSimulatedBoard(benchmark::State& state) {
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COMB");
  sim::MemoryTransport line{peer, "COMB"};
  sim::Script script;
  sim::InstrumentBoard board{sim::BoardKind::uz1};
  sim::Runner runner{line, board.framer(), script, board};
  peer.on_write([&runner] { runner.step(0); });
  plat::SerialBackend* saved = sio_set_backend(&backend);
  dev_init_cntrl(1);
  sysInfo_t& info = sysInfo[0];
  info = sysInfo_t{};
  info.instrBdType = BD_SABLE;
  info.instrComm = "COMB";
  if (ur_initUZ(&info) != 0) state.SkipWithError("init failed");

  rr_ramp_hdr_t h{};
  h.nPoints = kPoints;
  std::vector<uint16_t> points(kPoints);
  for (std::size_t i = 0; i < points.size(); ++i) points[i] = static_cast<uint16_t>(i * 7);
  // Bytes on the line: RAMP_LOAD and RAMP_COMPLETE with their ACKs, then
  // each data packet (6 + 2N) with its 4-byte answer; 10 bits a byte.
  const int packets = (kPoints + UR_MAX_CHUNK_POINTS - 1) / UR_MAX_CHUNK_POINTS;
  const double bytes = 16 + 3 + 3 + 3 + packets * (6.0 + 4.0) + 2.0 * kPoints;
  const double line_seconds = bytes * 10 / 38400;

  double spent = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (ur_ramp_download(&info, 0, &h, points.data()) != 0) state.SkipWithError("download failed");
    spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["line_s"] = line_seconds;
  state.counters["ratio_to_line"] = spent / static_cast<double>(state.iterations()) / line_seconds;
  ur_closeUZ(&info.boardLink.port);
  dev_close_cntrl();
  sio_set_backend(saved);
  info = sysInfo_t{};
}
BENCHMARK(BM_DownloadToSimulatedBoard)->Unit(benchmark::kMillisecond);

}  // namespace
