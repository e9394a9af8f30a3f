// Scripting objects: every action's script against catalog answers of the
// test server, which answers only the exact catalog queries registered here.
#include <optional>
#include <string>
#include <vector>

#include "support.h"

namespace {

using tds::Type;

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

tds::Column text_col(const char *name, int length = 128) { return {name, Type::NVarChar, length, 0, 0, true}; }
tds::Column int_col(const char *name) { return {name, Type::Int, 0, 0, 0, true}; }
tds::ResultSet one_text(const char *name, std::vector<tds::Row> rows) {
  return result_set({text_col(name, 64)}, std::move(rows));
}
const char *bit(bool b) { return b ? "1" : "0"; }

struct Col {
  std::string name, type;
  bool identity = false, nullable = false;
};

class Scripting : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    server.add_database("Sales");
  }

  // A table's column and key answers; no columns stands for a missing table.
  void table(const std::string &schema, const std::string &name, const std::vector<Col> &cols,
             const std::vector<std::string> &key = {}) {
    tds::ResultSet c;
    c.columns = {text_col("cname"), text_col("ctype"), int_col("is_id"), int_col("is_null")};
    for (const auto &col : cols)
      c.rows.push_back({col.name, col.type, col.identity ? "1" : "0", col.nullable ? "1" : "0"});
    server.on(catalog("catalog.script_columns", schema, name), {c});
    tds::ResultSet k = one_text("cname", {});
    for (const auto &n : key) k.rows.push_back({n});
    server.on(catalog("catalog.primary_key", schema, name), {k});
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

TEST_F(Scripting, TableScriptsByActionAreExact) {
  table("dbo", "Orders", kOrders, {"OrderId"});
  table("dbo", "Lines", kLines, {"OrderId", "LineNo"});
  table("dbo", "Heap", kHeap);
  table("dbo", "Tail", kTail);
  const std::string orders_head = "CREATE TABLE [Sales].[dbo].[Orders] (\r\n";
  const std::string orders_cols =
      "    [OrderId] int NOT NULL IDENTITY(1,1),\r\n    [Note] nvarchar(50) NULL,\r\n"
      "    [Amount] decimal(18,2) NOT NULL\r\n";
  const std::string orders_create = orders_head + orders_cols +
      "    , CONSTRAINT [PK_Orders] PRIMARY KEY CLUSTERED ([OrderId])\r\n);\r\nGO\r\n";
  struct Case {
    const char *obj, *action;
    std::string expected;
  } cases[] = {
      {"Orders", "create", orders_create},
      {"Orders", "alter", orders_create},
      {"Orders", "drop_create",
       "DROP TABLE [Sales].[dbo].[Orders];\r\nGO\r\n" + orders_head + orders_cols + ");\r\nGO\r\n"},
      {"Orders", "insert",
       "INSERT INTO [dbo].[Orders] (\r\n    [Note],\r\n    [Amount]\r\n)\r\nVALUES (\r\n"
       "    -- <Note, nvarchar(50), null>\r\n    -- <Amount, decimal(18,2)>\r\n);\r\nGO\r\n"},
      {"Orders", "update",
       "UPDATE [dbo].[Orders]\r\nSET\r\n    [OrderId] = -- <int>\r\n"
       "    [Note] = -- <nvarchar(50), null>\r\n    [Amount] = -- <decimal(18,2)>\r\n"
       "WHERE [OrderId] = -- <pk value>\r\nGO\r\n"},
      {"Orders", "delete", "DELETE FROM [dbo].[Orders]\r\nWHERE [OrderId] = -- <pk value>\r\nGO\r\n"},
      {"Lines", "create",
       "CREATE TABLE [Sales].[dbo].[Lines] (\r\n    [OrderId] int NOT NULL,\r\n"
       "    [LineNo] int NOT NULL,\r\n    [Qty] int NULL\r\n"
       "    , CONSTRAINT [PK_Lines] PRIMARY KEY CLUSTERED ([OrderId], [LineNo])\r\n);\r\nGO\r\n"},
      {"Lines", "delete",
       "DELETE FROM [dbo].[Lines]\r\nWHERE [OrderId], [LineNo] = -- <pk value>\r\nGO\r\n"},
      {"Heap", "create",
       "CREATE TABLE [Sales].[dbo].[Heap] (\r\n    [Msg] nvarchar(max) NULL,\r\n"
       "    [At] datetime2 NOT NULL\r\n);\r\nGO\r\n"},
      {"Heap", "update",
       "UPDATE [dbo].[Heap]\r\nSET\r\n    [Msg] = -- <nvarchar(max), null>\r\n"
       "    [At] = -- <datetime2>\r\n-- WHERE\r\nGO\r\n"},
      // Without a key the DELETE stops at a placeholder instead of emptying the table.
      {"Heap", "delete", "DELETE FROM [dbo].[Heap]\r\nWHERE -- <search condition>\r\nGO\r\n"},
      {"Tail", "insert",
       "INSERT INTO [dbo].[Tail] (\r\n    [Name]\r\n)\r\nVALUES (\r\n    -- <Name, varchar(10)>\r\n"
       ");\r\nGO\r\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(sql_of("table", c.obj, c.action), c.expected) << c.obj << " " << c.action;
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
  table("s]x", "T]1", {{"a]b", "int"}, {"c", "int", false, true}}, {"a]b"});
  Reply r = take(dbdesk_core_script_object(conn().c_str(), "Q]A", "table", "s]x", "T]1", "create"));
  EXPECT_STREQ(r["sql"].GetString(),
               "CREATE TABLE [Q]]A].[s]]x].[T]]1] (\r\n    [a]]b] int NOT NULL,\r\n    [c] int NULL\r\n"
               "    , CONSTRAINT [PK_T]]1] PRIMARY KEY CLUSTERED ([a]]b])\r\n);\r\nGO\r\n")
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

TEST_F(Scripting, WideTablesKeepEveryColumn) {
  std::vector<Col> cols;
  for (int i = 0; i < 600; ++i) cols.push_back({"c" + std::to_string(i), "int"});
  table("dbo", "Wide", cols);
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
TEST_F(Scripting, KindsAreCheckedBeforeAnyLogin) {
  const char *cases[][2] = {{"table", "TABLE"},         {"view", "VIEW"},
                            {"procedure", "PROCEDURE"}, {"proc", "PROCEDURE"},
                            {"function", "FUNCTION"},   {"func", "FUNCTION"},
                            {"trigger", "TRIGGER"}};
  for (const auto &c : cases)
    EXPECT_EQ(sql_of(c[0], "P", "drop"), std::string("DROP ") + c[1] + " [dbo].[P];\r\nGO\r\n");
  server.clear_records();
  for (const char *kind : {"sequence", "Table", "PROC", "synonym", " table"})
    for (const char *action : {"create", "alter", "drop", "drop_create"})
      EXPECT_EQ(error_of(kind, "P", action), std::string("unknown kind: ") + kind) << action;
  EXPECT_TRUE(server.logins().empty());
  EXPECT_EQ(sql_of("sequence", "P", "select_top"),
            "-- select_top - dbo.P\r\nSELECT TOP (1000) [P].* FROM [Sales].[dbo].[P] WITH "
            "(NOLOCK)\r\n-- ORDER BY\r\n");
}

TEST_F(Scripting, DropsFollowTheKindAndMissingTablesFailOrDegrade) {
  const char *cases[][2] = {{"table", "TABLE"},         {"view", "VIEW"},
                            {"procedure", "PROCEDURE"}, {"function", "FUNCTION"},
                            {"trigger", "TRIGGER"}};
  for (const auto &c : cases)
    EXPECT_EQ(sql_of(c[0], "P", "drop"), std::string("DROP ") + c[1] + " [dbo].[P];\r\nGO\r\n");
  // A kind the definitions do not know was once dropped as a TABLE.
  EXPECT_EQ(error_of("sequence", "P", "drop"), "unknown kind: sequence");
  table("dbo", "Nope", {});
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
  EXPECT_EQ(sql_of("procedure", "P", "exec_params"),
            "EXECUTE [dbo].[P]\r\n     @a = -- <int>\r\n   , @b = -- <varchar, OUTPUT>\r\nGO\r\n");
  EXPECT_EQ(sql_of("function", "F", "exec_params"),
            "EXECUTE [dbo].[F]\r\n      = -- <int, OUTPUT>\r\n   , @x = -- <date, has default>\r\nGO\r\n");
  EXPECT_EQ(sql_of("procedure", "None", "exec_params"), "EXECUTE [dbo].[None]\r\nGO\r\n");
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
  table("dbo", "T", {{"id", "int"}});
  server.clear_handlers();
  tds::ResultSet cols = result_set({text_col("cname"), text_col("ctype"), int_col("is_id"),
                                    int_col("is_null")},
                                   {{"id", "int", "0", "0"}});
  server.on(catalog("catalog.script_columns", "dbo", "T"), {cols});
  server.on(catalog("catalog.primary_key", "dbo", "T"), {lock_timeout});
  for (const char *action : {"create", "update", "delete"}) {
    SCOPED_TRACE(action);
    EXPECT_EQ(error_of("table", "T", action),
              "cannot script dbo.T: its primary key cannot be read (" + lock_text + ")");
  }

  server.on(catalog("scripting.parameters", "dbo", "P"), {lock_timeout});
  EXPECT_EQ(error_of("procedure", "P", "exec_params"),
            "cannot script dbo.P: its parameters cannot be read (" + lock_text + ")");

  server.on(catalog("catalog.script_columns", "dbo", "Nameless"),
            {result_set({text_col("cname"), text_col("ctype"), int_col("is_id"), int_col("is_null")},
                        {{"a", "int", "0", "1"}, {std::nullopt, "int", "0", "1"}})});
  EXPECT_EQ(error_of("table", "Nameless", "insert"),
            "cannot script dbo.Nameless: its columns cannot be read (the catalog returned a row "
            "without a name)");
  server.on(catalog("catalog.script_columns", "dbo", "Odd"),
            {result_set({text_col("cname"), int_col("is_id"), int_col("is_null")}, {{"a", "0", "1"}})});
  EXPECT_EQ(error_of("table", "Odd", "create"),
            "cannot script dbo.Odd: its columns cannot be read (the catalog's answer lacks the "
            "column ctype)");

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
