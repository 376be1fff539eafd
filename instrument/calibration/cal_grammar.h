// Internal: the keyword lines of the calibration file. One table describes
// every line once, in the order the writer writes them; the reader applies
// a row to each line it reads and the writer asks each row for its text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/util.h"
#include "instrument/calibration/char_source.h"
#include "instrument/record/sys_info.h"

namespace felbrin::cal {

// The camera type's name as the calibration file writes it; type 0's name
// ("Unknown") for a value outside the enumeration.
std::string_view camera_type_name(int32_t type);

// Entries of the bad-pixel list before the first with x < 0.
inline int bad_pixel_count(const sysInfo_t& s) {
  int n = 0;
  while (n < SB_MAX_BAD_PIXELS && s.badPixels[n].x >= 0) ++n;
  return n;
}

// Lines the validation asks about.
enum Seen : uint32_t {
  SEEN_VERSION = 1u << 0,
  SEEN_INSTRCOMM = 1u << 1,  // InstrComm or MacAddress
  SEEN_INVERTDATA = 1u << 2,
  SEEN_LLCTARGET = 1u << 3,
  SEEN_LIGHT = 1u << 4,  // a wavelength value on a Light line
  SEEN_PIFOC = 1u << 5,  // Pifoc or PztId
  SEEN_WMCOMM = 1u << 6,
  SEEN_WMMONOPD = 1u << 7,
  SEEN_WMSYSGAIN = 1u << 8,
  SEEN_BADLIST = 1u << 9,
  SEEN_BADFILE = 1u << 10,
  SEEN_ALL = (1u << 11) - 1,
};

// The state of one read while its lines are applied.
struct Reader {
  CalCharSource& src;
  sysInfo_t& info;
  int status = 0;
  // A sub-record could not be made: the read ends with ERR_NO_MEM.
  bool out_of_memory = false;
  int bad_pixels = 0;
  uint32_t seen = 0;
  // Values of the last LLC Range line: 2, or 4 with the second range.
  int llc_range_values = 0;
};

// Applies the rule of the keyword `first` (already read) to the rest of the
// line.
void apply_rule(Reader& r, int32_t first);

// The state of one write.
struct Writer {
  const sysInfo_t& info;
  std::string out;
  // The last fault's code (0 when none).
  int result = 0;
};

// Appends every line of the record, in order.
void write_lines(Writer& w);

// Each line the writer writes for a record, as its keyword and the text of
// its values ("System" for the line that begins with the system type), for a
// readable listing of what the record holds.
struct ShownLine {
  std::string keyword;
  std::string values;
};
std::vector<ShownLine> shown_lines(const sysInfo_t& s);

// What tests may know of the lines whose values are read as listed: the
// keyword and each value's kind and bounds.
struct ValueView {
  bool integer = false;
  bool word = false;
  double lo = 0, hi = 0;
  bool lo_open = false, hi_open = false;
  bool optional = false;
};
struct LineView {
  std::string_view keyword;
  std::vector<ValueView> values;
  bool written = false;  // the writer writes it under some condition
};
std::vector<LineView> listed_lines();

// Characters of the keyword field before a line's values.
inline constexpr std::size_t kKeywordField = 22;

}  // namespace felbrin::cal
