// Structure dump printers: each writes a record's fields to a stream, one
// "name = value" line each, through u_log_file (which flushes after every
// line). A null record prints "NULL\n". Matrix printers add a checksum of the
// data so that two dumps can be compared without printing the data.
//
// Floating-point values are formatted to ISO C printf's text on every
// platform, so dumps taken on different hosts compare equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "data/containers.h"
#include "data/point_list.h"
#include "data/records.h"

// ---- records that only the dumps describe

struct mx_acq_settings_t {
  uint32_t mask;
  int32_t n_buckets;
  int16_t ramp_mux;
  uint8_t ramp_cal;
  int16_t ramp_gain;
  int16_t ramp_gain_dflt;
  int16_t sfac_limit;
  double target_intens;
  double target_range;
  uint8_t sw_llc;
  int32_t light_level;
  int32_t min_mod;
  int32_t min_mod_count;
  int32_t n_sat_skip;
  int32_t n_bright_skip;
  uint8_t do_avg;
  int16_t avg_count;
  uint8_t avg_keep_sat;
  uint8_t awm_enable;
};

// Phase resolution codes (u_phase_res_name).
enum mx_phase_res_t : int8_t { MX_PHASE_RES_LO = 0, MX_PHASE_RES_HI = 1, MX_PHASE_RES_SUPER = 2 };

struct mx_phase_settings_t {
  int8_t algorithm;
  int8_t type;
  int8_t phase_res;
  int32_t min_area_pixels;
  int32_t max_area_pixels;
  float pre_filter;
  int32_t discon_action;
  float discon_filter;
  float noise_thresh;
  uint8_t order_by_size;
  const mx_mask8_t* ref_mask;
};

enum mx_fit_type_t : int32_t {
  MX_FIT_PISTON = 0,
  MX_FIT_PLANE = 1,
  MX_FIT_SPHERE = 2,
  MX_FIT_CYLINDER = 3,
};

struct mx_fit_t {
  int32_t type;  // mx_fit_type_t
  double offset;
  double x_coef;
  double y_coef;
  double x2y2_coef;
  double xy_coef;
  double x2_coef;
  double y2_coef;
  int16_t center_x;
  int16_t center_y;
};

struct mx_fit_all_t {
  double pst_offset;
  double pln_offset;
  double pln_x_coef;
  double pln_y_coef;
  double sph_offset;
  double sph_x_coef;
  double sph_y_coef;
  double sph_x2y2_coef;
  double cyl_offset;
  double cyl_x_coef;
  double cyl_y_coef;
  double cyl_xy_coef;
  double cyl_x2_coef;
  double cyl_y2_coef;
};

enum mx_line_fit_type_t : int32_t {
  MX_LINE_FIT_PISTON = 0,
  MX_LINE_FIT_LINE = 1,
  MX_LINE_FIT_PARABOLA = 2,
};

struct mx_line_fit_t {
  int32_t type;  // mx_line_fit_type_t
  double offset;
  double x_coef;
  double x2_coef;
  double x3_coef;
  double x4_coef;
  int32_t x0;
  int32_t y0;
  int32_t x1;
  int32_t y1;
  int32_t x2;
  int32_t y2;
  int32_t xn;
  int32_t yn;
  int32_t length;
  int32_t npoints;
};

constexpr int MX_POLY_MAX_COEFS = 37;

struct mx_poly_t {
  int16_t count;  // coefficients in use, at most MX_POLY_MAX_COEFS
  double coef[MX_POLY_MAX_COEFS];
  int16_t center_x;
  int16_t center_y;
  int32_t radius2;
};

struct mx_fiducial_fit_t {
  double Asin;
  double Acos;
  double r1;
  double r2;
  double r3;
  double r4;
  double xoff;
  double yoff;
  double pverr;
  double rmserr;
  int32_t nfids;
};

struct mx_region_t {
  int32_t region;  // id
  int32_t npoints;
  int32_t xmin;
  int32_t ymin;
  int32_t xmax;
  int32_t ymax;
  int32_t dist;
};

constexpr int MX_COEF_ROWS = 30;
constexpr int MX_COEF_COLUMNS = 4;

// A table of four columns of 30 coefficients with its unity value.
struct mx_coef_table_t {
  double unity;
  double coef[MX_COEF_COLUMNS][MX_COEF_ROWS];
};

// ---- printers

void dump_window(std::FILE* stream, const wn_window_t* w);
// The checksum covers the first frame (width x height values), or as much of
// it as the buffer holds.
void dump_mx16(std::FILE* stream, const mx_bkt16_t* m);
void dump_mx16(std::FILE* stream, const mx_u16_t* m);
void dump_mx32(std::FILE* stream, const mx_i32_t* m);
void dump_mx32(std::FILE* stream, const mx_w32_t* m);
void dump_mask(std::FILE* stream, const mx_mask8_t* m);
// The checksum covers n_blocks * blocksize bytes of the blocks taken in
// order, so both layouts holding the same data give the same value.
void dump_queue(std::FILE* stream, const mx_queue_t* q);
void dump_acq_settings(std::FILE* stream, const mx_acq_settings_t* s);
void dump_phase_settings(std::FILE* stream, const mx_phase_settings_t* s);
void dump_fit(std::FILE* stream, const mx_fit_t* f);
void dump_fit_all(std::FILE* stream, const mx_fit_all_t* f);
void dump_line_fit(std::FILE* stream, const mx_line_fit_t* f);
void dump_stats(std::FILE* stream, const mx_stats_t* s);
// Coefficients are numbered from 0; at most MX_POLY_MAX_COEFS are printed.
void dump_poly(std::FILE* stream, const mx_poly_t* p);
// `pairs` holds 2 * count floats; a value at or above the largest finite
// float prints as twenty asterisks.
void dump_value_pairs(std::FILE* stream, int count, const float* pairs);
// Returns the number of regions printed.
int dump_regions(std::FILE* stream, const mx_region_t* regions, int count);
// Rows are numbered from 0.
void dump_coef_table(std::FILE* stream, const mx_coef_table_t* t);
void dump_fiducial_fit(std::FILE* stream, const mx_fiducial_fit_t* f);

// Byte styles of dump_bytes.
enum u_byte_style_t : int {
  U_BYTES_DECIMAL = 0,
  U_BYTES_HEX = 1,
  U_BYTES_OCTAL = 2,
  U_BYTES_BINARY = 3,
};
// Ten bytes a line, each line led by the index of its first byte; an
// unknown style prints decimal. Returns the number of bytes printed.
int dump_bytes(std::FILE* stream, const uint8_t* bytes, int count, int style);

// ---- checksum and hex text

// CRC-32 of the reflected polynomial 0xEDB88320, started at 0 and not
// inverted at the end (so not the usual CRC-32 value).
uint32_t u_crc(std::size_t count, const void* bytes);

// "0x" and two upper-case hex digits per byte, taking `count` bytes from
// `bytes` at `step` (-1 walks backwards); more than 48 bytes give "0x*".
// The text lives in a per-thread buffer that the next call overwrites.
const char* u_hex_text(const void* bytes, int count, int step);
// The bit pattern of the value as a hex number (same buffer).
const char* u_float_hex(float v);
const char* u_double_hex(double v);
// "LO (0)", "HI (1)", "SUPER (2)", otherwise "UNKNOWN (code)", in a
// per-thread buffer that the next call overwrites.
const char* u_phase_res_name(int code);
