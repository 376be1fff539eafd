// Fuzzes the stand-in acquisition library's scenario reader, and builds the
// first frame of every scenario it accepts in a small format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/acquisition/frame_script.h"
#include "sim/acquisition/scenario.h"

namespace {

// Every position has an ID, given or made up.
void check(const sim::acq::Node& node) {
  for (const sim::acq::Node& child : node.children) {
    if (child.id == INT32_MIN) std::abort();
    check(child);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::acq::Scenario scenario;
  std::string message;
  if (!sim::acq::parse_scenario(text, scenario, message)) {
    if (message.rfind("line ", 0) != 0) std::abort();
    return 0;
  }
  check(scenario.library);
  sim::acq::FrameScript script;
  script.set_steps(scenario.frames, scenario.loop);
  sim::acq::FrameFormat format;
  format.width = 4;
  format.height = 3;
  format.bits = size > 0 ? 1 + data[0] % 16 : 8;
  script.start(format, 0);
  unsigned char frame[4 * 3 * 2];
  const int32_t error = script.next(frame);
  if (error < 0) std::abort();
  return 0;
}
