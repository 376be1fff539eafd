// Frames per second through the acquisition binding's ReadDevice of the
// stand-in library, against memcpy of the same frame size in the same run:
// the binding must add nothing per frame beyond the copy.
//
//   bench_acq_frames [width height frames]   (default 1280 1024 2000, 16-bit pixels)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "common/hooks.h"
#include "instrument/acquisition/acq_grab.h"
#include "instrument/acquisition/acq_mgr.h"
#include "instrument/record/sys_info.h"
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

  // The library's grab: frames of the mode into an intensity matrix. Each
  // grab opens the device and starts acquisition, where the stand-in builds
  // its frames; grabs of 1 and of 11 frames, as many of each, leave the
  // cost of the ten frames more: the grab's own per frame.
  const auto s = std::make_unique<sysInfo_t>();
  for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes})
    failed += step(s.get()) != 0;
  mx_bkt16_t one{}, eleven{};
  failed += acq_grab(s.get(), 1, &one) != 0;  // once each, untimed: the buffers
  failed += acq_grab(s.get(), 11, &eleven) != 0;
  const int grabs = std::max(1, frames / 10);
  const double one_s = seconds([&] {
    for (int i = 0; i < grabs; ++i) failed += acq_grab(s.get(), 1, &one) != 0;
  });
  const double eleven_s = seconds([&] {
    for (int i = 0; i < grabs; ++i) failed += acq_grab(s.get(), 11, &eleven) != 0;
  });
  // memcpy of the same frames into the same 11-frame matrix, for the
  // per-frame figure: both sides write the same amount of memory.
  const double copy11_s = seconds([&] {
    for (int i = 0; i < grabs * 10; ++i) {
      std::memcpy(reinterpret_cast<unsigned char*>(eleven.matrix) + static_cast<std::size_t>(i % 11) * buffer.size(),
                  sources[i % 2].data(), buffer.size());
      sink += eleven.matrix[i % 11];
    }
  });
  mx_bkt16_release(&one);
  mx_bkt16_release(&eleven);
  acq_mgrclose(nullptr);
  if (failed != 0) {
    std::fprintf(stderr, "bench_acq_frames: %d reads failed\n", failed);
    return 1;
  }
  std::printf("frame %dx%d, 2 bytes per pixel, %d frames (check %u)\n", width, height, frames, sink & 1u);
  std::printf("ReadDevice through the binding: %8.0f frames/s\n", frames / read_s);
  std::printf("memcpy of the same size:        %8.0f frames/s\n", frames / copy_s);
  std::printf("ratio (ReadDevice / memcpy time): %.2f\n", read_s / copy_s);
  const double per_frame = (eleven_s - one_s) / (10.0 * grabs);
  std::printf("acq_grab, per frame in a grab: %8.0f frames/s, ratio to memcpy into the same matrix %.2f\n",
              1 / per_frame, per_frame / (copy11_s / (grabs * 10)));
  std::printf("acq_grab, set-up of a grab:    %8.3f ms\n", 1000 * (one_s / grabs - per_frame));
  return 0;
}
