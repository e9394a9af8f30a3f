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

// dbdesk running in the background, its standard output and error on pipes
// the test reads while it runs (standard input empty).
class cli_process {
 public:
  cli_process(const std::vector<std::string> &args, const std::map<std::string, std::string> &env = {});
  ~cli_process();
  cli_process(const cli_process &) = delete;
  cli_process &operator=(const cli_process &) = delete;
  int pid() const { return pid_; }
  // Reads until `out` holds `out_part` and `err` holds `err_part`; false
  // when the process closed its output first or 20 s went by.
  bool read_until(const std::string &out_part, const std::string &err_part);
  bool running();
  // Reads the rest and waits for the exit; the status as cli_result's.
  cli_result finish();
  std::string out, err;

 private:
  bool read_some(int timeout_ms);
  int pid_ = -1, out_fd_ = -1, err_fd_ = -1;
  bool out_open_ = true, err_open_ = true;
};

// A file under the test's temporary directory holding `text`.
std::string temp_file(const std::string &name, const std::string &text);

// The whole content of the file at `path` (empty when it cannot be read).
std::string file_text(const std::string &path);

}  // namespace qvtest
