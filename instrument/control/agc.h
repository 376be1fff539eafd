/// @file
/// The automatic gain control (AGC) of CAN instruments whose light goes
/// through the ND wheel: while the camera runs, a worker thread builds the
/// histogram of each frame, finds the level of its brightest 100 pixels and
/// moves the ND wheel's light level with a proportional and derivative
/// correction until that level lies within 1/32 of the light-level target.
///
/// At most one AGC thread runs. The module keeps the setting the running
/// thread was started with (active), the last setting asked for (requested,
/// kept through suspensions), a nesting count of suspensions and a lock flag.
/// Long operations suspend the thread and resume it; it runs again only once
/// every suspension has been resumed, with the setting it had. A stop clears
/// the requested setting, so a later resume does not restart it.
///
/// Every operation may be called from any thread; they take one module lock,
/// held for at most the 5 s a stop waits for the thread. The thread never
/// takes that lock. The thread reads the record's live-display flag, light
/// source, light-level target and grab rate each round through atomic loads:
/// a host that changes them while the thread runs stores them atomically
/// (std::atomic_ref) too.
#pragma once

#include <cstdint>

struct sysInfo_t;

/// True for a CAN board of system type 23, 25, 26, 30, 32 or 33 whose AGC
/// option is 1.
bool can_agc_applies(const sysInfo_t* s);

/// Creates the stop event once and clears the active and requested settings,
/// the suspend count and the lock flag. ERR_INTERNAL_FB (234) when the event
/// cannot be made.
int can_agc_init();
/// Asks for the thread with a (non-zero) setting; starts it when nothing
/// suspends it and the camera runs live. Not applicable: logs
/// "can_agc_start: CAN AGC is not applicable\n" and returns 0. Setting 0:
/// ERR_INVALID_PARAM. A start while the thread runs only takes the setting.
/// Reads the selector (on system type 26 with the auxiliary motor, the
/// motor's position on node 66; ERR_CAN_SDO_AUX_MOTOR_ERROR for its node
/// error); in the state that forbids the AGC it returns 0 without starting.
int can_agc_start(sysInfo_t* s, int setting);
/// Resets the stop event and starts the thread on the record, unless one
/// runs. ERR_INTERNAL_FB when it cannot be created.
int can_agc_start_thread(sysInfo_t* s);
/// Signals the stop event and waits up to 5 s for the thread: 0, or
/// ERR_INTERNAL_FB when it did not end (it is kept, to be stopped again).
int can_agc_stop_thread();
/// On an applicable instrument: clears the active and requested settings;
/// with a thread running, stops it, clears the suspend count and stores the
/// ND wheel's level as the current light source's acq.lightLevel[]. Returns
/// the stop's or the read's error, else 0.
int can_agc_stop(sysInfo_t* s);
/// suspend != 0: one more suspension, stopping a running thread and keeping
/// its setting; suspend == 0: one suspension fewer. Once none is left the
/// thread starts again with the requested setting if the camera runs live.
/// Does nothing while locked or when not applicable.
int can_agc_suspend(sysInfo_t* s, int suspend);
/// Stops a running thread (its failure is returned), then closes the stop
/// event.
int can_agc_release();
/// While locked (non-zero) starting, suspending and resuming do nothing.
void can_agc_set_lock(int locked);

/// A host's frames for the gain control, in place of the camera: `frame`
/// fills `pixels` with the newest frame of width x height pixels of
/// bytes_per_pixel bytes (rows packed, native byte order) and returns 0, or
/// an error code; a frame of another size is its error
/// (ERR_FRAME_DATA_CORRUPT), never a short copy.
struct agc_frame_source_t {
  /// The newest frame into `pixels`; called from the gain control's thread.
  int (*frame)(sysInfo_t* s, void* pixels, int32_t width, int32_t height,
               int32_t bytes_per_pixel) = nullptr;
};
/// Replaces the frame source for the whole process; null (or an entry left
/// null) restores the default: the camera through the bound acquisition
/// library, its live frame while the live mode runs (acq_live_start), else a
/// frame grabbed each round (acq_grab).
void agc_set_frame_source(const agc_frame_source_t* source);

/// The thread body on the record, with the module's stop event. Returns the
/// last error, or 0 when it was stopped.
int can_agc_thread_func(sysInfo_t* s);

/// Waits for the ND wheel to come to rest after a light-level write: up to
/// 300 polls 10 ms apart, draining the CAN events, until
/// "CAN_NDWHEEL_STOPPED" is set. 0 at once when nobody holds that event
/// (nothing could ever set it); ERR_CAN_TIMEOUT when the wheel is still
/// moving; ERR_FELBRIN_ABORTED when the abort hook ends the wait.
int ac_llc_wait(sysInfo_t* s);
