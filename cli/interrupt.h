// Ctrl-C while a query runs: SIGINT asks the library to cancel the calls
// running under this run's tag, and the call returns as a cancelled one.
#pragma once

#include <atomic>
#include <csignal>
#include <string>
#include <thread>

// A tag no other run of dbdesk shares: the process id and a counter.
std::string new_run_tag();

// While it lives, SIGINT does not end the process: a watcher thread (woken
// through a pipe by the handler, which may call nothing else) calls
// dbdesk_core_cancel(tag). The previous handler comes back afterwards.
class interrupt_guard {
 public:
  explicit interrupt_guard(std::string tag);
  ~interrupt_guard();
  interrupt_guard(const interrupt_guard &) = delete;
  interrupt_guard &operator=(const interrupt_guard &) = delete;
  bool interrupted() const { return interrupted_; }

 private:
  void watch();
  std::string tag_;
  int pipe_[2] = {-1, -1};
  struct sigaction previous_ {};
  std::atomic<bool> interrupted_{false};
  std::thread watcher_;
};

// The exit status of a run stopped with Ctrl-C.
constexpr int kExitInterrupted = 130;
