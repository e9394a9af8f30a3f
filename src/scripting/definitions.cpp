// CREATE, ALTER, DROP and DROP-then-CREATE scripts. Tables are scripted from
// their columns and primary key, every other kind from the module definition
// the server stores.
#include <cstring>

#include "common/capture.h"
#include "scripting/catalog.h"
#include "scripting/names.h"
#include "scripting/scripting.h"

namespace {

constexpr char kTableHeader[] = "CREATE TABLE %s (\r\n";
constexpr char kColumnLine[] = "    %s %s %s%s%s\r\n";
constexpr char kKeyLine[] = "    , CONSTRAINT %s PRIMARY KEY CLUSTERED (%s)\r\n";
constexpr char kTableEnd[] = ");\r\nGO\r\n";
// A module script is its definition followed by this.
constexpr char kModuleEnd[] = "\r\nGO\r\n";
constexpr char kDropStatement[] = "DROP %s %s;\r\nGO\r\n";
constexpr char kIdentitySuffix[] = " IDENTITY(1,1)";

struct drop_keyword {
  const char *kind;
  const char *keyword;
};
constexpr drop_keyword kDropKeywords[] = {
    {"table", "TABLE"},       {"view", "VIEW"},       {"procedure", "PROCEDURE"},
    {"function", "FUNCTION"}, {"trigger", "TRIGGER"},
};

const char *drop_keyword_of(const char *kind) {
  for (const auto &k : kDropKeywords)
    if (std::strcmp(k.kind, kind) == 0) return k.keyword;
  return "TABLE";
}

bool is_table(const script_target &t) { return std::strcmp(t.kind, "table") == 0; }

std::string three_part_name(const script_target &t) {
  return qv_bracketed(t.database) + "." + qv_bracketed(t.schema) + "." + qv_bracketed(t.obj);
}

void append_table(std::string &out, const script_target &t,
                  const std::vector<qv_col_def> &columns, const std::string &key) {
  qv_append_formatted(out, kTableHeader, three_part_name(t).c_str());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const qv_col_def &c = columns[i];
    qv_append_formatted(out, kColumnLine, qv_bracketed(c.name).c_str(), c.type.c_str(),
                     c.is_nullable ? "NULL" : "NOT NULL", c.is_identity ? kIdentitySuffix : "",
                     i + 1 < columns.size() ? "," : "");
  }
  if (!key.empty())
    qv_append_formatted(out, kKeyLine, qv_bracketed(std::string("PK_") + t.obj).c_str(), key.c_str());
  out += kTableEnd;
}

void append_module(std::string &out, const std::string &definition) {
  out += definition;
  out += kModuleEnd;
}

int table_create(const script_target &t, std::string &out) {
  std::vector<qv_col_def> columns;
  if (load_columns(t.session, t.schema, t.obj, &columns) != 0 || columns.empty()) {
    qv_seterr("table not found or has no columns: %s.%s", t.schema, t.obj);
    return -1;
  }
  std::string key;
  pk_columns(t.session, t.schema, t.obj, &key);
  append_table(out, t, columns, key);
  return 0;
}

int module_create(const script_target &t, std::string &out) {
  std::string definition;
  definition_state st = fetch_definition(t.session, t.schema, t.obj, &definition);
  if (st == definition_state::too_long) return -1;
  if (st != definition_state::found) {
    qv_seterr("definition not found for %s.%s", t.schema, t.obj);
    return -1;
  }
  append_module(out, definition);
  return 0;
}

int create_script(const script_target &t, std::string &out) {
  return is_table(t) ? table_create(t, out) : module_create(t, out);
}

void append_drop(std::string &out, const char *keyword, const std::string &name) {
  qv_append_formatted(out, kDropStatement, keyword, name.c_str());
}

// A failed catalog read leaves no script: dropping what cannot be read back
// would lose it.
int refuse_unreadable(const script_target &t, const char *what) {
  std::string reason = qv_err();
  qv_seterr("cannot script %s.%s: its %s cannot be read (%s)", t.schema, t.obj, what,
            reason.c_str());
  return -1;
}

// The table is dropped and created under the same three-part name, so the
// script does the same wherever it runs; one that does not exist gets its
// DROP alone.
int table_drop_create(const script_target &t, std::string &out) {
  std::vector<qv_col_def> columns;
  if (load_columns(t.session, t.schema, t.obj, &columns) != 0)
    return refuse_unreadable(t, "columns");
  append_drop(out, "TABLE", three_part_name(t));
  if (!columns.empty()) append_table(out, t, columns, "");
  return 0;
}

// A module whose definition cannot be had (encrypted) exists but cannot be
// recreated: no script then, rather than a DROP alone. One that does not
// exist gets its DROP alone.
int module_drop_create(const script_target &t, std::string &out) {
  std::string definition;
  switch (fetch_definition(t.session, t.schema, t.obj, &definition)) {
    case definition_state::too_long:
      return -1;
    case definition_state::failed:
      return refuse_unreadable(t, "definition");
    case definition_state::unavailable:
      qv_seterr("cannot script %s.%s: its definition is not available", t.schema, t.obj);
      return -1;
    case definition_state::missing:
    case definition_state::found:
      break;
  }
  append_drop(out, drop_keyword_of(t.kind), t.qualified);
  if (!definition.empty()) append_module(out, definition);
  return 0;
}

bool ascii_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Skips at least one blank from at; false when there is none.
bool skip_blanks(const std::string &s, std::size_t &at) {
  std::size_t from = at;
  while (at < s.size() && blank(s[at])) ++at;
  return at > from;
}

// The word w (upper case) at at, in any letter case, ending there.
bool word_at(const std::string &s, std::size_t &at, std::string_view w) {
  if (s.size() - at < w.size()) return false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    char c = s[at + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != w[i]) return false;
  }
  at += w.size();
  return at == s.size() || !(ascii_alnum(s[at]) || s[at] == '_');
}

// "OR ALTER" after a CREATE: the module already alters.
bool or_alter_follows(const std::string &s, std::size_t at) {
  return skip_blanks(s, at) && word_at(s, at, "OR") && skip_blanks(s, at) &&
         word_at(s, at, "ALTER");
}

}  // namespace

void alter_first_create(std::string &script) {
  static constexpr std::string_view kCreate = "CREATE";
  std::size_t at = script.find(kCreate);
  if (at == std::string::npos) return;
  if (at > 0 && ascii_alnum(script[at - 1])) return;
  if (or_alter_follows(script, at + kCreate.size())) return;
  script.replace(at, kCreate.size(), "ALTER ");
}

int script_create(const script_target &t, script_result *out) {
  return create_script(t, out->sql);
}

int script_alter(const script_target &t, script_result *out) {
  if (create_script(t, out->sql) != 0) return -1;
  if (!is_table(t)) alter_first_create(out->sql);
  return 0;
}

int script_drop(const script_target &t, script_result *out) {
  append_drop(out->sql, drop_keyword_of(t.kind), t.qualified);
  return 0;
}

int script_drop_create(const script_target &t, script_result *out) {
  return is_table(t) ? table_drop_create(t, out->sql) : module_drop_create(t, out->sql);
}
