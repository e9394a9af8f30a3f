// Connection settings and the connection document that carries them.
// Internal header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::common {

constexpr std::int32_t kDefaultPort = 1433;
constexpr std::int32_t kDefaultTimeoutS = 10;
constexpr std::int32_t kMaxTimeoutS = 120;
constexpr char kDefaultAppName[] = "quorvex-dbdesk-core";
constexpr std::size_t kConnErrSize = 512;  // size of the parser's message buffer
// Longest values passed whole: db-lib's login fields hold 128 bytes, a host
// name 255. Longer values are refused, never cut.
constexpr std::size_t kMaxLoginFieldBytes = 128;
constexpr std::size_t kMaxHostBytes = 255;
// A database name is a sysname (128 UTF-16 code units, at most 3 UTF-8 bytes
// each); one past the login field is opened by the switch after login.
constexpr std::size_t kMaxDatabaseBytes = 384;
constexpr std::int32_t kMaxPort = 65535;
constexpr std::size_t kMaxTagBytes = 128;  // the optional "tag" calls are cancelled by

struct qv_conn {
  char host[kMaxHostBytes + 1];
  std::int32_t port;
  char user[kMaxLoginFieldBytes + 1];
  char password[kMaxLoginFieldBytes + 1];
  char database[kMaxDatabaseBytes + 1];
  std::int32_t encrypt;
  std::int32_t timeout_s;
  char app_name[64];
  char tag[kMaxTagBytes + 1];  // empty: the call cannot be cancelled by tag
};

// A qv_conn that wipes its password when it goes out of scope.
struct qv_scoped_conn : qv_conn {
  qv_scoped_conn();
  ~qv_scoped_conn();
  qv_scoped_conn(const qv_scoped_conn &) = delete;
  qv_scoped_conn &operator=(const qv_scoped_conn &) = delete;
};

void qv_conn_defaults(qv_conn *conn);
// Parses conn_json into conn; on failure writes the reason into errbuf and
// returns -1.
int qv_conn_parse(const char *conn_json, qv_conn *conn, char *errbuf, std::size_t errsize);
// Stores a connection value of len bytes into field (fieldsize bytes, so at
// most fieldsize - 1 bytes of value). A longer value, or one holding U+0000,
// is refused with "<label> is longer than N bytes" / "<label> contains
// U+0000" in errbuf and -1.
int qv_conn_store(char *field, std::size_t fieldsize, const char *label, const char *value,
                  std::size_t len, char *errbuf, std::size_t errsize);
// 10 below 1, 120 above 120, else the value.
std::int32_t qv_clamp_timeout(std::int32_t timeout_s);
// The port a requested value means: 0 or below the default 1433, 1 to 65535
// itself; false for anything larger (db-lib would wrap it into another
// port).
bool qv_port_of(long long requested, std::int32_t *port);

// Parses conn_json; on failure records the parser's message and returns -1.
int qv_conn_load(const char *conn_json, qv_conn *conn);
// The database an operation works in: arg when non-empty, else the
// document's database, else "master".
const char *qv_pick_database(const char *arg, const qv_conn *conn);

}  // namespace qv::common
