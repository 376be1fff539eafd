// Where the text writers send their bytes. Writers format into a buffer of
// their own and hand it over in large pieces; tests put a failing sink in.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string>

namespace felbrin {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // False when not every byte could be written.
  virtual bool write(std::span<const char> bytes) = 0;
};

// A sink that keeps every byte, for a writer's text wanted in memory.
class StringSink final : public ByteSink {
 public:
  bool write(std::span<const char> bytes) override {
    text.append(bytes.data(), bytes.size());
    return true;
  }
  std::string text;
};

// A sink over an open stream (opened in binary mode: the writers put in the
// platform's line ends themselves).
class StreamSink final : public ByteSink {
 public:
  explicit StreamSink(std::FILE* f) : f_(f) {}
  bool write(std::span<const char> bytes) override {
    return std::fwrite(bytes.data(), 1, bytes.size(), f_) == bytes.size();
  }

 private:
  std::FILE* f_;
};

// Closes a stream a writer filled, returning the writer's code `rc`, or
// `write_failed` when rc was 0 but the flush or the close failed (a full disk
// may only show when the last bytes leave the stream buffer).
inline int close_written(std::FILE* f, int rc, int write_failed) {
  if (std::fflush(f) != 0 && rc == 0) rc = write_failed;
  if (std::fclose(f) != 0 && rc == 0) rc = write_failed;
  return rc;
}

// A fixed-size buffer in front of a sink. Writers keep their own write
// pointer into it (cheaper than a call per piece), check it against limit()
// and hand the filled part over with flush(). Once a write fails, later
// flushes are dropped and ok() stays false.
class SinkBuffer {
 public:
  static constexpr std::size_t kCapacity = 32 * 1024;

  explicit SinkBuffer(ByteSink& sink) : sink_(sink) {}

  char* begin() { return buf_; }
  // The last position from which `room` (<= kCapacity) more bytes still fit.
  const char* limit(std::size_t room) const { return buf_ + kCapacity - room; }
  // Hands [begin(), end) to the sink; returns begin() to go on from.
  char* flush(const char* end) {
    if (ok_ && end > buf_) ok_ = sink_.write({buf_, static_cast<std::size_t>(end - buf_)});
    return buf_;
  }
  bool ok() const { return ok_; }

 private:
  ByteSink& sink_;
  bool ok_ = true;
  char buf_[kCapacity];
};

}  // namespace felbrin
