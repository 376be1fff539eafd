// The ramp file reader and writers over streams and byte sinks, for tests,
// fuzzers and other writers.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/byte_sink.h"
#include "instrument/ramps/ramp_file.h"

namespace felbrin {

// rr_read_ramp_file on an open stream, read from its current position.
int read_ramp_stream(std::FILE* f, rr_ramp_hdr_t* hdr, uint16_t** points);

// Writes the file bytes of a ramp (header with its magic set, then nPoints
// points). The arguments are checked by the caller. 0 or ERR_CANT_WRITE_FILE.
int write_ramp(ByteSink& sink, const rr_ramp_hdr_t& hdr, const uint16_t* points);

// The text of rr_dump_ramp. 0 or ERR_CANT_WRITE_FILE.
int dump_ramp(ByteSink& sink, const rr_ramp_hdr_t& hdr, const uint16_t* points, bool one_per_line);

}  // namespace felbrin
