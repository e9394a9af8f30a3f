// The single-result readers, on a real session against the test server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/capture.h"
#include "common/conn.h"
#include "common/reply.h"
#include "exec/results.h"
#include "exec/session.h"
#include "tds_server/server.h"

namespace {

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
    qv_conn_defaults(&conn);
    qv_copy_host();
    qv_reset();
    session.reset(qv_open(&conn, "master"));
    ASSERT_TRUE(session) << qv_err();
  }
  void TearDown() override {
    session.reset();
    EXPECT_TRUE(server.wait_for_open_connections(0, std::chrono::seconds(5)));
  }
  void qv_copy_host() {
    std::snprintf(conn.host, sizeof conn.host, "127.0.0.1");
    conn.port = server.port();
    std::snprintf(conn.user, sizeof conn.user, "sa");
    std::snprintf(conn.password, sizeof conn.password, "secret");
  }
  // Runs qv_select_to_json inside an object and returns the text.
  std::string select(const char *sql, int max_rows, int *count, int *rc) {
    qv_reply r;
    r.begin_object();
    *rc = qv_select_to_json(session.get(), sql, max_rows, &r, count);
    r.end_object();
    char *p = r.release();
    std::string s = p;
    std::free(p);
    return s;
  }

  tds::Server server;
  qv_conn conn;
  qv_session session;
};

TEST_F(Readers, RowLimitOfTheFirstResultSet) {
  int count = -1, rc = -1;
  std::string text = select("SELECT rows", 0, &count, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(count, 1000);
  EXPECT_EQ(text.rfind("{\"columns\":[{\"name\":\"CNAME\",\"type\":\"int\",\"nullable\":true},", 0), 0u);
  select("SELECT rows", 5000, &count, &rc);
  EXPECT_EQ(count, 1500);
  // The session is ready for the next statement after a cut result set.
  char buf[64];
  EXPECT_EQ(qv_scalar(session.get(), "SELECT rows", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "0");
}

TEST_F(Readers, StatementsWithoutResultSets) {
  int count = -1, rc = 0;
  EXPECT_EQ(select("UPDATE t SET x = 1", 0, &count, &rc), "{}");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(count, 0);
  char buf[16] = "junk";
  EXPECT_EQ(qv_scalar(session.get(), "UPDATE t SET x = 1", buf, sizeof buf), -1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(qv_scalar(session.get(), "SELECT none", buf, sizeof buf), -1);
  EXPECT_STREQ(qv_err(), "");  // nothing was recorded for any of them
  EXPECT_EQ(qv_exec_simple(session.get(), "PRINT 'x'"), 0);
}

TEST_F(Readers, ColumnLookupIsCaseSensitive) {
  ASSERT_EQ(qv_send(session.get(), "SELECT rows"), 0);
  ASSERT_EQ(qv_next_result_with_columns(session.get()), 1);
  EXPECT_EQ(qv_col_idx(session.get(), "CNAME"), 1);
  EXPECT_EQ(qv_col_idx(session.get(), "cname"), 0);
  EXPECT_EQ(qv_col_idx(session.get(), "label"), 2);
  EXPECT_EQ(qv_col_idx(session.get(), nullptr), 0);
  qv_finish_results(session.get());
}

TEST_F(Readers, ServerErrorFailsEverySimpleStatementAfterIt) {
  EXPECT_EQ(qv_exec_simple(session.get(), "RAISERROR"), -1);
  EXPECT_STREQ(qv_err_msg(), "boom (msg 50000, severity 16, state 1, line 1)");
  // The error is remembered for the rest of the operation.
  EXPECT_EQ(qv_exec_simple(session.get(), "UPDATE t SET x = 1"), -1);
}

}  // namespace
