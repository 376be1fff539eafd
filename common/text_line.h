// Reading text files line by line from a stream opened in binary mode. The
// readers strip the line ends themselves, so a file written on Windows (CR
// LF) and one written on Linux (LF) read the same on both platforms.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace felbrin {

struct TextLine {
  // The first `keep` characters of the line, without its line end.
  std::string text;
  // The whole line's length without its line end, however much was kept.
  std::size_t length = 0;
  // True when the line ended in LF (false for a last line without one).
  bool line_feed = false;
};

// Reads the next line. A CR right before the LF (or before the end of the
// stream) belongs to the line end; any other CR is text. An over-long line
// is still one line: what is not kept is read and dropped. False at the end
// of the stream.
bool read_text_line(std::FILE* f, std::size_t keep, TextLine& line);

}  // namespace felbrin
