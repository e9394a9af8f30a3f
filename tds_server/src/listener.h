// The listening socket and the threads behind it: one accept thread, one
// thread per connection, all joined by stop().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "server_state.h"

namespace tds::detail {

class Listener {
 public:
  explicit Listener(ServerState &state) : state_(state) {}
  ~Listener() { stop(); }

  void start(std::uint16_t port);  // throws std::runtime_error
  void stop();
  std::uint16_t port() const { return port_.load(); }

  int open_connections() const;
  bool wait_for_open_connections(int n, std::chrono::milliseconds timeout) const;

 private:
  struct Conn {
    int fd = -1;  // -1 once the connection thread closed it
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void accept_loop();
  void serve(Conn &conn, int spid);
  void reap_finished();  // joins threads of finished connections

  ServerState &state_;
  std::atomic<std::uint16_t> port_{0};
  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};
  std::thread accept_thread_;
  bool running_ = false;

  mutable std::mutex mu_;
  mutable std::condition_variable open_changed_;
  std::list<std::unique_ptr<Conn>> conns_;
  int open_ = 0;
  bool stopping_ = false;
};

}  // namespace tds::detail
