// The catalog readers the scripting actions share: a table's columns, its
// primary key and a module's definition. Each takes the unescaped schema and
// object name (legal names) and builds its own literals.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <sybdb.h>

class qv_cursor;


// One column of a table, in column order.
struct qv_col_def {
  std::string name;
  std::string type;  // int, nvarchar(50), varchar(max), decimal(18,2), ...
  int is_identity = 0;
  int is_nullable = 1;
};

// Every column of a user table (none when there is no such table). 0, or -1
// when the query failed (reason recorded).
int load_columns(DBPROCESS *session, const char *schema, const char *obj,
                 std::vector<qv_col_def> *columns);

// The bracketed primary-key columns in key order, joined by ", " ("" for a
// table without a key). 0, or -1 when the query failed (list left empty).
int pk_columns(DBPROCESS *session, const char *schema, const char *obj, std::string *list);

enum class definition_state {
  found,        // text holds the whole definition
  unavailable,  // the module exists but its definition is NULL or empty (encrypted)
  missing,      // no module of that name
  too_long,     // longer than the session reads whole (message recorded)
  failed,       // the query failed (reason recorded)
};
// A module's definition, read whole.
definition_state fetch_definition(DBPROCESS *session, const char *schema, const char *obj,
                                  std::string *text);

// The first column of the first row of sql as text: 1 with a row, 0 without,
// -1 when the query failed (reason recorded).
int catalog_scalar(DBPROCESS *session, const std::string &sql, char *buf, std::size_t bufsize);


