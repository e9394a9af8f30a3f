// The explorer's vocabulary: every node kind it can expand, with the catalog
// query that lists the node's children and how those rows become nodes.
// Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <string>

namespace qv::ops::tree {

// Which caller-supplied names a kind's query takes, in placeholder order.
enum class qv_name_use {
  none,              // the query text is sent unchanged
  schema_obj,        // schema, obj
  schema_obj_twice,  // schema, obj, schema, obj
};

struct qv_node_kind {
  const char *name;        // the node_kind argument, matched exactly
  const char *child_kind;  // "kind" of every child node
  const char *id_prefix;
  const char *label_col;
  const char *sub_col;
  qv_name_use names;
  const char *sql;         // null for the server node, which is built, not queried
  bool obj_required = false;
};

// The kind called name (case-sensitive), or null when there is none.
const qv_node_kind *qv_find_node_kind(const char *name);

// kind's query with the names it uses: schema and obj are the insides of
// N'...' literals (quotes doubled).
std::string qv_node_query(const qv_node_kind &kind, const char *schema, const char *obj);

}  // namespace qv::ops::tree
