#include "common/util.h"

#include <cstdlib>
#include <utility>

#include "common/hooks.h"
#include "platform/platform.h"

void u_swap_bytes(void* value, int n) {
  auto* b = static_cast<unsigned char*>(value);
  switch (n) {
    case 2:
    case 4:
    case 8:
      for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(b[i], b[j]);
      return;
    default:
      u_log_fn("u_swap_bytes: n=%d\n", n);
      std::abort();
  }
}

bool u_file_exists(const char* path) { return path != nullptr && plat::is_regular_file(path); }

bool u_is_wide_path(const char* path) { return plat::is_wide_marked(path); }
