// Properties of one user table: its names, row count and allocated pages.
#include "common/capture.h"
#include "exec/catalog.h"
#include "scripting/catalog.h"
#include "scripting/names.h"
#include "scripting/scripting.h"

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
constexpr std::size_t kCountSize = 64;

// The count a query gives as text; empty when it failed or gave NULL.
std::string count_of(const script_target &t, const std::string &sql) {
  char buf[kCountSize];
  catalog_scalar(t.session, sql, buf, sizeof buf);
  return buf;
}

}  // namespace

int script_table_props(const script_target &t, script_result *out) {
  std::string schema = literal_text(t.schema), obj = literal_text(t.obj);
  char found[kCatalogNameBytes + 1];
  std::string exists = qv_formatted(kExistenceQuery, schema.c_str(), obj.c_str(), kUserTableType);
  if (catalog_scalar(t.session, exists, found, sizeof found) != 1 || !found[0]) {
    qv_seterr("table not found: %s.%s", t.schema, t.obj);
    return -1;
  }
  std::string pages = count_of(t, qv_formatted(kPageQuery, schema.c_str(), obj.c_str()));
  std::string rows = count_of(t, qv_formatted(kRowQuery, schema.c_str(), obj.c_str()));
  out->title = kPropsTitle;
  out->sql_null = true;
  out->props = {{"schema", t.schema}, {"name", t.obj}, {"rows", rows},
                {"used_pages", pages}, {"database", t.database}};
  return 0;
}
