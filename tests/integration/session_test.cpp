// Opening sessions: what the server sees at login, and why a login fails.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using namespace std::chrono_literals;

class Session : public ServerTest {};

TEST_F(Session, LoginCarriesTheLibrarysIdentity) {
  Reply r = query("SELECT DB_NAME()", 0, nullptr, 0, "\"app_name\":\"\"");
  ASSERT_TRUE(r["ok"].GetBool()) << r.text;
  auto logins = server.logins();
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].app_name, "quorvex-dbdesk-core");
  EXPECT_EQ(logins[0].host_name, "quorvex");
  EXPECT_EQ(logins[0].user, "sa");
  EXPECT_EQ(logins[0].password, "secret");
  EXPECT_EQ(logins[0].tds_version, 0x74000004u);
  EXPECT_EQ(logins[0].database, "master");
  // The text size is set before the switch to the database.
  auto batches = server.batches_of(logins[0].spid);
  ASSERT_GE(batches.size(), 3u);
  EXPECT_EQ(batches[0], statement("session.set_up"));
  EXPECT_EQ(batches[1], "use [master]");
  EXPECT_EQ(batches[2], "SELECT DB_NAME()");
}

TEST_F(Session, DatabaseIsSentOnlyWhenGiven) {
  server.add_database("Sales");
  Reply r = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", "Sales", 0, 5));
  ASSERT_TRUE(r["ok"].GetBool()) << r.text;
  EXPECT_STREQ(r["database"].GetString(), "Sales");
  Reply q = query("SELECT DB_NAME()", 0, nullptr, 0, "\"app_name\":\"grid\"");
  auto logins = server.logins();
  ASSERT_EQ(logins.size(), 2u);
  EXPECT_EQ(logins[0].database, "Sales");
  EXPECT_EQ(logins[1].database, "master");
  EXPECT_EQ(logins[1].app_name, "grid");
}

TEST_F(Session, WrongPasswordGivesTheServersReason) {
  Reply r = take(dbdesk_core_query(conn_as("sa", "nope").c_str(), nullptr, "SELECT 1", 0, 0));
  EXPECT_EQ(keys_of(r.doc), "ok,error");
  EXPECT_STREQ(r["error"].GetString(),
               "Login failed for user 'sa'. (msg 18456, severity 14, state 1, line 1)");
}

TEST_F(Session, UnknownLoginDatabaseAndUnknownDatabase) {
  Reply c = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", "Nope", 0, 5));
  EXPECT_FALSE(c["ok"].GetBool());
  EXPECT_EQ(keys_of(c.doc), "ok,server_version,spid,database,elapsed_ms,error");
  EXPECT_TRUE(c["server_version"].IsNull());
  EXPECT_TRUE(c["database"].IsNull());
  EXPECT_EQ(c["spid"].GetInt(), 0);
  EXPECT_NE(std::string(c["error"].GetString()).find("Cannot open database \"Nope\""),
            std::string::npos)
      << c.text;
  EXPECT_NE(std::string(c["error"].GetString()).find("(msg 4060, severity 11"), std::string::npos);
}

TEST(SessionNoServer, UnreachablePortGivesDbLibsText) {
  tds::Server s;
  s.start();
  int port = s.port();
  s.stop();  // nothing listens there any more
  Reply r = take(dbdesk_core_connect_test("127.0.0.1", port, "sa", "x", nullptr, 0, 2));
  EXPECT_FALSE(r["ok"].GetBool());
  std::string err = r["error"].GetString();
  EXPECT_NE(err.find("dberr=20009"), std::string::npos) << err;
  EXPECT_NE(err.find("Connection refused"), std::string::npos) << err;
}

TEST_F(Session, EncryptionThatCannotBeEnforcedIsRefused) {
  Reply r = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", nullptr, 1, 5));
  EXPECT_FALSE(r["ok"].GetBool());
  EXPECT_NE(std::string(r["error"].GetString()).find("encryption = require"), std::string::npos)
      << r.text;
  EXPECT_TRUE(server.logins().empty()) << "logged in without encryption";
}

TEST_F(Session, PortAboveRangeIsRefusedNotWrapped) {
  Reply r = take(dbdesk_core_connect_test("127.0.0.1", 70000, "sa", "secret", nullptr, 0, 5));
  EXPECT_EQ(keys_of(r.doc), "ok,error");
  EXPECT_STREQ(r["error"].GetString(), "port out of range: 70000");
}

TEST_F(Session, ConnectTestReportsVersionDatabaseAndSpid) {
  server.set_version_text("Test Server 16.0\n\tline two");
  Reply r = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", "", 0, 0));
  EXPECT_EQ(keys_of(r.doc), "ok,server_version,spid,database,elapsed_ms,error");
  EXPECT_TRUE(r["ok"].GetBool());
  EXPECT_STREQ(r["server_version"].GetString(), "Test Server 16.0\n\tline two");
  EXPECT_STREQ(r["database"].GetString(), "master");
  EXPECT_EQ(r["spid"].GetInt(), server.logins().at(0).spid);
  EXPECT_GE(r["elapsed_ms"].GetInt(), 0);
  EXPECT_TRUE(r["error"].IsNull());
}

// Each session keeps its own statement time-out, whatever other sessions
// opened later asked for.
TEST_F(Session, StatementTimeOutIsPerSession) {
  server.on("WAITFOR DELAY '00:00:02'", {tds::Delay{2000ms}, tds::RowCount{0}});
  Reply slow_ok, fast_fail;
  std::thread patient([&] { slow_ok = query("WAITFOR DELAY '00:00:02'", 0, nullptr, 10); });
  std::this_thread::sleep_for(300ms);  // the patient session is open and waiting
  fast_fail = query("WAITFOR DELAY '00:00:02'", 0, nullptr, 1);
  patient.join();
  EXPECT_TRUE(slow_ok["ok"].GetBool()) << slow_ok.text;
  EXPECT_FALSE(fast_fail["ok"].GetBool());
  EXPECT_NE(std::string(fast_fail["error"].GetString()).find("timed out"), std::string::npos)
      << fast_fail.text;
}

// A sysname of 128 three-byte characters is longer than db-lib's login
// field; it still opens from the connection document and the connection
// test, and comes back whole.
TEST_F(Session, ALegalDatabaseNameLongerThanALoginFieldOpensFromEveryEntry) {
  std::string name;
  for (int i = 0; i < 128; ++i) name += "\xE8\xA1\xA8";
  server.add_database(name);

  Reply c = take(
      dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", name.c_str(), 0, 5));
  ASSERT_TRUE(c["ok"].GetBool()) << c.text;
  EXPECT_EQ(std::string(c["database"].GetString()), name);

  Reply q = query("SELECT DB_NAME()", 0, nullptr, 0, "\"database\":\"" + name + "\"");
  ASSERT_TRUE(q["ok"].GetBool()) << q.text;
  EXPECT_EQ(std::string(q["batches"][0]["results"][0]["rows"][0][0].GetString()), name);
}

// db-lib passes a name that starts with "[" and ends with "]" to USE as it
// is; a database so named must still be switched to as one quoted name,
// never as T-SQL.
TEST_F(Session, ADatabaseNameWrittenInBracketsIsSwitchedToQuoted) {
  const std::string name = "[x] PRINT 'owned' --]";
  server.add_database(name);
  Reply q = query("SELECT DB_NAME()", 0, name.c_str());
  ASSERT_GE(sent().size(), 2u);
  EXPECT_EQ(sent()[1], "use [[x]] PRINT 'owned' --]]]");
  ASSERT_TRUE(q["ok"].GetBool()) << q.text;
  EXPECT_EQ(std::string(q["batches"][0]["results"][0]["rows"][0][0].GetString()), name);
}

TEST_F(Session, CredentialsReachTheServerWholeOrNotAtAll) {
  const std::string user128(128, 'u');
  std::string euro42, euro43;
  for (int i = 0; i < 42; ++i) euro42 += "\xE2\x82\xAC";
  euro43 = euro42 + "\xE2\x82\xAC";
  std::string e100;
  for (int i = 0; i < 100; ++i) e100 += "\xC3\xA9";
  server.add_user(user128, euro42);
  query("SELECT 1");
  Reply whole = take(dbdesk_core_query(conn_as(user128, euro42).c_str(), nullptr, "PRINT 'x'", 0, 0));
  ASSERT_EQ(server.logins().size(), 2u);
  EXPECT_EQ(server.logins()[1].user, user128);
  EXPECT_EQ(server.logins()[1].password, euro42);
  EXPECT_TRUE(server.logins()[1].succeeded) << whole.text;

  const struct {
    std::string reply;
    const char *error;
  } refused[] = {
      {take(dbdesk_core_query(conn_as("sa", euro43).c_str(), nullptr, "SELECT 1", 0, 0)).text,
       "conn_json.password is longer than 128 bytes"},
      {take(dbdesk_core_query(conn_as(e100, "x").c_str(), nullptr, "SELECT 1", 0, 0)).text,
       "conn_json.user is longer than 128 bytes"},
      {take(dbdesk_core_query(conn_as("sa", "se\\u0000cret").c_str(), nullptr, "SELECT 1", 0, 0))
           .text,
       "conn_json.password contains U+0000"},
      {take(dbdesk_core_connect_test("127.0.0.1", server.port(), e100.c_str(), "x", nullptr, 0, 5))
           .text,
       "user is longer than 128 bytes"},
      {take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", euro43.c_str(), nullptr, 0,
                                     5))
           .text,
       "password is longer than 128 bytes"},
  };
  for (const auto &c : refused)
    EXPECT_EQ(c.reply, std::string("{\"ok\":false,\"error\":\"") + c.error + "\"}");
  EXPECT_EQ(server.logins().size(), 2u) << "a refused login reached the server";
}

// Every call waits for its login exactly as long as it asked, whatever
// other threads asked for at the same moment.
TEST_F(Session, LoginTimeOutsBelongToTheirCall) {
  server.set_login_delay(2500ms);
  constexpr int kPerGroup = 4;
  std::vector<Reply> patient(kPerGroup), hasty(kPerGroup);
  std::vector<std::thread> threads;
  for (int i = 0; i < kPerGroup; ++i) {
    threads.emplace_back([&, i] {
      patient[i] = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret",
                                                 nullptr, 0, 6));
    });
    threads.emplace_back([&, i] {
      hasty[i] = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret",
                                               nullptr, 0, 1));
    });
  }
  for (auto &t : threads) t.join();
  for (int i = 0; i < kPerGroup; ++i) {
    EXPECT_TRUE(patient[i]["ok"].GetBool()) << patient[i].text;
    EXPECT_GE(patient[i]["elapsed_ms"].GetInt(), 2400);
    EXPECT_FALSE(hasty[i]["ok"].GetBool()) << hasty[i].text;
    EXPECT_LT(hasty[i]["elapsed_ms"].GetInt(), 2400) << hasty[i].text;
    EXPECT_NE(hasty[i].text.find("dberr=20003"), std::string::npos) << hasty[i].text;
  }
}

TEST_F(Session, ConnectTestWhoseSessionDiedIsAFailure) {
  server.on(statement("session.version"), {tds::Drop{}});
  Reply dead = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", nullptr,
                                             0, 5));
  EXPECT_FALSE(dead["ok"].GetBool()) << dead.text;
  EXPECT_NE(dead.text.find("Unexpected EOF"), std::string::npos) << dead.text;

  // A probe that merely fails on a live session keeps the session's answer.
  server.clear_handlers();
  server.on(statement("session.database"),
            {tds::StatementError{tds::error(229, "permission denied")}});
  Reply live = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", nullptr,
                                             0, 5));
  EXPECT_TRUE(live["ok"].GetBool()) << live.text;
  EXPECT_STREQ(live["database"].GetString(), "");
  EXPECT_EQ(live["spid"].GetInt(), server.logins().back().spid);
}

}  // namespace
