// Ramp data files: reader, writer, text dump, standard names and the check
// against a configuration line.
#include "instrument/ramps/ramp_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <span>
#include <string_view>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/util.h"
#include "instrument/ramps/ramp_file_internal.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

constexpr std::size_t kHeaderBytes = sizeof(rr_ramp_hdr_t);
constexpr std::size_t kBigEndianWords = 42;
// Words after the big-endian part up to the spare bytes, which are copied as
// they are (bytes have no order).
constexpr std::size_t kLittleEndianEnd = offsetof(rr_ramp_hdr_t, spare);
static_assert(kBigEndianWords * 4 == offsetof(rr_ramp_hdr_t, fringesPerFrame));

using HeaderBytes = std::array<unsigned char, kHeaderBytes>;

uint32_t big_endian_at(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
uint32_t little_endian_at(const unsigned char* p) {
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[0]};
}
void put_big_endian(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}
void put_little_endian(unsigned char* p, uint32_t v) {
  p[3] = static_cast<unsigned char>(v >> 24);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[0] = static_cast<unsigned char>(v);
}

// The header's words as host values, whatever their type.
uint32_t word_of(const rr_ramp_hdr_t& h, std::size_t offset) {
  uint32_t v;
  std::memcpy(&v, reinterpret_cast<const unsigned char*>(&h) + offset, sizeof v);
  return v;
}
void set_word(rr_ramp_hdr_t& h, std::size_t offset, uint32_t v) {
  std::memcpy(reinterpret_cast<unsigned char*>(&h) + offset, &v, sizeof v);
}

void encode_header(const rr_ramp_hdr_t& h, HeaderBytes& out) {
  std::size_t at = 0;
  for (; at < kBigEndianWords * 4; at += 4) put_big_endian(&out[at], word_of(h, at));
  for (; at < kLittleEndianEnd; at += 4) put_little_endian(&out[at], word_of(h, at));
  std::memcpy(&out[at], h.spare, sizeof h.spare);
  put_big_endian(&out[0], static_cast<uint32_t>(RR_MAGIC));
}

void decode_header(const HeaderBytes& in, rr_ramp_hdr_t& h) {
  std::size_t at = 0;
  for (; at < kBigEndianWords * 4; at += 4) set_word(h, at, big_endian_at(&in[at]));
  for (; at < kLittleEndianEnd; at += 4) set_word(h, at, little_endian_at(&in[at]));
  std::memcpy(h.spare, &in[at], sizeof h.spare);
}

// Bytes from the current position to the end; -1 when the stream cannot
// tell (a pipe). The position is kept.
int64_t bytes_left(std::FILE* f) {
  std::fpos_t here;
  if (std::fgetpos(f, &here) != 0) return -1;
  const long start = std::ftell(f);
  if (start < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(f);
  if (std::fsetpos(f, &here) != 0 || end < start) return -1;
  return int64_t{end} - start;
}

// Reads `count` big-endian points into `dst` (host order).
bool read_points(std::FILE* f, uint16_t* dst, std::size_t count) {
  if (std::fread(dst, sizeof *dst, count, f) != count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char b[2];
    std::memcpy(b, &dst[i], 2);
    dst[i] = static_cast<uint16_t>(b[0] << 8 | b[1]);
  }
  return true;
}

int read_body(std::FILE* f, rr_ramp_hdr_t* hdr, uint16_t** points) {
  HeaderBytes raw{};
  if (std::fread(raw.data(), 1, 4, f) != 4) return ERR_PREMATURE_EOF;
  if (big_endian_at(raw.data()) != static_cast<uint32_t>(RR_MAGIC)) return ERR_NOT_A_RAMP_FILE;
  if (std::fread(raw.data() + 4, 1, kHeaderBytes - 4, f) != kHeaderBytes - 4)
    return ERR_PREMATURE_EOF;
  decode_header(raw, *hdr);

  if (points == nullptr || hdr->nPoints <= 0) return 0;
  const auto count = static_cast<std::size_t>(hdr->nPoints);
  // A file may announce two billion points and hold none: check before
  // allocating. A stream that cannot tell its size is read as announced.
  const int64_t left = bytes_left(f);
  if (0 <= left && left < static_cast<int64_t>(count * 2)) return ERR_CORRUPT_RAMP_FILE;
  auto* p = static_cast<uint16_t*>(u_malloc_fn(count * sizeof(uint16_t)));
  if (p == nullptr) return ERR_NO_MEM;
  *points = p;
  return read_points(f, p, count) ? 0 : ERR_CORRUPT_RAMP_FILE;
}

// ---- dump

enum class Kind { kInt, kFloat, kChar };

struct DumpRow {
  std::string_view name;
  std::size_t offset;
  Kind kind;
};

constexpr std::size_t kTriple = offsetof(rr_ramp_hdr_t, rampTriple);

// One row per named field, in file order; the reserved words and the
// direction flag are not shown.
constexpr DumpRow kDumpRows[] = {
    {"magicNumber", offsetof(rr_ramp_hdr_t, magicNumber), Kind::kInt},
    {"rampType", offsetof(rr_ramp_hdr_t, rampType), Kind::kInt},
    {"pztID", offsetof(rr_ramp_hdr_t, pztID), Kind::kInt},
    {"rampID", offsetof(rr_ramp_hdr_t, rampID), Kind::kInt},
    {"nPoints", offsetof(rr_ramp_hdr_t, nPoints), Kind::kInt},
    {"rampUp", offsetof(rr_ramp_hdr_t, rampUp), Kind::kInt},
    {"rampStart", offsetof(rr_ramp_hdr_t, rampStart), Kind::kInt},
    {"rampLinear", offsetof(rr_ramp_hdr_t, rampLinear), Kind::kInt},
    {"rampEnd", offsetof(rr_ramp_hdr_t, rampEnd), Kind::kInt},
    {"sampleClkFreq", offsetof(rr_ramp_hdr_t, sampleClkFreq), Kind::kFloat},
    {"cameraRate", offsetof(rr_ramp_hdr_t, cameraRate), Kind::kFloat},
    {"updateRate", offsetof(rr_ramp_hdr_t, updateRate), Kind::kInt},
    {"grabSkip", offsetof(rr_ramp_hdr_t, grabSkip), Kind::kInt},
    {"rampSlope", offsetof(rr_ramp_hdr_t, rampSlope), Kind::kFloat},
    {"trigStartAddr", offsetof(rr_ramp_hdr_t, trigStartAddr), Kind::kInt},
    {"trigEndAddr", offsetof(rr_ramp_hdr_t, trigEndAddr), Kind::kInt},
    {"rampGainDflt", offsetof(rr_ramp_hdr_t, rampGainDflt), Kind::kInt},
    {"rampTriple[0]", kTriple, Kind::kFloat},
    {"rampTriple[1]", kTriple + 4, Kind::kFloat},
    {"rampTriple[2]", kTriple + 8, Kind::kFloat},
    {"scanLen", offsetof(rr_ramp_hdr_t, scanLen), Kind::kFloat},
    {"polar", offsetof(rr_ramp_hdr_t, polar), Kind::kChar},
    {"offset", offsetof(rr_ramp_hdr_t, offset), Kind::kInt},
    {"nBuckets", offsetof(rr_ramp_hdr_t, nBuckets), Kind::kInt},
    {"rampLin", offsetof(rr_ramp_hdr_t, rampLin), Kind::kFloat},
    {"rampTrim", offsetof(rr_ramp_hdr_t, rampTrim), Kind::kFloat},
    {"cameraPClock", offsetof(rr_ramp_hdr_t, cameraPClock), Kind::kFloat},
    {"cameraHPeriod", offsetof(rr_ramp_hdr_t, cameraHPeriod), Kind::kInt},
    {"cameraVPeriod", offsetof(rr_ramp_hdr_t, cameraVPeriod), Kind::kInt},
    {"cameraInterlace", offsetof(rr_ramp_hdr_t, cameraInterlace), Kind::kInt},
    {"rampMux", offsetof(rr_ramp_hdr_t, rampMux), Kind::kInt},
    {"instrBdType", offsetof(rr_ramp_hdr_t, instrBdType), Kind::kInt},
    {"compGain", offsetof(rr_ramp_hdr_t, compGain), Kind::kInt},
    {"compFilter", offsetof(rr_ramp_hdr_t, compFilter), Kind::kInt},
    {"leakage", offsetof(rr_ramp_hdr_t, leakage), Kind::kInt},
    {"adcMin", offsetof(rr_ramp_hdr_t, adcMin), Kind::kInt},
    {"adcMax", offsetof(rr_ramp_hdr_t, adcMax), Kind::kInt},
    {"adcFirst", offsetof(rr_ramp_hdr_t, adcFirst), Kind::kInt},
    {"adcMid", offsetof(rr_ramp_hdr_t, adcMid), Kind::kInt},
    {"adcLast", offsetof(rr_ramp_hdr_t, adcLast), Kind::kInt},
    {"scanCal", offsetof(rr_ramp_hdr_t, scanCal), Kind::kFloat},
    {"fringesPerFrame", offsetof(rr_ramp_hdr_t, fringesPerFrame), Kind::kFloat},
    {"objMag", offsetof(rr_ramp_hdr_t, objMag), Kind::kFloat},
    {"wavelenSelect", offsetof(rr_ramp_hdr_t, wavelenSelect), Kind::kInt},
};

consteval bool rows_in_file_order() {
  std::size_t next = 0;
  for (const DumpRow& r : kDumpRows) {
    if (r.offset < next || r.offset % 4 != 0 || r.name.size() > 18) return false;
    next = r.offset + 4;
  }
  return next <= offsetof(rr_ramp_hdr_t, spare);
}
static_assert(rows_in_file_order());

// Longest dump line, with room for the slack of the point texts.
constexpr std::size_t kMaxLine = 128;

// snprintf for the integer and text lines (the same on every C runtime);
// floats come in as text from fmt_g.
char* put_line(char* p, const char* format, ...) FELBRIN_PRINTF(2, 3);
char* put_line(char* p, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(p, kMaxLine, format, args);
  va_end(args);
  return p + std::clamp(n, 0, static_cast<int>(kMaxLine) - 1);
}

// ---- standard names

// Frames per second actually grabbed, rounded. A grab skip of -1 would
// divide by zero: there is no sampling then, so the rate is 0.
int32_t grab_rate(const rr_ramp_hdr_t& h) {
  const double divisor = static_cast<double>(h.grabSkip) + 1.0;
  if (divisor == 0) return 0;
  return u_saturated_int(static_cast<double>(h.cameraRate) / divisor + 0.5);
}

bool is_pmi(int32_t type) { return RR_TYPE_PMI <= type && type <= RR_TYPE_PMI_LAST; }

}  // namespace

int read_ramp_stream(std::FILE* f, rr_ramp_hdr_t* hdr, uint16_t** points) {
  if (hdr == nullptr) return ERR_INVALID_PARAM;
  *hdr = rr_ramp_hdr_t{};
  rr_release_points(points);
  if (f == nullptr) return ERR_CANT_OPEN_FILE;
  const int rc = read_body(f, hdr, points);
  if (rc != 0) {
    *hdr = rr_ramp_hdr_t{};
    rr_release_points(points);
  }
  return rc;
}

int write_ramp(ByteSink& sink, const rr_ramp_hdr_t& hdr, const uint16_t* points) {
  SinkBuffer out(sink);
  HeaderBytes head;
  encode_header(hdr, head);
  char* p = out.begin();
  std::memcpy(p, head.data(), head.size());
  p += head.size();
  const char* const limit = out.limit(2);
  const auto count = static_cast<std::size_t>(std::max(hdr.nPoints, 0));
  for (std::size_t i = 0; i < count; ++i) {
    if (p > limit) p = out.flush(p);
    *p++ = static_cast<char>(points[i] >> 8);
    *p++ = static_cast<char>(points[i] & 0xFF);
  }
  out.flush(p);
  return out.ok() ? 0 : ERR_CANT_WRITE_FILE;
}

int dump_ramp(ByteSink& sink, const rr_ramp_hdr_t& hdr, const uint16_t* points, bool one_per_line) {
  SinkBuffer out(sink);
  const char* const limit = out.limit(kMaxLine);
  char* p = out.begin();
  for (const DumpRow& row : kDumpRows) {
    const int first = static_cast<int>(row.offset) + 1;
    const int last = first + 3;
    const uint32_t bits = word_of(hdr, row.offset);
    const int name_len = static_cast<int>(row.name.size());
    const char* const name = row.name.data();
    switch (row.kind) {
      case Kind::kInt:
        p = put_line(p, "# %3d-%3d  %-18.*s = %d\n", first, last, name_len, name,
                     static_cast<int32_t>(bits));
        break;
      case Kind::kChar:
        p = put_line(p, "# %3d-%3d  %-18.*s = %c\n", first, last, name_len, name,
                     static_cast<int32_t>(bits));
        break;
      case Kind::kFloat: {
        float f;
        std::memcpy(&f, &bits, sizeof f);
        char text[FMT_MAX_CHARS + 1];
        *fmt_g(text, f) = '\0';
        p = put_line(p, "# %3d-%3d  %-18.*s = %s\n", first, last, name_len, name, text);
        break;
      }
    }
  }
  p = put_line(p, "# %3d-%3d  %-18s\n", static_cast<int>(offsetof(rr_ramp_hdr_t, spare)) + 1,
               static_cast<int>(kHeaderBytes), "spare");
  p = put_line(p, "# sizeof rr_ramp_hdr_t = %d\n", static_cast<int>(kHeaderBytes));

  if (points != nullptr) {
    const int32_t count = std::max(hdr.nPoints, 0);
    for (int32_t i = 0; i < count; ++i) {
      if (p > limit) p = out.flush(p);
      p = fmt_int(p, points[i]);
      if (one_per_line) {
        *p++ = '\n';
        continue;
      }
      *p++ = ' ';
      *p++ = ' ';
      if (i % 10 == 0) *p++ = '\n';
    }
    if (!one_per_line) *p++ = '\n';
  }
  out.flush(p);
  return out.ok() ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace felbrin

int rr_read_ramp_file(const char* path, rr_ramp_hdr_t* hdr, uint16_t** points) {
  if (hdr == nullptr) return ERR_INVALID_PARAM;
  std::FILE* f = path != nullptr ? plat::open_file(path, "rb") : nullptr;
  const int rc = felbrin::read_ramp_stream(f, hdr, points);
  if (f != nullptr) std::fclose(f);
  return rc;
}

int rr_write_ramp_file(const char* path, const rr_ramp_hdr_t* hdr, const uint16_t* points) {
  if (path == nullptr || hdr == nullptr || points == nullptr || hdr->nPoints < 0)
    return ERR_INVALID_PARAM;
  std::FILE* f = plat::open_file(path, "wb");
  if (f == nullptr) return ERR_CANT_CREATE_FILE;
  felbrin::StreamSink sink(f);
  return felbrin::close_written(f, felbrin::write_ramp(sink, *hdr, points), ERR_CANT_WRITE_FILE);
}

void rr_release_points(uint16_t** points) {
  if (points == nullptr || *points == nullptr) return;
  u_free_fn(*points);
  *points = nullptr;
}

void rr_swap_ramp_hdr(rr_ramp_hdr_t* hdr) {
  if (hdr == nullptr) return;
  for (std::size_t at = 0; at < felbrin::kBigEndianWords * 4; at += 4) {
    unsigned char bytes[4];
    std::memcpy(bytes, reinterpret_cast<const unsigned char*>(hdr) + at, 4);
    felbrin::set_word(*hdr, at, felbrin::big_endian_at(bytes));
  }
}

int rr_dump_ramp(std::FILE* stream, const rr_ramp_hdr_t* hdr, const uint16_t* points,
                 int one_per_line) {
  if (stream == nullptr || hdr == nullptr) return ERR_INVALID_PARAM;
  felbrin::StreamSink sink(stream);
  return felbrin::dump_ramp(sink, *hdr, points, one_per_line != 0);
}

int rr_get_std_ramp_filename(const rr_ramp_hdr_t* hdr, const char** name) {
  if (name != nullptr) *name = nullptr;
  if (hdr == nullptr || name == nullptr) return ERR_INVALID_PARAM;
  // Five numbers of at most 11 characters and the letters.
  thread_local char buffer[96];
  const int32_t rate = felbrin::grab_rate(*hdr);
  const int32_t scan = u_saturated_int(hdr->scanLen);
  const int32_t slope = u_saturated_int(hdr->rampSlope);
  const int32_t type = hdr->rampType;
  if (type == RR_TYPE_SWLI) {
    std::snprintf(buffer, sizeof buffer, "d%ds%dc%d.%c%d", scan, slope, rate, hdr->polar,
                  hdr->pztID);
  } else if (type == RR_TYPE_BTW) {
    std::snprintf(buffer, sizeof buffer, "d%ds%dc%dm%d.%c%d", scan, slope, rate,
                  u_saturated_int(hdr->objMag), hdr->polar, hdr->pztID);
  } else if (felbrin::is_pmi(type)) {
    std::snprintf(buffer, sizeof buffer, "p%dc%d.%c%d", hdr->nBuckets, rate,
                  hdr->rampMux == 1 ? 'q' : 'p', hdr->pztID);
  } else {
    u_log_fn("rr_get_std_ramp_filename: unsupported ramp type %d", type);
    return ERR_INVALID_PARAM;
  }
  *name = buffer;
  return 0;
}

int rr_check_ramp_spec(const rr_ramp_line_t* cfg, const rr_ramp_hdr_t* hdr) {
  if (cfg == nullptr || hdr == nullptr) return ERR_INVALID_PARAM;
  const auto mismatch = [](const char* message) {
    u_log_fn("%s", message);
    return ERR_INVALID_PARAM;
  };
  const int32_t type = hdr->rampType;
  const bool pmi = felbrin::is_pmi(type);
  const bool type_ok = pmi ? (cfg->type == RR_TYPE_PMI || cfg->type == type) : cfg->type == type;
  if (!type_ok) return mismatch("Error: mismatched rampType\n");
  // Written so that a NaN on either side never matches.
  if (!(std::fabs(static_cast<double>(hdr->cameraRate) - cfg->cameraRate) <= 0.1))
    return mismatch("Error: mismatched cameraRate\n");
  if (hdr->cameraInterlace != cfg->cameraInterlace)
    return mismatch("Error: mismatched cameraInterlace\n");
  if (hdr->grabSkip != cfg->grabSkip) return mismatch("Error: mismatched grabSkip\n");
  if (!(hdr->fringesPerFrame == cfg->fringesPerFrame))
    return mismatch("Error: mismatched fringesPerFrame\n");
  if (pmi) return 0;
  if (!(hdr->scanLen == cfg->scanLen)) return mismatch("Error: mismatched scanLen\n");
  if (!(hdr->rampSlope == cfg->rampSlope)) return mismatch("Error: mismatched rampSlope\n");
  return 0;
}
