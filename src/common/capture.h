// The calling thread's record of its last error and of the server messages
// of its current (or last) call, the db-lib callbacks that fill it, and the
// error envelope.
#pragma once

#include <cstdint>

#include <sybdb.h>

// Limits callers can observe.
constexpr int kErrTextSize = 2048;     // last-error text, terminator included
constexpr int kMaxMessages = 256;      // messages kept per call
constexpr int kMsgTextSize = 1024;     // one message text, terminator included
constexpr int kMsgTypeSize = 8;

struct qv_msg {
  char type[kMsgTypeSize];  // "error", "info" or "print"
  std::int32_t number;
  std::int32_t severity;
  std::int32_t state;
  std::int32_t line;
  std::int32_t rows_affected;
  char text[kMsgTextSize];
};

struct qv_capture {
  char err[kErrTextSize];
  std::int32_t has_err;
  std::int32_t fatal;
  qv_msg msgs[kMaxMessages];
  std::int32_t msg_count;
  // Set when db-lib reported that the session died (time-out, lost
  // connection): the text recorded then stays the reason for the rest of
  // the call, so follow-up failures on the dead session cannot hide it.
  std::int32_t reason_locked;
  // Server errors (severity above 10) seen so far, counted even when the
  // message table is full: readers compare it before and after a statement.
  std::int32_t error_count;
};

// The calling thread's login in progress. db-lib waits for a login reply in
// short process-wide ticks and calls the error handler with a time-out after
// each; while this call's own deadline has not come, the handler answers
// "keep waiting" and records nothing.
struct qv_login_wait {
  bool active = false;
  std::int32_t deadline_ms = 0;      // qv_now_ms() reading
  bool connect_timed_out = false;    // the TCP connect itself ran out of its tick
};
qv_login_wait *qv_login_state();
// True while the calling thread's login deadline has not come yet.
bool qv_login_time_left();

qv_capture *qv_cap();
void qv_reset();
// Forgets the last error and its flags, keeping the recorded messages.
void qv_clear_err();
void qv_seterr(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Like qv_seterr, but also replaces a locked reason (used when the caller
// knows a better reason than what the callbacks left).
void qv_seterr_force(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
const char *qv_err();
void qv_add_msg(const char *type, int number, int severity, int state, int line,
                int rows_affected, const char *text);

int qv_err_handler(DBPROCESS *session, int severity, int dberr, int oserr,
                   char *dberrstr, char *oserrstr);
int qv_msg_handler(DBPROCESS *session, DBINT msgno, int msgstate, int severity,
                   char *msgtext, char *server, char *procedure, int line);
void qv_install_handlers();

// Replaces err (even a locked one) with the first recorded server error in
// the refined form; false, changing nothing, when there is none.
bool qv_seterr_first_error();
// The same, among the messages recorded from index first on.
bool qv_seterr_first_error_since(int first);
void qv_refine_err_from_msg();
const char *qv_err_msg();

// The error envelope {"ok":false,"error":...} as a malloc'd text.
char *qv_err_json();
