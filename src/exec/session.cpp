#include "exec/session.h"

#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "common/capture.h"
#include "common/text.h"
#include "exec/results.h"

namespace {

constexpr std::size_t kAddressSize = 320;
constexpr std::size_t kSecondsTextSize = 16;

std::once_flag g_dbinit_once;
int g_dbinit_done = 0;

struct login_freer {
  void operator()(LOGINREC *login) const { dbloginfree(login); }
};
using login_ptr = std::unique_ptr<LOGINREC, login_freer>;

int effective_timeout(const qv_conn *conn) {
  return conn->timeout_s > 0 ? conn->timeout_s : kDefaultTimeoutS;
}

// Fills the login record; -1 when encryption was asked and db-lib refuses it.
int fill_login(LOGINREC *login, const qv_conn *conn, const char *database) {
  DBSETLUSER(login, conn->user);
  DBSETLPWD(login, conn->password);
  DBSETLAPP(login, conn->app_name[0] ? conn->app_name : kDefaultAppName);
  DBSETLHOST(login, kClientHostName);
  DBSETLCHARSET(login, kClientCharset);
  if (conn->encrypt && dbsetlbool(login, 1, DBSETENCRYPT) == FAIL) {
    qv_seterr("%s", kEncryptionRefused);
    return -1;
  }
  dbsetlversion(login, DBVERSION_74);
  if (database && *database) DBSETLDBNAME(login, database);
  return 0;
}

// The reason for a failed open: the first error the server sent during the
// attempt, else what db-lib recorded, else a generic text.
void record_open_failure(const qv_conn *conn) {
  if (qv_seterr_first_error()) return;
  if (!qv_err()[0]) qv_seterr("unable to connect to %s:%d", conn->host, conn->port);
}

// Keeps the session's statement time-out its own: dbsettime changes every
// unpinned session of the process.
void pin_statement_timeout(DBPROCESS *session, int seconds) {
  char text[kSecondsTextSize];
  std::snprintf(text, sizeof text, "%d", seconds);
  dbsetopt(session, DBSETTIME, text, 0);
}

void set_text_size(DBPROCESS *session) {
  dbfreebuf(session);
  if (dbcmd(session, kTextSizeStatement) == SUCCEED && dbsqlexec(session) == SUCCEED)
    qv_finish_results(session);
  else if (!qv_session_dead(session))
    dbcancel(session);
  dbfreebuf(session);
}

}  // namespace

int qv_dbinit_once() {
  try {
    std::call_once(g_dbinit_once, [] {
      if (dbinit() == FAIL) throw std::runtime_error("dbinit");
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
  int timeout = effective_timeout(conn);
  dbsetlogintime(timeout);
  dbsettime(timeout);

  login_ptr login(dblogin());
  if (!login) {
    qv_seterr("dblogin() failed");
    return nullptr;
  }
  if (fill_login(login.get(), conn, database) != 0) return nullptr;

  char address[kAddressSize];
  qv_format_cut(address, sizeof address, "%s:%d", conn->host, conn->port);
  qv_cap()->fatal = 0;
  qv_session session(tdsdbopen(login.get(), address, 0));
  login.reset();
  if (!session || qv_cap()->fatal) {
    session.reset();
    record_open_failure(conn);
    return nullptr;
  }
  pin_statement_timeout(session.get(), timeout);
  set_text_size(session.get());
  if (database && *database && dbuse(session.get(), database) == FAIL) {
    if (!qv_err()[0]) qv_seterr("cannot open database '%s'", database);
    return nullptr;
  }
  return session.release();
}

void qv_close(DBPROCESS *session) {
  if (session) dbclose(session);
}

bool qv_session_dead(DBPROCESS *session) { return dbdead(session) != FALSE; }

int qv_send(DBPROCESS *session, const char *sql) {
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
