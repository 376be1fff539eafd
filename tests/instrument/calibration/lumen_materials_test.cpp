// Lumen materials file: every kind of bad line with its whole message, the
// error limit, the ways a read ends, headings, long comments, CR LF files,
// failing allocations, loading through the record and the lens check.
#include "instrument/calibration/lumen_materials.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/dirs.h"
#include "common/errors.h"
#include "instrument/calibration/lumen_materials_internal.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"
#include "support/alloc_hooks.h"
#include "support/environment.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::FailingAllocator;
using felbrin::test::LogCapture;

const std::string kHeading = "## Fathomix Lumen Materials File - Format 1\n";
const std::string kSample =
    "\"Aluminum\"              023.000000  085.000000  00.035766  00.000000  00.000000  00.000000  "
    "00.000000  # 606\n";
const std::string kGlass = "'Glass' 1.5 0 0 0 0 0 0\n";
const std::string kErrors = "Error(s) reading Lumen materials file:\n";
const std::string kKHint =
    "\t\tThe K value must be a number\n\tgreater than or equal to 0 and\n\tless than or equal to 100\n";

struct Read {
  int rc = -1;
  std::vector<lumen_material_t> entries;
  std::string log;
  // "number:name" of a material, "-1:comment" of a comment line, joined by '|'.
  std::string summary() const {
    std::string s;
    for (const lumen_material_t& e : entries) {
      if (!s.empty()) s += '|';
      s += std::to_string(e.number) + ':' + (e.number == LUMEN_COMMENT_ENTRY ? e.comment : e.name);
    }
    return s;
  }
};

Read read_text(const std::string& text, lumen_materials_t& list) {
  LogCapture log;
  Read r;
  std::FILE* f = plat::open_memory(text.data(), text.size());
  EXPECT_NE(f, nullptr);
  r.rc = felbrin::read_lumen_materials_stream(f, &list);
  std::fclose(f);
  if (list.entries != nullptr) {
    r.entries.assign(list.entries, list.entries + list.count);
    EXPECT_EQ(list.entries[list.count].number, 0);  // the zero entry closes the list
    EXPECT_EQ(list.entries[list.count].name[0], '\0');
  }
  r.log = log.str();
  return r;
}

Read read_text(const std::string& text) {
  lumen_materials_t list;
  return read_text(text, list);
}

struct Case {
  const char* name;
  std::string text;
  int rc;
  std::string log;
  std::string entries;
};

std::string bad_line(int line, const std::string& message, const std::string& text, const std::string& hint = "") {
  return "\t" + message + "\n\tError in line " + std::to_string(line) + ":\n  " + text + "\n" + hint;
}

TEST(LumenMaterials, LinesReadAsTheirKindSays) {
  const std::string name21 = "'abcdefghijklmnopqrstu' 1 2 3 0 0 0 0";
  const std::string long_comment = "'G' 1 0 0 0 0 0 0 #" + std::string(181, 'c');  // 200 characters
  const std::string hint_name = "\tThe Name must be quoted text up to 20 characters long\n";
  const std::string hint_pcor =
      "\t\tThe PCOR value must be a number\n\tgreater than or equal to -6.28319 and\n\tless than or equal to "
      "6.28319\n";
  const auto dropped = [&](const std::string& line, const std::string& message, const std::string& hint = "") {
    return kErrors + bad_line(3, message, line, hint) + "Accepted 1 of 2 material specs\n";
  };
  const Case cases[] = {
      {"sample", kHeading + kSample, 0, "", "0:Aluminum"},
      {"CR LF, 200 characters", kHeading + "# note\r\n" + long_comment + "\r\n", 0, "", "-1:# note|0:G"},
      // Its first 100 characters are all that is kept of a comment line,
      // even when they are only the blanks before its '#'.
      {"comment after 120 blanks", kHeading + std::string(120, ' ') + "#x\n" + kGlass, 0, "",
       "-1:" + std::string(100, ' ') + "|0:Glass"},
      {"comments before the heading are kept", "# first\n" + kHeading + kGlass, 0, "", "-1:# first|0:Glass"},
      {"heading with a single #", "# Fathomix Lumen Materials File, Format 1\n" + kGlass, 0, "", "0:Glass"},
      {"later headings are comments or skipped",
       kHeading + "# Fathomix Lumen Materials File - Format 2\n## Fathomix Lumen Materials File - Format 7\n" +
           kGlass,
       0, "", "-1:# Fathomix Lumen Materials File - Format 2|0:Glass"},
      {"empty quoted name", kHeading + "\"\" 0 0 0 0 0 0 0\n", 0, "", "0:"},
      {"name of 21 characters", kHeading + kGlass + name21 + "\n", 0,
       dropped(name21, "Invalid Name value \"'abcdefghijklmnopqrstu'\" (field 1)", hint_name), "0:Glass"},
      {"unquoted name", kHeading + kGlass + "Glass 1 0 0 0 0 0 0\n", 0,
       dropped("Glass 1 0 0 0 0 0 0", "Invalid Name value \"Glass\" (field 1)", hint_name), "0:Glass"},
      {"word for K", kHeading + kGlass + "'G' 1 abc 0 0 0 0 0\n", 0,
       dropped("'G' 1 abc 0 0 0 0 0", "Invalid K value \"abc\" (field 3)", kKHint), "0:Glass"},
      {"K not wholly a number", kHeading + kGlass + "'G' 1 0.5x 0 0 0 0 0\n", 0,
       dropped("'G' 1 0.5x 0 0 0 0 0", "Invalid K value \"0.5x\" (field 3)", kKHint), "0:Glass"},
      {"K above its range", kHeading + kGlass + "'G' 1 100.5 0 0 0 0 0\n", 0,
       dropped("'G' 1 100.5 0 0 0 0 0", "Invalid K value \"100.5\" (field 3)", kKHint), "0:Glass"},
      {"NaN", kHeading + kGlass + "'G' 1 0 nan 0 0 0 0\n", 0,
       dropped("'G' 1 0 nan 0 0 0 0", "Invalid PCOR value \"nan\" (field 4)", hint_pcor), "0:Glass"},
      {"missing value", kHeading + kGlass + "'G' 1 0 0 0\n", 0,
       dropped("'G' 1 0 0 0", "Missing Disper[1] value (field 6)"), "0:Glass"},
      {"comment in place of a value", kHeading + kGlass + "'G' 1 0 # note\n", 0,
       dropped("'G' 1 0 # note", "Missing PCOR value (field 4)"), "0:Glass"},
      {"ninth field", kHeading + kGlass + "'G' 1 0 0 0 0 0 0 extra\n", 0,
       dropped("'G' 1 0 0 0 0 0 0 extra", "Unexpected token \"extra\" (field 9)"), "0:Glass"},
      {"line too long", kHeading + kGlass + long_comment + "c\n" + kGlass, ERR_LUMEN_CORRUPT_MATLS_FILE,
       kErrors + bad_line(3, "Line longer than 200 characters", long_comment), ""},
      {"format 2", "## Fathomix Lumen Materials File - Format 2\n" + kGlass, ERR_LUMEN_CORRUPT_MATLS_FILE,
       kErrors + bad_line(1, "File format 2 is not supported", "## Fathomix Lumen Materials File - Format 2"),
       ""},
      {"no format number", "# Fathomix Lumen Materials File - Format x1\n", ERR_LUMEN_CORRUPT_MATLS_FILE,
       kErrors + bad_line(1, "Heading is missing a file format number",
                          "# Fathomix Lumen Materials File - Format x1"),
       ""},
      {"material before the heading", "# note\n" + kGlass + kHeading, ERR_LUMEN_CORRUPT_MATLS_FILE,
       kErrors + "\tMissing heading\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read r = read_text(c.text);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(r.summary(), c.entries);
  }
}

TEST(LumenMaterials, ValuesAndCommentsAreKept) {
  const std::string comment(120, 'c');
  const Read r = read_text(kHeading + kSample + "'Quartz' 100 * -6.283185307179586 ? 1e-3 0x1p-2 6.283185307179586 #" +
                           comment + "\n#" + comment + "\n");
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.entries.size(), 3u);
  const lumen_material_t& al = r.entries[0];
  EXPECT_EQ(al.n, 23);
  EXPECT_EQ(al.k, 85);
  EXPECT_EQ(al.pcor, 0.035766);
  EXPECT_EQ(std::vector<double>(al.disper, al.disper + 4), std::vector<double>(4, 0.0));
  EXPECT_STREQ(al.comment, "# 606");
  const lumen_material_t& q = r.entries[1];
  EXPECT_EQ(q.number, 1);
  EXPECT_EQ(q.k, LUMEN_NOT_GIVEN);
  EXPECT_EQ(std::vector<double>(q.disper, q.disper + 4),
            (std::vector<double>{LUMEN_NOT_GIVEN, 1e-3, 0.25, 6.283185307179586}));
  // A comment keeps its first 100 characters, '#' included.
  EXPECT_EQ(std::string(q.comment), "#" + comment.substr(0, 99));
  EXPECT_EQ(std::string(r.entries[2].comment), "#" + comment.substr(0, 99));
}

TEST(LumenMaterials, TheEleventhErrorEndsTheRead) {
  std::string ten_bad = kHeading;
  for (int i = 0; i < 10; ++i) ten_bad += "'G' 1 abc 0 0 0 0 0\n";
  const Read ten = read_text(ten_bad + kGlass);
  EXPECT_EQ(ten.rc, 0);
  EXPECT_TRUE(ten.log.ends_with(kKHint + "Accepted 1 of 11 material specs\n")) << ten.log;

  const Read eleven = read_text(ten_bad + "'G' 1 0 0 0 0 0 0 x\n" + kGlass);
  EXPECT_EQ(eleven.rc, ERR_LUMEN_CORRUPT_MATLS_FILE);
  EXPECT_TRUE(eleven.log.ends_with(bad_line(12, "Unexpected token \"x\" (field 9)", "'G' 1 0 0 0 0 0 0 x") +
                                   "Too many errors reading Lumen materials file\n"))
      << eleven.log;
}

TEST(LumenMaterials, AFileWithoutMaterialsIsAnsweredWithTheFormat) {
  const std::string expected =
      "No acceptable material specs found\n"
      "File heading (required):\n\n## Fathomix Lumen Materials File - Format 1\n"
      "Line format description:\n\n"
      "##\n"
      "## Name      = Material name in quotes (up to 20 chars)\n"
      "## N         = N [0,100]\n"
      "## K         = K [0,100]\n"
      "## PCOR      = Phase Change On Reflection [-6.28319,6.28319] rad \n"
      "## Disper[0] = Dispersion for 0.8X mag (75mm FOV) [-6.28319,6.28319] rad \n"
      "## Disper[1] = Dispersion for 1.0X mag (65mm FOV) [-6.28319,6.28319] rad \n"
      "## Disper[2] = Dispersion for 1.7X mag (35mm FOV) [-6.28319,6.28319] rad \n"
      "## Disper[3] = Dispersion for 4.0X mag (15mm FOV) [-6.28319,6.28319] rad \n"
      "## Comment   = Optional comment beginning with '#' (up to 100 chars)\n"
      "##\n"
      "Sample line:\n\n" + kSample + "\n";
  for (const std::string& text : {std::string(), kHeading + "# only a comment\n",
                                  kHeading + "'G' 1 abc 0 0 0 0 0\n"}) {
    const Read r = read_text(text);
    EXPECT_EQ(r.rc, ERR_LUMEN_CORRUPT_MATLS_FILE);
    EXPECT_TRUE(r.log.ends_with(expected)) << r.log;
    EXPECT_TRUE(r.entries.empty());
  }
  // The sample line the reader offers is one it accepts.
  EXPECT_EQ(read_text(kHeading + std::string(felbrin::lumen_materials_sample_line())).rc, 0);
}

TEST(LumenMaterials, AFailedReadLeavesTheListAndASuccessfulOneReplacesIt) {
  FailingAllocator alloc;
  lumen_materials_t list;
  ASSERT_EQ(read_text(kHeading + kGlass, list).rc, 0);
  const Read failed = read_text(kHeading + kSample + std::string(201, '#') + "\n", list);
  EXPECT_EQ(failed.rc, ERR_LUMEN_CORRUPT_MATLS_FILE);
  EXPECT_EQ(failed.summary(), "0:Glass");
  EXPECT_EQ(read_text(kHeading + kSample, list).summary(), "0:Aluminum");
  EXPECT_EQ(alloc.live_blocks(), 1);
}

TEST(LumenMaterials, RunningOutOfMemoryEndsTheReadSilently) {
  std::string text = kHeading + "# six entries: the list grows twice\n";
  for (int i = 0; i < 5; ++i) text += kGlass;
  const int allocations = felbrin::test::fail_each_allocation([&](FailingAllocator&) {
    lumen_materials_t list;
    const Read r = read_text(text, list);
    if (r.rc == 0) return true;
    EXPECT_EQ(r.rc, ERR_NO_MEM);
    EXPECT_EQ(r.log, "");
    EXPECT_EQ(list.entries, nullptr);
    return false;
  });
  EXPECT_EQ(allocations, 2);
}

TEST(LumenMaterials, TheExampleFileReadsWithoutComplaint) {
  LogCapture log;
  lumen_materials_t list;
  const std::string path = std::string(FELBRIN_SOURCE_DIR) + "/examples/lumen/LumenMaterials.txt";
  ASSERT_EQ(lumen_readMaterials(path.c_str(), &list), 0);
  EXPECT_EQ(log.str(), "Reading Lumen materials file \"" + path + "\"\n");
  EXPECT_EQ(list.count, 6);
  lumen_materials_t wide;
  EXPECT_EQ(lumen_readMaterials(felbrin::test::marked(path).c_str(), &wide), 0);
  EXPECT_EQ(wide.count, 6);
}

// ---- loading through the record

struct LumenSystem {
  sysInfo_t info;
  explicit LumenSystem(std::vector<double> mags) {
    info.lumenInfo = felbrin::make_hooked<sb_lumen_info_t>();
    std::copy(mags.begin(), mags.end(), info.nomMag);
    info.magCount = static_cast<int32_t>(mags.size());
  }
  std::vector<int32_t> columns() const {
    return std::vector<int32_t>(info.lumenInfo->lensColumn, info.lumenInfo->lensColumn + 4);
  }
};

TEST(LumenMaterials, LoadFindsTheFileAndChecksTheLenses) {
  felbrin::test::TempDir dir;
  felbrin::test::write_file(dir.path() / "m.txt", kHeading + kSample);
  felbrin::test::write_file(dir.path() / "bad.txt", kHeading);
  felbrin::test::ScopedEnv config("FB_CONFIG_DIR", dir.path().string().c_str());
  u_dirs_reset();
  LogCapture log;

  LumenSystem found({1.0, 4.0005});
  found.info.lumenInfo->materialsFile = "m.txt";
  EXPECT_EQ(lumen_loadMaterials(&found.info), 0);
  EXPECT_EQ(found.info.lumenInfo->materialsFile, dir.file("m.txt"));
  EXPECT_EQ(found.info.lumenInfo->materials.count, 1);
  EXPECT_EQ(found.columns(), (std::vector<int32_t>{1, 3, -1, -1}));
  EXPECT_EQ(log.str(), "Reading Lumen materials file \"" + dir.file("m.txt") + "\"\n");

  LumenSystem wrong_lens({0.8, 2.0, 1.7});
  wrong_lens.info.lumenInfo->materialsFile = dir.file("m.txt");
  log.clear();
  EXPECT_EQ(lumen_loadMaterials(&wrong_lens.info), ERR_LUMEN_INVALID_MAGNIFICATION);
  EXPECT_TRUE(log.str().ends_with("Magnification 2.0 is not allowed on an Lumen system\n"));
  EXPECT_EQ(wrong_lens.columns(), (std::vector<int32_t>{0, -1, -1, -1}));
  LumenSystem near_lens({4.002});  // just outside the tolerance
  near_lens.info.lumenInfo->materialsFile = dir.file("m.txt");
  EXPECT_EQ(lumen_loadMaterials(&near_lens.info), ERR_LUMEN_INVALID_MAGNIFICATION);

  const struct {
    std::string name;
    int rc;
    std::string log;
  } failures[] = {
      {"", ERR_INVALID_PARAM, "Lumen materials file name is NULL\n"},
      {"none.txt", ERR_LUMEN_CANT_READ_MATLS_FILE,
       "Cannot access Lumen materials file \"none.txt\"\nERR_CANT_READ_FILE\n"},
      {"bad.txt", ERR_LUMEN_CANT_READ_MATLS_FILE,
       "Error reading Lumen materials file \"" + dir.file("bad.txt") + "\"\nERR_LUMEN_CORRUPT_MATLS_FILE\n"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.name);
    found.info.lumenInfo->materialsFile = f.name;
    log.clear();
    EXPECT_EQ(lumen_loadMaterials(&found.info), f.rc);
    EXPECT_TRUE(log.str().ends_with(f.log)) << log.str();
    EXPECT_EQ(found.info.lumenInfo->materials.entries, nullptr);  // the old list is gone
  }
  u_dirs_reset();
}

}  // namespace
