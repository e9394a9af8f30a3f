#include "admin/rowset.h"

#include "common/capture.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "exec/cursor.h"
#include "exec/results.h"
#include "exec/session.h"

namespace {

// db-lib counts a wait in milliseconds in an int, so this is the longest
// time-out it can hold (about 24.8 days): in practice, none. db-lib refuses
// 0 as a per-session time-out.
constexpr char kNoWaitLimitSeconds[] = "2147483";

void lift_wait_limit(DBPROCESS *session, wait_limit limit) {
  if (limit == wait_limit::none) dbsetopt(session, DBSETTIME, kNoWaitLimitSeconds, 0);
}

qv_session open_session(const qv_conn &conn, const char *database, wait_limit limit) {
  qv_reset();
  qv_session session(qv_open(&conn, database));
  if (session) lift_wait_limit(session.get(), limit);
  return session;
}

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
  columns.begin_array();
  for (int i = 0; i < cols->count; ++i) qv_write_column(columns, cols->cols.get()[i]);
  columns.end_array();
  *count = cursor.write_rows(rows, limit);
  return *count >= 0;
}

}  // namespace

char *rows_json(const qv_conn &conn, const char *database, const char *sql, int max_rows,
                wait_limit limit) {
  qv_session session = open_session(conn, database, limit);
  if (!session) return qv_err_json();
  qv_reply columns, rows;
  int count = 0;
  bool ok = read_rowset(session.get(), sql, max_rows < 1 ? kDefaultMaxRows : max_rows, columns,
                        rows, &count);
  session.reset();

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

char *action_json(const qv_conn &conn, const char *database, const char *sql,
                  action_shape shape, const char *fallback, wait_limit limit) {
  qv_session session = open_session(conn, database, limit);
  if (!session) return qv_err_json();
  bool ok = qv_exec_simple(session.get(), sql) == 0;
  session.reset();

  qv_reply r;
  r.begin_object();
  r.member_bool("ok", ok);
  if (shape == action_shape::empty_rowset) {
    write_empty_array(r, "columns");
    write_empty_array(r, "rows");
  }
  r.member_str("sql", sql);
  qv_write_error_member(r, ok, fallback);
  r.end_object();
  return r.release();
}
