// mapview as users run it, a fresh process per picture of a generated
// phase map already in the page cache, best of several runs, against
// writing the picture's raw pixel bytes (3 per pixel) from memory.
//
//   bench_mapview MAPVIEW [runs [size...]]   (default 5 runs, 4096)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/process.h"
#include "tools/datafile_builder.h"

using felbrin::bench::quoted;
using felbrin::bench::run;
using felbrin::bench::write_floor;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: bench_mapview MAPVIEW [runs [size...]]\n", stderr);
    return 2;
  }
  const std::string mapview = argv[1];
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  std::vector<int> sizes;
  for (int i = 3; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {4096};

  const auto dir = std::filesystem::temp_directory_path() / "felbrin-bench-mapview";
  std::filesystem::create_directories(dir);
  const std::string input = (dir / "map.dat").string();
  const std::string out = (dir / "map.png").string();
  const std::string raw = (dir / "raw.rgb").string();

  std::printf("size        mapview      png   raw write  ratio\n");
  for (const int size : sizes) {
    felbrin::tools::DataFileLayout layout;
    layout.phase_width = static_cast<int16_t>(size);
    layout.phase_height = static_cast<int16_t>(size);
    layout.phase = felbrin::tools::make_surface(size, size, 10, 7);
    if (!felbrin::tools::write_bytes(input, felbrin::tools::build_data_file(layout))) return 1;
    double best = 1e30, best_raw = 1e30;
    const std::vector<char> pixels(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 3, 'x');
    for (int r = 0; r < runs; ++r) {
      std::filesystem::remove(out);
      best = std::min(best, run(quoted(mapview) + " " + quoted(input) + " " + quoted(out)));
      best_raw = std::min(best_raw, write_floor(pixels, raw));
    }
    std::printf("%4dx%-4d  %7.3f s %5.1f MB %7.3f s %6.1fx\n", size, size, best,
                static_cast<double>(std::filesystem::file_size(out)) / 1e6, best_raw, best / best_raw);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
