// Writing a slot as a calibration file: the exact layout of whole files,
// the lines the writer must not lose or garble (each read back), the faults
// that leave the destination untouched, failed writes of the temporary
// file, and round trips of whole files and of each value at its bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_test_support.h"

namespace {

using felbrin::test::CalResult;
using felbrin::test::TempDir;
using felbrin::test::TempFileMaker;
using felbrin::test::WriteResult;
using felbrin::test::write_heading;

// A written line: the keyword in its 22-character field, two blanks, then
// the values as given.
std::string L(std::string_view keyword, std::string_view values) {
  std::string line(keyword);
  line.resize(22, ' ');
  return line + "  " + std::string(values) + "\n";
}

// The same without its line end: the last line of a file.
std::string last_line(std::string_view keyword, std::string_view values) {
  std::string line = L(keyword, values);
  line.pop_back();
  return line;
}

const std::string kHeader = "# Trel System Calibration File\n";

// The text with "\r\n" folded to "\n".
std::string unix_lines(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : unix_lines(text)) {
    if (c == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

class CalWriter : public felbrin::test::CalSlots {
 protected:
  // Reads `text` as a file into `slot`; the read must succeed with no more
  // than the console lines given.
  void read_ok(const std::string& text, int slot = 0, const std::string& console = "") {
    const CalResult r = felbrin::test::read_text(dir, text, slot, std::string("in") + std::to_string(slot));
    ASSERT_EQ(r.rc, 0) << r.log;
    EXPECT_EQ(r.log, felbrin::test::reading_line(dir.file(std::string("in") + std::to_string(slot))) + console);
  }
  // Writes slot 0 to "out" and checks a clean write.
  std::string write_ok(int slot = 0, std::string_view name = "out") {
    const WriteResult w = felbrin::test::write_slot(slot, dir.file(name));
    EXPECT_EQ(w.rc, 0);
    EXPECT_EQ(w.log, "");
    return w.text;
  }
  // Slot 0 written, read back into slot 1, every written field compared,
  // and written again byte for byte. Returns the first text.
  std::string round_trip(const std::string& console = "") {
    const std::string first = write_ok(0, "out");
    const CalResult r = felbrin::test::read_path(1, dir.file("out"));
    EXPECT_EQ(r.rc, 0) << r.log << first;
    EXPECT_EQ(r.log, felbrin::test::reading_line(dir.file("out")) + console);
    felbrin::test::expect_same_written_fields(sysInfo[0], sysInfo[1]);
    EXPECT_EQ(write_ok(1, "again"), first);
    return first;
  }

  TempDir dir;
};

// The Light line keeps the record as it reads back (see
// RecordWithoutLightLineRoundTrips).
constexpr const char* kMinimal = "Birch4  5  23  12345\nVersion  None  0  None\nLight HeNe 0.6328\n";

// ---------------------------------------------------------------- whole files

struct WholeFile {
  const char* name;
  std::string text;     // as the writer writes it (with "\n")
  std::string console;  // printed while reading it
};

std::vector<WholeFile> whole_files() {
  return {
      {"Sable Birch3",
       kHeader + L("InstrName", "\"Lab 3 rig\"") + L("Unit", "2") + L("Birch3", "05  23  12345  R") +
           L("Version", "Matrox  3  Sable") + L("InstrComm", "COM1") + L("Camera Type", "XC77CE") +
           L("Camera File", "cam0.cfg NULL  cam2.cfg") + L("Camera Dark", "12") + L("Camera Align", "Center") +
           L("Camera BPixels", "[1,2] [3,4]") + L("Camera Options", "5") + L("Ramp Config", "ramp2.txt") +
           L("Light HeNe", "0.632800 0.632800 0.632800 0.632800") + L("LLC Range", "0  4000") + L("LLC Config", "3") +
           L("LLC Options", "2") + L("LLC AvgCurLimit", "100  200") +
           L("LLC FwdVoltage", "3000  3100  3200  3300") + L("PztPwr", "100") + L("ADC Clock", "20") +
           L("Pifoc", "250  1.000000  0.014400") + L("PifocPolarity", "1") + L("PifocType", "2") +
           L("SysMag", "1.0000  2.5000") + L("NomMag", "1.0000  2.5000") + L("Camera SplitX", "512  2") +
           L("Camera Trans", "0  1  -1") + L("Camera Trans", "1  0  3") + L("ScanCal", "1.02") +
           L("Turret", "3") + L("Zoom", "1") + "IgnoreLAPS\n" + L("DiffDiskRate", "20") +
           L("DiffDiskFraction", "0.9") + L("XAxisBacklash", "1.5") + L("ZAxisCal", "1.01") +
           L("ZAxisBacklash", "2") + L("ZEncoder", "1") + L("SdcCal", "2  1  2  3  4  5  6  7  8") +
           L("InvertData", "1") + "NoIntensAvg\n" + L("MotionCtrl", "COM3  COM4") +
           L("PosInstr", "Heid  COM5") + L("PendentMenu", "menu.txt") + L("AxisComp_X", "compx.txt") +
           "PidVals_X  1  2  3  4  1  5  0.5  0.25  -1  2\n" + L("wmComm", "COM7") +
           L("LumensiInvertData", "1") + L("AbsWaveMeter", "1  COM8") + L("DynWaveGen", "1  2  100") +
           L("KiteEncZoomConfig", "3") + L("EncodedRadiusScale", "1  0.5  0.25  3  0") +
           last_line("SleepTimeout", "1:00:00"),
       ""},
      {"CAN Fjord4",
       kHeader + L("Fjord4", "10  01  200  ") + L("Version", "GigE  44  CAN") +
           L("MacAddress", "00  1A  2B  3C  4D  5E") + L("Camera Type", "A504K") +
           L("Light LED", "[0.850000,0.020000]") + L("LLC Range", "0  60000") + L("LLC Config", "1  3") +
           L("LLC Freq", "40000") + L("LLC AvgCurLimit", "0  5") + L("Pifoc", "300") +
           L("SysMag", "1.0000") + L("NomMag", "5.0000") + L("Turret", "2  4") + L("Zoom", "2") +
           "IgnoreWand\nIgnorePZT\n" + L("ZAxisBacklash", "0") + L("ZCanClosedLoop", "1") +
           L("PidVals_Z Fast", "-5  6  7  8  0  9  -0.5  0  0  1.5") +
           L("PidVals_Z Slow", "1  2  3  4  1  5  0  0  0  0") + L("IntfRadiusScale", "0  0  0  0  0.5"),
       ""},
      {"Kite",
       kHeader + L("Kite", "99  52  999999  R") + L("Version", "FireWire  7  Kite") + L("InstrComm", "COM2") +
           L("Camera Type", "CUSTOM  1") + L("Camera Config", "1  5") +
           L("Light White", "0.550000 0.600000 0.632800 0.632800") + L("LLC Range", "20  200") +
           L("LLC Target", "100") + "RingSpot\n" + L("KiteEncZoomConfig", "1") +
           L("KiteEncZoomBacklash", "-5") + L("KiteEncZoomProgLim", "100  200") +
           L("KiteEncZoomWandLim", "0  300") + L("KiteEncZoomStdMags", "1  2.5  5") +
           L("KiteEncZoomCalFile", "zoomcal.txt"),
       "Setting fieldCtrl to 1\n"},
      {"Lumen with Lumen block",
       kHeader + L("Lumen", "20  10  5000  ") + L("Version", "Matrox  2  Lumen") + L("InstrComm", "COM1") +
           L("Camera Type", "TM6740") + L("Light HeNe", "9.000000") + L("Pifoc", "100  0.928655  0.014400") +
           L("SysMag", "1.0000  2.0000") + L("NomMag", "1.0000  2.0000") + L("LumenMaterials", "mats.txt") +
           L("LumenSys", "0.5  0.25  -0.125  2.5") + L("LumenDmiScale", "2") + L("LumenImageRot", "0") +
           L("LumenZeroPtPos", "1.5  -2.25") + L("LumenDisper", "0  0.1  0.2  0.3") +
           L("LumenDisper", "1  -0.5  0.5") + L("LumenAvg_K0", "1  10  20") + L("LumenDmiCenter", "0  0  0") +
           L("LumenDmiCenter", "1  1.5  -2.5") + L("LumenTiltCenter", "0  0.25  0") +
           L("LumenTiltCenter", "1  0  0") + L("LumenZeroGagePer", "0:00:30:00") +
           L("LumenTemperature", "1:02:03:04   2.50") + L("LumenLog", "run.log  100  200") +
           L("InvertData", "0") + L("MotionCtrl", "COM3  COM4"),
       ""},
      {"Heron",
       kHeader + L("Heron", "15  30  4242  ") + L("Version", "None  0  None") +
           L("Light HeNe", "0.632800 0.632800 0.632800 0.632800") + L("LLC Target", "150") +
           L("wmComm", "COM6") + L("wmSysGain", "0.500000") + L("wmMonOPD", "0.000000") +
           L("wmTuneRange", "2.000  1.000") + L("wmTuneRate", "0.500  0.250"),
       ""},
  };
}

TEST_F(CalWriter, WholeFilesKeepTheirExactLayoutAndReadBack) {
  for (const WholeFile& f : whole_files()) {
    SCOPED_TRACE(f.name);
    felbrin::test::clear_slots();
    read_ok(f.text, 0, f.console);
    const std::string written = round_trip(f.console);
    EXPECT_EQ(written, felbrin::test::native_lines(f.text));
  }
}

// A file as people write it (any case, tabs, comments, synonyms) is written
// in the canonical form.
TEST_F(CalWriter, HandWrittenFileIsWrittenCanonically) {
  read_ok("# my rig\nbirch4 5 3 777\n\tversion none 1 none\n"
          "Camera Bad [1,2]\ncamera bpixels [3,4]   # more\nLLC Range 1 2 3 4\nlumensiinvertdata 2\n");
  const std::string written = write_ok();
  EXPECT_EQ(written, felbrin::test::native_lines(kHeader + L("Birch4", "05  03  777  ") +
                                                 L("Version", "None  1  None") +
                                                 L("Camera BPixels", "[1,2] [3,4]") +
                                                 L("LLC Range", "1  2  3  4") + L("LumensiInvertData", "2")));
}

// ---------------------------------------------------------------- layout details

TEST_F(CalWriter, ThirteenBadPixelsGiveLinesOfSixSixAndOne) {
  std::string text = kMinimal;
  std::string items[3];
  for (int i = 0; i < 13; ++i) {
    const std::string item = std::string("[") + std::to_string(i) + std::string(",") + std::to_string(i + 100) + "]";
    text += "Camera Bad " + item + "\n";
    std::string& group = items[i / 6];
    group += (group.empty() ? "" : " ") + item;
  }
  read_ok(text);
  const std::string written = unix_lines(round_trip());
  const std::string expected =
      L("Camera BPixels", items[0]) + L("Camera BPixels", items[1]) + L("Camera BPixels", items[2]);
  EXPECT_NE(written.find(expected), std::string::npos) << written;
}

TEST_F(CalWriter, SleepTimeoutIsTheLastLineWithoutLineEnd) {
  read_ok(std::string(kMinimal) + "SleepTimeout 1\n");
  const std::string written = round_trip();
  const std::string last = last_line("SleepTimeout", "1:00:00");
  ASSERT_GE(written.size(), last.size());
  EXPECT_EQ(written.substr(written.size() - last.size()), last);

  felbrin::test::clear_slots();
  read_ok(std::string(kMinimal) + "SleepTimeout 4\n");
  const std::string plain = write_ok();
  EXPECT_EQ(plain.find("SleepTimeout"), std::string::npos);
  const std::string line_end = felbrin::test::native_lines("\n");
  EXPECT_EQ(plain.substr(plain.size() - line_end.size()), line_end);
}

// Lines that were lost, garbled or unreadable when written literally; each
// record is written, read back and compared field by field.
TEST_F(CalWriter, LinesThatMustSurviveAWrite) {
  struct Case {
    const char* name;
    std::string text;                 // the record, as a file
    std::vector<std::string> present;  // whole written lines
    std::vector<std::string> absent;   // keywords no written line starts with
  };
  // Each record is complete enough to be written and read back unchanged.
  const std::string light = "Light HeNe 0.6328\n";
  const std::string camera = "Camera Type BASLER\n";
  const std::string fjord4 = "Fjord4 1 1 100\nVersion None 0 CAN\nMacAddress 0 1 2 3 4 5\nPifoc 5\n" + camera;
  const std::string can = "Birch4 1 1 100\nVersion None 0 CAN\nMacAddress 0 1 2 3 4 5\n" + camera;
  const std::string lumen = "Lumen 1 1 100\nVersion None 0 None\nInvertData 0\nPifoc 5\nMotionCtrl a b\n"
                            "SysMag 1 2\nNomMag 1 2\n" + light;
  const std::string dune = "Dune 1 1 100\nVersion None 0 None\n" + light;
  const std::string base = kMinimal;
  // The Sable Birch3 file without its SysMag line and with 0 as its first
  // nominal magnification.
  std::string first_mag_zero = whole_files()[0].text;
  first_mag_zero.erase(first_mag_zero.find("SysMag"), L("SysMag", "1.0000  2.5000").size());
  first_mag_zero.replace(first_mag_zero.find("NomMag"), L("NomMag", "1.0000  2.5000").size(),
                         L("NomMag", "0.0000  2.5000  5.0000  10.0000"));
  const Case cases[] = {
      {"A1 Lumen without LumenSys", lumen + "LumenDmiScale 2.25\n", {L("LumenDmiScale", "2.25")}, {"LumenSys "}},
      {"A2 CAN Fjord4 derived ranges", fjord4, {}, {"LLC Range"}},
      {"A2 CAN Fjord4 first range", fjord4 + "LLC Range 10 20\n", {L("LLC Range", "10  20")}, {}},
      {"A2 CAN Fjord4 second range", fjord4 + "LLC Range 0 65535 1 2\n", {L("LLC Range", "0  65535  1  2")}, {}},
      {"A3 InvertData 0 on Dune", dune + "InvertData 0\nSysMag 1 2\nNomMag 1 2\n", {L("InvertData", "0")}, {}},
      {"A4 LLC Target on board Kite",
       "Birch4 1 1 100\nVersion None 0 Kite\nInstrComm C\nLLC Target 100\n" + camera + light,
       {L("LLC Target", "100")}, {}},
      {"A5 wmMonOPD 0 on Heron", "Heron 1 1 100\nVersion None 0 None\nwmComm C\nwmMonOPD 0\n" + light,
       {L("wmMonOPD", "0.000000")}, {}},
      {"A6 texts that need quotes",
       base + "MotionCtrl \"a b\" c\nPendentMenu \"#menu\"\nAxisComp_A \",y\"\nAxisComp_B \"x\ty\"\n"
              "AxisComp_P \"[p]\"\nAxisComp_R \"a:b\"\n",
       {L("MotionCtrl", "\"a b\"  c"), L("PendentMenu", "\"#menu\""), L("AxisComp_A", "\",y\""),
        L("AxisComp_B", "\"x\ty\""), L("AxisComp_P", "\"[p]\""), L("AxisComp_R", "a:b")},
       {}},
      {"A7 zero inside the magnifications", base + "SysMag 1 0 3\nNomMag 2 0 4\n",
       {L("SysMag", "1.0000  0.0000  3.0000"), L("NomMag", "2.0000  0.0000  4.0000")}, {}},
      {"A7 Dune with four magnifications",
       dune + "InvertData 0\nSysMag 1 2 3 4\nNomMag 1 2 3 4\n",
       {L("SysMag", "1.0000  2.0000  3.0000  4.0000")}, {}},
      {"A8 Pifoc scale and Beta on Birch4", base + "Pifoc 100 1.5 0.02\n", {L("Pifoc", "100  1.500000  0.020000")},
       {}},
      {"A8 Pifoc defaults on Birch4", base + "Pifoc 100\n", {L("Pifoc", "100")}, {}},
      {"B1 range on board None", base + "LLC Range 5 6\n", {L("LLC Range", "5  6")}, {}},
      {"B1 range on board Lumen",
       "Birch4 1 1 100\nVersion None 0 Lumen\nInstrComm C\nLLC Range 1 2\nLight HeNe\n" + camera,
       {L("LLC Range", "1  2")}, {}},
      {"B1 range on CAN Birch4", can + "LLC Range 1 2\n", {L("LLC Range", "1  2")}, {}},
      {"B1 second range on CAN Birch4", can + "LLC Range 0 65535 7 8\n", {L("LLC Range", "0  65535  7  8")}, {}},
      {"B1 second range on Sable",
       "Birch4 1 1 100\nVersion None 0 Sable\nInstrComm C\nLight HeNe 0.6\nLLC Range 0 4095 3 4\n" + camera,
       {L("LLC Range", "0  4095  3  4")}, {}},
      {"B2 ZAxisBacklash 0", base + "ZAxisBacklash 0\n", {L("ZAxisBacklash", "0")}, {}},
      {"B3 KiteEncZoomBacklash negative", base + "KiteEncZoomBacklash -5\n", {L("KiteEncZoomBacklash", "-5")}, {}},
      {"B4 PifocPolarity without pifoc", base + "PifocPolarity -1\n", {L("PifocPolarity", "-1")}, {"Pifoc "}},
      {"B5 CUSTOM value on CAN", can + "Camera Type CUSTOM 1\n", {L("Camera Type", "CUSTOM  1")}, {}},
      {"B5 CUSTOM value on NOTNEEDED",
       "Birch4 1 1 100\nVersion None 0 NotNeeded\nCamera Type CUSTOM 1\n" + light,
       {L("Camera Type", "CUSTOM  1")}, {}},
      {"B6 LLC Instr Dune", base + "LLC Instr Dune\n", {L("LLC Instr", "Dune")}, {}},
      {"B7 limit of range 1 only", base + "LLC AvgCurLimit 0 5\n", {L("LLC AvgCurLimit", "0  5")}, {}},
      {"B7 second source pair", base + "LLC FwdVoltage 1 2 0 4\n", {L("LLC FwdVoltage", "1  2  0  4")}, {}},
      {"B7 second source only", base + "LLC FwdVoltage 0 0 7 0\n", {L("LLC FwdVoltage", "0  0  7  0")}, {}},
      // Values the reader takes on any system, kept whenever they differ
      // from the reset value.
      {"second range on NOTNEEDED", "Birch4 1 1 100\nVersion None 0 NotNeeded\nLLC Range 5 6 7 8\n" + camera + light,
       {L("LLC Range", "10  159  7  8")}, {}},
      {"NOTNEEDED without second range", "Birch4 1 1 100\nVersion None 0 NotNeeded\nLLC Range 5 6\n" + camera + light,
       {}, {"LLC Range"}},
      {"Turret 0 with a second value", base + "Turret 0 7\n", {L("Turret", "0  7")}, {}},
      {"LLC Freq without LED", base + "LLC Freq 100\n", {L("LLC Freq", "100")}, {}},
      {"LLC Target on Birch4", base + "LLC Target 100\n", {L("LLC Target", "100")}, {}},
      {"RadCrvFocCal on Birch4", base + "RadCrvFocCal 2\n", {L("RadCrvFocCal", "2")}, {"RadCrvPwrCal"}},
      {"wmTuneRange maximum 0", base + "wmTuneRange 0 5\n", {L("wmTuneRange", "0.000  5.000")}, {}},
      {"81-character InstrName", base + "InstrName " + std::string(81, 'n') + "\n",
       {L("InstrName", std::string(81, 'n'))}, {}},
      // Lines of several values whose first one alone decided whether they
      // were written.
      {"NomMag whose first value is 0", first_mag_zero,
       {L("NomMag", "0.0000  2.5000  5.0000  10.0000"), L("Camera Trans", "1  0  3")}, {"SysMag"}},
      {"magnifications all 0 keep their count", base + "SysMag 0 0\nNomMag 0 0\nCamera SplitY 1 0\nCamera Trans 1 5 -5\n",
       {L("NomMag", "0.0000  0.0000"), L("Camera Trans", "1  5  -5")}, {"SysMag"}},
      {"empty first camera file", base + "Camera File \"\" b c\n", {L("Camera File", "\"\"  b  c")}, {}},
      {"MotionCtrl with an empty first port", base + "MotionCtrl \"\" b\n", {L("MotionCtrl", "\"\"  b")}, {}},
      {"AbsWaveMeter on without a name", base + "AbsWaveMeter 1 \"\"\n", {L("AbsWaveMeter", "1  \"\"")}, {}},
      {"PosInstr with an empty first text", base + "PosInstr Heid \"\" b\n", {L("PosInstr", "Heid  \"\"  b")}, {}},
      {"TempSensor with an empty text", base + "TempSensor Euro2216e \"\"\n", {L("TempSensor", "Euro2216e  \"\"")},
       {}},
      {"LLC Instr with an empty text", base + "LLC Instr Wren \"\"\n", {L("LLC Instr", "Wren  \"\"")}, {}},
      {"SdcCal with D1 0", base + "SdcCal 3 1 2 3 4 5 6 0 8\n", {L("SdcCal", "3  1  2  3  4  5  6  0  8")}, {}},
      {"SdcCal with two values", base + "SdcCal 3 1 2\n", {L("SdcCal", "3  1  2")}, {}},
      {"80-character quoted camera file and a second one",
       base + "Camera File \"a b" + std::string(77, 'c') + "\" d\n",
       {L("Camera File", "\"a b" + std::string(77, 'c') + "\"  d")}, {}},
      {"LumenLog without a name", lumen + "LumenLog \"\" 5 6\n", {L("LumenLog", "\"\"  5  6")}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    felbrin::test::clear_slots();
    read_ok(c.text);
    const std::vector<std::string> lines = lines_of(round_trip());
    for (std::string expected : c.present) {
      expected.pop_back();  // the "\n" of L
      EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << "missing: " << expected;
    }
    for (const std::string& keyword : c.absent) {
      for (const std::string& line : lines) EXPECT_NE(line.rfind(keyword, 0), 0u) << line;
    }
  }
}

// Dune always writes two magnifications, so one becomes two.
TEST_F(CalWriter, AlwaysWrittenMagnificationsAreAtLeastTwo) {
  read_ok("Dune 1 1 100\nVersion None 0 None\nInvertData 0\nSysMag 3\nNomMag 4\n");
  const std::string written = unix_lines(write_ok());
  EXPECT_NE(written.find(L("SysMag", "3.0000  0.0000") + L("NomMag", "4.0000  0.0000")), std::string::npos)
      << written;
  ASSERT_EQ(felbrin::test::read_path(1, dir.file("out")).rc, 0);
  EXPECT_EQ(sysInfo[1].magCount, 2);
}

// With board None, unknown camera and light types leave their lines out
// (the reader has no word for them); the file reads back.
TEST_F(CalWriter, UnknownCameraAndLightOnBoardNoneAreLeftOut) {
  read_ok(kMinimal);
  sysInfo[0].lightType = LIGHT_UNKNOWN;
  EXPECT_EQ(write_ok(), felbrin::test::native_lines(kHeader + L("Birch4", "05  23  12345  ") +
                                                    L("Version", "None  0  None")));
  EXPECT_EQ(felbrin::test::read_path(1, dir.file("out")).rc, 0);
}

// ---------------------------------------------------------------- faults

TEST_F(CalWriter, FaultsLeaveTheDestinationAndRemoveTheTempFile) {
  struct Case {
    const char* name;
    std::string text;
    int32_t system_type, light_type;  // -1: as read
    int rc;
    std::string messages;
  };
  const Case cases[] = {
      {"system type Birch", kMinimal, SYS_BIRCH, -1, ERR_SB_CAL_INFO_INCOMPLETE, "System type undefined.\n"},
      {"system type special", "special 1 1 100\nVersion None 0 None\n", -1, -1, ERR_SB_CAL_INFO_INCOMPLETE,
       "System type undefined.\n"},
      {"CAN without canInfo", "Birch4 1 1 100\nVersion None 0 CAN\nInstrComm C\nCamera Type SU320\n", -1, -1,
       ERR_INVALID_PARAM,
       "canInfo = NULL\n"},
      {"camera type on Sable", "Birch4 1 1 100\nVersion None 0 Sable\nInstrComm C\nLight HeNe 0.6\n", -1, -1,
       ERR_SB_CAL_INFO_INCOMPLETE, "Camera Type undefined.\n"},
      {"light type on Kite",
       "Birch4 1 1 100\nVersion None 0 Kite\nInstrComm C\nLLC Target 99\nCamera Type BASLER\n", -1,
       LIGHT_UNKNOWN, ERR_SB_CAL_INFO_INCOMPLETE, "Light Type undefined.\n"},
      {"light type past the last", "Birch4 1 1 100\nVersion None 0 Kite\nInstrComm C\nLLC Target 99\nCamera Type BASLER\n",
       -1, LIGHT_LED + 1, ERR_SB_CAL_INFO_INCOMPLETE, "Light Type undefined.\n"},
      // The board came after the camera: in the writer's order the file
      // would not read back.
      {"custom camera, then a board without one",
       "Birch4 1 1 100\nVersion None 0 NOTNEEDED\nCamera Type CUSTOM\nLight HeNe 0.6\nVersion None 0 None\n",
       -1, -1, ERR_SB_CALFILE_INCONSISTENT, "Camera Type CUSTOM does not fit the instrument board.\n"},
      // Every fault is reported; the last one's code is returned.
      {"three faults", "Birch4 1 1 100\nVersion None 0 CAN\nInstrComm C\n", SYS_ALDER, -1, ERR_SB_CAL_INFO_INCOMPLETE,
       "System type undefined.\ncanInfo = NULL\nCamera Type undefined.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    felbrin::test::clear_slots();
    read_ok(c.text);
    if (c.system_type >= 0) sysInfo[0].systemType = c.system_type;
    if (c.light_type >= 0) sysInfo[0].lightType = c.light_type;
    const std::string dest = dir.file("dest");
    felbrin::test::write_file(dest, "old");
    TempFileMaker maker(dir);
    const WriteResult w = felbrin::test::write_slot(0, dest);
    EXPECT_EQ(w.rc, c.rc);
    EXPECT_EQ(w.log, write_heading(dest) + c.messages);
    EXPECT_EQ(w.text, "old");
    EXPECT_EQ(maker.made(), 1);
    EXPECT_FALSE(std::filesystem::exists(maker.last()));
  }
}

// A text the reader would not read back as written is refused (a fuzzed
// file gave the Lumen materials file a name of one carriage return).
TEST_F(CalWriter, TextsThatWouldNotReadBackAreRefused) {
  const std::string lumen =
      "Lumen 1 1 100\nVersion None 0 None\nInvertData 0\nPifoc 5\nMotionCtrl a b\nLumenMaterials glass.txt\n";
  for (const char* name : {"\r", "glass\r.txt", "say \"glass\""}) {
    SCOPED_TRACE(name);
    felbrin::test::clear_slots();
    read_ok(lumen);
    sysInfo[0].lumenInfo->materialsFile = name;
    const std::string dest = dir.file("dest");
    felbrin::test::write_file(dest, "old");
    const WriteResult w = felbrin::test::write_slot(0, dest);
    EXPECT_EQ(w.rc, ERR_SB_CALFILE_INCONSISTENT);
    EXPECT_EQ(w.log, write_heading(dest) + "A text value holds a quote or a line end.\n");
    EXPECT_EQ(w.text, "old");
  }
}

TEST_F(CalWriter, CopyIntoMissingDirectoryFails) {
  read_ok(kMinimal);
  TempFileMaker maker(dir);
  const std::string dest = dir.file("missing/cal.0");
  const WriteResult w = felbrin::test::write_slot(0, dest);
  EXPECT_EQ(w.rc, ERR_CANT_WRITE_FILE);
  EXPECT_EQ(felbrin::test::without_copy_note(w.log),
            write_heading(dest) + "Cannot copy temp file \"" + maker.last() + "\" to \"" + dest + "\"\n");
  EXPECT_FALSE(std::filesystem::exists(maker.last()));
  EXPECT_FALSE(std::filesystem::exists(dest));
}

// The temporary file cannot be written (as on a full disk): the failure is
// reported and the destination is left as it was.
TEST_F(CalWriter, FailedWriteOfTempFileLeavesTheDestination) {
  read_ok(kMinimal);
  const std::string dest = dir.file("dest");
  felbrin::test::write_file(dest, "old");
  TempFileMaker maker(dir, /*read_only=*/true);
  const WriteResult w = felbrin::test::write_slot(0, dest);
  EXPECT_EQ(w.rc, ERR_CANT_WRITE_FILE);
  const std::string start = write_heading(dest) + "Cannot write temp file \"" + maker.last() + "\": ";
  EXPECT_EQ(w.log.substr(0, start.size()), start);
  EXPECT_GT(w.log.size(), start.size() + 1);  // the system's error text
  EXPECT_EQ(w.log.back(), '\n');
  EXPECT_EQ(w.text, "old");
  EXPECT_FALSE(std::filesystem::exists(maker.last()));
}

TEST_F(CalWriter, SlotOutOfRange) {
  felbrin::test::LogCapture log;
  EXPECT_EQ(sb_writeCal(-1, dir.file("x").c_str()), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(sb_writeCal(SB_SLOTS, dir.file("x").c_str()), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
}

// ---------------------------------------------------------------- round trips

// Each value at its bounds and in between, written and read back.
TEST_F(CalWriter, ValuesAtTheirBoundsRoundTrip) {
  const char* lines[] = {
      "Unit 7",
      "Birch4 0 1 100",
      "Birch4 99 52 999999 R",
      "Version X64LVDS 255 None\nCamera Type SIM200",
      "InstrName \"\"",
      "Camera Dark 32767",
      "Camera Options 268435455",
      "Camera Align TopLeft",
      "Camera Bpix 1 pix.txt",
      "Camera Bpix 0 pix.txt",
      "Camera BPixels [0,0] [700,484]",
      "Camera File a b c",
      "Camera File a NULL c",
      "Light Special [15,1] [0.1,0] 7.5 [1,0.5]",
      "Light Diode 0.1",
      "LLC Config 255 255",
      "LLC Config 0",
      "LLC Options 268435455",
      "LLC AvgCurLimit 1000 0 1000 1000",
      "LLC FwdVoltage 10000 10000",
      "LLC Instr Wren COM1",
      "LLC Range 65535 0 4096 4096",
      "LLC Range 0 0",
      "PztPwr 0",
      "PztPwr 1000",
      "ADC Clock 511",
      "Pifoc 999999 2 0.1",
      "Pifoc 0 0.5 0",
      "PztId 99999",
      "Pifoc 7\nPifocType 2",
      "PifocPolarity -1",
      "NomMag 100 0.0001\nSysMag 0.5 99.9999",
      "NomMag 0 2.5 5 10\nCamera SplitX 512 2\nCamera Trans 0 1 -1\nCamera Trans 3 1 0",
      "SysMag 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\nNomMag 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15",
      "SysMag 1 2\nNomMag 1 2\nCamera SplitX 2047 10\nCamera Trans 0 -2047 2047\nCamera Trans 1 5 -5",
      "SysMag 1\nNomMag 1\nCamera SplitY 1 0",
      "ScanCal 0.85 1.15",
      "ScanCal 1.15",
      "Turret 255 0",
      "Turret 1 5",
      "Zoom 255",
      "IgnoreDualBrushMotor\nIgnoreLAPS\nIgnoreWand\nIgnoreFocusNDW\nIgnoreZoom\nIgnorePZT",
      "DiffDiskRate 10",
      "DiffDiskRate 80",
      "DiffDiskFraction 2",
      "DiffDiskFraction 0.01",
      "XAxisBacklash 1000\nYAxisBacklash 0.5",
      "ZAxisCal 0.85",
      "ZAxisCal 1.15",
      "ZAxisBacklash 100",
      "ZEncoder 1\nZCanClosedLoop 1",
      "SdcCal 0 -1e+30 1e+30 0 -2.5 3 4 1e-30 1e+30",
      "SdcCal 14 1 2 3 4 5 6 7 8",
      "InvertData 255",
      "NoIntensAvg\nTouchScreen",
      "MotionCtrl a b",
      "PosInstr StepNet a b",
      "PosInstr Quartz a",
      "TempSensor Euro2216e t",
      "PendentMenu m",
      "AxisComp_Z z.txt\nAxisComp_T t.txt",
      "PidVals_B 8388607 -8388608 8388607 0 1 8388607 -2 2 -0.125 1e-05",
      "PidVals_P Fast 1 0 15050 0 0 0 0 0 0 0",
      "PidVals_R Slow 700 0 15050 0 0 0 0 0 0 0.5",
      "wmComm w",
      "wmSysGain 1024.5",
      "wmMonOPD 2147483647",
      "wmTuneRange 2147483647 0\nwmTuneRate 0.001 0",
      "LumensiInvertData 255",
      "AbsWaveMeter 0 meter",
      "DynWaveGen -2147483648 30 96",
      "DynWaveGen 2147483647 0 0",
      "KiteEncZoomConfig 255\nKiteEncZoomBacklash 1000\nKiteEncZoomProgLim 60000 0\nKiteEncZoomWandLim 0 60000",
      "KiteEncZoomStdMags 100 0 0.5",
      "KiteEncZoomCalFile zc.txt",
      "EncodedRadiusScale 1 1 1 20 1",
      "EncodedRadiusScale 0 0 0 0",
      "IntfRadiusScale 0 0.125 0 -0 0",
      "SleepTimeout 5:47:44",
      "SleepTimeout 0",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    felbrin::test::clear_slots();
    read_ok(std::string(kMinimal) + line + "\n");
    round_trip();
  }
}

// ---------------------------------------------------------------- records at the edges
// Records the reader accepts whose plain writing would not read back.

// A record without a Light line keeps entries 1 to 3 at 0; a written Light
// line would read back with entries 1 to 3 preset to 0.6328 um.
TEST_F(CalWriter, RecordWithoutLightLineRoundTrips) {
  read_ok("Birch4 5 23 12345\nVersion None 0 None\n");
  round_trip();
}

// NomMag alone (no SysMag) is never written, as the NomMag line is written
// only when SysMag entry 0 is set; the Camera Trans lines written after the
// split then precede any magnification and the file reads back with 388.
TEST_F(CalWriter, NomMagWithoutSysMagIsWritten) {
  read_ok(std::string(kMinimal) + "NomMag 1 2\nCamera SplitX 5 1\nCamera Trans 1 5 -5\n");
  const std::vector<std::string> lines = lines_of(round_trip());
  EXPECT_NE(std::find(lines.begin(), lines.end(), last_line("NomMag", "1.0000  2.0000")), lines.end());
}

// PifocType alone makes a zeroed pifoc record (scale 0, Beta 0, which no
// file can give); its value line reads back with the default scale and Beta.
TEST_F(CalWriter, PifocTypeWithoutPifocReadsBack) {
  read_ok(std::string(kMinimal) + "PifocType 2\n");
  const std::string first = write_ok(0, "out");
  EXPECT_NE(unix_lines(first).find(L("Pifoc", "0")), std::string::npos) << first;
  const CalResult r = felbrin::test::read_path(1, dir.file("out"));
  ASSERT_EQ(r.rc, 0) << r.log;
  ASSERT_NE(sysInfo[1].pifoc, nullptr);
  EXPECT_EQ(sysInfo[1].pifoc->type, 2);
  EXPECT_EQ(sysInfo[1].pifoc->scale, SB_PIFOC_SCALE);
  EXPECT_EQ(sysInfo[1].pifoc->beta, SB_PIFOC_BETA);
  EXPECT_EQ(write_ok(1, "again"), first);
}

// wmSysGain accepts 2147483647, which single precision keeps as 2147483648;
// that is written and then rejected as out of range [0,2147483647].
TEST_F(CalWriter, LargestSystemGainRoundTrips) {
  read_ok(std::string(kMinimal) + "wmSysGain 2147483647\n");
  round_trip();
}

TEST_F(CalWriter, EmberRadiusCalibrationsRoundTrip) {
  read_ok("Ember 1 1 100\nVersion None 0 None\nInvertData 3\nLight HeNe 0.6328\nSysMag 1 2\nNomMag 1 2\n"
          "RadCrvFocCal -100\nRadCrvPwrCal 99.5\n");
  const std::string written = unix_lines(round_trip());
  EXPECT_NE(written.find(L("RadCrvFocCal", "-100") + L("RadCrvPwrCal", "99.5")), std::string::npos) << written;
}

}  // namespace
