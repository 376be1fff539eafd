#include "common/temp_file.h"

#include <atomic>

#include "common/util.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

std::FILE* default_temp_file(std::string_view prefix, std::string& path, int* os_error) {
  return plat::create_temp_file(prefix, path, os_error);
}

std::atomic<TempFileFn> temp_file_fn{default_temp_file};

}  // namespace

std::FILE* make_temp_file(std::string_view prefix, std::string& path, int* os_error) {
  return temp_file_fn.load()(prefix, path, os_error);
}

TempFileFn set_temp_file_fn(TempFileFn fn) {
  return temp_file_fn.exchange(fn != nullptr ? fn : default_temp_file);
}

ReplaceStep replace_file_from_temp(std::FILE* temp, const std::string& temp_path, bool filled,
                                   const char* destination, bool retry_copy) {
  ReplaceStep step =
      close_written(temp, filled ? 0 : 1, 1) == 0 ? ReplaceStep::done : ReplaceStep::write;
  if (step == ReplaceStep::done && copy_temp_file(temp_path.c_str(), destination) != 0) {
    step = ReplaceStep::copy;
    // The copy replaces the destination in one step, so the old file is
    // whole after a failure and stays until a copy succeeds.
    if (retry_copy && copy_temp_file(temp_path.c_str(), destination) == 0) step = ReplaceStep::done;
  }
  plat::remove_file(temp_path.c_str());
  return step;
}

}  // namespace felbrin
