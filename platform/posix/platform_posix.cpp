// POSIX back end of the platform layer.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <vector>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

// The path as the OS takes it: a marked wide path becomes its UTF-8 text,
// and every '\\' a '/', so that Windows-style names stored in configuration
// and calibration files resolve here too.
std::string native(const char* path) {
  std::string s = is_wide_marked(path) ? to_utf8(wide_units(path)) : std::string(path);
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

bool is_read_only_file(const char* path) {
  struct stat st {};
  return path != nullptr && ::stat(native(path).c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

bool remove_file(const char* path) {
  return path != nullptr && ::unlink(native(path).c_str()) == 0;
}

bool remove_regular_file(const char* path) {
  if (path == nullptr) return false;
  const std::string p = native(path);
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(p.c_str()) == 0;
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

namespace {

// The file a path names, through its symbolic links: a rewrite replaces what
// a link points at and leaves the link in place, as cp and editors do. A
// dangling link names the file to create. 0 or the host's error number.
int follow_links(std::string& path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return errno;
    target.resize(static_cast<std::size_t>(n));
    if (target.empty()) return ENOENT;
    if (target.front() != '/') {
      const std::size_t slash = path.find_last_of('/');
      if (slash != std::string::npos) target.insert(0, path, 0, slash + 1);
    }
    path = std::move(target);
  }
  return ELOOP;
}

// A new file beside `dst`, made with `mode` less the process's umask, as
// any file the process creates; -1 with errno on failure.
int open_sibling(const std::string& dst, mode_t mode, std::string& tmp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmp = dst + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

int copy_file(const char* source, const char* destination, NewFileMode new_mode) {
  if (source == nullptr || destination == nullptr) return EINVAL;
  const std::string src = native(source);
  std::string dst = native(destination);
  if (const int e = follow_links(dst)) return e;
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat src_st {};
  if (::fstat(in, &src_st) != 0 || !S_ISREG(src_st.st_mode)) {
    const int e = errno != 0 ? errno : EINVAL;
    ::close(in);
    return e;
  }
  // Like copying onto a read-only file on Windows: refused, as is a file
  // this process may not write (the rename would replace it all the same)
  // and anything that is not a file (a device, a pipe).
  struct stat dst_st {};
  const bool replacing = ::stat(dst.c_str(), &dst_st) == 0;
  const int refusal = !replacing                         ? 0
                      : !S_ISREG(dst_st.st_mode)         ? EINVAL
                      : (dst_st.st_mode & S_IWUSR) == 0  ? EACCES
                      : ::access(dst.c_str(), W_OK) != 0 ? EACCES
                                                         : 0;
  if (refusal != 0) {
    ::close(in);
    return refusal;
  }
  std::string tmp;
  const int out =
      open_sibling(dst, new_mode == NewFileMode::like_source ? src_st.st_mode & 0777 : 0666, tmp);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return e;
  }
  int error = 0;
  std::vector<char> buf(64 * 1024);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    for (ssize_t done = 0; done < n && error == 0;) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno != EINTR) error = errno;
      if (w > 0) done += w;
    }
    if (error != 0) break;
  }
  ::close(in);
  // The replaced file keeps its owner and group where the process may set
  // them (the owner only as root), then its permission bits (a change of
  // owner clears the set-user bits).
  if (replacing && error == 0) {
    if (::fchown(out, dst_st.st_uid, dst_st.st_gid) != 0)
      (void)::fchown(out, static_cast<uid_t>(-1), dst_st.st_gid);
    if (::fchmod(out, dst_st.st_mode & 07777) != 0) error = errno;
  }
  // On disk before it replaces the old file, so a power loss cannot leave an
  // empty or partial file under the destination's name.
  if (error == 0 && ::fsync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(tmp.c_str(), dst.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(tmp.c_str());
  return error;
}

std::FILE* create_temp_file(std::string_view prefix, std::string& path, int* os_error) {
  const char* dir = std::getenv("TMPDIR");
  std::string name = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  if (name.back() != '/') name += '/';
  name += prefix;
  name += "XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *os_error = errno;
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "wb");
  if (f == nullptr) {
    *os_error = errno;
    ::close(fd);
    ::unlink(name.c_str());
    return nullptr;
  }
  path = std::move(name);
  return f;
}

bool is_terminal(std::FILE* stream) { return stream != nullptr && ::isatty(::fileno(stream)) != 0; }

void close_descriptor(int fd) { ::close(fd); }

void sleep_ms(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t monotonic_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

void wall_time_ms(int64_t* seconds, int32_t* milliseconds) {
  static const bool tz_ready = [] {
    ::tzset();
    return true;
  }();
  (void)tz_ready;
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  *seconds = ts.tv_sec;
  *milliseconds = static_cast<int32_t>(ts.tv_nsec / 1000000);
}

bool local_time(int64_t t, std::tm* out) {
  const auto tt = static_cast<time_t>(t);
  return ::localtime_r(&tt, out) != nullptr;
}

int64_t perf_counter() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

int64_t perf_frequency() { return 1000000000; }

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
