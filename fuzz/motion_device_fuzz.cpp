// Fuzzes the serial motion controller's driver with everything a
// controller might send: each command of the sequence is chosen by one
// byte and answered by the replies that follow (see FuzzedLine). A query
// the driver answers must have read a checksummed reply line of its code;
// a position must be a field of such a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/device_fuzz.h"
#include "fuzz/fuzz_support.h"
#include "instrument/motion/mc_nova.h"

namespace {

using felbrin::fuzz::ByteStream;
using felbrin::fuzz::expect;
using felbrin::fuzz::FuzzedLine;
using felbrin::fuzz::HangGuard;

// A transfer: up to five sends refused by NAK, each answer a line whose
// bytes take the port's 2 s each at worst, of which only one can time out
// while the others arrive at once or late (at most 12.75 s after a write).
constexpr int64_t kTransferMs = 5 * (12750 + 2000) + 2000;

// Whether the unread bytes hold a checksummed line "<code>...<sum>" whose
// text contains `field` (empty: any).
bool has_line(const FuzzedLine& line, std::string_view code, std::string_view field = {}) {
  const std::string_view text = line.sent_text();
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    const std::string_view l = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (l.size() >= 3 && l.substr(0, 2) == code && mc_nova_checksum(l.substr(0, l.size() - 1)) == l.back() &&
        l.find(field) != std::string_view::npos) {
      return true;
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return false;
}

void run_command(uint8_t choice, mc_ctrl_t& c, FuzzedLine& line) {
  line.mark(c.port.handle);
  int32_t values[MC_AXES] = {};
  switch (choice % 10) {
    case 0: {
      HangGuard guard(kTransferMs);
      if (mc_get_revision_nova(c) == 0) expect(has_line(line, "RR"));
      break;
    }
    case 1: {
      HangGuard guard(kTransferMs);
      if (mc_get_ipos_nova(c, MC_ALL_AXES, values) == 0) expect(has_line(line, "RP", std::to_string(values[5])));
      break;
    }
    case 2: {
      // Five attempts with their pauses.
      HangGuard guard(5 * (kTransferMs + c.retryPauseMs));
      if (mc_get_status_nova(c, MC_ALL_AXES, values) == 0) expect(has_line(line, "RS"));
      break;
    }
    case 3: {
      HangGuard guard(5 * (kTransferMs + c.retryPauseMs));
      (void)mc_get_error_nova(c, 0, values);
      break;
    }
    case 4: {
      HangGuard guard(2 * kTransferMs);
      (void)mc_move_nova(c, 1, 0.25);
      break;
    }
    case 5: {
      // The stop, 250 ms to settle, and a status query.
      HangGuard guard(kTransferMs + 250 + 5 * (kTransferMs + c.retryPauseMs));
      (void)mc_stop_nova(c, 0);
      break;
    }
    case 6: {
      // An unasked line read when it is there.
      HangGuard guard(kTransferMs);
      int32_t kind = 0;
      int32_t key = 0;
      (void)mc_get_event_nova(c, &kind, &key);
      break;
    }
    case 7: {
      HangGuard guard(kTransferMs);
      std::string name;
      uint16_t numbers[2] = {};
      if (mc_get_config_nova(c, &name, numbers) == 0) expect(has_line(line, "RC", name));
      break;
    }
    case 8: {
      // The search, then 100 polls 500 ms apart, each perhaps reading a
      // line, and a stop at the end.
      HangGuard guard(2 * kTransferMs + 100 * (500 + kTransferMs) + 250 + 5 * (kTransferMs + c.retryPauseMs));
      (void)mc_find_home_nova(c, 2);
      break;
    }
    default: {
      HangGuard guard(kTransferMs);
      (void)mc_enable_pos_report_nova(c);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (!felbrin::fuzz::usable_input(size)) return 0;
  felbrin::fuzz::DeviceRun run({data, size}, "COM7");
  mc_ctrl_t c;
  c.kind = MC_KIND_SERIAL;
  c.driver = std::make_unique<NovaDriver>();
  const char letters[] = "XYZRPT";
  for (int i = 0; i < 6; ++i) {
    mc_axis_t& a = c.axes[i];
    a.active = 1;
    a.letter = letters[i];
    a.stepsPerRev = 200;
    a.encSteps = 10;
    a.pitch = 1;
    a.moveMode = MC_MODE_RELATIVE;
    a.homed = 1;
  }
  c.xAxis = 0;
  c.yAxis = 1;
  c.zAxis = 2;
  c.fwMajor = 2;
  c.fwMinor = 3;
  if (mc_open_comm_nova(c, "COM7") != 0) std::abort();
  run.commands([&](uint8_t choice) { run_command(choice, c, run.line); });
  (void)mc_close_comm_nova(c);
  return 0;
}
