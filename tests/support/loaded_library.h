// A library of our own, loaded for the length of a test.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/host_platform.h"
#include "platform/platform.h"

namespace felbrin::test {

class LoadedLibrary {
 public:
  explicit LoadedLibrary(std::string path)
      : path_(std::move(path)), handle_(plat::host::load_library(path_.c_str())) {}
  ~LoadedLibrary() { plat::host::free_library(handle_); }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  void* handle() const { return handle_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_;
};

// A shared library of the build, named as the platform names them, beside
// the test program ("" when the program's own path is unknown).
inline std::string beside_program(std::string_view base) {
  std::string program;
  if (!plat::host::loaded_module_path(nullptr, program)) return {};
  return program.substr(0, program.find_last_of(plat::kSep) + 1) +
         std::string(plat::kSharedLibraryPrefix) + std::string(base) +
         std::string(plat::kSharedLibrarySuffix);
}

}  // namespace felbrin::test
