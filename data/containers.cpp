// Frame queues, value lists and typed containers over the allocation hooks.
#include "data/containers.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

#include "common/errors.h"
#include "common/hooks.h"

namespace {

// Sizes handed to the hooks never come near this, so no byte count below can
// wrap when it is converted or multiplied by a pointer size.
constexpr int64_t kMaxBytes = INT64_MAX / 16;

void release_block(void* p) {
  if (p != nullptr) u_free_fn(p);
}

// The block table as a span over the entries that exist.
std::span<uint8_t*> block_table(const mx_queue_t* q) {
  if (q->blocks == nullptr || q->blocks_cap <= 0) return {};
  return {q->blocks, static_cast<std::size_t>(q->blocks_cap)};
}

wn_window_t aligned(const wn_window_t& w) {
  wn_window_t a = w;
  wn_align_x(&a);
  wn_align_y(&a);
  return a;
}

int64_t window_bytes(const wn_window_t& w, int elem_size) {
  return int64_t{w.width} * int64_t{w.height} * int64_t{elem_size};
}

// alloc_win only describes the allocation; a product beyond 16 bits is held
// at the limit rather than wrapped into a misleading value.
int16_t scaled16(int16_t v, int factor) {
  const int64_t p = int64_t{v} * factor;
  return static_cast<int16_t>(std::clamp<int64_t>(p, INT16_MIN, INT16_MAX));
}

// The geometry fields that allocate and resize both set.
void set_geometry(mx_queue_t* q, const wn_window_t& window, const wn_window_t& stored, int n_blocks,
                  int elem_size, int resolution) {
  q->stored = stored;
  q->window = window;
  q->elem_size = elem_size;
  q->elem_res = resolution;
  q->blocksize = static_cast<int32_t>(window_bytes(window, elem_size));
  q->size = static_cast<int32_t>(int64_t{q->blocksize} * n_blocks);
  q->n_blocks = n_blocks;
  q->qsize = n_blocks;
  q->n_buckets = static_cast<int16_t>(n_blocks);
}

bool negative(const wn_window_t& w) { return w.width < 0 || w.height < 0; }

}  // namespace

// ---- multi-block matrix

void mx_queue_clear(mx_queue_t* q) {
  if (q != nullptr) *q = mx_queue_t{};
}

void mx_queue_release(mx_queue_t* q) {
  if (q == nullptr) return;
  if (q->separate != 0) {
    for (uint8_t* block : block_table(q)) release_block(block);
  } else {
    release_block(q->matrix);
  }
  release_block(q->blocks);
  q->matrix = nullptr;
  q->blocks = nullptr;
  q->alloc_size = 0;
  q->alloc_win.width = q->alloc_win.height = 0;
  q->alloc_blocks = 0;
  q->alloc_blocksize = 0;
  q->alloc_elem_size = 0;
  q->blocks_cap = 0;
  q->size = 0;
  q->blocksize = 0;
  q->stored.width = q->stored.height = 0;
}

int mx_queue_alloc(mx_queue_t* q, const wn_window_t* window, int n_blocks, int elem_size,
                   int resolution) {
  if (q == nullptr || window == nullptr) return ERR_INVALID_PARAM;
  const wn_window_t requested = *window;  // the window may lie inside the record
  mx_queue_release(q);
  // `stored` is written with the rest on success, so that a refused
  // allocation leaves the record exactly as released.
  const wn_window_t stored = aligned(requested);
  if (elem_size <= 0 || resolution < 1 || n_blocks <= 0) return ERR_PARAM_OUT_OF_RANGE;
  if (negative(requested) || negative(stored)) return ERR_PARAM_OUT_OF_RANGE;
  const int64_t per_block = window_bytes(stored, elem_size);
  const int64_t total = per_block * n_blocks;
  if (total <= 0) return ERR_PARAM_OUT_OF_RANGE;
  if (total > INT32_MAX || n_blocks > INT16_MAX) return ERR_NO_MEM;

  const auto count = static_cast<std::size_t>(n_blocks);
  q->blocks = static_cast<uint8_t**>(u_calloc_fn(count, sizeof(uint8_t*)));
  if (q->blocks == nullptr) {
    mx_queue_release(q);
    return ERR_NO_MEM;
  }
  q->blocks_cap = n_blocks;
  const std::span<uint8_t*> blocks = block_table(q);
  if (q->separate != 0) {
    for (uint8_t*& block : blocks) {
      block = static_cast<uint8_t*>(u_malloc_fn(static_cast<std::size_t>(per_block)));
      if (block == nullptr) {
        mx_queue_release(q);
        return ERR_NO_MEM;
      }
    }
    q->matrix = blocks[0];
  } else {
    q->matrix = static_cast<uint8_t*>(u_malloc_fn(static_cast<std::size_t>(total)));
    if (q->matrix == nullptr) {
      mx_queue_release(q);
      return ERR_NO_MEM;
    }
    for (std::size_t i = 0; i < count; ++i) {
      blocks[i] = q->matrix + static_cast<std::ptrdiff_t>(i) * per_block;
    }
  }

  q->alloc_win = {scaled16(stored.x, elem_size), scaled16(stored.y, elem_size),
                  scaled16(stored.width, elem_size), scaled16(stored.height, elem_size)};
  q->alloc_elem_size = elem_size;
  q->alloc_size = static_cast<int32_t>(total);
  q->alloc_blocksize = static_cast<int32_t>(per_block);
  q->alloc_blocks = n_blocks;
  set_geometry(q, requested, stored, n_blocks, elem_size, resolution);
  return 0;
}

int mx_queue_resize(mx_queue_t* q, const wn_window_t* window, int n_blocks, int elem_size,
                    int resolution, bool keep) {
  if (q == nullptr || window == nullptr) return ERR_INVALID_PARAM;
  if (elem_size <= 0 || resolution <= 0) return ERR_PARAM_OUT_OF_RANGE;
  if (n_blocks < 0 || negative(*window)) return ERR_PARAM_OUT_OF_RANGE;
  const wn_window_t requested = *window;
  const wn_window_t stored = aligned(requested);
  const int64_t per_block = window_bytes(stored, elem_size);
  const bool separate = q->separate != 0;
  const int64_t needed = separate ? per_block : per_block * n_blocks;
  if (needed == 0 || n_blocks == 0) {
    mx_queue_release(q);
    return 0;
  }
  const int64_t available =
      q->matrix == nullptr ? 0 : (separate ? q->alloc_blocksize : q->alloc_size);
  if (needed > INT32_MAX || n_blocks > INT16_MAX || available < needed ||
      (available > needed && !keep) || (separate && q->alloc_blocks < n_blocks)) {
    return mx_queue_alloc(q, &requested, n_blocks, elem_size, resolution);
  }

  if (!separate && n_blocks > q->blocks_cap) {
    void* table = u_realloc_fn(q->blocks, static_cast<std::size_t>(n_blocks) * sizeof(uint8_t*));
    if (table == nullptr) {
      mx_queue_release(q);
      return ERR_NO_MEM;
    }
    q->blocks = static_cast<uint8_t**>(table);
    q->blocks_cap = n_blocks;
  }
  set_geometry(q, requested, stored, n_blocks, elem_size, resolution);
  if (!separate) {
    for (int i = 0; i < n_blocks; ++i) q->blocks[i] = q->matrix + i * per_block;
  }
  return 0;
}

int mx_queue_realloc(mx_queue_t* q) {
  if (q == nullptr) return ERR_INVALID_PARAM;
  const wn_window_t window = q->window;
  return mx_queue_alloc(q, &window, q->n_buckets, q->elem_size, q->elem_res);
}

int mx_queue_realloc_qsize(mx_queue_t* q) {
  if (q == nullptr) return ERR_INVALID_PARAM;
  // A qsize beyond n_buckets' range is refused by the allocation itself.
  if (q->qsize >= INT16_MIN && q->qsize <= INT16_MAX) q->n_buckets = static_cast<int16_t>(q->qsize);
  const wn_window_t window = q->window;
  return mx_queue_alloc(q, &window, q->qsize, q->elem_size, q->elem_res);
}

void mx_queue_zero(mx_queue_t* q) {
  if (q == nullptr) return;
  if (q->separate != 0) {
    for (uint8_t* block : block_table(q)) {
      if (block != nullptr) std::memset(block, 0, static_cast<std::size_t>(q->alloc_blocksize));
    }
  } else if (q->matrix != nullptr) {
    std::memset(q->matrix, 0, static_cast<std::size_t>(q->alloc_size));
  }
}

int mx_queue_rows(const mx_queue_t* q, const wn_window_t* window, int k, uint8_t** rows) {
  if (q == nullptr || rows == nullptr || q->blocks == nullptr) return ERR_INVALID_PARAM;
  if (k < 0 || k >= q->n_blocks || k >= q->blocks_cap) return ERR_PARAM_OUT_OF_RANGE;
  const wn_window_t w = window != nullptr ? *window : q->window;
  const int rel = wn_compare_windows(&w, &q->stored);
  if (rel != WN_EQUAL && rel != WN_INSIDE) return ERR_IMPROPER_WINDOW;
  const std::ptrdiff_t row_len = std::ptrdiff_t{q->stored.width} * q->elem_size;
  uint8_t* p = q->blocks[k] + std::ptrdiff_t{w.x - q->stored.x} * q->elem_size +
               std::ptrdiff_t{w.y - q->stored.y} * row_len;
  for (int i = 0; i < w.height; ++i, p += row_len) rows[i] = p;
  return 0;
}

// ---- value lists

namespace felbrin::detail {

namespace {

void drop_buffer(list_bytes_t l) {
  release_block(*l.data);
  *l.data = nullptr;
  *l.size = 0;
}

}  // namespace

int list_alloc(list_bytes_t l) {
  const int64_t n = *l.count;
  if (n <= 0) return ERR_PARAM_OUT_OF_RANGE;
  *l.size = 0;
  *l.data = u_malloc_fn(static_cast<std::size_t>(n) * l.elem_size);
  if (*l.data == nullptr) return ERR_NO_MEM;
  *l.size = static_cast<int32_t>(n);
  return 0;
}

int list_resize(list_bytes_t l, int64_t count, bool keep) {
  if (count < 0) return ERR_PARAM_OUT_OF_RANGE;
  if (count == 0) {
    list_release(l);
    return 0;
  }
  if (count > INT32_MAX) {
    drop_buffer(l);
    return ERR_NO_MEM;
  }
  const int64_t have = *l.data != nullptr ? *l.size : 0;
  if (have < count || (have != count && !keep)) {
    drop_buffer(l);
    *l.data = u_malloc_fn(static_cast<std::size_t>(count) * l.elem_size);
    if (*l.data == nullptr) return ERR_NO_MEM;
    *l.size = static_cast<int32_t>(count);
  }
  *l.count = static_cast<int32_t>(count);
  return 0;
}

void list_release(list_bytes_t l) {
  drop_buffer(l);
  *l.count = 0;
}

}  // namespace felbrin::detail

// ---- pointer list

namespace {

std::span<void*> entries(const ptr_list_t* list) {
  if (list->data == nullptr || list->count <= 0) return {};
  return {list->data, static_cast<std::size_t>(list->count)};
}

// Releases the entries and the table; the count stays for the caller to set.
void drop_table(ptr_list_t* list) {
  for (void* entry : entries(list)) release_block(entry);
  release_block(list->data);
  list->data = nullptr;
}

}  // namespace

void ptr_list_clear(ptr_list_t* list) {
  if (list != nullptr) *list = ptr_list_t{};
}

int ptr_list_alloc(ptr_list_t* list) {
  if (list == nullptr) return ERR_INVALID_PARAM;
  if (list->count <= 0) return ERR_PARAM_OUT_OF_RANGE;
  list->data =
      static_cast<void**>(u_calloc_fn(static_cast<std::size_t>(list->count), sizeof(void*)));
  return list->data == nullptr ? ERR_NO_MEM : 0;
}

int ptr_list_resize(ptr_list_t* list, int64_t count) {
  if (list == nullptr) return ERR_INVALID_PARAM;
  if (count < 0) return ERR_PARAM_OUT_OF_RANGE;
  if (count == 0) {
    ptr_list_release(list);
    return 0;
  }
  if (count > INT32_MAX) {
    drop_table(list);
    return ERR_NO_MEM;
  }
  if (list->data != nullptr && list->count == count) return 0;
  auto* table = static_cast<void**>(u_calloc_fn(static_cast<std::size_t>(count), sizeof(void*)));
  if (table == nullptr) {
    drop_table(list);
    return ERR_NO_MEM;
  }
  const std::span<void*> old = entries(list);
  const std::size_t kept = std::min(old.size(), static_cast<std::size_t>(count));
  std::copy_n(old.begin(), kept, table);
  for (void* entry : old.subspan(kept)) release_block(entry);
  release_block(list->data);
  list->data = table;
  list->count = static_cast<int32_t>(count);
  return 0;
}

void ptr_list_release(ptr_list_t* list) {
  if (list == nullptr) return;
  drop_table(list);
  list->count = 0;
}

// ---- typed containers

namespace {

// Bytes per element of a type code; 0 for an unknown code.
int64_t tv_elem_size(int32_t type) {
  switch (type) {
    case TV_I8:
    case TV_U8: return 1;
    case TV_I16:
    case TV_U16: return 2;
    case TV_I32:
    case TV_U32:
    case TV_I32_B:
    case TV_U32_B:
    case TV_FLOAT: return 4;
    case TV_DOUBLE: return 8;
    default: return 0;
  }
}

template <class T>
void put(void* buffer, T value) {
  std::memcpy(buffer, &value, sizeof value);
}

void store_invalid(void* buffer, int32_t type) {
  switch (type) {
    case TV_I8: put<int8_t>(buffer, INT8_MAX); break;
    case TV_U8: put<uint8_t>(buffer, UINT8_MAX); break;
    case TV_I16: put<int16_t>(buffer, INT16_MAX); break;
    case TV_U16: put<uint16_t>(buffer, UINT16_MAX); break;
    case TV_I32:
    case TV_I32_B: put<int32_t>(buffer, INT32_MAX); break;
    case TV_U32:
    case TV_U32_B: put<uint32_t>(buffer, UINT32_MAX); break;
    case TV_FLOAT: put<float>(buffer, std::numeric_limits<float>::max()); break;
    case TV_DOUBLE: put<double>(buffer, HUGE_VAL); break;
    default: break;
  }
}

void* allocate_bytes(int64_t n) { return u_malloc_fn(static_cast<std::size_t>(n)); }

// The parts both container kinds share: the element size, the invalid value
// and the data. False when any of them cannot be had.
template <class Rec>
bool build_common(Rec* r, int64_t count, int32_t type, bool zeroed) {
  r->type = type;
  r->count = count;
  r->elem_size = tv_elem_size(type);
  if (r->elem_size == 0) return false;  // ERR_BAD_PARAM: an unknown type code
  if (count > kMaxBytes / r->elem_size) return false;
  r->invalid = allocate_bytes(r->elem_size);
  if (r->invalid == nullptr) return false;
  r->data = allocate_bytes(count * r->elem_size);
  if (r->data == nullptr) return false;
  store_invalid(r->invalid, type);
  r->alloc_count = count;
  if (zeroed) std::memset(r->data, 0, static_cast<std::size_t>(count * r->elem_size));
  return true;
}

tv_vector_t* create_vector(int64_t count, int32_t type, bool zeroed) {
  if (count <= 0) return nullptr;
  auto* v = static_cast<tv_vector_t*>(u_calloc_fn(1, sizeof(tv_vector_t)));
  if (v == nullptr) return nullptr;
  if (!build_common(v, count, type, zeroed)) {
    tv_vector_destroy(v);
    return nullptr;
  }
  return v;
}

tv_matrix_t* create_matrix(int width, int height, int32_t type, bool zeroed) {
  if (width <= 0 || height <= 0 || width > INT16_MAX || height > INT16_MAX) return nullptr;
  auto* m = static_cast<tv_matrix_t*>(u_calloc_fn(1, sizeof(tv_matrix_t)));
  if (m == nullptr) return nullptr;
  m->width = static_cast<int16_t>(width);
  m->height = static_cast<int16_t>(height);
  if (!build_common(m, int64_t{width} * height, type, zeroed)) {
    tv_matrix_destroy(m);
    return nullptr;
  }
  m->rows = static_cast<void**>(allocate_bytes(int64_t{height} * int64_t{sizeof(void*)}));
  if (m->rows == nullptr) {
    tv_matrix_destroy(m);
    return nullptr;
  }
  const std::ptrdiff_t row_len = std::ptrdiff_t{width} * m->elem_size;
  auto* row = static_cast<uint8_t*>(m->data);
  for (void*& entry : std::span(m->rows, static_cast<std::size_t>(height))) {
    entry = row;
    row += row_len;
  }
  return m;
}

}  // namespace

tv_vector_t* tv_vector_create(int64_t count, int32_t type) {
  return create_vector(count, type, false);
}

tv_vector_t* tv_vector_create_zeroed(int64_t count, int32_t type) {
  return create_vector(count, type, true);
}

void tv_vector_destroy(tv_vector_t* v) {
  if (v == nullptr) return;
  release_block(v->invalid);
  release_block(v->data);
  u_free_fn(v);
}

tv_matrix_t* tv_matrix_create(int width, int height, int32_t type) {
  return create_matrix(width, height, type, false);
}

tv_matrix_t* tv_matrix_create_zeroed(int width, int height, int32_t type) {
  return create_matrix(width, height, type, true);
}

void tv_matrix_destroy(tv_matrix_t* m) {
  if (m == nullptr) return;
  release_block(m->invalid);
  release_block(m->data);
  release_block(m->rows);
  u_free_fn(m);
}

// ---- row tables

void** mx_alloc_row_table(int n, int a, int b) {
  if (n <= 0 || a <= 0 || b <= 0) return nullptr;
  const int64_t row = int64_t{a} * b;
  const int64_t table = int64_t{n} * int64_t{sizeof(void*)};
  if (row > (kMaxBytes - table) / n) return nullptr;
  auto* rows = static_cast<void**>(allocate_bytes(table + row * n));
  if (rows == nullptr) return nullptr;
  auto* p = reinterpret_cast<uint8_t*>(rows + n);
  for (void*& entry : std::span(rows, static_cast<std::size_t>(n))) {
    entry = p;
    p += row;
  }
  return rows;
}
