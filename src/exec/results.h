// Reading results from an open session: the readers that keep one result
// set (or one value), and the pieces the batch runner shares with them.
#pragma once

#include <cstdint>
#include <memory>

#include <sybdb.h>

#include "exec/cell.h"

class qv_reply;

constexpr int kDefaultMaxRows = 1000;
// A session that keeps failing without dying is given up after this many
// consecutive failed dbresults calls (each failed statement of a batch
// accounts for one).
constexpr int kMaxConsecutiveResultFailures = 1 << 20;

// Moves to the next result that has columns: 1 when there is one, 0 when the
// results ended, -1 when the session died (or kept failing).
int qv_next_result_with_columns(DBPROCESS *session);
// Reads and drops whatever rows and results remain, so the session is ready for the
// next command.
void qv_finish_results(DBPROCESS *session);

// The columns of the current result set.
struct qv_columns {
  struct freer {
    void operator()(qv_col *p) const;
  };
  std::unique_ptr<qv_col, freer> cols;
  int count = 0;
};
// Describes the current result set's columns; -1 (with "out of memory"
// recorded) when the array cannot be allocated.
int qv_load_columns(DBPROCESS *session, bool ask_nullable, qv_columns *out);

// The malloc'd cell buffer every reader renders through; data is null (and
// "out of memory" recorded) when it cannot be allocated.
struct qv_cell_buffer {
  qv_cell_buffer();
  ~qv_cell_buffer();
  qv_cell_buffer(const qv_cell_buffer &) = delete;
  qv_cell_buffer &operator=(const qv_cell_buffer &) = delete;
  char *data = nullptr;
};

struct qv_row_stats {
  int count = 0;           // rows rendered
  bool truncated = false;  // more rows than the limit came and were dropped
  bool dead = false;       // the session died while rows were read
  bool cancelled = false;  // the caller stopped the call; the rest was cancelled
  bool failed() const { return dead || cancelled; }
};
// When the calling thread's call was cancelled: tells the server to stop
// sending the current results (ATTENTION), records the reason, returns true.
bool qv_cancel_results_if_asked(DBPROCESS *session);
// Writes "columns": [...] for cols.
void qv_write_columns(qv_reply &w, const qv_columns &cols);
// Writes "rows": [...] (when w is given) streaming the current result set:
// up to limit rows as arrays, the rest fetched and dropped unconverted.
qv_row_stats qv_write_rows(DBPROCESS *session, const qv_columns &cols, int limit, qv_reply *w,
                           char *buf);

int qv_select_to_json(DBPROCESS *session, const char *sql, int max_rows, qv_reply *w,
                      int *row_count);
int qv_select_rows_only(DBPROCESS *session, const char *sql, int max_rows, qv_reply *w,
                        int *row_count);
int qv_scalar(DBPROCESS *session, const char *sql, char *buf, std::size_t bufsize);
int qv_exec_simple(DBPROCESS *session, const char *sql);
