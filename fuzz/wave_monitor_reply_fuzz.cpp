// Fuzzes the wave monitor's reply reader with whatever a monitor might put
// on the line. The first three bytes choose the reply kind, respLen and the
// item size; the rest is the line. Time is virtual, so a reply that stops
// short costs nothing. A failed read must leave no buffer; a reply the
// reader takes must end in ACK and be as long as its kind says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fuzz/fuzz_support.h"
#include "instrument/serial/wave_monitor.h"
#include "sim/memory_serial.h"

namespace {

int64_t g_now = 0;
void virtual_sleep(uint32_t ms) { g_now += ms; }
int64_t virtual_ticks() { return g_now; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  felbrin::fuzz::set_up_quietly();
  u_set_sleep_fn(virtual_sleep);
  u_set_ticks_fn(virtual_ticks);
  const int type = data[0] % 6;
  const int resp_len = static_cast<int8_t>(data[1]);
  const int item_size = static_cast<int8_t>(data[2]);

  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM1");
  plat::SerialBackend* saved = sio_set_backend(&backend);
  sio_port_t port;
  if (wm_comm_open_fd(&port, "COM1") != 0) std::abort();
  peer.push(std::span(data + 3, size - 3));
  wm_reply_t reply{};
  const int rc = wm_comm_read(&port, &reply, resp_len, item_size, type, 0);
  if (rc != 0) {
    if (reply.data != nullptr) std::abort();
  } else {
    int64_t length = 1;
    if (type == WM_RESP_READ) length = resp_len;
    if (type == WM_RESP_READ_ACK) length = int64_t{resp_len} + 1;
    if (type == WM_RESP_SIZE_READ_ACK) {
      const uint32_t n = static_cast<uint32_t>(reply.data[0]) | static_cast<uint32_t>(reply.data[1]) << 8 |
                         static_cast<uint32_t>(reply.data[2]) << 16 | static_cast<uint32_t>(reply.data[3]) << 24;
      length = int64_t{resp_len} + int64_t{n} * item_size + 5;
    }
    if (reply.data == nullptr || reply.count < length) std::abort();
    const bool trailer = type == WM_RESP_ACK || type == WM_RESP_READ_ACK || type == WM_RESP_SIZE_READ_ACK;
    if (trailer && reply.data[length - 1] != WM_ACK) std::abort();
  }
  mx_list_release(&reply);
  wm_comm_close(&port);
  sio_set_backend(saved);
  return 0;
}
