#include "app/data_input.h"

#include <string>
#include <vector>

#include "app/messages.h"
#include "common/errors.h"
#include "data/ascii_file.h"
#include "data/binary_file.h"

namespace app {
namespace {

// The ASCII reader names the line it failed on in its log message.
int failed_line(const std::vector<LibraryMessage>& messages) {
  int line = 0;
  for (const LibraryMessage& m : messages) {
    if (std::sscanf(m.text.c_str(), "-***- Error in Line %d -***-", &line) == 1) return line;
  }
  return 0;
}

}  // namespace

DataFileRead read_data_file(const char* path, felbrin::DataSet& d) {
  DataFileRead r;
  r.rc = df_read_binary_file(path, &d.source, &d.header, &d.intensity, &d.phase);
  if (r.rc == ERR_NOT_A_DATA_FILE) {
    MessageCollector collector;
    const int ascii = df_read_ascii_file(path, &d.source, &d.header, &d.intensity, &d.phase);
    if (ascii != ERR_UNKNOWN_ASCII_FORMAT_TYPE) {
      r.format = "ascii";
      r.rc = ascii;
      r.line = failed_line(collector.take());
    }
  }
  return r;
}

void print_read_problem(std::FILE* err, std::string_view file, const DataFileRead& r) {
  if (r.rc == ERR_NOT_A_DATA_FILE) {
    print_message(err, file, 0, "not a binary or ASCII data file");
    return;
  }
  print_message(err, file, r.line,
                std::string("cannot be read as ") + r.format + " data file: " + err_name(r.rc) +
                    " (" + std::to_string(r.rc) + ")");
}

}  // namespace app
