// Scratch files for tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace felbrin::test {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // A narrow path text for a file in the directory (ASCII names only).
  std::string file(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

// The path in the library's marked wide form: 0xFFFE, UTF-16 units, 0.
std::string marked(const std::filesystem::path& p);

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const std::vector<unsigned char>& bytes);
void write_file(const std::filesystem::path& p, std::string_view text);

// Text as the platform writes it: "\n" becomes the platform's line end.
std::string native_lines(std::string_view text);

}  // namespace felbrin::test
