// Server sessions: db-lib initialisation, opening and closing.
// Internal header.
#pragma once

#include "exec/namespaces.h"

#include <memory>

#include <sybdb.h>

#include "common/conn.h"

namespace qv::exec {

// Sent once per session before the switch to its database. db-lib's login
// leaves the ANSI options off (it clears the ODBC flag), where the clients
// SQL Server users know have them on: off, strings are cut silently,
// overflows store NULL, edits of tables with filtered indexes, indexed views
// or indexed computed columns fail, and modules created from the query
// window keep the wrong settings. NOCOUNT OFF keeps row counts coming.
constexpr char kSessionSetUp[] =
    "SET ANSI_NULLS, ANSI_NULL_DFLT_ON, ANSI_PADDING, ANSI_WARNINGS, ARITHABORT, "
    "CONCAT_NULL_YIELDS_NULL, QUOTED_IDENTIFIER ON; SET NUMERIC_ROUNDABORT OFF; SET NOCOUNT OFF; "
    "SET TEXTSIZE 4194304";
constexpr char kClientHostName[] = "quorvex";
constexpr char kClientCharset[] = "UTF-8";
constexpr char kEncryptionRefused[] =
    "encryption was requested but db-lib cannot enforce it on this connection; "
    "require it in FreeTDS's configuration (encryption = require)";

int qv_dbinit_once();
// Opens a session on conn's server and switches to database (null or empty:
// the login's default). Null on failure, with the reason recorded.
DBPROCESS *qv_open(const qv_conn *conn, const char *database);
void qv_close(DBPROCESS *session);

struct qv_session_closer {
  void operator()(DBPROCESS *session) const { qv_close(session); }
};
// An open session that closes itself.
using qv_session = std::unique_ptr<DBPROCESS, qv_session_closer>;

// Sends sql and executes it: clears the command buffer, dbcmd, dbsqlexec.
// On failure records the reason ("dbcmd() failed", or "dbsqlexec() failed"
// when nothing more specific was recorded), cancels whatever the server
// still had pending so the session stays usable, and returns -1.
int qv_send(DBPROCESS *session, const char *sql);
// True when db-lib reports the session's connection as dead.
bool qv_session_dead(DBPROCESS *session);

}  // namespace qv::exec
