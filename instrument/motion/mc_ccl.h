/// @file
/// Operations on the amplifier of an axis under external closed loop: a
/// drive on the CAN network that closes the position loop on its own
/// encoder while the motion controller commands the moves.
///
/// Every operation takes the controller record and an axis number and
/// returns an error code: ERR_MC_INVALID_AXIS for an axis number out of
/// range or a letter without an amplifier, ERR_INTERNAL_FB (logged) for an
/// axis without external closed loop, or the SDO transfer's error.
#pragma once

#include <cstdint>

#include "instrument/motion/mc_ctrl.h"

struct sysInfo_t;

/// The fault bit of an amplifier's status word (object 0x6041).
inline constexpr uint32_t MC_CCL_STATUS_FAULT = 0x0008;
/// The fault bit of an amplifier's manufacturer status (object 0x1002).
inline constexpr uint32_t MC_CCL_MANUFACTURER_FAULT = 0x80000;
/// True when either status shows the amplifier faulted.
constexpr bool mc_ccl_faulted(uint32_t status, uint32_t manufacturer) {
  return (status & MC_CCL_STATUS_FAULT) != 0 || (manufacturer & MC_CCL_MANUFACTURER_FAULT) != 0;
}

/// Sets the axis's amplifier up at start-up: resets the position instrument if
/// it needs it (ERR_MC_CAN_CLOSED_LOOP_DMI_INIT when that does not help),
/// resets a faulted amplifier (ERR_MC_CAN_CLOSED_LOOP_AMP_INIT when the fault
/// stays), then closes the loop.
int mc_ccl_init(mc_ctrl_t& c, int axis);
/// 0 when the amplifier is free of faults, ERR_MC_CAN_AMPLIFIER_FAULT when
/// it is not; with `reset` a faulted amplifier is reset first.
int mc_ccl_amplifier_ready(mc_ctrl_t& c, int axis, int reset);
/// Resets a faulted amplifier (a rising fault-reset bit) and zeroes its
/// position.
int mc_ccl_reset_amplifier(mc_ctrl_t& c, int axis);
/// Switches the Z axis's closed loop of the record's controller.
/// ERR_INTERNAL_FB (logged) when the record, its controller or its Z axis has
/// no external closed loop.
int mc_ccl_set_z_closed_loop(sysInfo_t* info, int on);
/// Whether the closed loop is on; the switch sits on the Z axis's amplifier,
/// whatever the axis.
int mc_ccl_get_closed_loop(mc_ctrl_t& c, int axis, int* on);
/// Switches the closed loop on or off, on the Z axis's amplifier.
int mc_ccl_set_closed_loop(mc_ctrl_t& c, int axis, int on);
/// The amplifier's status word and its maker's status bits.
int mc_ccl_get_amplifier_status(mc_ctrl_t& c, int axis, uint32_t* status, uint32_t* manufacturer);
/// Whether the amplifier holds a found home: 1 when it was marked so and the
/// position instrument does not ask for a home.
int mc_ccl_get_home_ok(mc_ctrl_t& c, int axis, int* ok);
/// Marks whether the amplifier holds a found home; marking it so clears the
/// position instrument's home request.
int mc_ccl_set_home_ok(mc_ctrl_t& c, int axis, int ok);
/// Whether the axis has settled in position (1) or not yet (0). The first
/// call starts the settling time; once it has passed, the following error is
/// checked against the position window (ERR_MC_CAN_CLOSED_LOOP_TIMEOUT
/// outside it).
int mc_ccl_in_position(mc_ctrl_t& c, int axis, int* in_position);
