// A bounded wait for tests of threads: polls a condition instead of
// sleeping a guessed time.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace felbrin::test {

// Only a bound for a failing test: nothing waits this long when the code
// works.
inline constexpr auto kFailAfter = std::chrono::seconds(30);

// Waits until `ready` holds, polling; false when the bound passed.
inline bool eventually(const std::function<bool()>& ready) {
  const auto give_up = std::chrono::steady_clock::now() + kFailAfter;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace felbrin::test
