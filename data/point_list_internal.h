// The point-list writer over any byte sink, for tests and other writers.
#pragma once

#include <string_view>

#include "data/byte_sink.h"
#include "data/records.h"

namespace felbrin {

int write_point_list(ByteSink& sink, const mx_i32_t* phase, std::string_view line_end);

}  // namespace felbrin
