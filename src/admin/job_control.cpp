#include "admin/job_control.h"

#include <cstring>

#include "admin/rowset.h"
#include "common/capture.h"
#include "common/escape.h"
#include "common/json_read.h"
#include "common/text.h"

namespace {

constexpr std::size_t kJobIdSize = 128;      // at most 127 bytes once quotes are doubled
constexpr std::size_t kJobActionSize = 64;   // at most 63 bytes once quotes are doubled
constexpr std::size_t kJobStatementSize = 512;

struct job_action {
  const char *name;
  const char *sql;  // placeholder: the escaped job id
};

constexpr job_action kActions[] = {
    {"start", "EXEC msdb.dbo.sp_start_job @job_id = N'%s'"},
    {"stop", "EXEC msdb.dbo.sp_stop_job @job_id = N'%s'"},
    {"enable", "EXEC msdb.dbo.sp_update_job @job_id = N'%s', @enabled = 1"},
    {"disable", "EXEC msdb.dbo.sp_update_job @job_id = N'%s', @enabled = 0"},
};

char *refuse(const char *message) {
  qv_seterr("%s", message);
  return qv_err_json();
}

const job_action *find_action(const char *name) {
  for (const job_action &a : kActions)
    if (std::strcmp(a.name, name) == 0) return &a;
  return nullptr;
}

// Reads the argument document into the statement to run; false (reason
// recorded) when the argument is refused. The document is gone on return.
bool build_statement(const char *arg, char *sql, std::size_t sqlsize) {
  qv_json_doc doc;
  if (!doc.parse(arg)) {
    qv_seterr("%s",
              "arg must be JSON: {\"job_id\":\"...\",\"action\":\"start|stop|enable|disable\"}");
    return false;
  }
  const char *job_id = qv_json_str(doc.root(), "job_id", nullptr);
  const char *action = qv_json_str(doc.root(), "action", nullptr);
  if (!job_id || !action) {
    qv_seterr("job_id and action required");
    return false;
  }
  char id[kJobIdSize], act[kJobActionSize];
  if (qv_sql_escape(job_id, id, sizeof id) != 0 || qv_sql_escape(action, act, sizeof act) != 0) {
    qv_seterr("invalid job id/action");
    return false;
  }
  const job_action *a = find_action(action);
  if (!a) {
    qv_seterr("unknown job action: %s", action);
    return false;
  }
  qv_format_cut(sql, sqlsize, a->sql, id);
  return true;
}

}  // namespace

char *job_control(const qv_conn &conn, const char *arg) {
  if (!arg || !*arg) return refuse("job_control requires arg JSON");
  char sql[kJobStatementSize];
  if (!build_statement(arg, sql, sizeof sql)) return qv_err_json();
  return action_json(conn, "msdb", sql, action_shape::plain, "job control failed",
                     wait_limit::session);
}
