#include "data/point_list.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/pair_table.h"
#include "data/point_list_internal.h"
#include "data/scaled_text_internal.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

// Short texts of at most 8 bytes are copied with one fixed-size copy (the
// buffer always has room for it) rather than a call per piece.
struct ShortText {
  char bytes[8] = {};
  std::size_t size = 0;
  explicit ShortText(std::string_view s) : size(s.size()) {
    std::memcpy(bytes, s.data(), s.size());
  }
};

char* put(char* p, const ShortText& t) {
  std::memcpy(p, t.bytes, sizeof t.bytes);
  return p + t.size;
}

// The decimal text of a column number, which only ever goes up by one:
// stepping it is cheaper than formatting it afresh for every point. The
// digits live in one integer, lowest address first, so that the copy out
// is a register store: kept in bytes, each step's one-byte store followed
// by the eight-byte load of the copy stalled the processor on every point.
class ColumnText {
 public:
  explicit ColumnText(int x) : x_(x) { render(); }
  void step() {
    ++x_;
    if ((text_ & last_mask_) != last_nine_) {
      text_ += last_one_;
    } else {
      render();  // a carry: one point in ten
    }
  }
  char* put(char* p) const {
    std::memcpy(p, &text_, sizeof text_);
    return p + len_;
  }

 private:
  void render() {
    char digits[FMT_MAX_CHARS] = {};
    len_ = static_cast<int>(fmt_int(digits, x_) - digits);  // at most 5 digits
    std::memcpy(&text_, digits, sizeof text_);
    // The last digit's byte within the integer, for either byte order.
    const int shift = std::endian::native == std::endian::little ? 8 * (len_ - 1) : 8 * (8 - len_);
    last_mask_ = uint64_t{0xFF} << shift;
    last_nine_ = uint64_t{'9'} << shift;
    last_one_ = uint64_t{1} << shift;
  }

  int x_;
  uint64_t text_ = 0;
  uint64_t last_mask_ = 0, last_nine_ = 0, last_one_ = 0;
  int len_ = 0;
};

// Longest point line: two 5-digit coordinates with their blanks, a %g value
// and the line end, plus the slack of the fixed-size copies.
constexpr std::size_t kMaxLine = 2 * 8 + FMT_MAX_CHARS + 8;
// What a point line can really take up: "32766 32766 " (the last column and
// row), at most 13 characters of %g ("-1.23457e+308") and the line end. A
// run of n points fits in n * kLongestLine + kMaxLine bytes.
constexpr std::size_t kLongestLine = 12 + 13 + 8;

// What every piece of the file is formatted from. Pixels are numbered row
// after row over the matrix's window, so that any run of them can be
// formatted on its own, given kMaxLine bytes of room per pixel.
class PointLines {
 public:
  PointLines(const mx_i32_t& m, const mx_stats_t& st, std::string_view eol)
      : rows_(m.matrix),
        width_(m.window.width),
        pixels_(static_cast<int64_t>(m.window.width) * m.window.height),
        valley_(st.valley),
        offset_(st.valley),
        span_(static_cast<double>(st.peak) - static_cast<double>(st.valley)),
        scaled_(static_cast<uint32_t>(st.pv)),
        line_end_(eol) {}

  int64_t pixels() const { return pixels_; }

  char* put_count(char* p, int32_t npoints) const { return put(fmt_int(p, npoints), line_end_); }
  // The offset and span lines (room: 2 * kMaxLine).
  char* put_trailer(char* p) const {
    for (double value : {offset_, span_}) p = put(fmt_g(p, value), line_end_);
    return p;
  }

  // Point lines of columns [x, x_end) of row y.
  char* put_run(char* p, int y, int x, int x_end) const {
    // " y " is the same for the whole row.
    char ytext[FMT_MAX_CHARS] = {' '};
    char* yend = fmt_int(ytext + 1, y);
    *yend++ = ' ';
    const ShortText y_field({ytext, static_cast<std::size_t>(yend - ytext)});
    const int32_t* const row = rows_ + static_cast<std::ptrdiff_t>(y) * width_;
    ColumnText x_text(x);
    for (; x < x_end; ++x, x_text.step()) {
      const int32_t v = row[x];
      if (v >= MX_INVALID_I32) continue;
      p = put(x_text.put(p), y_field);
      // An all-equal matrix has no span; its values all scale to 0.
      p = scaled_.put(p, static_cast<uint32_t>(static_cast<int64_t>(v) - valley_));
      p = put(p, line_end_);
    }
    return p;
  }

  // Point lines of pixels [first, last).
  char* put_pixels(char* p, int64_t first, int64_t last) const {
    int y = static_cast<int>(first / width_);
    int x = static_cast<int>(first % width_);
    while (first < last) {
      const int x_end = static_cast<int>(std::min<int64_t>(width_, x + (last - first)));
      p = put_run(p, y, x, x_end);
      first += x_end - x;
      ++y;
      x = 0;
    }
    return p;
  }

 private:
  const int32_t* rows_;
  int width_;
  int64_t pixels_;
  int32_t valley_;
  double offset_;
  double span_;
  ScaledText scaled_;
  ShortText line_end_;
};

// One thread: format into a buffer on the stack and hand it over whenever
// it cannot take another run of points.
int write_on_one_thread(ByteSink& sink, const PointLines& lines) {
  // Fewer points than this left room for: hand the buffer over first.
  constexpr std::ptrdiff_t kMinRun = 64;
  SinkBuffer out(sink);
  const char* const end = out.limit(0);
  char* p = out.begin();
  for (int64_t next = 0; next < lines.pixels();) {
    const std::ptrdiff_t room = (end - p) / static_cast<std::ptrdiff_t>(kMaxLine);
    if (room < kMinRun) {
      p = out.flush(p);
      if (!out.ok()) return ERR_CANT_WRITE_FILE;
      continue;
    }
    const int64_t last = std::min(lines.pixels(), next + room);
    p = lines.put_pixels(p, next, last);
    next = last;
  }
  if (end - p < static_cast<std::ptrdiff_t>(2 * kMaxLine)) p = out.flush(p);
  out.flush(lines.put_trailer(p));
  return out.ok() ? 0 : ERR_CANT_WRITE_FILE;
}

// Several threads: the pixels are cut into blocks of kBlockPixels, which the
// threads (the caller and its helpers) claim in order and format each into a
// buffer of its own; whichever thread finds the next block due finished
// hands it to the sink, so the sink gets the blocks strictly in order, one
// call at a time, and writing overlaps the formatting of the blocks after it.
// A block is claimed only when its buffer is free, that is when the block
// kSlotsPerThread * threads places before it has been written.
//
// Peak memory: kSlotsPerThread * threads buffers of kSlotBytes (528 KiB),
// 2.1 MiB for two threads and 4.1 MiB at most, whatever the size of the map.
class Pipeline {
 public:
  static constexpr int kMaxThreads = 4;
  static constexpr int kSlotsPerThread = 2;
  static constexpr int64_t kBlockPixels = 16384;
  static constexpr std::size_t kSlotBytes = kBlockPixels * kLongestLine + kMaxLine;

  Pipeline(ByteSink& sink, const PointLines& lines, int threads)
      : sink_(sink),
        lines_(lines),
        threads_(std::clamp(threads, 1, kMaxThreads)),
        slot_count_(kSlotsPerThread * threads_),
        blocks_((lines.pixels() + kBlockPixels - 1) / kBlockPixels) {}

  // Every buffer, before anything is written: false when one is refused.
  bool allocate() {
    for (int i = 0; i < slot_count_; ++i) {
      slots_[i].bytes.reset(static_cast<char*>(u_malloc_fn(kSlotBytes)));
      if (!slots_[i].bytes) return false;
    }
    return true;
  }

  // Formats and writes every block; 0 or ERR_CANT_WRITE_FILE.
  int run() {
    std::thread helpers[kMaxThreads - 1];
    int started = 0;
    for (; started < threads_ - 1; ++started) {
      // Threads that cannot be had leave the work to the rest.
      try {
        helpers[started] = std::thread([this] { work(); });
      } catch (const std::exception&) {
        break;
      }
    }
    work();
    for (int i = 0; i < started; ++i) helpers[i].join();
    return failed_ ? ERR_CANT_WRITE_FILE : 0;
  }

 private:
  struct Slot {
    std::unique_ptr<char[], HookedFree> bytes;
    std::size_t used = 0;
    bool done = false;  // formatted, not yet written
  };
  Slot& slot_of(int64_t block) { return slots_[block % slot_count_]; }

  // One thread's share: write what is due, else claim and format a block,
  // else wait; ends when every block is written or a write has failed.
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!writing_ && !failed_ && next_write_ < blocks_ && slot_of(next_write_).done) {
        write_due_locked(lock);
      } else if (failed_ || next_write_ == blocks_) {
        return;
      } else if (next_claim_ < blocks_ && next_claim_ < next_write_ + slot_count_) {
        const int64_t block = next_claim_++;
        Slot& s = slot_of(block);
        lock.unlock();
        const int64_t first = block * kBlockPixels;
        char* const end = lines_.put_pixels(s.bytes.get(), first,
                                            std::min(first + kBlockPixels, lines_.pixels()));
        lock.lock();
        s.used = static_cast<std::size_t>(end - s.bytes.get());
        s.done = true;
      } else {
        ++waiting_;
        wake_.wait(lock);
        --waiting_;
      }
    }
  }

  // Hands the finished blocks that are due to the sink, with the lock
  // released during each write; the writing_ flag keeps every other thread
  // from writing meanwhile, and nothing is written once a write failed.
  void write_due_locked(std::unique_lock<std::mutex>& lock) {
    writing_ = true;
    while (!failed_ && next_write_ < blocks_ && slot_of(next_write_).done) {
      Slot& s = slot_of(next_write_);
      lock.unlock();
      const bool ok = sink_.write({s.bytes.get(), s.used});
      lock.lock();
      failed_ = !ok;
      s.done = false;
      ++next_write_;
      // Most writes free a buffer that nobody waits for: a wake-up would be
      // a system call for nothing.
      if (waiting_ > 0) wake_.notify_all();
    }
    writing_ = false;
  }

  ByteSink& sink_;
  const PointLines& lines_;
  const int threads_;
  const int slot_count_;
  const int64_t blocks_;
  Slot slots_[kSlotsPerThread * kMaxThreads];

  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;
  int64_t next_claim_ = 0;
  int64_t next_write_ = 0;
  int waiting_ = 0;
  bool writing_ = false;
  bool failed_ = false;
};

// The checks of mx_i32_stats over a window; 0 when the statistics can be taken.
int check_stats_window(const mx_i32_t* m, const wn_window_t& w) {
  const int rel = wn_compare_windows(&w, &m->window);
  if (rel != WN_EQUAL && rel != WN_INSIDE) return ERR_IMPROPER_WINDOW;
  if (w.height <= 0) return ERR_ALL_BAD_DATA;
  if (m->matrix == nullptr || m->size < static_cast<int64_t>(m->window.width) * m->window.height)
    return ERR_INVALID_PARAM;
  return 0;
}

int check_range(int32_t peak, int32_t valley) {
  if (peak == INT32_MIN) return ERR_ALL_BAD_DATA;
  if (static_cast<double>(peak) - static_cast<double>(valley) > INT32_MAX)
    return ERR_PEAKVAL_OVERFLOW;
  return 0;
}

// What the point list needs of the statistics (peak, valley, their
// difference and the count), with the same checks and errors, in a loop
// without positions or sums that the compiler turns into vector code: it
// runs over the whole map before the first point can be formatted.
int value_range(const mx_i32_t* m, mx_stats_t* st) {
  if (const int rc = check_stats_window(m, m->window); rc != 0) return rc;
  const int32_t* const v = m->matrix;
  const int64_t n = static_cast<int64_t>(m->window.width) * m->window.height;
  int32_t peak = INT32_MIN, valley = INT32_MAX;
  int64_t count = 0;
  for (int64_t i = 0; i < n; ++i) {
    const bool valid = v[i] < MX_INVALID_I32;
    count += valid;
    peak = std::max(peak, valid ? v[i] : INT32_MIN);
    valley = std::min(valley, v[i]);  // an invalid value is above every valid one
  }
  if (const int rc = check_range(peak, valley); rc != 0) return rc;
  st->peak = peak;
  st->valley = valley;
  st->pv = peak - valley;
  st->npoints = static_cast<int32_t>(count);
  return 0;
}

}  // namespace

int write_point_list(ByteSink& sink, const mx_i32_t* m, std::string_view eol, int threads) {
  if (m == nullptr || eol.size() > sizeof ShortText::bytes) return ERR_INVALID_PARAM;
  mx_stats_t st{};
  if (const int rc = value_range(m, &st); rc != 0) return rc;
  const PointLines lines(*m, st, eol);

  if (threads == kAutoThreads) threads = static_cast<int>(std::thread::hardware_concurrency());
  std::optional<Pipeline> pipeline;
  if (threads > 1) {
    pipeline.emplace(sink, lines, threads);
    if (!pipeline->allocate()) return ERR_NO_MEM;
  }

  // The count line goes out on its own, so that a file that cannot be
  // written at all fails before any point is formatted.
  char count[kMaxLine];
  if (!sink.write({count, static_cast<std::size_t>(lines.put_count(count, st.npoints) - count)}))
    return ERR_CANT_WRITE_FILE;
  if (!pipeline) return write_on_one_thread(sink, lines);
  if (const int rc = pipeline->run(); rc != 0) return rc;
  char trailer[2 * kMaxLine];
  return sink.write({trailer, static_cast<std::size_t>(lines.put_trailer(trailer) - trailer)})
             ? 0
             : ERR_CANT_WRITE_FILE;
}

int write_point_list_file(const char* path, const mx_i32_t* phase, int threads) {
  if (phase == nullptr) return ERR_INVALID_PARAM;
  std::FILE* f = plat::open_file(path, "wb");
  if (f == nullptr) return ERR_CANT_CREATE_FILE;
  // The writers hand over large buffers of their own; through the stream's
  // buffer each would cost a copy and two system calls instead of one.
  std::setvbuf(f, nullptr, _IONBF, 0);
  StreamSink sink(f);
  int rc = write_point_list(sink, phase, plat::kLineEnd, threads);
  // A full disk may only show when the last bytes are flushed by the close.
  if (std::fclose(f) != 0 && rc == 0) rc = ERR_CANT_WRITE_FILE;
  return rc;
}

}  // namespace felbrin

int df_write_point_list(const char* path, const mx_i32_t* phase) {
  return felbrin::write_point_list_file(path, phase, felbrin::kAutoThreads);
}

int mx_i32_stats(const mx_i32_t* m, const wn_window_t* window, mx_stats_t* stats) {
  if (m == nullptr || stats == nullptr) return ERR_INVALID_PARAM;
  *stats = mx_stats_t{};
  const wn_window_t w = window != nullptr ? *window : m->window;
  if (const int rc = felbrin::check_stats_window(m, w); rc != 0) return rc;

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
  if (const int rc = felbrin::check_range(peak, valley); rc != 0) return rc;

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
