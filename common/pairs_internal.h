// The pair file reader and writer over streams and byte sinks, for tests,
// fuzz targets and other readers.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "common/byte_sink.h"
#include "common/pair_table.h"

namespace felbrin {

// u_read_pairs on an open stream (binary mode) from its current position;
// `name` is the file name the messages show.
int read_pairs_stream(std::FILE* f, const char* name, u_pair_table_t* table);

// The pair lines, each ended with `line_end`; false when the sink failed.
bool write_pairs(ByteSink& sink, std::span<const u_pair_t> pairs, std::string_view line_end);

}  // namespace felbrin
