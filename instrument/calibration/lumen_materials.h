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

#include "instrument/record/lumen_types.h"

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
