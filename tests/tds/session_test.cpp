// Connection-level behaviour: time-outs, dropped connections, ATTENTION,
// concurrency, large streams and stopping the server under open sessions.
#include <atomic>
#include <thread>

#include "dblib_client.h"

namespace tdstest {
namespace {

using namespace std::chrono_literals;
using tds::Column;
using tds::Type;

tds::ResultSet ints(std::vector<int> values) {
  tds::ResultSet rs;
  rs.columns = {Column{"n", Type::Int}};
  for (int v : values) rs.rows.push_back({std::to_string(v)});
  return rs;
}

tds::ResultSet generated(std::size_t rows) {
  tds::ResultSet rs;
  for (int c = 0; c < 10; ++c) rs.columns.push_back(Column{"c" + std::to_string(c), c % 2 ? Type::NVarChar : Type::BigInt, 40});
  rs.generated_rows = rows;
  rs.generate = [](std::size_t i, tds::Row &row) {
    for (std::size_t c = 0; c < row.size(); ++c) row[c] = std::to_string(i * 10 + c);
  };
  return rs;
}

class Session : public ServerTest {};

TEST_F(Session, StatementTimeoutWhileTheServerIsSilent) {
  server.on("slow", {tds::Delay{30s}});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  Events::get().clear();
  dbsettime(1);
  dbcmd(db, "slow");
  EXPECT_EQ(dbsqlexec(db), FAIL);
  EXPECT_EQ(Events::get().codes().front(), "ERR 20003");
  EXPECT_EQ(Events::get().all().front().severity, 6);
  EXPECT_TRUE(DBDEAD(db));
  // The client closed its socket; the server leaves its delay at once.
  EXPECT_TRUE(server.wait_for_open_connections(0, 10s));
  EXPECT_EQ(server.attentions(), 0);
}

TEST_F(Session, DroppedConnectionMidResultDeliversRowsThenEof) {
  tds::ResultSet rs = ints({1, 2, 3});
  rs.final_done = false;
  server.on("q", {rs, tds::Drop{}});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  Events::get().clear();
  dbcmd(db, "q");
  ASSERT_EQ(dbsqlexec(db), SUCCEED);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(dbnextrow(db), REG_ROW);
  EXPECT_EQ(dbnextrow(db), REG_ROW);
  EXPECT_EQ(dbnextrow(db), REG_ROW);
  EXPECT_EQ(dbnextrow(db), FAIL);
  EXPECT_EQ(Events::get().codes(), (Codes{"ERR 20017"}));
  EXPECT_TRUE(DBDEAD(db));
  EXPECT_TRUE(server.wait_for_open_connections(0, 10s));
}

TEST_F(Session, DbcancelDuringDelaySendsAttentionAndTheSessionGoesOn) {
  server.on("slow", {ints({1}), tds::Delay{60s}, ints({2})});
  server.on("select 1", {ints({1})});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  dbsettime(20);  // a missing ATTN acknowledgement fails the test instead of hanging it
  dbcmd(db, "slow");
  ASSERT_EQ(dbsqlsend(db), SUCCEED);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dbcancel(db), SUCCEED);
  // The 60 s delay ended on the ATTENTION, not by running out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(server.attentions(), 1);
  EXPECT_EQ(query(db, "select 1"), (Rows{{"1"}}));
}

TEST_F(Session, TimeoutHandlerAskingToWaitOnSendsAttention) {
  server.on("slow", {tds::Delay{60s}});
  server.on("select 1", {ints({1})});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  Events::get().clear();
  Events::get().err_reply = INT_TIMEOUT;
  dbsettime(1);
  dbcmd(db, "slow");
  EXPECT_EQ(dbsqlexec(db), FAIL);
  EXPECT_EQ(Events::get().codes().front(), "ERR 20003");
  EXPECT_FALSE(DBDEAD(db));
  EXPECT_EQ(server.attentions(), 1);
  dbsettime(0);
  Events::get().err_reply = INT_CANCEL;
  EXPECT_EQ(query(db, "select 1"), (Rows{{"1"}}));
}

TEST_F(Session, DbcancelMidStreamStopsALargeResult) {
  server.on("big", {generated(1'000'000)});
  server.on("select 1", {ints({1})});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  dbsettime(20);
  dbcmd(db, "big");
  ASSERT_EQ(dbsqlexec(db), SUCCEED);
  ASSERT_EQ(dbresults(db), SUCCEED);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(dbnextrow(db), REG_ROW);
  EXPECT_EQ(dbcancel(db), SUCCEED);
  EXPECT_EQ(server.attentions(), 1);
  EXPECT_EQ(query(db, "select 1"), (Rows{{"1"}}));
}

TEST_F(Session, LargeGeneratedResultStreamsCompletely) {
  server.on("big", {generated(100'000)});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  dbcmd(db, "big");
  ASSERT_EQ(dbsqlexec(db), SUCCEED);
  ASSERT_EQ(dbresults(db), SUCCEED);
  long rows = 0;
  bool last_ok = false;
  while (dbnextrow(db) == REG_ROW) {
    ++rows;
    if (rows == 100'000) last_ok = cell_text(db, 10) == "999999";
  }
  EXPECT_EQ(rows, 100'000);
  EXPECT_TRUE(last_ok);
  EXPECT_EQ(dbcount(db), 100'000);
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
}

TEST_F(Session, ConnectionsAreServedIndependently) {
  server.on("slow", {tds::Delay{60s}, ints({9})});
  server.on("select 1", {ints({1})});
  std::vector<DBPROCESS *> dbs;
  for (int i = 0; i < 8; ++i) {
    dbs.push_back(connect());
    ASSERT_NE(dbs.back(), nullptr);
  }
  EXPECT_EQ(server.open_connections(), 8);
  // One session stuck in a long reply does not hold up the others.
  dbcmd(dbs[0], "slow");
  ASSERT_EQ(dbsqlsend(dbs[0]), SUCCEED);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(query(dbs[i], "select 1"), (Rows{{"1"}}));
  EXPECT_EQ(dbcancel(dbs[0]), SUCCEED);

  for (DBPROCESS *db : dbs) dbclose(db);
  opened.clear();
  EXPECT_TRUE(server.wait_for_open_connections(0, 10s));
  EXPECT_EQ(server.open_connections(), 0);
}

TEST_F(Session, ConcurrentClientsOnTheirOwnThreads) {
  server.on("select 1", {ints({1})});
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      DBPROCESS *db = open(server.port());
      if (db == nullptr) return;
      for (int i = 0; i < 20; ++i) {
        dbcmd(db, "select 1");
        if (dbsqlexec(db) != SUCCEED || dbresults(db) != SUCCEED) break;
        while (dbnextrow(db) == REG_ROW) {}
        while (dbresults(db) == SUCCEED) {}
        if (i == 19) ++good;
      }
      dbclose(db);
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(good, 6);
  EXPECT_TRUE(server.wait_for_open_connections(0, 10s));
  EXPECT_EQ(server.batches().size(), 120u);
}

TEST_F(Session, StopClosesOpenSessionsAndJoins) {
  server.on("slow", {tds::Delay{60s}});
  DBPROCESS *idle = connect();
  DBPROCESS *busy = connect();
  ASSERT_NE(idle, nullptr);
  ASSERT_NE(busy, nullptr);
  dbcmd(busy, "slow");
  ASSERT_EQ(dbsqlsend(busy), SUCCEED);
  server.stop();
  EXPECT_EQ(server.open_connections(), 0);
  Events::get().clear();
  EXPECT_EQ(dbsqlok(busy), FAIL);
  EXPECT_TRUE(DBDEAD(busy));
}

TEST_F(Session, AttentionAfterACompleteReplyIsStillAcknowledged) {
  server.on("select 1", {ints({1})});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  dbsettime(20);
  dbcmd(db, "select 1");
  ASSERT_EQ(dbsqlsend(db), SUCCEED);
  // Let the whole reply arrive before cancelling.
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(dbcancel(db), SUCCEED);
  EXPECT_EQ(server.attentions(), 1);
  EXPECT_EQ(query(db, "select 1"), (Rows{{"1"}}));
}

}  // namespace
}  // namespace tdstest
