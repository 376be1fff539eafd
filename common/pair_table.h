/// @file
/// A table of number pairs in single precision: the coordinate pair files and
/// the encoded zoom's (position, magnification) calibration both load into
/// it. The array is owned and comes from the allocation hooks, like every
/// record buffer, so running out of memory is an error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/hooks.h"

/// One pair of the table, in the order of the file's line.
struct u_pair_t {
  float x;  ///< First number of the pair.
  float y;  ///< Second number of the pair.
};

namespace felbrin {
/// Returns a block to the allocation hooks.
struct HookedFree {
  /// Releases `block` through u_free_fn.
  void operator()(void* block) const { u_free_fn(block); }
};
}  // namespace felbrin

/// An owned array of pairs, released through the allocation hooks.
using u_pair_array_t = std::unique_ptr<u_pair_t[], felbrin::HookedFree>;

/// `count` pairs at `pairs` (null when the count is 0), in file order.
struct u_pair_table_t {
  int32_t count = 0;     ///< Number of pairs.
  u_pair_array_t pairs;  ///< The pairs; null when the count is 0.

  /// The pairs as a read-only span (empty without an array); valid until the
  /// table changes.
  std::span<const u_pair_t> view() const {
    return pairs ? std::span<const u_pair_t>(pairs.get(),
                                             static_cast<std::size_t>(count > 0 ? count : 0))
                 : std::span<const u_pair_t>();
  }
};

/// Empties the table and releases its array.
void u_pair_table_clear(u_pair_table_t* table);
/// Replaces the table's pairs with a copy of `pairs`: 0, ERR_INVALID_PARAM
/// without a table, or ERR_NO_MEM (the table is then left as it was).
int u_pair_table_assign(u_pair_table_t* table, std::span<const u_pair_t> pairs);
