#include "result_sets.h"

#include "columns.h"

namespace tds::wire {

Bytes encode_result_set(const ResultSet &rs, bool utf8, ResultSetLayout *layout) {
  Bytes b;
  put_colmetadata(b, rs.columns, utf8);
  ResultSetLayout scratch;
  ResultSetLayout &l = layout ? *layout : scratch;
  l = ResultSetLayout{};
  l.colmetadata_end = b.size();
  each_row(rs, [&](const Row &row) {
    put_row(b, rs.columns, row, rs.use_nbcrow, utf8, layout ? &l.plp_chunk_starts : nullptr);
    l.row_ends.push_back(b.size());
  });
  return b;
}

}  // namespace tds::wire

namespace tds {

ResultSetLayout layout_of(const ResultSet &rs, bool utf8) {
  ResultSetLayout layout;
  wire::encode_result_set(rs, utf8, &layout);
  return layout;
}

}  // namespace tds
