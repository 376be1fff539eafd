// mapview driven in-process, its pictures decoded by an independent PNG
// decoder: size, the colour of chosen valid and invalid pixels, the crop,
// the scale, the bar, grey frames in 8 and 16 bits, and the same messages
// and exit codes as datinfo for files that cannot be read.
#include "app/mapview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "app/datinfo.h"
#include "app/png.h"
#include "app/viridis.h"
#include "data/records.h"
#include "support/png_decode.h"
#include "support/string_sink.h"
#include "support/temp_dir.h"
#include "tools/datafile_builder.h"

namespace {

using felbrin::test::DecodedPng;
using Command = int (*)(int, const char* const*, std::FILE*, std::FILE*);
using Samples = std::vector<uint16_t>;

struct Outcome {
  int code = -1;
  std::string out, err;
};

Samples rgb(int index) {
  const app::Rgb c = app::kViridis[static_cast<std::size_t>(index)];
  return {c.r, c.g, c.b};
}
const Samples kGrey = {128, 128, 128};

class Mapview : public ::testing::Test {
 protected:
  void SetUp() override {
    // A 4 x 3 phase map: lowest at (0,0), highest at (1,0), invalid at (2,0);
    // two 4 x 3 intensity frames.
    felbrin::tools::DataFileLayout s;
    s.phase_x = 10, s.phase_y = 20, s.phase_width = 4, s.phase_height = 3;
    s.phase = {-100, 155, MX_INVALID_I32, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    s.intens_width = 4, s.intens_height = 3, s.intens_buckets = 2;
    s.intensity = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // frame 0: all equal
                   1000, 3000, 2000, 1500, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 65535};
    input = dir.file("map.dat");
    felbrin::test::write_file(input, felbrin::tools::build_data_file(s));
    output = dir.file("map.png");
  }
  Outcome run(Command command, std::vector<std::string> args) {
    std::vector<const char*> argv{"mapview"};
    for (const auto& a : args) argv.push_back(a.c_str());
    const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    std::FILE* o = std::fopen(out.c_str(), "wb");
    std::FILE* e = std::fopen(err.c_str(), "wb");
    Outcome r;
    r.code = command(static_cast<int>(argv.size()), argv.data(), o, e);
    std::fclose(o);
    std::fclose(e);
    r.out = felbrin::test::read_file(out);
    r.err = felbrin::test::read_file(err);
    return r;
  }
  DecodedPng picture(std::vector<std::string> options) {
    options.push_back(input);
    options.push_back(output);
    const Outcome r = run(mapview::run, options);
    EXPECT_EQ(r.code, mapview::kDone) << r.err;
    DecodedPng png;
    EXPECT_TRUE(felbrin::test::decode_png(output, png));
    return png;
  }
  felbrin::test::TempDir dir;
  std::string input, output;
};

TEST_F(Mapview, PixelsOfEachKindOfPicture) {
  struct Pixel {
    int x, y;
    Samples samples;
  };
  struct Case {
    const char* name;
    std::vector<std::string> options;
    int width, height, channels;
    std::vector<Pixel> pixels;
  };
  const Case cases[] = {
      {"phase", {}, 4, 3, 3, {{0, 0, rgb(0)}, {1, 0, rgb(255)}, {2, 0, kGrey}, {3, 0, rgb(100)}}},
      {"alpha", {"--alpha"}, 4, 3, 4, {{0, 0, {68, 1, 84, 255}}, {2, 0, {0, 0, 0, 0}}}},
      // Columns 1..2 of rows 0..1: the range is the crop's own, 1 to 155.
      {"crop and scale", {"--crop", "1,0,2,2", "--scale", "3"}, 6, 6, 3,
       {{0, 0, rgb(255)}, {2, 2, rgb(255)}, {3, 0, kGrey}, {5, 2, kGrey}, {3, 3, rgb(2)}, {0, 3, rgb(0)}}},
      {"bar", {"--bar", "--scale=2"}, 8 + 2 + 8, 6, 3,
       {{8, 0, kGrey}, {9, 5, kGrey}, {10, 0, rgb(255)}, {17, 0, rgb(255)}, {10, 5, rgb(0)}}},
      {"frame in 8 bits", {"--bucket", "1"}, 4, 3, 1,
       {{0, 0, {0}}, {1, 0, {8}}, {2, 0, {4}}, {3, 2, {255}}}},
      {"equal frame", {"--bucket", "0"}, 4, 3, 1, {{0, 0, {0}}, {3, 2, {0}}}},
      {"frame in 16 bits", {"--bucket", "1", "--bits", "16"}, 4, 3, 1,
       {{0, 0, {1000}}, {1, 0, {3000}}, {3, 0, {1500}}, {3, 2, {65535}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedPng png = picture(c.options);
    ASSERT_EQ(png.width, c.width);
    ASSERT_EQ(png.height, c.height);
    ASSERT_EQ(png.channels, c.channels);
    for (const Pixel& p : c.pixels) EXPECT_EQ(png.at(p.x, p.y), p.samples) << p.x << "," << p.y;
  }
}

// A picture large enough to be compressed in bands on several threads:
// every row decodes to its own colours, at the seams between bands too.
TEST_F(Mapview, LargePicturesDecodeWholeAcrossTheirBands) {
  felbrin::tools::DataFileLayout s;
  s.phase_width = 600, s.phase_height = 2100;
  for (int y = 0; y < s.phase_height; ++y)
    for (int x = 0; x < s.phase_width; ++x)
      s.phase.push_back((x * 7 + y * 13) % 1000 == 0 ? MX_INVALID_I32 : x + 3 * y);
  felbrin::test::write_file(input, felbrin::tools::build_data_file(s));
  const DecodedPng png = picture({});
  ASSERT_EQ(png.width, 600);
  ASSERT_EQ(png.height, 2100);
  const int low = 1, high = 599 + 3 * 2099;  // (0,0) is invalid
  for (int y = 0; y < 2100; ++y) {
    for (int x : {0, 1, 299, 599}) {
      const int v = x + 3 * y;
      const Samples want = (x * 7 + y * 13) % 1000 == 0
                               ? kGrey
                               : rgb(static_cast<int>((v - low) * 255.0 / (high - low) + 0.5));
      if (png.at(x, y) != want) {
        ADD_FAILURE() << x << "," << y;
        return;
      }
    }
  }
}

// Memory running out while a band is packed fails the picture, whichever
// thread packs that band (the first band of a round is the caller's).
TEST(Png, ABandOutOfMemoryFailsThePictureNotTheProcess) {
  app::PngFormat format;
  format.width = 1024;
  format.height = 1000;  // three bands of 341 rows
  for (const uint32_t bad : {10u, 500u, 999u}) {
    SCOPED_TRACE(bad);
    felbrin::test::StringSink sink;
    EXPECT_FALSE(app::write_png(sink, format, [bad](uint32_t y, std::span<uint8_t> row) {
      if (y == bad) throw std::bad_alloc();
      std::fill(row.begin(), row.end(), uint8_t{7});
    }));
  }
}

TEST_F(Mapview, ReportsTheRangeAndTheFileWritten) {
  Outcome r = run(mapview::run, {input, output});
  EXPECT_EQ(r.out, input + ": phase 4 x 3, values -100 to 155 (11 valid points)\nwrote " + output +
                       " (4 x 3)\n");
  r = run(mapview::run, {"--json", "--bucket", "1", "--crop", "0,0,2,1", input, output});
  EXPECT_EQ(r.out, "{\"file\": " + datinfo::json_string(input) +
                       ", \"image\": \"intensity\", \"bucket\": 1, \"x\": 0, \"y\": 0, \"width\": 2, "
                       "\"height\": 1, \"minimum\": 1000, \"maximum\": 3000, \"valid_points\": 2, "
                       "\"output\": " + datinfo::json_string(output) +
                       ", \"output_width\": 2, \"output_height\": 1}\n");
}

TEST_F(Mapview, UnreadableInputIsToldAsDatinfoTellsIt) {
  const std::string not_data = dir.file("x.txt"), bad_ascii = dir.file("y.txt");
  felbrin::test::write_file(not_data, std::vector<unsigned char>{'n', 'o', '\n'});
  const std::string text = "Trel ASCII Data File - Format 2\n1 2 3\n";
  felbrin::test::write_file(bad_ascii, std::vector<unsigned char>(text.begin(), text.end()));
  for (const std::string& path : {not_data, bad_ascii, dir.file("none.dat")}) {
    SCOPED_TRACE(path);
    const Outcome view = run(mapview::run, {path, output});
    const Outcome info = run(datinfo::run, {path});
    EXPECT_EQ(view.code, mapview::kFailed);
    EXPECT_EQ(info.code, datinfo::kUnreadable);
    EXPECT_EQ(view.err, info.err);
    EXPECT_FALSE(std::filesystem::exists(output));
  }
}

TEST_F(Mapview, UsageErrors) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"--scale", "0", input, output}, mapview::kUsage,
       "mapview: --scale takes 1 to 16, not \"0\" (see mapview --help)\n"},
      {{"--crop", "1,2,3", input, output}, mapview::kUsage,
       "mapview: --crop takes X,Y,W,H, not \"1,2,3\" (see mapview --help)\n"},
      {{"--crop", "2,0,3,1", input, output}, mapview::kUsage,
       "mapview: --crop 2,0,3,1 does not lie inside the 4 x 3 map (see mapview --help)\n"},
      {{"--bits", "16", input, output}, mapview::kUsage,
       "mapview: --bits 16 is for intensity frames (see mapview --help)\n"},
      {{input}, mapview::kUsage, "mapview: give one input and one output file (see mapview --help)\n"},
      {{"--scale"}, mapview::kUsage, "mapview: option \"--scale\" needs a value (see mapview --help)\n"},
      {{"--bucket", "2", input, output}, mapview::kFailed, input + ": has no intensity frame 2 (it has 2)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome r = run(mapview::run, c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(std::filesystem::exists(output));
  }
}

}  // namespace
