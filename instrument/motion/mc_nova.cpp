#include "instrument/motion/mc_nova.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/motion/mc_axis.h"
#include "instrument/motion/mc_ccl.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/device_table.h"
#include "instrument/serial/serial_port.h"

namespace felbrin::motion {
namespace {

constexpr int kAxes = 6;      // axes the controller has
constexpr int kWireAll = 6;   // the wire's "every axis"
constexpr int kWireCtrl = 7;  // the wire's "the controller itself"
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr int kAttempts = 5;
constexpr int kStopSettleMs = 250;

// Statuses and errors of the controller that the driver acts on.
constexpr int32_t kMoving = 1, kStoppedError = 3, kJoystick = 6, kUnanswered = 255;
constexpr int32_t kErrLimit = 18;

// ---- the command table: one row per code, for the sender and the logs

struct CmdRow {
  char code[3];
  const char* name;
};

constexpr CmdRow kCmds[] = {
    {"AA", "MC_AXIS_ACCEL_CMD"},
    {"AS", "MC_AXIS_SS_RATE_CMD"},
    {"AR", "MC_AXIS_RATE_CMD"},
    {"MM", "MC_AXIS_MOVE_MODE_CMD"},
    {"FE", "MC_ENABLE_FKEY_CMD"},
    {"FD", "MC_DISABLE_FKEY_CMD"},
    {"JE", "MC_ENABLE_JOYSTICK_CMD"},
    {"JD", "MC_DISABLE_JOYSTICK_CMD"},
    {"PE", "MC_ENABLE_POS_REPORT_CMD"},
    {"PD", "MC_DISABLE_POS_REPORT_CMD"},
    {"MV", "MC_MOVE_AXIS_CMD"},
    {"FH", "MC_FIND_AXIS_HOME_CMD"},
    {"GH", "MC_GO_AXIS_HOME_CMD"},
    {"ST", "MC_STOP_AXIS_CMD"},
    {"RS", "MC_GET_STATUS_CMD"},
    {"RP", "MC_GET_AXES_POS_CMD"},
    {"RR", "MC_GET_REVISION_CMD"},
    {"RE", "MC_GET_ERRNO_CMD"},
    {"JN", "MC_EE_JOY_CMD"},
    {"ZD", "MC_EE_Z_DIV_CMD"},
    {"GA", "MC_EE_GOT_AXIS_CMD"},
    {"GE", "MC_EE_GOT_ENC_CMD"},
    {"HT", "MC_EE_HOME_TYPE_CMD"},
    {"GL", "MC_EE_GOT_LMTS_CMD"},
    {"LD", "MC_EE_LMT_DELAY_CMD"},
    {"LP", "MC_EE_LMT_POL_CMD"},
    {"HD", "MC_EE_HOME_DIR_CMD"},
    {"DV", "MC_EE_DR_VCC_CMD"},
    {"DR", "MC_EE_DR_REV_CMD"},
    {"PR", "MC_EE_PROG_REV_CMD"},
    {"MR", "MC_EE_MAN_REV_CMD"},
    {"DO", "MC_EE_DR_ON_CMD"},
    {"DF", "MC_EE_DR_OFF_CMD"},
    {"DL", "MC_EE_DR_LOW_CMD"},
    {"SC", "MC_EE_STK_CROSS_CMD"},
    {"SK", "MC_EE_STK_K_CMD"},
    {"MS", "MC_EE_MAN_SS_CMD"},
    {"MA", "MC_EE_MAN_ACCEL_CMD"},
    {"PS", "MC_EE_PROG_SS_CMD"},
    {"PA", "MC_EE_PROG_ACCEL_CMD"},
    {"AL", "MC_EE_AVOID_LO_CMD"},
    {"AH", "MC_EE_AVOID_HI_CMD"},
    {"MU", "MC_EE_MULT_CMD"},
    {"PT", "MC_EE_PD_TIME_CMD"},
    {"NM", "MC_EE_NAME_CMD"},
    {"EK", "MC_EE_ENC_RES_CMD"},
    {"SD", "MC_EE_STK_DEAD_CMD"},
    {"ER", "MC_EE_ENC_REV_CMD"},
    {"SA", "MC_EE_STOP_ACCEL_CMD"},
    {"IA", "MC_EE_INIT_AXIS_CMD"},
    {"HL", "MC_EE_HOME_LOC_CMD"},
    {"JZ", "MC_EE_JOY_ZERO_CMD"},
    {"PV", "MC_EE_PROG_RATE_CMD"},
    {"ZR", "MC_EE_Z_RANGE_CMD"},
    {"MC", "MC_MOTION_CHIP_CMD"},
    {"FR", "MC_EE_FINE_RATE_CMD"},
    {"BL", "MC_EE_BACKLASH_CMD"},
    {"FK", "MC_FKEY_CMD"},
    {"RC", "MC_GET_CONFIG_CMD"},
    {"CF", "MC_SET_CONFIG_CMD"},
    {"HS", "MC_AXIS_HOME_STATE_CMD"},
    {"ZH", "MC_Z_AXIS_HOME_CMD"},
    {"SF", "MC_SET_AXIS_CONFIG_CMD"},
    {"GC", "MC_GET_AXIS_CONFIG_CMD"},
    {"AJ", "MC_SET_AXIS_JOY_CMD"},
    {"JL", "MC_SET_LEFT_JOY_CMD"},
    {"AP", "MC_SET_AXIS_POSREP_CMD"},
};

constexpr bool same_code(const char* a, std::string_view b) {
  return b.size() == 2 && a[0] == b[0] && a[1] == b[1];
}

// A row of the table by its code; not a constant (a build error) when the
// code is missing.
using Cmd = int;
consteval Cmd cmd(std::string_view code) {
  for (std::size_t i = 0; i < std::size(kCmds); ++i)
    if (same_code(kCmds[i].code, code)) return static_cast<Cmd>(i);
  throw "command code missing from the table";
}

consteval bool codes_unique() {
  for (std::size_t i = 0; i < std::size(kCmds); ++i)
    for (std::size_t j = i + 1; j < std::size(kCmds); ++j)
      if (same_code(kCmds[i].code, kCmds[j].code)) return false;
  return true;
}

static_assert(codes_unique());
static_assert(std::size(kCmds) == 67);

constexpr Cmd kAA = cmd("AA"), kAR = cmd("AR"), kAS = cmd("AS"), kMM = cmd("MM"), kFE = cmd("FE"),
              kFD = cmd("FD"), kJE = cmd("JE"), kJD = cmd("JD"), kPE = cmd("PE"), kPD = cmd("PD"),
              kAP = cmd("AP"), kMV = cmd("MV"), kST = cmd("ST"), kRS = cmd("RS"), kRE = cmd("RE"),
              kRP = cmd("RP"), kRR = cmd("RR"), kFK = cmd("FK"), kFH = cmd("FH"), kHS = cmd("HS"),
              kRC = cmd("RC"), kGC = cmd("GC"), kZH = cmd("ZH");

// ---- failure logs

int failed(const char* op, int err) {
  if (err != 0) u_log_fn("%s() failed - %s\n", op, err_name(err));
  return err;
}

int failed_colon(const char* op, int err) {
  if (err != 0) u_log_fn("%s failed: %s\n", op, err_name(err));
  return err;
}

// ---- lines

// One received line without its checksum and terminator.
struct Line {
  std::array<char, MC_NOVA_MAX_LINE + 1> text{};
  std::size_t size = 0;
  std::string_view view() const { return {text.data(), size}; }
  std::string_view code() const { return view().substr(0, 2); }
};

// Throws away what the controller still had queued after a line that
// makes no sense here.
void discard_input(mc_ctrl_t& c) { sio_clear_buffer(c.port.handle); }

int read_raw_line(mc_ctrl_t& c, Line& line) {
  std::size_t n = 0;
  for (;;) {
    uint8_t b = 0;
    uint32_t got = 0;
    if (sio_read_data(c.port.handle, &b, 1, &got) != 0 || got != 1) return ERR_MC_RECV_TIMEOUT;
    if (b == '\r' || b == '\n') break;
    if (n == MC_NOVA_MAX_LINE) {
      discard_input(c);
      return ERR_MC_RECV_FAILED;
    }
    line.text[n++] = static_cast<char>(b);
  }
  if (n == 0 || mc_nova_checksum({line.text.data(), n - 1}) != line.text[n - 1]) {
    discard_input(c);
    return ERR_MC_RECV_FAILED;
  }
  line.size = n - 1;
  return 0;
}

enum class Wait { ack, reply, event };

bool unasked_code(std::string_view code) {
  return code == "RP" || code == "RF" || code == "EP" || code == "EL";
}

// Reads lines until the one awaited: an acknowledgement, the reply of
// `expected`, or (for events) any unasked line. Unasked lines met on the way
// are skipped, the emergency stop and "reset needed" noted.
int read_line(mc_ctrl_t& c, Wait wait, Cmd expected, Line& line) {
  for (;;) {
    if (const int err = read_raw_line(c, line); err != 0) return err;
    const std::string_view code = line.code();
    if (wait == Wait::ack && line.size > 0) {
      if (line.text[0] == kAck) return 0;
      if (line.text[0] == kNak) return ERR_MC_NAK;
    }
    if (wait == Wait::reply && code == kCmds[expected].code) return 0;
    if (code == "EP") c.state = MC_STATE_ESTOP;
    if (code == "EL") c.state = MC_STATE_RESET;
    if (unasked_code(code)) {
      if (wait == Wait::event) return 0;
      continue;
    }
    u_log_fn("mc_nova: unexpected %s line while waiting for %s\n", mc_nova_cmd_name(code),
             wait == Wait::event ? "an event" : kCmds[expected].name);
    discard_input(c);
    return ERR_MC_RECV_FAILED;
  }
}

// Sends a command, and for a query reads its reply too. The command text is
// the code followed by `format`. Only a NAK is tried again.
int transfer(mc_ctrl_t& c, Cmd cmd, Line* reply, const char* format, ...) FELBRIN_PRINTF(4, 5);
int transfer(mc_ctrl_t& c, Cmd cmd, Line* reply, const char* format, ...) {
  std::array<char, 64> out{};
  out[0] = kCmds[cmd].code[0];
  out[1] = kCmds[cmd].code[1];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(out.data() + 2, out.size() - 4, format, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= out.size() - 4) return ERR_INTERNAL_FB;
  std::size_t size = 2 + static_cast<std::size_t>(n);
  out[size] = mc_nova_checksum({out.data(), size});
  out[size + 1] = '\n';
  size += 2;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    uint32_t written = 0;
    if (sio_send_data(c.port.handle, out.data(), static_cast<uint32_t>(size), &written) != 0 ||
        written != size)
      return ERR_MC_SEND_FAILED;
    Line ack;
    const int err = read_line(c, Wait::ack, cmd, ack);
    if (err == ERR_MC_NAK) continue;
    if (err != 0) return err;
    return reply != nullptr ? read_line(c, Wait::reply, cmd, *reply) : 0;
  }
  u_log_fn("mc_nova: %s refused %d times\n", kCmds[cmd].name, kAttempts);
  return ERR_MC_RECV_FAILED;
}

// The fields of a reply after its code, read one by one. A reply that runs
// out of fields, or has a malformed one, fails the read.
class Fields {
 public:
  explicit Fields(const Line& line)
      : rest_(line.view().substr(std::min<std::size_t>(2, line.size))) {}

  bool word(std::string* out) {
    const std::string_view w = next();
    if (w.empty()) return false;
    out->assign(w);
    return true;
  }
  bool number(int64_t lo, int64_t hi, int64_t* out) {
    const std::string_view w = next();
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
    if (w.empty() || ec != std::errc() || end != w.data() + w.size() || v < lo || v > hi)
      return false;
    *out = v;
    return true;
  }
  // Unsigned short and int fields, as the replies carry them.
  bool u16(int32_t* out) { return narrow(0, 0xFFFF, out); }
  bool i32(int32_t* out) {
    return narrow(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), out);
  }

 private:
  bool narrow(int64_t lo, int64_t hi, int32_t* out) {
    int64_t v = 0;
    if (!number(lo, hi, &v)) return false;
    *out = static_cast<int32_t>(v);
    return true;
  }
  std::string_view next() {
    std::size_t i = 0;
    while (i < rest_.size() && rest_[i] == ' ') ++i;
    std::size_t end = i;
    while (end < rest_.size() && rest_[end] != ' ') ++end;
    const std::string_view w = rest_.substr(i, end - i);
    rest_ = rest_.substr(end);
    return w;
  }
  std::string_view rest_;
};

// ---- axis numbers

bool active(const mc_ctrl_t& c, int axis) { return c.axes[axis].active != 0; }

// An axis 0..5 (active) or all (6 or 8) as the wire names it.
int wire_axis_or_all(const mc_ctrl_t& c, int axis, int* wire) {
  if (axis == kWireAll || axis == MC_ALL_AXES) {
    *wire = kWireAll;
    return 0;
  }
  if (axis < 0 || axis >= kAxes) return ERR_MC_INVALID_AXIS;
  if (!active(c, axis)) return ERR_MC_AXIS_INACTIVE;
  *wire = axis;
  return 0;
}

// One active axis 0..5.
int single_axis(const mc_ctrl_t& c, int axis) {
  if (axis < 0 || axis >= kAxes) return ERR_MC_INVALID_AXIS;
  return active(c, axis) ? 0 : ERR_MC_AXIS_INACTIVE;
}

// An axis, all, or the controller, for the status and error queries.
int query_axis(const mc_ctrl_t& c, int axis, int* wire) {
  if (axis == MC_ALL_AXES) axis = kWireAll;
  if (axis == MC_CONTROLLER) axis = kWireCtrl;
  if (axis < 0 || axis > kWireCtrl) return ERR_MC_INVALID_AXIS;
  if (axis < kAxes && !active(c, axis)) return ERR_MC_AXIS_INACTIVE;
  *wire = axis;
  return 0;
}

// The six axis values and the controller's of an RS or RE reply, spread as
// the query asked.
int spread(const Line& reply, int wire, int32_t values[MC_AXES], int32_t all_tail) {
  Fields f(reply);
  int32_t v[kAxes + 1] = {};
  for (int32_t& x : v)
    if (!f.u16(&x)) return ERR_MC_RECV_FAILED;
  if (wire == kWireAll) {
    for (int i = 0; i < kAxes; ++i) values[i] = v[i];
    values[6] = values[7] = all_tail;
  } else {
    values[0] = v[wire == kWireCtrl ? kAxes : wire];
  }
  return 0;
}

void stop_and_settle(mc_ctrl_t& c, int axis) {
  mc_stop_nova(c, axis);
  u_sleep_ms(kStopSettleMs);
}

// The axis's position in user units, read from the controller.
int read_position(mc_ctrl_t& c, int axis, double* value) {
  int32_t counts[MC_AXES];
  const int err = mc_get_ipos_nova(c, axis, counts);
  if (err != 0) return err;
  *value = counts[0] == MC_POS_UNKNOWN ? MC_INVALID : mc_to_user(c, axis, counts[0]);
  return 0;
}

// ---- Z homing by stage number

struct ZHomeRule {
  int32_t homeType;         // the home type the search needs; 0 for any
  bool otherTypeFindsHome;  // another home type homes by the home search
  double speed;             // fallback, when the axis has no HOME_LIMIT_POS
  int direction;
  int polls;
};
constexpr ZHomeRule kZRules[] = {
    {5, false, 56.584576, -1, 120},
    {5, false, 50, +1, 120},
    {1, true, 812.7616, +1, 200},
    {0, false, 150, -1, 120},
};
struct StageClass {
  int32_t first, last;
  int rule;
};
constexpr StageClass kStageClasses[] = {
    {50000, 52999, 0},   {501000, 529999, 0}, {59000, 59999, 1}, {591000, 599999, 1},
    {73000, 73999, 1},   {731000, 739999, 1}, {71000, 71999, 1}, {65000, 65999, 2},
    {651000, 659999, 2}, {680000, 689999, 3},
};
consteval bool stage_classes_apart() {
  for (const StageClass& a : kStageClasses) {
    if (a.first > a.last || a.rule < 0 || a.rule >= static_cast<int>(std::size(kZRules)))
      return false;
    for (const StageClass& b : kStageClasses)
      if (&a != &b && a.first <= b.last && b.first <= a.last) return false;
  }
  return true;
}
static_assert(stage_classes_apart());

const ZHomeRule* z_rule(int32_t stage) {
  for (const StageClass& s : kStageClasses)
    if (stage >= s.first && stage <= s.last) return &kZRules[s.rule];
  return nullptr;
}

// The limit search itself, from the drive to the limit to the reference.
int z_limit_search(mc_ctrl_t& c, int z, const ZHomeRule& rule, int32_t reference) {
  const char* const op = "mc_z_home_nova";
  if (const int err = mc_set_mode_nova(c, z, MC_MODE_RELATIVE); err != 0) return err;
  // The longest move there is: it ends at the limit switch.
  if (const int err = transfer(c, kMV, nullptr, " %d %d", z, 0xFFFFFF); err != 0) return err;
  c.axes[z].moving = 1;
  int err = 0;
  int32_t status = kMoving;
  for (int poll = 0; poll < rule.polls && status == kMoving; ++poll) {
    if (u_poll_pause(1000) != 0) {
      stop_and_settle(c, z);
      return ERR_FELBRIN_ABORTED;
    }
    int32_t v[MC_AXES];
    err = mc_get_status_nova(c, z, v);
    if (err != 0) break;
    status = v[0];
  }
  if (err == 0 && status == kMoving) {
    u_log_fn("%s: timeout\n", op);
    err = ERR_MC_CANT_FIND_Z_HOME;
  } else if (err == 0 && status != kStoppedError) {
    // Stopped short of the switch: the reference would be wrong.
    u_log_fn("%s: mcErr != MC_ERR_LIMIT_SIGNAL\n", op);
    err = ERR_MC_CANT_FIND_Z_HOME;
  } else if (err == 0) {
    int32_t e[MC_AXES];
    err = mc_get_error_nova(c, z, e);
    if (err == 0 && e[0] != kErrLimit) {
      u_log_fn("%s: mcErr != MC_ERR_LIMIT_SIGNAL\n", op);
      err = ERR_MC_CANT_FIND_Z_HOME;
    }
    Line reply;
    if (err == 0) err = transfer(c, kZH, &reply, " %d", reference);
    int32_t value = 0;
    if (err == 0 && !Fields(reply).i32(&value)) err = ERR_MC_RECV_FAILED;
    if (err == 0 && value != 0) {
      u_log_fn("%s: mcErr != MC_ERR_NO_ERROR\n", op);
      err = ERR_MC_CANT_FIND_Z_HOME;
    }
  }
  if (err != 0) {
    stop_and_settle(c, z);
    return ERR_MC_CANT_FIND_Z_HOME;
  }
  return 0;
}

}  // namespace
}  // namespace felbrin::motion

using namespace felbrin::motion;

char mc_nova_checksum(std::string_view text) {
  unsigned sum = 0;
  for (char ch : text) sum += static_cast<uint8_t>(ch);
  return static_cast<char>((sum & 0x3Fu) | 0x40u);
}

bool mc_stage_homes_z_at_limit(int32_t stage) { return z_rule(stage) != nullptr; }

const char* mc_nova_cmd_name(std::string_view code) {
  for (const CmdRow& r : kCmds)
    if (same_code(r.code, code)) return r.name;
  return "MC_INVALID_CMD";
}

// ---- settings

namespace {

// AA, AR, AS and MM: an axis or all, and one value within its range.
int set_axis_value(mc_ctrl_t& c, const char* op, Cmd cmd, int axis, int32_t value, int32_t lo,
                   int32_t hi) {
  int wire = 0;
  int err = mc_check_controller(&c);
  if (err == 0) err = wire_axis_or_all(c, axis, &wire);
  if (err == 0 && (value < lo || value > hi)) err = ERR_PARAM_OUT_OF_RANGE;
  if (err == 0) err = transfer(c, cmd, nullptr, " %d %d ", wire, static_cast<int>(value));
  return failed(op, err);
}

}  // namespace

int mc_set_accel_nova(mc_ctrl_t& c, int axis, int32_t accel) {
  const int err = set_axis_value(c, "mc_set_accel_nova", kAA, axis, accel, 1, 0x7FFF);
  if (err != 0) return err;
  for (int i = 0; i < kAxes; ++i)
    if (axis == i || axis >= kWireAll) c.axes[i].accel = accel;
  return 0;
}

int mc_set_velocity_nova(mc_ctrl_t& c, int axis, int32_t velocity) {
  const int err = set_axis_value(c, "mc_set_velocity_nova", kAR, axis, velocity, 1, 0x3FFF);
  if (err != 0) return err;
  for (int i = 0; i < kAxes; ++i)
    if (axis == i || (axis >= kWireAll && active(c, i))) c.axes[i].velocity = velocity;
  return 0;
}

int mc_set_ss_vel_nova(mc_ctrl_t& c, int axis, int32_t velocity) {
  return set_axis_value(c, "mc_set_ss_vel_nova", kAS, axis, velocity, 1, 5000);
}

int mc_set_mode_nova(mc_ctrl_t& c, int axis, int32_t mode) {
  // A single axis already in the mode needs no command.
  if (axis >= 0 && axis < kAxes && c.axes[axis].moveMode == mode && mode >= 0 && mode <= 1 &&
      active(c, axis) && mc_check_controller(&c) == 0)
    return 0;
  const int err = set_axis_value(c, "mc_set_mode_nova", kMM, axis, mode, 0, 1);
  if (err != 0) return err;
  for (int i = 0; i < kAxes; ++i)
    if (axis == i || axis >= kWireAll) c.axes[i].moveMode = mode;
  return 0;
}

int mc_enable_fkey_nova(mc_ctrl_t& c) {
  int err = mc_check_controller(&c);
  if (err == 0) err = transfer(c, kFE, nullptr, " ");
  return failed("mc_enable_fkey_nova", err);
}

int mc_disable_fkey_nova(mc_ctrl_t& c) {
  int err = mc_check_controller(&c);
  if (err == 0) err = transfer(c, kFD, nullptr, " ");
  return failed("mc_disable_fkey_nova", err);
}

int mc_fkey_label_nova(mc_ctrl_t& c, const char* label) {
  const std::string_view text = label != nullptr ? label : "";
  int err = mc_check_controller(&c);
  // The controller keeps four characters; a longer label would be cut.
  if (err == 0 && text.size() > 4) err = ERR_PARAM_OUT_OF_RANGE;
  if (err == 0) err = transfer(c, kFK, nullptr, " %4.4s ", text.data());
  return failed("mc_fkey_label_nova", err);
}

// ---- joysticks

int mc_enable_joy(mc_ctrl_t& c, int axis) {
  const char* const op = "mc_enable_joy";
  int err = mc_check_controller(&c);
  if (err == 0 && (axis < 0 || axis > MC_ALL_AXES)) err = ERR_MC_INVALID_AXIS;
  const bool all = axis == kWireAll || axis == MC_ALL_AXES;
  if (err == 0 && !all && !active(c, axis)) err = ERR_MC_AXIS_INACTIVE;
  if (err != 0) return failed(op, err);
  if (!all && c.axes[axis].joyOn != 0) {
    c.joyMask = static_cast<uint8_t>(c.joyMask | (1u << axis));
    return 0;
  }
  err = transfer(c, kJE, nullptr, " %d ", all ? kWireAll : axis);
  if (err == 0 && mc_firmware_has(c, McFeature::state_check)) {
    int32_t v[MC_AXES];
    err = mc_get_status_nova(c, MC_ALL_AXES, v);
    for (int i = 0; i < MC_AXES && err == 0; ++i)
      if ((all ? i < kAxes && active(c, i) : i == axis) && v[i] != kJoystick)
        err = ERR_MC_JOYSTICK_ENABLE;
  }
  if (err != 0) return failed(op, err);
  for (int i = 0; i < MC_AXES; ++i) {
    if (all ? i >= kAxes : i != axis) continue;
    c.axes[i].joyOn = 1;
    c.axes[i].target = MC_POS_UNKNOWN;
  }
  c.joyMask = all ? MC_JOY_ALL : static_cast<uint8_t>(c.joyMask | (1u << axis));
  return 0;
}

int mc_disable_joy(mc_ctrl_t& c, int axis) {
  const char* const op = "mc_disable_joy";
  int wire = 0;
  int err = mc_check_controller(&c);
  if (err == 0) err = wire_axis_or_all(c, axis, &wire);
  if (err != 0) return failed(op, err);
  const bool all = wire == kWireAll;
  if (!all && c.axes[axis].joyOn == 0) {
    c.joyMask = static_cast<uint8_t>(c.joyMask & ~(1u << axis));
    return 0;
  }
  err = transfer(c, kJD, nullptr, " %d ", wire);
  if (err == 0) {
    // The controller takes a moment to hand the axes back.
    u_sleep_ms(50);
    int32_t v[MC_AXES];
    err = mc_get_status_nova(c, MC_ALL_AXES, v);
    for (int i = 0; i < kAxes && err == 0; ++i)
      if ((all ? active(c, i) : i == axis) && v[i] == kJoystick) err = ERR_MC_JOYSTICK_ENABLE;
  }
  if (err != 0) return failed(op, err);
  for (int i = 0; i < kAxes; ++i)
    if (all || i == axis) c.axes[i].joyOn = 0;
  c.joyMask = all ? uint8_t{0} : static_cast<uint8_t>(c.joyMask & ~(1u << axis));
  return 0;
}

// ---- position reports

int mc_enable_pos_report_nova(mc_ctrl_t& c) {
  int err = mc_check_controller(&c);
  if (err == 0 && !mc_firmware_has(c, McFeature::pos_report)) err = ERR_NOT_IMPLEMENTED;
  if (err == 0 && c.posReport != 0) return 0;
  if (err == 0) err = transfer(c, kPE, nullptr, " ");
  if (err != 0) return failed("mc_enable_pos_report_nova", err);
  c.posReport = 1;
  c.posReportOnMs = u_ticks_ms();
  if (dev_is_registered(c.port.handle)) dev_set_event_state(c.port.handle, 1);
  return 0;
}

int mc_disable_pos_report_nova(mc_ctrl_t& c) {
  int err = mc_check_controller(&c);
  if (err == 0) err = transfer(c, kPD, nullptr, " ");
  if (err != 0) return failed("mc_disable_pos_report_nova", err);
  c.posReport = 0;
  if (dev_is_registered(c.port.handle)) dev_set_event_state(c.port.handle, 0);
  return 0;
}

int mc_axis_pos_report_nova(mc_ctrl_t& c, int axis, uint8_t on) {
  int wire = 0;
  int err = mc_check_controller(&c);
  if (err == 0 && !mc_firmware_has(c, McFeature::axis_pos_report)) return 0;
  if (err == 0) err = wire_axis_or_all(c, axis, &wire);
  if (err == 0) err = transfer(c, kAP, nullptr, " %d %d ", wire, static_cast<int>(on));
  if (err != 0) return failed("mc_axis_pos_report_nova", err);
  for (int i = 0; i < MC_AXES; ++i)
    if (wire == kWireAll || i == wire)
      c.axes[i].posReport = wire == kWireAll && i >= kAxes ? 0 : on;
  return 0;
}

// ---- moves

int mc_move_nova(mc_ctrl_t& c, int axis, double value) {
  const char* const op = "mc_move_nova";
  int err = mc_check_controller(&c);
  if (err == 0) err = single_axis(c, axis);
  if (err != 0) return failed(op, err);
  mc_axis_t& a = c.axes[axis];
  if (a.joyOn != 0) {
    u_log_fn("mc_move_nova failed: joy_on\n");
    return ERR_MC_MISC;
  }
  if (a.extClosedLoop != 0 && mc_ccl_amplifier_ready(c, axis, 0) != 0)
    return failed(op, ERR_MC_CAN_AMPLIFIER_FAULT);
  const bool absolute = a.moveMode == MC_MODE_ABSOLUTE;
  if (a.compensate != nullptr) {
    if (absolute) {
      if (!a.compensate(c, axis, value, &value)) return failed(op, ERR_MC_RANGE);
    } else {
      double here = 0, from = 0, to = 0;
      if ((err = read_position(c, axis, &here)) != 0) return failed(op, err);
      if (here == MC_INVALID || !a.compensate(c, axis, here, &from) ||
          !a.compensate(c, axis, here + value, &to))
        return failed(op, ERR_MC_RANGE);
      value = to - from;
    }
  }
  int32_t counts = 0;
  err = mc_to_counts(c, axis, value, &counts);
  if (err == 0) err = transfer(c, kMV, nullptr, " %d %d", axis, static_cast<int>(counts));
  if (err != 0) return failed(op, err);
  a.moving = 1;
  a.inPosStartMs = -1;  // every move gets its own settling time
  if (absolute) {
    a.target = counts;
  } else if (a.target != MC_POS_UNKNOWN) {
    const int64_t t = int64_t{a.target} + counts;
    a.target = t >= std::numeric_limits<int32_t>::min() && t <= std::numeric_limits<int32_t>::max()
                   ? static_cast<int32_t>(t)
                   : MC_POS_UNKNOWN;
  }
  return 0;
}

int mc_stop_nova(mc_ctrl_t& c, int axis) {
  int wire = 0;
  int err = mc_check_controller(&c);
  if (err == 0) err = wire_axis_or_all(c, axis, &wire);
  if (err == 0) err = transfer(c, kST, nullptr, " %d ", wire);
  return failed("mc_stop_nova", err);
}

// ---- queries

int mc_get_status_nova(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  for (int i = 0; i < MC_AXES; ++i) values[i] = kUnanswered;
  int wire = 0;
  int err = mc_check_controller(&c);
  if (err == 0) err = query_axis(c, axis, &wire);
  if (err != 0) return failed_colon("mc_get_status_nova", err);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) {
      u_log_fn("mc_get_status_nova retry\n");
      u_sleep_ms(c.retryPauseMs);
    }
    Line reply;
    err = transfer(c, kRS, nullptr, " ");
    if (err != 0) {
      u_log_fn("mc_get_status_nova: send error %d\n", err);
      continue;
    }
    err = read_line(c, Wait::reply, kRS, reply);
    if (err == 0) err = spread(reply, wire, values, 4);
    if (err == 0) return 0;
    u_log_fn("mc_get_status_nova: recv error %d\n", err);
  }
  return failed_colon("mc_get_status_nova", ERR_MC_CANT_GET_STATUS);
}

int mc_get_error_nova(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  for (int i = 0; i < MC_AXES; ++i) values[i] = kUnanswered;
  int wire = 0;
  Line reply;
  int err = mc_check_controller(&c);
  if (err == 0) err = query_axis(c, axis, &wire);
  if (err == 0) err = transfer(c, kRE, &reply, " ");
  if (err == 0) err = spread(reply, wire, values, kUnanswered);
  return failed("mc_get_error_nova", err);
}

int mc_get_ipos_nova(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]) {
  for (int i = 0; i < MC_AXES; ++i) counts[i] = MC_POS_UNKNOWN;
  int wire = 0;
  Line reply;
  int err = mc_check_controller(&c);
  if (err == 0) err = wire_axis_or_all(c, axis, &wire);
  if (err == 0 && wire != kWireAll && c.axes[wire].homed == 0) err = ERR_MC_NO_HOME;
  if (err == 0) err = transfer(c, kRP, &reply, " ");
  int32_t v[kAxes] = {};
  Fields f(reply);
  for (int i = 0; i < kAxes && err == 0; ++i)
    if (!f.i32(&v[i])) err = ERR_MC_RECV_FAILED;
  if (err != 0) return failed("mc_get_ipos_nova", err);
  if (wire == kWireAll) {
    for (int i = 0; i < kAxes; ++i) counts[i] = v[i];
  } else {
    counts[0] = v[wire];
  }
  return 0;
}

int mc_get_revision_nova(mc_ctrl_t& c) {
  Line reply;
  int32_t major = 0, minor = 0;
  int err = mc_check_controller(&c);
  if (err == 0) err = transfer(c, kRR, &reply, " ");
  if (err == 0) {
    Fields f(reply);
    if (!f.u16(&major) || !f.u16(&minor)) err = ERR_MC_RECV_FAILED;
  }
  if (err != 0) return failed("mc_get_revision_nova", err);
  u_log_fn("Motion Controller Firmware version: major = %hu\tminor = %hu\n",
           static_cast<unsigned short>(major), static_cast<unsigned short>(minor));
  c.fwMajor = static_cast<uint16_t>(major);
  c.fwMinor = static_cast<uint16_t>(minor);
  return 0;
}

int mc_get_config_nova(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]) {
  Line reply;
  std::string word;
  int32_t n[2] = {};
  int err = mc_check_controller(&c);
  if (err == 0) err = transfer(c, kRC, &reply, " ");
  if (err == 0) {
    Fields f(reply);
    if (!f.word(&word) || !f.u16(&n[0]) || !f.u16(&n[1])) err = ERR_MC_RECV_FAILED;
  }
  if (err != 0) return failed("mc_get_config_nova", err);
  if (name != nullptr) *name = std::move(word);
  numbers[0] = static_cast<uint16_t>(n[0]);
  numbers[1] = static_cast<uint16_t>(n[1]);
  return 0;
}

namespace {
// An axis query answered with the axis and one value (HS, GC).
int axis_query(mc_ctrl_t& c, Cmd cmd, int axis, int32_t* answered_axis, int32_t* value) {
  Line reply;
  int err = mc_check_controller(&c);
  if (err == 0) err = single_axis(c, axis);
  if (err == 0) err = transfer(c, cmd, &reply, " %d ", axis);
  if (err == 0) {
    Fields f(reply);
    if (!f.u16(answered_axis) || !f.u16(value)) err = ERR_MC_RECV_FAILED;
  }
  return err;
}
}  // namespace

int mc_home_state_nova(mc_ctrl_t& c, int axis) {
  int32_t answered = 0, state = 0;
  int err = axis_query(c, kHS, axis, &answered, &state);
  if (err != 0) return failed("mc_home_state_nova", err);
  if (answered != axis) {
    mc_recover_comm_nova(c);
    u_log_fn("mc_home_state_nova failed\n");
    return ERR_MC_MISC;
  }
  mc_axis_t& a = c.axes[axis];
  if (state != 0 && a.extClosedLoop != 0) {
    // Only the amplifier knows whether its home still holds.
    int ok = 0;
    err = mc_ccl_get_home_ok(c, axis, &ok);
    if (err != 0) return failed("mc_home_state_nova", err);
    state = ok;
  }
  a.homed = state != 0 ? 1 : 0;
  return 0;
}

int mc_get_axis_config_nova(mc_ctrl_t& c, int axis, int32_t* value) {
  int32_t answered = 0;
  int err = axis_query(c, kGC, axis, &answered, value);
  if (err == 0 && answered != axis) err = ERR_INVALID_PARAM;
  return failed("mc_get_axis_config_nova", err);
}

// ---- homing

int mc_find_home_nova(mc_ctrl_t& c, int axis) {
  const char* const op = "mc_find_home_nova";
  int err = mc_check_controller(&c);
  if (err == 0) err = single_axis(c, axis);
  if (err == 0 && c.axes[axis].joyOn != 0) err = mc_disable_joy(c, axis);
  if (err != 0) return failed(op, err);
  mc_axis_t& a = c.axes[axis];
  // A type-5 home comes back to where it was, its offset included.
  bool go_back = false;
  double back = 0;
  if (a.homeType == 5 && a.homed != 0 && a.homeOffsetSet != 0) {
    if ((err = read_position(c, axis, &back)) != 0) return failed(op, err);
    go_back = back != MC_INVALID;
    back += a.homeOffset;
  }
  a.homed = 0;
  if ((err = transfer(c, kFH, nullptr, " %d ", axis)) != 0) return failed(op, err);
  for (int poll = 0; poll < 100; ++poll) {
    uint32_t waiting = 0;
    if (sio_bytes_waiting(c.port.handle, &waiting) == 0 && waiting > 0) {
      Line reply;
      err = read_line(c, Wait::reply, kFH, reply);
      if (err != 0 && err != ERR_MC_RECV_TIMEOUT) return failed(op, err);
      int32_t answered = 0, found = 0;
      if (err == 0) {
        Fields f(reply);
        if (!f.u16(&answered) || !f.u16(&found)) return failed(op, ERR_MC_RECV_FAILED);
        if (answered != axis) {
          mc_recover_comm_nova(c);
          u_log_fn("mc_find_home_nova failed\n");
          return ERR_MC_MISC;
        }
        if (found == 1) break;
      }
    }
    if (poll == 99 || u_poll_pause(500) != 0) {
      stop_and_settle(c, axis);
      return failed(op, poll == 99 ? ERR_MC_CANT_FIND_HOME : ERR_FELBRIN_ABORTED);
    }
  }
  a.homed = 1;
  // Where the search left the axis is its new zero.
  a.target = MC_POS_UNKNOWN;
  if (a.extClosedLoop != 0 && (err = mc_ccl_set_home_ok(c, axis, 1)) != 0) return failed(op, err);
  if (go_back) {
    const int32_t mode = a.moveMode;
    err = mc_set_mode_nova(c, axis, MC_MODE_ABSOLUTE);
    if (err == 0) err = mc_move_nova(c, axis, back);
    if (err == 0 && mode != MC_MODE_UNKNOWN) err = mc_set_mode_nova(c, axis, mode);
    if (err != 0) return failed(op, err);
  }
  return 0;
}

int mc_z_home_nova(mc_ctrl_t& c, int32_t stage) {
  const char* const op = "mc_z_home_nova";
  int err = mc_check_controller(&c);
  const int z = c.zAxis;
  if (err == 0) err = single_axis(c, z);
  if (err == 0 && c.axes[z].extClosedLoop != 0 && mc_ccl_amplifier_ready(c, z, 0) != 0)
    err = ERR_MC_CAN_AMPLIFIER_FAULT;
  if (err != 0) return failed_colon(op, err);
  // Older firmware has no reference command.
  if (c.fwMajor <= 1) return mc_find_home_nova(c, z);
  const ZHomeRule* rule = z_rule(stage);
  mc_axis_t& a = c.axes[z];
  if (rule == nullptr ||
      (rule->homeType != 0 && a.homeType != rule->homeType && rule->otherTypeFindsHome))
    return mc_find_home_nova(c, z);
  if (rule->homeType != 0 && a.homeType != rule->homeType)
    return failed_colon(op, ERR_MC_INVALID_CONFIG);
  const float limit_pos = c.config.axes[z].homeLimitPos;
  const double speed = limit_pos != FLT_MAX ? limit_pos : rule->speed;
  // The switch lies this far from the reference: the limit position is in
  // millimetres, the axis factor in counts per inch.
  const double offset = speed * (a.stepsPerRev * a.encSteps * a.pitch) * 0.03937007874015748;
  const double reference = std::round(0x7FFFFF + rule->direction * offset);
  if (!std::isfinite(reference) || reference < std::numeric_limits<int32_t>::min() ||
      reference > std::numeric_limits<int32_t>::max())
    return failed_colon(op, ERR_MC_RANGE);
  if ((err = mc_push_joystick(c, 0)) != 0) return failed_colon(op, err);
  if ((err = mc_push_pos_report(c, 0)) == 0) {
    err = z_limit_search(c, z, *rule, static_cast<int32_t>(reference));
    if (err == 0) {
      a.homed = 1;
      a.target = MC_POS_UNKNOWN;
      if (a.extClosedLoop != 0) err = mc_ccl_set_home_ok(c, z, 1);
      int32_t counts[MC_AXES];
      if (err == 0) err = mc_get_ipos_nova(c, z, counts);
      if (err == 0 && a.joyOn == 0) a.target = counts[0];
    }
    a.moving = 0;
    const int pop = mc_pop_pos_report(c);
    if (err == 0) err = pop;
  }
  const int pop = mc_pop_joystick(c);
  if (err == 0) err = pop;
  return failed_colon(op, err);
}

int mc_home_axes_nova(mc_ctrl_t& c, const int* axes, int count) {
  const char* const op = "mc_home_axes_nova";
  int err = mc_check_controller(&c);
  if (err == 0 && count > 0 && axes == nullptr) err = ERR_INVALID_PARAM;
  uint8_t mask = c.joyMask;
  for (int i = 0; i < count && err == 0; ++i) {
    if (axes[i] < 0 || axes[i] >= kAxes)
      err = ERR_MC_INVALID_AXIS;
    else
      mask = static_cast<uint8_t>(mask & ~(1u << axes[i]));
  }
  if (err == 0) err = mc_push_joystick(c, mask);
  if (err != 0) return failed(op, err);
  if ((err = mc_push_pos_report(c, 0)) == 0) {
    const int32_t stage = c.info != nullptr ? c.info->stageNumber : 0;
    for (int i = 0; i < count && err == 0; ++i) {
      const int axis = axes[i];
      if (!active(c, axis) || (c.config.axes[axis].flags1 & MC_GOT_AXIS) == 0) continue;
      err = axis == c.zAxis ? mc_z_home_nova(c, stage) : mc_find_home_nova(c, axis);
      if (err == 0 && u_abort_fn(nullptr) != 0) err = ERR_FELBRIN_ABORTED;
    }
    const int pop = mc_pop_pos_report(c);
    if (err == 0) err = pop;
  }
  const int pop = mc_pop_joystick(c);
  if (err == 0) err = pop;
  return failed(op, err);
}

// ---- events

int mc_get_event_nova(mc_ctrl_t& c, int32_t* kind, int32_t* key) {
  *kind = MC_EVENT_NONE;
  if (key != nullptr) *key = 0;
  Line line;
  int err = read_line(c, Wait::event, kRP, line);
  if (err != 0) return failed("mc_get_event_nova", err);
  const std::string_view code = line.code();
  Fields f(line);
  if (code == "RP") {
    if (u_ticks_ms() - c.posReportOnMs < MC_NOVA_REPORT_SETTLE_MS) return 0;
    int32_t v[kAxes] = {};
    for (int32_t& x : v)
      if (!f.i32(&x)) return failed("mc_get_event_nova", ERR_MC_RECV_FAILED);
    for (int i = 0; i < MC_AXES; ++i)
      c.axes[i].lastReported =
          i >= kAxes || v[i] == MC_POS_UNKNOWN ? MC_INVALID : mc_to_user(c, i, v[i]);
    *kind = MC_EVENT_POSITION;
  } else if (code == "RF") {
    int32_t k = 0;
    if (!f.i32(&k) || k < 1 || k > 3) return failed("mc_get_event_nova", ERR_MC_RECV_FAILED);
    *kind = MC_EVENT_FKEY;
    if (key != nullptr) *key = k;
  } else if (code == "EP") {
    *kind = MC_EVENT_ESTOP;
    u_log_fn("mc_get_event_nova *mcState = MC_STATE_ESTOP\n");
  } else {
    *kind = MC_EVENT_RESET;
    u_log_fn("mc_get_event_nova *mcState = MC_STATE_RESET\n");
  }
  return 0;
}

void mc_event_pump_nova(mc_ctrl_t& c) {
  for (;;) {
    uint32_t errors = 0, waiting = 0;
    if (sio_line_status(c.port.handle, &errors, &waiting) != 0 || errors != 0 || waiting == 0)
      return;
    int32_t kind = 0, key = 0;
    if (mc_get_event_nova(c, &kind, &key) != 0) return;
  }
}

// ---- external closed loop

int mc_supports_ext_closed_loop_nova(mc_ctrl_t& c, int axis, int* yes) {
  *yes = 0;
  if (axis < 0 || axis >= MC_AXES) return ERR_MC_INVALID_AXIS;
  *yes = c.axes[axis].extClosedLoop != 0 ? 1 : 0;
  return 0;
}

int mc_get_ext_closed_loop_nova(mc_ctrl_t& c, int axis, int* on) {
  *on = 0;
  if (axis < 0 || axis >= MC_AXES) return ERR_MC_INVALID_AXIS;
  return c.axes[axis].extClosedLoop != 0 ? mc_ccl_get_closed_loop(c, axis, on) : 0;
}

int mc_set_ext_closed_loop_nova(mc_ctrl_t& c, int axis, int on) {
  if (axis < 0 || axis >= MC_AXES) return ERR_MC_INVALID_AXIS;
  return c.axes[axis].extClosedLoop != 0 ? mc_ccl_set_closed_loop(c, axis, on) : 0;
}

int mc_amplifier_fault_nova(mc_ctrl_t& c, int axis, int* fault) {
  *fault = 0;
  if (axis < 0 || axis >= MC_AXES) return ERR_MC_INVALID_AXIS;
  if (c.axes[axis].extClosedLoop == 0) return 0;
  uint32_t status = 0, manufacturer = 0;
  const int err = mc_ccl_get_amplifier_status(c, axis, &status, &manufacturer);
  if (err == 0) *fault = (status & 0x0008u) != 0 || (manufacturer & 0x80000u) != 0 ? 1 : 0;
  return err;
}

// ---- the line

int mc_open_comm_nova(mc_ctrl_t& c, const char* device) {
  const char* const op = "mc_open_comm_nova";
  if (c.kind != MC_KIND_SERIAL) return failed(op, ERR_MC_WRONG_MC);
  if (device == nullptr) return failed(op, ERR_INVALID_PARAM);
  if (c.port.handle != SIO_INVALID_HANDLE) sio_close(&c.port);
  // 9600 8N1 without XON/XOFF: ACK and NAK are plain bytes here.
  constexpr sio_line_settings_t kLine{.hardware_handshake = true};
  if (const int err = sio_open_configured(device, kLine, &c.port)) {
    u_log_fn("mc_open_comm_nova() error opening %s err=%d\n", device, err);
    return ERR_MC_COMM;
  }
  return 0;
}

int mc_close_comm_nova(mc_ctrl_t& c) {
  if (c.kind != MC_KIND_SERIAL) return failed("mc_close_comm_nova", ERR_MC_WRONG_MC);
  // Out of the device table first: its worker must not poll a closed line.
  const dev_handle_t registered = c.devHandle != -1 ? c.devHandle : c.port.handle;
  if (registered != DEV_INVALID_HANDLE && dev_is_registered(registered))
    dev_remove_device(registered);
  c.devHandle = -1;
  if (c.port.handle != SIO_INVALID_HANDLE) return sio_close(&c.port);
  return 0;
}

int mc_recover_comm_nova(mc_ctrl_t& c) {
  const int err = sio_clear_buffer(c.port.handle);
  return err == 1 ? ERR_MC_COMM : err;
}

// ---- the driver table

int NovaDriver::get_axis_config(mc_ctrl_t& c, int axis, int32_t* value) {
  return mc_get_axis_config_nova(c, axis, value);
}
int NovaDriver::set_accel(mc_ctrl_t& c, int axis, int32_t accel) {
  return mc_set_accel_nova(c, axis, accel);
}
int NovaDriver::set_velocity(mc_ctrl_t& c, int axis, int32_t velocity) {
  return mc_set_velocity_nova(c, axis, velocity);
}
int NovaDriver::set_ss_velocity(mc_ctrl_t& c, int axis, int32_t velocity) {
  return mc_set_ss_vel_nova(c, axis, velocity);
}
int NovaDriver::set_mode(mc_ctrl_t& c, int axis, int32_t mode) {
  return mc_set_mode_nova(c, axis, mode);
}
int NovaDriver::enable_fkeys(mc_ctrl_t& c) { return mc_enable_fkey_nova(c); }
int NovaDriver::disable_fkeys(mc_ctrl_t& c) { return mc_disable_fkey_nova(c); }
int NovaDriver::enable_joystick(mc_ctrl_t& c, int axis) { return mc_enable_joy(c, axis); }
int NovaDriver::disable_joystick(mc_ctrl_t& c, int axis) { return mc_disable_joy(c, axis); }
int NovaDriver::enable_pos_report(mc_ctrl_t& c) { return mc_enable_pos_report_nova(c); }
int NovaDriver::disable_pos_report(mc_ctrl_t& c) { return mc_disable_pos_report_nova(c); }
int NovaDriver::move(mc_ctrl_t& c, int axis, double value) { return mc_move_nova(c, axis, value); }
int NovaDriver::stop(mc_ctrl_t& c, int axis) { return mc_stop_nova(c, axis); }
int NovaDriver::get_status(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  return mc_get_status_nova(c, axis, values);
}
int NovaDriver::get_error(mc_ctrl_t& c, int axis, int32_t values[MC_AXES]) {
  return mc_get_error_nova(c, axis, values);
}
int NovaDriver::get_positions(mc_ctrl_t& c, int axis, int32_t counts[MC_AXES]) {
  return mc_get_ipos_nova(c, axis, counts);
}
int NovaDriver::get_revision(mc_ctrl_t& c) { return mc_get_revision_nova(c); }
int NovaDriver::fkey_label(mc_ctrl_t& c, int, const char* label) {
  return mc_fkey_label_nova(c, label);
}
int NovaDriver::z_home(mc_ctrl_t& c, int32_t stage) { return mc_z_home_nova(c, stage); }
int NovaDriver::find_home(mc_ctrl_t& c, int axis) { return mc_find_home_nova(c, axis); }
int NovaDriver::get_event(mc_ctrl_t& c, int32_t* kind, int32_t* key) {
  return mc_get_event_nova(c, kind, key);
}
void NovaDriver::event_pump(mc_ctrl_t& c) { mc_event_pump_nova(c); }
int NovaDriver::get_config(mc_ctrl_t& c, std::string* name, uint16_t numbers[2]) {
  return mc_get_config_nova(c, name, numbers);
}
int NovaDriver::home_state(mc_ctrl_t& c, int axis) { return mc_home_state_nova(c, axis); }
int NovaDriver::axis_pos_report(mc_ctrl_t& c, int axis, uint8_t on) {
  return mc_axis_pos_report_nova(c, axis, on);
}
int NovaDriver::kind(const mc_ctrl_t&) const { return MC_KIND_SERIAL; }
int NovaDriver::vector_motion(mc_ctrl_t&, int) { return 0; }
int NovaDriver::get_vector_motion(mc_ctrl_t&, int* on) {
  *on = 0;
  return 0;
}
// The controller has no joystick queue: each change happens at once.
int NovaDriver::queue_joystick(mc_ctrl_t& c, int axis, int operation) {
  switch (operation) {
    case 0: return mc_enable_joy(c, axis);
    case 1: return mc_disable_joy(c, axis);
    default: return 0;
  }
}
// Moves are never held back: each one starts when it is sent.
int NovaDriver::delay_motion(mc_ctrl_t&, int) { return 0; }
int NovaDriver::get_delay_motion(mc_ctrl_t&, int* collecting) {
  *collecting = 0;
  return 0;
}
int NovaDriver::home_axes(mc_ctrl_t& c, const int* axes, int count) {
  return mc_home_axes_nova(c, axes, count);
}
int NovaDriver::cancel_delayed_motion(mc_ctrl_t&) { return 0; }
int NovaDriver::enable_auto_clamp(mc_ctrl_t&) { return 0; }
int NovaDriver::disable_auto_clamp(mc_ctrl_t&) { return 0; }
int NovaDriver::enable_auto_focus(mc_ctrl_t&) { return 0; }
int NovaDriver::disable_auto_focus(mc_ctrl_t&) { return 0; }
int NovaDriver::auto_focus_zero_set(mc_ctrl_t&) { return 0; }
int NovaDriver::auto_focus_zero_clear(mc_ctrl_t&) { return 0; }
int NovaDriver::is_auto_focus_enabled(mc_ctrl_t&, int* yes) {
  *yes = 0;
  return 0;
}
int NovaDriver::is_auto_focus_zero_set(mc_ctrl_t&, int* yes) {
  *yes = 0;
  return 0;
}
int NovaDriver::is_stage_clamped(mc_ctrl_t&, int* yes) {
  *yes = 0;
  return 0;
}
int NovaDriver::num_axes(const mc_ctrl_t&) const { return kAxes; }
int NovaDriver::supports_ext_closed_loop(mc_ctrl_t& c, int axis, int* yes) {
  return mc_supports_ext_closed_loop_nova(c, axis, yes);
}
int NovaDriver::get_ext_closed_loop(mc_ctrl_t& c, int axis, int* on) {
  return mc_get_ext_closed_loop_nova(c, axis, on);
}
int NovaDriver::set_ext_closed_loop(mc_ctrl_t& c, int axis, int on) {
  return mc_set_ext_closed_loop_nova(c, axis, on);
}
int NovaDriver::amplifier_fault(mc_ctrl_t& c, int axis, int* fault) {
  return mc_amplifier_fault_nova(c, axis, fault);
}
int NovaDriver::align_view_indicator(mc_ctrl_t&, int) { return 0; }
int NovaDriver::close(mc_ctrl_t& c) { return mc_close_comm_nova(c); }
int NovaDriver::open(mc_ctrl_t& c, const char* name, int, int, int* result, int* done) {
  const int err = mc_open_comm_nova(c, name);
  if (result != nullptr) *result = err;
  if (done != nullptr) *done = 1;
  return err;
}
int NovaDriver::recover(mc_ctrl_t& c) { return mc_recover_comm_nova(c); }
