// Fuzzes the wave monitor's commands with everything a monitor might send:
// each command of the sequence is chosen by one byte and answered by the
// replies that follow (see FuzzedLine; the text and its CR are two writes,
// so two replies). Replies arrive in order, so the bytes the library reads
// for a command are exactly the unread ones from its start: the values a
// command that succeeds returns must be its data bytes there.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/device_fuzz.h"
#include "fuzz/fuzz_support.h"
#include "instrument/record/sys_info.h"
#include "instrument/serial/wave_monitor.h"

namespace {

using felbrin::fuzz::ByteStream;
using felbrin::fuzz::expect;
using felbrin::fuzz::FuzzedLine;
using felbrin::fuzz::HangGuard;

// The first byte may take 10 s, every other byte the port's 2 s.
constexpr int64_t reply_ms(int bytes) { return 10000 + int64_t{2000} * (bytes - 1); }

uint32_t le32(const std::vector<uint8_t>& b, std::size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The reply of `length` data bytes and ACK the monitor sent; a command
// that succeeded without one took a reply that was never sent.
const std::vector<uint8_t>& acked(const FuzzedLine& line, std::size_t length) {
  const std::vector<uint8_t>& b = line.sent();
  expect(b.size() > length && b[length] == WM_ACK);
  return b;
}

void run_command(uint8_t choice, ByteStream& input, sysInfo_t& info, FuzzedLine& line) {
  sio_port_t* port = &info.waveMonitor.port;
  line.mark(port->handle);
  switch (choice % 10) {
    case 0: {
      HangGuard guard(reply_ms(5));
      int32_t state = 0;
      if (wm_get_laser(port, &state) == 0) {
        expect(static_cast<uint32_t>(state) == le32(acked(line, 4), 0));
      }
      break;
    }
    case 1: {
      HangGuard guard(reply_ms(1));
      (void)wm_set_laser(port, 1);
      break;
    }
    case 2: {
      // The switch, then ten polls a second apart.
      HangGuard guard(reply_ms(1) + 10 * (1000 + reply_ms(5)));
      (void)wm_set_laser_with_wait(port, input.byte() & 1);
      break;
    }
    case 3: {
      HangGuard guard(reply_ms(37));
      wm_status_t status{};
      if (wm_read_status(port, &status) == 0) {
        const auto& b = acked(line, 36);
        expect(status.secondsSinceCal == le32(b, 24) && status.flags == le32(b, 32));
      }
      break;
    }
    case 4: {
      HangGuard guard(reply_ms(5));
      float gain = 0;
      if (wm_read_gain(port, &gain) == 0) {
        uint32_t bits = 0;
        std::memcpy(&bits, &gain, sizeof bits);
        expect(bits == le32(acked(line, 4), 0));
      }
      break;
    }
    case 5: {
      HangGuard guard(reply_ms(1));
      (void)wm_set_cl(port, 1.25);
      break;
    }
    case 6: {
      HangGuard guard(reply_ms(1));
      (void)wm_set_ss(port, 0.5f);
      break;
    }
    case 7: {
      HangGuard guard(reply_ms(9));
      int32_t first = 0;
      int32_t second = 0;
      if (wm_set_ramp_range(port, 1000, -2000, &first, &second) == 0) {
        const auto& b = acked(line, 8);
        expect(static_cast<uint32_t>(first) == le32(b, 0) && static_cast<uint32_t>(second) == le32(b, 4));
      }
      break;
    }
    case 8: {
      // Status, perhaps status again, then the 40-byte calibration.
      HangGuard guard(2 * reply_ms(37) + reply_ms(41));
      (void)wm_read_cal(&info);
      break;
    }
    default: {
      // Quiet for 100 ms, or given up after 10 s.
      HangGuard guard(10000);
      (void)wm_flush_inp(port);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (!felbrin::fuzz::usable_input(size)) return 0;
  felbrin::fuzz::DeviceRun run({data, size}, "COM3");
  sysInfo_t& info = sysInfo[0];
  info = sysInfo_t{};
  info.wmComm = "COM3";
  if (wm_comm_open(&info) != 0) std::abort();
  run.commands([&](uint8_t choice) { run_command(choice, run.input, info, run.line); });
  (void)wm_comm_close(&info.waveMonitor.port);
  info = sysInfo_t{};
  return 0;
}
