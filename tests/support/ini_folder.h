// The initialisation file folder, and environment settings made through
// the platform layer, for the length of a test.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/host_platform.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace felbrin::test {

// Sets an environment variable through the platform layer, as the library
// reads it, for the length of a test.
class EnvSetting {
 public:
  EnvSetting(const char* name, const std::string& value)
      : name_(name), old_(plat::host::get_env(name)) {
    plat::host::set_env(name, value.c_str());
  }
  ~EnvSetting() { plat::host::set_env(name_, old_ ? old_->c_str() : ""); }
  EnvSetting(const EnvSetting&) = delete;
  EnvSetting& operator=(const EnvSetting&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The initialisation file folder for the test: a temporary one named by
// SystemRoot on POSIX, the Windows directory itself on Win32 (written
// files are removed at the end).
class IniFolder {
 public:
  IniFolder() {
    if (plat::kSep == '/') root_.emplace("SystemRoot", temp_.path().string());
    dir_ = plat::host::ini_dir();
  }
  ~IniFolder() {
    std::error_code ec;
    for (const auto& f : files_) std::filesystem::remove(f, ec);
  }
  IniFolder(const IniFolder&) = delete;
  IniFolder& operator=(const IniFolder&) = delete;
  // Writes the file and returns its bare name.
  std::string write(const std::string& name, std::string_view text) {
    files_.emplace_back(std::filesystem::path(dir_) / name);
    felbrin::test::write_file(files_.back(), text);
    return name;
  }
  const TempDir& temp() const { return temp_; }

 private:
  TempDir temp_;
  std::optional<EnvSetting> root_;
  std::string dir_;
  std::vector<std::filesystem::path> files_;
};

}  // namespace felbrin::test
