// The motion controller configuration file and the record it fills: up to
// eight axes with their drive, limit, homing, joystick, servo-gain,
// commutation and encoder settings, a few controller-wide clock and
// autofocus settings, and the controller's encoder conversion table.
//
// The controller set-up clears a record with mc_config_defaults, then reads
// the file over it with mc_read_config; a failed read leaves the record
// partly filled, and the caller discards it. Texts are owned by the record.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int MC_AXES = 8;
// Entries 1..16 of the encoder conversion table, plus the slot that ends a
// full table.
inline constexpr int MC_ENC_ENTRIES = 16;

// ---- axis flag bytes

// flags1
inline constexpr uint8_t MC_GOT_AXIS = 0x01;
inline constexpr uint8_t MC_GOT_ENCODER = 0x02;
inline constexpr uint8_t MC_GOT_LIMITS = 0x04;
inline constexpr uint8_t MC_LIMIT_DELAY_MASK = 0x38;  // 3 bits from bit 3
inline constexpr int MC_LIMIT_DELAY_SHIFT = 3;
inline constexpr uint8_t MC_LIMIT_POL = 0x40;
inline constexpr uint8_t MC_HOME_DIR = 0x80;
// flags2
inline constexpr uint8_t MC_DRIVE_VCC = 0x01;
inline constexpr uint8_t MC_DRIVE_REV = 0x02;
inline constexpr uint8_t MC_PROG_REV = 0x04;
inline constexpr uint8_t MC_MAN_REV = 0x08;
inline constexpr uint8_t MC_ENC_REV = 0x10;
// stage
inline constexpr uint8_t MC_ROTARY_STAGE = 0x01;
inline constexpr uint8_t MC_ANGLE_STAGE = 0x02;
// motor
inline constexpr uint8_t MC_MOTOR_MODE = 0x01;
inline constexpr uint8_t MC_MOTOR_TYPE = 0x02;
// commutation
inline constexpr uint16_t MC_ENC_GATED_INDEX_SELECT = 0x001;
inline constexpr uint16_t MC_ENC_INDEX_GATE_STATE = 0x002;
inline constexpr int MC_OUTPUT_MODE_SELECT_SHIFT = 2;   // 3 bits
inline constexpr int MC_OUTPUT_INVERT_CTRL_SHIFT = 5;   // 3 bits
inline constexpr uint16_t MC_COMMUTATION_ENABLE = 0x100;
inline constexpr int MC_POWER_UP_MODE_SHIFT = 9;        // 3 bits

// Unit codes of PITCH_GEARRATIO and ENC_STEPS.
inline constexpr uint8_t MC_REVS_PER_MM = 1, MC_REVS_PER_IN = 2, MC_RATIO = 3;
inline constexpr uint8_t MC_MICRONS = 1, MC_MICROINCHES = 2;

// "Not set" markers of the axis fields that have one.
inline constexpr uint8_t MC_NO_JOYSTICK = 255;
inline constexpr uint8_t MC_NO_ENC_AXIS = 255;
inline constexpr int32_t MC_ADDRESS_UNSET = 0x1000000;
inline constexpr int32_t MC_COMMUTATION_ADDR_UNSET = 0x10000;

// Encoder conversion types.
enum : int32_t {
  MC_ENC_NONE = 0, MC_ENC_1_T = 1, MC_ENC_PARALLEL_BIT = 2, MC_ENC_INCREMENTAL = 3,
  MC_ENC_ADC_REGISTER = 4, MC_ENC_INTEGRATED_ANALOG = 5, MC_ENC_PARALLEL_POS = 6,
  MC_ENC_FILTERED_PARALLEL_POS = 7, MC_ENC_TIME_BASED = 8, MC_ENC_EXPONENTIAL = 9,
};

// One servo gain set.
struct mc_gains_t {
  int32_t prop = 0;      // proportional
  int32_t der = 0;       // derivative
  int32_t velFf = 0;     // velocity feed-forward
  int32_t integ = 0;     // integral
  uint8_t intMode = 0;
  int32_t accelFf = 0;   // acceleration feed-forward
  float n1 = 0, n2 = 0, d1 = 0, d2 = 0;
  friend bool operator==(const mc_gains_t&, const mc_gains_t&) = default;
};
inline constexpr int MC_FAST = 0, MC_SLOW = 1;

// The rates keep the full value and a 16-bit short form (0 when the value
// does not fit the controller's short limit).
struct mc_rate_t {
  uint32_t full = 0;
  uint16_t shortForm = 0;
};

struct mc_axis_config_t {
  uint8_t flags1 = 0, flags2 = 0, stage = 0, motor = 0;
  uint16_t commutation = 0;
  uint16_t avoidHi = 0, avoidLo = 0;
  // The axis's external closed loop (an amplifier on the CAN network).
  uint8_t canClosedLoop = 0;
  uint8_t driveLow = 0, driveOff = 0, driveOn = 0;
  float encSteps = 0;
  uint8_t encStepsUnit = 0;
  // Always revolutions per inch once a read has ended, whatever the unit
  // code says: the code keeps what the file said.
  float pitchGearRatio = 0;
  uint8_t pitchUnit = 0;
  uint8_t homeType = 0;
  float homeLimitPos = 0;
  uint32_t homeLoc = 0;
  int32_t homeZero = 0;
  uint32_t limitLoc = 0;
  mc_rate_t manAccel, progAccel, stopAccel, homeAccel;
  mc_rate_t manRate, progRate, homeRate;
  uint16_t manSsRate = 0, progSsRate = 0, fineRate = 0, mult = 0;
  // a, b, r or A, B, P, R, T, X, Y, Z; 0 when unnamed.
  char name = 0;
  uint8_t pdTime = 0, pdPercent = 0;
  uint16_t stepsPerRev = 0;
  uint8_t stickCross = 0, stickDead = 0, stickK = 0;
  uint32_t backlash = 0;
  // Home position offset, minimum, maximum.
  float travel[3] = {};
  int16_t version = 0;
  uint8_t joystick = 0;
  float avgCurr = 0, peakCurr = 0;
  uint8_t parkAirStage = 0;
  int16_t axisGroup = 0;  // 1-based group of its first axis once read
  uint16_t microstep = 0, motorNum = 0, pmacBoard = 0;
  mc_gains_t gains[2];  // MC_FAST, MC_SLOW
  uint8_t gainsGiven = 0;
  std::string axisComp;  // compensation name; empty for none
  uint8_t defined = 0;
  uint8_t encDecode = 0;
  uint32_t followWarn = 0, followError = 0;
  uint8_t encAxisNum = 0;
  uint8_t gotDriver = 0;
  int16_t deadbandGainFactor = 0, firstPhaseOffset = 0, secondPhaseOffset = 0;
  uint16_t deadbandSize = 0;  // sixteenths
  int32_t commandOutputAddress = 0, commutationPosAddr = 0, powerOnPhasePosAddr = 0;
  uint8_t numCommutationCycles = 0;
  uint32_t encCtsPerCommutationCycles = 0;
  uint16_t commutationPhaseAngle = 0;
  float parkDelay = 0;
};

struct mc_enc_entry_t {
  int32_t entry = 0;  // 1..16
  int32_t type = MC_ENC_NONE;
  int32_t words = 0;  // 1..3
  int32_t word[3] = {};
};

struct mc_config_t {
  std::string configName;
  uint16_t configNums[2] = {};
  uint16_t divisors[4] = {};
  uint16_t zRange = 0;
  // Axis numbers, -1 for none (-2 also allowed in the L stick's first place).
  int8_t hJoystick[3] = {}, vJoystick[3] = {}, rJoystick[3] = {}, lJoystick[2] = {};
  uint8_t zt8Disable = 0, eibDisable = 0;
  uint8_t sclkType = 0, zEncType = 0;
  uint8_t lcdmi[2] = {};  // X, Y
  int16_t zStopDir = 0;
  uint16_t inPosCount = 0;
  uint8_t msFlags = 0;  // bit 0 enabled, bit 1 autostart
  int32_t maxPhaseFreq = 0;
  uint8_t clockFreq = 0;  // phase clock low half, servo clock high half
  uint16_t hwClockCtrl1to4 = 0, hwClockCtrl5to8 = 0;
  uint32_t dacStrobeWord1to4 = 0, dacStrobeWord5to8 = 0;
  int32_t afScalar = 0;
  uint16_t afAllowableError = 0;
  uint8_t afEnabled = 0, parkStageEnabled = 0;
  uint16_t afAverages = 0, afMaxDelta = 0;
  mc_axis_config_t axes[MC_AXES];
  // Index 0 is entry 1; a type of MC_ENC_NONE ends the table.
  mc_enc_entry_t encTable[MC_ENC_ENTRIES + 1];
};

// Clears the record and gives every setting its default.
void mc_config_defaults(mc_config_t* cfg);

// Reads a configuration file over the record. Makes sure first that the
// current system information record has been read from its calibration
// file, whose gains and compensation names serve as per-letter defaults
// (that read's failure is returned). A malformed file gives the error code of
// its first fault, logged with the line number; a file that cannot be opened
// ERR_CANT_OPEN_FILE. The path may be marked wide.
int mc_read_config(const char* path, mc_config_t* cfg);
