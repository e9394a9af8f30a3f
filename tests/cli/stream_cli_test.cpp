// dbdesk query on the streamed query: every format writes rows as they
// arrive, messages and counts go to standard error, the exit status says
// whether a statement failed, and a failed write is never a success.
#include <signal.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "dbdesk_fixture.h"

namespace {

using namespace std::chrono_literals;
using qvtest::cli_result;
using qvtest::run_cli;
using tds::Type;

using qvtest::args_t;

tds::ResultSet one_column(const char *name, Type type, std::vector<std::string> cells) {
  tds::ResultSet rs;
  rs.columns = {{name, type, type == Type::NVarChar ? 40 : 0, 0, 0, true}};
  for (auto &c : cells) rs.rows.push_back({c});
  return rs;
}

tds::ResultSet counting(const char *name, std::size_t n) {
  tds::ResultSet rs;
  rs.columns = {{name, Type::Int, 0, 0, 0, false}};
  rs.generated_rows = n;
  rs.generate = [](std::size_t i, tds::Row &row) { row[0] = std::to_string(i); };
  return rs;
}

class DbdeskQuery : public qvtest::DbdeskTest {
 protected:
  // A two-batch script: a result set, a PRINT, an UPDATE's count; then a
  // batch whose one row count is 1.
  void two_batches() {
    server.on("SELECT v FROM t", {one_column("v", Type::NVarChar, {"a,b", "c"}), tds::print("half way"),
                                  tds::RowCount{3}});
    server.on("DELETE t", {tds::RowCount{1}});
  }
};

TEST_F(DbdeskQuery, EveryFormatWritesDataOnlyAndMessagesOnStandardError) {
  two_batches();
  struct Case {
    const char *format;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"csv", "v\r\n\"a,b\"\r\nc\r\n"},
      {"table", "v\n---\na,b\nc\n(2 rows)\n\n"},
      {"json",
       R"x({"batches":[{"batch":1,"results":[{"columns":[{"name":"v","type":"nvarchar(40)","nullable":true}],)x"
       R"x("rows":[["a,b"],["c"]],"truncated":false}],"messages":[{"type":"print","rows_affected":0,"line":1,)x"
       R"x("number":0,"severity":0,"state":1,"text":"half way"}]},{"batch":2,"results":[],"messages":[]}],"ok":true,)x"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.format);
    cli_result r = dbdesk({"query", "--format", c.format, "SELECT v FROM t\nGO\nDELETE t"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(r.err, "print: half way\n(3 rows affected)\n(1 row affected)\n");
  }
}

// The json form is one document in the query reply's shape whatever
// happens: a limit cutting rows, an error in the middle of a result set.
TEST_F(DbdeskQuery, JsonIsOneWellFormedDocument) {
  server.on("SELECT n", {counting("n", 5)});
  tds::ResultSet cut = one_column("q", Type::Int, {"1", "2"});
  cut.final_done = false;
  server.on("SELECT 1/0", {cut, tds::StatementError{tds::error(8134, "Divide by zero error encountered.")}});
  struct Case {
    args_t args;
    int status;
    std::size_t rows;
    bool truncated;
  };
  const std::vector<Case> cases = {
      {{"query", "--max-rows", "2", "SELECT n"}, 0, 2, true},
      {{"query", "--pretty", "SELECT n\nGO\nSELECT n"}, 0, 5, false},
      {{"query", "SELECT 1/0"}, 1, 2, false},
      {{"query", "--pretty", "SELECT 1/0\nGO\nSELECT n"}, 1, 2, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.back());
    cli_result r = dbdesk(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    rapidjson::Document d;
    d.Parse<rapidjson::kParseNumbersAsStringsFlag>(r.out.c_str());
    ASSERT_FALSE(d.HasParseError()) << r.out;
    EXPECT_EQ(keys_of(d), "batches,ok,spid,elapsed_ms,error");
    const auto &first = d["batches"][0]["results"][0];
    EXPECT_EQ(first["rows"].Size(), c.rows);
    EXPECT_EQ(first["truncated"].GetBool(), c.truncated);
    // The exit status follows the error message even where the library's
    // summary still says ok (an error after a result set's rows).
    if (c.status == 0) {
      EXPECT_TRUE(d["ok"].GetBool());
    } else {
      EXPECT_STREQ(d["batches"][0]["messages"][0]["text"].GetString(), "Divide by zero error encountered.");
    }
  }
}

TEST_F(DbdeskQuery, JsonLinesCarryEveryEventThenTheSummary) {
  two_batches();
  cli_result r = dbdesk({"query", "--format", "jsonl", "SELECT v FROM t\nGO\nDELETE t"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> kinds;
  for (std::size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1) {
    rapidjson::Document d;
    d.Parse(r.out.substr(at, nl - at).c_str());
    ASSERT_FALSE(d.HasParseError()) << r.out;
    kinds.push_back(d.HasMember("event") ? d["event"].GetString() : d["ok"].GetBool() ? "ok" : "failed");
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"batch", "columns", "rows", "result_end", "message", "count",
                                             "batch_end", "batch", "count", "batch_end", "ok"}));
}

TEST_F(DbdeskQuery, ExitStatusAndStopOnError) {
  server.on("SELECT v FROM t", {one_column("v", Type::Int, {"1"})});
  server.on("BAD", {tds::BatchAbort{tds::error(208, "Invalid object name 'nope'.")}});
  server.on("WARN", {tds::error(50000, "only a warning", 10), tds::DoneNoCount{}});
  server.on("later", {tds::DoneNoCount{}});
  struct Case {
    args_t args;
    int status;
    bool later_sent;
  };
  const std::vector<Case> cases = {
      {{"query", "--format", "csv", "SELECT v FROM t\nGO\nlater"}, 0, true},
      {{"query", "--format", "csv", "WARN\nGO\nlater"}, 0, true},  // severity 10 is not an error
      {{"query", "--format", "csv", "BAD\nGO\nlater"}, 1, true},
      {{"query", "--format", "csv", "-b", "BAD\nGO\nlater"}, 1, false},
      {{"query", "--format", "table", "--stop-on-error", "SELECT v FROM t\nGO\nBAD\nGO\nlater"}, 1, false},
      {{"query", "--format", "csv", "-b", "WARN\nGO\nlater"}, 0, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.back() + (c.args.size() > 4 ? " " + c.args[3] : ""));
    server.clear_records();
    cli_result r = dbdesk(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    bool later = false;
    for (const auto &s : sent()) later |= s == "later";
    EXPECT_EQ(later, c.later_sent);
    if (c.status == 1) {
      EXPECT_NE(r.err.find("error 208: Invalid object name 'nope'."), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.out.find("nope"), std::string::npos) << "stdout carries only data";
  }
}

TEST_F(DbdeskQuery, WriteErrorsAreFailures) {
  server.on("SELECT n", {counting("n", 5000)});
  for (const char *format : {"csv", "jsonl", "table", "json"}) {
    SCOPED_TRACE(format);
    cli_result r = dbdesk({"query", "--format", format, "-o", "/dev/full", "SELECT n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write /dev/full: No space left on device"), std::string::npos) << r.err;
  }
  cli_result r = dbdesk({"query", "--output", "/nonexistent/dir/out.csv", "SELECT n"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write /nonexistent/dir/out.csv"), std::string::npos) << r.err;
}

TEST_F(DbdeskQuery, OutputFileGetsTheRowsWithoutLimit) {
  server.on("SELECT n", {counting("n", 150000)});
  const std::string path = qvtest::temp_file("out.csv", "old content");
  cli_result r = dbdesk({"query", "--format", "csv", "--output", path, "SELECT n"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string csv = qvtest::file_text(path);
  std::size_t lines = 0;
  for (char c : csv) lines += c == '\n';
  EXPECT_EQ(lines, 150001u);
  EXPECT_EQ(csv.substr(csv.size() - 8), "149999\r\n");

  r = dbdesk({"query", "--format", "csv", "--max-rows", "3", "SELECT n"});
  EXPECT_EQ(r.out, "n\r\n0\r\n1\r\n2\r\n");
}

// Columns are sized by the names and the first chunk; a later, wider cell is
// cut to the column with "…". Wide and combining characters are measured in
// terminal columns.
TEST_F(DbdeskQuery, TableColumnsMeasureTerminalColumns) {
  tds::ResultSet wide;
  wide.columns = {{"name", Type::NVarChar, 40, 0, 0, true}, {"n", Type::Int, 0, 0, 0, true}};
  wide.rows = {{"\xE6\x9D\xB1\xE4\xBA\xAC", "1"},          // two CJK characters: 4 columns
               {"e\xCC\x81t\xCC\x81", "2"},                // e and t with combining acute: 2 columns
               {"abcde", "3"}};
  server.on("SELECT wide", {wide});
  cli_result r = dbdesk({"query", "--format", "table", "SELECT wide"});
  EXPECT_EQ(r.out,
            "name  | n\n"
            "------+--\n"
            "\xE6\x9D\xB1\xE4\xBA\xAC  | 1\n"
            "e\xCC\x81t\xCC\x81    | 2\n"
            "abcde | 3\n"
            "(3 rows)\n\n");

  tds::ResultSet later;
  later.columns = {{"val", Type::NVarChar, 40, 0, 0, false}};
  later.generated_rows = 1001;
  later.generate = [](std::size_t i, tds::Row &row) { row[0] = i < 1000 ? "ab" : "\xE6\x9D\xB1wxyz"; };
  server.on("SELECT later", {later});
  r = dbdesk({"query", "--format", "table", "SELECT later"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 11), "val\n---\nab\n");
  EXPECT_NE(r.out.find("\nab\n\xE6\x9D\xB1\xE2\x80\xA6\n(1001 rows)\n"), std::string::npos)
      << r.out.substr(r.out.size() - 40);
}

// The rows and the PRINT before a pause in the batch reach a pipe while
// dbdesk is still running.
TEST_F(DbdeskQuery, RowsReachAPipeWhileTheQueryRuns) {
  server.on("slow", {one_column("v", Type::Int, {"7"}), tds::print("10 percent processed."),
                     tds::Delay{3000ms}, one_column("w", Type::Int, {"8"})});
  qvtest::cli_process p(with_server({"query", "--format", "csv", "slow"}), {{"DBDESK_PASSWORD", "secret"}});
  ASSERT_TRUE(p.read_until("7\r\n", "10 percent processed.")) << p.out << p.err;
  EXPECT_TRUE(p.running()) << "dbdesk had already ended";
  EXPECT_EQ(p.out, "v\r\n7\r\n");
  cli_result r = p.finish();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "v\r\n7\r\n\r\nw\r\n8\r\n");
}

// --query-timeout, or else --timeout, ends a statement the server keeps
// working on; 0 (the default) would wait for it.
TEST_F(DbdeskQuery, TimeOutsReachTheStreamedQuery) {
  server.on("stall", {tds::Delay{130s}, tds::DoneNoCount{}});
  for (const args_t &limit : {args_t{"--query-timeout", "1"}, args_t{"--timeout", "1"},
                              args_t{"--timeout", "60", "--query-timeout", "1"}}) {
    SCOPED_TRACE(limit.front());
    args_t args = {"query", "--format", "csv", "stall"};
    args.insert(args.end(), limit.begin(), limit.end());
    const auto start = std::chrono::steady_clock::now();
    cli_result r = dbdesk(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "the time-out did not reach the call";
    EXPECT_NE(r.err.find("error: "), std::string::npos) << r.err;
  }
}

// Ctrl-C stops the running statement through the library (the server is
// told), sends no later batch and exits with 130 once the call returned:
// while the server works on a statement and while rows flow.
TEST_F(DbdeskQuery, CtrlCCancelsTheRunningQueryAndExits130) {
  server.on("stall", {tds::Delay{130s}, tds::DoneNoCount{}});
  server.on("endless", {counting("n", 50000000)});
  server.on("later", {tds::DoneNoCount{}});
  struct Case {
    const char *sql;
    std::string first_output;  // what shows the statement is running
  };
  for (const Case &c : {Case{"stall\nGO\nlater", ""}, Case{"endless\nGO\nlater", "0\r\n1\r\n"}}) {
    SCOPED_TRACE(c.sql);
    server.clear_records();
    qvtest::cli_process p(with_server({"query", "--format", "csv", c.sql}), {{"DBDESK_PASSWORD", "secret"}});
    for (int i = 0; i < 200 && server.batches().empty(); ++i) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(p.read_until(c.first_output, "")) << p.err;
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(p.running());
    kill(p.pid(), SIGINT);
    cli_result r = p.finish();
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("cancelled by the caller"), std::string::npos) << r.err;
    EXPECT_GE(server.attentions(), 1);
    for (const auto &s : sent()) EXPECT_NE(s, "later");
  }
}

}  // namespace
