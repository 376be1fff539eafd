// The binary data file reader on generated files.
#include "data/binary_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "common/errors.h"
#include "support/alloc_hooks.h"
#include "support/temp_dir.h"
#include "tools/datafile_builder.h"

namespace {

using felbrin::test::TempDir;
using felbrin::tools::build_data_file;
using felbrin::tools::DataFileLayout;
using felbrin::tools::put_be16;
using felbrin::tools::put_be32;
using Bytes = std::vector<unsigned char>;

// A 3 x 2 phase map and a 2-bucket 3 x 2 intensity map.
DataFileLayout small_spec(uint32_t magic = DF_MAGIC_834_A) {
  DataFileLayout s;
  s.magic = magic;
  s.intens_x = 1, s.intens_y = 2, s.intens_width = 3, s.intens_height = 2;
  s.intens_buckets = 2, s.intens_aux = -7;
  s.intensity = {1, 2, 3, 0x8001, 0xFFFF, 6, 7, 8, 9, 10, 11, 12};
  s.phase_x = 5, s.phase_y = 7, s.phase_width = 3, s.phase_height = 2;
  s.phase = {-1, 0, 0x12345678, MX_INVALID_I32, 42, INT32_MIN};
  return s;
}

struct Records {
  df_source_info_t source{};
  df_header_t header{};
  mx_bkt16_t intensity{};
  mx_i32_t phase{};
  ~Records() {
    mx_bkt16_release(&intensity);
    mx_i32_release(&phase);
  }
};

class BinaryReader : public ::testing::Test {
 protected:
  int read(const Bytes& bytes, Records& r, bool with_intensity = true, bool with_phase = true) {
    const auto path = dir_.path() / "in.dat";
    felbrin::test::write_file(path, bytes);
    return df_read_file(path.string().c_str(), &r.source, &r.header,
                        with_intensity ? &r.intensity : nullptr, with_phase ? &r.phase : nullptr);
  }
  TempDir dir_;
};

TEST_F(BinaryReader, ReadsBothBlocksInHostOrder) {
  for (uint32_t magic : {DF_MAGIC_834_A, DF_MAGIC_834_B, DF_MAGIC_4096}) {
    SCOPED_TRACE(magic);
    Records r;
    const DataFileLayout s = small_spec(magic);
    ASSERT_EQ(read(build_data_file(s), r), 0);
    EXPECT_EQ(r.phase.window.x, 5);
    EXPECT_EQ(r.phase.window.y, 7);
    EXPECT_EQ(r.phase.window.width, 3);
    EXPECT_EQ(r.phase.window.height, 2);
    ASSERT_EQ(r.phase.size, 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(r.phase.matrix[i], s.phase[i]);
    EXPECT_EQ(r.intensity.n_buckets, 2);
    EXPECT_EQ(r.intensity.aux, -7);
    EXPECT_EQ(r.intensity.window.x, 1);
    ASSERT_EQ(r.intensity.size, 12);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(r.intensity.matrix[i], s.intensity[i]);
    EXPECT_EQ(r.header.df_format_tag, magic == DF_MAGIC_4096 ? 3 : 0);
  }
}

TEST_F(BinaryReader, HeaderFieldsLandInTheRecord) {
  Bytes b = build_data_file(small_spec(DF_MAGIC_4096));
  put_be16(b, 10, 0x0102);                                 // info_word0
  std::memcpy(&b[12], "source text", 11);                  // info_text
  put_be16(b, 46, 0xFFFE);                                 // info_word3
  put_be32(b, 76, 0xDEADBEEF);                             // h076
  std::memcpy(&b[80], "eighty", 6);                        // h080
  put_be32(b, 164, 0x3FC00000);                            // h164 = 1.5f
  put_be16(b, 196, 0x1234);                                // h196, before a gap
  put_be32(b, 198, 0xC0200000);                            // h198 = -2.5f, after it
  put_be32(b, 226, 0x00000102);                            // h226
  put_be16(b, 242, 0x7FFF);                                // h242
  std::memcpy(&b[246], "ABCDEFGHIJKL", 12);                // h246, whole field
  put_be16(b, 372, 0x0A0B), put_be16(b, 374, 0x0C0D);      // h372[2]
  put_be32(b, 394, 0x01020304);                            // h386[2]
  b[798] = 0x11, b[799] = 0x22, b[800] = 0x33, b[801] = 0x44;  // h798: not swapped
  put_be32(b, 1446 + 4, 0xCAFEF00D);                       // h1446[1]
  b[4095] = 0x5A;                                          // last byte of h1454
  Records r;
  ASSERT_EQ(read(b, r), 0);
  EXPECT_EQ(r.source.info_word0, 0x0102);
  EXPECT_EQ(std::string(r.source.info_text, 11), "source text");
  EXPECT_EQ(r.source.info_word3, -2);
  EXPECT_EQ(static_cast<uint32_t>(r.header.h076), 0xDEADBEEFu);
  EXPECT_STREQ(r.header.h080, "eighty");
  EXPECT_EQ(r.header.h164, 1.5f);
  EXPECT_EQ(r.header.h196, 0x1234);
  EXPECT_EQ(r.header.h198, -2.5f);
  EXPECT_EQ(std::string(r.header.h246, 12), "ABCDEFGHIJKL");
  EXPECT_EQ(r.header.h242, 0x7FFF);
  EXPECT_EQ(r.header.h372[0], 0x0A0B);
  EXPECT_EQ(r.header.h372[1], 0x0C0D);
  EXPECT_EQ(r.header.h386[2], 0x01020304u);
  const unsigned char raw798[] = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(std::memcmp(&r.header.h798, raw798, 4), 0);
  EXPECT_EQ(r.header.h1446[1], 0xCAFEF00Du);
  EXPECT_EQ(r.header.h1454[2641], 0x5A);
  EXPECT_EQ(r.header.df_format_tag, 3);
}

TEST_F(BinaryReader, ShortHeaderLeavesLaterFieldsZero) {
  Bytes b = build_data_file(small_spec());
  put_be16(b, 816, 0x4142);  // h816: the last converted field of a short header
  Records r;
  std::memset(&r.header, 0xAA, sizeof r.header);
  ASSERT_EQ(read(b, r), 0);
  EXPECT_EQ(r.header.h816, 0x4142);
  EXPECT_EQ(r.header.df_format_tag, 0);
  EXPECT_EQ(r.header.h842[0], 0u);
  EXPECT_EQ(r.header.h1454[0], 0);
}

// Where a file is cut decides the code: inside the magic number or the
// header the file ended early; inside or before a block it is corrupt. A
// block the caller does not want is skipped, so the cut is found only where
// a wanted block is read.
TEST_F(BinaryReader, AFileCutAtEachBlockBoundary) {
  const Bytes whole = build_data_file(small_spec());
  const std::size_t header = 834, intensity_end = header + 24, end = intensity_end + 24;
  ASSERT_EQ(whole.size(), end);
  const struct {
    const char* name;
    std::size_t size;
    int both, phase_only;
  } cases[] = {
      {"inside the magic number", 2, ERR_PREMATURE_EOF, ERR_PREMATURE_EOF},
      {"after the magic number", 4, ERR_PREMATURE_EOF, ERR_PREMATURE_EOF},
      {"inside the header", header - 1, ERR_PREMATURE_EOF, ERR_PREMATURE_EOF},
      {"after the header", header, ERR_CORRUPT_DATA_FILE, ERR_CORRUPT_DATA_FILE},
      {"inside the intensity block", header + 5, ERR_CORRUPT_DATA_FILE, ERR_CORRUPT_DATA_FILE},
      {"after the intensity block", intensity_end, ERR_CORRUPT_DATA_FILE, ERR_CORRUPT_DATA_FILE},
      {"inside the phase block", end - 4, ERR_CORRUPT_DATA_FILE, ERR_CORRUPT_DATA_FILE},
      {"whole", end, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.size));
    Records both, phase_only;
    EXPECT_EQ(read(cut, both), c.both);
    EXPECT_EQ(read(cut, phase_only, false, true), c.phase_only);
    Records intensity_only;
    EXPECT_EQ(read(cut, intensity_only, true, false), c.size >= intensity_end ? 0 : c.both);
  }
}

// A map large enough to be read in two halves, each through a handle of
// its own: every value lands where it belongs, whether read from a file or
// a stream, and a file cut in either half, or at the seam, fails.
TEST_F(BinaryReader, LargeMapsReadTheSameInHalves) {
  DataFileLayout s;
  s.phase_width = 1031;  // odd, so the halves meet inside a row
  s.phase_height = 1023;
  s.phase = felbrin::tools::make_surface(s.phase_width, s.phase_height, 10, 3);
  s.intens_width = 3, s.intens_height = 1, s.intens_buckets = 1, s.intensity = {1, 2, 3};
  const Bytes whole = build_data_file(s);
  Records r;
  ASSERT_EQ(read(whole, r), 0);
  ASSERT_EQ(r.phase.size, static_cast<int64_t>(s.phase.size()));
  EXPECT_TRUE(std::equal(s.phase.begin(), s.phase.end(), r.phase.matrix));

  const std::size_t values = s.phase.size(), end = whole.size();
  for (const std::size_t cut : {end - 4 * values + 8, end - 4 * (values - values / 2) - 1,
                                end - 4 * (values - values / 2), end - 1}) {
    SCOPED_TRACE(cut);
    Records q;
    EXPECT_EQ(read(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)), q),
              ERR_CORRUPT_DATA_FILE);
    EXPECT_EQ(q.phase.matrix, nullptr);
  }
}

TEST_F(BinaryReader, TruncatedOrForeignFiles) {
  Records r;
  EXPECT_EQ(read({0x88, 0x1B, 0x03}, r), ERR_PREMATURE_EOF);
  Bytes partial(500, 0);
  put_be32(partial, 0, DF_MAGIC_834_B);
  EXPECT_EQ(read(partial, r), ERR_PREMATURE_EOF);
  Bytes swapped = build_data_file(small_spec());
  put_be32(swapped, 0, 0x6F031B88);
  EXPECT_EQ(read(swapped, r), ERR_NOT_A_DATA_FILE);
  EXPECT_EQ(df_read_file(dir_.file("missing.dat").c_str(), nullptr, nullptr, nullptr, nullptr),
            ERR_CANT_OPEN_FILE);
  EXPECT_EQ(df_read_file("", nullptr, nullptr, nullptr, nullptr), ERR_CANT_OPEN_FILE);
  EXPECT_EQ(df_read_file(nullptr, nullptr, nullptr, nullptr, nullptr), ERR_CANT_OPEN_FILE);
}

TEST_F(BinaryReader, NoBlocksGivesEmptyRecordsAndReadsNothingMore) {
  DataFileLayout s;
  s.intens_width = 4, s.intens_height = 4, s.intens_buckets = 2;  // geometry, but no block
  s.phase_x = 3, s.phase_width = 4, s.phase_height = 4;
  Bytes b = build_data_file(s);
  b.push_back(0x99);  // trailing bytes are never looked at
  const auto path = dir_.path() / "in.dat";
  felbrin::test::write_file(path, b);
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  Records r;
  ASSERT_EQ(df_read_binary_stream(f, &r.source, &r.header, &r.intensity, &r.phase), 0);
  EXPECT_EQ(std::ftell(f), DF_HEADER_SHORT);
  std::fclose(f);
  EXPECT_EQ(r.phase.matrix, nullptr);
  EXPECT_EQ(r.phase.size, 0);
  EXPECT_EQ(r.phase.window.x, 0);
  EXPECT_EQ(r.phase.window.width, 0);
  EXPECT_EQ(r.phase.window.height, 0);
  EXPECT_EQ(r.intensity.matrix, nullptr);
  EXPECT_EQ(r.intensity.window.width, 0);
  EXPECT_EQ(r.intensity.window.height, 0);
  EXPECT_EQ(r.intensity.n_buckets, 0);
}

TEST_F(BinaryReader, SkippingAMissingBlockWithoutARecordIsNoError) {
  DataFileLayout s = small_spec();
  s.phase.clear();
  s.phase_bytes = 0;
  s.intens_bytes = 100000;  // far more than the file holds
  Records r;
  EXPECT_EQ(read(build_data_file(s), r, false, true), 0);
  EXPECT_EQ(read(build_data_file(s), r, true, true), ERR_CORRUPT_DATA_FILE);
}

#if defined(__linux__)
// The reader never seeks back, so it reads from pipes too.
TEST_F(BinaryReader, ReadsFromAPipe) {
  const auto path = dir_.path() / "in.dat";
  felbrin::test::write_file(path, build_data_file(small_spec(DF_MAGIC_4096)));
  std::FILE* pipe = ::popen(("cat '" + path.string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  Records r;
  EXPECT_EQ(df_read_binary_stream(pipe, nullptr, &r.header, nullptr, &r.phase), 0);
  ::pclose(pipe);
  EXPECT_EQ(r.header.df_format_tag, 3);
  EXPECT_EQ(r.phase.matrix[5], INT32_MIN);
}
#endif

TEST_F(BinaryReader, BadGeometryIsRefusedAndRecordsReleased) {
  felbrin::test::FailingAllocator alloc;
  {
    DataFileLayout s = small_spec();
    s.phase_width = 0;
    Records r;
    EXPECT_EQ(read(build_data_file(s), r), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(r.intensity.matrix, nullptr);
    EXPECT_EQ(r.intensity.window.width, 0);
    EXPECT_EQ(r.intensity.n_buckets, 0);
  }
  {
    DataFileLayout s = small_spec();
    s.phase_height = static_cast<int16_t>(40000);  // 0x9C40
    Records r;
    EXPECT_EQ(read(build_data_file(s), r), ERR_DATASET_DIM_TOO_LARGE);
  }
  {
    DataFileLayout s = small_spec();
    s.intens_width = static_cast<int16_t>(0x8000);
    Records r;
    EXPECT_EQ(read(build_data_file(s), r), ERR_DATASET_DIM_TOO_LARGE);
  }
  {
    DataFileLayout s = small_spec();
    s.intens_buckets = -2;
    Records r;
    EXPECT_EQ(read(build_data_file(s), r), ERR_PARAM_OUT_OF_RANGE);
  }
  {
    // Intensity block longer than the rest of the file.
    DataFileLayout s = small_spec();
    s.intens_bytes = 1000;
    Records r;
    EXPECT_EQ(read(build_data_file(s), r), ERR_CORRUPT_DATA_FILE);
    EXPECT_EQ(r.intensity.matrix, nullptr);
    EXPECT_EQ(r.phase.matrix, nullptr);
  }
  {
    // Phase block cut short.
    Bytes b = build_data_file(small_spec());
    b.resize(b.size() - 1);
    Records r;
    EXPECT_EQ(read(b, r), ERR_CORRUPT_DATA_FILE);
    EXPECT_EQ(r.phase.matrix, nullptr);
    EXPECT_EQ(r.phase.size, 0);
    EXPECT_EQ(r.intensity.matrix, nullptr);
  }
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST_F(BinaryReader, SkippedIntensityBlockStillFindsThePhase) {
  const DataFileLayout s = small_spec();
  Records r;
  ASSERT_EQ(read(build_data_file(s), r, false, true), 0);
  EXPECT_EQ(r.phase.matrix[2], 0x12345678);
  Records q;
  ASSERT_EQ(read(build_data_file(s), q, true, false), 0);
  EXPECT_EQ(q.intensity.matrix[3], 0x8001);
}

TEST_F(BinaryReader, OddIntensityByteCountKeepsThePhaseBlockInPlace) {
  DataFileLayout s = small_spec();
  s.intensity.push_back(0xAB00);  // one more byte than the values
  s.intens_bytes = 2 * 12 + 1;
  Bytes b = build_data_file(s);
  b.erase(b.begin() + static_cast<std::ptrdiff_t>(834 + 25));  // keep 25 bytes of intensity
  Records r;
  ASSERT_EQ(read(b, r), 0);
  EXPECT_EQ(r.phase.matrix[0], -1);
  EXPECT_EQ(r.phase.matrix[5], INT32_MIN);
}

TEST_F(BinaryReader, OversizedIntensityBlockFillsTheBufferAndSkipsTheRest) {
  DataFileLayout s = small_spec();
  s.intensity.insert(s.intensity.end(), {100, 101, 102});  // 3 values too many
  Records r;
  ASSERT_EQ(read(build_data_file(s), r), 0);
  EXPECT_EQ(r.intensity.size, 12);
  EXPECT_EQ(r.intensity.matrix[11], 12);
  EXPECT_EQ(r.phase.matrix[4], 42);

  // Fewer values than the buffer: the rest reads as zero.
  DataFileLayout t = small_spec();
  t.intensity.resize(5);
  Records q;
  ASSERT_EQ(read(build_data_file(t), q), 0);
  EXPECT_EQ(q.intensity.matrix[4], 0xFFFF);
  for (int i = 5; i < 12; ++i) EXPECT_EQ(q.intensity.matrix[i], 0) << i;
  EXPECT_EQ(q.phase.matrix[4], 42);
}

TEST_F(BinaryReader, GivenBuffersAreReleasedNotLeaked) {
  felbrin::test::FailingAllocator alloc;
  Records r;
  r.phase.window = {0, 0, 10, 10};
  ASSERT_EQ(mx_i32_alloc(&r.phase), 0);
  r.intensity.window = {0, 0, 10, 10};
  r.intensity.n_buckets = 1;
  ASSERT_EQ(mx_bkt16_alloc(&r.intensity), 0);
  ASSERT_EQ(read(build_data_file(small_spec()), r), 0);
  EXPECT_EQ(alloc.live_blocks(), 2);  // the new buffers only
  mx_i32_release(&r.phase);
  mx_bkt16_release(&r.intensity);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST_F(BinaryReader, EveryAllocationFailureGivesNoMemoryAndLeavesNothing) {
  const Bytes b = build_data_file(small_spec());
  const int allocations = felbrin::test::fail_each_allocation([&](felbrin::test::FailingAllocator& alloc) {
    Records r;
    const int rc = read(b, r);
    if (rc == 0) return true;
    EXPECT_EQ(rc, ERR_NO_MEM);
    EXPECT_EQ(r.phase.matrix, nullptr);
    EXPECT_EQ(r.intensity.matrix, nullptr);
    EXPECT_EQ(alloc.live_blocks(), 0);
    return false;
  });
  EXPECT_GE(allocations, 2);  // both buffers were tried
}

TEST_F(BinaryReader, ReadsFromTheCurrentPositionOfAStream) {
  const auto path = dir_.path() / "two.dat";
  Bytes b = {'p', 'r', 'e'};
  const Bytes file = build_data_file(small_spec());
  b.insert(b.end(), file.begin(), file.end());
  felbrin::test::write_file(path, b);
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, 3, SEEK_SET), 0);
  Records r;
  EXPECT_EQ(df_read_binary_stream(f, nullptr, nullptr, &r.intensity, &r.phase), 0);
  EXPECT_EQ(r.phase.matrix[4], 42);
  std::fclose(f);
}

TEST_F(BinaryReader, MarkedWidePath) {
  const auto path = dir_.path() / u8"\u00e9t\u00e9_\u6837\u672c.dat";
  felbrin::test::write_file(path, build_data_file(small_spec()));
  Records r;
  EXPECT_EQ(df_read_file(felbrin::test::marked(path).c_str(), nullptr, nullptr, nullptr, &r.phase), 0);
  EXPECT_EQ(r.phase.matrix[4], 42);
}

TEST(HeaderUnpack, GapsOpenInFrontOfTheFourByteFields) {
  std::vector<unsigned char> buf(DF_HEADER_BUFFER_SIZE, 0);
  for (int i = 0; i < DF_HEADER_SHORT; ++i) buf[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i % 251 + 1);
  df_unpack_header(buf.data(), DF_MAGIC_834_A);
  EXPECT_EQ(buf[5], 6);   // file byte 5 stays
  EXPECT_EQ(buf[6], 0);   // gap
  EXPECT_EQ(buf[7], 0);
  EXPECT_EQ(buf[8], 7);   // file byte 6
  EXPECT_EQ(buf[80], 77);  // file byte 76: the header record starts here
  EXPECT_EQ(buf[833 + 18], (833 % 251) + 1);  // the last byte moved by all nine gaps
  EXPECT_EQ(buf[852], 0);
}

}  // namespace
