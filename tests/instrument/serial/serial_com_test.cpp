// The serial layer over a real line, through the operating system's back
// end: the devices of the simcom fixture (tools/simdev.cpp run by
// cmake/simcom.sh) sit on pseudo-terminals linked into the Wine prefix as
// COM200 (a loopback plug), COM201 (an echo device answering lines ending
// in CR), COM202 (a simulated UZ1 instrument board) and COM203 (a simulated
// wave monitor). Under Wine the Win32 back end opens "COM200"; on Linux the POSIX
// back end opens the link itself. Outside the fixture every test is skipped.
//
// What Wine 8.0 does with a COM port on a pseudo-terminal (found with small
// programs calling the Win32 functions directly), and so what these tests
// assert:
// - CreateFile("\\.\COM200") follows dosdevices/com200 at every open: a link
//   made while a wineserver runs is found by the next open, and a missing link
//   fails with ERROR_FILE_NOT_FOUND.
// - A second CreateFile without sharing succeeds: not exclusive (not tested
//   here; the POSIX back end and the in-memory one are tested for it).
// - SetupComm, SetCommMask, PurgeComm work; the timeouts read back as set;
//   ClearCommError counts the input queue (the output queue reads 0).
// - ReadFile keeps the timeout rules: the interval ends a read about 100 ms
//   after the last byte, the total constant and multiplier end a silent read
//   (a few milliseconds early: 291 ms for 300, 146 for 150).
// - ReadFile and WriteFile carry all 256 byte values (with XON/XOFF off).
// - The line state keeps BaudRate (standard rates), StopBits 1 and 2, fOutX,
//   fInX, XonChar, XoffChar and fBinary. It does not keep ByteSize (the
//   pseudo-terminal stays at 8), Parity (reads 0 or 8), fParity (0), XonLim
//   and XoffLim (10), fRtsControl (handshake reads as enable), fOutxCtsFlow
//   (1 whenever RTS handshake is set), fAbortOnError (0), 1.5 stop bits
//   (reads 2), nor a rate outside the list (14400 is accepted, reads 38400):
//   those are tested on Linux and with the in-memory back end. Nine data bits
//   are refused, as on Windows.
// - EscapeCommFunction fails for SETDTR, CLRDTR, SETRTS and CLRRTS (a
//   pseudo-terminal has no modem lines); the layer ignores that in sio_init
//   and sio_close, as it does on Windows.
//
// Real time: the waits are failure bounds of seconds, the only tight bounds
// are lower ones (with room for Wine ending a wait a little early).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/dirs.h"
#include "common/errors.h"
#include "instrument/record/sys_info.h"
#include "instrument/ramps/ramp_file.h"
#include "instrument/ramps/ramp_table.h"
#include "instrument/serial/board.h"
#include "instrument/serial/device_table.h"
#include "instrument/serial/serial_port.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"
#include "instrument/motion/mc_axis.h"
#include "instrument/serial/wave_monitor.h"

namespace {

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The fixture's list of devices, or nothing (with the reason) when the
// fixture is not running.
std::optional<std::string> device_list(std::string& why) {
  const char* path = std::getenv("FELBRIN_COM_PORTS");
  if (path == nullptr || *path == '\0') {
    why = "FELBRIN_COM_PORTS is not set: the COM-port tests run under ctest, whose simcom "
          "fixture starts the simulated devices";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = std::string("no COM ports: ") + path + " does not exist (the simcom fixture is not running)";
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The name the back end opens for the device of `kind`: "COM200" on
// Windows, the link elsewhere. Empty when the list has no such device.
std::string port_name(const std::string& list, std::string_view kind) {
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string k, terminal, com, link;
    words >> k >> terminal >> com >> link;
    if (k != kind) continue;
#ifdef _WIN32
    return com;
#else
    return link;
#endif
  }
  return {};
}

std::vector<uint8_t> all_byte_values() {
  std::vector<uint8_t> v(256);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

// Timeouts for moving data: a read ends only when everything came, or after
// 10 s.
constexpr sio_timeouts_t kPatient{0, 0, 10000, 0, 1000};

// A device of the fixture, opened and initialised. Tests use the loopback
// plug unless they open another.
class SerialCom : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    const std::optional<std::string> found = device_list(why);
    if (!found) GTEST_SKIP() << why;
    list = *found;
    open("loopback", port);
    h = port.handle;
  }
  void TearDown() override {
    if (port.handle != SIO_INVALID_HANDLE) {
      EXPECT_EQ(sio_close(&port), 0);
    }
  }

  // Opens the device of `kind` and sets it up as the library's users do,
  // with XON/XOFF off (a loopback plug sends 0x13 back, which would stop the
  // line), then drops whatever an earlier test left on the line.
  void open(std::string_view kind, sio_port_t& p) {
    const std::string name = port_name(list, kind);
    ASSERT_FALSE(name.empty()) << "the simcom fixture lists no " << kind << " device:\n" << list;
    ASSERT_EQ(sio_open(name.c_str(), &p), 0) << name;
    ASSERT_EQ(sio_init_xonxoff(p.handle, nullptr), 0);
    ASSERT_EQ(sio_disable_xonxoff(p.handle), 0);
    ASSERT_EQ(sio_clear_buffer(p.handle), 0);
  }

  void send(sio_handle_t to, const std::vector<uint8_t>& bytes) {
    uint32_t n = 0;
    EXPECT_EQ(sio_send_data(to, bytes.data(), static_cast<uint32_t>(bytes.size()), &n), 0);
    EXPECT_EQ(n, bytes.size());
  }
  void send(sio_handle_t to, std::string_view text) {
    send(to, std::vector<uint8_t>(text.begin(), text.end()));
  }
  // Reads `count` bytes under the line's timeouts; `result` is the layer's.
  std::vector<uint8_t> read(sio_handle_t from, std::size_t count, int* result = nullptr) {
    std::vector<uint8_t> buf(count);
    uint32_t n = 0;
    const int r = sio_read_data(from, buf.data(), static_cast<uint32_t>(count), &n);
    if (result != nullptr) *result = r;
    buf.resize(n);
    return buf;
  }
  std::string read_text(sio_handle_t from, std::size_t count) {
    const std::vector<uint8_t> b = read(from, count);
    return {b.begin(), b.end()};
  }
  // Waits (up to 10 s) until `count` bytes are queued to be read.
  uint32_t wait_for_input(sio_handle_t from, uint32_t count) {
    uint32_t n = 0;
    const int64_t give_up = now_ms() + 10000;
    while (sio_bytes_waiting(from, &n) == 0 && n < count && now_ms() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return n;
  }

  std::string list;
  sio_port_t port;
  sio_handle_t h = SIO_INVALID_HANDLE;
};

// ---- data

TEST_F(SerialCom, AllByteValuesPassBothWays) {
  ASSERT_EQ(sio_set_timeouts(h, &kPatient), 0);
  const std::vector<uint8_t> bytes = all_byte_values();
  send(h, bytes);
  int result = -1;
  EXPECT_EQ(read(h, 256, &result), bytes);
  EXPECT_EQ(result, 0);
  // And from the highest value down, so no value only ever follows its
  // neighbour below.
  const std::vector<uint8_t> reversed(bytes.rbegin(), bytes.rend());
  send(h, reversed);
  EXPECT_EQ(read(h, 256, &result), reversed);
  EXPECT_EQ(result, 0);
}

TEST_F(SerialCom, ShortReadEndsAfterTheIntervalWithThePartialCount) {
  ASSERT_EQ(sio_set_read_timeout(h, 10), 0);  // interval 100 ms, total 10 s
  send(h, "abcd");
  ASSERT_EQ(wait_for_input(h, 4), 4u);
  const int64_t start = now_ms();
  int result = -1;
  const std::vector<uint8_t> got = read(h, 10, &result);
  const int64_t took = now_ms() - start;
  EXPECT_EQ(result, 1);
  EXPECT_EQ(std::string(got.begin(), got.end()), "abcd");
  EXPECT_GE(took, 80);
  EXPECT_LT(took, 5000);  // the interval ended it, not the 10 s total
}

TEST_F(SerialCom, SilentLineEndsAfterTheTotalConstant) {
  ASSERT_EQ(sio_set_read_timeout_ms(h, 300), 0);
  int64_t start = now_ms();
  int result = -1;
  EXPECT_TRUE(read(h, 4, &result).empty());
  EXPECT_EQ(result, 1);
  EXPECT_GE(now_ms() - start, 240);
  EXPECT_LT(now_ms() - start, 10000);

  // 100 ms for each of 4 bytes asked, and 200 more.
  const sio_timeouts_t per_byte{0, 100, 200, 0, 1000};
  ASSERT_EQ(sio_set_timeouts(h, &per_byte), 0);
  start = now_ms();
  EXPECT_TRUE(read(h, 4, &result).empty());
  EXPECT_EQ(result, 1);
  EXPECT_GE(now_ms() - start, 480);
  EXPECT_LT(now_ms() - start, 10000);
}

TEST_F(SerialCom, BytesWaitingAndClearBuffer) {
  uint32_t n = 9;
  EXPECT_EQ(sio_bytes_waiting(h, &n), 0);
  EXPECT_EQ(n, 0u);
  send(h, "xyz");
  EXPECT_EQ(wait_for_input(h, 3), 3u);

  uint32_t timeout_ms = 0;
  ASSERT_EQ(sio_get_read_timeout_ms(h, &timeout_ms), 0);
  const int64_t start = now_ms();
  EXPECT_EQ(sio_clear_buffer(h), 0);
  EXPECT_GE(now_ms() - start, 80);  // it waited for the line to be quiet
  EXPECT_EQ(sio_bytes_waiting(h, &n), 0);
  EXPECT_EQ(n, 0u);
  uint32_t after = 0;
  EXPECT_EQ(sio_get_read_timeout_ms(h, &after), 0);
  EXPECT_EQ(after, timeout_ms);

  // The line still works after the purge.
  ASSERT_EQ(sio_set_timeouts(h, &kPatient), 0);
  send(h, "after");
  EXPECT_EQ(read_text(h, 5), "after");
}

// ---- line state

TEST_F(SerialCom, LineStateReadsBackWhatTheDriverKeeps) {
  for (int baud : {150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
    ASSERT_EQ(sio_set_baud_rate(h, baud), 0) << baud;
    sio_dcb_t state{};
    ASSERT_EQ(sio_get_state(h, &state), 0);
    EXPECT_EQ(state.BaudRate, static_cast<uint32_t>(baud));
    EXPECT_EQ(state.DCBlength, 28u);
  }

  ASSERT_EQ(sio_init_xonxoff(h, "19200,8,0,2"), 0);
  sio_dcb_t state{};
  ASSERT_EQ(sio_get_state(h, &state), 0);
  EXPECT_EQ(state.BaudRate, 19200u);
  EXPECT_EQ(state.ByteSize, 8);
  EXPECT_EQ(state.StopBits, SIO_TWOSTOPBITS);
  EXPECT_EQ(state.fOutX, 1u);
  EXPECT_EQ(state.fInX, 1u);
  EXPECT_EQ(state.XonChar, 0x11);
  EXPECT_EQ(state.XoffChar, 0x13);
  EXPECT_EQ(state.fBinary, 1u);

  ASSERT_EQ(sio_disable_xonxoff(h), 0);
  ASSERT_EQ(sio_init(h, "57600,8,0,1", 1), 0);
  ASSERT_EQ(sio_disable_xonxoff(h), 0);
  ASSERT_EQ(sio_get_state(h, &state), 0);
  EXPECT_EQ(state.BaudRate, 57600u);
  EXPECT_EQ(state.StopBits, SIO_ONESTOPBIT);
  EXPECT_EQ(state.fOutX, 0u);
  EXPECT_EQ(state.fInX, 0u);

  // What was read can be written back unchanged.
  EXPECT_EQ(sio_set_state(h, &state), 0);
  EXPECT_EQ(sio_set_data_bits(h, 9), ERR_CANT_SET_SERIAL);
}

TEST_F(SerialCom, TimeoutsReadBackAsSet) {
  const sio_timeouts_t set{25, 3, 700, 2, 900};
  ASSERT_EQ(sio_set_timeouts(h, &set), 0);
  sio_timeouts_t got{};
  ASSERT_EQ(sio_get_timeouts(h, &got), 0);
  EXPECT_EQ(got.ReadIntervalTimeout, 25u);
  EXPECT_EQ(got.ReadTotalTimeoutMultiplier, 3u);
  EXPECT_EQ(got.ReadTotalTimeoutConstant, 700u);
  EXPECT_EQ(got.WriteTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(got.WriteTotalTimeoutConstant, 900u);
  int seconds = 0;
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), 0);
  EXPECT_EQ(seconds, 0);
  ASSERT_EQ(sio_set_read_timeout(h, 3), 0);
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), 0);
  EXPECT_EQ(seconds, 3);
}

// ---- close

TEST_F(SerialCom, CloseAndOpenAgain) {
  ASSERT_EQ(sio_close(&port), 0);
  EXPECT_EQ(port.handle, SIO_INVALID_HANDLE);
  EXPECT_EQ(sio_close(&port), ERR_SERIAL_NOT_OPEN);
  ASSERT_NO_FATAL_FAILURE(open("loopback", port));
  ASSERT_EQ(sio_set_timeouts(port.handle, &kPatient), 0);
  send(port.handle, "again");
  EXPECT_EQ(read_text(port.handle, 5), "again");
}

// ---- a device that answers requests, next to the loopback plug

TEST_F(SerialCom, EchoDeviceAnswersOnItsOwnPort) {
  sio_port_t echo;
  ASSERT_NO_FATAL_FAILURE(open("line", echo));
  ASSERT_EQ(sio_set_timeouts(echo.handle, &kPatient), 0);
  ASSERT_EQ(sio_set_timeouts(h, &kPatient), 0);

  send(echo.handle, "ID?\r");
  send(h, "plug");
  EXPECT_EQ(read_text(echo.handle, 7), "ACKID?\r");
  EXPECT_EQ(read_text(h, 4), "plug");
  send(echo.handle, "PING\r");
  EXPECT_EQ(read_text(echo.handle, 8), "ACKPING\r");

  uint32_t n = 9;
  EXPECT_EQ(sio_bytes_waiting(echo.handle, &n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(sio_close(&echo), 0);
}

// ---- a simulated instrument board (a UZ1 board) on its own port, driven
// by the board protocol end to end

TEST_F(SerialCom, BoardReadsAndLoadsARamp) {
  const std::string name = port_name(list, "board");
  ASSERT_FALSE(name.empty()) << list;
  ASSERT_EQ(dev_init_cntrl(1), 0);
  sysInfo_t& info = sysInfo[0];
  info = sysInfo_t{};
  info.instrBdType = BD_SABLE;
  info.instrComm = name;
  ASSERT_EQ(ur_initUZ(&info), 0);
  EXPECT_EQ(ur_flushUZ(&info.boardLink.port), 0);
  uint32_t version = 0;
  EXPECT_EQ(uz_sw_version(&info, &version), 0);
  EXPECT_EQ(version, 13u);
  EXPECT_EQ(uz_ee_serial_set(&info, 0x00ABCDEF), 0);
  EXPECT_EQ(uz_ee_serial_read(&info, &version), 0);
  EXPECT_EQ(version, 0x00ABCDEFu);

  rr_ramp_hdr_t header{};
  std::vector<uint16_t> points(1030);
  std::iota(points.begin(), points.end(), uint16_t{1000});
  header.nPoints = 1030;
  header.rampID = 3;
  header.polar = 'b';
  EXPECT_EQ(ur_ramp_download(&info, 5, &header, points.data()), 0);
  // Only a slot holding every announced point takes a rate and starts.
  EXPECT_EQ(uz_ramp_updaterate(&info, 5, 300), 0);
  EXPECT_EQ(uz_ramp_updaterate(&info, 6, 300), ERR_INVALID_RAMP_INDEX);
  EXPECT_EQ(ur_ramp_start(&info, 5), 0);
  EXPECT_EQ(ur_closeUZ(&info.boardLink.port), 0);
  dev_close_cntrl();
  info = sysInfo_t{};
}

// The ramp table built from a ramp directory and one ramp loaded into the
// board, started and waited for.
TEST_F(SerialCom, BoardLoadsARampFromTheRampDirectory) {
  const std::string name = port_name(list, "board");
  ASSERT_FALSE(name.empty()) << list;
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "felbrin-com-ramps";
  fs::remove_all(dir);
  fs::create_directories(dir);
  felbrin::test::ScopedEnv ramps("FB_RAMPS_DIR", dir.string().c_str());
  felbrin::test::ScopedEnv keep("KEEP_RAMPS_LOADED_IN_INSTR", nullptr);
  u_dirs_reset();

  rr_ramp_hdr_t ramp{};
  ramp.rampType = RR_TYPE_SWLI;
  ramp.pztID = 12345;
  ramp.nPoints = 2000;
  ramp.updateRate = 65436;
  ramp.sampleClkFreq = 40;
  ramp.cameraRate = 25;
  ramp.rampSlope = 81;
  ramp.scanLen = 10;
  ramp.fringesPerFrame = 0.25f;
  ramp.trigStartAddr = 100;
  ramp.trigEndAddr = 1900;
  ramp.offset = 0x8000;
  ramp.polar = 'b';
  ramp.dirFlag = 1;
  std::vector<uint16_t> points(2000);
  for (std::size_t i = 0; i < points.size(); ++i) points[i] = static_cast<uint16_t>(0x7000 + 4 * i);
  ASSERT_EQ(rr_write_ramp_file((dir / "d10s81c25.b12345").string().c_str(), &ramp, points.data()), 0);

  ASSERT_EQ(dev_init_cntrl(1), 0);
  sysInfo_t& info = sysInfo[0];
  info = sysInfo_t{};
  info.instrBdType = BD_SABLE;
  info.instrComm = name;
  info.acqFlag = 1;
  info.pifoc = felbrin::make_hooked<sb_pifoc_t>();
  info.pifoc->value = 12345;
  info.serialNumber = 777;
  info.rampConfigFile.clear();
  ASSERT_EQ(ur_initUZ(&info), 0);
  ASSERT_EQ(rr_get_ramp_info(&info), 0);
  ASSERT_EQ(info.ramps.table.size(), 1);
  EXPECT_EQ(rr_load_ramp(&info, 0), 0);
  EXPECT_EQ(info.ramps.table[0].slot, 0);
  EXPECT_EQ(rr_ramp_start_index(&info, 0), 0);
  EXPECT_EQ(rr_wait_ramp_idle(&info, 1), 0);
  EXPECT_EQ(ur_closeUZ(&info.boardLink.port), 0);
  dev_close_cntrl();
  info = sysInfo_t{};
  u_dirs_reset();
  fs::remove_all(dir);
}

// ---- a simulated wave monitor on its own port, at 115200 baud

TEST_F(SerialCom, WaveMonitorSwitchesTheLaserAndReportsItsStatus) {
  const std::string name = port_name(list, "wavemon");
  ASSERT_FALSE(name.empty()) << list;
  sysInfo_t& info = sysInfo[0];
  info = sysInfo_t{};
  info.systemType = SYS_HERON;
  info.instrBdType = BD_KITE;
  info.wmComm = name;
  ASSERT_EQ(wm_comm_open(&info), 0);
  sio_port_t* wm = &info.waveMonitor.port;
  EXPECT_EQ(wm_flush_inp(wm), 0);
  sio_dcb_t state{};
  ASSERT_EQ(sio_get_state(wm->handle, &state), 0);
  EXPECT_EQ(state.BaudRate, 115200u);
  EXPECT_EQ(wm_set_laser(wm, 1), 0);
  int32_t laser = 0;
  EXPECT_EQ(wm_get_laser(wm, &laser), 0);
  EXPECT_EQ(laser, 0x8000);
  // The simulated monitor starts uncalibrated: one status read, no limits.
  EXPECT_EQ(wm_read_cal(&info), 0);
  EXPECT_EQ(info.waveMonitor.calibrated, 0);
  double max_range = -1;
  EXPECT_EQ(wm_get_tune_limits(&info, nullptr, nullptr, nullptr, &max_range), 0);
  EXPECT_EQ(max_range, 0);
  EXPECT_EQ(wm_set_laser(wm, 0), 0);
  EXPECT_EQ(wm_comm_close(wm), 0);
  info = sysInfo_t{};
}

TEST_F(SerialCom, MotionControllerIsSetUpOverItsPort) {
  const std::string name = port_name(list, "motion");
  ASSERT_FALSE(name.empty()) << list;
  felbrin::test::TempDir dir;
  felbrin::test::write_file(dir.path() / "nova.cfg",
                            "AXIS 0\nCONFIG NOVA 1 0\nNAME X\nAXIS 2\nNAME Z\n");
  sysInfo_t info;
  info.motionCtrl[0] = (dir.path() / "nova.cfg").generic_string();
  info.motionCtrl[1] = name;
  // The calibration counts as read, so the configuration read does not look
  // for one.
  const int slot = sb_current_slot();
  const std::string saved = sysInfo[slot].calFilePath;
  sysInfo[slot].calFilePath = "read";
  ASSERT_EQ(dev_init_cntrl(1), 0);
  const int setup = mc_setup(&info);
  sysInfo[slot].calFilePath = saved;
  ASSERT_EQ(setup, 0);
  ASSERT_TRUE(info.motionCtrlInfo);
  mc_ctrl_t& c = *info.motionCtrlInfo;
  int32_t status[MC_AXES] = {};
  EXPECT_EQ(c.driver->get_status(c, MC_ALL_AXES, status), 0);
  EXPECT_EQ(status[0], 6);  // under the joystick, as the set-up leaves it
  EXPECT_EQ(mc_close(c), 0);
  info.motionCtrlInfo.reset();
  dev_close_cntrl();
}

}  // namespace
