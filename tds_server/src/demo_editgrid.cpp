// The sample catalog's answers for the editgrid demo: demo.dbo.products, keyed
// by an identity column, with a computed column and a binary one.
#include "demo_script.h"

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

ResultSet products_key() {
  ResultSet rs;
  rs.columns = {{"cname", Type::NVarChar, 128}};
  rs.rows = {{"id"}};
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

}  // namespace

void register_editgrid_demo(Server &server) {
  const std::string products = R"(s\.name = N'dbo' AND tb\.name = N'products' ORDER BY )";
  server.on_regex(R"(^SELECT c\.name AS cname, ty\.name \+ .*)" + products + R"(c\.column_id$)",
                  {products_columns()});
  server.on_regex(R"(^SELECT c\.name AS cname FROM sys\.indexes .*)" + products + R"(ic\.key_ordinal$)",
                  {products_key()});
  server.on_regex(
      R"(^SELECT TOP \(\d+\) \[id\], \[name\], \[price\], \[code\], \[price_with_tax\] FROM \[dbo\]\.\[products\] ORDER BY \[id\]$)",
      {products_rows()});
}

}  // namespace tds::demo
