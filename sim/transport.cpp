#include "sim/transport.h"

#include <chrono>
#include <thread>

#include "sim/memory_serial.h"

namespace sim {

MemoryTransport::MemoryTransport(MemorySerialPort& port, std::string name)
    : port_(port), name_(std::move(name)) {}

std::vector<uint8_t> MemoryTransport::receive(int wait_ms) {
  std::vector<uint8_t> bytes = port_.take_written();
  // The port cannot wake a waiter; a short real nap keeps a background
  // runner from spinning a core.
  if (bytes.empty() && wait_ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bytes = port_.take_written();
  }
  if (!connected_) return {};
  return bytes;
}

bool MemoryTransport::send(std::span<const uint8_t> bytes, int64_t delay_ms) {
  if (!connected_) return false;
  if (delay_ms > 0) {
    port_.push_after(delay_ms, bytes);
  } else {
    port_.push(bytes);
  }
  return true;
}

void MemoryTransport::disconnect() {
  connected_ = false;
  port_.fail(SerialOp::read);
  port_.fail(SerialOp::write);
}

}  // namespace sim
