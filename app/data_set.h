// The four records a data file read fills, with the matrices released when
// the command is done with them, so that a command can also run inside a
// longer-lived process.
#pragma once

#include "data/binary_file.h"
#include "data/records.h"

namespace app {

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

}  // namespace app
