// Allocation hooks that count blocks and fail on request, for tests of
// every allocating operation.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
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

// Runs `attempt` with the allocation numbered 0, 1, 2, ... failing until one
// run meets no failure, checking that each failed run leaves no block live.
// Returns the number of allocations of the succeeding run.
inline int fail_each_allocation(const std::function<bool(FailingAllocator&)>& attempt) {
  for (int fail_at = 0; fail_at < 100; ++fail_at) {
    FailingAllocator alloc(fail_at);
    const bool ok = attempt(alloc);
    EXPECT_EQ(alloc.live_blocks(), 0) << "fail_at " << fail_at;
    if (ok) return fail_at;
  }
  ADD_FAILURE() << "the operation never succeeded";
  return -1;
}

}  // namespace felbrin::test
