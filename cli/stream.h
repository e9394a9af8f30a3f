// dbdesk query on the library's streamed query: every event is written as it
// arrives, rows to the output in the chosen format, messages and row counts
// to the error stream.
#pragma once

#include <cstdio>
#include <string>

#include "output.h"

struct stream_settings {
  output_options out;
  bool stop_on_error = false;  // stop at the first error above severity 10
  int max_rows = 0;            // per result set; 0 no limit
  int timeout_s = 0;           // login and statement time-out; 0 no statement limit
};

// Where the rows go: `file` named `name` in messages ("standard output" or
// the --output path).
struct stream_target {
  std::FILE *file;
  std::string name;
};

// Runs `sql` and writes its events. Returns the exit status: 0 when every
// batch succeeded, 1 when a statement raised an error above severity 10, the
// call failed, or writing the output failed (said on `err`).
int stream_query(const std::string &conn_json, const char *database, const std::string &sql,
                 const stream_settings &s, const stream_target &out, std::FILE *err);
