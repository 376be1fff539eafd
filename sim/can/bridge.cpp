#include "sim/can/bridge.h"

#include <algorithm>
#include <utility>

namespace cansim {
namespace {

constexpr uint16_t kNmtError = 0x700;
constexpr uint16_t kEmcy = 0x080;
constexpr uint16_t kPdoFirst = 0x180;
constexpr uint16_t kPdoLast = 0x57F;
Frame sdo_request(uint8_t node, uint8_t command, uint16_t index, uint8_t sub) {
  return sdo_frame(static_cast<uint16_t>(kSdoRx + node), command, index, sub);
}

bool same_object(const Frame& f, uint16_t index, uint8_t sub) {
  return f.data[1] == (index & 0xFF) && f.data[2] == (index >> 8) && f.data[3] == sub;
}

uint32_t abort_code_of(const Frame& f) {
  return static_cast<uint32_t>(le_value(std::span(f.data).subspan(4, 4)));
}

// What the server answered: its command specifier.
uint8_t scs(const Frame& f) { return f.data[0] >> 5; }
constexpr uint8_t kScsAbort = 4;

void fill(can_transfer_result_t& result, int32_t bytes, int32_t status, uint32_t code) {
  result.byte_count = bytes;
  result.status = status;
  result.abort_code = code;
}

}  // namespace

Bridge::Bridge(const BridgeSetup& setup, std::function<int64_t()> clock)
    : setup_(setup),
      clock_(clock),
      bus_(clock),
      config_a_(setup.config_a),
      config_b_(setup.config_b),
      pending_a_(setup.config_a),
      pending_b_(setup.config_b) {
  station_ = bus_.attach([](const Frame& f) {
    return !f.rtr && f.cob_id != 0 && (f.cob_id < kSdoRx || f.cob_id >= kNmtError);
  });
  injector_ = bus_.attach([](const Frame&) { return false; });
}

Bridge::~Bridge() { nodes_.clear(); }

uint32_t Bridge::ip_value() const {
  return uint32_t{setup_.ip[0]} | uint32_t{setup_.ip[1]} << 8 | uint32_t{setup_.ip[2]} << 16 |
         uint32_t{setup_.ip[3]} << 24;
}

can_bridge_entry_t Bridge::entry() const {
  can_bridge_entry_t e{};
  std::copy(std::begin(setup_.ip), std::end(setup_.ip), e.ip);
  std::copy(std::begin(setup_.mac), std::end(setup_.mac), e.mac);
  return e;
}

void Bridge::connect() {
  config_a_ = pending_a_;
  config_b_ = pending_b_;
  connected_ = true;
}

void Bridge::disconnect() {
  connected_ = false;
  pdos.clear();
  overrun = false;
}

void Bridge::configuration(uint8_t& a, uint32_t& b) const {
  a = config_a_;
  b = config_b_;
}

void Bridge::set_configuration(uint8_t a, uint32_t b) {
  pending_a_ = a;
  pending_b_ = b;
}

void Bridge::set_bus_off() {
  bus_.set_state(BusState::off);
  error_ = kBusOffError;
}

void Bridge::reset() {
  bus_.set_state(BusState::active);
  error_ = 0;
  disconnect();
  registered_.clear();
  emcys.clear();
  sdo_inbox_.clear();
}

Node* Bridge::add_node(std::string_view kind, uint8_t id, uint32_t product_id) {
  if (id == 0 || id > 127) return nullptr;
  remove_node(id);
  NodeSetup ns;
  ns.id = id;
  ns.product_id = product_id;
  ns.firmware_major = setup_.firmware_major;
  ns.firmware_minor = setup_.firmware_minor;
  std::unique_ptr<Node> n = make_node(kind, ns, bus_, clock_);
  if (n == nullptr) return nullptr;
  nodes_.push_back(std::move(n));
  Node* added = nodes_.back().get();
  added->boot(-1);
  step();
  return added;
}

Node* Bridge::node(uint8_t id) {
  for (const auto& n : nodes_)
    if (n->id() == id) return n.get();
  return nullptr;
}

void Bridge::remove_node(uint8_t id) {
  std::erase_if(nodes_, [id](const std::unique_ptr<Node>& n) { return n->id() == id; });
  // Its heartbeat stops: the bridge counts it gone.
  if (id < known_.size()) known_[id] = Known{};
}

int64_t Bridge::step() {
  const int64_t now = clock_();
  int64_t next = kNever;
  for (bool busy = true; busy;) {
    busy = false;
    next = bus_.advance();
    for (const auto& n : nodes_) next = std::min(next, n->tick(now));
    for (const auto& n : nodes_) n->poll();
    Frame f;
    while (bus_.receive(station_, f)) {
      handle(f);
      busy = true;
    }
  }
  return next;
}

void Bridge::handle(const Frame& f) {
  const uint16_t cob = f.cob_id;
  if (cob > kSdoTx && cob < kSdoRx) {
    sdo_inbox_.push_back(f);
  } else if (cob > kNmtError && cob <= kNmtError + 127 && f.len >= 1) {
    const auto id = static_cast<uint8_t>(cob - kNmtError);
    known_[id].present = true;
    known_[id].state = f.data[0] & 0x7F;
    if (guarding_ == id) guard_state_ = known_[id].state;
  } else if (cob > kEmcy && cob < kPdoFirst) {
    if (!connected_ || !take_emcys || emcys.size() >= kEmcyQueueDepth) return;
    EmcyIn e;
    e.value1 = cob;
    e.value2 = static_cast<uint32_t>(f.data[0] | (f.data[1] << 8));
    std::copy_n(f.data.begin(), 8, e.block.begin());
    e.value3 = f.data[2];
    emcys.push_back(e);
  } else if (cob >= kPdoFirst && cob <= kPdoLast) {
    if (!connected_ || !registered_.contains(cob)) return;
    if (pdos.size() >= kPdoQueueDepth) {
      overrun = true;
      return;
    }
    PdoIn p;
    p.cob_id = cob;
    std::copy_n(f.data.begin(), f.len, p.data.begin());
    pdos.push_back(p);
    ++pdos_accepted;
  }
}

bool Bridge::send(const Frame& frame) {
  const bool sent = bus_.send(station_, frame, 0);
  step();
  return sent;
}

bool Bridge::inject(const Frame& frame) {
  const bool sent = bus_.send(injector_, frame, 0);
  step();
  return sent;
}

void Bridge::inject_emcy(const EmcyIn& emcy) {
  if (connected_ && take_emcys && emcys.size() < kEmcyQueueDepth) emcys.push_back(emcy);
}

bool Bridge::guard(uint8_t id, uint8_t& state) {
  Frame f;
  f.cob_id = static_cast<uint16_t>(kNmtError + id);
  f.rtr = true;
  guarding_ = id;
  guard_state_ = -1;
  send(f);
  guarding_ = -1;
  if (guard_state_ < 0) return false;
  state = static_cast<uint8_t>(guard_state_);
  return true;
}

bool Bridge::wait_reply(uint8_t node, Frame& reply, const Pause& pause) {
  const int64_t deadline = clock_() + kSdoTimeoutMs;
  for (;;) {
    const int64_t next = step();
    const auto it = std::find_if(sdo_inbox_.begin(), sdo_inbox_.end(),
                                 [node](const Frame& f) { return f.cob_id == kSdoTx + node; });
    if (it != sdo_inbox_.end()) {
      reply = *it;
      sdo_inbox_.erase(it);
      return true;
    }
    const int64_t now = clock_();
    if (now >= deadline) return false;
    pause(std::max<int64_t>(1, std::min(next, deadline) - now));
  }
}

int32_t Bridge::give_up(uint8_t node, uint16_t index, uint8_t sub, uint32_t code,
                        can_transfer_result_t& result, int32_t status) {
  // The server is told, so that it drops the transfer and any reply it
  // still holds back; a late answer can then never pass for the next
  // transfer's.
  Frame f = sdo_request(node, 0x80, index, sub);
  const std::vector<uint8_t> c = le_bytes(code, 4);
  std::copy(c.begin(), c.end(), f.data.begin() + 4);
  send(f);
  std::erase_if(sdo_inbox_, [node](const Frame& r) { return r.cob_id == kSdoTx + node; });
  fill(result, result.byte_count, status == CAN_OK ? CAN_ERR_GENERAL : status, code);
  return status;
}

int32_t Bridge::sdo_read(uint8_t node, uint16_t index, uint8_t sub, std::span<uint8_t> out,
                         can_transfer_result_t& result, const Pause& pause) {
  fill(result, 0, CAN_ERR_GENERAL, 0);
  // Anything still waiting from this server answered an earlier transfer.
  std::erase_if(sdo_inbox_, [node](const Frame& r) { return r.cob_id == kSdoTx + node; });
  if (!send(sdo_request(node, 0x40, index, sub))) return CAN_ERR_GENERAL;
  Frame r;
  for (;;) {
    if (!wait_reply(node, r, pause))
      return give_up(node, index, sub, kAbortTimeout, result, CAN_ERR_TIMEOUT);
    if (same_object(r, index, sub)) break;  // not ours: keep waiting
  }
  if (scs(r) == kScsAbort) {
    fill(result, 0, CAN_ERR_GENERAL, abort_code_of(r));
    return CAN_OK;
  }
  if (scs(r) != 2) return give_up(node, index, sub, kAbortCommand, result, CAN_OK);
  if (r.data[0] & 0x02) {  // expedited
    const uint32_t size =
        (r.data[0] & 0x01) ? kExpeditedMax - ((r.data[0] >> 2) & 3) : kExpeditedMax;
    if (size > out.size())
      return give_up(node, index, sub, kAbortOutOfMemory, result, CAN_ERR_BUFFER_TOO_SMALL);
    std::copy_n(r.data.begin() + 4, size, out.begin());
    fill(result, static_cast<int32_t>(size), CAN_OK, 0);
    return CAN_OK;
  }
  const auto size = static_cast<std::size_t>(le_value(std::span(r.data).subspan(4, 4)));
  if (size > out.size())
    return give_up(node, index, sub, kAbortOutOfMemory, result, CAN_ERR_BUFFER_TOO_SMALL);
  std::size_t got = 0;
  for (uint8_t toggle = 0;; toggle ^= 1) {
    Frame seg = sdo_request(node, static_cast<uint8_t>(0x60 | (toggle << 4)), 0, 0);
    if (!send(seg)) return give_up(node, index, sub, kAbortTimeout, result, CAN_ERR_GENERAL);
    if (!wait_reply(node, r, pause))
      return give_up(node, index, sub, kAbortTimeout, result, CAN_ERR_TIMEOUT);
    if (scs(r) == kScsAbort) {
      fill(result, static_cast<int32_t>(got), CAN_ERR_GENERAL, abort_code_of(r));
      return CAN_OK;
    }
    if (scs(r) != 0) return give_up(node, index, sub, kAbortCommand, result, CAN_OK);
    if (((r.data[0] >> 4) & 1) != toggle)
      return give_up(node, index, sub, kAbortToggle, result, CAN_OK);
    const std::size_t chunk = kSegmentBytes - ((r.data[0] >> 1) & 7);
    if (got + chunk > size) return give_up(node, index, sub, kAbortLength, result, CAN_OK);
    std::copy_n(r.data.begin() + 1, chunk, out.begin() + static_cast<std::ptrdiff_t>(got));
    got += chunk;
    result.byte_count = static_cast<int32_t>(got);
    if (r.data[0] & 0x01) break;
  }
  if (got != size) return give_up(node, index, sub, kAbortLength, result, CAN_OK);
  fill(result, static_cast<int32_t>(got), CAN_OK, 0);
  return CAN_OK;
}

int32_t Bridge::sdo_write(uint8_t node, uint16_t index, uint8_t sub, std::span<const uint8_t> in,
                          can_transfer_result_t& result, const Pause& pause) {
  fill(result, 0, CAN_ERR_GENERAL, 0);
  std::erase_if(sdo_inbox_, [node](const Frame& r) { return r.cob_id == kSdoTx + node; });
  const bool expedited = in.size() <= kExpeditedMax;
  Frame req;
  if (expedited) {
    req = sdo_request(node, static_cast<uint8_t>(0x23 | ((kExpeditedMax - in.size()) << 2)), index,
                      sub);
    std::copy(in.begin(), in.end(), req.data.begin() + 4);
  } else {
    req = sdo_request(node, 0x21, index, sub);
    const std::vector<uint8_t> size = le_bytes(in.size(), 4);
    std::copy(size.begin(), size.end(), req.data.begin() + 4);
  }
  if (!send(req)) return CAN_ERR_GENERAL;
  Frame r;
  for (;;) {
    if (!wait_reply(node, r, pause))
      return give_up(node, index, sub, kAbortTimeout, result, CAN_ERR_TIMEOUT);
    if (same_object(r, index, sub)) break;
  }
  if (scs(r) == kScsAbort) {
    fill(result, 0, CAN_ERR_GENERAL, abort_code_of(r));
    return CAN_OK;
  }
  if (scs(r) != 3) return give_up(node, index, sub, kAbortCommand, result, CAN_OK);
  std::size_t sent = expedited ? in.size() : 0;
  for (uint8_t toggle = 0; sent < in.size(); toggle ^= 1) {
    const std::size_t chunk = std::min(kSegmentBytes, in.size() - sent);
    const bool last = sent + chunk == in.size();
    Frame seg;
    seg.cob_id = static_cast<uint16_t>(kSdoRx + node);
    seg.len = 8;
    seg.data[0] =
        static_cast<uint8_t>((toggle << 4) | ((kSegmentBytes - chunk) << 1) | (last ? 1 : 0));
    std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(sent), chunk, seg.data.begin() + 1);
    if (!send(seg)) return give_up(node, index, sub, kAbortTimeout, result, CAN_ERR_GENERAL);
    if (!wait_reply(node, r, pause))
      return give_up(node, index, sub, kAbortTimeout, result, CAN_ERR_TIMEOUT);
    if (scs(r) == kScsAbort) {
      fill(result, static_cast<int32_t>(sent), CAN_ERR_GENERAL, abort_code_of(r));
      return CAN_OK;
    }
    if (scs(r) != 1) return give_up(node, index, sub, kAbortCommand, result, CAN_OK);
    if (((r.data[0] >> 4) & 1) != toggle)
      return give_up(node, index, sub, kAbortToggle, result, CAN_OK);
    sent += chunk;
    result.byte_count = static_cast<int32_t>(sent);
  }
  fill(result, static_cast<int32_t>(in.size()), CAN_OK, 0);
  return CAN_OK;
}

}  // namespace cansim
