// Where the text writers send their bytes. Writers format into a buffer of
// their own and hand it over in large pieces; tests put a failing sink in.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>

namespace felbrin {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // False when not every byte could be written.
  virtual bool write(std::span<const char> bytes) = 0;
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

// Collects text in fixed-size pieces and passes each full piece to the sink.
// Once a write fails, everything after is dropped and ok() stays false.
class SinkBuffer {
 public:
  static constexpr std::size_t kCapacity = 32 * 1024;

  explicit SinkBuffer(ByteSink& sink) : sink_(sink) {}

  // Room for at least `n` (<= kCapacity) more bytes; write there and commit.
  char* reserve(std::size_t n) {
    if (used_ + n > kCapacity) flush();
    return buf_ + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - buf_); }

  bool flush() {
    if (used_ > 0 && ok_) ok_ = sink_.write({buf_, used_});
    used_ = 0;
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  ByteSink& sink_;
  std::size_t used_ = 0;
  bool ok_ = true;
  char buf_[kCapacity];
};

}  // namespace felbrin
