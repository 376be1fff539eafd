// Shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <span>
#include <string>

#include "common/byte_sink.h"

#include "common/hooks.h"

namespace felbrin::fuzz {

// Files may announce gigabytes; allocations above the limit (1 MiB unless
// a target sets it) are refused the way a full heap would refuse them, so
// the readers' out-of-memory paths are fuzzed instead of the fuzzer's own
// memory limit.
inline constexpr std::size_t kAllocationLimit = std::size_t{1} << 20;

inline std::size_t& allocation_limit() {
  static std::size_t limit = kAllocationLimit;
  return limit;
}

inline void* bounded_malloc(std::size_t n) {
  return n > allocation_limit() ? nullptr : std::malloc(n);
}

inline void* bounded_calloc(std::size_t count, std::size_t size) {
  return size != 0 && count > allocation_limit() / size ? nullptr : std::calloc(count, size);
}

inline void install_bounded_allocator(std::size_t limit = kAllocationLimit) {
  allocation_limit() = limit;
  u_set_alloc_hooks({bounded_malloc, std::realloc, bounded_calloc, std::free});
}

inline int quiet_log(const char*, ...) { return 0; }

// Once per process: the bounded allocator, and no log lines (the readers
// explain every refusal, which would drown the fuzzer's own output).
inline void set_up_quietly() {
  static const bool once = [] {
    install_bounded_allocator();
    u_set_log_fn(quiet_log);
    return true;
  }();
  (void)once;
}

// Keeps everything a writer hands over.
using StringSink = felbrin::StringSink;

}  // namespace felbrin::fuzz
