// Query and session tools: the query window, the connection test, ending a
// session, and stopping running calls. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstdint>

#include "common/split.h"
#include "exec/frame.h"

namespace qv::ops::query {

// The batches of a split script, released with their owner.
struct qv_owned_batches {
  qv_batch_list list;
  ~qv_owned_batches() { qv_batch_list_free(&list); }
};

// Runs a script batch by batch on one session.
struct qv_impl_query : qv_operation {
  const char *database;
  const char *sql;
  int max_rows;
  int timeout_s;

  qv_owned_batches split{};  // the script's batches, cut before any login

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

}  // namespace qv::ops::query
