/// @file
/// Host utilities: wide and narrow text, wide formatting for the wide-path
/// convention, registry and version-resource reads, drives and volumes, path
/// shortening, running programs, a directory listing with a read position and
/// a report of the modules loaded into the process.
///
/// Wide text is UTF-16 (char16_t). Narrow text is in the host's encoding: the
/// active code page on Windows, UTF-8 elsewhere. Operations that Windows alone
/// provides (registry, version resources, drive letters) report failure on
/// other hosts.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// ---- text conversion

/// Converts wide text into `buffer` of `size` bytes. Returns the count written
/// including the terminator, 0 on failure (null text, does not fit, not
/// convertible: the buffer then holds ""). With no buffer and size 0 it
/// returns the size needed.
int u_to_narrow(const char16_t* wide, char* buffer, int size);
/// Converts narrow text into `buffer` of `size` units; as u_to_narrow.
int u_to_wide(const char* narrow, char16_t* buffer, int size);

// ---- wide formatting

/// Counts the conversions of a printf-style format (a "%" followed by a blank
/// is not one, "%%" is literal text) and sets *wide to 1 when one of the "%s"
/// or "%S" arguments is a marked wide string, else 0. Returns the count, also
/// stored in *count, or -1 when the format holds a conversion u_wformat does
/// not support (then no argument is read). Either out argument may be null.
int u_wformat_check(va_list args, const char* format, int* count, int* wide);

/// Formats into `buffer` of `capacity` units as the standard formatter would,
/// with string arguments that may be marked wide: s, S take a string (a wide
/// one copied without its marker, a narrow one converted; at most 512
/// characters each; null counts as ""), c, C, d, i, o, u, x, X an integer,
/// e, E, f, g, G a double. Flags, width, precision, "*" and length modifiers
/// (hh, h, l, ll, L, I32, I64, j, z, t) are honoured. The result is marked
/// with 0xFFFE unless it already starts with a marker. Returns 0, or 1 when
/// the format has an unsupported conversion, holds other than `count`
/// conversions, or the result does not fit (the buffer then holds an empty
/// text).
int u_wformat(va_list args, int count, const char* format, char16_t* buffer, std::size_t capacity);

// ---- registry and version resources

/// The registry tree a key lies in.
enum class u_reg_root_t {
  classes_root,   ///< HKEY_CLASSES_ROOT.
  current_user,   ///< HKEY_CURRENT_USER.
  local_machine,  ///< HKEY_LOCAL_MACHINE.
  users           ///< HKEY_USERS.
};

/// Reads a text (REG_SZ) value into `buffer` of `size` bytes. 0 on success;
/// 1 when the key or value is missing, is not text, or does not fit with its
/// terminator. The buffer is always terminated.
int u_read_registry_string(u_reg_root_t root, const char* sub_key, const char* value_name,
                           char* buffer, std::size_t size);

/// Copies the "\\StringFileInfo\\040904b0\\InternalName" entry of the file's
/// version resource into `buffer` of `size` bytes. 0, or 1 when there is
/// none or it does not fit.
int u_file_internal_name(const char* path, char* buffer, std::size_t size);

/// A module and what is known of it: the caller fills `path`;
/// u_module_version fills `version` (major, minor, build, revision; -1 each
/// when unknown, the revision alone when only three parts are known).
struct u_module_info_t {
  const char* path;         ///< The module's file; filled by the caller.
  std::int32_t version[4];  ///< Major, minor, build and revision; -1 when unknown.
};
/// Reads the version of the module's file, or asks the module's DllGetVersion.
void u_module_version(void* module, u_module_info_t* info);

/// Logs the modules loaded into the process (name, version, size, time,
/// directory) through the log hook. Returns 0.
int u_log_loaded_modules();

// ---- drives, volumes and paths

/// The host's drive roots ("C:\\", "D:\\" ... each terminated, then a final
/// terminator; "/" on POSIX) in `buffer` of `size` bytes. Returns the length
/// without the final terminator, or 0 when the buffer is too small.
int u_logical_drives(int size, char* buffer);

/// The root of a path, after leading white space: "C:\\" of a drive path,
/// "\\\\server\\share\\" of a network path, "/" of an absolute POSIX path.
/// Returns 1, or 0 (buffer "") when there is none or it does not fit in
/// `size` bytes.
int u_path_root(const char* path, char* buffer, std::size_t size);

/// 0 when the volume holding the path answers; otherwise 2 (not found, no
/// root, any other error), 13 (access denied), 19 (invalid drive), 23 (too
/// many open files) or 1112 (no media). Never shows a host dialog.
int u_check_volume(const char* path);

/// Shortens a path for display: a file in the working directory becomes its
/// name, another becomes relative to the working directory when that is
/// strictly shorter. Returns 1, or 0 (buffer "") when the path has no file
/// name or the result does not fit in `size` bytes.
int u_relative_path(const char* path, char* buffer, std::size_t size);

// ---- programs

/// Runs the command line (leading blanks skipped) as a program in a new
/// console, or through the shell when it cannot be started as a program
/// ("cmd /c" on Windows, "/bin/sh -c" elsewhere), and waits for it. Show mode
/// 0 starts the window minimised, 2 hidden, anything else normal. Returns the
/// exit code, or the host's error number when neither could be started; the
/// two cannot be told apart.
int u_run_command(const char* command_line, int show_mode);

/// Starts the program without handing it our handles. With `wait` returns its
/// exit code (0 when it cannot be read), otherwise 0 at once; a start failure
/// returns the host's error number.
int u_start_process(const char* command_line, int show_mode, bool wait);

// ---- directory listing

/// The entry returned by u_dir_read. One record is shared by every list and
/// overwritten by each read.
struct u_dir_entry_t {
  std::int32_t index;          ///< 1 for the first entry
  std::int32_t record_length;  ///< length of the name
  std::int32_t name_length;    ///< length of the name
  const char* name;            ///< The entry's name, terminated.
};

/// The entry names of one directory with a read position.
struct u_dir_t;

/// Lists the directory (including "." and ".." when the host reports them),
/// in the host's order. Null when the path is not a directory or the list
/// cannot be built. The caller releases the list with u_dir_close.
u_dir_t* u_dir_open(const char* path);
/// The entry at the current position, then advances; null at the end.
const u_dir_entry_t* u_dir_read(u_dir_t* dir);
/// Moves to entry number `position` (0 is the first), or to the end when the
/// list is shorter; a negative position does nothing.
void u_dir_seek(u_dir_t* dir, long position);
/// The current position (0 before the first read).
long u_dir_tell(const u_dir_t* dir);
/// Releases the list; null is allowed.
void u_dir_close(u_dir_t* dir);

// ---- shared libraries

/// Loads a shared library. A bare name is looked for beside the running
/// program first, so that a program finds the library it was delivered with
/// before any other on the search path, then in the platform's library
/// folders, never in the current folder (Windows: the system folder, the
/// Windows folder and the absolute folders of PATH; Linux: the dynamic
/// loader's search); a name with a folder is loaded as it stands. `used`
/// (null: not wanted) receives the path of the file that was loaded, or the
/// name when none was. Returns the host's handle of the library, or null when
/// it cannot be loaded.
void* u_load_library(const std::string& name, std::string* used);
