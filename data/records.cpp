// Allocation, resize and release of the matrix records. One template carries
// the shared rules; each family only says how it counts its elements.
#include <climits>
#include <cstdint>
#include <cstring>

#include "common/errors.h"
#include "common/hooks.h"
#include "data/records.h"

namespace {

// Element count of a geometry, in 64 bits so that no product overflows;
// -1 when a dimension is negative (two negatives must not make a count).
int64_t count_of(int width, int height, int layers = 1) {
  if (width < 0 || height < 0 || layers < 0) return -1;
  return int64_t{width} * int64_t{height} * int64_t{layers};
}

// Allocates `n` (> 0) elements through the hooks, after checking the count
// fits the record's 32-bit size field.
template <class T>
int allocate(int64_t n, T** out, bool zeroed = false) {
  *out = nullptr;
  if (n > INT32_MAX) return ERR_NO_MEM;
  const auto count = static_cast<std::size_t>(n);
  void* p = zeroed ? u_calloc_fn(count, sizeof(T)) : u_malloc_fn(count * sizeof(T));
  if (p == nullptr) return ERR_NO_MEM;
  *out = static_cast<T*>(p);
  return 0;
}

template <class Rec>
void release_buffer(Rec* m) {
  if (m->matrix != nullptr) u_free_fn(m->matrix);
  m->matrix = nullptr;
  m->size = 0;
}

// Allocate for the record's current geometry.
template <class Rec>
int alloc_record(Rec* m, int64_t n, bool zeroed = false) {
  if (m == nullptr) return ERR_INVALID_PARAM;
  if (n <= 0) return ERR_PARAM_OUT_OF_RANGE;  // the record stays as it is
  m->size = 0;
  const int rc = allocate(n, &m->matrix, zeroed);
  if (rc == 0) m->size = static_cast<int32_t>(n);
  return rc;
}

// The shared resize rule. `dims_ok` is false when a new dimension is
// negative; `store` writes the new geometry into the record.
template <class Rec, class Store>
int resize_record(Rec* m, bool dims_ok, int64_t n, bool keep, Store store) {
  if (!dims_ok) return ERR_PARAM_OUT_OF_RANGE;
  const int64_t have = m->matrix != nullptr ? m->size : 0;
  if (n == 0) {
    release_buffer(m);
    return 0;
  }
  if (have < n || (have > n && !keep)) {
    release_buffer(m);
    const int rc = allocate(n, &m->matrix);
    if (rc != 0) return rc;
    m->size = static_cast<int32_t>(n);
  }
  store();
  return 0;
}

bool dims_ok(const wn_window_t* w) { return w->width >= 0 && w->height >= 0; }

// The matrices whose element count is width x height of their window.
template <class Rec>
int plain_alloc(Rec* m, bool zeroed = false) {
  return alloc_record(m, m ? count_of(m->window.width, m->window.height) : 0, zeroed);
}

template <class Rec>
int plain_resize(Rec* m, const wn_window_t* w, bool keep) {
  if (m == nullptr || w == nullptr) return ERR_INVALID_PARAM;
  return resize_record(m, dims_ok(w), count_of(w->width, w->height), keep, [&] { m->window = *w; });
}

// Aligns the window to multiples of 4 and resizes to it, keeping a larger buffer.
template <class Rec>
int aligned_resize(Rec* m) {
  if (m == nullptr) return ERR_INVALID_PARAM;
  wn_window_t w = m->window;
  wn_align_x(&w);
  wn_align_y(&w);
  return plain_resize(m, &w, true);
}

template <class Rec>
void plain_release(Rec* m) {
  if (m == nullptr) return;
  release_buffer(m);
  m->window.width = m->window.height = 0;
}

template <class Rec>
void clear_record(Rec* m) {
  if (m != nullptr) *m = Rec{};
}

template <class Rec>
auto* element_at(const Rec* m, int x, int y) {
  return m->matrix +
         (static_cast<std::ptrdiff_t>(y - m->window.y) * m->window.width + (x - m->window.x));
}

}  // namespace

// ---- phase matrix

void mx_i32_clear(mx_i32_t* m) { clear_record(m); }
int mx_i32_alloc(mx_i32_t* m) { return plain_alloc(m); }
int mx_i32_resize(mx_i32_t* m, const wn_window_t* w, bool keep) { return plain_resize(m, w, keep); }
int mx_i32_resize_aligned(mx_i32_t* m) { return aligned_resize(m); }
void mx_i32_release(mx_i32_t* m) { plain_release(m); }
int32_t* mx_i32_at(const mx_i32_t* m, int x, int y) { return element_at(m, x, y); }

// ---- intensity (bucket) matrix

void mx_bkt16_clear(mx_bkt16_t* m) { clear_record(m); }

int mx_bkt16_alloc(mx_bkt16_t* m) {
  if (m == nullptr) return ERR_INVALID_PARAM;
  const int rc = alloc_record(m, count_of(m->window.width, m->window.height, m->n_buckets));
  if (rc == ERR_NO_MEM) m->window.width = m->window.height = m->n_buckets = 0;
  return rc;
}

int mx_bkt16_alloc_zeroed(mx_bkt16_t* m) {
  if (m == nullptr) return ERR_INVALID_PARAM;
  const int rc = alloc_record(m, count_of(m->window.width, m->window.height, m->n_buckets), true);
  if (rc == ERR_NO_MEM) m->window.width = m->window.height = m->n_buckets = 0;
  return rc;
}

int mx_bkt16_resize(mx_bkt16_t* m, const wn_window_t* w, int n_buckets, bool keep) {
  if (m == nullptr || w == nullptr) return ERR_INVALID_PARAM;
  return resize_record(m, dims_ok(w) && n_buckets >= 0 && n_buckets <= INT16_MAX,
                       count_of(w->width, w->height, n_buckets), keep, [&] {
                         m->window = *w;
                         m->n_buckets = static_cast<int16_t>(n_buckets);
                       });
}

void mx_bkt16_release(mx_bkt16_t* m) {
  if (m == nullptr) return;
  release_buffer(m);
  m->window.width = m->window.height = 0;
  m->n_buckets = 0;
}

// ---- 16-, 32- and 64-bit matrices

void mx_u16_clear(mx_u16_t* m) { clear_record(m); }
int mx_u16_alloc(mx_u16_t* m) { return plain_alloc(m); }
int mx_u16_resize(mx_u16_t* m, const wn_window_t* w, bool keep) { return plain_resize(m, w, keep); }
void mx_u16_release(mx_u16_t* m) { plain_release(m); }
uint16_t* mx_u16_at(const mx_u16_t* m, int x, int y) { return element_at(m, x, y); }

void mx_w32_clear(mx_w32_t* m) { clear_record(m); }
int mx_w32_alloc(mx_w32_t* m) { return plain_alloc(m); }
int mx_w32_alloc_zeroed(mx_w32_t* m) { return plain_alloc(m, true); }
int mx_w32_resize(mx_w32_t* m, const wn_window_t* w, bool keep) { return plain_resize(m, w, keep); }
void mx_w32_release(mx_w32_t* m) { plain_release(m); }

void mx_w64_clear(mx_w64_t* m) { clear_record(m); }
int mx_w64_alloc(mx_w64_t* m) { return plain_alloc(m); }
int mx_w64_alloc_zeroed(mx_w64_t* m) { return plain_alloc(m, true); }
int mx_w64_resize(mx_w64_t* m, const wn_window_t* w, bool keep) { return plain_resize(m, w, keep); }
int mx_w64_resize_aligned(mx_w64_t* m) { return aligned_resize(m); }
void mx_w64_release(mx_w64_t* m) { plain_release(m); }

// ---- mask matrix (byte rows, bottom-up)

int mx_mask8_stride(int width) { return (width + 3) & ~3; }

void mx_mask8_clear(mx_mask8_t* m) { clear_record(m); }

int mx_mask8_alloc(mx_mask8_t* m) {
  if (m == nullptr) return ERR_INVALID_PARAM;
  const int rc = alloc_record(m, count_of(mx_mask8_stride(m->window.width), m->window.height));
  if (rc == ERR_NO_MEM) m->window.width = m->window.height = 0;
  return rc;
}

int mx_mask8_resize(mx_mask8_t* m, const wn_window_t* w, bool keep) {
  if (m == nullptr || w == nullptr) return ERR_INVALID_PARAM;
  return resize_record(m, dims_ok(w), count_of(mx_mask8_stride(w->width), w->height), keep,
                       [&] { m->window = *w; });
}

void mx_mask8_release(mx_mask8_t* m) { plain_release(m); }

uint8_t* mx_mask8_at(const mx_mask8_t* m, int x, int y) {
  const int stride = mx_mask8_stride(m->window.width);
  return m->matrix + (x - m->window.x) +
         static_cast<std::ptrdiff_t>(stride) * (m->window.y + m->window.height - 1 - y);
}

// ---- compact 32-bit matrix

void mx_c32_clear(mx_c32_t* m) { clear_record(m); }
int mx_c32_alloc(mx_c32_t* m) { return alloc_record(m, m ? count_of(m->width, m->height) : 0); }
int mx_c32_resize(mx_c32_t* m, int width, int height, bool keep) {
  if (m == nullptr) return ERR_INVALID_PARAM;
  const bool ok = width >= 0 && height >= 0 && width <= INT16_MAX && height <= INT16_MAX;
  return resize_record(m, ok, count_of(width, height), keep, [&] {
    m->width = static_cast<int16_t>(width);
    m->height = static_cast<int16_t>(height);
  });
}
void mx_c32_release(mx_c32_t* m) {
  if (m == nullptr) return;
  release_buffer(m);
  m->width = m->height = 0;
}
