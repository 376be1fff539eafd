#include "sim/can/bus.h"

#include <algorithm>
#include <utility>

namespace cansim {

int SimBus::attach(std::function<bool(const Frame&)> accepts) {
  Station station;
  station.attached = true;
  station.accepts = std::move(accepts);
  stations_.push_back(std::move(station));
  return static_cast<int>(stations_.size()) - 1;
}

void SimBus::detach(int station) {
  Station& s = stations_.at(station);
  s.attached = false;
  s.queue.clear();
  std::erase_if(held_, [station](const Held& h) { return h.from == station; });
}

bool SimBus::transmit(int from, const Frame& frame) {
  if (state_ == BusState::off) return false;
  // A receiver with a full queue holds the frame off the bus: the sender
  // sees the failure, as a controller whose frame is never acknowledged.
  for (std::size_t i = 0; i < stations_.size(); ++i) {
    const Station& s = stations_[i];
    if (static_cast<int>(i) != from && s.attached && s.accepts(frame) &&
        s.queue.size() >= kQueueDepth)
      return false;
  }
  ++frames_;
  if (drop_countdown_ > 0 && --drop_countdown_ == 0) return true;  // lost on the wire
  for (std::size_t i = 0; i < stations_.size(); ++i) {
    Station& s = stations_[i];
    if (static_cast<int>(i) != from && s.attached && s.accepts(frame)) s.queue.push_back(frame);
  }
  return true;
}

bool SimBus::send(int station, const Frame& frame, int64_t delay_ms) {
  if (state_ == BusState::off) return false;
  if (delay_ms <= 0) return transmit(station, frame);
  held_.push_back(Held{clock_() + delay_ms, station, frame});
  return true;
}

void SimBus::withdraw(int station, uint16_t cob_id) {
  std::erase_if(held_,
                [&](const Held& h) { return h.from == station && h.frame.cob_id == cob_id; });
}

bool SimBus::receive(int station, Frame& out) {
  Station& s = stations_.at(station);
  if (s.queue.empty()) return false;
  out = s.queue.front();
  s.queue.pop_front();
  return true;
}

int64_t SimBus::advance() {
  const int64_t now = clock_();
  int64_t next = kNever;
  // In order of sending, so that frames due at the same time keep it.
  for (std::size_t i = 0; i < held_.size();) {
    if (held_[i].due <= now) {
      const Held h = held_[i];
      held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
      transmit(h.from, h.frame);  // a late frame that cannot be sent is lost
    } else {
      next = std::min(next, held_[i].due);
      ++i;
    }
  }
  return next;
}

}  // namespace cansim
