/// @file
/// The acquisition working block of the system information record: what the
/// camera set-up reads of the current acquisition settings, and the camera
/// bad-pixel table built at power-on. The calibration reset keeps it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "data/containers.h"

inline constexpr int CAM_BAD_MAX_CAMERAS = 100;  ///< entries of a bad-pixel table (camera set-ups)
inline constexpr int CAM_BAD_MAX_POINTS = 8192;  ///< points of one entry

/// The bad pixels of one camera set-up. Points are (x, y, 0.0f) from a file.
struct cam_bad_entry_t {
  int32_t grabMode;         ///< grab mode of the set-up, 0..10
  int32_t grabUnder;        ///< sub-sampling
  int32_t reserved;         ///< unused
  int16_t sizeX;            ///< frame width, pixels
  int16_t sizeY;            ///< frame height, pixels
  double grabRate;          ///< frames per second
  mx_xyv_list_t badPixels;  ///< the points, owned by the entry
};
static_assert(offsetof(cam_bad_entry_t, badPixels) == 24);

/// Releases every list of a CAM_BAD_MAX_CAMERAS-entry table, then the table
/// (allocation hooks).
struct CamBadTableDelete {
  /// Releases `table` and its lists.
  void operator()(cam_bad_entry_t* table) const;
};
/// An owned bad-pixel table of CAM_BAD_MAX_CAMERAS entries.
using cam_bad_table_ptr = std::unique_ptr<cam_bad_entry_t, CamBadTableDelete>;

inline constexpr int ACQ_MAX_DEVICES = 3;  ///< acquisition devices (frame grabbers)
inline constexpr int ACQ_MAX_INPUTS = 3;   ///< input devices (cameras) per acquisition device
inline constexpr int ACQ_MAX_MODES = 7;    ///< input modes of the primary camera

/// One input mode of the primary camera, as the library reports it.
struct acq_mode_t {
  int32_t id = 0;                 ///< the library's mode ID
  double dataRate = 0;            ///< frames per second
  int16_t userWidth = 0;          ///< pixels, after the library's data scale
  int16_t userHeight = 0;         ///< pixels, after the library's data scale
  int32_t bytesPerPixel = 0;      ///< 1 or 2 for 8..16-bit data
  int32_t resolution = 0;         ///< bits per pixel
  int32_t integrationPeriod = 0;  ///< ms
};

/// The acquisition working block (`sysInfo_t::acq`).
struct sb_acq_state_t {
  // ---- what discovery found
  int32_t deviceIds[ACQ_MAX_DEVICES] = {};  ///< the library's IDs of the acquisition devices
  int32_t deviceCount = 0;                  ///< entries of deviceIds in use
  int32_t currentDevice = 0;                ///< ID of the selected acquisition device
  int32_t inputIds[ACQ_MAX_DEVICES][ACQ_MAX_INPUTS] = {};  ///< camera IDs per device; 0 none
  int32_t cameraCount = 0;                                 ///< cameras found over all devices
  int32_t primaryInput = 0;                                ///< ID of the primary camera
  int32_t secondaryInput = 0;                              ///< 0: none
  acq_mode_t modes[ACQ_MAX_MODES];                         ///< input modes of the primary camera
  int32_t modeCount = 0;                                   ///< entries of modes in use
  int32_t secondaryModeId = 0;     ///< ID of the secondary camera's first mode; 0 none
  int32_t secondaryModeCount = 0;  ///< modes kept of the secondary camera (0 or 1)
  int32_t highestMode = -1;        ///< modeCount - 1
  int32_t currentMode = -1;        ///< index into modes; -1 until frame grabbing selects one
  int32_t grabDataBuffers = 0;     ///< the device's GRAB DATA BUFFERS value; 0 unknown
  /// The wave monitor's camera frame rate was taken from the selected mode
  /// (acq_select_mode), not set by the host: the next selection replaces it.
  bool frameRateFromMode = false;

  // ---- the current acquisition settings; frame grabbing sets them, until
  // then host programs and tests do
  int32_t grabMode = 0;       ///< grab mode of the current set-up
  int32_t grabUnder = 1;      ///< sub-sampling of grabbed frames; 0 or less counts as 1
  int32_t cameraWidth = 0;    ///< frame width, pixels
  int32_t cameraHeight = 0;   ///< frame height, pixels
  double grabRate = 0;        ///< frames per second
  uint8_t liveDisplay = 0;    ///< the camera runs live into the live frame buffer
  int32_t liveWidth = 0;      ///< live frame width, pixels
  int32_t liveHeight = 0;     ///< live frame height, pixels
  int32_t liveSubSample = 1;  ///< 0 or less counts as 1
  // Automatic gain control: the option, the auxiliary-motor and selector
  // flags that decide whether it may run, and the ND wheel level per light
  // source when it last stopped.
  int32_t agcOption = 0;        ///< automatic gain control option
  uint8_t auxMotor = 0;         ///< auxiliary-motor flag that decides whether gain control may run
  uint8_t selector = 0;         ///< selector flag that decides whether gain control may run
  uint16_t lightLevel[2] = {};  ///< ND wheel level per light source when gain control last stopped

  // ---- the camera bad-pixel table
  /// The table came from the calibration's inline list, not from a file.
  bool badTableFromInline = false;
  cam_bad_table_ptr camBad;  ///< the table; empty until built
  int32_t camBadCount = 0;   ///< entries of camBad in use
};
