// The calibration lines whose form does not fit the listed pattern: the
// system line, version, MAC address, instrument name, camera lines, bad
// pixels, split and camera transform.
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
#include "instrument/calibration/cal_grammar_internal.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/calibration/cal_tokens.h"
#include "platform/platform.h"

namespace felbrin::cal::grammar {

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
  const bool writable =
      (s.systemType >= 4 && s.systemType <= 8) || (s.systemType >= 10 && s.systemType <= 35);
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
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') &&
        hex_digit(word[2]) >= 0) {
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
    default: fail(r, kSyntax, "Unexpected token."); return;
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
  const bool known =
      (s.cameraType >= 1 && s.cameraType <= 9) || (s.cameraType >= 11 && s.cameraType <= 32);
  if (!known && s.instrBdType != BD_NONE)
    write_fault(w, ERR_SB_CAL_INFO_INCOMPLETE, "Camera Type undefined.");
  // A record read line by line may have got its board after its custom
  // camera; written in the file's order it would not read back.
  if (s.cameraType == CAM_CUSTOM && !custom_camera_fits(s.instrBdType)) {
    write_fault(w, ERR_SB_CALFILE_INCONSISTENT,
                "Camera Type CUSTOM does not fit the instrument board.");
  }
  // The reader has no word for an unknown camera (nor for type 10), so the
  // line is left out.
  if (s.cameraType == CAM_UNKNOWN || s.cameraType == CAM_INFRACAMA) return;
  put_keyword(w, row.name);
  put_value_text(w, name_of(kCameras, s.cameraType));
  const uint8_t* bytes = s.cameraConfig;
  const bool custom_byte0 =
      s.cameraType == CAM_CUSTOM && is_one_of(s.instrBdType, {BD_CAN, BD_NOTNEEDED});
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

}  // namespace felbrin::cal::grammar
