// The four records a data file read fills, holding the matrices' buffers
// until it goes (commands that may run inside a longer-lived process, tests).
#pragma once

#include "data/binary_file.h"
#include "data/records.h"

namespace felbrin {

struct DataSet {
  df_source_info_t source{};
  df_header_t header{};
  mx_bkt16_t intensity{};
  mx_i32_t phase{};
  DataSet() = default;
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;
  ~DataSet() {
    mx_bkt16_release(&intensity);
    mx_i32_release(&phase);
  }
};

}  // namespace felbrin
