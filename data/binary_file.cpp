// Reader of the binary data file.
#include "data/binary_file.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

#include "common/errors.h"
#include "common/util.h"
#include "data/byte_order.h"
#include "platform/platform.h"

namespace {

// File offsets of the nine four-byte fields that get a two-byte gap in front
// of them, so that every field of the unpacked header is naturally aligned.
constexpr std::array<int, 9> kGaps = {6, 60, 198, 204, 210, 220, 226, 360, 386};

// Offset in the unpacked buffer of the field at a file offset.
constexpr int unpacked(int file_offset) {
  int shift = 0;
  for (int g : kGaps)
    if (g <= file_offset) shift += 2;
  return file_offset + shift;
}

// Offset of the header record in the unpacked buffer (file offset 76).
constexpr int kHeaderRecord = unpacked(76);
constexpr int kSourceInfo = unpacked(10);
static_assert(kHeaderRecord + sizeof(df_header_t) == DF_HEADER_BUFFER_SIZE);

// The header record matches the unpacked buffer byte for byte.
static_assert(offsetof(df_header_t, h076) + kHeaderRecord == unpacked(76));
static_assert(offsetof(df_header_t, h080) + kHeaderRecord == unpacked(80));
static_assert(offsetof(df_header_t, h162) + kHeaderRecord == unpacked(162));
static_assert(offsetof(df_header_t, h164) + kHeaderRecord == unpacked(164));
static_assert(offsetof(df_header_t, h168) + kHeaderRecord == unpacked(168));
static_assert(offsetof(df_header_t, h172) + kHeaderRecord == unpacked(172));
static_assert(offsetof(df_header_t, h176) + kHeaderRecord == unpacked(176));
static_assert(offsetof(df_header_t, h180) + kHeaderRecord == unpacked(180));
static_assert(offsetof(df_header_t, h184) + kHeaderRecord == unpacked(184));
static_assert(offsetof(df_header_t, h188) + kHeaderRecord == unpacked(188));
static_assert(offsetof(df_header_t, h190) + kHeaderRecord == unpacked(190));
static_assert(offsetof(df_header_t, h192) + kHeaderRecord == unpacked(192));
static_assert(offsetof(df_header_t, h194) + kHeaderRecord == unpacked(194));
static_assert(offsetof(df_header_t, h196) + kHeaderRecord == unpacked(196));
static_assert(offsetof(df_header_t, h198) + kHeaderRecord == unpacked(198));
static_assert(offsetof(df_header_t, h202) + kHeaderRecord == unpacked(202));
static_assert(offsetof(df_header_t, h204) + kHeaderRecord == unpacked(204));
static_assert(offsetof(df_header_t, h208) + kHeaderRecord == unpacked(208));
static_assert(offsetof(df_header_t, h210) + kHeaderRecord == unpacked(210));
static_assert(offsetof(df_header_t, h214) + kHeaderRecord == unpacked(214));
static_assert(offsetof(df_header_t, h218) + kHeaderRecord == unpacked(218));
static_assert(offsetof(df_header_t, h220) + kHeaderRecord == unpacked(220));
static_assert(offsetof(df_header_t, h224) + kHeaderRecord == unpacked(224));
static_assert(offsetof(df_header_t, h226) + kHeaderRecord == unpacked(226));
static_assert(offsetof(df_header_t, h230) + kHeaderRecord == unpacked(230));
static_assert(offsetof(df_header_t, h232) + kHeaderRecord == unpacked(232));
static_assert(offsetof(df_header_t, h234) + kHeaderRecord == unpacked(234));
static_assert(offsetof(df_header_t, h236) + kHeaderRecord == unpacked(236));
static_assert(offsetof(df_header_t, h238) + kHeaderRecord == unpacked(238));
static_assert(offsetof(df_header_t, h240) + kHeaderRecord == unpacked(240));
static_assert(offsetof(df_header_t, h242) + kHeaderRecord == unpacked(242));
static_assert(offsetof(df_header_t, h244) + kHeaderRecord == unpacked(244));
static_assert(offsetof(df_header_t, h246) + kHeaderRecord == unpacked(246));
static_assert(offsetof(df_header_t, h258) + kHeaderRecord == unpacked(258));
static_assert(offsetof(df_header_t, h298) + kHeaderRecord == unpacked(298));
static_assert(offsetof(df_header_t, h300) + kHeaderRecord == unpacked(300));
static_assert(offsetof(df_header_t, h302) + kHeaderRecord == unpacked(302));
static_assert(offsetof(df_header_t, h304) + kHeaderRecord == unpacked(304));
static_assert(offsetof(df_header_t, h320) + kHeaderRecord == unpacked(320));
static_assert(offsetof(df_header_t, h360) + kHeaderRecord == unpacked(360));
static_assert(offsetof(df_header_t, h364) + kHeaderRecord == unpacked(364));
static_assert(offsetof(df_header_t, h366) + kHeaderRecord == unpacked(366));
static_assert(offsetof(df_header_t, h368) + kHeaderRecord == unpacked(368));
static_assert(offsetof(df_header_t, h372) + kHeaderRecord == unpacked(372));
static_assert(offsetof(df_header_t, h376) + kHeaderRecord == unpacked(376));
static_assert(offsetof(df_header_t, h384) + kHeaderRecord == unpacked(384));
static_assert(offsetof(df_header_t, h386) + kHeaderRecord == unpacked(386));
static_assert(offsetof(df_header_t, h398) + kHeaderRecord == unpacked(398));
static_assert(offsetof(df_header_t, h406) + kHeaderRecord == unpacked(406));
static_assert(offsetof(df_header_t, h408) + kHeaderRecord == unpacked(408));
static_assert(offsetof(df_header_t, h428) + kHeaderRecord == unpacked(428));
static_assert(offsetof(df_header_t, h430) + kHeaderRecord == unpacked(430));
static_assert(offsetof(df_header_t, h498) + kHeaderRecord == unpacked(498));
static_assert(offsetof(df_header_t, h502) + kHeaderRecord == unpacked(502));
static_assert(offsetof(df_header_t, h534) + kHeaderRecord == unpacked(534));
static_assert(offsetof(df_header_t, h562) + kHeaderRecord == unpacked(562));
static_assert(offsetof(df_header_t, h570) + kHeaderRecord == unpacked(570));
static_assert(offsetof(df_header_t, h734) + kHeaderRecord == unpacked(734));
static_assert(offsetof(df_header_t, h736) + kHeaderRecord == unpacked(736));
static_assert(offsetof(df_header_t, h798) + kHeaderRecord == unpacked(798));
static_assert(offsetof(df_header_t, h802) + kHeaderRecord == unpacked(802));
static_assert(offsetof(df_header_t, h816) + kHeaderRecord == unpacked(816));
static_assert(offsetof(df_header_t, h818) + kHeaderRecord == unpacked(818));
static_assert(offsetof(df_header_t, h838) + kHeaderRecord == unpacked(838));
static_assert(offsetof(df_header_t, h842) + kHeaderRecord == unpacked(842));
static_assert(offsetof(df_header_t, h870) + kHeaderRecord == unpacked(870));
static_assert(offsetof(df_header_t, df_format_tag) + kHeaderRecord == unpacked(898));
static_assert(offsetof(df_header_t, h900) + kHeaderRecord == unpacked(900));
static_assert(offsetof(df_header_t, h904) + kHeaderRecord == unpacked(904));
static_assert(offsetof(df_header_t, h934) + kHeaderRecord == unpacked(934));
static_assert(offsetof(df_header_t, h938) + kHeaderRecord == unpacked(938));
static_assert(offsetof(df_header_t, h998) + kHeaderRecord == unpacked(998));
static_assert(offsetof(df_header_t, h1038) + kHeaderRecord == unpacked(1038));
static_assert(offsetof(df_header_t, h1126) + kHeaderRecord == unpacked(1126));
static_assert(offsetof(df_header_t, h1218) + kHeaderRecord == unpacked(1218));
static_assert(offsetof(df_header_t, h1250) + kHeaderRecord == unpacked(1250));
static_assert(offsetof(df_header_t, h1262) + kHeaderRecord == unpacked(1262));
static_assert(offsetof(df_header_t, h1264) + kHeaderRecord == unpacked(1264));
static_assert(offsetof(df_header_t, h1266) + kHeaderRecord == unpacked(1266));
static_assert(offsetof(df_header_t, h1322) + kHeaderRecord == unpacked(1322));
static_assert(offsetof(df_header_t, h1324) + kHeaderRecord == unpacked(1324));
static_assert(offsetof(df_header_t, h1326) + kHeaderRecord == unpacked(1326));
static_assert(offsetof(df_header_t, h1382) + kHeaderRecord == unpacked(1382));
static_assert(offsetof(df_header_t, h1384) + kHeaderRecord == unpacked(1384));
static_assert(offsetof(df_header_t, h1386) + kHeaderRecord == unpacked(1386));
static_assert(offsetof(df_header_t, h1442) + kHeaderRecord == unpacked(1442));
static_assert(offsetof(df_header_t, h1446) + kHeaderRecord == unpacked(1446));
static_assert(offsetof(df_header_t, h1454) + kHeaderRecord == unpacked(1454));

// Numeric fields whose byte order the reader reverses: file offset, width of
// one unit, number of units. h798 is carried as it stands in the file.
struct SwapField {
  int file_offset;
  int width;
  int count;
};
constexpr SwapField kSwapFields[] = {
    {0, 4, 1},      // magic
    {4, 2, 1},      // h004
    {6, 4, 1},      // h006
    {10, 2, 1},     // info_word0
    {42, 2, 1},     // info_word1
    {44, 2, 1},     // info_word2
    {46, 2, 1},     // info_word3
    {48, 2, 1},     // intens_x
    {50, 2, 1},     // intens_y
    {52, 2, 1},     // intens_width
    {54, 2, 1},     // intens_height
    {56, 2, 1},     // intens_buckets
    {58, 2, 1},     // intens_aux
    {60, 4, 1},     // intens_bytes
    {64, 2, 1},     // phase_x
    {66, 2, 1},     // phase_y
    {68, 2, 1},     // phase_width
    {70, 2, 1},     // phase_height
    {72, 4, 1},     // phase_bytes
    {76, 4, 1},     // h076
    {162, 2, 1},    // h162
    {164, 4, 1},    // h164
    {168, 4, 1},    // h168
    {172, 4, 1},    // h172
    {176, 4, 1},    // h176
    {180, 4, 1},    // h180
    {184, 4, 1},    // h184
    {188, 2, 1},    // h188
    {190, 2, 1},    // h190
    {192, 2, 1},    // h192
    {194, 2, 1},    // h194
    {196, 2, 1},    // h196
    {198, 4, 1},    // h198
    {202, 2, 1},    // h202
    {204, 4, 1},    // h204
    {210, 4, 1},    // h210
    {214, 4, 1},    // h214
    {218, 2, 1},    // h218
    {220, 4, 1},    // h220
    {224, 2, 1},    // h224
    {226, 4, 1},    // h226
    {230, 2, 1},    // h230
    {232, 2, 1},    // h232
    {234, 2, 1},    // h234
    {236, 2, 1},    // h236
    {238, 2, 1},    // h238
    {240, 2, 1},    // h240
    {242, 2, 1},    // h242
    {244, 2, 1},    // h244
    {298, 2, 1},    // h298
    {300, 2, 1},    // h300
    {302, 2, 1},    // h302
    {360, 4, 1},    // h360
    {364, 2, 1},    // h364
    {366, 2, 1},    // h366
    {368, 4, 1},    // h368
    {372, 2, 2},    // h372
    {376, 4, 2},    // h376
    {384, 2, 1},    // h384
    {386, 4, 3},    // h386
    {406, 2, 1},    // h406
    {428, 2, 1},    // h428
    {430, 4, 17},   // h430
    {498, 4, 1},    // h498
    {734, 2, 1},    // h734
    {816, 2, 1},    // h816
    {838, 2, 2},    // h838
    {842, 4, 7},    // h842
    {900, 2, 2},    // h900
    {934, 4, 1},    // h934
    {998, 4, 10},   // h998
    {1126, 4, 23},  // h1126
    {1250, 4, 3},   // h1250
    {1264, 2, 1},   // h1264
    {1266, 4, 14},  // h1266
    {1324, 2, 1},   // h1324
    {1326, 4, 14},  // h1326
    {1384, 2, 1},   // h1384
    {1386, 4, 14},  // h1386
    {1446, 4, 2},   // h1446
};

// Raw header field at a file offset, read from the unpacked host-order buffer.
template <class T>
T field(const unsigned char* buffer, int file_offset) {
  T v;
  std::memcpy(&v, buffer + unpacked(file_offset), sizeof v);
  return v;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

// Reads `count` values of T in chunks straight into `dst` and converts them
// from big-endian. Returns false when the stream ends early or fails.
template <class T>
bool read_values(std::FILE* f, T* dst, std::size_t count) {
  constexpr std::size_t per_chunk = kChunkBytes / sizeof(T);
  while (count > 0) {
    const std::size_t n = std::min(count, per_chunk);
    if (std::fread(dst, sizeof(T), n, f) != n) return false;
    from_big_endian(std::span<T>(dst, n));
    dst += n;
    count -= n;
  }
  return std::ferror(f) == 0;
}

// Reads and drops `bytes`; false when the stream ends first.
bool discard(std::FILE* f, int64_t bytes) {
  std::array<char, 64 * 1024> scratch;
  while (bytes > 0) {
    const auto n = static_cast<std::size_t>(std::min<int64_t>(bytes, scratch.size()));
    if (std::fread(scratch.data(), 1, n, f) != n) return false;
    bytes -= static_cast<int64_t>(n);
  }
  return true;
}

// Skips a block nobody asked for: a seek where the stream allows it, else
// reading (pipes). The end of the stream is no error here: a block that
// follows is then found missing when it is read.
void skip(std::FILE* f, int64_t bytes) {
  if (bytes > 0 && std::fseek(f, static_cast<long>(bytes), SEEK_CUR) != 0) discard(f, bytes);
}

// Geometry of one matrix as the header announces it.
struct Geometry {
  int16_t x, y, width, height;
  int32_t bytes;
  bool too_large() const { return width < 0 || height < 0; }  // above 32767 as u16
  wn_window_t window() const { return {x, y, width, height}; }
};

int read_intensity(std::FILE* f, const Geometry& g, mx_bkt16_t* intensity) {
  if (intensity == nullptr) {
    skip(f, g.bytes);
    return 0;
  }
  // A sound file announces exactly the buffer. Read what fits and skip the
  // rest (an odd last byte included) so the phase block starts where it
  // should; values the file does not hold read as zero. A buffer that the
  // file will not fill comes zeroed from the allocator, so a tiny file that
  // announces a huge geometry does not make the reader touch all of it.
  const int64_t capacity =
      int64_t{intensity->window.width} * intensity->window.height * intensity->n_buckets;
  const int64_t announced = g.bytes / 2;
  const int rc =
      announced < capacity ? mx_bkt16_alloc_zeroed(intensity) : mx_bkt16_alloc(intensity);
  if (rc != 0) return rc;
  const auto n = static_cast<std::size_t>(std::min(capacity, announced));
  if (!read_values(f, intensity->matrix, n) || !discard(f, g.bytes - static_cast<int64_t>(n) * 2))
    return ERR_CORRUPT_DATA_FILE;
  return 0;
}

// Reads `count` values like read_values, the second half on a helper thread
// through a handle of its own on `path`: copying a large map out of the
// file cache, faulting in its fresh pages and converting it is work two
// processors share. Empty when that cannot be set up (no path, a map too
// small to be worth it, an offset beyond `long`, no handle, no thread);
// the caller then reads it all through `f`. Either way the same values are
// read and a file that ends early fails the same.
constexpr std::size_t kSplitValues = std::size_t{1} << 20;

std::optional<bool> read_values_in_halves(std::FILE* f, const char* path, int32_t* dst,
                                          std::size_t count) {
  if (path == nullptr || count < kSplitValues) return std::nullopt;
  const std::size_t half = count / 2;
  const long start = std::ftell(f);
  if (start < 0 || half * sizeof *dst > static_cast<std::size_t>(LONG_MAX - start))
    return std::nullopt;
  const std::unique_ptr<std::FILE, FileCloser> second(plat::open_file(path, "rb"));
  if (!second ||
      std::fseek(second.get(), start + static_cast<long>(half * sizeof *dst), SEEK_SET) != 0)
    return std::nullopt;
  bool second_ok = false;
  std::thread helper;
  try {
    helper = std::thread([&] { second_ok = read_values(second.get(), dst + half, count - half); });
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const bool first_ok = read_values(f, dst, half);
  helper.join();
  return first_ok && second_ok;
}

int read_phase(std::FILE* f, const Geometry& g, mx_i32_t* phase, const char* path) {
  if (phase == nullptr) {
    skip(f, g.bytes);
    return 0;
  }
  if (const int rc = mx_i32_alloc(phase); rc != 0) return rc;
  const auto count = static_cast<std::size_t>(phase->size);
  std::optional<bool> ok = read_values_in_halves(f, path, phase->matrix, count);
  if (!ok) ok = read_values(f, phase->matrix, count);
  return *ok ? 0 : ERR_CORRUPT_DATA_FILE;
}

// `path`: the file `f` reads, when there is one, for a second handle.
int read_stream(std::FILE* f, df_source_info_t* source, df_header_t* header, mx_bkt16_t* intensity,
                mx_i32_t* phase, const char* path) {
  std::array<unsigned char, DF_HEADER_BUFFER_SIZE> buffer{};
  if (std::fread(buffer.data(), 1, 4, f) != 4) return ERR_PREMATURE_EOF;
  const uint32_t magic = load_big_endian<uint32_t>(buffer.data());
  const int length = df_header_length(magic);
  if (length == 0) return ERR_NOT_A_DATA_FILE;
  // The magic bytes are kept: the rest of the header follows them, so no
  // seek back is needed and pipes work.
  const auto rest = static_cast<std::size_t>(length - 4);
  if (std::fread(buffer.data() + 4, 1, rest, f) != rest) return ERR_PREMATURE_EOF;

  df_unpack_header(buffer.data(), magic);
  df_swap_header(buffer.data());
  const unsigned char* b = buffer.data();

  if (source != nullptr) std::memcpy(source, b + kSourceInfo, sizeof *source);

  const Geometry ig{field<int16_t>(b, 48), field<int16_t>(b, 50), field<int16_t>(b, 52),
                    field<int16_t>(b, 54), field<int32_t>(b, 60)};
  const Geometry pg{field<int16_t>(b, 64), field<int16_t>(b, 66), field<int16_t>(b, 68),
                    field<int16_t>(b, 70), field<int32_t>(b, 72)};
  if (intensity != nullptr) {
    mx_bkt16_release(intensity);
    mx_bkt16_clear(intensity);
    if (ig.bytes > 0) {
      if (ig.too_large()) return ERR_DATASET_DIM_TOO_LARGE;
      intensity->window = ig.window();
      intensity->n_buckets = field<int16_t>(b, 56);
      intensity->aux = field<int16_t>(b, 58);
    }
  }
  if (phase != nullptr) {
    mx_i32_release(phase);
    mx_i32_clear(phase);
    if (pg.bytes > 0) {
      if (pg.too_large()) return ERR_DATASET_DIM_TOO_LARGE;
      phase->window = pg.window();
    }
  }

  if (header != nullptr) {
    std::memcpy(header, b + kHeaderRecord, sizeof *header);
    if (length == DF_HEADER_LONG) header->df_format_tag = 3;
  }

  if (ig.bytes > 0) {
    if (const int rc = read_intensity(f, ig, intensity); rc != 0) return rc;
  }
  if (pg.bytes > 0) {
    if (const int rc = read_phase(f, pg, phase, path); rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int df_header_length(uint32_t magic) {
  switch (magic) {
    case DF_MAGIC_834_A:
    case DF_MAGIC_834_B: return DF_HEADER_SHORT;
    case DF_MAGIC_4096: return DF_HEADER_LONG;
    default: return 0;
  }
}

void df_unpack_header(unsigned char* buffer, uint32_t magic) {
  int end = df_header_length(magic);
  if (end == 0) return;
  for (std::size_t i = 0; i < kGaps.size(); ++i) {
    const int at = kGaps[i] + 2 * static_cast<int>(i);
    std::memmove(buffer + at + 2, buffer + at, static_cast<std::size_t>(end - at));
    buffer[at] = buffer[at + 1] = 0;
    end += 2;
  }
}

void df_swap_header(unsigned char* buffer) {
  for (const SwapField& s : kSwapFields) {
    unsigned char* p = buffer + unpacked(s.file_offset);
    for (int i = 0; i < s.count; ++i, p += s.width) u_swap_bytes(p, s.width);
  }
}

namespace {

int read_checked(std::FILE* stream, df_source_info_t* source, df_header_t* header,
                 mx_bkt16_t* intensity, mx_i32_t* phase, const char* path) {
  if (stream == nullptr) return ERR_INVALID_PARAM;
  const int rc = read_stream(stream, source, header, intensity, phase, path);
  if (rc != 0) {
    mx_bkt16_release(intensity);
    mx_i32_release(phase);
  }
  return rc;
}

}  // namespace

int df_read_binary_stream(std::FILE* stream, df_source_info_t* source, df_header_t* header,
                          mx_bkt16_t* intensity, mx_i32_t* phase) {
  return read_checked(stream, source, header, intensity, phase, nullptr);
}

int df_read_binary_file(const char* path, df_source_info_t* source, df_header_t* header,
                        mx_bkt16_t* intensity, mx_i32_t* phase) {
  const std::unique_ptr<std::FILE, FileCloser> f(plat::open_file(path, "rb"));
  if (!f) return ERR_CANT_OPEN_FILE;
  return read_checked(f.get(), source, header, intensity, phase, path);
}

int df_read_file(const char* path, df_source_info_t* source, df_header_t* header,
                 mx_bkt16_t* intensity, mx_i32_t* phase) {
  return df_read_binary_file(path, source, header, intensity, phase);
}
