#include "instrument/serial/serial_port.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "platform/platform.h"
#include "sim/memory_serial.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

#ifndef _WIN32
#include "platform/pty.h"
#endif

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using sim::SerialOp;

std::vector<uint8_t> all_byte_values() {
  std::vector<uint8_t> v(256);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

bool same_state(const sio_dcb_t& a, const sio_dcb_t& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A port of the in-memory back end, opened, on virtual time.
class SerialMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sio_open_with(backend, "COM3", &port), 0);
    h = port.handle;
  }
  void TearDown() override {
    peer.fail(SerialOp::close, 0);
    if (port.handle != SIO_INVALID_HANDLE) sio_close(&port);
  }

  VirtualClock clock;
  LogCapture log;
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM3");
  sio_port_t port;
  sio_handle_t h = SIO_INVALID_HANDLE;
};

// ---- open

TEST_F(SerialMemory, OpenSetsCharacterEventAndQueueSizes) {
  EXPECT_NE(h, SIO_INVALID_HANDLE);
  EXPECT_TRUE(peer.is_open());
  EXPECT_EQ(peer.event_mask(), 1u);
  EXPECT_EQ(peer.in_queue_size(), 4096u);
  EXPECT_EQ(peer.out_queue_size(), 4096u);
}

TEST_F(SerialMemory, OpenOfUnknownDeviceGives121AndInvalidHandle) {
  sio_port_t other;
  other.handle = 1234;
  EXPECT_EQ(sio_open_with(backend, "COM9", &other), ERR_CANT_OPEN_SERIAL);
  EXPECT_EQ(other.handle, SIO_INVALID_HANDLE);
}

TEST_F(SerialMemory, OpenIsExclusive) {
  sio_port_t other;
  EXPECT_EQ(sio_open_with(backend, "COM3", &other), ERR_CANT_OPEN_SERIAL);
  EXPECT_EQ(other.handle, SIO_INVALID_HANDLE);
}

TEST_F(SerialMemory, OpenFailingEventMaskOrQueuesGives124AndLeavesPortOpen) {
  for (SerialOp op : {SerialOp::event_mask, SerialOp::setup_queues}) {
    sim::MemorySerialPort& p = backend.add_port("COM4");
    p.fail(op, 1);
    sio_port_t other;
    EXPECT_EQ(sio_open_with(backend, "COM4", &other), ERR_CANT_SET_SERIAL);
    EXPECT_NE(other.handle, SIO_INVALID_HANDLE);
    EXPECT_TRUE(p.is_open());
    EXPECT_EQ(sio_close(&other), 0);
    EXPECT_FALSE(p.is_open());
  }
}

TEST_F(SerialMemory, OpenGoesThroughTheInstalledBackEnd) {
  sim::MemorySerial other_backend;
  sim::MemorySerialPort& p = other_backend.add_port("COM5");
  plat::SerialBackend* old = sio_set_backend(&other_backend);
  sio_port_t other;
  EXPECT_EQ(sio_open("COM5", &other), 0);
  EXPECT_TRUE(p.is_open());
  sio_set_backend(old == &plat::native_serial_backend() ? nullptr : old);
  // The line keeps its back end after the default changed back.
  EXPECT_EQ(sio_init(other.handle, nullptr, 1), 0);
  EXPECT_EQ(p.state().BaudRate, 9600u);
  EXPECT_EQ(sio_close(&other), 0);
}

// ---- sio_init

TEST_F(SerialMemory, InitWithoutSettingsAppliesDefaultsFlowAndTimeouts) {
  ASSERT_EQ(sio_set_baud_rate(h, 115200), 0);
  ASSERT_EQ(sio_set_parity(h, 2), 0);
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  const sio_dcb_t s = peer.state();
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, SIO_ONESTOPBIT);
  EXPECT_EQ(s.fParity, 0u);
  EXPECT_EQ(s.fOutX, 1u);
  EXPECT_EQ(s.fInX, 1u);
  EXPECT_EQ(s.XonChar, 0x11);
  EXPECT_EQ(s.XoffChar, 0x13);
  EXPECT_EQ(s.XonLim, 100);
  EXPECT_EQ(s.XoffLim, 3996);
  EXPECT_EQ(s.fDtrControl, SIO_DTR_CONTROL_ENABLE);
  EXPECT_EQ(s.fRtsControl, SIO_RTS_CONTROL_HANDSHAKE);
  EXPECT_EQ(s.fOutxCtsFlow, 0u);
  EXPECT_EQ(s.fAbortOnError, 0u);
  EXPECT_EQ(s.fBinary, 1u);
  const sio_timeouts_t t = peer.timeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, 100u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 2000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
  EXPECT_TRUE(peer.dtr());
  EXPECT_EQ(log.str(), "");
}

TEST_F(SerialMemory, InitWithoutSoftwareFlowUsesCtsAndAbortOnError) {
  ASSERT_EQ(sio_init(h, "38400,8,0,1", 0), 0);
  const sio_dcb_t s = peer.state();
  EXPECT_EQ(s.BaudRate, 38400u);
  EXPECT_EQ(s.fOutX, 0u);
  EXPECT_EQ(s.fInX, 0u);
  EXPECT_EQ(s.fOutxCtsFlow, 1u);
  EXPECT_EQ(s.fAbortOnError, 1u);
  EXPECT_EQ(s.XonLim, 100);
}

// Each device's row gives the line its protocol needs, whatever the steps.
TEST(SerialSettingsRow, EachDeviceGetsItsLine) {
  const struct {
    const char* device;
    sio_line_settings_t row;
    uint32_t baud;
    uint8_t byte_size, parity, cts_flow;
  } cases[] = {
      {"board", {.baud = 38400}, 38400, 8, 0, 0},
      {"wave monitor", {.baud = 115200, .parity = 0}, 115200, 8, 0, 0},
      {"temperature controller", {.baud = 9600, .parity = 2, .data_bits = 7}, 9600, 7, 2, 0},
      {"motion controller", {.hardware_handshake = true}, 9600, 8, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    sim::MemorySerial backend;
    sim::MemorySerialPort& peer = backend.add_port("COM4");
    plat::SerialBackend* const saved = sio_set_backend(&backend);
    sio_port_t port;
    ASSERT_EQ(sio_open_configured("COM4", c.row, &port), 0);
    const sio_dcb_t s = peer.state();
    EXPECT_EQ(s.BaudRate, c.baud);
    EXPECT_EQ(s.ByteSize, c.byte_size);
    EXPECT_EQ(s.Parity, c.parity);
    EXPECT_EQ(s.fOutX, 0u) << "XON and XOFF are plain bytes";
    EXPECT_EQ(s.fInX, 0u);
    EXPECT_EQ(s.fOutxCtsFlow, c.cts_flow);
    EXPECT_EQ(s.fAbortOnError, c.cts_flow);
    sio_close(&port);
    sio_set_backend(saved);
  }
  // A line that opened but could not be set up is closed again.
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM5");
  plat::SerialBackend* const saved = sio_set_backend(&backend);
  peer.fail(SerialOp::set_state, 1);
  sio_port_t port;
  felbrin::test::LogCapture quiet;
  EXPECT_EQ(sio_open_configured("COM5", {.baud = 38400}, &port), ERR_CANT_SET_SERIAL);
  EXPECT_FALSE(peer.is_open());
  EXPECT_EQ(sio_open_configured("COM6", {}, &port), ERR_CANT_OPEN_SERIAL);
  sio_set_backend(saved);
}

TEST_F(SerialMemory, SettingsTextIsApplied) {
  ASSERT_EQ(sio_init(h, "19200,7,2,2", 1), 0);
  const sio_dcb_t s = peer.state();
  EXPECT_EQ(s.BaudRate, 19200u);
  EXPECT_EQ(s.ByteSize, 7);
  EXPECT_EQ(s.Parity, 2);
  EXPECT_EQ(s.fParity, 1u);
  EXPECT_EQ(s.StopBits, SIO_TWOSTOPBITS);

  ASSERT_EQ(sio_init(h, "9600,8,0,1.5", 1), 0);
  EXPECT_EQ(peer.state().StopBits, SIO_ONE5STOPBITS);
  EXPECT_EQ(peer.state().fParity, 0u);

  // Each field is a number from its first character; what follows it up to
  // the next comma does not count.
  ASSERT_EQ(sio_init(h, "115200 baud,6 bits,1 odd,1 stop", 1), 0);
  EXPECT_EQ(peer.state().BaudRate, 115200u);
  EXPECT_EQ(peer.state().ByteSize, 6);
  EXPECT_EQ(peer.state().Parity, 1);
  EXPECT_EQ(peer.state().StopBits, SIO_ONESTOPBIT);
  EXPECT_EQ(log.str(), "");
}

TEST_F(SerialMemory, EveryStandardRateIsAccepted) {
  for (int baud : {150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
    const std::string text = std::to_string(baud) + ",8,0,1";
    EXPECT_EQ(sio_init(h, text.c_str(), 1), 0) << text;
    EXPECT_EQ(peer.state().BaudRate, static_cast<uint32_t>(baud));
  }
}

TEST_F(SerialMemory, BadSettingsLeaveTheDeviceAsItWas) {
  struct Case {
    const char* text;
    int result;
    bool logged;
  };
  const Case cases[] = {
      {"9600,8,N,1", ERR_PARAM_OUT_OF_RANGE, false},
      {"9600,8", ERR_INVALID_PARAM, true},
      {"9600", ERR_INVALID_PARAM, true},
      {"9600,8,0", ERR_INVALID_PARAM, true},
      {"14400,8,0,1", ERR_INVALID_PARAM, true},
      {"9600,8,0,3", ERR_PARAM_OUT_OF_RANGE, true},
      {"9600,8,0,x", ERR_PARAM_OUT_OF_RANGE, true},
      {"9600,9,0,1", ERR_INVALID_PARAM, true},
      {"9600,4,0,1", ERR_INVALID_PARAM, true},
      {"9600,8,3,1", ERR_INVALID_PARAM, true},
      {"", ERR_INVALID_PARAM, true},
  };
  ASSERT_EQ(sio_init(h, "57600,7,1,2", 0), 0);
  const sio_dcb_t before = peer.state();
  const sio_timeouts_t timeouts_before = peer.timeouts();
  for (const Case& c : cases) {
    LogCapture capture;
    const int writes = peer.calls(SerialOp::set_state) + peer.calls(SerialOp::set_timeouts) +
                       peer.calls(SerialOp::escape);
    EXPECT_EQ(sio_init(h, c.text, 1), c.result) << c.text;
    EXPECT_TRUE(same_state(peer.state(), before)) << c.text;
    EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, timeouts_before.ReadTotalTimeoutConstant);
    EXPECT_EQ(peer.calls(SerialOp::set_state) + peer.calls(SerialOp::set_timeouts) +
                  peer.calls(SerialOp::escape),
              writes)
        << c.text;
    const std::string expected =
        c.logged ? "Com Settings Parameter: " + std::string(c.text) + " is Invalid.\n" : "";
    EXPECT_EQ(capture.str(), expected) << c.text;
  }
}

TEST_F(SerialMemory, FileModeWordsAreIgnoredWithANote) {
  for (const char* word : {"r", "r+", "w", "w+", "a", "a+"}) {
    LogCapture capture;
    ASSERT_EQ(sio_init(h, "19200,7,2,2", 1), 0);
    ASSERT_EQ(sio_init(h, word, 1), 0) << word;
    const sio_dcb_t s = peer.state();
    EXPECT_EQ(s.BaudRate, 9600u);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.Parity, 0);
    EXPECT_EQ(s.StopBits, SIO_ONESTOPBIT);
    EXPECT_EQ(s.fParity, 0u);
    EXPECT_EQ(capture.str(), "Com Settings Parameter: " + std::string(word) + " is ignored.\n");
  }
}

TEST_F(SerialMemory, InitReportsStateFailures) {
  peer.fail(SerialOp::get_state, 1);
  EXPECT_EQ(sio_init(h, "9600,8,0,1", 1), ERR_CANT_GET_SERIAL);
  EXPECT_EQ(log.str(), "Com Settings Parameter: 9600,8,0,1 is Invalid.\n");

  LogCapture capture;
  peer.fail(SerialOp::set_state, 1);
  EXPECT_EQ(sio_init(h, nullptr, 1), ERR_CANT_SET_SERIAL);
  EXPECT_EQ(capture.str(), "Com Settings Parameter: (null) is Invalid.\n");
}

TEST_F(SerialMemory, InitIgnoresFailuresOfTimeoutsAndDtr) {
  peer.fail(SerialOp::set_timeouts, 1);
  peer.fail(SerialOp::escape, 1);
  EXPECT_EQ(sio_init(h, nullptr, 1), 0);
  EXPECT_EQ(log.str(), "");
}

// ---- setters and getters

TEST_F(SerialMemory, SettersChangeOneFieldEach) {
  ASSERT_EQ(sio_init(h, "19200,7,2,2", 1), 0);
  EXPECT_EQ(sio_set_baud_rate(h, 14400), 0);  // no check against the list
  EXPECT_EQ(peer.state().BaudRate, 14400u);
  EXPECT_EQ(peer.state().ByteSize, 7);
  EXPECT_EQ(sio_set_parity(h, 0), 0);
  EXPECT_EQ(peer.state().Parity, 0);
  EXPECT_EQ(peer.state().fParity, 0u);
  EXPECT_EQ(sio_set_parity(h, 1), 0);
  EXPECT_EQ(peer.state().Parity, 1);
  EXPECT_EQ(peer.state().fParity, 1u);
  EXPECT_EQ(sio_set_data_bits(h, 5), 0);
  EXPECT_EQ(peer.state().ByteSize, 5);
  EXPECT_EQ(peer.state().StopBits, SIO_TWOSTOPBITS);

  EXPECT_EQ(sio_disable_xonxoff(h), 0);
  EXPECT_EQ(peer.state().fOutX, 0u);
  EXPECT_EQ(peer.state().fInX, 0u);
  EXPECT_EQ(peer.state().XonLim, 100);
  EXPECT_EQ(peer.state().XoffLim, 3996);
  EXPECT_EQ(sio_enable_xonxoff(h), 0);
  EXPECT_EQ(peer.state().fOutX, 1u);
  EXPECT_EQ(peer.state().fInX, 1u);
  EXPECT_EQ(peer.state().XonChar, 0x11);
  EXPECT_EQ(peer.state().XoffChar, 0x13);
}

TEST_F(SerialMemory, SettersReportReadAndWriteFailures) {
  const auto setters = {
      +[](sio_handle_t x) { return sio_set_baud_rate(x, 9600); },
      +[](sio_handle_t x) { return sio_set_parity(x, 1); },
      +[](sio_handle_t x) { return sio_set_data_bits(x, 7); },
      +[](sio_handle_t x) { return sio_enable_xonxoff(x); },
      +[](sio_handle_t x) { return sio_disable_xonxoff(x); },
  };
  for (auto setter : setters) {
    peer.fail(SerialOp::get_state, 1);
    EXPECT_EQ(setter(h), ERR_CANT_GET_SERIAL);
    peer.fail(SerialOp::set_state, 1);  // a value the driver rejects
    EXPECT_EQ(setter(h), ERR_CANT_SET_SERIAL);
    EXPECT_EQ(setter(h), 0);
  }
}

TEST_F(SerialMemory, GetStateFillsTheLength) {
  sio_dcb_t s{};
  ASSERT_EQ(sio_get_state(h, &s), 0);
  EXPECT_EQ(s.DCBlength, 28u);
  s.BaudRate = 57600;
  EXPECT_EQ(sio_set_state(h, &s), 0);
  EXPECT_EQ(peer.state().BaudRate, 57600u);
  peer.fail(SerialOp::get_state, 1);
  EXPECT_EQ(sio_get_state(h, &s), ERR_CANT_GET_SERIAL);
  peer.fail(SerialOp::set_state, 1);
  EXPECT_EQ(sio_set_state(h, &s), ERR_CANT_SET_SERIAL);
}

TEST_F(SerialMemory, ReadTimeoutInWholeSeconds) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  int seconds = -1;
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), 0);
  EXPECT_EQ(seconds, 2);
  EXPECT_EQ(sio_set_read_timeout(h, 10), 0);
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), 0);
  EXPECT_EQ(seconds, 10);
  const sio_timeouts_t t = peer.timeouts();
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 10000u);
  EXPECT_EQ(t.ReadIntervalTimeout, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);

  peer.fail(SerialOp::get_timeouts, 1);
  seconds = 7;
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), ERR_CANT_GET_SERIAL);
  EXPECT_EQ(seconds, 0);
  peer.fail(SerialOp::get_timeouts, 1);
  EXPECT_EQ(sio_set_read_timeout(h, 3), ERR_CANT_SET_SERIAL);
  peer.fail(SerialOp::set_timeouts, 1);
  EXPECT_EQ(sio_set_read_timeout(h, 3), ERR_CANT_SET_SERIAL);
  EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, 10000u);
}

TEST_F(SerialMemory, ReadTimeoutBelowOneSecondSurvivesSaveAndRestore) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  ASSERT_EQ(sio_set_read_timeout_ms(h, 500), 0);
  int seconds = -1;
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), 0);
  EXPECT_EQ(seconds, 0);  // why whole seconds cannot carry a restore
  uint32_t saved = 0;
  ASSERT_EQ(sio_get_read_timeout_ms(h, &saved), 0);
  EXPECT_EQ(saved, 500u);
  ASSERT_EQ(sio_set_read_timeout(h, 10), 0);
  ASSERT_EQ(sio_set_read_timeout_ms(h, saved), 0);
  EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, 500u);
}

TEST(SerialClosed, EveryOperationRefusesAClosedHandle) {
  LogCapture log;
  const sio_handle_t h = SIO_INVALID_HANDLE;
  sio_dcb_t s{};
  sio_timeouts_t t{};
  int seconds = 5;
  uint32_t n = 5;
  EXPECT_EQ(sio_init(h, nullptr, 1), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_init_xonxoff(h, nullptr), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_set_baud_rate(h, 9600), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_set_parity(h, 0), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_set_data_bits(h, 8), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_enable_xonxoff(h), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_disable_xonxoff(h), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(seconds, 0);
  EXPECT_EQ(sio_set_read_timeout(h, 1), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_get_timeouts(h, &t), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_set_timeouts(h, &t), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_get_state(h, &s), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_set_state(h, &s), ERR_SERIAL_NOT_OPEN);
  EXPECT_EQ(sio_clear_buffer(h), ERR_SERIAL_NOT_OPEN);
  sio_port_t closed;
  EXPECT_EQ(sio_close(&closed), ERR_SERIAL_NOT_OPEN);
  // The data operations report failure as 1.
  uint8_t buf[4] = {};
  EXPECT_EQ(sio_send_data(h, buf, 4, &n), 1);
  EXPECT_EQ(n, 0u);
  n = 5;
  EXPECT_EQ(sio_read_data(h, buf, 4, &n), 1);
  EXPECT_EQ(n, 0u);
  n = 5;
  EXPECT_EQ(sio_bytes_waiting(h, &n), 1);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(log.str(), "");
}

// ---- data

TEST_F(SerialMemory, AllByteValuesPassBothWays) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  const std::vector<uint8_t> bytes = all_byte_values();
  uint32_t n = 0;
  EXPECT_EQ(sio_send_data(h, bytes.data(), 256, &n), 0);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(peer.take_written(), bytes);

  peer.push(bytes);
  std::vector<uint8_t> got(256);
  EXPECT_EQ(sio_read_data(h, got.data(), 256, &n), 0);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(clock.elapsed_ms(), 0);
}

TEST_F(SerialMemory, ShortReadEndsAfterTheIntervalWithThePartialCount) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.push("abcd");
  uint8_t buf[10] = {};
  uint32_t n = 0;
  EXPECT_EQ(sio_read_data(h, buf, 10, &n), 1);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
  EXPECT_EQ(clock.elapsed_ms(), 100);
}

TEST_F(SerialMemory, SilentLineEndsAfterTheTotalConstant) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  uint8_t buf[10] = {};
  uint32_t n = 9;
  EXPECT_EQ(sio_read_data(h, buf, 10, &n), 1);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(clock.elapsed_ms(), 2000);

  ASSERT_EQ(sio_set_read_timeout(h, 10), 0);
  EXPECT_EQ(sio_read_data(h, buf, 10, &n), 1);
  EXPECT_EQ(clock.elapsed_ms(), 12000);
  const auto reads = peer.read_timeouts();
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].ReadTotalTimeoutConstant, 2000u);
  EXPECT_EQ(reads[1].ReadTotalTimeoutConstant, 10000u);
}

TEST_F(SerialMemory, IntervalRestartsWithEveryByte) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.push_after(300, "ab");
  peer.push_after(390, "cd");
  peer.push_after(480, "ef");
  peer.push_after(700, "gh");  // too late: 100 ms of silence came first
  uint8_t buf[8] = {};
  uint32_t n = 0;
  EXPECT_EQ(sio_read_data(h, buf, 8, &n), 1);
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(clock.elapsed_ms(), 580);
}

TEST_F(SerialMemory, TotalTimeoutCountsTheMultiplier) {
  ASSERT_EQ(sio_set_timeouts(h, std::array<sio_timeouts_t, 1>{{{0, 10, 50, 0, 0}}}.data()), 0);
  uint8_t buf[5] = {};
  uint32_t n = 0;
  EXPECT_EQ(sio_read_data(h, buf, 5, &n), 1);
  EXPECT_EQ(clock.elapsed_ms(), 100);
  peer.push_after(30, "12345");
  EXPECT_EQ(sio_read_data(h, buf, 5, &n), 0);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(clock.elapsed_ms(), 130);
}

TEST_F(SerialMemory, ReadFailsWhenTheLastStatusQueryFails) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.push("xy");
  peer.fail(SerialOp::clear_error, 2);  // before and after the read
  uint8_t buf[2] = {};
  uint32_t n = 0;
  EXPECT_EQ(sio_read_data(h, buf, 2, &n), 1);
  EXPECT_EQ(n, 2u);
  peer.fail(SerialOp::read, 1);
  EXPECT_EQ(sio_read_data(h, buf, 2, &n), 1);
}

TEST_F(SerialMemory, BytesWaitingCountsTheInputQueue) {
  uint32_t n = 9;
  EXPECT_EQ(sio_bytes_waiting(h, &n), 0);
  EXPECT_EQ(n, 0u);
  peer.push("hello");
  EXPECT_EQ(sio_bytes_waiting(h, &n), 0);
  EXPECT_EQ(n, 5u);
  peer.fail(SerialOp::clear_error, 1);
  EXPECT_EQ(sio_bytes_waiting(h, &n), 1);
  EXPECT_EQ(n, 0u);
}

TEST_F(SerialMemory, SendReportsWriteFailure) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.fail(SerialOp::write, 1);
  uint32_t n = 7;
  EXPECT_EQ(sio_send_data(h, "abc", 3, &n), 1);
  EXPECT_EQ(n, 0u);
}

TEST_F(SerialMemory, StalledOutputFailsAfterTheDeadlineWithoutSpinning) {
  ASSERT_EQ(sio_init(h, nullptr, 0), 0);  // CTS flow on
  peer.hold_output(true);
  uint32_t n = 0;
  EXPECT_EQ(sio_send_data(h, "0123456789", 10, &n), 1);
  EXPECT_EQ(n, 10u);
  // Write constant 1000 ms plus ten bytes at 9600 baud (11 ms).
  EXPECT_EQ(clock.elapsed_ms(), 1011);
  EXPECT_EQ(clock.pause_count(), 1011);  // one pause per poll
  // Without a write timeout the drain is still given a second.
  sio_timeouts_t t{};
  ASSERT_EQ(sio_get_timeouts(h, &t), 0);
  t.WriteTotalTimeoutConstant = 0;
  ASSERT_EQ(sio_set_timeouts(h, &t), 0);
  EXPECT_EQ(sio_send_data(h, "0123456789", 10, &n), 1);
  EXPECT_EQ(clock.elapsed_ms(), 2 * 1011);
  // The host's abort hook ends the wait after its first pause.
  const u_abort_hook saved = u_set_abort_fn([](void*) { return 1; });
  EXPECT_EQ(sio_send_data(h, "0123456789", 10, &n), 1);
  u_set_abort_fn(saved);
  EXPECT_EQ(clock.elapsed_ms(), 2 * 1011 + 1);
  peer.hold_output(false);
  EXPECT_EQ(peer.take_written().size(), 30u);
}

TEST_F(SerialMemory, SendStopsWaitingWhenALineErrorIsFlagged) {
  ASSERT_EQ(sio_init(h, nullptr, 0), 0);
  peer.hold_output(true);
  peer.flag_errors(0x10);
  uint32_t n = 0;
  EXPECT_EQ(sio_send_data(h, "ab", 2, &n), 0);
  EXPECT_EQ(clock.elapsed_ms(), 0);
}

// ---- draining

TEST_F(SerialMemory, ClearBufferOnASilentLine) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  EXPECT_EQ(sio_clear_buffer(h), 0);
  EXPECT_EQ(clock.elapsed_ms(), 100);
  EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, 2000u);
  const auto reads = peer.read_timeouts();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].ReadTotalTimeoutConstant, 100u);
}

TEST_F(SerialMemory, ClearBufferDiscardsUntilTheLineIsQuiet) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.push("stale bytes");
  peer.push_after(50, "x");
  peer.push_after(120, "y");
  EXPECT_EQ(sio_clear_buffer(h), 0);
  EXPECT_EQ(clock.elapsed_ms(), 220);
  EXPECT_EQ(peer.pending_input(), 0u);
  EXPECT_GE(peer.calls(SerialOp::purge), 3);
  EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, 2000u);
}

TEST_F(SerialMemory, ClearBufferGivesUpOnAStreamingPeer) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.stream('p', 20);
  EXPECT_EQ(sio_clear_buffer(h), 1);
  EXPECT_GE(clock.elapsed_ms(), 10000);
  EXPECT_LE(clock.elapsed_ms(), 10020);
  EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, 2000u);
  peer.stop_stream();
  EXPECT_EQ(sio_clear_buffer(h), 0);
}

// A peer faster than the clock can tell (a byte whenever the library looks)
// is given up on by its byte count alone.
TEST_F(SerialMemory, ClearBufferGivesUpAfter64KiBOfAFastPeer) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.on_look([this] {
    peer.push("f");
    return INT64_MAX;
  });
  EXPECT_EQ(sio_clear_buffer(h), 1);
  EXPECT_EQ(peer.calls(SerialOp::read), 64 * 1024);
  EXPECT_EQ(clock.elapsed_ms(), 0);
  peer.on_look(nullptr);
  EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, 2000u);
}

TEST_F(SerialMemory, ClearBufferReportsPurgeFailure) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  peer.fail(SerialOp::purge, 1);
  EXPECT_EQ(sio_clear_buffer(h), 1);
  EXPECT_EQ(peer.timeouts().ReadTotalTimeoutConstant, 2000u);
  // Without timeouts to save the line is still drained.
  peer.fail(SerialOp::get_timeouts, 1);
  EXPECT_EQ(sio_clear_buffer(h), 0);
}

// ---- close

TEST_F(SerialMemory, CloseLowersDtrPurgesAndResetsTheRecord) {
  ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  EXPECT_TRUE(peer.dtr());
  const std::size_t before = peer.call_log().size();
  EXPECT_EQ(sio_close(&port), 0);
  EXPECT_EQ(port.handle, SIO_INVALID_HANDLE);
  EXPECT_FALSE(peer.is_open());
  EXPECT_FALSE(peer.dtr());
  EXPECT_EQ(peer.event_mask(), 0u);
  const auto calls = peer.call_log();
  const std::vector<SerialOp> tail(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end());
  EXPECT_EQ(tail, (std::vector<SerialOp>{SerialOp::event_mask, SerialOp::escape, SerialOp::purge,
                                          SerialOp::close}));
  EXPECT_EQ(sio_close(&port), ERR_SERIAL_NOT_OPEN);
  // The device can be opened again.
  EXPECT_EQ(sio_open_with(backend, "COM3", &port), 0);
}

TEST_F(SerialMemory, FailedCloseKeepsTheHandle) {
  peer.fail(SerialOp::event_mask, 1);
  peer.fail(SerialOp::escape, 1);
  peer.fail(SerialOp::purge, 1);
  peer.fail(SerialOp::close, 1);
  EXPECT_EQ(sio_close(&port), ERR_CANT_CLOSE_SERIAL);
  EXPECT_EQ(port.handle, h);
  EXPECT_TRUE(peer.is_open());
  EXPECT_EQ(sio_close(&port), 0);
  EXPECT_EQ(port.handle, SIO_INVALID_HANDLE);
}

TEST_F(SerialMemory, EndlessReadFailsInsteadOfHanging) {
  ASSERT_EQ(sio_set_timeouts(h, std::array<sio_timeouts_t, 1>{{{100, 0, 0, 0, 0}}}.data()), 0);
  uint8_t b = 0;
  uint32_t n = 0;
  EXPECT_EQ(sio_read_data(h, &b, 1, &n), 1);
  EXPECT_EQ(peer.endless_reads(), 1);
}

// ---- the operating system's back end

TEST(SerialNative, OpeningAMissingDeviceFails) {
#ifdef _WIN32
  const char* missing = "COM199";
#else
  const char* missing = "/dev/felbrin-no-such-tty";
#endif
  sio_port_t port;
  EXPECT_EQ(sio_open(missing, &port), ERR_CANT_OPEN_SERIAL);
  EXPECT_EQ(port.handle, SIO_INVALID_HANDLE);
  EXPECT_EQ(sio_close(&port), ERR_SERIAL_NOT_OPEN);
}

#ifndef _WIN32

int64_t real_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(sio_open_with(plat::native_serial_backend(), pty.device().c_str(), &port), 0);
    h = port.handle;
    ASSERT_EQ(sio_init_xonxoff(h, nullptr), 0);
  }
  void TearDown() override {
    if (port.handle != SIO_INVALID_HANDLE) {
      EXPECT_EQ(sio_close(&port), 0);
    }
  }

  LogCapture log;
  plat::PtyPair pty;
  sio_port_t port;
  sio_handle_t h = SIO_INVALID_HANDLE;
};

TEST_F(SerialPty, InitSetsARawLine) {
  plat::PtyPair::Settings s;
  ASSERT_TRUE(pty.settings(s));
  EXPECT_TRUE(s.raw);
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_FALSE(s.two_stop);
  EXPECT_TRUE(s.xon_out);
  EXPECT_TRUE(s.xon_in);
  EXPECT_EQ(sio_disable_xonxoff(h), 0);
  ASSERT_TRUE(pty.settings(s));
  EXPECT_FALSE(s.xon_out);
  EXPECT_FALSE(s.xon_in);
}

TEST_F(SerialPty, BaudRatesMapToLineSpeeds) {
  for (int baud : {150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
    ASSERT_EQ(sio_set_baud_rate(h, baud), 0) << baud;
    plat::PtyPair::Settings s;
    ASSERT_TRUE(pty.settings(s));
    EXPECT_EQ(s.baud, static_cast<uint32_t>(baud));
  }
  EXPECT_EQ(sio_set_baud_rate(h, 14400), ERR_CANT_SET_SERIAL);
  sio_dcb_t state{};
  ASSERT_EQ(sio_get_state(h, &state), 0);
  EXPECT_EQ(state.BaudRate, 115200u);
}

TEST_F(SerialPty, StateReadsBackAsWritten) {
  ASSERT_EQ(sio_init(h, "9600,7,2,1.5", 0), 0);
  sio_dcb_t state{};
  ASSERT_EQ(sio_get_state(h, &state), 0);
  EXPECT_EQ(state.DCBlength, 28u);
  EXPECT_EQ(state.ByteSize, 7);  // the pty itself keeps 8 bits and no parity
  EXPECT_EQ(state.Parity, 2);
  EXPECT_EQ(state.StopBits, SIO_ONE5STOPBITS);
  EXPECT_EQ(state.fOutxCtsFlow, 1u);
  plat::PtyPair::Settings s;
  ASSERT_TRUE(pty.settings(s));
  EXPECT_TRUE(s.two_stop);
  EXPECT_EQ(sio_set_data_bits(h, 9), ERR_CANT_SET_SERIAL);
  EXPECT_EQ(sio_set_parity(h, 5), ERR_CANT_SET_SERIAL);
}

// The pty refuses a change of framing alone; the line is otherwise as
// asked, so the request stands, as it does along with other changes.
TEST_F(SerialPty, FramingAloneIsTakenThoughThePtyKeepsItsOwn) {
  EXPECT_EQ(sio_set_parity(h, 2), 0);
  EXPECT_EQ(sio_set_data_bits(h, 7), 0);
  sio_dcb_t state{};
  ASSERT_EQ(sio_get_state(h, &state), 0);
  EXPECT_EQ(state.ByteSize, 7);
  EXPECT_EQ(state.Parity, 2);
  EXPECT_EQ(sio_set_data_bits(h, 9), ERR_CANT_SET_SERIAL);
}

TEST_F(SerialPty, OpenIsExclusive) {
  sio_port_t other;
  EXPECT_EQ(sio_open(pty.device().c_str(), &other), ERR_CANT_OPEN_SERIAL);
  EXPECT_EQ(other.handle, SIO_INVALID_HANDLE);
  ASSERT_EQ(sio_close(&port), 0);
  EXPECT_EQ(sio_open(pty.device().c_str(), &port), 0);
}

TEST_F(SerialPty, AllByteValuesPassBothWays) {
  // With XON/XOFF on, the line itself takes 0x11 and 0x13.
  ASSERT_EQ(sio_disable_xonxoff(h), 0);
  const std::vector<uint8_t> bytes = all_byte_values();
  uint32_t n = 0;
  EXPECT_EQ(sio_send_data(h, bytes.data(), 256, &n), 0);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(pty.receive(256, 2000), bytes);

  ASSERT_TRUE(pty.send(bytes));
  std::vector<uint8_t> got(256);
  EXPECT_EQ(sio_read_data(h, got.data(), 256, &n), 0);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(got, bytes);
}

TEST_F(SerialPty, WriteWithoutATotalTimeoutWaitsForRoom) {
  // More than the line holds: the far end makes room only as it reads.
  ASSERT_EQ(sio_disable_xonxoff(h), 0);
  sio_timeouts_t t{};
  ASSERT_EQ(sio_get_timeouts(h, &t), 0);
  t.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutConstant = 0;
  ASSERT_EQ(sio_set_timeouts(h, &t), 0);
  const std::vector<uint8_t> bytes(256 * 1024, 'w');
  std::vector<uint8_t> got;
  std::thread reader([&] { got = pty.receive(bytes.size(), 10000); });
  uint32_t n = 0;
  EXPECT_EQ(sio_send_data(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &n), 0);
  reader.join();
  EXPECT_EQ(n, bytes.size());
  EXPECT_EQ(got.size(), bytes.size());
}

TEST_F(SerialPty, BytesWaitingSeesInput) {
  ASSERT_TRUE(pty.send(std::vector<uint8_t>{1, 2, 3}));
  uint32_t n = 0;
  for (int i = 0; i < 200 && n < 3; ++i) {
    ASSERT_EQ(sio_bytes_waiting(h, &n), 0);
    if (n < 3) plat::sleep_ms(5);
  }
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(sio_clear_buffer(h), 0);
  EXPECT_EQ(sio_bytes_waiting(h, &n), 0);
  EXPECT_EQ(n, 0u);
}

TEST_F(SerialPty, ShortReadEndsAfterTheInterval) {
  ASSERT_TRUE(pty.send(std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
  uint8_t buf[10] = {};
  uint32_t n = 0;
  const int64_t start = real_ms();
  EXPECT_EQ(sio_read_data(h, buf, 10, &n), 1);
  const int64_t took = real_ms() - start;
  EXPECT_EQ(n, 4u);
  EXPECT_GE(took, 90);
  EXPECT_LT(took, 1500);
}

TEST_F(SerialPty, SilentReadEndsAfterTheTotalConstant) {
  ASSERT_EQ(sio_set_read_timeout_ms(h, 300), 0);
  uint8_t buf[4] = {};
  uint32_t n = 9;
  const int64_t start = real_ms();
  EXPECT_EQ(sio_read_data(h, buf, 4, &n), 1);
  const int64_t took = real_ms() - start;
  EXPECT_EQ(n, 0u);
  EXPECT_GE(took, 290);
  EXPECT_LT(took, 2000);
}

TEST_F(SerialPty, ClearBufferOnASilentLine) {
  ASSERT_TRUE(pty.send(std::vector<uint8_t>{9, 9, 9}));
  const int64_t start = real_ms();
  EXPECT_EQ(sio_clear_buffer(h), 0);
  EXPECT_GE(real_ms() - start, 90);
  int seconds = 0;
  EXPECT_EQ(sio_get_read_timeout(h, &seconds), 0);
  EXPECT_EQ(seconds, 2);
}

#endif  // !_WIN32

}  // namespace
