// The bridge-library binding: a table put in place by a test, the library
// absent, and test libraries with and without every operation, loaded from
// next to the test program.
#include "instrument/can/can_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/can/can_api_internal.h"
#include "platform/host_platform.h"
#include "platform/platform.h"
#include "sim/can/can_sim_c.h"
#include "tests/support/environment.h"
#include "tests/support/loaded_library.h"
#include "tests/support/log_capture.h"

namespace {

using felbrin::test::LogCapture;

using felbrin::test::beside_program;

// Every test starts and ends with nothing bound and nothing looked for.
class CanApi : public ::testing::Test {
 protected:
  void SetUp() override { felbrin::can::forget_binding(); }
  void TearDown() override { felbrin::can::forget_binding(); }
  LogCapture log;
};

// What the fake table saw.
std::vector<std::uint32_t> g_connects;

std::int32_t fake_connect(std::uint32_t ip) {
  g_connects.push_back(ip);
  return CAN_ERR_NOT_CONNECTED;
}

std::int32_t fake_firmware(std::uint8_t* major, std::uint8_t* minor) {
  *major = 7;
  *minor = 3;
  return CAN_OK;
}

TEST_F(CanApi, InstalledTableIsCalled) {
  can_api_t table{};
  table.connect = &fake_connect;
  table.get_firmware_version = &fake_firmware;
  g_connects.clear();
  can_api_install(&table);
  EXPECT_TRUE(can_api_loaded());
  EXPECT_EQ(can_api_load(), 0);

  std::int32_t status = 99;
  EXPECT_EQ(can_api_call(&can_api_t::connect, &status, std::uint32_t{0x0401A8C0}), 0);
  EXPECT_EQ(status, CAN_ERR_NOT_CONNECTED);
  EXPECT_EQ(g_connects, (std::vector<std::uint32_t>{0x0401A8C0}));
  std::uint8_t major = 0, minor = 0;
  EXPECT_EQ(can_api_call(&can_api_t::get_firmware_version, &status, &major, &minor), 0);
  EXPECT_EQ(status, CAN_OK);
  EXPECT_EQ(major, 7);
  EXPECT_EQ(minor, 3);
  // An entry the table leaves empty is as good as no library.
  status = 99;
  EXPECT_EQ(can_api_call(&can_api_t::reset_bridge, &status), ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(status, 99);

  can_api_install(nullptr);
  EXPECT_FALSE(can_api_loaded());
  EXPECT_EQ(log.str(), "");
}

// A library that cannot be loaded (the simulated one sits beside the test
// program, so the look-up is pointed elsewhere): every operation answers 77
// and leaves its status alone, and the library is not looked for again.
TEST_F(CanApi, AbsentLibraryGivesNotAvailable) {
  EXPECT_EQ(felbrin::can::bind_library(beside_program("felbrin_no_such_library").c_str()),
            ERR_CAN_NOT_AVAIL);
  EXPECT_FALSE(can_api_loaded());
  std::int32_t status = 99;
  EXPECT_EQ(can_api_call(&can_api_t::connect, &status, std::uint32_t{1}), ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(can_api_call(&can_api_t::disconnect, &status), ERR_CAN_NOT_AVAIL);
  can_transfer_result_t result{};
  std::uint8_t data[4] = {};
  EXPECT_EQ(can_api_call(&can_api_t::sdo_read, &status, std::uint8_t{61}, std::uint16_t{0x1018},
                         std::uint8_t{2}, data, std::uint32_t{4}, &result),
            ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(status, 99);
  EXPECT_EQ(can_api_load(), ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(can_api(), nullptr);
  EXPECT_FALSE(can_api_loaded());
  EXPECT_EQ(log.str(), "");
}

// The names the library must export, transcribed here on their own so that
// a slip in the binding's table fails.
TEST_F(CanApi, BindsTheSeventeenNamesInTableOrder) {
  const std::vector<std::string> expected = {
      "CAN_EnumerateBridges",       "CAN_Connect",            "CAN_Disconnect",
      "CAN_GetFirmwareVersion",     "CAN_GetBridgeConfiguration",
      "CAN_SetBridgeConfiguration", "CAN_GetLastBridgeError", "CAN_ResetBridge",
      "CAN_EnumerateNodes",         "CAN_FindNode",           "CAN_GetNodeState",
      "CAN_SDORead",                "CAN_SDOWrite",           "CAN_RegisterPDO",
      "CAN_RegisterEvents",         "CAN_GetPDO",             "CAN_UnregisterPDOs"};
  int count = 0;
  const char* const* names = felbrin::can::exported_names(&count);
  EXPECT_EQ(std::vector<std::string>(names, names + count), expected);
}

TEST_F(CanApi, LibraryWithEveryNameIsBound) {
  ASSERT_EQ(felbrin::can::bind_library(beside_program("felbrin_testcan_full").c_str()), 0)
      << log.str();
  EXPECT_TRUE(can_api_loaded());
  std::int32_t status = 0;
  EXPECT_EQ(can_api_call(&can_api_t::connect, &status, std::uint32_t{0x0100000A}), 0);
  EXPECT_EQ(status, CAN_OK);
  std::uint8_t major = 0, minor = 0;
  EXPECT_EQ(can_api_call(&can_api_t::get_firmware_version, &status, &major, &minor), 0);
  EXPECT_EQ(major, 10);
  EXPECT_EQ(minor, 9);
  can_pdo_record_t pdo{};
  EXPECT_EQ(can_api_call(&can_api_t::get_pdo, &status, &pdo), 0);
  EXPECT_EQ(status, CAN_ERR_NO_PDO);
  EXPECT_EQ(log.str(), "");
}

TEST_F(CanApi, LibraryLackingANameIsNotUsed) {
  const std::string path = beside_program("felbrin_testcan_partial");
  EXPECT_EQ(felbrin::can::bind_library(path.c_str()), ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(log.str(), "can_api_load: " + path + " has no CAN_GetPDO\n");
  EXPECT_FALSE(can_api_loaded());
  // Refused once is refused: the operations answer 77 without looking again.
  std::int32_t status = 99;
  EXPECT_EQ(can_api_call(&can_api_t::connect, &status, std::uint32_t{0x0100000A}),
            ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(status, 99);
  EXPECT_EQ(log.str(), "can_api_load: " + path + " has no CAN_GetPDO\n");
}

// The stand-in library as a host program meets it: bound by path with all
// 17 names, driven through the table, set up through its own control
// functions looked up by name, its version as the bring-up reads it.
template <class Fn>
Fn* control(void* module, const char* name) {
  void* symbol = plat::host::find_symbol(module, name);
  EXPECT_NE(symbol, nullptr) << name;
  return reinterpret_cast<Fn*>(symbol);
}

TEST_F(CanApi, SimulatedLibraryIsBoundAndAnswers) {
  const std::string path = beside_program("TrelCANopen");
  ASSERT_EQ(felbrin::can::bind_library(path.c_str()), 0) << log.str();
  void* module = plat::host::load_library(path.c_str());  // the same module, counted again
  ASSERT_NE(module, nullptr);
  control<decltype(cansim_reset)>(module, "cansim_reset")();
  ASSERT_EQ(control<decltype(cansim_preset)>(module, "cansim_preset")("fjord:00-1A-2B-3C-4D-5E"), 1);

  std::int32_t status = 0;
  can_bridge_entry_t entries[CAN_MAX_BRIDGES] = {};
  ASSERT_EQ(can_api_call(&can_api_t::enumerate_bridges, &status, entries, std::int32_t{CAN_MAX_BRIDGES}), 0);
  EXPECT_EQ(status, 1);
  std::uint32_t ip = 0;
  for (int i = 3; i >= 0; --i) ip = ip << 8 | entries[0].ip[i];
  EXPECT_EQ(can_api_call(&can_api_t::connect, &status, ip), 0);
  EXPECT_EQ(status, CAN_OK);
  std::uint8_t product[4] = {};
  can_transfer_result_t result{};
  EXPECT_EQ(can_api_call(&can_api_t::sdo_read, &status, std::uint8_t{61}, std::uint16_t{0x1018},
                         std::uint8_t{2}, product, std::uint32_t{4}, &result),
            0);
  EXPECT_EQ(status, CAN_OK);
  EXPECT_EQ(result.status, CAN_OK);
  EXPECT_EQ(product[0] | product[1] << 8 | product[2] << 16 | static_cast<std::uint32_t>(product[3]) << 24,
            0x2672137Du);
  EXPECT_EQ(control<decltype(cansim_call_count)>(module, "cansim_call_count")("CAN_SDORead"), 1);
  char line[64] = {};
  EXPECT_GT(control<decltype(cansim_call_log_line)>(module, "cansim_call_log_line")(1, line, sizeof line), 0);
  EXPECT_STREQ(line, "CAN_Connect 0A64A8C0 -> 1");
  // The library's own thread announces a PDO; it stays until the process ends.
  static std::atomic<int> announced{0};
  can_pdo_descriptor_t d{0x1BF, {}};
  EXPECT_EQ(can_api_call(&can_api_t::register_pdo, &status, &d), 0);
  EXPECT_EQ(can_api_call(&can_api_t::register_events, &status,
                         +[](std::int32_t n, std::int32_t, std::int32_t, std::int32_t) { announced += n; },
                         static_cast<can_emcy_callback_t>(nullptr)),
            0);
  const std::uint8_t key[1] = {1};
  control<decltype(cansim_inject_pdo)>(module, "cansim_inject_pdo")(0x1BF, key, 1);
  EXPECT_EQ(control<decltype(cansim_wait_delivered)>(module, "cansim_wait_delivered")(10000), 1);
  EXPECT_EQ(announced.load(), 1);
  EXPECT_EQ(can_api_call(&can_api_t::register_events, &status, static_cast<can_pdo_callback_t>(nullptr),
                         static_cast<can_emcy_callback_t>(nullptr)),
            0);
  // Names of the simulation's insides stay inside.
  EXPECT_EQ(plat::host::find_symbol(module, "_ZN6cansim5resetEv"), nullptr);

  std::int32_t v[4] = {};
  ASSERT_TRUE(plat::host::file_product_version(path.c_str(), v));
  EXPECT_EQ(std::vector<std::int32_t>(v, v + 4), (std::vector<std::int32_t>{3, 1, 0, 0}));
  control<decltype(cansim_reset)>(module, "cansim_reset")();
  plat::host::free_library(module);
  EXPECT_EQ(log.str(), "");
}

// The loader finds the stand-in beside the program. Without a binding
// every operation answers 77 all the same, once the look-up has failed.
TEST_F(CanApi, NothingBoundAfterAFailedBindGivesNotAvailable) {
  ASSERT_EQ(can_api_load(), 0);
  EXPECT_TRUE(can_api_loaded());
  felbrin::can::forget_binding();
  EXPECT_EQ(felbrin::can::bind_library("felbrin_no_such_library"), ERR_CAN_NOT_AVAIL);
  std::int32_t status = 99;
  EXPECT_EQ(can_api_call(&can_api_t::reset_bridge, &status), ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(status, 99);
}

// A host program that never calls a control function gets the preset the
// environment names, or no bridge at all. Each case loads its own copy of
// the library (a copy is a fresh instance, whatever this process did with
// the library already), beside the program, kept after the test since a
// bound library is never unloaded.
TEST_F(CanApi, HostWithoutTheControlFunctionsGetsTheEnvironmentsPreset) {
  struct Case {
    const char* copy;
    const char* variable;
    int32_t bridges;
  };
  const Case cases[] = {
      {"felbrin_cansim_env_kite", "kite:02-00-00-00-00-07", 1},
      {"felbrin_cansim_env_none", nullptr, 0},
      {"felbrin_cansim_env_bad", "lake:02-00-00-00-00-07", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.copy);
    const std::string copy = beside_program(c.copy);
    // Removed first: the Windows build's runtime will not overwrite a copy
    // an earlier run left.
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);
    std::filesystem::copy_file(beside_program("TrelCANopen"), copy);
    felbrin::test::ScopedEnv env("FELBRIN_CANSIM", c.variable);
    felbrin::can::forget_binding();
    ASSERT_EQ(felbrin::can::bind_library(copy.c_str()), 0);
    std::int32_t count = -9;
    can_bridge_entry_t entries[CAN_MAX_BRIDGES] = {};
    ASSERT_EQ(can_api_call(&can_api_t::enumerate_bridges, &count, entries, std::int32_t{CAN_MAX_BRIDGES}), 0);
    EXPECT_EQ(count, c.bridges);
    if (c.bridges == 1) {
      EXPECT_EQ(entries[0].mac[0], 0x02);
      EXPECT_EQ(entries[0].mac[5], 0x07);
    }
  }
}

}  // namespace
