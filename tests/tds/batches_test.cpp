// Batches: recorded text, handler order, the built-in answers, result and
// row counts, messages, and the error shapes db-lib tells apart.
#include "dblib_client.h"

namespace tdstest {
namespace {

using tds::Column;
using tds::Type;

tds::ResultSet ints(const std::string &name, std::vector<int> values) {
  tds::ResultSet rs;
  rs.columns = {Column{name, Type::Int}};
  for (int v : values) rs.rows.push_back({std::to_string(v)});
  return rs;
}

class Batches : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    db = connect();
    ASSERT_NE(db, nullptr);
    Events::get().clear();
  }
  RETCODE exec(const std::string &sql) {
    dbcmd(db, sql.c_str());
    return dbsqlexec(db);
  }
  DBPROCESS *db = nullptr;
};

TEST_F(Batches, RecordsTheTextExactlyInArrivalOrder) {
  // Long enough to span several packets; a non-BMP character travels as a surrogate pair.
  const std::string long_sql = "select '" + std::string(5000, 'x') + "\xF0\x9F\x98\x80' -- \xC3\xA9\n";
  server.on(long_sql, {tds::DoneNoCount{}});
  server.on("select 1", {ints("", {1})});
  ASSERT_EQ(exec(long_sql), SUCCEED);
  while (dbresults(db) == SUCCEED) {}
  query(db, "select 1");
  const auto batches = server.batches();
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0].sql, long_sql);
  EXPECT_EQ(batches[0].spid, dbspid(db));
  EXPECT_EQ(batches[1].sql, "select 1");
  EXPECT_EQ(server.batches_of(dbspid(db)), (std::vector<std::string>{long_sql, "select 1"}));
}

TEST_F(Batches, FirstMatchingHandlerInRegistrationOrderAnswers) {
  server.on_regex("^select", {ints("from_regex", {1})});
  server.on("select 2", {ints("exact", {2})});
  server.on_match([](const std::string &sql) { return sql.find("pred") != std::string::npos; },
                  [](const std::string &sql) { return tds::Reply{ints(sql, {3})}; });
  EXPECT_EQ(query(db, "select 2"), (Rows{{"1"}}));
  EXPECT_EQ(std::string(dbcolname(db, 1)), "from_regex");
  EXPECT_EQ(query(db, "pred"), (Rows{{"3"}}));
  EXPECT_EQ(std::string(dbcolname(db, 1)), "pred");
  server.clear_handlers();
  server.on("select 2", {ints("exact", {2})});
  EXPECT_EQ(query(db, "select 2"), (Rows{{"2"}}));
}

TEST_F(Batches, BuiltInVersionDbNameAndTextSize) {
  server.set_version_text("QV version\nline two");
  EXPECT_EQ(query(db, "SELECT @@version"), (Rows{{"QV version\nline two"}}));
  EXPECT_EQ(dbcoltype(db, 1), SYBCHAR);
  EXPECT_STREQ(dbcolname(db, 1), "");
  EXPECT_EQ(query(db, "SELECT DB_NAME()"), (Rows{{"master"}}));
  ASSERT_EQ(exec("SET TEXTSIZE 2147483647"), SUCCEED);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(dbnumcols(db), 0);
  EXPECT_EQ(dbcount(db), -1);
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
}

TEST_F(Batches, DbuseSwitchesKnownDatabasesAndRejectsUnknownOnes) {
  server.add_database("Sales]Q3");
  ASSERT_EQ(dbuse(db, "Sales]Q3"), SUCCEED);
  EXPECT_EQ(server.batches().back().sql, "use [Sales]]Q3]");
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 5701"}));
  EXPECT_STREQ(dbname(db), "Sales]Q3");
  EXPECT_EQ(query(db, "select db_name()"), (Rows{{"Sales]Q3"}}));

  Events::get().clear();
  EXPECT_EQ(dbuse(db, "Nope"), FAIL);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 911", "ERR 20018"}));
  const Event e = Events::get().all()[0];
  EXPECT_EQ(e.text, "Database 'Nope' does not exist. Make sure that the name is entered correctly.");
  EXPECT_EQ(e.severity, 16);
  EXPECT_EQ(e.state, 1);
  EXPECT_EQ(query(db, "select db_name()"), (Rows{{"Sales]Q3"}}));
}

TEST_F(Batches, UnscriptedBatchIsAServerErrorNamingIt) {
  EXPECT_EQ(exec("select * from nowhere"), FAIL);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 50000", "ERR 20018"}));
  EXPECT_EQ(Events::get().all()[0].text, "tds_server: no handler for batch: select * from nowhere");
  EXPECT_EQ(query(db, "select db_name()"), (Rows{{"master"}}));
}

TEST_F(Batches, ResultSetsAndRowCounts) {
  server.on("multi", {ints("a", {1, 2, 3}), tds::RowCount{7}, tds::DoneNoCount{}, ints("b", {4})});
  ASSERT_EQ(exec("multi"), SUCCEED);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(fetch_rows(db).size(), 3u);
  EXPECT_EQ(dbcount(db), 3);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(dbnumcols(db), 0);
  EXPECT_EQ(dbcount(db), 7);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(dbnumcols(db), 0);
  EXPECT_EQ(dbcount(db), -1);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(fetch_rows(db), (Rows{{"4"}}));
  EXPECT_EQ(dbcount(db), 1);
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
}

TEST_F(Batches, MessagesCarryTheirFieldsAndPrintIsNumberZero) {
  server.on("msgs", {tds::print("hello \xC3\xA9", 3), tds::info(5703, "informational", 10, 2, 7),
                     tds::DoneNoCount{}});
  ASSERT_EQ(exec("msgs"), SUCCEED);
  const auto events = Events::get().all();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].number, 0);
  EXPECT_EQ(events[0].severity, 0);
  EXPECT_EQ(events[0].state, 1);
  EXPECT_EQ(events[0].line, 3);
  EXPECT_EQ(events[0].text, "hello \xC3\xA9");
  EXPECT_EQ(events[0].server, "QVTEST");
  EXPECT_EQ(events[1].number, 5703);
  EXPECT_EQ(events[1].severity, 10);
  EXPECT_EQ(events[1].state, 2);
  EXPECT_EQ(events[1].line, 7);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(dbcount(db), -1);
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
}

TEST_F(Batches, StatementErrorBetweenResultSets) {
  server.on("q", {ints("a", {1}), tds::StatementError{tds::error(8134, "Divide by zero error encountered.", 16, 1, 2)},
                  ints("b", {2})});
  ASSERT_EQ(exec("q"), SUCCEED);
  EXPECT_EQ(dbresults(db), SUCCEED);
  fetch_rows(db);
  EXPECT_TRUE(Events::get().all().empty());
  EXPECT_EQ(dbresults(db), FAIL);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 8134", "ERR 20018"}));
  EXPECT_EQ(Events::get().all()[0].line, 2);
  EXPECT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(fetch_rows(db), (Rows{{"2"}}));
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
}

TEST_F(Batches, BatchAbortEndsTheReply) {
  server.on("q", {ints("a", {1}), tds::BatchAbort{tds::error(1205, "deadlock victim", 13)}, ints("b", {2})});
  ASSERT_EQ(exec("q"), SUCCEED);
  EXPECT_EQ(dbresults(db), SUCCEED);
  fetch_rows(db);
  EXPECT_EQ(dbresults(db), FAIL);
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 1205", "ERR 20018"}));
  EXPECT_EQ(query(db, "select db_name()"), (Rows{{"master"}}));
}

TEST_F(Batches, ErrorAfterColumnMetadata) {
  tds::ResultSet rs = ints("x", {});
  rs.final_done = false;
  server.on("select 1/0", {rs, tds::BatchAbort{tds::error(8134, "Divide by zero error encountered.")}});
  ASSERT_EQ(exec("select 1/0"), SUCCEED);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_TRUE(fetch_rows(db).empty());
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 8134", "ERR 20018"}));
}

TEST_F(Batches, ErrorInFirstStatementLeavesResultsPendingUntilDbcancel) {
  server.on("bad then good", {tds::StatementError{tds::error(208, "Invalid object name 'x'.")}, ints("a", {1})});
  server.on("select 1", {ints("", {1})});
  EXPECT_EQ(exec("bad then good"), FAIL);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 208", "ERR 20018"}));

  Events::get().clear();
  EXPECT_EQ(exec("select 1"), FAIL);
  EXPECT_EQ(Events::get().codes(), (Codes{"ERR 20019"}));
  EXPECT_EQ(server.batches().size(), 1u);  // never sent

  EXPECT_EQ(dbcancel(db), SUCCEED);
  EXPECT_EQ(query(db, "select 1"), (Rows{{"1"}}));
}

}  // namespace
}  // namespace tdstest
