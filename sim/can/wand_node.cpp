// Nodes 72 and 73: hand-held wands. A key press is the first transmit PDO
// with the key's number in data[0]; move(node, "key", k) presses key k.
#include <array>

#include "sim/can/node.h"

namespace cansim {
namespace {

class WandNode final : public Node {
 public:
  WandNode(const NodeSetup& setup, Transport& bus, std::function<int64_t()> clock)
      : Node(setup, {}, bus, std::move(clock)) {}
  bool move(std::string_view what, int position) override {
    if (what != "key") return false;
    const std::array<uint8_t, 8> data = {static_cast<uint8_t>(position)};
    send_pdo(1, data);
    return true;
  }
};

}  // namespace

std::unique_ptr<Node> make_wand_node(const NodeSetup& setup, Transport& bus,
                                     std::function<int64_t()> clock) {
  return std::make_unique<WandNode>(setup, bus, std::move(clock));
}

}  // namespace cansim
