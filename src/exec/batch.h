// Running one batch of a script and rendering all its result sets.
// Internal header.
#pragma once

#include "exec/namespaces.h"

#include <sybdb.h>

namespace qv::common {
class qv_reply;
}

namespace qv::exec {

constexpr int kBatchMaxRowsCap = 100000;

// Sends sql and writes "results": [...] into out, one result-set object
// (columns, rows, truncated) per result set with columns, each with at most
// max_rows rows (1000 below 1, 100000 at most). A statement that fails
// inside the batch leaves its error to the messages and the batch goes on.
// 0 when the batch was sent and all its results were read, else -1.
int qv_run_batch(DBPROCESS *session, const char *sql, int max_rows, qv_reply &out);

}  // namespace qv::exec
