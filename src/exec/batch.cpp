#include "exec/batch.h"

#include "common/cancel.h"
#include "common/reply.h"
#include "exec/results.h"
#include "exec/session.h"

namespace {

int batch_limit(int max_rows) {
  if (max_rows < 1) return kDefaultMaxRows;
  return max_rows > kBatchMaxRowsCap ? kBatchMaxRowsCap : max_rows;
}

// One result-set object: columns, rows, truncated. -1 when memory ran out or
// the session died while its rows were read.
int read_result_set(DBPROCESS *session, int limit, qv_reply *w) {
  qv_columns cols;
  if (qv_load_columns(session, true, &cols) != 0) return -1;
  qv_cell_buffer buf;
  if (!buf.data) return -1;
  if (w) {
    w->begin_object();
    qv_write_columns(*w, cols);
  }
  qv_row_stats stats = qv_write_rows(session, cols, limit, w, buf.data);
  if (w) {
    w->member_bool("truncated", stats.truncated);
    w->end_object();
  }
  return stats.failed() ? -1 : 0;
}

}  // namespace

void qv_batch_init(qv_batch *batch, qv_reply *doc) {
  batch->doc = doc;
  if (doc) {
    doc->key("results");
    doc->begin_array();
  }
}

void qv_batch_end(qv_batch *batch) {
  if (batch->doc) batch->doc->end_array();
}

int qv_run_batch(DBPROCESS *session, const char *sql, int max_rows, qv_batch *batch) {
  int limit = batch_limit(max_rows);
  if (qv_send(session, sql) != 0) return -1;
  for (;;) {
    int next = qv_next_result_with_columns(session);
    if (next <= 0) {
      dbfreebuf(session);
      return next == 0 ? 0 : -1;
    }
    if (read_result_set(session, limit, batch->doc) != 0) {
      if (!qv_session_dead(session) && !qv_cancel_requested()) qv_finish_results(session);
      return -1;
    }
  }
}
