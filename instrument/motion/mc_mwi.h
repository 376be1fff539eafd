/* The function table of the motion wrapper library ("MotionWrapperInterface"),
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

typedef intptr_t mwi_handle_t;

/* A PDO: COB-ID, a 32-bit value, 8 data bytes. */
typedef void (*mwi_pdo_callback_t)(uint32_t cob_id, uint32_t value, const uint8_t* data);
/* An emergency: three values, one byte, 5 data bytes, one byte. */
typedef void (*mwi_emcy_callback_t)(uint32_t value1, uint32_t value2, uint32_t value3,
                                    uint8_t value4, const uint8_t* five, uint8_t value6);

/* ---- required */
int CheckForEStopEvent_MWI(mwi_handle_t h, int32_t* estop);
int CloseComm_MWI(mwi_handle_t h);
int CloseMotionWrapperInterface_MWI(void);
int DisableAxisJoystick_MWI(mwi_handle_t h, int32_t axis);
int DisableJoystick_MWI(mwi_handle_t h);
int DisablePositionReports_MWI(mwi_handle_t h);
int EnableAxisJoystick_MWI(mwi_handle_t h, int32_t axis);
int EnableJoystick_MWI(mwi_handle_t h);
int EnablePositionReports_MWI(mwi_handle_t h);
int FindHome_MWI(mwi_handle_t h, int32_t axis);
int GetAcceleration_MWI(mwi_handle_t h, int32_t axis, int32_t* accel);
int GetAxisError_MWI(mwi_handle_t h, int32_t axis, int32_t* error);
int GetAxisStatus_MWI(mwi_handle_t h, int32_t axis, int32_t* status);
int GetError_MWI(mwi_handle_t h, int32_t* error);
/* The text of the last failure, cut to `size` bytes with its terminator. */
int GetErrorString_MWI(mwi_handle_t h, char* text, int32_t size);
/* One event: its kind (the axis layer's MC_EVENT_*) and a value. */
int GetEvent_MWI(mwi_handle_t h, int32_t* kind, int32_t* value);
int GetHomeState_MWI(mwi_handle_t h, int32_t axis, int32_t* homed);
int GetHomeType_MWI(mwi_handle_t h, int32_t axis, int32_t* type);
int GetIsJoystickEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t* enabled);
/* The axis's letter; 267 for an axis that is not there. */
int GetLabel_MWI(mwi_handle_t h, int32_t axis, char* label);
int GetNodeId_MWI(mwi_handle_t h, int32_t axis, int32_t* node);
/* Counts per user unit (inch, or degree for a rotary axis). */
int GetPitch_MWI(mwi_handle_t h, int32_t axis, double* pitch);
int GetStatus_MWI(mwi_handle_t h, int32_t* status);
int GetTravelMax_MWI(mwi_handle_t h, int32_t axis, double* value);
int GetTravelMin_MWI(mwi_handle_t h, int32_t axis, double* value);
int GetTravelZero_MWI(mwi_handle_t h, int32_t axis, double* value);
int GetVelocity_MWI(mwi_handle_t h, int32_t axis, int32_t* velocity);
int HasEvent_MWI(mwi_handle_t h, int32_t* has_event);
int InitMotionWrapperInterface_MWI(void);
int Move_MWI(mwi_handle_t h, int32_t axis, int32_t counts);
/* The newest of the three forms the library has had; see the binding for
 * the two older ones, which lack the trailing options. `mac` is the CAN
 * bridge's 6-byte address, or null when the instrument has no bridge. */
int OpenComm_MWI(const char* config_path, const uint8_t* mac, mwi_handle_t* handle,
                 uint8_t option8, int32_t option32);
int SetAcceleration_MWI(mwi_handle_t h, int32_t axis, int32_t accel);
/* 0 relative, 1 absolute. */
int SetMoveMode_MWI(mwi_handle_t h, int32_t axis, int32_t mode);
int SetPositionReport_MWI(mwi_handle_t h, int32_t axis, int32_t on);
int SetVelocity_MWI(mwi_handle_t h, int32_t axis, int32_t velocity);
int Stop_MWI(mwi_handle_t h);
int StopAxis_MWI(mwi_handle_t h, int32_t axis);

/* ---- positions: either the one, or both of the pair */
int GetPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts);
int GetActualPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts);
int GetCommandedPosition_MWI(mwi_handle_t h, int32_t axis, int32_t* counts);

/* ---- CAN event pass-through; the register answers non-zero when done */
int RegisterCanEvents_MWI(mwi_handle_t h, mwi_pdo_callback_t on_pdo, mwi_emcy_callback_t on_emcy);
int UnregisterCanEvents_MWI(mwi_handle_t h);

/* ---- external closed loop and position instrument */
int DmiReset_MWI(mwi_handle_t h, int32_t axis);
int GetDmiCaptureBufferSize_MWI(mwi_handle_t h, int32_t axis, int32_t* count);
int GetDmiCaptureBuffer_MWI(mwi_handle_t h, int32_t axis, double* values, int32_t count);
int GetDmiPosition_MWI(mwi_handle_t h, int32_t axis, double* position);
int GetDmiPreset_MWI(mwi_handle_t h, int32_t axis, double* preset);
int GetDmiStatus_MWI(mwi_handle_t h, int32_t axis, int32_t* status);
int GetExternalClosedLoopAmplifierFault_MWI(mwi_handle_t h, int32_t axis, int32_t* fault);
int GetExternalClosedLoopEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t* on);
int GetIsDmiBufferReady_MWI(mwi_handle_t h, int32_t axis, int32_t* ready);
int GetSupportsExternalClosedLoop_MWI(mwi_handle_t h, int32_t axis, int32_t* yes);
int SetDmiCaptureTrigger_MWI(mwi_handle_t h, int32_t axis, int32_t trigger);
int SetDmiPreset_MWI(mwi_handle_t h, int32_t axis, double preset);
int SetExternalClosedLoopEnabled_MWI(mwi_handle_t h, int32_t axis, int32_t on);

/* ---- single optional functions */
int SetAlignViewIndicator_MWI(mwi_handle_t h, int32_t on);
int GetConfigurationFile_MWI(mwi_handle_t h, char* path, int32_t size);

#ifdef __cplusplus
}
#endif
