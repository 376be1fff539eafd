// Matrix records: allocate, resize, release, and their failure rules.
#include <gtest/gtest.h>

#include "common/errors.h"
#include "data/records.h"
#include "support/alloc_hooks.h"

namespace {

using felbrin::test::FailingAllocator;

TEST(PhaseMatrix, AllocateResizeRelease) {
  FailingAllocator alloc;
  mx_i32_t m{};
  m.window = {3, 4, 10, 10};
  ASSERT_EQ(mx_i32_alloc(&m), 0);
  EXPECT_EQ(m.size, 100);
  ASSERT_NE(m.matrix, nullptr);
  *mx_i32_at(&m, 12, 13) = 7;  // last element
  EXPECT_EQ(m.matrix[99], 7);

  // A smaller geometry with keep: the larger buffer stays.
  int32_t* before = m.matrix;
  wn_window_t half{0, 0, 10, 5};
  ASSERT_EQ(mx_i32_resize(&m, &half, true), 0);
  EXPECT_EQ(m.size, 100);
  EXPECT_EQ(m.matrix, before);
  EXPECT_EQ(m.window.height, 5);
  // Without keep it is replaced by one of the new size.
  ASSERT_EQ(mx_i32_resize(&m, &half, false), 0);
  EXPECT_EQ(m.size, 50);

  // A window of width 0 releases the buffer and keeps the old window.
  wn_window_t empty{1, 1, 0, 7};
  ASSERT_EQ(mx_i32_resize(&m, &empty, true), 0);
  EXPECT_EQ(m.matrix, nullptr);
  EXPECT_EQ(m.size, 0);
  EXPECT_EQ(m.window.height, 5);

  ASSERT_EQ(mx_i32_resize(&m, &half, false), 0);
  mx_i32_release(&m);
  EXPECT_EQ(m.matrix, nullptr);
  EXPECT_EQ(m.size, 0);
  EXPECT_EQ(m.window.x, 0);
  EXPECT_EQ(m.window.width, 0);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(PhaseMatrix, CountsAreCheckedInSixtyFourBits) {
  mx_i32_t m{};
  EXPECT_EQ(mx_i32_alloc(&m), ERR_PARAM_OUT_OF_RANGE);  // no elements
  m.window = {0, 0, -4, 5};
  EXPECT_EQ(mx_i32_alloc(&m), ERR_PARAM_OUT_OF_RANGE);
  m.window = {0, 0, -4, -5};  // the product is positive, the geometry is not
  EXPECT_EQ(mx_i32_alloc(&m), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(mx_i32_alloc(nullptr), ERR_INVALID_PARAM);

  // A refused count leaves a record that holds a buffer as it was.
  mx_i32_t held{};
  held.window = {0, 0, 2, 2};
  ASSERT_EQ(mx_i32_alloc(&held), 0);
  int32_t* buffer = held.matrix;
  held.window.width = 0;
  EXPECT_EQ(mx_i32_alloc(&held), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(held.matrix, buffer);
  EXPECT_EQ(held.size, 4);
  mx_i32_release(&held);

  mx_bkt16_t b{};
  b.window = {0, 0, 32767, 32767};
  b.n_buckets = 8;  // 8.6e9 values: more than the record's size can count
  EXPECT_EQ(mx_bkt16_alloc(&b), ERR_NO_MEM);
  EXPECT_EQ(b.matrix, nullptr);
  EXPECT_EQ(b.size, 0);
  EXPECT_EQ(b.window.width, 0);
  EXPECT_EQ(b.n_buckets, 0);

  mx_i32_t r{};
  r.window = {0, 0, 2, 2};
  ASSERT_EQ(mx_i32_alloc(&r), 0);
  const wn_window_t negative{0, 0, -2, 2};
  EXPECT_EQ(mx_i32_resize(&r, &negative, true), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(r.size, 4);  // unchanged
  EXPECT_NE(r.matrix, nullptr);
  EXPECT_EQ(r.window.width, 2);
  mx_i32_release(&r);
}

TEST(BucketMatrix, CountIncludesBuckets) {
  FailingAllocator alloc;
  mx_bkt16_t b{};
  const wn_window_t w{0, 0, 4, 3};
  ASSERT_EQ(mx_bkt16_resize(&b, &w, 5, false), 0);
  EXPECT_EQ(b.size, 60);
  EXPECT_EQ(b.n_buckets, 5);
  EXPECT_EQ(mx_bkt16_resize(&b, &w, -1, false), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(mx_bkt16_resize(&b, &w, 0, false), 0);  // no buckets: no buffer
  EXPECT_EQ(b.matrix, nullptr);
  mx_bkt16_release(&b);
  EXPECT_EQ(b.n_buckets, 0);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(MaskMatrix, RowsAreStoredBottomUpWithFourByteStride) {
  mx_mask8_t m{};
  m.window = {10, 20, 5, 3};
  ASSERT_EQ(mx_mask8_alloc(&m), 0);
  EXPECT_EQ(m.size, 24);
  EXPECT_EQ(mx_mask8_at(&m, 10, 20), m.matrix + 16);  // first row is the last stored
  EXPECT_EQ(mx_mask8_at(&m, 14, 22), m.matrix + 4);
  const wn_window_t empty{0, 0, 0, 3};
  ASSERT_EQ(mx_mask8_resize(&m, &empty, false), 0);
  EXPECT_EQ(m.window.x, 10);  // the old window stays
  mx_mask8_release(&m);
}

TEST(OtherMatrices, ZeroedAllocationsAndCompactRecord) {
  FailingAllocator alloc;
  mx_w32_t w32{};
  w32.window = {0, 0, 3, 3};
  ASSERT_EQ(mx_w32_alloc_zeroed(&w32), 0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(w32.matrix[i], 0u);
  mx_w32_release(&w32);

  mx_w64_t w64{};
  w64.window = {5, -1, 6, 2};
  ASSERT_EQ(mx_w64_resize_aligned(&w64), 0);
  EXPECT_EQ(w64.window.x, 4);
  EXPECT_EQ(w64.window.width, 8);
  EXPECT_EQ(w64.window.y, -4);
  EXPECT_EQ(w64.window.height, 8);
  EXPECT_EQ(w64.size, 64);
  mx_w64_release(&w64);

  mx_c32_t c{};
  ASSERT_EQ(mx_c32_resize(&c, 7, 2, false), 0);
  EXPECT_EQ(c.size, 14);
  EXPECT_EQ(mx_c32_resize(&c, 0, 2, false), 0);
  EXPECT_EQ(c.matrix, nullptr);
  EXPECT_EQ(mx_c32_resize(&c, 1, INT16_MAX, false), 0);  // the 16-bit limit itself
  EXPECT_EQ(mx_c32_resize(&c, 1, INT16_MAX + 1, false), ERR_PARAM_OUT_OF_RANGE);
  mx_c32_release(&c);

  mx_u16_t u{};
  u.window = {0, 0, 2, 2};
  ASSERT_EQ(mx_u16_alloc(&u), 0);
  mx_u16_release(&u);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(AllocationFailures, EveryFamilyReportsNoMemoryAndHoldsNoBuffer) {
  FailingAllocator alloc(0, true);
  const wn_window_t w{0, 0, 4, 4};
  mx_i32_t i32{};
  i32.window = w;
  EXPECT_EQ(mx_i32_alloc(&i32), ERR_NO_MEM);
  EXPECT_EQ(mx_i32_resize(&i32, &w, false), ERR_NO_MEM);
  EXPECT_EQ(i32.matrix, nullptr);
  EXPECT_EQ(i32.size, 0);
  mx_bkt16_t b{};
  EXPECT_EQ(mx_bkt16_resize(&b, &w, 2, false), ERR_NO_MEM);
  EXPECT_EQ(b.matrix, nullptr);
  mx_u16_t u{};
  EXPECT_EQ(mx_u16_resize(&u, &w, false), ERR_NO_MEM);
  mx_w32_t w32{};
  w32.window = w;
  EXPECT_EQ(mx_w32_alloc(&w32), ERR_NO_MEM);
  EXPECT_EQ(mx_w32_alloc_zeroed(&w32), ERR_NO_MEM);
  mx_w64_t w64{};
  w64.window = w;
  EXPECT_EQ(mx_w64_alloc_zeroed(&w64), ERR_NO_MEM);
  mx_mask8_t mask{};
  mask.window = w;
  EXPECT_EQ(mx_mask8_alloc(&mask), ERR_NO_MEM);
  EXPECT_EQ(mask.window.width, 0);
  mx_c32_t c{};
  EXPECT_EQ(mx_c32_resize(&c, 2, 2, false), ERR_NO_MEM);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

// The record's size field holds 32 bits: 2^31 elements are refused before
// the allocator is asked, one row fewer is asked for (and fails here).
TEST(AllocationFailures, SizeLimitIsTheLargest32BitCount) {
  FailingAllocator alloc(0, true);
  mx_bkt16_t b{};
  const wn_window_t over{0, 0, 2048, 1024}, under{0, 0, 2048, 1023};
  EXPECT_EQ(mx_bkt16_resize(&b, &over, 1024, false), ERR_NO_MEM);
  EXPECT_EQ(alloc.requests(), 0);
  EXPECT_EQ(mx_bkt16_resize(&b, &under, 1024, false), ERR_NO_MEM);
  EXPECT_EQ(alloc.requests(), 1);
}

TEST(AllocationFailures, FailedGrowReleasesTheOldBuffer) {
  FailingAllocator alloc(1);
  mx_i32_t m{};
  const wn_window_t small{0, 0, 2, 2}, large{0, 0, 8, 8};
  ASSERT_EQ(mx_i32_resize(&m, &small, false), 0);
  EXPECT_EQ(mx_i32_resize(&m, &large, false), ERR_NO_MEM);
  EXPECT_EQ(m.matrix, nullptr);
  EXPECT_EQ(m.size, 0);
  EXPECT_EQ(m.window.width, 2);  // geometry stays with the failure
  EXPECT_EQ(alloc.live_blocks(), 0);
}

}  // namespace
