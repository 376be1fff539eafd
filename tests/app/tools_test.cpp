// The everyday tools calcheck and datinfo, driven in-process: command lines,
// messages with file and line, exit codes, rewriting only clean files, and
// the exact text and JSON reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/calcheck.h"
#include "app/datinfo.h"
#include "data/ascii_file.h"
#include "data/binary_file.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_test_support.h"
#include "common/dirs.h"
#include "platform/platform.h"
#include "support/environment.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "tools/datafile_builder.h"

namespace {

namespace fs = std::filesystem;
using felbrin::test::read_file;
using felbrin::test::write_file;

using Command = int (*)(int, const char* const*, std::FILE*, std::FILE*);

struct Outcome {
  int code = -1;
  std::string out, err;
};

class Tools : public felbrin::test::CalSlots {
 protected:
  Outcome run(Command command, const std::vector<std::string>& args) {
    std::vector<const char*> argv{"tool"};
    for (const auto& a : args) argv.push_back(a.c_str());
    const fs::path out = dir.path() / "stdout.txt", err = dir.path() / "stderr.txt";
    std::FILE* o = std::fopen(out.string().c_str(), "wb");
    std::FILE* e = std::fopen(err.string().c_str(), "wb");
    Outcome r;
    r.code = command(static_cast<int>(argv.size()), argv.data(), o, e);
    std::fclose(o);
    std::fclose(e);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
  }
  std::string file(const std::string& name, const std::string& text) {
    const std::string path = dir.file(name);
    write_file(path, text);
    return path;
  }
  felbrin::test::TempDir dir;
};

constexpr const char* kBirch4 = "Birch4  5  23  12345\nVersion  None  0  None\n";

TEST_F(Tools, CommandLines) {
  const std::string cal = file("a.cal", kBirch4);
  struct Case {
    Command command;
    std::vector<std::string> args;
    int code;
    std::string err;
  };
  const Case cases[] = {
      {calcheck::run, {}, calcheck::kUsage, "calcheck: no file given (see calcheck --help)\n"},
      {calcheck::run, {"--show", "-x", cal}, calcheck::kUsage,
       "calcheck: unknown option \"-x\" (see calcheck --help)\n"},
      {calcheck::run, {"--rewrite", "--"}, calcheck::kUsage, "calcheck: no file given (see calcheck --help)\n"},
      {datinfo::run, {"--show"}, datinfo::kUsage, "datinfo: unknown option \"--show\" (see datinfo --help)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Outcome r = run(c.command, c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  for (Command c : {calcheck::run, datinfo::run}) {
    const Outcome r = run(c, {"-x", "--help"});  // the first problem decides
    EXPECT_EQ(r.code, 2);
    const Outcome help = run(c, {"--help", "-x"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: ")) << help.out;
    EXPECT_NE(help.out.find("Exit codes: 0"), std::string::npos);
    EXPECT_EQ(help.err, "");
  }
}

TEST_F(Tools, BundledCalibrationFilesReadCleanly) {
  std::vector<std::string> args{"--show"};
  for (const auto& entry : fs::directory_iterator(fs::path(FELBRIN_SOURCE_DIR) / "examples" / "calibration")) {
    const fs::path copy = dir.path() / entry.path().filename();
    fs::copy_file(entry.path(), copy);
    args.push_back(copy.string());
  }
  ASSERT_EQ(args.size(), 7u);
  const Outcome r = run(calcheck::run, args);
  EXPECT_EQ(r.code, calcheck::kClean) << r.err;
  // Notes only, never a problem.
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) EXPECT_NE(line.find(": note: "), std::string::npos) << line;
  for (std::size_t i = 1; i < args.size(); ++i) EXPECT_NE(r.out.find("# " + args[i] + "\n"), std::string::npos);
}

// Nothing passes from one file into the next: a run over several files
// prints and writes what one run per file does.
TEST_F(Tools, CalcheckTakesEachFileAsIfAlone) {
  std::vector<fs::path> bundled;
  for (const auto& entry : fs::directory_iterator(fs::path(FELBRIN_SOURCE_DIR) / "examples" / "calibration"))
    bundled.push_back(entry.path());
  std::sort(bundled.begin(), bundled.end());
  const fs::path together = dir.path() / "together", alone = dir.path() / "alone";
  fs::create_directory(together);
  fs::create_directory(alone);
  std::vector<std::string> args{"--show", "--rewrite"};
  for (const fs::path& p : bundled) {
    fs::copy_file(p, together / p.filename());
    fs::copy_file(p, alone / p.filename());
    args.push_back((together / p.filename()).string());
  }
  const Outcome all = run(calcheck::run, args);
  Outcome each;
  each.code = calcheck::kClean;
  for (const fs::path& p : bundled) {
    const Outcome one = run(calcheck::run, {"--show", "--rewrite", (alone / p.filename()).string()});
    each.out += one.out;
    each.err += one.err;
    if (one.code != calcheck::kClean) each.code = one.code;
  }
  const auto as_together = [&](std::string text) {
    const std::string from = alone.string(), to = together.string();
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
      text.replace(at, from.size(), to);
    return text;
  };
  EXPECT_EQ(all.code, each.code);
  EXPECT_EQ(all.out, as_together(each.out));
  EXPECT_EQ(all.err, as_together(each.err));
  for (const fs::path& p : bundled) {
    EXPECT_EQ(read_file(together / p.filename()), read_file(alone / p.filename())) << p.filename();
  }
}

// Where the file was found, or every place it was looked for.
TEST_F(Tools, CalcheckSaysWhichFileItRead) {
  const fs::path cfg = dir.path() / "cfg";
  fs::create_directory(cfg);
  write_file(cfg / "found.cal", kBirch4);
  felbrin::test::ScopedEnv config("FB_CONFIG_DIR", cfg.string().c_str());
  u_dirs_reset();
  const std::string in_cfg = (cfg / "found.cal").string(), here = std::string(".") + plat::kSep;

  const Outcome found = run(calcheck::run, {"--rewrite", "found.cal"});
  EXPECT_EQ(found.code, calcheck::kClean) << found.err;
  EXPECT_EQ(found.err, "found.cal: note: read " + in_cfg + "\nfound.cal: note: rewrote " + in_cfg + "\n");

  const Outcome missing = run(calcheck::run, {"none.cal"});
  EXPECT_EQ(missing.code, calcheck::kProblems);
  EXPECT_NE(missing.err.find("none.cal: not found; looked at " + here + "none.cal, " + (cfg / "none.cal").string() +
                             "\n"),
            std::string::npos)
      << missing.err;
  u_dirs_reset();

  // A byte that is not text is shown as such.
  const std::string latin1 = file("latin1.cal", std::string(kBirch4) + "Caf\xE9 1\n");
  const std::string c1 = file("c1.cal", std::string(kBirch4) + "Na\xC2\x85me 2\n");
  const Outcome bad = run(calcheck::run, {latin1, c1});
  EXPECT_NE(bad.err.find(latin1 + ":3: Unrecognized token \"Caf\\xE9\"\n"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find(c1 + ":3: Unrecognized token \"Na\\xC2\\x85me\"\n"), std::string::npos)
      << "a C1 control, though valid UTF-8: " << bad.err;
}

TEST_F(Tools, CalcheckReportsEachProblemWithFileAndLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string err;  // "F" stands for the file name
  };
  const Case cases[] = {
      {"two bad lines", std::string(kBirch4) + "Zoom  300\n# fine\nUnit  9\nZoom  1\n",
       "F:3: 300 out of range [0,255]\nF:3: Error in line 3.\nF:5: 9 out of range [0,7]\nF:5: Error in line 5.\n"
       "F: cannot be read: ERR_SB_CALFILE_INVALID (388)\n"},
      {"word not in the table", std::string(kBirch4) + "Frobnicate 1\nZoom 300\n",
       "F:3: Unrecognized token \"Frobnicate\"\nF: cannot be read: ERR_SB_CALFILE_SYNTAX (390)\n"},
      {"incomplete", "Version  None  0  None\n",
       "F: Missing system type info.\nF: cannot be read: ERR_SB_CALFILE_INCOMPLETE (386)\n"},
      {"no status, but a message", std::string(kBirch4) + "Camera Trans 1 2 3\n",
       "F:3: A NomMag or SysMag line must appear before a Camera Trans line.\n"
       "F: cannot be read: ERR_SB_CALFILE_INVALID (388)\n"},
      {"model check", std::string(kBirch4) + "Zoom 2\n", "F: This instrument cannot have a motorized zoom.\n"},
      {"note only", "Birch4 5 23 12345\nVersion None 0 Sable\nInstrComm COM1\nLight HeNe 0.6\n"
       "Camera Type Custom 1\n", "F:5: note: Setting interlaceFlag to 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = file("c.cal", c.text);
    std::string want;
    std::istringstream lines(c.err);
    for (std::string line; std::getline(lines, line);) want += path + line.substr(1) + "\n";
    const Outcome r = run(calcheck::run, {path});
    EXPECT_EQ(r.err, want);
    EXPECT_EQ(r.code, c.err.find(": note: ") != std::string::npos ? calcheck::kClean : calcheck::kProblems);
  }
  const Outcome missing = run(calcheck::run, {dir.file("none.cal")});
  EXPECT_EQ(missing.code, calcheck::kProblems);
  EXPECT_TRUE(missing.err.ends_with("none.cal: cannot be read: ERR_CANT_READ_FILE (123)\n")) << missing.err;
}

TEST_F(Tools, RewriteReplacesOnlyCleanFilesWithTheWritersLayout) {
  const std::string messy = "# by hand\nbirch4 5 23 12345   # the system\nVERSION none 0 none\nzoom 1\n";
  const std::string bad = std::string(kBirch4) + "Zoom 300\n";
  const std::string clean_path = file("clean.cal", messy), bad_path = file("bad.cal", bad);
  // What the library's writer gives for the same record.
  {
    felbrin::test::LogCapture quiet;
    ASSERT_EQ(sb_readCal(1, clean_path.c_str()), 0);
  }
  const std::string expected_path = dir.file("expected.cal");
  ASSERT_EQ(sb_writeCal(1, expected_path.c_str()), 0);

  const Outcome r = run(calcheck::run, {"--rewrite", bad_path, clean_path});
  EXPECT_EQ(r.code, calcheck::kProblems);
  EXPECT_EQ(read_file(bad_path), bad);
  EXPECT_EQ(read_file(clean_path), read_file(expected_path));
  EXPECT_NE(read_file(clean_path), messy);
  EXPECT_NE(r.err.find(bad_path + ": not rewritten: it did not read cleanly\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("clean.cal"), std::string::npos) << r.err;
}

TEST_F(Tools, ShowListsTheKeywordsWithTheValuesRead) {
  const std::string path = file("s.cal", "Birch4 5 23 12345 R\nVersion GigE 300 None\nCamera Type xc77\n"
                                         "SysMag 1 2.5\nNomMag 1 2\nZoom 1\nDiffDiskRate 12.5\nTouchScreen\n");
  const Outcome r = run(calcheck::run, {"--show", path});
  EXPECT_EQ(r.code, calcheck::kClean) << r.err;
  EXPECT_EQ(r.out, "# " + path +
                       "\nSystem = Birch4  05  23  12345  R\nVersion = GigE  44  None\nCamera Type = XC77CE\n"
                       "SysMag = 1.0000  2.5000\nNomMag = 1.0000  2.0000\nZoom = 1\n"
                       "DiffDiskRate = 12.5\nTouchScreen\n");
}

// ---------------------------------------------------------------- datinfo

TEST_F(Tools, JsonStringsAreEscapedAndValidUtf8) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t\x01\x1f", "\"\\n\\r\\t\\u0001\\u001f\""},
      {"caf\xc3\xa9 \xe6\xa0\xb7", "\"caf\xc3\xa9 \xe6\xa0\xb7\""},
      {"\xe9t\xe9", "\"\\u00e9t\\u00e9\""},     // Latin-1
      {"\xc0\x80", "\"\\u00c0\\u0080\""},        // overlong
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},  // surrogate
      {"\xe6\xa0", "\"\\u00e6\\u00a0\""},       // cut short
  };
  for (const Case& c : cases) EXPECT_EQ(datinfo::json_string(c.in), c.out) << c.in;
}

// Every field of a data set whose header is all zero, but for the geometry.
std::string zero_header_json(const std::string& file, const char* format) {
  std::string s = "{\"file\": " + datinfo::json_string(file) + ", \"format\": \"" + format +
                  "\", \"info_word0\": 0, \"info_text\": \"\", \"info_word1\": 0, \"info_word2\": 0, "
                  "\"info_word3\": 0";
  for (const char* h : {"h076", "h080", "h162", "h164", "h168", "h172", "h176", "h180", "h184", "h188", "h190",
                        "h192", "h194", "h196", "h198", "h202", "h204", "h210", "h214", "h218", "h220", "h224",
                        "h226", "h230", "h232", "h234", "h236", "h238", "h240", "h242", "h244", "h246", "h258",
                        "h298", "h300", "h302", "h320", "h360", "h364", "h498", "h534", "h562", "h798"}) {
    const bool text = std::string("h080 h246 h258 h320 h534 h562").find(h) != std::string::npos;
    s += std::string(", \"") + h + "\": " + (text ? "\"\"" : "0");
  }
  return s +
         ", \"intensity_x\": 0, \"intensity_y\": 0, \"intensity_width\": 0, \"intensity_height\": 0, "
         "\"intensity_buckets\": 0, \"intensity_aux\": 0, \"phase_x\": 3, \"phase_y\": 1, \"phase_width\": 2, "
         "\"phase_height\": 2, \"valid_points\": 3, \"minimum\": -10, \"maximum\": 35, \"mean\": 11.6667}\n";
}

TEST_F(Tools, DatinfoReportsBinaryAndAsciiFilesAlike) {
  felbrin::tools::DataFileLayout layout;
  layout.phase_x = 3, layout.phase_y = 1, layout.phase_width = 2, layout.phase_height = 2;
  layout.phase = {-10, 35, MX_INVALID_I32, 10};
  const std::string bin = dir.file("small.dat");
  write_file(bin, felbrin::tools::build_data_file(layout));
  // The same data set through the library's ASCII writer.
  df_source_info_t source{};
  df_header_t header{};
  mx_i32_t phase{};
  ASSERT_EQ(df_read_file(bin.c_str(), &source, &header, nullptr, &phase), 0);
  const std::string ascii = dir.file("small.txt");
  ASSERT_EQ(df_write_ascii_file(ascii.c_str(), &source, &header, nullptr, &phase), 0);
  mx_i32_release(&phase);

  const Outcome r = run(datinfo::run, {"--json", bin, ascii});
  EXPECT_EQ(r.code, datinfo::kDone);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, zero_header_json(bin, "binary") + zero_header_json(ascii, "ascii"));

  const Outcome text = run(datinfo::run, {bin});
  EXPECT_NE(text.out.find("format = \"binary\"\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\nh080 = \"\"\n"), std::string::npos);
  EXPECT_NE(text.out.find("\nvalid_points = 3\nminimum = -10\nmaximum = 35\nmean = 11.6667\n"), std::string::npos);
}

TEST_F(Tools, DatinfoNamesTheFileAndLineOfEachProblem) {
  felbrin::tools::DataFileLayout layout;
  layout.phase_width = 1, layout.phase_height = 1;
  layout.phase = {MX_INVALID_I32};
  const std::string empty = dir.file("allbad.dat");
  write_file(empty, felbrin::tools::build_data_file(layout));
  struct Case {
    std::string name, text, err;
  };
  const Case cases[] = {
      {"x.txt", "not a data file\n", ": not a binary or ASCII data file\n"},
      {"y.txt", "Trel ASCII Data File - Format 2\n1 2 3\n",
       ":2: cannot be read as ascii data file: ERR_CORRUPT_DATA_FILE (134)\n"},
  };
  for (const Case& c : cases) {
    const std::string path = file(c.name, c.text);
    const Outcome r = run(datinfo::run, {"--json", empty, path});
    EXPECT_EQ(r.code, datinfo::kUnreadable);
    EXPECT_EQ(r.err, path + c.err);
    const std::size_t second = r.out.find('\n') + 1;
    EXPECT_NE(r.out.find("\"valid_points\": 0, \"minimum\": null, \"maximum\": null, \"mean\": null}\n"),
              std::string::npos);
    EXPECT_EQ(r.out.substr(second, r.out.find("\"error\"") - second),
              "{\"file\": " + datinfo::json_string(path) + ", ");
  }
  const Outcome missing = run(datinfo::run, {dir.file("none.dat")});
  EXPECT_EQ(missing.code, datinfo::kUnreadable);
  EXPECT_EQ(missing.err, dir.file("none.dat") + ": cannot be read as binary data file: ERR_CANT_OPEN_FILE (120)\n");
}

}  // namespace
