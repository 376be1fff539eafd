/// @file
/// The system calibration file: reading a slot of the system information
/// record from it (or from one keyword line), resetting and clearing a slot,
/// and writing a slot back as a file.
#pragma once

#include <optional>
#include <string>

#include "common/hooks.h"
#include "instrument/calibration/char_source.h"
#include "instrument/record/sys_info.h"

// ---- reading

/// Fills a slot from calibration data. `source`: null or "" reads the slot's
/// default file; "+DEFAULTS" only resets the slot; any other text starting
/// with '+' is one keyword line applied to the slot as it stands; anything
/// else is the path of a calibration file. A file read frees the slot's CAN
/// bridge record (canInfo), whose MAC address the CAN and motion subsystems
/// use: do not read a slot again while its CAN instrument is connected.
int sb_readCal(int slot, const char* source);

/// Puts every field that has a reset value back to it; the fields that carry
/// over from one read to the next are left alone.
sysInfo_t* sb_resetCal(sysInfo_t* info);

/// Returns a slot to the state it has when the program starts, as if it had
/// never been read: unlike a read, which keeps the host's lines and a few
/// values from one read to the next (sb_resetCal), nothing carries over.
/// Every text and sub-record the slot holds is freed (pifoc, CAN bridge
/// record, DynWaveGen, the ramp table...), and what the slot owns is closed:
/// the instrument board's, the wave monitor's and the temperature
/// controller's lines (taken out of the device table first) and a set-up
/// motion controller. What the process holds rather than the slot is left
/// alone: the CAN bridge connection and the acquisition library; power the
/// CAN instrument off, close acquisition and stop the sleep-mode and gain
/// control threads before clearing a slot they use. Tools that read one file
/// after another clear the slot before each, so no file inherits another's
/// values. ERR_PARAM_OUT_OF_RANGE for a slot outside 0..SB_SLOTS - 1.
int sb_clearCal(int slot);

/// Finds, names, opens and checks a calibration file (null or "" for the
/// default name of `selector`): the resolved path, whole, goes to `resolved`
/// and the open file to `stream`. It also becomes the path named in error
/// headings of the read in progress.
int sb_openCal(const char* path, int selector, std::string* resolved,
               std::optional<felbrin::CalCharSource>* stream);

namespace felbrin {
/// Reads calibration lines into a record as a file read does: reset, lines,
/// validation and derived values. The error heading names no file.
int cal_read_stream(sysInfo_t& info, CalCharSource& src);
/// The text sb_writeCal writes for a record; the fault code (0 when none)
/// goes to *result.
std::string cal_write_text(const sysInfo_t& info, int* result);
/// Opens a calibration file found by name and refuses a terminal: 0, or
/// ERR_CANT_READ_FILE with its message.
int cal_open_stream(const char* path, std::optional<CalCharSource>* stream);
}  // namespace felbrin

/// The text of the last Remote line read; nothing else uses it.
const std::string& sb_remoteText();

// ---- writing

/// Writes a slot as a calibration file: to `path`, or (null) to the slot's
/// default file in the configuration directory. The destination is replaced
/// only when the whole record was written.
int sb_writeCal(int slot, const char* path);

/// The writer's error reporter (heading "Error writing system calibration
/// file" once per write).
int sb_calWriteError(const char* format, ...) FELBRIN_PRINTF(1, 2);

// ---- rules shared by the reader's derivations and the writer

namespace felbrin {

/// The light level ranges the reader derives (llc_default_ranges).
struct LlcDefaults {
  /// A range the reader fills in when the file gives none.
  bool has_range = false;
  sb_range_t range;         ///< the range, when has_range
  bool has_second = false;  ///< a second range is filled in too
  sb_range_t second;        ///< the second range, when has_second
  /// The range is set whatever the file says.
  bool forced = false;
};

/// The light level ranges the reader derives for a board, system type and camera.
LlcDefaults llc_default_ranges(int32_t board, int32_t system_type, int32_t camera_type);

/// Whether a record of this board and system type must carry an LLC Target line.
bool needs_llc_target(int32_t board, int32_t system_type);

}  // namespace felbrin
