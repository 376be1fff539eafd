// The converter command, callable in-process so tests can drive it.
#pragma once

#include <cstdio>

namespace mapconv {

enum ExitCode : int {
  kDone = 0,
  kUsage = 1,
  kNoInput = 2,
  kOutputExists = 3,
  kReadFailed = 4,
  kWriteFailed = 5,
};

// Runs `mapconv [options] input output`. argv[0] is the program name; a path
// argument may be a marked wide path. Every message goes to `err`.
int run(int argc, const char* const* argv, std::FILE* err);

}  // namespace mapconv
