// The sample catalog's answers for the editgrid demo: demo.dbo.products, keyed
// by an identity column, with a computed column and a binary one; and
// demo.dbo.readings, keyed by a sensor and a datetime2(7) time, with a
// rowversion column.
#include "demo_script.h"

#include <string>
#include <utility>
#include <vector>

namespace tds::demo {

namespace {

ResultSet products_columns() {
  ResultSet rs;
  rs.columns = {{"cname", Type::NVarChar, 128}, {"ctype", Type::NVarChar, 256},
                {"is_id", Type::Int}, {"is_comp", Type::Int}, {"is_null", Type::Int}};
  rs.rows = {{"id", "int", "1", "0", "0"},
             {"name", "nvarchar(50)", "0", "0", "0"},
             {"price", "decimal(10,2)", "0", "0", "1"},
             {"code", "varbinary(8)", "0", "0", "1"},
             {"price_with_tax", "decimal(12,3)", "0", "1", "1"}};
  return rs;
}

ResultSet products_rows() {
  ResultSet rs;
  rs.columns = {{"id", Type::Int, 0, 0, 0, false},
                {"name", Type::NVarChar, 50, 0, 0, false},
                {"price", Type::Decimal, 0, 10, 2, true},
                {"code", Type::VarBinary, 8, 0, 0, true},
                {"price_with_tax", Type::Decimal, 0, 12, 3, true}};
  rs.rows = {{"1", "Widget", "19.99", "0x01AB", "23.988"},
             {"2", "O'Brien's gadget", "5.00", std::nullopt, "6.000"},
             {"3", "Spare part", std::nullopt, "0x", std::nullopt}};
  return rs;
}

ResultSet readings_columns() {
  ResultSet rs;
  rs.columns = {{"cname", Type::NVarChar, 128}, {"ctype", Type::NVarChar, 256},
                {"is_id", Type::Int},           {"is_comp", Type::Int},
                {"is_null", Type::Int},         {"gen_always", Type::Int},
                {"code_page", Type::Int}};
  rs.rows = {{"sensor", "int", "0", "0", "0", "0", std::nullopt},
             {"taken_at", "datetime2", "0", "0", "0", "0", std::nullopt},
             {"reading", "decimal(8,3)", "0", "0", "1", "0", std::nullopt},
             {"row_ver", "timestamp", "0", "0", "0", "0", std::nullopt}};
  return rs;
}

ResultSet readings_rows() {
  ResultSet rs;
  rs.columns = {{"sensor", Type::Int, 0, 0, 0, false},
                {"taken_at", Type::DateTime2, 0, 0, 7, false},
                {"reading", Type::Decimal, 0, 8, 3, true},
                {"row_ver", Type::Binary, 8, 0, 0, false}};
  rs.rows = {{"1", "2024-02-29 13:45:30.1234567", "20.125", "0x00000000000007D1"},
             {"1", "2024-02-29 13:46:30.1234567", "20.250", "0x00000000000007D2"}};
  return rs;
}

// The catalog's answers for dbo.<table>: its columns, its primary key (the
// key's columns in key order) and its first rows, read by the row query
// that selects `select` (a regex) ordered by the key.
void register_table(Server &server, const std::string &table, ResultSet columns,
                    const std::vector<std::string> &key, const std::string &select,
                    ResultSet rows) {
  const std::string named = R"(s\.name = N'dbo' AND tb\.name = N')" + table + R"(' ORDER BY )";
  server.on_regex(R"(^SELECT c\.name AS cname, ty\.name \+ .*)" + named + R"(c\.column_id$)",
                  {std::move(columns)});
  ResultSet key_rows;
  key_rows.columns = {{"cname", Type::NVarChar, 128}};
  std::string order;
  for (const std::string &k : key) {
    key_rows.rows.push_back({k});
    order += (order.empty() ? R"(\[)" : R"(, \[)") + k + R"(\])";
  }
  server.on_regex(
      R"(^SELECT c\.name AS cname FROM sys\.indexes .*)" + named + R"(ic\.key_ordinal$)",
      {std::move(key_rows)});
  server.on_regex(R"(^SELECT TOP \(\d+\) )" + select + R"( FROM \[dbo\]\.\[)" + table +
                      R"(\] ORDER BY )" + order + "$",
                  {std::move(rows)});
}

}  // namespace

void register_editgrid_demo(Server &server) {
  register_table(server, "products", products_columns(), {"id"},
                 R"(\[id\], \[name\], \[price\], \[code\], \[price_with_tax\])",
                 products_rows());
  register_table(server, "readings", readings_columns(), {"sensor", "taken_at"},
                 R"(\[sensor\], \[taken_at\], \[reading\], \[row_ver\])", readings_rows());
}

}  // namespace tds::demo
