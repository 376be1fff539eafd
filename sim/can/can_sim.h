// A simulated CAN network behind simulated Ethernet-to-CAN bridges, for
// tests and for host programs developed without hardware: the bridges
// answer the 17 bridge-library operations, the nodes keep object
// dictionaries of their own and answer SDO transfers, NMT polls and send
// PDOs and emergencies.
//
// The simulation is process-wide, like the library it stands in for. Tests
// link this core and bind `cansim::api()` with can_api_install; the shared
// library TrelCANopen (can_sim_exports.cpp) exports the same operations
// under their C names, together with the control functions below as
// `cansim_*` (see can_sim_c.h).
//
// Time. Every delay of the simulation (late replies, busy ramps, moving
// motors) is counted on the simulation clock, which is the real monotonic
// clock unless `set_clock` names another; tests give it u_ticks_ms, so that
// the virtual clock drives the devices too and long waits cost nothing.
//
// Threads. Every function may be called from any thread. The library's
// callback thread announces PDOs and delivers emergencies; it never holds
// the simulation's lock while calling out. A transfer that waits lets the
// time pass without the lock: really on the real clock, through the
// library's pause seam (u_sleep_fn) on any other, which moves a virtual
// clock.
//
// What the bridges answer, beyond the statuses of can_abi.h:
// - Bus off fails the operations that need the CAN bus (node enumeration,
//   find node, node state, SDO transfers) with -1; the bridge-level ones
//   (connect, firmware, configuration, error, reset) still work.
//   CAN_ResetBridge clears the bus and the error and drops the connection,
//   the PDO registrations and the queues: connect again after it.
// - CAN_GetNodeState answers 2 operational, 1 pre-operational, 3 stopped,
//   0 for a node that is absent or does not answer its guarding poll.
//   Node presence (CAN_FindNode, CAN_EnumerateNodes) is what the bridge
//   learnt from boot-up, heartbeat and guarding frames.
// - A transfer that gets no reply within 1000 ms returns -3 (the result
//   holds abort code 0x05040000); one whose object is larger than the
//   caller's buffer returns -5. Both tell the node, which drops the
//   transfer and any reply it still holds back.
// - PDOs are kept, while connected, for registered COB-IDs only, in a
//   queue of 256; one more sets the overrun flag of the next announcement.
//   Emergencies are kept while an emergency callback is registered: from a
//   node's frame, value1 is the COB-ID, value2 the error code, the block the
//   frame's 8 bytes (then zeros), value3 the error register.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instrument/can/can_abi.h"

struct can_api_t;

namespace cansim {

// ---- the operations, as the loaded library exports them
const can_api_t* api();

// ---- set-up

// Back to an empty network: no bridge, no node, no fault, no log, no
// registration, the real clock. Waits for a callback in flight.
void reset();

// Adds a bridge with the nodes of one instrument family, from text such as
// "fjord:00-1A-2B-3C-4D-5E" (families "fjord", "fjordp", "kite"; the MAC
// with '-' or ':'). False for text it cannot read; nothing is added then.
// The bridge answers at IP 192.168.100.<n> (n = 10 for the first bridge),
// firmware 10.9, configuration 127/1000, no error.
bool preset(const char* text);
// The preset of the environment variable FELBRIN_CANSIM, if set and
// readable; what the shared library does when first used by a host that
// never called a control function.
bool preset_from_environment();

// A bridge of its own; its nodes are added with add_node.
struct BridgeSetup {
  uint8_t ip[4] = {192, 168, 100, 10};
  uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  uint8_t firmware_major = 10;
  uint8_t firmware_minor = 9;
  uint8_t config_a = 127;
  uint32_t config_b = 1000;
};
void add_bridge(const BridgeSetup& setup);

// Node kinds: "ramp" (127), "led" (61), "brush" (63), "pzt" (62, 52),
// "dmd" (64, 66, 68, 70: dual motor drive, with the ND wheel and encoded
// zoom on 64 and the ring/spot selector on 68), "wand" (72, 73),
// "amplifier" (16-24: a stage axis's amplifier in external closed loop),
// "position" (48: the position-measurement node the amplifiers close on).
// The node joins the last bridge added, boots and is operational at once.
// False for an unknown kind.
bool add_node(uint8_t node, const char* kind, uint32_t product_id);
// Takes the node off the bus: it no longer answers anything.
void remove_node(uint8_t node);
// The node reboots: a boot-up frame, pre-operational, its dictionary back
// to its defaults; operational again after `polls` state polls (0: at once;
// 2: the third poll answers operational).
void reboot_node(uint8_t node, int polls);
// CAN_GetNodeState answers operational only from the n-th poll on (n >= 1;
// 0: never operational).
void set_operational_after(uint8_t node, int polls);

// ---- the object dictionary of a node (tests set values and read what the
// library wrote; bytes little-endian, as on the wire)
bool set_value(uint8_t node, uint16_t index, uint8_t sub, const std::vector<uint8_t>& bytes);
// Empty when the node has no such entry.
std::vector<uint8_t> value(uint8_t node, uint16_t index, uint8_t sub);
// Node behaviours with a setting, by name; false for an unknown name:
//   127 "busy_reads"       ramp status reads busy for this many reads after a start
//   64  "home_ms"          ND-wheel home search time; "move_ms" the move after it
//   64  "home_fails"       1: the home search ends in failure
//   68  "rs_move_ms"       ring/spot move time (status bit 1 held), then position 1 or 2
bool set_option(uint8_t node, const char* name, int32_t value);
// Moves the turret or zoom of the brush motor as a user would ("turret",
// "zoom"), which sends the node's PDOs. Also: a focus key on 64 ("focus")
// and a wand key on 72 or 73 ("key"), each the node's first PDO.
void move(uint8_t node, const char* what, int position);

// ---- faults
// Every transfer of that object is aborted with `abort_code` (0 clears).
void set_abort(uint8_t node, uint16_t index, uint8_t sub, uint32_t abort_code);
// Replies of that object come `delay_ms` late; a reply later than the SDO
// timeout (1000 ms) counts as none (-3) and is never taken for the next
// transfer's answer.
void set_reply_delay(uint8_t node, uint16_t index, uint8_t sub, uint32_t delay_ms);
// The n-th frame on the bus from now is lost (1 = the next).
void drop_frame(int n);
// The bus goes off: every bridge operation fails (-1) and the bridge error
// is non-zero until CAN_ResetBridge.
void bus_off();
// Successive answers of CAN_GetLastBridgeError; the last one stays.
void script_bridge_errors(const std::vector<int32_t>& errors);
// CAN_EnumerateBridges returns `count` as given (negative, 0, above the
// capacity) instead of the bridges found; `clear_enumerate_override` ends it.
void override_enumerate_count(int32_t count);
void clear_enumerate_override();
// The next call of the operation named by its exported name
// ("CAN_Connect") returns `status` and does nothing else.
void fail_next(const char* operation, int32_t status);
// The k-th CAN_GetPDO from now (1 = the next) fails with -1, losing its PDO.
void fail_get_pdo(int k);

// ---- injection, delivered by the callback thread
void inject_pdo(uint32_t cob_id, const std::vector<uint8_t>& data);
void inject_emcy(uint32_t value1, uint32_t value2, const uint8_t block[CAN_EMCY_BLOCK_SIZE],
                 uint8_t value3);
// Waits (real time, up to `timeout_ms`) until every PDO and emergency
// injected or sent so far has been announced and its callback has
// returned; false on timeout.
bool wait_delivered(int timeout_ms);

// ---- inspection
// One line per operation call since reset, for example
//   "CAN_SDOWrite 61 2001/00 00 01 -> 1"
//   "CAN_Connect 0A64A8C0 -> 1"
// The form is "<name>[ <arguments>] -> <status>[ <outcome>]": node numbers
// decimal, everything else upper-case hex. Arguments: CAN_EnumerateBridges
// the capacity; CAN_Connect the address value; CAN_SetBridgeConfiguration
// "<a> <b>" (decimal); CAN_FindNode and CAN_GetNodeState the node;
// CAN_SDORead "<node> <index>/<sub> <byte count>"; CAN_SDOWrite "<node>
// <index>/<sub>" then the bytes, or "(<n> bytes)" above 8; CAN_RegisterPDO
// the COB-ID; CAN_RegisterEvents "on" or "off". Outcomes: an SDO transfer
// that was attempted and failed adds "abort <code>"; CAN_GetPDO that took
// one adds its COB-ID.
std::vector<std::string> call_log();
void clear_call_log();
int call_count(const char* operation);
std::vector<uint32_t> registered_cob_ids();
// The simulation clock, ms.
int64_t now_ms();
void set_clock(int64_t (*now_ms)());

}  // namespace cansim
