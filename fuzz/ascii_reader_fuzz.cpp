// Fuzzes the ASCII data file reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/hooks.h"
#include "data/ascii_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::set_up_quietly();
  std::FILE* f = plat::open_memory(data, size);
  if (f == nullptr) return 0;
  df_source_info_t source;
  df_header_t header;
  mx_bkt16_t intensity{};
  mx_i32_t phase{};
  const bool with_intensity = size > 0 && (data[0] & 1) != 0;
  const int rc = df_read_ascii_stream(f, &source, &header, with_intensity ? &intensity : nullptr,
                                      &phase);
  std::fclose(f);
  if (rc != 0 && (phase.matrix != nullptr || intensity.matrix != nullptr)) std::abort();
  if (rc == 0 && phase.matrix != nullptr &&
      phase.size != int64_t{phase.window.width} * phase.window.height)
    std::abort();
  mx_bkt16_release(&intensity);
  mx_i32_release(&phase);
  return 0;
}
