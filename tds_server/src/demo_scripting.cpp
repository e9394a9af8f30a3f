// The sample catalog's answers for the scripting demo: what the CREATE
// scripts of demo.dbo.items and demo.dbo.order_lines are read from, and the
// definition of demo.dbo.add_item with the settings it was created under.
#include <string>
#include <vector>

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

void answer(Server &server, const std::string &prefix, const std::string &filter, ResultSet rs) {
  server.on_match(asks(prefix, filter), [rs](const std::string &) { return fixed(rs); });
}

ResultSet text_columns(std::vector<const char *> names, std::vector<Row> rows) {
  ResultSet rs;
  for (const char *n : names) rs.columns.push_back({n, Type::NVarChar, 0});
  rs.rows = std::move(rows);
  return rs;
}

// One table's answers to the five reads of its CREATE script. Column rows:
// name, type, max_length, precision, scale, nullable, computed definition,
// persisted, seed, increment, default name, default definition.
struct demo_table {
  const char *name;
  std::vector<Row> columns;
  std::vector<Row> indexes;      // iname, is_pk, is_uq, is_unique, itype, filter, cname, is_desc, is_incl
  std::vector<Row> checks;       // kname, kdef
  std::vector<Row> foreign_keys; // fname, rschema, rtable, cname, rcname, on_delete, on_update
};

void register_table(Server &server, const demo_table &t) {
  const std::string filter = std::string("tb.name = N'") + t.name + "'";
  ResultSet cols = text_columns({"cname", "tname", "max_len", "prec", "scale", "is_null", "comp_def",
                                 "persisted", "seed", "incr", "dname", "ddef", "tschema", "is_udt",
                                 "xschema", "xname", "xml_doc", "coll", "is_comp", "is_id"},
                                {});
  for (const Row &c : t.columns) {
    Row row = c;
    row.insert(row.end(), {"sys", "0", std::nullopt, std::nullopt, "0", std::nullopt,
                           c[6] ? "1" : "0", c[8] ? "1" : "0"});
    cols.rows.push_back(std::move(row));
  }
  answer(server, "SELECT c.name AS cname, ty.name AS tname", filter, cols);
  answer(server, "SELECT COALESCE(kc.name, i.name) AS iname", filter,
         text_columns({"iname", "is_pk", "is_uq", "is_unique", "itype", "filter", "cname",
                       "is_desc", "is_incl"},
                      t.indexes));
  answer(server, "SELECT ck.name AS kname", filter, text_columns({"kname", "kdef"}, t.checks));
  answer(server, "SELECT fk.name AS fname", filter,
         text_columns({"fname", "rschema", "rtable", "cname", "rcname", "on_delete", "on_update"},
                      t.foreign_keys));
  answer(server, "SELECT CAST(tb.temporal_type AS int)", filter,
         text_columns({"temporal", "partitioned", "compressed", "filegroups", "other_indexes"},
                      {{"0", "0", "0", "0", "0"}}));
}

const demo_table kItems = {
    "items",
    {{"id", "int", "4", "10", "0", "0", std::nullopt, "0", "1", "1", std::nullopt, std::nullopt},
     {"name", "nvarchar", "200", "0", "0", "0", std::nullopt, "0", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt},
     {"price", "decimal", "5", "10", "2", "1", std::nullopt, "0", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt},
     {"added", "datetime2", "8", "27", "7", "1", std::nullopt, "0", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt}},
    {{"PK_items", "1", "0", "1", "1", std::nullopt, "id", "0", "0"}},
    {},
    {}};

// Every part a table script carries: a datetime2(3), a computed column, an
// identity seeded at 100 stepping by 5, named defaults, a nonclustered key
// over two columns (one descending), a check, a foreign key and a filtered
// index.
const demo_table kOrderLines = {
    "order_lines",
    {{"order_id", "int", "4", "10", "0", "0", std::nullopt, "0", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt},
     {"line_no", "int", "4", "10", "0", "0", std::nullopt, "0", "100", "5", std::nullopt,
      std::nullopt},
     {"item_id", "int", "4", "10", "0", "0", std::nullopt, "0", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt},
     {"qty", "int", "4", "10", "0", "0", std::nullopt, "0", std::nullopt, std::nullopt,
      "DF_order_lines_qty", "((1))"},
     {"price", "decimal", "5", "10", "2", "0", std::nullopt, "0", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt},
     {"total", "decimal", "9", "21", "2", "1", "([qty]*[price])", "1", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt},
     {"added", "datetime2", "7", "23", "3", "0", std::nullopt, "0", std::nullopt, std::nullopt,
      "DF_order_lines_added", "(sysutcdatetime())"},
     {"note", "nvarchar", "400", "0", "0", "1", std::nullopt, "0", std::nullopt, std::nullopt,
      std::nullopt, std::nullopt}},
    {{"PK_order_lines", "1", "0", "1", "2", std::nullopt, "order_id", "0", "0"},
     {"PK_order_lines", "1", "0", "1", "2", std::nullopt, "line_no", "1", "0"},
     {"IX_order_lines_noted", "0", "0", "0", "2", "([note] IS NOT NULL)", "added", "1", "0"},
     {"IX_order_lines_noted", "0", "0", "0", "2", "([note] IS NOT NULL)", "qty", "0", "1"}},
    {{"CK_order_lines_qty", "([qty]>(0))"}},
    {{"FK_order_lines_items", "dbo", "items", "item_id", "id", "1", "0"}}};

}  // namespace

void register_scripting_demo(Server &server) {
  register_table(server, kItems);
  register_table(server, kOrderLines);

  const std::string definition =
      "CREATE PROCEDURE dbo.add_item\r\n    @name nvarchar(100),\r\n    @price decimal(10,2)\r\n"
      "AS\r\nBEGIN\r\n    SET NOCOUNT ON;\r\n    INSERT INTO dbo.items (name, price, added)\r\n"
      "    VALUES (@name, @price, SYSUTCDATETIME());\r\nEND";
  ResultSet module;
  module.columns = {{"definition", Type::NVarChar, 0}, {"def_bytes", Type::BigInt},
                    {"text_size", Type::Int},          {"ansi_nulls", Type::Int},
                    {"quoted_identifier", Type::Int}};
  module.rows = {{definition, std::to_string(2 * definition.size()), "4194304", "1", "1"}};
  answer(server, "SELECT m.definition", "o.name = N'add_item'", module);
}

}  // namespace tds::demo
