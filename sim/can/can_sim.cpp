// The simulation's shared state, the 17 operations over it, the control
// functions, and the library's callback thread.
//
// Lock order: the transfer lock (one SDO transfer at a time, as the library
// runs them) before the simulation lock. Callbacks run on the callback
// thread with neither held; a callback may call any operation.
#include "sim/can/can_sim.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>

#include "common/hooks.h"
#include "instrument/can/can_api.h"
#include "sim/can/bridge.h"

namespace cansim {
namespace {

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::atomic<int64_t (*)()> g_clock{&steady_ms};

int64_t sim_now() { return g_clock.load()(); }

// Time passes for a waiting transfer: really, on the real clock; through the
// library's pause seam on any other, which moves a virtual clock.
void pass_time(int64_t ms) {
  if (g_clock.load() == &steady_ms)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  else
    u_sleep_fn(static_cast<uint32_t>(ms));
}

// The families' nodes, in the order they join the bridge.
struct FamilyNode {
  uint8_t id;
  const char* kind;
  uint32_t product_id;
};
constexpr uint32_t kRampProduct = 0x26721F7F;
constexpr uint32_t kLedProduct = 0x2672137D;
constexpr uint32_t kBrushProduct = 0x267215D5;
constexpr uint32_t kPztProduct = 0x26721E3E;
constexpr uint32_t kLargeApProduct = 0x26721E34;
constexpr uint32_t kWandProduct = 0x26721D48;
constexpr uint32_t kDmdProduct = 0x26721C40;
constexpr FamilyNode kFjord[] = {
    {127, "ramp", kRampProduct}, {61, "led", kLedProduct}, {63, "brush", kBrushProduct}};
constexpr FamilyNode kFjordP[] = {{127, "ramp", kRampProduct},
                                  {61, "led", kLedProduct},
                                  {63, "brush", kBrushProduct},
                                  {62, "pzt", kPztProduct}};
constexpr FamilyNode kKite[] = {{127, "ramp", kRampProduct},  {62, "pzt", kPztProduct},
                                {52, "pzt", kLargeApProduct}, {72, "wand", kWandProduct},
                                {70, "dmd", kDmdProduct},     {68, "dmd", kDmdProduct},
                                {64, "dmd", kDmdProduct},     {66, "dmd", kDmdProduct}};
struct Family {
  std::string_view name;
  std::span<const FamilyNode> nodes;
};
constexpr Family kFamilies[] = {{"fjord", kFjord}, {"fjordp", kFjordP}, {"kite", kKite}};

struct Sim {
  std::mutex transfer;  // before `mutex`
  std::mutex mutex;
  std::condition_variable cv;  // work for the callback thread, or a delivery done
  std::vector<std::shared_ptr<Bridge>> bridges;
  std::shared_ptr<Bridge> connected;
  can_pdo_callback_t on_pdo = nullptr;
  can_emcy_callback_t on_emcy = nullptr;
  // faults
  std::vector<int32_t> bridge_errors;
  std::optional<int32_t> enumerate_count;
  std::map<std::string, int32_t, std::less<>> fail_next;
  int fail_get_pdo = 0;
  // inspection
  std::vector<std::string> log;
  std::map<std::string, int, std::less<>> counts;
  // the callback thread
  std::unique_ptr<std::thread> thread;
  std::thread::id thread_id;
  std::atomic<bool> stop{false};
  std::atomic<bool> ended{false};
  bool in_flight = false;

  // The thread sees `stop` within one of its waits and ends. In a library
  // unloaded at process exit, Windows has ended it already, without a word:
  // then nothing of it may be touched (joining hangs), and it is let go.
  // Neither the lock nor the condition is used here for that reason.
  ~Sim() {
    if (!thread) return;
    stop = true;
    const auto give_up = std::chrono::steady_clock::now() + kThreadEndWait;
    while (!ended.load() && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ended.load()) {
      thread->join();
    } else {
      static_cast<void>(thread.release());  // ended by the system; its object is left as it is
    }
  }
  static constexpr auto kThreadEndWait = std::chrono::milliseconds(500);
  // The longest the thread sleeps before it looks at `stop` again.
  static constexpr auto kIdleWait = std::chrono::milliseconds(50);

  void start_thread_locked();
  void run();
  int64_t step_locked() {
    int64_t next = kNever;
    for (const auto& b : bridges) next = std::min(next, b->step());
    return next;
  }
  bool delivered_locked() const {
    if (in_flight) return false;
    if (!connected) return true;
    return (connected->pdos.empty() || connected->pdos_announced >= connected->pdos_accepted) &&
           connected->emcys.empty();
  }
  void wait_callback_locked(std::unique_lock<std::mutex>& lock) {
    if (std::this_thread::get_id() != thread_id) cv.wait(lock, [this] { return !in_flight; });
  }
  Node* find_node_locked(uint8_t id, Bridge** owner = nullptr) {
    for (const auto& b : bridges) {
      if (Node* n = b->node(id)) {
        if (owner != nullptr) *owner = b.get();
        return n;
      }
    }
    return nullptr;
  }
};

Sim& sim() {
  static Sim s;
  return s;
}

// Holds the simulation lock for a control function or an operation, and
// wakes the callback thread at the end, since whatever was done may have
// sent PDOs or emergencies.
class Locked {
 public:
  Locked() : sim_(sim()), lock_(sim_.mutex) {}
  ~Locked() {
    lock_.unlock();
    sim_.cv.notify_all();
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  Sim* operator->() { return &sim_; }
  std::unique_lock<std::mutex>& lock() { return lock_; }

 private:
  Sim& sim_;
  std::unique_lock<std::mutex> lock_;
};

void Sim::start_thread_locked() {
  if (thread) return;
  thread = std::make_unique<std::thread>([this] {
    run();
    ended = true;
  });
  thread_id = thread->get_id();
}

void Sim::run() {
  std::unique_lock lock(mutex);
  while (!stop) {
    const int64_t next = step_locked();
    const std::shared_ptr<Bridge> b = connected;
    if (b && on_emcy != nullptr && !b->emcys.empty()) {
      const EmcyIn e = b->emcys.front();
      b->emcys.pop_front();
      const can_emcy_callback_t cb = on_emcy;
      in_flight = true;
      lock.unlock();
      cb(e.value1, e.value2, e.block.data(), e.value3);
      lock.lock();
      in_flight = false;
      cv.notify_all();
      continue;
    }
    if (b && on_pdo != nullptr && !b->pdos.empty() && b->pdos_announced < b->pdos_accepted) {
      const auto waiting = static_cast<int32_t>(b->pdos.size());
      const int32_t overrun = b->overrun ? 1 : 0;
      b->overrun = false;
      const uint64_t mark = b->pdos_accepted;
      const can_pdo_callback_t cb = on_pdo;
      in_flight = true;
      lock.unlock();
      cb(waiting, overrun, 0, 0);
      lock.lock();
      b->pdos_announced = std::max(b->pdos_announced, mark);
      in_flight = false;
      cv.notify_all();
      continue;
    }
    if (next == kNever) {
      cv.wait_for(lock, kIdleWait);
    } else if (g_clock.load() == &steady_ms) {
      cv.wait_for(
          lock, std::min<std::chrono::milliseconds>(
                    kIdleWait, std::chrono::milliseconds(std::max<int64_t>(1, next - sim_now()))));
    } else {
      // Another clock moves only when someone pauses: look again shortly.
      cv.wait_for(lock, std::chrono::milliseconds(2));
    }
  }
}

std::string hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

std::string object_text(uint8_t node, uint16_t index, uint8_t sub) {
  return std::to_string(node).append(" ").append(hex(index, 4)).append("/").append(hex(sub, 2));
}

// One operation call: counted, logged as "<name>[ <args>] -> <status>".
class Call {
 public:
  Call(Locked& locked, const char* name, std::string args = {})
      : locked_(locked), name_(name), args_(std::move(args)) {
    ++locked_->counts[name_];
  }
  // The status a fail_next left for this operation.
  std::optional<int32_t> injected() {
    const auto it = locked_->fail_next.find(name_);
    if (it == locked_->fail_next.end()) return std::nullopt;
    const int32_t status = it->second;
    locked_->fail_next.erase(it);
    return status;
  }
  int32_t done(int32_t status, const std::string& extra = {}) {
    std::string line = name_;
    if (!args_.empty()) line.append(" ").append(args_);
    line.append(" -> ").append(std::to_string(status));
    if (!extra.empty()) line.append(" ").append(extra);
    locked_->log.push_back(std::move(line));
    return status;
  }

 private:
  Locked& locked_;
  std::string name_;
  std::string args_;
};

// The connected bridge, or the status that says why an operation on the
// bus cannot go on.
int32_t bus_check(Locked& s) {
  if (!s->connected || !s->connected->connected()) return CAN_ERR_NOT_CONNECTED;
  if (s->connected->bus_off()) return CAN_ERR_GENERAL;
  return CAN_OK;
}

// ---- the 17 operations

int32_t enumerate_bridges(can_bridge_entry_t* entries, int32_t capacity) {
  Locked s;
  Call call(s, "CAN_EnumerateBridges", std::to_string(capacity));
  if (auto st = call.injected()) return call.done(*st);
  if (entries == nullptr || capacity < 1) return call.done(CAN_ERR_GENERAL);
  int32_t n = 0;
  for (const auto& b : s->bridges) {
    if (n == capacity) break;
    entries[n++] = b->entry();
  }
  if (s->enumerate_count) n = *s->enumerate_count;
  return call.done(n);
}

int32_t connect(uint32_t ip) {
  Locked s;
  Call call(s, "CAN_Connect", hex(ip, 8));
  if (auto st = call.injected()) return call.done(*st);
  for (const auto& b : s->bridges) {
    if (b->ip_value() != ip) continue;
    if (s->connected && s->connected != b) s->connected->disconnect();
    b->connect();
    s->connected = b;
    return call.done(CAN_OK);
  }
  return call.done(CAN_ERR_TIMEOUT);
}

int32_t disconnect() {
  Locked s;
  Call call(s, "CAN_Disconnect");
  if (auto st = call.injected()) return call.done(*st);
  if (s->connected) s->connected->disconnect();
  s->connected.reset();
  return call.done(CAN_OK);
}

int32_t get_firmware_version(uint8_t* major, uint8_t* minor) {
  Locked s;
  Call call(s, "CAN_GetFirmwareVersion");
  if (auto st = call.injected()) return call.done(*st);
  if (major == nullptr || minor == nullptr) return call.done(CAN_ERR_GENERAL);
  if (!s->connected) return call.done(CAN_ERR_NOT_CONNECTED);
  *major = s->connected->setup().firmware_major;
  *minor = s->connected->setup().firmware_minor;
  return call.done(CAN_OK);
}

int32_t get_bridge_configuration(uint8_t* a, uint32_t* b) {
  Locked s;
  Call call(s, "CAN_GetBridgeConfiguration");
  if (auto st = call.injected()) return call.done(*st);
  if (a == nullptr || b == nullptr) return call.done(CAN_ERR_GENERAL);
  if (!s->connected) return call.done(CAN_ERR_NOT_CONNECTED);
  s->connected->configuration(*a, *b);
  return call.done(CAN_OK);
}

int32_t set_bridge_configuration(uint8_t a, uint32_t b) {
  Locked s;
  Call call(s, "CAN_SetBridgeConfiguration",
            std::to_string(a).append(" ").append(std::to_string(b)));
  if (auto st = call.injected()) return call.done(*st);
  if (!s->connected) return call.done(CAN_ERR_NOT_CONNECTED);
  s->connected->set_configuration(a, b);
  return call.done(CAN_OK);
}

int32_t get_last_bridge_error(int32_t* error) {
  Locked s;
  Call call(s, "CAN_GetLastBridgeError");
  if (auto st = call.injected()) return call.done(*st);
  if (error == nullptr) return call.done(CAN_ERR_GENERAL);
  if (!s->connected) return call.done(CAN_ERR_NOT_CONNECTED);
  if (!s->bridge_errors.empty()) {
    *error = s->bridge_errors.front();
    if (s->bridge_errors.size() > 1) s->bridge_errors.erase(s->bridge_errors.begin());
  } else {
    *error = s->connected->error();
  }
  return call.done(CAN_OK);
}

int32_t reset_bridge() {
  Locked s;
  Call call(s, "CAN_ResetBridge");
  if (auto st = call.injected()) return call.done(*st);
  if (!s->connected) return call.done(CAN_ERR_NOT_CONNECTED);
  // The bridge restarts: the connection is gone until the next connect.
  s->connected->reset();
  s->connected.reset();
  return call.done(CAN_OK);
}

int32_t enumerate_nodes(uint8_t* nodes) {
  Locked s;
  Call call(s, "CAN_EnumerateNodes");
  if (auto st = call.injected()) return call.done(*st);
  if (nodes == nullptr) return call.done(CAN_ERR_GENERAL);
  if (const int32_t st = bus_check(s); st != CAN_OK) return call.done(st);
  s->connected->step();
  for (int id = 0; id < CAN_MAX_NODES; ++id)
    nodes[id] =
        s->connected->present(static_cast<uint8_t>(id)) ? CAN_NODE_PRESENT : CAN_NODE_ABSENT;
  return call.done(CAN_OK);
}

int32_t find_node(uint8_t node, uint8_t* status) {
  Locked s;
  Call call(s, "CAN_FindNode", std::to_string(node));
  if (auto st = call.injected()) return call.done(*st);
  if (status == nullptr || node > 127) return call.done(CAN_ERR_GENERAL);
  if (const int32_t st = bus_check(s); st != CAN_OK) return call.done(st);
  s->connected->step();
  *status = s->connected->present(node) ? CAN_NODE_FOUND : CAN_NODE_ABSENT;
  return call.done(CAN_OK);
}

int32_t get_node_state(uint8_t node, uint8_t* state) {
  Locked s;
  Call call(s, "CAN_GetNodeState", std::to_string(node));
  if (auto st = call.injected()) return call.done(*st);
  if (state == nullptr || node > 127) return call.done(CAN_ERR_GENERAL);
  if (const int32_t st = bus_check(s); st != CAN_OK) return call.done(st);
  uint8_t nmt = 0;
  *state = CAN_NODE_ABSENT;
  if (s->connected->present(node) && s->connected->guard(node, nmt)) {
    switch (static_cast<NmtState>(nmt)) {
      case NmtState::operational: *state = CAN_NODE_OPERATIONAL; break;
      case NmtState::pre_operational: *state = 1; break;
      case NmtState::stopped: *state = 3; break;
      default: break;
    }
  }
  return call.done(CAN_OK);
}

std::string transfer_outcome(int32_t status, const can_transfer_result_t& r) {
  if (status != CAN_OK || r.status == CAN_OK) return {};
  return std::string("abort ").append(hex(r.abort_code, 8));
}

int32_t sdo_read(uint8_t node, uint16_t index, uint8_t sub, uint8_t* data, uint32_t byte_count,
                 can_transfer_result_t* result) {
  std::lock_guard transfer(sim().transfer);
  Locked s;
  Call call(s, "CAN_SDORead",
            object_text(node, index, sub).append(" ").append(std::to_string(byte_count)));
  if (auto st = call.injected()) return call.done(*st);
  if (result == nullptr || (data == nullptr && byte_count > 0) || node == 0 || node > 127)
    return call.done(CAN_ERR_GENERAL);
  if (const int32_t st = bus_check(s); st != CAN_OK) return call.done(st);
  const std::shared_ptr<Bridge> bridge = s->connected;  // alive while the lock is let go
  auto& lock = s.lock();
  const Pause pause = [&lock](int64_t ms) {
    lock.unlock();
    pass_time(ms);
    lock.lock();
  };
  const int32_t st =
      bridge->sdo_read(node, index, sub, std::span(data, byte_count), *result, pause);
  return call.done(st, transfer_outcome(st, *result));
}

int32_t sdo_write(uint8_t node, uint16_t index, uint8_t sub, const uint8_t* data,
                  uint32_t byte_count, can_transfer_result_t* result) {
  std::lock_guard transfer(sim().transfer);
  Locked s;
  std::string args = object_text(node, index, sub);
  if (data != nullptr && byte_count <= 8) {
    for (uint32_t i = 0; i < byte_count; ++i) args.append(" ").append(hex(data[i], 2));
  } else {
    args.append(" (").append(std::to_string(byte_count)).append(" bytes)");
  }
  Call call(s, "CAN_SDOWrite", args);
  if (auto st = call.injected()) return call.done(*st);
  if (result == nullptr || data == nullptr || byte_count == 0 || node == 0 || node > 127)
    return call.done(CAN_ERR_GENERAL);
  if (const int32_t st = bus_check(s); st != CAN_OK) return call.done(st);
  const std::shared_ptr<Bridge> bridge = s->connected;
  auto& lock = s.lock();
  const Pause pause = [&lock](int64_t ms) {
    lock.unlock();
    pass_time(ms);
    lock.lock();
  };
  const int32_t st =
      bridge->sdo_write(node, index, sub, std::span(data, byte_count), *result, pause);
  return call.done(st, transfer_outcome(st, *result));
}

int32_t register_pdo(const can_pdo_descriptor_t* descriptor) {
  Locked s;
  Call call(s, "CAN_RegisterPDO", descriptor != nullptr ? hex(descriptor->cob_id, 3) : "null");
  if (auto st = call.injected()) return call.done(*st);
  if (descriptor == nullptr) return call.done(CAN_ERR_GENERAL);
  if (!s->connected) return call.done(CAN_ERR_NOT_CONNECTED);
  s->connected->register_pdo(descriptor->cob_id);
  return call.done(CAN_OK);
}

int32_t register_events(can_pdo_callback_t on_pdo, can_emcy_callback_t on_emcy) {
  Locked s;
  const bool off = on_pdo == nullptr && on_emcy == nullptr;
  Call call(s, "CAN_RegisterEvents", off ? "off" : "on");
  if (auto st = call.injected()) return call.done(*st);
  s->on_pdo = on_pdo;
  s->on_emcy = on_emcy;
  for (const auto& b : s->bridges) b->take_emcys = on_emcy != nullptr;
  if (off) {
    s->wait_callback_locked(s.lock());
  } else {
    s->start_thread_locked();
  }
  return call.done(CAN_OK);
}

int32_t get_pdo(can_pdo_record_t* record) {
  Locked s;
  Call call(s, "CAN_GetPDO");
  if (auto st = call.injected()) return call.done(*st);
  if (record == nullptr) return call.done(CAN_ERR_GENERAL);
  if (!s->connected) return call.done(CAN_ERR_NOT_CONNECTED);
  s->connected->step();  // what the nodes sent meanwhile
  auto& queue = s->connected->pdos;
  if (s->fail_get_pdo > 0 && --s->fail_get_pdo == 0) {
    if (!queue.empty()) queue.pop_front();
    return call.done(CAN_ERR_GENERAL);
  }
  if (queue.empty()) return call.done(CAN_ERR_NO_PDO);
  const PdoIn p = queue.front();
  queue.pop_front();
  *record = can_pdo_record_t{};
  record->cob_id = p.cob_id;
  std::copy(p.data.begin(), p.data.end(), record->data);
  return call.done(CAN_OK, hex(p.cob_id, 3));
}

int32_t unregister_pdos() {
  Locked s;
  Call call(s, "CAN_UnregisterPDOs");
  if (auto st = call.injected()) return call.done(*st);
  if (s->connected) {
    s->connected->unregister_pdos();
    s->connected->pdos.clear();
  }
  return call.done(CAN_OK);
}

constexpr can_api_t kApi = {
    enumerate_bridges,
    connect,
    disconnect,
    get_firmware_version,
    get_bridge_configuration,
    set_bridge_configuration,
    get_last_bridge_error,
    reset_bridge,
    enumerate_nodes,
    find_node,
    get_node_state,
    sdo_read,
    sdo_write,
    register_pdo,
    register_events,
    get_pdo,
    unregister_pdos,
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_mac(std::string_view text, uint8_t mac[6]) {
  if (text.size() != 17) return false;
  const char sep = text[2];
  if (sep != '-' && sep != ':') return false;
  for (int i = 0; i < 6; ++i) {
    const std::size_t at = static_cast<std::size_t>(i) * 3;
    const int hi = hex_digit(text[at]);
    const int lo = hex_digit(text[at + 1]);
    if (hi < 0 || lo < 0 || (i < 5 && text[at + 2] != sep)) return false;
    mac[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

void add_bridge_locked(Locked& s, const BridgeSetup& setup) {
  auto b = std::make_shared<Bridge>(setup, &sim_now);
  b->take_emcys = s->on_emcy != nullptr;
  s->bridges.push_back(std::move(b));
}

}  // namespace

const can_api_t* api() { return &kApi; }

void reset() {
  Locked s;
  s->wait_callback_locked(s.lock());
  s->connected.reset();
  s->bridges.clear();
  s->on_pdo = nullptr;
  s->on_emcy = nullptr;
  s->bridge_errors.clear();
  s->enumerate_count.reset();
  s->fail_next.clear();
  s->fail_get_pdo = 0;
  s->log.clear();
  s->counts.clear();
  g_clock = &steady_ms;
}

bool preset(const char* text) {
  if (text == nullptr) return false;
  const std::string_view t = text;
  const std::size_t colon = t.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view family = t.substr(0, colon);
  const auto it = std::find_if(std::begin(kFamilies), std::end(kFamilies),
                               [family](const Family& f) { return f.name == family; });
  BridgeSetup setup;
  if (it == std::end(kFamilies) || !parse_mac(t.substr(colon + 1), setup.mac)) return false;
  Locked s;
  setup.ip[3] = static_cast<uint8_t>(10 + s->bridges.size());
  add_bridge_locked(s, setup);
  for (const FamilyNode& n : it->nodes) s->bridges.back()->add_node(n.kind, n.id, n.product_id);
  return true;
}

bool preset_from_environment() {
  const char* text = std::getenv("FELBRIN_CANSIM");
  return text != nullptr && preset(text);
}

void add_bridge(const BridgeSetup& setup) {
  Locked s;
  add_bridge_locked(s, setup);
}

bool add_node(uint8_t node, const char* kind, uint32_t product_id) {
  Locked s;
  if (s->bridges.empty() || kind == nullptr) return false;
  return s->bridges.back()->add_node(kind, node, product_id) != nullptr;
}

void remove_node(uint8_t node) {
  Locked s;
  for (const auto& b : s->bridges)
    if (b->node(node) != nullptr) b->remove_node(node);
}

void reboot_node(uint8_t node, int polls) {
  Locked s;
  Bridge* b = nullptr;
  if (Node* n = s->find_node_locked(node, &b)) {
    // After `polls` polls: operational from the next one.
    n->boot(polls <= 0 ? -1 : polls + 1);
    b->step();
  }
}

void set_operational_after(uint8_t node, int polls) {
  Locked s;
  Bridge* b = nullptr;
  if (Node* n = s->find_node_locked(node, &b)) {
    n->set_operational_after(polls);
    b->step();
  }
}

bool set_value(uint8_t node, uint16_t index, uint8_t sub, const std::vector<uint8_t>& bytes) {
  Locked s;
  Node* n = s->find_node_locked(node);
  return n != nullptr && n->set_value(index, sub, bytes);
}

std::vector<uint8_t> value(uint8_t node, uint16_t index, uint8_t sub) {
  Locked s;
  Node* n = s->find_node_locked(node);
  return n == nullptr ? std::vector<uint8_t>{} : n->value(index, sub);
}

bool set_option(uint8_t node, const char* name, int32_t value) {
  Locked s;
  Node* n = s->find_node_locked(node);
  return n != nullptr && name != nullptr && n->set_option(name, value);
}

void move(uint8_t node, const char* what, int position) {
  Locked s;
  Bridge* b = nullptr;
  if (Node* n = s->find_node_locked(node, &b); n != nullptr && what != nullptr) {
    n->move(what, position);
    b->step();
  }
}

void set_abort(uint8_t node, uint16_t index, uint8_t sub, uint32_t abort_code) {
  Locked s;
  if (Node* n = s->find_node_locked(node)) n->set_abort(index, sub, abort_code);
}

void set_reply_delay(uint8_t node, uint16_t index, uint8_t sub, uint32_t delay_ms) {
  Locked s;
  if (Node* n = s->find_node_locked(node)) n->set_reply_delay(index, sub, delay_ms);
}

void drop_frame(int n) {
  Locked s;
  for (const auto& b : s->bridges) b->bus().drop_frame(n);
}

void bus_off() {
  Locked s;
  for (const auto& b : s->bridges) b->set_bus_off();
}

void script_bridge_errors(const std::vector<int32_t>& errors) {
  Locked s;
  s->bridge_errors = errors;
}

void override_enumerate_count(int32_t count) {
  Locked s;
  s->enumerate_count = count;
}

void clear_enumerate_override() {
  Locked s;
  s->enumerate_count.reset();
}

void fail_next(const char* operation, int32_t status) {
  Locked s;
  if (operation != nullptr) s->fail_next[operation] = status;
}

void fail_get_pdo(int k) {
  Locked s;
  s->fail_get_pdo = k;
}

void inject_pdo(uint32_t cob_id, const std::vector<uint8_t>& data) {
  Locked s;
  const std::shared_ptr<Bridge> b = s->connected         ? s->connected
                                    : s->bridges.empty() ? nullptr
                                                         : s->bridges.back();
  if (!b) return;
  Frame f;
  f.cob_id = static_cast<uint16_t>(cob_id & 0x7FF);
  f.len = static_cast<uint8_t>(std::min<std::size_t>(8, data.size()));
  std::copy_n(data.begin(), f.len, f.data.begin());
  b->inject(f);
}

void inject_emcy(uint32_t value1, uint32_t value2, const uint8_t block[CAN_EMCY_BLOCK_SIZE],
                 uint8_t value3) {
  Locked s;
  if (!s->connected) return;
  EmcyIn e;
  e.value1 = value1;
  e.value2 = value2;
  if (block != nullptr) std::copy_n(block, CAN_EMCY_BLOCK_SIZE, e.block.begin());
  e.value3 = value3;
  s->connected->inject_emcy(e);
}

bool wait_delivered(int timeout_ms) {
  Locked s;
  s->cv.notify_all();
  return s->cv.wait_for(s.lock(), std::chrono::milliseconds(timeout_ms),
                        [&s] { return s->delivered_locked(); });
}

std::vector<std::string> call_log() {
  Locked s;
  return s->log;
}

void clear_call_log() {
  Locked s;
  s->log.clear();
}

int call_count(const char* operation) {
  Locked s;
  if (operation == nullptr) return 0;
  const auto it = s->counts.find(std::string_view(operation));
  return it == s->counts.end() ? 0 : it->second;
}

std::vector<uint32_t> registered_cob_ids() {
  Locked s;
  return s->connected ? s->connected->registered() : std::vector<uint32_t>{};
}

int64_t now_ms() { return sim_now(); }

void set_clock(int64_t (*now)()) { g_clock = now != nullptr ? now : &steady_ms; }

}  // namespace cansim
