// datinfo: what a measurement data file (binary or ASCII) holds: source
// information, the header fields the ASCII form carries, matrix geometry and
// phase statistics, as readable text or as JSON for scripts.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "data/data_set.h"

namespace datinfo {

enum ExitCode : int {
  kDone = 0,        // every file was read
  kUnreadable = 1,  // some file could not be read
  kUsage = 2,       // bad command line
};

// Runs `datinfo [--json] FILE...`. argv[0] is the program name; a path may be
// a marked wide path. Reports and help go to `out`, messages to `err`.
int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// The text report of a data file that was read, as datinfo prints it.
std::string report_text(const std::string& file, const char* format, const felbrin::DataSet& d);

// `text` as a JSON string, quotes included. Bytes that are not UTF-8 are
// taken as Latin-1 (the header texts come from instruments of that era).
std::string json_string(std::string_view text);

}  // namespace datinfo
