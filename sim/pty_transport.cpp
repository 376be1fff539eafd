#include "sim/pty_transport.h"

#include <algorithm>

#include "common/hooks.h"

namespace sim {

PtyTransport::PtyTransport() : pty_(std::make_unique<plat::PtyPair>()) {}

void PtyTransport::send_due() {
  const int64_t now = u_ticks_ms();
  auto it = pending_.begin();
  for (; it != pending_.end() && it->due <= now; ++it)
    if (connected_) pty_->send(it->bytes);
  pending_.erase(pending_.begin(), it);
}

std::vector<uint8_t> PtyTransport::receive(int wait_ms) {
  send_due();
  wait_ms = std::max(wait_ms, 0);
  // Wake no later than the next delayed reply is due.
  if (!pending_.empty())
    wait_ms =
        static_cast<int>(std::clamp<int64_t>(pending_.front().due - u_ticks_ms(), 0, wait_ms));
  std::vector<uint8_t> bytes = pty_->receive(1, wait_ms);
  if (!bytes.empty()) {
    const std::vector<uint8_t> rest = pty_->receive(4096, 0);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
  }
  send_due();
  if (!connected_) return {};
  return bytes;
}

bool PtyTransport::send(std::span<const uint8_t> bytes, int64_t delay_ms) {
  if (!connected_) return false;
  if (delay_ms <= 0 && pending_.empty()) return pty_->send(bytes);
  // Behind earlier delayed bytes, so the order on the line is kept.
  const int64_t due = u_ticks_ms() + std::max<int64_t>(delay_ms, 0);
  pending_.push_back(
      {pending_.empty() ? due : std::max(due, pending_.back().due), {bytes.begin(), bytes.end()}});
  return true;
}

void PtyTransport::disconnect() {
  connected_ = false;
  pending_.clear();
}

}  // namespace sim
