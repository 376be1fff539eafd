// The bridge node (127): ramps, the pifoc offset, the bridge's own objects and the PI scanner.
#include "instrument/can/can_nodes.h"

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_objects_internal.h"
#include "instrument/can/can_state.h"
#include "instrument/ramps/ramp_file.h"

using namespace felbrin::can;
using namespace felbrin::can::objects;

// ---- node 127
int can_ramp_start(sysInfo_t* s) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return can_pi_ramp_start(s);
  return write_value(Obj::RampStart, 1);
}

int can_read_ramp_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return can_read_pi_ramp_status(s, status);
  return read_narrow(Obj::RampStatus, status);
}

int can_write_ramp_select(sysInfo_t* s, int32_t ramp) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return can_write_pi_ramp_select(s, ramp);
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::RampSelect, static_cast<uint32_t>(ramp));
}

int can_read_ramp_valid(sysInfo_t* s, int32_t ramp, uint8_t* valid) {
  if (const int err = board(s)) return err;
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  if (pi_digital_scanner(s)) {
    *valid = 1;
    return 0;
  }
  return read_narrow(Obj::RampValid, valid, {.index_offset = static_cast<uint16_t>(ramp)});
}

int can_write_ramp_trigger(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr) {
  if (const int err = board(s)) return err;
  if (hdr == nullptr) return ERR_INVALID_PARAM;
  // Any other ramp number would land on the bridge's own entries above 0x2006.
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  const double numerator = static_cast<double>(hdr->trigStartAddr) * hdr->cameraRate;
  const double denominator = static_cast<double>(hdr->sampleClkFreq) * 1000.0;
  // A zero clock gives the quotient's limit, spelled out so that no build
  // traps on the division.
  double quotient = NAN;
  if (denominator != 0.0)
    quotient = numerator / denominator;
  else if (numerator != 0.0)
    quotient = std::copysign(INFINITY, numerator);
  const double frame = std::floor(quotient + 0.5);
  constexpr double kFrames = 256;
  if (!std::isfinite(frame) || frame < 0 || frame >= kFrames) {
    int shown = 0;
    if (frame >= static_cast<double>(INT_MAX))
      shown = INT_MAX;
    else if (frame <= static_cast<double>(INT_MIN))
      shown = INT_MIN;
    else if (std::isfinite(frame))
      shown = static_cast<int>(frame);
    u_log_fn("%s: calculated frameNumber=%d outside of valid range\n", "can_write_ramp_trigger",
             shown);
    return ERR_PARAM_OUT_OF_RANGE;
  }
  return write_value(Obj::RampTrigger, static_cast<uint32_t>(frame),
                     {.index_offset = static_cast<uint16_t>(ramp)});
}

int can_write_ramp_rate(sysInfo_t* s, int32_t ramp, double rate) {
  if (const int err = board(s)) return err;
  if (!ramp_in_range(ramp) || !(rate >= 0 && rate <= 200)) return ERR_PARAM_OUT_OF_RANGE;
  return write_float(Obj::RampRate, rate * 1000, {.index_offset = static_cast<uint16_t>(ramp)});
}

int can_write_ramp_data(sysInfo_t* s, int32_t ramp, const rr_ramp_hdr_t* hdr,
                        const uint16_t* points) {
  if (const int err = board(s)) return err;
  if (hdr == nullptr || hdr->nPoints < 0 || (hdr->nPoints > 0 && points == nullptr))
    return ERR_INVALID_PARAM;
  if (!ramp_in_range(ramp)) return ERR_PARAM_OUT_OF_RANGE;
  const Entry& e = row(Obj::RampData);
  constexpr int32_t kNodePoints = 16384;
  if (hdr->nPoints > kNodePoints) {
    u_log_fn("%s: ramp of %d points, the node holds %d\n", e.name, static_cast<int>(hdr->nPoints),
             static_cast<int>(kNodePoints));
  }
  // The node always takes a whole block; a shorter ramp is padded with zeros.
  std::vector<uint8_t> block(e.width, 0);
  const int32_t n = std::min(hdr->nPoints, kNodePoints);
  for (int32_t i = 0; i < n; ++i)
    to_le(points[i], block.data() + 2 * static_cast<std::size_t>(i), 2);
  return can_sdo_write2(e.node, static_cast<uint16_t>(e.index + ramp), e.sub, block.data(), e.width,
                        1, e.sdo_error, e.name);
}

int can_write_pifoc_offset(sysInfo_t* s, uint32_t offset, int wait) {
  if (const int err = board(s)) return err;
  if (pi_digital_scanner(s)) return 0;
  if (offset > 0xFFFF) return ERR_PARAM_OUT_OF_RANGE;
  if (const int err = write_value(Obj::PifocOffset, offset)) return err;
  if (s->pifoc) s->pifoc->offsetTime = u_time_now();
  if (wait == 0) return 0;
  if (!s->pifoc) return ERR_WRONG_SYSTEM_TYPE;
  constexpr int kPolls = 20;
  constexpr int kPollMs = 100;
  for (int poll = 0; poll < kPolls; ++poll) {
    if (poll > 0) {
      if (const int err = u_poll_pause(kPollMs)) return err;
    }
    uint8_t status = 0;
    if (const int err = can_read_ramp_status(s, &status)) return err;
    if (status == 0) return 0;
  }
  return ERR_RAMP_WAIT_TIMEOUT;
}

int can_read_bridge_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = board(s)) return err;
  return read_narrow(Obj::BridgeStatus, status);
}

int can_bridge_read_config(sysInfo_t* s, uint16_t* word) {
  if (const int err = board(s)) return err;
  return read_narrow(Obj::BridgeConfigRead, word);
}

int can_bridge_write_config(sysInfo_t* s, uint16_t word) {
  if (const int err = board(s)) return err;
  return write_value(Obj::BridgeConfigWrite, word);
}

int can_write_fg_trigger(sysInfo_t* s, uint16_t value) {
  if (const int err = board(s)) return err;
  if (can_bridge_has_config_word(s)) return write_value(Obj::FgTrigger, value);
  return write_value(Obj::FgTrigger, value & 0xFFu, {.width = 1});
}

int can_write_syncgen(sysInfo_t* s, double value) {
  if (const int err = board(s)) return err;
  if (!(value >= 0 && value <= 100000)) return ERR_PARAM_OUT_OF_RANGE;
  return write_float(Obj::SyncGen, value);
}

int can_read_pi_ramp_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  uint32_t word = 0;
  const Obj id = can_bridge_has_pi_status(s) ? Obj::PiStatusNew : Obj::PiStatusOld;
  if (const int err = read_value(id, &word)) return err;
  constexpr uint8_t kRunning = 3;
  *status = word != 0 ? kRunning : 0;
  return 0;
}

int can_write_pi_ramp_select(sysInfo_t* s, int32_t ramp) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  const int32_t tables = s->pifoc->type == 1 ? 15 : 100;
  if (ramp < 1 || ramp > tables) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::PiSelect, static_cast<uint32_t>(ramp));
}

namespace {
int read_pi_float(sysInfo_t* s, Obj id, float* value) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  uint32_t bits = 0;
  if (const int err = read_value(id, &bits)) return err;
  *value = std::bit_cast<float>(bits);
  return 0;
}
}  // namespace

int can_read_pi_ramp_amplitude(sysInfo_t* s, float* value) {
  return read_pi_float(s, Obj::PiAmplitude, value);
}
int can_read_pi_ramp_velocity(sysInfo_t* s, float* value) {
  return read_pi_float(s, Obj::PiVelocity, value);
}

int can_pi_ramp_start(sysInfo_t* s) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  return write_value(Obj::PiStart, 1);
}

int can_pi_load_ddl_tables(sysInfo_t* s, uint16_t* tables) {
  if (const int err = board(s)) return err;
  constexpr int32_t kPi751 = 2;
  if (!s->pifoc || s->pifoc->type != kPi751) return ERR_INVALID_PARAM;
  if (const int err = write_value(Obj::PiLoadTables, 0)) return err;
  // The scanner needs this long to take the tables in before it counts them.
  constexpr int kLoadMs = 2000;
  if (const int err = u_poll_pause(kLoadMs)) return err;
  return can_read_pi_serial_integer(s, tables);
}

int can_read_pi_serial_integer(sysInfo_t* s, uint16_t* tables) {
  if (const int err = board(s)) return err;
  if (!pi_digital_scanner(s)) return ERR_INVALID_PARAM;
  return read_narrow(Obj::PiSerialInteger, tables);
}

int can_bridge_write_digitalout(sysInfo_t* s, uint8_t value) {
  if (const int err = board(s)) return err;
  return write_value(Obj::DigitalOutWrite, value);
}

int can_bridge_read_digitalout(sysInfo_t* s, uint8_t* value) {
  if (const int err = board(s)) return err;
  return read_narrow(Obj::DigitalOutRead, value);
}

int can_set_align_illumination_diode(sysInfo_t* s, int on) {
  if (const int err = board(s)) return err;
  if (!s->canInfo) return ERR_SYS_INFO_NOT_AVAIL;
  const uint8_t major = s->canInfo->fwMajor;
  const uint8_t minor = s->canInfo->fwMinor;
  if (major == 0) return 0;  // firmware not known: leave the diode alone
  if (major < 10 || (major == 10 && minor < 9)) {
    // Older bridges drive the diode from digital output 0, active low.
    uint8_t outputs = 0;
    if (const int err = can_bridge_read_digitalout(s, &outputs)) return err;
    outputs = on != 0 ? static_cast<uint8_t>(outputs & ~1u) : static_cast<uint8_t>(outputs | 1u);
    return can_bridge_write_digitalout(s, outputs);
  }
  if (const int err = write_value(Obj::AlignEnable, 1)) return err;
  return write_value(Obj::AlignDiode, on != 0 ? 1u : 0u);
}
