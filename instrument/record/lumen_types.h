/// @file
/// The Lumen materials list a record holds (sb_lumen_info_t::materials): one
/// entry per material or kept comment line of the materials file, which
/// instrument/calibration/lumen_materials.h reads.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>

#include "common/hooks.h"

/// The objective lenses a Lumen system supports (lens columns 0 to 3).
inline constexpr int LUMEN_LENSES = 4;
inline constexpr int LUMEN_NAME_MAX = 20;      ///< characters of a material name
inline constexpr int LUMEN_COMMENT_MAX = 100;  ///< characters of a comment
/// The material number of a kept comment line.
inline constexpr int16_t LUMEN_COMMENT_ENTRY = -1;
/// The value of a column the file leaves out ('*' or '?').
inline constexpr double LUMEN_NOT_GIVEN = std::numeric_limits<double>::infinity();

/// One line of the materials file: a material, or a kept comment line.
struct lumen_material_t {
  int16_t number;  ///< 0, 1, 2 ... in file order; LUMEN_COMMENT_ENTRY for a comment line
  char name[LUMEN_NAME_MAX + 1];        ///< the quoted name, terminated
  double n,                             ///< refractive index N
      k,                                ///< extinction K
      pcor;                             ///< phase change on reflection (PCOR)
  double disper[LUMEN_LENSES];          ///< radians, one per lens column
  char comment[LUMEN_COMMENT_MAX + 1];  ///< the '#' comment, terminated
};

/// A materials list in one block from the allocation hooks. An all-zero
/// entry always follows the last one, for code that walks the list to it;
/// `count` is what says where the list ends, since a material with an empty
/// name, all values 0 and no comment is all zeros too. No block: no list.
struct lumen_materials_t {
  lumen_material_t* entries = nullptr;  ///< the block, owned by the list; null: no list
  int32_t count = 0;                    ///< entries in the list
  int32_t capacity = 0;                 ///< entries in the block, the closing one included

  lumen_materials_t() = default;
  /// Takes over other's block; other is left without one.
  lumen_materials_t(lumen_materials_t&& other) noexcept
      : entries(std::exchange(other.entries, nullptr)),
        count(std::exchange(other.count, 0)),
        capacity(std::exchange(other.capacity, 0)) {}
  /// Frees the block held, then takes over other's; other is left without one.
  lumen_materials_t& operator=(lumen_materials_t&& other) noexcept {
    if (this != &other) {
      u_free_fn(entries);
      entries = std::exchange(other.entries, nullptr);
      count = std::exchange(other.count, 0);
      capacity = std::exchange(other.capacity, 0);
    }
    return *this;
  }
  lumen_materials_t(const lumen_materials_t&) = delete;
  lumen_materials_t& operator=(const lumen_materials_t&) = delete;
  ~lumen_materials_t() { u_free_fn(entries); }
};
