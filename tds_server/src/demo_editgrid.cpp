// The sample catalog's answers for the editgrid demo: demo.dbo.items, keyed
// by an identity column, with a computed column and a binary one.
#include "demo_script.h"

namespace tds::demo {

namespace {

ResultSet items_columns() {
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

ResultSet items_key() {
  ResultSet rs;
  rs.columns = {{"cname", Type::NVarChar, 128}};
  rs.rows = {{"id"}};
  return rs;
}

ResultSet items_rows() {
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
  const std::string items = R"(s\.name = N'dbo' AND tb\.name = N'items' ORDER BY )";
  server.on_regex(R"(^SELECT c\.name AS cname, ty\.name \+ .*)" + items + R"(c\.column_id$)",
                  {items_columns()});
  server.on_regex(R"(^SELECT c\.name AS cname FROM sys\.indexes .*)" + items + R"(ic\.key_ordinal$)",
                  {items_key()});
  server.on_regex(
      R"(^SELECT TOP \(\d+\) \[id\], \[name\], \[price\], \[code\], \[price_with_tax\] FROM \[dbo\]\.\[items\] ORDER BY \[id\]$)",
      {items_rows()});
}

}  // namespace tds::demo
