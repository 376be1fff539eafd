// Win32 back end of the host services.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/host_platform.h"
#include "platform/platform.h"

namespace plat::host {
namespace {

std::wstring wide(std::u16string_view units) { return {units.begin(), units.end()}; }

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

struct KeyCloser {
  void operator()(HKEY k) const { RegCloseKey(k); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct LibraryFreer {
  void operator()(HMODULE m) const { FreeLibrary(m); }
};
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// Function pointers found at run time; the cast goes through void* because
// FARPROC is a placeholder type.
template <class Fn>
Fn find_function(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The fixed part of a version resource, or null.
std::vector<char> version_resource(const char* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return {};
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path, 0, size, data.data())) return {};
  return data;
}

WORD show_command(int show_mode) {
  switch (show_mode) {
    case 0: return SW_SHOWMINIMIZED;
    case 2: return SW_HIDE;
    default: return SW_SHOWNORMAL;
  }
}

// The "*.*" search pattern inside a directory; a directory named by a
// trailing dot ("C:\\.", "C:.", ".") has that dot replaced.
std::u16string search_pattern(std::u16string dir) {
  const std::size_t n = dir.size();
  if (dir == u"." ||
      (n >= 2 && dir[n - 1] == u'.' && (dir[n - 2] == u'\\' || dir[n - 2] == u':'))) {
    dir.pop_back();
  } else if (n > 0 && dir[n - 1] != u'\\' && dir[n - 1] != u'/') {
    dir += u'\\';
  }
  return dir + u"*.*";
}

}  // namespace

bool narrow_to_wide(std::string_view text, std::u16string& out) {
  out.clear();
  if (text.empty()) return true;
  const int len = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), len, nullptr, 0);
  if (n <= 0) return false;
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), len, w.data(), n) != n) return false;
  out.assign(w.begin(), w.end());
  return true;
}

bool wide_to_narrow(std::u16string_view text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  const std::wstring w = wide(text);
  const int len = static_cast<int>(w.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.assign(static_cast<std::size_t>(n), '\0');
  return WideCharToMultiByte(CP_ACP, 0, w.data(), len, out.data(), n, nullptr, nullptr) == n;
}

bool current_dir(std::string& out) {
  const DWORD n = GetCurrentDirectoryA(0, nullptr);
  if (n == 0) return false;
  std::string buf(n, '\0');
  const DWORD got = GetCurrentDirectoryA(n, buf.data());
  if (got == 0 || got >= n) return false;
  buf.resize(got);
  out = buf;
  return true;
}

bool file_size_mtime(const char* path, std::int64_t& size, std::int64_t& mtime) {
  if (path == nullptr) return false;
  struct _stat64 st {};
  const int r =
      is_wide_marked(path) ? _wstat64(wide(wide_units(path)).c_str(), &st) : _stat64(path, &st);
  if (r != 0) return false;
  size = st.st_size;
  mtime = st.st_mtime;
  return true;
}

bool file_stamp(const char* path, FileStamp& out) {
  if (path == nullptr) return false;
  std::u16string units;
  if (is_wide_marked(path))
    units = wide_units(path);
  else if (!narrow_to_wide(path, units))
    return false;
  // The attributes call reads the FILETIMEs in their own 100 ns units; the
  // C runtime's stat would round them to seconds.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide(units).c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  const auto join = [](DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  };
  out.modified = join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  out.changed = join(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime);
  out.size = join(data.nFileSizeHigh, data.nFileSizeLow);
  return true;
}

bool local_time(std::int64_t t, std::tm& out) {
  const auto tt = static_cast<__time64_t>(t);
  return _localtime64_s(&out, &tt) == 0;
}

bool list_dir(const char* dir, const std::function<bool(const char*)>& add) {
  if (dir == nullptr) return false;
  const bool marked = is_wide_marked(dir);
  std::u16string units = marked ? wide_units(dir) : u"";
  if (!marked && !narrow_to_wide(dir, units)) return false;
  const std::wstring pattern = wide(search_pattern(units));

  WIN32_FIND_DATAW found{};
  const FindHandle find(FindFirstFileW(pattern.c_str(), &found));
  // A pattern that matches nothing is an empty directory, not a failure.
  if (find.get() == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring_view name = found.cFileName;
    std::string narrow;
    if (!wide_to_narrow(std::u16string(name.begin(), name.end()), narrow)) return false;
    if (!add(narrow.c_str())) return false;
  } while (FindNextFileW(find.get(), &found));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

int logical_drives(char* buf, int size) {
  if (buf == nullptr || size <= 0) return 0;
  const DWORD n = GetLogicalDriveStringsA(static_cast<DWORD>(size), buf);
  // Too small a buffer gives the size needed and no drives.
  if (n == 0 || n >= static_cast<DWORD>(size)) {
    buf[0] = '\0';
    return 0;
  }
  return static_cast<int>(n);
}

int check_volume_root(const char* root) {
  if (root == nullptr) return 2;
  // A drive without media must not bring up the "insert a disk" dialog.
  const UINT saved = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const BOOL ok = GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0);
  const DWORD err = ok ? 0 : GetLastError();
  SetErrorMode(saved);
  switch (err) {
    case 0: return 0;
    case ERROR_TOO_MANY_OPEN_FILES: return 23;
    case ERROR_ACCESS_DENIED: return 13;
    case ERROR_INVALID_DRIVE: return 19;
    case ERROR_NOT_READY: return 1112;
    default: return 2;
  }
}

int spawn(const std::string& cmdline, const SpawnOptions& options, int& exit_code) {
  std::string line = cmdline;  // CreateProcess may write into the command line
  std::string title = cmdline;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = show_command(options.show_mode);
  si.lpTitle = title.data();
  PROCESS_INFORMATION pi{};
  const DWORD flags = NORMAL_PRIORITY_CLASS | (options.new_console ? CREATE_NEW_CONSOLE : 0);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, options.inherit ? TRUE : FALSE, flags,
                      nullptr, nullptr, &si, &pi))
    return static_cast<int>(GetLastError());
  const Handle process(pi.hProcess);
  const Handle thread(pi.hThread);
  if (options.wait) {
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    exit_code = GetExitCodeProcess(process.get(), &code) ? static_cast<int>(code) : 0;
  }
  return 0;
}

int spawn_shell(const std::string& cmdline, const SpawnOptions& options, int& exit_code) {
  return spawn("cmd /c " + cmdline, options, exit_code);
}

bool read_registry_string(RegRoot root, const char* subkey, const char* value, char* buf,
                          std::size_t size) {
  if (buf == nullptr || size == 0) return false;
  buf[0] = '\0';
  HKEY base = HKEY_LOCAL_MACHINE;
  switch (root) {
    case RegRoot::ClassesRoot: base = HKEY_CLASSES_ROOT; break;
    case RegRoot::CurrentUser: base = HKEY_CURRENT_USER; break;
    case RegRoot::LocalMachine: base = HKEY_LOCAL_MACHINE; break;
    case RegRoot::Users: base = HKEY_USERS; break;
  }
  HKEY opened = nullptr;
  if (RegOpenKeyExA(base, subkey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  const Key key(opened);
  // Read into a buffer one larger than needed: the host does not promise a
  // terminator, so the text only counts when one fits.
  std::string data(size + 1, '\0');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(size);
  if (RegQueryValueExA(key.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &bytes) != ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  data.resize(bytes);
  while (!data.empty() && data.back() == '\0') data.pop_back();
  if (data.size() + 1 > size) return false;
  std::memcpy(buf, data.c_str(), data.size() + 1);
  return true;
}

bool file_internal_name(const char* path, std::string& out) {
  if (path == nullptr) return false;
  std::vector<char> data = version_resource(path);
  if (data.empty()) return false;
  char* text = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(data.data(), "\\StringFileInfo\\040904b0\\InternalName",
                      reinterpret_cast<void**>(&text), &len) ||
      text == nullptr)
    return false;
  out.assign(text, strnlen(text, len));
  return true;
}

namespace {

// The fixed version information of the file, or false.
bool fixed_file_info(const char* path, VS_FIXEDFILEINFO& out) {
  if (path == nullptr) return false;
  std::vector<char> data = version_resource(path);
  if (data.empty()) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &len) ||
      info == nullptr || len < sizeof *info || info->dwSignature != 0xFEEF04BD)
    return false;
  out = *info;
  return true;
}

void split_version(DWORD ms, DWORD ls, std::int32_t v[4]) {
  v[0] = HIWORD(ms);
  v[1] = LOWORD(ms);
  v[2] = HIWORD(ls);
  v[3] = LOWORD(ls);
}

}  // namespace

bool file_fixed_version(const char* path, std::int32_t v[4]) {
  VS_FIXEDFILEINFO info{};
  if (!fixed_file_info(path, info)) return false;
  split_version(info.dwFileVersionMS, info.dwFileVersionLS, v);
  return true;
}

bool file_product_version(const char* path, std::int32_t v[4]) {
  VS_FIXEDFILEINFO info{};
  if (!fixed_file_info(path, info)) return false;
  split_version(info.dwProductVersionMS, info.dwProductVersionLS, v);
  return true;
}

bool dll_get_version(void* module, std::int32_t v[4]) {
  if (module == nullptr) return false;
  // DLLVERSIONINFO2: the 32-byte record with the packed 64-bit version.
  struct VersionInfo2 {
    DWORD cbSize, dwMajorVersion, dwMinorVersion, dwBuildNumber, dwPlatformID, dwFlags;
    ULONGLONG ullVersion;
  };
  static_assert(sizeof(VersionInfo2) == 32);
  using DllGetVersionFn = HRESULT(CALLBACK*)(VersionInfo2*);
  const auto get = find_function<DllGetVersionFn>(static_cast<HMODULE>(module), "DllGetVersion");
  if (get == nullptr) return false;
  VersionInfo2 info{};
  info.cbSize = sizeof info;
  if (FAILED(get(&info))) return false;
  if (info.ullVersion != 0) {
    for (int k = 0; k < 4; ++k)
      v[k] = static_cast<std::int32_t>((info.ullVersion >> (48 - 16 * k)) & 0xFFFF);
  } else {
    v[0] = static_cast<std::int32_t>(info.dwMajorVersion);
    v[1] = static_cast<std::int32_t>(info.dwMinorVersion);
    v[2] = static_cast<std::int32_t>(info.dwBuildNumber);
    v[3] = -1;
  }
  return true;
}

// Kept at once, since whatever runs between the failure and the caller's
// log line may change the thread's last error.
thread_local int t_library_error = 0;

namespace {

// The folders a bare library name is looked for in, in order: the system
// folder, the Windows folder and the absolute folders of PATH. The current
// folder is never one of them, nor is a relative PATH entry (".").
std::vector<std::wstring> library_folders() {
  std::vector<std::wstring> folders;
  wchar_t buf[MAX_PATH + 1];
  if (const UINT n = GetSystemDirectoryW(buf, MAX_PATH + 1); n > 0 && n <= MAX_PATH)
    folders.emplace_back(buf, n);
  if (const UINT n = GetWindowsDirectoryW(buf, MAX_PATH + 1); n > 0 && n <= MAX_PATH)
    folders.emplace_back(buf, n);
  const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  std::wstring path(size, L'\0');
  if (size == 0 || GetEnvironmentVariableW(L"PATH", path.data(), size) != size - 1) return folders;
  path.resize(size - 1);
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring folder = path.substr(start, end - start);
    std::erase(folder, L'"');
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    const bool drive =
        folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/');
    const bool unc = folder.size() >= 3 && folder[0] == L'\\' && folder[1] == L'\\';
    if (drive || unc) folders.push_back(std::move(folder));
    start = end + 1;
  }
  return folders;
}

HMODULE load_bare(const std::wstring& name) {
  DWORD error = ERROR_MOD_NOT_FOUND;
  for (std::wstring folder : library_folders()) {
    if (folder.back() != L'\\') folder += L'\\';
    const std::wstring full = folder + name;
    const DWORD attrs = GetFileAttributesW(full.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // Its own dependencies from its own folder, then the system's folders:
    // the current folder is not searched for them either. A system without
    // these search flags refuses them; it gets the library's folder first.
    HMODULE module = LoadLibraryExW(
        full.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
      module = LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module != nullptr) return module;
    // Found but not loadable (another architecture, a dependency missing):
    // that is the reason to report, not that nothing was found.
    error = GetLastError();
  }
  SetLastError(error);
  return nullptr;
}

}  // namespace

void* load_library(const char* path) {
  if (path == nullptr) {
    t_library_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  std::u16string units;
  if (is_wide_marked(path)) {
    units = wide_units(path);
  } else if (!narrow_to_wide(path, units)) {
    t_library_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  const std::wstring name = wide(units);
  HMODULE module = name.find_first_of(L"\\/:") == std::wstring::npos ? load_bare(name)
                                                                     : LoadLibraryW(name.c_str());
  if (module == nullptr) t_library_error = static_cast<int>(GetLastError());
  return module;
}

void free_library(void* module) {
  if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

void* find_symbol(void* module, const char* name) {
  if (module == nullptr || name == nullptr) {
    t_library_error = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  void* symbol = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
  if (symbol == nullptr) t_library_error = static_cast<int>(GetLastError());
  return symbol;
}

int library_error() { return t_library_error; }

bool loaded_module_path(void* module, std::string& out) {
  // Room for the longest path, so that a long path is not taken for a
  // missing one.
  std::wstring buf(32768, L'\0');
  const DWORD n =
      GetModuleFileNameW(static_cast<HMODULE>(module), buf.data(), static_cast<DWORD>(buf.size()));
  if (n == 0 || n >= buf.size()) return false;
  const std::u16string units(buf.begin(), buf.begin() + n);
  return wide_to_narrow(units, out);
}

ModuleScan loaded_modules(std::vector<Module>& out, int max) {
  out.clear();
  using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
  using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  const Library psapi(LoadLibraryA("PSAPI.DLL"));
  if (!psapi) return ModuleScan::NoLibrary;
  const auto enum_modules = find_function<EnumProcessModulesFn>(psapi.get(), "EnumProcessModules");
  if (enum_modules == nullptr) return ModuleScan::NoEnumFunction;
  const auto module_name =
      find_function<GetModuleFileNameExAFn>(psapi.get(), "GetModuleFileNameExA");
  if (module_name == nullptr) return ModuleScan::NoNameFunction;

  std::vector<HMODULE> modules(static_cast<std::size_t>(max));
  DWORD needed = 0;
  const HANDLE self = GetCurrentProcess();
  if (!enum_modules(self, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                    &needed))
    return ModuleScan::EnumFailed;
  const std::size_t count = needed / sizeof(HMODULE);
  if (count > modules.size()) return ModuleScan::TooMany;
  // The first module is the program itself.
  for (std::size_t i = 1; i < count; ++i) {
    char path[MAX_PATH + 1];
    const DWORD n = module_name(self, modules[i], path, MAX_PATH);
    if (n == 0) {
      out.clear();
      return ModuleScan::NameFailed;
    }
    out.push_back(Module{modules[i], std::string(path, n)});
  }
  return ModuleScan::Ok;
}

// ---- piped processes

namespace {

void close_handle(std::intptr_t& h) {
  if (h != -1) CloseHandle(reinterpret_cast<HANDLE>(h));
  h = -1;
}

// One argument of a command line as the C runtime of the child splits it
// again: quoted, with inner quotes and the backslashes before them escaped.
std::string quoted(const std::string& arg) {
  std::string out = "\"";
  std::size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
    } else {
      out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
      slashes = 0;
    }
    if (c != '\\') out += c;
  }
  out.append(slashes * 2, '\\');
  return out + '"';
}

}  // namespace

PipedProcess::~PipedProcess() { wait(); }

void PipedProcess::close_pipes() {
  close_handle(to_child_);
  close_handle(from_child_);
}

bool PipedProcess::start(const std::string& program, const std::vector<std::string>& args) {
  if (process_ != -1) return false;
  // Only the child's ends are inheritable.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in_read = nullptr, in_write = nullptr, out_read = nullptr, out_write = nullptr;
  if (!CreatePipe(&in_read, &in_write, &inherit, 0)) return false;
  const Handle child_in(in_read);
  Handle parent_in(in_write);
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return false;
  const Handle child_out(out_write);
  Handle parent_out(out_read);
  if (!SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0) ||
      !SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0))
    return false;

  std::string line = quoted(program);
  for (const std::string& a : args) line += ' ' + quoted(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_read;
  si.hStdOutput = out_write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  process_ = reinterpret_cast<std::intptr_t>(pi.hProcess);
  // The child's ends close here, so that the child alone holds them and its
  // end ends our reads.
  to_child_ = reinterpret_cast<std::intptr_t>(parent_in.release());
  from_child_ = reinterpret_cast<std::intptr_t>(parent_out.release());
  pending_.clear();
  return true;
}

bool PipedProcess::write(std::string_view text) {
  if (to_child_ == -1) return false;
  while (!text.empty()) {
    DWORD n = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 16));
    if (!WriteFile(reinterpret_cast<HANDLE>(to_child_), text.data(), size, &n, nullptr) || n == 0)
      return false;
    text.remove_prefix(n);
  }
  return true;
}

bool PipedProcess::read_line(std::string& line) {
  if (from_child_ == -1) return false;
  std::size_t end;
  while ((end = pending_.find('\n')) == std::string::npos) {
    char buf[256];
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(from_child_), buf, sizeof buf, &n, nullptr) || n == 0)
      return false;
    pending_.append(buf, n);
  }
  line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

int PipedProcess::wait() {
  close_pipes();
  if (process_ == -1) return -1;
  const Handle process(reinterpret_cast<HANDLE>(process_));
  process_ = -1;
  DWORD code = 0;
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code))
    return -1;
  return static_cast<int>(code);
}

// ---- environment

bool set_env(const char* name, const char* value) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr || value == nullptr)
    return false;
  // The process block is what the system and other modules read; getenv
  // reads the C runtime's copy, taken at start-up. Both copy the value.
  const bool removing = *value == '\0';
  const BOOL block = SetEnvironmentVariableA(name, removing ? nullptr : value);
  const errno_t crt = _putenv_s(name, value);
  return block != FALSE && crt == 0;
}

std::optional<std::string> get_env(const char* name) {
  if (name == nullptr) return std::nullopt;
  std::string value(64, '\0');
  for (;;) {
    const DWORD n = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return std::nullopt;
    // Too small a buffer gives the size needed, terminator included.
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);
  }
}

// ---- initialisation files

std::string ini_dir() {
  char dir[MAX_PATH + 1];
  const UINT n = GetWindowsDirectoryA(dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) return {};
  return std::string(dir, n);
}

std::string ini_value(const char* file, const char* section, const char* key,
                      const char* default_value) {
  char value[kIniValueMax + 1];
  const char* fallback = default_value != nullptr ? default_value : "";
  // Null names would list the file's sections or keys instead.
  if (file == nullptr || *file == '\0' || section == nullptr || key == nullptr) {
    std::string_view d = fallback;
    d = d.substr(0, d.find_last_not_of(' ') + 1);
    return std::string(d.substr(0, kIniValueMax));
  }
  const DWORD n = GetPrivateProfileStringA(section, key, fallback, value, sizeof value, file);
  return std::string(value, std::min(n, static_cast<DWORD>(kIniValueMax)));
}

// ---- named locks

bool NamedLock::acquire(std::string_view name, int timeout_ms) {
  // Waiting again would count the mutex twice and need two releases.
  if (held() && name == name_) return true;
  release();
  if (name.empty()) return false;
  const std::string text(name);
  // The modify right lets release() work on a mutex another process made.
  HANDLE h = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, text.c_str());
  if (h == nullptr) h = CreateMutexA(nullptr, FALSE, text.c_str());
  if (h == nullptr) return false;
  const DWORD wait =
      WaitForSingleObject(h, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  // A mutex its holder left by dying comes as WAIT_ABANDONED: owned all the
  // same. Only a timeout means someone else has it.
  if (wait == WAIT_TIMEOUT) {
    CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  name_ = text;
  return true;
}

void NamedLock::release() {
  if (handle_ == -1) return;
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(h);
  CloseHandle(h);
  handle_ = -1;
  name_.clear();
}

}  // namespace plat::host
