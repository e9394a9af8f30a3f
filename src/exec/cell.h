// Column descriptions, type names, and the rendering of cells and rows.
// Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <sybdb.h>

namespace qv::common {
class qv_reply;
}

namespace qv::exec {


constexpr std::size_t kCellBufSize = 65536;  // one cell's text is at most 65535 bytes
constexpr std::size_t kColNameSize = 256;
constexpr std::size_t kColTypeSize = 64;
constexpr char kConvErrText[] = "<conv_err>";

// How a column's values are written into JSON, decided once per column from
// its type text.
enum class qv_json_kind : std::int32_t { text, integer, boolean, floating, exact };

// How a column's cells reach the reply, decided once per result set: the
// common type and kind pairs straight from their binary value.
enum class qv_cell_path : std::int32_t {
  general, integer, bit, float8, exact, date, hex, character
};

struct qv_col {
  char name[kColNameSize];
  char type[kColTypeSize];
  std::int32_t nullable;
  std::int32_t type_code;
  qv_json_kind kind;
  qv_cell_path path;
};

void col_type_name(DBPROCESS *session, int column, char *out);
// Fills col for the 1-based column; nullable from db-lib when ask_nullable,
// else 1.
void qv_describe_col(DBPROCESS *session, int column, bool ask_nullable, qv_col *col);
int qv_col_idx(DBPROCESS *session, const char *name);

// The text of the current row's cell. Returns 0, or -1 when the value cannot
// be converted; *is_null (optional) tells NULL apart.
int qv_cell(DBPROCESS *session, int column, char *buf, std::size_t bufsize, int *is_null);
// Appends the current row as a JSON array of typed values to w (when given).
int qv_append_row(DBPROCESS *session, qv_reply *w, const qv_col *cols, int ncols, char *buf,
                  std::size_t bufsize);
void qv_write_column(qv_reply &w, const qv_col &col);

}  // namespace qv::exec
