// What a first-time user runs into: cases that cut across operations.
#include "support.h"

namespace {

using qvtest::ServerTest;
using qvtest::take;

class FirstHour : public ServerTest {};

// A sysname of 128 three-byte characters is longer than db-lib's login
// field; it still opens from the connection document and the connection
// test, and comes back whole.
TEST_F(FirstHour, ALegalDatabaseNameLongerThanALoginFieldOpensFromEveryEntry) {
  std::string name;
  for (int i = 0; i < 128; ++i) name += "\xE8\xA1\xA8";
  server.add_database(name);

  qvtest::Reply c = take(
      dbdesk_core_connect_test("127.0.0.1", server.port(), "sa", "secret", name.c_str(), 0, 5));
  ASSERT_TRUE(c["ok"].GetBool()) << c.text;
  EXPECT_EQ(std::string(c["database"].GetString()), name);

  qvtest::Reply q = query("SELECT DB_NAME()", 0, nullptr, 0, "\"database\":\"" + name + "\"");
  ASSERT_TRUE(q["ok"].GetBool()) << q.text;
  EXPECT_EQ(std::string(q["batches"][0]["results"][0]["rows"][0][0].GetString()), name);
}

// db-lib passes a name that starts with "[" and ends with "]" to USE as it
// is; a database so named must still be switched to as one quoted name,
// never as T-SQL.
TEST_F(FirstHour, ADatabaseNameWrittenInBracketsIsSwitchedToQuoted) {
  const std::string name = "[x] PRINT 'owned' --]";
  server.add_database(name);
  qvtest::Reply q = query("SELECT DB_NAME()", 0, name.c_str());
  ASSERT_GE(sent().size(), 2u);
  EXPECT_EQ(sent()[1], "use [[x]] PRINT 'owned' --]]]");
  ASSERT_TRUE(q["ok"].GetBool()) << q.text;
  EXPECT_EQ(std::string(q["batches"][0]["results"][0]["rows"][0][0].GetString()), name);
}

}  // namespace
