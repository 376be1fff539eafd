// The temperature controller's line: opening and closing it, one message
// out and its answer in, and the Lumen start-up writes.
#include "instrument/serial/temperature.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kNak = 0x15;
// Group 00, unit 11: the only controller the instruments carry.
constexpr std::string_view kAddress = "0011";
constexpr uint32_t kFirstByteMs = 10000;
// An error report is a short block; a line that keeps chattering past this
// is not waited out.
constexpr int kErrorReportMax = 256;
constexpr int kStartupSettleMs = 5000;

bool no_line(sio_handle_t handle) { return handle == 0 || handle == SIO_INVALID_HANDLE; }

bool read_byte(sio_handle_t handle, uint8_t& byte) {
  uint32_t got = 0;
  return sio_read_data(handle, &byte, 1, &got) == 0 && got == 1;
}

uint8_t block_check(std::span<const uint8_t> bytes) {
  uint8_t x = 0;
  for (uint8_t b : bytes) x = static_cast<uint8_t>(x ^ b);
  return x;
}

// EOT and the address, then the body; sized up front.
std::vector<uint8_t> message(std::string_view body, int type) {
  const bool write = type == TEMP_MSG_WRITE;
  std::vector<uint8_t> m(1 + kAddress.size() + body.size() + (write ? 3 : 1));
  auto at = m.begin();
  *at++ = kEot;
  at = std::copy(kAddress.begin(), kAddress.end(), at);
  if (write) *at++ = kStx;
  const auto text = at;
  at = std::copy(body.begin(), body.end(), at);
  if (!write) {
    *at = kEnq;
    return m;
  }
  *at++ = kEtx;
  *at = block_check(std::span<const uint8_t>(&*text, static_cast<std::size_t>(at - text)));
  return m;
}

// The first byte of an answer may take a while; the port's own timeout
// comes back whatever happened. 1: no byte; -1: the timeout could not be
// read or set.
int first_byte(sio_handle_t handle, uint8_t& byte) {
  uint32_t saved = 0;
  if (sio_get_read_timeout_ms(handle, &saved) != 0) return -1;
  if (sio_set_read_timeout_ms(handle, kFirstByteMs) != 0) return -1;
  const bool got = read_byte(handle, byte);
  (void)sio_set_read_timeout_ms(handle, saved);
  return got ? 0 : 1;
}

// Asks the controller why it refused a write and logs its report up to
// ETX. The block check after ETX, and anything a chattering line adds, is
// thrown away: left in the line, it would be taken for the acceptance of
// the next write.
void log_error_report(sio_handle_t handle) {
  // A read of "EE" without its ENQ, as the controller takes it.
  std::vector<uint8_t> query = message("EE", TEMP_MSG_READ);
  query.pop_back();
  uint32_t written = 0;
  if (sio_send_data(handle, query.data(), static_cast<uint32_t>(query.size()), &written) != 0) {
    u_log_fn("temp_comm_read: EE err2 error\n");
  } else {
    for (int i = 0; i < kErrorReportMax; ++i) {
      uint8_t b = 0;
      if (!read_byte(handle, b)) {
        u_log_fn("temp_comm_read: EE err3 error\n");
        break;
      }
      u_log_fn("char: 0x%x\n", static_cast<unsigned>(b));
      if (b == kEtx) break;
    }
  }
  (void)sio_clear_buffer(handle);
}

// The block after STX: bytes up to ETX, then the block check.
int read_block(sio_handle_t handle, std::string& reply) {
  std::array<uint8_t, TEMP_STR_MAX_LEN - 1> block{};
  std::size_t n = 0;
  for (;;) {
    uint8_t b = 0;
    if (!read_byte(handle, b)) {
      u_log_fn("temp_comm_read: sio_read_data failed: %s\n", err_name(ERR_TEMP_SENSOR_READ));
      return ERR_TEMP_SENSOR_READ;
    }
    if (n == block.size()) {
      u_log_fn("temp_comm_read: i=TEMP_STR_MAX_LEN\n");
      return ERR_TEMP_SENSOR_READ;
    }
    block[n++] = b;
    if (b == kEtx) break;
  }
  uint8_t sent = 0;
  if (!read_byte(handle, sent)) {
    u_log_fn("temp_comm_read: sio_read_data failed: %s\n", err_name(ERR_TEMP_SENSOR_READ));
    return ERR_TEMP_SENSOR_READ;
  }
  const uint8_t calc = block_check(std::span<const uint8_t>(block.data(), n));
  if (sent != calc) {
    u_log_fn("temp_comm_read: checksums mismatched: sent=%d calc=%d\n", sent, calc);
    return ERR_TEMP_SENSOR_CHECKSUM;
  }
  reply.assign(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n - 1));
  return 0;
}

}  // namespace

int temp_comm_open(sio_port_t* port, const char* device) {
  if (port == nullptr || device == nullptr) return ERR_INVALID_PARAM;
  constexpr sio_line_settings_t kLine{.baud = 9600, .parity = 2, .data_bits = 7};
  const int err = sio_open_configured(device, kLine, port);
  if (err == 0) return 0;
  u_log_fn("temp_comm_open: error initializing device %s: %s\n", device, err_name(err));
  return ERR_TEMP_SENSOR_COMM;
}

int temp_comm_close(sio_port_t* port) {
  if (port == nullptr) return 0;
  if (const int err = sio_close(port); err != 0) {
    u_log_fn("temp_comm_close: sio_close failed: %s\n", err_name(err));
    return ERR_TEMP_SENSOR_COMM;
  }
  return 0;
}

int temp_comm_read(sio_handle_t handle, std::string* reply, int type) {
  if (reply != nullptr) reply->clear();
  if (no_line(handle)) return 0;
  if (reply == nullptr) return ERR_INVALID_PARAM;

  uint8_t first = 0;
  const int got = first_byte(handle, first);
  if (got < 0) return ERR_TEMP_SENSOR_COMM;
  if (got > 0) {
    u_log_fn("temp_comm_read: timeout on first byte, respType=%d\n", type);
    return ERR_TEMP_SENSOR_TIMEOUT;
  }
  switch (type) {
    case TEMP_MSG_WRITE:
      if (first != kNak) return 0;
      u_log_fn("temp_comm_read: received NAK\n");
      log_error_report(handle);
      return ERR_TEMP_SENSOR_COMM;
    case TEMP_MSG_READ:
      if (first == kEot) {
        u_log_fn("temp_comm_read: received EOT, respType=%d\n", type);
        return ERR_TEMP_SENSOR_COMM;
      }
      if (first != kStx) {
        u_log_fn("temp_comm_read: received unknown response character 0x%x\n",
                 static_cast<unsigned>(first));
        return ERR_TEMP_SENSOR_COMM;
      }
      return read_block(handle, *reply);
    default:
      u_log_fn("temp_comm_read: unknown response type %d\n", type);
      return ERR_TEMP_SENSOR_COMM;
  }
}

int temp_comm_write(sio_handle_t handle, char* text, std::size_t capacity, int length, int type) {
  if (no_line(handle)) return 0;
  if (length < 0 || static_cast<std::size_t>(length) > capacity ||
      (text == nullptr && length > 0)) {
    return ERR_INVALID_PARAM;
  }
  if (type != TEMP_MSG_WRITE && type != TEMP_MSG_READ) return ERR_TEMP_SENSOR_COMM;
  const std::string_view body(text, static_cast<std::size_t>(length));
  const std::vector<uint8_t> m = message(body, type);
  uint32_t written = 0;
  if (sio_send_data(handle, m.data(), static_cast<uint32_t>(m.size()), &written) != 0) {
    u_log_fn("temp_comm_write: sio_send_data failed: nbytes=%d\n", static_cast<int>(m.size()));
    return ERR_TEMP_SENSOR_COMM;
  }
  std::string reply;
  if (const int rc = temp_comm_read(handle, &reply, type); rc != 0) return rc;
  if (type == TEMP_MSG_WRITE) return 0;

  // The value comes back in the caller's buffer, NUL-ended.
  if (body.size() < 2 || reply.compare(0, 2, body.substr(0, 2)) != 0) return ERR_TEMP_SENSOR_READ;
  const std::string_view value = std::string_view(reply).substr(2);
  if (value.size() >= capacity) return ERR_TEMP_SENSOR_READ;
  // A NUL-ended value cannot carry a NUL: the caller would read a shorter
  // value than the controller sent, and the controller sends text.
  if (value.find('\0') != std::string_view::npos) {
    u_log_fn("temp_comm_write: NUL byte in the value of %.2s\n", body.data());
    return ERR_TEMP_SENSOR_READ;
  }
  std::copy(value.begin(), value.end(), text);
  text[value.size()] = '\0';
  return 0;
}

int temp_lumen_startup(sio_handle_t handle) {
  for (std::string_view setting : {"IM0002.", "QD0002.", "Q10000.", "IM0000."}) {
    std::array<char, 8> text{};
    std::copy(setting.begin(), setting.end(), text.begin());
    const int length = static_cast<int>(setting.size());
    if (const int rc = temp_comm_write(handle, text.data(), text.size(), length, TEMP_MSG_WRITE);
        rc != 0)
      return rc;
  }
  u_sleep_ms(kStartupSettleMs);
  return 0;
}
