// The simulated acquisition system: see camera_system.h.
#include "sim/acquisition/camera_system.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/host_platform.h"
#include "platform/platform.h"

namespace sim::acq {

namespace {

constexpr std::string_view kCfgFilePath = "CFG FILE PATH";

int index_of(Level level) { return static_cast<int>(level); }

bool read_whole_file(const std::string& path, std::string& text) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(plat::open_file(path.c_str(), "rb"),
                                                           &std::fclose);
  if (!in) return false;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;)
    text.append(chunk, n);
  return std::ferror(in.get()) == 0;
}

}  // namespace

bool CameraSystem::init(const char* ini_name) {
  release();
  if (ini_name == nullptr || *ini_name == '\0') {
    why_ = "no file name";
    return fail(kErrInvalidParameter);
  }
  std::string path = ini_name;
  // Only a bare name means the initialisation file folder, as for the
  // binding's own look-ups in the same file.
  if (path.find_first_of("/\\") == std::string::npos)
    path = plat::host::ini_dir() + plat::kSep + path;
  std::string text;
  if (!read_whole_file(path, text)) {
    why_ = "cannot read " + path;
    return fail(kErrCannotFindFile);
  }
  return init_from_text(text);
}

bool CameraSystem::init_from_text(std::string_view text) {
  release();
  if (!parse_scenario(text, scenario_, why_)) {
    scenario_ = Scenario();
    return fail(kErrConfigInvalid);
  }
  script_.set_steps(scenario_.frames, scenario_.loop);
  if (!scenario_.init_ok) {
    why_ = "the scenario fails the initialisation";
    return fail(scenario_.init_error);
  }
  ready_ = true;
  return true;
}

void CameraSystem::release() {
  ready_ = false;
  scenario_ = Scenario();
  why_.clear();
  for (int i = 0; i < 3; ++i) current_[i] = cursor_[i] = -1;
  cfg_file_path_.clear();
  open_ = acquiring_ = false;
}

Node* CameraSystem::parent(Level level) {
  if (!ready_) return nullptr;
  if (level == Level::Device) return &scenario_.library;
  return selected(static_cast<Level>(index_of(level) - 1));
}

Node* CameraSystem::selected(Level level) {
  const int i = current_[index_of(level)];
  if (i < 0) return nullptr;
  Node* p = parent(level);
  return p != nullptr ? &p->children[static_cast<std::size_t>(i)] : nullptr;
}

int32_t CameraSystem::count(Level level) {
  const Node* p = parent(level);
  if (p == nullptr) return fail_zero(no_parent(level));
  return p->reported_count();
}

const char* CameraSystem::first_name(Level level) {
  cursor_[index_of(level)] = -1;
  return next_name(level);
}

const char* CameraSystem::next_name(Level level) {
  const Node* p = parent(level);
  if (p == nullptr) return fail_null(no_parent(level));
  int& cursor = cursor_[index_of(level)];
  // Past the end the cursor stays put: every later next is null too.
  if (cursor < static_cast<int>(p->children.size())) ++cursor;
  if (cursor >= static_cast<int>(p->children.size())) return fail_null(not_found(level));
  const auto& name = p->children[static_cast<std::size_t>(cursor)].name;
  if (!name) return fail_null(not_found(level));
  return name->c_str();
}

int32_t CameraSystem::id_of(Level level, const char* name) {
  const Node* p = parent(level);
  if (p == nullptr) return fail_zero(no_parent(level));
  if (name == nullptr) return fail_zero(kErrInvalidParameter);
  for (const Node& child : p->children) {
    if (child.name && *child.name == name) {
      if (child.id == 0) fail(not_found(level));
      return child.id;
    }
  }
  return fail_zero(not_found(level));
}

bool CameraSystem::select(Level level, int32_t id) {
  Node* p = parent(level);
  if (p == nullptr) return fail(no_parent(level));
  for (std::size_t i = 0; i < p->children.size(); ++i) {
    const Node& child = p->children[i];
    if (id == 0 || child.id != id) continue;
    if (!child.selectable) return fail(not_found(level));
    if (current_[index_of(level)] != static_cast<int>(i)) {
      // An open device keeps its device and camera until it is closed.
      if (open_ && level != Level::Mode) return fail(kErrDeviceBusy);
      current_[index_of(level)] = static_cast<int>(i);
      // A new parent has its own lists: what was chosen below it goes.
      for (int below = index_of(level) + 1; below < 3; ++below)
        current_[below] = cursor_[below] = -1;
    }
    return true;
  }
  return fail(not_found(level));
}

int32_t CameraSystem::current(Level level) {
  const Node* node = selected(level);
  return node != nullptr ? node->id : 0;
}

bool CameraSystem::query(Level level, const char* key, double* value) {
  if (value != nullptr) *value = kPoison;
  const Node* node = selected(level);
  if (node == nullptr) return fail(no_parent(level));
  if (key == nullptr || value == nullptr) return fail(kErrInvalidParameter);
  const auto it = node->values.find(std::string_view(key));
  if (it == node->values.end()) return fail(kErrMissingParameter);
  *value = it->second;
  return true;
}

bool CameraSystem::set(Level level, const char* key, const void* value) {
  Node* node = selected(level);
  if (node == nullptr) return fail(no_parent(level));
  if (key == nullptr || value == nullptr) return fail(kErrInvalidParameter);
  if (kCfgFilePath == key) {
    cfg_file_path_ = static_cast<const char*>(value);
    return true;
  }
  node->values.insert_or_assign(std::string(key), *static_cast<const double*>(value));
  return true;
}

bool CameraSystem::open() {
  if (!ready_) return fail(kErrDeviceInitialize);
  if (selected(Level::Device) == nullptr) return fail(kErrInvalidDevice);
  if (open_) return fail(kErrDeviceBusy);
  open_ = true;
  return true;
}

bool CameraSystem::close() {
  if (!open_) return fail(kErrDeviceClosed);
  open_ = acquiring_ = false;
  return true;
}

bool CameraSystem::acquire_start(int32_t frames) {
  if (!open_) return fail(kErrDeviceClosed);
  if (acquiring_) return fail(kErrDeviceBusy);
  if (frames < 0) return fail(kErrInvalidParameter);
  const Node* mode = selected(Level::Mode);
  if (mode == nullptr) return fail(kErrInvalidMode);
  const auto value = [mode](std::string_view key, double otherwise) {
    const auto it = mode->values.find(key);
    return it != mode->values.end() ? it->second : otherwise;
  };
  const double x_scale = value("X DATA SCALE", 1);
  const double y_scale = value("Y DATA SCALE", 1);
  FrameFormat format;
  format.width = static_cast<int32_t>(value("MAX USER WIDTH", 0) / (x_scale != 0 ? x_scale : 1));
  format.height = static_cast<int32_t>(value("MAX USER HEIGHT", 0) / (y_scale != 0 ? y_scale : 1));
  const double bits = value("DATA RESOLUTION", 8);
  format.bits = bits > 0 ? static_cast<int32_t>(bits) : 8;
  if (format.width <= 0 || format.height <= 0 || format.bits > 16)
    return fail(kErrMissingParameter);
  script_.start(format, frames);
  acquiring_ = true;
  return true;
}

bool CameraSystem::acquire_stop() {
  if (!open_) return fail(kErrDeviceClosed);
  acquiring_ = false;
  return true;
}

bool CameraSystem::read(void* buffer, int32_t bytes) {
  if (!open_) return fail(kErrDeviceClosed);
  if (!acquiring_) return fail(kErrNotReady);
  if (buffer == nullptr || bytes < 0 || static_cast<std::size_t>(bytes) != script_.format().bytes())
    return fail(kErrInvalidParameter);
  const int32_t error = script_.next(buffer);
  return error == 0 || fail(error);
}

}  // namespace sim::acq
