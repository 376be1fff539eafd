// Node 63: the dual brush motor driving the objective turret and the zoom
// changer. move(63, "turret", p) and move(63, "zoom", raw) turn them as a
// user would; each move reports through the node's PDOs:
//   first PDO   data[0] = the new turret position
//   second PDO  data[0] status (0x08 moving), data[1] the zoom's raw position;
//               a zoom move sends moving (old position), stopped (new), settled (new)
#include <array>

#include "sim/can/node.h"

namespace cansim {
namespace {

constexpr uint8_t kTurretKnown = 0x80;
constexpr uint8_t kMoving = 0x08;

constexpr ObjectRow kRows[] = {
    {0x2001, 0, 1, Access::ro, kTurretKnown, false},    // turret status, bit 7 position known
    {0x2002, 0, 1, Access::ro, 1, false},               // turret position
    {0x2012, 0, 1, Access::ro, 1, false},               // zoom, raw
    {0x2015, 0, 6, Access::ro, 0x0F0504030201, false},  // every zoom position, raw (15 unknown)
    {0x2020, 1, 2, Access::ro, 0x0506, false},  // positions: zoom 6 (byte 0), turret 5 (byte 1)
};

class BrushMotorNode final : public Node {
 public:
  BrushMotorNode(const NodeSetup& setup, Transport& bus, std::function<int64_t()> clock)
      : Node(setup, kRows, bus, std::move(clock)) {}

  bool move(std::string_view what, int position) override {
    const auto p = static_cast<uint8_t>(position);
    if (what == "turret") {
      find(0x2002, 0)->value[0] = p;
      find(0x2001, 0)->value[0] = kTurretKnown;
      const std::array<uint8_t, 8> data = {p};
      send_pdo(1, data);
      return true;
    }
    if (what == "zoom") {
      Object& zoom = *find(0x2012, 0);
      const uint8_t old = zoom.value[0];
      zoom.value[0] = p;
      const std::array<uint8_t, 8> moving = {kMoving, old};
      const std::array<uint8_t, 8> stopped = {0x00, p};
      send_pdo(2, moving);
      send_pdo(2, stopped);
      send_pdo(2, stopped);
      return true;
    }
    return false;
  }
};

}  // namespace

std::unique_ptr<Node> make_brush_motor_node(const NodeSetup& setup, Transport& bus,
                                            std::function<int64_t()> clock) {
  return std::make_unique<BrushMotorNode>(setup, bus, std::move(clock));
}

}  // namespace cansim
