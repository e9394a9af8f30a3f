// Opening sessions: what the server sees at login, and why a login fails.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using qvtest::Reply;
using qvtest::ServerTest;
using qvtest::take;

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
  EXPECT_EQ(batches[0], qvtest::statement("session.text_size"));
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
  Reply r = take(dbdesk_core_query(
      ("{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(server.port()) +
       ",\"user\":\"sa\",\"password\":\"nope\"}").c_str(),
      nullptr, "SELECT 1", 0, 0));
  EXPECT_EQ(qvtest::keys_of(r.doc), "ok,error");
  EXPECT_STREQ(r["error"].GetString(),
               "Login failed for user 'sa'. (msg 18456, severity 14, state 1, line 1)");
}

TEST_F(Session, UnknownLoginDatabaseAndUnknownDatabase) {
  Reply c = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", "Nope", 0, 5));
  EXPECT_FALSE(c["ok"].GetBool());
  EXPECT_EQ(qvtest::keys_of(c.doc), "ok,server_version,spid,database,elapsed_ms,error");
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
  EXPECT_EQ(qvtest::keys_of(r.doc), "ok,error");
  EXPECT_STREQ(r["error"].GetString(), "port out of range: 70000");
}

TEST_F(Session, ConnectTestReportsVersionDatabaseAndSpid) {
  server.set_version_text("Test Server 16.0\n\tline two");
  Reply r = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", "", 0, 0));
  EXPECT_EQ(qvtest::keys_of(r.doc), "ok,server_version,spid,database,elapsed_ms,error");
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

}  // namespace
