// mapconv as users run it: a fresh process per conversion of a file already
// in the page cache, best of several runs, against baseline_convert (the same
// reader, one fprintf per point) built the same way; and against the floor,
// writing the same output bytes from memory in one call. Checks that the
// outputs are byte-identical.
//
//   bench_mapconv MAPCONV BASELINE [runs [size...]]   (default 7 runs, 2048 4096)
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
using felbrin::bench::slurp;
using felbrin::bench::write_floor;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: bench_mapconv MAPCONV BASELINE [runs [size...]]\n", stderr);
    return 2;
  }
  const std::string mapconv = argv[1];
  const std::string baseline = argv[2];
  const int runs = argc > 3 ? std::atoi(argv[3]) : 7;
  std::vector<int> sizes;
  for (int i = 4; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {2048, 4096};

  const auto dir = std::filesystem::temp_directory_path() / "felbrin-bench-mapconv";
  std::filesystem::create_directories(dir);
  const std::string input = (dir / "map.dat").string();
  const std::string out = (dir / "mapconv.txt").string();
  const std::string base_out = (dir / "baseline.txt").string();
  const std::string floor_out = (dir / "floor.txt").string();

  bool all_identical = true;
  std::printf("size        mapconv  baseline  ratio   floor  mapconv/floor  identical\n");
  for (const int size : sizes) {
    felbrin::tools::DataFileLayout layout;
    layout.phase_width = static_cast<int16_t>(size);
    layout.phase_height = static_cast<int16_t>(size);
    layout.phase = felbrin::tools::make_surface(size, size, 10, 7);
    if (!felbrin::tools::write_bytes(input, felbrin::tools::build_data_file(layout))) return 1;

    double best = 1e30, best_base = 1e30, best_floor = 1e30;
    for (int r = 0; r < runs; ++r) {
      // Each writes a new file: truncating the last run's output would add
      // the freeing of its pages to the time.
      std::filesystem::remove(out);
      best = std::min(best, run(quoted(mapconv) + " " + quoted(input) + " " + quoted(out)));
      std::filesystem::remove(base_out);
      best_base = std::min(best_base, run(quoted(baseline) + " " + quoted(input) + " " +
                                              quoted(base_out)));
    }
    const std::vector<char> produced = slurp(out);
    for (int r = 0; r < runs; ++r) best_floor = std::min(best_floor, write_floor(produced, floor_out));
    const bool identical = produced == slurp(base_out);
    all_identical = all_identical && identical;
    std::printf("%4dx%-4d  %7.3f s %7.3f s %5.1fx %6.3f s %8.1fx       %s\n", size, size, best,
                best_base, best_base / best, best_floor, best / best_floor,
                identical ? "yes" : "NO");
  }
  std::filesystem::remove_all(dir);
  return all_identical ? 0 : 4;
}
