// Running one batch of a script and rendering all its result sets.
#pragma once

#include <sybdb.h>

class qv_reply;

constexpr int kBatchMaxRowsCap = 100000;

// The runner's state for one batch. qv_batch_init opens the "results" array
// in the reply (when there is one); qv_batch_end closes it.
struct qv_batch {
  qv_reply *doc = nullptr;
};

void qv_batch_init(qv_batch *batch, qv_reply *doc);
void qv_batch_end(qv_batch *batch);
// 0 when the batch was sent and all its results were read, else -1.
int qv_run_batch(DBPROCESS *session, const char *sql, int max_rows, qv_batch *batch);
