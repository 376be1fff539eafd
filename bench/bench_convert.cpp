// Converts a generated map with mapconv's reader and writer, on one thread
// and on one per processor, and with a baseline that writes one
// fprintf("%d %d %g\n") per point; checks that the outputs are byte-identical
// and prints the speed ratios.
//
//   bench_convert [width height invalid_percent repeats]   (default 4096 4096 10 3)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "data/binary_file.h"
#include "data/point_list.h"
#include "data/point_list_internal.h"
#include "bench/timing.h"
#include "tools/datafile_builder.h"

namespace {

using felbrin::bench::seconds;

// The baseline: the straightforward converter, one formatted print per point.
int baseline_write(const char* path, const mx_i32_t* m) {
  mx_stats_t st{};
  if (int rc = mx_i32_stats(m, nullptr, &st); rc != 0) return rc;
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) return 1;
  const double offset = st.valley;
  const double span = static_cast<double>(st.peak) - st.valley;
  std::fprintf(f, "%d\n", st.npoints);
  const int32_t* row = m->matrix;
  for (int y = 0; y < m->window.height; ++y, row += m->window.width)
    for (int x = 0; x < m->window.width; ++x)
      if (row[x] < MX_INVALID_I32) std::fprintf(f, "%d %d %g\n", x, y, (row[x] - offset) / span);
  std::fprintf(f, "%g\n", offset);
  std::fprintf(f, "%g\n", span);
  return std::fclose(f);
}

bool same_file(const std::string& a, const std::string& b) {
  std::FILE* fa = std::fopen(a.c_str(), "rb");
  std::FILE* fb = std::fopen(b.c_str(), "rb");
  bool same = fa != nullptr && fb != nullptr;
  static char ba[1 << 16], bb[1 << 16];
  while (same) {
    const std::size_t na = std::fread(ba, 1, sizeof ba, fa);
    const std::size_t nb = std::fread(bb, 1, sizeof bb, fb);
    same = na == nb && std::equal(ba, ba + na, bb);
    if (na == 0) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  const int width = argc > 1 ? std::atoi(argv[1]) : 4096;
  const int height = argc > 2 ? std::atoi(argv[2]) : 4096;
  const int invalid = argc > 3 ? std::atoi(argv[3]) : 10;
  const int repeats = argc > 4 ? std::atoi(argv[4]) : 3;

  const auto dir = std::filesystem::temp_directory_path() / "felbrin-bench";
  std::filesystem::create_directories(dir);
  const std::string input = (dir / "map.dat").string();
  const std::string fast_out = (dir / "fast.txt").string();
  const std::string single_out = (dir / "single.txt").string();
  const std::string base_out = (dir / "baseline.txt").string();

  felbrin::tools::DataFileLayout layout;
  layout.phase_width = static_cast<int16_t>(width);
  layout.phase_height = static_cast<int16_t>(height);
  layout.phase = felbrin::tools::make_surface(width, height, invalid, 7);
  if (!felbrin::tools::write_bytes(input, felbrin::tools::build_data_file(layout))) return 1;
  layout.phase.clear();

  // One whole conversion, reading included, with `threads` for the writer.
  const auto convert = [&](const std::string& out, int threads) {
    return seconds([&] {
      mx_i32_t m{};
      if (df_read_file(input.c_str(), nullptr, nullptr, nullptr, &m) != 0 ||
          felbrin::write_point_list_file(out.c_str(), &m, threads) != 0)
        std::exit(2);
      mx_i32_release(&m);
    });
  };
  double best_fast = 1e30, best_single = 1e30, best_base = 1e30;
  for (int r = 0; r < repeats; ++r) {
    best_fast = std::min(best_fast, convert(fast_out, felbrin::kAutoThreads));
    best_single = std::min(best_single, convert(single_out, 1));
    best_base = std::min(best_base, seconds([&] {
      mx_i32_t m{};
      if (df_read_file(input.c_str(), nullptr, nullptr, nullptr, &m) != 0 ||
          baseline_write(base_out.c_str(), &m) != 0)
        std::exit(3);
      mx_i32_release(&m);
    }));
  }
  const bool identical = same_file(fast_out, base_out) && same_file(single_out, base_out);
  std::printf("map %dx%d, %d%% invalid, best of %d, %u processors\n", width, height, invalid,
              repeats, std::thread::hardware_concurrency());
  std::printf("mapconv     %.3f s  ratio %.1fx\n", best_fast, best_base / best_fast);
  std::printf("one thread  %.3f s  ratio %.1fx\n", best_single, best_base / best_single);
  std::printf("baseline    %.3f s\nidentical %s\n", best_base, identical ? "yes" : "NO");
  std::filesystem::remove_all(dir);
  return identical ? 0 : 4;
}
