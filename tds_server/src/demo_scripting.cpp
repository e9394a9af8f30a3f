// The sample catalog's answers for the scripting demo: the columns and key
// of demo.dbo.items and the definition of demo.dbo.add_item with the
// settings it was created under.
#include <string>

#include "demo_script.h"

namespace tds::demo {

namespace {

// A catalog query of the given shape about the given object.
Server::Predicate asks(std::string prefix, std::string name_filter) {
  return [prefix = std::move(prefix), name_filter = std::move(name_filter)](const std::string &sql) {
    return sql.rfind(prefix, 0) == 0 && sql.find(name_filter) != std::string::npos;
  };
}

Reply fixed(ResultSet rs) { return Reply{std::move(rs)}; }

}  // namespace

void register_scripting_demo(Server &server) {
  ResultSet columns;
  columns.columns = {{"cname", Type::NVarChar, 128}, {"ctype", Type::NVarChar, 128},
                     {"is_id", Type::Int}, {"is_null", Type::Int}};
  columns.rows = {{"id", "int", "1", "0"},
                  {"name", "nvarchar(100)", "0", "0"},
                  {"price", "decimal(10,2)", "0", "1"},
                  {"added", "datetime2", "0", "1"}};
  server.on_match(asks("SELECT c.name AS cname, ty.name", "tb.name = N'items'"),
                  [columns](const std::string &) { return fixed(columns); });

  ResultSet key;
  key.columns = {{"cname", Type::NVarChar, 128}};
  key.rows = {{"id"}};
  server.on_match(asks("SELECT c.name AS cname FROM sys.indexes", "tb.name = N'items'"),
                  [key](const std::string &) { return fixed(key); });

  const std::string definition =
      "CREATE PROCEDURE dbo.add_item\r\n    @name nvarchar(100),\r\n    @price decimal(10,2)\r\n"
      "AS\r\nBEGIN\r\n    SET NOCOUNT ON;\r\n    INSERT INTO dbo.items (name, price, added)\r\n"
      "    VALUES (@name, @price, SYSUTCDATETIME());\r\nEND";
  ResultSet module;
  module.columns = {{"definition", Type::NVarChar, 0}, {"def_bytes", Type::BigInt},
                    {"text_size", Type::Int},          {"ansi_nulls", Type::Int},
                    {"quoted_identifier", Type::Int}};
  module.rows = {{definition, std::to_string(2 * definition.size()), "4194304", "1", "1"}};
  server.on_match(asks("SELECT m.definition", "o.name = N'add_item'"),
                  [module](const std::string &) { return fixed(module); });
}

}  // namespace tds::demo
