// The catalog reads: a table's columns and primary key (more than one
// operation needs them), a module's definition, a routine's parameters and
// what a table's CREATE script is made of. Each takes the caller's legal
// names (the literals are built here) and answers found, absent or failed;
// a failed read records the server's reason and is never taken for absence.
// A row whose name is NULL or empty, or a result without the columns a read
// needs, is a failed read. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <sybdb.h>

namespace qv::exec {

// A name read from the catalog: a legal name of 128 UTF-16 units takes at
// most 384 bytes of UTF-8.
constexpr std::size_t kCatalogNameBytes = 1023;

enum class qv_read {
  found,   // the object and what was asked for exist; the output is filled
  absent,  // the read worked and found nothing
  failed,  // the read failed; the reason is recorded
};

// One column of a table, in column order.
struct qv_table_column {
  std::string name;
  std::string type;  // int, nvarchar(50), varchar(max), decimal(18,2), ...
  bool is_identity = false;
  bool is_computed = false;
  bool nullable = true;
  int generated_always = 0;  // sys.columns.generated_always_type; above 0: the server fills it
  int code_page = 0;         // of the column's collation; 0 when none or unknown

  // rowversion (the catalog calls it timestamp): the server writes it.
  bool is_rowversion() const { return type == "timestamp" || type == "rowversion"; }
  // A column no INSERT or UPDATE may set.
  bool is_read_only() const {
    return is_identity || is_computed || is_rowversion() || generated_always > 0;
  }
};

// Which of the two column queries asks: the scripts' (no computed,
// generated or code page columns) or the edit grid's.
enum class qv_column_query { scripting, grid };

// Every column of the user table schema.table; absent when there is no such
// table.
qv_read qv_read_columns(DBPROCESS *session, std::string_view schema, std::string_view table,
                        qv_column_query query, std::vector<qv_table_column> *columns);

// The primary-key columns of schema.table in key order; absent when the
// table has no primary key.
qv_read qv_read_primary_key(DBPROCESS *session, std::string_view schema, std::string_view table,
                            std::vector<std::string> *names);

enum class qv_definition {
  found,        // the whole definition and its settings were read
  unavailable,  // the module exists but its definition is NULL or empty (encrypted)
  absent,       // no module of that name
  too_long,     // longer than the session reads whole (reason recorded)
  lossy,        // db-lib could not convert it without loss ('?' for some characters)
  failed,       // the read failed (reason recorded)
};
// A module's definition and the two settings it was created under, which
// it keeps whatever the settings of the session that runs it.
struct qv_module_definition {
  std::string text;
  bool ansi_nulls = true;         // sys.sql_modules.uses_ansi_nulls
  bool quoted_identifier = true;  // sys.sql_modules.uses_quoted_identifier
};
// A module's (view, procedure, function, trigger) definition, read whole.
qv_definition qv_read_definition(DBPROCESS *session, std::string_view schema,
                                 std::string_view obj, qv_module_definition *out);

// One parameter of a procedure or function, in parameter order.
struct qv_parameter {
  std::string name;  // with its "@"; empty for a function's return value
  std::string type;
  bool is_output = false;
  bool has_default = false;
};
// The parameters of schema.obj; absent when it has none. A scalar
// function's return value comes first, with an empty name (a NULL name is a
// failed read).
qv_read qv_read_parameters(DBPROCESS *session, std::string_view schema, std::string_view obj,
                           std::vector<qv_parameter> *parameters);

// ---------------------------------------------------------------------------
// What a CREATE TABLE script needs, one read per concern (catalog_table.cpp).
// Every column of these answers is required: a missing one would change the
// script without a word. Text that db-lib could not convert without loss
// fails the read, since it names or defines something else.

// One column as the table declares it, in column order.
struct qv_column_decl {
  std::string name;
  std::string type_name;     // sys.types.name
  std::string type_schema;   // the schema of the type
  bool user_type = false;    // defined in the database (alias or CLR): written [schema].[type]
  int max_length = 0;        // bytes; -1 for (max)
  int precision = 0;
  int scale = 0;             // also the fractional seconds of time, datetime2, datetimeoffset
  std::string xml_schema;    // typed xml: the schema and name of its collection
  std::string xml_collection;
  bool xml_document = false;
  std::string collation;     // only where it differs from the database's default
  bool nullable = true;
  bool computed = false;
  std::string computed_definition;
  bool persisted = false;
  bool identity = false;
  std::string seed;          // of an identity, as the catalog writes it
  std::string increment;
  std::string default_name;  // the column's DEFAULT constraint, if any
  std::string default_definition;
};
// absent when there is no such user table.
qv_read qv_read_column_decls(DBPROCESS *session, std::string_view schema, std::string_view table,
                             std::vector<qv_column_decl> *columns);

// A column of an index: key columns first in key order, then included ones.
struct qv_index_column {
  std::string name;
  bool descending = false;
  bool included = false;
};
// A clustered or nonclustered rowstore index of a table, in index order.
struct qv_table_index {
  enum class kind { primary_key, unique_constraint, index };
  std::string name;  // the constraint's name for a key constraint
  kind role = kind::index;
  bool unique = false;
  bool clustered = false;
  std::string filter;  // the filter of a filtered index; empty otherwise
  std::vector<qv_index_column> columns;
};
// absent when the table has none.
qv_read qv_read_table_indexes(DBPROCESS *session, std::string_view schema, std::string_view table,
                              std::vector<qv_table_index> *indexes);

struct qv_check_constraint {
  std::string name;
  std::string definition;
};
// In name order; absent when the table has none.
qv_read qv_read_check_constraints(DBPROCESS *session, std::string_view schema,
                                  std::string_view table, std::vector<qv_check_constraint> *checks);

// A foreign key of the table, its columns paired with the referenced ones.
struct qv_foreign_key {
  std::string name;
  std::string ref_schema;
  std::string ref_table;
  std::vector<std::string> columns;
  std::vector<std::string> ref_columns;
  int on_delete = 0;  // sys.foreign_keys' referential action: 0 no action, 1 cascade,
  int on_update = 0;  // 2 set null, 3 set default
};
// In name order; absent when the table has none.
qv_read qv_read_foreign_keys(DBPROCESS *session, std::string_view schema, std::string_view table,
                             std::vector<qv_foreign_key> *keys);

// How the table is stored, beyond what CREATE TABLE scripts.
struct qv_table_storage {
  int temporal_type = 0;       // sys.tables.temporal_type: 1 history table, 2 system-versioned
  bool partitioned = false;    // an index or the heap lies on a partition scheme
  bool compressed = false;     // a partition is compressed
  bool filegroups = false;     // data or LOB data lies on a filegroup that is not the default
  bool other_indexes = false;  // XML, spatial, columnstore or hash indexes
};
// absent when there is no such user table.
qv_read qv_read_table_storage(DBPROCESS *session, std::string_view schema, std::string_view table,
                              qv_table_storage *storage);

// "[a], [b], ...": names bracketed and joined.
std::string qv_bracketed_list(const std::vector<std::string> &names);

}  // namespace qv::exec
