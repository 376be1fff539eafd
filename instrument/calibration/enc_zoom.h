/// @file
/// The encoded zoom of a Kite system: its magnification calibration file and
/// the set-up of the zoom node (node 64).
///
/// The calibration file maps the zoom drive's encoder position to the
/// magnification. Its first line is a title; every further line holds one
/// pair, the position and the magnification, separated by a blank, a comma,
/// or a comma and a blank, both strictly increasing, 2 to 100 pairs:
///
///   Kite zoom calibration, serial 1234
///   0, 0.8
///   5000, 2.0
///
/// The table lands in the encoded zoom record of the system information
/// record and is read again only when the file has changed.
#pragma once

#include <cstdint>
#include <string>

#include "common/pair_table.h"

struct sysInfo_t;
struct sb_enc_zoom_t;

/// Reads a calibration file into *table, replacing what it held only on
/// success. `message` (null: none) is cleared, then receives the whole error
/// text; nothing is logged. ERR_INVALID_PARAM without a path or table,
/// ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE when the file does not open,
/// ERR_KITE_ENC_ZOOM_INVALID_CAL_FILE for the first error in it, ERR_NO_MEM.
int kite_enc_zoom_read_cal(const char* path, u_pair_table_t* table, std::string* message);

/// Fills zoom->calTable from the calibration file, unless the table came from
/// a file that is still there and unchanged. The file is the one last loaded,
/// else zoom->calFile, else Kite/ZoomCal.txt, looked for like every
/// configuration file. On any failure the table is left empty.
/// ERR_INVALID_PARAM without a record, the codes of kite_enc_zoom_read_cal.
int kite_enc_zoom_load_cal(sb_enc_zoom_t* zoom, std::string* message);

/// The zoom node's set-up, done when the instrument comes on: checks the
/// firmware, sets the motion mode and the wand limits, sends the backlash and
/// loads the calibration (a missing file is not an error). Does nothing
/// without an encoded zoom (bit 0 of encZoom->config). The first failing
/// step's code.
int kite_enc_zoom_set_backlash(sysInfo_t* s);
/// ERR_KITE_ENC_ZOOM_FIRMWARE_VERSION_OLD (logged) below version 4.3, or the
/// code of the failed version read.
int kite_enc_zoom_check_firmware(sysInfo_t* s);
/// Position mode, then the record's wand limits as soft limits.
int kite_enc_zoom_set_motion_mode(sysInfo_t* s);
/// Low limit first; a refused low limit leaves the high one unsent.
int kite_enc_zoom_set_soft_limits(int32_t low, int32_t high);
