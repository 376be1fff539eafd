// Allocation hooks that count blocks and fail on request, for tests of
// every allocating operation.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <functional>

#include "common/hooks.h"

namespace felbrin::test {

class FailingAllocator {
 public:
  // Fails the allocation numbered `fail_at` (0 is the first) and every later
  // one when `sticky`; -1 never fails.
  explicit FailingAllocator(int fail_at = -1, bool sticky = false) {
    state() = State{fail_at, sticky, 0, 0};
    saved_ = u_set_alloc_hooks({&do_malloc, &do_realloc, &do_calloc, &do_free});
  }
  ~FailingAllocator() { u_set_alloc_hooks(saved_); }
  FailingAllocator(const FailingAllocator&) = delete;
  FailingAllocator& operator=(const FailingAllocator&) = delete;

  int requests() const { return state().requests; }
  int live_blocks() const { return state().live; }

 private:
  struct State {
    int fail_at;
    bool sticky;
    int requests;
    int live;
  };
  static State& state() {
    static State s;
    return s;
  }
  static bool should_fail() {
    State& s = state();
    const int n = s.requests++;
    return s.fail_at >= 0 && (n == s.fail_at || (s.sticky && n > s.fail_at));
  }
  static void* do_malloc(std::size_t n) {
    if (should_fail()) return nullptr;
    ++state().live;
    return std::malloc(n);
  }
  static void* do_calloc(std::size_t n, std::size_t e) {
    if (should_fail()) return nullptr;
    ++state().live;
    return std::calloc(n, e);
  }
  static void* do_realloc(void* p, std::size_t n) {
    if (should_fail()) return nullptr;
    if (p == nullptr) ++state().live;
    return std::realloc(p, n);
  }
  static void do_free(void* p) {
    if (p != nullptr) --state().live;
    std::free(p);
  }
  u_alloc_hooks_t saved_{};
};

// What the sweeps of one test run tried; printed when the program ends, for
// the reliability figures.
struct SweepTotals {
  int operations = 0;
  int failure_points = 0;
  ~SweepTotals() {
    if (operations > 0) {
      std::fprintf(stderr, "allocation sweeps: %d operations, %d failure points\n", operations, failure_points);
    }
  }
};
inline SweepTotals& sweep_totals() {
  static SweepTotals totals;
  return totals;
}

// Runs `attempt` with the allocation numbered 0, 1, 2, ... failing until one
// run meets no failure, checking that each failed run leaves no block live.
// Returns the number of allocations of the succeeding run.
inline int fail_each_allocation(const std::function<bool(FailingAllocator&)>& attempt, int limit = 100) {
  ++sweep_totals().operations;
  for (int fail_at = 0; fail_at < limit; ++fail_at) {
    FailingAllocator alloc(fail_at);
    const bool ok = attempt(alloc);
    EXPECT_EQ(alloc.live_blocks(), 0) << "fail_at " << fail_at;
    if (ok) return fail_at;
    ++sweep_totals().failure_points;
  }
  ADD_FAILURE() << "the operation never succeeded";
  return -1;
}

// The same for an operation that returns an error code: each failed run must
// give one of `errors` and, once `release` has run, leave no block live.
inline int sweep_allocations(const std::function<int()>& run, const std::function<void()>& release,
                             std::span<const int> errors, int limit = 10000) {
  return fail_each_allocation(
      [&](FailingAllocator& alloc) {
        const int rc = run();
        release();
        EXPECT_EQ(alloc.live_blocks(), 0) << "after the release, rc " << rc;
        if (rc == 0) return true;
        EXPECT_TRUE(std::ranges::find(errors, rc) != errors.end()) << "rc " << rc;
        return false;
      },
      limit);
}

}  // namespace felbrin::test
