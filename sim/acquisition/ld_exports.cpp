// The stand-in display-processing module of the frame grabber: the five
// entries of fx_ld_table_t (instrument/acquisition/fx_acq_abi.h), which
// accept any setting and trace each call as the acquisition library does,
// and fxsim_ld_call_count (fxsim.h). The export lists built beside the
// tests choose which names a variant shows.
#include <atomic>
#include <string>

#include "instrument/acquisition/fx_acq_abi.h"
#include "sim/acquisition/call_trace.h"
#include "sim/acquisition/fxsim.h"

namespace {

std::atomic<int32_t> g_calls{0};

int traced(const std::string& call, int result) {
  ++g_calls;
  // Read at every call: the module is called rarely and a host may set
  // the variable late.
  sim::acq::CallTrace trace;
  trace.refresh();
  trace.line(call + " = " + std::to_string(result));
  return result;
}

}  // namespace

extern "C" {

int SetLDMinArea(int pixels) {
  return traced("SetLDMinArea(" + std::to_string(pixels) + ')', pixels >= 0 ? 1 : 0);
}
int SetLDTrelScale(double scale) {
  return traced("SetLDTrelScale(" + sim::acq::number(scale) + ')', scale > 0 ? 1 : 0);
}
int SetLDPhaseRes(int resolution) {
  return traced("SetLDPhaseRes(" + std::to_string(resolution) + ')', resolution > 0 ? 1 : 0);
}
int SetLDNFringes(int fringes) {
  return traced("SetLDNFringes(" + std::to_string(fringes) + ')', fringes >= 0 ? 1 : 0);
}
int RunLDCommand(const char* command) {
  return traced("RunLDCommand(" + sim::acq::quoted(command) + ')',
                command != nullptr && *command != '\0' ? 1 : 0);
}

int32_t fxsim_ld_call_count(void) { return g_calls.load(); }

}  // extern "C"

[[maybe_unused]] constexpr fx_ld_table_t kTable = {SetLDMinArea, SetLDTrelScale, SetLDPhaseRes,
                                                   SetLDNFringes, RunLDCommand};
