#include "editgrid/grid_table.h"

namespace qv::ops::editgrid {

namespace {

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_folded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

}  // namespace

int find_col_i(const qv_grid_cols &columns, std::string_view name) {
  int found = kNoColumn;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) return static_cast<int>(i);
    if (equal_folded(columns[i].name, name))
      found = found == kNoColumn ? static_cast<int>(i) : kAmbiguousColumn;
  }
  return found;
}

const qv_table_column *eg_exact_col(const qv_grid_cols &columns, std::string_view name) {
  for (const qv_table_column &col : columns)
    if (col.name == name) return &col;
  return nullptr;
}

bool eg_is_binary(const qv_table_column &col) {
  std::string_view t = col.type;
  return t.starts_with("binary(") || t.starts_with("varbinary(") || t == "image";
}

eg_date_kind eg_date_kind_of(const qv_table_column &col) {
  std::string_view t = col.type;
  if (t == "date") return eg_date_kind::date;
  if (t == "time") return eg_date_kind::time;
  if (t == "datetime" || t == "smalldatetime" || t == "datetime2") return eg_date_kind::datetime;
  if (t == "datetimeoffset") return eg_date_kind::datetimeoffset;
  return eg_date_kind::none;
}

namespace {

bool is_narrow_character(std::string_view t) {
  return t.starts_with("char(") || t.starts_with("varchar(") || t == "text";
}

}  // namespace

bool eg_takes_text(const qv_table_column &col) {
  std::string_view t = col.type;
  return is_narrow_character(t) || t.starts_with("nchar(") || t.starts_with("nvarchar(") ||
         t == "ntext" || t == "sysname" || t == "uniqueidentifier" || t == "xml" ||
         eg_date_kind_of(col) != eg_date_kind::none;
}

int eg_narrow_code_page(const qv_table_column &col) {
  return is_narrow_character(col.type) ? col.code_page : 0;
}

}  // namespace qv::ops::editgrid
