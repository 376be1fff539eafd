// The point-list writer over any byte sink, for tests and other writers.
#pragma once

#include <string_view>

#include "common/byte_sink.h"
#include "data/records.h"

namespace felbrin {

// `threads`: how many threads format the points; 1 formats and writes on the
// calling thread alone, and kAutoThreads uses one per processor
// (std::thread::hardware_concurrency). The file is the same either way.
// Beyond the errors of df_write_point_list: ERR_NO_MEM when the buffers of
// several threads cannot be had (nothing is written then).
inline constexpr int kAutoThreads = 0;
int write_point_list(ByteSink& sink, const mx_i32_t* phase, std::string_view line_end,
                     int threads = kAutoThreads);

// df_write_point_list with the choice of threads above.
int write_point_list_file(const char* path, const mx_i32_t* phase, int threads);

}  // namespace felbrin
