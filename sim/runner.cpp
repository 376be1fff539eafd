#include "sim/runner.h"

#include <algorithm>

namespace sim {

Runner::Runner(Transport& line, Framer& framing, Script& script, DeviceModel& model)
    : line_(line), framing_(framing), script_(script), model_(model) {}

void Runner::run_unasked() {
  for (Script::Item& item : script_.take_unasked()) {
    if (const auto* u = std::get_if<Script::Unsolicited>(&item)) {
      line_.send(u->bytes);
    } else if (std::holds_alternative<Script::Disconnect>(item)) {
      line_.disconnect();
    }
  }
  if (!line_.connected()) return;
  for (const auto& frame : model_.unasked()) line_.send(frame);
}

int Runner::step(int wait_ms) {
  std::lock_guard lock(step_mutex_);
  run_unasked();
  const std::vector<uint8_t> bytes = line_.receive(wait_ms);
  framing_.feed(bytes);
  int handled = 0;
  while (const std::optional<Frame> request = framing_.next()) {
    run_unasked();
    answer(*request);
    ++handled;
    ++requests_;
    run_unasked();
  }
  return handled;
}

void Runner::answer(const Frame& request) {
  const std::optional<Turn> turn = script_.take_turn(request.raw);
  if (!line_.connected()) return;
  if (turn && turn->hang_up) {
    line_.disconnect();
    return;
  }
  std::vector<std::vector<uint8_t>> answers;
  if (turn && turn->refusal) {
    answers.push_back(*turn->refusal);
  } else {
    // Even an answer that is then cut short moves the instrument on, as
    // on the real line.
    answers = model_.handle(request);
  }
  if (turn && turn->spoil_checksum && !answers.empty()) framing_.spoil_checksum(answers.front());

  std::vector<uint8_t> out = turn ? turn->garbage : std::vector<uint8_t>{};
  for (const auto& a : answers) out.insert(out.end(), a.begin(), a.end());
  if (turn && turn->cut_after) out.resize(std::min(out.size(), *turn->cut_after));
  if (!out.empty()) line_.send(out, turn ? turn->delay_ms : 0);
}

BackgroundRunner::BackgroundRunner(Runner& runner)
    : thread_([&runner](std::stop_token stop) {
        while (!stop.stop_requested()) runner.step(20);
      }) {}

BackgroundRunner::~BackgroundRunner() {
  thread_.request_stop();
  thread_.join();
}

}  // namespace sim
