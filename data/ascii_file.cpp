// Writer and reader of the ASCII data file.
#include "data/ascii_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/util.h"
#include "data/ascii_file_internal.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

constexpr std::string_view kFormat1 = "Trel ASCII Data File - Format 1";
constexpr std::string_view kFormat2 = "Trel ASCII Data File - Format 2";

// ---------------------------------------------------------------- writing

// Builds one line at a time in the sink's buffer.
class LineWriter {
 public:
  LineWriter(ByteSink& sink, std::string_view eol) : out_(sink), eol_(eol) { p_ = out_.begin(); }

  LineWriter& num(int v) {
    room();
    sep();
    p_ = fmt_int(p_, v);
    return *this;
  }
  LineWriter& real(double v) {
    room();
    sep();
    p_ = fmt_g(p_, v);
    return *this;
  }
  // A text field of `size` bytes: up to its first zero byte, padded with
  // blanks to size - 1 characters, in double quotes.
  LineWriter& text(const char* field, std::size_t size) {
    room();
    sep();
    const std::size_t n = strnlen_within(field, size);
    *p_++ = '"';
    std::memcpy(p_, field, n);
    p_ += n;
    for (std::size_t i = n; i + 1 < size; ++i) *p_++ = ' ';
    *p_++ = '"';
    return *this;
  }
  LineWriter& raw(std::string_view s) {
    room();
    std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
    return *this;
  }
  // Ends the line; the next item starts without a blank.
  LineWriter& end() {
    raw(eol_);
    first_ = true;
    return *this;
  }
  // A value of a data section: the number and one blank.
  void value(int64_t v) {
    room();
    p_ = fmt_int(p_, static_cast<int32_t>(v));
    *p_++ = ' ';
  }
  void value_u(uint32_t v) {
    room();
    if (v > static_cast<uint32_t>(INT32_MAX)) {
      p_ = fmt_int(p_, static_cast<int32_t>(v / 10));
      *p_++ = static_cast<char>('0' + v % 10);
    } else {
      p_ = fmt_int(p_, static_cast<int32_t>(v));
    }
    *p_++ = ' ';
  }

  bool finish() {
    out_.flush(p_);
    return out_.ok();
  }
  bool ok() const { return out_.ok(); }

 private:
  static std::size_t strnlen_within(const char* s, std::size_t size) {
    const void* zero = std::memchr(s, 0, size);
    return zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - s) : size;
  }
  void room() {
    if (p_ > out_.limit(kMaxItem)) p_ = out_.flush(p_);
  }
  void sep() {
    if (!first_) *p_++ = ' ';
    first_ = false;
  }

  static constexpr std::size_t kMaxItem = 128;  // longest item: an 82-byte text
  SinkBuffer out_;
  std::string_view eol_;
  char* p_;
  bool first_ = true;
};

}  // namespace

int write_ascii(ByteSink& sink, const df_source_info_t* s, const df_header_t* h,
                const mx_bkt16_t* intensity, const mx_i32_t* phase, std::string_view eol) {
  if (s == nullptr || h == nullptr || (intensity == nullptr && phase == nullptr))
    return ERR_INVALID_PARAM;
  LineWriter w(sink, eol);
  w.raw(kFormat2).end();
  w.num(s->info_word0).num(s->info_word1).num(s->info_word2).num(s->info_word3);
  w.text(s->info_text, sizeof s->info_text).end();
  if (intensity != nullptr) {
    const wn_window_t& iw = intensity->window;
    w.num(iw.x)
        .num(iw.y)
        .num(iw.width)
        .num(iw.height)
        .num(intensity->n_buckets)
        .num(intensity->aux);
  } else {
    w.num(0).num(0).num(0).num(0).num(0).num(0);
  }
  w.end();
  if (phase != nullptr) {
    const wn_window_t& pw = phase->window;
    w.num(pw.x).num(pw.y).num(pw.width).num(pw.height);
  } else {
    w.num(0).num(0).num(0).num(0);
  }
  w.end();
  w.text(h->h080, sizeof h->h080).end();
  w.text(h->h320, sizeof h->h320).end();
  w.text(h->h258, sizeof h->h258).end();
  w.num(h->h162).real(h->h164).real(h->h168).real(h->h172).real(h->h176).real(h->h180);
  w.real(h->h184).num(h->h076).end();
  w.num(h->h234).num(h->h236).num(h->h238).num(h->h240);
  w.num(h->h798 != 0 ? h->h798 : h->h242).num(h->h244).text(h->h246, sizeof h->h246).end();
  w.num(h->h188).num(h->h190).num(h->h192).num(h->h196).num(h->h194).num(h->h202);
  w.real(h->h204).real(h->h498).num(h->h210).num(h->h214).end();
  w.num(h->h218).num(h->h300).num(h->h220).num(h->h224).real(h->h226).num(h->h230);
  w.num(h->h364).num(h->h232).num(h->h298).end();
  w.num(h->h302).text(h->h534, sizeof h->h534).end();
  w.real(h->h360).real(h->h198).end();
  w.text(h->h562, sizeof h->h562).end();
  w.raw("#").end();
  if (!w.ok()) return ERR_CANT_WRITE_FILE;

  // Values ten to a line, each followed by a blank; the last line is ended
  // unless it was just ended.
  const auto section = [&](auto* values, int64_t count, auto put) {
    for (int64_t i = 0; i < count; ++i) {
      put(values[i]);
      if (i % 10 == 9) {
        w.end();
        if (!w.ok()) return false;
      }
    }
    if (count % 10 != 0) w.end();
    return w.ok();
  };
  if (intensity != nullptr && intensity->matrix != nullptr) {
    const int64_t n = std::min<int64_t>(
        int64_t{intensity->n_buckets} * intensity->window.width * intensity->window.height,
        intensity->size);
    if (!section(intensity->matrix, n, [&](uint16_t v) { w.value_u(v); }))
      return ERR_CANT_WRITE_FILE;
  }
  w.raw("#").end();
  if (phase != nullptr && phase->matrix != nullptr) {
    const int64_t n =
        std::min<int64_t>(int64_t{phase->window.width} * phase->window.height, phase->size);
    if (!section(phase->matrix, n, [&](int32_t v) { w.value(v); })) return ERR_CANT_WRITE_FILE;
  }
  w.raw("#").end();
  return w.finish() ? 0 : ERR_CANT_WRITE_FILE;
}

namespace {

// ---------------------------------------------------------------- reading

// A buffered character reader over a stream.
class CharReader {
 public:
  explicit CharReader(std::FILE* f) : f_(f) {}
  int get() {
    if (pos_ == len_ && !fill()) return EOF;
    return static_cast<unsigned char>(buf_[pos_++]);
  }
  int peek() {
    if (pos_ == len_ && !fill()) return EOF;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  bool error() const { return std::ferror(f_) != 0; }

  // One line of at most `limit` characters, without its line end (LF or
  // CR LF). False at the end of the stream. `ended` tells whether a line end
  // was read.
  bool line(std::string& out, std::size_t limit, bool* ended = nullptr) {
    out.clear();
    if (peek() == EOF) return false;
    bool got_end = false;
    while (out.size() < limit) {
      const int c = get();
      if (c == EOF) break;
      if (c == '\n') {
        got_end = true;
        break;
      }
      out.push_back(static_cast<char>(c));
    }
    if (!got_end && out.size() == limit && peek() == '\n') {
      get();  // the line end right after a full line belongs to it
      got_end = true;
    }
    if (got_end && !out.empty() && out.back() == '\r') out.pop_back();
    if (ended != nullptr) *ended = got_end;
    return true;
  }

  // The digits of one value of a data section ("%hu " / "%d "): white space,
  // an optional sign and digits, then white space. False when there is no
  // number or it is outside [lo, hi].
  bool value(int64_t lo, int64_t hi, int64_t* v) {
    skip_space();
    int c = get();
    bool negative = false;
    if (c == '+' || c == '-') {
      negative = c == '-';
      c = get();
    }
    if (c < '0' || c > '9') return false;
    int64_t n = 0;
    bool overflow = false;
    while (c >= '0' && c <= '9') {
      if (n > (int64_t{1} << 40)) overflow = true;
      n = overflow ? n : n * 10 + (c - '0');
      c = peek() >= '0' && peek() <= '9' ? get() : -1;
    }
    if (negative) n = -n;
    skip_space();
    if (overflow || n < lo || n > hi) return false;
    *v = n;
    return true;
  }

 private:
  static bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  void skip_space() {
    while (is_space(peek())) get();
  }
  bool fill() {
    len_ = std::fread(buf_.data(), 1, buf_.size(), f_);
    pos_ = 0;
    return len_ > 0;
  }

  std::FILE* f_;
  std::array<char, 64 * 1024> buf_{};
  std::size_t pos_ = 0, len_ = 0;
};

// Parses one header line the way its input format would: numbers skip
// leading white space, a blank in the format matches any white space, a
// quote must match, a text item takes a fixed number of characters. The
// first item that does not convert ends the line: the caller compares the
// count of converted items with what it expects.
class LineScanner {
 public:
  explicit LineScanner(std::string_view line) : s_(line) {}

  // A number of type T; a value outside T's range is a corrupt file.
  template <class T>
  bool number(T* out) {
    if (failed_) return false;
    skip_space();
    int64_t v = 0;
    std::size_t i = pos_;
    bool negative = false;
    if (i < s_.size() && (s_[i] == '+' || s_[i] == '-')) negative = s_[i++] == '-';
    const std::size_t digits = i;
    while (i < s_.size() && s_[i] >= '0' && s_[i] <= '9' && v <= (int64_t{1} << 40))
      v = v * 10 + (s_[i++] - '0');
    if (i == digits) return fail();
    while (i < s_.size() && s_[i] >= '0' && s_[i] <= '9') {
      ++i;
      v = int64_t{1} << 41;  // far outside every target type
    }
    pos_ = i;
    if (negative) v = -v;
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) {
      out_of_range_ = true;
      return fail();
    }
    *out = static_cast<T>(v);
    ++items_;
    return true;
  }

  // A decimal floating-point number ("%f"), in the C locale.
  bool real(float* out) {
    if (failed_) return false;
    skip_space();
    std::size_t i = pos_;
    bool negative = false;
    if (i < s_.size() && (s_[i] == '+' || s_[i] == '-')) negative = s_[i++] == '-';
    double v = 0;
    const auto r =
        std::from_chars(s_.data() + i, s_.data() + s_.size(), v, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument || r.ptr == s_.data() + i) return fail();
    if (r.ec == std::errc::result_out_of_range ||
        (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())) {
      out_of_range_ = true;
      return fail();
    }
    pos_ = static_cast<std::size_t>(r.ptr - s_.data());
    *out = static_cast<float>(negative ? -v : v);
    ++items_;
    return true;
  }

  // A quoted text field of `size` bytes: the opening quote, then size - 1
  // characters (fewer at the line end), one more when the next is neither
  // the closing quote nor the line end; trimmed. The closing quote is not
  // required.
  bool text(char* field, std::size_t size) {
    if (failed_) return false;
    skip_space();
    if (pos_ >= s_.size() || s_[pos_] != '"') return fail();
    ++pos_;
    std::size_t n = std::min(size - 1, s_.size() - pos_);
    if (n == size - 1 && pos_ + n < s_.size() && s_[pos_ + n] != '"') ++n;
    std::string t(s_.substr(pos_, n));
    pos_ += n;
    u_trim(t.data());
    std::memset(field, 0, size);
    std::memcpy(field, t.c_str(), std::min(std::strlen(t.c_str()), size));
    if (pos_ < s_.size() && s_[pos_] == '"') ++pos_;
    ++items_;
    return true;
  }

  int items() const { return items_; }
  bool out_of_range() const { return out_of_range_; }

 private:
  void skip_space() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || (s_[pos_] >= '\t' && s_[pos_] <= '\r'))) ++pos_;
  }
  bool fail() {
    failed_ = true;
    return false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  int items_ = 0;
  bool failed_ = false;
  bool out_of_range_ = false;
};

// Lives on the heap: the character buffer is too large for a host thread's stack.
struct ReadState {
  explicit ReadState(std::FILE* f) : in(f) {}
  CharReader in;
  int line_no = 0;
  std::string line;
};

constexpr std::size_t kLineLimit = 511;

// The next header line, parsed by `parse` which returns the items converted.
template <class Parse>
int header_line(ReadState& st, int expected, Parse parse) {
  ++st.line_no;
  if (!st.in.line(st.line, kLineLimit)) return ERR_PREMATURE_EOF;
  LineScanner scan(st.line);
  parse(scan);
  return scan.items() == expected ? 0 : ERR_CORRUPT_DATA_FILE;
}

// Reads lines up to and including the next one that starts with '#': the
// section separator, after whatever values nobody asked for.
void skip_to_separator(ReadState& st) {
  while (st.in.line(st.line, std::numeric_limits<std::size_t>::max())) {
    if (!st.line.empty() && st.line[0] == '#') return;
  }
}

int read_body(ReadState& st, df_source_info_t* s, df_header_t* h, mx_bkt16_t* intensity,
              mx_i32_t* phase) {
  ++st.line_no;
  bool ended = false;
  if (!st.in.line(st.line, kLineLimit, &ended) || !ended ||
      (st.line != kFormat1 && st.line != kFormat2))
    return ERR_UNKNOWN_ASCII_FORMAT_TYPE;
  const bool format2 = st.line == kFormat2;

  int rc = 0;
  const auto line = [&](int expected, auto parse) {
    if (rc == 0) rc = header_line(st, expected, parse);
  };
  line(5, [&](LineScanner& l) {
    l.number(&s->info_word0) && l.number(&s->info_word1) && l.number(&s->info_word2) &&
        l.number(&s->info_word3) && l.text(s->info_text, sizeof s->info_text);
  });
  if (intensity != nullptr) {
    line(6, [&](LineScanner& l) {
      wn_window_t& w = intensity->window;
      l.number(&w.x) && l.number(&w.y) && l.number(&w.width) && l.number(&w.height) &&
          l.number(&intensity->n_buckets) && l.number(&intensity->aux);
    });
  } else {
    line(0, [](LineScanner&) {});
  }
  if (phase != nullptr) {
    line(4, [&](LineScanner& l) {
      wn_window_t& w = phase->window;
      l.number(&w.x) && l.number(&w.y) && l.number(&w.width) && l.number(&w.height);
    });
  } else {
    line(0, [](LineScanner&) {});
  }
  line(1, [&](LineScanner& l) { l.text(h->h080, sizeof h->h080); });
  line(1, [&](LineScanner& l) { l.text(h->h320, sizeof h->h320); });
  line(1, [&](LineScanner& l) { l.text(h->h258, sizeof h->h258); });
  line(8, [&](LineScanner& l) {
    l.number(&h->h162) && l.real(&h->h164) && l.real(&h->h168) && l.real(&h->h172) &&
        l.real(&h->h176) && l.real(&h->h180) && l.real(&h->h184) && l.number(&h->h076);
  });
  line(7, [&](LineScanner& l) {
    int32_t v = 0;
    if (l.number(&h->h234) && l.number(&h->h236) && l.number(&h->h238) && l.number(&h->h240) &&
        l.number(&v)) {
      // The 32-bit form carries values from 65536 up; the 16-bit field
      // keeps the low 16 bits of any value.
      h->h242 = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
      h->h798 = v >= 65536 ? v : 0;
      l.number(&h->h244) && l.text(h->h246, sizeof h->h246);
    }
  });
  line(10, [&](LineScanner& l) {
    l.number(&h->h188) && l.number(&h->h190) && l.number(&h->h192) && l.number(&h->h196) &&
        l.number(&h->h194) && l.number(&h->h202) && l.real(&h->h204) && l.real(&h->h498) &&
        l.number(&h->h210) && l.number(&h->h214);
  });
  line(9, [&](LineScanner& l) {
    l.number(&h->h218) && l.number(&h->h300) && l.number(&h->h220) && l.number(&h->h224) &&
        l.real(&h->h226) && l.number(&h->h230) && l.number(&h->h364) && l.number(&h->h232) &&
        l.number(&h->h298);
  });
  line(2, [&](LineScanner& l) { l.number(&h->h302) && l.text(h->h534, sizeof h->h534); });
  line(2, [&](LineScanner& l) { l.real(&h->h360) && l.real(&h->h198); });
  if (format2) line(1, [&](LineScanner& l) { l.text(h->h562, sizeof h->h562); });
  if (rc != 0) return rc;

  skip_to_separator(st);
  const int64_t n_intensity =
      intensity != nullptr
          ? int64_t{intensity->n_buckets} * intensity->window.width * intensity->window.height
          : 0;
  if (n_intensity > 0) {
    if (const int a = mx_bkt16_alloc(intensity); a != 0) return a;
    for (int32_t i = 0; i < intensity->size; ++i) {
      int64_t v = 0;
      if (!st.in.value(0, UINT16_MAX, &v)) return ERR_CANT_READ_FILE;
      intensity->matrix[i] = static_cast<uint16_t>(v);
    }
  }
  skip_to_separator(st);
  const int64_t n_phase =
      phase != nullptr ? int64_t{phase->window.width} * phase->window.height : 0;
  if (n_phase > 0) {
    if (const int a = mx_i32_alloc(phase); a != 0) return a;
    for (int32_t i = 0; i < phase->size; ++i) {
      int64_t v = 0;
      if (!st.in.value(INT32_MIN, INT32_MAX, &v)) return ERR_CANT_READ_FILE;
      phase->matrix[i] = static_cast<int32_t>(v);
    }
  }
  return st.in.error() ? ERR_CANT_READ_FILE : 0;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace
}  // namespace felbrin

int df_write_ascii_file(const char* path, const df_source_info_t* source, const df_header_t* header,
                        const mx_bkt16_t* intensity, const mx_i32_t* phase) {
  if (source == nullptr || header == nullptr || (intensity == nullptr && phase == nullptr))
    return ERR_INVALID_PARAM;
  std::FILE* f = plat::open_file(path, "wb");
  if (f == nullptr) return ERR_CANT_CREATE_FILE;
  felbrin::StreamSink sink(f);
  int rc = felbrin::write_ascii(sink, source, header, intensity, phase, plat::kLineEnd);
  if (std::fclose(f) != 0 && rc == 0) rc = ERR_CANT_WRITE_FILE;
  return rc;
}

int df_read_ascii_stream(std::FILE* stream, df_source_info_t* source, df_header_t* header,
                         mx_bkt16_t* intensity, mx_i32_t* phase) {
  if (stream == nullptr || source == nullptr || header == nullptr) return ERR_INVALID_PARAM;
  *source = df_source_info_t{};
  *header = df_header_t{};
  // The records given are released, then cleared; the file sets their geometry.
  mx_bkt16_release(intensity);
  mx_bkt16_clear(intensity);
  mx_i32_release(phase);
  mx_i32_clear(phase);
  int rc = 0;
  int line_no = 0;
  try {
    auto st = std::make_unique<felbrin::ReadState>(stream);
    rc = felbrin::read_body(*st, source, header, intensity, phase);
    line_no = st->line_no;
  } catch (const std::bad_alloc&) {
    rc = ERR_NO_MEM;
  }
  if (rc != 0) {
    u_log_fn("-***- Error in Line %d -***-\n", line_no);
    mx_bkt16_release(intensity);
    mx_i32_release(phase);
  }
  return rc;
}

int df_read_ascii_file(const char* path, df_source_info_t* source, df_header_t* header,
                       mx_bkt16_t* intensity, mx_i32_t* phase) {
  if (source == nullptr || header == nullptr) return ERR_INVALID_PARAM;
  *source = df_source_info_t{};
  *header = df_header_t{};
  const std::unique_ptr<std::FILE, felbrin::FileCloser> f(plat::open_file(path, "rb"));
  if (!f) {
    u_log_fn("-***- Error in Line %d -***-\n", 0);
    return ERR_CANT_OPEN_FILE;
  }
  return df_read_ascii_stream(f.get(), source, header, intensity, phase);
}
