// Statement templates for the user to complete: SELECT of the first rows,
// INSERT, UPDATE, DELETE and EXECUTE. Every placeholder is a line comment
// ("-- <...>"), so a template does not run until it is filled in; catalog
// text shown in one is kept on its line (comment_text).
#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/catalog.h"
#include "scripting/script_text.h"
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
// A table whose every column the server fills itself.
constexpr char kInsertDefaults[] = "INSERT INTO %s\r\nDEFAULT VALUES;\r\nGO\r\n";
constexpr char kUpdateHead[] = "UPDATE %s\r\nSET\r\n";
constexpr char kUpdateAssignment[] = "    %s = -- <%s%s>\r\n";
constexpr char kDeleteHead[] = "DELETE FROM %s\r\n";
// One condition a key column, each on its own line since its placeholder
// runs to the line end; a single-column key names its value "pk value".
constexpr char kKeyFilter[] = "WHERE %s = -- <%s>\r\n";
constexpr char kKeyAnd[] = "  AND %s = -- <%s>\r\n";
constexpr char kPkValue[] = "pk value";
// Without a key the condition is still a placeholder: run unedited, the
// statement fails instead of changing every row.
constexpr char kNoKeyFilter[] = "WHERE -- <search condition>\r\n";
constexpr char kStatementEnd[] = "GO\r\n";
constexpr char kExecHead[] = "EXECUTE %s";
constexpr char kExecEnd[] = "\r\nGO\r\n";

// One parameter per line: each placeholder's comment runs to its line end.
constexpr char kExecParam[] = "\r\n   %s %s = -- <%s%s%s>";

const char *null_marker(const qv_table_column &c) { return c.nullable ? ", null" : ""; }

// The table's columns by the given query; -1 with the reason ("table not
// found" when there are none) otherwise.
int table_columns(const script_target &t, qv_column_query query,
                  std::vector<qv_table_column> *columns) {
  switch (qv_read_columns(t.session, t.schema, t.obj, query, columns)) {
    case qv_read::found: return 0;
    case qv_read::failed: return refuse_unreadable(t, "columns");
    case qv_read::absent: break;
  }
  qv_seterr("table not found: %s.%s", t.schema, t.obj);
  return -1;
}

// The columns an INSERT or UPDATE may set: not computed, identity,
// rowversion or filled by the server (GENERATED ALWAYS), as the grid's
// column query tells.
int settable_columns(const script_target &t, std::vector<qv_table_column> *columns) {
  if (table_columns(t, qv_column_query::grid, columns) != 0) return -1;
  std::erase_if(*columns, [](const qv_table_column &c) { return c.is_read_only(); });
  return 0;
}

// The key's column names ([] without a key); -1 when it cannot be read.
int key_columns(const script_target &t, std::vector<std::string> *names) {
  if (qv_read_primary_key(t.session, t.schema, t.obj, names) == qv_read::failed)
    return refuse_unreadable(t, "primary key");
  return 0;
}

void append_key_filter(std::string &s, const std::vector<std::string> &key) {
  if (key.empty()) s += kNoKeyFilter;
  for (std::size_t i = 0; i < key.size(); ++i)
    qv_append_formatted(s, i == 0 ? kKeyFilter : kKeyAnd, qv_bracketed(key[i]).c_str(),
                        key.size() == 1 ? kPkValue : comment_text(key[i]).c_str());
  s += kStatementEnd;
}

// A parameter name as the catalog gives it is written as code and cannot be
// bracketed: "@" and identifier characters only (empty for a function's
// return value).
bool plain_parameter_name(const std::string &name) {
  if (name.empty()) return true;
  if (name.size() < 2 || name[0] != '@') return false;
  for (char c : name.substr(1))
    if (!word_byte(c)) return false;
  return true;
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
  if (settable_columns(t, &columns) != 0) return -1;
  std::string &s = out->sql;
  if (columns.empty()) {
    qv_append_formatted(s, kInsertDefaults, t.qualified.c_str());
    return 0;
  }
  qv_append_formatted(s, kInsertHead, t.qualified.c_str());
  for (std::size_t i = 0; i < columns.size(); ++i)
    qv_append_formatted(s, kInsertColumn, qv_bracketed(columns[i].name).c_str(),
                        i + 1 < columns.size() ? "," : "");
  s += kInsertMiddle;
  for (const qv_table_column &c : columns)
    qv_append_formatted(s, kInsertValue, comment_text(c.name).c_str(),
                        comment_text(c.type).c_str(), null_marker(c));
  s += kInsertEnd;
  return 0;
}

int script_update(const script_target &t, script_result *out) {
  std::vector<qv_table_column> columns;
  std::vector<std::string> key;
  if (settable_columns(t, &columns) != 0 || key_columns(t, &key) != 0) return -1;
  if (columns.empty()) {
    qv_seterr("cannot script an UPDATE of %s.%s: the server sets every column itself", t.schema,
              t.obj);
    return -1;
  }
  std::string &s = out->sql;
  qv_append_formatted(s, kUpdateHead, t.qualified.c_str());
  for (const qv_table_column &c : columns)
    qv_append_formatted(s, kUpdateAssignment, qv_bracketed(c.name).c_str(),
                        comment_text(c.type).c_str(), null_marker(c));
  append_key_filter(s, key);
  return 0;
}

int script_delete(const script_target &t, script_result *out) {
  std::vector<qv_table_column> columns;
  std::vector<std::string> key;
  if (table_columns(t, qv_column_query::scripting, &columns) != 0 || key_columns(t, &key) != 0)
    return -1;
  qv_append_formatted(out->sql, kDeleteHead, t.qualified.c_str());
  append_key_filter(out->sql, key);
  return 0;
}

int script_exec_params(const script_target &t, script_result *out) {
  std::vector<qv_parameter> parameters;
  if (qv_read_parameters(t.session, t.schema, t.obj, &parameters) == qv_read::failed)
    return refuse_unreadable(t, "parameters");
  for (const qv_parameter &p : parameters)
    if (!plain_parameter_name(p.name)) {
      qv_seterr("cannot script %s.%s: its parameter %s is not a plain name", t.schema, t.obj,
                p.name.c_str());
      return -1;
    }
  qv_append_formatted(out->sql, kExecHead, t.qualified.c_str());
  bool first = true;
  for (const qv_parameter &p : parameters) {
    qv_append_formatted(out->sql, kExecParam, first ? " " : ",", p.name.c_str(),
                        comment_text(p.type).c_str(), p.is_output ? ", OUTPUT" : "",
                        p.has_default ? ", has default" : "");
    first = false;
  }
  out->sql += kExecEnd;
  return 0;
}

}  // namespace qv::ops::scripting
