// The object explorer: one level of the tree per call. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>

#include "exec/frame.h"
#include "tree/kinds.h"

namespace qv::ops::tree {

// The children of one node, one catalog query per node kind (the server
// root is built from the settings instead).
struct qv_impl_tree : qv_operation {
  const char *node_kind;
  const char *database;
  const char *schema;
  const char *obj;

  const qv_node_kind *kind = nullptr;
  std::string schema_text{};  // the insides of the N'...' literals
  std::string obj_text{};

  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
};

}  // namespace qv::ops::tree
