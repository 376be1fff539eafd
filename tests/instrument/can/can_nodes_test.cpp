// Node object access against a fake bridge library that keeps a small
// object dictionary per node, transcribed by hand from the node
// descriptions: each operation must reach its node, index, sub-index and
// width with the right bytes, refuse without a transfer where it must, and
// report refusals and library failures exactly.
#include "instrument/can/can_nodes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "instrument/can/can_api.h"
#include "instrument/can/can_api_internal.h"
#include "instrument/can/can_state.h"
#include "instrument/ramps/ramp_file.h"
#include "sim/can/can_sim.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_clock.h"

namespace {

using felbrin::test::LogCapture;
using felbrin::test::VirtualClock;
using Bytes = std::vector<uint8_t>;
using Key = std::tuple<uint8_t, uint16_t, uint8_t>;

struct Call {
  char dir;  // 'R' or 'W'
  uint8_t node;
  uint16_t index;
  uint8_t sub;
  Bytes bytes;  // written, or the width's worth read
  bool operator==(const Call&) const = default;
};

// The fake library: a dictionary per node, scripted read answers, injected
// statuses and aborts, and a record of every transfer.
struct Fake {
  std::map<Key, Bytes> dict;
  std::map<Key, std::deque<Bytes>> script;  // successive read answers
  std::vector<Call> calls;
  int32_t next_status = CAN_OK;
  uint32_t next_abort = 0;  // non-zero: the next transfer is aborted
};
Fake g;

int32_t answer(can_transfer_result_t* r) {
  r->byte_count = 0;
  r->status = CAN_OK;
  r->abort_code = 0;
  if (g.next_status != CAN_OK) {
    const int32_t s = g.next_status;
    g.next_status = CAN_OK;
    return s;
  }
  if (g.next_abort != 0) {
    r->status = 0;
    r->abort_code = std::exchange(g.next_abort, 0u);
  }
  return CAN_OK;
}

int32_t fake_read(uint8_t node, uint16_t index, uint8_t sub, uint8_t* data, uint32_t n,
                  can_transfer_result_t* r) {
  const Key key{node, index, sub};
  Bytes value;
  if (auto s = g.script.find(key); s != g.script.end() && !s->second.empty()) {
    value = s->second.front();
    if (s->second.size() > 1) s->second.pop_front();
  } else if (auto d = g.dict.find(key); d != g.dict.end()) {
    value = d->second;
  }
  g.calls.push_back({'R', node, index, sub, Bytes(n, 0)});
  const int32_t status = answer(r);
  if (status != CAN_OK || r->status != CAN_OK) return status;
  if (value.empty()) {
    r->status = 0;
    r->abort_code = 0x06020000;  // no such object
  } else if (value.size() != n) {
    r->status = 0;
    r->abort_code = 0x06070010;  // length mismatch
  } else {
    std::copy(value.begin(), value.end(), data);
    g.calls.back().bytes = value;
  }
  return status;
}

int32_t fake_write(uint8_t node, uint16_t index, uint8_t sub, const uint8_t* data, uint32_t n,
                   can_transfer_result_t* r) {
  g.calls.push_back({'W', node, index, sub, Bytes(data, data + n)});
  const int32_t status = answer(r);
  if (status == CAN_OK && r->status == CAN_OK) g.dict[{node, index, sub}] = Bytes(data, data + n);
  return status;
}

// Hand transcription of the readable objects, with values to decode.
void fill_dictionary() {
  g.dict = {
      {{127, 0x2000, 0}, {0x00}},       {{127, 0x2006, 1}, {0x01}},
      {{127, 0x2010, 1}, {0x5A}},       {{127, 0x2010, 2}, {0x34, 0x12}},
      {{127, 0x6200, 1}, {0xA5}},       {{127, 0x2040, 0}, {0x01, 0x00}},
      {{127, 0x2041, 11}, {0x00, 0x00}}, {{127, 0x2041, 2}, {0x00, 0x00, 0xC0, 0x3F}},
      {{127, 0x2041, 3}, {0x00, 0x00, 0x20, 0x41}}, {{127, 0x2041, 20}, {0x07, 0x00}},
      {{61, 0x2001, 0}, {0x00, 0x01}},  {{63, 0x2001, 0}, {0x81}},
      {{63, 0x2002, 0}, {0x03}},        {{63, 0x2012, 0}, {0x02}},
      {{63, 0x2015, 0}, {1, 2, 15, 4, 5, 6}}, {{63, 0x2020, 1}, {0xFF, 0x0D}},
      {{61, 0x1018, 2}, {0xD7, 0x15, 0x72, 0x26}}, {{70, 0x1018, 3}, {0x05, 0x00, 0x02, 0x00}},
      {{62, 0x2001, 0}, {0x11}},        {{52, 0x2001, 0}, {0x22}},
  };
  for (uint8_t node : {uint8_t{64}, uint8_t{66}, uint8_t{68}, uint8_t{70}}) {
    g.dict[{node, 0x2000, 0}] = {0x01};
    g.dict[{node, 0x2021, 0}] = {0x42};
    g.dict[{node, 0x2028, 0}] = {0xFF, 0xFE};
    g.dict[{node, 0x2036, 0}] = {0xE8, 0x03};
    g.dict[{node, 0x2044, 8}] = {0x02};
    g.dict[{node, 0x2047, 0}] = {0x01};
  }
}

can_api_t fake_table() {
  can_api_t t{};
  t.sdo_read = &fake_read;
  t.sdo_write = &fake_write;
  return t;
}
const can_api_t kFakeTable = fake_table();

class CanNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    g = Fake{};
    fill_dictionary();
    can_api_install(&kFakeTable);
    felbrin::can::reset_decoder_state();
    s = std::make_unique<sysInfo_t>();
    s->instrBdType = BD_CAN;
    s->canInfo = felbrin::make_hooked<can_info_t>();
    s->canInfo->fwMajor = 11;
    s->canInfo->fwMinor = 0;
    s->can.rsDdPresent = s->can.zoomDdPresent = s->can.focusNdwPresent = 1;
    s->turret = 1;
    s->zoom = 2;
  }
  void TearDown() override {
    felbrin::can::forget_binding();
    felbrin::can::set_activity_fn(nullptr);
    felbrin::can::set_ndw_stopped_fn(nullptr);
    felbrin::can::agc_running() = false;
  }
  void pi_scanner(int32_t type) {
    s->pifoc = felbrin::make_hooked<sb_pifoc_t>();
    s->pifoc->type = type;
  }
  std::unique_ptr<sysInfo_t> s;
  LogCapture log;
};

struct EntryCase {
  const char* name;
  std::function<int(sysInfo_t*, int64_t*)> op;  // reads hand back their value
  Call call;
  int64_t value;  // decoded read value; unused for writes
};

// One row per object operation, with the transfer the node descriptions
// give for it.
std::vector<EntryCase> entry_cases() {
  auto out = [](int64_t* o, auto v) { *o = static_cast<int64_t>(v); };
  return {
      {"ramp_start", [](sysInfo_t* i, int64_t*) { return can_ramp_start(i); }, {'W', 127, 0x2000, 0, {1}}, 0},
      {"ramp_status", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_ramp_status(i, &v); out(o, v); return e; }, {'R', 127, 0x2000, 0, {0}}, 0},
      {"ramp_select", [](sysInfo_t* i, int64_t*) { return can_write_ramp_select(i, 3); }, {'W', 127, 0x2001, 0, {3}}, 0},
      {"ramp_valid", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_ramp_valid(i, 3, &v); out(o, v); return e; }, {'R', 127, 0x2006, 1, {1}}, 1},
      {"ramp_rate", [](sysInfo_t* i, int64_t*) { return can_write_ramp_rate(i, 1, 200); }, {'W', 127, 0x2004, 4, {0x00, 0x50, 0x43, 0x48}}, 0},
      {"pifoc_offset", [](sysInfo_t* i, int64_t*) { return can_write_pifoc_offset(i, 0xFFFF, 0); }, {'W', 127, 0x2009, 1, {0xFF, 0xFF}}, 0},
      {"bridge_status", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_bridge_status(i, &v); out(o, v); return e; }, {'R', 127, 0x2010, 1, {0x5A}}, 0x5A},
      {"read_config", [&](sysInfo_t* i, int64_t* o) { uint16_t v; int e = can_bridge_read_config(i, &v); out(o, v); return e; }, {'R', 127, 0x2010, 2, {0x34, 0x12}}, 0x1234},
      {"write_config", [](sysInfo_t* i, int64_t*) { return can_bridge_write_config(i, 0xBEEF); }, {'W', 127, 0x2010, 2, {0xEF, 0xBE}}, 0},
      {"fg_trigger", [](sysInfo_t* i, int64_t*) { return can_write_fg_trigger(i, 0x0102); }, {'W', 127, 0x2010, 5, {0x02, 0x01}}, 0},
      {"syncgen", [](sysInfo_t* i, int64_t*) { return can_write_syncgen(i, 1.5); }, {'W', 127, 0x2030, 0, {0x00, 0x00, 0xC0, 0x3F}}, 0},
      {"digitalout_w", [](sysInfo_t* i, int64_t*) { return can_bridge_write_digitalout(i, 0x81); }, {'W', 127, 0x6200, 1, {0x81}}, 0},
      {"digitalout_r", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_bridge_read_digitalout(i, &v); out(o, v); return e; }, {'R', 127, 0x6200, 1, {0xA5}}, 0xA5},
      {"led_setup", [](sysInfo_t* i, int64_t*) { return can_write_led_setup(i, 7); }, {'W', 61, 0x2000, 0, {7}}, 0},
      {"llc_inverted", [](sysInfo_t* i, int64_t*) { return can_write_llc(i, 0x0100, 1); }, {'W', 61, 0x2001, 0, {0xFF, 0xFE}}, 0},
      {"llc_read", [&](sysInfo_t* i, int64_t* o) { uint16_t v; int e = can_read_llc(i, &v, 0); out(o, v); return e; }, {'R', 61, 0x2001, 0, {0x00, 0x01}}, 0x0100},
      {"avgcurlmt", [](sysInfo_t* i, int64_t*) { return can_write_llc_avgcurlmt(i, 1000); }, {'W', 61, 0x2002, 0, {0xE8, 0x03}}, 0},
      {"fwdvlt", [](sysInfo_t* i, int64_t*) { return can_write_llc_fwdvlt(i, 10000); }, {'W', 61, 0x2004, 0, {0x10, 0x27}}, 0},
      {"pwmfreq", [](sysInfo_t* i, int64_t*) { return can_write_llc_pwmfreq(i, 1000000); }, {'W', 61, 0x2006, 0, {0x40, 0x42, 0x0F, 0x00}}, 0},
      {"turret_status", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_turret_status(i, &v); out(o, v); return e; }, {'R', 63, 0x2001, 0, {0x81}}, 0x81},
      {"turret", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_turret(i, &v); out(o, v); return e; }, {'R', 63, 0x2002, 0, {3}}, 3},
      {"zoom", [&](sysInfo_t* i, int64_t* o) { int32_t v; int e = can_read_zoom(i, &v); out(o, v); return e; }, {'R', 63, 0x2012, 0, {2}}, 2},
      {"brmtr_config", [&](sysInfo_t* i, int64_t* o) { int e = can_get_brmtr_config(i); out(o, i->can.zoomPositions * 10 + i->can.turretPositions); return e; }, {'R', 63, 0x2020, 1, {0xFF, 0x0D}}, 75},
      {"productID", [&](sysInfo_t* i, int64_t* o) { uint32_t v; int e = can_read_productID(i, 61, &v); out(o, v); return e; }, {'R', 61, 0x1018, 2, {0xD7, 0x15, 0x72, 0x26}}, 0x267215D7},
      {"version", [&](sysInfo_t* i, int64_t* o) { uint16_t a, b; int e = can_read_version(i, 70, &a, &b); out(o, a * 1000 + b); return e; }, {'R', 70, 0x1018, 3, {0x05, 0x00, 0x02, 0x00}}, 2005},
      {"m1_control_r", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_dmd_motor1_control(i, 66, &v); out(o, v); return e; }, {'R', 66, 0x2000, 0, {1}}, 1},
      {"m1_control_w", [](sysInfo_t* i, int64_t*) { return can_write_dmd_motor1_control(i, 66, 0); }, {'W', 66, 0x2000, 0, {0}}, 0},
      {"m1_mode", [](sysInfo_t* i, int64_t*) { return can_write_dmd_motor1_mode(i, 66, 4); }, {'W', 66, 0x2002, 0, {4}}, 0},
      {"m1_targetVel", [](sysInfo_t* i, int64_t*) { return can_write_dmd_motor1_targetVel(i, 66, 10); }, {'W', 66, 0x2004, 0, {0x00, 0x00, 0x20, 0x41}}, 0},
      {"m2_control", [](sysInfo_t* i, int64_t*) { return can_write_dmd_motor2_control(i, 66, 3); }, {'W', 66, 0x2020, 0, {3}}, 0},
      {"m2_status", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_dmd_motor2_status(i, 66, &v); out(o, v); return e; }, {'R', 66, 0x2021, 0, {0x42}}, 0x42},
      {"m2_llc_r_inverted", [&](sysInfo_t* i, int64_t* o) { uint16_t v; int e = can_read_dmd_motor2_llcLevel(i, 66, &v, 1); out(o, v); return e; }, {'R', 66, 0x2028, 0, {0xFF, 0xFE}}, 0x0100},
      {"m2_llc_w", [](sysInfo_t* i, int64_t*) { return can_write_dmd_motor2_llcLevel(i, 66, 0x1234, 0); }, {'W', 66, 0x2028, 0, {0x34, 0x12}}, 0},
      {"m2_maxCurrent", [&](sysInfo_t* i, int64_t* o) { int16_t v; int e = can_read_dmd_motor2_maxCurrent(i, 66, &v); out(o, v); return e; }, {'R', 66, 0x2036, 0, {0xE8, 0x03}}, 1000},
      {"keypress_r", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_dmd_keypress_mode(i, 66, &v); out(o, v); return e; }, {'R', 66, 0x2044, 8, {2}}, 2},
      {"keypress_w", [](sysInfo_t* i, int64_t*) { return can_write_dmd_keypress_mode(i, 66, 6); }, {'W', 66, 0x2044, 8, {6}}, 0},
      {"m2_position", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_dmd_motor2_position(i, 66, &v); out(o, v); return e; }, {'R', 66, 0x2047, 0, {1}}, 1},
      {"rs_dd_control", [](sysInfo_t* i, int64_t*) { return can_write_rs_dd_control(i, 1); }, {'W', 68, 0x2000, 0, {1}}, 0},
      {"rs_dd_mode", [](sysInfo_t* i, int64_t*) { return can_write_rs_dd_mode(i, 2); }, {'W', 68, 0x2002, 0, {2}}, 0},
      {"rs_status", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_rs_status(i, &v); out(o, v); return e; }, {'R', 68, 0x2021, 0, {0x42}}, 0x42},
      {"rs_position", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_rs_position(i, &v); out(o, v); return e; }, {'R', 68, 0x2047, 0, {1}}, 1},
      {"rs_keypress_w", [](sysInfo_t* i, int64_t*) { return can_write_rs_keypress_mode(i, 2); }, {'W', 68, 0x2044, 8, {2}}, 0},
      {"zoom_dd_control", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_zoom_dd_control(i, &v); out(o, v); return e; }, {'R', 70, 0x2000, 0, {1}}, 1},
      {"zoom_keypress_w", [](sysInfo_t* i, int64_t*) { return can_write_zoom_keypress_mode(i, 2); }, {'W', 70, 0x2044, 8, {2}}, 0},
      {"ndw_llc_r", [&](sysInfo_t* i, int64_t* o) { uint16_t v; int e = can_read_ndw_llcLevel(i, &v, 0); out(o, v); return e; }, {'R', 64, 0x2028, 0, {0xFF, 0xFE}}, 0xFEFF},
      {"ndw_control", [](sysInfo_t* i, int64_t*) { return can_write_ndw_control(i, 3); }, {'W', 64, 0x2020, 0, {3}}, 0},
      {"pzt_status", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_pzt_status(i, 62, &v); out(o, v); return e; }, {'R', 62, 0x2001, 0, {0x11}}, 0x11},
      {"laps_status", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_pzt_status(i, 52, &v); out(o, v); return e; }, {'R', 52, 0x2001, 0, {0x22}}, 0x22},
      {"focus_keypress_r", [&](sysInfo_t* i, int64_t* o) { uint8_t v; int e = can_read_focus_keypress_mode(i, &v); out(o, v); return e; }, {'R', 64, 0x2044, 8, {2}}, 2},
      {"enc_zoom_mode", [](sysInfo_t* i, int64_t*) { return can_write_enc_zoom_motion_mode(i, 3); }, {'W', 64, 0x2002, 0, {3}}, 0},
      {"enc_zoom_backlash", [](sysInfo_t* i, int64_t*) { return can_write_enc_zoom_backlash(i, -2); }, {'W', 64, 0x2019, 0, {0xFE, 0xFF, 0xFF, 0xFF}}, 0},
  };
}

TEST_F(CanNodes, EachOperationReachesItsObject) {
  for (const EntryCase& c : entry_cases()) {
    SCOPED_TRACE(c.name);
    g.calls.clear();
    fill_dictionary();
    int64_t value = 0;
    ASSERT_EQ(c.op(s.get(), &value), 0) << log.str();
    ASSERT_EQ(g.calls.size(), 1u);
    EXPECT_EQ(g.calls[0], c.call);
    if (c.call.dir == 'R') {
      EXPECT_EQ(value, c.value);
    }
  }
  EXPECT_EQ(log.str(), "");
}

// The simulated nodes keep their own object dictionaries, written from the
// node descriptions apart from the product's table: every operation must be
// accepted by the node that answers it there, so a slip in either table
// (index, sub-index, width or direction) fails here.
TEST_F(CanNodes, EveryOperationIsAcceptedByTheSimulatedNodes) {
  can_api_install(cansim::api());
  cansim::set_clock([] { return u_ticks_ms(); });
  std::size_t answered = 0;
  for (const char* family : {"fjord", "kite"}) {
    cansim::reset();
    cansim::set_clock([] { return u_ticks_ms(); });
    ASSERT_TRUE(cansim::preset((std::string(family) + ":00-1A-2B-3C-4D-5E").c_str()));
    ASSERT_EQ(cansim::api()->connect(192u | 168u << 8 | 100u << 16 | 10u << 24), CAN_OK);
    for (const EntryCase& c : entry_cases()) {
      if (cansim::value(c.call.node, 0x1018, 2).empty()) continue;  // not in this family
      SCOPED_TRACE(std::string(family) + " " + c.name);
      int64_t value = 0;
      log.clear();
      EXPECT_EQ(c.op(s.get(), &value), 0) << log.str();
      ++answered;
    }
  }
  // Every row has a node in one family or the other; the bridge's in both.
  EXPECT_EQ(answered, entry_cases().size() + 13);
  cansim::reset();
}

TEST_F(CanNodes, PiScannerObjects) {
  pi_scanner(2);
  float f = 0;
  EXPECT_EQ(can_read_pi_ramp_amplitude(s.get(), &f), 0);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(can_read_pi_ramp_velocity(s.get(), &f), 0);
  EXPECT_EQ(f, 10.0f);
  uint16_t tables = 0;
  EXPECT_EQ(can_read_pi_serial_integer(s.get(), &tables), 0);
  EXPECT_EQ(tables, 7);
  EXPECT_EQ(can_ramp_start(s.get()), 0);         // redirected to the PI start
  EXPECT_EQ(can_write_ramp_select(s.get(), 100), 0);  // model 2 takes 1..100
  EXPECT_EQ(can_write_ramp_select(s.get(), 101), ERR_PARAM_OUT_OF_RANGE);
  uint8_t status = 9;
  EXPECT_EQ(can_read_ramp_status(s.get(), &status), 0);  // 11.0: the old entry, word 0
  EXPECT_EQ(status, 0);
  s->canInfo->fwMajor = 6;
  s->canInfo->fwMinor = 6;
  EXPECT_EQ(can_read_pi_ramp_status(s.get(), &status), 0);  // 6.6: 0x2040, word 1
  EXPECT_EQ(status, 3);
  const std::vector<Call> want = {
      {'R', 127, 0x2041, 2, {0x00, 0x00, 0xC0, 0x3F}}, {'R', 127, 0x2041, 3, {0x00, 0x00, 0x20, 0x41}},
      {'R', 127, 0x2041, 20, {7, 0}}, {'W', 127, 0x2041, 6, {1}}, {'W', 127, 0x2041, 1, {100}},
      {'R', 127, 0x2041, 11, {0, 0}}, {'R', 127, 0x2040, 0, {1, 0}}};
  EXPECT_EQ(g.calls, want);
  pi_scanner(1);
  EXPECT_EQ(can_write_pi_ramp_select(s.get(), 16), ERR_PARAM_OUT_OF_RANGE);
  s->pifoc.reset();
  EXPECT_EQ(can_pi_ramp_start(s.get()), ERR_INVALID_PARAM);
  EXPECT_EQ(g.calls.size(), want.size());
}

TEST_F(CanNodes, AbortGivesTheNodesCodeAndLogsIt) {
  g.next_abort = 0x06090011;
  uint16_t level = 0;
  EXPECT_EQ(can_read_llc(s.get(), &level, 0), ERR_CAN_SDO_LED_ERROR);
  EXPECT_EQ(log.str(),
            "can_sdo_read2 called by can_read_llc: err=ERR_CAN_SDO_LED_ERROR, result=0, "
            "abortcode=06090011\n");
  g.next_abort = 0xABCDEF01;
  EXPECT_EQ(can_write_ndw_control(s.get(), 1), ERR_CAN_SDO_NDW_ERROR);
  EXPECT_NE(log.str().find("can_sdo_write2 called by can_write_dmd_motor2_control: "
                           "err=ERR_CAN_SDO_DMD_ERROR, result=0, abortcode=ABCDEF01\n"),
            std::string::npos);
  // Each node wrapper turns the generic code into its own.
  const std::pair<std::function<int()>, int> remapped[] = {
      {[&] { return can_write_rs_dd_control(s.get(), 1); }, ERR_CAN_SDO_ROF_ERROR},
      {[&] { return can_write_zoom_dd_mode(s.get(), 1); }, ERR_CAN_SDO_ZOOM_ERROR},
      {[&] { return can_write_focus_keypress_mode(s.get(), 1); }, ERR_CAN_SDO_FZM_ERROR},
      {[&] { uint32_t p; return can_read_productID(s.get(), 66, &p); }, ERR_CAN_ERROR},
      {[&] { uint8_t b; return can_read_bridge_status(s.get(), &b); }, ERR_CAN_SDO_BRIDGE_ERROR},
      {[&] { return can_ramp_start(s.get()); }, ERR_CAN_SDO_RAMP_ERROR},
      {[&] { uint8_t t; return can_read_turret(s.get(), &t); }, ERR_CAN_SDO_BRMOTOR_ERROR},
      {[&] { uint8_t t; return can_read_pzt_status(s.get(), 62, &t); }, ERR_CAN_SDO_PZT_ERROR},
      {[&] { uint8_t t; return can_read_pzt_status(s.get(), 52, &t); }, ERR_CAN_SDO_LAP_ERROR},
  };
  for (const auto& [op, code] : remapped) {
    g.next_abort = 1;
    EXPECT_EQ(op(), code);
  }
}

TEST_F(CanNodes, LibraryStatusesAreMappedAndLogged) {
  const std::pair<int32_t, int> cases[] = {
      {-1, ERR_CAN_ERROR},      {-2, ERR_CAN_NOT_CONNECTED},        {-3, ERR_CAN_TIMEOUT},
      {-4, ERR_CAN_TCP_TRANSMISSION_ERROR}, {-5, ERR_CAN_BUFFER_TOO_SMALL}, {-6, ERR_CAN_NO_PDO},
      {-7, ERR_UNKNOWN}};
  for (const auto& [status, code] : cases) {
    SCOPED_TRACE(status);
    LogCapture one;
    g.next_status = status;
    EXPECT_EQ(can_write_led_setup(s.get(), 1), code);
    EXPECT_EQ(one.str(), std::string("can_sdo_write2 called by can_write_led_setup: err=") +
                             err_name(code) + "\n");
  }
  // No library: the look-up is pointed at one that does not exist, since
  // the simulated library sits beside the test program.
  felbrin::can::forget_binding();
  EXPECT_EQ(felbrin::can::bind_library("felbrin_no_such_library"), ERR_CAN_NOT_AVAIL);
  LogCapture none;
  uint8_t v = 0;
  EXPECT_EQ(can_read_bridge_status(s.get(), &v), ERR_CAN_NOT_AVAIL);
  EXPECT_EQ(none.str(), "can_sdo_read2 called by can_read_bridge_status: err=ERR_CAN_NOT_AVAIL\n");
}

TEST_F(CanNodes, GuardsRefuseWithoutATransfer) {
  uint8_t v = 0;
  s->instrBdType = BD_DUNE;
  EXPECT_EQ(can_ramp_start(s.get()), ERR_WRONG_INSTR_BOARD);
  EXPECT_EQ(can_write_llc(s.get(), 1, 0), ERR_WRONG_INSTR_BOARD);
  EXPECT_EQ(can_read_dmd_motor2_status(s.get(), 66, &v), ERR_INVALID_PARAM);
  EXPECT_EQ(can_ramp_start(nullptr), ERR_SYS_INFO_NOT_AVAIL);
  EXPECT_EQ(can_read_rs_status(nullptr, &v), ERR_SYS_INFO_NOT_AVAIL);
  s->instrBdType = BD_CAN;
  s->turret = 0;
  EXPECT_EQ(can_read_turret(s.get(), &v), ERR_MOTORIZED_OR_ENCODED_TURRET_NOT_AVAILABLE);
  s->zoom = 0;
  int32_t pos = 0;
  EXPECT_EQ(can_read_zoom(s.get(), &pos), ERR_ZOOM_NOT_AVAILABLE);
  EXPECT_EQ(can_read_all_zoom(s.get()), ERR_ZOOM_NOT_AVAILABLE);
  EXPECT_EQ(log.str(), "");
  s->can = sb_can_state_t{};
  EXPECT_EQ(can_read_rs_dd_control(s.get(), &v), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(can_write_zoom_dd_targetVel(s.get(), 100), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(can_write_ndw_llcLevel(s.get(), 1, 0), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(can_read_focus_keypress_mode(s.get(), &v), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(can_home_ndw(s.get(), 1, 1000), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(log.str(),
            "can_read_rs_dd_control: CAN Ring-of-Fire and Diffuser Disk node is not available\n"
            "can_write_zoom_dd_targetVel: CAN Zoom and Diffuser Disk node is not available\n"
            "can_write_ndw_llcLevel: CAN Focus and ND Wheel node is not available\n"
            "can_read_focus_keypress_mode: CAN Focus and ND Wheel node is not available\n"
            "can_home_ndw: CAN Focus and ND Wheel node is not available\n");
  EXPECT_TRUE(g.calls.empty());
}

TEST_F(CanNodes, RangeBoundsAreInclusiveAndNanFails) {
  EXPECT_EQ(can_write_ramp_rate(s.get(), 0, 0.0), 0);
  EXPECT_EQ(can_write_ramp_rate(s.get(), 0, 200.0), 0);
  EXPECT_EQ(can_write_syncgen(s.get(), 100000.0), 0);
  EXPECT_EQ(can_write_dmd_motor1_targetVel(s.get(), 66, 10000.0), 0);
  const size_t written = g.calls.size();
  EXPECT_EQ(can_write_ramp_rate(s.get(), 0, -0.001), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_ramp_rate(s.get(), 0, 200.001), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_ramp_rate(s.get(), 0, NAN), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_syncgen(s.get(), NAN), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_syncgen(s.get(), -1), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_llc_avgcurlmt(s.get(), 1001), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_llc_fwdvlt(s.get(), 10001), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_llc_pwmfreq(s.get(), 1000001), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_ramp_select(s.get(), 4), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_ramp_select(s.get(), -1), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_pifoc_offset(s.get(), 0x10000, 0), ERR_PARAM_OUT_OF_RANGE);
  EXPECT_EQ(can_write_dmd_motor1_targetVel(s.get(), 66, 9.99), ERR_INVALID_PARAM);
  EXPECT_EQ(can_write_dmd_motor1_targetVel(s.get(), 66, NAN), ERR_INVALID_PARAM);
  // Ramps 0..3 only: ramp 13 would land on the bridge's own objects.
  rr_ramp_hdr_t hdr{};
  hdr.trigStartAddr = 100;
  hdr.cameraRate = hdr.sampleClkFreq = 1;
  const uint16_t point = 0;
  hdr.nPoints = 1;
  uint8_t v = 0;
  for (int32_t r : {-1, 4, 13}) {
    EXPECT_EQ(can_write_ramp_trigger(s.get(), r, &hdr), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(can_write_ramp_rate(s.get(), r, 1), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(can_read_ramp_valid(s.get(), r, &v), ERR_PARAM_OUT_OF_RANGE);
    EXPECT_EQ(can_write_ramp_data(s.get(), r, &hdr, &point), ERR_PARAM_OUT_OF_RANGE);
  }
  EXPECT_EQ(log.str(), "");
  EXPECT_EQ(can_write_dmd_motor1_mode(s.get(), 66, 5), ERR_INVALID_PARAM);
  EXPECT_EQ(log.str(), "can_write_dmd_motor1_mode: invalid mode=5\n");
  EXPECT_EQ(g.calls.size(), written);
}

TEST_F(CanNodes, FrameNumberIsRoundedAndChecked) {
  struct Case {
    int32_t n;
    float a, b;
    int sent;  // -1: refused, then the value in the message
    int shown;
  };
  const Case cases[] = {
      {100, 30, 1, 3, 0},     // 3.0 + 0.5
      {100, 35, 1, 4, 0},     // 3.5 + 0.5
      {2554, 100, 1, 255, 0}, // 255.4 + 0.5
      {2555, 100, 1, -1, 256},
      {-100, 30, 1, -1, -3},
      {100, 30, 0, -1, 2147483647},  // divides by zero
      {0, 30, 0, -1, 0},             // 0/0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    LogCapture one;
    g.calls.clear();
    rr_ramp_hdr_t hdr{};
    hdr.trigStartAddr = c.n;
    hdr.cameraRate = c.a;
    hdr.sampleClkFreq = c.b;
    const int err = can_write_ramp_trigger(s.get(), 2, &hdr);
    if (c.sent >= 0) {
      EXPECT_EQ(err, 0);
      ASSERT_EQ(g.calls.size(), 1u);
      EXPECT_EQ(g.calls[0], (Call{'W', 127, 0x2005, 2, {static_cast<uint8_t>(c.sent), 0}}));
    } else {
      EXPECT_EQ(err, ERR_PARAM_OUT_OF_RANGE);
      EXPECT_TRUE(g.calls.empty());
      EXPECT_EQ(one.str(), "can_write_ramp_trigger: calculated frameNumber=" +
                               std::to_string(c.shown) + " outside of valid range\n");
    }
  }
}

TEST_F(CanNodes, PifocOffsetWaitsForTheRampToBeIdle) {
  VirtualClock clock;
  s->pifoc = felbrin::make_hooked<sb_pifoc_t>();
  g.script[{127, 0x2000, 0}] = {{3}, {3}, {3}, {0}};
  EXPECT_EQ(can_write_pifoc_offset(s.get(), 0x0102, 1), 0);
  EXPECT_EQ(clock.elapsed_ms(), 300);
  EXPECT_EQ(g.calls.size(), 5u);
  EXPECT_GT(s->pifoc->offsetTime, 0.0);

  g.script[{127, 0x2000, 0}] = {{1}};
  g.calls.clear();
  EXPECT_EQ(can_write_pifoc_offset(s.get(), 0, 1), ERR_RAMP_WAIT_TIMEOUT);
  EXPECT_EQ(g.calls.size(), 21u);  // the write and 20 polls
  EXPECT_EQ(clock.elapsed_ms(), 300 + 1900);

  // Without a PIFOC the write still happens before the refusal.
  s->pifoc.reset();
  g.calls.clear();
  EXPECT_EQ(can_write_pifoc_offset(s.get(), 5, 1), ERR_WRONG_SYSTEM_TYPE);
  EXPECT_EQ(g.calls.size(), 1u);
  // A PI digital scanner takes no offset.
  pi_scanner(1);
  g.calls.clear();
  EXPECT_EQ(can_write_pifoc_offset(s.get(), 5, 1), 0);
  EXPECT_TRUE(g.calls.empty());
}

TEST_F(CanNodes, AlignDiodeFollowsTheFirmwareVersion) {
  struct Case {
    uint8_t major, minor;
    int on;
    std::vector<Call> calls;
  };
  const Case cases[] = {
      {0, 9, 1, {}},
      {10, 8, 1, {{'R', 127, 0x6200, 1, {0xA5}}, {'W', 127, 0x6200, 1, {0xA4}}}},
      {9, 20, 0, {{'R', 127, 0x6200, 1, {0xA4}}, {'W', 127, 0x6200, 1, {0xA5}}}},
      {10, 9, 1, {{'W', 127, 0x6240, 1, {1}}, {'W', 127, 0x6220, 1, {1}}}},
      {11, 0, 0, {{'W', 127, 0x6240, 1, {1}}, {'W', 127, 0x6220, 1, {0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.major} << "." << int{c.minor});
    g.calls.clear();
    s->canInfo->fwMajor = c.major;
    s->canInfo->fwMinor = c.minor;
    EXPECT_EQ(can_set_align_illumination_diode(s.get(), c.on), 0);
    EXPECT_EQ(g.calls, c.calls);
  }
}

TEST_F(CanNodes, ZoomIsDecodedByChangerAndProduct) {
  struct Case {
    int32_t type;
    uint32_t product;
    uint8_t raw;
    int code;
    int32_t position;
  };
  const Case cases[] = {
      {1, CAN_BRUSH_PRODUCT_ENCODED_ZOOM, 2, 0, 5},
      {1, CAN_BRUSH_PRODUCT_ENCODED_ZOOM, 7, 0, 7},
      {1, CAN_BRUSH_PRODUCT_ENCODED_ZOOM, 8, ERR_PARAM_OUT_OF_RANGE, 0},
      {1, CAN_BRUSH_PRODUCT_MOTOR_ZOOM, 3, 0, 3},
      {2, CAN_BRUSH_PRODUCT_MOTOR_ZOOM, 15, 0, -2},
      {2, CAN_BRUSH_PRODUCT_ENCODED_ZOOM, 15, 0, -2},
      {1, 0xFFFFFFFF, 6, 0, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.raw});
    s->zoom = c.type;
    s->canInfo->brushProductId = static_cast<int32_t>(c.product);
    g.dict[{63, 0x2012, 0}] = {c.raw};
    int32_t position = 99;
    EXPECT_EQ(can_read_zoom(s.get(), &position), c.code);
    EXPECT_EQ(position, c.position);
  }
  // The first encoded position read fills an unknown last zoom, only once.
  EXPECT_EQ(felbrin::can::last_zoom(), 5);
}

TEST_F(CanNodes, AllZoomFillsOnlyPositionsItHasBytesFor) {
  s->can.zoomPositions = 7;
  ASSERT_EQ(can_read_all_zoom(s.get()), 0);
  const int32_t want[7] = {1, 2, -2, 4, 5, 6, -2};
  EXPECT_TRUE(std::equal(want, want + 7, s->canInfo->zoomPos));
  s->can.zoomPositions = 2;
  g.next_abort = 0x06020000;
  EXPECT_EQ(can_read_all_zoom(s.get()), ERR_CAN_SDO_BRMOTOR_ERROR);
  EXPECT_EQ(s->canInfo->zoomPos[0], -2);
  s->zoom = 1;
  s->canInfo->brushProductId = static_cast<int32_t>(CAN_BRUSH_PRODUCT_ENCODED_ZOOM);
  EXPECT_EQ(can_read_all_zoom(s.get()), ERR_INVALID_PARAM);
}

TEST_F(CanNodes, LightRangeWritesThePairsItHas) {
  s->currentLightSource = 1;
  s->lightSource[1].pairs[0] = {500, 3000};
  s->lightSource[1].pairs[1] = {0, 2000};
  EXPECT_EQ(can_set_llc_range(s.get(), 0), 0);
  EXPECT_EQ(can_set_llc_range(s.get(), 1), 0);
  EXPECT_EQ(can_set_llc_range(s.get(), -1), 0);
  const std::vector<Call> want = {
      {'W', 61, 0x2002, 0, {0xF4, 0x01}}, {'W', 61, 0x2004, 0, {0xB8, 0x0B}},
      {'W', 61, 0x2004, 0, {0xD0, 0x07}}, {'W', 61, 0x2002, 0, {0xE8, 0x03}},
      {'W', 61, 0x2004, 0, {0x94, 0x11}}};
  EXPECT_EQ(g.calls, want);
  g.calls.clear();
  g.next_abort = 0x06010002;
  EXPECT_EQ(can_set_llc_range(s.get(), 0), ERR_CAN_SDO_LED_ERROR);
  EXPECT_EQ(g.calls.size(), 1u);  // no voltage after a failed limit
  EXPECT_NE(log.str().find("abortcode=06010002\ncan_set_llc_range failed: ERR_CAN_SDO_LED_ERROR\n"),
            std::string::npos);
}

TEST_F(CanNodes, HomeSearchThenMoveToTheInitialPosition) {
  VirtualClock clock;
  g.script[{64, 0x2021, 0}] = {{0x08}, {0x0A}, {0x02}, {0x00}};
  EXPECT_EQ(can_home_ndw(s.get(), 1, 10000), 0);
  EXPECT_EQ(clock.elapsed_ms(), 400);
  EXPECT_EQ(g.calls.front(), (Call{'W', 64, 0x2020, 0, {3}}));

  g.script[{64, 0x2021, 0}] = {{0x08}};
  EXPECT_EQ(can_home_ndw(s.get(), 1, 1000), ERR_CAN_NDW_HOME_ERROR);
  g.script[{64, 0x2021, 0}] = {{0x13}};
  EXPECT_EQ(can_home_ndw(s.get(), 1, 1000), ERR_CAN_NDW_HOME_ERROR);
  g.script[{64, 0x2021, 0}] = {{0x02}};
  EXPECT_EQ(can_home_ndw(s.get(), 1, 500), ERR_CAN_NDW_HOME_ERROR);
  EXPECT_EQ(log.str(),
            "can_home_ndw: timeout waiting for home search, time=1000 ms\n"
            "can_home_ndw: llcHomeStatus=16\n"
            "can_home_ndw: timeout waiting for move to initial position, time=500 ms\n");
  g.next_abort = 1;
  EXPECT_EQ(can_home_ndw(s.get(), 1, 500), ERR_CAN_SDO_NDW_ERROR);
}

std::vector<int> g_events;  // activity 1, stopped-set 2, stopped-reset 3
void on_activity() { g_events.push_back(1); }
void on_stopped(bool set) { g_events.push_back(set ? 2 : 3); }

TEST_F(CanNodes, LightLevelsCountAsActivityUnlessTheLightControlSetsThem) {
  g_events.clear();
  felbrin::can::set_activity_fn(&on_activity);
  felbrin::can::set_ndw_stopped_fn(&on_stopped);
  EXPECT_EQ(can_write_ndw_llcLevel(s.get(), 10, 1), 0);
  felbrin::can::agc_running() = true;
  EXPECT_EQ(can_write_ndw_llcLevel(s.get(), 10, 1), 0);
  g.next_abort = 1;
  EXPECT_EQ(can_write_ndw_llcLevel(s.get(), 10, 1), ERR_CAN_SDO_NDW_ERROR);
  EXPECT_EQ(g_events, (std::vector<int>{3, 1, 3, 3, 2}));
  EXPECT_EQ(g.calls.back(), (Call{'W', 64, 0x2028, 0, {0xF5, 0xFF}}));
}

TEST_F(CanNodes, CurrentNeedsTheLimitReadFirst) {
  EXPECT_EQ(can_write_rs_current(s.get(), -300), 0);
  const std::vector<Call> want = {{'R', 68, 0x2036, 0, {0xE8, 0x03}},
                                  {'W', 68, 0x2034, 0, {0xD4, 0xFE}}};
  EXPECT_EQ(g.calls, want);
  g.next_abort = 1;
  EXPECT_EQ(can_write_rs_current(s.get(), 1), ERR_CAN_SDO_ROF_ERROR);
  EXPECT_EQ(g.calls.size(), 3u);
  EXPECT_EQ(can_write_zoom_dd_targetVel(s.get(), 250), 0);
  EXPECT_EQ(s->can.zoomDdTargetVel, 250.0f);
}

TEST_F(CanNodes, WithoutABridgeRecordGatesAreClosedAndRecordReadersRefuse) {
  s->canInfo.reset();
  EXPECT_FALSE(can_bridge_has_config_word(s.get()));
  EXPECT_FALSE(can_bridge_has_pi_status(s.get()));
  EXPECT_FALSE(can_bridge_has_ramp_table(s.get()));
  int32_t pos = 0;
  EXPECT_EQ(can_set_align_illumination_diode(s.get(), 1), ERR_SYS_INFO_NOT_AVAIL);
  EXPECT_EQ(can_read_zoom(s.get(), &pos), ERR_SYS_INFO_NOT_AVAIL);
  EXPECT_EQ(can_read_all_zoom(s.get()), ERR_SYS_INFO_NOT_AVAIL);
  EXPECT_TRUE(g.calls.empty());
  EXPECT_EQ(can_write_fg_trigger(s.get(), 0x0102), 0);  // as version 0.0: the low byte only
  EXPECT_EQ(g.calls, (std::vector<Call>{{'W', 127, 0x2010, 5, {0x02}}}));
}

TEST_F(CanNodes, FirmwareGatesTestEachByteAlone) {
  const struct {
    uint8_t major, minor;
    bool config, pi, table;
  } cases[] = {{1, 11, false, false, false}, {1, 12, true, false, false},
               {7, 0, true, false, false},   {6, 6, true, true, false},
               {12, 5, true, false, true},   {7, 3, true, false, true}};
  for (const auto& c : cases) {
    s->canInfo->fwMajor = c.major;
    s->canInfo->fwMinor = c.minor;
    EXPECT_EQ(can_bridge_has_config_word(s.get()), c.config);
    EXPECT_EQ(can_bridge_has_pi_status(s.get()), c.pi);
    EXPECT_EQ(can_bridge_has_ramp_table(s.get()), c.table);
  }
}

TEST_F(CanNodes, RampDataIsAWholeZeroPaddedBlock) {
  rr_ramp_hdr_t hdr{};
  hdr.nPoints = 3;
  const uint16_t points[3] = {0x0102, 0xFFFF, 7};
  EXPECT_EQ(can_write_ramp_data(s.get(), 3, &hdr, points), 0);
  ASSERT_EQ(g.calls.size(), 1u);
  const Call& c = g.calls[0];
  EXPECT_EQ((std::tuple{c.dir, c.node, c.index, c.sub}), (std::tuple{'W', uint8_t{127}, uint16_t{0x2006}, uint8_t{5}}));
  Bytes want(32768, 0);
  const uint8_t head[6] = {0x02, 0x01, 0xFF, 0xFF, 0x07, 0x00};
  std::copy(head, head + 6, want.begin());
  EXPECT_EQ(c.bytes, want);
  EXPECT_EQ(log.str(), "");
  // A longer ramp sends what the node holds, and says so.
  hdr.nPoints = 16385;
  std::vector<uint16_t> many(16385, 0);
  many[16383] = 0xABCD;
  many[16384] = 0x1111;
  EXPECT_EQ(can_write_ramp_data(s.get(), 0, &hdr, many.data()), 0);
  ASSERT_EQ(g.calls.size(), 2u);
  EXPECT_EQ(Bytes(g.calls[1].bytes.end() - 2, g.calls[1].bytes.end()), (Bytes{0xCD, 0xAB}));
  EXPECT_EQ(g.calls[1].bytes.size(), 32768u);
  EXPECT_EQ(log.str(), "can_write_ramp_data: ramp of 16385 points, the node holds 16384\n");
  hdr.nPoints = 16384;  // as much as the node holds: nothing to say
  log.clear();
  EXPECT_EQ(can_write_ramp_data(s.get(), 0, &hdr, many.data()), 0);
  EXPECT_EQ(log.str(), "");
}

TEST_F(CanNodes, Pi751TablesAreLoadedThenCounted) {
  VirtualClock clock;
  pi_scanner(2);
  uint16_t tables = 0;
  EXPECT_EQ(can_pi_load_ddl_tables(s.get(), &tables), 0);
  EXPECT_EQ(tables, 7);
  EXPECT_EQ(clock.elapsed_ms(), 2000);
  const std::vector<Call> want = {{'W', 127, 0x2041, 19, {0}}, {'R', 127, 0x2041, 20, {7, 0}}};
  EXPECT_EQ(g.calls, want);
  pi_scanner(1);
  EXPECT_EQ(can_pi_load_ddl_tables(s.get(), &tables), ERR_INVALID_PARAM);
  uint8_t v = 0;
  EXPECT_EQ(can_read_pzt_status(s.get(), CAN_NODE_ID_LED, &v), ERR_INVALID_PARAM);
  EXPECT_EQ(g.calls.size(), 2u);
}

}  // namespace

namespace {

TEST_F(CanNodes, EncodedZoomLimitsGoLowThenHigh) {
  EXPECT_EQ(can_write_enc_zoom_soft_limits(s.get(), -100, 70000), 0);
  ASSERT_EQ(g.calls.size(), 2u);
  EXPECT_EQ(g.calls[0], (Call{'W', 64, 0x607D, 1, {0x9C, 0xFF, 0xFF, 0xFF}}));
  EXPECT_EQ(g.calls[1], (Call{'W', 64, 0x607D, 2, {0x70, 0x11, 0x01, 0x00}}));
  // A refused low limit leaves the high one unsent, with the zoom's error.
  g.calls.clear();
  g.next_abort = 0x06010002;
  EXPECT_EQ(can_write_enc_zoom_soft_limits(s.get(), 0, 1), ERR_CAN_SDO_ENC_ZOOM_ERROR);
  EXPECT_EQ(g.calls.size(), 1u);
}

}  // namespace
