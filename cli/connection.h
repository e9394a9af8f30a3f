// Connection settings from the command line: a connection document given
// with --conn (a file, or the JSON text itself), members of which the single
// flags replace (-S host[,port] or --host and --port). What neither gives
// comes from DBDESK_SERVER (host[,port]), DBDESK_USER and DBDESK_DATABASE.
// The password never comes from the command line: it is taken from
// DBDESK_PASSWORD, else from a --conn file, else asked for on the terminal
// without echo; without a terminal it is a usage error naming
// DBDESK_PASSWORD.
#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

struct conn_options {
  std::string conn;  // --conn FILE|JSON
  std::optional<std::string> server;  // -S host[,port]
  std::optional<std::string> host, user, database, app_name;
  std::optional<int> port, timeout;
};

// The fields connect-test takes as separate arguments.
struct conn_fields {
  std::string host, user, password, database;
  int port = 0;
  int timeout = 0;
};

// Adds --conn, -S/--server, --host, --port, --user, --database, --app-name, --timeout.
void add_conn_options(CLI::App &cmd, conn_options &o);

// The connection document to hand to the library, compact JSON. Throws
// usage_error for an unreadable file, text that is not a JSON object, or an
// inline document carrying a password.
std::string conn_document(const conn_options &o);

// `conn_json` (a document conn_document wrote) with its "tag" member set to
// `tag`: dbdesk_core_cancel(tag) then stops the calls made with it.
std::string with_tag(const std::string &conn_json, const std::string &tag);

// The same settings as separate fields.
conn_fields conn_fields_of(const conn_options &o);
