#include "exec/catalog_rows.h"

#include <cstdlib>

#include "common/names.h"
#include "common/text.h"

namespace qv::exec::catalog_rows {

namespace {

constexpr std::size_t kFlagBytes = 15;
constexpr std::size_t kNumberBytes = 31;

}  // namespace

std::string query_for(const char *fmt, std::string_view schema, std::string_view obj) {
  return qv_formatted(fmt, qv_literal_inside(schema).c_str(), qv_literal_inside(obj).c_str());
}

bool open_read(qv_cursor &cur, const std::string &sql) {
  int opened = cur.open(sql.c_str());
  if (opened == 0) qv_seterr("the catalog query returned no result set");
  return opened == 1;
}

bool flag(const qv_cursor &cur, int column) {
  return cur.text(column, kFlagBytes).starts_with('1');
}

long long number(const qv_cursor &cur, int column) {
  return std::strtoll(cur.text(column, kNumberBytes).c_str(), nullptr, 10);
}

std::string whole_text(const qv_cursor &cur, int column) {
  const BYTE *data = dbdata(cur.session(), column);
  DBINT len = dbdatlen(cur.session(), column);
  if (!data || len <= 0) return {};
  return std::string(reinterpret_cast<const char *>(data), static_cast<std::size_t>(len));
}

bool name_cell(const qv_cursor &cur, int column, std::string *name) {
  *name = cur.text(column, kCatalogNameBytes);
  if (!name->empty()) return true;
  qv_seterr("the catalog returned a row without a name");
  return false;
}

}  // namespace qv::exec::catalog_rows
