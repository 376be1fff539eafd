/// @file
/// Structure dump printers: each writes a record's fields to a stream, one
/// "name = value" line each, through u_log_file (which flushes after every
/// line). A null record prints "NULL\n". Matrix printers add a checksum of the
/// data so that two dumps can be compared without printing the data.
///
/// Floating-point values are formatted to ISO C printf's text on every
/// platform, so dumps taken on different hosts compare equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "data/containers.h"
#include "data/point_list.h"
#include "data/records.h"

// ---- records that only the dumps describe

/// Acquisition settings, as dump_acq_settings prints them.
struct mx_acq_settings_t {
  uint32_t mask;           ///< mask word
  int32_t n_buckets;       ///< frames (buckets) per acquisition
  int16_t ramp_mux;        ///< ramp multiplexer setting
  uint8_t ramp_cal;        ///< ramp calibration setting
  int16_t ramp_gain;       ///< ramp gain
  int16_t ramp_gain_dflt;  ///< default ramp gain
  int16_t sfac_limit;      ///< scale-factor limit
  double target_intens;    ///< target intensity
  double target_range;     ///< target intensity range
  uint8_t sw_llc;          ///< software light-level control setting
  int32_t light_level;     ///< light level
  int32_t min_mod;         ///< minimum modulation
  int32_t min_mod_count;   ///< minimum-modulation pixel count
  int32_t n_sat_skip;      ///< saturated-pixel skip count
  int32_t n_bright_skip;   ///< bright-pixel skip count
  uint8_t do_avg;          ///< averaging on (non-zero) or off
  int16_t avg_count;       ///< number of acquisitions averaged
  uint8_t avg_keep_sat;    ///< keep saturated pixels when averaging (non-zero)
  uint8_t awm_enable;      ///< AWM enable setting
};

/// Phase resolution codes (u_phase_res_name).
enum mx_phase_res_t : int8_t {
  MX_PHASE_RES_LO = 0,    ///< low resolution ("LO")
  MX_PHASE_RES_HI = 1,    ///< high resolution ("HI")
  MX_PHASE_RES_SUPER = 2  ///< super resolution ("SUPER")
};

/// Phase processing settings, as dump_phase_settings prints them.
struct mx_phase_settings_t {
  int8_t algorithm;            ///< phase algorithm code
  int8_t type;                 ///< phase processing type code
  int8_t phase_res;            ///< phase resolution (mx_phase_res_t)
  int32_t min_area_pixels;     ///< minimum area in pixels
  int32_t max_area_pixels;     ///< maximum area in pixels
  float pre_filter;            ///< pre-filter value
  int32_t discon_action;       ///< discontinuity action code
  float discon_filter;         ///< discontinuity filter value
  float noise_thresh;          ///< noise threshold
  uint8_t order_by_size;       ///< order by size (non-zero) or not
  const mx_mask8_t* ref_mask;  ///< reference mask, not owned (may be null)
};

/// Surface fit types (mx_fit_t::type).
enum mx_fit_type_t : int32_t {
  MX_FIT_PISTON = 0,    ///< constant offset
  MX_FIT_PLANE = 1,     ///< plane
  MX_FIT_SPHERE = 2,    ///< sphere
  MX_FIT_CYLINDER = 3,  ///< cylinder
};

/// A surface fit: the coefficients of its terms about a centre.
struct mx_fit_t {
  int32_t type;      ///< mx_fit_type_t
  double offset;     ///< constant term
  double x_coef;     ///< x coefficient
  double y_coef;     ///< y coefficient
  double x2y2_coef;  ///< x^2 + y^2 coefficient
  double xy_coef;    ///< xy coefficient
  double x2_coef;    ///< x^2 coefficient
  double y2_coef;    ///< y^2 coefficient
  int16_t center_x;  ///< column of the fit centre
  int16_t center_y;  ///< row of the fit centre
};

/// The coefficients of all four surface fits at once.
struct mx_fit_all_t {
  double pst_offset;     ///< piston: constant term
  double pln_offset;     ///< plane: constant term
  double pln_x_coef;     ///< plane: x coefficient
  double pln_y_coef;     ///< plane: y coefficient
  double sph_offset;     ///< sphere: constant term
  double sph_x_coef;     ///< sphere: x coefficient
  double sph_y_coef;     ///< sphere: y coefficient
  double sph_x2y2_coef;  ///< sphere: x^2 + y^2 coefficient
  double cyl_offset;     ///< cylinder: constant term
  double cyl_x_coef;     ///< cylinder: x coefficient
  double cyl_y_coef;     ///< cylinder: y coefficient
  double cyl_xy_coef;    ///< cylinder: xy coefficient
  double cyl_x2_coef;    ///< cylinder: x^2 coefficient
  double cyl_y2_coef;    ///< cylinder: y^2 coefficient
};

/// Line fit types (mx_line_fit_t::type).
enum mx_line_fit_type_t : int32_t {
  MX_LINE_FIT_PISTON = 0,    ///< constant offset
  MX_LINE_FIT_LINE = 1,      ///< straight line
  MX_LINE_FIT_PARABOLA = 2,  ///< parabola
};

/// A fit along a line of pixels.
struct mx_line_fit_t {
  int32_t type;     ///< mx_line_fit_type_t
  double offset;    ///< constant term
  double x_coef;    ///< x coefficient
  double x2_coef;   ///< x^2 coefficient
  double x3_coef;   ///< x^3 coefficient
  double x4_coef;   ///< x^4 coefficient
  int32_t x0;       ///< column of point 0
  int32_t y0;       ///< row of point 0
  int32_t x1;       ///< column of point 1
  int32_t y1;       ///< row of point 1
  int32_t x2;       ///< column of point 2
  int32_t y2;       ///< row of point 2
  int32_t xn;       ///< column of the last point
  int32_t yn;       ///< row of the last point
  int32_t length;   ///< length of the line
  int32_t npoints;  ///< number of points
};

constexpr int MX_POLY_MAX_COEFS = 37;  ///< Most coefficients an mx_poly_t holds.

/// A polynomial: its coefficients about a centre.
struct mx_poly_t {
  int16_t count;                   ///< coefficients in use, at most MX_POLY_MAX_COEFS
  double coef[MX_POLY_MAX_COEFS];  ///< the coefficients
  int16_t center_x;                ///< column of the centre
  int16_t center_y;                ///< row of the centre
  int32_t radius2;                 ///< squared radius
};

/// A fit to fiducial marks.
struct mx_fiducial_fit_t {
  double Asin;    ///< sine term
  double Acos;    ///< cosine term
  double r1;      ///< r1 term
  double r2;      ///< r2 term
  double r3;      ///< r3 term
  double r4;      ///< r4 term
  double xoff;    ///< x offset
  double yoff;    ///< y offset
  double pverr;   ///< peak-to-valley error
  double rmserr;  ///< rms error
  int32_t nfids;  ///< number of fiducials
};

/// A region of pixels: its id, size and bounds.
struct mx_region_t {
  int32_t region;   ///< id
  int32_t npoints;  ///< number of pixels
  int32_t xmin;     ///< first column
  int32_t ymin;     ///< first row
  int32_t xmax;     ///< last column
  int32_t ymax;     ///< last row
  int32_t dist;     ///< dist value
};

constexpr int MX_COEF_ROWS = 30;    ///< Rows of an mx_coef_table_t.
constexpr int MX_COEF_COLUMNS = 4;  ///< Columns of an mx_coef_table_t.

/// A table of four columns of 30 coefficients with its unity value.
struct mx_coef_table_t {
  double unity;                                ///< the unity value
  double coef[MX_COEF_COLUMNS][MX_COEF_ROWS];  ///< the coefficients, column by column
};

// ---- printers

/// Prints a window: x, y, width and height.
void dump_window(std::FILE* stream, const wn_window_t* w);
/// Prints an intensity matrix: size, window, buffer address and checksum. The
/// checksum covers the first frame (width x height values), or as much of it as the
/// buffer holds.
void dump_mx16(std::FILE* stream, const mx_bkt16_t* m);
/// Prints a 16-bit matrix as the intensity matrix is printed.
void dump_mx16(std::FILE* stream, const mx_u16_t* m);
/// Prints a phase matrix: size, window, buffer address and a checksum of its
/// width x height values.
void dump_mx32(std::FILE* stream, const mx_i32_t* m);
/// Prints an unsigned 32-bit matrix as the phase matrix is printed.
void dump_mx32(std::FILE* stream, const mx_w32_t* m);
/// Prints a mask: size, window, buffer address and `bits`.
void dump_mask(std::FILE* stream, const mx_mask8_t* m);
/// Prints a multi-block matrix: its fields, its three windows and a checksum. The
/// checksum covers n_blocks * blocksize bytes of the blocks taken in order, so both
/// layouts holding the same data give the same value.
void dump_queue(std::FILE* stream, const mx_queue_t* q);
/// Prints the acquisition settings, one field a line.
void dump_acq_settings(std::FILE* stream, const mx_acq_settings_t* s);
/// Prints the phase settings, one field a line, the reals with their bit patterns,
/// then the reference mask.
void dump_phase_settings(std::FILE* stream, const mx_phase_settings_t* s);
/// Prints a surface fit: its type by name, then the coefficients and centre.
void dump_fit(std::FILE* stream, const mx_fit_t* f);
/// Prints the coefficients of all four surface fits.
void dump_fit_all(std::FILE* stream, const mx_fit_all_t* f);
/// Prints a line fit: its type by name, then the coefficients and points.
void dump_line_fit(std::FILE* stream, const mx_line_fit_t* f);
/// Prints value statistics, one field a line.
void dump_stats(std::FILE* stream, const mx_stats_t* s);
/// Prints a polynomial: its coefficients, centre and squared radius. Coefficients are
/// numbered from 0; at most MX_POLY_MAX_COEFS are printed.
void dump_poly(std::FILE* stream, const mx_poly_t* p);
/// Prints `count` pairs of values, one pair a line. `pairs` holds 2 * count floats;
/// a value at or above the largest finite float prints as twenty asterisks.
void dump_value_pairs(std::FILE* stream, int count, const float* pairs);
/// Prints `count` regions, one a line. Returns the number of regions printed.
int dump_regions(std::FILE* stream, const mx_region_t* regions, int count);
/// Prints a coefficient table: the unity value, then one numbered line per row with
/// the row's value in each column. Rows are numbered from 0.
void dump_coef_table(std::FILE* stream, const mx_coef_table_t* t);
/// Prints a fiducial fit, one field a line.
void dump_fiducial_fit(std::FILE* stream, const mx_fiducial_fit_t* f);

/// Byte styles of dump_bytes.
enum u_byte_style_t : int {
  U_BYTES_DECIMAL = 0,  ///< " %3d" per byte
  U_BYTES_HEX = 1,      ///< " %2.2x" per byte
  U_BYTES_OCTAL = 2,    ///< " %3.3o" per byte
  U_BYTES_BINARY = 3,   ///< a blank and eight bits, most significant first
};
/// Prints `count` bytes in a u_byte_style_t, ten bytes a line, each line led by the
/// index of its first byte; an unknown style prints decimal. Returns the number of bytes printed.
int dump_bytes(std::FILE* stream, const uint8_t* bytes, int count, int style);

// ---- checksum and hex text

/// CRC-32 of the reflected polynomial 0xEDB88320, started at 0 and not
/// inverted at the end (so not the usual CRC-32 value).
uint32_t u_crc(std::size_t count, const void* bytes);

/// Hex text of bytes: "0x" and two upper-case hex digits per byte, taking `count` bytes from
/// `bytes` at `step` (-1 walks backwards); more than 48 bytes give "0x*".
/// The text lives in a per-thread buffer that the next call overwrites.
const char* u_hex_text(const void* bytes, int count, int step);
/// The bit pattern of the float as a hex number, 8 digits (same buffer as u_hex_text).
const char* u_float_hex(float v);
/// The bit pattern of the double as a hex number, 16 digits (same buffer as
/// u_hex_text).
const char* u_double_hex(double v);
/// Name of a phase resolution code: "LO (0)", "HI (1)", "SUPER (2)", otherwise
/// "UNKNOWN (code)", in a per-thread buffer that the next call overwrites.
const char* u_phase_res_name(int code);
