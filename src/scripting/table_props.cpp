// Properties of one user table: its names, row count and allocated pages.
#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/catalog.h"
#include "exec/cursor.h"
#include "scripting/scripting.h"

namespace qv::ops::scripting {

namespace {

constexpr char kExistenceQuery[] =
    "SELECT o.name FROM sys.objects o JOIN sys.schemas s ON s.schema_id = o.schema_id WHERE "
    "s.name = N'%s' AND o.name = N'%s' AND o.type = '%s'";
constexpr char kPageQuery[] =
    "SELECT CAST(SUM(au.total_pages) AS varchar(32)) AS used_pages FROM sys.allocation_units au "
    "JOIN sys.partitions pt ON pt.partition_id = au.container_id JOIN sys.tables tb ON "
    "tb.object_id = pt.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name "
    "= N'%s' AND tb.name = N'%s'";
constexpr char kRowQuery[] =
    "SELECT CAST(SUM(pt.rows) AS varchar(32)) AS rows FROM sys.partitions pt JOIN sys.tables tb "
    "ON tb.object_id = pt.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE "
    "pt.index_id IN (0,1) AND s.name = N'%s' AND tb.name = N'%s'";
constexpr char kUserTableType[] = "U";
constexpr char kPropsTitle[] = "Table Properties";
constexpr std::size_t kCountBytes = 63;

// The count a query gives as text (empty for NULL); false (reason
// recorded) when the read failed.
bool count_of(const script_target &t, const char *what, const std::string &sql,
              std::string *count) {
  if (qv_read_scalar(t.session, sql.c_str(), kCountBytes, count) >= 0) return true;
  refuse_unreadable(t, what);
  return false;
}

}  // namespace

int script_table_props(const script_target &t, script_result *out) {
  std::string schema = qv_literal_inside(t.schema), obj = qv_literal_inside(t.obj);
  std::string found;
  std::string exists = qv_formatted(kExistenceQuery, schema.c_str(), obj.c_str(), kUserTableType);
  int row = qv_read_scalar(t.session, exists.c_str(), kCatalogNameBytes, &found);
  if (row < 0) return refuse_unreadable(t, "catalog entry");
  if (row == 0 || found.empty()) {
    qv_seterr("table not found: %s.%s", t.schema, t.obj);
    return -1;
  }
  std::string pages, rows;
  if (!count_of(t, "page count", qv_formatted(kPageQuery, schema.c_str(), obj.c_str()), &pages) ||
      !count_of(t, "row count", qv_formatted(kRowQuery, schema.c_str(), obj.c_str()), &rows))
    return -1;
  out->title = kPropsTitle;
  out->sql_null = true;
  out->props = {{"schema", t.schema}, {"name", t.obj}, {"rows", rows},
                {"used_pages", pages}, {"database", t.database}};
  return 0;
}

}  // namespace qv::ops::scripting
