/* The control functions of the stand-in acquisition library and display
 * module, in C, with their own prefix, outside the acquisition table
 * (instrument/acquisition/fx_acq_abi.h): tests look them up by name. A host
 * that calls none of them gets the scenario file InitDeviceMgr names and
 * the trace FXSIM_TRACE names (sim/acquisition/scenario.h, call_trace.h).
 * Every function may be called from any thread. */
#ifndef FELBRIN_FXSIM_H
#define FELBRIN_FXSIM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the state after loading: no scenario, nothing open, last error 0,
 * no calls counted; FXSIM_TRACE is read again. */
void fxsim_reset(void);
/* What GetLastAcqError answers next. */
void fxsim_set_last_error(int32_t number);
/* Calls of the table since loading or the last reset. */
int32_t fxsim_call_count(void);
/* Frames ReadDevice served since the last AcquireStart, failed ones too. */
int32_t fxsim_frames_served(void);
/* The text AcqDeviceSet last gave "CFG FILE PATH", copied, cut and
 * terminated, into `out`; returns its full length. */
int32_t fxsim_cfg_file_path(char* out, int32_t size);

/* The display module: calls of its five functions since loading. */
int32_t fxsim_ld_call_count(void);

#ifdef __cplusplus
}
#endif

#endif
