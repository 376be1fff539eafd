// Grabbing camera frames and correcting their bad pixels.
//
//   example_camera INI-FILE BAD-PIXEL-FILE
//
// Cameras are driven through the frame grabber maker's acquisition library
// (FxAcq.dll, libFxAcq.so on Linux), loaded at run time from beside the
// program and configured by its initialisation file. The library finds the
// devices, cameras and camera modes; frames are then read through its
// function table. Without hardware, the stand-in library goes beside the
// program and the initialisation file describes the simulated cameras.
//
// Cameras have pixels that cannot be trusted. The camera bad-pixel file
// lists them per camera set-up (mode, size, frame rate); each listed pixel
// is replaced by the mean of its trustworthy neighbours.
//
// A bare INI-FILE name means the system's initialisation file folder (the
// Windows folder); a name with a folder part, such as ./FxAcq.ini, is used
// as it stands.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "felbrin.h"

namespace {

int fail(const char* what, int code) {
  std::fprintf(stderr, "%s failed: %s (%d)\n", what, err_name(code), code);
  return 1;
}

// A call of the acquisition library failed: its own error, as a code.
int library_failed(const char* what) {
  const int code = acq_last_error();
  return fail(what, code != 0 ? code : ERR_ACQ_CMD);
}

bool listed(const mx_xyv_list_t& bad, int x, int y) {
  for (int i = 0; i < bad.count; ++i)
    if (bad.data[i].x == x && bad.data[i].y == y) return true;
  return false;
}

// Replaces each listed pixel by the mean of its neighbours that are not
// listed themselves; returns how many pixels changed.
int correct(std::vector<uint16_t>& frame, int width, int height, const mx_xyv_list_t& bad) {
  int changed = 0;
  for (int i = 0; i < bad.count; ++i) {
    const int x = bad.data[i].x, y = bad.data[i].y;
    long sum = 0;
    int n = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= width || ny >= height || listed(bad, nx, ny)) continue;
        sum += frame[static_cast<std::size_t>(ny * width + nx)];
        ++n;
      }
    uint16_t& pixel = frame[static_cast<std::size_t>(y * width + x)];
    const auto mean = static_cast<uint16_t>(n > 0 ? sum / n : pixel);
    if (mean != pixel) ++changed;
    pixel = mean;
  }
  return changed;
}

// Finds the camera, reads its bad pixels, grabs and corrects three frames.
int grab(sysInfo_t* s, const char* bad_pixel_file) {
  // List the devices, cameras and modes into the record's acquisition state.
  for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes})
    if (const int rc = step(s)) return fail("camera discovery", rc);
  const acq_mode_t& mode = s->acq.modes[0];
  std::printf("%d device(s), %d camera(s); mode %d: %d x %d, %d bits, %g frames/s\n", s->acq.deviceCount,
              s->acq.cameraCount, mode.id, mode.userWidth, mode.userHeight, mode.resolution, mode.dataRate);
  if (mode.bytesPerPixel != 2) return fail("this example reads 2-byte pixels only", ERR_ACQ_INVALID_MODE);

  // The bad pixels of this camera set-up (grab mode 0, no sub-sampling).
  // The table's lists come from the allocation hooks; its deleter frees them.
  cam_bad_table_ptr table(static_cast<cam_bad_entry_t*>(u_calloc_fn(CAM_BAD_MAX_CAMERAS, sizeof(cam_bad_entry_t))));
  if (!table) return fail("allocating the bad-pixel table", ERR_NO_MEM);
  int sections = 0;
  std::string message;
  if (const int rc = cam_bad_file_read(bad_pixel_file, table.get(), &sections, &message)) {
    std::fprintf(stderr, "%s", message.c_str());
    return fail("cam_bad_file_read", rc);
  }
  const cam_bad_entry_t* bad = nullptr;
  for (int i = 0; i < sections; ++i) {
    const cam_bad_entry_t& e = table.get()[i];
    if (e.grabMode == 0 && e.sizeX == mode.userWidth && e.sizeY == mode.userHeight && e.grabRate == mode.dataRate)
      bad = &e;
  }
  if (bad == nullptr) return fail("finding the bad pixels of this camera mode", ERR_CB_FILE_INVALID);
  std::printf("%d bad pixel(s) listed for this mode\n", bad->badPixels.count);

  // Frames are read through the bound library's function table.
  const fx_acq_table_t* fx = felbrin::acq::table();
  if (fx->SetCurrentAcqDevice(s->acq.deviceIds[0]) == 0 || fx->SetCurrentInputDevice(s->acq.primaryInput) == 0 ||
      fx->SetCurrentInputMode(mode.id) == 0)
    return library_failed("selecting the camera mode");
  if (fx->OpenDevice() == 0) return library_failed("OpenDevice");
  int rc = fx->AcquireStart(3) != 0 ? 0 : library_failed("AcquireStart");
  std::vector<uint16_t> frame(static_cast<std::size_t>(mode.userWidth * mode.userHeight));
  for (int n = 1; rc == 0 && n <= 3; ++n) {
    if (fx->ReadDevice(frame.data(), static_cast<int>(frame.size() * sizeof(uint16_t))) == 0) {
      rc = library_failed("ReadDevice");
      break;
    }
    uint16_t& watched = frame[static_cast<std::size_t>(16 * mode.userWidth)];  // pixel (0,16)
    const unsigned before = watched;
    const int changed = correct(frame, mode.userWidth, mode.userHeight, bad->badPixels);
    std::printf("frame %d: %d pixel(s) corrected; pixel (0,16) was %u, now %u\n", n, changed, before,
                static_cast<unsigned>(watched));
  }
  fx->AcquireStop();
  fx->CloseDevice();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s INI-FILE BAD-PIXEL-FILE\n", argv[0]);
    return 2;
  }
  // Load the library and start its device manager on the initialisation
  // file; release it again whatever happens after.
  if (const int rc = acq_mgropen(argv[1])) return fail("acq_mgropen", rc);
  const int rc = grab(&sysInfo[0], argv[2]);
  acq_mgrclose(&sysInfo[0]);
  return rc;
}
