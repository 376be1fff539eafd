#include "app/calcheck.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/datinfo.h"
#include "app/file_kinds.h"
#include "app/messages.h"
#include "common/dirs.h"
#include "common/errors.h"
#include "common/util.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/pifoc_internal.h"
#include "instrument/motion/mc_axis.h"
#include "instrument/record/sys_info.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

namespace calcheck {
namespace {

constexpr char kUsageText[] =
    "Usage: calcheck [options] FILE...\n"
    "Reads each file as the library does, through the library's own reader, and\n"
    "prints what the reader says as FILE:LINE: message on standard error, and\n"
    "FILE: ok (KIND) on standard output for each file that read cleanly. The\n"
    "kind comes from the content where the format marks it, else from the\n"
    "file's name. Kinds: calibration, materials (Lumen materials), zoom\n"
    "(encoded zoom magnification calibration), pifoc (pifoc info), lcdmi,\n"
    "pairs (coordinate pairs), ramp (ramp data), ramp-config, motion (motion\n"
    "controller configuration), bad-pixels (camera bad pixels), binary and\n"
    "ascii (data files).\n"
    "\n"
    "Options:\n"
    "  --kind K    read every file as kind K\n"
    "  --show      list what the reader took\n"
    "  --deep      with a calibration file, also check every file it names that\n"
    "              the library would open, found as the library finds it\n"
    "  --rewrite   write each calibration file that read cleanly back in the\n"
    "              library's layout\n"
    "  --json      one JSON line per message and per file, on standard output\n"
    "  -q          no ok lines and no notes\n"
    "  --help      print this text\n"
    "\n"
    "Exit codes: 0 every file read cleanly, 1 some file had messages or could\n"
    "not be read or written, 2 usage error.\n";

struct Options {
  const FileKind* kind = nullptr;  // null: from each file
  bool show = false;
  bool deep = false;
  bool rewrite = false;
  bool json = false;
  bool quiet = false;
};

// Where each file's findings go, as text lines or JSON lines.
class Output {
 public:
  Output(const Options& o, std::FILE* out, std::FILE* err) : o_(o), out_(out), err_(err) {}

  void finding(std::string_view file, std::string_view kind, const Finding& f, int rc) {
    if (!f.error && o_.quiet) return;
    if (o_.json) {
      json_line(file, kind, f.line, f.error ? "error" : "note", rc, f.text);
    } else {
      app::print_message(err_, file, f.line, f.error ? f.text : "note: " + f.text);
    }
  }
  void code(std::string_view file, std::string_view kind, std::string_view what, int rc) {
    if (o_.json) {
      json_line(file, kind, 0, "error", rc, std::string(what));
    } else {
      app::print_code(err_, file, what, rc);
    }
  }
  // The file's own line: ok, or what kept it from being.
  void verdict(std::string_view file, std::string_view kind, bool clean, int rc) {
    if (o_.json) {
      json_line(file, kind, 0, clean ? "ok" : "error", rc, clean ? "ok" : "has problems");
    } else if (clean && !o_.quiet) {
      std::fputs((std::string(file) + ": ok (" + std::string(kind) + ")\n").c_str(), out_);
    }
  }
  void shown(std::string_view file, const std::string& text) {
    if (o_.json) return;
    // A listing may quote what the file holds, NUL bytes included.
    std::fputs(("# " + std::string(file) + "\n" + app::printable(text, "\n\t")).c_str(), out_);
  }

 private:
  void json_line(std::string_view file, std::string_view kind, int line, std::string_view severity,
                 int rc, const std::string& text) {
    const std::string j = "{\"file\": " + datinfo::json_string(file) +
                          ", \"kind\": " + (kind.empty() ? "null" : datinfo::json_string(kind)) +
                          ", \"line\": " + (line > 0 ? std::to_string(line) : "null") +
                          ", \"severity\": \"" + std::string(severity) +
                          "\", \"code\": " + std::to_string(rc) +
                          ", \"code_name\": " + datinfo::json_string(rc != 0 ? err_name(rc) : "") +
                          ", \"text\": " + datinfo::json_string(text) + "}\n";
    std::fputs(j.c_str(), out_);
  }
  const Options& o_;
  std::FILE* out_;
  std::FILE* err_;
};

// The lookup finds a relative name in the working folder as "./name" or
// ".\\name": that is the name as given, not worth a line of its own.
bool same_file_name(std::string_view given, std::string_view found) {
  if (found == given) return true;
  return found.size() == given.size() + 2 && found[0] == '.' && found[1] == plat::kSep &&
         found.ends_with(given);
}

// "looked at" and the places the library's search for `name` tries.
std::string looked_at(const char* name) {
  std::string places;
  for (const std::string& place : u_file_search_places(name))
    places += (places.empty() ? "" : ", ") + plat::display_path(place.c_str());
  return "looked at " + (places.empty() ? std::string("no place") : places);
}

// Where the calibration reader looked, when it found nothing; empty when it
// found the file (then it said why it could not read it).
std::string not_found_message(const char* path) {
  const std::vector<std::string> places = u_file_search_places(path);
  const bool seen = std::any_of(places.begin(), places.end(),
                                [](const std::string& p) { return u_file_exists(p.c_str()); });
  return seen ? "" : "not found; " + looked_at(path);
}

// Writes the calibration file back where the reader found it; true when done.
bool rewrite(Output& output, const std::string& file, std::string_view kind) {
  const std::string destination = sysInfo[0].calFilePath;
  app::MessageCollector collector([](app::LibraryMessage& m) { m.error = true; });
  const int wrc = sb_writeCal(0, destination.c_str());
  for (app::LibraryMessage& m : collector.take()) {
    const std::size_t end = m.text.find(":\n");
    if (m.text.starts_with("Error writing system calibration file") && end != std::string::npos)
      m.text.erase(0, end + 2);
    output.finding(file, kind, {m.line, true, m.text}, wrc);
  }
  if (wrc != 0) {
    output.code(file, kind, "cannot be rewritten", wrc);
    return false;
  }
  if (!same_file_name(file, destination))
    output.finding(file, kind, {0, false, "rewrote " + plat::display_path(destination.c_str())}, 0);
  return true;
}

// A file a calibration file names: its kind, and where the library would
// open it (empty with `missing` telling where it looked).
struct NamedFile {
  std::string_view kind;
  std::string path;
  std::string missing;
  bool optional = false;  // the library does without it
};

NamedFile found_by_search(std::string_view kind, const std::string& name) {
  const char* found = nullptr;
  if (u_find_file(name.c_str(), &found) == 0) return {kind, found, ""};
  return {kind, "", name + " not found; " + looked_at(name.c_str())};
}

NamedFile at_path(std::string_view kind, const std::string& path) {
  if (u_file_exists(path.c_str())) return {kind, path, ""};
  return {kind, "", plat::display_path(path.c_str()) + " not found"};
}

// The files the library would open for the record just read, each found as
// the library finds it.
std::vector<NamedFile> named_files(const sysInfo_t& s) {
  std::vector<NamedFile> files;
  const std::string& motion = s.motionCtrl[0];
  if (!motion.empty() && !s.motionCtrl[1].empty() &&
      mc_driver_kind_for(s.motionCtrl[1].c_str()) != MC_KIND_WRAPPER) {
    files.push_back(motion.front() == '/' ? at_path("motion", motion)
                                          : found_by_search("motion", motion));
  }
  if (s.systemType == SYS_LUMEN && s.lumenInfo)
    files.push_back(found_by_search("materials", s.lumenInfo->materialsFile));
  if (s.encZoom) {
    files.push_back(found_by_search("zoom", s.encZoom->calFile.empty()
                                                ? u_path_join("Kite", "ZoomCal.txt")
                                                : s.encZoom->calFile));
  }
  if (s.badPixelMode == 1) {
    const std::string name = !s.badPixelFile.empty()
                                 ? s.badPixelFile
                                 : "bpix_" + std::to_string(s.serialNumber) + ".dat";
    const char* config = u_config_dir();
    files.push_back(config != nullptr
                        ? at_path("bad-pixels", u_path_join(config, name))
                        : NamedFile{"bad-pixels", "", name + ": no configuration folder"});
  }
  if (s.pifoc && s.instrBdType != BD_CAN)
    files.push_back(at_path("pifoc", felbrin::pifoc_info_path(s)));
  // u_ramps_dir makes the ramp folder when it is missing; a check makes
  // nothing, so it is asked only when there is one.
  const char* env = std::getenv("FB_RAMPS_DIR");
  const char* config = u_config_dir();
  const bool have_ramps =
      (env != nullptr && *env != '\0') ||
      (config != nullptr && plat::is_directory(u_path_join(config, "ramps").c_str()));
  if (const char* ramps = have_ramps ? u_ramps_dir() : nullptr;
      ramps != nullptr && *ramps != '\0') {
    // Without its ramp configuration the library takes the ramp files of
    // the folder that carry the instrument's serial number.
    NamedFile ramp_config = at_path("ramp-config", u_path_join(ramps, s.rampConfigFile));
    ramp_config.optional = true;
    files.push_back(ramp_config);
    std::vector<std::string> names;
    plat::host::list_dir(ramps, [&](const char* name) {
      names.emplace_back(name);
      return true;
    });
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = u_path_join(ramps, name);
      if (detect_kind(path.c_str()) == find_kind("ramp")) files.push_back({"ramp", path, ""});
    }
  }
  return files;
}

// Reads one file and does what was asked; true when all went well.
bool check(const Options& o, Output& output, const char* path, const FileKind* kind,
           int depth = 0) {
  const std::string file = plat::display_path(path);
  if (kind == nullptr) kind = o.kind != nullptr ? o.kind : detect_kind(path);
  if (kind == nullptr) {
    output.finding(
        file, "",
        {0, true,
         "cannot tell what kind of file this is; name it with --kind (" + kind_names() + ")"},
        0);
    output.verdict(file, "", false, 0);
    return false;
  }
  const bool calibration = kind->name == "calibration";
  Checked c = kind->check(path, o.show);
  if (calibration) {
    // The reader names the file it found only when it found one.
    const std::string& found = sysInfo[0].calFilePath;
    if (found.empty()) {
      if (const std::string missing = not_found_message(path); !missing.empty())
        c.findings.push_back({0, true, missing});
    } else if (!same_file_name(path, found)) {
      c.findings.push_back({0, false, "read " + plat::display_path(found.c_str())});
    }
  }
  for (const Finding& f : c.findings) output.finding(file, kind->name, f, c.rc);
  if (c.rc != 0) output.code(file, kind->name, "cannot be read", c.rc);
  bool clean = c.clean();
  if (o.show && c.rc == 0) output.shown(file, c.shown);
  if (calibration && o.rewrite && depth == 0) {
    if (!clean) {
      output.finding(file, kind->name, {0, true, "not rewritten: it did not read cleanly"}, c.rc);
    } else {
      clean = rewrite(output, file, kind->name);
    }
  }
  // The files it names: a missing one is the calibration file's problem,
  // told before its verdict; those found are checked after it.
  std::vector<NamedFile> named;
  if (calibration && o.deep && depth == 0 && c.rc == 0) named = named_files(sysInfo[0]);
  for (const NamedFile& n : named) {
    if (!n.path.empty()) continue;
    output.finding(file, kind->name, {0, !n.optional, n.missing}, 0);
    clean = clean && n.optional;
  }
  output.verdict(file, kind->name, clean, c.rc);
  for (const NamedFile& n : named) {
    if (!n.path.empty())
      clean = check(o, output, n.path.c_str(), find_kind(n.kind), depth + 1) && clean;
  }
  return clean;
}

}  // namespace

int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  app::CommandLine line;
  const int code =
      app::parse_command_line(argc, argv, {"--show", "--rewrite", "--deep", "--json", "-q"},
                              "calcheck", kUsageText, kUsage, out, err, line, {"--kind"});
  if (code >= 0) return code;
  Options o;
  for (std::string_view option : line.options) {
    o.show = o.show || option == "--show";
    o.rewrite = o.rewrite || option == "--rewrite";
    o.deep = o.deep || option == "--deep";
    o.json = o.json || option == "--json";
    o.quiet = o.quiet || option == "-q";
  }
  for (const auto& [name, value] : line.values) {
    o.kind = find_kind(value);
    if (o.kind == nullptr) {
      std::fprintf(err, "calcheck: unknown kind \"%s\"; the kinds are %s (see calcheck --help)\n",
                   std::string(value).c_str(), kind_names().c_str());
      return kUsage;
    }
  }
  Output output(o, out, err);
  bool all_clean = true;
  for (const char* path : line.files) all_clean = check(o, output, path, nullptr) && all_clean;
  return all_clean ? kClean : kProblems;
}

}  // namespace calcheck
