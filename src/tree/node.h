// The explorer's node objects and the routine that turns the rows of one
// catalog query into nodes, streamed straight into the reply.
// Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>

#include <sybdb.h>

namespace qv::common {
class qv_reply;
}

namespace qv::ops::tree {


// Limits callers can observe: a node's label and sub text keep at most
// kNodeTextSize - 1 bytes (cut on a character boundary).
constexpr std::size_t kNodeTextSize = 1024;
constexpr std::size_t kNodeIdSize = 1200;

// One call's emission context: the reply (positioned inside its "nodes"
// array) and the open session. The caller owns both.
struct qv_tree_ctx {
  qv_reply &reply;
  DBPROCESS *session;
};

// A node ready to be written: id, kind and label are required; sub may be
// null. The texts are borrowed until node_add writes them.
struct qv_tree_node {
  const char *id;
  const char *kind;
  const char *label;
  const char *sub;
};

qv_tree_node node_new(const char *id, const char *kind, const char *label, const char *sub);
// Writes the node as the next element of the nodes array:
// id, kind, label, sub (null when absent or empty), has_children, meta.
void node_add(qv_tree_ctx &ctx, const qv_tree_node &node);

// Runs sql and appends one node per row of its first result set with
// columns: kind, id "<id_prefix>/<row>", label from label_name ("" for NULL),
// sub from sub_name (may be null or absent). 0 on success; -1 when the query
// failed, returned no result set, lacks the label column, or its rows could
// not all be read (reason recorded). After -1 the nodes written are not an
// answer: the caller discards the reply.
int emit_rows(qv_tree_ctx &ctx, const char *sql, const char *kind, const char *id_prefix,
              const char *label_name, const char *sub_name);

}  // namespace qv::ops::tree
