// Window operations: compare, intersect, align, map between frames, split.
#include <algorithm>

#include "common/errors.h"
#include "common/hooks.h"
#include "data/records.h"

namespace {

bool is_empty(const wn_window_t& w) { return w.width <= 0 || w.height <= 0; }
int end_x(const wn_window_t& w) { return w.x + w.width; }  // one past the last column
int end_y(const wn_window_t& w) { return w.y + w.height; }

bool within(const wn_window_t& a, const wn_window_t& b) {
  return a.x >= b.x && a.y >= b.y && end_x(a) <= end_x(b) && end_y(a) <= end_y(b);
}

int16_t i16(int v) { return static_cast<int16_t>(v); }

// Rounds down to a multiple of 4, toward minus infinity (so -1 gives -4).
int floor4(int v) { return v & ~3; }

}  // namespace

int wn_compare_windows(const wn_window_t* a, const wn_window_t* b) {
  if (a == nullptr || b == nullptr) return 0;
  if (is_empty(*a) || is_empty(*b) || end_x(*a) <= b->x || end_x(*b) <= a->x || end_y(*a) <= b->y ||
      end_y(*b) <= a->y)
    return WN_DISJOINT;
  if (a->x == b->x && a->y == b->y && a->width == b->width && a->height == b->height)
    return WN_EQUAL;
  if (within(*a, *b)) return WN_INSIDE;
  if (within(*b, *a)) return WN_CONTAINS;
  return WN_OVERLAP;
}

int wn_intersect_windows(const wn_window_t* a, const wn_window_t* b, wn_window_t* out) {
  if (a == nullptr || b == nullptr || out == nullptr) return ERR_INVALID_PARAM;
  if (wn_compare_windows(a, b) == WN_DISJOINT) return ERR_WINDOWS_DISJOINT;
  const int x = std::max(a->x, b->x);
  const int y = std::max(a->y, b->y);
  out->x = i16(x);
  out->y = i16(y);
  out->width = i16(std::min(end_x(*a), end_x(*b)) - x);
  out->height = i16(std::min(end_y(*a), end_y(*b)) - y);
  return 0;
}

void wn_align_x(wn_window_t* w) {
  const int x = floor4(w->x);
  w->width = i16(floor4(w->x + w->width + 3) - x);
  w->x = i16(x);
}

void wn_align_y(wn_window_t* w) {
  const int y = floor4(w->y);
  w->height = i16(floor4(w->y + w->height + 3) - y);
  w->y = i16(y);
}

int wn_map_window(const wn_window_t* src_frame, const wn_window_t* src,
                  const wn_window_t* dst_frame, wn_window_t* out, int* x_factor, int* y_factor) {
  if (x_factor != nullptr) *x_factor = 0;
  if (y_factor != nullptr) *y_factor = 0;
  if (src_frame == nullptr || dst_frame == nullptr) return ERR_INVALID_PARAM;
  const int wa = src_frame->width, ha = src_frame->height;
  const int wb = dst_frame->width, hb = dst_frame->height;
  if (wa <= 0 || ha <= 0 || wb <= 0 || hb <= 0) return ERR_INVALID_PARAM;
  const int rw = std::max(wa, wb) % std::min(wa, wb);
  const int rh = std::max(ha, hb) % std::min(ha, hb);

  int x = 0, y = 0, w = 0, h = 0, fx = 0, fy = 0;
  if (src != nullptr) x = src->x, y = src->y, w = src->width, h = src->height;

  if (rw != 0 && rh != 0) {
    u_log_fn("wn_map_window: cannot map windows\n");
    return ERR_IMPROPER_WINDOW;
  }
  if (rw == 0 && rh == 0) {
    if (wb < wa) {
      if (hb >= ha) return ERR_IMPROPER_WINDOW;
      const int sx = wa / wb, sy = ha / hb;
      x /= sx, w /= sx, y /= sy, h /= sy;
      fx = -sx, fy = -sy;
    } else {
      if (hb < ha) return ERR_IMPROPER_WINDOW;
      const int sx = wb / wa, sy = hb / ha;
      x *= sx, w *= sx, y *= sy, h *= sy;
      fx = sx, fy = sy;
    }
  } else if (rw == 0) {  // widths scale evenly; centre vertically
    if (wa > wb) {
      const int f = wa / wb;
      x /= f, y /= f, w /= f, h /= f;
      y += (hb - ha / f) / 2;
      fx = fy = -f;
    } else {
      const int f = wb / wa;
      x *= f, y *= f, w *= f, h *= f;
      y += (hb - f * ha) / 2;
      fx = fy = f;
    }
  } else {  // heights scale evenly; centre horizontally
    if (ha > hb) {
      const int f = ha / hb;
      x /= f, y /= f, w /= f, h /= f;
      x += (wb - wa / f) / 2;
      fx = fy = -f;
    } else {
      const int f = hb / ha;
      x *= f, y *= f, w *= f, h *= f;
      x += (wb - f * wa) / 2;
      fx = fy = f;
    }
  }
  if (x_factor != nullptr) *x_factor = fx;
  if (y_factor != nullptr) *y_factor = fy;
  if (out != nullptr && src != nullptr) *out = wn_window_t{i16(x), i16(y), i16(w), i16(h)};
  return 0;
}

int wn_split_window(int width, int height, int split, int gap, wn_window_t* left,
                    wn_window_t* right) {
  int s = split;
  if (s <= 0) {
    s = width / 2;
  } else if (s < width / 4 || s > 3 * width / 4) {
    u_log_fn("Unreasonable split X coordinate = %d\n", s);
    return ERR_PARAM_OUT_OF_RANGE;
  }
  const int half = (std::max(gap, 0) + 1) / 2;
  const int left_w = s - half, right_w = width - s - half;
  if (left_w <= 0 || right_w <= 0) return ERR_PARAM_OUT_OF_RANGE;
  if (left != nullptr) *left = wn_window_t{0, 0, i16(left_w), i16(height)};
  if (right != nullptr) *right = wn_window_t{i16(s + half), 0, i16(right_w), i16(height)};
  return 0;
}
