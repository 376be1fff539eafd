// POSIX back end of the platform layer.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <vector>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

// A marked wide path becomes its UTF-8 text, and '\' a '/' so paths written
// for Windows work; narrow paths are used as they stand.
std::string native(const char* path) {
  if (!is_wide_marked(path)) return path;
  std::string s = to_utf8(wide_units(path));
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

}  // namespace

std::FILE* open_file(const char* path, const char* mode) {
  if (path == nullptr) return nullptr;
  std::string m = mode;
  m += 'e';  // close-on-exec
  return std::fopen(native(path).c_str(), m.c_str());
}

bool is_regular_file(const char* path) {
  struct stat st {};
  return path != nullptr && ::stat(native(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool remove_file(const char* path) {
  return path != nullptr && ::unlink(native(path).c_str()) == 0;
}

bool is_directory(const char* path) {
  struct stat st {};
  return path != nullptr && ::stat(native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int make_dir(const char* path) {
  if (path == nullptr) return -1;
  if (::mkdir(native(path).c_str(), 0777) == 0) return 0;
  return errno == EEXIST ? 17 : -1;
}

bool module_path(std::string& out) {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return false;
  out.assign(buf.data(), static_cast<std::size_t>(n));
  return true;
}

bool computer_name(std::string& out) {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return false;
  out = host;
  out = out.substr(0, out.find('.'));  // the short name, as Windows gives it
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return !out.empty();
}

bool user_name(std::string& out) {
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
      pw.pw_name == nullptr)
    return false;
  out = pw.pw_name;
  return !out.empty();
}

std::FILE* open_memory(const void* data, std::size_t size) {
  // fmemopen refuses a zero size: give it one byte and consume it.
  static char one = 0;
  if (size == 0) {
    std::FILE* f = ::fmemopen(&one, 1, "rb");
    if (f != nullptr) std::fgetc(f);
    return f;
  }
  return ::fmemopen(const_cast<void*>(data), size, "rb");
}

bool system_error_text(int os_error, char* buf, std::size_t size) {
  char tmp[512];
  // GNU strerror_r returns the text, which may or may not live in tmp.
  const char* text = strerror_r(os_error, tmp, sizeof tmp);
  if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return false;
  std::snprintf(buf, size, "%s", text);
  return true;
}

}  // namespace plat
