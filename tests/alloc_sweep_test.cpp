// Every public reader that takes its memory from the allocation hooks, run on
// the bundled example files with each allocation failing in turn: each
// failure must give the reader's documented error and, once the caller has
// released what it holds, leave no block behind. The sweeps in the other
// test files (containers, ramp files and configurations, the wave monitor's
// replies) count towards the same totals.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/host_utils.h"
#include "common/pair_table.h"
#include "common/pairs.h"
#include "data/ascii_file.h"
#include "data/binary_file.h"
#include "data/records.h"
#include "instrument/acquisition/cam_bad.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/enc_zoom.h"
#include "instrument/calibration/lumen_materials.h"
#include "instrument/record/sys_info.h"
#include "instrument/system/can_bringup.h"
#include "support/alloc_hooks.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::TempDir;

// The example files, copied first: under Wine the source tree's path may not
// be one the library's own opening can reach.
std::string example(const TempDir& dir, const std::string& relative) {
  const std::string path = dir.file(std::filesystem::path(relative).filename().string());
  felbrin::test::write_file(path, felbrin::test::read_file(std::string(FELBRIN_SOURCE_DIR) + "/examples/" + relative));
  return path;
}

struct Sweep {
  const char* name;
  std::function<int()> run;
  std::function<void()> release;
  std::vector<int> errors;
  int min_allocations;  // a sweep that tries nothing proves nothing
};

TEST(AllocationSweep, EveryReaderFailsCleanlyAtEveryAllocation) {
  TempDir dir;
  felbrin::test::LogCapture quiet;
  const std::string binary = example(dir, "sample.dat");
  const std::string pairs = example(dir, "pairs.txt");
  const std::string zoom = example(dir, "Kite/ZoomCal.txt");
  const std::string lumen = example(dir, "lumen/LumenMaterials.txt");
  const std::string bpix = example(dir, "camera/bpix_1234.dat");
  std::vector<std::string> cals;
  for (const char* name : {"lumen.cal", "can-fjord4.cal", "sable-birch3.cal", "heron.cal", "ember.cal", "kite.cal"}) {
    cals.push_back(example(dir, std::string("calibration/") + name));
  }

  df_source_info_t source{};
  df_header_t header{};
  mx_bkt16_t intensity{};
  mx_i32_t phase{};
  const auto release_records = [&] {
    mx_bkt16_release(&intensity);
    mx_i32_release(&phase);
  };
  u_pair_table_t table;
  lumen_materials_t materials;
  std::vector<cam_bad_entry_t> cameras(CAM_BAD_MAX_CAMERAS);
  int sections = 0;
  std::string message;
  u_dir_t* listing = nullptr;
  sysInfo_t bridge{};

  // The sample once more, as an ASCII data file.
  const std::string ascii = dir.file("sample.asc");
  ASSERT_EQ(df_read_file(binary.c_str(), &source, &header, &intensity, &phase), 0);
  ASSERT_EQ(df_write_ascii_file(ascii.c_str(), &source, &header, &intensity, &phase), 0);
  release_records();

  std::vector<Sweep> sweeps = {
      {"binary data file", [&] { return df_read_file(binary.c_str(), &source, &header, &intensity, &phase); },
       release_records, {ERR_NO_MEM}, 2},
      {"ASCII data file", [&] { return df_read_ascii_file(ascii.c_str(), &source, &header, &intensity, &phase); },
       release_records, {ERR_NO_MEM}, 1},
      {"coordinate pairs", [&] { return u_read_pairs(pairs.c_str(), &table); },
       [&] { u_pair_table_clear(&table); }, {ERR_CANT_READ_FILE}, 1},
      {"zoom calibration", [&] { return kite_enc_zoom_read_cal(zoom.c_str(), &table, &message); },
       [&] { u_pair_table_clear(&table); }, {ERR_NO_MEM}, 1},
      {"Lumen materials", [&] { return lumen_readMaterials(lumen.c_str(), &materials); },
       [&] { materials = lumen_materials_t{}; }, {ERR_NO_MEM}, 1},
      {"camera bad pixels", [&] { return cam_bad_file_read(bpix.c_str(), cameras.data(), &sections, &message); },
       [&] {
         for (cam_bad_entry_t& c : cameras) mx_list_release(&c.badPixels);
       },
       {ERR_NO_MEM}, 1},
      {"directory listing",
       [&] {
         listing = u_dir_open(dir.path().string().c_str());
         return listing != nullptr ? 0 : ERR_NO_MEM;
       },
       [&] {
         u_dir_close(listing);
         listing = nullptr;
       },
       {ERR_NO_MEM}, 3},
      {"CAN bridge record", [&] { return can_create_bridge_record(&bridge); }, [&] { bridge = sysInfo_t{}; },
       {ERR_NO_MEM}, 1},
  };
  // A calibration record that cannot be made fails its line only, so the
  // file reads as invalid rather than out of memory.
  for (const std::string& cal : cals) {
    sweeps.push_back({"calibration file", [&] { return sb_readCal(0, cal.c_str()); },
                      [] { sysInfo[0] = sysInfo_t{}; }, {ERR_NO_MEM, ERR_SB_CALFILE_INVALID}, 0});
  }

  for (const Sweep& s : sweeps) {
    SCOPED_TRACE(s.name);
    const int allocations = felbrin::test::sweep_allocations(s.run, s.release, s.errors);
    EXPECT_GE(allocations, s.min_allocations);
  }
}

}  // namespace
