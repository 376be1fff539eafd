// Seams of the wrapper binding for tests: the library to load instead of
// the real one, and forgetting the binding so that the next open binds
// again.
#pragma once

#include <string_view>

namespace felbrin::motion {

// A name (looked for beside the program first, then by the host's search)
// or a path. Empty restores the real name. Takes effect at the next binding.
void set_wrapper_library(std::string_view name_or_path);
// The name the next binding loads.
const char* wrapper_library();
// Unloads a bound library and clears every pointer. Nothing may be using
// the library: no open controller, no thread of its own running.
void unbind_wrapper();

}  // namespace felbrin::motion
