// Scripting objects: every action's script against catalog answers of the
// test server, which answers only the exact catalog queries registered here.
#include <optional>
#include <string>
#include <vector>

#include "support.h"

namespace {

using tds::Type;
using tds::Value;

constexpr int kTextSize = 4194304;

// The catalog query called name for schema.obj, the names as the insides of N'...'.
std::string catalog(const char *name, const std::string &schema, const std::string &obj) {
  return statement(name, {doubled(schema), doubled(obj)});
}
// The user-table existence check of table_props, which also names the type.
std::string table_exists(const std::string &schema, const std::string &table) {
  return statement("scripting.table_exists",
                           {doubled(schema), doubled(table), "U"});
}
// The five reads of a table's CREATE script, in the order they are sent.
std::vector<std::string> table_reads(const std::string &schema, const std::string &table) {
  std::vector<std::string> out;
  for (const char *name : {"scripting.table_columns", "scripting.table_indexes",
                           "scripting.table_checks", "scripting.table_foreign_keys",
                           "scripting.table_storage"})
    out.push_back(catalog(name, schema, table));
  return out;
}

tds::Column text_col(const char *name, int length = 128) { return {name, Type::NVarChar, length, 0, 0, true}; }
tds::Column int_col(const char *name) { return {name, Type::Int, 0, 0, 0, true}; }
tds::ResultSet one_text(const char *name, std::vector<tds::Row> rows) {
  return result_set({text_col(name, 64)}, std::move(rows));
}
const char *bit(bool b) { return b ? "1" : "0"; }

// A column as the column queries of the templates answer it.
struct Col {
  std::string name, type;
  bool identity = false, nullable = false, computed = false;
  int gen_always = 0;
};

// A column as the CREATE script's column read answers it: a system type
// unless udt, a computed column when computed or comp_def, an identity when
// seed is given.
struct Decl {
  std::string name, type;
  int max_len = 4, prec = 10, scale = 0;
  bool nullable = false;
  Value coll = std::nullopt, comp_def = std::nullopt;
  bool persisted = false, computed = false;
  Value seed = std::nullopt, incr = std::nullopt, dname = std::nullopt, ddef = std::nullopt;
  std::string tschema = "sys";
  bool udt = false;
  Value xschema = std::nullopt, xname = std::nullopt;
  bool xml_doc = false;
};

// An index column: name, descending, included.
struct IxCol {
  std::string name;
  bool desc = false, incl = false;
};
// An index as the index read answers it; role "pk", "uq" or "".
struct Ix {
  std::string name, role;
  bool unique, clustered;
  Value filter;
  std::vector<IxCol> cols;
};
// A foreign key: columns paired with referenced columns.
struct Fk {
  std::string name, ref_schema, ref_table;
  std::vector<std::pair<std::string, std::string>> pairs;
  int on_delete = 0, on_update = 0;
};
struct Storage {
  int temporal = 0;
  bool partitioned = false, compressed = false, filegroups = false, other_indexes = false;
};

class Scripting : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    server.add_database("Sales");
  }

  // A table's answers for the templates (the grid's and the scripts' column
  // queries) and its key; no columns stands for a missing table.
  void table(const std::string &schema, const std::string &name, const std::vector<Col> &cols,
             const std::vector<std::string> &key = {}) {
    tds::ResultSet grid = result_set({text_col("cname"), text_col("ctype"), int_col("is_id"),
                                      int_col("is_comp"), int_col("is_null"),
                                      int_col("gen_always"), int_col("code_page")});
    tds::ResultSet plain = result_set({text_col("cname"), text_col("ctype"), int_col("is_id"),
                                       int_col("is_null")});
    for (const auto &c : cols) {
      grid.rows.push_back({c.name, c.type, bit(c.identity), bit(c.computed), bit(c.nullable),
                           std::to_string(c.gen_always), "1252"});
      plain.rows.push_back({c.name, c.type, bit(c.identity), bit(c.nullable)});
    }
    server.on(catalog("catalog.grid_columns", schema, name), {grid});
    server.on(catalog("catalog.script_columns", schema, name), {plain});
    tds::ResultSet k = one_text("cname", {});
    for (const auto &n : key) k.rows.push_back({n});
    server.on(catalog("catalog.primary_key", schema, name), {k});
  }

  static tds::ResultSet decl_rows(const std::vector<Decl> &cols) {
    tds::ResultSet rs;
    for (const char *n : {"cname", "tname", "tschema", "xschema", "xname", "coll", "seed", "incr",
                          "dname"})
      rs.columns.push_back(text_col(n));
    for (const char *n : {"comp_def", "ddef"}) rs.columns.push_back(text_col(n, 0));
    for (const char *n : {"is_udt", "max_len", "prec", "scale", "xml_doc", "is_null", "is_comp",
                          "persisted", "is_id"})
      rs.columns.push_back(int_col(n));
    for (const Decl &d : cols)
      rs.rows.push_back({d.name, d.type, d.tschema, d.xschema, d.xname, d.coll, d.seed, d.incr,
                         d.dname, d.comp_def, d.ddef, bit(d.udt), std::to_string(d.max_len),
                         std::to_string(d.prec), std::to_string(d.scale), bit(d.xml_doc),
                         bit(d.nullable), bit(d.computed || d.comp_def), bit(d.persisted),
                         bit(d.seed.has_value())});
    return rs;
  }

  // A table's answers for its CREATE script; no columns stands for a missing
  // table.
  void ddl(const std::string &schema, const std::string &name, const std::vector<Decl> &cols,
           const std::vector<Ix> &indexes = {}, const std::vector<tds::Row> &checks = {},
           const std::vector<Fk> &fks = {}, const Storage &st = {}) {
    server.on(catalog("scripting.table_columns", schema, name), {decl_rows(cols)});
    tds::ResultSet ix = result_set({text_col("iname"), int_col("is_pk"),
                                    int_col("is_uq"), int_col("is_unique"), int_col("itype"),
                                    text_col("filter", 0), text_col("cname"), int_col("is_desc"),
                                    int_col("is_incl")});
    for (const Ix &i : indexes)
      for (const IxCol &c : i.cols)
        ix.rows.push_back({i.name, bit(i.role == "pk"), bit(i.role == "uq"),
                           bit(i.unique), i.clustered ? "1" : "2", i.filter, c.name, bit(c.desc),
                           bit(c.incl)});
    server.on(catalog("scripting.table_indexes", schema, name), {ix});
    server.on(catalog("scripting.table_checks", schema, name),
              {result_set({text_col("kname"), text_col("kdef", 0)}, checks)});
    tds::ResultSet fk = result_set({text_col("fname"), text_col("rschema"), text_col("rtable"),
                                    text_col("cname"), text_col("rcname"), int_col("on_delete"),
                                    int_col("on_update")});
    for (const Fk &f : fks)
      for (const auto &[col, ref] : f.pairs)
        fk.rows.push_back({f.name, f.ref_schema, f.ref_table, col, ref,
                           std::to_string(f.on_delete), std::to_string(f.on_update)});
    server.on(catalog("scripting.table_foreign_keys", schema, name), {fk});
    tds::ResultSet storage = result_set({int_col("temporal"), int_col("partitioned"),
                                         int_col("compressed"), int_col("filegroups"),
                                         int_col("other_indexes")});
    if (!cols.empty())
      storage.rows.push_back({std::to_string(st.temporal), bit(st.partitioned), bit(st.compressed),
                              bit(st.filegroups), bit(st.other_indexes)});
    server.on(catalog("scripting.table_storage", schema, name), {storage});
  }

  // A module's definition row (NULL when encrypted) with its two settings;
  // no row when !exists.
  void module(const std::string &name, std::optional<std::string> def, bool exists = true,
              long long bytes = -1, bool ansi_nulls = true, bool quoted_identifier = true) {
    tds::ResultSet rs;
    rs.columns = {text_col("definition", 0), {"def_bytes", Type::BigInt}, int_col("text_size"),
                  int_col("ansi_nulls"), int_col("quoted_identifier")};
    if (bytes < 0) bytes = def ? 2 * static_cast<long long>(def->size()) : 0;
    if (exists)
      rs.rows.push_back({def, std::to_string(bytes), std::to_string(kTextSize), bit(ansi_nulls),
                         bit(quoted_identifier)});
    server.on(catalog("scripting.definition", "dbo", name), {rs});
  }

  Reply script(const char *kind, const std::string &obj, const char *action,
               const char *schema = "dbo", const char *database = "Sales") {
    return take(dbdesk_core_script_object(conn().c_str(), database, kind, schema, obj.c_str(),
                                          action));
  }
  std::string sql_of(const char *kind, const std::string &obj, const char *action) {
    Reply r = script(kind, obj, action);
    EXPECT_TRUE(r["ok"].GetBool()) << kind << " " << obj << " " << action << ": " << r.text;
    return r["sql"].IsString() ? r["sql"].GetString() : "";
  }
  std::string error_of(const char *kind, const std::string &obj, const char *action) {
    Reply r = script(kind, obj, action);
    EXPECT_EQ(keys_of(r.doc), "ok,error") << r.text;
    return r["error"].IsString() ? r["error"].GetString() : r.text;
  }
};

const std::string kOn = "SET ANSI_NULLS ON\r\nGO\r\nSET QUOTED_IDENTIFIER ON\r\nGO\r\n";

const std::vector<Col> kOrders = {{"OrderId", "int", true, false},
                                  {"Note", "nvarchar(50)", false, true},
                                  {"Amount", "decimal(18,2)", false, false}};
const std::vector<Col> kLines = {{"OrderId", "int"}, {"LineNo", "int"}, {"Qty", "int", false, true}};
const std::vector<Col> kHeap = {{"Msg", "nvarchar(max)", false, true}, {"At", "datetime2"}};
const std::vector<Col> kTail = {{"Name", "varchar(10)"}, {"Seq", "bigint", true, false}};
// Columns no INSERT or UPDATE sets: computed, rowversion, GENERATED ALWAYS;
// the identity only an UPDATE leaves out.
const std::vector<Col> kStamped = {{"Id", "int", true},
                                   {"Qty", "int"},
                                   {"Total", "int", false, true, true},
                                   {"Ver", "timestamp"},
                                   {"From", "datetime2", false, false, false, 1},
                                   {"To", "datetime2", false, false, false, 2},
                                   {"Note", "varchar(20)", false, true}};

TEST_F(Scripting, TableScriptsByActionAreExact) {
  table("dbo", "Orders", kOrders, {"OrderId"});
  ddl("dbo", "Orders",
      {{.name = "OrderId", .type = "int", .seed = "1", .incr = "1"},
       {.name = "Note", .type = "nvarchar", .max_len = 100, .nullable = true},
       {.name = "Amount", .type = "decimal", .max_len = 9, .prec = 18, .scale = 2}},
      {{"PK_Orders", "pk", true, true, std::nullopt, {{"OrderId"}}}});
  table("dbo", "Lines", kLines, {"OrderId", "LineNo"});
  table("dbo", "Heap", kHeap);
  table("dbo", "Tail", kTail);
  table("dbo", "Stamped", kStamped, {"Id"});
  table("dbo", "OnlyServer", {{"Id", "int", true}, {"Ver", "timestamp"}});
  const std::string orders_head = "CREATE TABLE [Sales].[dbo].[Orders] (\r\n";
  const std::string orders_create =
      orders_head +
      "    [OrderId] int NOT NULL IDENTITY(1,1),\r\n    [Note] nvarchar(50) NULL,\r\n"
      "    [Amount] decimal(18,2) NOT NULL\r\n"
      "    , CONSTRAINT [PK_Orders] PRIMARY KEY CLUSTERED ([OrderId] ASC)\r\n);\r\nGO\r\n";
  struct Case {
    const char *obj, *action;
    std::string expected;
  } cases[] = {
      {"Orders", "create", orders_create},
      {"Orders", "alter", orders_create},
      // drop_create recreates everything create does.
      {"Orders", "drop_create", "DROP TABLE [Sales].[dbo].[Orders];\r\nGO\r\n" + orders_create},
      {"Orders", "insert",
       "INSERT INTO [dbo].[Orders] (\r\n    [Note],\r\n    [Amount]\r\n)\r\nVALUES (\r\n"
       "    -- <Note, nvarchar(50), null>\r\n    -- <Amount, decimal(18,2)>\r\n);\r\nGO\r\n"},
      {"Orders", "update",
       "UPDATE [dbo].[Orders]\r\nSET\r\n    [Note] = -- <nvarchar(50), null>\r\n"
       "    [Amount] = -- <decimal(18,2)>\r\nWHERE [OrderId] = -- <pk value>\r\nGO\r\n"},
      {"Orders", "delete", "DELETE FROM [dbo].[Orders]\r\nWHERE [OrderId] = -- <pk value>\r\nGO\r\n"},
      // A composite key: one condition a column, each placeholder on its own line.
      {"Lines", "delete",
       "DELETE FROM [dbo].[Lines]\r\nWHERE [OrderId] = -- <OrderId>\r\n  AND [LineNo] = -- <LineNo>\r\n"
       "GO\r\n"},
      {"Lines", "update",
       "UPDATE [dbo].[Lines]\r\nSET\r\n    [OrderId] = -- <int>\r\n    [LineNo] = -- <int>\r\n"
       "    [Qty] = -- <int, null>\r\nWHERE [OrderId] = -- <OrderId>\r\n"
       "  AND [LineNo] = -- <LineNo>\r\nGO\r\n"},
      // Without a key UPDATE and DELETE stop at a placeholder instead of
      // changing every row.
      {"Heap", "update",
       "UPDATE [dbo].[Heap]\r\nSET\r\n    [Msg] = -- <nvarchar(max), null>\r\n"
       "    [At] = -- <datetime2>\r\nWHERE -- <search condition>\r\nGO\r\n"},
      {"Heap", "delete", "DELETE FROM [dbo].[Heap]\r\nWHERE -- <search condition>\r\nGO\r\n"},
      {"Tail", "insert",
       "INSERT INTO [dbo].[Tail] (\r\n    [Name]\r\n)\r\nVALUES (\r\n    -- <Name, varchar(10)>\r\n"
       ");\r\nGO\r\n"},
      {"Stamped", "insert",
       "INSERT INTO [dbo].[Stamped] (\r\n    [Qty],\r\n    [Note]\r\n)\r\nVALUES (\r\n"
       "    -- <Qty, int>\r\n    -- <Note, varchar(20), null>\r\n);\r\nGO\r\n"},
      {"Stamped", "update",
       "UPDATE [dbo].[Stamped]\r\nSET\r\n    [Qty] = -- <int>\r\n    [Note] = -- <varchar(20), null>\r\n"
       "WHERE [Id] = -- <pk value>\r\nGO\r\n"},
      {"OnlyServer", "insert", "INSERT INTO [dbo].[OnlyServer]\r\nDEFAULT VALUES;\r\nGO\r\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(sql_of("table", c.obj, c.action), c.expected) << c.obj << " " << c.action;
  EXPECT_EQ(error_of("table", "OnlyServer", "update"),
            "cannot script an UPDATE of dbo.OnlyServer: the server sets every column itself");

  // The templates read the grid's column query, which tells the columns the
  // server fills; the DELETE only needs to know the table is there.
  server.clear_records();
  sql_of("table", "Stamped", "insert");
  sql_of("table", "Stamped", "update");
  sql_of("table", "Stamped", "delete");
  const std::string grid = catalog("catalog.grid_columns", "dbo", "Stamped");
  const std::string key = catalog("catalog.primary_key", "dbo", "Stamped");
  std::vector<std::string> expected = session_batches("[Sales]", {grid});
  for (const auto &more : {session_batches("[Sales]", {grid, key}),
                           session_batches("[Sales]", {catalog("catalog.script_columns", "dbo",
                                                               "Stamped"), key})})
    expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(sent(), expected);
}

// Every part of a table comes back as the catalog has it: exact types,
// collations, computed columns, identity seed and increment, named
// defaults, the key with its real name, clustering and column order, unique
// and check constraints, foreign keys with their actions, other indexes.
TEST_F(Scripting, TableCreateScriptRecreatesTheTable) {
  ddl("dbo", "Lines",
      {{.name = "OrderId", .type = "int"},
       {.name = "LineNo", .type = "smallint", .max_len = 2, .prec = 5},
       {.name = "Seq", .type = "bigint", .max_len = 8, .prec = 19, .seed = "100", .incr = "5"},
       {.name = "At", .type = "datetime2", .max_len = 7, .prec = 23, .scale = 3,
        .dname = "DF_Lines_At", .ddef = "(sysutcdatetime())"},
       {.name = "Slot", .type = "time", .max_len = 3, .prec = 8, .scale = 0, .nullable = true},
       {.name = "Seen", .type = "datetimeoffset", .max_len = 10, .prec = 34, .scale = 7,
        .nullable = true},
       {.name = "Code", .type = "nvarchar", .max_len = 20, .coll = "Latin1_General_CS_AS"},
       {.name = "Tag", .type = "nchar", .max_len = 8, .nullable = true},
       {.name = "Blob", .type = "varbinary", .max_len = -1, .nullable = true},
       {.name = "Memo", .type = "varchar", .max_len = -1, .nullable = true},
       {.name = "Hash", .type = "binary", .max_len = 16, .nullable = true},
       {.name = "Price", .type = "numeric", .max_len = 9, .prec = 10, .scale = 4},
       {.name = "Qty", .type = "int", .dname = "DF_Lines_Qty", .ddef = "((1))"},
       {.name = "Total", .type = "numeric", .nullable = true, .comp_def = "([Qty]*[Price])"},
       {.name = "Key2", .type = "int", .comp_def = "([OrderId]*(10))", .persisted = true},
       {.name = "Phone", .type = "Phone", .nullable = true, .tschema = "dbo", .udt = true},
       {.name = "Doc", .type = "xml", .max_len = -1, .nullable = true},
       {.name = "Order", .type = "xml", .max_len = -1, .nullable = true, .xschema = "dbo",
        .xname = "OrderSchema", .xml_doc = true},
       {.name = "Ver", .type = "timestamp", .max_len = 8},
       {.name = "Any", .type = "sql_variant", .max_len = 8016, .nullable = true}},
      {{"UQ_Lines_Code", "uq", true, true, std::nullopt, {{"Code"}}},
       {"PK_Lines", "pk", true, false, std::nullopt, {{"OrderId"}, {"LineNo", true}}},
       {"IX_Lines_Open", "", true, false, "([Qty]>(0))",
        {{"At", true}, {"Seq"}, {"Price", false, true}, {"Tag", false, true}}},
       {"IX_Lines_Tag", "", false, false, std::nullopt, {{"Tag"}}}},
      {{"CK_Lines_Qty", "([Qty]>(0))"}, {"CK_Lines_Slot", "([Slot]<'18:00')"}},
      {{"FK_Lines_Orders", "dbo", "Orders", {{"OrderId", "OrderId"}}, 1, 0},
       {"FK_Lines_Pair", "sales", "Pairs", {{"OrderId", "A"}, {"LineNo", "B"}}, 2, 3}});
  const std::string table = "[Sales].[dbo].[Lines]";
  const std::string body =
      "CREATE TABLE " + table + " (\r\n"
      "    [OrderId] int NOT NULL,\r\n"
      "    [LineNo] smallint NOT NULL,\r\n"
      "    [Seq] bigint NOT NULL IDENTITY(100,5),\r\n"
      "    [At] datetime2(3) NOT NULL CONSTRAINT [DF_Lines_At] DEFAULT ((sysutcdatetime())),\r\n"
      "    [Slot] time(0) NULL,\r\n"
      "    [Seen] datetimeoffset(7) NULL,\r\n"
      "    [Code] nvarchar(10) COLLATE Latin1_General_CS_AS NOT NULL,\r\n"
      "    [Tag] nchar(4) NULL,\r\n"
      "    [Blob] varbinary(max) NULL,\r\n"
      "    [Memo] varchar(max) NULL,\r\n"
      "    [Hash] binary(16) NULL,\r\n"
      "    [Price] numeric(10,4) NOT NULL,\r\n"
      "    [Qty] int NOT NULL CONSTRAINT [DF_Lines_Qty] DEFAULT (((1))),\r\n"
      "    [Total] AS (([Qty]*[Price])),\r\n"
      "    [Key2] AS (([OrderId]*(10))) PERSISTED NOT NULL,\r\n"
      "    [Phone] [dbo].[Phone] NULL,\r\n"
      "    [Doc] xml NULL,\r\n"
      "    [Order] xml(DOCUMENT [dbo].[OrderSchema]) NULL,\r\n"
      "    [Ver] rowversion NOT NULL,\r\n"
      "    [Any] sql_variant NULL\r\n"
      "    , CONSTRAINT [PK_Lines] PRIMARY KEY NONCLUSTERED ([OrderId] ASC, [LineNo] DESC)\r\n"
      "    , CONSTRAINT [UQ_Lines_Code] UNIQUE CLUSTERED ([Code] ASC)\r\n"
      "    , CONSTRAINT [CK_Lines_Qty] CHECK (([Qty]>(0)))\r\n"
      "    , CONSTRAINT [CK_Lines_Slot] CHECK (([Slot]<'18:00'))\r\n"
      ");\r\nGO\r\n"
      "ALTER TABLE " + table + " ADD CONSTRAINT [FK_Lines_Orders] FOREIGN KEY ([OrderId]) "
      "REFERENCES [dbo].[Orders] ([OrderId]) ON DELETE CASCADE;\r\nGO\r\n"
      "ALTER TABLE " + table + " ADD CONSTRAINT [FK_Lines_Pair] FOREIGN KEY ([OrderId], [LineNo]) "
      "REFERENCES [sales].[Pairs] ([A], [B]) ON DELETE SET NULL ON UPDATE SET DEFAULT;\r\nGO\r\n"
      "CREATE UNIQUE NONCLUSTERED INDEX [IX_Lines_Open] ON " + table +
      " ([At] DESC, [Seq] ASC) INCLUDE ([Price], [Tag]) WHERE ([Qty]>(0));\r\nGO\r\n"
      "CREATE NONCLUSTERED INDEX [IX_Lines_Tag] ON " + table + " ([Tag] ASC);\r\nGO\r\n";
  server.clear_records();
  EXPECT_EQ(sql_of("table", "Lines", "create"), body);
  EXPECT_EQ(sent(), session_batches("[Sales]", table_reads("dbo", "Lines")));
  EXPECT_EQ(sql_of("table", "Lines", "alter"), body);
  EXPECT_EQ(sql_of("table", "Lines", "drop_create"), "DROP TABLE " + table + ";\r\nGO\r\n" + body);
}

// Storage the script does not carry is named in its first line, never left
// out silently; drop_create keeps it above the DROP.
TEST_F(Scripting, TableScriptsNameWhatTheyLeaveOut) {
  const std::vector<Decl> cols = {{.name = "id", .type = "int"}};
  const std::string body =
      "CREATE TABLE [Sales].[dbo].[T] (\r\n    [id] int NOT NULL\r\n);\r\nGO\r\n";
  const struct {
    Storage storage;
    std::string note;
  } cases[] = {
      {{}, ""},
      {{2}, "-- not scripted: temporal table\r\n"},
      {{1, false, false, true}, "-- not scripted: temporal table, filegroups\r\n"},
      {{2, true, true, true, true},
       "-- not scripted: temporal table, partitioning, compression, filegroups, XML, spatial, "
       "columnstore and hash indexes\r\n"},
  };
  for (const auto &c : cases) {
    server.clear_handlers();
    ddl("dbo", "T", cols, {}, {}, {}, c.storage);
    EXPECT_EQ(sql_of("table", "T", "create"), c.note + body) << c.note;
    EXPECT_EQ(sql_of("table", "T", "drop_create"),
              c.note + "DROP TABLE [Sales].[dbo].[T];\r\nGO\r\n" + body);
  }
}

TEST_F(Scripting, ReplyFrameDefaultsAndExactBatches) {
  Reply r = script("table", "Orders", "select_top", nullptr, nullptr);
  EXPECT_EQ(keys_of(r.doc), "ok,title,sql,params,props,error");
  EXPECT_EQ(json(r.doc), "{\"ok\":true,\"title\":\"select_top - dbo.Orders\",\"sql\":"
                         "\"-- select_top - dbo.Orders\\r\\nSELECT TOP (1000) [Orders].* FROM "
                         "[master].[dbo].[Orders] WITH (NOLOCK)\\r\\n-- ORDER BY\\r\\n\","
                         "\"params\":[],\"props\":{},\"error\":null}");
  EXPECT_EQ(sent(), session_batches("[master]"));
}

TEST_F(Scripting, NamesAreCheckedBeforeOpeningAndQuotedWhenLegal) {
  std::string cjk128, emoji64;  // 384 bytes; 256 bytes, 128 UTF-16 units
  for (int i = 0; i < 128; ++i) cjk128 += "\xE4\xB8\xAD";
  for (int i = 0; i < 64; ++i) emoji64 += "\xF0\x9F\x98\x80";
  struct Case {
    std::string obj, expected;
  } cases[] = {
      {std::string(128, ']'), "DROP VIEW [dbo].[" + std::string(256, ']') + "];\r\nGO\r\n"},
      {std::string(128, '\''), "DROP VIEW [dbo].[" + std::string(128, '\'') + "];\r\nGO\r\n"},
      {cjk128, "DROP VIEW [dbo].[" + cjk128 + "];\r\nGO\r\n"},
      {emoji64, "DROP VIEW [dbo].[" + emoji64 + "];\r\nGO\r\n"},
      {emoji64 + "a", "invalid identifier"},  // 129 UTF-16 units
      {std::string(129, 'a'), "invalid identifier"},
      {"a\x01" "b", "invalid identifier"},
      {"a\nb", "invalid identifier"},
      {"a\tb", "invalid identifier"},
      {"a\x7F", "invalid identifier"},
      {"bad\xC3", "invalid identifier"},
  };
  std::size_t legal = 0;
  for (const auto &c : cases) {
    Reply r = script("view", c.obj, "drop");
    EXPECT_EQ(r["ok"].GetBool() ? r["sql"].GetString() : r["error"].GetString(), c.expected);
    legal += r["ok"].GetBool() ? 1 : 0;
  }
  // A refused name costs no login.
  EXPECT_EQ(server.logins().size(), legal);

  // Unknown actions are refused before connecting; the comparison is exact.
  server.clear_records();
  EXPECT_EQ(error_of("table", "T", "Create"), "unknown action: Create");
  EXPECT_TRUE(server.logins().empty());
}

TEST_F(Scripting, NamesAreBracketedWithQuotesDoubledAndLookedUpAsUnicode) {
  server.add_database("Q]A");
  ddl("s]x", "T]1", {{.name = "a]b", .type = "int"}, {.name = "c", .type = "int", .nullable = true}},
      {{"PK_T]1", "pk", true, true, std::nullopt, {{"a]b"}}}},
      {{"CK_]", "([c]>(0))"}},
      {{"FK_]", "s]x", "R]", {{"c", "d]"}}}});
  Reply r = take(dbdesk_core_script_object(conn().c_str(), "Q]A", "table", "s]x", "T]1", "create"));
  EXPECT_STREQ(r["sql"].GetString(),
               "CREATE TABLE [Q]]A].[s]]x].[T]]1] (\r\n    [a]]b] int NOT NULL,\r\n    [c] int NULL\r\n"
               "    , CONSTRAINT [PK_T]]1] PRIMARY KEY CLUSTERED ([a]]b] ASC)\r\n"
               "    , CONSTRAINT [CK_]]] CHECK (([c]>(0)))\r\n);\r\nGO\r\n"
               "ALTER TABLE [Q]]A].[s]]x].[T]]1] ADD CONSTRAINT [FK_]]] FOREIGN KEY ([c]) "
               "REFERENCES [s]]x].[R]]] ([d]]]);\r\nGO\r\n")
      << r.text;
  r = take(dbdesk_core_script_object(conn().c_str(), "Q]A", "table", "s]x", "T]1", "select_top"));
  EXPECT_STREQ(r["sql"].GetString(), "-- select_top - s]x.T]1\r\nSELECT TOP (1000) [T]]1].* FROM "
                                     "[Q]]A].[s]]x].[T]]1] WITH (NOLOCK)\r\n-- ORDER BY\r\n");

  const std::string cyrillic = "\xD0\x97\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7";
  table("dbo", cyrillic, {{"id", "int"}});
  server.clear_records();
  EXPECT_EQ(sql_of("table", cyrillic, "delete"),
            "DELETE FROM [dbo].[" + cyrillic + "]\r\nWHERE -- <search condition>\r\nGO\r\n");
  EXPECT_EQ(sent().at(2), catalog("catalog.script_columns", "dbo", cyrillic));
}

// Catalog text is written as code only bracketed, and shown in a comment
// only where it cannot end it; what cannot be written safely, or was
// changed on its way to the client, is refused.
TEST_F(Scripting, CatalogTextNeverBecomesCode) {
  const std::string evil = "x\r\nDELETE FROM dbo.victim --";
  const std::string evil_type = "int) ; DROP TABLE dbo.victim; --";
  table("dbo", "Evil", {{evil, evil_type}, {"k\nDROP TABLE dbo.victim", "int"}},
        {evil, "k\nDROP TABLE dbo.victim"});
  ddl("dbo", "Evil", {{.name = evil, .type = evil_type, .tschema = "dbo", .udt = true},
                      {.name = "n", .type = "int; --", .nullable = true}});
  EXPECT_EQ(sql_of("table", "Evil", "create"),
            "CREATE TABLE [Sales].[dbo].[Evil] (\r\n    [" + evil + "] [dbo].[" + evil_type +
                "] NOT NULL,\r\n    [n] [int; --] NULL\r\n);\r\nGO\r\n");
  EXPECT_EQ(sql_of("table", "Evil", "insert"),
            "INSERT INTO [dbo].[Evil] (\r\n    [" + evil + "],\r\n    [k\nDROP TABLE dbo.victim]\r\n"
            ")\r\nVALUES (\r\n    -- <x  DELETE FROM dbo.victim --, " + evil_type + ">\r\n"
            "    -- <k DROP TABLE dbo.victim, int>\r\n);\r\nGO\r\n");
  EXPECT_EQ(sql_of("table", "Evil", "delete"),
            "DELETE FROM [dbo].[Evil]\r\nWHERE [" + evil + "] = -- <x  DELETE FROM dbo.victim -->\r\n"
            "  AND [k\nDROP TABLE dbo.victim] = -- <k DROP TABLE dbo.victim>\r\nGO\r\n");

  const struct {
    const char *obj;
    Decl col;
    std::string error;
  } refused[] = {
      {"Coll", {.name = "c", .type = "varchar", .coll = "Latin1_General_CI_AS DROP TABLE x"},
       "cannot script dbo.Coll: the collation of column c is not a collation name"},
      {"Seed", {.name = "c", .type = "int", .seed = "1) DROP TABLE x; --", .incr = "1"},
       "cannot script dbo.Seed: the identity of column c has no whole-number seed and increment"},
      {"Hidden", {.name = "c", .type = "int", .computed = true},
       "cannot script dbo.Hidden: the definition of computed column c is not available"},
      {"NoDef", {.name = "c", .type = "int", .dname = "DF_c"},
       "cannot script dbo.NoDef: the default of column c is not available"},
      // An unpaired surrogate arrives as '?', or is dropped at the end of a
      // name: the name would be another one.
      {"Lossy", {.name = "c\xED\xA0\x80" "d", .type = "int"},
       "cannot script dbo.Lossy: its columns cannot be read (the catalog's text cannot be "
       "converted without loss)"},
      {"Cut", {.name = "c\xED\xA0\x80", .type = "int"},
       "cannot script dbo.Cut: its columns cannot be read (the catalog's text cannot be "
       "converted without loss)"},
  };
  for (const auto &c : refused) {
    ddl("dbo", c.obj, {c.col});
    EXPECT_EQ(error_of("table", c.obj, "create"), c.error);
    EXPECT_EQ(error_of("table", c.obj, "drop_create"), c.error);
  }
  ddl("dbo", "Act", {{.name = "c", .type = "int"}}, {}, {},
      {{"FK_x", "dbo", "R", {{"c", "d"}}, 0, 7}});
  EXPECT_EQ(error_of("table", "Act", "create"),
            "cannot script dbo.Act: foreign key FK_x has an unknown referential action");
  ddl("dbo", "Chk", {{.name = "c", .type = "int"}}, {}, {{"CK_x", std::nullopt}});
  EXPECT_EQ(error_of("table", "Chk", "create"),
            "cannot script dbo.Chk: check constraint CK_x is not available");

  // Whatever a script reads, text db-lib could not convert is not scripted.
  table("dbo", "LossyT", {{"c\xED\xA0\x80" "d", "int"}}, {"c\xED\xA0\x80" "d"});
  for (const char *action : {"insert", "update", "delete"})
    EXPECT_EQ(error_of("table", "LossyT", action),
              "cannot script dbo.LossyT: the catalog's text cannot be converted without loss")
        << action;

  // A parameter name is code that cannot be bracketed.
  server.on(catalog("scripting.parameters", "dbo", "P"),
            {result_set({text_col("pname"), text_col("tname"), int_col("is_out"), int_col("has_def")},
                        {{"@a = 1; DROP TABLE x --", "int", "0", "0"}})});
  EXPECT_EQ(error_of("procedure", "P", "exec_params"),
            "cannot script dbo.P: its parameter @a = 1; DROP TABLE x -- is not a plain name");
}

TEST_F(Scripting, WideTablesKeepEveryColumn) {
  std::vector<Decl> cols;
  for (int i = 0; i < 600; ++i) cols.push_back({.name = "c" + std::to_string(i), .type = "int"});
  ddl("dbo", "Wide", cols);
  std::string expected = "CREATE TABLE [Sales].[dbo].[Wide] (\r\n";
  for (int i = 0; i < 600; ++i)
    expected += "    [c" + std::to_string(i) + "] int NOT NULL" + (i < 599 ? ",\r\n" : "\r\n");
  EXPECT_EQ(sql_of("table", "Wide", "create"), expected + ");\r\nGO\r\n");
}

TEST_F(Scripting, ModuleScriptsFromTheirDefinition) {
  module("P", "CREATE PROCEDURE dbo.P AS SELECT 1");
  module("Gone", std::nullopt, false);
  std::string big = "CREATE PROCEDURE dbo.Big AS\r\n";
  while (big.size() < 300 * 1024) big += "-- " + std::string(70, 'x') + "\r\n";
  big += "SELECT 1";
  module("Big", big);
  module("Huge", "CREATE VIEW dbo.Huge AS SELECT 1", true, 5000000);
  module("Secret", std::nullopt);

  EXPECT_EQ(sql_of("procedure", "P", "create"), kOn + "CREATE PROCEDURE dbo.P AS SELECT 1\r\nGO\r\n");
  EXPECT_EQ(sql_of("procedure", "P", "alter"), kOn + "ALTER  PROCEDURE dbo.P AS SELECT 1\r\nGO\r\n");
  EXPECT_EQ(sql_of("procedure", "P", "drop_create"),
            "DROP PROCEDURE [dbo].[P];\r\nGO\r\n" + kOn + "CREATE PROCEDURE dbo.P AS SELECT 1\r\nGO\r\n");
  // A missing module degrades to its DROP; an encrypted one is never dropped.
  EXPECT_EQ(sql_of("view", "Gone", "drop_create"), "DROP VIEW [dbo].[Gone];\r\nGO\r\n");
  EXPECT_EQ(error_of("procedure", "Secret", "drop_create"),
            "cannot script dbo.Secret: its definition is not available");
  EXPECT_EQ(error_of("procedure", "Secret", "create"), "definition not found for dbo.Secret");
  EXPECT_EQ(error_of("view", "Gone", "alter"), "definition not found for dbo.Gone");
  // A failed read scripts nothing rather than a DROP alone.
  EXPECT_EQ(error_of("view", "Unanswered", "drop_create")
                .rfind("cannot script dbo.Unanswered: its definition cannot be read (tds_server: ", 0), 0u);
  // Long definitions come back whole, or not at all.
  EXPECT_EQ(sql_of("procedure", "Big", "alter"), kOn + "ALTER " + big.substr(6) + "\r\nGO\r\n");
  EXPECT_EQ(error_of("view", "Huge", "create"),
            "definition of dbo.Huge is 5000000 bytes, more than the 4194304 bytes the session "
            "reads whole");
  // db-lib writes an unpaired surrogate as '?' (error 2403): such a text is
  // not the definition, and no script is made of it.
  module("Lossy", "CREATE VIEW dbo.Lossy AS SELECT N'\xED\xA0\x80' AS x");
  for (const char *action : {"create", "alter", "drop_create"})
    EXPECT_EQ(error_of("view", "Lossy", action),
              "cannot script dbo.Lossy: its definition cannot be converted without loss")
        << action;
}

// A module runs under the settings it was created with, so its scripts set
// them first; the ALTER replaces the definition's own CREATE keyword only.
TEST_F(Scripting, ModuleScriptsCarryTheirSettingsAndAlterTheirOwnCreate) {
  const std::string commented = "-- CREATE a note\r\n/* CREATE */\r\ncreate procedure dbo.C\r\nAS\r\n"
                                "CREATE TABLE #t (a int)";
  const struct {
    bool ansi_nulls, quoted_identifier;
    std::string settings;
  } settings[] = {
      {true, true, kOn},
      {false, true, "SET ANSI_NULLS OFF\r\nGO\r\nSET QUOTED_IDENTIFIER ON\r\nGO\r\n"},
      {true, false, "SET ANSI_NULLS ON\r\nGO\r\nSET QUOTED_IDENTIFIER OFF\r\nGO\r\n"},
      {false, false, "SET ANSI_NULLS OFF\r\nGO\r\nSET QUOTED_IDENTIFIER OFF\r\nGO\r\n"},
  };
  for (const auto &s : settings) {
    server.clear_handlers();
    module("C", commented, true, -1, s.ansi_nulls, s.quoted_identifier);
    module("V", "CREATE OR ALTER VIEW dbo.V AS SELECT 'CREATE' AS [CREATE]", true, -1,
           s.ansi_nulls, s.quoted_identifier);
    SCOPED_TRACE(s.settings);
    EXPECT_EQ(sql_of("proc", "C", "create"), s.settings + commented + "\r\nGO\r\n");
    EXPECT_EQ(sql_of("proc", "C", "alter"),
              s.settings + "-- CREATE a note\r\n/* CREATE */\r\nALTER  procedure dbo.C\r\nAS\r\n"
                           "CREATE TABLE #t (a int)\r\nGO\r\n");
    EXPECT_EQ(sql_of("proc", "C", "drop_create"),
              "DROP PROCEDURE [dbo].[C];\r\nGO\r\n" + s.settings + commented + "\r\nGO\r\n");
    EXPECT_EQ(sql_of("view", "V", "alter"),
              s.settings + "CREATE OR ALTER VIEW dbo.V AS SELECT 'CREATE' AS [CREATE]\r\nGO\r\n");
  }
}

// The definition actions script only the kinds they know; anything else is
// refused before a login, since a DROP of the wrong kind could drop another
// object of that name. The other actions do not look at the kind.
TEST_F(Scripting, DropsFollowTheKindAndMissingTablesFailOrDegrade) {
  const char *cases[][2] = {{"table", "TABLE"},         {"view", "VIEW"},
                            {"procedure", "PROCEDURE"}, {"proc", "PROCEDURE"},
                            {"function", "FUNCTION"},   {"func", "FUNCTION"},
                            {"trigger", "TRIGGER"}};
  for (const auto &c : cases)
    EXPECT_EQ(sql_of(c[0], "P", "drop"), std::string("DROP ") + c[1] + " [dbo].[P];\r\nGO\r\n");
  // "sequence" was once dropped as a TABLE.
  server.clear_records();
  for (const char *kind : {"sequence", "Table", "PROC", " table"})
    for (const char *action : {"create", "alter", "drop", "drop_create"})
      EXPECT_EQ(error_of(kind, "P", action), std::string("unknown kind: ") + kind) << action;
  EXPECT_TRUE(server.logins().empty());
  EXPECT_EQ(sql_of("sequence", "P", "select_top").rfind("-- select_top - dbo.P\r\n", 0), 0u);
  table("dbo", "Nope", {});
  ddl("dbo", "Nope", {});
  EXPECT_EQ(sql_of("table", "Nope", "drop_create"), "DROP TABLE [Sales].[dbo].[Nope];\r\nGO\r\n");
  EXPECT_EQ(error_of("table", "Nope", "create"), "table not found or has no columns: dbo.Nope");
  for (const char *action : {"insert", "update", "delete"})
    EXPECT_EQ(error_of("table", "Nope", action), "table not found: dbo.Nope") << action;
}

TEST_F(Scripting, ExecuteTemplateListsParameters) {
  auto params = [&](const std::string &obj, std::vector<tds::Row> rows) {
    tds::ResultSet rs;
    rs.columns = {text_col("pname"), text_col("tname"), int_col("is_out"), int_col("has_def"),
                  {"dflt", Type::SqlVariant}};
    rs.rows = std::move(rows);
    server.on(catalog("scripting.parameters", "dbo", obj), {rs});
  };
  params("P", {{"@a", "int", "0", "0", std::nullopt}, {"@b", "varchar", "1", "0", std::nullopt}});
  params("F", {{"", "int", "1", "0", std::nullopt}, {"@x", "date", "0", "1", std::nullopt}});
  params("None", {});
  params("Odd", {{"@t\xC3\xA9#$_1", "a\r\nb", "0", "0", std::nullopt}});
  EXPECT_EQ(sql_of("procedure", "P", "exec_params"),
            "EXECUTE [dbo].[P]\r\n     @a = -- <int>\r\n   , @b = -- <varchar, OUTPUT>\r\nGO\r\n");
  EXPECT_EQ(sql_of("function", "F", "exec_params"),
            "EXECUTE [dbo].[F]\r\n      = -- <int, OUTPUT>\r\n   , @x = -- <date, has default>\r\nGO\r\n");
  EXPECT_EQ(sql_of("procedure", "None", "exec_params"), "EXECUTE [dbo].[None]\r\nGO\r\n");
  EXPECT_EQ(sql_of("procedure", "Odd", "exec_params"),
            "EXECUTE [dbo].[Odd]\r\n     @t\xC3\xA9#$_1 = -- <a  b>\r\nGO\r\n");
}

TEST_F(Scripting, TablePropertiesReportCountsAsText) {
  auto props = [&](const std::string &name, std::vector<tds::Row> found, const char *pages,
                   const char *rows) {
    server.on(table_exists("dbo", name), {one_text("name", std::move(found))});
    server.on(catalog("scripting.table_pages", "dbo", name), {one_text("used_pages", {{pages}})});
    server.on(catalog("scripting.table_rows", "dbo", name), {one_text("rows", {{rows}})});
  };
  props("Empty", {{"Empty"}}, "0", "0");
  props("O'Brien", {{"O'Brien"}}, "24", "1000");
  props("Missing", {}, "0", "0");
  Reply r = script("table", "Empty", "table_props");
  EXPECT_EQ(json(r.doc), "{\"ok\":true,\"title\":\"Table Properties\",\"sql\":null,\"params\":[],"
                         "\"props\":{\"schema\":\"dbo\",\"name\":\"Empty\",\"rows\":\"0\","
                         "\"used_pages\":\"0\",\"database\":\"Sales\"},\"error\":null}");
  server.clear_records();
  r = script("table", "O'Brien", "table_props");
  EXPECT_EQ(json(r["props"]), "{\"schema\":\"dbo\",\"name\":\"O'Brien\",\"rows\":\"1000\","
                              "\"used_pages\":\"24\",\"database\":\"Sales\"}");
  EXPECT_EQ(sent(), session_batches(
                        "[Sales]", {table_exists("dbo", "O'Brien"),
                                    catalog("scripting.table_pages", "dbo", "O'Brien"),
                                    catalog("scripting.table_rows", "dbo", "O'Brien")}));
  EXPECT_EQ(error_of("table", "Missing", "table_props"), "table not found: dbo.Missing");
}

// A catalog read that fails (a lock time-out, a dropped connection, a
// nameless row, an answer without the columns asked for) is a failure with
// its reason, never an object scripted without its key or parameters.
TEST_F(Scripting, FailedCatalogReadsAreFailuresWithTheirReason) {
  const tds::Item lock_timeout =
      tds::BatchAbort{tds::error(1222, "Lock request time out period exceeded.")};
  const std::string lock_text =
      "Lock request time out period exceeded. (msg 1222, severity 16, state 1, line 1)";
  // The first handler registered for a statement answers it.
  server.on(catalog("catalog.primary_key", "dbo", "T"), {lock_timeout});
  table("dbo", "T", {{"id", "int"}});
  for (const char *action : {"update", "delete"}) {
    SCOPED_TRACE(action);
    EXPECT_EQ(error_of("table", "T", action),
              "cannot script dbo.T: its primary key cannot be read (" + lock_text + ")");
  }
  // Each of the CREATE script's reads in turn: none is taken for "none".
  const struct {
    const char *query, *what;
  } reads[] = {{"scripting.table_indexes", "indexes"},
               {"scripting.table_checks", "check constraints"},
               {"scripting.table_foreign_keys", "foreign keys"},
               {"scripting.table_storage", "storage"}};
  for (const auto &read : reads) {
    SCOPED_TRACE(read.query);
    server.clear_handlers();
    server.on(catalog(read.query, "dbo", "T"), {lock_timeout});
    ddl("dbo", "T", {{.name = "id", .type = "int"}});
    for (const char *action : {"create", "drop_create"})
      EXPECT_EQ(error_of("table", "T", action), std::string("cannot script dbo.T: its ") +
                                                    read.what + " cannot be read (" + lock_text + ")");
  }

  server.on(catalog("scripting.parameters", "dbo", "P"), {lock_timeout});
  EXPECT_EQ(error_of("procedure", "P", "exec_params"),
            "cannot script dbo.P: its parameters cannot be read (" + lock_text + ")");

  server.on(catalog("catalog.grid_columns", "dbo", "Nameless"),
            {result_set({text_col("cname"), text_col("ctype"), int_col("is_id"), int_col("is_null")},
                        {{"a", "int", "0", "1"}, {std::nullopt, "int", "0", "1"}})});
  EXPECT_EQ(error_of("table", "Nameless", "insert"),
            "cannot script dbo.Nameless: its columns cannot be read (the catalog returned a row "
            "without a name)");
  tds::ResultSet odd = decl_rows({{.name = "a", .type = "int"}});
  odd.columns.erase(odd.columns.begin() + 2);
  for (auto &row : odd.rows) row.erase(row.begin() + 2);
  server.on(catalog("scripting.table_columns", "dbo", "Odd"), {odd});
  EXPECT_EQ(error_of("table", "Odd", "create"),
            "cannot script dbo.Odd: its columns cannot be read (the catalog's answer lacks the "
            "column tschema)");

  server.on(table_exists("dbo", "T"), {one_text("name", {{"T"}})});
  server.on(catalog("scripting.table_pages", "dbo", "T"), {tds::Drop{}});
  Reply r = script("table", "T", "table_props");
  EXPECT_EQ(keys_of(r.doc), "ok,error");
  EXPECT_EQ(r["error"].GetString(),
            std::string("cannot script dbo.T: its page count cannot be read (Unexpected EOF from "
                        "the server (dberr=20017, oserr=0: Success))"))
      << r.text;
}

}  // namespace
