// PNG encoding for the picture command, over zlib's deflate and CRC: the
// image is handed over row by row, so no whole picture is ever held.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "common/byte_sink.h"

namespace app {

struct PngFormat {
  enum Colour : uint8_t { kGrey = 0, kRgb = 2, kRgba = 6 };
  uint32_t width = 0;
  uint32_t height = 0;
  Colour colour = kRgb;
  int bit_depth = 8;  // 8, or 16 (samples big-endian)
  // zlib's level: 1 is several times faster than the default and costs a
  // few per cent of size on measurement maps, which are smooth.
  int level = 1;

  std::size_t row_bytes() const;
};

// Fills row y (0 is the top) with row_bytes() bytes of samples.
using PngRowFn = std::function<void(uint32_t y, std::span<uint8_t> row)>;

// Writes the whole file; false when the sink refuses a write, zlib cannot
// be set up or the format is not one of the above.
bool write_png(felbrin::ByteSink& sink, const PngFormat& format, const PngRowFn& row);

}  // namespace app
