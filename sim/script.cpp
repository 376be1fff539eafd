#include "sim/script.h"

#include <algorithm>
#include <array>

#include "sim/framer.h"

namespace sim {

std::string printable(std::span<const uint8_t> bytes) {
  constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                      '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
  std::string out;
  for (uint8_t b : bytes) {
    if (b >= 0x20 && b < 0x7F && b != '<') {
      out += static_cast<char>(b);
    } else {
      out += '<';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
      out += '>';
    }
  }
  return out;
}

// ---- turns

Turn& Turn::expect(std::span<const uint8_t> bytes) {
  expected.emplace(bytes.begin(), bytes.end());
  return *this;
}
Turn& Turn::expect(std::string_view text) { return expect(to_bytes(text)); }
Turn& Turn::after(int64_t ms) {
  delay_ms = ms;
  return *this;
}
Turn& Turn::nak(std::span<const uint8_t> answer) {
  refusal.emplace(answer.begin(), answer.end());
  return *this;
}
Turn& Turn::corrupt_checksum() {
  spoil_checksum = true;
  return *this;
}
Turn& Turn::partial(std::size_t bytes) {
  cut_after = bytes;
  return *this;
}
Turn& Turn::noise(std::span<const uint8_t> bytes) {
  garbage.assign(bytes.begin(), bytes.end());
  return *this;
}
Turn& Turn::disconnect() {
  hang_up = true;
  return *this;
}

// ---- the script

void Script::add(Turn turn) {
  std::lock_guard lock(mutex_);
  items_.emplace_back(std::move(turn));
}

void Script::nak(int times, std::span<const uint8_t> answer) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < times; ++i) items_.emplace_back(Turn{}.nak(answer));
}

void Script::unsolicited(std::span<const uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  items_.emplace_back(Unsolicited{{bytes.begin(), bytes.end()}});
}
void Script::unsolicited(std::string_view text) { unsolicited(to_bytes(text)); }

void Script::disconnect() {
  std::lock_guard lock(mutex_);
  items_.emplace_back(Disconnect{});
}

bool Script::done() const {
  std::lock_guard lock(mutex_);
  return items_.empty();
}

std::vector<std::string> Script::mismatches() const {
  std::lock_guard lock(mutex_);
  return mismatches_;
}

std::vector<Script::Item> Script::take_unasked() {
  std::lock_guard lock(mutex_);
  std::vector<Item> out;
  while (!items_.empty() && !std::holds_alternative<Turn>(items_.front())) {
    out.push_back(std::move(items_.front()));
    items_.pop_front();
  }
  return out;
}

std::optional<Turn> Script::take_turn(std::span<const uint8_t> request) {
  std::lock_guard lock(mutex_);
  ++requests_;
  if (items_.empty() || !std::holds_alternative<Turn>(items_.front())) return std::nullopt;
  Turn turn = std::get<Turn>(std::move(items_.front()));
  items_.pop_front();
  if (turn.expected && !std::ranges::equal(*turn.expected, request)) {
    mismatches_.push_back("request " + std::to_string(requests_) + ": expected \"" +
                          printable(*turn.expected) + "\", got \"" + printable(request) + "\"");
  }
  return turn;
}

}  // namespace sim
