// The character source: push-back, end of input, and CR LF folding over
// files and memory, also where the pair straddles two buffer fills.
#include "instrument/calibration/char_source.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

using felbrin::CalCharSource;
using felbrin::test::TempDir;

std::string drain(CalCharSource& src) {
  std::string out;
  for (int c = src.get(); c != CalCharSource::kEof; c = src.get()) out += static_cast<char>(c);
  return out;
}

TEST(CalCharSource, ReadsTextWithOnePushBack) {
  CalCharSource src = CalCharSource::from_text("ab");
  EXPECT_EQ(src.get(), 'a');
  src.unget('a');
  EXPECT_EQ(src.get(), 'a');
  EXPECT_EQ(src.get(), 'b');
  EXPECT_FALSE(src.eof());
  EXPECT_EQ(src.get(), CalCharSource::kEof);
  EXPECT_TRUE(src.eof());
  src.unget(CalCharSource::kEof);  // ignored
  EXPECT_EQ(src.get(), CalCharSource::kEof);
  src.unget('b');
  EXPECT_FALSE(src.eof());
  EXPECT_EQ(src.get(), 'b');
  EXPECT_EQ(src.get(), CalCharSource::kEof);
}

TEST(CalCharSource, HighBytesAreNotEndOfInput) {
  CalCharSource src = CalCharSource::from_text("\xff\x80");
  EXPECT_EQ(src.get(), 0xff);
  EXPECT_EQ(src.get(), 0x80);
  EXPECT_EQ(src.get(), CalCharSource::kEof);
}

TEST(CalCharSource, FoldsCrLfInMemory) {
  CalCharSource src = CalCharSource::from_text("a\r\nb\rc\r\r\n\r");
  EXPECT_EQ(drain(src), "a\nb\rc\r\n\r");
}

TEST(CalCharSource, FoldsCrLfInFiles) {
  TempDir dir;
  const std::string path = dir.file("crlf.cal");
  felbrin::test::write_file(path, std::string_view("Unit 3\r\nZoom 2\r\n\r\nx\ry"));
  std::optional<CalCharSource> src = CalCharSource::open_file(path.c_str());
  ASSERT_TRUE(src.has_value());
  EXPECT_EQ(drain(*src), "Unit 3\nZoom 2\n\nx\ry");
  EXPECT_FALSE(src->read_error());
}

TEST(CalCharSource, FoldsAPairAcrossBufferFills) {
  TempDir dir;
  const std::string path = dir.file("long.cal");
  std::string text;
  // Pairs at every offset around the first few fill boundaries.
  for (int i = 0; i < 5000; ++i) text += "abcdef\r\n";
  felbrin::test::write_file(path, text);
  std::optional<CalCharSource> src = CalCharSource::open_file(path.c_str());
  ASSERT_TRUE(src.has_value());
  std::string expected;
  for (int i = 0; i < 5000; ++i) expected += "abcdef\n";
  EXPECT_EQ(drain(*src), expected);
}

TEST(CalCharSource, MissingFileGivesNothing) {
  TempDir dir;
  EXPECT_FALSE(CalCharSource::open_file(dir.file("absent.cal").c_str()).has_value());
}

TEST(CalCharSource, OpensMarkedWidePaths) {
  TempDir dir;
  const auto p = dir.path() / u8"kal\u00e9.cal";
  felbrin::test::write_file(p, std::string_view("x\r\n"));
  const std::string marked = felbrin::test::marked(p);
  std::optional<CalCharSource> src = CalCharSource::open_file(marked.c_str());
  ASSERT_TRUE(src.has_value());
  EXPECT_EQ(drain(*src), "x\n");
}

}  // namespace
