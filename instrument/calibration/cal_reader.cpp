// Reading the system calibration file into a slot: the line loop with its
// error recovery, the validation of the result and the values derived from
// the model.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "common/dirs.h"
#include "common/errors.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_grammar.h"
#include "instrument/calibration/cal_report.h"
#include "instrument/calibration/cal_tokens.h"
#include "instrument/serial/device_table.h"
#include "instrument/serial/serial_port.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

using cal::bad_pixel_count;

// Skips the rest of a line and its line feed; false at the end of the input.
bool discard_line(CalCharSource& src) {
  for (;;) {
    const int c = src.get();
    if (c == CalCharSource::kEof) return false;
    if (c == '\n') return true;
  }
}

int missing(const char* message) {
  sb_calError("%s", message);
  return ERR_SB_CALFILE_INCOMPLETE;
}

// The checks that a finished read is complete; the first failing one
// decides the result. Some only inform.
int validate(const sysInfo_t& s, uint32_t seen) {
  using namespace cal;
  const int32_t board = s.instrBdType;
  const int32_t sys = s.systemType;
  if (sys == SYS_UNKNOWN) return missing("Missing system type info.");
  if ((seen & SEEN_VERSION) == 0)
    return missing("Missing frame grabber and instrument board Version info.");
  if (!is_one_of(board, {BD_NONE, BD_DUNE, BD_NOTNEEDED}) && (seen & SEEN_INSTRCOMM) == 0) {
    return missing("Missing InstrComm info.");
  }
  if (is_one_of(sys, {SYS_DUNE, SYS_LUMEN, SYS_EMBER}) && (seen & SEEN_INVERTDATA) == 0) {
    return missing("Missing InvertData info.");
  }
  if (board == BD_CAN && (seen & SEEN_INSTRCOMM) == 0)
    return missing("Missing MAC Address for CAN bus.");
  if (sys == SYS_LUMEN && s.motionCtrl[0].empty()) u_log_fn("Missing MotionCtrl info.\n");
  if (sys == SYS_HERON || sys == SYS_HERON_CAN) {
    bool incomplete = false;
    if ((seen & SEEN_WMCOMM) == 0) {
      u_log_fn("Calibration file missing wave monitor comm info\n");
      incomplete = true;
    }
    if ((seen & SEEN_WMMONOPD) == 0) {
      u_log_fn("Calibration file missing wave monitor OPD info\n");
      incomplete = true;
    }
    if (incomplete) return ERR_SB_CALFILE_INCOMPLETE;
  }
  if (is_one_of(sys, {SYS_IRIS_CAN, SYS_KITE2, SYS_KITE2CAN}) && (seen & SEEN_WMSYSGAIN) == 0) {
    u_log_fn("Calibration file missing system gain.\n");
  }
  if ((seen & SEEN_BADLIST) != 0 && (seen & SEEN_BADFILE) != 0) {
    sb_calError("Bad Camera pixels specified twice using: camera bad or bpixels and camera bpix");
    return ERR_SB_CALFILE_INVALID;
  }
  if ((seen & SEEN_LLCTARGET) == 0 && needs_llc_target(board, sys))
    return missing("Missing LLCTarget info.");
  if (s.frameGrabber != FG_NONE && s.cameraType == CAM_UNKNOWN)
    return missing("Missing Camera Type info.");
  if ((board == BD_SABLE || board == BD_DUNE) && (seen & SEEN_LIGHT) == 0)
    return missing("Missing Light info.");
  if (is_one_of(sys, {SYS_BIRCH3, SYS_BIRCH5, SYS_BIRCH7, SYS_BIRCH9, SYS_FJORD1, SYS_FJORD2,
                      SYS_FJORD4, SYS_FJORD5, SYS_BIRCH10, SYS_LUMEN}) &&
      (seen & SEEN_PIFOC) == 0) {
    return missing("Missing PIFOC info.");
  }
  return 0;
}

// Fills in the light level ranges the file did not give (or may not give).
void derive_ranges(sysInfo_t& s, int given_values) {
  const LlcDefaults d = llc_default_ranges(s.instrBdType, s.systemType, s.cameraType);
  if (d.has_range && (d.forced || given_values < 2)) s.llcRange[0] = d.range;
  if (d.has_second && given_values < 4) s.llcRange[1] = d.second;
}

// Motorised axes the model cannot have are switched off, with a note.
void check_model(sysInfo_t& s) {
  if (s.instrBdType != BD_CAN && s.zoom == 2) {
    sb_calError("This instrument cannot have a motorized zoom.");
    s.zoom = 0;
  }
  if (s.instrBdType == BD_CAN && (s.systemType == SYS_FJORD1 || s.systemType == SYS_FJORD4) &&
      !sb_hasDualBrushMotor(&s)) {
    if (s.turret != 0) {
      sb_calError("This instrument cannot have a motorized turret, no dual brush motor board.");
      s.turret = 0;
      s.turret2 = 1;
    }
    if (s.zoom != 0) {
      sb_calError("This instrument cannot have a motorized zoom, no dual brush motor board.");
      s.zoom = 0;
    }
  }
}

}  // namespace

LlcDefaults llc_default_ranges(int32_t board, int32_t system_type, int32_t camera_type) {
  LlcDefaults d;
  auto range = [&d](uint16_t low, uint16_t high) {
    d.has_range = true;
    d.range = {low, high};
  };
  auto cobalt = [&]() {
    d.forced = true;
    range(2, camera_type == CAM_DGFLY1024 ? 800 : 532);
  };
  switch (board) {
    case BD_KITE:
    case BD_IRIS: range(10, 159); break;
    case BD_DUNE:
      if (system_type == SYS_COBALT) {
        cobalt();
      } else {
        range(0, 4095);
      }
      break;
    case BD_NOTNEEDED:
      if (system_type == SYS_COBALT) {
        cobalt();
      } else {
        d.forced = true;
        range(10, 159);
      }
      break;
    case BD_LUMEN: range(0, 3685); break;
    case BD_SABLE:
      range(0, 4095);
      d.has_second = true;
      d.second = {0, 100};
      break;
    case BD_CAN:
      range(0, 65535);
      d.has_second = true;
      d.second = {0, 65535};
      break;
    default: break;
  }
  return d;
}

bool needs_llc_target(int32_t board, int32_t system_type) {
  return board == BD_KITE || is_one_of(system_type, {SYS_KITECAN, SYS_HERON_CAN, SYS_ALDER4,
                                                     SYS_GLENCAN, SYS_IRIS_CAN});
}

int cal_open_stream(const char* path, std::optional<CalCharSource>* stream) {
  std::FILE* f = plat::open_file(path, "rb");
  if (f == nullptr) {
    sb_calError("Cannot open file for reading.");
    return ERR_CANT_READ_FILE;
  }
  if (plat::is_terminal(f)) {
    std::fclose(f);
    u_log_fn("sb_readCal attempt from terminal device\n");
    return ERR_CANT_READ_FILE;
  }
  stream->emplace(CalCharSource::from_stream(f));
  return 0;
}

}  // namespace felbrin

sysInfo_t* sb_resetCal(sysInfo_t* info) {
  if (info == nullptr) return nullptr;
  sysInfo_t fresh;
  // What carries over from one read to the next.
  fresh.calFilePath = std::move(info->calFilePath);
  fresh.fd = info->fd;
  fresh.acqFlag = info->acqFlag;
  fresh.fileSelector = info->fileSelector;
  for (int k = 0; k < 2; ++k) {
    std::copy(std::begin(info->lightSource[k].pairs), std::end(info->lightSource[k].pairs),
              std::begin(fresh.lightSource[k].pairs));
  }
  fresh.currentLightSource = info->currentLightSource;
  fresh.pifoc = std::move(info->pifoc);
  fresh.acq = std::move(info->acq);
  std::copy(std::begin(info->cameraConfig), std::end(info->cameraConfig),
            std::begin(fresh.cameraConfig));
  fresh.splitValue2 = info->splitValue2;
  fresh.dynWaveGen = std::move(info->dynWaveGen);
  fresh.wmComm = std::move(info->wmComm);
  fresh.wmSysGain = info->wmSysGain;
  fresh.boardLink = info->boardLink;
  fresh.tempPort = info->tempPort;
  fresh.waveMonitor = info->waveMonitor;
  // A set-up motion controller holds an open line registered in the device
  // table; dropping it here would leave that line open for good, and the
  // next mc_setup could not open the port again. Like the board link it
  // lives until it is closed.
  fresh.motionCtrlInfo = std::move(info->motionCtrlInfo);
  *info = std::move(fresh);
  return info;
}

namespace {

// Out of the device table first, so that its worker never polls a closed
// line; a line the table does not know is closed all the same.
void close_owned_line(sio_port_t& port) {
  if (port.handle == SIO_INVALID_HANDLE) return;
  if (dev_is_registered(port.handle)) (void)dev_remove_device(port.handle);
  (void)sio_close(&port);
}

}  // namespace

int sb_clearCal(int slot) {
  if (slot < 0 || slot >= SB_SLOTS) return ERR_PARAM_OUT_OF_RANGE;
  sysInfo_t& info = sysInfo[slot];
  close_owned_line(info.boardLink.port);
  close_owned_line(info.waveMonitor.port);
  close_owned_line(info.tempPort);
  if (info.motionCtrlInfo) McCtrlDelete::close(*info.motionCtrlInfo);
  info = sysInfo_t{};
  return 0;
}

int sb_openCal(const char* path, int selector, std::string* resolved,
               std::optional<felbrin::CalCharSource>* stream) {
  const std::string name =
      path != nullptr && *path != '\0' ? std::string(path) : u_host_file_name(selector);
  const char* found = nullptr;
  const int rc = u_find_file(name.c_str(), &found);
  if (rc != 0) {
    sb_calError("Cannot access file.");
    return rc;
  }
  *resolved = found;
  const std::string shown = plat::display_path(resolved->c_str());
  felbrin::cal_read_context().path = shown;
  u_log_fn("Reading system calibration file: \"%s\"\n", shown.c_str());
  return felbrin::cal_open_stream(resolved->c_str(), stream);
}

namespace felbrin {

// The line loop of a read, then (for a file) the validation and derived
// values.
int cal_read_lines(sysInfo_t& info, CalCharSource& src, bool inline_text, int bad_pixels,
                   uint32_t seen) {
  CalReadContext& context = cal_read_context();
  cal::Reader r{src, info, 0, false, bad_pixels, seen, 0};
  // A stop keeps the status of the line it stopped on; a read that ran to
  // the end is judged by its messages.
  int stop_status = 0;
  for (int line = 1;; ++line) {
    context.line = line;
    r.status = 0;
    const int32_t first = sb_readKeyword(src, &r.status);
    if (r.status != 0) {  // a first word not in the table ends the read
      stop_status = r.status;
      break;
    }
    if (first != TOK_EOF && first != TOK_EOL) cal::apply_rule(r, first);
    if (r.out_of_memory) return ERR_NO_MEM;
    if (inline_text) return r.status;
    if (r.status == ERR_EOF) {
      stop_status = ERR_EOF;
      break;
    }
    if (r.status != 0) sb_calError("Error in line %d.", line);
    if (context.error_count >= 10) {
      stop_status = r.status != 0 ? r.status : ERR_SB_CALFILE_INVALID;
      break;
    }
    if (!discard_line(src)) break;
  }
  context.line = 0;
  if (stop_status != 0) return stop_status;
  if (context.error_count != 0) return ERR_SB_CALFILE_INVALID;

  const int result = validate(info, r.seen);
  if (result != 0) return result;
  derive_ranges(info, r.llc_range_values);
  check_model(info);
  return 0;
}

int cal_read_stream(sysInfo_t& info, CalCharSource& src) {
  cal_read_context().clear();
  sb_resetCal(&info);
  return cal_read_lines(info, src, false, 0, 0);
}

}  // namespace felbrin

int sb_readCal(int slot, const char* source) {
  using namespace felbrin;
  CalReadContext& context = cal_read_context();
  context.clear();
  if (slot < 0 || slot >= SB_SLOTS) return ERR_PARAM_OUT_OF_RANGE;
  sysInfo_t& info = sysInfo[slot];

  std::optional<CalCharSource> src;
  const bool inline_text = source != nullptr && source[0] == '+';
  int bad_pixels = 0;
  uint32_t seen = 0;
  if (inline_text) {
    if (std::strcmp(source, "+DEFAULTS") == 0) {
      sb_resetCal(&info);
      return 0;
    }
    src.emplace(CalCharSource::from_text(source + 1));
    context.inline_text = source;
    bad_pixels = bad_pixel_count(info);
    seen = cal::SEEN_ALL;
  } else {
    std::string resolved;
    const int rc = sb_openCal(source, info.fileSelector, &resolved, &src);
    if (rc != 0) return rc;
    info.calFilePath = std::move(resolved);
    sb_resetCal(&info);
  }

  return cal_read_lines(info, *src, inline_text, bad_pixels, seen);
}
