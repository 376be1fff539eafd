// The simulated CAN network.
#include "sim/can/can_sim.h"

#include <gtest/gtest.h>

namespace {

TEST(CanSim, Placeholder) { cansim::reset(); }

}  // namespace
