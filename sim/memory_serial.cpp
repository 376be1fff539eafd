#include "sim/memory_serial.h"

#include <algorithm>
#include <limits>

#include "common/hooks.h"
#include "common/util.h"

namespace sim {
namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

std::size_t index(SerialOp op) { return static_cast<std::size_t>(op); }

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// What a freshly opened Windows port reports.
sio_dcb_t fresh_state() {
  sio_dcb_t s{};
  s.DCBlength = sizeof s;
  s.BaudRate = 9600;
  s.fBinary = 1;
  s.fDtrControl = SIO_DTR_CONTROL_ENABLE;
  s.fRtsControl = 1;
  s.XonLim = 2048;
  s.XoffLim = 512;
  s.ByteSize = 8;
  s.XonChar = 0x11;
  s.XoffChar = 0x13;
  return s;
}

}  // namespace

// The library's end of a port.
class MemorySerialLine final : public plat::SerialLine {
 public:
  explicit MemorySerialLine(std::shared_ptr<MemorySerialPort> port) : port_(std::move(port)) {}
  ~MemorySerialLine() override {
    // A line dropped without a successful close still frees its port.
    std::lock_guard lock(port_->mutex_);
    port_->open_ = false;
  }

  bool close() override {
    std::lock_guard lock(port_->mutex_);
    port_->record_locked(SerialOp::close);
    if (port_->fails_locked(SerialOp::close)) return false;
    port_->open_ = false;
    return true;
  }
  bool set_event_mask(uint32_t mask) override {
    return simple(SerialOp::event_mask, [&](MemorySerialPort& p) { p.event_mask_ = mask; });
  }
  bool setup_queues(uint32_t in_size, uint32_t out_size) override {
    return simple(SerialOp::setup_queues, [&](MemorySerialPort& p) {
      p.in_size_ = in_size;
      p.out_size_ = out_size;
    });
  }
  bool get_state(sio_dcb_t& state) override {
    return simple(SerialOp::get_state, [&](MemorySerialPort& p) { state = p.state_; });
  }
  bool set_state(const sio_dcb_t& state) override {
    return simple(SerialOp::set_state, [&](MemorySerialPort& p) { p.state_ = state; });
  }
  bool get_timeouts(sio_timeouts_t& timeouts) override {
    return simple(SerialOp::get_timeouts, [&](MemorySerialPort& p) { timeouts = p.timeouts_; });
  }
  bool set_timeouts(const sio_timeouts_t& timeouts) override {
    return simple(SerialOp::set_timeouts, [&](MemorySerialPort& p) { p.timeouts_ = timeouts; });
  }
  bool escape(uint32_t function) override {
    std::lock_guard lock(port_->mutex_);
    port_->record_locked(SerialOp::escape);
    if (port_->fails_locked(SerialOp::escape)) return false;
    if (function == SIO_SETDTR) {
      port_->dtr_ = true;
    } else if (function == SIO_CLRDTR) {
      port_->dtr_ = false;
    }
    return true;
  }
  bool purge(uint32_t flags) override {
    look();
    return simple(SerialOp::purge, [&](MemorySerialPort& p) {
      p.deliver_due_locked(u_ticks_ms());
      if ((flags & SIO_PURGE_RXCLEAR) != 0) p.input_.clear();
      if ((flags & SIO_PURGE_TXCLEAR) != 0) p.output_held_.clear();
    });
  }
  bool clear_error(sio_status_t& status) override {
    look();
    return simple(SerialOp::clear_error, [&](MemorySerialPort& p) {
      p.deliver_due_locked(u_ticks_ms());
      status.errors = p.errors_;
      p.errors_ = 0;
      status.in_queue = static_cast<uint32_t>(p.input_.size());
      status.out_queue = static_cast<uint32_t>(p.output_held_.size());
    });
  }
  bool write(std::span<const uint8_t> buffer, std::size_t& count) override {
    count = 0;
    std::function<void()> hook;
    const bool ok = simple(SerialOp::write, [&](MemorySerialPort& p) {
      auto& to = p.held_ ? p.output_held_ : p.written_;
      to.insert(to.end(), buffer.begin(), buffer.end());
      count = buffer.size();
      if (!p.held_) hook = p.on_write_;
    });
    if (ok && hook) hook();
    return ok;
  }

  // Windows rules: done when all bytes came, when the total time
  // (multiplier * n + constant, if not 0) has passed, or when no byte came
  // for the interval after the first one.
  bool read(std::span<uint8_t> buffer, std::size_t& count) override {
    count = 0;
    std::unique_lock lock(port_->mutex_);
    MemorySerialPort& p = *port_;
    p.record_locked(SerialOp::read);
    p.read_timeouts_.push_back(p.timeouts_);
    if (p.fails_locked(SerialOp::read)) return false;
    std::function<int64_t()> look_hook;
    if (p.on_look_) look_hook = p.on_look_;
    const sio_timeouts_t t = p.timeouts_;
    const int64_t start = u_ticks_ms();
    const bool at_once = t.ReadIntervalTimeout == SIO_MAXDWORD &&
                         t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const int64_t total = static_cast<int64_t>(t.ReadTotalTimeoutMultiplier) * buffer.size() +
                          t.ReadTotalTimeoutConstant;
    const bool has_interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != SIO_MAXDWORD;
    int64_t last_byte = 0;
    for (;;) {
      int64_t peer_next = kNever;
      if (look_hook) {
        lock.unlock();
        peer_next = look_hook();
        lock.lock();
      }
      const int64_t now = u_ticks_ms();
      // A peer that is late with what it meant to say is asked again soon,
      // never in a loop without time passing.
      if (peer_next <= now) peer_next = now + 1;
      p.deliver_due_locked(now);
      while (count < buffer.size() && !p.input_.empty()) {
        buffer[count++] = p.input_.front();
        p.input_.pop_front();
        last_byte = now;
      }
      if (count == buffer.size() || at_once) return true;
      int64_t end = total > 0 ? start + total : kNever;
      if (has_interval && count > 0) end = std::min(end, last_byte + t.ReadIntervalTimeout);
      if (end <= now) return true;
      const int64_t next = std::min(p.next_arrival_locked(), peer_next);
      if (end == kNever && next == kNever) {
        ++p.endless_reads_;
        return false;
      }
      const int64_t wake = std::min(end, next);
      lock.unlock();
      u_sleep_ms(static_cast<int>(std::max<int64_t>(wake - now, 0)));
      lock.lock();
    }
  }

 private:
  template <class Action>
  bool simple(SerialOp op, Action action) {
    std::lock_guard lock(port_->mutex_);
    port_->record_locked(op);
    if (port_->fails_locked(op)) return false;
    action(*port_);
    return true;
  }

  // Lets the peer push what is due before the library looks at its input.
  void look() {
    std::function<int64_t()> hook;
    {
      std::lock_guard lock(port_->mutex_);
      if (!port_->on_look_) return;  // most lines have no peer that looks
      hook = port_->on_look_;
    }
    hook();
  }

  std::shared_ptr<MemorySerialPort> port_;
};

MemorySerialPort::MemorySerialPort() : state_(fresh_state()) {}

void MemorySerialPort::push(std::span<const uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}
void MemorySerialPort::push(std::string_view text) { push(bytes_of(text)); }

void MemorySerialPort::push_after(int64_t delay_ms, std::span<const uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  // In due order, after every arrival due at the same time.
  const int64_t due = u_ticks_ms() + delay_ms;
  const auto at = std::upper_bound(arrivals_.begin(), arrivals_.end(), due,
                                   [](int64_t d, const Arrival& a) { return d < a.due; });
  arrivals_.insert(at, {due, {bytes.begin(), bytes.end()}});
}
void MemorySerialPort::push_after(int64_t delay_ms, std::string_view text) {
  push_after(delay_ms, bytes_of(text));
}

void MemorySerialPort::stream(uint8_t value, int64_t period_ms) {
  std::lock_guard lock(mutex_);
  streaming_ = true;
  stream_value_ = value;
  stream_period_ = std::max<int64_t>(period_ms, 1);
  stream_next_ = u_ticks_ms() + stream_period_;
}

void MemorySerialPort::stop_stream() {
  std::lock_guard lock(mutex_);
  streaming_ = false;
}

void MemorySerialPort::flag_errors(uint32_t errors) {
  std::lock_guard lock(mutex_);
  errors_ |= errors;
}

void MemorySerialPort::hold_output(bool held) {
  std::lock_guard lock(mutex_);
  held_ = held;
  if (!held) {
    written_.insert(written_.end(), output_held_.begin(), output_held_.end());
    output_held_.clear();
  }
}

void MemorySerialPort::on_write(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  on_write_ = std::move(hook);
}

void MemorySerialPort::on_look(std::function<int64_t()> hook) {
  std::lock_guard lock(mutex_);
  on_look_ = std::move(hook);
}

std::vector<uint8_t> MemorySerialPort::take_written() {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> out;
  out.swap(written_);
  return out;
}

void MemorySerialPort::fail(SerialOp op, int times) {
  std::lock_guard lock(mutex_);
  failing_[index(op)] = times;
}

bool MemorySerialPort::is_open() const {
  std::lock_guard lock(mutex_);
  return open_;
}
sio_dcb_t MemorySerialPort::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}
sio_timeouts_t MemorySerialPort::timeouts() const {
  std::lock_guard lock(mutex_);
  return timeouts_;
}
bool MemorySerialPort::dtr() const {
  std::lock_guard lock(mutex_);
  return dtr_;
}
uint32_t MemorySerialPort::event_mask() const {
  std::lock_guard lock(mutex_);
  return event_mask_;
}
uint32_t MemorySerialPort::in_queue_size() const {
  std::lock_guard lock(mutex_);
  return in_size_;
}
uint32_t MemorySerialPort::out_queue_size() const {
  std::lock_guard lock(mutex_);
  return out_size_;
}
int MemorySerialPort::calls(SerialOp op) const {
  std::lock_guard lock(mutex_);
  return calls_[index(op)];
}
std::vector<SerialOp> MemorySerialPort::call_log() const {
  std::lock_guard lock(mutex_);
  return log_;
}
std::vector<sio_timeouts_t> MemorySerialPort::read_timeouts() const {
  std::lock_guard lock(mutex_);
  return read_timeouts_;
}
int MemorySerialPort::endless_reads() const {
  std::lock_guard lock(mutex_);
  return endless_reads_;
}
std::size_t MemorySerialPort::pending_input() const {
  std::lock_guard lock(mutex_);
  return input_.size();
}

bool MemorySerialPort::fails_locked(SerialOp op) {
  int& n = failing_[index(op)];
  if (n == 0) return false;
  if (n > 0) --n;
  return true;
}

void MemorySerialPort::record_locked(SerialOp op) {
  ++calls_[index(op)];
  log_.push_back(op);
}

void MemorySerialPort::deliver_due_locked(int64_t now) {
  auto it = arrivals_.begin();
  for (; it != arrivals_.end() && it->due <= now; ++it)
    input_.insert(input_.end(), it->bytes.begin(), it->bytes.end());
  arrivals_.erase(arrivals_.begin(), it);
  while (streaming_ && stream_next_ <= now) {
    input_.push_back(stream_value_);
    stream_next_ += stream_period_;
  }
}

int64_t MemorySerialPort::next_arrival_locked() const {
  int64_t next = arrivals_.empty() ? kNever : arrivals_.front().due;
  if (streaming_) next = std::min(next, stream_next_);
  return next;
}

MemorySerialPort& MemorySerial::add_port(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto& slot = ports_[name];
  if (!slot) slot = std::make_shared<MemorySerialPort>();
  return *slot;
}

std::unique_ptr<plat::SerialLine> MemorySerial::open(const char* name) {
  std::shared_ptr<MemorySerialPort> port;
  {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(name);
    if (it == ports_.end()) return nullptr;
    port = it->second;
  }
  std::lock_guard lock(port->mutex_);
  port->record_locked(SerialOp::open);
  if (port->open_ || port->fails_locked(SerialOp::open)) return nullptr;
  port->open_ = true;
  return std::make_unique<MemorySerialLine>(port);
}

}  // namespace sim
