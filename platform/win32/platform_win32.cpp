// Win32 back end of the platform layer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

std::wstring wide(std::u16string_view units) { return {units.begin(), units.end()}; }

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

bool remove_file(const char* path) {
  if (path == nullptr) return false;
  return is_wide_marked(path) ? DeleteFileW(wide(wide_units(path)).c_str()) != 0
                              : DeleteFileA(path) != 0;
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
  char buf[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  // A path that filled the buffer may have been cut: not a usable path.
  if (n == 0 || n >= MAX_PATH) return false;
  out.assign(buf, n);
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
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(os_error),
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf,
                                 static_cast<DWORD>(size), nullptr);
  return n != 0;
}

}  // namespace plat
