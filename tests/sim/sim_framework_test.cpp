#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "instrument/serial/serial_port.h"
#include "platform/platform.h"
#include "sim/device_model.h"
#include "sim/framer.h"
#include "sim/memory_serial.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/transport.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

#ifndef _WIN32
#include "sim/pty_transport.h"
#endif

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using sim::to_bytes;

std::vector<sim::Frame> frames_of(sim::Framer& f, const std::vector<uint8_t>& bytes) {
  f.feed(bytes);
  std::vector<sim::Frame> out;
  while (auto frame = f.next()) out.push_back(*frame);
  return out;
}

// ---- checksums and framers on their own

TEST(SimChecksum, HandWorkedValues) {
  const std::vector<uint8_t> bytes{0x01, 0x02, 0x04, 0xF0};
  EXPECT_EQ(sim::xor8(bytes), 0xF7);
  EXPECT_EQ(sim::sum8(bytes), 0xF7);
  const std::vector<uint8_t> wrap{0x80, 0x80, 0x01};
  EXPECT_EQ(sim::xor8(wrap), 0x01);
  EXPECT_EQ(sim::sum8(wrap), 0x01);
  EXPECT_EQ(sim::xor8({}), 0x00);
}

TEST(SimFramer, LinesSplitAtTheTerminatorAndKeepTheRest) {
  sim::LineFramer f("\r\n");
  const auto frames = frames_of(f, to_bytes("ID?\r\nPOS 12\r\nPAR"));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].text(), "ID?");
  EXPECT_EQ(frames[0].raw, to_bytes("ID?\r\n"));
  EXPECT_EQ(frames[1].text(), "POS 12");
  EXPECT_TRUE(frames[1].intact);
  EXPECT_EQ(f.buffered(), 3u);
  // A terminator split across two reads still ends the line.
  EXPECT_TRUE(frames_of(f, to_bytes("T\r")).empty());
  const auto last = frames_of(f, to_bytes("\n"));
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].text(), "PART");
}

TEST(SimFramer, LineChecksumSitsBeforeTheTerminator) {
  sim::LineFramer f("\r", &sim::sum8);
  const auto wrapped = f.wrap(to_bytes("AB"));
  EXPECT_EQ(wrapped, (std::vector<uint8_t>{'A', 'B', 0x83, '\r'}));
  auto good = frames_of(f, wrapped);
  ASSERT_EQ(good.size(), 1u);
  EXPECT_TRUE(good[0].intact);
  EXPECT_EQ(good[0].text(), "AB");
  auto spoiled = wrapped;
  f.spoil_checksum(spoiled);
  auto bad = frames_of(f, spoiled);
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_FALSE(bad[0].intact);
}

TEST(SimFramer, LengthPrefixOneAndTwoBytes) {
  sim::LengthPrefixFramer one(1);
  EXPECT_EQ(one.wrap(to_bytes("xyz")), (std::vector<uint8_t>{3, 'x', 'y', 'z'}));
  // Byte by byte, as a slow line delivers it.
  std::vector<sim::Frame> got;
  for (uint8_t b : std::vector<uint8_t>{2, 'h', 'i', 0, 1, 'q'}) {
    auto part = frames_of(one, {b});
    got.insert(got.end(), part.begin(), part.end());
  }
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].text(), "hi");
  EXPECT_EQ(got[1].text(), "");
  EXPECT_EQ(got[2].text(), "q");

  sim::LengthPrefixFramer two(2, &sim::xor8);
  std::vector<uint8_t> payload(300, 0x5A);
  const auto wrapped = two.wrap(payload);
  ASSERT_EQ(wrapped.size(), 303u);
  EXPECT_EQ(wrapped[0], 0x01);
  EXPECT_EQ(wrapped[1], 0x2C);
  EXPECT_EQ(wrapped.back(), 0x01 ^ 0x2C);  // 300 equal bytes cancel out
  const auto frames = frames_of(two, wrapped);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].intact);
  EXPECT_EQ(frames[0].payload, payload);
}

TEST(SimFramer, BlocksDropNoiseAndCheckTheChecksum) {
  sim::BlockFramer f(0x02, 0x03, &sim::xor8);
  const auto wrapped = f.wrap(to_bytes("R1"));
  EXPECT_EQ(wrapped, (std::vector<uint8_t>{0x02, 'R', '1', 0x03, 'R' ^ '1' ^ 0x03}));
  std::vector<uint8_t> line{0xFF, 0x00, 'x'};
  line.insert(line.end(), wrapped.begin(), wrapped.end());
  auto spoiled = wrapped;
  f.spoil_checksum(spoiled);
  line.insert(line.end(), spoiled.begin(), spoiled.end());
  const auto frames = frames_of(f, line);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[0].intact);
  EXPECT_EQ(frames[0].text(), "R1");
  EXPECT_EQ(frames[0].raw, wrapped);
  EXPECT_FALSE(frames[1].intact);
  EXPECT_EQ(f.buffered(), 0u);
  // The checksum byte after the end byte is needed before the block counts.
  EXPECT_TRUE(frames_of(f, {0x02, 'A', 0x03}).empty());
  EXPECT_EQ(frames_of(f, {'A' ^ 0x03}).size(), 1u);
}

TEST(SimFramer, RawTakesWhateverCameAsOneRequest) {
  sim::RawFramer f;
  const std::vector<uint8_t> bytes{0x00, '\r', 0xFF, 0x02, 0x03};
  const auto frames = frames_of(f, bytes);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].raw, bytes);
  EXPECT_EQ(frames[0].payload, bytes);
  EXPECT_TRUE(frames[0].intact);
  EXPECT_EQ(f.buffered(), 0u);
  EXPECT_TRUE(frames_of(f, {}).empty());
  EXPECT_EQ(f.wrap(bytes), bytes);
  auto spoiled = f.wrap(bytes);
  f.spoil_checksum(spoiled);
  EXPECT_EQ(spoiled.back(), 0x02);
}

// ---- a device on the in-memory link, driven through the serial layer on
// virtual time

class SimMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sio_open_with(backend, "COM7", &port), 0);
    h = port.handle;
    // Reads end 100 ms after the last byte or after 2 s in all.
    ASSERT_EQ(sio_init(h, nullptr, 1), 0);
  }
  void TearDown() override {
    if (port.handle != SIO_INVALID_HANDLE) sio_close(&port);
  }

  int send(const std::vector<uint8_t>& bytes) {
    uint32_t written = 0;
    return sio_send_data(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
  }
  int send(const std::string& text) { return send(to_bytes(text)); }
  // Reads `count` bytes; `ok` tells whether all came in time.
  std::vector<uint8_t> read(std::size_t count, bool* ok = nullptr) {
    std::vector<uint8_t> buf(count);
    uint32_t got = 0;
    const int r = sio_read_data(h, buf.data(), static_cast<uint32_t>(count), &got);
    if (ok != nullptr) *ok = r == 0;
    buf.resize(got);
    return buf;
  }
  std::string read_text(std::size_t count, bool* ok = nullptr) {
    const auto b = read(count, ok);
    return {b.begin(), b.end()};
  }
  std::vector<uint8_t> ask(const std::string& request, std::size_t answer_size) {
    EXPECT_EQ(send(request), 0);
    EXPECT_EQ(runner.step(), 1);
    return read(answer_size);
  }

  VirtualClock clock;
  LogCapture log;
  sim::MemorySerial backend;
  sim::MemorySerialPort& peer = backend.add_port("COM7");
  sim::MemoryTransport line{peer, "COM7"};
  sim::LineFramer framing{"\r"};
  sim::Script script;
  sim::EchoDevice model{framing};
  sim::Runner runner{line, framing, script, model};
  sio_port_t port;
  sio_handle_t h = SIO_INVALID_HANDLE;
};

TEST_F(SimMemory, ModelAnswersEachRequest) {
  EXPECT_EQ(line.device(), "COM7");
  ASSERT_EQ(send("HELLO\r"), 0);
  EXPECT_EQ(runner.step(), 1);
  bool ok = false;
  EXPECT_EQ(read_text(9, &ok), "ACKHELLO\r");
  EXPECT_TRUE(ok);
  ASSERT_EQ(send("COUNT?\r"), 0);
  EXPECT_EQ(runner.step(), 1);
  EXPECT_EQ(read_text(2), "2\r");
  EXPECT_EQ(runner.requests(), 2);
}

TEST_F(SimMemory, ARequestSplitAcrossWritesIsAnsweredOnce) {
  ASSERT_EQ(send("AB"), 0);
  EXPECT_EQ(runner.step(), 0);
  ASSERT_EQ(send("C\rD\r"), 0);
  EXPECT_EQ(runner.step(), 2);
  EXPECT_EQ(read_text(12), "ACKABC\rACKD\r");
  EXPECT_EQ(model.requests(), 2);
}

TEST_F(SimMemory, NothingAnsweredMeansTheReadTimesOutOnVirtualTime) {
  const int64_t start = clock.elapsed_ms();
  bool ok = true;
  EXPECT_TRUE(read(4, &ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_EQ(clock.elapsed_ms() - start, 2000);
}

TEST_F(SimMemory, ExpectationsAreCheckedInOrder) {
  script.add(sim::Turn{}.expect("ID?\r"));
  script.add(sim::Turn{}.expect("POS?\r"));
  EXPECT_EQ(read_text(7, nullptr).size(), 0u);
  ask("ID?\r", 7);
  ask("VEL?\r", 8);
  EXPECT_TRUE(script.done());
  const auto m = script.mismatches();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0], "request 2: expected \"POS?<0D>\", got \"VEL?<0D>\"");
  // The model still answered both.
  EXPECT_EQ(model.requests(), 2);
}

TEST_F(SimMemory, DelayedReplyArrivesExactlyWhenDue) {
  script.add(sim::Turn{}.after(5000));
  ASSERT_EQ(send("SLOW\r"), 0);
  ASSERT_EQ(runner.step(), 1);
  const int64_t sent = clock.elapsed_ms();
  bool ok = true;
  EXPECT_TRUE(read(8, &ok).empty());  // gives up after the 2 s total
  EXPECT_FALSE(ok);
  EXPECT_EQ(clock.elapsed_ms() - sent, 2000);
  ASSERT_EQ(sio_set_read_timeout(h, 10), 0);
  EXPECT_EQ(read_text(8, &ok), "ACKSLOW\r");
  EXPECT_TRUE(ok);
  EXPECT_EQ(clock.elapsed_ms() - sent, 5000);
}

TEST_F(SimMemory, NakTimesThenTheModel) {
  const std::vector<uint8_t> nak{sim::EchoDevice::kNak};
  script.nak(2, nak);
  EXPECT_EQ(ask("GO\r", 1), nak);
  EXPECT_EQ(ask("GO\r", 1), nak);
  EXPECT_EQ(ask("GO\r", 5), to_bytes("ACKGO"));
  EXPECT_EQ(read_text(1), "\r");
  EXPECT_EQ(model.requests(), 1);
  EXPECT_TRUE(script.mismatches().empty());
}

TEST_F(SimMemory, PartialReplyThenSilence) {
  script.add(sim::Turn{}.partial(3));
  ASSERT_EQ(send("DATA\r"), 0);
  ASSERT_EQ(runner.step(), 1);
  const int64_t sent = clock.elapsed_ms();
  bool ok = true;
  EXPECT_EQ(read_text(8, &ok), "ACK");
  EXPECT_FALSE(ok);
  // The read ended on the interval after the last byte, not the total.
  EXPECT_EQ(clock.elapsed_ms() - sent, 100);
  // The cut answer still counted with the instrument.
  EXPECT_EQ(ask("COUNT?\r", 2), to_bytes("2\r"));
}

TEST_F(SimMemory, SilenceAnswersNothing) {
  script.add(sim::Turn{}.silence());
  ASSERT_EQ(send("X\r"), 0);
  ASSERT_EQ(runner.step(), 1);
  bool ok = true;
  EXPECT_TRUE(read(4, &ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_EQ(ask("Y\r", 5), to_bytes("ACKY\r"));
}

TEST_F(SimMemory, GarbageAheadOfTheAnswer) {
  const std::vector<uint8_t> junk{0xFF, 0x00, 0x80};
  script.add(sim::Turn{}.noise(junk));
  const auto got = ask("Q\r", 8);
  EXPECT_EQ(got, (std::vector<uint8_t>{0xFF, 0x00, 0x80, 'A', 'C', 'K', 'Q', '\r'}));
}

TEST_F(SimMemory, UnsolicitedReportsGoOutInTheirPlace) {
  script.unsolicited("BOOT\r");
  script.add(sim::Turn{});
  script.unsolicited("EVENT\r");
  EXPECT_EQ(runner.step(), 0);
  EXPECT_EQ(read_text(5), "BOOT\r");
  EXPECT_EQ(peer.pending_input(), 0u);  // EVENT waits for the turn ahead of it
  EXPECT_EQ(ask("A\r", 11), to_bytes("ACKA\rEVENT\r"));
  EXPECT_TRUE(script.done());
}

TEST_F(SimMemory, DisconnectOnARequestKillsTheLine) {
  script.add(sim::Turn{}.expect("OFF\r").disconnect());
  ASSERT_EQ(send("OFF\r"), 0);
  EXPECT_EQ(runner.step(), 1);
  EXPECT_FALSE(line.connected());
  bool ok = true;
  EXPECT_TRUE(read(1, &ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_EQ(send("ON\r"), 1);
  EXPECT_EQ(runner.step(), 0);
  EXPECT_FALSE(line.send(to_bytes("late")));
  EXPECT_TRUE(script.mismatches().empty());
}

TEST_F(SimMemory, DisconnectUnaskedAfterEarlierTurns) {
  script.add(sim::Turn{});
  script.disconnect();
  EXPECT_EQ(runner.step(), 0);
  EXPECT_TRUE(line.connected());  // the turn ahead of it is still open
  ASSERT_EQ(send("A\r"), 0);
  EXPECT_EQ(runner.step(), 1);
  EXPECT_EQ(model.requests(), 1);
  EXPECT_FALSE(line.connected());
  // A vanished adapter takes unread input with it.
  bool ok = true;
  EXPECT_TRUE(read(1, &ok).empty());
  EXPECT_FALSE(ok);
}

TEST_F(SimMemory, RequestsPastTheScriptGoToTheModel) {
  script.add(sim::Turn{}.expect("A\r"));
  ask("A\r", 5);
  EXPECT_TRUE(script.done());
  EXPECT_EQ(ask("B\r", 5), to_bytes("ACKB\r"));
  EXPECT_TRUE(script.mismatches().empty());
}

// Devices with checksummed framing.
class SimMemoryBlock : public SimMemory {
 protected:
  sim::BlockFramer block{0x02, 0x03, &sim::xor8};
  sim::EchoDevice block_model{block};
  sim::Runner block_runner{line, block, script, block_model};
};

TEST_F(SimMemoryBlock, CorruptedChecksumOnceThenClean) {
  script.add(sim::Turn{}.corrupt_checksum());
  sim::BlockFramer host{0x02, 0x03, &sim::xor8};
  for (bool expect_intact : {false, true}) {
    ASSERT_EQ(send(block.wrap(to_bytes("M"))), 0);
    ASSERT_EQ(block_runner.step(), 1);
    const auto frames = frames_of(host, read(7));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].text(), "ACKM");
    EXPECT_EQ(frames[0].intact, expect_intact);
  }
}

TEST_F(SimMemoryBlock, DamagedRequestIsRefusedByTheModel) {
  auto request = block.wrap(to_bytes("M"));
  block.spoil_checksum(request);
  ASSERT_EQ(send(request), 0);
  ASSERT_EQ(block_runner.step(), 1);
  EXPECT_EQ(read(1), (std::vector<uint8_t>{sim::EchoDevice::kNak}));
  EXPECT_EQ(block_model.requests(), 0);
}

TEST_F(SimMemory, EveryByteValueCrossesALengthPrefixedDevice) {
  sim::LengthPrefixFramer framed(2, &sim::sum8);
  sim::EchoDevice binary(framed);
  sim::Runner r(line, framed, script, binary);
  std::vector<uint8_t> payload(256);
  std::iota(payload.begin(), payload.end(), uint8_t{0});
  ASSERT_EQ(send(framed.wrap(payload)), 0);
  ASSERT_EQ(r.step(), 1);
  bool ok = false;
  const auto answer = read(2 + 3 + 256 + 1, &ok);
  ASSERT_TRUE(ok);
  sim::LengthPrefixFramer host(2, &sim::sum8);
  const auto frames = frames_of(host, answer);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].intact);
  std::vector<uint8_t> expected = to_bytes("ACK");
  expected.insert(expected.end(), payload.begin(), payload.end());
  EXPECT_EQ(frames[0].payload, expected);
}

TEST_F(SimMemory, LoopbackSendsEveryByteStraightBack) {
  sim::RawFramer raw;
  sim::LoopbackDevice plug;
  sim::Runner r(line, raw, script, plug);
  std::vector<uint8_t> bytes(256);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  ASSERT_EQ(send(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100)), 0);
  ASSERT_EQ(send(std::vector<uint8_t>(bytes.begin() + 100, bytes.end())), 0);
  EXPECT_EQ(r.step(), 1);
  bool ok = false;
  EXPECT_EQ(read(256, &ok), bytes);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.step(), 0);
}

#ifndef _WIN32

// ---- a device on a pseudo-terminal, on its own thread, through the
// operating system's serial back end. Real time: the waits are only failure
// bounds.

class SimPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(line.ok());
    open();
  }
  void TearDown() override {
    if (port.handle != SIO_INVALID_HANDLE) {
      EXPECT_EQ(sio_close(&port), 0);
    }
  }
  void open() {
    ASSERT_EQ(sio_open_with(plat::native_serial_backend(), line.device().c_str(), &port), 0);
    ASSERT_EQ(sio_init_xonxoff(port.handle, nullptr), 0);
    ASSERT_EQ(sio_set_read_timeout(port.handle, 20), 0);
  }
  std::string ask(const std::string& request, std::size_t answer_size) {
    uint32_t n = 0;
    EXPECT_EQ(sio_send_data(port.handle, request.data(), static_cast<uint32_t>(request.size()), &n),
              0);
    std::string buf(answer_size, '\0');
    EXPECT_EQ(sio_read_data(port.handle, buf.data(), static_cast<uint32_t>(answer_size), &n), 0);
    buf.resize(n);
    return buf;
  }

  LogCapture log;
  sim::PtyTransport line;
  sim::LineFramer framing{"\r"};
  sim::Script script;
  sim::EchoDevice model{framing};
  sim::Runner runner{line, framing, script, model};
  sio_port_t port;
};

TEST_F(SimPty, RoundTripThroughTheTerminal) {
  sim::BackgroundRunner running(runner);
  EXPECT_EQ(ask("PING\r", 8), "ACKPING\r");
  EXPECT_EQ(ask("COUNT?\r", 2), "2\r");
}

TEST_F(SimPty, ScriptAppliesOnTheTerminalToo) {
  script.add(sim::Turn{}.expect("A\r").after(30));
  script.unsolicited("NOTE\r");
  sim::BackgroundRunner running(runner);
  EXPECT_EQ(ask("A\r", 10), "ACKA\rNOTE\r");
  EXPECT_TRUE(script.mismatches().empty());
}

TEST_F(SimPty, DeviceOutlivesTheLibraryClosingIt) {
  sim::BackgroundRunner running(runner);
  EXPECT_EQ(ask("ONE\r", 7), "ACKONE\r");
  ASSERT_EQ(sio_close(&port), 0);
  open();
  EXPECT_EQ(ask("TWO\r", 7), "ACKTWO\r");
}

#endif

}  // namespace
