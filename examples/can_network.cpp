// Powering on a CAN instrument and reading objects from its nodes.
//
//   example_can_network CALIBRATION-FILE
//
// CAN instruments sit behind an Ethernet-to-CAN bridge, driven through the
// maker's bridge library (TrelCANopen.dll, libTrelCANopen.so on Linux),
// which the library loads at run time from beside the program. The
// calibration file of a CAN system gives the bridge's MAC address.
//
// Without hardware, put the simulated network's stand-in library there
// instead, and name the network it simulates in the environment:
//
//   FELBRIN_CANSIM=fjordp:00-1A-2B-3C-4D-5E example_can_network can-fjord4.cal
//
// (a bridge with that MAC address and the nodes of a Fjord instrument).
// The program itself is the same for the real and the simulated network.
#include <cstdio>

#include "felbrin.h"

namespace {

int fail(const char* what, int code) {
  std::fprintf(stderr, "%s failed: %s (%d)\n", what, err_name(code), code);
  return 1;
}

// Identity and firmware of one node; every node of the network has them.
int show_node(sysInfo_t* s, uint8_t node, const char* name) {
  uint32_t product = 0;
  uint16_t major = 0, minor = 0;
  if (const int rc = can_read_productID(s, node, &product)) return fail("can_read_productID", rc);
  if (const int rc = can_read_version(s, node, &major, &minor)) return fail("can_read_version", rc);
  std::printf("  node %3d %-12s product 0x%08X, firmware %u.%u\n", node, name, static_cast<unsigned>(product),
              major, minor);
  return 0;
}

int read_nodes(sysInfo_t* s) {
  std::printf("Nodes:\n");
  if (show_node(s, CAN_NODE_ID_RAMP, "ramp/bridge") != 0 || show_node(s, CAN_NODE_ID_LED, "LED") != 0 ||
      show_node(s, CAN_NODE_ID_BRUSHMOTOR, "brush motor") != 0) {
    return 1;
  }
  // Node-specific objects: the bridge's status byte and the light level.
  uint8_t status = 0;
  if (const int rc = can_read_bridge_status(s, &status)) return fail("can_read_bridge_status", rc);
  std::printf("Bridge status 0x%02X\n", status);
  if (const int rc = can_write_llc(s, 1200, 0)) return fail("can_write_llc", rc);
  uint16_t level = 0;
  if (const int rc = can_read_llc(s, &level, 0)) return fail("can_read_llc", rc);
  std::printf("Light level set to 1200, reads back %u\n", level);
  return level == 1200 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CALIBRATION-FILE\n", argv[0]);
    return 2;
  }
  sysInfo_t* s = &sysInfo[0];
  if (const int rc = sb_readCal(0, argv[1])) return fail("sb_readCal", rc);
  if (s->instrBdType != BD_CAN) {
    std::fprintf(stderr, "%s does not describe a CAN instrument.\n", argv[1]);
    return 1;
  }

  // Binding the bridge library early gives a clear message when it is
  // missing (every CAN operation would answer ERR_CAN_NOT_AVAIL).
  if (const int rc = can_api_load()) return fail("can_api_load", rc);
  std::printf("Bridge library: %s\n", can_api_library_path().c_str());

  // The power-on runs steps of other subsystems through a table of
  // services. This example has no ramp files, wave monitor or camera, so
  // it leaves those steps out; a full host keeps the defaults.
  CanInstServices services = can_default_inst_services();
  services.load_ramps = nullptr;
  services.pifoc_offset = nullptr;
  services.wave_monitor_setup = nullptr;
  services.wave_monitor_calibrate = nullptr;
  services.bad_pixel_table = nullptr;
  can_set_inst_services(services);

  // The device table's worker watches the network's event queues.
  if (const int rc = dev_init_cntrl(1)) return fail("dev_init_cntrl", rc);
  // Power-on finds the bridge by MAC address, connects, and brings up the
  // nodes this family of instruments needs; it logs each step.
  int rc = can_inst_on(s);
  if (rc != 0) {
    fail("can_inst_on", rc);
  } else {
    rc = read_nodes(s);
    if (const int off = can_inst_off(s)) rc = fail("can_inst_off", off);
  }
  dev_close_cntrl();
  return rc == 0 ? 0 : 1;
}
