// The instrument's ramp table: the ramps a system can use, built at start-up
// from the ramp configuration file or from the ramp directory, and the
// operations that place them in the board's slots, start them, wait for the
// ramp engine, set their gain and adjust their slope.
//
// The table lives in the system information record (sysInfo_t::ramps) from
// rr_get_ramp_info until the next call or the record's reset; entries own
// their points. One thread works a record's ramps at a time.
//
// Serial boards go through the board protocol (ur_, uz_). The Dune board
// (type 5) and the CAN instruments (type 8) go through a back end that their
// own code registers with rr_set_board_backend; until then those branches
// give ERR_NOT_IMPLEMENTED and no instrument has external-profile ramps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "instrument/ramps/ramp_file.h"

struct sysInfo_t;

inline constexpr int RR_MAX_RAMPS = 254;      // entries of a table, files of a directory
inline constexpr uint8_t RR_NO_SLOT = 255;    // an entry not in the board, an empty slot
inline constexpr int RR_SLOT_TABLE_SIZE = 256;

// One usable ramp.
struct rr_ramp_info_t {
  rr_ramp_info_t() = default;
  ~rr_ramp_info_t();
  rr_ramp_info_t(rr_ramp_info_t&& other) noexcept;
  rr_ramp_info_t& operator=(rr_ramp_info_t&& other) noexcept;
  rr_ramp_info_t(const rr_ramp_info_t&) = delete;
  rr_ramp_info_t& operator=(const rr_ramp_info_t&) = delete;

  std::string name;  // the file, the directory entry, or "+" and the base's name
  rr_ramp_hdr_t header{};
  uint16_t* points = nullptr;  // header.nPoints of them, from the allocation hooks, owned
  uint8_t slot = RR_NO_SLOT;   // the board slot holding it
  int32_t duration = 0;        // ms
  int32_t direction = 1;       // 1 or 2
  double sortKey = 0;
  double velocity = 0;         // um/s, negative for direction 2
  double timeTilOffset = 0;    // s, SWLI and BTW
  int32_t gain = 0;            // PMI: the ramp gain
  int32_t hide = 0;
  int64_t lastUse = 0;         // seconds; set by the code that uses the ramp
};

// The table: entries in memory from the allocation hooks.
class rr_ramp_table_t {
 public:
  rr_ramp_table_t() = default;
  ~rr_ramp_table_t() { clear(); }
  rr_ramp_table_t(rr_ramp_table_t&& other) noexcept;
  rr_ramp_table_t& operator=(rr_ramp_table_t&& other) noexcept;
  rr_ramp_table_t(const rr_ramp_table_t&) = delete;
  rr_ramp_table_t& operator=(const rr_ramp_table_t&) = delete;

  // Room for `n` default entries, replacing what the table held; false (and
  // an empty table) when the hook refuses.
  bool allocate(int n);
  void clear();
  int size() const { return size_; }
  bool empty() const { return size_ == 0; }
  rr_ramp_info_t& operator[](int i) { return entries_[i]; }
  const rr_ramp_info_t& operator[](int i) const { return entries_[i]; }
  rr_ramp_info_t* begin() { return entries_; }
  rr_ramp_info_t* end() { return entries_ + size_; }
  const rr_ramp_info_t* begin() const { return entries_; }
  const rr_ramp_info_t* end() const { return entries_ + size_; }

 private:
  rr_ramp_info_t* entries_ = nullptr;
  int size_ = 0;
};

// The ramp state of a record.
struct sb_ramp_state_t {
  sb_ramp_state_t();
  rr_ramp_table_t table;
  int32_t pmiCount = 0;
  uint8_t configMode = 0;                  // built from the configuration file
  uint8_t slotTable[RR_SLOT_TABLE_SIZE];   // the rampID each board slot holds, RR_NO_SLOT when empty
  int32_t current = -1;                    // the entry gain and slope changes apply to; -1 none
  // The pifoc scanner's diagnostics: leakage and gain measurements logged,
  // and whether leakage measurements are made at all.
  bool pifocDiagnostics = false;
  bool leakageMeasurement = false;
};

// ---- back ends of the boards without the serial protocol
struct rr_board_backend_t {
  int (*download)(sysInfo_t* info, int slot, rr_ramp_info_t* entry) = nullptr;
  int (*start)(sysInfo_t* info, int slot, int index) = nullptr;
  int (*idle)(sysInfo_t* info, int* idle) = nullptr;
  int (*set_gain)(sysInfo_t* info, rr_ramp_info_t* entry, int gain) = nullptr;
  int (*slot_count)(const sysInfo_t* info) = nullptr;
  bool (*external_profiles)(const sysInfo_t* info) = nullptr;
  // The offset-crossing time of an instrument whose scanner sets it itself;
  // false to compute it from the points.
  bool (*crossing_time)(const sysInfo_t* info, const rr_ramp_info_t* entry, double* seconds) = nullptr;
};
// For BD_DUNE or BD_CAN; null removes it. Returns false for another type.
bool rr_set_board_backend(int board_type, const rr_board_backend_t* backend);

// A record counts as active (acquisition started) while this flag is set;
// the acquisition start-up sets it, hosts without a camera set it here.
int sb_set_acquisition_active(int slot, bool on);

// ---- building the table
int rr_get_ramp_info(sysInfo_t* info);
int rr_save_ramp_config(sysInfo_t* info, const char* path);
int rr_check_ramp_compat(rr_ramp_hdr_t* header, const char* name, int board_type, int pifoc_serial,
                         int pzt_serial);
int rr_get_max_num_instr_ramps(const sysInfo_t* info);
// Makes entry `index` the current one (-1: none); ERR_INVALID_RAMP_INDEX
// outside the table.
int rr_set_current_ramp(sysInfo_t* info, int index);
// The first entry whose `polar` is `kind` (a letter such as 'b' or 'u');
// null when there is none.
const rr_ramp_info_t* rr_first_ramp_of_kind(const sysInfo_t* info, char kind);

// ---- using it
// "SWLI", "PMI", "BTW", "FR" or "?".
const char* rr_type_name(int ramp_type);
// The phase code of a fringes-per-frame value (within 0.001), and the
// fringes per frame of a scan type; ERR_INTERNAL_FB for values not listed.
int rr_fringes_code(double fringes_per_frame, int* code);
int rr_scan_type_fringes(int scan_type, double* fringes_per_frame);

bool rr_ramp_matches(const sysInfo_t* info, int index, int type, int n_buckets, double scan_len, int ramp_mux,
                     double camera_rate, int grab_skip, char* reason, std::size_t capacity);
int rr_find_ramp(const sysInfo_t* info, int type, int n_buckets, double scan_len, int ramp_mux, double camera_rate,
                 int grab_skip);
int rr_load_ramp(sysInfo_t* info, int index);
int rr_ramp_start_slot(sysInfo_t* info, int slot);
int rr_ramp_start_index(sysInfo_t* info, int index);
int rr_ramp_delete(sysInfo_t* info, int slot);
int rr_wait_ramp_idle(sysInfo_t* info, int seconds);
int rr_setRampGain(sysInfo_t* info, int gain);
int rr_adjust_ramp_slope(sysInfo_t* info, int index, double factor);
int rr_assign_ramp_id(sysInfo_t* info, int index);
int rr_derive_ramp(const rr_ramp_info_t* base, rr_ramp_info_t* derived, const rr_ramp_line_t* cfg);
int rr_calc_time_til_offset_crossing(rr_ramp_info_t* entry, double sample_clock_khz);
