// Small helpers shared by every module.
#pragma once

#include <cstddef>

// Reverses the order of n bytes in place; n is 2, 4 or 8. Any other n is a
// programming error: it is logged and the process aborts.
void u_swap_bytes(void* value, int n);

// True when the path names an existing regular file. A directory or a null
// path does not count. The path may be a marked wide path (see
// u_is_wide_path).
bool u_file_exists(const char* path);

// A narrow path argument may instead point to a UTF-16 string whose first
// unit is 0xFEFF or 0xFFFE; the file operations then use the wide-character
// interface for the units that follow the marker.
bool u_is_wide_path(const char* path);
