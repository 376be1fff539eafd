#include "sim/can/node.h"

#include <algorithm>
#include <utility>

namespace cansim {
namespace {

constexpr uint16_t kNmt = 0x000;
constexpr uint16_t kEmcy = 0x080;
constexpr uint16_t kNmtError = 0x700;
constexpr uint16_t kPdo1 = 0x180;
constexpr uint16_t kPdo2 = 0x280;

// Client command specifiers (the top three bits of byte 0).
constexpr uint8_t kCcsSegmentDownload = 0;
constexpr uint8_t kCcsInitiateDownload = 1;
constexpr uint8_t kCcsInitiateUpload = 2;
constexpr uint8_t kCcsSegmentUpload = 3;
constexpr uint8_t kCcsAbort = 4;

}  // namespace

Frame sdo_frame(uint16_t cob_id, uint8_t command, uint16_t index, uint8_t sub) {
  Frame f;
  f.cob_id = cob_id;
  f.len = 8;
  f.data[0] = command;
  f.data[1] = static_cast<uint8_t>(index & 0xFF);
  f.data[2] = static_cast<uint8_t>(index >> 8);
  f.data[3] = sub;
  return f;
}

std::vector<uint8_t> le_bytes(uint64_t value, std::size_t width) {
  std::vector<uint8_t> out(width, 0);
  for (std::size_t i = 0; i < width && i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
  return out;
}

uint64_t le_value(std::span<const uint8_t> bytes) {
  uint64_t v = 0;
  for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) v |= uint64_t{bytes[i]} << (8 * i);
  return v;
}

uint32_t Object::u32() const {
  return static_cast<uint32_t>(
      le_value(std::span(value).first(std::min<std::size_t>(4, value.size()))));
}

void Object::set_u32(uint32_t v) {
  const std::vector<uint8_t> bytes = le_bytes(v, 4);
  std::copy_n(bytes.begin(), std::min<std::size_t>(4, value.size()), value.begin());
}

Node::Node(const NodeSetup& setup, std::span<const ObjectRow> rows, Transport& bus,
           std::function<int64_t()> clock)
    : setup_(setup), id_(setup.id), bus_(bus), clock_(std::move(clock)) {
  // The identity object is common to every node; the kind's rows follow.
  const ObjectRow identity[] = {
      {0x1000, 0, 4, Access::ro, 0, false},
      {0x1018, 0, 1, Access::ro, 3, false},
      {0x1018, 1, 4, Access::ro, 0, false},
      {0x1018, 2, 4, Access::ro, setup.product_id, false},
      {0x1018, 3, 4, Access::ro, setup.revision, false},
  };
  rows_.assign(std::begin(identity), std::end(identity));
  rows_.insert(rows_.end(), rows.begin(), rows.end());
  objects_.resize(rows_.size());
  for (std::size_t i = 0; i < rows_.size(); ++i) objects_[i].row = &rows_[i];
  load_defaults();
  const uint8_t id = id_;
  station_ = bus_.attach([id](const Frame& f) {
    return (f.cob_id == kNmt && !f.rtr) || f.cob_id == kSdoRx + id ||
           (f.cob_id == kNmtError + id && f.rtr);
  });
}

Node::~Node() { detach(); }

void Node::detach() {
  if (station_ >= 0) bus_.detach(station_);
  station_ = -1;
}

void Node::load_defaults() {
  for (Object& o : objects_) {
    o.value = le_bytes(o.row->width <= 8 ? o.row->initial : 0, o.row->width);
  }
}

Object* Node::find(uint16_t index, uint8_t sub) {
  for (Object& o : objects_)
    if (o.row->index == index && o.row->sub == sub) return &o;
  return nullptr;
}

const Object* Node::find(uint16_t index, uint8_t sub) const {
  for (const Object& o : objects_)
    if (o.row->index == index && o.row->sub == sub) return &o;
  return nullptr;
}

bool Node::set_value(uint16_t index, uint8_t sub, const std::vector<uint8_t>& bytes) {
  Object* o = find(index, sub);
  if (o == nullptr || bytes.size() != o->row->width) return false;
  o->value = bytes;
  return true;
}

std::vector<uint8_t> Node::value(uint16_t index, uint8_t sub) const {
  const Object* o = find(index, sub);
  return o == nullptr ? std::vector<uint8_t>{} : o->value;
}

bool Node::set_abort(uint16_t index, uint8_t sub, uint32_t code) {
  Object* o = find(index, sub);
  if (o == nullptr) return false;
  o->abort_code = code;
  return true;
}

bool Node::set_reply_delay(uint16_t index, uint8_t sub, int64_t ms) {
  Object* o = find(index, sub);
  if (o == nullptr) return false;
  o->delay_ms = ms;
  return true;
}

bool Node::set_option(std::string_view, int32_t) { return false; }
bool Node::move(std::string_view, int) { return false; }
int64_t Node::tick(int64_t) { return kNever; }
uint32_t Node::on_read(Object&, int64_t) { return 0; }
uint32_t Node::on_write(Object&, int64_t) { return 0; }

void Node::poll() {
  Frame f;
  while (station_ >= 0 && bus_.receive(station_, f)) handle(f);
}

void Node::handle(const Frame& f) {
  if (f.cob_id == kNmt) {
    if (f.len >= 2 && (f.data[1] == 0 || f.data[1] == id_)) handle_nmt(f.data[0]);
  } else if (f.rtr) {
    // Node guarding: a state poll. A node told to wait for polls turns
    // operational on the poll it was told.
    ++polls_;
    if (state_ == NmtState::pre_operational && operational_from_ > 0 && polls_ >= operational_from_)
      state_ = NmtState::operational;
    send_state(static_cast<uint8_t>(static_cast<uint8_t>(state_) | guard_toggle_));
    guard_toggle_ ^= 0x80;
  } else if (state_ != NmtState::stopped && f.len == 8) {
    handle_sdo(f);
  }
}

void Node::handle_nmt(uint8_t command) {
  switch (command) {
    case 0x01: enter(NmtState::operational); break;
    case 0x02: enter(NmtState::stopped); break;
    case 0x80: enter(NmtState::pre_operational); break;
    case 0x81:
    case 0x82: boot(-1); break;
    default: break;
  }
}

void Node::send_state(uint8_t byte) {
  Frame f;
  f.cob_id = static_cast<uint16_t>(kNmtError + id_);
  f.len = 1;
  f.data[0] = byte;
  bus_.send(station_, f, 0);
}

void Node::enter(NmtState state) {
  state_ = state;
  send_state(static_cast<uint8_t>(state));  // a heartbeat on every change
}

void Node::boot(int operational_from) {
  if (station_ < 0) return;
  load_defaults();
  restart();
  transfer_ = Transfer{};
  bus_.withdraw(station_, static_cast<uint16_t>(kSdoTx + id_));
  guard_toggle_ = 0;
  polls_ = 0;
  operational_from_ = operational_from;
  state_ = NmtState::pre_operational;
  send_state(static_cast<uint8_t>(NmtState::boot));
  if (operational_from < 0) enter(NmtState::operational);
}

void Node::set_operational_after(int polls) {
  operational_from_ = polls;
  polls_ = 0;
  if (state_ == NmtState::operational) enter(NmtState::pre_operational);
}

void Node::reply(const Frame& frame, int64_t delay_ms) { bus_.send(station_, frame, delay_ms); }

void Node::abort(uint16_t index, uint8_t sub, uint32_t code, int64_t delay_ms) {
  transfer_ = Transfer{};
  Frame f = sdo_frame(static_cast<uint16_t>(kSdoTx + id_), 0x80, index, sub);
  const std::vector<uint8_t> c = le_bytes(code, 4);
  std::copy(c.begin(), c.end(), f.data.begin() + 4);
  reply(f, delay_ms);
}

void Node::handle_sdo(const Frame& f) {
  const uint8_t cs = f.data[0] >> 5;
  const uint16_t index = static_cast<uint16_t>(f.data[1] | (f.data[2] << 8));
  const uint8_t sub = f.data[3];

  if (cs == kCcsAbort) {
    // The client gave up: the transfer ends, and a reply still held back
    // is never sent.
    transfer_ = Transfer{};
    bus_.withdraw(station_, static_cast<uint16_t>(kSdoTx + id_));
    return;
  }
  if (cs == kCcsSegmentDownload || cs == kCcsSegmentUpload) {
    Transfer& t = transfer_;
    const bool upload = cs == kCcsSegmentUpload;
    if (!t.active || t.upload != upload) return abort(0, 0, kAbortCommand, 0);
    const uint16_t ti = t.object->row->index;
    const uint8_t ts = t.object->row->sub;
    const int64_t delay = t.object->delay_ms;
    const uint8_t toggle = (f.data[0] >> 4) & 1;
    if (toggle != t.toggle) return abort(ti, ts, kAbortToggle, delay);
    t.toggle ^= 1;
    Frame r;
    r.cob_id = static_cast<uint16_t>(kSdoTx + id_);
    r.len = 8;
    if (upload) {
      const std::size_t chunk = std::min(kSegmentBytes, t.data.size() - t.offset);
      const bool last = t.offset + chunk == t.data.size();
      r.data[0] =
          static_cast<uint8_t>((toggle << 4) | ((kSegmentBytes - chunk) << 1) | (last ? 1 : 0));
      std::copy_n(t.data.begin() + static_cast<std::ptrdiff_t>(t.offset), chunk,
                  r.data.begin() + 1);
      t.offset += chunk;
      if (last) t = Transfer{};
      return reply(r, delay);
    }
    const std::size_t chunk = kSegmentBytes - ((f.data[0] >> 1) & 7);
    const bool last = (f.data[0] & 1) != 0;
    if (t.data.size() + chunk > t.object->row->width) return abort(ti, ts, kAbortLength, delay);
    t.data.insert(t.data.end(), f.data.begin() + 1,
                  f.data.begin() + 1 + static_cast<std::ptrdiff_t>(chunk));
    if (last) {
      if (t.data.size() != t.object->row->width) return abort(ti, ts, kAbortLength, delay);
      Object& o = *t.object;
      std::vector<uint8_t> before = std::exchange(o.value, std::move(t.data));
      t = Transfer{};
      if (o.row->hooked) {
        if (const uint32_t code = on_write(o, now())) {
          o.value = std::move(before);
          return abort(ti, ts, code, delay);
        }
      }
    }
    r.data[0] = static_cast<uint8_t>(0x20 | (toggle << 4));
    return reply(r, delay);
  }
  if (cs != kCcsInitiateDownload && cs != kCcsInitiateUpload)
    return abort(index, sub, kAbortCommand, 0);

  // A new request ends any transfer in progress.
  transfer_ = Transfer{};
  Object* o = find(index, sub);
  if (o == nullptr) {
    const bool index_known = std::any_of(rows_.begin(), rows_.end(),
                                         [index](const ObjectRow& r) { return r.index == index; });
    return abort(index, sub, index_known ? kAbortNoSub : kAbortNoObject, 0);
  }
  const int64_t delay = o->delay_ms;
  if (o->abort_code != 0) return abort(index, sub, o->abort_code, delay);
  const uint32_t width = o->row->width;

  if (cs == kCcsInitiateUpload) {
    if (o->row->access == Access::wo) return abort(index, sub, kAbortReadWriteOnly, delay);
    if (o->row->hooked) {
      if (const uint32_t code = on_read(*o, now())) return abort(index, sub, code, delay);
    }
    if (width <= kExpeditedMax) {
      Frame r = sdo_frame(static_cast<uint16_t>(kSdoTx + id_),
                          static_cast<uint8_t>(0x43 | ((kExpeditedMax - width) << 2)), index, sub);
      std::copy(o->value.begin(), o->value.end(), r.data.begin() + 4);
      return reply(r, delay);
    }
    Frame r = sdo_frame(static_cast<uint16_t>(kSdoTx + id_), 0x41, index, sub);
    const std::vector<uint8_t> size = le_bytes(width, 4);
    std::copy(size.begin(), size.end(), r.data.begin() + 4);
    transfer_ = Transfer{true, true, o, o->value, 0, 0};
    return reply(r, delay);
  }

  if (o->row->access == Access::ro) return abort(index, sub, kAbortWriteReadOnly, delay);
  const bool expedited = (f.data[0] & 0x02) != 0;
  const bool sized = (f.data[0] & 0x01) != 0;
  if (expedited) {
    const uint32_t size = sized ? kExpeditedMax - ((f.data[0] >> 2) & 3) : width;
    if (size != width) return abort(index, sub, kAbortLength, delay);
    std::vector<uint8_t> before = o->value;
    std::copy_n(f.data.begin() + 4, size, o->value.begin());
    if (o->row->hooked) {
      if (const uint32_t code = on_write(*o, now())) {
        o->value = std::move(before);
        return abort(index, sub, code, delay);
      }
    }
  } else {
    if (sized && le_value(std::span(f.data).subspan(4, 4)) != width)
      return abort(index, sub, kAbortLength, delay);
    transfer_ = Transfer{true, false, o, {}, 0, 0};
    transfer_.data.reserve(width);
  }
  return reply(sdo_frame(static_cast<uint16_t>(kSdoTx + id_), 0x60, index, sub), delay);
}

void Node::send_pdo(int pdo, std::span<const uint8_t> data) {
  if (station_ < 0 || state_ != NmtState::operational) return;
  Frame f;
  f.cob_id = static_cast<uint16_t>((pdo == 1 ? kPdo1 : kPdo2) + id_);
  f.len = static_cast<uint8_t>(std::min<std::size_t>(8, data.size()));
  std::copy_n(data.begin(), f.len, f.data.begin());
  bus_.send(station_, f, 0);
}

void Node::send_emcy(uint16_t code, uint8_t error_register, std::span<const uint8_t> extra) {
  if (station_ < 0 || state_ == NmtState::stopped) return;
  Frame f;
  f.cob_id = static_cast<uint16_t>(kEmcy + id_);
  f.len = 8;
  f.data[0] = static_cast<uint8_t>(code & 0xFF);
  f.data[1] = static_cast<uint8_t>(code >> 8);
  f.data[2] = error_register;
  std::copy_n(extra.begin(), std::min<std::size_t>(5, extra.size()), f.data.begin() + 3);
  bus_.send(station_, f, 0);
}

std::unique_ptr<Node> make_node(std::string_view kind, const NodeSetup& setup, Transport& bus,
                                std::function<int64_t()> clock) {
  using Factory = std::unique_ptr<Node> (*)(const NodeSetup&, Transport&, std::function<int64_t()>);
  struct Kind {
    std::string_view name;
    Factory make;
  };
  static constexpr Kind kKinds[] = {
      {"ramp", make_ramp_node},           {"led", make_led_node},
      {"brush", make_brush_motor_node},   {"pzt", make_pzt_node},
      {"dmd", make_dual_motor_node},      {"wand", make_wand_node},
      {"amplifier", make_amplifier_node}, {"position", make_position_node},
  };
  for (const Kind& k : kKinds)
    if (k.name == kind) return k.make(setup, bus, std::move(clock));
  return nullptr;
}

}  // namespace cansim
