// One level of the object explorer: the children of one node, one catalog
// query per node kind (the server root is built from the settings instead).
#include <cstring>

#include "common/capture.h"
#include "common/conn.h"
#include "common/escape.h"
#include "common/names.h"
#include "common/operation.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/results.h"
#include "exec/session.h"
#include "tree/kinds.h"
#include "tree/node.h"

namespace {

// Any legal name (sysname: 128 UTF-16 code units) fits once its quotes are
// doubled: a code unit takes at most 3 UTF-8 bytes, a doubled quote 2.
constexpr std::size_t kMaxUtf8BytesPerUnit = 3;
constexpr std::size_t kEscapedNameSize = kMaxNameUnits * kMaxUtf8BytesPerUnit + 1;
constexpr std::size_t kQuerySize = 8192;
constexpr std::size_t kVersionTextSize = 512;
constexpr std::size_t kServerLabelSize = 768;
constexpr std::size_t kVersionShownBytes = 120;

struct escaped_names {
  char schema[kEscapedNameSize] = "";
  char obj[kEscapedNameSize] = "";
};

// The contents of a string literal for name; absent or empty stays "". -1 for
// control characters, invalid UTF-8 (db-lib would send only the part before
// it) and names longer than any legal name.
int escape_name(const char *name, char *out) {
  if (!name || !*name) return 0;
  if (!qv_name_fits(name)) return -1;
  return qv_sql_escape(name, out, kEscapedNameSize);
}

int escape_names(const char *schema, const char *obj, escaped_names *out) {
  if (escape_name(schema, out->schema) != 0 || escape_name(obj, out->obj) != 0) return -1;
  return 0;
}

// The server root: "host:port (SQL Server <version> - user)", the version cut
// to its first 120 bytes on a character boundary.
int add_server_node(qv_tree_ctx &ctx, const qv_conn &conn) {
  char version[kVersionTextSize] = "";
  qv_scalar(ctx.session, "SELECT @@version", version, sizeof version);
  const char *shown = version[0] ? version : "?";
  int shown_len =
      static_cast<int>(qv_utf8_prefix_len(shown, std::strlen(shown), kVersionShownBytes));
  char label[kServerLabelSize];
  qv_format_cut(label, sizeof label, "%s:%d (SQL Server %.*s - %s)", conn.host, conn.port,
                shown_len, shown, conn.user);
  node_add(ctx, node_new("server", "server", label, nullptr));
  return 0;
}

int emit_children(qv_tree_ctx &ctx, const qv_node_kind &kind, const escaped_names &names) {
  // Longest text plus four escaped names is far below kQuerySize; a text
  // that did not fit would fail as "query failed" rather than be cut.
  char sql[kQuerySize];
  if (qv_node_query(kind, names.schema, names.obj, sql, sizeof sql) != 0) return -1;
  return emit_rows(ctx, sql, kind.child_kind, kind.id_prefix, kind.label_col, kind.sub_col);
}

// The reply of a failed catalog query: no nodes, ok false, the reason.
char *failed_reply() {
  qv_reply r;
  r.begin_object();
  r.key("nodes");
  r.begin_array();
  r.end_array();
  r.member_bool("ok", false);
  qv_write_error_member(r, false, "query failed");
  r.end_object();
  return r.release();
}

}  // namespace

char *qv_impl_tree(const char *conn_json, const char *node_kind, const char *database,
                   const char *schema, const char *obj) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  qv_reset();
  if (!node_kind || !*node_kind) {
    qv_seterr("node_kind is required");
    return qv_err_json();
  }
  qv_session session(qv_open(&conn, qv_pick_database(database, &conn)));
  if (!session) return qv_err_json();

  escaped_names names;
  if (escape_names(schema, obj, &names) != 0) {
    session.reset();
    qv_seterr("invalid identifier characters in schema/obj");
    return qv_err_json();
  }
  const qv_node_kind *kind = qv_find_node_kind(node_kind);
  if (kind && kind->obj_required && !names.obj[0]) {
    session.reset();
    qv_seterr("obj (table name) required");
    return qv_err_json();
  }
  if (!kind) {
    session.reset();
    qv_seterr("unknown node_kind: %s", node_kind);
    return qv_err_json();
  }

  // Nodes stream into the reply as rows arrive; a read that fails part-way
  // drops this reply for the failure reply.
  qv_reply r;
  r.begin_object();
  r.key("nodes");
  r.begin_array();
  qv_tree_ctx ctx{r, session.get()};
  int rc = kind->sql ? emit_children(ctx, *kind, names) : add_server_node(ctx, conn);
  session.reset();
  if (rc != 0) return failed_reply();
  r.end_array();
  r.member_bool("ok", true);
  qv_write_error_member(r, true, nullptr);
  r.end_object();
  return r.release();
}
