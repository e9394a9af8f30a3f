#include "tree/node.h"

#include <cstdio>

#include "common/capture.h"
#include "common/reply.h"
#include "exec/cursor.h"

namespace qv::ops::tree {

qv_tree_node node_new(const char *id, const char *kind, const char *label, const char *sub) {
  return {id, kind, label, (sub && *sub) ? sub : nullptr};
}

void node_add(qv_tree_ctx &ctx, const qv_tree_node &node) {
  qv_reply &r = ctx.reply;
  r.begin_object();
  r.member_str("id", node.id);
  r.member_str("kind", node.kind);
  r.member_str("label", node.label);
  r.key("sub");
  r.str_or_null(node.sub);
  r.member_bool("has_children", true);
  r.key("meta");
  r.begin_object();
  r.end_object();
  r.end_object();
}

namespace {

// The text of a cell of the current row; "" for NULL, for a value that
// cannot be converted, and for an absent column (0).
const char *cell_text(const qv_cursor &cur, int column, char *buf) {
  buf[0] = '\0';
  if (column > 0) cur.cell(column, buf, kNodeTextSize, nullptr);
  return buf;
}

}  // namespace

int emit_rows(qv_tree_ctx &ctx, const char *sql, const char *kind, const char *id_prefix,
              const char *label_name, const char *sub_name) {
  qv_cursor cur(ctx.session);
  if (cur.open(sql) != 1) return -1;
  int label_col = cur.col(label_name);
  if (label_col == 0) {
    qv_seterr("query missing label column");
    return -1;
  }
  int sub_col = sub_name ? cur.col(sub_name) : 0;

  char label[kNodeTextSize];
  char sub[kNodeTextSize];
  char id[kNodeIdSize];
  int row = 0;
  int st;
  while ((st = cur.next()) == 1) {
    std::snprintf(id, sizeof id, "%s/%d", id_prefix, row++);
    node_add(ctx, node_new(id, kind, cell_text(cur, label_col, label), cell_text(cur, sub_col, sub)));
  }
  if (st < 0) return -1;
  return cur.finish();
}

}  // namespace qv::ops::tree
