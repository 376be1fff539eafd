// The camera bad-pixel file and table: files to tables and exact messages,
// the limits, line ends, allocation failures, and both ways of building the
// record's table.
#include "instrument/acquisition/cam_bad.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/dirs.h"
#include "common/errors.h"
#include "instrument/record/sys_info.h"
#include "tests/support/alloc_hooks.h"
#include "tests/support/environment.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::ScopedEnv;
using felbrin::test::TempDir;
using Points = std::vector<std::pair<int, int>>;

Points points_of(const cam_bad_entry_t& e) {
  Points out;
  for (int i = 0; i < e.badPixels.count; ++i) out.emplace_back(e.badPixels.data[i].x, e.badPixels.data[i].y);
  return out;
}

struct Table {
  Table() : entries(static_cast<cam_bad_entry_t*>(u_calloc_fn(CAM_BAD_MAX_CAMERAS, sizeof(cam_bad_entry_t)))) {}
  cam_bad_table_ptr entries;
};

struct FileCase {
  const char* name;
  std::string text;
  int rc;
  std::string message;  // after the heading
  std::vector<Points> cameras;
};

TEST(CamBadFile, FilesToTablesAndMessages) {
  const std::string range_x = "Number out of range.\nExpected 'coord x' an integer value in the range [0,639]\n";
  const FileCase cases[] = {
      {"sorted, duplicate dropped", "# c\n[cam 0 1 640 480 30\n10 20\n10 20\n10 3\n5 7\n", 0, "",
       {{{5, 7}, {10, 3}, {10, 20}}}},
      {"grab rate above 500", "[c 0 1 4 4 500.5\n", ERR_CB_FILE_INVALID,
       "Number out of range.\nExpected 'grab rate' a floating point value in the range [0,500]\n"
       "Error in line 1:\r\n  [c 0 1 4 4 500.5\n", {}},
      {"CR LF, two headers in a row, tokens after y", "[a 0 1 8 8 30\r\n[b 1 1 8 8 30\r\n3 4 x\r\n", 0, "",
       {{}, {{3, 4}}}},
      {"empty", "", 0, "", {}},
      {"only comments", "# a\n\n  # b\n", 0, "", {}},
      {"point before a header", "# c\n1 2\n", ERR_CB_FILE_INVALID,
       "Missing camera information.\r\nError in line 2:\r\n  1 2\n", {}},
      {"x out of range", "[c 0 1 640 480 30\n640 20\n", ERR_CB_FILE_INVALID,
       range_x + "Error in line 2:\r\n  640 20\n", {}},
      {"long line counted before it is reported", std::string(101, '#') + "\n", ERR_CB_FILE_INVALID,
       "Line longer than 100 characters\r\nError in line 1\r\n", {}},
      {"100 characters and a CR are fine", std::string(100, '#') + "\r\n[c 0 1 4 4 1\n1 1\n", 0, "", {{{1, 1}}}},
      {"error in a later section names its line", "[a 0 1 8 8 30\n1 1\n[b 0 1 8 8 30\n1\n", ERR_CB_FILE_INVALID,
       "Missing number.\nExpected 'coord y' an integer value in the range [0,7]\nError in line 4:\r\n  1\n", {}},
  };
  TempDir dir;
  const std::string path = dir.file("bpix.dat");
  for (const FileCase& c : cases) {
    felbrin::test::write_file(path, c.text);
    Table table;
    int count = -1;
    std::string message;
    EXPECT_EQ(cam_bad_file_read(path.c_str(), table.entries.get(), &count, &message), c.rc) << c.name;
    const std::string heading = c.rc != 0 ? "Error reading bad pixel file \"" + path + "\"\r\n" : "";
    EXPECT_EQ(message, heading + c.message) << c.name;
    ASSERT_EQ(count, static_cast<int>(c.cameras.size())) << c.name;
    ASSERT_EQ(cam_bad_sort(table.entries.get(), count), 0);
    for (int i = 0; i < count; ++i) EXPECT_EQ(points_of(table.entries.get()[i]), c.cameras[i]) << c.name;
  }
}

TEST(CamBadFile, LimitsOfSectionsAndPoints) {
  TempDir dir;
  const std::string path = dir.file("bpix.dat");
  std::string hundred;
  for (int i = 0; i < CAM_BAD_MAX_CAMERAS; ++i) hundred += "[c 0 1 8 8 30\n1 1\n";
  std::string many_points = "[c 0 1 32767 1 30\n";
  for (int i = 0; i <= CAM_BAD_MAX_POINTS; ++i) many_points += std::to_string(i) + " 0\n";
  const struct {
    std::string text;
    int rc, count;
    std::string tail;
  } cases[] = {
      {hundred + "# end\n", 0, 100, ""},
      {hundred + "[c 0 1 8 8 30\n", ERR_CB_FILE_INVALID, 0,
       "Too many camera sections (maximum 100).\r\nError in line 201:\r\n  [c 0 1 8 8 30\n"},
      {many_points, ERR_CB_FILE_INVALID, 0,
       "Too many bad pixels in section (maximum 8192).\r\nError in line 8194:\r\n  8192 0\n"},
  };
  for (const auto& c : cases) {
    felbrin::test::write_file(path, c.text);
    Table table;
    int count = -1;
    std::string message;
    EXPECT_EQ(cam_bad_file_read(path.c_str(), table.entries.get(), &count, &message), c.rc);
    EXPECT_EQ(count, c.count);
    EXPECT_TRUE(message.ends_with(c.tail)) << message;
  }
  std::string message;
  EXPECT_EQ(cam_bad_file_read(dir.file("none.dat").c_str(), Table().entries.get(), nullptr, &message),
            ERR_CANT_OPEN_FILE);
  EXPECT_EQ(message, "Cannot open camera bad file \"" + dir.file("none.dat") + "\"\r\n");
  EXPECT_EQ(cam_bad_section_read(nullptr, nullptr, nullptr, nullptr, &message), ERR_INVALID_PARAM);
  EXPECT_EQ(message, "Invalid camera bad file handle. \n");
}

class CamBadBuild : public ::testing::Test {
 protected:
  void SetUp() override { u_dirs_reset(); }
  void TearDown() override { u_dirs_reset(); }
  TempDir dir;
  ScopedEnv config{"FB_CONFIG_DIR", dir.path().string().c_str()};
  std::unique_ptr<sysInfo_t> s = std::make_unique<sysInfo_t>();
};

TEST_F(CamBadBuild, FromTheSerialNumbersFileThenFromTheInlineList) {
  s->serialNumber = 1234;
  s->badPixelMode = 1;
  felbrin::test::write_file(dir.path() / "bpix_1234.dat", "[c 0 1 640 480 30\n10 20\n[d 1 2 320 240 15\n");
  ASSERT_EQ(gen_cam_ped_filename(s.get()), 0);
  EXPECT_EQ(s->acq.camBadCount, 2);
  EXPECT_EQ(s->acq.camBad.get()[1].sizeX, 320);
  EXPECT_FALSE(s->acq.badTableFromInline);

  // A broken file: the whole message is logged and no table is left.
  felbrin::test::write_file(dir.path() / "bpix_1234.dat", "1 2\n");
  LogCapture log;
  EXPECT_EQ(gen_cam_ped_filename(s.get()), ERR_CB_FILE_INVALID);
  EXPECT_EQ(log.str().rfind("Error reading bad pixel file", 0), 0u);
  EXPECT_EQ(s->acq.camBadCount, 0);
  EXPECT_EQ(s->acq.camBad, nullptr);

  s->badPixelMode = 0;
  s->badPixels[0] = {9, 9};
  s->badPixels[1] = {3, 4};
  s->badPixels[2] = {9, 9};
  s->acq.cameraWidth = 640;
  s->acq.cameraHeight = 480;
  s->acq.grabUnder = 0;  // counts as 1
  for (int build = 0; build < 2; ++build) {
    ASSERT_EQ(gen_cam_ped_filename(s.get()), 0);
    ASSERT_EQ(s->acq.camBadCount, 1);
    EXPECT_EQ(points_of(s->acq.camBad.get()[0]), (Points{{3, 4}, {9, 9}}));
    EXPECT_EQ(s->acq.camBad.get()[0].sizeX, 640);
    EXPECT_TRUE(s->acq.badTableFromInline);
    EXPECT_EQ(s->badPixelMode, 0) << "the calibration keeps its mode";
  }
  cam_bad_release(s.get());
  EXPECT_EQ(s->acq.camBad, nullptr);
}

TEST_F(CamBadBuild, AFailedAllocationLeavesNoTable) {
  s->badPixelMode = 1;
  felbrin::test::write_file(dir.path() / "bpix_0.dat", "[c 0 1 8 8 30\n1 1\n[c 0 1 8 8 30\n2 2\n");
  int count = 0;
  felbrin::test::fail_each_allocation([&](felbrin::test::FailingAllocator&) {
    const int rc = gen_cam_ped_filename(s.get());
    count = s->acq.camBadCount;
    if (rc != 0) {
      EXPECT_EQ(rc, ERR_NO_MEM);
      EXPECT_EQ(s->acq.camBad, nullptr);
      EXPECT_EQ(count, 0);
    }
    cam_bad_release(s.get());
    return rc == 0;
  });
  EXPECT_EQ(count, 2);
}

}  // namespace
