/// @file
/// Frame queues, value lists and typed containers.
///
/// These follow the matrix records: every buffer comes from and goes back to
/// the allocation hooks, and the record families have clear, allocate, resize
/// and release. Counts are checked in 64 bits: a zero or negative geometry is
/// ERR_PARAM_OUT_OF_RANGE (333), one that does not fit the record's fields is
/// ERR_NO_MEM (320), as is a failed allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/errors.h"
#include "data/records.h"

// ---- multi-block matrix: a queue of equally shaped blocks (frames)

/// Multi-block matrix: a queue of equally shaped blocks (frames), each covering one
/// window. The blocks share one buffer or, with `separate`, are buffers of their own.
struct mx_queue_t {
  int32_t alloc_size;       ///< bytes allocated in all
  wn_window_t alloc_win;    ///< the aligned window, each value times the element size
  int32_t alloc_blocks;     ///< blocks allocated
  int32_t alloc_blocksize;  ///< bytes per allocated block
  int32_t alloc_elem_size;  ///< element size the blocks were allocated for
  int32_t blocks_cap;       ///< entries of the block table
  int32_t separate;         ///< set: every block is a buffer of its own
  int32_t elem_size;        ///< bytes per element
  int32_t elem_res;         ///< resolution kept with the data, at least 1
  int32_t size;             ///< bytes in use: n_blocks * blocksize
  int32_t blocksize;        ///< bytes in use per block: elem_size * width * height
  int32_t n_blocks;         ///< blocks in use
  wn_window_t window;       ///< the requested window
  wn_window_t stored;       ///< the window the blocks were laid out for (aligned to 4)
  uint8_t* matrix;          ///< the shared buffer, or block 0 when separate
  uint8_t** blocks;         ///< one pointer per block
  int32_t qsize;            ///< the wanted number of blocks
  int16_t n_buckets;        ///< the number of blocks last allocated
};

/// Zeroes the record (a null record is ignored); releases nothing. The
/// `separate` flag is set by the caller between clear and allocate.
void mx_queue_clear(mx_queue_t* q);
/// Releases what the record holds, then allocates `n_blocks` blocks for the
/// window aligned to multiples of 4. Errors: ERR_INVALID_PARAM (null record or
/// window), ERR_PARAM_OUT_OF_RANGE (elem_size <= 0, resolution < 1,
/// n_blocks <= 0, an empty or negative window), ERR_NO_MEM (the record is
/// left released).
int mx_queue_alloc(mx_queue_t* q, const wn_window_t* window, int n_blocks, int elem_size,
                   int resolution);
/// Fits the record to a new geometry, keeping the buffers when they are large
/// enough (with `keep`, also when larger). A geometry of no bytes releases the
/// record and returns 0. A failure leaves the record released. Errors:
/// ERR_INVALID_PARAM (null record or window), ERR_PARAM_OUT_OF_RANGE (elem_size or
/// resolution <= 0, a negative block count or window), ERR_NO_MEM.
int mx_queue_resize(mx_queue_t* q, const wn_window_t* window, int n_blocks, int elem_size,
                    int resolution, bool keep);
/// Allocates anew with the record's own window, n_buckets blocks, element size
/// and resolution. Errors as mx_queue_alloc.
int mx_queue_realloc(mx_queue_t* q);
/// The same after setting n_buckets to qsize, allocating qsize blocks. Errors as
/// mx_queue_alloc.
int mx_queue_realloc_qsize(mx_queue_t* q);
/// Releases the buffers and the block table; the window, stored x and y, the
/// element size and resolution, n_blocks, qsize and n_buckets stay.
void mx_queue_release(mx_queue_t* q);
/// Sets every byte of every allocated block to zero.
void mx_queue_zero(mx_queue_t* q);
/// One pointer per row of `window` (null: the record's window) inside block
/// `k`; `rows` has room for every row. Errors: ERR_INVALID_PARAM (null record,
/// rows or no buffer), ERR_PARAM_OUT_OF_RANGE (k not below n_blocks),
/// ERR_IMPROPER_WINDOW (the window does not lie inside the stored window).
int mx_queue_rows(const mx_queue_t* q, const wn_window_t* window, int k, uint8_t** rows);

// ---- value lists: counted arrays of fixed-size elements
//
// The library's ten list families are mx_list_t over elements of 12, 12, 8,
// 8, 12, 4, 8, 1, 2 and 4 bytes; they differ in nothing else.

/// A value list: a counted array of elements of type T, owned by the record.
template <class T>
struct mx_list_t {
  int32_t size;   ///< elements allocated
  int32_t count;  ///< elements in use or wanted
  T* data;        ///< the elements; null without buffer
};

// The byte-level operations behind every list family; use the typed ones below.
namespace felbrin::detail {
/// A value list seen as bytes: where its fields lie and how large an element is.
struct list_bytes_t {
  int32_t* size;          ///< the list's `size`
  int32_t* count;         ///< the list's `count`
  void** data;            ///< the list's `data`
  std::size_t elem_size;  ///< bytes per element
};
/// mx_list_alloc on bytes.
int list_alloc(list_bytes_t list);
/// mx_list_resize on bytes.
int list_resize(list_bytes_t list, int64_t count, bool keep);
/// mx_list_release on bytes.
void list_release(list_bytes_t list);

/// The byte view of a typed list.
template <class T>
list_bytes_t list_bytes(mx_list_t<T>* list) {
  return {&list->size, &list->count, reinterpret_cast<void**>(&list->data), sizeof(T)};
}
}  // namespace felbrin::detail

/// Zeroes the list (a null list is ignored); releases nothing.
template <class T>
void mx_list_clear(mx_list_t<T>* list) {
  if (list != nullptr) *list = mx_list_t<T>{};
}

/// Allocates the list's `count` elements; an earlier buffer is not released. Errors:
/// ERR_INVALID_PARAM, ERR_PARAM_OUT_OF_RANGE (count <= 0), ERR_NO_MEM (the
/// list is left without a buffer: size 0, data null).
template <class T>
int mx_list_alloc(mx_list_t<T>* list) {
  return list == nullptr ? ERR_INVALID_PARAM
                         : felbrin::detail::list_alloc(felbrin::detail::list_bytes(list));
}

/// Makes room for `count` elements. A count of 0 releases the list. The buffer
/// is replaced (contents not kept) when too small or, without `keep`, when not
/// exactly the size; `count` is set last and stays unchanged on failure, when
/// the list is left without a buffer. Errors: ERR_INVALID_PARAM,
/// ERR_PARAM_OUT_OF_RANGE (negative count), ERR_NO_MEM.
template <class T>
int mx_list_resize(mx_list_t<T>* list, int64_t count, bool keep) {
  return list == nullptr
             ? ERR_INVALID_PARAM
             : felbrin::detail::list_resize(felbrin::detail::list_bytes(list), count, keep);
}

/// Releases the buffer; size and count become 0.
template <class T>
void mx_list_release(mx_list_t<T>* list) {
  if (list != nullptr) felbrin::detail::list_release(felbrin::detail::list_bytes(list));
}

/// The 12-byte point-and-value element (camera bad-pixel lists).
struct mx_xyv_t {
  int32_t x;  ///< column
  int32_t y;  ///< row
  float v;    ///< value at the point
};
static_assert(sizeof(mx_xyv_t) == 12);
/// A list of point-and-value elements.
using mx_xyv_list_t = mx_list_t<mx_xyv_t>;

// ---- pointer list: a table of `count` separately allocated blocks, each
// owned by the list (obtained through u_malloc_fn or u_calloc_fn).

/// A table of `count` separately allocated blocks, each owned by the list.
struct ptr_list_t {
  int32_t count;  ///< entries of the table
  void** data;    ///< the table; an entry is a block or null
};

/// Zeroes the list (a null list is ignored); releases nothing.
void ptr_list_clear(ptr_list_t* list);
/// Allocates a table of the list's `count` null entries; an earlier table is not released.
/// Errors: ERR_INVALID_PARAM, ERR_PARAM_OUT_OF_RANGE (count <= 0), ERR_NO_MEM.
int ptr_list_alloc(ptr_list_t* list);
/// Makes the table `count` entries long: entries up to the smaller count are
/// kept, entries beyond the new count are released, new entries are null. A
/// count of 0 releases the list. Errors: ERR_INVALID_PARAM, ERR_PARAM_OUT_OF_RANGE
/// (negative count), ERR_NO_MEM (the list is then released whole).
int ptr_list_resize(ptr_list_t* list, int64_t count);
/// Releases every entry and the table; count becomes 0.
void ptr_list_release(ptr_list_t* list);

// ---- typed containers

/// Element type codes and their invalid values.
enum tv_type_t : int32_t {
  TV_I8 = 0,      ///< signed 8-bit; invalid: 0x7F
  TV_U8 = 1,      ///< unsigned 8-bit; invalid: 0xFF
  TV_I16 = 2,     ///< signed 16-bit; invalid: 0x7FFF
  TV_U16 = 3,     ///< unsigned 16-bit; invalid: 0xFFFF
  TV_I32 = 4,     ///< signed 32-bit; invalid: 0x7FFFFFFF
  TV_U32 = 5,     ///< unsigned 32-bit; invalid: 0xFFFFFFFF
  TV_I32_B = 6,   ///< signed 32-bit; invalid: 0x7FFFFFFF (the second kind)
  TV_U32_B = 7,   ///< unsigned 32-bit; invalid: 0xFFFFFFFF (the second kind)
  TV_FLOAT = 8,   ///< float; invalid: the largest finite float
  TV_DOUBLE = 9,  ///< double; invalid: positive infinity
};

/// A typed vector, created and destroyed as a whole (tv_vector_create,
/// tv_vector_destroy); every buffer comes from the allocation hooks.
struct tv_vector_t {
  void* data;           ///< the elements
  int32_t type;         ///< element type code (tv_type_t)
  int64_t count;        ///< number of elements
  void* invalid;        ///< one element holding the type's invalid value
  uint8_t flags;        ///< 0 at creation
  int64_t alloc_count;  ///< elements allocated
  int64_t elem_size;    ///< bytes per element
};

/// A typed matrix, created and destroyed as a whole (tv_matrix_create,
/// tv_matrix_destroy); every buffer comes from the allocation hooks.
struct tv_matrix_t {
  void** rows;          ///< one pointer per row into `data`
  int32_t type;         ///< element type code (tv_type_t)
  int16_t x;            ///< first column; 0 at creation
  int16_t y;            ///< first row; 0 at creation
  int16_t width;        ///< number of columns
  int16_t height;       ///< number of rows
  int64_t count;        ///< width * height
  void* invalid;        ///< one element holding the type's invalid value
  uint8_t flags;        ///< 0 at creation
  void* data;           ///< the contiguous buffer
  int64_t alloc_count;  ///< elements allocated
  int64_t elem_size;    ///< bytes per element
};

/// A new vector of `count` elements of the type, or null (count <= 0, an
/// unknown type, a failed allocation). The contents are not initialised. The caller
/// owns the vector and releases it with tv_vector_destroy.
tv_vector_t* tv_vector_create(int64_t count, int32_t type);
/// The same with every element zero.
tv_vector_t* tv_vector_create_zeroed(int64_t count, int32_t type);
/// Releases the invalid-value buffer, the data and the record; null is ignored.
void tv_vector_destroy(tv_vector_t* v);

/// A new matrix of width x height elements, or null (width or height <= 0 or
/// above 32767, an unknown type, a failed allocation). The contents are not
/// initialised. The caller owns the matrix and releases it with tv_matrix_destroy.
tv_matrix_t* tv_matrix_create(int width, int height, int32_t type);
/// The same with every element zero.
tv_matrix_t* tv_matrix_create_zeroed(int width, int height, int32_t type);
/// Releases the invalid-value buffer, the data, the row table and the record; null is
/// ignored.
void tv_matrix_destroy(tv_matrix_t* m);

// ---- row tables

/// One block holding n row pointers followed by n rows of a * b bytes, pointer
/// i addressing row i; released with u_free_fn. Null when a count is 0 or
/// negative, too large, or the allocation fails.
void** mx_alloc_row_table(int n, int a, int b);
