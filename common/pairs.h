/// @file
/// The coordinate pair file: a plain text file of two numbers per line, read
/// into and written from a pair table.
///
///     # comment lines begin with '#'
///     1.5, 2
///     3   4e-3
///
/// The numbers of a line are separated by blanks, tabs or commas; each field
/// has to begin with a number (the C library's syntax in the C locale) and
/// the rest of the field is ignored. Only the first 511 characters of a line
/// are looked at.
#pragma once

#include "common/pair_table.h"

/// Reads a pair file into `table`, replacing its pairs. 0; ERR_CANT_OPEN_FILE
/// (no message); ERR_CANT_READ_FILE with the messages logged and the table
/// emptied; ERR_INVALID_PARAM without a path or table.
int u_read_pairs(const char* path, u_pair_table_t* table);

/// Writes the table, one "%13.6g %13.6g" line per pair with the platform's
/// line end, through a temporary file that replaces `path` only when complete:
/// a failure leaves the old file as it was. 0, ERR_INVALID_PARAM without a path
/// or table, ERR_CANT_OPEN_FILE when the file cannot be written.
int u_write_pairs(const char* path, const u_pair_table_t* table);
