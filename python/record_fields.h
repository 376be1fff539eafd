// The fields of the records the module hands to Python as dictionaries, by
// the records' own names: where each lies and how to read it. Written from
// the record declarations; the module's checks below and its tests keep
// them in step (every byte of a record belongs to exactly one field, in
// order).
#pragma once

#include <cstddef>
#include <cstdint>

#include "data/binary_file.h"
#include "instrument/record/ramp_types.h"

namespace felbrin::python {

struct Field {
  enum Kind : uint8_t { kI16, kI32, kU16, kU32, kF32, kText, kBytes };
  const char* name;
  std::size_t offset;
  Kind kind;
  int count;  // elements; a text's or bytes' length
};

constexpr std::size_t field_size(const Field& f) {
  switch (f.kind) {
    case Field::kI16:
    case Field::kU16: return 2 * static_cast<std::size_t>(f.count);
    case Field::kI32:
    case Field::kU32:
    case Field::kF32: return 4 * static_cast<std::size_t>(f.count);
    case Field::kText:
    case Field::kBytes: return static_cast<std::size_t>(f.count);
  }
  return 0;
}

// True when the fields follow each other without overlapping, the first at
// 0, and together with alignment padding reach the record's end.
template <std::size_t N>
constexpr bool covers(const Field (&fields)[N], std::size_t record_size) {
  std::size_t end = 0;
  for (const Field& f : fields) {
    if (f.offset < end || f.offset > end + 3) return false;
    end = f.offset + field_size(f);
  }
  return fields[0].offset == 0 && end <= record_size && record_size - end < 4;
}

inline constexpr Field kSourceFields[] = {
    {"info_word0", offsetof(df_source_info_t, info_word0), Field::kI16, 1},
    {"info_text", offsetof(df_source_info_t, info_text), Field::kText, 30},
    {"info_word1", offsetof(df_source_info_t, info_word1), Field::kI16, 1},
    {"info_word2", offsetof(df_source_info_t, info_word2), Field::kI16, 1},
    {"info_word3", offsetof(df_source_info_t, info_word3), Field::kI16, 1},
};

inline constexpr Field kHeaderFields[] = {
    {"h076", offsetof(df_header_t, h076), Field::kI32, 1},
    {"h080", offsetof(df_header_t, h080), Field::kText, 82},
    {"h162", offsetof(df_header_t, h162), Field::kI16, 1},
    {"h164", offsetof(df_header_t, h164), Field::kF32, 1},
    {"h168", offsetof(df_header_t, h168), Field::kF32, 1},
    {"h172", offsetof(df_header_t, h172), Field::kF32, 1},
    {"h176", offsetof(df_header_t, h176), Field::kF32, 1},
    {"h180", offsetof(df_header_t, h180), Field::kF32, 1},
    {"h184", offsetof(df_header_t, h184), Field::kF32, 1},
    {"h188", offsetof(df_header_t, h188), Field::kI16, 1},
    {"h190", offsetof(df_header_t, h190), Field::kI16, 1},
    {"h192", offsetof(df_header_t, h192), Field::kI16, 1},
    {"h194", offsetof(df_header_t, h194), Field::kI16, 1},
    {"h196", offsetof(df_header_t, h196), Field::kI16, 1},
    {"h198", offsetof(df_header_t, h198), Field::kF32, 1},
    {"h202", offsetof(df_header_t, h202), Field::kI16, 1},
    {"h204", offsetof(df_header_t, h204), Field::kF32, 1},
    {"h208", offsetof(df_header_t, h208), Field::kBytes, 2},
    {"h210", offsetof(df_header_t, h210), Field::kI32, 1},
    {"h214", offsetof(df_header_t, h214), Field::kI32, 1},
    {"h218", offsetof(df_header_t, h218), Field::kI16, 1},
    {"h220", offsetof(df_header_t, h220), Field::kI32, 1},
    {"h224", offsetof(df_header_t, h224), Field::kI16, 1},
    {"h226", offsetof(df_header_t, h226), Field::kF32, 1},
    {"h230", offsetof(df_header_t, h230), Field::kI16, 1},
    {"h232", offsetof(df_header_t, h232), Field::kI16, 1},
    {"h234", offsetof(df_header_t, h234), Field::kI16, 1},
    {"h236", offsetof(df_header_t, h236), Field::kI16, 1},
    {"h238", offsetof(df_header_t, h238), Field::kI16, 1},
    {"h240", offsetof(df_header_t, h240), Field::kI16, 1},
    {"h242", offsetof(df_header_t, h242), Field::kI16, 1},
    {"h244", offsetof(df_header_t, h244), Field::kI16, 1},
    {"h246", offsetof(df_header_t, h246), Field::kText, 12},
    {"h258", offsetof(df_header_t, h258), Field::kText, 40},
    {"h298", offsetof(df_header_t, h298), Field::kI16, 1},
    {"h300", offsetof(df_header_t, h300), Field::kI16, 1},
    {"h302", offsetof(df_header_t, h302), Field::kI16, 1},
    {"h304", offsetof(df_header_t, h304), Field::kBytes, 16},
    {"h320", offsetof(df_header_t, h320), Field::kText, 40},
    {"h360", offsetof(df_header_t, h360), Field::kF32, 1},
    {"h364", offsetof(df_header_t, h364), Field::kI16, 1},
    {"h366", offsetof(df_header_t, h366), Field::kU16, 1},
    {"h368", offsetof(df_header_t, h368), Field::kU32, 1},
    {"h372", offsetof(df_header_t, h372), Field::kU16, 2},
    {"h376", offsetof(df_header_t, h376), Field::kU32, 2},
    {"h384", offsetof(df_header_t, h384), Field::kU16, 1},
    {"h386", offsetof(df_header_t, h386), Field::kU32, 3},
    {"h398", offsetof(df_header_t, h398), Field::kBytes, 8},
    {"h406", offsetof(df_header_t, h406), Field::kU16, 1},
    {"h408", offsetof(df_header_t, h408), Field::kBytes, 20},
    {"h428", offsetof(df_header_t, h428), Field::kU16, 1},
    {"h430", offsetof(df_header_t, h430), Field::kU32, 17},
    {"h498", offsetof(df_header_t, h498), Field::kF32, 1},
    {"h502", offsetof(df_header_t, h502), Field::kBytes, 32},
    {"h534", offsetof(df_header_t, h534), Field::kText, 28},
    {"h562", offsetof(df_header_t, h562), Field::kText, 8},
    {"h570", offsetof(df_header_t, h570), Field::kBytes, 164},
    {"h734", offsetof(df_header_t, h734), Field::kU16, 1},
    {"h736", offsetof(df_header_t, h736), Field::kBytes, 62},
    {"h798", offsetof(df_header_t, h798), Field::kI32, 1},
    {"h802", offsetof(df_header_t, h802), Field::kBytes, 14},
    {"h816", offsetof(df_header_t, h816), Field::kU16, 1},
    {"h818", offsetof(df_header_t, h818), Field::kBytes, 20},
    {"h838", offsetof(df_header_t, h838), Field::kU16, 2},
    {"h842", offsetof(df_header_t, h842), Field::kU32, 7},
    {"h870", offsetof(df_header_t, h870), Field::kBytes, 28},
    {"df_format_tag", offsetof(df_header_t, df_format_tag), Field::kI16, 1},
    {"h900", offsetof(df_header_t, h900), Field::kU16, 2},
    {"h904", offsetof(df_header_t, h904), Field::kBytes, 30},
    {"h934", offsetof(df_header_t, h934), Field::kU32, 1},
    {"h938", offsetof(df_header_t, h938), Field::kBytes, 60},
    {"h998", offsetof(df_header_t, h998), Field::kU32, 10},
    {"h1038", offsetof(df_header_t, h1038), Field::kBytes, 88},
    {"h1126", offsetof(df_header_t, h1126), Field::kU32, 23},
    {"h1218", offsetof(df_header_t, h1218), Field::kBytes, 32},
    {"h1250", offsetof(df_header_t, h1250), Field::kU32, 3},
    {"h1262", offsetof(df_header_t, h1262), Field::kBytes, 2},
    {"h1264", offsetof(df_header_t, h1264), Field::kU16, 1},
    {"h1266", offsetof(df_header_t, h1266), Field::kU32, 14},
    {"h1322", offsetof(df_header_t, h1322), Field::kBytes, 2},
    {"h1324", offsetof(df_header_t, h1324), Field::kU16, 1},
    {"h1326", offsetof(df_header_t, h1326), Field::kU32, 14},
    {"h1382", offsetof(df_header_t, h1382), Field::kBytes, 2},
    {"h1384", offsetof(df_header_t, h1384), Field::kU16, 1},
    {"h1386", offsetof(df_header_t, h1386), Field::kU32, 14},
    {"h1442", offsetof(df_header_t, h1442), Field::kBytes, 4},
    {"h1446", offsetof(df_header_t, h1446), Field::kU32, 2},
    {"h1454", offsetof(df_header_t, h1454), Field::kBytes, 2642},
};

inline constexpr Field kRampHeaderFields[] = {
    {"magicNumber", offsetof(rr_ramp_hdr_t, magicNumber), Field::kI32, 1},
    {"rampType", offsetof(rr_ramp_hdr_t, rampType), Field::kI32, 1},
    {"pztID", offsetof(rr_ramp_hdr_t, pztID), Field::kI32, 1},
    {"rampID", offsetof(rr_ramp_hdr_t, rampID), Field::kI32, 1},
    {"nPoints", offsetof(rr_ramp_hdr_t, nPoints), Field::kI32, 1},
    {"rampUp", offsetof(rr_ramp_hdr_t, rampUp), Field::kI32, 1},
    {"rampStart", offsetof(rr_ramp_hdr_t, rampStart), Field::kI32, 1},
    {"rampLinear", offsetof(rr_ramp_hdr_t, rampLinear), Field::kI32, 1},
    {"rampEnd", offsetof(rr_ramp_hdr_t, rampEnd), Field::kI32, 1},
    {"sampleClkFreq", offsetof(rr_ramp_hdr_t, sampleClkFreq), Field::kF32, 1},
    {"cameraRate", offsetof(rr_ramp_hdr_t, cameraRate), Field::kF32, 1},
    {"updateRate", offsetof(rr_ramp_hdr_t, updateRate), Field::kI32, 1},
    {"grabSkip", offsetof(rr_ramp_hdr_t, grabSkip), Field::kI32, 1},
    {"rampSlope", offsetof(rr_ramp_hdr_t, rampSlope), Field::kF32, 1},
    {"trigStartAddr", offsetof(rr_ramp_hdr_t, trigStartAddr), Field::kI32, 1},
    {"trigEndAddr", offsetof(rr_ramp_hdr_t, trigEndAddr), Field::kI32, 1},
    {"rampGainDflt", offsetof(rr_ramp_hdr_t, rampGainDflt), Field::kI32, 1},
    {"rampTriple", offsetof(rr_ramp_hdr_t, rampTriple), Field::kF32, 3},
    {"scanLen", offsetof(rr_ramp_hdr_t, scanLen), Field::kF32, 1},
    {"polar", offsetof(rr_ramp_hdr_t, polar), Field::kI32, 1},
    {"offset", offsetof(rr_ramp_hdr_t, offset), Field::kI32, 1},
    {"nBuckets", offsetof(rr_ramp_hdr_t, nBuckets), Field::kI32, 1},
    {"rampLin", offsetof(rr_ramp_hdr_t, rampLin), Field::kF32, 1},
    {"rampTrim", offsetof(rr_ramp_hdr_t, rampTrim), Field::kF32, 1},
    {"cameraPClock", offsetof(rr_ramp_hdr_t, cameraPClock), Field::kF32, 1},
    {"cameraHPeriod", offsetof(rr_ramp_hdr_t, cameraHPeriod), Field::kI32, 1},
    {"cameraVPeriod", offsetof(rr_ramp_hdr_t, cameraVPeriod), Field::kI32, 1},
    {"cameraInterlace", offsetof(rr_ramp_hdr_t, cameraInterlace), Field::kI32, 1},
    {"rampMux", offsetof(rr_ramp_hdr_t, rampMux), Field::kI32, 1},
    {"instrBdType", offsetof(rr_ramp_hdr_t, instrBdType), Field::kI32, 1},
    {"compGain", offsetof(rr_ramp_hdr_t, compGain), Field::kI32, 1},
    {"compFilter", offsetof(rr_ramp_hdr_t, compFilter), Field::kI32, 1},
    {"leakage", offsetof(rr_ramp_hdr_t, leakage), Field::kI32, 1},
    {"adcMin", offsetof(rr_ramp_hdr_t, adcMin), Field::kI32, 1},
    {"adcMax", offsetof(rr_ramp_hdr_t, adcMax), Field::kI32, 1},
    {"adcFirst", offsetof(rr_ramp_hdr_t, adcFirst), Field::kI32, 1},
    {"adcMid", offsetof(rr_ramp_hdr_t, adcMid), Field::kI32, 1},
    {"adcLast", offsetof(rr_ramp_hdr_t, adcLast), Field::kI32, 1},
    {"scanCal", offsetof(rr_ramp_hdr_t, scanCal), Field::kF32, 1},
    {"reserved1", offsetof(rr_ramp_hdr_t, reserved1), Field::kI32, 1},
    {"fringesPerFrame", offsetof(rr_ramp_hdr_t, fringesPerFrame), Field::kF32, 1},
    {"objMag", offsetof(rr_ramp_hdr_t, objMag), Field::kF32, 1},
    {"wavelenSelect", offsetof(rr_ramp_hdr_t, wavelenSelect), Field::kI32, 1},
    {"reserved2", offsetof(rr_ramp_hdr_t, reserved2), Field::kI32, 1},
    {"dirFlag", offsetof(rr_ramp_hdr_t, dirFlag), Field::kI32, 1},
    {"reserved3", offsetof(rr_ramp_hdr_t, reserved3), Field::kI32, 2},
    {"spare", offsetof(rr_ramp_hdr_t, spare), Field::kText, 132},
};

static_assert(covers(kSourceFields, sizeof(df_source_info_t)));
static_assert(covers(kHeaderFields, sizeof(df_header_t)));
static_assert(covers(kRampHeaderFields, sizeof(rr_ramp_hdr_t)));

}  // namespace felbrin::python
