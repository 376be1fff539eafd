// The stand-in bridge library: the 17 operations under the names the real
// library exports, and the control functions of can_sim_c.h. The export
// lists (TrelCANopen.def, TrelCANopen.map) keep every other name inside.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "instrument/can/can_api.h"
#include "sim/can/can_sim.h"
#include "sim/can/can_sim_c.h"

namespace {

std::atomic<bool> g_controlled{false};
std::once_flag g_first_use;

// A host that never called a control function gets the environment's
// network on its first operation.
const can_api_t& first_use() {
  std::call_once(g_first_use, [] {
    if (!g_controlled.load()) cansim::preset_from_environment();
  });
  return *cansim::api();
}

void control() {
  g_controlled = true;
  std::call_once(g_first_use, [] {});
}

}  // namespace

extern "C" {

int32_t CAN_EnumerateBridges(can_bridge_entry_t* entries, int32_t capacity) {
  return first_use().enumerate_bridges(entries, capacity);
}
int32_t CAN_Connect(uint32_t ip) { return first_use().connect(ip); }
int32_t CAN_Disconnect() { return first_use().disconnect(); }
int32_t CAN_GetFirmwareVersion(uint8_t* major, uint8_t* minor) {
  return first_use().get_firmware_version(major, minor);
}
int32_t CAN_GetBridgeConfiguration(uint8_t* a, uint32_t* b) {
  return first_use().get_bridge_configuration(a, b);
}
int32_t CAN_SetBridgeConfiguration(uint8_t a, uint32_t b) {
  return first_use().set_bridge_configuration(a, b);
}
int32_t CAN_GetLastBridgeError(int32_t* error) { return first_use().get_last_bridge_error(error); }
int32_t CAN_ResetBridge() { return first_use().reset_bridge(); }
int32_t CAN_EnumerateNodes(uint8_t* nodes) { return first_use().enumerate_nodes(nodes); }
int32_t CAN_FindNode(uint8_t node, uint8_t* status) { return first_use().find_node(node, status); }
int32_t CAN_GetNodeState(uint8_t node, uint8_t* state) {
  return first_use().get_node_state(node, state);
}
int32_t CAN_SDORead(uint8_t node, uint16_t index, uint8_t sub, uint8_t* data, uint32_t count,
                    can_transfer_result_t* result) {
  return first_use().sdo_read(node, index, sub, data, count, result);
}
int32_t CAN_SDOWrite(uint8_t node, uint16_t index, uint8_t sub, const uint8_t* data, uint32_t count,
                     can_transfer_result_t* result) {
  return first_use().sdo_write(node, index, sub, data, count, result);
}
int32_t CAN_RegisterPDO(const can_pdo_descriptor_t* descriptor) {
  return first_use().register_pdo(descriptor);
}
int32_t CAN_RegisterEvents(can_pdo_callback_t on_pdo, can_emcy_callback_t on_emcy) {
  return first_use().register_events(on_pdo, on_emcy);
}
int32_t CAN_GetPDO(can_pdo_record_t* record) { return first_use().get_pdo(record); }
int32_t CAN_UnregisterPDOs() { return first_use().unregister_pdos(); }

void cansim_reset(void) {
  control();
  cansim::reset();
}
int cansim_preset(const char* text) {
  control();
  return cansim::preset(text) ? 1 : 0;
}
int cansim_preset_from_environment(void) {
  control();
  return cansim::preset_from_environment() ? 1 : 0;
}
void cansim_add_bridge(const uint8_t ip[4], const uint8_t mac[6], uint8_t firmware_major,
                       uint8_t firmware_minor, uint8_t config_a, uint32_t config_b) {
  control();
  cansim::BridgeSetup setup;
  if (ip != nullptr) std::copy_n(ip, 4, setup.ip);
  if (mac != nullptr) std::copy_n(mac, 6, setup.mac);
  setup.firmware_major = firmware_major;
  setup.firmware_minor = firmware_minor;
  setup.config_a = config_a;
  setup.config_b = config_b;
  cansim::add_bridge(setup);
}
int cansim_add_node(uint8_t node, const char* kind, uint32_t product_id) {
  control();
  return cansim::add_node(node, kind, product_id) ? 1 : 0;
}
void cansim_remove_node(uint8_t node) {
  control();
  cansim::remove_node(node);
}
void cansim_reboot_node(uint8_t node, int polls) {
  control();
  cansim::reboot_node(node, polls);
}
void cansim_set_operational_after(uint8_t node, int polls) {
  control();
  cansim::set_operational_after(node, polls);
}
int cansim_set_value(uint8_t node, uint16_t index, uint8_t sub, const uint8_t* bytes,
                     size_t count) {
  control();
  if (bytes == nullptr && count > 0) return 0;
  return cansim::set_value(node, index, sub, std::vector<uint8_t>(bytes, bytes + count)) ? 1 : 0;
}
size_t cansim_value(uint8_t node, uint16_t index, uint8_t sub, uint8_t* out, size_t capacity) {
  control();
  const std::vector<uint8_t> v = cansim::value(node, index, sub);
  if (out != nullptr) std::copy_n(v.begin(), std::min(capacity, v.size()), out);
  return v.size();
}
int cansim_set_option(uint8_t node, const char* name, int32_t value) {
  control();
  return cansim::set_option(node, name, value) ? 1 : 0;
}
void cansim_move(uint8_t node, const char* what, int position) {
  control();
  cansim::move(node, what, position);
}
void cansim_set_abort(uint8_t node, uint16_t index, uint8_t sub, uint32_t abort_code) {
  control();
  cansim::set_abort(node, index, sub, abort_code);
}
void cansim_set_reply_delay(uint8_t node, uint16_t index, uint8_t sub, uint32_t delay_ms) {
  control();
  cansim::set_reply_delay(node, index, sub, delay_ms);
}
void cansim_drop_frame(int n) {
  control();
  cansim::drop_frame(n);
}
void cansim_bus_off(void) {
  control();
  cansim::bus_off();
}
void cansim_script_bridge_errors(const int32_t* errors, int count) {
  control();
  std::vector<int32_t> v;
  if (errors != nullptr && count > 0) v.assign(errors, errors + count);
  cansim::script_bridge_errors(v);
}
void cansim_override_enumerate_count(int32_t count) {
  control();
  cansim::override_enumerate_count(count);
}
void cansim_clear_enumerate_override(void) {
  control();
  cansim::clear_enumerate_override();
}
void cansim_fail_next(const char* operation, int32_t status) {
  control();
  cansim::fail_next(operation, status);
}
void cansim_fail_get_pdo(int k) {
  control();
  cansim::fail_get_pdo(k);
}
void cansim_inject_pdo(uint32_t cob_id, const uint8_t* data, size_t count) {
  control();
  std::vector<uint8_t> v;
  if (data != nullptr) v.assign(data, data + count);
  cansim::inject_pdo(cob_id, v);
}
void cansim_inject_emcy(uint32_t value1, uint32_t value2, const uint8_t block[CAN_EMCY_BLOCK_SIZE],
                        uint8_t value3) {
  control();
  cansim::inject_emcy(value1, value2, block, value3);
}
int cansim_wait_delivered(int timeout_ms) {
  control();
  return cansim::wait_delivered(timeout_ms) ? 1 : 0;
}
int cansim_call_log_count(void) {
  control();
  return static_cast<int>(cansim::call_log().size());
}
int cansim_call_log_line(int i, char* out, size_t capacity) {
  control();
  const std::vector<std::string> log = cansim::call_log();
  if (i < 0 || static_cast<std::size_t>(i) >= log.size()) return -1;
  const std::string& line = log[static_cast<std::size_t>(i)];
  if (out != nullptr && capacity > 0) {
    const std::size_t n = std::min(capacity - 1, line.size());
    std::memcpy(out, line.data(), n);
    out[n] = '\0';
  }
  return static_cast<int>(line.size());
}
void cansim_clear_call_log(void) {
  control();
  cansim::clear_call_log();
}
int cansim_call_count(const char* operation) {
  control();
  return cansim::call_count(operation);
}
int cansim_registered_cob_ids(uint32_t* out, int capacity) {
  control();
  const std::vector<uint32_t> ids = cansim::registered_cob_ids();
  if (out != nullptr && capacity > 0)
    std::copy_n(ids.begin(), std::min<std::size_t>(static_cast<std::size_t>(capacity), ids.size()),
                out);
  return static_cast<int>(ids.size());
}
int64_t cansim_now_ms(void) {
  control();
  return cansim::now_ms();
}
void cansim_set_clock(int64_t (*now_ms)(void)) {
  control();
  cansim::set_clock(now_ms);
}

}  // extern "C"
