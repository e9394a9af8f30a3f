// The exported C interface: argument checks, then hand-over to the
// operation's implementation. No exception crosses this boundary.
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <new>
#include <utility>

#include "common/capture.h"
#include "common/operation.h"
#include "common/text.h"
#include "quorvex/dbdesk_core.h"

namespace {

const char g_version[] = "1.1.0";

struct required_arg {
  const char *name;
  const char *value;
};

bool missing(const char *value) { return !value || !*value; }

// Records the first missing argument; true when all are present.
bool check_required(std::initializer_list<required_arg> args) {
  for (const required_arg &a : args) {
    if (missing(a.value)) {
      qv_seterr("missing required parameter: %s", a.name);
      return false;
    }
  }
  return true;
}

// Runs an operation body, turning any escaping exception into the envelope.
template <class Body>
char *guarded(Body &&body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc &) {
    qv_seterr_force("out of memory");
  } catch (const std::exception &e) {
    qv_seterr_force("internal error: %s", e.what());
  } catch (...) {
    qv_seterr_force("internal error");
  }
  return qv_err_json();
}

template <class Impl>
char *framed(std::initializer_list<required_arg> required, Impl &&impl) noexcept {
  return guarded([&]() -> char * {
    qv_reset();
    if (!check_required(required)) return qv_err_json();
    return impl();
  });
}

}  // namespace

extern "C" {

const char *dbdesk_core_version(void) { return g_version; }

const char *dbdesk_core_last_error(void) { return qv_err(); }

void dbdesk_core_free(void *p) { std::free(p); }

char *dbdesk_core_connect_test(const char *host, int port, const char *user,
                               const char *password, const char *database, int encrypt,
                               int timeout_s) {
  return guarded([&]() -> char * {
    qv_reset();
    if (!host || !user) {
      qv_seterr("host and user are required");
      return qv_err_json();
    }
    return qv_impl_connect_test(host, port, user, password, database, encrypt, timeout_s);
  });
}

char *dbdesk_core_tree(const char *conn_json, const char *node_kind, const char *database,
                       const char *schema, const char *obj) {
  return framed({{"conn_json", conn_json}, {"node_kind", node_kind}},
                [&] { return qv_impl_tree(conn_json, node_kind, database, schema, obj); });
}

char *dbdesk_core_query(const char *conn_json, const char *database, const char *sql,
                        int max_rows, int timeout_s) {
  return framed({{"conn_json", conn_json}, {"sql", sql}},
                [&] { return qv_impl_query(conn_json, database, sql, max_rows, timeout_s); });
}

char *dbdesk_core_kill_spid(const char *conn_json, int spid) {
  return framed({{"conn_json", conn_json}}, [&] { return qv_impl_kill_spid(conn_json, spid); });
}

char *dbdesk_core_script_object(const char *conn_json, const char *database, const char *kind,
                                const char *schema, const char *obj, const char *action) {
  return framed(
      {{"conn_json", conn_json}, {"kind", kind}, {"obj", obj}, {"action", action}},
      [&] { return qv_impl_script_object(conn_json, database, kind, schema, obj, action); });
}

char *dbdesk_core_editgrid_load(const char *conn_json, const char *database, const char *schema,
                                const char *table, int max_rows) {
  return framed({{"conn_json", conn_json}, {"table", table}}, [&] {
    return qv_impl_editgrid_load(conn_json, database, schema, table, max_rows);
  });
}

char *dbdesk_core_editgrid_apply(const char *conn_json, const char *database, const char *schema,
                                 const char *table, const char *ops_json, int dry_run) {
  return framed({{"conn_json", conn_json}, {"table", table}, {"ops_json", ops_json}}, [&] {
    return qv_impl_editgrid_apply(conn_json, database, schema, table, ops_json, dry_run);
  });
}

char *dbdesk_core_activity(const char *conn_json, const char *view) {
  return framed({{"conn_json", conn_json}, {"view", view}},
                [&] { return qv_impl_activity(conn_json, view); });
}

char *dbdesk_core_storage(const char *conn_json, const char *database, const char *action,
                          const char *arg) {
  return framed({{"conn_json", conn_json}, {"action", action}},
                [&] { return qv_impl_storage(conn_json, database, action, arg); });
}

char *dbdesk_core_admin(const char *conn_json, const char *kind, const char *database,
                        const char *arg) {
  return framed({{"conn_json", conn_json}, {"kind", kind}},
                [&] { return qv_impl_admin(conn_json, kind, database, arg); });
}

char *dbdesk_core_cancel(const char *tag) {
  return framed({{"tag", tag}}, [&] { return qv_impl_cancel(tag); });
}

}  // extern "C"
