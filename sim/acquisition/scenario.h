// The scenario of the stand-in acquisition library: which acquisition
// devices, cameras (input devices) and input modes it reports, the values
// its queries give, and the frames it serves. One initialisation file holds
// it: the file InitDeviceMgr is given, which is also the file the binding
// lists in its log and reads the display module's name from, so one file
// describes the whole camera set-up of a test or a session at the desk.
//
// Format: "[section]" headings and "key = value" lines; blanks around names
// and values do not count; a line whose first non-blank is ';' is a comment.
// Section names and the simulator's own keys are read without regard to
// case; the query keys after "VALUE." are kept exactly as written, since the
// library matches them exactly. Unknown sections and keys are errors, so a
// typing slip does not quietly leave a value out.
//
//   [FXSIM]
//   INIT = 1                ; 0: InitDeviceMgr fails
//   INIT_ERROR = 22         ; the last error it then leaves (default 22)
//   DEVICES = PCI0, PCI1    ; acquisition device names in the library's order
//   DEVICE_COUNT = 5        ; optional: GetNumAcqDevices answers this instead
//
//   [ACQDEVICE1]            ; the first element of DEVICES
//   MODULE = fxsim_ld.dll   ; the display module: the binding's key, not ours
//   ID = 100                ; 0: GetAcqDeviceId fails for this name
//   SELECT = 1              ; 0: selecting it fails
//   INPUTS = CAM0, , CAM2   ; input device names; an empty element is a
//                           ; position whose name is missing (null)
//   INPUT_COUNT = 3         ; optional: GetNumInputDevices answers this
//   VALUE.GRAB DATA BUFFERS = 4
//
//   [ACQDEVICE1.INPUT1]     ; the first element of INPUTS of device 1
//   ID = 110
//   SELECT = 1
//   MODES = Full, Half      ; input mode names, as INPUTS
//   MODE_COUNT = 2          ; optional: GetNumInputModes answers this
//   VALUE.CAMERA TYPE = 3   ; any "VALUE.<key>" line gives <key> a value
//
//   [ACQDEVICE1.INPUT1.MODE1]
//   ID = 111
//   VALUE.DATA RATE = 30
//   VALUE.MAX USER WIDTH = 640
//   VALUE.X DATA SCALE = 1
//   VALUE.DATA RESOLUTION = 12   ; bits; frames then have 2 bytes a pixel
//
//   [FRAMES]                ; the frames ReadDevice serves, in order
//   FRAME = FILL 100        ; every pixel at 100
//   FRAME = PIXELS 50 4000 10   ; 50 pixels at 4000 on a background of 10
//   FRAME = ERROR 17        ; ReadDevice fails with library error 17
//   LOOP = 1                ; after the last, start again (default); 0: then
//                           ; every read fails with 16 (timed out)
//
// A key with no "VALUE." line has no value: its query fails. Positions are
// counted from 1. A missing ID is made up from the positions: device n has
// 100 n, its input m 100 n + 10 m, that input's mode k 100 n + 10 m + k,
// so no two IDs of one scenario are alike.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::acq {

// The library's error numbers this stand-in gives, written out here rather
// than taken from the binding's table, so a slip on either side shows.
inline constexpr int32_t kErrDeviceBusy = 5;
inline constexpr int32_t kErrDeviceClosed = 6;
inline constexpr int32_t kErrNotReady = 7;
inline constexpr int32_t kErrInvalidMode = 10;
inline constexpr int32_t kErrInvalidDevice = 11;
inline constexpr int32_t kErrInvalidParameter = 12;
inline constexpr int32_t kErrMissingParameter = 13;
inline constexpr int32_t kErrTimedOut = 16;
inline constexpr int32_t kErrDeviceInitialize = 22;
inline constexpr int32_t kErrConfigInvalid = 23;
inline constexpr int32_t kErrCannotFindFile = 24;

// An acquisition device, an input device or an input mode, or (at the top)
// the library itself, whose children are the acquisition devices.
struct Node {
  std::optional<std::string> name;  // none: the list has a missing name here
  int32_t id = 0;
  bool selectable = true;
  std::map<std::string, double, std::less<>> values;
  std::optional<int32_t> count;  // answered instead of children.size()
  std::vector<Node> children;

  int32_t reported_count() const { return count.value_or(static_cast<int32_t>(children.size())); }
};

enum class FrameKind { Fill, Pixels, Error };

struct FrameStep {
  FrameKind kind = FrameKind::Fill;
  int32_t level = 0;       // Fill, Pixels
  int32_t pixels = 0;      // Pixels: how many are at level
  int32_t background = 0;  // Pixels: the level of the others
  int32_t error = 0;       // Error: the library error number
};

struct Scenario {
  bool init_ok = true;
  int32_t init_error = kErrDeviceInitialize;
  Node library;
  std::vector<FrameStep> frames;
  bool loop = true;
};

// Parses the text into `out`. On an error, false with "line N: what" in
// `message` (`out` then undefined).
bool parse_scenario(std::string_view text, Scenario& out, std::string& message);

// "FILL level", "PIXELS count level background" or "ERROR number"; false
// with a message when the text is none of them.
bool parse_frame_step(std::string_view text, FrameStep& out, std::string& message);

}  // namespace sim::acq
