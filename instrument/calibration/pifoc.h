/// @file
/// The pifoc scanner's time-on model, its info file and its diagnostic log.
///
/// The scanner's gain grows with the logarithm of an effective time on, te,
/// which grows while the scanner is driven and relaxes while it is off. te,
/// the time t1 it was last brought up to date and the last leakage current
/// measured are kept per scanner (by the calibration's Pifoc value) in a
/// one-line info file, so the model survives restarts:
///
///   # te t1 leakage-counts
///   3600 1767225600 -1000
///
/// The info file and the log live in the configuration directory's "ramps"
/// folder as `pifoc.<serial>` and `pifoclog.<serial>` (the working directory
/// without a configuration directory); FB_RAMPS_DIR does not move them.
///
/// Every operation takes the system information record and works on its
/// pifoc sub-record. Scanners on the CAN instruments keep their own model, so
/// board type BD_CAN is refused.
#pragma once

#include <cstdint>

struct sysInfo_t;
struct rr_ramp_info_t;

/// The measured currents of a scan that carried a gain measurement.
struct xr_scan_currents_t {
  double scanLength = 0;  ///< um
  double first = 0;       ///< uA
  double middle = 0;      ///< uA
  double last = 0;        ///< uA
};

/// The current ramp's terms of the gain: (b - a) / (middle current - leakage),
/// accepted in the range of the ramp's mode, divided by its nominal gain when
/// that is above 0.
struct xr_ramp_gain_terms_t {
  double a = 0;            ///< the term a
  double b = 0;            ///< the term b
  int32_t mode = 0;        ///< the ramp's mode, which gives the accepted range
  double nominalGain = 0;  ///< the ramp's nominal gain; 0 or less: none
};

/// What the models take from the ramp and acquisition code, which measures
/// the leakage and the scan currents. An entry left null has no source yet:
/// a leakage measurement then fails (ERR_NOT_IMPLEMENTED) and no scan has a
/// gain measurement.
struct xr_pifoc_sources_t {
  /// Measures the scanner's leakage current now, in counts.
  int (*measure_leakage)(sysInfo_t* s, int32_t* counts) = nullptr;
  /// The currents of the scan just made; false when it has none.
  bool (*scan_currents)(sysInfo_t* s, xr_scan_currents_t* out) = nullptr;
  /// The gain terms of a ramp; false when it has none.
  bool (*gain_terms)(const sysInfo_t* s, const rr_ramp_info_t* ramp,
                     xr_ramp_gain_terms_t* out) = nullptr;
};
/// Replaces the sources (null: none) for the whole process.
void xr_set_pifoc_sources(const xr_pifoc_sources_t* sources);

/// The diagnostic log's size limit in bytes, for the whole process: 0 turns
/// the log off, a negative value lets it grow without limit. 1000000 at start.
void xr_set_pifoc_log_limit(int64_t bytes);
/// The diagnostic log's size limit in bytes (see xr_set_pifoc_log_limit).
int64_t xr_pifoc_log_limit();

/// Reads te, t1 and the leakage from the info file and, when reasonable,
/// stores them. ERR_CANT_OPEN_FILE, ERR_CANT_READ_FILE (no data line, or a
/// field that is not a whole decimal number in range), ERR_PARAM_OUT_OF_RANGE
/// (te below 1, t1 negative, below te or in the future; leakage outside
/// -14..0 uA); ERR_INVALID_PARAM without a sub-record or on BD_CAN.
int xr_load_pifoc_info(sysInfo_t* s);
/// Writes te, t1 and the leakage, replacing the info file only once the new
/// one is complete. ERR_CANT_CREATE_FILE; ERR_INVALID_PARAM as above.
int xr_save_pifoc_info(sysInfo_t* s);

/// Brings te and t1 up to `now` (seconds since the epoch; 0 for the current
/// time): te grows by the time on, or relaxes as 1/te' = 1/te + d/10^8 while
/// off (Beta > 0), or shrinks by the time off (Beta <= 0); at least 1. A time
/// before t1 leaves te alone. Nothing without a sub-record or on BD_CAN.
int xr_update_pifoc_time(sysInfo_t* s, int64_t now);

/// The time gain, scale + Beta * log10(te), at least the scale.
/// ERR_PIFOC_GAIN (gain 0) outside 0.8..1.15; 0 and gain 0 without a
/// sub-record; ERR_INVALID_PARAM on BD_CAN.
int xr_calc_pifoc_time_gain(sysInfo_t* s, double* gain);

/// With diagnostics on: measures the leakage when measurements are enabled,
/// the ramp in use is the first of kind 'b' and the last measurement is over
/// 60 s old, and logs a line. With `log_request` and a good measurement the
/// line waits for the gain of xr_get_pifoc_comp_gain. ERR_PIFOC_LEAKAGE
/// outside -14..0 uA, the measurement's own code when it fails,
/// ERR_WRONG_INSTR_BOARD on BD_CAN.
int xr_update_pifoc_leakage(sysInfo_t* s, int log_request);

/// Appends a line (or, for null, the heading block) to the diagnostic log.
/// ERR_INVALID_PARAM without a sub-record or on BD_CAN; u_log_to_file's codes.
int xr_log_pifoc_diagnostic(sysInfo_t* s, const char* text);

/// The compensation gain of the scan just made, logged with its currents.
/// ERR_PIFOC_GAIN (gain 0) outside the range of the ramp's mode;
/// ERR_INVALID_PARAM without a sub-record, diagnostics or scan currents;
/// ERR_NO_RAMP_INFO without ramps or gain terms; ERR_WRONG_INSTR_BOARD on
/// BD_CAN.
int xr_get_pifoc_comp_gain(sysInfo_t* s, double* gain);

/// Called when the instrument starts: finds the first ramps of kinds 'b' and
/// 'u', and for a compensated scanner loads the info file the first time
/// (starting afresh when that fails) and starts the log, or logs a reset.
/// ERR_WRONG_INSTR_BOARD on BD_CAN, ERR_INVALID_PARAM without a sub-record,
/// ERR_NO_RAMP_INFO without ramps.
int xr_init_pifoc(sysInfo_t* s);
