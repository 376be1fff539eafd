// The seventeenth operation of the test bridge library (testlib_can.cpp).
#include <cstdint>

#include "instrument/can/can_abi.h"

extern "C" std::int32_t CAN_GetPDO(can_pdo_record_t*) { return CAN_ERR_NO_PDO; }
