// CAN frames and the bus that carries them between the simulated nodes and
// their bridge.
//
// `Transport` is what a station (node or bridge) needs from a bus: attach
// with an acceptance filter, send, receive. `SimBus` is the in-process bus:
// frames travel on the simulation clock (a frame may be held back by its
// sender, as a slow node answers late), each station has a bounded queue of
// received frames, and the faults of a real bus are set from outside: the
// n-th frame lost, the bus off. A transport over a real interface would be
// another `Transport`.
//
// Not thread-safe: the simulation's lock covers the bus and its stations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <vector>

namespace cansim {

// One CAN 2.0A frame: an 11-bit COB-ID, up to 8 data bytes, or a remote
// request (no data).
struct Frame {
  uint16_t cob_id = 0;
  bool rtr = false;
  uint8_t len = 0;
  std::array<uint8_t, 8> data{};
};

inline constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

class Transport {
 public:
  virtual ~Transport() = default;
  // A station whose queue keeps the frames `accepts` takes; its number.
  virtual int attach(std::function<bool(const Frame&)> accepts) = 0;
  virtual void detach(int station) = 0;
  // Sends from `station`, on the bus `delay_ms` from now. False when the
  // frame cannot be sent: bus off, or a receiver's queue is full.
  virtual bool send(int station, const Frame& frame, int64_t delay_ms) = 0;
  // Takes back the frames of `station` with that COB-ID that are not on the
  // bus yet (a transfer given up).
  virtual void withdraw(int station, uint16_t cob_id) = 0;
  // The next frame received by `station`; false when none is waiting.
  virtual bool receive(int station, Frame& out) = 0;
  // Puts on the bus the held-back frames whose time has come; the time the
  // next one is due, or kNever.
  virtual int64_t advance() = 0;
};

enum class BusState { active, error_passive, off };

class SimBus final : public Transport {
 public:
  // Frames each station may hold unread.
  static constexpr std::size_t kQueueDepth = 64;

  explicit SimBus(std::function<int64_t()> clock) : clock_(std::move(clock)) {}

  int attach(std::function<bool(const Frame&)> accepts) override;
  void detach(int station) override;
  bool send(int station, const Frame& frame, int64_t delay_ms) override;
  void withdraw(int station, uint16_t cob_id) override;
  bool receive(int station, Frame& out) override;
  int64_t advance() override;

  // ---- faults
  // The n-th frame put on the bus from now is lost (1 = the next; 0 none).
  void drop_frame(int n) { drop_countdown_ = n; }
  void set_state(BusState state) { state_ = state; }
  BusState state() const { return state_; }
  // Frames put on the bus since construction, lost ones included.
  uint64_t frames() const { return frames_; }

 private:
  struct Station {
    bool attached = false;
    std::function<bool(const Frame&)> accepts;
    std::deque<Frame> queue;
  };
  struct Held {
    int64_t due;
    int from;
    Frame frame;
  };
  // Puts the frame on the wire now: every other station that accepts it
  // gets it, unless a fault takes it.
  bool transmit(int from, const Frame& frame);

  std::function<int64_t()> clock_;
  std::vector<Station> stations_;
  std::vector<Held> held_;  // in order of sending
  BusState state_ = BusState::active;
  int drop_countdown_ = 0;
  uint64_t frames_ = 0;
};

}  // namespace cansim
