#include "common/text_line.h"

namespace felbrin {

bool read_text_line(std::FILE* f, std::size_t keep, TextLine& line) {
  line.text.clear();
  line.length = 0;
  line.line_feed = false;
  int c = std::getc(f);
  if (c == EOF) return false;
  bool pending_cr = false;
  auto add = [&](char ch) {
    if (line.length++ < keep) line.text += ch;
  };
  for (; c != EOF; c = std::getc(f)) {
    if (c == '\n') {
      line.line_feed = true;
      break;
    }
    // A CR is only known to be text once something other than LF follows.
    if (pending_cr) add('\r');
    pending_cr = c == '\r';
    if (!pending_cr) add(static_cast<char>(c));
  }
  return true;
}

}  // namespace felbrin
