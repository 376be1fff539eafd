// Building and serving the scripted frames.
#include "sim/acquisition/frame_script.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sim::acq {

namespace {

void put(unsigned char* p, int32_t bytes_per_pixel, uint32_t level) {
  p[0] = static_cast<unsigned char>(level & 0xFF);
  if (bytes_per_pixel > 1) p[1] = static_cast<unsigned char>(level >> 8);
}

}  // namespace

std::vector<unsigned char> build_frame(const FrameStep& step, const FrameFormat& format) {
  if (step.kind == FrameKind::Error) return {};
  const int32_t bpp = format.bytes_per_pixel();
  const int32_t bits = std::clamp(format.bits, 1, 16);
  const uint32_t top = (1U << bits) - 1U;
  const auto cut = [top](int32_t level) { return std::min(static_cast<uint32_t>(level), top); };
  std::vector<unsigned char> frame(format.bytes());
  const std::size_t count = frame.size() / static_cast<std::size_t>(bpp);
  const uint32_t ground = cut(step.kind == FrameKind::Fill ? step.level : step.background);
  for (std::size_t i = 0; i < count; ++i) put(&frame[i * bpp], bpp, ground);
  if (step.kind == FrameKind::Pixels && count > 0) {
    // Spread evenly over the frame, so rows and sub-sampled views see some.
    const std::size_t n = std::min(static_cast<std::size_t>(step.pixels), count);
    for (std::size_t k = 0; k < n; ++k) put(&frame[(k * count / n) * bpp], bpp, cut(step.level));
  }
  return frame;
}

void FrameScript::set_steps(std::vector<FrameStep> steps, bool loop) {
  steps_ = std::move(steps);
  if (steps_.empty()) steps_.push_back(FrameStep());
  loop_ = loop;
  built_.clear();
}

void FrameScript::start(const FrameFormat& format, int32_t frames) {
  if (steps_.empty()) steps_.push_back(FrameStep());
  // The frames of the steps in this format, built once: a host that grabs
  // round after round should not pay for the stand-in making them again.
  const bool same = format.width == format_.width && format.height == format_.height &&
                    format.bits == format_.bits;
  if (!same || built_.size() != steps_.size()) {
    format_ = format;
    built_.clear();
    for (const FrameStep& step : steps_) built_.push_back(build_frame(step, format_));
  }
  position_ = 0;
  limit_ = frames;
  served_ = 0;
}

int32_t FrameScript::next(void* buffer) {
  if (limit_ > 0 && served_ >= limit_) return kErrTimedOut;
  if (position_ == steps_.size()) {
    if (!loop_) return kErrTimedOut;
    position_ = 0;
  }
  const std::size_t i = position_++;
  ++served_;
  if (steps_[i].kind == FrameKind::Error) return steps_[i].error;
  std::memcpy(buffer, built_[i].data(), built_[i].size());
  return 0;
}

}  // namespace sim::acq
