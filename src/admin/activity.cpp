// The activity monitor: four fixed views of what the server is doing, each
// read in master.
#include <cstring>

#include "admin/admin.h"
#include "common/capture.h"

namespace qv::ops::admin {

namespace {

constexpr int kActivityMaxRows = 1000;

struct activity_view {
  const char *name;
  const char *sql;
};

// Every user session, with its request and current statement when it has
// one: OUTER APPLY keeps the idle ones (a sleeping session may hold the locks
// others wait on).
constexpr char kSessions[] =
    "SELECT s.session_id AS spid, DB_NAME(r.database_id) AS database_name, s.login_name, "
    "s.host_name, s.program_name, s.status AS session_status, r.status AS request_status, "
    "r.command, r.cpu_time, r.total_elapsed_time, r.blocking_session_id, r.wait_type, "
    "r.wait_time, SUBSTRING(st.text, (r.statement_start_offset/2)+1,  ((CASE "
    "r.statement_end_offset WHEN -1 THEN DATALENGTH(st.text)  ELSE r.statement_end_offset END "
    "- r.statement_start_offset)/2)+1) AS statement FROM sys.dm_exec_sessions s LEFT JOIN "
    "sys.dm_exec_requests r ON r.session_id = s.session_id OUTER APPLY "
    "sys.dm_exec_sql_text(r.sql_handle) st WHERE s.is_user_process = 1 ORDER BY s.session_id";

constexpr char kBlocking[] =
    "SELECT r.session_id AS spid, r.blocking_session_id AS blocked_by, DB_NAME(r.database_id) "
    "AS database_name, r.wait_type, r.wait_time, r.command, s.login_name, s.host_name, "
    "SUBSTRING(st.text, (r.statement_start_offset/2)+1,  ((CASE r.statement_end_offset WHEN -1 "
    "THEN DATALENGTH(st.text)  ELSE r.statement_end_offset END - "
    "r.statement_start_offset)/2)+1) AS statement FROM sys.dm_exec_requests r JOIN "
    "sys.dm_exec_sessions s ON s.session_id = r.session_id CROSS APPLY "
    "sys.dm_exec_sql_text(r.sql_handle) st WHERE r.blocking_session_id <> 0 ORDER BY "
    "r.blocking_session_id, r.session_id";

constexpr char kWaits[] =
    "SELECT TOP (100) wait_type, waiting_tasks_count, wait_time_ms, max_wait_time_ms, "
    "signal_wait_time_ms FROM sys.dm_os_wait_stats WHERE wait_type NOT LIKE 'SESSION%' AND "
    "wait_type NOT LIKE 'SLEEP%' ORDER BY wait_time_ms DESC";

constexpr char kExpensive[] =
    "SELECT TOP (100) DB_NAME(st.dbid) AS database_name, SUBSTRING(st.text, 1, 4000) AS "
    "query_text, qs.total_elapsed_time, qs.total_worker_time, qs.execution_count, "
    "qs.total_elapsed_time / NULLIF(qs.execution_count,0) AS avg_elapsed_time FROM "
    "sys.dm_exec_query_stats qs CROSS APPLY sys.dm_exec_sql_text(qs.sql_handle) st ORDER BY "
    "qs.total_elapsed_time DESC";

constexpr activity_view kViews[] = {
    {"sessions", kSessions},
    {"blocking", kBlocking},
    {"waits", kWaits},
    {"expensive", kExpensive},
};

const activity_view *find_view(const char *name) {
  for (const activity_view &v : kViews)
    if (std::strcmp(v.name, name) == 0) return &v;
  return nullptr;
}

}  // namespace

bool qv_impl_activity::check(const qv_conn &, qv_session_plan &plan) {
  const activity_view *v = find_view(view);
  if (!v) {
    qv_seterr("unknown activity view: %s (sessions|waits|expensive|blocking)", view);
    return false;
  }
  request.sql = v->sql;
  request.max_rows = kActivityMaxRows;
  plan.database = "master";
  return true;
}

}  // namespace qv::ops::admin
