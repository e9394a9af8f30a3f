// The pieces every catalog read is made of: the query text for a schema and
// an object, opening the read, finding the columns it needs, the cells of a
// row and the walk over the rows. Used by catalog.cpp and catalog_table.cpp
// only. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "common/capture.h"
#include "exec/catalog.h"
#include "exec/cursor.h"

namespace qv::exec::catalog_rows {

// The longest type text a read keeps.
constexpr std::size_t kTypeTextBytes = 255;

// fmt with its two %s filled with schema and obj as literal insides.
std::string query_for(const char *fmt, std::string_view schema, std::string_view obj);

// Opens sql for a read; false when it failed or gave no result set.
bool open_read(qv_cursor &cur, const std::string &sql);

// A 0/1 cell: true when it starts with "1".
bool flag(const qv_cursor &cur, int column);
// A whole number cell; 0 when NULL, absent or not a number.
long long number(const qv_cursor &cur, int column);

// The whole text of a character cell of the current row, whatever its size,
// straight from db-lib's buffer (already UTF-8 there); empty for NULL.
std::string whole_text(const qv_cursor &cur, int column);

// The name in column of the current row; false (reason recorded) when it is
// NULL or empty: a nameless row is no answer.
bool name_cell(const qv_cursor &cur, int column, std::string *name);

// The columns a read needs, found by name in the open result set; false
// (reason recorded) when one is missing.
template <std::size_t N>
bool find_columns(const qv_cursor &cur, const char *const (&names)[N], int (&at)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    at[i] = cur.col(names[i]);
    if (at[i] == 0) {
      qv_seterr("the catalog's answer lacks the column %s", names[i]);
      return false;
    }
  }
  return true;
}

// Reads every row of an open read with row(); the outcome of the whole read.
template <class Row>
qv_read read_rows(qv_cursor &cur, Row &&row, bool any) {
  int st;
  while ((st = cur.next()) == 1) {
    if (!row()) return qv_read::failed;
    any = true;
  }
  if (st < 0 || cur.finish() != 0) return qv_read::failed;
  return any ? qv_read::found : qv_read::absent;
}

// Whether db-lib replaced characters of the catalog's text with '?' while
// a read ran: such text names or defines something else than the catalog
// holds.
class conversion_watch {
 public:
  conversion_watch() : at_start_(qv_conversion_losses()) {}
  bool lost() const { return qv_conversion_losses() != at_start_; }

 private:
  std::int32_t at_start_;
};

// The whole of one read: sql about schema.obj, every column of names
// required, row(cur, at) taking each row (at: the columns' indexes in the
// order of names; false fails the read).
template <std::size_t N, class Row>
qv_read read_each(DBPROCESS *session, const char *sql, std::string_view schema,
                  std::string_view obj, const char *const (&names)[N], Row &&row) {
  qv_cursor cur(session);
  int at[N];
  if (!open_read(cur, query_for(sql, schema, obj)) || !find_columns(cur, names, at))
    return qv_read::failed;
  return read_rows(cur, [&] { return row(cur, at); }, false);
}

}  // namespace qv::exec::catalog_rows
