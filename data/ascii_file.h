/// @file
/// ASCII data file: the text form of a data set. Format 2 is written; Formats
/// 1 (without line 14) and 2 are read. Lines end with the platform's line end
/// when written; both CR LF and LF are read on every platform.
#pragma once

#include "data/binary_file.h"
#include "data/records.h"

/// Writes the records as a Format 2 file, replacing any file of that name.
/// The source information and header are required, and at least one matrix.
/// Errors: ERR_INVALID_PARAM, ERR_CANT_CREATE_FILE, ERR_CANT_WRITE_FILE (the
/// file stays as written).
int df_write_ascii_file(const char* path, const df_source_info_t* source, const df_header_t* header,
                        const mx_bkt16_t* intensity, const mx_i32_t* phase);

/// Reads a Format 1 or 2 file into the records. The source information and
/// header are required and cleared first; the matrices are optional and follow
/// the reader's contract (null buffer or one of their own; released on
/// failure). A failure is logged as "-***- Error in Line %d -***-\n".
/// Errors: ERR_INVALID_PARAM, ERR_CANT_OPEN_FILE, ERR_UNKNOWN_ASCII_FORMAT_TYPE,
/// ERR_PREMATURE_EOF, ERR_CORRUPT_DATA_FILE, ERR_CANT_READ_FILE,
/// ERR_PARAM_OUT_OF_RANGE, ERR_NO_MEM.
int df_read_ascii_file(const char* path, df_source_info_t* source, df_header_t* header,
                       mx_bkt16_t* intensity, mx_i32_t* phase);
/// The same on an open stream (binary mode), from its current position.
int df_read_ascii_stream(std::FILE* stream, df_source_info_t* source, df_header_t* header,
                         mx_bkt16_t* intensity, mx_i32_t* phase);
