#include "scripting/catalog.h"

#include <cstdlib>

#include "common/capture.h"
#include "exec/catalog.h"
#include "exec/cursor.h"
#include "scripting/names.h"

namespace {

constexpr char kColumnQuery[] =
    "SELECT c.name AS cname, ty.name + CASE WHEN ty.name IN "
    "('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN "
    "c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar') THEN "
    "c.max_length/2   ELSE c.max_length END AS varchar(10)) END + ')'   WHEN ty.name IN "
    "('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + ',' + "
    "CAST(c.scale AS varchar(10)) + ')'   ELSE '' END AS ctype, CAST(c.is_identity AS int) AS "
    "is_id, CAST(c.is_nullable AS int) AS is_null FROM sys.columns c JOIN sys.types ty ON "
    "ty.user_type_id = c.user_type_id JOIN sys.tables tb ON tb.object_id = c.object_id JOIN "
    "sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' "
    "ORDER BY c.column_id";

// The server cuts long text at the session's TEXTSIZE without a word, so the
// definition travels with its full length and the limit it was read under.
constexpr char kDefinitionQuery[] =
    "SELECT m.definition, DATALENGTH(m.definition) AS def_bytes, @@TEXTSIZE AS text_size "
    "FROM sys.sql_modules m JOIN sys.objects o ON o.object_id = m.object_id JOIN sys.schemas s "
    "ON s.schema_id = o.schema_id WHERE s.name = N'%s' AND o.name = N'%s'";

constexpr std::size_t kTypeTextBytes = 63;
constexpr std::size_t kFlagBytes = 31;
constexpr std::size_t kNumberBytes = 31;

std::string catalog_query(const char *fmt, const char *schema, const char *obj) {
  return qv_formatted(fmt, literal_text(schema).c_str(), literal_text(obj).c_str());
}

// Opens the query's first result set: 1, or -1 when the query failed or
// returned none (reason recorded).
int open_rows(qv_cursor &cur, const std::string &sql) {
  int opened = cur.open(sql.c_str());
  if (opened == 0) qv_seterr("catalog query returned no result set");
  return opened == 1 ? 1 : -1;
}

bool flag_set(const qv_cursor &cur, int column) {
  return cur.text(column, kFlagBytes).starts_with('1');
}

long long number_cell(const qv_cursor &cur, int column) {
  return std::strtoll(cur.text(column, kNumberBytes).c_str(), nullptr, 10);
}

}  // namespace

int load_columns(DBPROCESS *session, const char *schema, const char *obj,
                 std::vector<qv_col_def> *columns) {
  columns->clear();
  qv_cursor cur(session);
  if (open_rows(cur, catalog_query(kColumnQuery, schema, obj)) < 0) return -1;
  int name = cur.col("cname"), type = cur.col("ctype");
  int is_id = cur.col("is_id"), is_null = cur.col("is_null");
  if (!name || !type) {
    qv_seterr("column query lacks cname or ctype");
    return -1;
  }
  int row;
  while ((row = cur.next()) == 1) {
    qv_col_def c;
    c.name = cur.text(name, kCatalogNameBytes);
    c.type = cur.text(type, kTypeTextBytes);
    c.is_identity = is_id && flag_set(cur, is_id) ? 1 : 0;
    c.is_nullable = !is_null || flag_set(cur, is_null) ? 1 : 0;
    columns->push_back(std::move(c));
  }
  if (row < 0 || cur.finish() != 0) {
    columns->clear();
    return -1;
  }
  return 0;
}

int pk_columns(DBPROCESS *session, const char *schema, const char *obj, std::string *list) {
  list->clear();
  std::vector<std::string> names;
  if (qv_primary_key_columns(session, literal_text(schema), literal_text(obj), &names) != 0)
    return -1;
  for (const std::string &name : names) {
    if (!list->empty()) *list += ", ";
    *list += qv_bracketed(name);
  }
  return 0;
}

definition_state fetch_definition(DBPROCESS *session, const char *schema, const char *obj,
                                  std::string *text) {
  text->clear();
  qv_cursor cur(session);
  if (open_rows(cur, catalog_query(kDefinitionQuery, schema, obj)) < 0)
    return definition_state::failed;
  int def = cur.col("definition");
  int row = cur.next();
  if (row < 0) return definition_state::failed;
  if (row == 0 || !def) return cur.finish() == 0 ? definition_state::missing : definition_state::failed;
  long long bytes = number_cell(cur, cur.col("def_bytes"));
  long long limit = number_cell(cur, cur.col("text_size"));
  if (limit > 0 && bytes > limit) {
    qv_seterr("definition of %s.%s is %lld bytes, more than the %lld bytes the session reads whole",
              schema, obj, bytes, limit);
    return definition_state::too_long;
  }
  // Read straight from db-lib's buffer: the whole text, whatever its size
  // (character data is already UTF-8 there).
  const BYTE *data = dbdata(session, def);
  DBINT len = dbdatlen(session, def);
  if (data && len > 0) text->assign(reinterpret_cast<const char *>(data), static_cast<std::size_t>(len));
  if (cur.finish() != 0) {
    text->clear();
    return definition_state::failed;
  }
  return text->empty() ? definition_state::unavailable : definition_state::found;
}

int catalog_scalar(DBPROCESS *session, const std::string &sql, char *buf, std::size_t bufsize) {
  buf[0] = '\0';
  qv_cursor cur(session);
  if (open_rows(cur, sql) < 0) return -1;
  int row = cur.next();
  if (row == 1 && cur.cell(1, buf, bufsize, nullptr) != 0) buf[0] = '\0';
  if (row < 0 || cur.finish() != 0) {
    buf[0] = '\0';
    return -1;
  }
  return row;
}
