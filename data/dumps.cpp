// Structure dump printers, the dump checksum and the hex texts.
#include "data/dumps.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <span>

#include "common/hooks.h"

namespace {

// ---- floating-point text
//
// The C runtimes differ in how they print floating point (exponent digits,
// rounding of long fractions), so every float of a dump is formatted here to
// the exact text ISO C printf gives and printed with "%s".
class FloatText {
 public:
  // printf's "%<width>.<precision>f".
  static FloatText fixed(double v, int width, int precision) {
    FloatText t;
    t.format(v, std::chars_format::fixed, precision, width);
    return t;
  }
  // printf's "%<width>g" (six significant digits).
  static FloatText general(double v, int width = 0) {
    FloatText t;
    t.format(v, std::chars_format::general, 6, width);
    return t;
  }
  const char* c_str() const { return text_.data(); }

 private:
  void format(double v, std::chars_format style, int precision, int width) {
    // The widest text is a fixed double near DBL_MAX: 309 digits, a sign, a
    // point and the fraction; the buffer leaves room for the padding.
    std::array<char, 400> digits{};
    const auto result =
        std::to_chars(digits.data(), digits.data() + digits.size(), v, style, precision);
    const auto len = static_cast<std::size_t>(result.ptr - digits.data());
    const std::size_t pad = width > 0 && static_cast<std::size_t>(width) > len
                                ? static_cast<std::size_t>(width) - len
                                : 0;
    std::fill_n(text_.begin(), pad, ' ');
    std::copy_n(digits.begin(), len, text_.begin() + static_cast<std::ptrdiff_t>(pad));
    text_[pad + len] = '\0';
  }
  std::array<char, 440> text_{};
};

// The low 32 bits of an address: the dumps show addresses in eight digits.
unsigned low32(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p) & 0xFFFFFFFFu);
}

void print_null(std::FILE* f) { u_log_file(f, "NULL\n"); }

// ---- checksum

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = make_crc_table();

uint32_t crc_update(uint32_t crc, std::span<const uint8_t> bytes) {
  for (const uint8_t b : bytes) crc = (crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFFu];
  return crc;
}

std::span<const uint8_t> byte_span(const void* p, int64_t n) {
  if (p == nullptr || n <= 0) return {};
  return {static_cast<const uint8_t*>(p), static_cast<std::size_t>(n)};
}

// ---- matrices

// Bytes of width x height elements, held to what the buffer has.
int64_t frame_bytes(const wn_window_t& w, int32_t size, int elem_bytes) {
  if (w.width <= 0 || w.height <= 0 || size <= 0) return 0;
  const int64_t elems = std::min<int64_t>(int64_t{w.width} * w.height, size);
  return elems * elem_bytes;
}

template <class Rec>
void dump_plain(std::FILE* f, const Rec* m, int elem_bytes) {
  if (m == nullptr) return print_null(f);
  u_log_file(f, "size   = %d\n", m->size);
  dump_window(f, &m->window);
  u_log_file(f, "matrix = 0x%8.8X\n", low32(m->matrix));
  const int64_t n = frame_bytes(m->window, m->size, elem_bytes);
  if (n != 0 && m->matrix != nullptr) {
    u_log_file(f, "crc    = 0x%8.8X\n", u_crc(static_cast<std::size_t>(n), m->matrix));
  }
}

// The blocks in order, as many bytes as n_blocks * blocksize asks for: the
// shared buffer straight through, separate blocks alloc_blocksize at a time.
// Never more than was allocated. False when there is nothing to cover.
bool queue_crc(const mx_queue_t* q, uint32_t* crc) {
  int64_t want = int64_t{q->n_blocks} * q->blocksize;
  if (want <= 0 || q->matrix == nullptr) return false;
  *crc = 0;
  if (q->separate == 0) {
    *crc = crc_update(0, byte_span(q->matrix, std::min<int64_t>(want, q->alloc_size)));
    return true;
  }
  if (q->blocks == nullptr || q->alloc_blocksize <= 0) return false;
  const int n = std::min(q->alloc_blocks, q->blocks_cap);
  for (int i = 0; i < n && want > 0; ++i) {
    const int64_t take = std::min<int64_t>(want, q->alloc_blocksize);
    *crc = crc_update(*crc, byte_span(q->blocks[i], take));
    want -= take;
  }
  return true;
}

const char* fit_name(int32_t type) {
  switch (type) {
    case MX_FIT_PISTON: return "piston";
    case MX_FIT_PLANE: return "plane";
    case MX_FIT_SPHERE: return "sphere";
    case MX_FIT_CYLINDER: return "cylinder";
    default: return "unknown";
  }
}

const char* line_fit_name(int32_t type) {
  switch (type) {
    case MX_LINE_FIT_PISTON: return "piston";
    case MX_LINE_FIT_LINE: return "line";
    case MX_LINE_FIT_PARABOLA: return "parabola";
    default: return "unknown";
  }
}

void print_fixed(std::FILE* f, const char* name, double v) {
  u_log_file(f, "%s = %s\n", name, FloatText::fixed(v, 10, 4).c_str());
}

// Shared by u_hex_text and the float texts: "0x", 48 bytes of two digits, end.
constexpr int kHexMaxBytes = 48;
thread_local std::array<char, 2 + 2 * kHexMaxBytes + 1> hex_buffer;
thread_local std::array<char, 32> phase_res_buffer;

}  // namespace

// ---- printers

void dump_window(std::FILE* f, const wn_window_t* w) {
  if (w == nullptr) return print_null(f);
  u_log_file(f, "x      = %4d\n", w->x);
  u_log_file(f, "y      = %4d\n", w->y);
  u_log_file(f, "width  = %4d\n", w->width);
  u_log_file(f, "height = %4d\n", w->height);
}

void dump_mx16(std::FILE* f, const mx_bkt16_t* m) { dump_plain(f, m, 2); }
void dump_mx16(std::FILE* f, const mx_u16_t* m) { dump_plain(f, m, 2); }
void dump_mx32(std::FILE* f, const mx_i32_t* m) { dump_plain(f, m, 4); }
void dump_mx32(std::FILE* f, const mx_w32_t* m) { dump_plain(f, m, 4); }

void dump_mask(std::FILE* f, const mx_mask8_t* m) {
  if (m == nullptr) return print_null(f);
  u_log_file(f, "size = %d\n", m->size);
  dump_window(f, &m->window);
  u_log_file(f, "matrix = 0x%8.8X\n", low32(m->matrix));
  u_log_file(f, "bits = %#2.2x\n", static_cast<unsigned>(m->bits));
}

void dump_queue(std::FILE* f, const mx_queue_t* q) {
  if (q == nullptr) return print_null(f);
  u_log_file(f, "alloc_size       = %d\n", q->alloc_size);
  u_log_file(f, "[ alloc_win\n");
  dump_window(f, &q->alloc_win);
  u_log_file(f, "] alloc_win\n");
  u_log_file(f, "alloc_blocks     = %d\n", q->alloc_blocks);
  u_log_file(f, "alloc_blocksize  = %d\n", q->alloc_blocksize);
  u_log_file(f, "alloc_elem_size  = %d\n", q->alloc_elem_size);
  u_log_file(f, "elem_size        = %d\n", q->elem_size);
  u_log_file(f, "elem_res         = %d\n", q->elem_res);
  u_log_file(f, "size             = %d\n", q->size);
  u_log_file(f, "blocksize        = %d\n", q->blocksize);
  u_log_file(f, "n_blocks         = %d\n", q->n_blocks);
  u_log_file(f, "[ window\n");
  dump_window(f, &q->window);
  u_log_file(f, "] window\n");
  u_log_file(f, "[ stored\n");
  dump_window(f, &q->stored);
  u_log_file(f, "] stored\n");
  u_log_file(f, "matrix           = 0x%8.8X\n", low32(q->matrix));
  u_log_file(f, "qsize            = %d\n", q->qsize);
  u_log_file(f, "n_buckets        = %d\n", q->n_buckets);
  uint32_t crc = 0;
  if (queue_crc(q, &crc)) u_log_file(f, "crc    = 0x%8.8X\n", crc);
}

void dump_acq_settings(std::FILE* f, const mx_acq_settings_t* s) {
  if (s == nullptr) return print_null(f);
  u_log_file(f, "mask           = %#6.6x\n", s->mask);
  u_log_file(f, "n_buckets      = %d\n", s->n_buckets);
  u_log_file(f, "ramp_mux       = %d\n", s->ramp_mux);
  u_log_file(f, "ramp_cal       = %d\n", s->ramp_cal);
  u_log_file(f, "ramp_gain      = %d\n", s->ramp_gain);
  u_log_file(f, "ramp_gain_dflt = %d\n", s->ramp_gain_dflt);
  u_log_file(f, "sfac_limit     = %d\n", s->sfac_limit);
  u_log_file(f, "target_intens  = %s\n", FloatText::fixed(s->target_intens, 5, 3).c_str());
  u_log_file(f, "target_range   = %s\n", FloatText::fixed(s->target_range, 5, 3).c_str());
  u_log_file(f, "sw_llc         = %d\n", s->sw_llc);
  u_log_file(f, "light_level    = %d\n", s->light_level);
  u_log_file(f, "min_mod        = %d\n", s->min_mod);
  u_log_file(f, "min_mod_count  = %d\n", s->min_mod_count);
  u_log_file(f, "n_sat_skip     = %d\n", s->n_sat_skip);
  u_log_file(f, "n_bright_skip  = %d\n", s->n_bright_skip);
  u_log_file(f, "do_avg         = %d\n", s->do_avg);
  u_log_file(f, "avg_count      = %d\n", s->avg_count);
  u_log_file(f, "avg_keep_sat   = %d\n", s->avg_keep_sat);
  u_log_file(f, "awm_enable     = %d\n", s->awm_enable);
}

void dump_phase_settings(std::FILE* f, const mx_phase_settings_t* s) {
  if (s == nullptr) return print_null(f);
  u_log_file(f, "algorithm       = %d\n", s->algorithm);
  u_log_file(f, "type            = %d\n", s->type);
  u_log_file(f, "phase_res       = %s\n", u_phase_res_name(s->phase_res));
  u_log_file(f, "min_area_pixels = %d\n", s->min_area_pixels);
  u_log_file(f, "max_area_pixels = %d\n", s->max_area_pixels);
  u_log_file(f, "pre_filter      = %s (%s)\n", FloatText::general(s->pre_filter).c_str(),
             u_float_hex(s->pre_filter));
  u_log_file(f, "discon_action   = %d\n", s->discon_action);
  u_log_file(f, "discon_filter   = %s (%s)\n", FloatText::general(s->discon_filter).c_str(),
             u_float_hex(s->discon_filter));
  u_log_file(f, "noise_thresh    = %s (%s)\n", FloatText::general(s->noise_thresh).c_str(),
             u_float_hex(s->noise_thresh));
  u_log_file(f, "order_by_size   = %d\n", s->order_by_size);
  u_log_file(f, "ref_mask:[\n");
  dump_mask(f, s->ref_mask);
  u_log_file(f, "]\n");
}

void dump_fit(std::FILE* f, const mx_fit_t* p) {
  if (p == nullptr) return print_null(f);
  u_log_file(f, "type      = %10s\n", fit_name(p->type));
  print_fixed(f, "offset   ", p->offset);
  print_fixed(f, "x_coef   ", p->x_coef);
  print_fixed(f, "y_coef   ", p->y_coef);
  print_fixed(f, "x2y2_coef", p->x2y2_coef);
  print_fixed(f, "xy_coef  ", p->xy_coef);
  print_fixed(f, "x2_coef  ", p->x2_coef);
  print_fixed(f, "y2_coef  ", p->y2_coef);
  u_log_file(f, "center_x  = %10d\n", p->center_x);
  u_log_file(f, "center_y  = %10d\n", p->center_y);
}

void dump_fit_all(std::FILE* f, const mx_fit_all_t* p) {
  if (p == nullptr) return print_null(f);
  print_fixed(f, "pst_offset   ", p->pst_offset);
  print_fixed(f, "pln_offset   ", p->pln_offset);
  print_fixed(f, "pln_x_coef   ", p->pln_x_coef);
  print_fixed(f, "pln_y_coef   ", p->pln_y_coef);
  print_fixed(f, "sph_offset   ", p->sph_offset);
  print_fixed(f, "sph_x_coef   ", p->sph_x_coef);
  print_fixed(f, "sph_y_coef   ", p->sph_y_coef);
  print_fixed(f, "sph_x2y2_coef", p->sph_x2y2_coef);
  print_fixed(f, "cyl_offset   ", p->cyl_offset);
  print_fixed(f, "cyl_x_coef   ", p->cyl_x_coef);
  print_fixed(f, "cyl_y_coef   ", p->cyl_y_coef);
  print_fixed(f, "cyl_xy_coef  ", p->cyl_xy_coef);
  print_fixed(f, "cyl_x2_coef  ", p->cyl_x2_coef);
  print_fixed(f, "cyl_y2_coef  ", p->cyl_y2_coef);
}

void dump_line_fit(std::FILE* f, const mx_line_fit_t* p) {
  if (p == nullptr) return print_null(f);
  u_log_file(f, "type      = %10s\n", line_fit_name(p->type));
  print_fixed(f, "offset   ", p->offset);
  print_fixed(f, "x_coef   ", p->x_coef);
  print_fixed(f, "x2_coef  ", p->x2_coef);
  print_fixed(f, "x3_coef  ", p->x3_coef);
  print_fixed(f, "x4_coef  ", p->x4_coef);
  u_log_file(f, "x0        = %10d\n", p->x0);
  u_log_file(f, "y0        = %10d\n", p->y0);
  u_log_file(f, "x1        = %10d\n", p->x1);
  u_log_file(f, "y1        = %10d\n", p->y1);
  u_log_file(f, "x2        = %10d\n", p->x2);
  u_log_file(f, "y2        = %10d\n", p->y2);
  u_log_file(f, "xn        = %10d\n", p->xn);
  u_log_file(f, "yn        = %10d\n", p->yn);
  u_log_file(f, "length    = %10d\n", p->length);
  u_log_file(f, "npoints   = %10d\n", p->npoints);
}

void dump_stats(std::FILE* f, const mx_stats_t* s) {
  if (s == nullptr) return print_null(f);
  u_log_file(f, "pv       = %8d\n", s->pv);
  u_log_file(f, "peak     = %8d\n", s->peak);
  u_log_file(f, "valley   = %8d\n", s->valley);
  u_log_file(f, "mean     = %s\n", FloatText::general(s->mean, 8).c_str());
  u_log_file(f, "peak_x   = %8d\n", s->peak_x);
  u_log_file(f, "peak_y   = %8d\n", s->peak_y);
  u_log_file(f, "valley_x = %8d\n", s->valley_x);
  u_log_file(f, "valley_y = %8d\n", s->valley_y);
  u_log_file(f, "npoints  = %8d\n", s->npoints);
}

void dump_poly(std::FILE* f, const mx_poly_t* p) {
  if (p == nullptr) return print_null(f);
  const int n = std::clamp<int>(p->count, 0, MX_POLY_MAX_COEFS);
  for (int i = 0; i < n; ++i) {
    u_log_file(f, "coef[%2d] = %s\n", i, FloatText::fixed(p->coef[i], 10, 4).c_str());
  }
  u_log_file(f, "center_x = %3d\n", p->center_x);
  u_log_file(f, "center_y = %3d\n", p->center_y);
  u_log_file(f, "radius2  = %d\n", p->radius2);
}

void dump_value_pairs(std::FILE* f, int count, const float* pairs) {
  if (pairs == nullptr) return print_null(f);
  static constexpr const char* kStars = "********************";
  const auto n = static_cast<std::size_t>(std::max(count, 0));
  const std::span<const float> values(pairs, 2 * n);
  for (std::size_t i = 0; i < values.size(); i += 2) {
    if (values[i] >= FLT_MAX) {
      u_log_file(f, "%20.20s", kStars);
    } else {
      u_log_file(f, "%s", FloatText::fixed(values[i], 20, 4).c_str());
    }
    if (values[i + 1] >= FLT_MAX) {
      u_log_file(f, "     %20.20s\n", kStars);
    } else {
      u_log_file(f, "     %s\n", FloatText::fixed(values[i + 1], 20, 4).c_str());
    }
  }
}

int dump_regions(std::FILE* f, const mx_region_t* regions, int count) {
  if (regions == nullptr) {
    print_null(f);
    return 0;
  }
  const auto n = static_cast<std::size_t>(std::max(count, 0));
  for (const mx_region_t& r : std::span(regions, n)) {
    u_log_file(f, "region=%3d  npoints=%5d  xmin=%3d  ymin=%3d  xmax=%3d  ymax=%3d  dist=%3d\n",
               r.region, r.npoints, r.xmin, r.ymin, r.xmax, r.ymax, r.dist);
  }
  return static_cast<int>(n);
}

void dump_coef_table(std::FILE* f, const mx_coef_table_t* t) {
  if (t == nullptr) return print_null(f);
  u_log_file(f, "unity  = %s\n", FloatText::fixed(t->unity, 6, 0).c_str());
  for (int row = 0; row < MX_COEF_ROWS; ++row) {
    u_log_file(f, "%2d  %s %s %s %s\n", row, FloatText::fixed(t->coef[0][row], 10, 4).c_str(),
               FloatText::fixed(t->coef[1][row], 10, 4).c_str(),
               FloatText::fixed(t->coef[2][row], 10, 4).c_str(),
               FloatText::fixed(t->coef[3][row], 10, 4).c_str());
  }
}

void dump_fiducial_fit(std::FILE* f, const mx_fiducial_fit_t* p) {
  if (p == nullptr) return print_null(f);
  u_log_file(f, "Asin  = %s\n", FloatText::general(p->Asin).c_str());
  u_log_file(f, "Acos  = %s\n", FloatText::general(p->Acos).c_str());
  u_log_file(f, "r1    = %s\n", FloatText::general(p->r1).c_str());
  u_log_file(f, "r2    = %s\n", FloatText::general(p->r2).c_str());
  u_log_file(f, "r3    = %s\n", FloatText::general(p->r3).c_str());
  u_log_file(f, "r4    = %s\n", FloatText::general(p->r4).c_str());
  u_log_file(f, "xoff  = %s\n", FloatText::general(p->xoff).c_str());
  u_log_file(f, "yoff  = %s\n", FloatText::general(p->yoff).c_str());
  u_log_file(f, "pverr = %s\n", FloatText::general(p->pverr).c_str());
  u_log_file(f, "rmserr= %s\n", FloatText::general(p->rmserr).c_str());
  u_log_file(f, "nfids = %d\n", p->nfids);
}

int dump_bytes(std::FILE* f, const uint8_t* bytes, int count, int style) {
  if (bytes == nullptr) {
    print_null(f);
    return 0;
  }
  const auto n = static_cast<std::size_t>(std::max(count, 0));
  const std::span<const uint8_t> all(bytes, n);
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i % 10 == 0) u_log_file(f, "%5d", static_cast<int>(i));
    const int b = all[i];
    switch (style) {
      case U_BYTES_HEX: u_log_file(f, " %2.2x", static_cast<unsigned>(b)); break;
      case U_BYTES_OCTAL: u_log_file(f, " %3.3o", static_cast<unsigned>(b)); break;
      case U_BYTES_BINARY:
        u_log_file(f, " %1d%1d%1d%1d%1d%1d%1d%1d", (b >> 7) & 1, (b >> 6) & 1, (b >> 5) & 1,
                   (b >> 4) & 1, (b >> 3) & 1, (b >> 2) & 1, (b >> 1) & 1, b & 1);
        break;
      default: u_log_file(f, " %3d", b); break;
    }
    if (i % 10 == 9 || i + 1 == all.size()) u_log_file(f, "\n");
  }
  return static_cast<int>(n);
}

// ---- checksum and hex text

uint32_t u_crc(std::size_t count, const void* bytes) {
  if (bytes == nullptr) return 0;
  return crc_update(0, {static_cast<const uint8_t*>(bytes), count});
}

const char* u_hex_text(const void* bytes, int count, int step) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char* out = hex_buffer.data();
  *out++ = '0';
  *out++ = 'x';
  if (count > kHexMaxBytes) {
    *out++ = '*';
  } else if (bytes != nullptr) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (int i = 0; i < count; ++i, p += step) {
      *out++ = kDigits[*p >> 4];
      *out++ = kDigits[*p & 0x0F];
    }
  }
  *out = '\0';
  return hex_buffer.data();
}

namespace {

// The value's bytes from the most significant to the least, whatever the
// host's byte order.
template <class Bits>
const char* bits_hex(Bits bits) {
  std::array<uint8_t, sizeof(Bits)> msb_first{};
  for (std::size_t i = 0; i < sizeof(Bits); ++i) {
    msb_first[i] = static_cast<uint8_t>(bits >> (8 * (sizeof(Bits) - 1 - i)));
  }
  return u_hex_text(msb_first.data(), static_cast<int>(msb_first.size()), 1);
}

}  // namespace

const char* u_float_hex(float v) { return bits_hex(std::bit_cast<uint32_t>(v)); }
const char* u_double_hex(double v) { return bits_hex(std::bit_cast<uint64_t>(v)); }

const char* u_phase_res_name(int code) {
  const char* name = "UNKNOWN";
  switch (code) {
    case MX_PHASE_RES_LO: name = "LO"; break;
    case MX_PHASE_RES_HI: name = "HI"; break;
    case MX_PHASE_RES_SUPER: name = "SUPER"; break;
    default: break;
  }
  std::snprintf(phase_res_buffer.data(), phase_res_buffer.size(), "%s (%d)", name, code);
  return phase_res_buffer.data();
}
