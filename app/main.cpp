// Entry point of mapconv. On Windows the arguments arrive as UTF-16 (wmain),
// so that every file name works.
#include <cstdio>
#include <string>
#include <vector>

#include "app/mapconv.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> units;
  for (int i = 0; i < argc; ++i) {
    const std::wstring_view w(argv[i]);
    units.emplace_back(w.begin(), w.end());
  }
  const std::vector<std::u16string_view> views(units.begin(), units.end());
  const auto args = mapconv::Arguments::from_utf16(views);
  return mapconv::run(args.argc(), args.argv(), stderr);
}
#else
int main(int argc, char** argv) {
  const auto args = mapconv::Arguments::from_narrow({argv, static_cast<std::size_t>(argc)});
  return mapconv::run(args.argc(), args.argv(), stderr);
}
#endif
