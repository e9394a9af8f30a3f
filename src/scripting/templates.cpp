// Statement templates for the user to complete: SELECT of the first rows,
// INSERT, UPDATE, DELETE and EXECUTE. Every placeholder is a line comment
// ("-- <...>"), so a template does not run until it is filled in.
#include "common/capture.h"
#include "exec/catalog.h"
#include "exec/cursor.h"
#include "scripting/catalog.h"
#include "scripting/names.h"
#include "scripting/scripting.h"

namespace {

constexpr char kSelectTop[] =
    "-- %s\r\nSELECT TOP (1000) %s.* FROM %s.%s.%s WITH (NOLOCK)\r\n-- ORDER BY\r\n";
constexpr char kInsertHead[] = "INSERT INTO %s (\r\n";
constexpr char kInsertColumn[] = "    %s%s\r\n";
constexpr char kInsertMiddle[] = ")\r\nVALUES (\r\n";
constexpr char kInsertValue[] = "    -- <%s, %s%s>\r\n";
constexpr char kInsertEnd[] = ");\r\nGO\r\n";
constexpr char kUpdateHead[] = "UPDATE %s\r\nSET\r\n";
constexpr char kUpdateAssignment[] = "    %s = -- <%s%s>\r\n";
constexpr char kUpdateKeyFilter[] = "WHERE %s = -- <%s>\r\nGO\r\n";
constexpr char kUpdateNoKey[] = "-- WHERE\r\nGO\r\n";
constexpr char kDeleteWithKey[] = "DELETE FROM %s\r\nWHERE %s = -- <%s>\r\nGO\r\n";
// Without a key the condition is still a placeholder: run unedited, the
// statement fails instead of emptying the table.
constexpr char kDeleteNoKey[] = "DELETE FROM %s\r\nWHERE -- <search condition>\r\nGO\r\n";
constexpr char kExecHead[] = "EXECUTE %s";
constexpr char kExecEnd[] = "\r\nGO\r\n";
constexpr char kPkValue[] = "pk value";

// One parameter per line: each placeholder's comment runs to its line end.
constexpr char kExecParam[] = "\r\n   %s %s = -- <%s%s%s>";

constexpr char kParameterQuery[] =
    "SELECT p.name AS pname, ty.name AS tname, CAST(p.is_output AS int) AS is_out, "
    "CAST(p.has_default_value AS int) AS has_def, p.default_value AS dflt FROM sys.parameters p "
    "JOIN sys.objects o ON o.object_id = p.object_id JOIN sys.schemas s ON s.schema_id = "
    "o.schema_id JOIN sys.types ty ON ty.user_type_id = p.user_type_id WHERE s.name = N'%s' AND "
    "o.name = N'%s' ORDER BY p.parameter_id";

constexpr std::size_t kTypeNameBytes = 63;
constexpr std::size_t kFlagBytes = 7;

const char *null_marker(const qv_col_def &c) { return c.is_nullable ? ", null" : ""; }

// The table's columns, or -1 with "table not found" when there are none.
int table_columns(const script_target &t, std::vector<qv_col_def> *columns) {
  if (load_columns(t.session, t.schema, t.obj, columns) == 0 && !columns->empty()) return 0;
  qv_seterr("table not found: %s.%s", t.schema, t.obj);
  return -1;
}

void append_parameters(const script_target &t, std::string &out) {
  qv_cursor cur(t.session);
  std::string sql = qv_formatted(kParameterQuery, literal_text(t.schema).c_str(),
                              literal_text(t.obj).c_str());
  if (cur.open(sql.c_str()) != 1) return;
  int name = cur.col("pname"), type = cur.col("tname");
  int is_out = cur.col("is_out"), has_def = cur.col("has_def");
  for (bool first = true; cur.next() == 1; first = false) {
    qv_append_formatted(out, kExecParam, first ? " " : ",",
                     cur.text(name, kCatalogNameBytes).c_str(),
                     cur.text(type, kTypeNameBytes).c_str(),
                     cur.text(is_out, kFlagBytes).starts_with('1') ? ", OUTPUT" : "",
                     cur.text(has_def, kFlagBytes).starts_with('1') ? ", has default" : "");
  }
}

}  // namespace

int script_select_top(const script_target &t, script_result *out) {
  qv_append_formatted(out->sql, kSelectTop, t.title.c_str(), qv_bracketed(t.obj).c_str(),
                   qv_bracketed(t.database).c_str(), qv_bracketed(t.schema).c_str(),
                   qv_bracketed(t.obj).c_str());
  return 0;
}

int script_insert(const script_target &t, script_result *out) {
  std::vector<qv_col_def> columns;
  if (table_columns(t, &columns) != 0) return -1;
  std::vector<const qv_col_def *> listed;
  for (const auto &c : columns)
    if (!c.is_identity) listed.push_back(&c);
  std::string &s = out->sql;
  qv_append_formatted(s, kInsertHead, t.qualified.c_str());
  for (std::size_t i = 0; i < listed.size(); ++i)
    qv_append_formatted(s, kInsertColumn, qv_bracketed(listed[i]->name).c_str(),
                     i + 1 < listed.size() ? "," : "");
  s += kInsertMiddle;
  for (const qv_col_def *c : listed)
    qv_append_formatted(s, kInsertValue, c->name.c_str(), c->type.c_str(), null_marker(*c));
  s += kInsertEnd;
  return 0;
}

int script_update(const script_target &t, script_result *out) {
  std::vector<qv_col_def> columns;
  if (table_columns(t, &columns) != 0) return -1;
  std::string &s = out->sql;
  qv_append_formatted(s, kUpdateHead, t.qualified.c_str());
  for (const auto &c : columns)
    qv_append_formatted(s, kUpdateAssignment, qv_bracketed(c.name).c_str(), c.type.c_str(),
                     null_marker(c));
  std::string key;
  pk_columns(t.session, t.schema, t.obj, &key);
  if (key.empty()) s += kUpdateNoKey;
  else qv_append_formatted(s, kUpdateKeyFilter, key.c_str(), kPkValue);
  return 0;
}

int script_delete(const script_target &t, script_result *out) {
  std::vector<qv_col_def> columns;
  if (table_columns(t, &columns) != 0) return -1;
  std::string key;
  pk_columns(t.session, t.schema, t.obj, &key);
  if (key.empty()) qv_append_formatted(out->sql, kDeleteNoKey, t.qualified.c_str());
  else qv_append_formatted(out->sql, kDeleteWithKey, t.qualified.c_str(), key.c_str(), kPkValue);
  return 0;
}

int script_exec_params(const script_target &t, script_result *out) {
  qv_append_formatted(out->sql, kExecHead, t.qualified.c_str());
  append_parameters(t, out->sql);
  out->sql += kExecEnd;
  return 0;
}
