// The edit grid: loading a table for editing, and applying row edits to it
// in one transaction. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>

#include "editgrid/edit_ops.h"
#include "exec/frame.h"

namespace qv::ops::editgrid {

// The names an edited table is addressed by, checked before any login.
struct grid_names {
  const char *schema = nullptr;  // the caller's, "dbo" when none was given
  const char *table = nullptr;
  std::string database;
  // Checks the names and picks the database; false ("invalid identifier"
  // recorded) when a name is not legal.
  bool check(const qv_conn &conn, const char *database_arg, const char *schema_arg,
             const char *table_arg);
};

// A table's columns, its primary key and its first rows, in one reply.
struct qv_impl_editgrid_load : qv_operation {
  const char *database;
  const char *schema;
  const char *table;
  int max_rows;

  grid_names names{};

  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
};

// The grid's row edits as INSERT, UPDATE and DELETE statements addressed by
// the whole primary key, run in one transaction (or only built).
struct qv_impl_editgrid_apply : qv_operation {
  const char *database;
  const char *schema;
  const char *table;
  const char *ops_json;
  int dry_run;

  grid_names names{};
  eg_ops_doc doc{};
  const qv_json_value *ops = nullptr;

  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
};

}  // namespace qv::ops::editgrid
