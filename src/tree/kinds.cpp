#include "tree/kinds.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "common/text.h"

namespace qv::ops::tree {

namespace {

// Names reach the catalog as Unicode literals (N'...') so that names outside
// the database's code page still match.
constexpr qv_node_kind kKinds[] = {
    {"server", "server", "server", nullptr, nullptr, qv_name_use::none, nullptr},
    {"databases", "db", "db", "name", "state_desc", qv_name_use::none,
     "SELECT name, state_desc FROM sys.databases WHERE database_id > 4 ORDER BY name"},
    {"system_databases", "db", "sysdb", "name", "state_desc", qv_name_use::none,
     "SELECT name, state_desc FROM sys.databases WHERE database_id <= 4 ORDER BY name"},
    {"tables", "table", "table", "label", "sub", qv_name_use::none,
     "SELECT s.name + '.' + t.name AS label, CAST(ISNULL(p.rows, 0) AS varchar(32)) + ' "
     "rows' AS sub FROM sys.tables t JOIN sys.schemas s ON s.schema_id = t.schema_id "
     "OUTER APPLY (SELECT SUM(pt.rows) AS rows FROM sys.partitions pt   WHERE "
     "pt.object_id = t.object_id AND pt.index_id IN (0,1)) p WHERE t.is_ms_shipped = 0 "
     "ORDER BY s.name, t.name"},
    {"system_tables", "table", "systable", "label", "sub", qv_name_use::none,
     "SELECT s.name + '.' + t.name AS label, NULL AS sub FROM sys.tables t JOIN "
     "sys.schemas s ON s.schema_id = t.schema_id WHERE t.is_ms_shipped = 1 ORDER BY "
     "s.name, t.name"},
    {"columns", "col", "col", "label", "sub", qv_name_use::schema_obj,
     "SELECT c.name AS label, ty.name + CASE WHEN ty.name IN "
     "('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN "
     "c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar')  "
     "   THEN c.max_length/2 ELSE c.max_length END AS varchar(10)) END + ')'   WHEN "
     "ty.name IN ('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + "
     "',' + CAST(c.scale AS varchar(10)) + ')'   ELSE '' END + CASE WHEN c.is_nullable = "
     "1 THEN ' NULL' ELSE ' NOT NULL' END AS sub, CASE WHEN ic.column_id IS NOT NULL THEN "
     "'PK' ELSE '' END AS keymark FROM sys.columns c JOIN sys.types ty ON ty.user_type_id "
     "= c.user_type_id JOIN sys.tables tb ON tb.object_id = c.object_id JOIN sys.schemas "
     "s ON s.schema_id = tb.schema_id LEFT JOIN (sys.index_columns ic JOIN sys.indexes i "
     "ON   i.object_id = ic.object_id AND i.index_id = ic.index_id   AND i.is_primary_key "
     "= 1)   ON ic.object_id = c.object_id AND ic.column_id = c.column_id WHERE s.name = "
     "N'%s' AND tb.name = N'%s' ORDER BY c.column_id",
     true},
    {"keys", "key", "key", "label", "sub", qv_name_use::schema_obj,
     "SELECT k.name AS label, k.type_desc AS sub FROM sys.key_constraints k JOIN "
     "sys.tables tb ON tb.object_id = k.parent_object_id JOIN sys.schemas s ON "
     "s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY k.name"},
    {"constraints", "constraint", "constraint", "label", "sub", qv_name_use::schema_obj_twice,
     "SELECT dc.name AS label, 'default' AS sub FROM sys.default_constraints dc JOIN "
     "sys.tables tb ON tb.object_id = dc.parent_object_id JOIN sys.schemas s ON "
     "s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' UNION ALL "
     "SELECT ck.name, 'check' FROM sys.check_constraints ck JOIN sys.tables tb ON "
     "tb.object_id = ck.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id "
     "WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY 1"},
    {"triggers", "trigger", "trigger", "label", "sub", qv_name_use::schema_obj,
     "SELECT tr.name AS label, tr.type_desc AS sub FROM sys.triggers tr JOIN sys.tables "
     "tb ON tb.object_id = tr.parent_id JOIN sys.schemas s ON s.schema_id = tb.schema_id "
     "WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY tr.name"},
    {"indexes", "idx", "idx", "label", "sub", qv_name_use::schema_obj,
     "SELECT i.name AS label, i.type_desc + CASE WHEN i.is_unique = 1 THEN ' UNIQUE' ELSE "
     "'' END + CASE WHEN i.is_primary_key = 1 THEN ' PRIMARY KEY' ELSE '' END AS sub FROM "
     "sys.indexes i JOIN sys.tables tb ON tb.object_id = i.object_id JOIN sys.schemas s "
     "ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' AND i.type > "
     "0 ORDER BY i.index_id"},
    {"statistics", "stat", "stat", "label", "sub", qv_name_use::schema_obj,
     "SELECT st.name AS label, CASE WHEN st.user_created = 1 THEN 'user' ELSE 'system' "
     "END AS sub FROM sys.stats st JOIN sys.tables tb ON tb.object_id = st.object_id JOIN "
     "sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = "
     "N'%s' ORDER BY st.name"},
    {"views", "view", "view", "label", "sub", qv_name_use::none,
     "SELECT s.name + '.' + v.name AS label, NULL AS sub FROM sys.views v JOIN "
     "sys.schemas s ON s.schema_id = v.schema_id WHERE v.is_ms_shipped = 0 ORDER BY "
     "s.name, v.name"},
    {"stored_procedures", "proc", "proc", "label", "sub", qv_name_use::none,
     "SELECT s.name + '.' + p.name AS label, p.type_desc AS sub FROM sys.procedures p "
     "JOIN sys.schemas s ON s.schema_id = p.schema_id WHERE p.is_ms_shipped = 0 ORDER BY "
     "s.name, p.name"},
    {"functions", "func", "func", "label", "sub", qv_name_use::none,
     "SELECT s.name + '.' + f.name AS label, CASE f.type WHEN 'FN' THEN 'scalar' WHEN "
     "'IF' THEN 'inline table-valued' WHEN 'TF' THEN 'table-valued' ELSE f.type_desc END "
     "AS sub FROM sys.objects f JOIN sys.schemas s ON s.schema_id = f.schema_id WHERE "
     "f.type IN ('FN','IF','TF','FS','AF') AND f.is_ms_shipped = 0 ORDER BY s.name, f.name"},
    {"function_params", "param", "param", "label", "sub", qv_name_use::schema_obj,
     "SELECT p.name AS label, ty.name AS sub FROM sys.parameters p JOIN sys.objects o ON "
     "o.object_id = p.object_id JOIN sys.schemas s ON s.schema_id = o.schema_id JOIN "
     "sys.types ty ON ty.user_type_id = p.user_type_id WHERE s.name = N'%s' AND o.name = "
     "N'%s' ORDER BY p.parameter_id"},
    {"db_users", "user", "user", "label", "sub", qv_name_use::none,
     "SELECT dp.name AS label, dp.type_desc AS sub FROM sys.database_principals dp WHERE "
     "dp.type IN ('S','U','G') ORDER BY dp.name"},
    {"db_roles", "role", "role", "label", "sub", qv_name_use::none,
     "SELECT dp.name AS label, CASE WHEN dp.is_fixed_role = 1 THEN 'fixed' ELSE "
     "'application' END AS sub FROM sys.database_principals dp WHERE dp.type = 'R' ORDER "
     "BY dp.name"},
    {"db_schemas", "schema", "schema", "label", "sub", qv_name_use::none,
     "SELECT s.name AS label, USER_NAME(s.principal_id) AS sub FROM sys.schemas s ORDER "
     "BY s.name"},
    {"logins", "login", "login", "label", "sub", qv_name_use::none,
     "SELECT sp.name AS label, sp.type_desc AS sub FROM sys.server_principals sp WHERE "
     "sp.type IN ('S','U','G') ORDER BY sp.name"},
    {"server_roles", "srvrole", "srvrole", "label", "sub", qv_name_use::none,
     "SELECT sp.name AS label, CASE WHEN sp.is_fixed_role = 1 THEN 'fixed' ELSE "
     "'user-defined' END AS sub FROM sys.server_principals sp WHERE sp.type = 'R' ORDER "
     "BY sp.name"},
    {"jobs", "job", "job", "label", "sub", qv_name_use::none,
     "SELECT j.name AS label, CASE j.enabled WHEN 1 THEN 'enabled' ELSE 'disabled' END AS "
     "sub FROM msdb.dbo.sysjobs j ORDER BY j.name"},
};

}  // namespace

const qv_node_kind *qv_find_node_kind(const char *name) {
  for (const qv_node_kind &k : kKinds)
    if (std::strcmp(k.name, name) == 0) return &k;
  return nullptr;
}

std::string qv_node_query(const qv_node_kind &kind, const char *schema, const char *obj) {
  switch (kind.names) {
    case qv_name_use::schema_obj: return qv_formatted(kind.sql, schema, obj);
    case qv_name_use::schema_obj_twice: return qv_formatted(kind.sql, schema, obj, schema, obj);
    case qv_name_use::none: break;
  }
  return kind.sql;
}

}  // namespace qv::ops::tree
