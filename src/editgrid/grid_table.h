// The edited table as the catalog describes it: every column in catalog
// order and every primary-key column in key order. Shared by the grid's load
// and apply.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <sybdb.h>

// One column of the edited table.
struct qv_grid_col {
  std::string name;  // as the catalog names it
  std::string type;  // e.g. nvarchar(50), varchar(max), decimal(10,2), int
  bool is_identity = false;
  bool is_computed = false;
  bool nullable = true;
};

using qv_grid_cols = std::vector<qv_grid_col>;

// The schema of a table named without one.
constexpr char kDefaultSchema[] = "dbo";
inline const char *eg_pick_schema(const char *schema) {
  return schema && *schema ? schema : kDefaultSchema;
}

// Describes every column of the user table schema.table. 0 on success (the
// list may be empty: no such user table), -1 when a name cannot be looked up
// or the catalog query failed.
int eg_load_columns(DBPROCESS *session, const char *schema, const char *table,
                    qv_grid_cols *columns);

// Every primary-key column of schema.table in key order; empty when the
// table has no key or the key could not be read.
std::vector<std::string> pk_columns(DBPROCESS *session, const char *schema, const char *table);

// The column a name from an edit addresses: the column with exactly this
// name, else the only one that equals it with ASCII letters folded.
constexpr int kNoColumn = -1;
constexpr int kAmbiguousColumn = -2;
int find_col_i(const qv_grid_cols &columns, std::string_view name);
// The column with exactly this name, or null.
const qv_grid_col *eg_exact_col(const qv_grid_cols &columns, std::string_view name);

// True for binary, varbinary and image columns, whose values travel as 0x... text.
bool eg_is_binary(const qv_grid_col &col);
