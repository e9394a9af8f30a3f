#include "exec/session.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "common/cancel.h"
#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"
#include "exec/cursor.h"

namespace qv::exec {

namespace {

constexpr std::size_t kAddressSize = 320;
constexpr std::size_t kSecondsTextSize = 16;
constexpr int kLoginTickS = 1;

std::once_flag g_dbinit_once;
int g_dbinit_done = 0;

struct login_freer {
  void operator()(LOGINREC *login) const { dbloginfree(login); }
};
using login_ptr = std::unique_ptr<LOGINREC, login_freer>;

int effective_timeout(const qv_conn *conn) {
  return conn->timeout_s > 0 ? conn->timeout_s : kDefaultTimeoutS;
}

// Sets one text field of the login record. db-lib converts it to UTF-16 and
// would cut it at the first byte it cannot convert, and it leaves a field it
// refuses (over 128 bytes) empty: both would log in as someone else.
int set_login_text(LOGINREC *login, int which, const char *what, const char *value) {
  if (!qv_utf8_valid(value, std::strlen(value))) {
    qv_seterr("the login's %s is not valid UTF-8", what);
    return -1;
  }
  if (dbsetlname(login, value, which) == FAIL) {
    qv_seterr_force("db-lib refused the login's %s", what);
    return -1;
  }
  return 0;
}

// Fills the login record; -1 (reason recorded) when a field cannot be set,
// or when encryption was asked and db-lib refuses it.
int fill_login(LOGINREC *login, const qv_conn *conn, const char *database) {
  if (set_login_text(login, DBSETUSER, "user name", conn->user) != 0 ||
      set_login_text(login, DBSETPWD, "password", conn->password) != 0 ||
      set_login_text(login, DBSETAPP, "application name",
                     conn->app_name[0] ? conn->app_name : kDefaultAppName) != 0 ||
      set_login_text(login, DBSETHOST, "client host name", kClientHostName) != 0 ||
      set_login_text(login, DBSETCHARSET, "character set", kClientCharset) != 0)
    return -1;
  if (conn->encrypt && dbsetlbool(login, 1, DBSETENCRYPT) == FAIL) {
    qv_seterr_force("%s", kEncryptionRefused);
    return -1;
  }
  if (dbsetlversion(login, DBVERSION_74) == FAIL) {
    qv_seterr_force("db-lib refused TDS version 7.4 for the login");
    return -1;
  }
  // A legal database name can be longer than a login field holds; such a
  // name is reached by the switch after login alone.
  if (database && *database && std::strlen(database) <= kMaxLoginFieldBytes)
    return set_login_text(login, DBSETDBNAME, "database", database);
  return 0;
}

// The calling thread's login wait, active for one open.
struct login_wait_scope {
  explicit login_wait_scope(int timeout_s) {
    qv_login_wait *w = qv_login_state();
    w->active = true;
    w->deadline_ms = qv_now_ms() + timeout_s * 1000;
    w->connect_timed_out = false;
  }
  ~login_wait_scope() { qv_login_state()->active = false; }
  login_wait_scope(const login_wait_scope &) = delete;
  login_wait_scope &operator=(const login_wait_scope &) = delete;
};

// Connects and logs in, within the call's own login time-out. db-lib's login
// time-out is one short process-wide tick; the error handler keeps waiting
// until this call's deadline. A TCP connect that ran out of its tick is
// tried again while time is left; scope then covers the last attempt only.
DBPROCESS *connect_within(LOGINREC *login, const char *address, int timeout_s,
                          qv_failure_scope *scope) {
  login_wait_scope wait(timeout_s);
  for (;;) {
    qv_login_state()->connect_timed_out = false;
    DBPROCESS *session = tdsdbopen(login, address, 0);
    if (session || !qv_login_state()->connect_timed_out || !qv_login_time_left() ||
        qv_stop_if_cancelled())
      return session;
    qv_clear_err();
    *scope = qv_failure_scope();
  }
}

// The reason for a failed open: the first error the server sent during the
// attempt, else what db-lib recorded, else a generic text.
void record_open_failure(const qv_failure_scope &login, const qv_conn *conn) {
  if (login.take_server_error()) return;
  if (!qv_err()[0]) qv_seterr("unable to connect to %s:%d", conn->host, conn->port);
}

// Keeps the session's statement time-out its own: dbsettime changes every
// unpinned session of the process.
void pin_statement_timeout(DBPROCESS *session, int seconds) {
  char text[kSecondsTextSize];
  std::snprintf(text, sizeof text, "%d", seconds);
  dbsetopt(session, DBSETTIME, text, 0);
}

// db-lib polls these while it waits on the socket: a cancelled call turns
// the wait into a time-out, which the error handler answers with ATTENTION.
int cancel_check(void *) { return qv_cancel_requested() ? TRUE : FALSE; }
int cancel_handle(void *) { return INT_CANCEL; }

// The call's registration under its tag, ended when the open fails.
struct cancel_registration {
  explicit cancel_registration(const char *tag) { qv_cancel_begin(tag); }
  ~cancel_registration() {
    if (!kept) qv_cancel_end();
  }
  cancel_registration(const cancel_registration &) = delete;
  cancel_registration &operator=(const cancel_registration &) = delete;
  bool kept = false;
};

struct dbclose_deleter {
  void operator()(DBPROCESS *session) const { dbclose(session); }
};
using opening_session = std::unique_ptr<DBPROCESS, dbclose_deleter>;

// The session's settings. A failure here is not the call's failure: the
// server's default settings are used then.
void apply_settings(DBPROCESS *session) {
  qv_cursor cur(session, qv_cursor::errors::go_on);
  if (cur.open(kSessionSetUp) >= 0) cur.finish();
}

}  // namespace

int qv_dbinit_once() {
  try {
    std::call_once(g_dbinit_once, [] {
      if (dbinit() == FAIL) throw std::runtime_error("dbinit");
      // dbinit puts db-lib's own callbacks back (whose answer to a lost
      // connection is to end the process): ours go in right after it,
      // whatever a thread registered before.
      dberrhandle(qv_err_handler);
      dbmsghandle(qv_msg_handler);
      // The only process-wide time-out ever set: the login tick. Statement
      // time-outs are pinned per session.
      dbsetlogintime(kLoginTickS);
      g_dbinit_done = 1;
    });
  } catch (const std::runtime_error &) {
    qv_seterr("dbinit() failed");
    return -1;
  }
  qv_install_handlers();
  return 0;
}

DBPROCESS *qv_open(const qv_conn *conn, const char *database) {
  if (qv_dbinit_once() != 0) return nullptr;
  cancel_registration registration(conn->tag);
  int timeout = effective_timeout(conn);

  login_ptr login(dblogin());
  if (!login) {
    qv_seterr("dblogin() failed");
    return nullptr;
  }
  if (fill_login(login.get(), conn, database) != 0) return nullptr;

  char address[kAddressSize];
  qv_format_cut(address, sizeof address, "%s:%d", conn->host, conn->port);
  qv_failure_scope login_scope;
  opening_session session(connect_within(login.get(), address, timeout, &login_scope));
  login.reset();
  if (!session || login_scope.failed() || qv_stop_if_cancelled()) {
    session.reset();
    if (!qv_cancel_requested()) record_open_failure(login_scope, conn);
    return nullptr;
  }
  dbsetinterrupt(session.get(), cancel_check, cancel_handle);
  pin_statement_timeout(session.get(), timeout);
  apply_settings(session.get());
  // Always bracketed here: db-lib would send a name that already starts with
  // "[" and ends with "]" unquoted, so such a database name would run as
  // T-SQL. For every other name the text db-lib sends is the same.
  if (database && *database && dbuse(session.get(), qv_bracketed(database).c_str()) == FAIL) {
    if (!qv_err()[0]) qv_seterr("cannot open database '%s'", database);
    return nullptr;
  }
  if (qv_stop_if_cancelled()) return nullptr;
  registration.kept = true;
  return session.release();
}

void qv_close(DBPROCESS *session) {
  if (!session) return;
  dbclose(session);
  qv_cancel_end();
}

bool qv_session_dead(DBPROCESS *session) { return dbdead(session) != FALSE; }

int qv_send(DBPROCESS *session, const char *sql) {
  if (qv_stop_if_cancelled()) return -1;
  // db-lib converts the text to UTF-16 and, at the first byte it cannot
  // convert, sends only what came before it: a cut statement that runs.
  long long bad = qv_utf8_invalid_at(sql, std::strlen(sql));
  if (bad >= 0) {
    qv_seterr("statement text is not valid UTF-8 (byte %lld); nothing was sent", bad);
    return -1;
  }
  dbfreebuf(session);
  if (dbcmd(session, sql) == FAIL) {
    qv_seterr("dbcmd() failed");
    return -1;
  }
  if (dbsqlexec(session) == FAIL) {
    if (!qv_err()[0]) qv_seterr("dbsqlexec() failed");
    if (!qv_session_dead(session)) dbcancel(session);
    dbfreebuf(session);
    return -1;
  }
  return 0;
}

}  // namespace qv::exec
