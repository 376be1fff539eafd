// The entry points of the console commands. On Windows the arguments arrive
// as UTF-16 (wmain), so that every file name works; elsewhere they are bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/mapconv.h"

namespace app {

// A command callable in-process: argv[0] is the program name.
using Command = int (*)(int argc, const char* const* argv);

inline int wide_main(int argc, const wchar_t* const* argv, Command command) {
  std::vector<std::u16string> units;
  for (int i = 0; i < argc; ++i) {
    const std::wstring_view w(argv[i]);
    std::u16string u;
    for (wchar_t c : w) u.push_back(static_cast<char16_t>(c));
    units.push_back(std::move(u));
  }
  const std::vector<std::u16string_view> views(units.begin(), units.end());
  const auto args = mapconv::Arguments::from_utf16(views);
  return command(args.argc(), args.argv());
}

inline int narrow_main(int argc, const char* const* argv, Command command) {
  const auto args = mapconv::Arguments::from_narrow({argv, static_cast<std::size_t>(argc)});
  return command(args.argc(), args.argv());
}

}  // namespace app
