// Library messages gathered while a command reads or writes a file, so that
// each can be printed as one line that names the file. The library reports
// through its log hook; a collector takes that hook over for its lifetime.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/hooks.h"

namespace app {

struct LibraryMessage {
  // The text without its final line end.
  std::string text;
  // Filled by the collector's annotator when the message is reported.
  int line = 0;
  bool error = false;
};

// Installs itself as the log hook until destroyed; one at a time.
class MessageCollector {
 public:
  // Called as each message arrives, while the library's state still tells
  // where it came from.
  using Annotate = void (*)(LibraryMessage& message);
  explicit MessageCollector(Annotate annotate = nullptr);
  ~MessageCollector();
  MessageCollector(const MessageCollector&) = delete;
  MessageCollector& operator=(const MessageCollector&) = delete;

  std::vector<LibraryMessage> take();

 private:
  static int collect(const char* format, ...) FELBRIN_PRINTF(1, 2);
  Annotate annotate_;
  u_log_hook saved_;
  std::vector<LibraryMessage> messages_;
};

// Length of the UTF-8 sequence at the start of `s`, or 0 when it is not one.
std::size_t utf8_length(std::string_view s);

// `text` as it may be shown: a byte that is not text (a control byte other
// than those `kept`, or one that is not part of UTF-8) becomes \xNN, so a
// stray byte of a file can be told apart; line ends not kept become blanks.
std::string printable(std::string_view text, std::string_view kept);

// One line on `err`: "<file>:<line>: <text>", or "<file>: <text>" for line 0.
// Line ends inside the text become blanks, so each problem stays one line;
// any other byte that is not text (a control byte, or one that is not part
// of UTF-8) is shown as \xNN, so a stray byte of a file can be told apart.
void print_message(std::FILE* err, std::string_view file, int line, std::string_view text);

// "<file>: <what>: <code name> (<code>)".
void print_code(std::FILE* err, std::string_view file, std::string_view what, int code);

// The command line of a tool: options first or anywhere, "--" ends them.
struct CommandLine {
  std::vector<std::string_view> options;
  std::vector<const char*> files;
  // Options that take a value ("--scale 4" or "--scale=4"), in order.
  std::vector<std::pair<std::string_view, std::string_view>> values;
};

// Splits the arguments. --help prints `usage` on `out` and gives exit code
// 0; an option not in `known` or `valued`, a valued option without its
// value, or no file, gives one line on `err` and `usage_code`. -1 when the
// command is to run.
int parse_command_line(int argc, const char* const* argv,
                       std::initializer_list<std::string_view> known, std::string_view program,
                       const char* usage, int usage_code, std::FILE* out, std::FILE* err,
                       CommandLine& line, std::initializer_list<std::string_view> valued = {});

}  // namespace app
