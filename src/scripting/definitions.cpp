// CREATE, ALTER, DROP and DROP-then-CREATE scripts. Tables are scripted from
// their columns and primary key, every other kind from the module definition
// the server stores, headed by the two settings the module was created
// under.
#include <cstring>

#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/catalog.h"
#include "scripting/alter_rule.h"
#include "scripting/scripting.h"

namespace qv::ops::scripting {

namespace {

constexpr char kTableHeader[] = "CREATE TABLE %s (\r\n";
constexpr char kColumnLine[] = "    %s %s %s%s%s\r\n";
constexpr char kKeyLine[] = "    , CONSTRAINT %s PRIMARY KEY CLUSTERED (%s)\r\n";
constexpr char kTableEnd[] = ");\r\nGO\r\n";
// A module keeps the ANSI_NULLS and QUOTED_IDENTIFIER settings it was
// created under; its script sets them before its definition.
constexpr char kModuleSettings[] = "SET ANSI_NULLS %s\r\nGO\r\nSET QUOTED_IDENTIFIER %s\r\nGO\r\n";
// A module script's definition is followed by this.
constexpr char kModuleEnd[] = "\r\nGO\r\n";
constexpr char kDropStatement[] = "DROP %s %s;\r\nGO\r\n";
constexpr char kIdentitySuffix[] = " IDENTITY(1,1)";

constexpr char kTableKeyword[] = "TABLE";

struct kind_keyword {
  const char *kind;
  const char *keyword;
};
// The kinds compared exactly; "proc" and "func" are the explorer's node
// kinds for procedures and functions.
constexpr kind_keyword kKinds[] = {
    {"table", kTableKeyword},   {"view", "VIEW"},     {"procedure", "PROCEDURE"},
    {"proc", "PROCEDURE"},      {"function", "FUNCTION"}, {"func", "FUNCTION"},
    {"trigger", "TRIGGER"},
};

bool is_table(const script_target &t) { return std::strcmp(t.keyword, kTableKeyword) == 0; }

std::string three_part_name(const script_target &t) {
  return qv_bracketed(t.database) + "." + qv_bracketed(t.schema) + "." + qv_bracketed(t.obj);
}

void append_table(std::string &out, const script_target &t,
                  const std::vector<qv_table_column> &columns, const std::string &key) {
  qv_append_formatted(out, kTableHeader, three_part_name(t).c_str());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const qv_table_column &c = columns[i];
    qv_append_formatted(out, kColumnLine, qv_bracketed(c.name).c_str(), c.type.c_str(),
                        c.nullable ? "NULL" : "NOT NULL", c.is_identity ? kIdentitySuffix : "",
                        i + 1 < columns.size() ? "," : "");
  }
  if (!key.empty())
    qv_append_formatted(out, kKeyLine, qv_bracketed(std::string("PK_") + t.obj).c_str(),
                        key.c_str());
  out += kTableEnd;
}

// The table's columns; absent when there is no such table.
qv_read read_columns(const script_target &t, std::vector<qv_table_column> *columns) {
  qv_read st = qv_read_columns(t.session, t.schema, t.obj, qv_column_query::scripting, columns);
  if (st == qv_read::failed) refuse_unreadable(t, "columns");
  return st;
}

// The bracketed key list ("" without a key); false when it cannot be read.
bool read_key(const script_target &t, std::string *key) {
  std::vector<std::string> names;
  if (qv_read_primary_key(t.session, t.schema, t.obj, &names) == qv_read::failed) {
    refuse_unreadable(t, "primary key");
    return false;
  }
  *key = qv_bracketed_list(names);
  return true;
}

int table_create(const script_target &t, std::string &out) {
  std::vector<qv_table_column> columns;
  qv_read st = read_columns(t, &columns);
  if (st == qv_read::failed) return -1;
  if (st == qv_read::absent) {
    qv_seterr("table not found or has no columns: %s.%s", t.schema, t.obj);
    return -1;
  }
  std::string key;
  if (!read_key(t, &key)) return -1;
  append_table(out, t, columns, key);
  return 0;
}

// The definition read's outcome; the reason is recorded for the three that
// leave no script.
qv_definition read_module(const script_target &t, qv_module_definition *def) {
  qv_definition st = qv_read_definition(t.session, t.schema, t.obj, def);
  if (st == qv_definition::failed) refuse_unreadable(t, "definition");
  if (st == qv_definition::lossy)
    qv_seterr("cannot script %s.%s: its definition cannot be converted without loss", t.schema,
              t.obj);
  return st;
}

bool no_script(qv_definition st) {
  return st == qv_definition::failed || st == qv_definition::too_long ||
         st == qv_definition::lossy;
}

void append_module(std::string &out, const qv_module_definition &def, bool alter) {
  qv_append_formatted(out, kModuleSettings, def.ansi_nulls ? "ON" : "OFF",
                      def.quoted_identifier ? "ON" : "OFF");
  std::string text = def.text;
  if (alter) alter_first_create(text);
  out += text;
  out += kModuleEnd;
}

int module_create(const script_target &t, std::string &out, bool alter) {
  qv_module_definition def;
  qv_definition st = read_module(t, &def);
  if (no_script(st)) return -1;
  if (st != qv_definition::found) {
    qv_seterr("definition not found for %s.%s", t.schema, t.obj);
    return -1;
  }
  append_module(out, def, alter);
  return 0;
}

void append_drop(std::string &out, const char *keyword, const std::string &name) {
  qv_append_formatted(out, kDropStatement, keyword, name.c_str());
}

// The table is dropped and created under the same three-part name, so the
// script does the same wherever it runs; one that does not exist gets its
// DROP alone.
int table_drop_create(const script_target &t, std::string &out) {
  std::vector<qv_table_column> columns;
  if (read_columns(t, &columns) == qv_read::failed) return -1;
  append_drop(out, kTableKeyword, three_part_name(t));
  if (!columns.empty()) append_table(out, t, columns, "");
  return 0;
}

// A module whose definition cannot be had (encrypted, or not convertible
// without loss) exists but cannot be recreated: no script then, rather than
// a DROP alone. One that does not exist gets its DROP alone.
int module_drop_create(const script_target &t, std::string &out) {
  qv_module_definition def;
  qv_definition st = read_module(t, &def);
  if (no_script(st)) return -1;
  if (st == qv_definition::unavailable) {
    qv_seterr("cannot script %s.%s: its definition is not available", t.schema, t.obj);
    return -1;
  }
  append_drop(out, t.keyword, t.qualified);
  if (st == qv_definition::found) append_module(out, def, false);
  return 0;
}

}  // namespace

const char *definition_keyword(const char *kind) {
  for (const auto &k : kKinds)
    if (std::strcmp(k.kind, kind) == 0) return k.keyword;
  return nullptr;
}

int script_create(const script_target &t, script_result *out) {
  return is_table(t) ? table_create(t, out->sql) : module_create(t, out->sql, false);
}

int script_alter(const script_target &t, script_result *out) {
  return is_table(t) ? table_create(t, out->sql) : module_create(t, out->sql, true);
}

int script_drop(const script_target &t, script_result *out) {
  append_drop(out->sql, t.keyword, t.qualified);
  return 0;
}

int script_drop_create(const script_target &t, script_result *out) {
  return is_table(t) ? table_drop_create(t, out->sql) : module_drop_create(t, out->sql);
}

}  // namespace qv::ops::scripting
