// Files the library rewrites are written whole to a new temporary file first
// and copied over the destination only when complete, so a full disk or a
// crash never leaves a truncated file where a good one was.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/byte_sink.h"

namespace felbrin {

// Makes a new, empty temporary file whose name begins with `prefix`, opened
// for binary writing, its name in `path`; null with the host's error number
// in *os_error.
using TempFileFn = std::FILE* (*)(std::string_view prefix, std::string& path, int* os_error);
std::FILE* make_temp_file(std::string_view prefix, std::string& path, int* os_error);
// Test seam (disk failures): replaces the maker for every writer of the
// process (null restores the default) and returns the previous one.
TempFileFn set_temp_file_fn(TempFileFn fn);

// Where replace_file stopped.
enum class ReplaceStep { done, create_temp, write, copy };

// Writes through `fill` into a temporary file, then copies it over
// `destination` with u_copy_file; with `retry_copy`, a failed copy is tried
// once more (the destination is never deleted first: a copy that fails
// leaves it whole). The temporary file is removed in
// every case. Every write and the close are checked.
template <class Fill>
ReplaceStep replace_file(const char* destination, std::string_view prefix, Fill&& fill,
                         bool retry_copy = false);

// ---- implementation
ReplaceStep replace_file_from_temp(std::FILE* temp, const std::string& temp_path, bool filled,
                                   const char* destination, bool retry_copy);

template <class Fill>
ReplaceStep replace_file(const char* destination, std::string_view prefix, Fill&& fill,
                         bool retry_copy) {
  std::string temp_path;
  int os_error = 0;
  std::FILE* temp = make_temp_file(prefix, temp_path, &os_error);
  if (temp == nullptr) return ReplaceStep::create_temp;
  StreamSink sink(temp);
  const bool filled = fill(static_cast<ByteSink&>(sink));
  return replace_file_from_temp(temp, temp_path, filled, destination, retry_copy);
}

}  // namespace felbrin
