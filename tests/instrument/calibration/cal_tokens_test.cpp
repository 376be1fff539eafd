// The calibration tokenizer: every edge case of its words, numbers and
// classes, the keyword table, and the range and scanning faults it mends
// (saturated integers, decimal-only reals, ranges that NaN cannot pass).
#include "instrument/calibration/cal_tokens.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "common/errors.h"
#include "instrument/calibration/cal_report.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::CalCharSource;
using felbrin::cal_read_context;
using felbrin::test::LogCapture;

class CalTokens : public ::testing::Test {
 protected:
  // Past the first message of a read, so the log holds the messages alone.
  void SetUp() override {
    cal_read_context().clear();
    cal_read_context().error_count = 1;
  }
  void TearDown() override { cal_read_context().clear(); }

  LogCapture log;
  int status = 0;
};

CalCharSource text(std::string_view t) { return CalCharSource::from_text(t); }

// ---------------------------------------------------------------- words

TEST_F(CalTokens, CameraTypeInAnyCaseAndSpacing) {
  for (const char* line : {"camera type\n", "CAMERA TYPE\n", "CaMeRa\t \t tYpE\n", "  \tcamera      Type"}) {
    CalCharSource src = text(line);
    EXPECT_EQ(sb_readKeyword(src, &status), TOK_CAMERA) << line;
    EXPECT_EQ(sb_readKeyword(src, &status), TOK_TYPE) << line;
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(log.str(), "");
}

TEST_F(CalTokens, CommentLineIsAnEmptyLine) {
  CalCharSource src = text("# Trel System Calibration File\nUnit 3\n");
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_EOL);
  EXPECT_EQ(status, 0);
  // The '#' is taken; the rest of the comment is the caller's to discard.
  EXPECT_EQ(src.get(), ' ');
}

TEST_F(CalTokens, LineEndAndEndOfInputAreNotErrorsForKeywords) {
  CalCharSource src = text("  \n");
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_EOL);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(src.get(), '\n');  // pushed back for the caller
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_EOF);
  EXPECT_EQ(status, 0);
}

TEST_F(CalTokens, LineEndAndEndOfInputStayInTheStatusForWords) {
  CalCharSource src = text(" \t\n");
  EXPECT_FALSE(sb_readWord(src, &status).has_value());
  EXPECT_EQ(status, ERR_EOL);
  status = 0;
  EXPECT_EQ(src.get(), '\n');
  EXPECT_FALSE(sb_readWord(src, &status).has_value());
  EXPECT_EQ(status, ERR_EOF);
  status = 0;
  CalCharSource comment = text("  # note");
  EXPECT_FALSE(sb_readWord(comment, &status).has_value());
  EXPECT_EQ(status, ERR_EOL);
}

TEST_F(CalTokens, QuotedPathKeepsItsBlanks) {
  CalCharSource src = text("  \"C:\\Program Files\\cam #1, a:b.dcf\"  next\n");
  EXPECT_EQ(sb_readWord(src, &status), "C:\\Program Files\\cam #1, a:b.dcf");
  EXPECT_EQ(sb_readWord(src, &status), "next");
  EXPECT_EQ(status, 0);
  CalCharSource empty = text("\"\"");
  EXPECT_EQ(sb_readWord(empty, &status), "");
}

TEST_F(CalTokens, OpenQuoteAtTheLineEnd) {
  CalCharSource src = text("\"no end\nZoom");
  EXPECT_FALSE(sb_readWord(src, &status).has_value());
  EXPECT_EQ(status, ERR_EOL);
  EXPECT_EQ(src.get(), '\n');
  status = 0;
  CalCharSource at_eof = text("\"no end");
  EXPECT_FALSE(sb_readWord(at_eof, &status).has_value());
  EXPECT_EQ(status, ERR_EOF);
}

TEST_F(CalTokens, OpenQuoteAtTheStartOfALineReadsAsAnEmptyLine) {
  CalCharSource src = text("\"Unit 3\nZoom 2\n");
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_EOL);
  EXPECT_EQ(status, 0);
  // The line end stays for the caller, who discards the rest of the line.
  EXPECT_EQ(src.get(), '\n');
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_ZOOM);
}

TEST_F(CalTokens, WordsStopAt81Characters) {
  const std::string word(85, 'w');
  CalCharSource src = text(word + " x");
  EXPECT_EQ(sb_readWord(src, &status), word.substr(0, 81));
  EXPECT_EQ(sb_readWord(src, &status), "wwww");
  EXPECT_EQ(sb_readWord(src, &status), "x");
  EXPECT_EQ(status, 0);

  const std::string exact(81, 'e');
  CalCharSource fits = text(exact + "\n");
  EXPECT_EQ(sb_readWord(fits, &status), exact);
  EXPECT_FALSE(sb_readWord(fits, &status).has_value());
  EXPECT_EQ(status, ERR_EOL);
}

TEST_F(CalTokens, QuotedWordsStopAt80Characters) {
  const std::string word(85, 'q');
  CalCharSource src = text(std::string("\"") + word + "\" x");
  EXPECT_EQ(sb_readWord(src, &status), word.substr(0, 80));
  // The rest begins a bare word, which the closing quote ends.
  EXPECT_EQ(sb_readWord(src, &status), "qqqqq");
  EXPECT_EQ(sb_readWord(src, &status), "x");
  EXPECT_EQ(status, 0);
}

// Exactly 80 characters between quotes: the closing quote belongs to them,
// so a second name on the line reads as itself.
TEST_F(CalTokens, QuoteClosingEightyCharactersIsTaken) {
  const std::string word = "a b" + std::string(77, 'q');
  CalCharSource src = text("\"" + word + "\" x\n");
  EXPECT_EQ(sb_readWord(src, &status), word);
  EXPECT_EQ(sb_readWord(src, &status), "x");
  EXPECT_EQ(status, 0);
}

TEST_F(CalTokens, CarriageReturnIsDroppedButCounts) {
  // A lone CR inside a word (not a CR LF pair, which reads as a line end).
  std::string input = "a";
  for (int i = 0; i < 40; ++i) input += "b\r";
  input += "cd";
  CalCharSource src = text(input);
  EXPECT_EQ(sb_readWord(src, &status), std::string("a") + std::string(40, 'b'));
  EXPECT_EQ(sb_readWord(src, &status), "cd");
}

TEST_F(CalTokens, PunctuationSplitsOnlyAtTheStart) {
  CalCharSource src = text("ab,cd ,x :y [z] a#b c\"d");
  EXPECT_EQ(sb_readWord(src, &status), "ab,cd");
  EXPECT_EQ(sb_readWord(src, &status), ",");
  EXPECT_EQ(sb_readWord(src, &status), "x");
  EXPECT_EQ(sb_readWord(src, &status), ":");
  EXPECT_EQ(sb_readWord(src, &status), "y");
  EXPECT_EQ(sb_readWord(src, &status), "[");
  EXPECT_EQ(sb_readWord(src, &status), "z]");
  EXPECT_EQ(sb_readWord(src, &status), "a#b");
  EXPECT_EQ(sb_readWord(src, &status), "c");  // a quote ends a bare word
  EXPECT_EQ(sb_readWord(src, &status), "d");
  EXPECT_EQ(status, 0);
}

TEST_F(CalTokens, WordEndsAtTheLineEndWhichStays) {
  CalCharSource src = text("abc\ndef");
  EXPECT_EQ(sb_readWord(src, &status), "abc");
  EXPECT_FALSE(sb_readWord(src, &status).has_value());
  EXPECT_EQ(status, ERR_EOL);
}

TEST_F(CalTokens, BracketedPair) {
  CalCharSource src = text("[12,34]\n");
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_LBRACKET);
  EXPECT_EQ(sb_readInt(src, &status, 0, 100), 12);
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_COMMA);
  EXPECT_EQ(sb_readInt(src, &status, 0, 100), 34);
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_RBRACKET);
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_EOL);
  EXPECT_EQ(status, 0);
}

TEST_F(CalTokens, UnknownWordIsReportedAsRead) {
  CalCharSource src = text("FooBar 1\n");
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_UNKNOWN);
  EXPECT_EQ(status, ERR_SB_CALFILE_SYNTAX);
  EXPECT_EQ(log.str(), "Unrecognized token \"FooBar\"\n");
  EXPECT_EQ(cal_read_context().error_count, 2);
}

TEST_F(CalTokens, UnknownWordOpensTheHeadingOfARead) {
  cal_read_context().clear();
  cal_read_context().inline_text.emplace("+Zoomm 2");
  CalCharSource src = text("Zoomm 2");
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_UNKNOWN);
  EXPECT_EQ(log.str(), "Error(s) reading system calibration info\n\"+Zoomm 2\":\n"
                       "Unrecognized token \"Zoomm\"\n");
}

TEST_F(CalTokens, SetStatusMakesEveryReadDoNothing) {
  CalCharSource src = text("Unit 3 4.5");
  status = ERR_SB_CALFILE_VALUE_RANGE;
  EXPECT_FALSE(sb_readWord(src, &status).has_value());
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_ERROR);
  EXPECT_EQ(sb_peekClass(src, &status), CAL_CLASS_OTHER);
  EXPECT_EQ(sb_readInt(src, &status, 0, 10), 0);
  EXPECT_EQ(sb_readReal(src, &status, 0, 10), 0.0);
  EXPECT_EQ(sb_readRealEx(src, &status, 0, 10, false, false), 0.0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  EXPECT_EQ(log.str(), "");
  status = 0;
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_UNIT);  // nothing was taken
}

// ---------------------------------------------------------------- classes

TEST_F(CalTokens, PeekClassLeavesTheCharacter) {
  struct Case {
    const char* input;
    int cls;
    int next;
  };
  const Case cases[] = {
      {"", CAL_CLASS_END, CalCharSource::kEof},   {" \t\n", CAL_CLASS_END, '\n'},
      {"\r", CAL_CLASS_END, '\r'},                {" # c", CAL_CLASS_END, '#'},
      {"-1", CAL_CLASS_NUMBER, '-'},              {".5", CAL_CLASS_NUMBER, '.'},
      {"\t7", CAL_CLASS_NUMBER, '7'},             {"+7", CAL_CLASS_OTHER, '+'},
      {"x", CAL_CLASS_LETTER, 'x'},               {"Z", CAL_CLASS_LETTER, 'Z'},
      {"[", CAL_CLASS_BRACKET, '['},              {":", CAL_CLASS_COLON, ':'},
      {"\"q\"", CAL_CLASS_OTHER, '"'},            {",", CAL_CLASS_OTHER, ','},
      {"]", CAL_CLASS_OTHER, ']'},                {"_", CAL_CLASS_OTHER, '_'},
      {"\xe9", CAL_CLASS_OTHER, 0xe9},
  };
  for (const Case& c : cases) {
    CalCharSource src = text(c.input);
    EXPECT_EQ(sb_peekClass(src, &status), c.cls) << '"' << c.input << '"';
    EXPECT_EQ(src.get(), c.next) << '"' << c.input << '"';
    EXPECT_EQ(status, 0);
  }
}

// ---------------------------------------------------------------- integers

TEST_F(CalTokens, IntOutOfRange) {
  CalCharSource src = text("9");
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  EXPECT_EQ(log.str(), "9 out of range [0,7]\n");
}

TEST_F(CalTokens, IntNotANumber) {
  CalCharSource src = text("  x");
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 0);
  EXPECT_EQ(status, ERR_SB_CALFILE_SYNTAX);
  EXPECT_EQ(log.str(), "");
  EXPECT_EQ(src.get(), 'x');
  for (const char* bad : {"-", "+", "- 1", ".5", "-x"}) {
    status = 0;
    CalCharSource s = text(bad);
    EXPECT_EQ(sb_readInt(s, &status, -10, 10), 0) << bad;
    EXPECT_EQ(status, ERR_SB_CALFILE_SYNTAX) << bad;
  }
}

TEST_F(CalTokens, IntAtTheEnd) {
  CalCharSource src = text(" \n\t\r\n ");
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 0);
  EXPECT_EQ(status, ERR_EOF);
  EXPECT_EQ(log.str(), "");
}

TEST_F(CalTokens, IntMayStandOnAFollowingLine) {
  CalCharSource src = text("\n\r\n  +5 -3 0012abc");
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 5);
  EXPECT_EQ(sb_readInt(src, &status, -7, 7), -3);
  EXPECT_EQ(sb_readInt(src, &status, 0, 20), 12);
  EXPECT_EQ(sb_readWord(src, &status), "abc");
  EXPECT_EQ(status, 0);
}

TEST_F(CalTokens, IntBoundsAreInclusive) {
  CalCharSource src = text("0 7 -1 8");
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 0);
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 7);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  status = 0;
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  EXPECT_EQ(log.str(), "-1 out of range [0,7]\n8 out of range [0,7]\n");
}

TEST_F(CalTokens, IntOverflowSaturatesAndIsAlwaysOutOfRange) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  CalCharSource src = text("4294967296");
  EXPECT_EQ(sb_readInt(src, &status, 0, 7), 0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  EXPECT_EQ(log.str(), "2147483647 out of range [0,7]\n");

  // Even where the saturated value would lie within the bounds.
  for (const char* input : {"99999999999", "2147483648", "-2147483649",
                            "-99999999999999999999999999999999"}) {
    status = 0;
    CalCharSource s = text(input);
    EXPECT_EQ(sb_readInt(s, &status, kMin, kMax), 0) << input;
    EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE) << input;
    EXPECT_EQ(s.get(), CalCharSource::kEof) << "all digits belong to the number";
  }
  EXPECT_EQ(log.str(), "2147483647 out of range [0,7]\n"
                       "2147483647 out of range [-2147483648,2147483647]\n"
                       "2147483647 out of range [-2147483648,2147483647]\n"
                       "-2147483648 out of range [-2147483648,2147483647]\n"
                       "-2147483648 out of range [-2147483648,2147483647]\n");

  status = 0;
  CalCharSource limits = text("2147483647 -2147483648 000000000000002147483647");
  EXPECT_EQ(sb_readInt(limits, &status, kMin, kMax), kMax);
  EXPECT_EQ(sb_readInt(limits, &status, kMin, kMax), kMin);
  EXPECT_EQ(sb_readInt(limits, &status, kMin, kMax), kMax);
  EXPECT_EQ(status, 0);
}

// ---------------------------------------------------------------- reals

TEST_F(CalTokens, RealDecimalForms) {
  struct Case {
    const char* input;
    double value;
  };
  const Case cases[] = {
      {"0.5", 0.5},     {".5", 0.5},        {"5.", 5.0},     {"-.25", -0.25},   {"+2", 2.0},
      {"1e2", 100.0},   {"1E+2", 100.0},    {"25e-1", 2.5},  {"-0", -0.0},      {"5.e1", 50.0},
      {"0.928655", 0.928655}, {"\n  3.25", 3.25}, {"1e-400", 0.0}, {"000.125", 0.125},
  };
  for (const Case& c : cases) {
    status = 0;
    CalCharSource src = text(c.input);
    EXPECT_EQ(sb_readReal(src, &status, -1000, 1000), c.value) << c.input;
    EXPECT_EQ(status, 0) << c.input;
  }
  EXPECT_EQ(log.str(), "");
}

TEST_F(CalTokens, RealStopsBeforeTheNextItem) {
  CalCharSource src = text("[0.6328,0.001] 2.5x");
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_LBRACKET);
  EXPECT_EQ(sb_readReal(src, &status, 0, 10), 0.6328);
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_COMMA);
  EXPECT_EQ(sb_readReal(src, &status, 0, 10), 0.001);
  EXPECT_EQ(sb_readKeyword(src, &status), TOK_RBRACKET);
  EXPECT_EQ(sb_readReal(src, &status, 0, 10), 2.5);
  EXPECT_EQ(src.get(), 'x');
  EXPECT_EQ(status, 0);
}

TEST_F(CalTokens, RealRejectsNonDecimalForms) {
  for (const char* bad : {"nan", "NaN", "inf", "-inf", "infinity", "INF", "x", ".", "-.",
                          "+", "1e", "1e+", "2.5e-x", "100ergs", "-", ",5"}) {
    status = 0;
    CalCharSource src = text(bad);
    EXPECT_EQ(sb_readReal(src, &status, -1e300, 1e300), 0.0) << bad;
    EXPECT_EQ(status, ERR_SB_CALFILE_SYNTAX) << bad;
  }
  EXPECT_EQ(log.str(), "");
  // A hexadecimal form is the number 0 followed by a word.
  for (const char* hex_form : {"0x10", "0x1p3", "0X1P-2"}) {
    status = 0;
    CalCharSource hex = text(hex_form);
    EXPECT_EQ(sb_readReal(hex, &status, -100, 100), 0.0) << hex_form;
    EXPECT_EQ(status, 0) << hex_form;
    EXPECT_EQ(std::tolower(hex.get()), 'x') << hex_form;
  }
}

TEST_F(CalTokens, RealAtTheEnd) {
  CalCharSource src = text("  \n");
  EXPECT_EQ(sb_readReal(src, &status, 0, 1), 0.0);
  EXPECT_EQ(status, ERR_EOF);
}

TEST_F(CalTokens, RealBoundKinds) {
  struct Case {
    bool lower_inclusive;
    bool upper_inclusive;
    const char* at_lower;
    const char* at_upper;
  };
  const Case cases[] = {
      {true, true, "", ""},
      {false, true, "0 out of range (0,2]\n", ""},
      {true, false, "", "2 out of range [0,2)\n"},
      {false, false, "0 out of range (0,2)\n", "2 out of range (0,2)\n"},
  };
  for (const Case& c : cases) {
    for (const auto& [input, expected] : {std::pair{"0", c.at_lower}, std::pair{"2", c.at_upper}}) {
      status = 0;
      const std::size_t before = log.str().size();
      CalCharSource src = text(input);
      const double v = sb_readRealEx(src, &status, 0.0, 2.0, c.lower_inclusive, c.upper_inclusive);
      EXPECT_EQ(log.str().substr(before), expected);
      if (*expected == '\0') {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(v, std::atof(input));
      } else {
        EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
        EXPECT_EQ(v, 0.0);
      }
    }
  }
}

TEST_F(CalTokens, RealExclusiveLowerAcceptsTheUpperBound) {
  CalCharSource src = text("0 2");
  EXPECT_EQ(sb_readRealEx(src, &status, 0, 2, false, true), 0.0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  EXPECT_EQ(log.str(), "0 out of range (0,2]\n");
  status = 0;
  EXPECT_EQ(sb_readRealEx(src, &status, 0, 2, false, true), 2.0);
  EXPECT_EQ(status, 0);
}

TEST_F(CalTokens, RealMessagesUseTheLibraryNumberFormat) {
  CalCharSource src = text("2000000 -0.0001 1e999 -1e999 0.30000000000000004");
  sb_readReal(src, &status, 0.001, 1e6);
  status = 0;
  sb_readReal(src, &status, 1.5, 2.25);
  status = 0;
  sb_readReal(src, &status, 0, 1);
  status = 0;
  sb_readReal(src, &status, -1e308, 1e308);
  status = 0;
  sb_readRealEx(src, &status, 0, 0.3, true, true);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  EXPECT_EQ(log.str(), "2e+06 out of range [0.001,1e+06]\n"
                       "-0.0001 out of range [1.5,2.25]\n"
                       "1.79769e+308 out of range [0,1]\n"
                       "-1.79769e+308 out of range [-1e+308,1e+308]\n"
                       "0.3 out of range [0,0.3]\n");
}

TEST_F(CalTokens, NothingPassesANanBound) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CalCharSource src = text("0.5 0.5 0.5");
  EXPECT_EQ(sb_readReal(src, &status, nan, 1.0), 0.0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  status = 0;
  EXPECT_EQ(sb_readRealEx(src, &status, 0.0, nan, false, false), 0.0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
  status = 0;
  // Overflow is out of range even with infinite bounds.
  CalCharSource big = text("1e400");
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(sb_readReal(big, &status, -inf, inf), 0.0);
  EXPECT_EQ(status, ERR_SB_CALFILE_VALUE_RANGE);
}

// ---------------------------------------------------------------- line ends

std::string item(char kind, std::string_view value) {
  std::string out(1, kind);
  out.append(value);
  return out;
}

// Every item of the input by class, as a reader would take it.
std::vector<std::string> tokens(CalCharSource& src) {
  std::vector<std::string> out;
  int status = 0;
  for (int guard = 0; guard < 1000; ++guard) {
    const int cls = sb_peekClass(src, &status);
    if (cls == CAL_CLASS_NUMBER) {
      out.push_back(item('n', std::to_string(sb_readReal(src, &status, -1e9, 1e9))));
    } else if (cls == CAL_CLASS_BRACKET) {
      out.push_back(item('k', std::to_string(sb_readKeyword(src, &status))));
    } else if (cls == CAL_CLASS_LETTER) {
      const std::optional<std::string> w = sb_readWord(src, &status);
      out.push_back(item('w', *w + ":" + std::to_string(felbrin::cal_lookup_keyword(*w))));
    } else {
      const std::optional<std::string> w = sb_readWord(src, &status);
      out.push_back(w ? item('w', *w) : item('s', std::to_string(status)));
      if (status == ERR_EOF) break;
      if (status == ERR_EOL) {
        // Discard the rest of the line, as the reader does.
        int c = src.get();
        while (c != '\n' && c != CalCharSource::kEof) c = src.get();
      }
    }
    status = 0;
  }
  return out;
}

constexpr std::string_view kSample =
    "# Trel System Calibration File\n"
    "InstrName             \"Lab 2, bench #3\"\n"
    "Unit                  3\n"
    "Kite  04  17  12345  R\n"
    "\n"
    "Camera Type           XC77\n"
    "Light Hene            [0.6328,0.001]\n"
    "SysMag                1.0000  2.5000\n"
    "SleepTimeout          4.35";

std::string with_crlf(std::string_view lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST_F(CalTokens, CrLfReadsLikeLf) {
  CalCharSource lf = text(kSample);
  const std::vector<std::string> expected = tokens(lf);
  ASSERT_GT(expected.size(), 20u);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), "wLab 2, bench #3"), 1);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), std::string("wXC77:") + std::to_string(TOK_XC77)), 1);

  CalCharSource crlf = text(with_crlf(kSample));
  EXPECT_EQ(tokens(crlf), expected);

  felbrin::test::TempDir dir;
  for (const std::string& content : {std::string(kSample), with_crlf(kSample)}) {
    const std::string path = dir.file("sample.cal");
    felbrin::test::write_file(path, content);
    std::optional<CalCharSource> file = CalCharSource::open_file(path.c_str());
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(tokens(*file), expected);
  }
  EXPECT_EQ(log.str(), "");
}

// ---------------------------------------------------------------- the table

TEST(CalKeywordTable, SortedByBytesWithCodesOfTheirOwn) {
  const auto table = felbrin::cal_keyword_table();
  ASSERT_EQ(table.size(), 236u);
  EXPECT_TRUE(std::ranges::is_sorted(table, {}, &felbrin::CalKeyword::word));
  std::set<std::string_view> words;
  std::set<int32_t> codes;
  for (const felbrin::CalKeyword& row : table) {
    words.insert(row.word);
    codes.insert(row.code);
    EXPECT_GE(row.code, 0);
    EXPECT_LE(row.code, 239);
    for (int32_t reserved : {63, 64, 65, 144}) EXPECT_NE(row.code, reserved) << row.word;
    EXPECT_TRUE(std::ranges::none_of(row.word, [](char c) { return c >= 'A' && c <= 'Z'; }));
  }
  EXPECT_EQ(words.size(), 236u);
  EXPECT_EQ(codes.size(), 234u);
  EXPECT_EQ(felbrin::cal_lookup_keyword("config"), felbrin::cal_lookup_keyword("configuration"));
  EXPECT_EQ(felbrin::cal_lookup_keyword("lumenavgk0"), felbrin::cal_lookup_keyword("lumenavg_k0"));
  EXPECT_EQ(TOK_EOF, 63);
  EXPECT_EQ(TOK_EOL, 64);
  EXPECT_EQ(TOK_ERROR, 65);
  EXPECT_EQ(TOK_UNKNOWN, 144);
}

std::string upper(std::string_view w) {
  std::string out(w);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}
std::string mixed(std::string_view w) {
  std::string out(w);
  for (std::size_t i = 0; i < out.size(); i += 2) {
    out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
  }
  return out;
}

TEST(CalKeywordTable, EveryWordMapsToItsCodeAndBack) {
  int status = 0;
  for (const felbrin::CalKeyword& row : felbrin::cal_keyword_table()) {
    EXPECT_EQ(felbrin::cal_lookup_keyword(row.word), row.code) << row.word;
    EXPECT_EQ(felbrin::cal_lookup_keyword(upper(row.word)), row.code) << row.word;
    EXPECT_EQ(felbrin::cal_lookup_keyword(mixed(row.word)), row.code) << row.word;
    const std::string_view back = felbrin::cal_token_word(row.code);
    EXPECT_EQ(felbrin::cal_lookup_keyword(back), row.code) << row.word;
    if (row.word != "configuration" && row.word != "lumenavgk0") {
      EXPECT_EQ(back, row.word);
    }

    // And through the tokenizer, in a line of its own.
    CalCharSource src = CalCharSource::from_text(mixed(row.word) + "\t" + upper(row.word) + "\r\n");
    EXPECT_EQ(sb_readKeyword(src, &status), row.code) << row.word;
    EXPECT_EQ(sb_readKeyword(src, &status), row.code) << row.word;
    EXPECT_EQ(sb_readKeyword(src, &status), TOK_EOL) << row.word;
    EXPECT_EQ(status, 0) << row.word;
  }
  EXPECT_EQ(felbrin::cal_token_word(TOK_CONFIG), "config");
  EXPECT_EQ(felbrin::cal_token_word(TOK_LUMENAVG_K0), "lumenavg_k0");
  for (int32_t code : {11, 43, 63, 64, 65, 144, 240, -1}) EXPECT_EQ(felbrin::cal_token_word(code), "");
}

TEST(CalKeywordTable, WordsOfEveryGroup) {
  const std::pair<const char*, int32_t> samples[] = {
      {",", TOK_COMMA},         {":", TOK_COLON},           {"[", TOK_LBRACKET},
      {"]", TOK_RBRACKET},      {"AbsWaveMeter", TOK_ABSWAVEMETER}, {"LumenAvg_K0", TOK_LUMENAVG_K0},
      {"LumenAvgK0", TOK_LUMENAVG_K0}, {"Heron_CAN", TOK_HERON_CAN}, {"BPixels", TOK_BPIXELS},
      {"Configuration", TOK_CONFIG}, {"TopLeft", TOK_TOPLEFT}, {"XC77CE", TOK_XC77CE},
      {"AvgCurLimit", TOK_AVGCURLIMIT}, {"Wren_B", TOK_WREN_B}, {"LED", TOK_LED},
      {"Clock", TOK_CLOCK},     {"PC2Vision", TOK_PC2VISION}, {"NotNeeded", TOK_NOTNEEDED},
      {"Renishaw_StepNet", TOK_RENISHAW_STEPNET}, {"Euro2216E", TOK_EURO2216E},
      {"Slow", TOK_SLOW},       {"AF_Gain", TOK_AF_GAIN},   {"PR_Thresh", TOK_PR_THRESH},
  };
  for (const auto& [word, code] : samples) EXPECT_EQ(felbrin::cal_lookup_keyword(word), code) << word;
  for (const char* unknown : {"", "unknown", "configurations", "lumenavg", "config ", "pidvals_q"}) {
    EXPECT_EQ(felbrin::cal_lookup_keyword(unknown), TOK_UNKNOWN) << unknown;
  }
}

}  // namespace
