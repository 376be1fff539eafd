// mapview: PNG pictures of measurement data files (binary or ASCII): the
// phase map in false colour, or an intensity frame in grey.
#pragma once

#include <cstdio>

namespace mapview {

enum ExitCode : int {
  kDone = 0,    // the picture was written
  kFailed = 1,  // the input could not be read, or the picture not written
  kUsage = 2,   // bad command line
};

// Runs `mapview [options] INPUT OUTPUT`. argv[0] is the program name; a path
// may be a marked wide path. The report goes to `out`, problems to `err`.
int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace mapview
