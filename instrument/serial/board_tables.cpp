#include "instrument/serial/board_tables.h"

#include "common/errors.h"
#include "instrument/record/sys_info.h"

namespace felbrin::board {
namespace {

constexpr CmdRow kUz1Commands[] = {
    {Cmd::INVALID, "UZ1_INVALID_CMD", 0, 0},                    // 0
    {Cmd::MOTOR_MOVE, "UZ1_MOTOR_MOVE_CMD", 5, 0},              // 1
    {Cmd::MOTOR_READ, "UZ1_MOTOR_READ_CMD", 3, 3},              // 2
    {Cmd::PZT_SET, "UZ1_PZT_SET_CMD", 8, 0},                    // 3
    {Cmd::PZT_POWER, "UZ1_PZT_POWER_CMD", 3, 0},                // 4
    {Cmd::LLC_SET, "UZ1_LLC_SET_CMD", 4, 0},                    // 5
    {Cmd::LLC_READ, "UZ1_LLC_READ_CMD", 2, 4},                  // 6
    {Cmd::LLC_MODE_SET, "UZ1_LLC_MODE_SET_CMD", 5, 0},          // 7
    {Cmd::LLC_MODE_READ, "UZ1_LLC_MODE_READ_CMD", 2, 3},        // 8
    {Cmd::RAMP_REQUEST, "UZ1_RAMP_REQUEST_CMD", 2, 14},         // 9
    {Cmd::EE_SERIAL_SET, "UZ1_EE_SERIAL_SET_CMD", 6, 0},        // 10
    {Cmd::EE_SERIAL_READ, "UZ1_EE_SERIAL_READ_CMD", 2, 6},      // 11
    {Cmd::EE_CAMERA_SET, "UZ1_EE_CAMERA_SET_CMD", 3, 0},        // 12
    {Cmd::EE_CAMERA_READ, "UZ1_EE_CAMERA_READ_CMD", 2, 3},      // 13
    {Cmd::EE_LIGHT_SET, "UZ1_EE_LIGHT_SET_CMD", 3, 0},          // 14
    {Cmd::EE_LIGHT_READ, "UZ1_EE_LIGHT_READ_CMD", 2, 3},        // 15
    {Cmd::EE_SYSTEM_SET, "UZ1_EE_SYSTEM_SET_CMD", 3, 0},        // 16
    {Cmd::EE_SYSTEM_READ, "UZ1_EE_SYSTEM_READ_CMD", 2, 3},      // 17
    {Cmd::EE_SYSDATE_SET, "UZ1_EE_SYSDATE_SET_CMD", 4, 0},      // 18
    {Cmd::EE_SYSDATE_READ, "UZ1_EE_SYSDATE_READ_CMD", 2, 4},    // 19
    {Cmd::EE_INSTRBD_SET, "UZ1_EE_INSTRBD_SET_CMD", 3, 0},      // 20
    {Cmd::EE_INSTRBD_READ, "UZ1_EE_INSTRBD_READ_CMD", 2, 3},    // 21
    {Cmd::ADC_P12_READ, "UZ1_ADC_P12_READ_CMD", 2, 3},          // 22
    {Cmd::ADC_N15_READ, "UZ1_ADC_N15_READ_CMD", 2, 3},          // 23
    {Cmd::ADC_P15_READ, "UZ1_ADC_P15_READ_CMD", 2, 3},          // 24
    {Cmd::ADC_P200_READ, "UZ1_ADC_P200_READ_CMD", 2, 3},        // 25
    {Cmd::SYSERR, "UZ1_SYSERR_CMD", 2, 3},                      // 26
    {Cmd::PZT_CHK, "UZ1_PZT_CHK_CMD", 2, 3},                    // 27
    {Cmd::RESET_UART, "UZ1_RESET_UART_CMD", 2, 0},              // 28
    {Cmd::READ_IO, "UZ1_READ_IO_CMD", 4, 5},                    // 29
    {Cmd::WRITE_IO, "UZ1_WRITE_IO_CMD", 5, 0},                  // 30
    {Cmd::SW_VERSION, "UZ1_SW_VERSION_CMD", 2, 3},              // 31
    {Cmd::RAMP_LOAD, "UZ1_RAMP_LOAD_CMD", 15, 0},               // 32
    {Cmd::RAMP_DAC, "UZ1_RAMP_DAC_CMD", 4, 0},                  // 33
    {Cmd::RAMP_DATA, "UZ1_RAMP_DATA_CMD", 4, 3},                // 34
    {Cmd::RAMP_COMPLETE, "UZ1_RAMP_COMPLETE_CMD", 2, 0},        // 35
    {Cmd::RAMP_ABORT, "UZ1_RAMP_ABORT_CMD", 2, 0},              // 36
    {Cmd::RAMP_DELETE, "UZ1_RAMP_DELETE_CMD", 3, 0},            // 37
    {Cmd::RAMP_IDLE, "UZ1_RAMP_IDLE_CMD", 2, 3},                // 38
    {Cmd::RAMP_START, "UZ1_RAMP_START_CMD", 3, 0},              // 39
    {Cmd::PZT3_DISCONNECT, "UZ1_PZT3_DISCONNECT_CMD", 3, 0},    // 40
    {Cmd::POWER_CHK, "UZ1_POWER_CHK_CMD", 2, 3},                // 41
    {Cmd::PIFOC_LEVEL, "UZ1_PIFOC_LEVEL_CMD", 4, 0},            // 42
    {Cmd::PIFOC_RESET, "UZ1_PIFOC_RESET_CMD", 5, 0},            // 43
    {Cmd::CAMERA_RES, "UZ1_CAMERA_RES_CMD", 3, 0},              // 44
    {Cmd::PZT_TYPE, "UZ1_PZT_TYPE_CMD", 3, 0},                  // 45
    {Cmd::PC_READ, "UZ1_PC_READ_CMD", 2, 27},                   // 46
    {Cmd::PC_ADC_SET, "UZ1_PC_ADC_SET_CMD", 7, 0},              // 47
    {Cmd::PC_ADC_READ, "UZ1_PC_ADC_READ_CMD", 3, 7},            // 48
    {Cmd::RAMP_COMP_LOAD, "UZ1_RAMP_COMP_LOAD_CMD", 10, 0},     // 49
    {Cmd::PC_RAMP_DONE, "UZ1_PC_RAMP_DONE_CMD", 2, 0},          // 50
    {Cmd::EXPANSION_BD, "UZ1_EXPANSION_BD_CMD", 2, 3},          // 51
    {Cmd::LCZDRIVE, "UZ1_LCZDRIVE_CMD", 3, 0},                  // 52
    {Cmd::RAMP_UPDATERATE, "UZ1_RAMP_UPDATERATE_CMD", 5, 3},    // 53
    {Cmd::CUSTOM_CAMERA, "UZ1_CUSTOM_CAMERA_CMD", 10, 0},       // 54
    {Cmd::ZOOM_POSITION, "UZ1_ZOOM_POSITION_CMD", 0, 3},        // 55
    {Cmd::TURRET_POSITION, "UZ1_TURRET_POSITION_CMD", 0, 3},    // 56
    {Cmd::ZOOMPOS_REPORT, "UZ1_ZOOMPOS_REPORT_CMD", 3, 0},      // 57
    {Cmd::TURRETPOS_REPORT, "UZ1_TURRETPOS_REPORT_CMD", 3, 0},  // 58
};
constexpr CmdRow kUz2Commands[] = {
    {Cmd::INVALID, "UZ2_INVALID_CMD", 0, 0},                    // 0
    {Cmd::PZT_SET, "UZ2_PZT_SET_CMD", 8, 0},                    // 1
    {Cmd::PZT_POWER, "UZ2_PZT_POWER_CMD", 3, 0},                // 2
    {Cmd::LLC_SET, "UZ2_LLC_SET_CMD", 3, 0},                    // 3
    {Cmd::LLC_READ, "UZ2_LLC_READ_CMD", 2, 3},                  // 4
    {Cmd::LLC_MODE_SET, "UZ2_LLC_MODE_SET_CMD", 4, 0},          // 5
    {Cmd::LLC_MODE_READ, "UZ2_LLC_MODE_READ_CMD", 2, 3},        // 6
    {Cmd::EE_SERIAL_SET, "UZ2_EE_SERIAL_SET_CMD", 6, 0},        // 7
    {Cmd::EE_SERIAL_READ, "UZ2_EE_SERIAL_READ_CMD", 2, 6},      // 8
    {Cmd::EE_CAMERA_SET, "UZ2_EE_CAMERA_SET_CMD", 3, 0},        // 9
    {Cmd::EE_CAMERA_READ, "UZ2_EE_CAMERA_READ_CMD", 2, 3},      // 10
    {Cmd::EE_LIGHT_SET, "UZ2_EE_LIGHT_SET_CMD", 3, 0},          // 11
    {Cmd::EE_LIGHT_READ, "UZ2_EE_LIGHT_READ_CMD", 2, 3},        // 12
    {Cmd::EE_SYSTEM_SET, "UZ2_EE_SYSTEM_SET_CMD", 3, 0},        // 13
    {Cmd::EE_SYSTEM_READ, "UZ2_EE_SYSTEM_READ_CMD", 2, 3},      // 14
    {Cmd::EE_SYSDATE_SET, "UZ2_EE_SYSDATE_SET_CMD", 4, 0},      // 15
    {Cmd::EE_SYSDATE_READ, "UZ2_EE_SYSDATE_READ_CMD", 2, 4},    // 16
    {Cmd::EE_INSTRBD_SET, "UZ2_EE_INSTRBD_SET_CMD", 3, 0},      // 17
    {Cmd::EE_INSTRBD_READ, "UZ2_EE_INSTRBD_READ_CMD", 2, 3},    // 18
    {Cmd::ADC_P12_READ, "UZ2_ADC_P12_READ_CMD", 2, 3},          // 19
    {Cmd::ADC_N15_READ, "UZ2_ADC_N15_READ_CMD", 2, 3},          // 20
    {Cmd::ADC_P15_READ, "UZ2_ADC_P15_READ_CMD", 2, 3},          // 21
    {Cmd::ADC_P200_READ, "UZ2_ADC_P200_READ_CMD", 2, 3},        // 22
    {Cmd::SYSERR, "UZ2_SYSERR_CMD", 2, 3},                      // 23
    {Cmd::PZT_CHK, "UZ2_PZT_CHK_CMD", 2, 3},                    // 24
    {Cmd::RESET_UART, "UZ2_RESET_UART_CMD", 2, 0},              // 25
    {Cmd::RAMP_START, "UZ2_RAMP_START_CMD", 3, 0},              // 26
    {Cmd::RAMP_REQUEST, "UZ2_RAMP_REQUEST_CMD", 2, 6},          // 27
    {Cmd::SW_VERSION, "UZ2_SW_VERSION_CMD", 2, 3},              // 28
    {Cmd::RAMP_LOAD, "UZ2_RAMP_LOAD_CMD", 15, 0},               // 29
    {Cmd::RAMP_DAC, "UZ2_RAMP_DAC_CMD", 4, 0},                  // 30
    {Cmd::WAND, "UZ2_WAND_CMD", 3, 0},                          // 31
    {Cmd::QUARTZ_INIT, "UZ2_QUARTZ_INIT_CMD", 2, 3},            // 32
    {Cmd::QUARTZ_POS, "UZ2_QUARTZ_POS_CMD", 2, 8},              // 33
    {Cmd::LLC_STABLE, "UZ2_LLC_STABLE_CMD", 2, 3},              // 34
    {Cmd::FKEY, "UZ2_FKEY_CMD", 0, 3},                          // 35
    {Cmd::VIDEO_PR, "UZ2_VIDEO_PR_CMD", 2, 0},                  // 36
    {Cmd::LOCK_POS, "UZ2_LOCK_POS_CMD", 3, 0},                  // 37
    {Cmd::WAND_MOTION, "UZ2_WAND_MOTION_CMD", 2, 3},            // 38
    {Cmd::WAND_MODE, "UZ2_WAND_MODE_CMD", 2, 3},                // 39
    {Cmd::PZT3, "UZ2_PZT3_CMD", 2, 3},                          // 40
    {Cmd::PZT3_RESET, "UZ2_PZT3_RESET_CMD", 2, 0},              // 41
    {Cmd::PZT3_STATUS, "UZ2_PZT3_STATUS_CMD", 2, 3},            // 42
    {Cmd::PZT3_PWRCHK, "UZ2_PZT3_PWRCHK_CMD", 2, 3},            // 43
    {Cmd::PZT3_RAMP, "UZ2_PZT3_RAMP_CMD", 8, 0},                // 44
    {Cmd::RAMP_DATA, "UZ2_RAMP_DATA_CMD", 4, 3},                // 45
    {Cmd::RAMP_COMPLETE, "UZ2_RAMP_COMPLETE_CMD", 2, 0},        // 46
    {Cmd::RAMP_DELETE, "UZ2_RAMP_DELETE_CMD", 3, 0},            // 47
    {Cmd::RAMP_IDLE, "UZ2_RAMP_IDLE_CMD", 2, 3},                // 48
    {Cmd::POWER_CHK, "UZ2_POWER_CHK_CMD", 2, 3},                // 49
    {Cmd::QUARTZ, "UZ2_QUARTZ_CMD", 2, 3},                      // 50
    {Cmd::DD_VOLTCHK, "UZ2_DD_VOLTCHK_CMD", 2, 3},              // 51
    {Cmd::READ_IO, "UZ2_READ_IO_CMD", 4, 5},                    // 52
    {Cmd::WRITE_IO, "UZ2_WRITE_IO_CMD", 5, 0},                  // 53
    {Cmd::CAMERA_RES, "UZ2_CAMERA_RES_CMD", 3, 0},              // 54
    {Cmd::ALIGN_VIEW, "UZ2_ALIGN_VIEW_CMD", 0, 3},              // 55
    {Cmd::CUSTOM_CAMERA, "UZ2_CUSTOM_CAMERA_CMD", 4, 0},        // 56
    {Cmd::RING_SPOT, "UZ2_RING_SPOT_CMD", 0, 3},                // 57
    {Cmd::CHANGE_RINGSPOT, "UZ2_CHANGE_RINGSPOT_CMD", 3, 0},    // 58
    {Cmd::CHANGE_ALIGNVIEW, "UZ2_CHANGE_ALIGNVIEW_CMD", 3, 0},  // 59
    {Cmd::WAND_MODE2, "UZ2_WAND_MODE2_CMD", 2, 3},              // 60
    {Cmd::AV_MOVING, "UZ2_AV_MOVING_CMD", 2, 3},                // 61
    {Cmd::RS_MOVING, "UZ2_RS_MOVING_CMD", 2, 3},                // 62
};
constexpr CmdRow kIrisCommands[] = {
    {Cmd::INVALID, "IRIS_INVALID_CMD", 0, 0},                  // 0
    {Cmd::PZT_SET, "IRIS_PZT_SET_CMD", 4, 0},                  // 1
    {Cmd::SHUTTER_STATE, "IRIS_SHUTTER_STATE_CMD", 3, 0},      // 2
    {Cmd::LLC_SET, "IRIS_LLC_SET_CMD", 3, 0},                  // 3
    {Cmd::LLC_READ, "IRIS_LLC_READ_CMD", 2, 3},                // 4
    {Cmd::EE_SERIAL_SET, "IRIS_EE_SERIAL_SET_CMD", 6, 0},      // 5
    {Cmd::EE_SERIAL_READ, "IRIS_EE_SERIAL_READ_CMD", 2, 6},    // 6
    {Cmd::EE_CAMERA_SET, "IRIS_EE_CAMERA_SET_CMD", 3, 0},      // 7
    {Cmd::EE_CAMERA_READ, "IRIS_EE_CAMERA_READ_CMD", 2, 3},    // 8
    {Cmd::EE_LIGHT_SET, "IRIS_EE_LIGHT_SET_CMD", 3, 0},        // 9
    {Cmd::EE_LIGHT_READ, "IRIS_EE_LIGHT_READ_CMD", 2, 3},      // 10
    {Cmd::EE_SYSTEM_SET, "IRIS_EE_SYSTEM_SET_CMD", 3, 0},      // 11
    {Cmd::EE_SYSTEM_READ, "IRIS_EE_SYSTEM_READ_CMD", 2, 3},    // 12
    {Cmd::EE_SYSDATE_SET, "IRIS_EE_SYSDATE_SET_CMD", 4, 0},    // 13
    {Cmd::EE_SYSDATE_READ, "IRIS_EE_SYSDATE_READ_CMD", 2, 4},  // 14
    {Cmd::EE_INSTRBD_SET, "IRIS_EE_INSTRBD_SET_CMD", 3, 0},    // 15
    {Cmd::EE_INSTRBD_READ, "IRIS_EE_INSTRBD_READ_CMD", 2, 3},  // 16
    {Cmd::ADC_P12_READ, "IRIS_ADC_P12_READ_CMD", 2, 3},        // 17
    {Cmd::ADC_N15_READ, "IRIS_ADC_N15_READ_CMD", 2, 3},        // 18
    {Cmd::ADC_P15_READ, "IRIS_ADC_P15_READ_CMD", 2, 3},        // 19
    {Cmd::SYSERR, "IRIS_SYSERR_CMD", 2, 3},                    // 20
    {Cmd::RESET_UART, "IRIS_RESET_UART_CMD", 2, 0},            // 21
    {Cmd::RAMP_START, "IRIS_RAMP_START_CMD", 3, 0},            // 22
    {Cmd::RAMP_REQUEST, "IRIS_RAMP_REQUEST_CMD", 2, 6},        // 23
    {Cmd::SW_VERSION, "IRIS_SW_VERSION_CMD", 2, 3},            // 24
    {Cmd::RAMP_LOAD, "IRIS_RAMP_LOAD_CMD", 15, 0},             // 25
    {Cmd::RAMP_DAC, "IRIS_RAMP_DAC_CMD", 4, 0},                // 26
    {Cmd::WAND, "IRIS_WAND_CMD", 3, 0},                        // 27
    {Cmd::LLC_STABLE, "IRIS_LLC_STABLE_CMD", 2, 3},            // 28
    {Cmd::FKEY, "IRIS_FKEY_CMD", 0, 3},                        // 29
    {Cmd::VIDEO_PR, "IRIS_VIDEO_PR_CMD", 2, 0},                // 30
    {Cmd::LOCK_POS, "IRIS_LOCK_POS_CMD", 3, 0},                // 31
    {Cmd::WAND_MOTION, "IRIS_WAND_MOTION_CMD", 2, 3},          // 32
    {Cmd::WAND_MODE, "IRIS_WAND_MODE_CMD", 2, 3},              // 33
    {Cmd::RAMP_DATA, "IRIS_RAMP_DATA_CMD", 4, 3},              // 34
    {Cmd::RAMP_COMPLETE, "IRIS_RAMP_COMPLETE_CMD", 2, 0},      // 35
    {Cmd::RAMP_DELETE, "IRIS_RAMP_DELETE_CMD", 3, 0},          // 36
    {Cmd::RAMP_IDLE, "IRIS_RAMP_IDLE_CMD", 2, 3},              // 37
    {Cmd::POWER_CHK, "IRIS_POWER_CHK_CMD", 2, 3},              // 38
    {Cmd::ALIGN_VIEW, "IRIS_ALIGN_VIEW_CMD", 0, 3},            // 39
    {Cmd::READ_IO, "IRIS_READ_IO_CMD", 4, 5},                  // 40
    {Cmd::WRITE_IO, "IRIS_WRITE_IO_CMD", 5, 0},                // 41
    {Cmd::SHUTTER_OUTPUT, "IRIS_SHUTTER_OUTPUT_CMD", 3, 0},    // 42
};
constexpr CmdRow kLumenCommands[] = {
    {Cmd::INVALID, "LUMEN_INVALID_CMD", 0, 0},                    // 0
    {Cmd::MOTOR_MOVE, "LUMEN_MOTOR_MOVE_CMD", 3, 0},              // 1
    {Cmd::MOTOR_READ, "LUMEN_MOTOR_READ_CMD", 2, 3},              // 2
    {Cmd::LLC_SET, "LUMEN_LLC_SET_CMD", 4, 0},                    // 3
    {Cmd::LLC_READ, "LUMEN_LLC_READ_CMD", 2, 4},                  // 4
    {Cmd::READ_TMI_LOCKEDP, "LUMEN_READ_TMI_LOCKEDP_CMD", 2, 3},  // 5
    {Cmd::READ_TMI_MEASERR, "LUMEN_READ_TMI_MEASERR_CMD", 2, 3},  // 6
    {Cmd::RAMP_REQUEST, "LUMEN_RAMP_REQUEST_CMD", 2, 14},         // 7
    {Cmd::EE_SERIAL_SET, "LUMEN_EE_SERIAL_SET_CMD", 6, 0},        // 8
    {Cmd::EE_SERIAL_READ, "LUMEN_EE_SERIAL_READ_CMD", 2, 6},      // 9
    {Cmd::EE_CAMERA_SET, "LUMEN_EE_CAMERA_SET_CMD", 3, 0},        // 10
    {Cmd::EE_CAMERA_READ, "LUMEN_EE_CAMERA_READ_CMD", 2, 3},      // 11
    {Cmd::EE_LIGHT_SET, "LUMEN_EE_LIGHT_SET_CMD", 3, 0},          // 12
    {Cmd::EE_LIGHT_READ, "LUMEN_EE_LIGHT_READ_CMD", 2, 3},        // 13
    {Cmd::EE_SYSTEM_SET, "LUMEN_EE_SYSTEM_SET_CMD", 3, 0},        // 14
    {Cmd::EE_SYSTEM_READ, "LUMEN_EE_SYSTEM_READ_CMD", 2, 3},      // 15
    {Cmd::EE_SYSDATE_SET, "LUMEN_EE_SYSDATE_SET_CMD", 4, 0},      // 16
    {Cmd::EE_SYSDATE_READ, "LUMEN_EE_SYSDATE_READ_CMD", 2, 4},    // 17
    {Cmd::EE_INSTRBD_SET, "LUMEN_EE_INSTRBD_SET_CMD", 3, 0},      // 18
    {Cmd::EE_INSTRBD_READ, "LUMEN_EE_INSTRBD_READ_CMD", 2, 3},    // 19
    {Cmd::ADC_P12_READ, "LUMEN_ADC_P12_READ_CMD", 2, 3},          // 20
    {Cmd::ADC_N15_READ, "LUMEN_ADC_N15_READ_CMD", 2, 3},          // 21
    {Cmd::ADC_P15_READ, "LUMEN_ADC_P15_READ_CMD", 2, 3},          // 22
    {Cmd::SYSERR, "LUMEN_SYSERR_CMD", 2, 3},                      // 23
    {Cmd::RESET_UART, "LUMEN_RESET_UART_CMD", 2, 0},              // 24
    {Cmd::READ_IO, "LUMEN_READ_IO_CMD", 4, 5},                    // 25
    {Cmd::WRITE_IO, "LUMEN_WRITE_IO_CMD", 5, 0},                  // 26
    {Cmd::SW_VERSION, "LUMEN_SW_VERSION_CMD", 2, 3},              // 27
    {Cmd::RAMP_LOAD, "LUMEN_RAMP_LOAD_CMD", 15, 0},               // 28
    {Cmd::RAMP_DAC, "LUMEN_RAMP_DAC_CMD", 4, 0},                  // 29
    {Cmd::RAMP_DATA, "LUMEN_RAMP_DATA_CMD", 4, 3},                // 30
    {Cmd::RAMP_COMPLETE, "LUMEN_RAMP_COMPLETE_CMD", 2, 0},        // 31
    {Cmd::RAMP_ABORT, "LUMEN_RAMP_ABORT_CMD", 2, 0},              // 32
    {Cmd::RAMP_DELETE, "LUMEN_RAMP_DELETE_CMD", 3, 0},            // 33
    {Cmd::RAMP_IDLE, "LUMEN_RAMP_IDLE_CMD", 2, 3},                // 34
    {Cmd::RAMP_START, "LUMEN_RAMP_START_CMD", 3, 0},              // 35
    {Cmd::POWER_CHK, "LUMEN_POWER_CHK_CMD", 2, 3},                // 36
    {Cmd::PIFOC_LEVEL, "LUMEN_PIFOC_LEVEL_CMD", 4, 0},            // 37
    {Cmd::PIFOC_RESET, "LUMEN_PIFOC_RESET_CMD", 5, 0},            // 38
    {Cmd::RESET_TMI, "LUMEN_RESET_TMI_CMD", 2, 0},                // 39
    {Cmd::RAMP_UPDATERATE, "LUMEN_RAMP_UPDATERATE_CMD", 5, 3},    // 40
    {Cmd::CUSTOM_CAMERA, "LUMEN_CUSTOM_CAMERA_CMD", 10, 0},       // 41
};

// UZ1 and Lumen spell these two short; the other boards say "high" and "low".
constexpr const char* kStuckHiNames[] = {"LCA INIT* stuck hi", "LCA INIT* stuck lo"};

// The supply messages in their order on every board.
constexpr const char* kSupply[] = {
    "Over voltage +12 volt power supply",  "Under voltage +12 volt power supply",
    "Over voltage +15 volt power supply",  "Under voltage +15 volt power supply",
    "Over voltage -15 volt power supply",  "Under voltage -15 volt power supply",
    "Over voltage +200 volt power supply", "Under voltage +200 volt power supply"};

constexpr FaultRow kUz1Faults[] = {
    {1, "Motor movement has timed out", ERR_TURRET_TIMEOUT},
    {2, "PZT stack fault", ERR_PZT_STACK_FAULT},
    {3, "PZT ground fault", ERR_PZT_GROUND_FAULT},
    {4, kSupply[0], ERR_INST_POWER},
    {5, kSupply[1], ERR_INST_POWER},
    {6, kSupply[2], ERR_INST_POWER},
    {7, kSupply[3], ERR_INST_POWER},
    {8, kSupply[4], ERR_INST_POWER},
    {9, kSupply[5], ERR_INST_POWER},
    {10, kSupply[6], ERR_INST_POWER},
    {11, kSupply[7], ERR_INST_POWER},
    {12, "No LCA installed", ERR_HW_FAIL},
    {13, kStuckHiNames[0], ERR_HW_FAIL},
    {14, kStuckHiNames[1], ERR_HW_FAIL},
    {15, "LCA READY* stuck low", ERR_HW_FAIL},
    {16, "LCA READY* stuck high", ERR_HW_FAIL},
    {17, "LCA early done", ERR_HW_FAIL},
    {18, "LCA no done", ERR_HW_FAIL},
    {19, "Fatal turret hardware problem", ERR_HW_FAIL},
    {20, "Invalid ramp type", ERR_INVALID_PARAM},
    {21, "Invalid motor type", ERR_INVALID_PARAM},
    {22, "Motor already moving", ERR_HW_FAIL},
    {23, "Invalid ramp index", ERR_INVALID_PARAM},
};

constexpr FaultRow kUz2Faults[] = {
    {1, "PZT stack fault", ERR_PZT_STACK_FAULT},
    {2, "PZT ground fault", ERR_PZT_GROUND_FAULT},
    {3, kSupply[0], ERR_INST_POWER},
    {4, kSupply[1], ERR_INST_POWER},
    {5, kSupply[2], ERR_INST_POWER},
    {6, kSupply[3], ERR_INST_POWER},
    {7, kSupply[4], ERR_INST_POWER},
    {8, kSupply[5], ERR_INST_POWER},
    {9, kSupply[6], ERR_INST_POWER},
    {10, kSupply[7], ERR_INST_POWER},
    {11, "No LCA installed", ERR_HW_FAIL},
    {12, "LCA INIT* stuck high", ERR_HW_FAIL},
    {13, "LCA INIT* stuck low", ERR_HW_FAIL},
    {14, "LCA READY* stuck low", ERR_HW_FAIL},
    {15, "LCA READY* stuck high", ERR_HW_FAIL},
    {16, "LCA early done", ERR_HW_FAIL},
    {17, "LCA no done", ERR_HW_FAIL},
    {18, "Diffuser disc error voltage too high", ERR_HW_FAIL},
    {19, "Ramp DAC output voltage incorrect", ERR_HW_FAIL},
    {20, "Attenuator in out position", ERR_HW_FAIL},
};

constexpr FaultRow kIrisFaults[] = {
    {1, kSupply[0], ERR_INST_POWER},          {2, kSupply[1], ERR_INST_POWER},
    {3, kSupply[2], ERR_INST_POWER},          {4, kSupply[3], ERR_INST_POWER},
    {5, kSupply[4], ERR_INST_POWER},          {6, kSupply[5], ERR_INST_POWER},
    {7, "LCA INIT* stuck high", ERR_HW_FAIL}, {8, "LCA INIT* stuck low", ERR_HW_FAIL},
    {9, "LCA READY* stuck low", ERR_HW_FAIL}, {10, "LCA READY* stuck high", ERR_HW_FAIL},
    {11, "LCA early done", ERR_HW_FAIL},      {12, "LCA no done", ERR_HW_FAIL},
};

constexpr FaultRow kLumenFaults[] = {
    {1, "Motor movement has timed out", ERR_TURRET_TIMEOUT},
    {2, kSupply[0], ERR_INST_POWER},
    {3, kSupply[1], ERR_INST_POWER},
    {4, kSupply[2], ERR_INST_POWER},
    {5, kSupply[3], ERR_INST_POWER},
    {6, kSupply[4], ERR_INST_POWER},
    {7, kSupply[5], ERR_INST_POWER},
    {8, "No LCA installed", ERR_HW_FAIL},
    {9, kStuckHiNames[0], ERR_HW_FAIL},
    {10, kStuckHiNames[1], ERR_HW_FAIL},
    {11, "LCA READY* stuck low", ERR_HW_FAIL},
    {12, "LCA READY* stuck high", ERR_HW_FAIL},
    {13, "LCA early done", ERR_HW_FAIL},
    {14, "LCA no done", ERR_HW_FAIL},
    {15, "Fatal turret hardware problem", ERR_HW_FAIL},
    {16, "Invalid ramp type", ERR_INVALID_PARAM},
    {17, "Invalid motor type", ERR_INVALID_PARAM},
    {18, "Motor already moving", ERR_HW_FAIL},
    {19, "Invalid ramp index", ERR_INVALID_PARAM},
    {20, " Invalid motor position", ERR_INVALID_PARAM},
};

// A table is indexed by code, holds each command once, and a fault table
// runs 1, 2, 3, … so the byte is the row's place plus one.
template <std::size_t N>
consteval bool commands_unique(const CmdRow (&rows)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t j = i + 1; j < N; ++j) {
      if (rows[i].cmd == rows[j].cmd) return false;
    }
  }
  return true;
}
template <std::size_t N>
consteval bool faults_in_order(const FaultRow (&rows)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (rows[i].byte != i + 1) return false;
  }
  return true;
}

static_assert(std::size(kUz1Commands) == 59 && std::size(kUz2Commands) == 63 &&
              std::size(kIrisCommands) == 43 && std::size(kLumenCommands) == 42);
static_assert(std::size(kUz1Faults) == 23 && std::size(kUz2Faults) == 20 &&
              std::size(kIrisFaults) == 12 && std::size(kLumenFaults) == 20);
static_assert(commands_unique(kUz1Commands) && commands_unique(kUz2Commands) &&
              commands_unique(kIrisCommands) && commands_unique(kLumenCommands));
static_assert(faults_in_order(kUz1Faults) && faults_in_order(kUz2Faults) &&
              faults_in_order(kIrisFaults) && faults_in_order(kLumenFaults));

constexpr Board kBoards[] = {
    {BD_SABLE, kUz1Commands, kUz1Faults, 23},
    {BD_KITE, kUz2Commands, kUz2Faults, 0},
    {BD_IRIS, kIrisCommands, kIrisFaults, 0},
    {BD_LUMEN, kLumenCommands, kLumenFaults, 19},
};

}  // namespace

const Board* board_of(int board_type) {
  for (const Board& b : kBoards) {
    if (b.type == board_type) return &b;
  }
  return nullptr;
}

int code_of(const Board& board, Cmd cmd) {
  for (std::size_t code = 0; code < board.commands.size(); ++code) {
    if (board.commands[code].cmd == cmd) return static_cast<int>(code);
  }
  return -1;
}

const CmdRow* row_of(const Board& board, int code) {
  if (0 <= code && static_cast<std::size_t>(code) < board.commands.size()) {
    return &board.commands[static_cast<std::size_t>(code)];
  }
  return nullptr;
}

bool uz1_has(Cmd cmd) { return code_of(kBoards[0], cmd) >= 0; }

}  // namespace felbrin::board
