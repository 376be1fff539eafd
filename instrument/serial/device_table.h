/// @file
/// The device table: devices that produce input on their own (the instrument
/// board, motion controllers, the CAN network) register here with a poll
/// function, and a caller waits for whichever of them has input first.
///
/// One worker thread, started by dev_init_cntrl, polls the registered devices
/// when a caller of dev_data_read asks it to. Callers of dev_data_read are
/// served one at a time; registration may happen on any thread at any time.
///
/// The table knows nothing of motion controller records or of the CAN event
/// queues: those layers register hooks here (dev_set_mc_hooks,
/// dev_set_can_poll_fn). Until they do, a motion controller cannot be
/// registered (ERR_MC_NOT_AVAIL) and a CAN device never has input.
#pragma once

#include <cstdint>

/// A device handle is pointer-sized; for serial devices it is the port
/// handle of the serial layer. All bits set is the invalid handle.
using dev_handle_t = std::intptr_t;
inline constexpr dev_handle_t DEV_INVALID_HANDLE = -1;  ///< the handle of no device

/// Called on the worker thread with the entry's handle and owner; non-zero
/// when the device has input.
using dev_poll_fn = int (*)(dev_handle_t handle, void* owner);

/// Number of entries of the table.
inline constexpr int DEV_MAX_DEVICES = 10;

// Device types (bits; these seven are the valid ones).
inline constexpr int DEV_TYPE_MC = 1;         ///< motion controller
inline constexpr int DEV_TYPE_UZ = 2;         ///< instrument board
inline constexpr int DEV_TYPE_SERIAL_1 = 4;   ///< other serial devices
inline constexpr int DEV_TYPE_SERIAL_2 = 8;   ///< other serial devices
inline constexpr int DEV_TYPE_SERIAL_3 = 16;  ///< other serial devices
inline constexpr int DEV_TYPE_CONSOLE = 32;   ///< console keyboard
inline constexpr int DEV_TYPE_CAN = 64;       ///< CAN network
/// The mask that selects every device type.
inline constexpr int DEV_MASK_ALL = 0xFFFF;
/// dev_data_read's result when no device had input.
inline constexpr int DEV_NO_INPUT = 0x10000;

/// One entry of the table, and the result record of dev_data_read.
struct dev_info_t {
  dev_handle_t handle = DEV_INVALID_HANDLE;  ///< the device; DEV_INVALID_HANDLE when free
  int32_t in_use = -1;                       ///< 1 used, -1 free
  int32_t dev_type = 0;                      ///< one type bit; 0 when free
  int32_t event_state = 0;                   ///< 1 polled, 0 skipped
  dev_poll_fn poll = nullptr;  ///< the poll for the device's type; null for the console
  void* owner = nullptr;       ///< the registering layer's record, given to the poll; not owned
};

// ---- hooks of the layers above

/// Motion controllers: how a controller record is connected, and the polls
/// of kinds 2 and 3. A kind without its poll hook never has input.
struct dev_mc_hooks_t {
  /// How the controller record is connected: 1 serial, 2 controller event,
  /// 3 motion wrapper library; anything else is refused.
  int (*connection_kind)(const void* owner) = nullptr;
  /// Tests the controller's event without waiting; when it is signalled,
  /// resets it and gives non-zero.
  dev_poll_fn event_signalled = nullptr;
  /// HasEvent_MWI of the motion wrapper library on the record's first field.
  dev_poll_fn has_event_mwi = nullptr;
};
/// Installs the motion controller hooks (copied); returns the hooks replaced.
dev_mc_hooks_t dev_set_mc_hooks(const dev_mc_hooks_t& hooks);
/// CAN network: the poll returns can_process_events(owner), which takes the
/// CAN event lock by itself, drains the PDO and emergency queues, and gives
/// non-zero when the CAN event or node event queue holds an event.
/// Called with the device-table lock held, so the CAN layer must never
/// register or remove a device while holding its event lock. Returns the
/// hook replaced; null unregisters.
dev_poll_fn dev_set_can_poll_fn(dev_poll_fn fn);

// ---- control

/// Sets the table up and starts the worker; once set up, a call without
/// `force` does nothing and one with it empties the table. 0 or ERR_DEV_CNTRL.
int dev_init_cntrl(uint8_t force);
/// Stops and joins the worker. The entries stay; dev_init_cntrl starts a new
/// worker.
void dev_close_cntrl();

// ---- registration

/// True for one of the seven device type bits.
bool dev_type_valid(int dev_type);
/// Registers a device in a free entry, polled from then on; `owner` is kept,
/// not owned. A handle may be registered twice; each removal frees one
/// entry. ERR_DEV_CNTRL (table not set up, invalid type, or full),
/// ERR_INVALID_PARAM (a motion controller without owner), ERR_MC_NOT_AVAIL
/// (a controller whose connection the hooks do not know); failures are logged.
int dev_add_device(int dev_type, dev_handle_t handle, void* owner);
/// Frees the first entry of `handle`. ERR_DEV_CNTRL (table not set up),
/// ERR_INVALID_PARAM, ERR_PARAM_OUT_OF_RANGE (not registered); logged.
int dev_remove_device(dev_handle_t handle);
/// True when an entry holds `handle`.
bool dev_is_registered(dev_handle_t handle);
/// Sets whether the device is polled (1) or skipped (0). ERR_DEV_CNTRL,
/// ERR_INVALID_PARAM, ERR_PARAM_OUT_OF_RANGE (not registered); logged.
int dev_set_event_state(dev_handle_t handle, int state);
/// A copy of entry `index` (0 to DEV_MAX_DEVICES-1); false for another index.
bool dev_get_entry(int index, dev_info_t* entry);

// ---- waiting for input

/// The type of the first device of `type_mask` (a type, or DEV_MASK_ALL)
/// found with input, its entry copied to `result`; DEV_NO_INPUT when none had
/// input in a single pass (`wait` clear); 0 on failure. With `wait` set, polls
/// until some device has input.
int dev_data_read(int type_mask, dev_info_t* result, uint8_t wait);
