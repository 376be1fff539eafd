// Node 127: the ramp generator inside the bridge. Four ramp slots, the
// ramp engine's status, the bridge's own status and configuration word, the
// frame-grabber trigger, the sync generator, the PI digital scanner's
// entries and the bridge's digital outputs.
#include <vector>

#include "sim/can/node.h"

namespace cansim {
namespace {

constexpr uint32_t kRampBytes = 32768;
// What the PI scanner reports (32-bit floats 25.0 and 100.0) and how many
// tables a load finds.
constexpr uint32_t kPiAmplitude = 0x41C80000;
constexpr uint32_t kPiVelocity = 0x42C80000;
constexpr uint16_t kPiTablesLoaded = 3;
// Bridge status: external 12 V present, no trips.
constexpr uint8_t kBridgeStatusGood = 0x08;

constexpr ObjectRow ramp_row(int r, uint8_t sub, uint32_t width, Access access, bool hooked) {
  return {static_cast<uint16_t>(0x2003 + r), sub, width, access, 0, hooked};
}

constexpr ObjectRow kRows[] = {
    {0x2000, 0, 1, Access::rw, 0, true},   // write 1: start; read: 0 idle, 1 busy
    {0x2001, 0, 1, Access::wo, 0, false},  // ramp select
    ramp_row(0, 1, 1, Access::ro, false),
    ramp_row(0, 2, 2, Access::wo, false),
    ramp_row(0, 4, 4, Access::wo, false),
    ramp_row(0, 5, kRampBytes, Access::rw, true),
    ramp_row(1, 1, 1, Access::ro, false),
    ramp_row(1, 2, 2, Access::wo, false),
    ramp_row(1, 4, 4, Access::wo, false),
    ramp_row(1, 5, kRampBytes, Access::rw, true),
    ramp_row(2, 1, 1, Access::ro, false),
    ramp_row(2, 2, 2, Access::wo, false),
    ramp_row(2, 4, 4, Access::wo, false),
    ramp_row(2, 5, kRampBytes, Access::rw, true),
    ramp_row(3, 1, 1, Access::ro, false),
    ramp_row(3, 2, 2, Access::wo, false),
    ramp_row(3, 4, 4, Access::wo, false),
    ramp_row(3, 5, kRampBytes, Access::rw, true),
    {0x2009, 1, 2, Access::wo, 0, false},                  // PIFOC offset
    {0x2010, 1, 1, Access::ro, kBridgeStatusGood, false},  // bridge status
    {0x2010, 2, 2, Access::rw, 0, false},                  // configuration word
    {0x2010, 5, 2, Access::wo, 0, false},  // frame-grabber trigger (width by firmware)
    {0x2030, 0, 4, Access::wo, 0, false},  // sync generator, float
    {0x2040, 0, 2, Access::ro, 0, true},   // PI ramp status word
    {0x2041, 1, 1, Access::wo, 0, false},  // PI ramp select
    {0x2041, 2, 4, Access::ro, kPiAmplitude, false},
    {0x2041, 3, 4, Access::ro, kPiVelocity, false},
    {0x2041, 6, 1, Access::wo, 0, true},    // PI ramp start
    {0x2041, 11, 2, Access::ro, 0, true},   // PI ramp status word, older firmware
    {0x2041, 19, 1, Access::wo, 0, true},   // load the DDL tables
    {0x2041, 20, 2, Access::ro, 0, false},  // tables loaded
    {0x6200, 1, 1, Access::rw, 0, false},   // digital outputs
    {0x6220, 1, 1, Access::wo, 0, false},
    {0x6240, 1, 1, Access::wo, 0, false},
};

class RampNode final : public Node {
 public:
  RampNode(const NodeSetup& setup, std::span<const ObjectRow> rows, Transport& bus,
           std::function<int64_t()> clock)
      : Node(setup, rows, bus, std::move(clock)) {}

  bool set_option(std::string_view name, int32_t value) override {
    if (name != "busy_reads") return false;
    busy_reads_ = value;
    return true;
  }

 protected:
  uint32_t on_write(Object& o, int64_t) override {
    const uint16_t index = o.row->index;
    if ((index == 0x2000 || (index == 0x2041 && o.row->sub == 6)) && o.value[0] == 1)
      busy_left_ = busy_reads_;
    if (index >= 0x2003 && index <= 0x2006) {
      // A ramp whose data arrived is valid.
      if (Object* valid = find(index, 1)) valid->value[0] = 1;
    }
    if (index == 0x2041 && o.row->sub == 19) {
      if (Object* count = find(0x2041, 20)) count->set_u32(kPiTablesLoaded);
    }
    return 0;
  }
  uint32_t on_read(Object& o, int64_t) override {
    const bool busy = busy_left_ > 0;
    if (busy) --busy_left_;
    if (o.row->index == 0x2000) {
      o.value[0] = busy ? 1 : 0;
    } else if (o.row->index == 0x2040 || (o.row->index == 0x2041 && o.row->sub == 11)) {
      o.set_u32(busy ? 1u : 0u);
    }
    return 0;
  }
  void restart() override { busy_left_ = 0; }

 private:
  int32_t busy_reads_ = 0;
  int32_t busy_left_ = 0;
};

}  // namespace

std::unique_ptr<Node> make_ramp_node(const NodeSetup& setup, Transport& bus,
                                     std::function<int64_t()> clock) {
  std::vector<ObjectRow> rows(std::begin(kRows), std::end(kRows));
  // Bridges without the configuration word take the trigger as one byte.
  const bool config_word = setup.firmware_major > 1 || setup.firmware_minor > 11;
  for (ObjectRow& row : rows)
    if (row.index == 0x2010 && row.sub == 5) row.width = config_word ? 2 : 1;
  return std::make_unique<RampNode>(setup, rows, bus, std::move(clock));
}

}  // namespace cansim
