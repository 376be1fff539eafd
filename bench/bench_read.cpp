// The library's reader alone on one data file, both blocks, best of N runs,
// as the seconds of one read on standard output (for bench_python.py).
//
//   bench_read FILE [runs]
#include <cstdio>
#include <cstdlib>

#include "bench/timing.h"
#include "data/binary_file.h"
#include "data/data_set.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: bench_read FILE [runs]\n", stderr);
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  int rc = 0;
  const double t = felbrin::bench::best_seconds(runs, [&] {
    felbrin::DataSet d;
    rc = df_read_file(argv[1], &d.source, &d.header, &d.intensity, &d.phase);
  });
  if (rc != 0) return 1;
  std::printf("%.6f\n", t);
  return 0;
}
