// mapview: PNG pictures of measurement data files.
#include <cstdio>

#include "app/entry.h"
#include "app/mapview.h"

int app::program(int argc, const char* const* argv) {
  return mapview::run(argc, argv, stdout, stderr);
}
