// The demo server's answers for the dbdesk tour and the FFI examples.
#pragma once

#include "tds_server/server.h"

namespace tds::demo {

// KILL of session 77, and demo.dbo.accounts: a bigint key beyond 2^53 and a
// decimal(38,10) balance, read whole and then by key.
void register_cli_demo(Server &server);

}  // namespace tds::demo
