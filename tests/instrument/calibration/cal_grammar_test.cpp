// The keyword lines, each applied as inline text to a slot: what it sets,
// its status and its exact messages. Cases are grouped by topic; each runs
// on a fresh slot prepared by its setup lines.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_test_support.h"

namespace {

using felbrin::test::CalResult;

struct LineCase {
  const char* name;
  std::vector<std::string> setup;  // inline lines applied first, each clean
  std::string line;
  int rc;
  std::string errors;  // reporter messages; the heading is added
  std::function<void(const sysInfo_t&)> check;
  std::string console = "";  // printed directly, after any reporter message
};

const std::string kSable = "Version None 0 Sable";
const std::string kKite = "Version None 0 Kite";
const std::string kCan = "Version None 0 CAN";
const std::string kLumenBoard = "Version None 0 Lumen";

class CalGrammar : public felbrin::test::CalSlots {
 protected:
  static void run(std::span<const LineCase> cases) {
    for (const LineCase& c : cases) {
      SCOPED_TRACE(c.name);
      felbrin::test::clear_slots();
      felbrin::test::apply_lines(0, c.setup);
      const CalResult r = felbrin::test::apply_line(0, c.line);
      EXPECT_EQ(r.rc, c.rc) << c.line;
      const std::string heading = c.errors.empty() ? "" : felbrin::test::inline_heading("+" + c.line);
      EXPECT_EQ(r.log, heading + c.errors + c.console) << c.line;
      if (c.check) c.check(sysInfo[0]);
    }
  }
};

constexpr int kSyntax = ERR_SB_CALFILE_SYNTAX;
constexpr int kRange = ERR_SB_CALFILE_VALUE_RANGE;

// Single precision as the record keeps it.
double single(double v) { return static_cast<float>(v); }

// ---------------------------------------------------------------- identity

TEST_F(CalGrammar, SystemVersionAndIdentityLines) {
  const LineCase cases[] = {
      {"system line with R", {}, "Birch4 5 23 12345 R", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.systemType, SYS_BIRCH4);
         EXPECT_EQ(s.dateCode, 523);
         EXPECT_EQ(s.serialNumber, 12345);
         EXPECT_EQ(s.rFlag, 1);
       }},
      {"system line lower-case r", {}, "Birch4 5 23 12345 r", kSyntax, "Unrecognized string.\n",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.serialNumber, 12345);
         EXPECT_EQ(s.rFlag, 0);
       }},
      {"system line number after serial", {}, "Birch4 5 23 12345 7", kSyntax, "Expected non-numeric string.\n",
       nullptr},
      {"system week out of range", {}, "Kite 5 53 12345", kRange, "53 out of range [1,52]\n", nullptr},
      {"system serial out of range", {}, "Kite 5 3 99", kRange, "99 out of range [100,999999]\n", nullptr},
      {"synonym lumensi", {}, "LUMENSI 0 1 100", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.systemType, SYS_HERON);
         EXPECT_EQ(s.dateCode, 1);
       }},
      {"special", {}, "special 99 52 999999", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.systemType, SYS_SPECIAL); }},
      {"Version 300 kept in 8 bits", {}, "Version GigE 300 CAN", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.frameGrabber, FG_GIGE);
         EXPECT_EQ(s.boardVersion, 44);
         EXPECT_EQ(s.instrBdType, BD_CAN);
       }},
      {"Version dune2 board", {}, "Version pc2vision 1 dune2", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.frameGrabber, FG_PC2VISION);
         EXPECT_EQ(s.instrBdType, BD_DUNE);
       }},
      {"Version wrong kind of grabber", {}, "Version Sable 1 None", kSyntax, "Unexpected token.\n", nullptr},
      {"Version unknown board word", {}, "Version GigE 1 Tarn", kSyntax, "Unrecognized token \"Tarn\"\n", nullptr},
      {"Version without board", {}, "Version GigE 1", kSyntax, "Unexpected end-of-file.\n", nullptr},
      {"Version board at a comment", {}, "Version GigE 1 # c", kSyntax, "Unexpected end-of-line.\n", nullptr},
      {"Version out of range", {}, "Version GigE 100000 CAN", kRange, "100000 out of range [0,99999]\n", nullptr},
      {"Unit beyond 32 bits", {}, "Unit 4294967296", kRange, "2147483647 out of range [0,7]\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.unit, 0); }},
      {"InstrName quoted", {}, "InstrName \"Lab 3 rig\"", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.instrName, "Lab 3 rig"); }},
      {"MacAddress hex bytes", {}, "MacAddress 0a 1B ff 00 7 123", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.canInfo, nullptr);
         const uint8_t expected[6] = {0x0a, 0x1b, 0xff, 0x00, 0x07, 0x23};
         for (int i = 0; i < 6; ++i) EXPECT_EQ(s.canInfo->mac[i], expected[i]) << i;
       }},
      {"MacAddress with 0x prefixes", {}, "MacAddress 0x1F 0X2e 3 4 5 0x", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.canInfo, nullptr);
         EXPECT_EQ(s.canInfo->mac[0], 0x1F);
         EXPECT_EQ(s.canInfo->mac[1], 0x2E);
         EXPECT_EQ(s.canInfo->mac[5], 0);
       }},
      {"MacAddress word without hex digit", {}, "MacAddress 0a zz 1 2 3 4", kSyntax, "", nullptr},
      {"MacAddress missing word at end of text", {}, "MacAddress 0a 1b", ERR_EOF, "", nullptr},
      {"MacAddress missing word at a comment", {}, "MacAddress 0a 1b # c", ERR_EOL, "", nullptr},
  };
  run(cases);
}

// ---------------------------------------------------------------- camera

TEST_F(CalGrammar, CameraLines) {
  std::string forty_one = "Camera BPixels";
  for (int i = 0; i < 41; ++i) forty_one += std::string(" [") + std::to_string(i) + ",1]";
  const LineCase cases[] = {
      {"bad pixels across lines", {"Camera BPixels [1,2] [3,4]"}, "Camera Bad [5,6]", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.badPixels[1].x, 3);
         EXPECT_EQ(s.badPixels[2].x, 5);
         EXPECT_EQ(s.badPixels[2].y, 6);
         EXPECT_EQ(s.badPixels[3].x, -1);
       }},
      {"forty-first bad pixel", {}, forty_one, kRange, "Too many camera bad pixels.\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.badPixels[39].x, 39); }},
      {"bad pixel out of range", {}, "Camera Bad [1,2] [701,1]", kRange, "701 out of range [0,700]\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.badPixels[1].x, -1); }},
      {"bad pixel not a number", {}, "Camera Bad [1,x]", kSyntax, "Syntax error.\n", nullptr},
      {"bad pixel without bracket", {}, "Camera Bad 1,2", kSyntax, "Syntax error.\n", nullptr},
      {"bad pixel list cut by end of text", {}, "Camera Bad [1,2", kSyntax, "Syntax error.\n", nullptr},
      {"bad pixel with an unknown word", {}, "Camera Bad [3;4]", kSyntax,
       "Unrecognized token \";4]\"\nSyntax error.\n", nullptr},
      {"Bpix with file", {}, "Camera Bpix 1 pixels.txt", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.badPixelMode, 1);
         EXPECT_EQ(s.badPixelFile, "pixels.txt");
       }},
      {"Bpix file starting with a digit", {}, "Camera Bpix 1 9.txt", kSyntax, "Expected non-numeric string.\n",
       nullptr},
      {"Trans before magnifications", {}, "Camera Trans 1 2 3", 0,
       "A NomMag or SysMag line must appear\nbefore a Camera Trans line.\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.cameraTrans[1].x, 0); }},
      {"Trans after magnifications", {"NomMag 1 2"}, "Camera Trans 1 -5 2047", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.cameraTrans[1].x, -5);
         EXPECT_EQ(s.cameraTrans[1].y, 2047);
       }},
      {"File with NULL", {}, "Camera File a.cfg NULL c.cfg", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.cameraFile[0], "a.cfg");
         EXPECT_EQ(s.cameraFile[1], "");
         EXPECT_EQ(s.cameraFile[2], "c.cfg");
       }},
      {"File frees earlier names", {"Camera File a b c d"}, "Camera File x", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.cameraFile[0], "x");
         EXPECT_EQ(s.cameraFile[3], "");
       }},
      {"seventh file name", {}, "Camera File a b c d e f g", kSyntax, "Too many camera file names.\n", nullptr},
      {"file name starting with a digit", {}, "Camera File a 5", kSyntax, "Expected non-numeric string.\n",
       nullptr},
      {"Config on Sable", {kSable}, "Camera Configuration 1 0 3 1 0 1 0 1", 0, "",
       [](const sysInfo_t& s) {
         const uint8_t expected[10] = {0, 0, 1, 0, 3, 1, 0, 0, 1, 1};
         for (int i = 0; i < 10; ++i) EXPECT_EQ(s.cameraConfig[i], expected[i]) << i;
       }},
      {"Config byte 4 range", {kLumenBoard}, "Camera Config 1 0 4 1 0 1 0 1", kRange, "4 out of range [0,3]\n",
       nullptr},
      {"Config on Kite", {kKite}, "Camera Config 1 15", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.cameraConfig[0], 1);
         EXPECT_EQ(s.cameraConfig[1], 15);
       }},
      {"Config on board None", {}, "Camera Config 1 15", kSyntax, "Unexpected token.\n", nullptr},
      {"Type CUSTOM on Sable", {kSable}, "Camera Type CUSTOM", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.cameraType, CAM_CUSTOM);
         const uint8_t expected[10] = {0, 0, 0, 1, 0, 1, 1, 0, 1, 1};
         for (int i = 0; i < 10; ++i) EXPECT_EQ(s.cameraConfig[i], expected[i]) << i;
       },
       "Setting interlaceFlag to 0\n"},
      {"Type CUSTOM on Lumen with value", {kLumenBoard}, "Camera Type custom 1", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.cameraConfig[0], 1); }, "Setting interlaceFlag to 1\n"},
      {"Type CUSTOM on Kite", {kKite}, "Camera Type CUSTOM 1", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.cameraConfig[0], 1);
         EXPECT_EQ(s.cameraConfig[1], 5);
         EXPECT_EQ(s.cameraConfig[9], 1);
       },
       "Setting fieldCtrl to 1\n"},
      {"Type CUSTOM on CAN", {kCan}, "Camera Type CUSTOM 1", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.cameraConfig[0], 1);
         EXPECT_EQ(s.cameraConfig[9], 0);
       }},
      {"Type CUSTOM value not a number", {kCan}, "Camera Type CUSTOM x", kSyntax, "", nullptr},
      {"Type CUSTOM value out of range", {kKite}, "Camera Type CUSTOM 2", kRange, "2 out of range [0,1]\n",
       nullptr},
      {"Type CUSTOM on board None", {}, "Camera Type CUSTOM", kSyntax, "Unexpected token.\n", nullptr},
      {"Type xc77 synonym", {}, "Camera Type xc77", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.cameraType, CAM_XC77CE); }},
      {"Type wrong kind", {}, "Camera Type Sable", kSyntax, "Unexpected token.\n", nullptr},
      {"Type missing", {}, "Camera Type", kSyntax, "Unexpected end-of-file.\n", nullptr},
      {"Align topleft", {}, "Camera Align TopLeft", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.cameraAlign, ALIGN_TOPLEFT); }},
      {"SplitY", {}, "Camera SplitY 2047 10", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.splitAxis, SPLIT_Y);
         EXPECT_EQ(s.splitValue, 2047);
         EXPECT_EQ(s.splitValue2, 10);
       }},
      {"Period takes nothing", {}, "Camera Period", 0, "", nullptr},
      {"second word missing", {}, "Camera", kSyntax, "Unexpected end-of-file.\n", nullptr},
      {"second word missing at a comment", {}, "Camera #Type", kSyntax, "Unexpected end-of-line.\n", nullptr},
      {"second word of another line", {}, "Camera Target 3", kSyntax, "Unexpected token.\n", nullptr},
  };
  run(cases);
}

// ---------------------------------------------------------------- light

TEST_F(CalGrammar, LightLines) {
  auto wavelengths = [](double w0, double w1, double w2, double w3) {
    return [=](const sysInfo_t& s) {
      const double expected[4] = {w0, w1, w2, w3};
      for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(s.wavelengths[i].wavelength, expected[i]) << i;
    };
  };
  const LineCase cases[] = {
      {"White on Kite keeps the preset", {kKite}, "Light White 0.55 0.6", 0, "",
       wavelengths(0.55e-6, 0.6e-6, 0.6328e-6, 0.6328e-6)},
      {"Cobalt preset", {"Cobalt 1 1 100", kCan}, "Light Diode", kSyntax,
       "At least one wavelength value required.\n", wavelengths(0.655e-6, 0, 0, 0)},
      {"Dune board preset", {"Version None 0 Dune"}, "Light HeNe", 0, "", wavelengths(12.75e-6, 0, 0, 0)},
      {"Lumen board preset", {kLumenBoard}, "Light HeNe", 0, "", wavelengths(9e-6, 0, 0, 0)},
      {"CAN keeps the table", {kCan, "Light Diode 1 2 3 4"}, "Light LED 5", 0, "",
       wavelengths(5e-6, 2e-6, 3e-6, 4e-6)},
      {"bandwidth item", {kSable}, "Light Diode [0.65,0.01]", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lightType, LIGHT_DIODE);
         EXPECT_DOUBLE_EQ(s.wavelengths[0].wavelength, 6.5e-7);
         EXPECT_DOUBLE_EQ(s.wavelengths[0].bandwidth, 1e-8);
         EXPECT_DOUBLE_EQ(s.wavelengths[1].wavelength, 0.6328e-6);
         EXPECT_EQ(s.wavelengths[1].bandwidth, 0);
       }},
      {"fifth item ignored", {}, "Light Special 1 2 3 4 99", 0, "", wavelengths(1e-6, 2e-6, 3e-6, 4e-6)},
      {"wavelength out of range", {}, "Light Diode 20", kRange, "20 out of range [0.1,15]\n", nullptr},
      {"bandwidth out of range", {}, "Light Diode [1,2]", kRange, "2 out of range [0,1]\n", nullptr},
      {"item of another form", {}, "Light Diode x", kSyntax, "Syntax error.\n", nullptr},
      {"light name of another kind", {}, "Light Kite 1", kSyntax, "Unexpected token.\n", nullptr},
      {"light name missing", {}, "Light", kSyntax, "Unexpected end-of-file.\n", nullptr},
      {"light name missing at a comment", {}, "Light #HeNe", kSyntax, "Unexpected end-of-line.\n", nullptr},
  };
  run(cases);
}

// ---------------------------------------------------------------- light level control

TEST_F(CalGrammar, LightLevelControllerLines) {
  const LineCase cases[] = {
      {"Range with second range", {}, "LLC Range 20 200 5 4096", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.llcRange[0].low, 20);
         EXPECT_EQ(s.llcRange[0].high, 200);
         EXPECT_EQ(s.llcRange[1].low, 5);
         EXPECT_EQ(s.llcRange[1].high, 4096);
       }},
      {"second range out of bounds", {}, "LLC Range 1 2 4097 0", kRange, "4097 out of range [0,4096]\n", nullptr},
      {"second range not a number", {}, "LLC Range 1 2 x", kSyntax, "Expected number.\n", nullptr},
      {"Config sets bit 0", {}, "LLC Config 4", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lightSource[0].config, 5);
         EXPECT_EQ(s.lightSource[1].config, 0);
       }},
      {"Configuration of both sources", {}, "LLC Configuration 2 6", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lightSource[0].config, 3);
         EXPECT_EQ(s.lightSource[1].config, 7);
       }},
      {"Freq of both sources", {}, "LLC Freq 1000000", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lightSource[0].freq, 1000000);
         EXPECT_EQ(s.lightSource[1].freq, 1000000);
       }},
      {"AlignModePct of both sources", {}, "LLC AlignModePct 42.5", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lightSource[0].alignModePct, 42.5f);
         EXPECT_EQ(s.lightSource[1].alignModePct, 42.5f);
       }},
      {"AvgCurLimit four values", {}, "LLC AvgCurLimit 1 2 3 1000", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lightSource[0].pairs[0].avgCurLimit, 1);
         EXPECT_EQ(s.lightSource[0].pairs[1].avgCurLimit, 2);
         EXPECT_EQ(s.lightSource[1].pairs[0].avgCurLimit, 3);
         EXPECT_EQ(s.lightSource[1].pairs[1].avgCurLimit, 1000);
       }},
      {"FwdVoltage two values", {}, "LLC FwdVoltage 10000 9", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lightSource[0].pairs[0].fwdVoltage, 10000);
         EXPECT_EQ(s.lightSource[0].pairs[1].fwdVoltage, 9);
         EXPECT_EQ(s.lightSource[0].pairs[0].avgCurLimit, 0);
       }},
      {"FwdVoltage out of range", {}, "LLC FwdVoltage 10001 9", kRange, "10001 out of range [0,10000]\n", nullptr},
      {"Target below range", {}, "LLC Target 63", kRange, "63 out of range [64,255]\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.llcTarget, 150); }},
      {"Options", {}, "LLC Options 268435455", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.llcOptions, 268435455); }},
      {"Instr Wren_B with text", {}, "LLC Instr Wren_B COM3", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.llcInstr, LLC_WREN_B);
         EXPECT_EQ(s.llcInstrText, "COM3");
       }},
      {"Instr Dune without text", {}, "LLC Instr Dune", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.llcInstr, LLC_DUNE); }},
      {"Instr of another kind", {}, "LLC Instr Kite COM3", kSyntax, "", nullptr},
  };
  run(cases);
}

// ---------------------------------------------------------------- pifoc and magnifications

TEST_F(CalGrammar, PifocAndMagnificationLines) {
  auto pifoc = [](int value, double scale, double beta) {
    return [=](const sysInfo_t& s) {
      ASSERT_NE(s.pifoc, nullptr);
      EXPECT_EQ(s.pifoc->value, value);
      EXPECT_DOUBLE_EQ(s.pifoc->scale, scale);
      EXPECT_DOUBLE_EQ(s.pifoc->beta, beta);
    };
  };
  const std::string sixteen = "NomMag 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16";
  const LineCase cases[] = {
      {"Pifoc value resets scale and Beta", {"Pifoc 1 1.5 0.05"}, "Pifoc 100", 0, "",
       pifoc(100, SB_PIFOC_SCALE, SB_PIFOC_BETA)},
      {"Pifoc with scale and Beta 0", {}, "Pifoc 100 2 0", 0, "", pifoc(100, 2, 0)},
      {"Pifoc Beta below 0.005", {}, "Pifoc 100 1.0 0.001", kRange,
       "Beta = 0.001 is non-zero and is not in range [0.005,0.1]\n", pifoc(100, 1.0, SB_PIFOC_BETA)},
      {"Pifoc Beta just below 0.005", {}, "Pifoc 100 1.0 0.0049", kRange,
       "Beta = 0.0049 is non-zero and is not in range [0.005,0.1]\n", pifoc(100, 1.0, SB_PIFOC_BETA)},
      {"Pifoc Beta not a number", {}, "Pifoc 100 x", kSyntax, "Expected number.\n", nullptr},
      {"PztId as the value", {"Pifoc 1 1.5 0.05"}, "PztId 99999", 0, "",
       pifoc(99999, SB_PIFOC_SCALE, SB_PIFOC_BETA)},
      {"PifocType makes the record", {}, "PifocType 2", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.pifoc, nullptr);
         EXPECT_EQ(s.pifoc->type, 2);
       }},
      {"PifocPolarity needs no record", {}, "PifocPolarity -1", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.pifocPolarity, -1);
         EXPECT_EQ(s.pifoc, nullptr);
       }},
      {"NomMag after SysMag mismatched", {"SysMag 1 2"}, "NomMag 1 2 3", ERR_SB_CALFILE_INCONSISTENT,
       "The number of NomMag values and\nthe number of SysMag values are mismatched.\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.magCount, 2); }},
      {"SysMag matching NomMag", {"NomMag 1 2"}, "SysMag 1.5 2.5", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.magCount, 2);
         EXPECT_EQ(s.sysMag[1], 2.5);
         EXPECT_EQ(s.nomMag[1], 2);
       }},
      {"fifteen values", {}, "SysMag 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.magCount, 15);
         EXPECT_EQ(s.sysMag[14], 15);
       }},
      {"sixteen values", {}, sixteen, kSyntax, "Too many NomMag or SysMag values.\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.magCount, 0); }},
      {"first value not a number", {}, "NomMag x", kSyntax, "Expected number.\n", nullptr},
      {"magnification out of range", {}, "NomMag 1 101", kRange, "101 out of range [0,100]\n", nullptr},
      {"ScanCal one value", {}, "ScanCal 0.9", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.scanCal[0], 0.9);
         EXPECT_EQ(s.scanCal[1], 1);
       }},
      {"ScanCal out of range", {}, "ScanCal 0.9 1.2", kRange, "1.2 out of range [0.85,1.15]\n", nullptr},
  };
  run(cases);
}

// ---------------------------------------------------------------- assorted single lines

TEST_F(CalGrammar, AxisAndPeripheralLines) {
  const LineCase cases[] = {
      {"SdcCal full entry", {}, "SdcCal 3 1 2 3 4 5 6 7 8", 0, "",
       [](const sysInfo_t& s) {
         const sb_sdc_cal_t& e = s.sdcCal[3];
         EXPECT_EQ(e.c1, 1);
         EXPECT_EQ(e.c4, 4);
         EXPECT_EQ(e.c5, 5);
         EXPECT_EQ(e.c6, 6);
         EXPECT_EQ(e.d1, 7);
         EXPECT_EQ(e.d2, 8);
       }},
      {"SdcCal partial entry", {}, "SdcCal 14 -1.5 2", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.sdcCal[14].c1, -1.5f);
         EXPECT_EQ(s.sdcCal[14].c2, 2);
         EXPECT_EQ(s.sdcCal[14].c3, SB_FLOAT_UNSET);
       }},
      {"SdcCal item not a number", {}, "SdcCal 3 1 x", kSyntax, "", nullptr},
      {"SdcCal negative D", {}, "SdcCal 3 1 2 3 4 5 6 -1", kRange, "-1 out of range [0,3.40282e+38]\n", nullptr},
      {"PidVals both sets", {}, "PidVals_X -8388608 2 3 4 1 5 0.5 -2 1.25 2", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.pid[5], nullptr);
         const sb_pid_set_t& fast = s.pid[5]->sets[0];
         EXPECT_EQ(fast.p1, -8388608);
         EXPECT_EQ(fast.p5, 1);
         EXPECT_EQ(fast.p8, -2.0f);
         EXPECT_EQ(fast.p10, 2.0f);
         EXPECT_EQ(s.pid[5]->sets[1], fast);
       }},
      {"PidVals Slow only", {}, "PidVals_A slow 1 2 3 4 0 5 0 0 0 0.5", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.pid[0], nullptr);
         EXPECT_EQ(s.pid[0]->sets[0], sb_pid_set_t{});
         EXPECT_EQ(s.pid[0]->sets[1].p1, 1);
         EXPECT_EQ(s.pid[0]->sets[1].p10, 0.5f);
       }},
      {"PidVals other selector", {}, "PidVals_Z Kite 1 2 3 4 0 5 0 0 0 0", kSyntax, "Unrecognized string.\n",
       nullptr},
      {"PidVals P5 range", {}, "PidVals_T 1 2 3 4 2 5 0 0 0 0", kRange, "2 out of range [0,1]\n", nullptr},
      {"DynWaveGen", {}, "DynWaveGen 7x 30 126", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.dynWaveGen, nullptr);
         EXPECT_EQ(s.dynWaveGen->d[0], 7);
         EXPECT_EQ(s.dynWaveGen->d[1], 30);
         EXPECT_EQ(s.dynWaveGen->d[2], 126);
       }},
      {"DynWaveGen third value 0", {}, "DynWaveGen -3 0 0", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.dynWaveGen, nullptr);
         EXPECT_EQ(s.dynWaveGen->d[0], -3);
         EXPECT_EQ(s.dynWaveGen->d[2], 0);
       }},
      {"DynWaveGen third value out of range", {"DynWaveGen 1 2 100"}, "DynWaveGen 5 3 95", kRange,
       "95 out of range [96,126] and 0\n", [](const sysInfo_t& s) { EXPECT_EQ(s.dynWaveGen, nullptr); }},
      {"DynWaveGen second value out of range", {"DynWaveGen 1 2 100"}, "DynWaveGen 5 31 100", kRange,
       "31 out of range [0,30]\n", [](const sysInfo_t& s) { EXPECT_EQ(s.dynWaveGen, nullptr); }},
      {"Turret second value", {}, "Turret 3 7", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.turret, 3);
         EXPECT_EQ(s.turret2, 7);
       }},
      {"Turret second item not a number", {}, "Turret 3 x", kSyntax, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.turret, 3); }},
      {"RingSpot on Kite", {kKite}, "RingSpot", 0, "", [](const sysInfo_t& s) { EXPECT_EQ(s.ringSpot, 1); }},
      {"RingSpot on CAN Heron_CAN", {"Heron_CAN 1 1 100", kCan}, "RingSpot", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.ringSpot, 1); }},
      {"RingSpot on CAN Fjord1", {"Fjord1 1 1 100", kCan}, "RingSpot", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.ringSpot, 0); }},
      {"RingSpot on Sable", {kSable}, "RingSpot", 0, "", [](const sysInfo_t& s) { EXPECT_EQ(s.ringSpot, 0); }},
      {"IgnoreFocusNDW", {}, "IgnoreFocusNDW", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.useFocusNdw, 0);
         EXPECT_EQ(s.useDualBrushMotor, 1);
       }},
      {"DiffDiskFraction lower bound open", {}, "DiffDiskFraction 0", kRange, "0 out of range (0,2]\n", nullptr},
      {"DiffDiskFraction upper bound", {}, "DiffDiskFraction 2", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.diffDiskFraction, 2.0f); }},
      {"XAxisBacklash single precision", {}, "XAxisBacklash 0.1", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.xAxisBacklash, single(0.1)); }},
      {"ZAxisBacklash 0", {}, "ZAxisBacklash 0", 0, "", [](const sysInfo_t& s) { EXPECT_EQ(s.zAxisBacklash, 0); }},
      {"PosInstr two texts", {}, "PosInstr Renishaw_StepNet COM1 COM2", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.posInstr, POS_RENISHAW_STEPNET);
         EXPECT_EQ(s.posInstrText[1], "COM2");
       }},
      {"PosInstr clears text 2", {"PosInstr Heid a b"}, "PosInstr ZEncoder c", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.posInstr, POS_ZENCODER);
         EXPECT_EQ(s.posInstrText[0], "c");
         EXPECT_EQ(s.posInstrText[1], "");
       }},
      {"TempSensor", {}, "TempSensor Euro2216e COM4", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.tempSensor, TEMP_EURO2216E);
         EXPECT_EQ(s.tempSensorText, "COM4");
       }},
      {"TempSensor of another kind", {}, "TempSensor Heid COM4", kSyntax, "", nullptr},
      {"Ramp Configuration", {}, "Ramp Configuration ramps.txt", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.rampConfigFile, "ramps.txt"); }},
      {"ADC without Clock", {}, "ADC Target 3", kSyntax, "Unexpected token.\n", nullptr},
      {"AxisComp_P", {}, "AxisComp_P comp.txt", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.axisCompFile[2], "comp.txt"); }},
      {"Remote", {}, "Remote \"far away\"", 0, "",
       [](const sysInfo_t&) { EXPECT_EQ(sb_remoteText(), "far away"); }},
  };
  run(cases);
}

// ---------------------------------------------------------------- wave monitor

TEST_F(CalGrammar, WaveMonitorLines) {
  const LineCase cases[] = {
      {"wmMaxBuckets", {}, "wmMaxBuckets 100 2047", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.wmMaxBuckets, 100);
         EXPECT_EQ(s.wmMaxBucketBytes, 2047 * 1048576);
       }},
      {"wmMaxBuckets memory saturates", {}, "wmMaxBuckets 100 2048", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.wmMaxBucketBytes, 2147483647); }},
      {"wmMaxBuckets largest memory value", {}, "wmMaxBuckets 1 2147483647", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.wmMaxBucketBytes, 2147483647); }},
      {"wmMaxBuckets second value required", {}, "wmMaxBuckets 100", kSyntax, "Expected number.\n", nullptr},
      {"wmTuneRange stored times 1e9", {}, "wmTuneRange 2 1", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.wmTuneRangeMax, 2e9);
         EXPECT_EQ(s.wmTuneRangeMin, 1e9);
       }},
      {"wmTuneRate second value required", {}, "wmTuneRate 2 x", kSyntax, "Expected number.\n", nullptr},
      {"wmSysGain", {}, "wmSysGain 0.5", 0, "", [](const sysInfo_t& s) { EXPECT_EQ(s.wmSysGain, 0.5f); }},
      {"AbsWaveMeter", {}, "AbsWaveMeter 1 COM9", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.absWaveMeter, 1);
         EXPECT_EQ(s.absWaveMeterText, "COM9");
       }},
  };
  run(cases);
}

// ---------------------------------------------------------------- times

TEST_F(CalGrammar, TimeValues) {
  auto sleep = [](int seconds) { return [=](const sysInfo_t& s) { EXPECT_EQ(s.sleepTimeout, seconds); }; };
  auto lumen = [](int zero_gage, int temp_period, double temp) {
    return [=](const sysInfo_t& s) {
      ASSERT_NE(s.lumenInfo, nullptr);
      EXPECT_EQ(s.lumenInfo->zeroGagePeriod, zero_gage);
      EXPECT_EQ(s.lumenInfo->tempPeriod, temp_period);
      EXPECT_EQ(s.lumenInfo->tempValue, temp);
    };
  };
  const LineCase cases[] = {
      {"SleepTimeout at the limit", {}, "SleepTimeout 5:47:44", 0, "", sleep(20864)},
      {"SleepTimeout past the limit", {}, "SleepTimeout 5:47:45", kRange, "Value out-of-range.\n", nullptr},
      {"SleepTimeout fractional hours", {}, "SleepTimeout 4.35", 0, "", sleep(15660)},
      {"SleepTimeout hours and minutes", {}, "SleepTimeout 1:2", 0, "", sleep(3720)},
      {"SleepTimeout part out of range", {}, "SleepTimeout 0:101", kRange, "101 out of range [0,100]\n", nullptr},
      {"SleepTimeout without colon", {}, "SleepTimeout 1 2", kSyntax, "Syntax error.\n", nullptr},
      {"LumenZeroGagePer 100 days", {}, "LumenZeroGagePer 100", 0, "", lumen(8640000, 1800, 1.0)},
      {"LumenZeroGagePer past the limit", {}, "LumenZeroGagePer 100:0:0:1", kRange, "Value out-of-range.\n",
       nullptr},
      {"LumenSysInitPer synonym", {}, "LumenSysInitPer 1:2:3:4", 0, "", lumen(93784, 1800, 1.0)},
      {"LumenTemperature with value", {}, "LumenTemperature 1:0:0:0 2.5", 0, "", lumen(1800, 86400, 2.5)},
      {"LumenTemperature value after three parts", {}, "LumenTemperature 1:0:0 2.5", kSyntax, "Syntax error.\n",
       nullptr},
      {"LumenTemperature value not a number", {}, "LumenTemperature 1:0:0:0 x", kSyntax, "Expected number.\n",
       nullptr},
      {"LumenTemperature value out of range", {}, "LumenTemperature 1:0:0:0 6", kRange, "6 out of range [0,5]\n",
       nullptr},
  };
  run(cases);
}

// ---------------------------------------------------------------- Lumen, encoded zoom, radius scales

TEST_F(CalGrammar, LumenLines) {
  const LineCase cases[] = {
      {"LumenSys", {}, "LumenSys 0.5 0.25 -1 10", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.lumenInfo, nullptr);
         EXPECT_EQ(s.lumenInfo->sysConst[2], -1);
         EXPECT_EQ(s.lumenInfo->sysConst[3], 10);
         EXPECT_EQ(s.lumenInfo->materialsFile, "LumenMaterials.txt");
       }},
      {"LumenDmiScale out of range", {}, "LumenDmiScale 2.6", kRange, "2.6 out of range [1.5,2.5]\n", nullptr},
      {"LumenZeroPtPos one value", {}, "LumenZeroPtPos -10", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lumenInfo->zeroPtPos[0], -10);
         EXPECT_EQ(s.lumenInfo->zeroPtPos[1], SB_INF);
       }},
      {"LumenDisper before magnifications", {}, "LumenDisper 0 1 2", 0,
       "A NomMag or SysMag line must appear\nbefore an LumenDisper or LumenAvg_K0 line.\n",
       [](const sysInfo_t& s) { EXPECT_EQ(s.lumenInfo->disper[0][0], SB_INF); }},
      {"LumenTiltCenter before magnifications", {}, "LumenTiltCenter 0 1 2", 0,
       "A NomMag or SysMag line must appear\nbefore an LumenTiltCenter line.\n", nullptr},
      {"LumenDmiCenter before magnifications", {}, "LumenDmiCenter 0 1 2", 0,
       "A NomMag or SysMag line must appear\nbefore an LumenDmiCenter line.\n", nullptr},
      {"LumenDisper values", {"NomMag 1 2", "LumenDisper 1 1 1 1 1"}, "LumenDisper 1 -6.28 3", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lumenInfo->disper[1][0], -6.28);
         EXPECT_EQ(s.lumenInfo->disper[1][1], 3);
         EXPECT_EQ(s.lumenInfo->disper[1][2], 1);  // keeps its earlier value
       }},
      {"LumenDisper one value", {"NomMag 1"}, "LumenDisper 0 1", kSyntax,
       "Not enough LumenDisper or LumenAvg_K0 values.\n", nullptr},
      {"LumenAvg_K0 eleven values", {"NomMag 1"}, "LumenAvg_K0 0 1 2 3 4 5 6 7 8 9 10 11", kSyntax,
       "Too many LumenDisper or LumenAvg_K0 values.\n", nullptr},
      {"LumenAvg_K0 first value missing", {"NomMag 1"}, "LumenAvg_K0 0 x", kSyntax, "Expected number.\n", nullptr},
      {"LumenDmiCenter", {"NomMag 1"}, "LumenDmiCenter 14 1.5 -100", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lumenInfo->dmiCenter[14][0], 1.5f);
         EXPECT_EQ(s.lumenInfo->dmiCenter[14][1], -100.0f);
       }},
      {"LumenLog with limits", {}, "LumenLog run.log 100 200", 0, "",
       [](const sysInfo_t& s) {
         EXPECT_EQ(s.lumenInfo->logFile, "run.log");
         EXPECT_EQ(s.lumenInfo->logLimit1, 100);
         EXPECT_EQ(s.lumenInfo->logLimit2, 200);
       }},
      {"LumenLog limit not a number", {}, "LumenLog run.log x", kSyntax, "Expected number.\n", nullptr},
      {"KiteEncZoomStdMags", {}, "KiteEncZoomStdMags 1 2.5 4", 0, "",
       [](const sysInfo_t& s) {
         ASSERT_NE(s.encZoom, nullptr);
         EXPECT_EQ(s.encZoom->stdMagCount, 3);
         EXPECT_EQ(s.encZoom->stdMags[1], 2.5);
       }},
      {"KiteEncZoomStdMags sixteen", {}, "KiteEncZoomStdMags 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", kSyntax,
       "Too many KiteEncZoomStdMag values.\n", nullptr},
      {"KiteEncZoomBacklash negative", {}, "KiteEncZoomBacklash -1000", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.encZoom->backlash, -1000); }},
      {"EncodedRadiusScale without C", {}, "EncodedRadiusScale 1 0.5 0.25 3", 0, "",
       [](const sysInfo_t& s) {
         const sb_radius_scale_t& b = s.encodedRadiusScale;
         EXPECT_EQ(b.present, 1);
         EXPECT_EQ(b.mode, 1);
         EXPECT_EQ(b.a, 0.5);
         EXPECT_EQ(b.b, 0.25);
         EXPECT_EQ(b.n, 3);
         EXPECT_EQ(b.c, 0);
       }},
      {"EncodedRadiusScale with C", {}, "EncodedRadiusScale 0 0 0 0 0.75", 0, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.encodedRadiusScale.c, 0.75); }},
      {"IntfRadiusScale C required", {}, "IntfRadiusScale 1 0.5 0.25 3", ERR_EOF, "",
       [](const sysInfo_t& s) { EXPECT_EQ(s.intfRadiusScale.present, 1); }},
      {"IntfRadiusScale N out of range", {}, "IntfRadiusScale 1 0.5 0.25 21 0.5", kRange,
       "21 out of range [0,20]\n", nullptr},
  };
  run(cases);
}

}  // namespace
