#include "common/errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/util.h"
#include "support/log_capture.h"

namespace {

TEST(ErrorNames, TableAndLookup) {
  EXPECT_STREQ(err_table[0], "");
  EXPECT_STREQ(err_table[27], "ERR_ALL_BAD_DATA");
  EXPECT_STREQ(err_table[120], "ERR_CANT_OPEN_FILE");
  EXPECT_STREQ(err_table[242], "ERR_INVALID_PARAM");
  EXPECT_STREQ(err_table[308], "ERR_FELBRIN_ABORTED");
  EXPECT_STREQ(err_table[462], "ERR_ZOOM_TIMEOUT");
  EXPECT_EQ(ERR_NO_MEM, 320);
  EXPECT_EQ(ERR_CORRUPT_DATA_FILE, 134);

  EXPECT_STREQ(err_name(0), "NO_ERROR");
  EXPECT_STREQ(err_name(462), "ERR_ZOOM_TIMEOUT");
  EXPECT_STREQ(err_name(463), "invalid error number 463");
  EXPECT_STREQ(err_name(-5), "invalid error number -5");
  EXPECT_STREQ(err_name(INT32_MIN), "invalid error number -2147483648");
  EXPECT_STREQ(err_name_of(1), "ERR_AC_CANT_AGC");
}

TEST(ErrorNames, EveryEntryIsAnUpperCaseErrName) {
  for (int code = 1; code < ERR_TABLE_SIZE; ++code) {
    const std::string name = err_table[code];
    ASSERT_EQ(name.rfind("ERR_", 0), 0u) << code;
    for (char c : name) ASSERT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') << name;
  }
}

TEST(ErrorNames, SharedBufferIsOverwrittenByTheNextCall) {
  const char* first = err_name(120);
  const char* second = err_name(125);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "ERR_CANT_WRITE_FILE");
}

TEST(ErrorLog, LogsNamesOfNonZeroCodesOnly) {
  felbrin::test::LogCapture log;
  err_log(0);
  err_log(ERR_NO_MEM);
  err_log(999);
  err_log_exit(0);  // does nothing for success
  EXPECT_EQ(log.str(), "ERR_NO_MEM\ninvalid error number 999\n");
}

TEST(SystemErrors, OneLineTextOrFallback) {
  char text[U_SYSTEM_ERROR_TEXT_SIZE];
  u_system_error_text(2, text);  // "file not found" on both systems
  EXPECT_GT(std::strlen(text), 0u);
  EXPECT_EQ(std::strpbrk(text, "\r\n"), nullptr) << text;

  u_system_error_text(0x2345ABCD, text);
  EXPECT_STREQ(text, "System error code 0x2345ABCD");

  felbrin::test::LogCapture log;
  u_log_system_error(0x2345ABCD);
  EXPECT_EQ(log.str(), "System error code 0x2345ABCD\n");
}

TEST(SwapBytes, ReversesTwoFourAndEightBytes) {
  unsigned char four[] = {0x88, 0x1B, 0x03, 0x6F};
  u_swap_bytes(four, 4);
  EXPECT_EQ(four[0], 0x6F);
  EXPECT_EQ(four[1], 0x03);
  EXPECT_EQ(four[2], 0x1B);
  EXPECT_EQ(four[3], 0x88);
  unsigned char two[] = {0x12, 0x34};
  u_swap_bytes(two, 2);
  EXPECT_EQ(two[0], 0x34);
  EXPECT_EQ(two[1], 0x12);
  unsigned char eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
  u_swap_bytes(eight, 8);
  EXPECT_EQ(std::memcmp(eight, "\x08\x07\x06\x05\x04\x03\x02\x01", 8), 0);
}

// Death tests start the test program again for each case, which costs
// seconds under Wine; the code under test is the same on every platform, so
// they run on POSIX only.
#ifndef _WIN32
TEST(SwapBytesDeathTest, OtherSizesAbort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  unsigned char three[3] = {};
  EXPECT_DEATH(u_swap_bytes(three, 3), "u_swap_bytes: n=3");
}

TEST(ErrorLogDeathTest, ExitLogsAndEndsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(err_log_exit(ERR_CANT_OPEN_FILE), ::testing::ExitedWithCode(1), "ERR_CANT_OPEN_FILE");
}
#endif

}  // namespace
