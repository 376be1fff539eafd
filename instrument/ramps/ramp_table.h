/// @file
/// The instrument's ramp table: the ramps a system can use, built at start-up
/// from the ramp configuration file or from the ramp directory, and the
/// operations that place them in the board's slots, start them, wait for the
/// ramp engine, set their gain and adjust their slope.
///
/// The table lives in the system information record (sysInfo_t::ramps) from
/// rr_get_ramp_info until the next call or the record's reset; entries own
/// their points. One thread works a record's ramps at a time.
///
/// Serial boards go through the board protocol (ur_, uz_). The Dune board
/// (type 5) and the CAN instruments (type 8) go through a back end that their
/// own code registers with rr_set_board_backend; until then those branches
/// give ERR_NOT_IMPLEMENTED and no instrument has external-profile ramps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "instrument/ramps/ramp_file.h"
#include "instrument/record/ramp_types.h"

struct sysInfo_t;

// ---- back ends of the boards without the serial protocol

/// The ramp operations of a board without the serial protocol (Dune, CAN).
/// An entry left null gives ERR_NOT_IMPLEMENTED where it is needed.
struct rr_board_backend_t {
  /// Puts the entry's ramp into board slot `slot`; an error code.
  int (*download)(sysInfo_t* info, int slot, rr_ramp_info_t* entry) = nullptr;
  /// Starts the ramp in `slot` (table entry `index`, -1 none); an error code.
  int (*start)(sysInfo_t* info, int slot, int index) = nullptr;
  /// Sets *idle when the ramp engine is idle; an error code.
  int (*idle)(sysInfo_t* info, int* idle) = nullptr;
  /// Sets the entry's ramp gain on the board; an error code.
  int (*set_gain)(sysInfo_t* info, rr_ramp_info_t* entry, int gain) = nullptr;
  /// The number of board ramp slots.
  int (*slot_count)(const sysInfo_t* info) = nullptr;
  /// True when the instrument has external-profile ramps.
  bool (*external_profiles)(const sysInfo_t* info) = nullptr;
  /// The offset-crossing time of an instrument whose scanner sets it itself;
  /// false to compute it from the points.
  bool (*crossing_time)(const sysInfo_t* info, const rr_ramp_info_t* entry,
                        double* seconds) = nullptr;
};
/// Registers the back end of BD_DUNE or BD_CAN; null removes it. The table
/// is kept, not copied. Returns false for another type.
bool rr_set_board_backend(int board_type, const rr_board_backend_t* backend);

/// A record counts as active (acquisition started) while this flag is set;
/// the acquisition start-up sets it, hosts without a camera set it here.
int sb_set_acquisition_active(int slot, bool on);

// ---- building the table

/// Builds the record's ramp table: from the ramp configuration file the
/// record names when it can be read, else from the files of the ramp
/// directory whose extension number is the pifoc or PZT serial; then clears
/// or reconciles the board's slots. ERR_SYS_INFO_NOT_AVAIL without an active
/// record, ERR_WRONG_SYSTEM_TYPE, ERR_NO_RAMP_INFO when no ramp is usable,
/// the configuration reader's and the board's codes; failures are logged.
int rr_get_ramp_info(sysInfo_t* info);
/// Writes the record's table as a ramp configuration file at `path`.
/// ERR_SYS_INFO_NOT_AVAIL without a record, ERR_NO_RAMP_INFO without a
/// table, ERR_INVALID_RAMP_INDEX for a count outside 1..254, ERR_INVALID_PARAM
/// without a path, else rr_write_ramp_config's codes.
int rr_save_ramp_config(sysInfo_t* info, const char* path);
/// Whether a ramp file (`name`, for messages) fits the instrument: its board,
/// its type against the scanner fitted (-1: none), and its fringes per frame.
/// A different scanner serial is logged and replaced in `header`, and so is a
/// fringes per frame value that is worked out. ERR_WRONG_INSTR_BOARD,
/// ERR_INVALID_PARAM, ERR_CORRUPT_RAMP_FILE (unknown type).
int rr_check_ramp_compat(rr_ramp_hdr_t* header, const char* name, int board_type, int pifoc_serial,
                         int pzt_serial);
/// The number of board ramp slots: 12 for board types 1 and 7, 4 for 3, 5
/// and 6, the back end's count for the CAN board; 0 (logged) for another type.
int rr_get_max_num_instr_ramps(const sysInfo_t* info);
/// Makes entry `index` the current one (-1: none); ERR_INVALID_RAMP_INDEX
/// outside the table.
int rr_set_current_ramp(sysInfo_t* info, int index);
/// The first entry whose `polar` is `kind` (a letter such as 'b' or 'u');
/// null when there is none.
const rr_ramp_info_t* rr_first_ramp_of_kind(const sysInfo_t* info, char kind);

// ---- using it
/// "SWLI", "PMI", "BTW", "FR" or "?" (a static text).
const char* rr_type_name(int ramp_type);
/// The phase code of a fringes-per-frame value (within 0.001), and the
/// fringes per frame of a scan type; ERR_INTERNAL_FB for values not listed.
int rr_fringes_code(double fringes_per_frame, int* code);
/// The fringes per frame of a scan type (see rr_fringes_code); ERR_INTERNAL_FB
/// (logged) for a scan type not listed.
int rr_scan_type_fringes(int scan_type, double* fringes_per_frame);

/// True when table entry `index` fits the request: type (any PMI variant fits
/// type 1), and each of nBuckets, scan length (within 1), rampMux, camera
/// rate (within 0.1) and grab skip when the request gives it (above 0, or 0
/// or more for rampMux and grab skip), and the board. Otherwise false with
/// the reason in `reason` (null: none; `capacity` bytes). Never logs.
bool rr_ramp_matches(const sysInfo_t* info, int index, int type, int n_buckets, double scan_len,
                     int ramp_mux, double camera_rate, int grab_skip, char* reason,
                     std::size_t capacity);
/// The index of the first entry for which rr_ramp_matches holds; -1 for none,
/// or without an active record and table.
int rr_find_ramp(const sysInfo_t* info, int type, int n_buckets, double scan_len, int ramp_mux,
                 double camera_rate, int grab_skip);
/// Puts entry `index` into a board slot unless it has one: the lowest free
/// slot, else the slot of the entry used longest ago. ERR_INVALID_PARAM
/// without slots, the download's codes; failures are logged.
int rr_load_ramp(sysInfo_t* info, int index);
/// Starts the ramp in board slot `slot`. ERR_WRONG_INSTR_BOARD (logged) for a
/// board without ramps, the board's codes.
int rr_ramp_start_slot(sysInfo_t* info, int slot);
/// Starts entry `index` in its board slot; ERR_INVALID_PARAM when it has none
/// (CAN instruments start by entry). Codes as rr_ramp_start_slot.
int rr_ramp_start_index(sysInfo_t* info, int index);
/// Deletes board slot `slot` on serial boards; other boards: nothing, 0.
int rr_ramp_delete(sysInfo_t* info, int slot);
/// Polls the ramp engine every 50 ms (through u_poll_pause) for up to
/// `seconds` and returns once it is idle. ERR_SYS_INFO_NOT_AVAIL without a
/// record; a poll's failure is returned; an abort ends the wait at once with
/// u_poll_pause's code; a timeout resets a serial board's ramp engine and
/// gives ERR_RAMP_WAIT_TIMEOUT.
int rr_wait_ramp_idle(sysInfo_t* info, int seconds);
/// Sets the gain of the current ramp on the board and stores it in the entry.
/// ERR_NO_RAMP_INFO without a table or current ramp, ERR_WRONG_INSTR_BOARD,
/// ERR_PARAM_OUT_OF_RANGE for a PMI gain beyond the board's range,
/// ERR_INVALID_PARAM, the board's and the wave monitor's codes.
int rr_setRampGain(sysInfo_t* info, int gain);
/// Multiplies the slope and sample clock of SWLI or BTW entry `index` by
/// `factor` and works out the update rate and nBuckets again; a copy in a
/// board slot is out of date then. ERR_NO_RAMP_INFO, ERR_INVALID_PARAM for
/// another type, the board's codes.
int rr_adjust_ramp_slope(sysInfo_t* info, int index, double factor);
/// Gives entry `index` the lowest ramp ID (0..254) no other entry holds.
/// ERR_NO_RAMP_INFO without a table, ERR_INVALID_RAMP_INDEX outside it,
/// ERR_PARAM_OUT_OF_RANGE (logged) when every ID is taken.
int rr_assign_ramp_id(sysInfo_t* info, int index);
/// Derives `derived` (without points) from the SWLI entry `base` for a "+"
/// configuration line `cfg`: the line's settings, the points resampled to a
/// shorter scan, the sample clock scaled to the new speed. The new points
/// come from the allocation hooks and belong to `derived`. ERR_INVALID_PARAM,
/// ERR_PARAM_OUT_OF_RANGE (longer scan), ERR_NO_MEM; a rule the line breaks is logged.
int rr_derive_ramp(const rr_ramp_info_t* base, rr_ramp_info_t* derived, const rr_ramp_line_t* cfg);
/// Stores in the entry the time from the scan's first frame until the points
/// cross the offset, at `sample_clock_khz`. SWLI and BTW entries with points
/// only: ERR_NO_RAMP_INFO or ERR_INVALID_PARAM otherwise;
/// ERR_CORRUPT_RAMP_FILE when the points never cross.
int rr_calc_time_til_offset_crossing(rr_ramp_info_t* entry, double sample_clock_khz);
