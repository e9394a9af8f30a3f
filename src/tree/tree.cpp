#include "tree/tree.h"

#include <cstring>

#include "common/capture.h"
#include "common/names.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/cursor.h"
#include "tree/node.h"

namespace qv::ops::tree {

namespace {

constexpr std::size_t kVersionTextBytes = 511;
constexpr std::size_t kServerLabelSize = 768;
constexpr std::size_t kVersionShownBytes = 120;

// The inside of a literal for an optional name: absent or empty stays "";
// false for a name that is not legal.
bool name_text(const char *name, std::string *out) {
  if (!name || !*name) return true;
  if (!qv_name_legal(name)) return false;
  *out = qv_literal_inside(name);
  return true;
}

// The server root: "host:port (SQL Server <version> - user)", the version cut
// to its first 120 bytes on a character boundary.
int add_server_node(qv_tree_ctx &ctx, const qv_conn &conn) {
  std::string version;
  if (qv_read_scalar(ctx.session, "SELECT @@version", kVersionTextBytes, &version) < 0) return -1;
  const char *shown = version.empty() ? "?" : version.c_str();
  int shown_len =
      static_cast<int>(qv_utf8_prefix_len(shown, std::strlen(shown), kVersionShownBytes));
  char label[kServerLabelSize];
  qv_format_cut(label, sizeof label, "%s:%d (SQL Server %.*s - %s)", conn.host, conn.port,
                shown_len, shown, conn.user);
  node_add(ctx, node_new("server", "server", label, nullptr));
  return 0;
}

int emit_children(qv_tree_ctx &ctx, const qv_node_kind &kind, const std::string &schema,
                  const std::string &obj) {
  std::string sql = qv_node_query(kind, schema.c_str(), obj.c_str());
  return emit_rows(ctx, sql.c_str(), kind.child_kind, kind.id_prefix, kind.label_col,
                   kind.sub_col);
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

bool qv_impl_tree::check(const qv_conn &conn, qv_session_plan &plan) {
  if (!name_text(schema, &schema_text) || !name_text(obj, &obj_text)) {
    qv_seterr("invalid identifier characters in schema/obj");
    return false;
  }
  kind = qv_find_node_kind(node_kind);
  if (kind && kind->obj_required && obj_text.empty()) {
    qv_seterr("obj (table name) required");
    return false;
  }
  if (!kind) {
    qv_seterr("unknown node_kind: %s", node_kind);
    return false;
  }
  return qv_choose_database(database, conn, "invalid database name", &plan.database);
}

char *qv_impl_tree::run(qv_call &call) {
  // Nodes stream into the reply as rows arrive; a read that fails part-way
  // drops this reply for the failure reply.
  qv_reply r;
  r.begin_object();
  r.key("nodes");
  r.begin_array();
  qv_tree_ctx ctx{r, call.db()};
  int rc = kind->sql ? emit_children(ctx, *kind, schema_text, obj_text)
                     : add_server_node(ctx, call.conn);
  call.session.reset();
  if (rc != 0) return failed_reply();
  r.end_array();
  r.member_bool("ok", true);
  qv_write_error_member(r, true, nullptr);
  r.end_object();
  return r.release();
}

}  // namespace qv::ops::tree
