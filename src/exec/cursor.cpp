#include "exec/cursor.h"

#include "common/capture.h"
#include "common/reply.h"
#include "exec/cell.h"
#include "exec/session.h"

namespace qv::exec {

qv_cursor::~qv_cursor() {
  if (finished_ || qv_session_dead(session_)) return;
  qv_finish_results(session_);
}

int qv_cursor::open(const char *sql) {
  scope_ = qv_failure_scope();
  described_ = false;
  open_ = false;
  finished_ = true;
  if (qv_send(session_, sql) != 0) return fail();
  finished_ = false;
  return next_result();
}

int qv_cursor::next_result() {
  if (finished_) return 0;
  if (open_) {
    int st;
    while ((st = next()) == 1) {
    }
    if (st < 0) return -1;
  }
  described_ = false;
  int next = qv_next_result_with_columns(session_, &counts_);
  if (next < 0) return fail();
  if (next == 0) {
    finished_ = true;
    dbfreebuf(session_);
    return errors_arrived() || qv_session_dead(session_) ? fail() : 0;
  }
  if (errors_arrived()) return fail();
  open_ = true;
  return 1;
}

int qv_cursor::col(const char *name) const { return open_ ? qv_col_idx(session_, name) : 0; }

int qv_cursor::ncols() const { return open_ ? dbnumcols(session_) : 0; }

const qv_columns *qv_cursor::columns(bool ask_nullable) {
  if (!open_) return nullptr;
  if (!described_) {
    if (qv_load_columns(session_, ask_nullable, &cols_) != 0) return nullptr;
    described_ = true;
  }
  return &cols_;
}

int qv_cursor::next() {
  if (!open_) return 0;
  if (qv_cancel_results_if_asked(session_)) {
    finished_ = true;
    return fail();
  }
  STATUS st = dbnextrow(session_);
  if (st == NO_MORE_ROWS) {
    open_ = false;
    return errors_arrived() ? fail() : 0;
  }
  if (st == FAIL) {
    open_ = false;
    if (qv_session_dead(session_)) {
      // db-lib gave the session up while reading the row (a value it could
      // not convert, for one) and said why in its own error: that stays the
      // reason, whatever the call's later statements find.
      qv_keep_reason();
      finished_ = true;
      return fail();
    }
    return errors_arrived() ? fail() : 0;
  }
  if (errors_arrived()) return fail();
  return 1;
}

int qv_cursor::cell(int column, char *buf, std::size_t bufsize, int *is_null) const {
  return qv_cell(session_, column, buf, bufsize, is_null);
}

std::string qv_cursor::text(int column, std::size_t max_bytes) const {
  if (column == 0) return {};
  std::string buf(max_bytes + 1, '\0');
  if (cell(column, buf.data(), buf.size(), nullptr) != 0) return {};
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  return buf;
}

bool qv_cursor::is_null(int column) const {
  return column == 0 || (dbdatlen(session_, column) == 0 && !dbdata(session_, column));
}

qv_cursor::rows_written qv_cursor::write_rows(qv_reply &out, int limit) {
  rows_written written;
  const qv_columns *cols = columns();
  qv_cell_buffer buf;
  if (!cols) {
    written.failed = true;
    return written;
  }
  out.begin_array();
  int st;
  while ((st = next()) == 1) {
    if (written.count >= limit) {
      written.truncated = true;  // beyond the limit: read and dropped
      continue;
    }
    qv_append_row(session_, &out, cols->cols.get(), cols->count, buf.data, kCellBufSize);
    ++written.count;
  }
  out.end_array();
  written.failed = st < 0;
  return written;
}

int qv_cursor::finish() {
  if (!finished_) {
    if (qv_session_dead(session_)) return fail();
    qv_finish_results(session_);
    open_ = false;
    finished_ = true;
  }
  if (qv_session_dead(session_) || errors_arrived()) return fail();
  return 0;
}

bool qv_cursor::errors_arrived() const { return mode_ == errors::fail && scope_.failed(); }

int qv_cursor::fail() {
  open_ = false;
  if (!finished_ && !qv_session_dead(session_)) qv_finish_results(session_);
  finished_ = true;
  // The first server error of this statement is the reason, in its refined
  // form; a locked reason (dead session, cancelled call) stays. A script's
  // batch leaves its errors to the messages.
  if (mode_ == errors::fail) scope_.record_reason("query failed");
  return -1;
}

int qv_run_statement(DBPROCESS *session, const char *sql, long long *rows) {
  qv_cursor cur(session);
  if (cur.open(sql) < 0 || cur.finish() != 0) return -1;
  if (rows) *rows = dbcount(session);
  return 0;
}

int qv_read_scalar(DBPROCESS *session, const char *sql, std::size_t max_bytes, std::string *out) {
  out->clear();
  qv_cursor cur(session);
  int opened = cur.open(sql);
  if (opened <= 0) return opened;
  int row = cur.next();
  if (row == 1) *out = cur.text(1, max_bytes);
  if (row < 0 || cur.finish() != 0) {
    out->clear();
    return -1;
  }
  return row;
}

}  // namespace qv::exec
