#include "interrupt.h"

#include <unistd.h>

#include <cerrno>

#include "quorvex/dbdesk_core.h"

namespace {

// The write end of the running guard's pipe; -1 when none is running.
volatile std::sig_atomic_t g_wake_fd = -1;

extern "C" void on_sigint(int) {
  const int saved = errno;
  if (g_wake_fd >= 0) {
    const char c = 'i';
    [[maybe_unused]] ssize_t n = write(g_wake_fd, &c, 1);
  }
  errno = saved;
}

}  // namespace

std::string new_run_tag() {
  static int counter = 0;
  return "dbdesk-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

interrupt_guard::interrupt_guard(std::string tag) : tag_(std::move(tag)) {
  if (pipe(pipe_) != 0) return;
  watcher_ = std::thread([this] { watch(); });
  g_wake_fd = pipe_[1];
  struct sigaction sa {};
  sa.sa_handler = on_sigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, &previous_);
}

interrupt_guard::~interrupt_guard() {
  if (pipe_[0] < 0) return;
  sigaction(SIGINT, &previous_, nullptr);
  g_wake_fd = -1;
  const char quit = 'q';
  [[maybe_unused]] ssize_t n = write(pipe_[1], &quit, 1);
  watcher_.join();
  close(pipe_[0]);
  close(pipe_[1]);
}

void interrupt_guard::watch() {
  char c = 0;
  while (true) {
    const ssize_t n = read(pipe_[0], &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == 'q') return;
    interrupted_ = true;
    dbdesk_core_free(dbdesk_core_cancel(tag_.c_str()));
  }
}
