// Talking to an instrument board and loading a scan ramp into it.
//
//   example_instrument_board CALIBRATION-FILE [WORK-FOLDER]
//
// The instrument board drives the scanner, the light level and more over
// a serial line. Here the line is an in-memory one and a simulated board
// (sim/) answers on it, so the example runs without hardware: the library's
// serial layer is pointed at the in-memory back end, and everything else is
// exactly what a host program does with a real board.
//
// The calibration file names the board type and its serial port
// (InstrComm). We open the board, read its firmware version and serial
// number, write a ramp file to WORK-FOLDER, read it back and download it
// into one of the board's ramp slots, then start it.
#include <cstdio>
#include <string>
#include <vector>

#include "felbrin.h"
#include "sim/instrument_board.h"
#include "sim/memory_serial.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"

namespace {

int fail(const char* what, int code) {
  std::fprintf(stderr, "%s failed: %s (%d)\n", what, err_name(code), code);
  return 1;
}

// A small ramp: a flat run-up, then a straight climb. The point indexes
// tell the board where the scan starts and where the camera is triggered.
void make_ramp(rr_ramp_hdr_t* hdr, std::vector<uint16_t>* points) {
  constexpr int kRunUp = 100, kPoints = 1100;
  *hdr = rr_ramp_hdr_t{};
  hdr->rampType = RR_TYPE_SWLI;
  hdr->rampID = 7;
  hdr->polar = 'b';
  hdr->nPoints = kPoints;
  hdr->rampUp = hdr->rampStart = hdr->rampLinear = kRunUp;
  hdr->rampEnd = kPoints - 1;
  hdr->trigStartAddr = kRunUp;
  hdr->trigEndAddr = kPoints - 1;
  hdr->updateRate = 2000;
  points->resize(kPoints);
  for (int i = 0; i < kPoints; ++i) (*points)[i] = static_cast<uint16_t>(1000 + (i < kRunUp ? 0 : (i - kRunUp) * 60));
}

int run(sysInfo_t* info, const sim::InstrumentBoard& board, const std::string& ramp_path) {
  // ur_initUZ opens info->instrComm and registers the board in the device
  // table, which must be running.
  if (const int rc = ur_initUZ(info)) return fail("ur_initUZ", rc);
  uint32_t version = 0, serial = 0;
  if (const int rc = uz_sw_version(info, &version)) return fail("uz_sw_version", rc);
  if (const int rc = uz_ee_serial_read(info, &serial)) return fail("uz_ee_serial_read", rc);
  std::printf("Board on %s: firmware version %u, serial number %u\n", info->instrComm.c_str(), version, serial);

  // Ramps live in binary ramp files; write one, then load it as a host does.
  rr_ramp_hdr_t hdr;
  std::vector<uint16_t> made;
  make_ramp(&hdr, &made);
  if (const int rc = rr_write_ramp_file(ramp_path.c_str(), &hdr, made.data())) return fail("rr_write_ramp_file", rc);
  uint16_t* points = nullptr;  // allocated by the reader, released with rr_release_points
  if (const int rc = rr_read_ramp_file(ramp_path.c_str(), &hdr, &points)) return fail("rr_read_ramp_file", rc);
  std::printf("Read ramp %s: %d points, id %d\n", ramp_path.c_str(), hdr.nPoints, hdr.rampID);

  const int slot = 2;
  int rc = ur_ramp_download(info, slot, &hdr, points);
  rr_release_points(&points);
  if (rc != 0) return fail("ur_ramp_download", rc);
  std::printf("Downloaded into slot %d: the board holds %zu points\n", slot, board.slot(slot).points.size());
  if ((rc = ur_ramp_start(info, slot)) != 0) return fail("ur_ramp_start", rc);
  std::printf("Started the ramp in slot %d\n", slot);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s CALIBRATION-FILE [WORK-FOLDER]\n", argv[0]);
    return 2;
  }
  sysInfo_t* info = &sysInfo[0];
  if (const int rc = sb_readCal(0, argv[1])) return fail("sb_readCal", rc);
  if (!ur_is_serial_board(info)) {
    std::fprintf(stderr, "The calibration file names no serial instrument board.\n");
    return 1;
  }

  // The simulated board, on an in-memory line under the port's name. It
  // answers inside each write of the library (on_write), so every command
  // is one call with no thread of its own.
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port(info->instrComm);
  sim::MemoryTransport line{peer, info->instrComm};
  sim::Script script;  // no faults: every request goes to the board
  sim::InstrumentBoard board(info->instrBdType == BD_SABLE ? sim::BoardKind::uz1 : sim::BoardKind::uz2,
                             info->boardVersion);
  board.set_eeprom(sim::InstrumentBoard::ee_serial, static_cast<uint32_t>(info->serialNumber));
  sim::Runner runner(line, board.framer(), script, board);
  peer.on_write([&runner] { runner.step(0); });
  plat::SerialBackend* const real_backend = sio_set_backend(&backend);

  if (const int rc = dev_init_cntrl(1)) return fail("dev_init_cntrl", rc);
  const int rc = run(info, board, u_path_join(argc == 3 ? argv[2] : ".", "example.ramp"));
  ur_closeUZ(&info->boardLink.port);
  dev_close_cntrl();
  sio_set_backend(real_backend);
  return rc;
}
