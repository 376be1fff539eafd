/// @file
/// What a test wants to happen on the line besides the instrument's honest
/// answers: expectations on what the library sends and the faults a real
/// line or instrument shows. The runner consults the script before the model.
///
/// A script is a queue. A turn governs the next request; unsolicited bytes
/// and a disconnect take effect as soon as they reach the front, that is
/// right after the turns queued before them. Requests past the end of the
/// script go to the model untouched.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sim {

/// What happens to one request; the setters return the turn, so they chain.
struct Turn {
  std::optional<std::vector<uint8_t>> expected;  ///< the exact request bytes
  int64_t delay_ms = 0;                          ///< before the answer is readable
  std::optional<std::vector<uint8_t>> refusal;   ///< sent instead of asking the model
  bool spoil_checksum = false;                   ///< of the first answer frame
  std::optional<std::size_t> cut_after;          ///< bytes of the answer sent, then silence
  std::vector<uint8_t> garbage;                  ///< sent ahead of the answer
  bool hang_up = false;                          ///< the line dies on this request

  /// The request must be exactly `bytes`.
  Turn& expect(std::span<const uint8_t> bytes);
  /// The request must be exactly `text`.
  Turn& expect(std::string_view text);
  /// The answer becomes readable `ms` after the request.
  Turn& after(int64_t ms);
  /// `answer` goes out instead of the model's answer.
  Turn& nak(std::span<const uint8_t> answer);
  /// The first answer frame goes out with a spoiled checksum.
  Turn& corrupt_checksum();
  /// Only the first `bytes` of the answer go out, then silence.
  Turn& partial(std::size_t bytes);
  /// No answer at all.
  Turn& silence() { return partial(0); }
  /// `bytes` go out ahead of the answer.
  Turn& noise(std::span<const uint8_t> bytes);
  /// The line dies on this request.
  Turn& disconnect();
};

/// The queue of turns and unasked events a test sets up (see the file comment).
class Script {
 public:
  /// Bytes sent unasked.
  struct Unsolicited {
    std::vector<uint8_t> bytes;  ///< the bytes
  };
  /// The line going dead, unasked.
  struct Disconnect {};
  /// One entry of the queue.
  using Item = std::variant<Turn, Unsolicited, Disconnect>;

  /// Queues a turn for the request after those already queued, for
  /// instance add(Turn{}.expect("ID?\r").after(200)).
  void add(Turn turn);
  /// `times` turns answered with `answer` instead of by the model.
  void nak(int times, std::span<const uint8_t> answer);
  /// Queues bytes sent unasked.
  void unsolicited(std::span<const uint8_t> bytes);
  /// Queues text sent unasked.
  void unsolicited(std::string_view text);
  /// Queues the line going dead.
  void disconnect();

  /// Everything queued has been consumed.
  bool done() const;
  /// One line per request that differed from its expectation.
  std::vector<std::string> mismatches() const;

  // ---- the runner's side

  /// The unsolicited items at the front, taken off.
  std::vector<Item> take_unasked();
  /// The turn for a request that just came, if the script has one for it;
  /// checks its expectation against `request`.
  std::optional<Turn> take_turn(std::span<const uint8_t> request);

 private:
  mutable std::mutex mutex_;
  std::deque<Item> items_;
  std::vector<std::string> mismatches_;
  int requests_ = 0;
};

/// Bytes as text a person can read in a failure message: printable
/// characters as they are, the rest as `<hex>`.
std::string printable(std::span<const uint8_t> bytes);

}  // namespace sim
