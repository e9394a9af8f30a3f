// The exported C interface. Each function states its required texts and
// hands its arguments to its operation, built inside the one frame, which refuses
// bad input before any login, opens and closes the session and lets no
// exception cross this boundary.
#include <cstdlib>

#include "admin/admin.h"
#include "common/capture.h"
#include "editgrid/editgrid.h"
#include "exec/frame.h"
#include "query/query.h"
#include "quorvex/dbdesk_core.h"
#include "scripting/scripting.h"
#include "tree/tree.h"

namespace {

using namespace qv::ops;
using qv::exec::qv_run_local;
using qv::exec::qv_run_operation;

const char g_version[] = "1.2.0";

}  // namespace

extern "C" {

const char *dbdesk_core_version(void) { return g_version; }

const char *dbdesk_core_last_error(void) { return qv::common::qv_err(); }

void dbdesk_core_free(void *p) { std::free(p); }

char *dbdesk_core_connect_test(const char *host, int port, const char *user,
                               const char *password, const char *database, int encrypt,
                               int timeout_s) {
  return qv_run_operation({}, [&] {
    return query::qv_impl_connect_test{
        {}, host, port, user, password, database, encrypt, timeout_s};
  });
}

char *dbdesk_core_tree(const char *conn_json, const char *node_kind, const char *database,
                       const char *schema, const char *obj) {
  return qv_run_operation({{"conn_json", conn_json}, {"node_kind", node_kind}}, [&] {
    return tree::qv_impl_tree{{conn_json}, node_kind, database, schema, obj};
  });
}

char *dbdesk_core_query(const char *conn_json, const char *database, const char *sql,
                        int max_rows, int timeout_s) {
  return qv_run_operation({{"conn_json", conn_json}, {"sql", sql}}, [&] {
    return query::qv_impl_query{{{conn_json}, database, sql}, max_rows, timeout_s};
  });
}

char *dbdesk_core_kill_spid(const char *conn_json, int spid) {
  return qv_run_operation({{"conn_json", conn_json}},
                          [&] { return query::qv_impl_kill_spid{{conn_json}, spid}; });
}

char *dbdesk_core_script_object(const char *conn_json, const char *database, const char *kind,
                                const char *schema, const char *obj, const char *action) {
  return qv_run_operation(
      {{"conn_json", conn_json}, {"kind", kind}, {"obj", obj}, {"action", action}}, [&] {
        return scripting::qv_impl_script_object{{conn_json}, database, kind, schema, obj, action};
      });
}

char *dbdesk_core_editgrid_load(const char *conn_json, const char *database, const char *schema,
                                const char *table, int max_rows) {
  return qv_run_operation({{"conn_json", conn_json}, {"table", table}}, [&] {
    return editgrid::qv_impl_editgrid_load{{conn_json}, database, schema, table, max_rows};
  });
}

char *dbdesk_core_editgrid_apply(const char *conn_json, const char *database, const char *schema,
                                 const char *table, const char *ops_json, int dry_run) {
  return qv_run_operation(
      {{"conn_json", conn_json}, {"table", table}, {"ops_json", ops_json}}, [&] {
        return editgrid::qv_impl_editgrid_apply{
            {conn_json}, database, schema, table, ops_json, dry_run};
      });
}

char *dbdesk_core_activity(const char *conn_json, const char *view) {
  return qv_run_operation({{"conn_json", conn_json}, {"view", view}},
                          [&] { return admin::qv_impl_activity{{{conn_json}}, view}; });
}

char *dbdesk_core_storage(const char *conn_json, const char *database, const char *action,
                          const char *arg) {
  return qv_run_operation({{"conn_json", conn_json}, {"action", action}}, [&] {
    return admin::qv_impl_storage{{{conn_json}}, database, action, arg};
  });
}

char *dbdesk_core_admin(const char *conn_json, const char *kind, const char *database,
                        const char *arg) {
  return qv_run_operation({{"conn_json", conn_json}, {"kind", kind}}, [&] {
    return admin::qv_impl_admin{{{conn_json}}, kind, database, arg};
  });
}

char *dbdesk_core_query_stream(const char *conn_json, const char *database, const char *sql,
                               int max_rows, int timeout_s, dbdesk_core_event_fn on_event,
                               void *user) {
  return qv_run_operation(
      {{"conn_json", conn_json}, {"sql", sql}, {"on_event", on_event != nullptr}}, [&] {
        return query::qv_impl_query_stream{
            {{conn_json}, database, sql}, max_rows, timeout_s, on_event, user};
      });
}

char *dbdesk_core_cancel(const char *tag) {
  return qv_run_local({{"tag", tag}}, [&] { return query::qv_impl_cancel(tag); });
}

}  // extern "C"
