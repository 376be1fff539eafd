#include "common/hooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/errors.h"
#include "common/util.h"
#include "platform/platform.h"

felbrin::Hook<u_malloc_hook> u_malloc_fn{std::malloc};
felbrin::Hook<u_realloc_hook> u_realloc_fn{std::realloc};
felbrin::Hook<u_calloc_hook> u_calloc_fn{std::calloc};
felbrin::Hook<u_free_hook> u_free_fn{std::free};

namespace {

// A null hook restores the default, so a host can never leave a hook that
// crashes the next thread to call it.
template <class Fn>
Fn or_default(Fn fn, Fn fallback) {
  return fn != nullptr ? fn : fallback;
}

}  // namespace

u_alloc_hooks_t u_set_alloc_hooks(const u_alloc_hooks_t& hooks) {
  return {u_malloc_fn.exchange(or_default<u_malloc_hook>(hooks.malloc_fn, std::malloc)),
          u_realloc_fn.exchange(or_default<u_realloc_hook>(hooks.realloc_fn, std::realloc)),
          u_calloc_fn.exchange(or_default<u_calloc_hook>(hooks.calloc_fn, std::calloc)),
          u_free_fn.exchange(or_default<u_free_hook>(hooks.free_fn, std::free))};
}

namespace {

int log_to(std::FILE* stream, const char* format, va_list args) {
  std::vfprintf(stream, format, args);
  return std::fflush(stream);
}

int no_abort(void*) { return 0; }
void no_idle() {}
void host_sleep(uint32_t ms) { plat::sleep_ms(ms); }
int64_t host_ticks() { return plat::monotonic_ms(); }

}  // namespace

int u_log_stderr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int rc = log_to(stderr, format, args);
  va_end(args);
  return rc;
}

int u_log_stdout(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int rc = log_to(stdout, format, args);
  va_end(args);
  return rc;
}

int u_log_file(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int rc = log_to(stream, format, args);
  va_end(args);
  return rc;
}

felbrin::Hook<u_log_hook> u_log_fn{u_log_stderr};

u_log_hook u_set_log_fn(u_log_hook fn) { return u_log_fn.exchange(or_default(fn, &u_log_stderr)); }

std::FILE* u_log_stream() {
  const u_log_hook fn = u_log_fn.get();
  if (fn == &u_log_stderr) return stderr;
  if (fn == &u_log_stdout) return stdout;
  return nullptr;
}

void u_log_timed(const char* format, ...) {
  char buffer[512] = {};
  u_now_text(buffer);
  u_log_fn("%s ", buffer);
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);  // cut, never overrun
  va_end(args);
  u_log_fn("%s", buffer);
}

felbrin::Hook<u_abort_hook> u_abort_fn{no_abort};
felbrin::Hook<u_idle_hook> u_idle_fn{no_idle};
u_abort_hook u_set_abort_fn(u_abort_hook fn) {
  return u_abort_fn.exchange(or_default(fn, &no_abort));
}
u_idle_hook u_set_idle_fn(u_idle_hook fn) { return u_idle_fn.exchange(or_default(fn, &no_idle)); }

int u_poll_pause(int ms) {
  u_sleep_ms(ms);
  u_idle_fn();
  return u_abort_fn(nullptr) != 0 ? ERR_FELBRIN_ABORTED : 0;
}

felbrin::Hook<u_sleep_hook> u_sleep_fn{host_sleep};
felbrin::Hook<u_ticks_hook> u_ticks_fn{host_ticks};
u_sleep_hook u_set_sleep_fn(u_sleep_hook fn) {
  return u_sleep_fn.exchange(or_default(fn, &host_sleep));
}
u_ticks_hook u_set_ticks_fn(u_ticks_hook fn) {
  return u_ticks_fn.exchange(or_default(fn, &host_ticks));
}
int64_t u_ticks_ms() { return u_ticks_fn(); }
bool u_ticks_is_host_clock() { return u_ticks_fn.get() == &host_ticks; }
