/// @file
/// Installation directories and file lookup. Each directory can be set by an
/// environment variable (FB_INSTALL_DIR, FB_CONFIG_DIR, FB_RAMPS_DIR) and
/// otherwise follows from where the running program lies. Each is worked out
/// once per process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

/// The installation directory (FB_INSTALL_DIR); null when there is none.
const char* u_install_dir();
/// The configuration directory (FB_CONFIG_DIR); null when there is none.
const char* u_config_dir();
/// The ramps directory (FB_RAMPS_DIR); null when there is none. Created when it does
/// not exist (a failure to create is not reported).
const char* u_ramps_dir();

/// The per-computer file name: the computer name, a dot and `digit` (0-9),
/// for example "LAB7.1". "" for a digit outside 0-9. The text is overwritten
/// by the next call on the same thread.
const char* u_host_file_name(int digit);

/// Finds a file: an absolute name as it stands, otherwise in the working
/// directory and then in the configuration directory. On success *path points
/// at the full name (valid until the next lookup) and the result is 0.
/// ERR_CANT_READ_FILE (123): not found. ERR_CANT_OPEN_FILE (120): the
/// configuration directory is needed but unknown. ERR_INVALID_PARAM (242): no
/// name or no out argument (*path is then null).
int u_find_file(const char* name, const char** path);

/// The places u_find_file looks at for `name`, in its order: the name as it
/// stands when absolute, else in the working directory and then in the
/// configuration directory (left out while that is unknown). For messages
/// that say where a missing file was looked for; empty without a name.
std::vector<std::string> u_file_search_places(const char* name);

/// `dir` and `name` joined with the platform's separator.
std::string u_path_join(std::string_view dir, std::string_view name);

/// Test seam: the directories are worked out again on next use.
void u_dirs_reset();
