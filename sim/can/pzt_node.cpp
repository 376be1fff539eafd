// Nodes 62 (triple PZT) and 52 (large aperture PZT): the status byte the
// power check reads (0 = no fault).
#include "sim/can/node.h"

namespace cansim {
namespace {

constexpr ObjectRow kRows[] = {
    {0x2001, 0, 1, Access::ro, 0, false},  // fault bits
};

}  // namespace

std::unique_ptr<Node> make_pzt_node(const NodeSetup& setup, Transport& bus,
                                    std::function<int64_t()> clock) {
  return std::make_unique<Node>(setup, kRows, bus, std::move(clock));
}

}  // namespace cansim
