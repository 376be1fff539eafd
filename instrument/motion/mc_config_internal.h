// The configuration reader over an open stream, for tests and the fuzzer.
#pragma once

#include <cstdio>

#include "instrument/motion/mc_config.h"
#include "instrument/record/sys_info.h"

namespace felbrin {

// mc_read_config on an open stream read from its current position, with
// `cal` supplying the per-letter defaults. The stream stays open.
int mc_read_config_stream(std::FILE* f, const sysInfo_t& cal, mc_config_t& cfg);

}  // namespace felbrin
