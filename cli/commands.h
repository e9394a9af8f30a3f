// The subcommands of dbdesk, one per library operation.
#pragma once

#include <functional>
#include <string>

#include "connection.h"
#include "output.h"

namespace CLI {
class App;
}

// Everything the command line can set; the chosen subcommand fills `call`
// with the library call to make once parsing has succeeded.
struct command_line {
  conn_options conn;
  output_options out;
  std::string format = "json";
  std::string sql, file, kind, schema, object, action, arg, table, view;
  int spid = 0;
  int max_rows = 0;
  bool dry_run = false;
  bool encrypt = false;
  std::string output;          // query: -o FILE
  bool stop_on_error = false;  // query: -b
  int query_timeout = 0;       // query: 0 no limit
  bool format_given = false;   // --format was on the command line
  bool query_timeout_given = false;
  std::function<char *()> call;       // an operation: its reply is printed
  std::function<int()> run_plain;     // version: prints by itself
};

void add_commands(CLI::App &app, command_line &cl);
