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

inline constexpr int32_t RR_MAGIC = 0x52414D51;  ///< "RAMQ"

// Ramp types (rampType).
inline constexpr int32_t RR_TYPE_SWLI = 0;      ///< a scanning ramp, by scan length and slope
inline constexpr int32_t RR_TYPE_PMI = 1;       ///< 1..15: PMI variants
inline constexpr int32_t RR_TYPE_PMI_LAST = 15; ///< the last PMI variant
inline constexpr int32_t RR_TYPE_BTW = 17;      ///< a scanning ramp for one filter (wavelength index 1..4)

/// The 328-byte header of a ramp data file, in host order.
struct rr_ramp_hdr_t {
  int32_t magicNumber;  ///< RR_MAGIC
  int32_t rampType;  ///< an RR_TYPE_ value
  int32_t pztID;  ///< serial number of the scanner the ramp was made for
  int32_t rampID;  ///< ramp identifier used on the instrument board
  int32_t nPoints;  ///< points that follow the header
  int32_t rampUp;  ///< point index: end of the run-up
  int32_t rampStart;  ///< point index: start of the scan
  int32_t rampLinear;  ///< point index: start of the linear part
  int32_t rampEnd;  ///< point index: end of the scan
  float sampleClkFreq;  ///< kHz
  float cameraRate;     ///< Hz
  int32_t updateRate;  ///< ramp update rate code sent to the board
  int32_t grabSkip;  ///< frames skipped between grabs
  float rampSlope;   ///< nm per frame
  int32_t trigStartAddr;  ///< point index where the camera trigger starts
  int32_t trigEndAddr;  ///< point index where the camera trigger ends
  int32_t rampGainDflt;  ///< default ramp gain
  float rampTriple[3];  ///< triple-PZT ramp factors
  float scanLen;  ///< um
  int32_t polar;  ///< a character code, used in file names
  int32_t offset;  ///< ramp offset
  int32_t nBuckets;  ///< frames (buckets) of a PMI ramp
  float rampLin;  ///< linearity parameter
  float rampTrim;  ///< trim parameter
  float cameraPClock;  ///< camera pixel clock
  int32_t cameraHPeriod;  ///< camera horizontal period
  int32_t cameraVPeriod;  ///< camera vertical period
  int32_t cameraInterlace;  ///< 1 for interlaced fields, else 0
  int32_t rampMux;  ///< ramp output selector
  int32_t instrBdType;  ///< instrument board type the ramp was made for
  int32_t compGain;  ///< compensation gain
  int32_t compFilter;  ///< compensation filter
  int32_t leakage;  ///< leakage
  int32_t adcMin;  ///< ADC minimum
  int32_t adcMax;  ///< ADC maximum
  int32_t adcFirst;  ///< ADC first
  int32_t adcMid;  ///< ADC middle
  int32_t adcLast;  ///< ADC last
  float scanCal;  ///< scan calibration factor (near 1.0)
  int32_t reserved1;  ///< the last big-endian word
  // From here on the file holds little-endian words.
  float fringesPerFrame;  ///< fringes per frame (0.125 or 0.25 normal, 0.75 or 1.25 sub-Nyquist)
  float objMag;  ///< nominal objective magnification (BTW ramps)
  int32_t wavelenSelect;  ///< wavelength (filter) index of BTW ramps
  int32_t reserved2;  ///< reserved
  int32_t dirFlag;  ///< 0 reverses the ramp direction
  int32_t reserved3[2];  ///< reserved
  char spare[132];  ///< spare
};

static_assert(sizeof(rr_ramp_hdr_t) == 328);
static_assert(offsetof(rr_ramp_hdr_t, nPoints) == 16);
static_assert(offsetof(rr_ramp_hdr_t, sampleClkFreq) == 36);
static_assert(offsetof(rr_ramp_hdr_t, rampSlope) == 52);
static_assert(offsetof(rr_ramp_hdr_t, rampTriple) == 68);
static_assert(offsetof(rr_ramp_hdr_t, scanLen) == 80);
static_assert(offsetof(rr_ramp_hdr_t, cameraPClock) == 104);
static_assert(offsetof(rr_ramp_hdr_t, adcLast) == 156);
static_assert(offsetof(rr_ramp_hdr_t, reserved1) == 164);
static_assert(offsetof(rr_ramp_hdr_t, fringesPerFrame) == 168);
static_assert(offsetof(rr_ramp_hdr_t, wavelenSelect) == 176);
static_assert(offsetof(rr_ramp_hdr_t, dirFlag) == 184);
static_assert(offsetof(rr_ramp_hdr_t, spare) == 196);

/// One line of the ramp configuration file: which ramp file to use and the
/// acquisition settings it must have been made for.
struct rr_ramp_line_t {
  int32_t type;          ///< RR_TYPE_SWLI, RR_TYPE_PMI or RR_TYPE_BTW
  int32_t wavelenIndex;  ///< 1..4 for BTW ramps, else 0
  char fileName[81];     ///< "+" for a ramp derived from the previous one
  float scanLen;          ///< ScanLen, um
  float cameraRate;       ///< CameraRate, Hz
  int32_t cameraInterlace;  ///< CameraInterlace
  int32_t grabSkip;       ///< GrabSkip
  float fringesPerFrame;  ///< FringesPerFrame
  float rampSlope;        ///< RampSlope, nm per frame
  float objMag;           ///< ObjMag
  float scanCal;          ///< ScanCal
  int32_t hide;           ///< Hide: 1 hides the ramp from the user
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
