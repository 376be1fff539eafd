/// @file
/// The motion controller configuration file and the record it fills: up to
/// eight axes with their drive, limit, homing, joystick, servo-gain,
/// commutation and encoder settings, a few controller-wide clock and
/// autofocus settings, and the controller's encoder conversion table.
///
/// The controller set-up clears a record with mc_config_defaults, then reads
/// the file over it with mc_read_config; a failed read leaves the record
/// partly filled, and the caller discards it. Texts are owned by the record.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int MC_AXES = 8;  ///< axes a controller record holds
/// Entries 1..16 of the encoder conversion table; mc_config_t::encTable has one slot more, which
/// ends a full table.
inline constexpr int MC_ENC_ENTRIES = 16;

// ---- axis flag bytes

/// @name Bits of mc_axis_config_t::flags1
///@{
inline constexpr uint8_t MC_GOT_AXIS = 0x01;          ///< GOT_AXIS
inline constexpr uint8_t MC_GOT_ENCODER = 0x02;       ///< GOT_ENCODER
inline constexpr uint8_t MC_GOT_LIMITS = 0x04;        ///< GOT_LIMITS
inline constexpr uint8_t MC_LIMIT_DELAY_MASK = 0x38;  ///< LIMIT_DELAY: 3 bits from bit 3
inline constexpr int MC_LIMIT_DELAY_SHIFT = 3;        ///< where LIMIT_DELAY starts
inline constexpr uint8_t MC_LIMIT_POL = 0x40;         ///< LIMIT_POL
inline constexpr uint8_t MC_HOME_DIR = 0x80;          ///< HOME_DIR
///@}
/// @name Bits of mc_axis_config_t::flags2
///@{
inline constexpr uint8_t MC_DRIVE_VCC = 0x01;  ///< DRIVE_VCC
inline constexpr uint8_t MC_DRIVE_REV = 0x02;  ///< DRIVE_REV
inline constexpr uint8_t MC_PROG_REV = 0x04;   ///< PROG_REV
inline constexpr uint8_t MC_MAN_REV = 0x08;    ///< MAN_REV
inline constexpr uint8_t MC_ENC_REV = 0x10;    ///< ENC_REV
///@}
/// @name Bits of mc_axis_config_t::stage
///@{
inline constexpr uint8_t MC_ROTARY_STAGE = 0x01;  ///< ROTARY_STAGE
inline constexpr uint8_t MC_ANGLE_STAGE = 0x02;   ///< ANGLE_STAGE
///@}
/// @name Bits of mc_axis_config_t::motor
///@{
inline constexpr uint8_t MC_MOTOR_MODE = 0x01;  ///< MOTOR_MODE
inline constexpr uint8_t MC_MOTOR_TYPE = 0x02;  ///< MOTOR_TYPE
///@}
/// @name Bits of mc_axis_config_t::commutation
///@{
inline constexpr uint16_t MC_ENC_GATED_INDEX_SELECT = 0x001;  ///< ENC_GATED_INDEX_SELECT
inline constexpr uint16_t MC_ENC_INDEX_GATE_STATE = 0x002;    ///< ENC_INDEX_GATE_STATE
inline constexpr int MC_OUTPUT_MODE_SELECT_SHIFT = 2;     ///< OUTPUT_MODE_SELECT: 3 bits from here
inline constexpr int MC_OUTPUT_INVERT_CTRL_SHIFT = 5;     ///< OUTPUT_INVERT_CTRL: 3 bits from here
inline constexpr uint16_t MC_COMMUTATION_ENABLE = 0x100;  ///< COMMUTATION_ENABLE
inline constexpr int MC_POWER_UP_MODE_SHIFT = 9;          ///< POWER_UP_MODE: 3 bits from here
///@}

/// Unit codes of PITCH_GEARRATIO and ENC_STEPS.
/// @var MC_REVS_PER_MM
/// PITCH_GEARRATIO in revolutions per millimetre.
/// @var MC_REVS_PER_IN
/// PITCH_GEARRATIO in revolutions per inch.
/// @var MC_RATIO
/// A ratio (either keyword).
/// @var MC_MICRONS
/// ENC_STEPS in microns.
/// @var MC_MICROINCHES
/// ENC_STEPS in microinches.
inline constexpr uint8_t MC_REVS_PER_MM = 1, MC_REVS_PER_IN = 2, MC_RATIO = 3;
inline constexpr uint8_t MC_MICRONS = 1, MC_MICROINCHES = 2;

/// @name "Not set" markers of the axis fields that have one
///@{
inline constexpr uint8_t MC_NO_JOYSTICK = 255;          ///< mc_axis_config_t::joystick
inline constexpr uint8_t MC_NO_ENC_AXIS = 255;          ///< mc_axis_config_t::encAxisNum
inline constexpr int32_t MC_ADDRESS_UNSET = 0x1000000;  ///< mc_axis_config_t::commandOutputAddress
/// mc_axis_config_t::commutationPosAddr
inline constexpr int32_t MC_COMMUTATION_ADDR_UNSET = 0x10000;
///@}

/// Encoder conversion types, by the word that names them in ENC_TABLE.
/// @var MC_ENC_NONE
/// No entry: ends the table.
/// @var MC_ENC_1_T
/// 1/T
/// @var MC_ENC_PARALLEL_BIT
/// PARALLEL_BIT
/// @var MC_ENC_INCREMENTAL
/// INCREMENTAL
/// @var MC_ENC_ADC_REGISTER
/// ADC_REGISTER
/// @var MC_ENC_INTEGRATED_ANALOG
/// INTEGRATED_ANALOG
/// @var MC_ENC_PARALLEL_POS
/// PARALLEL_POS
/// @var MC_ENC_FILTERED_PARALLEL_POS
/// FILTERED_PARALLEL_POS
/// @var MC_ENC_TIME_BASED
/// TIME_BASED
/// @var MC_ENC_EXPONENTIAL
/// EXPONENTIAL
enum : int32_t {
  MC_ENC_NONE = 0,
  MC_ENC_1_T = 1,
  MC_ENC_PARALLEL_BIT = 2,
  MC_ENC_INCREMENTAL = 3,
  MC_ENC_ADC_REGISTER = 4,
  MC_ENC_INTEGRATED_ANALOG = 5,
  MC_ENC_PARALLEL_POS = 6,
  MC_ENC_FILTERED_PARALLEL_POS = 7,
  MC_ENC_TIME_BASED = 8,
  MC_ENC_EXPONENTIAL = 9,
};

/// One servo gain set (the PID_ keywords).
struct mc_gains_t {
  int32_t prop = 0;     ///< proportional
  int32_t der = 0;      ///< derivative
  int32_t velFf = 0;    ///< velocity feed-forward
  int32_t integ = 0;    ///< integral
  uint8_t intMode = 0;  ///< integration mode (PID_INT_MODE)
  int32_t accelFf = 0;  ///< acceleration feed-forward
  /// @var n1
  /// PID_N1, -2..2.
  /// @var n2
  /// PID_N2, -2..2.
  /// @var d1
  /// PID_D1, -2..2.
  /// @var d2
  /// PID_D2, -2..2.
  float n1 = 0, n2 = 0, d1 = 0, d2 = 0;
  /// Equal when every gain is.
  friend bool operator==(const mc_gains_t&, const mc_gains_t&) = default;
};
/// @var MC_FAST
/// Index of the FAST gain set in mc_axis_config_t::gains.
/// @var MC_SLOW
/// Index of the SLOW gain set.
inline constexpr int MC_FAST = 0, MC_SLOW = 1;

/// The rates keep the full value and a 16-bit short form (0 when the value
/// does not fit the controller's short limit).
struct mc_rate_t {
  uint32_t full = 0;       ///< the value as read
  uint16_t shortForm = 0;  ///< the short form; 0 when the value does not fit
};

/// One axis's settings, each named by the keyword that sets it.
struct mc_axis_config_t {
  /// @var flags1
  /// Flag bits MC_GOT_AXIS to MC_HOME_DIR.
  /// @var flags2
  /// Flag bits MC_DRIVE_VCC to MC_ENC_REV.
  /// @var stage
  /// MC_ROTARY_STAGE, MC_ANGLE_STAGE.
  /// @var motor
  /// MC_MOTOR_MODE, MC_MOTOR_TYPE.
  uint8_t flags1 = 0, flags2 = 0, stage = 0, motor = 0;
  uint16_t commutation = 0;  ///< bits MC_ENC_GATED_INDEX_SELECT to MC_POWER_UP_MODE_SHIFT
  /// @var avoidHi
  /// AVOID_HI.
  /// @var avoidLo
  /// AVOID_LO.
  uint16_t avoidHi = 0, avoidLo = 0;
  /// CAN_CLOSED_LOOP: the axis's external closed loop (an amplifier on the CAN network)
  uint8_t canClosedLoop = 0;
  /// @var driveLow
  /// DRIVE_LOW, 0..3.
  /// @var driveOff
  /// DRIVE_OFF, 0..3.
  /// @var driveOn
  /// DRIVE_ON, 0..3.
  uint8_t driveLow = 0, driveOff = 0, driveOn = 0;
  float encSteps = 0;        ///< ENC_STEPS
  uint8_t encStepsUnit = 0;  ///< ENC_STEPS's unit: MC_MICRONS, MC_MICROINCHES or MC_RATIO
  /// PITCH_GEARRATIO: always revolutions per inch once a read has ended, whatever the unit code
  /// says: the code keeps what the file said.
  float pitchGearRatio = 0;
  uint8_t pitchUnit = 0;   ///< PITCH_GEARRATIO's unit: MC_REVS_PER_MM, MC_REVS_PER_IN or MC_RATIO
  uint8_t homeType = 0;    ///< HOME_TYPE, 0..6
  float homeLimitPos = 0;  ///< HOME_LIMIT_POS
  uint32_t homeLoc = 0;    ///< HOME_LOC
  int32_t homeZero = 0;    ///< HOME_ZERO
  uint32_t limitLoc = 0;   ///< LIMIT_LOC
  /// @var manAccel
  /// MAN_ACCEL.
  /// @var progAccel
  /// PROG_ACCEL.
  /// @var stopAccel
  /// STOP_ACCEL.
  /// @var homeAccel
  /// HOME_ACCEL.
  mc_rate_t manAccel, progAccel, stopAccel, homeAccel;
  /// @var manRate
  /// MAN_RATE.
  /// @var progRate
  /// PROG_RATE.
  /// @var homeRate
  /// HOME_RATE.
  mc_rate_t manRate, progRate, homeRate;
  /// @var manSsRate
  /// MAN_SS_RATE.
  /// @var progSsRate
  /// PROG_SS_RATE.
  /// @var fineRate
  /// FINE_RATE.
  /// @var mult
  /// MULT.
  uint16_t manSsRate = 0, progSsRate = 0, fineRate = 0, mult = 0;
  char name = 0;  ///< NAME: a, b, r or A, B, P, R, T, X, Y, Z; 0 when unnamed
  /// @var pdTime
  /// PD_TIME.
  /// @var pdPercent
  /// PD_PERCENT, 0..100.
  uint8_t pdTime = 0, pdPercent = 0;
  uint16_t stepsPerRev = 0;  ///< STEPS_PER_REV
  /// @var stickCross
  /// STICK_CROSS.
  /// @var stickDead
  /// STICK_DEAD.
  /// @var stickK
  /// STICK_K.
  uint8_t stickCross = 0, stickDead = 0, stickK = 0;
  uint32_t backlash = 0;  ///< BACKLASH
  float travel[3] = {};   ///< TRAVEL: home position offset, minimum, maximum
  int16_t version = 0;    ///< VERSION
  uint8_t joystick = 0;   ///< JOYSTICK; MC_NO_JOYSTICK when not set
  /// @var avgCurr
  /// AVG_CURR.
  /// @var peakCurr
  /// PEAK_CURR.
  float avgCurr = 0, peakCurr = 0;
  uint8_t parkAirStage = 0;  ///< PARK_AIR_STAGE
  int16_t axisGroup = 0;     ///< AXIS_GROUP; 1-based group of its first axis once read
  /// @var microstep
  /// MICROSTEP.
  /// @var motorNum
  /// MOTOR_NUM, 1..8.
  /// @var pmacBoard
  /// PMAC_BOARD.
  uint16_t microstep = 0, motorNum = 0, pmacBoard = 0;
  mc_gains_t gains[2];     ///< the FAST and SLOW sets, by MC_FAST and MC_SLOW
  uint8_t gainsGiven = 0;  ///< 1 when the file gave gains; else the calibration's are taken
  std::string axisComp;    ///< AXIS_COMP: compensation name; empty for none
  uint8_t defined = 0;     ///< 1 once the axis has been read
  uint8_t encDecode = 0;   ///< ENC_DECODE, 0..8
  /// @var followWarn
  /// FOLLOW_WARN.
  /// @var followError
  /// FOLLOW_ERROR.
  uint32_t followWarn = 0, followError = 0;
  uint8_t encAxisNum = 0;  ///< ENC_AXIS_NUM; MC_NO_ENC_AXIS when not set
  uint8_t gotDriver = 0;   ///< GOT_DRIVER
  /// @var deadbandGainFactor
  /// DEADBAND_GAIN_FACTOR.
  /// @var firstPhaseOffset
  /// FIRST_PHASE_OFFSET.
  /// @var secondPhaseOffset
  /// SECOND_PHASE_OFFSET.
  int16_t deadbandGainFactor = 0, firstPhaseOffset = 0, secondPhaseOffset = 0;
  uint16_t deadbandSize = 0;  ///< DEADBAND_SIZE, in sixteenths
  /// @var commandOutputAddress
  /// COMMAND_OUTPUT_ADDRESS; MC_ADDRESS_UNSET when not set.
  /// @var commutationPosAddr
  /// COMMUTATION_POS_ADDR; MC_COMMUTATION_ADDR_UNSET when not set.
  /// @var powerOnPhasePosAddr
  /// POWER_ON_PHASE_POS_ADDR.
  int32_t commandOutputAddress = 0, commutationPosAddr = 0, powerOnPhasePosAddr = 0;
  uint8_t numCommutationCycles = 0;         ///< NUM_COMMUTATION_CYCLES
  uint32_t encCtsPerCommutationCycles = 0;  ///< ENC_CTS_PER_COMMUTATION_CYCLES
  uint16_t commutationPhaseAngle = 0;       ///< COMMUTATION_PHASE_ANGLE, 0..359
  float parkDelay = 0;                      ///< PARK_DELAY
};

/// One entry of the encoder conversion table (ENC_TABLE).
struct mc_enc_entry_t {
  int32_t entry = 0;           ///< 1..16
  int32_t type = MC_ENC_NONE;  ///< MC_ENC_*
  int32_t words = 0;           ///< words used, 1..3
  int32_t word[3] = {};        ///< the entry's words
};

/// The whole configuration: controller-wide settings, the axes and the encoder conversion
/// table.
struct mc_config_t {
  std::string configName;       ///< CONFIG: the configuration's name ("default" by default)
  uint16_t configNums[2] = {};  ///< CONFIG: the two numbers after the name
  uint16_t divisors[4] = {};    ///< DIVISORS
  uint16_t zRange = 0;          ///< Z_RANGE, 0..4
  /// @var hJoystick
  /// HJOYSTICK: axis numbers, -1 for none.
  /// @var vJoystick
  /// VJOYSTICK: axis numbers, -1 for none.
  /// @var rJoystick
  /// RJOYSTICK: axis numbers, -1 for none.
  /// @var lJoystick
  /// LJOYSTICK: axis numbers, -1 for none (-2 also allowed in the L stick's first place).
  int8_t hJoystick[3] = {}, vJoystick[3] = {}, rJoystick[3] = {}, lJoystick[2] = {};
  /// @var zt8Disable
  /// ZT8_DISABLE.
  /// @var eibDisable
  /// EIB_DISABLE.
  uint8_t zt8Disable = 0, eibDisable = 0;
  /// @var sclkType
  /// SCLK_TYPE, 0..7.
  /// @var zEncType
  /// Z_ENC_TYPE, 0..3.
  uint8_t sclkType = 0, zEncType = 0;
  uint8_t lcdmi[2] = {};     ///< LCDMI: X, Y
  int16_t zStopDir = 0;      ///< ZSTOP_DIR
  uint16_t inPosCount = 0;   ///< IN_POS_COUNT
  uint8_t msFlags = 0;       ///< MS_ENABLED bit 0, MS_AUTOSTART bit 1
  int32_t maxPhaseFreq = 0;  ///< MAX_PHASE_FREQ
  uint8_t clockFreq = 0;     ///< PHASE_CLOCK_FREQ low half, SERVO_CLOCK_FREQ high half
  /// @var hwClockCtrl1to4
  /// HW_CLOCK_CTRL_1_4.
  /// @var hwClockCtrl5to8
  /// HW_CLOCK_CTRL_5_8.
  uint16_t hwClockCtrl1to4 = 0, hwClockCtrl5to8 = 0;
  /// @var dacStrobeWord1to4
  /// DAC_STROBE_WORD_1_4.
  /// @var dacStrobeWord5to8
  /// DAC_STROBE_WORD_5_8.
  uint32_t dacStrobeWord1to4 = 0, dacStrobeWord5to8 = 0;
  int32_t afScalar = 0;           ///< AF_SCALAR, not 0
  uint16_t afAllowableError = 0;  ///< AF_ALLOWABLE_ERROR
  /// @var afEnabled
  /// AF_ENABLED.
  /// @var parkStageEnabled
  /// PARK_STAGE_ENABLED.
  uint8_t afEnabled = 0, parkStageEnabled = 0;
  /// @var afAverages
  /// AF_AVERAGES.
  /// @var afMaxDelta
  /// AF_MAXDELTA.
  uint16_t afAverages = 0, afMaxDelta = 0;
  mc_axis_config_t axes[MC_AXES];  ///< the axes, by axis number
  /// ENC_TABLE: index 0 is entry 1; a type of MC_ENC_NONE ends the table
  mc_enc_entry_t encTable[MC_ENC_ENTRIES + 1];
};

/// Clears the record and gives every setting its default.
void mc_config_defaults(mc_config_t* cfg);

/// Reads a configuration file over the record. Makes sure first that the
/// current system information record has been read from its calibration
/// file, whose gains and compensation names serve as per-letter defaults
/// (that read's failure is returned). A malformed file gives the error code of
/// its first fault, logged with the line number; a file that cannot be opened
/// ERR_CANT_OPEN_FILE. The path may be marked wide.
int mc_read_config(const char* path, mc_config_t* cfg);
