// The acquisition working block of the system information record: what the
// camera set-up reads of the current acquisition settings, and the camera
// bad-pixel table built at power-on. The calibration reset keeps it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "data/containers.h"

inline constexpr int CAM_BAD_MAX_CAMERAS = 100;
inline constexpr int CAM_BAD_MAX_POINTS = 8192;

// The bad pixels of one camera set-up. Points are (x, y, 0.0f) from a file.
struct cam_bad_entry_t {
  int32_t grabMode;
  int32_t grabUnder;  // sub-sampling
  int32_t reserved;
  int16_t sizeX;
  int16_t sizeY;
  double grabRate;  // frames per second
  mx_xyv_list_t badPixels;
};
static_assert(offsetof(cam_bad_entry_t, badPixels) == 24);

// Releases every list of a CAM_BAD_MAX_CAMERAS-entry table, then the table
// (allocation hooks).
struct CamBadTableDelete {
  void operator()(cam_bad_entry_t* table) const;
};
using cam_bad_table_ptr = std::unique_ptr<cam_bad_entry_t, CamBadTableDelete>;

struct sb_acq_state_t {
  // The current acquisition settings; frame grabbing sets them, until then
  // host programs and tests do.
  int32_t grabMode = 0;
  int32_t grabUnder = 1;
  int32_t cameraWidth = 0;
  int32_t cameraHeight = 0;
  double grabRate = 0;
  // The table came from the calibration's inline list, not from a file.
  bool badTableFromInline = false;
  cam_bad_table_ptr camBad;
  int32_t camBadCount = 0;
};
