// One statement read through its results: the one reader every operation
// uses. It skips failed results and results without columns, finds columns
// by name, walks and renders the rows, notices a dead connection and a
// cancelled call, and decides whether the statement failed. Whatever was not
// read is drained (or cancelled) when the cursor goes out of scope, so the
// session is ready for the next command. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <string>

#include <sybdb.h>

#include "common/capture.h"
#include "exec/results.h"

namespace qv::common {
class qv_reply;
}

namespace qv::exec {

class qv_cursor {
 public:
  // What a server error (above severity 10) during the statement means.
  enum class errors {
    fail,   // the read failed: catalog reads, list views, single statements
    go_on,  // it is left to the messages and reading goes on: a script's batch
  };

  explicit qv_cursor(DBPROCESS *session, errors mode = errors::fail)
      : session_(session), mode_(mode) {}
  ~qv_cursor();
  qv_cursor(const qv_cursor &) = delete;
  qv_cursor &operator=(const qv_cursor &) = delete;

  // Has every row count the statement reports without a result set told to
  // observer as the cursor passes it (set before open).
  void observe_counts(const qv_count_observer &observer) { counts_ = observer; }

  // Sends sql and moves to its first result set with columns. 1 when one is
  // open, 0 when the statement ran but returned no columns, -1 when it
  // failed (reason recorded: the server's refined text where it sent one).
  int open(const char *sql);
  // Leaves the current result set (its unread rows dropped) for the next
  // one with columns: 1, 0 when the results ended, -1 when the read failed.
  int next_result();

  // 1-based index of the column with exactly this name; 0 when absent.
  int col(const char *name) const;
  int ncols() const;
  // The described columns of the open result set (described once; nullable
  // from db-lib when ask_nullable). Null when memory ran out.
  const qv_columns *columns(bool ask_nullable = false);

  // 1 when a row is current, 0 when the rows ended, -1 when the read failed:
  // the session died, the call was cancelled, or (errors::fail) a server
  // error arrived during the statement.
  int next();
  // Text of a cell of the current row (qv_cell's contract).
  int cell(int column, char *buf, std::size_t bufsize, int *is_null) const;
  // The same as a string of at most max_bytes bytes (cut on a character
  // boundary); empty for column 0 (absent), NULL and a failed conversion.
  std::string text(int column, std::size_t max_bytes) const;
  // True when the cell of the current row is NULL (or the column absent).
  bool is_null(int column) const;

  struct rows_written {
    int count = 0;           // rows rendered
    bool truncated = false;  // more rows than the limit came; they were read and dropped
    bool failed = false;     // the read failed (the array written is not an answer)
  };
  // Streams the rows of the open result set into out as one JSON array of
  // typed rows: up to limit rows, the rest read and dropped unconverted.
  rows_written write_rows(qv_reply &out, int limit);

  // Ends the statement: drops what is left of its results. 0, or -1 when the
  // statement failed after all (a server error came in the remaining
  // results, the session died, the call was cancelled); reason recorded.
  int finish();

  DBPROCESS *session() const { return session_; }

 private:
  // A server error came during the statement and this cursor fails on it.
  bool errors_arrived() const;
  int fail();

  DBPROCESS *session_;
  errors mode_;
  qv_columns cols_;
  qv_failure_scope scope_;
  qv_count_observer counts_;
  bool described_ = false;
  bool open_ = false;      // a result set is open and its rows may be unread
  bool finished_ = true;   // nothing of the statement is left to read
};

// Runs sql for its outcome, reading and dropping any rows: 0, or -1 with the
// reason recorded when the statement failed (a server error above severity
// 10 during it, a lost or timed-out connection, a cancelled call). rows,
// when given, receives the count the statement reported (db-lib's dbcount).
int qv_run_statement(DBPROCESS *session, const char *sql, long long *rows = nullptr);

// The first column of the first row of sql as text of at most max_bytes
// bytes: 1 with a row, 0 without one (out empty), -1 when the read failed
// (reason recorded).
int qv_read_scalar(DBPROCESS *session, const char *sql, std::size_t max_bytes, std::string *out);

}  // namespace qv::exec
