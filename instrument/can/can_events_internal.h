// Test seams of the CAN event queues.
#pragma once

// reset_decoder_state() puts the decoders' state back as at program start.
#include "instrument/can/can_state.h"

namespace felbrin::can {

// The next `count` appends to any queue run out of memory.
void fail_queue_appends(int count);
// Empties all four queues.
void clear_event_queues();
// Forgets the registered record and unwires node access from the queues.
void forget_registration();

}  // namespace felbrin::can
