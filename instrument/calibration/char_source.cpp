// Character source over a file or a text in memory.
#include "instrument/calibration/char_source.h"

#include "platform/platform.h"

namespace felbrin {
namespace {

// Large enough that a whole calibration file usually takes one read.
constexpr std::size_t kChunk = 16384;

}  // namespace

std::optional<CalCharSource> CalCharSource::open_file(const char* path) {
  std::FILE* stream = plat::open_file(path, "rb");
  if (stream == nullptr) return std::nullopt;
  return from_stream(stream);
}

CalCharSource CalCharSource::from_stream(std::FILE* stream) {
  CalCharSource src;
  src.file_.reset(stream);
  return src;
}

CalCharSource CalCharSource::from_text(std::string_view text) {
  CalCharSource src;
  src.buffer_.assign(text);
  return src;
}

int CalCharSource::peek_byte() {
  if (pos_ == buffer_.size()) {
    if (!file_ || read_error_) return kEof;
    buffer_.resize(kChunk);
    const std::size_t n = std::fread(buffer_.data(), 1, kChunk, file_.get());
    buffer_.resize(n);
    pos_ = 0;
    if (n == 0) {
      read_error_ = std::ferror(file_.get()) != 0;
      return kEof;
    }
  }
  return static_cast<unsigned char>(buffer_[pos_]);
}

int CalCharSource::get() {
  if (pushed_ != kEof) {
    const int c = pushed_;
    pushed_ = kEof;
    return c;
  }
  const int c = peek_byte();
  if (c == kEof) {
    at_end_ = true;
    return kEof;
  }
  ++pos_;
  // The pair may straddle two buffer fills; peek_byte refills as needed.
  if (c == '\r' && peek_byte() == '\n') {
    ++pos_;
    return '\n';
  }
  return c;
}

void CalCharSource::unget(int c) {
  if (c == kEof) return;
  pushed_ = c;
  at_end_ = false;
}

}  // namespace felbrin
