// Seams of the bridge-library binding for tests: bind a library from a
// chosen path, and forget a binding so that the next need looks again.
#pragma once

namespace felbrin::can {

// Loads the library at `path` and binds it when it has all 17 names, by
// the same rules as the first need: 0 or ERR_CAN_NOT_AVAIL.
int bind_library(const char* path);

// Forgets the bound table and the earlier look-up. A loaded library stays
// loaded.
void forget_binding();

// The name of each table entry as the library exports it, in table order.
const char* const* exported_names(int* count);

}  // namespace felbrin::can
