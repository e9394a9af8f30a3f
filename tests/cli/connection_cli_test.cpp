// How dbdesk finds its server, login and password (-S, the environment, the
// terminal), and which --format each subcommand honours or refuses.
#include <string>
#include <vector>

#include "demo_script.h"
#include "integration/support.h"
#include "run_cli.h"

namespace {

using qvtest::cli_result;
using qvtest::run_cli;

using args_t = std::vector<std::string>;
using env_t = std::map<std::string, std::string>;

// Every variable dbdesk reads, cleared unless a case sets it.
env_t clean_env(env_t set) {
  for (const char *k : {"DBDESK_SERVER", "DBDESK_USER", "DBDESK_DATABASE", "DBDESK_PASSWORD"})
    set.emplace(k, "");
  return set;
}

class DbdeskConnection : public ServerTest {
 protected:
  std::string port() const { return std::to_string(server.port()); }
};

TEST_F(DbdeskConnection, ServerFromSOrTheEnvironmentFlagsWin) {
  server.add_user("bob", "other");
  server.add_database("demo");
  tds::ResultSet one;
  one.columns = {{"n", tds::Type::Int}};
  one.rows = {{"1"}};
  server.on("SELECT 1 AS n", {one});
  struct Case {
    args_t args;
    env_t env;
    std::string user, database;
  };
  const std::string here = "127.0.0.1," + port();
  const std::vector<Case> cases = {
      {{"connect-test", "-S", here, "--user", "sa"}, {{"DBDESK_PASSWORD", "secret"}}, "sa", "master"},
      {{"query", "--server", here, "--user", "sa", "SELECT 1 AS n"}, {{"DBDESK_PASSWORD", "secret"}}, "sa",
       "master"},
      {{"query", "SELECT 1 AS n"},
       {{"DBDESK_SERVER", here}, {"DBDESK_USER", "sa"}, {"DBDESK_DATABASE", "demo"}, {"DBDESK_PASSWORD", "secret"}},
       "sa", "demo"},
      {{"query", "--user", "bob", "--database", "master", "SELECT 1 AS n"},
       {{"DBDESK_SERVER", here}, {"DBDESK_USER", "sa"}, {"DBDESK_DATABASE", "demo"}, {"DBDESK_PASSWORD", "other"}},
       "bob", "master"},
      {{"query", "--port", port(), "SELECT 1 AS n"},  // the flag's port beats the variable's
       {{"DBDESK_SERVER", "127.0.0.1,1"}, {"DBDESK_USER", "sa"}, {"DBDESK_PASSWORD", "secret"}}, "sa", "master"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1]);
    server.clear_records();
    cli_result r = run_cli(c.args, "", clean_env(c.env));
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(server.logins().size(), 1u) << r.err;
    EXPECT_TRUE(server.logins().front().succeeded);
    EXPECT_EQ(server.logins().front().user, c.user);
    if (c.args.front() == "query") {
      EXPECT_EQ(sent()[1], "use [" + c.database + "]");
    }
  }
}

TEST_F(DbdeskConnection, RefusalsAreUsageErrorsBeforeAnyLogin) {
  struct Case {
    args_t args;
    env_t env;
    std::string problem;
  };
  const std::string here = "127.0.0.1," + port();
  const std::vector<Case> cases = {
      {{"query", "-S", here, "--host", "h", "--user", "sa", "SELECT 1"}, {{"DBDESK_PASSWORD", "x"}},
       "either with -S host[,port] or with --host and --port, not both"},
      {{"query", "-S", "127.0.0.1,0", "--user", "sa", "SELECT 1"}, {{"DBDESK_PASSWORD", "x"}},
       "-S: the port must be a whole number from 1 to 65535"},
      {{"query", "-S", "127.0.0.1,14x", "--user", "sa", "SELECT 1"}, {{"DBDESK_PASSWORD", "x"}},
       "-S: the port must be"},
      {{"query", "-S", ",1433", "--user", "sa", "SELECT 1"}, {{"DBDESK_PASSWORD", "x"}}, "-S must be host or host,port"},
      {{"query", "--user", "sa", "SELECT 1"}, {{"DBDESK_SERVER", "h,99999"}, {"DBDESK_PASSWORD", "x"}},
       "DBDESK_SERVER: the port must be"},
      {{"query", "--user", "sa", "SELECT 1"}, {}, "no host given: use -S, --host, DBDESK_SERVER"},
      {{"query", "-S", here, "SELECT 1"}, {}, "no user given: use --user, DBDESK_USER"},
      // No password anywhere and no terminal to ask on: never an empty-password login.
      {{"query", "-S", here, "--user", "sa", "SELECT 1"}, {}, "no terminal to ask on: set DBDESK_PASSWORD"},
      {{"connect-test", "-S", here, "--user", "sa"}, {}, "set DBDESK_PASSWORD"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.problem);
    cli_result r = run_cli(c.args, "", clean_env(c.env));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
  }
  EXPECT_TRUE(server.logins().empty());
}

// A --format a subcommand cannot show its reply in is refused; the ones it
// offers are honoured.
TEST_F(DbdeskConnection, EveryFormatIsHonouredOrRefused) {
  tds::demo::register_demo(server);
  const args_t conn = {"-S", "127.0.0.1," + port(), "--user", "sa"};
  const auto with_conn = [&](args_t a) {
    a.insert(a.end(), conn.begin(), conn.end());
    return a;
  };
  struct Refused {
    args_t args;
    std::string problem;
  };
  const std::vector<Refused> refused = {
      {{"kill", "77", "--format", "table"}, "--format: table not in {json}"},
      {{"connect-test", "--format", "csv"}, "--format: csv not in {json}"},
      {{"tree", "databases", "--format", "table"}, "--format: table not in {json}"},
      {{"grid", "apply", "t", "--format", "csv"}, "--format: csv not in {json}"},
      {{"script", "procedure", "add_item", "alter", "--format", "table"}, "--format: table not in {text,json}"},
      {{"activity", "sessions", "--format", "jsonl"}, "--format: jsonl not in {json,table,csv}"},
      {{"activity", "sessions", "--format", "table", "--pretty"}, "--pretty indents JSON"},
      {{"query", "--format", "jsonl", "--pretty", "SELECT 1"}, "--format json only"},
      {{"script", "procedure", "add_item", "alter", "--pretty"}, "--format json only"},
  };
  for (const auto &c : refused) {
    SCOPED_TRACE(c.problem);
    cli_result r = run_cli(with_conn(c.args), "", {{"DBDESK_PASSWORD", "secret"}});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
  }
  EXPECT_TRUE(server.logins().empty());

  // script: the script text itself by default, the reply with --format json.
  cli_result text = run_cli(with_conn({"script", "--database", "demo", "procedure", "add_item", "alter"}), "",
                            {{"DBDESK_PASSWORD", "secret"}});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("SET ANSI_NULLS ON\r\nGO\r\n", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("\r\nALTER  PROCEDURE dbo.add_item"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("\"ok\""), std::string::npos);
  cli_result reply = run_cli(with_conn({"script", "--database", "demo", "procedure", "add_item", "alter", "--format",
                                        "json"}),
                             "", {{"DBDESK_PASSWORD", "secret"}});
  EXPECT_EQ(reply.out.rfind("{\"ok\":true,\"title\":", 0), 0u) << reply.out;

  // A result set as CSV; a failed reply in a text form says only its error,
  // on standard error.
  cli_result csv = run_cli(with_conn({"storage", "--database", "demo", "files", "--format", "csv"}), "",
                           {{"DBDESK_PASSWORD", "secret"}});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_NE(csv.out.find("\r\n"), std::string::npos) << csv.out;
  EXPECT_EQ(csv.out.find('{'), std::string::npos) << csv.out;
  cli_result failed = run_cli(with_conn({"storage", "--database", "nowhere", "files", "--format", "table"}), "",
                              {{"DBDESK_PASSWORD", "secret"}});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err.rfind("error: ", 0), 0u) << failed.err;
}

}  // namespace
