// The straightforward converter the whole-process benchmark measures mapconv
// against: the library's reader, then one fprintf("%d %d %g\n") per point.
//
//   baseline_convert input output
#include <cstdio>

#include "data/binary_file.h"
#include "data/point_list.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: baseline_convert input output\n", stderr);
    return 2;
  }
  mx_i32_t m{};
  if (df_read_file(argv[1], nullptr, nullptr, nullptr, &m) != 0) return 1;
  mx_stats_t st{};
  if (mx_i32_stats(&m, nullptr, &st) != 0) return 1;
  // Text mode: the platform's line ends, as mapconv writes them.
  std::FILE* f = std::fopen(argv[2], "w");
  if (f == nullptr) return 1;
  const double offset = st.valley;
  const double span = static_cast<double>(st.peak) - st.valley;
  std::fprintf(f, "%d\n", st.npoints);
  const int32_t* row = m.matrix;
  for (int y = 0; y < m.window.height; ++y, row += m.window.width)
    for (int x = 0; x < m.window.width; ++x)
      if (row[x] < MX_INVALID_I32) std::fprintf(f, "%d %d %g\n", x, y, (row[x] - offset) / span);
  std::fprintf(f, "%g\n%g\n", offset, span);
  mx_i32_release(&m);
  return std::fclose(f) == 0 ? 0 : 1;
}
