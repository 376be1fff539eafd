// The file kinds calcheck checks: how each is recognised, read through the
// library's own reader, and shown. One table serves detection, --kind, the
// reports and --show.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace calcheck {

// One thing a reader said about a file.
struct Finding {
  int line = 0;  // 0 when the reader does not say where
  bool error = true;
  std::string text;
};

struct Checked {
  int rc = 0;  // the reader's code
  std::vector<Finding> findings;
  std::string shown;  // what --show prints, when asked for
  bool clean() const {
    if (rc != 0) return false;
    for (const Finding& f : findings)
      if (f.error) return false;
    return true;
  }
};

struct FileKind {
  std::string_view name;   // as --kind takes it and reports name it
  std::string_view title;  // "Lumen materials file"
  // Reads the file; fills `shown` when `show`.
  Checked (*check)(const char* path, bool show);
};

std::span<const FileKind> file_kinds();
// Null for a name that is not a kind.
const FileKind* find_kind(std::string_view name);
// The kinds' names for a message: "calibration, materials, ...".
std::string kind_names();
// The kind a file's content marks, else the one its name says; null when
// neither tells. A file that cannot be opened is taken for a calibration
// file, the kind the library searches for by name.
const FileKind* detect_kind(const char* path);

}  // namespace calcheck
