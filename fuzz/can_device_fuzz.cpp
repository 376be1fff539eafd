// Fuzzes the CAN layer with a bridge library whose every answer comes from
// the input: return codes, bridge and node lists, node states, object read
// replies (their bytes and their lengths), transfer outcomes, PDOs, and
// PDOs and emergencies it delivers through the callbacks the library
// registered, sometimes in the middle of a transfer, as its own thread may.
// The first byte chooses the instrument; then a fixed run: power-on, object
// reads and writes on several node kinds, event registration, deliveries,
// drains, power-off.
//
// Whatever the bridge says, the library must not crash, must not wait
// beyond its documented limits, must hand back from a successful read
// exactly the bytes the bridge wrote (and nothing of its own beyond them),
// must not report success for a transfer the bridge failed, and must turn
// every emergency and PDO into events faithfully and in order.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

#include "fuzz/device_fuzz.h"
#include "fuzz/fuzz_support.h"
#include "instrument/record/sys_info.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_api_internal.h"
#include "instrument/system/can_bringup.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_events_internal.h"
#include "instrument/can/can_nodes.h"
#include "instrument/serial/device_table.h"

namespace {

using felbrin::fuzz::ByteStream;
using felbrin::fuzz::expect;
using felbrin::fuzz::HangGuard;
using Bytes = std::vector<uint8_t>;

// ---- what the bridge has said during this input
struct Transfer {
  bool happened = false;
  bool ok = false;  // the call and the transfer both succeeded
  uint8_t node = 0;
  uint16_t index = 0;
  uint8_t sub = 0;
  uint32_t count = 0;  // what the library asked for
  Bytes bytes;         // what the bridge put in its buffer, or took from it
};

struct Bridge {
  ByteStream* input = nullptr;
  Transfer read;
  Transfer write;
  can_pdo_callback_t on_pdo = nullptr;
  can_emcy_callback_t on_emcy = nullptr;
  std::vector<can_pdo_record_t> pdos;     // handed out by CAN_GetPDO
  std::deque<can_emcy_record_t> emcys;    // delivered, not yet taken
  bool delivering = false;                // inside a callback of ours
};
Bridge g;

uint8_t byte() { return g.input->byte(); }

// The node list answers; a zero byte is the answer that lets the power-on go on.
uint8_t state_byte(uint8_t yes) { return static_cast<uint8_t>(byte() ^ yes); }

void deliver();

// A status: mostly CAN_OK, sometimes one of the failures or a value the
// interface does not know. With `may_deliver`, some successes first let
// the bridge's thread call back, as it may at any time.
int32_t status(bool may_deliver = false) {
  static constexpr int32_t kFailures[] = {CAN_ERR_GENERAL, CAN_ERR_NOT_CONNECTED, CAN_ERR_TIMEOUT,
                                          CAN_ERR_LINK_LOST, CAN_ERR_BUFFER_TOO_SMALL,
                                          CAN_ERR_NO_PDO, 0, 7};
  const uint8_t b = byte();
  if (b >= 0xE0) return kFailures[b & 7];
  if (b >= 0xC0 && may_deliver) deliver();
  return CAN_OK;
}

// ---- the table
// The record's MAC address, so that the bridge list can hold it.
std::array<uint8_t, 6> g_mac{};

int32_t enumerate_bridges(can_bridge_entry_t* entries, int32_t capacity) {
  const uint8_t b = byte();
  if (b >= 0xF0) return -1;
  // A library may claim more bridges than it was given room for.
  const int32_t claimed = b >= 0xE0 ? 200 : b % 4;
  for (int32_t i = 0; i < std::min(claimed, capacity); ++i) {
    can_bridge_entry_t& e = entries[i];
    const auto ip = g.input->take(4);
    std::copy(ip.begin(), ip.end(), e.ip);
    if ((byte() & 1) == 0) {
      std::copy(g_mac.begin(), g_mac.end(), e.mac);
    } else {
      const auto mac = g.input->take(6);
      std::copy(mac.begin(), mac.end(), e.mac);
    }
  }
  return claimed;
}

int32_t get_firmware_version(uint8_t* major, uint8_t* minor) {
  const int32_t s = status();
  *major = byte();
  *minor = byte();
  return s;
}

int32_t get_bridge_configuration(uint8_t* a, uint32_t* b) {
  const int32_t s = status();
  *a = state_byte(127);
  *b = g.input->u32() ^ 1000u;
  return s;
}

int32_t get_last_bridge_error(int32_t* error) {
  const int32_t s = status();
  *error = static_cast<int8_t>(byte());
  return s;
}

int32_t enumerate_nodes(uint8_t* nodes) {
  const int32_t s = status();
  // One bit per node; a clear bit is a present node.
  for (int i = 0; i < CAN_MAX_NODES; i += 8) {
    const uint8_t bits = byte();
    for (int j = 0; j < 8; ++j) nodes[i + j] = (bits >> j & 1) != 0 ? CAN_NODE_ABSENT : CAN_NODE_PRESENT;
  }
  return s;
}

int32_t node_answer(uint8_t, uint8_t* out) {
  const int32_t s = status(true);
  *out = state_byte(CAN_NODE_OPERATIONAL);
  return s;
}

// The outcome of a transfer the call attempted: success, or a refusal with
// its abort code.
void outcome(can_transfer_result_t* result) {
  const uint8_t b = byte();
  result->status = b < 0xE0 ? CAN_OK : static_cast<int32_t>(b & 7);
  result->abort_code = result->status == CAN_OK ? 0 : g.input->u32();
}

int32_t sdo_read(uint8_t node, uint16_t index, uint8_t sub, uint8_t* data, uint32_t count,
                 can_transfer_result_t* result) {
  g.read = Transfer{true, false, node, index, sub, count, {}};
  const int32_t s = status(true);
  // The length byte: 0 is the length asked for, anything else one less
  // than itself; the bridge never writes beyond the buffer it was given.
  const uint8_t length_byte = byte();
  const uint32_t said = length_byte == 0 ? count : length_byte - 1u;
  const auto reply = g.input->take(std::min(said, count));
  std::copy(reply.begin(), reply.end(), data);
  g.read.bytes.assign(reply.begin(), reply.end());
  result->byte_count = static_cast<int32_t>(said);
  outcome(result);
  g.read.ok = s == CAN_OK && result->status == CAN_OK;
  return s;
}

int32_t sdo_write(uint8_t node, uint16_t index, uint8_t sub, const uint8_t* data, uint32_t count,
                  can_transfer_result_t* result) {
  g.write = Transfer{true, false, node, index, sub, count, Bytes(data, data + count)};
  const int32_t s = status(true);
  result->byte_count = static_cast<int32_t>(count);
  outcome(result);
  g.write.ok = s == CAN_OK && result->status == CAN_OK;
  return s;
}

int32_t register_events(can_pdo_callback_t on_pdo, can_emcy_callback_t on_emcy) {
  const int32_t s = status();
  if (s == CAN_OK) {
    g.on_pdo = on_pdo;
    g.on_emcy = on_emcy;
  }
  return s;
}

// The COB-IDs the decoders look at, and their neighbours.
constexpr uint32_t kCobIds[] = {0x1BF, 0x2BF, 0x3BF, 0x1C0, 0x2C0, 0x1C4, 0x2C4,
                                0x1C8, 0x1C9, 0x2C8, 0x240, 0x1BE, 0x2C5, 0x180};

int32_t get_pdo(can_pdo_record_t* record) {
  const int32_t s = status();
  const uint8_t b = byte();
  record->cob_id = b < 0xF0 ? kCobIds[b % std::size(kCobIds)] : g.input->u32();
  record->reserved[0] = record->reserved[1] = 0;
  const auto data = g.input->take(sizeof record->data);
  std::fill(std::begin(record->data), std::end(record->data), uint8_t{0});
  std::copy(data.begin(), data.end(), record->data);
  if (s == CAN_OK) g.pdos.push_back(*record);
  return s;
}

int32_t plain() { return status(); }

can_api_t make_table() {
  can_api_t t{};
  t.enumerate_bridges = enumerate_bridges;
  t.connect = [](uint32_t) { return status(); };
  t.disconnect = plain;
  t.get_firmware_version = get_firmware_version;
  t.get_bridge_configuration = get_bridge_configuration;
  t.set_bridge_configuration = [](uint8_t, uint32_t) { return status(); };
  t.get_last_bridge_error = get_last_bridge_error;
  t.reset_bridge = plain;
  t.enumerate_nodes = enumerate_nodes;
  t.find_node = node_answer;
  t.get_node_state = node_answer;
  t.sdo_read = sdo_read;
  t.sdo_write = sdo_write;
  t.register_pdo = [](const can_pdo_descriptor_t*) { return status(); };
  t.register_events = register_events;
  t.get_pdo = get_pdo;
  t.unregister_pdos = plain;
  return t;
}

// One delivery by the bridge's thread through what the library registered:
// a few PDOs waiting (perhaps with an overrun), or an emergency.
void deliver() {
  if (g.delivering) return;
  g.delivering = true;
  const uint8_t b = byte();
  if ((b & 1) == 0) {
    if (g.on_pdo != nullptr) g.on_pdo(static_cast<int8_t>(b) / 2 % 5, b >> 7, 0, 0);
  } else if (g.on_emcy != nullptr) {
    can_emcy_record_t sent;
    sent.value1 = g.input->u32();
    sent.value2 = g.input->u32();
    const auto block = g.input->take(CAN_EMCY_BLOCK_SIZE);
    std::copy(block.begin(), block.end(), sent.data);
    sent.data[CAN_EMCY_BLOCK_SIZE] = byte();
    g.emcys.push_back(sent);
    g.on_emcy(sent.value1, sent.value2, sent.data, sent.data[CAN_EMCY_BLOCK_SIZE]);
  }
  g.delivering = false;
}

// ---- checks
// The little-endian value of what the bridge wrote for the last read; the
// bytes it did not write are the zeros the library starts from.
uint32_t read_value(uint32_t width) {
  expect(g.read.happened && g.read.ok && g.read.count == width);
  uint32_t v = 0;
  for (std::size_t i = std::min<std::size_t>(g.read.bytes.size(), width); i-- > 0;)
    v = v << 8 | g.read.bytes[i];
  return v;
}

void expect_written(uint8_t node, std::initializer_list<uint8_t> bytes) {
  expect(g.write.happened && g.write.ok && g.write.node == node &&
         std::equal(bytes.begin(), bytes.end(), g.write.bytes.begin(), g.write.bytes.end()));
}

// Reads through the wrapper straight into a buffer the library must not
// touch beyond what the bridge wrote.
void raw_read(uint8_t node) {
  constexpr uint8_t kUntouched = 0xA5;
  std::array<uint8_t, 8> buffer{};
  buffer.fill(kUntouched);
  const uint32_t count = 1 + byte() % buffer.size();
  g.read = Transfer{};
  if (can_sdo_read2(node, 0x1018, 1, buffer.data(), count, 1, ERR_CAN_ERROR, "fuzz") != 0) return;
  expect(g.read.ok && g.read.node == node && g.read.count == count);
  const std::size_t n = g.read.bytes.size();
  expect(std::equal(g.read.bytes.begin(), g.read.bytes.end(), buffer.begin()));
  expect(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(n), buffer.end(),
                     [](uint8_t b) { return b == kUntouched; }));
}

constexpr uint8_t kNodes[] = {CAN_NODE_ID_LARGEAP, CAN_NODE_ID_LED, CAN_NODE_ID_TRIPLEPZT,
                              CAN_NODE_ID_BRUSHMOTOR, CAN_NODE_ID_FOCUS_NDW,
                              CAN_NODE_ID_AUX_MOTOR, CAN_NODE_ID_DD_RS, CAN_NODE_ID_DD_ZOOM,
                              CAN_NODE_ID_WAND, CAN_NODE_ID_RAMP};

uint8_t some_node() { return kNodes[byte() % std::size(kNodes)]; }

// Object reads and writes on the bridge, the LED, the dual motor drives
// and any node's identity; each success is checked against the bridge.
void node_access(sysInfo_t* s) {
  HangGuard guard(0);
  // Each read starts with no transfer seen, so a success without one fails.
  const auto fresh = [] { g.read = Transfer{}; };
  const uint8_t node = some_node();
  uint32_t product = 0;
  fresh();
  if (can_read_productID(s, node, &product) == 0) expect(product == read_value(4));
  uint16_t major = 0;
  uint16_t minor = 0;
  fresh();
  if (can_read_version(s, node, &major, &minor) == 0)
    expect((uint32_t{major} << 16 | minor) == read_value(4));
  uint8_t bridge = 0;
  fresh();
  if (can_read_bridge_status(s, &bridge) == 0) expect(bridge == read_value(1));
  uint16_t level = 0;
  fresh();
  if (can_read_llc(s, &level, 1) == 0) expect(level == (0xFFFF ^ read_value(2)));
  int16_t limit = 0;
  fresh();
  if (can_read_dmd_motor2_maxCurrent(s, CAN_NODE_ID_AUX_MOTOR, &limit) == 0)
    expect(static_cast<uint16_t>(limit) == read_value(2));
  uint8_t position = 0;
  fresh();
  if (can_read_rs_position(s, &position) == 0) expect(position == read_value(1));
  raw_read(some_node());

  g.write = Transfer{};
  if (can_write_llc(s, 0x1234, 0) == 0) expect_written(CAN_NODE_ID_LED, {0x34, 0x12});
  g.write = Transfer{};
  if (can_write_dmd_motor1_mode(s, CAN_NODE_ID_DD_ZOOM, 3) == 0)
    expect_written(CAN_NODE_ID_DD_ZOOM, {3});
  g.write = Transfer{};
  if (can_bridge_write_config(s, 0x2100) == 0) expect_written(CAN_NODE_ID_RAMP, {0x00, 0x21});
  (void)can_write_rs_dd_control(s, 1);
}

// Takes every event; each must be what the bridge delivered, in order.
void drain(sysInfo_t* record) {
  (void)can_process_events(record);
  can_event_t event;
  while (can_take_can_event(&event)) {
    expect(!g.emcys.empty() && event.kind == CAN_EVENT_EMCY &&
           std::memcmp(&event.emcy, &g.emcys.front(), sizeof event.emcy) == 0);
    g.emcys.pop_front();
  }
  expect(g.emcys.empty());
  static constexpr int32_t kDecoded[] = {
      CAN_NODE_EVENT_BRUSH_STOPPED, CAN_NODE_EVENT_ZOOM,      CAN_NODE_EVENT_WAND_KEY1,
      CAN_NODE_EVENT_RING,          CAN_NODE_EVENT_SPOT,      CAN_NODE_EVENT_WAND_KEY2,
      CAN_NODE_EVENT_WAND_KEY3,     CAN_NODE_EVENT_BRUSH_MOVING, CAN_NODE_EVENT_FOCUS,
      CAN_NODE_EVENT_TURRET};
  std::size_t next = 0;  // events come in the order of their PDOs
  can_node_event_t node_event;
  while (can_take_node_event(&node_event)) {
    expect(std::find(std::begin(kDecoded), std::end(kDecoded), node_event.code) !=
           std::end(kDecoded));
    while (next < g.pdos.size() &&
           std::memcmp(&g.pdos[next], &node_event.pdo, sizeof node_event.pdo) != 0)
      ++next;
    expect(next < g.pdos.size());
  }
  // Every PDO handed out by now has been decoded.
  g.pdos.clear();
}

// ---- the instruments
constexpr int32_t kSystems[] = {SYS_FJORD1, SYS_FJORD3, SYS_KITECAN, SYS_ALDER4,
                                SYS_GLENCAN, SYS_HERON_CAN, SYS_KITE2CAN, SYS_BIRCH7};

std::unique_ptr<sysInfo_t> instrument(uint8_t variant, ByteStream& input) {
  auto s = std::make_unique<sysInfo_t>();
  s->instrBdType = BD_CAN;
  s->systemType = kSystems[variant & 7];
  s->sleepTimeout = 0;  // no sleep-mode thread
  if ((variant & 0x08) != 0) {
    s->turret = 2;
    s->zoom = 1;
  }
  if ((variant & 0x10) != 0) {
    s->pifoc = felbrin::make_hooked<sb_pifoc_t>();
    s->pifoc->type = (variant & 0x20) != 0 ? 2 : 1;
  }
  const uint8_t expected = input.byte();
  s->usePzt = expected & 1;
  s->useLaps = expected >> 1 & 1;
  s->useDualBrushMotor = expected >> 2 & 1;
  s->useFocusNdw = expected >> 3 & 1;
  s->ringSpot = expected >> 4 & 1;
  s->cameraType = (expected & 0x20) != 0 ? 29 : 0;
  if (can_create_bridge_record(s.get()) != 0) std::abort();
  const auto mac = input.take(6);
  std::copy(mac.begin(), mac.end(), s->canInfo->mac);
  std::copy(std::begin(s->canInfo->mac), std::end(s->canInfo->mac), g_mac.begin());
  return s;
}

// The waits a power-on may make, each at its documented longest.
constexpr int64_t kFindBridgeMs = 2 * 2000;
constexpr int64_t kBridgeSetupMs = 2000 + 10 * 2000;
constexpr int64_t kNodeUpMs = 9 * 200;
constexpr int64_t kMostNodes = 8;  // the Kite family's
constexpr int64_t kScannerMs = 2000;
constexpr int64_t kRingSpotMs = 500 * 250;
constexpr int64_t kHomeMs = 10000 + 2 * 100;
constexpr int64_t kOutputMs = 100;
constexpr int64_t kPifocMs = 19 * 100;
constexpr int64_t kPowerOnMs = kFindBridgeMs + kBridgeSetupMs + kMostNodes * kNodeUpMs + kScannerMs +
                               kRingSpotMs + kHomeMs + kOutputMs + kPifocMs;

// Everything process-wide the CAN layer keeps, as at program start.
void reset_can_state() {
  felbrin::can::forget_registration();
  felbrin::can::clear_event_queues();
  felbrin::can::reset_decoder_state();
  felbrin::can::forget_binding();
  felbrin::can::set_activity_fn(nullptr);
  dev_set_can_poll_fn(nullptr);
  if (dev_is_registered(CAN_DEVICE_HANDLE)) dev_remove_device(CAN_DEVICE_HANDLE);
  g = Bridge{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (!felbrin::fuzz::usable_input(size)) return 0;
  static const bool once = [] {
    can_set_inst_services(CanInstServices{});  // no other subsystem takes part
    return dev_init_cntrl(0) == 0;
  }();
  if (!once) std::abort();
  felbrin::fuzz::VirtualTime clock;
  ByteStream input({data, size});
  reset_can_state();
  g.input = &input;
  static const can_api_t table = make_table();
  can_api_install(&table);

  const uint8_t variant = input.byte();
  std::unique_ptr<sysInfo_t> s = instrument(variant, input);
  if ((variant & 0x40) == 0) {
    HangGuard guard(kPowerOnMs);
    (void)can_inst_on(s.get());
  } else {
    // Straight to the nodes, as a host that brought the network up itself.
    s->can.rsDdPresent = s->can.zoomDdPresent = s->can.focusNdwPresent = 1;
    (void)can_register_events(s.get(), true);
  }
  for (int round = 0; round < 3 && !input.empty(); ++round) {
    node_access(s.get());
    for (int i = byte() % 4; i > 0; --i) deliver();
    drain(round == 1 ? nullptr : s.get());
  }
  if (s->can.focusNdwPresent != 0) {
    // Waits on the events the wheel's PDOs leave.
    HangGuard guard(2000 + 2 * 100);
    (void)can_home_ndw(s.get(), 0, 2000);
  }
  deliver();
  drain(s.get());
  {
    HangGuard guard(kOutputMs);
    (void)can_inst_off(s.get());
  }
  reset_can_state();
  return 0;
}
