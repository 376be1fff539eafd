// Reading a measurement data file and writing its phase map out as text.
//
//   example_data_file DATA-FILE [WORK-FOLDER]
//
// A binary data file holds one measurement: a header, an intensity map
// (one or more camera frames) and a phase map. We read it into the
// library's records, print the phase map's statistics, write its valid
// pixels as a point list (what the mapconv converter does), save the whole
// data set as an ASCII data file and read that back to see that the phase
// map came through unchanged. Output files go to WORK-FOLDER (the current
// folder when none is given).
#include <cstdio>
#include <cstring>
#include <string>

#include "felbrin.h"

namespace {

int fail(const char* what, int code) {
  std::fprintf(stderr, "%s failed: %s (%d)\n", what, err_name(code), code);
  return 1;
}

// The records own buffers from the allocation hooks: release them all
// before they go. Records that were never filled are released harmlessly.
struct DataSet {
  df_source_info_t source{};
  df_header_t header{};
  mx_bkt16_t intensity{};
  mx_i32_t phase{};
  ~DataSet() {
    mx_bkt16_release(&intensity);
    mx_i32_release(&phase);
  }
};

bool same_phase(const mx_i32_t& a, const mx_i32_t& b) {
  const int n = a.window.width * a.window.height;
  return a.window.width == b.window.width && a.window.height == b.window.height &&
         std::memcmp(a.matrix, b.matrix, static_cast<std::size_t>(n) * sizeof(int32_t)) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s DATA-FILE [WORK-FOLDER]\n", argv[0]);
    return 2;
  }
  const char* work = argc == 3 ? argv[2] : ".";
  DataSet data;
  if (const int rc = df_read_file(argv[1], &data.source, &data.header, &data.intensity, &data.phase))
    return fail("df_read_file", rc);
  const wn_window_t& w = data.phase.window;
  std::printf("Phase map: %d x %d at (%d, %d); %d intensity frame(s)\n", w.width, w.height, w.x, w.y,
              data.intensity.n_buckets);

  // Values at or above 0x7FFFFFF8 mark pixels without a measurement; the
  // statistics count only the others (a null window means all of the map).
  mx_stats_t stats{};
  if (const int rc = mx_i32_stats(&data.phase, nullptr, &stats)) return fail("mx_i32_stats", rc);
  std::printf("%d valid pixels, peak %d at (%d, %d), valley %d at (%d, %d), mean %.2f\n", stats.npoints, stats.peak,
              stats.peak_x, stats.peak_y, stats.valley, stats.valley_x, stats.valley_y, stats.mean);

  const std::string points = u_path_join(work, "points.txt");
  if (const int rc = df_write_point_list(points.c_str(), &data.phase)) return fail("df_write_point_list", rc);
  std::printf("Wrote the point list %s\n", points.c_str());

  const std::string ascii = u_path_join(work, "data.asc");
  if (const int rc = df_write_ascii_file(ascii.c_str(), &data.source, &data.header, &data.intensity, &data.phase))
    return fail("df_write_ascii_file", rc);
  DataSet back;
  if (const int rc = df_read_ascii_file(ascii.c_str(), &back.source, &back.header, &back.intensity, &back.phase))
    return fail("df_read_ascii_file", rc);
  if (!same_phase(data.phase, back.phase)) {
    std::fprintf(stderr, "The ASCII data file %s does not hold the same phase map.\n", ascii.c_str());
    return 1;
  }
  std::printf("Wrote and read back the ASCII data file %s: the same phase map\n", ascii.c_str());
  return 0;
}
