// Server monitoring and administration: the activity monitor, storage, and
// administration views and actions. Each call runs one statement, decided
// with its session's database before any login. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>

#include "exec/frame.h"
#include "exec/results.h"

namespace qv::ops::admin {

// The two reply shapes of these calls.
enum class reply_shape {
  rows,           // {"ok","columns","rows","row_count","error"}
  action,         // {"ok","sql","error"}
  action_rowset,  // {"ok","columns":[],"rows":[],"sql","error"}
};

// The one statement a call runs and how its reply looks.
struct admin_request {
  std::string sql;
  reply_shape shape = reply_shape::rows;
  int max_rows = kDefaultMaxRows;     // rows views: at most this many rows
  const char *fallback = nullptr;     // actions: the error when nothing was recorded

  // Runs the statement on the call's session and builds the reply.
  char *reply(qv_call &call) const;
};

// What the three operations share: check() fills the request, run() runs it.
struct admin_operation : qv_operation {
  admin_request request{};
  char *run(qv_call &call) { return request.reply(call); }
};

// The activity monitor: sessions, waits, expensive queries, blocking.
struct qv_impl_activity : admin_operation {
  const char *view;
  bool check(const qv_conn &conn, qv_session_plan &plan);
};

// Storage: files, shrink, backup, backup history.
struct qv_impl_storage : admin_operation {
  const char *database;
  const char *action;
  const char *arg;
  bool check(const qv_conn &conn, qv_session_plan &plan);
};

// Administration: jobs and job control, logins, database users, the error
// log, the query store.
struct qv_impl_admin : admin_operation {
  const char *kind;
  const char *database;
  const char *arg;
  bool check(const qv_conn &conn, qv_session_plan &plan);
};

// The job-control statement for arg, the JSON document
// {"job_id": "...", "action": "start|stop|enable|disable"}; false (reason
// recorded) when the argument is refused.
bool job_control_statement(const char *arg, std::string *sql);

}  // namespace qv::ops::admin
