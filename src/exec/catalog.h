// The catalog reads more than one operation needs: a table's columns, its
// primary key, a module's definition and a routine's parameters. Each takes
// the caller's legal names (the literals are built here) and answers found,
// absent or failed; a failed read records the server's reason and is never
// taken for absence. A row whose name is NULL or empty, or a result without
// the columns a read needs, is a failed read. Internal header.
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

// "[a], [b], ...": names bracketed and joined.
std::string qv_bracketed_list(const std::vector<std::string> &names);

}  // namespace qv::exec
