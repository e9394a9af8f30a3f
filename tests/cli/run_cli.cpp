#include "run_cli.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qvtest {

namespace {

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// One directory per test process, removed when the process ends.
struct scratch_dir {
  std::string path;
  scratch_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "dbdesk-cli-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~scratch_dir() { std::filesystem::remove_all(path); }
};

const std::string &temp_dir() {
  static const scratch_dir dir;
  return dir.path;
}

[[noreturn]] void exec_child(const std::vector<std::string> &args, const std::string &in,
                             const std::string &out, const std::string &err,
                             const std::map<std::string, std::string> &env) {
  int fd_in = open(in.c_str(), O_RDONLY), fd_out = creat(out.c_str(), 0600),
      fd_err = creat(err.c_str(), 0600);
  dup2(fd_in, 0);
  dup2(fd_out, 1);
  dup2(fd_err, 2);
  for (const auto &[k, v] : env) {
    if (v.empty()) unsetenv(k.c_str());
    else setenv(k.c_str(), v.c_str(), 1);
  }
  std::vector<char *> argv{const_cast<char *>(QV_DBDESK_PATH)};
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(QV_DBDESK_PATH, argv.data());
  _exit(127);
}

}  // namespace

std::string temp_file(const std::string &name, const std::string &text) {
  std::string path = temp_dir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

cli_result run_cli(const std::vector<std::string> &args, const std::string &stdin_text,
                   const std::map<std::string, std::string> &env) {
  const std::string in = temp_file("stdin", stdin_text), out = temp_dir() + "/stdout",
                    err = temp_dir() + "/stderr";
  pid_t pid = fork();
  if (pid == 0) exec_child(args, in, out, err, env);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  cli_result r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

}  // namespace qvtest
