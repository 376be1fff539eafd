// Reads a binary data file and prints the statistics of its phase map.
#include <felbrin.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer datafile\n");
    return 1;
  }
  mx_i32_t phase{};
  if (const int rc = df_read_file(argv[1], nullptr, nullptr, nullptr, &phase); rc != 0) {
    std::fprintf(stderr, "%s\n", err_name(rc));
    return 1;
  }
  mx_stats_t st{};
  const int rc = mx_i32_stats(&phase, nullptr, &st);
  mx_i32_release(&phase);
  if (rc != 0) {
    std::fprintf(stderr, "%s\n", err_name(rc));
    return 1;
  }
  std::printf("points %d peak %d valley %d\n", st.npoints, st.peak, st.valley);
  return 0;
}
