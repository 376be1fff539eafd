// Frame queues, value lists, the pointer list, typed containers and row
// tables: geometry, the keep rules, and every allocation failing in turn.
#include "data/containers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>

#include "common/errors.h"
#include "support/alloc_hooks.h"

namespace {

using felbrin::test::FailingAllocator;
using felbrin::test::fail_each_allocation;

// A queue record that is released at the end of the test.
struct Queue {
  mx_queue_t q{};
  explicit Queue(bool separate = false) { q.separate = separate ? 1 : 0; }
  ~Queue() { mx_queue_release(&q); }
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;
};

void expect_released(const mx_queue_t& q) {
  EXPECT_EQ(q.matrix, nullptr);
  EXPECT_EQ(q.blocks, nullptr);
  EXPECT_EQ(q.alloc_size, 0);
  EXPECT_EQ(q.alloc_blocks, 0);
  EXPECT_EQ(q.alloc_blocksize, 0);
  EXPECT_EQ(q.alloc_elem_size, 0);
  EXPECT_EQ(q.alloc_win.width, 0);
  EXPECT_EQ(q.alloc_win.height, 0);
  EXPECT_EQ(q.blocks_cap, 0);
  EXPECT_EQ(q.size, 0);
  EXPECT_EQ(q.blocksize, 0);
  EXPECT_EQ(q.stored.width, 0);
  EXPECT_EQ(q.stored.height, 0);
}

// ---- multi-block matrix

TEST(Queue, SharedAllocationLaysBlocksOutOnTheAlignedWindow) {
  FailingAllocator alloc;
  Queue b;
  const wn_window_t w{5, 3, 6, 4};  // aligned: x 4, y 0, 8 x 8
  ASSERT_EQ(mx_queue_alloc(&b.q, &w, 3, 2, 5), 0);
  const mx_queue_t& q = b.q;
  EXPECT_EQ(alloc.requests(), 2);  // the table and one buffer
  EXPECT_EQ(q.stored.x, 4);
  EXPECT_EQ(q.stored.y, 0);
  EXPECT_EQ(q.stored.width, 8);
  EXPECT_EQ(q.stored.height, 8);
  EXPECT_EQ(q.alloc_win.x, 8);
  EXPECT_EQ(q.alloc_win.y, 0);
  EXPECT_EQ(q.alloc_win.width, 16);
  EXPECT_EQ(q.alloc_win.height, 16);
  EXPECT_EQ(q.alloc_blocksize, 128);
  EXPECT_EQ(q.alloc_size, 384);
  EXPECT_EQ(q.alloc_elem_size, 2);
  EXPECT_EQ(q.alloc_blocks, 3);
  EXPECT_EQ(q.blocks_cap, 3);
  EXPECT_EQ(q.n_blocks, 3);
  EXPECT_EQ(q.qsize, 3);
  EXPECT_EQ(q.n_buckets, 3);
  EXPECT_EQ(q.elem_size, 2);
  EXPECT_EQ(q.elem_res, 5);
  EXPECT_EQ(q.blocksize, 48);  // the requested 6 x 4 window
  EXPECT_EQ(q.size, 144);
  EXPECT_EQ(q.window.x, 5);
  EXPECT_EQ(q.window.width, 6);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(q.blocks[i], q.matrix + i * 128);
  std::memset(q.matrix, 1, 384);  // the whole buffer is there (ASan)
}

TEST(Queue, SeparateBlocksAreBuffersOfTheirOwn) {
  FailingAllocator alloc;
  Queue b(true);
  const wn_window_t w{0, 0, 4, 4};
  ASSERT_EQ(mx_queue_alloc(&b.q, &w, 3, 4, 1), 0);
  EXPECT_EQ(alloc.requests(), 4);
  EXPECT_EQ(alloc.live_blocks(), 4);
  EXPECT_EQ(b.q.matrix, b.q.blocks[0]);
  EXPECT_EQ(b.q.alloc_blocksize, 64);
  EXPECT_EQ(b.q.alloc_size, 192);
  for (int i = 0; i < 3; ++i) std::memset(b.q.blocks[i], 2, 64);
  mx_queue_release(&b.q);
  expect_released(b.q);
  EXPECT_EQ(b.q.separate, 1);  // the layout choice outlives a release
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(Queue, AllocateRefusesBadParametersAfterReleasing) {
  FailingAllocator alloc;
  const wn_window_t w{0, 0, 8, 8};
  EXPECT_EQ(mx_queue_alloc(nullptr, &w, 1, 1, 1), ERR_INVALID_PARAM);
  mx_queue_clear(nullptr);

  struct Case {
    wn_window_t window;
    int n_blocks, elem_size, resolution;
  };
  const Case bad[] = {
      {w, 1, 0, 1},               // element size
      {w, 1, 1, 0},               // resolution
      {w, 0, 1, 1},               // block count
      {w, -2, 1, 1},              // block count
      {{0, 0, 0, 8}, 1, 1, 1},    // no bytes
      {{0, 0, -8, -8}, 1, 1, 1},  // negative, though the product is not
  };
  for (const Case& c : bad) {
    Queue b;
    ASSERT_EQ(mx_queue_alloc(&b.q, &w, 2, 1, 1), 0);
    EXPECT_EQ(mx_queue_alloc(&b.q, &c.window, c.n_blocks, c.elem_size, c.resolution),
              ERR_PARAM_OUT_OF_RANGE);
    expect_released(b.q);
    EXPECT_EQ(alloc.live_blocks(), 0);
  }
}

TEST(Queue, CountsBeyondTheRecordAreNoMemory) {
  FailingAllocator alloc;
  Queue b;
  // 32000 x 32000 x 4 bytes: far beyond what alloc_size can hold.
  const wn_window_t big{0, 0, 32000, 32000};
  EXPECT_EQ(mx_queue_alloc(&b.q, &big, 1, 4, 1), ERR_NO_MEM);
  expect_released(b.q);
  // One block past the 16-bit limit does not fit n_buckets.
  const wn_window_t small{0, 0, 4, 4};
  EXPECT_EQ(mx_queue_alloc(&b.q, &small, INT16_MAX + 1, 1, 1), ERR_NO_MEM);
  // Per block it fits, in all it does not.
  const wn_window_t mid{0, 0, 4096, 4096};
  EXPECT_EQ(mx_queue_alloc(&b.q, &mid, 200, 1, 1), ERR_NO_MEM);
  EXPECT_EQ(mx_queue_resize(&b.q, &mid, 200, 1, 1, true), ERR_NO_MEM);
  expect_released(b.q);
  EXPECT_EQ(alloc.requests(), 0);
  // alloc_win only describes the allocation: it is held at the 16-bit limit.
  const wn_window_t wide{0, 0, 8192, 1};
  ASSERT_EQ(mx_queue_alloc(&b.q, &wide, 1, 8, 1), 0);
  EXPECT_EQ(b.q.alloc_win.width, INT16_MAX);
  EXPECT_EQ(b.q.alloc_blocksize, 8192 * 4 * 8);
}

TEST(Queue, EveryAllocationOfAllocateMayFail) {
  for (const bool separate : {false, true}) {
    const int n = fail_each_allocation([&](FailingAllocator&) {
      mx_queue_t q{};
      q.separate = separate;
      const wn_window_t w{1, 1, 6, 6};
      const int rc = mx_queue_alloc(&q, &w, 3, 2, 1);
      if (rc == 0) {
        mx_queue_release(&q);
        return true;
      }
      EXPECT_EQ(rc, ERR_NO_MEM);
      expect_released(q);
      return false;
    });
    EXPECT_EQ(n, separate ? 4 : 2);
  }
}

TEST(Queue, ResizeKeepsASharedBufferLargeEnough) {
  FailingAllocator alloc;
  Queue b;
  const wn_window_t w{0, 0, 8, 8};
  ASSERT_EQ(mx_queue_alloc(&b.q, &w, 2, 1, 1), 0);  // 2 x 64 bytes
  uint8_t* buffer = b.q.matrix;

  // 4 blocks of 4 x 4 need 64 bytes: the buffer stays, the table grows.
  const wn_window_t small{1, 1, 2, 3};  // aligned: 0, 0, 4, 4
  ASSERT_EQ(mx_queue_resize(&b.q, &small, 4, 1, 2, true), 0);
  EXPECT_EQ(b.q.matrix, buffer);
  EXPECT_EQ(b.q.blocks_cap, 4);
  EXPECT_EQ(b.q.alloc_size, 128);  // the allocation fields describe the buffer
  EXPECT_EQ(b.q.alloc_blocks, 2);
  EXPECT_EQ(b.q.alloc_blocksize, 64);
  EXPECT_EQ(b.q.n_blocks, 4);
  EXPECT_EQ(b.q.n_buckets, 4);
  EXPECT_EQ(b.q.qsize, 4);
  EXPECT_EQ(b.q.blocksize, 6);
  EXPECT_EQ(b.q.size, 24);
  EXPECT_EQ(b.q.elem_res, 2);
  EXPECT_EQ(b.q.stored.width, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(b.q.blocks[i], buffer + 16 * i);

  // Without keep a larger buffer is replaced by one of the exact size.
  ASSERT_EQ(mx_queue_resize(&b.q, &small, 4, 1, 2, false), 0);
  EXPECT_EQ(b.q.alloc_size, 64);
  EXPECT_EQ(b.q.alloc_blocks, 4);
  // More than the buffer holds: allocated anew.
  ASSERT_EQ(mx_queue_resize(&b.q, &w, 3, 2, 1, true), 0);
  EXPECT_EQ(b.q.alloc_size, 384);

  // No bytes: released, and success.
  const wn_window_t none{0, 0, 0, 5};
  EXPECT_EQ(mx_queue_resize(&b.q, &none, 3, 2, 1, true), 0);
  expect_released(b.q);
  EXPECT_EQ(alloc.live_blocks(), 0);
  // From a cleared record it allocates.
  ASSERT_EQ(mx_queue_resize(&b.q, &w, 1, 1, 1, true), 0);
  EXPECT_EQ(b.q.alloc_size, 64);
}

TEST(Queue, ResizeOfSeparateBlocks) {
  FailingAllocator alloc;
  Queue b(true);
  const wn_window_t w{0, 0, 8, 8};
  ASSERT_EQ(mx_queue_alloc(&b.q, &w, 3, 1, 1), 0);
  uint8_t* first = b.q.blocks[0];
  const wn_window_t small{0, 0, 4, 8};
  // Fewer, smaller blocks with keep: every block stays.
  ASSERT_EQ(mx_queue_resize(&b.q, &small, 2, 1, 1, true), 0);
  EXPECT_EQ(b.q.blocks[0], first);
  EXPECT_EQ(b.q.n_blocks, 2);
  EXPECT_EQ(b.q.alloc_blocks, 3);
  EXPECT_EQ(b.q.size, 64);
  // More blocks than allocated: allocated anew.
  ASSERT_EQ(mx_queue_resize(&b.q, &small, 5, 1, 1, true), 0);
  EXPECT_EQ(b.q.alloc_blocks, 5);
  EXPECT_EQ(b.q.alloc_blocksize, 32);
  mx_queue_release(&b.q);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(Queue, ResizeRefusesBadParametersWithoutTouchingTheRecord) {
  FailingAllocator alloc;
  Queue b;
  const wn_window_t w{0, 0, 8, 8};
  ASSERT_EQ(mx_queue_alloc(&b.q, &w, 2, 1, 1), 0);
  EXPECT_EQ(mx_queue_resize(nullptr, &w, 1, 1, 1, true), ERR_INVALID_PARAM);
  EXPECT_EQ(mx_queue_resize(&b.q, &w, 1, 0, 1, true), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(mx_queue_resize(&b.q, &w, 1, 1, 0, true), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(mx_queue_resize(&b.q, &w, -1, 1, 1, true), ERR_PARAM_OUT_OF_RANGE);
  const wn_window_t neg{0, 0, -4, -4};
  EXPECT_EQ(mx_queue_resize(&b.q, &neg, 1, 1, 1, true), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(b.q.alloc_size, 128);
  EXPECT_NE(b.q.matrix, nullptr);
}

TEST(Queue, EveryAllocationOfResizeMayFail) {
  // Growing the block table of a kept shared buffer (the third request).
  const int grow = fail_each_allocation([](FailingAllocator&) {
    mx_queue_t q{};
    const wn_window_t w{0, 0, 8, 8};
    if (mx_queue_alloc(&q, &w, 1, 1, 1) != 0) {
      mx_queue_release(&q);
      return false;
    }
    const wn_window_t small{0, 0, 4, 4};
    const int rc = mx_queue_resize(&q, &small, 4, 1, 1, true);
    if (rc == 0) {
      EXPECT_EQ(q.blocks_cap, 4);
      mx_queue_release(&q);
      return true;
    }
    EXPECT_EQ(rc, ERR_NO_MEM);
    expect_released(q);
    return false;
  });
  EXPECT_EQ(grow, 3);

  // A separate queue asked for more blocks is allocated anew.
  const int anew = fail_each_allocation([](FailingAllocator& alloc) {
    mx_queue_t q{};
    q.separate = 1;
    const wn_window_t w{0, 0, 4, 4};
    if (mx_queue_alloc(&q, &w, 1, 1, 1) != 0) {
      mx_queue_release(&q);
      return false;
    }
    const int before = alloc.requests();
    const int rc = mx_queue_resize(&q, &w, 3, 1, 1, true);
    if (rc == 0) {
      EXPECT_EQ(alloc.requests() - before, 4);
      mx_queue_release(&q);
      return true;
    }
    EXPECT_EQ(rc, ERR_NO_MEM);
    expect_released(q);
    return false;
  });
  EXPECT_EQ(anew, 6);
}

TEST(Queue, ReallocateWithTheRecordsOwnParameters) {
  FailingAllocator alloc;
  Queue b;
  const wn_window_t w{2, 2, 5, 5};
  ASSERT_EQ(mx_queue_alloc(&b.q, &w, 2, 2, 3), 0);
  b.q.n_buckets = 3;
  ASSERT_EQ(mx_queue_realloc(&b.q), 0);
  EXPECT_EQ(b.q.n_blocks, 3);
  EXPECT_EQ(b.q.elem_size, 2);
  EXPECT_EQ(b.q.elem_res, 3);
  EXPECT_EQ(b.q.window.x, 2);
  EXPECT_EQ(b.q.window.width, 5);
  EXPECT_EQ(b.q.alloc_size, 3 * 8 * 8 * 2);
  b.q.qsize = 5;
  ASSERT_EQ(mx_queue_realloc_qsize(&b.q), 0);
  EXPECT_EQ(b.q.n_blocks, 5);
  EXPECT_EQ(b.q.n_buckets, 5);
  EXPECT_EQ(mx_queue_realloc(nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(mx_queue_realloc_qsize(nullptr), ERR_INVALID_PARAM);
  mx_queue_release(&b.q);
  EXPECT_EQ(alloc.live_blocks(), 0);

  // An allocation failing inside a re-allocation leaves the record released.
  for (const bool qsize : {false, true}) {
    const int n = fail_each_allocation([&](FailingAllocator& a) {
      mx_queue_t q{};
      if (mx_queue_alloc(&q, &w, 2, 2, 3) != 0 || a.requests() != 2) {
        mx_queue_release(&q);
        return false;
      }
      q.qsize = 4;
      const int rc = qsize ? mx_queue_realloc_qsize(&q) : mx_queue_realloc(&q);
      const bool ok = rc == 0;
      if (!ok) {
        EXPECT_EQ(rc, ERR_NO_MEM);
        expect_released(q);
      }
      mx_queue_release(&q);
      return ok;
    });
    EXPECT_EQ(n, 4);
  }
}

TEST(Queue, ZeroClearsEveryBlock) {
  for (const bool separate : {false, true}) {
    Queue b(separate);
    const wn_window_t w{0, 0, 3, 3};
    ASSERT_EQ(mx_queue_alloc(&b.q, &w, 3, 4, 1), 0);
    for (int i = 0; i < 3; ++i) std::memset(b.q.blocks[i], 0xAB, 64);
    mx_queue_zero(&b.q);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 64; ++j) ASSERT_EQ(b.q.blocks[i][j], 0) << i << " " << j;
    }
  }
  mx_queue_zero(nullptr);
}

TEST(Queue, RowPointersOfAWindowInsideABlock) {
  for (const bool separate : {false, true}) {
    Queue b(separate);
    const wn_window_t w{5, 6, 6, 5};  // stored: 4, 4, 8, 8
    ASSERT_EQ(mx_queue_alloc(&b.q, &w, 3, 2, 1), 0);
    uint8_t* rows[8] = {};
    const wn_window_t inner{6, 7, 2, 3};
    ASSERT_EQ(mx_queue_rows(&b.q, &inner, 2, rows), 0);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(rows[i], b.q.blocks[2] + (6 - 4) * 2 + (7 - 4 + i) * 8 * 2);
    }
    // The record's own window by default.
    ASSERT_EQ(mx_queue_rows(&b.q, nullptr, 0, rows), 0);
    EXPECT_EQ(rows[0], b.q.blocks[0] + 1 * 2 + 2 * 16);
    EXPECT_EQ(rows[4], b.q.blocks[0] + 1 * 2 + 6 * 16);

    EXPECT_EQ(mx_queue_rows(&b.q, &inner, 3, rows), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(mx_queue_rows(&b.q, &inner, -1, rows), ERR_PARAM_OUT_OF_RANGE);
    // Fewer blocks in the kept buffer: the table is larger than the count.
    ASSERT_EQ(mx_queue_resize(&b.q, &w, 2, 2, 1, true), 0);
    EXPECT_EQ(mx_queue_rows(&b.q, &inner, 2, rows), ERR_PARAM_OUT_OF_RANGE);
    const wn_window_t outside{2, 4, 4, 4};
    EXPECT_EQ(mx_queue_rows(&b.q, &outside, 0, rows), ERR_IMPROPER_WINDOW);
    EXPECT_EQ(mx_queue_rows(&b.q, &inner, 0, nullptr), ERR_INVALID_PARAM);
    mx_queue_release(&b.q);
    EXPECT_EQ(mx_queue_rows(&b.q, &inner, 0, rows), ERR_INVALID_PARAM);
  }
}

// ---- value lists

struct Bytes8 {
  int32_t a;
  float b;
};
struct Bytes12 {
  float a, b, c;
};

template <class T>
class ValueList : public ::testing::Test {};
using ListElements =
    ::testing::Types<uint8_t, uint16_t, int32_t, float, double, Bytes8, Bytes12, mx_xyv_t>;
TYPED_TEST_SUITE(ValueList, ListElements);

TYPED_TEST(ValueList, AllocateResizeRelease) {
  FailingAllocator alloc;
  mx_list_t<TypeParam> l{};
  EXPECT_EQ(mx_list_alloc(&l), ERR_PARAM_OUT_OF_RANGE);  // no count
  l.count = 10;
  ASSERT_EQ(mx_list_alloc(&l), 0);
  EXPECT_EQ(l.size, 10);
  std::memset(static_cast<void*>(l.data), 1, 10 * sizeof(TypeParam));

  TypeParam* before = l.data;
  ASSERT_EQ(mx_list_resize(&l, 4, true), 0);  // smaller, kept
  EXPECT_EQ(l.data, before);
  EXPECT_EQ(l.size, 10);
  EXPECT_EQ(l.count, 4);
  ASSERT_EQ(mx_list_resize(&l, 10, true), 0);  // fits again
  EXPECT_EQ(l.data, before);
  ASSERT_EQ(mx_list_resize(&l, 4, false), 0);  // not the size: replaced
  EXPECT_EQ(l.size, 4);
  ASSERT_EQ(mx_list_resize(&l, 4, false), 0);  // exactly the size: kept
  EXPECT_EQ(l.size, 4);
  ASSERT_EQ(mx_list_resize(&l, 3, false), 0);  // one element too many: replaced
  EXPECT_EQ(l.size, 3);
  ASSERT_EQ(mx_list_resize(&l, 9, true), 0);  // too small: replaced
  EXPECT_EQ(l.size, 9);
  EXPECT_EQ(l.count, 9);
  std::memset(static_cast<void*>(l.data), 2, 9 * sizeof(TypeParam));

  EXPECT_EQ(mx_list_resize(&l, -1, true), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(l.size, 9);
  ASSERT_EQ(mx_list_resize(&l, 0, true), 0);
  EXPECT_EQ(l.data, nullptr);
  EXPECT_EQ(l.size, 0);
  EXPECT_EQ(l.count, 0);

  ASSERT_EQ(mx_list_resize(&l, 3, true), 0);
  EXPECT_EQ(mx_list_resize(&l, int64_t{INT32_MAX} + 1, true), ERR_NO_MEM);
  EXPECT_EQ(l.data, nullptr);
  EXPECT_EQ(l.size, 0);
  EXPECT_EQ(l.count, 3);

  ASSERT_EQ(mx_list_resize(&l, 3, true), 0);
  mx_list_release(&l);
  EXPECT_EQ(l.data, nullptr);
  EXPECT_EQ(l.size, 0);
  EXPECT_EQ(l.count, 0);
  EXPECT_EQ(alloc.live_blocks(), 0);
  EXPECT_EQ(mx_list_alloc<TypeParam>(nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(mx_list_resize<TypeParam>(nullptr, 1, true), ERR_INVALID_PARAM);
  mx_list_release<TypeParam>(nullptr);
  mx_list_clear<TypeParam>(nullptr);
}

TYPED_TEST(ValueList, FailedAllocationsLeaveNoBuffer) {
  fail_each_allocation([](FailingAllocator&) {
    mx_list_t<TypeParam> l{};
    l.count = 7;
    const int rc = mx_list_alloc(&l);
    if (rc == 0) {
      mx_list_release(&l);
      return true;
    }
    EXPECT_EQ(rc, ERR_NO_MEM);
    EXPECT_EQ(l.data, nullptr);
    EXPECT_EQ(l.size, 0);
    return false;
  });
  // Resize that must replace its buffer: the old one is gone, the count
  // stays as it was.
  const int n = fail_each_allocation([](FailingAllocator&) {
    mx_list_t<TypeParam> l{};
    if (mx_list_resize(&l, 2, false) != 0) return false;
    const int rc = mx_list_resize(&l, 5, true);
    const bool ok = rc == 0;
    if (!ok) {
      EXPECT_EQ(rc, ERR_NO_MEM);
      EXPECT_EQ(l.data, nullptr);
      EXPECT_EQ(l.size, 0);
      EXPECT_EQ(l.count, 2);
    } else {
      EXPECT_EQ(l.count, 5);
    }
    mx_list_release(&l);
    return ok;
  });
  EXPECT_EQ(n, 2);
}

TEST(ValueList, BadPixelElementIsTwelveBytes) {
  mx_xyv_list_t l{};
  ASSERT_EQ(mx_list_resize(&l, 8192, true), 0);
  l.data[8191] = {639, 479, 0.0f};
  ASSERT_EQ(mx_list_resize(&l, 2, true), 0);  // the count shrinks, the room stays
  EXPECT_EQ(l.size, 8192);
  EXPECT_EQ(l.data[8191].x, 639);
  mx_list_release(&l);
}

// ---- pointer list

TEST(PointerList, EntriesAreOwnedByTheList) {
  FailingAllocator alloc;
  ptr_list_t l{};
  EXPECT_EQ(ptr_list_alloc(&l), ERR_PARAM_OUT_OF_RANGE);
  l.count = 3;
  ASSERT_EQ(ptr_list_alloc(&l), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(l.data[i], nullptr);
    l.data[i] = u_malloc_fn(16);
  }
  EXPECT_EQ(alloc.live_blocks(), 4);

  void* first = l.data[0];
  ASSERT_EQ(ptr_list_resize(&l, 5), 0);  // grows: entries kept, new ones null
  EXPECT_EQ(l.count, 5);
  EXPECT_EQ(l.data[0], first);
  EXPECT_EQ(l.data[4], nullptr);
  l.data[4] = u_malloc_fn(8);
  EXPECT_EQ(alloc.live_blocks(), 5);
  ASSERT_EQ(ptr_list_resize(&l, 1), 0);  // shrinks: entries beyond released
  EXPECT_EQ(l.count, 1);
  EXPECT_EQ(l.data[0], first);
  EXPECT_EQ(alloc.live_blocks(), 2);
  EXPECT_EQ(ptr_list_resize(&l, -1), ERR_PARAM_OUT_OF_RANGE);
  ASSERT_EQ(ptr_list_resize(&l, 0), 0);
  EXPECT_EQ(l.data, nullptr);
  EXPECT_EQ(l.count, 0);
  EXPECT_EQ(alloc.live_blocks(), 0);

  l.count = 2;
  ASSERT_EQ(ptr_list_alloc(&l), 0);
  l.data[1] = u_malloc_fn(4);
  ptr_list_release(&l);
  EXPECT_EQ(l.data, nullptr);
  EXPECT_EQ(l.count, 0);
  EXPECT_EQ(alloc.live_blocks(), 0);
  EXPECT_EQ(ptr_list_alloc(nullptr), ERR_INVALID_PARAM);
  EXPECT_EQ(ptr_list_resize(nullptr, 1), ERR_INVALID_PARAM);
  ptr_list_release(nullptr);
  ptr_list_clear(nullptr);
}

TEST(PointerList, FailedAllocationsReleaseTheList) {
  fail_each_allocation([](FailingAllocator&) {
    ptr_list_t l{};
    l.count = 4;
    const int rc = ptr_list_alloc(&l);
    if (rc == 0) {
      ptr_list_release(&l);
      return true;
    }
    EXPECT_EQ(rc, ERR_NO_MEM);
    EXPECT_EQ(l.data, nullptr);
    return false;
  });
  const int n = fail_each_allocation([](FailingAllocator&) {
    ptr_list_t l{};
    l.count = 2;
    if (ptr_list_alloc(&l) != 0) return false;
    l.data[0] = u_malloc_fn(4);
    if (l.data[0] == nullptr) {
      ptr_list_release(&l);
      return false;
    }
    const int rc = ptr_list_resize(&l, 6);
    const bool ok = rc == 0;
    if (!ok) {
      EXPECT_EQ(rc, ERR_NO_MEM);
      EXPECT_EQ(l.data, nullptr);  // the entries went with the table
    }
    ptr_list_release(&l);
    return ok;
  });
  EXPECT_EQ(n, 3);
}

// ---- typed containers

TEST(TypedVector, ElementSizesAndInvalidValues) {
  FailingAllocator alloc;
  struct Expect {
    int64_t size;
    uint64_t invalid;  // the bit pattern
  };
  const Expect expect[] = {
      {1, 0x7F},       {1, 0xFF},       {2, 0x7FFF},     {2, 0xFFFF},     {4, 0x7FFFFFFF},
      {4, 0xFFFFFFFF}, {4, 0x7FFFFFFF}, {4, 0xFFFFFFFF}, {4, 0x7F7FFFFF}, {8, 0x7FF0000000000000}};
  for (int32_t type = 0; type < 10; ++type) {
    tv_vector_t* v = tv_vector_create(5, type);
    ASSERT_NE(v, nullptr) << type;
    EXPECT_EQ(v->type, type);
    EXPECT_EQ(v->count, 5);
    EXPECT_EQ(v->alloc_count, 5);
    EXPECT_EQ(v->flags, 0);
    EXPECT_EQ(v->elem_size, expect[type].size);
    uint64_t bits = 0;
    std::memcpy(&bits, v->invalid, static_cast<std::size_t>(v->elem_size));
    EXPECT_EQ(bits, expect[type].invalid) << type;
    std::memset(v->data, 1, static_cast<std::size_t>(5 * v->elem_size));
    tv_vector_destroy(v);
  }
  tv_vector_t* f = tv_vector_create(1, TV_FLOAT);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(*static_cast<float*>(f->invalid), FLT_MAX);
  tv_vector_destroy(f);
  tv_vector_t* d = tv_vector_create(1, TV_DOUBLE);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(*static_cast<double*>(d->invalid), HUGE_VAL);
  tv_vector_destroy(d);

  EXPECT_EQ(tv_vector_create(5, 10), nullptr);
  EXPECT_EQ(tv_vector_create(5, -1), nullptr);
  EXPECT_EQ(tv_vector_create(0, TV_I8), nullptr);
  EXPECT_EQ(tv_vector_create(-3, TV_I8), nullptr);
  EXPECT_EQ(tv_vector_create(INT64_MAX / 2, TV_DOUBLE), nullptr);
  tv_vector_destroy(nullptr);
  EXPECT_EQ(alloc.live_blocks(), 0);

  tv_vector_t* z = tv_vector_create_zeroed(100, TV_I16);
  ASSERT_NE(z, nullptr);
  const auto* values = static_cast<const int16_t*>(z->data);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(values[i], 0);
  tv_vector_destroy(z);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(TypedMatrix, RowsAddressTheContiguousData) {
  FailingAllocator alloc;
  tv_matrix_t* m = tv_matrix_create_zeroed(3, 4, TV_U16);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->width, 3);
  EXPECT_EQ(m->height, 4);
  EXPECT_EQ(m->x, 0);
  EXPECT_EQ(m->y, 0);
  EXPECT_EQ(m->count, 12);
  EXPECT_EQ(m->alloc_count, 12);
  EXPECT_EQ(m->elem_size, 2);
  EXPECT_EQ(*static_cast<uint16_t*>(m->invalid), 0xFFFF);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m->rows[i], static_cast<uint8_t*>(m->data) + i * 6);
  }
  const auto* values = static_cast<const uint16_t*>(m->data);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(values[i], 0);
  static_cast<uint16_t*>(m->rows[3])[2] = 9;  // the last element
  EXPECT_EQ(values[11], 9);
  tv_matrix_destroy(m);
  tv_matrix_destroy(nullptr);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(TypedMatrix, NonPositiveOrOversizedDimensionsGiveNoMatrix) {
  FailingAllocator alloc;
  EXPECT_EQ(tv_matrix_create(-2, -3, TV_I32), nullptr);  // a positive product
  EXPECT_EQ(tv_matrix_create(0, 5, TV_I32), nullptr);
  EXPECT_EQ(tv_matrix_create(5, 0, TV_I32), nullptr);
  EXPECT_EQ(tv_matrix_create(5, -1, TV_I32), nullptr);
  EXPECT_EQ(tv_matrix_create(INT16_MAX + 1, 1, TV_I8), nullptr);
  for (tv_matrix_t* edge : {tv_matrix_create(INT16_MAX, 1, TV_I8), tv_matrix_create(1, INT16_MAX, TV_I8)}) {
    EXPECT_NE(edge, nullptr);  // the 16-bit limit itself
    tv_matrix_destroy(edge);
  }
  EXPECT_EQ(tv_matrix_create_zeroed(-2, -3, TV_I32), nullptr);
  EXPECT_EQ(tv_matrix_create(2, 2, 10), nullptr);
  EXPECT_EQ(alloc.live_blocks(), 0);
}

TEST(TypedContainers, EveryAllocationMayFail) {
  for (const bool zeroed : {false, true}) {
    const int nv = fail_each_allocation([&](FailingAllocator&) {
      tv_vector_t* v =
          zeroed ? tv_vector_create_zeroed(6, TV_FLOAT) : tv_vector_create(6, TV_FLOAT);
      tv_vector_destroy(v);
      return v != nullptr;
    });
    EXPECT_EQ(nv, 3);  // record, invalid value, data
    const int nm = fail_each_allocation([&](FailingAllocator&) {
      tv_matrix_t* m =
          zeroed ? tv_matrix_create_zeroed(4, 3, TV_DOUBLE) : tv_matrix_create(4, 3, TV_DOUBLE);
      tv_matrix_destroy(m);
      return m != nullptr;
    });
    EXPECT_EQ(nm, 4);  // and the row table
  }
}

// ---- row tables

TEST(RowTable, OneBlockOfPointersAndRows) {
  FailingAllocator alloc;
  void** rows = mx_alloc_row_table(3, 5, 2);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(alloc.live_blocks(), 1);
  auto* first = reinterpret_cast<uint8_t*>(rows + 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i], first + i * 10);
    std::memset(rows[i], i, 10);  // every row is inside the block (ASan)
  }
  u_free_fn(rows);
  EXPECT_EQ(mx_alloc_row_table(0, 5, 2), nullptr);
  EXPECT_EQ(mx_alloc_row_table(3, 0, 2), nullptr);
  EXPECT_EQ(mx_alloc_row_table(3, -5, -2), nullptr);
  EXPECT_EQ(mx_alloc_row_table(INT_MAX, INT_MAX, INT_MAX), nullptr);
  EXPECT_EQ(alloc.live_blocks(), 0);

  const int n = fail_each_allocation([](FailingAllocator&) {
    void** t = mx_alloc_row_table(2, 2, 2);
    if (t != nullptr) u_free_fn(t);
    return t != nullptr;
  });
  EXPECT_EQ(n, 1);
}

}  // namespace
