// The calling thread's record of its last error and of the server messages
// of its current (or last) call, the db-lib callbacks that fill it, the
// scopes that tell whether one statement failed, and the error envelope.
// The record itself is private to this module. Internal header.
#pragma once

#include <cstdint>
#include <string>

#include <sybdb.h>

namespace qv::common {

// Limits callers can observe.
constexpr int kErrTextSize = 2048;     // last-error text, terminator included
constexpr int kMaxMessages = 256;      // messages kept per call
constexpr int kMsgTextSize = 1024;     // one message text, terminator included
constexpr int kMsgTypeSize = 8;

// One server message as recorded.
struct qv_msg {
  char type[kMsgTypeSize];  // "error", "info" or "print"
  std::int32_t number;
  std::int32_t severity;
  std::int32_t state;
  std::int32_t line;
  std::int32_t rows_affected;
  char text[kMsgTextSize];
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

// Starts the calling thread's record afresh: no error, no messages.
void qv_reset();
// Forgets the last error and its flags, keeping the recorded messages.
void qv_clear_err();
void qv_seterr(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Like qv_seterr, but also replaces a locked reason (used when the caller
// knows a better reason than what the callbacks left).
void qv_seterr_force(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
const char *qv_err();
// Records text as the call's reason and keeps it: later failures of the call
// (follow-ups of a stop or a lost connection) do not replace it.
void qv_lock_reason(const char *text);
// Keeps the reason recorded so far, when there is one, in the same way.
void qv_keep_reason();

// The flags of the record, read-only.
struct qv_record_flags {
  bool has_err;        // an error text was recorded since the reset
  bool fatal;          // an error above severity 10 or a connection failure was seen
  bool reason_locked;  // the session died: its reason stays the error text
};
qv_record_flags qv_flags();

// How often db-lib reported, since the reset, text it could not convert
// between the character sets without loss (its unconvertible characters
// were written as '?', or dropped): a reader compares the count before and
// after.
std::int32_t qv_conversion_losses();

void qv_add_msg(const char *type, int number, int severity, int state, int line,
                int rows_affected, const char *text);
// The recorded messages, in arrival order: indexes 0 to qv_message_count() - 1.
int qv_message_count();
const qv_msg &qv_message(int index);

// Where the calling thread's server messages go besides the record, as db-lib
// hands them over (a streamed query forwards them at once). A scope installs
// a sink and removes it.
using qv_message_sink = void (*)(void *user, const qv_msg &message);
class qv_message_sink_scope {
 public:
  qv_message_sink_scope(qv_message_sink sink, void *user);
  ~qv_message_sink_scope();
  qv_message_sink_scope(const qv_message_sink_scope &) = delete;
  qv_message_sink_scope &operator=(const qv_message_sink_scope &) = delete;
};

int qv_err_handler(DBPROCESS *session, int severity, int dberr, int oserr,
                   char *dberrstr, char *oserrstr);
int qv_msg_handler(DBPROCESS *session, DBINT msgno, int msgstate, int severity,
                   char *msgtext, char *server, char *procedure, int line);
void qv_install_handlers();

// What happened between its construction and now, for one statement (or
// one login): the one answer to "did the server or db-lib report a failure
// during it". A lost or timed-out connection is the session's business
// (dbdead), which the readers check beside this.
class qv_failure_scope {
 public:
  qv_failure_scope();
  // An error above severity 10, or a connection failure, arrived since the
  // start (counted even when the message table is full).
  bool failed() const;
  // Makes the first server error since the start the recorded reason, in
  // the refined form, unless the session died (its reason stays); records
  // fallback when there is no reason at all.
  void record_reason(const char *fallback) const;
  // Makes the first server error since the start the recorded reason, even
  // over a locked one; false, changing nothing, when there is none.
  bool take_server_error() const;
  // The reason for a failure since the start, recording nothing: its first
  // server error in the refined form, else the recorded text.
  std::string reason() const;

 private:
  std::int32_t failures_at_start_;
  std::int32_t messages_at_start_;
};

void qv_refine_err_from_msg();
const char *qv_err_msg();

// The error envelope {"ok":false,"error":...} as a malloc'd text.
char *qv_err_json();

}  // namespace qv::common
