// The edit grid's read side: a table's columns, its primary key and its
// first rows, in one reply.
#include <string>
#include <vector>

#include "common/capture.h"
#include "common/conn.h"
#include "common/operation.h"
#include "common/reply.h"
#include "editgrid/grid_table.h"
#include "editgrid/names.h"
#include "exec/cursor.h"
#include "exec/results.h"
#include "exec/session.h"

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
  return cur.write_rows(*out, rows) < 0 ? -1 : 0;
}

void write_columns(qv_reply &r, const qv_grid_cols &columns) {
  r.key("columns");
  r.begin_array();
  for (const qv_grid_col &c : columns) {
    r.begin_object();
    r.member_str("name", c.name);
    r.member_str("type", c.type);
    r.member_bool("nullable", c.nullable);
    r.member_bool("is_identity", c.is_identity);
    r.member_bool("is_computed", c.is_computed);
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

char *qv_impl_editgrid_load(const char *conn_json, const char *database, const char *schema,
                            const char *table, int max_rows) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  if (!table || !*table) {
    qv_seterr("table is required");
    return qv_err_json();
  }
  schema = eg_pick_schema(schema);
  int rows = clamp_rows(max_rows);
  const char *db = qv_pick_database(database, &conn);

  qv_reset();
  qv_session session(qv_open(&conn, db));
  if (!session) return qv_err_json();
  qv_grid_cols columns;
  if (eg_load_columns(session.get(), schema, table, &columns) != 0 || columns.empty()) {
    session.reset();
    qv_seterr("table not found: %s.%s", schema, table);
    return qv_err_json();
  }
  std::vector<std::string> key = pk_columns(session.get(), schema, table);
  std::string quoted_schema, quoted_table;
  if (!eg_quote_ident(schema, &quoted_schema) || !eg_quote_ident(table, &quoted_table)) {
    session.reset();
    qv_seterr("invalid identifier");
    return qv_err_json();
  }

  // Whether the load succeeded is known only after the rows were read, but
  // "ok" comes first: the rows are rendered aside and spliced in.
  qv_reply grid_rows;
  std::string sql = row_query(rows, columns, quoted_schema + "." + quoted_table, key);
  int read = read_rows(session.get(), sql, rows, &grid_rows);
  session.reset();
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
