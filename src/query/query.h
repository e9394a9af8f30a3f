// Query and session tools: the query window, the connection test, ending a
// session, and stopping running calls. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <cstdint>

#include "common/cancel.h"
#include "common/split.h"
#include "exec/frame.h"

namespace qv::ops::query {

// The batches of a split script, released with their owner.
struct qv_owned_batches {
  qv_batch_list list;
  ~qv_owned_batches() { qv_batch_list_free(&list); }
};

// What the two query operations share: the script, checked and cut into
// batches before any login, and its database.
struct qv_script_operation : qv_operation {
  const char *database;
  const char *sql;

  qv_owned_batches split{};

  // Refuses a script that is not valid UTF-8 and an illegal database, cuts
  // the script (one that holds no batch is sent whole) and picks the
  // database.
  bool check_script(const qv_conn &conn, qv_session_plan &plan);
};

// Calls run(number, sql) for every run of every batch: each batch as many
// times as its "GO n" asks, numbered on as if it had been written that many
// times. Repeating a batch stops at its first run that fails; a cancelled
// call runs nothing more. True when every run succeeded.
template <class Run>
bool qv_for_each_run(const qv_batch_list &list, Run &&run);

// Runs a script batch by batch on one session, answering when it ended.
struct qv_impl_query : qv_script_operation {
  int max_rows;
  int timeout_s;

  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
};

// Receives the events of a streamed query (the public callback's type).
using qv_event_fn = int (*)(void *user, const char *event_json, std::size_t len);

// Runs a script and hands every event (batch, columns, rows in chunks,
// result end, count, message, batch end) to on_event as it happens; answers
// a summary when the script ended.
struct qv_impl_query_stream : qv_script_operation {
  int max_rows;   // per result set; 0 or below: no limit
  int timeout_s;  // login and statement; 0: 15 s login, no statement limit
  qv_event_fn on_event;
  void *user;

  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
};

// Tries a set of connection settings given one by one.
struct qv_impl_connect_test : qv_operation {
  const char *host;
  int port;
  const char *user;
  const char *password;
  const char *database;
  int encrypt;
  int timeout_s;

  bool connection(qv_conn &conn) const;
  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
  char *open_failed(qv_call &call);
};

// Ends another server session by its id.
struct qv_impl_kill_spid : qv_operation {
  int spid;

  bool check(const qv_conn &conn, qv_session_plan &plan);
  char *run(qv_call &call);
};

// Signals every call running under tag: {"ok":true,"cancelled":n,"error":null}.
char *qv_impl_cancel(const char *tag);

template <class Run>
bool qv_for_each_run(const qv_batch_list &list, Run &&run) {
  bool ok = true;
  int number = 0;
  for (int i = 0; i < list.count; ++i) {
    for (std::int32_t n = 0; n < qv_batch_repeats(list, i); ++n) {
      if (qv_stop_if_cancelled()) return false;
      if (!run(++number, list.items[i])) {
        ok = false;
        break;
      }
    }
  }
  return ok;
}

}  // namespace qv::ops::query
