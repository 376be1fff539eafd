// Entry point of mapconv.
#include <cstdio>

#include "app/entry.h"
#include "app/mapconv.h"

namespace {
int command(int argc, const char* const* argv) { return mapconv::run(argc, argv, stderr); }
}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return app::wide_main(argc, argv, command); }
#else
int main(int argc, char** argv) { return app::narrow_main(argc, argv, command); }
#endif
