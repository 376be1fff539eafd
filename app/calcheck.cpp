#include "app/calcheck.h"

#include <string>
#include <string_view>
#include <vector>

#include "app/messages.h"
#include "common/dirs.h"
#include "common/util.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_grammar.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"

namespace calcheck {
namespace {

constexpr char kUsageText[] =
    "Usage: calcheck [options] FILE...\n"
    "Reads each system calibration file as the library does and prints the\n"
    "reader's messages as FILE:LINE: message on standard error.\n"
    "\n"
    "Options:\n"
    "  --show      list the values read, as Keyword = values lines\n"
    "  --rewrite   write each file that read cleanly back in the library's layout\n"
    "  --help      print this text\n"
    "\n"
    "Exit codes: 0 every file read cleanly, 1 some file had messages or could\n"
    "not be read or written, 2 usage error.\n";

struct Options {
  bool show = false;
  bool rewrite = false;
};

// Messages the reader counts as errors arrived so far in this read; anything
// else it prints (a setting it made, a missing optional line) is a note.
int counted_errors = 0;

void annotate(app::LibraryMessage& m) {
  const felbrin::CalReadContext& context = felbrin::cal_read_context();
  m.line = context.line;
  m.error = context.error_count > counted_errors;
  counted_errors = context.error_count;
}

// The file is named on every line, so the library's heading goes.
void drop_heading(std::string& text) {
  for (std::string_view heading :
       {"Error(s) reading system calibration ", "Error writing system calibration file"}) {
    if (!text.starts_with(heading)) continue;
    const std::size_t end = text.find(":\n");
    if (end != std::string::npos) text.erase(0, end + 2);
  }
}

// Prints the messages; returns whether any was an error.
bool report(std::FILE* err, std::string_view file, std::vector<app::LibraryMessage> messages) {
  bool errors = false;
  for (app::LibraryMessage& m : messages) {
    if (m.text.starts_with("Reading system calibration file: ")) continue;
    drop_heading(m.text);
    errors = errors || m.error;
    app::print_message(err, file, m.line, m.error ? m.text : "note: " + m.text);
  }
  return errors;
}

void show(std::FILE* out, std::string_view file, const sysInfo_t& info) {
  std::string text = "# " + std::string(file) + "\n";
  for (const felbrin::cal::ShownLine& line : felbrin::cal::shown_lines(info)) {
    // A line without values (a flag) is its keyword alone.
    text += line.keyword + (line.values.empty() ? "" : " = " + line.values) + "\n";
  }
  std::fputs(text.c_str(), out);
}

// The lookup finds a relative name in the working folder as "./name" or
// ".\\name": that is the name as given, not worth a line of its own.
bool same_file_name(std::string_view given, std::string_view found) {
  if (found == given) return true;
  return found.size() == given.size() + 2 && found[0] == '.' && found[1] == plat::kSep &&
         found.ends_with(given);
}

// Reads one file and does what was asked; true when all went well.
bool check(const Options& o, const char* path, std::FILE* out, std::FILE* err) {
  const std::string file = plat::display_path(path);
  int rc = 0;
  bool errors = false;
  {
    counted_errors = 0;
    app::MessageCollector collector(annotate);
    // Each file from a slot that was never read: a read keeps some values
    // of the last one, which would pass from one file into the next.
    sb_clearCal(0);
    rc = sb_readCal(0, path);
    errors = report(err, file, collector.take());
  }
  // The reader names the file it found only when it found one.
  const std::string& found = sysInfo[0].calFilePath;
  if (found.empty()) {
    std::string places;
    bool seen = false;  // found, but not readable: the reader said why
    for (const std::string& place : u_file_search_places(path)) {
      places += (places.empty() ? "" : ", ") + plat::display_path(place.c_str());
      seen = seen || u_file_exists(place.c_str());
    }
    if (!seen)
      app::print_message(err, file, 0,
                         "not found; looked at " + (places.empty() ? "no place" : places));
  } else if (!same_file_name(path, found)) {
    app::print_message(err, file, 0, "note: read " + plat::display_path(found.c_str()));
  }
  if (rc != 0) app::print_code(err, file, "cannot be read", rc);
  const bool clean = rc == 0 && !errors;
  if (o.show && rc == 0) show(out, file, sysInfo[0]);
  if (!o.rewrite) return clean;
  if (!clean) {
    app::print_message(err, file, 0, "not rewritten: it did not read cleanly");
    return false;
  }
  // The file that was read, wherever the reader found it.
  const std::string destination = found;
  app::MessageCollector collector([](app::LibraryMessage& m) { m.error = true; });
  const int wrc = sb_writeCal(0, destination.c_str());
  report(err, file, collector.take());
  if (wrc != 0) {
    app::print_code(err, file, "cannot be rewritten", wrc);
    return false;
  }
  if (!same_file_name(path, destination)) {
    app::print_message(err, file, 0, "note: rewrote " + plat::display_path(destination.c_str()));
  }
  return true;
}

}  // namespace

int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  app::CommandLine line;
  const int code = app::parse_command_line(argc, argv, {"--show", "--rewrite"}, "calcheck",
                                           kUsageText, kUsage, out, err, line);
  if (code >= 0) return code;
  Options o;
  for (std::string_view option : line.options) {
    o.show = o.show || option == "--show";
    o.rewrite = o.rewrite || option == "--rewrite";
  }
  bool all_clean = true;
  for (const char* path : line.files) all_clean = check(o, path, out, err) && all_clean;
  return all_clean ? kClean : kProblems;
}

}  // namespace calcheck
