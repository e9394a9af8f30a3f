// The frame every exported operation runs in. The exported function states
// its required texts and hands over a function that builds the operation
// object (built inside the frame: building it may allocate); the frame
//   1. starts the thread's record afresh and refuses a missing required text,
//   2. loads the connection settings (the connection document, unless the
//      operation brings its own),
//   3. lets the operation check every input that needs no server and say
//      which database (and time-outs) its session needs,
//   4. opens that session, runs the operation's body on it and closes it on
//      every path,
// and turns any escaping exception into the error envelope. A refusal in
// steps 1 to 3 never costs a login. Internal header.
//
// An operation is a class deriving from qv_operation with
//   bool check(const qv_conn &conn, qv_session_plan &plan);  // false: refused, reason recorded
//   char *run(qv_call &call);                                // the reply
// and, where it differs from qv_operation's, connection() and open_failed().
#pragma once

#include "exec/namespaces.h"

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <new>
#include <string>

#include <sybdb.h>

#include "common/capture.h"
#include "common/conn.h"
#include "exec/session.h"

namespace qv::exec {

// One required argument of an exported function: a text is missing when
// null or empty, anything else when not given.
struct qv_required {
  qv_required(const char *argument, const char *text) : name(argument), present(text && *text) {}
  qv_required(const char *argument, bool given) : name(argument), present(given) {}
  const char *name;
  bool present;
};

// What the operation's checks decide about its session.
struct qv_session_plan {
  std::string database;          // empty: the document's database, else "master"
  std::int32_t timeout_s = 0;    // above 0: the login and statement time-out
  bool unlimited_wait = false;   // statements that answer only when done (backup, shrink)
};

// A call in progress, handed to the operation's body: the settings and the
// open session, closed when the call ends.
struct qv_call {
  const qv_conn &conn;
  qv_session session;
  std::int32_t open_ms = 0;  // how long opening the session took
  DBPROCESS *db() const { return session.get(); }
};

// The defaults an operation inherits.
struct qv_operation {
  const char *conn_json = nullptr;
  // The connection settings: the connection document.
  bool connection(qv_conn &conn) const { return qv_conn_load(conn_json, &conn) == 0; }
  // The reply when the session cannot be opened: the error envelope.
  char *open_failed(qv_call &) { return qv_err_json(); }
};

// The database an operation works in: arg when non-empty, else the
// document's (already checked), else "master". False with refusal recorded
// when arg is not a legal name.
bool qv_choose_database(const char *arg, const qv_conn &conn, const char *refusal,
                        std::string *database);

// Runs body, turning any exception into the error envelope.
template <class Body>
char *qv_guarded(Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    qv_seterr_force("out of memory");
  } catch (const std::exception &e) {
    qv_seterr_force("internal error: %s", e.what());
  } catch (...) {
    qv_seterr_force("internal error");
  }
  return qv_err_json();
}

// Records the first missing required text; true when all are present.
bool qv_check_required(std::initializer_list<qv_required> required);

// Opens the session plan asks for, timing it.
void qv_open_call(qv_call &call, const qv_session_plan &plan);

template <class Make>
char *qv_run_operation(std::initializer_list<qv_required> required, Make &&make) noexcept {
  return qv_guarded([&]() -> char * {
    qv_reset();
    if (!qv_check_required(required)) return qv_err_json();
    auto op = make();
    qv_scoped_conn conn;
    if (!op.connection(conn)) return qv_err_json();
    qv_session_plan plan;
    if (!op.check(conn, plan)) return qv_err_json();
    qv_call call{conn, nullptr};
    qv_open_call(call, plan);
    if (!call.session) return op.open_failed(call);
    return op.run(call);
  });
}

// The frame of a call that needs no session (cancellation).
template <class Body>
char *qv_run_local(std::initializer_list<qv_required> required, Body &&body) noexcept {
  return qv_guarded([&]() -> char * {
    qv_reset();
    if (!qv_check_required(required)) return qv_err_json();
    return body();
  });
}

}  // namespace qv::exec
