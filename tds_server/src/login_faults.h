// What the server answers a login with when a connection fault is set:
// garbage in place of the PRELOGIN and LOGIN7 answers, and answers cut short.
#pragma once

#include "bytes.h"
#include "tds_server/server.h"

namespace tds::wire {

// An option table whose first option points past the answer's end.
Bytes garbage_prelogin_reply();
// A token type no TDS version defines, with a few bytes after it.
Bytes garbage_login_reply();
// Cuts a complete answer in the middle (inside its option table or a token).
void cut_in_half(Bytes &answer);

// GarbagePrelogin or TruncatedPrelogin: the connection ends after the answer.
bool garbles_prelogin(ConnectionFault f);
// Any fault at LOGIN7: the login never succeeds.
bool faults_login(ConnectionFault f);

}  // namespace tds::wire
