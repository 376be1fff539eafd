/// @file
/// The character source under the calibration tokenizer: a file or a text in
/// memory, read one character at a time with one character of push-back.
///
/// A carriage return followed by a line feed reads as one line feed on every
/// platform, so a calibration file written on Windows reads the same on
/// Linux (a lone carriage return is kept). Memory texts fold the same way, so
/// an inline text behaves exactly like the same line in a file.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace felbrin {

/// A file or a text in memory, read one character at a time.
class CalCharSource {
 public:
  /// What get() returns at the end of the input.
  static constexpr int kEof = -1;

  /// Opens a file (binary mode; the folding above is ours); nothing when the
  /// file cannot be opened.
  static std::optional<CalCharSource> open_file(const char* path);
  /// Takes over an open stream, which is closed with the source.
  static CalCharSource from_stream(std::FILE* stream);
  /// A copy of the text, so the caller's text need not outlive the source.
  static CalCharSource from_text(std::string_view text);

  /// The next character (0..255) or kEof.
  int get();
  /// Puts one character back to be read again by the next get(). Only one
  /// character is kept; kEof is ignored.
  void unget(int c);
  /// True once a get() has met the end of the input (and no character has
  /// been put back since).
  bool eof() const { return at_end_; }
  /// True when reading the file failed; the source then reads as ended.
  bool read_error() const { return read_error_; }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  CalCharSource() = default;
  /// The next raw byte without taking it, refilling the buffer from the file.
  int peek_byte();

  std::unique_ptr<std::FILE, FileCloser> file_;
  std::string buffer_;
  std::size_t pos_ = 0;
  int pushed_ = kEof;
  bool at_end_ = false;
  bool read_error_ = false;
};

}  // namespace felbrin
