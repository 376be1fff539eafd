/// @file
/// Pumps a simulated instrument: transport → framer → script → model →
/// transport. Tests on the in-memory link call step() between the library's
/// calls and stay single-threaded and deterministic; a device on a real
/// terminal runs in a BackgroundRunner.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "sim/device_model.h"
#include "sim/framer.h"
#include "sim/script.h"
#include "sim/transport.h"

namespace sim {

/// Pumps one simulated instrument (see the file comment).
class Runner {
 public:
  /// The parts are borrowed and must outlive the runner.
  Runner(Transport& line, Framer& framing, Script& script, DeviceModel& model);

  /// Takes what the library wrote (waiting up to `wait_ms` for it) and
  /// answers every complete request. Returns the number of requests handled.
  /// Also sends what the model has to say unasked. Safe from several
  /// threads (a test's write hook and its read hook may run on two).
  int step(int wait_ms = 0);
  /// The requests handled so far.
  int requests() const { return requests_.load(); }
  /// When the model next speaks unasked, on the library's clock: an
  /// in-memory port's read hook returns it, so a waiting read wakes then.
  int64_t next_due() const { return model_.next_unasked_ms(); }

 private:
  void answer(const Frame& request);
  void run_unasked();

  Transport& line_;
  Framer& framing_;
  Script& script_;
  DeviceModel& model_;
  std::atomic<int> requests_{0};
  std::mutex step_mutex_;
};

/// Steps a runner on a thread of its own until destroyed.
class BackgroundRunner {
 public:
  /// Starts stepping `runner` (borrowed; it must outlive this object).
  explicit BackgroundRunner(Runner& runner);
  ~BackgroundRunner();
  BackgroundRunner(const BackgroundRunner&) = delete;
  BackgroundRunner& operator=(const BackgroundRunner&) = delete;

 private:
  std::jthread thread_;
};

}  // namespace sim
