// datinfo: what a measurement data file holds.
#include <cstdio>

#include "app/datinfo.h"
#include "app/entry.h"

int app::program(int argc, const char* const* argv) {
  return datinfo::run(argc, argv, stdout, stderr);
}
