// The LED node (61) and the brush-motor node (63): light level, turret and zoom.
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

// ---- node 61
int can_write_led_setup(sysInfo_t* s, uint8_t value) {
  if (const int err = board(s)) return err;
  return write_value(Obj::LedSetup, value);
}

int can_write_llc(sysInfo_t* s, uint16_t level, int invert) {
  if (const int err = board(s)) return err;
  return write_value(Obj::LlcWrite, inverted(level, invert));
}

int can_read_llc(sysInfo_t* s, uint16_t* level, int invert) {
  if (const int err = board(s)) return err;
  uint16_t raw = 0;
  if (const int err = read_narrow(Obj::LlcRead, &raw)) return err;
  *level = inverted(raw, invert);
  return 0;
}

int can_write_llc_avgcurlmt(sysInfo_t* s, uint32_t limit) {
  if (const int err = board(s)) return err;
  if (limit > 1000) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::LlcAvgCurLmt, limit);
}

int can_write_llc_fwdvlt(sysInfo_t* s, uint32_t millivolts) {
  if (const int err = board(s)) return err;
  if (millivolts > 10000) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::LlcFwdVlt, millivolts);
}

int can_write_llc_pwmfreq(sysInfo_t* s, uint32_t hertz) {
  if (const int err = board(s)) return err;
  if (hertz > 1000000) return ERR_PARAM_OUT_OF_RANGE;
  return write_value(Obj::LlcPwmFreq, hertz);
}

int can_set_llc_range(sysInfo_t* s, int32_t range) {
  int err = board(s);
  if (err == 0) {
    uint32_t limit = 1000;
    uint32_t voltage = 4500;
    if (range == 0 || range == 1) {
      const uint8_t source = s->currentLightSource < 2 ? s->currentLightSource : 0;
      limit = s->lightSource[source].pairs[range].avgCurLimit;
      voltage = s->lightSource[source].pairs[range].fwdVoltage;
    }
    // A zero in the record means "keep what the LED node has".
    if (limit != 0) err = can_write_llc_avgcurlmt(s, limit);
    if (err == 0 && voltage != 0) err = can_write_llc_fwdvlt(s, voltage);
  }
  if (err != 0) u_log_fn("%s failed: %s\n", "can_set_llc_range", err_name(err));
  return err;
}

// ---- node 63
namespace {
int turret_guard(const sysInfo_t* s) {
  if (const int err = board(s)) return err;
  return s->turret == 1 || s->turret == 2 ? 0 : ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE;
}

bool encoded_zoom(const sysInfo_t* s) {
  return s->zoom == 1 &&
         static_cast<uint32_t>(s->canInfo->brushProductId) == CAN_BRUSH_PRODUCT_ENCODED_ZOOM;
}

int zoom_guard(const sysInfo_t* s) {
  if (const int err = board(s)) return err;
  if (s->zoom == 0) return ERR_ZOOM_NOT_AVAILABLE;
  return s->canInfo ? 0 : ERR_SYS_INFO_NOT_AVAIL;
}

constexpr uint8_t kZoomRawUnknown = 15;
int32_t motor_zoom_position(uint8_t raw) { return raw == kZoomRawUnknown ? CAN_ZOOM_UNKNOWN : raw; }
}  // namespace

int can_read_turret_status(sysInfo_t* s, uint8_t* status) {
  if (const int err = turret_guard(s)) return err;
  return read_narrow(Obj::TurretStatus, status);
}

int can_read_turret(sysInfo_t* s, uint8_t* position) {
  if (const int err = turret_guard(s)) return err;
  return read_narrow(Obj::Turret, position);
}

int can_read_zoom(sysInfo_t* s, int32_t* position) {
  if (const int err = zoom_guard(s)) return err;
  uint8_t raw = 0;
  if (const int err = read_narrow(Obj::Zoom, &raw)) return err;
  if (!encoded_zoom(s)) {
    *position = motor_zoom_position(raw);
    return 0;
  }
  // The encoded changer counts its positions the other way round.
  constexpr int32_t kEncoded[8] = {0, 6, 5, 4, 3, 2, 1, 7};
  if (raw >= std::size(kEncoded)) {
    *position = 0;
    return ERR_PARAM_OUT_OF_RANGE;
  }
  *position = kEncoded[raw];
  int32_t unknown = kLastZoomUnknown;
  last_zoom().compare_exchange_strong(unknown, *position);
  return 0;
}

int can_read_all_zoom(sysInfo_t* s) {
  if (const int err = zoom_guard(s)) return err;
  if (encoded_zoom(s)) return ERR_INVALID_PARAM;
  int32_t* positions = s->canInfo->zoomPos;
  std::fill(positions, positions + CAN_ZOOM_POSITIONS, CAN_ZOOM_UNKNOWN);
  constexpr int32_t kBytes = 6;
  uint8_t raw[kBytes] = {};
  if (const int err = read_bytes(Obj::AllZoom, raw)) return err;
  // One byte per position: a seventh position has no byte and stays unknown.
  const int32_t n = std::min(s->can.zoomPositions, kBytes);
  for (int32_t i = 0; i < n; ++i) positions[i] = motor_zoom_position(raw[i]);
  return 0;
}

int can_get_brmtr_config(sysInfo_t* s) {
  if (const int err = board(s)) return err;
  uint8_t raw[2] = {};
  if (const int err = read_bytes(Obj::BrmtrConfig, raw)) return err;
  s->can.zoomPositions = raw[0] & 7;
  s->can.turretPositions = raw[1] & 7;
  return 0;
}
