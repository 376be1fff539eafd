// Win32 back end of the platform layer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

std::wstring wide(std::u16string_view units) { return {units.begin(), units.end()}; }

// Any path as the wide text the host takes: a marked path's units, or a
// narrow path in the active code page.
std::wstring host_path(const char* path) {
  if (is_wide_marked(path)) return wide(wide_units(path));
  const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, w.data(), n);
  w.resize(static_cast<std::size_t>(n - 1));
  return w;
}

}  // namespace

std::FILE* open_file(const char* path, const char* mode) {
  if (path == nullptr) return nullptr;
  if (!is_wide_marked(path)) return std::fopen(path, mode);
  const std::u16string m16 = to_utf16(mode);
  return _wfopen(wide(wide_units(path)).c_str(), wide(m16).c_str());
}

bool is_regular_file(const char* path) {
  if (path == nullptr) return false;
  const DWORD attrs = is_wide_marked(path) ? GetFileAttributesW(wide(wide_units(path)).c_str())
                                           : GetFileAttributesA(path);
  return attrs != INVALID_FILE_ATTRIBUTES &&
         (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

namespace {

// The file a path names, through a symbolic link or junction: a rewrite
// replaces what the link points at and leaves the link in place. A link
// that cannot be resolved (dangling) is refused rather than replaced.
DWORD follow_link(std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return 0;
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  std::wstring target(32768, L'\0');
  const DWORD n = GetFinalPathNameByHandleW(h, target.data(), static_cast<DWORD>(target.size()),
                                            FILE_NAME_NORMALIZED);
  const DWORD error = n == 0 || n >= target.size() ? GetLastError() : 0;
  CloseHandle(h);
  if (error != 0) return error;
  target.resize(n);
  path = std::move(target);
  return 0;
}

}  // namespace

bool is_read_only_file(const char* path) {
  if (path == nullptr) return false;
  std::wstring p = host_path(path);
  if (follow_link(p) != 0) return false;
  const DWORD attrs = GetFileAttributesW(p.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attrs & FILE_ATTRIBUTE_READONLY) != 0;
}

bool remove_file(const char* path) {
  if (path == nullptr) return false;
  return is_wide_marked(path) ? DeleteFileW(wide(wide_units(path)).c_str()) != 0
                              : DeleteFileA(path) != 0;
}

bool remove_regular_file(const char* path) {
  if (path == nullptr) return false;
  const std::wstring p = host_path(path);
  const DWORD attrs = GetFileAttributesW(p.c_str());
  constexpr DWORD kNotAFile =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & kNotAFile) == 0 &&
         DeleteFileW(p.c_str()) != 0;
}

bool is_directory(const char* path) {
  if (path == nullptr) return false;
  const DWORD attrs = is_wide_marked(path) ? GetFileAttributesW(wide(wide_units(path)).c_str())
                                           : GetFileAttributesA(path);
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int make_dir(const char* path) {
  if (path == nullptr) return -1;
  const BOOL ok = is_wide_marked(path) ? CreateDirectoryW(wide(wide_units(path)).c_str(), nullptr)
                                       : CreateDirectoryA(path, nullptr);
  if (ok) return 0;
  return GetLastError() == ERROR_ALREADY_EXISTS ? 17 : -1;
}

bool module_path(std::string& out) {
  // Ask with room for the longest path, so that the caller can tell a long
  // path from a missing one.
  std::wstring buf(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  if (n == 0 || n >= buf.size()) return false;
  const int len =
      WideCharToMultiByte(CP_ACP, 0, buf.data(), static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  if (len <= 0) return false;
  out.assign(static_cast<std::size_t>(len), '\0');
  WideCharToMultiByte(CP_ACP, 0, buf.data(), static_cast<int>(n), out.data(), len, nullptr,
                      nullptr);
  return true;
}

bool computer_name(std::string& out) {
  char buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = sizeof buf;
  if (!GetComputerNameA(buf, &n)) return false;
  out.assign(buf, n);
  return true;
}

bool user_name(std::string& out) {
  char buf[257];
  DWORD n = sizeof buf;
  if (!GetUserNameA(buf, &n) || n == 0) return false;
  out = buf;  // n counts the terminator
  return !out.empty();
}

int copy_file(const char* source, const char* destination, NewFileMode) {
  if (source == nullptr || destination == nullptr) return ERROR_INVALID_PARAMETER;
  const std::wstring src = host_path(source);
  std::wstring dst = host_path(destination);
  if (const DWORD e = follow_link(dst)) return static_cast<int>(e);
  // CopyFile refuses a read-only destination on Windows; not every
  // implementation of it does, so ask first.
  const DWORD attrs = GetFileAttributesW(dst.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0)
    return ERROR_ACCESS_DENIED;
  // The copy goes to a new sibling file first, which is flushed and then
  // moved over the destination in one step: a copy that fails midway (a
  // full disk) leaves the old file whole.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring tmp =
        dst + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(attempt);
    if (!CopyFileW(src.c_str(), tmp.c_str(), TRUE)) {
      const DWORD e = GetLastError();
      if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) continue;
      return static_cast<int>(e);
    }
    // The copy takes the source's attributes: a read-only source would make
    // a copy that can be neither flushed nor deleted.
    SetFileAttributesW(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DWORD error = 0;
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) error = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    // The replaced file keeps its attributes (hidden, system, archive...),
    // not those of the source.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                            FILE_ATTRIBUTE_TEMPORARY;
    if (error == 0 && attrs != INVALID_FILE_ATTRIBUTES) {
      const DWORD kept = attrs & kKept;
      if (!SetFileAttributesW(tmp.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL))
        error = GetLastError();
    } else if (error == 0) {
      // A new file: the source's attributes, as a copy gives them.
      const DWORD from = GetFileAttributesW(src.c_str());
      if (from != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(tmp.c_str(), from & (kKept | FILE_ATTRIBUTE_READONLY));
    }
    if (error == 0 && !MoveFileExW(tmp.c_str(), dst.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = GetLastError();
    }
    if (error != 0) {
      SetFileAttributesW(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(tmp.c_str());
      return static_cast<int>(error);
    }
    return 0;
  }
  return static_cast<int>(ERROR_FILE_EXISTS);
}

namespace {

// A host path as the library passes paths around: narrow when it is plain
// ASCII, else marked wide (0xFF 0xFE, UTF-16 units, a zero unit).
std::string library_path(const std::wstring& w) {
  bool ascii = true;
  for (wchar_t c : w) ascii = ascii && c < 0x80;
  std::string out;
  if (ascii) {
    for (wchar_t c : w) out += static_cast<char>(c);
    return out;
  }
  out += '\xFF';
  out += '\xFE';
  for (wchar_t c : w) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>((c >> 8) & 0xFF);
  }
  out += '\0';
  out += '\0';
  return out;
}

}  // namespace

std::FILE* create_temp_file(std::string_view prefix, std::string& path, int* os_error) {
  wchar_t dir[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH) {
    *os_error = static_cast<int>(n == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
    return nullptr;
  }
  // CREATE_NEW fails rather than open a file someone else made: try other
  // names until one is new.
  static LONG counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned long tag = (GetCurrentProcessId() * 2654435761UL) ^ GetTickCount() ^
                              static_cast<unsigned long>(InterlockedIncrement(&counter)) * 40503UL;
    wchar_t suffix[16];
    swprintf(suffix, 16, L"%08lx.tmp", tag & 0xFFFFFFFFUL);
    std::wstring name = dir;
    for (char c : prefix) name += static_cast<wchar_t>(c);
    name += suffix;
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) continue;
      *os_error = static_cast<int>(e);
      return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (f == nullptr) {
      *os_error = static_cast<int>(ERROR_INVALID_HANDLE);
      if (fd >= 0) {
        _close(fd);
      } else {
        CloseHandle(h);
      }
      DeleteFileW(name.c_str());
      return nullptr;
    }
    path = library_path(name);
    return f;
  }
  *os_error = static_cast<int>(ERROR_FILE_EXISTS);
  return nullptr;
}

bool is_terminal(std::FILE* stream) { return stream != nullptr && _isatty(_fileno(stream)) != 0; }

void close_descriptor(int fd) { _close(fd); }

void sleep_ms(uint32_t ms) { Sleep(ms); }

int64_t monotonic_ms() { return static_cast<int64_t>(GetTickCount64()); }

void wall_time_ms(int64_t* seconds, int32_t* milliseconds) {
  static const bool tz_ready = [] {
    _tzset();
    return true;
  }();
  (void)tz_ready;
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  // 100-ns intervals since 1601-01-01.
  const uint64_t ticks = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  const uint64_t ms = ticks / 10000 - 11644473600000ull;
  *seconds = static_cast<int64_t>(ms / 1000);
  *milliseconds = static_cast<int32_t>(ms % 1000);
}

bool local_time(int64_t t, std::tm* out) {
  const __time64_t tt = t;
  return _localtime64_s(out, &tt) == 0;
}

int64_t perf_counter() {
  LARGE_INTEGER v;
  QueryPerformanceCounter(&v);
  return v.QuadPart;
}

int64_t perf_frequency() {
  LARGE_INTEGER f;
  return QueryPerformanceFrequency(&f) ? f.QuadPart : 0;
}

std::FILE* open_memory(const void* data, std::size_t size) {
  // The C runtime has no memory streams: a temporary file that vanishes on close.
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  if (std::fwrite(data, 1, size, f) != size || std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}

bool system_error_text(int os_error, char* buf, std::size_t size) {
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(os_error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf,
                     static_cast<DWORD>(size), nullptr);
  return n != 0;
}

}  // namespace plat
