// The dbdesk command line, run as a separate process against the test server.
#include <string>
#include <vector>

#include "dbdesk_fixture.h"

namespace {

using qvtest::cli_result;
using qvtest::run_cli;
using qvtest::temp_file;
using tds::Type;

using qvtest::args_t;

class Dbdesk : public qvtest::DbdeskTest {};

TEST_F(Dbdesk, BadInputIsOneLineNamingTheHelpWithStatusTwo) {
  struct Case {
    args_t args;
    bool server_flags;
    std::string problem, help;
  };
  const std::string port = std::to_string(server.port());
  const std::vector<Case> cases = {
      {{"frob"}, false, "unknown subcommand: frob", "dbdesk --help"},
      {{"query", "--bogus", "SELECT 1"}, true, "--bogus", "dbdesk query --help"},
      {{"kill"}, true, "spid is required", "dbdesk kill --help"},
      {{"grid"}, false, "A subcommand is required", "dbdesk grid --help"},
      {{"grid", "apply", "t", "--file", "/nonexistent/ops.json"}, true,
       "cannot read /nonexistent/ops.json: No such file or directory", "dbdesk grid apply --help"},
      {{"query", "--conn", "{\"host\":", "SELECT 1"}, false, "--conn text is not valid JSON",
       "dbdesk query --help"},
      {{"query", "--conn", "[1]", "SELECT 1"}, false, "--conn text must be a JSON object", "dbdesk query --help"},
      {{"query", "--conn", "{\"host\":\"h\",\"user\":\"u\",\"password\":\"p\"}", "SELECT 1"}, false,
       "--conn text must not carry a password", "dbdesk query --help"},
      {{"query", "--port", "70000", "--host", "h", "--user", "u", "SELECT 1"}, false,
       "--port: Value 70000 not in range 1 to 65535", "dbdesk query --help"},
      {{"query", "--conn", "{\"host\":\"h\",\"user\":\"u\",\"port\":0}", "SELECT 1"}, false,
       "--conn port must be a whole number from 1 to 65535", "dbdesk query --help"},
      {{"query", "SELECT 1"}, false, "no host given", "dbdesk query --help"},
      {{"query", "--host", "h", "SELECT 1"}, false, "no user given", "dbdesk query --help"},
      {{"query"}, true, "no SQL given", "dbdesk query --help"},
      {{"query", "--format", "xml", "SELECT 1"}, true, "--format: xml not in {json,table,csv,jsonl}",
       "dbdesk query --help"},
      {{"version", "--host", "h"}, false, "--host", "dbdesk version --help"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.front() + " ... " + c.problem);
    cli_result r = c.server_flags ? dbdesk(c.args) : run_cli(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
    EXPECT_EQ(r.err.rfind("dbdesk: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(see: " + c.help + ")"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(server.logins().empty());
}

TEST_F(Dbdesk, ScriptArrivesUnchangedFromArgumentFileOrStandardInput) {
  tds::ResultSet one;
  one.columns = {{"n", Type::Int}};
  one.rows = {{"1"}};
  server.on("SELECT 1 AS n", {one});
  const std::string file = temp_file("q.sql", "SELECT 1 AS n");
  const std::vector<std::pair<args_t, std::string>> sources = {
      {{"query", "SELECT 1 AS n"}, ""},
      {{"query", "--file", file}, ""},
      {{"query"}, "SELECT 1 AS n"},
      {{"query", "-"}, "SELECT 1 AS n"},
  };
  for (const auto &[args, in] : sources) {
    server.clear_records();
    cli_result r = dbdesk(args, in);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"rows\":[[1]]"), std::string::npos) << r.out;
    EXPECT_EQ(sent().back(), "SELECT 1 AS n");
  }
}

TEST_F(Dbdesk, ExitStatusFollowsTheReply) {
  server.on(statement("query.kill", {"77"}), {tds::DoneNoCount{}});
  server.on(statement("query.kill", {"5"}),
            {tds::BatchAbort{tds::error(6106, "Process ID 5 is not an active process ID.")}});
  struct Case {
    args_t args;
    int status;
    std::string out_start;
  };
  const std::vector<Case> cases = {
      {{"kill", "77"}, 0, "{\"ok\":true,\"spid\":77,"},
      {{"kill", "5"}, 1, "{\"ok\":false,\"spid\":5,"},
      {{"connect-test"}, 0, "{\"ok\":true,\"server_version\":"},
      {{"query", "--database", "nowhere", "SELECT 1"}, 1, "{\"ok\":false,\"error\":"},
  };
  for (const auto &c : cases) {
    cli_result r = dbdesk(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.front() << r.out << r.err;
    EXPECT_EQ(r.out.rfind(c.out_start, 0), 0u) << r.out;
  }
  EXPECT_EQ(sent()[2], statement("query.kill", {"77"}));
}

// Each positional lands in its own argument of the C call: an empty one is
// the argument the library reports missing.
TEST_F(Dbdesk, PositionalsReachTheirArgumentOfTheCall) {
  const std::vector<std::pair<args_t, std::string>> cases = {
      {{"tree", ""}, "node_kind"},
      {{"script", "", "o", "create", "--format", "json"}, "kind"},  // script prints the text by default
      {{"script", "table", "", "create", "--format", "json"}, "obj"},
      {{"script", "table", "o", "", "--format", "json"}, "action"},
      {{"grid", "load", ""}, "table"},
      {{"grid", "apply", "", "--file", temp_file("ops.json", "[]")}, "table"},
      {{"activity", ""}, "view"},
      {{"storage", ""}, "action"},
      {{"admin", ""}, "kind"},
  };
  for (const auto &[args, missing] : cases) {
    cli_result r = dbdesk(args);
    EXPECT_EQ(r.status, 1) << args.front();
    EXPECT_EQ(r.out, "{\"ok\":false,\"error\":\"missing required parameter: " + missing + "\"}\n");
  }
}

TEST_F(Dbdesk, TreeLooksUpAnObjectWithoutSchemaInDbo) {
  dbdesk({"tree", "keys", "--object", "Orders"});
  bool asked = false;
  for (const auto &b : server.batches())
    asked |= b.sql.find("s.name = N'dbo'") != std::string::npos &&
             b.sql.find("N'Orders'") != std::string::npos;
  EXPECT_TRUE(asked);
}

class DbdeskFormats : public Dbdesk {
 protected:
  void SetUp() override {
    Dbdesk::SetUp();
    tds::ResultSet rs;
    rs.columns = {{"id", Type::BigInt, 0, 0, 0, false}, {"note", Type::NVarChar, 100}};
    rs.rows = {{"9007199254740993", "a, \"quoted\"\nline"},
               {"2", std::nullopt},
               {"3", std::string(45, 'x') + "\xC3\xA9"}};
    server.on("SELECT id, note FROM t", {rs, tds::print("done"), tds::DoneNoCount{}});
  }
  cli_result run(const char *format) { return dbdesk({"query", "--format", format, "SELECT id, note FROM t"}); }
};

TEST_F(DbdeskFormats, TableAlignsColumnsShowsNullAndCutsLongCells) {
  cli_result r = run("table");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "id               | note\n"
            "-----------------+-----------------------------------------\n"
            "9007199254740993 | a, \"quoted\" line\n"
            "2                | NULL\n"
            "3                | " + std::string(39, 'x') + "\xE2\x80\xA6\n"
            "(3 rows)\n\n");
  EXPECT_EQ(r.err, "print: done\n");  // messages never mix with the data
}

TEST_F(DbdeskFormats, CsvFollowsRfc4180AndSendsMessagesToStandardError) {
  cli_result r = run("csv");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "id,note\r\n"
            "9007199254740993,\"a, \"\"quoted\"\"\nline\"\r\n"
            "2,\r\n"
            "3," + std::string(45, 'x') + "\xC3\xA9\r\n");
  EXPECT_EQ(r.err, "print: done\n");
}

TEST_F(DbdeskFormats, PrettyJsonKeepsBigNumbersExact) {
  cli_result r = dbdesk({"query", "--pretty", "SELECT id, note FROM t"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n  \"batches\": [\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n              9007199254740993,\n"), std::string::npos) << r.out;
}

TEST_F(Dbdesk, ConnectionDocumentFlagsAndPasswordSources) {
  server.add_user("bob", "other");
  server.add_database("demo");
  const std::string port = std::to_string(server.port());
  const std::string doc = temp_file(
      "conn.json", "{\"host\":\"127.0.0.1\",\"port\":" + port + ",\"user\":\"sa\",\"password\":\"secret\"}");
  struct Case {
    args_t args;
    std::string env_password, user, password, app_name, database = "master";
  };
  const std::vector<Case> cases = {
      {{"connect-test", "--conn", doc}, "", "sa", "secret", "quorvex-dbdesk-core"},
      {{"query", "--conn", doc, "--app-name", "tour", "--database", "demo", "SELECT 1 AS n"}, "", "sa", "secret",
       "tour", "demo"},
      {{"query", "--conn", doc, "--user", "bob", "SELECT 1 AS n"}, "other", "bob", "other", "quorvex-dbdesk-core"},
      {{"query", "--conn", "{\"host\":\"127.0.0.1\",\"user\":\"bob\",\"port\":" + port + "}", "SELECT 1 AS n"},
       "other", "bob", "other", "quorvex-dbdesk-core"},
  };
  for (const auto &c : cases) {
    server.clear_records();
    cli_result r = run_cli(c.args, "", {{"DBDESK_PASSWORD", c.env_password}});
    ASSERT_EQ(server.logins().size(), 1u) << r.err;
    const auto login = server.logins().front();
    EXPECT_TRUE(login.succeeded) << r.out;
    EXPECT_EQ(login.user, c.user);
    EXPECT_EQ(login.password, c.password);
    EXPECT_EQ(login.app_name, c.app_name);
    EXPECT_EQ(sent()[1], "use [" + c.database + "]");
  }
}

}  // namespace
