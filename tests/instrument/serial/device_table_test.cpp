#include "instrument/serial/device_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "instrument/serial/serial_port.h"
#include "sim/memory_serial.h"
#include "tests/support/eventually.h"
#include "tests/support/log_capture.h"
#include "tests/support/soak.h"

namespace {

using felbrin::test::eventually;
using felbrin::test::LogCapture;
using sim::SerialOp;

// A motion controller record as the hooks see it.
struct FakeController {
  int kind = 2;
  std::atomic<bool> event{false};
  std::atomic<int> mwi{0};
  std::atomic<int> polls{0};
};

int fake_kind(const void* owner) { return static_cast<const FakeController*>(owner)->kind; }

int fake_event(dev_handle_t, void* owner) {
  auto* c = static_cast<FakeController*>(owner);
  ++c->polls;
  return c->event.exchange(false) ? 1 : 0;
}

int fake_mwi(dev_handle_t, void* owner) {
  auto* c = static_cast<FakeController*>(owner);
  ++c->polls;
  return c->mwi.load();
}

// The CAN layer as the hook sees it: the owner says whether a queue holds
// an event, or asks for a predicate to decide.
struct FakeCan {
  std::atomic<int> polls{0};
  std::atomic<bool> has_event{false};
  std::function<bool()> decide;
};

int fake_can(dev_handle_t, void* owner) {
  auto* c = static_cast<FakeCan*>(owner);
  ++c->polls;
  if (c->decide) return c->decide() ? 1 : 0;
  return c->has_event ? 1 : 0;
}

class DeviceTable : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_mc_ = dev_set_mc_hooks(dev_mc_hooks_t{});
    saved_can_ = dev_set_can_poll_fn(nullptr);
    ASSERT_EQ(dev_init_cntrl(1), 0);
  }
  void TearDown() override {
    dev_close_cntrl();
    for (auto& p : ports_) sio_close(&p);
    dev_set_mc_hooks(saved_mc_);
    dev_set_can_poll_fn(saved_can_);
  }

  // A line of the in-memory back end, opened; its peer end in `peer`.
  sio_handle_t open_line(const std::string& name, sim::MemorySerialPort** peer = nullptr) {
    sim::MemorySerialPort& p = backend_.add_port(name);
    if (peer != nullptr) *peer = &p;
    sio_port_t port;
    EXPECT_EQ(sio_open_with(backend_, name.c_str(), &port), 0);
    ports_.push_back(port);
    return port.handle;
  }

  void register_mc_hooks() {
    dev_mc_hooks_t hooks;
    hooks.connection_kind = fake_kind;
    hooks.event_signalled = fake_event;
    hooks.has_event_mwi = fake_mwi;
    dev_set_mc_hooks(hooks);
  }

  LogCapture log;
  int owner_tag = 0;
  void* owner = &owner_tag;

 private:
  sim::MemorySerial backend_;
  std::vector<sio_port_t> ports_;
  dev_mc_hooks_t saved_mc_;
  dev_poll_fn saved_can_ = nullptr;
};

// ---- registration

TEST_F(DeviceTable, TypeValidAcceptsExactlyTheSevenTypes) {
  for (int t : {1, 2, 4, 8, 16, 32, 64}) EXPECT_TRUE(dev_type_valid(t)) << t;
  EXPECT_EQ(log.str(), "");
  for (int t : {0, 3, 128, -1, 0xFFFF}) EXPECT_FALSE(dev_type_valid(t)) << t;
  EXPECT_NE(log.str().find("dev_type_valid: dev_type=3 is invalid\n"), std::string::npos);
}

TEST_F(DeviceTable, FreshTableHasResetEntries) {
  for (int i = 0; i < DEV_MAX_DEVICES; ++i) {
    dev_info_t e;
    e.in_use = 7;
    ASSERT_TRUE(dev_get_entry(i, &e));
    EXPECT_EQ(e.handle, DEV_INVALID_HANDLE);
    EXPECT_EQ(e.in_use, -1);
    EXPECT_EQ(e.dev_type, 0);
    EXPECT_EQ(e.event_state, 0);
    EXPECT_EQ(e.poll, nullptr);
    EXPECT_EQ(e.owner, nullptr);
  }
  dev_info_t e;
  EXPECT_FALSE(dev_get_entry(DEV_MAX_DEVICES, &e));
  EXPECT_FALSE(dev_get_entry(-1, &e));
}

TEST_F(DeviceTable, AddFillsFirstFreeEntry) {
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 1000, owner), 0);
  dev_info_t e;
  ASSERT_TRUE(dev_get_entry(0, &e));
  EXPECT_EQ(e.handle, 1000);
  EXPECT_EQ(e.in_use, 1);
  EXPECT_EQ(e.dev_type, DEV_TYPE_UZ);
  EXPECT_EQ(e.event_state, 1);
  EXPECT_NE(e.poll, nullptr);
  EXPECT_EQ(e.owner, owner);
  EXPECT_TRUE(dev_is_registered(1000));
  EXPECT_FALSE(dev_is_registered(1001));
  EXPECT_FALSE(dev_is_registered(DEV_INVALID_HANDLE));
}

TEST_F(DeviceTable, EleventhAddFailsUntilOneIsRemoved) {
  for (int i = 0; i < DEV_MAX_DEVICES; ++i) ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 100 + i, owner), 0);
  EXPECT_EQ(dev_add_device(DEV_TYPE_UZ, 200, owner), ERR_DEV_CNTRL);
  EXPECT_NE(log.str().find("gl_DevInfo table is full"), std::string::npos);
  EXPECT_NE(log.str().find("dev_add_device failed: err=ERR_DEV_CNTRL\n"), std::string::npos);
  ASSERT_EQ(dev_remove_device(103), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_1, 200, owner), 0);
  dev_info_t e;
  ASSERT_TRUE(dev_get_entry(3, &e));
  EXPECT_EQ(e.handle, 200);
  EXPECT_EQ(e.dev_type, DEV_TYPE_SERIAL_1);
}

TEST_F(DeviceTable, AddRefusesInvalidTypeAndUninitialisedTable) {
  EXPECT_EQ(dev_add_device(3, 100, owner), ERR_DEV_CNTRL);
  EXPECT_NE(log.str().find("dev_type_valid: dev_type=3 is invalid\n"), std::string::npos);
  dev_close_cntrl();
  EXPECT_EQ(dev_add_device(DEV_TYPE_UZ, 100, owner), ERR_DEV_CNTRL);
  EXPECT_EQ(dev_remove_device(100), ERR_DEV_CNTRL);
  EXPECT_EQ(dev_set_event_state(100, 1), ERR_DEV_CNTRL);
  EXPECT_FALSE(dev_is_registered(100));
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 0), 0);
  EXPECT_NE(log.str().find("dev_data_read: ERR_DEV_CNTRL\n"), std::string::npos);
}

TEST_F(DeviceTable, SameHandleCanBeRegisteredTwice) {
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 100, owner), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 100, owner), 0);
  ASSERT_EQ(dev_remove_device(100), 0);
  EXPECT_TRUE(dev_is_registered(100));
  dev_info_t e;
  ASSERT_TRUE(dev_get_entry(0, &e));
  EXPECT_EQ(e.in_use, -1);
  ASSERT_EQ(dev_remove_device(100), 0);
  EXPECT_FALSE(dev_is_registered(100));
}

TEST_F(DeviceTable, RemoveErrors) {
  EXPECT_EQ(dev_remove_device(100), ERR_PARAM_OUT_OF_RANGE);  // count 0
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 100, owner), 0);
  EXPECT_EQ(dev_remove_device(101), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(dev_remove_device(DEV_INVALID_HANDLE), ERR_INVALID_PARAM);
  EXPECT_NE(log.str().find("dev_remove_device failed: err=ERR_PARAM_OUT_OF_RANGE\n"), std::string::npos);
}

TEST_F(DeviceTable, SetEventStateErrors) {
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 100, owner), 0);
  EXPECT_EQ(dev_set_event_state(100, 2), ERR_INVALID_PARAM);
  EXPECT_EQ(dev_set_event_state(DEV_INVALID_HANDLE, 1), ERR_INVALID_PARAM);
  EXPECT_EQ(dev_set_event_state(101, 1), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_NE(log.str().find("dev_set_event_state failed: err=ERR_INVALID_PARAM\n"), std::string::npos);
  EXPECT_EQ(dev_set_event_state(100, 0), 0);
  dev_info_t e;
  ASSERT_TRUE(dev_get_entry(0, &e));
  EXPECT_EQ(e.event_state, 0);
}

TEST_F(DeviceTable, MotionControllerNeedsHooksOwnerAndKnownKind) {
  FakeController mc;
  EXPECT_EQ(dev_add_device(DEV_TYPE_MC, 100, &mc), ERR_MC_NOT_AVAIL);
  register_mc_hooks();
  EXPECT_EQ(dev_add_device(DEV_TYPE_MC, 100, nullptr), ERR_INVALID_PARAM);
  for (int kind : {0, 4, -1}) {
    mc.kind = kind;
    EXPECT_EQ(dev_add_device(DEV_TYPE_MC, 100, &mc), ERR_MC_NOT_AVAIL) << kind;
  }
  for (int kind : {1, 2, 3}) {
    mc.kind = kind;
    EXPECT_EQ(dev_add_device(DEV_TYPE_MC, 100 + kind, &mc), 0) << kind;
  }
  EXPECT_FALSE(dev_is_registered(100));
}

TEST_F(DeviceTable, InitWithoutForceKeepsEntriesWithForceEmptiesThem) {
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 100, owner), 0);
  EXPECT_EQ(dev_init_cntrl(0), 0);
  EXPECT_TRUE(dev_is_registered(100));
  dev_close_cntrl();
  EXPECT_EQ(dev_init_cntrl(0), 0);
  EXPECT_TRUE(dev_is_registered(100));
  EXPECT_EQ(dev_init_cntrl(1), 0);
  EXPECT_FALSE(dev_is_registered(100));
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, 100, owner), 0);
  EXPECT_EQ(dev_remove_device(100), 0);
}

// ---- polling

TEST_F(DeviceTable, BoardWithoutInputGivesNoInputInASinglePass) {
  sim::MemorySerialPort* peer = nullptr;
  const sio_handle_t h = open_line("COM1", &peer);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, h, owner), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 0), DEV_NO_INPUT);
}

TEST_F(DeviceTable, BoardWithInputIsFound) {
  sim::MemorySerialPort* peer = nullptr;
  const sio_handle_t other = open_line("COM2");
  const sio_handle_t h = open_line("COM1", &peer);
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_1, other, nullptr), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, h, owner), 0);
  peer->push("R");
  dev_info_t r;
  // Waiting: a single request may end (100 ms) before a slow worker gets
  // past the first entry.
  ASSERT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 1), DEV_TYPE_UZ);
  EXPECT_EQ(r.handle, h);
  EXPECT_EQ(r.in_use, 1);
  EXPECT_EQ(r.dev_type, DEV_TYPE_UZ);
  EXPECT_EQ(r.owner, owner);
  // Polling only looks; the byte is still there for the board's reader.
  EXPECT_EQ(peer->pending_input(), 1u);
}

TEST_F(DeviceTable, InputBehindALineErrorIsFoundOnlyOnceTheErrorIsCleared) {
  sim::MemorySerialPort* peer = nullptr;
  const sio_handle_t h = open_line("COM1", &peer);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, h, owner), 0);
  peer->flag_errors(0x0008);  // framing error
  peer->push("R");
  dev_info_t r;
  ASSERT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 1), DEV_TYPE_UZ);
  // The first poll saw the error and reported nothing.
  EXPECT_GE(peer->calls(SerialOp::clear_error), 2);
}

TEST_F(DeviceTable, WaitingReadReturnsWhenInputArrivesLater) {
  sim::MemorySerialPort* peer = nullptr;
  const sio_handle_t h = open_line("COM1", &peer);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, h, owner), 0);
  // The input comes only once the worker has gone round several times
  // without finding any.
  std::atomic<bool> polled{false};
  std::thread device([peer, &polled] {
    polled = eventually([peer] { return peer->calls(SerialOp::clear_error) >= 5; });
    peer->push("R");
  });
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 1), DEV_TYPE_UZ);
  device.join();
  EXPECT_TRUE(polled);
  EXPECT_EQ(r.handle, h);
  EXPECT_EQ(r.owner, owner);
}

TEST_F(DeviceTable, DeviceWithStateZeroIsNeverPolled) {
  sim::MemorySerialPort* peer = nullptr;
  const sio_handle_t h = open_line("COM1", &peer);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, h, owner), 0);
  ASSERT_EQ(dev_set_event_state(h, 0), 0);
  peer->push("R");
  const int before = peer->calls(SerialOp::clear_error);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 0), DEV_NO_INPUT);
  EXPECT_EQ(dev_data_read(DEV_MASK_ALL, &r, 0), DEV_NO_INPUT);
  EXPECT_EQ(peer->calls(SerialOp::clear_error), before);
  ASSERT_EQ(dev_set_event_state(h, 1), 0);
  EXPECT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 0), DEV_TYPE_UZ);
}

TEST_F(DeviceTable, MaskSelectsTheTypesPolled) {
  sim::MemorySerialPort* p4 = nullptr;
  sim::MemorySerialPort* p2 = nullptr;
  const sio_handle_t h4 = open_line("COM4", &p4);
  const sio_handle_t h2 = open_line("COM2", &p2);
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_1, h4, nullptr), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, h2, owner), 0);
  p4->push("a");
  p2->push("b");
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_UZ, &r, 1), DEV_TYPE_UZ);
  EXPECT_EQ(r.handle, h2);
  EXPECT_EQ(dev_data_read(DEV_TYPE_SERIAL_2, &r, 0), DEV_NO_INPUT);
  // Every type is eligible: the first entry with input wins.
  EXPECT_EQ(dev_data_read(DEV_MASK_ALL, &r, 1), DEV_TYPE_SERIAL_1);
  EXPECT_EQ(r.handle, h4);
}

TEST_F(DeviceTable, InvalidMaskFailsWithZero) {
  dev_info_t r;
  EXPECT_EQ(dev_data_read(3, &r, 0), 0);
  EXPECT_NE(log.str().find("dev_type_valid: dev_type=3 is invalid\n"), std::string::npos);
  EXPECT_NE(log.str().find("dev_data_read: ERR_DEV_CNTRL\n"), std::string::npos);
}

TEST_F(DeviceTable, MaskAllPollsEveryType) {
  register_mc_hooks();
  dev_set_can_poll_fn(fake_can);
  FakeController mc_event;
  mc_event.kind = 2;
  FakeController mc_mwi;
  mc_mwi.kind = 3;
  FakeController mc_serial;
  mc_serial.kind = 1;
  std::vector<sim::MemorySerialPort*> peers(5);
  const std::vector<std::string> names{"COM1", "COM2", "COM3", "COM4", "COM5"};
  std::vector<sio_handle_t> lines;
  for (std::size_t i = 0; i < names.size(); ++i) lines.push_back(open_line(names[i], &peers[i]));
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, 1, &mc_event), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, 2, &mc_mwi), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, lines[0], &mc_serial), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, lines[1], owner), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_1, lines[2], nullptr), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_2, lines[3], nullptr), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_3, lines[4], nullptr), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_CONSOLE, 3, nullptr), 0);
  // The CAN device has input once every other device has been asked.
  FakeCan can;
  can.decide = [&] {
    for (auto* p : peers) {
      if (p->calls(SerialOp::clear_error) == 0) return false;
    }
    return mc_event.polls > 0 && mc_mwi.polls > 0;
  };
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, 4, &can), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_MASK_ALL, &r, 1), DEV_TYPE_CAN);
  EXPECT_EQ(r.handle, 4);
  EXPECT_EQ(r.owner, &can);
}

TEST_F(DeviceTable, MotionControllerKindsPollThroughTheirHooks) {
  register_mc_hooks();
  FakeController mc_event;
  mc_event.kind = 2;
  FakeController mc_mwi;
  mc_mwi.kind = 3;
  FakeController mc_serial;
  mc_serial.kind = 1;
  sim::MemorySerialPort* peer = nullptr;
  const sio_handle_t h = open_line("COM1", &peer);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, 1, &mc_event), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, 2, &mc_mwi), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, h, &mc_serial), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_MC, &r, 0), DEV_NO_INPUT);

  mc_event.event = true;
  ASSERT_EQ(dev_data_read(DEV_TYPE_MC, &r, 0), DEV_TYPE_MC);
  EXPECT_EQ(r.owner, &mc_event);
  EXPECT_FALSE(mc_event.event);  // the poll took the event

  // These are not first in the table: waiting reads, so that a slow
  // worker is not cut short.
  mc_mwi.mwi = 1;
  ASSERT_EQ(dev_data_read(DEV_TYPE_MC, &r, 1), DEV_TYPE_MC);
  EXPECT_EQ(r.owner, &mc_mwi);
  mc_mwi.mwi = 0;

  peer->push("P");
  ASSERT_EQ(dev_data_read(DEV_TYPE_MC, &r, 1), DEV_TYPE_MC);
  EXPECT_EQ(r.owner, &mc_serial);
  EXPECT_EQ(r.handle, h);
}

TEST_F(DeviceTable, MotionControllerWithoutPollHooksHasNoInput) {
  dev_mc_hooks_t hooks;
  hooks.connection_kind = fake_kind;
  dev_set_mc_hooks(hooks);
  FakeController mc;
  mc.kind = 2;
  mc.event = true;
  ASSERT_EQ(dev_add_device(DEV_TYPE_MC, 1, &mc), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_MC, &r, 0), DEV_NO_INPUT);
}

TEST_F(DeviceTable, CanDeviceWithoutHookHasNoInputWithHookIsFound) {
  FakeCan can;
  can.has_event = true;
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, 7, &can), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_NO_INPUT);
  EXPECT_EQ(can.polls, 0);
  dev_set_can_poll_fn(fake_can);
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_TYPE_CAN);
  EXPECT_EQ(r.handle, 7);
  can.has_event = false;
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_NO_INPUT);
}

TEST_F(DeviceTable, ConsoleNeverReportsAKey) {
  ASSERT_EQ(dev_add_device(DEV_TYPE_CONSOLE, 3, nullptr), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_CONSOLE, &r, 0), DEV_NO_INPUT);
  EXPECT_EQ(dev_data_read(DEV_MASK_ALL, &r, 0), DEV_NO_INPUT);
}

TEST_F(DeviceTable, WorkerIsIdleOnceTheReadReturns) {
  FakeCan can;
  dev_set_can_poll_fn(fake_can);
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, 7, &can), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_NO_INPUT);
  const int polls = can.polls;
  EXPECT_GE(polls, 1);
  // Nothing may poll between requests; a short look can only miss a fault,
  // never invent one.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(can.polls, polls);
}

TEST_F(DeviceTable, FoundEntryRemovedIsNotReportedAgain) {
  FakeCan can;
  can.has_event = true;
  dev_set_can_poll_fn(fake_can);
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, 7, &can), 0);
  dev_info_t r;
  ASSERT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_TYPE_CAN);
  ASSERT_EQ(dev_remove_device(7), 0);
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_NO_INPUT);
}

// ---- concurrency

TEST_F(DeviceTable, ConcurrentRequestersEachGetTheirOwnAnswer) {
  sim::MemorySerialPort* p4 = nullptr;
  const sio_handle_t h4 = open_line("COM4", &p4);
  const sio_handle_t h8 = open_line("COM8");
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_1, h4, p4), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_SERIAL_2, h8, nullptr), 0);
  p4->push("x");  // never read: type 4 always has input, type 8 never
  std::atomic<int> wrong{0};
  std::vector<std::thread> requesters;
  for (int t = 0; t < 4; ++t) {
    requesters.emplace_back([&, t] {
      for (int n = 0; n < 15; ++n) {
        dev_info_t r;
        if ((n + t) % 2 == 0) {
          if (dev_data_read(DEV_TYPE_SERIAL_1, &r, 0) != DEV_TYPE_SERIAL_1 || r.handle != h4) ++wrong;
        } else {
          if (dev_data_read(DEV_TYPE_SERIAL_2, &r, 0) != DEV_NO_INPUT) ++wrong;
        }
      }
    });
  }
  for (auto& t : requesters) t.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(DeviceTable, RegistrationWhileWorkerPolls) {
  FakeCan can;
  dev_set_can_poll_fn(fake_can);
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, 7, &can), 0);
  std::atomic<bool> done{false};
  std::thread changer([&] {
    FakeCan other;
    for (int n = 0; n < 200 && !done; ++n) {
      dev_add_device(DEV_TYPE_CAN, 1000 + n, &other);
      dev_set_event_state(1000 + n, n % 2);
      dev_remove_device(1000 + n);
    }
  });
  // Ends once the changer has run for a while and the worker has polled.
  FakeCan* can_ptr = &can;
  can.decide = [can_ptr] { return can_ptr->polls > 20; };
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_MASK_ALL, &r, 1), DEV_TYPE_CAN);
  done = true;
  changer.join();
  EXPECT_EQ(r.handle, 7);
  EXPECT_TRUE(dev_is_registered(7));
  EXPECT_FALSE(dev_is_registered(1000));
}

TEST_F(DeviceTable, CloseEndsAWaitingReadAndInitStartsAgain) {
  FakeCan can;
  dev_set_can_poll_fn(fake_can);
  ASSERT_EQ(dev_add_device(DEV_TYPE_CAN, 7, &can), 0);
  std::atomic<int> result{-1};
  std::thread requester([&] {
    dev_info_t r;
    result = dev_data_read(DEV_TYPE_CAN, &r, 1);
  });
  EXPECT_TRUE(eventually([&] { return can.polls >= 3; }));
  dev_close_cntrl();
  requester.join();
  EXPECT_EQ(result, 0);

  ASSERT_EQ(dev_init_cntrl(0), 0);
  EXPECT_TRUE(dev_is_registered(7));
  can.has_event = true;
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_TYPE_CAN, &r, 0), DEV_TYPE_CAN);
}

TEST_F(DeviceTable, CloseTwiceAndCloseWithoutInitAreHarmless) {
  dev_close_cntrl();
  dev_close_cntrl();
  ASSERT_EQ(dev_init_cntrl(0), 0);
  dev_info_t r;
  EXPECT_EQ(dev_data_read(DEV_MASK_ALL, &r, 0), DEV_NO_INPUT);
}

// Registration, polls, waiting reads, closing and starting again, all at
// once: a waiting read ends with an answer or at the close, never hangs.
TEST_F(DeviceTable, SoakOfEveryOperationFromSeveralThreads) {
  FakeCan can;
  FakeCan* can_ptr = &can;
  can.decide = [can_ptr] { return can_ptr->polls % 7 == 0; };
  dev_set_can_poll_fn(fake_can);
  std::atomic<int> next_handle{100};
  const felbrin::test::SoakAction actions[] = {
      {"init", [] { dev_init_cntrl(0); }},
      {"close", [] { dev_close_cntrl(); }},
      {"add", [&] { dev_add_device(DEV_TYPE_CAN, next_handle++ % 120, &can); }},
      {"remove", [&] { dev_remove_device(next_handle % 120); }},
      {"event state", [&] { dev_set_event_state(next_handle % 120, next_handle % 2); }},
      {"entry", [] {
         dev_info_t e;
         (void)dev_get_entry(3, &e);
       }},
      {"poll", [] {
         dev_info_t r;
         dev_data_read(DEV_MASK_ALL, &r, 0);
       }},
      {"wait", [] {
         dev_info_t r;
         dev_data_read(DEV_TYPE_CAN, &r, 1);
       }},
  };
  // A wait begun near the end may have no input and no close to come: once
  // the soak time is over, closes end what still waits.
  std::atomic<bool> soaked{false};
  std::thread closer([&] {
    std::this_thread::sleep_for(felbrin::test::soak_duration());
    while (!soaked) {
      dev_close_cntrl();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  EXPECT_GT(felbrin::test::soak(actions, 4), 0);
  soaked = true;
  closer.join();
}

}  // namespace
