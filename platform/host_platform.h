// Host services behind the host utilities (common/host_utils.h): text
// conversion in the host's narrow encoding, processes, directory listing,
// volumes, the environment, initialisation files, the registry, version
// resources, the modules of the process and locks shared between processes.
// platform/posix/host_posix.cpp and platform/win32/host_win32.cpp implement
// them; where POSIX has no counterpart the call reports failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
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

// A program started with pipes to its standard input and output, for
// talking to a helper process line by line; its standard error is ours.
// Ending the object closes both pipes and waits for the program, which
// therefore must end when its input does.
class PipedProcess {
 public:
  PipedProcess() = default;
  ~PipedProcess();
  PipedProcess(const PipedProcess&) = delete;
  PipedProcess& operator=(const PipedProcess&) = delete;

  // Starts the program file with the arguments (no shell, no path search).
  // False when it cannot be started or one is already running.
  bool start(const std::string& program, const std::vector<std::string>& args);
  // False when the program has stopped reading.
  bool write(std::string_view text);
  // The next line of its output without the line end (LF or CR LF); false
  // at the end of its output.
  bool read_line(std::string& line);
  // Closes its input and waits for it to end; its exit code, -1 when it was
  // not started or the host cannot tell.
  int wait();

 private:
  void close_pipes();
  // The process and the parent's pipe ends: a process id and descriptors on
  // POSIX, handles on Win32; -1 when none.
  std::intptr_t process_ = -1;
  std::intptr_t to_child_ = -1;
  std::intptr_t from_child_ = -1;
  std::string pending_;
};

// ---- environment
// Sets a variable of the process environment to a copy of `value`, so the
// caller's buffer may go at once. On Win32 both the process block (what the
// system and other modules read) and the C runtime's copy (getenv) change.
// An empty value removes the variable, since the C runtime of Win32 cannot
// hold an empty one. False for a missing or empty name, or one with '='.
bool set_env(const char* name, const char* value);
// The variable's value; nothing when it is unset or empty.
std::optional<std::string> get_env(const char* name);

// ---- initialisation files ("[section]" headings, "key=value" lines)
// The longest value ini_value gives; longer ones are cut.
inline constexpr std::size_t kIniValueMax = 255;
// The value of `key` in `section` of the file, or `default_value` (trailing
// blanks removed) when the file, the section or the key is missing. Names
// compare without regard to ASCII case; blanks around keys and values do not
// count, nor do quotes around a whole value; of repeated sections or keys
// the first counts. A bare file name (no folder part) means a file in
// ini_dir(). On Win32 this is GetPrivateProfileString; on POSIX a reader of
// the same format, for LF and CR LF files alike, where ";" starts a comment
// line.
std::string ini_value(const char* file, const char* section, const char* key,
                      const char* default_value);
// The folder bare initialisation file names mean: the Windows directory on
// Win32, the environment variable SystemRoot, its stand-in, on POSIX; empty
// when there is none (then every bare name reads as missing).
std::string ini_dir();

// ---- a lock shared by every process of the machine, known by name
// Win32: a named mutex, owned by the thread that acquired it (release it on
// that thread). POSIX: flock on "/tmp/<name>.lock", the same file for every
// process and user whatever their TMPDIR. Either way the system drops the
// lock when its holder dies, and a lock so dropped counts as acquired by the
// next taker.
class NamedLock {
 public:
  NamedLock() = default;
  ~NamedLock() { release(); }
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Waits up to `timeout_ms` (for ever when negative) for the lock; true when
  // this object owns it. Asking again for the lock it holds answers at once,
  // without counting; asking for another name first releases the one held.
  // Another object on another thread waits as another process would; on
  // Win32 a second object on the holding thread gets the mutex at once.
  // Names are those of Win32 mutexes; an empty one, and on POSIX one with
  // '/', is refused.
  bool acquire(std::string_view name, int timeout_ms);
  void release();
  bool held() const { return handle_ != -1; }

 private:
  // The lock file's descriptor (POSIX) or the mutex handle (Win32); -1 when
  // not held.
  std::intptr_t handle_ = -1;
  std::string name_;
};

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
// Loads a shared library: a path with a folder as it stands; a bare name
// from the platform's library folders, never from the current folder
// (Win32: the system folder, the Windows folder, then the absolute folders
// of PATH in their order, the library's own dependencies from its folder and
// the system's; POSIX: the dynamic loader's own search, which does not look
// there unless LD_LIBRARY_PATH names it or holds an empty entry).
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
enum class ModuleScan {
  Ok,
  NoLibrary,
  NoEnumFunction,
  NoNameFunction,
  EnumFailed,
  TooMany,
  NameFailed
};
// Every loaded module except the program itself, up to `max` of them
// (TooMany when the process has more than `max`).
ModuleScan loaded_modules(std::vector<Module>& out, int max);

}  // namespace plat::host
