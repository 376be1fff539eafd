#include "instrument/system/can_bringup.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "common/errors.h"
#include "common/event.h"
#include "common/hooks.h"
#include "instrument/acquisition/cam_bad.h"
#include "instrument/calibration/enc_zoom.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_events.h"
#include "instrument/can/can_nodes.h"
#include "instrument/control/agc.h"
#include "instrument/control/sleep_mode.h"
#include "instrument/ramps/ramp_table.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/wave_monitor.h"
#include "platform/host_platform.h"

namespace {

// ---- the steps of other subsystems
int first_ramp_offset(sysInfo_t* s, uint32_t* offset) {
  for (const char kind : {'b', 'u'}) {
    if (const rr_ramp_info_t* ramp = rr_first_ramp_of_kind(s, kind)) {
      *offset = static_cast<uint32_t>(ramp->header.offset);
      return 0;
    }
  }
  return ERR_NO_RAMP_INFO;
}

CanInstServices make_defaults() {
  CanInstServices d{};
  d.agc_init = [](sysInfo_t*) { return can_agc_init(); };
  d.agc_hold = [](sysInfo_t* s) { return can_agc_suspend(s, 1); };
  d.agc_release = [](sysInfo_t* s) { return can_agc_suspend(s, 0); };
  d.agc_stop = [](sysInfo_t*) { return can_agc_release(); };
  d.load_ramps = rr_get_ramp_info;
  d.pifoc_offset = first_ramp_offset;
  d.wave_monitor_setup = wm_comm_open;
  d.wave_monitor_calibrate = wm_read_cal;
  d.enc_zoom_backlash = kite_enc_zoom_set_backlash;
  d.bad_pixel_table = gen_cam_ped_filename;
  d.sleep_mode_start = [](sysInfo_t* s) {
    if (sleep_mode_applies(s)) sleep_mode_start(s);
    return 0;
  };
  d.sleep_mode_stop = [](sysInfo_t*) {
    sleep_mode_stop();
    return 0;
  };
  return d;
}

std::mutex g_services_mutex;
CanInstServices g_services = make_defaults();

// A step of another subsystem; an empty entry has nothing to do.
template <class... Args>
int service(int (*CanInstServices::*entry)(sysInfo_t*, Args...), sysInfo_t* s, Args... args) {
  const auto fn = can_inst_services().*entry;
  return fn != nullptr ? fn(s, args...) : 0;
}

// "CAN_NDWHEEL_STOPPED" as the power-on made it, held until power-off.
std::shared_ptr<felbrin::Event> g_ndw_stopped;

// ---- library calls
constexpr int32_t kUnbound = INT32_MIN;  // the status of a call with no library bound

template <class Fn, class... Args>
int32_t lib(Fn* can_api_t::*op, Args... args) {
  int32_t status = kUnbound;
  can_api_call(op, &status, args...);
  return status;
}

int to_error(int32_t status) {
  return status == kUnbound ? ERR_CAN_NOT_AVAIL : can_status_to_error(status);
}

// ---- families
constexpr int kCameraE2v7899 = 29;

constexpr int kNotUp = -1;  // a node that did not come up, logged

bool pi_digital_scanner(const sysInfo_t* s) {
  return s->pifoc && (s->pifoc->type == 1 || s->pifoc->type == 2);
}

// ---- the bridge
int connect(sysInfo_t* s) {
  uint32_t ip = 0;
  std::memcpy(&ip, s->canInfo->ip, sizeof ip);
  const int32_t status = lib(&can_api_t::connect, ip);
  if (status == CAN_OK) return 0;
  u_log_fn("%s: CAN_Connect canErr = %d\n", "can_inst_on", static_cast<int>(status));
  return status == kUnbound ? ERR_CAN_NOT_AVAIL : ERR_CAN_FINDING_BRIDGE;
}

int find_bridge(sysInfo_t* s) {
  const char* const name = "find_bridge";
  can_info_t& b = *s->canInfo;
  char mac[32];
  std::snprintf(mac, sizeof mac, "%2.2X %2.2X %2.2X %2.2X %2.2X %2.2X", b.mac[0], b.mac[1],
                b.mac[2], b.mac[3], b.mac[4], b.mac[5]);
  std::fill(std::begin(b.ip), std::end(b.ip), uint8_t{255});
  std::array<can_bridge_entry_t, CAN_MAX_BRIDGES> found{};
  constexpr int kAttempts = 3;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) {
      if (const int err = u_poll_pause(2000)) return err;
    }
    int32_t count = lib(&can_api_t::enumerate_bridges, found.data(), int32_t{CAN_MAX_BRIDGES});
    if (count == kUnbound) return ERR_CAN_NOT_AVAIL;
    if (count < 0) {
      u_log_fn("%s: CAN_EnumerateBridges failed\n", name);
      return ERR_CAN_FINDING_BRIDGE;
    }
    if (count == 0) {
      u_log_fn("%s: CAN_EnumerateBridges found no CAN bridges\n", name);
      return ERR_CAN_FINDING_BRIDGE;
    }
    // A library that claims more than it was given room for is not
    // believed beyond the room.
    count = std::min(count, int32_t{CAN_MAX_BRIDGES});
    for (int i = 0; i < count; ++i) {
      if (std::memcmp(found[i].mac, b.mac, sizeof b.mac) != 0) continue;
      std::memcpy(b.ip, found[i].ip, sizeof b.ip);
      u_log_fn("Found CAN bridge\n");
      u_log_fn("MAC address: %s\n", mac);
      u_log_fn("IP  address: %d.%d.%d.%d\n", b.ip[0], b.ip[1], b.ip[2], b.ip[3]);
      return 0;
    }
  }
  u_log_fn("CAN bridge with MAC address %s not found on network\n", mac);
  return ERR_CAN_MACADDRESS_ERROR;
}

void log_library_version() {
  int32_t v[4] = {};
  const std::string path = can_api_library_path();
  if (path.empty() || !plat::host::file_product_version(path.c_str(), v)) v[0] = v[1] = 0;
  u_log_fn("DLL version: major = %d, minor = %d\n", static_cast<int>(v[0] & 0xFFFF),
           static_cast<int>(v[1] & 0xFFFF));
}

int bridge_setup(sysInfo_t* s) {
  can_info_t& b = *s->canInfo;
  if (lib(&can_api_t::get_firmware_version, &b.fwMajor, &b.fwMinor) != CAN_OK)
    return ERR_CAN_BRIDGE_ERROR;
  u_log_fn("Bridge firmware version: major = %hu, minor = %hu\n",
           static_cast<unsigned short>(b.fwMajor), static_cast<unsigned short>(b.fwMinor));
  log_library_version();

  constexpr uint8_t kConfigA = 127;
  constexpr uint32_t kConfigB = 1000;
  uint8_t a = 0;
  uint32_t c = 0;
  if (lib(&can_api_t::get_bridge_configuration, &a, &c) != CAN_OK) return ERR_CAN_BRIDGE_ERROR;
  if (a != kConfigA || c != kConfigB) {
    if (lib(&can_api_t::set_bridge_configuration, kConfigA, kConfigB) != CAN_OK)
      return ERR_CAN_BRIDGE_ERROR;
    // The bridge takes a new configuration only at the next connection.
    if (const int err = u_poll_pause(2000)) return err;
    if (const int err = connect(s)) return err;
  }

  // Exactly ten checks and ten resets: an error that clears after the
  // tenth reset is not looked at again.
  constexpr int kTries = 10;
  int32_t error = 0;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (lib(&can_api_t::get_last_bridge_error, &error) != CAN_OK) return ERR_CAN_BRIDGE_ERROR;
    if (error == 0) return 0;
    if (const int32_t status = lib(&can_api_t::reset_bridge); status != CAN_OK) {
      u_log_fn("CAN_ResetBridge canErr %d\n", static_cast<int>(status));
      return ERR_HW_FAIL;
    }
    if (const int err = u_poll_pause(2000)) return err;
    if (const int err = connect(s)) return err;
  }
  u_log_fn(
      "%s: Unable to reset bridge with no errors after 10 tries: "
      "CAN_GetLastBridgeError = %d\n",
      "can_inst_on", static_cast<int>(error));
  return ERR_CAN_BRIDGE_ERROR;
}

// ---- nodes
bool find_node(uint8_t node, const char* name) {
  uint8_t found = 0;
  const int32_t status = lib(&can_api_t::find_node, node, &found);
  if (status != CAN_OK) {
    u_log_fn("%s: Error finding node %s: CAN_FindNode canErr = %d\n", "find_node", name,
             static_cast<int>(status));
    return false;
  }
  if (found != CAN_NODE_FOUND) {
    u_log_fn("%s: Error finding node %s: CAN_FindNode status = %d\n", "find_node", name,
             static_cast<int>(found));
    return false;
  }
  return true;
}

// 0 when operational, kNotUp (logged), or the abort.
int wait_for_node_operational(uint8_t node, const char* name) {
  const char* const fn = "wait_for_node_operational";
  constexpr int kPolls = 10;
  uint8_t state = 0;
  for (int poll = 0; poll < kPolls; ++poll) {
    if (poll > 0) {
      if (const int err = u_poll_pause(200)) return err;
    }
    const int32_t status = lib(&can_api_t::get_node_state, node, &state);
    if (status != CAN_OK) {
      u_log_fn("%s: Error waiting for node %s operational: CAN_GetNodeState canErr = %d\n", fn,
               name, static_cast<int>(status));
      return kNotUp;
    }
    if (state == CAN_NODE_OPERATIONAL) return 0;
  }
  u_log_fn("%s: Timeout waiting for node %s operational: CAN_GetNodeState status = %d\n", fn, name,
           static_cast<int>(state));
  return kNotUp;
}

// 0 with the product ID, kNotUp (logged), or the abort.
int get_operational_node(sysInfo_t* s, uint8_t node, const char* name, uint32_t* product) {
  if (!find_node(node, name)) return kNotUp;
  if (const int r = wait_for_node_operational(node, name)) return r;
  uint32_t id = 0;
  if (const int err = can_read_productID(s, node, &id)) {
    u_log_fn("%s: Error getting node %s product ID: %s\n", "get_operational_node", name,
             err_name(err));
    return kNotUp;
  }
  if (product != nullptr) *product = id;
  return 0;
}

// The node's own error for a node that did not come up; the abort stays.
int up_or(int result, int error) {
  if (result == 0 || result == ERR_FELBRIN_ABORTED) return result;
  return error;
}

int enumerate(std::array<uint8_t, CAN_MAX_NODES>& nodes, const char* caller) {
  const int32_t status = lib(&can_api_t::enumerate_nodes, nodes.data());
  if (status == CAN_OK) return 0;
  u_log_fn("%s: CAN_EnumerateNodes canErr = %d\n", caller, static_cast<int>(status));
  return to_error(status);
}

const char* yes_no(bool yes) { return yes ? "Yes" : "No"; }
const char* ignored(uint8_t expected) { return expected != 0 ? "" : ", Ignore"; }

int missing(const char* what) {
  u_log_fn("Missing the CAN %s node\n", what);
  return ERR_CAN_NODE_MISSING;
}

bool product_in(uint32_t id, std::initializer_list<uint32_t> ids) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

int invalid_product(const char* caller, uint32_t id, const char* node) {
  u_log_fn("%s: Invalid productID = %u for %s\n", caller, static_cast<unsigned>(id), node);
  return ERR_CAN_INVALID_PRODUCTID;
}

// ---- the Fjord families
int fjord_node_availability(sysInfo_t* s) {
  s->can.brushMotorPresent = 0;
  s->can.pztPresent = 0;
  std::array<uint8_t, CAN_MAX_NODES> nodes{};
  if (const int err = enumerate(nodes, "can_init_fjord_node_availability")) return err;
  auto present = [&](uint8_t node) { return nodes[node] == CAN_NODE_PRESENT; };
  s->can.brushMotorPresent = present(CAN_NODE_ID_BRUSHMOTOR) ? 1 : 0;
  s->can.pztPresent = present(CAN_NODE_ID_TRIPLEPZT) ? 1 : 0;
  u_log_fn("Instrument CAN node status:\n");
  u_log_fn("  Ramper           : %s  \n", yes_no(present(CAN_NODE_ID_RAMP)));
  u_log_fn("  LED              : %s  \n", yes_no(present(CAN_NODE_ID_LED)));
  u_log_fn("  Dual Brush Motor : %s%s\n", yes_no(s->can.brushMotorPresent != 0),
           ignored(s->useDualBrushMotor));
  u_log_fn("  Triple PZT       : %s%s\n", yes_no(s->can.pztPresent != 0), ignored(s->usePzt));
  return 0;
}

int fjord_scanner(sysInfo_t* s) {
  bool verified = false;
  float amplitude = 0;
  if (can_write_pi_ramp_select(s, 1) == 0 && can_read_pi_ramp_amplitude(s, &amplitude) == 0)
    verified = amplitude != 0;
  if (verified && s->pifoc->type == 2) {
    uint16_t tables = 0;
    verified = can_pi_load_ddl_tables(s, &tables) == 0 && tables != 0;
    if (verified) u_log_fn("Loaded %d PI 751 digital scanner DDL tables\n", tables);
  }
  if (verified) return 0;
  u_log_fn("Scanner verification failed. Verify connections and configuration.\n");
  return ERR_CAN_DIGITAL_SCANNER_MISSING;
}

// Fjord-P (`plus`) also has the triple PZT, and neither scanner nor zoom
// steps.
int fjord_on(sysInfo_t* s, bool plus) {
  const char* const caller = plus ? "can_fjordp_on" : "can_fjord_on";
  if (const int err = fjord_node_availability(s)) return err;
  if (plus && s->usePzt != 0 && s->can.pztPresent == 0) return missing("Triple PZT");
  if (s->useDualBrushMotor != 0 && s->can.brushMotorPresent == 0)
    return missing("Dual Brush Motor");

  if (const int r = get_operational_node(s, CAN_NODE_ID_RAMP, "CAN_NODE_ID_RAMP", nullptr))
    return up_or(r, ERR_CAN_RAMP_ERROR);
  if (plus) {
    if (const int r =
            get_operational_node(s, CAN_NODE_ID_TRIPLEPZT, "CAN_NODE_ID_TRIPLEPZT", nullptr))
      return up_or(r, ERR_CAN_RAMP_ERROR);
    s->can.pztPresent = 1;
  } else if (pi_digital_scanner(s)) {
    if (const int err = fjord_scanner(s)) return err;
  }

  uint32_t led = 0;
  if (const int r = get_operational_node(s, CAN_NODE_ID_LED, "CAN_NODE_ID_LED", &led))
    return up_or(r, ERR_CAN_LED_ERROR);
  if (!product_in(led, {0x2672137D, 0x2672150D, 0x26722381}))
    return invalid_product(caller, led, "CAN_NODE_ID_LED");
  s->canInfo->ledProductId = static_cast<int32_t>(led);

  if (s->useDualBrushMotor != 0) {
    uint32_t brush = 0;
    if (const int r =
            get_operational_node(s, CAN_NODE_ID_BRUSHMOTOR, "CAN_NODE_ID_BRUSHMOTOR", &brush)) {
      s->can.brushMotorPresent = 0;
      return up_or(r, ERR_CAN_BRMOTOR_ERROR);
    }
    if (!product_in(brush, {CAN_BRUSH_PRODUCT_MOTOR_ZOOM, CAN_BRUSH_PRODUCT_ENCODED_ZOOM}))
      return invalid_product(caller, brush, "CAN_NODE_ID_BRUSHMOTOR");
    s->canInfo->brushProductId = static_cast<int32_t>(brush);
  }

  if (!plus) {
    can_set_last_zoom(255);
    can_set_brush_wait_state(0);
  }
  const sb_light_source_t& light = s->lightSource[s->currentLightSource & 1];
  if (const int err = can_write_llc(s, 0, 0)) return err;
  if (const int err = can_write_llc_pwmfreq(s, static_cast<uint32_t>(light.freq))) return err;
  if (const int err = can_write_led_setup(s, light.config)) return err;
  if (const int err = can_set_llc_range(s, -1)) return err;

  // Also gives the PDO decoder its first zoom position. A brush motor of
  // this product without a zoom changer has nothing to read.
  if (!plus &&
      static_cast<uint32_t>(s->canInfo->brushProductId) == CAN_BRUSH_PRODUCT_ENCODED_ZOOM &&
      s->zoom != 0) {
    int32_t position = 0;
    if (const int err = can_read_zoom(s, &position)) return err;
  }
  return 0;
}

// ---- the Kite family
struct KiteNode {
  uint8_t node;
  uint8_t sb_can_state_t::*present;
  const char* line;  // its line of the node table
};
constexpr KiteNode kKiteNodes[] = {
    {CAN_NODE_ID_TRIPLEPZT, &sb_can_state_t::pztPresent, "  Triple PZT          : %s\n"},
    {CAN_NODE_ID_LARGEAP, &sb_can_state_t::lapsPresent, "  Large Aperture      : %s\n"},
    {CAN_NODE_ID_WAND, &sb_can_state_t::wandPresent, "  Primary Wand        : %s\n"},
    {CAN_NODE_ID_WAND2, &sb_can_state_t::wand2Present, "  Secondary Wand      : %s\n"},
    {CAN_NODE_ID_DD_ZOOM, &sb_can_state_t::zoomDdPresent, "  Zoom & Diffuser Disk: %s\n"},
    {CAN_NODE_ID_DD_RS, &sb_can_state_t::rsDdPresent, "  RoF & Diffuser Disk : %s\n"},
    {CAN_NODE_ID_FOCUS_NDW, &sb_can_state_t::focusNdwPresent, "  Focus & ND Wheel    : %s\n"},
    {CAN_NODE_ID_AUX_MOTOR, &sb_can_state_t::auxMotorPresent, "  Auxiliary Motor     : %s\n"},
};

int kite_node_availability(sysInfo_t* s) {
  for (const KiteNode& k : kKiteNodes) s->can.*k.present = 0;
  std::array<uint8_t, CAN_MAX_NODES> nodes{};
  if (const int err = enumerate(nodes, "can_kite_on")) return err;
  u_log_fn("Instrument CAN node status:\n");
  for (const KiteNode& k : kKiteNodes) {
    s->can.*k.present = nodes[k.node] == CAN_NODE_PRESENT ? 1 : 0;
    u_log_fn(k.line, yes_no(s->can.*k.present != 0));
  }
  return 0;
}

int kite_missing(const sysInfo_t* s) {
  const sb_can_state_t& c = s->can;
  if (s->usePzt != 0 && c.pztPresent == 0) return missing("Triple PZT");
  if (s->useLaps != 0 && c.lapsPresent == 0) return missing("Large Aperture");
  if (s->useZoom != 0 && c.zoomDdPresent == 0) return missing("Zoom & Diffuser Disk");
  if (s->ringSpot != 0 && c.rsDdPresent == 0) return missing("Ring/Spot & Diffuser Disk");
  if (s->useFocusNdw != 0 && c.focusNdwPresent == 0) return missing("Focus & ND Wheel");
  if (s->systemType == SYS_GLENCAN && c.auxMotorPresent == 0) return missing("Auxiliary Motor");
  return 0;
}

// Sets bit 1 of a keypad mode, keeping the mode read in the bridge record.
template <class Read, class Write>
int keypad_bit1(sysInfo_t* s, uint8_t can_info_t::*slot, Read read, Write write) {
  uint8_t& mode = (*s->canInfo).*slot;
  if (const int err = read(s, &mode)) return err;
  mode = static_cast<uint8_t>(mode | 0x02);
  return write(s, mode);
}

template <class Read, class Write>
int control_bit0(sysInfo_t* s, Read read, Write write) {
  uint8_t control = 0;
  if (const int err = read(s, &control)) return err;
  if ((control & 0x01) != 0) return 0;
  return write(s, static_cast<uint8_t>(control | 0x01));
}

// Brings up one present node; one that does not come up is recorded as
// absent.
int kite_node_up(sysInfo_t* s, uint8_t node, const char* name, uint8_t sb_can_state_t::*present,
                 int error) {
  if (s->can.*present == 0) return 0;
  const int r = get_operational_node(s, node, name, nullptr);
  if (r == 0) return 0;
  s->can.*present = 0;
  return up_or(r, error);
}

int kite_nodes_up(sysInfo_t* s) {
  if (const int err = kite_node_up(s, CAN_NODE_ID_TRIPLEPZT, "CAN_NODE_ID_TRIPLEPZT",
                                   &sb_can_state_t::pztPresent, ERR_CAN_TRIPLEPZT_ERROR))
    return err;
  if (s->can.pztPresent != 0) s->can.pztChannel = -1;
  if (const int err = kite_node_up(s, CAN_NODE_ID_LARGEAP, "CAN_NODE_ID_LARGEAP",
                                   &sb_can_state_t::lapsPresent, ERR_CAN_LARGEAP_ERROR))
    return err;
  if (s->can.lapsPresent != 0) s->largeApSelected = 1;
  // A wand that does not come up costs only its flag.
  if (const int err =
          kite_node_up(s, CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND", &sb_can_state_t::wandPresent, 0))
    return err;
  if (const int err =
          kite_node_up(s, CAN_NODE_ID_WAND2, "CAN_NODE_ID_WAND2", &sb_can_state_t::wand2Present, 0))
    return err;

  if (const int err = kite_node_up(s, CAN_NODE_ID_DD_ZOOM, "CAN_NODE_ID_DD_ZOOM",
                                   &sb_can_state_t::zoomDdPresent, ERR_CAN_DD_ZOOM_ERROR))
    return err;
  if (s->can.zoomDdPresent != 0) {
    if (const int err = control_bit0(s, can_read_zoom_dd_control, can_write_zoom_dd_control))
      return err;
    if (const int err = keypad_bit1(s, &can_info_t::keypadZoom, can_read_zoom_keypress_mode,
                                    can_write_zoom_keypress_mode))
      return err;
  }

  if (const int err = kite_node_up(s, CAN_NODE_ID_DD_RS, "CAN_NODE_ID_DD_RS",
                                   &sb_can_state_t::rsDdPresent, ERR_CAN_DD_RS_ERROR))
    return err;
  if (s->can.rsDdPresent != 0) {
    s->ringSpot = 1;
    if (const int err = control_bit0(s, can_read_rs_dd_control, can_write_rs_dd_control))
      return err;
    if (const int err = can_set_rs_position(s, 0, 1)) return err;
    if (const int err = keypad_bit1(s, &can_info_t::keypadRingSpot, can_read_rs_keypress_mode,
                                    can_write_rs_keypress_mode))
      return err;
  }
  return 0;
}

int kite_focus_up(sysInfo_t* s) {
  const char* const caller = "can_kite_on";
  if (s->useFocusNdw == 0) return 0;
  // A focus node that does not come up keeps its present flag.
  if (const int r =
          get_operational_node(s, CAN_NODE_ID_FOCUS_NDW, "CAN_NODE_ID_FOCUS_NDW", nullptr))
    return up_or(r, ERR_CAN_FOCUS_NDW_ERROR);
  if (!g_ndw_stopped) {
    try {
      const bool existed = can_ndwheel_stopped_open() != nullptr;
      g_ndw_stopped = can_ndwheel_stopped_create();
      if (!existed) g_ndw_stopped->set();
    } catch (const std::bad_alloc&) {
      u_log_fn("%s: Error creating event to signal ND wheel is stopped\n", caller);
      return ERR_INTERNAL_FB;
    }
  }
  constexpr int32_t kHomeLimitMs = 10000;
  if (const int err = can_home_ndw(s, 1, kHomeLimitMs)) {
    if (err == ERR_FELBRIN_ABORTED) return err;
    u_log_fn("%s: Error homing the ND wheel\n", caller);
  }
  if (const int err = service(&CanInstServices::light_control_mode, s, 1)) return err;
  return keypad_bit1(s, &can_info_t::keypadFocus, can_read_focus_keypress_mode,
                     can_write_focus_keypress_mode);
}

int kite_steps(sysInfo_t* s) {
  if (const int err = kite_node_availability(s)) return err;
  if (const int err = kite_missing(s)) return err;
  if (const int err = kite_nodes_up(s)) return err;
  if (const int err = kite_focus_up(s)) return err;

  if (s->can.zoomDdPresent != 0) {
    if (const int err = can_write_zoom_dd_mode(s, 0)) return err;
    // Until the light control works a velocity out, the node keeps its own.
    if (can_inst_services().zoom_dd_velocity != nullptr) {
      double velocity = 0;
      if (const int err = service(&CanInstServices::zoom_dd_velocity, s, &velocity)) return err;
      if (const int err = can_write_zoom_dd_targetVel(s, velocity)) return err;
    }
  }
  if (s->ringSpot != 0 && s->can.rsDdPresent != 0) {
    if (const int err = can_write_rs_dd_mode(s, 1)) return err;
  }
  if (s->can.auxMotorPresent != 0) {
    if (const int r =
            get_operational_node(s, CAN_NODE_ID_AUX_MOTOR, "CAN_NODE_ID_AUX_MOTOR", nullptr)) {
      s->can.auxMotorPresent = 0;
      return up_or(r, ERR_CAN_AUX_MOTOR_ERROR);
    }
    if (s->systemType == SYS_GLENCAN) {
      if (const int err = service(&CanInstServices::aux_motor_off, s)) return err;
    }
  }

  int output = -1;
  if (s->systemType == SYS_GLENCAN)
    output = 4;
  else if (s->cameraType == kCameraE2v7899)
    output = 1;
  if (output >= 0) {
    if (const int err = can_bridge_write_digitalout(s, static_cast<uint8_t>(output))) return err;
    if (const int err = u_poll_pause(100)) return err;
  }
  if (s->encZoom) return service(&CanInstServices::enc_zoom_backlash, s);
  return 0;
}

int kite_on(sysInfo_t* s) {
  const int err = kite_steps(s);
  if (err != 0 && (s->can.zoomDdPresent != 0 || s->can.rsDdPresent != 0))
    service(&CanInstServices::diffuser_disks_stop, s);
  return err;
}

int family_on(sysInfo_t* s) {
  if (sb_system_type_in(s, SB_FJORD_TYPES)) return fjord_on(s, false);
  if (sb_system_type_in(s, SB_FJORDP_TYPES)) return fjord_on(s, true);
  if (!sb_system_type_in(s, SB_KITE_CAN_TYPES)) return ERR_WRONG_SYSTEM_TYPE;
  s->largeApSelected = 0;
  s->can.pztChannel = -1;
  if (s->systemType == SYS_KITE2CAN || s->systemType == SYS_IRIS_CAN) s->usePzt = s->useLaps = 0;
  return kite_on(s);
}

// ---- the rest of the power-on
int scanner_mode(sysInfo_t* s) {
  if (s->pifoc) {
    s->can.scannerMode = 1;
    uint32_t offset = 0;
    int err = service(&CanInstServices::pifoc_offset, s, &offset);
    if (err == 0) err = can_write_pifoc_offset(s, offset, 1);
    if (err != 0 && err != ERR_NO_RAMP_INFO) return err;
  } else {
    s->can.scannerMode = service(&CanInstServices::other_scanner, s) == 1 ? 2 : 0;
  }
  return can_write_syncgen(s, s->can.syncGen);
}

int turret_and_zoom(sysInfo_t* s) {
  if (s->turret == 0 && s->zoom == 0) return 0;
  if (const int err = can_get_brmtr_config(s)) return err;
  if (s->turret == 2) u_log_fn("Encoded objective turret\n");
  if (s->turret == 1) u_log_fn("Motorized objective turret\n");
  if (s->turret != 0) {
    uint8_t status = 0;
    uint8_t position = 0;
    if (const int err = can_read_turret_status(s, &status)) return err;
    if ((status & 0x80) != 0) {
      if (const int err = can_read_turret(s, &position)) return err;
    }
    u_log_fn("Num objective turret positions = %d\n", static_cast<int>(s->can.turretPositions));
    if (position == 0)
      u_log_fn("Current objective turret position = UNKNOWN\n");
    else
      u_log_fn("Current objective turret position = %d\n", static_cast<int>(position));
  } else {
    u_log_fn("Num objective turret positions = %d\n", static_cast<int>(s->can.turretPositions));
  }
  if (s->zoom == 1) u_log_fn("Encoded zoom changer\n");
  if (s->zoom == 2) u_log_fn("Motorized zoom changer\n");
  if ((s->systemType == SYS_FJORD1 || s->systemType == SYS_FJORD4) && s->zoom != 0) {
    if (const int err = can_read_all_zoom(s)) return err;
  }
  u_log_fn("Num zoom changer positions = %d\n", static_cast<int>(s->can.zoomPositions));
  return service(&CanInstServices::light_source_update, s);
}

int config_word(sysInfo_t* s) {
  if (!can_bridge_has_config_word(s)) return 0;
  constexpr uint16_t kPiTriggering = 0x0800;
  uint16_t word = 0;
  if (const int err = can_bridge_read_config(s, &word)) return err;
  if (pi_digital_scanner(s)) {
    word |= kPiTriggering;
    u_log_fn("Enabling PI digital scanner triggering mode\n");
  } else if ((word & kPiTriggering) != 0) {
    word = static_cast<uint16_t>(word & ~kPiTriggering);
    u_log_fn("Disabling PI digital scanner triggering mode\n");
  }
  return can_bridge_write_config(s, static_cast<uint16_t>(word | 0x2100));
}

int power_on(sysInfo_t* s, bool* held) {
  if (s->instrBdType != BD_CAN) return ERR_WRONG_INSTR_BOARD;
  if (!s->canInfo) return ERR_HW_FAIL;
  if (dev_is_registered(CAN_DEVICE_HANDLE)) dev_remove_device(CAN_DEVICE_HANDLE);
  if (sb_system_type_in(s, SB_KITE_CAN_TYPES) && s->useFocusNdw != 0) {
    if (const int err = service(&CanInstServices::agc_init, s)) return err;
    if (const int err = service(&CanInstServices::agc_hold, s)) return err;
    *held = true;
  }
  if (s->canInfo->mac[0] == 0xFF) return ERR_CAN_MACADDRESS_ERROR;
  if (const int err = find_bridge(s)) return err;
  if (const int err = connect(s)) return err;
  if (const int err = bridge_setup(s)) return err;
  if (const int err = family_on(s)) return err;

  if (const int err = service(&CanInstServices::load_ramps, s); err != 0 && err != ERR_NO_RAMP_INFO)
    return err;
  if (sb_system_type_in(s, SB_CAN_WAVE_MONITOR_TYPES)) {
    if (const int err = service(&CanInstServices::wave_monitor_setup, s)) return err;
  }
  if (s->systemType == SYS_HERON_CAN) {
    if (const int err = service(&CanInstServices::wave_monitor_calibrate, s)) return err;
  }
  // Types 32 and 33 have no camera bad-pixel table: one that cannot be
  // built must not stop their power-on.
  if (!sb_system_type_in(s, SB_KITE2_CAN_TYPES)) {
    if (const int err = service(&CanInstServices::bad_pixel_table, s)) return err;
  }
  if (const int err = scanner_mode(s)) return err;
  if (s->can.pztPresent != 0) {
    if (const int err = can_power_check(s, CAN_NODE_ID_TRIPLEPZT)) return err;
  }
  if (s->can.lapsPresent != 0) {
    if (const int err = can_power_check(s, CAN_NODE_ID_LARGEAP)) return err;
  }
  if (const int err = turret_and_zoom(s)) return err;

  if (const int err = dev_add_device(DEV_TYPE_CAN, CAN_DEVICE_HANDLE, s)) return err;
  can_events_install_poll();
  if (const int err = can_register_events(s, true)) return err;
  if (const int err = config_word(s)) return err;

  if (const int err = service(&CanInstServices::sleep_mode_start, s)) return err;
  if (*held) {
    *held = false;
    if (const int err = service(&CanInstServices::agc_release, s)) return err;
  }
  u_log_fn("Instrument ON\n");
  return 0;
}

}  // namespace

CanInstServices can_inst_services() {
  std::lock_guard lock(g_services_mutex);
  return g_services;
}

CanInstServices can_set_inst_services(const CanInstServices& services) {
  std::lock_guard lock(g_services_mutex);
  const CanInstServices old = g_services;
  g_services = services;
  return old;
}

CanInstServices can_default_inst_services() { return make_defaults(); }

int can_create_bridge_record(sysInfo_t* s) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (s->canInfo) return 0;
  s->canInfo = felbrin::make_hooked<can_info_t>();
  return s->canInfo ? 0 : ERR_NO_MEM;
}

int can_inst_on(sysInfo_t* s) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  bool held = false;
  const int err = power_on(s, &held);
  if (err == 0) return 0;
  if (held) service(&CanInstServices::agc_release, s);
  service(&CanInstServices::failure_cleanup, s);
  u_log_fn("%s: %s\n", "can_inst_on", err_name(err));
  return err;
}

int can_inst_off(sysInfo_t* s) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (s->instrBdType != BD_CAN) return ERR_WRONG_INSTR_BOARD;
  // Every step runs whatever the others gave: an instrument half powered
  // off is worse than a write that failed.
  if (sb_system_type_in(s, SB_FJORD_TYPES)) can_write_pifoc_offset(s, 0, 0);
  if (sb_system_type_in(s, SB_FJORD_TYPES) || sb_system_type_in(s, SB_FJORDP_TYPES)) {
    can_write_llc(s, 0, 0);
    can_write_led_setup(s, 0);
  }
  if (sb_system_type_in(s, SB_KITE_CAN_TYPES)) {
    service(&CanInstServices::sleep_mode_stop, s);
    service(&CanInstServices::agc_stop, s);
    g_ndw_stopped.reset();
    service(&CanInstServices::diffuser_disks_stop, s);
  }
  int result = 0;
  if (can_bridge_has_config_word(s)) {
    uint16_t word = 0;
    result = can_bridge_read_config(s, &word);
    if (result == 0) can_bridge_write_config(s, static_cast<uint16_t>(word & ~0x0100));
  }
  if (s->cameraType == kCameraE2v7899) {
    can_bridge_write_digitalout(s, 0);
    u_poll_pause(100);
  }
  if (dev_is_registered(CAN_DEVICE_HANDLE)) dev_remove_device(CAN_DEVICE_HANDLE);
  can_register_events(s, false);
  can_events_free_resources();
  lib(&can_api_t::disconnect);
  s->canInfo.reset();
  u_log_fn("Instrument OFF\n");
  return result;
}

int can_set_rs_position(sysInfo_t* s, int position, int wait) {
  if (position != 0 && position != 1) return ERR_INVALID_PARAM;
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (s->instrBdType != BD_CAN || s->ringSpot == 0) return 0;

  uint8_t raw = 0;
  const int read = can_read_rs_position(s, &raw);
  const int current = raw == 1 ? 0 : raw == 2 ? 1 : -1;
  if (s->can.rsDdPresent != 0 && read == 0 && current == position) return 0;

  uint8_t mode = 0;
  if (const int err = can_read_rs_keypress_mode(s, &mode)) return err;
  const bool keypad_off = (mode & 0x02) != 0;
  if (keypad_off) {
    if (const int err = can_write_rs_keypress_mode(s, static_cast<uint8_t>(mode & ~0x02)))
      return err;
  }

  int err = 0;
  int16_t max_current = 0;
  err = can_read_rs_maxCurrent(s, &max_current);
  if (err == 0) {
    const int32_t drive = position == 0 ? int32_t{max_current} : -int32_t{max_current};
    err = can_write_rs_current(
        s, static_cast<int16_t>(std::clamp<int32_t>(drive, INT16_MIN, INT16_MAX)));
  }
  const bool observable = sb_system_type_in(s, SB_RS_DD_STATUS_TYPES) && s->can.rsDdPresent != 0;
  constexpr int kPolls = 500;
  for (int poll = 0; err == 0 && wait != 0 && observable; ++poll) {
    if (poll == kPolls) {
      err = ERR_RS_TIMEOUT;
      break;
    }
    if ((err = u_poll_pause(250)) != 0) break;
    uint8_t status = 0;
    if ((err = can_read_rs_status(s, &status)) != 0) break;
    if ((status & 0x02) == 0) break;
  }
  if (keypad_off) {
    const int restore = can_write_rs_keypress_mode(s, mode);
    if (err == 0) err = restore;
  }
  return err;
}

int can_power_check(sysInfo_t* s, uint8_t pzt_node) {
  if (s == nullptr) return ERR_SYS_INFO_NOT_AVAIL;
  if (s->instrBdType != BD_CAN) return ERR_WRONG_INSTR_BOARD;
  uint8_t bridge = 0;
  if (const int err = can_read_bridge_status(s, &bridge)) return err;
  auto fault = [](const char* message) {
    u_log_fn("%s", message);
    return ERR_INST_POWER;
  };
  if ((bridge & 0x08) == 0) return fault("Bridge Status: External 12V power fault\n");
  if ((bridge & 0x04) != 0) return fault("Bridge Status: -12V power trip\n");
  if ((bridge & 0x02) != 0) return fault("Bridge Status: +12V power trip\n");
  if (s->can.pztPresent == 0 && s->can.lapsPresent == 0) return 0;

  uint8_t status = 0;
  const int err = can_read_pzt_status(s, pzt_node, &status);
  const int refused =
      pzt_node == CAN_NODE_ID_LARGEAP ? ERR_CAN_SDO_LAP_ERROR : ERR_CAN_SDO_PZT_ERROR;
  if (err == refused) {
    // The node has no status byte where we look: its faults cannot be
    // checked, which must not keep the instrument off.
    u_log_fn("%s: node %d has no status byte, its checks are skipped\n", "can_power_check",
             static_cast<int>(pzt_node));
    return 0;
  }
  if (err != 0) return err;
  struct Bit {
    uint8_t mask;
    const char* message;
  };
  static constexpr Bit kBits[] = {
      {0x01, "Triple PZT node: Large aperture channel A fault\n"},
      {0x02, "Triple PZT node: Large aperture channel B fault\n"},
      {0x04, "Triple PZT node: Large aperture channel C fault\n"},
      {0x10, "Triple PZT node: High voltage supply under-voltage fault\n"},
      {0x20, "Triple PZT node: High voltage supply over-voltage fault\n"},
      {0x40, "Triple PZT node: VSync lost\n"},
  };
  for (const Bit& bit : kBits) {
    if ((status & bit.mask) != 0) return fault(bit.message);
  }
  return 0;
}
