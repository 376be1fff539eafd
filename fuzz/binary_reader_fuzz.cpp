// Fuzzes the binary data file reader, and the point-list writer on whatever
// it accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/errors.h"
#include "common/hooks.h"
#include "data/binary_file.h"
#include "data/point_list_internal.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

namespace {


class NullSink final : public felbrin::ByteSink {
 public:
  bool write(std::span<const char>) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Every header may announce a large window, and the sanitizer maps and
  // unmaps each large block afresh: the small limit keeps the reader's
  // refusals of short files from costing nine tenths of the run.
  felbrin::fuzz::install_bounded_allocator(std::size_t{64} << 10);
  std::FILE* f = plat::open_memory(data, size);
  if (f == nullptr) return 0;
  df_source_info_t source;
  df_header_t header;
  mx_bkt16_t intensity{};
  mx_i32_t phase{};
  const bool with_intensity = size > 0 && (data[size - 1] & 1) != 0;
  const int rc = df_read_binary_stream(f, &source, &header, with_intensity ? &intensity : nullptr,
                                       &phase);
  std::fclose(f);
  if (rc == 0) {
    if (phase.matrix != nullptr && phase.size < phase.window.width * phase.window.height) std::abort();
    // On one thread: a map the reader takes here is one block of the
    // threaded writer, whose half-megabyte buffers would cost more than the
    // rest of the run.
    NullSink sink;
    if (felbrin::write_point_list(sink, &phase, "\n", 1) == ERR_NO_MEM) std::abort();
  } else if (phase.matrix != nullptr || intensity.matrix != nullptr) {
    std::abort();  // a failed read must release what it was given
  }
  mx_bkt16_release(&intensity);
  mx_i32_release(&phase);
  return 0;
}
