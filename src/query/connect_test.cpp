// Trying a set of connection settings before the front end stores them.
#include <cstring>

#include "common/capture.h"
#include "common/conn.h"
#include "common/operation.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/results.h"
#include "exec/session.h"

namespace {

constexpr std::size_t kVersionTextSize = 512;
constexpr std::size_t kDatabaseTextSize = kMaxDatabaseBytes + 1;
constexpr int kMaxPort = 65535;

int store(char *field, std::size_t fieldsize, const char *label, const char *value) {
  char errbuf[kConnErrSize];
  if (!value) value = "";
  if (qv_conn_store(field, fieldsize, label, value, std::strlen(value), errbuf, sizeof errbuf) == 0)
    return 0;
  qv_seterr("%s", errbuf);
  return -1;
}

// The settings as given; -1 (reason recorded) when a value does not fit
// whole.
int fill_conn(qv_conn *conn, const char *host, int port, const char *user, const char *password,
              const char *database, int encrypt, int timeout_s) {
  if (store(conn->host, sizeof conn->host, "host", host) != 0 ||
      store(conn->user, sizeof conn->user, "user", user) != 0 ||
      store(conn->password, sizeof conn->password, "password", password) != 0 ||
      store(conn->database, sizeof conn->database, "database", database) != 0)
    return -1;
  conn->port = port > 0 ? port : kDefaultPort;
  conn->encrypt = encrypt;
  conn->timeout_s = qv_clamp_timeout(timeout_s);
  return 0;
}

struct probe_results {
  char version[kVersionTextSize] = "";
  char database[kDatabaseTextSize] = "";
  int spid = 0;
};

// Asks the version and the current database; false when the session died
// meanwhile (a probe that merely fails leaves its text empty).
bool probe(DBPROCESS *session, probe_results *out) {
  qv_scalar(session, "SELECT @@version", out->version, sizeof out->version);
  qv_scalar(session, "SELECT DB_NAME()", out->database, sizeof out->database);
  return !qv_session_dead(session);
}

}  // namespace

char *qv_impl_connect_test(const char *host, int port, const char *user, const char *password,
                           const char *database, int encrypt, int timeout_s) {
  qv_reset();
  if (!host || !*host || !user || !*user) {
    qv_seterr("host and user are required");
    return qv_err_json();
  }
  // db-lib would wrap a larger port into another one.
  if (port > kMaxPort) {
    qv_seterr("port out of range: %d", port);
    return qv_err_json();
  }
  qv_scoped_conn conn;
  if (fill_conn(&conn, host, port, user, password, database, encrypt, timeout_s) != 0)
    return qv_err_json();

  std::int32_t start = qv_now_ms();
  qv_session session(qv_open(&conn, conn.database[0] ? conn.database : "master"));
  std::int32_t elapsed = qv_elapsed_ms(start, qv_now_ms());
  probe_results found;
  bool opened = session != nullptr;
  if (opened) {
    found.spid = dbspid(session.get());
    opened = probe(session.get(), &found);
    session.reset();
  }

  qv_reply r;
  r.begin_object();
  r.member_bool("ok", opened);
  r.key("server_version");
  r.str_or_null(opened ? found.version : nullptr);
  r.member_int("spid", opened ? found.spid : 0);
  r.key("database");
  r.str_or_null(opened ? found.database : nullptr);
  r.member_int("elapsed_ms", elapsed);
  qv_write_error_member(r, opened, "connect failed");
  r.end_object();
  return r.release();
}
