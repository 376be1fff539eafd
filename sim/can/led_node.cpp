// Node 61: the LED light source. It only keeps what it is told.
#include "sim/can/node.h"

namespace cansim {
namespace {

constexpr ObjectRow kRows[] = {
    {0x2000, 0, 1, Access::wo, 0, false},  // LED setup
    {0x2001, 0, 2, Access::rw, 0, false},  // light level
    {0x2002, 0, 2, Access::wo, 0, false},  // average current limit
    {0x2004, 0, 2, Access::wo, 0, false},  // forward voltage
    {0x2006, 0, 4, Access::wo, 0, false},  // PWM frequency
};

}  // namespace

std::unique_ptr<Node> make_led_node(const NodeSetup& setup, Transport& bus,
                                    std::function<int64_t()> clock) {
  return std::make_unique<Node>(setup, kRows, bus, std::move(clock));
}

}  // namespace cansim
