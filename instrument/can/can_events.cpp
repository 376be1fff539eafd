#include "instrument/can/can_events.h"
#include "instrument/can/can_nodes.h"
#include "instrument/can/can_state.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <new>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_events_internal.h"
#include "instrument/record/sys_info.h"

namespace {

struct Queues {
  std::mutex can_event_lock;  // the CAN event and node event queues
  std::mutex pdo_lock;
  std::mutex emcy_lock;
  std::deque<can_pdo_record_t> pdos;
  std::deque<can_emcy_record_t> emcys;
  std::deque<can_event_t> can_events;
  std::deque<can_node_event_t> node_events;
};

// Never destroyed: a foreign library's thread may still call back while the
// process exits, and must not find a destroyed lock or queue.
Queues& queues() {
  static Queues* const q = std::make_unique<Queues>().release();
  return *q;
}

std::atomic<int> g_failing_appends{0};

// Appends through the one path that can run out of memory.
template <class T>
void append(std::deque<T>& queue, const T& record) {
  if (g_failing_appends.load() > 0 && g_failing_appends.fetch_sub(1) > 0) throw std::bad_alloc();
  queue.push_back(record);
}

std::mutex g_ndw_stopped_mutex;
std::weak_ptr<felbrin::Event> g_ndw_stopped;

constexpr uint32_t kBrushTurretPdo = 0x1BF;
constexpr uint32_t kBrushZoomPdo = 0x2BF;
constexpr uint32_t kKitePdos[] = {0x1C0, 0x1C8, 0x1C9, 0x2C0, 0x2C4};
constexpr uint32_t kAlderPdos[] = {0x1C8, 0x1C9, 0x2C0, 0x2C4};
constexpr uint32_t kType26Pdos[] = {0x1C8, 0x1C9, 0x2C0};
constexpr int32_t kBrushProductA = 0x267215D5;
constexpr int32_t kBrushProductB = 0x267215D7;

constexpr uint8_t kNodeBrush = 63;
constexpr uint8_t kNodeFocusNdw = 64;
constexpr uint8_t kNodeRingSpot = 68;
constexpr uint8_t kNodeWand = 72;
constexpr uint8_t kNodeWand2 = 73;
constexpr uint32_t kFirstPdo = 0x180;
constexpr uint32_t kSecondPdo = 0x280;
// The brush motor reports zoom positions in the reverse of the order the
// client numbers them.
constexpr uint8_t kZoomTable[] = {0, 6, 5, 4, 3, 2, 1, 7};

enum class Family { none, brush, kite, alder, type26 };

Family family_of(const sysInfo_t* record) {
  if (record == nullptr) return Family::none;
  switch (record->systemType) {
    case SYS_BIRCH7:
    case SYS_BIRCH9:
    case SYS_FJORD1:
    case SYS_FJORD3:
    case SYS_FJORD4:
    case SYS_FJORD6: return Family::brush;
    case SYS_KITECAN:
    case SYS_HERON_CAN:
    case SYS_KITE2CAN:
    case SYS_IRIS_CAN: return Family::kite;
    case SYS_ALDER4: return Family::alder;
    case SYS_GLENCAN: return Family::type26;
    default: return Family::none;
  }
}

void register_pdo(uint32_t cob_id) {
  can_pdo_descriptor_t d{};
  d.cob_id = cob_id;
  int32_t status = 0;
  can_api_call(&can_api_t::register_pdo, &status, static_cast<const can_pdo_descriptor_t*>(&d));
}

void register_family_pdos(const sysInfo_t& record) {
  const auto all = [](const auto& ids) {
    for (uint32_t id : ids) register_pdo(id);
  };
  switch (family_of(&record)) {
    case Family::brush: {
      if (record.turret == 2) register_pdo(kBrushTurretPdo);
      // The product ID the power-on of this record read; -1 until then.
      const int32_t product = record.canInfo ? record.canInfo->brushProductId : -1;
      if ((record.zoom == 2 && product == kBrushProductA) ||
          (record.zoom == 1 && (product == kBrushProductA || product == kBrushProductB)))
        register_pdo(kBrushZoomPdo);
      break;
    }
    case Family::kite: all(kKitePdos); break;
    case Family::alder: all(kAlderPdos); break;
    case Family::type26: all(kType26Pdos); break;
    case Family::none: break;
  }
}

// ---- decoders: each adds the codes of one PDO to `codes`
struct Codes {
  int32_t code[4] = {};
  int count = 0;
  void add(int32_t c) { code[count++] = c; }
};

uint32_t node_of(const can_pdo_record_t& p) { return p.cob_id & 0x7F; }
uint32_t function_of(const can_pdo_record_t& p) { return p.cob_id & 0x780; }

void decode_wand(const can_pdo_record_t& p, Codes& out) {
  const uint32_t node = node_of(p);
  if ((node != kNodeWand && node != kNodeWand2) || function_of(p) != kFirstPdo) return;
  switch (p.data[0]) {
    case 1: out.add(CAN_NODE_EVENT_WAND_KEY1); break;
    case 2: out.add(CAN_NODE_EVENT_WAND_KEY2); break;
    case 3: out.add(CAN_NODE_EVENT_WAND_KEY3); break;
    default: break;
  }
}

void decode_ring_spot(const can_pdo_record_t& p, Codes& out) {
  if (node_of(p) != kNodeRingSpot || function_of(p) != kSecondPdo) return;
  // Bit 1 set: the move is not finished, so the position is not final.
  if ((p.data[0] & 0x02) != 0) return;
  if (p.data[2] == 1)
    out.add(CAN_NODE_EVENT_RING);
  else if (p.data[2] == 2)
    out.add(CAN_NODE_EVENT_SPOT);
}

void decode_focus(const can_pdo_record_t& p, Codes& out) {
  if (node_of(p) == kNodeFocusNdw && function_of(p) == kFirstPdo) out.add(CAN_NODE_EVENT_FOCUS);
}

void decode_nd_wheel(const can_pdo_record_t& p) {
  if (node_of(p) != kNodeFocusNdw || function_of(p) != kSecondPdo) return;
  felbrin::can::ndw_home_state() = p.data[0] & 0x18;
  felbrin::can::ndw_moving_state() = p.data[0] & 0x02;
  if ((p.data[0] & 0x02) != 0) {
    felbrin::can::ndw_was_moving() = true;
  } else if (felbrin::can::ndw_was_moving().exchange(false)) {
    if (auto stopped = can_ndwheel_stopped_open()) stopped->set();
  }
}

// The record's last turret byte is written under the event lock, which
// every decode holds.
void decode_brush(sysInfo_t& record, const can_pdo_record_t& p, Codes& out) {
  if (node_of(p) != kNodeBrush) return;
  const uint32_t which = (p.cob_id >> 7) & 0xF;
  if (which == 3) {
    // The record's turret type is checked by the caller.
    if (p.data[0] != record.can.lastTurret) {
      out.add(CAN_NODE_EVENT_TURRET);
      record.can.lastTurret = p.data[0];
    }
    return;
  }
  if (which != 5) return;
  const uint8_t status = p.data[0];
  const int wait = felbrin::can::brush_wait_state().load();
  if (wait == 2 && (status & 0x20) == 0) {
    out.add(CAN_NODE_EVENT_BRUSH_STOPPED);
    felbrin::can::brush_wait_state() = 0;
  } else if (wait == 1) {
    felbrin::can::brush_wait_state() = (status & 0x08) != 0 ? 1 : 2;
  }
  if ((status & 0x08) != 0) {
    out.add(CAN_NODE_EVENT_BRUSH_MOVING);
    felbrin::can::brush_wait_state() = 1;
  }
  // A position outside the table is no position: the last one stands.
  if (p.data[1] < std::size(kZoomTable)) {
    const int zoom = kZoomTable[p.data[1]];
    if (zoom != felbrin::can::last_zoom().load()) {
      out.add(CAN_NODE_EVENT_ZOOM);
      felbrin::can::last_zoom() = zoom;
    }
  }
}

Codes decode(sysInfo_t* record, const can_pdo_record_t& p) {
  Codes out;
  const Family family = family_of(record);
  switch (family) {
    case Family::brush:
      if (((p.cob_id >> 7) & 0xF) != 3 || record->turret == 2) decode_brush(*record, p, out);
      break;
    case Family::kite:
    case Family::alder:
    case Family::type26:
      decode_wand(p, out);
      decode_nd_wheel(p);
      if (family != Family::type26) decode_ring_spot(p, out);
      if (family == Family::kite) decode_focus(p, out);
      break;
    case Family::none: break;
  }
  return out;
}

}  // namespace

namespace felbrin::can {

void fail_queue_appends(int count) { g_failing_appends = count; }

void clear_event_queues() {
  Queues& q = queues();
  std::lock_guard lock(q.can_event_lock);
  {
    std::lock_guard pdo(q.pdo_lock);
    q.pdos.clear();
  }
  {
    std::lock_guard emcy(q.emcy_lock);
    q.emcys.clear();
  }
  q.can_events.clear();
  q.node_events.clear();
}

}  // namespace felbrin::can

int can_create_sync_objects() {
  queues();
  return 0;
}

namespace {

// Node operations drain the queues while they wait (their decoders update
// the state a wait looks at); they do it for the record that registered.
std::atomic<sysInfo_t*> g_registered{nullptr};

void drain_for_node_access() { can_process_events(g_registered.load()); }

void ndw_stopped_for_node_access(bool set) {
  if (auto stopped = can_ndwheel_stopped_open()) {
    if (set) {
      stopped->set();
    } else {
      stopped->reset();
    }
  }
}

}  // namespace

void felbrin::can::forget_registration() {
  g_registered = nullptr;
  set_process_events_fn(nullptr);
  set_ndw_stopped_fn(nullptr);
}

int can_register_events(sysInfo_t* record, bool on) {
  int32_t status = CAN_OK;
  int err = 0;
  g_registered = on ? record : nullptr;
  felbrin::can::set_process_events_fn(on ? &drain_for_node_access : nullptr);
  felbrin::can::set_ndw_stopped_fn(on ? &ndw_stopped_for_node_access : nullptr);
  if (on) {
    can_create_sync_objects();
    err = can_api_call(&can_api_t::register_events, &status, &can_receive_pdo, &can_receive_emcy);
  } else {
    err = can_api_call(&can_api_t::register_events, &status, can_pdo_callback_t{nullptr},
                       can_emcy_callback_t{nullptr});
    if (err == 0 && status == CAN_OK) err = can_api_call(&can_api_t::unregister_pdos, &status);
  }
  if (err != 0) return err;
  if (status != CAN_OK) {
    u_log_fn("can_register_events canErr = %d\n", static_cast<int>(status));
    return can_status_to_error(status);
  }
  if (on && record != nullptr) register_family_pdos(*record);
  return 0;
}

void can_events_free_resources() {
  int32_t status = CAN_OK;
  if (can_api_call(&can_api_t::unregister_pdos, &status) == 0 && status != CAN_OK)
    u_log_fn("can_events_free_resources canErr = %d\n", static_cast<int>(status));
}

dev_poll_fn can_events_install_poll() {
  return dev_set_can_poll_fn([](dev_handle_t, void* owner) -> int {
    return can_process_events(static_cast<sysInfo_t*>(owner)) ? 1 : 0;
  });
}

namespace {

void queue_pdo(const can_pdo_record_t& record) {
  Queues& q = queues();
  try {
    std::lock_guard lock(q.pdo_lock);
    append(q.pdos, record);
  } catch (...) {
    u_log_fn("ReceivePdoHandler: out of memory\n");
  }
}

void queue_emcy(const can_emcy_record_t& record) {
  Queues& q = queues();
  try {
    std::lock_guard lock(q.emcy_lock);
    append(q.emcys, record);
  } catch (...) {
    u_log_fn("ReceiveEmcyHandler: out of memory\n");
  }
}

}  // namespace

void can_receive_pdo(int32_t waiting, int32_t overrun, int32_t, int32_t) {
  if (overrun != 0) u_log_fn("ReceivePdo overrun.\n");
  // A fetch that fails loses that PDO alone; the count the bridge announced
  // bounds the loop.
  for (int32_t i = 0; i < waiting; ++i) {
    can_pdo_record_t record{};
    int32_t status = CAN_OK;
    const int err = can_api_call(&can_api_t::get_pdo, &status, &record);
    if (err != 0 || status != CAN_OK) {
      u_log_fn("ReceivePdoHandler canErr = %d\n", static_cast<int>(err != 0 ? err : status));
      continue;
    }
    queue_pdo(record);
  }
}

void can_receive_emcy(uint32_t value1, uint32_t value2, const uint8_t* block, uint8_t value3) {
  can_emcy_record_t record;
  record.value1 = value1;
  record.value2 = value2;
  if (block != nullptr) std::memcpy(record.data, block, CAN_EMCY_BLOCK_SIZE);
  record.data[CAN_EMCY_BLOCK_SIZE] = value3;
  queue_emcy(record);
}

void can_mwi_receive_pdo(uint32_t cob_id, uint32_t value, const uint8_t* data) {
  can_pdo_record_t record{};
  record.cob_id = cob_id;
  record.reserved[1] = value;
  if (data != nullptr) std::memcpy(record.data, data, sizeof record.data);
  queue_pdo(record);
}

void can_mwi_receive_emcy(uint32_t value1, uint32_t value2, uint32_t value3, uint8_t value4,
                          const uint8_t* five, uint8_t value6) {
  can_emcy_record_t record;
  record.value1 = value1;
  record.value2 = value2;
  std::memcpy(record.data, &value3, sizeof value3);
  record.data[4] = value4;
  if (five != nullptr) std::memcpy(record.data + 5, five, 5);
  record.data[12] = value6;
  queue_emcy(record);
}

bool can_process_events(sysInfo_t* record) {
  Queues& q = queues();
  std::lock_guard events(q.can_event_lock);
  try {
    std::unique_lock emcy(q.emcy_lock);
    while (!q.emcys.empty()) {
      can_event_t event;
      event.kind = CAN_EVENT_EMCY;
      event.emcy = q.emcys.front();
      q.emcys.pop_front();
      emcy.unlock();
      append(q.can_events, event);
      emcy.lock();
    }
  } catch (...) {
    u_log_fn("can_process_events: out of memory\n");
  }
  try {
    std::unique_lock pdo(q.pdo_lock);
    while (!q.pdos.empty()) {
      can_node_event_t event;
      event.pdo = q.pdos.front();
      q.pdos.pop_front();
      pdo.unlock();
      const Codes codes = decode(record, event.pdo);
      for (int i = 0; i < codes.count; ++i) {
        event.code = codes.code[i];
        append(q.node_events, event);
      }
      pdo.lock();
    }
  } catch (...) {
    u_log_fn("can_process_events: out of memory\n");
  }
  return !q.can_events.empty() || !q.node_events.empty();
}

bool can_take_can_event(can_event_t* event) {
  Queues& q = queues();
  std::lock_guard lock(q.can_event_lock);
  if (q.can_events.empty()) return false;
  *event = q.can_events.front();
  q.can_events.pop_front();
  return true;
}

bool can_take_node_event(can_node_event_t* event) {
  Queues& q = queues();
  std::lock_guard lock(q.can_event_lock);
  if (q.node_events.empty()) return false;
  *event = q.node_events.front();
  q.node_events.pop_front();
  return true;
}

bool can_node_event_append(const can_node_event_t& event) {
  Queues& q = queues();
  try {
    std::lock_guard lock(q.can_event_lock);
    append(q.node_events, event);
    return true;
  } catch (...) {
    u_log_fn("can_node_event_append: out of memory\n");
    return false;
  }
}

std::shared_ptr<felbrin::Event> can_ndwheel_stopped_create() {
  std::lock_guard lock(g_ndw_stopped_mutex);
  auto event = g_ndw_stopped.lock();
  if (!event) {
    event = std::make_shared<felbrin::Event>();
    g_ndw_stopped = event;
  }
  return event;
}

std::shared_ptr<felbrin::Event> can_ndwheel_stopped_open() {
  std::lock_guard lock(g_ndw_stopped_mutex);
  return g_ndw_stopped.lock();
}

// The state itself lives with the node operations, which read it too.
namespace state = felbrin::can;
uint8_t can_ndw_home_state() { return static_cast<uint8_t>(state::ndw_home_state().load()); }
void can_set_ndw_home_state(uint8_t v) { state::ndw_home_state() = v; }
uint8_t can_ndw_moving_state() { return static_cast<uint8_t>(state::ndw_moving_state().load()); }
void can_set_ndw_moving_state(uint8_t v) { state::ndw_moving_state() = v; }
bool can_ndw_was_moving() { return state::ndw_was_moving().load(); }
void can_set_ndw_was_moving(bool moving) { state::ndw_was_moving() = moving; }
int can_brush_wait_state() { return state::brush_wait_state().load(); }
void can_set_brush_wait_state(int v) { state::brush_wait_state() = v; }
int can_last_zoom() { return state::last_zoom().load(); }
void can_set_last_zoom(int zoom) { state::last_zoom() = zoom; }
