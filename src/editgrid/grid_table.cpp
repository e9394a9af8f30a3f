#include "editgrid/grid_table.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "editgrid/names.h"
#include "exec/catalog.h"
#include "exec/cursor.h"

namespace {

constexpr char kColumnQuery[] =
    "SELECT c.name AS cname, ty.name + CASE WHEN ty.name IN "
    "('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN "
    "c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar') THEN "
    "c.max_length/2   ELSE c.max_length END AS varchar(10)) END + ')'   WHEN ty.name IN "
    "('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + ',' + "
    "CAST(c.scale AS varchar(10)) + ')'   ELSE '' END AS ctype, CAST(c.is_identity AS int) AS "
    "is_id, CAST(c.is_computed AS int) AS is_comp, CAST(c.is_nullable AS int) AS is_null FROM "
    "sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN sys.tables tb ON "
    "tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = "
    "N'%s' AND tb.name = N'%s' ORDER BY c.column_id";

constexpr std::size_t kFlagTextSize = 16;

// The schema and table as the insides of Unicode literals; false when
// either name cannot be looked up.
bool lookup_texts(const char *schema, const char *table, std::string *s, std::string *t) {
  return eg_name_text(schema, s) && eg_name_text(table, t);
}

// An optional 0/1 column: absent reads as def.
bool flag(const qv_cursor &cur, int column, bool def) {
  if (column == 0) return def;
  char buf[kFlagTextSize];
  if (cur.cell(column, buf, sizeof buf, nullptr) != 0) return false;
  return buf[0] == '1';
}

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_folded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

}  // namespace

int eg_load_columns(DBPROCESS *session, const char *schema, const char *table,
                    qv_grid_cols *columns) {
  columns->clear();
  std::string s, t;
  if (!lookup_texts(schema, table, &s, &t)) return -1;
  std::string sql = qv_formatted(kColumnQuery, s.c_str(), t.c_str());
  qv_cursor cur(session);
  if (cur.open(sql.c_str()) != 1) return -1;
  int name = cur.col("cname"), type = cur.col("ctype");
  if (name == 0 || type == 0) return -1;
  int is_id = cur.col("is_id"), is_comp = cur.col("is_comp"), is_null = cur.col("is_null");
  int st;
  while ((st = cur.next()) == 1) {
    qv_grid_col col;
    col.name = cur.text(name, kCatalogNameBytes);
    col.type = cur.text(type, kCatalogNameBytes);
    col.is_identity = flag(cur, is_id, false);
    col.is_computed = flag(cur, is_comp, false);
    col.nullable = flag(cur, is_null, true);
    columns->push_back(std::move(col));
  }
  if (st < 0 || cur.finish() != 0) return -1;
  return 0;
}

std::vector<std::string> pk_columns(DBPROCESS *session, const char *schema, const char *table) {
  std::vector<std::string> names;
  std::string s, t;
  if (lookup_texts(schema, table, &s, &t)) qv_primary_key_columns(session, s, t, &names);
  return names;
}

int find_col_i(const qv_grid_cols &columns, std::string_view name) {
  int found = kNoColumn;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) return static_cast<int>(i);
    if (equal_folded(columns[i].name, name))
      found = found == kNoColumn ? static_cast<int>(i) : kAmbiguousColumn;
  }
  return found;
}

const qv_grid_col *eg_exact_col(const qv_grid_cols &columns, std::string_view name) {
  for (const qv_grid_col &col : columns)
    if (col.name == name) return &col;
  return nullptr;
}

bool eg_is_binary(const qv_grid_col &col) {
  std::string_view t = col.type;
  return t.starts_with("binary(") || t.starts_with("varbinary(") || t == "image";
}
