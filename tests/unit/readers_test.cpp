// The cursor and its helpers, on a real session against the test server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "common/capture.h"
#include "common/conn.h"
#include "common/reply.h"
#include "exec/cursor.h"
#include "exec/session.h"
#include "tds_server/server.h"

namespace {

using namespace qv::common;
using namespace qv::exec;
using tds::Type;

tds::ResultSet numbers(int count) {
  tds::ResultSet rs;
  rs.columns = {{"CNAME", Type::Int}, {"label", Type::NVarChar, 20}};
  for (int i = 0; i < count; ++i) rs.rows.push_back({std::to_string(i), "r" + std::to_string(i)});
  return rs;
}

class Readers : public ::testing::Test {
 protected:
  void SetUp() override {
    server.start();
    server.on("SELECT rows", {numbers(1500)});
    server.on("SELECT none", {numbers(0)});
    server.on("UPDATE t SET x = 1", {tds::RowCount{4}});
    server.on("RAISERROR", {tds::BatchAbort{tds::error(50000, "boom", 16)}});
    server.on("PRINT 'x'", {tds::print("x"), tds::DoneNoCount{}});
    server.on("TWO WITH ERROR", {numbers(2), tds::StatementError{tds::error(547, "conflict")},
                                 numbers(3)});
    server.on("DROP", {numbers(2), tds::Drop{}});
    qv_conn_defaults(&conn);
    std::snprintf(conn.host, sizeof conn.host, "127.0.0.1");
    conn.port = server.port();
    std::snprintf(conn.user, sizeof conn.user, "sa");
    std::snprintf(conn.password, sizeof conn.password, "secret");
    qv_reset();
    session.reset(qv_open(&conn, "master"));
    ASSERT_TRUE(session) << qv_err();
  }
  void TearDown() override {
    session.reset();
    EXPECT_TRUE(server.wait_for_open_connections(0, std::chrono::seconds(5)));
  }
  // The rows of sql's first result set with at most limit rows.
  std::string rows(const char *sql, int limit, qv_cursor::rows_written *written) {
    qv_cursor cur(session.get());
    EXPECT_EQ(cur.open(sql), 1);
    qv_reply r;
    *written = cur.write_rows(r, limit);
    EXPECT_EQ(cur.finish(), 0);
    return std::string(r.text());
  }
  std::string scalar(const char *sql, int *rc) {
    std::string out = "junk";
    *rc = qv_read_scalar(session.get(), sql, 64, &out);
    return out;
  }

  tds::Server server;
  qv_conn conn;
  qv_session session;
};

TEST_F(Readers, RowsBeyondTheLimitAreReadAndDropped) {
  qv_cursor::rows_written w;
  std::string text = rows("SELECT rows", 2, &w);
  EXPECT_EQ(text, R"([[0,"r0"],[1,"r1"]])");
  EXPECT_EQ(w.count, 2);
  EXPECT_TRUE(w.truncated);
  rows("SELECT rows", 1500, &w);
  EXPECT_EQ(w.count, 1500);
  EXPECT_FALSE(w.truncated);
  // The session is ready for the next statement after a cut result set.
  int rc;
  EXPECT_EQ(scalar("SELECT rows", &rc), "0");
  EXPECT_EQ(rc, 1);
}

TEST_F(Readers, ScalarsAndStatementsWithoutResultSets) {
  int rc;
  EXPECT_EQ(scalar("UPDATE t SET x = 1", &rc), "");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(scalar("SELECT none", &rc), "");
  EXPECT_EQ(rc, 0);
  EXPECT_STREQ(qv_err(), "");  // nothing was recorded for any of them
  long long count = 0;
  EXPECT_EQ(qv_run_statement(session.get(), "UPDATE t SET x = 1", &count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(qv_run_statement(session.get(), "PRINT 'x'"), 0);
  EXPECT_EQ(qv_run_statement(session.get(), "SELECT rows"), 0);
}

TEST_F(Readers, ColumnLookupIsCaseSensitive) {
  qv_cursor cur(session.get());
  ASSERT_EQ(cur.open("SELECT rows"), 1);
  EXPECT_EQ(cur.col("CNAME"), 1);
  EXPECT_EQ(cur.col("cname"), 0);
  EXPECT_EQ(cur.col("label"), 2);
  EXPECT_EQ(cur.col(nullptr), 0);
}

// Each statement answers for its own errors: one that failed does not make
// the next one fail.
TEST_F(Readers, AStatementFailsOnItsOwnErrorsOnly) {
  EXPECT_EQ(qv_run_statement(session.get(), "RAISERROR"), -1);
  EXPECT_STREQ(qv_err_msg(), "boom (msg 50000, severity 16, state 1, line 1)");
  EXPECT_EQ(qv_run_statement(session.get(), "UPDATE t SET x = 1"), 0);
  int rc;
  scalar("TWO WITH ERROR", &rc);
  EXPECT_EQ(rc, -1);
  EXPECT_STREQ(qv_err(), "conflict (msg 547, severity 16, state 1, line 1)");
}

// A script's batch leaves a failed statement to the messages and reads on.
TEST_F(Readers, ABatchCursorReadsPastFailedStatements) {
  qv_cursor cur(session.get(), qv_cursor::errors::go_on);
  ASSERT_EQ(cur.open("TWO WITH ERROR"), 1);
  qv_reply first, second;
  EXPECT_EQ(cur.write_rows(first, 10).count, 2);
  ASSERT_EQ(cur.next_result(), 1);
  EXPECT_EQ(cur.write_rows(second, 10).count, 3);
  EXPECT_EQ(cur.next_result(), 0);
  EXPECT_EQ(cur.finish(), 0);
}

// A connection lost during a statement fails it, whatever the severity
// db-lib gives the loss.
TEST_F(Readers, ALostConnectionFailsTheStatement) {
  EXPECT_EQ(qv_run_statement(session.get(), "DROP"), -1);
  EXPECT_TRUE(qv_session_dead(session.get()));
  EXPECT_NE(std::string(qv_err()).find("dberr="), std::string::npos) << qv_err();
}

}  // namespace
