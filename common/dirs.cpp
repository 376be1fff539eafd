#include "common/dirs.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/host.h"
#include "common/util.h"
#include "platform/platform.h"

namespace {

bool is_separator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/' || c == '\\';
#endif
}

// A directory value the library can hold, or nothing (with a log line naming
// the operation) when it is longer than its buffers allow.
std::optional<std::string> bounded(const char* operation, std::string path) {
  if (path.size() > static_cast<std::size_t>(U_MAX_PATH)) {
    u_log_fn("%s: path longer than %d characters\n", operation, U_MAX_PATH);
    return std::nullopt;
  }
  return path;
}

// An environment value; an empty one counts as unset.
std::optional<std::string> environment(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return std::nullopt;
  return std::string(v);
}

// The folder that holds `path`, or nothing when it has no separator.
std::optional<std::string> parent_of(const std::string& path) {
  const std::size_t cut = path.find_last_of(
#ifdef _WIN32
      "\\/"
#else
      "/\\"
#endif
  );
  if (cut == std::string::npos) return std::nullopt;
  return path.substr(0, cut);
}

bool is_root(const std::string& dir) {
#ifdef _WIN32
  return dir.size() <= 3;  // "c:" or "c:\": no parent to go to
#else
  return dir.empty() || dir == "/";
#endif
}

// Installation directory from the program's path: its folder's parent, or
// the folder itself when that is a root.
std::string install_from_module() {
  const std::string module = u_module_path();
  const std::optional<std::string> folder = parent_of(module);
  if (module.empty() || !folder) return {};
  std::string dir = *folder;
  if (!is_root(dir)) {
    const std::optional<std::string> up = parent_of(dir);
    if (up) dir.resize(up->size());  // the parent is a prefix of the folder
  }
#ifndef _WIN32
  if (dir.empty()) dir.push_back('/');
#endif
  return dir;
}

// The three directories, each worked out once.
struct Dirs {
  std::mutex lock;
  bool have_install = false, have_config = false, have_ramps = false;
  std::string install, config, ramps;
};

Dirs& dirs() {
  static Dirs d;
  return d;
}

const char* none_if_empty(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

std::string compute_install() {
  if (std::optional<std::string> env = environment("FB_INSTALL_DIR"))
    return bounded("u_install_dir", *env).value_or("");
  std::string dir = install_from_module();
  if (!dir.empty()) u_log_fn("Install directory: %s\n", dir.c_str());
  return dir;
}

std::string compute_config() {
  if (std::optional<std::string> env = environment("FB_CONFIG_DIR"))
    return bounded("u_config_dir", *env).value_or("");
  const char* install = u_install_dir();
  if (install == nullptr) return {};
  const std::string cfg = u_path_join(install, "cfg");
  if (cfg.size() <= static_cast<std::size_t>(U_MAX_PATH) && plat::is_directory(cfg.c_str()))
    return cfg;
  return install;
}

std::string compute_ramps() {
  if (std::optional<std::string> env = environment("FB_RAMPS_DIR"))
    return bounded("u_ramps_dir", *env).value_or("");
  const char* config = u_config_dir();
  if (config == nullptr) return {};
  const std::optional<std::string> ramps = bounded("u_ramps_dir", u_path_join(config, "ramps"));
  if (!ramps) return {};
  if (!plat::is_directory(ramps->c_str())) u_make_dir(ramps->c_str());
  return *ramps;
}

// "\x", ".\x" and "c:x" on every platform; "/x" and "./x" too on POSIX.
bool is_absolute(std::string_view name) {
  if (name.empty()) return false;
  if (is_separator(name[0]) && (name[0] == '\\' || plat::kSep == '/')) return true;
  if (name.size() >= 2 && name[0] == '.' && is_separator(name[1]) &&
      (name[1] == '\\' || plat::kSep == '/'))
    return true;
  const char c = name[0];
  return name.size() >= 2 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && name[1] == ':';
}

}  // namespace

std::string u_path_join(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && !is_separator(out.back())) out += plat::kSep;
  out += name;
  return out;
}

namespace {

// Works a directory out once: `compute` runs without the lock held (it may
// ask for the other directories), and the first result stored wins.
template <class Compute>
const char* once(bool Dirs::*have, std::string Dirs::*value, Compute compute) {
  Dirs& d = dirs();
  {
    std::lock_guard<std::mutex> hold(d.lock);
    if (d.*have) return none_if_empty(d.*value);
  }
  std::string dir = compute();
  std::lock_guard<std::mutex> hold(d.lock);
  if (!(d.*have)) {
    d.*value = std::move(dir);
    d.*have = true;
  }
  return none_if_empty(d.*value);
}

}  // namespace

const char* u_install_dir() { return once(&Dirs::have_install, &Dirs::install, compute_install); }
const char* u_config_dir() { return once(&Dirs::have_config, &Dirs::config, compute_config); }
const char* u_ramps_dir() { return once(&Dirs::have_ramps, &Dirs::ramps, compute_ramps); }

void u_dirs_reset() {
  Dirs& d = dirs();
  std::lock_guard<std::mutex> hold(d.lock);
  d.have_install = d.have_config = d.have_ramps = false;
}

const char* u_host_file_name(int digit) {
  thread_local char name[32];
  name[0] = '\0';
  if (digit < 0 || digit > 9) return name;
  char computer[16] = {};
  u_computer_name(computer, sizeof computer);
  std::snprintf(name, sizeof name, "%s.%c", computer, static_cast<char>('0' + digit));
  return name;
}

std::vector<std::string> u_file_search_places(const char* name) {
  if (name == nullptr || *name == '\0') return {};
  if (is_absolute(name)) return {name};
  std::vector<std::string> places{u_path_join(".", name)};
  if (const char* config = u_config_dir()) places.push_back(u_path_join(config, name));
  return places;
}

int u_find_file(const char* name, const char** path) {
  if (path != nullptr) *path = nullptr;
  if (name == nullptr || *name == '\0' || path == nullptr) return ERR_INVALID_PARAM;
  static std::string result;  // valid until the next lookup
  try {
    result.clear();
    const auto found = [&](std::string candidate) {
      if (candidate.size() > static_cast<std::size_t>(U_MAX_PATH) ||
          !u_file_exists(candidate.c_str()))
        return false;
      result = std::move(candidate);
      *path = result.c_str();
      return true;
    };
    if (is_absolute(name)) return found(name) ? 0 : ERR_CANT_READ_FILE;
    if (found(u_path_join(".", name))) return 0;
    const char* config = u_config_dir();
    if (config == nullptr) return ERR_CANT_OPEN_FILE;
    return found(u_path_join(config, name)) ? 0 : ERR_CANT_READ_FILE;
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}
