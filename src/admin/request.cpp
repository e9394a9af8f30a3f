#include "admin/admin.h"

#include "common/capture.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "exec/cursor.h"

namespace qv::ops::admin {

namespace {

void write_empty_array(qv_reply &r, const char *key) {
  r.key(key);
  r.begin_array();
  r.end_array();
}

// The columns and rows of sql's first result set, each rendered as a JSON
// array into its own scratch writer. False when the read failed at any point.
bool read_rowset(DBPROCESS *session, const char *sql, int limit, qv_reply &columns,
                 qv_reply &rows, int *count) {
  qv_cursor cursor(session);
  if (cursor.open(sql) != 1) return false;
  const qv_columns *cols = cursor.columns();
  if (!cols) return false;
  qv_write_column_array(columns, *cols);
  qv_cursor::rows_written written = cursor.write_rows(rows, limit);
  *count = written.count;
  return !written.failed && cursor.finish() == 0;
}

// {"ok","columns","rows","row_count","error"}: a failed statement, one
// without a result set and an error after the column metadata all give ok
// false with empty arrays.
char *rows_reply(qv_call &call, const char *sql, int max_rows) {
  qv_reply columns, rows;
  int count = 0;
  bool ok = read_rowset(call.db(), sql, max_rows < 1 ? kDefaultMaxRows : max_rows, columns,
                        rows, &count);
  call.session.reset();

  qv_reply r;
  r.begin_object();
  r.member_bool("ok", ok);
  if (ok) {
    r.key("columns");
    r.raw(columns.text());
    r.key("rows");
    r.raw(rows.text());
  } else {
    write_empty_array(r, "columns");
    write_empty_array(r, "rows");
  }
  r.member_int("row_count", ok ? count : 0);
  qv_write_error_member(r, ok, "query failed");
  r.end_object();
  return r.release();
}

// The outcome of one action statement, showing the statement as sent.
char *action_reply(qv_call &call, const char *sql, bool with_rowset, const char *fallback) {
  bool ok = qv_run_statement(call.db(), sql) == 0;
  call.session.reset();

  qv_reply r;
  r.begin_object();
  r.member_bool("ok", ok);
  if (with_rowset) {
    write_empty_array(r, "columns");
    write_empty_array(r, "rows");
  }
  r.member_str("sql", sql);
  qv_write_error_member(r, ok, fallback);
  r.end_object();
  return r.release();
}

}  // namespace

char *admin_request::reply(qv_call &call) const {
  if (shape == reply_shape::rows) return rows_reply(call, sql.c_str(), max_rows);
  return action_reply(call, sql.c_str(), shape == reply_shape::action_rowset, fallback);
}

}  // namespace qv::ops::admin
