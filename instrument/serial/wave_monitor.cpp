// The wave monitor's line, its reply reader, one operation per command, the
// calibration read-out and the check of a ramp against the tuning limits.
#include "instrument/serial/wave_monitor.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/util.h"
#include "instrument/record/sys_info.h"

namespace {

// ---- the commands: one row each, read by the operations and the log lines

enum class Cmd { laser_get, laser_set, status, gain, cal, cl, ss, ramp_range };

struct CmdRow {
  Cmd cmd;
  const char* text;  // the argument, if any, follows
  int type;
  int resp_len;
};

constexpr CmdRow kCommands[] = {
    {Cmd::laser_get, "LO?", WM_RESP_READ_ACK, 4},
    {Cmd::laser_set, "LO=", WM_RESP_ACK, 0},
    {Cmd::status, "MS?", WM_RESP_READ_ACK, 36},
    {Cmd::gain, "CC?", WM_RESP_READ_ACK, 4},
    {Cmd::cal, "CC?", WM_RESP_READ_ACK, 40},
    {Cmd::cl, "CL=", WM_RESP_ACK, 0},
    {Cmd::ss, "SS=", WM_RESP_ACK, 0},
    {Cmd::ramp_range, "RR=", WM_RESP_READ_ACK, 8},
};

consteval bool rows_in_order() {
  for (std::size_t i = 0; i < std::size(kCommands); ++i) {
    if (static_cast<std::size_t>(kCommands[i].cmd) != i) return false;
  }
  return true;
}
static_assert(rows_in_order(), "one row per command, in the order of Cmd");

const CmdRow& row(Cmd cmd) { return kCommands[static_cast<std::size_t>(cmd)]; }

constexpr int kFirstByteSeconds = 10;
constexpr int kLaserPolls = 10;
constexpr int kLaserPollMs = 1000;
constexpr uint32_t kLaserOnBit = 1u << 15;
constexpr int kMaxBuckets = 3800;
constexpr double kLimitSlack = 0.001;
constexpr double kHuge = std::numeric_limits<double>::infinity();
// value * 10^7 must stay an int32; NaN fails the test as written.
constexpr double kClLimit = 214.7;
constexpr double kClScale = 1e7;

// ---- conversions

uint32_t le32(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
int32_t le_int(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<int32_t>(le32(b, at));
}
float le_float(std::span<const uint8_t> b, std::size_t at) {
  const uint32_t bits = le32(b, at);
  float f = 0;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
uint16_t le16(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// printf's "%f", identical on every platform (the Windows C runtime's is not).
std::string fixed(double v) {
  std::array<char, 400> text{};  // the largest double has 309 digits
  const auto res =
      std::to_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed, 6);
  return {text.data(), res.ptr};
}

// ---- the reader

bool read_byte(sio_handle_t handle, uint8_t& byte) {
  uint32_t got = 0;
  return sio_read_data(handle, &byte, 1, &got) == 0;
}

// The first byte may be long in coming (the monitor works before it
// answers), so it gets its own timeout; the port's comes back afterwards.
int read_first_byte(sio_handle_t handle, int timeout_s, uint8_t& byte) {
  uint32_t saved = 0;
  if (const int rc = sio_get_read_timeout_ms(handle, &saved); rc != 0) return rc;
  const int64_t seconds = timeout_s >= 1 ? timeout_s : kFirstByteSeconds;
  const auto wanted = static_cast<uint32_t>(
      std::min<int64_t>(seconds * 1000, std::numeric_limits<uint32_t>::max()));
  if (wanted != saved) {
    if (const int rc = sio_set_read_timeout_ms(handle, wanted); rc != 0) return rc;
  }
  const bool ok = read_byte(handle, byte);
  (void)sio_set_read_timeout_ms(handle, saved);
  return ok ? 0 : ERR_WM_TIMEOUT;
}

// Why a read failed, for the log line.
class Detail {
 public:
  int set(int code, const char* format, ...) FELBRIN_PRINTF(3, 4) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text_.data(), text_.size(), format, args);
    va_end(args);
    return code;
  }
  bool empty() const { return text_[0] == '\0'; }
  const char* c_str() const { return text_.data(); }

 private:
  std::array<char, 160> text_{};
};

// The byte ending a reply, or the only byte of an ACK reply.
int judge(uint8_t byte, const char* prefix, Detail& detail) {
  if (byte == WM_ACK) return 0;
  if (byte == WM_NAK) return detail.set(ERR_WM_NAK, "%sreceived NAK", prefix);
  return detail.set(ERR_WM_READ, "%sinvalid response 0x%2.2X, expected ACK or NAK", prefix, byte);
}

// Reads bytes `from` to `to` - 1 of the reply, one at a time.
int read_bytes(sio_handle_t handle, wm_reply_t& reply, int from, int to, const char* what,
               int total, Detail& detail) {
  for (int i = from; i < to; ++i) {
    if (!read_byte(handle, reply.data[i])) {
      return detail.set(ERR_WM_READ, "%s %d of %d", what, i + 1, total);
    }
  }
  return 0;
}

int read_reply(sio_port_t* port, wm_reply_t* reply, int resp_len, int item_size, int type,
               int timeout_s, Detail& detail) {
  if (port == nullptr || reply == nullptr) return ERR_INVALID_PARAM;
  const sio_handle_t h = port->handle;
  uint8_t first = 0;
  if (const int rc = read_first_byte(h, timeout_s, first); rc != 0) return rc;
  if (const int rc = mx_list_resize(reply, 1, true); rc != 0) return rc;
  reply->data[0] = first;

  switch (type) {
    case WM_RESP_ACK: return judge(first, "WM_RESP_ACK: ", detail);
    case WM_RESP_READ: {
      if (resp_len <= 0)  // a read of no bytes is refused
        return detail.set(ERR_WM_READ, "WM_RESP_READ: invalid respLen = %d", resp_len);
      if (const int rc = mx_list_resize(reply, int64_t{resp_len} + 1, true); rc != 0) return rc;
      reply->data[0] = first;
      reply->count = resp_len;
      return read_bytes(h, *reply, 1, resp_len,
                        "WM_RESP_READ: sio_read_data failed reading response byte", resp_len,
                        detail);
    }
    case WM_RESP_READ_ACK: {
      if (resp_len <= 0)
        return detail.set(ERR_WM_READ, "WM_RESP_READ_ACK: invalid respLen = %d", resp_len);
      if (resp_len == std::numeric_limits<int>::max()) return ERR_PARAM_OUT_OF_RANGE;
      const int total = resp_len + 1;
      if (const int rc = mx_list_resize(reply, total, true); rc != 0) return rc;
      reply->data[0] = first;
      if (const int rc = read_bytes(h, *reply, 1, total,
                                    "WM_RESP_READ_ACK: sio_read_data failed reading response char",
                                    total, detail);
          rc != 0) {
        return rc;
      }
      return judge(reply->data[resp_len], "WM_RESP_READ_ACK: ", detail);
    }
    case WM_RESP_SIZE_READ_ACK: {
      std::array<uint8_t, 4> count_bytes{first, 0, 0, 0};
      for (int i = 1; i < 4; ++i) {
        if (!read_byte(h, count_bytes[static_cast<std::size_t>(i)])) {
          return detail.set(ERR_WM_READ,
                            "WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte %d of %d",
                            i + 1, 4);
        }
      }
      // The count comes from the wire: work the size out where nothing
      // overflows and refuse what no monitor sends.
      const uint32_t n = le32(count_bytes, 0);
      const int64_t total = int64_t{resp_len} + int64_t{n} * item_size + 5;
      if (!(item_size >= 0 && 5 <= total && total <= WM_MAX_REPLY_BYTES)) {
        return detail.set(ERR_WM_READ, "WM_RESP_SIZE_READ_ACK: invalid item count %u", n);
      }
      if (const int rc = mx_list_resize(reply, total, true); rc != 0) return rc;
      std::copy(count_bytes.begin(), count_bytes.end(), reply->data);
      const int t = static_cast<int>(total);
      if (const int rc =
              read_bytes(h, *reply, 4, t,
                         "WM_RESP_SIZE_READ_ACK: sio_read_data failed reading byte", t, detail);
          rc != 0) {
        return rc;
      }
      return judge(reply->data[t - 1], "WM_RESP_SIZE_READ_ACK: ", detail);
    }
    default: return 0;
  }
}

// Sends the command of `cmd` with its argument and copies its reply data
// (the row's respLen bytes) into `data`.
int exchange(sio_port_t* port, Cmd cmd, const std::string& argument, std::span<uint8_t> data = {}) {
  const CmdRow& r = row(cmd);
  const std::string text = r.text + argument;
  wm_reply_t reply{};
  const int rc = wm_comm_write_rd(port, text.c_str(), &reply, r.resp_len, -1, r.type, 0);
  if (rc == 0 && reply.data != nullptr) {
    const auto n = std::min(
        {data.size(), static_cast<std::size_t>(r.resp_len), static_cast<std::size_t>(reply.size)});
    std::copy_n(reply.data, n, data.begin());
  }
  mx_list_release(&reply);
  return rc;
}

const sb_wave_monitor_t& monitor(const sysInfo_t& info) { return info.waveMonitor; }

}  // namespace

// ---- systems

bool wm_is_wm_system(const sysInfo_t* info) {
  if (info == nullptr || info->instrBdType == BD_NONE) return false;
  const int32_t t = info->systemType;
  return t == SYS_HERON || t == SYS_KITE2 || t == SYS_HERON_CAN || t == SYS_KITE2CAN ||
         t == SYS_IRIS_CAN;
}

bool wm_is_tuned_system(const sysInfo_t* info) {
  return wm_is_wm_system(info) &&
         (info->systemType == SYS_HERON || info->systemType == SYS_HERON_CAN);
}

double wm_convert_units(double value, int from, int to) {
  constexpr double kScales[] = {1.0, 1e3, 1e6, 1e9, 1e12};
  const auto scale = [&](int code) { return kScales[static_cast<std::size_t>(code - WM_UNIT_1)]; };
  const auto known = [](int code) { return WM_UNIT_1 <= code && code <= WM_UNIT_1E12; };
  if (!known(from) || !known(to)) return kHuge;
  return value * scale(from) / scale(to);
}

// ---- the line

int wm_comm_open_fd(sio_port_t* port, const char* device) {
  if (port == nullptr || device == nullptr) return ERR_INVALID_PARAM;
  constexpr sio_line_settings_t kLine{.baud = 115200, .parity = 0};
  const int err = sio_open_configured(device, kLine, port);
  if (err == 0) return 0;
  u_log_fn("%s: error initializing device %s: %s\n", "wm_comm_open_fd", device, err_name(err));
  return ERR_WM_COMM;
}

int wm_comm_open(sysInfo_t* info) {
  if (info == nullptr) return ERR_INVALID_PARAM;
  return wm_comm_open_fd(&info->waveMonitor.port, info->wmComm.c_str());
}

int wm_comm_close(sio_port_t* port) { return port == nullptr ? 0 : sio_close(port); }

int wm_flush_inp(sio_port_t* port) {
  if (port == nullptr) return ERR_INVALID_PARAM;
  if (sio_clear_buffer(port->handle) != 0) {
    u_log_fn("%s: sio_clear_buffer failed\n", "wm_flush_inp");
    return ERR_WM_COMM;
  }
  return 0;
}

// The monitor takes the text and its CR as two writes; it has always been
// sent so, and nothing suggests it minds either way.
int wm_comm_write(sio_port_t* port, const char* command) {
  if (port == nullptr) return 0;
  if (command == nullptr) return ERR_INVALID_PARAM;
  const auto n = static_cast<uint32_t>(std::strlen(command));
  uint32_t written = 0;
  if (sio_send_data(port->handle, command, n, &written) != 0) {
    u_log_fn("%s: sio_send_data failed, sendPacket = \"%s\", nbytes = %d\n", "wm_comm_write",
             command, static_cast<int>(n));
    return ERR_WM_COMM;
  }
  if (sio_send_data(port->handle, &WM_CR, 1, &written) != 0) {
    u_log_fn("%s: sio_send_data failed, nbytes = 1\n", "wm_comm_write");
    return ERR_WM_COMM;
  }
  return 0;
}

int wm_comm_read(sio_port_t* port, wm_reply_t* reply, int resp_len, int item_size, int type,
                 int timeout_s) {
  Detail detail;
  const int rc = read_reply(port, reply, resp_len, item_size, type, timeout_s, detail);
  if (rc == 0) return 0;
  u_log_timed("%s: %s", "wm_comm_read", err_name(rc));
  if (detail.empty()) {
    u_log_fn("\n");
  } else {
    u_log_fn(": %s\n", detail.c_str());
  }
  if (reply != nullptr) mx_list_release(reply);
  return rc;
}

int wm_comm_write_rd(sio_port_t* port, const char* command, wm_reply_t* reply, int resp_len,
                     int item_size, int type, int timeout_s) {
  if (const int rc = wm_comm_write(port, command); rc != 0) return rc;
  const int rc = wm_comm_read(port, reply, resp_len, item_size, type, timeout_s);
  if (rc != 0) {
    u_log_timed("%s: error reading response to command \"%s\": %s\n", "wm_comm_write_rd", command,
                err_name(rc));
  }
  return rc;
}

// ---- commands

int wm_get_laser(sio_port_t* port, int32_t* state) {
  if (state == nullptr) return ERR_INVALID_PARAM;
  std::array<uint8_t, 4> data{};
  const int rc = exchange(port, Cmd::laser_get, "", data);
  if (rc == 0) *state = le_int(data, 0);
  return rc;
}

int wm_set_laser(sio_port_t* port, int on) {
  return exchange(port, Cmd::laser_set, on == 1 ? "1" : "0");
}

// Its own order of pause, idle hook, poll and abort hook: the laser is
// looked at once more after the user asked to stop.
int wm_set_laser_with_wait(sio_port_t* port, int on) {
  if (const int rc = wm_set_laser(port, on); rc != 0) return rc;
  const bool wanted = on == 1;  // what wm_set_laser asked for
  for (int i = 0; i < kLaserPolls; ++i) {
    u_sleep_ms(kLaserPollMs);
    u_idle_fn();
    int32_t state = 0;
    if (const int rc = wm_get_laser(port, &state); rc != 0) return rc;
    if (((static_cast<uint32_t>(state) & kLaserOnBit) != 0) == wanted) return 0;
    if (u_abort_fn(nullptr) != 0) return ERR_FELBRIN_ABORTED;
  }
  u_log_fn("%s: timeout waiting for laser to switch %s\n", "wm_set_laser_with_wait",
           wanted ? "ON" : "OFF");
  return ERR_WM_LASER_CONTROL_TIMEOUT;
}

int wm_read_status(sio_port_t* port, wm_status_t* status) {
  if (status == nullptr) return ERR_INVALID_PARAM;
  *status = wm_status_t{};
  std::array<uint8_t, 36> data{};
  const int rc = exchange(port, Cmd::status, "", data);
  if (rc != 0) return rc;
  status->reserved = le_int(data, 0);
  status->value1 = le_float(data, 4);
  status->value2 = le_float(data, 8);
  status->maxTuneRange = le_float(data, 12);
  status->minTuneRate = le_float(data, 16);
  status->maxTuneRate = le_float(data, 20);
  status->secondsSinceCal = le32(data, 24);
  status->value7 = le_int(data, 28);
  status->flags = le32(data, 32);
  return 0;
}

int wm_read_gain(sio_port_t* port, float* gain) {
  if (gain == nullptr) return ERR_INVALID_PARAM;
  std::array<uint8_t, 4> data{};
  const int rc = exchange(port, Cmd::gain, "", data);
  if (rc == 0) *gain = le_float(data, 0);
  return rc;
}

int wm_set_cl(sio_port_t* port, double value) {
  if (!(-kClLimit < value && value < kClLimit)) return ERR_PARAM_OUT_OF_RANGE;
  return exchange(port, Cmd::cl, std::to_string(u_saturated_int(value * kClScale)));
}

int wm_set_ss(sio_port_t* port, float value) { return exchange(port, Cmd::ss, fixed(value)); }

int wm_set_ramp_range(sio_port_t* port, int32_t first, int32_t second, int32_t* out1,
                      int32_t* out2) {
  if (out1 == nullptr || out2 == nullptr) return ERR_INVALID_PARAM;
  std::array<uint8_t, 8> data{};
  const int rc =
      exchange(port, Cmd::ramp_range, std::to_string(first) + "," + std::to_string(second), data);
  if (rc != 0) return rc;
  *out1 = le_int(data, 0);
  *out2 = le_int(data, 4);
  return 0;
}

// ---- calibration

namespace {

// The 40-byte calibration reply, field by field into the block.
int read_four_channel_cal(sb_wave_monitor_t& wm) {
  std::array<uint8_t, 40> data{};
  if (const int rc = exchange(&wm.port, Cmd::cal, "", data); rc != 0) return rc;
  for (std::size_t k = 0; k < 4; ++k) {
    wm.adcGain[k] = le_float(data, 4 * k);
    wm.adcOffset[k] = le16(data, 20 + 2 * k);
  }
  wm.sysGain = le_float(data, 16);
  for (std::size_t k = 0; k < 3; ++k) wm.phaseOffset[k] = le_float(data, 28 + 4 * k);
  return 0;
}

}  // namespace

int wm_read_cal(sysInfo_t* info) {
  if (info == nullptr) return ERR_INVALID_PARAM;
  sb_wave_monitor_t& wm = info->waveMonitor;
  int64_t now = 0;
  u_get_time(&now, nullptr);
  wm_status_t status{};
  if (const int rc = wm_read_status(&wm.port, &status); rc != 0) return rc;
  wm.status1 = status.value1;
  wm.status2 = status.value2;
  wm.status7 = status.value7;
  wm.flags = status.flags;
  wm.flagsTop = status.flags & WM_FLAG_TOP_BITS;
  wm.calibrated = (status.flags & WM_FLAG_CALIBRATED) != 0 ? 1 : 0;
  wm.secondsSinceCal = status.secondsSinceCal;
  if (wm.calibrated == 0) {
    wm.calTime = 0;
    return 0;
  }
  wm.calTime = now - status.secondsSinceCal;

  // A monitor that has not said which form it has is asked again; the
  // flags of that second answer are the ones kept.
  bool four_channel = (status.flags & WM_FLAG_FOUR_CHANNEL_CAL) != 0;
  if (!four_channel && (status.flags & WM_FLAG_GAIN_ONLY) == 0) {
    wm_status_t again{};
    if (const int rc = wm_read_status(&wm.port, &again); rc != 0) return rc;
    wm.flags = again.flags;
    wm.flagsTop = again.flags & WM_FLAG_TOP_BITS;
    four_channel = (again.flags & WM_FLAG_FOUR_CHANNEL_CAL) != 0;
  }
  std::fill(std::begin(wm.adcGain), std::end(wm.adcGain), 0.0f);
  std::fill(std::begin(wm.adcOffset), std::end(wm.adcOffset), uint16_t{0});
  std::fill(std::begin(wm.phaseOffset), std::end(wm.phaseOffset), 0.0);
  const int rc = four_channel ? read_four_channel_cal(wm) : wm_read_gain(&wm.port, &wm.sysGain);
  if (rc != 0) return rc;

  wm.minTuneRange = 0;
  wm.maxTuneRange = wm_convert_units(status.maxTuneRange, WM_UNIT_1E6, WM_UNIT_1);
  wm.minTuneRate = wm_convert_units(status.minTuneRate, WM_UNIT_1E6, WM_UNIT_1);
  wm.maxTuneRate = wm_convert_units(status.maxTuneRate, WM_UNIT_1E6, WM_UNIT_1);
  return 0;
}

int wm_print_cal(const sysInfo_t* info) {
  if (info == nullptr) return ERR_INVALID_PARAM;
  const sb_wave_monitor_t& wm = monitor(*info);
  if (wm.calibrated == 0) {
    u_log_fn("Wave monitor not calibrated\n");
    return 0;
  }
  std::array<char, U_TIME_TEXT_SIZE> when{};
  u_time_text(wm.calTime, when.data());
  u_log_fn("Wave monitor calibrated %s\n", when.data());
  if ((wm.flags & WM_FLAG_FOUR_CHANNEL_CAL) != 0) {
    constexpr char kChannels[] = "ABCD";
    for (std::size_t k = 0; k < 4; ++k)
      u_log_fn("ADC Gain %c : %s\n", kChannels[k], fixed(wm.adcGain[k]).c_str());
    for (std::size_t k = 0; k < 4; ++k)
      u_log_fn("ADC Offs %c : %u\n", kChannels[k], unsigned{wm.adcOffset[k]});
    constexpr const char* kPairs[] = {"01", "12", "23"};
    for (std::size_t k = 0; k < 3; ++k)
      u_log_fn("Phs Offs %s: %s\n", kPairs[k], fixed(wm.phaseOffset[k]).c_str());
  }
  u_log_fn("System Gain: %s\n", fixed(wm.sysGain).c_str());
  return 0;
}

// ---- tuning limits

int wm_get_tune_limits(const sysInfo_t* info, double* min_rate, double* max_rate, double* min_range,
                       double* max_range) {
  double lo_rate = 0, hi_rate = kHuge, lo_range = 0, hi_range = 1.5e11;
  if (wm_is_wm_system(info)) {
    lo_rate = info->wmTuneRateMin;
    hi_rate = info->wmTuneRateMax;
    lo_range = info->wmTuneRangeMin;
    hi_range = info->wmTuneRangeMax;
    if (wm_is_tuned_system(info)) {
      const sb_wave_monitor_t& wm = monitor(*info);
      if (wm.calibrated == 0) {
        lo_rate = hi_rate = lo_range = hi_range = 0;
      } else {
        lo_rate = std::max(lo_rate, wm.minTuneRate);
        lo_range = std::max(lo_range, 0.0);
        hi_range = std::min(hi_range, wm.maxTuneRange);
        hi_rate = std::min(hi_rate, wm.maxTuneRate);
      }
    }
  }
  if (min_rate != nullptr) *min_rate = lo_rate;
  if (max_rate != nullptr) *max_rate = hi_rate;
  if (min_range != nullptr) *min_range = lo_range;
  if (max_range != nullptr) *max_range = hi_range;
  return 0;
}

// The checks go in this order (range, too fast, buckets, too slow), and a
// rate equal to the minimum counts as too slow: callers know the codes so.
int wm_verify_ramp_in_limits(const sysInfo_t* info, const wm_ramp_request_t* request) {
  if (info == nullptr || request == nullptr) return ERR_INVALID_PARAM;
  double min_rate = 0, max_rate = 0, max_range = 0;
  if (const int rc = wm_get_tune_limits(info, &min_rate, &max_rate, nullptr, &max_range); rc != 0)
    return rc;
  const double range = request->range;
  if (range - max_range > kLimitSlack) {
    u_log_fn("%s: req_range = %s too large\n", "wm_verify_ramp_in_limits",
             fmt_g_string(range).c_str());
    return ERR_WM_TUNE_RANGE_TOO_LARGE;
  }
  // A rate of NaN would pass every comparison below.
  const double fps = monitor(*info).frameRate;
  if (!(request->buckets > 0 && fps > 0 && std::isfinite(fps) && std::isfinite(range)))
    return ERR_INVALID_PARAM;
  const double rate = range / (request->buckets / fps);
  if (rate - max_rate > kLimitSlack) {
    u_log_fn("%s: req_rate = %s too fast\n", "wm_verify_ramp_in_limits",
             fmt_g_string(rate).c_str());
    return ERR_WM_TUNE_RANGE_TOO_LARGE;
  }
  if (request->buckets > kMaxBuckets) {
    u_log_fn("%s: req_buckets = %d is too big\n", "wm_verify_ramp_in_limits", request->buckets);
    return ERR_WM_NUM_BUCKETS_TOO_LARGE;
  }
  if (rate - min_rate < kLimitSlack) {
    u_log_fn("%s: req_rate = %s is too slow\n", "wm_verify_ramp_in_limits",
             fmt_g_string(rate).c_str());
    return ERR_WM_TUNE_RATE_TOO_SLOW;
  }
  return 0;
}
