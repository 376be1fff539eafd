#include "common/host.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "common/dirs.h"
#include "common/hooks.h"
#include "platform/platform.h"

namespace {

// The cached host values. The library computes each once per process; the
// caches are guarded so that first calls from several threads are safe.
struct HostCache {
  std::mutex lock;
  bool have_module = false, have_computer = false, have_user = false;
  std::string module, computer, user;
  bool computer_ok = false, user_ok = false;
  u_host_overrides_t overrides{};
};

HostCache& cache() {
  static HostCache c;
  return c;
}

constexpr std::size_t kMaxName = 15;

}  // namespace

const char* u_module_path() {
  HostCache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  if (!c.have_module) {
    std::string path;
    const bool ok = c.overrides.module_path != nullptr ? (path = c.overrides.module_path, true)
                                                       : plat::module_path(path);
    // A path the library's buffers cannot hold would give a wrong directory.
    if (ok && path.size() > static_cast<std::size_t>(U_MAX_PATH))
      u_log_fn("%s: path longer than %d characters\n", "u_module_path", U_MAX_PATH);
    if (!ok || path.size() > static_cast<std::size_t>(U_MAX_PATH)) path.clear();
#ifdef _WIN32
    // Windows names are case-insensitive; the library works in lower case.
    for (char& ch : path)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
#endif
    c.module = path;
    c.have_module = true;
  }
  return c.module.c_str();
}

int u_computer_name(char* buffer, int length) {
  HostCache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  if (!c.have_computer) {
    std::string name;
    c.computer_ok = c.overrides.computer_name != nullptr ? (name = c.overrides.computer_name, true)
                                                         : plat::computer_name(name);
    c.computer = name.substr(0, kMaxName);
    c.have_computer = true;
  }
  if (buffer != nullptr && length > 0) {
    const std::size_t n = std::min(c.computer.size(), static_cast<std::size_t>(length - 1));
    std::memcpy(buffer, c.computer.data(), n);
    buffer[n] = '\0';
  }
  return c.computer_ok ? 0 : 1;
}

const char* u_user_name(char* buffer, std::size_t size) {
  HostCache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  if (!c.have_user) {
    std::string name;
    c.user_ok = c.overrides.user_name != nullptr ? (name = c.overrides.user_name, true)
                                                 : plat::user_name(name);
    c.user = name.substr(0, kMaxName);
    c.have_user = true;
  }
  if (!c.user_ok) return nullptr;
  if (buffer == nullptr) return c.user.c_str();
  if (c.user.size() + 1 > size) return nullptr;
  std::memcpy(buffer, c.user.c_str(), c.user.size() + 1);
  return buffer;
}

int u_make_dir(const char* path) { return plat::make_dir(path); }

void u_host_reset_caches(const u_host_overrides_t* overrides) {
  HostCache& c = cache();
  std::lock_guard<std::mutex> hold(c.lock);
  c.have_module = c.have_computer = c.have_user = false;
  c.overrides = overrides != nullptr ? *overrides : u_host_overrides_t{};
  u_dirs_reset();
}
