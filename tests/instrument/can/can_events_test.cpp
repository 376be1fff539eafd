#include "instrument/can/can_events.h"
#include "instrument/can/can_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "instrument/record/sys_info.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_api_internal.h"
#include "instrument/can/can_events_internal.h"
#include "instrument/serial/device_table.h"
#include "sim/can/can_sim.h"
#include "tests/support/eventually.h"
#include "tests/support/log_capture.h"
#include "tests/support/soak.h"
#include "tests/support/sim_can.h"

namespace {

using felbrin::test::eventually;

can_pdo_record_t pdo(uint32_t cob_id, uint8_t d0, uint8_t d1 = 0, uint8_t d2 = 0) {
  can_pdo_record_t p{};
  p.cob_id = cob_id;
  p.data[0] = d0;
  p.data[1] = d1;
  p.data[2] = d2;
  return p;
}

// The bridge library as the queues see it: hands out the PDOs put in it,
// fails the fetches it is told to, and records registrations.
struct FakeLibrary {
  std::mutex mutex;
  std::deque<can_pdo_record_t> pdos;
  std::set<int> failing_fetches;  // 1-based fetch numbers answered -6
  int fetches = 0;
  std::vector<uint32_t> registered;
  std::vector<std::string> calls;
  int32_t register_events_status = CAN_OK;
  int32_t unregister_status = CAN_OK;
  can_pdo_callback_t on_pdo = nullptr;
  can_emcy_callback_t on_emcy = nullptr;
};
FakeLibrary* g_fake = nullptr;

int32_t fake_get_pdo(can_pdo_record_t* record) {
  std::lock_guard lock(g_fake->mutex);
  if (g_fake->failing_fetches.count(++g_fake->fetches) != 0) return CAN_ERR_NO_PDO;
  if (g_fake->pdos.empty()) return CAN_ERR_NO_PDO;
  *record = g_fake->pdos.front();
  g_fake->pdos.pop_front();
  return CAN_OK;
}

int32_t fake_register_pdo(const can_pdo_descriptor_t* d) {
  std::lock_guard lock(g_fake->mutex);
  g_fake->registered.push_back(d->cob_id);
  return CAN_OK;
}

int32_t fake_register_events(can_pdo_callback_t on_pdo, can_emcy_callback_t on_emcy) {
  std::lock_guard lock(g_fake->mutex);
  g_fake->on_pdo = on_pdo;
  g_fake->on_emcy = on_emcy;
  g_fake->calls.push_back(on_pdo != nullptr ? "RegisterEvents(on)" : "RegisterEvents(off)");
  return g_fake->register_events_status;
}

int32_t fake_unregister_pdos() {
  std::lock_guard lock(g_fake->mutex);
  g_fake->calls.push_back("UnregisterPDOs");
  return g_fake->unregister_status;
}

sysInfo_t family(int32_t system_type) {
  sysInfo_t r;
  r.instrBdType = BD_CAN;
  r.systemType = system_type;
  return r;
}

class CanEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    table_.get_pdo = fake_get_pdo;
    table_.register_pdo = fake_register_pdo;
    table_.register_events = fake_register_events;
    table_.unregister_pdos = fake_unregister_pdos;
    can_api_install(&table_);
    felbrin::can::clear_event_queues();
    felbrin::can::reset_decoder_state();
  }
  void TearDown() override {
    felbrin::can::forget_registration();
    felbrin::can::fail_queue_appends(0);
    felbrin::can::clear_event_queues();
    felbrin::can::forget_binding();
    g_fake = nullptr;
  }

  // Hands the PDOs out through the library callback and drains them.
  std::vector<int32_t> codes_of(sysInfo_t& record, const std::vector<can_pdo_record_t>& in) {
    {
      std::lock_guard lock(fake_.mutex);
      fake_.pdos.insert(fake_.pdos.end(), in.begin(), in.end());
    }
    can_receive_pdo(static_cast<int32_t>(in.size()), 0, 0, 0);
    can_process_events(&record);
    std::vector<int32_t> codes;
    can_node_event_t e;
    while (can_take_node_event(&e)) codes.push_back(e.code);
    return codes;
  }

  FakeLibrary fake_;
  can_api_t table_{};
  felbrin::test::LogCapture log_;
};

TEST_F(CanEvents, UnfetchablePdoIsLostAloneWithOneLine) {
  sysInfo_t kite = family(SYS_KITECAN);
  fake_.failing_fetches = {2};
  {
    std::lock_guard lock(fake_.mutex);
    fake_.pdos = {pdo(0x1C8, 1), pdo(0x1C8, 3)};
  }
  can_receive_pdo(3, 1, 0, 0);
  EXPECT_EQ(log_.str(), "ReceivePdo overrun.\nReceivePdoHandler canErr = -6\n");
  EXPECT_TRUE(can_process_events(&kite));
  can_node_event_t e;
  ASSERT_TRUE(can_take_node_event(&e));
  EXPECT_EQ(e.code, CAN_NODE_EVENT_WAND_KEY1);
  EXPECT_EQ(e.pdo.cob_id, 0x1C8u);
  ASSERT_TRUE(can_take_node_event(&e));
  EXPECT_EQ(e.code, CAN_NODE_EVENT_WAND_KEY3);
  EXPECT_FALSE(can_take_node_event(&e));
  EXPECT_FALSE(can_process_events(&kite));
}

// Each fetch that fails loses its PDO alone, however many fail before it:
// the announced count is what bounds the loop.
TEST_F(CanEvents, EveryAnnouncedPdoIsFetchedAfterAnyRunOfFailures) {
  fake_.failing_fetches = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  {
    std::lock_guard lock(fake_.mutex);
    for (int key : {1, 2, 3}) fake_.pdos.push_back(pdo(0x1C8, static_cast<uint8_t>(key)));
  }
  can_receive_pdo(12, 0, 0, 0);
  std::string expected;
  for (int i = 0; i < 9; ++i) expected += "ReceivePdoHandler canErr = -6\n";
  EXPECT_EQ(log_.str(), expected);
  EXPECT_EQ(fake_.fetches, 12);
  sysInfo_t kite = family(SYS_KITECAN);
  EXPECT_TRUE(can_process_events(&kite));
  can_node_event_t e;
  for (int32_t code : {CAN_NODE_EVENT_WAND_KEY1, CAN_NODE_EVENT_WAND_KEY2, CAN_NODE_EVENT_WAND_KEY3}) {
    ASSERT_TRUE(can_take_node_event(&e));
    EXPECT_EQ(e.code, code);
  }
  EXPECT_FALSE(can_take_node_event(&e));
}

// Two instruments side by side: each record chooses its own registrations
// by its own brush motor, and remembers its own turret.
TEST_F(CanEvents, EachRecordRegistersAndDecodesByItsOwn) {
  sysInfo_t with_zoom = family(SYS_FJORD1), without = family(SYS_FJORD1);
  for (sysInfo_t* r : {&with_zoom, &without}) {
    r->turret = 2;
    r->zoom = 1;
    r->canInfo = felbrin::make_hooked<can_info_t>();
  }
  with_zoom.canInfo->brushProductId = 0x267215D5;
  ASSERT_EQ(can_register_events(&with_zoom, true), 0);
  EXPECT_EQ(fake_.registered, (std::vector<uint32_t>{0x1BF, 0x2BF}));
  fake_.registered.clear();
  ASSERT_EQ(can_register_events(&without, true), 0);
  EXPECT_EQ(fake_.registered, (std::vector<uint32_t>{0x1BF})) << "no product ID read for this one";

  EXPECT_EQ(codes_of(with_zoom, {pdo(0x1BF, 3)}), (std::vector<int32_t>{CAN_NODE_EVENT_TURRET}));
  EXPECT_EQ(codes_of(without, {pdo(0x1BF, 3)}), (std::vector<int32_t>{CAN_NODE_EVENT_TURRET}))
      << "the other record's turret byte is not this one's";
  EXPECT_EQ(codes_of(with_zoom, {pdo(0x1BF, 3)}), (std::vector<int32_t>{}));
  EXPECT_EQ(with_zoom.can.lastTurret, 3);
  EXPECT_EQ(without.can.lastTurret, 3);
}

struct DecodeCase {
  const char* name;
  int32_t system_type;
  int32_t turret;
  std::vector<can_pdo_record_t> pdos;
  std::vector<int32_t> codes;
};

TEST_F(CanEvents, DecodersByFamily) {
  const DecodeCase cases[] = {
      {"wand keys 1 2 3 4, both wands", SYS_KITECAN, 0,
       {pdo(0x1C8, 1), pdo(0x1C9, 2), pdo(0x1C8, 3), pdo(0x1C8, 4)},
       {CAN_NODE_EVENT_WAND_KEY1, CAN_NODE_EVENT_WAND_KEY2, CAN_NODE_EVENT_WAND_KEY3}},
      {"ring/spot while moving, then ring, spot, other", SYS_KITECAN, 0,
       {pdo(0x2C4, 0x02, 0, 1), pdo(0x2C4, 0, 0, 1), pdo(0x2C4, 0x01, 0, 2), pdo(0x2C4, 0, 0, 3)},
       {CAN_NODE_EVENT_RING, CAN_NODE_EVENT_SPOT}},
      {"focus on every first PDO of node 64", SYS_IRIS_CAN, 0, {pdo(0x1C0, 0), pdo(0x1C0, 9)},
       {CAN_NODE_EVENT_FOCUS, CAN_NODE_EVENT_FOCUS}},
      {"no focus decoder for Alder4", SYS_ALDER4, 0, {pdo(0x1C0, 0), pdo(0x2C4, 0, 0, 2)},
       {CAN_NODE_EVENT_SPOT}},
      {"no ring/spot for type 26", SYS_GLENCAN, 0, {pdo(0x2C4, 0, 0, 1), pdo(0x1C9, 1)},
       {CAN_NODE_EVENT_WAND_KEY1}},
      {"nothing for Fjord2", SYS_FJORD2, 2, {pdo(0x1C8, 1), pdo(0x2BF, 0x08, 3), pdo(0x1BF, 4)}, {}},
      {"brush wait 1, 2, 0", SYS_FJORD1, 0, {pdo(0x2BF, 0x08, 0), pdo(0x2BF, 0, 0), pdo(0x2BF, 0, 0)},
       {CAN_NODE_EVENT_BRUSH_MOVING, CAN_NODE_EVENT_ZOOM, CAN_NODE_EVENT_BRUSH_STOPPED}},
      {"brush still busy (0x20) holds the stop", SYS_FJORD3, 0,
       {pdo(0x2BF, 0x08, 1), pdo(0x2BF, 0x20, 1), pdo(0x2BF, 0x20, 1), pdo(0x2BF, 0, 1)},
       {CAN_NODE_EVENT_BRUSH_MOVING, CAN_NODE_EVENT_ZOOM, CAN_NODE_EVENT_BRUSH_STOPPED}},
      {"zoom changes through the table, 8 and above ignored", SYS_FJORD4, 0,
       {pdo(0x2BF, 0, 1), pdo(0x2BF, 0, 6), pdo(0x2BF, 0, 8), pdo(0x2BF, 0, 0xFF), pdo(0x2BF, 0, 6)},
       {CAN_NODE_EVENT_ZOOM, CAN_NODE_EVENT_ZOOM}},
      {"turret on change only, with a turret", SYS_FJORD6, 2,
       {pdo(0x1BF, 3), pdo(0x1BF, 3), pdo(0x1BF, 1)}, {CAN_NODE_EVENT_TURRET, CAN_NODE_EVENT_TURRET}},
      {"no turret codes without a turret", SYS_FJORD6, 0, {pdo(0x1BF, 3)}, {}},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    felbrin::can::reset_decoder_state();
    sysInfo_t record = family(c.system_type);
    record.turret = c.turret;
    EXPECT_EQ(codes_of(record, c.pdos), c.codes);
  }
}

TEST_F(CanEvents, NdWheelStopSetsTheStoppedEventOnlyWhileItExists) {
  sysInfo_t kite = family(SYS_KITE2CAN);
  codes_of(kite, {pdo(0x2C0, 0x1A), pdo(0x2C0, 0x18)});
  EXPECT_EQ(can_ndwheel_stopped_open(), nullptr) << "the decoder must not create it";
  EXPECT_FALSE(can_ndw_was_moving());

  auto stopped = can_ndwheel_stopped_create();
  EXPECT_EQ(can_ndwheel_stopped_create(), stopped);
  EXPECT_TRUE(codes_of(kite, {pdo(0x2C0, 0x0A)}).empty());
  EXPECT_EQ(can_ndw_home_state(), 0x08);
  EXPECT_EQ(can_ndw_moving_state(), 0x02);
  EXPECT_TRUE(can_ndw_was_moving());
  EXPECT_FALSE(stopped->is_set());
  codes_of(kite, {pdo(0x2C0, 0x10)});
  EXPECT_TRUE(stopped->is_set());
  EXPECT_EQ(can_ndw_home_state(), 0x10);
  EXPECT_EQ(can_ndw_moving_state(), 0);
  stopped.reset();
  EXPECT_EQ(can_ndwheel_stopped_open(), nullptr);
}

// Node operations drain through the record that registered, and reach the
// stopped event only while someone holds it.
TEST_F(CanEvents, NodeAccessDrainsForTheRegisteredRecord) {
  sysInfo_t kite = family(SYS_KITE2CAN);
  ASSERT_EQ(can_register_events(&kite, true), 0);
  {
    std::lock_guard lock(fake_.mutex);
    fake_.pdos.push_back(pdo(0x2C0, 0x0A));
  }
  can_receive_pdo(1, 0, 0, 0);
  felbrin::can::process_events();
  EXPECT_EQ(can_ndw_moving_state(), 0x02);
  auto stopped = can_ndwheel_stopped_create();
  felbrin::can::ndw_stopped(true);
  EXPECT_TRUE(stopped->is_set());
  felbrin::can::ndw_stopped(false);
  EXPECT_FALSE(stopped->is_set());
  ASSERT_EQ(can_register_events(&kite, false), 0);
  felbrin::can::ndw_stopped(true);  // no longer wired
  EXPECT_FALSE(stopped->is_set());
}

TEST_F(CanEvents, RecordsKeepTheirSourcesLayout) {
  const uint8_t block[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const uint8_t five[5] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  can_receive_emcy(0x11, 0x22, block, 0x33);
  can_mwi_receive_emcy(0x44, 0x55, 0x04030201, 0x66, five, 0x77);
  EXPECT_TRUE(can_process_events(nullptr));
  can_event_t e;
  ASSERT_TRUE(can_take_can_event(&e));
  EXPECT_EQ(e.kind, CAN_EVENT_EMCY);
  EXPECT_EQ(e.emcy.value1, 0x11u);
  EXPECT_EQ(e.emcy.value2, 0x22u);
  const uint8_t first[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x33, 0, 0, 0};
  EXPECT_EQ(std::memcmp(e.emcy.data, first, 16), 0);
  ASSERT_TRUE(can_take_can_event(&e));
  EXPECT_EQ(e.emcy.value1, 0x44u);
  uint32_t value3 = 0;
  std::memcpy(&value3, e.emcy.data, 4);
  EXPECT_EQ(value3, 0x04030201u);
  const uint8_t rest[12] = {0x66, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0, 0, 0x77, 0, 0, 0};
  EXPECT_EQ(std::memcmp(e.emcy.data + 4, rest, 12), 0);
  EXPECT_FALSE(can_take_can_event(&e));

  const uint8_t data[8] = {2, 0, 0, 0, 0, 0, 0, 9};
  can_mwi_receive_pdo(0x1C9, 0xBEEF, data);
  sysInfo_t kite = family(SYS_KITECAN);
  EXPECT_TRUE(can_process_events(&kite));
  can_node_event_t ne;
  ASSERT_TRUE(can_take_node_event(&ne));
  EXPECT_EQ(ne.code, CAN_NODE_EVENT_WAND_KEY2);
  EXPECT_EQ(ne.pdo.reserved[1], 0xBEEFu);
  EXPECT_EQ(ne.pdo.data[7], 9);
}

TEST_F(CanEvents, RecordThatCannotBeQueuedIsDroppedWithOneLine) {
  {
    std::lock_guard lock(fake_.mutex);
    fake_.pdos = {pdo(0x1C8, 1), pdo(0x1C8, 2)};
  }
  felbrin::can::fail_queue_appends(1);
  can_receive_pdo(2, 0, 0, 0);
  felbrin::can::fail_queue_appends(1);
  can_receive_emcy(1, 2, nullptr, 3);
  EXPECT_EQ(log_.str(), "ReceivePdoHandler: out of memory\nReceiveEmcyHandler: out of memory\n");
  sysInfo_t kite = family(SYS_KITECAN);
  EXPECT_TRUE(can_process_events(&kite));
  can_node_event_t e;
  ASSERT_TRUE(can_take_node_event(&e));
  EXPECT_EQ(e.code, CAN_NODE_EVENT_WAND_KEY2);
  EXPECT_FALSE(can_take_node_event(&e));
  can_event_t ce;
  EXPECT_FALSE(can_take_can_event(&ce));
  // The locks were let go: the queues still work.
  can_receive_emcy(1, 2, nullptr, 3);
  EXPECT_TRUE(can_process_events(&kite));
}

struct RegisterCase {
  const char* name;
  int32_t system_type;
  int32_t turret;
  int32_t zoom;
  int32_t product;
  std::vector<uint32_t> cob_ids;
};

TEST_F(CanEvents, RegistrationAsksForTheFamilysPdos) {
  const RegisterCase cases[] = {
      {"Kite", SYS_KITECAN, 0, 0, -1, {0x1C0, 0x1C8, 0x1C9, 0x2C0, 0x2C4}},
      {"Alder4", SYS_ALDER4, 0, 0, -1, {0x1C8, 0x1C9, 0x2C0, 0x2C4}},
      {"type 26", SYS_GLENCAN, 0, 0, -1, {0x1C8, 0x1C9, 0x2C0}},
      {"Fjord5", SYS_FJORD5, 2, 2, 0x267215D5, {}},
      {"Fjord turret and zoom 2 on D5", SYS_FJORD1, 2, 2, 0x267215D5, {0x1BF, 0x2BF}},
      {"Fjord zoom 2 on D7", SYS_FJORD3, 2, 2, 0x267215D7, {0x1BF}},
      {"Fjord zoom 1 on D7", SYS_FJORD6, 0, 1, 0x267215D7, {0x2BF}},
      {"Fjord unknown product", SYS_FJORD4, 0, 1, -1, {}},
  };
  for (const RegisterCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.registered.clear();
    sysInfo_t record = family(c.system_type);
    record.turret = c.turret;
    record.zoom = c.zoom;
    record.canInfo = felbrin::make_hooked<can_info_t>();
    record.canInfo->brushProductId = c.product;
    EXPECT_EQ(can_register_events(&record, true), 0);
    EXPECT_EQ(fake_.registered, c.cob_ids);
    EXPECT_EQ(fake_.on_pdo, &can_receive_pdo);
    EXPECT_EQ(fake_.on_emcy, &can_receive_emcy);
  }
}

TEST_F(CanEvents, UnregisterAndFreeLogFailuresAndKeepQueuedRecords) {
  sysInfo_t kite = family(SYS_KITECAN);
  can_receive_emcy(1, 2, nullptr, 3);
  fake_.register_events_status = CAN_ERR_NOT_CONNECTED;
  EXPECT_EQ(can_register_events(&kite, false), ERR_CAN_NOT_CONNECTED);
  fake_.register_events_status = CAN_OK;
  fake_.unregister_status = CAN_ERR_TIMEOUT;
  can_events_free_resources();
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{"RegisterEvents(off)", "UnregisterPDOs"}));
  EXPECT_EQ(log_.str(), "can_register_events canErr = -2\ncan_events_free_resources canErr = -3\n");
  EXPECT_TRUE(can_process_events(&kite));
}

TEST_F(CanEvents, DeviceTablePollDrainsAndReportsWaitingEvents) {
  ASSERT_EQ(dev_init_cntrl(1), 0);
  const dev_poll_fn saved = can_events_install_poll();
  sysInfo_t kite = family(SYS_KITECAN);
  constexpr dev_handle_t kCanHandle = 0x0CA0;
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, kCanHandle, &kite), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_NO_INPUT);
  can_receive_emcy(7, 8, nullptr, 9);
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_TYPE_CAN);
  EXPECT_EQ(r.owner, &kite);
  can_event_t e;
  ASSERT_TRUE(can_take_can_event(&e));
  EXPECT_EQ(e.emcy.value1, 7u);
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_NO_INPUT);
  dev_remove_device(kCanHandle);
  dev_close_cntrl();
  dev_set_can_poll_fn(saved);
}

// A wand PDO numbered in its last four bytes.
can_pdo_record_t numbered(uint32_t n) {
  can_pdo_record_t p = pdo(0x1C8, 1);
  std::memcpy(p.data + 4, &n, 4);
  return p;
}

TEST_F(CanEvents, ThreadsLoseAndReorderNothing) {
  constexpr uint32_t kRecords = 4000;
  sysInfo_t kite = family(SYS_KITECAN);
  ASSERT_EQ(dev_init_cntrl(1), 0);
  const dev_poll_fn saved = can_events_install_poll();
  constexpr dev_handle_t kCanHandle = 0x0CA1;
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, kCanHandle, &kite), 0);
  {
    std::lock_guard lock(fake_.mutex);
    for (uint32_t i = 0; i < kRecords; ++i) fake_.pdos.push_back(numbered(i));
  }
  std::thread producer([] {
    for (uint32_t i = 0; i < kRecords; ++i) {
      can_receive_pdo(1, 0, 0, 0);
      uint8_t block[12] = {};
      std::memcpy(block, &i, 4);
      can_receive_emcy(i, 0, block, 0);
    }
  });
  std::atomic<bool> stop{false};
  std::thread worker_driver([&stop] {
    dev_info_t r;
    while (!stop) dev_data_read(DEV_TYPE_CAN, &r, 0);
  });
  uint32_t next_node = 0, next_can = 0;
  bool in_order = true;
  const bool all = eventually([&] {
    can_process_events(&kite);
    can_node_event_t ne;
    while (can_take_node_event(&ne)) {
      uint32_t n = 0;
      std::memcpy(&n, ne.pdo.data + 4, 4);
      in_order = in_order && n == next_node && ne.code == CAN_NODE_EVENT_WAND_KEY1;
      ++next_node;
    }
    can_event_t ce;
    while (can_take_can_event(&ce)) {
      in_order = in_order && ce.emcy.value1 == next_can;
      ++next_can;
    }
    return next_node == kRecords && next_can == kRecords;
  });
  producer.join();
  stop = true;
  worker_driver.join();
  EXPECT_TRUE(all) << next_node << " node events, " << next_can << " CAN events";
  EXPECT_TRUE(in_order);
  EXPECT_EQ(log_.str(), "");
  dev_remove_device(kCanHandle);
  dev_close_cntrl();
  dev_set_can_poll_fn(saved);
}

// A Kite on the simulated bridge; whatever a test leaves registered or
// queued is undone.
class CanEventsOnTheSimulation : public ::testing::Test {
 protected:
  void SetUp() override {
    cansim::reset();
    ASSERT_TRUE(cansim::preset("kite:00-1A-2B-3C-4D-5E"));
    felbrin::can::clear_event_queues();
    felbrin::can::reset_decoder_state();
    ASSERT_TRUE(felbrin::test::connect_simulated_bridge());
  }
  void TearDown() override {
    EXPECT_EQ(can_register_events(&kite, false), 0);
    can_events_free_resources();
    felbrin::can::forget_registration();
    felbrin::can::clear_event_queues();
    felbrin::can::forget_binding();
    cansim::reset();
  }
  felbrin::test::LogCapture log;  // overruns are expected while clients re-register
  sysInfo_t kite = family(SYS_KITECAN);
};

// The simulated bridge's own callback thread delivers while the client
// registers again and again: what arrives is decoded once and in order,
// and with the registration left alone nothing is lost.
TEST_F(CanEventsOnTheSimulation, ReregistrationDuringTrafficKeepsOrder) {
  ASSERT_EQ(can_register_events(&kite, true), 0);

  auto inject = [](uint32_t n) {
    cansim::inject_pdo(0x1C8, {1, 0, 0, 0, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(n >> 16), 0});
  };
  uint32_t seen = 0, last = 0;
  bool in_order = true;
  auto drain = [&] {
    can_process_events(&kite);
    can_node_event_t e;
    while (can_take_node_event(&e)) {
      const uint32_t n = e.pdo.data[4] | e.pdo.data[5] << 8 | e.pdo.data[6] << 16;
      in_order = in_order && (seen == 0 || n > last) && e.code == CAN_NODE_EVENT_WAND_KEY1;
      last = n;
      ++seen;
    }
  };
  constexpr uint32_t kTraffic = 3000;
  std::thread injector([&inject] {
    for (uint32_t i = 0; i < kTraffic; ++i) inject(i);
  });
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(can_register_events(&kite, false), 0);
    drain();
    EXPECT_EQ(can_register_events(&kite, true), 0);
    drain();
  }
  injector.join();
  ASSERT_TRUE(cansim::wait_delivered(20000));
  drain();
  EXPECT_TRUE(in_order);
  EXPECT_LE(seen, kTraffic);

  const uint32_t before = seen;
  // In bursts the bridge's queue of 256 holds.
  constexpr uint32_t kBurst = 200, kBursts = 5;
  for (uint32_t b = 0; b < kBursts; ++b) {
    for (uint32_t i = 0; i < kBurst; ++i) inject(kTraffic + b * kBurst + i);
    ASSERT_TRUE(cansim::wait_delivered(20000));
    drain();
  }
  EXPECT_EQ(seen - before, kBurst * kBursts);
  EXPECT_TRUE(in_order);

}

// The bridge's callback thread delivers while clients register, drain and
// inject from several threads of their own.
TEST_F(CanEventsOnTheSimulation, Soak) {
  std::mutex drain_lock;  // draining decodes against the caller's record, one caller at a time
  const uint8_t block[CAN_EMCY_BLOCK_SIZE] = {1, 2, 3};
  const felbrin::test::SoakAction actions[] = {
      {"register", [&] { can_register_events(&kite, true); }},
      {"unregister", [&] { can_register_events(&kite, false); }},
      {"pdo", [] { cansim::inject_pdo(0x1C8, {1, 0, 0, 0, 1, 2, 3, 0}); }},
      {"emergency", [&] { cansim::inject_emcy(0x81, 2, block, 0); }},
      {"drain", [&] {
         std::lock_guard lock(drain_lock);
         can_process_events(&kite);
         for (can_node_event_t e; can_take_node_event(&e);) {}
         for (can_event_t e; can_take_can_event(&e);) {}
       }},
  };
  EXPECT_GT(felbrin::test::soak(actions, 4), 0);
  // What is still queued goes out once a client listens again.
  EXPECT_EQ(can_register_events(&kite, true), 0);
  EXPECT_TRUE(cansim::wait_delivered(20000));
}

}  // namespace
