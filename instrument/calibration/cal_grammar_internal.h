// Internal: the parts of the calibration grammar that its files share: the
// enumerations, the field references and row types, the reading and writing
// helpers, and the read and write functions of the lines whose form does not
// fit the listed pattern (cal_lines_*.cpp, by keyword family). The table
// itself stays one, in cal_grammar.cpp.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "instrument/calibration/cal_grammar.h"
#include "instrument/calibration/cal_tokens.h"

namespace felbrin::cal::grammar {

constexpr int kSyntax = ERR_SB_CALFILE_SYNTAX;
constexpr int kRange = ERR_SB_CALFILE_VALUE_RANGE;
constexpr double kFloatMax = 3.4028234663852886e38;
constexpr double kTwoPi = 6.283185307179586;

// ------------------------------------------------------------ enumerations

// The written names of an enumeration and the words that select its values.
struct EnumWord {
  int32_t token;
  int32_t value;
};
struct EnumDesc {
  std::span<const std::string_view> names;  // by value
  std::string_view fallback;                // for a value without a name
  std::span<const EnumWord> words;
};

inline std::string_view name_of(const EnumDesc& e, int32_t value) {
  if (value >= 0 && static_cast<std::size_t>(value) < e.names.size())
    return e.names[static_cast<std::size_t>(value)];
  return e.fallback;
}

inline std::optional<int32_t> value_of(const EnumDesc& e, int32_t token) {
  for (const EnumWord& w : e.words) {
    if (w.token == token) return w.value;
  }
  return std::nullopt;
}

constexpr std::string_view kSystemNames[] = {
    "Unknown",  "Alder",    "Birch",   "Birch2", "Kite",    "Birch3", "Birch4",    "Birch5",
    "Alder2",   "Jasper",   "Birch6",  "Birch7", "Birch8",  "Birch9", "Dune",      "Iris",
    "Lumen",    "Ember",    "Glen",    "Heron",  "Birch10", "Cobalt", "Fjord1",    "KiteCan",
    "Alder3",   "Alder4",   "GlenCan", "Kite2",  "Fjord2",  "Fjord3", "Heron_CAN", "Fjord4",
    "Kite2Can", "Iris_CAN", "Fjord5",  "Fjord6"};
constexpr EnumWord kSystemWords[] = {
    {TOK_KITE, SYS_KITE},         {TOK_BIRCH3, SYS_BIRCH3},       {TOK_BIRCH4, SYS_BIRCH4},
    {TOK_BIRCH5, SYS_BIRCH5},     {TOK_ALDER2, SYS_ALDER2},       {TOK_BIRCH6, SYS_BIRCH6},
    {TOK_BIRCH7, SYS_BIRCH7},     {TOK_BIRCH8, SYS_BIRCH8},       {TOK_BIRCH9, SYS_BIRCH9},
    {TOK_DUNE, SYS_DUNE},         {TOK_DUNE2, SYS_DUNE},          {TOK_IRIS, SYS_IRIS},
    {TOK_IRIS_CAN, SYS_IRIS_CAN}, {TOK_LUMEN, SYS_LUMEN},         {TOK_EMBER, SYS_EMBER},
    {TOK_GLEN, SYS_GLEN},         {TOK_GLENCAN, SYS_GLENCAN},     {TOK_HERON, SYS_HERON},
    {TOK_LUMENSI, SYS_HERON},     {TOK_HERON_CAN, SYS_HERON_CAN}, {TOK_BIRCH10, SYS_BIRCH10},
    {TOK_COBALT, SYS_COBALT},     {TOK_COBALT2, SYS_COBALT},      {TOK_FJORD1, SYS_FJORD1},
    {TOK_FJORD2, SYS_FJORD2},     {TOK_FJORD3, SYS_FJORD3},       {TOK_FJORD4, SYS_FJORD4},
    {TOK_FJORD5, SYS_FJORD5},     {TOK_FJORD6, SYS_FJORD6},       {TOK_KITECAN, SYS_KITECAN},
    {TOK_KITE2, SYS_KITE2},       {TOK_KITE2CAN, SYS_KITE2CAN},   {TOK_ALDER3, SYS_ALDER3},
    {TOK_ALDER4, SYS_ALDER4},     {TOK_SPECIAL, SYS_SPECIAL}};
constexpr EnumDesc kSystemTypes{kSystemNames, "Unknown", kSystemWords};

constexpr std::string_view kGrabberNames[] = {
    "None",     "RPC",        "Matrox",   "Pulsar", "Genesis", "Corona",   "Bandit",
    "FireWire", "CameraLink", "FlashBus", "GigE",   "X64LVDS", "PC2Vision"};
constexpr EnumWord kGrabberWords[] = {
    {TOK_NONE, FG_NONE},          {TOK_RPC, FG_RPC},           {TOK_MATROX, FG_MATROX},
    {TOK_PULSAR, FG_PULSAR},      {TOK_GENESIS, FG_GENESIS},   {TOK_CORONA, FG_CORONA},
    {TOK_BANDIT, FG_BANDIT},      {TOK_FIREWIRE, FG_FIREWIRE}, {TOK_CAMERALINK, FG_CAMERALINK},
    {TOK_FLASHBUS, FG_FLASHBUS},  {TOK_GIGE, FG_GIGE},         {TOK_X64LVDS, FG_X64LVDS},
    {TOK_PC2VISION, FG_PC2VISION}};
constexpr EnumDesc kGrabbers{kGrabberNames, "None", kGrabberWords};

constexpr std::string_view kBoardNames[] = {"None", "Sable", "Tarn",  "Kite", "Umber",
                                            "Dune", "Iris",  "Lumen", "CAN",  "NOTNEEDED"};
constexpr EnumWord kBoardWords[] = {
    {TOK_NONE, BD_NONE},   {TOK_SABLE, BD_SABLE}, {TOK_KITE, BD_KITE},
    {TOK_DUNE, BD_DUNE},   {TOK_DUNE2, BD_DUNE},  {TOK_IRIS, BD_IRIS},
    {TOK_LUMEN, BD_LUMEN}, {TOK_CAN, BD_CAN},     {TOK_NOTNEEDED, BD_NOTNEEDED}};
constexpr EnumDesc kBoards{kBoardNames, "None", kBoardWords};

constexpr std::string_view kCameraNames[] = {
    "Unknown", "XC77CE",  "P62505",  "CID2220",   "VIDICON",   "EEV1715A",   "TM6705",
    "XC7500",  "XC7500S", "SMD4M15", "INFRACAMA", "CID2250",   "CUSTOM",     "TM6710",
    "SIM200",  "BASLER",  "SU320",   "DGFLY640",  "DGFLY1024", "IMPERXVGA",  "ADIMEC1000",
    "A311F",   "A312F",   "TM6740",  "DGFLY6200", "SCA640",    "ADIMEC4050", "ADIMEC4150",
    "PIA640",  "E2V7899", "PIA1000", "SCA640G",   "A504K"};
constexpr EnumWord kCameraWords[] = {
    {TOK_XC77, CAM_XC77CE},           {TOK_XC77CE, CAM_XC77CE},
    {TOK_P62505, CAM_P62505},         {TOK_CID2220, CAM_CID2220},
    {TOK_VIDICON, CAM_VIDICON},       {TOK_EEV1715A, CAM_EEV1715A},
    {TOK_TM6705, CAM_TM6705},         {TOK_XC7500, CAM_XC7500},
    {TOK_XC7500S, CAM_XC7500S},       {TOK_SMD4M15, CAM_SMD4M15},
    {TOK_CID2250, CAM_CID2250},       {TOK_CUSTOM, CAM_CUSTOM},
    {TOK_TM6710, CAM_TM6710},         {TOK_SIM200, CAM_SIM200},
    {TOK_BASLER, CAM_BASLER},         {TOK_SU320, CAM_SU320},
    {TOK_DGFLY640, CAM_DGFLY640},     {TOK_DGFLY1024, CAM_DGFLY1024},
    {TOK_IMPERXVGA, CAM_IMPERXVGA},   {TOK_ADIMEC1000, CAM_ADIMEC1000},
    {TOK_A311F, CAM_A311F},           {TOK_A312F, CAM_A312F},
    {TOK_TM6740, CAM_TM6740},         {TOK_DGFLY6200, CAM_DGFLY6200},
    {TOK_SCA640, CAM_SCA640},         {TOK_ADIMEC4050, CAM_ADIMEC4050},
    {TOK_ADIMEC4150, CAM_ADIMEC4150}, {TOK_PIA640, CAM_PIA640},
    {TOK_E2V7899, CAM_E2V7899},       {TOK_PIA1000, CAM_PIA1000},
    {TOK_SCA640G, CAM_SCA640G},       {TOK_A504K, CAM_A504K}};
constexpr EnumDesc kCameras{kCameraNames, "Unknown", kCameraWords};

constexpr std::string_view kLightNames[] = {"Unknown", "HeNe", "Diode", "White", "Special", "LED"};
constexpr EnumWord kLightWords[] = {{TOK_HENE, LIGHT_HENE},
                                    {TOK_DIODE, LIGHT_DIODE},
                                    {TOK_WHITE, LIGHT_WHITE},
                                    {TOK_SPECIAL, LIGHT_SPECIAL},
                                    {TOK_LED, LIGHT_LED}};
constexpr EnumDesc kLights{kLightNames, "Unknown", kLightWords};

constexpr std::string_view kAlignNames[] = {"Default", "Center", "TopLeft"};
constexpr EnumWord kAlignWords[] = {
    {TOK_DEFAULT, ALIGN_DEFAULT}, {TOK_CENTER, ALIGN_CENTER}, {TOK_TOPLEFT, ALIGN_TOPLEFT}};
constexpr EnumDesc kAligns{kAlignNames, "Default", kAlignWords};

constexpr std::string_view kLlcNames[] = {"None", "Wren", "Wren_B", "Dune"};
constexpr EnumWord kLlcWords[] = {
    {TOK_WREN, LLC_WREN}, {TOK_WREN_B, LLC_WREN_B}, {TOK_DUNE, LLC_DUNE}};
constexpr EnumDesc kLlcInstrs{kLlcNames, "None", kLlcWords};

constexpr std::string_view kPosNames[] = {"None",   "Quartz",    "TMI",       "Heid",
                                          "LCDMI",  "MicroLYNX", "ZEncoder",  "USDED2",
                                          "TMI501", "METRONICS", "FHXTMI501", "Renishaw_StepNet",
                                          "StepNet"};
constexpr EnumWord kPosWords[] = {{TOK_QUARTZ, POS_QUARTZ},
                                  {TOK_TMI, POS_TMI},
                                  {TOK_HEID, POS_HEID},
                                  {TOK_LCDMI, POS_LCDMI},
                                  {TOK_MICROLYNX, POS_MICROLYNX},
                                  {TOK_ZENCODER, POS_ZENCODER},
                                  {TOK_USDED2, POS_USDED2},
                                  {TOK_TMI501, POS_TMI501},
                                  {TOK_METRONICS, POS_METRONICS},
                                  {TOK_FHXTMI501, POS_FHXTMI501},
                                  {TOK_RENISHAW_STEPNET, POS_RENISHAW_STEPNET},
                                  {TOK_STEPNET, POS_STEPNET}};
constexpr EnumDesc kPosInstrs{kPosNames, "None", kPosWords};

constexpr std::string_view kTempNames[] = {"None", "Euro2216e"};
constexpr EnumWord kTempWords[] = {{TOK_EURO2216E, TEMP_EURO2216E}};
constexpr EnumDesc kTempSensors{kTempNames, "None", kTempWords};

constexpr EnumWord kPidSetWords[] = {{TOK_FAST, 0}, {TOK_SLOW, 1}};
constexpr EnumDesc kPidSets{{}, "", kPidSetWords};

// ------------------------------------------------------------ fields

// A reference to one field of the record, whatever its storage type, so a
// row can read into and write from it by number or text.
class Ref {
 public:
  Ref(uint8_t* p) : type_(U8), p_(p) {}
  Ref(uint16_t* p) : type_(U16), p_(p) {}
  Ref(int16_t* p) : type_(I16), p_(p) {}
  Ref(int32_t* p) : type_(I32), p_(p) {}
  Ref(float* p) : type_(F32), p_(p) {}
  Ref(double* p) : type_(F64), p_(p) {}
  Ref(std::string* p) : type_(TEXT), p_(p) {}
  // A double that holds values rounded to single precision.
  static Ref single(double* p) {
    Ref r(p);
    r.type_ = F64_SINGLE;
    return r;
  }

  void set(double v) const {
    switch (type_) {
      case U8: *static_cast<uint8_t*>(p_) = static_cast<uint8_t>(v); break;
      case U16: *static_cast<uint16_t*>(p_) = static_cast<uint16_t>(v); break;
      case I16: *static_cast<int16_t*>(p_) = static_cast<int16_t>(v); break;
      case I32: *static_cast<int32_t*>(p_) = static_cast<int32_t>(v); break;
      case F32: *static_cast<float*>(p_) = static_cast<float>(v); break;
      case F64: *static_cast<double*>(p_) = v; break;
      case F64_SINGLE: *static_cast<double*>(p_) = static_cast<float>(v); break;
      case TEXT: break;
    }
  }
  double get() const {
    switch (type_) {
      case U8: return *static_cast<const uint8_t*>(p_);
      case U16: return *static_cast<const uint16_t*>(p_);
      case I16: return *static_cast<const int16_t*>(p_);
      case I32: return *static_cast<const int32_t*>(p_);
      case F32: return *static_cast<const float*>(p_);
      case F64:
      case F64_SINGLE: return *static_cast<const double*>(p_);
      case TEXT: break;
    }
    return 0;
  }
  std::string& text() const { return *static_cast<std::string*>(p_); }

 private:
  enum Type : uint8_t { U8, U16, I16, I32, F32, F64, F64_SINGLE, TEXT } type_;
  void* p_;
};

// ------------------------------------------------------------ rows

enum class Kind : uint8_t { none, integer, real, word };

// How a number is written: printf conversion 'd', 'g' or 'f' with precision
// and width, formatted here exactly as the C library would.
struct Fmt {
  char conv = 'd';
  int8_t prec = -1;
  int8_t width = 0;
};
constexpr Fmt kD{'d'};
constexpr Fmt kG{'g'};
constexpr Fmt kF{'f', 6};
constexpr Fmt kF3{'f', 3};
constexpr Fmt kG8{'g', 8};

// One value of a line.
struct Num {
  Kind kind = Kind::none;
  double lo = 0, hi = 0;
  bool lo_open = false, hi_open = false;
  // Read only when the line goes on with a number.
  bool optional = false;
  // Must follow on the same line ("Expected number." otherwise).
  bool expect = false;
  // The field holds the value read times this.
  double scale = 1;
  Fmt fmt = kD;

  constexpr Num opt() const {
    Num n = *this;
    n.optional = true;
    return n;
  }
  constexpr Num must_follow() const {
    Num n = *this;
    n.expect = true;
    return n;
  }
  constexpr Num open_below() const {
    Num n = *this;
    n.lo_open = true;
    return n;
  }
  constexpr Num scaled(double s) const {
    Num n = *this;
    n.scale = s;
    return n;
  }
};
constexpr Num I(double lo, double hi) { return {Kind::integer, lo, hi}; }
constexpr Num R(double lo, double hi, Fmt fmt = kG) {
  Num n{Kind::real, lo, hi};
  n.fmt = fmt;
  return n;
}
constexpr Num W() { return {Kind::word}; }

// The sub-record a line's fields live in; the reader makes it on first use
// and the writer skips the line while it does not exist.
enum class Owner : uint8_t { record, pifoc, enc_zoom, lumen };

struct Line;
using RefFn = Ref (*)(sysInfo_t&, int index);
using ReadFn = void (*)(Reader&, const Line&);
using WriteFn = void (*)(Writer&, const Line&);
using WhenFn = bool (*)(const sysInfo_t&);

struct Line {
  // As written; two-word keywords have both words.
  std::string_view name;
  int32_t first = -1, first_alt = -1;    // words that begin the line
  int32_t second = -1, second_alt = -1;  // second word of two-word keywords
  std::array<Num, 5> nums{};
  RefFn field = nullptr;
  uint32_t seen = 0;
  Owner owner = Owner::record;
  // Null: never written.
  WhenFn when = nullptr;
  // Null: the values as listed.
  ReadFn read = nullptr;
  WriteFn write = nullptr;
  // A line without values stores this in its field.
  int8_t flag = -1;

  int count() const {
    int n = 0;
    while (n < static_cast<int>(nums.size()) &&
           nums[static_cast<std::size_t>(n)].kind != Kind::none)
      ++n;
    return n;
  }
};

// ------------------------------------------------------------ helpers (cal_grammar.cpp)

bool fail(Reader& r, int code, const char* message = nullptr);
int32_t rd_int(Reader& r, double lo, double hi);
double rd_real(Reader& r, double lo, double hi);
std::string rd_word(Reader& r);
int peek(Reader& r);
bool optional_number(Reader& r, bool silent = false);
bool expect_number(Reader& r);
bool optional_word(Reader& r);
int32_t rd_name(Reader& r, const EnumDesc& e, bool quiet = false);
bool make_owner(Reader& r, Owner owner);
bool has_owner(const sysInfo_t& s, Owner owner);
void read_value(Reader& r, const Num& n, Ref field);
void read_listed(Reader& r, const Line& row);
bool rd_item(Reader& r, const Num& first, const Num& second, double& a, double& b);
void put_int(std::string& out, int64_t v);
void put_num(std::string& out, double v, Fmt f);
bool bare_safe(std::string_view t);
void put_text(std::string& out, std::string_view t);
void end_line(Writer& w);
void put_keyword(Writer& w, std::string_view keyword);
void put_value(Writer& w, double v, Fmt f = kD);
void put_value_text(Writer& w, std::string_view t);
void write_fault(Writer& w, int code, const char* message);
sysInfo_t& mutable_info(Writer& w);
void write_listed(Writer& w, const Line& row);
bool always_writes_mags(int32_t sys);
bool pifoc_writes_scale(int32_t sys);
bool writes_llc_target(const sysInfo_t& s);
bool lumen_block(const sysInfo_t& s);

constexpr double kHms[] = {3600, 60, 1};
constexpr double kDhms[] = {86400, 3600, 60, 1};

template <class T>
bool make(Reader& r, Hooked<T>& p) {
  if (!p) p = make_hooked<T>();
  if (p) return true;
  r.out_of_memory = true;
  return fail(r, ERR_NO_MEM);
}

// A time of parts separated by ':' (h:m:s or d:h:m:s), each a real 0..100
// weighted by `weights`. After each part the total is checked against
// `limit` and stored (whole seconds). Returns the number of parts read, 0 on
// error.
template <class Store>
int rd_time(Reader& r, std::span<const double> weights, double limit, Store store) {
  double total = 0;
  for (std::size_t k = 0; k < weights.size(); ++k) {
    const double v = rd_real(r, 0, 100);
    if (r.status != 0) return 0;
    total += v * weights[k];
    if (!(total <= limit)) return fail(r, kRange, "Value out-of-range.");
    // Whole seconds, forgiving the rounding of the sum (4.35 h is 15660 s).
    store(static_cast<int32_t>(std::floor(total + 1e-6)));
    if (k + 1 == weights.size()) return static_cast<int>(k + 1);
    const int c = peek(r);
    if (c == CAL_CLASS_END) return static_cast<int>(k + 1);
    if (c != CAL_CLASS_COLON) return fail(r, kSyntax, "Syntax error.");
    rd_word(r);  // the ':'
  }
  return static_cast<int>(weights.size());
}

// ------------------------------------------------------------ irregular lines (cal_lines_*.cpp)

// System, version, address, camera and magnification-independent lines.
void read_system(Reader& r, int32_t first);
void write_system(Writer& w, const Line&);
void read_version(Reader& r, const Line&);
void write_version(Writer& w, const Line& row);
void read_mac_address(Reader& r, const Line&);
void write_mac_address(Writer& w, const Line& row);
void write_instr_name(Writer& w, const Line& row);
bool custom_camera_fits(int32_t board);
void read_camera_type(Reader& r, const Line&);
void write_camera_type(Writer& w, const Line& row);
void read_camera_file(Reader& r, const Line&);
void write_camera_file(Writer& w, const Line& row);
void read_camera_config(Reader& r, const Line&);
void write_camera_config(Writer& w, const Line& row);
void read_camera_align(Reader& r, const Line&);
void write_camera_align(Writer& w, const Line& row);
void read_camera_bpix(Reader& r, const Line&);
void write_camera_bpix(Writer& w, const Line& row);
void read_bad_pixels(Reader& r, const Line&);
void write_bad_pixels(Writer& w, const Line& row);
void read_split(Reader& r, const Line& row);
void write_split(Writer& w, const Line& row);
bool need_mags(Reader& r, const char* what);
void read_camera_trans(Reader& r, const Line&);
void write_camera_trans(Writer& w, const Line& row);

// Light, light level control, scanner, magnification, turret and SDC lines.
void read_light(Reader& r, const Line&);
void write_light(Writer& w, const Line&);
void read_llc_instr(Reader& r, const Line&);
void write_llc_instr(Writer& w, const Line& row);
void read_llc_range(Reader& r, const Line&);
bool same(sb_range_t a, sb_range_t b);
void write_llc_range(Writer& w, const Line& row);
void read_llc_config(Reader& r, const Line&);
void write_llc_config(Writer& w, const Line& row);
void read_llc_freq(Reader& r, const Line&);
void read_llc_align(Reader& r, const Line&);
uint16_t& pair_value(sysInfo_t& s, int source, int range, bool voltage);
void read_llc_pairs(Reader& r, const Line& row);
void write_llc_pairs(Writer& w, const Line& row);
bool read_pifoc_value(Reader& r, double hi);
void read_pifoc(Reader& r, const Line&);
void read_pztid(Reader& r, const Line&);
void write_pifoc(Writer& w, const Line& row);
void read_mags(Reader& r, const Line& row);
bool any_set(const double* mags, int count);
void write_mags(Writer& w, const Line& row);
void write_scan_cal(Writer& w, const Line& row);
void read_turret(Reader& r, const Line&);
void write_turret(Writer& w, const Line& row);
void read_ring_spot(Reader& r, const Line&);
float& sdc_c(sb_sdc_cal_t& e, int k);
void read_sdc_cal(Reader& r, const Line&);
void write_sdc_cal(Writer& w, const Line& row);

// Position instrument, temperature, PID, wave generator, radius and Lumen lines.
void read_pos_instr(Reader& r, const Line&);
void write_pos_instr(Writer& w, const Line& row);
void read_temp_sensor(Reader& r, const Line&);
void write_temp_sensor(Writer& w, const Line& row);
int axis_of(const Line& row);
void read_pid(Reader& r, const Line& row);
void put_pid_values(Writer& w, const sb_pid_set_t& p);
void write_pid(Writer& w, const Line& row);
void read_max_buckets(Reader& r, const Line&);
int32_t word_number(const std::string& word);
void read_dyn_wave_gen(Reader& r, const Line&);
void write_dyn_wave_gen(Writer& w, const Line& row);
void read_sleep_timeout(Reader& r, const Line&);
void write_sleep_timeout(Writer& w, const Line& row);
void read_std_mags(Reader& r, const Line&);
void write_std_mags(Writer& w, const Line& row);
sb_radius_scale_t& radius_block(sysInfo_t& s, const Line& row);
void read_radius_scale(Reader& r, const Line& row);
void write_radius_scale(Writer& w, const Line& row);
void read_lumen_zero_pt(Reader& r, const Line&);
void write_lumen_zero_pt(Writer& w, const Line& row);
bool lumen_sys_finite(const sysInfo_t& s);
void read_lumen_values(Reader& r, const Line& row);
void write_lumen_values(Writer& w, const Line& row);
void read_lumen_centre(Reader& r, const Line& row);
void write_lumen_centre(Writer& w, const Line& row);
void put_days(Writer& w, int32_t t);
void read_lumen_zero_gage(Reader& r, const Line&);
void write_lumen_zero_gage(Writer& w, const Line& row);
void read_lumen_temperature(Reader& r, const Line&);
void write_lumen_temperature(Writer& w, const Line& row);
bool lumen_log_limits_set(const sb_lumen_info_t& l);
void read_lumen_log(Reader& r, const Line&);
void write_lumen_log(Writer& w, const Line& row);

}  // namespace felbrin::cal::grammar
