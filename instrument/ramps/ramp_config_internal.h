// The ramp configuration reader and writer over streams and byte sinks, for
// tests, fuzzers and the code that saves the ramp table.
#pragma once

#include <cstdio>
#include <string_view>

#include "common/byte_sink.h"
#include "instrument/ramps/ramp_config.h"

namespace felbrin {

// rr_read_ramp_config on an open stream, read from its current position;
// `name` is the file name used in the messages. *cfgs must be null.
int read_ramp_config_stream(std::FILE* f, const char* name, rr_ramp_line_t** cfgs, int* count);

// The text of rr_write_ramp_config. The arguments are checked by the
// caller. 0 or ERR_CANT_WRITE_FILE.
int write_ramp_config(ByteSink& sink, const rr_ramp_line_t* cfgs, int count);

// The format description (the comment lines the writer puts first, without
// the title line, joined by "\n") and the sample line, both shown when a
// file holds no usable line.
std::string_view ramp_config_description();
std::string_view ramp_config_sample_line();

}  // namespace felbrin
