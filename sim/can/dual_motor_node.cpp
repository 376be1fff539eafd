// Nodes 64, 66, 68 and 70: dual motor drives. Motor 1 turns a diffuser
// disk or the focus, motor 2 the ND wheel (64), the auxiliary motor (66),
// the ring/spot selector (68) or the zoom (70).
//
// Node 64 searches the ND wheel's home when motor-2 control 3 is written:
// the motor-2 status (and data[0] of the second PDO, sent at each change)
// reads 0x08 while searching for `home_ms`, then 0x10 if the search fails
// ("home_fails") or 0x02 (moving to the start position) for `move_ms`, then
// 0. A failed search also sends an emergency (code 0xFF01). Node 64 also
// carries the encoded zoom's motion entries; move(64, "focus", n) sends its
// first PDO (a focus key).
//
// Node 68 moves the ring/spot selector when a motor-2 current is written:
// status bit 1 is held for `rs_move_ms`, then the position reads 1 for a
// positive current and 2 for a negative one. The second PDO reports the
// start (data[0] 0x02) and the end (data[0] 0, data[2] the position).
#include <array>
#include <vector>

#include "sim/can/node.h"

namespace cansim {
namespace {

constexpr uint8_t kSearching = 0x08;
constexpr uint8_t kHomeFailed = 0x10;
constexpr uint8_t kMovingBit = 0x02;
constexpr uint16_t kHomeFailedEmcy = 0xFF01;

constexpr ObjectRow kRows[] = {
    {0x2000, 0, 1, Access::rw, 0, false},    // motor 1 control, bit 0 on
    {0x2002, 0, 1, Access::wo, 0, false},    // motor 1 mode (64: encoded zoom motion mode)
    {0x2004, 0, 4, Access::wo, 0, false},    // motor 1 target velocity, float
    {0x2020, 0, 1, Access::wo, 0, true},     // motor 2 control
    {0x2021, 0, 1, Access::ro, 0, true},     // motor 2 status
    {0x2028, 0, 2, Access::rw, 0, false},    // motor 2 light level
    {0x2034, 0, 2, Access::wo, 0, true},     // motor 2 current
    {0x2036, 0, 2, Access::ro, 800, false},  // motor 2 maximum current
    {0x2044, 8, 1, Access::rw, 0, false},    // keypad mode
    {0x2047, 0, 1, Access::ro, 1, true},     // motor 2 position
};
// Node 64 only: the encoded zoom's limits and backlash.
constexpr ObjectRow kEncodedZoomRows[] = {
    {0x607D, 1, 4, Access::wo, 0, false},
    {0x607D, 2, 4, Access::wo, 0, false},
    {0x2019, 0, 4, Access::wo, 0, false},
};

class DualMotorNode final : public Node {
 public:
  DualMotorNode(const NodeSetup& setup, std::span<const ObjectRow> rows, Transport& bus,
                std::function<int64_t()> clock)
      : Node(setup, rows, bus, std::move(clock)) {}

  bool set_option(std::string_view name, int32_t value) override {
    if (id() == 64 && name == "home_ms")
      home_ms_ = value;
    else if (id() == 64 && name == "move_ms")
      move_ms_ = value;
    else if (id() == 64 && name == "home_fails")
      home_fails_ = value != 0;
    else if (id() == 68 && name == "rs_move_ms")
      rs_move_ms_ = value;
    else
      return false;
    return true;
  }
  bool move(std::string_view what, int position) override {
    if (id() != 64 || what != "focus") return false;
    const std::array<uint8_t, 8> data = {static_cast<uint8_t>(position)};
    send_pdo(1, data);
    return true;
  }

  int64_t tick(int64_t now) override {
    const uint8_t status = status_at(now);
    if (status != reported_) {
      reported_ = status;
      const std::array<uint8_t, 8> data = {status, 0, position_at(now)};
      send_pdo(2, data);
      if (id() == 64 && status == kHomeFailed) {
        const std::array<uint8_t, 5> none{};
        send_emcy(kHomeFailedEmcy, 0x80, none);
      }
    }
    return next_change(now);
  }

 protected:
  uint32_t on_write(Object& o, int64_t now) override {
    if (o.row->index == 0x2020 && id() == 64 && o.value[0] == 3) {
      home_start_ = now;
      tick(now);
    } else if (o.row->index == 0x2034 && id() == 68) {
      const auto current = static_cast<int16_t>(o.value[0] | (o.value[1] << 8));
      if (current != 0) {
        rs_start_ = now;
        rs_target_ = current > 0 ? 1 : 2;
        tick(now);
      }
    }
    return 0;
  }
  uint32_t on_read(Object& o, int64_t now) override {
    tick(now);
    if (o.row->index == 0x2021) o.value[0] = status_at(now);
    if (o.row->index == 0x2047) o.value[0] = position_at(now);
    return 0;
  }
  void restart() override {
    home_start_ = rs_start_ = -1;
    reported_ = 0;
    position_ = 1;
  }

 private:
  uint8_t status_at(int64_t now) const {
    if (home_start_ >= 0) {
      const int64_t t = now - home_start_;
      if (t < home_ms_) return kSearching;
      if (home_fails_) return kHomeFailed;
      if (t < home_ms_ + move_ms_) return kMovingBit;
    }
    if (rs_start_ >= 0 && now - rs_start_ < rs_move_ms_) return kMovingBit;
    return 0;
  }
  uint8_t position_at(int64_t now) {
    if (rs_start_ >= 0 && now - rs_start_ >= rs_move_ms_) position_ = rs_target_;
    return position_;
  }
  int64_t next_change(int64_t now) const {
    int64_t next = kNever;
    auto consider = [&](int64_t at) {
      if (at > now && at < next) next = at;
    };
    if (home_start_ >= 0) {
      consider(home_start_ + home_ms_);
      if (!home_fails_) consider(home_start_ + home_ms_ + move_ms_);
    }
    if (rs_start_ >= 0) consider(rs_start_ + rs_move_ms_);
    return next;
  }

  int32_t home_ms_ = 300;
  int32_t move_ms_ = 200;
  bool home_fails_ = false;
  int32_t rs_move_ms_ = 500;
  int64_t home_start_ = -1;
  int64_t rs_start_ = -1;
  uint8_t rs_target_ = 1;
  uint8_t position_ = 1;
  uint8_t reported_ = 0;
};

}  // namespace

std::unique_ptr<Node> make_dual_motor_node(const NodeSetup& setup, Transport& bus,
                                           std::function<int64_t()> clock) {
  std::vector<ObjectRow> rows(std::begin(kRows), std::end(kRows));
  if (setup.id == 64)
    rows.insert(rows.end(), std::begin(kEncodedZoomRows), std::end(kEncodedZoomRows));
  return std::make_unique<DualMotorNode>(setup, rows, bus, std::move(clock));
}

}  // namespace cansim
