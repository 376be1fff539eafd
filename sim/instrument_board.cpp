#include "sim/instrument_board.h"

#include <algorithm>
#include <span>

#include "common/hooks.h"

namespace sim {

enum class InstrumentBoard::Op : uint8_t {
  ack,  // accepted, nothing else happens
  llc_set,
  llc_read,
  ee_set,
  ee_read,
  version,
  ramp_load,
  ramp_data,
  ramp_complete,
  ramp_delete,
  ramp_idle,
  ramp_start,
  ramp_request,
  power_chk,
  read_io,
  write_io,
  update_rate,
  change_av,
  change_rs,
  av_moving,
  rs_moving,
};

struct InstrumentBoard::Entry {
  uint8_t code;
  Op op;
  uint8_t len;    // of the request
  uint8_t reply;  // LEN of the data reply; 0 for ACK
  int word = -1;  // EEPROM word of ee_set and ee_read
};

namespace {

using Op = InstrumentBoard::Op;
using E = InstrumentBoard;

// code, what it does, request LEN, reply LEN (0: ACK), EEPROM word.
const InstrumentBoard::Entry kUz1[] = {
    {1, Op::ack, 5, 0},
    {3, Op::ack, 8, 0},
    {5, Op::llc_set, 4, 0},
    {6, Op::llc_read, 2, 4},
    {9, Op::ramp_request, 2, 14},
    {10, Op::ee_set, 6, 0, E::ee_serial},
    {11, Op::ee_read, 2, 6, E::ee_serial},
    {12, Op::ee_set, 3, 0, E::ee_camera},
    {13, Op::ee_read, 2, 3, E::ee_camera},
    {14, Op::ee_set, 3, 0, E::ee_light},
    {15, Op::ee_read, 2, 3, E::ee_light},
    {16, Op::ee_set, 3, 0, E::ee_system},
    {17, Op::ee_read, 2, 3, E::ee_system},
    {18, Op::ee_set, 4, 0, E::ee_date},
    {19, Op::ee_read, 2, 4, E::ee_date},
    {20, Op::ee_set, 3, 0, E::ee_board},
    {21, Op::ee_read, 2, 3, E::ee_board},
    {28, Op::ack, 2, 0},
    {29, Op::read_io, 4, 5},
    {30, Op::write_io, 5, 0},
    {31, Op::version, 2, 3},
    {32, Op::ramp_load, 15, 0},
    {34, Op::ramp_data, 4, 3},
    {35, Op::ramp_complete, 2, 0},
    {36, Op::ack, 2, 0},
    {37, Op::ramp_delete, 3, 0},
    {38, Op::ramp_idle, 2, 3},
    {39, Op::ramp_start, 3, 0},
    {41, Op::power_chk, 2, 3},
    {53, Op::update_rate, 5, 3},
    {54, Op::ack, 10, 0},
};
const InstrumentBoard::Entry kUz2[] = {
    {1, Op::ack, 8, 0},
    {3, Op::llc_set, 3, 0},
    {4, Op::llc_read, 2, 3},
    {7, Op::ee_set, 6, 0, E::ee_serial},
    {8, Op::ee_read, 2, 6, E::ee_serial},
    {9, Op::ee_set, 3, 0, E::ee_camera},
    {10, Op::ee_read, 2, 3, E::ee_camera},
    {11, Op::ee_set, 3, 0, E::ee_light},
    {12, Op::ee_read, 2, 3, E::ee_light},
    {13, Op::ee_set, 3, 0, E::ee_system},
    {14, Op::ee_read, 2, 3, E::ee_system},
    {15, Op::ee_set, 4, 0, E::ee_date},
    {16, Op::ee_read, 2, 4, E::ee_date},
    {17, Op::ee_set, 3, 0, E::ee_board},
    {18, Op::ee_read, 2, 3, E::ee_board},
    {25, Op::ack, 2, 0},
    {26, Op::ramp_start, 3, 0},
    {27, Op::ramp_request, 2, 6},
    {44, Op::ack, 8, 0},
    {28, Op::version, 2, 3},
    {29, Op::ramp_load, 15, 0},
    {45, Op::ramp_data, 4, 3},
    {46, Op::ramp_complete, 2, 0},
    {47, Op::ramp_delete, 3, 0},
    {48, Op::ramp_idle, 2, 3},
    {49, Op::power_chk, 2, 3},
    {52, Op::read_io, 4, 5},
    {53, Op::write_io, 5, 0},
    {56, Op::ack, 4, 0},
    {58, Op::change_rs, 3, 0},
    {59, Op::change_av, 3, 0},
    {61, Op::av_moving, 2, 3},
    {62, Op::rs_moving, 2, 3},
};
const InstrumentBoard::Entry kIris[] = {
    {1, Op::ack, 4, 0},
    {3, Op::llc_set, 3, 0},
    {4, Op::llc_read, 2, 3},
    {5, Op::ee_set, 6, 0, E::ee_serial},
    {6, Op::ee_read, 2, 6, E::ee_serial},
    {7, Op::ee_set, 3, 0, E::ee_camera},
    {8, Op::ee_read, 2, 3, E::ee_camera},
    {9, Op::ee_set, 3, 0, E::ee_light},
    {10, Op::ee_read, 2, 3, E::ee_light},
    {11, Op::ee_set, 3, 0, E::ee_system},
    {12, Op::ee_read, 2, 3, E::ee_system},
    {13, Op::ee_set, 4, 0, E::ee_date},
    {14, Op::ee_read, 2, 4, E::ee_date},
    {15, Op::ee_set, 3, 0, E::ee_board},
    {16, Op::ee_read, 2, 3, E::ee_board},
    {21, Op::ack, 2, 0},
    {22, Op::ramp_start, 3, 0},
    {23, Op::ramp_request, 2, 6},
    {24, Op::version, 2, 3},
    {25, Op::ramp_load, 15, 0},
    {34, Op::ramp_data, 4, 3},
    {35, Op::ramp_complete, 2, 0},
    {36, Op::ramp_delete, 3, 0},
    {37, Op::ramp_idle, 2, 3},
    {38, Op::power_chk, 2, 3},
    {40, Op::read_io, 4, 5},
    {41, Op::write_io, 5, 0},
};
const InstrumentBoard::Entry kLumen[] = {
    {1, Op::ack, 3, 0},
    {3, Op::llc_set, 4, 0},
    {4, Op::llc_read, 2, 4},
    {7, Op::ramp_request, 2, 14},
    {8, Op::ee_set, 6, 0, E::ee_serial},
    {9, Op::ee_read, 2, 6, E::ee_serial},
    {10, Op::ee_set, 3, 0, E::ee_camera},
    {11, Op::ee_read, 2, 3, E::ee_camera},
    {12, Op::ee_set, 3, 0, E::ee_light},
    {13, Op::ee_read, 2, 3, E::ee_light},
    {14, Op::ee_set, 3, 0, E::ee_system},
    {15, Op::ee_read, 2, 3, E::ee_system},
    {16, Op::ee_set, 4, 0, E::ee_date},
    {17, Op::ee_read, 2, 4, E::ee_date},
    {18, Op::ee_set, 3, 0, E::ee_board},
    {19, Op::ee_read, 2, 3, E::ee_board},
    {24, Op::ack, 2, 0},
    {25, Op::read_io, 4, 5},
    {26, Op::write_io, 5, 0},
    {27, Op::version, 2, 3},
    {28, Op::ramp_load, 15, 0},
    {30, Op::ramp_data, 4, 3},
    {31, Op::ramp_complete, 2, 0},
    {32, Op::ack, 2, 0},
    {33, Op::ramp_delete, 3, 0},
    {34, Op::ramp_idle, 2, 3},
    {35, Op::ramp_start, 3, 0},
    {36, Op::power_chk, 2, 3},
    {40, Op::update_rate, 5, 3},
    {41, Op::ack, 10, 0},
};

std::span<const InstrumentBoard::Entry> table(BoardKind k) {
  switch (k) {
    case BoardKind::uz1: return kUz1;
    case BoardKind::uz2: return kUz2;
    case BoardKind::iris: return kIris;
    case BoardKind::lumen: return kLumen;
  }
  return {};
}

uint8_t ramp_data_code(BoardKind k) {
  switch (k) {
    case BoardKind::uz1: return 34;
    case BoardKind::uz2: return 45;
    case BoardKind::iris: return 34;
    case BoardKind::lumen: return 30;
  }
  return 0;
}

uint32_t be(std::span<const uint8_t> b) {
  uint32_t v = 0;
  for (uint8_t x : b) v = v << 8 | x;
  return v;
}

std::vector<uint8_t> be_bytes(uint32_t v, std::size_t n) {
  std::vector<uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[n - 1 - i] = static_cast<uint8_t>(v >> (8 * i) & 0xFFu);
  return out;
}

}  // namespace

InstrumentBoard::InstrumentBoard(BoardKind kind, uint8_t version)
    : kind_(kind),
      version_(version),
      framer_(ramp_data_code(kind)),
      slots_(kind == BoardKind::uz1 || kind == BoardKind::lumen ? 12 : 4),
      io_(kIoLast - kIoFirst + 1) {}

const InstrumentBoard::Entry* InstrumentBoard::find(uint8_t code) const {
  for (const Entry& e : table(kind_)) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

std::vector<uint8_t> InstrumentBoard::ack() const {
  return framer_.wrap(std::vector<uint8_t>{0xFF});
}
std::vector<uint8_t> InstrumentBoard::nak() const {
  return framer_.wrap(std::vector<uint8_t>{0xFE});
}
std::vector<uint8_t> InstrumentBoard::data(uint8_t code, std::vector<uint8_t> bytes) const {
  bytes.insert(bytes.begin(), code);
  return framer_.wrap(bytes);
}

bool InstrumentBoard::idle() const { return u_ticks_ms() >= busy_until_; }

std::vector<std::vector<uint8_t>> InstrumentBoard::handle(const Frame& request) {
  if (!request.intact || request.payload.empty()) return {nak()};
  const Entry* e = find(request.payload[0]);
  if (e == nullptr) return {nak()};
  if (framer_.is_ramp_data(request)) return {ramp_data(request)};
  if (request.raw[0] != e->len) return {nak()};
  return {answer(*e, {request.payload.begin() + 1, request.payload.end()})};
}

std::vector<uint8_t> InstrumentBoard::answer(const Entry& e, const std::vector<uint8_t>& p) {
  const auto reply_bytes = [&](uint32_t v) { return data(e.code, be_bytes(v, e.reply - 2u)); };
  const bool twelve_bit = kind_ == BoardKind::uz1 || kind_ == BoardKind::lumen;
  const int top = kind_ == BoardKind::uz1 ? 4095 : 3685;
  switch (e.op) {
    case Op::ack: return ack();
    case Op::llc_set: light_ = twelve_bit ? top - static_cast<int>(be(p)) : p[0]; return ack();
    case Op::llc_read:
      return reply_bytes(static_cast<uint32_t>(twelve_bit ? top - light_ : light_));
    case Op::ee_set: ee_[e.word] = be(p); return ack();
    case Op::ee_read: return reply_bytes(ee_[e.word]);
    case Op::version: return reply_bytes(version_);
    case Op::ramp_load: {
      if (p[0] >= slots_.size()) return nak();
      Slot s;
      s.loading = true;
      s.ramp_id = p[1];
      s.polar = p[2];
      s.announced = static_cast<uint16_t>(be({p.data() + 3, 2}));
      s.offset = static_cast<uint16_t>(be({p.data() + 5, 2}));
      s.trig_start = static_cast<uint16_t>(be({p.data() + 7, 2}));
      s.trig_end = static_cast<uint16_t>(be({p.data() + 9, 2}));
      s.update_rate = static_cast<uint16_t>(be({p.data() + 11, 2}));
      slots_[p[0]] = s;
      loading_ = p[0];
      return ack();
    }
    case Op::ramp_complete:
      if (loading_ >= 0) {
        Slot& s = slots_[static_cast<std::size_t>(loading_)];
        s.loading = false;
        s.loaded = s.points.size() == s.announced;
        loading_ = -1;
      }
      return ack();
    case Op::ramp_delete:
      if (p[0] >= slots_.size()) return nak();
      slots_[p[0]] = Slot{};
      return ack();
    case Op::ramp_idle: return reply_bytes(idle() ? 1 : 0);
    case Op::ramp_start:
      if (p[0] >= slots_.size() || !slots_[p[0]].loaded) return nak();
      busy_until_ = u_ticks_ms() + ramp_ms_;
      ++ramps_started_;
      return ack();
    case Op::ramp_request: {
      // The ramp ID each slot holds, 255 for an empty one.
      std::vector<uint8_t> bytes(e.reply - 2u, 255);
      for (std::size_t s = 0; s < slots_.size() && s < bytes.size(); ++s) {
        if (slots_[s].loaded) bytes[s] = slots_[s].ramp_id;
      }
      return data(e.code, bytes);
    }
    case Op::power_chk: return reply_bytes(fault_);
    case Op::read_io: {
      const int address = static_cast<int>(be({p.data(), 2}));
      if (address < kIoFirst || address > kIoLast) return nak();
      return data(e.code, {p[0], p[1], io(address)});
    }
    case Op::write_io: {
      const int address = static_cast<int>(be({p.data(), 2}));
      if (address < kIoFirst || address > kIoLast) return nak();
      set_io(address, p[2]);
      return ack();
    }
    case Op::update_rate: {
      if (p[0] >= slots_.size()) return nak();
      Slot& s = slots_[p[0]];
      const uint8_t invalid_index = kind_ == BoardKind::uz1 ? 23 : 19;
      if (!s.loaded) return reply_bytes(invalid_index);
      s.update_rate = static_cast<uint16_t>(be({p.data() + 1, 2}));
      return reply_bytes(0);
    }
    case Op::change_av:
      align_view_ = p[0];
      av_moving_ = moving_polls_;
      return ack();
    case Op::change_rs:
      ring_spot_ = p[0];
      rs_moving_ = moving_polls_;
      return ack();
    case Op::av_moving: {
      const bool moving = av_moving_ > 0;
      if (moving) --av_moving_;
      return reply_bytes(moving ? 1 : 0);
    }
    case Op::rs_moving: {
      const bool moving = rs_moving_ > 0;
      if (moving) --rs_moving_;
      return reply_bytes(moving ? 1 : 0);
    }
    case Op::ramp_data: break;
  }
  return nak();
}

// Points go to the slot being loaded; more than RAMP_LOAD announced, or a
// packet outside a load, is refused.
std::vector<uint8_t> InstrumentBoard::ramp_data(const Frame& request) {
  const uint8_t code = request.raw[1];
  const std::size_t n = static_cast<std::size_t>(request.raw[2]) << 8 | request.raw[3];
  if (loading_ < 0 || n > 512) return nak();
  Slot& s = slots_[static_cast<std::size_t>(loading_)];
  if (s.points.size() + n > s.announced) return nak();
  for (std::size_t i = 0; i < n; ++i) {
    s.points.push_back(static_cast<uint16_t>(request.raw[5 + 2 * i] << 8 | request.raw[6 + 2 * i]));
  }
  ++ramp_data_packets_;
  return data(code, {0});
}

}  // namespace sim
