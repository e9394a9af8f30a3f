// The edit grid's read side: a table's columns, its primary key and its
// first rows, in one reply.
#include <string>
#include <vector>

#include "common/capture.h"
#include "common/names.h"
#include "common/reply.h"
#include "editgrid/editgrid.h"
#include "exec/catalog.h"
#include "exec/cursor.h"

namespace qv::ops::editgrid {

namespace {

constexpr int kDefaultGridRows = 200;
constexpr int kMaxGridRows = 5000;
// The rows are ordered by at most this many key columns.
constexpr std::size_t kMaxOrderKeys = 16;
constexpr char kReadOnlyReason[] = "table has no primary key \xE2\x80\x94 grid is read-only";

int clamp_rows(int max_rows) {
  if (max_rows <= 0) return kDefaultGridRows;
  return max_rows > kMaxGridRows ? kMaxGridRows : max_rows;
}

// "SELECT TOP (n) [a], [b], ... FROM [schema].[table] ORDER BY [k1], ...":
// the catalog's columns by name, so that hidden columns cannot shift a row
// against the column list.
std::string row_query(int rows, const qv_grid_cols &columns, const std::string &table,
                      const std::vector<std::string> &key) {
  std::string sql = "SELECT TOP (" + std::to_string(rows) + ") ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i) sql += ", ";
    sql += qv_bracketed(columns[i].name);
  }
  sql += " FROM " + table;
  for (std::size_t i = 0; i < key.size() && i < kMaxOrderKeys; ++i) {
    sql += i ? ", " : " ORDER BY ";
    sql += qv_bracketed(key[i]);
  }
  return sql;
}

// Renders up to `rows` rows of sql as a JSON array into out; -1 with the
// reason recorded when the read fails.
int read_rows(DBPROCESS *session, const std::string &sql, int rows, qv_reply *out) {
  qv_cursor cur(session);
  int opened = cur.open(sql.c_str());
  if (opened < 0) return -1;
  if (opened == 0) {
    out->begin_array();
    out->end_array();
    return 0;
  }
  if (cur.write_rows(*out, rows).failed) return -1;
  return cur.finish();
}

void write_columns(qv_reply &r, const qv_grid_cols &columns) {
  r.key("columns");
  r.begin_array();
  for (const qv_table_column &c : columns) {
    r.begin_object();
    r.member_str("name", c.name);
    r.member_str("type", c.type);
    r.member_bool("nullable", c.nullable);
    r.member_bool("is_identity", c.is_identity);
    r.member_bool("is_computed", c.is_computed);
    // What the grid must not let the user edit: the server fills it.
    r.member_bool("is_read_only", c.is_read_only());
    r.end_object();
  }
  r.end_array();
}

void write_names(qv_reply &r, const char *key, const std::vector<std::string> &names) {
  r.key(key);
  r.begin_array();
  for (const std::string &n : names) r.str(n);
  r.end_array();
}

}  // namespace

bool grid_names::check(const qv_conn &conn, const char *database_arg, const char *schema_arg,
                       const char *table_arg) {
  schema = eg_pick_schema(schema_arg);
  table = table_arg;
  if (!qv_name_legal(schema) || !qv_name_legal(table) ||
      !qv_choose_database(database_arg, conn, "invalid identifier", &database)) {
    qv_seterr("invalid identifier");
    return false;
  }
  return true;
}

bool qv_impl_editgrid_load::check(const qv_conn &conn, qv_session_plan &plan) {
  if (!names.check(conn, database, schema, table)) return false;
  plan.database = names.database;
  return true;
}

char *qv_impl_editgrid_load::run(qv_call &call) {
  qv_grid_cols columns;
  switch (qv_read_columns(call.db(), names.schema, names.table, qv_column_query::grid, &columns)) {
    case qv_read::failed: return qv_err_json();
    case qv_read::absent:
      qv_seterr("table not found: %s.%s", names.schema, names.table);
      return qv_err_json();
    case qv_read::found: break;
  }
  std::vector<std::string> key;
  if (qv_read_primary_key(call.db(), names.schema, names.table, &key) == qv_read::failed)
    return qv_err_json();

  // Whether the load succeeded is known only after the rows were read, but
  // "ok" comes first: the rows are rendered aside and spliced in.
  int rows = clamp_rows(max_rows);
  qv_reply grid_rows;
  std::string sql =
      row_query(rows, columns, qv_bracketed(names.schema) + "." + qv_bracketed(names.table), key);
  int read = read_rows(call.db(), sql, rows, &grid_rows);
  call.session.reset();
  if (read != 0) return qv_err_json();

  qv_reply r;
  r.begin_object();
  r.member_bool("ok", true);
  write_columns(r, columns);
  write_names(r, "pk_columns", key);
  r.key("rows");
  r.raw(grid_rows.text());
  r.key("read_only_reason");
  r.str_or_null(key.empty() ? kReadOnlyReason : nullptr);
  r.member_null("error");
  r.end_object();
  return r.release();
}

}  // namespace qv::ops::editgrid
