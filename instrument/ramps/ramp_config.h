/// @file
/// The ramp configuration file: a text file in the ramp directory naming, one
/// line per ramp, the ramp data file to use and the acquisition settings it
/// must have been made for (rr_ramp_line_t). Ramp loading reads it; the
/// library writes it back when the ramp table is saved.
///
/// A line holds ten or eleven columns separated by blanks or tabs:
///   RampType FileName ScanLen CameraRate CameraInterlace GrabSkip
///   FringesPerFrame RampSlope ObjMag ScanCal [Hide]
/// Lines whose first word is missing or starts with '#' are comments.
#pragma once

#include "instrument/ramps/ramp_file.h"

/// Reads a ramp configuration file. `*cfgs` must be null on entry
/// (ERR_INVALID_PARAM otherwise). A line with a bad column is reported through
/// the log hook and skipped; the file fails as a whole (ERR_CORRUPT_RAMP_CFG_FILE)
/// at a line of 201 characters or more, after more than 20 bad lines, or when
/// no line is accepted, and with ERR_NO_MEM when memory runs out. On success
/// *cfgs holds *count configuration lines in one array from the allocation hooks,
/// which the caller releases with rr_release_ramp_lines; on failure it stays
/// null and *count 0. A file that cannot be opened is logged and gives
/// ERR_CANT_OPEN_FILE.
int rr_read_ramp_config(const char* path, rr_ramp_line_t** cfgs, int* count);

/// Writes a ramp configuration file: the format description, then one line
/// per configuration line, with an empty line before each group of lines of the
/// same type, file name and camera rate. Null arguments or a negative count
/// give ERR_INVALID_PARAM; a file that cannot be created ERR_CANT_OPEN_FILE;
/// a failed write or close ERR_CANT_WRITE_FILE (what was written stays).
int rr_write_ramp_config(const char* path, const rr_ramp_line_t* cfgs, int count);

/// Releases an array from rr_read_ramp_config and sets the pointer to null.
void rr_release_ramp_lines(rr_ramp_line_t** cfgs);
