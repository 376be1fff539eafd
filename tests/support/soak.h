// Thread soaks: several threads call a table of operations in random order
// for a while, so that every interleaving the scheduler offers gets its
// chance under ThreadSanitizer. FELBRIN_SOAK_MS sets how long (default
// 1500 ms); the seed of a failing soak is printed, and FELBRIN_SOAK_SEED
// repeats it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <span>
#include <thread>
#include <vector>

namespace felbrin::test {

struct SoakAction {
  const char* name;
  std::function<void()> run;
};

inline std::chrono::milliseconds soak_duration() {
  const char* ms = std::getenv("FELBRIN_SOAK_MS");
  return std::chrono::milliseconds(ms != nullptr ? std::atoi(ms) : 1500);
}

// Runs `actions` from `threads` threads until the soak time has passed;
// returns the number of calls made.
inline long soak(std::span<const SoakAction> actions, int threads) {
  const char* seed_text = std::getenv("FELBRIN_SOAK_SEED");
  const uint32_t seed = seed_text != nullptr ? static_cast<uint32_t>(std::strtoul(seed_text, nullptr, 10))
                                             : std::random_device{}();
  SCOPED_TRACE(::testing::Message() << "FELBRIN_SOAK_SEED=" << seed);
  const auto end = std::chrono::steady_clock::now() + soak_duration();
  std::atomic<bool> go{false};
  std::atomic<long> calls{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      std::mt19937 pick(seed + static_cast<uint32_t>(t));
      std::uniform_int_distribution<std::size_t> which(0, actions.size() - 1);
      while (!go) std::this_thread::yield();
      long n = 0;
      while (std::chrono::steady_clock::now() < end) {
        actions[which(pick)].run();
        ++n;
      }
      calls += n;
    });
  }
  go = true;
  for (std::thread& th : pool) th.join();
  return calls;
}

}  // namespace felbrin::test
