// The point-list writer and the statistics it rests on.
#include "data/point_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <span>
#include <string>
#include <vector>

#include "common/errors.h"
#include "data/point_list_internal.h"
#include "support/alloc_hooks.h"
#include "support/string_sink.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::native_lines;
using felbrin::test::TempDir;

// A matrix over caller-owned values (not released: the vector owns them).
struct Matrix {
  std::vector<int32_t> values;
  mx_i32_t m{};
  Matrix(wn_window_t w, std::vector<int32_t> v) : values(std::move(v)) {
    m.window = w;
    m.size = static_cast<int32_t>(values.size());
    m.matrix = values.data();
  }
};

using LimitedSink = felbrin::test::StringSink;

std::string convert(const mx_i32_t& m, int* rc = nullptr, int threads = felbrin::kAutoThreads) {
  LimitedSink sink(SIZE_MAX);
  const int r = felbrin::write_point_list(sink, &m, "\n", threads);
  if (rc != nullptr) *rc = r;
  return sink.text;
}

TEST(PointList, TwoByTwoExample) {
  Matrix a({0, 0, 2, 2}, {10, 20, MX_INVALID_I32, 30});
  EXPECT_EQ(convert(a.m), "3\n0 0 0\n1 0 0.5\n1 1 1\n10\n20\n");
}

TEST(PointList, PositionsCountFromTheWindowStart) {
  Matrix a({5, 7, 2, 2}, {MX_INVALID_I32 + 7, 20, 10, 30});
  EXPECT_EQ(convert(a.m), "3\n1 0 0.5\n0 1 0\n1 1 1\n10\n20\n");
  mx_stats_t st{};
  ASSERT_EQ(mx_i32_stats(&a.m, nullptr, &st), 0);
  EXPECT_EQ(st.peak_x, 6);  // absolute
  EXPECT_EQ(st.peak_y, 8);
  EXPECT_EQ(st.valley_x, 5);
  EXPECT_EQ(st.valley_y, 8);
  EXPECT_EQ(st.npoints, 3);
  EXPECT_EQ(st.pv, 20);
  EXPECT_DOUBLE_EQ(st.mean, 20.0);
}

TEST(PointList, SpanZeroWritesZeros) {
  Matrix a({0, 0, 3, 1}, {-7, MX_INVALID_I32, -7});
  EXPECT_EQ(convert(a.m), "2\n0 0 0\n2 0 0\n-7\n0\n");
}

TEST(PointList, OffsetAndSpanUseSixDigits) {
  Matrix a({0, 0, 2, 1}, {-2000000000, 123456789});
  EXPECT_EQ(convert(a.m), "2\n0 0 0\n1 0 1\n-2e+09\n2.12346e+09\n");
}

TEST(PointList, DivisionNotReciprocal) {
  Matrix a({0, 0, 3, 1}, {0, 71, 640});
  EXPECT_EQ(convert(a.m), "3\n0 0 0\n1 0 0.110937\n2 0 1\n0\n640\n");
}

TEST(Stats, FirstOfEqualExtremesAndSpecialValues) {
  Matrix a({0, 0, 3, 2}, {5, 9, 9, 1, 1, 5});
  mx_stats_t st{};
  ASSERT_EQ(mx_i32_stats(&a.m, nullptr, &st), 0);
  EXPECT_EQ(st.peak_x, 1);
  EXPECT_EQ(st.peak_y, 0);
  EXPECT_EQ(st.valley_x, 0);
  EXPECT_EQ(st.valley_y, 1);

  const wn_window_t inner{1, 1, 2, 1};
  ASSERT_EQ(mx_i32_stats(&a.m, &inner, &st), 0);
  EXPECT_EQ(st.npoints, 2);
  EXPECT_EQ(st.peak, 5);
  EXPECT_EQ(st.peak_x, 2);

  const wn_window_t outside{2, 1, 2, 1};
  EXPECT_EQ(mx_i32_stats(&a.m, &outside, &st), ERR_IMPROPER_WINDOW);
  const wn_window_t no_rows{0, 0, 3, 0};
  EXPECT_EQ(mx_i32_stats(&a.m, &no_rows, &st), ERR_IMPROPER_WINDOW);

  Matrix bad({0, 0, 2, 1}, {MX_INVALID_I32, INT32_MAX});
  EXPECT_EQ(mx_i32_stats(&bad.m, nullptr, &st), ERR_ALL_BAD_DATA);
  Matrix only_min({0, 0, 2, 1}, {INT32_MIN, MX_INVALID_I32});
  EXPECT_EQ(mx_i32_stats(&only_min.m, nullptr, &st), ERR_ALL_BAD_DATA);
  Matrix wide({0, 0, 2, 1}, {-2000000000, 2000000000});
  EXPECT_EQ(mx_i32_stats(&wide.m, nullptr, &st), ERR_PEAKVAL_OVERFLOW);
  Matrix edge({0, 0, 2, 1}, {-1, MX_INVALID_I32 - 1});
  ASSERT_EQ(mx_i32_stats(&edge.m, nullptr, &st), 0);
  EXPECT_EQ(st.pv, MX_INVALID_I32);
}

TEST(Stats, MatrixWithoutEnoughBufferIsRefused) {
  mx_i32_t m{};
  m.window = {0, 0, 4, 4};
  mx_stats_t st{};
  EXPECT_EQ(mx_i32_stats(&m, nullptr, &st), ERR_INVALID_PARAM);
  Matrix small({0, 0, 4, 4}, {1, 2, 3});
  small.m.size = 3;
  EXPECT_EQ(mx_i32_stats(&small.m, nullptr, &st), ERR_INVALID_PARAM);
  EXPECT_EQ(mx_i32_stats(nullptr, nullptr, &st), ERR_INVALID_PARAM);
}

TEST(Rows, PointersAddressTheWindowRows) {
  Matrix a({10, 20, 4, 3}, std::vector<int32_t>(12));
  int32_t* rows[2] = {};
  const wn_window_t w{11, 21, 2, 2};
  ASSERT_EQ(mx_i32_rows(&a.m, &w, rows), 0);
  EXPECT_EQ(rows[0], a.values.data() + 5);
  EXPECT_EQ(rows[1], a.values.data() + 9);
  const wn_window_t outside{13, 21, 2, 2};
  EXPECT_EQ(mx_i32_rows(&a.m, &outside, rows), ERR_IMPROPER_WINDOW);
  mx_i32_t no_buffer{};
  no_buffer.window = {0, 0, 2, 2};
  EXPECT_EQ(mx_i32_rows(&no_buffer, nullptr, rows), ERR_INVALID_PARAM);
}

TEST(PointListFile, WritesPlatformLineEnds) {
  TempDir dir;
  Matrix a({0, 0, 2, 2}, {10, 20, MX_INVALID_I32, 30});
  const std::string path = dir.file("out.txt");
  ASSERT_EQ(df_write_point_list(path.c_str(), &a.m), 0);
  EXPECT_EQ(felbrin::test::read_file(path), native_lines("3\n0 0 0\n1 0 0.5\n1 1 1\n10\n20\n"));

  // An existing file is replaced.
  Matrix b({0, 0, 1, 1}, {4});
  ASSERT_EQ(df_write_point_list(path.c_str(), &b.m), 0);
  EXPECT_EQ(felbrin::test::read_file(path), native_lines("1\n0 0 0\n4\n0\n"));

  const auto wide = dir.path() / u8"sortie_\u00e9.txt";
  ASSERT_EQ(df_write_point_list(felbrin::test::marked(wide).c_str(), &b.m), 0);
  EXPECT_EQ(felbrin::test::read_file(wide), native_lines("1\n0 0 0\n4\n0\n"));
}

TEST(PointListFile, FailuresLeaveTheFileAsWritten) {
  TempDir dir;
  const std::string path = dir.file("out.txt");
  Matrix bad({0, 0, 2, 1}, {MX_INVALID_I32, MX_INVALID_I32});
  EXPECT_EQ(df_write_point_list(path.c_str(), &bad.m), ERR_ALL_BAD_DATA);
  EXPECT_EQ(felbrin::test::read_file(path), "");
  mx_i32_t empty{};
  EXPECT_EQ(df_write_point_list(path.c_str(), &empty), ERR_IMPROPER_WINDOW);
  EXPECT_EQ(df_write_point_list(path.c_str(), nullptr), ERR_INVALID_PARAM);
  Matrix a({0, 0, 1, 1}, {4});
  EXPECT_EQ(df_write_point_list(dir.path().string().c_str(), &a.m), ERR_CANT_CREATE_FILE);
  EXPECT_EQ(df_write_point_list(dir.file("no/such/dir.txt").c_str(), &a.m), ERR_CANT_CREATE_FILE);
}

// A sink that fails part-way, at every point of a file several buffers long.
TEST(PointListSink, WriteFailureAtAnyPointIsReported) {
  std::vector<int32_t> values(200 * 150);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = i % 7 == 0 ? MX_INVALID_I32 : static_cast<int32_t>(i * 13 % 1000);
  Matrix a({0, 0, 200, 150}, values);
  int rc = -1;
  const std::string full = convert(a.m, &rc);
  ASSERT_EQ(rc, 0);
  ASSERT_GT(full.size(), 3 * felbrin::SinkBuffer::kCapacity);
  for (std::size_t limit : {std::size_t{0}, std::size_t{3}, std::size_t{100},
                            felbrin::SinkBuffer::kCapacity, full.size() / 2, full.size() - 1}) {
    LimitedSink sink(limit);
    EXPECT_EQ(felbrin::write_point_list(sink, &a.m, "\n"), ERR_CANT_WRITE_FILE) << limit;
    EXPECT_EQ(sink.text, full.substr(0, limit));
  }
  LimitedSink exact(full.size());
  EXPECT_EQ(felbrin::write_point_list(exact, &a.m, "\n"), 0);
}

// ---- several threads, against the one-thread writer pinned down above

// Values from a fixed formula; every `invalid_every`-th pixel invalid (0: none).
Matrix pattern(int width, int height, int invalid_every, int32_t spread) {
  std::vector<int32_t> v(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < v.size(); ++i)
    v[i] = invalid_every > 0 && i % static_cast<std::size_t>(invalid_every) == 0
               ? MX_INVALID_I32
               : static_cast<int32_t>(i * 7919 % (static_cast<std::size_t>(spread) + 1)) - spread / 2;
  return Matrix({0, 0, static_cast<int16_t>(width), static_cast<int16_t>(height)}, std::move(v));
}

// The whole file against the straightforward converter's lines, built here
// with the exact conversion: rows wide enough for the column numbers to
// pass every carry up to five digits, and spreads whose quotients need
// zeros after the point, exact halves and the value 1.
TEST(PointList, EveryLineAsTheStraightforwardConverterWritesIt) {
  const auto g = [](double v) {
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6).ptr);
  };
  for (const int32_t spread : {1000, 2000000, 2147483000}) {
    SCOPED_TRACE(spread);
    const Matrix a = pattern(30011, 2, 9, spread);
    int32_t peak = INT32_MIN, valley = INT32_MAX, count = 0;
    for (const int32_t v : a.values) {
      if (v >= MX_INVALID_I32) continue;
      peak = std::max(peak, v), valley = std::min(valley, v), ++count;
    }
    const double span = static_cast<double>(peak) - valley;
    std::string want = std::to_string(count) + "\n";
    for (int i = 0; i < static_cast<int>(a.values.size()); ++i) {
      const int32_t v = a.values[static_cast<std::size_t>(i)];
      if (v >= MX_INVALID_I32) continue;
      want += std::to_string(i % 30011) + " " + std::to_string(i / 30011) + " " +
              g((static_cast<double>(v) - valley) / span) + "\n";
    }
    want += g(valley) + "\n" + g(span) + "\n";
    EXPECT_EQ(convert(a.m), want);
  }
}

TEST(PointListThreads, SameBytesAndCodeAsOneThread) {
  struct Shape {
    const char* name;
    int width, height, invalid_every;
    int32_t spread;
  };
  const Shape shapes[] = {
      {"single pixel", 1, 1, 0, 1000},
      {"single row of several blocks", 20000, 1, 5, 1000},
      {"single column", 1, 20000, 3, 1000},
      {"blocks end inside rows, more blocks than buffers", 333, 450, 7, 100000},
      {"all values equal", 70, 200, 4, 0},
      {"empty window", 0, 0, 0, 1},
      {"no valid pixel", 50, 2, 1, 1},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.name);
    const Matrix a = pattern(s.width, s.height, s.invalid_every, s.spread);
    int one_rc = -1;
    const std::string one = convert(a.m, &one_rc, 1);
    for (int threads : {2, 3, 4, 64}) {
      int rc = -1;
      EXPECT_EQ(convert(a.m, &rc, threads), one) << threads;
      EXPECT_EQ(rc, one_rc) << threads;
    }
  }
}

// Fails like LimitedSink and counts the writes still offered after a failure.
class CountingSink : public LimitedSink {
 public:
  using LimitedSink::LimitedSink;
  bool write(std::span<const char> bytes) override {
    if (failed_) ++writes_after_failure;
    failed_ = !LimitedSink::write(bytes) || failed_;
    return !failed_;
  }
  int writes_after_failure = 0;

 private:
  bool failed_ = false;
};

TEST(PointListThreads, WriteFailureStopsEveryThread) {
  const Matrix a = pattern(333, 450, 7, 100000);
  const std::string full = convert(a.m, nullptr, 1);
  for (int threads : {2, 4}) {
    for (std::size_t limit : {std::size_t{0}, std::size_t{3}, std::size_t{100}, full.size() / 3,
                              full.size() / 2, full.size() - 1}) {
      CountingSink sink(limit);
      EXPECT_EQ(felbrin::write_point_list(sink, &a.m, "\n", threads), ERR_CANT_WRITE_FILE) << limit;
      EXPECT_EQ(sink.text, full.substr(0, limit));
      EXPECT_EQ(sink.writes_after_failure, 0) << limit;
    }
  }
}

TEST(PointListThreads, RefusedBufferWritesNothingAndLeaksNothing) {
  const Matrix a = pattern(333, 150, 7, 100000);
  const std::string full = convert(a.m, nullptr, 1);
  const int allocations = felbrin::test::fail_each_allocation([&](felbrin::test::FailingAllocator&) {
    LimitedSink sink;
    const int rc = felbrin::write_point_list(sink, &a.m, "\n", 2);
    if (rc == 0) {
      EXPECT_EQ(sink.text, full);
      return true;
    }
    EXPECT_EQ(rc, ERR_NO_MEM);
    EXPECT_EQ(sink.text, "");
    return false;
  });
  EXPECT_GT(allocations, 0);
}

#if defined(__linux__)
TEST(PointListFile, FullDiskIsAnError) {
  Matrix a({0, 0, 1, 1}, {4});
  EXPECT_EQ(df_write_point_list("/dev/full", &a.m), ERR_CANT_WRITE_FILE);
  const Matrix big = pattern(333, 300, 7, 100000);
  for (int threads : {1, 2})
    EXPECT_EQ(felbrin::write_point_list_file("/dev/full", &big.m, threads), ERR_CANT_WRITE_FILE);
}
#endif

}  // namespace
