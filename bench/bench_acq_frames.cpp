// Frames per second through the acquisition binding's ReadDevice of the
// stand-in library, against memcpy of the same frame size in the same run:
// the binding must add nothing per frame beyond the copy.
//
//   bench_acq_frames [width height frames]   (default 1280 1024 2000, 16-bit pixels)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "common/hooks.h"
#include "instrument/acquisition/acq_mgr.h"
#include "platform/host_platform.h"

namespace {

using felbrin::bench::seconds;

int quiet(const char*, ...) { return 0; }

}  // namespace

int main(int argc, char** argv) {
  const int width = argc > 3 ? std::atoi(argv[1]) : 1280;
  const int height = argc > 3 ? std::atoi(argv[2]) : 1024;
  const int frames = argc > 3 ? std::atoi(argv[3]) : 2000;
  const int bytes = width * height * 2;

  // The scenario goes where the library looks for a bare initialisation file name.
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "felbrin-bench-acq";
  std::filesystem::create_directories(dir);
#ifndef _WIN32
  plat::host::set_env("SystemRoot", dir.string().c_str());
#endif
  const std::filesystem::path ini = std::filesystem::path(plat::host::ini_dir()) / "FxBench.ini";
  const std::string text = "[FXSIM]\nDEVICES = PCI0\n[ACQDEVICE1]\nID = 100\nINPUTS = CAM0\n"
                           "[ACQDEVICE1.INPUT1]\nID = 110\nMODES = Full\n[ACQDEVICE1.INPUT1.MODE1]\nID = 111\n"
                           "VALUE.MAX USER WIDTH = " + std::to_string(width) + "\nVALUE.MAX USER HEIGHT = " +
                           std::to_string(height) + "\nVALUE.DATA RESOLUTION = 12\n[FRAMES]\nFRAME = FILL 800\n"
                           "FRAME = PIXELS 200 4095 600\nLOOP = 1\n";
  if (std::FILE* f = std::fopen(ini.string().c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  u_set_log_fn(quiet);
  felbrin::acq::set_library(FELBRIN_ACQ_LIBRARY);
  const int rc = acq_mgropen("FxBench.ini");
  std::filesystem::remove(ini);
  const fx_acq_table_t* t = felbrin::acq::table();
  if (rc != 0 || t == nullptr || t->SetCurrentAcqDevice(100) == 0 || t->SetCurrentInputDevice(110) == 0 ||
      t->SetCurrentInputMode(111) == 0 || t->OpenDevice() == 0 || t->AcquireStart(0) == 0) {
    std::fprintf(stderr, "bench_acq_frames: cannot start the stand-in library (%d)\n", rc);
    return 1;
  }
  std::vector<unsigned char> buffer(static_cast<std::size_t>(bytes));
  // Two source frames, as the scenario serves two frames in turn, so both
  // sides stream the same amount of memory.
  const std::vector<unsigned char> sources[2] = {std::vector<unsigned char>(static_cast<std::size_t>(bytes), 0x5a),
                                                 std::vector<unsigned char>(static_cast<std::size_t>(bytes), 0xa5)};
  int failed = 0;
  unsigned sink = 0;
  // Once each to touch the pages, then timed.
  t->ReadDevice(buffer.data(), bytes);
  std::memcpy(buffer.data(), sources[0].data(), buffer.size());
  std::memcpy(buffer.data(), sources[1].data(), buffer.size());
  const double read_s = seconds([&] {
    for (int i = 0; i < frames; ++i) failed += t->ReadDevice(buffer.data(), bytes) == 0;
    sink += buffer[static_cast<std::size_t>(bytes / 2)];
  });
  const double copy_s = seconds([&] {
    for (int i = 0; i < frames; ++i) {
      std::memcpy(buffer.data(), sources[i % 2].data(), buffer.size());
      sink += buffer[static_cast<std::size_t>(i % bytes)];
    }
  });
  t->AcquireStop();
  t->CloseDevice();
  acq_mgrclose(nullptr);
  if (failed != 0) {
    std::fprintf(stderr, "bench_acq_frames: %d reads failed\n", failed);
    return 1;
  }
  std::printf("frame %dx%d, 2 bytes per pixel, %d frames (check %u)\n", width, height, frames, sink & 1u);
  std::printf("ReadDevice through the binding: %8.0f frames/s\n", frames / read_s);
  std::printf("memcpy of the same size:        %8.0f frames/s\n", frames / copy_s);
  std::printf("ratio (ReadDevice / memcpy time): %.2f\n", read_s / copy_s);
  return 0;
}
