// Nodes 16 to 24: the motor amplifiers of stage axes run in external closed
// loop (one per axis letter); node 48: the position-measurement node they
// close the loop on. Tests set faults and positions through the dictionary
// (set_value) and read back what the library wrote.
#include <vector>

#include "sim/can/node.h"

namespace cansim {
namespace {

constexpr uint16_t kStatusFault = 0x0008;
constexpr uint32_t kManufacturerFault = 0x80000;
constexpr uint16_t kFaultReset = 0x0080;

constexpr ObjectRow kAmplifierRows[] = {
    {0x6041, 0, 2, Access::ro, 0x0400, false},  // status word: target reached
    {0x1002, 0, 4, Access::ro, 0, false},       // manufacturer status
    {0x6040, 0, 2, Access::rw, 0, true},        // control word
    {0x6063, 0, 4, Access::rw, 0, false},       // position
    {0x6067, 0, 4, Access::ro, 10, false},      // position window
    {0x60F4, 0, 4, Access::ro, 0, false},       // following error
    {0x21D6, 0, 2, Access::rw, 0, false},       // closed-loop switch
};

// A rising fault-reset bit clears both faults, as the amplifier does.
class Amplifier final : public Node {
 public:
  using Node::Node;

 protected:
  uint32_t on_write(Object& o, int64_t) override {
    const uint32_t control = o.u32();
    if ((control & kFaultReset) != 0 && (last_control_ & kFaultReset) == 0) {
      if (Object* status = find(0x6041, 0)) status->set_u32(status->u32() & ~kStatusFault);
      if (Object* maker = find(0x1002, 0)) maker->set_u32(maker->u32() & ~kManufacturerFault);
    }
    last_control_ = control;
    return 0;
  }
  uint32_t on_read(Object&, int64_t) override { return 0; }
  void restart() override { last_control_ = 0; }

 private:
  uint32_t last_control_ = 0;
};

constexpr uint32_t kNeedsReset = 0x1;
constexpr uint32_t kHomeRequired = 1u << 22;

constexpr ObjectRow kPositionRows[] = {
    {0x1002, 0, 4, Access::ro, 0, false},  // bit 0 needs reset, bit 22 home required
    {0x2100, 0, 2, Access::wo, 0, true},   // 0x8000 reset, 0x40 clear home required
    {0x2000, 0, 1, Access::ro, 0, true},   // bit 0 busy
};

// A reset keeps the node busy for "busy_reads" state reads, then it is
// ready; set "stuck" to 1 and the reset never clears the need for one.
class PositionNode final : public Node {
 public:
  using Node::Node;

  bool set_option(std::string_view name, int32_t value) override {
    if (name == "busy_reads")
      busy_reads_ = value;
    else if (name == "stuck")
      stuck_ = value != 0;
    else
      return false;
    return true;
  }

 protected:
  uint32_t on_write(Object& o, int64_t) override {
    Object* status = find(0x1002, 0);
    const uint32_t command = o.u32();
    if (command == 0x8000) {
      busy_left_ = busy_reads_;
      if (!stuck_) status->set_u32(status->u32() & ~kNeedsReset);
    } else if (command == 0x40) {
      status->set_u32(status->u32() & ~kHomeRequired);
    }
    return 0;
  }
  uint32_t on_read(Object& o, int64_t) override {
    if (o.row->index == 0x2000) {
      o.value[0] = busy_left_ > 0 ? 1 : 0;
      if (busy_left_ > 0) --busy_left_;
    }
    return 0;
  }
  void restart() override { busy_left_ = 0; }

 private:
  int32_t busy_reads_ = 0;
  int32_t busy_left_ = 0;
  bool stuck_ = false;
};

}  // namespace

std::unique_ptr<Node> make_amplifier_node(const NodeSetup& setup, Transport& bus,
                                          std::function<int64_t()> clock) {
  return std::make_unique<Amplifier>(setup, kAmplifierRows, bus, std::move(clock));
}

std::unique_ptr<Node> make_position_node(const NodeSetup& setup, Transport& bus,
                                         std::function<int64_t()> clock) {
  return std::make_unique<PositionNode>(setup, kPositionRows, bus, std::move(clock));
}

}  // namespace cansim
