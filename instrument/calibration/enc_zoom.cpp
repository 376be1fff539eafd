// The encoded zoom's calibration file and the zoom node's set-up. The error
// texts are built whole into the caller's string (the caller decides whether
// to print them), with blanks around each part as the zoom tools expect.
#include "instrument/calibration/enc_zoom.h"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/number_format.h"
#include "common/parsers_internal.h"
#include "common/text_line.h"
#include "instrument/calibration/enc_zoom_internal.h"
#include "instrument/can/can_nodes.h"
#include "instrument/record/sys_info.h"
#include "platform/host_platform.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

constexpr std::size_t kLineMax = 512;  // characters, the line end not counted
constexpr int kMinPairs = 2;
constexpr int kMaxPairs = 100;
// The largest float: both numbers are stored in single precision.
constexpr double kMagnitudeMax = 3.4028234663852886e38;
constexpr double kPositionMin = 0;
constexpr double kPositionMax = kMagnitudeMax;
constexpr double kMagMin = 0.5;
constexpr double kMagMax = 6;

constexpr uint8_t kZoomNode = CAN_NODE_ID_FOCUS_NDW;
constexpr uint8_t kPositionMode = 3;
// Backlash compensation and the old soft-limit handling need this firmware.
constexpr uint16_t kFirmwareMajor = 4;
constexpr uint16_t kFirmwareMinor = 3;

std::string range(double lo, double hi) {
  std::string out = "[";
  out += fmt_g_string(lo);
  out += ',';
  out += fmt_g_string(hi);
  out += ']';
  return out;
}

std::string quoted_heading(std::string_view what, const char* name) {
  return std::string(what) + " Kite encoded zoom magnification calibration file \"" +
         plat::display_path(name) + "\" \n";
}

// White space as the C locale's isspace sees it.
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One of the pair forms: the first number, then `between` matched as a
// formatted read matches it (a blank matches any run of white space, even
// none; any other character must come next), then the second number. Text
// after the second number is not looked at.
bool read_pair(const char* text, std::string_view between, double& x, double& y) {
  const ParsedReal first = parse_c_double(text);
  if (!first.found) return false;
  const char* p = first.end;
  for (const char c : between) {
    if (c == ' ') {
      while (is_blank(*p)) ++p;
    } else if (*p++ != c) {
      return false;
    }
  }
  const ParsedReal second = parse_c_double(p);
  if (!second.found) return false;
  x = first.value;
  y = second.value;
  return true;
}

constexpr std::string_view kPairForms[] = {" ", ",", ", "};

class CalReader {
 public:
  CalReader(std::FILE* f, const char* name) : f_(f), name_(name) {}

  int run(u_pair_table_t& table, std::string* message) {
    const int rc = read_all();
    if (rc == 0) {
      rc_ = u_pair_table_assign(
          &table, std::span<const u_pair_t>(pairs_.data(), static_cast<std::size_t>(count_)));
      return rc_;
    }
    if (message != nullptr) *message = quoted_heading(" Error reading", name_) + text_;
    return rc;
  }

 private:
  int read_all() {
    int number = 0;
    while (read_text_line(f_, kLineMax, line_)) {
      ++number;
      if (line_.length > kLineMax)
        return fail(" Line longer than " + std::to_string(kLineMax) + " characters \n", number);
      if (number == 1) continue;  // the title
      double x = 0, y = 0;
      bool found = false;
      for (const std::string_view form : kPairForms)
        if ((found = read_pair(line_.text.c_str(), form, x, y))) break;
      if (!found)
        return fail(
            " Expected two numbers (position and magnification) separated by a comma and/or space. "
            "\n",
            number);
      if (const int rc = take(x, y, number)) return rc;
    }
    if (count_ < kMinPairs)
      return fail(" Too few position and magnification value pairs (minimum is " +
                  std::to_string(kMinPairs) + ") \n");
    return 0;
  }

  // The checks in order; written so that NaN fails the first.
  int take(double x, double y, int number) {
    if (!(std::fabs(x) <= kMagnitudeMax) || !(std::fabs(y) <= kMagnitudeMax))
      return fail(" Magnitude of number is unreasonable. \n", number);
    if (count_ == kMaxPairs)
      return fail(" Too many position and magnification value pairs (maximum is " +
                  std::to_string(kMaxPairs) + "). \n");
    if (!(kPositionMin <= x && x <= kPositionMax))
      return fail(" Position value is out of range " + range(kPositionMin, kPositionMax) + " \n",
                  number);
    if (!(kMagMin <= y && y <= kMagMax))
      return fail(" Magnification value is out of range " + range(kMagMin, kMagMax) + " \n",
                  number);
    const u_pair_t pair{static_cast<float>(x), static_cast<float>(y)};
    if (count_ > 0) {
      // Compared as stored, so the table itself is strictly increasing.
      const u_pair_t& last = pairs_[static_cast<std::size_t>(count_ - 1)];
      if (!(pair.x > last.x))
        return fail(" Position values are not in strictly increasing order. \n", number);
      if (!(pair.y > last.y))
        return fail(" Magnification values are not in strictly increasing order. \n", number);
    }
    pairs_[static_cast<std::size_t>(count_++)] = pair;
    return 0;
  }

  // `number` 0: a message about the whole file, without a line.
  int fail(std::string what, int number = 0) {
    text_ = std::move(what);
    if (number > 0) {
      text_ += " Error in line " + std::to_string(number);
      text_ += line_.text.empty() ? " \n" : ": \n  " + line_.text + " \n";
    }
    return ERR_KITE_ENC_ZOOM_INVALID_CAL_FILE;
  }

  std::FILE* f_;
  const char* name_;
  TextLine line_;
  std::array<u_pair_t, kMaxPairs> pairs_{};
  int count_ = 0;
  int rc_ = 0;
  std::string text_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::optional<sb_file_stamp_t> stamp_of(const char* path) {
  plat::host::FileStamp st;
  if (!plat::host::file_stamp(path, st)) return std::nullopt;
  return sb_file_stamp_t{st.modified, st.changed, st.size};
}

int forget(sb_enc_zoom_t& zoom, int rc) {
  u_pair_table_clear(&zoom.calTable);
  zoom.calLoadedPath.clear();
  zoom.calStamp.reset();
  return rc;
}

int load(sb_enc_zoom_t& zoom, std::string* message) {
  if (zoom.calTable.count > 0 && !zoom.calLoadedPath.empty()) {
    const std::optional<sb_file_stamp_t> now = stamp_of(zoom.calLoadedPath.c_str());
    if (!now) {
      zoom.calLoadedPath.clear();
    } else if (zoom.calStamp && *now == *zoom.calStamp) {
      return 0;
    }
  }
  std::string path = zoom.calLoadedPath;
  if (path.empty()) {
    const std::string name =
        zoom.calFile.empty() ? u_path_join("Kite", "ZoomCal.txt") : zoom.calFile;
    const char* found = nullptr;
    if (u_find_file(name.c_str(), &found) != 0) {
      if (message != nullptr) *message = quoted_heading(" Cannot access", name.c_str());
      return forget(zoom, ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE);
    }
    path = found;
  }
  // Taken before the read: a change made while reading shows at the next load.
  const std::optional<sb_file_stamp_t> before = stamp_of(path.c_str());
  u_pair_table_t table;
  if (const int rc = kite_enc_zoom_read_cal(path.c_str(), &table, message)) return forget(zoom, rc);
  zoom.calTable = std::move(table);
  u_log_fn("Kite encoded zoom calibration data loaded from file %s\n",
           plat::display_path(path.c_str()).c_str());
  zoom.calLoadedPath = std::move(path);
  zoom.calStamp = before;
  return 0;
}

int write_node(uint16_t index, uint8_t sub, uint32_t value, uint32_t width, const char* caller) {
  uint8_t bytes[4] = {};
  for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return can_sdo_write2(kZoomNode, index, sub, bytes, width, 1, ERR_CAN_SDO_ENC_ZOOM_ERROR, caller);
}

sb_enc_zoom_t* fitted_zoom(sysInfo_t* s) {
  if (s == nullptr || !s->encZoom || (s->encZoom->config & 1) == 0) return nullptr;
  return s->encZoom.get();
}

}  // namespace

int read_enc_zoom_cal_stream(std::FILE* f, const char* name, u_pair_table_t* table,
                             std::string* message) {
  if (message != nullptr) message->clear();
  if (f == nullptr || table == nullptr) return ERR_INVALID_PARAM;
  try {
    return CalReader(f, name != nullptr ? name : "").run(*table, message);
  } catch (const std::bad_alloc&) {
    return ERR_NO_MEM;
  }
}

}  // namespace felbrin

int kite_enc_zoom_read_cal(const char* path, u_pair_table_t* table, std::string* message) {
  if (message != nullptr) message->clear();
  if (path == nullptr || table == nullptr) return ERR_INVALID_PARAM;
  const std::unique_ptr<std::FILE, felbrin::FileCloser> f(plat::open_file(path, "rb"));
  if (!f) {
    if (message != nullptr) {
      try {
        *message = felbrin::quoted_heading(" Cannot open", path);
      } catch (const std::bad_alloc&) {
        return ERR_NO_MEM;
      }
    }
    return ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE;
  }
  return felbrin::read_enc_zoom_cal_stream(f.get(), path, table, message);
}

int kite_enc_zoom_load_cal(sb_enc_zoom_t* zoom, std::string* message) {
  if (message != nullptr) message->clear();
  if (zoom == nullptr) return ERR_INVALID_PARAM;
  try {
    return felbrin::load(*zoom, message);
  } catch (const std::bad_alloc&) {
    return felbrin::forget(*zoom, ERR_NO_MEM);
  }
}

int kite_enc_zoom_check_firmware(sysInfo_t* s) {
  uint16_t major = 0, minor = 0;
  if (const int err = can_read_version(s, felbrin::kZoomNode, &major, &minor)) return err;
  if (major > felbrin::kFirmwareMajor ||
      (major == felbrin::kFirmwareMajor && minor >= felbrin::kFirmwareMinor))
    return 0;
  u_log_fn("Kite encoded zoom firmware version %d.%d is old", major, minor);
  u_log_fn("; version %d.%d or later is required\n", felbrin::kFirmwareMajor,
           felbrin::kFirmwareMinor);
  return ERR_KITE_ENC_ZOOM_FIRMWARE_VERSION_OLD;
}

int kite_enc_zoom_set_motion_mode(sysInfo_t* s) {
  if (s == nullptr || !s->encZoom) return ERR_SYS_INFO_NOT_AVAIL;
  if (const int err = felbrin::write_node(0x2002, 0, felbrin::kPositionMode, 1,
                                          "kite_enc_zoom_set_motion_mode"))
    return err;
  return kite_enc_zoom_set_soft_limits(s->encZoom->wandLim[0], s->encZoom->wandLim[1]);
}

int kite_enc_zoom_set_soft_limits(int32_t low, int32_t high) {
  constexpr const char* kName = "kite_enc_zoom_set_soft_limits";
  if (const int err = felbrin::write_node(0x607D, 1, static_cast<uint32_t>(low), 4, kName))
    return err;
  return felbrin::write_node(0x607D, 2, static_cast<uint32_t>(high), 4, kName);
}

int kite_enc_zoom_set_backlash(sysInfo_t* s) {
  sb_enc_zoom_t* zoom = felbrin::fitted_zoom(s);
  if (zoom == nullptr) return 0;
  if (const int err = kite_enc_zoom_check_firmware(s)) return err;
  if (const int err = kite_enc_zoom_set_motion_mode(s)) return err;
  if (const int err = felbrin::write_node(0x2019, 0, static_cast<uint32_t>(zoom->backlash), 4,
                                          "kite_enc_zoom_set_backlash"))
    return err;
  const int rc = kite_enc_zoom_load_cal(zoom, nullptr);
  return rc == ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE ? 0 : rc;
}
