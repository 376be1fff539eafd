#include "instrument/can/can_api.h"

#include <array>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "common/hooks.h"
#include "common/host_utils.h"
#include "instrument/can/can_api_internal.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view kLibraryBase = "TrelCANopen";

template <auto Member>
void assign(can_api_t& table, void* symbol) {
  using Fn = std::remove_reference_t<decltype(table.*Member)>;
  table.*Member = reinterpret_cast<Fn>(symbol);
}

// One row per operation: the exported name and the entry it fills.
struct Row {
  const char* name;
  void (*assign)(can_api_t&, void*);
};
constexpr Row kRows[] = {
    {"CAN_EnumerateBridges", assign<&can_api_t::enumerate_bridges>},
    {"CAN_Connect", assign<&can_api_t::connect>},
    {"CAN_Disconnect", assign<&can_api_t::disconnect>},
    {"CAN_GetFirmwareVersion", assign<&can_api_t::get_firmware_version>},
    {"CAN_GetBridgeConfiguration", assign<&can_api_t::get_bridge_configuration>},
    {"CAN_SetBridgeConfiguration", assign<&can_api_t::set_bridge_configuration>},
    {"CAN_GetLastBridgeError", assign<&can_api_t::get_last_bridge_error>},
    {"CAN_ResetBridge", assign<&can_api_t::reset_bridge>},
    {"CAN_EnumerateNodes", assign<&can_api_t::enumerate_nodes>},
    {"CAN_FindNode", assign<&can_api_t::find_node>},
    {"CAN_GetNodeState", assign<&can_api_t::get_node_state>},
    {"CAN_SDORead", assign<&can_api_t::sdo_read>},
    {"CAN_SDOWrite", assign<&can_api_t::sdo_write>},
    {"CAN_RegisterPDO", assign<&can_api_t::register_pdo>},
    {"CAN_RegisterEvents", assign<&can_api_t::register_events>},
    {"CAN_GetPDO", assign<&can_api_t::get_pdo>},
    {"CAN_UnregisterPDOs", assign<&can_api_t::unregister_pdos>},
};
// A row for every entry of the table.
static_assert(std::size(kRows) * sizeof(void*) == sizeof(can_api_t));

constexpr auto kNames = [] {
  std::array<const char*, std::size(kRows)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kRows[i].name;
  return names;
}();

std::mutex g_mutex;
std::atomic<const can_api_t*> g_bound{nullptr};
bool g_looked = false;  // the library was looked for; with g_mutex held
std::string g_path;     // the bound library's file; empty for an installed table
// Tables of bound libraries. Kept for the life of the process, like the
// libraries, since a thread may still be in a call through one.
std::vector<std::unique_ptr<const can_api_t>> g_tables;

// Binds the loaded module when it has every name; a module that lacks one
// is let go. Expects g_mutex held.
int bind_module_locked(void* module, const std::string& path) {
  auto table = std::make_unique<can_api_t>();
  for (const Row& row : kRows) {
    void* symbol = plat::host::find_symbol(module, row.name);
    if (symbol == nullptr) {
      u_log_fn("%s: %s has no %s\n", "can_api_load", path.c_str(), row.name);
      plat::host::free_library(module);
      return ERR_CAN_NOT_AVAIL;
    }
    row.assign(*table, symbol);
  }
  g_tables.push_back(std::move(table));
  g_bound = g_tables.back().get();
  if (!plat::host::loaded_module_path(module, g_path)) g_path = path;
  return 0;
}

int load_locked() {
  if (g_bound.load() != nullptr) return 0;
  if (g_looked) return ERR_CAN_NOT_AVAIL;
  g_looked = true;
  std::string used;
  if (void* module = u_load_library(can_api_library_name(), &used))
    return bind_module_locked(module, used);
  return ERR_CAN_NOT_AVAIL;
}

}  // namespace

const char* can_api_library_name() {
  static const std::string name = std::string(plat::kSharedLibraryPrefix) +
                                  std::string(kLibraryBase) +
                                  std::string(plat::kSharedLibrarySuffix);
  return name.c_str();
}

int can_api_load() {
  std::lock_guard lock(g_mutex);
  return load_locked();
}

void can_api_install(const can_api_t* api) {
  std::lock_guard lock(g_mutex);
  g_bound = api;
  g_looked = api != nullptr;
  g_path.clear();
}

bool can_api_loaded() { return g_bound.load() != nullptr; }

std::string can_api_library_path() {
  std::lock_guard lock(g_mutex);
  return g_path;
}

const can_api_t* can_api() {
  if (const can_api_t* api = g_bound.load()) return api;
  std::lock_guard lock(g_mutex);
  load_locked();
  return g_bound.load();
}

namespace felbrin::can {

int bind_library(const char* path) {
  std::lock_guard lock(g_mutex);
  g_looked = true;
  void* module = plat::host::load_library(path);
  if (module == nullptr) return ERR_CAN_NOT_AVAIL;
  return bind_module_locked(module, path);
}

void forget_binding() {
  std::lock_guard lock(g_mutex);
  g_bound = nullptr;
  g_looked = false;
  g_path.clear();
}

const char* const* exported_names(int* count) {
  *count = static_cast<int>(kNames.size());
  return kNames.data();
}

}  // namespace felbrin::can
