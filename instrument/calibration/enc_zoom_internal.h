// The zoom calibration reader on an open stream, for tests and fuzz targets.
#pragma once

#include <cstdio>
#include <string>

#include "common/pair_table.h"

namespace felbrin {

// kite_enc_zoom_read_cal from the stream's current position (binary mode);
// `name` is the file name the messages show.
int read_enc_zoom_cal_stream(std::FILE* f, const char* name, u_pair_table_t* table,
                             std::string* message);

}  // namespace felbrin
