/// @file
/// Power-on and power-off of CAN instruments: find the Ethernet-to-CAN
/// bridge by its MAC address, connect, configure it, clear its errors, bring
/// up the nodes the instrument's family needs, then run the rest of the
/// power-on (ramps, wave monitor, scanner, power check, turret and zoom,
/// event registration, sleep mode).
///
/// Every step that belongs to another subsystem (ramps, the wave monitor,
/// automatic gain control, sleep mode, light control, diffuser disks, the
/// camera bad-pixel table, the failure clean-up…) goes through
/// CanInstServices, the one table a host or test replaces: the power-on calls
/// no other subsystem directly. Each default calls the library's own step,
/// or does nothing and returns 0 where the library has none.
///
/// Every pause goes through u_poll_pause, so the abort hook can end a
/// power-on (ERR_FELBRIN_ABORTED) and tests run on the virtual clock; every
/// elapsed time is taken from u_ticks_ms. One power-on or power-off at a
/// time per process.
#pragma once

#include <cstdint>

#include "instrument/serial/device_table.h"

struct sysInfo_t;

/// The steps of other subsystems, each taking the record and returning an
/// error code.
struct CanInstServices {
  /// Sets automatic gain control up; by default can_agc_init.
  int (*agc_init)(sysInfo_t* s);
  /// Holds automatic gain control for the power-on; by default can_agc_suspend(s, 1).
  int (*agc_hold)(sysInfo_t* s);
  /// Releases the hold; by default can_agc_suspend(s, 0).
  int (*agc_release)(sysInfo_t* s);
  /// Stops automatic gain control and closes its event; by default can_agc_release.
  int (*agc_stop)(sysInfo_t* s);
  /// Loads the ramp table (ERR_NO_RAMP_INFO when there is none).
  int (*load_ramps)(sysInfo_t* s);
  /// The offset to write to the PIFOC: the first ramp of kind 'b', else of kind 'u'
  /// (ERR_NO_RAMP_INFO without one).
  int (*pifoc_offset)(sysInfo_t* s, uint32_t* offset);
  /// Opens the wave monitor.
  int (*wave_monitor_setup)(sysInfo_t* s);
  /// Reads the wave monitor's calibration and ramp information.
  int (*wave_monitor_calibrate)(sysInfo_t* s);
  /// Loads the camera's bad-pixel table.
  int (*bad_pixel_table)(sysInfo_t* s);
  /// 1 when the instrument has the scanner kind whose mode is 2.
  int (*other_scanner)(sysInfo_t* s);
  /// Brings the light source up to date at the end of the power-on.
  int (*light_source_update)(sysInfo_t* s);
  /// Sets the light control's mode.
  int (*light_control_mode)(sysInfo_t* s, int mode);
  /// The zoom diffuser disk's target velocity worked out from the record; without this entry
  /// the node keeps its own.
  int (*zoom_dd_velocity)(sysInfo_t* s, double* velocity);
  /// Stops the diffuser disks (power-off, or a failed power-on).
  int (*diffuser_disks_stop)(sysInfo_t* s);
  /// Switches the auxiliary motor off.
  int (*aux_motor_off)(sysInfo_t* s);
  /// Cleans up after a failed power-on.
  int (*failure_cleanup)(sysInfo_t* s);
  /// Sets the encoded zoom's backlash.
  int (*enc_zoom_backlash)(sysInfo_t* s);
  /// Starts sleep mode at the end of the power-on; by default sleep_mode_start on
  /// instruments that sleep.
  int (*sleep_mode_start)(sysInfo_t* s);
  /// Stops sleep mode at power-off; by default sleep_mode_stop.
  int (*sleep_mode_stop)(sysInfo_t* s);
};

/// The table in use, copied. A null entry stands for "nothing to do".
CanInstServices can_inst_services();
/// Replaces the table in use and returns the one replaced.
CanInstServices can_set_inst_services(const CanInstServices& services);
/// The defaults.
CanInstServices can_default_inst_services();

/// The handle under which a powered-on CAN instrument sits in the device
/// table (type DEV_TYPE_CAN, owner its record).
inline constexpr dev_handle_t CAN_DEVICE_HANDLE = 0x43414E;

/// Creates the record's bridge record when it has none: 0, ERR_NO_MEM, or
/// ERR_SYS_INFO_NOT_AVAIL for a null record.
int can_create_bridge_record(sysInfo_t* s);

/// Powers the instrument on: 0 or the error of the step that failed, after
/// the failure clean-up; ERR_SYS_INFO_NOT_AVAIL for a null record.
int can_inst_on(sysInfo_t* s);
/// Powers it off: every step runs; 0 or the configuration-word read error.
/// Frees the bridge record. ERR_SYS_INFO_NOT_AVAIL for a null record,
/// ERR_WRONG_INSTR_BOARD for another board.
int can_inst_off(sysInfo_t* s);

/// Moves the ring/spot selector to position 0 or 1; with `wait` waits for
/// the move (ERR_RS_TIMEOUT when it does not end). ERR_INVALID_PARAM for
/// another position; 0 without a CAN board or ring/spot selector.
int can_set_rs_position(sysInfo_t* s, int position, int wait);

/// Checks the bridge's power supplies, then the status of the given PZT node
/// (CAN_NODE_ID_TRIPLEPZT or CAN_NODE_ID_LARGEAP) when a PZT node is
/// present: 0 or ERR_INST_POWER with the fault logged. A PZT node without
/// a status byte is not checked.
int can_power_check(sysInfo_t* s, uint8_t pzt_node);
