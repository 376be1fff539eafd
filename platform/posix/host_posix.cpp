// POSIX back end of the host services. Windows-only data (registry, version
// resources, DllGetVersion) is reported as missing.
#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
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
  if (path == nullptr || ::stat(native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
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
    case ENFILE:
      return 23;
    case EACCES:
    case EPERM:
      return 13;
    case ENODEV:
    case ENXIO:
      return 19;
    case EIO:
    case EAGAIN:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
      return 1112;
    default:
      return 2;
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

}  // namespace plat::host
