// The two reply shapes of the monitoring and administration views: a view's
// rows (rows_json) and the outcome of one action statement (action_json).
#pragma once

#include "common/conn.h"

// How long a statement may keep the client waiting for its first answer.
enum class wait_limit {
  session,  // the session's statement time-out
  none,     // statements that send nothing until they finish (backup, shrink)
};

// Opens a session in database, runs sql and replies
// {"ok","columns","rows","row_count","error"} with at most max_rows rows
// (1000 when below 1; further rows are read and dropped). A failed
// statement, a statement without a result set and an error arriving after
// the column metadata all give ok false with empty arrays. A failed login
// gives the error envelope.
char *rows_json(const qv_conn &conn, const char *database, const char *sql, int max_rows,
                wait_limit limit = wait_limit::session);

enum class action_shape {
  plain,          // {"ok","sql","error"}
  empty_rowset,   // {"ok","columns":[],"rows":[],"sql","error"}
};

// Opens a session in database and runs sql for its outcome; the reply shows
// the statement as sent, and fallback as the error when nothing was recorded.
char *action_json(const qv_conn &conn, const char *database, const char *sql,
                  action_shape shape, const char *fallback, wait_limit limit);
