#include "exec/catalog.h"

#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/catalog_rows.h"
#include "exec/cursor.h"

namespace qv::exec {

using namespace catalog_rows;

namespace {

// The two column queries differ only in the computed flag the grid needs.
#define QV_COLUMN_SELECT                                                                   \
  "SELECT c.name AS cname, ty.name + CASE WHEN ty.name IN "                                \
  "('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN "     \
  "c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar') THEN " \
  "c.max_length/2   ELSE c.max_length END AS varchar(10)) END + ')'   WHEN ty.name IN "    \
  "('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + ',' + "           \
  "CAST(c.scale AS varchar(10)) + ')'   ELSE '' END AS ctype, CAST(c.is_identity AS int) AS " \
  "is_id, "
#define QV_COLUMN_FROM                                                                     \
  " FROM sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN "        \
  "sys.tables tb ON tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = "      \
  "tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY c.column_id"

constexpr char kScriptColumnQuery[] =
    QV_COLUMN_SELECT "CAST(c.is_nullable AS int) AS is_null" QV_COLUMN_FROM;
// The grid also needs what the server fills itself (GENERATED ALWAYS,
// SQL Server 2016 on) and the code page of character columns.
constexpr char kGridColumnQuery[] = QV_COLUMN_SELECT
    "CAST(c.is_computed AS int) AS is_comp, CAST(c.is_nullable AS int) AS is_null, "
    "CAST(c.generated_always_type AS int) AS gen_always, "
    "CAST(COLLATIONPROPERTY(c.collation_name, 'CodePage') AS int) AS code_page" QV_COLUMN_FROM;

#undef QV_COLUMN_SELECT
#undef QV_COLUMN_FROM

constexpr char kKeyQuery[] =
    "SELECT c.name AS cname FROM sys.indexes i JOIN sys.index_columns ic ON ic.object_id = "
    "i.object_id AND ic.index_id = i.index_id JOIN sys.columns c ON c.object_id = ic.object_id "
    "AND c.column_id = ic.column_id JOIN sys.tables tb ON tb.object_id = i.object_id JOIN "
    "sys.schemas s ON s.schema_id = tb.schema_id WHERE i.is_primary_key = 1 AND s.name = N'%s' "
    "AND tb.name = N'%s' ORDER BY ic.key_ordinal";

// The server cuts long text at the session's TEXTSIZE without a word, so the
// definition travels with its full length and the limit it was read under,
// and with the two settings the module keeps from its creation.
constexpr char kDefinitionQuery[] =
    "SELECT m.definition, DATALENGTH(m.definition) AS def_bytes, @@TEXTSIZE AS text_size, "
    "CAST(m.uses_ansi_nulls AS int) AS ansi_nulls, CAST(m.uses_quoted_identifier AS int) AS "
    "quoted_identifier FROM sys.sql_modules m JOIN sys.objects o ON o.object_id = m.object_id "
    "JOIN sys.schemas s ON s.schema_id = o.schema_id WHERE s.name = N'%s' AND o.name = N'%s'";

constexpr char kParameterQuery[] =
    "SELECT p.name AS pname, ty.name AS tname, CAST(p.is_output AS int) AS is_out, "
    "CAST(p.has_default_value AS int) AS has_def, p.default_value AS dflt FROM sys.parameters p "
    "JOIN sys.objects o ON o.object_id = p.object_id JOIN sys.schemas s ON s.schema_id = "
    "o.schema_id JOIN sys.types ty ON ty.user_type_id = p.user_type_id WHERE s.name = N'%s' AND "
    "o.name = N'%s' ORDER BY p.parameter_id";

// One parameter row; the output and default flags are optional columns.
bool parameter_row(const qv_cursor &cur, const int *at, std::vector<qv_parameter> *out) {
  if (cur.is_null(at[0])) {
    qv_seterr("the catalog returned a row without a name");
    return false;
  }
  // A scalar function's return value is listed with an empty name.
  qv_parameter p;
  p.name = cur.text(at[0], kCatalogNameBytes);
  p.type = cur.text(at[1], kTypeTextBytes);
  if (p.type.empty()) {
    qv_seterr("the catalog returned parameter %s without a type", p.name.c_str());
    return false;
  }
  int is_out = cur.col("is_out"), has_def = cur.col("has_def");
  p.is_output = is_out && flag(cur, is_out);
  p.has_default = has_def && flag(cur, has_def);
  out->push_back(std::move(p));
  return true;
}

}  // namespace

qv_read qv_read_columns(DBPROCESS *session, std::string_view schema, std::string_view table,
                        qv_column_query query, std::vector<qv_table_column> *columns) {
  columns->clear();
  bool grid = query == qv_column_query::grid;
  qv_cursor cur(session);
  if (!open_read(cur, query_for(grid ? kGridColumnQuery : kScriptColumnQuery, schema, table)))
    return qv_read::failed;
  static constexpr const char *kNeeded[] = {"cname", "ctype"};
  int at[2];
  if (!find_columns(cur, kNeeded, at)) return qv_read::failed;
  // The flags are optional: an answer without one reads as its default.
  int is_id = cur.col("is_id"), is_null = cur.col("is_null");
  int is_comp = grid ? cur.col("is_comp") : 0;
  int gen_always = grid ? cur.col("gen_always") : 0;
  int code_page = grid ? cur.col("code_page") : 0;
  qv_read st = read_rows(cur, [&] {
    qv_table_column c;
    if (!name_cell(cur, at[0], &c.name)) return false;
    c.type = cur.text(at[1], kTypeTextBytes);
    c.is_identity = is_id && flag(cur, is_id);
    c.nullable = !is_null || flag(cur, is_null);
    c.is_computed = is_comp && flag(cur, is_comp);
    c.generated_always = gen_always ? static_cast<int>(number(cur, gen_always)) : 0;
    c.code_page = code_page ? static_cast<int>(number(cur, code_page)) : 0;
    columns->push_back(std::move(c));
    return true;
  }, false);
  if (st != qv_read::found) columns->clear();
  return st;
}

qv_read qv_read_primary_key(DBPROCESS *session, std::string_view schema, std::string_view table,
                            std::vector<std::string> *names) {
  names->clear();
  static constexpr const char *kNeeded[] = {"cname"};
  qv_read st = read_each(session, kKeyQuery, schema, table, kNeeded,
                         [&](const qv_cursor &cur, const int *at) {
                           std::string name;
                           if (!name_cell(cur, at[0], &name)) return false;
                           names->push_back(std::move(name));
                           return true;
                         });
  // Half a key is a wrong key.
  if (st != qv_read::found) names->clear();
  return st;
}

qv_definition qv_read_definition(DBPROCESS *session, std::string_view schema,
                                 std::string_view obj, qv_module_definition *out) {
  *out = qv_module_definition{};
  conversion_watch watch;
  qv_cursor cur(session);
  if (!open_read(cur, query_for(kDefinitionQuery, schema, obj))) return qv_definition::failed;
  static constexpr const char *kNeeded[] = {"definition", "ansi_nulls", "quoted_identifier"};
  int at[3];
  if (!find_columns(cur, kNeeded, at)) return qv_definition::failed;
  int row = cur.next();
  if (row < 0) return qv_definition::failed;
  if (row == 0) return cur.finish() == 0 ? qv_definition::absent : qv_definition::failed;
  // Without the length and the limit it was read under, a cut cannot be told.
  long long bytes = number(cur, cur.col("def_bytes"));
  long long limit = number(cur, cur.col("text_size"));
  if (limit > 0 && bytes > limit) {
    qv_seterr("definition of %.*s.%.*s is %lld bytes, more than the %lld bytes the session "
              "reads whole",
              static_cast<int>(schema.size()), schema.data(), static_cast<int>(obj.size()),
              obj.data(), bytes, limit);
    return qv_definition::too_long;
  }
  out->text = whole_text(cur, at[0]);
  out->ansi_nulls = flag(cur, at[1]);
  out->quoted_identifier = flag(cur, at[2]);
  if (cur.finish() != 0) {
    *out = qv_module_definition{};
    return qv_definition::failed;
  }
  if (watch.lost()) return qv_definition::lossy;
  return out->text.empty() ? qv_definition::unavailable : qv_definition::found;
}

qv_read qv_read_parameters(DBPROCESS *session, std::string_view schema, std::string_view obj,
                           std::vector<qv_parameter> *parameters) {
  parameters->clear();
  static constexpr const char *kNeeded[] = {"pname", "tname"};
  qv_read st = read_each(session, kParameterQuery, schema, obj, kNeeded,
                         [&](const qv_cursor &cur, const int *at) {
                           return parameter_row(cur, at, parameters);
                         });
  if (st != qv_read::found) parameters->clear();
  return st;
}

std::string qv_bracketed_list(const std::vector<std::string> &names) {
  std::string list;
  for (const std::string &name : names) {
    if (!list.empty()) list += ", ";
    list += qv_bracketed(name);
  }
  return list;
}

}  // namespace qv::exec
