// Fuzzes the coordinate pair reader. Whatever it accepts, the writer writes,
// and that text reads back to pairs that write the very same text (six
// significant digits survive the trip through single precision).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "common/errors.h"
#include "common/pairs_internal.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

namespace {

int read(const std::string& text, u_pair_table_t& table) {
  std::FILE* f = plat::open_memory(text.data(), text.size());
  if (f == nullptr) std::abort();
  const int rc = felbrin::read_pairs_stream(f, "fuzz", &table);
  std::fclose(f);
  return rc;
}

std::string written(const u_pair_table_t& table) {
  felbrin::fuzz::StringSink sink;
  if (!felbrin::write_pairs(sink, table.view(), "\n")) std::abort();
  return sink.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::set_up_quietly();

  u_pair_table_t first;
  if (read(std::string(reinterpret_cast<const char*>(data), size), first) != 0) {
    if (first.count != 0 || first.pairs) std::abort();  // a refused file leaves the table empty
    return 0;
  }
  if (first.count <= 0 || !first.pairs) std::abort();
  for (const u_pair_t& p : first.view())
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) std::abort();
  const std::string text = written(first);
  u_pair_table_t again;
  if (read(text, again) != 0 || again.count != first.count) std::abort();
  if (written(again) != text) std::abort();
  return 0;
}
