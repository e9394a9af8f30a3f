// Starting, stopping, enabling and disabling one SQL Agent job.
#include <cstring>
#include <string_view>

#include "admin/admin.h"
#include "common/capture.h"
#include "common/json_read.h"
#include "common/names.h"
#include "common/text.h"

namespace qv::ops::admin {

namespace {

struct job_action {
  const char *name;
  const char *sql;  // placeholder: the inside of the job id's literal
};

constexpr job_action kActions[] = {
    {"start", "EXEC msdb.dbo.sp_start_job @job_id = N'%s'"},
    {"stop", "EXEC msdb.dbo.sp_stop_job @job_id = N'%s'"},
    {"enable", "EXEC msdb.dbo.sp_update_job @job_id = N'%s', @enabled = 1"},
    {"disable", "EXEC msdb.dbo.sp_update_job @job_id = N'%s', @enabled = 0"},
};

const job_action *find_action(std::string_view name) {
  for (const job_action &a : kActions)
    if (name == a.name) return &a;
  return nullptr;
}

// A string member's whole text (it may hold U+0000, which a C string would
// hide); false when absent or not a string.
bool text_member(const qv_json_value &root, const char *key, std::string_view *out) {
  const qv_json_value *v = qv_json_member(root, key);
  if (!v || !v->IsString()) return false;
  *out = {v->GetString(), v->GetStringLength()};
  return true;
}

}  // namespace

bool job_control_statement(const char *arg, std::string *sql) {
  if (!arg || !*arg) {
    qv_seterr("job_control requires arg JSON");
    return false;
  }
  qv_json_doc doc;
  if (!doc.parse(arg)) {
    qv_seterr("%s",
              "arg must be JSON: {\"job_id\":\"...\",\"action\":\"start|stop|enable|disable\"}");
    return false;
  }
  std::string_view job_id, action;
  if (!text_member(doc.root(), "job_id", &job_id) || !text_member(doc.root(), "action", &action)) {
    qv_seterr("job_id and action required");
    return false;
  }
  if (!qv_text_legal(job_id) || !qv_text_legal(action)) {
    qv_seterr("invalid job id/action");
    return false;
  }
  const job_action *a = find_action(action);
  if (!a) {
    qv_seterr("unknown job action: %.*s", static_cast<int>(action.size()), action.data());
    return false;
  }
  *sql = qv_formatted(a->sql, qv_literal_inside(job_id).c_str());
  return true;
}

}  // namespace qv::ops::admin
