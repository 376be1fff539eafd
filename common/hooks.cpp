#include "common/hooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

felbrin::Hook<u_malloc_hook> u_malloc_fn{std::malloc};
felbrin::Hook<u_realloc_hook> u_realloc_fn{std::realloc};
felbrin::Hook<u_calloc_hook> u_calloc_fn{std::calloc};
felbrin::Hook<u_free_hook> u_free_fn{std::free};

u_alloc_hooks_t u_set_alloc_hooks(const u_alloc_hooks_t& hooks) {
  return {u_malloc_fn.exchange(hooks.malloc_fn), u_realloc_fn.exchange(hooks.realloc_fn),
          u_calloc_fn.exchange(hooks.calloc_fn), u_free_fn.exchange(hooks.free_fn)};
}

int u_log_stderr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  return std::fflush(stderr);
}

felbrin::Hook<u_log_hook> u_log_fn{u_log_stderr};

u_log_hook u_set_log_fn(u_log_hook fn) { return u_log_fn.exchange(fn); }
