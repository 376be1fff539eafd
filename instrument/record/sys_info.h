/// @file
/// The system information record: what the library knows about one
/// instrument system (model, frame grabber, board, camera, light source,
/// magnifications, axes, peripherals and calibration constants), read from
/// and written to the system calibration file (instrument/calibration/cal_file.h).
///
/// The record and the types of its parts are the floor of instrument/: every
/// subsystem stands on this layer, which includes only common/, data/ and
/// platform/.
///
/// Four static slots hold one record each. Every text is owned by its record,
/// and so is every sub-record; sub-records are created through the allocation
/// hooks, so running out of memory is an error code rather than an exception.
/// Later subsystems extend the record with their own fields and sub-records.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/hooks.h"
#include "common/pair_table.h"
#include "instrument/record/acq_state.h"
#include "instrument/record/lumen_types.h"
#include "instrument/record/ramp_types.h"
#include "instrument/record/serial_types.h"

// ---- enumerations (stored as 32-bit integers)

/// System types (`sysInfo_t::systemType`), set by the calibration's system line.
enum : int32_t {
  SYS_UNKNOWN = 0,
  SYS_ALDER = 1,
  SYS_BIRCH = 2,
  SYS_BIRCH2 = 3,
  SYS_KITE = 4,
  SYS_BIRCH3 = 5,
  SYS_BIRCH4 = 6,
  SYS_BIRCH5 = 7,
  SYS_ALDER2 = 8,
  SYS_JASPER = 9,
  SYS_BIRCH6 = 10,
  SYS_BIRCH7 = 11,
  SYS_BIRCH8 = 12,
  SYS_BIRCH9 = 13,
  SYS_DUNE = 14,
  SYS_IRIS = 15,
  SYS_LUMEN = 16,
  SYS_EMBER = 17,
  SYS_GLEN = 18,
  SYS_HERON = 19,
  SYS_BIRCH10 = 20,
  SYS_COBALT = 21,
  SYS_FJORD1 = 22,
  SYS_KITECAN = 23,
  SYS_ALDER3 = 24,
  SYS_ALDER4 = 25,
  SYS_GLENCAN = 26,
  SYS_KITE2 = 27,
  SYS_FJORD2 = 28,
  SYS_FJORD3 = 29,
  SYS_HERON_CAN = 30,
  SYS_FJORD4 = 31,
  SYS_KITE2CAN = 32,
  SYS_IRIS_CAN = 33,
  SYS_FJORD5 = 34,
  SYS_FJORD6 = 35,
  SYS_SPECIAL = 36,
};

// ---- named sets of system types, as the subsystems test them (with
// sb_system_type_in or felbrin::is_one_of); each set is written once, here.

/// The Fjord family of CAN instruments, brought up by can_fjord_on: Birch7,
/// Birch9, Fjord1, Fjord2, Fjord4, Fjord5.
inline constexpr std::initializer_list<int32_t> SB_FJORD_TYPES = {
    SYS_BIRCH7, SYS_BIRCH9, SYS_FJORD1, SYS_FJORD2, SYS_FJORD4, SYS_FJORD5};
/// The Fjord instruments brought up by can_fjordp_on: Fjord3, Fjord6.
inline constexpr std::initializer_list<int32_t> SB_FJORDP_TYPES = {SYS_FJORD3, SYS_FJORD6};
/// The Kite family of CAN instruments, brought up by can_kite_on: KiteCan,
/// Alder4, GlenCan, Heron_CAN, Kite2Can, Iris_CAN.
inline constexpr std::initializer_list<int32_t> SB_KITE_CAN_TYPES = {
    SYS_KITECAN, SYS_ALDER4, SYS_GLENCAN, SYS_HERON_CAN, SYS_KITE2CAN, SYS_IRIS_CAN};
/// The Kite-family instruments without the triple PZT and the large aperture,
/// and without a camera bad-pixel table at power-on: Kite2Can, Iris_CAN.
inline constexpr std::initializer_list<int32_t> SB_KITE2_CAN_TYPES = {SYS_KITE2CAN, SYS_IRIS_CAN};
/// The CAN instruments with a wave monitor: Heron_CAN, Kite2Can, Iris_CAN.
inline constexpr std::initializer_list<int32_t> SB_CAN_WAVE_MONITOR_TYPES = {
    SYS_HERON_CAN, SYS_KITE2CAN, SYS_IRIS_CAN};
/// The serial-board instruments with a wave monitor: Heron, Kite2.
inline constexpr std::initializer_list<int32_t> SB_SERIAL_WAVE_MONITOR_TYPES = {SYS_HERON,
                                                                                SYS_KITE2};
/// The Kite-family instruments whose ring/spot disk reports its moves:
/// KiteCan, Heron_CAN, Kite2Can.
inline constexpr std::initializer_list<int32_t> SB_RS_DD_STATUS_TYPES = {SYS_KITECAN, SYS_HERON_CAN,
                                                                         SYS_KITE2CAN};
/// The instruments whose scanner is a pifoc: their ramp table needs the
/// pifoc sub-record.
inline constexpr std::initializer_list<int32_t> SB_PIFOC_SCANNER_TYPES = {
    SYS_BIRCH3, SYS_BIRCH5, SYS_BIRCH7, SYS_BIRCH9, SYS_BIRCH10,
    SYS_FJORD1, SYS_FJORD2, SYS_FJORD4, SYS_FJORD5};
/// The instruments whose ramps are chosen by the pifoc serial alone, not by
/// the record's serial number: Birch3, Birch7.
inline constexpr std::initializer_list<int32_t> SB_RAMPS_BY_PIFOC_TYPES = {SYS_BIRCH3, SYS_BIRCH7};
/// The instruments whose ramps run in direction 1 (before the pifoc
/// polarity and the ramp's own direction flag): Fjord1, Fjord2, Fjord4, Fjord5.
inline constexpr std::initializer_list<int32_t> SB_FORWARD_RAMP_TYPES = {SYS_FJORD1, SYS_FJORD2,
                                                                         SYS_FJORD4, SYS_FJORD5};
/// The instruments whose Z axis is left unhomed at motion set-up when the
/// stage homes Z at its limit: the Birch and Fjord models.
inline constexpr std::initializer_list<int32_t> SB_Z_HOMED_AT_LIMIT_TYPES = {
    SYS_BIRCH3, SYS_BIRCH4, SYS_BIRCH5, SYS_BIRCH7, SYS_BIRCH8, SYS_BIRCH9,
    SYS_FJORD1, SYS_FJORD2, SYS_FJORD3, SYS_FJORD4, SYS_FJORD5, SYS_FJORD6};

/// Instrument board types (`sysInfo_t::instrBdType`), set by the Version line.
enum : int32_t {
  BD_NONE = 0,
  BD_SABLE = 1,
  BD_TARN = 2,
  BD_KITE = 3,
  BD_UMBER = 4,
  BD_DUNE = 5,
  BD_IRIS = 6,
  BD_LUMEN = 7,
  BD_CAN = 8,
  BD_NOTNEEDED = 9,
};

/// Frame grabbers (`sysInfo_t::frameGrabber`), set by the Version line.
enum : int32_t {
  FG_NONE = 0,
  FG_RPC = 1,
  FG_MATROX = 2,
  FG_PULSAR = 3,
  FG_GENESIS = 4,
  FG_CORONA = 5,
  FG_BANDIT = 6,
  FG_FIREWIRE = 7,
  FG_CAMERALINK = 8,
  FG_FLASHBUS = 9,
  FG_GIGE = 10,
  FG_X64LVDS = 11,
  FG_PC2VISION = 12,
};

/// Camera types (`sysInfo_t::cameraType`), set by Camera Type.
enum : int32_t {
  CAM_UNKNOWN = 0,
  CAM_XC77CE = 1,
  CAM_P62505 = 2,
  CAM_CID2220 = 3,
  CAM_VIDICON = 4,
  CAM_EEV1715A = 5,
  CAM_TM6705 = 6,
  CAM_XC7500 = 7,
  CAM_XC7500S = 8,
  CAM_SMD4M15 = 9,
  CAM_INFRACAMA = 10,
  CAM_CID2250 = 11,
  CAM_CUSTOM = 12,
  CAM_TM6710 = 13,
  CAM_SIM200 = 14,
  CAM_BASLER = 15,
  CAM_SU320 = 16,
  CAM_DGFLY640 = 17,
  CAM_DGFLY1024 = 18,
  CAM_IMPERXVGA = 19,
  CAM_ADIMEC1000 = 20,
  CAM_A311F = 21,
  CAM_A312F = 22,
  CAM_TM6740 = 23,
  CAM_DGFLY6200 = 24,
  CAM_SCA640 = 25,
  CAM_ADIMEC4050 = 26,
  CAM_ADIMEC4150 = 27,
  CAM_PIA640 = 28,
  CAM_E2V7899 = 29,
  CAM_PIA1000 = 30,
  CAM_SCA640G = 31,
  CAM_A504K = 32,
};

/// Light types (`sysInfo_t::lightType`), set by Light.
enum : int32_t {
  LIGHT_UNKNOWN = 0,
  LIGHT_HENE = 1,
  LIGHT_DIODE = 2,
  LIGHT_WHITE = 3,
  LIGHT_SPECIAL = 4,
  LIGHT_LED = 5
};
/// Camera alignments (`sysInfo_t::cameraAlign`), set by Camera Align.
enum : int32_t { ALIGN_DEFAULT = 0, ALIGN_CENTER = 1, ALIGN_TOPLEFT = 2 };
/// Light level controller instruments (`sysInfo_t::llcInstr`), set by LLC Instr.
enum : int32_t { LLC_NONE = 0, LLC_WREN = 1, LLC_WREN_B = 2, LLC_DUNE = 3 };
/// Position instruments (`sysInfo_t::posInstr`), set by PosInstr.
enum : int32_t {
  POS_NONE = 0,
  POS_QUARTZ = 1,
  POS_TMI = 2,
  POS_HEID = 3,
  POS_LCDMI = 4,
  POS_MICROLYNX = 5,
  POS_ZENCODER = 6,
  POS_USDED2 = 7,
  POS_TMI501 = 8,
  POS_METRONICS = 9,
  POS_FHXTMI501 = 10,
  POS_RENISHAW_STEPNET = 11,
  POS_STEPNET = 12,
};
/// Temperature sensors (`sysInfo_t::tempSensor`), set by TempSensor.
enum : int32_t { TEMP_NONE = 0, TEMP_EURO2216E = 1 };

/// Camera split axes.
enum : int32_t { SPLIT_NONE = 0, SPLIT_X = 1, SPLIT_Y = 2 };

inline constexpr int SB_SLOTS = 4;            ///< records in sysInfo
inline constexpr int SB_MAX_MAGS = 15;        ///< magnifications of a record
inline constexpr int SB_MAX_BAD_PIXELS = 40;  ///< entries of `sysInfo_t::badPixels`
inline constexpr int SB_CAMERA_FILES = 6;     ///< camera file names of a record
inline constexpr int SB_AXES = 8;             ///< axis order A, B, P, R, T, X, Y, Z
inline constexpr int SB_LUMEN_VALUES = 10;    ///< Lumen dispersion and K0 values per magnification
/// The "not set" value of single-precision constants.
inline constexpr float SB_FLOAT_UNSET = std::numeric_limits<float>::max();
inline constexpr double SB_INF = std::numeric_limits<double>::infinity();  ///< +infinity, "not set"

/// The ramp configuration file name a record starts with.
inline constexpr const char* SB_DEFAULT_RAMP_CONFIG = "rampcfg.txt";

// ---- sub-records

namespace felbrin {

/// Frees a sub-record made by make_hooked through the allocation hooks.
template <class T>
struct HookedDelete {
  /// Destroys `*p` and frees its memory.
  void operator()(T* p) const {
    p->~T();
    u_free_fn(p);
  }
};
/// An owned sub-record in memory from the allocation hooks.
template <class T>
using Hooked = std::unique_ptr<T, HookedDelete<T>>;

/// A value-initialised T in memory from the allocation hooks; empty when the
/// hook refuses.
template <class T>
Hooked<T> make_hooked() {
  void* memory = u_calloc_fn(1, sizeof(T));
  if (memory == nullptr) return Hooked<T>();
  return Hooked<T>(new (memory) T());
}

}  // namespace felbrin

struct mc_ctrl_t;
/// Frees a motion controller record (instrument/motion/mc_ctrl.cpp).
struct McCtrlDelete {
  /// Frees `c` and everything it owns.
  void operator()(mc_ctrl_t* c) const;
  /// Closes a set-up controller's line as mc_close does (out of the device
  /// table first); nothing for a controller that was never set up.
  static void close(mc_ctrl_t& c);
};

inline constexpr int32_t SB_PIFOC_ON = 1;    ///< `sb_pifoc_t::state`: the scanner is driven
inline constexpr int32_t SB_PIFOC_OFF = -1;  ///< `sb_pifoc_t::state`: the scanner is off
/// The pifoc scanner sub-record (`sysInfo_t::pifoc`), created zeroed on first use.
struct sb_pifoc_t {
  int32_t value = 0;  ///< the calibration's Pifoc value
  int32_t type = 0;   ///< PI scanner model 0..2, 0 none
  double beta = 0;    ///< Beta of the time-on model (SB_PIFOC_BETA when the value is given)
  double scale = 0;   ///< scale of the time-on model (SB_PIFOC_SCALE when the value is given)
  /// When the last PIFOC offset was written (seconds, u_time_now); 0 never.
  double offsetTime = 0;

  // ---- the time-on model and its diagnostics (xr_*)
  int32_t rampKind = 0;          ///< of the ramp in use, 1 or 2; 0 none
  int32_t rampId = -1;           ///< rampID of the ramp in use; -1 none
  int32_t firstRampB = -1;       ///< rampID of the first ramp of kind 'b'; -1 none
  int32_t firstRampU = -1;       ///< rampID of the first ramp of kind 'u'; -1 none
  double leakageTime = 0;        ///< of the last leakage measurement, seconds (u_time_now)
  int32_t state = SB_PIFOC_OFF;  ///< SB_PIFOC_ON or SB_PIFOC_OFF
  int64_t te = 0;                ///< effective time on, seconds; 0 until known
  int64_t t1 = 0;                ///< when te was last brought up to date, seconds since the epoch
  int32_t leakage = 0;           ///< counts of SB_PIFOC_LEAKAGE_UA
  uint8_t skipConditioning = 0;  ///< not used by the library
  uint8_t uncompensated = 0;     ///< set by xr_init_pifoc: no diagnostics, scale 1 and Beta 0
  /// The start and the date of a log line that waits for its gain measurement.
  std::string pendingStart;
  std::string pendingDate;  ///< see pendingStart
};
/// Microamperes of one leakage count.
inline constexpr double SB_PIFOC_LEAKAGE_UA = 4.4793068e-7;
inline constexpr double SB_PIFOC_SCALE = 0.928655;  ///< pifoc scale when the Pifoc value is given
inline constexpr double SB_PIFOC_BETA = 0.0144;     ///< Beta when the Pifoc value is given

/// One PID parameter set of an axis (PidVals). The defaults are the unset
/// values; the writer omits a set that holds exactly these.
struct sb_pid_set_t {
  int32_t p1 = 700,  ///< P1
      p2 = 0,        ///< P2
      p3 = 15050,    ///< P3
      p4 = 0;        ///< P4
  uint8_t p5 = 0;    ///< P5
  int32_t p6 = 0;    ///< P6
  float p7 = 0,      ///< P7
      p8 = 0,        ///< P8
      p9 = 0,        ///< P9
      p10 = 0;       ///< P10
  /// Equal when every parameter is.
  friend bool operator==(const sb_pid_set_t&, const sb_pid_set_t&) = default;
};
/// Fast, then Slow.
struct sb_pid_t {
  sb_pid_set_t sets[2];  ///< Fast, then Slow
};

/// The DynWaveGen sub-record (`sysInfo_t::dynWaveGen`), created on first use.
struct sb_dyn_wave_gen_t {
  int32_t d[4] = {-1, -1, -1, -1};  ///< D1, D2, D3 and the fourth value; -1 unset
  std::string texts[4];             ///< working texts
};

/// How the zoom calibration file looked when it was read (see
/// plat::host::FileStamp): compared whole, so that any change reads it again.
struct sb_file_stamp_t {
  int64_t modified = 0;  ///< last-modified time
  int64_t changed = 0;   ///< last status-change time
  int64_t size = 0;      ///< bytes
  /// Equal when every part is.
  bool operator==(const sb_file_stamp_t&) const = default;
};

/// The encoded zoom sub-record (`sysInfo_t::encZoom`) of the KiteEncZoom
/// keywords, created zeroed on first use.
struct sb_enc_zoom_t {
  int32_t config = 0;                ///< bit 0: an encoded zoom is fitted
  int32_t progLim[2] = {0, 0};       ///< program limit, low and high
  int32_t wandLim[2] = {0, 0};       ///< wand limit, low and high
  int32_t backlash = 0;              ///< backlash sent to the zoom node
  double stdMags[SB_MAX_MAGS] = {};  ///< standard magnifications
  int32_t stdMagCount = 0;           ///< entries of stdMags in use
  std::string calFile;               ///< as configured; empty: the default name
  /// Set by kite_enc_zoom_load_cal: the file the table came from and how it
  /// looked just before it was read; no path when there is no table.
  std::string calLoadedPath;
  std::optional<sb_file_stamp_t> calStamp;  ///< see calLoadedPath
  /// (encoder position, magnification), both strictly increasing.
  u_pair_table_t calTable;
};

/// The Lumen sub-record (`sysInfo_t::lumenInfo`) of the Lumen keywords,
/// created on first use.
struct sb_lumen_info_t {
  std::string materialsFile = "LumenMaterials.txt";  ///< LumenMaterials
  /// The lens block: the objective magnification of each lens column, and
  /// the materials list read from materialsFile (lumen_loadMaterials).
  double lensMags[LUMEN_LENSES] = {0.8, 1.0, 1.7, 4.0};
  lumen_materials_t materials;                            ///< see lensMags
  double dmiScale = 2.0;                                  ///< LumenDMIScale
  double imageRot = 0;                                    ///< LumenImageRot
  double sysConst[4] = {SB_INF, SB_INF, SB_INF, SB_INF};  ///< LumenSys; +infinity unset
  double zeroPtPos[2] = {SB_INF, SB_INF};                 ///< LumenZeroPtPos; +infinity unset
  double disper[SB_MAX_MAGS][SB_LUMEN_VALUES];  ///< LumenDisper per magnification; +infinity unset
  double avgK0[SB_MAX_MAGS][SB_LUMEN_VALUES];   ///< LumenAvgK0 per magnification; +infinity unset
  float dmiCenter[SB_MAX_MAGS][2] = {};         ///< LumenDMICenter per magnification
  float tiltCenter[SB_MAX_MAGS][2] = {};        ///< LumenTiltCenter per magnification
  int32_t zeroGagePeriod = 1800;                ///< seconds
  int32_t tempPeriod = 1800;                    ///< seconds
  double tempValue = 1.0;                       ///< LumenTemperature
  /// The lens column of each nominal magnification; -1 when unset.
  int32_t lensColumn[SB_MAX_MAGS];
  std::string logFile = "LumenLog.txt";  ///< LumenLog file name
  int32_t logLimit1 = 1000000;           ///< LumenLog size limit 1
  int32_t logLimit2 = 500000;            ///< LumenLog size limit 2

  /// Every unset value as above, every lens column -1.
  sb_lumen_info_t() {
    for (auto& row : disper)
      for (double& v : row) v = SB_INF;
    for (auto& row : avgK0)
      for (double& v : row) v = SB_INF;
    for (int32_t& column : lensColumn) column = -1;
  }
};

inline constexpr int32_t CAN_ZOOM_POSITIONS = 7;  ///< zoom-changer positions of the bridge record
inline constexpr int32_t CAN_ZOOM_UNKNOWN = -2;   ///< a zoom position not known
/// The CAN bridge record (`sysInfo_t::canInfo`). The defaults are its values
/// when created, so that the calibration reader and the CAN bring-up create
/// the same record: 0xFF first bytes mean "not known" / "not configured", -2
/// an unknown zoom position, -1 an unread product ID.
struct can_info_t {
  uint8_t ip[4] = {0xFF, 0, 0, 0};         ///< the bridge's IPv4 address
  uint8_t mac[6] = {0xFF, 0, 0, 0, 0, 0};  ///< its MAC address (MacAddress)
  uint8_t fwMajor = 0,                     ///< firmware major version
      fwMinor = 0;                         ///< firmware minor version
  int32_t zoomPos[CAN_ZOOM_POSITIONS] = {CAN_ZOOM_UNKNOWN, CAN_ZOOM_UNKNOWN, CAN_ZOOM_UNKNOWN,
                                         CAN_ZOOM_UNKNOWN, CAN_ZOOM_UNKNOWN, CAN_ZOOM_UNKNOWN,
                                         CAN_ZOOM_UNKNOWN};  ///< zoom-changer positions
  int32_t ledProductId = -1;                                 ///< the LED node's product ID
  int32_t brushProductId = -1;                               ///< the brush-motor node's product ID
  uint8_t keypadRingSpot = 0,                                ///< keypad mode of the ring/spot node
      keypadZoom = 0,                                        ///< keypad mode of the zoom node
      keypadFocus = 0;                                       ///< keypad mode of the focus node
};

/// What the CAN layer knows of its nodes while an instrument is on. Only the
/// bring-up sets the present flags; the node operations read them. Nothing
/// here belongs to the calibration file; a new read starts it afresh, as it
/// does the bridge record.
struct sb_can_state_t {
  uint8_t pztPresent = 0,         ///< the triple PZT node is present
      lapsPresent = 0,            ///< the large-aperture node is present
      wandPresent = 0,            ///< the wand node is present
      wand2Present = 0;           ///< the second wand node is present
  uint8_t zoomDdPresent = 0,      ///< the zoom/diffuser disk node is present
      rsDdPresent = 0,            ///< the ring/spot/diffuser disk node is present
      focusNdwPresent = 0,        ///< the focus/ND wheel node is present
      auxMotorPresent = 0;        ///< the auxiliary motor node is present
  uint8_t brushMotorPresent = 0;  ///< the dual brush motor node is present
  int32_t pztChannel = 0;         ///< selected PZT channel, -1 none
  uint8_t scannerMode = 0;        ///< 1 PIFOC scanner, 2 the other scanner kind, 0 none
  float syncGen = 0;              ///< 0 until the acquisition start-up sets it
  int32_t zoomPositions = 0;      ///< from the brush motor's configuration
  int32_t turretPositions = 0;    ///< from the brush motor's configuration
  uint8_t lastTurret = 0;         ///< the last turret byte a node event reported
  float zoomDdTargetVel = 0;      ///< target velocity of the zoom/diffuser disk node
};

/// C1..C6 and D1, D2 of one SdcCal index.
struct sb_sdc_cal_t {
  double d2 = 0,              ///< D2
      d1 = 0;                 ///< D1
  float c5 = SB_FLOAT_UNSET,  ///< C5
      c6 = SB_FLOAT_UNSET,    ///< C6
      c1 = SB_FLOAT_UNSET,    ///< C1
      c2 = SB_FLOAT_UNSET,    ///< C2
      c3 = SB_FLOAT_UNSET,    ///< C3
      c4 = SB_FLOAT_UNSET;    ///< C4
};

/// A radius scale block (EncodedRadiusScale, IntfRadiusScale).
struct sb_radius_scale_t {
  uint8_t present = 0;  ///< 1 once the keyword was read
  uint8_t mode = 0;     ///< 0 or 1
  double a = 0,         ///< A
      b = 0;            ///< B
  int32_t n = 0;        ///< N
  double c = 0;         ///< C
};

/// One light source's settings (the LLC keywords).
struct sb_light_source_t {
  uint8_t config = 1;    ///< LLC Config
  int32_t freq = 35000;  ///< Hz
  /// Average current limit and forward voltage, for ranges 0 and 1.
  struct {
    uint16_t avgCurLimit = 0,  ///< LLC AvgCurLimit
        fwdVoltage = 0;        ///< LLC FwdVoltage
  } pairs[2];
  float alignModePct = 100;  ///< LLC AlignModePct
};

/// Light source 2 starts unconfigured.
constexpr sb_light_source_t sb_second_light_source() {
  sb_light_source_t s;
  s.config = 0;
  return s;
}

/// A light level range.
struct sb_range_t {
  uint16_t low = 0,  ///< lowest level
      high = 0;      ///< highest level
};

/// One wavelength of the light (Light).
struct sb_wavelength_t {
  double wavelength = 0;  ///< metres
  double bandwidth = 0;   ///< metres
};

/// The instrument board's working block: the open line first, as the board
/// operations find a record by its port.
struct sb_board_link_t {
  sio_port_t port;  ///< the board's serial line
};

/// The wave monitor's working block: its open line and what wm_read_cal
/// last read from the monitor (the configured limits are wmTuneRange and
/// wmTuneRate of the record itself).
struct sb_wave_monitor_t {
  sio_port_t port;               ///< the monitor's serial line
  uint8_t calibrated = 0;        ///< the monitor reports itself calibrated
  uint32_t flags = 0;            ///< the monitor's flag word
  uint32_t flagsTop = 0;         ///< flags & 0xF0000000
  int64_t calTime = 0;           ///< seconds since the epoch; 0 when not calibrated
  uint32_t secondsSinceCal = 0;  ///< seconds since the monitor's calibration
  float status1 = 0,             ///< status value 1
      status2 = 0;               ///< status value 2
  int32_t status7 = 0;           ///< status value 7
  float sysGain = 0;             ///< system gain the monitor reports
  float adcGain[4] = {};         ///< A to D
  uint16_t adcOffset[4] = {};    ///< A to D
  double phaseOffset[3] = {};    ///< 01, 12, 23
  double minTuneRange = 0,       ///< smallest tune range the monitor allows
      maxTuneRange = 0;          ///< largest tune range the monitor allows
  double minTuneRate = 0,        ///< smallest tune rate the monitor allows
      maxTuneRate = 0;           ///< largest tune rate the monitor allows
  /// The camera frame rate (Hz) of the current camera setting, which the
  /// tuning check divides by; 0 until the acquisition start-up sets it.
  double frameRate = 0;
};

// ---- the record

/// The system information record. Keywords named below are those of the
/// calibration file that set a field.
struct sysInfo_t {
  /// Resolved path of the calibration file last read into this slot.
  std::string calFilePath;
  int32_t fd = 0;                  ///< a descriptor other modules keep open; closed before a write
  std::string instrName;           ///< InstrName
  int32_t frameGrabber = FG_NONE;  ///< an FG_ value (Version)
  uint8_t acqFlag = 0;             ///< acquisition flag
  uint8_t fileSelector = 0;        ///< the digit of the slot's default file name
  uint8_t boardVersion = 0;        ///< Version (middle value)
  uint8_t unit = 0;                ///< Unit, 0..7
  int16_t dateCode = 0;            ///< system line: first value * 100 + second value
  int32_t serialNumber = 0;        ///< system line
  uint8_t rFlag = 0;               ///< system line, 0 or 1
  int32_t instrBdType = BD_NONE;   ///< a BD_ value (Version)
  int32_t systemType = SYS_UNKNOWN;                              ///< a SYS_ value (system line)
  int32_t cameraType = CAM_UNKNOWN;                              ///< a CAM_ value (Camera Type)
  int32_t lightType = LIGHT_HENE;                                ///< a LIGHT_ value (Light)
  sb_wavelength_t wavelengths[4] = {{6.328e-7, 0}, {}, {}, {}};  ///< Light
  double nomMag[SB_MAX_MAGS] = {};  ///< nominal magnifications (NomMag)
  double sysMag[SB_MAX_MAGS] = {};  ///< system magnifications (SysMag)
  int32_t magCount = 0;             ///< magnifications in use
  double scanCal[2] = {1, 1};       ///< ScanCal
  /// The light level range, and the second range of the boards that have one.
  sb_range_t llcRange[2];
  uint16_t llcTarget = 150;  ///< LLC Target
  sb_light_source_t lightSource[2] = {sb_light_source_t{},
                                      sb_second_light_source()};  ///< sources 1 and 2
  uint8_t currentLightSource = 0;     ///< selects the pairs the CAN light control uses
  int32_t llcOptions = 0;             ///< LLC Options
  int32_t pztPower = -1;              ///< PztPwr
  felbrin::Hooked<sb_pifoc_t> pifoc;  ///< Pifoc, PztId, PifocType; none until first used
  int32_t pifocPolarity = 0;          ///< PifocPolarity, -1..1
  std::string rampConfigFile = SB_DEFAULT_RAMP_CONFIG;  ///< Ramp Config
  std::string instrComm;                                ///< InstrComm: the board's serial device
  uint16_t cameraDark = 0;                              ///< Camera Dark
  uint16_t adcClock = 0;                                ///< ADC Clock
  std::string cameraFile[SB_CAMERA_FILES];              ///< Camera File
  int32_t splitAxis = SPLIT_NONE;  ///< a SPLIT_ value (Camera SplitX, Camera SplitY)
  int32_t splitValue = 0;          ///< Camera SplitX or SplitY value
  int32_t splitValue2 = 0;         ///< Camera SplitX or SplitY second value
  /// Camera Trans, per magnification.
  struct {
    int16_t x = 0,  ///< x translation
        y = 0;      ///< y translation
  } cameraTrans[SB_MAX_MAGS];
  uint8_t cameraAlign = ALIGN_DEFAULT;  ///< an ALIGN_ value (Camera Align)
  int32_t pllFlag = 1;                  ///< Camera PLL
  /// An entry with x < 0 ends the list.
  struct {
    int16_t x = -1,  ///< pixel column; below 0 ends the list
        y = -1;      ///< pixel row
  } badPixels[SB_MAX_BAD_PIXELS];
  uint8_t badPixelMode = 0;   ///< Camera Bpix, 0 or 1
  std::string badPixelFile;   ///< Camera Bpix file name
  int32_t cameraOptions = 0;  ///< Camera Options
  /// Byte 0 is interlaceFlag, byte 9 fieldCtrl.
  uint8_t cameraConfig[10] = {};
  std::string motionCtrl[2];                   ///< MotionCtrl texts
  float zAxisCal = 1.0f;                       ///< ZAxisCal
  double zAxisBacklash = 5;                    ///< ZAxisBacklash
  uint8_t zEncoder = 0;                        ///< ZEncoder, 0 or 1
  uint8_t zCanClosedLoop = 0;                  ///< ZCanClosedLoop, 0 or 1
  double xAxisBacklash = 0;                    ///< XAxisBacklash
  double yAxisBacklash = 0;                    ///< YAxisBacklash
  int32_t posInstr = POS_NONE;                 ///< a POS_ value (PosInstr)
  std::string posInstrText[2];                 ///< PosInstr texts
  int32_t tempSensor = TEMP_NONE;              ///< a TEMP_ value (TempSensor)
  std::string tempSensorText;                  ///< TempSensor text
  int32_t llcInstr = LLC_NONE;                 ///< an LLC_ value (LLC Instr)
  std::string llcInstrText;                    ///< LLC Instr text
  int32_t turret = 0;                          ///< Turret
  int32_t turret2 = 5;                         ///< Turret second value
  int32_t zoom = 0;                            ///< Zoom
  uint8_t invertData = 0;                      ///< InvertData
  felbrin::Hooked<sb_lumen_info_t> lumenInfo;  ///< the Lumen keywords; none until first used
  uint8_t touchScreen = 0;                     ///< TouchScreen
  sb_sdc_cal_t sdcCal[SB_MAX_MAGS];            ///< SdcCal, per magnification index
  float radCrvFocCal = 1.0f;                   ///< RadCrvFocCal
  float radCrvPwrCal = 1.0f;                   ///< RadCrvPwrCal
  uint8_t noIntensAvg = 0;                     ///< NoIntensAvg
  // Nodes the CAN bring-up expects.
  uint8_t usePzt = 1,                      ///< cleared by IgnorePZT
      useLaps = 1,                         ///< cleared by IgnoreLAPS
      useWand = 1,                         ///< cleared by IgnoreWand
      useZoom = 1;                         ///< cleared by IgnoreZoom
  uint8_t ringSpot = 0;                    ///< RingSpot
  uint8_t useDualBrushMotor = 1,           ///< cleared by IgnoreDualBrushMotor
      useFocusNdw = 1;                     ///< cleared by IgnoreFocusNDW
  felbrin::Hooked<can_info_t> canInfo;     ///< the CAN bridge record; none until first used
  std::string pendentMenu;                 ///< PendentMenu
  std::string axisCompFile[SB_AXES];       ///< AxisComp_A .. AxisComp_Z, in axis order
  felbrin::Hooked<sb_pid_t> pid[SB_AXES];  ///< PidVals_A .. PidVals_Z; none until first used
  std::string wmComm;                      ///< wmComm: the wave monitor's serial device
  float wmSysGain = 0;                     ///< wmSysGain
  double wmMonOpd = 0;                     ///< wmMonOPD
  // Stored in the file's units times 1e9.
  double wmTuneRangeMin = 0,    ///< wmTuneRange, stored in the file's units times 1e9
      wmTuneRangeMax = SB_INF;  ///< wmTuneRange, stored in the file's units times 1e9
  double wmTuneRateMin = 0,     ///< wmTuneRate, stored in the file's units times 1e9
      wmTuneRateMax = SB_INF;   ///< wmTuneRate, stored in the file's units times 1e9
  int32_t wmMaxBuckets = 1900;  ///< wmMaxBuckets
  int32_t wmMaxBucketBytes = std::numeric_limits<int32_t>::max();  ///< unlimited
  uint8_t lumensiInvertData = 0;                                   ///< LumensiInvertData
  int32_t absWaveMeter = 0;                                        ///< AbsWaveMeter, 0 or 1
  std::string absWaveMeterText;                                    ///< AbsWaveMeter text
  felbrin::Hooked<sb_dyn_wave_gen_t> dynWaveGen;  ///< DynWaveGen; none until first used
  uint16_t sleepTimeout = 14400;                  ///< seconds
  float diffDiskRate = -1;                        ///< unset
  float diffDiskFraction = 0.85f;                 ///< DiffDiskFraction
  felbrin::Hooked<sb_enc_zoom_t> encZoom;  ///< the KiteEncZoom keywords; none until first used
  sb_radius_scale_t encodedRadiusScale;    ///< EncodedRadiusScale
  sb_radius_scale_t intfRadiusScale;       ///< IntfRadiusScale
  // Working blocks, kept when the record is read again.
  sb_board_link_t boardLink;  ///< the instrument board's working block
  /// The temperature controller's line, opened on the device tempSensorText
  /// names.
  sio_port_t tempPort;
  sb_wave_monitor_t waveMonitor;  ///< the wave monitor's working block
  /// The ramp table; freed when the record is read again.
  sb_ramp_state_t ramps;
  sb_can_state_t can;  ///< the CAN layer's node state
  sb_acq_state_t acq;  ///< the acquisition working block
  // Set by the stage code; 0 until then.
  uint8_t largeApSelected = 0;  ///< the large-aperture scanner is in use
  uint8_t largeApFitted = 0;    ///< a large-aperture scanner is fitted
  // Motion: the controller once set up, and settings the host gives at run
  // time (none of them in the calibration file).
  std::unique_ptr<mc_ctrl_t, McCtrlDelete> motionCtrlInfo;  ///< the motion controller once set up
  int32_t stageNumber = 0;                                  ///< 0: no stage class
  uint8_t zExternalClosedLoop = 0;      ///< the Z axis supports external closed loop
  std::optional<double> autofocus[2];   ///< autofocus values the host gives; none by default
  std::vector<std::string> fkeyLabels;  ///< function keys 1, 2, 3…; none by default
};

/// The four slots.
extern sysInfo_t sysInfo[SB_SLOTS];

/// True when the CAN instrument has its dual brush motor board.
bool sb_hasDualBrushMotor(const sysInfo_t* info);

/// True when the record's system type is one of `types`.
bool sb_system_type_in(const sysInfo_t* info, std::initializer_list<int32_t> types);

/// Sets the slot modules use when they are not given one (0 unless set).
/// ERR_PARAM_OUT_OF_RANGE for a slot outside 0..SB_SLOTS - 1.
int sb_set_current_slot(int slot);
/// The slot modules use when they are not given one (0 unless set).
int sb_current_slot();
/// The record of the current slot, one of sysInfo.
sysInfo_t* sb_current_info();
