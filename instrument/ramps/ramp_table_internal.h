// What the ramp table's two halves (building it, using it) share.
#pragma once

#include <string>

#include "instrument/ramps/ramp_table.h"

namespace felbrin::ramps {

// The back end of a Dune or CAN record (its functions may be null); null
// for the serial boards.
const rr_board_backend_t* backend_of(const sysInfo_t* info);
bool external_profiles(const sysInfo_t* info);
bool is_active(const sysInfo_t* info);

// Numbers in messages, as ISO C's "%.<digits>f" writes them on every
// platform ("%g" is fmt_g_string).
std::string fixed_text(double v, int digits);

}  // namespace felbrin::ramps
