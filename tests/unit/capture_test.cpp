#include "common/capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using namespace qv::common;

DBPROCESS *const kSession = reinterpret_cast<DBPROCESS *>(0x1);

int msg(DBINT number, int severity, const char *text, int state = 1, int line = 3) {
  return qv_msg_handler(nullptr, number, state, severity, const_cast<char *>(text),
                        const_cast<char *>("srv"), const_cast<char *>("proc"), line);
}

int dberr(DBPROCESS *session, int severity, int number, const char *text, const char *os = "",
          int oserr = 0) {
  return qv_err_handler(session, severity, number, oserr, const_cast<char *>(text),
                        const_cast<char *>(os));
}

// "err|has_err|fatal|msg_count"
std::string status() {
  qv_record_flags f = qv_flags();
  return std::string(qv_err()) + "|" + std::to_string(f.has_err) + "|" +
         std::to_string(f.fatal) + "|" + std::to_string(qv_message_count());
}

// "type number/severity/state/line/rows text"
std::string row(int i) {
  const qv_msg &m = qv_message(i);
  return std::string(m.type) + " " + std::to_string(m.number) + "/" + std::to_string(m.severity) +
         "/" + std::to_string(m.state) + "/" + std::to_string(m.line) + "/" +
         std::to_string(m.rows_affected) + " " + m.text;
}

std::string envelope() {
  char *json = qv_err_json();
  std::string out = json ? json : "(null)";
  std::free(json);
  return out;
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override { qv_reset(); }
};

TEST_F(Capture, MessageTableKeepsTheFirst256AndStillRecordsLaterErrors) {
  for (int i = 0; i < 300; ++i) EXPECT_EQ(msg(50000 + i, 10, std::to_string(i).c_str()), 0);
  EXPECT_EQ(status(), "|0|0|256");
  EXPECT_EQ(row(0), "info 50000/10/1/3/0 0");
  EXPECT_EQ(row(255), "info 50255/10/1/3/0 255");

  EXPECT_EQ(msg(208, 16, "late"), INT_CANCEL);
  EXPECT_EQ(status(), "late (msg 208, severity 16, state 1, line 3)|1|1|256");
}

TEST_F(Capture, TextsAreCutOnCharacterBoundaries) {
  msg(50000, 10, std::string(1500, 'x').c_str());
  EXPECT_EQ(std::string(qv_message(0).text), std::string(1023, 'x'));
  // Byte 1023 would fall inside the last character: the whole character goes.
  msg(50000, 10, (std::string(1022, 'a') + "\xC3\xA9").c_str());
  EXPECT_EQ(std::string(qv_message(1).text), std::string(1022, 'a'));

  qv_seterr("%s", std::string(3000, 'e').c_str());
  EXPECT_EQ(std::strlen(qv_err()), 2047u);
  qv_seterr("%s\xF0\x9F\x98\x80", std::string(2045, 'e').c_str());
  EXPECT_EQ(std::string(qv_err()), std::string(2045, 'e'));

  qv_add_msg("informational", 1, 2, 3, 4, 5, nullptr);
  EXPECT_EQ(row(2), "informa 1/2/3/4/5 ");
}

TEST_F(Capture, MessageCallbackSeparatesInformationFromErrors) {
  EXPECT_EQ(msg(0, 0, "hello", 1, 7), 0);
  EXPECT_EQ(msg(50000, 10, "note", 2, 9), 0);
  EXPECT_EQ(msg(5701, 0, "Changed database context"), 0);
  EXPECT_EQ(msg(5703, 10, "Changed language setting"), 0);
  EXPECT_EQ(qv_msg_handler(nullptr, 50000, 1, 16, nullptr, nullptr, nullptr, 1), 0);
  EXPECT_EQ(status(), "|0|0|2");
  EXPECT_EQ(row(0), "print 0/0/1/7/0 hello");
  EXPECT_EQ(row(1), "info 50000/10/2/9/0 note");

  EXPECT_EQ(msg(5701, 16, "ctx", 4, 2), INT_CANCEL);
  EXPECT_EQ(status(), "ctx (msg 5701, severity 16, state 4, line 2)|1|1|3");
  EXPECT_EQ(row(2), "error 5701/16/4/2/0 ctx");
  qv_reset();
  EXPECT_EQ(msg(20009, 0, "unreachable", 0, 0), INT_CANCEL);
  EXPECT_EQ(status(), "unreachable (msg 20009, severity 0, state 0, line 0)|1|1|1");
  EXPECT_EQ(row(0), "error 20009/0/0/0/0 unreachable");
}

TEST_F(Capture, DbLibErrorsReplaceTheErrorText) {
  EXPECT_EQ(dberr(nullptr, 9, 20047, "DBPROCESS is dead"), INT_CANCEL);
  EXPECT_EQ(status(), "DBPROCESS is dead (dberr=20047)|1|0|0");
  dberr(nullptr, 9, 20009, "Unable to connect", "Connection refused", 111);
  EXPECT_EQ(status(), "Unable to connect (dberr=20009, oserr=111: Connection refused)|1|1|0");

  qv_reset();
  dberr(nullptr, 11, 20018, "General error", nullptr);
  EXPECT_EQ(status(), "General error (dberr=20018)|1|1|0");

  qv_reset();
  EXPECT_EQ(qv_err_handler(nullptr, 16, 20009, 0, nullptr, nullptr), INT_CANCEL);
  EXPECT_EQ(status(), "|0|0|0");
}

TEST_F(Capture, EnvelopeRefinesTheGenericDbLibText) {
  msg(50000, 10, "just info");
  qv_add_msg("error", 1, 16, 1, 1, 0, "");  // no text: skipped
  msg(208, 16, "Invalid object name 'x'.", 1, 4);
  msg(207, 16, "Invalid column name 'y'.", 1, 5);
  dberr(nullptr, 16, 20018, "General SQL Server error: Check messages from the SQL Server");
  EXPECT_EQ(envelope(),
            R"j({"ok":false,"error":"Invalid object name 'x'. (msg 208, severity 16, state 1, line 4)"})j");

  qv_reset();
  qv_seterr("Login failed");
  qv_add_msg("error", 18456, 14, 1, 1, 0, "Login failed for user");
  EXPECT_STREQ(qv_err_msg(), "Login failed");

  // Neither has_err nor fatal: the table is not consulted.
  qv_reset();
  qv_add_msg("error", 1, 16, 1, 1, 0, "ignored");
  EXPECT_EQ(envelope(), R"({"ok":false,"error":"unknown error"})");
  dberr(nullptr, 16, 20018, "General SQL Server error: Check messages from the SQL Server");
  EXPECT_STREQ(qv_err_msg(), "ignored (msg 1, severity 16, state 1, line 1)");

  qv_seterr("bad \"name\"\tx\xFF");
  EXPECT_EQ(envelope(), "{\"ok\":false,\"error\":\"bad \\\"name\\\"\\tx\xEF\xBF\xBD\"}");
}

TEST_F(Capture, RecordIsPerThread) {
  qv_seterr("main thread");
  std::string fresh = "unset", after = "unset";
  std::thread([&] {
    fresh = status();
    qv_seterr("worker");
    after = qv_err();
  }).join();
  EXPECT_EQ(fresh, "|0|0|0");
  EXPECT_EQ(after, "worker");
  EXPECT_STREQ(qv_err(), "main thread");
}

TEST_F(Capture, InstallRegistersBothCallbacks) {
  qv_install_handlers();
  // Registering returns the previous callback; put the same ones back.
  EXPECT_EQ(dberrhandle(qv_err_handler), &qv_err_handler);
  EXPECT_EQ(dbmsghandle(qv_msg_handler), &qv_msg_handler);
}

TEST_F(Capture, SessionKillingErrorLocksTheReason) {
  for (int killer : {SYBETIME, SYBEREAD, SYBEWRIT, SYBESEOF, SYBEBTOK}) {
    SCOPED_TRACE(killer);
    qv_reset();
    dberr(kSession, 6, killer, "session died");
    const std::string reason = "session died (dberr=" + std::to_string(killer) + ")";
    qv_seterr("follow-up");
    dberr(kSession, 9, 20047, "DBPROCESS is dead");
    msg(3621, 16, "statement terminated");
    EXPECT_EQ(status(), reason + "|1|1|1");
    EXPECT_EQ(envelope(), R"({"ok":false,"error":")" + reason + R"("})");

    qv_seterr_force("better %d", 1);
    EXPECT_STREQ(qv_err(), "better 1");
    qv_reset();
    qv_seterr("unlocked");
    EXPECT_STREQ(qv_err(), "unlocked");
  }

  // No session, or an error that leaves the session alive: no lock.
  qv_reset();
  dberr(nullptr, 6, SYBETIME, "timed out");
  qv_seterr("next");
  EXPECT_STREQ(qv_err(), "next");
  dberr(kSession, 16, 20018, "General SQL Server error");
  qv_seterr("after");
  EXPECT_STREQ(qv_err(), "after");
}

// A scope sees only what happened since it began: failures (server errors,
// db-lib errors above severity 10, connection failures) and its own first
// server error as the reason.
TEST_F(Capture, FailureScopesCountAndExplainTheirOwnStatement) {
  msg(208, 16, "before the scope");
  qv_failure_scope clean;
  msg(50000, 10, "information is no failure");
  dberr(kSession, 9, 20047, "db-lib trouble below severity 11");
  EXPECT_FALSE(clean.failed());

  qv_failure_scope statement;
  msg(547, 16, "first of the statement");
  msg(3621, 16, "second");
  EXPECT_TRUE(statement.failed());
  qv_seterr("something else");
  statement.record_reason("fallback");
  EXPECT_STREQ(qv_err(), "first of the statement (msg 547, severity 16, state 1, line 3)");

  qv_failure_scope connect;
  dberr(nullptr, 9, SYBECONN, "unable to connect");
  EXPECT_TRUE(connect.failed());
  qv_failure_scope quiet;
  qv_reset();
  quiet.record_reason("fallback");
  EXPECT_STREQ(qv_err(), "fallback");

  // A dead session's reason stays; only take_server_error replaces it.
  qv_reset();
  qv_failure_scope dying;
  msg(1205, 13, "deadlock victim");
  dberr(kSession, 9, SYBESEOF, "Unexpected EOF from the server");
  dying.record_reason("fallback");
  EXPECT_STREQ(qv_err(), "Unexpected EOF from the server (dberr=20017)");
  EXPECT_TRUE(dying.take_server_error());
  EXPECT_STREQ(qv_err(), "deadlock victim (msg 1205, severity 13, state 1, line 3)");
  EXPECT_FALSE(qv_failure_scope().take_server_error());
}

}  // namespace
