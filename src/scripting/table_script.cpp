// A table's CREATE script from its catalog: every column with its exact
// type, collation, computed, identity and default parts, the primary key,
// unique and check constraints inside CREATE TABLE, then the foreign keys
// and the other indexes as statements of their own. What the script leaves
// out of the table's storage is named in a comment line at its top.
#include "scripting/table_script.h"

#include <string_view>
#include <vector>

#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/catalog.h"
#include "scripting/script_text.h"

namespace qv::ops::scripting {

namespace {

constexpr char kNotScripted[] = "-- not scripted: %s\r\n";
constexpr char kTableHeader[] = "CREATE TABLE %s (\r\n";
constexpr char kColumnLine[] = "    %s%s\r\n";
constexpr char kConstraintLine[] = "    , CONSTRAINT %s %s\r\n";
constexpr char kTableEnd[] = ");\r\nGO\r\n";
constexpr char kForeignKey[] =
    "ALTER TABLE %s ADD CONSTRAINT %s FOREIGN KEY (%s) REFERENCES %s (%s)%s%s;\r\nGO\r\n";
constexpr char kIndex[] = "CREATE %s%s INDEX %s ON %s (%s)%s%s;\r\nGO\r\n";

// sys.foreign_keys' referential actions by their number.
constexpr const char *kReferentialActions[] = {"NO ACTION", "CASCADE", "SET NULL", "SET DEFAULT"};

struct table_parts {
  std::vector<qv_column_decl> columns;
  std::vector<qv_table_index> indexes;
  std::vector<qv_check_constraint> checks;
  std::vector<qv_foreign_key> foreign_keys;
  qv_table_storage storage;
};

int refuse(const script_target &t, const std::string &why) {
  qv_seterr("cannot script %s.%s: %s", t.schema, t.obj, why.c_str());
  return -1;
}

// The four reads after the columns; false (reason recorded) when one failed.
bool read_constraints(const script_target &t, table_parts *p) {
  const char *failed = nullptr;
  if (qv_read_table_indexes(t.session, t.schema, t.obj, &p->indexes) == qv_read::failed)
    failed = "indexes";
  else if (qv_read_check_constraints(t.session, t.schema, t.obj, &p->checks) == qv_read::failed)
    failed = "check constraints";
  else if (qv_read_foreign_keys(t.session, t.schema, t.obj, &p->foreign_keys) == qv_read::failed)
    failed = "foreign keys";
  else if (qv_read_table_storage(t.session, t.schema, t.obj, &p->storage) == qv_read::failed)
    failed = "storage";
  if (failed) refuse_unreadable(t, failed);
  return !failed;
}

// 1 with every part read, 0 for a table that does not exist, -1 (reason
// recorded) when a read failed.
int read_parts(const script_target &t, table_parts *p) {
  switch (qv_read_column_decls(t.session, t.schema, t.obj, &p->columns)) {
    case qv_read::failed: return refuse_unreadable(t, "columns");
    case qv_read::absent: return 0;
    case qv_read::found: break;
  }
  return read_constraints(t, p) ? 1 : -1;
}

std::string length_text(int max_length, int bytes_per_char) {
  if (max_length == -1) return "(max)";
  return "(" + std::to_string(max_length / bytes_per_char) + ")";
}

// A type of the server itself with its length, precision or scale as the
// column has it.
std::string system_type_text(const qv_column_decl &c) {
  const std::string &n = c.type_name;
  // The catalog still calls rowversion by its old name.
  if (n == "timestamp") return "rowversion";
  std::string name = plain_word(n) ? n : qv_bracketed(n);
  if (n == "varchar" || n == "char" || n == "varbinary" || n == "binary")
    return name + length_text(c.max_length, 1);
  if (n == "nvarchar" || n == "nchar") return name + length_text(c.max_length, 2);
  if (n == "decimal" || n == "numeric")
    return qv_formatted("%s(%d,%d)", name.c_str(), c.precision, c.scale);
  if (n == "time" || n == "datetime2" || n == "datetimeoffset")
    return qv_formatted("%s(%d)", name.c_str(), c.scale);
  if (n == "xml" && !c.xml_collection.empty())
    return name + (c.xml_document ? "(DOCUMENT " : "(CONTENT ") + qv_bracketed(c.xml_schema) +
           "." + qv_bracketed(c.xml_collection) + ")";
  return name;
}

std::string type_text(const qv_column_decl &c) {
  if (c.user_type) return qv_bracketed(c.type_schema) + "." + qv_bracketed(c.type_name);
  return system_type_text(c);
}

bool known_action(int action) {
  return action >= 0 && action < static_cast<int>(std::size(kReferentialActions));
}

// Why the catalog's text for column c cannot be written as code; "" when
// it can. Definitions are missing where the catalog hides them from a user
// who may not see them.
std::string column_problem(const qv_column_decl &c) {
  const std::string column = "column " + c.name;
  if (c.computed && c.computed_definition.empty())
    return "the definition of computed " + column + " is not available";
  if (c.computed) return "";
  if (!c.collation.empty() && !plain_word(c.collation))
    return "the collation of " + column + " is not a collation name";
  if (c.identity && !(whole_number(c.seed) && whole_number(c.increment)))
    return "the identity of " + column + " has no whole-number seed and increment";
  if (!c.default_name.empty() && c.default_definition.empty())
    return "the default of " + column + " is not available";
  return "";
}

// Why the table cannot be scripted from these parts; "" when it can.
std::string parts_problem(const table_parts &p) {
  for (const qv_column_decl &c : p.columns)
    if (std::string why = column_problem(c); !why.empty()) return why;
  for (const qv_check_constraint &ck : p.checks)
    if (ck.definition.empty()) return "check constraint " + ck.name + " is not available";
  for (const qv_foreign_key &fk : p.foreign_keys)
    if (!known_action(fk.on_delete) || !known_action(fk.on_update))
      return "foreign key " + fk.name + " has an unknown referential action";
  return "";
}

// A column's declaration: its name and either "AS (<definition>)
// [PERSISTED [NOT NULL]]" or its type, collation, nullability, identity
// and named default.
std::string column_text(const qv_column_decl &c) {
  std::string s = qv_bracketed(c.name);
  if (c.computed) {
    s += " AS (" + c.computed_definition + ")";
    if (c.persisted) s += c.nullable ? " PERSISTED" : " PERSISTED NOT NULL";
    return s;
  }
  s += " " + type_text(c);
  if (!c.collation.empty()) s += " COLLATE " + c.collation;
  s += c.nullable ? " NULL" : " NOT NULL";
  if (c.identity) s += " IDENTITY(" + c.seed + "," + c.increment + ")";
  if (!c.default_name.empty())
    s += " CONSTRAINT " + qv_bracketed(c.default_name) + " DEFAULT (" + c.default_definition + ")";
  return s;
}

// "[a] ASC, [b] DESC" for the key columns, "[c], [d]" for the included ones.
std::string key_list(const qv_table_index &ix, bool included) {
  std::string list;
  for (const qv_index_column &c : ix.columns) {
    if (c.included != included) continue;
    if (!list.empty()) list += ", ";
    list += qv_bracketed(c.name);
    if (!included) list += c.descending ? " DESC" : " ASC";
  }
  return list;
}

const char *clustering(const qv_table_index &ix) {
  return ix.clustered ? "CLUSTERED" : "NONCLUSTERED";
}

// The primary key first, then the unique constraints, then the checks.
void append_constraints(const table_parts &p, std::string &out) {
  using kind = qv_table_index::kind;
  for (kind role : {kind::primary_key, kind::unique_constraint}) {
    for (const qv_table_index &ix : p.indexes) {
      if (ix.role != role) continue;
      const char *what = role == kind::primary_key ? "PRIMARY KEY" : "UNIQUE";
      std::string key =
          qv_formatted("%s %s (%s)", what, clustering(ix), key_list(ix, false).c_str());
      qv_append_formatted(out, kConstraintLine, qv_bracketed(ix.name).c_str(), key.c_str());
    }
  }
  for (const qv_check_constraint &ck : p.checks)
    qv_append_formatted(out, kConstraintLine, qv_bracketed(ck.name).c_str(),
                        ("CHECK (" + ck.definition + ")").c_str());
}

void append_table(const script_target &t, const table_parts &p, std::string &out) {
  qv_append_formatted(out, kTableHeader, t.full_name.c_str());
  for (std::size_t i = 0; i < p.columns.size(); ++i)
    qv_append_formatted(out, kColumnLine, column_text(p.columns[i]).c_str(),
                        i + 1 < p.columns.size() ? "," : "");
  append_constraints(p, out);
  out += kTableEnd;
}

// " ON DELETE CASCADE" and the like; "" for NO ACTION, the default.
std::string action_text(int action, const char *on) {
  return action == 0 ? "" : qv_formatted(" ON %s %s", on, kReferentialActions[action]);
}

void append_foreign_keys(const script_target &t, const table_parts &p, std::string &out) {
  for (const qv_foreign_key &fk : p.foreign_keys) {
    std::string referenced = qv_bracketed(fk.ref_schema) + "." + qv_bracketed(fk.ref_table);
    qv_append_formatted(out, kForeignKey, t.full_name.c_str(), qv_bracketed(fk.name).c_str(),
                        qv_bracketed_list(fk.columns).c_str(), referenced.c_str(),
                        qv_bracketed_list(fk.ref_columns).c_str(),
                        action_text(fk.on_delete, "DELETE").c_str(),
                        action_text(fk.on_update, "UPDATE").c_str());
  }
}

void append_indexes(const script_target &t, const table_parts &p, std::string &out) {
  for (const qv_table_index &ix : p.indexes) {
    if (ix.role != qv_table_index::kind::index) continue;
    std::string included = key_list(ix, true);
    if (!included.empty()) included = " INCLUDE (" + included + ")";
    std::string filter = ix.filter.empty() ? "" : " WHERE " + ix.filter;
    qv_append_formatted(out, kIndex, ix.unique ? "UNIQUE " : "", clustering(ix),
                        qv_bracketed(ix.name).c_str(), t.full_name.c_str(),
                        key_list(ix, false).c_str(), included.c_str(), filter.c_str());
  }
}

std::string notes_of(const qv_table_storage &s) {
  std::string left_out;
  auto note = [&](bool on, const char *what) {
    if (on) left_out += (left_out.empty() ? "" : ", ") + std::string(what);
  };
  note(s.temporal_type != 0, "temporal table");
  note(s.partitioned, "partitioning");
  note(s.compressed, "compression");
  note(s.filegroups, "filegroups");
  note(s.other_indexes, "XML, spatial, columnstore and hash indexes");
  return left_out.empty() ? "" : qv_formatted(kNotScripted, left_out.c_str());
}

}  // namespace

int script_table(const script_target &t, table_script *out) {
  table_parts parts;
  int found = read_parts(t, &parts);
  if (found <= 0) return found;
  if (std::string why = parts_problem(parts); !why.empty()) return refuse(t, why);
  out->notes = notes_of(parts.storage);
  append_table(t, parts, out->body);
  append_foreign_keys(t, parts, out->body);
  append_indexes(t, parts, out->body);
  return 1;
}

}  // namespace qv::ops::scripting
