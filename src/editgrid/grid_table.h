// The edited table as the catalog describes it, and finding its columns by
// the names an edit uses. Shared by the grid's load and apply. Internal
// header.
#pragma once

#include "exec/namespaces.h"

#include <string>
#include <string_view>
#include <vector>

#include "exec/catalog.h"

namespace qv::ops::editgrid {

// Every column of the edited table, catalog order.
using qv_grid_cols = std::vector<qv_table_column>;

// The schema of a table named without one.
constexpr char kDefaultSchema[] = "dbo";
inline const char *eg_pick_schema(const char *schema) {
  return schema && *schema ? schema : kDefaultSchema;
}

// The column a name from an edit addresses: the column with exactly this
// name, else the only one that equals it with ASCII letters folded.
constexpr int kNoColumn = -1;
constexpr int kAmbiguousColumn = -2;
int find_col_i(const qv_grid_cols &columns, std::string_view name);
// The column with exactly this name, or null.
const qv_table_column *eg_exact_col(const qv_grid_cols &columns, std::string_view name);

// True for binary, varbinary and image columns, whose values travel as 0x... text.
bool eg_is_binary(const qv_table_column &col);

// The date and time types, by the literal their values are written as.
enum class eg_date_kind {
  none,            // not a date or time column
  date,            // 'YYYY-MM-DD'
  time,            // 'hh:mm:ss[.f]'
  datetime,        // datetime, smalldatetime, datetime2: 'YYYY-MM-DDThh:mm:ss[.f]'
  datetimeoffset,  // the same and '+hh:mm'
};
eg_date_kind eg_date_kind_of(const qv_table_column &col);

// True for the columns whose values are texts to the server: character
// types (sysname included), date and time types, uniqueidentifier and xml.
// A number or a boolean given for one is written as a string literal.
bool eg_takes_text(const qv_table_column &col);

// The code page a char, varchar or text column stores its characters in;
// 0 for every other column and where the catalog gave none.
int eg_narrow_code_page(const qv_table_column &col);

}  // namespace qv::ops::editgrid
