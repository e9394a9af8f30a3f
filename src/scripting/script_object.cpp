// Scripting an object: the frame every action shares. It checks the
// arguments, opens the session on the object's database, runs the action
// and writes the reply ok, title, sql, params, props, error.
#include <cstring>

#include "common/capture.h"
#include "common/names.h"
#include "common/reply.h"
#include "common/text.h"
#include "scripting/scripting.h"

namespace qv::ops::scripting {

namespace {

constexpr char kDefaultSchema[] = "dbo";

struct action_entry {
  const char *name;
  script_action run;
  bool by_kind;  // the script depends on the object's kind
};

// The actions, compared exactly; the null entry ends the table.
constexpr action_entry kActions[] = {
    {"select_top", script_select_top, false},   {"create", script_create, true},
    {"alter", script_alter, true},              {"drop", script_drop, true},
    {"drop_create", script_drop_create, true},  {"insert", script_insert, false},
    {"update", script_update, false},           {"delete", script_delete, false},
    {"exec_params", script_exec_params, false}, {"table_props", script_table_props, false},
    {nullptr, nullptr, false},
};

const action_entry *find_action(const char *name) {
  for (const action_entry *a = kActions; a->name; ++a)
    if (std::strcmp(a->name, name) == 0) return a;
  return nullptr;
}

char *reply_of(const script_result &res) {
  qv_reply r;
  r.begin_object();
  r.member_bool("ok", true);
  r.member_str("title", res.title);
  r.key("sql");
  if (res.sql_null) r.null();
  else r.str(res.sql);
  r.key("params");
  r.begin_array();
  r.end_array();
  r.key("props");
  r.begin_object();
  for (const auto &[key, value] : res.props) r.member_str(key, value);
  r.end_object();
  r.member_null("error");
  r.end_object();
  return r.release();
}

}  // namespace

bool qv_impl_script_object::check(const qv_conn &conn, qv_session_plan &plan) {
  if (!schema || !*schema) schema = kDefaultSchema;
  const action_entry *found = find_action(action);
  if (!found) {
    qv_seterr("unknown action: %s", action);
    return false;
  }
  run_action = found->run;
  // A kind the definitions do not know is never scripted as some other
  // kind: a DROP of the wrong kind could drop another object of that name.
  if (found->by_kind && !(keyword = definition_keyword(kind))) {
    qv_seterr("unknown kind: %s", kind);
    return false;
  }
  if (!qv_name_legal(schema) || !qv_name_legal(obj)) {
    qv_seterr("invalid identifier");
    return false;
  }
  if (!qv_choose_database(database, conn, "invalid database name", &db)) return false;
  plan.database = db;
  return true;
}

char *qv_impl_script_object::run(qv_call &call) {
  script_target t;
  t.session = call.db();
  t.database = db.c_str();
  t.keyword = keyword;
  t.schema = schema;
  t.obj = obj;
  t.qualified = qv_bracketed(schema) + "." + qv_bracketed(obj);
  t.full_name = qv_bracketed(db) + "." + t.qualified;
  t.title = qv_formatted("%s - %s.%s", action, schema, obj);

  script_result res;
  res.title = t.title;
  std::int32_t losses = qv_conversion_losses();
  int rc = run_action(t, &res);
  call.session.reset();
  if (rc == 0 && qv_conversion_losses() != losses) {
    // db-lib changed catalog text on its way ('?' for what it could not
    // convert): the script would name other columns or parameters.
    qv_seterr("cannot script %s.%s: the catalog's text cannot be converted without loss", schema,
              obj);
    rc = -1;
  }
  if (rc != 0) return qv_err_json();
  return reply_of(res);
}

int refuse_unreadable(const script_target &t, const char *what) {
  std::string reason = qv_err_msg();
  qv_seterr_force("cannot script %s.%s: its %s cannot be read (%s)", t.schema, t.obj, what,
                  reason.c_str());
  return -1;
}

}  // namespace qv::ops::scripting
