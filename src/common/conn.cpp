#include "common/conn.h"

#include <cstdio>
#include <cstring>

#include "common/capture.h"
#include "common/json_read.h"
#include "common/names.h"
#include "common/text.h"

namespace qv::common {

qv_scoped_conn::qv_scoped_conn() { qv_conn_defaults(this); }
qv_scoped_conn::~qv_scoped_conn() { qv_wipe(password, sizeof password); }

void qv_conn_defaults(qv_conn *conn) {
  std::memset(conn, 0, sizeof *conn);
  conn->port = kDefaultPort;
  conn->timeout_s = kDefaultTimeoutS;
  qv_copy_cut(conn->app_name, sizeof conn->app_name, kDefaultAppName);
}

std::int32_t qv_clamp_timeout(std::int32_t timeout_s) {
  if (timeout_s < 1) return kDefaultTimeoutS;
  if (timeout_s > kMaxTimeoutS) return kMaxTimeoutS;
  return timeout_s;
}

bool qv_port_of(long long requested, std::int32_t *port) {
  if (requested > kMaxPort) return false;
  *port = requested >= 1 ? static_cast<std::int32_t>(requested) : kDefaultPort;
  return true;
}

namespace {

int fail(char *errbuf, std::size_t errsize, const char *message) {
  if (errbuf && errsize) std::snprintf(errbuf, errsize, "%s", message);
  return -1;
}

}  // namespace

int qv_conn_store(char *field, std::size_t fieldsize, const char *label, const char *value,
                  std::size_t len, char *errbuf, std::size_t errsize) {
  if (len >= fieldsize) {
    if (errbuf && errsize)
      std::snprintf(errbuf, errsize, "%s is longer than %zu bytes", label, fieldsize - 1);
    return -1;
  }
  if (std::memchr(value, '\0', len)) {
    if (errbuf && errsize) std::snprintf(errbuf, errsize, "%s contains U+0000", label);
    return -1;
  }
  std::memcpy(field, value, len);
  field[len] = '\0';
  return 0;
}

namespace {

// A string member stored whole into field; absent or not a string leaves the
// field empty.
int store_member(const qv_json_value &root, const char *key, char *field,
                 std::size_t fieldsize, char *errbuf, std::size_t errsize) {
  const qv_json_value *v = qv_json_member(root, key);
  if (!v || !v->IsString()) return 0;
  char label[32];
  std::snprintf(label, sizeof label, "conn_json.%s", key);
  return qv_conn_store(field, fieldsize, label, v->GetString(), v->GetStringLength(), errbuf,
                       errsize);
}

// The document's port: absent or null means the default; otherwise a whole
// number that fits 32 bits, read as qv_port_of reads it.
bool read_port(const qv_json_value &root, std::int32_t *port) {
  const qv_json_value *v = qv_json_member(root, "port");
  if (!v || v->IsNull()) return true;
  if (!v->IsInt()) return false;
  return qv_port_of(v->GetInt(), port);
}

// The document's database: absent, not a string or empty means none;
// anything else must be a legal name (which always fits the field).
int read_database(const qv_json_value &root, char *field) {
  const qv_json_value *v = qv_json_member(root, "database");
  if (!v || !v->IsString() || v->GetStringLength() == 0) return 0;
  std::string_view name(v->GetString(), v->GetStringLength());
  if (!qv_name_legal(name)) return -1;
  std::memcpy(field, name.data(), name.size());
  field[name.size()] = '\0';
  return 0;
}

}  // namespace

int qv_conn_parse(const char *conn_json, qv_conn *conn, char *errbuf, std::size_t errsize) {
  qv_conn_defaults(conn);
  if (!conn_json || !*conn_json) return fail(errbuf, errsize, "conn_json is required");
  qv_json_doc doc;
  if (!doc.parse(conn_json)) return fail(errbuf, errsize, "conn_json is not valid JSON");
  const qv_json_value &root = doc.root();
  if (!root.IsObject()) return fail(errbuf, errsize, "conn_json must be a JSON object");

  const char *host = qv_json_str(root, "host", nullptr);
  if (!host || !*host) return fail(errbuf, errsize, "conn_json.host is required");
  if (store_member(root, "host", conn->host, sizeof conn->host, errbuf, errsize) != 0) return -1;
  const char *user = qv_json_str(root, "user", nullptr);
  if (!user || !*user) return fail(errbuf, errsize, "conn_json.user is required");
  if (store_member(root, "user", conn->user, sizeof conn->user, errbuf, errsize) != 0) return -1;

  if (store_member(root, "password", conn->password, sizeof conn->password, errbuf, errsize) != 0 ||
      store_member(root, "tag", conn->tag, sizeof conn->tag, errbuf, errsize) != 0)
    return -1;
  if (const qv_json_value *app = qv_json_member(root, "app_name"); app && app->IsString()) {
    if (std::memchr(app->GetString(), '\0', app->GetStringLength()))
      return fail(errbuf, errsize, "conn_json.app_name contains U+0000");
    qv_copy_cut(conn->app_name, sizeof conn->app_name, app->GetString());
  }

  if (read_database(root, conn->database) != 0)
    return fail(errbuf, errsize, "conn_json.database is not a legal database name");
  if (!read_port(root, &conn->port)) return fail(errbuf, errsize, "conn_json.port is out of range");
  conn->timeout_s = qv_clamp_timeout(qv_json_int(root, "timeout_s", kDefaultTimeoutS));
  return 0;
}

int qv_conn_load(const char *conn_json, qv_conn *conn) {
  char errbuf[kConnErrSize];
  if (qv_conn_parse(conn_json, conn, errbuf, sizeof errbuf) == 0) return 0;
  qv_seterr("%s", errbuf);
  return -1;
}

const char *qv_pick_database(const char *arg, const qv_conn *conn) {
  if (arg && *arg) return arg;
  if (conn->database[0]) return conn->database;
  return "master";
}

}  // namespace qv::common
