#include "exec/catalog.h"

#include "common/capture.h"
#include "common/text.h"
#include "exec/cursor.h"

namespace {

constexpr char kKeyQuery[] =
    "SELECT c.name AS cname FROM sys.indexes i JOIN sys.index_columns ic ON ic.object_id = "
    "i.object_id AND ic.index_id = i.index_id JOIN sys.columns c ON c.object_id = ic.object_id "
    "AND c.column_id = ic.column_id JOIN sys.tables tb ON tb.object_id = i.object_id JOIN "
    "sys.schemas s ON s.schema_id = tb.schema_id WHERE i.is_primary_key = 1 AND s.name = N'%s' "
    "AND tb.name = N'%s' ORDER BY ic.key_ordinal";

}  // namespace

int qv_primary_key_columns(DBPROCESS *session, const std::string &schema_text,
                           const std::string &table_text, std::vector<std::string> *names) {
  names->clear();
  std::string sql = qv_formatted(kKeyQuery, schema_text.c_str(), table_text.c_str());
  qv_cursor cur(session);
  int opened = cur.open(sql.c_str());
  if (opened == 0) qv_seterr("catalog query returned no result set");
  if (opened != 1) return -1;
  int name = cur.col("cname");
  if (name == 0) {
    qv_seterr("key query lacks cname");
    return -1;
  }
  int row;
  while ((row = cur.next()) == 1) names->push_back(cur.text(name, kCatalogNameBytes));
  if (row < 0 || cur.finish() != 0) {
    names->clear();
    return -1;
  }
  return 0;
}
