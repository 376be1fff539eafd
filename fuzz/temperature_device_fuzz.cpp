// Fuzzes the temperature controller's block protocol with everything a
// controller might send: each exchange of the sequence is chosen by one
// byte and answered by the reply that follows (see FuzzedLine). Replies
// arrive in order, so a read the library takes must be exactly STX, the
// mnemonic asked for, the value given back, ETX and the XOR block check
// at the start of the unread bytes; a write is accepted by any first byte
// but NAK.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "fuzz/device_fuzz.h"
#include "fuzz/fuzz_support.h"
#include "instrument/serial/temperature.h"

namespace {

using felbrin::fuzz::ByteStream;
using felbrin::fuzz::expect;
using felbrin::fuzz::FuzzedLine;
using felbrin::fuzz::HangGuard;

// The first byte may take 10 s, each later one the port's 2 s; a block
// holds at most 255 bytes and its check.
constexpr int64_t kReadMs = 10000 + 2000 * int64_t{TEMP_STR_MAX_LEN};
// A NAK: the error report of up to 256 bytes, then up to 10 s of draining.
constexpr int64_t kWriteMs = 10000 + 2000 * int64_t{256} + 10000;

void check_read(const FuzzedLine& line, std::string_view mnemonic, std::string_view value) {
  const std::vector<uint8_t>& b = line.sent();
  const std::size_t etx = 1 + mnemonic.size() + value.size();
  expect(b.size() > etx + 1 && b[0] == 0x02 && b[etx] == 0x03);
  expect(line.sent_text().substr(1, mnemonic.size()) == mnemonic);
  expect(line.sent_text().substr(1 + mnemonic.size(), value.size()) == value);
  uint8_t check = 0;
  for (std::size_t i = 1; i <= etx; ++i) check ^= b[i];
  expect(b[etx + 1] == check);
}

constexpr std::array<std::string_view, 4> kReads = {"PV", "SL", "OP", "EE"};
constexpr std::array<std::string_view, 3> kWrites = {"SL0025.", "IM0002.", "QD0002."};

void run_command(uint8_t choice, sio_handle_t handle, FuzzedLine& line) {
  line.mark(handle);
  if (choice % 8 < kReads.size()) {
    HangGuard guard(kReadMs);
    const std::string_view mnemonic = kReads[choice % 8];
    std::array<char, 16> text{};
    std::copy(mnemonic.begin(), mnemonic.end(), text.begin());
    if (temp_comm_write(handle, text.data(), text.size(), 2, TEMP_MSG_READ) == 0) {
      check_read(line, mnemonic, text.data());
    }
  } else if (choice % 8 < kReads.size() + kWrites.size()) {
    HangGuard guard(kWriteMs);
    const std::string_view setting = kWrites[choice % 8 - kReads.size()];
    std::array<char, 8> text{};
    std::copy(setting.begin(), setting.end(), text.begin());
    const int length = static_cast<int>(setting.size());
    if (temp_comm_write(handle, text.data(), text.size(), length, TEMP_MSG_WRITE) == 0) {
      expect(!line.sent().empty() && line.sent()[0] != 0x15);
    }
  } else {
    // Four writes, then 5 s to settle.
    HangGuard guard(4 * kWriteMs + 5000);
    (void)temp_lumen_startup(handle);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (!felbrin::fuzz::usable_input(size)) return 0;
  felbrin::fuzz::DeviceRun run({data, size}, "COM5");
  sio_port_t port;
  if (temp_comm_open(&port, "COM5") != 0) std::abort();
  run.commands([&](uint8_t choice) { run_command(choice, port.handle, run.line); });
  (void)temp_comm_close(&port);
  return 0;
}
