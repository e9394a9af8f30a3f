// Activity monitor, storage and server administration against the test
// server: the exact statements, the database each runs in, row limits, the
// two kinds of failure, and database names that reach the server only quoted.
#include "support.h"

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char kRowsetKeys[] = "ok,columns,rows,row_count,error";

// A database name's quoted identifier, n times over, for the views that
// name the database in every placeholder.
std::vector<std::string> times(int n, const std::string &ident) {
  return std::vector<std::string>(static_cast<std::size_t>(n), ident);
}
// The backup history's optional filter, in its three pieces: empty, or the
// filter around the inside of the name's literal.
std::vector<std::string> history_filter(const std::string &text) {
  return {"WHERE bs.database_name = N'", text, "'"};
}
const std::vector<std::string> kNoFilter = {"", "", ""};

tds::ResultSet one_int(const std::string &name, std::size_t rows = 1) {
  tds::ResultSet rs;
  rs.columns = {{name, tds::Type::Int}};
  rs.generated_rows = rows;
  rs.generate = [](std::size_t i, tds::Row &row) { row[0] = std::to_string(i + 1); };
  return rs;
}

// One call of the three entry points.
struct Call {
  enum Op { activity, storage, admin } op;
  const char *what;  // view, action or kind
  const char *database = nullptr;
  const char *arg = nullptr;
  std::string doc = "";  // extra members of the connection document
};

class Admin : public ServerTest {
 protected:
  Reply run(const Call &c) {
    std::string cj = conn(c.doc);
    switch (c.op) {
      case Call::activity: return take(dbdesk_core_activity(cj.c_str(), c.what));
      case Call::storage: return take(dbdesk_core_storage(cj.c_str(), c.database, c.what, c.arg));
      case Call::admin: break;
    }
    return take(dbdesk_core_admin(cj.c_str(), c.what, c.database, c.arg));
  }
};

TEST_F(Admin, EveryViewSendsItsStatementInItsDatabase) {
  server.add_database("demo");
  const std::string demo = R"("database":"demo")";
  struct Case {
    Call call;
    std::string database;
    std::string sql;
  } cases[] = {
      {{Call::activity, "sessions"}, "[master]", statement("activity.sessions")},
      {{Call::activity, "blocking"}, "[master]", statement("activity.blocking")},
      {{Call::activity, "waits"}, "[master]", statement("activity.waits")},
      {{Call::activity, "expensive"}, "[master]", statement("activity.expensive")},
      {{Call::storage, "files", "demo"}, "[demo]",
       statement("storage.files", {"[demo]"})},
      {{Call::storage, "files"}, "[master]",
       statement("storage.files", {"[master]"})},
      {{Call::storage, "files", "", nullptr, demo}, "[demo]",
       statement("storage.files", {"[demo]"})},
      // Only the call's own database argument filters the history.
      {{Call::storage, "history", "demo"}, "[msdb]",
       statement("storage.history", history_filter("demo"))},
      {{Call::storage, "history", nullptr, nullptr, demo}, "[msdb]",
       statement("storage.history", kNoFilter)},
      {{Call::storage, "shrink", nullptr, "it's_log", demo}, "[demo]",
       statement("storage.shrink", {"it''s_log"})},
      {{Call::admin, "jobs", "demo"}, "[msdb]", statement("admin.jobs")},
      {{Call::admin, "logins", "demo"}, "[master]", statement("admin.logins")},
      {{Call::admin, "errorlog", "demo"}, "[master]", statement("admin.errorlog")},
      {{Call::admin, "db_users"}, "[master]", statement("admin.db_users", times(3, "[master]"))},
      {{Call::admin, "db_users", nullptr, nullptr, demo}, "[demo]",
       statement("admin.db_users", times(3, "[demo]"))},
      {{Call::admin, "querystore", "demo"}, "[demo]",
       statement("admin.querystore", times(4, "[demo]"))},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sql);
    server.clear_records();
    server.clear_handlers();
    server.on(c.sql, {one_int("n", 2)});
    Reply r = run(c.call);
    EXPECT_EQ(keys_of(r.doc), kRowsetKeys) << r.text;
    EXPECT_TRUE(r["ok"].GetBool()) << r.text;
    EXPECT_EQ(json(r["columns"]), R"([{"name":"n","type":"int","nullable":true}])");
    EXPECT_EQ(json(r["rows"]), "[[1],[2]]");
    EXPECT_EQ(r["row_count"].GetInt(), 2);
    EXPECT_TRUE(r["error"].IsNull());
    EXPECT_EQ(sent(), session_batches(c.database, {c.sql}));
  }
}

TEST_F(Admin, RowCountStopsAtTheViewsLimit) {
  struct Case {
    Call call;
    std::string sql;
    std::size_t rows;
    int limit;
  } cases[] = {
      {{Call::activity, "sessions"}, statement("activity.sessions"), 1500, 1000},
      {{Call::activity, "blocking"}, statement("activity.blocking"), 0, 0},
      {{Call::admin, "errorlog"}, statement("admin.errorlog"), 2500, 2000},
      {{Call::storage, "shrink", nullptr, "f"}, statement("storage.shrink", {"f"}), 600, 500},
  };
  for (const Case &c : cases) {
    server.on(c.sql, {one_int("n", c.rows)});
    Reply r = run(c.call);
    EXPECT_TRUE(r["ok"].GetBool()) << r.text;
    EXPECT_EQ(r["row_count"].GetInt(), c.limit);
    ASSERT_EQ(r["rows"].Size(), static_cast<unsigned>(c.limit));
    EXPECT_TRUE(!c.limit || r["rows"][c.limit - 1][0].GetInt() == c.limit);
  }
}

TEST_F(Admin, ServerFailuresOfAViewStayInsideItsReply) {
  tds::ResultSet cut = one_int("n", 3);
  cut.final_done = false;  // the error arrives after the column metadata and rows
  struct Case {
    tds::Reply reply;
    std::string error;
  } cases[] = {
      {{tds::BatchAbort{tds::error(297, "Permission denied.")}},
       "Permission denied. (msg 297, severity 16, state 1, line 1)"},
      {{cut, tds::BatchAbort{tds::error(8134, "Divide by zero error encountered.")}},
       "Divide by zero error encountered. (msg 8134, severity 16, state 1, line 1)"},
      {{tds::DoneNoCount{}}, "query failed"},
  };
  for (const Case &c : cases) {
    server.clear_handlers();
    server.on(statement("activity.waits"), c.reply);
    EXPECT_EQ(run({Call::activity, "waits"}).text,
              R"({"ok":false,"columns":[],"rows":[],"row_count":0,"error":")" + c.error + "\"}");
  }
}

TEST_F(Admin, RefusalsComeAsTheEnvelopeBeforeAnyLogin) {
  const std::string long_name(129, 'd');
  std::string wide;  // 65 characters, but 130 UTF-16 code units
  for (int i = 0; i < 65; ++i) wide += "\xF0\x9F\x98\x80";
  const char *const arg_help =
      R"(arg must be JSON: {"job_id":"...","action":"start|stop|enable|disable"})";
  struct Case {
    Call call;
    std::string error;
  } cases[] = {
      {{Call::activity, "Sessions"}, "unknown activity view: Sessions (sessions|waits|expensive|blocking)"},
      {{Call::storage, "Files"}, "unknown storage action: Files (files|shrink|backup|history)"},
      {{Call::admin, "JOBS"}, "unknown admin kind: JOBS (jobs|job_control|logins|db_users|errorlog|querystore)"},
      {{Call::storage, "shrink"}, "shrink requires arg = logical file name"},
      {{Call::storage, "shrink", nullptr, "a\tb"}, "invalid file name"},
      {{Call::storage, "backup", nullptr, ""}, "backup requires arg = destination file path"},
      {{Call::storage, "backup", nullptr, "/b\xC3.bak"}, "invalid path"},
      {{Call::storage, "backup", "bad\x01name", "/b.bak"}, "invalid database"},
      {{Call::storage, "files", "caf\xC3"}, "invalid database"},
      {{Call::storage, "history", "bad\x7fname"}, "invalid database"},
      {{Call::admin, "querystore", wide.c_str()}, "invalid database"},
      {{Call::admin, "db_users", long_name.c_str()}, "invalid database"},
      {{Call::admin, "job_control"}, "job_control requires arg JSON"},
      {{Call::admin, "job_control", nullptr, "{job_id:1}"}, arg_help},
      {{Call::admin, "job_control", nullptr, R"({"job_id":"a","action":"stop",})"}, arg_help},
      {{Call::admin, "job_control", nullptr, R"(["a","start"])"}, "job_id and action required"},
      {{Call::admin, "job_control", nullptr, R"({"job_id":"a"})"}, "job_id and action required"},
      {{Call::admin, "job_control", nullptr, R"({"job_id":7,"action":"start"})"}, "job_id and action required"},
      {{Call::admin, "job_control", nullptr, R"({"job_id":"a","action":"Start"})"}, "unknown job action: Start"},
      {{Call::admin, "job_control", nullptr, R"({"job_id":"nightly\u0000-prod","action":"start"})"},
       "invalid job id/action"},
      {{Call::admin, "job_control", nullptr, R"({"job_id":"\udc00","action":"start"})"}, arg_help},
  };
  for (const Case &c : cases) {
    Reply r = run(c.call);
    EXPECT_EQ(keys_of(r.doc), "ok,error") << r.text;
    EXPECT_EQ(r["error"].GetString(), c.error);
  }
  // The connection document is read first, whatever the operation.
  EXPECT_STREQ(take(dbdesk_core_activity("[", "nope"))["error"].GetString(),
               "conn_json is not valid JSON");
  EXPECT_STREQ(take(dbdesk_core_storage("[", nullptr, "nope", nullptr))["error"].GetString(),
               "conn_json is not valid JSON");
  EXPECT_TRUE(server.logins().empty());

  const std::string wrong = conn_as("sa", "wrong");
  EXPECT_EQ(keys_of(take(dbdesk_core_admin(wrong.c_str(), "logins", nullptr, nullptr)).doc), "ok,error");
}

TEST_F(Admin, ActionsReplyWithTheStatementTheyRan) {
  const std::string id = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
  // The first occurrence of a member counts; other members are ignored.
  auto job = [&](const char *action) {
    return R"({"action":")" + std::string(action) + R"(","job_id":")" + id + R"(","action":"stop","x":[1]})";
  };
  const std::string start = job("start"), stop = job("stop"), enable = job("enable"), disable = job("disable");
  const std::string backup = statement("storage.backup", {"[master]", "/var/o''neil.bak"});
  const std::string rowset = R"(,"columns":[],"rows":[])";
  const tds::Reply done = {tds::DoneNoCount{}};
  const tds::Reply refused = {tds::BatchAbort{tds::error(3201, "Cannot open backup device.")}};
  const std::string refusal = "\"Cannot open backup device. (msg 3201, severity 16, state 1, line 1)\"";
  struct Case {
    Call call;
    std::string database, sql;
    tds::Reply reply;
    const char *ok;
    std::string extra, error;
  } cases[] = {
      {{Call::storage, "backup", nullptr, "/var/o'neil.bak"}, "[master]", backup, done, "true", rowset, "null"},
      {{Call::storage, "backup", nullptr, "/var/o'neil.bak"}, "[master]", backup, refused, "false", rowset, refusal},
      {{Call::admin, "job_control", "demo", start.c_str()}, "[msdb]",
       statement("admin.job_start", {id}), done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, stop.c_str()}, "[msdb]",
       statement("admin.job_stop", {id}), done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, enable.c_str()}, "[msdb]",
       statement("admin.job_enable", {id}), done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, disable.c_str()}, "[msdb]",
       statement("admin.job_disable", {id}), done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, R"({"job_id":"x'y","action":"start"})"}, "[msdb]",
       statement("admin.job_start", {"x''y"}), refused, "false", "", refusal},
      // a connection lost during the statement is a failure, whatever its severity
      {{Call::admin, "job_control", nullptr, stop.c_str()}, "[msdb]",
       statement("admin.job_stop", {id}), {tds::DoneNoCount{}, tds::Drop{}}, "false", "",
       "\"Unexpected EOF from the server (dberr=20017, oserr=0: Success)\""},
  };
  for (const Case &c : cases) {
    server.clear_records();
    server.clear_handlers();
    server.on(c.sql, c.reply);
    EXPECT_EQ(run(c.call).text,
              std::string(R"({"ok":)") + c.ok + c.extra + R"(,"sql":")" + c.sql + R"(","error":)" + c.error + "}");
    EXPECT_EQ(sent(), session_batches(c.database, {c.sql}));
  }
}

// Backup and shrink send nothing until they finish: the statement time-out
// of the document (1 s here) must not end them.
TEST_F(Admin, BackupAndShrinkOutlastTheStatementTimeout) {
  const auto slow = std::chrono::milliseconds(1600);
  server.on(statement("storage.backup", {"[master]", "/b.bak"}),
            {tds::Delay{slow}, tds::DoneNoCount{}});
  server.on(statement("storage.shrink", {"f"}), {tds::Delay{slow}, one_int("n")});
  const std::string quick = R"("timeout_s":1)";
  EXPECT_TRUE(run({Call::storage, "backup", nullptr, "/b.bak", quick})["ok"].GetBool());
  EXPECT_TRUE(run({Call::storage, "shrink", nullptr, "f", quick})["ok"].GetBool());
}

// Names that are not regular identifiers, or that try to end the quoting,
// reach the server only as quoted identifiers and Unicode literals; the
// longest legal names fit whole.
TEST_F(Admin, DatabaseNamesReachTheServerOnlyQuoted) {
  const std::string quotes(128, '\'');
  std::string euros, smiles;  // 128 three-byte characters; 64 four-byte ones (128 code units)
  for (int i = 0; i < 128; ++i) euros += "\xE2\x82\xAC";
  for (int i = 0; i < 64; ++i) smiles += "\xF0\x9F\x98\x80";
  // literal: the inside of the name's N'...' literal.
  struct Name {
    std::string name, ident, literal;
  } names[] = {
      {"x'; DROP TABLE t; --", "[x'; DROP TABLE t; --]", "x''; DROP TABLE t; --"},
      {"a]b", "[a]]b]", "a]b"},
      {"my-app db", "[my-app db]", "my-app db"},
      {quotes, "[" + quotes + "]", quotes + quotes},
      {euros, "[" + euros + "]", euros},
      {smiles, "[" + smiles + "]", smiles},
  };
  for (const Name &n : names) {
    server.add_database(n.name);
    const char *db = n.name.c_str();
    struct Case {
      Call call;
      std::string database, sql;
    } cases[] = {
        {{Call::storage, "files", db}, n.ident,
         statement("storage.files", {n.ident})},
        {{Call::storage, "history", db}, "[msdb]",
         statement("storage.history", history_filter(n.literal))},
        {{Call::admin, "db_users", db}, n.ident, statement("admin.db_users", times(3, n.ident))},
        {{Call::admin, "querystore", db}, n.ident,
         statement("admin.querystore", times(4, n.ident))},
        {{Call::storage, "backup", db, "/b.bak"}, "[master]",
         statement("storage.backup", {n.ident, "/b.bak"})},
    };
    for (const Case &c : cases) {
      server.clear_records();
      server.clear_handlers();
      server.on(c.sql, {one_int("n")});
      run(c.call);
      EXPECT_EQ(sent(), session_batches(c.database, {c.sql})) << c.call.what << " " << n.name;
    }
  }
}

}  // namespace
