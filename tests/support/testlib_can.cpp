// A bridge library of our own for the binding tests: every operation but
// CAN_GetPDO (testlib_can_getpdo.cpp adds it), so that one build lacks a
// name and the other has all 17. The answers are fixed and plain enough to
// tell that a call reached this library.
#include <cstdint>

#include "instrument/can/can_abi.h"

namespace {

constexpr std::uint32_t kBridgeIp = 0x0100000A;  // 10.0.0.1 as the entry's bytes

}  // namespace

extern "C" {

std::int32_t CAN_EnumerateBridges(can_bridge_entry_t* entries, std::int32_t capacity) {
  if (entries == nullptr || capacity < 1) return CAN_ERR_GENERAL;
  entries[0] = can_bridge_entry_t{{10, 0, 0, 1}, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
  return 1;
}
std::int32_t CAN_Connect(std::uint32_t ip) { return ip == kBridgeIp ? CAN_OK : CAN_ERR_TIMEOUT; }
std::int32_t CAN_Disconnect() { return CAN_OK; }
std::int32_t CAN_GetFirmwareVersion(std::uint8_t* major, std::uint8_t* minor) {
  *major = 10;
  *minor = 9;
  return CAN_OK;
}
std::int32_t CAN_GetBridgeConfiguration(std::uint8_t* a, std::uint32_t* b) {
  *a = 127;
  *b = 1000;
  return CAN_OK;
}
std::int32_t CAN_SetBridgeConfiguration(std::uint8_t, std::uint32_t) { return CAN_OK; }
std::int32_t CAN_GetLastBridgeError(std::int32_t* error) {
  *error = 0;
  return CAN_OK;
}
std::int32_t CAN_ResetBridge() { return CAN_OK; }
std::int32_t CAN_EnumerateNodes(std::uint8_t*) { return CAN_ERR_NOT_CONNECTED; }
std::int32_t CAN_FindNode(std::uint8_t, std::uint8_t*) { return CAN_ERR_NOT_CONNECTED; }
std::int32_t CAN_GetNodeState(std::uint8_t, std::uint8_t*) { return CAN_ERR_NOT_CONNECTED; }
std::int32_t CAN_SDORead(std::uint8_t, std::uint16_t, std::uint8_t, std::uint8_t*, std::uint32_t,
                         can_transfer_result_t*) {
  return CAN_ERR_LINK_LOST;
}
std::int32_t CAN_SDOWrite(std::uint8_t, std::uint16_t, std::uint8_t, const std::uint8_t*,
                          std::uint32_t, can_transfer_result_t*) {
  return CAN_ERR_LINK_LOST;
}
std::int32_t CAN_RegisterPDO(const can_pdo_descriptor_t*) { return CAN_OK; }
std::int32_t CAN_RegisterEvents(can_pdo_callback_t, can_emcy_callback_t) { return CAN_OK; }
std::int32_t CAN_UnregisterPDOs() { return CAN_OK; }

}  // extern "C"
