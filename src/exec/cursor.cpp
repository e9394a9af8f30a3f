#include "exec/cursor.h"

#include "common/capture.h"
#include "common/reply.h"
#include "exec/cell.h"
#include "exec/session.h"

qv_cursor::~qv_cursor() {
  if (finished_ || qv_session_dead(session_)) return;
  qv_finish_results(session_);
}

int qv_cursor::open(const char *sql) {
  const qv_capture *cap = qv_cap();
  errors_at_send_ = cap->error_count;
  msgs_at_send_ = cap->msg_count;
  described_ = false;
  open_ = false;
  finished_ = true;
  if (qv_send(session_, sql) != 0) return fail();
  finished_ = false;
  int next = qv_next_result_with_columns(session_);
  if (next < 0) return fail();
  if (next == 0) {
    finished_ = true;
    dbfreebuf(session_);
    return errors_arrived() ? fail() : 0;
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

int qv_cursor::write_rows(qv_reply &out, int limit) {
  const qv_columns *cols = columns();
  qv_cell_buffer buf;
  if (!cols || !buf.data) return -1;
  out.begin_array();
  int count = 0, st;
  while ((st = next()) == 1) {
    if (count >= limit) continue;  // beyond the limit: read and dropped
    qv_append_row(session_, &out, cols->cols.get(), cols->count, buf.data, kCellBufSize);
    ++count;
  }
  out.end_array();
  return st == 0 && finish() == 0 ? count : -1;
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

bool qv_cursor::errors_arrived() const { return qv_cap()->error_count != errors_at_send_; }

int qv_cursor::fail() {
  open_ = false;
  if (!finished_ && !qv_session_dead(session_)) qv_finish_results(session_);
  finished_ = true;
  // The first server error of this statement is the reason, in its refined
  // form; a locked reason (dead session) stays.
  qv_capture *cap = qv_cap();
  if (!cap->reason_locked) qv_seterr_first_error_since(msgs_at_send_);
  if (!cap->err[0]) qv_seterr("query failed");
  cap->has_err = 1;
  return -1;
}
