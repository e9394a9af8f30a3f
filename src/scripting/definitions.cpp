// CREATE, ALTER, DROP and DROP-then-CREATE scripts. Tables are scripted from
// their catalog (table_script.cpp), every other kind from the module
// definition the server stores, headed by the two settings the module was
// created under.
#include <cstring>

#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/catalog.h"
#include "scripting/alter_rule.h"
#include "scripting/scripting.h"
#include "scripting/table_script.h"

namespace qv::ops::scripting {

namespace {

// A module keeps the ANSI_NULLS and QUOTED_IDENTIFIER settings it was
// created under; its script sets them before its definition.
constexpr char kModuleSettings[] = "SET ANSI_NULLS %s\r\nGO\r\nSET QUOTED_IDENTIFIER %s\r\nGO\r\n";
// A module script's definition is followed by this.
constexpr char kModuleEnd[] = "\r\nGO\r\n";
constexpr char kDropStatement[] = "DROP %s %s;\r\nGO\r\n";
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

void append_drop(std::string &out, const char *keyword, const std::string &name) {
  qv_append_formatted(out, kDropStatement, keyword, name.c_str());
}

int table_create(const script_target &t, std::string &out) {
  table_script script;
  int found = script_table(t, &script);
  if (found < 0) return -1;
  if (found == 0) {
    qv_seterr("table not found or has no columns: %s.%s", t.schema, t.obj);
    return -1;
  }
  out += script.notes + script.body;
  return 0;
}

// The table is dropped and created under the same three-part name, so the
// script does the same wherever it runs; one that does not exist gets its
// DROP alone. What the script leaves out of the table still heads it.
int table_drop_create(const script_target &t, std::string &out) {
  table_script script;
  if (script_table(t, &script) < 0) return -1;
  out += script.notes;
  append_drop(out, kTableKeyword, t.full_name);
  out += script.body;
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
