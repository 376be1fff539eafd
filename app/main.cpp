// mapconv: converts a binary data file into a point list.
#include <cstdio>

#include "app/entry.h"
#include "app/mapconv.h"

int app::program(int argc, const char* const* argv) { return mapconv::run(argc, argv, stderr); }
