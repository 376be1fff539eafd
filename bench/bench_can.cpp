// Object access on the simulated CAN network: a product-ID read through the
// whole stack (node operation, SDO wrapper, the bridge library loaded at run
// time, its SDO client, the bus, the node's SDO server and back) against
// the same object taken directly from the simulated node's dictionary, in
// the same run. The ratio is the stack's cost per access; the rate through
// the stack bounds how fast a host can poll a node.
//
// A middle figure binds the simulation's table directly, as the tests do:
// the same SDO transfer without the loaded library and its C boundary.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/errors.h"
#include "instrument/record/sys_info.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_api_internal.h"
#include "instrument/can/can_nodes.h"
#include "platform/host_platform.h"
#include "sim/can/can_sim.h"
#include "sim/can/can_sim_c.h"

namespace {

constexpr const char* kPreset = "fjord:00-1A-2B-3C-4D-5E";

// A connected fjord network behind whatever table is bound.
void connect_bound_table() {
  can_bridge_entry_t entries[CAN_MAX_BRIDGES] = {};
  int32_t status = 0;
  if (can_api_call(&can_api_t::enumerate_bridges, &status, entries, int32_t{CAN_MAX_BRIDGES}) != 0 ||
      status != 1)
    std::abort();
  uint32_t ip = 0;
  std::memcpy(&ip, entries[0].ip, sizeof ip);
  if (can_api_call(&can_api_t::connect, &status, ip) != 0 || status != CAN_OK) std::abort();
}

sysInfo_t& can_record() {
  static sysInfo_t s = [] {
    sysInfo_t r;
    r.instrBdType = BD_CAN;
    return r;
  }();
  return s;
}

void read_product_ids(benchmark::State& state) {
  uint32_t product = 0;
  for (auto _ : state) {
    if (can_read_productID(&can_record(), CAN_NODE_ID_LED, &product) != 0) std::abort();
    benchmark::DoNotOptimize(product);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ProductIdThroughTheLoadedLibrary(benchmark::State& state) {
  felbrin::can::forget_binding();
  if (felbrin::can::bind_library(FELBRIN_CAN_LIBRARY) != 0) std::abort();
  void* module = plat::host::load_library(FELBRIN_CAN_LIBRARY);
  auto* preset = reinterpret_cast<decltype(cansim_preset)*>(
      plat::host::find_symbol(module, "cansim_preset"));
  auto* reset =
      reinterpret_cast<decltype(cansim_reset)*>(plat::host::find_symbol(module, "cansim_reset"));
  if (preset == nullptr || reset == nullptr) std::abort();
  reset();
  if (preset(kPreset) != 1) std::abort();
  connect_bound_table();
  read_product_ids(state);
  reset();
  plat::host::free_library(module);
}
BENCHMARK(BM_ProductIdThroughTheLoadedLibrary);

void BM_ProductIdThroughTheLinkedSimulation(benchmark::State& state) {
  cansim::reset();
  if (!cansim::preset(kPreset)) std::abort();
  can_api_install(cansim::api());
  connect_bound_table();
  read_product_ids(state);
  can_api_install(nullptr);
  cansim::reset();
}
BENCHMARK(BM_ProductIdThroughTheLinkedSimulation);

void BM_ProductIdOnTheNode(benchmark::State& state) {
  cansim::reset();
  if (!cansim::preset(kPreset)) std::abort();
  for (auto _ : state) benchmark::DoNotOptimize(cansim::value(CAN_NODE_ID_LED, 0x1018, 2));
  state.SetItemsProcessed(state.iterations());
  cansim::reset();
}
BENCHMARK(BM_ProductIdOnTheNode);

}  // namespace
