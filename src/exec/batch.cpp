#include "exec/batch.h"

#include "common/reply.h"
#include "exec/cursor.h"

namespace qv::exec {

namespace {

int batch_limit(int max_rows) {
  if (max_rows < 1) return kDefaultMaxRows;
  return max_rows > kBatchMaxRowsCap ? kBatchMaxRowsCap : max_rows;
}

// The current result set as one object: columns, rows, truncated. -1 when
// memory ran out or the read failed.
int write_result_set(qv_cursor &cur, int limit, qv_reply &out) {
  const qv_columns *cols = cur.columns(true);
  if (!cols) return -1;
  out.begin_object();
  qv_write_columns(out, *cols);
  out.key("rows");
  qv_cursor::rows_written rows = cur.write_rows(out, limit);
  out.member_bool("truncated", rows.truncated);
  out.end_object();
  return rows.failed ? -1 : 0;
}

}  // namespace

int qv_run_batch(DBPROCESS *session, const char *sql, int max_rows, qv_reply &out) {
  int limit = batch_limit(max_rows);
  out.key("results");
  out.begin_array();
  qv_cursor cur(session, qv_cursor::errors::go_on);
  int rc = cur.open(sql);
  while (rc == 1) {
    rc = write_result_set(cur, limit, out) == 0 ? cur.next_result() : -1;
  }
  out.end_array();
  return rc;
}

}  // namespace qv::exec
