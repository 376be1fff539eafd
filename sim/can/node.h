// A simulated CANopen node: an object dictionary kept as a table, an SDO
// server that speaks the CANopen SDO protocol over frames (expedited up to
// 4 bytes, segmented above), the NMT state machine with boot-up, guarding
// and heartbeat frames, transmit PDOs and emergencies.
//
// Each node kind (ramp_node.cpp, led_node.cpp, ...) is a table of rows and,
// where the device does more than keep values, a subclass that reacts to
// reads, writes and the passing of simulation time.
//
// Frames used (node n):
//   0x000        NMT commands from the master (start, stop, pre-operational, reset)
//   0x600 + n    SDO requests;  0x580 + n  SDO replies
//   0x700 + n    boot-up (data 00), heartbeat (state) and guarding replies
//                (state | toggle) to remote requests on the same COB-ID
//   0x180 + n, 0x280 + n   the first and second transmit PDOs
//   0x80 + n     emergencies: error code (2 bytes), error register, 5 bytes
//
// Not thread-safe: the simulation's lock covers every node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "sim/can/bus.h"

namespace cansim {

enum class Access : uint8_t { ro, wo, rw };

// One entry of a node's object dictionary.
struct ObjectRow {
  uint16_t index;
  uint8_t sub;
  uint32_t width;  // bytes on the wire; a transfer of any other length is refused
  Access access;
  uint64_t initial;  // little-endian value after boot (entries above 8 bytes start zeroed)
  bool hooked;       // the node kind reacts to its reads and writes
};

struct Object {
  const ObjectRow* row = nullptr;
  std::vector<uint8_t> value;
  uint32_t abort_code = 0;  // fault: every transfer aborted with this
  int64_t delay_ms = 0;     // fault: replies this late
  uint32_t u32() const;
  void set_u32(uint32_t v);
};

// NMT states as heartbeats carry them.
enum class NmtState : uint8_t {
  boot = 0x00,
  stopped = 0x04,
  operational = 0x05,
  pre_operational = 0x7F
};

// SDO framing, shared by the nodes' servers and the bridges' client:
// requests go to 0x600 + node, replies come from 0x580 + node.
inline constexpr uint16_t kSdoTx = 0x580;
inline constexpr uint16_t kSdoRx = 0x600;
inline constexpr uint32_t kExpeditedMax = 4;  // largest value an expedited transfer carries
inline constexpr std::size_t kSegmentBytes = 7;
// An 8-byte SDO frame with its command byte and multiplexer.
Frame sdo_frame(uint16_t cob_id, uint8_t command, uint16_t index, uint8_t sub);

// CiA 301 SDO abort codes.
inline constexpr uint32_t kAbortToggle = 0x05030000;
inline constexpr uint32_t kAbortTimeout = 0x05040000;
inline constexpr uint32_t kAbortCommand = 0x05040001;
inline constexpr uint32_t kAbortOutOfMemory = 0x05040005;
inline constexpr uint32_t kAbortReadWriteOnly = 0x06010001;
inline constexpr uint32_t kAbortWriteReadOnly = 0x06010002;
inline constexpr uint32_t kAbortNoObject = 0x06020000;
inline constexpr uint32_t kAbortLength = 0x06070010;
inline constexpr uint32_t kAbortNoSub = 0x06090011;

// What every node is made with.
struct NodeSetup {
  uint8_t id = 0;
  uint32_t product_id = 0;
  // 0x1018/3: major version in the high 16 bits, minor in the low 16.
  uint32_t revision = 0x00010000;
  uint8_t firmware_major = 10;  // of the bridge the node sits behind
  uint8_t firmware_minor = 9;
};

class Node {
 public:
  Node(const NodeSetup& setup, std::span<const ObjectRow> rows, Transport& bus,
       std::function<int64_t()> clock);
  virtual ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  uint8_t id() const { return id_; }
  NmtState state() const { return state_; }

  // Handles every frame the node received.
  void poll();
  // Timed behaviour (motors moving); the time the next step is due, or kNever.
  virtual int64_t tick(int64_t now);

  // Boots: dictionary back to defaults, boot-up frame, pre-operational;
  // operational from the `operational_from`-th state poll on (0: never,
  // 1: the first; negative: at once).
  void boot(int operational_from);
  void set_operational_after(int polls);
  // Off the bus: the node answers nothing any more.
  void detach();

  bool set_value(uint16_t index, uint8_t sub, const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> value(uint16_t index, uint8_t sub) const;
  bool set_abort(uint16_t index, uint8_t sub, uint32_t code);
  bool set_reply_delay(uint16_t index, uint8_t sub, int64_t ms);
  virtual bool set_option(std::string_view name, int32_t value);
  virtual bool move(std::string_view what, int position);

 protected:
  Object* find(uint16_t index, uint8_t sub);
  const Object* find(uint16_t index, uint8_t sub) const;
  // Called for hooked rows: before a read is answered and after a write was
  // taken. A non-zero answer aborts the transfer with that code.
  virtual uint32_t on_read(Object& object, int64_t now);
  virtual uint32_t on_write(Object& object, int64_t now);
  // Kind-specific state back to boot values.
  virtual void restart() {}
  // `pdo` 1 or 2.
  void send_pdo(int pdo, std::span<const uint8_t> data);
  void send_emcy(uint16_t code, uint8_t error_register, std::span<const uint8_t> extra);
  int64_t now() const { return clock_(); }
  const NodeSetup& setup() const { return setup_; }

 private:
  struct Transfer {
    bool active = false;
    bool upload = false;
    Object* object = nullptr;
    std::vector<uint8_t> data;
    std::size_t offset = 0;
    uint8_t toggle = 0;
  };
  void handle(const Frame& frame);
  void handle_sdo(const Frame& frame);
  void handle_nmt(uint8_t command);
  void reply(const Frame& frame, int64_t delay_ms);
  void abort(uint16_t index, uint8_t sub, uint32_t code, int64_t delay_ms);
  void send_state(uint8_t byte);
  void enter(NmtState state);
  void load_defaults();

  NodeSetup setup_;
  uint8_t id_;
  Transport& bus_;
  std::function<int64_t()> clock_;
  int station_ = -1;
  std::vector<ObjectRow> rows_;  // identity rows first, then the kind's
  std::vector<Object> objects_;
  NmtState state_ = NmtState::boot;
  int operational_from_ = -1;  // state polls before operational; 0 never; -1 at once
  int polls_ = 0;
  uint8_t guard_toggle_ = 0;
  Transfer transfer_;
};

// The node kinds, by the names of the control API ("ramp", "led", "brush",
// "pzt", "dmd", "wand"); null for an unknown kind.
std::unique_ptr<Node> make_node(std::string_view kind, const NodeSetup& setup, Transport& bus,
                                std::function<int64_t()> clock);

// One factory per kind file.
std::unique_ptr<Node> make_ramp_node(const NodeSetup&, Transport&, std::function<int64_t()>);
std::unique_ptr<Node> make_led_node(const NodeSetup&, Transport&, std::function<int64_t()>);
std::unique_ptr<Node> make_brush_motor_node(const NodeSetup&, Transport&, std::function<int64_t()>);
std::unique_ptr<Node> make_dual_motor_node(const NodeSetup&, Transport&, std::function<int64_t()>);
std::unique_ptr<Node> make_pzt_node(const NodeSetup&, Transport&, std::function<int64_t()>);
std::unique_ptr<Node> make_wand_node(const NodeSetup&, Transport&, std::function<int64_t()>);
std::unique_ptr<Node> make_amplifier_node(const NodeSetup&, Transport&, std::function<int64_t()>);
std::unique_ptr<Node> make_position_node(const NodeSetup&, Transport&, std::function<int64_t()>);

// Little-endian helpers for node kinds.
std::vector<uint8_t> le_bytes(uint64_t value, std::size_t width);
uint64_t le_value(std::span<const uint8_t> bytes);

}  // namespace cansim
