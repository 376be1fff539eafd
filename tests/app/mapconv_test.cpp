// The converter command: arguments, messages and exit codes.
#include "app/mapconv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"
#include "tools/datafile_builder.h"

namespace {

using felbrin::test::read_file;
using felbrin::test::TempDir;

const char kUsage[] =
    "\nUsage:  mapconv [options] input output\n"
    "\tinput  = existing Trel binary data file\n"
    "\toutput = Trel ascii data file to create\n"
    "\n\tOptions:\n"
    "\t\t-f\twrites output even if file already exists\n";

class Mapconv : public ::testing::Test {
 protected:
  // Runs the command; returns the exit code and keeps the messages.
  int run(std::vector<std::string> args) {
    std::vector<const char*> argv{"mapconv"};
    for (const auto& a : args) argv.push_back(a.c_str());
    const auto log = dir_.path() / "stderr.txt";
    std::FILE* err = std::fopen(log.string().c_str(), "wb");
    const int rc = mapconv::run(static_cast<int>(argv.size()), argv.data(), err);
    std::fclose(err);
    messages = read_file(log);
    return rc;
  }

  std::string sample() {
    felbrin::tools::DataFileLayout s;
    s.phase_width = 2, s.phase_height = 2;
    s.phase = {10, 20, MX_INVALID_I32, 30};
    const std::string path = dir_.file("in.dat");
    felbrin::test::write_file(path, felbrin::tools::build_data_file(s));
    return path;
  }

  TempDir dir_;
  std::string messages;
};

TEST_F(Mapconv, UsageErrors) {
  const std::string in = sample();
  const std::string out = dir_.file("out.txt");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {in}, {"-f", "-f"}, {in, out, "c"}, {"-x", in, out}, {"-", in, out}, {"-f", in}}) {
    EXPECT_EQ(run(args), mapconv::kUsage);
    EXPECT_EQ(messages, kUsage);
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(Mapconv, ConvertsAndHonoursForce) {
  const std::string in = sample();
  const std::string out = dir_.file("out.txt");
  ASSERT_EQ(run({in, out}), mapconv::kDone);
  EXPECT_EQ(messages, "Converting \"" + in + "\" to \"" + out + "\"\nConversion from \"" + in +
                          "\" to \"" + out + "\" successful\n");
  EXPECT_EQ(read_file(out), felbrin::test::native_lines("3\n0 0 0\n1 0 0.5\n1 1 1\n10\n20\n"));

  EXPECT_EQ(run({in, out}), mapconv::kOutputExists);
  EXPECT_EQ(messages, "Unable to convert \"" + in + "\" to \"" + out + "\" because...\n\t\"" +
                          out + "\" already exists\n");

  felbrin::test::write_file(out, "old");
  EXPECT_EQ(run({in, out, "-f"}), mapconv::kDone);
  EXPECT_EQ(run({"-fxyz", in, out}), mapconv::kDone);  // only the letter after '-' counts
  EXPECT_EQ(read_file(out), felbrin::test::native_lines("3\n0 0 0\n1 0 0.5\n1 1 1\n10\n20\n"));
}

TEST_F(Mapconv, MissingInput) {
  const std::string in = dir_.file("nothing.dat");
  const std::string out = dir_.file("out.txt");
  EXPECT_EQ(run({in, out}), mapconv::kNoInput);
  EXPECT_EQ(messages, "Unable to convert \"" + in + "\" to \"" + out + "\" because...\n\t\"" +
                          in + "\" does not exist\n");
  EXPECT_EQ(run({dir_.path().string(), out}), mapconv::kNoInput);  // a directory
}

TEST_F(Mapconv, ReaderAndWriterErrorsNameTheCode) {
  const std::string bad = dir_.file("bad.dat");
  felbrin::test::write_file(bad, "not a data file");
  const std::string out = dir_.file("out.txt");
  EXPECT_EQ(run({bad, out}), mapconv::kReadFailed);
  EXPECT_EQ(messages, "Converting \"" + bad + "\" to \"" + out +
                          "\"\nUnable to convert \"" + bad + "\" to \"" + out +
                          "\" because...\n\tthere was an error reading the file \"" + bad +
                          "\"\n\tERR_NOT_A_DATA_FILE\n");

  // No phase block: the output is created empty and the writer refuses.
  const std::string nophase = dir_.file("nophase.dat");
  felbrin::test::write_file(nophase, felbrin::tools::build_data_file({}));
  EXPECT_EQ(run({nophase, out}), mapconv::kWriteFailed);
  EXPECT_NE(messages.find("\tthere was an error writing to the file \"" + out +
                          "\"\n\tERR_IMPROPER_WINDOW\n"),
            std::string::npos);
  EXPECT_EQ(read_file(out), "");

  felbrin::tools::DataFileLayout s;
  s.phase_width = 1, s.phase_height = 2;
  s.phase = {MX_INVALID_I32, MX_INVALID_I32 + 3};
  const std::string allbad = dir_.file("allbad.dat");
  felbrin::test::write_file(allbad, felbrin::tools::build_data_file(s));
  EXPECT_EQ(run({allbad, out, "-f"}), mapconv::kWriteFailed);
  EXPECT_NE(messages.find("\tERR_ALL_BAD_DATA\n"), std::string::npos);
  EXPECT_EQ(read_file(out), "");

  // The output names a directory: it does not exist as a file and cannot be created.
  EXPECT_EQ(run({sample(), dir_.path().string()}), mapconv::kWriteFailed);
  EXPECT_NE(messages.find("\tERR_CANT_CREATE_FILE\n"), std::string::npos);
}

TEST_F(Mapconv, WidePathsArePrintedAsUtf8) {
  const auto in = dir_.path() / u8"\u00e9t\u00e9.dat";
  const auto out = dir_.path() / u8"\u6837\u672c.txt";
  std::filesystem::copy_file(sample(), in);
  const std::string in_arg = felbrin::test::marked(in);
  const std::string out_arg = felbrin::test::marked(out);
  ASSERT_EQ(run({in_arg, out_arg}), mapconv::kDone);
  const std::u8string in8 = in.u8string(), out8 = out.u8string();
  EXPECT_NE(messages.find("Conversion from \"" + std::string(in8.begin(), in8.end()) + "\" to \"" +
                          std::string(out8.begin(), out8.end()) + "\" successful\n"),
            std::string::npos);
  EXPECT_EQ(read_file(out), felbrin::test::native_lines("3\n0 0 0\n1 0 0.5\n1 1 1\n10\n20\n"));
}

TEST(MapconvArguments, Utf16OperandsBecomeMarkedPathsOptionsStayText) {
  const std::u16string in = u"\u00e9t\u00e9.dat", out = u"out.txt", opt = u"-f\u00e9";
  const std::u16string_view args[] = {u"mapconv", opt, in, out};
  const auto a = mapconv::Arguments::from_utf16(args);
  ASSERT_EQ(a.argc(), 4);
  EXPECT_STREQ(a.argv()[0], "mapconv");
  EXPECT_STREQ(a.argv()[1], "-f\xC3\xA9");  // an option, whatever follows the letter
  EXPECT_STREQ(a.argv()[3], "out.txt");
  const char* marked = a.argv()[2];
  ASSERT_TRUE(plat::is_wide_marked(marked));
  EXPECT_EQ(plat::wide_units(marked), in);
}

TEST(MapconvArguments, NarrowBytesThatLookMarkedAreMadeSafe) {
  const char looks_marked[] = "\xFF\xFE" "a";  // no zero unit after the 'a'
  const char* args[] = {"mapconv", looks_marked, "plain"};
  const auto a = mapconv::Arguments::from_narrow(args);
  ASSERT_EQ(a.argc(), 3);
  EXPECT_STREQ(a.argv()[2], "plain");
  ASSERT_TRUE(plat::is_wide_marked(a.argv()[1]));
  EXPECT_EQ(plat::wide_units(a.argv()[1]), std::u16string(u"\uFFFD\uFFFDa"));
}

}  // namespace
