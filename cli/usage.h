// A usage error: a bad option value, a file that cannot be read, a missing
// input. main() prints it as one line naming the --help to read and exits
// with status 2.
#pragma once

#include <stdexcept>
#include <string>

struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Exit statuses of dbdesk.
constexpr int kExitOk = 0;        // the reply says "ok": true
constexpr int kExitRefused = 1;   // the server or the operation said no
constexpr int kExitUsage = 2;     // the command line itself is wrong
