// calcheck: reads calibration files as the library does and reports what
// its reader says about them, line by line; can list the values read and
// write a clean file back in the library's own layout.
#pragma once

#include <cstdio>

namespace calcheck {

enum ExitCode : int {
  kClean = 0,     // every file read cleanly (and was shown or rewritten)
  kProblems = 1,  // some file had messages, could not be read or not be written
  kUsage = 2,     // bad command line
};

// Runs `calcheck [--show] [--rewrite] FILE...`. argv[0] is the program name;
// a path may be a marked wide path. Listings and help go to `out`, every
// message to `err`.
int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace calcheck
