// Wall-clock timing for the plain benchmark programs, which compare two
// runs made in the same process.
#pragma once

#include <algorithm>
#include <chrono>

namespace felbrin::bench {

// Seconds that one call of f takes.
template <class F>
double seconds(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The fastest of `rounds` calls of f, in seconds.
template <class F>
double best_seconds(int rounds, F&& f) {
  double best = seconds(f);
  for (int r = 1; r < rounds; ++r) best = std::min(best, seconds(f));
  return best;
}

}  // namespace felbrin::bench
