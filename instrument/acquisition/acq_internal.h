// Shared by the binding and the grabbing: one use of the camera at a time.
#pragma once

#include <mutex>

namespace felbrin::acq {

// Held by a grab from its check of the live mode to its device's close, by
// the live mode's start and stop, and by the library's release, so that no
// two of them drive the device at once and the library never goes under a
// grab.
std::mutex& use_guard();

}  // namespace felbrin::acq
