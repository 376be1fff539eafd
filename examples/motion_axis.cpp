// Homing and moving the axes of a stage.
//
//   example_motion_axis CALIBRATION-FILE
//
// The calibration file's MotionCtrl line names the motion controller's
// configuration file and its device (a serial port here). mc_setup opens
// the controller, checks its configuration and homes the axes whose
// HOME_TYPE asks for it; then moves go through the axis layer in inches
// (degrees for rotary axes), which converts them to controller counts.
//
// The controller is simulated (sim/) on an in-memory serial line: the
// serial layer is pointed at the in-memory back end, and the program is
// otherwise what a host does with a real controller. Moves and home
// searches take real time, as on the real stage.
#include <cstdio>

#include "felbrin.h"
#include "sim/memory_serial.h"
#include "sim/motion_controller.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"

namespace {

int fail(const char* what, int code) {
  std::fprintf(stderr, "%s failed: %s (%d)\n", what, err_name(code), code);
  return 1;
}

int print_positions(mc_ctrl_t& c) {
  double x = 0, z = 0;
  if (const int rc = mc_get_x_pos(c, &x)) return fail("mc_get_x_pos", rc);
  if (const int rc = mc_get_z_pos(c, &z)) return fail("mc_get_z_pos", rc);
  std::printf("  X at %.4f in, Z at %.4f in\n", x, z);
  return 0;
}

int move_stage(mc_ctrl_t& c) {
  std::printf("Homed: X %s, Z %s\n", c.axes[c.xAxis].homed ? "yes" : "no", c.axes[c.zAxis].homed ? "yes" : "no");
  if (print_positions(c) != 0) return 1;
  // A home search leaves its axis's joystick off: hand every joystick back
  // to the operator, as a host does once the stage is ready.
  if (const int rc = c.driver->enable_joystick(c, MC_ALL_AXES)) return fail("enable_joystick", rc);
  // Programmed moves need the joysticks off; the stack restores them after.
  if (const int rc = mc_push_joystick(c, 0)) return fail("mc_push_joystick", rc);
  // X was homed, so it may move to positions: switch it to absolute moves.
  int rc = c.driver->set_mode(c, c.xAxis, MC_MODE_ABSOLUTE);
  if (rc == 0) rc = mc_point(c, c.xAxis, 0.25);
  if (rc == 0) rc = mc_wait_for_stop(c, c.xAxis);
  if (rc != 0) return fail("moving X to 0.25 in", rc);
  std::printf("Moved X to 0.25 in:\n");
  if (print_positions(c) != 0) return 1;
  // Z stays in relative moves (the set-up's default): it moves by distances.
  if ((rc = mc_point(c, c.zAxis, -0.1)) == 0) rc = mc_wait_for_stop(c, c.zAxis);
  if (rc != 0) return fail("moving Z by -0.1 in", rc);
  std::printf("Moved Z by -0.1 in:\n");
  if (print_positions(c) != 0) return 1;
  if ((rc = mc_pop_joystick(c)) != 0) return fail("mc_pop_joystick", rc);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CALIBRATION-FILE\n", argv[0]);
    return 2;
  }
  sysInfo_t* info = &sysInfo[0];
  if (const int rc = sb_readCal(0, argv[1])) return fail("sb_readCal", rc);
  std::printf("Controller configuration %s on %s\n", info->motionCtrl[0].c_str(), info->motionCtrl[1].c_str());

  // The simulated controller on the device the calibration names. It
  // answers inside the library's writes, and speaks unasked (a home search
  // ending, position reports) whenever the library looks at its input.
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port(info->motionCtrl[1]);
  sim::MemoryTransport line{peer, info->motionCtrl[1]};
  sim::Script script;
  sim::MotionController controller;
  controller.set_home_delay_ms(300);  // a home search takes a while
  sim::Runner runner(line, controller.framer(), script, controller);
  peer.on_write([&runner] { runner.step(0); });
  peer.on_look([&runner] {
    runner.step(0);
    return runner.next_due();
  });
  plat::SerialBackend* const real_backend = sio_set_backend(&backend);

  if (const int rc = dev_init_cntrl(1)) return fail("dev_init_cntrl", rc);
  int rc = mc_setup(info);
  if (rc != 0) {
    fail("mc_setup", rc);
  } else {
    rc = move_stage(*info->motionCtrlInfo);
    mc_close(*info->motionCtrlInfo);
    info->motionCtrlInfo.reset();
  }
  dev_close_cntrl();
  sio_set_backend(real_backend);
  return rc == 0 ? 0 : 1;
}
