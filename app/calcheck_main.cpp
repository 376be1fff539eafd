// Entry point of calcheck.
#include <cstdio>

#include "app/calcheck.h"
#include "app/entry.h"

namespace {
int command(int argc, const char* const* argv) { return calcheck::run(argc, argv, stdout, stderr); }
}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return app::wide_main(argc, argv, command); }
#else
int main(int argc, char** argv) { return app::narrow_main(argc, argv, command); }
#endif
