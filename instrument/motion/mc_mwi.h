/** @file
 * The function table of the motion wrapper library ("MotionWrapperInterface"),
 * in C: the binding (mc_fhx.cpp) takes its pointer types from these
 * declarations, and the stand-in library (sim/motion_wrapper/) defines them,
 * so the two cannot drift apart.
 *
 * Every function answers a wrapper result code (0 success) and hands its
 * results back through out-arguments. All take the communication handle
 * first, except the open (which makes it) and the interface's init and
 * close (which run without one). Axes are numbered 0..7; positions, moves,
 * velocities and accelerations are in controller counts.
 *
 * The library may call the CAN callbacks on threads of its own, from the
 * RegisterCanEvents_MWI call until UnregisterCanEvents_MWI returns. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** The communication handle OpenComm_MWI makes. */
typedef intptr_t mwi_handle_t;

/** A PDO: COB-ID, a 32-bit value, 8 data bytes. */
typedef void (*mwi_pdo_callback_t)(uint32_t cob_id, uint32_t value, const uint8_t* data);
/** An emergency: three values, one byte, 5 data bytes, one byte. */
typedef void (*mwi_emcy_callback_t)(uint32_t value1, uint32_t value2, uint32_t value3,
                                    uint8_t value4, const uint8_t* five, uint8_t value6);

/* ---- required */
/** Whether an emergency stop has happened. */
int CheckForEStopEvent_MWI(mwi_handle_t h, int32_t* estop);
/** Closes the communication handle. */
int CloseComm_MWI(mwi_handle_t h);
/** Ends the interface; no handle. */
int CloseMotionWrapperInterface_MWI(void);
/** Disables one axis's joystick. */
int DisableAxisJoystick_MWI(mwi_handle_t h, int32_t axis);
/** Disables the joystick of every axis. */
int DisableJoystick_MWI(mwi_handle_t h);
/** Switches position reports off. */
int DisablePositionReports_MWI(mwi_handle_t h);
/** Enables one axis's joystick. */
int EnableAxisJoystick_MWI(mwi_handle_t h, int32_t axis);
/** Enables the joystick of every axis. */
int EnableJoystick_MWI(mwi_handle_t h);
/** Switches position reports on. */
int EnablePositionReports_MWI(mwi_handle_t h);
/** Starts the axis's home search. */
int FindHome_MWI(mwi_handle_t h, int32_t axis);
/** The axis's acceleration. */
int GetAcceleration_MWI(mwi_handle_t h, int32_t axis, int32_t* accel);
/** The axis's error value. */
int GetAxisError_MWI(mwi_handle_t h, int32_t axis, int32_t* error);
/** The axis's status value. */
int GetAxisStatus_MWI(mwi_handle_t h, int32_t axis, int32_t* status);
/** The controller's own error value. */
int GetError_MWI(mwi_handle_t h, int32_t* error);
/** The text of the last failure, cut to `size` bytes with its terminator. */
int GetErrorString_MWI(mwi_handle_t h, char* text, int32_t size);
/** One event: its kind (the axis layer's MC_EVENT_*) and a value. */
int GetEvent_MWI(mwi_handle_t h, int32_t* kind, int32_t* value);
/** Whether the axis is homed. */
int GetHomeState_MWI(mwi_handle_t h, int32_t axis, int32_t* homed);
/** The axis's home type. */
int GetHomeType_MWI(mwi_handle_t h, int32_t axis, int32_t* type);
/** Whether the axis's joystick is enabled. */
int GetIsJoystickEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t* enabled);
/** The axis's letter; 267 for an axis that is not there. */
int GetLabel_MWI(mwi_handle_t h, int32_t axis, char* label);
/** The CAN node ID of the axis's drive. */
int GetNodeId_MWI(mwi_handle_t h, int32_t axis, int32_t* node);
/** Counts per user unit (inch, or degree for a rotary axis). */
int GetPitch_MWI(mwi_handle_t h, int32_t axis, double* pitch);
/** The controller's own status value. */
int GetStatus_MWI(mwi_handle_t h, int32_t* status);
/** The axis's travel maximum, in user units. */
int GetTravelMax_MWI(mwi_handle_t h, int32_t axis, double* value);
/** The axis's travel minimum, in user units. */
int GetTravelMin_MWI(mwi_handle_t h, int32_t axis, double* value);
/** The axis's travel zero (home position offset), in user units. */
int GetTravelZero_MWI(mwi_handle_t h, int32_t axis, double* value);
/** The axis's velocity. */
int GetVelocity_MWI(mwi_handle_t h, int32_t axis, int32_t* velocity);
/** Whether an event is waiting (GetEvent_MWI). */
int HasEvent_MWI(mwi_handle_t h, int32_t* has_event);
/** Starts the interface; no handle. */
int InitMotionWrapperInterface_MWI(void);
/** Moves the axis by or to `counts`, as its move mode says. */
int Move_MWI(mwi_handle_t h, int32_t axis, int32_t counts);
/** The newest of the three forms the library has had; see the binding for
 * the two older ones, which lack the trailing options. `mac` is the CAN
 * bridge's 6-byte address, or null when the instrument has no bridge. */
int OpenComm_MWI(const char* config_path, const uint8_t* mac, mwi_handle_t* handle, uint8_t option8,
                 int32_t option32);
/** Sets the axis's acceleration. */
int SetAcceleration_MWI(mwi_handle_t h, int32_t axis, int32_t accel);
/** 0 relative, 1 absolute. */
int SetMoveMode_MWI(mwi_handle_t h, int32_t axis, int32_t mode);
/** Switches the axis's position reports on or off. */
int SetPositionReport_MWI(mwi_handle_t h, int32_t axis, int32_t on);
/** Sets the axis's velocity. */
int SetVelocity_MWI(mwi_handle_t h, int32_t axis, int32_t velocity);
/** Stops every axis. */
int Stop_MWI(mwi_handle_t h);
/** Stops one axis. */
int StopAxis_MWI(mwi_handle_t h, int32_t axis);

/* ---- positions: either the one, or both of the pair */
/** The axis's position. */
int GetPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts);
/** The axis's actual position (with GetCommandedPosition_MWI, instead of GetPosition_MWI). */
int GetActualPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts);
/** The axis's commanded position. */
int GetCommandedPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts);

/* ---- CAN event pass-through; the register answers non-zero when done */
/** Passes the CAN PDOs and emergencies to the callbacks, on the library's threads. */
int RegisterCanEvents_MWI(mwi_handle_t h, mwi_pdo_callback_t on_pdo, mwi_emcy_callback_t on_emcy);
/** Stops the CAN callbacks; none runs once it returns. */
int UnregisterCanEvents_MWI(mwi_handle_t h);

/* ---- external closed loop and position instrument */
/** Resets the axis's position instrument. */
int DmiReset_MWI(mwi_handle_t h, int32_t axis);
/** The number of values in the position instrument's capture buffer. */
int GetDmiCaptureBufferSize_MWI(mwi_handle_t h, int32_t axis, int32_t* count);
/** Copies up to `count` values of the position instrument's capture buffer. */
int GetDmiCaptureBuffer_MWI(mwi_handle_t h, int32_t axis, double* values, int32_t count);
/** The position instrument's position. */
int GetDmiPosition_MWI(mwi_handle_t h, int32_t axis, double* position);
/** The position instrument's preset. */
int GetDmiPreset_MWI(mwi_handle_t h, int32_t axis, double* preset);
/** The position instrument's status. */
int GetDmiStatus_MWI(mwi_handle_t h, int32_t axis, int32_t* status);
/** Whether the amplifier of the axis's external closed loop is faulted. */
int GetExternalClosedLoopAmplifierFault_MWI(mwi_handle_t h, int32_t axis, int32_t* fault);
/** Whether the axis's external closed loop is on. */
int GetExternalClosedLoopEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t* on);
/** Whether the position instrument's capture buffer is ready. */
int GetIsDmiBufferReady_MWI(mwi_handle_t h, int32_t axis, int32_t* ready);
/** Whether the axis supports an external closed loop. */
int GetSupportsExternalClosedLoop_MWI(mwi_handle_t h, int32_t axis, int32_t* yes);
/** Sets the position instrument's capture trigger. */
int SetDmiCaptureTrigger_MWI(mwi_handle_t h, int32_t axis, int32_t trigger);
/** Sets the position instrument's preset. */
int SetDmiPreset_MWI(mwi_handle_t h, int32_t axis, double preset);
/** Switches the axis's external closed loop on or off. */
int SetExternalClosedLoopEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t on);

/* ---- single optional functions */
/** Switches the align-view indicator on or off. */
int SetAlignViewIndicator_MWI(mwi_handle_t h, int32_t on);
/** The path of the configuration file in use, cut to `size` bytes with its terminator. */
int GetConfigurationFile_MWI(mwi_handle_t h, char* path, int32_t size);

#ifdef __cplusplus
}
#endif
