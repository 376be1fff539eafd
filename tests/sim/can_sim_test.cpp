// The simulated CAN network, through the operations the library imports:
// SDO transfers over frames, faults, PDO queues and the callback thread.
#include "sim/can/can_sim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/hooks.h"
#include "instrument/can/can_api.h"
#include "tests/support/environment.h"
#include "tests/support/virtual_clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBridgeIp = 0x0A64A8C0;  // 192.168.100.10

struct Read {
  int32_t status;
  can_transfer_result_t result;
  Bytes bytes;
};

// Every test: an empty network on the virtual clock, then a connected
// bridge of the family asked for.
class CanSim : public ::testing::Test {
 protected:
  void SetUp() override {
    cansim::reset();
    cansim::set_clock(&u_ticks_ms);
  }
  void TearDown() override { cansim::reset(); }
  void bring_up(const char* preset) {
    ASSERT_TRUE(cansim::preset(preset));
    ASSERT_EQ(api.connect(kBridgeIp), CAN_OK);
  }
  Read read(uint8_t node, uint16_t index, uint8_t sub, uint32_t count) {
    Read r{0, {}, Bytes(count, 0xEE)};
    r.status = api.sdo_read(node, index, sub, r.bytes.data(), count, &r.result);
    if (r.status == CAN_OK && r.result.status == CAN_OK) r.bytes.resize(r.result.byte_count);
    return r;
  }
  can_transfer_result_t write(uint8_t node, uint16_t index, uint8_t sub, const Bytes& bytes,
                              int32_t expected_status = CAN_OK) {
    can_transfer_result_t result{};
    EXPECT_EQ(api.sdo_write(node, index, sub, bytes.data(), static_cast<uint32_t>(bytes.size()),
                            &result),
              expected_status);
    return result;
  }
  uint8_t state(uint8_t node) {
    uint8_t st = 99;
    EXPECT_EQ(api.get_node_state(node, &st), CAN_OK);
    return st;
  }

  const can_api_t& api = *cansim::api();
  felbrin::test::VirtualClock clock;
};

Bytes ramp_pattern() {
  Bytes data(32768);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return data;
}

TEST_F(CanSim, WritesAndReadsComeBackThroughTheDictionary) {
  bring_up("kite:00-1A-2B-3C-4D-5E");
  struct Case {
    const char* name;
    uint8_t node;
    uint16_t index;
    uint8_t sub;
    Bytes bytes;
  };
  const Case cases[] = {
      {"one byte", 64, 0x2044, 8, {0x02}},
      {"two bytes", 64, 0x2028, 0, {0x34, 0x12}},
      {"four bytes, write-only", 64, 0x607D, 1, {1, 2, 3, 4}},
      {"segmented 32768 bytes", 127, 0x2005, 5, ramp_pattern()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const can_transfer_result_t w = write(c.node, c.index, c.sub, c.bytes);
    EXPECT_EQ(w.status, CAN_OK);
    EXPECT_EQ(w.byte_count, static_cast<int32_t>(c.bytes.size()));
    EXPECT_EQ(cansim::value(c.node, c.index, c.sub), c.bytes);
  }
  // Read back over the bus, the large block in segments.
  const Read ramp = read(127, 0x2005, 5, 32768);
  EXPECT_EQ(ramp.status, CAN_OK);
  EXPECT_EQ(ramp.result.status, CAN_OK);
  EXPECT_EQ(ramp.bytes, ramp_pattern());
  EXPECT_EQ(read(127, 0x2005, 1, 1).bytes, Bytes{1});  // the ramp became valid
  EXPECT_EQ(read(64, 0x2028, 0, 2).bytes, (Bytes{0x34, 0x12}));
  EXPECT_EQ(cansim::value(127, 0x2004, 5), Bytes(32768, 0));  // the other slots untouched
}

TEST_F(CanSim, IdentityAndSixByteZoomReadAsTheFamilyHasThem) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  EXPECT_EQ(read(61, 0x1018, 2, 4).bytes, (Bytes{0x7D, 0x13, 0x72, 0x26}));
  EXPECT_EQ(read(63, 0x1018, 2, 4).bytes, (Bytes{0xD5, 0x15, 0x72, 0x26}));
  EXPECT_EQ(read(63, 0x1018, 3, 4).bytes, (Bytes{0x00, 0x00, 0x01, 0x00}));  // revision 1.0
  ASSERT_TRUE(cansim::set_value(63, 0x2015, 0, {1, 2, 3, 4, 5, 6}));
  const Read zoom = read(63, 0x2015, 0, 6);  // above 4 bytes: segmented
  EXPECT_EQ(zoom.result.byte_count, 6);
  EXPECT_EQ(zoom.bytes, (Bytes{1, 2, 3, 4, 5, 6}));
  // A larger buffer takes the object as it is.
  EXPECT_EQ(read(63, 0x2012, 0, 4).bytes, Bytes{1});
}

TEST_F(CanSim, RefusedTransfersCarryTheirAbortCodeAndChangeNothing) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  cansim::set_abort(61, 0x2006, 0, 0x08000020);
  struct Case {
    const char* name;
    bool write;
    uint16_t index;
    uint8_t sub;
    Bytes bytes;
    uint32_t abort_code;
  };
  const Case cases[] = {
      {"no object", false, 0x3000, 0, {}, 0x06020000},
      {"no sub-index", false, 0x2001, 7, {}, 0x06090011},
      {"short write", true, 0x2001, 0, {0x05}, 0x06070010},
      {"long write, segmented", true, 0x2001, 0, {1, 2, 3, 4, 5}, 0x06070010},
      {"write to read-only", true, 0x1018, 2, {1, 2, 3, 4}, 0x06010002},
      {"read of write-only", false, 0x2000, 0, {}, 0x06010001},
      {"injected abort", true, 0x2006, 0, {1, 0, 0, 0}, 0x08000020},
  };
  const Bytes level_before = cansim::value(61, 0x2001, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    can_transfer_result_t r{};
    if (c.write) {
      r = write(61, c.index, c.sub, c.bytes);
    } else {
      const Read rd = read(61, c.index, c.sub, 4);
      EXPECT_EQ(rd.status, CAN_OK);
      r = rd.result;
    }
    EXPECT_NE(r.status, CAN_OK);
    EXPECT_EQ(r.abort_code, c.abort_code);
  }
  EXPECT_EQ(cansim::value(61, 0x2001, 0), level_before);
  EXPECT_EQ(cansim::value(61, 0x2006, 0), Bytes(4, 0));
  EXPECT_EQ(cansim::value(61, 0x1018, 2), (Bytes{0x7D, 0x13, 0x72, 0x26}));
}

TEST_F(CanSim, BufferSmallerThanTheObjectIsRefused) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  EXPECT_EQ(read(63, 0x2015, 0, 4).status, CAN_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(read(61, 0x1018, 2, 2).status, CAN_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(read(61, 0x1018, 2, 4).result.status, CAN_OK);  // the server is ready again
}

TEST_F(CanSim, LateReplyTimesOutAndIsNeverTakenForTheNextTransfer) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  ASSERT_TRUE(cansim::set_value(61, 0x2001, 0, {0x11, 0x11}));
  cansim::set_reply_delay(61, 0x2001, 0, 1000);
  int64_t t0 = clock.elapsed_ms();
  EXPECT_EQ(read(61, 0x2001, 0, 2).bytes, (Bytes{0x11, 0x11}));  // on the timeout: in time
  EXPECT_EQ(clock.elapsed_ms() - t0, 1000);

  cansim::set_reply_delay(61, 0x2001, 0, 1500);
  t0 = clock.elapsed_ms();
  const Read late = read(61, 0x2001, 0, 2);
  EXPECT_EQ(late.status, CAN_ERR_TIMEOUT);
  EXPECT_EQ(clock.elapsed_ms() - t0, 1000);
  // The same object again while the late answer is still 500 ms away and
  // this one's 800: the answer taken is this transfer's.
  cansim::set_reply_delay(61, 0x2001, 0, 800);
  ASSERT_TRUE(cansim::set_value(61, 0x2001, 0, {0x33, 0x33}));
  t0 = clock.elapsed_ms();
  EXPECT_EQ(read(61, 0x2001, 0, 2).bytes, (Bytes{0x33, 0x33}));
  EXPECT_EQ(clock.elapsed_ms() - t0, 800);
  EXPECT_EQ(read(61, 0x1018, 2, 4).bytes, (Bytes{0x7D, 0x13, 0x72, 0x26}));
}

TEST_F(CanSim, LostFrameIsATimeout) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  cansim::drop_frame(2);  // the reply to the next request
  const int64_t t0 = clock.elapsed_ms();
  EXPECT_EQ(read(61, 0x1018, 2, 4).status, CAN_ERR_TIMEOUT);
  EXPECT_EQ(clock.elapsed_ms() - t0, 1000);
  EXPECT_EQ(read(61, 0x1018, 2, 4).bytes, (Bytes{0x7D, 0x13, 0x72, 0x26}));
}

TEST_F(CanSim, BusOffFailsEveryTransferUntilTheBridgeIsReset) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  cansim::bus_off();
  EXPECT_EQ(read(61, 0x1018, 2, 4).status, CAN_ERR_GENERAL);
  EXPECT_EQ(read(61, 0x1018, 2, 4).status, CAN_ERR_GENERAL);
  uint8_t nodes[CAN_MAX_NODES] = {};
  EXPECT_EQ(api.enumerate_nodes(nodes), CAN_ERR_GENERAL);
  int32_t error = 0;
  EXPECT_EQ(api.get_last_bridge_error(&error), CAN_OK);
  EXPECT_NE(error, 0);
  EXPECT_EQ(api.reset_bridge(), CAN_OK);
  EXPECT_EQ(read(61, 0x1018, 2, 4).status, CAN_ERR_NOT_CONNECTED);  // a reset drops the link
  ASSERT_EQ(api.connect(kBridgeIp), CAN_OK);
  EXPECT_EQ(api.get_last_bridge_error(&error), CAN_OK);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(read(61, 0x1018, 2, 4).result.status, CAN_OK);
}

TEST_F(CanSim, BridgeLevelScriptsAndOverrides) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  can_bridge_entry_t entries[CAN_MAX_BRIDGES] = {};
  for (const int32_t count : {-1, 0, 200}) {
    cansim::override_enumerate_count(count);
    EXPECT_EQ(api.enumerate_bridges(entries, CAN_MAX_BRIDGES), count);
  }
  cansim::clear_enumerate_override();
  EXPECT_EQ(api.enumerate_bridges(entries, CAN_MAX_BRIDGES), 1);
  EXPECT_EQ(entries[0].mac[5], 0x5E);
  EXPECT_EQ(entries[0].ip[3], 10);

  cansim::script_bridge_errors({7, 3, 0});
  std::vector<int32_t> seen;
  for (int i = 0; i < 4; ++i) {
    int32_t e = -1;
    EXPECT_EQ(api.get_last_bridge_error(&e), CAN_OK);
    seen.push_back(e);
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{7, 3, 0, 0}));

  // A new configuration waits for the next connect.
  EXPECT_EQ(api.set_bridge_configuration(5, 250), CAN_OK);
  uint8_t a = 0;
  uint32_t b = 0;
  EXPECT_EQ(api.get_bridge_configuration(&a, &b), CAN_OK);
  EXPECT_EQ(std::pair(a, b), std::pair(uint8_t{127}, uint32_t{1000}));
  ASSERT_EQ(api.connect(kBridgeIp), CAN_OK);
  EXPECT_EQ(api.get_bridge_configuration(&a, &b), CAN_OK);
  EXPECT_EQ(std::pair(a, b), std::pair(uint8_t{5}, uint32_t{250}));

  cansim::fail_next("CAN_Connect", CAN_ERR_LINK_LOST);
  cansim::clear_call_log();
  EXPECT_EQ(api.connect(kBridgeIp), CAN_ERR_LINK_LOST);
  EXPECT_EQ(api.connect(kBridgeIp), CAN_OK);
  EXPECT_EQ(api.connect(0x0B64A8C0), CAN_ERR_TIMEOUT);  // nobody at .11
  const Bytes level = {0x00, 0x01};
  can_transfer_result_t r{};
  EXPECT_EQ(api.connect(kBridgeIp), CAN_OK);
  EXPECT_EQ(api.sdo_write(61, 0x2001, 0, level.data(), 2, &r), CAN_OK);
  cansim::set_abort(61, 0x2001, 0, 0x06020000);
  uint8_t buf[2];
  EXPECT_EQ(api.sdo_read(61, 0x2001, 0, buf, 2, &r), CAN_OK);
  EXPECT_EQ(cansim::call_log(),
            (std::vector<std::string>{"CAN_Connect 0A64A8C0 -> -4", "CAN_Connect 0A64A8C0 -> 1",
                                      "CAN_Connect 0B64A8C0 -> -3", "CAN_Connect 0A64A8C0 -> 1",
                                      "CAN_SDOWrite 61 2001/00 00 01 -> 1",
                                      "CAN_SDORead 61 2001/00 2 -> 1 abort 06020000"}));
  EXPECT_EQ(cansim::call_count("CAN_Connect"), 6);
}

TEST_F(CanSim, NodeStatesFollowTheScript) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  uint8_t nodes[CAN_MAX_NODES] = {};
  ASSERT_EQ(api.enumerate_nodes(nodes), CAN_OK);
  std::vector<int> present;
  for (int id = 0; id < CAN_MAX_NODES; ++id)
    if (nodes[id] == CAN_NODE_PRESENT) present.push_back(id);
  EXPECT_EQ(present, (std::vector<int>{61, 63, 127}));

  cansim::set_operational_after(61, 3);
  EXPECT_NE(state(61), CAN_NODE_OPERATIONAL);
  EXPECT_NE(state(61), CAN_NODE_OPERATIONAL);
  EXPECT_EQ(state(61), CAN_NODE_OPERATIONAL);
  cansim::set_operational_after(61, 0);
  for (int i = 0; i < 20; ++i) EXPECT_NE(state(61), CAN_NODE_OPERATIONAL);

  // A reboot restores the dictionary and needs polls again.
  ASSERT_TRUE(cansim::set_value(63, 0x2012, 0, {5}));
  cansim::reboot_node(63, 2);
  EXPECT_EQ(cansim::value(63, 0x2012, 0), Bytes{1});
  EXPECT_NE(state(63), CAN_NODE_OPERATIONAL);
  EXPECT_NE(state(63), CAN_NODE_OPERATIONAL);
  EXPECT_EQ(state(63), CAN_NODE_OPERATIONAL);

  cansim::remove_node(63);
  uint8_t found = 99;
  EXPECT_EQ(api.find_node(63, &found), CAN_OK);
  EXPECT_EQ(found, CAN_NODE_ABSENT);
  EXPECT_EQ(state(63), CAN_NODE_ABSENT);
  EXPECT_EQ(read(63, 0x1018, 2, 4).status, CAN_ERR_TIMEOUT);
  EXPECT_EQ(api.find_node(61, &found), CAN_OK);
  EXPECT_EQ(found, CAN_NODE_FOUND);
}

TEST_F(CanSim, OnlyRegisteredPdosAreQueuedAndAFullQueueOverruns) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  can_pdo_descriptor_t d{0x1BF, {}};
  ASSERT_EQ(api.register_pdo(&d), CAN_OK);
  EXPECT_EQ(cansim::registered_cob_ids(), std::vector<uint32_t>{0x1BF});
  cansim::inject_pdo(0x2BF, {1});
  cansim::inject_pdo(0x1BF, {2});
  cansim::move(63, "zoom", 3);  // second PDOs: not registered
  cansim::move(63, "turret", 4);
  can_pdo_record_t rec{};
  std::vector<std::pair<uint32_t, uint8_t>> got;
  while (api.get_pdo(&rec) == CAN_OK) got.emplace_back(rec.cob_id, rec.data[0]);
  EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint8_t>>{{0x1BF, 2}, {0x1BF, 4}}));
  EXPECT_EQ(api.get_pdo(&rec), CAN_ERR_NO_PDO);

  // No callback yet: the queue fills and keeps its first 256.
  for (int i = 0; i < 300; ++i) cansim::inject_pdo(0x1BF, {static_cast<uint8_t>(i)});
  std::mutex m;
  std::vector<std::pair<int32_t, int32_t>> announced;
  static std::vector<std::pair<int32_t, int32_t>>* g_announced;
  static std::mutex* g_m;
  g_announced = &announced;
  g_m = &m;
  ASSERT_EQ(api.register_events(
                [](int32_t n, int32_t overrun, int32_t, int32_t) {
                  std::lock_guard lock(*g_m);
                  g_announced->emplace_back(n, overrun);
                },
                nullptr),
            CAN_OK);
  ASSERT_TRUE(cansim::wait_delivered(10000));
  {
    std::lock_guard lock(m);
    EXPECT_EQ(announced, (std::vector<std::pair<int32_t, int32_t>>{{256, 1}}));
  }
  cansim::fail_get_pdo(2);
  EXPECT_EQ(api.get_pdo(&rec), CAN_OK);
  EXPECT_EQ(rec.data[0], 0);
  EXPECT_EQ(api.get_pdo(&rec), CAN_ERR_GENERAL);  // the PDO of 1 is lost
  EXPECT_EQ(api.get_pdo(&rec), CAN_OK);
  EXPECT_EQ(rec.data[0], 2);
  EXPECT_EQ(api.register_events(nullptr, nullptr), CAN_OK);
  EXPECT_EQ(api.unregister_pdos(), CAN_OK);
  EXPECT_TRUE(cansim::registered_cob_ids().empty());
}

// The client's callback, as the library's is: it takes the PDOs announced.
struct Collector {
  std::mutex mutex;
  std::vector<uint32_t> values;
  std::vector<uint32_t> emcys;
  std::thread::id thread;
};
Collector* g_collector = nullptr;

void collect_pdos(int32_t n, int32_t, int32_t, int32_t) {
  for (int32_t i = 0; i < n; ++i) {
    can_pdo_record_t rec{};
    if (cansim::api()->get_pdo(&rec) != CAN_OK) continue;
    std::lock_guard lock(g_collector->mutex);
    g_collector->values.push_back(static_cast<uint32_t>(rec.data[0] | (rec.data[1] << 8)));
    g_collector->thread = std::this_thread::get_id();
  }
}

void collect_emcy(uint32_t v1, uint32_t v2, const uint8_t* block, uint8_t v3) {
  std::lock_guard lock(g_collector->mutex);
  g_collector->emcys.insert(g_collector->emcys.end(), {v1, v2, block[0], block[11], v3});
}

TEST_F(CanSim, CallbackThreadDeliversThousandsOfPdosInOrder) {
  bring_up("kite:00-1A-2B-3C-4D-5E");
  Collector collector;
  g_collector = &collector;
  can_pdo_descriptor_t d{0x1C8, {}};
  ASSERT_EQ(api.register_pdo(&d), CAN_OK);
  ASSERT_EQ(api.register_events(collect_pdos, collect_emcy), CAN_OK);
  constexpr int kBatches = 20;
  constexpr int kBatch = 200;
  for (int b = 0; b < kBatches; ++b) {
    for (int i = 0; i < kBatch; ++i) {
      const int v = b * kBatch + i;
      cansim::inject_pdo(0x1C8, {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    }
    ASSERT_TRUE(cansim::wait_delivered(10000));
  }
  uint8_t block[CAN_EMCY_BLOCK_SIZE] = {0xA1};
  block[11] = 0xB2;
  cansim::inject_emcy(0x81, 0x1000, block, 0x55);
  ASSERT_TRUE(cansim::wait_delivered(10000));
  ASSERT_EQ(api.register_events(nullptr, nullptr), CAN_OK);
  std::lock_guard lock(collector.mutex);
  ASSERT_EQ(collector.values.size(), std::size_t{kBatches * kBatch});
  for (uint32_t i = 0; i < collector.values.size(); ++i) ASSERT_EQ(collector.values[i], i);
  EXPECT_NE(collector.thread, std::this_thread::get_id());
  EXPECT_EQ(collector.emcys, (std::vector<uint32_t>{0x81, 0x1000, 0xA1, 0xB2, 0x55}));
}

// Unregistering waits for a callback in flight, except on the callback's own
// thread, where it would wait for itself.
std::atomic<int> g_stage{0};
void blocking_callback(int32_t, int32_t, int32_t, int32_t) {
  g_stage = 1;
  while (g_stage.load() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(cansim::api()->register_events(nullptr, nullptr), CAN_OK);
}

TEST_F(CanSim, UnregisteringWaitsForTheCallbackInFlight) {
  bring_up("fjord:00-1A-2B-3C-4D-5E");
  g_stage = 0;
  can_pdo_descriptor_t d{0x1BF, {}};
  ASSERT_EQ(api.register_pdo(&d), CAN_OK);
  ASSERT_EQ(api.register_events(blocking_callback, nullptr), CAN_OK);
  cansim::inject_pdo(0x1BF, {1});
  while (g_stage.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::atomic<bool> returned{false};
  std::thread off([&] {
    api.register_events(nullptr, nullptr);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned.load());
  g_stage = 2;
  off.join();
  EXPECT_TRUE(returned.load());
}

TEST_F(CanSim, NdWheelHomeSearchAndRingSpotMoveRunOnTheClock) {
  bring_up("kite:00-1A-2B-3C-4D-5E");
  can_pdo_descriptor_t d{0x2C0, {}};
  ASSERT_EQ(api.register_pdo(&d), CAN_OK);
  ASSERT_TRUE(cansim::set_option(64, "home_ms", 300));
  ASSERT_TRUE(cansim::set_option(64, "move_ms", 200));
  EXPECT_FALSE(cansim::set_option(61, "home_ms", 1));
  write(64, 0x2020, 0, {3});
  std::vector<uint8_t> status;
  for (int step = 0; step < 6; ++step) {
    status.push_back(read(64, 0x2021, 0, 1).bytes.at(0));
    u_sleep_fn(100);
  }
  EXPECT_EQ(status, (Bytes{0x08, 0x08, 0x08, 0x02, 0x02, 0x00}));
  can_pdo_record_t rec{};
  Bytes reported;
  while (api.get_pdo(&rec) == CAN_OK) reported.push_back(rec.data[0]);
  EXPECT_EQ(reported, (Bytes{0x08, 0x02, 0x00}));

  cansim::set_option(64, "home_fails", 1);
  write(64, 0x2020, 0, {3});
  u_sleep_fn(300);
  EXPECT_EQ(read(64, 0x2021, 0, 1).bytes, Bytes{0x10});

  ASSERT_TRUE(cansim::set_option(68, "rs_move_ms", 500));
  for (const auto& [current, position] : {std::pair<int16_t, uint8_t>{-300, 2}, {300, 1}}) {
    SCOPED_TRACE(current);
    write(68, 0x2034, 0, {static_cast<uint8_t>(current & 0xFF), static_cast<uint8_t>(current >> 8)});
    EXPECT_EQ(read(68, 0x2021, 0, 1).bytes, Bytes{0x02});
    u_sleep_fn(499);
    EXPECT_EQ(read(68, 0x2021, 0, 1).bytes, Bytes{0x02});
    u_sleep_fn(1);
    EXPECT_EQ(read(68, 0x2021, 0, 1).bytes, Bytes{0x00});
    EXPECT_EQ(read(68, 0x2047, 0, 1).bytes, Bytes{position});
  }
}

TEST_F(CanSim, PresetsAndTheEnvironment) {
  EXPECT_FALSE(cansim::preset("fjord"));
  EXPECT_FALSE(cansim::preset("lake:00-1A-2B-3C-4D-5E"));
  EXPECT_FALSE(cansim::preset("fjord:00-1A-2B-3C-4D"));
  EXPECT_FALSE(cansim::preset("fjord:00-1A:2B-3C-4D-5E"));
  {
    felbrin::test::ScopedEnv env("FELBRIN_CANSIM", "fjordp:02:00:00:00:00:01");
    ASSERT_TRUE(cansim::preset_from_environment());
  }
  ASSERT_TRUE(cansim::preset("kite:02-00-00-00-00-02"));
  can_bridge_entry_t e[4] = {};
  ASSERT_EQ(api.enumerate_bridges(e, 4), 2);
  EXPECT_EQ(e[0].mac[5], 1);
  EXPECT_EQ(e[1].ip[3], 11);
  ASSERT_EQ(api.connect(0x0A64A8C0), CAN_OK);
  uint8_t found = 0;
  EXPECT_EQ(api.find_node(62, &found), CAN_OK);
  EXPECT_EQ(found, CAN_NODE_FOUND);
  EXPECT_EQ(api.find_node(64, &found), CAN_OK);
  EXPECT_EQ(found, CAN_NODE_ABSENT);
}

}  // namespace
