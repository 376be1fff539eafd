// The keyword lines of the calibration file, each described once: the words
// that begin it, its values (kind, bounds, scale, written format), the field
// they fill, the validation flag it sets and when the writer writes it. The
// lines whose form does not fit that pattern have a read and a write function
// of their own in the same row.
#include "instrument/calibration/cal_grammar.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>

#include "common/errors.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/calibration/cal_tokens.h"
#include "platform/platform.h"

namespace felbrin::cal {
namespace {

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

std::string_view name_of(const EnumDesc& e, int32_t value) {
  if (value >= 0 && static_cast<std::size_t>(value) < e.names.size()) return e.names[static_cast<std::size_t>(value)];
  return e.fallback;
}

std::optional<int32_t> value_of(const EnumDesc& e, int32_t token) {
  for (const EnumWord& w : e.words) {
    if (w.token == token) return w.value;
  }
  return std::nullopt;
}

constexpr std::string_view kSystemNames[] = {
    "Unknown", "Alder",   "Birch",   "Birch2",  "Kite",      "Birch3",   "Birch4",  "Birch5",
    "Alder2",  "Jasper",  "Birch6",  "Birch7",  "Birch8",    "Birch9",   "Dune",    "Iris",
    "Lumen",   "Ember",   "Glen",    "Heron",   "Birch10",   "Cobalt",   "Fjord1",  "KiteCan",
    "Alder3",  "Alder4",  "GlenCan", "Kite2",   "Fjord2",    "Fjord3",   "Heron_CAN", "Fjord4",
    "Kite2Can", "Iris_CAN", "Fjord5", "Fjord6"};
constexpr EnumWord kSystemWords[] = {
    {TOK_KITE, SYS_KITE},       {TOK_BIRCH3, SYS_BIRCH3},   {TOK_BIRCH4, SYS_BIRCH4},
    {TOK_BIRCH5, SYS_BIRCH5},   {TOK_ALDER2, SYS_ALDER2},   {TOK_BIRCH6, SYS_BIRCH6},
    {TOK_BIRCH7, SYS_BIRCH7},   {TOK_BIRCH8, SYS_BIRCH8},   {TOK_BIRCH9, SYS_BIRCH9},
    {TOK_DUNE, SYS_DUNE},       {TOK_DUNE2, SYS_DUNE},      {TOK_IRIS, SYS_IRIS},
    {TOK_IRIS_CAN, SYS_IRIS_CAN}, {TOK_LUMEN, SYS_LUMEN},   {TOK_EMBER, SYS_EMBER},
    {TOK_GLEN, SYS_GLEN},       {TOK_GLENCAN, SYS_GLENCAN}, {TOK_HERON, SYS_HERON},
    {TOK_LUMENSI, SYS_HERON},   {TOK_HERON_CAN, SYS_HERON_CAN}, {TOK_BIRCH10, SYS_BIRCH10},
    {TOK_COBALT, SYS_COBALT},   {TOK_COBALT2, SYS_COBALT},  {TOK_FJORD1, SYS_FJORD1},
    {TOK_FJORD2, SYS_FJORD2},   {TOK_FJORD3, SYS_FJORD3},   {TOK_FJORD4, SYS_FJORD4},
    {TOK_FJORD5, SYS_FJORD5},   {TOK_FJORD6, SYS_FJORD6},   {TOK_KITECAN, SYS_KITECAN},
    {TOK_KITE2, SYS_KITE2},     {TOK_KITE2CAN, SYS_KITE2CAN}, {TOK_ALDER3, SYS_ALDER3},
    {TOK_ALDER4, SYS_ALDER4},   {TOK_SPECIAL, SYS_SPECIAL}};
constexpr EnumDesc kSystemTypes{kSystemNames, "Unknown", kSystemWords};

constexpr std::string_view kGrabberNames[] = {
    "None",    "RPC",      "Matrox",     "Pulsar",   "Genesis", "Corona",  "Bandit",
    "FireWire", "CameraLink", "FlashBus", "GigE",    "X64LVDS", "PC2Vision"};
constexpr EnumWord kGrabberWords[] = {
    {TOK_NONE, FG_NONE},       {TOK_RPC, FG_RPC},           {TOK_MATROX, FG_MATROX},
    {TOK_PULSAR, FG_PULSAR},   {TOK_GENESIS, FG_GENESIS},   {TOK_CORONA, FG_CORONA},
    {TOK_BANDIT, FG_BANDIT},   {TOK_FIREWIRE, FG_FIREWIRE}, {TOK_CAMERALINK, FG_CAMERALINK},
    {TOK_FLASHBUS, FG_FLASHBUS}, {TOK_GIGE, FG_GIGE},       {TOK_X64LVDS, FG_X64LVDS},
    {TOK_PC2VISION, FG_PC2VISION}};
constexpr EnumDesc kGrabbers{kGrabberNames, "None", kGrabberWords};

constexpr std::string_view kBoardNames[] = {"None", "Sable", "Tarn", "Kite", "Umber",
                                            "Dune", "Iris",  "Lumen", "CAN", "NOTNEEDED"};
constexpr EnumWord kBoardWords[] = {{TOK_NONE, BD_NONE},   {TOK_SABLE, BD_SABLE},
                                    {TOK_KITE, BD_KITE},   {TOK_DUNE, BD_DUNE},
                                    {TOK_DUNE2, BD_DUNE},  {TOK_IRIS, BD_IRIS},
                                    {TOK_LUMEN, BD_LUMEN}, {TOK_CAN, BD_CAN},
                                    {TOK_NOTNEEDED, BD_NOTNEEDED}};
constexpr EnumDesc kBoards{kBoardNames, "None", kBoardWords};

constexpr std::string_view kCameraNames[] = {
    "Unknown",   "XC77CE",    "P62505",   "CID2220",   "VIDICON",    "EEV1715A", "TM6705",
    "XC7500",    "XC7500S",   "SMD4M15",  "INFRACAMA", "CID2250",    "CUSTOM",   "TM6710",
    "SIM200",    "BASLER",    "SU320",    "DGFLY640",  "DGFLY1024",  "IMPERXVGA", "ADIMEC1000",
    "A311F",     "A312F",     "TM6740",   "DGFLY6200", "SCA640",     "ADIMEC4050", "ADIMEC4150",
    "PIA640",    "E2V7899",   "PIA1000",  "SCA640G",   "A504K"};
constexpr EnumWord kCameraWords[] = {
    {TOK_XC77, CAM_XC77CE},         {TOK_XC77CE, CAM_XC77CE},     {TOK_P62505, CAM_P62505},
    {TOK_CID2220, CAM_CID2220},     {TOK_VIDICON, CAM_VIDICON},   {TOK_EEV1715A, CAM_EEV1715A},
    {TOK_TM6705, CAM_TM6705},       {TOK_XC7500, CAM_XC7500},     {TOK_XC7500S, CAM_XC7500S},
    {TOK_SMD4M15, CAM_SMD4M15},     {TOK_CID2250, CAM_CID2250},   {TOK_CUSTOM, CAM_CUSTOM},
    {TOK_TM6710, CAM_TM6710},       {TOK_SIM200, CAM_SIM200},     {TOK_BASLER, CAM_BASLER},
    {TOK_SU320, CAM_SU320},         {TOK_DGFLY640, CAM_DGFLY640}, {TOK_DGFLY1024, CAM_DGFLY1024},
    {TOK_IMPERXVGA, CAM_IMPERXVGA}, {TOK_ADIMEC1000, CAM_ADIMEC1000}, {TOK_A311F, CAM_A311F},
    {TOK_A312F, CAM_A312F},         {TOK_TM6740, CAM_TM6740},     {TOK_DGFLY6200, CAM_DGFLY6200},
    {TOK_SCA640, CAM_SCA640},       {TOK_ADIMEC4050, CAM_ADIMEC4050},
    {TOK_ADIMEC4150, CAM_ADIMEC4150}, {TOK_PIA640, CAM_PIA640},   {TOK_E2V7899, CAM_E2V7899},
    {TOK_PIA1000, CAM_PIA1000},     {TOK_SCA640G, CAM_SCA640G},   {TOK_A504K, CAM_A504K}};
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

constexpr std::string_view kPosNames[] = {
    "None",   "Quartz", "TMI",       "Heid",      "LCDMI",            "MicroLYNX", "ZEncoder",
    "USDED2", "TMI501", "METRONICS", "FHXTMI501", "Renishaw_StepNet", "StepNet"};
constexpr EnumWord kPosWords[] = {
    {TOK_QUARTZ, POS_QUARTZ},       {TOK_TMI, POS_TMI},           {TOK_HEID, POS_HEID},
    {TOK_LCDMI, POS_LCDMI},         {TOK_MICROLYNX, POS_MICROLYNX}, {TOK_ZENCODER, POS_ZENCODER},
    {TOK_USDED2, POS_USDED2},       {TOK_TMI501, POS_TMI501},     {TOK_METRONICS, POS_METRONICS},
    {TOK_FHXTMI501, POS_FHXTMI501}, {TOK_RENISHAW_STEPNET, POS_RENISHAW_STEPNET},
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
    while (n < static_cast<int>(nums.size()) && nums[static_cast<std::size_t>(n)].kind != Kind::none) ++n;
    return n;
  }
};

// ------------------------------------------------------------ reading

bool fail(Reader& r, int code, const char* message = nullptr) {
  if (message != nullptr) sb_calError("%s", message);
  r.status = code;
  return false;
}

int32_t rd_int(Reader& r, double lo, double hi) {
  return sb_readInt(r.src, &r.status, static_cast<int32_t>(lo), static_cast<int32_t>(hi));
}
double rd_real(Reader& r, double lo, double hi) { return sb_readReal(r.src, &r.status, lo, hi); }
std::string rd_word(Reader& r) {
  std::optional<std::string> w = sb_readWord(r.src, &r.status);
  return w ? std::move(*w) : std::string();
}
int peek(Reader& r) { return sb_peekClass(r.src, &r.status); }

// True when an optional number follows; another item is an error.
bool optional_number(Reader& r, bool silent = false) {
  if (r.status != 0) return false;
  const int c = peek(r);
  if (c == CAL_CLASS_END) return false;
  if (c == CAL_CLASS_NUMBER) return true;
  return fail(r, kSyntax, silent ? nullptr : "Expected number.");
}

// True when a number follows on this line.
bool expect_number(Reader& r) {
  if (r.status != 0) return false;
  if (peek(r) == CAL_CLASS_NUMBER) return true;
  return fail(r, kSyntax, "Expected number.");
}

// True when an optional word (starting with a letter) follows.
bool optional_word(Reader& r) {
  if (r.status != 0) return false;
  const int c = peek(r);
  if (c == CAL_CLASS_END) return false;
  if (c == CAL_CLASS_LETTER) return true;
  return fail(r, kSyntax, "Expected non-numeric string.");
}

// The next word as a keyword that must be one of `e`'s words; -1 with the
// status set otherwise. `quiet` lines fail without a message of their own.
int32_t rd_name(Reader& r, const EnumDesc& e, bool quiet = false) {
  if (r.status != 0) return -1;
  const int32_t token = sb_readKeyword(r.src, &r.status);
  if (r.status != 0) return -1;  // a word not in the table, reported
  const char* message = "Unexpected token.";
  if (token == TOK_EOL) message = "Unexpected end-of-line.";
  if (token == TOK_EOF) message = "Unexpected end-of-file.";
  if (token != TOK_EOL && token != TOK_EOF) {
    if (std::optional<int32_t> v = value_of(e, token)) return *v;
  }
  fail(r, kSyntax, quiet ? nullptr : message);
  return -1;
}

template <class T>
bool make(Reader& r, Hooked<T>& p) {
  if (!p) p = make_hooked<T>();
  if (p) return true;
  r.out_of_memory = true;
  return fail(r, ERR_NO_MEM);
}

bool make_owner(Reader& r, Owner owner) {
  switch (owner) {
    case Owner::record: return true;
    case Owner::pifoc: return make(r, r.info.pifoc);
    case Owner::enc_zoom: return make(r, r.info.encZoom);
    case Owner::lumen: return make(r, r.info.lumenInfo);
  }
  return true;
}

bool has_owner(const sysInfo_t& s, Owner owner) {
  switch (owner) {
    case Owner::record: return true;
    case Owner::pifoc: return s.pifoc != nullptr;
    case Owner::enc_zoom: return s.encZoom != nullptr;
    case Owner::lumen: return s.lumenInfo != nullptr;
  }
  return true;
}

// Reads one listed value into its field.
void read_value(Reader& r, const Num& n, Ref field) {
  switch (n.kind) {
    case Kind::integer: {
      const int32_t v = rd_int(r, n.lo, n.hi);
      if (r.status == 0) field.set(v * n.scale);
      break;
    }
    case Kind::real: {
      const double v = sb_readRealEx(r.src, &r.status, n.lo, n.hi, !n.lo_open, !n.hi_open);
      if (r.status == 0) field.set(v * n.scale);
      break;
    }
    case Kind::word: {
      std::string w = rd_word(r);
      if (r.status == 0) field.text() = std::move(w);
      break;
    }
    case Kind::none: break;
  }
}

// The values of a row as listed: optional values only while the line goes
// on with a number, and a value that follows an optional one is required.
void read_listed(Reader& r, const Line& row) {
  if (!make_owner(r, row.owner)) return;
  const int count = row.count();
  for (int i = 0; i < count; ++i) {
    const Num& n = row.nums[static_cast<std::size_t>(i)];
    if (n.optional && !optional_number(r)) return;
    if (n.expect && !expect_number(r)) return;
    read_value(r, n, row.field(r.info, i));
    if (r.status != 0) return;
  }
  if (row.flag >= 0) row.field(r.info, 0).set(row.flag);
  r.seen |= row.seen;
}

// Reads '[' a ',' b ']' into a and b. A range error reports itself; any
// other failure is "Syntax error.".
bool rd_item(Reader& r, const Num& first, const Num& second, double& a, double& b) {
  auto punctuation = [&r](int32_t expected) {
    const int32_t token = sb_readKeyword(r.src, &r.status);
    if (r.status == 0 && token == expected) return true;
    r.status = 0;
    return fail(r, kSyntax, "Syntax error.");
  };
  auto number = [&r](const Num& n, double& out) {
    out = n.kind == Kind::integer ? rd_int(r, n.lo, n.hi) : rd_real(r, n.lo, n.hi);
    if (r.status == 0) return true;
    if (r.status != kRange) {
      r.status = 0;
      fail(r, kSyntax, "Syntax error.");
    }
    return false;
  };
  return punctuation(TOK_LBRACKET) && number(first, a) && punctuation(TOK_COMMA) &&
         number(second, b) && punctuation(TOK_RBRACKET);
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

constexpr double kHms[] = {3600, 60, 1};
constexpr double kDhms[] = {86400, 3600, 60, 1};

// ------------------------------------------------------------ writing

void put_int(std::string& out, int64_t v) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// A number as printf would write it with the row's conversion; never through
// the C runtime, whose float output differs between platforms.
void put_num(std::string& out, double v, Fmt f) {
  char buf[400];
  char* end = buf;
  if (f.conv == 'd') {
    end = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v)).ptr;
  } else if (f.conv == 'f') {
    end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, f.prec < 0 ? 6 : f.prec).ptr;
  } else {
    end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, f.prec < 0 ? 6 : f.prec).ptr;
  }
  const auto length = static_cast<std::size_t>(end - buf);
  if (f.width > 0 && length < static_cast<std::size_t>(f.width)) {
    out.append(static_cast<std::size_t>(f.width) - length, ' ');
  }
  out.append(buf, length);
}

// Whether a text reads back as itself when written without quotes.
bool bare_safe(std::string_view t) {
  if (t.empty() || t.size() > 81) return false;
  if (std::string_view("#,:[]\"").find(t.front()) != std::string_view::npos) return false;
  return t.find_first_of(" \t\"\r\n") == std::string_view::npos;
}

// A text value: bare when that reads back the same, else in double quotes.
void put_text(std::string& out, std::string_view t) {
  if (bare_safe(t)) {
    out += t;
    return;
  }
  out += '"';
  out += t;
  out += '"';
}

void end_line(Writer& w) { w.out += plat::kLineEnd; }

// The keyword left-justified in its field.
void put_keyword(Writer& w, std::string_view keyword) {
  w.out += keyword;
  if (keyword.size() < kKeywordField) w.out.append(kKeywordField - keyword.size(), ' ');
}

// Appends "  " and a value.
void put_value(Writer& w, double v, Fmt f = kD) {
  w.out += "  ";
  put_num(w.out, v, f);
}
void put_value_text(Writer& w, std::string_view t) {
  w.out += "  ";
  put_text(w.out, t);
}

void write_fault(Writer& w, int code, const char* message) {
  sb_calWriteError("%s", message);
  w.result = code;
}

sysInfo_t& mutable_info(Writer& w) { return const_cast<sysInfo_t&>(w.info); }

// The row's values as listed.
void write_listed(Writer& w, const Line& row) {
  const int count = row.count();
  if (count == 0) {
    w.out += row.name;  // a keyword alone has no field width
    end_line(w);
    return;
  }
  put_keyword(w, row.name);
  for (int i = 0; i < count; ++i) {
    const Num& n = row.nums[static_cast<std::size_t>(i)];
    const Ref field = row.field(mutable_info(w), i);
    if (n.kind == Kind::word) {
      put_value_text(w, field.text());
    } else {
      double v = field.get() / n.scale;
      // A bound that single precision cannot hold (2147483647 becomes
      // 2147483648) is written as the bound, which reads back to the same
      // stored value.
      if (n.kind == Kind::real && std::isfinite(v)) v = std::clamp(v, n.lo, n.hi);
      put_value(w, v, n.fmt);
    }
  }
  end_line(w);
}

// ------------------------------------------------------------ shared predicates

bool always_writes_mags(int32_t sys) { return is_one_of(sys, {SYS_DUNE, SYS_COBALT, SYS_EMBER, SYS_LUMEN}); }

bool pifoc_writes_scale(int32_t sys) {
  return is_one_of(sys, {SYS_BIRCH3, SYS_BIRCH5, SYS_BIRCH7, SYS_BIRCH10, SYS_BIRCH9, SYS_LUMEN});
}

bool writes_llc_target(const sysInfo_t& s) {
  return s.llcTarget != 150 || needs_llc_target(s.instrBdType, s.systemType) ||
         is_one_of(s.systemType, {SYS_KITE, SYS_ALDER2, SYS_GLENCAN, SYS_GLEN, SYS_HERON, SYS_HERON_CAN,
                                  SYS_KITECAN, SYS_ALDER4, SYS_IRIS_CAN, SYS_KITE2, SYS_KITE2CAN});
}

bool lumen_block(const sysInfo_t& s) { return s.systemType == SYS_LUMEN && s.lumenInfo != nullptr; }

// ------------------------------------------------------------ irregular lines

// The line that begins with a system type word.
void read_system(Reader& r, int32_t first) {
  r.info.systemType = *value_of(kSystemTypes, first);
  const int32_t year = rd_int(r, 0, 99);
  const int32_t week = rd_int(r, 1, 52);
  if (r.status != 0) return;
  r.info.dateCode = static_cast<int16_t>(year * 100 + week);
  const int32_t serial = rd_int(r, 100, 999999);
  if (r.status != 0) return;
  r.info.serialNumber = serial;
  const int c = peek(r);
  if (c == CAL_CLASS_END) return;
  if (c != CAL_CLASS_LETTER) {
    fail(r, kSyntax, "Expected non-numeric string.");
    return;
  }
  const std::string word = rd_word(r);
  if (r.status != 0) return;
  if (word != "R") {
    fail(r, kSyntax, "Unrecognized string.");
    return;
  }
  r.info.rFlag = 1;
}

void write_system(Writer& w, const Line&) {
  const sysInfo_t& s = w.info;
  const bool writable = (s.systemType >= 4 && s.systemType <= 8) || (s.systemType >= 10 && s.systemType <= 35);
  if (!writable) write_fault(w, ERR_SB_CAL_INFO_INCOMPLETE, "System type undefined.");
  put_keyword(w, name_of(kSystemTypes, s.systemType));
  auto two_digits = [&w](int v) {
    w.out += "  ";
    if (v >= 0 && v < 10) w.out += '0';
    put_int(w.out, v);
  };
  two_digits(s.dateCode / 100);
  two_digits(s.dateCode % 100);
  put_value(w, s.serialNumber);
  w.out += "  ";
  if (s.rFlag != 0) w.out += 'R';
  end_line(w);
}

void read_version(Reader& r, const Line&) {
  const int32_t grabber = rd_name(r, kGrabbers);
  if (r.status != 0) return;
  r.info.frameGrabber = grabber;
  const int32_t version = rd_int(r, 0, 99999);
  if (r.status != 0) return;
  r.info.boardVersion = static_cast<uint8_t>(version & 0xFF);  // kept in 8 bits
  const int32_t board = rd_name(r, kBoards);
  if (r.status != 0) return;
  r.info.instrBdType = board;
  r.seen |= SEEN_VERSION;
}

void write_version(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kGrabbers, w.info.frameGrabber));
  put_value(w, w.info.boardVersion);
  put_value_text(w, name_of(kBoards, w.info.instrBdType));
  end_line(w);
}

void read_mac_address(Reader& r, const Line&) {
  if (!make(r, r.info.canInfo)) return;
  auto hex_digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (uint8_t& byte : r.info.canInfo->mac) {
    std::string word = rd_word(r);
    if (r.status != 0) return;
    // A hexadecimal read takes a 0x prefix.
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') && hex_digit(word[2]) >= 0) {
      word.erase(0, 2);
    }
    if (word.empty() || hex_digit(word[0]) < 0) {
      fail(r, kSyntax);
      return;
    }
    // An over-long number keeps its low byte.
    unsigned low = 0;
    for (std::size_t i = 0; i < word.size() && hex_digit(word[i]) >= 0; ++i) {
      low = (low * 16 + static_cast<unsigned>(hex_digit(word[i]))) & 0xFF;
    }
    byte = static_cast<uint8_t>(low);
  }
  r.seen |= SEEN_INSTRCOMM;
}

void write_mac_address(Writer& w, const Line& row) {
  if (!w.info.canInfo) {
    write_fault(w, ERR_INVALID_PARAM, "canInfo = NULL");
    return;
  }
  put_keyword(w, row.name);
  for (uint8_t byte : w.info.canInfo->mac) {
    constexpr char kHex[] = "0123456789ABCDEF";
    w.out += "  ";
    w.out += kHex[byte >> 4];
    w.out += kHex[byte & 0xF];
  }
  end_line(w);
}

void write_instr_name(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  w.out += "  ";
  // Quotes hold 80 characters; a bare name may have 81.
  if (w.info.instrName.size() > 80 && bare_safe(w.info.instrName)) {
    w.out += w.info.instrName;
  } else {
    w.out += '"';
    w.out += w.info.instrName;
    w.out += '"';
  }
  end_line(w);
}

// The boards a custom camera is read for; the reader refuses it on any
// other, so the writer must not write it there.
bool custom_camera_fits(int32_t board) {
  return is_one_of(board, {BD_SABLE, BD_LUMEN, BD_KITE, BD_IRIS, BD_CAN, BD_NOTNEEDED});
}

void read_camera_type(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kCameras);
  if (r.status != 0) return;
  sysInfo_t& s = r.info;
  s.cameraType = type;
  if (type != CAM_CUSTOM) return;
  uint8_t* bytes = s.cameraConfig;
  int target = 0;
  const char* note = nullptr;
  switch (s.instrBdType) {
    case BD_SABLE:
    case BD_LUMEN:
      bytes[0] = 0, bytes[2] = 0, bytes[3] = 1, bytes[4] = 0, bytes[5] = 1, bytes[6] = 1;
      bytes[8] = 1, bytes[7] = 0, bytes[9] = 1;
      target = 0;
      note = "Setting interlaceFlag to %d\n";
      break;
    case BD_KITE:
    case BD_IRIS:
      bytes[0] = 1, bytes[1] = 5, bytes[9] = 0;
      target = 9;
      note = "Setting fieldCtrl to %d\n";
      break;
    case BD_CAN:
    case BD_NOTNEEDED:
      bytes[9] = 0;
      target = 0;
      break;
    default:
      fail(r, kSyntax, "Unexpected token.");
      return;
  }
  if (optional_number(r, /*silent=*/true)) {
    const int32_t v = rd_int(r, 0, 1);
    if (r.status != 0) return;
    bytes[target] = static_cast<uint8_t>(v);
  }
  if (r.status == 0 && note != nullptr) u_log_fn(note, bytes[target]);
}

void write_camera_type(Writer& w, const Line& row) {
  const sysInfo_t& s = w.info;
  const bool known = (s.cameraType >= 1 && s.cameraType <= 9) || (s.cameraType >= 11 && s.cameraType <= 32);
  if (!known && s.instrBdType != BD_NONE) write_fault(w, ERR_SB_CAL_INFO_INCOMPLETE, "Camera Type undefined.");
  // A record read line by line may have got its board after its custom
  // camera; written in the file's order it would not read back.
  if (s.cameraType == CAM_CUSTOM && !custom_camera_fits(s.instrBdType)) {
    write_fault(w, ERR_SB_CALFILE_INCONSISTENT, "Camera Type CUSTOM does not fit the instrument board.");
  }
  // The reader has no word for an unknown camera (nor for type 10), so the
  // line is left out.
  if (s.cameraType == CAM_UNKNOWN || s.cameraType == CAM_INFRACAMA) return;
  put_keyword(w, row.name);
  put_value_text(w, name_of(kCameras, s.cameraType));
  const uint8_t* bytes = s.cameraConfig;
  const bool custom_byte0 = s.cameraType == CAM_CUSTOM && is_one_of(s.instrBdType, {BD_CAN, BD_NOTNEEDED});
  if ((is_one_of(s.instrBdType, {BD_SABLE, BD_LUMEN}) || custom_byte0) && bytes[0] != 0) {
    put_value(w, bytes[0]);
  } else if (is_one_of(s.instrBdType, {BD_KITE, BD_IRIS}) && bytes[9] != 0) {
    put_value(w, bytes[9]);
  }
  end_line(w);
}

void read_camera_file(Reader& r, const Line&) {
  std::string* names = r.info.cameraFile;
  for (int i = 0; i < SB_CAMERA_FILES; ++i) names[i].clear();
  names[0] = rd_word(r);
  for (int i = 1; r.status == 0; ++i) {
    const int c = peek(r);
    if (c == CAL_CLASS_END) return;
    if (c != CAL_CLASS_LETTER) {
      fail(r, kSyntax, "Expected non-numeric string.");
      return;
    }
    if (i == SB_CAMERA_FILES) {
      fail(r, kSyntax, "Too many camera file names.");
      return;
    }
    std::string name = rd_word(r);
    if (r.status != 0) return;
    if (!(i == 1 && name == "NULL")) names[i] = std::move(name);
  }
}

void write_camera_file(Writer& w, const Line& row) {
  const std::string* names = w.info.cameraFile;
  put_keyword(w, row.name);
  put_value_text(w, names[0]);
  if (!names[1].empty()) put_value_text(w, names[1]);
  if (!names[2].empty()) {
    if (names[1].empty()) w.out += " NULL";
    put_value_text(w, names[2]);
  }
  end_line(w);
}

// Which configuration byte each value of the eight-value form fills.
constexpr int kConfigBytes8[] = {2, 3, 4, 5, 6, 8, 7, 9};

void read_camera_config(Reader& r, const Line&) {
  uint8_t* bytes = r.info.cameraConfig;
  const int32_t board = r.info.instrBdType;
  if (board == BD_SABLE || board == BD_LUMEN) {
    for (int byte : kConfigBytes8) {
      const int32_t v = rd_int(r, 0, byte == 4 ? 3 : 1);
      if (r.status != 0) return;
      bytes[byte] = static_cast<uint8_t>(v);
    }
  } else if (board == BD_KITE || board == BD_IRIS) {
    const int32_t b0 = rd_int(r, 0, 1);
    if (r.status != 0) return;
    bytes[0] = static_cast<uint8_t>(b0);
    const int32_t b1 = rd_int(r, 0, 15);
    if (r.status != 0) return;
    bytes[1] = static_cast<uint8_t>(b1);
  } else {
    fail(r, kSyntax, "Unexpected token.");
  }
}

void write_camera_config(Writer& w, const Line& row) {
  const uint8_t* bytes = w.info.cameraConfig;
  put_keyword(w, row.name);
  if (is_one_of(w.info.instrBdType, {BD_SABLE, BD_LUMEN})) {
    for (int byte : kConfigBytes8) put_value(w, bytes[byte]);
  } else {
    put_value(w, bytes[0]);
    put_value(w, bytes[1]);
  }
  end_line(w);
}

void read_camera_align(Reader& r, const Line&) {
  const int32_t align = rd_name(r, kAligns);
  if (r.status == 0) r.info.cameraAlign = static_cast<uint8_t>(align);
}

void write_camera_align(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kAligns, w.info.cameraAlign));
  end_line(w);
}

void read_camera_bpix(Reader& r, const Line&) {
  const int32_t mode = rd_int(r, 0, 1);
  if (r.status != 0) return;
  r.info.badPixelMode = static_cast<uint8_t>(mode);
  if (!optional_word(r)) return;
  std::string file = rd_word(r);
  if (r.status != 0) return;
  r.info.badPixelFile = std::move(file);
  r.seen |= SEEN_BADFILE;
}

void write_camera_bpix(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value(w, w.info.badPixelMode);
  if (!w.info.badPixelFile.empty()) put_value_text(w, w.info.badPixelFile);
  end_line(w);
}

void read_bad_pixels(Reader& r, const Line&) {
  r.seen |= SEEN_BADLIST;
  while (r.status == 0) {
    const int c = peek(r);
    if (c == CAL_CLASS_END) return;
    if (c != CAL_CLASS_BRACKET) {
      fail(r, kSyntax, "Syntax error.");
      return;
    }
    double x = 0;
    double y = 0;
    if (!rd_item(r, I(0, 700), I(0, 484), x, y)) return;
    if (r.bad_pixels >= SB_MAX_BAD_PIXELS) {
      fail(r, kRange, "Too many camera bad pixels.");
      return;
    }
    auto& entry = r.info.badPixels[r.bad_pixels++];
    entry.x = static_cast<int16_t>(x);
    entry.y = static_cast<int16_t>(y);
  }
}

void write_bad_pixels(Writer& w, const Line& row) {
  const int count = bad_pixel_count(w.info);
  for (int i = 0; i < count; i += 6) {
    put_keyword(w, row.name);
    w.out += "  ";
    for (int k = i; k < count && k < i + 6; ++k) {
      if (k > i) w.out += ' ';
      w.out += '[';
      put_int(w.out, w.info.badPixels[k].x);
      w.out += ',';
      put_int(w.out, w.info.badPixels[k].y);
      w.out += ']';
    }
    end_line(w);
  }
}

void read_split(Reader& r, const Line& row) {
  const int32_t value = rd_int(r, 1, 2047);
  if (r.status != 0) return;
  const int32_t second = rd_int(r, 0, 10);
  if (r.status != 0) return;
  r.info.splitAxis = row.second == TOK_SPLITX ? SPLIT_X : SPLIT_Y;
  r.info.splitValue = value;
  r.info.splitValue2 = second;
}

void write_split(Writer& w, const Line& row) {
  const bool x = row.second == TOK_SPLITX;
  if (w.info.splitAxis != (x ? SPLIT_X : SPLIT_Y)) return;
  put_keyword(w, row.name);
  put_value(w, w.info.splitValue);
  put_value(w, w.info.splitValue2);
  end_line(w);
}

// Lines that index per magnification need the magnification count first.
bool need_mags(Reader& r, const char* what) {
  if (r.info.magCount != 0) return true;
  // No status: the line counts as read, but the read ends as invalid.
  sb_calError("A NomMag or SysMag line must appear\nbefore %s line.", what);
  return false;
}

void read_camera_trans(Reader& r, const Line&) {
  if (!need_mags(r, "a Camera Trans")) return;
  const int32_t index = rd_int(r, 0, 14);
  const int32_t x = rd_int(r, -2047, 2047);
  if (r.status != 0) return;
  r.info.cameraTrans[index].x = static_cast<int16_t>(x);
  const int32_t y = rd_int(r, -2047, 2047);
  if (r.status != 0) return;
  r.info.cameraTrans[index].y = static_cast<int16_t>(y);
}

void write_camera_trans(Writer& w, const Line& row) {
  for (int i = 0; i < w.info.magCount && i < SB_MAX_MAGS; ++i) {
    put_keyword(w, row.name);
    put_value(w, i);
    put_value(w, w.info.cameraTrans[i].x);
    put_value(w, w.info.cameraTrans[i].y);
    end_line(w);
  }
}

void read_light(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kLights);
  if (r.status != 0) return;
  sysInfo_t& s = r.info;
  s.lightType = type;
  sb_wavelength_t* wl = s.wavelengths;
  auto preset_first = [wl](double metres) {
    wl[0].wavelength = metres;
    for (int i = 1; i < 4; ++i) wl[i].wavelength = 0;
  };
  if (s.systemType == SYS_COBALT) {
    preset_first(0.655e-6);
  } else if (s.instrBdType == BD_DUNE) {
    preset_first(12.75e-6);
  } else if (s.instrBdType == BD_LUMEN) {
    preset_first(9e-6);
  } else if (s.instrBdType != BD_CAN) {
    for (int i = 0; i < 4; ++i) wl[i] = {0.6328e-6, 0};
  }
  int items = 0;
  while (items < 4) {
    const int c = peek(r);
    if (c == CAL_CLASS_END) break;
    double wavelength = 0;
    double bandwidth = 0;
    if (c == CAL_CLASS_NUMBER) {
      wavelength = rd_real(r, 0.1, 15);
      if (r.status != 0) return;
    } else if (c == CAL_CLASS_BRACKET) {
      if (!rd_item(r, R(0.1, 15), R(0, 1), wavelength, bandwidth)) return;
    } else {
      fail(r, kSyntax, "Syntax error.");
      return;
    }
    wl[items].wavelength = wavelength * 1e-6;
    wl[items].bandwidth = bandwidth * 1e-6;
    ++items;
    r.seen |= SEEN_LIGHT;
  }
  if (items == 0 && type != LIGHT_HENE) fail(r, kSyntax, "At least one wavelength value required.");
}

void write_light(Writer& w, const Line&) {
  const sysInfo_t& s = w.info;
  if ((s.lightType < 1 || s.lightType > 5) && s.instrBdType != BD_NONE) {
    write_fault(w, ERR_SB_CAL_INFO_INCOMPLETE, "Light Type undefined.");
  }
  // The reader has no word for an unknown light, so the line is left out.
  if (s.lightType == LIGHT_UNKNOWN) return;
  // Light fields still at their reset values came from a file without a
  // Light line. Where the reader presets all four entries to 0.6328 um, a
  // line would not read them back, so it is left out; Sable boards need the
  // line and keep it.
  const bool at_reset = s.lightType == LIGHT_HENE && s.wavelengths[0].wavelength == 6.328e-7 &&
                        s.wavelengths[0].bandwidth == 0 && s.wavelengths[1].wavelength == 0 &&
                        s.wavelengths[2].wavelength == 0 && s.wavelengths[3].wavelength == 0;
  const bool four_preset = s.systemType != SYS_COBALT &&
                           !is_one_of(s.instrBdType, {BD_DUNE, BD_LUMEN, BD_CAN, BD_SABLE});
  if (at_reset && four_preset) return;
  std::string keyword = "Light ";
  keyword += name_of(kLights, s.lightType);
  put_keyword(w, keyword);
  w.out += "  ";
  for (int i = 0; i < 4; ++i) {
    const sb_wavelength_t& e = s.wavelengths[i];
    if (i > 0 && e.wavelength == 0) break;
    if (i > 0) w.out += ' ';
    if (e.bandwidth != 0) {
      w.out += '[';
      put_num(w.out, e.wavelength * 1e6, kF);
      w.out += ',';
      put_num(w.out, e.bandwidth * 1e6, kF);
      w.out += ']';
    } else {
      put_num(w.out, e.wavelength * 1e6, kF);
    }
  }
  end_line(w);
}

void read_llc_instr(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kLlcInstrs, /*quiet=*/true);
  if (r.status != 0) return;
  r.info.llcInstr = type;
  if (type == LLC_DUNE) return;
  std::string text = rd_word(r);
  if (r.status == 0) r.info.llcInstrText = std::move(text);
}

void write_llc_instr(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kLlcInstrs, w.info.llcInstr));
  // Dune takes no text; the others need one, if only "".
  if (w.info.llcInstr != LLC_DUNE) put_value_text(w, w.info.llcInstrText);
  end_line(w);
}

void read_llc_range(Reader& r, const Line&) {
  sb_range_t* ranges = r.info.llcRange;
  const int32_t low = rd_int(r, 0, 65535);
  const int32_t high = rd_int(r, 0, 65535);
  if (r.status != 0) return;
  ranges[0] = {static_cast<uint16_t>(low), static_cast<uint16_t>(high)};
  r.llc_range_values = 2;
  if (!optional_number(r)) return;
  const int32_t low2 = rd_int(r, 0, 4096);
  const int32_t high2 = rd_int(r, 0, 4096);
  if (r.status != 0) return;
  ranges[1] = {static_cast<uint16_t>(low2), static_cast<uint16_t>(high2)};
  r.llc_range_values = 4;
}

bool same(sb_range_t a, sb_range_t b) { return a.low == b.low && a.high == b.high; }

// Written when it differs from what the reader would derive without it.
void write_llc_range(Writer& w, const Line& row) {
  const sysInfo_t& s = w.info;
  const LlcDefaults d = llc_default_ranges(s.instrBdType, s.systemType, s.cameraType);
  const bool second = !same(s.llcRange[1], d.has_second ? d.second : sb_range_t{});
  // A forced first range is the reader's whatever the file says; it is
  // written only to carry a second range.
  const bool first = second || (!d.forced && !same(s.llcRange[0], d.has_range ? d.range : sb_range_t{}));
  if (!first) return;
  put_keyword(w, row.name);
  put_value(w, s.llcRange[0].low);
  put_value(w, s.llcRange[0].high);
  if (second) {
    put_value(w, s.llcRange[1].low);
    put_value(w, s.llcRange[1].high);
  }
  end_line(w);
}

void read_llc_config(Reader& r, const Line&) {
  const int32_t first = rd_int(r, 0, 255);
  if (r.status != 0) return;
  r.info.lightSource[0].config = static_cast<uint8_t>(first | 1);
  if (!optional_number(r)) return;
  const int32_t second = rd_int(r, 0, 255);
  if (r.status == 0) r.info.lightSource[1].config = static_cast<uint8_t>(second | 1);
}

void write_llc_config(Writer& w, const Line& row) {
  const sb_light_source_t* src = w.info.lightSource;
  if (src[1].config == 0 && src[0].config == 1) return;
  put_keyword(w, row.name);
  put_value(w, src[0].config);
  if (src[1].config != 0) put_value(w, src[1].config);
  end_line(w);
}

void read_llc_freq(Reader& r, const Line&) {
  const int32_t f = rd_int(r, 0, 1000000);
  if (r.status != 0) return;
  r.info.lightSource[0].freq = f;
  r.info.lightSource[1].freq = f;
}

void read_llc_align(Reader& r, const Line&) {
  const double pct = rd_real(r, 0, 100);
  if (r.status != 0) return;
  r.info.lightSource[0].alignModePct = static_cast<float>(pct);
  r.info.lightSource[1].alignModePct = static_cast<float>(pct);
}

// LLC AvgCurLimit (pair member 0) and LLC FwdVoltage (member 1).
uint16_t& pair_value(sysInfo_t& s, int source, int range, bool voltage) {
  auto& p = s.lightSource[source].pairs[range];
  return voltage ? p.fwdVoltage : p.avgCurLimit;
}

void read_llc_pairs(Reader& r, const Line& row) {
  const bool voltage = row.second == TOK_FWDVOLTAGE;
  const double hi = voltage ? 10000 : 1000;
  for (int k = 0; k < 4; ++k) {
    if (k == 2 && !optional_number(r)) return;
    const int32_t v = rd_int(r, 0, hi);
    if (r.status != 0) return;
    pair_value(r.info, k / 2, k % 2, voltage) = static_cast<uint16_t>(v);
  }
}

void write_llc_pairs(Writer& w, const Line& row) {
  const bool voltage = row.second == TOK_FWDVOLTAGE;
  sysInfo_t& s = mutable_info(w);
  const bool second = pair_value(s, 1, 0, voltage) != 0 || pair_value(s, 1, 1, voltage) != 0;
  if (!second && pair_value(s, 0, 0, voltage) == 0 && pair_value(s, 0, 1, voltage) == 0) return;
  put_keyword(w, row.name);
  for (int k = 0; k < (second ? 4 : 2); ++k) put_value(w, pair_value(s, k / 2, k % 2, voltage));
  end_line(w);
}

// Pifoc and PztId: the value, with scale and Beta back at their defaults.
bool read_pifoc_value(Reader& r, double hi) {
  if (!make(r, r.info.pifoc)) return false;
  const int32_t v = rd_int(r, 0, hi);
  if (r.status != 0) return false;
  sb_pifoc_t& p = *r.info.pifoc;
  p.value = v;
  p.scale = SB_PIFOC_SCALE;
  p.beta = SB_PIFOC_BETA;
  r.seen |= SEEN_PIFOC;
  return true;
}

void read_pifoc(Reader& r, const Line&) {
  if (!read_pifoc_value(r, 999999) || !optional_number(r)) return;
  const double scale = rd_real(r, 0.5, 2);
  if (r.status != 0) return;
  r.info.pifoc->scale = scale;
  const double beta = rd_real(r, 0, 0.1);
  if (r.status != 0) return;
  if (beta != 0 && beta < 0.005) {
    sb_calError("Beta = %g is non-zero and is not in range [%g,%g]", beta, 0.005, 0.1);
    r.status = kRange;
    return;
  }
  r.info.pifoc->beta = beta;
}

void read_pztid(Reader& r, const Line&) { read_pifoc_value(r, 99999); }

void write_pifoc(Writer& w, const Line& row) {
  const sb_pifoc_t& p = *w.info.pifoc;
  put_keyword(w, row.name);
  put_value(w, p.value);
  // A record made by PifocType alone holds no scale yet (0, which no file
  // can give); its value line reads back with the defaults.
  const bool has_scale = 0.5 <= p.scale && p.scale <= 2;
  if (has_scale && (pifoc_writes_scale(w.info.systemType) || p.scale != SB_PIFOC_SCALE || p.beta != SB_PIFOC_BETA)) {
    put_value(w, p.scale, kF);
    put_value(w, p.beta, kF);
  }
  end_line(w);
}

void read_mags(Reader& r, const Line& row) {
  double* mags = row.first == TOK_NOMMAG ? r.info.nomMag : r.info.sysMag;
  for (int i = 0; i < SB_MAX_MAGS; ++i) mags[i] = 0;
  if (!expect_number(r)) return;
  int n = 0;
  do {
    if (n == SB_MAX_MAGS) {
      fail(r, kSyntax, "Too many NomMag or SysMag values.");
      return;
    }
    const double v = rd_real(r, 0, 100);
    if (r.status != 0) return;
    mags[n++] = v;
  } while (peek(r) == CAL_CLASS_NUMBER);
  if (r.info.magCount != 0 && r.info.magCount != n) {
    fail(r, ERR_SB_CALFILE_INCONSISTENT,
         "The number of NomMag values and\nthe number of SysMag values are mismatched.");
    return;
  }
  r.info.magCount = n;
}

bool any_set(const double* mags, int count) {
  return std::any_of(mags, mags + count, [](double m) { return m != 0; });
}

// The count is what later lines (Camera Trans, the Lumen block) depend on,
// so it must survive even when entry 0, or every entry, is 0: an array
// holding a value is written, and NomMag carries the count when neither
// does. A record that has values but no count yet gets its entry 0.
void write_mags(Writer& w, const Line& row) {
  const sysInfo_t& s = w.info;
  const bool nominal = row.first == TOK_NOMMAG;
  const double* mags = nominal ? s.nomMag : s.sysMag;
  int count = std::clamp(s.magCount, 0, SB_MAX_MAGS);
  if (always_writes_mags(s.systemType)) {
    count = std::max(count, 2);
  } else if (count == 0) {
    if (mags[0] == 0) return;
    count = 1;
  } else if (!any_set(mags, count) && !(nominal && !any_set(s.sysMag, count))) {
    return;
  }
  put_keyword(w, row.name);
  for (int i = 0; i < count; ++i) put_value(w, mags[i], Fmt{'f', 4, 6});
  end_line(w);
}

void write_scan_cal(Writer& w, const Line& row) {
  const double* cal = w.info.scanCal;
  const bool both = cal[1] != 0 && cal[1] != 1;
  if (!both && (cal[0] == 0 || cal[0] == 1)) return;
  put_keyword(w, row.name);
  put_value(w, cal[0], kG);
  if (both) put_value(w, cal[1], kG);
  end_line(w);
}

void read_turret(Reader& r, const Line&) {
  const int32_t turret = rd_int(r, 0, 255);
  if (r.status != 0) return;
  r.info.turret = turret;
  if (!optional_number(r, /*silent=*/true)) return;
  const int32_t second = rd_int(r, 0, 255);
  if (r.status == 0) r.info.turret2 = second;
}

void write_turret(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value(w, w.info.turret);
  if (w.info.turret2 != 5) put_value(w, w.info.turret2);
  end_line(w);
}

void read_ring_spot(Reader& r, const Line&) {
  const sysInfo_t& s = r.info;
  if (s.instrBdType == BD_KITE ||
      (s.instrBdType == BD_CAN && is_one_of(s.systemType, {SYS_KITECAN, SYS_HERON_CAN, SYS_IRIS_CAN}))) {
    r.info.ringSpot = 1;
  }
}

// C1..C6 of an SdcCal entry in file order.
float& sdc_c(sb_sdc_cal_t& e, int k) {
  float* order[] = {&e.c1, &e.c2, &e.c3, &e.c4, &e.c5, &e.c6};
  return *order[k];
}

void read_sdc_cal(Reader& r, const Line&) {
  const int32_t index = rd_int(r, 0, 14);
  if (r.status != 0) return;
  sb_sdc_cal_t& e = r.info.sdcCal[index];
  for (int k = 0; k < 8; ++k) {
    if (!optional_number(r, /*silent=*/true)) return;
    const double v = k < 6 ? rd_real(r, -kFloatMax, kFloatMax) : rd_real(r, 0, kFloatMax);
    if (r.status != 0) return;
    if (k < 6) {
      sdc_c(e, k) = static_cast<float>(v);
    } else {
      (k == 6 ? e.d1 : e.d2) = v;
    }
  }
}

void write_sdc_cal(Writer& w, const Line& row) {
  for (int i = 0; i < SB_MAX_MAGS; ++i) {
    // The reader fills the values in order and takes any prefix of them,
    // with D1 or D2 possibly 0: the line runs to the last value set.
    // An unset C has no written form; only a record made in memory can
    // have one before a set value, and the line then stops there.
    sb_sdc_cal_t e = w.info.sdcCal[i];
    int count = e.d2 != 0 ? 8 : e.d1 != 0 ? 7 : 0;
    for (int k = 0; k < 6 && count == 0; ++k) {
      if (sdc_c(e, 5 - k) != SB_FLOAT_UNSET) count = 6 - k;
    }
    for (int k = 0; k < std::min(count, 6); ++k) {
      if (sdc_c(e, k) == SB_FLOAT_UNSET) count = k;
    }
    if (count == 0) continue;
    put_keyword(w, row.name);
    put_value(w, i);
    for (int k = 0; k < std::min(count, 6); ++k) put_value(w, sdc_c(e, k), kG);
    if (count > 6) put_value(w, e.d1, kG);
    if (count > 7) put_value(w, e.d2, kG);
    end_line(w);
  }
}

void read_pos_instr(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kPosInstrs);
  if (r.status != 0) return;
  r.info.posInstr = type;
  std::string text = rd_word(r);
  if (r.status != 0) return;
  r.info.posInstrText[0] = std::move(text);
  r.info.posInstrText[1].clear();
  if (!optional_word(r)) return;
  std::string second = rd_word(r);
  if (r.status == 0) r.info.posInstrText[1] = std::move(second);
}

void write_pos_instr(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kPosInstrs, w.info.posInstr));
  put_value_text(w, w.info.posInstrText[0]);
  if (!w.info.posInstrText[1].empty()) put_value_text(w, w.info.posInstrText[1]);
  end_line(w);
}

void read_temp_sensor(Reader& r, const Line&) {
  const int32_t type = rd_name(r, kTempSensors, /*quiet=*/true);
  if (r.status != 0) return;
  r.info.tempSensor = type;
  std::string text = rd_word(r);
  if (r.status == 0) r.info.tempSensorText = std::move(text);
}

void write_temp_sensor(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_value_text(w, name_of(kTempSensors, w.info.tempSensor));
  put_value_text(w, w.info.tempSensorText);
  end_line(w);
}

// PidVals_A .. PidVals_Z in axis order.
int axis_of(const Line& row) { return static_cast<int>(std::string_view("ABPRTXYZ").find(row.name.back())); }

void read_pid(Reader& r, const Line& row) {
  Hooked<sb_pid_t>& record = r.info.pid[axis_of(row)];
  if (!record) {
    record = make_hooked<sb_pid_t>();
    // Only this line fails; the read goes on.
    if (!record) {
      r.status = ERR_NO_MEM;
      return;
    }
  }
  int first = 0;
  int last = 1;
  if (peek(r) == CAL_CLASS_LETTER) {
    const int32_t token = sb_readKeyword(r.src, &r.status);
    if (r.status != 0) return;
    const std::optional<int32_t> set = value_of(kPidSets, token);
    if (!set) {
      fail(r, kSyntax, "Unrecognized string.");
      return;
    }
    first = last = *set;
  }
  constexpr Num kValues[] = {I(-8388608, 8388607), I(-8388608, 8388607), I(0, 8388607), I(0, 8388607),
                             I(0, 1), I(0, 8388607), R(-2, 2), R(-2, 2), R(-2, 2), R(-2, 2)};
  for (int k = 0; k < 10; ++k) {
    const Num& n = kValues[k];
    const double v = n.kind == Kind::integer ? rd_int(r, n.lo, n.hi) : rd_real(r, n.lo, n.hi);
    if (r.status != 0) return;
    for (int s = first; s <= last; ++s) {
      sb_pid_set_t& p = record->sets[s];
      switch (k) {
        case 0: p.p1 = static_cast<int32_t>(v); break;
        case 1: p.p2 = static_cast<int32_t>(v); break;
        case 2: p.p3 = static_cast<int32_t>(v); break;
        case 3: p.p4 = static_cast<int32_t>(v); break;
        case 4: p.p5 = static_cast<uint8_t>(v); break;
        case 5: p.p6 = static_cast<int32_t>(v); break;
        case 6: p.p7 = static_cast<float>(v); break;
        case 7: p.p8 = static_cast<float>(v); break;
        case 8: p.p9 = static_cast<float>(v); break;
        default: p.p10 = static_cast<float>(v); break;
      }
    }
  }
}

void put_pid_values(Writer& w, const sb_pid_set_t& p) {
  for (int32_t v : {p.p1, p.p2, p.p3, p.p4, int32_t{p.p5}, p.p6}) put_value(w, v);
  for (float v : {p.p7, p.p8, p.p9, p.p10}) put_value(w, v, kG);
  end_line(w);
}

void write_pid(Writer& w, const Line& row) {
  const sb_pid_t& pid = *w.info.pid[axis_of(row)];
  const sb_pid_set_t unset{};
  const bool fast = pid.sets[0] != unset;
  const bool slow = pid.sets[1] != unset;
  if (fast && slow && pid.sets[0] == pid.sets[1]) {
    w.out += row.name;  // no field width
    put_pid_values(w, pid.sets[0]);
    return;
  }
  if (fast) {
    put_keyword(w, std::string(row.name) + " Fast");
    put_pid_values(w, pid.sets[0]);
  }
  if (slow) {
    put_keyword(w, std::string(row.name) + " Slow");
    put_pid_values(w, pid.sets[1]);
  }
}

void read_max_buckets(Reader& r, const Line&) {
  const int32_t limit = rd_int(r, 0, 2147483647);
  if (r.status != 0) return;
  r.info.wmMaxBuckets = limit;
  if (!expect_number(r)) return;
  const int32_t megabytes = rd_int(r, 0, 2147483647);
  if (r.status != 0) return;
  // 2048 MiB and more do not fit: they mean no limit, the reset value.
  const int64_t bytes = int64_t{megabytes} * 1048576;
  r.info.wmMaxBucketBytes = static_cast<int32_t>(std::min<int64_t>(bytes, 2147483647));
}

// A whole number in a word, as a decimal integer read would take it: 0 when
// the word does not start with one; saturated to 32 bits.
int32_t word_number(const std::string& word) {
  int64_t v = 0;
  std::size_t i = 0;
  const bool negative = !word.empty() && word[0] == '-';
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) i = 1;
  for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
    v = std::min<int64_t>(v * 10 + (word[i] - '0'), int64_t{1} << 31);
  }
  if (negative) v = -v;
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

void read_dyn_wave_gen(Reader& r, const Line&) {
  if (!make(r, r.info.dynWaveGen)) return;
  sb_dyn_wave_gen_t& d = *r.info.dynWaveGen;
  const std::string first = rd_word(r);
  if (r.status == 0) d.d[0] = word_number(first);
  const int32_t second = rd_int(r, 0, 30);
  if (r.status == 0) d.d[1] = second;
  const std::string third = rd_word(r);
  if (r.status == 0) {
    const int32_t v = word_number(third);
    if (v == 0 || (96 <= v && v <= 126)) {
      d.d[2] = v;
    } else {
      sb_calError("%d out of range [%d,%d] and 0", v, 96, 126);
      r.status = kRange;
    }
  }
  // A bad line leaves no half-made generator behind.
  if (r.status != 0) r.info.dynWaveGen.reset();
}

void write_dyn_wave_gen(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  for (int k = 0; k < 3; ++k) put_value(w, w.info.dynWaveGen->d[k]);
  end_line(w);
}

void read_sleep_timeout(Reader& r, const Line&) {
  rd_time(r, kHms, 20864, [&r](int32_t seconds) { r.info.sleepTimeout = static_cast<uint16_t>(seconds); });
}

void write_sleep_timeout(Writer& w, const Line& row) {
  const int t = w.info.sleepTimeout;
  put_keyword(w, row.name);
  w.out += "  ";
  put_int(w.out, t / 3600);
  for (int part : {t / 60 % 60, t % 60}) {
    w.out += part < 10 ? ":0" : ":";
    put_int(w.out, part);
  }
  // The last line of the file has no line end.
}

void read_std_mags(Reader& r, const Line&) {
  if (!make(r, r.info.encZoom)) return;
  sb_enc_zoom_t& z = *r.info.encZoom;
  z.stdMagCount = 0;
  if (!expect_number(r)) return;
  int n = 0;
  do {
    if (n == SB_MAX_MAGS) {
      fail(r, kSyntax, "Too many KiteEncZoomStdMag values.");
      break;
    }
    const double v = rd_real(r, 0, 100);
    if (r.status != 0) break;
    z.stdMags[n++] = v;
  } while (peek(r) == CAL_CLASS_NUMBER);
  z.stdMagCount = n;
}

void write_std_mags(Writer& w, const Line& row) {
  const sb_enc_zoom_t& z = *w.info.encZoom;
  put_keyword(w, row.name);
  for (int i = 0; i < z.stdMagCount && i < SB_MAX_MAGS; ++i) put_value(w, z.stdMags[i], kG);
  end_line(w);
}

sb_radius_scale_t& radius_block(sysInfo_t& s, const Line& row) {
  return row.first == TOK_ENCODEDRADIUSSCALE ? s.encodedRadiusScale : s.intfRadiusScale;
}

void read_radius_scale(Reader& r, const Line& row) {
  sb_radius_scale_t& b = radius_block(r.info, row);
  const bool encoded = row.first == TOK_ENCODEDRADIUSSCALE;
  b.present = 1;
  const int32_t mode = rd_int(r, 0, 1);
  if (r.status != 0) return;
  b.mode = static_cast<uint8_t>(mode);
  const double a = rd_real(r, 0, 1);
  if (r.status != 0) return;
  b.a = a;
  const double bb = rd_real(r, 0, 1);
  if (r.status != 0) return;
  b.b = bb;
  const int32_t n = rd_int(r, 0, 20);
  if (r.status != 0) return;
  b.n = n;
  if (encoded) {
    b.c = 0;
    if (!optional_number(r)) return;
  }
  const double c = rd_real(r, 0, 1);
  if (r.status == 0) b.c = c;
}

void write_radius_scale(Writer& w, const Line& row) {
  const sb_radius_scale_t& b = radius_block(mutable_info(w), row);
  if (!(b.present == 1 || b.mode == 1 || b.a > 0 || b.b > 0 || b.c > 0 || b.n != 0)) return;
  put_keyword(w, row.name);
  put_value(w, b.mode);
  put_value(w, b.a, kG);
  put_value(w, b.b, kG);
  put_value(w, b.n);
  put_value(w, b.c, kG);
  end_line(w);
}

// ---- Lumen lines

void read_lumen_zero_pt(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  const double first = rd_real(r, -10, 10);
  if (r.status != 0) return;
  r.info.lumenInfo->zeroPtPos[0] = first;
  if (!optional_number(r)) return;
  const double second = rd_real(r, -10, 10);
  if (r.status == 0) r.info.lumenInfo->zeroPtPos[1] = second;
}

void write_lumen_zero_pt(Writer& w, const Line& row) {
  const double* pos = w.info.lumenInfo->zeroPtPos;
  if (!std::isfinite(pos[0])) return;
  put_keyword(w, row.name);
  put_value(w, pos[0], kG);
  if (std::isfinite(pos[1])) put_value(w, pos[1], Fmt{'g', 6});
  end_line(w);
}

bool lumen_sys_finite(const sysInfo_t& s) {
  if (!lumen_block(s)) return false;
  for (double v : s.lumenInfo->sysConst) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

double (*lumen_table(sb_lumen_info_t& l, const Line& row))[SB_LUMEN_VALUES] {
  return row.first == TOK_LUMENDISPER ? l.disper : l.avgK0;
}

void read_lumen_values(Reader& r, const Line& row) {
  if (!make(r, r.info.lumenInfo)) return;
  if (!need_mags(r, "an LumenDisper or LumenAvg_K0")) return;
  const int32_t index = rd_int(r, 0, 14);
  if (!expect_number(r)) return;
  const double bound = row.first == TOK_LUMENDISPER ? kTwoPi : 100;
  const double lo = row.first == TOK_LUMENDISPER ? -kTwoPi : 0;
  double* values = lumen_table(*r.info.lumenInfo, row)[index];
  int n = 0;
  do {
    if (n == SB_LUMEN_VALUES) {
      fail(r, kSyntax, "Too many LumenDisper or LumenAvg_K0 values.");
      return;
    }
    const double v = rd_real(r, lo, bound);
    if (r.status != 0) return;
    values[n++] = v;
  } while (peek(r) == CAL_CLASS_NUMBER);
  if (n < 2) fail(r, kSyntax, "Not enough LumenDisper or LumenAvg_K0 values.");
}

void write_lumen_values(Writer& w, const Line& row) {
  sb_lumen_info_t& l = *mutable_info(w).lumenInfo;
  double(*table)[SB_LUMEN_VALUES] = lumen_table(l, row);
  for (int i = 0; i < w.info.magCount && i < SB_MAX_MAGS; ++i) {
    if (!(table[i][0] < kFloatMax)) continue;
    put_keyword(w, row.name);
    put_value(w, i);
    for (int k = 0; k < SB_LUMEN_VALUES && table[i][k] < kFloatMax; ++k) put_value(w, table[i][k], Fmt{'g', 6});
    end_line(w);
  }
}

float (*lumen_centres(sb_lumen_info_t& l, const Line& row))[2] {
  return row.first == TOK_LUMENDMICENTER ? l.dmiCenter : l.tiltCenter;
}

void read_lumen_centre(Reader& r, const Line& row) {
  if (!make(r, r.info.lumenInfo)) return;
  if (!need_mags(r, row.first == TOK_LUMENDMICENTER ? "an LumenDmiCenter" : "an LumenTiltCenter")) return;
  const int32_t index = rd_int(r, 0, 14);
  if (r.status != 0) return;
  float* centre = lumen_centres(*r.info.lumenInfo, row)[index];
  for (int k = 0; k < 2; ++k) {
    const double v = rd_real(r, -100, 100);
    if (r.status != 0) return;
    centre[k] = static_cast<float>(v);
  }
}

void write_lumen_centre(Writer& w, const Line& row) {
  float(*table)[2] = lumen_centres(*mutable_info(w).lumenInfo, row);
  for (int i = 0; i < w.info.magCount && i < SB_MAX_MAGS; ++i) {
    put_keyword(w, row.name);
    put_value(w, i);
    put_value(w, table[i][0], Fmt{'g', 3});
    put_value(w, table[i][1], Fmt{'g', 3});
    end_line(w);
  }
}

void put_days(Writer& w, int32_t t) {
  w.out += "  ";
  put_int(w.out, t / 86400);
  for (int part : {t / 3600 % 24, t / 60 % 60, t % 60}) {
    w.out += part < 10 ? ":0" : ":";
    put_int(w.out, part);
  }
}

void read_lumen_zero_gage(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  rd_time(r, kDhms, 8640000, [&r](int32_t seconds) { r.info.lumenInfo->zeroGagePeriod = seconds; });
}

void write_lumen_zero_gage(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_days(w, w.info.lumenInfo->zeroGagePeriod);
  end_line(w);
}

void read_lumen_temperature(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  const int parts =
      rd_time(r, kDhms, 8640000, [&r](int32_t seconds) { r.info.lumenInfo->tempPeriod = seconds; });
  if (parts != 4 || !optional_number(r)) return;
  const double v = rd_real(r, 0, 5);
  if (r.status == 0) r.info.lumenInfo->tempValue = v;
}

void write_lumen_temperature(Writer& w, const Line& row) {
  put_keyword(w, row.name);
  put_days(w, w.info.lumenInfo->tempPeriod);
  w.out += "   ";
  put_num(w.out, w.info.lumenInfo->tempValue, Fmt{'f', 2});
  end_line(w);
}

bool lumen_log_limits_set(const sb_lumen_info_t& l) { return l.logLimit1 != 1000000 || l.logLimit2 != 500000; }

void read_lumen_log(Reader& r, const Line&) {
  if (!make(r, r.info.lumenInfo)) return;
  sb_lumen_info_t& l = *r.info.lumenInfo;
  std::string name = rd_word(r);
  if (r.status != 0) return;
  l.logFile = std::move(name);
  for (int32_t* limit : {&l.logLimit1, &l.logLimit2}) {
    if (!optional_number(r)) return;
    const double v = rd_real(r, 0, 2147483647);
    if (r.status != 0) return;
    *limit = static_cast<int32_t>(v);
  }
}

void write_lumen_log(Writer& w, const Line& row) {
  const sb_lumen_info_t& l = *w.info.lumenInfo;
  put_keyword(w, row.name);
  put_value_text(w, l.logFile);
  if (lumen_log_limits_set(l)) {
    put_value(w, l.logLimit1);
    put_value(w, l.logLimit2);
  }
  end_line(w);
}

void read_remote(Reader& r, const Line&);

// ------------------------------------------------------------ the table

// Accessors of the fields of listed lines.
Ref f_unit(sysInfo_t& s, int) { return &s.unit; }
Ref f_instr_name(sysInfo_t& s, int) { return &s.instrName; }
Ref f_instr_comm(sysInfo_t& s, int) { return &s.instrComm; }
Ref f_camera_dark(sysInfo_t& s, int) { return &s.cameraDark; }
Ref f_camera_options(sysInfo_t& s, int) { return &s.cameraOptions; }
Ref f_camera_pll(sysInfo_t& s, int) { return &s.pllFlag; }
Ref f_ramp_config(sysInfo_t& s, int) { return &s.rampConfigFile; }
Ref f_llc_target(sysInfo_t& s, int) { return &s.llcTarget; }
Ref f_llc_freq(sysInfo_t& s, int) { return &s.lightSource[0].freq; }
Ref f_llc_options(sysInfo_t& s, int) { return &s.llcOptions; }
Ref f_pzt_power(sysInfo_t& s, int) { return &s.pztPower; }
Ref f_adc_clock(sysInfo_t& s, int) { return &s.adcClock; }
Ref f_pifoc_polarity(sysInfo_t& s, int) { return &s.pifocPolarity; }
Ref f_pifoc_type(sysInfo_t& s, int) { return &s.pifoc->type; }
Ref f_scan_cal(sysInfo_t& s, int i) { return &s.scanCal[i]; }
Ref f_zoom(sysInfo_t& s, int) { return &s.zoom; }
Ref f_use_dual_brush(sysInfo_t& s, int) { return &s.useDualBrushMotor; }
Ref f_use_laps(sysInfo_t& s, int) { return &s.useLaps; }
Ref f_use_wand(sysInfo_t& s, int) { return &s.useWand; }
Ref f_use_focus_ndw(sysInfo_t& s, int) { return &s.useFocusNdw; }
Ref f_use_zoom(sysInfo_t& s, int) { return &s.useZoom; }
Ref f_use_pzt(sysInfo_t& s, int) { return &s.usePzt; }
Ref f_ring_spot(sysInfo_t& s, int) { return &s.ringSpot; }
Ref f_diff_disk_rate(sysInfo_t& s, int) { return &s.diffDiskRate; }
Ref f_diff_disk_fraction(sysInfo_t& s, int) { return &s.diffDiskFraction; }
Ref f_x_backlash(sysInfo_t& s, int) { return Ref::single(&s.xAxisBacklash); }
Ref f_y_backlash(sysInfo_t& s, int) { return Ref::single(&s.yAxisBacklash); }
Ref f_z_cal(sysInfo_t& s, int) { return &s.zAxisCal; }
Ref f_z_backlash(sysInfo_t& s, int) { return Ref::single(&s.zAxisBacklash); }
Ref f_z_encoder(sysInfo_t& s, int) { return &s.zEncoder; }
Ref f_z_can_closed_loop(sysInfo_t& s, int) { return &s.zCanClosedLoop; }
Ref f_rad_foc(sysInfo_t& s, int) { return &s.radCrvFocCal; }
Ref f_rad_pwr(sysInfo_t& s, int) { return &s.radCrvPwrCal; }
Ref f_invert_data(sysInfo_t& s, int) { return &s.invertData; }
Ref f_no_intens_avg(sysInfo_t& s, int) { return &s.noIntensAvg; }
Ref f_touch_screen(sysInfo_t& s, int) { return &s.touchScreen; }
Ref f_motion_ctrl(sysInfo_t& s, int i) { return &s.motionCtrl[i]; }
Ref f_pendent_menu(sysInfo_t& s, int) { return &s.pendentMenu; }
Ref f_wm_comm(sysInfo_t& s, int) { return &s.wmComm; }
Ref f_wm_sys_gain(sysInfo_t& s, int) { return &s.wmSysGain; }
Ref f_wm_mon_opd(sysInfo_t& s, int) { return &s.wmMonOpd; }
Ref f_wm_tune_range(sysInfo_t& s, int i) { return i == 0 ? &s.wmTuneRangeMax : &s.wmTuneRangeMin; }
Ref f_wm_tune_rate(sysInfo_t& s, int i) { return i == 0 ? &s.wmTuneRateMax : &s.wmTuneRateMin; }
Ref f_lumensi_invert(sysInfo_t& s, int) { return &s.lumensiInvertData; }
Ref f_abs_wave_meter(sysInfo_t& s, int i) { return i == 0 ? Ref(&s.absWaveMeter) : Ref(&s.absWaveMeterText); }
Ref f_zoom_config(sysInfo_t& s, int) { return &s.encZoom->config; }
Ref f_zoom_backlash(sysInfo_t& s, int) { return &s.encZoom->backlash; }
Ref f_zoom_prog_lim(sysInfo_t& s, int i) { return &s.encZoom->progLim[i]; }
Ref f_zoom_wand_lim(sysInfo_t& s, int i) { return &s.encZoom->wandLim[i]; }
Ref f_zoom_cal_file(sysInfo_t& s, int) { return &s.encZoom->calFile; }
Ref f_lumen_materials(sysInfo_t& s, int) { return &s.lumenInfo->materialsFile; }
Ref f_lumen_sys(sysInfo_t& s, int i) { return &s.lumenInfo->sysConst[i]; }
Ref f_lumen_dmi_scale(sysInfo_t& s, int) { return &s.lumenInfo->dmiScale; }
Ref f_lumen_image_rot(sysInfo_t& s, int) { return &s.lumenInfo->imageRot; }
template <int Axis>
Ref f_axis_comp(sysInfo_t& s, int) { return &s.axisCompFile[Axis]; }

// Write conditions.
bool always(const sysInfo_t&) { return true; }
bool w_instr_name(const sysInfo_t& s) { return !s.instrName.empty(); }
bool w_unit(const sysInfo_t& s) { return s.unit != 0; }
bool w_mac(const sysInfo_t& s) { return s.instrBdType == BD_CAN; }
// Boards that must name their link get the line even with an empty text
// (written as ""), which the validation counts as given.
bool w_instr_comm(const sysInfo_t& s) {
  return s.instrBdType != BD_CAN &&
         (!s.instrComm.empty() || !is_one_of(s.instrBdType, {BD_NONE, BD_DUNE, BD_NOTNEEDED}));
}
// Lines of several values are written when any of them is set: a first
// value left empty ("") must not take the others with it.
bool w_camera_file(const sysInfo_t& s) {
  return std::any_of(std::begin(s.cameraFile), std::end(s.cameraFile), [](const std::string& f) { return !f.empty(); });
}
bool w_camera_config(const sysInfo_t& s) {
  return s.cameraType == CAM_CUSTOM && is_one_of(s.instrBdType, {BD_SABLE, BD_LUMEN, BD_KITE, BD_IRIS});
}
bool w_camera_dark(const sysInfo_t& s) { return s.cameraDark > 0; }
bool w_camera_align(const sysInfo_t& s) { return s.cameraAlign != 0; }
bool w_camera_bpix(const sysInfo_t& s) {
  return bad_pixel_count(s) == 0 && (s.badPixelMode != 0 || !s.badPixelFile.empty());
}
bool w_bad_pixels(const sysInfo_t& s) { return bad_pixel_count(s) > 0; }
bool w_camera_options(const sysInfo_t& s) { return s.cameraOptions != 0; }
bool w_ramp_config(const sysInfo_t& s) { return !s.rampConfigFile.empty() && s.rampConfigFile != SB_DEFAULT_RAMP_CONFIG; }
bool w_llc_instr(const sysInfo_t& s) { return s.llcInstr != 0; }
bool w_llc_freq(const sysInfo_t& s) { return s.lightType == LIGHT_LED || s.lightSource[0].freq != 35000; }
bool w_llc_options(const sysInfo_t& s) { return s.llcOptions != 0; }
bool w_pzt_power(const sysInfo_t& s) { return s.pztPower >= 0; }
bool w_adc_clock(const sysInfo_t& s) { return s.adcClock != 0; }
bool w_pifoc(const sysInfo_t& s) { return s.pifoc != nullptr; }
bool w_pifoc_polarity(const sysInfo_t& s) { return s.pifocPolarity != 0; }
bool w_pifoc_type(const sysInfo_t& s) { return s.pifoc->type != 0; }
bool w_split(const sysInfo_t& s) { return s.splitAxis == SPLIT_X || s.splitAxis == SPLIT_Y; }
bool w_lumen_materials(const sysInfo_t& s) { return lumen_block(s) && !s.lumenInfo->materialsFile.empty(); }
bool w_lumen_log(const sysInfo_t& s) {
  return lumen_block(s) && (!s.lumenInfo->logFile.empty() || lumen_log_limits_set(*s.lumenInfo));
}
bool w_turret(const sysInfo_t& s) { return s.turret != 0 || s.turret2 != 5; }
bool w_zoom(const sysInfo_t& s) { return s.zoom != 0; }
bool w_no_dual_brush(const sysInfo_t& s) { return s.useDualBrushMotor == 0; }
bool w_no_laps(const sysInfo_t& s) { return s.useLaps == 0; }
bool w_no_wand(const sysInfo_t& s) { return s.useWand == 0; }
bool w_no_focus_ndw(const sysInfo_t& s) { return s.useFocusNdw == 0; }
bool w_no_zoom(const sysInfo_t& s) { return s.useZoom == 0; }
bool w_no_pzt(const sysInfo_t& s) { return s.usePzt == 0; }
bool w_ring_spot(const sysInfo_t& s) { return s.ringSpot == 1; }
bool w_diff_disk_rate(const sysInfo_t& s) { return s.diffDiskRate != -1; }
bool w_diff_disk_fraction(const sysInfo_t& s) { return s.diffDiskFraction != 0.85f; }
bool w_x_backlash(const sysInfo_t& s) { return s.xAxisBacklash != 0; }
bool w_y_backlash(const sysInfo_t& s) { return s.yAxisBacklash != 0; }
bool w_z_cal(const sysInfo_t& s) { return s.zAxisCal != 0 && s.zAxisCal != 1; }
bool w_z_backlash(const sysInfo_t& s) { return s.zAxisBacklash != 5; }
bool w_z_encoder(const sysInfo_t& s) { return s.zEncoder != 0; }
bool w_z_can_closed_loop(const sysInfo_t& s) { return s.zCanClosedLoop != 0; }
bool w_rad_foc(const sysInfo_t& s) { return s.systemType == SYS_EMBER || s.radCrvFocCal != 1.0f; }
bool w_rad_pwr(const sysInfo_t& s) { return s.systemType == SYS_EMBER || s.radCrvPwrCal != 1.0f; }
bool w_invert_data(const sysInfo_t& s) {
  return s.invertData != 0 || is_one_of(s.systemType, {SYS_DUNE, SYS_LUMEN, SYS_EMBER});
}
bool w_no_intens_avg(const sysInfo_t& s) { return s.noIntensAvg != 0; }
bool w_touch_screen(const sysInfo_t& s) { return s.touchScreen != 0; }
bool w_motion_ctrl(const sysInfo_t& s) { return !s.motionCtrl[0].empty() || !s.motionCtrl[1].empty(); }
bool w_pos_instr(const sysInfo_t& s) { return s.posInstr != 0; }
bool w_temp_sensor(const sysInfo_t& s) { return s.tempSensor != 0; }
bool w_pendent_menu(const sysInfo_t& s) { return !s.pendentMenu.empty(); }
template <int Axis>
bool w_axis_comp(const sysInfo_t& s) { return !s.axisCompFile[Axis].empty(); }
template <int Axis>
bool w_pid(const sysInfo_t& s) { return s.pid[Axis] != nullptr; }
bool w_wm_comm(const sysInfo_t& s) {
  return !s.wmComm.empty() || s.systemType == SYS_HERON || s.systemType == SYS_HERON_CAN;
}
bool w_wm_sys_gain(const sysInfo_t& s) { return s.wmSysGain > 0; }
bool w_wm_mon_opd(const sysInfo_t& s) {
  return s.wmMonOpd > 0 || s.systemType == SYS_HERON || s.systemType == SYS_HERON_CAN;
}
// A maximum of 0 given with a minimum is kept too.
bool w_wm_tune_range(const sysInfo_t& s) {
  return std::isfinite(s.wmTuneRangeMax) && (s.wmTuneRangeMax > 0 || s.wmTuneRangeMin != 0);
}
bool w_wm_tune_rate(const sysInfo_t& s) {
  return std::isfinite(s.wmTuneRateMax) && (s.wmTuneRateMax > 0 || s.wmTuneRateMin != 0);
}
bool w_lumensi_invert(const sysInfo_t& s) { return s.lumensiInvertData != 0; }
bool w_abs_wave_meter(const sysInfo_t& s) { return s.absWaveMeter != 0 || !s.absWaveMeterText.empty(); }
bool w_dyn_wave_gen(const sysInfo_t& s) { return s.dynWaveGen != nullptr; }
bool w_zoom_backlash(const sysInfo_t& s) { return s.encZoom->backlash != 0; }
bool w_zoom_prog_lim(const sysInfo_t& s) { return s.encZoom->progLim[0] > 0 || s.encZoom->progLim[1] > 0; }
bool w_zoom_wand_lim(const sysInfo_t& s) { return s.encZoom->wandLim[0] > 0 || s.encZoom->wandLim[1] > 0; }
bool w_zoom_std_mags(const sysInfo_t& s) { return s.encZoom->stdMagCount > 0; }
bool w_zoom_cal_file(const sysInfo_t& s) { return !s.encZoom->calFile.empty(); }
bool w_sleep_timeout(const sysInfo_t& s) { return s.sleepTimeout != 14400; }

constexpr Num kWmValue = R(0, 2147483647, kF);
constexpr Num kTune = R(0, 2147483647, kF3).scaled(1e9);

// Every line, in the order the writer writes them. Lines the writer never
// writes stand where they belong by topic.
const Line kLines[] = {
    {.name = "# Trel System Calibration File", .when = always},
    {.name = "InstrName", .first = TOK_INSTRNAME, .nums = {W()}, .field = f_instr_name, .when = w_instr_name,
     .write = write_instr_name},
    {.name = "Unit", .first = TOK_UNIT, .nums = {I(0, 7)}, .field = f_unit, .when = w_unit},
    // The system line begins with its system type word (see apply_rule).
    {.name = "", .when = always, .write = write_system},
    {.name = "Version", .first = TOK_VERSION, .seen = SEEN_VERSION, .when = always, .read = read_version,
     .write = write_version},
    {.name = "MacAddress", .first = TOK_MACADDRESS, .seen = SEEN_INSTRCOMM, .when = w_mac,
     .read = read_mac_address, .write = write_mac_address},
    {.name = "InstrComm", .first = TOK_INSTRCOMM, .nums = {W()}, .field = f_instr_comm, .seen = SEEN_INSTRCOMM,
     .when = w_instr_comm},
    {.name = "Camera Type", .first = TOK_CAMERA, .second = TOK_TYPE, .when = always, .read = read_camera_type,
     .write = write_camera_type},
    {.name = "Camera File", .first = TOK_CAMERA, .second = TOK_FILE, .when = w_camera_file,
     .read = read_camera_file, .write = write_camera_file},
    {.name = "Camera Config", .first = TOK_CAMERA, .second = TOK_CONFIG, .when = w_camera_config,
     .read = read_camera_config, .write = write_camera_config},
    {.name = "Camera Dark", .first = TOK_CAMERA, .second = TOK_DARK, .nums = {I(0, 32767)},
     .field = f_camera_dark, .when = w_camera_dark},
    {.name = "Camera Align", .first = TOK_CAMERA, .second = TOK_ALIGN, .when = w_camera_align,
     .read = read_camera_align, .write = write_camera_align},
    {.name = "Camera Bpix", .first = TOK_CAMERA, .second = TOK_BPIX, .when = w_camera_bpix,
     .read = read_camera_bpix, .write = write_camera_bpix},
    {.name = "Camera BPixels", .first = TOK_CAMERA, .second = TOK_BAD, .second_alt = TOK_BPIXELS,
     .when = w_bad_pixels, .read = read_bad_pixels, .write = write_bad_pixels},
    {.name = "Camera Options", .first = TOK_CAMERA, .second = TOK_OPTIONS, .nums = {I(0, 268435455)},
     .field = f_camera_options, .when = w_camera_options},
    {.name = "Camera PLL", .first = TOK_CAMERA, .second = TOK_PLL, .nums = {I(0, 1)}, .field = f_camera_pll},
    {.name = "Camera Period", .first = TOK_CAMERA, .second = TOK_PERIOD},
    {.name = "Ramp Config", .first = TOK_RAMP, .second = TOK_CONFIG, .nums = {W()}, .field = f_ramp_config,
     .when = w_ramp_config},
    {.name = "Light", .first = TOK_LIGHT, .when = always, .read = read_light, .write = write_light},
    {.name = "LLC Instr", .first = TOK_LLC, .second = TOK_INSTR, .when = w_llc_instr, .read = read_llc_instr,
     .write = write_llc_instr},
    {.name = "LLC Range", .first = TOK_LLC, .second = TOK_RANGE, .when = always, .read = read_llc_range,
     .write = write_llc_range},
    {.name = "LLC Config", .first = TOK_LLC, .second = TOK_CONFIG, .when = always, .read = read_llc_config,
     .write = write_llc_config},
    {.name = "LLC Freq", .first = TOK_LLC, .second = TOK_FREQ, .nums = {I(0, 1000000)}, .field = f_llc_freq,
     .when = w_llc_freq, .read = read_llc_freq},
    {.name = "LLC Target", .first = TOK_LLC, .second = TOK_TARGET, .nums = {I(64, 255)}, .field = f_llc_target,
     .seen = SEEN_LLCTARGET, .when = writes_llc_target},
    {.name = "LLC Options", .first = TOK_LLC, .second = TOK_OPTIONS, .nums = {I(0, 268435455)},
     .field = f_llc_options, .when = w_llc_options},
    {.name = "LLC AvgCurLimit", .first = TOK_LLC, .second = TOK_AVGCURLIMIT, .when = always,
     .read = read_llc_pairs, .write = write_llc_pairs},
    {.name = "LLC FwdVoltage", .first = TOK_LLC, .second = TOK_FWDVOLTAGE, .when = always,
     .read = read_llc_pairs, .write = write_llc_pairs},
    {.name = "LLC AlignModePct", .first = TOK_LLC, .second = TOK_ALIGNMODEPCT, .read = read_llc_align},
    {.name = "PztPwr", .first = TOK_PZTPWR, .nums = {I(-1, 1000)}, .field = f_pzt_power, .when = w_pzt_power},
    {.name = "ADC Clock", .first = TOK_ADC, .second = TOK_CLOCK, .nums = {I(0, 511)}, .field = f_adc_clock,
     .when = w_adc_clock},
    {.name = "Pifoc", .first = TOK_PIFOC, .seen = SEEN_PIFOC, .when = w_pifoc, .read = read_pifoc,
     .write = write_pifoc},
    {.name = "PztId", .first = TOK_PZTID, .seen = SEEN_PIFOC, .read = read_pztid},
    {.name = "PifocPolarity", .first = TOK_PIFOCPOLARITY, .nums = {I(-1, 1)}, .field = f_pifoc_polarity,
     .when = w_pifoc_polarity},
    {.name = "PifocType", .first = TOK_PIFOCTYPE, .nums = {I(0, 2)}, .field = f_pifoc_type,
     .owner = Owner::pifoc, .when = w_pifoc_type},
    {.name = "SysMag", .first = TOK_SYSMAG, .when = always, .read = read_mags, .write = write_mags},
    {.name = "NomMag", .first = TOK_NOMMAG, .when = always, .read = read_mags, .write = write_mags},
    {.name = "Camera SplitX", .first = TOK_CAMERA, .second = TOK_SPLITX, .when = w_split, .read = read_split,
     .write = write_split},
    {.name = "Camera SplitY", .first = TOK_CAMERA, .second = TOK_SPLITY, .when = w_split, .read = read_split,
     .write = write_split},
    {.name = "Camera Trans", .first = TOK_CAMERA, .second = TOK_TRANS, .when = w_split,
     .read = read_camera_trans, .write = write_camera_trans},
    // The Lumen block.
    {.name = "LumenMaterials", .first = TOK_LUMENMATERIALS, .nums = {W()}, .field = f_lumen_materials,
     .owner = Owner::lumen, .when = w_lumen_materials},
    {.name = "LumenSys", .first = TOK_LUMENSYS,
     .nums = {R(0, 1, kG8), R(0, 1, kG8), R(-1, 1, kG8), R(0, 10, kG8)}, .field = f_lumen_sys,
     .owner = Owner::lumen, .when = lumen_sys_finite},
    {.name = "LumenDmiScale", .first = TOK_LUMENDMISCALE, .nums = {R(1.5, 2.5, kG8)},
     .field = f_lumen_dmi_scale, .owner = Owner::lumen, .when = lumen_block},
    {.name = "LumenImageRot", .first = TOK_LUMENIMAGEROT, .nums = {R(0, 1, kG8)},
     .field = f_lumen_image_rot, .owner = Owner::lumen, .when = lumen_block},
    {.name = "LumenZeroPtPos", .first = TOK_LUMENZEROPTPOS, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_zero_pt, .write = write_lumen_zero_pt},
    {.name = "LumenDisper", .first = TOK_LUMENDISPER, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_values, .write = write_lumen_values},
    {.name = "LumenAvg_K0", .first = TOK_LUMENAVG_K0, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_values, .write = write_lumen_values},
    {.name = "LumenDmiCenter", .first = TOK_LUMENDMICENTER, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_centre, .write = write_lumen_centre},
    {.name = "LumenTiltCenter", .first = TOK_LUMENTILTCENTER, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_centre, .write = write_lumen_centre},
    {.name = "LumenZeroGagePer", .first = TOK_LUMENZEROGAGEPER, .first_alt = TOK_LUMENSYSINITPER,
     .owner = Owner::lumen, .when = lumen_block, .read = read_lumen_zero_gage, .write = write_lumen_zero_gage},
    {.name = "LumenTemperature", .first = TOK_LUMENTEMPERATURE, .owner = Owner::lumen, .when = lumen_block,
     .read = read_lumen_temperature, .write = write_lumen_temperature},
    {.name = "LumenLog", .first = TOK_LUMENLOG, .owner = Owner::lumen, .when = w_lumen_log,
     .read = read_lumen_log, .write = write_lumen_log},
    {.name = "ScanCal", .first = TOK_SCANCAL, .nums = {R(0.85, 1.15), R(0.85, 1.15).opt()}, .field = f_scan_cal,
     .when = always, .write = write_scan_cal},
    {.name = "Turret", .first = TOK_TURRET, .when = w_turret, .read = read_turret, .write = write_turret},
    {.name = "Zoom", .first = TOK_ZOOM, .nums = {I(0, 255)}, .field = f_zoom, .when = w_zoom},
    {.name = "IgnoreDualBrushMotor", .first = TOK_IGNOREDUALBRUSHMOTOR, .field = f_use_dual_brush,
     .when = w_no_dual_brush, .flag = 0},
    {.name = "IgnoreLAPS", .first = TOK_IGNORELAPS, .field = f_use_laps, .when = w_no_laps, .flag = 0},
    {.name = "IgnoreWand", .first = TOK_IGNOREWAND, .field = f_use_wand, .when = w_no_wand, .flag = 0},
    {.name = "IgnoreFocusNDW", .first = TOK_IGNOREFOCUSNDW, .field = f_use_focus_ndw, .when = w_no_focus_ndw,
     .flag = 0},
    {.name = "IgnoreZoom", .first = TOK_IGNOREZOOM, .field = f_use_zoom, .when = w_no_zoom, .flag = 0},
    {.name = "IgnorePZT", .first = TOK_IGNOREPZT, .field = f_use_pzt, .when = w_no_pzt, .flag = 0},
    {.name = "RingSpot", .first = TOK_RINGSPOT, .field = f_ring_spot, .when = w_ring_spot,
     .read = read_ring_spot},
    {.name = "DiffDiskRate", .first = TOK_DIFFDISKRATE, .nums = {R(10, 80)}, .field = f_diff_disk_rate,
     .when = w_diff_disk_rate},
    {.name = "DiffDiskFraction", .first = TOK_DIFFDISKFRACTION, .nums = {R(0, 2).open_below()},
     .field = f_diff_disk_fraction, .when = w_diff_disk_fraction},
    {.name = "XAxisBacklash", .first = TOK_XAXISBACKLASH, .nums = {R(0, 1000)}, .field = f_x_backlash,
     .when = w_x_backlash},
    {.name = "YAxisBacklash", .first = TOK_YAXISBACKLASH, .nums = {R(0, 1000)}, .field = f_y_backlash,
     .when = w_y_backlash},
    {.name = "ZAxisCal", .first = TOK_ZAXISCAL, .nums = {R(0.85, 1.15)}, .field = f_z_cal, .when = w_z_cal},
    {.name = "ZAxisBacklash", .first = TOK_ZAXISBACKLASH, .nums = {R(0, 100)}, .field = f_z_backlash,
     .when = w_z_backlash},
    {.name = "ZEncoder", .first = TOK_ZENCODER, .nums = {I(0, 1)}, .field = f_z_encoder, .when = w_z_encoder},
    {.name = "ZCanClosedLoop", .first = TOK_ZCANCLOSEDLOOP, .nums = {I(0, 1)}, .field = f_z_can_closed_loop,
     .when = w_z_can_closed_loop},
    {.name = "SdcCal", .first = TOK_SDCCAL, .when = always, .read = read_sdc_cal, .write = write_sdc_cal},
    {.name = "RadCrvFocCal", .first = TOK_RADCRVFOCCAL, .nums = {R(-100, 100)}, .field = f_rad_foc,
     .when = w_rad_foc},
    {.name = "RadCrvPwrCal", .first = TOK_RADCRVPWRCAL, .nums = {R(-100, 100)}, .field = f_rad_pwr,
     .when = w_rad_pwr},
    {.name = "InvertData", .first = TOK_INVERTDATA, .nums = {I(0, 255)}, .field = f_invert_data,
     .seen = SEEN_INVERTDATA, .when = w_invert_data},
    {.name = "NoIntensAvg", .first = TOK_NOINTENSAVG, .field = f_no_intens_avg, .when = w_no_intens_avg,
     .flag = 1},
    {.name = "TouchScreen", .first = TOK_TOUCHSCREEN, .field = f_touch_screen, .when = w_touch_screen,
     .flag = 1},
    {.name = "MotionCtrl", .first = TOK_MOTIONCTRL, .nums = {W(), W()}, .field = f_motion_ctrl,
     .when = w_motion_ctrl},
    {.name = "PosInstr", .first = TOK_POSINSTR, .when = w_pos_instr, .read = read_pos_instr,
     .write = write_pos_instr},
    {.name = "TempSensor", .first = TOK_TEMPSENSOR, .when = w_temp_sensor, .read = read_temp_sensor,
     .write = write_temp_sensor},
    {.name = "PendentMenu", .first = TOK_PENDENTMENU, .nums = {W()}, .field = f_pendent_menu,
     .when = w_pendent_menu},
    {.name = "AxisComp_A", .first = TOK_AXISCOMP_A, .nums = {W()}, .field = f_axis_comp<0>, .when = w_axis_comp<0>},
    {.name = "AxisComp_B", .first = TOK_AXISCOMP_B, .nums = {W()}, .field = f_axis_comp<1>, .when = w_axis_comp<1>},
    {.name = "AxisComp_P", .first = TOK_AXISCOMP_P, .nums = {W()}, .field = f_axis_comp<2>, .when = w_axis_comp<2>},
    {.name = "AxisComp_R", .first = TOK_AXISCOMP_R, .nums = {W()}, .field = f_axis_comp<3>, .when = w_axis_comp<3>},
    {.name = "AxisComp_T", .first = TOK_AXISCOMP_T, .nums = {W()}, .field = f_axis_comp<4>, .when = w_axis_comp<4>},
    {.name = "AxisComp_X", .first = TOK_AXISCOMP_X, .nums = {W()}, .field = f_axis_comp<5>, .when = w_axis_comp<5>},
    {.name = "AxisComp_Y", .first = TOK_AXISCOMP_Y, .nums = {W()}, .field = f_axis_comp<6>, .when = w_axis_comp<6>},
    {.name = "AxisComp_Z", .first = TOK_AXISCOMP_Z, .nums = {W()}, .field = f_axis_comp<7>, .when = w_axis_comp<7>},
    {.name = "PidVals_A", .first = TOK_PIDVALS_A, .when = w_pid<0>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_B", .first = TOK_PIDVALS_B, .when = w_pid<1>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_P", .first = TOK_PIDVALS_P, .when = w_pid<2>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_R", .first = TOK_PIDVALS_R, .when = w_pid<3>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_T", .first = TOK_PIDVALS_T, .when = w_pid<4>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_X", .first = TOK_PIDVALS_X, .when = w_pid<5>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_Y", .first = TOK_PIDVALS_Y, .when = w_pid<6>, .read = read_pid, .write = write_pid},
    {.name = "PidVals_Z", .first = TOK_PIDVALS_Z, .when = w_pid<7>, .read = read_pid, .write = write_pid},
    {.name = "wmComm", .first = TOK_WMCOMM, .nums = {W()}, .field = f_wm_comm, .seen = SEEN_WMCOMM,
     .when = w_wm_comm},
    {.name = "wmSysGain", .first = TOK_WMSYSGAIN, .nums = {kWmValue}, .field = f_wm_sys_gain,
     .seen = SEEN_WMSYSGAIN, .when = w_wm_sys_gain},
    {.name = "wmMonOPD", .first = TOK_WMMONOPD, .nums = {kWmValue}, .field = f_wm_mon_opd,
     .seen = SEEN_WMMONOPD, .when = w_wm_mon_opd},
    {.name = "wmTuneRange", .first = TOK_WMTUNERANGE, .nums = {kTune, kTune.must_follow()},
     .field = f_wm_tune_range, .when = w_wm_tune_range},
    {.name = "wmTuneRate", .first = TOK_WMTUNERATE, .nums = {kTune, kTune.must_follow()},
     .field = f_wm_tune_rate, .when = w_wm_tune_rate},
    {.name = "wmMaxBuckets", .first = TOK_WMMAXBUCKETS, .read = read_max_buckets},
    {.name = "LumensiInvertData", .first = TOK_LUMENSIINVERTDATA, .nums = {I(0, 255)},
     .field = f_lumensi_invert, .when = w_lumensi_invert},
    {.name = "AbsWaveMeter", .first = TOK_ABSWAVEMETER, .nums = {I(0, 1), W()}, .field = f_abs_wave_meter,
     .when = w_abs_wave_meter},
    {.name = "DynWaveGen", .first = TOK_DYNWAVEGEN, .when = w_dyn_wave_gen, .read = read_dyn_wave_gen,
     .write = write_dyn_wave_gen},
    {.name = "KiteEncZoomConfig", .first = TOK_KITEENCZOOMCONFIG, .nums = {I(0, 255)}, .field = f_zoom_config,
     .owner = Owner::enc_zoom, .when = always},
    {.name = "KiteEncZoomBacklash", .first = TOK_KITEENCZOOMBACKLASH, .nums = {I(-1000, 1000)},
     .field = f_zoom_backlash, .owner = Owner::enc_zoom, .when = w_zoom_backlash},
    {.name = "KiteEncZoomProgLim", .first = TOK_KITEENCZOOMPROGLIM, .nums = {I(0, 60000), I(0, 60000)},
     .field = f_zoom_prog_lim, .owner = Owner::enc_zoom, .when = w_zoom_prog_lim},
    {.name = "KiteEncZoomWandLim", .first = TOK_KITEENCZOOMWANDLIM, .nums = {I(0, 60000), I(0, 60000)},
     .field = f_zoom_wand_lim, .owner = Owner::enc_zoom, .when = w_zoom_wand_lim},
    {.name = "KiteEncZoomStdMags", .first = TOK_KITEENCZOOMSTDMAGS, .owner = Owner::enc_zoom,
     .when = w_zoom_std_mags, .read = read_std_mags, .write = write_std_mags},
    {.name = "KiteEncZoomCalFile", .first = TOK_KITEENCZOOMCALFILE, .nums = {W()}, .field = f_zoom_cal_file,
     .owner = Owner::enc_zoom, .when = w_zoom_cal_file},
    {.name = "EncodedRadiusScale", .first = TOK_ENCODEDRADIUSSCALE, .when = always, .read = read_radius_scale,
     .write = write_radius_scale},
    {.name = "IntfRadiusScale", .first = TOK_INTFRADIUSSCALE, .when = always, .read = read_radius_scale,
     .write = write_radius_scale},
    {.name = "Remote", .first = TOK_REMOTE, .read = read_remote},
    {.name = "SleepTimeout", .first = TOK_SLEEPTIMEOUT, .when = w_sleep_timeout, .read = read_sleep_timeout,
     .write = write_sleep_timeout},
};

std::string& remote_text() {
  static std::string text;
  return text;
}

void read_remote(Reader& r, const Line&) {
  std::string text = rd_word(r);
  if (r.status == 0) remote_text() = std::move(text);
}

bool matches(int32_t token, int32_t a, int32_t b) { return token >= 0 && (token == a || token == b); }

void apply(Reader& r, const Line& row) {
  if (row.read != nullptr) {
    row.read(r, row);
  } else {
    read_listed(r, row);
  }
  if (r.status == 0) r.seen |= row.seen;
}

}  // namespace

void apply_rule(Reader& r, int32_t first) {
  if (value_of(kSystemTypes, first)) {
    read_system(r, first);
    return;
  }
  const Line* found = nullptr;
  bool two_words = false;
  for (const Line& row : kLines) {
    if (!matches(first, row.first, row.first_alt)) continue;
    if (row.second < 0) {
      found = &row;
      break;
    }
    two_words = true;
  }
  if (two_words) {
    const int32_t second = sb_readKeyword(r.src, &r.status);
    if (r.status != 0) return;  // a word not in the table, reported
    if (second == TOK_EOL || second == TOK_EOF) {
      fail(r, kSyntax, second == TOK_EOL ? "Unexpected end-of-line." : "Unexpected end-of-file.");
      return;
    }
    for (const Line& row : kLines) {
      if (matches(first, row.first, row.first_alt) && matches(second, row.second, row.second_alt)) {
        found = &row;
        break;
      }
    }
  }
  if (found == nullptr) {
    fail(r, kSyntax, "Unexpected token.");
    return;
  }
  apply(r, *found);
}

namespace {

bool writes(const sysInfo_t& s, const Line& row) {
  return row.when != nullptr && has_owner(s, row.owner) && row.when(s);
}

void write_row(Writer& w, const Line& row) {
  if (row.write != nullptr) {
    row.write(w, row);
  } else {
    write_listed(w, row);
  }
}

// The values of a line without the padding of the keyword field: blanks at
// either end go, longer runs of blanks become the usual two (not inside a
// quoted text).
std::string values_text(std::string_view line) {
  std::string out;
  bool quoted = false;
  std::size_t blanks = 0;
  for (char c : line) {
    if (c == ' ' && !quoted) {
      ++blanks;
      continue;
    }
    if (!out.empty()) out.append(std::min<std::size_t>(blanks, 2), ' ');
    blanks = 0;
    if (c == '"') quoted = !quoted;
    out.push_back(c);
  }
  return out;
}

}  // namespace

void write_lines(Writer& w) {
  for (const Line& row : kLines) {
    if (writes(w.info, row)) write_row(w, row);
  }
}

std::vector<ShownLine> shown_lines(const sysInfo_t& s) {
  std::vector<ShownLine> shown;
  for (const Line& row : kLines) {
    // The heading comment holds no value.
    if (row.name.starts_with('#') || !writes(s, row)) continue;
    Writer w{s, {}, 0};
    write_row(w, row);
    std::string_view text = w.out;
    while (!text.empty()) {
      const std::size_t end = std::min(text.find('\n'), text.size());
      std::string_view line = text.substr(0, end);
      text.remove_prefix(std::min(end + 1, text.size()));
      // The writer ends lines as the platform does.
      if (line.ends_with('\r')) line.remove_suffix(1);
      // The system line begins with its system type word, a value.
      const std::string_view keyword = row.name.empty() ? "System" : row.name;
      if (!row.name.empty() && line.starts_with(row.name)) line.remove_prefix(row.name.size());
      shown.push_back({std::string(keyword), values_text(line)});
    }
  }
  return shown;
}

std::vector<LineView> listed_lines() {
  std::vector<LineView> views;
  for (const Line& row : kLines) {
    if (row.read != nullptr || row.count() == 0 || row.first < 0) continue;
    LineView v{row.name, {}, row.when != nullptr};
    for (int i = 0; i < row.count(); ++i) {
      const Num& n = row.nums[static_cast<std::size_t>(i)];
      v.values.push_back({n.kind == Kind::integer, n.kind == Kind::word, n.lo, n.hi, n.lo_open, n.hi_open, n.optional});
    }
    views.push_back(std::move(v));
  }
  return views;
}

std::string_view camera_type_name(int32_t type) { return name_of(kCameras, type); }

}  // namespace felbrin::cal

const std::string& sb_remoteText() { return felbrin::cal::remote_text(); }
