/// @file
/// Frames from the camera through the bound acquisition library: selecting a
/// camera mode, grabbing frames into an intensity matrix, a live mode that
/// keeps the newest frame, and the correction of the camera's bad pixels.
///
/// Every wait for a frame goes through u_poll_pause, so the abort hook ends
/// it (ERR_FELBRIN_ABORTED) and tests run long timeouts on the virtual clock.
/// Every failure is one log line naming the call, after the library's own
/// error line, and an error code.
#pragma once

#include <cstdint>

#include "data/containers.h"
#include "data/records.h"

struct sysInfo_t;

/// How long a grab waits for one frame by default, in milliseconds.
inline constexpr int ACQ_GRAB_TIMEOUT_MS = 2000;

/// Selects mode `mode_index` (an index into s->acq.modes) of the primary
/// camera on the first acquisition device, after discovery, and takes its
/// settings into the record: the current mode, the frame size and grab
/// rate, and the wave monitor's camera frame rate unless the host set that
/// one itself. Errors: ERR_INVALID_PARAM (null record), ERR_ACQ_INIT_DEV (no
/// library bound), ERR_ACQ_INVALID_MODE (no such mode), or the library's
/// error when it refuses a selection.
int acq_select_mode(sysInfo_t* s, int mode_index);

/// Grabs `frames` frames of the current mode (the first when none was
/// selected) into `out`: one bucket per frame, window (0, 0, width, height),
/// 8-bit pixels widened to 16. A matrix that holds frames of this size and
/// number already is filled again in place (a host grabbing round after
/// round keeps its buffer); any other is released first. On failure `out`
/// is left empty. Each frame is waited for at most `timeout_ms`.
/// Errors: ERR_INVALID_PARAM, ERR_ACQ_INIT_DEV, ERR_ACQ_INVALID_MODE (a mode
/// without a frame size, or of more than 2 bytes a pixel),
/// ERR_ACQ_DEVICE_BUSY (the live mode runs), ERR_NO_MEM, ERR_FELBRIN_ABORTED,
/// ERR_ACQ_TIMEOUT, or the library's error (a frame of another size than the
/// mode's is refused by the library: never a short copy).
int acq_grab(sysInfo_t* s, int frames, mx_bkt16_t* out, int timeout_ms = ACQ_GRAB_TIMEOUT_MS);

/// Starts the live mode on the current mode: a thread reads frames without
/// end and keeps the newest, under the library's frame-copy guard, and the
/// record's live flag and live frame size are set (the stop clears the
/// flag; the record must outlive the live mode). One live mode at a time. Errors as acq_grab's
/// set-up, ERR_ACQ_DEVICE_BUSY when it runs already, ERR_INTERNAL_FB when the thread cannot be
/// started.
int acq_live_start(sysInfo_t* s);
/// Copies the newest live frame (width x height pixels, widened to 16 bits)
/// into `pixels`, which holds `count` of them; `serial` (may be null) gets
/// its number, counted from 1. Errors: ERR_INVALID_PARAM (no buffer, or one
/// of another size than the frame), ERR_ACQ_DEVICE_CLOSE (no live mode),
/// ERR_ACQ_TIMEOUT (no frame yet), or the error that ended the live mode.
int acq_live_copy(uint16_t* pixels, int64_t count, uint64_t* serial);
/// Stops the live mode and waits for its thread: 0, or the error that ended
/// it. Does nothing without one.
int acq_live_stop();

/// Replaces each listed pixel of a frame by the mean of its neighbours (the
/// eight around it) that lie in the frame and are not listed themselves; a
/// pixel without any keeps its value. Points outside the frame are
/// ignored. Returns how many pixels changed, or -1 for a null argument.
int cam_bad_correct_frame(uint16_t* frame, int32_t width, int32_t height, const mx_xyv_list_t* bad);
/// Corrects every frame of `frames` with the record's bad-pixel table entry
/// for the current set-up (grab mode, sub-sampling, frame size and grab
/// rate). Errors: ERR_INVALID_PARAM (null argument or no frames),
/// ERR_CB_FILE_INVALID when the record has no table or no entry of it fits
/// the set-up and the frames' size.
int cam_bad_correct(const sysInfo_t* s, mx_bkt16_t* frames);
