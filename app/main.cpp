// Entry point of mapconv. On Windows the arguments arrive as UTF-16: a path
// that is plain ASCII is passed on as it is, any other as a marked wide path
// so that every file name works.
#include <cstdio>
#include <string>
#include <vector>

#include "app/mapconv.h"

#ifdef _WIN32
#include "platform/platform.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> storage(static_cast<std::size_t>(argc));
  std::vector<const char*> args(static_cast<std::size_t>(argc));
  for (std::size_t i = 0; i < storage.size(); ++i) {
    const std::u16string units(argv[i], argv[i] + std::char_traits<wchar_t>::length(argv[i]));
    bool ascii = true;
    for (char16_t u : units) ascii = ascii && u < 0x80;
    if (ascii) {
      storage[i].assign(units.begin(), units.end());
    } else {
      // Marker unit, the path's units, terminating zero unit, as raw bytes.
      std::u16string marked(1, char16_t{0xFFFE});
      marked += units;
      storage[i].assign(reinterpret_cast<const char*>(marked.c_str()),
                        (marked.size() + 1) * sizeof(char16_t));
    }
    args[i] = storage[i].c_str();
  }
  return mapconv::run(argc, args.data(), stderr);
}
#else
int main(int argc, char** argv) { return mapconv::run(argc, argv, stderr); }
#endif
