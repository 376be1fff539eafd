// Shared by the device fuzz targets: the fuzzer's bytes as everything a
// device sends, on a virtual clock, with a guard on the time each command
// takes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "common/hooks.h"
#include "fuzz/fuzz_support.h"
#include "instrument/serial/serial_port.h"
#include "sim/memory_serial.h"

namespace felbrin::fuzz {

// The input, taken from the front; past its end every byte is 0, so a
// short input is a device that answers zeros and nothing else.
class ByteStream {
 public:
  explicit ByteStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool empty() const { return bytes_.empty(); }
  uint8_t byte() {
    if (bytes_.empty()) return 0;
    const uint8_t b = bytes_.front();
    bytes_ = bytes_.subspan(1);
    return b;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }
  // Up to `n` bytes, fewer at the end.
  std::span<const uint8_t> take(std::size_t n) {
    const std::span<const uint8_t> out = bytes_.first(std::min(n, bytes_.size()));
    bytes_ = bytes_.subspan(out.size());
    return out;
  }

 private:
  std::span<const uint8_t> bytes_;
};

// The library's clock: a wait costs nothing and time moves only by waits.
class VirtualTime {
 public:
  VirtualTime() {
    now() = 0;
    u_set_sleep_fn(sleep);
    u_set_ticks_fn(ticks);
  }
  static int64_t elapsed() { return now(); }

 private:
  static int64_t& now() {
    static int64_t t = 0;
    return t;
  }
  static void sleep(uint32_t ms) { now() += ms; }
  static int64_t ticks() { return now(); }
};

// A command may take its documented timeout and a little more (the line's
// own byte times, the pauses between polls); anything beyond is a hang.
inline constexpr int64_t kHangMarginMs = 1000;

class HangGuard {
 public:
  explicit HangGuard(int64_t limit_ms) : start_(VirtualTime::elapsed()), limit_(limit_ms) {}
  ~HangGuard() {
    if (VirtualTime::elapsed() - start_ > limit_ + kHangMarginMs) std::abort();
  }
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

 private:
  int64_t start_;
  int64_t limit_;
};

// A device on an in-memory line whose answers come from the input: after
// each write of the library the next reply arrives. A reply is one header
// byte (low 7 bits: its length; the high bit: it comes late, after the
// next byte times 50 ms), then its bytes. Replies arrive in the order they
// were made, so the bytes sent and not yet read are the tail of the sent
// ones, and a target can tell whether a reply the library took was sent.
class FuzzedLine {
 public:
  FuzzedLine(ByteStream& input, const char* name)
      : input_(input), peer_(backend_.add_port(name)), saved_(sio_set_backend(&backend_)) {
    peer_.on_write([this] { answer(); });
  }
  ~FuzzedLine() { sio_set_backend(saved_); }
  FuzzedLine(const FuzzedLine&) = delete;
  FuzzedLine& operator=(const FuzzedLine&) = delete;

  sim::MemorySerialPort& peer() { return peer_; }
  // Forgets what the library has read by now; the bytes sent from here on
  // follow the ones it has not read yet.
  void mark(sio_handle_t handle) {
    uint32_t waiting = 0;
    (void)sio_bytes_waiting(handle, &waiting);  // takes in what is due
    std::size_t unread = peer_.pending_input();
    for (const Late& l : late_) unread += l.due > VirtualTime::elapsed() ? l.size : 0;
    std::erase_if(late_, [](const Late& l) { return l.due <= VirtualTime::elapsed(); });
    sent_.erase(sent_.begin(), sent_.end() - static_cast<std::ptrdiff_t>(std::min(unread, sent_.size())));
  }
  const std::vector<uint8_t>& sent() const { return sent_; }
  std::string_view sent_text() const {
    return {reinterpret_cast<const char*>(sent_.data()), sent_.size()};
  }

 private:
  void answer() {
    const uint8_t header = input_.byte();
    int64_t delay = (header & 0x80) != 0 ? int64_t{input_.byte()} * 50 : 0;
    const std::span<const uint8_t> reply = input_.take(header & 0x7F);
    sent_.insert(sent_.end(), reply.begin(), reply.end());
    // Every reply joins the line's queue of arrivals, even one due now: an
    // earlier late reply that has fallen due but not yet been taken in is
    // still queued there, and a reply put straight into the input would
    // overtake it.
    const int64_t now = VirtualTime::elapsed();
    delay = std::max({delay, last_due_ - now, int64_t{0}});
    last_due_ = now + delay;
    late_.push_back({last_due_, reply.size()});
    peer_.push_after(delay, reply);
  }

  struct Late {
    int64_t due;
    std::size_t size;
  };

  ByteStream& input_;
  sim::MemorySerial backend_;
  sim::MemorySerialPort& peer_;
  plat::SerialBackend* saved_;
  std::vector<uint8_t> sent_;
  std::vector<Late> late_;
  int64_t last_due_ = 0;
};

// Every reply the fuzzer could make is an input of a few hundred bytes;
// longer ones only slow the run down.
inline constexpr std::size_t kMaxDeviceInput = 4096;

inline void expect(bool holds) {
  if (!holds) std::abort();
}

// One run of a target: quiet, on the virtual clock, with a device on the
// line `port` answering from the input, and up to twelve commands, each
// chosen by one byte of it.
class DeviceRun {
 public:
  DeviceRun(std::span<const uint8_t> data, const char* port) : input(data), line(input, port) {}
  template <class Command>
  void commands(Command command) {
    for (int i = 0; i < 12 && !input.empty(); ++i) command(input.byte());
  }

  VirtualTime clock;
  ByteStream input;
  FuzzedLine line;
};

inline bool usable_input(std::size_t size) {
  if (size < 1 || size > kMaxDeviceInput) return false;
  set_up_quietly();
  return true;
}

}  // namespace felbrin::fuzz
