// Tests that talk to nodes directly, without a power-on, bind the simulated
// network and connect its first bridge themselves.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "instrument/can/can_api.h"
#include "sim/can/can_sim.h"

namespace felbrin::test {

// Binds the simulation's table and connects the first bridge it finds.
inline ::testing::AssertionResult connect_simulated_bridge() {
  can_api_install(cansim::api());
  can_bridge_entry_t bridges[CAN_MAX_BRIDGES] = {};
  int32_t found = 0;
  if (can_api_call(&can_api_t::enumerate_bridges, &found, bridges, int32_t{CAN_MAX_BRIDGES}) != 0 ||
      found < 1)
    return ::testing::AssertionFailure() << "no simulated bridge (" << found << ")";
  uint32_t ip = 0;
  std::memcpy(&ip, bridges[0].ip, sizeof ip);
  int32_t status = 0;
  if (can_api_call(&can_api_t::connect, &status, ip) != 0 || status != CAN_OK)
    return ::testing::AssertionFailure() << "CAN_Connect gave " << status;
  return ::testing::AssertionSuccess();
}

}  // namespace felbrin::test
