#include "exec/results.h"

#include <cstdlib>
#include <new>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/reply.h"
#include "exec/session.h"

namespace qv::exec {

void qv_columns::freer::operator()(qv_col *p) const { std::free(p); }

qv_cell_buffer::qv_cell_buffer() : data(static_cast<char *>(std::malloc(kCellBufSize))) {
  if (!data) throw std::bad_alloc();
}
qv_cell_buffer::~qv_cell_buffer() { std::free(data); }

bool qv_cancel_results_if_asked(DBPROCESS *session) {
  if (!qv_stop_if_cancelled()) return false;
  if (!qv_session_dead(session)) dbcancel(session);
  return true;
}

int qv_next_result_with_columns(DBPROCESS *session, const qv_count_observer *observer) {
  int failures = 0;
  for (;;) {
    RETCODE rc = dbresults(session);
    if (rc == NO_MORE_RESULTS) return 0;
    if (rc == SUCCEED) {
      failures = 0;
      if (dbnumcols(session) > 0) return 1;
      // db-lib gives -1 for a result that reports no count (SET, PRINT).
      if (DBINT rows = dbcount(session); observer && observer->counted && rows >= 0)
        observer->counted(observer->user, rows);
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

void qv_write_column_array(qv_reply &w, const qv_columns &cols) {
  w.begin_array();
  for (int i = 0; i < cols.count; ++i) qv_write_column(w, cols.cols.get()[i]);
  w.end_array();
}

void qv_write_columns(qv_reply &w, const qv_columns &cols) {
  w.key("columns");
  qv_write_column_array(w, cols);
}

}  // namespace qv::exec
