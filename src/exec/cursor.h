// One statement read through its first result set with columns: the reader
// every catalog and list view uses. It skips failed results and results
// without columns, finds columns by name, walks the rows, notices a dead
// connection, and treats a server error (severity above 10) that arrives
// during its statement as a failed read, even after the column metadata.
// Whatever was not read is drained (or cancelled) when the cursor goes out of
// scope, so the session is ready for the next command.
#pragma once

#include <cstddef>
#include <string>

#include <sybdb.h>

#include "exec/results.h"

class qv_reply;

class qv_cursor {
 public:
  explicit qv_cursor(DBPROCESS *session) : session_(session) {}
  ~qv_cursor();
  qv_cursor(const qv_cursor &) = delete;
  qv_cursor &operator=(const qv_cursor &) = delete;

  // Sends sql and moves to its first result set with columns. 1 when one is
  // open, 0 when the statement ran but returned no columns, -1 when it
  // failed (reason recorded: the server's refined text where it sent one).
  int open(const char *sql);

  // 1-based index of the column with exactly this name; 0 when absent.
  int col(const char *name) const;
  int ncols() const;
  // The described columns of the open result set (described once; nullable
  // from db-lib when ask_nullable). Null when memory ran out.
  const qv_columns *columns(bool ask_nullable = false);

  // 1 when a row is current, 0 when the rows ended, -1 when the read failed:
  // the session died or a server error arrived during the statement.
  int next();
  // Text of a cell of the current row (qv_cell's contract).
  int cell(int column, char *buf, std::size_t bufsize, int *is_null) const;
  // The same as a string of at most max_bytes bytes (cut on a character
  // boundary); empty for column 0 (absent), NULL and a failed conversion.
  std::string text(int column, std::size_t max_bytes) const;

  // Streams the open result set into out as a JSON array of typed rows: up
  // to limit rows, the rest read and dropped; then ends the statement.
  // Returns the rows written, or -1 when the read failed (out then holds a
  // partial array and is to be discarded).
  int write_rows(qv_reply &out, int limit);

  // Ends the statement: drops what is left of its results. 0, or -1 when the
  // read failed after all (an error arrived in the remaining results, or the
  // session died); the reason is recorded.
  int finish();

  DBPROCESS *session() const { return session_; }

 private:
  // Fails the read when a server error came during the statement.
  bool errors_arrived() const;
  int fail();

  DBPROCESS *session_;
  qv_columns cols_;
  bool described_ = false;
  bool open_ = false;      // a result set is open and its rows may be unread
  bool finished_ = true;   // nothing of the statement is left to read
  int errors_at_send_ = 0;
  int msgs_at_send_ = 0;
};
