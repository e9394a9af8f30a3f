// The pieces of reading results that the cursor builds on: moving between
// results, draining them, describing a result set's columns and writing
// them, and the cell buffer rows are rendered through. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <memory>

#include <sybdb.h>

#include "exec/cell.h"

namespace qv::common {
class qv_reply;
}

namespace qv::exec {

constexpr int kDefaultMaxRows = 1000;
// A session that keeps failing without dying is given up after this many
// consecutive failed dbresults calls (each failed statement of a batch
// accounts for one).
constexpr int kMaxConsecutiveResultFailures = 1 << 20;

// Told the row count of each result without columns that reports one (an
// INSERT, UPDATE, DELETE or MERGE), as it is passed over.
struct qv_count_observer {
  void (*counted)(void *user, long long rows) = nullptr;
  void *user = nullptr;
};

// Moves to the next result that has columns: 1 when there is one, 0 when the
// results ended, -1 when the session died (or kept failing).
int qv_next_result_with_columns(DBPROCESS *session, const qv_count_observer *observer = nullptr);
// Reads and drops whatever rows and results remain, so the session is ready
// for the next command.
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
// Writes "columns": [...] for cols.
void qv_write_columns(qv_reply &w, const qv_columns &cols);
// Writes the column objects of cols as one JSON array.
void qv_write_column_array(qv_reply &w, const qv_columns &cols);

// The malloc'd cell buffer every reader renders through. Throws
// std::bad_alloc when it cannot be allocated: a reply already has the
// result's opening written by then, and only the envelope can replace it.
struct qv_cell_buffer {
  qv_cell_buffer();
  ~qv_cell_buffer();
  qv_cell_buffer(const qv_cell_buffer &) = delete;
  qv_cell_buffer &operator=(const qv_cell_buffer &) = delete;
  char *data = nullptr;
};

// When the calling thread's call was cancelled: tells the server to stop
// sending the current results (ATTENTION), records the reason, returns true.
bool qv_cancel_results_if_asked(DBPROCESS *session);

}  // namespace qv::exec
