#include "common/util.h"

#include <cmath>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "common/errors.h"

#include "common/hooks.h"
#include "platform/platform.h"

void u_swap_bytes(void* value, int n) {
  auto* b = static_cast<unsigned char*>(value);
  switch (n) {
    case 2:
    case 4:
    case 8:
      for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(b[i], b[j]);
      return;
    default: u_log_fn("u_swap_bytes: n=%d\n", n); std::abort();
  }
}

bool u_file_exists(const char* path) { return path != nullptr && plat::is_regular_file(path); }

bool u_is_wide_path(const char* path) { return plat::is_wide_marked(path); }

// ---- files

namespace {

int copy_logged(const char* source, const char* destination, plat::NewFileMode mode) {
  const int error = plat::copy_file(source, destination, mode);
  if (error == 0) return 0;
  if (plat::is_read_only_file(destination)) {
    u_log_fn("u_copy_file: \"%s\" is read-only and was left as it is\n",
             plat::display_path(destination).c_str());
  }
  u_log_fn("u_copy_file failed: win_err = %d\n", error);
  return ERR_CANT_WRITE_FILE;
}

}  // namespace

int u_copy_file(const char* source, const char* destination) {
  return copy_logged(source, destination, plat::NewFileMode::like_source);
}

namespace felbrin {

int copy_temp_file(const char* temp, const char* destination) {
  return copy_logged(temp, destination, plat::NewFileMode::like_new_file);
}

}  // namespace felbrin

// ---- text

namespace {

// ASCII classification: bytes above 0x7F are letters of some code page, never
// white space, and have no case here.
bool is_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_blank_or_line_end(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
unsigned char upper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Walks a text as strxcmp sees it: white space outside double quotes
// skipped, colons counted as blanks when asked, letters upper-cased.
class LooseText {
 public:
  LooseText(const char* text, bool colon_is_blank)
      : p_(reinterpret_cast<const unsigned char*>(text != nullptr ? text : "")),
        colon_is_blank_(colon_is_blank) {}

  // The next character of the squeezed text, or 0 at its end.
  unsigned char next() {
    for (;;) {
      unsigned char c = *p_;
      if (c == 0) return 0;
      ++p_;
      if (c == '"') {
        inside_ = !inside_;
        return c;
      }
      if (colon_is_blank_ && c == ':') c = ' ';
      if (!inside_ && is_space(c)) continue;
      return upper(c);
    }
  }

 private:
  const unsigned char* p_;
  bool colon_is_blank_;
  bool inside_ = false;
};

}  // namespace

int u_trim(char* text) {
  if (text == nullptr) return 0;
  const std::size_t length = std::strlen(text);
  std::size_t begin = 0, end = length;
  while (begin < end && is_blank_or_line_end(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && is_blank_or_line_end(static_cast<unsigned char>(text[end - 1]))) --end;
  std::memmove(text, text + begin, end - begin);
  text[end - begin] = '\0';
  return static_cast<int>(length - (end - begin));
}

int u_squeeze(char* text) {
  if (text == nullptr) return 0;
  bool inside = false;
  char* out = text;
  int removed = 0;
  for (const char* in = text; *in != '\0'; ++in) {
    const auto c = static_cast<unsigned char>(*in);
    if (c == '"') inside = !inside;
    if (!inside && c != '"' && is_space(c)) {
      ++removed;
      continue;
    }
    *out++ = *in;
  }
  *out = '\0';
  return removed;
}

int strxcmp(const char* text, const char* keyword) {
  LooseText a(text, true), b(keyword, false);
  for (;;) {
    const unsigned char ca = a.next(), cb = b.next();
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

// ---- pause and clocks

void u_sleep_ms(int ms) { u_sleep_fn(static_cast<uint32_t>(ms > 0 ? ms : 0)); }

void u_get_time(int64_t* seconds, int32_t* microseconds) {
  int64_t s = 0;
  int32_t ms = 0;
  plat::wall_time_ms(&s, &ms);
  if (seconds != nullptr) *seconds = s;
  if (microseconds != nullptr) *microseconds = ms * 1000;
}

double u_time_now() {
  int64_t s = 0;
  int32_t us = 0;
  u_get_time(&s, &us);
  return static_cast<double>(s) + us / 1000000.0;
}

namespace {

// Process-wide timer state, meant for one thread at a time (laps measure the
// calls of whichever thread makes them); atomics keep stray concurrent use
// free of data races.
std::atomic<double> g_stopwatch_start{0};
std::atomic<int64_t> g_perf_frequency{0};
std::atomic<int64_t> g_perf_last{0};
std::atomic<int64_t> g_perf_overhead{-1};

int32_t saturate(double us) {
  if (!(us == us)) return 0;
  if (us >= 2147483647.0) return INT32_MAX;
  if (us <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(us);
}

int64_t frequency() {
  int64_t f = g_perf_frequency.load();
  if (f == 0) {
    f = plat::perf_frequency();
    g_perf_frequency.store(f);
  }
  return f;
}

}  // namespace

double u_stopwatch_start() {
  const double now = u_time_now();
  g_stopwatch_start.store(now);
  return now;
}

double u_stopwatch_elapsed() { return u_time_now() - g_stopwatch_start.load(); }

void u_perf_calibrate() {
  g_perf_frequency.store(plat::perf_frequency());
  const int64_t a = plat::perf_counter();
  const int64_t b = plat::perf_counter();
  g_perf_overhead.store(b - a);
  g_perf_last.store(b);
}

int64_t u_perf_counter() { return plat::perf_counter(); }

int32_t u_perf_lap_us() {
  if (g_perf_overhead.load() < 0) u_perf_calibrate();
  const int64_t now = plat::perf_counter();
  int64_t delta = now - g_perf_last.load() - g_perf_overhead.load();
  if (delta < 0) delta = 0;
  g_perf_last.store(now);
  const int64_t f = frequency();
  if (f == 0) return 0;
  return saturate(static_cast<double>(delta) / static_cast<double>(f) * 1000000.0);
}

int32_t u_perf_diff_us(int64_t earlier, int64_t later) {
  const int64_t f = frequency();
  if (f == 0) return 0;
  const double x = 1000000.0 * static_cast<double>(later - earlier) / static_cast<double>(f);
  return saturate(x >= 0 ? x + 0.5 : x - 0.5);
}

int32_t u_perf_now_us() {
  if (g_perf_overhead.load() < 0) u_perf_calibrate();
  const int64_t now = plat::perf_counter();
  g_perf_last.store(now);
  const int64_t f = frequency();
  if (f == 0) return 0;
  // In 64 bits without overflow; the caller gets the low 32 bits, which wrap.
  const int64_t ticks = now - g_perf_overhead.load();
  const int64_t us = ticks / f * 1000000 + ticks % f * 1000000 / f;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(us)));
}

void u_time_text(int64_t time, char* buffer) {
  std::tm tm{};
  if (!plat::local_time(time, &tm) ||
      std::strftime(buffer, U_TIME_TEXT_SIZE, "%Y-%m-%d %H:%M:%S", &tm) == 0)
    buffer[0] = '\0';
}

void u_now_text(char* buffer) {
  int64_t s = 0;
  u_get_time(&s, nullptr);
  u_time_text(s, buffer);
}

int32_t u_saturated_int(double v) {
  if (-2147483649.0 < v && v < 2147483648.0) return static_cast<int32_t>(v);
  if (std::isnan(v)) return 0;
  return v > 0 ? INT32_MAX : INT32_MIN;
}
