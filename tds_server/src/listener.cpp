#include "listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "connection.h"

namespace tds::detail {
namespace {

[[noreturn]] void fail(const std::string &what) {
  throw std::runtime_error("tds_server: " + what + ": " + std::strerror(errno));
}

int listen_on_loopback(std::uint16_t port, std::uint16_t &bound) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("socket");
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 128) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    fail("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
  bound = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

void Listener::start(std::uint16_t port) {
  if (running_) throw std::logic_error("tds_server: already started");
  std::uint16_t bound = 0;
  listen_fd_ = listen_on_loopback(port, bound);
  if (::pipe2(wake_fds_, O_CLOEXEC) != 0) {
    ::close(listen_fd_);
    fail("pipe");
  }
  port_ = bound;
  {
    std::lock_guard lock(mu_);
    stopping_ = false;
  }
  running_ = true;
  accept_thread_ = std::thread([this] { accept_loop(); });
}

void Listener::stop() {
  if (!running_) return;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  const char wake = 1;
  (void)!::write(wake_fds_[1], &wake, 1);
  accept_thread_.join();
  ::close(listen_fd_);
  ::close(wake_fds_[0]);
  ::close(wake_fds_[1]);
  listen_fd_ = wake_fds_[0] = wake_fds_[1] = -1;
  std::list<std::unique_ptr<Conn>> conns;
  {
    // Shutting a socket down wakes its thread from recv/poll; the thread
    // closes the descriptor itself, so none is closed twice or reused.
    std::lock_guard lock(mu_);
    for (auto &c : conns_) {
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
    conns.swap(conns_);
  }
  for (auto &c : conns) c->thread.join();
  running_ = false;
}

void Listener::accept_loop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    reap_finished();
    std::lock_guard lock(mu_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    auto conn = std::make_unique<Conn>();
    conn->fd = fd;
    Conn &ref = *conn;
    ++open_;
    conns_.push_back(std::move(conn));
    const int spid = state_.take_spid();
    ref.thread = std::thread([this, &ref, spid] { serve(ref, spid); });
  }
}

void Listener::serve(Conn &conn, int spid) {
  Connection(conn.fd, spid, state_).run();
  {
    std::lock_guard lock(mu_);
    ::close(conn.fd);
    conn.fd = -1;
    --open_;
  }
  open_changed_.notify_all();
  conn.finished = true;
}

void Listener::reap_finished() {
  std::list<std::unique_ptr<Conn>> done;
  {
    std::lock_guard lock(mu_);
    for (auto it = conns_.begin(); it != conns_.end();) {
      auto next = std::next(it);
      if ((*it)->finished) done.splice(done.end(), conns_, it);
      it = next;
    }
  }
  for (auto &c : done) c->thread.join();
}

int Listener::open_connections() const {
  std::lock_guard lock(mu_);
  return open_;
}

bool Listener::wait_for_open_connections(int n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  return open_changed_.wait_for(lock, timeout, [&] { return open_ == n; });
}

}  // namespace tds::detail
