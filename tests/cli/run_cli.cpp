#include "run_cli.h"

#include <fcntl.h>
#include <poll.h>
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

// In the child: standard input, output and error on the given descriptors,
// the environment changed as asked, then dbdesk itself. There is no
// controlling terminal: nothing can be asked on one.
[[noreturn]] void exec_dbdesk(const std::vector<std::string> &args, int in, int out, int err,
                              const std::map<std::string, std::string> &env) {
  setsid();
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
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

std::string file_text(const std::string &path) { return slurp(path); }

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
  if (pid == 0)
    exec_dbdesk(args, open(in.c_str(), O_RDONLY), creat(out.c_str(), 0600), creat(err.c_str(), 0600),
                env);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  cli_result r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

cli_process::cli_process(const std::vector<std::string> &args, const std::map<std::string, std::string> &env) {
  int o[2], e[2];
  if (pipe(o) != 0 || pipe(e) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(o[0]);
    close(e[0]);
    exec_dbdesk(args, open("/dev/null", O_RDONLY), o[1], e[1], env);
  }
  close(o[1]);
  close(e[1]);
  out_fd_ = o[0];
  err_fd_ = e[0];
}

cli_process::~cli_process() {
  if (pid_ > 0) finish();
}

bool cli_process::read_some(int timeout_ms) {
  pollfd fds[2] = {{out_open_ ? out_fd_ : -1, POLLIN, 0}, {err_open_ ? err_fd_ : -1, POLLIN, 0}};
  if (poll(fds, 2, timeout_ms) <= 0) return false;
  char buf[4096];
  for (int i = 0; i < 2; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
    const ssize_t n = read(fds[i].fd, buf, sizeof buf);
    if (n <= 0) (i ? err_open_ : out_open_) = false;
    else (i ? err : out).append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

bool cli_process::read_until(const std::string &out_part, const std::string &err_part) {
  for (int waited = 0; waited < 200; ++waited) {
    if (out.find(out_part) != std::string::npos && err.find(err_part) != std::string::npos) return true;
    if (!out_open_ && !err_open_) return false;
    read_some(100);
  }
  return false;
}

bool cli_process::running() {
  siginfo_t info{};
  return pid_ > 0 && waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

cli_result cli_process::finish() {
  while (out_open_ || err_open_) read_some(1000);
  cli_result r;
  int wstatus = 0;
  if (pid_ > 0 && waitpid(pid_, &wstatus, 0) == pid_) r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  pid_ = -1;
  close(out_fd_);
  close(err_fd_);
  r.out = out;
  r.err = err;
  return r;
}

}  // namespace qvtest
