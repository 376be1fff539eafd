/** @file
 * The CANopen bridge library as the library sees it: the 17 CAN_
 * operations it imports by name, their records and their status values.
 * This is our own description of that library's interface, in C, so that
 * a stand-in library can be written against the same header. Records are
 * laid out byte for byte as the library passes them; the asserts below pin
 * their sizes. It declares only types and constants, which mean the same in
 * C and C++, so it needs no linkage block.
 *
 * Every operation returns a signed 32-bit status: CAN_OK on success, one of
 * the negative values below on failure. Node IDs are 8-bit CANopen node
 * numbers. */
#pragma once

#include <assert.h>
#include <stdint.h>

/* ---- status values */
enum {
  CAN_OK = 1,                    /**< success */
  CAN_ERR_GENERAL = -1,          /**< general failure: bus off, bad argument */
  CAN_ERR_NOT_CONNECTED = -2,    /**< no bridge connected */
  CAN_ERR_TIMEOUT = -3,          /**< no reply in time */
  CAN_ERR_LINK_LOST = -4,        /**< the link to the bridge was lost */
  CAN_ERR_BUFFER_TOO_SMALL = -5, /**< the caller's buffer is smaller than the object */
  CAN_ERR_NO_PDO = -6            /**< no PDO waiting */
};

/** Answers of CAN_FindNode, CAN_EnumerateNodes and CAN_GetNodeState. Only
 * these three values are relied on; anything else means "no". */
enum {
  CAN_NODE_ABSENT = 0,     /**< no such node, or not present */
  CAN_NODE_FOUND = 2,      /**< CAN_FindNode: the node answered */
  CAN_NODE_PRESENT = 2,    /**< CAN_EnumerateNodes: entry of a present node */
  CAN_NODE_OPERATIONAL = 2 /**< CAN_GetNodeState: the node is operational */
};

/* ---- sizes */
enum {
  CAN_MAX_BRIDGES = 127,   /**< capacity the caller offers CAN_EnumerateBridges */
  CAN_MAX_NODES = 128,     /**< CAN_EnumerateNodes' array, indexed by node ID */
  CAN_EMCY_BLOCK_SIZE = 12 /**< bytes in the block an emergency callback gets */
};

/* ---- records */

/** One bridge found on the network. CAN_Connect takes the four address
 * bytes copied, in this order, into one 32-bit value. */
typedef struct can_bridge_entry_t {
  uint8_t ip[4];  /**< IPv4 address bytes */
  uint8_t mac[6]; /**< MAC address */
} can_bridge_entry_t;

/** Outcome of one SDO transfer. Callers look at status (CAN_OK = success)
 * and abort_code only. */
typedef struct can_transfer_result_t {
  int32_t byte_count;  /**< bytes transferred; not relied on */
  int32_t status;      /**< CAN_OK when the transfer succeeded */
  uint32_t abort_code; /**< the SDO abort code of a refused transfer */
} can_transfer_result_t;

/** Asks for the PDOs of one COB-ID; the rest stays zero. */
typedef struct can_pdo_descriptor_t {
  uint32_t cob_id;      /**< the COB-ID whose PDOs are wanted */
  uint32_t reserved[4]; /**< zero */
} can_pdo_descriptor_t;

/** One received PDO. */
typedef struct can_pdo_record_t {
  uint32_t cob_id;      /**< the COB-ID it came with */
  uint32_t reserved[2]; /**< not relied on */
  uint8_t data[8];      /**< the PDO's data bytes */
} can_pdo_record_t;

static_assert(sizeof(can_bridge_entry_t) == 10, "bridge entry is 10 bytes");
static_assert(sizeof(can_transfer_result_t) == 12, "transfer result is three 32-bit fields");
static_assert(sizeof(can_pdo_descriptor_t) == 20, "PDO descriptor is 20 bytes");
static_assert(sizeof(can_pdo_record_t) == 20, "PDO record is 20 bytes");

/* ---- callbacks, run on the library's own thread */

/** PDOs are waiting: how many, whether the library's queue overran, and two
 * values nobody relies on. */
typedef void (*can_pdo_callback_t)(int32_t waiting, int32_t overrun, int32_t unused1,
                                   int32_t unused2);
/** An emergency: two 32-bit values, a block of CAN_EMCY_BLOCK_SIZE bytes and
 * an 8-bit value, all kept as they come. */
typedef void (*can_emcy_callback_t)(uint32_t value1, uint32_t value2, const uint8_t* block,
                                    uint8_t value3);

/* ---- the 17 operations, as function types; the names the library exports
 * are CAN_ followed by the part after can_ here. */

/** Number of bridges found (0 none, -1 failure), at most `capacity`. */
typedef int32_t can_enumerate_bridges_fn(can_bridge_entry_t* entries, int32_t capacity);
/** Connects to the bridge at `ip`: the four bytes of can_bridge_entry_t::ip copied into one
 * value. */
typedef int32_t can_connect_fn(uint32_t ip);
/** Disconnects from the bridge. */
typedef int32_t can_disconnect_fn(void);
/** The bridge's firmware version. */
typedef int32_t can_get_firmware_version_fn(uint8_t* major, uint8_t* minor);
/** The bridge's two configuration values. */
typedef int32_t can_get_bridge_configuration_fn(uint8_t* value_a, uint32_t* value_b);
/** Sets the bridge's two configuration values; takes effect once the bridge has been
 * connected again. */
typedef int32_t can_set_bridge_configuration_fn(uint8_t value_a, uint32_t value_b);
/** The bridge's last error. Error 0: the bridge has no error. */
typedef int32_t can_get_last_bridge_error_fn(int32_t* error);
/** Resets the bridge, clearing its error. */
typedef int32_t can_reset_bridge_fn(void);
/** Lists the nodes on the network: `nodes` has CAN_MAX_NODES entries; CAN_NODE_PRESENT marks a
 * present node. */
typedef int32_t can_enumerate_nodes_fn(uint8_t* nodes);
/** Looks for a node; `status` is CAN_NODE_FOUND when it answered. */
typedef int32_t can_find_node_fn(uint8_t node, uint8_t* status);
/** The node's state; CAN_NODE_OPERATIONAL when it is operational. */
typedef int32_t can_get_node_state_fn(uint8_t node, uint8_t* state);
/** Reads `byte_count` bytes of an object into `data`; CAN_OK means the transfer was attempted,
 * its outcome is in `result`. */
typedef int32_t can_sdo_read_fn(uint8_t node, uint16_t index, uint8_t sub_index, uint8_t* data,
                                uint32_t byte_count, can_transfer_result_t* result);
/** Writes `byte_count` bytes of `data` to an object; CAN_OK means the transfer was attempted,
 * its outcome is in `result`. */
typedef int32_t can_sdo_write_fn(uint8_t node, uint16_t index, uint8_t sub_index,
                                 const uint8_t* data, uint32_t byte_count,
                                 can_transfer_result_t* result);
/** Asks for the PDOs the descriptor names. */
typedef int32_t can_register_pdo_fn(const can_pdo_descriptor_t* descriptor);
/** Registers the PDO and emergency callbacks; both null: unregister. */
typedef int32_t can_register_events_fn(can_pdo_callback_t on_pdo, can_emcy_callback_t on_emcy);
/** Takes one waiting PDO. CAN_OK: one waiting PDO was taken; CAN_ERR_NO_PDO: none was waiting. */
typedef int32_t can_get_pdo_fn(can_pdo_record_t* record);
/** Forgets every PDO asked for. */
typedef int32_t can_unregister_pdos_fn(void);
