/// @file
/// The camera acquisition library: loading and binding its function table,
/// starting its device manager, guarding the acquisition system against a
/// second process, discovering devices, cameras and camera modes into the
/// record's acquisition state, and reporting the library's errors.
///
/// The library is FxAcq.dll on Windows and libFxAcq.so on Linux, looked for
/// beside the running program first, configured by FxAcq.ini. Start-up and
/// release run on one thread; the function table is process-wide.
#pragma once

#include <mutex>
#include <string_view>

#include "instrument/acquisition/fx_acq_abi.h"

struct sysInfo_t;

/// The acquisition start-up of the system, on slot 0: reads the calibration
/// file (null: the default of `selector`), takes the acquisition-system lock
/// "TRELFXCAL" (waiting up to 500 ms for another process), opens the library
/// and discovers the devices, then selects the first device and camera.
/// Errors: the calibration reader's, ERR_ACQ_INIT_DEV (lock, library or no
/// devices), ERR_ACQ_INVALID_DEVICE; everything taken is released on failure.
int acq_mgrinit(int selector, const char* cal_file);

/// Loads and binds the library, sets the PULSAR* environment variables to the
/// configuration directory unless PULSARRES is set, lists the initialisation
/// file, starts the device manager and binds the display module named by
/// FxAcq.ini. A binding already made is released first.
/// Errors: ERR_ACQ_MISSING_DLL, ERR_ACQ_INVALID_DLL, ERR_ACQ_INIT_DEV.
int acq_mgropen(const char* ini_file);

/// Releases the library (and, with a record, the acquisition-system lock and
/// the record's acquisition flag). The display module stays loaded.
void acq_mgrclose(sysInfo_t* s);

/// The library's last error as an error code, logged; 0 for none or without
/// a bound library.
int acq_last_error();

// The discovery steps, in this order; each clears what it fills first.

/// Discovery step 1: the acquisition devices' IDs (clears what it fills first).
/// Errors: ERR_INVALID_PARAM (null record), ERR_ACQ_INIT_DEV (no library or no devices).
int acq_getdevices(sysInfo_t* s);
/// Discovery step 2: the input devices (cameras) of every acquisition device, after
/// acq_getdevices. Errors: ERR_INVALID_PARAM, ERR_ACQ_INIT_DEV, ERR_ACQ_INVALID_DEVICE.
int acq_getinputdev(sysInfo_t* s);
/// Discovery step 3: the input modes of the primary camera (at most ACQ_MAX_MODES),
/// after acq_getinputdev. Errors: ERR_INVALID_PARAM, ERR_ACQ_INIT_DEV,
/// ERR_ACQ_INVALID_DEVICE.
int acq_getinputmodes(sysInfo_t* s);

/// Binds the display-processing module that FxAcq.ini names; without it, live
/// display settings cannot be controlled (logged, not an error).
void fx_ld_init();

namespace felbrin::acq {

/// The bound function table, or null.
const fx_acq_table_t* table();
/// The display module's table, or null when it is not bound.
const fx_ld_table_t* display_table();
/// Held by frame copies; exists while the library is open.
std::mutex* frame_copy_guard();

/// Test seam: the library file (a bare name is looked for beside the program
/// first; "" restores the default).
void set_library(std::string_view name_or_path);
/// Test seam: a table to use without loading a library (null: none). The table
/// is kept, not copied; the caller keeps it alive while it is installed.
void install_table(const fx_acq_table_t* table);

}  // namespace felbrin::acq
