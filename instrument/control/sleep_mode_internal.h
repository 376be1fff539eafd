// Test seams of the sleep-mode thread.
#pragma once

namespace felbrin::control {

// Waits of the current run in progress now (0 without a run); a test moves
// a virtual clock only once the thread waits with its deadline fixed.
int sleep_mode_waiting();
// Countdowns the current run has started (0 without a run).
int sleep_mode_countdowns();
// True while a run is held.
bool sleep_mode_running();

}  // namespace felbrin::control
