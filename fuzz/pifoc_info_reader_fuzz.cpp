// Fuzzes the pifoc info file reader. What it accepts, written as the save
// writes it, reads back to the same values; the time-on model then runs on
// those values without overflow (UBSan watches).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/errors.h"
#include "fuzz/fuzz_support.h"
#include "instrument/calibration/pifoc_internal.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"

namespace {

int read(const std::string& text, felbrin::PifocInfo& info) {
  std::FILE* f = plat::open_memory(text.data(), text.size());
  if (f == nullptr) std::abort();
  const int rc = felbrin::read_pifoc_info_stream(f, "fuzz", &info);
  std::fclose(f);
  return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::set_up_quietly();
  felbrin::PifocInfo info;
  const int rc = read(std::string(reinterpret_cast<const char*>(data), size), info);
  if (rc != 0) {
    if (rc != ERR_CANT_READ_FILE) std::abort();
    return 0;
  }
  felbrin::PifocInfo again;
  if (read(felbrin::pifoc_info_line(info, "\r\n"), again) != 0 || again.te != info.te || again.t1 != info.t1 ||
      again.leakage != info.leakage)
    std::abort();
  // The model takes any stored times; te stays at least 1 once it moves.
  for (const int32_t state : {SB_PIFOC_ON, SB_PIFOC_OFF}) {
    for (const double beta : {0.0, 0.0144}) {
      const felbrin::PifocTimes t = felbrin::pifoc_time_step({info.te, info.t1}, info.leakage, state, beta);
      if (t.t1 != info.t1 && t.t1 != info.leakage) std::abort();
      if (info.leakage > info.t1 && t.te < 1) std::abort();
      (void)felbrin::pifoc_time_gain(0.93, beta, t.te);
    }
  }
  return 0;
}
