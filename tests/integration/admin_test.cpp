// Activity monitor, storage and server administration against the test
// server: the exact statements, the database each runs in, row limits, the
// two kinds of failure, and database names that reach the server only quoted.
#include "support.h"

#include <functional>
#include <initializer_list>

namespace {

using qvtest::json;
using qvtest::keys_of;
using qvtest::Reply;
using qvtest::ServerTest;
using qvtest::take;

constexpr char kRowsetKeys[] = "ok,columns,rows,row_count,error";

// Statement templates; %s marks where a quoted name or a literal goes.
const char *const kSessions =
    "SELECT s.session_id AS spid, DB_NAME(r.database_id) AS database_name, s.login_name, s.host_name, s.program_name, s.status AS session_status, r.status AS request_status, r.command, r.cpu_time, r.total_elapsed_time, r.blocking_session_id, r.wait_type, r.wait_time, SUBSTRING(st.text, (r.statement_start_offset/2)+1,  ((CASE r.statement_end_offset WHEN -1 THEN DATALENGTH(st.text)  ELSE r.statement_end_offset END - r.statement_start_offset)/2)+1) AS statement FROM sys.dm_exec_sessions s LEFT JOIN sys.dm_exec_requests r ON r.session_id = s.session_id OUTER APPLY sys.dm_exec_sql_text(r.sql_handle) st WHERE s.is_user_process = 1 ORDER BY s.session_id";
const char *const kBlocking =
    "SELECT r.session_id AS spid, r.blocking_session_id AS blocked_by, DB_NAME(r.database_id) AS database_name, r.wait_type, r.wait_time, r.command, s.login_name, s.host_name, SUBSTRING(st.text, (r.statement_start_offset/2)+1,  ((CASE r.statement_end_offset WHEN -1 THEN DATALENGTH(st.text)  ELSE r.statement_end_offset END - r.statement_start_offset)/2)+1) AS statement FROM sys.dm_exec_requests r JOIN sys.dm_exec_sessions s ON s.session_id = r.session_id CROSS APPLY sys.dm_exec_sql_text(r.sql_handle) st WHERE r.blocking_session_id <> 0 ORDER BY r.blocking_session_id, r.session_id";
const char *const kWaits =
    "SELECT TOP (100) wait_type, waiting_tasks_count, wait_time_ms, max_wait_time_ms, signal_wait_time_ms FROM sys.dm_os_wait_stats WHERE wait_type NOT LIKE 'SESSION%' AND wait_type NOT LIKE 'SLEEP%' ORDER BY wait_time_ms DESC";
const char *const kExpensive =
    "SELECT TOP (100) DB_NAME(st.dbid) AS database_name, SUBSTRING(st.text, 1, 4000) AS query_text, qs.total_elapsed_time, qs.total_worker_time, qs.execution_count, qs.total_elapsed_time / NULLIF(qs.execution_count,0) AS avg_elapsed_time FROM sys.dm_exec_query_stats qs CROSS APPLY sys.dm_exec_sql_text(qs.sql_handle) st ORDER BY qs.total_elapsed_time DESC";
const char *const kFiles =
    "SELECT f.name AS logical_name, CAST(FILEPROPERTY(f.name, 'SpaceUsed') AS bigint) AS used_pages, f.size AS size_pages, CASE WHEN f.size > FILEPROPERTY(f.name,'SpaceUsed')  THEN f.size - FILEPROPERTY(f.name,'SpaceUsed') ELSE 0 END AS free_pages, CASE WHEN f.size > FILEPROPERTY(f.name,'SpaceUsed')  THEN (f.size - FILEPROPERTY(f.name,'SpaceUsed')) * 8 / 1024 ELSE 0 END AS free_mb, f.type_desc AS file_type, mf.physical_name FROM %s.sys.database_files f JOIN %s.sys.master_files mf ON mf.database_id = DB_ID(%s) AND mf.file_id = f.file_id ORDER BY f.file_id";
const char *const kHistory =
    "SELECT TOP (200) bs.database_name, bs.type AS backup_type, bs.backup_start_date, bs.backup_finish_date, bs.compressed_backup_size, bs.media_set_id, bmf.physical_device_name FROM msdb.dbo.backupset bs JOIN msdb.dbo.backupmediafamily bmf ON bmf.media_set_id = bs.media_set_id %sORDER BY bs.backup_start_date DESC";
const char *const kJobs =
    "SELECT j.job_id, j.name, j.enabled, j.description, j.date_created, CASE WHEN s.job_id IS NULL THEN 4 ELSE 1 END AS current_execution_status FROM msdb.dbo.sysjobs j LEFT JOIN msdb.dbo.sysjobactivity s ON s.job_id = j.job_id AND s.session_id = (SELECT MAX(session_id) FROM msdb.dbo.sysjobactivity) AND s.start_execution_date IS NOT NULL AND s.stop_execution_date IS NULL ORDER BY j.name";
const char *const kLogins =
    "SELECT sp.name, sp.type_desc, sp.is_disabled, sp.create_date, sp.default_database_name, dl.name AS default_server_role FROM sys.server_principals sp LEFT JOIN sys.server_role_members rm ON rm.member_principal_id = sp.principal_id LEFT JOIN sys.server_principals dl ON dl.principal_id = rm.role_principal_id WHERE sp.type IN ('S','U','G') ORDER BY sp.name";
const char *const kErrorLog = "EXEC master.sys.xp_readerrorlog 0, 1, N'', N'', NULL, NULL, N'desc'";
const char *const kDbUsers =
    "SELECT dp.name, dp.type_desc, dp.authentication_type_desc, ISNULL(STRING_AGG(rp.name, ', ') WITHIN GROUP (ORDER BY rp.name), '') AS roles FROM %s.sys.database_principals dp LEFT JOIN %s.sys.database_role_members rm ON rm.member_principal_id = dp.principal_id LEFT JOIN %s.sys.database_principals rp ON rp.principal_id = rm.role_principal_id WHERE dp.type IN ('S','U','G') GROUP BY dp.name, dp.type_desc, dp.authentication_type_desc ORDER BY dp.name";
const char *const kQueryStore =
    "SELECT TOP (100) q.query_id, p.plan_id, SUBSTRING(qt.query_sql_text, 1, 4000) AS query_sql_text, rs.count_executions, rs.avg_duration, rs.avg_cpu_time, rs.avg_logical_io_reads FROM %s.sys.query_store_runtime_stats rs JOIN %s.sys.query_store_plan p ON p.plan_id = rs.plan_id JOIN %s.sys.query_store_query q ON q.query_id = p.query_id JOIN %s.sys.query_store_query_text qt ON qt.query_text_id = q.query_text_id ORDER BY rs.avg_duration DESC";
const char *const kBackup = "BACKUP DATABASE %s TO DISK = N'%s' WITH INIT, COMPRESSION, STATS = 10";

// tmpl with each %s replaced by the next piece, in order; spare pieces are unused.
std::string fill(const char *tmpl, std::initializer_list<std::string> pieces) {
  std::string out = tmpl;
  std::size_t at = 0;
  for (const std::string &p : pieces) {
    at = out.find("%s", at);
    if (at == std::string::npos) break;
    out.replace(at, 2, p);
    at += p.size();
  }
  return out;
}
std::string fill_all(const char *tmpl, const std::string &piece) {
  return fill(tmpl, {piece, piece, piece, piece});
}
std::string history_filter(const std::string &literal) {
  return "WHERE bs.database_name = " + literal;
}

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
  std::vector<std::string> expect_sent(const std::string &database, const std::string &sql) {
    return {"SET TEXTSIZE 4194304", "use " + database, sql};
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
      {{Call::activity, "sessions"}, "[master]", kSessions},
      {{Call::activity, "blocking"}, "[master]", kBlocking},
      {{Call::activity, "waits"}, "[master]", kWaits},
      {{Call::activity, "expensive"}, "[master]", kExpensive},
      {{Call::storage, "files", "demo"}, "[demo]", fill(kFiles, {"[demo]", "[demo]", "N'demo'"})},
      {{Call::storage, "files"}, "[master]", fill(kFiles, {"[master]", "[master]", "N'master'"})},
      {{Call::storage, "files", "", nullptr, demo}, "[demo]",
       fill(kFiles, {"[demo]", "[demo]", "N'demo'"})},
      // Only the call's own database argument filters the history.
      {{Call::storage, "history", "demo"}, "[msdb]", fill(kHistory, {history_filter("N'demo'")})},
      {{Call::storage, "history", nullptr, nullptr, demo}, "[msdb]", fill(kHistory, {""})},
      {{Call::storage, "shrink", nullptr, "it's_log", demo}, "[demo]",
       "DBCC SHRINKFILE(N'it''s_log', 0) WITH NO_INFOMSGS"},
      {{Call::admin, "jobs", "demo"}, "[msdb]", kJobs},
      {{Call::admin, "logins", "demo"}, "[master]", kLogins},
      {{Call::admin, "errorlog", "demo"}, "[master]", kErrorLog},
      {{Call::admin, "db_users"}, "[master]", fill_all(kDbUsers, "[master]")},
      {{Call::admin, "db_users", nullptr, nullptr, demo}, "[demo]", fill_all(kDbUsers, "[demo]")},
      {{Call::admin, "querystore", "demo"}, "[demo]", fill_all(kQueryStore, "[demo]")},
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
    EXPECT_EQ(sent(), expect_sent(c.database, c.sql));
  }
}

TEST_F(Admin, RowCountStopsAtTheViewsLimit) {
  struct Case {
    Call call;
    const char *sql;
    std::size_t rows;
    int limit;
  } cases[] = {
      {{Call::activity, "sessions"}, kSessions, 1500, 1000},
      {{Call::activity, "blocking"}, kBlocking, 0, 0},
      {{Call::admin, "errorlog"}, kErrorLog, 2500, 2000},
      {{Call::storage, "shrink", nullptr, "f"}, "DBCC SHRINKFILE(N'f', 0) WITH NO_INFOMSGS", 600, 500},
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
    server.on(kWaits, c.reply);
    EXPECT_EQ(run({Call::activity, "waits"}).text,
              R"({"ok":false,"columns":[],"rows":[],"row_count":0,"error":")" + c.error + "\"}");
  }
}

TEST_F(Admin, RefusalsComeAsTheEnvelopeBeforeAnyLogin) {
  const std::string long_path(1024, 'p'), long_name(129, 'd');
  std::string wide;  // 65 characters, but 130 UTF-16 code units
  for (int i = 0; i < 65; ++i) wide += "\xF0\x9F\x98\x80";
  const std::string long_id = R"({"job_id":")" + std::string(128, 'j') + R"(","action":"start"})";
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
      {{Call::storage, "backup", nullptr, long_path.c_str()}, "invalid path"},
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
      {{Call::admin, "job_control", nullptr, long_id.c_str()}, "invalid job id/action"},
  };
  for (const Case &c : cases) {
    Reply r = run(c.call);
    EXPECT_EQ(keys_of(r.doc), "ok,error") << r.text;
    EXPECT_EQ(r["error"].GetString(), c.error);
  }
  // The view is looked at before the connection document, the action after it.
  EXPECT_STREQ(take(dbdesk_core_activity("[", "nope"))["error"].GetString(),
               "unknown activity view: nope (sessions|waits|expensive|blocking)");
  EXPECT_STREQ(take(dbdesk_core_storage("[", nullptr, "nope", nullptr))["error"].GetString(),
               "conn_json is not valid JSON");
  EXPECT_TRUE(server.logins().empty());

  const std::string wrong = R"({"host":"127.0.0.1","user":"sa","password":"wrong","port":)" +
                            std::to_string(server.port()) + "}";
  EXPECT_EQ(keys_of(take(dbdesk_core_admin(wrong.c_str(), "logins", nullptr, nullptr)).doc), "ok,error");
}

TEST_F(Admin, ActionsReplyWithTheStatementTheyRan) {
  const std::string id = "6F9619FF-8B86-D011-B42D-00C04FC964FF", lit = "N'" + id + "'";
  // The first occurrence of a member counts; other members are ignored.
  auto job = [&](const char *action) {
    return R"({"action":")" + std::string(action) + R"(","job_id":")" + id + R"(","action":"stop","x":[1]})";
  };
  const std::string start = job("start"), stop = job("stop"), enable = job("enable"), disable = job("disable");
  const std::string backup = fill(kBackup, {"[master]", "/var/o''neil.bak"});
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
       "EXEC msdb.dbo.sp_start_job @job_id = " + lit, done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, stop.c_str()}, "[msdb]",
       "EXEC msdb.dbo.sp_stop_job @job_id = " + lit, done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, enable.c_str()}, "[msdb]",
       "EXEC msdb.dbo.sp_update_job @job_id = " + lit + ", @enabled = 1", done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, disable.c_str()}, "[msdb]",
       "EXEC msdb.dbo.sp_update_job @job_id = " + lit + ", @enabled = 0", done, "true", "", "null"},
      {{Call::admin, "job_control", nullptr, R"({"job_id":"x'y","action":"start"})"}, "[msdb]",
       "EXEC msdb.dbo.sp_start_job @job_id = N'x''y'", refused, "false", "", refusal},
  };
  for (const Case &c : cases) {
    server.clear_records();
    server.clear_handlers();
    server.on(c.sql, c.reply);
    EXPECT_EQ(run(c.call).text,
              std::string(R"({"ok":)") + c.ok + c.extra + R"(,"sql":")" + c.sql + R"(","error":)" + c.error + "}");
    EXPECT_EQ(sent(), expect_sent(c.database, c.sql));
  }
}

// Backup and shrink send nothing until they finish: the statement time-out
// of the document (1 s here) must not end them.
TEST_F(Admin, BackupAndShrinkOutlastTheStatementTimeout) {
  const auto slow = std::chrono::milliseconds(1600);
  server.on(fill(kBackup, {"[master]", "/b.bak"}), {tds::Delay{slow}, tds::DoneNoCount{}});
  server.on("DBCC SHRINKFILE(N'f', 0) WITH NO_INFOMSGS", {tds::Delay{slow}, one_int("n")});
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
  struct Name {
    std::string name, ident, literal;
  } names[] = {
      {"x'; DROP TABLE t; --", "[x'; DROP TABLE t; --]", "N'x''; DROP TABLE t; --'"},
      {"a]b", "[a]]b]", "N'a]b'"},
      {"my-app db", "[my-app db]", "N'my-app db'"},
      {quotes, "[" + quotes + "]", "N'" + quotes + quotes + "'"},
      {euros, "[" + euros + "]", "N'" + euros + "'"},
      {smiles, "[" + smiles + "]", "N'" + smiles + "'"},
  };
  for (const Name &n : names) {
    server.add_database(n.name);
    const char *db = n.name.c_str();
    struct Case {
      Call call;
      std::string database, sql;
    } cases[] = {
        {{Call::storage, "files", db}, n.ident, fill(kFiles, {n.ident, n.ident, n.literal})},
        {{Call::storage, "history", db}, "[msdb]", fill(kHistory, {history_filter(n.literal)})},
        {{Call::admin, "db_users", db}, n.ident, fill_all(kDbUsers, n.ident)},
        {{Call::admin, "querystore", db}, n.ident, fill_all(kQueryStore, n.ident)},
        {{Call::storage, "backup", db, "/b.bak"}, "[master]", fill(kBackup, {n.ident, "/b.bak"})},
    };
    for (const Case &c : cases) {
      server.clear_records();
      server.clear_handlers();
      server.on(c.sql, {one_int("n")});
      run(c.call);
      EXPECT_EQ(sent(), expect_sent(c.database, c.sql)) << c.call.what << " " << n.name;
    }
  }
}

}  // namespace
