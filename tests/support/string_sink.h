// A byte sink that keeps what it is given, and fails once `limit` bytes are in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "common/byte_sink.h"

namespace felbrin::test {

class StringSink : public felbrin::ByteSink {
 public:
  explicit StringSink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  bool write(std::span<const char> bytes) override {
    const std::size_t room = limit_ - std::min(limit_, text.size());
    text.append(bytes.data(), std::min(room, bytes.size()));
    return bytes.size() <= room;
  }
  std::string text;

 private:
  std::size_t limit_;
};

}  // namespace felbrin::test
