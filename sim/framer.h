/// @file
/// Cutting the byte stream the library writes into requests, and dressing a
/// device's answers in the same framing. Every instrument protocol of the
/// library is one of three kinds: text lines, a length prefix, or a block
/// between start and end bytes with a checksum.
///
/// The checksums here are the simulator's own, written apart from the
/// library's, so a transcription error in either shows up in the tests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// One request cut from the line.
struct Frame {
  std::vector<uint8_t> raw;      ///< as it came off the line
  std::vector<uint8_t> payload;  ///< without framing and checksum
  bool intact = true;            ///< false: the checksum did not match

  /// The payload as text.
  std::string text() const { return {payload.begin(), payload.end()}; }
};

/// A checksum over a run of bytes.
using Checksum = uint8_t (*)(std::span<const uint8_t> bytes);
/// The exclusive-or of the bytes.
uint8_t xor8(std::span<const uint8_t> bytes);
/// The 8-bit sum of the bytes.
uint8_t sum8(std::span<const uint8_t> bytes);

/// The characters of `text` as bytes.
std::vector<uint8_t> to_bytes(std::string_view text);

/// Cuts a byte stream into requests and frames answers; one subclass per
/// protocol kind.
class Framer {
 public:
  virtual ~Framer() = default;

  /// Adds bytes the library wrote.
  void feed(std::span<const uint8_t> bytes);
  /// The next complete request, if one has come.
  std::optional<Frame> next();
  /// Bytes received that belong to no complete frame yet.
  std::size_t buffered() const { return buffer_.size(); }
  /// Forgets the bytes received.
  void reset() { buffer_.clear(); }

  /// A frame carrying `payload`, as the device sends it.
  virtual std::vector<uint8_t> wrap(std::span<const uint8_t> payload) const = 0;
  /// Spoils the checksum of a frame made by wrap (for fault injection).
  virtual void spoil_checksum(std::vector<uint8_t>& frame) const = 0;

 protected:
  /// How many leading bytes of `buffer` can never start a frame (noise
  /// between frames); they are dropped.
  virtual std::size_t noise(std::span<const uint8_t> buffer) const;
  /// The length of the frame at the start of `buffer`, 0 while incomplete.
  virtual std::size_t length(std::span<const uint8_t> buffer) const = 0;
  /// The frame of a complete run of `raw` bytes that length() measured.
  virtual Frame unwrap(std::span<const uint8_t> raw) const = 0;

 private:
  std::vector<uint8_t> buffer_;
};

/// Text lines ending in `terminator` (for instance "\r" or "\r\n"). With a
/// checksum, its byte sits just before the terminator and covers the text.
class LineFramer final : public Framer {
 public:
  /// Lines ending in `terminator`, with `checksum` (null: none).
  explicit LineFramer(std::string terminator, Checksum checksum = nullptr);
  std::vector<uint8_t> wrap(std::span<const uint8_t> payload) const override;
  void spoil_checksum(std::vector<uint8_t>& frame) const override;

 protected:
  std::size_t length(std::span<const uint8_t> buffer) const override;
  Frame unwrap(std::span<const uint8_t> raw) const override;

 private:
  std::string terminator_;
  Checksum checksum_;
};

/// A length field of 1 or 2 bytes (big-endian) counting the payload, the
/// payload, and an optional checksum byte over length field and payload.
class LengthPrefixFramer final : public Framer {
 public:
  /// A length field of `prefix_bytes` (1 or 2), with `checksum` (null: none).
  explicit LengthPrefixFramer(int prefix_bytes, Checksum checksum = nullptr);
  std::vector<uint8_t> wrap(std::span<const uint8_t> payload) const override;
  void spoil_checksum(std::vector<uint8_t>& frame) const override;

 protected:
  std::size_t length(std::span<const uint8_t> buffer) const override;
  Frame unwrap(std::span<const uint8_t> raw) const override;

 private:
  std::size_t prefix_;
  Checksum checksum_;
};

/// No framing at all: whatever has arrived is one request, exactly as it
/// came. For devices that answer byte by byte, such as a loopback plug.
class RawFramer final : public Framer {
 public:
  std::vector<uint8_t> wrap(std::span<const uint8_t> payload) const override;
  /// There is no checksum: the last byte stands in for one.
  void spoil_checksum(std::vector<uint8_t>& frame) const override;

 protected:
  std::size_t length(std::span<const uint8_t> buffer) const override { return buffer.size(); }
  Frame unwrap(std::span<const uint8_t> raw) const override;
};

/// start, payload, end, checksum over payload and end byte. Bytes before a
/// start byte are noise and dropped.
class BlockFramer final : public Framer {
 public:
  /// Blocks between `start` and `end` with `checksum`.
  BlockFramer(uint8_t start, uint8_t end, Checksum checksum);
  std::vector<uint8_t> wrap(std::span<const uint8_t> payload) const override;
  void spoil_checksum(std::vector<uint8_t>& frame) const override;

 protected:
  std::size_t noise(std::span<const uint8_t> buffer) const override;
  std::size_t length(std::span<const uint8_t> buffer) const override;
  Frame unwrap(std::span<const uint8_t> raw) const override;

 private:
  uint8_t start_;
  uint8_t end_;
  Checksum checksum_;
};

/// The instrument board's packets: LEN counts code, parameters and checksum,
/// and the checksum (a sum) leaves LEN out. The ramp data command is the odd
/// one: LEN 4, then a point count N, a checksum of code and count, N 16-bit
/// points and a checksum of their bytes, 6 + 2N bytes in all.
class BoardFramer final : public Framer {
 public:
  /// `ramp_data_code` is the board's RAMP_DATA command code.
  explicit BoardFramer(uint8_t ramp_data_code) : ramp_data_(ramp_data_code) {}
  /// The payload is code and data; LEN and checksum are added.
  std::vector<uint8_t> wrap(std::span<const uint8_t> payload) const override;
  void spoil_checksum(std::vector<uint8_t>& frame) const override;
  /// A ramp data request's payload is everything after LEN but its last
  /// byte: code, count, count checksum and points.
  bool is_ramp_data(const Frame& f) const {
    return f.raw.size() > 1 && f.raw[1] == ramp_data_ && f.raw[0] == 4;
  }

 protected:
  std::size_t length(std::span<const uint8_t> buffer) const override;
  Frame unwrap(std::span<const uint8_t> raw) const override;

 private:
  uint8_t ramp_data_;
};

/// The temperature controller's messages: EOT and a four-character address,
/// then a read (mnemonic and ENQ), a write (STX, text, ETX and the XOR of text
/// and ETX) or the error query ("EE" with no ENQ, so it ends after seven
/// bytes). The payload is the mnemonic or the write's text. A new EOT before a
/// message is complete starts over; the unfinished one is noise. The
/// controller's data blocks (wrap) are STX, payload, ETX and the same XOR.
class TemperatureFramer final : public Framer {
 public:
  /// The kinds of message.
  enum class Kind {
    read,        ///< mnemonic and ENQ
    write,       ///< STX, text, ETX and the check
    error_query  ///< "EE" with no ENQ
  };
  /// The kind of a message this framer cut.
  static Kind kind(const Frame& f);
  /// The four-character address of a message this framer cut.
  static std::string address(const Frame& f);

  std::vector<uint8_t> wrap(std::span<const uint8_t> payload) const override;
  /// Single-byte answers (ACK, NAK, EOT) carry no check and are left alone.
  void spoil_checksum(std::vector<uint8_t>& frame) const override;

 protected:
  std::size_t noise(std::span<const uint8_t> buffer) const override;
  std::size_t length(std::span<const uint8_t> buffer) const override;
  Frame unwrap(std::span<const uint8_t> raw) const override;

 private:
  /// For a buffer starting with EOT: the message's length once complete, 0
  /// while incomplete; `restart` gets the offset of an EOT that cuts it off.
  static std::size_t scan(std::span<const uint8_t> buffer, std::size_t& restart);
};

}  // namespace sim
