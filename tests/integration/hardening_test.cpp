// Hostile values and careless callers: what must never reach the server,
// never be cut, and never be reported as a success.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using qvtest::keys_of;
using qvtest::Reply;
using qvtest::ServerTest;
using qvtest::take;

class Hardening : public ServerTest {
 protected:
  std::string conn_as(const std::string &user, const std::string &password) const {
    return "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(server.port()) + ",\"user\":\"" +
           user + "\",\"password\":\"" + password + "\"}";
  }
  static bool valid_utf8(const std::string &s) {
    rapidjson::StringStream in(s.c_str());
    rapidjson::StringBuffer out;
    while (in.Peek() != '\0')
      if (!rapidjson::UTF8<>::Validate(in, out)) return false;
    return true;
  }
};

// db-lib stops converting a statement at its first invalid byte and runs
// the prefix: "DELETE FROM Orders -- r" would delete every row.
TEST_F(Hardening, InvalidUtf8IsRefusedBeforeAnythingIsSent) {
  Reply r = query("DELETE FROM Orders -- r\xE9sum\xE9 cleanup\nWHERE id = 42");
  EXPECT_EQ(keys_of(r.doc), "ok,error");
  EXPECT_STREQ(r["error"].GetString(), "sql is not valid UTF-8 (byte 23)");
  Reply db = take(dbdesk_core_query(conn().c_str(), "Sales\xFF", "SELECT 1", 0, 0));
  EXPECT_EQ(keys_of(db.doc), "ok,error");
  EXPECT_STREQ(db["error"].GetString(), "database name is not valid UTF-8");
  EXPECT_TRUE(server.logins().empty());
  EXPECT_TRUE(server.batches().empty());
}

TEST_F(Hardening, GoInsideQuotedNamesAndNestedCommentsStaysInItsBatch) {
  query("SELECT \"it's\"\nGO\nSELECT [it]]'s]\nGO\n/* a /* b */ GO */ SELECT 3");
  std::vector<std::string> sent;
  for (const auto &b : server.batches())
    if (b.sql.rfind("SELECT", 0) == 0 || b.sql.rfind("/*", 0) == 0) sent.push_back(b.sql);
  EXPECT_EQ(sent, (std::vector<std::string>{"SELECT \"it's\"", "SELECT [it]]'s]",
                                             "/* a /* b */ GO */ SELECT 3"}));
}

TEST_F(Hardening, CredentialsReachTheServerWholeOrNotAtAll) {
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
TEST_F(Hardening, LoginTimeOutsBelongToTheirCall) {
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

TEST_F(Hardening, ConnectTestWhoseSessionDiedIsAFailure) {
  server.on(qvtest::statement("session.version"), {tds::Drop{}});
  Reply dead = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", nullptr,
                                             0, 5));
  EXPECT_FALSE(dead["ok"].GetBool()) << dead.text;
  EXPECT_NE(dead.text.find("Unexpected EOF"), std::string::npos) << dead.text;

  // A probe that merely fails on a live session keeps the session's answer.
  server.clear_handlers();
  server.on(qvtest::statement("session.database"),
            {tds::StatementError{tds::error(229, "permission denied")}});
  Reply live = take(dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", nullptr,
                                             0, 5));
  EXPECT_TRUE(live["ok"].GetBool()) << live.text;
  EXPECT_STREQ(live["database"].GetString(), "");
  EXPECT_EQ(live["spid"].GetInt(), server.logins().back().spid);
}

TEST_F(Hardening, LastErrorIsValidUtf8) {
  Reply r = take(dbdesk_core_connect_test("127.0.0.\xFF", server.port(), "sa", "x", nullptr, 0, 2));
  std::string last = dbdesk_core_last_error();
  EXPECT_TRUE(valid_utf8(last)) << last;
  EXPECT_NE(last.find("127.0.0.\xEF\xBF\xBD"), std::string::npos) << last;
  EXPECT_EQ(r["error"].GetString(), last);
}

}  // namespace
