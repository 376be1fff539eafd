#include <gtest/gtest.h>

#include "common/errors.h"
#include "data/records.h"
#include "support/log_capture.h"

namespace {

bool same(const wn_window_t& a, const wn_window_t& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

TEST(CompareWindows, RelationsInOrder) {
  const wn_window_t big{0, 0, 10, 10}, small{2, 2, 3, 3}, right{10, 0, 5, 5},
      overlap{8, 8, 5, 5}, empty{2, 2, 0, 3};
  EXPECT_EQ(wn_compare_windows(&big, &small), WN_CONTAINS);
  EXPECT_EQ(wn_compare_windows(&small, &big), WN_INSIDE);
  EXPECT_EQ(wn_compare_windows(&big, &big), WN_EQUAL);
  EXPECT_EQ(wn_compare_windows(&big, &right), WN_DISJOINT);  // touching edges share no pixel
  EXPECT_EQ(wn_compare_windows(&big, &overlap), WN_OVERLAP);
  EXPECT_EQ(wn_compare_windows(&empty, &big), WN_DISJOINT);
  EXPECT_EQ(wn_compare_windows(&empty, &empty), WN_DISJOINT);
}

TEST(IntersectWindows, CommonRectangleOrDisjoint) {
  const wn_window_t a{0, 0, 10, 10}, b{8, -2, 5, 5}, c{20, 20, 1, 1};
  wn_window_t out{};
  ASSERT_EQ(wn_intersect_windows(&a, &b, &out), 0);
  EXPECT_TRUE(same(out, {8, 0, 2, 3}));
  EXPECT_EQ(wn_intersect_windows(&a, &c, &out), ERR_WINDOWS_DISJOINT);
}

TEST(AlignWindows, CoverTheOldWindow) {
  wn_window_t w{5, -1, 6, 2};
  wn_align_x(&w);
  EXPECT_EQ(w.x, 4);
  EXPECT_EQ(w.width, 8);
  wn_align_y(&w);
  EXPECT_EQ(w.y, -4);
  EXPECT_EQ(w.height, 8);
  wn_window_t v{-1, 0, 2, 1};
  wn_align_x(&v);
  EXPECT_TRUE(same(v, {-4, 0, 8, 1}));
}

TEST(MapWindow, ScalesBetweenFrames) {
  const wn_window_t f640{0, 0, 640, 480}, f320{0, 0, 320, 240}, win{100, 50, 40, 20};
  wn_window_t out{};
  int fx = 9, fy = 9;
  ASSERT_EQ(wn_map_window(&f640, &win, &f320, &out, &fx, &fy), 0);
  EXPECT_TRUE(same(out, {50, 25, 20, 10}));
  EXPECT_EQ(fx, -2);
  EXPECT_EQ(fy, -2);
  ASSERT_EQ(wn_map_window(&f320, &out, &f640, &out, &fx, &fy), 0);
  EXPECT_TRUE(same(out, {100, 50, 40, 20}));
  EXPECT_EQ(fx, 2);

  // Widths scale, heights do not: one factor, centred vertically.
  const wn_window_t f640x400{0, 0, 640, 400};
  ASSERT_EQ(wn_map_window(&f320, &win, &f640x400, &out, &fx, &fy), 0);
  EXPECT_TRUE(same(out, {200, 100 + (400 - 480) / 2, 80, 40}));
  EXPECT_EQ(fy, 2);

  // Widths halve but heights do not shrink: refused.
  const wn_window_t f320x480{0, 0, 320, 480};
  EXPECT_EQ(wn_map_window(&f640, &win, &f320x480, &out, &fx, &fy), ERR_IMPROPER_WINDOW);

  felbrin::test::LogCapture log;
  const wn_window_t odd{0, 0, 300, 250};
  EXPECT_EQ(wn_map_window(&f640, &win, &odd, &out, &fx, &fy), ERR_IMPROPER_WINDOW);
  EXPECT_EQ(log.str(), "wn_map_window: cannot map windows\n");
  EXPECT_EQ(fx, 0);
  EXPECT_EQ(fy, 0);
}

TEST(MapWindow, EmptyOrMissingFramesAreRefused) {
  const wn_window_t frame{0, 0, 640, 480}, zero{0, 0, 0, 480}, win{1, 1, 2, 2};
  wn_window_t out{};
  int fx = 0, fy = 0;
  EXPECT_EQ(wn_map_window(&frame, &win, &zero, &out, &fx, &fy), ERR_INVALID_PARAM);
  EXPECT_EQ(wn_map_window(&zero, &win, &frame, &out, &fx, &fy), ERR_INVALID_PARAM);
  EXPECT_EQ(wn_map_window(nullptr, &win, &frame, &out, &fx, &fy), ERR_INVALID_PARAM);
}

TEST(SplitWindow, AroundTheMiddleOrAGivenColumn) {
  wn_window_t left{}, right{};
  ASSERT_EQ(wn_split_window(100, 30, 0, 4, &left, &right), 0);
  EXPECT_TRUE(same(left, {0, 0, 48, 30}));
  EXPECT_TRUE(same(right, {52, 0, 48, 30}));
  ASSERT_EQ(wn_split_window(100, 30, 40, -3, &left, &right), 0);
  EXPECT_TRUE(same(left, {0, 0, 40, 30}));
  EXPECT_TRUE(same(right, {40, 0, 60, 30}));

  felbrin::test::LogCapture log;
  EXPECT_EQ(wn_split_window(100, 30, 20, 4, &left, &right), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(log.str(), "Unreasonable split X coordinate = 20\n");
  EXPECT_EQ(wn_split_window(4, 30, 0, 10, &left, &right), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(wn_split_window(100, 30, 25, 0, &left, &right), 0);  // the quarters are reasonable
  EXPECT_EQ(wn_split_window(100, 30, 75, 0, &left, &right), 0);
}

}  // namespace
