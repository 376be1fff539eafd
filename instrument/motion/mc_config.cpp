// The motion controller configuration file. One keyword table gives every
// setting its value kind, range, place in the record and default: the
// defaults function walks it, and the reader looks each line's first word
// up in it. The encoder conversion table has a small grammar of its own.
#include "instrument/motion/mc_config.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "common/errors.h"
#include "common/hooks.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/motion/mc_config_internal.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

using Axis = mc_axis_config_t;
using Ctrl = mc_config_t;
using Gains = mc_gains_t;

// Characters of a line that count; the rest of a longer line is dropped.
constexpr std::size_t kLineMax = 511;
constexpr float kFloatMax = std::numeric_limits<float>::max();

// ---------------------------------------------------------------- places

// A value as read: integers exactly, reals as doubles.
struct Num {
  int64_t i = 0;
  double r = 0;
};

// Puts value number `index` of a keyword into the record (for a gain, the
// index is the set).
using Store = void (*)(Ctrl& c, int axis, int index, Num v);

// Where a keyword's values go, and what that place can hold: a value
// outside it is out of range, never cut to fit.
struct Field {
  Store store = nullptr;
  // Whether there is a store, for the compile-time checks: a sanitized
  // build does not let a function address be compared there.
  bool stored = false;
  int64_t min = 0, max = 0;
  double rmin = 0, rmax = 0;
  bool real = false;
  bool per_axis = false;
};

template <class M>
struct MemberOf;
template <class C, class T>
struct MemberOf<T C::*> {
  using owner = C;
  using type = std::remove_all_extents_t<T>;
};

template <auto M>
constexpr bool kOnAxis = std::is_same_v<typename MemberOf<decltype(M)>::owner, Axis>;

template <class T>
T& element(T& v, int) {
  return v;
}
template <class T, std::size_t N>
T& element(T (&a)[N], int i) {
  return a[i];
}

template <auto M>
auto& place(Ctrl& c, int axis, int index) {
  if constexpr (kOnAxis<M>) {
    return element(c.axes[axis].*M, index);
  } else {
    return element(c.*M, index);
  }
}

template <class T>
void assign(T& to, Num v) {
  if constexpr (std::is_floating_point_v<T>) {
    to = static_cast<T>(v.r);
  } else {
    to = static_cast<T>(v.i);
  }
}

template <class T>
constexpr Field holding(Store store, bool per_axis) {
  Field f;
  f.store = store;
  f.stored = true;  // always given one
  f.per_axis = per_axis;
  if constexpr (std::is_floating_point_v<T>) {
    f.real = true;
    f.rmin = -static_cast<double>(std::numeric_limits<T>::max());
    f.rmax = static_cast<double>(std::numeric_limits<T>::max());
  } else {
    f.min = std::numeric_limits<T>::min();
    f.max = static_cast<int64_t>(std::numeric_limits<T>::max());
  }
  return f;
}

template <auto M>
void put(Ctrl& c, int axis, int index, Num v) {
  assign(place<M>(c, axis, index), v);
}

// A member, or the elements of an array member.
template <auto M>
constexpr Field field() {
  return holding<typename MemberOf<decltype(M)>::type>(&put<M>, kOnAxis<M>);
}

template <auto M, int Shift, int Width>
void put_bits(Ctrl& c, int axis, int, Num v) {
  auto& to = place<M>(c, axis, 0);
  using T = std::remove_reference_t<decltype(to)>;
  constexpr unsigned kMask = ((1u << Width) - 1u) << Shift;
  to = static_cast<T>((to & ~kMask) | ((static_cast<unsigned>(v.i) << Shift) & kMask));
}

template <auto M, int Shift, int Width = 1>
constexpr Field bits() {
  Field f;
  f.store = &put_bits<M, Shift, Width>;
  f.stored = true;
  f.max = (int64_t{1} << Width) - 1;
  f.per_axis = kOnAxis<M>;
  return f;
}

template <auto M, uint32_t ShortLimit>
void put_rate(Ctrl& c, int axis, int, Num v) {
  mc_rate_t& rate = c.axes[axis].*M;
  rate.full = static_cast<uint32_t>(v.i);
  rate.shortForm = v.i <= ShortLimit ? static_cast<uint16_t>(v.i) : uint16_t{0};
}

template <auto M, uint32_t ShortLimit>
constexpr Field rate() {
  return holding<uint32_t>(&put_rate<M, ShortLimit>, true);
}

template <auto G>
void put_gain(Ctrl& c, int axis, int set, Num v) {
  assign(c.axes[axis].gains[set].*G, v);
}

template <auto G>
constexpr Field gain() {
  return holding<typename MemberOf<decltype(G)>::type>(&put_gain<G>, true);
}

// A real with its unit code: value 0 is the real, value 1 the code.
template <auto V, auto U>
void put_unit_real(Ctrl& c, int axis, int index, Num v) {
  Axis& a = c.axes[axis];
  if (index == 0) {
    a.*V = static_cast<float>(v.r);
  } else {
    a.*U = static_cast<uint8_t>(v.r);
  }
}

template <auto V, auto U>
constexpr Field unit_real() {
  return holding<float>(&put_unit_real<V, U>, true);
}

// Kept in sixteenths, rounded to the nearest.
void put_deadband(Ctrl& c, int axis, int, Num v) {
  c.axes[axis].deadbandSize = static_cast<uint16_t>(std::lround(v.r * 16));
}

constexpr Field deadband() {
  Field f = holding<float>(&put_deadband, true);
  f.rmin = 0;
  f.rmax = 65535.0 / 16;
  return f;
}

// ---------------------------------------------------------------- keywords

enum class Kind : uint8_t {
  kInt,     // decimal integers in range
  kFlag,    // one decimal integer; non-zero is 1
  kReal,    // decimal reals in range
  kText,    // read by the keyword's rule
  kIgnore,  // a value word, accepted at the start of a line and ignored
};

struct Reader;
struct Keyword;
// Reads a line whose form is more than its values.
using Rule = int (*)(Reader& r, const Keyword& k);
// Gives defaults that are more than the values of the row.
using Reset = void (*)(Ctrl& c);

struct Keyword {
  std::string_view name;
  Kind kind = Kind::kIgnore;
  Field field{};
  int count = 1;  // values on the line
  int64_t lo = 0, hi = 0;
  double rlo = 0, rhi = 0;
  bool whole = false;  // any value the field holds
  bool gain = false;   // FAST or SLOW comes first
  bool has_default = false;
  std::array<double, 4> def{};
  Rule rule = nullptr;
  bool ruled = false;  // has a rule, for the compile-time checks
  Reset reset = nullptr;
};

constexpr Keyword ints(std::string_view name, Field f, int64_t lo, int64_t hi, double def) {
  Keyword k{name, Kind::kInt, f};
  k.lo = lo;
  k.hi = hi;
  k.has_default = true;
  k.def[0] = def;
  return k;
}

// Several integers, each in the range.
constexpr Keyword ints(std::string_view name, Field f, int64_t lo, int64_t hi,
                       std::array<double, 4> def, int count) {
  Keyword k = ints(name, f, lo, hi, 0);
  k.def = def;
  k.count = count;
  return k;
}

// Any integer the field holds.
constexpr Keyword whole(std::string_view name, Field f, double def) {
  Keyword k = ints(name, f, 0, 0, def);
  k.whole = true;
  return k;
}

constexpr Keyword flag(std::string_view name, Field f, double def) {
  Keyword k = ints(name, f, 0, 0, def);
  k.kind = Kind::kFlag;
  return k;
}

constexpr Keyword reals(std::string_view name, Field f, double lo, double hi, double def) {
  Keyword k{name, Kind::kReal, f};
  k.rlo = lo;
  k.rhi = hi;
  k.has_default = true;
  k.def[0] = def;
  return k;
}

// Any finite real the field holds.
constexpr Keyword any_real(std::string_view name, Field f, double def) {
  Keyword k = reals(name, f, 0, 0, def);
  k.whole = true;
  return k;
}

constexpr Keyword with_gain(Keyword k) {
  k.gain = true;
  return k;
}

// A rule without a field stores what it reads itself, and has no default.
constexpr Keyword with_rule(Keyword k, Rule rule) {
  k.rule = rule;
  k.ruled = true;
  k.has_default = k.has_default && k.field.stored;
  return k;
}

constexpr Keyword text(std::string_view name, Rule rule, Reset reset = nullptr) {
  Keyword k{name, Kind::kText};
  k.rule = rule;
  k.ruled = true;
  k.reset = reset;
  return k;
}

constexpr Keyword ignored(std::string_view name) { return Keyword{name, Kind::kIgnore}; }

// The rules, defined with the reader below.
int start_axis(Reader& r, const Keyword& k);
int copy_axis(Reader& r, const Keyword& k);
int unit_value(Reader& r, const Keyword& k);
int axis_name(Reader& r, const Keyword& k);
int travel(Reader& r, const Keyword& k);
int joystick(Reader& r, const Keyword& k);
int motor_num(Reader& r, const Keyword& k);
int axis_comp(Reader& r, const Keyword& k);
int config(Reader& r, const Keyword& k);
int lcdmi(Reader& r, const Keyword& k);
int non_zero(Reader& r, const Keyword& k);
int enc_table(Reader& r, const Keyword& k);
void default_names(Ctrl& c);
void default_config(Ctrl& c);
void default_enc_table(Ctrl& c);

constexpr int64_t k24Bits = 0xFFFFFF;

// Grouped as the record is; sorted below.
constexpr Keyword kRows[] = {
    // ---- axis keywords
    with_rule(ints("AXIS", {}, 0, MC_AXES - 1, 0), start_axis),
    ints("AVOID_HI", field<&Axis::avoidHi>(), 1, 0x3FFF, 1),
    ints("AVOID_LO", field<&Axis::avoidLo>(), 1, 0x3FFF, 1),
    whole("CAN_CLOSED_LOOP", field<&Axis::canClosedLoop>(), 0),
    with_rule(ints("COPY", {}, 0, 7, 0), copy_axis),
    ints("DRIVE_LOW", field<&Axis::driveLow>(), 0, 3, 1),
    ints("DRIVE_OFF", field<&Axis::driveOff>(), 0, 3, 0),
    ints("DRIVE_ON", field<&Axis::driveOn>(), 0, 3, 3),
    ints("DRIVE_VCC", bits<&Axis::flags2, 0>(), 0, 1, 0),
    ints("DRIVE_REV", bits<&Axis::flags2, 1>(), 0, 1, 0),
    ints("PROG_REV", bits<&Axis::flags2, 2>(), 0, 1, 0),
    ints("MAN_REV", bits<&Axis::flags2, 3>(), 0, 1, 0),
    ints("ENC_REV", bits<&Axis::flags2, 4>(), 0, 1, 0),
    ints("GOT_AXIS", bits<&Axis::flags1, 0>(), 0, 1, 0),
    ints("GOT_ENCODER", bits<&Axis::flags1, 1>(), 0, 1, 0),
    ints("GOT_LIMITS", bits<&Axis::flags1, 2>(), 0, 1, 0),
    ints("LIMIT_DELAY", bits<&Axis::flags1, 3, 3>(), 0, 7, 4),
    ints("LIMIT_POL", bits<&Axis::flags1, 6>(), 0, 1, 1),
    ints("HOME_DIR", bits<&Axis::flags1, 7>(), 0, 1, 1),
    with_rule(ints("ENC_STEPS", unit_real<&Axis::encSteps, &Axis::encStepsUnit>(), 0, 0,
                   {0, MC_MICROINCHES}, 2),
              unit_value),
    with_rule(ints("PITCH_GEARRATIO", unit_real<&Axis::pitchGearRatio, &Axis::pitchUnit>(), 0, 0,
                   {0, MC_REVS_PER_IN}, 2),
              unit_value),
    ints("HOME_TYPE", field<&Axis::homeType>(), 0, 6, 0),
    any_real("HOME_LIMIT_POS", field<&Axis::homeLimitPos>(), kFloatMax),
    ints("HOME_LOC", field<&Axis::homeLoc>(), 0, k24Bits, 4000),
    whole("HOME_ZERO", field<&Axis::homeZero>(), 0),
    ints("LIMIT_LOC", field<&Axis::limitLoc>(), 100, 50000, 0),
    ints("MAN_ACCEL", rate<&Axis::manAccel, 0x7FFF>(), 1, k24Bits, 10),
    ints("PROG_ACCEL", rate<&Axis::progAccel, 0x7FFF>(), 1, k24Bits, 50),
    ints("STOP_ACCEL", rate<&Axis::stopAccel, 0x7FFF>(), 1, k24Bits, 4),
    ints("HOME_ACCEL", rate<&Axis::homeAccel, 0x7FFF>(), 1, k24Bits, 0),
    ints("MAN_RATE", rate<&Axis::manRate, 0x3FFF>(), 1, k24Bits, 0),
    ints("PROG_RATE", rate<&Axis::progRate, 0x3FFF>(), 1, k24Bits, 8000),
    ints("HOME_RATE", rate<&Axis::homeRate, 0x3FFF>(), 1, k24Bits, 0),
    ints("MAN_SS_RATE", field<&Axis::manSsRate>(), 1, 5000, 64),
    ints("PROG_SS_RATE", field<&Axis::progSsRate>(), 1, 5000, 64),
    ints("FINE_RATE", field<&Axis::fineRate>(), 1, 1600, 64),
    ints("MULT", field<&Axis::mult>(), 2, 0x3FFF, 16),
    text("NAME", axis_name, default_names),
    ints("PD_TIME", field<&Axis::pdTime>(), 0, 255, 5),
    ints("PD_PERCENT", field<&Axis::pdPercent>(), 0, 100, 100),
    ints("STEPS_PER_REV", field<&Axis::stepsPerRev>(), 200, 50000, 0),
    ints("STICK_CROSS", field<&Axis::stickCross>(), 0, 127, 30),
    ints("STICK_DEAD", field<&Axis::stickDead>(), 0, 31, 10),
    ints("STICK_K", field<&Axis::stickK>(), 1, 3, 3),
    // Not 0xFFFFFF: the limit controllers in the field have always had.
    ints("BACKLASH", field<&Axis::backlash>(), 0, 1677721, 1000),
    [] {
      Keyword k = with_rule(any_real("TRAVEL", field<&Axis::travel>(), 0), travel);
      k.count = 3;
      return k;
    }(),
    whole("VERSION", field<&Axis::version>(), 0),
    with_rule(ints("JOYSTICK", field<&Axis::joystick>(), 0, 0, MC_NO_JOYSTICK), joystick),
    any_real("AVG_CURR", field<&Axis::avgCurr>(), 0),
    any_real("PEAK_CURR", field<&Axis::peakCurr>(), 0),
    flag("MOTOR_MODE", bits<&Axis::motor, 0>(), 0),
    flag("MOTOR_TYPE", bits<&Axis::motor, 1>(), 0),
    flag("ROTARY_STAGE", bits<&Axis::stage, 0>(), 0),
    flag("ANGLE_STAGE", bits<&Axis::stage, 1>(), 0),
    flag("PARK_AIR_STAGE", field<&Axis::parkAirStage>(), 0),
    ints("AXIS_GROUP", field<&Axis::axisGroup>(), 1, 8, -1),
    whole("MICROSTEP", field<&Axis::microstep>(), 1),
    with_rule(ints("MOTOR_NUM", field<&Axis::motorNum>(), 1, 8, 0), motor_num),
    whole("PMAC_BOARD", field<&Axis::pmacBoard>(), 0),
    with_gain(ints("PID_PROP_GAIN", gain<&Gains::prop>(), -0x800000, 0x7FFFFF, 700)),
    with_gain(ints("PID_DER_GAIN", gain<&Gains::der>(), -0x800000, 0x7FFFFF, 0)),
    with_gain(ints("PID_VEL_FF_GAIN", gain<&Gains::velFf>(), 0, 0x7FFFFF, 15050)),
    with_gain(ints("PID_INT_GAIN", gain<&Gains::integ>(), 0, 0x7FFFFF, 0)),
    with_gain(ints("PID_ACCEL_FF_GAIN", gain<&Gains::accelFf>(), 0, 0x7FFFFF, 0)),
    with_gain(flag("PID_INT_MODE", gain<&Gains::intMode>(), 0)),
    with_gain(reals("PID_N1", gain<&Gains::n1>(), -2, 2, 0)),
    with_gain(reals("PID_N2", gain<&Gains::n2>(), -2, 2, 0)),
    with_gain(reals("PID_D1", gain<&Gains::d1>(), -2, 2, 0)),
    with_gain(reals("PID_D2", gain<&Gains::d2>(), -2, 2, 0)),
    ints("ENC_DECODE", field<&Axis::encDecode>(), 0, 8, 8),
    whole("FOLLOW_WARN", field<&Axis::followWarn>(), 1000),
    whole("FOLLOW_ERROR", field<&Axis::followError>(), 2000),
    text("AXIS_COMP", axis_comp),
    ints("ENC_AXIS_NUM", field<&Axis::encAxisNum>(), 0, 7, MC_NO_ENC_AXIS),
    ints("GOT_DRIVER", field<&Axis::gotDriver>(), 0, 1, 1),
    ints("ENC_GATED_INDEX_SELECT", bits<&Axis::commutation, 0>(), 0, 1, 0),
    ints("ENC_INDEX_GATE_STATE", bits<&Axis::commutation, 1>(), 0, 1, 0),
    ints("COMMUTATION_ENABLE", bits<&Axis::commutation, 8>(), 0, 1, 0),
    // Three bits wide, but the controller takes 0..3 only.
    ints("OUTPUT_MODE_SELECT", bits<&Axis::commutation, MC_OUTPUT_MODE_SELECT_SHIFT, 3>(), 0, 3, 2),
    ints("OUTPUT_INVERT_CTRL", bits<&Axis::commutation, MC_OUTPUT_INVERT_CTRL_SHIFT, 3>(), 0, 3, 2),
    ints("POWER_UP_MODE", bits<&Axis::commutation, MC_POWER_UP_MODE_SHIFT, 3>(), 0, 3, 0),
    ints("DEADBAND_GAIN_FACTOR", field<&Axis::deadbandGainFactor>(), -0x8000, 0x7FFF, -16),
    ints("FIRST_PHASE_OFFSET", field<&Axis::firstPhaseOffset>(), -0x8000, 0x7FFF, 0),
    ints("SECOND_PHASE_OFFSET", field<&Axis::secondPhaseOffset>(), -0x8000, 0x7FFF, 0),
    reals("DEADBAND_SIZE", deadband(), 0, 2047.9375, 2.0),
    ints("COMMAND_OUTPUT_ADDRESS", field<&Axis::commandOutputAddress>(), 0, k24Bits,
         MC_ADDRESS_UNSET),
    ints("COMMUTATION_POS_ADDR", field<&Axis::commutationPosAddr>(), 0, 0xFFFF,
         MC_COMMUTATION_ADDR_UNSET),
    ints("POWER_ON_PHASE_POS_ADDR", field<&Axis::powerOnPhasePosAddr>(), 0, k24Bits, 0),
    ints("NUM_COMMUTATION_CYCLES", field<&Axis::numCommutationCycles>(), 0, 255, 0),
    ints("ENC_CTS_PER_COMMUTATION_CYCLES", field<&Axis::encCtsPerCommutationCycles>(), 0, 0x7FFFFF,
         1000),
    ints("COMMUTATION_PHASE_ANGLE", field<&Axis::commutationPhaseAngle>(), 0, 359, 120),
    reals("PARK_DELAY", field<&Axis::parkDelay>(), 0, 5000, 150),
    // ---- controller-wide keywords
    [] {
      Keyword k = text("CONFIG", config, default_config);
      k.field = field<&Ctrl::configNums>();
      k.whole = true;
      k.count = 2;
      return k;
    }(),
    ints("DIVISORS", field<&Ctrl::divisors>(), 1, 4000, {167, 12, 1, 0}, 4),
    ints("Z_RANGE", field<&Ctrl::zRange>(), 0, 4, 4),
    ints("HJOYSTICK", field<&Ctrl::hJoystick>(), -1, 7, {-1, -1, -1}, 3),
    ints("VJOYSTICK", field<&Ctrl::vJoystick>(), -1, 7, {-1, -1, -1}, 3),
    ints("RJOYSTICK", field<&Ctrl::rJoystick>(), -1, 7, {-1, -1, -1}, 3),
    ints("LJOYSTICK", field<&Ctrl::lJoystick>(), -2, 7, {-1, 2}, 2),
    flag("ZT8_DISABLE", field<&Ctrl::zt8Disable>(), 0),
    flag("EIB_DISABLE", field<&Ctrl::eibDisable>(), 0),
    ints("SCLK_TYPE", field<&Ctrl::sclkType>(), 0, 7, 0),
    ints("Z_ENC_TYPE", field<&Ctrl::zEncType>(), 0, 3, 0),
    [] {
      Keyword k = with_rule(flag("LCDMI", field<&Ctrl::lcdmi>(), 0), lcdmi);
      k.count = 2;
      return k;
    }(),
    whole("ZSTOP_DIR", field<&Ctrl::zStopDir>(), 1),
    ints("IN_POS_COUNT", field<&Ctrl::inPosCount>(), 1, 1000, 1),
    flag("MS_ENABLED", bits<&Ctrl::msFlags, 0>(), 0),
    flag("MS_AUTOSTART", bits<&Ctrl::msFlags, 1>(), 0),
    ints("MAX_PHASE_FREQ", field<&Ctrl::maxPhaseFreq>(), 0, 0xFFFF, 6527),
    ints("PHASE_CLOCK_FREQ", bits<&Ctrl::clockFreq, 0, 4>(), 0, 15, 0),
    ints("SERVO_CLOCK_FREQ", bits<&Ctrl::clockFreq, 4, 4>(), 0, 15, 3),
    ints("HW_CLOCK_CTRL_1_4", field<&Ctrl::hwClockCtrl1to4>(), 0, 4095, 2258),
    ints("HW_CLOCK_CTRL_5_8", field<&Ctrl::hwClockCtrl5to8>(), 0, 4095, 2258),
    ints("DAC_STROBE_WORD_1_4", field<&Ctrl::dacStrobeWord1to4>(), 0, k24Bits, 0x7FFFC0),
    ints("DAC_STROBE_WORD_5_8", field<&Ctrl::dacStrobeWord5to8>(), 0, k24Bits, 0x7FFFC0),
    with_rule(whole("AF_SCALAR", field<&Ctrl::afScalar>(), 1), non_zero),
    whole("AF_ALLOWABLE_ERROR", field<&Ctrl::afAllowableError>(), 0),
    flag("AF_ENABLED", field<&Ctrl::afEnabled>(), 0),
    flag("PARK_STAGE_ENABLED", field<&Ctrl::parkStageEnabled>(), 0),
    ints("AF_AVERAGES", field<&Ctrl::afAverages>(), 1, 1000, 1),
    ints("AF_MAXDELTA", field<&Ctrl::afMaxDelta>(), 0, 4095, 820),
    text("ENC_TABLE", enc_table, default_enc_table),
    // ---- value words that may start a line
    ignored("LEFT_H"),
    ignored("LEFT_V"),
    ignored("RIGHT_H"),
    ignored("RIGHT_V"),
    ignored("RIGHT_R"),
    ignored("1/T"),
    ignored("PARALLEL_BIT"),
    ignored("INCREMENTAL"),
    ignored("ADC_REGISTER"),
    ignored("INTEGRATED_ANALOG"),
    ignored("PARALLEL_POS"),
    ignored("FILTERED_PARALLEL_POS"),
    ignored("TIME_BASED"),
    ignored("EXPONENTIAL"),
    ignored("ADDR"),
    ignored("SUM"),
    ignored("SIGNED"),
    ignored("SHIFT"),
    ignored("BIAS"),
    ignored("SIZE"),
    ignored("SCALE"),
    ignored("MAX_CHANGE"),
    ignored("FILTER"),
};

constexpr std::size_t kRowCount = std::size(kRows);
using Table = std::array<Keyword, kRowCount>;

consteval Table sorted_rows() {
  Table t{};
  std::copy(std::begin(kRows), std::end(kRows), t.begin());
  std::ranges::sort(t, {}, &Keyword::name);
  return t;
}

// Searched by halving on the upper-cased word, so it must be in plain byte
// order with every name upper case.
constexpr Table kTable = sorted_rows();

consteval bool strictly_sorted_upper_case() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    if (i > 0 && !(kTable[i - 1].name < kTable[i].name)) return false;
    for (char c : kTable[i].name) {
      if (c >= 'a' && c <= 'z') return false;
    }
  }
  return true;
}
static_assert(strictly_sorted_upper_case(),
              "keyword table not sorted, a name in lower case, or listed twice");

consteval bool fits(const Field& f, double v) {
  return f.real ? f.rmin <= v && v <= f.rmax
                : static_cast<double>(f.min) <= v && v <= static_cast<double>(f.max);
}

// Every value row has a place whose kind matches; its range and defaults
// fit that place.
consteval bool rows_fit_their_fields() {
  for (const Keyword& k : kTable) {
    if (k.kind == Kind::kIgnore) continue;
    if (k.count < 1 || k.count > 4) return false;
    if (k.kind == Kind::kText) {
      if (!k.ruled) return false;
      if (!k.field.stored) continue;
    }
    if (!k.field.stored) {
      if (!k.ruled) return false;  // read, but stored by the rule
      continue;
    }
    if (k.gain && !k.field.per_axis) return false;
    if (k.kind == Kind::kReal && !k.field.real) return false;
    if ((k.kind == Kind::kInt || k.kind == Kind::kFlag) && k.field.real && !k.ruled) return false;
    if (!k.whole && k.kind == Kind::kInt &&
        (k.lo > k.hi || !fits(k.field, static_cast<double>(k.lo)) ||
         !fits(k.field, static_cast<double>(k.hi)))) {
      return false;
    }
    if (!k.whole && k.kind == Kind::kReal &&
        (k.rlo > k.rhi || !fits(k.field, k.rlo) || !fits(k.field, k.rhi))) {
      return false;
    }
    for (int i = 0; k.has_default && i < k.count; ++i) {
      if (!fits(k.field, k.def[static_cast<std::size_t>(i)])) return false;
    }
  }
  return true;
}
static_assert(rows_fit_their_fields(), "a keyword's range or default does not fit its field");

const Keyword* find_keyword(std::string_view upper) {
  const auto* row = std::ranges::lower_bound(kTable, upper, {}, &Keyword::name);
  return row != kTable.end() && row->name == upper ? row : nullptr;
}

consteval bool listed_as_ignored(std::string_view name) {
  for (const Keyword& k : kTable) {
    if (k.name == name) return k.kind == Kind::kIgnore;
  }
  return false;
}

// ---------------------------------------------------------------- encoder table words

enum class FirstWord : uint8_t {
  kPerEntry,  // base + 8n
  kPerPair,   // base + 8 * ((n - 1) / 2), plus 1 for an even n
  kFixed,
  kXOrY,  // base after X, base_y after Y
};

enum EncName : unsigned {
  kAddr = 1u << 0,
  kSum = 1u << 1,
  kSigned = 1u << 2,
  kShift = 1u << 3,
  kBias = 1u << 4,
  kSize = 1u << 5,
  kScale = 1u << 6,
  kMaxChange = 1u << 7,
  kFilter = 1u << 8,
};

struct EncType {
  std::string_view name;
  int32_t code;
  int32_t words;
  FirstWord how;
  int32_t base;
  int32_t base_y;
  unsigned required;
};

constexpr EncType kEncTypes[] = {
    {"1/T", MC_ENC_1_T, 1, FirstWord::kPerEntry, 0xBFF8, 0, 0},
    {"PARALLEL_BIT", MC_ENC_PARALLEL_BIT, 1, FirstWord::kPerEntry, 0x80BFF8, 0, 0},
    {"INCREMENTAL", MC_ENC_INCREMENTAL, 1, FirstWord::kPerEntry, 0xC0BFF8, 0, 0},
    {"ADC_REGISTER", MC_ENC_ADC_REGISTER, 1, FirstWord::kPerPair, 0x10C006, 0, 0},
    {"INTEGRATED_ANALOG", MC_ENC_INTEGRATED_ANALOG, 2, FirstWord::kPerPair, 0x50C006, 0, kBias},
    {"PARALLEL_POS", MC_ENC_PARALLEL_POS, 2, FirstWord::kXOrY, 0x600000, 0x200000, kAddr | kSize},
    {"FILTERED_PARALLEL_POS", MC_ENC_FILTERED_PARALLEL_POS, 3, FirstWord::kXOrY, 0x700000, 0x300000,
     kAddr | kSize | kFilter},
    {"TIME_BASED", MC_ENC_TIME_BASED, 2, FirstWord::kFixed, 0x400000, 0, kAddr | kScale},
    {"EXPONENTIAL", MC_ENC_EXPONENTIAL, 3, FirstWord::kFixed, 0xD00000, 0,
     kAddr | kMaxChange | kFilter},
};

constexpr unsigned types(std::initializer_list<int32_t> codes) {
  unsigned m = 0;
  for (int32_t c : codes) m |= 1u << c;
  return m;
}

struct EncNameRow {
  std::string_view name;
  EncName bit;
  unsigned applies;  // bit n for type n
};

// In the order that missing names are listed.
constexpr EncNameRow kEncNames[] = {
    {"ADDR", kAddr, types({1, 2, 3, 4, 5, 6, 7, 8, 9})},
    {"SUM", kSum, types({1, 2, 3, 4, 6, 7, 8})},
    {"SIGNED", kSigned, types({4, 5})},
    {"SHIFT", kShift, types({6, 7})},
    {"BIAS", kBias, types({5})},
    {"SIZE", kSize, types({6, 7})},
    {"SCALE", kScale, types({8})},
    {"MAX_CHANGE", kMaxChange, types({9})},
    {"FILTER", kFilter, types({7, 9})},
};

constexpr std::string_view kJoystickWords[] = {"LEFT_H", "LEFT_V", "RIGHT_H", "RIGHT_V", "RIGHT_R"};

// A line starting with one of these words is no fault.
consteval bool value_words_listed() {
  for (const EncType& t : kEncTypes) {
    if (!listed_as_ignored(t.name)) return false;
  }
  for (const EncNameRow& n : kEncNames) {
    if (!listed_as_ignored(n.name)) return false;
  }
  for (std::string_view w : kJoystickWords) {
    if (!listed_as_ignored(w)) return false;
  }
  return std::size(kEncTypes) == MC_ENC_EXPONENTIAL;
}
static_assert(value_words_listed(), "a value word is missing from the keyword table");

// ---------------------------------------------------------------- text

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string upper(std::string_view word) {
  std::string out(word);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// The blank-separated words of a line, one at a time.
class Words {
 public:
  void reset(std::string_view text) { rest_ = text; }
  // The next word; empty at the end of the line.
  std::string_view next() {
    std::size_t i = 0;
    while (i < rest_.size() && is_blank(rest_[i])) ++i;
    std::size_t j = i;
    while (j < rest_.size() && !is_blank(rest_[j])) ++j;
    const std::string_view word = rest_.substr(i, j - i);
    rest_.remove_prefix(j);
    return word;
  }
  // Drops the rest of the line from the first '#' on.
  void cut_comment() { rest_ = rest_.substr(0, rest_.find('#')); }

 private:
  std::string_view rest_;
};

enum class Parsed { kOk, kSyntax, kOverflow };

// [+-]digits, the whole word; beyond 64 bits is an overflow.
Parsed parse_decimal(std::string_view w, int64_t& out) {
  const bool negative = !w.empty() && w[0] == '-';
  if (!w.empty() && (w[0] == '-' || w[0] == '+')) w.remove_prefix(1);
  if (w.empty()) return Parsed::kSyntax;
  uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(w.data(), w.data() + w.size(), magnitude);
  if (end != w.data() + w.size()) {
    // from_chars stops at the first non-digit even when it overflowed.
    return Parsed::kSyntax;
  }
  constexpr uint64_t kMaxMagnitude = uint64_t{1} << 63;
  if (error != std::errc{} || magnitude > kMaxMagnitude ||
      (!negative && magnitude == kMaxMagnitude)) {
    return Parsed::kOverflow;
  }
  out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return Parsed::kOk;
}

// An integer of the encoder table: decimal, 0x hexadecimal or 0 octal, with
// an optional sign, the whole word.
Parsed parse_based(std::string_view w, int64_t& out) {
  const bool negative = !w.empty() && w[0] == '-';
  if (!w.empty() && (w[0] == '-' || w[0] == '+')) w.remove_prefix(1);
  int base = 10;
  if (w.size() > 1 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
    base = 16;
    w.remove_prefix(2);
  } else if (w.size() > 1 && w[0] == '0') {
    base = 8;
    w.remove_prefix(1);
  }
  if (w.empty() || w[0] == '+' || w[0] == '-') return Parsed::kSyntax;
  uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(w.data(), w.data() + w.size(), magnitude, base);
  if (end != w.data() + w.size()) return Parsed::kSyntax;
  constexpr uint64_t kMaxMagnitude = uint64_t{1} << 63;
  if (error != std::errc{} || magnitude > kMaxMagnitude ||
      (!negative && magnitude == kMaxMagnitude)) {
    return Parsed::kOverflow;
  }
  out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return Parsed::kOk;
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// [+-]digits[.digits][(e|E)[+-]digits], also ".5" and "5.": decimal only,
// so "inf", "nan" and hexadecimal forms are no numbers here.
Parsed parse_real(std::string_view w, double& out) {
  std::size_t i = 0;
  if (i < w.size() && (w[i] == '-' || w[i] == '+')) ++i;
  std::size_t digits = 0;
  for (; i < w.size() && is_digit(w[i]); ++i) ++digits;
  if (i < w.size() && w[i] == '.') {
    for (++i; i < w.size() && is_digit(w[i]); ++i) ++digits;
  }
  if (digits == 0) return Parsed::kSyntax;
  if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
    ++i;
    if (i < w.size() && (w[i] == '-' || w[i] == '+')) ++i;
    if (i == w.size() || !is_digit(w[i])) return Parsed::kSyntax;
    while (i < w.size() && is_digit(w[i])) ++i;
  }
  if (i != w.size()) return Parsed::kSyntax;
  // from_chars takes no leading '+'.
  const std::size_t from = w[0] == '+' ? 1 : 0;
  const auto [end, error] = std::from_chars(w.data() + from, w.data() + w.size(), out);
  if (error == std::errc::result_out_of_range) return Parsed::kOverflow;
  if (error != std::errc{} || end != w.data() + w.size()) return Parsed::kSyntax;
  return Parsed::kOk;
}

// ---------------------------------------------------------------- the reader

struct Reader {
  Reader(std::FILE* file, const sysInfo_t& calibration, Ctrl& config)
      : f(file), cal(calibration), cfg(config) {}

  std::FILE* f;
  const sysInfo_t& cal;
  Ctrl& cfg;
  std::string text;
  Words words;
  int line = 0;
  int axis = -1;      // the axis being read; -1 before the first AXIS line
  unsigned seen = 0;  // axes that have had their AXIS line
  unsigned comp = 0;  // axes that named their own compensation
  int enc_lines = 0;

  Axis& current() { return cfg.axes[axis]; }
};

// Reads the next line of the file, its first kLineMax characters kept;
// false at the end of the file.
bool read_line(Reader& r) {
  r.text.clear();
  int c = std::getc(r.f);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getc(r.f)) {
    if (r.text.size() < kLineMax) r.text += static_cast<char>(c);
  }
  ++r.line;
  r.words.reset(r.text);
  return true;
}

int64_t lowest(const Keyword& k) { return k.whole ? k.field.min : k.lo; }
int64_t highest(const Keyword& k) { return k.whole ? k.field.max : k.hi; }

// One value of the keyword's kind, range checked.
int read_value(Reader& r, const Keyword& k, Num& v) {
  const std::string_view w = r.words.next();
  if (w.empty()) return ERR_CORRUPT_DATA_FILE;
  if (k.kind == Kind::kReal) {
    double d = 0;
    const Parsed p = parse_real(w, d);
    if (p == Parsed::kSyntax) return ERR_CORRUPT_DATA_FILE;
    const double lo = k.whole ? k.field.rmin : k.rlo;
    const double hi = k.whole ? k.field.rmax : k.rhi;
    if (p == Parsed::kOverflow || !(lo <= d && d <= hi)) return ERR_PARAM_OUT_OF_RANGE;
    v = Num{0, d};
    return 0;
  }
  int64_t i = 0;
  const Parsed p = parse_decimal(w, i);
  if (p == Parsed::kSyntax) return ERR_CORRUPT_DATA_FILE;
  if (p == Parsed::kOverflow) return ERR_PARAM_OUT_OF_RANGE;
  if (k.kind == Kind::kFlag) {
    i = i != 0 ? 1 : 0;
  } else if (!(lowest(k) <= i && i <= highest(k))) {
    return ERR_PARAM_OUT_OF_RANGE;
  }
  v = Num{i, static_cast<double>(i)};
  return 0;
}

// The keyword's values into its field, after FAST or SLOW for a gain.
int read_values(Reader& r, const Keyword& k) {
  int set = 0;
  if (k.gain) {
    const std::string word = upper(r.words.next());
    if (word == "FAST") {
      set = MC_FAST;
    } else if (word == "SLOW") {
      set = MC_SLOW;
    } else {
      return ERR_CORRUPT_DATA_FILE;
    }
    r.current().gainsGiven = 1;
  }
  for (int i = 0; i < k.count; ++i) {
    Num v;
    const int rc = read_value(r, k, v);
    if (rc != 0) return rc;
    k.field.store(r.cfg, r.axis, k.gain ? set : i, v);
  }
  return 0;
}

// Index of a letter's defaults in the calibration's axis order A, B, P, R,
// T, X, Y, Z; -1 for none. r stands in for X.
int calibration_index(char letter) {
  constexpr std::string_view kOrder = "ABPRTXYZ";
  if (letter == 'r') return 5;
  const std::size_t at = kOrder.find(letter);
  return letter == 0 || at == std::string_view::npos ? -1 : static_cast<int>(at);
}

Gains from_calibration(const sb_pid_set_t& p) {
  return Gains{p.p1, p.p2, p.p3, p.p4, p.p5, p.p6, p.p7, p.p8, p.p9, p.p10};
}

// An axis is complete: it counts as defined, and its letter supplies what
// the file left out.
void end_axis(Reader& r) {
  Axis& a = r.current();
  a.defined = 1;
  const int at = calibration_index(a.name);
  if (at < 0) return;
  if (a.gainsGiven == 0) {
    const sb_pid_t* pid = r.cal.pid[at].get();
    const sb_pid_set_t unset{};
    for (int set = 0; set < 2; ++set)
      a.gains[set] = from_calibration(pid != nullptr ? pid->sets[set] : unset);
  }
  if ((r.comp & (1u << r.axis)) == 0) a.axisComp = r.cal.axisCompFile[at];
}

int start_axis(Reader& r, const Keyword& k) {
  Num v;
  const int rc = read_value(r, k, v);
  if (rc != 0) return rc;
  const unsigned bit = 1u << v.i;
  if ((r.seen & bit) != 0) return ERR_CORRUPT_DATA_FILE;
  if (r.axis >= 0) end_axis(r);
  r.seen |= bit;
  r.axis = static_cast<int>(v.i);
  return 0;
}

int copy_axis(Reader& r, const Keyword& k) {
  Num v;
  const int rc = read_value(r, k, v);
  if (rc != 0) return rc;
  const Axis& from = r.cfg.axes[v.i];
  if (from.defined == 0) return ERR_CORRUPT_DATA_FILE;
  Axis& to = r.current();
  // The addresses belong to the axis's own motor, the name to its own stage.
  const int32_t output = to.commandOutputAddress;
  const int32_t commutation = to.commutationPosAddr;
  std::string comp = std::move(to.axisComp);
  if (&from != &to) to = from;
  to.commandOutputAddress = output;
  to.commutationPosAddr = commutation;
  to.axisComp = std::move(comp);
  return 0;
}

struct Unit {
  std::string_view word;
  uint8_t code;
  double least;
};

// ENC_STEPS and PITCH_GEARRATIO: a real, then its unit.
int unit_value(Reader& r, const Keyword& k) {
  static constexpr Unit kEncUnits[] = {{"MICRONS", MC_MICRONS, 0.05},
                                       {"MICROINCHES", MC_MICROINCHES, 1.9685},
                                       {"RATIO", MC_RATIO, 0}};
  // Revolutions per mm become revolutions per inch when the file has been
  // read, so they must stay finite times 25.4.
  static constexpr Unit kPitchUnits[] = {{"REVS_PER_IN", MC_REVS_PER_IN, -kFloatMax},
                                         {"REVS_PER_MM", MC_REVS_PER_MM, -kFloatMax / 25.4},
                                         {"RATIO", MC_RATIO, -kFloatMax}};
  const bool pitch = k.name == "PITCH_GEARRATIO";
  double value = 0;
  const Parsed p = parse_real(r.words.next(), value);
  if (p == Parsed::kSyntax) return ERR_CORRUPT_DATA_FILE;
  const std::string word = upper(r.words.next());
  if (word.empty()) return ERR_CORRUPT_DATA_FILE;
  const Unit* unit = nullptr;
  for (const Unit& u :
       pitch ? std::span<const Unit>(kPitchUnits) : std::span<const Unit>(kEncUnits)) {
    if (u.word == word) unit = &u;
  }
  if (unit == nullptr) return ERR_INVALID_PARAM;
  const double most = pitch && unit->code == MC_REVS_PER_MM ? kFloatMax / 25.4 : kFloatMax;
  if (p == Parsed::kOverflow || !(unit->least <= value && value <= most))
    return ERR_PARAM_OUT_OF_RANGE;
  k.field.store(r.cfg, r.axis, 0, Num{0, value});
  k.field.store(r.cfg, r.axis, 1, Num{0, static_cast<double>(unit->code)});
  return 0;
}

int axis_name(Reader& r, const Keyword&) {
  const std::string_view w = r.words.next();
  if (w.empty()) return ERR_CORRUPT_DATA_FILE;
  if (w.size() != 1) return ERR_INVALID_PARAM;
  char c = w[0];
  if (c != 'a' && c != 'b' && c != 'r') c = upper(w)[0];
  if (std::string_view("abrABPRTXYZ").find(c) == std::string_view::npos) return ERR_INVALID_PARAM;
  r.current().name = c;
  return 0;
}

void default_names(Ctrl& c) {
  constexpr char kNames[MC_AXES] = {'X', 'Y', 'Z', 'P', 'R', 'T', 0, 0};
  for (int i = 0; i < MC_AXES; ++i) c.axes[i].name = kNames[i];
}

int travel(Reader& r, const Keyword& k) {
  const int rc = read_values(r, k);
  if (rc != 0) return rc;
  const Axis& a = r.current();
  return a.travel[1] <= a.travel[2] ? 0 : ERR_INVALID_PARAM;
}

int joystick(Reader& r, const Keyword&) {
  const std::string word = upper(r.words.next());
  if (word.empty()) return ERR_CORRUPT_DATA_FILE;
  const auto* at = std::ranges::find(kJoystickWords, word);
  if (at == std::end(kJoystickWords)) return ERR_INVALID_PARAM;
  r.current().joystick = static_cast<uint8_t>(at - std::begin(kJoystickWords));
  return 0;
}

// The motor number also places the motor's registers, unless the file
// already has.
int motor_num(Reader& r, const Keyword& k) {
  const int rc = read_values(r, k);
  if (rc != 0) return rc;
  Axis& a = r.current();
  if (a.commandOutputAddress == MC_ADDRESS_UNSET) a.commandOutputAddress = 8 * a.motorNum + 0xBFFC;
  if (a.commutationPosAddr == MC_COMMUTATION_ADDR_UNSET)
    a.commutationPosAddr = 8 * a.motorNum + 0xBFF9;
  return 0;
}

int axis_comp(Reader& r, const Keyword&) {
  const std::string_view w = r.words.next();
  if (w.empty()) return ERR_CORRUPT_DATA_FILE;
  r.current().axisComp.assign(w);
  r.comp |= 1u << r.axis;
  return 0;
}

int config(Reader& r, const Keyword& k) {
  const std::string_view w = r.words.next();
  if (w.empty()) return ERR_CORRUPT_DATA_FILE;
  r.cfg.configName.assign(w);
  return read_values(r, k);
}

void default_config(Ctrl& c) {
  c.configName = "default";
  c.configNums[0] = c.configNums[1] = 0;
}

int lcdmi(Reader& r, const Keyword& k) {
  const std::string word = upper(r.words.next());
  int which = 0;
  if (word == "X") {
    which = 0;
  } else if (word == "Y") {
    which = 1;
  } else {
    return ERR_CORRUPT_DATA_FILE;
  }
  Num v;
  const int rc = read_value(r, k, v);
  if (rc != 0) return rc;
  k.field.store(r.cfg, r.axis, which, v);
  return 0;
}

// The autofocus scalar divides: 0 is never meant.
int non_zero(Reader& r, const Keyword& k) {
  Num v;
  const int rc = read_value(r, k, v);
  if (rc != 0) return rc;
  if (v.i == 0) return ERR_PARAM_OUT_OF_RANGE;
  k.field.store(r.cfg, r.axis, 0, v);
  return 0;
}

// ---- the encoder conversion table

void default_enc_table(Ctrl& c) {
  for (int n = 1; n <= MC_ENC_ENTRIES; ++n) {
    mc_enc_entry_t& e = c.encTable[n - 1];
    e = mc_enc_entry_t{};
    e.entry = n;
    if (n <= 8) {
      e.type = MC_ENC_INCREMENTAL;
      e.words = 1;
      e.word[0] = 0xC0C000 + 8 * (n - 1);
    }
  }
  c.encTable[MC_ENC_ENTRIES] = mc_enc_entry_t{};
}

int32_t first_word(const EncType& t, int n, bool y) {
  switch (t.how) {
    case FirstWord::kPerEntry: return t.base + 8 * n;
    case FirstWord::kPerPair: return t.base + 8 * ((n - 1) / 2) + (n % 2 == 0 ? 1 : 0);
    case FirstWord::kFixed: return t.base;
    case FirstWord::kXOrY: return y ? t.base_y : t.base;
  }
  return t.base;
}

// A word of the entry: 64-bit arithmetic, refused outside what 24 bits can
// mean signed or unsigned, and kept to its low 24 bits.
bool entry_word(int64_t v, int32_t& out) {
  if (v < -0x800000 || v > k24Bits) return false;
  out = static_cast<int32_t>(v & k24Bits);
  return true;
}

void set_bit(int32_t& word, int32_t bit, int64_t on) {
  word = on != 0 ? (word | bit) : (word & ~bit);
}

int enc_table(Reader& r, const Keyword&) {
  if (r.enc_lines >= MC_ENC_ENTRIES) {
    u_log_fn("Too many encoder table entries.\n");
    return ERR_CORRUPT_DATA_FILE;
  }
  const int n = r.enc_lines + 1;
  r.words.cut_comment();
  const std::string_view type_word = r.words.next();
  if (type_word.empty()) return ERR_CORRUPT_DATA_FILE;
  const std::string type_upper = upper(type_word);
  const auto* type = std::ranges::find(kEncTypes, std::string_view(type_upper), &EncType::name);
  if (type == std::end(kEncTypes)) {
    u_log_fn("Invalid encoder type: %.*s\n", static_cast<int>(type_word.size()), type_word.data());
    return ERR_INVALID_PARAM;
  }
  const EncType& t = *type;
  const int name_size = static_cast<int>(t.name.size());
  if (t.code == MC_ENC_PARALLEL_BIT && n % 2 == 0) {
    u_log_fn("%.*s must be on an ODD encoder.\n", name_size, t.name.data());
    return ERR_CORRUPT_DATA_FILE;
  }
  bool y = false;
  if (t.how == FirstWord::kXOrY) {
    const std::string axis = upper(r.words.next());
    if (axis != "X" && axis != "Y") {
      u_log_fn("Expected an X or Y after %.*s.\n", name_size, t.name.data());
      return ERR_CORRUPT_DATA_FILE;
    }
    y = axis == "Y";
  }

  mc_enc_entry_t e;
  e.entry = n;
  e.type = t.code;
  e.words = t.words;
  e.word[0] = first_word(t, n, y);
  unsigned given = 0;
  for (std::string_view word = r.words.next(); !word.empty(); word = r.words.next()) {
    const std::string name_upper = upper(word);
    const auto* name =
        std::ranges::find(kEncNames, std::string_view(name_upper), &EncNameRow::name);
    if (name == std::end(kEncNames)) return ERR_INVALID_PARAM;
    const int shown = static_cast<int>(name->name.size());
    int64_t v = 0;
    if (parse_based(r.words.next(), v) == Parsed::kSyntax) {
      u_log_fn("Expected a value for %.*s.\n", shown, name->name.data());
      return ERR_CORRUPT_DATA_FILE;
    }
    // An overflowed value stays saturated, out of every range below.
    if ((name->applies & (1u << t.code)) == 0) continue;
    given |= name->bit;
    switch (name->bit) {
      case kAddr:
        if (v < 0 || v > 0xFFFF) {
          u_log_fn("Expected an Unsigned 16-Bit integer value for %.*s\n", shown,
                   name->name.data());
          return ERR_CORRUPT_DATA_FILE;
        }
        e.word[0] = (e.word[0] & ~0xFFFF) | static_cast<int32_t>(v);
        break;
      case kSum: set_bit(e.word[0], 0x10000, v); break;
      case kSigned:
      case kShift: set_bit(e.word[0], 0x80000, v); break;
      case kBias: {
        constexpr int64_t kBeyond = int64_t{1} << 40;  // keeps the product in 64 bits
        if (v < -kBeyond || v > kBeyond || !entry_word(v * 256, e.word[1]))
          return ERR_PARAM_OUT_OF_RANGE;
        break;
      }
      case kSize:
        if (v < 1 || v > 24) {
          u_log_fn("Invalid size value.\n");
          return ERR_PARAM_OUT_OF_RANGE;
        }
        e.word[1] = static_cast<int32_t>((int64_t{1} << v) - 1);
        break;
      case kScale:
      case kMaxChange:
        if (!entry_word(v, e.word[1])) return ERR_PARAM_OUT_OF_RANGE;
        break;
      case kFilter:
        if (!entry_word(v, e.word[2])) return ERR_PARAM_OUT_OF_RANGE;
        break;
    }
  }
  const unsigned missing = t.required & ~given;
  if (missing != 0) {
    std::string list;
    for (const EncNameRow& name : kEncNames) {
      if ((missing & name.bit) == 0) continue;
      if (!list.empty()) list.append(", ");
      list.append(name.name);
    }
    u_log_fn("Missing required information for %.*s: %s\n", name_size, t.name.data(), list.c_str());
    return ERR_CORRUPT_DATA_FILE;
  }
  if ((t.code == MC_ENC_PARALLEL_POS || t.code == MC_ENC_FILTERED_PARALLEL_POS) &&
      (e.word[0] & 0x80000) == 0) {
    e.word[1] &= 0x7FFFF;
  }
  r.cfg.encTable[n - 1] = e;
  r.cfg.encTable[n] = mc_enc_entry_t{};
  r.enc_lines = n;
  return 0;
}

// ---- the end of the file

bool p_or_r(const Axis& a) { return a.name == 'P' || a.name == 'R'; }

// Settings that contradict each other; the first fault in axis order
// decides.
int check_axes(Ctrl& c) {
  for (Axis& a : c.axes) {
    const bool limits = (a.flags1 & MC_GOT_LIMITS) != 0;
    if ((a.flags1 & MC_GOT_AXIS) != 0 && (a.flags1 & MC_GOT_ENCODER) != 0 && p_or_r(a)) {
      return ERR_CORRUPT_DATA_FILE;
    }
    if ((a.homeType == 1 || a.homeType == 2) && !limits) return ERR_CORRUPT_DATA_FILE;
    if (a.homeType == 3 && (p_or_r(a) || (!limits && a.gotDriver != 0)))
      return ERR_CORRUPT_DATA_FILE;
    if (a.homeType == 4 && limits) return ERR_CORRUPT_DATA_FILE;
    if (a.encAxisNum != MC_NO_ENC_AXIS) {
      if (a.encAxisNum >= MC_AXES) return ERR_CORRUPT_DATA_FILE;
      const Axis& enc = c.axes[a.encAxisNum];
      if (enc.defined == 0 || enc.homeType == 0 || enc.homeType == 5) return ERR_CORRUPT_DATA_FILE;
    }
    if (a.pitchUnit == MC_REVS_PER_MM)
      a.pitchGearRatio = static_cast<float>(a.pitchGearRatio * 25.4);
  }
  return 0;
}

// Groups are numbered by their first axis, from 1.
void renumber_groups(Ctrl& c) {
  int16_t given[MC_AXES];
  for (int i = 0; i < MC_AXES; ++i) given[i] = c.axes[i].axisGroup;
  bool assigned[MC_AXES] = {};
  for (int j = 0; j < MC_AXES; ++j) {
    if (assigned[j]) continue;
    for (int i = j; i < MC_AXES; ++i) {
      if (!assigned[i] && given[i] == given[j]) {
        c.axes[i].axisGroup = static_cast<int16_t>(j + 1);
        assigned[i] = true;
      }
    }
  }
}

int apply(Reader& r, const Keyword& k) {
  if (k.kind == Kind::kIgnore) return 0;
  if (k.rule != nullptr) return k.rule(r, k);
  return read_values(r, k);
}

int read_lines(Reader& r) {
  for (;;) {
    const bool got = read_line(r);
    const std::string_view first = got ? r.words.next() : std::string_view();
    if (first.empty()) {
      if (r.axis >= 0) break;  // the configuration ends at its first blank line
      if (!got) return ERR_PREMATURE_EOF;
      continue;
    }
    if (first[0] == '#') continue;
    const Keyword* k = find_keyword(upper(first));
    if (r.axis < 0 && (k == nullptr || k->rule != start_axis)) continue;
    if (k == nullptr) return ERR_CORRUPT_DATA_FILE;
    const int rc = apply(r, *k);
    if (rc != 0) return rc;
  }
  if (std::ferror(r.f) != 0) return ERR_CANT_READ_FILE;
  end_axis(r);
  const int rc = check_axes(r.cfg);
  if (rc != 0) return rc;
  renumber_groups(r.cfg);
  return 0;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

int mc_read_config_stream(std::FILE* f, const sysInfo_t& cal, mc_config_t& cfg) {
  Reader r(f, cal, cfg);
  const int rc = read_lines(r);
  if (rc != 0) u_log_fn("-***- %s in Line %d of configuration file -***-\n", err_name(rc), r.line);
  return rc;
}

}  // namespace felbrin

void mc_config_defaults(mc_config_t* cfg) {
  using namespace felbrin;
  if (cfg == nullptr) return;
  *cfg = mc_config_t{};
  for (const Keyword& k : kTable) {
    if (k.reset != nullptr) k.reset(*cfg);
    if (!k.has_default) continue;
    const int axes = k.field.per_axis ? MC_AXES : 1;
    for (int axis = 0; axis < axes; ++axis) {
      for (int i = 0; i < (k.gain ? 2 : k.count); ++i) {
        const double d = k.def[static_cast<std::size_t>(k.gain ? 0 : i)];
        k.field.store(*cfg, axis, i, k.field.real ? Num{0, d} : Num{static_cast<int64_t>(d), d});
      }
    }
  }
}

int mc_read_config(const char* path, mc_config_t* cfg) {
  if (path == nullptr || cfg == nullptr) return ERR_INVALID_PARAM;
  const sysInfo_t* cal = sb_current_info();
  if (cal->calFilePath.empty()) {
    const int rc = sb_readCal(sb_current_slot(), nullptr);
    if (rc != 0) return rc;
  }
  // Binary: a CR before the line feed is a blank like any other.
  const std::unique_ptr<std::FILE, felbrin::FileCloser> f(plat::open_file(path, "rb"));
  if (f == nullptr) {
    u_log_fn("-***- ERROR: Can't open file %s -***-\n", plat::display_path(path).c_str());
    return ERR_CANT_OPEN_FILE;
  }
  return felbrin::mc_read_config_stream(f.get(), *cal, *cfg);
}
