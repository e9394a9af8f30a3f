// Logging in with db-lib: what the server records and what db-lib reports
// for good and bad credentials, databases and encryption demands.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "dblib_client.h"

namespace tdstest {
namespace {

using namespace std::chrono_literals;

class Login : public ServerTest {};

TEST_F(Login, SucceedsAndRecordsWhatTheClientSent) {
  DBPROCESS *db = connect({.user = "sa", .password = "secret", .app = "qv-app", .host = "qv-box"});
  ASSERT_NE(db, nullptr);

  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 5701", "MSG 5703"}));
  const auto events = Events::get().all();
  EXPECT_EQ(events[0].text, "Changed database context to 'master'.");
  EXPECT_EQ(events[0].severity, 0);
  EXPECT_EQ(events[1].text, "Changed language setting to us_english.");
  EXPECT_STREQ(dbname(db), "master");
  EXPECT_EQ(dbspid(db), 51);

  ASSERT_EQ(server.logins().size(), 1u);
  const tds::LoginRecord r = server.logins()[0];
  EXPECT_TRUE(r.succeeded);
  EXPECT_EQ(r.spid, 51);
  EXPECT_EQ(r.tds_version, 0x74000004u);
  EXPECT_EQ(r.user, "sa");
  EXPECT_EQ(r.password, "secret");
  EXPECT_EQ(r.app_name, "qv-app");
  EXPECT_EQ(r.host_name, "qv-box");
  EXPECT_EQ(r.server_name, "127.0.0.1");
  EXPECT_EQ(r.library, "DB-Library");
  EXPECT_EQ(r.language, "us_english");
  EXPECT_EQ(r.database, "");
  EXPECT_EQ(r.packet_size, 4096u);
  EXPECT_EQ(r.prelogin_encryption, 0);
  ASSERT_EQ(server.prelogins().size(), 1u);
  EXPECT_EQ(server.prelogins()[0].encryption, 0);
}

TEST_F(Login, ConfiguredUserAndDatabaseWithNonAsciiPassword) {
  server.add_user("app_user", "p\xC3\xA4ss \xF0\x9F\x94\x91");
  server.add_database("Sales");
  DBPROCESS *db = connect({.user = "app_user", .password = "p\xC3\xA4ss \xF0\x9F\x94\x91", .database = "sales"});
  ASSERT_NE(db, nullptr);
  EXPECT_STREQ(dbname(db), "Sales");
  EXPECT_EQ(Events::get().all().front().text, "Changed database context to 'Sales'.");
  EXPECT_EQ(server.logins()[0].database, "sales");
  EXPECT_EQ(server.logins()[0].password, "p\xC3\xA4ss \xF0\x9F\x94\x91");
}

TEST_F(Login, WrongPasswordFailsWithLoginFailedThenClosesTheConnection) {
  EXPECT_EQ(connect({.password = "wrong"}), nullptr);

  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 18456", "ERR 20018", "ERR 20002"}));
  const auto events = Events::get().all();
  EXPECT_EQ(events[0].text, "Login failed for user 'sa'.");
  EXPECT_EQ(events[0].severity, 14);
  EXPECT_EQ(events[0].state, 1);
  EXPECT_EQ(events[0].server, "QVTEST");
  EXPECT_EQ(events[1].severity, 14);
  EXPECT_FALSE(server.logins()[0].succeeded);
  EXPECT_TRUE(server.wait_for_open_connections(0, 5s));
}

TEST_F(Login, UnknownUserFailsTheSameWay) {
  EXPECT_EQ(connect({.user = "nobody"}), nullptr);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 18456", "ERR 20018", "ERR 20002"}));
  EXPECT_EQ(Events::get().all()[0].text, "Login failed for user 'nobody'.");
}

TEST_F(Login, UnknownDatabaseFailsWith4060Then18456) {
  EXPECT_EQ(connect({.database = "Nope"}), nullptr);
  EXPECT_EQ(Events::get().codes(), (Codes{"MSG 4060", "ERR 20018", "MSG 18456", "ERR 20018", "ERR 20002"}));
  const auto events = Events::get().all();
  EXPECT_EQ(events[0].text, "Cannot open database \"Nope\" requested by the login. The login failed.");
  EXPECT_EQ(events[0].severity, 11);
  EXPECT_FALSE(server.logins()[0].succeeded);
}

TEST_F(Login, EachConnectionGetsTheNextSpid) {
  server.set_first_spid(70);
  DBPROCESS *a = connect();
  DBPROCESS *b = connect();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(dbspid(a), 70);
  EXPECT_EQ(dbspid(b), 71);
  EXPECT_EQ(server.logins()[1].spid, 71);
}

TEST_F(Login, NothingListeningIsConnectionRefused) {
  const std::uint16_t port = server.port();
  server.stop();
  EXPECT_EQ(open(port), nullptr);
  EXPECT_EQ(Events::get().codes(), (Codes{"ERR 20009"}));
}

// FreeTDS can only be told to insist on TLS through its configuration; it
// reads the file named by FREETDSCONF at login time.
class EncryptionRequired : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    const char *old = std::getenv("FREETDSCONF");
    if (old != nullptr) saved_ = old;
    path_ = ::testing::TempDir() + "qv_tds_require_tls.conf";
    std::ofstream(path_) << "[global]\n\tencryption = require\n";
    setenv("FREETDSCONF", path_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_) setenv("FREETDSCONF", saved_->c_str(), 1);
    else unsetenv("FREETDSCONF");
    std::remove(path_.c_str());
    ServerTest::TearDown();
  }

 private:
  std::string path_;
  std::optional<std::string> saved_;
};

TEST_F(EncryptionRequired, ClientHangsUpAfterPreloginAndTheServerLetsItGo) {
  EXPECT_EQ(connect(), nullptr);
  ASSERT_EQ(server.prelogins().size(), 1u);
  EXPECT_EQ(server.prelogins()[0].encryption, 1);
  EXPECT_TRUE(server.logins().empty());
  EXPECT_TRUE(server.wait_for_open_connections(0, 5s));

  // The server is unharmed: an ordinary login right after works.
  unsetenv("FREETDSCONF");
  EXPECT_NE(connect(), nullptr);
}

}  // namespace
}  // namespace tdstest
