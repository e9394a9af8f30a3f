// Statement templates for the user to complete: SELECT of the first rows,
// INSERT, UPDATE, DELETE and EXECUTE. Every placeholder is a line comment
// ("-- <...>"), so a template does not run until it is filled in.
#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/catalog.h"
#include "scripting/scripting.h"

namespace qv::ops::scripting {

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

const char *null_marker(const qv_table_column &c) { return c.nullable ? ", null" : ""; }

// The table's columns; -1 with the reason ("table not found" when there are
// none) otherwise.
int table_columns(const script_target &t, std::vector<qv_table_column> *columns) {
  switch (qv_read_columns(t.session, t.schema, t.obj, qv_column_query::scripting, columns)) {
    case qv_read::found: return 0;
    case qv_read::failed: return refuse_unreadable(t, "columns");
    case qv_read::absent: break;
  }
  qv_seterr("table not found: %s.%s", t.schema, t.obj);
  return -1;
}

// The bracketed key list ("" without a key); -1 when it cannot be read.
int key_list(const script_target &t, std::string *key) {
  std::vector<std::string> names;
  if (qv_read_primary_key(t.session, t.schema, t.obj, &names) == qv_read::failed)
    return refuse_unreadable(t, "primary key");
  *key = qv_bracketed_list(names);
  return 0;
}

}  // namespace

int script_select_top(const script_target &t, script_result *out) {
  qv_append_formatted(out->sql, kSelectTop, t.title.c_str(), qv_bracketed(t.obj).c_str(),
                      qv_bracketed(t.database).c_str(), qv_bracketed(t.schema).c_str(),
                      qv_bracketed(t.obj).c_str());
  return 0;
}

int script_insert(const script_target &t, script_result *out) {
  std::vector<qv_table_column> columns;
  if (table_columns(t, &columns) != 0) return -1;
  std::vector<const qv_table_column *> listed;
  for (const auto &c : columns)
    if (!c.is_identity) listed.push_back(&c);
  std::string &s = out->sql;
  qv_append_formatted(s, kInsertHead, t.qualified.c_str());
  for (std::size_t i = 0; i < listed.size(); ++i)
    qv_append_formatted(s, kInsertColumn, qv_bracketed(listed[i]->name).c_str(),
                        i + 1 < listed.size() ? "," : "");
  s += kInsertMiddle;
  for (const qv_table_column *c : listed)
    qv_append_formatted(s, kInsertValue, c->name.c_str(), c->type.c_str(), null_marker(*c));
  s += kInsertEnd;
  return 0;
}

int script_update(const script_target &t, script_result *out) {
  std::vector<qv_table_column> columns;
  std::string key;
  if (table_columns(t, &columns) != 0 || key_list(t, &key) != 0) return -1;
  std::string &s = out->sql;
  qv_append_formatted(s, kUpdateHead, t.qualified.c_str());
  for (const auto &c : columns)
    qv_append_formatted(s, kUpdateAssignment, qv_bracketed(c.name).c_str(), c.type.c_str(),
                        null_marker(c));
  if (key.empty()) s += kUpdateNoKey;
  else qv_append_formatted(s, kUpdateKeyFilter, key.c_str(), kPkValue);
  return 0;
}

int script_delete(const script_target &t, script_result *out) {
  std::vector<qv_table_column> columns;
  std::string key;
  if (table_columns(t, &columns) != 0 || key_list(t, &key) != 0) return -1;
  if (key.empty()) qv_append_formatted(out->sql, kDeleteNoKey, t.qualified.c_str());
  else qv_append_formatted(out->sql, kDeleteWithKey, t.qualified.c_str(), key.c_str(), kPkValue);
  return 0;
}

int script_exec_params(const script_target &t, script_result *out) {
  std::vector<qv_parameter> parameters;
  if (qv_read_parameters(t.session, t.schema, t.obj, &parameters) == qv_read::failed)
    return refuse_unreadable(t, "parameters");
  qv_append_formatted(out->sql, kExecHead, t.qualified.c_str());
  bool first = true;
  for (const qv_parameter &p : parameters) {
    qv_append_formatted(out->sql, kExecParam, first ? " " : ",", p.name.c_str(), p.type.c_str(),
                        p.is_output ? ", OUTPUT" : "", p.has_default ? ", has default" : "");
    first = false;
  }
  out->sql += kExecEnd;
  return 0;
}

}  // namespace qv::ops::scripting
