// The converter command, callable in-process so tests can drive it.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mapconv {

enum ExitCode : int {
  kDone = 0,
  kUsage = 1,
  kNoInput = 2,
  kOutputExists = 3,
  kReadFailed = 4,
  kWriteFailed = 5,
};

// Runs `mapconv [options] input output`. argv[0] is the program name; a path
// argument may be a marked wide path. Every message goes to `err`.
int run(int argc, const char* const* argv, std::FILE* err);

// The command line as the library takes it, from the host's arguments.
// Options are plain UTF-8 text. A path operand that is plain ASCII stays as
// it is; any other becomes a marked wide path (first unit 0xFFFE), so that
// every file name works on Windows. On POSIX the bytes are the path, except
// that an operand that would be taken for a marked path is made a properly
// terminated one.
class Arguments {
 public:
  static Arguments from_utf16(std::span<const std::u16string_view> args);
  static Arguments from_narrow(std::span<const char* const> args);

  int argc() const { return static_cast<int>(pointers_.size()); }
  const char* const* argv() const { return pointers_.data(); }

 private:
  void add(std::string bytes);
  std::vector<std::string> storage_;
  std::vector<const char*> pointers_;
};

}  // namespace mapconv
