// The instrument boards' command and fault tables: one row per command
// code and board, read by the packet builder, the reply check and the
// command names alike, and one row per fault byte. Internal to the board
// protocol and its tests.
#pragma once

#include <cstdint>
#include <span>

namespace felbrin::board {

// Every command of the four boards; each board's table says which it has
// and under which code.
enum class Cmd : uint8_t {
  INVALID,
  MOTOR_MOVE,
  MOTOR_READ,
  PZT_SET,
  PZT_POWER,
  LLC_SET,
  LLC_READ,
  LLC_MODE_SET,
  LLC_MODE_READ,
  RAMP_REQUEST,
  EE_SERIAL_SET,
  EE_SERIAL_READ,
  EE_CAMERA_SET,
  EE_CAMERA_READ,
  EE_LIGHT_SET,
  EE_LIGHT_READ,
  EE_SYSTEM_SET,
  EE_SYSTEM_READ,
  EE_SYSDATE_SET,
  EE_SYSDATE_READ,
  EE_INSTRBD_SET,
  EE_INSTRBD_READ,
  ADC_P12_READ,
  ADC_N15_READ,
  ADC_P15_READ,
  ADC_P200_READ,
  SYSERR,
  PZT_CHK,
  RESET_UART,
  READ_IO,
  WRITE_IO,
  SW_VERSION,
  RAMP_LOAD,
  RAMP_DAC,
  RAMP_DATA,
  RAMP_COMPLETE,
  RAMP_ABORT,
  RAMP_DELETE,
  RAMP_IDLE,
  RAMP_START,
  PZT3_DISCONNECT,
  POWER_CHK,
  PIFOC_LEVEL,
  PIFOC_RESET,
  CAMERA_RES,
  PZT_TYPE,
  PC_READ,
  PC_ADC_SET,
  PC_ADC_READ,
  RAMP_COMP_LOAD,
  PC_RAMP_DONE,
  EXPANSION_BD,
  LCZDRIVE,
  RAMP_UPDATERATE,
  CUSTOM_CAMERA,
  ZOOM_POSITION,
  TURRET_POSITION,
  ZOOMPOS_REPORT,
  TURRETPOS_REPORT,
  WAND,
  QUARTZ_INIT,
  QUARTZ_POS,
  LLC_STABLE,
  FKEY,
  VIDEO_PR,
  LOCK_POS,
  WAND_MOTION,
  WAND_MODE,
  PZT3,
  PZT3_RESET,
  PZT3_STATUS,
  PZT3_PWRCHK,
  PZT3_RAMP,
  QUARTZ,
  DD_VOLTCHK,
  ALIGN_VIEW,
  RING_SPOT,
  CHANGE_RINGSPOT,
  CHANGE_ALIGNVIEW,
  WAND_MODE2,
  AV_MOVING,
  RS_MOVING,
  SHUTTER_STATE,
  SHUTTER_OUTPUT,
  READ_TMI_LOCKEDP,
  READ_TMI_MEASERR,
  RESET_TMI,
};

struct CmdRow {
  Cmd cmd;
  const char* name;
  uint8_t cmd_len;    // LEN of the command packet; 0: a report the board sends
  uint8_t reply_len;  // LEN of the data reply; 0: answered by ACK only
};

struct FaultRow {
  uint8_t byte;
  const char* message;
  int code;
};

struct Board {
  int type;                          // instrBdType
  std::span<const CmdRow> commands;  // indexed by code
  std::span<const FaultRow> faults;
  uint8_t invalid_ramp_index;  // the fault byte RAMP_UPDATERATE answers for an empty slot; 0: none
};

// The board of a serial board type; null for any other type.
const Board* board_of(int board_type);
// The command's code on that board, -1 when the board has no such command.
int code_of(const Board& board, Cmd cmd);
// The row of a code; null beyond the table.
const CmdRow* row_of(const Board& board, int code);
// Whether the first board (the UZ1 board) has the command: the rule for
// what an operation does on a board that lacks it.
bool uz1_has(Cmd cmd);

}  // namespace felbrin::board
