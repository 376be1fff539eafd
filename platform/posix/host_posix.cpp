// POSIX back end of the host services. Windows-only data (registry, version
// resources, DllGetVersion) is reported as missing.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/host_platform.h"
#include "platform/platform.h"

extern char** environ;

namespace plat::host {
namespace {

// A marked wide path becomes its UTF-8 text with '/' for '\', as in the
// file layer; narrow paths are used as they stand.
std::string native(const char* path) {
  if (!is_wide_marked(path)) return path;
  std::string s = to_utf8(wide_units(path));
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// Blank-separated words; double quotes group blanks into a word.
std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, have_word = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
      word += '"';
      have_word = true;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
      have_word = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (have_word) words.push_back(word);
      word.clear();
      have_word = false;
    } else {
      word += c;
      have_word = true;
    }
  }
  if (have_word) words.push_back(word);
  return words;
}

struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
};

int wait_exit_code(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return 0;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // Killed by a signal: report it as a shell would.
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 0;
}

int run(const std::vector<std::string>& words, bool search_path, const SpawnOptions& options,
        int& exit_code) {
  if (words.empty()) return ENOENT;
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);

  FileActions fa;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  if (!options.inherit) posix_spawn_file_actions_addclosefrom_np(&fa.actions, 3);
#endif
  pid_t pid = 0;
  const int err = search_path
                      ? ::posix_spawnp(&pid, argv[0], &fa.actions, nullptr, argv.data(), environ)
                      : ::posix_spawn(&pid, argv[0], &fa.actions, nullptr, argv.data(), environ);
  if (err != 0) return err;
  if (options.wait) {
    exit_code = wait_exit_code(pid);
  } else {
    // Nobody waits for it: reap it in the background so it leaves no zombie.
    std::thread([pid] { wait_exit_code(pid); }).detach();
  }
  return 0;
}

}  // namespace

bool narrow_to_wide(std::string_view text, std::u16string& out) {
  out = to_utf16(text);
  return true;
}

bool wide_to_narrow(std::u16string_view text, std::string& out) {
  out = to_utf8(text);
  return true;
}

bool current_dir(std::string& out) {
  std::vector<char> buf(PATH_MAX + 1);
  if (::getcwd(buf.data(), buf.size()) == nullptr) return false;
  out = buf.data();
  return true;
}

bool file_size_mtime(const char* path, std::int64_t& size, std::int64_t& mtime) {
  struct stat st {};
  if (path == nullptr || ::stat(native(path).c_str(), &st) != 0) return false;
  size = st.st_size;
  mtime = st.st_mtime;
  return true;
}

bool file_stamp(const char* path, FileStamp& out) {
  struct stat st {};
  if (path == nullptr || ::stat(native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  constexpr std::int64_t kNs = 1000000000;
  out.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNs + st.st_mtim.tv_nsec;
  out.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * kNs + st.st_ctim.tv_nsec;
  out.size = st.st_size;
  return true;
}

bool local_time(std::int64_t t, std::tm& out) {
  const auto tt = static_cast<time_t>(t);
  return ::localtime_r(&tt, &out) != nullptr;
}

bool list_dir(const char* dir, const std::function<bool(const char*)>& add) {
  const std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(native(dir).c_str()), &::closedir);
  if (!d) return false;
  while (const dirent* e = ::readdir(d.get()))
    if (!add(e->d_name)) return false;
  return true;
}

int logical_drives(char* buf, int size) {
  // One root: "/", its terminator and the list's final terminator.
  if (buf == nullptr || size < 3) return 0;
  buf[0] = '/';
  buf[1] = '\0';
  buf[2] = '\0';
  return 2;
}

int check_volume_root(const char* root) {
  struct statvfs st {};
  if (root != nullptr && ::statvfs(native(root).c_str(), &st) == 0) return 0;
  switch (errno) {
    case EMFILE:
    case ENFILE: return 23;
    case EACCES:
    case EPERM: return 13;
    case ENODEV:
    case ENXIO: return 19;
    case EIO:
    case EAGAIN:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
      return 1112;
    default: return 2;
  }
}

int spawn(const std::string& cmdline, const SpawnOptions& options, int& exit_code) {
  return run(split_words(cmdline), true, options, exit_code);
}

int spawn_shell(const std::string& cmdline, const SpawnOptions& options, int& exit_code) {
  return run({"/bin/sh", "-c", cmdline}, false, options, exit_code);
}

bool read_registry_string(RegRoot, const char*, const char*, char* buf, std::size_t size) {
  if (buf != nullptr && size > 0) buf[0] = '\0';
  return false;
}

bool file_internal_name(const char*, std::string&) { return false; }

bool file_fixed_version(const char* path, std::int32_t v[4]) {
  // The version of a shared object is the numeric suffix after ".so":
  // libc.so.6 is 6.0.0, libz.so.1.2.13 is 1.2.13.
  if (path == nullptr) return false;
  const std::string name = path;
  const std::size_t so = name.rfind(".so.");
  if (so == std::string::npos) return false;
  std::int32_t parts[4] = {0, 0, 0, -1};
  std::size_t i = so + 4;
  for (int k = 0; k < 4; ++k) {
    if (i >= name.size() || name[i] < '0' || name[i] > '9') return false;
    std::int64_t n = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') {
      n = n * 10 + (name[i] - '0');
      if (n > INT32_MAX) return false;
      ++i;
    }
    parts[k] = static_cast<std::int32_t>(n);
    if (i == name.size()) break;
    if (name[i] != '.' || k == 3) return false;
    ++i;
  }
  for (int k = 0; k < 4; ++k) v[k] = parts[k];
  return true;
}

bool file_product_version(const char* path, std::int32_t v[4]) {
  if (path == nullptr) return false;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(native(path).c_str(), nullptr),
                                                   &std::free);
  return real != nullptr && file_fixed_version(real.get(), v);
}

bool dll_get_version(void*, std::int32_t[4]) { return false; }

// dlopen and dlsym give text, not numbers: the Win32 numbers of the two
// failures stand in, so that callers log the same lines on both hosts.
constexpr int kModuleNotFound = 126;
constexpr int kProcNotFound = 127;
thread_local int t_library_error = 0;

void* load_library(const char* path) {
  void* module = path != nullptr ? ::dlopen(native(path).c_str(), RTLD_NOW) : nullptr;
  if (module == nullptr) t_library_error = kModuleNotFound;
  return module;
}

void free_library(void* module) {
  if (module != nullptr) ::dlclose(module);
}

void* find_symbol(void* module, const char* name) {
  void* symbol = module != nullptr && name != nullptr ? ::dlsym(module, name) : nullptr;
  if (symbol == nullptr) t_library_error = kProcNotFound;
  return symbol;
}

int library_error() { return t_library_error; }

bool loaded_module_path(void* module, std::string& out) {
  if (module == nullptr) return plat::module_path(out);
  link_map* map = nullptr;
  if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
    return false;
  // The program's own entry has no name of its own.
  if (map->l_name[0] == '\0') return plat::module_path(out);
  out = map->l_name;
  return true;
}

ModuleScan loaded_modules(std::vector<Module>& out, int max) {
  struct Scan {
    std::vector<Module>* out;
    int count;
  } scan{&out, 0};
  out.clear();
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* s = static_cast<Scan*>(data);
        ++s->count;
        // The program itself and the vDSO have no file of their own.
        struct stat st {};
        if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' &&
            ::stat(info->dlpi_name, &st) == 0)
          s->out->push_back(Module{nullptr, info->dlpi_name});
        return 0;
      },
      &scan);
  if (scan.count > max) {
    out.clear();
    return ModuleScan::TooMany;
  }
  return ModuleScan::Ok;
}

// ---- piped processes

namespace {

void close_fd(std::intptr_t& fd) {
  if (fd != -1) ::close(static_cast<int>(fd));
  fd = -1;
}

}  // namespace

PipedProcess::~PipedProcess() { wait(); }

void PipedProcess::close_pipes() {
  close_fd(to_child_);
  close_fd(from_child_);
}

bool PipedProcess::start(const std::string& program, const std::vector<std::string>& args) {
  if (process_ != -1) return false;
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return false;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  FileActions fa;
  // dup2 clears close-on-exec on the copies, so only these two reach it.
  posix_spawn_file_actions_adddup2(&fa.actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa.actions, out[1], 1);
  pid_t pid = 0;
  const int err = ::posix_spawn(&pid, argv[0], &fa.actions, nullptr, argv.data(), environ);
  ::close(in[0]);
  ::close(out[1]);
  if (err != 0) {
    ::close(in[1]);
    ::close(out[0]);
    return false;
  }
  process_ = pid;
  to_child_ = in[1];
  from_child_ = out[0];
  pending_.clear();
  return true;
}

bool PipedProcess::write(std::string_view text) {
  if (to_child_ == -1) return false;
  // A program that stopped reading must not take this process down with
  // SIGPIPE: the signal is held back and taken here, leaving EPIPE.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &old);
  bool ok = true;
  while (!text.empty()) {
    const ssize_t n = ::write(static_cast<int>(to_child_), text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (errno == EPIPE) {
        const timespec now{};
        ::sigtimedwait(&pipe_signal, nullptr, &now);
      }
      ok = false;
      break;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}

bool PipedProcess::read_line(std::string& line) {
  if (from_child_ == -1) return false;
  std::size_t end;
  while ((end = pending_.find('\n')) == std::string::npos) {
    char buf[256];
    const ssize_t n = ::read(static_cast<int>(from_child_), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
  }
  line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

int PipedProcess::wait() {
  close_pipes();
  if (process_ == -1) return -1;
  const int code = wait_exit_code(static_cast<pid_t>(process_));
  process_ = -1;
  return code;
}

// ---- environment

bool set_env(const char* name, const char* value) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr || value == nullptr)
    return false;
  // setenv copies; putenv would keep the caller's buffer.
  if (*value == '\0') return ::unsetenv(name) == 0;
  return ::setenv(name, value, 1) == 0;
}

std::optional<std::string> get_env(const char* name) {
  const char* value = name != nullptr ? std::getenv(name) : nullptr;
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// ---- initialisation files

namespace {

// Blanks as the Win32 reader of these files counts them: a CR is one, so
// CR LF lines read as LF lines.
constexpr std::string_view kBlanks = " \t\r";

std::string_view trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool same_name(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// The value as the Win32 call gives it: quotes around the whole of it go.
std::string unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, kIniValueMax));
}

// The key's value in the first section of that name; nothing when that
// section lacks the key or the stream lacks the section.
std::optional<std::string> find_ini_value(std::FILE* in, std::string_view section,
                                          std::string_view key) {
  enum class Where { Before, Inside };
  Where where = Where::Before;
  // A UTF-8 mark at the start is not part of the first line.
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  for (const char m : kUtf8Mark) {
    const int c = std::fgetc(in);
    if (c == static_cast<unsigned char>(m)) continue;
    std::rewind(in);
    break;
  }
  std::string line;
  for (int c = 0; c != EOF;) {
    line.clear();
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    const std::string_view text = trim(line);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[') {
      // Later sections of the same name are not looked at.
      if (where == Where::Inside) return std::nullopt;
      const std::size_t close = text.find(']');
      if (close != std::string_view::npos && same_name(trim(text.substr(1, close - 1)), section))
        where = Where::Inside;
      continue;
    }
    const std::size_t eq = text.find('=');
    if (where == Where::Inside && eq != std::string_view::npos &&
        same_name(trim(text.substr(0, eq)), key))
      return unquoted(trim(text.substr(eq + 1)));
  }
  return std::nullopt;
}

}  // namespace

std::string ini_dir() { return get_env("SystemRoot").value_or(""); }

std::string ini_value(const char* file, const char* section, const char* key,
                      const char* default_value) {
  std::string_view fallback = default_value != nullptr ? default_value : "";
  fallback = fallback.substr(0, fallback.find_last_not_of(' ') + 1);
  fallback = fallback.substr(0, kIniValueMax);
  if (file == nullptr || *file == '\0' || section == nullptr || key == nullptr)
    return std::string(fallback);
  std::string path = file;
  // As on Win32, only a bare name means the Windows directory; a relative
  // path with a folder part is taken from the current directory.
  if (path.find_first_of("/\\") == std::string::npos) {
    const std::string dir = ini_dir();
    if (dir.empty()) return std::string(fallback);
    path = dir + '/' + path;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(plat::open_file(path.c_str(), "rb"),
                                                           &std::fclose);
  if (!in) return std::string(fallback);
  return find_ini_value(in.get(), section, key).value_or(std::string(fallback));
}

// ---- named locks

namespace {

// Every process of the machine must meet the same file, so the folder is
// fixed, not the user's TMPDIR.
constexpr std::string_view kLockDir = "/tmp/";

// The lock file, opened read-only so that any user can lock it (flock needs
// no write access). An existing file is opened without O_CREAT: in a sticky
// folder the kernel may refuse O_CREAT on another user's file.
int open_lock_file(const std::string& path) {
  for (;;) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // The umask would keep other users out.
      ::fchmod(fd, 0666);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
}

}  // namespace

bool NamedLock::acquire(std::string_view name, int timeout_ms) {
  // flock on a second descriptor would wait for this very object.
  if (held() && name == name_) return true;
  release();
  if (name.empty() || name.find('/') != std::string_view::npos) return false;
  const int fd = open_lock_file(std::string(kLockDir) + std::string(name) + ".lock");
  if (fd < 0) return false;
  // The holder is another process, so the wait runs on the real clock.
  const std::int64_t deadline = plat::monotonic_ms() + std::max(timeout_ms, 0);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(fd);
      return false;
    }
    const std::int64_t left = deadline - plat::monotonic_ms();
    if (timeout_ms >= 0 && left <= 0) {
      ::close(fd);
      return false;
    }
    constexpr std::int64_t kPollMs = 5;
    plat::sleep_ms(static_cast<std::uint32_t>(timeout_ms < 0 ? kPollMs : std::min(left, kPollMs)));
  }
  handle_ = fd;
  name_ = name;
  return true;
}

void NamedLock::release() {
  if (handle_ == -1) return;
  // Closing the only descriptor of the open file drops the lock.
  ::close(static_cast<int>(handle_));
  handle_ = -1;
  name_.clear();
}

}  // namespace plat::host
