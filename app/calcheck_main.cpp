// calcheck: checks calibration files as the library reads them.
#include <cstdio>

#include "app/calcheck.h"
#include "app/entry.h"

int app::program(int argc, const char* const* argv) {
  return calcheck::run(argc, argv, stdout, stderr);
}
