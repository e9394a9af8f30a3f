// The canned answers qv-tds-server registers for demos.
#pragma once

#include <cstddef>

#include "tds_server/server.h"

namespace tds::demo {

// sys.databases, PRINT, a row count, SELECT 1 AS n.
void register_demo(Server &server);
// The sample catalog's answers, one function per area of the library
// (each registered by register_demo).
void register_tree_demo(Server &server);
void register_scripting_demo(Server &server);
void register_editgrid_demo(Server &server);
void register_admin_demo(Server &server);

}  // namespace tds::demo
