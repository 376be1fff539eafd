/// @file
/// The ramps a record holds: the 328-byte header of a ramp data file (in host
/// order) and the ramp table of the system information record with its
/// entries. Ramp files are read and written by instrument/ramps/ramp_file.h;
/// the table is built and used by instrument/ramps/ramp_table.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr int32_t RR_MAGIC = 0x52414D51;  ///< "RAMQ"

// Ramp types (rampType).
inline constexpr int32_t RR_TYPE_SWLI = 0;       ///< a scanning ramp, by scan length and slope
inline constexpr int32_t RR_TYPE_PMI = 1;        ///< 1..15: PMI variants
inline constexpr int32_t RR_TYPE_PMI_LAST = 15;  ///< the last PMI variant
inline constexpr int32_t RR_TYPE_BTW =
    17;  ///< a scanning ramp for one filter (wavelength index 1..4)

/// The 328-byte header of a ramp data file, in host order.
struct rr_ramp_hdr_t {
  int32_t magicNumber;      ///< RR_MAGIC
  int32_t rampType;         ///< an RR_TYPE_ value
  int32_t pztID;            ///< serial number of the scanner the ramp was made for
  int32_t rampID;           ///< ramp identifier used on the instrument board
  int32_t nPoints;          ///< points that follow the header
  int32_t rampUp;           ///< point index: end of the run-up
  int32_t rampStart;        ///< point index: start of the scan
  int32_t rampLinear;       ///< point index: start of the linear part
  int32_t rampEnd;          ///< point index: end of the scan
  float sampleClkFreq;      ///< kHz
  float cameraRate;         ///< Hz
  int32_t updateRate;       ///< ramp update rate code sent to the board
  int32_t grabSkip;         ///< frames skipped between grabs
  float rampSlope;          ///< nm per frame
  int32_t trigStartAddr;    ///< point index where the camera trigger starts
  int32_t trigEndAddr;      ///< point index where the camera trigger ends
  int32_t rampGainDflt;     ///< default ramp gain
  float rampTriple[3];      ///< triple-PZT ramp factors
  float scanLen;            ///< um
  int32_t polar;            ///< a character code, used in file names
  int32_t offset;           ///< ramp offset
  int32_t nBuckets;         ///< frames (buckets) of a PMI ramp
  float rampLin;            ///< linearity parameter
  float rampTrim;           ///< trim parameter
  float cameraPClock;       ///< camera pixel clock
  int32_t cameraHPeriod;    ///< camera horizontal period
  int32_t cameraVPeriod;    ///< camera vertical period
  int32_t cameraInterlace;  ///< 1 for interlaced fields, else 0
  int32_t rampMux;          ///< ramp output selector
  int32_t instrBdType;      ///< instrument board type the ramp was made for
  int32_t compGain;         ///< compensation gain
  int32_t compFilter;       ///< compensation filter
  int32_t leakage;          ///< leakage
  int32_t adcMin;           ///< ADC minimum
  int32_t adcMax;           ///< ADC maximum
  int32_t adcFirst;         ///< ADC first
  int32_t adcMid;           ///< ADC middle
  int32_t adcLast;          ///< ADC last
  float scanCal;            ///< scan calibration factor (near 1.0)
  int32_t reserved1;        ///< the last big-endian word
  // From here on the file holds little-endian words.
  float fringesPerFrame;  ///< fringes per frame (0.125 or 0.25 normal, 0.75 or 1.25 sub-Nyquist)
  float objMag;           ///< nominal objective magnification (BTW ramps)
  int32_t wavelenSelect;  ///< wavelength (filter) index of BTW ramps
  int32_t reserved2;      ///< reserved
  int32_t dirFlag;        ///< 0 reverses the ramp direction
  int32_t reserved3[2];   ///< reserved
  char spare[132];        ///< spare
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

inline constexpr int RR_MAX_RAMPS = 254;        ///< entries of a table, files of a directory
inline constexpr uint8_t RR_NO_SLOT = 255;      ///< an entry not in the board, an empty slot
inline constexpr int RR_SLOT_TABLE_SIZE = 256;  ///< bytes of the board slot table

/// One usable ramp.
struct rr_ramp_info_t {
  rr_ramp_info_t() = default;
  ~rr_ramp_info_t();
  /// Takes over other's points; other is left without them.
  rr_ramp_info_t(rr_ramp_info_t&& other) noexcept;
  /// Releases the points held, then takes over other's.
  rr_ramp_info_t& operator=(rr_ramp_info_t&& other) noexcept;
  rr_ramp_info_t(const rr_ramp_info_t&) = delete;
  rr_ramp_info_t& operator=(const rr_ramp_info_t&) = delete;

  std::string name;            ///< the file, the directory entry, or "+" and the base's name
  rr_ramp_hdr_t header{};      ///< the ramp file's header
  uint16_t* points = nullptr;  ///< header.nPoints of them, from the allocation hooks, owned
  uint8_t slot = RR_NO_SLOT;   ///< the board slot holding it
  int32_t duration = 0;        ///< ms
  int32_t direction = 1;       ///< 1 or 2
  double sortKey = 0;   ///< directory mode sorts by it: scan length and slope (SWLI), scan length
                        ///< (BTW), nBuckets (PMI)
  double velocity = 0;  ///< um/s, negative for direction 2
  double timeTilOffset = 0;  ///< s, SWLI and BTW
  int32_t gain = 0;          ///< PMI: the ramp gain
  int32_t hide = 0;          ///< 1 hides the ramp from the user
  int64_t lastUse = 0;       ///< seconds; set by the code that uses the ramp
};

/// The table: entries in memory from the allocation hooks.
class rr_ramp_table_t {
 public:
  rr_ramp_table_t() = default;
  ~rr_ramp_table_t() { clear(); }
  /// Takes over other's entries; other is left empty.
  rr_ramp_table_t(rr_ramp_table_t&& other) noexcept;
  /// Releases the entries held, then takes over other's.
  rr_ramp_table_t& operator=(rr_ramp_table_t&& other) noexcept;
  rr_ramp_table_t(const rr_ramp_table_t&) = delete;
  rr_ramp_table_t& operator=(const rr_ramp_table_t&) = delete;

  /// Room for `n` default entries, replacing what the table held; false (and
  /// an empty table) when the hook refuses.
  bool allocate(int n);
  /// Releases every entry (and its points) and the block.
  void clear();
  /// Entries in the table.
  int size() const { return size_; }
  /// True without entries.
  bool empty() const { return size_ == 0; }
  /// Entry `i` (unchecked).
  rr_ramp_info_t& operator[](int i) { return entries_[i]; }
  /// Entry `i` (unchecked).
  const rr_ramp_info_t& operator[](int i) const { return entries_[i]; }
  /// The first entry.
  rr_ramp_info_t* begin() { return entries_; }
  /// Past the last entry.
  rr_ramp_info_t* end() { return entries_ + size_; }
  /// The first entry.
  const rr_ramp_info_t* begin() const { return entries_; }
  /// Past the last entry.
  const rr_ramp_info_t* end() const { return entries_ + size_; }

 private:
  rr_ramp_info_t* entries_ = nullptr;
  int size_ = 0;
};

/// The ramp state of a record.
struct sb_ramp_state_t {
  /// An empty table; every slot of slotTable RR_NO_SLOT.
  sb_ramp_state_t();
  rr_ramp_table_t table;   ///< the ramps, from rr_get_ramp_info
  int32_t pmiCount = 0;    ///< PMI entries of the table
  uint8_t configMode = 0;  ///< built from the configuration file
  uint8_t
      slotTable[RR_SLOT_TABLE_SIZE];  ///< the rampID each board slot holds, RR_NO_SLOT when empty
  int32_t current = -1;               ///< the entry gain and slope changes apply to; -1 none
  /// The pifoc scanner's diagnostics: leakage and gain measurements logged,
  /// and whether leakage measurements are made at all.
  bool pifocDiagnostics = false;
  bool leakageMeasurement = false;  ///< leakage measurements are made (see pifocDiagnostics)
};
