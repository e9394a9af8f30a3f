// tests/golden/statements.sql against itself and against the texts the code
// exposes: the explorer's kind table, the session set-up, and the catalog
// readers and job control run on a real session, so that a statement changed
// in the code and not in the file fails here, by name.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "common/capture.h"
#include "common/conn.h"
#include "exec/catalog.h"
#include "exec/session.h"
#include "golden/golden.h"
#include "tds_server/server.h"
#include "tree/kinds.h"

namespace {

using namespace qv::common;
using namespace qv::exec;
using qv::ops::tree::qv_find_node_kind;
using qv::ops::tree::qv_node_kind;
using qv::ops::tree::qv_node_query;
using qvtest::statement;

TEST(GoldenStatements, FileIsWellFormed) {
  const qvtest::golden_file &file = qvtest::golden();
  for (const std::string &p : file.problems) ADD_FAILURE() << QV_GOLDEN_STATEMENTS << " " << p;
  EXPECT_GE(file.entries.size(), 40u);
  std::set<std::string> names;
  for (const qvtest::golden_entry &e : file.entries) {
    EXPECT_TRUE(names.insert(e.name).second) << "twice: " << e.name;
    EXPECT_FALSE(e.text.empty()) << e.name;
    EXPECT_EQ(e.text.find('\n'), std::string::npos) << e.name;
  }
}

// The reader itself: each malformed place is reported, with its line.
TEST(GoldenStatements, MalformedFilesAreReported) {
  const struct {
    const char *text, *problem;
  } cases[] = {
      {"-- name: a.b\nSELECT 1\n\n-- name: a.b\nSELECT 2\n",
       "line 4: a.b is already named on line 1"},
      {"-- name: a.b\n\nSELECT 1\n", "line 1: statement a.b has no text on the next line"},
      {"-- name: a.b\n-- a comment\nSELECT 1\n",
       "line 1: statement a.b has no text on the next line"},
      {"-- name: a.b", "line 1: statement a.b has no text on the next line"},
      {"-- name: a.b\nSELECT 1\nFROM t\n",
       "line 3: text outside any entry (a statement is one line): FROM t"},
      {"SELECT 1\n", "line 1: text outside any entry (a statement is one line): SELECT 1"},
      {"-- name: ab\nSELECT 1\n", "line 1: bad name 'ab' (<area>.<what>)"},
      {"-- name: A.b\nSELECT 1\n", "line 1: bad name 'A.b' (<area>.<what>)"},
      {"-- name: a.b\nSELECT 1 \n", "line 2: a.b starts or ends with a blank"},
      {"-- name: a.b\nSELECT 1\r\n", "line 2: a.b holds a carriage return"},
  };
  for (const auto &c : cases) {
    std::istringstream in(c.text);
    qvtest::golden_file file = qvtest::parse_golden(in);
    ASSERT_FALSE(file.problems.empty()) << c.text;
    EXPECT_EQ(file.problems.front(), c.problem) << c.text;
  }
  std::istringstream good(
      "-- a comment\n-- name: a.b\nSELECT '%s', %d\n\n-- name: a.c_2\nKILL 1\n");
  qvtest::golden_file file = qvtest::parse_golden(good);
  EXPECT_TRUE(file.problems.empty());
  ASSERT_EQ(file.entries.size(), 2u);
  EXPECT_EQ(file.entries[0].text, "SELECT '%s', %d");
  EXPECT_EQ(qvtest::placeholder_count(file.entries[0].text), 2);
}

TEST(GoldenStatements, SessionSetUpIsTheGoldenText) {
  EXPECT_EQ(statement("session.set_up"), kSessionSetUp);
}

// Every tree.<kind> entry is that kind's query, and the names fill its
// placeholders as the kind says.
TEST(GoldenStatements, ExplorerKindsQueryTheirGoldenText) {
  int kinds = 0;
  for (const qvtest::golden_entry &e : qvtest::golden().entries) {
    if (e.name.rfind("tree.", 0) != 0) continue;
    SCOPED_TRACE(e.name);
    ++kinds;
    const qv_node_kind *kind = qv_find_node_kind(e.name.substr(5).c_str());
    ASSERT_NE(kind, nullptr);
    ASSERT_NE(kind->sql, nullptr);
    EXPECT_EQ(kind->sql, e.text);
    std::vector<std::string> names;
    for (int i = qvtest::placeholder_count(e.text); i > 0; i -= 2)
      names.insert(names.end(), {"s''1", "t2"});
    EXPECT_EQ(qv_node_query(*kind, "s''1", "t2"), statement(e.name, names));
  }
  EXPECT_EQ(kinds, 20);
  // The server node is built, not queried.
  ASSERT_NE(qv_find_node_kind("server"), nullptr);
  EXPECT_EQ(qv_find_node_kind("server")->sql, nullptr);
}

// The readers and actions whose statements live inside the code: each call
// on a session of the test server sends its golden statement (the server
// answers none of them; only what was sent counts).
class GoldenOnTheWire : public ::testing::Test {
 protected:
  void SetUp() override {
    server.start();
    qv_conn_defaults(&conn);
    std::snprintf(conn.host, sizeof conn.host, "127.0.0.1");
    conn.port = server.port();
    std::snprintf(conn.user, sizeof conn.user, "sa");
    std::snprintf(conn.password, sizeof conn.password, "secret");
  }
  void TearDown() override {
    EXPECT_TRUE(server.wait_for_open_connections(0, std::chrono::seconds(5)));
  }
  std::string last_sent() const {
    auto all = server.batches();
    return all.empty() ? "(nothing sent)" : all.back().sql;
  }

  tds::Server server;
  qv_conn conn;
};

TEST_F(GoldenOnTheWire, CatalogReadersSendTheirGoldenText) {
  struct Case {
    std::string name;
    std::function<void(DBPROCESS *)> call;
  } cases[] = {
      {"catalog.primary_key",
       [](DBPROCESS *s) {
         std::vector<std::string> names;
         qv_read_primary_key(s, "s'1", "t2", &names);
       }},
      {"catalog.grid_columns",
       [](DBPROCESS *s) {
         std::vector<qv_table_column> cols;
         qv_read_columns(s, "s'1", "t2", qv_column_query::grid, &cols);
       }},
      {"catalog.script_columns",
       [](DBPROCESS *s) {
         std::vector<qv_table_column> cols;
         qv_read_columns(s, "s'1", "t2", qv_column_query::scripting, &cols);
       }},
      {"scripting.definition",
       [](DBPROCESS *s) {
         qv_module_definition def;
         qv_read_definition(s, "s'1", "t2", &def);
       }},
      {"scripting.table_columns",
       [](DBPROCESS *s) {
         std::vector<qv_column_decl> columns;
         qv_read_column_decls(s, "s'1", "t2", &columns);
       }},
      {"scripting.table_indexes",
       [](DBPROCESS *s) {
         std::vector<qv_table_index> indexes;
         qv_read_table_indexes(s, "s'1", "t2", &indexes);
       }},
      {"scripting.table_checks",
       [](DBPROCESS *s) {
         std::vector<qv_check_constraint> checks;
         qv_read_check_constraints(s, "s'1", "t2", &checks);
       }},
      {"scripting.table_foreign_keys",
       [](DBPROCESS *s) {
         std::vector<qv_foreign_key> keys;
         qv_read_foreign_keys(s, "s'1", "t2", &keys);
       }},
      {"scripting.table_storage",
       [](DBPROCESS *s) {
         qv_table_storage storage;
         qv_read_table_storage(s, "s'1", "t2", &storage);
       }},
      {"scripting.parameters",
       [](DBPROCESS *s) {
         std::vector<qv_parameter> parameters;
         qv_read_parameters(s, "s'1", "t2", &parameters);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    server.clear_records();
    qv_reset();
    qv_session session(qv_open(&conn, "master"));
    ASSERT_TRUE(session) << qv_err();
    c.call(session.get());
    EXPECT_EQ(last_sent(), statement(c.name, {"s''1", "t2"}));
  }
}

TEST(GoldenStatements, JobControlSendsItsGoldenText) {
  for (const char *action : {"start", "stop", "enable", "disable"}) {
    SCOPED_TRACE(action);
    std::string sql;
    std::string arg = std::string("{\"job_id\":\"j'1\",\"action\":\"") + action + "\"}";
    ASSERT_TRUE(qv::ops::admin::job_control_statement(arg.c_str(), &sql)) << qv_err();
    EXPECT_EQ(sql, statement(std::string("admin.job_") + action, {"j''1"}));
  }
}

}  // namespace
