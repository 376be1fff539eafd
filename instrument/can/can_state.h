/// @file
/// State the CAN node operations share with the event decoders. The decoders
/// run on the caller's thread when events are drained, but a host may drain
/// from its own thread while another polls a wait, so every value is atomic.
///
/// Also the wiring through which node operations reach the subsystems above
/// them: the sleep-mode activity signal, whether the light-control thread
/// runs, the event drain and the ND wheel's stopped event. Each defaults to
/// doing nothing until its owner installs it. This is the library's own
/// wiring, not installed: a host replaces power-on steps through
/// CanInstServices, the one table for that.
#pragma once

#include <atomic>
#include <cstdint>

/// The CAN node operations' shared state and seams.
namespace felbrin::can {

/// ND wheel: home state (status & 0x18).
std::atomic<int32_t>& ndw_home_state();
/// ND wheel: moving state (status & 0x02).
std::atomic<int32_t>& ndw_moving_state();
/// ND wheel: true while it was last seen moving.
std::atomic<bool>& ndw_was_moving();
/// Brush motor (turret and zoom changer): its wait state, 0, 1 or 2.
std::atomic<int32_t>& brush_wait_state();
/// Last zoom position decoded; 255 until one is known.
inline constexpr int32_t kLastZoomUnknown = 255;
/// Last zoom position decoded, or kLastZoomUnknown.
std::atomic<int32_t>& last_zoom();

/// Puts the decoder state back to its start values.
void reset_decoder_state();

// ---- seams
/// The sleep-mode activity signal.
using ActivityFn = void (*)();
/// The event drain.
using ProcessEventsFn = void (*)();
/// Sets (true) or resets the ND wheel's stopped event.
using NdwStoppedFn = void (*)(bool set);

/// Installs the activity signal; null: none.
void set_activity_fn(ActivityFn fn);
/// Called by every node access that counts as user activity; runs the installed signal.
void signal_activity();
/// True while the automatic light-control thread runs.
std::atomic<bool>& agc_running();
/// Installs the event drain; null: none.
void set_process_events_fn(ProcessEventsFn fn);
/// Drains pending CAN events (which update the decoder state above) through the installed
/// drain.
void process_events();
/// Installs the ND wheel's stopped-event hook; null: none.
void set_ndw_stopped_fn(NdwStoppedFn fn);
/// Sets or resets the ND wheel's stopped event through the installed hook.
void ndw_stopped(bool set);

}  // namespace felbrin::can
