// Server administration: SQL Agent jobs and their control, logins, database
// users, the error log and the query store.
#include <cstring>

#include "admin/admin.h"
#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"

namespace qv::ops::admin {

namespace {

constexpr int kListMaxRows = 1000;
constexpr int kErrorLogMaxRows = 2000;
constexpr int kQueryStoreMaxRows = 100;

// sysjobactivity has no execution status: a job with a started, unfinished
// run in the current Agent session is executing (1), any other idle (4).
constexpr char kJobs[] =
    "SELECT j.job_id, j.name, j.enabled, j.description, j.date_created, CASE WHEN s.job_id IS "
    "NULL THEN 4 ELSE 1 END AS current_execution_status FROM msdb.dbo.sysjobs j LEFT JOIN "
    "msdb.dbo.sysjobactivity s ON s.job_id = j.job_id AND s.session_id = (SELECT MAX(session_id) "
    "FROM msdb.dbo.sysjobactivity) AND s.start_execution_date IS NOT NULL AND "
    "s.stop_execution_date IS NULL ORDER BY j.name";

constexpr char kLogins[] =
    "SELECT sp.name, sp.type_desc, sp.is_disabled, sp.create_date, sp.default_database_name, "
    "dl.name AS default_server_role FROM sys.server_principals sp LEFT JOIN "
    "sys.server_role_members rm ON rm.member_principal_id = sp.principal_id LEFT JOIN "
    "sys.server_principals dl ON dl.principal_id = rm.role_principal_id WHERE sp.type IN "
    "('S','U','G') ORDER BY sp.name";

// The current log of the server itself, newest lines first so that the row
// limit drops the oldest.
constexpr char kErrorLog[] =
    "EXEC master.sys.xp_readerrorlog 0, 1, N'', N'', NULL, NULL, N'desc'";

// Placeholders: the quoted database name, three times.
constexpr char kDbUsers[] =
    "SELECT dp.name, dp.type_desc, dp.authentication_type_desc, ISNULL(STRING_AGG(rp.name, ', ') "
    "WITHIN GROUP (ORDER BY rp.name), '') AS roles FROM %s.sys.database_principals dp LEFT JOIN "
    "%s.sys.database_role_members rm ON rm.member_principal_id = dp.principal_id LEFT JOIN "
    "%s.sys.database_principals rp ON rp.principal_id = rm.role_principal_id WHERE dp.type IN "
    "('S','U','G') GROUP BY dp.name, dp.type_desc, dp.authentication_type_desc ORDER BY dp.name";

// Placeholders: the quoted database name, four times.
constexpr char kQueryStore[] =
    "SELECT TOP (100) q.query_id, p.plan_id, SUBSTRING(qt.query_sql_text, 1, 4000) AS "
    "query_sql_text, rs.count_executions, rs.avg_duration, rs.avg_cpu_time, "
    "rs.avg_logical_io_reads FROM %s.sys.query_store_runtime_stats rs JOIN %s.sys.query_store_plan "
    "p ON p.plan_id = rs.plan_id JOIN %s.sys.query_store_query q ON q.query_id = p.query_id JOIN "
    "%s.sys.query_store_query_text qt ON qt.query_text_id = q.query_text_id ORDER BY "
    "rs.avg_duration DESC";

// A list read in a fixed database.
bool fixed_list(admin_request &request, qv_session_plan &plan, const char *database,
                const char *sql, int max_rows) {
  request.sql = sql;
  request.max_rows = max_rows;
  plan.database = database;
  return true;
}

// A view of one database, read in it, its bracketed name in every
// placeholder of sql.
bool database_view(admin_request &request, qv_session_plan &plan, const qv_conn &conn,
                   const char *database, const char *sql, int max_rows) {
  if (!qv_choose_database(database, conn, "invalid database", &plan.database)) return false;
  std::string ident = qv_bracketed(plan.database);
  request.sql = qv_formatted(sql, ident.c_str(), ident.c_str(), ident.c_str(), ident.c_str());
  request.max_rows = max_rows;
  return true;
}

}  // namespace

bool qv_impl_admin::check(const qv_conn &conn, qv_session_plan &plan) {
  if (std::strcmp(kind, "jobs") == 0)
    return fixed_list(request, plan, "msdb", kJobs, kListMaxRows);
  if (std::strcmp(kind, "job_control") == 0) {
    request.shape = reply_shape::action;
    request.fallback = "job control failed";
    plan.database = "msdb";
    return job_control_statement(arg, &request.sql);
  }
  if (std::strcmp(kind, "logins") == 0)
    return fixed_list(request, plan, "master", kLogins, kListMaxRows);
  if (std::strcmp(kind, "db_users") == 0)
    return database_view(request, plan, conn, database, kDbUsers, kListMaxRows);
  if (std::strcmp(kind, "errorlog") == 0)
    return fixed_list(request, plan, "master", kErrorLog, kErrorLogMaxRows);
  if (std::strcmp(kind, "querystore") == 0)
    return database_view(request, plan, conn, database, kQueryStore, kQueryStoreMaxRows);
  qv_seterr("unknown admin kind: %s (jobs|job_control|logins|db_users|errorlog|querystore)",
            kind);
  return false;
}

}  // namespace qv::ops::admin
