#include "common/capture.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/cancel.h"
#include "common/reply.h"
#include "common/text.h"

namespace qv::common {

namespace {

// The record behind this module's functions, one per thread.
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
  // Failures seen so far (server errors above severity 10, db-lib errors
  // above it, connection failures), counted even when the message table is
  // full: scopes compare it before and after a statement.
  std::int32_t failure_count;
  // db-lib's reports of text changed by a character set conversion; not
  // failures of their own.
  std::int32_t conversion_losses;
};

thread_local qv_capture g_cap;
thread_local std::int32_t g_cap_ready = 0;
thread_local std::int32_t installed = 0;
thread_local qv_login_wait g_login_wait;
thread_local qv_message_sink g_sink = nullptr;
thread_local void *g_sink_user = nullptr;

// A tick that ends this close to the deadline ends the wait: the next tick
// would overshoot it by more.
constexpr std::int32_t kLoginDeadlineSlackMs = 500;

constexpr char kGenericServerError[] = "General SQL Server error";
constexpr std::size_t kGenericServerErrorLen = sizeof(kGenericServerError) - 1;
constexpr char kEnvelopeFallback[] = "{\"ok\":false,\"error\":\"json allocation failed\"}";
constexpr char kRefinedFormat[] = "%s (msg %d, severity %d, state %d, line %d)";

qv_capture *cap() {
  if (!g_cap_ready) qv_reset();
  return &g_cap;
}

// db-lib errors after which the session is dead (a bad token makes FreeTDS
// close the connection: the stream cannot be followed any more).
bool kills_session(int dberr) {
  return dberr == SYBETIME || dberr == SYBEREAD || dberr == SYBEWRIT || dberr == SYBESEOF ||
         dberr == SYBEBTOK;
}

// db-lib's reports of character conversion trouble: text it could not
// convert (its characters became '?'), or input it could not convert at all
// (a lone surrogate at the end of a text is dropped with this report).
bool conversion_trouble(int dberr) {
  return dberr == SYBEICONVIU || dberr == SYBEICONVAVAIL || dberr == SYBEICONVO ||
         dberr == SYBEICONVI;
}

void note_failure(qv_capture *c) {
  c->fatal = 1;
  ++c->failure_count;
}

// The last-error text is read by callers as UTF-8: a broken sequence that
// came from a caller's argument (a host name, say) becomes U+FFFD.
void make_err_valid(qv_capture *c) {
  std::size_t len = std::strlen(c->err);
  if (qv_utf8_valid(c->err, len)) return;
  char clean[kErrTextSize];
  qv_utf8_sanitize_into(c->err, len, clean, sizeof clean);
  std::memcpy(c->err, clean, sizeof clean);
}

void set_err_text(qv_capture *c, const char *fmt, va_list ap) {
  qv_vformat_cut(c->err, sizeof c->err, fmt, ap);
  make_err_valid(c);
  c->has_err = 1;
}

// The first recorded server error with a text from index first on, in
// arrival order.
const qv_msg *first_error_msg(const qv_capture *c, int first = 0) {
  for (int i = first < 0 ? 0 : first; i < c->msg_count; ++i) {
    const qv_msg &m = c->msgs[i];
    if (m.type[0] == 'e' && m.text[0]) return &m;
  }
  return nullptr;
}

// Overwrites err with the refined form of m.
void write_refined(qv_capture *c, const qv_msg *m) {
  qv_format_cut(c->err, sizeof c->err, kRefinedFormat, m->text, m->number, m->severity,
                m->state, m->line);
  make_err_valid(c);
  c->has_err = 1;
}

}  // namespace

qv_login_wait *qv_login_state() { return &g_login_wait; }

bool qv_login_time_left() {
  const qv_login_wait &w = g_login_wait;
  return w.active && qv_elapsed_ms(qv_now_ms(), w.deadline_ms) > kLoginDeadlineSlackMs;
}

void qv_reset() {
  // Counts, flags and an empty error text. The message table (a quarter of a
  // megabyte) is left as it is: every entry is written whole when recorded
  // and read only below msg_count; clearing it cost more than a login.
  g_cap.err[0] = '\0';
  g_cap.has_err = 0;
  g_cap.fatal = 0;
  g_cap.msg_count = 0;
  g_cap.reason_locked = 0;
  g_cap.failure_count = 0;
  g_cap.conversion_losses = 0;
  g_cap_ready = 1;
}

void qv_seterr(const char *fmt, ...) {
  qv_capture *c = cap();
  if (c->reason_locked) {
    c->has_err = 1;
    return;
  }
  va_list ap;
  va_start(ap, fmt);
  set_err_text(c, fmt, ap);
  va_end(ap);
}

void qv_seterr_force(const char *fmt, ...) {
  qv_capture *c = cap();
  va_list ap;
  va_start(ap, fmt);
  set_err_text(c, fmt, ap);
  va_end(ap);
}

void qv_clear_err() {
  qv_capture *c = cap();
  c->err[0] = '\0';
  c->has_err = 0;
  c->fatal = 0;
  c->reason_locked = 0;
}

const char *qv_err() { return cap()->err; }

void qv_lock_reason(const char *text) {
  qv_seterr_force("%s", text);
  cap()->reason_locked = 1;
}

void qv_keep_reason() {
  qv_capture *c = cap();
  if (c->err[0]) c->reason_locked = 1;
}

std::int32_t qv_conversion_losses() { return cap()->conversion_losses; }

qv_record_flags qv_flags() {
  const qv_capture *c = cap();
  return {c->has_err != 0, c->fatal != 0, c->reason_locked != 0};
}

namespace {

void fill_msg(qv_msg *m, const char *type, int number, int severity, int state, int line,
              int rows_affected, const char *text) {
  qv_copy_cut(m->type, sizeof m->type, type ? type : "");
  m->number = number;
  m->severity = severity;
  m->state = state;
  m->line = line;
  m->rows_affected = rows_affected;
  qv_copy_cut(m->text, sizeof m->text, text);
}

}  // namespace

void qv_add_msg(const char *type, int number, int severity, int state, int line,
                int rows_affected, const char *text) {
  qv_capture *c = cap();
  if (g_sink) {
    // Forwarded whole even when the table is full: a sink holds nothing.
    qv_msg m;
    fill_msg(&m, type, number, severity, state, line, rows_affected, text);
    g_sink(g_sink_user, m);
  }
  if (c->msg_count >= kMaxMessages) return;
  fill_msg(&c->msgs[c->msg_count++], type, number, severity, state, line, rows_affected, text);
}

qv_message_sink_scope::qv_message_sink_scope(qv_message_sink sink, void *user) {
  g_sink = sink;
  g_sink_user = user;
}

qv_message_sink_scope::~qv_message_sink_scope() {
  g_sink = nullptr;
  g_sink_user = nullptr;
}

int qv_message_count() { return cap()->msg_count; }

const qv_msg &qv_message(int index) { return cap()->msgs[index]; }

int qv_err_handler(DBPROCESS *session, int severity, int dberr, int oserr,
                   char *dberrstr, char *oserrstr) {
  if (!dberrstr) return INT_CANCEL;
  if (dberr == SYBETIME && qv_cancel_requested()) {
    // The caller stopped this call: a login is abandoned; a wait for the
    // server (db-lib's interrupt polling turns it into a time-out) ends with
    // an ATTENTION that keeps the session usable.
    qv_record_cancelled();
    return g_login_wait.active ? INT_CANCEL : INT_TIMEOUT;
  }
  if (g_login_wait.active) {
    // A login tick ran out: keep waiting until the call's own deadline.
    if (dberr == SYBETIME && qv_login_time_left()) return INT_CONTINUE;
    if (dberr == SYBECONN && oserr == ETIMEDOUT) g_login_wait.connect_timed_out = true;
  }
  qv_capture *c = cap();
  if (severity > 10 || dberr == SYBECONN) note_failure(c);
  if (conversion_trouble(dberr)) ++c->conversion_losses;
  if (oserrstr && *oserrstr)
    qv_seterr("%s (dberr=%d, oserr=%d: %s)", dberrstr, dberr, oserr, oserrstr);
  else
    qv_seterr("%s (dberr=%d)", dberrstr, dberr);
  if (session && kills_session(dberr)) c->reason_locked = 1;
  return INT_CANCEL;
}

int qv_msg_handler(DBPROCESS *session, DBINT msgno, int msgstate, int severity, char *msgtext,
                   char *, char *, int line) {
  if (!msgtext) return 0;
  // A message token the connection died in the middle of: FreeTDS still
  // hands it over, with the fields it could not read left unset. db-lib's
  // own error has already said why the session ended.
  if (session && dbdead(session)) return 0;
  if (msgno != SYBECONN && severity <= 10) {
    if (msgno == 5701 || msgno == 5703) return 0;
    qv_add_msg(msgno == 0 ? "print" : "info", msgno, severity, msgstate, line, 0, msgtext);
    return 0;
  }
  note_failure(cap());
  qv_seterr(kRefinedFormat, msgtext, static_cast<int>(msgno), severity, msgstate, line);
  qv_add_msg("error", msgno, severity, msgstate, line, 0, msgtext);
  return INT_CANCEL;
}

void qv_install_handlers() {
  if (installed) return;
  dberrhandle(qv_err_handler);
  dbmsghandle(qv_msg_handler);
  installed = 1;
}

qv_failure_scope::qv_failure_scope()
    : failures_at_start_(cap()->failure_count), messages_at_start_(cap()->msg_count) {}

bool qv_failure_scope::failed() const { return cap()->failure_count != failures_at_start_; }

void qv_failure_scope::record_reason(const char *fallback) const {
  qv_capture *c = cap();
  if (!c->reason_locked) {
    if (const qv_msg *m = first_error_msg(c, messages_at_start_)) write_refined(c, m);
  }
  if (!c->err[0] && fallback) qv_seterr("%s", fallback);
  c->has_err = 1;
}

bool qv_failure_scope::take_server_error() const {
  qv_capture *c = cap();
  const qv_msg *m = first_error_msg(c, messages_at_start_);
  if (!m) return false;
  write_refined(c, m);
  return true;
}

std::string qv_failure_scope::reason() const {
  const qv_capture *c = cap();
  if (const qv_msg *m = first_error_msg(c, messages_at_start_); m && !c->reason_locked) {
    char text[kErrTextSize];
    qv_format_cut(text, sizeof text, kRefinedFormat, m->text, m->number, m->severity, m->state,
                  m->line);
    return text;
  }
  return c->err;
}

void qv_refine_err_from_msg() {
  qv_capture *c = cap();
  if (!c->has_err && !c->fatal) return;
  if (c->err[0] && std::strncmp(c->err, kGenericServerError, kGenericServerErrorLen) != 0)
    return;
  if (const qv_msg *m = first_error_msg(c)) {
    // The flags stay as they are: refining only replaces the text.
    std::int32_t had = c->has_err;
    write_refined(c, m);
    c->has_err = had;
  }
}

const char *qv_err_msg() {
  qv_refine_err_from_msg();
  return qv_err();
}

char *qv_err_json() {
  try {
    const char *text = qv_err_msg();
    qv_reply r;
    r.begin_object();
    r.member_bool("ok", false);
    r.member_str("error", *text ? text : "unknown error");
    r.end_object();
    return r.release();
  } catch (...) {
    return qv_strdup(kEnvelopeFallback);
  }
}

}  // namespace qv::common
