// Runs the dbdesk executable as a child process with the given arguments,
// standard input and environment changes, and collects what it printed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qvtest {

struct cli_result {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out, err;
};

// `env` entries are set for the child; an empty value removes the variable.
cli_result run_cli(const std::vector<std::string> &args, const std::string &stdin_text = "",
                   const std::map<std::string, std::string> &env = {});

// A file under the test's temporary directory holding `text`.
std::string temp_file(const std::string &name, const std::string &text);

}  // namespace qvtest
