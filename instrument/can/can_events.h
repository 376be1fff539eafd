/// @file
/// The CAN event queues: what the nodes report on their own (key presses,
/// motor and wheel states, faults) arrives through the bridge library's
/// callbacks, or the motion wrapper library's, on their threads. The
/// callbacks only queue the raw records; a drain on the caller's thread
/// decodes the PDOs, by instrument family, into numbered node events and
/// turns the emergencies into CAN events, which the client takes one by one.
///
/// Queues and locks live for the whole process and are never torn down: a
/// callback, a client or the sleep-mode thread may use them at any time,
/// before power-on and after power-off included. Records still queued at
/// power-off stay queued.
///
/// Lock order: the device-table lock, then the CAN event lock, then the PDO
/// lock or the emergency lock. The PDO and emergency locks are never held
/// together, and neither is held while a record is decoded or moved on.
/// Every producer and consumer of the CAN event and node event queues holds
/// the CAN event lock.
#pragma once

#include <cstdint>
#include <memory>

#include "common/event.h"
#include "instrument/can/can_abi.h"
#include "instrument/serial/device_table.h"

struct sysInfo_t;

/// An emergency as its source delivered it: two values, then 16 bytes.
struct can_emcy_record_t {
  uint32_t value1 = 0;    ///< the source's first value
  uint32_t value2 = 0;    ///< the source's second value
  uint8_t data[16] = {};  ///< the rest of what the source delivered, in order; zero after it
};

/// Kinds of CAN event: an emergency, the only kind.
inline constexpr int32_t CAN_EVENT_EMCY = 2;

/// One CAN event as the client takes it.
struct can_event_t {
  int32_t kind = 0;        ///< CAN_EVENT_EMCY
  can_emcy_record_t emcy;  ///< the emergency
};

/// @name Node event codes
///@{
inline constexpr int32_t CAN_NODE_EVENT_BRUSH_STOPPED = 3;  ///< the brush motor came to rest
inline constexpr int32_t CAN_NODE_EVENT_ZOOM = 4;           ///< the zoom position changed
inline constexpr int32_t CAN_NODE_EVENT_WAND_KEY1 = 5;      ///< wand key 1 pressed
inline constexpr int32_t CAN_NODE_EVENT_RING = 6;           ///< ring/spot selector at ring
inline constexpr int32_t CAN_NODE_EVENT_SPOT = 7;           ///< ring/spot selector at spot
inline constexpr int32_t CAN_NODE_EVENT_WAND_KEY2 = 8;      ///< wand key 2 pressed
inline constexpr int32_t CAN_NODE_EVENT_WAND_KEY3 = 9;      ///< wand key 3 pressed
inline constexpr int32_t CAN_NODE_EVENT_SLEEP = 10;         ///< idle, queued by sleep mode
inline constexpr int32_t CAN_NODE_EVENT_BRUSH_MOVING = 12;  ///< the brush motor is moving
inline constexpr int32_t CAN_NODE_EVENT_FOCUS = 13;         ///< a PDO from the focus node
inline constexpr int32_t CAN_NODE_EVENT_TURRET = 14;        ///< the turret position changed
///@}

/// An event code and the PDO that produced it (all zero when none did).
struct can_node_event_t {
  int32_t code = 0;        ///< one of the CAN_NODE_EVENT_ codes
  can_pdo_record_t pdo{};  ///< the PDO decoded
};

static_assert(sizeof(can_emcy_record_t) == 24);
static_assert(sizeof(can_event_t) == 28);
static_assert(sizeof(can_node_event_t) == 24);

// ---- set-up
/// Makes sure the locks exist; they are made once. Always 0.
int can_create_sync_objects();
/// On: the callbacks, then the PDOs the record's family needs. Off: no
/// callbacks, no PDOs. A library failure logs and gives its mapped error.
int can_register_events(sysInfo_t* record, bool on);
/// Asks the library to forget the PDOs; queues and locks stay.
void can_events_free_resources();
/// Makes the device table's CAN poll drain these queues; returns the hook
/// replaced.
dev_poll_fn can_events_install_poll();

// ---- the callbacks, for any foreign thread; nothing is thrown out of them
/// The bridge library's PDO callback: fetches the `waiting` PDOs and queues them; an overrun
/// is logged.
void can_receive_pdo(int32_t waiting, int32_t overrun, int32_t unused1, int32_t unused2);
/// The bridge library's emergency callback: queues the emergency, the block and `value3`
/// in its data.
void can_receive_emcy(uint32_t value1, uint32_t value2, const uint8_t* block, uint8_t value3);
/// The motion wrapper library's PDO callback: queues the PDO; `data` holds 8 bytes.
void can_mwi_receive_pdo(uint32_t cob_id, uint32_t value, const uint8_t* data);
/// The motion wrapper library's emergency callback: queues the emergency, `value3` to
/// `value6` in its data.
void can_mwi_receive_emcy(uint32_t value1, uint32_t value2, uint32_t value3, uint8_t value4,
                          const uint8_t* five, uint8_t value6);

// ---- the client's side
/// Drains the PDO and emergency queues into the event queues, decoding by
/// the record's family (null: no family, nothing decoded); the decoders keep
/// the last turret byte in the record (`can.lastTurret`). True when the CAN
/// event or node event queue then holds anything.
bool can_process_events(sysInfo_t* record);
/// Copies the front CAN event out and removes it; false when the queue is
/// empty.
bool can_take_can_event(can_event_t* event);
/// Copies the front node event out and removes it; false when the queue is
/// empty.
bool can_take_node_event(can_node_event_t* event);
/// Appends to the node event queue; false when it could not be queued.
bool can_node_event_append(const can_node_event_t& event);

// ---- "CAN_NDWHEEL_STOPPED": a manual-reset event that exists while
// someone holds it. The ND-wheel decoder sets it, when it exists, as the
// wheel comes to rest.
/// The ND wheel's stopped event, made unless someone holds it already; it exists while
/// someone holds the returned pointer. The ND-wheel decoder sets it as the wheel comes to
/// rest.
std::shared_ptr<felbrin::Event> can_ndwheel_stopped_create();
/// The ND wheel's stopped event; null when nobody holds it.
std::shared_ptr<felbrin::Event> can_ndwheel_stopped_open();

// ---- decoder state, shared with node access
/// The ND wheel's home state (status & 0x18).
uint8_t can_ndw_home_state();
/// Sets the ND wheel's home state.
void can_set_ndw_home_state(uint8_t state);
/// The ND wheel's moving state (status & 0x02).
uint8_t can_ndw_moving_state();
/// Sets the ND wheel's moving state.
void can_set_ndw_moving_state(uint8_t state);
/// True when the ND wheel was last seen moving.
bool can_ndw_was_moving();
/// Sets whether the ND wheel was last seen moving.
void can_set_ndw_was_moving(bool moving);
/// The brush motor's wait state: 0, 1 or 2.
int can_brush_wait_state();
/// Sets the brush motor's wait state.
void can_set_brush_wait_state(int state);
/// Last zoom position: 255: none yet.
inline constexpr int CAN_LAST_ZOOM_NONE = 255;
/// The last zoom position decoded, or CAN_LAST_ZOOM_NONE.
int can_last_zoom();
/// Sets the last zoom position.
void can_set_last_zoom(int zoom);
