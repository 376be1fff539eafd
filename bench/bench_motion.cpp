// Status polling of all axes of the serial motion controller, as the axis
// layer waits for a move: through the driver (entry 15: command, checksum,
// ACK, reply line read byte by byte and parsed) against the simulated
// controller on the in-memory link, and a baseline that exchanges the same
// bytes with sio_send_data and sio_read_data directly. Both pay for the
// simulated controller; their ratio is the driver's own cost per poll.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "instrument/motion/mc_nova.h"
#include "instrument/serial/serial_port.h"
#include "sim/memory_serial.h"
#include "sim/motion_controller.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"

namespace {

// The simulated controller on a line of the in-memory back end, answering
// inside the library's writes.
struct Link {
  Link() : saved(sio_set_backend(&backend)) {
    peer.on_write([this] { runner.step(0); });
    peer.on_look([this] {
      runner.step(0);
      return runner.next_due();
    });
  }
  ~Link() { sio_set_backend(saved); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM7");
  sim::MemoryTransport transport{peer, "COM7"};
  sim::Script script;
  sim::MotionController model;
  sim::Runner runner{transport, model.framer(), script, model};
  plat::SerialBackend* saved;
};

void BM_StatusThroughTheDriver(benchmark::State& state) {
  Link link;
  mc_ctrl_t c;
  c.kind = MC_KIND_SERIAL;
  c.driver = std::make_unique<NovaDriver>();
  for (int i = 0; i < 6; ++i) c.axes[i].active = 1;
  if (c.driver->open(c, "COM7", 0, 0, nullptr, nullptr) != 0) std::abort();
  int32_t values[MC_AXES];
  for (auto _ : state) {
    if (c.driver->get_status(c, MC_ALL_AXES, values) != 0) std::abort();
    benchmark::DoNotOptimize(values);
  }
  state.SetItemsProcessed(state.iterations());
  c.driver->close(c);
}
BENCHMARK(BM_StatusThroughTheDriver);

void BM_StatusBytesDirectly(benchmark::State& state) {
  Link link;
  sio_port_t port;
  if (sio_open("COM7", &port) != 0 || sio_init(port.handle, nullptr, 0) != 0) std::abort();
  const std::string request = "RS E\n";
  // ACK line and "RS 2 2 2 2 2 2 2" with its checksum and LF.
  constexpr uint32_t kAnswer = 3 + 17 + 1;
  uint8_t answer[kAnswer];
  for (auto _ : state) {
    uint32_t done = 0;
    if (sio_send_data(port.handle, request.data(), static_cast<uint32_t>(request.size()), &done) != 0 ||
        sio_read_data(port.handle, answer, kAnswer, &done) != 0 || done != kAnswer)
      std::abort();
    benchmark::DoNotOptimize(answer);
  }
  state.SetItemsProcessed(state.iterations());
  sio_close(&port);
}
BENCHMARK(BM_StatusBytesDirectly);

}  // namespace
