// Process-wide hooks through which the library allocates, logs, pauses and
// lets a host program take part in long waits.
//
// Each hook is called like a function (u_log_fn("x=%d\n", x)). The hooks
// start as the library's defaults; a host program may replace any of them
// at any time through its setter: the pointers are atomic, so threads that
// are logging meanwhile see either the old or the new hook, never a torn one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace felbrin {

// An atomically replaceable function pointer that is called like a function.
template <class Fn>
class Hook {
 public:
  constexpr explicit Hook(Fn fn) : fn_(fn) {}
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

  template <class... Args>
  decltype(auto) operator()(Args&&... args) const {
    return fn_.load(std::memory_order_acquire)(std::forward<Args>(args)...);
  }
  Fn get() const { return fn_.load(std::memory_order_acquire); }
  // Installs `fn` (null restores nothing: callers pass a real function) and
  // returns the hook it replaces.
  Fn exchange(Fn fn) { return fn_.exchange(fn, std::memory_order_acq_rel); }

 private:
  std::atomic<Fn> fn_;
};

}  // namespace felbrin

// ---- allocation hooks: every record buffer is obtained and released through
// these; a block is released by the hook set that made it.
using u_malloc_hook = void* (*)(std::size_t size);
using u_realloc_hook = void* (*)(void* block, std::size_t size);
using u_calloc_hook = void* (*)(std::size_t count, std::size_t elem_size);
using u_free_hook = void (*)(void* block);

extern felbrin::Hook<u_malloc_hook> u_malloc_fn;
extern felbrin::Hook<u_realloc_hook> u_realloc_fn;
extern felbrin::Hook<u_calloc_hook> u_calloc_fn;
extern felbrin::Hook<u_free_hook> u_free_fn;

struct u_alloc_hooks_t {
  u_malloc_hook malloc_fn;
  u_realloc_hook realloc_fn;
  u_calloc_hook calloc_fn;
  u_free_hook free_fn;
};
// Replaces all four together (install them before any record is allocated,
// or release every record first); returns the set replaced.
u_alloc_hooks_t u_set_alloc_hooks(const u_alloc_hooks_t& hooks);

// ---- log hook: every diagnostic message of the library goes through it.
using u_log_hook = int (*)(const char* format, ...);
extern felbrin::Hook<u_log_hook> u_log_fn;
u_log_hook u_set_log_fn(u_log_hook fn);

// Default log writer: formats onto the standard error stream and flushes it;
// returns the flush result.
int u_log_stderr(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
