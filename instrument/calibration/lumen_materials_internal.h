// The Lumen materials reader on an open stream, and the texts of the format,
// for tests and fuzzers.
#pragma once

#include <cstdio>
#include <string_view>

#include "instrument/calibration/lumen_materials.h"

namespace felbrin {

// lumen_readMaterials after the open: reads the stream from its current
// position and replaces *list only on success.
int read_lumen_materials_stream(std::FILE* f, lumen_materials_t* list);

// The heading line a file must carry (without its line end), the format
// description and the sample line (with its line end) that a file without
// an acceptable material is answered with, and the column heading line.
std::string_view lumen_materials_heading();
std::string_view lumen_materials_description();
std::string_view lumen_materials_sample_line();
std::string_view lumen_materials_column_heading();

}  // namespace felbrin
