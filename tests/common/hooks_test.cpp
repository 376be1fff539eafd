// Log writers, the abort and idle hooks, the polling pause and the time seam.
#include "common/hooks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "common/util.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;

TEST(LogWriters, StreamAndFileWriters) {
  EXPECT_EQ(u_log_stream(), stderr);  // the default hook
  {
    LogCapture log;
    EXPECT_EQ(u_log_stream(), nullptr);  // a hook of the host's own
  }
  const u_log_hook saved = u_set_log_fn(&u_log_stdout);
  EXPECT_EQ(u_log_stream(), stdout);
  EXPECT_EQ(u_set_log_fn(saved), &u_log_stdout);

  felbrin::test::TempDir dir;
  const std::string path = dir.file("report.txt");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(u_log_file(f, "%s=%d\n", "n", 42), 0);  // the flush result
  std::fclose(f);
  EXPECT_EQ(felbrin::test::read_file(path), "n=42\n");
}

// A hook that records each call separately.
std::vector<std::string>& calls() {
  static std::vector<std::string> c;
  return c;
}
int record(const char* format, ...) {
  char buf[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  calls().push_back(buf);
  return 0;
}

TEST(LogTimed, TimeThenMessageAsTwoCallsAndCutAt511) {
  calls().clear();
  const u_log_hook saved = u_set_log_fn(&record);
  u_log_timed("%s: error reading device\n", "ur_read");
  const std::string long_text(700, 'x');
  u_log_timed("%s", long_text.c_str());
  u_set_log_fn(saved);
  ASSERT_EQ(calls().size(), 4u);
  EXPECT_TRUE(std::regex_match(calls()[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )")))
      << calls()[0];
  EXPECT_EQ(calls()[1], "ur_read: error reading device\n");
  EXPECT_EQ(calls()[3], std::string(511, 'x'));
}

int g_abort_after = 0;
int g_idle_calls = 0;
int abort_after_calls(void* unused) {
  EXPECT_EQ(unused, nullptr);
  return --g_abort_after <= 0 ? 1 : 0;
}
void count_idle() { ++g_idle_calls; }

TEST(PollPause, PausesCallsIdleAndStopsWhenAsked) {
  felbrin::test::VirtualClock clock;
  EXPECT_EQ(u_poll_pause(100), 0);  // the default hooks never abort
  EXPECT_EQ(clock.elapsed_ms(), 100);
  EXPECT_EQ(u_ticks_ms(), 100);

  g_abort_after = 3;
  g_idle_calls = 0;
  const u_abort_hook saved_abort = u_set_abort_fn(&abort_after_calls);
  const u_idle_hook saved_idle = u_set_idle_fn(&count_idle);
  int rc = 0, rounds = 0;
  while ((rc = u_poll_pause(250)) == 0) ++rounds;
  u_set_abort_fn(saved_abort);
  u_set_idle_fn(saved_idle);
  EXPECT_EQ(rc, ERR_FELBRIN_ABORTED);
  EXPECT_EQ(rounds, 2);
  EXPECT_EQ(g_idle_calls, 3);  // after every pause, the aborted one too
  EXPECT_EQ(clock.elapsed_ms(), 100 + 3 * 250);

  u_sleep_ms(-5);  // negative counts as 0
  EXPECT_EQ(clock.elapsed_ms(), 850);
  EXPECT_EQ(clock.pause_count(), 5);
}

TEST(Hooks, NullRestoresTheDefault) {
  u_set_log_fn(&record);
  EXPECT_EQ(u_set_log_fn(nullptr), &record);
  EXPECT_EQ(u_log_stream(), stderr);
  const u_idle_hook idle = u_set_idle_fn(nullptr);
  u_idle_fn();  // the default does nothing
  u_set_idle_fn(idle);
  const u_alloc_hooks_t saved = u_set_alloc_hooks({nullptr, nullptr, nullptr, nullptr});
  void* p = u_malloc_fn(16);
  EXPECT_NE(p, nullptr);
  u_free_fn(p);
  u_set_alloc_hooks(saved);
}

int quiet(const char*, ...) { return 0; }
int also_quiet(const char*, ...) { return 1; }

// Hooks may be replaced while other threads log through them.
TEST(Hooks, ReplacedWhileOtherThreadsLog) {
  const u_log_hook saved = u_set_log_fn(&quiet);
  std::vector<std::thread> loggers;
  for (int t = 0; t < 3; ++t)
    loggers.emplace_back([] {
      for (int i = 0; i < 20000; ++i) u_log_fn("%d\n", i);
    });
  for (int i = 0; i < 20000; ++i) u_set_log_fn(i % 2 ? &quiet : &also_quiet);
  for (auto& t : loggers) t.join();
  EXPECT_EQ(u_set_log_fn(saved), &quiet);  // the last one set
}

}  // namespace
