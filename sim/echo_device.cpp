#include <string>

#include "sim/device_model.h"

namespace sim {

std::vector<std::vector<uint8_t>> EchoDevice::handle(const Frame& request) {
  if (!request.intact) return {{kNak}};
  ++requests_;
  const std::string text = request.text();
  const std::string answer = text == "COUNT?" ? std::to_string(requests_) : "ACK" + text;
  return {framing_.wrap(to_bytes(answer))};
}

std::vector<std::vector<uint8_t>> LoopbackDevice::handle(const Frame& request) {
  return {request.raw};
}

}  // namespace sim
