// A result set's rows, whichever way they are given, and its whole encoding
// (COLMETADATA and rows) with the layout a cut is placed by.
#pragma once

#include <cstddef>

#include "bytes.h"
#include "tds_server/server.h"

namespace tds::wire {

// Calls fn(const Row &) for every row of rs, from `rows` or `generate`.
template <class Fn>
void each_row(const ResultSet &rs, Fn &&fn) {
  if (!rs.generate) {
    for (const Row &row : rs.rows) fn(row);
    return;
  }
  Row scratch;
  for (std::size_t i = 0; i < rs.generated_rows; ++i) {
    scratch.assign(rs.columns.size(), std::nullopt);
    rs.generate(i, scratch);
    fn(static_cast<const Row &>(scratch));
  }
}

// COLMETADATA and every row of rs (no DONE); fills layout when given.
// Throws std::invalid_argument on a value that does not fit its column.
Bytes encode_result_set(const ResultSet &rs, bool utf8, ResultSetLayout *layout = nullptr);

}  // namespace tds::wire
