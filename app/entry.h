// The entry point shared by the console commands (entry.cpp, linked into
// each): on Windows the arguments arrive as UTF-16 (wmain), so that every
// file name works; elsewhere they are bytes. Each program defines
// app::program, its command callable in-process.
#pragma once

namespace app {

// The program's command: argv[0] is the program name; a path argument may be
// a marked wide path (mapconv::Arguments).
int program(int argc, const char* const* argv);

}  // namespace app
