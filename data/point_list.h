/// @file
/// Point-list text file: the converter's output. One count line, one
/// "x y scaled" line per valid pixel, then the offset and span lines that undo
/// the scaling (v = offset + scaled * span).
#pragma once

#include <cstdint>

#include "data/records.h"

/// Value statistics of a phase matrix window; positions are absolute.
struct mx_stats_t {
  int32_t pv;        ///< peak - valley
  int32_t peak;      ///< largest valid value
  int32_t valley;    ///< smallest valid value
  double mean;       ///< mean of the valid values
  int16_t peak_x;    ///< column of the first largest value
  int16_t peak_y;    ///< row of the first largest value
  int16_t valley_x;  ///< column of the first smallest value
  int16_t valley_y;  ///< row of the first smallest value
  int32_t npoints;   ///< number of valid pixels
};

/// Writes the valid pixels of a phase matrix as a point list, formatting on
/// one thread per processor. The file is replaced; on a failure after it was
/// opened it stays as written so far.
/// Errors: ERR_INVALID_PARAM, ERR_CANT_CREATE_FILE, ERR_CANT_WRITE_FILE,
/// ERR_IMPROPER_WINDOW, ERR_ALL_BAD_DATA, ERR_PEAKVAL_OVERFLOW, ERR_NO_MEM (the
/// threads' buffers; the file is then empty).
int df_write_point_list(const char* path, const mx_i32_t* phase);

/// Statistics over a window of the matrix (null: the matrix's own window),
/// which must lie inside the matrix's window or equal it. `stats` is cleared first.
/// Errors: ERR_INVALID_PARAM (null matrix or record, no buffer or one too small for
/// the window), ERR_IMPROPER_WINDOW (the window does not lie inside, or is empty),
/// ERR_ALL_BAD_DATA (no valid value), ERR_PEAKVAL_OVERFLOW (peak - valley does not
/// fit in 32 bits).
int mx_i32_stats(const mx_i32_t* m, const wn_window_t* window, mx_stats_t* stats);

/// One pointer per row of the window (null: the matrix's own window) to the
/// window's first column in that row; `rows` has room for every row.
/// Errors: ERR_INVALID_PARAM (null matrix or rows, no buffer), ERR_IMPROPER_WINDOW
/// (the window does not lie inside the matrix's window or equal it).
int mx_i32_rows(const mx_i32_t* m, const wn_window_t* window, int32_t** rows);
