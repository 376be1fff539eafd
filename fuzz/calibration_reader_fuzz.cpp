// Fuzzes the calibration file reader. Every file it accepts is written back
// and must read again. The first write may settle a record the file left
// incomplete (a Lumen system always gets two magnifications); from then on
// the written text must stay the same, so no written value comes back
// different.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/record/sys_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::set_up_quietly();

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto first = felbrin::CalCharSource::from_text(text);
  // Fresh records: fields a reset keeps would otherwise carry over from
  // earlier inputs into one read but not the other.
  sysInfo[0] = sysInfo_t{};
  sysInfo[1] = sysInfo_t{};
  sysInfo_t& info = sysInfo[0];
  if (felbrin::cal_read_stream(info, first) != 0) return 0;
  int fault = 0;
  const std::string written = felbrin::cal_write_text(info, &fault);
  if (fault != 0) return 0;

  auto second = felbrin::CalCharSource::from_text(written);
  if (felbrin::cal_read_stream(sysInfo[1], second) != 0) std::abort();  // the reader refuses what the writer wrote
  const std::string settled = felbrin::cal_write_text(sysInfo[1], &fault);
  if (settled == written) return 0;  // reading it again is the read just done
  sysInfo[0] = sysInfo_t{};
  auto third = felbrin::CalCharSource::from_text(settled);
  if (felbrin::cal_read_stream(sysInfo[0], third) != 0) std::abort();
  if (felbrin::cal_write_text(sysInfo[0], &fault) != settled) std::abort();  // a value changed on the way
  return 0;
}
