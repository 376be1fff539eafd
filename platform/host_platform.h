// Host services behind the host utilities (common/host_utils.h): text
// conversion in the host's narrow encoding, processes, directory listing,
// volumes, the registry, version resources and the modules of the process.
// platform/posix/host_posix.cpp and platform/win32/host_win32.cpp implement
// them; where POSIX has no counterpart the call reports failure.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::host {

// ---- narrow text in the host's encoding (Win32: the active code page,
// POSIX: UTF-8). False when the text cannot be converted.
bool narrow_to_wide(std::string_view text, std::u16string& out);
bool wide_to_narrow(std::u16string_view text, std::string& out);

// ---- files and directories (paths may be marked wide)
bool current_dir(std::string& out);
bool file_size_mtime(const char* path, std::int64_t& size, std::int64_t& mtime);
// What tells whether a file changed since it was last read: the modification
// time at the file system's own resolution (POSIX: nanoseconds since the
// epoch; Win32: 100 ns units since 1601), the change time on POSIX or the
// creation time on Win32 in the same units, and the size. Whole seconds are
// too coarse: a file rewritten within the second it was read would look
// unchanged.
struct FileStamp {
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  std::int64_t size = 0;
};
// False when the path names nothing or not a regular file.
bool file_stamp(const char* path, FileStamp& out);
// Local calendar time of a time stamp; false when it is out of range.
bool local_time(std::int64_t t, std::tm& out);
// Calls `add` with every entry name of the directory, in the host's order;
// stops when `add` answers false. False when the directory cannot be listed
// or `add` stopped it.
bool list_dir(const char* dir, const std::function<bool(const char* name)>& add);

// ---- volumes
// The host's list of drive roots, each terminated, with a final terminator;
// returns the length without that final terminator, 0 when it does not fit.
int logical_drives(char* buf, int size);
// 0 when the volume of `root` answers; otherwise 2, 13, 19, 23 or 1112.
int check_volume_root(const char* root);

// ---- processes
struct SpawnOptions {
  int show_mode = 1;         // Win32: 0 minimised, 2 hidden, else normal
  bool new_console = false;  // Win32 only
  bool inherit = false;      // handles / descriptors beyond the standard ones
  bool wait = false;
};
// Starts the command line as a program. Returns 0 or the host's error number;
// `exit_code` is set when waited (0 when the host cannot tell it).
int spawn(const std::string& cmdline, const SpawnOptions& options, int& exit_code);
// The same through the shell: "cmd /c" on Win32, "/bin/sh -c" on POSIX.
int spawn_shell(const std::string& cmdline, const SpawnOptions& options, int& exit_code);

// ---- registry, version resources, libraries
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users };
// True only for a REG_SZ value that fits `size` with its terminator; the
// buffer is always terminated.
bool read_registry_string(RegRoot root, const char* subkey, const char* value, char* buf,
                          std::size_t size);
// The "\\StringFileInfo\\040904b0\\InternalName" text of the file.
bool file_internal_name(const char* path, std::string& out);
// Major, minor, build and revision of the file's fixed version information
// (POSIX: the numeric ".so.X.Y.Z.W" suffix of the file name).
bool file_fixed_version(const char* path, std::int32_t v[4]);
// The module's exported DllGetVersion; v[3] is -1 without a packed version.
bool dll_get_version(void* module, std::int32_t v[4]);
// Major, minor, build and revision of the file's product version: on Win32
// the product version of its fixed version information; on POSIX the
// ".so.X.Y.Z.W" suffix, as above, of the file's real path (symbolic links
// followed), since a library is loaded through its unversioned link.
bool file_product_version(const char* path, std::int32_t v[4]);
void* load_library(const char* path);
void free_library(void* module);
// The address of a function or object exported by a loaded module; null
// when the module has no such name.
void* find_symbol(void* module, const char* name);
// The system error number of this thread's last failed load_library or
// find_symbol, for log lines that read alike on every host: 126 when the
// module could not be loaded, 127 when it lacks the name (on Win32 the
// system's own number, which is one of these two for those causes).
int library_error();
// The path of the file a loaded module was loaded from; a null module
// stands for the running program.
bool loaded_module_path(void* module, std::string& out);

// ---- modules loaded into the process
struct Module {
  void* handle;
  std::string path;
};
enum class ModuleScan { Ok, NoLibrary, NoEnumFunction, NoNameFunction, EnumFailed, TooMany, NameFailed };
// Every loaded module except the program itself, up to `max` of them
// (TooMany when the process has more than `max`).
ModuleScan loaded_modules(std::vector<Module>& out, int max);

}  // namespace plat::host
