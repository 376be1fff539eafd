#include "sim/framer.h"

#include <algorithm>

namespace sim {

uint8_t xor8(std::span<const uint8_t> bytes) {
  uint8_t x = 0;
  for (uint8_t b : bytes) x = static_cast<uint8_t>(x ^ b);
  return x;
}

uint8_t sum8(std::span<const uint8_t> bytes) {
  unsigned s = 0;
  for (uint8_t b : bytes) s += b;
  return static_cast<uint8_t>(s & 0xFFu);
}

std::vector<uint8_t> to_bytes(std::string_view text) { return {text.begin(), text.end()}; }

void Framer::feed(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<Frame> Framer::next() {
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(noise(buffer_)));
  const std::size_t n = length(buffer_);
  if (n == 0) return std::nullopt;
  Frame f = unwrap(std::span<const uint8_t>(buffer_).first(n));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  return f;
}

std::size_t Framer::noise(std::span<const uint8_t>) const { return 0; }

// ---- lines

LineFramer::LineFramer(std::string terminator, Checksum checksum)
    : terminator_(std::move(terminator)), checksum_(checksum) {}

std::size_t LineFramer::length(std::span<const uint8_t> buffer) const {
  const auto it = std::search(buffer.begin(), buffer.end(), terminator_.begin(), terminator_.end());
  if (it == buffer.end()) return 0;
  return static_cast<std::size_t>(it - buffer.begin()) + terminator_.size();
}

Frame LineFramer::unwrap(std::span<const uint8_t> raw) const {
  Frame f;
  f.raw.assign(raw.begin(), raw.end());
  std::span<const uint8_t> body = raw.first(raw.size() - terminator_.size());
  if (checksum_ != nullptr) {
    if (body.empty()) {
      f.intact = false;
    } else {
      f.intact = checksum_(body.first(body.size() - 1)) == body.back();
      body = body.first(body.size() - 1);
    }
  }
  f.payload.assign(body.begin(), body.end());
  return f;
}

std::vector<uint8_t> LineFramer::wrap(std::span<const uint8_t> payload) const {
  std::vector<uint8_t> out(payload.begin(), payload.end());
  if (checksum_ != nullptr) out.push_back(checksum_(payload));
  out.insert(out.end(), terminator_.begin(), terminator_.end());
  return out;
}

void LineFramer::spoil_checksum(std::vector<uint8_t>& frame) const {
  // Without a checksum byte the last character of the text stands in for it.
  if (frame.size() > terminator_.size()) frame[frame.size() - terminator_.size() - 1] ^= 0x01;
}

// ---- length prefix

LengthPrefixFramer::LengthPrefixFramer(int prefix_bytes, Checksum checksum)
    : prefix_(prefix_bytes == 2 ? 2 : 1), checksum_(checksum) {}

std::size_t LengthPrefixFramer::length(std::span<const uint8_t> buffer) const {
  if (buffer.size() < prefix_) return 0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < prefix_; ++i) n = n << 8 | buffer[i];
  const std::size_t total = prefix_ + n + (checksum_ != nullptr ? 1 : 0);
  return buffer.size() >= total ? total : 0;
}

Frame LengthPrefixFramer::unwrap(std::span<const uint8_t> raw) const {
  Frame f;
  f.raw.assign(raw.begin(), raw.end());
  std::span<const uint8_t> covered = raw;
  if (checksum_ != nullptr) {
    covered = raw.first(raw.size() - 1);
    f.intact = checksum_(covered) == raw.back();
  }
  const auto body = covered.subspan(prefix_);
  f.payload.assign(body.begin(), body.end());
  return f;
}

std::vector<uint8_t> LengthPrefixFramer::wrap(std::span<const uint8_t> payload) const {
  std::vector<uint8_t> out;
  if (prefix_ == 2) out.push_back(static_cast<uint8_t>(payload.size() >> 8 & 0xFFu));
  out.push_back(static_cast<uint8_t>(payload.size() & 0xFFu));
  out.insert(out.end(), payload.begin(), payload.end());
  if (checksum_ != nullptr) out.push_back(checksum_(out));
  return out;
}

void LengthPrefixFramer::spoil_checksum(std::vector<uint8_t>& frame) const {
  if (frame.size() > prefix_) frame.back() ^= 0x01;
}

// ---- the instrument board

std::size_t BoardFramer::length(std::span<const uint8_t> buffer) const {
  if (buffer.empty()) return 0;
  std::size_t total = buffer[0] + 1u;
  if (buffer.size() >= 2 && buffer[0] == 4 && buffer[1] == ramp_data_) {
    if (buffer.size() < 4) return 0;
    total = 6 + 2u * (static_cast<std::size_t>(buffer[2]) << 8 | buffer[3]);
  }
  return buffer.size() >= total ? total : 0;
}

Frame BoardFramer::unwrap(std::span<const uint8_t> raw) const {
  Frame f;
  f.raw.assign(raw.begin(), raw.end());
  if (raw.size() < 2) {  // a LEN of 0: nothing to check
    f.intact = false;
    return f;
  }
  const auto body = raw.subspan(1, raw.size() - 2);
  if (raw.size() >= 6 && raw[0] == 4 && raw[1] == ramp_data_) {
    f.intact =
        sum8(raw.subspan(1, 3)) == raw[4] && sum8(raw.subspan(5, raw.size() - 6)) == raw.back();
  } else {
    f.intact = raw.size() >= 2 && sum8(body) == raw.back();
  }
  f.payload.assign(body.begin(), body.end());
  return f;
}

std::vector<uint8_t> BoardFramer::wrap(std::span<const uint8_t> payload) const {
  std::vector<uint8_t> out(payload.size() + 2);
  out.front() = static_cast<uint8_t>((payload.size() + 1) & 0xFFu);
  std::copy(payload.begin(), payload.end(), out.begin() + 1);
  out.back() = sum8(payload);
  return out;
}

void BoardFramer::spoil_checksum(std::vector<uint8_t>& frame) const {
  if (frame.size() > 1) frame.back() ^= 0x01;
}

// ---- no framing

Frame RawFramer::unwrap(std::span<const uint8_t> raw) const {
  Frame f;
  f.raw.assign(raw.begin(), raw.end());
  f.payload = f.raw;
  return f;
}

std::vector<uint8_t> RawFramer::wrap(std::span<const uint8_t> payload) const {
  return {payload.begin(), payload.end()};
}

void RawFramer::spoil_checksum(std::vector<uint8_t>& frame) const {
  if (!frame.empty()) frame.back() ^= 0x01;
}

// ---- blocks

BlockFramer::BlockFramer(uint8_t start, uint8_t end, Checksum checksum)
    : start_(start), end_(end), checksum_(checksum) {}

std::size_t BlockFramer::noise(std::span<const uint8_t> buffer) const {
  const auto it = std::find(buffer.begin(), buffer.end(), start_);
  return static_cast<std::size_t>(it - buffer.begin());
}

std::size_t BlockFramer::length(std::span<const uint8_t> buffer) const {
  if (buffer.empty()) return 0;
  const auto it = std::find(buffer.begin() + 1, buffer.end(), end_);
  // The checksum byte follows the end byte.
  if (it == buffer.end() || it + 1 == buffer.end()) return 0;
  return static_cast<std::size_t>(it - buffer.begin()) + 2;
}

Frame BlockFramer::unwrap(std::span<const uint8_t> raw) const {
  Frame f;
  f.raw.assign(raw.begin(), raw.end());
  const auto covered = raw.subspan(1, raw.size() - 2);  // payload and end byte
  f.intact = checksum_(covered) == raw.back();
  f.payload.assign(covered.begin(), covered.end() - 1);
  return f;
}

std::vector<uint8_t> BlockFramer::wrap(std::span<const uint8_t> payload) const {
  std::vector<uint8_t> out(payload.size() + 2);
  out.front() = start_;
  std::ranges::copy(payload, out.begin() + 1);
  out.back() = end_;
  out.push_back(checksum_(std::span<const uint8_t>(out).subspan(1)));
  return out;
}

void BlockFramer::spoil_checksum(std::vector<uint8_t>& frame) const {
  if (!frame.empty()) frame.back() ^= 0x01;
}

// ---- the temperature controller

namespace {

constexpr uint8_t kTempStx = 0x02;
constexpr uint8_t kTempEtx = 0x03;
constexpr uint8_t kTempEot = 0x04;
constexpr uint8_t kTempEnq = 0x05;
constexpr std::size_t kTempHeader = 5;  // EOT and the address

}  // namespace

std::size_t TemperatureFramer::scan(std::span<const uint8_t> buffer, std::size_t& restart) {
  restart = 0;
  const bool write = buffer.size() > kTempHeader && buffer[kTempHeader] == kTempStx;
  for (std::size_t i = 1; i < buffer.size(); ++i) {
    const uint8_t b = buffer[i];
    // The byte after a write's ETX is its check and may be any value.
    if (write && i > kTempHeader + 1 && buffer[i - 1] == kTempEtx) return i + 1;
    if (b == kTempEot) {
      restart = i;
      return 0;
    }
    if (i < kTempHeader || write) continue;
    if (b == kTempEnq) return i + 1;
    if (i == kTempHeader + 1 && buffer[kTempHeader] == 'E' && b == 'E') return i + 1;
  }
  return 0;
}

std::size_t TemperatureFramer::noise(std::span<const uint8_t> buffer) const {
  std::size_t start =
      static_cast<std::size_t>(std::find(buffer.begin(), buffer.end(), kTempEot) - buffer.begin());
  while (start < buffer.size()) {
    std::size_t restart = 0;
    scan(buffer.subspan(start), restart);
    if (restart == 0) break;
    start += restart;
  }
  return start;
}

std::size_t TemperatureFramer::length(std::span<const uint8_t> buffer) const {
  std::size_t restart = 0;
  return buffer.empty() ? 0 : scan(buffer, restart);
}

Frame TemperatureFramer::unwrap(std::span<const uint8_t> raw) const {
  Frame f;
  f.raw.assign(raw.begin(), raw.end());
  if (raw[kTempHeader] == kTempStx) {
    const auto covered =
        raw.subspan(kTempHeader + 1, raw.size() - kTempHeader - 2);  // text and ETX
    f.intact = xor8(covered) == raw.back();
    f.payload.assign(covered.begin(), covered.end() - 1);
  } else {
    const std::size_t end = raw.back() == kTempEnq ? raw.size() - 1 : raw.size();
    f.payload.assign(raw.begin() + kTempHeader, raw.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return f;
}

TemperatureFramer::Kind TemperatureFramer::kind(const Frame& f) {
  if (f.raw.size() > kTempHeader && f.raw[kTempHeader] == kTempStx) return Kind::write;
  return !f.raw.empty() && f.raw.back() == kTempEnq ? Kind::read : Kind::error_query;
}

std::string TemperatureFramer::address(const Frame& f) {
  if (f.raw.size() < kTempHeader) return {};
  return {f.raw.begin() + 1, f.raw.begin() + kTempHeader};
}

std::vector<uint8_t> TemperatureFramer::wrap(std::span<const uint8_t> payload) const {
  // A controller's answer is short; the bound also keeps the size sums below
  // from wrapping.
  constexpr std::size_t kMaxAnswer = 4096;
  if (payload.size() > kMaxAnswer) payload = payload.first(kMaxAnswer);
  std::vector<uint8_t> out(payload.size() + 3);
  out.front() = kTempStx;
  std::ranges::copy(payload, out.begin() + 1);
  out[out.size() - 2] = kTempEtx;
  out.back() = xor8(std::span<const uint8_t>(out).subspan(1, payload.size() + 1));
  return out;
}

void TemperatureFramer::spoil_checksum(std::vector<uint8_t>& frame) const {
  if (frame.size() > 1) frame.back() ^= 0x01;
}

}  // namespace sim
