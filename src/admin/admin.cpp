// Server administration: SQL Agent jobs and their control, logins, database
// users, the error log and the query store.
#include <cstring>

#include "admin/job_control.h"
#include "admin/names.h"
#include "admin/rowset.h"
#include "common/capture.h"
#include "common/conn.h"
#include "common/operation.h"
#include "common/text.h"

namespace {

constexpr int kListMaxRows = 1000;
constexpr int kErrorLogMaxRows = 2000;
constexpr int kQueryStoreMaxRows = 100;
constexpr std::size_t kStatementSize = 2048;

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

static_assert(sizeof kDbUsers + 3 * kQuotedNameSize < kStatementSize);
static_assert(sizeof kQueryStore + 4 * kQuotedNameSize < kStatementSize);

// A view of one database, its quoted name in every placeholder of sql.
char *database_view(const qv_conn &conn, const char *database, const char *sql, int max_rows) {
  char ident[kQuotedNameSize];
  if (quote_name(database, ident) != 0) {
    qv_seterr("invalid database");
    return qv_err_json();
  }
  char statement[kStatementSize];
  qv_format_cut(statement, sizeof statement, sql, ident, ident, ident, ident);
  return rows_json(conn, database, statement, max_rows);
}

}  // namespace

char *qv_impl_admin(const char *conn_json, const char *kind, const char *database,
                    const char *arg) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  if (!kind || !*kind) {
    qv_seterr("kind is required");
    return qv_err_json();
  }
  const char *target = qv_pick_database(database, &conn);
  if (std::strcmp(kind, "jobs") == 0) return rows_json(conn, "msdb", kJobs, kListMaxRows);
  if (std::strcmp(kind, "job_control") == 0) return job_control(conn, arg);
  if (std::strcmp(kind, "logins") == 0) return rows_json(conn, "master", kLogins, kListMaxRows);
  if (std::strcmp(kind, "db_users") == 0)
    return database_view(conn, target, kDbUsers, kListMaxRows);
  if (std::strcmp(kind, "errorlog") == 0)
    return rows_json(conn, "master", kErrorLog, kErrorLogMaxRows);
  if (std::strcmp(kind, "querystore") == 0)
    return database_view(conn, target, kQueryStore, kQueryStoreMaxRows);
  qv_seterr("unknown admin kind: %s (jobs|job_control|logins|db_users|errorlog|querystore)",
            kind);
  return qv_err_json();
}
