// The four slots of the system information record and the questions every
// subsystem asks of a record.
#include "instrument/record/sys_info.h"

#include <algorithm>
#include <atomic>

#include "common/errors.h"

sysInfo_t sysInfo[SB_SLOTS];

namespace {

std::atomic<int> current_slot{0};

}  // namespace

bool sb_system_type_in(const sysInfo_t* info, std::initializer_list<int32_t> types) {
  return info != nullptr && std::find(types.begin(), types.end(), info->systemType) != types.end();
}

bool sb_hasDualBrushMotor(const sysInfo_t* info) {
  if (info == nullptr || info->instrBdType != BD_CAN) return false;
  switch (info->systemType) {
    case SYS_BIRCH7:
    case SYS_BIRCH9: return true;
    case SYS_FJORD1:
    case SYS_FJORD2:
    case SYS_FJORD3:
    case SYS_FJORD4:
    case SYS_FJORD5:
    case SYS_FJORD6: return info->useDualBrushMotor != 0;
    default: return false;
  }
}

int sb_set_current_slot(int slot) {
  if (slot < 0 || slot >= SB_SLOTS) return ERR_PARAM_OUT_OF_RANGE;
  current_slot = slot;
  return 0;
}

int sb_current_slot() { return current_slot; }

sysInfo_t* sb_current_info() { return &sysInfo[current_slot]; }
