#include "app/file_kinds.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/data_input.h"
#include "app/datinfo.h"
#include "app/messages.h"
#include "common/dirs.h"
#include "common/errors.h"
#include "common/number_format.h"
#include "common/pairs.h"
#include "common/pairs_internal.h"
#include "common/util.h"
#include "data/binary_file.h"
#include "instrument/acquisition/cam_bad.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_grammar.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/calibration/cal_tokens.h"
#include "instrument/calibration/enc_zoom.h"
#include "instrument/calibration/lcdmi.h"
#include "instrument/calibration/lumen_materials.h"
#include "instrument/calibration/pifoc_internal.h"
#include "instrument/motion/mc_config.h"
#include "instrument/motion/mc_config_internal.h"
#include "instrument/ramps/ramp_config.h"
#include "instrument/ramps/ramp_file.h"
#include "instrument/ramps/ramp_file_internal.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"

namespace calcheck {
namespace {

std::string g(double v) { return fmt_g_string(v); }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// ---- what the readers say

// The line a library message names, 0 when none: "... in line 7", "Line 7:",
// "-***- ... in Line 7 ...".
int line_named(std::string_view text) {
  for (std::string_view mark : {"in line ", "in Line ", "Line "}) {
    std::size_t at = text.find(mark);
    if (mark == "Line " && at != 0) continue;  // only at the start
    if (at == std::string_view::npos) continue;
    at += mark.size();
    int line = 0;
    bool digits = false;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      if (line > 99999999) return 0;  // no line of a file; a number quoted from one
      line = line * 10 + (text[at++] - '0');
      digits = true;
    }
    if (digits) return line;
  }
  return 0;
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return std::string(text);
}

// Messages a reader logged, as findings. A message that only tells the line
// of the one before ("\tError in line 7", "Line 7:\n<text>") gives that
// line to both. Messages starting with a prefix of `notes` are notes; those
// starting with one of `dropped` (the reader naming the file it reads, which
// every line names anyway) are left out.
std::vector<Finding> findings_of(const std::vector<app::LibraryMessage>& messages,
                                 std::initializer_list<std::string_view> notes,
                                 std::initializer_list<std::string_view> dropped = {}) {
  std::vector<Finding> out;
  for (const app::LibraryMessage& m : messages) {
    std::string text = trimmed(m.text);
    if (text.empty()) continue;
    if (std::any_of(dropped.begin(), dropped.end(),
                    [&](std::string_view d) { return text.starts_with(d); }))
      continue;
    std::replace(text.begin(), text.end(), '\t', ' ');  // the readers indent with tabs
    Finding f;
    f.text = text;
    f.line = line_named(text);
    f.error = std::none_of(notes.begin(), notes.end(),
                           [&](std::string_view n) { return text.starts_with(n); });
    const bool line_mark = text.starts_with("Error in line ") || text.starts_with("Line ");
    if (line_mark && f.line > 0 && !out.empty() && out.back().line == 0) out.back().line = f.line;
    out.push_back(std::move(f));
  }
  return out;
}

// A reader that hands its problem back as text ("Error reading ... "<name>"",
// the reason, "Error in line N:", the line): one finding, the heading left
// out, the rest on one line.
std::vector<Finding> findings_of_text(const std::string& message) {
  if (message.empty()) return {};
  Finding f;
  std::string rest;
  std::size_t start = 0;
  bool first = true;
  while (start <= message.size()) {
    std::size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    const std::string line = trimmed(std::string_view(message).substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    const bool heading = first && line.starts_with("Error reading ");
    first = false;
    if (heading) continue;
    if (line.starts_with("Error in line ")) {
      f.line = line_named(line);
      continue;
    }
    rest += (rest.empty() ? "" : " ") + line;
  }
  f.text = rest.empty() ? trimmed(message) : rest;
  return {f};
}

// ---- the kinds

// Messages the calibration reader counts as errors arrived so far in this
// read; anything else it prints (a setting it made, a missing optional
// line) is a note.
int g_counted_errors = 0;

void annotate_calibration(app::LibraryMessage& m) {
  const felbrin::CalReadContext& context = felbrin::cal_read_context();
  m.line = context.line;
  m.error = context.error_count > g_counted_errors;
  g_counted_errors = context.error_count;
}

Checked check_calibration(const char* path, bool show) {
  Checked c;
  {
    g_counted_errors = 0;
    app::MessageCollector collector(annotate_calibration);
    // Each file from a slot that was never read: a read keeps some values
    // of the last one, which would pass from one file into the next.
    sb_clearCal(0);
    c.rc = sb_readCal(0, path);
    for (app::LibraryMessage& m : collector.take()) {
      if (m.text.starts_with("Reading system calibration file: ")) continue;
      // The file is named on every line, so the library's heading goes.
      for (std::string_view heading :
           {"Error(s) reading system calibration ", "Error writing system calibration file"}) {
        if (!m.text.starts_with(heading)) continue;
        const std::size_t end = m.text.find(":\n");
        if (end != std::string::npos) m.text.erase(0, end + 2);
      }
      c.findings.push_back({m.line, m.error, m.text});
    }
  }
  if (show && c.rc == 0) {
    for (const felbrin::cal::ShownLine& line : felbrin::cal::shown_lines(sysInfo[0])) {
      // A line without values (a flag) is its keyword alone.
      c.shown += line.keyword + (line.values.empty() ? "" : " = " + line.values) + "\n";
    }
  }
  return c;
}

Checked check_materials(const char* path, bool show) {
  Checked c;
  lumen_materials_t list;
  {
    app::MessageCollector collector;
    c.rc = lumen_readMaterials(path, &list);
    // The reader follows a refused line with the rule, and a failed read
    // with the heading, the line format and a sample: notes.
    c.findings =
        findings_of(collector.take(),
                    {"Accepted ", "The ", "File heading", "Line format description", "Sample line"},
                    {"Reading Lumen materials file", "Error(s) reading Lumen materials file"});
  }
  if (show && c.rc == 0) {
    c.shown = std::to_string(list.count) + " entries\n";
    for (int i = 0; i < list.count; ++i) {
      const lumen_material_t& m = list.entries[i];
      if (m.number == LUMEN_COMMENT_ENTRY) {
        c.shown += std::string(m.comment) + "\n";
        continue;
      }
      const auto value = [](double v) { return v == LUMEN_NOT_GIVEN ? "not given" : g(v); };
      c.shown += std::to_string(m.number) + " \"" + m.name + "\" n = " + value(m.n) +
                 ", k = " + value(m.k) + ", pcor = " + value(m.pcor) + "\n";
    }
  }
  return c;
}

std::string pairs_text(const u_pair_table_t& table, std::string_view x, std::string_view y) {
  std::string out =
      std::to_string(table.count) + " pairs (" + std::string(x) + ", " + std::string(y) + ")\n";
  for (const u_pair_t& p : table.view()) out += g(p.x) + " " + g(p.y) + "\n";
  return out;
}

Checked check_zoom(const char* path, bool show) {
  Checked c;
  u_pair_table_t table;
  std::string message;
  c.rc = kite_enc_zoom_read_cal(path, &table, &message);
  c.findings = findings_of_text(message);
  if (show && c.rc == 0) c.shown = pairs_text(table, "encoder position", "magnification");
  return c;
}

Checked check_pifoc(const char* path, bool show) {
  Checked c;
  const File f(plat::open_file(path, "rb"));
  if (!f) {
    c.rc = ERR_CANT_OPEN_FILE;
    return c;
  }
  felbrin::PifocInfo info;
  {
    app::MessageCollector collector;
    c.rc = felbrin::read_pifoc_info_stream(f.get(), plat::display_path(path).c_str(), &info);
    c.findings = findings_of(collector.take(), {});
  }
  if (show && c.rc == 0) {
    c.shown = "te = " + std::to_string(info.te) + "\nt1 = " + std::to_string(info.t1) +
              "\nleakage = " + std::to_string(info.leakage) + "\n";
  }
  return c;
}

Checked check_lcdmi(const char* path, bool show) {
  Checked c;
  lcdmi_config_t config{};
  std::string message;
  c.rc = lcdmi_read_config(path, &config, &message);
  c.findings = findings_of_text(message);
  if (show && c.rc == 0) {
    c.shown = "diagOpts = " + std::to_string(config.diagOpts) +
              "\navgInputs = " + std::to_string(config.avgInputs) +
              "\nprimChan = " + std::to_string(config.primChan) + "\n";
    for (const auto& ch : config.chan) {
      c.shown += "channel " + std::to_string(ch.id) + (ch.disabled ? " disabled" : "") +
                 ": output " + std::to_string(ch.outputType) + ", resolution " +
                 std::to_string(ch.resolution) + ", scale " + g(ch.scaleFactor) + ", label \"" +
                 std::string(ch.label) + "\"\n";
    }
  }
  return c;
}

Checked check_pairs(const char* path, bool show) {
  Checked c;
  u_pair_table_t table;
  {
    app::MessageCollector collector;
    c.rc = u_read_pairs(path, &table);
    c.findings = findings_of(collector.take(), {});
  }
  if (show && c.rc == 0) c.shown = pairs_text(table, "x", "y");
  return c;
}

Checked check_ramp(const char* path, bool show) {
  Checked c;
  rr_ramp_hdr_t hdr{};
  uint16_t* points = nullptr;
  c.rc = rr_read_ramp_file(path, &hdr, &points);
  if (show && c.rc == 0) {
    // The library's own listing of the header.
    felbrin::StringSink sink;
    (void)felbrin::dump_ramp(sink, hdr, nullptr, false);
    std::string& dump = sink.text;
    dump.erase(std::remove(dump.begin(), dump.end(), '\r'), dump.end());
    c.shown = dump;
    if (hdr.nPoints > 0) {
      const auto [low, high] = std::minmax_element(points, points + hdr.nPoints);
      c.shown += "points: " + std::to_string(hdr.nPoints) + ", lowest " + std::to_string(*low) +
                 ", highest " + std::to_string(*high) + "\n";
    }
  }
  rr_release_points(&points);
  return c;
}

Checked check_ramp_config(const char* path, bool show) {
  Checked c;
  rr_ramp_line_t* lines = nullptr;
  int count = 0;
  {
    app::MessageCollector collector;
    c.rc = rr_read_ramp_config(path, &lines, &count);
    // The reader follows a refused line with the rule and a sample: notes.
    c.findings = findings_of(collector.take(), {"Accepted ", "Allowed ", "Format description"},
                             {"Error reading ramp config file"});
  }
  if (show && c.rc == 0) {
    c.shown = std::to_string(count) + " ramps\n";
    for (int i = 0; i < count; ++i) {
      const rr_ramp_line_t& r = lines[i];
      c.shown += "type " + std::to_string(r.type) + " \"" + r.fileName + "\": scan " +
                 g(r.scanLen) + " um, camera " + g(r.cameraRate) + " Hz, slope " + g(r.rampSlope) +
                 " nm/frame, objective " + g(r.objMag) + "x\n";
    }
  }
  rr_release_ramp_lines(&lines);
  return c;
}

Checked check_motion(const char* path, bool show) {
  Checked c;
  const File f(plat::open_file(path, "rb"));
  if (!f) {
    c.rc = ERR_CANT_OPEN_FILE;
    return c;
  }
  // Against the defaults of an empty calibration, so that checking a
  // configuration never reads the host's calibration file.
  mc_config_t config;
  mc_config_defaults(&config);
  const sysInfo_t cal{};
  {
    app::MessageCollector collector;
    c.rc = felbrin::mc_read_config_stream(f.get(), cal, config);
    c.findings = findings_of(collector.take(), {});
  }
  if (show && c.rc == 0) {
    c.shown = "config \"" + config.configName + "\" " + std::to_string(config.configNums[0]) + " " +
              std::to_string(config.configNums[1]) + "\n";
    for (int a = 0; a < MC_AXES; ++a) {
      const mc_axis_config_t& x = config.axes[a];
      if ((x.flags1 & MC_GOT_AXIS) == 0) continue;
      c.shown += "axis " + std::to_string(a) + (x.name != 0 ? std::string(" ") + x.name : "") +
                 ": steps/rev " + std::to_string(x.stepsPerRev) + ", encoder steps " +
                 g(x.encSteps) + ", travel " + g(x.travel[1]) + " to " + g(x.travel[2]) +
                 ", home type " + std::to_string(x.homeType) +
                 (x.axisComp.empty() ? "" : ", compensation \"" + x.axisComp + "\"") + "\n";
    }
  }
  return c;
}

Checked check_bad_pixels(const char* path, bool show) {
  Checked c;
  cam_bad_table_ptr table(
      static_cast<cam_bad_entry_t*>(u_calloc_fn(CAM_BAD_MAX_CAMERAS, sizeof(cam_bad_entry_t))));
  if (!table) {
    c.rc = ERR_NO_MEM;
    return c;
  }
  int count = 0;
  std::string message;
  c.rc = cam_bad_file_read(path, table.get(), &count, &message);
  c.findings = findings_of_text(message);
  if (show && c.rc == 0) {
    c.shown = std::to_string(count) + " camera set-ups\n";
    for (int i = 0; i < count; ++i) {
      const cam_bad_entry_t& e = table.get()[i];
      c.shown += "grab mode " + std::to_string(e.grabMode) + ", " + std::to_string(e.sizeX) +
                 " x " + std::to_string(e.sizeY) + " at " + g(e.grabRate) +
                 " Hz: " + std::to_string(e.badPixels.count) + " bad pixels\n";
    }
  }
  return c;
}

Checked check_data(const char* path, bool show, const char* format) {
  Checked c;
  felbrin::DataSet d;
  const app::DataFileRead r = app::read_data_file(path, d);
  c.rc = r.rc;
  if (r.rc == 0 && std::string_view(r.format) != format) c.rc = ERR_NOT_A_DATA_FILE;
  if (r.rc != 0 && r.line > 0) c.findings.push_back({r.line, true, "the reader stopped here"});
  if (show && c.rc == 0) c.shown = datinfo::report_text(plat::display_path(path), format, d);
  return c;
}

constexpr FileKind kKinds[] = {
    {"calibration", "calibration file", check_calibration},
    {"materials", "Lumen materials file", check_materials},
    {"zoom", "encoded zoom magnification calibration", check_zoom},
    {"pifoc", "pifoc info file", check_pifoc},
    {"lcdmi", "LCDMI configuration", check_lcdmi},
    {"pairs", "coordinate pair file", check_pairs},
    {"ramp", "ramp data file", check_ramp},
    {"ramp-config", "ramp configuration file", check_ramp_config},
    {"motion", "motion controller configuration", check_motion},
    {"bad-pixels", "camera bad-pixel file", check_bad_pixels},
    {"binary", "binary data file",
     [](const char* p, bool s) { return check_data(p, s, "binary"); }},
    {"ascii", "ASCII data file", [](const char* p, bool s) { return check_data(p, s, "ascii"); }},
};

// ---- recognising a file

uint32_t big_endian_u32(std::string_view head) {
  if (head.size() < 4) return 0;
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v = (v << 8) | static_cast<unsigned char>(head[static_cast<std::size_t>(i)]);
  return v;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

// The lines of the head of a file that say something: not blank.
std::vector<std::string> significant_lines(std::string_view head, std::size_t most) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < head.size() && lines.size() < most) {
    std::size_t end = head.find('\n', start);
    if (end == std::string_view::npos) end = head.size();
    std::string line = trimmed(head.substr(start, end - start));
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string_view first_word(std::string_view line) {
  const std::size_t end = line.find_first_of(" \t");
  return line.substr(0, end);
}

// The kind the content marks, or an empty name.
std::string_view kind_of_content(std::string_view head) {
  const uint32_t magic = big_endian_u32(head);
  if (df_header_length(magic) != 0) return "binary";
  if (magic == 0x52414D51u) return "ramp";  // "RAMQ"
  const std::vector<std::string> lines = significant_lines(head, 40);
  if (lines.empty()) return {};
  if (lines[0].starts_with("Trel ASCII Data File - Format")) return "ascii";
  for (const std::string& line : lines) {
    if (line[0] != '#') break;
    if (line.find("Lumen Materials File") != std::string::npos) return "materials";
    if (line.find("Ramp Configuration File") != std::string::npos) return "ramp-config";
  }
  for (const std::string& line : lines) {
    if (line[0] == '#' || line[0] == ';') continue;
    const std::string word = lower(line);
    if (word == "version 2" || word == "version 3") return "lcdmi";
    if (line[0] == '[') return "bad-pixels";
    break;
  }
  for (const std::string& line : lines) {
    if (lower(first_word(line)) == "axis") return "motion";
  }
  return {};
}

// A calibration file has no mark of its own; one whose first line starts
// with a word of the calibration grammar is taken for one, when neither a
// mark nor the name said otherwise.
bool looks_like_calibration(std::string_view head) {
  for (const std::string& line : significant_lines(head, 40)) {
    if (line[0] == '#' || line[0] == ';') continue;
    std::string_view word = first_word(line);
    if (word.starts_with('+')) word.remove_prefix(1);
    return felbrin::cal_lookup_keyword(word) != TOK_UNKNOWN;
  }
  return false;
}

// The kind the file's name says, or an empty name.
std::string_view kind_of_name(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string name = lower(slash == std::string_view::npos ? path : path.substr(slash + 1));
  const std::size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  if (ext == ".cal") return "calibration";
  if (name.starts_with("pifoc.")) return "pifoc";
  if (name.starts_with("bpix_")) return "bad-pixels";
  if (name == "lumenmaterials.txt") return "materials";
  if (name == "zoomcal.txt") return "zoom";
  if (name == "rampcfg.txt") return "ramp-config";
  if (name.find("pairs") != std::string::npos) return "pairs";
  return {};
}

}  // namespace

std::span<const FileKind> file_kinds() { return kKinds; }

const FileKind* find_kind(std::string_view name) {
  for (const FileKind& k : kKinds)
    if (k.name == name) return &k;
  return nullptr;
}

std::string kind_names() {
  std::string out;
  for (const FileKind& k : kKinds) out += (out.empty() ? "" : ", ") + std::string(k.name);
  return out;
}

const FileKind* detect_kind(const char* path) {
  const File f(plat::open_file(path, "rb"));
  if (!f) return find_kind("calibration");
  char buf[4096];
  const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
  const std::string_view head(buf, n);
  std::string_view kind = kind_of_content(head);
  if (kind.empty()) kind = kind_of_name(plat::display_path(path));
  if (kind.empty() && looks_like_calibration(head)) kind = "calibration";
  return kind.empty() ? nullptr : find_kind(kind);
}

}  // namespace calcheck
