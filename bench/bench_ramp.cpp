// Reading a ramp file of 65 535 points from disk, against a baseline of one
// plain fread of the same bytes: the reader's cost over the least any reader
// has to do (open, read, close).
//
// Downloading the same ramp to a simulated board over the in-memory link
// (packets built, checksummed, sent, framed, checked and answered), as a
// ratio to the time its bytes take on the board's 38400-baud line: the
// library must stay far below 1, so the line is all a real download waits
// for.
//
// Building the ramp table from a directory of 254 ramp files (read, check,
// offset crossing, sort, the board's slots emptied over the in-memory link),
// as a ratio to reading the same files with rr_read_ramp_file alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "instrument/record/sys_info.h"
#include "common/dirs.h"
#include "instrument/ramps/ramp_file.h"
#include "instrument/ramps/ramp_table.h"
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

// A UZ1 board on the in-memory link, answering inside the library's
// writes; the record in sysInfo[0] names its line.
struct SimulatedBoard {
  SimulatedBoard() : saved(sio_set_backend(&backend)) {
    peer.on_write([this] { runner.step(0); });
    dev_init_cntrl(1);
    info = sysInfo_t{};
    info.instrBdType = BD_SABLE;
    info.instrComm = "COMB";
  }
  ~SimulatedBoard() {
    ur_closeUZ(&info.boardLink.port);
    dev_close_cntrl();
    sio_set_backend(saved);
    info = sysInfo_t{};
  }
  SimulatedBoard(const SimulatedBoard&) = delete;
  SimulatedBoard& operator=(const SimulatedBoard&) = delete;

  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COMB");
  sim::MemoryTransport line{peer, "COMB"};
  sim::Script script;
  sim::InstrumentBoard model{sim::BoardKind::uz1};
  sim::Runner runner{line, model.framer(), script, model};
  plat::SerialBackend* saved;
  sysInfo_t& info = sysInfo[0];
};

void BM_DownloadToSimulatedBoard(benchmark::State& state) {
  SimulatedBoard board;
  sysInfo_t& info = board.info;
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
}
BENCHMARK(BM_DownloadToSimulatedBoard)->Unit(benchmark::kMillisecond);

int silent(const char*, ...) { return 0; }

constexpr int kDirFiles = 254;
constexpr int kDirPoints = 4000;

// The directory, written once per run.
const std::filesystem::path& ramp_dir() {
  static const std::filesystem::path dir = [] {
    const auto d = std::filesystem::temp_directory_path() / "felbrin_bench_ramps";
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    std::vector<uint16_t> points(kDirPoints);
    for (int i = 0; i < kDirPoints; ++i) points[static_cast<std::size_t>(i)] = static_cast<uint16_t>(0x7000 + 2 * i);
    for (int k = 0; k < kDirFiles; ++k) {
      rr_ramp_hdr_t h{};
      h.rampType = RR_TYPE_SWLI;
      h.pztID = 12345;
      h.nPoints = kDirPoints;
      h.updateRate = 65436;
      h.sampleClkFreq = 40;
      h.cameraRate = 25;
      h.rampSlope = static_cast<float>(81 + k);
      h.scanLen = 10;
      h.fringesPerFrame = 0.25f;
      h.trigStartAddr = 100;
      h.trigEndAddr = kDirPoints - 100;
      h.offset = 0x8000;
      h.polar = 'b';
      h.dirFlag = 1;
      const std::string name = "d10s" + std::to_string(81 + k) + "c25.b12345";
      if (rr_write_ramp_file((d / name).string().c_str(), &h, points.data()) != 0) std::abort();
    }
    return d;
  }();
  return dir;
}

void BM_RampTableFromDirectory(benchmark::State& state) {
  const std::string dir = ramp_dir().string();
#ifdef _WIN32
  _putenv_s("FB_RAMPS_DIR", dir.c_str());
#else
  setenv("FB_RAMPS_DIR", dir.c_str(), 1);
#endif
  u_dirs_reset();
  SimulatedBoard board;
  sysInfo_t& info = board.info;
  info.acqFlag = 1;
  info.pifoc = felbrin::make_hooked<sb_pifoc_t>();
  info.pifoc->value = 12345;
  info.rampConfigFile.clear();
  if (ur_initUZ(&info) != 0) state.SkipWithError("init failed");
  const auto quiet = u_set_log_fn(&silent);
  for (auto _ : state) {
    if (rr_get_ramp_info(&info) != 0 || info.ramps.table.size() != kDirFiles) state.SkipWithError("table failed");
  }
  u_set_log_fn(quiet);
}
BENCHMARK(BM_RampTableFromDirectory)->Unit(benchmark::kMillisecond);

void BM_ReadTheSameFiles(benchmark::State& state) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(ramp_dir())) paths.push_back(entry.path().string());
  for (auto _ : state) {
    for (const std::string& p : paths) {
      rr_ramp_hdr_t h;
      uint16_t* points = nullptr;
      if (rr_read_ramp_file(p.c_str(), &h, &points) != 0) state.SkipWithError("read failed");
      rr_release_points(&points);
    }
  }
}
BENCHMARK(BM_ReadTheSameFiles)->Unit(benchmark::kMillisecond);

}  // namespace
