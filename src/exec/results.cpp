#include "exec/results.h"

#include <cstdlib>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/reply.h"
#include "exec/session.h"

void qv_columns::freer::operator()(qv_col *p) const { std::free(p); }

qv_cell_buffer::qv_cell_buffer() : data(static_cast<char *>(std::malloc(kCellBufSize))) {
  if (!data) qv_seterr("out of memory");
}
qv_cell_buffer::~qv_cell_buffer() { std::free(data); }

bool qv_cancel_results_if_asked(DBPROCESS *session) {
  if (!qv_stop_if_cancelled()) return false;
  if (!qv_session_dead(session)) dbcancel(session);
  return true;
}

int qv_next_result_with_columns(DBPROCESS *session) {
  int failures = 0;
  for (;;) {
    RETCODE rc = dbresults(session);
    if (rc == NO_MORE_RESULTS) return 0;
    if (rc == SUCCEED) {
      failures = 0;
      if (dbnumcols(session) > 0) return 1;
      continue;
    }
    // A failed statement: its error came through the callbacks; go on
    // unless the connection is gone.
    if (qv_session_dead(session) || ++failures > kMaxConsecutiveResultFailures) return -1;
  }
}

namespace {

// Fetches and drops the rows of the current result set; false when the
// session died meanwhile. A cancelled call cancels the rest instead.
bool drain_rows(DBPROCESS *session) {
  for (;;) {
    if (qv_cancel_results_if_asked(session)) return !qv_session_dead(session);
    STATUS st = dbnextrow(session);
    if (st == NO_MORE_ROWS) return true;
    if (st == FAIL) return !qv_session_dead(session);
  }
}

}  // namespace

void qv_finish_results(DBPROCESS *session) {
  // db-lib refuses to move on while rows of the current result set are
  // unread; results without columns have no rows to drop.
  if (drain_rows(session)) {
    while (qv_next_result_with_columns(session) == 1 && drain_rows(session)) {
    }
  }
  dbfreebuf(session);
}

int qv_load_columns(DBPROCESS *session, bool ask_nullable, qv_columns *out) {
  int n = dbnumcols(session);
  out->count = 0;
  out->cols.reset(static_cast<qv_col *>(std::calloc(n > 0 ? n : 1, sizeof(qv_col))));
  if (!out->cols) {
    qv_seterr("out of memory");
    return -1;
  }
  for (int i = 0; i < n; ++i) qv_describe_col(session, i + 1, ask_nullable, out->cols.get() + i);
  out->count = n;
  return 0;
}

void qv_write_columns(qv_reply &w, const qv_columns &cols) {
  w.key("columns");
  w.begin_array();
  for (int i = 0; i < cols.count; ++i) qv_write_column(w, cols.cols.get()[i]);
  w.end_array();
}

qv_row_stats qv_write_rows(DBPROCESS *session, const qv_columns &cols, int limit, qv_reply *w,
                           char *buf) {
  qv_row_stats stats;
  if (w) {
    w->key("rows");
    w->begin_array();
  }
  for (;;) {
    STATUS st = dbnextrow(session);
    if (st == NO_MORE_ROWS) break;
    if (st == FAIL) {
      stats.dead = qv_session_dead(session);
      break;
    }
    if (qv_cancel_results_if_asked(session)) {
      stats.cancelled = true;
      break;
    }
    if (stats.count >= limit) {
      stats.truncated = true;
      stats.dead = !drain_rows(session);
      stats.cancelled = qv_cancel_requested();
      break;
    }
    qv_append_row(session, w, cols.cols.get(), cols.count, buf, kCellBufSize);
    ++stats.count;
  }
  if (w) w->end_array();
  return stats;
}

namespace {

int reader_limit(int max_rows) { return max_rows < 1 ? kDefaultMaxRows : max_rows; }

// The first result set of sql, with or without its column objects.
int select_first(DBPROCESS *session, const char *sql, int max_rows, qv_reply *w, int *row_count,
                 bool with_columns) {
  if (row_count) *row_count = 0;
  if (qv_send(session, sql) != 0) return -1;
  if (qv_next_result_with_columns(session) != 1) {
    qv_finish_results(session);
    return -1;
  }
  qv_columns cols;
  if (qv_load_columns(session, false, &cols) != 0) return -1;
  qv_cell_buffer buf;
  if (!buf.data) return -1;
  if (w && with_columns) qv_write_columns(*w, cols);
  qv_row_stats stats = qv_write_rows(session, cols, reader_limit(max_rows), w, buf.data);
  if (row_count) *row_count = stats.count;
  if (stats.failed()) return -1;
  qv_finish_results(session);
  return 0;
}

}  // namespace

int qv_select_to_json(DBPROCESS *session, const char *sql, int max_rows, qv_reply *w,
                      int *row_count) {
  return select_first(session, sql, max_rows, w, row_count, true);
}

int qv_select_rows_only(DBPROCESS *session, const char *sql, int max_rows, qv_reply *w,
                        int *row_count) {
  return select_first(session, sql, max_rows, w, row_count, false);
}

int qv_scalar(DBPROCESS *session, const char *sql, char *buf, std::size_t bufsize) {
  if (buf && bufsize) buf[0] = '\0';
  if (qv_send(session, sql) != 0) return -1;
  if (qv_next_result_with_columns(session) != 1) {
    qv_finish_results(session);
    return -1;
  }
  STATUS st = dbnextrow(session);
  if (st == NO_MORE_ROWS || st == FAIL) {
    qv_finish_results(session);
    return -1;
  }
  if (qv_cell(session, 1, buf, bufsize, nullptr) != 0 && buf && bufsize) buf[0] = '\0';
  qv_finish_results(session);
  return 0;
}

int qv_exec_simple(DBPROCESS *session, const char *sql) {
  if (qv_send(session, sql) != 0) return -1;
  qv_finish_results(session);
  const qv_capture *cap = qv_cap();
  return (cap->has_err && cap->fatal) ? -1 : 0;
}
