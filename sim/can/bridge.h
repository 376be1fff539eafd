// A simulated Ethernet-to-CAN bridge with its CAN segment: the bus, the
// nodes behind the bridge, and the bridge's side of the protocols: an SDO
// client, NMT knowledge from boot-up, heartbeat and guarding frames, and
// the receive queues for PDOs and emergencies that the library's callback
// thread empties.
//
// Not thread-safe: the simulation's lock covers every bridge. An SDO
// transfer waits for replies on the simulation clock; while it waits it
// calls `Pause`, which releases that lock, lets the time pass and takes the
// lock again, so the bridge must be kept alive (shared_ptr) across a
// transfer.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "instrument/can/can_abi.h"
#include "sim/can/bus.h"
#include "sim/can/can_sim.h"
#include "sim/can/node.h"

namespace cansim {

struct PdoIn {
  uint32_t cob_id = 0;
  std::array<uint8_t, 8> data{};
};

// An emergency as the callback hands it on. From an emergency frame of
// node n: value1 the COB-ID (0x80 + n), value2 the error code, the block
// the frame's 8 data bytes (then zeros), value3 the error register.
struct EmcyIn {
  uint32_t value1 = 0;
  uint32_t value2 = 0;
  std::array<uint8_t, CAN_EMCY_BLOCK_SIZE> block{};
  uint8_t value3 = 0;
};

// Lets `ms` of simulation time pass without the simulation's lock.
using Pause = std::function<void(int64_t ms)>;

class Bridge {
 public:
  static constexpr int64_t kSdoTimeoutMs = 1000;
  static constexpr std::size_t kPdoQueueDepth = 256;
  static constexpr std::size_t kEmcyQueueDepth = 64;
  static constexpr int32_t kBusOffError = 4;

  Bridge(const BridgeSetup& setup, std::function<int64_t()> clock);
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  const BridgeSetup& setup() const { return setup_; }
  // The address as CAN_Connect takes it: the four bytes in entry order.
  uint32_t ip_value() const;
  can_bridge_entry_t entry() const;

  // ---- connection and configuration
  // A configuration set meanwhile takes effect here.
  void connect();
  void disconnect();
  bool connected() const { return connected_; }
  void configuration(uint8_t& a, uint32_t& b) const;
  void set_configuration(uint8_t a, uint32_t b);
  int32_t error() const { return error_; }
  void set_bus_off();
  bool bus_off() const { return bus_.state() == BusState::off; }
  // Bus and error cleared, connection, registrations and queues dropped.
  void reset();
  SimBus& bus() { return bus_; }

  // ---- nodes
  Node* add_node(std::string_view kind, uint8_t id, uint32_t product_id);
  Node* node(uint8_t id);
  void remove_node(uint8_t id);

  // Passes frames whose time has come, runs the nodes' timed behaviour and
  // takes what reached the bridge; the time something is next due.
  int64_t step();

  // ---- NMT knowledge
  bool present(uint8_t id) const { return id < known_.size() && known_[id].present; }
  // Polls the node's state by node guarding: the NMT state, or nothing
  // (false) when the node did not answer.
  bool guard(uint8_t id, uint8_t& state);

  // ---- SDO client. CAN_OK when the transfer was attempted (outcome in
  // `result`), CAN_ERR_TIMEOUT when a reply did not come in time,
  // CAN_ERR_BUFFER_TOO_SMALL when the object is larger than `out`,
  // CAN_ERR_GENERAL when the request could not be sent.
  int32_t sdo_read(uint8_t node, uint16_t index, uint8_t sub, std::span<uint8_t> out,
                   can_transfer_result_t& result, const Pause& pause);
  int32_t sdo_write(uint8_t node, uint16_t index, uint8_t sub, std::span<const uint8_t> in,
                    can_transfer_result_t& result, const Pause& pause);

  // ---- PDOs and emergencies
  void register_pdo(uint32_t cob_id) { registered_.insert(cob_id); }
  void unregister_pdos() { registered_.clear(); }
  std::vector<uint32_t> registered() const { return {registered_.begin(), registered_.end()}; }
  // A frame from outside the simulated nodes (a test), as if a node sent it.
  bool inject(const Frame& frame);
  void inject_emcy(const EmcyIn& emcy);

  std::deque<PdoIn> pdos;  // received, not yet taken
  bool overrun = false;    // a PDO was lost to a full queue since the last announcement
  uint64_t pdos_accepted = 0;
  uint64_t pdos_announced = 0;  // kept by the callback thread
  std::deque<EmcyIn> emcys;
  // Set by the library side: emergencies are kept only while a callback
  // for them is registered.
  bool take_emcys = false;

 private:
  struct Known {
    bool present = false;
    uint8_t state = 0;
  };
  void handle(const Frame& frame);
  bool send(const Frame& frame);
  // Waits up to the SDO timeout for the next reply of `node`'s server.
  bool wait_reply(uint8_t node, Frame& reply, const Pause& pause);
  int32_t give_up(uint8_t node, uint16_t index, uint8_t sub, uint32_t code,
                  can_transfer_result_t& result, int32_t status);

  BridgeSetup setup_;
  std::function<int64_t()> clock_;
  SimBus bus_;
  int station_ = -1;
  int injector_ = -1;
  std::vector<std::unique_ptr<Node>> nodes_;
  std::array<Known, 128> known_{};
  bool connected_ = false;
  uint8_t config_a_;
  uint32_t config_b_;
  uint8_t pending_a_;
  uint32_t pending_b_;
  int32_t error_ = 0;
  std::set<uint32_t> registered_;
  std::deque<Frame> sdo_inbox_;
  int guarding_ = -1;  // node whose guarding reply is awaited
  int guard_state_ = -1;
};

}  // namespace cansim
