/// @file
/// The binding to the CANopen bridge library: a table of its 17 operations,
/// filled on first need from the library loaded at run time, or put in place
/// by a test or a host that links a stand-in.
///
/// Without a bound library every CAN operation answers ERR_CAN_NOT_AVAIL
/// (77) instead of the program failing to start. The library is looked for
/// once, beside the running program first, then on the platform's default
/// search; one that lacks any of the 17 names is not used. A bound library
/// is never unloaded: its thread may still be running a callback.
///
/// Any thread may call these.
#pragma once

#include <cstdint>
#include <string>

#include "common/errors.h"
#include "instrument/can/can_abi.h"

/// The bridge library's operations, one entry per exported name.
struct can_api_t {
  can_enumerate_bridges_fn* enumerate_bridges;                ///< CAN_EnumerateBridges
  can_connect_fn* connect;                                    ///< CAN_Connect
  can_disconnect_fn* disconnect;                              ///< CAN_Disconnect
  can_get_firmware_version_fn* get_firmware_version;          ///< CAN_GetFirmwareVersion
  can_get_bridge_configuration_fn* get_bridge_configuration;  ///< CAN_GetBridgeConfiguration
  can_set_bridge_configuration_fn* set_bridge_configuration;  ///< CAN_SetBridgeConfiguration
  can_get_last_bridge_error_fn* get_last_bridge_error;        ///< CAN_GetLastBridgeError
  can_reset_bridge_fn* reset_bridge;                          ///< CAN_ResetBridge
  can_enumerate_nodes_fn* enumerate_nodes;                    ///< CAN_EnumerateNodes
  can_find_node_fn* find_node;                                ///< CAN_FindNode
  can_get_node_state_fn* get_node_state;                      ///< CAN_GetNodeState
  can_sdo_read_fn* sdo_read;                                  ///< CAN_SDORead
  can_sdo_write_fn* sdo_write;                                ///< CAN_SDOWrite
  can_register_pdo_fn* register_pdo;                          ///< CAN_RegisterPDO
  can_register_events_fn* register_events;                    ///< CAN_RegisterEvents
  can_get_pdo_fn* get_pdo;                                    ///< CAN_GetPDO
  can_unregister_pdos_fn* unregister_pdos;                    ///< CAN_UnregisterPDOs
};

/// The library's file name on this platform ("TrelCANopen.dll",
/// "libTrelCANopen.so").
const char* can_api_library_name();

/// Binds the library unless a table is bound already: 0, or
/// ERR_CAN_NOT_AVAIL when there is none to bind (looked for only once).
int can_api_load();

/// Binds `api` in place of the library; it must outlive its use. Null
/// unbinds, and the next need looks for the library again.
void can_api_install(const can_api_t* api);

/// The file of the bound library; empty when none is bound or the table was
/// installed.
std::string can_api_library_path();

/// True when a table is bound.
bool can_api_loaded();

/// The bound table, binding it on first need; null when there is none.
const can_api_t* can_api();

/// The call every CAN operation makes into the library: 0 with the
/// operation's status in *status, or ERR_CAN_NOT_AVAIL (status untouched)
/// when no library is bound.
template <class Fn, class... Args>
int can_api_call(Fn* can_api_t::*op, std::int32_t* status, Args... args) {
  const can_api_t* api = can_api();
  if (api == nullptr || api->*op == nullptr) return ERR_CAN_NOT_AVAIL;
  *status = (api->*op)(args...);
  return 0;
}
