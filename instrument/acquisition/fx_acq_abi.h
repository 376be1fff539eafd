/* The acquisition library's function table: the 31 entries a camera
 * acquisition library exports, resolved by name at run time, and the five
 * entries of a frame grabber's display-processing module. Plain C, shared by
 * the library's binding and by the stand-in library in sim/acquisition.
 *
 * Conventions: names are zero-terminated texts, or null past the end of a
 * list; IDs and counts are int, an ID of 0 meaning none; calls that act
 * return non-zero on success and 0 on failure, with the library's error
 * number then in GetLastAcqError (0: none). Queries return non-zero when the
 * key has a value and write it to *value. AcqDeviceSet, AcqInputDeviceSet
 * and AcqInputModeSet take a text for "CFG FILE PATH" and a double*
 * otherwise. */
#ifndef FELBRIN_FX_ACQ_ABI_H
#define FELBRIN_FX_ACQ_ABI_H

#ifdef __cplusplus
extern "C" {
#endif

#define FX_ACQ_ENTRY_COUNT 31

typedef int (*fx_InitDeviceMgr)(const char* ini_name);
typedef void (*fx_FreeDeviceResources)(void* record);
typedef int (*fx_GetNumAcqDevices)(void);
typedef const char* (*fx_GetFirstAcqDeviceName)(void);
typedef const char* (*fx_GetNextAcqDeviceName)(void);
typedef int (*fx_GetAcqDeviceId)(const char* name);
typedef int (*fx_SetCurrentAcqDevice)(int id);
/* Frame grabbing: OpenDevice and CloseDevice bracket it; AcquireStart starts
 * `frames` grabs (0: continuous) and AcquireStop ends them; ReadDevice copies
 * the next frame, `bytes` long (the current mode's width x height x bytes
 * per pixel), into buffer. */
typedef int (*fx_OpenDevice)(void);
typedef int (*fx_CloseDevice)(void);
typedef int (*fx_ReadDevice)(void* buffer, int bytes);
typedef int (*fx_AcquireStart)(int frames);
typedef int (*fx_AcquireStop)(void);
typedef int (*fx_AcqDeviceQuery)(const char* key, double* value);
typedef int (*fx_AcqDeviceSet)(const char* key, const void* value);
typedef int (*fx_GetLastAcqError)(void);
typedef int (*fx_GetNumInputDevices)(void);
typedef const char* (*fx_GetFirstInputDeviceName)(void);
typedef const char* (*fx_GetNextInputDeviceName)(void);
typedef int (*fx_GetInputDeviceId)(const char* name);
typedef int (*fx_SetCurrentInputDevice)(int id);
typedef int (*fx_GetCurrentInputDevice)(void);
typedef int (*fx_AcqInputDeviceQuery)(const char* key, double* value);
typedef int (*fx_AcqInputDeviceSet)(const char* key, const void* value);
typedef int (*fx_GetNumInputModes)(void);
typedef const char* (*fx_GetFirstInputModeName)(void);
typedef const char* (*fx_GetNextInputModeName)(void);
typedef int (*fx_GetInputModeId)(const char* name);
typedef int (*fx_SetCurrentInputMode)(int id);
typedef int (*fx_GetCurrentInputMode)(void);
typedef int (*fx_AcqInputModeQuery)(const char* key, double* value);
typedef int (*fx_AcqInputModeSet)(const char* key, const void* value);

/* The table in the order the binding resolves it. */
typedef struct fx_acq_table_t {
  fx_InitDeviceMgr InitDeviceMgr;
  fx_FreeDeviceResources FreeDeviceResources;
  fx_GetNumAcqDevices GetNumAcqDevices;
  fx_GetFirstAcqDeviceName GetFirstAcqDeviceName;
  fx_GetNextAcqDeviceName GetNextAcqDeviceName;
  fx_GetAcqDeviceId GetAcqDeviceId;
  fx_SetCurrentAcqDevice SetCurrentAcqDevice;
  fx_OpenDevice OpenDevice;
  fx_CloseDevice CloseDevice;
  fx_ReadDevice ReadDevice;
  fx_AcquireStart AcquireStart;
  fx_AcquireStop AcquireStop;
  fx_AcqDeviceQuery AcqDeviceQuery;
  fx_AcqDeviceSet AcqDeviceSet;
  fx_GetLastAcqError GetLastAcqError;
  fx_GetNumInputDevices GetNumInputDevices;
  fx_GetFirstInputDeviceName GetFirstInputDeviceName;
  fx_GetNextInputDeviceName GetNextInputDeviceName;
  fx_GetInputDeviceId GetInputDeviceId;
  fx_SetCurrentInputDevice SetCurrentInputDevice;
  fx_GetCurrentInputDevice GetCurrentInputDevice;
  fx_AcqInputDeviceQuery AcqInputDeviceQuery;
  fx_AcqInputDeviceSet AcqInputDeviceSet;
  fx_GetNumInputModes GetNumInputModes;
  fx_GetFirstInputModeName GetFirstInputModeName;
  fx_GetNextInputModeName GetNextInputModeName;
  fx_GetInputModeId GetInputModeId;
  fx_SetCurrentInputMode SetCurrentInputMode;
  fx_GetCurrentInputMode GetCurrentInputMode;
  fx_AcqInputModeQuery AcqInputModeQuery;
  fx_AcqInputModeSet AcqInputModeSet;
} fx_acq_table_t;

/* The display-processing module's entries; non-zero on success. */
#define FX_LD_ENTRY_COUNT 5
typedef int (*fx_SetLDMinArea)(int pixels);
typedef int (*fx_SetLDTrelScale)(double scale);
typedef int (*fx_SetLDPhaseRes)(int resolution);
typedef int (*fx_SetLDNFringes)(int fringes);
typedef int (*fx_RunLDCommand)(const char* command);

typedef struct fx_ld_table_t {
  fx_SetLDMinArea SetLDMinArea;
  fx_SetLDTrelScale SetLDTrelScale;
  fx_SetLDPhaseRes SetLDPhaseRes;
  fx_SetLDNFringes SetLDNFringes;
  fx_RunLDCommand RunLDCommand;
} fx_ld_table_t;

#ifdef __cplusplus
}
#endif

#endif
