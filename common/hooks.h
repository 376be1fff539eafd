/// @file
/// Process-wide hooks through which the library allocates, logs, pauses and
/// lets a host program take part in long waits.
///
/// Each hook is called like a function (u_log_fn("x=%d\n", x)). The hooks
/// start as the library's defaults; a host program may replace any of them
/// at any time through its setter: the pointers are atomic, so threads that
/// are logging meanwhile see either the old or the new hook, never a torn one.
/// Every setter returns the hook it replaces; a null hook restores the default.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace felbrin {

/// An atomically replaceable function pointer that is called like a function.
template <class Fn>
class Hook {
 public:
  /// A hook that starts as `fn`.
  constexpr explicit Hook(Fn fn) : fn_(fn) {}
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

  /// Calls the installed function with `args` and returns its result.
  template <class... Args>
  decltype(auto) operator()(Args&&... args) const {
    return fn_.load(std::memory_order_acquire)(std::forward<Args>(args)...);
  }
  /// The installed function.
  Fn get() const { return fn_.load(std::memory_order_acquire); }
  /// Installs `fn` and returns the hook it replaces.
  Fn exchange(Fn fn) { return fn_.exchange(fn, std::memory_order_acq_rel); }

 private:
  std::atomic<Fn> fn_;
};

}  // namespace felbrin

// ---- allocation hooks: every record buffer is obtained and released through
// these; a block is released by the hook set that made it.
/// Allocation hook with the contract of malloc.
using u_malloc_hook = void* (*)(std::size_t size);
/// Allocation hook with the contract of realloc.
using u_realloc_hook = void* (*)(void* block, std::size_t size);
/// Allocation hook with the contract of calloc.
using u_calloc_hook = void* (*)(std::size_t count, std::size_t elem_size);
/// Release hook with the contract of free.
using u_free_hook = void (*)(void* block);

/// Allocates every record buffer (default: malloc).
extern felbrin::Hook<u_malloc_hook> u_malloc_fn;
/// Resizes record buffers (default: realloc).
extern felbrin::Hook<u_realloc_hook> u_realloc_fn;
/// Allocates zeroed record buffers (default: calloc).
extern felbrin::Hook<u_calloc_hook> u_calloc_fn;
/// Releases record buffers (default: free).
extern felbrin::Hook<u_free_hook> u_free_fn;

/// The four allocation hooks as one set, for u_set_alloc_hooks.
struct u_alloc_hooks_t {
  u_malloc_hook malloc_fn;    ///< Goes to u_malloc_fn.
  u_realloc_hook realloc_fn;  ///< Goes to u_realloc_fn.
  u_calloc_hook calloc_fn;    ///< Goes to u_calloc_fn.
  u_free_hook free_fn;        ///< Goes to u_free_fn.
};
/// Replaces all four together (install them before any record is allocated,
/// or release every record first); returns the set replaced.
u_alloc_hooks_t u_set_alloc_hooks(const u_alloc_hooks_t& hooks);

// ---- log hook: every diagnostic message of the library goes through it.
/// A log writer: takes a printf-style format and its arguments.
using u_log_hook = int (*)(const char* format, ...);
/// Every diagnostic message of the library goes through this hook (default:
/// u_log_stderr).
extern felbrin::Hook<u_log_hook> u_log_fn;
/// Installs a log writer (null: the default) and returns the one it replaces.
u_log_hook u_set_log_fn(u_log_hook fn);

#if defined(__GNUC__)
/// Lets the compiler check a printf-style format (argument `fmt`) against its
/// arguments (from argument `args` on).
#define FELBRIN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
/// Lets the compiler check a printf-style format where it can; nothing here.
#define FELBRIN_PRINTF(fmt, args)
#endif

/// Default log writer: formats onto the standard error stream and flushes it;
/// returns the flush result (not a character count).
int u_log_stderr(const char* format, ...) FELBRIN_PRINTF(1, 2);
/// The same on the standard output stream.
int u_log_stdout(const char* format, ...) FELBRIN_PRINTF(1, 2);
/// The same on a given stream (reports written to a file).
int u_log_file(std::FILE* stream, const char* format, ...) FELBRIN_PRINTF(2, 3);
/// Where the log goes when it is one of the standard writers: stderr for
/// u_log_stderr, stdout for u_log_stdout, otherwise null. Long reports use it
/// to print to the same place as the log.
std::FILE* u_log_stream();
/// Sends the local date and time ("%Y-%m-%d %H:%M:%S" and a blank) and then
/// the message through the log hook, as two calls. The message is cut at 511
/// characters. The caller supplies the line end.
void u_log_timed(const char* format, ...) FELBRIN_PRINTF(1, 2);

// ---- abort and idle hooks: let a host program take part in long waits.
// The abort hook is asked inside wait and retry loops (its argument is always
// null); a non-zero answer stops the wait with ERR_FELBRIN_ABORTED. The idle
// hook is called right after each pause of a polling wait.
/// An abort hook: a non-zero answer stops the current wait; the argument is always null.
using u_abort_hook = int (*)(void* unused);
/// An idle hook: called right after each pause of a polling wait.
using u_idle_hook = void (*)();
/// Asked inside wait and retry loops; non-zero stops the wait with ERR_FELBRIN_ABORTED.
extern felbrin::Hook<u_abort_hook> u_abort_fn;
/// Called right after each pause of a polling wait.
extern felbrin::Hook<u_idle_hook> u_idle_fn;
/// Installs an abort hook (null: the default) and returns the one it replaces.
u_abort_hook u_set_abort_fn(u_abort_hook fn);
/// Installs an idle hook (null: the default) and returns the one it replaces.
u_idle_hook u_set_idle_fn(u_idle_hook fn);

/// One step of every polling wait of the library: pause `ms` milliseconds,
/// call the idle hook, then ask the abort hook. Returns 0 to go on waiting, or
/// ERR_FELBRIN_ABORTED (308).
int u_poll_pause(int ms);

// ---- time seam: every pause of the library and its monotonic clock go
// through these, so a host or a test can run the library on a virtual clock
// (for example one that advances by the pause instead of sleeping).
/// A pause of `ms` milliseconds.
using u_sleep_hook = void (*)(uint32_t ms);
using u_ticks_hook = int64_t (*)();  ///< A clock reading: monotonic milliseconds.
/// Every pause of the library goes through this hook (default: the host's sleep).
extern felbrin::Hook<u_sleep_hook> u_sleep_fn;
/// The library's monotonic clock (default: the host's clock).
extern felbrin::Hook<u_ticks_hook> u_ticks_fn;
/// Installs a sleep hook (null: the default) and returns the one it replaces.
u_sleep_hook u_set_sleep_fn(u_sleep_hook fn);
/// Installs a clock (null: the host's) and returns the one it replaces.
u_ticks_hook u_set_ticks_fn(u_ticks_hook fn);
/// Milliseconds of the monotonic clock (for timeouts).
int64_t u_ticks_ms();
/// True while the host's own clock is installed: waits may then sleep to a
/// deadline; on any other clock they have to watch it move.
bool u_ticks_is_host_clock();
