#include "common/hooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

u_malloc_hook u_malloc_fn = std::malloc;
u_realloc_hook u_realloc_fn = std::realloc;
u_calloc_hook u_calloc_fn = std::calloc;
u_free_hook u_free_fn = std::free;

int u_log_stderr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  return std::fflush(stderr);
}

u_log_hook u_log_fn = u_log_stderr;
