// Pumps a simulated instrument: transport → framer → script → model →
// transport. Tests on the in-memory link call step() between the library's
// calls and stay single-threaded and deterministic; a device on a real
// terminal runs in a BackgroundRunner.
#pragma once

#include <atomic>
#include <thread>

#include "sim/device_model.h"
#include "sim/framer.h"
#include "sim/script.h"
#include "sim/transport.h"

namespace sim {

class Runner {
 public:
  // The parts are borrowed and must outlive the runner.
  Runner(Transport& line, Framer& framing, Script& script, DeviceModel& model);

  // Takes what the library wrote (waiting up to `wait_ms` for it) and
  // answers every complete request. Returns the number of requests handled.
  int step(int wait_ms = 0);
  int requests() const { return requests_.load(); }

 private:
  void answer(const Frame& request);
  void run_unasked();

  Transport& line_;
  Framer& framing_;
  Script& script_;
  DeviceModel& model_;
  std::atomic<int> requests_{0};
};

// Steps a runner on a thread of its own until destroyed.
class BackgroundRunner {
 public:
  explicit BackgroundRunner(Runner& runner);
  ~BackgroundRunner();
  BackgroundRunner(const BackgroundRunner&) = delete;
  BackgroundRunner& operator=(const BackgroundRunner&) = delete;

 private:
  std::jthread thread_;
};

}  // namespace sim
