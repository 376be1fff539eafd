// Reading a measurement data file for the commands that look at one: as a
// binary data file, or as an ASCII one when it is not binary, with the
// problem told the same way by every command.
#pragma once

#include <cstdio>
#include <string_view>

#include "data/data_set.h"

namespace app {

struct DataFileRead {
  int rc = 0;                     // 0, or the reader's error code
  const char* format = "binary";  // "binary" or "ascii": the reader that decided
  int line = 0;                   // the ASCII line it failed on, 0 when not known
};

DataFileRead read_data_file(const char* path, felbrin::DataSet& d);

// "FILE[:LINE]: cannot be read as FORMAT data file: NAME (CODE)", or
// "FILE: not a binary or ASCII data file".
void print_read_problem(std::FILE* err, std::string_view file, const DataFileRead& r);

}  // namespace app
