// Test seams of the CAN event queues.
#pragma once

namespace felbrin::can {

// The next `count` appends to any queue run out of memory.
void fail_queue_appends(int count);
// Empties all four queues.
void clear_event_queues();
// Decoder state as at program start.
void reset_decoder_state();

}  // namespace felbrin::can
