// Fuzzes the camera bad-pixel file reader. Whatever it accepts lies within
// the table's limits with every point inside its section's frame; sorting
// leaves each list ordered without repeats; a refusal explains itself and
// leaves no list behind (the leak check watches).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/errors.h"
#include "common/hooks.h"
#include "fuzz/fuzz_support.h"
#include "instrument/acquisition/cam_bad_internal.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::set_up_quietly();
  std::FILE* f = plat::open_memory(data, size);
  if (f == nullptr) return 0;
  const cam_bad_table_ptr table(
      static_cast<cam_bad_entry_t*>(u_calloc_fn(CAM_BAD_MAX_CAMERAS, sizeof(cam_bad_entry_t))));
  if (!table) std::abort();
  int count = -1;
  std::string message;
  const int rc = felbrin::cam_bad_read_stream(f, "fuzz", table.get(), &count, &message);
  std::fclose(f);
  if (rc != 0) {
    if (count != 0) std::abort();
    if (rc == ERR_CB_FILE_INVALID && message.rfind("Error reading bad pixel file \"fuzz\"\r\n", 0) != 0) std::abort();
    if (rc != ERR_CB_FILE_INVALID && rc != ERR_NO_MEM) std::abort();
    return 0;
  }
  if (!message.empty() || count < 0 || count > CAM_BAD_MAX_CAMERAS) std::abort();
  if (cam_bad_sort(table.get(), count) != 0) std::abort();
  for (int i = 0; i < count; ++i) {
    const cam_bad_entry_t& e = table.get()[i];
    const mx_xyv_list_t& list = e.badPixels;
    if (list.count < 0 || list.count > CAM_BAD_MAX_POINTS) std::abort();
    for (int k = 0; k < list.count; ++k) {
      const mx_xyv_t& p = list.data[k];
      if (p.x < 0 || p.x >= e.sizeX || p.y < 0 || p.y >= e.sizeY || p.v != 0.0f) std::abort();
      if (k > 0) {
        const mx_xyv_t& q = list.data[k - 1];
        if (q.x > p.x || (q.x == p.x && q.y >= p.y)) std::abort();
      }
    }
  }
  return 0;
}
