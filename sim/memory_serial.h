/// @file
/// An in-memory serial line: the library's end is a serial back end, the other
/// end (the peer) is driven by a test or a simulated device.
///
/// Time is the library's clock (u_ticks_ms, u_sleep_ms). A read that has to
/// wait applies the Windows timeout rules to that clock and passes the time
/// with u_sleep_ms, so on a virtual clock a 10 s timeout costs nothing and
/// ends exactly on time.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_backend.h"

namespace sim {

/// The operations of a line, for failure injection and call records.
enum class SerialOp {
  open,
  close,
  event_mask,
  setup_queues,
  get_state,
  set_state,
  get_timeouts,
  set_timeouts,
  escape,
  purge,
  clear_error,
  read,
  write,
};
inline constexpr std::size_t kSerialOpCount = 13;  ///< the number of SerialOp values

/// One line: its peer end, and everything the library did to it.
class MemorySerialPort {
 public:
  MemorySerialPort();

  // ---- the peer talks

  /// Bytes readable by the library at once.
  void push(std::span<const uint8_t> bytes);
  /// Text readable by the library at once.
  void push(std::string_view text);
  /// Readable `delay_ms` after now.
  void push_after(int64_t delay_ms, std::span<const uint8_t> bytes);
  /// Text readable `delay_ms` after now.
  void push_after(int64_t delay_ms, std::string_view text);
  /// One byte of `value` every `period_ms`, starting one period from now,
  /// until stop_stream.
  void stream(uint8_t value, int64_t period_ms);
  /// Ends the stream of stream().
  void stop_stream();
  /// Line errors reported by the next error query of the library.
  void flag_errors(uint32_t errors);
  /// While held, written bytes wait in the output queue, as behind a
  /// lowered CTS or a received XOFF; releasing delivers them.
  void hold_output(bool held);

  /// Called on the library's thread right after each write that reached the
  /// peer, without the port's lock: a test steps its runner here, so a
  /// device answers within the library call that asked (null: none).
  void on_write(std::function<void()> hook);
  /// Called on the library's thread, without the port's lock, whenever the
  /// library looks at its input (each read, before it starts and whenever
  /// it would wait; each error query and purge): a peer that speaks unasked
  /// pushes what is due by now. It answers when it next wants to be asked
  /// (on the library's clock; INT64_MAX: not before the library looks
  /// again), and a waiting read wakes then, so unasked lines arrive exactly
  /// on time (null: none).
  void on_look(std::function<int64_t()> hook);

  // ---- the peer listens

  /// Everything the library wrote (and that left the output queue), taken
  /// away from the port.
  std::vector<uint8_t> take_written();

  // ---- failure injection

  /// The next `times` calls of `op` fail (-1: all of them until cleared
  /// with 0).
  void fail(SerialOp op, int times = -1);

  // ---- observations

  /// True while the library has the line open.
  bool is_open() const;
  /// The line state the library last set.
  sio_dcb_t state() const;
  /// The timeouts the library last set.
  sio_timeouts_t timeouts() const;
  /// True while DTR is raised.
  bool dtr() const;
  /// The event mask the library last set.
  uint32_t event_mask() const;
  /// The input queue size the library asked for.
  uint32_t in_queue_size() const;
  /// The output queue size the library asked for.
  uint32_t out_queue_size() const;
  /// How often the library called `op`.
  int calls(SerialOp op) const;
  /// Every call of the library, in order.
  std::vector<SerialOp> call_log() const;
  /// The timeouts in force at each read, in order.
  std::vector<sio_timeouts_t> read_timeouts() const;
  /// Reads that would have waited for ever (no timeout and nothing coming):
  /// they fail instead of hanging the test.
  int endless_reads() const;
  /// Bytes not yet read by the library (due ones only).
  std::size_t pending_input() const;

 private:
  friend class MemorySerialLine;
  friend class MemorySerial;

  struct Arrival {
    int64_t due;
    std::vector<uint8_t> bytes;
  };

  /// Both take the lock themselves or expect it held, as named.
  bool fails_locked(SerialOp op);
  void record_locked(SerialOp op);
  void deliver_due_locked(int64_t now);
  int64_t next_arrival_locked() const;

  mutable std::mutex mutex_;
  bool open_ = false;
  sio_dcb_t state_{};
  sio_timeouts_t timeouts_{};
  bool dtr_ = false;
  uint32_t event_mask_ = 0;
  uint32_t in_size_ = 0;
  uint32_t out_size_ = 0;
  uint32_t errors_ = 0;
  bool held_ = false;
  std::function<void()> on_write_;
  std::function<int64_t()> on_look_;
  std::deque<uint8_t> input_;
  std::vector<Arrival> arrivals_;
  bool streaming_ = false;
  uint8_t stream_value_ = 0;
  int64_t stream_period_ = 1;
  int64_t stream_next_ = 0;
  std::vector<uint8_t> output_held_;
  std::vector<uint8_t> written_;
  std::array<int, kSerialOpCount> failing_{};
  std::array<int, kSerialOpCount> calls_{};
  std::vector<SerialOp> log_;
  std::vector<sio_timeouts_t> read_timeouts_;
  int endless_reads_ = 0;
};

/// The back end: opens the ports added to it by name, one opener at a time.
class MemorySerial final : public plat::SerialBackend {
 public:
  /// The port of that name, made on first use.
  MemorySerialPort& add_port(const std::string& name);
  /// Opens the port added as `name`; null for an unknown name, a port
  /// already open or an injected failure.
  std::unique_ptr<plat::SerialLine> open(const char* name) override;

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<MemorySerialPort>> ports_;
};

}  // namespace sim
