// The answers the server gives on its own when no handler matches a batch:
// USE, batches of SET options, SELECT @@version, SELECT DB_NAME(), and an error for
// anything else so a test notices an unscripted batch.
#pragma once

#include <optional>
#include <string>

#include "server_state.h"

namespace tds::detail {

struct BuiltinAnswer {
  Reply reply;
  // Set when the batch switched databases: the ENVCHANGE goes out first.
  std::optional<std::string> new_database;
};

// `current_database` is the session's database before the batch.
BuiltinAnswer builtin_answer(const std::string &sql, const std::string &current_database,
                             const ServerState &state);

// A `use` target as dbuse writes it: "[Sales]" -> Sales, "]]" -> "]".
std::optional<std::string> parse_use(const std::string &sql);

}  // namespace tds::detail
