// State the CAN node operations share with the event decoders. The decoders
// run on the caller's thread when events are drained, but a host may drain
// from its own thread while another polls a wait, so every value is atomic.
//
// Also the seams through which node operations reach parts built elsewhere:
// the sleep-mode activity signal, whether the light-control thread runs, the
// event drain and the ND wheel's stopped event. Each defaults to doing
// nothing until its owner installs it.
#pragma once

#include <atomic>
#include <cstdint>

namespace felbrin::can {

// ND wheel: home state (status & 0x18) and moving state (status & 0x02).
std::atomic<int32_t>& ndw_home_state();
std::atomic<int32_t>& ndw_moving_state();
std::atomic<bool>& ndw_was_moving();
// Brush motor (turret and zoom changer).
std::atomic<int32_t>& brush_wait_state();
// Last zoom position decoded; 255 until one is known.
inline constexpr int32_t kLastZoomUnknown = 255;
std::atomic<int32_t>& last_zoom();
// The last turret position the brush motor reported.
std::atomic<uint8_t>& last_turret_byte();
// The brush motor's product ID, which chooses its zoom decoding; -1 unknown.
std::atomic<int32_t>& brush_product_id();

// Puts the decoder state back to its start values.
void reset_decoder_state();

// ---- seams
using ActivityFn = void (*)();
using ProcessEventsFn = void (*)();
using NdwStoppedFn = void (*)(bool set);

// Called by every node access that counts as user activity.
void set_activity_fn(ActivityFn fn);
void signal_activity();
// True while the automatic light-control thread runs.
std::atomic<bool>& agc_running();
// Drains pending CAN events (which update the decoder state above).
void set_process_events_fn(ProcessEventsFn fn);
void process_events();
// Sets or resets the ND wheel's stopped event.
void set_ndw_stopped_fn(NdwStoppedFn fn);
void ndw_stopped(bool set);

}  // namespace felbrin::can
