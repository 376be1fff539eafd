#include "app/png.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace app {
namespace {

constexpr std::size_t kChunkData = 1 << 18;  // bytes of compressed data per IDAT chunk

void put_u32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

bool write_bytes(felbrin::ByteSink& sink, const uint8_t* data, std::size_t size) {
  return sink.write({reinterpret_cast<const char*>(data), size});
}

// One chunk: length, type, data, and the CRC of type and data.
bool write_chunk(felbrin::ByteSink& sink, std::string_view type, const uint8_t* data,
                 std::size_t size) {
  uint8_t head[8];
  put_u32(head, static_cast<uint32_t>(size));
  std::memcpy(head + 4, type.data(), 4);
  uLong crc = crc32(0L, head + 4, 4);
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  uint8_t tail[4];
  put_u32(tail, static_cast<uint32_t>(crc));
  return write_bytes(sink, head, sizeof head) && (size == 0 || write_bytes(sink, data, size)) &&
         write_bytes(sink, tail, sizeof tail);
}

int channels(PngFormat::Colour c) {
  switch (c) {
    case PngFormat::kGrey: return 1;
    case PngFormat::kRgb: return 3;
    case PngFormat::kRgba: return 4;
  }
  return 0;
}

// The deflate stream of the image data, cut into IDAT chunks as it fills.
class IdatStream {
 public:
  explicit IdatStream(felbrin::ByteSink& sink) : sink_(sink), out_(kChunkData) {}
  ~IdatStream() {
    if (open_) deflateEnd(&z_);
  }
  IdatStream(const IdatStream&) = delete;
  IdatStream& operator=(const IdatStream&) = delete;

  bool open(int level) {
    // Default window and memory; the filtered strategy suits rows that
    // carry differences to the row above.
    open_ = deflateInit2(&z_, level, Z_DEFLATED, 15, 8, Z_FILTERED) == Z_OK;
    z_.next_out = out_.data();
    z_.avail_out = static_cast<uInt>(out_.size());
    return open_;
  }
  bool add(const uint8_t* data, std::size_t size, bool last) {
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    for (;;) {
      const int rc = deflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
      if (rc == Z_STREAM_ERROR) return false;
      if (z_.avail_out == 0 && !flush()) return false;
      if (last ? rc == Z_STREAM_END : z_.avail_in == 0) break;
    }
    return !last || flush();
  }

 private:
  bool flush() {
    const std::size_t used = out_.size() - z_.avail_out;
    if (used > 0 && !write_chunk(sink_, "IDAT", out_.data(), used)) return false;
    z_.next_out = out_.data();
    z_.avail_out = static_cast<uInt>(out_.size());
    return true;
  }

  felbrin::ByteSink& sink_;
  z_stream z_{};
  bool open_ = false;
  std::vector<uint8_t> out_;
};

}  // namespace

std::size_t PngFormat::row_bytes() const {
  return std::size_t{width} * static_cast<std::size_t>(channels(colour)) *
         static_cast<std::size_t>(bit_depth / 8);
}

bool write_png(felbrin::ByteSink& sink, const PngFormat& format, const PngRowFn& row) {
  if (format.width == 0 || format.height == 0 || channels(format.colour) == 0 ||
      (format.bit_depth != 8 && format.bit_depth != 16))
    return false;
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  uint8_t header[13];
  put_u32(header, format.width);
  put_u32(header + 4, format.height);
  header[8] = static_cast<uint8_t>(format.bit_depth);
  header[9] = format.colour;
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, no interlace
  if (!write_bytes(sink, kSignature, sizeof kSignature) ||
      !write_chunk(sink, "IHDR", header, sizeof header))
    return false;

  IdatStream idat(sink);
  if (!idat.open(format.level)) return false;
  // Every row is filtered with "up" (its difference to the row above):
  // cheap, and it turns the smooth maps into mostly small values.
  const std::size_t n = format.row_bytes();
  std::vector<uint8_t> previous(n, 0), current(n), filtered(n + 1);
  filtered[0] = 2;
  for (uint32_t y = 0; y < format.height; ++y) {
    row(y, current);
    for (std::size_t i = 0; i < n; ++i)
      filtered[i + 1] = static_cast<uint8_t>(current[i] - previous[i]);
    if (!idat.add(filtered.data(), filtered.size(), y + 1 == format.height)) return false;
    previous.swap(current);
  }
  return write_chunk(sink, "IEND", nullptr, 0);
}

}  // namespace app
