// A library of our own, loaded for the length of a test.
#pragma once

#include <string>
#include <utility>

#include "platform/host_platform.h"

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

}  // namespace felbrin::test
