/// @file
/// The camera bad-pixel table: one list of untrusted pixels per camera
/// acquisition set-up, built at power-on from the bad-pixel file in the
/// configuration directory, or from the calibration's inline list.
///
/// The file is read line by line; lines of at most 100 characters, blanks and
/// tabs between tokens, # starts a comment line. A header line starts a
/// section: a token beginning with "[" (its text is not looked at), then the
/// grab mode (0..10), grab under (0..10), width and height (0..32767) and the
/// frame rate (0..500). Every other line is a point x y of that section:
///
///   # camera 1, full frame
///   [cam 0 1 640 480 30
///   10 20
///   5 7
///
/// Up to 100 sections and 8192 points in each.
#pragma once

#include <cstdio>
#include <string>

#include "instrument/record/acq_state.h"

struct sysInfo_t;

/// A bad-pixel file open for reading (binary mode), with the next section's
/// header line when a section read ahead into it.
struct cam_bad_file_t {
  std::FILE* stream = nullptr;   ///< the file being read
  std::string pushed;            ///< the header line read ahead
  std::size_t pushedLength = 0;  ///< length of pushed
  bool hasPushed = false;        ///< pushed holds a header line
};

/// Rebuilds the record's table: from the file (Camera Bpix 1: its file name,
/// else bpix_<serial>.dat, in the configuration directory) or from the inline
/// list. The previous table is released first; a failed build leaves no table
/// and a count of 0. Errors: ERR_NO_MEM, ERR_INVALID_PARAM (no configuration
/// directory), ERR_CANT_OPEN_FILE, ERR_CB_FILE_INVALID (logged whole).
int gen_cam_ped_filename(sysInfo_t* s);

/// Reads a whole file into `table` (CAM_BAD_MAX_CAMERAS entries, zeroed);
/// *count receives the sections read. `message` (null: none) is cleared, then
/// receives the error text. On failure the lists read are released and *count
/// is 0. Errors: ERR_INVALID_PARAM, ERR_CANT_OPEN_FILE, ERR_CB_FILE_INVALID,
/// ERR_NO_MEM.
int cam_bad_file_read(const char* path, cam_bad_entry_t* table, int* count, std::string* message);

/// Reads one section into `entry`; `line` counts the file's lines across
/// calls. *end is 1 when the file ended before any line of content. A header
/// that starts the next section is kept in `file` for the next call.
/// Errors: ERR_INVALID_PARAM, ERR_CB_FILE_INVALID (the list released), ERR_NO_MEM.
int cam_bad_section_read(cam_bad_file_t* file, cam_bad_entry_t* entry, int* line, int* end,
                         std::string* message);

/// Sorts each list by x, then y, and keeps one of each point.
int cam_bad_sort(cam_bad_entry_t* table, int count);

/// Releases the record's table and its lists; the count becomes 0.
void cam_bad_release(sysInfo_t* s);
