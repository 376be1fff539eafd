// Structure dumps, compared as exact text on every platform; the checksum
// and the hex texts.
#include "data/dumps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using felbrin::test::native_lines;
using felbrin::test::read_file;
using felbrin::test::TempDir;

// What a printer writes to a real (text-mode) file stream.
std::string capture(const std::function<void(std::FILE*)>& print) {
  TempDir dir;
  const std::string path = dir.file("dump.txt");
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot create " << path;
    return {};
  }
  print(f);
  std::fclose(f);
  return read_file(path);
}

// The printers show the low 32 bits of an address in eight digits.
std::string address(const void* p) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%8.8X",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p) & 0xFFFFFFFFu));
  return text;
}

const char* const kWindow0044 =
    "x      =    0\n"
    "y      =    0\n"
    "width  =    4\n"
    "height =    4\n";

// ---- checksum and hex texts

TEST(Crc, IsTheReflectedTableStartedAtZeroAndNotInverted) {
  EXPECT_EQ(u_crc(3, "abc"), 0xCA6598D0u);
  EXPECT_EQ(u_crc(0, "abc"), 0u);
  EXPECT_EQ(u_crc(0, nullptr), 0u);
  std::vector<uint8_t> bytes(32);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(u_crc(bytes.size(), bytes.data()), 0x882C2B27u);
}

TEST(HexText, BitPatternsAndByteWalks) {
  EXPECT_STREQ(u_float_hex(1.0f), "0x3F800000");
  EXPECT_STREQ(u_float_hex(-2.5f), "0xC0200000");
  EXPECT_STREQ(u_double_hex(1.0), "0x3FF0000000000000");
  EXPECT_STREQ(u_double_hex(-0.0), "0x8000000000000000");

  const uint8_t bytes[] = {0x01, 0xAB, 0xFF};
  EXPECT_STREQ(u_hex_text(bytes, 3, 1), "0x01ABFF");
  EXPECT_STREQ(u_hex_text(bytes + 2, 3, -1), "0xFFAB01");
  EXPECT_STREQ(u_hex_text(bytes, 2, 2), "0x01FF");
  EXPECT_STREQ(u_hex_text(bytes, 0, 1), "0x");

  std::vector<uint8_t> many(49, 0x5A);
  std::string all48 = "0x";
  for (int i = 0; i < 48; ++i) all48 += "5A";
  EXPECT_EQ(u_hex_text(many.data(), 48, 1), all48);
  EXPECT_STREQ(u_hex_text(many.data(), 49, 1), "0x*");
}

TEST(PhaseResName, NamesAndUnknownCodes) {
  EXPECT_STREQ(u_phase_res_name(0), "LO (0)");
  EXPECT_STREQ(u_phase_res_name(1), "HI (1)");
  EXPECT_STREQ(u_phase_res_name(2), "SUPER (2)");
  EXPECT_STREQ(u_phase_res_name(7), "UNKNOWN (7)");
  EXPECT_STREQ(u_phase_res_name(-1), "UNKNOWN (-1)");
}

// ---- byte and value dumps

TEST(DumpBytes, TenToALineInEachStyle) {
  uint8_t twelve[12];
  for (int i = 0; i < 12; ++i) twelve[i] = static_cast<uint8_t>(i);
  int n = -1;
  EXPECT_EQ(capture([&](std::FILE* f) { n = dump_bytes(f, twelve, 12, U_BYTES_HEX); }),
            native_lines("    0 00 01 02 03 04 05 06 07 08 09\n"
                         "   10 0a 0b\n"));
  EXPECT_EQ(n, 12);

  const uint8_t few[] = {0, 7, 255};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_bytes(f, few, 3, U_BYTES_DECIMAL); }),
            native_lines("    0   0   7 255\n"));
  EXPECT_EQ(capture([&](std::FILE* f) { dump_bytes(f, few, 3, U_BYTES_OCTAL); }),
            native_lines("    0 000 007 377\n"));
  const uint8_t bits[] = {0x81, 0x05};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_bytes(f, bits, 2, U_BYTES_BINARY); }),
            native_lines("    0 10000001 00000101\n"));
  EXPECT_EQ(capture([&](std::FILE* f) { dump_bytes(f, few, 3, 9); }),
            native_lines("    0   0   7 255\n"));
  // A full line ends once.
  EXPECT_EQ(capture([&](std::FILE* f) { dump_bytes(f, twelve, 10, U_BYTES_HEX); }),
            native_lines("    0 00 01 02 03 04 05 06 07 08 09\n"));
  EXPECT_EQ(capture([&](std::FILE* f) { n = dump_bytes(f, twelve, 0, U_BYTES_HEX); }), "");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(capture([&](std::FILE* f) { n = dump_bytes(f, nullptr, 4, U_BYTES_HEX); }),
            native_lines("NULL\n"));
  EXPECT_EQ(n, 0);
}

TEST(DumpValuePairs, LargestFloatShowsAsAsterisks) {
  const float pairs[] = {FLT_MAX, 2.5f, -1234.56789f, FLT_MAX, 1e10f, 0.0f, INFINITY, -FLT_MAX};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_value_pairs(f, 4, pairs); }),
            native_lines("********************                   2.5000\n"
                         "          -1234.5679     ********************\n"
                         "    10000000000.0000                   0.0000\n"
                         "********************     "
                         "-340282346638528859811704183484516925440.0000\n"));
  EXPECT_EQ(capture([&](std::FILE* f) { dump_value_pairs(f, 0, pairs); }), "");
  EXPECT_EQ(capture([&](std::FILE* f) { dump_value_pairs(f, 1, nullptr); }),
            native_lines("NULL\n"));
}

TEST(DumpRegions, OneLinePerRegion) {
  const mx_region_t regions[] = {{1, 250, 3, 4, 120, 99, 7}, {12, 123456, 0, 0, 1000, 5, -1}};
  int n = -1;
  EXPECT_EQ(capture([&](std::FILE* f) { n = dump_regions(f, regions, 2); }),
            native_lines("region=  1  npoints=  250  xmin=  3  ymin=  4  xmax=120  ymax= 99  "
                         "dist=  7\n"
                         "region= 12  npoints=123456  xmin=  0  ymin=  0  xmax=1000  ymax=  5  "
                         "dist= -1\n"));
  EXPECT_EQ(n, 2);
  EXPECT_EQ(capture([&](std::FILE* f) { n = dump_regions(f, nullptr, 2); }),
            native_lines("NULL\n"));
  EXPECT_EQ(n, 0);
}

// ---- matrices

TEST(DumpMatrix, WindowAddressAndChecksum) {
  EXPECT_EQ(capture([](std::FILE* f) {
              const wn_window_t w{1, -2, 300, 40};
              dump_window(f, &w);
            }),
            native_lines("x      =    1\n"
                         "y      =   -2\n"
                         "width  =  300\n"
                         "height =   40\n"));

  std::vector<uint16_t> v16(16);
  for (int i = 0; i < 16; ++i) v16[i] = static_cast<uint16_t>(i);
  mx_u16_t u{16, {0, 0, 4, 4}, v16.data()};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mx16(f, &u); }),
            native_lines(std::string("size   = 16\n") + kWindow0044 +
                         "matrix = " + address(v16.data()) + "\ncrc    = 0xC93A1410\n"));

  // The bucket matrix sums its first frame only.
  mx_bkt16_t b{12, {0, 0, 2, 2}, 3, 0, v16.data()};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mx16(f, &b); }),
            native_lines("size   = 12\n"
                         "x      =    0\n"
                         "y      =    0\n"
                         "width  =    2\n"
                         "height =    2\n"
                         "matrix = " +
                         address(v16.data()) + "\ncrc    = 0x4A7848ED\n"));

  std::vector<int32_t> v32(8);
  for (int i = 0; i < 8; ++i) v32[i] = i * 1000 - 3000;
  mx_i32_t p{8, {7, 9, 2, 4}, v32.data()};
  const std::string p_text = capture([&](std::FILE* f) { dump_mx32(f, &p); });
  EXPECT_EQ(p_text, native_lines("size   = 8\n"
                                 "x      =    7\n"
                                 "y      =    9\n"
                                 "width  =    2\n"
                                 "height =    4\n"
                                 "matrix = " +
                                 address(v32.data()) + "\ncrc    = 0x592CA76E\n"));
  mx_w32_t w{8, {7, 9, 2, 4}, reinterpret_cast<uint32_t*>(v32.data())};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mx32(f, &w); }), p_text);
}

TEST(DumpMatrix, ChecksumStaysInsideTheBuffer) {
  // A window larger than the buffer: only the buffer is summed.
  std::vector<uint16_t> four = {0, 1, 2, 3};
  mx_u16_t u{4, {0, 0, 4, 4}, four.data()};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mx16(f, &u); }),
            native_lines(std::string("size   = 4\n") + kWindow0044 +
                         "matrix = " + address(four.data()) + "\ncrc    = 0x4A7848ED\n"));
  // No buffer, or nothing to sum: no checksum line.
  mx_i32_t none{0, {0, 0, 4, 4}, nullptr};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mx32(f, &none); }),
            native_lines(std::string("size   = 0\n") + kWindow0044 + "matrix = 0x00000000\n"));
  mx_u16_t empty{4, {0, 0, 0, 4}, four.data()};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mx16(f, &empty); }),
            native_lines("size   = 4\n"
                         "x      =    0\n"
                         "y      =    0\n"
                         "width  =    0\n"
                         "height =    4\n"
                         "matrix = " +
                         address(four.data()) + "\n"));
}

TEST(DumpMatrix, MaskBits) {
  std::vector<uint8_t> bytes(8);
  mx_mask8_t m{8, {0, 0, 4, 2}, 0x0F, bytes.data()};
  const std::string head =
      "size = 8\n"
      "x      =    0\n"
      "y      =    0\n"
      "width  =    4\n"
      "height =    2\n"
      "matrix = " +
      address(bytes.data()) + "\n";
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mask(f, &m); }), native_lines(head + "bits = 0x0f\n"));
  m.bits = 0;
  EXPECT_EQ(capture([&](std::FILE* f) { dump_mask(f, &m); }), native_lines(head + "bits = 00\n"));
}

// ---- frame queues

std::string queue_text(const mx_queue_t& q, const char* crc_line) {
  return native_lines(std::string("alloc_size       = 96\n"
                                  "[ alloc_win\n"
                                  "x      =    0\n"
                                  "y      =    0\n"
                                  "width  =    8\n"
                                  "height =    8\n"
                                  "] alloc_win\n"
                                  "alloc_blocks     = 3\n"
                                  "alloc_blocksize  = 32\n"
                                  "alloc_elem_size  = 2\n"
                                  "elem_size        = 2\n"
                                  "elem_res         = 1\n"
                                  "size             = 96\n"
                                  "blocksize        = 32\n"
                                  "n_blocks         = 3\n"
                                  "[ window\n") +
                      kWindow0044 + "] window\n[ stored\n" + kWindow0044 +
                      "] stored\n"
                      "matrix           = " +
                      address(q.matrix) +
                      "\n"
                      "qsize            = 3\n"
                      "n_buckets        = 3\n" +
                      crc_line);
}

TEST(DumpQueue, SeparateBlocksSumLikeTheSharedBuffer) {
  for (const bool separate : {false, true}) {
    mx_queue_t q{};
    q.separate = separate;
    const wn_window_t w{0, 0, 4, 4};
    ASSERT_EQ(mx_queue_alloc(&q, &w, 3, 2, 1), 0);
    for (int i = 0; i < 96; ++i) q.blocks[i / 32][i % 32] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(capture([&](std::FILE* f) { dump_queue(f, &q); }),
              queue_text(q, "crc    = 0x61FE7C6B\n"))
        << "separate " << separate;
    mx_queue_release(&q);
  }
}

TEST(DumpQueue, ReleasedQueueHasNoChecksum) {
  mx_queue_t q{};
  q.separate = 1;
  const wn_window_t w{0, 0, 4, 4};
  ASSERT_EQ(mx_queue_alloc(&q, &w, 3, 2, 1), 0);
  mx_queue_release(&q);
  const std::string text = capture([&](std::FILE* f) { dump_queue(f, &q); });
  EXPECT_EQ(text.find("crc"), std::string::npos);
  EXPECT_NE(text.find("matrix           = 0x00000000"), std::string::npos);
}

// ---- settings and fits (floating point formatted alike everywhere)

TEST(DumpSettings, AcquisitionSettings) {
  mx_acq_settings_t s{0x1F, 5,   -2, 200, 300, 301, -7, 0.0005, 0.125, 1,
                      -40,  100, 12, 3,   4,   1,   16, 0,      1};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_acq_settings(f, &s); }),
            native_lines("mask           = 0x00001f\n"
                         "n_buckets      = 5\n"
                         "ramp_mux       = -2\n"
                         "ramp_cal       = 200\n"
                         "ramp_gain      = 300\n"
                         "ramp_gain_dflt = 301\n"
                         "sfac_limit     = -7\n"
                         "target_intens  = 0.001\n"
                         "target_range   = 0.125\n"
                         "sw_llc         = 1\n"
                         "light_level    = -40\n"
                         "min_mod        = 100\n"
                         "min_mod_count  = 12\n"
                         "n_sat_skip     = 3\n"
                         "n_bright_skip  = 4\n"
                         "do_avg         = 1\n"
                         "avg_count      = 16\n"
                         "avg_keep_sat   = 0\n"
                         "awm_enable     = 1\n"));
  s.mask = 0;
  s.target_intens = 1234.5;
  const std::string text = capture([&](std::FILE* f) { dump_acq_settings(f, &s); });
  EXPECT_NE(text.find("mask           = 000000"), std::string::npos);
  EXPECT_NE(text.find("target_intens  = 1234.500"), std::string::npos);
}

TEST(DumpSettings, PhaseSettingsWithTheirBitPatterns) {
  mx_phase_settings_t s{3, -1, 2, 10, 100000, 1e-5f, 4, 0.1f, 123456789.0f, 1, nullptr};
  const std::string tail =
      "discon_action   = 4\n"
      "discon_filter   = 0.1 (0x3DCCCCCD)\n"
      "noise_thresh    = 1.23457e+08 (0x4CEB79A3)\n"
      "order_by_size   = 1\n"
      "ref_mask:[\n";
  const std::string head =
      "algorithm       = 3\n"
      "type            = -1\n"
      "phase_res       = SUPER (2)\n"
      "min_area_pixels = 10\n"
      "max_area_pixels = 100000\n"
      "pre_filter      = 1e-05 (0x3727C5AC)\n";
  EXPECT_EQ(capture([&](std::FILE* f) { dump_phase_settings(f, &s); }),
            native_lines(head + tail + "NULL\n]\n"));
  std::vector<uint8_t> bytes(4);
  mx_mask8_t mask{4, {0, 0, 1, 1}, 1, bytes.data()};
  s.ref_mask = &mask;
  EXPECT_EQ(capture([&](std::FILE* f) { dump_phase_settings(f, &s); }),
            native_lines(head + tail +
                         "size = 4\n"
                         "x      =    0\n"
                         "y      =    0\n"
                         "width  =    1\n"
                         "height =    1\n"
                         "matrix = " +
                         address(bytes.data()) + "\nbits = 0x01\n]\n"));
}

TEST(DumpFits, SurfaceFit) {
  mx_fit_t fit{MX_FIT_SPHERE, 1e20, -0.00005, 0.00015, 2.5, -3.25, 1234567.891, 0, -3, 32767};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_fit(f, &fit); }),
            native_lines("type      =     sphere\n"
                         "offset    = 100000000000000000000.0000\n"
                         "x_coef    =    -0.0001\n"
                         "y_coef    =     0.0001\n"
                         "x2y2_coef =     2.5000\n"
                         "xy_coef   =    -3.2500\n"
                         "x2_coef   = 1234567.8910\n"
                         "y2_coef   =     0.0000\n"
                         "center_x  =         -3\n"
                         "center_y  =      32767\n"));
  const char* names[] = {"    piston", "     plane", "    sphere", "  cylinder", "   unknown"};
  for (int type = 0; type < 5; ++type) {
    fit.type = type == 4 ? 9 : type;
    const std::string text = capture([&](std::FILE* f) { dump_fit(f, &fit); });
    EXPECT_EQ(text.substr(0, 22), "type      = " + std::string(names[type])) << type;
  }
}

TEST(DumpFits, AllSurfacesFit) {
  mx_fit_all_t fit{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -14.00006};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_fit_all(f, &fit); }),
            native_lines("pst_offset    =     1.0000\n"
                         "pln_offset    =     2.0000\n"
                         "pln_x_coef    =     3.0000\n"
                         "pln_y_coef    =     4.0000\n"
                         "sph_offset    =     5.0000\n"
                         "sph_x_coef    =     6.0000\n"
                         "sph_y_coef    =     7.0000\n"
                         "sph_x2y2_coef =     8.0000\n"
                         "cyl_offset    =     9.0000\n"
                         "cyl_x_coef    =    10.0000\n"
                         "cyl_y_coef    =    11.0000\n"
                         "cyl_xy_coef   =    12.0000\n"
                         "cyl_x2_coef   =    13.0000\n"
                         "cyl_y2_coef   =   -14.0001\n"));
}

TEST(DumpFits, LineFit) {
  mx_line_fit_t fit{MX_LINE_FIT_PARABOLA, 0.5, -1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_line_fit(f, &fit); }),
            native_lines("type      =   parabola\n"
                         "offset    =     0.5000\n"
                         "x_coef    =    -1.0000\n"
                         "x2_coef   =     2.0000\n"
                         "x3_coef   =     3.0000\n"
                         "x4_coef   =     4.0000\n"
                         "x0        =          1\n"
                         "y0        =          2\n"
                         "x1        =          3\n"
                         "y1        =          4\n"
                         "x2        =          5\n"
                         "y2        =          6\n"
                         "xn        =          7\n"
                         "yn        =          8\n"
                         "length    =          9\n"
                         "npoints   =         10\n"));
  fit.type = MX_LINE_FIT_LINE;
  EXPECT_EQ(capture([&](std::FILE* f) { dump_line_fit(f, &fit); }).substr(0, 22),
            "type      =       line");
  fit.type = -1;
  EXPECT_EQ(capture([&](std::FILE* f) { dump_line_fit(f, &fit); }).substr(0, 22),
            "type      =    unknown");
}

TEST(DumpFits, Statistics) {
  mx_stats_t s{300, 200, -100, 1234567.0, 1, 2, 3, 4, 5};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_stats(f, &s); }),
            native_lines("pv       =      300\n"
                         "peak     =      200\n"
                         "valley   =     -100\n"
                         "mean     = 1.23457e+06\n"
                         "peak_x   =        1\n"
                         "peak_y   =        2\n"
                         "valley_x =        3\n"
                         "valley_y =        4\n"
                         "npoints  =        5\n"));
  s.mean = 0.5;
  EXPECT_NE(capture([&](std::FILE* f) { dump_stats(f, &s); }).find("mean     =      0.5"),
            std::string::npos);
}

TEST(DumpFits, PolynomialCountIsHeldToItsArray) {
  mx_poly_t p{};
  p.count = 3;
  p.coef[0] = 1;
  p.coef[1] = -0.5;
  p.coef[2] = 12345.67891;
  p.center_x = 5;
  p.center_y = -6;
  p.radius2 = 1000000;
  EXPECT_EQ(capture([&](std::FILE* f) { dump_poly(f, &p); }), native_lines("coef[ 0] =     1.0000\n"
                                                                           "coef[ 1] =    -0.5000\n"
                                                                           "coef[ 2] = 12345.6789\n"
                                                                           "center_x =   5\n"
                                                                           "center_y =  -6\n"
                                                                           "radius2  = 1000000\n"));
  auto lines = [&] {
    const std::string text = capture([&](std::FILE* f) { dump_poly(f, &p); });
    return std::count(text.begin(), text.end(), '\n');
  };
  p.count = 40;
  EXPECT_EQ(lines(), 37 + 3);
  const std::string text = capture([&](std::FILE* f) { dump_poly(f, &p); });
  EXPECT_NE(text.find("coef[36] ="), std::string::npos);
  EXPECT_EQ(text.find("coef[37]"), std::string::npos);
  p.count = -1;
  EXPECT_EQ(lines(), 3);
}

TEST(DumpFits, CoefficientTableRowsFromZero) {
  mx_coef_table_t t{};
  t.unity = 2.5;  // a tie: rounds to even
  for (int c = 0; c < MX_COEF_COLUMNS; ++c) {
    for (int r = 0; r < MX_COEF_ROWS; ++r) t.coef[c][r] = c * 100 + r + 0.25;
  }
  const std::string text = capture([&](std::FILE* f) { dump_coef_table(f, &t); });
  const std::string expected_start = native_lines(
      "unity  =      2\n"
      " 0      0.2500   100.2500   200.2500   300.2500\n"
      " 1      1.2500   101.2500   201.2500   301.2500\n");
  EXPECT_EQ(text.substr(0, expected_start.size()), expected_start);
  const std::string expected_end =
      native_lines("29     29.2500   129.2500   229.2500   329.2500\n");
  ASSERT_GE(text.size(), expected_end.size());
  EXPECT_EQ(text.substr(text.size() - expected_end.size()), expected_end);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 31);
}

TEST(DumpFits, FiducialFit) {
  mx_fiducial_fit_t fit{0.5, -1e-300, 1e6, 100000, 0.0001, 1.0 / 3, -2, 0, 7e22, NAN, 4};
  EXPECT_EQ(capture([&](std::FILE* f) { dump_fiducial_fit(f, &fit); }),
            native_lines("Asin  = 0.5\n"
                         "Acos  = -1e-300\n"
                         "r1    = 1e+06\n"
                         "r2    = 100000\n"
                         "r3    = 0.0001\n"
                         "r4    = 0.333333\n"
                         "xoff  = -2\n"
                         "yoff  = 0\n"
                         "pverr = 7e+22\n"
                         "rmserr= nan\n"
                         "nfids = 4\n"));
}

TEST(Dumps, NullRecordPrintsNull) {
  const std::function<void(std::FILE*)> printers[] = {
      [](std::FILE* f) { dump_window(f, nullptr); },
      [](std::FILE* f) { dump_mx16(f, static_cast<const mx_bkt16_t*>(nullptr)); },
      [](std::FILE* f) { dump_mx16(f, static_cast<const mx_u16_t*>(nullptr)); },
      [](std::FILE* f) { dump_mx32(f, static_cast<const mx_i32_t*>(nullptr)); },
      [](std::FILE* f) { dump_mx32(f, static_cast<const mx_w32_t*>(nullptr)); },
      [](std::FILE* f) { dump_mask(f, nullptr); },
      [](std::FILE* f) { dump_queue(f, nullptr); },
      [](std::FILE* f) { dump_acq_settings(f, nullptr); },
      [](std::FILE* f) { dump_phase_settings(f, nullptr); },
      [](std::FILE* f) { dump_fit(f, nullptr); },
      [](std::FILE* f) { dump_fit_all(f, nullptr); },
      [](std::FILE* f) { dump_line_fit(f, nullptr); },
      [](std::FILE* f) { dump_stats(f, nullptr); },
      [](std::FILE* f) { dump_poly(f, nullptr); },
      [](std::FILE* f) { dump_coef_table(f, nullptr); },
      [](std::FILE* f) { dump_fiducial_fit(f, nullptr); },
  };
  for (std::size_t i = 0; i < std::size(printers); ++i) {
    EXPECT_EQ(capture(printers[i]), native_lines("NULL\n")) << "printer " << i;
  }
}

}  // namespace
