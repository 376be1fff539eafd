/// @file
/// Error codes of the library: every operation returns one of these; 0 is success.
///
/// The codes 1 to 462 index the error-name table (err_table, err_name). Not every
/// code is returned by the library itself.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int ERR_TABLE_SIZE = 463;  ///< codes 0 (success) to 462

/// Name of each code; entry 0 is the empty text.
extern const char* const err_table[ERR_TABLE_SIZE];

/// Name of a code: "NO_ERROR" for 0, the table name for 1..462, otherwise
/// "invalid error number %d". The text lives in a per-thread buffer that the
/// next call on the same thread overwrites.
const char* err_name(int code);
/// The same as err_name (same buffer).
const char* err_name_of(int code);

/// Sends "<name>\n" through the log hook for a non-zero code.
void err_log(int code);
/// As err_log, then ends the process with status 1; does nothing for 0.
void err_log_exit(int code);

/// Size of the buffer that u_system_error_text fills, terminator included.
constexpr std::size_t U_SYSTEM_ERROR_TEXT_SIZE = 512;
/// The operating system's one-line message for an error number, or
/// "System error code 0x%8.8X" when it has none. `buf` holds at least
/// U_SYSTEM_ERROR_TEXT_SIZE bytes.
void u_system_error_text(int os_error, char* buf);
/// Sends the message of u_system_error_text through the log hook.
void u_log_system_error(int os_error);

// ---- the codes, numbered as in the error-name table

constexpr int ERR_AC_CANT_AGC = 1;  ///< Automatic calibration: the automatic gain control could not
                                    ///< be run.
constexpr int ERR_AC_CANT_CALIBRATE = 2;    ///< Automatic calibration could not be carried out.
constexpr int ERR_AC_OVER_SATURATION = 3;   ///< Automatic calibration: too many camera pixels are
                                            ///< saturated.
constexpr int ERR_AC_RANGE_MISMATCHED = 4;  ///< Automatic calibration: the measured range does not
                                            ///< match the one expected.
constexpr int ERR_AC_SCAN_TOO_SHORT = 5;    ///< Automatic calibration: the scan is too short.
constexpr int ERR_AC_TOO_FEW_MOD_PTS = 6;   ///< Automatic calibration: too few points with enough
                                            ///< modulation.
constexpr int ERR_ACQ_CFGFILE_INVALID = 7;  ///< Acquisition: the driver reports its configuration
                                            ///< file invalid.
constexpr int ERR_ACQ_CMD = 8;  ///< Acquisition: the driver refused or failed a command (control
                                ///< file, host resource, device not ready and other command
                                ///< faults).
constexpr int ERR_ACQ_DEVICE_BUSY = 9;    ///< Acquisition: the device is busy.
constexpr int ERR_ACQ_DEVICE_CLOSE = 10;  ///< Acquisition: the device is closed.
constexpr int ERR_ACQ_DEVICE_OPEN = 11;   ///< Acquisition: the driver reports a device-open fault
                                          ///< (of the device or its input device).
constexpr int ERR_ACQ_INIT_DEV = 12;      ///< Acquisition: the system could not be set up (its lock
                                          ///< cannot be created or another process holds it).
constexpr int ERR_ACQ_INVALID_DEVICE = 13;  ///< Acquisition: the acquisition device or its input
                                            ///< mode cannot be selected.
constexpr int ERR_ACQ_INVALID_DLL = 14;   ///< Acquisition: the driver library lacks an entry point
                                          ///< the library needs.
constexpr int ERR_ACQ_INVALID_MODE = 15;  ///< Acquisition: the device mode asked for is not valid.
constexpr int ERR_ACQ_MISSING_DLL = 16;   ///< Acquisition: the driver library cannot be found or
                                          ///< loaded.
constexpr int ERR_ACQ_READ = 17;          ///< Acquisition: frames could not be read.
constexpr int ERR_ACQ_TIMEOUT = 18;       ///< Acquisition: timed out waiting for frames.
constexpr int ERR_APERT_CVTR_MISMATCHED_MAINFRAME = 19;  ///< The aperture converter does not match
                                                         ///< the mainframe.
constexpr int ERR_ASPHERE_CANT_CREATE_JOB_FILE = 20;  ///< Asphere: the job file cannot be created.
constexpr int ERR_ASPHERE_READING_JOB_FILE_VALUE = 21;  ///< Asphere: a value of the job file cannot
                                                        ///< be read.
constexpr int ERR_ASPHERE_CANT_WRITE_JOB_FILE = 22;  ///< Asphere: the job file cannot be written.
constexpr int ERR_ASPHERE_INVALID_JOB_FILE = 23;     ///< Asphere: the job file is invalid.
constexpr int ERR_ASPHERE_INVALID_JOB_KEY = 24;  ///< Asphere: the job file holds an invalid key.
constexpr int ERR_ASPHERE_INVALID_JOB_SECTION = 25;  ///< Asphere: the job file holds an invalid
                                                     ///< section.
constexpr int ERR_ASPHERE_INVALID_JOB_VAL = 26;  ///< Asphere: the job file holds an invalid value.
constexpr int ERR_ALL_BAD_DATA = 27;  ///< No valid data: every value of the window is invalid, or
                                      ///< the window has no rows.
constexpr int ERR_ANGLE_IS_OUT_OF_RANGE = 28;    ///< An angle is out of range.
constexpr int ERR_ARRAY_TOO_LARGE_FOR_FFT = 29;  ///< An array is too large for the Fourier
                                                 ///< transform.
constexpr int ERR_AUTO_FOCUS_FAILED = 30;        ///< Automatic focus failed.
constexpr int ERR_AUTO_FOCUS_FAILED_LEFT = 31;   ///< Automatic focus failed on the left side.
constexpr int ERR_AUTO_FOCUS_FAILED_RANGE = 32;  ///< Automatic focus failed: the focus lies outside
                                                 ///< the search range.
constexpr int ERR_AUTO_FOCUS_FAILED_RIGHT = 33;  ///< Automatic focus failed on the right side.
constexpr int ERR_AUTO_LAT_CAL_GRID_TOO_ROTATED = 34;   ///< Automatic lateral calibration: the grid
                                                        ///< is rotated too far.
constexpr int ERR_AUTO_LAT_CAL_REGIONS_ON_BORDER = 35;  ///< Automatic lateral calibration: regions
                                                        ///< touch the border of the image.
constexpr int ERR_AUTO_LAT_CAL_SORTING_FAILED = 36;  ///< Automatic lateral calibration: the regions
                                                     ///< could not be sorted.
constexpr int ERR_AUTO_LAT_CAL_TOO_FEW_REGIONS = 37;  ///< Automatic lateral calibration: too few
                                                      ///< regions were found.
constexpr int ERR_AUTO_TILT_FAILED = 38;              ///< Automatic tilt failed.
constexpr int ERR_AUTO_TILT_FAILED_RANGE = 39;  ///< Automatic tilt failed: the tilt lies outside
                                                ///< the range of adjustment.
constexpr int ERR_AV_TIMEOUT = 40;  ///< Instrument board: the align/view change did not finish in
                                    ///< time.
constexpr int ERR_AWM_INITIALIZE_FAILED = 41;  ///< AWM: initialisation failed.
constexpr int ERR_AWM_ACQUIRE_FAILED = 42;     ///< AWM: acquisition failed.
constexpr int ERR_AWM_SHUTDOWN_FAILED = 43;    ///< AWM: shutdown failed.
constexpr int ERR_QUARTZ = 44;                 ///< Quartz reference fault.
constexpr int ERR_QUARTZ_INIT = 45;            ///< Instrument board: the quartz reference failed to
                                     ///< initialise (the board answered a non-zero status).
constexpr int ERR_BAD_PARAM = 46;  ///< A bad parameter (for example an unknown element type code).
constexpr int ERR_BEAM_ATTENUATOR = 47;                 ///< Beam attenuator fault.
constexpr int ERR_CAM_PED_FILE_CAMERA_MISMATCHED = 48;  ///< The camera pedestal file was made for
                                                        ///< another camera.
constexpr int ERR_CAM_PED_FILE_NO_DATA = 49;            ///< The camera pedestal file holds no data.
constexpr int ERR_CAN_AUX_MOTOR_ERROR = 50;  ///< CAN bring-up: the auxiliary motor node failed.
constexpr int ERR_CAN_BRIDGE_ERROR = 51;  ///< CAN: the bridge failed or its configuration could not
                                          ///< be read.
constexpr int ERR_CAN_BRMOTOR_ERROR = 52;     ///< CAN bring-up: the brush motor node failed.
constexpr int ERR_CAN_BUFFER_TOO_SMALL = 53;  ///< CAN: the buffer given is too small for the data.
constexpr int ERR_CAN_DD_NOT_AT_SPEED = 54;   ///< CAN: the diffuser disk is not at speed.
constexpr int ERR_CAN_DD_RS_DISABLED = 55;    ///< CAN: the ring-spot diffuser disk is disabled.
constexpr int ERR_CAN_DD_RS_ERROR = 56;  ///< CAN bring-up: the ring-spot diffuser disk node failed.
constexpr int ERR_CAN_DD_ZOOM_DISABLED = 57;  ///< CAN: the zoom diffuser disk is disabled.
constexpr int ERR_CAN_DD_ZOOM_ERROR = 58;     ///< CAN bring-up: the zoom diffuser disk node failed.
constexpr int ERR_CAN_DIGITAL_SCANNER_DETECTED = 59;  ///< CAN: a digital scanner was detected where
                                                      ///< none is expected.
constexpr int ERR_CAN_DIGITAL_SCANNER_MISSING = 60;   ///< CAN bring-up: the digital scanner is
                                                      ///< missing.
constexpr int ERR_CAN_ERROR = 61;  ///< CAN: a general node access error (for example reading a
                                   ///< node's identity).
constexpr int ERR_CAN_FINDING_BRIDGE = 62;           ///< CAN: the bridge cannot be found or opened.
constexpr int ERR_CAN_FOCUS_MOTOR_OVERCURRENT = 63;  ///< CAN: the focus motor drew too much
                                                     ///< current.
constexpr int ERR_CAN_FOCUS_MOTOR_OVERVOLT = 64;   ///< CAN: the focus motor supply is over voltage.
constexpr int ERR_CAN_FOCUS_MOTOR_STALL = 65;      ///< CAN: the focus motor stalled.
constexpr int ERR_CAN_FOCUS_MOTOR_UNDERVOLT = 66;  ///< CAN: the focus motor supply is under
                                                   ///< voltage.
constexpr int ERR_CAN_FOCUS_NDW_ERROR = 67;  ///< CAN bring-up: the focus and ND-wheel node failed.
constexpr int ERR_CAN_HW_DOESNOT_UNDERSTAND_REQUEST = 68;  ///< CAN: the hardware does not
                                                           ///< understand the request.
constexpr int ERR_CAN_INVALID_PRODUCTID = 69;  ///< CAN bring-up: a node reports an invalid product
                                               ///< id.
constexpr int ERR_CAN_LARGEAP_ERROR = 70;      ///< CAN bring-up: the large-aperture node failed.
constexpr int ERR_CAN_LED_ERROR = 71;          ///< CAN bring-up: the LED node failed.
constexpr int ERR_CAN_MACADDRESS_ERROR = 72;   ///< CAN: the bridge's MAC address is missing or
                                               ///< invalid.
constexpr int ERR_CAN_NDW_HOME_ERROR = 73;     ///< CAN: the ND wheel failed to home.
constexpr int ERR_CAN_NO_PDO = 74;             ///< CAN: the process data object is not available.
constexpr int ERR_CAN_NODE_MISSING = 75;       ///< CAN bring-up: a required node is missing.
constexpr int ERR_CAN_NODE_NOT_AVAIL = 76;     ///< CAN: the node is not present on this instrument.
constexpr int ERR_CAN_NOT_AVAIL = 77;          ///< CAN: the CAN library or bus is not available.
constexpr int ERR_CAN_NOT_CONNECTED = 78;      ///< CAN: not connected to the bridge.
constexpr int ERR_CAN_PZT_VSYNC = 79;          ///< CAN: PZT vertical-sync fault.
constexpr int ERR_CAN_RAMP_ERROR = 80;         ///< CAN bring-up: the ramp node failed.
constexpr int ERR_CAN_SDO_AUX_MOTOR_ERROR = 81;  ///< CAN: a service data transfer with the
                                                 ///< auxiliary motor node failed.
constexpr int ERR_CAN_SDO_BRIDGE_ERROR = 82;     ///< CAN: a service data transfer with the bridge
                                                 ///< failed.
constexpr int ERR_CAN_SDO_BRMOTOR_ERROR = 83;    ///< CAN: a service data transfer with the brush
                                                 ///< motor node failed.
constexpr int ERR_CAN_SDO_DMD_ERROR = 84;  ///< CAN: a service data transfer with a dual-motor-drive
                                           ///< node failed.
constexpr int ERR_CAN_SDO_CLM_ERROR = 85;  ///< CAN: a service data transfer with the closed-loop
                                           ///< motion node failed.
constexpr int ERR_CAN_SDO_DMI_ERROR = 86;  ///< CAN: a service data transfer with the DMI node
                                           ///< failed.
constexpr int ERR_CAN_SDO_ENC_ZOOM_ERROR = 87;  ///< CAN: a service data transfer with the encoded
                                                ///< zoom node failed.
constexpr int ERR_CAN_SDO_FZM_ERROR = 88;  ///< CAN: a service data transfer with the focus motor
                                           ///< node failed.
constexpr int ERR_CAN_SDO_LED_ERROR = 89;  ///< CAN: a service data transfer with the LED node
                                           ///< failed.
constexpr int ERR_CAN_SDO_LAP_ERROR = 90;  ///< CAN: a service data transfer with the large-aperture
                                           ///< PZT node failed.
constexpr int ERR_CAN_SDO_NDW_ERROR = 91;  ///< CAN: a service data transfer with the ND-wheel node
                                           ///< failed.
constexpr int ERR_CAN_SDO_PZT_ERROR = 92;  ///< CAN: a service data transfer with the PZT node
                                           ///< failed.
constexpr int ERR_CAN_SDO_RAMP_ERROR = 93;  ///< CAN: a service data transfer with the ramp node
                                            ///< failed.
constexpr int ERR_CAN_SDO_ROF_ERROR = 94;   ///< CAN: a service data transfer with the ring-spot
                                            ///< diffuser disk node failed.
constexpr int ERR_CAN_SDO_WAND_ERROR = 95;  ///< CAN: a service data transfer with the wand node
                                            ///< failed.
constexpr int ERR_CAN_SDO_ZOOM_ERROR = 96;  ///< CAN: a service data transfer with the zoom diffuser
                                            ///< disk node failed.
constexpr int ERR_CAN_TCP_TRANSMISSION_ERROR = 97;   ///< CAN: the network link to the bridge was
                                                     ///< lost.
constexpr int ERR_CAN_TIMEOUT = 98;                  ///< CAN: an operation or wait timed out.
constexpr int ERR_CAN_TRIPLEPZT_ERROR = 99;          ///< CAN bring-up: the triple-PZT node failed.
constexpr int ERR_CAN_WAND_ERROR = 100;              ///< CAN: the wand node failed.
constexpr int ERR_CAN_WAND_HARDWARE = 101;           ///< CAN: wand hardware fault.
constexpr int ERR_CAN_ZOOM_DOOR_OPEN = 102;          ///< CAN: the zoom door is open.
constexpr int ERR_CAN_ZOOM_IDS = 103;                ///< CAN: the zoom ids are wrong.
constexpr int ERR_CAN_ZOOM_MOTOR_OVERCURRENT = 104;  ///< CAN: the zoom motor drew too much current.
constexpr int ERR_CAN_ZOOM_MOTOR_STALL = 105;        ///< CAN: the zoom motor stalled.
constexpr int ERR_CANT_ACCESS_DIR = 106;             ///< A directory cannot be accessed.
constexpr int ERR_CANT_ACCESS_DMI = 107;             ///< The DMI cannot be accessed.
constexpr int ERR_CANT_ACCESS_USDED2 = 108;          ///< The USDED2 device cannot be accessed.
constexpr int ERR_CANT_CAL_INVALID_DATA = 109;       ///< Cannot calibrate: the data are invalid.
constexpr int ERR_CANT_CALC_INNER_RADIUS = 110;      ///< The inner radius cannot be calculated.
constexpr int ERR_CANT_CALC_OUTER_RADIUS = 111;      ///< The outer radius cannot be calculated.
constexpr int ERR_CANT_CALCULATE = 112;              ///< The result cannot be calculated.
constexpr int ERR_CANT_CLOSE_DEVICE = 113;           ///< A device cannot be closed.
constexpr int ERR_CANT_CLOSE_SERIAL = 114;  ///< A serial port cannot be closed (the line stays
                                            ///< open).
constexpr int ERR_CANT_CREATE_DIR = 115;    ///< A directory cannot be created.
constexpr int ERR_CANT_CREATE_FILE = 116;   ///< A file cannot be created or opened for writing
                                            ///< (also: no temporary file can be made).
constexpr int ERR_CANT_FIND_REGIONS = 117;  ///< No regions can be found.
constexpr int ERR_CANT_GET_SERIAL = 118;    ///< The state or timeouts of a serial port cannot be
                                            ///< read.
constexpr int ERR_CANT_LOCK_FILE = 119;     ///< A file cannot be locked.
constexpr int ERR_CANT_OPEN_FILE = 120;  ///< A file cannot be opened (or the directory it is looked
                                         ///< for in is unknown).
constexpr int ERR_CANT_OPEN_SERIAL = 121;        ///< A serial port cannot be opened.
constexpr int ERR_CANT_READ_CAM_PED_FILE = 122;  ///< The camera pedestal file cannot be read.
constexpr int ERR_CANT_READ_FILE = 123;  ///< A file cannot be found or read, or its contents cannot
                                         ///< be used (for example a value that does not convert).
constexpr int ERR_CANT_SET_SERIAL = 124;  ///< The state or timeouts of a serial port cannot be set.
constexpr int ERR_CANT_WRITE_FILE = 125;  ///< A file cannot be written, or a copy cannot replace
                                          ///< it.
constexpr int ERR_CB_FILE_INVALID = 126;  ///< The camera bad-pixel file is invalid.
constexpr int ERR_CENTRIOD_ON_DATA = 127;           ///< The centroid lies on data.
constexpr int ERR_CHIRP_CAL_PIXEL_SATURATED = 128;  ///< Chirp: the calibration pixel is saturated.
constexpr int ERR_CLOSE_EVENT_HANDLE = 129;         ///< An event handle cannot be closed.
constexpr int ERR_CLOSE_THREAD_HANDLE = 130;        ///< A thread handle cannot be closed.
constexpr int ERR_CHIRP_NO_VAL_CAL_PIXELS = 131;    ///< Chirp: no valid calibration pixels.
constexpr int ERR_COEF_OUT_OF_RANGE = 132;          ///< A coefficient is out of range.
constexpr int ERR_CONNECT_SPIDER = 133;             ///< The spider cannot be connected.
constexpr int ERR_CORRUPT_DATA_FILE = 134;      ///< The data file is corrupt: a block ends early, a
                                                ///< line does not parse, or the stream reports an
                                                ///< error.
constexpr int ERR_CORRUPT_RAMP_CFG_FILE = 135;  ///< The ramp configuration file is corrupt.
constexpr int ERR_CORRUPT_RAMP_FILE = 136;  ///< The ramp file is corrupt (for example fewer points
                                            ///< than announced).
constexpr int ERR_CREATE_EVENT = 137;       ///< An event cannot be created.
constexpr int ERR_CREATE_THREAD = 138;      ///< A thread cannot be created.
constexpr int ERR_CV_BAD_CONTRAST = 139;    ///< CV: the contrast is too poor.
constexpr int ERR_CV_FRINGES_TOO_CLOSE = 140;           ///< CV: the fringes are too close together.
constexpr int ERR_CV_TOO_FEW_FRINGES = 141;             ///< CV: too few fringes.
constexpr int ERR_DATASET_DIM_TOO_LARGE = 142;          ///< A data set dimension is above 32767.
constexpr int ERR_DELETED_DISCONTINUOUS_REGIONS = 143;  ///< Discontinuous regions were deleted.
constexpr int ERR_DEV_CNTRL = 144;   ///< Device table: not set up, or the device type is not valid.
constexpr int ERR_DEVICE_IO = 145;   ///< A device input or output operation failed.
constexpr int ERR_DIR_IN_USE = 146;  ///< The directory is in use.
constexpr int ERR_DIR_NOT_EMPTY = 147;                     ///< The directory is not empty.
constexpr int ERR_DISCR_MODE_RAM = 148;                    ///< DISCR mode RAM fault.
constexpr int ERR_DMI_CANNOT_AVERAGE_READINGS = 149;       ///< The DMI readings cannot be averaged.
constexpr int ERR_DMI_ERROR = 150;                         ///< DMI fault.
constexpr int ERR_DMI_MEAS_ERROR = 151;                    ///< DMI measurement fault.
constexpr int ERR_DMI_TYPE_CANT_CAPTURE_DURING_ACQ = 152;  ///< This DMI type cannot capture during
                                                           ///< an acquisition.
constexpr int ERR_DYN_ANALYSIS_PHASE_INC = 153;    ///< Dynamic analysis: the phase increment is not
                                                   ///< valid.
constexpr int ERR_DYN_ANALYSIS_PHASE_RANGE = 154;  ///< Dynamic analysis: the phase range is not
                                                   ///< valid.
constexpr int ERR_DYN_ANALYSIS_SWEEP_TYPE = 155;   ///< Dynamic analysis: the sweep type is not
                                                   ///< valid.
constexpr int ERR_DYN_ENTRY_BUFFER_FULL = 156;     ///< Dynamic: the entry buffer is full.
constexpr int ERR_DYN_NO_ENTRY_BUFFER = 157;       ///< Dynamic: there is no entry buffer.
constexpr int ERR_EFI_ERROR = 158;                 ///< EFI fault.
constexpr int ERR_EFI_BAD_DATA_FROM_SETUP = 159;   ///< EFI: bad data from the setup.
constexpr int ERR_EMPTY_MASK = 160;                ///< The mask is empty.
constexpr int ERR_EOF = 161;  ///< The end of the file was reached (a status of the calibration-file
                              ///< tokenizer).
constexpr int ERR_EOL = 162;  ///< The end of the line was reached (a status of the calibration-file
                              ///< tokenizer, also for an unterminated quote).
constexpr int ERR_EXITED_WITH_DISCONTINUITY = 163;    ///< Processing ended with a discontinuity.
constexpr int ERR_EXPECTED_NULL_EVENT_HANDLE = 164;   ///< An event handle was expected to be null.
constexpr int ERR_EXPECTED_NULL_THREAD_HANDLE = 165;  ///< A thread handle was expected to be null.
constexpr int ERR_FILE_IO = 166;         ///< A file cannot be opened, created, read or written.
constexpr int ERR_FILE_READ_ONLY = 167;  ///< The file is read-only.
constexpr int ERR_FILMS_INVALID_QSIZE = 168;  ///< Films: the queue size is not valid.
constexpr int ERR_FPD_CONNECT_NEAREST_CNTR_NOT_FOUND = 169;  ///< FPD: the nearest centre to connect
                                                             ///< to was not found.
constexpr int ERR_FP_OVERFLOW = 170;                         ///< Floating-point overflow.
constexpr int ERR_FRAME_DATA_CORRUPT = 171;     ///< The frame data are corrupt (or a frame has the
                                                ///< wrong size).
constexpr int ERR_FT_LO_FREQ_EQ_HI_FREQ = 172;  ///< Fourier filter: the low frequency equals the
                                                ///< high frequency.
constexpr int ERR_FT_LO_HI_FREQ_NARROW = 173;   ///< Fourier filter: the band between the low and
                                                ///< high frequencies is too narrow.
constexpr int ERR_FT_LO_FREQ_SMALL = 174;       ///< Fourier filter: the low frequency is too small.
constexpr int ERR_FT_LO_FREQ_LARGE = 175;       ///< Fourier filter: the low frequency is too large.
constexpr int ERR_FT_HI_FREQ_SMALL = 176;  ///< Fourier filter: the high frequency is too small.
constexpr int ERR_FT_HI_FREQ_LARGE = 177;  ///< Fourier filter: the high frequency is too large.
constexpr int ERR_LUMEN_CANT_READ_MATLS_FILE = 178;   ///< Lumen: the materials file is not found or
                                                      ///< cannot be read.
constexpr int ERR_LUMEN_CORRUPT_MATLS_FILE = 179;     ///< Lumen: the materials file is corrupt.
constexpr int ERR_LUMEN_INVALID_MAGNIFICATION = 180;  ///< Lumen: a nominal magnification has no
                                                      ///< lens in the materials file.
constexpr int ERR_LUMEN_NO_LUMEN_INFO = 181;          ///< Lumen: the system record has no lumen
                                                      ///< information.
constexpr int ERR_LUMENSI_AUTO_CAL_PIXEL_FAILED = 182;  ///< Lumen SI: the automatic choice of the
                                                        ///< calibration pixel failed.
constexpr int ERR_LUMENSI_CAL_PIXEL_INVALID_REGION = 183;  ///< Lumen SI: the calibration pixel lies
                                                           ///< in an invalid region.
constexpr int ERR_LUMENSI_CAL_PIXEL_SATURATED = 184;       ///< Lumen SI: the calibration pixel is
                                                           ///< saturated.
constexpr int ERR_LUMENSI_INVALID_CAL_PIXEL = 185;      ///< Lumen SI: the calibration pixel is not
                                                        ///< valid.
constexpr int ERR_LUMENSI_INVALID_REF_CAL_PIXEL = 186;  ///< Lumen SI: the reference calibration
                                                        ///< pixel is not valid.
constexpr int ERR_LUMENSI_INVALID_TST_CAL_PIXEL = 187;  ///< Lumen SI: the test calibration pixel is
                                                        ///< not valid.
constexpr int ERR_LUMENSI_REF_CAL_PIXEL_INVALID_REGION = 188;  ///< Lumen SI: the reference
                                                               ///< calibration pixel lies in an
                                                               ///< invalid region.
constexpr int ERR_LUMENSI_REF_CAL_PIXEL_SATURATED = 189;  ///< Lumen SI: the reference calibration
                                                          ///< pixel is saturated.
constexpr int ERR_LUMENSI_TOO_FEW_PHASE_PER_FR_VALUES = 190;  ///< Lumen SI: too few phase-per-frame
                                                              ///< values.
constexpr int ERR_LUMENSI_TST_CAL_PIXEL_INVALID_REGION = 191;  ///< Lumen SI: the test calibration
                                                               ///< pixel lies in an invalid region.
constexpr int ERR_LUMENSI_TST_CAL_PIXEL_SATURATED = 192;  ///< Lumen SI: the test calibration pixel
                                                          ///< is saturated.
constexpr int ERR_GEN_PMI_RAMP_CAMERA_RATE = 193;  ///< PMI ramp generation: the ramp does not suit
                                                   ///< the camera rate.
constexpr int ERR_KITE_CONFIG_DATA = 194;          ///< Kite: the configuration data are wrong.
constexpr int ERR_KITE_ENC_ZOOM_BACKLASH_COMP = 195;  ///< Kite encoded zoom: backlash compensation
                                                      ///< failed.
constexpr int ERR_KITE_ENC_ZOOM_CANT_OPEN_CAL_FILE = 196;    ///< Kite encoded zoom: the calibration
                                                             ///< file does not open.
constexpr int ERR_KITE_ENC_ZOOM_FIRMWARE_VERSION_OLD = 197;  ///< Kite encoded zoom: the node's
                                                             ///< firmware is older than version
                                                             ///< 4.3.
constexpr int ERR_KITE_ENC_ZOOM_INVALID_CAL_FILE = 198;      ///< Kite encoded zoom: the calibration
                                                             ///< file holds an error.
constexpr int ERR_KITE_ENC_ZOOM_MOVE_FOLLOWING_ERROR = 199;  ///< Kite encoded zoom: the move
                                                             ///< exceeded the following error.
constexpr int ERR_KITE_ENC_ZOOM_MOVE_HIT_LIMIT = 200;  ///< Kite encoded zoom: the move hit a limit.
constexpr int ERR_KITE_ENC_ZOOM_MOVE_NOT_IN_POSITION = 201;  ///< Kite encoded zoom: the move did
                                                             ///< not end in position.
constexpr int ERR_KITE_ENC_ZOOM_MOVE_TIMEOUT = 202;  ///< Kite encoded zoom: the move timed out.
constexpr int ERR_KITE_ENC_ZOOM_POS_LOCKED = 203;    ///< Kite encoded zoom: the position is locked.
constexpr int ERR_KITE_ENC_ZOOM_POS_OUT_OF_RANGE_LOW = 204;  ///< Kite encoded zoom: the position is
                                                             ///< below the range.
constexpr int ERR_KITE_ENC_ZOOM_POS_OUT_OF_RANGE_HIGH = 205;  ///< Kite encoded zoom: the position
                                                              ///< is above the range.
constexpr int ERR_GPIB_ALREADY_WAITING = 206;           ///< GPIB: a wait is already in progress.
constexpr int ERR_GPIB_BAD_ADDRESS = 207;               ///< GPIB: bad address.
constexpr int ERR_GPIB_BOARD_DOES_NOT_EXIST = 208;      ///< GPIB: the board does not exist.
constexpr int ERR_GPIB_BOARD_LOCKED = 209;              ///< GPIB: the board is locked.
constexpr int ERR_GPIB_CALLBACK_FAILED_REARM = 210;     ///< GPIB: a callback failed to rearm.
constexpr int ERR_GPIB_CANNOT_PERFORM_DMA = 211;        ///< GPIB: DMA cannot be performed.
constexpr int ERR_GPIB_COMMAND_ERROR = 212;             ///< GPIB: command error.
constexpr int ERR_GPIB_FILE_SYSTEM_OPERATION = 213;     ///< GPIB: a file system operation failed.
constexpr int ERR_GPIB_INCOMPATIBLE_OPERATION = 214;    ///< GPIB: the operation is not compatible
                                                        ///< with the current state.
constexpr int ERR_GPIB_INTERFACE_RESET = 215;           ///< GPIB: the interface was reset.
constexpr int ERR_GPIB_INVALID_ARGUMENT = 216;          ///< GPIB: invalid argument.
constexpr int ERR_GPIB_INVALID_HANDLE = 217;            ///< GPIB: invalid handle.
constexpr int ERR_GPIB_IO_OPERATION_ABORTED = 218;      ///< GPIB: the input or output operation was
                                                        ///< aborted.
constexpr int ERR_GPIB_NO_LISTENERS = 219;              ///< GPIB: no listeners on the bus.
constexpr int ERR_GPIB_NOT_CONTROLLER_IN_CHARGE = 220;  ///< GPIB: not the controller in charge.
constexpr int ERR_GPIB_NOT_SYSTEM_CONTROLLER = 221;     ///< GPIB: not the system controller.
constexpr int ERR_GPIB_OVERLAPING_IO_OPERATION = 222;   ///< GPIB: an input or output operation
                                                        ///< overlaps another.
constexpr int ERR_GPIB_RETURN_BUFFER_FULL = 223;        ///< GPIB: the return buffer is full.
constexpr int ERR_GPIB_SRQ_ASSERTED = 224;              ///< GPIB: a service request is asserted.
constexpr int ERR_GPIB_STATUS_BYTE_LOST = 225;          ///< GPIB: a status byte was lost.
constexpr int ERR_GPIB_SYSTEM_ERROR = 226;              ///< GPIB: system error.
constexpr int ERR_GPIB_WVFM_FUNCTIONS_NOT_MAPPED = 227;  ///< GPIB: the waveform functions are not
                                                         ///< mapped.
constexpr int ERR_HEIGHT_REQUIRED = 228;                 ///< Height data are required.
constexpr int ERR_HW_FAIL = 229;  ///< Hardware failure (for example a bridge that does not reset,
                                  ///< or a node not ready in time).
constexpr int ERR_IMPROPER_MASK = 230;    ///< The mask does not fit the data.
constexpr int ERR_IMPROPER_WINDOW = 231;  ///< The window does not fit: it does not lie inside the
                                          ///< matrix's or stored window, is empty, or the frames
                                          ///< cannot be mapped.
constexpr int ERR_INST_POWER = 232;       ///< An instrument power supply is at fault.
constexpr int ERR_INTENSITY_REQUIRED = 233;  ///< Intensity data are required.
constexpr int ERR_INTERNAL_FB = 234;  ///< Internal fault of the library (for example an event or
                                      ///< thread that cannot be created, or a value not listed in a
                                      ///< table).
constexpr int ERR_INVALID_CONFIG_FILE = 235;           ///< The configuration file is not valid.
constexpr int ERR_INVALID_FFT_PLAN = 236;              ///< The Fourier transform plan is not valid.
constexpr int ERR_INVALID_FIDUCIALS = 237;             ///< The fiducials are not valid.
constexpr int ERR_INVALID_INTENSITY_DATA_VALUE = 238;  ///< An intensity data value is not valid.
constexpr int ERR_INVALID_LLC_INSTR = 239;    ///< The light-level control instrument is not valid.
constexpr int ERR_INVALID_MC_LUT_FILE = 240;  ///< The motion-control lookup table file is not
                                              ///< valid.
constexpr int ERR_INVALID_NOMMAG = 241;       ///< The nominal magnification is not valid.
constexpr int ERR_INVALID_PARAM = 242;        ///< An argument is invalid: typically a null pointer,
                                              ///< record or name where one is required.
constexpr int ERR_INVALID_RAMP_INDEX = 243;   ///< The ramp index is not in the ramp table.
constexpr int ERR_INVALID_REGION_ID = 244;    ///< The region id is not valid.
constexpr int ERR_INVALID_REGIONS_FILE = 245;  ///< The regions file is not valid.
constexpr int ERR_IO = 246;                    ///< Input or output fault.
constexpr int ERR_LATERAL_RES_UNKNOWN = 247;   ///< The lateral resolution is unknown.
constexpr int ERR_LCDMI_CONFIG = 248;  ///< The LCDMI configuration file cannot be read or holds an
                                       ///< error.
constexpr int ERR_LLC_INSTR_COMM = 249;  ///< Communication with the light-level control instrument
                                         ///< failed.
constexpr int ERR_LOST_FRAME = 250;      ///< Acquisition: a frame was lost (frame buffer overflow,
                                         ///< missed frame, field drop).
constexpr int ERR_MATRIX_TOO_LARGE_FOR_FFT = 251;  ///< The matrix is too large for the Fourier
                                                   ///< transform.
constexpr int ERR_MC_AXIS_AT_LIMIT = 252;          ///< Motion control: the axis is at a limit.
constexpr int ERR_MC_AXIS_BUSY = 253;              ///< Motion control: the axis is busy.
constexpr int ERR_MC_AXIS_INACTIVE = 254;          ///< Motion control: the axis is not active.
constexpr int ERR_MC_AXIS_NOT_HOMED = 255;         ///< Motion control: the axis has not been homed.
constexpr int ERR_MC_CAN_AMPLIFIER_FAULT = 256;    ///< Motion control: a CAN axis reports an
                                                   ///< amplifier fault.
constexpr int ERR_MC_CAN_CLOSED_LOOP_AMP_INIT = 257;  ///< Motion control: the closed-loop amplifier
                                                      ///< failed to initialise.
constexpr int ERR_MC_CAN_CLOSED_LOOP_DMI_INIT = 258;  ///< Motion control: the closed-loop DMI needs
                                                      ///< a reset (failed to initialise).
constexpr int ERR_MC_CAN_CLOSED_LOOP_TIMEOUT = 259;   ///< Motion control: the closed-loop following
                                                      ///< error stayed beyond its limit.
constexpr int ERR_MC_CANT_FIND_HOME = 260;  ///< Motion control: the home position cannot be found.
constexpr int ERR_MC_CANT_FIND_Z_HOME = 261;  ///< Motion control: the z-axis home position cannot
                                              ///< be found.
constexpr int ERR_MC_CANT_GET_STATUS = 262;   ///< Motion control: the controller's status cannot be
                                              ///< read.
constexpr int ERR_MC_CLAMP_STAGE = 263;       ///< Motion control: stage clamp fault.
constexpr int ERR_MC_COMM = 264;    ///< Motion control: communication with the controller failed.
constexpr int ERR_MC_CONFIG = 265;  ///< Motion control: the configuration file cannot be read, or
                                    ///< its name or version does not match the controller.
constexpr int ERR_MC_CONFIG_CORRUPT = 266;  ///< Motion control: the controller's configuration is
                                            ///< corrupt.
constexpr int ERR_MC_CONFIG_MISSING = 267;  ///< Motion control: the controller's configuration is
                                            ///< missing.
constexpr int ERR_MC_CONFIRM_INIT = 268;  ///< Motion control: the initialisation was not confirmed.
constexpr int ERR_MC_GET_POS = 269;  ///< Motion control: the position of the axis cannot be read.
constexpr int ERR_MC_INVALID_AXIS = 270;    ///< Motion control: the axis number is not valid.
constexpr int ERR_MC_INVALID_CONFIG = 271;  ///< Motion control: the configuration is not valid (for
                                            ///< example a zero unit factor, or the wrong home
                                            ///< type).
constexpr int ERR_MC_JOYSTICK_ENABLE = 272;  ///< Motion control: the joystick failed to switch on
                                             ///< or off, or is on when a move is asked for.
constexpr int ERR_MC_KILL_SWITCH = 273;      ///< Motion control: the kill switch is active.
constexpr int ERR_MC_KILL_SWITCH_DURING_INIT = 274;  ///< Motion control: the kill switch was active
                                                     ///< during initialisation.
constexpr int ERR_MC_MISC = 275;  ///< Motion control: another controller fault (for example the
                                  ///< joystick is on during a move).
constexpr int ERR_MC_NAK = 276;   ///< Motion control: the controller answered NAK.
constexpr int ERR_MC_NEEDS_RESET = 277;         ///< Motion control: the controller needs a reset.
constexpr int ERR_MC_NO_ACTIVE_ZENCODER = 278;  ///< Motion control: no active z encoder.
constexpr int ERR_MC_NO_HOME = 279;  ///< Motion control: the axis has no home position (not homed).
constexpr int ERR_MC_NOT_AVAIL = 280;  ///< Motion control: no controller, or the driver does not
                                       ///< provide the operation.
constexpr int ERR_MC_NOT_SUPPORTED_IN_DLL_VERSION = 281;  ///< Motion control: the driver library's
                                                          ///< version does not support the
                                                          ///< operation.
constexpr int ERR_MC_PMAC_CIB_INVALID_CONFIG_AXIS = 282;  ///< PMAC: the CIB configuration axis is
                                                          ///< not valid.
constexpr int ERR_MC_PMAC_CIB_INVALID_REGISTER = 283;     ///< PMAC: the CIB register is not valid.
constexpr int ERR_MC_PMAC_CIB_NOT_WRITE_REGISTER = 284;   ///< PMAC: the CIB register cannot be
                                                          ///< written.
constexpr int ERR_MC_PMAC_MISSING_MOTOR_NUMBER = 285;     ///< PMAC: the motor number is missing.
constexpr int ERR_MC_PMAC_UNKNOWN_MICROSTEP = 286;     ///< PMAC: the microstep setting is unknown.
constexpr int ERR_MC_PMAC_UNKNOWN_MOTOR_DRIVER = 287;  ///< PMAC: the motor driver is unknown.
constexpr int ERR_MC_PMAC_VALUE_OUT_OF_RANGE = 288;    ///< PMAC: a value is out of range.
constexpr int ERR_MC_RANGE = 289;  ///< Motion control: the value is out of range (for example it
                                   ///< does not fit in counts).
constexpr int ERR_MC_RECV_FAILED = 290;   ///< Motion control: a reply from the controller could not
                                          ///< be received or was malformed.
constexpr int ERR_MC_RECV_TIMEOUT = 291;  ///< Motion control: no reply from the controller in time.
constexpr int ERR_MC_SEND_FAILED = 292;   ///< Motion control: a command could not be sent to the
                                          ///< controller.
constexpr int ERR_MC_SET_ZERO = 293;      ///< Motion control: the zero position cannot be set.
constexpr int ERR_MC_VAR_NOT_DEFINED = 294;  ///< Motion control: the variable is not defined.
constexpr int ERR_MC_WRONG_MC = 295;  ///< Motion control: the operation does not suit this kind of
                                      ///< controller.
constexpr int ERR_MC_WRONG_VERSION = 296;      ///< Motion control: wrong controller version.
constexpr int ERR_MC_Z_AXIS_HIT_Z_STOP = 297;  ///< Motion control: the z axis hit the z stop.
constexpr int ERR_MC_Z_NO_HOME = 298;          ///< Motion control: the z axis has no home position.
constexpr int ERR_MICROLYNX_IN_ZSTOP = 299;    ///< MicroLYNX: the axis is at the z stop.
constexpr int ERR_MICROLYNX_JOY_DISABLED = 300;         ///< MicroLYNX: the joystick is disabled.
constexpr int ERR_MICROLYNX_JOY_ENABLED = 301;          ///< MicroLYNX: the joystick is enabled.
constexpr int ERR_MICROLYNX_NO_HOME = 302;              ///< MicroLYNX: no home position.
constexpr int ERR_MICROLYNX_NO_RESP = 303;              ///< MicroLYNX: no response.
constexpr int ERR_MICROLYNX_ZSTOP_ENABLED_HOME = 304;   ///< MicroLYNX: the z stop is enabled at
                                                        ///< home.
constexpr int ERR_MISMATCHED_PI_DIG_RAMP_PARAMS = 305;  ///< The PI digital ramp parameters do not
                                                        ///< match.
constexpr int ERR_FHX_FUNCTION_MAP = 306;  ///< FHX: an entry point of the driver library is
                                           ///< missing.
constexpr int ERR_FHX_NO_DLL = 307;        ///< FHX: the driver library cannot be loaded.
constexpr int ERR_FELBRIN_ABORTED = 308;   ///< The abort hook stopped the wait.
constexpr int ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE = 309;  ///< There is no motorised or
                                                                    ///< encoded turret.
constexpr int ERR_MOTORIZED_ZOOM_NOT_AVAILABLE = 310;               ///< There is no motorised zoom.
constexpr int ERR_MOTORIZED_TURRET_NOT_AVAILABLE = 311;  ///< There is no motorised turret.
constexpr int ERR_MOVE_TURRET = 312;                     ///< The turret cannot be moved.
constexpr int ERR_MOVE_ZOOM = 313;                       ///< The zoom cannot be moved.
constexpr int ERR_MOVIE_OPERATION_FAILED = 314;          ///< A movie operation failed.
constexpr int ERR_MULTIPLY_OVERFLOW = 315;               ///< A multiplication overflowed.
constexpr int ERR_NO_BLEND_DATA = 316;                   ///< No blend data.
constexpr int ERR_MISSING_CONFIG_DATA = 317;             ///< Configuration data are missing.
constexpr int ERR_NO_ACTIVE_DMI_FOR_INSTR = 318;         ///< The instrument has no active DMI.
constexpr int ERR_NO_DATA = 319;                         ///< No data.
constexpr int ERR_NO_MEM = 320;  ///< Out of memory: an allocation failed, or a count does not fit
                                 ///< the record.
constexpr int ERR_NO_POSITION_INSTR = 321;                 ///< No position instrument.
constexpr int ERR_NO_RAMP_DATA_FOR_FOCUS_SCAN_RATE = 322;  ///< No ramp data for the focus scan
                                                           ///< rate.
constexpr int ERR_NO_RAMP_INFO = 323;  ///< No ramp information (no ramp table, no current ramp or
                                       ///< no gain terms).
constexpr int ERR_NO_STEP_DATA = 324;  ///< No step data.
constexpr int ERR_NO_TRANS_SPHERE_SELECTED = 325;  ///< No transmission sphere is selected.
constexpr int ERR_NO_UNIQUE_SOLUTION = 326;        ///< There is no unique solution.
constexpr int ERR_NO_VALID_REGION_IDS = 327;       ///< No valid region ids.
constexpr int ERR_NOT_A_DATA_FILE = 328;  ///< Not a data file: the magic number is unknown.
constexpr int ERR_NOT_A_DYN_FILE = 329;   ///< Not a dynamic data file.
constexpr int ERR_NOT_A_RAMP_FILE = 330;  ///< Not a ramp file: the magic number is wrong.
constexpr int ERR_NOT_ENOUGH_DATA = 331;  ///< Not enough data.
constexpr int ERR_NOT_IMPLEMENTED = 332;  ///< The operation has no implementation (no source for it
                                          ///< yet).
constexpr int ERR_PARAM_OUT_OF_RANGE = 333;  ///< A parameter is out of range (for example a zero or
                                             ///< negative element count).
constexpr int ERR_PEAKVAL_OVERFLOW = 334;    ///< Peak minus valley does not fit in 32 bits.
constexpr int ERR_PIFOC_COMP = 335;          ///< PIFOC compensation fault.
constexpr int ERR_PIFOC_GAIN = 336;          ///< PIFOC: the gain is outside its allowed range.
constexpr int ERR_PIFOC_LEAKAGE = 337;  ///< PIFOC: the measured leakage current is out of range.
constexpr int ERR_PMAC_CLOSE_DEVICE = 338;       ///< PMAC: the device cannot be closed.
constexpr int ERR_PMAC_DEVICE_NOT_OPENED = 339;  ///< PMAC: the device has not been opened.
constexpr int ERR_PMAC_DEVICE_STILL_OPEN = 340;  ///< PMAC: the device is still open.
constexpr int ERR_PMAC_FUNCTION_MAP = 341;       ///< PMAC: an entry point of the driver library is
                                                 ///< missing.
constexpr int ERR_PMAC_NO_DLL = 342;             ///< PMAC: the driver library is not available.
constexpr int ERR_PMAC_OPEN_DEVICE = 343;        ///< PMAC: the device cannot be opened.
constexpr int ERR_PMAC_TOO_MANY_PMAC_BOARDS = 344;  ///< PMAC: too many PMAC boards.
constexpr int ERR_PMAC_WRONG_VAR_TYPE = 345;        ///< PMAC: wrong variable type.
constexpr int ERR_POINT_OFF_OF_PART = 346;          ///< The point lies off the part.
constexpr int ERR_POINT_OUT_OF_WINDOW = 347;        ///< The point lies outside the window.
constexpr int ERR_POLE_REGION_TOO_LARGE = 348;      ///< The pole region is too large.
constexpr int ERR_POLE_TEST_MASK = 349;             ///< Pole test mask fault.
constexpr int ERR_POS_INSTR_COMM = 350;  ///< Communication with the position instrument failed.
constexpr int ERR_POS_INSTR_INIT = 351;  ///< The position instrument failed to initialise.
constexpr int ERR_POS_INSTR_READ = 352;  ///< The position instrument cannot be read.
constexpr int ERR_PREMATURE_EOF = 353;  ///< The file ends too early (inside the magic number or the
                                        ///< header, or before a header line).
constexpr int ERR_PTR_ACQ_MASK_TOO_SMALL = 354;      ///< The acquisition mask is too small.
constexpr int ERR_PTR_NO_POLE_DATA = 355;            ///< No pole data.
constexpr int ERR_PZT_GROUND_FAULT = 356;            ///< Instrument board: PZT ground fault.
constexpr int ERR_PZT_STACK_FAULT = 357;             ///< Instrument board: PZT stack fault.
constexpr int ERR_PZT_TRIP = 358;                    ///< The PZT tripped.
constexpr int ERR_QDAS_HEADER_DOES_NOT_EXIST = 359;  ///< QDAS: the header does not exist.
constexpr int ERR_QDAS_MISSING_PART_DESC = 360;      ///< QDAS: the part description is missing.
constexpr int ERR_QDAS_MISSING_PART_NUMBER = 361;    ///< QDAS: the part number is missing.
constexpr int ERR_QDAS_MISSING_RESULT_DESC = 362;    ///< QDAS: the result description is missing.
constexpr int ERR_QDAS_MISSING_RESULT_NUMBER = 363;  ///< QDAS: the result number is missing.
constexpr int ERR_RAMP_BUSY = 364;              ///< Instrument board: the ramp engine is not idle.
constexpr int ERR_RAMP_LOAD = 365;              ///< The ramp cannot be loaded.
constexpr int ERR_RAMP_NOT_COMP = 366;          ///< The ramp is not complete.
constexpr int ERR_RAMP_WAIT_TIMEOUT = 367;      ///< Waiting for the ramp to finish timed out.
constexpr int ERR_REGION_STACK_OVERFLOW = 368;  ///< The region stack overflowed.
constexpr int ERR_RESET_EVENT = 369;            ///< An event cannot be reset.
constexpr int ERR_RESUME_THREAD = 370;          ///< A thread cannot be resumed.
constexpr int ERR_RS_TIMEOUT = 371;             ///< The ring-spot change did not finish in time.
constexpr int ERR_RTIO = 372;                   ///< Real-time input or output fault.
constexpr int ERR_RW_CANT_FIND_RAILS = 373;     ///< RW: the rails cannot be found.
constexpr int ERR_RW_CANT_FIND_TAPER = 374;     ///< RW: the taper cannot be found.
constexpr int ERR_RW_CANT_FIND_TPC = 375;       ///< RW: the TPC cannot be found.
constexpr int ERR_RW_CANT_FIND_TPC_CUT = 376;   ///< RW: the TPC cut cannot be found.
constexpr int ERR_RW_INVALID_HOGOUT_WIDTH = 377;  ///< RW: the hog-out width is not valid.
constexpr int ERR_RW_INVALID_PROX_LEN = 378;      ///< RW: the proximity length is not valid.
constexpr int ERR_RW_INVALID_TAPER_LOC = 379;     ///< RW: the taper location is not valid.
constexpr int ERR_RW_NO_WALL_ANGLE = 380;         ///< RW: no wall angle.
constexpr int ERR_RW_NOT_ENOUGH_WALL_DATA = 381;  ///< RW: not enough wall data.
constexpr int ERR_RW_REF_REGION_TOO_LONG = 382;   ///< RW: the reference region is too long.
constexpr int ERR_RW_TOO_FEW_EDGES = 383;         ///< RW: too few edges.
constexpr int ERR_RW_TOO_MANY_EDGES = 384;        ///< RW: too many edges.
constexpr int ERR_SB_CAL_INFO_INCOMPLETE = 385;   ///< System calibration: the information is
                                                  ///< incomplete (for example the system, camera or
                                                  ///< light type is undefined).
constexpr int ERR_SB_CALFILE_INCOMPLETE = 386;    ///< System calibration file: required entries are
                                                  ///< missing.
constexpr int ERR_SB_CALFILE_INCONSISTENT = 387;  ///< System calibration file: entries contradict
                                                  ///< each other or the instrument.
constexpr int ERR_SB_CALFILE_INVALID = 388;  ///< System calibration file: it is invalid or holds
                                             ///< errors.
constexpr int ERR_SB_CALFILE_ORDER = 389;    ///< System calibration file: entries are out of order.
constexpr int ERR_SB_CALFILE_SYNTAX = 390;   ///< System calibration file: syntax error.
constexpr int ERR_SB_CALFILE_VALUE_RANGE = 391;  ///< System calibration file: a value is out of
                                                 ///< range.
constexpr int ERR_SB_CANT_READ_QUARTZ = 392;     ///< System board: the quartz cannot be read.
constexpr int ERR_SB_INIT_QUARTZ_FAILED = 393;   ///< System board: the quartz failed to initialise.
constexpr int ERR_SB_INST_CONFIG = 394;          ///< System board: instrument configuration fault.
constexpr int ERR_SB_NO_SYS_BOARD = 395;         ///< There is no system board.
constexpr int ERR_SERIAL_NOT_OPEN = 396;         ///< The serial port is not open.
constexpr int ERR_SET_EVENT = 397;               ///< An event cannot be set.
constexpr int ERR_SET_VCAM_BEFORE_SHERLOCK_INIT = 398;  ///< The virtual camera was set before the
                                                        ///< Sherlock initialisation.
constexpr int ERR_SHERLOCK_INV = 399;                   ///< Sherlock: invalid investigation.
constexpr int ERR_SHERLOCK_LOAD_INV = 400;      ///< Sherlock: the investigation cannot be loaded.
constexpr int ERR_SHERLOCK_SET_LANDMARK = 401;  ///< Sherlock: the landmark cannot be set.
constexpr int ERR_SLEEP_TIMER_SET = 402;        ///< The sleep timer cannot be set.
constexpr int ERR_SUBTRACT_OVERFLOW = 403;      ///< A subtraction overflowed.
constexpr int ERR_SUSPEND_THREAD = 404;         ///< A thread cannot be suspended.
constexpr int ERR_SYS_CHAR_SCAN_INC_INCOMPATIBLE = 405;  ///< The system characterisation scan
                                                         ///< increment is not compatible.
constexpr int ERR_SYS_INFO_NOT_AVAIL = 406;    ///< The system information record is missing (null),
                                               ///< or lacks the part needed.
constexpr int ERR_TEMP_SENSOR_CHECKSUM = 407;  ///< Temperature sensor: the reply's checksum is
                                               ///< wrong.
constexpr int ERR_TEMP_SENSOR_COMM = 408;      ///< Temperature sensor: communication failed.
constexpr int ERR_TEMP_SENSOR_INIT = 409;      ///< Temperature sensor: initialisation failed.
constexpr int ERR_TEMP_SENSOR_READ = 410;     ///< Temperature sensor: reading from the port failed.
constexpr int ERR_TEMP_SENSOR_TIMEOUT = 411;  ///< Temperature sensor: no reply in time.
constexpr int ERR_TOO_FEW_FRINGES = 412;      ///< Too few fringes.
constexpr int ERR_TOO_FEW_HULL_POINTS = 413;  ///< Too few hull points.
constexpr int ERR_TOO_MANY_PEAKS_OR_VALLEYS = 414;           ///< Too many peaks or valleys.
constexpr int ERR_TOO_MANY_REGIONS = 415;                    ///< Too many regions.
constexpr int ERR_TOO_MANY_SUMMITS = 416;                    ///< Too many summits.
constexpr int ERR_TRANS_SPHERE_MISMATCHED_APERT_CVTR = 417;  ///< The transmission sphere does not
                                                             ///< match the aperture converter.
constexpr int ERR_TRANS_SPHERE_MISMATCHED_MAINFRAME = 418;   ///< The transmission sphere does not
                                                             ///< match the mainframe.
constexpr int ERR_TURRET_IS_MOVING = 419;                    ///< The turret is moving.
constexpr int ERR_TURRET_TIMEOUT = 420;  ///< Instrument board: the motor movement timed out.
constexpr int ERR_UNKNOWN = 421;         ///< An unknown fault (a status that no table lists).
constexpr int ERR_UNKNOWN_ASCII_FORMAT_TYPE = 422;  ///< The ASCII data file's first line names no
                                                    ///< known format.
constexpr int ERR_UNKNOWN_MENU_FORMAT_TYPE = 423;   ///< Unknown menu format type.
constexpr int ERR_USDED2_LIB_NOT_LOADED = 424;      ///< USDED2: the library is not loaded.
constexpr int ERR_USDED2_MEAS_ERROR = 425;          ///< USDED2: measurement fault.
constexpr int ERR_USDED2_UNABLE_TO_LOAD_LIB = 426;  ///< USDED2: the library cannot be loaded.
constexpr int ERR_UZ_COMM = 427;  ///< Instrument board: the board cannot be opened or set up.
constexpr int ERR_UZ_RECV_FAILED = 428;    ///< Instrument board: a reply could not be received (NAK
                                           ///< or checksum errors).
constexpr int ERR_UZ_RECV_TIMEOUT = 429;   ///< Instrument board: no reply in time.
constexpr int ERR_UZ_SEND_FAILED = 430;    ///< Instrument board: a command could not be sent.
constexpr int ERR_VCAM_COPY_PIXELS = 431;  ///< Virtual camera: the pixels cannot be copied.
constexpr int ERR_VCAM_SET_READY = 432;    ///< Virtual camera: the ready state cannot be set.
constexpr int ERR_VISIONPRO_CMD = 433;     ///< VisionPro: command fault.
constexpr int ERR_VPRO_INIT_SHARED_MATRIX = 434;  ///< VisionPro: the shared matrix cannot be set
                                                  ///< up.
constexpr int ERR_VPRO_INIT_SHARED_MEM = 435;  ///< VisionPro: the shared memory cannot be set up.
constexpr int ERR_VPRO_SHARED_MEM = 436;       ///< VisionPro: shared memory fault.
constexpr int ERR_VPRO_SRV_CONNECT = 437;      ///< VisionPro server: the connection failed.
constexpr int ERR_VPRO_SRV_INIT = 438;         ///< VisionPro server: initialisation failed.
constexpr int ERR_VPRO_SRV_SEND = 439;         ///< VisionPro server: sending failed.
constexpr int ERR_VPRO_SRV_START = 440;        ///< VisionPro server: the start failed.
constexpr int ERR_VPRO_SRV_WAIT = 441;         ///< VisionPro server: the wait failed.
constexpr int ERR_WAIT_MULT_EVENTS_FAILED = 442;   ///< A wait on several events failed.
constexpr int ERR_WAIT_SINGLE_EVENT_FAILED = 443;  ///< A wait on one event failed.
constexpr int ERR_WINDOW_TOO_SMALL = 444;          ///< The window is too small.
constexpr int ERR_WINDOWS_DISJOINT = 445;          ///< The windows share no pixel.
constexpr int ERR_WINDOWS_MISMATCHED = 446;        ///< The windows do not match.
constexpr int ERR_WM_COMM = 447;                   ///< Wave monitor: communication failed.
constexpr int ERR_WM_INST_NOT_CALIBRATED = 448;    ///< Wave monitor: the instrument is not
                                                   ///< calibrated.
constexpr int ERR_WM_LASER_CONTROL_TIMEOUT = 449;  ///< Wave monitor: the laser control did not
                                                   ///< answer in time.
constexpr int ERR_WM_NAK = 450;                    ///< Wave monitor: the monitor answered NAK.
constexpr int ERR_WM_NUM_BUCKETS_TOO_LARGE = 451;  ///< Wave monitor: the ramp has too many buckets.
constexpr int ERR_WM_READ = 452;     ///< Wave monitor: a reply is invalid or incomplete.
constexpr int ERR_WM_TIMEOUT = 453;  ///< Wave monitor: the first byte of a reply did not come in
                                     ///< time.
constexpr int ERR_WM_TUNE_RANGE_TOO_LARGE = 454;  ///< Wave monitor: the ramp's tuning range is too
                                                  ///< large.
constexpr int ERR_WM_TUNE_RATE_TOO_SLOW = 455;    ///< Wave monitor: the ramp's tuning rate is too
                                                  ///< slow.
constexpr int ERR_WRONG_INSTR_BOARD = 456;  ///< The operation does not suit this instrument board.
constexpr int ERR_WRONG_SYSTEM_TYPE = 457;  ///< The operation does not suit this system type.
constexpr int ERR_TMI_BEAM_INTERRUPTED = 458;  ///< TMI: the beam was interrupted.
constexpr int ERR_TMI_LASER_UNSTABLE = 459;    ///< TMI: the laser is unstable.
constexpr int ERR_ZOOM_IS_MOVING = 460;        ///< The zoom is moving.
constexpr int ERR_ZOOM_NOT_AVAILABLE = 461;    ///< There is no zoom.
constexpr int ERR_ZOOM_TIMEOUT = 462;          ///< The zoom move timed out.
