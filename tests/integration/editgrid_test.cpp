// The edit grid: loading a table, and applying row edits in one transaction.
#include <chrono>
#include <clocale>
#include <iterator>
#include <thread>
#include <string>
#include <vector>

#include "support.h"

namespace {

using tds::Type;
using strings = std::vector<std::string>;

const std::string kReadOnly = "table has no primary key \xE2\x80\x94 grid is read-only";

// The two catalog queries for schema.table, names as the insides of N'...'.
std::string column_query(const std::string &schema, const std::string &table) {
  return statement("catalog.grid_columns", {doubled(schema), doubled(table)});
}
std::string key_query(const std::string &schema, const std::string &table) {
  return statement("catalog.primary_key", {doubled(schema), doubled(table)});
}

struct col {
  std::string name, type = "int";
  bool identity = false, computed = false, nullable = true;
  int gen_always = 0, code_page = 0;
};

class EditGrid : public ServerTest {
 protected:
  // Answers the two catalog queries for schema.table.
  void define(const std::vector<col> &cols, const strings &key, const std::string &table = "Orders",
              const std::string &schema = "dbo") {
    tds::ResultSet c;
    c.columns = {{"cname", Type::NVarChar, 128},
                 {"ctype", Type::NVarChar, 256},
                 {"is_id", Type::Int},
                 {"is_comp", Type::Int},
                 {"is_null", Type::Int},
                 {"gen_always", Type::Int},
                 {"code_page", Type::Int}};
    for (const col &x : cols)
      c.rows.push_back({x.name, x.type, x.identity ? "1" : "0", x.computed ? "1" : "0",
                        x.nullable ? "1" : "0", std::to_string(x.gen_always),
                        std::to_string(x.code_page)});
    tds::ResultSet k;
    k.columns = {{"cname", Type::NVarChar, 128}};
    for (const std::string &n : key) k.rows.push_back({n});
    server.on(column_query(schema, table), {c});
    server.on(key_query(schema, table), {k});
  }
  void define_orders() {
    server.add_database("Sales");
    define({{"id", "int", true, false, false},
            {"tag", "binary(2)", false, false, false},
            {"Name", "nvarchar(50)"},
            {"name", "nvarchar(50)"},
            {"qty"},
            {"price", "decimal(10,2)"},
            {"blob", "varbinary(16)"},
            {"total", "decimal(12,2)", false, true},
            {"note", "nvarchar(max)"}},
           {"id", "tag"});
  }
  Reply load(const char *table, int max_rows, const char *schema = "", const char *db = nullptr) {
    return take(dbdesk_core_editgrid_load(conn().c_str(), db, schema, table, max_rows));
  }
  Reply apply(const std::string &ops, int dry_run, const char *table = "Orders",
              const char *db = "Sales") {
    return take(
        dbdesk_core_editgrid_apply(conn().c_str(), db, nullptr, table, ops.c_str(), dry_run));
  }
  // The grid's transaction.
  const std::string begin = statement("editgrid.begin"), commit = statement("editgrid.commit"),
                    rollback = statement("editgrid.rollback");
  // The batches after the session's set-up (text size, use).
  strings after_setup() const { return sent_from(2); }
  // The batches after the two catalog queries as well.
  strings after_catalog() const { return sent_from(4); }
  strings sent_from(std::size_t n) const {
    strings all = sent();
    return all.size() > n ? strings(all.begin() + static_cast<long>(n), all.end()) : strings{};
  }
};

std::string error_of(const Reply &r) {
  return r["error"].IsString() ? r["error"].GetString() : "(null)";
}

// ---- load -----------------------------------------------------------------

TEST_F(EditGrid, LoadDescribesColumnsKeyAndRowsSelectedByName) {
  define({{"id", "int", true, false, false},
          {"na]me", "nvarchar(40)"},
          {"total", "decimal(18,4)", false, true}},
         {"id"});
  tds::ResultSet rows;
  rows.columns = {{"id", Type::Int, 0, 0, 0, false},
                  {"na]me", Type::NVarChar, 40},
                  {"total", Type::Decimal, 0, 18, 4}};
  rows.rows = {{"1", "a", "2.5000"}, {"2", std::nullopt, "0.0000"}};
  server.on("SELECT TOP (200) [id], [na]]me], [total] FROM [dbo].[Orders] ORDER BY [id]", {rows});
  Reply r = load("Orders", 0);
  EXPECT_EQ(r.text,
            "{\"ok\":true,\"columns\":["
            "{\"name\":\"id\",\"type\":\"int\",\"nullable\":false,\"is_identity\":true,\"is_"
            "computed\":false,\"is_read_only\":true},"
            "{\"name\":\"na]me\",\"type\":\"nvarchar(40)\",\"nullable\":true,\"is_identity\":false,"
            "\"is_computed\":false,\"is_read_only\":false},"
            "{\"name\":\"total\",\"type\":\"decimal(18,4)\",\"nullable\":true,\"is_identity\":"
            "false,\"is_computed\":true,\"is_read_only\":true}],"
            "\"pk_columns\":[\"id\"],\"rows\":[[1,\"a\",2.5],[2,null,0]],"
            "\"read_only_reason\":null,\"error\":null}");
  EXPECT_EQ(
      sent(),
      session_batches("[master]", {column_query("dbo", "Orders"), key_query("dbo", "Orders"),
                                   "SELECT TOP (200) [id], [na]]me], [total] FROM [dbo].[Orders] "
                                   "ORDER BY [id]"}));
}

TEST_F(EditGrid, LoadClampsTheRowCount) {
  define({{"id"}}, {"id"});
  server.on_regex("^SELECT TOP", {result_set({{"id", Type::Int}}, {{"1"}})});
  const std::pair<int, int> cases[] = {{0, 200}, {-5, 200}, {1, 1}, {5000, 5000}, {5001, 5000}};
  for (auto [asked, top] : cases) {
    server.clear_records();
    Reply r = load("Orders", asked);
    EXPECT_TRUE(r["ok"].GetBool()) << r.text;
    EXPECT_EQ(after_setup().back(),
              "SELECT TOP (" + std::to_string(top) + ") [id] FROM [dbo].[Orders] ORDER BY [id]")
        << asked;
  }
}

TEST_F(EditGrid, LoadWithoutKeyIsReadOnlyAndUnordered) {
  define({{"a"}, {"b"}}, {});
  server.on("SELECT TOP (5) [a], [b] FROM [dbo].[Orders]",
            {result_set({{"a", Type::Int}, {"b", Type::Int}}, {{"1", "2"}})});
  Reply r = load("Orders", 5);
  EXPECT_TRUE(r["ok"].GetBool()) << r.text;
  EXPECT_EQ(json(r["pk_columns"]), "[]");
  EXPECT_EQ(json(r["rows"]), "[[1,2]]");
  EXPECT_EQ(error_of(r), "(null)");
  EXPECT_EQ(r["read_only_reason"].GetString(), kReadOnly);
}

TEST_F(EditGrid, LoadListsAWideKeyButOrdersByItsFirstSixteenColumns) {
  std::vector<col> cols;
  strings key;
  std::string select, order;
  for (int i = 1; i <= 17; ++i) {
    std::string n = "k" + std::to_string(i);
    cols.push_back({n});
    key.push_back(n);
    select += (i > 1 ? ", [" : "[") + n + "]";
    if (i <= 16) order += (i > 1 ? ", [" : "[") + n + "]";
  }
  define(cols, key);
  std::string row_query = "SELECT TOP (1) " + select + " FROM [dbo].[Orders] ORDER BY " + order;
  server.on(row_query, {result_set({{"k1", Type::Int}})});
  Reply r = load("Orders", 1);
  EXPECT_TRUE(r["ok"].GetBool()) << r.text;
  EXPECT_EQ(r["pk_columns"].Size(), 17u);
  EXPECT_EQ(after_setup().back(), row_query);
}

TEST_F(EditGrid, LoadFailuresAnswerWithTheEnvelope) {
  define({{"id"}}, {"id"});
  server.on_regex("^SELECT TOP",
                  {tds::BatchAbort{tds::error(229, "SELECT permission denied.", 14)}});
  Reply denied = load("Orders", 1);
  EXPECT_EQ(keys_of(denied.doc), "ok,error");
  EXPECT_EQ(error_of(denied), "SELECT permission denied. (msg 229, severity 14, state 1, line 1)");

  define({}, {}, "SomeView");
  Reply missing = load("SomeView", 1, "", "tempdb");
  EXPECT_EQ(error_of(missing), "table not found: dbo.SomeView");
}

// A catalog read that fails is the call's failure with the server's reason:
// a key that cannot be read is not "no key", columns that cannot be read are
// not "table not found".
TEST_F(EditGrid, FailedCatalogReadsAreFailuresWithTheirReason) {
  server.add_database("Sales");
  const tds::Item lock_timeout =
      tds::BatchAbort{tds::error(1222, "Lock request time out period exceeded.")};
  const std::string lock_text =
      "Lock request time out period exceeded. (msg 1222, severity 16, state 1, line 1)";
  define({{"id"}}, {"id"});
  server.clear_handlers();
  define({{"id"}}, {"id"}, "Other");  // a registered key answer for another table only
  tds::ResultSet cols = result_set({{"cname", Type::NVarChar, 128}, {"ctype", Type::NVarChar, 256},
                                    {"is_id", Type::Int}, {"is_comp", Type::Int},
                                    {"is_null", Type::Int}},
                                   {{"id", "int", "0", "0", "0"}});
  server.on(column_query("dbo", "Orders"), {cols});
  server.on(key_query("dbo", "Orders"), {lock_timeout});
  const std::string del = R"([{"op":"delete","pk":{"id":1}}])";
  for (int dry_run : {0, 1}) {
    Reply a = apply(del, dry_run);
    EXPECT_EQ(keys_of(a.doc), "ok,error");
    EXPECT_EQ(error_of(a), lock_text);
  }
  Reply l = load("Orders", 1);
  EXPECT_EQ(keys_of(l.doc), "ok,error");
  EXPECT_EQ(error_of(l), lock_text);
  for (const auto &b : sent()) EXPECT_EQ(b.find("TRAN"), std::string::npos) << b;

  server.on(column_query("dbo", "Denied"),
            {tds::BatchAbort{tds::error(229, "The SELECT permission was denied.", 14)}});
  EXPECT_EQ(error_of(load("Denied", 1)),
            "The SELECT permission was denied. (msg 229, severity 14, state 1, line 1)");
  server.on(column_query("dbo", "NoType"),
            {result_set({{"cname", Type::NVarChar, 128}, {"is_id", Type::Int}}, {{"id", "0"}})});
  EXPECT_EQ(error_of(apply(del, 1, "NoType")), "the catalog's answer lacks the column ctype");
}

// Names pasted into T-SQL: Unicode literals in the catalog lookups, brackets
// with ']' doubled in statements, refusals only for names no table can have.
TEST_F(EditGrid, TableNamesAreQuotedOrRefused) {
  server.add_database("Sales");
  // The longest legal name: 128 characters, here 384 bytes once quotes are doubled.
  std::string longest;
  for (int i = 0; i < 64; ++i) longest += "'\xE2\x82\xAC";
  struct {
    std::string table, error, from;
  } cases[] = {
      {"O'Brien]s", "", "[dbo].[O'Brien]]s]"},
      {longest, "", "[dbo].[" + longest + "]"},
      {std::string(129, 'x'), "invalid identifier", ""},
      {"a\fb", "invalid identifier", ""},
      {"a\tb", "invalid identifier", ""},
      {"a\x7F", "invalid identifier", ""},
  };
  for (const auto &c : cases) {
    server.clear_handlers();
    const std::size_t logins = server.logins().size();
    define({{"id"}}, {"id"}, c.table);
    server.on_regex("^SELECT TOP", {result_set({{"id", Type::Int}})});
    Reply r = load(c.table.c_str(), 1);
    EXPECT_EQ(c.error.empty() ? "(null)" : c.error, error_of(r)) << c.table;
    if (c.error.empty()) {
      EXPECT_EQ(after_setup().back(), "SELECT TOP (1) [id] FROM " + c.from + " ORDER BY [id]");
    }
    Reply a = apply("[{\"op\":\"delete\",\"pk\":{\"id\":1}}]", 1, c.table.c_str());
    if (c.error.empty()) {
      EXPECT_EQ(json(a["statements"]), "[\"DELETE FROM [Sales]." + c.from + " WHERE [id] = 1\"]")
          << a.text;
    } else {
      EXPECT_EQ(error_of(a), c.error);
      EXPECT_EQ(server.logins().size(), logins) << "a refused name costs no login";
    }
  }
}

// ---- apply: statements -------------------------------------------------------

// Each operation's statement, built from the live catalog by a dry run.
TEST_F(EditGrid, DryRunBuildsEachStatementFromTheCatalog) {
  define_orders();
  const std::string pk = "\"pk\":{\"id\":42,\"tag\":\"0x01AB\"}";
  const std::string quotes(4096, '\'');  // escaped: 8192 bytes
  const std::string big(100 * 1024, 'x');  // values are never cut nor refused for size
  struct {
    std::string op, statement;
  } cases[] = {
      // values keys fold letter case when only one column matches; numbers stay as written
      {"{\"op\":\"update\"," + pk + ",\"values\":{\"QTY\":5,\"note\":\"O'Brien\",\"price\":19.99}}",
       "UPDATE [Sales].[dbo].[Orders] SET [qty] = 5, [note] = N'O''Brien', [price] = 19.99 WHERE "
       "[id] = 42 AND [tag] = 0x01AB"},
      // identity and computed columns are never assigned
      {"{\"op\":\"update\"," + pk + ",\"values\":{\"id\":1,\"total\":2,\"qty\":3}}",
       "UPDATE [Sales].[dbo].[Orders] SET [qty] = 3 WHERE [id] = 42 AND [tag] = 0x01AB"},
      // an exact name wins over a folded one; inserts name identity columns but not computed
      // ones; a boolean for a text column is a text
      {"{\"op\":\"insert\",\"values\":{\"id\":7,\"total\":1,\"name\":null,\"Name\":true,\"blob\":"
       "\"0x\","
       "\"qty\":18446744073709551616,\"note\":\"\\t\\u00e9\"}}",
       "INSERT INTO [Sales].[dbo].[Orders] ([id], [name], [Name], [blob], [qty], [note]) "
       "VALUES (7, NULL, N'1', 0x, 18446744073709551616, N'\t\xC3\xA9')"},
      // the key is matched in key order; other pk entries are ignored
      {"{\"op\":\"delete\",\"pk\":{\"tag\":\"0xff00\",\"id\":-1.5e3,\"extra\":[1]},\"values\":{"
       "\"x\":1}}",
       "DELETE FROM [Sales].[dbo].[Orders] WHERE [id] = -1.5e3 AND [tag] = 0xff00"},
      {"{\"op\":\"update\"," + pk + ",\"values\":{\"note\":\"" + quotes + "\"}}",
       "UPDATE [Sales].[dbo].[Orders] SET [note] = N'" + quotes + quotes +
           "' WHERE [id] = 42 AND [tag] = 0x01AB"},
      {"{\"op\":\"update\"," + pk + ",\"values\":{\"note\":\"" + big + "\"}}",
       "UPDATE [Sales].[dbo].[Orders] SET [note] = N'" + big +
           "' WHERE [id] = 42 AND [tag] = 0x01AB"},
      // any character but U+0000 is a value: a control character goes in as it is
      {"{\"op\":\"delete\",\"pk\":{\"id\":\"a\\fb\",\"tag\":\"0x01\"}}",
       "DELETE FROM [Sales].[dbo].[Orders] WHERE [id] = N'a\fb' AND [tag] = 0x01"},
  };
  for (const auto &c : cases) {
    server.clear_records();
    Reply r = apply("{\"ops\":[" + c.op + "]}", 1);
    EXPECT_EQ(keys_of(r.doc), "ok,rows_affected,statements,dry_run,error") << r.text;
    EXPECT_TRUE(r["ok"].GetBool()) << r.text;
    EXPECT_TRUE(r["dry_run"].GetBool());
    EXPECT_EQ(r["rows_affected"].GetInt(), 0);
    ASSERT_EQ(r["statements"].Size(), 1u) << r.text;
    EXPECT_EQ(r["statements"][0].GetString(), c.statement);
    EXPECT_EQ(sent(), session_batches("[Sales]", {column_query("dbo", "Orders"),
                                                   key_query("dbo", "Orders")}));
  }
}

// Values and names that cannot be used refuse the whole call before anything runs.
TEST_F(EditGrid, UnusableValuesAndNamesRefuseTheCall) {
  define_orders();
  const std::string key = "\"pk\":{\"id\":1,\"tag\":\"0x01\"}";
  auto update = [&](const std::string &values) {
    return "[{\"op\":\"update\"," + key + ",\"values\":{" + values + "}}]";
  };
  struct {
    std::string ops, error;
  } cases[] = {
      {"[", "ops_json is not valid JSON"},
      {"[{\"op\":\"delete\",\"pk\":{\"id\":NaN}}]", "ops_json is not valid JSON"},
      {"[]", "ops_json must be a non-empty array of operations"},
      {"{}", "ops_json must be a non-empty array of operations"},
      {"{\"ops\":{}}", "ops_json must be a non-empty array of operations"},
      {update("\"nope\":1"), "unknown column 'nope'"},
      {update("\"NAME\":1"), "ambiguous column: NAME"},
      {update("\"Qty\":[1]"), "unsupported value for column 'Qty'"},
      {update("\"qty\":{}"), "unsupported value for column 'qty'"},
      {update("\"note\":\"a\\u0000b\""), "unsupported value for column 'note'"},
      {update("\"note\":\"\\udc00\""), "ops_json is not valid JSON"},
      {update("\"note\":\"\\ud800\""), "ops_json is not valid JSON"},
      {update("\"n\\udc00\":1"), "ops_json is not valid JSON"},
      {update("\"blob\":\"01AB\""), "unsupported value for column 'blob'"},
      {update("\"blob\":\"0x1\""), "unsupported value for column 'blob'"},
      {update("\"blob\":\"0xZZ\""), "unsupported value for column 'blob'"},
      {"[{\"op\":\"insert\",\"values\":{\"qty\":[],\"nope\":1}}]", "unknown column 'nope'"},
      {"[{\"op\":\"delete\",\"pk\":{\"ID\":1,\"tag\":\"0x01\"}}]", "missing PK value for 'id'"},
      {"[{\"op\":\"delete\",\"pk\":{\"id\":1,\"tag\":\"\\u0001\"}}]", "missing PK value for 'tag'"},
      {"[{\"op\":\"delete\",\"pk\":{\"id\":1}}]", "missing PK value for 'tag'"},
  };
  for (const auto &c : cases) {
    server.clear_records();
    for (int dry_run : {0, 1}) {
      Reply r = apply(c.ops, dry_run);
      EXPECT_EQ(keys_of(r.doc), "ok,error") << c.ops;
      EXPECT_EQ(error_of(r), c.error) << c.ops;
    }
    for (const auto &b : sent()) EXPECT_EQ(b.find("TRAN"), std::string::npos) << b;
  }
}

// Malformed operations stop the list: the reply keeps the statements built
// before, and nothing is executed.
TEST_F(EditGrid, OperationErrorsStopTheListAndRunNothing) {
  define_orders();
  const std::string del = "{\"op\":\"delete\",\"pk\":{\"id\":1,\"tag\":\"0x01\"}}";
  std::string many;
  for (int i = 0; i < 257; ++i) many += (i ? "," : "") + del;
  struct {
    std::string ops, error;
    unsigned built;
  } cases[] = {
      {"[" + del + "," + del + ",{\"op\":\"update\",\"pk\":{}}]", "update needs 'values' object",
       2},
      {"[{\"op\":\"Insert\",\"values\":{}}]", "unknown op 'Insert' (update|insert|delete)", 0},
      {"[{\"op\":5,\"values\":{}}]", "operation missing 'op'", 0},
      {"[" + del + ",{}]", "operation missing 'op'", 1},
      // only columns the server fills, or none at all: nothing to write
      {"[" + del + ",{\"op\":\"update\",\"pk\":{},\"values\":{\"id\":1,\"Total\":2}}]",
       "operation 2 changes no editable column", 1},
      {"[{\"op\":\"update\",\"pk\":{},\"values\":{}}]", "operation 1 changes no editable column",
       0},
      {"[\"insert\"]", "operation missing 'op'", 0},
      {"[{\"op\":\"insert\",\"values\":[]}]", "insert needs 'values' object", 0},
      {"[{\"op\":\"update\"}]", "update needs 'pk' object", 0},
      {"[{\"op\":\"delete\",\"values\":{}}]", "delete needs 'pk' object", 0},
      {"[" + many + "]", "too many operations (max 256)", 256},
  };
  for (const auto &c : cases) {
    server.clear_records();
    Reply r = apply(c.ops, 0);
    EXPECT_FALSE(r["ok"].GetBool()) << r.text;
    EXPECT_EQ(r["rows_affected"].GetInt(), 0);
    EXPECT_EQ(r["statements"].Size(), c.built) << c.error;
    EXPECT_FALSE(r["dry_run"].GetBool());
    EXPECT_EQ(error_of(r), c.error);
    EXPECT_TRUE(after_catalog().empty()) << c.error;
  }
}

TEST_F(EditGrid, ATableWithoutKeyRefusesEvenDryInserts) {
  define({{"a"}}, {});
  Reply r = take(dbdesk_core_editgrid_apply(conn().c_str(), nullptr, "", "Orders",
                                            "[{\"op\":\"insert\",\"values\":{\"a\":1}}]", 1));
  EXPECT_EQ(r.text,
            "{\"ok\":false,\"error\":\"table dbo.Orders has no primary key \xE2\x80\x94 edits "
            "refused\"}");
}

// Every key column addresses the row, however wide the key; every column can
// be edited, however wide the table; a long statement is sent whole.
TEST_F(EditGrid, WideKeysAndTablesBuildWholeStatements) {
  server.add_database("Sales");
  std::vector<col> cols;
  strings key;
  std::string pk, where, values, set;
  for (int i = 1; i <= 600; ++i) {
    std::string n = "c" + std::to_string(i);
    cols.push_back({n, "nvarchar(200)"});
    std::string v = std::string(150, 'v') + std::to_string(i);
    if (i <= 9) {
      key.push_back(n);
      // numbers for a text key go as texts
      pk += (i > 1 ? ",\"" : "\"") + n + "\":" + std::to_string(i);
      where += (i > 1 ? " AND [" : "[") + n + "] = N'" + std::to_string(i) + "'";
    } else {
      values += (i > 10 ? ",\"" : "\"") + n + "\":\"" + v + "\"";
      set += (i > 10 ? ", [" : "[") + n + "] = N'" + v + "'";
    }
  }
  define(cols, key);
  std::string update = "UPDATE [Sales].[dbo].[Orders] SET " + set + " WHERE " + where;
  ASSERT_GT(update.size(), 65536u);
  server.on(begin, {tds::DoneNoCount{}});
  server.on(commit, {tds::DoneNoCount{}});
  server.on(update, {tds::RowCount{1}});
  server.on("DELETE FROM [Sales].[dbo].[Orders] WHERE " + where, {tds::RowCount{1}});
  Reply r = apply("[{\"op\":\"update\",\"pk\":{" + pk + "},\"values\":{" + values +
                      "}},{\"op\":\"delete\",\"pk\":{" + pk + "}}]",
                  0);
  EXPECT_TRUE(r["ok"].GetBool()) << error_of(r);
  EXPECT_EQ(r["rows_affected"].GetInt(), 2);
  EXPECT_EQ(after_catalog(),
            (strings{begin, update, "DELETE FROM [Sales].[dbo].[Orders] WHERE " + where, commit}));
}

// Columns the server fills are read-only in the load and left out of every
// INSERT and UPDATE; an insert with nothing left takes every default.
TEST_F(EditGrid, ColumnsTheServerFillsAreNeverWritten) {
  server.add_database("Sales");
  define({{"id", "int", true, false, false},
          {"rv", "timestamp"},
          {"valid_from", "datetime2", false, false, false, 1},
          {"valid_to", "datetime2", false, false, false, 2},
          {"total", "int", false, true},
          {"qty"}},
         {"id"});
  server.on_regex("^SELECT TOP", {result_set({{"id", Type::Int}})});
  Reply l = load("Orders", 1);
  std::string flags;
  for (const auto &c : l["columns"].GetArray()) flags += c["is_read_only"].GetBool() ? "r" : "w";
  EXPECT_EQ(flags, "rrrrrw") << l.text;

  const std::string filled =
      "\"rv\":\"0x01\",\"valid_from\":\"Feb 29 2024 12:00:00:AM\",\"valid_to\":null,\"total\":1";
  const std::string defaults = statement("editgrid.insert_defaults", {"[Sales].[dbo].[Orders]"});
  struct {
    std::string op, statement;
  } cases[] = {
      {"{\"op\":\"update\",\"pk\":{\"id\":1},\"values\":{" + filled + ",\"qty\":2}}",
       "UPDATE [Sales].[dbo].[Orders] SET [qty] = 2 WHERE [id] = 1"},
      {"{\"op\":\"insert\",\"values\":{" + filled + ",\"id\":5,\"qty\":2}}",
       "INSERT INTO [Sales].[dbo].[Orders] ([id], [qty]) VALUES (5, 2)"},
      {"{\"op\":\"insert\",\"values\":{" + filled + "}}", defaults},
      {"{\"op\":\"insert\",\"values\":{}}", defaults},
  };
  for (const auto &c : cases) {
    Reply r = apply("[" + c.op + "]", 1);
    ASSERT_TRUE(r["ok"].GetBool()) << r.text;
    EXPECT_EQ(r["statements"][0].GetString(), c.statement);
  }
}

// Values keep their meaning: numbers and booleans for columns that hold
// texts are texts, and a text that a char or varchar column's code page
// cannot hold is refused instead of being stored with '?' in its place.
TEST_F(EditGrid, ValuesAreWrittenAsTheColumnReadsThem) {
  server.add_database("Sales");
  auto with_code_page = [](const char *name, const char *type, int code_page) {
    return col{name, type, false, false, true, 0, code_page};
  };
  define({{"id"}, with_code_page("code", "varchar(10)", 1252),
          with_code_page("legacy", "char(4)", 1251), with_code_page("u", "varchar(20)", 65001),
          with_code_page("odd", "text", 99999), with_code_page("w", "nvarchar(5)", 1252),
          {"no_cp", "varchar(5)"}, {"name", "sysname"}, {"g", "uniqueidentifier"}, {"x", "xml"},
          {"at", "datetime2"}, {"flag", "bit"}, {"n", "bigint"}},
         {"id"});
  const std::string zhe = "\\u0416";  // not in code page 1252
  const std::string refused =
      "value for column 'code' has characters that code page 1252 cannot hold";
  struct {
    std::string values, set_or_error;
  } cases[] = {
      {"\"code\":7", "[code] = N'7'"},
      {"\"name\":-7.5e1,\"g\":1,\"x\":2,\"at\":3,\"w\":4",
       "[name] = N'-7.5e1', [g] = N'1', [x] = N'2', [at] = N'3', [w] = N'4'"},
      {"\"code\":true,\"flag\":true,\"n\":9007199254740993",
       "[code] = N'1', [flag] = 1, [n] = 9007199254740993"},
      // a text not in the load's form goes as it is
      {"\"at\":\"2024-02-29T13:45:30\"", "[at] = N'2024-02-29T13:45:30'"},
      {"\"at\":\"Feb 30 2023  1:45:30:1PM\"", "[at] = N'Feb 30 2023  1:45:30:1PM'"},
      {"\"code\":\"caf\\u00e9 \\u20ac\"", "[code] = N'caf\xC3\xA9 \xE2\x82\xAC'"},
      {"\"code\":\"ok" + zhe + "\"", refused},
      {"\"code\":\"" + std::string(1000, 'e') + zhe + "\"", refused},  // past iconv's first buffer
      {"\"CODE\":\"" + zhe + "\"",
       "value for column 'CODE' has characters that code page 1252 cannot hold"},
      {"\"legacy\":\"" + zhe + "\",\"u\":\"" + zhe + "\",\"odd\":\"" + zhe + "\",\"w\":\"" + zhe +
           "\",\"no_cp\":\"" + zhe + "\"",
       "[legacy] = N'\xD0\x96', [u] = N'\xD0\x96', [odd] = N'\xD0\x96', [w] = N'\xD0\x96', "
       "[no_cp] = N'\xD0\x96'"},
  };
  for (const auto &c : cases) {
    Reply r = apply("[{\"op\":\"update\",\"pk\":{\"id\":1},\"values\":{" + c.values + "}}]", 1);
    if (c.set_or_error.starts_with("[")) {
      ASSERT_TRUE(r["ok"].GetBool()) << r.text;
      EXPECT_EQ(r["statements"][0].GetString(),
                "UPDATE [Sales].[dbo].[Orders] SET " + c.set_or_error + " WHERE [id] = 1");
    } else {
      EXPECT_EQ(keys_of(r.doc), "ok,error");
      EXPECT_EQ(error_of(r), c.set_or_error);
    }
  }
}

// Sets LC_TIME for the calling process until it goes out of scope.
class time_locale {
 public:
  explicit time_locale(const char *name) : ok_(std::setlocale(LC_TIME, name) != nullptr) {}
  ~time_locale() { std::setlocale(LC_TIME, "C"); }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// Every date and time cell the load shows goes back unchanged as a key and
// matches the same value: written as an ISO 8601 literal of its column's
// type, with every fraction digit. The texts are the same under any locale
// the calling process has set.
TEST_F(EditGrid, LoadedDateAndTimeKeysGoBackAsIsoLiterals) {
  time_locale italian("it_IT.UTF-8");
  ASSERT_TRUE(italian.ok()) << "locale it_IT.UTF-8 is missing: run scripts/install-deps.sh";
  server.add_database("Sales");
  struct {
    col c;
    tds::Column wire;
    std::string value, shown, literal;
  } cases[] = {
      {{"d", "date"}, {"d", Type::Date}, "2024-02-29", "Feb 29 2024 12:00:00:AM", "'2024-02-29'"},
      {{"t", "time"}, {"t", Type::Time, 0, 0, 7}, "13:45:30.1234560",
       "Jan  1 1900  1:45:30:1234560PM", "'13:45:30.1234560'"},
      {{"dt", "datetime"}, {"dt", Type::DateTime}, "2024-02-29 13:45:30.997",
       "Feb 29 2024  1:45:30:997PM", "'2024-02-29T13:45:30.997'"},
      {{"sdt", "smalldatetime"}, {"sdt", Type::SmallDateTime}, "2024-02-29 00:05:00",
       "Feb 29 2024 12:05:00:000AM", "'2024-02-29T00:05:00.000'"},
      {{"dt7", "datetime2"}, {"dt7", Type::DateTime2, 0, 0, 7}, "2024-02-29 13:45:30.1234567",
       "Feb 29 2024  1:45:30:1234567PM", "'2024-02-29T13:45:30.1234567'"},
      {{"dt2", "datetime2"}, {"dt2", Type::DateTime2, 0, 0, 2}, "0001-01-01 00:00:05.10",
       "Jan  1 1 12:00:05:10AM", "'0001-01-01T00:00:05.10'"},
      {{"dto", "datetimeoffset"}, {"dto", Type::DateTimeOffset, 0, 0, 7},
       "2024-02-29 23:45:30.1234560 -05:30", "Feb 29 2024 11:45:30:1234560PM -05:30",
       "'2024-02-29T23:45:30.1234560-05:30'"},
  };
  std::vector<col> cols;
  strings key;
  tds::ResultSet rows;
  rows.rows.emplace_back();
  std::string select, where;
  for (const auto &c : cases) {
    cols.push_back(c.c);
    key.push_back(c.c.name);
    rows.columns.push_back(c.wire);
    rows.rows[0].push_back(c.value);
    select += (select.empty() ? "[" : ", [") + c.c.name + "]";
    where += (where.empty() ? "[" : " AND [") + c.c.name + "] = " + c.literal;
  }
  define(cols, key);
  server.on("SELECT TOP (1) " + select + " FROM [dbo].[Orders] ORDER BY " + select, {rows});
  Reply l = load("Orders", 1, "", "Sales");
  ASSERT_TRUE(l["ok"].GetBool()) << l.text;
  const auto &row = l["rows"][0];
  std::string pk;
  for (rapidjson::SizeType i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(row[i].GetString(), cases[i].shown);
    pk += (i ? "," : "") + ("\"" + cases[i].c.name + "\":") + json(row[i]);
  }
  Reply r = apply("[{\"op\":\"delete\",\"pk\":{" + pk + "}}]", 1);
  ASSERT_TRUE(r["ok"].GetBool()) << r.text;
  EXPECT_EQ(r["statements"][0].GetString(), "DELETE FROM [Sales].[dbo].[Orders] WHERE " + where);
}

// ---- apply: execution -----------------------------------------------------------

class EditGridRun : public EditGrid {
 protected:
  const std::string upd1 =
      "UPDATE [Sales].[dbo].[Orders] SET [qty] = 1 WHERE [id] = 1 AND [tag] = 0x01";
  const std::string upd2 =
      "UPDATE [Sales].[dbo].[Orders] SET [qty] = -1 WHERE [id] = 2 AND [tag] = 0x02";
  const std::string ops =
      "[{\"op\":\"update\",\"pk\":{\"id\":1,\"tag\":\"0x01\"},\"values\":{\"qty\":1}},"
      "{\"op\":\"update\",\"pk\":{\"id\":2,\"tag\":\"0x02\"},\"values\":{\"qty\":-1}}]";
  void SetUp() override {
    EditGrid::SetUp();
    define_orders();
  }
  // Scripted answers: the named batch fails, every other one succeeds.
  void script(const std::string &failing) {
    const tds::Item broken = tds::BatchAbort{tds::error(
        547, "The UPDATE statement conflicted with the CHECK constraint \"ck_qty\".", 16, 0, 1)};
    for (const std::string &sql : {begin, upd1, upd2, commit, rollback}) {
      bool counts = sql.starts_with("UPDATE");
      server.on(sql, {sql == failing ? broken
                      : counts       ? tds::Item{tds::RowCount{1}}
                                     : tds::Item{tds::DoneNoCount{}}});
    }
  }
};

// Each statement changes its one row; rows_affected adds them up.
TEST_F(EditGridRun, CommitsAllStatementsAndSumsTheirPositiveRowCounts) {
  const std::string del = "DELETE FROM [Sales].[dbo].[Orders] WHERE [id] = 3 AND [tag] = 0x03";
  server.on(del, {tds::RowCount{1}});
  script("");
  std::string all = ops;
  all.insert(all.size() - 1, ",{\"op\":\"delete\",\"pk\":{\"id\":3,\"tag\":\"0x03\"}}");
  Reply r = apply(all, 0);
  EXPECT_EQ(r.text, "{\"ok\":true,\"rows_affected\":3,\"statements\":[\"" + upd1 + "\",\"" + upd2 +
                        "\",\"" + del + "\"],\"dry_run\":false,\"error\":null}");
  EXPECT_EQ(after_catalog(), (strings{begin, upd1, upd2, del, commit}));
}

TEST_F(EditGridRun, TheFirstFailureRollsEverythingBack) {
  const std::string server_text =
      "The UPDATE statement conflicted with the CHECK constraint \"ck_qty\". (msg 547, severity "
      "16, state 0, line 1)";
  struct {
    std::string failing, error;
    strings batches;
  } cases[] = {
      {begin, server_text, {begin, rollback}},
      {upd2, "statement 2 failed: " + server_text, {begin, upd1, upd2, rollback}},
      {commit, server_text, {begin, upd1, upd2, commit, rollback}},
  };
  for (const auto &c : cases) {
    server.clear_handlers();
    server.clear_records();
    define_orders();
    script(c.failing);
    Reply r = apply(ops, 0);
    EXPECT_FALSE(r["ok"].GetBool()) << r.text;
    EXPECT_EQ(r["rows_affected"].GetInt(), 0);
    EXPECT_EQ(r["statements"].Size(), 2u);
    EXPECT_EQ(error_of(r), c.error);
    EXPECT_EQ(after_catalog(), c.batches);
  }
}

// A COMMIT whose connection drops before the outcome arrives is no success,
// and no plain failure either: the edits may have been saved.
TEST_F(EditGridRun, ACommitCutOffByALostConnectionIsNoSuccess) {
  server.on(commit, {tds::DoneNoCount{}, tds::Drop{}});  // before script(): the first match answers
  script("");
  Reply r = apply(ops, 0);
  EXPECT_FALSE(r["ok"].GetBool()) << r.text;
  EXPECT_EQ(r["rows_affected"].GetInt(), 0);
  EXPECT_EQ(error_of(r),
            "the connection was lost during COMMIT: the edits may or may not have been saved; "
            "reload the table");
  EXPECT_EQ(after_catalog(), (strings{begin, upd1, upd2, commit}));
}

// An edit that did not change exactly its row (deleted or re-keyed since the
// load, or a key that matches more than one) rolls everything back. Each
// statement is judged by its own count, the last one it reports: counts a
// trigger reports before it do not stand in for it.
TEST_F(EditGridRun, EachStatementMustChangeExactlyOneRow) {
  const std::string none = "statement 1 affected 0 rows, expected 1; nothing was saved";
  struct {
    std::string statement;
    tds::Reply answer;
    std::string error;  // empty: committed
  } cases[] = {
      {upd1, {tds::RowCount{0}}, none},
      {upd2, {tds::RowCount{2}}, "statement 2 affected 2 rows, expected 1; nothing was saved"},
      {upd1, {tds::DoneNoCount{}},
       "statement 1 reported no row count, expected 1; nothing was saved"},
      // a trigger's own counts, then the statement's
      {upd1, {tds::RowCount{1}, tds::RowCount{0}}, none},
      {upd1, {tds::RowCount{7}, tds::RowCount{0}, tds::RowCount{1}}, ""},
  };
  for (const auto &c : cases) {
    server.clear_handlers();
    server.clear_records();
    define_orders();
    server.on(c.statement, c.answer);
    script("");
    Reply r = apply(ops, 0);
    EXPECT_EQ(r["ok"].GetBool(), c.error.empty()) << r.text;
    EXPECT_EQ(r["rows_affected"].GetInt(), c.error.empty() ? 2 : 0);
    EXPECT_EQ(error_of(r), c.error.empty() ? "(null)" : c.error);
    strings batches = {begin, upd1};
    if (c.statement == upd2 || c.error.empty()) batches.push_back(upd2);
    batches.push_back(c.error.empty() ? commit : rollback);
    EXPECT_EQ(after_catalog(), batches) << c.error;
  }
  server.clear_records();
  EXPECT_TRUE(apply(ops, 1)["ok"].GetBool()) << "a dry run counts nothing";
  EXPECT_TRUE(after_catalog().empty());
}

// Stopped while the first statement runs: the server is told to stop, the
// second statement is never sent, and the transaction is rolled back.
TEST_F(EditGridRun, ACancelledApplyRollsBack) {
  server.on(upd1, {tds::Delay{std::chrono::milliseconds(20000)}, tds::RowCount{1}});
  script("");
  Reply r;
  std::thread call([&] {
    r = take(dbdesk_core_editgrid_apply(conn("\"tag\":\"grid\"").c_str(), "Sales", nullptr,
                                        "Orders", ops.c_str(), 0));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  dbdesk_core_free(dbdesk_core_cancel("grid"));
  call.join();
  EXPECT_EQ(error_of(r), "statement 1 failed: cancelled by the caller");
  EXPECT_EQ(r["rows_affected"].GetInt(), 0);
  EXPECT_EQ(after_catalog(), (strings{begin, upd1, rollback}));
}

}  // namespace
