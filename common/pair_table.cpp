#include "common/pair_table.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "common/errors.h"

void u_pair_table_clear(u_pair_table_t* table) {
  if (table == nullptr) return;
  table->pairs.reset();
  table->count = 0;
}

int u_pair_table_assign(u_pair_table_t* table, std::span<const u_pair_t> pairs) {
  if (table == nullptr ||
      pairs.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
    return ERR_INVALID_PARAM;
  u_pair_array_t copy;
  if (!pairs.empty()) {
    copy.reset(static_cast<u_pair_t*>(u_calloc_fn(pairs.size(), sizeof(u_pair_t))));
    if (!copy) return ERR_NO_MEM;
    std::copy(pairs.begin(), pairs.end(), copy.get());
  }
  table->pairs = std::move(copy);
  table->count = static_cast<int32_t>(pairs.size());
  return 0;
}
