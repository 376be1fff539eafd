// Fuzzes the ramp file reader. Every ramp it accepts is written back and
// must read again as the same header and points.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "instrument/ramps/ramp_file_internal.h"
#include "platform/platform.h"

namespace {

using felbrin::fuzz::StringSink;

struct Ramp {
  rr_ramp_hdr_t hdr{};
  uint16_t* points = nullptr;
  ~Ramp() { rr_release_points(&points); }
};

int read(const void* data, std::size_t size, Ramp& r) {
  std::FILE* f = plat::open_memory(data, size);
  if (f == nullptr) return -1;
  const int rc = felbrin::read_ramp_stream(f, &r.hdr, &r.points);
  std::fclose(f);
  return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::install_bounded_allocator();
  Ramp first;
  if (read(data, size, first) != 0) {
    if (first.points != nullptr) std::abort();  // a failed read must leave no points
    return 0;
  }
  const bool has_points = first.hdr.nPoints > 0;
  if (has_points != (first.points != nullptr)) std::abort();
  if (first.hdr.nPoints < 0) return 0;  // read as no points; the writer refuses it

  const uint16_t none = 0;
  StringSink sink;
  if (felbrin::write_ramp(sink, first.hdr, has_points ? first.points : &none) != 0) std::abort();
  if (sink.text.size() != sizeof(rr_ramp_hdr_t) + 2 * static_cast<std::size_t>(first.hdr.nPoints))
    std::abort();
  Ramp second;
  if (read(sink.text.data(), sink.text.size(), second) != 0) std::abort();
  if (std::memcmp(&first.hdr, &second.hdr, sizeof first.hdr) != 0) std::abort();
  if (has_points &&
      std::memcmp(first.points, second.points, 2 * static_cast<std::size_t>(first.hdr.nPoints)) != 0)
    std::abort();
  return 0;
}
