// The reads a table's CREATE script is made of: its column declarations,
// its indexes (the key constraints among them), check constraints, foreign
// keys and what of its storage the script leaves out. One query each.
#include <utility>

#include "common/capture.h"
#include "exec/catalog.h"
#include "exec/catalog_rows.h"
#include "exec/cursor.h"

namespace qv::exec {

using namespace catalog_rows;

namespace {

// One row per column with what declares it: the type's parts, a collation
// other than the database's, and the computed, identity and default parts.
constexpr char kColumnDeclQuery[] =
    "SELECT c.name AS cname, ty.name AS tname, SCHEMA_NAME(ty.schema_id) AS tschema, "
    "CAST(ty.is_user_defined AS int) AS is_udt, CAST(c.max_length AS int) AS max_len, "
    "CAST(c.precision AS int) AS prec, CAST(c.scale AS int) AS scale, SCHEMA_NAME(xc.schema_id) "
    "AS xschema, xc.name AS xname, CAST(c.is_xml_document AS int) AS xml_doc, CASE WHEN "
    "c.collation_name <> CAST(DATABASEPROPERTYEX(DB_NAME(), 'Collation') AS nvarchar(128)) THEN "
    "c.collation_name END AS coll, CAST(c.is_nullable AS int) AS is_null, CAST(c.is_computed AS "
    "int) AS is_comp, cc.definition AS comp_def, CAST(cc.is_persisted AS int) AS persisted, "
    "CAST(c.is_identity AS int) AS is_id, CAST(ic.seed_value AS nvarchar(40)) AS seed, "
    "CAST(ic.increment_value AS nvarchar(40)) AS incr, dc.name AS dname, dc.definition AS ddef "
    "FROM sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN sys.tables tb "
    "ON tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id LEFT JOIN "
    "sys.xml_schema_collections xc ON xc.xml_collection_id = c.xml_collection_id AND "
    "c.xml_collection_id <> 0 LEFT JOIN sys.computed_columns cc ON cc.object_id = c.object_id "
    "AND cc.column_id = c.column_id LEFT JOIN sys.identity_columns ic ON ic.object_id = "
    "c.object_id AND ic.column_id = c.column_id LEFT JOIN sys.default_constraints dc ON "
    "dc.parent_object_id = c.object_id AND dc.parent_column_id = c.column_id WHERE s.name = "
    "N'%s' AND tb.name = N'%s' ORDER BY c.column_id";

// Clustered and nonclustered rowstore indexes, one row per key or included
// column (partitioning columns the server adds on its own left out).
constexpr char kIndexQuery[] =
    "SELECT COALESCE(kc.name, i.name) AS iname, "
    "CAST(i.is_primary_key AS int) AS is_pk, CAST(i.is_unique_constraint AS int) AS is_uq, "
    "CAST(i.is_unique AS int) AS is_unique, CAST(i.type AS int) AS itype, i.filter_definition AS "
    "filter, c.name AS cname, CAST(ic.is_descending_key AS int) AS is_desc, "
    "CAST(ic.is_included_column AS int) AS is_incl FROM sys.indexes i JOIN sys.index_columns ic "
    "ON ic.object_id = i.object_id AND ic.index_id = i.index_id JOIN sys.columns c ON "
    "c.object_id = ic.object_id AND c.column_id = ic.column_id JOIN sys.tables tb ON "
    "tb.object_id = i.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id LEFT JOIN "
    "sys.key_constraints kc ON kc.parent_object_id = i.object_id AND kc.unique_index_id = "
    "i.index_id WHERE i.type IN (1,2) AND i.is_hypothetical = 0 AND (ic.key_ordinal > 0 OR "
    "ic.is_included_column = 1) AND s.name = N'%s' AND tb.name = N'%s' ORDER BY i.index_id, "
    "ic.is_included_column, ic.key_ordinal, ic.index_column_id";

constexpr char kCheckQuery[] =
    "SELECT ck.name AS kname, ck.definition AS kdef FROM sys.check_constraints ck JOIN "
    "sys.tables tb ON tb.object_id = ck.parent_object_id JOIN sys.schemas s ON s.schema_id = "
    "tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY ck.name";

// One row per column pair of each foreign key.
constexpr char kForeignKeyQuery[] =
    "SELECT fk.name AS fname, rs.name AS rschema, rt.name AS rtable, pc.name AS cname, rc.name "
    "AS rcname, CAST(fk.delete_referential_action AS int) AS on_delete, "
    "CAST(fk.update_referential_action AS int) AS on_update FROM sys.foreign_keys fk JOIN "
    "sys.foreign_key_columns fkc ON fkc.constraint_object_id = fk.object_id JOIN sys.columns pc "
    "ON pc.object_id = fkc.parent_object_id AND pc.column_id = fkc.parent_column_id JOIN "
    "sys.columns rc ON rc.object_id = fkc.referenced_object_id AND rc.column_id = "
    "fkc.referenced_column_id JOIN sys.tables rt ON rt.object_id = fk.referenced_object_id JOIN "
    "sys.schemas rs ON rs.schema_id = rt.schema_id JOIN sys.tables tb ON tb.object_id = "
    "fk.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' "
    "AND tb.name = N'%s' ORDER BY fk.name, fkc.constraint_column_id";

constexpr char kStorageQuery[] =
    "SELECT CAST(tb.temporal_type AS int) AS temporal, CASE WHEN EXISTS (SELECT 1 FROM "
    "sys.indexes i JOIN sys.data_spaces ds ON ds.data_space_id = i.data_space_id WHERE "
    "i.object_id = tb.object_id AND ds.type = 'PS') THEN 1 ELSE 0 END AS partitioned, CASE WHEN "
    "EXISTS (SELECT 1 FROM sys.partitions p WHERE p.object_id = tb.object_id AND "
    "p.data_compression <> 0) THEN 1 ELSE 0 END AS compressed, CASE WHEN EXISTS (SELECT 1 FROM "
    "sys.data_spaces ds WHERE ds.type = 'FG' AND ds.is_default = 0 AND (ds.data_space_id = "
    "tb.lob_data_space_id OR ds.data_space_id IN (SELECT i.data_space_id FROM sys.indexes i "
    "WHERE i.object_id = tb.object_id))) THEN 1 ELSE 0 END AS filegroups, CASE WHEN EXISTS "
    "(SELECT 1 FROM sys.indexes i WHERE i.object_id = tb.object_id AND i.type > 2) THEN 1 ELSE 0 "
    "END AS other_indexes FROM sys.tables tb JOIN sys.schemas s ON s.schema_id = tb.schema_id "
    "WHERE s.name = N'%s' AND tb.name = N'%s'";

constexpr std::size_t kSmallTextBytes = 63;

int int_cell(const qv_cursor &cur, int column) { return static_cast<int>(number(cur, column)); }

// read_each into *out, add_row(cur, at, out) taking each row. Text changed
// by the conversion to UTF-8 fails the read; out is left empty unless found.
template <class T, std::size_t N>
qv_read read_into(DBPROCESS *session, const char *sql, std::string_view schema,
                  std::string_view table, const char *const (&names)[N], std::vector<T> *out,
                  bool (*add_row)(const qv_cursor &, const int *, std::vector<T> *)) {
  out->clear();
  conversion_watch watch;
  qv_read st = read_each(session, sql, schema, table, names,
                         [&](const qv_cursor &cur, const int *at) { return add_row(cur, at, out); });
  if (st == qv_read::found && watch.lost()) {
    qv_seterr("the catalog's text cannot be converted without loss");
    st = qv_read::failed;
  }
  if (st != qv_read::found) out->clear();
  return st;
}

constexpr const char *kColumnDeclNames[] = {
    "cname",   "tname", "tschema", "is_udt",  "max_len", "prec",    "scale",
    "xschema", "xname", "xml_doc", "coll",    "is_null", "is_comp", "comp_def",
    "persisted", "is_id", "seed",  "incr",    "dname",   "ddef"};

bool column_decl_row(const qv_cursor &cur, const int *at, std::vector<qv_column_decl> *out) {
  qv_column_decl c;
  if (!name_cell(cur, at[0], &c.name) || !name_cell(cur, at[1], &c.type_name)) return false;
  c.type_schema = cur.text(at[2], kCatalogNameBytes);
  c.user_type = flag(cur, at[3]);
  c.max_length = int_cell(cur, at[4]);
  c.precision = int_cell(cur, at[5]);
  c.scale = int_cell(cur, at[6]);
  c.xml_schema = cur.text(at[7], kCatalogNameBytes);
  c.xml_collection = cur.text(at[8], kCatalogNameBytes);
  c.xml_document = flag(cur, at[9]);
  c.collation = cur.text(at[10], kCatalogNameBytes);
  c.nullable = flag(cur, at[11]);
  c.computed = flag(cur, at[12]);
  c.computed_definition = whole_text(cur, at[13]);
  c.persisted = flag(cur, at[14]);
  c.identity = flag(cur, at[15]);
  c.seed = cur.text(at[16], kSmallTextBytes);
  c.increment = cur.text(at[17], kSmallTextBytes);
  c.default_name = cur.text(at[18], kCatalogNameBytes);
  c.default_definition = whole_text(cur, at[19]);
  out->push_back(std::move(c));
  return true;
}

constexpr const char *kIndexNames[] = {"iname",  "is_pk", "is_uq",   "is_unique", "itype",
                                       "filter", "cname", "is_desc", "is_incl"};

// Adds the current row to indexes: a new index when the name changes (rows
// come in index order; names are unique within a table), else one more
// column of the last one.
bool index_row(const qv_cursor &cur, const int *at, std::vector<qv_table_index> *indexes) {
  qv_index_column col;
  std::string name;
  if (!name_cell(cur, at[0], &name) || !name_cell(cur, at[6], &col.name)) return false;
  col.descending = flag(cur, at[7]);
  col.included = flag(cur, at[8]);
  if (indexes->empty() || indexes->back().name != name) {
    qv_table_index ix;
    ix.name = std::move(name);
    ix.role = flag(cur, at[1])   ? qv_table_index::kind::primary_key
              : flag(cur, at[2]) ? qv_table_index::kind::unique_constraint
                                 : qv_table_index::kind::index;
    ix.unique = flag(cur, at[3]);
    ix.clustered = int_cell(cur, at[4]) == 1;
    ix.filter = whole_text(cur, at[5]);
    indexes->push_back(std::move(ix));
  }
  indexes->back().columns.push_back(std::move(col));
  return true;
}

constexpr const char *kCheckNames[] = {"kname", "kdef"};

bool check_row(const qv_cursor &cur, const int *at, std::vector<qv_check_constraint> *checks) {
  qv_check_constraint ck;
  if (!name_cell(cur, at[0], &ck.name)) return false;
  ck.definition = whole_text(cur, at[1]);
  checks->push_back(std::move(ck));
  return true;
}

constexpr const char *kForeignKeyNames[] = {"fname",  "rschema",   "rtable",   "cname",
                                            "rcname", "on_delete", "on_update"};

// Adds the current row to keys: a new key when the name changes (rows come
// by name), else one more column pair of the last one.
bool foreign_key_row(const qv_cursor &cur, const int *at, std::vector<qv_foreign_key> *keys) {
  std::string name, column, ref_column;
  if (!name_cell(cur, at[0], &name) || !name_cell(cur, at[3], &column) ||
      !name_cell(cur, at[4], &ref_column))
    return false;
  if (keys->empty() || keys->back().name != name) {
    qv_foreign_key fk;
    fk.name = std::move(name);
    if (!name_cell(cur, at[1], &fk.ref_schema) || !name_cell(cur, at[2], &fk.ref_table))
      return false;
    fk.on_delete = int_cell(cur, at[5]);
    fk.on_update = int_cell(cur, at[6]);
    keys->push_back(std::move(fk));
  }
  keys->back().columns.push_back(std::move(column));
  keys->back().ref_columns.push_back(std::move(ref_column));
  return true;
}

constexpr const char *kStorageNames[] = {"temporal", "partitioned", "compressed", "filegroups",
                                         "other_indexes"};

bool storage_row(const qv_cursor &cur, const int *at, std::vector<qv_table_storage> *out) {
  qv_table_storage st;
  st.temporal_type = int_cell(cur, at[0]);
  st.partitioned = flag(cur, at[1]);
  st.compressed = flag(cur, at[2]);
  st.filegroups = flag(cur, at[3]);
  st.other_indexes = flag(cur, at[4]);
  out->push_back(st);
  return true;
}

}  // namespace

qv_read qv_read_column_decls(DBPROCESS *session, std::string_view schema, std::string_view table,
                             std::vector<qv_column_decl> *columns) {
  return read_into(session, kColumnDeclQuery, schema, table, kColumnDeclNames, columns,
                   column_decl_row);
}

qv_read qv_read_table_indexes(DBPROCESS *session, std::string_view schema, std::string_view table,
                              std::vector<qv_table_index> *indexes) {
  return read_into(session, kIndexQuery, schema, table, kIndexNames, indexes, index_row);
}

qv_read qv_read_check_constraints(DBPROCESS *session, std::string_view schema,
                                  std::string_view table,
                                  std::vector<qv_check_constraint> *checks) {
  return read_into(session, kCheckQuery, schema, table, kCheckNames, checks, check_row);
}

qv_read qv_read_foreign_keys(DBPROCESS *session, std::string_view schema, std::string_view table,
                             std::vector<qv_foreign_key> *keys) {
  return read_into(session, kForeignKeyQuery, schema, table, kForeignKeyNames, keys,
                   foreign_key_row);
}

qv_read qv_read_table_storage(DBPROCESS *session, std::string_view schema, std::string_view table,
                              qv_table_storage *storage) {
  std::vector<qv_table_storage> rows;
  qv_read st = read_into(session, kStorageQuery, schema, table, kStorageNames, &rows, storage_row);
  *storage = rows.empty() ? qv_table_storage{} : rows.front();
  return st;
}

}  // namespace qv::exec
