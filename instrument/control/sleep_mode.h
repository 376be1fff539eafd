/// @file
/// The sleep-mode thread of CAN instruments: counts down the configured
/// sleep timeout, restarted by every node access, and once it runs out tells
/// the client through the node event queue (code 10) once a second that the
/// instrument has been idle for the whole timeout, until the client puts the
/// instrument to rest, or the thread is stopped.
///
/// At most one thread runs. Each run owns its state, made by
/// sleep_mode_start before the thread exists, so that a stop, an activity
/// signal or a late-ending thread only ever touches the run it meant.
/// Every operation may be called from any thread.
#pragma once

struct sysInfo_t;

/// True for a CAN board of a system type that sleeps, with a timeout.
bool sleep_mode_applies(const sysInfo_t* record);
/// Starts the thread with the record's timeout unless one runs already.
/// Logs "Failed to start Sleep Mode thread\n" when it cannot be started.
void sleep_mode_start(const sysInfo_t* record);
/// Asks the running thread to end and waits up to 5000 ms for it; true when
/// a thread was running, whether or not it ended in time.
bool sleep_mode_stop();
/// A node was used: the countdown starts again from the full timeout.
void sleep_mode_activity();
/// The client has put the instrument to rest: no more code-10 events until
/// sleep_mode_wake.
void sleep_mode_enter_rest();
/// The instrument is back: the countdown starts again.
void sleep_mode_wake();
