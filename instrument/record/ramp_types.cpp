// The ramp table's memory: entries and their points come from the
// allocation hooks and are released with them.
#include "instrument/record/ramp_types.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>

#include "common/hooks.h"

namespace {

void release(uint16_t*& points) {
  if (points != nullptr) u_free_fn(points);
  points = nullptr;
}

}  // namespace

rr_ramp_info_t::~rr_ramp_info_t() { release(points); }

rr_ramp_info_t::rr_ramp_info_t(rr_ramp_info_t&& other) noexcept { *this = std::move(other); }

rr_ramp_info_t& rr_ramp_info_t::operator=(rr_ramp_info_t&& other) noexcept {
  if (this == &other) return *this;
  release(points);
  name = std::move(other.name);
  header = other.header;
  points = std::exchange(other.points, nullptr);
  slot = other.slot;
  duration = other.duration;
  direction = other.direction;
  sortKey = other.sortKey;
  velocity = other.velocity;
  timeTilOffset = other.timeTilOffset;
  gain = other.gain;
  hide = other.hide;
  lastUse = other.lastUse;
  return *this;
}

rr_ramp_table_t::rr_ramp_table_t(rr_ramp_table_t&& other) noexcept
    : entries_(std::exchange(other.entries_, nullptr)), size_(std::exchange(other.size_, 0)) {}

rr_ramp_table_t& rr_ramp_table_t::operator=(rr_ramp_table_t&& other) noexcept {
  if (this != &other) {
    clear();
    entries_ = std::exchange(other.entries_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

bool rr_ramp_table_t::allocate(int n) {
  clear();
  if (n <= 0) return true;
  void* memory = u_calloc_fn(static_cast<std::size_t>(n), sizeof(rr_ramp_info_t));
  if (memory == nullptr) return false;
  entries_ = static_cast<rr_ramp_info_t*>(memory);
  for (int i = 0; i < n; ++i) new (entries_ + i) rr_ramp_info_t();
  size_ = n;
  return true;
}

void rr_ramp_table_t::clear() {
  for (int i = 0; i < size_; ++i) entries_[i].~rr_ramp_info_t();
  u_free_fn(entries_);
  entries_ = nullptr;
  size_ = 0;
}

sb_ramp_state_t::sb_ramp_state_t() {
  std::fill(std::begin(slotTable), std::end(slotTable), RR_NO_SLOT);
}
