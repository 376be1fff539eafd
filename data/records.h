/// @file
/// Measurement data-set records: windows and matrices placed on them.
///
/// Every record owns its buffer, obtained and released through the allocation
/// hooks. Each family has the same four operations: clear (zero the record,
/// release nothing), allocate for the current geometry, resize for a new
/// geometry, release (free the buffer; the window's x and y stay).
#pragma once

#include <cstdint>

/// A rectangle of camera pixels. An empty window has width or height 0.
struct wn_window_t {
  int16_t x;       ///< First column.
  int16_t y;       ///< First row.
  int16_t width;   ///< Number of columns.
  int16_t height;  ///< Number of rows.
};

/// Every phase value at or above this marks an invalid pixel.
constexpr int32_t MX_INVALID_I32 = 0x7FFFFFF8;

/// Phase matrix: width x height signed 32-bit values, row after row.
struct mx_i32_t {
  int32_t size;        ///< elements the buffer holds; 0 without buffer
  wn_window_t window;  ///< Where the matrix lies on the camera.
  int32_t* matrix;     ///< The values, owned by the record; null without buffer.
};

/// Intensity matrix: n_buckets frames of width x height unsigned 16-bit values.
struct mx_bkt16_t {
  int32_t size;        ///< Elements the buffer holds; 0 without buffer.
  wn_window_t window;  ///< Where each frame lies on the camera.
  int16_t n_buckets;   ///< Number of frames.
  int16_t aux;         ///< carried with the matrix, not interpreted
  uint16_t* matrix;    ///< The frames one after the other, owned by the record.
};

/// Unsigned 16-bit matrix: width x height values, row after row.
struct mx_u16_t {
  int32_t size;        ///< Elements the buffer holds; 0 without buffer.
  wn_window_t window;  ///< Where the matrix lies on the camera.
  uint16_t* matrix;    ///< The values, owned by the record; null without buffer.
};

/// Unsigned 32-bit matrix: width x height values, row after row.
struct mx_w32_t {
  int32_t size;        ///< Elements the buffer holds; 0 without buffer.
  wn_window_t window;  ///< Where the matrix lies on the camera.
  uint32_t* matrix;    ///< The values, owned by the record; null without buffer.
};

/// Unsigned 64-bit matrix: width x height values, row after row.
struct mx_w64_t {
  int32_t size;        ///< Elements the buffer holds; 0 without buffer.
  wn_window_t window;  ///< Where the matrix lies on the camera.
  uint64_t* matrix;    ///< The values, owned by the record; null without buffer.
};

/// Mask matrix: rows of stride bytes (width rounded up to a multiple of 4),
/// stored bottom-up; `size` counts bytes.
struct mx_mask8_t {
  int32_t size;        ///< Bytes the buffer holds; 0 without buffer.
  wn_window_t window;  ///< Where the mask lies on the camera.
  uint8_t bits;        ///< Selects the mask bits.
  uint8_t* matrix;     ///< The rows, bottom-up, owned by the record.
};

/// Compact 32-bit matrix without an origin.
struct mx_c32_t {
  int32_t size;      ///< Elements the buffer holds; 0 without buffer.
  int16_t width;     ///< Number of columns.
  int16_t height;    ///< Number of rows.
  uint32_t* matrix;  ///< The values row after row, owned by the record.
};

/// @name Matrix operations
/// Allocate and resize return 0, ERR_PARAM_OUT_OF_RANGE (333) for a zero or negative
/// element count, ERR_NO_MEM (320) when the allocation fails or the count does not fit
/// the record, ERR_INVALID_PARAM (242) for a null record. Resize with `keep` keeps a
/// larger buffer.
///@{

/// Zeroes the phase matrix record; releases nothing. A null record is ignored.
void mx_i32_clear(mx_i32_t* m);
/// Allocates a buffer for the current geometry (width x height); an earlier buffer is
/// not released. On ERR_NO_MEM the record is left without a buffer.
int mx_i32_alloc(mx_i32_t* m);
/// Fits the buffer to `window` and takes that geometry; the contents are kept
/// only when the buffer is not replaced. A geometry of no elements releases the buffer.
int mx_i32_resize(mx_i32_t* m, const wn_window_t* window, bool keep);
/// Widens the window to multiples of 4 (wn_align_x, wn_align_y) and resizes to it,
/// keeping a larger buffer.
int mx_i32_resize_aligned(mx_i32_t* m);
/// Frees the buffer; width and height become 0 (x and y stay).
void mx_i32_release(mx_i32_t* m);

/// Zeroes the intensity matrix record; releases nothing. A null record is ignored.
void mx_bkt16_clear(mx_bkt16_t* m);
/// Allocates a buffer for the current geometry (n_buckets x width x height); an earlier buffer is
/// not released. On ERR_NO_MEM the record is left without a buffer.
int mx_bkt16_alloc(mx_bkt16_t* m);
/// As mx_bkt16_alloc, with every value zero (pages the host hands out zeroed
/// are not touched, so an announced but sparse block costs no memory).
int mx_bkt16_alloc_zeroed(mx_bkt16_t* m);
/// Fits the buffer to `window` and `n_buckets` and takes that geometry; the contents are kept
/// only when the buffer is not replaced. A geometry of no elements releases the buffer.
int mx_bkt16_resize(mx_bkt16_t* m, const wn_window_t* window, int n_buckets, bool keep);
/// Frees the buffer; width, height and n_buckets become 0 (x and y stay).
void mx_bkt16_release(mx_bkt16_t* m);

/// Zeroes the matrix record; releases nothing. A null record is ignored.
void mx_u16_clear(mx_u16_t* m);
/// Allocates a buffer for the current geometry (width x height); an earlier buffer is
/// not released. On ERR_NO_MEM the record is left without a buffer.
int mx_u16_alloc(mx_u16_t* m);
/// Fits the buffer to `window` and takes that geometry; the contents are kept
/// only when the buffer is not replaced. A geometry of no elements releases the buffer.
int mx_u16_resize(mx_u16_t* m, const wn_window_t* window, bool keep);
/// Frees the buffer; width and height become 0 (x and y stay).
void mx_u16_release(mx_u16_t* m);

/// Zeroes the matrix record; releases nothing. A null record is ignored.
void mx_w32_clear(mx_w32_t* m);
/// Allocates a buffer for the current geometry (width x height); an earlier buffer is
/// not released. On ERR_NO_MEM the record is left without a buffer.
int mx_w32_alloc(mx_w32_t* m);
/// As mx_w32_alloc, with every value zero.
int mx_w32_alloc_zeroed(mx_w32_t* m);
/// Fits the buffer to `window` and takes that geometry; the contents are kept
/// only when the buffer is not replaced. A geometry of no elements releases the buffer.
int mx_w32_resize(mx_w32_t* m, const wn_window_t* window, bool keep);
/// Frees the buffer; width and height become 0 (x and y stay).
void mx_w32_release(mx_w32_t* m);

/// Zeroes the matrix record; releases nothing. A null record is ignored.
void mx_w64_clear(mx_w64_t* m);
/// Allocates a buffer for the current geometry (width x height); an earlier buffer is
/// not released. On ERR_NO_MEM the record is left without a buffer.
int mx_w64_alloc(mx_w64_t* m);
/// As mx_w64_alloc, with every value zero.
int mx_w64_alloc_zeroed(mx_w64_t* m);
/// Fits the buffer to `window` and takes that geometry; the contents are kept
/// only when the buffer is not replaced. A geometry of no elements releases the buffer.
int mx_w64_resize(mx_w64_t* m, const wn_window_t* window, bool keep);
/// Widens the window to multiples of 4 (wn_align_x, wn_align_y) and resizes to it,
/// keeping a larger buffer.
int mx_w64_resize_aligned(mx_w64_t* m);
/// Frees the buffer; width and height become 0 (x and y stay).
void mx_w64_release(mx_w64_t* m);

/// Zeroes the mask record; releases nothing. A null record is ignored.
void mx_mask8_clear(mx_mask8_t* m);
/// Allocates a buffer for the current geometry (stride x height bytes); an earlier buffer is
/// not released. On ERR_NO_MEM the record is left without a buffer.
int mx_mask8_alloc(mx_mask8_t* m);
/// Fits the buffer to `window` and takes that geometry; the contents are kept
/// only when the buffer is not replaced. A geometry of no elements releases the buffer.
int mx_mask8_resize(mx_mask8_t* m, const wn_window_t* window, bool keep);
/// Frees the buffer; width and height become 0 (x and y stay).
void mx_mask8_release(mx_mask8_t* m);
/// Bytes per stored row of a mask of this width.
int mx_mask8_stride(int width);
/// Address of element (x, y); rows are stored bottom-up.
uint8_t* mx_mask8_at(const mx_mask8_t* m, int x, int y);

/// Zeroes the matrix record; releases nothing. A null record is ignored.
void mx_c32_clear(mx_c32_t* m);
/// Allocates a buffer for the current geometry (width x height); an earlier buffer is
/// not released. On ERR_NO_MEM the record is left without a buffer.
int mx_c32_alloc(mx_c32_t* m);
/// Fits the buffer to width x height and takes that geometry; the contents are kept
/// only when the buffer is not replaced. A geometry of no elements releases the buffer.
int mx_c32_resize(mx_c32_t* m, int width, int height, bool keep);
/// Frees the buffer; width and height become 0.
void mx_c32_release(mx_c32_t* m);

/// Address of element (x, y) of a phase matrix; x and y are camera positions.
int32_t* mx_i32_at(const mx_i32_t* m, int x, int y);
/// Address of element (x, y) of a 16-bit matrix; x and y are camera positions.
uint16_t* mx_u16_at(const mx_u16_t* m, int x, int y);
///@}

// ---- window operations

/// Relation of window a to window b, as wn_compare_windows gives it.
enum wn_relation_t : int {
  WN_DISJOINT = 1,  ///< no shared pixel (an empty window shares none)
  WN_EQUAL = 2,     ///< the same rectangle
  WN_OVERLAP = 3,   ///< shared pixels, and neither lies inside the other
  WN_INSIDE = 4,    ///< a lies inside b
  WN_CONTAINS = 5,  ///< a contains b
};
/// Relation of window a to window b (wn_relation_t), tested in this order: disjoint,
/// equal, inside, contains, otherwise overlap. 0 when either window is null.
int wn_compare_windows(const wn_window_t* a, const wn_window_t* b);
/// The common rectangle of two windows into `out`: 0, ERR_WINDOWS_DISJOINT (445)
/// when they share no pixel, ERR_INVALID_PARAM (242) for a null argument.
int wn_intersect_windows(const wn_window_t* a, const wn_window_t* b, wn_window_t* out);
/// Widens the window so x is a multiple of 4 and the end column is one too.
void wn_align_x(wn_window_t* w);
/// Widens the window so y is a multiple of 4 and the end row is one too.
void wn_align_y(wn_window_t* w);
/// Maps a window between frames whose sizes are integer multiples or fractions
/// of each other; the factors are negative when the destination is smaller.
/// Errors: ERR_INVALID_PARAM (242) for a null or empty frame, ERR_IMPROPER_WINDOW
/// (231) when the frames' sizes are not multiples or fractions of each other, or
/// one frame is wider but not also taller than the other.
int wn_map_window(const wn_window_t* src_frame, const wn_window_t* src_window,
                  const wn_window_t* dst_frame, wn_window_t* out, int* x_factor, int* y_factor);
/// Splits a frame into a left and a right window around column `split`
/// (0 or less: the middle) with `gap` columns between them. ERR_PARAM_OUT_OF_RANGE
/// (333) when the split column lies outside the middle half of the width (also
/// logged) or a side would be left with no column.
int wn_split_window(int width, int height, int split, int gap, wn_window_t* left,
                    wn_window_t* right);
