#include "data/point_list.h"

#include <climits>
#include <cstring>
#include <memory>

#include "common/errors.h"
#include "data/number_format.h"
#include "data/point_list_internal.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

// Short texts of at most 8 bytes are copied with one fixed-size copy (the
// buffer always has room for it) rather than a call per piece.
struct ShortText {
  char bytes[8] = {};
  std::size_t size = 0;
  explicit ShortText(std::string_view s) : size(s.size()) { std::memcpy(bytes, s.data(), s.size()); }
};

char* put(char* p, const ShortText& t) {
  std::memcpy(p, t.bytes, sizeof t.bytes);
  return p + t.size;
}

// The decimal text of a column number, which only ever goes up by one:
// stepping it is cheaper than formatting it afresh for every point.
class ColumnText {
 public:
  void step() {
    int i = len_ - 1;
    while (i >= 0 && text_[i] == '9') text_[i--] = '0';
    if (i >= 0) {
      ++text_[i];
      return;
    }
    std::memmove(text_ + 1, text_, static_cast<std::size_t>(len_));
    text_[0] = '1';
    ++len_;
  }
  char* put(char* p) const {
    std::memcpy(p, text_, sizeof text_);
    return p + len_;
  }

 private:
  char text_[8] = {'0'};  // a column is at most 5 digits
  int len_ = 1;
};

// Longest point line: two 5-digit coordinates with their blanks, a %g value
// and the line end, plus the slack of the fixed-size copies.
constexpr std::size_t kMaxLine = 2 * 8 + FMT_MAX_CHARS + 8;

}  // namespace

int write_point_list(ByteSink& sink, const mx_i32_t* m, std::string_view eol) {
  if (m == nullptr || eol.size() > sizeof ShortText::bytes) return ERR_INVALID_PARAM;
  mx_stats_t st{};
  if (const int rc = mx_i32_stats(m, &m->window, &st); rc != 0) return rc;

  const double offset = st.valley;
  const double span = static_cast<double>(st.peak) - static_cast<double>(st.valley);
  const ShortText line_end(eol);
  SinkBuffer out(sink);
  const char* const limit = out.limit(kMaxLine);

  char* p = put(fmt_int(out.begin(), st.npoints), line_end);
  p = out.flush(p);
  if (!out.ok()) return ERR_CANT_WRITE_FILE;

  const int width = m->window.width, height = m->window.height;
  const int32_t* row = m->matrix;
  for (int y = 0; y < height; ++y, row += width) {
    // " y " is the same for the whole row.
    char ytext[FMT_MAX_CHARS] = {' '};
    char* yend = fmt_int(ytext + 1, y);
    *yend++ = ' ';
    const ShortText y_field({ytext, static_cast<std::size_t>(yend - ytext)});
    ColumnText x_text;
    for (int x = 0; x < width; ++x, x_text.step()) {
      const int32_t v = row[x];
      if (v >= MX_INVALID_I32) continue;
      if (p > limit) p = out.flush(p);
      p = put(x_text.put(p), y_field);
      // Divide, never multiply by a reciprocal: the last digit would differ.
      // An all-equal matrix has no span; its values all scale to 0.
      if (span != 0) {
        p = fmt_g(p, (static_cast<double>(v) - offset) / span);
      } else {
        *p++ = '0';
      }
      p = put(p, line_end);
    }
    if (!out.ok()) return ERR_CANT_WRITE_FILE;
  }

  for (double trailer : {offset, span}) {
    if (p > limit) p = out.flush(p);
    p = put(fmt_g(p, trailer), line_end);
  }
  out.flush(p);
  return out.ok() ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace felbrin

int df_write_point_list(const char* path, const mx_i32_t* phase) {
  if (phase == nullptr) return ERR_INVALID_PARAM;
  std::FILE* f = plat::open_file(path, "wb");
  if (f == nullptr) return ERR_CANT_CREATE_FILE;
  felbrin::StreamSink sink(f);
  int rc = felbrin::write_point_list(sink, phase, plat::kLineEnd);
  // A full disk may only show when the last bytes are flushed by the close.
  if (std::fclose(f) != 0 && rc == 0) rc = ERR_CANT_WRITE_FILE;
  return rc;
}

int mx_i32_stats(const mx_i32_t* m, const wn_window_t* window, mx_stats_t* stats) {
  if (m == nullptr || stats == nullptr) return ERR_INVALID_PARAM;
  *stats = mx_stats_t{};
  const wn_window_t w = window != nullptr ? *window : m->window;
  const int rel = wn_compare_windows(&w, &m->window);
  if (rel != WN_EQUAL && rel != WN_INSIDE) return ERR_IMPROPER_WINDOW;
  if (w.height <= 0) return ERR_ALL_BAD_DATA;
  if (m->matrix == nullptr ||
      m->size < static_cast<int64_t>(m->window.width) * m->window.height)
    return ERR_INVALID_PARAM;

  int32_t peak = INT32_MIN, valley = INT32_MAX;
  int peak_c = 0, peak_r = 0, valley_c = 0, valley_r = 0;
  int64_t count = 0;
  double sum = 0;
  const int32_t* row = mx_i32_at(m, w.x, w.y);
  for (int r = 0; r < w.height; ++r, row += m->window.width) {
    for (int c = 0; c < w.width; ++c) {
      const int32_t v = row[c];
      if (v >= MX_INVALID_I32) continue;
      ++count;
      sum += static_cast<double>(v);
      if (v > peak) peak = v, peak_c = c, peak_r = r;
      if (v < valley) valley = v, valley_c = c, valley_r = r;
    }
  }
  if (peak == INT32_MIN) return ERR_ALL_BAD_DATA;
  if (static_cast<double>(peak) - static_cast<double>(valley) > INT32_MAX)
    return ERR_PEAKVAL_OVERFLOW;

  stats->pv = peak - valley;
  stats->peak = peak;
  stats->valley = valley;
  stats->mean = sum / static_cast<double>(count);
  stats->peak_x = static_cast<int16_t>(w.x + peak_c);
  stats->peak_y = static_cast<int16_t>(w.y + peak_r);
  stats->valley_x = static_cast<int16_t>(w.x + valley_c);
  stats->valley_y = static_cast<int16_t>(w.y + valley_r);
  stats->npoints = static_cast<int32_t>(count);
  return 0;
}

int mx_i32_rows(const mx_i32_t* m, const wn_window_t* window, int32_t** rows) {
  if (m == nullptr || rows == nullptr || m->matrix == nullptr) return ERR_INVALID_PARAM;
  const wn_window_t w = window != nullptr ? *window : m->window;
  const int rel = wn_compare_windows(&w, &m->window);
  if (rel != WN_EQUAL && rel != WN_INSIDE) return ERR_IMPROPER_WINDOW;
  int32_t* p = m->matrix + (static_cast<std::ptrdiff_t>(w.y - m->window.y) * m->window.width +
                            (w.x - m->window.x));
  for (int i = 0; i < w.height; ++i, p += m->window.width) rows[i] = p;
  return 0;
}
