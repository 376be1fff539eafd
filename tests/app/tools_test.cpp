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
#include "instrument/ramps/ramp_file.h"
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
                       "DiffDiskRate = 12.5\nTouchScreen\n" + path + ": ok (calibration)\n");
}

// ------------------------------------------------------- calcheck's kinds

// The bundled files of every kind, and those the test makes, each known by
// its content or its name and read cleanly by its own reader.
TEST_F(Tools, CalcheckKnowsEveryKindAndReadsItsGoodFiles) {
  const fs::path examples = fs::path(FELBRIN_SOURCE_DIR) / "examples";
  rr_ramp_hdr_t h{};
  h.rampType = RR_TYPE_SWLI, h.pztID = 12345, h.nPoints = 4, h.rampEnd = 3, h.cameraRate = 25;
  const uint16_t points[] = {1, 2, 3, 4};
  const std::string ramp = dir.file("d10s81c25.b12345");
  ASSERT_EQ(rr_write_ramp_file(ramp.c_str(), &h, points), 0);
  const std::string ascii = dir.file("sample.txt");
  {
    felbrin::DataSet d;
    ASSERT_EQ(df_read_file((examples / "sample.dat").string().c_str(), &d.source, &d.header,
                           &d.intensity, &d.phase), 0);
    ASSERT_EQ(df_write_ascii_file(ascii.c_str(), &d.source, &d.header, &d.intensity, &d.phase), 0);
  }
  const std::pair<std::string, const char*> files[] = {
      // A calibration name with a Unix root is no full path on Windows: a copy.
      {file("kite.cal", read_file(examples / "calibration" / "kite.cal")), "calibration"},
      {(examples / "lumen" / "LumenMaterials.txt").string(), "materials"},
      {(examples / "Kite" / "ZoomCal.txt").string(), "zoom"},
      {(examples / "pifoc" / "pifoc.12").string(), "pifoc"},
      {(examples / "lcdmi.cfg").string(), "lcdmi"},
      {(examples / "pairs.txt").string(), "pairs"},
      {ramp, "ramp"},
      {file("rampcfg.txt", "SWLI d10s81c25.b12345 10.2 25 0 0 0.25 81 0 1 0\n"), "ramp-config"},
      {(examples / "motion" / "stage.cfg").string(), "motion"},
      {(examples / "camera" / "bpix_1234.dat").string(), "bad-pixels"},
      {(examples / "sample.dat").string(), "binary"},
      {ascii, "ascii"},
  };
  std::vector<std::string> args{"-q"};
  std::string want_out;
  for (const auto& [path, kind] : files) {
    args.push_back(path);
    want_out += path + ": ok (" + kind + ")\n";
  }
  const Outcome quiet = run(calcheck::run, args);  // -q: no ok lines, no notes
  EXPECT_EQ(quiet.code, calcheck::kClean) << quiet.err;
  EXPECT_EQ(quiet.out + quiet.err, "");
  args.erase(args.begin());
  const Outcome r = run(calcheck::run, args);
  EXPECT_EQ(r.code, calcheck::kClean) << r.err;
  EXPECT_EQ(r.out, want_out);
  // The calibration reader's notes; nothing else.
  EXPECT_EQ(r.err, files[0].first + ":5: note: Setting fieldCtrl to 1\n");

  // A ramp is shown as the library lists its header, then its points; its
  // polarity of 0 is a NUL byte there.
  const Outcome shown = run(calcheck::run, {"--show", ramp});
  EXPECT_EQ(shown.code, calcheck::kClean) << shown.err;
  EXPECT_NE(shown.out.find("pztID              = 12345\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("polar              = \\x00\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("\npoints: 4, lowest 1, highest 4\n" + ramp + ": ok (ramp)\n"), std::string::npos)
      << shown.out;
}

// One bad file of each kind: the reader's own words, with the line where it
// knows it, then the code it gave.
TEST_F(Tools, CalcheckTellsEachReadersProblemsWithTheirLines) {
  const struct {
    const char* name;
    std::string text, err;
  } cases[] = {
      {"ZoomCal.txt", "title\n0 1\nx 2\n",
       ":3: Expected two numbers (position and magnification) separated by a comma and/or space. x 2\n"
       "@: cannot be read: ERR_KITE_ENC_ZOOM_INVALID_CAL_FILE (198)\n"},
      {"pairs.txt", "1 2\n3\n",
       ":2: Error in data file @\n@:2: Line 2: 3\n@: cannot be read: ERR_CANT_READ_FILE (123)\n"},
      {"stage.cfg", "AXIS 0\nNAME Q\n",
       ":2: -***- ERR_INVALID_PARAM in Line 2 of configuration file -***-\n"
       "@: cannot be read: ERR_INVALID_PARAM (242)\n"},
      {"l.cfg", "Version 2\nfoo\n",
       ":2: Unrecognized token \"foo\" foo\n@: cannot be read: ERR_LCDMI_CONFIG (248)\n"},
      {"pifoc.3", "# c\nabc\n",
       ":2: xr_load_pifoc_info: error in file @\n@:2: Line 2: abc\n"
       "@: cannot be read: ERR_CANT_READ_FILE (123)\n"},
      {"a.txt", "Trel ASCII Data File - Format 2\n1 2 3\n",
       ":2: the reader stopped here\n@: cannot be read: ERR_CORRUPT_DATA_FILE (134)\n"},
      {"m.txt", "## Fathomix Lumen Materials File - Format 1\n\"Gold\" 0.2 x 3\n\"Glass\" 1 0 0 0 0 0 0\n",
       ":2: Invalid K value \"x\" (field 3)\n@:2: Error in line 2:   \"Gold\" 0.2 x 3\n"
       "@: note: The K value must be a number  greater than or equal to 0 and  less than or equal to 100\n"
       "@: note: Accepted 1 of 2 material specs\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = file(c.name, c.text);
    const Outcome r = run(calcheck::run, {path});
    std::string want = "@" + c.err;
    for (std::size_t at; (at = want.find('@')) != std::string::npos;) want.replace(at, 1, path);
    EXPECT_EQ(r.err, want);
    EXPECT_EQ(r.code, calcheck::kProblems);
  }
}

TEST_F(Tools, CalcheckKindsByOptionAndTheUnknown) {
  const std::string pairs = file("points.dat", "1 2\n3 4\n");
  const Outcome unknown = run(calcheck::run, {pairs});
  EXPECT_EQ(unknown.code, calcheck::kProblems);
  const std::string kinds =
      "calibration, materials, zoom, pifoc, lcdmi, pairs, ramp, ramp-config, motion, bad-pixels, "
      "binary, ascii";
  EXPECT_EQ(unknown.err,
            pairs + ": cannot tell what kind of file this is; name it with --kind (" + kinds + ")\n");
  const Outcome named = run(calcheck::run, {"--kind", "pairs", "--show", pairs});
  EXPECT_EQ(named.code, calcheck::kClean) << named.err;
  EXPECT_EQ(named.out, "# " + pairs + "\n2 pairs (x, y)\n1 2\n3 4\n" + pairs + ": ok (pairs)\n");
  const Outcome bogus = run(calcheck::run, {"--kind=bogus", pairs});
  EXPECT_EQ(bogus.code, calcheck::kUsage);
  EXPECT_EQ(bogus.err, "calcheck: unknown kind \"bogus\"; the kinds are " + kinds +
                           " (see calcheck --help)\n");
}

// --deep follows the files a calibration file names, found where the library
// finds them: a broken motion configuration is checked in its own name, a
// missing materials file is the calibration file's problem.
TEST_F(Tools, CalcheckDeepChecksTheFilesACalibrationFileNames) {
  const fs::path examples = fs::path(FELBRIN_SOURCE_DIR) / "examples";
  const fs::path config = dir.path() / "cfg";
  fs::create_directories(config);
  felbrin::test::ScopedEnv env("FB_CONFIG_DIR", config.string().c_str());
  u_dirs_reset();
  const std::string motion = (config / "stage.cfg").string();
  felbrin::test::write_file(motion, std::string("AXIS 0\nNAME Q\n"));
  // The bundled Lumen file, its motion controller on the broken configuration.
  std::string text = read_file(examples / "calibration" / "lumen.cal");
  const std::size_t at = text.find("MotionCtrl");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, text.find('\n', at) - at, "MotionCtrl stage.cfg COM1");
  const std::string cal = file("lumen.cal", text);

  // Without a ramp folder nothing is made, and the pifoc file is missing.
  Outcome r = run(calcheck::run, {"--deep", cal});
  EXPECT_FALSE(fs::exists(config / "ramps"));
  EXPECT_NE(r.err.find(cal + ": " + (config / "ramps" / "pifoc.12").string() + " not found\n"),
            std::string::npos) << r.err;

  fs::create_directories(config / "ramps");
  fs::copy_file(examples / "pifoc" / "pifoc.12", config / "ramps" / "pifoc.12");
  r = run(calcheck::run, {"--deep", cal});
  u_dirs_reset();
  EXPECT_EQ(r.code, calcheck::kProblems);
  const std::string here = "." + std::string(1, plat::kSep);
  EXPECT_EQ(r.err, cal + ": glass.txt not found; looked at " + here + "glass.txt, " +
                       (config / "glass.txt").string() + "\n" + cal + ": note: " +
                       (config / "ramps" / "rampcfg.txt").string() + " not found\n" + motion +
                       ":2: -***- ERR_INVALID_PARAM in Line 2 of configuration file -***-\n" + motion +
                       ": cannot be read: ERR_INVALID_PARAM (242)\n");
  EXPECT_EQ(r.out, (config / "ramps" / "pifoc.12").string() + ": ok (pifoc)\n");

  // The vendor wrapper keeps its own configuration, however its name is
  // spelt: the broken file is none of the library's business then.
  text.replace(text.find("stage.cfg COM1"), 14, "stage.cfg FathomiXX");
  r = run(calcheck::run, {"--deep", file("lumen.cal", text)});
  u_dirs_reset();
  EXPECT_EQ(r.err.find(motion), std::string::npos) << r.err;
}

// One JSON object per message and per file, each with the same keys.
TEST_F(Tools, CalcheckJsonLinesParseBack) {
  const std::string good = (fs::path(FELBRIN_SOURCE_DIR) / "examples" / "pairs.txt").string();
  const std::string bad = file("pairs.txt", "1 2\n3\n");
  const Outcome r = run(calcheck::run, {"--json", good, bad});
  EXPECT_EQ(r.code, calcheck::kProblems);
  EXPECT_EQ(r.err, "");
  // A flat object of strings, whole numbers and nulls, as the lines are.
  const auto parse = [](const std::string& line) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t i = 1;
    const auto text = [&] {
      std::string s;
      for (++i; line[i] != '"'; ++i) {
        if (line[i] == '\\') ++i;
        s += line[i];
      }
      ++i;
      return s;
    };
    while (i < line.size() && line[i] != '}') {
      while (line[i] == ' ' || line[i] == ',') ++i;
      const std::string key = text();
      i += 2;  // ": "
      std::string value;
      if (line[i] == '"') {
        value = text();
      } else {
        const std::size_t end = line.find_first_of(",}", i);
        value = line.substr(i, end - i);
        i = end;
      }
      fields.emplace_back(key, value);
    }
    return fields;
  };
  std::vector<std::vector<std::pair<std::string, std::string>>> lines;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) lines.push_back(parse(line));
  ASSERT_EQ(lines.size(), 5u) << r.out;
  using Fields = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(lines[0], (Fields{{"file", good}, {"kind", "pairs"}, {"line", "null"}, {"severity", "ok"},
                              {"code", "0"}, {"code_name", ""}, {"text", "ok"}}));
  EXPECT_EQ(lines[1], (Fields{{"file", bad}, {"kind", "pairs"}, {"line", "2"}, {"severity", "error"},
                              {"code", "123"}, {"code_name", "ERR_CANT_READ_FILE"},
                              {"text", "Error in data file " + bad}}));
  EXPECT_EQ(lines[4][3], (std::pair<std::string, std::string>{"severity", "error"}));
  EXPECT_EQ(lines[4][6], (std::pair<std::string, std::string>{"text", "has problems"}));
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
