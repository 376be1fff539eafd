/// @file
/// Host utilities: the running program's path, the computer and user names,
/// directory creation. (Further host operations are declared in
/// common/host_utils.h.)
#pragma once

#include <cstddef>

/// Longest path the library forms or accepts, without the terminator.
constexpr int U_MAX_PATH = 260;

/// Full path of the running program in lower case, read once; "" when the
/// host does not give it or it is longer than U_MAX_PATH.
const char* u_module_path();

/// Copies the cached computer name (at most 15 characters) into `buffer` of
/// `length` bytes (terminator included; at most length - 1 characters are
/// copied). Returns 0, or 1 when the host did not give the name. Without a
/// buffer it only reports which.
int u_computer_name(char* buffer, int length);

/// The cached logon name: copied into `buffer` (of `size` bytes) and returned,
/// or, without a buffer, the cached text itself. Null when the host did not
/// give it or it does not fit.
const char* u_user_name(char* buffer, std::size_t size);

/// 0 when created, 17 when it already exists, -1 otherwise.
int u_make_dir(const char* path);

// ---- test seam: the once-only caches of the library (program path, names,
// directories) are computed again after a reset; overrides stand in for the
// host's values (null: ask the host).
/// Values that stand in for the host's after u_host_reset_caches; a null field
/// asks the host.
struct u_host_overrides_t {
  const char* module_path;    ///< Stands in for the running program's path.
  const char* computer_name;  ///< Stands in for the computer name.
  const char* user_name;      ///< Stands in for the logon name.
};
/// Test seam: the once-only caches of the library (program path, names,
/// directories) are computed again on next use, from `overrides` where they give
/// a value (null overrides: ask the host for all).
void u_host_reset_caches(const u_host_overrides_t* overrides);
