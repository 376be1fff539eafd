#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/platform.h"

namespace felbrin::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("felbrin-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(std::string_view name) const { return (path_ / name).string(); }

std::string marked(const std::filesystem::path& p) {
  std::u16string units(1, char16_t{0xFFFE});
  units += p.u16string();
  units.push_back(0);
  return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::filesystem::path& p, const std::vector<unsigned char>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_file(const std::filesystem::path& p, std::string_view text) {
  std::ofstream out(p, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string native_lines(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += plat::kLineEnd;
    else out += c;
  }
  return out;
}

}  // namespace felbrin::test
