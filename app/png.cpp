#include "app/png.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <string_view>
#include <thread>
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

// One band of rows, filtered and deflated on its own: the bands of an image
// are compressed on several threads at once and their streams joined, as
// parallel gzip does. Each band ends on a byte boundary (a sync flush, the
// last with the stream's end), so the joined pieces are one deflate stream,
// and the checksum of the whole is combined from the bands'.
struct Band {
  uint32_t first = 0, last = 0;  // rows [first, last)
  std::vector<uint8_t> raw;      // the filtered rows
  std::vector<uint8_t> packed;   // their deflate stream
  uLong adler = 0;
  bool ok = false;
};

// Every row is filtered with "up" (its difference to the row above): cheap,
// and it turns the smooth maps into mostly small values.
void fill_band(const PngFormat& format, const PngRowFn& row, Band& band) {
  const std::size_t n = format.row_bytes();
  std::vector<uint8_t> previous(n, 0), current(n);
  if (band.first > 0) row(band.first - 1, previous);
  band.raw.resize((n + 1) * (band.last - band.first));
  uint8_t* out = band.raw.data();
  for (uint32_t y = band.first; y < band.last; ++y) {
    row(y, current);
    *out++ = 2;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(current[i] - previous[i]);
    out += n;
    previous.swap(current);
  }
}

void pack_band(const PngFormat& format, const PngRowFn& row, bool last, Band& band) {
  band.ok = false;  // bands are reused from round to round
  band.packed.clear();
  fill_band(format, row, band);
  band.adler = adler32(adler32(0L, Z_NULL, 0), band.raw.data(), static_cast<uInt>(band.raw.size()));
  // Raw deflate: the stream's header and checksum are written once for all
  // bands. The filtered strategy suits rows of differences.
  struct Deflater {
    z_stream z{};
    bool open = false;
    ~Deflater() {
      if (open) deflateEnd(&z);
    }
  } deflater;
  z_stream& z = deflater.z;
  deflater.open = deflateInit2(&z, format.level, Z_DEFLATED, -15, 8, Z_FILTERED) == Z_OK;
  if (!deflater.open) return;
  band.packed.resize(deflateBound(&z, static_cast<uLong>(band.raw.size())) + 16);
  z.next_in = band.raw.data();
  z.avail_in = static_cast<uInt>(band.raw.size());
  z.next_out = band.packed.data();
  z.avail_out = static_cast<uInt>(band.packed.size());
  const int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
  // Room left over means zlib holds nothing back.
  band.ok = (last ? rc == Z_STREAM_END : rc == Z_OK) && z.avail_in == 0 && z.avail_out > 0;
  band.packed.resize(band.packed.size() - z.avail_out);
}

// A band that runs out of memory on a helper thread is a failed band, not
// the end of the process.
void pack_band_or_fail(const PngFormat& format, const PngRowFn& row, bool last, Band& band) {
  try {
    pack_band(format, row, last, band);
  } catch (const std::exception&) {
    band.ok = false;
  }
}

// The image data as IDAT chunks of at most kChunkData bytes.
class IdatWriter {
 public:
  explicit IdatWriter(felbrin::ByteSink& sink) : sink_(sink) { buffer_.reserve(kChunkData); }
  bool add(const uint8_t* data, std::size_t size) {
    while (size > 0) {
      const std::size_t take = std::min(size, kChunkData - buffer_.size());
      buffer_.insert(buffer_.end(), data, data + take);
      data += take, size -= take;
      if (buffer_.size() == kChunkData && !flush()) return false;
    }
    return true;
  }
  bool flush() {
    if (buffer_.empty()) return true;
    const bool ok = write_chunk(sink_, "IDAT", buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

 private:
  felbrin::ByteSink& sink_;
  std::vector<uint8_t> buffer_;
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

  // Bands of about a megabyte, a round of them at a time, one per thread.
  const std::size_t row_bytes = format.row_bytes() + 1;
  const auto band_rows = static_cast<uint32_t>(std::max<std::size_t>(1, (1u << 20) / row_bytes));
  const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
  IdatWriter idat(sink);
  static constexpr uint8_t kZlibHeader[2] = {0x78, 0x01};  // deflate, 32 KiB window, fastest
  if (!idat.add(kZlibHeader, sizeof kZlibHeader)) return false;
  uLong adler = adler32(0L, Z_NULL, 0);
  std::vector<Band> round(static_cast<std::size_t>(threads));
  for (uint32_t next = 0; next < format.height;) {
    std::size_t used = 0;
    for (Band& b : round) {
      if (next == format.height) break;
      b.first = next;
      b.last = std::min(format.height, next + band_rows);
      next = b.last;
      ++used;
    }
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < used; ++i) {
      Band& b = round[i];
      const bool last = b.last == format.height;
      try {
        helpers.emplace_back(
            [&format, &row, &b, last] { pack_band_or_fail(format, row, last, b); });
      } catch (const std::exception&) {
        pack_band_or_fail(format, row, last, b);  // no thread to be had: here, then
      }
    }
    pack_band_or_fail(format, row, round[0].last == format.height, round[0]);
    for (std::thread& h : helpers) h.join();
    for (std::size_t i = 0; i < used; ++i) {
      const Band& b = round[i];
      if (!b.ok || !idat.add(b.packed.data(), b.packed.size())) return false;
      adler = adler32_combine(adler, b.adler, static_cast<z_off_t>(b.raw.size()));
    }
  }
  uint8_t checksum[4];
  put_u32(checksum, static_cast<uint32_t>(adler));
  if (!idat.add(checksum, sizeof checksum) || !idat.flush()) return false;
  return write_chunk(sink, "IEND", nullptr, 0);
}

}  // namespace app
