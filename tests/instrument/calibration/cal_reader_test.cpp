// Reading a calibration file into a slot: the line loop and its recovery
// (line numbers, the 10-message limit, stops), the error headings, the
// validation checks in their order, the derived light level ranges per
// board and the model consistency notes. Messages are compared whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_test_support.h"
#include "instrument/serial/device_table.h"
#include "instrument/serial/serial_port.h"
#include "sim/memory_serial.h"
#include "support/alloc_hooks.h"

namespace {

using felbrin::test::CalResult;
using felbrin::test::file_heading;
using felbrin::test::inline_heading;
using felbrin::test::reading_line;
using felbrin::test::TempDir;

constexpr const char* kMinimal = "Birch4  5  23  12345\nVersion  None  0  None\n";

class CalReader : public felbrin::test::CalSlots {
 protected:
  // Reads `text` as a file; the log is returned without the "Reading" line,
  // which is checked here.
  CalResult read(const std::string& text, int slot = 0) {
    CalResult r = felbrin::test::read_text(dir, text, slot);
    const std::string reading = reading_line(path());
    EXPECT_EQ(r.log.substr(0, reading.size()), reading);
    r.log.erase(0, reading.size());
    return r;
  }
  std::string path() const { return dir.file("cal.0"); }
  std::string heading() const { return file_heading(path()); }

  TempDir dir;
};

// ---------------------------------------------------------------- the loop

// A read keeps some values and the open lines of the last one; a cleared
// slot keeps nothing, and what it owns is closed.
TEST_F(CalReader, AClearedSlotIsAsNeverRead) {
  ASSERT_EQ(read(std::string(kMinimal) + "wmComm COM9\nwmSysGain 1.5\nPifoc 250\n").rc, 0);
  sim::MemorySerial backend;
  sim::MemorySerialPort& line = backend.add_port("COM3");
  plat::SerialBackend* const saved = sio_set_backend(&backend);
  sysInfo_t& s = sysInfo[0];
  ASSERT_EQ(dev_init_cntrl(1), 0);
  ASSERT_EQ(sio_open("COM3", &s.boardLink.port), 0);
  ASSERT_EQ(dev_add_device(DEV_TYPE_UZ, s.boardLink.port.handle, &s), 0);
  const sio_handle_t handle = s.boardLink.port.handle;

  ASSERT_EQ(read(kMinimal).rc, 0);
  EXPECT_EQ(s.wmComm, "COM9") << "a read keeps it";
  EXPECT_TRUE(s.pifoc);
  EXPECT_TRUE(line.is_open());

  EXPECT_EQ(sb_clearCal(0), 0);
  EXPECT_FALSE(line.is_open());
  EXPECT_FALSE(dev_is_registered(handle));
  EXPECT_EQ(s.boardLink.port.handle, SIO_INVALID_HANDLE);
  EXPECT_EQ(s.wmComm, "");
  EXPECT_EQ(s.wmSysGain, 0);
  EXPECT_FALSE(s.pifoc);
  EXPECT_EQ(s.calFilePath, "");
  EXPECT_EQ(s.systemType, sysInfo_t{}.systemType);
  EXPECT_EQ(sb_clearCal(SB_SLOTS), ERR_PARAM_OUT_OF_RANGE);
  dev_close_cntrl();
  sio_set_backend(saved);
}

TEST_F(CalReader, EmptyFileMissesSystemType) {
  const CalResult r = read("");
  EXPECT_EQ(r.rc, ERR_SB_CALFILE_INCOMPLETE);
  EXPECT_EQ(r.log, heading() + "Missing system type info.\n");
}

TEST_F(CalReader, MinimalBirch4FilePasses) {
  const CalResult r = read(kMinimal);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.log, "");
  const sysInfo_t& s = sysInfo[0];
  EXPECT_EQ(s.systemType, SYS_BIRCH4);
  EXPECT_EQ(s.dateCode, 523);
  EXPECT_EQ(s.serialNumber, 12345);
  EXPECT_EQ(s.instrBdType, BD_NONE);
  EXPECT_EQ(s.calFilePath, path());
}

TEST_F(CalReader, CommentsBlankLinesAndCrLfCountAsLines) {
  const CalResult r = read("# Trel System Calibration File\r\n\r\nBirch4 5 23 12345\r\n   # x\r\nUnit 9\r\n");
  EXPECT_EQ(r.rc, ERR_SB_CALFILE_INVALID);
  EXPECT_EQ(r.log, heading() + "9 out of range [0,7]\nError in line 5.\n");
}

TEST_F(CalReader, TwoBadLinesAreReportedAndTheRestApplied) {
  const CalResult r = read(std::string(kMinimal) + "Unit 9\nZoom 300\nTurret 3\n");
  EXPECT_EQ(r.rc, ERR_SB_CALFILE_INVALID);
  EXPECT_EQ(r.log, heading() +
                       "9 out of range [0,7]\nError in line 3.\n"
                       "300 out of range [0,255]\nError in line 4.\n");
  EXPECT_EQ(sysInfo[0].turret, 3);
}

// The limit counts rule messages and "Error in line" alike.
TEST_F(CalReader, TenMessageLimit) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    int rc;
    std::string messages;
  };
  std::string eleven_silent;
  std::string silent_messages;
  for (int i = 1; i <= 10; ++i) silent_messages += std::string("Error in line ") + std::to_string(i) + ".\n";
  std::string nine_silent_then_order;
  for (int i = 1; i <= 9; ++i) nine_silent_then_order += std::string("Error in line ") + std::to_string(i) + ".\n";
  std::string range_messages;
  for (int i = 1; i <= 5; ++i) range_messages += std::string("9 out of range [0,7]\nError in line ") + std::to_string(i) + ".\n";
  const std::vector<std::string> silent(11, "Unit x");
  std::vector<std::string> order(9, "Unit x");
  order.push_back("Camera Trans 0 1 1");
  order.push_back("Unit 9");
  const Case cases[] = {
      // Eleven lines with one message each: the read stops on the tenth.
      {"eleven silent lines", silent, ERR_SB_CALFILE_SYNTAX, silent_messages},
      // A range error costs two messages: the fifth such line stops.
      {"range errors", std::vector<std::string>(7, "Unit 9"), ERR_SB_CALFILE_VALUE_RANGE, range_messages},
      // The tenth message is an order message, which sets no status.
      {"order message tenth", order, ERR_SB_CALFILE_INVALID,
       nine_silent_then_order +
           "A NomMag or SysMag line must appear\nbefore a Camera Trans line.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    felbrin::test::clear_slots();
    std::string text;
    for (const std::string& line : c.lines) text += line + "\n";
    text += "Zoom 7\n";
    const CalResult r = read(text);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.log, heading() + c.messages);
    EXPECT_EQ(sysInfo[0].zoom, 0) << "read past the limit";
  }
}

TEST_F(CalReader, MissingNumberTakesTheNextLineAndLineNumbersFallBehind) {
  const CalResult r = read("Birch4 5 23 12345\nZoom\nUnit 3\nUnit 8\nVersion None 0 None\n");
  EXPECT_EQ(r.rc, ERR_SB_CALFILE_INVALID);
  // "Unit 3" is swallowed by the recovery; "Unit 8" on line 4 is named 3.
  EXPECT_EQ(r.log, heading() + "Error in line 2.\n8 out of range [0,7]\nError in line 3.\n");
  EXPECT_EQ(sysInfo[0].unit, 0);
  EXPECT_EQ(sysInfo[0].instrBdType, BD_NONE);
}

// A bad last line ends the read as invalid with or without its line feed;
// a value missing at the end of the file stops it with ERR_EOF and no message.
TEST_F(CalReader, HowTheLastLineEnds) {
  struct Case {
    const char* tail;
    int rc;
    std::string messages;
  };
  const std::string mismatch = "The number of NomMag values and\nthe number of SysMag values are mismatched.\n";
  const Case cases[] = {
      {"Unit 9", ERR_SB_CALFILE_INVALID, "9 out of range [0,7]\nError in line 3.\n"},
      {"Unit 9\n", ERR_SB_CALFILE_INVALID, "9 out of range [0,7]\nError in line 3.\n"},
      {"Birch4 5 23 12345 r", ERR_SB_CALFILE_INVALID, "Unrecognized string.\nError in line 3.\n"},
      {"NomMag 1 2\nSysMag 1", ERR_SB_CALFILE_INVALID, mismatch + "Error in line 4.\n"},
      {"Unit", ERR_EOF, ""},
      {"Unit\n", ERR_EOF, ""},
      {"Pifoc 10 1.0", ERR_EOF, ""},
      {"LLC Range 1 2 3", ERR_EOF, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    felbrin::test::clear_slots();
    const CalResult r = read(std::string(kMinimal) + c.tail);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.log, c.messages.empty() ? "" : heading() + c.messages);
  }
}

TEST_F(CalReader, UnknownFirstWordStopsWithoutLineNumber) {
  struct Case {
    const char* line;
    const char* message;
  };
  const Case cases[] = {
      {"Frobnicate 1", "Unrecognized token \"Frobnicate\"\n"},
      {"12 Unit", "Unrecognized token \"12\"\n"},
      {"\"a b\" 3", "Unrecognized token \"a b\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    felbrin::test::clear_slots();
    const CalResult r = read(std::string("Birch4 5 23 12345\nUnit 9\n") + c.line + "\nZoom 7\n");
    EXPECT_EQ(r.rc, ERR_SB_CALFILE_SYNTAX);
    EXPECT_EQ(r.log, heading() + "9 out of range [0,7]\nError in line 2.\n" + c.message);
    EXPECT_EQ(sysInfo[0].zoom, 0);
  }
}

TEST_F(CalReader, KeywordThatCannotBeginALine) {
  const CalResult r = read(std::string(kMinimal) + "Sable 1\n");
  EXPECT_EQ(r.rc, ERR_SB_CALFILE_INVALID);
  EXPECT_EQ(r.log, heading() + "Unexpected token.\nError in line 3.\n");
}

TEST_F(CalReader, UnterminatedQuoteAtLineStartIsAnEmptyLine) {
  const CalResult r = read(std::string(kMinimal) + "\"Unit 3\nZoom 7\n");
  EXPECT_EQ(r.rc, 0) << r.log;
  EXPECT_EQ(sysInfo[0].zoom, 7);
}

// ---------------------------------------------------------------- sources

TEST_F(CalReader, CannotAccessFileHasNoPathInHeading) {
  const std::string missing = dir.file("absent.0");
  const CalResult r = felbrin::test::read_path(0, missing);
  EXPECT_EQ(r.rc, ERR_CANT_READ_FILE);
  EXPECT_EQ(r.log, "Error(s) reading system calibration info:\nCannot access file.\n");
  EXPECT_EQ(sysInfo[0].calFilePath, "");
}

TEST_F(CalReader, InlineTextHeadingNamesTheWholeText) {
  const CalResult r = felbrin::test::apply_line(0, "Unit 9");
  EXPECT_EQ(r.rc, ERR_SB_CALFILE_VALUE_RANGE);
  // No line number for inline text.
  EXPECT_EQ(r.log, inline_heading("+Unit 9") + "9 out of range [0,7]\n");
}

TEST_F(CalReader, SlotOutOfRange) {
  for (int slot : {-1, SB_SLOTS}) {
    EXPECT_EQ(sb_readCal(slot, "+DEFAULTS"), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(sb_readCal(slot, path().c_str()), ERR_PARAM_OUT_OF_RANGE);
  }
}

TEST_F(CalReader, DefaultsResetsAndKeepsPathAndKeptFields) {
  ASSERT_EQ(read(std::string(kMinimal) + "Zoom 1\nPifoc 100\nwmComm COM5\n").rc, 0);
  const CalResult r = felbrin::test::apply_line(0, "DEFAULTS");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.log, "");
  const sysInfo_t& s = sysInfo[0];
  EXPECT_EQ(s.calFilePath, path());
  EXPECT_EQ(s.systemType, SYS_UNKNOWN);
  EXPECT_EQ(s.zoom, 0);
  // Kept across a reset.
  ASSERT_NE(s.pifoc, nullptr);
  EXPECT_EQ(s.pifoc->value, 100);
  EXPECT_EQ(s.wmComm, "COM5");
}

TEST_F(CalReader, InlineZoomChangesOnlyTheZoomWithoutValidation) {
  ASSERT_EQ(read(std::string(kMinimal) + "Unit 3\n").rc, 0);
  const CalResult r = felbrin::test::apply_line(0, "Zoom 2");
  EXPECT_EQ(r.rc, 0);
  // Board None cannot have a motorised zoom, but no validation runs.
  EXPECT_EQ(r.log, "");
  EXPECT_EQ(sysInfo[0].zoom, 2);
  EXPECT_EQ(sysInfo[0].unit, 3);
  EXPECT_EQ(sysInfo[0].systemType, SYS_BIRCH4);
}

TEST_F(CalReader, FileReadStartsFromResetValues) {
  ASSERT_EQ(read(std::string(kMinimal) + "Unit 3\nCamera BPixels [1,2]\n").rc, 0);
  ASSERT_EQ(read(std::string(kMinimal) + "Camera BPixels [5,6]\n").rc, 0);
  EXPECT_EQ(sysInfo[0].unit, 0);
  EXPECT_EQ(sysInfo[0].badPixels[0].x, 5);
  EXPECT_EQ(sysInfo[0].badPixels[1].x, -1);
}

// ---------------------------------------------------------------- validation

TEST_F(CalReader, ValidationChecksInOrder) {
  struct Case {
    const char* name;
    std::string text;
    int rc;
    std::string errors;   // through the reporter, after the heading
    std::string console;  // printed directly
  };
  const std::string can_mac = "MacAddress 0 1 2 3 4 5\n";
  const Case cases[] = {
      {"no system type", "Version None 0 None\n", ERR_SB_CALFILE_INCOMPLETE, "Missing system type info.\n", ""},
      {"no Version", "Birch4 5 23 12345\n", ERR_SB_CALFILE_INCOMPLETE,
       "Missing frame grabber and instrument board Version info.\n", ""},
      // Also lacks its Light values: only the first failing check reports.
      {"no InstrComm on Sable", "Birch4 5 23 12345\nVersion None 0 Sable\n", ERR_SB_CALFILE_INCOMPLETE,
       "Missing InstrComm info.\n", ""},
      {"CAN without MAC reports InstrComm first", "Birch4 5 23 12345\nVersion None 0 CAN\n",
       ERR_SB_CALFILE_INCOMPLETE, "Missing InstrComm info.\n", ""},
      {"no InstrComm needed on Dune board", "Birch4 5 23 12345\nVersion None 0 Dune\nLight HeNe 0.6\n", 0, "",
       ""},
      {"no InstrComm needed on NOTNEEDED", "Birch4 5 23 12345\nVersion None 0 NotNeeded\n", 0, "", ""},
      {"no InvertData on Dune", "Dune 5 23 12345\nVersion None 0 None\n", ERR_SB_CALFILE_INCOMPLETE,
       "Missing InvertData info.\n", ""},
      {"InvertData 0 is enough", "Ember 5 23 12345\nVersion None 0 None\nInvertData 0\n", 0, "", ""},
      {"Lumen without MotionCtrl only informs",
       "Lumen 5 23 12345\nVersion None 0 None\nInvertData 1\nPifoc 5\n", 0, "", "Missing MotionCtrl info.\n"},
      {"Heron without wave monitor", "Heron 5 23 12345\nVersion None 0 None\n", ERR_SB_CALFILE_INCOMPLETE, "",
       "Calibration file missing wave monitor comm info\nCalibration file missing wave monitor OPD info\n"},
      {"Heron_CAN without OPD",
       "Heron_CAN 5 23 12345\nVersion None 0 None\nwmComm COM2\nLLC Target 100\n",
       ERR_SB_CALFILE_INCOMPLETE, "", "Calibration file missing wave monitor OPD info\n"},
      {"Heron complete", "lumensi 5 23 12345\nVersion None 0 None\nwmComm COM2\nwmMonOPD 0\n", 0, "", ""},
      {"Kite2 without system gain only informs", "Kite2 5 23 12345\nVersion None 0 None\n", 0, "",
       "Calibration file missing system gain.\n"},
      {"bad pixels twice",
       "Birch4 5 23 12345\nVersion None 0 None\nCamera Bad [1,2]\nCamera Bpix 1 bad.txt\n",
       ERR_SB_CALFILE_INVALID,
       "Bad Camera pixels specified twice using: camera bad or bpixels and camera bpix\n", ""},
      {"bad pixel mode without file is no conflict",
       "Birch4 5 23 12345\nVersion None 0 None\nCamera Bad [1,2]\nCamera Bpix 1\n", 0, "", ""},
      {"no LLC Target on board Kite", "Birch4 5 23 12345\nVersion None 0 Kite\nInstrComm COM1\n",
       ERR_SB_CALFILE_INCOMPLETE, "Missing LLCTarget info.\n", ""},
      {"no LLC Target on KiteCan", "KiteCan 5 23 12345\nVersion None 0 CAN\n" + can_mac,
       ERR_SB_CALFILE_INCOMPLETE, "Missing LLCTarget info.\n", ""},
      {"no camera type with a grabber", "Birch4 5 23 12345\nVersion Matrox 0 None\n",
       ERR_SB_CALFILE_INCOMPLETE, "Missing Camera Type info.\n", ""},
      {"HeNe without values on Sable", "Birch4 5 23 12345\nVersion None 0 Sable\nInstrComm COM1\nLight HeNe\n",
       ERR_SB_CALFILE_INCOMPLETE, "Missing Light info.\n", ""},
      {"no Light line on board Dune", "Birch4 5 23 12345\nVersion None 0 Dune2\n", ERR_SB_CALFILE_INCOMPLETE,
       "Missing Light info.\n", ""},
      {"no Pifoc on Birch3", "Birch3 5 23 12345\nVersion None 0 None\n", ERR_SB_CALFILE_INCOMPLETE,
       "Missing PIFOC info.\n", ""},
      {"PztId counts as Pifoc", "Fjord5 5 23 12345\nVersion None 0 None\nPztId 7\n", 0, "", ""},
      // The console note of check 6 comes before the failure of check 13.
      {"Lumen note then Pifoc", "Lumen 5 23 12345\nVersion None 0 None\nInvertData 1\n",
       ERR_SB_CALFILE_INCOMPLETE, "Missing PIFOC info.\n", "Missing MotionCtrl info.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    felbrin::test::clear_slots();
    const CalResult r = read(c.text);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.log, c.console + (c.errors.empty() ? "" : heading() + c.errors));
  }
}

// ---------------------------------------------------------------- derived values

TEST_F(CalReader, DerivedLightLevelRangesPerBoard) {
  struct Case {
    const char* name;
    std::string lines;  // after the system and Version lines
    const char* system;
    const char* board;
    sb_range_t first, second;
  };
  const std::string comm = "InstrComm COM1\n";
  const std::string mac = "MacAddress 0 1 2 3 4 5\n";
  const Case cases[] = {
      {"Kite default", comm + "LLC Target 100\n", "Birch4", "Kite", {10, 159}, {0, 0}},
      {"Kite given", comm + "LLC Target 100\nLLC Range 20 200\n", "Birch4", "Kite", {20, 200}, {0, 0}},
      {"Iris default", comm + "LLC Target 100\n", "Birch4", "Iris", {10, 159}, {0, 0}},
      {"Dune default", "Light HeNe 0.6\n", "Birch4", "Dune", {0, 4095}, {0, 0}},
      {"Dune given", "Light HeNe 0.6\nLLC Range 3 4\n", "Birch4", "Dune", {3, 4}, {0, 0}},
      {"Dune Cobalt forced", "Light HeNe 0.6\nLLC Range 3 4\n", "Cobalt", "Dune", {2, 532}, {0, 0}},
      {"Dune Cobalt DGFLY1024", "Light HeNe 0.6\nCamera Type DGFLY1024\n", "Cobalt2", "Dune", {2, 800}, {0, 0}},
      {"NOTNEEDED forced", "LLC Range 20 200\n", "Birch4", "NotNeeded", {10, 159}, {0, 0}},
      {"NOTNEEDED Cobalt", "LLC Range 20 200\n", "Cobalt", "NotNeeded", {2, 532}, {0, 0}},
      {"Lumen default", comm, "Birch4", "Lumen", {0, 3685}, {0, 0}},
      {"Lumen given", comm + "LLC Range 1 2\n", "Birch4", "Lumen", {1, 2}, {0, 0}},
      {"Sable default", comm + "Light HeNe 0.6\n", "Birch4", "Sable", {0, 4095}, {0, 100}},
      {"Sable two values", comm + "Light HeNe 0.6\nLLC Range 1 2\n", "Birch4", "Sable", {1, 2}, {0, 100}},
      {"Sable four values", comm + "Light HeNe 0.6\nLLC Range 1 2 3 4\n", "Birch4", "Sable", {1, 2}, {3, 4}},
      {"CAN default", mac, "Birch4", "CAN", {0, 65535}, {0, 65535}},
      {"CAN four values", mac + "LLC Range 1 2 3 4\n", "Birch4", "CAN", {1, 2}, {3, 4}},
      {"None unchanged", "", "Birch4", "None", {0, 0}, {0, 0}},
      {"None given", "LLC Range 5 6 7 8\n", "Birch4", "None", {5, 6}, {7, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    felbrin::test::clear_slots();
    const CalResult r = read(std::string(c.system) + " 5 23 12345\nVersion None 0 " + c.board + "\n" + c.lines);
    ASSERT_EQ(r.rc, 0) << r.log;
    const sysInfo_t& s = sysInfo[0];
    EXPECT_EQ(s.llcRange[0].low, c.first.low);
    EXPECT_EQ(s.llcRange[0].high, c.first.high);
    EXPECT_EQ(s.llcRange[1].low, c.second.low);
    EXPECT_EQ(s.llcRange[1].high, c.second.high);
  }
}

TEST_F(CalReader, ModelConsistencyNotes) {
  struct Case {
    const char* name;
    std::string text;
    std::string messages;
    int turret, turret2, zoom;
  };
  const std::string fjord1 = "Fjord1 5 23 12345\nVersion None 0 CAN\nMacAddress 0 1 2 3 4 5\nPifoc 100\n";
  const Case cases[] = {
      {"Fjord1 without dual brush motor", fjord1 + "IgnoreDualBrushMotor\nTurret 3\n",
       "This instrument cannot have a motorized turret, no dual brush motor board.\n", 0, 1, 0},
      {"Fjord1 zoom too", fjord1 + "IgnoreDualBrushMotor\nTurret 3 4\nZoom 2\n",
       "This instrument cannot have a motorized turret, no dual brush motor board.\n"
       "This instrument cannot have a motorized zoom, no dual brush motor board.\n",
       0, 1, 0},
      {"Fjord1 with dual brush motor", fjord1 + "Turret 3\nZoom 2\n", "", 3, 5, 2},
      {"zoom 2 without CAN", std::string(kMinimal) + "Zoom 2\n", "This instrument cannot have a motorized zoom.\n",
       0, 5, 0},
      {"zoom 1 without CAN", std::string(kMinimal) + "Zoom 1\n", "", 0, 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    felbrin::test::clear_slots();
    const CalResult r = read(c.text);
    EXPECT_EQ(r.rc, 0);
    // The heading is printed although the read succeeds.
    EXPECT_EQ(r.log, c.messages.empty() ? "" : heading() + c.messages);
    EXPECT_EQ(sysInfo[0].turret, c.turret);
    EXPECT_EQ(sysInfo[0].turret2, c.turret2);
    EXPECT_EQ(sysInfo[0].zoom, c.zoom);
  }
}

TEST_F(CalReader, HasDualBrushMotor) {
  struct Case {
    int32_t board, system;
    uint8_t use;
    bool expected;
  };
  const Case cases[] = {
      {BD_SABLE, SYS_BIRCH7, 1, false}, {BD_CAN, SYS_BIRCH7, 0, true},   {BD_CAN, SYS_BIRCH9, 1, true},
      {BD_CAN, SYS_FJORD3, 1, true},    {BD_CAN, SYS_FJORD6, 0, false},  {BD_CAN, SYS_KITECAN, 1, false},
  };
  for (const Case& c : cases) {
    sysInfo_t s;
    s.instrBdType = c.board;
    s.systemType = c.system;
    s.useDualBrushMotor = c.use;
    EXPECT_EQ(sb_hasDualBrushMotor(&s), c.expected) << c.board << " " << c.system;
  }
  EXPECT_FALSE(sb_hasDualBrushMotor(nullptr));
}

// ---------------------------------------------------------------- memory

// A sub-record that cannot be made ends the read at once.
TEST_F(CalReader, SubRecordAllocationFailureStopsTheRead) {
  const char* lines[] = {
      "Pifoc 100",
      "PifocType 1",
      "LumenSys 0.5 0.5 0.5 5",
      "LumenLog log.txt",
      "KiteEncZoomConfig 3",
      "MacAddress 0 1 2 3 4 5",
      "DynWaveGen 1 2 100",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    felbrin::test::clear_slots();
    CalResult r;
    {
      felbrin::test::FailingAllocator fail(0, /*sticky=*/true);
      r = read(std::string(kMinimal) + "Unit 9\n" + line + "\nZoom 7\n");
    }
    EXPECT_EQ(r.rc, ERR_NO_MEM);
    // The earlier bad line was reported; the failing line was not, and
    // nothing after it was applied.
    EXPECT_EQ(r.log, heading() + "9 out of range [0,7]\nError in line 3.\n");
    EXPECT_EQ(sysInfo[0].zoom, 0);
  }
}

TEST_F(CalReader, InlineSubRecordAllocationFailure) {
  felbrin::test::FailingAllocator fail(0, /*sticky=*/true);
  const CalResult r = felbrin::test::apply_line(0, "LumenDmiScale 2");
  EXPECT_EQ(r.rc, ERR_NO_MEM);
  EXPECT_EQ(r.log, "");
  EXPECT_EQ(sysInfo[0].lumenInfo, nullptr);
}

// A PID record that cannot be made fails its line only.
TEST_F(CalReader, PidRecordAllocationFailureFailsOnlyItsLine) {
  CalResult r;
  {
    felbrin::test::FailingAllocator fail(0, /*sticky=*/true);
    r = read(std::string(kMinimal) + "PidVals_X 1 2 3 4 1 5 0.5 0.5 0.5 0.5\nZoom 7\n");
  }
  EXPECT_EQ(r.rc, ERR_SB_CALFILE_INVALID);
  EXPECT_EQ(r.log, heading() + "Error in line 3.\n");
  EXPECT_EQ(sysInfo[0].pid[5], nullptr);
  EXPECT_EQ(sysInfo[0].zoom, 7);
}

}  // namespace
