// The frames the stand-in acquisition library serves: the scenario's frame
// steps, built once for the current mode's frame format when acquisition
// starts, so that serving one is a single copy (the frame path is timed
// against memcpy).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/acquisition/scenario.h"

namespace sim::acq {

struct FrameFormat {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits = 8;  // pixel resolution
  int32_t bytes_per_pixel() const { return (bits + 7) / 8; }
  std::size_t bytes() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
           static_cast<std::size_t>(bytes_per_pixel());
  }
};

class FrameScript {
 public:
  // No steps serves frames of level 0.
  void set_steps(std::vector<FrameStep> steps, bool loop);
  // Builds the frames in this format and starts at the first step; after
  // `frames` frames (0: no limit) every read times out.
  void start(const FrameFormat& format, int32_t frames);
  const FrameFormat& format() const { return format_; }
  // Copies the next frame into `buffer` (format().bytes() long): 0, or the
  // library error number the step gives.
  int32_t next(void* buffer);
  // Frames served since start, failed steps included.
  int32_t served() const { return served_; }

 private:
  std::vector<FrameStep> steps_;
  bool loop_ = true;
  FrameFormat format_;
  std::vector<std::vector<unsigned char>> built_;  // per step; empty for errors
  std::size_t position_ = 0;
  int32_t limit_ = 0;
  int32_t served_ = 0;
};

// One frame of the step in the format (little-endian for 2 bytes a pixel);
// levels above the resolution's largest are cut to it. Empty for an error.
std::vector<unsigned char> build_frame(const FrameStep& step, const FrameFormat& format);

}  // namespace sim::acq
