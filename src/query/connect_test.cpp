// Trying a set of connection settings before the front end stores them.
#include <cstring>
#include <string>

#include "common/capture.h"
#include "common/conn.h"
#include "common/outcome.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/cursor.h"
#include "query/query.h"

namespace qv::ops::query {

namespace {

constexpr std::size_t kVersionTextBytes = 511;
constexpr std::size_t kDatabaseTextBytes = kMaxDatabaseBytes;

int store(char *field, std::size_t fieldsize, const char *label, const char *value) {
  char errbuf[kConnErrSize];
  if (!value) value = "";
  if (qv_conn_store(field, fieldsize, label, value, std::strlen(value), errbuf, sizeof errbuf) == 0)
    return 0;
  qv_seterr("%s", errbuf);
  return -1;
}

struct probe_results {
  std::string version;
  std::string database;
  int spid = 0;
};

// Asks the version and the current database; false when the session died
// meanwhile (a probe that merely fails leaves its text empty).
bool probe(DBPROCESS *session, probe_results *out) {
  out->spid = dbspid(session);
  qv_read_scalar(session, "SELECT @@version", kVersionTextBytes, &out->version);
  qv_read_scalar(session, "SELECT DB_NAME()", kDatabaseTextBytes, &out->database);
  return !qv_session_dead(session);
}

char *reply(bool opened, const probe_results &found, std::int32_t elapsed) {
  qv_reply r;
  r.begin_object();
  r.member_bool("ok", opened);
  r.key("server_version");
  r.str_or_null(opened ? found.version.c_str() : nullptr);
  r.member_int("spid", opened ? found.spid : 0);
  r.key("database");
  r.str_or_null(opened ? found.database.c_str() : nullptr);
  r.member_int("elapsed_ms", elapsed);
  qv_write_error_member(r, opened, "connect failed");
  r.end_object();
  return r.release();
}

}  // namespace

bool qv_impl_connect_test::connection(qv_conn &conn) const {
  if (!host || !*host || !user || !*user) {
    qv_seterr("host and user are required");
    return false;
  }
  // db-lib would wrap a larger port into another one.
  if (!qv_port_of(port, &conn.port)) {
    qv_seterr("port out of range: %d", port);
    return false;
  }
  if (store(conn.host, sizeof conn.host, "host", host) != 0 ||
      store(conn.user, sizeof conn.user, "user", user) != 0 ||
      store(conn.password, sizeof conn.password, "password", password) != 0)
    return false;
  conn.encrypt = encrypt;
  conn.timeout_s = qv_clamp_timeout(timeout_s);
  return true;
}

bool qv_impl_connect_test::check(const qv_conn &conn, qv_session_plan &plan) {
  return qv_choose_database(database, conn, "invalid database name", &plan.database);
}

char *qv_impl_connect_test::run(qv_call &call) {
  probe_results found;
  bool opened = probe(call.db(), &found);
  call.session.reset();
  return reply(opened, found, call.open_ms);
}

char *qv_impl_connect_test::open_failed(qv_call &call) {
  return reply(false, probe_results{}, call.open_ms);
}

}  // namespace qv::ops::query
