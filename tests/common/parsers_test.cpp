// Token parsers, prompts and the text-file listing.
#include "common/parsers.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::TempDir;

// A modifiable copy of a line, as the parsers cut tokens in place.
struct Line {
  explicit Line(const char* text) : chars(text, text + std::strlen(text) + 1) {}
  char* get() { return chars.data(); }
  std::vector<char> chars;
};

struct IntCase {
  const char* line;
  const char* description;
  int minimum, maximum;
  const char* message;
};

struct DoubleCase {
  const char* line;
  double minimum, maximum;
  const char* message;
};

// ---- u_strtok

TEST(Strtok, SplitsLikeStrtok) {
  Line a("  one\ttwo  three ");
  EXPECT_STREQ(u_strtok(a.get(), nullptr), "one");
  EXPECT_STREQ(u_strtok(nullptr, nullptr), "two");
  EXPECT_STREQ(u_strtok(nullptr, nullptr), "three");
  EXPECT_EQ(u_strtok(nullptr, nullptr), nullptr);
  EXPECT_EQ(u_strtok(nullptr, nullptr), nullptr);

  Line b("x,,y;z");
  EXPECT_STREQ(u_strtok(b.get(), ","), "x");
  EXPECT_STREQ(u_strtok(nullptr, ";"), ",y");  // delimiters may change between calls
  EXPECT_STREQ(u_strtok(nullptr, ";"), "z");
  EXPECT_EQ(u_strtok(nullptr, ";"), nullptr);

  Line blank(" \t ");
  EXPECT_EQ(u_strtok(blank.get(), nullptr), nullptr);
}

// Two threads meet here after every token. (Not std::barrier: its atomic
// wait has lost wake-ups in the Windows runtime this suite is built with.)
class LockStep {
 public:
  void arrive_and_wait() {
    std::unique_lock<std::mutex> hold(lock_);
    const unsigned round = round_;
    if (++waiting_ == 2) {
      waiting_ = 0;
      ++round_;
      cv_.notify_all();
    } else {
      cv_.wait(hold, [&] { return round_ != round; });
    }
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  int waiting_ = 0;
  unsigned round_ = 0;
};

TEST(Strtok, EachThreadKeepsItsPosition) {
  // The threads step through their lines in lock step, so a shared position
  // would hand one thread the other's tokens.
  constexpr int kRounds = 200;
  LockStep step;
  auto worker = [&step](const char* prefix, int* mismatches) {
    for (int round = 0; round < kRounds; ++round) {
      std::string text;
      for (int i = 0; i < 5; ++i) text += std::string(prefix) + std::to_string(i) + " ";
      Line line(text.c_str());
      for (int i = 0; i < 6; ++i) {
        const char* token = u_strtok(i == 0 ? line.get() : nullptr, nullptr);
        const std::string expected = i < 5 ? std::string(prefix) + std::to_string(i) : "";
        if ((token == nullptr ? std::string() : std::string(token)) != expected) ++*mismatches;
        step.arrive_and_wait();
      }
    }
  };
  int mismatches_a = 0, mismatches_b = 0;
  std::thread a(worker, "a", &mismatches_a);
  std::thread b(worker, "bb", &mismatches_b);
  a.join();
  b.join();
  EXPECT_EQ(mismatches_a, 0);
  EXPECT_EQ(mismatches_b, 0);
}

// ---- u_parse_int_token

TEST(ParseIntToken, FailureMessages) {
  const IntCase cases[] = {
      {"640", "coord x", 0, 639,
       "Number out of range.\nExpected 'coord x' an integer value in the range [0,639]\n"},
      {"12abc", "n", 0, 100,
       "Extra characters after number.\nExpected 'n' an integer value in the range [0,100]\n"},
      {"9", nullptr, INT_MIN, 5,
       "Number out of range.\nExpected an integer value less than or equal to 5\n"},
      {"1", "", 3, INT_MAX,
       "Number out of range.\nExpected an integer value greater than or equal to 3\n"},
      {"", "n", INT_MIN, INT_MAX,
       "Missing number.\nExpected 'n' an integer value less than or equal to 2147483647\n"},
      {"abc", nullptr, -5, 5, "Not a number.\nExpected an integer value in the range [-5,5]\n"},
      {"0x10", nullptr, 0, 99,
       "Extra characters after number.\nExpected an integer value in the range [0,99]\n"},
      // Numbers beyond 32 bits are out of range even with no bounds.
      {"99999999999", nullptr, INT_MIN, INT_MAX,
       "Number out of range.\nExpected an integer value less than or equal to 2147483647\n"},
      {"2147483648", nullptr, INT_MIN, INT_MAX,
       "Number out of range.\nExpected an integer value less than or equal to 2147483647\n"},
      {"-2147483649", nullptr, INT_MIN, INT_MAX,
       "Number out of range.\nExpected an integer value less than or equal to 2147483647\n"},
      {"123456789012345678901234567890", nullptr, INT_MIN, INT_MAX,
       "Number out of range.\nExpected an integer value less than or equal to 2147483647\n"},
      {"+-5", nullptr, -9, 9, "Not a number.\nExpected an integer value in the range [-9,9]\n"},
      // The description is cut at 40 characters.
      {"x", "0123456789012345678901234567890123456789TAIL", 1, 2,
       "Not a number.\nExpected '0123456789012345678901234567890123456789' an integer value in "
       "the range [1,2]\n"},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.line);
    Line line(c.line);
    char message[U_PARSE_MESSAGE_SIZE];
    int value = 0;
    EXPECT_FALSE(u_parse_int_token(line.get(), nullptr, c.description, c.minimum, c.maximum,
                                   message, &value));
    EXPECT_STREQ(message, c.message);
    EXPECT_EQ(value, 2147483647);
  }
}

TEST(ParseIntToken, Successes) {
  Line line("7 -2147483648 +2147483647\t-3");
  char message[U_PARSE_MESSAGE_SIZE] = "stale";
  int value = 0;
  EXPECT_TRUE(u_parse_int_token(line.get(), nullptr, "a", 0, 10, message, &value));
  EXPECT_EQ(value, 7);
  EXPECT_STREQ(message, "");
  EXPECT_TRUE(u_parse_int_token(nullptr, nullptr, nullptr, INT_MIN, INT_MAX, message, &value));
  EXPECT_EQ(value, INT_MIN);
  EXPECT_TRUE(u_parse_int_token(nullptr, "\t ", nullptr, INT_MIN, INT_MAX, nullptr, &value));
  EXPECT_EQ(value, INT_MAX);
  EXPECT_TRUE(u_parse_int_token(nullptr, nullptr, nullptr, -3, -3, message, &value));
  EXPECT_EQ(value, -3);

  // Without an out value: false, and no message.
  Line other("5");
  std::strcpy(message, "stale");
  EXPECT_FALSE(u_parse_int_token(other.get(), nullptr, "a", 0, 10, message, nullptr));
  EXPECT_STREQ(message, "");
}

// ---- u_parse_double_token

TEST(ParseDoubleToken, FailureMessages) {
  const DoubleCase cases[] = {
      {"2.5", 0, 1,
       "Number out of range.\nExpected 'v' a floating point value in the range [0,1]\n"},
      {"-1", 0.5, HUGE_VAL,
       "Number out of range.\nExpected 'v' a floating point value greater than or equal to 0.5\n"},
      {"1e6", -HUGE_VAL, 1e5,
       "Number out of range.\nExpected 'v' a floating point value less than or equal to 100000\n"},
      {"", -HUGE_VAL, HUGE_VAL,
       "Missing number.\nExpected 'v' a floating point value less than or equal to inf\n"},
      {"1.5x", 0, 2,
       "Extra characters after number.\nExpected 'v' a floating point value in the range [0,2]\n"},
      {"1,5", 0, 2,
       "Extra characters after number.\nExpected 'v' a floating point value in the range [0,2]\n"},
      {"abc", 0, 2, "Not a number.\nExpected 'v' a floating point value in the range [0,2]\n"},
      // A NaN would pass every bound test.
      {"nan", 0, 2, "Not a number.\nExpected 'v' a floating point value in the range [0,2]\n"},
      {"-NaN", -HUGE_VAL, HUGE_VAL,
       "Not a number.\nExpected 'v' a floating point value less than or equal to inf\n"},
      {"1e999", 0, 1e300,
       "Number out of range.\nExpected 'v' a floating point value in the range [0,1e+300]\n"},
      {"-1e999", -1e300, 0,
       "Number out of range.\nExpected 'v' a floating point value in the range [-1e+300,0]\n"},
      {"inf", 0, 10,
       "Number out of range.\nExpected 'v' a floating point value in the range [0,10]\n"},
  };
  for (const DoubleCase& c : cases) {
    SCOPED_TRACE(c.line);
    Line line(c.line);
    char message[U_PARSE_MESSAGE_SIZE];
    double value = 0;
    EXPECT_FALSE(
        u_parse_double_token(line.get(), nullptr, "v", c.minimum, c.maximum, message, &value));
    EXPECT_STREQ(message, c.message);
    EXPECT_EQ(value, HUGE_VAL);
  }
}

TEST(ParseDoubleToken, KeepsStrtodSyntax) {
  struct Good {
    const char* token;
    double value;
  };
  const Good goods[] = {
      {"1.5", 1.5},
      {"-2e3", -2000},
      {"+.25", 0.25},
      {"5.", 5},
      {"0x1.8p1", 3},
      {"0X10", 16},
      {"-0x.8", -0.5},
      {"0xff", 255},
      {"0xAbC.8p-1", 1374.25},
      {"0x1fffffffffffff", 9007199254740991.0},
      {"0x20000000000001", 9007199254740992.0},            // a tie, to even
      {"0x20000000000001.00000001", 9007199254740994.0},  // just beyond it, up
      {"0x1p-1074", 0x1p-1074},
      {"0x1p99999999", HUGE_VAL},
      {"0x1p-99999999", 0},
      {"inf", HUGE_VAL},
      {"-Infinity", -HUGE_VAL},
      {"1e-400", 0},
      {"1e400", HUGE_VAL},
      {"-0.0001e-99999", 0},
      {"1e-310", 1e-310},
      {"0.000000000000000000001e330", HUGE_VAL},
  };
  for (const Good& g : goods) {
    SCOPED_TRACE(g.token);
    Line line(g.token);
    double value = 0;
    char message[U_PARSE_MESSAGE_SIZE];
    EXPECT_TRUE(
        u_parse_double_token(line.get(), nullptr, nullptr, -HUGE_VAL, HUGE_VAL, message, &value))
        << message;
    EXPECT_EQ(value, g.value);
  }
  // A lone "0x" is the number 0 followed by text, as strtod reads it.
  Line hex("0x");
  double value = 0;
  char message[U_PARSE_MESSAGE_SIZE];
  EXPECT_FALSE(
      u_parse_double_token(hex.get(), nullptr, nullptr, -HUGE_VAL, HUGE_VAL, message, &value));
  EXPECT_STREQ(message,
               "Extra characters after number.\nExpected a floating point value less than or equal "
               "to inf\n");
  // Both limits are in range.
  for (const char* edge : {"0.5", "2"}) {
    Line line(edge);
    EXPECT_TRUE(u_parse_double_token(line.get(), nullptr, nullptr, 0.5, 2, message, &value)) << edge;
  }
}

// ---- u_parse_string_token

TEST(ParseStringToken, CopiesOrExplains) {
  char dest[11];
  char message[U_PARSE_MESSAGE_SIZE];
  Line line("0123456789 01234567890");
  EXPECT_TRUE(u_parse_string_token(line.get(), nullptr, "label", 10, message, dest));
  EXPECT_STREQ(dest, "0123456789");
  EXPECT_STREQ(message, "");
  EXPECT_FALSE(u_parse_string_token(nullptr, nullptr, "label", 10, message, dest));
  EXPECT_STREQ(dest, "");
  EXPECT_STREQ(message,
               "String longer than maximum of 10 characters.\n"
               "Expected label, a string of up to 10 characters\n");
  EXPECT_FALSE(u_parse_string_token(nullptr, nullptr, "", 10, message, dest));
  EXPECT_STREQ(message, "Missing string.\nExpected a string of up to 10 characters\n");

  // Too small a maximum, or no destination: false without a message.
  Line ab("ab");
  std::strcpy(message, "stale");
  EXPECT_FALSE(u_parse_string_token(ab.get(), nullptr, "x", 1, message, dest));
  EXPECT_STREQ(message, "");
  EXPECT_FALSE(u_parse_string_token(ab.get(), nullptr, "x", 10, message, nullptr));
}

TEST(ParseStringToken, LongDescriptionIsCutToTheBuffer) {
  // The buffer is followed by guard bytes that must stay untouched.
  std::vector<char> message(U_PARSE_MESSAGE_SIZE + 64, '#');
  const std::string description(500, 'd');
  char dest[4];
  Line line("toolong");
  EXPECT_FALSE(
      u_parse_string_token(line.get(), nullptr, description.c_str(), 3, message.data(), dest));
  const std::string text(message.data());
  EXPECT_EQ(text.size(), static_cast<std::size_t>(U_PARSE_MESSAGE_SIZE - 1));
  EXPECT_EQ(text.rfind("String longer than maximum of 3 characters.\nExpected ddd", 0), 0u);
  for (std::size_t i = U_PARSE_MESSAGE_SIZE; i < message.size(); ++i) ASSERT_EQ(message[i], '#');
}

// ---- locale independence

// Sets a locale whose decimal point is a comma, if the system has one.
class CommaLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "German_Germany.1252"}) {
      if (std::setlocale(LC_ALL, name) != nullptr && *std::localeconv()->decimal_point == ',')
        return;
    }
    std::setlocale(LC_ALL, "C");
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(CommaLocale, NumbersUseThePoint) {
  Line line("1.5 1,5");
  double value = 0;
  char message[U_PARSE_MESSAGE_SIZE];
  EXPECT_TRUE(
      u_parse_double_token(line.get(), nullptr, nullptr, -HUGE_VAL, HUGE_VAL, message, &value));
  EXPECT_EQ(value, 1.5);
  EXPECT_FALSE(
      u_parse_double_token(nullptr, nullptr, nullptr, -HUGE_VAL, HUGE_VAL, message, &value));
  EXPECT_EQ(std::string(message).rfind("Extra characters after number.\n", 0), 0u);
}

// ---- prompts

// Feeds answers to a prompt through a file and collects what it prints.
class Prompt : public ::testing::Test {
 protected:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  using File = std::unique_ptr<std::FILE, Closer>;

  void answers(const std::string& text) {
    in_.reset(std::fopen(dir_.file("in.txt").c_str(), "w+b"));
    out_.reset(std::fopen(dir_.file("out.txt").c_str(), "w+b"));
    ASSERT_TRUE(in_ && out_);
    std::fputs(text.c_str(), in_.get());
    std::rewind(in_.get());
  }
  std::string printed() {
    std::string text;
    std::rewind(out_.get());
    for (int c = std::fgetc(out_.get()); c != EOF; c = std::fgetc(out_.get()))
      text += static_cast<char>(c);
    return text;
  }
  std::FILE* in() { return in_.get(); }
  std::FILE* out() { return out_.get(); }

 private:
  TempDir dir_;
  File in_, out_;
};

TEST_F(Prompt, Int) {
  answers("42abc\n\nabc\n99999999999\n -7\n");
  int value = 5;
  EXPECT_TRUE(felbrin::prompt_int(in(), out(), "Count [%d]: ", &value));
  EXPECT_EQ(value, 42);
  EXPECT_FALSE(felbrin::prompt_int(in(), out(), "Count [%d]: ", &value));  // empty
  EXPECT_FALSE(felbrin::prompt_int(in(), out(), nullptr, &value));         // no number
  EXPECT_FALSE(felbrin::prompt_int(in(), out(), nullptr, &value));         // beyond 32 bits
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(felbrin::prompt_int(in(), out(), nullptr, &value));
  EXPECT_EQ(value, -7);
  EXPECT_FALSE(felbrin::prompt_int(in(), out(), nullptr, &value));  // end of input
  EXPECT_EQ(value, -7);
  EXPECT_EQ(printed(), "Count [5]: Count [42]: ");
}

TEST_F(Prompt, ShortKeepsLow16Bits) {
  answers("70000\n-1\n99999999999\n");
  short value = 3;
  EXPECT_TRUE(felbrin::prompt_short(in(), out(), "S=%d? ", &value));
  EXPECT_EQ(value, 4464);
  EXPECT_TRUE(felbrin::prompt_short(in(), out(), "S=%d? ", &value));
  EXPECT_EQ(value, -1);
  EXPECT_FALSE(felbrin::prompt_short(in(), out(), nullptr, &value));
  EXPECT_EQ(value, -1);
  EXPECT_EQ(printed(), "S=3? S=4464? ");
}

TEST_F(Prompt, DoubleAndFloat) {
  answers("2.5xyz\n1,5\nx\n\n0x1p-1\n1e39\n");
  double d = 1;
  EXPECT_TRUE(felbrin::prompt_double(in(), out(), "D=%g: ", &d));
  EXPECT_EQ(d, 2.5);
  EXPECT_TRUE(felbrin::prompt_double(in(), out(), nullptr, &d));  // "1" and ignored text
  EXPECT_EQ(d, 1);
  EXPECT_FALSE(felbrin::prompt_double(in(), out(), nullptr, &d));
  EXPECT_FALSE(felbrin::prompt_double(in(), out(), nullptr, &d));
  EXPECT_EQ(d, 1);
  float f = 0.25f;
  EXPECT_TRUE(felbrin::prompt_float(in(), out(), "F=%g: ", &f));
  EXPECT_EQ(f, 0.5f);
  EXPECT_TRUE(felbrin::prompt_float(in(), out(), nullptr, &f));  // too large for a float
  EXPECT_EQ(f, HUGE_VALF);
  EXPECT_EQ(printed(), "D=1: F=0.25: ");
}

TEST_F(Prompt, YesNo) {
  answers("Yes\nx\nN\n1\n0\nyikes\n\n");
  bool flag = false;
  EXPECT_TRUE(felbrin::prompt_yes_no(in(), out(), "Go (%c)? ", &flag));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(felbrin::prompt_yes_no(in(), out(), "Go (%c)? ", &flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(felbrin::prompt_yes_no(in(), out(), "Go (%c)? ", &flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(felbrin::prompt_yes_no(in(), out(), nullptr, &flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(felbrin::prompt_yes_no(in(), out(), nullptr, &flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(
      felbrin::prompt_yes_no(in(), out(), nullptr, &flag));  // only the first character counts
  EXPECT_TRUE(flag);
  EXPECT_FALSE(felbrin::prompt_yes_no(in(), out(), nullptr, &flag));
  EXPECT_TRUE(flag);
  EXPECT_EQ(printed(), "Go (n)? Go (y)? Go (y)? ");
}

TEST_F(Prompt, String) {
  answers("hello world\r\nabcdefgh\n\nlast");
  char text[8] = "old";
  EXPECT_TRUE(felbrin::prompt_string(in(), out(), "Name [%s]: ", text, 8));
  EXPECT_STREQ(text, "hello w");                                        // cut to length - 1
  EXPECT_FALSE(felbrin::prompt_string(in(), out(), nullptr, text, 0));  // no room at all
  EXPECT_STREQ(text, "hello w");
  EXPECT_TRUE(felbrin::prompt_string(in(), out(), nullptr, text, 3));
  EXPECT_STREQ(text, "ab");
  EXPECT_FALSE(felbrin::prompt_string(in(), out(), nullptr, text, 8));  // empty answer
  EXPECT_STREQ(text, "ab");
  EXPECT_TRUE(felbrin::prompt_string(in(), out(), nullptr, text, 8));  // last line, no line end
  EXPECT_STREQ(text, "last");
  EXPECT_FALSE(felbrin::prompt_string(in(), out(), nullptr, text, 8));
  EXPECT_EQ(printed(), "Name [old]: ");
}

TEST_F(Prompt, LongAnswerDoesNotSpillIntoTheNext) {
  answers(std::string(511, '7') + "\n" + std::string(600, '8') + "\n5\n");
  char text[600];
  EXPECT_TRUE(felbrin::prompt_string(in(), out(), nullptr, text, sizeof text));
  EXPECT_EQ(std::string(text), std::string(511, '7'));
  EXPECT_TRUE(felbrin::prompt_string(in(), out(), nullptr, text, sizeof text));
  EXPECT_EQ(std::string(text), std::string(511, '8'));
  int value = 0;
  EXPECT_TRUE(felbrin::prompt_int(in(), out(), nullptr, &value));
  EXPECT_EQ(value, 5);
}

// ---- u_print_text_file

TEST(PrintTextFile, ListsTerminatedLines) {
  TempDir dir;
  const std::string path = dir.file("list.txt");
  felbrin::test::write_file(path, "first\r\n\nthird\nunterminated");
  {
    LogCapture log;
    u_print_text_file(path.c_str(), "> ");
    EXPECT_EQ(log.str(), "> first\n> \n> third\n");
  }
  {
    LogCapture log;
    u_print_text_file(path.c_str(), nullptr);
    EXPECT_EQ(log.str(), "first\n\nthird\n");
  }
}

TEST(PrintTextFile, StopsAtALineOver511Characters) {
  TempDir dir;
  const std::string path = dir.file("long.txt");
  felbrin::test::write_file(path,
                            std::string(511, 'a') + "\n" + std::string(512, 'b') + "\nafter\n");
  LogCapture log;
  u_print_text_file(path.c_str(), "");
  EXPECT_EQ(log.str(), std::string(511, 'a') + "\n");
}

TEST(PrintTextFile, MissingFile) {
  TempDir dir;
  const std::string path = dir.file("none.txt");
  LogCapture log;
  u_print_text_file(path.c_str(), "x");
  EXPECT_EQ(log.str(), "Cannot read file " + path + "\n");
}

}  // namespace
