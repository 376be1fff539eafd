/// @file
/// The lexical layer of the system calibration file: words, quoted texts,
/// bounded numbers and the keyword table that maps words to token codes.
///
/// Every read takes the caller's status word. A non-zero status on entry
/// makes the read do nothing and return its neutral result, so a rule can
/// read all its values in a row and test the status once at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "instrument/calibration/char_source.h"

/// Token codes. Keyword codes fill 0..239; 11 and 43 are unused, and the
/// four reserved results sit at their fixed values. Words that the grammar
/// treats as one (config/configuration, lumenavgk0/lumenavg_k0) share a
/// code; the other synonyms keep codes of their own and are merged by the
/// grammar. Nothing outside this library depends on the other values.
enum CalToken : int32_t {
  // Punctuation
  TOK_COMMA = 0,
  TOK_COLON = 1,
  TOK_LBRACKET = 2,
  TOK_RBRACKET = 3,
  // Keywords that begin a line
  TOK_ABSWAVEMETER = 4,
  TOK_ADC = 5,
  TOK_AXISCOMP_A = 6,
  TOK_AXISCOMP_B = 7,
  TOK_AXISCOMP_P = 8,
  TOK_AXISCOMP_R = 9,
  TOK_AXISCOMP_T = 10,
  TOK_AXISCOMP_X = 12,
  TOK_AXISCOMP_Y = 13,
  TOK_AXISCOMP_Z = 14,
  TOK_CAMERA = 15,
  TOK_DIFFDISKFRACTION = 16,
  TOK_DIFFDISKRATE = 17,
  TOK_DYNWAVEGEN = 18,
  TOK_ENCODEDRADIUSSCALE = 19,
  TOK_LUMENAVG_K0 = 20,
  TOK_LUMENDISPER = 21,
  TOK_LUMENDMICENTER = 22,
  TOK_LUMENDMISCALE = 23,
  TOK_LUMENIMAGEROT = 24,
  TOK_LUMENLOG = 25,
  TOK_LUMENMATERIALS = 26,
  TOK_LUMENSIINVERTDATA = 27,
  TOK_LUMENSYS = 28,
  TOK_LUMENSYSINITPER = 29,
  TOK_LUMENTEMPERATURE = 30,
  TOK_LUMENTILTCENTER = 31,
  TOK_LUMENZEROGAGEPER = 32,
  TOK_LUMENZEROPTPOS = 33,
  TOK_KITEENCZOOMBACKLASH = 34,
  TOK_KITEENCZOOMCALFILE = 35,
  TOK_KITEENCZOOMCONFIG = 36,
  TOK_KITEENCZOOMPROGLIM = 37,
  TOK_KITEENCZOOMSTDMAGS = 38,
  TOK_KITEENCZOOMWANDLIM = 39,
  TOK_IGNOREDUALBRUSHMOTOR = 40,
  TOK_IGNOREFOCUSNDW = 41,
  TOK_IGNORELAPS = 42,
  TOK_IGNOREPZT = 44,
  TOK_IGNOREWAND = 45,
  TOK_IGNOREZOOM = 46,
  TOK_INSTRCOMM = 47,
  TOK_INSTRNAME = 48,
  TOK_INTFRADIUSSCALE = 49,
  TOK_INVERTDATA = 50,
  TOK_LIGHT = 51,
  TOK_LLC = 52,
  TOK_MACADDRESS = 53,
  TOK_MOTIONCTRL = 54,
  TOK_NOINTENSAVG = 55,
  TOK_NOMMAG = 56,
  TOK_PENDENTMENU = 57,
  TOK_PIDVALS_A = 58,
  TOK_PIDVALS_B = 59,
  TOK_PIDVALS_P = 60,
  TOK_PIDVALS_R = 61,
  TOK_PIDVALS_T = 62,
  // Reserved results of sb_readKeyword; never in the table.
  TOK_EOF = 63,
  TOK_EOL = 64,
  TOK_ERROR = 65,
  TOK_PIDVALS_X = 66,
  TOK_PIDVALS_Y = 67,
  TOK_PIDVALS_Z = 68,
  TOK_PIFOC = 69,
  TOK_PIFOCPOLARITY = 70,
  TOK_PIFOCTYPE = 71,
  TOK_POSINSTR = 72,
  TOK_PZTID = 73,
  TOK_PZTPWR = 74,
  TOK_RADCRVFOCCAL = 75,
  TOK_RADCRVPWRCAL = 76,
  TOK_RAMP = 77,
  TOK_REMOTE = 78,
  TOK_RINGSPOT = 79,
  TOK_SCANCAL = 80,
  TOK_SDCCAL = 81,
  TOK_SLEEPTIMEOUT = 82,
  TOK_SYSMAG = 83,
  TOK_TEMPSENSOR = 84,
  TOK_TOUCHSCREEN = 85,
  TOK_TURRET = 86,
  TOK_UNIT = 87,
  TOK_VERSION = 88,
  TOK_WMCOMM = 89,
  TOK_WMMAXBUCKETS = 90,
  TOK_WMMONOPD = 91,
  TOK_WMSYSGAIN = 92,
  TOK_WMTUNERANGE = 93,
  TOK_WMTUNERATE = 94,
  TOK_XAXISBACKLASH = 95,
  TOK_YAXISBACKLASH = 96,
  TOK_ZAXISBACKLASH = 97,
  TOK_ZAXISCAL = 98,
  TOK_ZCANCLOSEDLOOP = 99,
  TOK_ZENCODER = 100,
  TOK_ZOOM = 101,
  // System type words (also begin a line)
  TOK_ALDER2 = 102,
  TOK_ALDER3 = 103,
  TOK_ALDER4 = 104,
  TOK_BIRCH3 = 105,
  TOK_BIRCH4 = 106,
  TOK_BIRCH5 = 107,
  TOK_BIRCH6 = 108,
  TOK_BIRCH7 = 109,
  TOK_BIRCH8 = 110,
  TOK_BIRCH9 = 111,
  TOK_BIRCH10 = 112,
  TOK_COBALT = 113,
  TOK_COBALT2 = 114,
  TOK_DUNE = 115,
  TOK_DUNE2 = 116,
  TOK_EMBER = 117,
  TOK_FJORD1 = 118,
  TOK_FJORD2 = 119,
  TOK_FJORD3 = 120,
  TOK_FJORD4 = 121,
  TOK_FJORD5 = 122,
  TOK_FJORD6 = 123,
  TOK_GLEN = 124,
  TOK_GLENCAN = 125,
  TOK_HERON = 126,
  TOK_HERON_CAN = 127,
  TOK_IRIS = 128,
  TOK_IRIS_CAN = 129,
  TOK_KITE = 130,
  TOK_KITECAN = 131,
  TOK_KITE2 = 132,
  TOK_KITE2CAN = 133,
  TOK_LUMEN = 134,
  TOK_LUMENSI = 135,
  TOK_SPECIAL = 136,
  // After "camera"
  TOK_ALIGN = 137,
  TOK_BAD = 138,
  TOK_BPIX = 139,
  TOK_BPIXELS = 140,
  TOK_CONFIG = 141,
  TOK_DARK = 142,
  TOK_FILE = 143,
  TOK_UNKNOWN = 144,  ///< reserved: a word not in the table
  TOK_OPTIONS = 145,
  TOK_PERIOD = 146,
  TOK_PLL = 147,
  TOK_SPLITX = 148,
  TOK_SPLITY = 149,
  TOK_TRANS = 150,
  TOK_TYPE = 151,
  // Camera alignment values
  TOK_CENTER = 152,
  TOK_DEFAULT = 153,
  TOK_TOPLEFT = 154,
  // Camera types
  TOK_A311F = 155,
  TOK_A312F = 156,
  TOK_A504K = 157,
  TOK_ADIMEC1000 = 158,
  TOK_ADIMEC4050 = 159,
  TOK_ADIMEC4150 = 160,
  TOK_BASLER = 161,
  TOK_CID2220 = 162,
  TOK_CID2250 = 163,
  TOK_CUSTOM = 164,
  TOK_DGFLY1024 = 165,
  TOK_DGFLY6200 = 166,
  TOK_DGFLY640 = 167,
  TOK_E2V7899 = 168,
  TOK_EEV1715A = 169,
  TOK_IMPERXVGA = 170,
  TOK_P62505 = 171,
  TOK_PIA1000 = 172,
  TOK_PIA640 = 173,
  TOK_SCA640 = 174,
  TOK_SCA640G = 175,
  TOK_SIM200 = 176,
  TOK_SMD4M15 = 177,
  TOK_SU320 = 178,
  TOK_TM6705 = 179,
  TOK_TM6710 = 180,
  TOK_TM6740 = 181,
  TOK_VIDICON = 182,
  TOK_XC7500 = 183,
  TOK_XC7500S = 184,
  TOK_XC77 = 185,
  TOK_XC77CE = 186,
  // After "llc" (also config, configuration, options)
  TOK_ALIGNMODEPCT = 187,
  TOK_AVGCURLIMIT = 188,
  TOK_FREQ = 189,
  TOK_FWDVOLTAGE = 190,
  TOK_INSTR = 191,
  TOK_RANGE = 192,
  TOK_TARGET = 193,
  // Light level controller types (also dune)
  TOK_WREN = 194,
  TOK_WREN_B = 195,
  // Light types (also special)
  TOK_HENE = 196,
  TOK_DIODE = 197,
  TOK_WHITE = 198,
  TOK_LED = 199,
  // After "adc"
  TOK_CLOCK = 200,
  // After "ramp": only config and configuration, listed above
  // Frame grabbers, first word after "version"
  TOK_NONE = 201,
  TOK_RPC = 202,
  TOK_MATROX = 203,
  TOK_PULSAR = 204,
  TOK_GENESIS = 205,
  TOK_CORONA = 206,
  TOK_BANDIT = 207,
  TOK_FIREWIRE = 208,
  TOK_CAMERALINK = 209,
  TOK_FLASHBUS = 210,
  TOK_GIGE = 211,
  TOK_X64LVDS = 212,
  TOK_PC2VISION = 213,
  // Instrument boards, last word after "version" (also none, kite, dune, dune2, iris, lumen)
  TOK_SABLE = 214,
  TOK_CAN = 215,
  TOK_NOTNEEDED = 216,
  // Position instrument types (also zencoder)
  TOK_QUARTZ = 217,
  TOK_TMI = 218,
  TOK_HEID = 219,
  TOK_LCDMI = 220,
  TOK_MICROLYNX = 221,
  TOK_USDED2 = 222,
  TOK_TMI501 = 223,
  TOK_METRONICS = 224,
  TOK_FHXTMI501 = 225,
  TOK_RENISHAW_STEPNET = 226,
  TOK_STEPNET = 227,
  // Temperature sensor types
  TOK_EURO2216E = 228,
  // PID set selectors
  TOK_FAST = 229,
  TOK_SLOW = 230,
  // Recognized but not accepted anywhere
  TOK_AF_GAIN = 231,
  TOK_AF_REF_ADC = 232,
  TOK_AF_REF_GAIN = 233,
  TOK_AF_THRESH = 234,
  TOK_PR_GAIN = 235,
  TOK_PR_OFFSET = 236,
  TOK_PR_REF_ADC = 237,
  TOK_PR_REF_GAIN = 238,
  TOK_PR_THRESH = 239,
};

namespace felbrin {

/// One row of the keyword table: the word in lower case and its code.
struct CalKeyword {
  std::string_view word;  ///< lower case
  int32_t code;           ///< a CalToken
};

/// The keyword table, sorted byte-wise by word (236 rows).
std::span<const CalKeyword> cal_keyword_table();

/// The code of a word, whatever its case; TOK_UNKNOWN when it is not a word
/// of the table.
int32_t cal_lookup_keyword(std::string_view word);

/// The table word of a code in lower case: for the shared codes the form
/// the writer spells ("config", "lumenavg_k0"); empty for a code that is not
/// a keyword. The writer's mixed-case spelling stays with the writer.
std::string_view cal_token_word(int32_t code);

}  // namespace felbrin

/// Character classes of sb_peekClass.
enum CalCharClass : int {
  CAL_CLASS_END = 0,     ///< line feed, carriage return, '#', end of file
  CAL_CLASS_NUMBER = 1,  ///< '-', '.', a decimal digit
  CAL_CLASS_LETTER = 2,
  CAL_CLASS_BRACKET = 3,  ///< '['
  CAL_CLASS_COLON = 4,
  CAL_CLASS_OTHER = 5,  ///< anything else, and the answer when the status is set
};

/// A word or quoted text of at most 81 characters (80 when quoted); longer
/// input is cut and the rest begins the next word. ',' ':' '[' ']' are words
/// of their own only at the start of a word. Nothing on error: ERR_EOL at
/// the line end or '#' (or a quote left open at the line end), ERR_EOF at the
/// end of the input (or inside a quote).
std::optional<std::string> sb_readWord(felbrin::CalCharSource& src, int* status);

/// The code of the next word. The line end and the end of the input come
/// back as TOK_EOL and TOK_EOF with the status cleared; a word not in the
/// table is reported ("Unrecognized token \"%s\"") and gives TOK_UNKNOWN
/// with ERR_SB_CALFILE_SYNTAX.
int32_t sb_readKeyword(felbrin::CalCharSource& src, int* status);

/// The class of the next character other than a blank or tab, which is left
/// unread. Never changes the status.
int sb_peekClass(felbrin::CalCharSource& src, const int* status);

/// A decimal integer after any white space, line ends included. ERR_EOF at
/// the end of the input, ERR_SB_CALFILE_SYNTAX (no message) when no number
/// stands there, ERR_SB_CALFILE_VALUE_RANGE with "%d out of range [%d,%d]"
/// outside [lower, upper]; a value beyond 32 bits is taken as the nearest
/// 32-bit limit and is always out of range. 0 on every error.
int32_t sb_readInt(felbrin::CalCharSource& src, int* status, int32_t lower, int32_t upper);

/// A decimal real ([+-]digits[.digits][e[+-]digits], also ".5" and "5."),
/// with both bounds inclusive. Errors as sb_readInt with the message
/// "%g out of range [%g,%g]"; 0.0 on every error.
double sb_readReal(felbrin::CalCharSource& src, int* status, double lower, double upper);

/// The same with a choice of inclusive or exclusive bounds; the message
/// shows an exclusive bound with '(' or ')'.
double sb_readRealEx(felbrin::CalCharSource& src, int* status, double lower, double upper,
                     bool lower_inclusive, bool upper_inclusive);
