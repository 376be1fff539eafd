/// @file
/// Binary ramp data files: the table of drive values that moves the piezo
/// scanner during a measurement, with the acquisition settings it was made
/// for. A file is a 328-byte header followed by the points, unsigned 16-bit
/// and big-endian.
///
/// The header is mixed-endian for historical reasons: its first 42 words are
/// big-endian, the rest little-endian. In memory it is in host order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "instrument/record/ramp_types.h"

/// One line of the ramp configuration file: which ramp file to use and the
/// acquisition settings it must have been made for.
struct rr_ramp_line_t {
  int32_t type;             ///< RR_TYPE_SWLI, RR_TYPE_PMI or RR_TYPE_BTW
  int32_t wavelenIndex;     ///< 1..4 for BTW ramps, else 0
  char fileName[81];        ///< "+" for a ramp derived from the previous one
  float scanLen;            ///< ScanLen, um
  float cameraRate;         ///< CameraRate, Hz
  int32_t cameraInterlace;  ///< CameraInterlace
  int32_t grabSkip;         ///< GrabSkip
  float fringesPerFrame;    ///< FringesPerFrame
  float rampSlope;          ///< RampSlope, nm per frame
  float objMag;             ///< ObjMag
  float scanCal;            ///< ScanCal
  int32_t hide;             ///< Hide: 1 hides the ramp from the user
};

/// Reads a ramp file. The header is cleared first and stays cleared on
/// failure. When `points` is not null, an array it holds is released and, for
/// a ramp with points, replaced by a new one from u_malloc_fn that the caller
/// releases with u_free_fn (or rr_release_points); it is left null when the
/// ramp has no points or the read fails. A null `points` reads the header only.
/// Returns 0, ERR_INVALID_PARAM, ERR_CANT_OPEN_FILE, ERR_PREMATURE_EOF,
/// ERR_NOT_A_RAMP_FILE, ERR_CORRUPT_RAMP_FILE (fewer points than announced,
/// found before anything is allocated) or ERR_NO_MEM.
int rr_read_ramp_file(const char* path, rr_ramp_hdr_t* hdr, uint16_t** points);

/// Writes a ramp file: the header with its magic number set, then the
/// header's nPoints points. Null arguments or a negative point count give
/// ERR_INVALID_PARAM and no file. An existing file is truncated; a failed
/// write (ERR_CANT_WRITE_FILE) leaves what was written. The caller's header
/// and points are not changed.
int rr_write_ramp_file(const char* path, const rr_ramp_hdr_t* hdr, const uint16_t* points);

/// Releases a points array from rr_read_ramp_file and sets it to null.
void rr_release_points(uint16_t** points);

/// Converts the header's first 42 words between big-endian and host order,
/// in place (the same operation both ways).
void rr_swap_ramp_hdr(rr_ramp_hdr_t* hdr);

/// Writes the header, one "# first-last  name = value" line per field, and
/// the points when given: one per line, or ten to a line. Returns 0,
/// ERR_INVALID_PARAM or ERR_CANT_WRITE_FILE.
int rr_dump_ramp(std::FILE* stream, const rr_ramp_hdr_t* hdr, const uint16_t* points,
                 int one_per_line);

/// The standard file name of a ramp (d10s81c25.b12345 for a SWLI ramp). The
/// name is in a buffer of the calling thread that its next call overwrites.
/// An unsupported ramp type is logged and gives ERR_INVALID_PARAM with *name
/// null.
int rr_get_std_ramp_filename(const rr_ramp_hdr_t* hdr, const char** name);

/// 0 when the ramp header was made for the configuration line, else logs the
/// first mismatch and returns ERR_INVALID_PARAM. A PMI line accepts every PMI
/// variant, and PMI ramps are not compared on scan length and slope.
int rr_check_ramp_spec(const rr_ramp_line_t* cfg, const rr_ramp_hdr_t* hdr);
