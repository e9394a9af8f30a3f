// Scripting an object: the frame every action shares. It checks the
// arguments, opens the session on the object's database, runs the action
// and writes the reply ok, title, sql, params, props, error.
#include <cstring>

#include "common/capture.h"
#include "common/conn.h"
#include "common/operation.h"
#include "common/reply.h"
#include "exec/session.h"
#include "scripting/names.h"
#include "scripting/scripting.h"

namespace {

constexpr char kDefaultSchema[] = "dbo";

struct action_entry {
  const char *name;
  script_action run;
};

// The actions, compared exactly; the null entry ends the table.
constexpr action_entry kActions[] = {
    {"select_top", script_select_top},   {"create", script_create},
    {"alter", script_alter},             {"drop", script_drop},
    {"drop_create", script_drop_create}, {"insert", script_insert},
    {"update", script_update},           {"delete", script_delete},
    {"exec_params", script_exec_params}, {"table_props", script_table_props},
    {nullptr, nullptr},
};

script_action find_action(const char *name) {
  for (const action_entry *a = kActions; a->name; ++a)
    if (std::strcmp(a->name, name) == 0) return a->run;
  return nullptr;
}

bool empty(const char *s) { return !s || !*s; }

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

char *qv_impl_script_object(const char *conn_json, const char *database, const char *kind,
                            const char *schema, const char *obj, const char *action) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  if (empty(kind) || empty(obj) || empty(action)) {
    qv_seterr("kind, obj and action are required");
    return qv_err_json();
  }
  if (empty(schema)) schema = kDefaultSchema;
  const char *db = qv_pick_database(database, &conn);
  script_action run = find_action(action);
  if (!run) {
    qv_seterr("unknown action: %s", action);
    return qv_err_json();
  }

  qv_reset();
  qv_session session(qv_open(&conn, db));
  if (!session) return qv_err_json();
  if (!legal_name(schema) || !legal_name(obj)) {
    session.reset();
    qv_seterr("invalid identifier");
    return qv_err_json();
  }

  script_target t;
  t.session = session.get();
  t.database = db;
  t.kind = kind;
  t.schema = schema;
  t.obj = obj;
  t.qualified = qv_bracketed(schema) + "." + qv_bracketed(obj);
  t.title = qv_formatted("%s - %s.%s", action, schema, obj);

  script_result res;
  res.title = t.title;
  int rc = run(t, &res);
  session.reset();
  if (rc != 0) return qv_err_json();
  return reply_of(res);
}
