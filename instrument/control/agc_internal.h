// The AGC thread's seams: its body as a plain function of the record, the
// stop event and a table of what it reaches outside itself, so tests run it
// synchronously on the virtual clock with scripted frames and ND wheel; the
// histogram step on its own (benchmarked); and the module's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "common/errors.h"
#include "common/event.h"

struct sysInfo_t;

namespace felbrin::control {

// The thread's one-frame buffer. A source fills exactly width x height
// pixels of bytes_per_pixel bytes (rows packed, native byte order) and never
// writes beyond `bytes`; a frame of any other size is the source's error.
struct AgcFrame {
  std::span<uint8_t> bytes;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bytes_per_pixel = 1;
  int32_t sub_sample = 1;  // the camera's frame is this many times as wide and high
};

// Copies a frame into the buffer when its geometry matches; otherwise
// leaves the buffer alone and returns kAgcFrameSizeError.
int agc_fill_frame(const AgcFrame& into, const void* pixels, int32_t width, int32_t height,
                   int32_t bytes_per_pixel);
inline constexpr int kAgcFrameSizeError = ERR_FRAME_DATA_CORRUPT;

// What the body uses outside itself. Every entry returns an error code.
struct AgcDeps {
  // Grabs one frame (only when the camera does not run live).
  std::function<int(sysInfo_t*)> grab;
  // Copies the live frame buffer (live) or grabbed frame 0 into `into`.
  // ERR_LOST_FRAME when a frame was lost.
  std::function<int(sysInfo_t*, bool live, const AgcFrame& into)> copy;
  // The ND wheel's light level, read and written in one domain.
  std::function<int(sysInfo_t*, uint16_t*)> read_level;
  std::function<int(sysInfo_t*, uint16_t)> write_level;
  // Waits for the light to settle after a write.
  std::function<int(sysInfo_t*)> llc_wait;
  // The auxiliary motor's position (the selector of system type 26).
  std::function<int(sysInfo_t*, uint8_t*)> aux_position;
};

// The instrument's own: the ND wheel node with invert 0, ac_llc_wait, the
// dual-motor-drive position read on node 66, and the frames of the host's
// source when it set one (agc_set_frame_source), else of the camera.
AgcDeps agc_production_deps();
// The table threads started from now on use; returns the one replaced.
AgcDeps agc_set_deps(AgcDeps deps);

// The thread body. `stop` may be null (the thread then ends at once with
// ERR_INTERNAL_FB).
int agc_thread_body(sysInfo_t* s, Event* stop, const AgcDeps& deps);

// Number of histogram bins for a mode's resolution in bits (clamped 1..16).
uint32_t agc_bins(int32_t resolution);
// The level of the brightest 100 pixels of a frame of 1 or 2 bytes per
// pixel: the bin (values above the top bin count in it) where the count
// from the top reaches 100; 0 for fewer than 100 pixels. `hist` holds
// `bins` counters and is overwritten.
uint32_t agc_top_level(std::span<const uint8_t> frame, int32_t bytes_per_pixel,
                       std::span<uint32_t> hist);

// ---- module state, for tests
struct AgcState {
  bool running = false;
  // Threads waiting for the running thread to end (a stop in progress).
  int stop_waiters = 0;
  int active = 0;
  int requested = 0;
  int32_t suspend_count = 0;
  bool has_stop_event = false;
};
AgcState agc_state();
// Sets the suspend count (to try its bound).
void agc_set_suspend_count(int32_t count);

}  // namespace felbrin::control
