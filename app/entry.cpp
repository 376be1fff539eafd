#include "app/entry.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/mapconv.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> units;
  for (int i = 0; i < argc; ++i) {
    std::u16string u;
    for (wchar_t c : std::wstring_view(argv[i])) u.push_back(static_cast<char16_t>(c));
    units.push_back(std::move(u));
  }
  const std::vector<std::u16string_view> views(units.begin(), units.end());
  const auto args = mapconv::Arguments::from_utf16(views);
  return app::program(args.argc(), args.argv());
}
#else
int main(int argc, char** argv) {
  const auto args = mapconv::Arguments::from_narrow({argv, static_cast<std::size_t>(argc)});
  return app::program(args.argc(), args.argv());
}
#endif
