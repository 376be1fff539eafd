// The coordinate pair file. Values are kept in single precision, so a field
// the float range cannot hold is refused as "not a number" rather than
// converted (which would be undefined); so are NaN and the infinities, which
// the C number syntax accepts.
#include "common/pairs.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/pairs_internal.h"
#include "common/parsers.h"
#include "common/parsers_internal.h"
#include "common/temp_file.h"
#include "common/text_line.h"
#include "common/util.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

// Characters of a line looked at; the rest of a longer line is dropped.
constexpr std::size_t kLineKeep = 511;
// The working array grows by this many pairs at a time.
constexpr std::size_t kGrowth = 100;
constexpr const char* kSeparators = " ,\t";
// Width of each written number ("%13.6g").
constexpr std::size_t kFieldWidth = 13;

// A field that begins with a number a float can hold.
bool read_field(const char* field, float& out) {
  if (field == nullptr) return false;
  const ParsedReal r = parse_c_double(field);
  if (!r.found || !(std::fabs(r.value) <= std::numeric_limits<float>::max())) return false;
  out = static_cast<float>(r.value);
  return true;
}

class PairReader {
 public:
  PairReader(std::FILE* f, const char* name) : f_(f), name_(name != nullptr ? name : "") {}

  int run(u_pair_table_t& table) {
    int number = 0;
    while (read_text_line(f_, kLineKeep, line_)) {
      ++number;
      if (line_.text.empty() || line_.text[0] == '#') continue;
      work_ = line_.text;
      char* first = u_strtok(work_.data(), kSeparators);
      if (first == nullptr) continue;
      u_pair_t pair{};
      if (!read_field(first, pair.x) || !read_field(u_strtok(nullptr, kSeparators), pair.y))
        return fail(table, number);
      if (count_ == capacity_ && !grow()) {
        u_log_fn("Out of memory\n");
        return fail(table, number);
      }
      pairs_[count_++] = pair;
    }
    if (count_ == 0) {
      u_log_fn("No coordinate pair data found.\n");
      u_log_fn("Error in data file %s\n", name_);
      u_pair_table_clear(&table);
      return ERR_CANT_READ_FILE;
    }
    // The working array becomes the table's: its spare room is at most
    // one growth step.
    table.pairs = std::move(pairs_);
    table.count = static_cast<int32_t>(count_);
    return 0;
  }

 private:
  bool grow() {
    if (capacity_ + kGrowth > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
      return false;
    const std::size_t capacity = capacity_ + kGrowth;
    void* block = u_realloc_fn(pairs_.get(), capacity * sizeof(u_pair_t));
    if (block == nullptr) return false;  // the old block stays with pairs_
    (void)pairs_.release();
    pairs_.reset(static_cast<u_pair_t*>(block));
    capacity_ = capacity;
    return true;
  }

  int fail(u_pair_table_t& table, int number) {
    u_log_fn("Error in data file %s\n", name_);
    u_log_fn("Line %d:\n%s\n", number, line_.text.c_str());
    u_pair_table_clear(&table);
    return ERR_CANT_READ_FILE;
  }

  std::FILE* f_;
  const char* name_;
  TextLine line_;
  std::string work_;
  u_pair_array_t pairs_;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

char* put_field(char* p, float v) {
  char digits[FMT_MAX_CHARS];
  const std::size_t n = static_cast<std::size_t>(fmt_g(digits, static_cast<double>(v)) - digits);
  for (std::size_t i = n; i < kFieldWidth; ++i) *p++ = ' ';
  std::memcpy(p, digits, n);
  return p + n;
}

}  // namespace

int read_pairs_stream(std::FILE* f, const char* name, u_pair_table_t* table) {
  if (f == nullptr || table == nullptr) return ERR_INVALID_PARAM;
  PairReader reader(f, name);
  return reader.run(*table);
}

bool write_pairs(ByteSink& sink, std::span<const u_pair_t> pairs, std::string_view line_end) {
  SinkBuffer out(sink);
  const char* const limit = out.limit(2 * FMT_MAX_CHARS + 1 + line_end.size());
  char* p = out.begin();
  for (const u_pair_t& pair : pairs) {
    if (p > limit) p = out.flush(p);
    p = put_field(p, pair.x);
    *p++ = ' ';
    p = put_field(p, pair.y);
    std::memcpy(p, line_end.data(), line_end.size());
    p += line_end.size();
  }
  out.flush(p);
  return out.ok();
}

}  // namespace felbrin

int u_read_pairs(const char* path, u_pair_table_t* table) {
  if (path == nullptr || table == nullptr) return ERR_INVALID_PARAM;
  std::FILE* f = plat::open_file(path, "rb");
  if (f == nullptr) return ERR_CANT_OPEN_FILE;
  const int rc = felbrin::read_pairs_stream(f, plat::display_path(path).c_str(), table);
  std::fclose(f);
  return rc;
}

int u_write_pairs(const char* path, const u_pair_table_t* table) {
  using namespace felbrin;
  if (path == nullptr || table == nullptr || table->count < 0 ||
      (table->count > 0 && !table->pairs))
    return ERR_INVALID_PARAM;
  // A short file must never replace a whole one.
  const ReplaceStep step = replace_file(path, "_pairs", [&](ByteSink& sink) {
    return write_pairs(sink, table->view(), plat::kLineEnd);
  });
  return step == ReplaceStep::done ? 0 : ERR_CANT_OPEN_FILE;
}
