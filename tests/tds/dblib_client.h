// Shared test plumbing: a real FreeTDS db-lib client against tds::Server.
//
// db-lib's error and message handlers are process-wide, so every event lands
// in one recorder; tests in this binary run sequentially.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

// GoogleTest's SUCCEED() and FAIL() macros would hide db-lib's return codes
// of the same names; db-lib's win (use GTEST_SUCCEED / GTEST_FAIL).
#include <gtest/gtest.h>
#undef SUCCEED
#undef FAIL
#include <sybdb.h>

#include "tds_server/server.h"

namespace tdstest {

struct Event {
  enum Kind { Msg, Err } kind = Msg;
  int number = 0;
  int severity = 0;
  int state = 0;
  int line = 0;
  std::string text;
  std::string server;
  int oserr = 0;
};

// Records db-lib callbacks. The error handler answers `err_reply` (INT_CANCEL
// unless a test changes it).
class Events {
 public:
  static Events &get();
  void clear();
  std::vector<Event> all() const;
  // "MSG 5701", "ERR 20018", ... in arrival order.
  std::vector<std::string> codes() const;
  void add(Event e);
  int err_reply = INT_CANCEL;

 private:
  mutable std::mutex mu_;
  std::vector<Event> events_;
};

void init_dblib();  // once per process; installs the recorders

struct LoginOptions {
  std::string user = "sa";
  std::string password = "secret";
  std::string app = "qvtest";
  std::string host = "qvhost";
  std::optional<std::string> database = std::nullopt;
  int login_timeout_s = 5;
};

// Logs in to 127.0.0.1:port; NULL on failure.
DBPROCESS *open(std::uint16_t port, const LoginOptions &options = {});

using Codes = std::vector<std::string>;

using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

// A cell as text: character data as its UTF-8 bytes, other types through
// dbconvert(..., SYBCHAR).
Cell cell_text(DBPROCESS *dbproc, int column);
// Runs the rest of the current result set's rows.
Rows fetch_rows(DBPROCESS *dbproc);
// dbcmd + dbsqlexec + dbresults, for a batch with exactly one result set.
Rows query(DBPROCESS *dbproc, const std::string &sql);

// Starts a server with db-lib ready and the event log cleared.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  DBPROCESS *connect(const LoginOptions &options = {});

  tds::Server server;
  std::vector<DBPROCESS *> opened;
};

}  // namespace tdstest
