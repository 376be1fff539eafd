// Fuzzes the encoded zoom calibration reader. A read that succeeds must hand
// over 2 to 100 pairs, finite, in range and strictly increasing in both
// columns, and the pairs written back as a file must read to the same
// table; a read that fails must leave the table alone and say why.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/errors.h"
#include "fuzz/fuzz_support.h"
#include "instrument/calibration/enc_zoom_internal.h"
#include "platform/platform.h"

namespace {

int read(const std::string& text, u_pair_table_t& table, std::string& message) {
  std::FILE* f = plat::open_memory(text.data(), text.size());
  if (f == nullptr) return -1;
  const int rc = felbrin::read_enc_zoom_cal_stream(f, "fuzz", &table, &message);
  std::fclose(f);
  return rc;
}

void check(const u_pair_table_t& table) {
  const auto pairs = table.view();
  if (pairs.size() < 2 || pairs.size() > 100) std::abort();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const u_pair_t& p = pairs[i];
    if (!std::isfinite(p.x) || p.x < 0 || !(0.5f <= p.y && p.y <= 6.0f)) std::abort();
    if (i > 0 && !(p.x > pairs[i - 1].x && p.y > pairs[i - 1].y)) std::abort();
  }
}

// Shortest round-trip text of each float, in the three separators in turn.
std::string written(const u_pair_table_t& table) {
  static constexpr const char* kSeparators[] = {" ", ",", ", "};
  std::string text = "title\n";
  std::size_t i = 0;
  for (const u_pair_t& p : table.view()) {
    char x[32], y[32];
    const auto ex = std::to_chars(x, x + sizeof x, p.x).ptr;
    const auto ey = std::to_chars(y, y + sizeof y, p.y).ptr;
    text += std::string(x, ex) + kSeparators[i++ % 3] + std::string(y, ey) + "\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::set_up_quietly();

  u_pair_table_t table;
  std::string message;
  const int rc = read(std::string(reinterpret_cast<const char*>(data), size), table, message);
  if (rc == ERR_NO_MEM) return 0;
  if (rc != 0) {
    if (rc != ERR_KITE_ENC_ZOOM_INVALID_CAL_FILE || table.count != 0 || message.empty()) std::abort();
    return 0;
  }
  if (!message.empty()) std::abort();
  check(table);
  u_pair_table_t again;
  const int rc2 = read(written(table), again, message);
  if (rc2 == ERR_NO_MEM) return 0;
  if (rc2 != 0 || again.count != table.count) std::abort();
  for (int i = 0; i < table.count; ++i)
    if (table.pairs[i].x != again.pairs[i].x || table.pairs[i].y != again.pairs[i].y) std::abort();
  return 0;
}
