// The bad-pixel file reader on an open stream, for tests and fuzz targets.
#pragma once

#include <cstdio>
#include <string>

#include "instrument/acquisition/cam_bad.h"

namespace felbrin {

// cam_bad_file_read from the stream's position (binary mode); `name` is the
// file name the messages show.
int cam_bad_read_stream(std::FILE* f, const char* name, cam_bad_entry_t* table, int* count,
                        std::string* message);

}  // namespace felbrin
