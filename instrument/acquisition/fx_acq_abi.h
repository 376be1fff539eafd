/** @file
 * The acquisition library's function table: the 31 entries a camera
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

/** Entries of fx_acq_table_t. */
#define FX_ACQ_ENTRY_COUNT 31

/** Starts the device manager with the initialisation file `ini_name`. */
typedef int (*fx_InitDeviceMgr)(const char* ini_name);
/** Releases the library's resources; `record` is the system information record or null. */
typedef void (*fx_FreeDeviceResources)(void* record);
/** The number of acquisition devices. */
typedef int (*fx_GetNumAcqDevices)(void);
/** The first acquisition device's name; null when there is none. */
typedef const char* (*fx_GetFirstAcqDeviceName)(void);
/** The next acquisition device's name; null past the end. */
typedef const char* (*fx_GetNextAcqDeviceName)(void);
/** The ID of the acquisition device `name`; 0 when unknown. */
typedef int (*fx_GetAcqDeviceId)(const char* name);
/** Selects the acquisition device `id`. */
typedef int (*fx_SetCurrentAcqDevice)(int id);
/* Frame grabbing: OpenDevice and CloseDevice bracket it; AcquireStart starts
 * `frames` grabs (0: continuous) and AcquireStop ends them; ReadDevice copies
 * the next frame, `bytes` long (the current mode's width x height x bytes
 * per pixel), into buffer. */
/** Opens the current device for frame grabbing. */
typedef int (*fx_OpenDevice)(void);
/** Ends frame grabbing on the current device. */
typedef int (*fx_CloseDevice)(void);
/** Copies the next frame, `bytes` long, into `buffer`. */
typedef int (*fx_ReadDevice)(void* buffer, int bytes);
/** Starts `frames` grabs (0: continuous). */
typedef int (*fx_AcquireStart)(int frames);
/** Ends the grabs AcquireStart started. */
typedef int (*fx_AcquireStop)(void);
/** Queries the current acquisition device's `key` into *value. */
typedef int (*fx_AcqDeviceQuery)(const char* key, double* value);
/** Sets the current acquisition device's `key`. */
typedef int (*fx_AcqDeviceSet)(const char* key, const void* value);
/** The library's last error number (0: none). */
typedef int (*fx_GetLastAcqError)(void);
/** The number of input devices (cameras) of the current acquisition device. */
typedef int (*fx_GetNumInputDevices)(void);
/** The first input device's name; null when there is none. */
typedef const char* (*fx_GetFirstInputDeviceName)(void);
/** The next input device's name; null past the end. */
typedef const char* (*fx_GetNextInputDeviceName)(void);
/** The ID of the input device `name`; 0 when unknown. */
typedef int (*fx_GetInputDeviceId)(const char* name);
/** Selects the input device `id`. */
typedef int (*fx_SetCurrentInputDevice)(int id);
/** The ID of the current input device. */
typedef int (*fx_GetCurrentInputDevice)(void);
/** Queries the current input device's `key` into *value. */
typedef int (*fx_AcqInputDeviceQuery)(const char* key, double* value);
/** Sets the current input device's `key`. */
typedef int (*fx_AcqInputDeviceSet)(const char* key, const void* value);
/** The number of input modes of the current input device. */
typedef int (*fx_GetNumInputModes)(void);
/** The first input mode's name; null when there is none. */
typedef const char* (*fx_GetFirstInputModeName)(void);
/** The next input mode's name; null past the end. */
typedef const char* (*fx_GetNextInputModeName)(void);
/** The ID of the input mode `name`; 0 when unknown. */
typedef int (*fx_GetInputModeId)(const char* name);
/** Selects the input mode `id`. */
typedef int (*fx_SetCurrentInputMode)(int id);
/** The ID of the current input mode. */
typedef int (*fx_GetCurrentInputMode)(void);
/** Queries the current input mode's `key` into *value. */
typedef int (*fx_AcqInputModeQuery)(const char* key, double* value);
/** Sets the current input mode's `key`. */
typedef int (*fx_AcqInputModeSet)(const char* key, const void* value);

/** The table in the order the binding resolves it. */
typedef struct fx_acq_table_t {
  fx_InitDeviceMgr InitDeviceMgr;                     /**< see fx_InitDeviceMgr */
  fx_FreeDeviceResources FreeDeviceResources;         /**< see fx_FreeDeviceResources */
  fx_GetNumAcqDevices GetNumAcqDevices;               /**< see fx_GetNumAcqDevices */
  fx_GetFirstAcqDeviceName GetFirstAcqDeviceName;     /**< see fx_GetFirstAcqDeviceName */
  fx_GetNextAcqDeviceName GetNextAcqDeviceName;       /**< see fx_GetNextAcqDeviceName */
  fx_GetAcqDeviceId GetAcqDeviceId;                   /**< see fx_GetAcqDeviceId */
  fx_SetCurrentAcqDevice SetCurrentAcqDevice;         /**< see fx_SetCurrentAcqDevice */
  fx_OpenDevice OpenDevice;                           /**< see fx_OpenDevice */
  fx_CloseDevice CloseDevice;                         /**< see fx_CloseDevice */
  fx_ReadDevice ReadDevice;                           /**< see fx_ReadDevice */
  fx_AcquireStart AcquireStart;                       /**< see fx_AcquireStart */
  fx_AcquireStop AcquireStop;                         /**< see fx_AcquireStop */
  fx_AcqDeviceQuery AcqDeviceQuery;                   /**< see fx_AcqDeviceQuery */
  fx_AcqDeviceSet AcqDeviceSet;                       /**< see fx_AcqDeviceSet */
  fx_GetLastAcqError GetLastAcqError;                 /**< see fx_GetLastAcqError */
  fx_GetNumInputDevices GetNumInputDevices;           /**< see fx_GetNumInputDevices */
  fx_GetFirstInputDeviceName GetFirstInputDeviceName; /**< see fx_GetFirstInputDeviceName */
  fx_GetNextInputDeviceName GetNextInputDeviceName;   /**< see fx_GetNextInputDeviceName */
  fx_GetInputDeviceId GetInputDeviceId;               /**< see fx_GetInputDeviceId */
  fx_SetCurrentInputDevice SetCurrentInputDevice;     /**< see fx_SetCurrentInputDevice */
  fx_GetCurrentInputDevice GetCurrentInputDevice;     /**< see fx_GetCurrentInputDevice */
  fx_AcqInputDeviceQuery AcqInputDeviceQuery;         /**< see fx_AcqInputDeviceQuery */
  fx_AcqInputDeviceSet AcqInputDeviceSet;             /**< see fx_AcqInputDeviceSet */
  fx_GetNumInputModes GetNumInputModes;               /**< see fx_GetNumInputModes */
  fx_GetFirstInputModeName GetFirstInputModeName;     /**< see fx_GetFirstInputModeName */
  fx_GetNextInputModeName GetNextInputModeName;       /**< see fx_GetNextInputModeName */
  fx_GetInputModeId GetInputModeId;                   /**< see fx_GetInputModeId */
  fx_SetCurrentInputMode SetCurrentInputMode;         /**< see fx_SetCurrentInputMode */
  fx_GetCurrentInputMode GetCurrentInputMode;         /**< see fx_GetCurrentInputMode */
  fx_AcqInputModeQuery AcqInputModeQuery;             /**< see fx_AcqInputModeQuery */
  fx_AcqInputModeSet AcqInputModeSet;                 /**< see fx_AcqInputModeSet */
} fx_acq_table_t;

/* The display-processing module's entries; non-zero on success. */
/** Entries of fx_ld_table_t. */
#define FX_LD_ENTRY_COUNT 5
/** Sets the display processing's minimum area, pixels. */
typedef int (*fx_SetLDMinArea)(int pixels);
/** Sets the display processing's scale. */
typedef int (*fx_SetLDTrelScale)(double scale);
/** Sets the display processing's phase resolution. */
typedef int (*fx_SetLDPhaseRes)(int resolution);
/** Sets the display processing's number of fringes. */
typedef int (*fx_SetLDNFringes)(int fringes);
/** Runs a display-processing command. */
typedef int (*fx_RunLDCommand)(const char* command);

/** The display-processing module's table, in the order the binding resolves it. */
typedef struct fx_ld_table_t {
  fx_SetLDMinArea SetLDMinArea;     /**< see fx_SetLDMinArea */
  fx_SetLDTrelScale SetLDTrelScale; /**< see fx_SetLDTrelScale */
  fx_SetLDPhaseRes SetLDPhaseRes;   /**< see fx_SetLDPhaseRes */
  fx_SetLDNFringes SetLDNFringes;   /**< see fx_SetLDNFringes */
  fx_RunLDCommand RunLDCommand;     /**< see fx_RunLDCommand */
} fx_ld_table_t;

#ifdef __cplusplus
}
#endif

#endif
