/// @file
/// The Lumen materials file: the table of materials a Lumen system measures.
/// Each material line gives a quoted name, the refractive index N, the
/// extinction K, the phase change on reflection (PCOR) and one dispersion
/// value per objective lens, optionally followed by a '#' comment:
///
///   ## Fathomix Lumen Materials File - Format 1
///   "Aluminum"  23.0  85.0  0.035766  0  0  0  0  # 606
///
/// Lines whose first word starts with a single '#' are kept in the list as
/// comment entries, "##" lines are skipped. The loader reads the file that
/// the system information record names (LumenMaterials), keeps the accepted
/// lines as the system's materials list, and checks that each nominal
/// magnification of the system is one of the lenses.
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
  char name[LUMEN_NAME_MAX + 1];  ///< the quoted name, terminated
  double n,     ///< refractive index N
      k,        ///< extinction K
      pcor;     ///< phase change on reflection (PCOR)
  double disper[LUMEN_LENSES];  ///< radians, one per lens column
  char comment[LUMEN_COMMENT_MAX + 1];  ///< the '#' comment, terminated
};

/// A materials list in one block from the allocation hooks. An all-zero
/// entry always follows the last one, for code that walks the list to it;
/// `count` is what says where the list ends, since a material with an empty
/// name, all values 0 and no comment is all zeros too. No block: no list.
struct lumen_materials_t {
  lumen_material_t* entries = nullptr;  ///< the block, owned by the list; null: no list
  int32_t count = 0;                    ///< entries in the list
  int32_t capacity = 0;  ///< entries in the block, the closing one included

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

struct sysInfo_t;
struct sb_lumen_info_t;

/// Frees the record's materials list, then reads the materials file its
/// lumenInfo names and checks the magnifications (lumen_checkMagnifications).
/// A name that is not absolute is looked for in the working directory and
/// then in the configuration directory, and the path found replaces it in
/// lumenInfo. ERR_SYS_INFO_NOT_AVAIL without a record, ERR_LUMEN_NO_LUMEN_INFO
/// without its lumenInfo, ERR_INVALID_PARAM for an empty name,
/// ERR_LUMEN_CANT_READ_MATLS_FILE when the file is not found or not read,
/// ERR_LUMEN_INVALID_MAGNIFICATION from the check.
int lumen_loadMaterials(sysInfo_t* info);

/// Reads a materials file into *list, replacing what it held only on success.
/// Errors in the file are reported through the log hook. ERR_INVALID_PARAM
/// without a path or list, ERR_CANT_OPEN_FILE, ERR_LUMEN_CORRUPT_MATLS_FILE
/// for a file in error or without an acceptable material, ERR_NO_MEM.
int lumen_readMaterials(const char* path, lumen_materials_t* list);

/// Sets lumen->lensColumn for each nominal magnification of the record: the
/// first lens within 0.001 of it. ERR_LUMEN_INVALID_MAGNIFICATION (logged)
/// for a magnification no lens has; the columns after it stay -1.
int lumen_checkMagnifications(const sysInfo_t* info, sb_lumen_info_t* lumen);
