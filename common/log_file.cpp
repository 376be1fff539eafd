#include "common/log_file.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/temp_file.h"
#include "common/util.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kChunk = 64 * 1024;

// The text with the platform's line ends; a CR LF already there stays.
std::string with_line_ends(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  const std::string_view in(text);
  out.reserve(in.size() + in.size() / 16);
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) {
      out += plat::kLineEnd;
    } else {
      out += in[i];
    }
  }
  return out;
}

// Where the kept part of the log begins: after the first whole line whose
// end lies at least `drop` bytes into the file (the file's size when none).
// Line lengths are the bytes on disk, so CR LF and LF logs keep alike.
bool find_cut(std::FILE* log, int64_t drop, int64_t size, int64_t& cut) {
  std::rewind(log);
  char buffer[kChunk];
  int64_t at = 0;
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, log)) > 0) {
    // The line ending at or after byte drop - 1 is the last one dropped.
    const int64_t from = drop - 1 - at;
    if (from < static_cast<int64_t>(n)) {
      const std::size_t start = from > 0 ? static_cast<std::size_t>(from) : 0;
      if (const void* lf = std::memchr(buffer + start, '\n', n - start)) {
        cut = at + (static_cast<const char*>(lf) - buffer) + 1;
        return true;
      }
    }
    at += static_cast<int64_t>(n);
  }
  cut = size;
  return std::ferror(log) == 0;
}

// Copies the log from byte `cut` on into `sink`.
bool copy_from(std::FILE* log, int64_t cut, felbrin::ByteSink& sink, bool& read_failed) {
  std::rewind(log);
  char buffer[kChunk];
  int64_t skip = cut;
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, log)) > 0) {
    std::size_t start = 0;
    if (skip > 0) {
      const auto skipped =
          static_cast<std::size_t>(skip < static_cast<int64_t>(n) ? skip : static_cast<int64_t>(n));
      skip -= static_cast<int64_t>(skipped);
      start = skipped;
    }
    if (start < n && !sink.write({buffer + start, n - start})) return false;
  }
  read_failed = std::ferror(log) != 0;
  return !read_failed;
}

int trim_and_append(std::FILE* log, const char* path, const std::string& shown,
                    const std::string& text, int64_t size, int64_t keep) {
  int64_t cut = 0;
  if (!find_cut(log, size - keep, size, cut)) {
    std::fclose(log);
    u_log_fn("u_log_to_file: error accessing file '%s'\n", shown.c_str());
    return ERR_FILE_IO;
  }
  std::string temp;
  int os_error = 0;
  std::FILE* out = felbrin::make_temp_file("_log", temp, &os_error);
  if (out == nullptr) {
    std::fclose(log);
    u_log_fn("u_log_to_file: cannot obtain temp file name\n");
    return ERR_CANT_CREATE_FILE;
  }
  felbrin::StreamSink sink(out);
  bool read_failed = false;
  const bool copied = copy_from(log, cut, sink, read_failed) && sink.write(text);
  // The log must be closed before the copy replaces it (Windows keeps an
  // open file from being replaced).
  std::fclose(log);
  const std::string shown_temp = plat::display_path(temp.c_str());
  if (felbrin::close_written(out, copied ? 0 : 1, 1) != 0) {
    u_log_fn(read_failed ? "u_log_to_file: error accessing file '%s'\n"
                         : "u_log_to_file: error writing file '%s'\n",
             read_failed ? shown.c_str() : shown_temp.c_str());
    plat::remove_file(temp.c_str());
    return ERR_FILE_IO;
  }
  const int rc = felbrin::copy_temp_file(temp.c_str(), path);
  if (rc != 0) {
    u_log_fn("u_log_to_file: cannot copy temp file '%s' to '%s'\n", shown_temp.c_str(),
             shown.c_str());
    return rc;
  }
  plat::remove_file(temp.c_str());
  return 0;
}

}  // namespace

int u_log_to_file(const char* path, const char* text, int64_t limit, int64_t keep) {
  if (path == nullptr) return ERR_INVALID_PARAM;
  const std::string shown = plat::display_path(path);
  std::FILE* log = plat::open_file(path, "a+b");
  if (log == nullptr) {
    // A log that cannot be opened is of no use to anyone: start a new one.
    // Only a file is ever removed, never a folder, a device or a link.
    plat::remove_regular_file(path);
    log = plat::open_file(path, "w+b");
  }
  if (log == nullptr) {
    u_log_fn("u_log_to_file: error accessing file '%s'\n", shown.c_str());
    return ERR_FILE_IO;
  }
  const std::string bytes = with_line_ends(text);
  int64_t size = 0;
  int64_t mtime = 0;
  if (limit > 0 && plat::host::file_size_mtime(path, size, mtime) && size >= limit && 0 < keep &&
      keep < size) {
    return trim_and_append(log, path, shown, bytes, size, keep);
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), log) == bytes.size();
  if (felbrin::close_written(log, written ? 0 : 1, 1) != 0) {
    u_log_fn("u_log_to_file: error writing file '%s'\n", shown.c_str());
    return ERR_FILE_IO;
  }
  return 0;
}
