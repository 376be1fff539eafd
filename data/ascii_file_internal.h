// The ASCII data file writer over any byte sink, for tests.
#pragma once

#include <string_view>

#include "common/byte_sink.h"
#include "data/binary_file.h"
#include "data/records.h"

namespace felbrin {

int write_ascii(ByteSink& sink, const df_source_info_t* source, const df_header_t* header,
                const mx_bkt16_t* intensity, const mx_i32_t* phase, std::string_view line_end);

}  // namespace felbrin
