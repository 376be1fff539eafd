// Node access shared by every family: the transfers, the bridge firmware gates and identity.
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

namespace {

// One transfer: `in` is filled by a read, `out` is sent by a write.
int sdo(uint8_t node, uint16_t index, uint8_t sub, uint8_t* in, const uint8_t* out, uint32_t count,
        int activity, int sdo_error, const char* caller) {
  can_transfer_result_t result{};
  int32_t status = 0;
  const Dir dir = in != nullptr ? Dir::read : Dir::write;
  int err =
      dir == Dir::read
          ? can_api_call(&can_api_t::sdo_read, &status, node, index, sub, in, count, &result)
          : can_api_call(&can_api_t::sdo_write, &status, node, index, sub, out, count, &result);
  if (activity != 0) signal_activity();
  const char* wrapper = dir == Dir::read ? "can_sdo_read2" : "can_sdo_write2";
  if (err == 0 && status == CAN_OK) {
    if (result.status == CAN_OK) return 0;
    u_log_fn("%s called by %s: err=%s, result=%d, abortcode=%8.8" PRIX32 "\n", wrapper, caller,
             err_name(sdo_error), static_cast<int>(result.status), result.abort_code);
    return sdo_error;
  }
  if (err == 0) err = can_status_to_error(status);
  u_log_fn("%s called by %s: err=%s\n", wrapper, caller, err_name(err));
  return err;
}

}  // namespace

using namespace felbrin::can;

int can_status_to_error(int32_t status) {
  switch (status) {
    case CAN_OK: return 0;
    case CAN_ERR_GENERAL: return ERR_CAN_ERROR;
    case CAN_ERR_NOT_CONNECTED: return ERR_CAN_NOT_CONNECTED;
    case CAN_ERR_TIMEOUT: return ERR_CAN_TIMEOUT;
    case CAN_ERR_LINK_LOST: return ERR_CAN_TCP_TRANSMISSION_ERROR;
    case CAN_ERR_BUFFER_TOO_SMALL: return ERR_CAN_BUFFER_TOO_SMALL;
    case CAN_ERR_NO_PDO: return ERR_CAN_NO_PDO;
    default: return ERR_UNKNOWN;
  }
}

int can_sdo_read2(uint8_t node, uint16_t index, uint8_t sub, void* data, uint32_t count,
                  int activity, int sdo_error, const char* caller) {
  if (data == nullptr) return ERR_INVALID_PARAM;
  return sdo(node, index, sub, static_cast<uint8_t*>(data), nullptr, count, activity, sdo_error,
             caller != nullptr ? caller : "?");
}

int can_sdo_write2(uint8_t node, uint16_t index, uint8_t sub, const void* data, uint32_t count,
                   int activity, int sdo_error, const char* caller) {
  if (data == nullptr) return ERR_INVALID_PARAM;
  return sdo(node, index, sub, nullptr, static_cast<const uint8_t*>(data), count, activity,
             sdo_error, caller != nullptr ? caller : "?");
}

// ---- firmware gates: each byte tested on its own, as the bridge firmware
// numbers them, not as a version order.
bool can_bridge_has_config_word(const sysInfo_t* s) {
  return s != nullptr && s->canInfo && (s->canInfo->fwMajor > 1 || s->canInfo->fwMinor > 11);
}
bool can_bridge_has_pi_status(const sysInfo_t* s) {
  return s != nullptr && s->canInfo && s->canInfo->fwMajor >= 6 && s->canInfo->fwMinor >= 6;
}
bool can_bridge_has_ramp_table(const sysInfo_t* s) {
  return s != nullptr && s->canInfo && s->canInfo->fwMajor >= 7 && s->canInfo->fwMinor >= 3;
}

// ---- identity
int can_read_productID(sysInfo_t* s, uint8_t node, uint32_t* product) {
  if (const int err = board(s)) return err;
  return read_value(Obj::ProductId, product, {.node = node});
}

int can_read_version(sysInfo_t* s, uint8_t node, uint16_t* major, uint16_t* minor) {
  if (const int err = board(s)) return err;
  uint32_t revision = 0;
  if (const int err = read_value(Obj::Version, &revision, {.node = node})) return err;
  *major = static_cast<uint16_t>(revision >> 16);
  *minor = static_cast<uint16_t>(revision & 0xFFFF);
  return 0;
}

int can_read_pzt_status(sysInfo_t* s, uint8_t node, uint8_t* status) {
  if (const int err = board(s)) return err;
  if (node == CAN_NODE_ID_TRIPLEPZT) return read_narrow(Obj::PztStatus, status);
  if (node == CAN_NODE_ID_LARGEAP) return read_narrow(Obj::LapsStatus, status);
  return ERR_INVALID_PARAM;
}
