// Grabbing camera frames and correcting their bad pixels.
//
//   example_camera INI-FILE BAD-PIXEL-FILE
//
// Cameras are driven through the frame grabber maker's acquisition library
// (FxAcq.dll, libFxAcq.so on Linux), loaded at run time from beside the
// program and configured by its initialisation file. The library finds the
// devices, cameras and camera modes; the library's own calls then select a
// mode, grab frames into an intensity matrix and correct them. Without hardware, the stand-in library goes beside the
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

// Finds the camera, reads its bad pixels, grabs and corrects three frames.
int grab(sysInfo_t* s, const char* bad_pixel_file) {
  // List the devices, cameras and modes into the record's acquisition state.
  for (int (*step)(sysInfo_t*) : {acq_getdevices, acq_getinputdev, acq_getinputmodes})
    if (const int rc = step(s)) return fail("camera discovery", rc);
  // Select the first mode: its frame size and rate become the record's.
  if (const int rc = acq_select_mode(s, 0)) return fail("acq_select_mode", rc);
  const acq_mode_t& mode = s->acq.modes[0];
  std::printf("%d device(s), %d camera(s); mode %d: %d x %d, %d bits, %g frames/s\n", s->acq.deviceCount,
              s->acq.cameraCount, mode.id, mode.userWidth, mode.userHeight, mode.resolution, mode.dataRate);

  // The bad pixels of the camera set-ups, from the file. The table's lists
  // come from the allocation hooks; the record's table pointer frees them.
  s->acq.camBad.reset(static_cast<cam_bad_entry_t*>(u_calloc_fn(CAM_BAD_MAX_CAMERAS, sizeof(cam_bad_entry_t))));
  if (!s->acq.camBad) return fail("allocating the bad-pixel table", ERR_NO_MEM);
  std::string message;
  if (const int rc = cam_bad_file_read(bad_pixel_file, s->acq.camBad.get(), &s->acq.camBadCount, &message)) {
    std::fprintf(stderr, "%s", message.c_str());
    return fail("cam_bad_file_read", rc);
  }

  // Three frames of the mode, one bucket each, then each corrected with the
  // table's entry for this set-up (grab mode 0, no sub-sampling, this size
  // and rate).
  mx_bkt16_t frames{};
  if (const int rc = acq_grab(s, 3, &frames)) return fail("acq_grab", rc);
  const std::size_t pixels = static_cast<std::size_t>(mode.userWidth) * static_cast<std::size_t>(mode.userHeight);
  std::vector<unsigned> before;
  for (int n = 0; n < 3; ++n) before.push_back(frames.matrix[n * pixels + 16 * static_cast<std::size_t>(mode.userWidth)]);
  int rc = cam_bad_correct(s, &frames);
  if (rc != 0) {
    mx_bkt16_release(&frames);
    return fail("cam_bad_correct", rc);
  }
  for (int n = 0; n < 3; ++n) {
    const unsigned after = frames.matrix[n * pixels + 16 * static_cast<std::size_t>(mode.userWidth)];
    std::printf("frame %d: pixel (0,16) was %u, now %u\n", n + 1, before[static_cast<std::size_t>(n)], after);
  }
  mx_bkt16_release(&frames);
  return 0;
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
